// The words of the report mail: its subject and its text, made from the names of the files it
// carries and the date of the run. The names are read as the report writers make them (which
// report, and for a daily one its date); the weekly and monthly reports cover the periods of
// their statistics (the week from its Sunday up to the run's day, the month before the run's).
// A pure function of its inputs, so a mail sent again later keeps the words it was first built
// with. Nothing here fails: a name that is no report's is listed as an other file.
#pragma once

#include <string>
#include <vector>

struct ReportMailText {
    std::string subject;
    std::string body;  // ASCII, lines ending in "\n"
};

// fileNames: the attachments' file names (no directory), in the mail's order; day, month and
// year: the run's local date.
ReportMailText ComposeReportMail(const std::vector<std::string>& fileNames, int day, int month,
                                 int year);

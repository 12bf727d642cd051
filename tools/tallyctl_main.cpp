// tallyctl, the administrator's tool: one program, one subcommand per job.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/alerts_command.h"
#include "tools/cycle_command.h"
#include "tools/html_command.h"
#include "tools/mail_command.h"
#include "tools/reg_command.h"
#include "tools/report_command.h"
#include "tools/show_command.h"
#include "tools/simulate_command.h"
#include "tools/sink_command.h"
#include "tools/smtp_command.h"

namespace {

struct Command {
    const char* name;
    int (*run)(const std::vector<std::string>&);
    const char* help;
};

int RunHelp(const std::vector<std::string>&);

const Command kCommands[] = {
    {"reg", &RunRegCommand,
     "add|query|delete|import|export   the settings, with the syntax of Windows' reg"},
    {"cycle", &RunCycleCommand,
     "[--at \"YYYY-MM-DD HH:MM:SS\"] [--no-pause] [--cycles N]   run aggregation cycles"},
    {"show", &RunShowCommand, "[DIR]   print an installation's summary files as tables"},
    {"html", &RunHtmlCommand, "[DIR] [--out FILE]   the summary files as one page with charts"},
    {"simulate", &RunSimulateCommand,
     "--app DIR [--days N] [--clients N] [--seed N] [--until YYYY-MM-DD]   write a demo "
     "installation as the proxy would"},
    {"smtp", &RunSmtpCommand, "set ... | show | oauth ...   the mail settings"},
    {"mail", &RunMailCommand,
     "queue | failed | retry ID|--all | drop ID   report mails not sent yet or failed"},
    {"report", &RunReportCommand,
     "set [--format xml|xml+html] [--dashboard 0|1] [--style-url URL] | show   report output"},
    {"sink", &RunSinkCommand,
     "--out DIR [--port N] [--port-file F] [--count K] [--timeout S]   take mail on 127.0.0.1 "
     "and save each message as DIR/mail-<n>.eml"},
    {"alerts", &RunAlertsCommand,
     "set [--daily-mb N] [--spike-factor K] [--filters LIST] ... | show | test   alert rules"},
    {"help", &RunHelp, "   this list"},
};

int RunHelp(const std::vector<std::string>&) {
    std::printf("usage: tallyctl COMMAND [ARGS]\n\ncommands:\n");
    for (const Command& c : kCommands) {
        std::printf("  %-9s %s\n", c.name, c.help);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        RunHelp({});
        return 2;
    }
    std::vector<std::string> args(argv + 2, argv + argc);
    for (const Command& c : kCommands) {
        if (std::strcmp(argv[1], c.name) == 0) {
            return c.run(args);
        }
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        return RunHelp({});
    }
    std::fprintf(stderr, "tallyctl: unknown command '%s' (see 'tallyctl help')\n", argv[1]);
    return 2;
}

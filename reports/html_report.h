// The HTML twin of a report: the same records as its XML document, laid out for people. A
// traffic report shows its clients as the XML lists them, their total and a chart of the
// largest; a filter report shows every event, and charts of the events per filter category
// and per client. Charts summarise (the largest entries and one "other" bar); tables are
// complete. Rendering never fails.
#pragma once

#include <string>

#include "reports/report_content.h"

namespace reports {

std::string RenderHtmlReport(const ReportContent& content);

}  // namespace reports

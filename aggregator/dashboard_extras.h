// What the dashboard shows beside the summary files: the user names of the clients, when the
// installation has a user list, and the alerts of today, when alerts are on or have fired.
// Nothing here fails: what cannot be read is left out.
#pragma once

#include <ctime>
#include <string>

#include "reports/html_dashboard.h"
#include "stats/log_context.h"

reports::DashboardExtras DashboardExtrasFor(const stats::LogContext& ctx,
                                            const std::string& alertStatePath, std::time_t now);

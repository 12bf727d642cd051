// Report gates, read afresh on every call so a change in the registry shows at the next run.
#include "reports/report_gate.h"

#include "common/layout.h"
#include "common/registry_value.h"

namespace reports {

bool ReportEnabled(const char* name) {
    RegistryDword gate(layout::SettingPath(name), 0);
    return gate.Get() == 1;
}

}  // namespace reports

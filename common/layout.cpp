// Paths of the installation's settings and files; see layout.h.
#include "common/layout.h"

namespace layout {

std::string SettingPath(std::string_view name) {
    std::string path = "\\";
    path += kSettingsKey;
    path += '\\';
    path += name;
    return path;
}

std::string InLogsFolder(std::string_view name) {
    std::string path = "\\";
    path += kLogsFolder;
    path += name;
    return path;
}

}  // namespace layout

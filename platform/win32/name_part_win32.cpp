// Unsafe name parts on Windows: both separators, and ":" (a drive or an alternate stream).
#include "platform/name_part.h"

namespace platform {

bool IsSafeNamePart(std::string_view part) {
    return part != ".." && part.find_first_of("/\\:") == std::string_view::npos;
}

}  // namespace platform

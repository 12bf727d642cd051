// Unsafe name parts on POSIX: only what a path could climb or split on. "\" is kept out too:
// the system's own paths use it as a separator literal that becomes "/".
#include "platform/name_part.h"

namespace platform {

bool IsSafeNamePart(std::string_view part) {
    return part != ".." && part.find_first_of("/\\") == std::string_view::npos;
}

}  // namespace platform

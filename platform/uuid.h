// Fresh UUIDs as text, for MIME boundaries: the 36-character form (8-4-4-4-12 lower-case
// hexadecimal digits). Windows: UuidCreate and UuidToStringA; elsewhere a random version-4
// UUID from the system's random source. Returns an empty text only if no UUID can be made.
#pragma once

#include <string>

namespace platform {

std::string NewUuidText();

}  // namespace platform

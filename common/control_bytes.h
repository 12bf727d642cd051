// Text from outside (a log's key or file name, a stored setting) made safe to print on a
// terminal or in a log line: every control byte (0x00 to 0x1F and 0x7F) is written as \xNN,
// so a hostile text can neither move the cursor, colour the screen nor start a false line.
// Every other byte, 8-bit text included, is kept as it is; the result is for reading, not
// for turning back into the original. Nothing here fails.
#pragma once

#include <string>
#include <string_view>

std::string EscapeControlBytes(std::string_view text);

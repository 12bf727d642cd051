// Control bytes made printable: each one escaped, everything else left as it is.
#include "common/control_bytes.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ControlBytes, EscapesEachControlByteAndNothingElse) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"10.0.0.5", "10.0.0.5"},
        {"", ""},
        {"a\x1b[31mb", "a\\x1B[31mb"},  // a terminal colour
        {"one\r\ntwo", "one\\x0D\\x0Atwo"},
        {std::string("n\0l", 3), "n\\x00l"},
        {"\t\x7f\x1f", "\\x09\\x7F\\x1F"},
        {"Jos\xe9 \x80 \xff", "Jos\xe9 \x80 \xff"},  // 8-bit text stays as it is
        {"C:\\Brisko\\", "C:\\Brisko\\"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EscapeControlBytes(c.in), c.out) << c.out;
    }
}

}  // namespace

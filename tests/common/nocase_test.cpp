// The case-insensitive compare that orders every listing: it must agree with a plain
// byte-by-byte fold whatever the length and wherever names first differ, since the log
// index looks names up in the order the listing was sorted in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/nocase.h"

namespace {

int Reference(const std::string& a, const std::string& b) {
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        const auto x = static_cast<unsigned char>(platform::FoldCase(a[i]));
        const auto y = static_cast<unsigned char>(platform::FoldCase(b[i]));
        if (x != y) {
            return x < y ? -1 : 1;
        }
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

int Sign(int v) {
    return (v > 0) - (v < 0);
}

TEST(NoCase, CompareAgreesWithAByteByByteFold) {
    const std::vector<std::string> names = {
        "",
        "a",
        "A",
        "31_12_2026_192.168.10.1",
        "31_12_2026_192.168.10.10",
        "31_12_2026_192.168.10.2",
        "31_12_2026_HOST-a",
        "31_12_2026_host-B",
        "31_12_2026_host-b",
        "Filter_31_12_2026.log",
        "filter_31_12_2026.LOG",
        "Filter_31_12_2026.log.bak",
        std::string("31_12_2026_\xE9t\xE9", 15),  // bytes above 0x7F order after ASCII
        "31_12_2026_[x]",                         // '[' lies between 'Z' and 'a'
        "abcdefghABCDEFGHabcdefgh1",
        "ABCDEFGHabcdefghABCDEFGH2",
    };
    for (const std::string& a : names) {
        for (const std::string& b : names) {
            SCOPED_TRACE(a + " | " + b);
            EXPECT_EQ(Sign(platform::CompareNoCase(a, b)), Reference(a, b));
            EXPECT_EQ(platform::LessNoCase(a, b), Reference(a, b) < 0);
            EXPECT_EQ(platform::EqualNoCase(a, b), Reference(a, b) == 0);
        }
    }
}

}  // namespace

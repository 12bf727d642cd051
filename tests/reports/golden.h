// Golden files: the expected bytes of a document live in tests/reports/golden/ beside the
// tests, so a reviewer reads them as they are. ExpectGolden compares a document with its file
// and reports the first difference; with TALLY_UPDATE_GOLDEN=1 in the environment it writes
// the document as the new golden file instead (review the diff before committing it).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace golden {

// The folder beside this header, wherever the sources are.
inline std::string Directory() {
    return std::string(TALLY_TEST_SOURCE_DIR) + "/reports/golden/";
}

inline std::string Read(const std::string& name) {
    std::ifstream in(Directory() + name, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

inline std::string Visible(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

inline void ExpectGolden(const std::string& name, const std::string& actual) {
    const char* update = std::getenv("TALLY_UPDATE_GOLDEN");
    if (update != nullptr && std::string(update) == "1") {
        std::ofstream(Directory() + name, std::ios::binary | std::ios::trunc) << actual;
        return;
    }
    std::ifstream probe(Directory() + name, std::ios::binary);
    ASSERT_TRUE(probe.good()) << "no golden file " << Directory() + name;
    const std::string expected = Read(name);
    if (expected == actual) {
        return;
    }
    const std::size_t at =
        std::mismatch(expected.begin(), expected.end(), actual.begin(), actual.end()).first -
        expected.begin();
    const std::size_t from = at < 40 ? 0 : at - 40;
    ADD_FAILURE() << name << " differs at byte " << at << " (golden " << expected.size()
                  << " bytes, actual " << actual.size() << ")\n  golden: ..."
                  << Visible(expected.substr(from, 100)) << "\n  actual: ..."
                  << Visible(actual.substr(from, 100));
}

}  // namespace golden

// The permission bits of a path as lstat gives them, for the POSIX tests of who may read what.
#pragma once

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string>

namespace testing_support {

inline unsigned ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    return static_cast<unsigned>(st.st_mode & 07777);
}

}  // namespace testing_support

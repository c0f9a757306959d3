// Where the tests find the real-world tokens (docs/testing.md, "The real-world tokens").
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

namespace zorbelu::testdata {

inline std::string RealWorldDir() {
    const char* fromEnvironment = std::getenv("ZORBELU_TESTDATA_DIR");
    return fromEnvironment != nullptr && *fromEnvironment != '\0' ? fromEnvironment : ZORBELU_TESTDATA_DIR;
}

inline std::string RealWorldPath(const std::string& relative) { return RealWorldDir() + "/" + relative; }

inline std::string RealWorldDataMissing() {
    struct stat info {};
    const std::string dir = RealWorldDir();
    if (::stat(dir.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return "";
    return "real-world test data not found at " + dir +
           "; set ZORBELU_TESTDATA_DIR (environment, or cmake -DZORBELU_TESTDATA_DIR=...) to its folder";
}

inline bool RunningInCi() {
    const std::string ci = std::getenv("CI") != nullptr ? std::getenv("CI") : "";
    return !ci.empty() && ci != "0" && ci != "false";
}

}  // namespace zorbelu::testdata

#define ZORBELU_NEEDS_REAL_WORLD_DATA()                                                        \
    do {                                                                                       \
        if (const std::string missing = ::zorbelu::testdata::RealWorldDataMissing();           \
            !missing.empty()) {                                                                \
            if (::zorbelu::testdata::RunningInCi()) FAIL() << missing << " (required under CI)"; \
            GTEST_SKIP() << missing;                                                           \
        }                                                                                      \
    } while (0)

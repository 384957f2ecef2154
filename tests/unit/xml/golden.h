// Golden files of the XML answers: tests/golden/xml/<name>, compared byte for byte
// (the answers use CR LF line ends). Run a suite with CEBRIDGE_UPDATE_GOLDEN=1 to
// rewrite the files from what the code produces, then review the diff.
#ifndef CEBRIDGE_TESTS_UNIT_XML_GOLDEN_H
#define CEBRIDGE_TESTS_UNIT_XML_GOLDEN_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/phone_copy.h"

namespace golden {

// Fills a record's fixed text field, cut to fit and terminated.
template <size_t N>
void Put(char (&field)[N], const char *text) {
    std::snprintf(field, N, "%s", text);
}

inline std::filesystem::path XmlGoldenPath(const std::string &name) {
    return std::filesystem::path(CEBRIDGE_TEST_SOURCE_DIR) / "tests" / "golden" / "xml" / name;
}

// A short excerpt with the line ends made visible.
inline std::string Visible(const std::string &text, size_t at) {
    const size_t start = at > 30 ? at - 30 : 0;
    std::string shown;
    for (char c : text.substr(start, 60)) {
        if (c == '\r')
            shown += "\\r";
        else if (c == '\n')
            shown += "\\n";
        else
            shown += c;
    }
    return shown;
}

inline ::testing::AssertionResult MatchesGolden(const std::string &actual, const std::string &name) {
    const std::filesystem::path path = XmlGoldenPath(name);
    if (std::getenv("CEBRIDGE_UPDATE_GOLDEN") != nullptr) {
        WriteFileText(path, actual);
        return ::testing::AssertionSuccess() << "rewrote " << path;
    }
    if (!std::filesystem::exists(path)) return ::testing::AssertionFailure() << "no golden file " << path;
    const std::string expected = ReadFileText(path);
    if (actual == expected) return ::testing::AssertionSuccess();
    const size_t at = static_cast<size_t>(
        std::mismatch(expected.begin(), expected.end(), actual.begin(), actual.end()).first - expected.begin());
    return ::testing::AssertionFailure() << name << " differs at byte " << at << " (expected " << expected.size()
                                         << " bytes, got " << actual.size() << ")\n  expected: ..."
                                         << Visible(expected, at) << "\n  actual:   ..." << Visible(actual, at);
}

}  // namespace golden

#endif  // CEBRIDGE_TESTS_UNIT_XML_GOLDEN_H

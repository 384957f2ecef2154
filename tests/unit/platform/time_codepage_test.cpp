// Calendar conversions and the ANSI code page.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "support/phone_copy.h"
#include "support/scoped_time_zone.h"

namespace {

using platform::SystemTime;

constexpr uint64_t kUnixEpochFileTime = UINT64_C(116444736000000000);
constexpr uint64_t kTicksPerSecond = 10000000;

SystemTime Time(uint16_t year, uint16_t month, uint16_t day, uint16_t hour, uint16_t minute, uint16_t second,
                uint16_t milliseconds = 0) {
    return SystemTime{year, month, 0, day, hour, minute, second, milliseconds};
}

void ExpectSameMoment(const SystemTime &actual, const SystemTime &expected) {
    EXPECT_EQ(actual.year, expected.year);
    EXPECT_EQ(actual.month, expected.month);
    EXPECT_EQ(actual.day, expected.day);
    EXPECT_EQ(actual.hour, expected.hour);
    EXPECT_EQ(actual.minute, expected.minute);
    EXPECT_EQ(actual.second, expected.second);
    EXPECT_EQ(actual.milliseconds, expected.milliseconds);
}

TEST(FileTime, BrokenDownFormsAndBack) {
    SystemTime time{};
    ASSERT_TRUE(platform::FileTimeToSystemTime(0, &time));
    ExpectSameMoment(time, Time(1601, 1, 1, 0, 0, 0));
    EXPECT_EQ(time.dayOfWeek, 1);  // a Monday
    ASSERT_TRUE(platform::FileTimeToSystemTime(kUnixEpochFileTime, &time));
    ExpectSameMoment(time, Time(1970, 1, 1, 0, 0, 0));
    EXPECT_EQ(time.dayOfWeek, 4);

    for (const SystemTime &moment : {Time(2024, 2, 29, 12, 34, 56, 789), Time(1999, 12, 31, 23, 59, 59, 999),
                                     Time(2100, 3, 1, 0, 0, 0), Time(30827, 12, 31, 23, 59, 59, 999)}) {
        uint64_t fileTime = 0;
        ASSERT_TRUE(platform::SystemTimeToFileTime(moment, &fileTime));
        SystemTime back{};
        ASSERT_TRUE(platform::FileTimeToSystemTime(fileTime, &back));
        ExpectSameMoment(back, moment);
    }
    uint64_t fileTime = 0;
    ASSERT_TRUE(platform::SystemTimeToFileTime(Time(2024, 2, 29, 12, 34, 56, 789), &fileTime));
    EXPECT_EQ(fileTime, kUnixEpochFileTime + UINT64_C(1709210096) * kTicksPerSecond + 7890000);

    for (const SystemTime &invalid :
         {Time(2023, 0, 1, 0, 0, 0), Time(2023, 2, 29, 0, 0, 0), Time(1600, 12, 31, 0, 0, 0),
          Time(2023, 1, 1, 24, 0, 0), Time(2023, 13, 1, 0, 0, 0)})
        EXPECT_FALSE(platform::SystemTimeToFileTime(invalid, &fileTime))
            << invalid.year << "-" << invalid.month << "-" << invalid.day << " " << invalid.hour;
    EXPECT_FALSE(platform::FileTimeToSystemTime(UINT64_C(0x8000000000000000), &time));
}

#ifndef _WIN32  // the Windows half follows the PC's own zone settings, not TZ
TEST(FileTime, LocalTimeFollowsTZ) {
    const uint64_t newYearUtc = kUnixEpochFileTime + UINT64_C(1767225600) * kTicksPerSecond + 5000;  // 2026-01-01
    SystemTime local{};
    {
        ScopedTimeZone zone("Asia/Seoul");
        ASSERT_TRUE(platform::FileTimeToLocalSystemTime(newYearUtc, &local));
        ExpectSameMoment(local, Time(2026, 1, 1, 9, 0, 0));
    }
    {
        ScopedTimeZone zone("UTC");
        ASSERT_TRUE(platform::FileTimeToLocalSystemTime(newYearUtc - 1000 * kTicksPerSecond, &local));
        ExpectSameMoment(local, Time(2025, 12, 31, 23, 43, 20));
    }
}

TEST(CodePage, KoreanTextRoundTripsThroughCp949) {
    ScopedEnv codePage("CEBRIDGE_CODEPAGE", "");  // (empty: the default)
    // U+B620 lies outside EUC-KR's table: only CP949 proper has it.
    const platform::WideString korean = u"한글\\똠.txt";
    const std::string ansi = platform::WideToAnsi(korean.c_str());
    EXPECT_EQ(ansi, "\xC7\xD1\xB1\xDB\\\x8C\x63.txt");
    EXPECT_EQ(platform::AnsiToWide(ansi.c_str()), korean);
    EXPECT_EQ(platform::WideLength(korean.c_str()), 8u);

    // Not in the code page: an accented Latin-1 letter loses its accent, as Windows'
    // best fit gives it; anything else becomes '?'.
    EXPECT_EQ(platform::WideToAnsi(u"caf\u00E9 M\u00FCller \u0101 \U0001F600!"), "cafe Muller ? ?!");
    EXPECT_EQ(platform::AnsiToWide("a\xFF"
                                   "b"),
              u"a\uFFFDb");  // no character at all
    EXPECT_EQ(platform::AnsiToWide(""), u"");
}

TEST(CodePage, BoundedConversionNeverSplitsACharacter) {
    const platform::WideString text = u"a한글";
    EXPECT_EQ(platform::WideToAnsiBounded(text.c_str(), 0), "");
    EXPECT_EQ(platform::WideToAnsiBounded(text.c_str(), 2), "a");
    EXPECT_EQ(platform::WideToAnsiBounded(text.c_str(), 3), "a\xC7\xD1");
    EXPECT_EQ(platform::WideToAnsiBounded(text.c_str(), 4), "a\xC7\xD1");
    EXPECT_EQ(platform::WideToAnsiBounded(text.c_str(), 5), "a\xC7\xD1\xB1\xDB");
}

TEST(CodePage, EnvironmentChoosesAnotherCodePage) {
    ScopedEnv codePage("CEBRIDGE_CODEPAGE", "UTF-8");
    EXPECT_EQ(platform::WideToAnsi(u"한"), "\xED\x95\x9C");
    ScopedEnv number("CEBRIDGE_CODEPAGE", "65001");  // Windows code-page numbers too
    EXPECT_EQ(platform::WideToAnsi(u"한"), "\xED\x95\x9C");
    ScopedEnv unknown("CEBRIDGE_CODEPAGE", "NO-SUCH-CODEPAGE");
    EXPECT_EQ(platform::WideToAnsi(u"한"), "\xC7\xD1");  // falls back to CP949
}
// Each thread keeps its own converters open between calls and closes them when it
// ends (the leak checker sees any it leaves): threads converting at once get the
// right text, and a converter's state never leaks from one call into the next (a
// failed character, a Korean one, then ASCII).
TEST(CodePage, ThreadsConvertAtOnceAsOneAlone) {
    ScopedEnv codePage("CEBRIDGE_CODEPAGE", "");  // (empty: the default)
    struct Case {
        std::string ansi;
        platform::WideString wide;
    };
    // The second byte of a CP949 character can be an ASCII letter: "\x8C\x63" is one character.
    const std::vector<Case> cases = {{"plain.txt", u"plain.txt"},
                                     {"ab\x8C\x63"
                                      "c",
                                      u"ab\uB620c"},
                                     {"\xC7\xD1\xB1\xDB\\notes", u"\uD55C\uAE00\\notes"},
                                     {"x\xFFy", u"x\uFFFDy"}};
    const auto convertAll = [&cases](int rounds) {
        int mismatches = 0;
        for (int round = 0; round < rounds; ++round) {
            for (const Case &item : cases) {
                mismatches += platform::AnsiToWide(item.ansi.c_str()) != item.wide;
                if (item.wide.find(u'\uFFFD') == platform::WideString::npos)
                    mismatches += platform::WideToAnsi(item.wide.c_str()) != item.ansi;
            }
            mismatches += platform::WideToAnsiBounded(u"ab\uD55C", 3) != "ab";
        }
        return mismatches;
    };
    // The threads start with no converter of their own: one shared among them would
    // be made by several at once, which the thread sanitizer reports.
    std::vector<int> mismatches(4, -1);
    std::vector<std::thread> threads;
    for (int &count : mismatches) threads.emplace_back([&count, &convertAll] { count = convertAll(200); });
    for (std::thread &thread : threads) thread.join();
    EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

// ASCII is copied without the converter only where the code page keeps it as it is:
// not in EBCDIC, and again after the code page changes back on the same thread.
TEST(CodePage, AsciiIsCopiedOnlyWhereTheCodePageKeepsIt) {
    {
        ScopedEnv ebcdic("CEBRIDGE_CODEPAGE", "IBM037");
        EXPECT_EQ(platform::AnsiToWide("A"), u"\u00A0");
        EXPECT_EQ(platform::WideToAnsi(u"A"), "\xC1");
    }
    ScopedEnv korean("CEBRIDGE_CODEPAGE", "949");
    EXPECT_EQ(platform::AnsiToWide("A"), u"A");
    EXPECT_EQ(platform::WideToAnsi(u"A"), "A");
}
#endif

}  // namespace

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdint>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "support/phone_copy.h"
#include "support/support.h"

namespace {

platform::SystemTime g_clockNow{};
platform::SystemTime TestClock() { return g_clockNow; }

platform::SystemTime At(uint16_t year, uint16_t month, uint16_t day, uint16_t hour, uint16_t minute, uint16_t second) {
    return platform::SystemTime{year, month, 0, day, hour, minute, second, 0};
}

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    for (size_t start = 0, end; start < text.size(); start = end + 2) {
        end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start) + "<unterminated>");
            break;
        }
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

std::string Formatted(size_t size, const char *format, ...) {
    std::string out(size, '\x7f');
    va_list arguments;
    va_start(arguments, format);
    int length = FormatWsprintf(out.data(), size, format, arguments);
    va_end(arguments);
    EXPECT_EQ(out[static_cast<size_t>(length)], '\0');
    return out.substr(0, static_cast<size_t>(length));
}

class LogWriterTest : public ::testing::Test {
protected:
    void SetUp() override { g_clockNow = At(2026, 3, 31, 23, 59, 59); }

    // The writer's own name for the day's file, as a native path.
    std::string FileOf(const platform::SystemTime &day, const std::string &directory) {
        char name[2200];
        LogWriter::FileNameFor(directory.c_str(), "cebridge", day, name, sizeof name);
        return platform::NativePath(name);
    }

    TempDir m_scratch;
};

TEST_F(LogWriterTest, FileNamesFollowTheLocalDate) {
    char name[64];
    LogWriter::FileNameFor("C:\\logs", "sync", At(2026, 1, 2, 3, 4, 5), name, sizeof name);
    EXPECT_STREQ(name, "C:\\logs\\sync_20260102.log");
    LogWriter::FileNameFor("", "sync", At(2026, 12, 31, 0, 0, 0), name, sizeof name);
    EXPECT_STREQ(name, "\\sync_20261231.log");
    LogWriter::FileNameFor("C:\\a-rather-long-folder", "sync", At(2026, 1, 2, 0, 0, 0), name, 20);
    EXPECT_STREQ(name, "");  // refused, not cut to another file's name
}

TEST_F(LogWriterTest, DaySwitchWritesTwoFilesAndReopeningAppends) {
    // The directory is given with '\' and does not exist yet: Init creates it.
    const std::string directory = m_scratch.str() + "\\logs";
    const platform::SystemTime evening = At(2026, 3, 31, 23, 59, 59);
    const platform::SystemTime midnight = At(2026, 4, 1, 0, 0, 0);
    {
        LogWriter writer;
        writer.SetClock(TestClock);
        writer.Init(directory.c_str(), "cebridge", LOG_DETAIL);
        writer.Write(LOG_TRACE, "first %d", 1);
        g_clockNow = midnight;
        writer.Write(LOG_TRACE, "second %s", "line");
    }
    {
        LogWriter writer;
        writer.SetClock(TestClock);
        writer.Init(directory.c_str(), "cebridge", LOG_DETAIL);
        writer.Write(LOG_FAULT, "third");
    }
    const std::vector<std::string> eveningLines = Lines(ReadFileText(FileOf(evening, directory)));
    const std::vector<std::string> midnightLines = Lines(ReadFileText(FileOf(midnight, directory)));
    ASSERT_EQ(eveningLines.size(), 1u);
    EXPECT_TRUE(std::regex_match(eveningLines[0], std::regex(R"(2026:03:31 23:59:59\.\d{3}\] first 1)")))
        << eveningLines[0];
    ASSERT_EQ(midnightLines.size(), 2u);
    EXPECT_TRUE(std::regex_match(midnightLines[0], std::regex(R"(2026:04:01 00:00:00\.\d{3}\] second line)")));
    EXPECT_TRUE(std::regex_match(midnightLines[1], std::regex(R"(2026:04:01 00:00:00\.\d{3}\] third)")));
}

TEST_F(LogWriterTest, ThresholdAndMessageLength) {
    LogWriter writer;
    writer.SetClock(TestClock);
    writer.Init(m_scratch.str().c_str(), "cebridge", LOG_TRACE);
    writer.Write(LOG_DETAIL, "detail is dropped");
    writer.Write(LOG_FAULT, "fault is kept");
    const std::string longMessage(2000, 'm');
    writer.Write(LOG_TRACE, "%s", longMessage.c_str());

    const std::vector<std::string> lines = Lines(ReadFileText(FileOf(g_clockNow, m_scratch.str())));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("] fault is kept"), std::string::npos);
    const size_t stampLength = std::string("2026:03:31 23:59:59.ddd] ").size();
    EXPECT_EQ(lines[1].size(), stampLength + 1024);
    EXPECT_EQ(lines[1].substr(stampLength), longMessage.substr(0, 1024));
}

TEST_F(LogWriterTest, TwoThreadsNeverTearALine) {
    TempDir scratch;
    LogWriter writer;
    writer.SetClock(TestClock);
    writer.Init(scratch.str().c_str(), "cebridge", LOG_DETAIL);
    constexpr int kLinesPerThread = 2000;
    auto writeLines = [&writer](const char *who) {
        for (int i = 0; i < kLinesPerThread; ++i) writer.Write(LOG_TRACE, "%s line %05d of the busy thread", who, i);
    };
    std::thread agent(writeLines, "agent");
    std::thread worker(writeLines, "worker");
    agent.join();
    worker.join();

    const std::vector<std::string> lines = Lines(ReadFileText(FileOf(g_clockNow, scratch.str())));
    ASSERT_EQ(lines.size(), 2u * kLinesPerThread);
    const std::regex whole(R"(2026:03:31 23:59:59\.\d{3}\] (agent|worker) line (\d{5}) of the busy thread)");
    int next[2] = {0, 0};
    for (const std::string &line : lines) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, whole)) << line;
        int &expected = next[match[1] == "agent" ? 0 : 1];
        EXPECT_EQ(std::stoi(match[2]), expected++);  // each thread's lines stay in order
    }
}

TEST(FormatWsprintf, NotationOfThePluginsMessages) {
    EXPECT_EQ(Formatted(64, "%I64u", UINT64_C(18446744073709551615)), "18446744073709551615");
    EXPECT_EQ(Formatted(64, "%I64d|%I64x", INT64_C(-9000000000), UINT64_C(0x1234567890)), "-9000000000|1234567890");
    EXPECT_EQ(Formatted(64, "%llu|%lld", 18446744073709551615ULL, -9000000000LL), "18446744073709551615|-9000000000");
    EXPECT_EQ(Formatted(64, "[%5d][%-5d][%05d][%05d]", 42, 42, 42, -42), "[   42][42   ][00042][-0042]");
    EXPECT_EQ(Formatted(64, "%X %x %08lX %#x", 0xBEEFu, 0xBEEFu, 0x2Aul, 255u), "BEEF beef 0000002A 0xff");
    EXPECT_EQ(Formatted(64, "%u %ld %lu %i", -1, -7L, 4000000000ul, -3), "4294967295 -7 4000000000 -3");
    EXPECT_EQ(Formatted(64, "%s|%-6s|%4s|%c%%", "ab", "cd", static_cast<const char *>(nullptr), 'z'),
              "ab|cd    |(null)|z%");
    EXPECT_EQ(Formatted(64, "ParamCode:0x%x ParamLen:%d", 0x21, 7), "ParamCode:0x21 ParamLen:7");
    EXPECT_EQ(Formatted(6, "%d-%s", 12345, "tail"), "12345");  // cut and still terminated
    EXPECT_EQ(Formatted(64, "trailing %"), "trailing ");
}

}  // namespace

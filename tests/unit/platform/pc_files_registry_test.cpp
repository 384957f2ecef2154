// PC files with '\' separators and the registry file (POSIX halves).
#include <gtest/gtest.h>

#ifndef _WIN32
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/platform.h"
#include "support/phone_copy.h"

namespace {

constexpr const char *kAgentKey = "SOFTWARE\\MERIDO 3.0\\MERIDOAPI";

TEST(PcFiles, BackslashPathsWriteThroughAppendAndDirectories) {
    TempDir scratch;
    const std::string folder = scratch.str() + "\\logs";
    EXPECT_EQ(platform::NativePath(folder.c_str()), (scratch.path() / "logs").string());
    EXPECT_FALSE(platform::CreateOneDirectory((folder + "\\a\\b").c_str()));  // one level only
    EXPECT_TRUE(platform::CreateOneDirectory(folder.c_str()));
    EXPECT_TRUE(platform::CreateOneDirectory(folder.c_str()));  // existing: no error

    const std::string file = folder + "\\day.log";
    for (const char *text : {"one\r\n", "two\r\n"}) {
        intptr_t handle = platform::OpenWriteThroughAppend(file.c_str());
        ASSERT_GE(handle, 0);
        EXPECT_TRUE(platform::WriteAll(handle, text, 5));
        platform::CloseFile(handle);
    }
    EXPECT_EQ(ReadFileText(scratch.path() / "logs/day.log"), "one\r\ntwo\r\n");
    EXPECT_LT(platform::OpenWriteThroughAppend((scratch.str() + "\\missing\\x.log").c_str()), 0);

    FILE *read = platform::OpenPcFile(file.c_str(), "rb");
    ASSERT_NE(read, nullptr);
    std::fclose(read);

    auto *block = static_cast<unsigned char *>(platform::LocalAllocZeroed(64));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 64; ++i) ASSERT_EQ(block[i], 0);
    platform::LocalFree(block);
}

class RegistryFileTest : public ::testing::Test {
protected:
    // The file sits two folders deep that do not exist yet.
    TempDir m_scratch;
    std::string m_file = (m_scratch.path() / "config/cebridge/registry.ini").string();
    ScopedEnv m_registry{"CEBRIDGE_REGISTRY", m_file};
};

TEST_F(RegistryFileTest, RoundTripKeepsOtherKeysAndWritesRegText) {
    const std::string sapath = "C:\\Program Files\\Merido \"3\"\\dtd\\";
    {
        platform::RegistryHandle other;
        ASSERT_TRUE(other.CreateOrOpen("SOFTWARE\\Other"));
        ASSERT_TRUE(other.SetString("Keep", "me"));
    }
    platform::RegistryHandle key;
    ASSERT_TRUE(key.CreateOrOpen(kAgentKey));
    ASSERT_TRUE(key.IsOpen());
    ASSERT_TRUE(key.SetString("SAPATH", sapath.c_str()));
    ASSERT_TRUE(key.SetNumber("Count", 42));
    ASSERT_TRUE(key.SetString("SAPATH", sapath.c_str()));  // replaced in place, not added twice

    EXPECT_EQ(ReadFileText(m_file),
              "Windows Registry Editor Version 5.00\n"
              "\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\n"
              "\"Keep\"=\"me\"\n"
              "\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\MERIDO 3.0\\MERIDOAPI]\n"
              "\"SAPATH\"=\"C:\\\\Program Files\\\\Merido \\\"3\\\"\\\\dtd\\\\\"\n"
              "\"Count\"=dword:0000002a\n"
              "\n");

    platform::RegistryHandle reopened;
    ASSERT_TRUE(reopened.CreateOrOpen("software\\merido 3.0\\meridoapi"));  // case does not matter
    char buffer[128];
    size_t needed = 0;
    ASSERT_TRUE(reopened.QueryString("SAPATH", buffer, sizeof buffer, &needed));
    EXPECT_EQ(buffer, sapath);
    EXPECT_EQ(needed, sapath.size() + 1);
    uint32_t count = 0;
    ASSERT_TRUE(reopened.QueryNumber("Count", &count));
    EXPECT_EQ(count, 42u);
    EXPECT_FALSE(reopened.QueryNumber("SAPATH", &count));
    EXPECT_FALSE(reopened.QueryString("Count", buffer, sizeof buffer, &needed));
    EXPECT_FALSE(reopened.QueryString("Missing", buffer, sizeof buffer, &needed));
}

TEST_F(RegistryFileTest, ValueOf127CharactersFitsAndLongerReportsItsSize) {
    platform::RegistryHandle key;
    ASSERT_TRUE(key.CreateOrOpen(kAgentKey));
    const std::string value(127, 'v');
    ASSERT_TRUE(key.SetString("SAPATH", value.c_str()));
    char buffer[128];
    size_t needed = 0;
    ASSERT_TRUE(key.QueryString("SAPATH", buffer, sizeof buffer, &needed));
    EXPECT_EQ(buffer, value);
    EXPECT_FALSE(key.QueryString("SAPATH", buffer, 127, &needed));
    EXPECT_EQ(needed, 128u);
    EXPECT_FALSE(key.SetString("SAPATH", "two\nlines"));  // a .reg string cannot hold it
}

TEST_F(RegistryFileTest, HandWrittenFileSurvivesAWrite) {
    std::filesystem::create_directories(m_scratch.path() / "config/cebridge");
    std::ofstream(m_file, std::ios::binary) << "Windows Registry Editor Version 5.00\r\n\r\n"
                                               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\MERIDO 3.0\\MERIDOAPI]\r\n"
                                               "\"SAPATH\"=\"D:\\\\dtd\"\r\n"
                                               "\"Blob\"=hex:01,02,\\\r\n  03\r\n";
    platform::RegistryHandle key;
    ASSERT_TRUE(key.CreateOrOpen(kAgentKey));
    char buffer[128];
    ASSERT_TRUE(key.QueryString("SAPATH", buffer, sizeof buffer, nullptr));
    EXPECT_STREQ(buffer, "D:\\dtd");
    ASSERT_TRUE(key.SetNumber("Level", 5));
    const std::string text = ReadFileText(m_file);
    EXPECT_NE(text.find("\"SAPATH\"=\"D:\\\\dtd\"\n\"Blob\"=hex:01,02,\\\n  03\n\"Level\"=dword:00000005\n"),
              std::string::npos)
        << text;
}

TEST_F(RegistryFileTest, UnwritablePlaceRefusesTheKey) {
    std::ofstream(m_scratch.path() / "plainfile") << "x";
    ScopedEnv blocked("CEBRIDGE_REGISTRY", (m_scratch.path() / "plainfile/registry.ini").string());
    platform::RegistryHandle key;
    EXPECT_FALSE(key.CreateOrOpen(kAgentKey));
    EXPECT_FALSE(key.IsOpen());
}

}  // namespace
#endif

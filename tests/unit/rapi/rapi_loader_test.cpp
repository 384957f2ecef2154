// The RAPI loader: a missing provider leaves stand-ins that fail cleanly, a real one
// fills the table, and the first use is safe from many threads at once.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/platform.h"

namespace {

TEST(RapiLoaderTest, MissingProviderGivesStandInsThatFailCleanly) {
    bool loaded = true;
    const platform::RapiTable table = platform::LoadRapiTable("/nonexistent/librapi-provider.so", &loaded);
    EXPECT_FALSE(loaded);

    RAPIINIT init{sizeof init, nullptr, 0};
    EXPECT_EQ(table.CeRapiInitEx(&init), static_cast<HRESULT>(0x80004005u));
    EXPECT_EQ(table.CeGetLastError(), 1167u);
    EXPECT_LT(table.CeRapiGetError(), 0);

    DWORD size = 7;
    BYTE *output = reinterpret_cast<BYTE *>(&size);
    EXPECT_LT(
        table.CeRapiInvoke(CE_TEXT("Tobrann"), CE_TEXT("DevCeCreateSession"), 0, nullptr, &size, &output, nullptr, 0),
        0);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(output, nullptr);

    DWORD count = 3;
    CE_FIND_DATA *found = reinterpret_cast<CE_FIND_DATA *>(&count);
    EXPECT_FALSE(table.CeFindAllFiles(CE_TEXT("\\*.*"), FAF_NAME, &count, &found));
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(found, nullptr);
    EXPECT_EQ(table.CeCreateFile(CE_TEXT("\\x"), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(table.CeGetFileSize(nullptr, nullptr), 0xFFFFFFFFu);
    HKEY key = HKEY_LOCAL_MACHINE;
    EXPECT_NE(table.CeRegOpenKeyEx(HKEY_LOCAL_MACHINE, CE_TEXT("IDENT"), 0, 0, &key), 0);
    EXPECT_EQ(key, nullptr);
}

TEST(RapiLoaderTest, TheEmulatorProvidesEveryOperation) {
    bool loaded = false;
    const platform::RapiTable real = platform::LoadRapiTable(CEBRIDGE_TEST_EMULATOR, &loaded);
    ASSERT_TRUE(loaded);
    const platform::RapiTable standIns = platform::LoadRapiTable(nullptr, nullptr);
#define CEBRIDGE_CHECK_RESOLVED(name) EXPECT_NE(real.name, standIns.name) << #name;
    CEBRIDGE_RAPI_OPERATIONS(CEBRIDGE_CHECK_RESOLVED)
#undef CEBRIDGE_CHECK_RESOLVED

    DWORD size = 0;
    BYTE *output = nullptr;
    EXPECT_LT(real.CeRapiInvoke(CE_TEXT("NoSuchLibrary"), CE_TEXT("Anything"), 0, nullptr, &size, &output, nullptr, 0),
              0);
    EXPECT_EQ(output, nullptr);
}

TEST(RapiLoaderTest, FirstUseFromManyThreadsLoadsOneTable) {
    std::vector<const platform::RapiTable *> seen(8, nullptr);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < seen.size(); ++i) {
        threads.emplace_back([&seen, i] { seen[i] = &platform::Rapi(); });
    }
    for (std::thread &thread : threads) thread.join();
    for (const platform::RapiTable *table : seen) EXPECT_EQ(table, seen[0]);
    // The test program sits beside libceemu.so, as the plug-in does.
    EXPECT_TRUE(platform::RapiProviderLoaded());
}

}  // namespace

// `cebridge sync`: its arguments, documents and exit codes (what it decides:
// tests/e2e/hostcore/sync_test.cpp).
#if defined(CEBRIDGE_HAVE_SYNC)
#include <filesystem>

#include "host_fixture.h"

namespace {

TEST_F(HostCli, SyncPairsAreAddedRunListedAndRemoved) {
    const std::filesystem::path folder = m_home.path() / "contacts";
    std::filesystem::create_directories(folder);
    EXPECT_EQ(Host({"sync", "add", "p"}).exitCode, 2);  // no folder named
    EXPECT_EQ(Host({"sync", "add", "p", "--contacts", (folder / "none").string()}).exitCode, 3);
    ASSERT_EQ(Host({"sync", "add", "p", "--contacts", folder.string()}).exitCode, 0);
    EXPECT_EQ(Host({"sync", "add", "p", "--calendar", folder.string()}).exitCode, 2);  // the name is taken
    EXPECT_EQ(Host({"sync", "p", "--conflict", "mine"}).exitCode, 2);

    const nlohmann::json planned = Json(Host({"--json", "sync", "p", "--dry-run"}));
    EXPECT_EQ(planned["dryRun"], true);
    EXPECT_TRUE(std::filesystem::is_empty(folder));
    const nlohmann::json done = Json(Host({"--json", "sync", "p", "--conflict", "pc"}));
    EXPECT_EQ(done["conflict"], "pc");
    EXPECT_EQ(done["created"], planned["created"]);
    EXPECT_GT(done["created"]["pc"].get<size_t>(), 0u);
    EXPECT_EQ(done["actions"][0]["side"], "pc");
    EXPECT_TRUE(std::filesystem::exists(m_home.path() / "data" / "cebridge" / "sync.sqlite"));

    const nlohmann::json list = Json(Host({"--json", "sync", "list"}));
    EXPECT_EQ(list["pairs"][0]["contacts"], folder.string());
    EXPECT_NE(list["pairs"][0]["phone"], "");  // the phone it was first synced with
    EXPECT_EQ(Host({"sync", "rm", "p"}).exitCode, 0);
    EXPECT_EQ(Host({"sync", "p"}).exitCode, 1);
}

}  // namespace
#endif

// `cebridge sync`: its arguments, documents and exit codes (what it decides:
// tests/e2e/hostcore/sync_test.cpp).
#if defined(CEBRIDGE_HAVE_SYNC)
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#if !defined(_WIN32)
#include <sys/wait.h>
#endif

#include "host_fixture.h"
#include "tests/e2e/hostcore/radicale_server.h"

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

#if !defined(_WIN32)  // (a test can neither kill nor Ctrl-C one Windows process by a shell)
// A sync killed outright (no chance to tidy up) among its phone writes, some written
// and not yet remembered: the rerun pairs them, so nothing is duplicated or lost.
TEST_F(HostCli, ASyncKilledMidwayConvergesOnTheRerun) {
    const std::filesystem::path folder = m_home.path() / "contacts";
    std::filesystem::create_directories(folder);
    constexpr size_t kPcCards = 12;
    for (size_t i = 0; i < kPcCards; ++i) {
        const std::string name = "Killed" + std::to_string(i);
        std::ofstream(folder / (name + ".vcf")) << "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:" << name << "\r\nN:" << name
                                                << ";Ann;;;\r\nFN:Ann " << name << "\r\nEND:VCARD\r\n";
    }
    const auto phoneContacts = [this] {
        const nlohmann::json volume = m_phone.ReadVolume("pim.vol");
        for (const nlohmann::json &database : volume["databases"])
            if (database["type"] == 24) return database["records"].size();  // the contacts database
        return size_t(0);
    };
    const size_t before = phoneContacts();
    ASSERT_EQ(Host({"sync", "add", "p", "--contacts", folder.string()}).exitCode, 0);

    // Every phone write waits; the PC's side is written first, and the kill lands
    // among the phone's writes.
    m_phone.EditDevice([](nlohmann::json &device) {
        device["faults"].push_back({{"operation", "DevCeWriteRecordProps"}, {"persistent", true}, {"delayMs", 200}});
    });
    const std::string pcFiles = "$(ls " + ShellCommand({folder.string()}) + " | grep -c 'vcf$')";
    const std::string killed =
        HostCommandLine({"sync", "p"}) + " >/dev/null 2>&1 & i=0; while [ " + pcFiles + " -lt " +
        std::to_string(before + kPcCards) +
        " ] && [ $i -lt 600 ]; do sleep 0.05; i=$((i+1)); done; sleep 0.6; kill -KILL $!; wait $!";
    EXPECT_NE(std::system(killed.c_str()), 0);
    m_phone.EditDevice([](nlohmann::json &device) { device["faults"] = nlohmann::json::array(); });
    EXPECT_GT(phoneContacts(), before);
    EXPECT_LT(phoneContacts(), before + kPcCards);

    ASSERT_EQ(Host({"sync", "p"}).exitCode, 0);
    EXPECT_EQ(phoneContacts(), before + kPcCards);
    size_t files = 0;
    for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator(folder)) ++files;
    EXPECT_EQ(files, before + kPcCards);
    const nlohmann::json again = Json(Host({"--json", "sync", "p"}));
    EXPECT_TRUE(again["actions"].empty()) << again.dump();
    EXPECT_EQ(again["unchanged"], before + kPcCards);
}

// Interrupted (Ctrl-C) among its phone writes: exit 4, and its document counts what it
// did before the stop.
TEST_F(HostCli, AnInterruptedSyncSaysWhatItDid) {
    const std::filesystem::path folder = m_home.path() / "contacts", out = m_home.path() / "out.json";
    std::filesystem::create_directories(folder);
    for (int i = 0; i < 12; ++i)
        WriteFileText(folder / ("Stopped" + std::to_string(i) + ".vcf"),
                      "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Stopped" + std::to_string(i) + ";Ann;;;\r\nEND:VCARD\r\n");
    ASSERT_EQ(Host({"sync", "add", "p", "--contacts", folder.string()}).exitCode, 0);
    m_phone.EditDevice([](nlohmann::json &device) {
        device["faults"].push_back({{"operation", "DevCeWriteRecordProps"}, {"persistent", true}, {"delayMs", 200}});
    });
    const std::string pcFiles = "$(ls " + ShellCommand({folder.string()}) + " | grep -c 'vcf$')";
    const std::string stopped = HostCommandLine({"--json", "sync", "p"}) + " >" + ShellCommand({out.string()}) +
                                " 2>/dev/null & i=0; while [ " + pcFiles +
                                " -le 12 ] && [ $i -lt 600 ]; do sleep 0.05; i=$((i+1)); done; sleep 0.6; "
                                "kill -INT $!; wait $!";
    const int status = std::system(stopped.c_str());
    m_phone.EditDevice([](nlohmann::json &device) { device["faults"] = nlohmann::json::array(); });
    EXPECT_EQ(WEXITSTATUS(status), 4);
    const nlohmann::json document = nlohmann::json::parse(ReadFileText(out), nullptr, false);
    EXPECT_EQ(document["error"], "interrupted") << ReadFileText(out);
    EXPECT_GT(document["created"]["phone"].get<size_t>() + document["created"]["pc"].get<size_t>(), 0u);
}

#endif

// A pair of a server's collections: the password from a file of mode 0600 only, never
// printed or stored; a wrong one is the server's refusal, exit 3.
TEST_F(HostCli, SyncWithAServerTakesItsPasswordFromAPrivateFile) {
    if (!RadicaleServer::Installed()) GTEST_SKIP() << "radicale is not installed (scripts/setup.sh installs it)";
    RadicaleServer server;
    ASSERT_TRUE(server.Ready()) << server.Log();
    const std::filesystem::path file = m_home.path() / "password";
    WriteFileText(file, std::string(RadicaleServer::kPassword) + "\n");
    std::filesystem::permissions(file, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                                           std::filesystem::perms::others_read);
    const std::vector<std::string> add = {"sync",
                                          "add",
                                          "p",
                                          "--contacts",
                                          server.Url("contacts"),
                                          "--calendar",
                                          server.Url("calendar"),
                                          "--user",
                                          RadicaleServer::kUser};
    std::vector<std::string> withFile = add;
    withFile.insert(withFile.end(), {"--password-file", file.string()});
#if !defined(_WIN32)  // (Windows keeps a file private by its folder's access list, not its mode)
    const HostRun loose = Host(withFile);
    EXPECT_EQ(loose.exitCode, 3);
    EXPECT_NE(loose.err.find("chmod 600"), std::string::npos) << loose.err;
#endif
    EXPECT_EQ(Host({"sync", "add", "q", "--contacts", "http://u:pw@127.0.0.1/x/", "--user", "u"}).exitCode, 2);
    std::filesystem::permissions(file, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    ASSERT_EQ(Host(withFile).exitCode, 0);

    const nlohmann::json done = Json(Host({"--json", "sync", "p"}));
    EXPECT_GT(done["created"]["pc"].get<size_t>(), 0u) << done.dump(1);
    const HostRun list = Host({"sync", "list"});
    EXPECT_NE(list.out.find(server.Url("contacts")), std::string::npos) << list.out;
    WriteFileText(file, "wrong\n");
    const HostRun refused = Host({"sync", "p"});
    EXPECT_EQ(refused.exitCode, 1);  // the server's refusal, no PC file's
    EXPECT_NE(refused.err.find("cebridge: sync: http"), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("HTTP 401"), std::string::npos) << refused.err;
    const std::string state = ReadFileText(m_home.path() / "data" / "cebridge" / "sync.sqlite");
    for (const std::string &text : {list.out, refused.out + refused.err, state, LogText()})
        EXPECT_EQ(text.find(RadicaleServer::kPassword), std::string::npos);
}

}  // namespace
#endif

// backup, backup --verify and restore as the command line says them: what each prints
// and its exit code (what they do is tested in-process in hostcore/backup_test.cpp).
#include "host_fixture.h"

namespace fs = std::filesystem;

TEST_F(HostCli, BackupCommandsNameWhatFailedWithTheirExitCodes) {
    fs::path backup = m_home.path() / "phone";
    const std::string longName = "a name longer than the 31 bytes.txt";
    WriteFileText(m_phone.fs() / "My Storage" / longName, "long");
    m_phone.EditDevice([](nlohmann::json &device) {  // the first backup breaks at its third file
        device["faults"].push_back({{"operation", "CeReadFile"}, {"nth", 8}, {"linkDrop", true}});
    });
    HostRun broken = Host({"backup", backup.string()});
    EXPECT_EQ(broken.exitCode, 1) << broken.err;
    EXPECT_NE(broken.err.find("continues from them"), std::string::npos) << broken.err;
    m_phone.EditDevice([](nlohmann::json &device) { device["faults"] = nlohmann::json::array(); });
    HostRun skipped = Host({"--json", "backup", backup.string()});
    EXPECT_EQ(skipped.exitCode, 1) << skipped.err;  // a file left out
    EXPECT_NE(skipped.err.find("left out"), std::string::npos) << skipped.err;
    EXPECT_EQ(Json(skipped)["skipped"].size(), 1u) << skipped.out;
    HostRun tree = Host({"--json", "get", "-r", "/My Storage", (m_home.path() / "tree").string()});
    EXPECT_EQ(tree.exitCode, 1) << tree.err;  // as a copy of the tree does
    EXPECT_EQ(Json(tree)["skipped"].size(), 1u) << tree.out;

    fs::path copy = LatestGeneration(backup) / "files" / "My Documents" / "readme.txt";
    std::string text = ReadFileText(copy);
    text[0] = static_cast<char>(text[0] ^ 1);  // same size, other content
    WriteFileText(copy, text);
    HostRun verify = Host({"--json", "backup", "--verify", backup.string()});
    EXPECT_EQ(verify.exitCode, 1);
    EXPECT_NE(verify.err.find("files/My Documents/readme.txt: content changed"), std::string::npos) << verify.err;
    EXPECT_EQ(Json(verify)["verified"], false) << verify.out;
    HostRun restore = Host({"restore", backup.string()});
    EXPECT_EQ(restore.exitCode, 3);
    EXPECT_NE(restore.err.find("does not match its manifest"), std::string::npos) << restore.err;
#if !defined(_WIN32)
    // A backup started inside its folder leaves the folder where it was.
    fs::remove(m_phone.fs() / "My Storage" / longName);
    fs::path made = m_home.path() / "made";
    ASSERT_EQ(Host({"backup", made.string()}).exitCode, 0);
    std::string inside = "cd '" + made.string() + "' && '" + HostProgram() + "' backup . 2>/dev/null && ls >/dev/null";
    EXPECT_EQ(std::system(inside.c_str()), 0);
    EXPECT_EQ(Json(Host({"--json", "backup", "--list", made.string()}))["generations"].size(), 2u);
#endif
}

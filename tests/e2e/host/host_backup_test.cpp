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
    fs::remove(m_phone.fs() / "My Documents" / "readme.txt");
    fs::remove(m_phone.fs() / "My Documents" / "DSC_0001.jpg");
    HostRun restore = Host({"restore", "--files", backup.string()});
    EXPECT_EQ(restore.exitCode, 1);  // the rest restored, the damaged copy named
    EXPECT_NE(restore.err.find("not restored: files/My Documents/readme.txt: the backup's copy does not match"),
              std::string::npos)
        << restore.err;
    EXPECT_TRUE(fs::exists(m_phone.fs() / "My Documents" / "DSC_0001.jpg"));
    EXPECT_NE(restore.out.find("carry the time of the restore"), std::string::npos) << restore.out;
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

#if !defined(_WIN32)
// A backup killed outright while a file is on its way leaves that download's private
// folder in unfinished/; the next backup clears it, and no temporary joins a generation.
TEST_F(HostCli, ABackupKilledMidCopyLeavesNothingInTheNextGeneration) {
    const fs::path backup = m_home.path() / "phone", side = backup / "unfinished";
    WriteFileText(m_phone.fs() / "My Documents" / "big.bin", RandomBytes(2000000));
    m_phone.EditDevice([](nlohmann::json &device) {
        device["faults"].push_back({{"operation", "CeReadFile"}, {"persistent", true}, {"delayMs", 30}});
    });
    const std::string temporaryThere =
        "find " + ShellCommand({side.string()}) + " -name '.cebridge-*' 2>/dev/null | grep -q .";
    const std::string killed = HostCommandLine({"backup", backup.string()}) + " >/dev/null 2>&1 & i=0; until " +
                               temporaryThere +
                               " || [ $i -ge 2400 ]; do sleep 0.05; i=$((i+1)); done; kill -KILL $!; wait $!";
    EXPECT_NE(std::system(killed.c_str()), 0);
    const auto temporaries = [](const fs::path &root) {
        size_t found = 0;
        for (const auto &entry : fs::recursive_directory_iterator(root))
            found += entry.path().filename().string().rfind(".cebridge-", 0) == 0;
        return found;
    };
    ASSERT_GT(temporaries(side), 0u);  // what the kill left
    m_phone.EditDevice([](nlohmann::json &device) { device["faults"] = nlohmann::json::array(); });
    HostRun again = Host({"backup", backup.string()});
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(temporaries(backup), 0u);
    EXPECT_EQ(Host({"backup", "--verify", backup.string()}).exitCode, 0);
}

// A restore killed outright while a file is on its way leaves it cut on the phone;
// the next restore replaces it (it never calls the cut file "kept").
TEST_F(HostCli, ARestoreKilledMidFileIsMadeWholeByTheNext) {
    const fs::path backup = m_home.path() / "phone", big = m_phone.fs() / "My Documents" / "p7.bin";
    const std::string content = RandomBytes(2000000);
    WriteFileText(big, content);
    ASSERT_EQ(Host({"backup", backup.string()}).exitCode, 0);
    fs::remove(big);
    m_phone.EditDevice([](nlohmann::json &device) {
        device["faults"].push_back({{"operation", "CeWriteFile"}, {"persistent", true}, {"delayMs", 30}});
    });
    const std::string started = "[ -s " + ShellCommand({big.string()}) + " ]";
    const std::string killed = HostCommandLine({"restore", "--files", backup.string()}) +
                               " >/dev/null 2>&1 & i=0; until " + started +
                               " || [ $i -ge 2400 ]; do sleep 0.05; i=$((i+1)); done; kill -KILL $!; wait $!";
    EXPECT_NE(std::system(killed.c_str()), 0);
    ASSERT_TRUE(fs::exists(big));
    ASSERT_LT(fs::file_size(big), content.size());  // cut
    m_phone.EditDevice([](nlohmann::json &device) { device["faults"] = nlohmann::json::array(); });
    HostRun again = Host({"--json", "restore", "--files", backup.string()});
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(Json(again)["files"]["replacedCut"], 1) << again.out;
    EXPECT_TRUE(ReadFileText(big) == content);
}
#endif

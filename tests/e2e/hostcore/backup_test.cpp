// The core's backup in-process: each backup is a generation of its own; a backup the
// user cancels leaves the latest as it was; the earlier generations verify and restore.
#include "backup.h"
#include "core_fixture.h"
#include "e2e/host/host_fixture.h"

namespace fs = std::filesystem;

namespace {

using host::ErrorKind;

// Cancels the copy as its `nth` file starts (0: never).
struct CancellingSink : host::TransferSink {
    CancellingSink(std::atomic<bool> &flag, size_t nth) : flag(flag), nth(nth) {}
    void StartFile(const std::string &) override { flag = ++started == nth; }
    std::atomic<bool> &flag;
    size_t nth, started = 0;
};

class CoreBackup : public CoreSessionTest {
protected:
    // A backup into m_folder; its summary.
    nlohmann::json Backup(host::Outcome *outcome, size_t keep = 0, bool acceptFewer = false, size_t cancelAt = 0) {
        std::string error;
        EXPECT_TRUE(m_folder.PrepareForBackup(&error)) << error;
        CancellingSink sink(m_interrupted, cancelAt);
        host::BackupResult result;
        *outcome = host::MakeBackup(m_session, m_folder, acceptFewer, keep, sink, &result);
        m_interrupted = false;
        return result.summary;
    }
    nlohmann::json BackupOrFail(size_t keep = 0) {
        host::Outcome outcome;
        nlohmann::json summary = Backup(&outcome, keep);
        EXPECT_TRUE(outcome.ok) << outcome.message;
        return summary;
    }
    bool Verified(const std::string &generation) {
        nlohmann::json report;
        return host::VerifyBackup(m_folder, generation, &report).ok && report["verified"] == true;
    }
    TempDir m_pc;
    host::BackupFolder m_folder{(m_pc.path() / "phone").string()};
};

TEST_F(CoreBackup, EachBackupIsAGenerationAndTheEarlierOnesStay) {
    ConnectOrFail();
    const fs::path readme = m_phone.fs() / "My Documents" / "readme.txt";
    const std::string original = ReadFileText(readme);
    const std::string older = BackupOrFail()["generation"];
    WriteFileText(readme, "changed on the phone");
    nlohmann::json second = BackupOrFail();
    const std::string newer = second["generation"];
    ASSERT_NE(older, newer);
    EXPECT_EQ(second["copied"], 1);  // the rest shared with the earlier generation
    EXPECT_EQ(ReadFileText(m_folder.Path() / older / "files" / "My Documents" / "readme.txt"), original);

    WriteFileText(readme, "changed again");
    host::Outcome cancelled;
    Backup(&cancelled, 0, false, 1);
    EXPECT_EQ(cancelled.kind, ErrorKind::kInterrupted) << cancelled.message;
    nlohmann::json list;
    ASSERT_TRUE(host::ListBackups(m_folder, &list).ok);
    EXPECT_EQ(list["latest"], newer) << list.dump();
    EXPECT_EQ(list["generations"].size(), 2u) << list.dump();
    EXPECT_TRUE(Verified("") && Verified(older));

    fs::remove(readme);
    fs::path folder;
    nlohmann::json manifest, report;
    ASSERT_TRUE(host::ReadBackupGeneration(m_folder, older, &folder, &manifest).ok);
    host::TransferSink files;
    host::ItemSink items;
    host::Outcome restored =
        host::RestoreBackup(m_session, folder, manifest, {true, false, false}, files, items, &report);
    ASSERT_TRUE(restored.ok) << restored.message;
    EXPECT_EQ(ReadFileText(readme), original);
    EXPECT_EQ(report["files"]["restored"], 1) << report.dump();

    nlohmann::json third = BackupOrFail(2);
    EXPECT_EQ(third["removed"], nlohmann::json::array({older})) << third.dump();
    EXPECT_FALSE(fs::exists(m_folder.Path() / older));
    EXPECT_EQ(host::ReadBackupGeneration(m_folder, "../x", &folder, &manifest).kind, ErrorKind::kPcFile);
}

// Contacts gone from the phone (or a list the phone could not read) do not replace a
// backup that holds them, unless the user says they are meant.
TEST_F(CoreBackup, FewerContactsAreRefusedUnlessAccepted) {
    ConnectOrFail();
    const std::string first = BackupOrFail()["generation"];
    m_session.link.Disconnect();
    m_session.connected = false;
    m_phone.EditDevice([](nlohmann::json &device) { device["pimVolumeMissing"] = true; });
    ConnectOrFail();
    host::Outcome refused, accepted;
    Backup(&refused);
    EXPECT_FALSE(refused.ok);
    EXPECT_NE(refused.message.find("where the last backup has 20"), std::string::npos) << refused.message;
    nlohmann::json fewer = Backup(&accepted, 0, true);
    ASSERT_TRUE(accepted.ok) << accepted.message;
    EXPECT_EQ(fewer["counts"]["contacts"], 0);
    EXPECT_TRUE(Verified(first));
}

}  // namespace

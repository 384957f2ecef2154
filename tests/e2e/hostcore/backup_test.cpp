// The core's backup in-process: each backup is a generation of its own; a backup the
// user cancels leaves the latest as it was; the earlier generations verify and restore.
#include "backup.h"
#include "core_fixture.h"
#include "e2e/host/host_fixture.h"

#include <algorithm>
#include <sstream>

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

// Everything the phone's stores hold goes, and every contact and appointment; the
// stores' folders stay.
void EmptyPhone(const PhoneCopy &phone) {
    for (const char *folder : {"My Documents", "My Storage", "Storage Card"})
        for (const auto &entry : fs::directory_iterator(phone.fs() / folder)) fs::remove_all(entry.path());
    fs::path volume = phone.path() / "volumes" / "pim.vol.json";
    nlohmann::json pim = nlohmann::json::parse(ReadFileText(volume));
    for (nlohmann::json &database : pim["databases"])
        if (database["type"] == 24 || database["type"] == 25) database["records"] = nlohmann::json::array();
    WriteFileText(volume, pim.dump());
}

// Each file of a manifest (path -> size and digest), without the times.
std::map<std::string, nlohmann::json> Contents(const nlohmann::json &manifest) {
    std::map<std::string, nlohmann::json> files;
    for (const nlohmann::json &entry : manifest["files"]) files[entry["path"]] = {entry["size"], entry["sha256"]};
    return files;
}

// The text without the lines that start with one of `names`.
std::string Without(const std::string &text, const std::vector<std::string> &names) {
    std::istringstream lines(text);
    std::string kept;
    for (std::string line; std::getline(lines, line);)
        if (std::none_of(names.begin(), names.end(), [&](const std::string &name) { return line.rfind(name, 0) == 0; }))
            kept += line + "\n";
    return kept;
}

class CoreBackup : public CoreSessionTest {
protected:
    // A backup into `folder`; its summary.
    nlohmann::json Backup(host::Outcome *outcome, size_t keep = 0, bool acceptFewer = false, size_t cancelAt = 0,
                          host::BackupFolder *folder = nullptr) {
        host::BackupFolder &into = folder ? *folder : m_folder;
        std::string error;
        EXPECT_TRUE(into.PrepareForBackup(&error)) << error;
        CancellingSink sink(m_interrupted, cancelAt);
        host::BackupResult result;
        *outcome = host::MakeBackup(m_session, into, acceptFewer, keep, sink, &result);
        m_interrupted = false;
        return result.summary;
    }
    nlohmann::json BackupOrFail(size_t keep = 0, host::BackupFolder *folder = nullptr) {
        host::Outcome outcome;
        nlohmann::json summary = Backup(&outcome, keep, false, 0, folder);
        EXPECT_TRUE(outcome.ok) << outcome.message;
        return summary;
    }
    bool Verified(const std::string &generation, host::BackupFolder *folder = nullptr) {
        nlohmann::json report;
        return host::VerifyBackup(folder ? *folder : m_folder, generation, &report).ok && report["verified"] == true;
    }
    nlohmann::json Manifest(host::BackupFolder &folder, const std::string &generation = "") {
        fs::path read;
        nlohmann::json manifest;
        EXPECT_TRUE(host::ReadBackupGeneration(folder, generation, &read, &manifest).ok);
        return manifest;
    }
    host::Outcome Restore(host::BackupFolder &folder, host::RestoreParts parts, nlohmann::json *report,
                          const std::string &generation = "") {
        fs::path read;
        nlohmann::json manifest;
        std::vector<std::string> problems;
        host::Outcome outcome = host::ReadBackupForRestore(folder, generation, &read, &manifest, &problems);
        if (!outcome.ok) return outcome;
        host::TransferSink files;
        host::ItemSink items;
        return host::RestoreBackup(m_session, read, manifest, parts, files, items, report);
    }
    // Connects anew: the emulated phone reads its image's faults and stores as it connects.
    void Reconnect() {
        m_session.link.Disconnect();
        m_session.connected = false;
        ConnectOrFail();
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
    nlohmann::json report;
    host::Outcome restored = Restore(m_folder, {true, false, false}, &report, older);
    ASSERT_TRUE(restored.ok) << restored.message;
    EXPECT_EQ(ReadFileText(readme), original);
    EXPECT_EQ(report["files"]["restored"], 1) << report.dump();

    nlohmann::json third = BackupOrFail(2);
    EXPECT_EQ(third["removed"], nlohmann::json::array({older})) << third.dump();
    EXPECT_FALSE(fs::exists(m_folder.Path() / older));
    fs::path folder;
    nlohmann::json manifest;
    EXPECT_EQ(host::ReadBackupGeneration(m_folder, "../x", &folder, &manifest).kind, ErrorKind::kPcFile);
}

// Contacts gone from the phone (or a list the phone could not read) do not replace a
// backup that holds them, unless the user says they are meant.
TEST_F(CoreBackup, FewerContactsAreRefusedUnlessAccepted) {
    ConnectOrFail();
    const std::string first = BackupOrFail()["generation"];
    // The phone's contacts removed (a volume that did not open is no list at all: a
    // backup of it fails whatever is accepted).
    nlohmann::json volume = m_phone.ReadVolume("pim.vol");
    for (auto &database : volume["databases"])
        if (database["type"] == 24) database["records"] = nlohmann::json::array();
    WriteFileText(m_phone.path() / "volumes" / "pim.vol.json", volume.dump());
    Reconnect();
    host::Outcome refused, accepted;
    Backup(&refused);
    EXPECT_FALSE(refused.ok);
    EXPECT_NE(refused.message.find("where the last backup has 20"), std::string::npos) << refused.message;
    nlohmann::json fewer = Backup(&accepted, 0, true);
    ASSERT_TRUE(accepted.ok) << accepted.message;
    EXPECT_EQ(fewer["counts"]["contacts"], 0);
    EXPECT_TRUE(Verified(first));
}

TEST_F(CoreBackup, DigestsAreKnownAndAnEmptiedPhoneGetsBackWhatTheBackupHolds) {
#if defined(CEBRIDGE_HOST_READS_ICALENDAR)
    const bool restoresAppointments = true;
#else
    const bool restoresAppointments = false;  // this build's host reads no iCalendar files
#endif
    // The standard test messages, the last one spanning two blocks.
    const fs::path vectors = m_phone.fs() / "My Storage" / u8"벡터";
    const struct {
        const char *name;
        std::string text;
        const char *digest;
    } messages[] = {
        {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"two", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"million", std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"}};
    fs::create_directories(vectors);
    for (const auto &message : messages) WriteFileText(vectors / message.name, message.text);
    fs::create_directories(m_phone.fs() / "Storage Card" / u8"빈 폴더");
    ConnectOrFail();
    BackupOrFail();
    const nlohmann::json manifest = Manifest(m_folder);
    EXPECT_EQ(manifest["phoneNumber"], "010-2345-6789");
    const auto contents = Contents(manifest);
    for (const auto &message : messages)
        EXPECT_EQ(contents.at(std::string("files/My Storage/벡터/") + message.name)[1], message.digest) << message.name;
    EXPECT_FALSE(fs::exists(LatestGeneration(m_folder.Path()) / "files" / "Windows"));  // the phone's own programs

    // (The plug-in, asked for the root, makes its current folder again when that is gone.)
    ASSERT_TRUE(m_session.link.EnterFolder({}).ok);
    EmptyPhone(m_phone);
    Reconnect();
    nlohmann::json report;
    host::Outcome restored = Restore(m_folder, {true, true, restoresAppointments}, &report);
    ASSERT_TRUE(restored.ok) << restored.message;
    EXPECT_EQ(report["contacts"]["added"], manifest["counts"]["contacts"]);
    EXPECT_TRUE(fs::is_directory(m_phone.fs() / "Storage Card" / u8"빈 폴더"));
    host::BackupFolder second((m_pc.path() / "second").string());
    BackupOrFail(0, &second);
    nlohmann::json counts = manifest["counts"];
    if (!restoresAppointments) counts["appointments"] = 0;
    EXPECT_EQ(Manifest(second)["counts"], counts);
    // The same files; contacts and appointments the same but for what a restore cannot
    // give back: the birthdays and anniversaries the phone's add does not write, and
    // the stamp and phone ID an exported appointment carries.
    auto after = Contents(Manifest(second)), before = contents;
    for (const char *path : {"contacts.vcf", "calendar.ics"}) before.erase(path), after.erase(path);
    EXPECT_EQ(after, before);
    const fs::path earlier = LatestGeneration(m_folder.Path()), later = LatestGeneration(second.Path());
    EXPECT_EQ(Without(ReadFileText(later / "contacts.vcf"), {"BDAY", "X-ANNIVERSARY"}),
              Without(ReadFileText(earlier / "contacts.vcf"), {"BDAY", "X-ANNIVERSARY"}));
    if (restoresAppointments) {
        EXPECT_EQ(Without(ReadFileText(later / "calendar.ics"), {"DTSTAMP", "UID"}),
                  Without(ReadFileText(earlier / "calendar.ics"), {"DTSTAMP", "UID"}));
    }
}

// A copy changed after the backup, or a file it never made, is found; such a backup is
// not restored; a backup of a phone with the storage card is not put on one without it.
TEST_F(CoreBackup, WhatNoLongerMatchesIsFoundAndNotRestored) {
    ConnectOrFail();
    BackupOrFail();
    const fs::path generation = LatestGeneration(m_folder.Path());
    const fs::path card = m_phone.fs() / "Storage Card";
    m_phone.EditDevice([](nlohmann::json &device) { device["stores"].erase("Storage Card"); });
    fs::rename(card, m_logs.path() / "card");
    Reconnect();
    nlohmann::json report;
    host::Outcome refused = Restore(m_folder, {true, false, false}, &report);
    EXPECT_EQ(refused.kind, ErrorKind::kPhoneRefused) << refused.message;
    EXPECT_NE(refused.message.find("\\Storage Card, which this phone does not have"), std::string::npos)
        << refused.message;
    EXPECT_FALSE(fs::exists(card));

    fs::path copy = generation / "files" / "My Documents" / "readme.txt";
    std::string text = ReadFileText(copy);
    text[0] = static_cast<char>(text[0] ^ 1);  // same size, other content
    WriteFileText(copy, text);
    WriteFileText(generation / "stray.txt", "x");
    ASSERT_TRUE(host::VerifyBackup(m_folder, "", &report).ok);
    const nlohmann::json problems = {"files/My Documents/readme.txt: content changed",
                                     "stray.txt: not in the manifest"};
    EXPECT_EQ(report["problems"], problems);
    EXPECT_EQ(Restore(m_folder, {true, true, true}, &report).kind, ErrorKind::kPcFile);
}

// A folder is reused only when it holds a backup this program made: any other
// manifest.json (a web project's, a garbage one, a backup with the user's own files
// beside it) is refused and the folder stays as it was.
TEST_F(CoreBackup, FoldersThatHoldNoBackupOfItsOwnAreRefused) {
    ConnectOrFail();
    BackupOrFail();
    const std::string own = ReadFileText(LatestGeneration(m_folder.Path()) / "manifest.json");
    struct Case {
        const char *name, *manifest, *extra;
    } cases[] = {{"web", R"({"name":"x"})", "src/app.js"},
                 {"garbage", "not json at all", "src/app.js"},
                 {"near", R"({"format":1,"files":[]})", "src/app.js"},
                 {"besides", own.c_str(), "notes.txt"}};
    for (const Case &c : cases) {
        const fs::path folder = m_pc.path() / c.name;
        if (std::string(c.name) == "besides")
            fs::copy(LatestGeneration(m_folder.Path()), folder, fs::copy_options::recursive);
        fs::create_directories((folder / c.extra).parent_path());
        WriteFileText(folder / "manifest.json", c.manifest);
        WriteFileText(folder / c.extra, "code");
        std::string error;
        EXPECT_FALSE(host::BackupFolder(folder.string()).PrepareForBackup(&error)) << c.name;
        EXPECT_NE(error.find("holds no backup"), std::string::npos) << c.name << ": " << error;
        EXPECT_EQ(ReadFileText(folder / c.extra), "code") << c.name;
        EXPECT_EQ(ReadFileText(folder / "manifest.json"), c.manifest) << c.name;
    }
#if !defined(_WIN32)
    fs::create_symlink(m_folder.Path(), m_pc.path() / "link");  // a link to a backup stays a link
    host::BackupFolder linked((m_pc.path() / "link").string());
    BackupOrFail(0, &linked);
    EXPECT_TRUE(fs::is_symlink(m_pc.path() / "link"));
#endif
}

// What changed between two backups is acted on: an interrupted first backup is
// continued, a file left out is named, a damaged copy is fetched again, a file gone
// from the phone is named.
TEST_F(CoreBackup, ABackupContinuesRepairsAndNamesWhatIsGone) {
    const std::string longName = "a name longer than the 31 bytes.txt";
    WriteFileText(m_phone.fs() / "My Storage" / longName, "long");
    m_phone.EditDevice([](nlohmann::json &device) {  // the first backup breaks at its third file
        device["faults"].push_back({{"operation", "CeReadFile"}, {"nth", 8}, {"error", 5}});
    });
    ConnectOrFail();
    host::Outcome broken;
    EXPECT_FALSE(Backup(&broken).contains("generation"));
    EXPECT_FALSE(broken.ok);
    m_phone.EditDevice([](nlohmann::json &device) { device["faults"] = nlohmann::json::array(); });
    Reconnect();
    nlohmann::json first = BackupOrFail();
    EXPECT_GE(first["unchanged"], 2) << first.dump();  // what the broken run copied
    EXPECT_EQ(first["skipped"].size(), 1u) << first.dump();
    EXPECT_TRUE(Verified(""));

    const fs::path copy = LatestGeneration(m_folder.Path()) / "files" / "My Documents" / "readme.txt";
    std::string text = ReadFileText(copy);
    text[0] = static_cast<char>(text[0] ^ 1);
    WriteFileText(copy, text);
    fs::remove(m_phone.fs() / "My Storage" / longName);
    fs::remove(m_phone.fs() / "My Storage" / "notes.txt");
    nlohmann::json again = BackupOrFail();
    EXPECT_EQ(again["copied"], 1) << again.dump();
    EXPECT_EQ(again["gone"], nlohmann::json::array({"files/My Storage/notes.txt"})) << again.dump();
    EXPECT_TRUE(Verified(""));
}

// A backup of the earlier layout (one backup, its manifest at the top) verifies and
// restores in place; the next backup moves it into a generation of its own, and a
// move cut short is finished by the next command.
TEST_F(CoreBackup, ABackupOfTheEarlierLayoutReadsAsOneGenerationAndIsKept) {
    ConnectOrFail();
    BackupOrFail();
    const fs::path earlierPath = m_pc.path() / "earlier", cutPath = m_pc.path() / "cut";
    for (const fs::path &folder : {earlierPath, cutPath})
        fs::copy(LatestGeneration(m_folder.Path()), folder, fs::copy_options::recursive);
    host::BackupFolder earlier(earlierPath.string()), cut(cutPath.string());
    const std::string manifest = ReadFileText(earlierPath / "manifest.json");
    EXPECT_TRUE(Verified("", &earlier));
    const fs::path readme = m_phone.fs() / "My Documents" / "readme.txt";
    const std::string original = ReadFileText(readme);
    fs::remove(readme);
    nlohmann::json report;
    host::Outcome restored = Restore(earlier, {true, false, false}, &report);
    EXPECT_TRUE(restored.ok) << restored.message;
    EXPECT_EQ(ReadFileText(readme), original);

    WriteFileText(readme, "changed");
    EXPECT_EQ(BackupOrFail(0, &earlier)["copied"], 1);  // the rest shared with the earlier backup
    nlohmann::json list;
    ASSERT_TRUE(host::ListBackups(earlier, &list).ok);
    ASSERT_EQ(list["generations"].size(), 2u) << list.dump();
    const std::string moved = list["generations"][0]["name"];
    EXPECT_EQ(ReadFileText(earlierPath / moved / "manifest.json"), manifest);
    EXPECT_EQ(ReadFileText(earlierPath / moved / "files" / "My Documents" / "readme.txt"), original);
    EXPECT_TRUE(Verified(moved, &earlier));

    // Cut short after files/ moved: latest.json names the generation, the manifest is still at the top.
    WriteFileText(cutPath / "latest.json", R"({"format": 2, "latest": "2026-01-02T030405Z"})");
    fs::create_directories(cutPath / "2026-01-02T030405Z");
    fs::rename(cutPath / "files", cutPath / "2026-01-02T030405Z" / "files");
    ASSERT_TRUE(host::VerifyBackup(cut, "", &report).ok);
    EXPECT_EQ(report["generation"], "2026-01-02T030405Z") << report.dump();
    EXPECT_TRUE(report["verified"].get<bool>()) << report.dump();
    EXPECT_FALSE(fs::exists(cutPath / "manifest.json"));
}

}  // namespace

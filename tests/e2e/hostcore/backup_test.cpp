// The core's backup in-process: each backup is a generation of its own; a backup the
// user cancels leaves the latest as it was; the earlier generations verify and restore.
#include "backup.h"
#include "core_fixture.h"
#include "e2e/host/host_fixture.h"
#include "manifest.h"

#include <algorithm>
#include <functional>
#include <sstream>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/scoped_time_zone.h"
#endif

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

// Every contact and appointment goes.
void EmptyPim(const PhoneCopy &phone) {
    fs::path volume = phone.path() / "volumes" / "pim.vol.json";
    nlohmann::json pim = nlohmann::json::parse(ReadFileText(volume));
    for (nlohmann::json &database : pim["databases"])
        if (database["type"] == 24 || database["type"] == 25) database["records"] = nlohmann::json::array();
    WriteFileText(volume, pim.dump());
}

// Everything the phone's stores hold goes, and every contact and appointment; the
// stores' folders stay.
void EmptyPhone(const PhoneCopy &phone) {
    for (const char *folder : {"My Documents", "My Storage", "Storage Card"})
        for (const auto &entry : fs::directory_iterator(phone.fs() / folder)) fs::remove_all(entry.path());
    EmptyPim(phone);
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
                          host::BackupFolder *folder = nullptr, bool force = false) {
        host::BackupFolder &into = folder ? *folder : m_folder;
        const host::Outcome prepared = into.PrepareForBackup();
        EXPECT_TRUE(prepared.ok) << prepared.message;
        CancellingSink sink(m_interrupted, cancelAt);
        host::BackupResult result;
        *outcome = host::MakeBackup(m_session, into, acceptFewer, keep, sink, &result, force);
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
    // The generation's manifest.json as written.
    nlohmann::json Manifest(host::BackupFolder &folder, const std::string &generation = "") {
        fs::path read;
        host::Manifest manifest;
        EXPECT_TRUE(host::ReadBackupGeneration(folder, generation, &read, &manifest).ok);
        return nlohmann::json::parse(ReadFileText(read / host::kManifestName));
    }
    host::Outcome Restore(host::BackupFolder &folder, host::RestoreParts parts, nlohmann::json *report,
                          const std::string &generation = "") {
        fs::path read;
        host::Manifest manifest;
        host::Outcome outcome = host::ReadBackupGeneration(folder, generation, &read, &manifest);
        if (!outcome.ok) return outcome;
        host::TransferSink files;
        host::ItemSink items;
        return host::RestoreBackup(m_session, read, manifest, parts, files, items, report);
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
    host::Manifest manifest;
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

// A copy changed after the backup, or a file it never made, is found; a restore puts
// back everything that still matches and names the rest: a damaged copy (shared by
// every generation as a hard link), the files of a card the phone lacks now (a plain
// folder in its name is no card), a folder where a file was and a file where a
// folder was.
TEST_F(CoreBackup, ARestorePutsBackWhatMatchesAndNamesTheRest) {
    ConnectOrFail();
    BackupOrFail();
    const fs::path generation = LatestGeneration(m_folder.Path());
    fs::path copy = generation / "files" / "My Documents" / "readme.txt";
    std::string text = ReadFileText(copy);
    text[0] = static_cast<char>(text[0] ^ 1);  // same size, other content
    WriteFileText(copy, text);
    WriteFileText(generation / "stray.txt", "x");
    nlohmann::json report;
    ASSERT_TRUE(host::VerifyBackup(m_folder, "", &report).ok);
    const nlohmann::json problems = {"files/My Documents/readme.txt: content changed",
                                     "stray.txt: not in the manifest"};
    EXPECT_EQ(report["problems"], problems);

    // (The plug-in, asked for the root, makes its current folder again when that is gone.)
    ASSERT_TRUE(m_session.link.EnterFolder({}).ok);
    const fs::path card = m_phone.fs() / "Storage Card";
    fs::rename(card, m_logs.path() / "card");
    fs::create_directories(card);  // the card out, a plain folder left in its name
    m_phone.EditDevice([](nlohmann::json &device) { device["stores"].erase("Storage Card"); });
    const fs::path documents = m_phone.fs() / "My Documents";
    fs::remove(documents / "readme.txt");  // its copy damaged
    fs::remove(documents / "DSC_0001.jpg");
    fs::remove(documents / u8"회의록.txt");
    fs::create_directories(documents / u8"회의록.txt");
    fs::remove_all(documents / "Templates");
    WriteFileText(documents / "Templates", "a file where a folder was");
    // A name the phone's code page cannot say (a backup made under another one).
    const std::string unsayable = "files/My Documents/smile 😀.txt";
    WriteFileText(generation / "files" / "My Documents" / u8"smile 😀.txt", "x");
    nlohmann::json manifest = nlohmann::json::parse(ReadFileText(generation / "manifest.json"));
    manifest["files"].push_back({{"path", unsayable},
                                 {"size", 1},
                                 {"sha256", "2d711642b726b04401627ca9fbac32f5c8530fb1903cc4db02258717921a4881"}});
    WriteFileText(generation / "manifest.json", manifest.dump());
    EmptyPim(m_phone);
    Reconnect();

    host::Outcome restored = Restore(m_folder, {true, true, false}, &report);
    ASSERT_TRUE(restored.ok) << restored.message;
    const std::string notRestored = report["notRestored"].dump();
    for (const std::string &part : {std::string("files/My Documents/readme.txt: the backup's copy does not match"),
                                    std::string("files/Storage Card: the phone has no such store now"),
                                    std::string("files/My Documents/회의록.txt: the phone has a folder of that name"),
                                    std::string("files/My Documents/Templates: the folder could not be made"),
                                    unsayable + ": a name the code page"})
        EXPECT_NE(notRestored.find(part), std::string::npos) << part << " in " << notRestored;
    EXPECT_EQ(TreeOf(card), (std::map<std::string, std::string>{}));  // nothing of the card's went into the memory
    EXPECT_FALSE(fs::exists(documents / "readme.txt"));
    EXPECT_TRUE(fs::exists(documents / "DSC_0001.jpg"));
    EXPECT_EQ(report["files"]["restored"], 1) << report.dump();
    EXPECT_EQ(report["contacts"]["added"], 20) << report.dump();  // the contacts still came back

    WriteFileText(generation / "contacts.vcf", "damaged");
    EmptyPim(m_phone);
    Reconnect();
    ASSERT_TRUE(Restore(m_folder, {false, true, false}, &report).ok);
    EXPECT_FALSE(report.contains("contacts")) << report.dump();
    EXPECT_NE(report["notRestored"].dump().find("contacts.vcf: the backup's copy does not match"), std::string::npos);
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
        const host::Outcome prepared = host::BackupFolder(folder.string()).PrepareForBackup();
        EXPECT_FALSE(prepared.ok) << c.name;
        EXPECT_NE(prepared.message.find("holds no backup"), std::string::npos) << c.name << ": " << prepared.message;
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
        device["faults"].push_back({{"operation", "CeReadFile"}, {"nth", 8}, {"linkDrop", true}});
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

// A manifest as backups write it reads and is written back byte for byte; one with
// a value of the wrong kind, or without its files, is refused naming the file.
TEST(BackupManifest, ReadsAndWritesTheBackupsBytesAndRefusesAnotherShape) {
    const std::string golden = R"({
  "counts": {
    "apps": 1,
    "bytes": 5,
    "contacts": 2,
    "files": 1
  },
  "files": [
    {
      "modified": "2026-12-08T11:22:33Z",
      "path": "files/My Documents/résumé \"1\".txt",
      "sha256": "2cf24dba5fb0a30e26e83b2ac5b9e29e1b161e5c1fa7425e73043362938b9824",
      "size": 5
    },
    {
      "modified": "",
      "path": "files/Storage Card/empty",
      "sha256": "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855",
      "size": 0
    },
    {
      "path": "apps.json",
      "sha256": "44136fa355b3678a1146ad16f7e8649e94fb4fc21fe77e8310c060f61caaff8a",
      "size": 18446744073709551615
    }
  ],
  "folders": [
    "files/My Documents",
    "files/Storage Card"
  ],
  "format": 1,
  "manufacturer": "",
  "model": "PHONE",
  "phoneNumber": "010-2345-6789",
  "skipped": [],
  "stores": [
    "files/Storage Card"
  ],
  "time": "2026-12-08T20:22:33+09:00",
  "unread": [
    {
      "part": "sms.json",
      "why": "the message volume did not mount"
    }
  ]
}
)";
    TempDir pc;
    const fs::path file = pc.path() / host::kManifestName, again = pc.path() / "again.json";
    WriteFileText(file, golden);
    host::Manifest manifest;
    ASSERT_TRUE(host::ReadManifest(file, &manifest).ok);
    EXPECT_EQ(manifest.files.at(0).path, "files/My Documents/r\xc3\xa9sum\xc3\xa9 \"1\".txt");
    ASSERT_TRUE(host::WriteManifest(again, manifest).ok);
    EXPECT_EQ(ReadFileText(again), golden);

    for (const std::string &damaged :
         {std::string(R"({"format":1,"files":[{"path":"x","size":"5","sha256":""}]})"), std::string(R"({"format":1})"),
          std::string(R"({"format":1,"files":[],"counts":{"files":-1}})"),
          std::string(R"({"format":1,"files":[],"unread":["sms.json"]})"), std::string(R"({"format":2,"files":[]})"),
          std::string(R"([])")}) {
        WriteFileText(file, damaged);
        const host::Outcome read = host::ReadManifest(file, &manifest);
        EXPECT_EQ(read.kind, ErrorKind::kPcFile) << damaged;
        EXPECT_NE(read.message.find(file.string()), std::string::npos) << read.message;
    }
}

}  // namespace

namespace {

// Whether anything below `folder` is a temporary of cebridge's.
std::vector<std::string> Temporaries(const fs::path &folder) {
    std::vector<std::string> found;
    for (const auto &entry : fs::recursive_directory_iterator(folder))
        if (entry.path().filename().string().rfind(".cebridge-", 0) == 0 ||
            entry.path().filename().extension() == ".part" || entry.path().filename() == "fetched.journal")
            found.push_back(fs::relative(entry.path(), folder).generic_string());
    return found;
}

// Every temporary a killed run can leave (a download's or an export's private
// folder, empty or holding a cut file, a JSON file's `.part`, a generation whose
// removal was cut short) is cleared by the next backup and never joins a generation.
TEST_F(CoreBackup, WhatAKilledRunLeftIsClearedAndJoinsNoGeneration) {
    ConnectOrFail();
    const std::string first = BackupOrFail()["generation"];
    const fs::path side = m_folder.Unfinished();
    for (const char *temporary : {".cebridge-0badf00d.part/0", ".cebridge-1badf00d.part/contacts.vcf",
                                  "files/My Documents/.cebridge-2badf00d.part/0", "manifest.json.part"}) {
        fs::create_directories((side / temporary).parent_path());
        WriteFileText(side / temporary, "cut");
    }
    fs::create_directories(side / "files" / "Storage Card" / ".cebridge-3badf00d.part");
    fs::create_directories(side / "files" / "gone folder");
    WriteFileText(m_folder.Path() / "latest.json.part", "{");
    fs::create_directories(m_folder.Path() / "2001-01-01T000000Z" / "files");  // its manifest removed first
#if !defined(_WIN32)
    // One whose manifest cannot be looked at is not known to lack it: it stays.
    const fs::path unreadable = m_folder.Path() / "2002-02-02T000000Z";
    fs::create_symlink(unreadable.filename(), unreadable);  // (a loop: ELOOP)
#endif
    const std::string second = BackupOrFail()["generation"];
    EXPECT_EQ(Temporaries(m_folder.Path()), std::vector<std::string>{}) << second;
    EXPECT_FALSE(fs::exists(m_folder.Path() / second / "files" / "gone folder"));
    EXPECT_FALSE(fs::exists(m_folder.Path() / "2001-01-01T000000Z"));
#if !defined(_WIN32)
    EXPECT_TRUE(fs::is_symlink(unreadable));
#endif
    EXPECT_TRUE(Verified(second) && Verified(first));
}

// A phone that could not read a kind answers as if it held less: a find that fails
// part way, a message volume that does not mount, a call log that is missing. Such a
// backup does not become the latest (the latest keeps them) unless the drop is meant.
TEST_F(CoreBackup, ABackupThatHoldsFarLessDoesNotBecomeTheLatest) {
    ConnectOrFail();
    const std::string first = BackupOrFail()["generation"];
    const fs::path volumes = m_phone.path() / "volumes";
    const struct {
        const char *kind;
        std::function<void()> fail, mend;
    } cases[] = {
        {"files",
         [&] {
             m_phone.EditDevice([](nlohmann::json &device) {
                 device["faults"] = {{{"operation", "CeFindFirstFile"}, {"nth", 3}, {"persistent", true}}};
             });
         },
         [&] { m_phone.EditDevice([](nlohmann::json &device) { device["faults"] = nlohmann::json::array(); }); }},
        {"messages", [&] { fs::rename(volumes / "sms.vol.json", m_pc.path() / "sms.vol.json"); },
         [&] { fs::rename(m_pc.path() / "sms.vol.json", volumes / "sms.vol.json"); }},
        {"calls",
         [&] {
             const std::string pim = ReadFileText(volumes / "pim.vol.json");
             WriteFileText(m_pc.path() / "pim.vol.json", pim);
             nlohmann::json volume = nlohmann::json::parse(pim);
             for (nlohmann::json &database : volume["databases"])
                 if (database["type"] == 0) database["records"] = nlohmann::json::array();
             WriteFileText(volumes / "pim.vol.json", volume.dump());
         },
         [&] { fs::rename(m_pc.path() / "pim.vol.json", volumes / "pim.vol.json"); }},
    };
    for (const auto &c : cases) {
        c.fail();
        Reconnect();
        host::Outcome refused;
        nlohmann::json summary = Backup(&refused);
        // (Refused by the shrink guard, or made without the part the read itself shows it failed.)
        EXPECT_TRUE(!refused.ok || !summary["unread"].empty()) << c.kind << ": " << summary.dump();
        EXPECT_EQ(m_folder.Latest(), first) << c.kind;
        c.mend();
    }
    Reconnect();
    EXPECT_NE(BackupOrFail()["generation"], first);  // all of it again: made
}

// A store the phone lacks now is "not present", never "deleted": its files are not
// named gone, and --keep keeps the last generation holding them (and the last copy
// of a file removed on the phone) unless --force says otherwise.
TEST_F(CoreBackup, KeepNeverRemovesTheLastCopyOfWhatThePhoneLacksNow) {
    ConnectOrFail();
    const std::string first = BackupOrFail()["generation"];
    fs::rename(m_phone.fs() / "Storage Card", m_pc.path() / "card");
    m_phone.EditDevice([](nlohmann::json &device) { device["stores"].erase("Storage Card"); });
    Reconnect();
    nlohmann::json cardOut = BackupOrFail(1);
    EXPECT_EQ(cardOut["notPresent"], nlohmann::json::array({"files/Storage Card"})) << cardOut.dump();
    EXPECT_EQ(cardOut["gone"], nlohmann::json::array()) << cardOut.dump();
    EXPECT_EQ(cardOut["held"], nlohmann::json::array({first})) << cardOut.dump();
    EXPECT_TRUE(Verified(first));

    fs::rename(m_pc.path() / "card", m_phone.fs() / "Storage Card");
    m_phone.EditDevice([](nlohmann::json &device) { device["stores"]["Storage Card"]["mounted"] = true; });
    Reconnect();
    nlohmann::json cardIn = BackupOrFail(1);  // the card's files again: the first may go, the second too
    EXPECT_EQ(cardIn["removed"].size(), 2u) << cardIn.dump();
    fs::remove(m_phone.fs() / "My Documents" / "readme.txt");
    const std::string holder = cardIn["generation"];
    EXPECT_EQ(BackupOrFail(1)["held"], nlohmann::json::array({holder}));
    host::Outcome forced;
    nlohmann::json summary = Backup(&forced, 1, false, 0, nullptr, true);
    ASSERT_TRUE(forced.ok) << forced.message;
    EXPECT_EQ(summary["removed"].size(), 2u) << summary.dump();
}

// A copy an interrupted backup left in unfinished/ is taken only as it was hashed
// when it landed: one damaged on the PC since (same size, same time) is fetched again.
TEST_F(CoreBackup, ACopyLeftInUnfinishedIsTakenOnlyAsItWasHashed) {
    m_phone.EditDevice([](nlohmann::json &device) {  // the link falls at the third file
        device["faults"].push_back({{"operation", "CeReadFile"}, {"nth", 8}, {"linkDrop", true}});
    });
    ConnectOrFail();
    host::Outcome broken;
    Backup(&broken);
    ASSERT_FALSE(broken.ok);
    const fs::path copy = m_folder.Unfinished() / "files" / "My Documents" / "readme.txt";
    ASSERT_TRUE(fs::exists(copy));
    const auto time = fs::last_write_time(copy);
    std::string text = ReadFileText(copy);
    text[0] = static_cast<char>(text[0] ^ 1);
    WriteFileText(copy, text);
    fs::last_write_time(copy, time);
    m_phone.EditDevice([](nlohmann::json &device) { device["faults"] = nlohmann::json::array(); });
    Reconnect();
    nlohmann::json summary = BackupOrFail();
    EXPECT_GE(summary["unchanged"], 1) << summary.dump();  // the others it copied are kept
    EXPECT_EQ(ReadFileText(LatestGeneration(m_folder.Path()) / "files" / "My Documents" / "readme.txt"),
              ReadFileText(m_phone.fs() / "My Documents" / "readme.txt"));
    EXPECT_TRUE(Verified(""));
}

// A phone file another program holds open cannot be read: it is left out and named,
// as a name too long to fetch is, and the generation is still made.
#if !defined(_WIN32)
TEST_F(CoreBackup, AFileThePhoneCannotOpenIsLeftOutAndNamed) {
    const fs::path held = m_phone.fs() / "My Documents" / "readme.txt";
    const int fd = open(held.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);  // (the phone's own writer)
    ConnectOrFail();
    host::Outcome outcome;
    nlohmann::json summary = Backup(&outcome);
    close(fd);
    ASSERT_TRUE(outcome.ok) << outcome.message;
    ASSERT_EQ(summary["skipped"].size(), 1u) << summary.dump();
    EXPECT_EQ(summary["skipped"][0].get<std::string>().rfind("\\My Documents\\readme.txt: the phone could not", 0), 0u)
        << summary.dump();
    EXPECT_TRUE(Verified(""));
    EXPECT_GE(Manifest(m_folder)["counts"]["files"], 5);
}
#endif

// A restore cut short (the link fell as a file was being sent) leaves that file cut
// on the phone; the failure names it, and the next restore replaces it instead of
// keeping it as the phone's own.
TEST_F(CoreBackup, ARestoreReplacesTheCutFileAnEarlierOneLeft) {
    const fs::path big = m_phone.fs() / "My Documents" / "p7.bin";
    const std::string content = RandomBytes(500000);
    WriteFileText(big, content);
    ConnectOrFail();
    BackupOrFail();
    fs::remove(big);
    m_phone.EditDevice([](nlohmann::json &device) {
        device["faults"].push_back({{"operation", "CeWriteFile"}, {"nth", 2}, {"linkDrop", true}});
    });
    Reconnect();
    nlohmann::json report;
    host::Outcome cut = Restore(m_folder, {true, false, false}, &report);
    ASSERT_FALSE(cut.ok);
    EXPECT_NE(cut.note.find("\\My Documents\\p7.bin"), std::string::npos) << cut.message << " / " << cut.note;
    ASSERT_TRUE(fs::exists(big));
    ASSERT_LT(fs::file_size(big), content.size());
    m_phone.EditDevice([](nlohmann::json &device) { device["faults"] = nlohmann::json::array(); });
    Reconnect();
    host::Outcome again = Restore(m_folder, {true, false, false}, &report);
    ASSERT_TRUE(again.ok) << again.message;
    EXPECT_EQ(report["files"]["replacedCut"], 1) << report.dump() << cut.message << " / " << cut.note;
    EXPECT_TRUE(ReadFileText(big) == content);
}

// Two contacts of one name and no number, two appointments of one title and start:
// each is restored, the phone's one standing for one of them.
TEST_F(CoreBackup, ItemsThatShareAKeyAreRestoredOneForOne) {
    const fs::path volume = m_phone.path() / "volumes" / "pim.vol.json";
    nlohmann::json pim = nlohmann::json::parse(ReadFileText(volume));
    for (nlohmann::json &database : pim["databases"])
        if (database["type"] == 24 || database["type"] == 25) {
            nlohmann::json twin = database["records"][0];
            database["records"] = nlohmann::json::array({database["records"][0], twin});
            database["records"][1]["oid"] = database["records"][0]["oid"].get<uint32_t>() + 0x777;
        }
    WriteFileText(volume, pim.dump());
    ConnectOrFail();
    BackupOrFail();
    nlohmann::json one = nlohmann::json::parse(ReadFileText(volume));
    for (nlohmann::json &database : one["databases"])
        if (database["type"] == 24 || database["type"] == 25) database["records"].erase(1);
    WriteFileText(volume, one.dump());
    Reconnect();
    nlohmann::json report;
#if defined(CEBRIDGE_HOST_READS_ICALENDAR)
    const bool calendar = true;
#else  // (this build reads no iCalendar file: the calendar cannot be restored at all)
    const bool calendar = false;
#endif
    host::Outcome restored = Restore(m_folder, {false, true, calendar}, &report);
    ASSERT_TRUE(restored.ok) << restored.message;
    EXPECT_EQ(report["contacts"]["added"], 1) << report.dump();
    EXPECT_EQ(report["contacts"]["skipped"], 1) << report.dump();
#if defined(CEBRIDGE_HOST_READS_ICALENDAR)
    EXPECT_EQ(report["calendar"]["added"], 1) << report.dump();
#endif
}

// The listing joins runs of spaces and ignores case: a look-alike on the phone is not
// the file the backup holds, and the one of exactly its name is put back.
TEST_F(CoreBackup, ARestoreTellsTheNamedFileFromItsLookAlikes) {
    const fs::path documents = m_phone.fs() / "My Documents";
    WriteFileText(documents / "a  b.txt", "two spaces");
    WriteFileText(documents / "Case.txt", "upper");
    ConnectOrFail();
    BackupOrFail();
    fs::remove(documents / "a  b.txt");
    WriteFileText(documents / "a b.txt", "one space");  // lists as the backed-up name does
    Reconnect();
    nlohmann::json report;
    host::Outcome restored = Restore(m_folder, {true, false, false}, &report);
    ASSERT_TRUE(restored.ok) << restored.message;
    EXPECT_EQ(ReadFileText(documents / "a  b.txt"), "two spaces");
    EXPECT_EQ(ReadFileText(documents / "a b.txt"), "one space");
    EXPECT_EQ(ReadFileText(documents / "Case.txt"), "upper");  // the same name, kept
    EXPECT_EQ(report["files"]["restored"], 1) << report.dump();
}

#if !defined(_WIN32)
// The manifest keeps a time in the repeated hour as the earlier instant and marks it
// as one of two; the backup says which file.
TEST_F(CoreBackup, ATimeInTheRepeatedHourIsMarkedInTheManifest) {
    ScopedTimeZone zone("EST5EDT,M3.2.0,M11.1.0");
    const fs::path file = m_phone.fs() / "My Documents" / "twice.txt";
    WriteFileText(file, "twice");
    const struct timespec times[2] = {{0, UTIME_OMIT}, {1793514600, 0}};  // the second 01:30
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    ConnectOrFail();
    ASSERT_TRUE(m_folder.PrepareForBackup().ok);
    RecordingSink sink;
    host::BackupResult result;
    const host::Outcome outcome = host::MakeBackup(m_session, m_folder, false, 0, sink, &result);
    ASSERT_TRUE(outcome.ok) << outcome.message;
    size_t marked = 0;
    const nlohmann::json manifest = Manifest(m_folder);
    for (const nlohmann::json &entry : manifest["files"]) {
        if (!entry.value("modifiedAmbiguous", false)) continue;
        ++marked;
        EXPECT_EQ(entry["path"], "files/My Documents/twice.txt");
        EXPECT_EQ(entry["modified"], "2026-11-01T05:30:00Z");  // the first 01:30 (EDT)
    }
    EXPECT_EQ(marked, 1u);
    EXPECT_EQ(std::count_if(sink.warnings.begin(), sink.warnings.end(),
                            [](const std::string &text) { return text.find("twice.txt") != std::string::npos; }),
              1);
}
#endif

}  // namespace

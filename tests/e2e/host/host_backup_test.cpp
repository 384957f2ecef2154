// backup, backup --verify and restore through the built host against a copy of the
// demo phone.
#include "host_fixture.h"

#include <algorithm>
#include <sstream>

namespace fs = std::filesystem;

namespace {

nlohmann::json Manifest(const fs::path &backup) {
    return nlohmann::json::parse(ReadFileText(LatestGeneration(backup) / "manifest.json"));
}

// Each file of a manifest (path -> size and digest), without the times.
std::map<std::string, nlohmann::json> Contents(const nlohmann::json &manifest) {
    std::map<std::string, nlohmann::json> files;
    for (const nlohmann::json &entry : manifest["files"]) files[entry["path"]] = {entry["size"], entry["sha256"]};
    return files;
}

std::string DigestOf(const nlohmann::json &manifest, const std::string &path) {
    for (const nlohmann::json &entry : manifest["files"])
        if (entry["path"] == path) return entry["sha256"];
    return "";
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

}  // namespace

TEST_F(HostCli, BackupRecordsKnownDigestsAndRestoresAnEmptiedPhone) {
#if defined(CEBRIDGE_HOST_READS_ICALENDAR)
    const bool restoresAppointments = true;
#else
    const bool restoresAppointments = false;  // this build's host reads no iCalendar files
#endif
    // Digests of the standard test messages, the last one spanning two blocks.
    fs::path vectors = m_phone.fs() / "My Storage" / u8"벡터";
    fs::create_directories(vectors);
    WriteFileText(vectors / "empty", "");
    WriteFileText(vectors / "abc", "abc");
    WriteFileText(vectors / "two", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq");
    WriteFileText(vectors / "million", std::string(1000000, 'a'));
    fs::create_directories(m_phone.fs() / "Storage Card" / u8"빈 폴더");
    fs::path backup = m_home.path() / "phone";

    HostRun first = Host({"backup", backup.string()});
    ASSERT_EQ(first.exitCode, 0) << first.err;
    nlohmann::json manifest = Manifest(backup);
    EXPECT_EQ(manifest["phoneNumber"], "010-2345-6789");
    EXPECT_EQ(DigestOf(manifest, "files/My Storage/벡터/empty"),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(DigestOf(manifest, "files/My Storage/벡터/abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(DigestOf(manifest, "files/My Storage/벡터/two"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(DigestOf(manifest, "files/My Storage/벡터/million"),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    EXPECT_EQ(ReadFileText(LatestGeneration(backup) / "files" / "My Documents" / u8"회의록.txt"),
              ReadFileText(m_phone.fs() / "My Documents" / u8"회의록.txt"));
    EXPECT_FALSE(fs::exists(LatestGeneration(backup) / "files" / "Windows"));  // the phone's own programs stay out
    EXPECT_EQ(Host({"backup", "--verify", backup.string()}).exitCode, 0);

    // Again, with one file changed: only that one is copied.
    WriteFileText(m_phone.fs() / "My Documents" / "readme.txt", "changed on the phone");
    HostRun again = Host({"--json", "backup", backup.string()});
    ASSERT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(Json(again)["copied"], 1);
    EXPECT_EQ(ReadFileText(LatestGeneration(backup) / "files" / "My Documents" / "readme.txt"), "changed on the phone");

    EmptyPhone(m_phone);
    std::vector<std::string> restoreArguments = {"--json", "restore", backup.string()};
    if (!restoresAppointments) restoreArguments.insert(restoreArguments.end(), {"--files", "--contacts"});
    HostRun restore = Host(restoreArguments);
    ASSERT_EQ(restore.exitCode, 0) << restore.err;
    EXPECT_EQ(Json(restore)["contacts"]["added"], Manifest(backup)["counts"]["contacts"]);
    EXPECT_TRUE(fs::is_directory(m_phone.fs() / "Storage Card" / u8"빈 폴더"));
    fs::path second = m_home.path() / "second";
    ASSERT_EQ(Host({"backup", second.string()}).exitCode, 0);
    nlohmann::json counts = Manifest(backup)["counts"];
    if (!restoresAppointments) counts["appointments"] = 0;
    EXPECT_EQ(Manifest(second)["counts"], counts);
    // The same files; contacts and appointments the same but for what a restore cannot
    // give back: the birthdays and anniversaries the phone's add does not write, and
    // the stamp and phone ID an exported appointment carries.
    auto before = Contents(Manifest(backup)), after = Contents(Manifest(second));
    for (const char *path : {"contacts.vcf", "calendar.ics"}) before.erase(path), after.erase(path);
    EXPECT_EQ(after, before);
    EXPECT_EQ(Without(ReadFileText(LatestGeneration(second) / "contacts.vcf"), {"BDAY", "X-ANNIVERSARY"}),
              Without(ReadFileText(LatestGeneration(backup) / "contacts.vcf"), {"BDAY", "X-ANNIVERSARY"}));
    if (restoresAppointments) {
        EXPECT_EQ(Without(ReadFileText(LatestGeneration(second) / "calendar.ics"), {"DTSTAMP", "UID"}),
                  Without(ReadFileText(LatestGeneration(backup) / "calendar.ics"), {"DTSTAMP", "UID"}));
    }
}

TEST_F(HostCli, VerifyFindsWhatChangedAndRestoreRefusesIt) {
    fs::path backup = m_home.path() / "phone";
    ASSERT_EQ(Host({"backup", backup.string()}).exitCode, 0);
    fs::path copy = LatestGeneration(backup) / "files" / "My Documents" / "readme.txt";
    std::string text = ReadFileText(copy);
    text[0] = static_cast<char>(text[0] ^ 1);  // same size, other content
    WriteFileText(copy, text);
    WriteFileText(LatestGeneration(backup) / "stray.txt", "x");

    HostRun verify = Host({"--json", "backup", "--verify", backup.string()});
    EXPECT_EQ(verify.exitCode, 1);
    EXPECT_EQ(Json(verify)["problems"], nlohmann::json::array({"files/My Documents/readme.txt: content changed",
                                                               "stray.txt: not in the manifest"}));
    HostRun restore = Host({"restore", backup.string()});
    EXPECT_EQ(restore.exitCode, 3);
    EXPECT_NE(restore.err.find("does not match its manifest"), std::string::npos) << restore.err;
}

// A folder is reused only when it holds a backup this program made: any other
// manifest.json (a web project's, a garbage one, a backup with the user's own files
// beside it) is refused and the folder stays as it was.
TEST_F(HostCli, BackupRefusesFoldersThatHoldNoBackupOfItsOwn) {
    fs::path made = m_home.path() / "made";
    ASSERT_EQ(Host({"backup", made.string()}).exitCode, 0);
    const std::string own = ReadFileText(LatestGeneration(made) / "manifest.json");
    struct Case {
        const char *name, *manifest, *extra;
    } cases[] = {{"web", R"({"name":"x"})", "src/app.js"},
                 {"garbage", "not json at all", "src/app.js"},
                 {"near", R"({"format":1,"files":[]})", "src/app.js"},
                 {"besides", own.c_str(), "notes.txt"}};
    for (const Case &c : cases) {
        fs::path folder = m_home.path() / c.name;
        if (std::string(c.name) == "besides") fs::copy(LatestGeneration(made), folder, fs::copy_options::recursive);
        fs::create_directories((folder / c.extra).parent_path());
        WriteFileText(folder / "manifest.json", c.manifest);
        WriteFileText(folder / c.extra, "code");
        HostRun refused = Host({"backup", folder.string()});
        EXPECT_EQ(refused.exitCode, 3) << c.name << ": " << refused.err;
        EXPECT_NE(refused.err.find("holds no backup"), std::string::npos) << c.name << ": " << refused.err;
        EXPECT_EQ(ReadFileText(folder / c.extra), "code") << c.name;
        EXPECT_EQ(ReadFileText(folder / "manifest.json"), c.manifest) << c.name;
    }
#if !defined(_WIN32)
    // A link to a backup stays a link; a backup started inside its folder leaves the
    // folder where it was.
    fs::create_symlink(made, m_home.path() / "link");
    EXPECT_EQ(Host({"backup", (m_home.path() / "link").string()}).exitCode, 0);
    EXPECT_TRUE(fs::is_symlink(m_home.path() / "link"));
    std::string inside = "cd '" + made.string() + "' && '" + HostProgram() + "' backup . 2>/dev/null && ls >/dev/null";
    EXPECT_EQ(std::system(inside.c_str()), 0);
    EXPECT_EQ(Json(Host({"--json", "backup", "--list", made.string()}))["generations"].size(), 3u);
#endif
}

// What changed between two backups is said and acted on: a damaged copy is fetched
// again, a file gone from the phone is named, a file left out is in `skipped` and
// makes the exit 1 (for `get -r` too), and an interrupted first backup is continued.
TEST_F(HostCli, BackupRepairsReportsAndContinues) {
    fs::path backup = m_home.path() / "phone";
    const std::string longName = "a name longer than the 31 bytes.txt";
    WriteFileText(m_phone.fs() / "My Storage" / longName, "long");
    m_phone.EditDevice([](nlohmann::json &device) {  // the first backup breaks at its third file
        device["faults"].push_back({{"operation", "CeReadFile"}, {"nth", 8}, {"error", 5}});
    });
    HostRun broken = Host({"backup", backup.string()});
    EXPECT_EQ(broken.exitCode, 1) << broken.err;
    EXPECT_NE(broken.err.find("continues from them"), std::string::npos) << broken.err;
    m_phone.EditDevice([](nlohmann::json &device) { device["faults"] = nlohmann::json::array(); });

    HostRun first = Host({"--json", "backup", backup.string()});
    EXPECT_EQ(first.exitCode, 1) << first.err;
    EXPECT_GE(Json(first)["unchanged"], 2) << first.out;  // what the broken run copied
    EXPECT_EQ(Json(first)["skipped"].size(), 1u) << first.out;
    EXPECT_NE(first.err.find(longName), std::string::npos) << first.err;
    EXPECT_EQ(Host({"backup", "--verify", backup.string()}).exitCode, 0);

    fs::path copy = LatestGeneration(backup) / "files" / "My Documents" / "readme.txt";
    std::string text = ReadFileText(copy);
    text[0] = static_cast<char>(text[0] ^ 1);
    WriteFileText(copy, text);
    fs::remove(m_phone.fs() / "My Storage" / longName);
    fs::remove(m_phone.fs() / "My Storage" / "notes.txt");
    HostRun again = Host({"--json", "backup", backup.string()});
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(Json(again)["copied"], 1) << again.out;
    EXPECT_EQ(Json(again)["gone"], nlohmann::json::array({"files/My Storage/notes.txt"})) << again.out;
    EXPECT_NE(again.err.find("no longer on the phone"), std::string::npos) << again.err;
    EXPECT_EQ(Host({"backup", "--verify", backup.string()}).exitCode, 0);

    WriteFileText(m_phone.fs() / "My Storage" / longName, "long");
    HostRun tree = Host({"--json", "get", "-r", "/My Storage", (m_home.path() / "tree").string()});
    EXPECT_EQ(tree.exitCode, 1) << tree.err;
    EXPECT_EQ(Json(tree)["skipped"].size(), 1u) << tree.out;
}

// A backup with files of the storage card is not restored onto a phone without the
// card: they would land in a plain folder of the phone's memory.
TEST_F(HostCli, RestoreRefusesAPhoneWithoutTheBackupsCard) {
    fs::path backup = m_home.path() / "phone";
    ASSERT_EQ(Host({"backup", backup.string()}).exitCode, 0);
    fs::remove_all(m_phone.fs() / "Storage Card");
    m_phone.EditDevice([](nlohmann::json &device) { device["stores"].erase("Storage Card"); });
    HostRun restore = Host({"restore", "--files", backup.string()});
    EXPECT_EQ(restore.exitCode, 1) << restore.err;
    EXPECT_NE(restore.err.find("\\Storage Card, which this phone does not have"), std::string::npos) << restore.err;
    EXPECT_FALSE(fs::exists(m_phone.fs() / "Storage Card"));
}

// A backup of the earlier layout (one backup, its manifest at the top) verifies and
// restores in place; the next backup moves it into a generation of its own, and a
// move cut short is finished by the next command.
TEST_F(HostCli, ABackupOfTheEarlierLayoutReadsAsOneGenerationAndIsKept) {
    fs::path made = m_home.path() / "made", earlier = m_home.path() / "earlier", cut = m_home.path() / "cut";
    ASSERT_EQ(Host({"backup", made.string()}).exitCode, 0);
    for (const fs::path &folder : {earlier, cut}) fs::copy(LatestGeneration(made), folder, fs::copy_options::recursive);
    const std::string manifest = ReadFileText(earlier / "manifest.json");
    EXPECT_EQ(Host({"backup", "--verify", earlier.string()}).exitCode, 0);
    fs::path readme = m_phone.fs() / "My Documents" / "readme.txt";
    const std::string original = ReadFileText(readme);
    fs::remove(readme);
    HostRun restore = Host({"restore", "--files", earlier.string()});
    EXPECT_EQ(restore.exitCode, 0) << restore.err;
    EXPECT_EQ(ReadFileText(readme), original);

    WriteFileText(readme, "changed");
    HostRun next = Host({"--json", "backup", earlier.string()});
    ASSERT_EQ(next.exitCode, 0) << next.err;
    EXPECT_EQ(Json(next)["copied"], 1) << next.out;  // the rest shared with the earlier backup
    nlohmann::json list = Json(Host({"--json", "backup", "--list", earlier.string()}));
    ASSERT_EQ(list["generations"].size(), 2u) << list.dump();
    const std::string moved = list["generations"][0]["name"];
    EXPECT_EQ(ReadFileText(earlier / moved / "manifest.json"), manifest);
    EXPECT_EQ(ReadFileText(earlier / moved / "files" / "My Documents" / "readme.txt"), original);
    EXPECT_EQ(Host({"backup", "--verify", "--generation", moved, earlier.string()}).exitCode, 0);

    // Cut short after files/ moved: latest.json names the generation, the manifest is still at the top.
    WriteFileText(cut / "latest.json", R"({"format": 2, "latest": "2026-01-02T030405Z"})");
    fs::create_directories(cut / "2026-01-02T030405Z");
    fs::rename(cut / "files", cut / "2026-01-02T030405Z" / "files");
    HostRun finished = Host({"--json", "backup", "--verify", cut.string()});
    EXPECT_EQ(finished.exitCode, 0) << finished.err;
    EXPECT_EQ(Json(finished)["generation"], "2026-01-02T030405Z") << finished.out;
    EXPECT_FALSE(fs::exists(cut / "manifest.json"));
}

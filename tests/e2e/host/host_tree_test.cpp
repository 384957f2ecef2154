// Many files through the built host: folder trees both ways, kept phone times,
// wildcard names, and removing what a folder holds.
#include "host_fixture.h"

#include <set>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

namespace fs = std::filesystem;

// The command line's side of a tree copy (the copy itself is the core's): -p, the
// document, one progress over the whole copy; and how wildcards are reported (rm's
// printing: host_refusal_test).
TEST_F(HostCli, TreeCommandsReportWhatTheyDid) {
    fs::path phoneTree = m_phone.fs() / "My Documents" / u8"트리";
    MakeTree(phoneTree);
    fs::path pc = m_home.path() / "pc";
    HostRun get = Host({"--json", "get", "-r", "-p", "/My Documents/트리", (pc / "tree").string()});
    ASSERT_EQ(get.exitCode, 0) << get.err;
    EXPECT_EQ(Json(get)["files"], 3);
    EXPECT_EQ(TreeOf(pc / "tree"), TreeOf(phoneTree));  // (empty folders too)
    EXPECT_EQ(fs::last_write_time(pc / "tree" / "a.txt"), kTreeTime);
    // The last event counts every file and byte.
    std::string events = get.err.substr(0, get.err.find_last_not_of("\r\n") + 1);
    nlohmann::json done = nlohmann::json::parse(events.substr(events.rfind('\n') + 1));
    EXPECT_EQ(done["event"], "done");
    EXPECT_EQ(done["total"], 70000 + 5 + std::string("깊은").size());
    EXPECT_EQ(done["files"]["total"], 3);

    HostRun folder = Host({"get", "/My Documents/T*", (pc / "t").string()});
    EXPECT_NE(folder.err.find("left out the folder \\My Documents\\Templates"), std::string::npos) << folder.err;
    HostRun none = Host({"get", "/My Documents/*.doc", pc.string()});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_NE(none.err.find("nothing on the phone matches"), std::string::npos) << none.err;
}

#if !defined(_WIN32)
// Symbolic links in `put -r`: a link to a file arrives under its own name (also one
// that leads out of the tree); a link to a folder and one that leads nowhere are
// left out with a note (exit 1) and nothing else is held up.
TEST_F(HostCli, PutTreeTakesLinksToFilesUnderTheirOwnNames) {
    fs::path tree = m_home.path() / "tree";
    fs::create_directories(tree / "sub");
    WriteFileText(tree / "real.txt", "real");
    WriteFileText(m_home.path() / "outside.txt", "outside");
    fs::create_symlink("real.txt", tree / "alias.txt");
    fs::create_symlink("../outside.txt", tree / "out.txt");
    fs::create_symlink("sub", tree / "folder-link");
    fs::create_symlink("nowhere.txt", tree / "dangling.txt");
    HostRun put = Host({"--json", "put", "-r", tree.string(), "/My Documents/links"});
    EXPECT_EQ(put.exitCode, 1) << put.err;
    nlohmann::json document = Json(put);
    EXPECT_EQ(document["files"], 3) << put.out;
    EXPECT_EQ(document["skipped"].size(), 2u) << put.out;
    const fs::path onPhone = m_phone.fs() / "My Documents" / "links";
    EXPECT_EQ(ReadFileText(onPhone / "alias.txt"), "real");
    EXPECT_EQ(ReadFileText(onPhone / "real.txt"), "real");
    EXPECT_EQ(ReadFileText(onPhone / "out.txt"), "outside");
    EXPECT_FALSE(fs::exists(onPhone / "folder-link"));
    EXPECT_NE(put.err.find("leads nowhere"), std::string::npos) << put.err;
}
#endif

// Names that list alike (runs of spaces come as one) are each copied under their own
// name: neither is copied twice nor left out unsaid.
TEST_F(HostCli, NamesThatListAlikeAreEachCopiedWhole) {
    const fs::path folder = m_phone.fs() / "My Documents" / "alike";
    for (const char *name : {"x  y", "x y"}) {
        fs::create_directories(folder / name);
        WriteFileText(folder / name / "in.txt", name);
        WriteFileText(folder / (std::string(name) + ".txt"), name);
    }
    const fs::path pc = m_home.path() / "pc";
    HostRun tree = Host({"get", "-r", "/My Documents/alike", (pc / "tree").string()});
    ASSERT_EQ(tree.exitCode, 0) << tree.err;
    HostRun backup = Host({"backup", (pc / "backup").string()});
    ASSERT_EQ(backup.exitCode, 0) << backup.err;
    for (const char *name : {"x  y", "x y"}) {
        EXPECT_EQ(ReadFileText(pc / "tree" / name / "in.txt"), name);
        EXPECT_EQ(ReadFileText(pc / "tree" / (std::string(name) + ".txt")), name);
    }
    std::set<std::string> backedUp;
    for (const auto &file : fs::recursive_directory_iterator(pc / "backup"))
        if (file.path().filename() == "in.txt") backedUp.insert(ReadFileText(file.path()));
    EXPECT_EQ(backedUp, (std::set<std::string>{"x  y", "x y"}));
#if !defined(_WIN32)  // (CP949 lists café as cafe; Windows here says it)
    WriteFileText(folder / u8"caf\u00e9.txt", "caf\u00e9");
    WriteFileText(folder / "cafe.txt", "cafe");
    HostRun cafe = Host({"get", "-r", "/My Documents/alike", (pc / "cafe").string()});
    EXPECT_EQ(cafe.exitCode, 1);
    EXPECT_NE(cafe.err.find("2 names list alike"), std::string::npos) << cafe.err;
    EXPECT_EQ(ReadFileText(pc / "cafe" / "cafe.txt"), "cafe");
#endif
}

// Names the listing cannot say (runs of spaces come as one; a letter the code page
// lacks comes as a look-alike or not at all) are fetched under the phone's own name,
// or left out with the reason and the way out, without stopping the rest.
TEST_F(HostCli, NamesTheListingCannotSayAreFetchedOrLeftOutWithTheWayOut) {
    const fs::path folder = m_phone.fs() / "My Documents" / "odd  names";
    fs::create_directories(folder);
    WriteFileText(folder / "two  spaces.txt", "two");
    WriteFileText(folder / u8"ca\u0175.txt", "caw");  // (in neither CP949 nor CP1252)
    WriteFileText(folder / "plain.txt", "plain");
    const fs::path pc = m_home.path() / "pc";
    fs::create_directories(pc);

    for (const char *typed : {"/My Documents/odd  names/two  spaces.txt", "/My Documents/odd names/two spaces.txt"}) {
        HostRun one = Host({"get", typed, (pc / "one.txt").string()});
        ASSERT_EQ(one.exitCode, 0) << typed << ": " << one.err;
        EXPECT_EQ(ReadFileText(pc / "one.txt"), "two");
    }
    std::string listedCaw;
    const nlohmann::json listing = Json(Host({"--json", "ls", "/My Documents/odd names"}));
    for (const auto &entry : listing["entries"])
        if (entry["name"].get<std::string>().rfind("ca", 0) == 0) listedCaw = entry["name"];
    ASSERT_FALSE(listedCaw.empty());
    HostRun caw = Host({"get", "/My Documents/odd names/" + listedCaw, pc.string()});
    EXPECT_EQ(caw.exitCode, 1);
    EXPECT_NE(caw.err.find("65001"), std::string::npos) << caw.err;  // (the way out)
    EXPECT_FALSE(fs::exists(pc / listedCaw));

    HostRun tree = Host({"get", "-r", "/My Documents", (pc / "tree").string()});
    EXPECT_NE(tree.err.find(listedCaw), std::string::npos) << tree.err;
    EXPECT_NE(tree.err.find("65001"), std::string::npos) << tree.err;
    EXPECT_EQ(ReadFileText(pc / "tree" / "odd  names" / "plain.txt"), "plain");  // (the phone's own names)
    EXPECT_EQ(ReadFileText(pc / "tree" / "odd  names" / "two  spaces.txt"), "two");
    EXPECT_TRUE(fs::exists(pc / "tree" / "readme.txt"));

    HostRun backup = Host({"backup", (pc / "backup").string()});
    EXPECT_EQ(backup.exitCode, 1) << backup.err;  // (files were left out)
    EXPECT_NE(backup.err.find("65001"), std::string::npos) << backup.err;
#if !defined(_WIN32)  // (Windows takes the system's code page)
    ScopedEnv utf8("CEBRIDGE_CODEPAGE", "65001");
    HostRun all = Host({"get", "/My Documents/odd  names/ca\u0175.txt", pc.string()});
    EXPECT_EQ(all.exitCode, 0) << all.err;
#endif
}

// Copies to the PC keep the phone's own names (a run of spaces the listing gives as
// one is the phone's), and copies to the phone refuse names that differ only in case
// before anything is sent.
TEST_F(HostCli, TreeCopiesKeepThePhonesNamesAndRefuseCaseClashes) {
    const fs::path folder = m_phone.fs() / "My Documents" / "spaced";
    fs::create_directories(folder / "two  sp");
    WriteFileText(folder / "top  level.txt", "top");
    WriteFileText(folder / "two  sp" / "plain.txt", "plain");
    const fs::path pc = m_home.path() / "pc";
    HostRun tree = Host({"get", "-r", "/My Documents/spaced", (pc / "tree").string()});
    ASSERT_EQ(tree.exitCode, 0) << tree.err;
    EXPECT_EQ(ReadFileText(pc / "tree" / "top  level.txt"), "top");
    EXPECT_EQ(ReadFileText(pc / "tree" / "two  sp" / "plain.txt"), "plain");
    HostRun matches = Host({"get", "/My Documents/spaced/*.txt", (pc / "matches").string()});
    ASSERT_EQ(matches.exitCode, 0) << matches.err;
    EXPECT_EQ(ReadFileText(pc / "matches" / "top  level.txt"), "top");

#if !defined(_WIN32)  // (a Windows PC's own file system cannot hold both names either)
    const fs::path clash = pc / "clash";
    fs::create_directories(clash);
    WriteFileText(clash / "Photo.txt", "upper");
    WriteFileText(clash / "photo.txt", "lower");
    HostRun put = Host({"--json", "put", "-r", clash.string(), "/My Documents/clash"});
    EXPECT_EQ(put.exitCode, 2) << put.err;
    EXPECT_NE(put.err.find("differ only in letter case"), std::string::npos) << put.err;
    EXPECT_FALSE(fs::exists(m_phone.fs() / "My Documents" / "clash"));
#endif
}

// Recursive copies behave as cp -r: an existing folder takes the copy under its own
// name ("DIR/." its content); an existing file is replaced only with -f; the phone's
// system folder is written on no path; special PC files are left out, never read.
TEST_F(HostCli, TreeCopiesBehaveAsCpDoes) {
    const fs::path pc = m_home.path() / "pc";
    const fs::path card = m_phone.fs() / "Storage Card";
    fs::create_directories(pc / "photos");
    WriteFileText(pc / "photos" / "setup.cab", "mine");
    WriteFileText(card / "setup.cab", "card's");
    HostRun into = Host({"put", "-r", (pc / "photos").string(), "/Storage Card/"});
    ASSERT_EQ(into.exitCode, 0) << into.err;
    EXPECT_EQ(ReadFileText(card / "photos" / "setup.cab"), "mine");
    EXPECT_EQ(ReadFileText(card / "setup.cab"), "card's");
    HostRun content = Host({"put", "-r", (pc / "photos").string() + "/.", "/Storage Card"});
    EXPECT_EQ(content.exitCode, 2) << content.err;  // (it would replace setup.cab)
    EXPECT_NE(content.err.find("--force"), std::string::npos) << content.err;
    EXPECT_EQ(ReadFileText(card / "setup.cab"), "card's");
    ASSERT_EQ(Host({"put", "-r", "-f", (pc / "photos").string() + "/.", "/Storage Card"}).exitCode, 0);
    EXPECT_EQ(ReadFileText(card / "setup.cab"), "mine");

    const fs::path home = pc / "home";
    fs::create_directories(home);
    WriteFileText(home / "setup.cab", "home's");
    HostRun get = Host({"get", "-r", "/Storage Card/photos", home.string()});
    ASSERT_EQ(get.exitCode, 0) << get.err;
    EXPECT_EQ(ReadFileText(home / "photos" / "setup.cab"), "mine");
    EXPECT_EQ(ReadFileText(home / "setup.cab"), "home's");
    HostRun again = Host({"get", "-r", "/Storage Card/photos/.", home.string()});
    EXPECT_EQ(again.exitCode, 2) << again.err;
    EXPECT_EQ(ReadFileText(home / "setup.cab"), "home's");
    fs::create_directories(home / "photos" / "blocker" / "setup.cab");
    fs::create_directories(card / "photos" / "blocker");
    WriteFileText(card / "photos" / "blocker" / "setup.cab", "x");
    HostRun folderInTheWay = Host({"get", "-r", "-f", "/Storage Card/photos", home.string()});
    EXPECT_EQ(folderInTheWay.exitCode, 3) << folderInTheWay.err;
    EXPECT_NE(folderInTheWay.err.find("is a folder"), std::string::npos) << folderInTheWay.err;

    // \Windows: neither put -r nor put over a file nor install writes there.
    const std::string system = (m_phone.fs() / "Windows" / "wceload.exe").string();
    const std::string program = ReadFileText(system);
    fs::create_directories(pc / "copy" / "Windows");
    WriteFileText(pc / "copy" / "Windows" / "wceload.exe", "not a program");
    EXPECT_EQ(Host({"put", "-r", "-f", (pc / "copy").string() + "/.", "/"}).exitCode, 2);
    EXPECT_EQ(Host({"put", (pc / "copy" / "Windows" / "wceload.exe").string(), "/Windows/wceload.exe"}).exitCode, 2);
    EXPECT_EQ(ReadFileText(system), program);
    WriteFileText(pc / "app.cab", "new package");
    WriteFileText(m_phone.fs() / "app.cab", "another package");
    HostRun install = Host({"install", (pc / "app.cab").string()});
    EXPECT_EQ(install.exitCode, 2) << install.err;
    EXPECT_EQ(ReadFileText(m_phone.fs() / "app.cab"), "another package");

#if !defined(_WIN32)
    fs::create_directories(pc / "special");
    WriteFileText(pc / "special" / "file.txt", "file");
    ASSERT_EQ(::mkfifo((pc / "special" / "fifo").c_str(), 0600), 0);
    HostRun special = Host({"--json", "put", "-r", (pc / "special").string(), "/My Documents/special"});
    EXPECT_EQ(special.exitCode, 1) << special.err;  // (one left out)
    EXPECT_EQ(Json(special)["files"], 1);
    EXPECT_NE(special.err.find("a FIFO"), std::string::npos) << special.err;
    // Standard input is not read when its folder is missing.
    HostRun missing = Host({"put", "-", "/NoSuchFolder/x"}, std::string(100, 'x'));
    EXPECT_EQ(missing.exitCode, 1) << missing.err;
    EXPECT_NE(missing.err.find("no such folder on the phone: \\NoSuchFolder"), std::string::npos) << missing.err;
#endif
}

// A copy refused for room makes no folder; a copy that stops says what it had done.
TEST_F(HostCli, TreeCopiesRefusedOrStoppedSayWhatTheyDid) {
    const fs::path pc = m_home.path() / "pc" / "big";
    fs::create_directories(pc / "sub");
    WriteFileText(pc / "sub" / "a.bin", RandomBytes(200000));
    WriteFileText(pc / "sub" / "b.bin", RandomBytes(200000));
    m_phone.EditDevice([](nlohmann::json &device) { device["objectStore"] = {{"size", 33554432}, {"free", 1000}}; });
    HostRun room = Host({"put", "-r", pc.string(), "/big"});
    EXPECT_EQ(room.exitCode, 1) << room.err;
    EXPECT_NE(room.err.find("not enough space"), std::string::npos) << room.err;
    EXPECT_FALSE(fs::exists(m_phone.fs() / "big"));

    m_phone.EditDevice([](nlohmann::json &device) {
        device.erase("objectStore");
        device["faults"] = {{{"operation", "CeWriteFile"}, {"nth", 6}, {"error", 5}}};
    });
    HostRun stopped = Host({"--json", "put", "-r", pc.string(), "/big"});
    EXPECT_EQ(stopped.exitCode, 1) << stopped.err;
    EXPECT_NE(stopped.err.find("copied 1 file"), std::string::npos) << stopped.err;
    nlohmann::json document = Json(stopped);
    EXPECT_EQ(document["files"], 1) << stopped.out;
    EXPECT_EQ(document["done"].size(), 1u) << stopped.out;
    EXPECT_TRUE(document.contains("error")) << stopped.out;
}

// A bulk removal that stops says what it removed (text and JSON); a nested mkdir
// that fails names the folder; --keep 0 is refused in words.
TEST_F(HostCli, StoppedRemovalsAndFailedFoldersSayWhere) {
    const fs::path folder = m_phone.fs() / "My Documents" / "many";
    fs::create_directories(folder);
    for (const char *name : {"1.txt", "2.txt", "3.txt"}) WriteFileText(folder / name, name);
    fs::permissions(folder / "2.txt", fs::perms::owner_write, fs::perm_options::remove);
    HostRun rm = Host({"--json", "rm", "-r", "/My Documents/many"});
    fs::permissions(folder / "2.txt", fs::perms::owner_write, fs::perm_options::add);
    EXPECT_EQ(rm.exitCode, 1) << rm.err;
    EXPECT_NE(rm.err.find("removed 1 file before it stopped"), std::string::npos) << rm.err;
    nlohmann::json document = Json(rm);
    EXPECT_EQ(document["removed"].size(), 1u) << rm.out;
    EXPECT_TRUE(document.contains("error")) << rm.out;

    m_phone.EditDevice([](nlohmann::json &device) {
        device["faults"] = {{{"operation", "CeCreateDirectory"}, {"nth", 2}, {"error", 5}}};
    });
    HostRun mkdir = Host({"mkdir", "/My Documents/a/b/c"});
    EXPECT_EQ(mkdir.exitCode, 1) << mkdir.err;
    EXPECT_NE(mkdir.err.find("\\My Documents\\a\\b"), std::string::npos) << mkdir.err;

    HostRun keep = Host({"backup", "--keep", "0", (m_home.path() / "b").string()});
    EXPECT_EQ(keep.exitCode, 2);
    EXPECT_NE(keep.err.find("--keep takes the number of generations to keep, 1 or more"), std::string::npos)
        << keep.err;
    EXPECT_LT(keep.err.size(), 300u) << keep.err;
}

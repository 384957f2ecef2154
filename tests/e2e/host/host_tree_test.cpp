// Many files through the built host: folder trees both ways, kept phone times,
// wildcard names, and removing what a folder holds.
#include "host_fixture.h"

#include <set>

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
    EXPECT_EQ(ReadFileText(pc / "tree" / "odd names" / "plain.txt"), "plain");
    EXPECT_EQ(ReadFileText(pc / "tree" / "odd names" / "two spaces.txt"), "two");
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

// What cannot work is refused, by the built host, before anything changes on the
// phone, with a message that names the cause.
#include "host_fixture.h"

namespace fs = std::filesystem;

namespace {

TEST_F(HostCli, MkdirRefusesImpossibleNamesAndFilesInTheWay) {
    HostRun badName = Host({"mkdir", "/My Documents/bad:name"});
    EXPECT_EQ(badName.exitCode, 2);
    EXPECT_NE(badName.err.find("bad:name"), std::string::npos) << badName.err;

    HostRun fileInTheWay = Host({"mkdir", "/My Documents/readme.txt/sub"});
    EXPECT_EQ(fileInTheWay.exitCode, 1);
    EXPECT_NE(fileInTheWay.err.find("a file is in the way: \\My Documents\\readme.txt"), std::string::npos)
        << fileInTheWay.err;
    EXPECT_FALSE(fs::exists(m_phone.fs() / "My Documents" / "sub"));

    EXPECT_EQ(Host({"mkdir", "/My Documents/Trip/Day 1"}).exitCode, 0);
    EXPECT_TRUE(fs::is_directory(m_phone.fs() / "My Documents" / "Trip" / "Day 1"));
}

TEST_F(HostCli, AddTakesFieldNamesInAnyCaseAndRefusesUnknownOnes) {
    HostRun bogus = Host({"contacts", "add", "BOGUSFIELD=x"});
    EXPECT_EQ(bogus.exitCode, 2);
    EXPECT_NE(bogus.err.find("unknown field 'BOGUSFIELD'"), std::string::npos) << bogus.err;
    HostRun typo = Host({"contacts", "add", "firstnme=x"});
    EXPECT_EQ(typo.exitCode, 2);
    EXPECT_NE(typo.err.find("did you mean FIRSTNAME?"), std::string::npos) << typo.err;
    EXPECT_EQ(Host({"contacts", "add", "FIRSTNAME="}).exitCode, 2);
    EXPECT_EQ(Host({"calendar", "add", "SUBJECT=x"}).exitCode, 2);

    ASSERT_EQ(Host({"contacts", "add", "firstname=Zed"}).exitCode, 0);
    nlohmann::json listing = Json(Host({"--json", "contacts"}));
    bool found = false;
    for (const auto &item : listing["items"]) found |= item["title"] == "Zed";
    EXPECT_TRUE(found) << listing.dump();

    HostRun missing = Host({"contacts", "show", "1"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("no contact with ID 1 ("), std::string::npos) << missing.err;
    EXPECT_EQ(missing.err.find("status 0x0"), std::string::npos) << missing.err;
}

TEST_F(HostCli, InstallOfAMissingPackageSaysWhichSideLacksIt) {
    HostRun local = Host({"install", (m_home.path() / "nothere.cab").string()});
    EXPECT_EQ(local.exitCode, 3) << local.err;
    HostRun phone = Host({"install", "/Storage Card/nothere.cab"});
    EXPECT_EQ(phone.exitCode, 1);
    EXPECT_NE(phone.err.find("no such file on the phone: \\Storage Card\\nothere.cab"), std::string::npos) << phone.err;
    EXPECT_FALSE(fs::exists(m_phone.path() / "processes.log"));
    EXPECT_EQ(Host({"install", "/Storage Card/setup.cab"}).exitCode, 0);
}

// rm never takes the phone's system folder, nor everything at the root at once,
// however it is named; a named file outside it still goes.
TEST_F(HostCli, RmRefusesTheSystemFolderAndTheWholeRoot) {
    const std::vector<std::vector<std::string>> refused = {
        {"rm", "-r", "/*"},       {"rm", "-r", "/"},   {"rm", "-r", "/Windows"}, {"rm", "-r", "\\WINDOWS"},
        {"rm", "/Windows/*.exe"}, {"rm", "-r", "/W*"}, {"rm", "-r", "/?indows"}, {"rm", "-r", "/Storage Card/../*"},
    };
    for (const std::vector<std::string> &args : refused) {
        HostRun run = Host(args);
        EXPECT_EQ(run.exitCode, 2) << args.back() << ": " << run.err;
    }
    EXPECT_TRUE(fs::exists(m_phone.fs() / "Windows" / "wceload.exe"));
    EXPECT_TRUE(fs::exists(m_phone.fs() / "My Documents" / "readme.txt"));
    EXPECT_TRUE(fs::exists(m_phone.fs() / "Storage Card" / "setup.cab"));
    HostRun music = Host({"rm", "-r", "/Storage Card/M*"});
    EXPECT_EQ(music.exitCode, 0) << music.err;
    EXPECT_EQ(music.out.rfind("removed 1 file; 1 folder stays", 0), 0u) << music.out;
    EXPECT_FALSE(fs::exists(m_phone.fs() / "Storage Card" / "Music" / "track01.mp3"));
}

// Names and paths the phone's link cannot carry, or the code page cannot say, are
// refused before anything is sent or made, with the true reason.
TEST_F(HostCli, NamesAndPathsBeyondTheLinkAreRefusedFirst) {
    const fs::path cafe = m_home.path() / u8"caf\u0175.txt";  // (in neither CP949 nor CP1252)
    WriteFileText(cafe, "cafe");
    HostRun unsayable = Host({"put", cafe.string(), "/My Documents/"});
    EXPECT_EQ(unsayable.exitCode, 2);
    EXPECT_NE(unsayable.err.find("cannot say the name 'caf?.txt'"), std::string::npos) << unsayable.err;
    EXPECT_NE(unsayable.err.find("65001"), std::string::npos) << unsayable.err;  // (the way out)
#if !defined(_WIN32)  // (Windows takes the system's code page)
    {
        ScopedEnv utf8("CEBRIDGE_CODEPAGE", "65001");
        EXPECT_EQ(Host({"put", cafe.string(), "/My Documents/"}).exitCode, 0);
    }
#endif

    HostRun longName = Host({"put", cafe.string(), "/My Documents/" + std::string(128, 'n')});
    EXPECT_EQ(longName.exitCode, 2);
    EXPECT_NE(longName.err.find("at most 127 bytes"), std::string::npos) << longName.err;
    std::string deep;
    for (int i = 0; i < 5; ++i) deep += "/" + std::string(52, char('a' + i));  // 265 bytes
    HostRun tooDeep = Host({"mkdir", deep});
    EXPECT_EQ(tooDeep.exitCode, 2);
    EXPECT_NE(tooDeep.err.find("mkdir: the phone's link carries paths of at most"), std::string::npos) << tooDeep.err;
    EXPECT_FALSE(fs::exists(m_phone.fs() / std::string(52, 'a')));

    HostRun unfetchable = Host({"put", cafe.string(), "/My Documents/" + std::string(40, 'x')});
    EXPECT_EQ(unfetchable.exitCode, 0) << unfetchable.err;
    EXPECT_NE(unfetchable.err.find("at most 31 bytes"), std::string::npos) << unfetchable.err;
}

// The phone refuses to change a read-only file; the host says so, and the file stays.
TEST_F(HostCli, ReadOnlyPhoneFilesAreSaidToBeRefused) {
    const fs::path readme = m_phone.fs() / "My Documents" / "readme.txt";
    const std::string before = ReadFileText(readme);
    fs::permissions(readme, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    const fs::path local = m_home.path() / "new.txt";
    WriteFileText(local, "new");
    for (const std::vector<std::string> &args :
         std::vector<std::vector<std::string>>{{"rm", "/My Documents/readme.txt"},
                                               {"rm", "/My Documents/*.txt"},
                                               {"put", local.string(), "/My Documents/readme.txt"}}) {
        HostRun run = Host(args);
        EXPECT_EQ(run.exitCode, 1) << args[0] << " " << args[1];
        EXPECT_NE(run.err.find("read-only"), std::string::npos) << run.err;
        EXPECT_EQ(ReadFileText(readme), before);
    }
}

// A word the command line does not know is named, whatever command reads it.
TEST_F(HostCli, MistakesAreNamedByTheCommandTyped) {
    HostRun install = Host({"install", "missing.cab"});
    EXPECT_EQ(install.exitCode, 3);
    EXPECT_EQ(install.err.rfind("cebridge: install: ", 0), 0u) << install.err;
    HostRun help = Host({"batch", "-"}, "help nosuch\n");
    EXPECT_EQ(help.exitCode, 2);
    EXPECT_NE(help.err.find("no command 'nosuch'"), std::string::npos) << help.err;
}

}  // namespace

// What cannot work is refused by the built host with a message that names the cause
// and the exit code of its kind.
#include "host_fixture.h"

namespace fs = std::filesystem;

namespace {

TEST_F(HostCli, AddRefusesUnknownFieldsAndShowUnknownIds) {
    HostRun bogus = Host({"contacts", "add", "BOGUSFIELD=x"});
    EXPECT_EQ(bogus.exitCode, 2);
    EXPECT_NE(bogus.err.find("unknown field 'BOGUSFIELD'"), std::string::npos) << bogus.err;
    EXPECT_EQ(Host({"calendar", "add", "SUBJECT=x"}).exitCode, 2);

    HostRun missing = Host({"contacts", "show", "1"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("no contact with ID 1 ("), std::string::npos) << missing.err;
    EXPECT_EQ(missing.err.find("status 0x0"), std::string::npos) << missing.err;
}

// What the command line says of refused and of partly done rm's (the checks
// themselves are the core's).
TEST_F(HostCli, RmSaysWhatItRefusedAndWhatStays) {
    HostRun refused = Host({"rm", "-r", "/Windows"});
    EXPECT_EQ(refused.exitCode, 2) << refused.err;
    EXPECT_EQ(refused.err.rfind("cebridge: rm: ", 0), 0u) << refused.err;
    HostRun music = Host({"rm", "-r", "/Storage Card/M*"});
    EXPECT_EQ(music.exitCode, 0) << music.err;
    EXPECT_EQ(music.out.rfind("removed 1 file; 1 folder stays", 0), 0u) << music.out;
    EXPECT_FALSE(fs::exists(m_phone.fs() / "Storage Card" / "Music" / "track01.mp3"));
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

// Exit codes when the phone answers but could not read or write (what the core decides:
// hostcore/store_evidence_test.cpp, hostcore/sync_test.cpp): a list the phone could not
// read exits 1 and replaces nothing, items the phone refused exit 1 in every command,
// and a failure is named after its party.
#include "host_fixture.h"

namespace fs = std::filesystem;

namespace {

class HostEvidence : public HostCli {
protected:
    std::string File(const std::string &name) { return (m_home.path() / name).string(); }
    void Faults(nlohmann::json faults) {
        m_phone.EditDevice([&](nlohmann::json &device) { device["faults"] = faults; });
    }
};

// One failed mount at connect: the lists and the export fail, the 20-card file stays.
TEST_F(HostEvidence, AStoreThePhoneCouldNotReadExitsOneAndReplacesNothing) {
    ASSERT_EQ(Host({"contacts", "export", File("mine.vcf")}).exitCode, 0);
    const std::string good = ReadFileText(File("mine.vcf"));
    for (const char *kind : {"contacts", "calendar", "calls"}) {
        Faults({{{"operation", "DevCeMountDBVolEx"}, {"nth", 1}}});  // (each run a new process)
        const HostRun listed = Host({kind});
        EXPECT_EQ(listed.exitCode, 1) << kind << listed.out;
        EXPECT_NE(listed.err.find("could not be read"), std::string::npos) << listed.err;
        const std::string file = File(std::string(kind) + ".out");
        WriteFileText(file, "kept");
        EXPECT_EQ(Host({kind, "export", file}).exitCode, 1) << kind;
        EXPECT_EQ(ReadFileText(file), "kept") << kind;
    }
    Faults({{{"operation", "DevCeOpenDatabaseInSession"}, {"persistent", true}}});
    EXPECT_EQ(Host({"contacts", "export", File("mine.vcf")}).exitCode, 1);
    EXPECT_EQ(Host({"contacts", "export", "--force", File("mine.vcf")}).exitCode, 1);  // not read: never forced
    EXPECT_EQ(ReadFileText(File("mine.vcf")), good);
}

// A phone whose PIM volume does not open is still backed up: its files go into a
// generation that names the parts it could not read (exit 1). That generation is
// never the latest over one that holds them unless --accept-fewer says so, and
// --keep never removes the last generation that holds them.
TEST_F(HostEvidence, ABackupKeepsTheFilesOfAPhoneWhosePimCouldNotBeRead) {
    const std::string folder = File("bk");
    auto latest = [&] { return nlohmann::json::parse(ReadFileText(folder + "/latest.json"))["latest"]; };
    auto manifest = [&](const std::string &generation) {
        return nlohmann::json::parse(ReadFileText(folder + "/" + generation + "/manifest.json"));
    };
    ASSERT_EQ(Host({"backup", folder}).exitCode, 0);
    const std::string whole = latest();
    for (const bool acceptFewer : {false, true}) {
        Faults({{{"operation", "DevCeMountDBVolEx"}, {"persistent", true}}});
        std::vector<std::string> args = {"--json", "backup", "--keep", "1", folder};
        if (acceptFewer) args.insert(args.begin() + 2, "--accept-fewer");
        const HostRun partial = Host(args);
        Faults(nlohmann::json::array());
        EXPECT_EQ(partial.exitCode, 1) << partial.err;
        EXPECT_NE(partial.err.find("contacts.vcf"), std::string::npos) << partial.err;
        const std::string made = Json(partial).value("generation", "");
        ASSERT_FALSE(made.empty()) << partial.out << partial.err;
        EXPECT_EQ(ReadFileText(folder + "/" + made + "/files/My Documents/readme.txt"),
                  ReadFileText(m_phone.fs() / "My Documents" / "readme.txt"));
        const nlohmann::json unread = manifest(made)["unread"];
        EXPECT_EQ(unread.size(), 4u) << unread.dump();  // contacts, calendar, calls, messages (no session at all)
        EXPECT_FALSE(fs::exists(folder + "/" + made + "/contacts.vcf"));
        EXPECT_EQ(latest(), acceptFewer ? made : whole);
        EXPECT_TRUE(fs::exists(folder + "/" + whole + "/contacts.vcf"));  // (--keep 1 left it)
    }
}

// The phone refuses every write: import, restore and sync all exit 1.
TEST_F(HostEvidence, ItemsThePhoneRefusedExitOneInEveryCommand) {
    const fs::path backup = m_home.path() / "backup";
    // (Exit 1 where the PC's code page cannot say some of the demo phone's names: left out.)
    const HostRun made = Host({"backup", backup.string()});
    ASSERT_LE(made.exitCode, 1) << made.err;
    ASSERT_TRUE(fs::exists(backup / "latest.json")) << made.err;
    Faults({{{"operation", "DevCeWriteRecordProps"}, {"persistent", true}}});
    WriteFileText(File("one.vcf"), "BEGIN:VCARD\r\nVERSION:3.0\r\nN:One;Pc;;;\r\nFN:Pc One\r\nEND:VCARD\r\n");
    EXPECT_EQ(Host({"contacts", "import", File("one.vcf")}).exitCode, 1);
    // The phone's contacts and appointments gone, so restore has something to add.
    nlohmann::json volume = m_phone.ReadVolume("pim.vol");
    for (auto &database : volume["databases"])
        if (database["type"] == 24 || database["type"] == 25) database["records"] = nlohmann::json::array();
    WriteFileText(m_phone.path() / "volumes" / "pim.vol.json", volume.dump());
#if defined(CEBRIDGE_HOST_READS_ICALENDAR)
    const HostRun restore = Host({"restore", "--contacts", "--calendar", backup.string()});
#else  // (this build reads no iCalendar file: the calendar cannot be restored at all)
    const HostRun restore = Host({"restore", "--contacts", backup.string()});
#endif
    EXPECT_EQ(restore.exitCode, 1) << restore.out << restore.err;
    EXPECT_NE(restore.out.find("refused"), std::string::npos) << restore.out;
#if defined(CEBRIDGE_HAVE_SYNC)
    const fs::path folder = m_home.path() / "contacts";
    fs::create_directories(folder);
    WriteFileText(folder / "one.vcf", ReadFileText(File("one.vcf")));
    ASSERT_EQ(Host({"sync", "add", "p", "--contacts", folder.string()}).exitCode, 0);
    const HostRun sync = Host({"--json", "sync", "p"});
    EXPECT_EQ(sync.exitCode, 1) << sync.err;
    EXPECT_EQ(Json(sync)["refused"], 1) << sync.out;
#endif
}

// A store read that failed is the phone's, not a lost connection; a number the phone
// did not give is said once, the plug-in's own line kept in its console log.
TEST_F(HostEvidence, FailuresAreNamedAfterTheirParty) {
    Faults({{{"operation", "CeGetStoreInformation"}, {"nth", 1}}});
    const HostRun info = Host({"info"});
    EXPECT_EQ(info.exitCode, 1);
    EXPECT_EQ(info.err.find("not connected"), std::string::npos) << info.err;
    EXPECT_NE(info.err.find("store read failed"), std::string::npos) << info.err;
    Faults({{{"operation", "DevCeGetPhoneNumber"}, {"nth", 1}}});
    const HostRun noNumber = Host({"contacts"});
    EXPECT_EQ(noNumber.exitCode, 5);
    EXPECT_NE(noNumber.err.find("did not give its number"), std::string::npos) << noNumber.err;
    EXPECT_EQ(noNumber.err.find("Could not get Min"), std::string::npos) << noNumber.err;
}

#if defined(CEBRIDGE_HAVE_SYNC)
// A first sync while the PIM volume is missing binds the pair to no phone: the phone
// gave no number, so it cannot be told which it is (exit 1, nothing synced).
TEST_F(HostEvidence, APairIsNeverBoundToAPhoneThatGaveNoNumber) {
    const fs::path folder = m_home.path() / "contacts";
    fs::create_directories(folder);
    ASSERT_EQ(Host({"sync", "add", "p", "--contacts", folder.string()}).exitCode, 0);
    m_phone.EditDevice([](nlohmann::json &device) { device["pimVolumeMissing"] = true; });
    const HostRun sync = Host({"sync", "p"});
    EXPECT_EQ(sync.exitCode, 1) << sync.err;
    EXPECT_NE(sync.err.find("gave no number"), std::string::npos) << sync.err;
    EXPECT_EQ(Json(Host({"--json", "sync", "list"}))["pairs"][0]["phone"], "");
    EXPECT_TRUE(fs::is_empty(folder));
    m_phone.EditDevice([](nlohmann::json &device) { device.erase("pimVolumeMissing"); });
    EXPECT_EQ(Host({"sync", "p"}).exitCode, 0);
}
#endif

#if !defined(_WIN32)
// Standard output that refuses the bytes is the PC's failure (exit 3), never an
// interruption.
TEST_F(HostEvidence, AFullStandardOutputIsThePcsFailure) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    for (const std::vector<std::string> &args : {std::vector<std::string>{"get", "/My Documents/DSC_0001.jpg", "-"},
                                                 std::vector<std::string>{"contacts", "export", "-"}}) {
        const std::string command = HostCommandLine(args) + " > /dev/full 2>" + File("err.txt");
        const int status = std::system(command.c_str());
        EXPECT_TRUE(WIFEXITED(status)) << args[0];
        EXPECT_EQ(WEXITSTATUS(status), 3) << args[0] << ReadFileText(File("err.txt"));
        EXPECT_EQ(ReadFileText(File("err.txt")).find("interrupted"), std::string::npos)
            << ReadFileText(File("err.txt"));
    }
}
#endif

}  // namespace

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

}  // namespace

// Contacts, appointments and calls as the built host prints them: tables in PC local
// time, `show` one field per line, what an add changed. (What the core reads and
// keeps: hostcore/pim_test.cpp.)
#include "host_fixture.h"
#include "support/pc_time_zone.h"

namespace fs = std::filesystem;

namespace {

#if !defined(_WIN32)
// (POSIX zone rules in TZ; a Windows host takes its zone from the system.)
TEST_F(HostCli, ListingsAndAddsPrintTheirTablesAndChanges) {
    ScopedEnv zone("TZ", kSeoul.tz);
    for (const std::vector<std::string> &add :
         {std::vector<std::string>{"TITLE=Meeting", "STARTTIME=2009-06-01 10:00", "ENDTIME=2009-06-01 11:30"},
          {"TITLE=Day", "STARTTIME=2026-06-10 10:00", "ENDTIME=2026-06-11 10:00"},
          {"TITLE=Bare", "WHOLEDAY=TRUE", "STARTTIME=2026-06-12", "DURATION=0"}}) {
        std::vector<std::string> args = {"calendar", "add"};
        args.insert(args.end(), add.begin(), add.end());
        ASSERT_EQ(Host(args).exitCode, 0) << add[0];
    }
    const std::string calendar = WithLfEnds(Host({"calendar"}).out);
    for (const char *row :
         {"2009-06-01 10:00 +09:00  1:30", "2026-06-10 10:00 +09:00  24:00", "2026-06-12               whole day"})
        EXPECT_NE(calendar.find(row), std::string::npos) << row << calendar;
    HostRun added =
        Host({"contacts", "add", "FIRSTNAME=" + std::string(70, 'F'), "WEBPAGE=http://" + std::string(130, 'w')});
    EXPECT_NE(added.out.find("WEBPAGE cut to 127 bytes of 137"), std::string::npos) << added.out;
    const std::string contacts = WithLfEnds(Host({"contacts"}).out);
    for (const char *name : {"John Smith\n", "\ud64d\uae38\ub3d9\n", "\u2026\n", "\u2026: as long as"})
        EXPECT_NE(contacts.find(name), std::string::npos) << name << contacts;
}
#endif

// `show` keeps one "NAME: value" per line.
// (Text lines end as the PC's do.)
TEST_F(HostCli, ShowGivesDatesAsDaysAndOneFieldPerLine) {
    ASSERT_EQ(Host({"contacts", "add", "FIRSTNAME=Street", "HOMEADDRESSSTREET=Main 1\nFloor 2"}).exitCode, 0);
    std::string id;
    const nlohmann::json listing = Json(Host({"--json", "contacts"}));
    for (const auto &item : listing["items"])
        if (item["title"] == "Street") id = item["id"];
    const std::string shown = WithLfEnds(Host({"contacts", "show", id}).out);
    EXPECT_NE(shown.find("HOMEADDRESSSTREET: Main 1\n                   Floor 2\n"), std::string::npos) << shown;
}

// `edit` prints the new ID and says what it could not carry, with bad input's exit code.
TEST_F(HostCli, EditSaysTheNewIdOrWhatItWouldLose) {
    const HostRun refused = Host({"contacts", "edit", "10002", "JOBTITLE=x"});
    EXPECT_EQ(refused.exitCode, 2) << refused.err;
    EXPECT_NE(refused.err.find("edit: it would lose BIRTHDAY"), std::string::npos) << refused.err;
    const nlohmann::json edited = Json(Host({"--json", "contacts", "edit", "10001", "JOBTITLE=x"}));
    EXPECT_EQ(edited["edited"], "10001");
    EXPECT_EQ(Json(Host({"--json", "contacts", "show", edited["id"]}))["fields"]["JOBTITLE"], "x");
}

// The box may come before the subcommand, as the usage shows.
TEST_F(HostCli, SentMessagesAreShownAndRemovedByTheirBox) {
    std::string id = Json(Host({"--json", "sms", "sent"}))["items"][0]["id"];
    EXPECT_EQ(Json(Host({"--json", "sms", "sent", "show", id}))["id"], id);
    EXPECT_EQ(Host({"sms", "sent", "rm", id}).exitCode, 0);
    EXPECT_EQ(Host({"sms", "show", "--sent", id}).exitCode, 1);
}

// The phone lists its package only with both an identifier and a version.
TEST_F(HostCli, AppsSayWhenThePackageCannotBeListed) {
    EXPECT_NE(Host({"apps"}).out.find("MORVANE-SYNC-0001"), std::string::npos);
    const fs::path registry = m_phone.path() / "registry.reg";
    std::string text = ReadFileText(registry);
    text.replace(text.find("\"VERSION\"=\"3.0.12\""), 18, "\"VERSION\"=\"\"");
    WriteFileText(registry, text);
    HostRun apps = Host({"apps"});
    EXPECT_EQ(apps.exitCode, 0);
    EXPECT_NE(apps.out.find("only when the package names both an identifier and a version"), std::string::npos)
        << apps.out;
}

TEST_F(HostCli, ListingAFileShowsThatFile) {
    nlohmann::json listing = Json(Host({"--json", "ls", "/My Documents/readme.txt"}));
    ASSERT_EQ(listing["entries"].size(), 1u) << listing.dump();
    EXPECT_EQ(listing["entries"][0]["name"], "readme.txt");
    EXPECT_EQ(Host({"ls", "/My Documents/nothere.txt"}).exitCode, 1);
}

}  // namespace

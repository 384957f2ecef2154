// Appointments and the call history through the built host: times are typed and
// shown in PC local time and come back as the same instant, in any zone.
#include <cstdio>
#include <ctime>
#include <map>

#include "host_fixture.h"
#include "support/pc_time_zone.h"

namespace fs = std::filesystem;

namespace {

#if !defined(_WIN32)
// (POSIX zone rules in TZ; a Windows host takes its zone from the system.)

class HostCalendar : public HostCli {
protected:
    // Adds an appointment in the zone `tz` and gives its ID (the highest listed).
    std::string Add(const char *tz, const std::vector<std::string> &fields) {
        ScopedEnv zone("TZ", tz);
        std::vector<std::string> args = {"calendar", "add"};
        args.insert(args.end(), fields.begin(), fields.end());
        HostRun add = Host(args);
        EXPECT_EQ(add.exitCode, 0) << add.err;
        std::string id;
        nlohmann::json listing = Json(Host({"--json", "calendar"}));
        for (const auto &item : listing["items"])
            if (std::stoul(item["id"].get<std::string>(), nullptr, 16) > std::stoul(id.empty() ? "0" : id, nullptr, 16))
                id = item["id"];
        return id;
    }
    nlohmann::json Show(const char *tz, const std::string &id) {
        ScopedEnv zone("TZ", tz);
        return Json(Host({"--json", "calendar", "show", id}))["fields"];
    }
};

TEST_F(HostCalendar, AnAppointmentAddedAtTenLocalTimeReadsBackAtTenLocalTime) {
    std::string id = Add(kSeoul.tz, {"TITLE=Meeting", "STARTTIME=2009-06-01 10:00", "ENDTIME=2009-06-01 11:30"});
    nlohmann::json seoul = Show(kSeoul.tz, id);
    EXPECT_EQ(seoul["STARTTIME"], "2009-06-01T10:00:00+09:00") << seoul.dump();
    EXPECT_EQ(seoul["ENDTIME"], "2009-06-01T11:30:00+09:00");
    EXPECT_EQ(seoul["DURATION"], "90");
    // The same instant, seen from New York in summer time.
    nlohmann::json newYork = Show(kNewYork.tz, id);
    EXPECT_EQ(newYork["STARTTIME"], "2009-05-31T21:00:00-04:00") << newYork.dump();

    std::string utc = Add(kNewYork.tz, {"TITLE=Call", "STARTTIME=20090601T010000Z", "DURATION=30"});
    EXPECT_EQ(Show(kSeoul.tz, utc)["STARTTIME"], "2009-06-01T10:00:00+09:00");

    ScopedEnv zone("TZ", kSeoul.tz);
    HostRun table = Host({"calendar"});
    size_t row = table.out.find("2009-06-01 10:00 +09:00  1:30");
    ASSERT_NE(row, std::string::npos) << table.out;
    EXPECT_EQ(table.out.substr(row, table.out.find('\n', row) - row).find("Meeting") == std::string::npos, false);
    EXPECT_EQ(Host({"calendar", "add", "TITLE=x", "STARTTIME=2009-13-01 10:00"}).exitCode, 2);
    EXPECT_EQ(Host({"calendar", "add", "TITLE=x", "STARTTIME=tomorrow"}).exitCode, 2);
    EXPECT_EQ(Host({"calendar", "add", "TITLE=x", "STARTTIME=2009-06-01 10:00", "ENDTIME=2009-06-01 09:00"}).exitCode,
              2);
}

TEST_F(HostCalendar, WholeDayAppointmentsKeepTheirDayInEveryZone) {
    std::string id = Add(kSeoul.tz, {"TITLE=Holiday", "WHOLEDAY=true", "STARTTIME=2009-06-01"});
    for (const char *tz : {kSeoul.tz, kNewYork.tz}) {
        nlohmann::json fields = Show(tz, id);
        EXPECT_EQ(fields["WHOLEDAY"], "TRUE") << tz;
        EXPECT_EQ(fields["STARTTIME"], "2009-06-01") << tz << fields.dump();
        EXPECT_EQ(fields["ENDTIME"], "2009-06-01") << tz;
    }
}

// An appointment's length reads the same in the listing, `show` and the export.
TEST_F(HostCalendar, TwentyFourHoursStayTimedAndEveryViewAgreesOnALength) {
    std::string day = Add(kSeoul.tz, {"TITLE=Day", "STARTTIME=2026-06-10 10:00", "ENDTIME=2026-06-11 10:00"});
    nlohmann::json fields = Show(kSeoul.tz, day);
    EXPECT_EQ(fields["WHOLEDAY"], "FALSE") << fields.dump();
    EXPECT_EQ(fields["ENDTIME"], "2026-06-11T10:00:00+09:00");
    EXPECT_EQ(fields["DURATION"], "1440");
    // A whole day the phone keeps without minutes still lasts its day.
    std::string bare = Add(kSeoul.tz, {"TITLE=Bare", "WHOLEDAY=TRUE", "STARTTIME=2026-06-12", "DURATION=0"});
    EXPECT_EQ(Show(kNewYork.tz, bare)["ENDTIME"], "2026-06-12");
    ScopedEnv zone("TZ", kSeoul.tz);
    HostRun exported = Host({"calendar", "export", "-"});
    EXPECT_NE(exported.out.find("DTSTART;VALUE=DATE:20260612\r\nDTEND;VALUE=DATE:20260613\r\n"), std::string::npos)
        << exported.out;
    HostRun listing = Host({"calendar"});
    EXPECT_NE(listing.out.find("2026-06-10 10:00 +09:00  24:00"), std::string::npos) << listing.out;
    EXPECT_NE(listing.out.find("2026-06-12               whole day"), std::string::npos) << listing.out;
    HostRun noStart = Host({"calendar", "add", "TITLE=x"});
    EXPECT_EQ(noStart.exitCode, 2);
    EXPECT_NE(noStart.err.find("STARTTIME"), std::string::npos) << noStart.err;
}

#endif

// An add that would silently drop or guess a field is refused, naming why.
TEST_F(HostCli, AddsRefuseFieldsTheyWouldDropOrGuess) {
    const std::pair<std::vector<std::string>, std::string> refused[] = {
        {{"contacts", "add", "BIRTHDAY=1971-02-02"}, "BIRTHDAY is shown when read"},
        {{"contacts", "add", "FIRSTNAME=Ann", "firstname=Anne"}, "FIRSTNAME is given twice"},
        {{"calendar", "add", "TITLE=x", "STARTTIME=2026-01-01 10:00", "DURATION=10", "ENDTIME=2026-01-02 10:00"},
         "ENDTIME or DURATION, not both"},
        {{"calendar", "add", "TITLE=x", "STARTTIME=2026-01-01 10:00", "DURATION=100000000"}, "up to 527040"}};
    for (const auto &[args, message] : refused) {
        HostRun run = Host(args);
        EXPECT_EQ(run.exitCode, 2) << message;
        EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
    }
}

#if !defined(_WIN32)
// "2026-12-27T18:57:23+09:00" as seconds since 1970 UTC.
long long InstantOf(const std::string &iso) {
    std::tm fields{};
    int sign = iso.size() == 25 && iso[19] == '-' ? -1 : 1, hours = 0, minutes = 0;
    EXPECT_EQ(std::sscanf(iso.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%*c%2d:%2d", &fields.tm_year, &fields.tm_mon,
                          &fields.tm_mday, &fields.tm_hour, &fields.tm_min, &fields.tm_sec, &hours, &minutes),
              8)
        << iso;
    fields.tm_year -= 1900;
    fields.tm_mon -= 1;
    return timegm(&fields) - sign * (hours * 3600 + minutes * 60);
}

// Calls and messages are shown in PC local time with its offset, as instants that
// do not move with the zone, in every view and export.
TEST_F(HostCli, CallAndMessageTimesAreTheSameInstantsInEveryZone) {
    std::map<std::string, std::vector<std::string>> seen;  // zone -> call, message, exported call, exported message
    for (const PcZone &zone : {kSeoul, kNewYork}) {
        ScopedEnv tz("TZ", zone.tz);
        nlohmann::json calls = Json(Host({"--json", "calls"})), messages = Json(Host({"--json", "sms"}));
        ASSERT_EQ(Host({"calls", "export", (m_home.path() / "calls.json").string()}).exitCode, 0);
        ASSERT_EQ(Host({"sms", "export", (m_home.path() / "sms.json").string()}).exitCode, 0);
        nlohmann::json exportedCalls = nlohmann::json::parse(ReadFileText(m_home.path() / "calls.json"));
        nlohmann::json exportedMessages = nlohmann::json::parse(ReadFileText(m_home.path() / "sms.json"));
        seen[zone.tz] = {calls["items"][0]["startTime"], messages["items"][0]["time"], exportedCalls[0]["time"],
                         exportedMessages[0]["time"]};
        HostRun shown = Host({"sms", "show", messages["items"][0]["id"]});
        EXPECT_NE(shown.out.find(zone.tz == kSeoul.tz ? "+09:00" : ":00 -0"), std::string::npos) << shown.out;
    }
    for (size_t i = 0; i < 4; ++i) {
        const std::string &seoul = seen[kSeoul.tz][i], &newYork = seen[kNewYork.tz][i];
        EXPECT_EQ(seoul.substr(19), "+09:00") << i;
        EXPECT_EQ(InstantOf(seoul), InstantOf(newYork)) << i << ": " << seoul << " " << newYork;
    }
}
#endif

// `show` keeps one "NAME: value" per line and dates as days; IDs in any letter case.
// (Text lines end as the PC's do; the export's vCard lines in CR LF everywhere.)
TEST_F(HostCli, ShowGivesDatesAsDaysAndOneFieldPerLine) {
    auto shownText = [this](const std::string &id) { return WithLfEnds(Host({"contacts", "show", id}).out); };
    std::string shown = shownText("10002");
    EXPECT_NE(shown.find("BIRTHDAY: 1971-02-02\n"), std::string::npos) << shown;
    ASSERT_EQ(Host({"contacts", "add", "FIRSTNAME=Street", "HOMEADDRESSSTREET=Main 1\nFloor 2"}).exitCode, 0);
    std::string id;
    const nlohmann::json listing = Json(Host({"--json", "contacts"}));
    for (const auto &item : listing["items"])
        if (item["title"] == "Street") id = item["id"];
    EXPECT_EQ(Host({"contacts", "show", "1000A"}).exitCode, 0);  // listed as 1000a
    shown = shownText(id);
    EXPECT_NE(shown.find("HOMEADDRESSSTREET: Main 1\n                   Floor 2\n"), std::string::npos) << shown;
    ASSERT_EQ(Host({"contacts", "add", "FIRSTNAME=Web", "WEBPAGE=https://example.com/a,b;c"}).exitCode, 0);
    EXPECT_NE(Host({"contacts", "export", "-"}).out.find("URL:https://example.com/a,b;c\r\n"), std::string::npos);
}

// The box may come before the subcommand, as the usage shows.
TEST_F(HostCli, SentMessagesAreShownAndRemovedByTheirBox) {
    std::string id = Json(Host({"--json", "sms", "sent"}))["items"][0]["id"];
    EXPECT_EQ(Json(Host({"--json", "sms", "sent", "show", id}))["id"], id);
    EXPECT_EQ(Host({"sms", "sent", "rm", id}).exitCode, 0);
    EXPECT_EQ(Host({"sms", "show", "--sent", id}).exitCode, 1);
}

// A call without a number lists with no name either (the phone's listing gives the
// name only with the number): the host says so instead of a blank row.
TEST_F(HostCli, CallsListNumberAndNameApartNewestFirst) {
    const fs::path volume = m_phone.path() / "volumes" / "pim.vol.json";
    nlohmann::json image = nlohmann::json::parse(ReadFileText(volume));
    for (auto &database : image["databases"])
        if (database["name"] == "clog.db")
            for (auto &property : database["records"][0]["props"])
                if (property["id"] == "0x0006") property["value"] = "";
    WriteFileText(volume, image.dump());

    nlohmann::json calls = Json(Host({"--json", "calls"}));
    ASSERT_GE(calls["items"].size(), 2u);
    std::string previous = "9";
    int unlisted = 0;
    for (const auto &call : calls["items"]) {
        EXPECT_LE(call["startTime"].get<std::string>(), previous);
        previous = call["startTime"];
        if (!call.value("nameListed", true))
            ++unlisted;
        else
            EXPECT_EQ(call["title"], call["number"].get<std::string>() + ";" + call["name"].get<std::string>());
    }
    EXPECT_EQ(unlisted, 1);
    EXPECT_NE(Host({"calls"}).out.find("calls without a number: the phone's listing gives no name"), std::string::npos);
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

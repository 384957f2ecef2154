// Appointments and the call history through the built host: times are typed and
// shown in PC local time and come back as the same instant, in any zone.
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

TEST_F(HostCli, CallsListNumberAndNameApartNewestFirst) {
    nlohmann::json calls = Json(Host({"--json", "calls"}));
    ASSERT_GE(calls["items"].size(), 2u);
    std::string previous = "9";
    for (const auto &call : calls["items"]) {
        EXPECT_LE(call["startTime"].get<std::string>(), previous);
        previous = call["startTime"];
        EXPECT_EQ(call["title"], call["number"].get<std::string>() + ";" + call["name"].get<std::string>());
    }
}

TEST_F(HostCli, ListingAFileShowsThatFile) {
    nlohmann::json listing = Json(Host({"--json", "ls", "/My Documents/readme.txt"}));
    ASSERT_EQ(listing["entries"].size(), 1u) << listing.dump();
    EXPECT_EQ(listing["entries"][0]["name"], "readme.txt");
    EXPECT_EQ(Host({"ls", "/My Documents/nothere.txt"}).exitCode, 1);
}

}  // namespace

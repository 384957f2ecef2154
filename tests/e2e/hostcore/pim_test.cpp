// The core's contacts, calendar, calls and messages in-process: times typed and read
// in PC local time, what the phone cannot keep named where it happens, text holding
// markup or the item text's separator, partial reads never taken for whole lists.
// (The commands' arguments, tables and exit codes: e2e/host/host_pim_test.cpp.)
#include <algorithm>
#include <map>
#include <set>

#include "backup.h"
#include "core_fixture.h"
#include "failure.h"
#include "interop.h"
#include "phone_keeps.h"
#include "pim_operations.h"
#include "pim_results.h"
#include "support/pc_time_zone.h"
#include "tests/e2e/host/host_fixture.h"

namespace fs = std::filesystem;

namespace {

using host::ErrorKind;
using Words = std::vector<std::string>;

class CorePim : public CoreSessionTest {
protected:
    std::string File(const std::string &name) { return (m_logs.path() / name).string(); }

    // The phone's volume `volume` changed by `edit` (before the link comes up).
    void EditVolume(const char *volume, const std::function<void(nlohmann::json &)> &edit) {
        const fs::path file = m_phone.path() / "volumes" / volume;
        nlohmann::json image = nlohmann::json::parse(ReadFileText(file));
        edit(image);
        WriteFileText(file, image.dump());
    }

    host::Outcome TryAdd(const std::string &type, const Words &words, host::KeptItem *kept) {
        host::Outcome outcome = host::PrepareAdd(type, words, kept);
        return outcome.ok ? host::AddPimItem(m_session, type, *kept) : outcome;
    }
    // Adds an item; the changes the phone makes to it.
    nlohmann::json Add(const std::string &type, const Words &words) {
        host::KeptItem kept;
        const host::Outcome outcome = TryAdd(type, words, &kept);
        EXPECT_TRUE(outcome.ok) << outcome.message;
        return host::AddedJson(kept)["changes"];
    }
    // Adds an appointment (words[0]: its TITLE=); its ID.
    std::string AddAppointment(const Words &words) {
        Add(host::kAppointmentType, words);
        return Listed("calendar", words[0].substr(6)).value("id", "");
    }
    nlohmann::json List(const std::string &kind) {
        host::PimListing listing;
        const host::Outcome outcome = host::ListPimItems(m_session, kind, &listing);
        EXPECT_TRUE(outcome.ok) << outcome.message;
        return host::PimListingJson(listing);
    }
    nlohmann::json Items(const std::string &kind) { return List(kind)["items"]; }
    // The listed item of `kind` whose title starts with `title`, as its JSON.
    nlohmann::json Listed(const std::string &kind, const std::string &title) {
        for (const auto &item : Items(kind))
            if (item["title"].get<std::string>().rfind(title, 0) == 0) return item;
        return nullptr;
    }
    nlohmann::json Show(const std::string &type, const std::string &id) {
        host::ShownItem shown;
        const host::Outcome outcome = host::ShowPimItem(m_session, type, id, &shown);
        EXPECT_TRUE(outcome.ok) << outcome.message;
        return host::ShownItemJson(type, shown);
    }
    // The fields of the item of `kind` listed as `title`, but its ID.
    nlohmann::json ShownFields(const std::string &kind, const std::string &title) {
        nlohmann::json fields = Show(host::PimType(kind), Listed(kind, title).value("id", ""))["fields"];
        fields.erase("ID");
        return fields;
    }
    host::Outcome Backup(const std::string &folder, nlohmann::json *summary = nullptr, bool acceptFewer = false) {
        host::BackupFolder backup(File(folder));
        const host::Outcome prepared = backup.PrepareForBackup();
        EXPECT_TRUE(prepared.ok) << prepared.message;
        host::TransferSink quiet;
        host::BackupResult result;
        const host::Outcome outcome = host::MakeBackup(m_session, backup, acceptFewer, 0, quiet, &result);
        if (summary) *summary = result.summary;
        return outcome;
    }
    void RemoveAll(const std::string &kind) {
        std::string removed;
        for (const auto &item : Items(kind))
            ASSERT_TRUE(host::RemovePimItem(m_session, host::PimType(kind), item["id"], &removed).ok);
    }
};

#if !defined(_WIN32)
// (POSIX zone rules in TZ; a Windows host takes its zone from the system.)

// "2026-12-27T18:57:23+09:00" as seconds since 1970 UTC.
host::Instant InstantOf(const std::string &iso) {
    host::Instant wall = 0;
    bool dateOnly = false;
    EXPECT_TRUE(host::ParseTypedTime(iso.substr(0, 19) + "Z", &wall, &dateOnly)) << iso;
    const int offset = std::stoi(iso.substr(20, 2)) * 3600 + std::stoi(iso.substr(23, 2)) * 60;
    return wall - (iso[19] == '-' ? -offset : offset);
}

TEST_F(CorePim, AnAppointmentAddedAtTenLocalTimeReadsBackAtTenLocalTime) {
    ConnectOrFail();
    std::string id, utc;
    {
        PcTimeZone seoul(kSeoul);
        id = AddAppointment({"TITLE=Meeting", "STARTTIME=2009-06-01 10:00", "ENDTIME=2009-06-01 11:30"});
        const nlohmann::json fields = Show(host::kAppointmentType, id)["fields"];
        EXPECT_EQ(fields["STARTTIME"], "2009-06-01T10:00:00+09:00") << fields.dump();
        EXPECT_EQ(fields["ENDTIME"], "2009-06-01T11:30:00+09:00");
        EXPECT_EQ(fields["DURATION"], "90");
    }
    PcTimeZone newYork(kNewYork);  // the same instant, seen in summer time
    EXPECT_EQ(Show(host::kAppointmentType, id)["fields"]["STARTTIME"], "2009-05-31T21:00:00-04:00");
    utc = AddAppointment({"TITLE=Call", "STARTTIME=20090601T010000Z", "DURATION=30"});
    EXPECT_EQ(Show(host::kAppointmentType, utc)["fields"]["STARTTIME"], "2009-05-31T21:00:00-04:00");
    // Twenty-four hours from a time stay a timed appointment.
    const std::string day = AddAppointment({"TITLE=Day", "STARTTIME=2026-06-10 10:00", "ENDTIME=2026-06-11 10:00"});
    const nlohmann::json fields = Show(host::kAppointmentType, day)["fields"];
    EXPECT_EQ(fields["WHOLEDAY"], "FALSE") << fields.dump();
    EXPECT_EQ(fields["ENDTIME"], "2026-06-11T10:00:00-04:00");
    EXPECT_EQ(fields["DURATION"], "1440");
}

TEST_F(CorePim, WholeDayAppointmentsKeepTheirDayInEveryZone) {
    ConnectOrFail();
    std::string id, bare;
    {
        PcTimeZone seoul(kSeoul);
        id = AddAppointment({"TITLE=Holiday", "WHOLEDAY=true", "STARTTIME=2009-06-01"});
        // A whole day the phone keeps without minutes still lasts its day.
        bare = AddAppointment({"TITLE=Bare", "WHOLEDAY=TRUE", "STARTTIME=2026-06-12", "DURATION=0"});
    }
    for (const PcZone &zone : {kSeoul, kNewYork}) {
        PcTimeZone in(zone);
        const nlohmann::json fields = Show(host::kAppointmentType, id)["fields"];
        EXPECT_EQ(fields["WHOLEDAY"], "TRUE") << zone.tz;
        EXPECT_EQ(fields["STARTTIME"], "2009-06-01") << zone.tz << fields.dump();
        EXPECT_EQ(fields["ENDTIME"], "2009-06-01") << zone.tz;
        EXPECT_EQ(Show(host::kAppointmentType, bare)["fields"]["ENDTIME"], "2026-06-12") << zone.tz;
    }
    PcTimeZone seoul(kSeoul);
    host::InteropReport report;
    ASSERT_TRUE(host::ExportCalendar(m_session, File("all.ics"), &report).ok);
    EXPECT_NE(ReadFileText(File("all.ics")).find("DTSTART;VALUE=DATE:20260612\r\nDTEND;VALUE=DATE:20260613\r\n"),
              std::string::npos);
}

// Calls and messages are read in PC local time with its offset, as instants that do
// not move with the zone, in every listing and export.
TEST_F(CorePim, CallAndMessageTimesAreTheSameInstantsInEveryZone) {
    ConnectOrFail();
    std::map<std::string, std::vector<std::string>> seen;  // zone -> call, message, exported call, exported message
    for (const PcZone &zone : {kSeoul, kNewYork}) {
        PcTimeZone in(zone);
        std::vector<host::SmsMessage> messages;
        ASSERT_TRUE(host::ListMessages(m_session, false, &messages).ok);
        host::InteropReport report;
        ASSERT_TRUE(host::ExportCalls(m_session, File("calls.json"), &report).ok);
        ASSERT_TRUE(host::ExportMessages(m_session, File("sms.json"), &report).ok);
        seen[zone.tz] = {List("calls")["items"][0]["startTime"], host::MessageJson(messages.at(0), false)["time"],
                         nlohmann::json::parse(ReadFileText(File("calls.json")))[0]["time"],
                         nlohmann::json::parse(ReadFileText(File("sms.json")))[0]["time"]};
    }
    for (size_t i = 0; i < 4; ++i) {
        const std::string &seoul = seen[kSeoul.tz][i], &newYork = seen[kNewYork.tz][i];
        EXPECT_EQ(seoul.substr(19), "+09:00") << i;
        EXPECT_EQ(InstantOf(seoul), InstantOf(newYork)) << i << ": " << seoul << " " << newYork;
    }
}
#endif

// An edit adds the new record and deletes the old: what the words do not name is
// carried, and what cannot be carried (a field the add cannot write, a value a read
// may have cut) refuses the edit, named, until a word names it.
TEST_F(CorePim, AnEditKeepsWhatItDoesNotNameOrRefusesNamingWhat) {
    ConnectOrFail();
    const std::string longCompany(130, 'c');
    Add(host::kContactType, {"FIRSTNAME=Ann", "LASTNAME=Lee", "MOBILETELEPHONENUMBER=010-1", "EMAIL1ADDRESS=a@b.kr",
                             "NICKNAME=annie", "COMPANYNAME=" + longCompany});
    const std::string ann = Listed("contacts", "LeeAnn").value("id", "");
    const size_t contacts = Items("contacts").size();
    const auto edit = [&](const std::string &type, const std::string &id, const Words &words) {
        host::EditedItem edited;
        const host::Outcome outcome = host::EditPimItem(m_session, type, id, words, &edited);
        return std::make_pair(outcome, edited.newId);
    };
    const std::pair<std::string, Words> refusals[] = {{"COMPANYNAME (a read gives", {"FIRSTNAME=Anne"}},
                                                      {"BIRTHDAY (the phone's add cannot write it", {"FIRSTNAME=B"}}};
    for (const auto &[why, words] : refusals) {
        const std::string id = why[0] == 'C' ? ann : "10002";
        const auto [outcome, newId] = edit(host::kContactType, id, words);
        EXPECT_EQ(outcome.kind, ErrorKind::kBadInput) << outcome.message;
        EXPECT_NE(outcome.message.find(why), std::string::npos) << outcome.message;
        EXPECT_EQ(Items("contacts").size(), contacts);
    }
    auto [outcome, newId] = edit(host::kContactType, ann, {"MOBILETELEPHONENUMBER=010-2", "COMPANYNAME=Acme"});
    ASSERT_TRUE(outcome.ok) << outcome.message;
    nlohmann::json fields = Show(host::kContactType, newId)["fields"];
    EXPECT_EQ(fields["FIRSTNAME"], "Ann") << fields.dump();
    EXPECT_EQ(fields["EMAIL1ADDRESS"], "a@b.kr");
    EXPECT_EQ(fields[host::kNicknameOrId], "annie");
    EXPECT_EQ(fields["MOBILETELEPHONENUMBER"], "010-2");
    EXPECT_EQ(fields["COMPANYNAME"], "Acme");
    host::ShownItem gone;
    EXPECT_EQ(host::ShowPimItem(m_session, host::kContactType, ann, &gone).kind, ErrorKind::kNotFound);
    EXPECT_EQ(Items("contacts").size(), contacts);
    // Named with no value, what the add cannot write is let go.
    std::tie(outcome, newId) = edit(host::kContactType, "10002", {"BIRTHDAY=", "ANNIVERSARY="});
    ASSERT_TRUE(outcome.ok) << outcome.message;
    EXPECT_FALSE(Show(host::kContactType, newId)["fields"].contains("BIRTHDAY"));
}

#if !defined(_WIN32)
TEST_F(CorePim, AnAppointmentsEditKeepsItsTimesUnlessItNamesThem) {
    ConnectOrFail();
    PcTimeZone seoul(kSeoul);
    std::map<std::string, std::string> ids = {
        // (each edit makes the record anew)
        {"meet", AddAppointment({"TITLE=Meet", "STARTTIME=2026-06-10 10:00", "DURATION=90", "LOCATION=Room 1"})},
        {"trip", AddAppointment({"TITLE=Trip", "WHOLEDAY=TRUE", "STARTTIME=2026-06-12", "ENDTIME=2026-06-13"})}};
    const struct {
        const char *record;
        Words words;
        const char *start, *end, *location;
    } cases[] = {
        {"meet", {"TITLE=Meeting"}, "2026-06-10T10:00:00+09:00", "2026-06-10T11:30:00+09:00", "Room 1"},
        {"meet",
         {"STARTTIME=2026-06-11 09:00", "LOCATION="},
         "2026-06-11T09:00:00+09:00",
         "2026-06-11T10:30:00+09:00",
         ""},
        {"meet",
         {"ENDTIME=2026-06-11 09:15", "STARTTIME=2026-06-11 09:00"},
         "2026-06-11T09:00:00+09:00",
         "2026-06-11T09:15:00+09:00",
         ""},
        {"trip", {"TITLE=Trip!"}, "2026-06-12", "2026-06-13", ""},
        {"trip", {"STARTTIME=2026-07-01"}, "2026-07-01", "2026-07-02", ""},
    };
    for (const auto &c : cases) {
        host::EditedItem edited;
        const host::Outcome outcome =
            host::EditPimItem(m_session, host::kAppointmentType, ids[c.record], c.words, &edited);
        ASSERT_TRUE(outcome.ok) << c.words[0] << ": " << outcome.message;
        ids[c.record] = edited.newId;
        const nlohmann::json fields = Show(host::kAppointmentType, edited.newId)["fields"];
        EXPECT_EQ(fields["STARTTIME"], c.start) << c.words[0] << fields.dump();
        EXPECT_EQ(fields["ENDTIME"], c.end) << c.words[0];
        EXPECT_EQ(fields.value("LOCATION", ""), c.location) << c.words[0];
    }
}
#endif

// The phone has no edit: a failed add leaves the old record as it was, and a failed
// delete after a good add says both are on the phone.
TEST_F(CorePim, AnEditThatFailsHalfWaySaysWhatIsOnThePhone) {
    ConnectOrFail();
    for (const char *operation : {"DevCeWriteRecordProps", "DevCeDeleteRecord"}) {
        Reconnect([&](nlohmann::json &device) { device["faults"] = {{{"operation", operation}}}; });
        const nlohmann::json before = Items("contacts");
        const std::string id = before[0]["id"];
        host::EditedItem edited;
        const host::Outcome outcome = host::EditPimItem(m_session, host::kContactType, id, {"JOBTITLE=Chef"}, &edited);
        EXPECT_FALSE(outcome.ok) << operation;
        const std::string said = host::FailureText("edit", outcome);
        const nlohmann::json after = Items("contacts");
        EXPECT_EQ(after[0]["id"], id) << operation;
        if (operation[5] == 'W') {
            EXPECT_NE(said.find("(ID " + id + ") is kept unchanged"), std::string::npos) << said;
            EXPECT_EQ(after, before);
        } else {
            EXPECT_NE(said.find("both are on the phone"), std::string::npos) << said;
            EXPECT_NE(said.find("added as ID " + edited.newId), std::string::npos) << said;
            EXPECT_EQ(after.size(), before.size() + 1);
        }
    }
}

// A message's number names the contacts that hold it, however spaced; a number the
// read may have cut names no one.
TEST(NamesOfSender, MatchesNumbersAsComparedAndNeverACutOne) {
    const host::NamesByNumber names = {{"01012345678", {"Ann", "Bob"}}, {std::string(200, '1'), {"Long"}}};
    const auto named = [&](const std::string &number) { return host::NamesOfSender(names, {"1", number, "", ""}); };
    EXPECT_EQ(named("010 1234-5678"), (std::vector<std::string>{"Ann", "Bob"}));
    EXPECT_TRUE(named("01012345679").empty());
    EXPECT_TRUE(named("").empty());
    EXPECT_TRUE(named(std::string(200, '1')).empty());
}

// An add that would silently drop or guess a field is refused, naming why, before
// anything reaches the phone.
TEST_F(CorePim, AddsRefuseFieldsTheyWouldDropOrGuess) {
    const std::pair<const char *, Words> refused[] = {
        {"BIRTHDAY is shown when read", {"BIRTHDAY=1971-02-02"}},
        {"FIRSTNAME is given twice", {"FIRSTNAME=Ann", "firstname=Anne"}},
        {"did you mean FIRSTNAME?", {"FIRSTNAM=Ann"}},
        {"ENDTIME or DURATION, not both",
         {"TITLE=x", "STARTTIME=2026-01-01 10:00", "DURATION=10", "ENDTIME=2026-01-02 10:00"}},
        {"up to 527040", {"TITLE=x", "STARTTIME=2026-01-01 10:00", "DURATION=100000000"}},
        {"STARTTIME: not a time", {"TITLE=x", "STARTTIME=2009-13-01 10:00"}},
        {"STARTTIME: not a time", {"TITLE=x", "STARTTIME=tomorrow"}},
        {"ends before it starts", {"TITLE=x", "STARTTIME=2009-06-01 10:00", "ENDTIME=2009-06-01 09:00"}},
        {"STARTTIME is required", {"TITLE=x"}}};
    for (const auto &[message, words] : refused) {
        host::KeptItem kept;
        const bool appointment = words[0].rfind("TITLE=", 0) == 0;
        const host::Outcome outcome =
            host::PrepareAdd(appointment ? host::kAppointmentType : host::kContactType, words, &kept);
        EXPECT_EQ(outcome.kind, ErrorKind::kBadInput) << message;
        EXPECT_NE(outcome.message.find(message), std::string::npos) << outcome.message;
    }
}

// IDs in any letter case; an ID the listing lacks is not found, for every kind.
TEST_F(CorePim, ItemsAreFoundByTheirIdInAnyLetterCase) {
    ConnectOrFail();
    EXPECT_EQ(Show(host::kContactType, "1000A")["id"], "1000a");
    EXPECT_EQ(Show(host::kContactType, "10002")["fields"]["BIRTHDAY"], "1971-02-02");
    std::string removed;
    for (const std::string &type :
         {std::string(host::kContactType), std::string(host::kAppointmentType), host::SmsType(true)})
        EXPECT_EQ(host::RemovePimItem(m_session, type, "77777", &removed).kind, ErrorKind::kNotFound) << type;
    host::SmsMessage message;
    EXPECT_EQ(host::FindMessage(m_session, false, "77777", &message).kind, ErrorKind::kNotFound);
    Add(host::kContactType, {"firstname=Web", "WEBPAGE=https://example.com/a,b;c"});  // names in any case
    EXPECT_TRUE(Listed("contacts", "Web").is_object());
    host::InteropReport report;
    ASSERT_TRUE(host::ExportContacts(m_session, File("all.vcf"), &report).ok);
    EXPECT_NE(ReadFileText(File("all.vcf")).find("URL:https://example.com/a,b;c\r\n"), std::string::npos);
}

// A call without a number lists with no name either (the phone's listing gives the
// name only with the number), newest first.
TEST_F(CorePim, CallsListNumberAndNameApartNewestFirst) {
    EditVolume("pim.vol.json", [](nlohmann::json &image) {
        for (auto &database : image["databases"])
            if (database["name"] == "clog.db")
                for (auto &property : database["records"][0]["props"])
                    if (property["id"] == "0x0006") property["value"] = "";
    });
    ConnectOrFail();
    const nlohmann::json calls = List("calls");
    ASSERT_GE(calls["items"].size(), 2u);
    std::string previous = "9";
    int unlisted = 0;
    for (const auto &call : calls["items"]) {
        EXPECT_LE(call["startTime"].get<std::string>(), previous);
        previous = call["startTime"];
        if (!call["nameListed"])
            ++unlisted;
        else
            EXPECT_EQ(call["title"], call["number"].get<std::string>() + ";" + call["name"].get<std::string>());
    }
    EXPECT_EQ(unlisted, 1);
}

// A call the phone keeps without a time (0) shows no time, not a moment of 1601 in the
// zone's old local mean time; messages list oldest first in both boxes, whatever order
// the phone keeps them in.
TEST_F(CorePim, ACallWithoutATimeShowsNoneAndMessagesListInTimeOrder) {
    EditVolume("pim.vol.json", [](nlohmann::json &image) {
        for (auto &database : image["databases"])
            if (database["name"] == "clog.db")
                for (auto &property : database["records"][0]["props"])
                    if (property["id"] == "0x0002") property["value"] = "1601-01-01T00:00:00";
    });
    ConnectOrFail();
    const nlohmann::json calls = List("calls");
    EXPECT_EQ(std::count_if(calls["items"].begin(), calls["items"].end(),
                            [](const nlohmann::json &call) { return call["startTime"] == ""; }),
              1)
        << calls.dump(1);
    EXPECT_EQ(calls.dump().find("1601"), std::string::npos);
    for (bool sent : {false, true}) {
        std::vector<host::SmsMessage> messages;
        ASSERT_TRUE(host::ListMessages(m_session, sent, &messages).ok);
        ASSERT_GT(messages.size(), 2u);
        EXPECT_TRUE(std::is_sorted(messages.begin(), messages.end(), [](const auto &a, const auto &b) {
            return a.stamp < b.stamp;
        })) << sent;
    }
}

// What the phone's reads give of a PC value under CP949 is that value: cut where the
// phone cuts, '?' or the letter without its accent where the code page lacks one, a
// number spaced otherwise. Nothing else is: another letter, a '?' the PC typed itself.
TEST(ReadsAs, ThePhonesReadOfAPcValue) {
    ScopedEnv codePage("CEBRIDGE_CODEPAGE", "949");
    const struct {
        const char *field;
        std::string given, read;
        bool same;
    } table[] = {
        {"LASTNAME", "M\u00fcller", "Muller", true},
        {"LASTNAME", "M\u00fcller", "M?ller", true},
        {"LASTNAME", "M\u00fcller", "Mueller", false},
        {"LASTNAME", "M\u00e4ller", "Muller", false},  // ä reads as a
        {"LASTNAME", "Muller", "M\u00fcller", false},
        {"LASTNAME", "Wh?", "Wha", false},
        {"FIRSTNAME", "Zo\u00eb \u2615", "Zoe ?", true},
        {"FIRSTNAME", "\u2615", "a", false},
        {"LASTNAME", "\ud64d\uae38\ub3d9", "\ud64d\uae38\ub3d9", true},
        {"LASTNAME", std::string(40, 'x'), std::string(31, 'x'), true},
        {"LASTNAME", std::string(40, 'x'), std::string(30, 'x'), false},
        {"MOBILETELEPHONENUMBER", "+34-91-555-0112", "+34 91 555 0112", true},
        {"MOBILETELEPHONENUMBER", "(02) 555.0101", "025550101", true},
        {"MOBILETELEPHONENUMBER", "+34-91-555-0112", "+34 91 555 0113", false},
        {"LASTNAME", "+34-91", "+34 91", false},  // only numbers are compared so
    };
    for (const auto &row : table)
        EXPECT_EQ(host::ReadsAs(host::kContactType, row.field, row.given, row.read), row.same)
            << row.field << " " << row.given << " / " << row.read;
}

const std::string kLongMail = std::string(60, 'x') + "@example.kr";  // 71 bytes
const std::string kIdNumber = "800101-1234567";

TEST_F(CorePim, AnAddNamesWhatThePhoneCutReplacedAndMerged) {
    ConnectOrFail();
    const nlohmann::json changes =
        Add(host::kContactType, {"FIRSTNAME=Zo\u00eb", "LASTNAME=" + std::string(40, 'L'), "EMAIL1ADDRESS=" + kLongMail,
                                 "NICKNAME=Gil", "GOVERNMENTID=" + kIdNumber});
    std::map<std::string, nlohmann::json> of;  // field -> its change
    for (const auto &change : changes) of[change["field"]] = change;
    for (const auto &[field, change] : std::map<std::string, std::string>{
             {"LASTNAME", "cut"}, {"EMAIL1ADDRESS", "cut"}, {"FIRSTNAME", "replaced"}, {"NICKNAME", "merged"}})
        EXPECT_EQ(of[field]["change"], change) << field << changes.dump();
    EXPECT_EQ(of["EMAIL1ADDRESS"]["keptBytes"], 63);
    EXPECT_EQ(of["NICKNAME"]["kept"], "GOVERNMENTID");
    // A character the code page lacks is one '?', however many bytes it takes. (U+0175
    // is in neither CP949 nor CP1252; Windows would write a look-alike 'w')
    Add(host::kContactType, {"FIRSTNAME=Zo\u0175 \u2615"});
    EXPECT_TRUE(Listed("contacts", "Zo? ?").is_object());
    // An appointment whose title the phone keeps but whose reads give only its start.
    host::KeptItem kept;
    ASSERT_TRUE(
        TryAdd(host::kAppointmentType, {"TITLE=" + std::string(200, 'T'), "STARTTIME=2026-06-10 10:00"}, &kept).ok);
    ASSERT_FALSE(kept.changes.empty());
    EXPECT_NE(kept.changes[0].Text().find("reads give only its first 123 bytes of the 200"), std::string::npos);
}

TEST_F(CorePim, AnIdNumberIsNeverShownAsANickname) {
    ConnectOrFail();
    Add(host::kContactType, {"FIRSTNAME=Id", "GOVERNMENTID=" + kIdNumber});
    Add(host::kContactType, {"FIRSTNAME=Nick", "NICKNAME=Gil"});
    for (const auto &[name, value] : {std::pair<std::string, std::string>{"Id", kIdNumber}, {"Nick", "Gil"}}) {
        const nlohmann::json fields = ShownFields("contacts", name);
        EXPECT_FALSE(fields.contains("NICKNAME") || fields.contains("GOVERNMENTID")) << fields.dump();
        EXPECT_EQ(fields["NICKNAME/GOVERNMENTID"], value) << fields.dump();
    }
}

TEST_F(CorePim, ShowsListingsAndBackupsSayWhatThePhonesWidthsMayHaveCut) {
    // Messages and calls the phone holds longer than its reads give.
    EditVolume("sms.vol.json", [](nlohmann::json &image) {
        image["databases"][0]["records"][0]["props"][1]["value"] = std::string(200, 'm');
    });
    EditVolume("pim.vol.json", [](nlohmann::json &image) {
        for (auto &database : image["databases"])
            if (database["type"] == 0) database["records"][0]["props"][0]["value"] = std::string(40, 'n');
    });
    ConnectOrFail();
    Add(host::kContactType, {"FIRSTNAME=Mail", "EMAIL1ADDRESS=" + kLongMail});
    Add(host::kContactType, {"FIRSTNAME=" + std::string(70, 'F')});
    Add(host::kAppointmentType, {"TITLE=" + std::string(200, 'T'), "STARTTIME=2026-06-10 10:00"});
    EXPECT_EQ(Show(host::kContactType, Listed("contacts", "Mail")["id"])["mayBeCut"]["EMAIL1ADDRESS"], 63);
    EXPECT_EQ(Show(host::kAppointmentType, Listed("calendar", "TTT")["id"])["mayBeCut"]["TITLE"], 123);
    std::vector<host::SmsMessage> messages;
    ASSERT_TRUE(host::ListMessages(m_session, false, &messages).ok);
    EXPECT_EQ(host::MessageJson(messages.at(0), false)["mayBeCut"]["text"], 123);
    for (const auto &[kind, key] : std::vector<std::pair<std::string, std::string>>{
             {"contacts", "FIRSTNAME"}, {"calendar", "title"}, {"calls", "name"}}) {
        size_t marked = 0;
        for (const auto &item : Items(kind)) marked += item["mayBeCut"].contains(key);
        EXPECT_GE(marked, 1u) << kind;
    }
    // A backup writes the files of the exports, and says what they may hold cut.
    nlohmann::json backup;
    ASSERT_TRUE(Backup("phone", &backup).ok);
    std::set<std::string> files;
    for (const auto &item : backup["mayBeCut"]) files.insert(item.value("file", ""));
    EXPECT_EQ(files, (std::set<std::string>{"calendar.ics", "calls.json", "contacts.vcf", "sms.json"})) << backup;
}

// Text the plug-in writes into its XML answers as it is: markup characters, a whole
// end tag followed by a sibling's tag, CDATA's end, and "?>" (after which the answer
// carries the DTD again). Such a contact and appointment list, show, back up and
// restore whole.
TEST_F(CorePim, TextHoldingMarkupListsShowsBacksUpAndRestores) {
    const std::string message = "see <b> & ]]> here ?> done";
    EditVolume("sms.vol.json",
               [&](nlohmann::json &image) { image["databases"][0]["records"][0]["props"][1]["value"] = message; });
    ConnectOrFail();
    const std::string title = "<3 & </Title> <Group>x ]]> ?> end", place = "R&D <b> ]]>";
    Add(host::kContactType, {"FIRSTNAME=AT&T", "LASTNAME=<3", "COMPANYNAME=A&B ]]> <Co>"});
    Add(host::kAppointmentType, {"TITLE=" + title, "LOCATION=" + place, "STARTTIME=2026-06-10 10:00"});
    std::vector<host::SmsMessage> messages;
    ASSERT_TRUE(host::ListMessages(m_session, false, &messages).ok);
    EXPECT_EQ(messages.at(0).text, message);

    const nlohmann::json contact = ShownFields("contacts", "<3AT&T"), appointment = ShownFields("calendar", title);
    EXPECT_EQ(contact.value("FIRSTNAME", "") + " " + contact.value("LASTNAME", ""), "AT&T <3") << contact.dump();
    EXPECT_EQ(contact.value("COMPANYNAME", ""), "A&B ]]> <Co>");
    EXPECT_EQ(appointment.value("LOCATION", ""), place) << appointment.dump();

    ASSERT_TRUE(Backup("phone").ok);
    RemoveAll("contacts");
    RemoveAll("calendar");
    host::BackupFolder backup(File("phone"));
    fs::path folder;
    host::Manifest manifest;
    nlohmann::json report;
    ASSERT_TRUE(host::ReadBackupGeneration(backup, "", &folder, &manifest).ok);
    host::TransferSink files;
    host::ItemSink items;
    const bool calendar = host::CanReadICalendar();
    const host::Outcome outcome =
        host::RestoreBackup(m_session, folder, manifest, {false, true, calendar}, files, items, &report);
    ASSERT_TRUE(outcome.ok) << outcome.message;
    EXPECT_EQ(ShownFields("contacts", "<3AT&T"), contact);
    if (calendar) {
        EXPECT_EQ(ShownFields("calendar", title), appointment);
    }
}

// Nothing escapes "||" in the plug-in's item text: a value holding it and a later
// field's name reads as that value, where what else is known tells them apart.
TEST_F(CorePim, ValuesHoldingTheItemTextsSeparatorStayOneField) {
    auto set = [](nlohmann::json &record, const std::string &id, const std::string &value) {
        for (auto &prop : record["props"])
            if (prop["id"] == id) return void(prop["value"] = value);
        record["props"].push_back({{"id", id}, {"type", "string"}, {"value", value}});
    };
    EditVolume("pim.vol.json", [&](nlohmann::json &image) {
        for (auto &database : image["databases"]) {
            nlohmann::json &records = database["records"];
            if (database["type"] == 24) {
                set(records[0], "0x0082", "A||MOBILETELEPHONENUMBER=666");
                set(records[0], "0x0096", "010||EMAIL1ADDRESS=x@y.kr");
            }
            if (database["type"] == 25) {
                set(records[0], "0x0020", "Meet||LOCATION=Hacked");
                records[0]["props"].erase(1);  // its location
                set(records[1], "0x0041", "Room||WHOLEDAY=TRUE||DURATION=5");
            }
        }
    });
    ConnectOrFail();
    const nlohmann::json contact = Show(host::kContactType, "10001")["fields"];
    EXPECT_EQ(contact["FIRSTNAME"], "A||MOBILETELEPHONENUMBER=666") << contact.dump();
    EXPECT_EQ(contact["MOBILETELEPHONENUMBER"], "010||EMAIL1ADDRESS=x@y.kr");
    EXPECT_EQ(contact["EMAIL1ADDRESS"], "gildong.hong@example.kr");
    const nlohmann::json meeting = Show(host::kAppointmentType, "20001")["fields"];
    EXPECT_EQ(meeting["TITLE"], "Meet||LOCATION=Hacked") << meeting.dump();
    EXPECT_FALSE(meeting.contains("LOCATION"));
    const nlohmann::json kickoff = Show(host::kAppointmentType, "20002")["fields"];
    EXPECT_EQ(kickoff["LOCATION"], "Room||WHOLEDAY=TRUE||DURATION=5") << kickoff.dump();
    EXPECT_EQ(kickoff["WHOLEDAY"], "FALSE");
    host::InteropReport report;
    ASSERT_TRUE(host::ExportContacts(m_session, File("all.vcf"), &report).ok);
    EXPECT_EQ(ReadFileText(File("all.vcf")).find(":x@y.kr\r\n"), std::string::npos);
}

// The plug-in answers a listing whose record reads failed part way with what it had
// and status OK: no listing, export or backup takes such a list for whole (a backup
// leaves that part out, named).
TEST_F(CorePim, AListShortenedByAFailedReadIsNeverTakenForWhole) {
    ConnectOrFail();
    const nlohmann::json fault = {{"operation", "DevCeReadRecordPropsEx"}, {"nth", 5}, {"error", 5}};
    host::InteropReport report;
    host::PimListing listing;
    const std::vector<std::function<host::Outcome()>> runs = {
        [&] { return host::ListPimItems(m_session, "contacts", &listing); },
        [&] { return host::ListPimItems(m_session, "calendar", &listing); },
        [&] { return host::ListPimItems(m_session, "calls", &listing); },
        [&] { return host::ExportContacts(m_session, File("c.vcf"), &report); },
        [&] {  // (a backup is made without the part, which it names)
            nlohmann::json summary;
            const host::Outcome made = Backup("phone", &summary);
            if (!made.ok || summary["unread"].empty()) return made;
            return host::Outcome::Failed(0, summary["unread"][0]["why"].get<std::string>());
        }};
    for (size_t i = 0; i < runs.size(); ++i) {
        // (a changed configuration starts the emulator's call counts again)
        Reconnect([&](nlohmann::json &device) { device["faults"] = {fault}, device["faults"][0]["run"] = i; });
        const host::Outcome outcome = runs[i]();
        EXPECT_FALSE(outcome.ok) << i;
        EXPECT_NE(outcome.message.find("read failed part way"), std::string::npos) << i << outcome.message;
    }
    EXPECT_FALSE(fs::exists(File("c.vcf")));
}

// A phone whose PIM volume cannot be opened lists nothing, with status OK: a first
// backup has no earlier one to compare with, and the plug-in's log tells. Nothing
// read from such a store is written down, even when fewer items are accepted: the
// backup holds the files and names the parts it could not read.
TEST_F(CorePim, AFirstBackupOfAPhoneWhosePimVolumeDidNotOpenNamesWhatItLacks) {
    m_phone.EditDevice([](nlohmann::json &device) { device["pimVolumeMissing"] = true; });
    ConnectOrFail();
    for (const bool acceptFewer : {false, true}) {
        nlohmann::json summary;
        ASSERT_TRUE(Backup("fresh", &summary, acceptFewer).ok);
        ASSERT_GE(summary["unread"].size(), 3u) << summary.dump();
        EXPECT_EQ(summary["unread"][0]["part"], "contacts.vcf");
        EXPECT_NE(summary["unread"][0]["why"].get<std::string>().find("did not open"), std::string::npos);
        EXPECT_FALSE(fs::exists(File("fresh") + "/" + summary["generation"].get<std::string>() + "/contacts.vcf"));
    }
}

}  // namespace

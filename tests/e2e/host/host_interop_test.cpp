// Contacts, appointments, calls and messages as files other programs read: a whole
// phone exported, wiped and imported again; files as other programs write them;
// exported files read by independent parsers.
#include <algorithm>
#include <cstdlib>
#include <map>

#include "host_fixture.h"

namespace fs = std::filesystem;

namespace {

using Fields = std::map<std::string, std::string>;

class HostInterop : public HostCli {
protected:
    std::string File(const std::string &name) { return (m_home.path() / name).string(); }

    std::vector<std::string> Ids(const std::string &kind) {
        std::vector<std::string> ids;
        const nlohmann::json listing = Json(Host({"--json", kind}));
        for (const auto &item : listing["items"]) ids.push_back(item["id"]);
        return ids;
    }

    // Every item of `kind` as its shown fields, by its title.
    std::map<std::string, Fields> Items(const std::string &kind) {
        std::string batch;
        for (const std::string &id : Ids(kind)) batch += kind + " show " + id + "\n";
        std::map<std::string, Fields> items;
        for (const nlohmann::json &shown : JsonLines(Host({"--json", "batch", "-"}, batch))) {
            Fields fields;
            for (const auto &[name, value] : shown["fields"].items())
                if (name != "ID") fields[name] = value;
            items[kind == "contacts" ? fields["LASTNAME"] + fields["FIRSTNAME"] : fields["TITLE"]] = fields;
        }
        return items;
    }

    void Wipe(const std::string &kind) {
        std::string batch;
        for (const std::string &id : Ids(kind)) batch += kind + " rm " + id + "\n";
        ASSERT_EQ(Host({"batch", "-"}, batch).exitCode, 0);
        ASSERT_TRUE(Ids(kind).empty());
    }

    nlohmann::json Import(const std::string &kind, const std::string &file, const std::string &text) {
        WriteFileText(File(file), text);
        return Json(Host({"--json", kind, "import", File(file)}));
    }
};

#if !defined(_WIN32)
TEST_F(HostInterop, ExportWipeImportGivesTheSameContactsAndAppointmentsInAnotherZone) {
#if !defined(CEBRIDGE_HOST_READS_ICALENDAR)
    GTEST_SKIP() << "this build's host reads no iCalendar files";
#endif
    ScopedEnv seoul("TZ", "KST-9");
    std::map<std::string, Fields> contacts = Items("contacts"), appointments = Items("calendar");
    ASSERT_EQ(Host({"contacts", "export", File("all.vcf")}).exitCode, 0);
    ASSERT_EQ(Host({"calendar", "export", File("all.ics")}).exitCode, 0);
    Wipe("contacts");
    Wipe("calendar");
    {
        ScopedEnv newYork("TZ", "EST5EDT,M3.2.0,M11.1.0");
        nlohmann::json added = Json(Host({"--json", "contacts", "import", File("all.vcf")}));
        EXPECT_EQ(added["added"], contacts.size()) << added.dump();
        EXPECT_EQ(Json(Host({"--json", "calendar", "import", File("all.ics")}))["added"], appointments.size());
    }
    // The plug-in's add writes no birthdays and anniversaries: the import says so.
    std::map<std::string, Fields> back = Items("contacts");
    for (auto &[name, fields] : contacts) {
        fields.erase("BIRTHDAY");
        fields.erase("ANNIVERSARY");
        EXPECT_EQ(back[name], fields) << name;
    }
    EXPECT_EQ(Items("calendar"), appointments);
    EXPECT_TRUE(appointments.count("가족 생일") && appointments["가족 생일"]["WHOLEDAY"] == "TRUE");

    nlohmann::json again = Json(Host({"--json", "contacts", "import", "--skip-existing", File("all.vcf")}));
    EXPECT_EQ(again["added"], 0);
    EXPECT_EQ(again["skipped"], contacts.size());
}

TEST_F(HostInterop, ExportedFilesParseWithIndependentParsers) {
    if (!PythonHas("vobject, icalendar")) GTEST_SKIP() << "python3-vobject or python3-icalendar is not installed";
    // A value longer than a line, to be folded between characters, with escapes.
    const std::string street =
        "서울특별시 강남구 테헤란로 123, 4층; 한빛빌딩 서울특별시 강남구 테헤란로 123, 4층; 한빛빌딩";
    ASSERT_EQ(Host({"contacts", "add", "LASTNAME=길", "FIRSTNAME=주소", "HOMEADDRESSSTREET=" + street}).exitCode, 0);
    ASSERT_EQ(Host({"contacts", "export", File("all.vcf")}).exitCode, 0);
    ASSERT_EQ(Host({"calendar", "export", File("all.ics")}).exitCode, 0);
    std::string cards = RunPython(
        "import sys, vobject\n"
        "cards = list(vobject.readComponents(open(sys.argv[1], encoding=\"utf-8\").read()))\n"
        "print(len(cards), cards[0].fn.value, cards[-1].adr.value.street)",
        File("all.vcf"), m_home.path() / "py.txt");
    EXPECT_EQ(cards, std::to_string(Ids("contacts").size()) + " 홍길동 " + street + "\n");
    std::string events = RunPython(
        "import sys, icalendar\n"
        "events = icalendar.Calendar.from_ical(open(sys.argv[1], \"rb\").read()).walk(\"VEVENT\")\n"
        "days = [str(e[\"DTSTART\"].dt) for e in events if e[\"SUMMARY\"] == \"가족 생일\"]\n"
        "print(len(events), days)",
        File("all.ics"), m_home.path() / "py.txt");
    EXPECT_EQ(events, std::to_string(Ids("calendar").size()) + " ['2026-12-12']\n");
}

TEST_F(HostInterop, CalendarFilesOfOtherProgramsImportAtTheirInstants) {
#if !defined(CEBRIDGE_HOST_READS_ICALENDAR)
    GTEST_SKIP() << "this build's host reads no iCalendar files";
#endif
    ScopedEnv seoul("TZ", "KST-9");
    Wipe("calendar");
    nlohmann::json report =
        Import("calendar", "other.ics",
               "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Other//EN\r\n"
               "BEGIN:VTIMEZONE\r\nTZID:Eastern\r\n"
               "BEGIN:STANDARD\r\nDTSTART:16011104T020000\r\nRRULE:FREQ=YEARLY;BYDAY=1SU;BYMONTH=11\r\n"
               "TZOFFSETFROM:-0400\r\nTZOFFSETTO:-0500\r\nEND:STANDARD\r\n"
               "BEGIN:DAYLIGHT\r\nDTSTART:16010311T020000\r\nRRULE:FREQ=YEARLY;BYDAY=2SU;BYMONTH=3\r\n"
               "TZOFFSETFROM:-0500\r\nTZOFFSETTO:-0400\r\nEND:DAYLIGHT\r\nEND:VTIMEZONE\r\n"
               "BEGIN:VEVENT\r\nSUMMARY:NY call\r\nDTSTART;TZID=Eastern:20090601T090000\r\n"
               "DURATION:PT45M\r\nEND:VEVENT\r\n"
               "BEGIN:VEVENT\r\nSUMMARY:Berlin\r\nDTSTART;TZID=Europe/Berlin:20090115T120000\r\n"
               "DTEND;TZID=Europe/Berlin:20090115T130000\r\nEND:VEVENT\r\n"
               "BEGIN:VEVENT\r\nSUMMARY:휴가\\, 가족\r\nDTSTART;VALUE=DATE:20090803\r\n"
               "DTEND;VALUE=DATE:20090806\r\nEND:VEVENT\r\n"
               "BEGIN:VEVENT\r\nSUMMARY:Floating\r\nDTSTART:20090602T080000\r\nDTEND:20090603T080000\r\nEND:VEVENT\r\n"
               "BEGIN:VEVENT\r\nSUMMARY:Weekly\r\nDTSTART:20090601T010000Z\r\nRRULE:FREQ=WEEKLY\r\nEND:VEVENT\r\n"
               "END:VCALENDAR\r\n");
    EXPECT_EQ(report["added"], 4) << report.dump();
    EXPECT_EQ(report["refused"], 1);
    std::map<std::string, Fields> items = Items("calendar");
    EXPECT_EQ(items["NY call"]["STARTTIME"], "2009-06-01T22:00:00+09:00");
    EXPECT_EQ(items["NY call"]["DURATION"], "45");
    EXPECT_EQ(items["Berlin"]["STARTTIME"], "2009-01-15T20:00:00+09:00");
    EXPECT_EQ(items["휴가, 가족"]["STARTTIME"], "2009-08-03");
    EXPECT_EQ(items["휴가, 가족"]["ENDTIME"], "2009-08-05");
    // A floating time is PC local time; exactly 24 hours stays a timed appointment.
    EXPECT_EQ(items["Floating"]["STARTTIME"], "2009-06-02T08:00:00+09:00");
    EXPECT_EQ(items["Floating"]["WHOLEDAY"], "FALSE");
}

TEST_F(HostInterop, CalendarImportNamesWhatThePhoneCannotKeep) {
#if !defined(CEBRIDGE_HOST_READS_ICALENDAR)
    GTEST_SKIP() << "this build's host reads no iCalendar files";
#endif
    Wipe("calendar");
    nlohmann::json report =
        Import("calendar", "rich.ics",
               "BEGIN:VCALENDAR\r\nVERSION:2.0\r\n"
               "BEGIN:VEVENT\r\nSUMMARY:Review\r\nDTSTART:20260601T080000Z\r\nDURATION:PT1H\r\n"
               "DESCRIPTION:Bring the slides\r\nATTENDEE:mailto:a@example.com\r\nX-OTHER-APP:1\r\n"
               "BEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT15M\r\nEND:VALARM\r\nEND:VEVENT\r\n"
               "BEGIN:VEVENT\r\nSUMMARY:Called off\r\nSTATUS:CANCELLED\r\nDTSTART:20260602T080000Z\r\nEND:VEVENT\r\n"
               "BEGIN:VEVENT\r\nSUMMARY:Bad start\r\nDTSTART:notadate\r\nEND:VEVENT\r\n"
               "BEGIN:VTODO\r\nSUMMARY:Buy milk\r\nEND:VTODO\r\n"
               "BEGIN:VJOURNAL\r\nSUMMARY:Diary\r\nEND:VJOURNAL\r\nEND:VCALENDAR\r\n");
    EXPECT_EQ(report["added"], 1) << report.dump();
    EXPECT_EQ(report["skipped"], 1);
    EXPECT_EQ(report["refused"], 3);
    std::string notes = report["notes"].dump();
    for (const char *named : {"DESCRIPTION", "ATTENDEE", "alarm", "STATUS:CANCELLED", "task (VTODO)",
                              "journal entry (VJOURNAL)", "notadate"})
        EXPECT_NE(notes.find(named), std::string::npos) << named << " in " << notes;
    EXPECT_EQ(notes.find("X-OTHER-APP"), std::string::npos) << notes;
    EXPECT_EQ(notes.find("no DTSTART"), std::string::npos) << notes;
    EXPECT_EQ(Items("calendar").count("Called off"), 0u);
}

// Local times a daylight-saving change skips or repeats: the first occurrence of a
// repeated hour; a skipped one with the offset before the change. `calendar add`,
// the import and an independent reader agree.
TEST_F(HostInterop, TimesInADaylightSavingChangeAgreeWithIndependentReaders) {
#if !defined(CEBRIDGE_HOST_READS_ICALENDAR)
    GTEST_SKIP() << "this build's host reads no iCalendar files";
#endif
    if (!PythonHas("icalendar, zoneinfo")) GTEST_SKIP() << "python3-icalendar is not installed";
    Wipe("calendar");
    const std::string file = File("dst.ics");
    WriteFileText(file,
                  "BEGIN:VCALENDAR\r\nVERSION:2.0\r\n"
                  "BEGIN:VEVENT\r\nSUMMARY:twice\r\nDTSTART;TZID=Europe/Berlin:20261025T023000\r\nEND:VEVENT\r\n"
                  "BEGIN:VEVENT\r\nSUMMARY:never\r\nDTSTART;TZID=Europe/Berlin:20260329T023000\r\nEND:VEVENT\r\n"
                  "END:VCALENDAR\r\n");
    ASSERT_EQ(Host({"calendar", "import", file}).exitCode, 0);
    {
        ScopedEnv berlin("TZ", "Europe/Berlin");
        for (const char *start : {"2026-10-25 02:30", "2026-03-29 02:30"})
            ASSERT_EQ(Host({"calendar", "add", std::string("TITLE=added ") + start, std::string("STARTTIME=") + start})
                          .exitCode,
                      0);
    }
    ScopedEnv utc("TZ", "UTC0");
    std::map<std::string, Fields> items = Items("calendar");
    EXPECT_EQ(items["twice"]["STARTTIME"], "2026-10-25T00:30:00+00:00");
    EXPECT_EQ(items["never"]["STARTTIME"], "2026-03-29T01:30:00+00:00");
    EXPECT_EQ(items["added 2026-10-25 02:30"]["STARTTIME"], items["twice"]["STARTTIME"]);
    EXPECT_EQ(items["added 2026-03-29 02:30"]["STARTTIME"], items["never"]["STARTTIME"]);
    std::string independent = RunPython(
        "import sys, icalendar, zoneinfo\n"
        "for e in icalendar.Calendar.from_ical(open(sys.argv[1], \"rb\").read()).walk(\"VEVENT\"):\n"
        "  t = e[\"DTSTART\"].dt.replace(tzinfo=zoneinfo.ZoneInfo(\"Europe/Berlin\"))\n"
        "  print(e[\"SUMMARY\"], t.astimezone(zoneinfo.ZoneInfo(\"UTC\")).strftime(\"%Y-%m-%dT%H:%M:%S+00:00\"))",
        file, m_home.path() / "py.txt");
    EXPECT_EQ(independent, "twice " + items["twice"]["STARTTIME"] + "\nnever " + items["never"]["STARTTIME"] + "\n");
}
#else
TEST_F(HostInterop, CalendarImportSaysThisBuildCannotReadCalendars) {
    WriteFileText(File("a.ics"), "BEGIN:VCALENDAR\r\nEND:VCALENDAR\r\n");
    HostRun run = Host({"calendar", "import", File("a.ics")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("reads no iCalendar files"), std::string::npos) << run.err;
}
#endif

TEST_F(HostInterop, VCardsOfOtherProgramsImportTheirFields) {
    Wipe("contacts");
    nlohmann::json report = Import(
        "contacts", "other.vcf",
        // 2.1: quoted-printable UTF-8 with a soft line break, bare types, a second charset.
        "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=EC=86=A1;=EC=A7=80=EC=9D=80\r\n"
        "TEL;CELL;VOICE:010-9999-0000\r\nTEL;WORK:02-1111-2222\r\n"
        "ADR;HOME;ENCODING=QUOTED-PRINTABLE:;;Main Street 1=0D=0A=\r\nFloor 2;Springfield;;12345;USA\r\nEND:VCARD\r\n"
        "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=ISO-8859-1:Dupont;Ren\xe9\r\nEMAIL;INTERNET:r@example.fr\r\nEND:"
        "VCARD\r\n"
        // 4.0: quoted type lists, a tel: URI, a group, escaped commas, a photo.
        "BEGIN:VCARD\nVERSION:4.0\nFN:Jane Roe\nN:Roe;Jane;;;\nTEL;VALUE=uri;TYPE=\"cell,voice\":tel:+1-555-0100\n"
        "TEL;TYPE=home:+1-555-0101\nitem1.ADR;TYPE=work:;;1 Loop\\, Suite 2;Cupertino;CA;95014;USA\n"
        "ORG:Acme;R&D\nTITLE:Engineer\nPHOTO:data:image/png;base64,AAAA\nEND:VCARD\n");
    EXPECT_EQ(report["added"], 3) << report.dump();
    std::map<std::string, Fields> items = Items("contacts");
    EXPECT_EQ(items["송지은"], (Fields{{"LASTNAME", "송"},
                                       {"FIRSTNAME", "지은"},
                                       {"MOBILETELEPHONENUMBER", "010-9999-0000"},
                                       {"BUSINESSTELEPHONENUMBER", "02-1111-2222"},
                                       {"HOMEADDRESSSTREET", "Main Street 1\r\nFloor 2"},
                                       {"HOMEADDRESSCITY", "Springfield"},
                                       {"HOMEADDRESSPOSTALCODE", "12345"},
                                       {"HOMEADDRESSCOUNTRY", "USA"}}));
    // é is not in the phone's code page: '?' (Windows may choose a close letter).
    auto dupont = items.lower_bound("DupontRen");
    ASSERT_NE(dupont, items.end());
    EXPECT_EQ(dupont->first.rfind("DupontRen", 0), 0u) << dupont->first;
    EXPECT_NE(dupont->first, "DupontRen\xc3\xa9");
    EXPECT_EQ(items["RoeJane"], (Fields{{"LASTNAME", "Roe"},
                                        {"FIRSTNAME", "Jane"},
                                        {"MOBILETELEPHONENUMBER", "+1-555-0100"},
                                        {"HOMETELEPHONENUMBER", "+1-555-0101"},
                                        {"BUSINESSADDRESSSTREET", "1 Loop, Suite 2"},
                                        {"BUSINESSADDRESSCITY", "Cupertino"},
                                        {"BUSINESSADDRESSSTATE", "CA"},
                                        {"BUSINESSADDRESSPOSTALCODE", "95014"},
                                        {"BUSINESSADDRESSCOUNTRY", "USA"},
                                        {"COMPANYNAME", "Acme"},
                                        {"DEPARTMENT", "R&D"},
                                        {"JOBTITLE", "Engineer"}}));
    std::string notes = report["notes"].dump();
    EXPECT_NE(notes.find("FIRSTNAME: \u00e9 became"), std::string::npos) << notes;
    EXPECT_NE(notes.find("PHOTO"), std::string::npos) << notes;
}

// Cards as careless writers leave them: none is lost, and the import says what it guessed.
TEST_F(HostInterop, VCardsWithoutEndOrWithStrayBytesLoseNoCard) {
    const std::string one = "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Alpha;One\r\nEND:VCARD\r\n";
    const std::string open = "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Beta;Two\r\n";  // no END:VCARD
    std::string utf16 = "\xff\xfe";  // little-endian, as some address books save
    for (char c : std::string("BEGIN:VCARD\nN:U;Wide\nEND:VCARD\n")) utf16 += std::string{c, '\0'};
    const std::pair<std::string, std::vector<std::string>> files[] = {
        {open + one, {"AlphaOne", "BetaTwo"}},
        {one + one + open, {"AlphaOne", "BetaTwo"}},
        {"BEGIN:VCARD \r\nN:Gamma;Three\r\nend:vcard\t\r\n", {"GammaThree"}},
        {"\xef\xbb\xbf" + one, {"AlphaOne"}},
        {utf16, {"UWide"}}};
    for (const auto &[text, names] : files) {
        Wipe("contacts");
        nlohmann::json report = Import("contacts", "careless.vcf", text);
        std::vector<std::string> added;
        for (const auto &[name, fields] : Items("contacts")) added.push_back(name);
        EXPECT_EQ(added, names) << report.dump();
        if (text.find("Beta") != std::string::npos) {
            EXPECT_NE(report["notes"].dump().find("no END:VCARD"), std::string::npos) << report.dump();
        }
    }
}

TEST_F(HostInterop, VCardValuesTakeTheirStructureApart) {
    Wipe("contacts");
    nlohmann::json report = Import("contacts", "values.vcf",
                                   "BEGIN:VCARD\r\nVERSION:4.0\r\nN:Doe;Jane;Mary,Ann;Dr.,Prof.;\r\n"
                                   "TEL;VALUE=uri;TYPE=work:tel:+1-555-0100;ext=42\r\n"
                                   "TEL;VALUE=uri;TYPE=home:tel:+1-555-0199\r\nEND:VCARD\r\n");
    Fields doe = Items("contacts")["DoeJane Mary Ann"];
    EXPECT_EQ(doe["FIRSTNAME"], "Jane Mary Ann") << report.dump();
    EXPECT_EQ(doe["BUSINESSTELEPHONENUMBER"], "+1-555-0100 ext. 42");
    EXPECT_EQ(doe["HOMETELEPHONENUMBER"], "+1-555-0199");
    EXPECT_NE(report["notes"].dump().find("middle"), std::string::npos) << report.dump();
    EXPECT_NE(report["notes"].dump().find("honorific (TITLE"), std::string::npos) << report.dump();
}

TEST_F(HostInterop, ImportsOfAnEmptyFileOrAFolderFailAlike) {
    WriteFileText(File("empty.vcf"), "");
    WriteFileText(File("empty.ics"), "");
    for (const auto &[kind, file] : {std::pair<std::string, std::string>{"contacts", File("empty.vcf")},
                                     {"contacts", m_home.str()},
                                     {"calendar", File("empty.ics")},
                                     {"calendar", m_home.str()}}) {
        HostRun run = Host({"--json", kind, "import", file});
        if (kind == "calendar" && run.err.find("reads no iCalendar") != std::string::npos) continue;
        EXPECT_EQ(run.exitCode, 3) << kind << " " << file << run.out;
        EXPECT_EQ(run.out.find("basic_"), std::string::npos) << run.out;
    }
}

TEST_F(HostInterop, CallsAndMessagesExportAsJsonAndCsv) {
    ASSERT_EQ(Host({"calls", "export", File("calls.json")}).exitCode, 0);
    nlohmann::json calls = nlohmann::json::parse(ReadFileText(File("calls.json")));
    std::vector<std::string> exported, listed = Ids("calls");
    for (const auto &call : calls) exported.push_back(call["id"]);
    std::sort(exported.begin(), exported.end());
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(exported, listed);
    EXPECT_EQ(calls[0].size(), 5u) << calls[0].dump();  // id, kind, number, name, time
    HostRun csv = Host({"sms", "export", "-"});
    ASSERT_EQ(csv.exitCode, 0) << csv.err;
    size_t rows = 0;
    for (size_t at = csv.out.find("\r\n"); at != std::string::npos; at = csv.out.find("\r\n", at + 2)) ++rows;
    size_t messages =
        Json(Host({"--json", "sms"}))["items"].size() + Json(Host({"--json", "sms", "sent"}))["items"].size();
    EXPECT_EQ(rows, messages + 1);  // a header row
    EXPECT_EQ(csv.out.rfind("box,id,number,time,text\r\n", 0), 0u);
}

}  // namespace

// The core's interop engine in-process: what lands in the files (read back by
// independent parsers), what imports of other programs' files add, skip or refuse,
// progress and cancel. (The commands' documents and exit codes: host_interop_test.cpp.)
#include <algorithm>
#include <map>

#include "appointment_time.h"
#include "core_fixture.h"
#include "encoding.h"
#include "icalendar.h"
#include "interop.h"
#include "item_text.h"
#include "pim_items.h"
#include "support/pc_time_zone.h"
#include "tests/e2e/host/host_fixture.h"

namespace {

using Fields = std::map<std::string, std::string>;
using host::ErrorKind;
using host::InteropReport;

const char kContacts[] = "phonebook/private";
const char kCalendar[] = "schedule";

class HostCoreInterop : public CoreSessionTest {
protected:
    void SetUp() override { ConnectOrFail(); }

    std::string File(const std::string &name) { return (m_logs.path() / name).string(); }

    // Every item of `type` as reads give it, by LASTNAME FIRSTNAME or TITLE; times as
    // `show` gives them: PC local time, whole days their first and last day.
    std::map<std::string, Fields> Items(const std::string &type) {
        std::map<std::string, Fields> items;
        for (const host::ContentItem &listed : Listing(type)) {
            std::string text;
            EXPECT_TRUE(m_session.link.ItemText(type, listed.id, &text).ok);
            const host::ItemFields read = host::ReadItemText(type, text, listed);
            Fields fields(read.begin(), read.end());
            fields.erase("ID");
            if (type == kCalendar) {
                const host::AppointmentTimes times = host::ReadAppointmentTimes(read);
                const host::Instant day = host::DayOf(times.start, false);
                fields.erase(times.wholeDay ? "DURATION" : "ENDTIME");
                if (times.wholeDay) fields["ENDTIME"] = host::DayText(day + (host::WholeDays(times) - 1) * 86400);
                if (!times.wholeDay) fields["DURATION"] = std::to_string(times.minutes);
                fields["STARTTIME"] = times.wholeDay ? host::DayText(day) : host::LocalIso(times.start);
            }
            items[type == kContacts ? fields["LASTNAME"] + fields["FIRSTNAME"] : fields["TITLE"]] = fields;
        }
        return items;
    }

    std::vector<host::ContentItem> Listing(const std::string &type) {
        std::vector<host::ContentItem> listed;
        EXPECT_TRUE(m_session.link.Listing(type, &listed).ok);
        return listed;
    }

    void Wipe(const std::string &type) {
        for (const host::ContentItem &item : Listing(type)) ASSERT_TRUE(m_session.link.DeleteItem(type, item.id).ok);
        ASSERT_TRUE(Listing(type).empty());
    }

    void Add(const std::string &type, const std::string &text) {
        ASSERT_TRUE(m_session.link.AddItem(type, host::TerminalToDevice(text)).ok) << text;
    }

    InteropReport Export(auto run, const std::string &file) {
        InteropReport report;
        host::Outcome outcome = run(m_session, File(file), &report);
        EXPECT_TRUE(outcome.ok) << outcome.message;
        return report;
    }

    // Imports `text` (written to `file`: ".vcf" contacts, else calendar).
    InteropReport Import(const std::string &file, const std::string &text, bool skipExisting = false,
                         host::ItemSink *sink = nullptr, host::Outcome *outcome = nullptr) {
        WriteFileText(File(file), text);
        InteropReport report;
        host::ItemSink quiet;
        host::Outcome done =
            file.ends_with(".vcf")
                ? host::ImportContacts(m_session, File(file), skipExisting, sink ? *sink : quiet, &report)
                : host::ImportCalendar(m_session, File(file), skipExisting, sink ? *sink : quiet, &report);
        EXPECT_TRUE(outcome || done.ok) << done.message;
        if (outcome) *outcome = done;
        return report;
    }

    static std::string Notes(const InteropReport &report) { return nlohmann::json(report.notes).dump(); }
};

#if defined(CEBRIDGE_HOST_READS_ICALENDAR)
// A whole phone exported, wiped and imported again in another zone gives the same
// contacts and appointments. Its files read back with independent parsers, and an ID
// number, which shares its phone property with a nickname, is never written as one.
TEST_F(HostCoreInterop, ExportWipeImportInAnotherZoneGivesTheSameItems) {
    PcTimeZone seoul(kSeoul);
    // A value longer than a line, to be folded between characters, with escapes;
    // and text holding markup, which the plug-in writes into its answers unescaped.
    const std::string street =
        "서울특별시 강남구 테헤란로 123, 4층; 한빛빌딩 서울특별시 강남구 테헤란로 123, 4층; 한빛빌딩";
    Add(kContacts, "LASTNAME=길||FIRSTNAME=주소||HOMEADDRESSSTREET=" + street);
    Add(kContacts, "FIRSTNAME=AT&T||LASTNAME=<3||COMPANYNAME=A&B ]]> <Co>");
    Add(kContacts, "FIRSTNAME=Id||GOVERNMENTID=800101-1234567");
    std::map<std::string, Fields> contacts = Items(kContacts), appointments = Items(kCalendar);
    EXPECT_EQ(Export(host::ExportContacts, "all.vcf").written, Listing(kContacts).size());
    EXPECT_EQ(Export(host::ExportCalendar, "all.ics").written, appointments.size());
    const std::string vcf = ReadFileText(File("all.vcf"));
    EXPECT_EQ(vcf.find("\r\nNICKNAME:"), std::string::npos) << vcf;
    EXPECT_NE(vcf.find("X-CEBRIDGE-NICKNAME-OR-ID:800101-1234567\r\n"), std::string::npos);
    if (PythonHas("vobject, icalendar")) {
        EXPECT_EQ(
            RunPython(
                "import sys, vobject, icalendar\n"
                "cards = list(vobject.readComponents(open(sys.argv[1] + \"/all.vcf\", encoding=\"utf-8\").read()))\n"
                "named = {c.n.value.family: c for c in cards}\n"
                "print(len(cards), cards[0].fn.value, named[\"길\"].adr.value.street)\n"
                "print(named[\"<3\"].fn.value, named[\"<3\"].n.value.given, named[\"<3\"].org.value)\n"
                "events = icalendar.Calendar.from_ical(open(sys.argv[1] + \"/all.ics\", \"rb\").read())\n"
                "print(len(events.walk(\"VEVENT\")), [str(e[\"DTSTART\"].dt) for e in events.walk(\"VEVENT\")\n"
                "    if e[\"SUMMARY\"] == \"가족 생일\"])",
                m_logs.str(), File("py.txt")),
            std::to_string(Listing(kContacts).size()) + " 홍길동 " + street + "\nAT&T <3 AT&T ['A&B ]]> <Co>']\n" +
                std::to_string(appointments.size()) + " ['2026-12-12']\n");
    }
    Wipe(kContacts);
    Wipe(kCalendar);
    {
        PcTimeZone newYork(kNewYork);
        EXPECT_EQ(Import("all.vcf", vcf).added, contacts.size());
        EXPECT_EQ(Import("all.ics", ReadFileText(File("all.ics"))).added, appointments.size());
    }
    // The plug-in's add writes no birthdays and anniversaries: the import says so.
    std::map<std::string, Fields> back = Items(kContacts);
    for (auto &[name, fields] : contacts) {
        fields.erase("BIRTHDAY");
        fields.erase("ANNIVERSARY");
        EXPECT_EQ(back[name], fields) << name;
    }
    EXPECT_EQ(Items(kCalendar), appointments);
}

TEST_F(HostCoreInterop, CalendarFilesOfOtherProgramsImportAtTheirInstantsOrSayWhatIsNotKept) {
    PcTimeZone seoul(kSeoul);
    Wipe(kCalendar);
    InteropReport report =
        Import("other.ics",
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
               // What the phone cannot keep, named.
               "BEGIN:VEVENT\r\nSUMMARY:Review\r\nDTSTART:20260601T080000Z\r\nDURATION:PT1H\r\n"
               "DESCRIPTION:Bring the slides\r\nATTENDEE:mailto:a@example.com\r\nX-OTHER-APP:1\r\n"
               "BEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT15M\r\nEND:VALARM\r\nEND:VEVENT\r\n"
               "BEGIN:VEVENT\r\nSUMMARY:Called off\r\nSTATUS:CANCELLED\r\nDTSTART:20260602T080000Z\r\nEND:VEVENT\r\n"
               "BEGIN:VEVENT\r\nSUMMARY:Bad start\r\nDTSTART:notadate\r\nEND:VEVENT\r\n"
               "BEGIN:VTODO\r\nSUMMARY:Buy milk\r\nEND:VTODO\r\n"
               "BEGIN:VJOURNAL\r\nSUMMARY:Diary\r\nEND:VJOURNAL\r\nEND:VCALENDAR\r\n");
    EXPECT_EQ(report.added, 5u) << Notes(report);
    EXPECT_EQ(report.skipped, 1u);
    EXPECT_EQ(report.refused, 4u);
    const std::string notes = Notes(report);
    for (const char *named : {"DESCRIPTION", "ATTENDEE", "alarm", "STATUS:CANCELLED", "task (VTODO)",
                              "journal entry (VJOURNAL)", "notadate", "Weekly"})
        EXPECT_NE(notes.find(named), std::string::npos) << named << " in " << notes;
    EXPECT_EQ(notes.find("X-OTHER-APP"), std::string::npos) << notes;
    EXPECT_EQ(notes.find("no DTSTART"), std::string::npos) << notes;
    std::map<std::string, Fields> items = Items(kCalendar);
#if defined(_WIN32)
    // The phone's times read in the zone this process started in (UTC in this run).
    const char *inNewYork = "2009-06-01T13:00:00+00:00", *inBerlin = "2009-01-15T11:00:00+00:00",
               *floating = "2009-06-02T08:00:00+00:00";
#else
    const char *inNewYork = "2009-06-01T22:00:00+09:00", *inBerlin = "2009-01-15T20:00:00+09:00",
               *floating = "2009-06-02T08:00:00+09:00";
#endif
    EXPECT_EQ(items["NY call"]["STARTTIME"], inNewYork);
    EXPECT_EQ(items["NY call"]["DURATION"], "45");
    EXPECT_EQ(items["Berlin"]["STARTTIME"], inBerlin);
    EXPECT_EQ(items["휴가, 가족"]["STARTTIME"], "2009-08-03");
    EXPECT_EQ(items["휴가, 가족"]["ENDTIME"], "2009-08-05");
    // A floating time is PC local time; exactly 24 hours stays a timed appointment.
    EXPECT_EQ(items["Floating"]["STARTTIME"], floating);
    EXPECT_EQ(items["Floating"]["WHOLEDAY"], "FALSE");
    EXPECT_EQ(items.count("Called off"), 0u);
}

#if !defined(_WIN32)  // (the zone of a Windows process is the one it started in)
// Local times a daylight-saving change skips or repeats: the first occurrence of a
// repeated hour; a skipped one with the offset before the change. A time typed
// for `calendar add`, the import and an independent reader agree.
TEST_F(HostCoreInterop, TimesInADaylightSavingChangeAgreeWithIndependentReaders) {
    if (!PythonHas("icalendar, zoneinfo")) GTEST_SKIP() << "python3-icalendar is not installed";
    Wipe(kCalendar);
    Import("dst.ics",
           "BEGIN:VCALENDAR\r\nVERSION:2.0\r\n"
           "BEGIN:VEVENT\r\nSUMMARY:twice\r\nDTSTART;TZID=Europe/Berlin:20261025T023000\r\nEND:VEVENT\r\n"
           "BEGIN:VEVENT\r\nSUMMARY:never\r\nDTSTART;TZID=Europe/Berlin:20260329T023000\r\nEND:VEVENT\r\n"
           "END:VCALENDAR\r\n");
    {
        ScopedTimeZone berlin("Europe/Berlin");  // as `calendar add` reads a typed time
        for (auto [typed, utc] :
             {std::pair{"2026-10-25 02:30", "2026-10-25T00:30:00Z"}, {"2026-03-29 02:30", "2026-03-29T01:30:00Z"}}) {
            host::Instant start = 0;
            bool day = false;
            EXPECT_TRUE(host::ParseTypedTime(typed, &start, &day) && host::UtcIso(start) == utc) << typed;
        }
    }
    ScopedTimeZone utc("UTC0");
    std::map<std::string, Fields> items = Items(kCalendar);
    EXPECT_EQ(items["twice"]["STARTTIME"], "2026-10-25T00:30:00+00:00");
    EXPECT_EQ(items["never"]["STARTTIME"], "2026-03-29T01:30:00+00:00");
    std::string independent = RunPython(
        "import sys, icalendar, zoneinfo\n"
        "for e in icalendar.Calendar.from_ical(open(sys.argv[1], \"rb\").read()).walk(\"VEVENT\"):\n"
        "  t = e[\"DTSTART\"].dt.replace(tzinfo=zoneinfo.ZoneInfo(\"Europe/Berlin\"))\n"
        "  print(e[\"SUMMARY\"], t.astimezone(zoneinfo.ZoneInfo(\"UTC\")).strftime(\"%Y-%m-%dT%H:%M:%S+00:00\"))",
        File("dst.ics"), File("py.txt"));
    EXPECT_EQ(independent, "twice " + items["twice"]["STARTTIME"] + "\nnever " + items["never"]["STARTTIME"] + "\n");
}
#endif

// Items as the phone keeps them (cut, characters replaced, a '|' left out): a second
// --skip-existing import compares with what the first one added, and adds nothing.
TEST_F(HostCoreInterop, ASecondSkipExistingImportAddsNothing) {
    const std::string cards =
        "BEGIN:VCARD\r\nVERSION:3.0\r\nN:M\u00fcller;Hans\r\nEND:VCARD\r\n"
        "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Pipe;A|B\r\nTEL:010-1\r\nEND:VCARD\r\n"
        "BEGIN:VCARD\r\nVERSION:3.0\r\nN:;Zo\u00eb's caf\u00e9 \u2615\r\nEND:VCARD\r\n"
        "BEGIN:VCARD\r\nVERSION:3.0\r\nN:" +
        std::string(40, 'L') + ";" + std::string(70, 'F') +
        "\r\nEND:VCARD\r\n"
        "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Ext;Tom\r\nTEL:+82-10-1234-5678;ext=1234567890123456\r\nEND:VCARD\r\n";
    const std::string events =
        "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//t//t//EN\r\n"
        "BEGIN:VEVENT\r\nUID:1\r\nDTSTART:20260610T100000Z\r\nDTEND:20260610T110000Z\r\nSUMMARY:" +
        std::string(200, 'T') +
        "\r\nEND:VEVENT\r\n"
        "BEGIN:VEVENT\r\nUID:2\r\nDTSTART:20260611T100000Z\r\nDTEND:20260611T110000Z\r\nSUMMARY:Zo\u00eb's caf\u00e9 "
        "\u2615\r\nEND:VEVENT\r\n"
        "BEGIN:VEVENT\r\nUID:3\r\nDTSTART:20260612T100000Z\r\nDTEND:20260612T110000Z\r\nSUMMARY:" +
        std::string(121, 'H') + "\ud55c\uae00\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
    for (const auto &[file, text] : {std::pair{"cards.vcf", cards}, {"events.ics", events}}) {
        InteropReport first = Import(file, text, true);
        EXPECT_GT(first.added, 2u) << Notes(first);
        InteropReport second = Import(file, text, true);
        EXPECT_EQ(second.added, 0u) << Notes(second);
        EXPECT_EQ(second.skipped, first.added) << Notes(second);
    }
}
#endif

#if defined(CEBRIDGE_HOST_READS_ICALENDAR)
// The phone's "M\u00fcller" reads as "Muller" in CP949, "\u2615" as '?': --skip-existing
// still finds the items imported before (under a code page that says them all), and a
// number spaced otherwise is the same number.
TEST_F(HostCoreInterop, SkipExistingFindsWhatTheCodePageReadsAsALookAlike) {
    const std::string card =
        "BEGIN:VCARD\r\nVERSION:3.0\r\nN:M\u00fcller;Hans\r\nTEL;TYPE=CELL:+34 91 555 0112\r\nEND:VCARD\r\n";
    const std::string event =
        "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//t//t//EN\r\nBEGIN:VEVENT\r\nUID:1\r\n"
        "DTSTART:20260610T100000Z\r\nDTEND:20260610T110000Z\r\nSUMMARY:Caf\u00e9 M\u00fcller \u2615\r\n"
        "END:VEVENT\r\nEND:VCALENDAR\r\n";
    {
        ScopedEnv utf8("CEBRIDGE_CODEPAGE", "65001");
        EXPECT_EQ(Import("first.vcf", card).added, 1u);
        EXPECT_EQ(Import("first.ics", event).added, 1u);
    }
    const size_t contacts = Listing(host::kContactType).size();
    InteropReport again =
        Import("again.vcf", card.substr(0, card.find("+34")) + "+34-91-555-0112\r\nEND:VCARD\r\n", true);
    EXPECT_EQ(again.added, 0u) << Notes(again);
    again = Import("again.ics", event, true);
    EXPECT_EQ(again.added, 0u) << Notes(again);
    EXPECT_EQ(Listing(host::kContactType).size(), contacts);
}
#endif

TEST_F(HostCoreInterop, VCardsOfOtherProgramsImportTheirFields) {
    Wipe(kContacts);
    InteropReport report = Import(
        "other.vcf",
        // 2.1: quoted-printable UTF-8 with a soft line break, bare types, a second charset.
        "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=EC=86=A1;=EC=A7=80=EC=9D=80\r\n"
        "TEL;CELL;VOICE:010-9999-0000\r\nTEL;WORK:02-1111-2222\r\n"
        "ADR;HOME;ENCODING=QUOTED-PRINTABLE:;;Main Street 1=0D=0A=\r\nFloor 2;Springfield;;12345;USA\r\nEND:VCARD\r\n"
        "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=ISO-8859-1:Dupont;Ren\xe9\r\nEMAIL;INTERNET:r@example.fr\r\nEND:"
        "VCARD\r\n"
        // 4.0: quoted type lists, a tel: URI, a group, escaped commas, a photo.
        "BEGIN:VCARD\nVERSION:4.0\nFN:Jane Roe\nN:Roe;Jane;;;\nTEL;VALUE=uri;TYPE=\"cell,voice\":tel:+1-555-0100\n"
        "TEL;TYPE=cell;PREF=1:+1-555-0102\nTEL;TYPE=home:+1-555-0101\nitem1.ADR;TYPE=work:;;1 Loop\\, Suite "
        "2;Cupertino;CA;95014;USA\n"
        "ORG:Acme;R&D\nTITLE:Engineer\nPHOTO:data:image/png;base64,AAAA\nEND:VCARD\n"
        // Values taken apart: additional names, honorifics, a number's extension.
        "BEGIN:VCARD\r\nVERSION:4.0\r\nN:Doe;Jane;Mary,Ann;Dr.,Prof.;\r\n"
        "TEL;VALUE=uri;TYPE=work:tel:+1-555-0100;ext=42\r\nTEL;VALUE=uri;TYPE=home:tel:+1-555-0199\r\n"
        "TEL;TYPE=CELL:111\r\nTEL;TYPE=PREF,CELL:222\r\nTEL;TYPE=PREF,CELL:333\r\nEND:VCARD\r\n"
        // A nickname beside an ID number, which share one phone property: the ID number is kept.
        "BEGIN:VCARD\r\nN:Both;Ann\r\nNICKNAME:Annie\r\nX-CEBRIDGE-GOVERNMENTID:800101-1234567\r\nEND:VCARD\r\n"
        // A company's card as address books write it (no names), and a group's.
        "BEGIN:VCARD\r\nVERSION:3.0\r\nN:;;;;\r\nFN:Acme Corp\r\nORG:Acme Corp\r\nEND:VCARD\r\n"
        "BEGIN:VCARD\r\nVERSION:4.0\r\nKIND:group\r\nFN:Friends\r\nMEMBER:urn:uuid:1\r\nEND:VCARD\r\n");
    EXPECT_EQ(report.added, 6u) << Notes(report);
    EXPECT_EQ(report.skipped, 1u) << Notes(report);
    std::map<std::string, Fields> items = Items(kContacts);
    EXPECT_EQ(nlohmann::json(items["송지은"]), nlohmann::json::parse(R"({"LASTNAME": "송", "FIRSTNAME": "지은",
        "MOBILETELEPHONENUMBER": "010-9999-0000", "BUSINESSTELEPHONENUMBER": "02-1111-2222", "HOMEADDRESSCITY":
        "Springfield", "HOMEADDRESSSTREET": "Main Street 1\r\nFloor 2", "HOMEADDRESSPOSTALCODE": "12345",
        "HOMEADDRESSCOUNTRY": "USA"})"));
    // é is not in the phone's code page: '?' (Windows may choose a close letter).
    auto dupont = items.lower_bound("DupontRen");
    ASSERT_NE(dupont, items.end());
    EXPECT_EQ(dupont->first.rfind("DupontRen", 0), 0u) << dupont->first;
    EXPECT_NE(dupont->first, "DupontRen\xc3\xa9");
    EXPECT_EQ(nlohmann::json(items["RoeJane"]), nlohmann::json::parse(R"({"LASTNAME": "Roe", "FIRSTNAME": "Jane",
        "MOBILETELEPHONENUMBER": "+1-555-0102", "HOMETELEPHONENUMBER": "+1-555-0101", "BUSINESSADDRESSSTREET":
        "1 Loop, Suite 2", "BUSINESSADDRESSCITY": "Cupertino", "BUSINESSADDRESSSTATE": "CA", "BUSINESSADDRESSPOSTALCODE":
        "95014", "BUSINESSADDRESSCOUNTRY": "USA", "COMPANYNAME": "Acme", "DEPARTMENT": "R&D", "JOBTITLE": "Engineer"})"));
    EXPECT_EQ(items[""]["COMPANYNAME"], "Acme Corp");  // a company, no person's name
    EXPECT_EQ(items.count("Friends") + items.count("Acme Corp"), 0u);
    EXPECT_EQ(nlohmann::json(items["DoeJane Mary Ann"]), nlohmann::json::parse(R"({"LASTNAME": "Doe", "FIRSTNAME":
        "Jane Mary Ann", "BUSINESSTELEPHONENUMBER": "+1-555-0100 ext. 42", "HOMETELEPHONENUMBER": "+1-555-0199",
        "MOBILETELEPHONENUMBER": "222"})"));
    const std::string notes = Notes(report);
    for (const char *named : {"FIRSTNAME: \u00e9 became", "PHOTO", "middle", "honorific (TITLE",
                              "NICKNAME Annie not kept", "TEL +1-555-0100 (no free", "TEL 111 (no free",
                              "TEL 333 (no free", "skipped \\\"Friends\\\": a group (KIND:group)"})
        EXPECT_NE(notes.find(named), std::string::npos) << named << " in " << notes;
}

// Cards as careless writers leave them: none is lost, and the import says what it guessed.
TEST_F(HostCoreInterop, VCardsWithoutEndOrWithStrayBytesLoseNoCard) {
    const std::string one = "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Alpha;One\r\nEND:VCARD\r\n";
    const std::string open = "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Beta;Two\r\n";  // no END:VCARD
    const std::string two = "BEGIN:VCARD\nVERSION:2.1\nN:Delta;Four\nEND:VCARD\n";
    std::string utf16 = "\xff\xfe";  // little-endian, as some address books save
    for (char c : std::string("BEGIN:VCARD\nN:U;Wide\nEND:VCARD\n")) utf16 += std::string{c, '\0'};
    const std::pair<std::string, std::vector<std::string>> files[] = {
        {open + one, {"AlphaOne", "BetaTwo"}},
        {one + one + open, {"AlphaOne", "BetaTwo"}},
        {"BEGIN:VCARD \r\nN:Gamma;Three\r\nend:vcard\t\r\n", {"GammaThree"}},
        {"\xef\xbb\xbf" + one, {"AlphaOne"}},
        // files joined as they were saved, each with its byte order mark
        {"\xef\xbb\xbf" + one + "\xef\xbb\xbf" + two, {"AlphaOne", "DeltaFour"}},
        {"\xef\xbb\xbf\xef\xbb\xbf" + two, {"DeltaFour"}},
        {utf16, {"UWide"}}};
    for (const auto &[text, names] : files) {
        Wipe(kContacts);
        InteropReport report = Import("careless.vcf", text);
        std::vector<std::string> added;
        for (const auto &[name, fields] : Items(kContacts)) added.push_back(name);
        EXPECT_EQ(added, names) << Notes(report);
        EXPECT_TRUE(text.find("Beta") == std::string::npos || Notes(report).find("no END:VCARD") != std::string::npos)
            << Notes(report);
    }
}

// Calendar files as other programs save them: every event read, or the file refused.
TEST_F(HostCoreInterop, CalendarFilesAsSavedLoseNoEventUnsaid) {
    if (!host::CanReadICalendar()) GTEST_SKIP() << "this build reads no iCalendar files";
    auto calendar = [](const std::string &summary) {
        return "\xef\xbb\xbf\xef\xbb\xbf"
               "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nSUMMARY:" +
               summary + "\r\nDTSTART:20261210T100000Z\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
    };
    std::string utf16 = "\xfe\xff";  // big-endian
    for (char c : calendar("Wide").substr(6)) utf16 += std::string{'\0', c};
    for (const std::string &text : {calendar("One"), calendar("One") + calendar("Two"), utf16}) {
        Wipe(kCalendar);
        InteropReport report = Import("saved.ics", text);
        EXPECT_EQ(report.added, text.size() % calendar("One").size() ? 1u : text.size() / calendar("One").size())
            << Notes(report);
    }
    // The reader stops at a NUL byte: what follows it would be lost without a word.
    host::Outcome outcome;
    Import("nul.ics", calendar("One") + std::string(1, '\0') + calendar("Two"), false, nullptr, &outcome);
    EXPECT_EQ(outcome.kind, ErrorKind::kPcFile) << outcome.message;
}

TEST_F(HostCoreInterop, CallsAndMessagesExportAsJsonAndCsv) {
    const size_t calls = Export(host::ExportCalls, "calls.JSON").written;  // a .json name in any letter case
    const nlohmann::json rows = nlohmann::json::parse(ReadFileText(File("calls.JSON")));
    EXPECT_EQ(rows.size(), Listing("callhistory").size());
    EXPECT_EQ(rows.size(), calls);
    EXPECT_EQ(rows.at(0).size(), 5u) << rows[0].dump();  // id, kind, number, name, time
    const size_t messages = Export(host::ExportMessages, "sms.CSV").written;
    EXPECT_EQ(messages, Listing(host::SmsType(false)).size() + Listing(host::SmsType(true)).size());
    const std::string csv = ReadFileText(File("sms.CSV"));
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), messages + 1);  // a header row
}

// A file with no card or event in it, or a folder, is the PC file's fault.
TEST_F(HostCoreInterop, ImportsOfAnEmptyFileOrAFolderFailAlike) {
    WriteFileText(File("empty"), "");
    host::ItemSink quiet;
    InteropReport report;
    for (const std::string &path : {File("empty"), m_logs.str()})
        for (auto import : {host::ImportContacts, host::ImportCalendar}) {
            host::Outcome outcome = import(m_session, path, false, quiet, &report);
            EXPECT_TRUE((outcome.kind == ErrorKind::kPcFile && outcome.message.find("basic_") == std::string::npos) ||
                        (import == host::ImportCalendar && !host::CanReadICalendar()))
                << path << ": " << outcome.message;
        }
}

#if defined(__linux__)
// A full PC disk is no room on the PC (a front end says so: HTTP 507), not any PC file fault.
TEST_F(HostCoreInterop, AnExportToAFullDiskIsNoRoomOnThePc) {
    InteropReport report;
    for (auto run : {host::ExportContacts, host::ExportCalls}) {
        const host::Outcome outcome = run(m_session, "/dev/full", &report);
        EXPECT_EQ(outcome.kind, ErrorKind::kNoRoomOnPc) << outcome.message;
    }
}
#endif

// An import tells its sink each item as it goes; the session's cancel flag, set
// part way, stops it before the next item, with kInterrupted.
TEST_F(HostCoreInterop, AnImportReportsEachItemAndStopsWhenCancelled) {
    struct Recorder : host::ItemSink {
        Recorder(std::atomic<bool> &cancel, size_t cancelAt) : cancel(cancel), cancelAt(cancelAt) {}
        void Begin(const std::string &label, size_t total) override { seen += label + " " + std::to_string(total); }
        void Step() override { seen += ++steps == cancelAt ? (cancel = true, "!") : "."; }
        void End() override { seen += " end"; }
        std::atomic<bool> &cancel;
        size_t cancelAt, steps = 0;
        std::string seen;
    };
    std::string cards;
    for (int i = 0; i < 5; ++i) cards += "BEGIN:VCARD\r\nN:P;" + std::to_string(i) + "\r\nEND:VCARD\r\n";
    Recorder whole(m_interrupted, 0), cut(m_interrupted, 2);
    EXPECT_EQ(Import("p.vcf", cards, false, &whole).added, 5u);
    EXPECT_EQ(whole.seen, "contacts import 5..... end");
    host::Outcome outcome;
    EXPECT_EQ(Import("p.vcf", cards, false, &cut, &outcome).added, 2u);
    EXPECT_EQ(outcome.kind, ErrorKind::kInterrupted) << outcome.message;
    EXPECT_EQ(cut.seen, "contacts import 5.! end");
}

}  // namespace

// The sync engine in-process: the phone (the emulator) against PC folders of one file
// per item, and its state in a temporary SQLite file.
#if defined(CEBRIDGE_HAVE_SYNC)
#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <utility>

#include "core_fixture.h"
#include "emulator/ceemu_test_hooks.h"
#include "encoding.h"
#include "interop.h"
#include "item_text.h"
#include "phone_keeps.h"
#include "radicale_server.h"
#include "sync.h"
#include "sync_dav.h"
#include "sync_results.h"
#include "tests/e2e/emulator/emulator_fixture.h"
#include "tests/e2e/host/host_fixture.h"

namespace {

namespace fs = std::filesystem;
using host::ConflictPolicy;
using host::SyncReport;

std::string SyncCard(const std::string &last, const std::string &first, const std::string &extra = "") {
    return "BEGIN:VCARD\r\nVERSION:3.0\r\nN:" + last + ";" + first + ";;;\r\nFN:" + first + " " + last + "\r\n" +
           extra + "END:VCARD\r\n";
}

class HostCoreSync : public CoreSessionTest {
protected:
    void SetUp() override {
        ConnectOrFail();
        fs::create_directories(Contacts());
        fs::create_directories(Calendar());
        ASSERT_TRUE(m_state.Open((m_logs.path() / "state" / "sync.sqlite").string()).ok);
        ASSERT_TRUE(m_state.SavePair({"p", Contacts().string(), Calendar().string(), ""}).ok);
    }
    fs::path Contacts() { return m_logs.path() / "contacts"; }
    fs::path Calendar() { return m_logs.path() / "calendar"; }

    SyncReport Sync(host::SyncOptions options = {}, host::ItemSink *sink = nullptr, host::Outcome *outcome = nullptr) {
        SyncReport report;
        host::ItemSink quiet;
        host::Outcome done = host::RunSync(m_session, m_state, "p", options, sink ? *sink : quiet, &report);
        EXPECT_TRUE(outcome || done.ok) << done.message;
        if (outcome) *outcome = done;
        return report;
    }
    // The names of the phone's contacts (LASTNAME FIRSTNAME), sorted.
    std::multiset<std::string> PhoneNames() {
        std::vector<host::ContentItem> listed;
        EXPECT_TRUE(m_session.link.Listing(host::kContactType, &listed).ok);
        std::multiset<std::string> names;
        for (const auto &item : listed) names.insert(host::DeviceToTerminal(item.title));
        return names;
    }
    std::string PhoneId(const std::string &title) {
        std::vector<host::ContentItem> listed;
        EXPECT_TRUE(m_session.link.Listing(host::kContactType, &listed).ok);
        for (const auto &item : listed)
            if (host::DeviceToTerminal(item.title) == title) return item.id;
        return {};
    }
    // The PC folder's cards by file, as text.
    virtual std::vector<std::string> Files() {
        std::vector<std::string> texts;
        for (const auto &entry : fs::directory_iterator(Contacts())) texts.push_back(ReadFileText(entry.path()));
        return texts;
    }
    fs::path FileHolding(const std::string &text, const fs::path &folder = {}) {
        for (const auto &entry : fs::directory_iterator(folder.empty() ? Contacts() : folder))
            if (entry.is_regular_file() && ReadFileText(entry.path()).find(text) != std::string::npos)
                return entry.path();
        return {};
    }
    size_t FilesHolding(const std::string &text) {
        auto texts = Files();
        return size_t(std::count_if(texts.begin(), texts.end(),
                                    [&](const std::string &t) { return t.find(text) != std::string::npos; }));
    }
    void PhoneAdd(const std::string &text) {
        ASSERT_TRUE(m_session.link.AddItem(host::kContactType, host::TerminalToDevice(text)).ok) << text;
    }
    // An edit on the phone keeps the item's ID; the plug-in can only delete and add, so
    // the state learns the new ID as if it were the old one.
    void PhoneEdit(const std::string &title, const std::string &text, const std::string &newTitle) {
        const std::string id = PhoneId(title);
        ASSERT_TRUE(m_session.link.DeleteItem(host::kContactType, id).ok) << title;
        PhoneAdd(text);
        std::vector<host::SyncMapping> mappings;
        ASSERT_TRUE(m_state.Mappings("p", "contacts", &mappings).ok);
        for (host::SyncMapping &mapping : mappings)
            if (mapping.phoneId == id)
                mapping.phoneId = PhoneId(newTitle), m_state.SaveMapping("p", "contacts", &mapping);
    }
    // Both sides hold the same contacts, once each, and a sync has nothing to do.
    void ExpectConverged() {
        EXPECT_EQ(PhoneNames().size(), Files().size());
        const SyncReport again = Sync();
        EXPECT_TRUE(again.actions.empty()) << host::SyncReportJson(again).dump(1);
    }

    host::SyncState m_state;
};

// The first sync copies both ways; what the phone cannot keep (a photo, a name past its
// field's width, a character its code page lacks) changes nothing on the next syncs.
TEST_F(HostCoreSync, FirstSyncCopiesBothWaysAndRerunsChangeNothing) {
    std::vector<host::ContentItem> appointments;
    ASSERT_TRUE(m_session.link.Listing(host::kAppointmentType, &appointments).ok);
    const size_t onPhone = PhoneNames().size() + appointments.size();
    const std::string longName(200, 'x');
    WriteFileText(Contacts() / "a.vcf",
                  SyncCard("Pc", "Ann", "TEL;TYPE=CELL:555-0101\r\nPHOTO;VALUE=uri:http://x/y\r\n"));
    WriteFileText(Contacts() / "b.vcf", SyncCard(longName, "Bo \xF0\x9F\x98\x80"));
    WriteFileText(Calendar() / "e.ics",
                  "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//t//t//EN\r\nBEGIN:VEVENT\r\n"
                  "UID:e1\r\nDTSTAMP:20260101T000000Z\r\nDTSTART:20261201T100000Z\r\n"
                  "DTEND:20261201T110000Z\r\nSUMMARY:Pc event\r\nDESCRIPTION:not kept\r\n"
                  "END:VEVENT\r\nEND:VCALENDAR\r\n");
    const SyncReport first = Sync();
    EXPECT_EQ(host::SyncReportJson(first)["created"], (nlohmann::json{{"phone", 3}, {"pc", onPhone}}))
        << host::SyncReportJson(first).dump(1);
    EXPECT_EQ(PhoneNames().size() + appointments.size(), onPhone + 2);
    EXPECT_EQ(PhoneNames().count("PcAnn"), 1u);
    for (int run = 0; run < 3; ++run) ExpectConverged();
    const fs::path file = FileHolding("FN:홍길동");
    if (PythonHas("vobject")) {
        EXPECT_EQ(RunPython("import sys, vobject\n"
                            "card = vobject.readOne(open(sys.argv[1], encoding='utf-8').read())\n"
                            "print(card.fn.value, card.uid.value + '.vcf' == sys.argv[1].split('/')[-1])",
                            file.string(), m_logs.path() / "py.txt"),
                  "홍길동 True\n");
    }
}

// After a first sync: an edit and a deletion on each side travel in one sync.
TEST_F(HostCoreSync, EditsAndDeletionsOnEachSideTravel) {
    WriteFileText(Contacts() / "kim.vcf", SyncCard("Kim", "Edit", "X-PC-ONLY:kept\r\nTEL;TYPE=CELL:555\r\n"));
    PhoneAdd("LASTNAME=Lee||FIRSTNAME=Gone");
    WriteFileText(Contacts() / "pc-edit.vcf", SyncCard("Park", "Edit", "UID:pc-edit\r\n"));
    WriteFileText(Contacts() / "pc-gone.vcf", SyncCard("Choi", "Gone"));
    Sync();
    PhoneEdit("KimEdit", "LASTNAME=Kim||FIRSTNAME=Edited", "KimEdited");
    WriteFileText(Contacts() / "pc-edit.vcf", SyncCard("Park", "Edited", "UID:pc-edit\r\n"));
    ASSERT_TRUE(m_session.link.DeleteItem(host::kContactType, PhoneId("LeeGone")).ok);
    fs::remove(Contacts() / "pc-gone.vcf");
    const nlohmann::json report = host::SyncReportJson(Sync());
    EXPECT_EQ(report["updated"], (nlohmann::json{{"phone", 1}, {"pc", 1}})) << report.dump(1);
    EXPECT_EQ(report["deleted"], (nlohmann::json{{"phone", 1}, {"pc", 1}}));
    const std::string kim = ReadFileText(Contacts() / "kim.vcf");
    EXPECT_NE(kim.find("N:Kim;Edited;"), std::string::npos) << kim;  // what the phone has no place for stays
    EXPECT_NE(kim.find("X-PC-ONLY:kept\r\n"), std::string::npos);
    EXPECT_EQ(kim.find("TEL"), std::string::npos);
    EXPECT_EQ(FilesHolding("Gone"), 0u);
    EXPECT_EQ(ReadFileText(Contacts() / "pc-edit.vcf").find("UID:pc-edit\r\n") != std::string::npos, true);
    const auto names = PhoneNames();
    EXPECT_EQ(names.count("ParkEdited") + names.count("KimEdited"), 2u);
    EXPECT_EQ(names.count("ChoiGone") + names.count("KimEdit") + names.count("ParkEdit"), 0u);
    ExpectConverged();
}

// A card with more than the phone holds: names it cannot keep, a birthday an add cannot
// write, a fourth e-mail, a value past its field's width, characters its code page lacks.
const std::string kRichCard =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:rich\r\nN:Schmidt-L\xC3\xBC"
    "denscheid;Hans;Peter;Dr.;PhD\r\n"
    "FN:Dr. Hans Peter Schmidt-L\xC3\xBC"
    "denscheid PhD\r\nNICKNAME:Hansi\r\nTITLE:Engineer\r\n"
    "BDAY:1970-03-04\r\nEMAIL;TYPE=HOME:a@x.org\r\nEMAIL;TYPE=WORK:b@x.org\r\nEMAIL:c@x.org\r\n"
    "EMAIL:d@x.org\r\nTEL;TYPE=PREF,CELL:+49 170 1\r\nADR;TYPE=WORK:;;" +
    std::string(150, 's') + ";Berlin;;10115;Germany\r\nNOTE:\xF0\x9F\x98\x80 note\r\nX-PC-ONLY:kept\r\nEND:VCARD\r\n";

// The phone's item of `type` whose listed title holds `part`, changed on the phone
// (`change` given its fields, as reads give them) as the phone's own editor would: same
// ID for the sync state, which the plug-in's delete and add cannot keep.
void EditOnThePhone(host::PhoneSession &session, host::SyncState &state, const char *type, const std::string &part,
                    const std::function<void(host::ItemFields &)> &change) {
    std::vector<host::ContentItem> listed;
    ASSERT_TRUE(session.link.Listing(type, &listed).ok);
    auto item = std::find_if(listed.begin(), listed.end(), [&](const host::ContentItem &each) {
        return host::DeviceToTerminal(each.title).find(part) != std::string::npos;
    });
    ASSERT_NE(item, listed.end()) << part;
    std::string text;
    ASSERT_TRUE(session.link.ItemText(type, item->id, &text).ok);
    host::ItemFields fields = host::ReadItemText(type, text, *item);
    change(fields);
    std::string body;
    for (const auto &[name, value] : fields)
        if (name != "ID" && name != "BIRTHDAY" && name != "ANNIVERSARY")  // (what an add cannot write)
            body += (body.empty() ? "" : "||") + (name == host::kNicknameOrId ? "NICKNAME" : name) + "=" + value;
    ASSERT_TRUE(session.link.DeleteItem(type, item->id).ok);
    ASSERT_TRUE(session.link.AddItem(type, host::TerminalToDevice(body)).ok) << body;
    std::vector<host::ContentItem> after;
    ASSERT_TRUE(session.link.Listing(type, &after).ok);
    std::string made;
    for (const auto &each : after)
        if (std::none_of(listed.begin(), listed.end(), [&](const auto &old) { return old.id == each.id; }))
            made = each.id;
    const std::string kind = std::string(type) == host::kContactType ? "contacts" : "calendar";
    std::vector<host::SyncPair> pairs;
    ASSERT_TRUE(state.Pairs(&pairs).ok);
    for (const host::SyncPair &pair : pairs) {
        std::vector<host::SyncMapping> mappings;
        ASSERT_TRUE(state.Mappings(pair.name, kind, &mappings).ok);
        for (host::SyncMapping &mapping : mappings)
            if (mapping.phoneId == item->id) mapping.phoneId = made, state.SaveMapping(pair.name, kind, &mapping);
    }
}

// A contact's field set to `value` on the phone.
std::function<void(host::ItemFields &)> SetField(const std::string &name, const std::string &value) {
    return [=](host::ItemFields &fields) {
        for (auto &field : fields)
            if (field.first == name) field.second = value;
    };
}

std::string Replaced(std::string text, const std::string &from, const std::string &to) {
    const size_t at = text.find(from);
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

// A change on the phone changes that field in the card and nothing else of it: byte
// for byte, the rest of the file is the user's.
TEST_F(HostCoreSync, APhoneEditChangesOnlyThatFieldOfTheCard) {
    WriteFileText(Contacts() / "rich.vcf", kRichCard);
    Sync();
    EditOnThePhone(m_session, m_state, host::kContactType, "Schmidt", SetField("JOBTITLE", "Manager"));
    const SyncReport report = Sync();
    EXPECT_EQ(host::SyncReportJson(report)["updated"]["pc"], 1) << host::SyncReportJson(report).dump(1);
    EXPECT_EQ(ReadFileText(Contacts() / "rich.vcf"), Replaced(kRichCard, "TITLE:Engineer", "TITLE:Manager"));
    ExpectConverged();
    // A changed name changes only that name, in N and in FN.
    EditOnThePhone(m_session, m_state, host::kContactType, "Schmidt", SetField("FIRSTNAME", "Hannes"));
    Sync();
    const std::string renamed = ReadFileText(Contacts() / "rich.vcf");
    EXPECT_NE(renamed.find("N:Schmidt-L\xC3\xBC"
                           "denscheid;Hannes;;Dr.;PhD\r\n"),
              std::string::npos)
        << renamed;
    EXPECT_NE(renamed.find("FN:Dr. Hannes Schmidt-L\xC3\xBC"
                           "denscheid PhD\r\n"),
              std::string::npos);
    EXPECT_NE(renamed.find("BDAY:1970-03-04\r\nEMAIL;TYPE=HOME:a@x.org"), std::string::npos);
    ExpectConverged();
}

// Moving an event on the phone moves it on the pc; its title and place, longer than the
// phone reads them, and what the phone has no place for stay as they were.
TEST_F(HostCoreSync, MovingAnEventOnThePhoneKeepsItsLongTitleAndPlace) {
    const std::string event =
        "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//t//t//EN\r\nBEGIN:VEVENT\r\nUID:long\r\n"
        "DTSTAMP:20260101T000000Z\r\nDTSTART:20261201T100000Z\r\nDTEND:20261201T110000Z\r\n"
        "SUMMARY:Review " +
        std::string(180, 't') +
        "\r\nLOCATION;LANGUAGE=de:M\xC3\xBC"
        "nchen " +
        std::string(180, 'l') +
        "\r\nDESCRIPTION:kept\r\nBEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT15M\r\n"
        "END:VALARM\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
    WriteFileText(Calendar() / "long.ics", event);
    Sync();
    EditOnThePhone(m_session, m_state, host::kAppointmentType, "Review", [](host::ItemFields &fields) {
        host::CalendarEvent event = host::EventOf(fields);
        event.start += 2 * 86400, event.end += 2 * 86400;
        fields = host::AppointmentFieldsOf(event);
    });
    const SyncReport report = Sync();
    EXPECT_EQ(host::SyncReportJson(report)["updated"]["pc"], 1) << host::SyncReportJson(report).dump(1);
    const std::string moved = ReadFileText(Calendar() / "long.ics");
    EXPECT_EQ(moved, Replaced(Replaced(event, "20261201T1", "20261203T1"), "20261201T1", "20261203T1"));
    if (PythonHas("icalendar")) {
        EXPECT_EQ(RunPython("import sys, icalendar\n"
                            "e = icalendar.Calendar.from_ical(open(sys.argv[1], 'rb').read()).walk('VEVENT')[0]\n"
                            "print(len(e['SUMMARY']), len(e['LOCATION']), e['DTSTART'].dt.isoformat())",
                            (Calendar() / "long.ics").string(), m_logs.path() / "py.txt"),
                  "187 188 2026-12-03T10:00:00+00:00\n");
    }
    ExpectConverged();
}

// A file of several cards or events is left alone with a note, never cut to one item.
TEST_F(HostCoreSync, AFileOfSeveralItemsIsLeftAloneWithANote) {
    const std::string cards = SyncCard("Many", "One") + SyncCard("Many", "Two");
    const std::string events =
        "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//t//t//EN\r\nBEGIN:VEVENT\r\nUID:m1\r\n"
        "DTSTAMP:20260101T000000Z\r\nDTSTART:20261201T100000Z\r\nSUMMARY:One\r\nEND:VEVENT\r\nBEGIN:VEVENT\r\n"
        "UID:m2\r\nDTSTAMP:20260101T000000Z\r\nDTSTART:20261202T100000Z\r\nSUMMARY:Two\r\nEND:VEVENT\r\n"
        "END:VCALENDAR\r\n";
    WriteFileText(Contacts() / "many.vcf", cards);
    WriteFileText(Calendar() / "many.ics", events);
    for (int run = 0; run < 2; ++run) {
        const SyncReport report = Sync();
        const std::string notes = host::SyncReportJson(report)["notes"].dump();
        EXPECT_NE(notes.find("many: 2 cards in one file"), std::string::npos) << notes;
        EXPECT_NE(notes.find("many: 2 items in one file"), std::string::npos) << notes;
    }
    EXPECT_EQ(ReadFileText(Contacts() / "many.vcf"), cards);
    EXPECT_EQ(ReadFileText(Calendar() / "many.ics"), events);
    EXPECT_EQ(PhoneNames().count("ManyOne"), 0u);
}

// Deleted on the phone while the pc changed what the phone does not hold (its note):
// the change wins, and the card comes back to the phone.
TEST_F(HostCoreSync, APcEditTheFormCannotShowBeatsAPhoneDelete) {
    WriteFileText(Contacts() / "note.vcf", SyncCard("Note", "Kept", "NOTE:first\r\n"));
    Sync();
    WriteFileText(Contacts() / "note.vcf", SyncCard("Note", "Kept", "NOTE:second, longer\r\n"));
    ASSERT_TRUE(m_session.link.DeleteItem(host::kContactType, PhoneId("NoteKept")).ok);
    const SyncReport report = Sync();
    EXPECT_EQ(ReadFileText(Contacts() / "note.vcf"), SyncCard("Note", "Kept", "NOTE:second, longer\r\n"))
        << host::SyncReportJson(report).dump(1);
    EXPECT_EQ(PhoneNames().count("NoteKept"), 1u);
    ExpectConverged();
}

// A pc change to a contact whose phone copy holds a birthday: the phone's update could
// not keep it, so the item is left alone there with a note; the card keeps its BDAY.
TEST_F(HostCoreSync, APcEditNeverDropsThePhonesBirthday) {
    Sync();
    const fs::path file = FileHolding("N:Garcia;Maria;");
    ASSERT_FALSE(file.empty());
    const std::string card = ReadFileText(file);
    ASSERT_NE(card.find("BDAY:1983-02-14"), std::string::npos) << card;
    WriteFileText(file, Replaced(card, "N:Garcia;Maria;", "N:Garcia;Mariana;"));
    const std::string notes = host::SyncReportJson(Sync())["notes"].dump();
    EXPECT_NE(notes.find("BIRTHDAY"), std::string::npos) << notes;
    std::string text;
    ASSERT_TRUE(m_session.link.ItemText(host::kContactType, PhoneId("GarciaMaria"), &text).ok);
    EXPECT_NE(text.find("BIRTHDAY="), std::string::npos) << text;
    EXPECT_NE(ReadFileText(file).find("BDAY:1983-02-14"), std::string::npos);
}

std::string ReplacedAll(std::string text, const std::string &from, const std::string &to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// The phone's "Gr\u00fcn" reads as "Grun" in CP949 (a look-alike), "Caf\u00e9" as
// "Cafe": the same values as the pc's. A first sync pairs them (no duplicate), a number
// spaced otherwise is the same number, the user restoring the accents on the pc writes
// nothing over the phone's, and switching the code page rewrites neither side.
TEST_F(HostCoreSync, WhatTheCodePageCannotSayIsNeverWrittenOverThePhone) {
#if defined(_WIN32)
    GTEST_SKIP() << "Windows' own conversion writes '?' where this test expects the look-alikes of the "
                    "POSIX build's; ReadsAs's table covers both";
#endif
    {
        ScopedEnv utf8("CEBRIDGE_CODEPAGE", "65001");
        PhoneAdd("LASTNAME=Gr\u00fcn||FIRSTNAME=Hansi||MOBILETELEPHONENUMBER=+34 91 555 0112");
        PhoneAdd("LASTNAME=Caf\u00e9||FIRSTNAME=Zo\u00eb");
    }
    WriteFileText(Contacts() / "hansi.vcf", SyncCard("Gr\u00fcn", "Hansi", "TEL;TYPE=CELL:+34-91-555-0112\r\n"));
    const SyncReport first = Sync();
    EXPECT_EQ(FilesHolding("Hansi"), 1u) << host::SyncReportJson(first).dump(1);
    EXPECT_EQ(PhoneNames().count("GrunHansi"), 1u);
    EXPECT_EQ(PhoneNames().count("Gr?nHansi"), 0u);
    const fs::path zoe = FileHolding("Zoe");
    ASSERT_FALSE(zoe.empty());
    WriteFileText(zoe, ReplacedAll(ReplacedAll(ReadFileText(zoe), "Cafe", "Caf\u00e9"), "Zoe", "Zo\u00eb"));
    const SyncReport restored = Sync();
    EXPECT_TRUE(restored.actions.empty()) << host::SyncReportJson(restored).dump(1);
    // Under a code page that says every letter, the phone's own letters reach the pc
    // once (the demo phone's "M\u00fcller" was "Muller" there); then switching back and
    // forth changes nothing on either side.
    {
        ScopedEnv utf8("CEBRIDGE_CODEPAGE", "65001");
        const nlohmann::json learnt = host::SyncReportJson(Sync());
        EXPECT_EQ(learnt["updated"]["phone"], 0) << learnt.dump(1);
        for (const auto &action : learnt["actions"])
            EXPECT_EQ(action["item"].get<std::string>().find("Hansi"), std::string::npos) << learnt.dump(1);
    }
    const std::vector<std::string> files = Files();
    for (const char *page : {"949", "65001", "949", "65001"}) {
        ScopedEnv codePage("CEBRIDGE_CODEPAGE", page);
        const SyncReport report = Sync();
        EXPECT_TRUE(report.actions.empty()) << page << host::SyncReportJson(report).dump(1);
    }
    EXPECT_EQ(Files(), files);
    // An event made on the pc and sent under a code page that says it all reads as
    // "Cafe ?" under CP949: still the pc's, so its file is never rewritten with that.
    const std::string event =
        "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//t//t//EN\r\nBEGIN:VEVENT\r\nUID:cafe\r\n"
        "DTSTAMP:20260101T000000Z\r\nDTSTART:20261203T100000Z\r\nDTEND:20261203T110000Z\r\n"
        "SUMMARY:Caf\u00e9 \u2615\r\nLOCATION:Gr\u00fcn\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
    WriteFileText(Calendar() / "cafe.ics", event);
    size_t created = 0;
    for (const char *page : {"65001", "949", "65001"}) {
        ScopedEnv codePage("CEBRIDGE_CODEPAGE", page);
        const nlohmann::json report = host::SyncReportJson(Sync());
        created += report["created"]["phone"].get<size_t>();
        EXPECT_EQ(report["updated"], (nlohmann::json{{"phone", 0}, {"pc", 0}})) << page << report.dump(1);
    }
    EXPECT_EQ(created, 1u);
    EXPECT_EQ(ReadFileText(Calendar() / "cafe.ics"), event);
    ScopedEnv utf8("CEBRIDGE_CODEPAGE", "65001");
    EXPECT_EQ(PhoneNames().count("Gr\u00fcnHansi"), 1u);
    EXPECT_EQ(PhoneNames().count("Caf\u00e9Zo\u00eb"), 1u);
}

// What the phone cannot take of a pc card as it is, sync names as import does: a field
// holding '|' (the plug-in's item text cannot carry it) is not sent, a value past its
// field's width is cut with a note saying how much was kept. The card stays as it is.
TEST_F(HostCoreSync, WhatThePhoneCannotTakeAsItIsIsNamed) {
    const std::string card = SyncCard("Pipe|Smith", "Ann",
                                      "TEL:010|555\r\nEMAIL:" + std::string(58, 'a') +
                                          "@example.org\r\nTEL;TYPE=WORK:" + std::string(40, '1') + "\r\n");
    WriteFileText(Contacts() / "pipe.vcf", card);
    const nlohmann::json report = host::SyncReportJson(Sync());
    const std::string notes = report["notes"].dump();
    EXPECT_EQ(report["created"]["phone"], 1) << report.dump(1);
    EXPECT_NE(notes.find("LASTNAME (holds '|'"), std::string::npos) << notes;
    EXPECT_NE(notes.find("TELEPHONENUMBER (holds '|'"), std::string::npos) << notes;
    EXPECT_NE(notes.find("EMAIL1ADDRESS cut to 63 bytes of 70"), std::string::npos) << notes;
    EXPECT_NE(notes.find("BUSINESSTELEPHONENUMBER cut to 31 bytes of 40"), std::string::npos) << notes;
    EXPECT_EQ(PhoneNames().count("Ann"), 1u);
    ExpectConverged();
    EXPECT_EQ(ReadFileText(Contacts() / "pipe.vcf"), card);
}

// Two pairs of one phone: what one writes to the phone reaches the other as a change
// of its own card (same file, its note kept), never as a deletion and a new card.
TEST_F(HostCoreSync, TwoPairsOfOnePhoneSeeEachOthersChangesAsChanges) {
    const fs::path other = m_logs.path() / "other";
    fs::create_directories(other);
    ASSERT_TRUE(m_state.SavePair({"q", other.string(), "", ""}).ok);
    WriteFileText(Contacts() / "two.vcf", SyncCard("Two", "Pairs"));
    Sync();
    SyncReport second;
    host::ItemSink quiet;
    ASSERT_TRUE(host::RunSync(m_session, m_state, "q", {}, quiet, &second).ok);
    const fs::path theirs = FileHolding("N:Two;Pairs;", other);
    ASSERT_FALSE(theirs.empty());
    WriteFileText(theirs, Replaced(ReadFileText(theirs), "END:VCARD", "NOTE:only in q\r\nEND:VCARD"));
    WriteFileText(Contacts() / "two.vcf", SyncCard("Two", "Changed"));
    Sync();
    SyncReport followed;
    ASSERT_TRUE(host::RunSync(m_session, m_state, "q", {}, quiet, &followed).ok);
    const nlohmann::json json = host::SyncReportJson(followed);
    EXPECT_EQ(json["updated"]["pc"], 1) << json.dump(1);
    EXPECT_EQ(json["created"]["pc"], 0);
    EXPECT_EQ(json["deleted"]["pc"], 0);
    const std::string card = ReadFileText(theirs);
    EXPECT_NE(card.find("N:Two;Changed;"), std::string::npos) << card;
    EXPECT_NE(card.find("NOTE:only in q"), std::string::npos);
}

// Changed on both sides: each policy, and what each side holds afterwards.
class HostCoreSyncConflict : public HostCoreSync, public ::testing::WithParamInterface<ConflictPolicy> {};

TEST_P(HostCoreSyncConflict, ThePolicyDecides) {
    WriteFileText(Contacts() / "both.vcf", SyncCard("Han", "Both"));
    Sync();
    PhoneEdit("HanBoth", "LASTNAME=Han||FIRSTNAME=Phone", "HanPhone");
    WriteFileText(Contacts() / "both.vcf", SyncCard("Han", "Pc"));
    const SyncReport report = Sync({false, false, GetParam()});
    EXPECT_EQ(report.conflicts, 1u);
    const auto names = PhoneNames();
    const bool phoneWins = GetParam() != ConflictPolicy::kPc, pcWins = GetParam() != ConflictPolicy::kPhone;
    EXPECT_EQ(names.count("HanPhone"), phoneWins ? 1u : 0u);
    EXPECT_EQ(names.count("HanPc"), pcWins ? 1u : 0u);
    EXPECT_EQ(FilesHolding("N:Han;Phone;"), phoneWins ? 1u : 0u);
    EXPECT_EQ(FilesHolding("N:Han;Pc;"), pcWins ? 1u : 0u);
    ExpectConverged();
}

INSTANTIATE_TEST_SUITE_P(Policies, HostCoreSyncConflict,
                         ::testing::Values(ConflictPolicy::kPhone, ConflictPolicy::kPc, ConflictPolicy::kKeepBoth));

// A folder emptied by mistake deletes nothing on the phone until forced; a dry run
// changes nothing.
TEST_F(HostCoreSync, MassDeletionsWaitForForce) {
    Sync();
    const size_t onPhone = PhoneNames().size();
    for (const auto &entry : fs::directory_iterator(Contacts())) fs::remove(entry.path());
    SyncReport held = Sync();
    EXPECT_TRUE(held.deletionsHeld);
    EXPECT_TRUE(held.actions.empty());
    EXPECT_EQ(PhoneNames().size(), onPhone);
    SyncReport planned = Sync({true, true, ConflictPolicy::kKeepBoth});
    EXPECT_EQ(planned.actions.size(), onPhone);
    EXPECT_EQ(PhoneNames().size(), onPhone);
    Sync({false, true, ConflictPolicy::kKeepBoth});
    EXPECT_TRUE(PhoneNames().empty());
}

// Sets the session's cancel flag once `steps` items are done.
struct CancelAfter : host::ItemSink {
    CancelAfter(std::atomic<bool> &flag, int steps) : flag(flag), left(steps) {}
    void Step() override {
        if (--left == 0) flag = true;
    }
    std::atomic<bool> &flag;
    int left;
};

// A sync cancelled after N items, then run again, ends with every item once on each side.
class HostCoreSyncCancel : public HostCoreSync, public ::testing::WithParamInterface<int> {};

TEST_P(HostCoreSyncCancel, ARerunConverges) {
    CancelAfter cancel(m_interrupted, GetParam());
    for (const char *name : {"One", "Two", "Three"})
        WriteFileText(Contacts() / (std::string(name) + ".vcf"), SyncCard("Pc", name));
    host::Outcome outcome;
    Sync({}, &cancel, &outcome);
    EXPECT_EQ(outcome.kind, host::ErrorKind::kInterrupted) << outcome.message;
    m_interrupted = false;
    Sync();
    EXPECT_EQ(PhoneNames().count("PcTwo"), 1u);
    ExpectConverged();
}

INSTANTIATE_TEST_SUITE_P(Steps, HostCoreSyncCancel, ::testing::Values(1, 10, 22));

// The phone fails its second write: the rerun brings every item over once.
TEST_F(HostCoreSync, ARerunAfterAPhoneFaultConverges) {
    auto setFaults = reinterpret_cast<decltype(&CeEmuSetFaults)>(ceemu_test::EmulatorSymbol("CeEmuSetFaults"));
    for (const char *name : {"One", "Two", "Three"})
        WriteFileText(Contacts() / (std::string(name) + ".vcf"), SyncCard("Pc", name));
    ASSERT_EQ(setFaults(R"([{"operation": "DevCeWriteRecordProps", "nth": 2}])"), 0);
    host::Outcome outcome;
    const SyncReport faulted = Sync({}, nullptr, &outcome);
    setFaults(nullptr);
    EXPECT_FALSE(outcome.ok && faulted.notes.empty()) << host::SyncReportJson(faulted).dump(1);
    Sync();
    EXPECT_EQ(PhoneNames().count("PcTwo"), 1u);
    ExpectConverged();
}

// A pair first synced with another phone refuses to run against this one.
TEST_F(HostCoreSync, AnotherPhoneIsRefused) {
    ASSERT_TRUE(m_state.SavePair({"p", Contacts().string(), Calendar().string(), "Other Phone"}).ok);
    host::Outcome outcome;
    Sync({}, nullptr, &outcome);
    EXPECT_EQ(outcome.kind, host::ErrorKind::kOtherPhone);
    EXPECT_TRUE(Files().empty());
}

// What the PC folders hold, file by file.
std::map<std::string, std::string> FolderTexts(const fs::path &folder) {
    std::map<std::string, std::string> texts;
    for (const auto &entry : fs::directory_iterator(folder))
        texts[entry.path().filename().string()] = ReadFileText(entry.path());
    return texts;
}

host::Outcome SetFaults(const char *json) {
    auto setFaults = reinterpret_cast<decltype(&CeEmuSetFaults)>(ceemu_test::EmulatorSymbol("CeEmuSetFaults"));
    return setFaults(json) == 0 ? host::Outcome::Ok() : host::Outcome::Failed(0, "faults not taken");
}

// The phone cannot open its contacts database (the plug-in lists 0 contacts with OK)
// while 70 new cards wait in the folder: no remembered card is taken for deleted.
TEST_F(HostCoreSync, AContactsDatabaseThePhoneCannotOpenDeletesNothing) {
    Sync();
    for (int i = 0; i < 70; ++i)
        WriteFileText(Contacts() / ("new" + std::to_string(i) + ".vcf"), SyncCard("New", std::to_string(i)));
    const auto before = FolderTexts(Contacts());
    ASSERT_TRUE(SetFaults(R"([{"operation": "DevCeOpenDatabaseInSession", "persistent": true}])").ok);
    host::Outcome outcome;
    const SyncReport faulted = Sync({false, true, ConflictPolicy::kKeepBoth}, nullptr, &outcome);  // even forced
    SetFaults(nullptr);
    EXPECT_FALSE(outcome.ok);
    EXPECT_NE(outcome.message.find("could not be read"), std::string::npos) << outcome.message;
    EXPECT_EQ(FolderTexts(Contacts()), before);
    EXPECT_TRUE(faulted.actions.empty());
    Sync();
    ExpectConverged();
}

// The guard counts per side of origin: a phone that lost 6 of its 20 items holds the
// deletions they imply, however many the PC gained.
TEST_F(HostCoreSync, ASideThatLostAQuarterHoldsItsDeletionsWhateverTheOtherGained) {
    Sync();
    std::vector<host::ContentItem> listed;
    ASSERT_TRUE(m_session.link.Listing(host::kContactType, &listed).ok);
    for (size_t i = 0; i < 6; ++i) ASSERT_TRUE(m_session.link.DeleteItem(host::kContactType, listed[i].id).ok);
    for (int i = 0; i < 70; ++i)
        WriteFileText(Contacts() / ("new" + std::to_string(i) + ".vcf"), SyncCard("New", std::to_string(i)));
    const size_t files = Files().size();
    const SyncReport held = Sync();
    EXPECT_TRUE(held.deletionsHeld) << host::SyncReportJson(held).dump(1);
    EXPECT_EQ(Files().size(), files);
    EXPECT_EQ(PhoneNames().size(), 14u + 70u);  // the PC's new cards travel all the same
    Sync({false, true, ConflictPolicy::kKeepBoth});
    EXPECT_EQ(Files().size(), files - 6);
}

// The link falls with the first write: the sync stops (a refusal, then a store the
// phone cannot read), and a forced rerun without a link deletes nothing either.
TEST_F(HostCoreSync, ALinkLostMidSyncStopsItAndDeletesNothing) {
    Sync();
    for (const char *name : {"One", "Two", "Three"})
        WriteFileText(Contacts() / (std::string(name) + ".vcf"), SyncCard("Pc", name));
    const auto contacts = FolderTexts(Contacts()), calendar = FolderTexts(Calendar());
    ASSERT_TRUE(SetFaults(R"([{"operation": "DevCeWriteRecordProps", "linkDrop": true}])").ok);
    host::Outcome outcome;
    Sync({}, nullptr, &outcome);
    EXPECT_FALSE(outcome.ok);
    EXPECT_NE(outcome.message.find("phone"), std::string::npos)
        << outcome.message;  // (the link, or a store it can no longer read)
    Sync({false, true, ConflictPolicy::kKeepBoth}, nullptr, &outcome);
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(FolderTexts(Contacts()), contacts);
    EXPECT_EQ(FolderTexts(Calendar()), calendar);
    SetFaults(nullptr);
    Reconnect();
    Sync();
    ExpectConverged();
}

// A phone that did not give its model (a failed registry read) is not told apart from
// the pair's: the run fails as the phone's, never as bad arguments with advice to drop
// the pair. (No number: e2e/host/host_evidence_test.cpp, a first connect of a process.)
TEST_F(HostCoreSync, APhoneWhoseModelCouldNotBeReadIsNotAnotherPhone) {
    host::Outcome outcome;
    Sync();
    ASSERT_TRUE(SetFaults(R"([{"operation": "CeRegOpenKeyEx", "persistent": true}])").ok);
    Sync({}, nullptr, &outcome);
    SetFaults(nullptr);
    EXPECT_EQ(outcome.kind, host::ErrorKind::kPhoneRefused) << outcome.message;
    EXPECT_EQ(outcome.message.find("remove"), std::string::npos) << outcome.message;
    Sync();
}

// A pair bound to the maker and model alone (before the number was required) learns
// the number of the same phone instead of refusing it.
TEST_F(HostCoreSync, APairBoundWithoutANumberLearnsIt) {
    std::string identity;
    ASSERT_TRUE(host::PhoneIdentity(m_session, &identity).ok);
    const std::string withoutNumber = identity.substr(0, identity.rfind(' '));
    ASSERT_TRUE(m_state.SavePair({"p", Contacts().string(), Calendar().string(), withoutNumber}).ok);
    Sync();
    host::SyncPair pair;
    bool found = false;
    ASSERT_TRUE(m_state.LoadPair("p", &pair, &found).ok);
    EXPECT_EQ(pair.phone, identity);
}

// The same engine against a server's address book and calendar (Radicale), what lands
// there checked with python's own vCard and iCalendar readers.
class HostCoreDavSync : public HostCoreSync {
protected:
    void SetUp() override {
        if (!RadicaleServer::Installed())
            GTEST_SKIP() << "radicale is not installed (scripts/setup.sh installs it): sync with a server untested";
        m_server = std::make_unique<RadicaleServer>();
        ASSERT_TRUE(m_server->Ready()) << m_server->Log();
        HostCoreSync::SetUp();
        ASSERT_TRUE(m_state
                        .SavePair({"p", m_server->Url("contacts"), m_server->Url("calendar"), "", RadicaleServer::kUser,
                                   "", ""})
                        .ok);
    }
    std::vector<std::string> Files() override {
        std::vector<std::string> texts;
        for (const auto &entry : fs::directory_iterator(m_server->Storage("contacts")))
            if (entry.path().extension() == ".vcf") texts.push_back(ReadFileText(entry.path()));
        return texts;
    }
    void Put(const std::string &name, const std::string &card) {
        const int status = m_server->Request("PUT", m_server->Url("contacts") + name, card);
        EXPECT_TRUE(status == 201 || status == 204) << status << m_server->Log();
    }
    void Delete(const std::string &name) {
        EXPECT_EQ(m_server->Request("DELETE", m_server->Url("contacts") + name), 200);
    }
    std::string ServerFile(const std::string &text) {
        const fs::path file = FileHolding(text, m_server->Storage("contacts"));
        return file.empty() ? "" : ReadFileText(file);
    }

    ScopedEnv m_password{host::kSyncPasswordVariable, RadicaleServer::kPassword};
    std::unique_ptr<RadicaleServer> m_server;
};

TEST_F(HostCoreDavSync, FirstSyncBothWaysThenNothingChanges) {
    std::vector<host::ContentItem> appointments;
    ASSERT_TRUE(m_session.link.Listing(host::kAppointmentType, &appointments).ok);
    const size_t contacts = PhoneNames().size();
    Put("a.vcf", SyncCard("Pc", "Ann", "UID:a\r\nTEL;TYPE=CELL:555-0101\r\nPHOTO;VALUE=uri:http://x/y\r\n"));
    ASSERT_EQ(m_server->Request("PUT", m_server->Url("calendar") + "e.ics",
                                "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//t//t//EN\r\nBEGIN:VEVENT\r\nUID:e1\r\n"
                                "DTSTAMP:20260101T000000Z\r\nDTSTART:20261201T100000Z\r\nDTEND:20261201T110000Z\r\n"
                                "SUMMARY:Server event\r\nDESCRIPTION:not kept\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n"),
              201);
    const nlohmann::json first = host::SyncReportJson(Sync());
    EXPECT_EQ(first["created"], (nlohmann::json{{"phone", 2}, {"pc", contacts + appointments.size()}}))
        << first.dump(1);
    EXPECT_EQ(PhoneNames().count("PcAnn"), 1u);
    for (int run = 0; run < 3; ++run) ExpectConverged();
    if (!PythonHas("vobject, icalendar")) return;
    EXPECT_EQ(RunPython("import sys, os, vobject\n"
                        "for name in sorted(os.listdir(sys.argv[1])):\n"
                        "    if not name.endswith('.vcf'): continue\n"
                        "    card = vobject.readOne(open(os.path.join(sys.argv[1], name), encoding='utf-8').read())\n"
                        "    if card.fn.value == '홍길동': print(card.fn.value, card.uid.value + '.vcf' == name)\n",
                        m_server->Storage("contacts").string(), m_logs.path() / "py.txt"),
              "홍길동 True\n");
    const std::string summaries = RunPython(
        "import sys, os, icalendar\n"
        "for name in os.listdir(sys.argv[1]):\n"
        "    if name.endswith('.ics'):\n"
        "        for event in icalendar.Calendar.from_ical(open(os.path.join(sys.argv[1], name), 'rb').read())"
        ".walk('VEVENT'): print(event['SUMMARY'])\n",
        m_server->Storage("calendar").string(), m_logs.path() / "py.txt");
    EXPECT_EQ(size_t(std::count(summaries.begin(), summaries.end(), '\n')), appointments.size() + 1) << summaries;
}

// An edit and a deletion on each side; a phone edit keeps what the phone has no place for.
TEST_F(HostCoreDavSync, EditsAndDeletionsOnEachSideTravel) {
    Put("kim.vcf", SyncCard("Kim", "Edit", "UID:kim\r\nX-PC-ONLY:kept\r\nTEL;TYPE=CELL:555\r\n"));
    Put("park.vcf", SyncCard("Park", "Edit", "UID:park\r\n"));
    Put("choi.vcf", SyncCard("Choi", "Gone", "UID:choi\r\n"));
    PhoneAdd("LASTNAME=Lee||FIRSTNAME=Gone");
    Sync();
    PhoneEdit("KimEdit", "LASTNAME=Kim||FIRSTNAME=Edited", "KimEdited");
    Put("park.vcf", SyncCard("Park", "Edited", "UID:park\r\n"));
    ASSERT_TRUE(m_session.link.DeleteItem(host::kContactType, PhoneId("LeeGone")).ok);
    Delete("choi.vcf");
    const nlohmann::json report = host::SyncReportJson(Sync());
    EXPECT_EQ(report["updated"], (nlohmann::json{{"phone", 1}, {"pc", 1}})) << report.dump(1);
    EXPECT_EQ(report["deleted"], (nlohmann::json{{"phone", 1}, {"pc", 1}}));
    const std::string kim = ReadFileText(m_server->Storage("contacts") / "kim.vcf");
    EXPECT_NE(kim.find("N:Kim;Edited;"), std::string::npos) << kim;
    EXPECT_NE(kim.find("X-PC-ONLY:kept"), std::string::npos);
    EXPECT_NE(kim.find("UID:kim"), std::string::npos);
    EXPECT_EQ(FilesHolding("Gone"), 0u);
    const auto names = PhoneNames();
    EXPECT_EQ(names.count("ParkEdited") + names.count("KimEdited"), 2u);
    EXPECT_EQ(names.count("ChoiGone") + names.count("ParkEdit"), 0u);
    ExpectConverged();
}

// The server's item changes after the listing, before the phone's change is written:
// the write is refused (412) and the engine decides again with both changes in hand.
TEST_F(HostCoreDavSync, AChangeOnTheServerDuringTheSyncIsNotOverwritten) {
    Put("han.vcf", SyncCard("Han", "Both", "UID:han\r\n"));
    Sync();
    PhoneEdit("HanBoth", "LASTNAME=Han||FIRSTNAME=Phone", "HanPhone");
    struct EditOnBegin : host::ItemSink {
        std::function<void()> edit;
        void Begin(const std::string &, size_t) override {
            if (edit) std::exchange(edit, nullptr)();
        }
    } sink;
    sink.edit = [&] { Put("han.vcf", SyncCard("Han", "Server", "UID:han\r\n")); };
    const SyncReport report = Sync({}, &sink);
    EXPECT_EQ(report.conflicts, 1u) << host::SyncReportJson(report).dump(1);
    EXPECT_EQ(PhoneNames().count("HanPhone") + PhoneNames().count("HanServer"), 2u);
    EXPECT_EQ(FilesHolding("N:Han;Phone;") + FilesHolding("N:Han;Server;"), 2u);
    ExpectConverged();
}

// A duration of hours is exact time: an hour from 01:30 on the night New York's clocks
// go back ends at the second 01:00, an hour later, not two.
TEST(ReadICalendar, ATimedDurationIsExactAcrossAChangeOfOffset) {
    if (!host::CanReadICalendar()) GTEST_SKIP() << "this build reads no iCalendar";
    std::vector<host::ReadEvent> events;
    const host::Outcome read = host::ReadICalendar(
        "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//t//t//EN\r\nBEGIN:VEVENT\r\nUID:d\r\n"
        "DTSTAMP:20260101T000000Z\r\nDTSTART;TZID=America/New_York:20261101T013000\r\n"
        "DURATION:PT1H\r\nSUMMARY:Night\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n",
        &events);
    ASSERT_TRUE(read.ok) << read.message;
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].event.end - events[0].event.start, 3600) << events[0].problem;
}

// What a server answers is checked before use: hrefs stay inside the collection, and a
// multistatus document loads nothing.
TEST(DavSide, RefusesHrefsOutsideTheCollectionAndEntities) {
    host::DavSide side("http://Example.org/u/book", {}, host::SyncKind::kContacts);
    EXPECT_EQ(side.ItemPath("/u/book/a%20b.vcf"), "/u/book/a%20b.vcf");
    EXPECT_EQ(side.ItemPath("a.vcf"), "/u/book/a.vcf");
    EXPECT_EQ(side.ItemPath("http://example.org:80/u/book/a.vcf"), "/u/book/a.vcf");
    for (const char *outside :
         {"/u/other/a.vcf", "/u/book/", "/u/book/x/a.vcf", "/u/book/../a.vcf", "/u/book/%2e%2e", "/u/book/a%2Fb.vcf",
          "http://evil.org/u/book/a.vcf", "https://example.org/u/book/a.vcf", "file:///etc/passwd"})
        EXPECT_EQ(side.ItemPath(outside), "") << outside;
    std::vector<host::DavEntry> entries;
    // Linux's reader skips the entity; Windows' refuses any document type.
    if (host::ReadMultistatus(
            "<?xml version=\"1.0\"?><!DOCTYPE m [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>"
            "<d:multistatus xmlns:d=\"DAV:\"><d:response><d:href>/u/book/a.vcf</d:href><d:propstat><d:prop>"
            "<d:getetag>&x;\"e1\"</d:getetag></d:prop><d:status>HTTP/1.1 200 OK</d:status></d:propstat>"
            "</d:response></d:multistatus>",
            &entries)
            .ok) {
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].etag, "\"e1\"");
    }
    entries.clear();
    const host::Outcome read = host::ReadMultistatus(
        "<d:multistatus xmlns:d=\"DAV:\" xmlns:c=\"urn:ietf:params:xml:ns:carddav\"><d:response>"
        "<d:href> a.vcf "
        "</d:href><d:propstat><d:prop><d:getetag>\"e2\"</d:getetag><c:address-data>BEGIN</c:address-data>"
        "</d:prop><d:status>HTTP/1.1 200 OK</d:status></d:propstat><d:propstat><d:prop><d:resourcetype><d:collection/>"
        "</d:resourcetype></d:prop><d:status>HTTP/1.1 404 Not Found</d:status></d:propstat></d:response>"
        "<d:response><d:href>/u/book/</d:href><d:propstat><d:prop><d:resourcetype><d:collection/></d:resourcetype>"
        "</d:prop><d:status>HTTP/1.1 200 OK</d:status></d:propstat></d:response></d:multistatus>",
        &entries);
    ASSERT_TRUE(read.ok) << read.message;
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].href, "a.vcf");
    EXPECT_EQ(entries[0].etag, "\"e2\"");
    EXPECT_EQ(entries[0].data, "BEGIN");
    EXPECT_FALSE(entries[0].collection);  // (only a propstat of status 200 counts)
    EXPECT_TRUE(entries[1].collection);
    EXPECT_FALSE(host::ReadMultistatus("<html/>", &entries).ok);
}

#if !defined(_WIN32)  // (Windows keeps a file private by its folder's access list, not its mode)
// The password file is refused while others may read it.
TEST(DavSide, APasswordFileOthersCanReadIsRefused) {
    TempDir home;
    const fs::path file = home.path() / "password";
    WriteFileText(file, "Pa55\n");
    std::string password;
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    const host::Outcome refused = host::ReadSyncPassword(file.string(), &password);
    EXPECT_EQ(refused.kind, host::ErrorKind::kPcFile);
    EXPECT_NE(refused.message.find("0640"), std::string::npos) << refused.message;
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_TRUE(host::ReadSyncPassword(file.string(), &password).ok);
    EXPECT_EQ(password, "Pa55");
}
#endif

}  // namespace
#endif

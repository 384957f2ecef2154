// The sync engine in-process: the phone (the emulator) against PC folders of one file
// per item, and its state in a temporary SQLite file.
#if defined(CEBRIDGE_HAVE_SYNC)
#include <algorithm>
#include <filesystem>
#include <set>

#include "core_fixture.h"
#include "emulator/ceemu_test_hooks.h"
#include "encoding.h"
#include "item_text.h"
#include "phone_keeps.h"
#include "sync.h"
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
        std::string error;
        ASSERT_TRUE(m_state.Open((m_logs.path() / "state" / "sync.sqlite").string(), &error)) << error;
        ASSERT_TRUE(m_state.SavePair({"p", Contacts().string(), Calendar().string(), ""}));
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
    std::vector<std::string> Files() {
        std::vector<std::string> texts;
        for (const auto &entry : fs::directory_iterator(Contacts())) texts.push_back(ReadFileText(entry.path()));
        return texts;
    }
    fs::path FileHolding(const std::string &text) {
        for (const auto &entry : fs::directory_iterator(Contacts()))
            if (ReadFileText(entry.path()).find(text) != std::string::npos) return entry.path();
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
        ASSERT_TRUE(m_state.Mappings("p", "contacts", &mappings));
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

// A sync cancelled after N items, then run again, ends with every item once on each side.
class HostCoreSyncCancel : public HostCoreSync, public ::testing::WithParamInterface<int> {};

TEST_P(HostCoreSyncCancel, ARerunConverges) {
    struct CancelAfter : host::ItemSink {
        CancelAfter(std::atomic<bool> &flag, int steps) : flag(flag), left(steps) {}
        void Step() override {
            if (--left == 0) flag = true;
        }
        std::atomic<bool> &flag;
        int left;
    } cancel(m_interrupted, GetParam());
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
    ASSERT_TRUE(m_state.SavePair({"p", Contacts().string(), Calendar().string(), "Other Phone"}));
    host::Outcome outcome;
    Sync({}, nullptr, &outcome);
    EXPECT_EQ(outcome.kind, host::ErrorKind::kBadInput);
    EXPECT_TRUE(Files().empty());
}

}  // namespace
#endif

// Never acting on what could not be read: the plug-in answers a listing whose read of
// the phone's store failed with status OK and an empty or short list, and only its log
// says so. The log reader (a file cut between requests, a day change), the verdict on
// a request's lines, and a sweep of every PIM-reading operation under each failing
// database call: an operation that succeeds gave the whole list.
#include <filesystem>
#include <functional>
#include <set>

#include "core_fixture.h"
#include "emulator/ceemu_test_hooks.h"
#include "interop.h"
#include "pim_items.h"
#include "pim_operations.h"
#include "pim_results.h"
#include "store_evidence.h"
#include "tests/e2e/emulator/emulator_fixture.h"
#include "tests/e2e/host/host_fixture.h"

namespace fs = std::filesystem;

namespace {

using host::StoreReading;

std::vector<std::string> LinesSince(const host::PluginLog &log, const host::PluginLog::Mark &mark) {
    std::vector<std::string> lines;
    EXPECT_TRUE(log.LinesSince(mark, [&](std::string_view line) { lines.emplace_back(line); }));
    return lines;
}

void Append(const std::string &file, const std::string &message) {
    WriteFileText(file, (fs::exists(file) ? ReadFileText(file) : "") + "2026:12:09 20:00:00.000] " + message + "\r\n");
}

TEST(PluginLogReader, ReadsTheLinesOfOneRequestThroughCutsAndDayChanges) {
    TempDir folder;
    host::PluginLog log;
    log.Watch(folder.str(), "");
    const std::string today = log.TodaysFile();
    const auto none = log.Take();  // no file yet
    Append(today, "first");
    EXPECT_EQ(LinesSince(log, none), std::vector<std::string>({"first"}));

    const auto mark = log.Take();
    Append(today, "second");
    EXPECT_EQ(LinesSince(log, mark), std::vector<std::string>({"second"}));

    // Cut to nothing between requests, then written again: all of it is new.
    const auto beforeCut = log.Take();
    WriteFileText(today, "");
    Append(today, "after a cut");
    EXPECT_EQ(LinesSince(log, beforeCut), std::vector<std::string>({"after a cut"}));

    // Cut from the front, keeping its last lines: the mark is found where they went.
    for (int i = 0; i < 40; ++i) Append(today, "old line " + std::to_string(i));
    const auto beforeTrim = log.Take();
    const std::string text = ReadFileText(today);
    WriteFileText(today, text.substr(text.size() / 2));
    Append(today, "after a trim");
    EXPECT_EQ(LinesSince(log, beforeTrim), std::vector<std::string>({"after a trim"}));

    // A request that ran over midnight: the rest of yesterday's file, then today's.
    const std::string yesterday = folder.str() + "/cebridge_20000101.log";
    Append(yesterday, "before");
    host::PluginLog::Mark overnight = {yesterday, fs::file_size(yesterday), ReadFileText(yesterday)};
    Append(yesterday, "at midnight");
    EXPECT_EQ(LinesSince(log, overnight).front(), "at midnight");
    EXPECT_EQ(LinesSince(log, overnight).back(), "after a trim");
}

TEST(ListingJudge, OnlyAReadTheLogShowsWholeIsWhole) {
    struct Case {
        std::vector<std::string> lines;
        size_t listed;
        StoreReading reading;
    };
    const std::string opened = "CeEdbOpenDatabaseInSession Success(H:0x1)";
    const Case cases[] = {
        {{}, 0, StoreReading::kUnproven},
        {{"DBNAME[Contacts Database][0x18][20]", opened}, 20, StoreReading::kWhole},
        {{"DBNAME[Contacts Database][0x18][20]", opened}, 19, StoreReading::kUnreadable},  // cut short
        {{"DBNAME[Contacts Database][0x18][0]", opened}, 0, StoreReading::kWhole},         // truly empty
        {{"DBNAME[Contacts Database][0x18][20]", "CeEdbOpenDatabaseInSession Fail (0x5)"},
         0,
         StoreReading::kUnreadable},
        {{"This Session is not initialized Session Handle is Invalid"}, 0, StoreReading::kUnreadable},
        {{"CeEdbFindNextDatabaseEx FAIL[5]"}, 0, StoreReading::kUnreadable},
        {{"CBSList"}, 0, StoreReading::kUnreadable},  // nothing opened
        // Another database's description failed; this type's was found after it.
        {{"CeOidGetInfoEx2 FAIL[0x7][5]", "DBNAME[Contacts Database][0x18][2]", opened}, 2, StoreReading::kWhole},
        {{"CeOidGetInfoEx2 FAIL[0x7][5]", opened}, 0, StoreReading::kUnreadable},
        // Other types' counts do not count; a name holding "][" does not confuse.
        {{"DBNAME[a][0x19][3]", "DBNAME[b][0x5][c][0x18][4]", opened}, 4, StoreReading::kWhole},
        // Two reads that found different counts.
        {{"DBNAME[C][0x18][4]", opened, "DBNAME[C][0x18][5]", opened}, 5, StoreReading::kUnreadable},
    };
    for (const Case &each : cases) {
        host::ListingJudge judge(0x18);
        for (const std::string &line : each.lines) judge.Line(line);
        const host::StoreVerdict verdict = judge.Verdict(each.listed);
        EXPECT_EQ(int(verdict.reading), int(each.reading)) << ::testing::PrintToString(each.lines) << verdict.why;
    }
    host::ListingJudge messages(0x40406000);  // the message volume adds the record's oid
    messages.Line("DBNAME[SMS Inbox][0x40406000][13][2a]");
    messages.Line(opened);
    EXPECT_TRUE(messages.Verdict(13).Whole());
}

// Every operation that reads the PIM store, run under each failing database call,
// once from its first call and persistently: it fails, or what it gave is what the
// phone holds.
class StoreSweep : public CoreSessionTest {
protected:
    using Read = std::function<host::Outcome(std::string *result)>;
    struct Operation {
        const char *name;
        Read read;
    };
    std::vector<Operation> Operations() {
        auto listing = [this](const char *kind) {
            return [this, kind](std::string *result) {
                host::PimListing listing;
                host::Outcome outcome = host::ListPimItems(m_session, kind, &listing);
                *result = host::PimListingJson(listing).dump();
                return outcome;
            };
        };
        auto exported = [this](auto exportFn, const char *name) {
            return [this, exportFn, name](std::string *result) {
                const fs::path file = m_logs.path() / name;
                fs::remove(file);
                host::InteropReport report;
                host::Outcome outcome = exportFn(m_session, file.string(), &report);
                *result = fs::exists(file) ? ReadFileText(file) : "";
                const size_t stamp = result->find("DTSTAMP:");  // (the time of the export)
                if (stamp != std::string::npos) *result = result->substr(0, stamp);
                return outcome;
            };
        };
        return {
            {"contacts", listing("contacts")},
            {"calendar", listing("calendar")},
            {"calls", listing("calls")},
            {"sms",
             [this](std::string *result) {
                 std::vector<host::SmsMessage> messages;
                 host::Outcome outcome = host::ListMessages(m_session, false, &messages);
                 *result = host::MessageListJson(messages, false).dump();
                 return outcome;
             }},
            {"show",
             [this](std::string *result) {
                 host::ShownItem shown;
                 host::Outcome outcome = host::ShowPimItem(m_session, host::kContactType, m_shownId, &shown);
                 *result = host::ShownItemJson(host::kContactType, shown).dump();
                 return outcome;
             }},
            {"contacts export", exported(host::ExportContacts, "c.vcf")},
            {"calendar export", exported(host::ExportCalendar, "c.ics")},
            {"calls export", exported(host::ExportCalls, "calls.csv")},
        };
    }
    void Relink(const nlohmann::json &faults, const std::string &logDir) {
        if (m_session.connected) m_session.link.Disconnect();
        m_session.connected = false;
        m_phone.EditDevice([&](nlohmann::json &device) { device["faults"] = faults; });
        host::ConnectReport report;
        const host::Outcome outcome =
            m_session.Connect({m_phone.path().string(), "", CEBRIDGE_TEST_PLUGIN, logDir, false}, &report);
        ASSERT_TRUE(outcome.ok) << outcome.message;
    }
    std::string m_shownId;  // a contact the phone holds
};

TEST_F(StoreSweep, AnOperationThatSucceedsGaveWhatThePhoneHolds) {
    const char *const calls[] = {"DevCeMountDBVolEx",       "DevCeCreateSession", "DevCeFindFirstDatabaseEx",
                                 "DevCeFindNextDatabaseEx", "DevCeOidGetInfoEx2", "DevCeOpenDatabaseInSession",
                                 "DevCeReadRecordPropsEx",  "DevCeSeekDatabaseEx"};
    Relink(nlohmann::json::array(), m_logs.str());
    std::vector<host::ContentItem> contacts;
    ASSERT_TRUE(m_session.link.Listing(host::kContactType, &contacts).ok);
    ASSERT_FALSE(contacts.empty());
    m_shownId = contacts.back().id;
    std::vector<std::string> whole;
    for (const Operation &operation : Operations()) {
        std::string result;
        const host::Outcome outcome = operation.read(&result);
        ASSERT_TRUE(outcome.ok) << operation.name << ": " << outcome.message;
        whole.push_back(result);
    }
    size_t runs = 0, refused = 0;
    for (const char *call : calls)
        for (int nth : {1, 2}) {
            const std::vector<Operation> operations = Operations();
            for (size_t i = 0; i < operations.size(); ++i) {
                // (a changed configuration starts the emulator's call counts again)
                const nlohmann::json faults = {
                    {{"operation", call}, {"nth", nth}, {"persistent", true}, {"run", runs}}};
                Relink(faults, m_logs.str());
                std::string result;
                const host::Outcome outcome = operations[i].read(&result);
                ++runs;
                refused += outcome.ok ? 0 : 1;
                if (outcome.ok)
                    EXPECT_EQ(result, whole[i]) << operations[i].name << " under " << faults.dump();
                else
                    EXPECT_FALSE(outcome.message.empty());
            }
        }
    RecordProperty("runs", int(runs));
    RecordProperty("refused", int(refused));
}

// Without a log nothing proves a list whole: an empty one from a phone whose volume
// opened is shown, but an export does not replace a file with it; with a phone whose
// volume did not open (no number at connect) it is refused outright.
TEST_F(StoreSweep, WithoutALogAnEmptyListReplacesNothing) {
    TempDir blocked;
    WriteFileText(blocked.path() / "file", "x");
    const std::string noLog = (blocked.path() / "file" / "logs").string();
    const fs::path mine = m_logs.path() / "mine.vcf";
    WriteFileText(mine, "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Kept\r\nN:Kept;;;;\r\nEND:VCARD\r\n");
    // (first: the plug-in asks for the number only when its first connect opened the volume)
    Relink({{{"operation", "DevCeMountDBVolEx"}, {"persistent", true}}}, noLog);
    std::vector<host::ContentItem> items;
    const host::Outcome noVolume = m_session.link.Listing(host::kContactType, &items);
    EXPECT_FALSE(noVolume.ok);
    EXPECT_NE(noVolume.message.find("no number"), std::string::npos) << noVolume.message;

    Relink({{{"operation", "DevCeOpenDatabaseInSession"}, {"persistent", true}}}, noLog);
    ASSERT_TRUE(m_session.link.Listing(host::kContactType, &items).ok);
    EXPECT_TRUE(items.empty());
    EXPECT_EQ(int(m_session.link.ListingVerdict(host::kContactType).reading), int(StoreReading::kUnproven));
    host::InteropReport report;
    const host::Outcome refused = host::ExportContacts(m_session, mine.string(), &report);
    EXPECT_FALSE(refused.ok);
    EXPECT_NE(refused.message.find("--force"), std::string::npos) << refused.message;
    EXPECT_NE(ReadFileText(mine).find("Kept"), std::string::npos);
    report.force = true;
    EXPECT_TRUE(host::ExportContacts(m_session, mine.string(), &report).ok);
    EXPECT_EQ(ReadFileText(mine).find("Kept"), std::string::npos);
}

}  // namespace

// Text messages through the real exports, against private copies of the demo
// phone: the message volume the session opens beside the PIM volume, its listings
// and deletes, and what a phone without it, or with a failing one, still does.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "e2e/core/agent_session.h"
#include "e2e/emulator/emulator_fixture.h"
#include "support/pc_time_zone.h"
#include "support/phone_copy.h"
#include "support/test_agent.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

struct Message {
    std::string id, party, dateTime, text;
    bool operator==(const Message &) const = default;
};

// The value of one Ext pair of a Content; a CDATA value without its markers.
std::string Pair(const std::string &content, const std::string &name) {
    const std::regex pattern("<Ext>\\s*<XNam>" + name + "</XNam>\\s*<XVal>\\s*([\\s\\S]*?)\\s*</XVal>");
    std::smatch match;
    if (!std::regex_search(content, match, pattern)) return {};
    std::string value = match[1];
    const std::string open = "<![CDATA[", close = "]]>";
    if (value.rfind(open, 0) == 0 && value.size() >= open.size() + close.size())
        value = value.substr(open.size(), value.size() - open.size() - close.size());
    return value;
}

std::vector<Message> Messages(const std::string &xml) {
    std::vector<Message> messages;
    static const std::regex contentPattern("<Content>([\\s\\S]*?)</Content>");
    static const std::regex idPattern("<ID>([^<]*)</ID>");
    for (std::sregex_iterator it(xml.begin(), xml.end(), contentPattern), end; it != end; ++it) {
        const std::string content = (*it)[1];
        std::smatch id;
        std::regex_search(content, id, idPattern);
        std::string party = Pair(content, "Sender");
        if (party.empty()) party = Pair(content, "Receiver");
        messages.push_back({id[1], party, Pair(content, "DateTime"), Pair(content, "Message")});
    }
    return messages;
}

bool Has(const std::string &text, const std::string &what) { return text.find(what) != std::string::npos; }

void FreeAnswer(BYTE *answer) {
#if defined(_WIN32)
    LocalFree(answer);
#else
    std::free(answer);
#endif
}

// The names of the volumes the phone's database server holds mounted. Asked over
// a link of the test's own, so only while the plug-in holds none; its end lets go
// of every mount.
std::vector<std::u16string> MountedVolumes() {
    const ceemu_test::EmulatorApi &api = ceemu_test::Emulator();
    std::vector<std::u16string> names;
    RAPIINIT init{};
    init.cbSize = sizeof init;
    if (api.CeRapiInitEx(&init) != 0 || !ceemu_test::LinkSignalled(init.heRapiInit, 5000)) {
        ADD_FAILURE() << "no link to ask the phone";
        api.CeRapiUninit();
        return names;
    }
    BYTE request[20] = {};  // a zero identifier starts the walk; names of up to 260 characters
    request[16] = 260 & 0xFF;
    request[17] = 260 >> 8;
    for (int i = 0; i < 100; ++i) {
        DWORD size = 0;
        BYTE *answer = nullptr;
        const HRESULT code = api.CeRapiInvoke(CE_TEXT("Tobrann"), CE_TEXT("DevCeEnumDBVolumes"), sizeof request,
                                              request, &size, &answer, nullptr, 0);
        if (code != 0 || size < 16) {
            FreeAnswer(answer);
            break;
        }
        std::memcpy(request, answer, 16);
        std::u16string name;
        for (DWORD at = 16; at + 1 < size && (answer[at] || answer[at + 1]); at += 2)
            name += static_cast<char16_t>(answer[at] | answer[at + 1] << 8);
        names.push_back(name);
        FreeAnswer(answer);
    }
    api.CeRapiUninit();
    return names;
}

// A session against its own copy of the demo phone; `prepare` may change the
// image or the PC registry before the plug-in starts.
class MessagesTest : public ::testing::Test {
protected:
    void Start(const std::function<void(PhoneCopy &)> &prepare = nullptr) {
        if (prepare) prepare(session.phone);
        session.agent.Initialize(session.logs.str());
        connectAnswer = session.agent.Request(CMD_APP_CON, 0);
        ASSERT_EQ(connectAnswer.header.nStatus, ST_OK);
    }

    fs::path VolumeFile(const char *leaf = "sms.vol") const {
        return session.phone.path() / "volumes" / (std::string(leaf) + ".json");
    }
    // Messages of the type the phone holds (its volume file and journal).
    size_t RecordCount(uint32_t type) const {
        const json volume = session.phone.ReadVolume("sms.vol");
        for (const json &database : volume["databases"]) {
            if (std::stoul(database["type"].get<std::string>(), nullptr, 16) == type) return database["records"].size();
        }
        return 0;
    }

    Answer List(const std::string &type) {
        return session.agent.Request(CMD_GET, SUB_GET_SVC, Body({{PAR_TYPE, type}}));
    }
    std::vector<Message> ListMessages(const std::string &type) {
        Answer answer = List(type);
        EXPECT_EQ(answer.header.nStatus, ST_OK);
        return Messages(XmlText(answer));
    }
    uint32_t Delete(const std::string &type, const std::string &id) {
        return session.agent.Request(CMD_PUT, SUB_PUT_DELETE, Body({{PAR_TYPE, type}, {PAR_APP_ID, id}}))
            .header.nStatus;
    }

    // Message listings empty, message deletes failing, and the rest of the phone
    // as it always was.
    void ExpectNoMessagesButEverythingElse() {
        for (const char *type : {kReceived, kSent}) {
            Answer listing = List(type);
            EXPECT_EQ(listing.header.nStatus, ST_OK) << type;
            EXPECT_TRUE(Has(XmlText(listing), "<Contents-listing Version=\"1.0\"/>")) << type;
            EXPECT_EQ(Delete(type, "50001"), ST_FAILED) << type;
        }
        EXPECT_EQ(Messages(XmlText(List("phonebook/private"))).size(), 20u);
        Answer capability = session.agent.Request(CMD_GET, SUB_GET_CAPABILITY, Body({{PAR_TYPE, "x-obex/capability"}}));
        EXPECT_TRUE(Has(XmlText(capability), "010-2345-6789"));
    }

    AgentSession session{nullptr, false};
    Answer connectAnswer;
};

TEST_F(MessagesTest, ListingsHoldTheReceivedAndSentMessagesInLocalTime) {
    Start();
    const std::string log = session.LogText();
    EXPECT_TRUE(Has(log, "CeEdbMountDBVolEx(sms) SUCCESS"));
    EXPECT_TRUE(Has(log, "CeEdbCreateSession(sms) Success"));

    for (auto [zone, time] : {std::pair{kSeoul, "20261121T034000Z"}, std::pair{kUtc, "20261120T184000Z"},
                              std::pair{kNewYork, "20261120T134000Z"}}) {
        PcTimeZone pcZone(zone);
        if (!pcZone.InForce()) continue;
        const std::vector<Message> received = ListMessages(kReceived);
        ASSERT_EQ(received.size(), 13u) << zone.tz;
        EXPECT_EQ(received[1], (Message{"50002", "+1-206-555-0110", time, "Are we still on for Monday?"})) << zone.tz;
    }
    EXPECT_TRUE(Has(session.LogText(), "DBNAME[SMS Inbox][0x40406000][13][200]"));
    EXPECT_TRUE(Has(session.LogText(), "[+1-206-555-0110][Are we still on for Monday?]"));

    // A record keeps 123 bytes of a device string: one text fills them exactly, a
    // longer one is cut there.
    const std::vector<Message> received = ListMessages(kReceived);
    EXPECT_EQ(received[9].text.size(), 123u);
    EXPECT_EQ(received[10].text.size(), 123u);
    EXPECT_EQ(received[10].text.rfind("Hi, here are the notes", 0), 0u);

    const std::vector<Message> sent = ListMessages(kSent);
    ASSERT_EQ(sent.size(), 9u);
    EXPECT_EQ(sent[1].id, "50102");
    EXPECT_EQ(sent[1].party, "+1-206-555-0110");
    EXPECT_EQ(sent[1].text, "Yes, see you at 2pm.");
    EXPECT_TRUE(Has(XmlText(List(kSent)), "<XNam>Receiver</XNam>"));
}

TEST_F(MessagesTest, ADeletedMessageLeavesThePhoneAndTheNextListing) {
    Start();
    ASSERT_EQ(ListMessages(kReceived).size(), 13u);
    EXPECT_EQ(Delete(kReceived, "50002"), ST_OK);
    std::vector<Message> after = ListMessages(kReceived);
    ASSERT_EQ(after.size(), 12u);
    for (const Message &message : after) EXPECT_NE(message.id, "50002");
    EXPECT_EQ(RecordCount(0x40406000), 12u);

    // A sent message by its own listing's ID; a received ID is no sent one.
    ASSERT_EQ(ListMessages(kSent).size(), 9u);
    EXPECT_EQ(Delete(kSent, "50001"), ST_FAILED);
    EXPECT_EQ(Delete(kSent, "50109"), ST_OK);
    EXPECT_EQ(ListMessages(kSent).size(), 8u);
    EXPECT_EQ(RecordCount(0x4040601c), 8u);
}

TEST_F(MessagesTest, APhoneWithoutAMessageVolumeConnectsAsBefore) {
    Start();
    const Answer withVolume = connectAnswer;
    ASSERT_EQ(session.agent.Request(CMD_DISCON, 0).header.nStatus, ST_OK);

    fs::remove(VolumeFile());
    const Answer withoutVolume = session.agent.Request(CMD_APP_CON, 0);
    AgentPacket a = withVolume.header, b = withoutVolume.header;
    a.pBody = b.pBody = nullptr;
    a.tid = b.tid = 0;
    EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
    EXPECT_EQ(withoutVolume.header.nStatus, ST_OK);
    EXPECT_TRUE(withoutVolume.body.empty());
    EXPECT_TRUE(Has(session.LogText(), "CeEdbMountDBVolEx(sms) FAIL"));
    ExpectNoMessagesButEverythingElse();
}

TEST_F(MessagesTest, AFailingMessageSessionOnlyLogs) {
    // The first session opened is the PIM volume's, the second the messages'.
    Start([](PhoneCopy &phone) {
        phone.EditDevice([](json &device) {
            device["faults"] = json::array({{{"operation", "DevCeCreateSession"}, {"nth", 2}, {"error", 5}}});
        });
    });
    const std::string log = session.LogText();
    EXPECT_TRUE(Has(log, "CeEdbMountDBVolEx(sms) SUCCESS"));
    EXPECT_TRUE(Has(log, "CeEdbCreateSession(sms) Fail (0x5)"));
    ExpectNoMessagesButEverythingElse();
}

TEST_F(MessagesTest, TheRegistryNamesTheMessageVolume) {
    // Another volume by name: the messages come from there.
    Start([this](PhoneCopy &phone) {
        phone.WriteRegistry(DtdSource().string(), {{"SMSVOLUME", "\\texts.vol"}});
        json volume = json::parse(ReadFileText(VolumeFile()));
        volume["name"] = "\\texts.vol";
        volume["databases"][0]["records"].erase(1);
        WriteFileText(VolumeFile("texts.vol"), volume.dump(2));
    });
    EXPECT_EQ(ListMessages(kReceived).size(), 12u);
    EXPECT_EQ(ListMessages(kSent).size(), 9u);
}

TEST_F(MessagesTest, AMessageVolumeNameTooLongIsRefusedNotCut) {
    // Neither cut to its field nor replaced by the usual name: no message volume.
    const std::string name = "\\sms.vol" + std::string(300, ' ');
    Start([&](PhoneCopy &phone) { phone.WriteRegistry(DtdSource().string(), {{"SMSVOLUME", name}}); });
    EXPECT_TRUE(Has(session.LogText(), "Registry value SMSVOLUME too long"));
    EXPECT_TRUE(Has(session.LogText(), "CeEdbMountDBVolEx(sms) FAIL"));
    ExpectNoMessagesButEverythingElse();
}

TEST_F(MessagesTest, EndingTheSessionReleasesBothVolumes) {
    MountedVolumes();  // what earlier sessions of this test program left mounted goes
    Start();
    EXPECT_EQ(ListMessages(kReceived).size(), 13u);
    session.agent.UnInitialize();
    EXPECT_EQ(MountedVolumes(), std::vector<std::u16string>{});
}

}  // namespace

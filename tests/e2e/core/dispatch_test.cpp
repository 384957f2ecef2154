// The connection state machine and the dispatcher's own answers, through the
// exports against the emulated demo phone.
#include <gtest/gtest.h>

#include "agent_session.h"

namespace {

const std::vector<uint8_t> kLinkFailedBody = {0x05, 8, 0, 0, 0, '7', 'F', 'F', 'F', 'F', 'F', 'F', 'F'};
const std::vector<uint8_t> kNoPhoneNumberBody = {0x05, 8, 0, 0, 0, '0', '0', '0', '0', '0', '0', '2', '0'};

void ExpectStatus(AgentSession &session, uint16_t command, uint16_t sub, uint32_t status,
                  const std::vector<uint8_t> &body = {}) {
    Answer answer = session.agent.Request(command, sub, body);
    EXPECT_EQ(answer.header.nStatus, status) << "command 0x" << std::hex << command << " sub 0x" << sub;
    EXPECT_EQ(answer.header.command, command);
}

void ExpectConnectFailure(AgentSession &session, const std::vector<uint8_t> &body) {
    Answer answer = session.agent.Request(CMD_APP_CON, 0);
    EXPECT_EQ(answer.header.nStatus, ST_CONNECT_FAILED);
    EXPECT_EQ(answer.header.nBodyLength, 13u);
    EXPECT_EQ(answer.body, body);
    ExpectStatus(session, CMD_CONNECT, 0, ST_DISCONNECTED);
}

}  // namespace

TEST(Dispatch, WhileDisconnectedEachCommandGetsItsAnswer) {
    AgentSession session;
    const std::vector<uint8_t> file = Body({{PAR_TYPE, "x-obex/file"}, {PAR_NAME, "a.txt"}});
    ExpectStatus(session, CMD_CONNECT, 0, ST_DISCONNECTED);
    ExpectStatus(session, CMD_GET, SUB_GET_SVC, ST_FAILED, Body({{PAR_TYPE, "x-obex/folder-listing"}}));
    ExpectStatus(session, CMD_GET, 9, ST_FAILED);
    ExpectStatus(session, CMD_PUT, SUB_PUT_OBJECT, ST_DISCONNECTED, file);
    ExpectStatus(session, CMD_PUT, SUB_PUT_DELETE, ST_DISCONNECTED, file);
    ExpectStatus(session, CMD_DISCON, 0, ST_OK);
    ExpectStatus(session, CMD_APP_CLOSE, 0, ST_OK);
    ExpectStatus(session, CMD_APP_QUERY, 0, ST_UNSUPPORTED);
    ExpectStatus(session, 0x304, 0, ST_UNSUPPORTED);
    ExpectStatus(session, CMD_NOTI, 0, ST_DISCONNECTED);
    // Nothing was written on the phone.
    EXPECT_FALSE(std::filesystem::exists(session.phone.fs() / "a.txt"));
}

TEST(Dispatch, ConnectsAndDisconnectsAgainstTheDemoPhone) {
    AgentSession session;
    session.Connect();
    EXPECT_NE(session.LogText().find("Active Sync Connected Successs"), std::string::npos);
    ExpectStatus(session, CMD_CONNECT, 0, ST_OK);
    // The phone number read at connect shows in the capability document.
    Answer capability = session.agent.Request(CMD_GET, SUB_GET_CAPABILITY, Body({{PAR_TYPE, "x-obex/capability"}}));
    EXPECT_EQ(capability.header.nStatus, ST_OK);
    EXPECT_NE(XmlText(capability).find("010-2345-6789"), std::string::npos) << XmlText(capability);
    // Capability of another type: ST_OK, no body.
    Answer other = session.agent.Request(CMD_GET, SUB_GET_CAPABILITY, Body({{PAR_TYPE, "x-obex/file"}}));
    EXPECT_EQ(other.header.nStatus, ST_OK);
    EXPECT_TRUE(other.body.empty());
    ExpectStatus(session, CMD_GET, SUB_GET_SVC, ST_UNSUPPORTED, Body({{PAR_TYPE, "x-obex/folder-listing2"}}));
    ExpectStatus(session, CMD_GET, SUB_GET_OBJECT, ST_UNSUPPORTED, Body({{PAR_TYPE, "text/unknown"}}));
    ExpectStatus(session, CMD_PUT, SUB_PUT_OBJECT, ST_NOT_IMPLEMENTED, Body({{PAR_TYPE, "text/unknown"}}));
    ExpectStatus(session, CMD_PUT, SUB_PUT_DELETE, ST_NOT_IMPLEMENTED, Body({{PAR_TYPE, "text/unknown"}}));
    ExpectStatus(session, CMD_PUT, 0x14, ST_UNSUPPORTED);
    // A malformed body never reaches past its end and matches no type.
    std::vector<uint8_t> overrun = {PAR_TYPE, 0xFF, 0xFF, 0xFF, 0x7F, 'x'};
    ExpectStatus(session, CMD_GET, SUB_GET_SVC, ST_UNSUPPORTED, overrun);
    ExpectStatus(session, CMD_PUT, SUB_PUT_OBJECT, ST_NOT_IMPLEMENTED, overrun);

    ExpectStatus(session, CMD_DISCON, 0, ST_OK);
    ExpectStatus(session, CMD_CONNECT, 0, ST_DISCONNECTED);
    ExpectStatus(session, CMD_GET, SUB_GET_SVC, ST_FAILED, Body({{PAR_TYPE, "x-obex/folder-listing"}}));
    // Connecting again after a disconnect works, and NOTI leaves the flag as it was.
    session.Connect();
    ExpectStatus(session, CMD_NOTI, 0, ST_DISCONNECTED);
    ExpectStatus(session, CMD_CONNECT, 0, ST_OK);
}

TEST(Dispatch, ARefusedOrFailedLinkIsAnsweredWithItsErrorCode) {
    AgentSession refused([](nlohmann::json &device) { device["link"]["initRefused"] = true; });
    ExpectConnectFailure(refused, kLinkFailedBody);
    EXPECT_NE(refused.LogText().find("Active Sync Connected FAIL"), std::string::npos);

    AgentSession failed([](nlohmann::json &device) { device["link"]["result"] = -2147467259; });
    ExpectConnectFailure(failed, kLinkFailedBody);
}

TEST(Dispatch, AnUnreadablePhoneNumberFailsTheConnectButKeepsTheLink) {
    AgentSession session([](nlohmann::json &device) { device["phoneNumberUnreadable"] = true; });
    ExpectConnectFailure(session, kNoPhoneNumberBody);
}

TEST(Dispatch, AnswersAboveUid256AreNotHandedOver) {
    AgentSession session;
    uint32_t dropped = session.agent.Send(CMD_NOTI, 0, {}, 0, 257);
    uint32_t sent = session.agent.Send(CMD_NOTI, 0, {}, 0, 256);
    ASSERT_TRUE(session.agent.WaitForFinal(sent, 10000));
    EXPECT_EQ(session.agent.AnswersFor(sent).front().header.nStatus, ST_DISCONNECTED);
    EXPECT_TRUE(session.agent.AnswersFor(dropped).empty());
    // Plain hand-overs (here CMD_CONNECT) do not look at the uid.
    uint32_t plain = session.agent.Send(CMD_CONNECT, 0, {}, 0, 300);
    EXPECT_TRUE(session.agent.WaitForFinal(plain, 10000));
}

TEST(Dispatch, EveryRoutedRequestGetsExactlyOneFinalAnswer) {
    AgentSession session;
    session.Connect();
    struct Case {
        uint16_t command, sub;
        std::vector<uint8_t> body;
        uint32_t status;  // 0: any
    };
    const std::vector<Case> cases = {
        {CMD_GET, SUB_GET_SVC, Body({{PAR_TYPE, "x-obex/folder-listing"}}), ST_OK},
        {CMD_GET, SUB_GET_SVC_ALT, Body({{PAR_TYPE, "phonebook/private"}}), ST_OK},
        {CMD_GET, SUB_GET_SVC, Body({{PAR_TYPE, "schedule"}}), ST_OK},
        {CMD_GET, SUB_GET_SVC, Body({{PAR_TYPE, "callhistory/recv"}}), ST_OK},
        {CMD_GET, SUB_GET_SVC, Body({{PAR_TYPE, "smsdata/recv"}}), 0},
        {CMD_GET, SUB_GET_SVC, Body({{PAR_APP_SEARCH, "WG-REGISTRY"}}), 0},
        {CMD_GET, SUB_GET_OBJECT, Body({{PAR_TYPE, "phonebook/private"}, {PAR_APP_ID, "10001"}}), ST_OK},
        {CMD_PUT, SUB_PUT_OBJECT, Body({{PAR_TYPE, "phonebook/private"}, {PAR_XMLBODY, "FIRSTNAME=Kim||LASTNAME=Lee"}}),
         ST_OK},
        {CMD_PUT, SUB_PUT_DELETE, Body({{PAR_TYPE, "phonebook/private"}, {PAR_APP_ID, "10001"}}), ST_OK},
        {CMD_PUT, SUB_PUT_DELETE, Body({{PAR_TYPE, "phonebook/private"}, {PAR_APP_ID, "10001"}}), ST_FAILED},
        // An id or a package name longer than its field names nothing: refused.
        {CMD_PUT, SUB_PUT_DELETE, Body({{PAR_TYPE, "schedule"}, {PAR_APP_ID, std::string(40, '1')}}), ST_FAILED},
        {CMD_PUT, SUB_PUT_OBJECT, Body({{PAR_TYPE, "application/cab"}, {PAR_NAME, std::string(200, 'c')}}), ST_FAILED},
        {CMD_PUT, SUB_PUT_DELETE, Body({{PAR_TYPE, "smsdata/send"}, {PAR_APP_ID, "1"}}), 0},
        {CMD_SETPATH, 0, Body({{PAR_NAME, "My Documents"}, {PAR_APP_FLAGS, std::vector<uint8_t>{2}}}), ST_OK},
    };
    std::vector<uint32_t> tids;
    for (const Case &c : cases) {
        uint32_t tid = session.agent.Send(c.command, c.sub, c.body);
        tids.push_back(tid);
        ASSERT_TRUE(session.agent.WaitForFinal(tid, 20000)) << "case " << tids.size();
    }
    // Requests are served in order, so a last answered PING means every answer is in.
    session.agent.Request(CMD_PING, 0);
    for (size_t i = 0; i < cases.size(); ++i) {
        int finals = 0;
        for (const Answer &answer : session.agent.AnswersFor(tids[i])) {
            if (answer.header.nStatus == ST_CONTINUE) continue;
            ++finals;
            if (cases[i].status) {
                EXPECT_EQ(answer.header.nStatus, cases[i].status) << "case " << i;
            }
        }
        EXPECT_EQ(finals, 1) << "case " << i;
    }
}

// Whoever reads the log to find a malformed request must see the parameter that broke it.
TEST(Dispatch, TheDumpOfAnOverrunningBodyShowsTheParameterThatOverran) {
    AgentSession session;
    // 13 bytes: "ab" as PAR_NAME, then PAR_TYPE announcing 2 bytes with 1 left.
    std::vector<uint8_t> body = Body({{PAR_NAME, "ab"}});
    body.insert(body.end(), {PAR_TYPE, 2, 0, 0, 0, 'x'});
    ASSERT_EQ(body.size(), 13u);
    ExpectStatus(session, CMD_GET, SUB_GET_SVC, ST_FAILED, body);

    const std::string log = session.LogText();
    const size_t first = log.find("\t 0x1\t2\tab\r\n");
    const size_t second = log.find("\t 0x42\t2\tx\r\n");
    const size_t corrupt = log.find("TotalParam Size:14 BODYSIZE:13 Packet Info Corrupted.Check!!");
    ASSERT_NE(corrupt, std::string::npos) << log;
    EXPECT_LT(first, second) << log;
    EXPECT_LT(second, corrupt) << log;
}

// Request bodies, packet copies and the packet dump. Bodies are handed to the
// decoders in heap blocks of exactly their length, so a read past the end is
// caught under AddressSanitizer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/params.h"
#include "core/session.h"
#include "log_capture.h"
#include "support/test_agent.h"

namespace {

struct FreeDeleter {
    void operator()(void *block) const { std::free(block); }
};

// An exact-size heap copy of `bytes` (a 1-byte block for an empty body).
std::unique_ptr<uint8_t, FreeDeleter> ExactCopy(const std::vector<uint8_t> &bytes) {
    auto *block = static_cast<uint8_t *>(std::malloc(bytes.empty() ? 1 : bytes.size()));
    if (!bytes.empty()) std::memcpy(block, bytes.data(), bytes.size());
    return std::unique_ptr<uint8_t, FreeDeleter>(block);
}

ObjectParams Decode(const std::vector<uint8_t> &bytes) {
    auto body = ExactCopy(bytes);
    ObjectParams params{};
    EXPECT_TRUE(DecodeObjectParams(body.get(), static_cast<uint32_t>(bytes.size()), &params));
    return params;
}

std::vector<uint8_t> Header(uint8_t code, uint32_t length) {
    return {code, uint8_t(length), uint8_t(length >> 8), uint8_t(length >> 16), uint8_t(length >> 24)};
}

std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t> &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

TEST(BodyDecoding, FillsEveryFieldAndCopiesTheXmlBodyWithATerminator) {
    LogCapture log;
    std::vector<uint8_t> body = Body({{PAR_NAME, "report.txt"},
                                      {PAR_TYPE, "text/plain"},
                                      {PAR_TYPE, "x-obex/file"},
                                      {PAR_APP_FILEPATH, "\\My Documents"},
                                      {PAR_APP_MEMTYPE, "PHONE"},
                                      {PAR_APP_ID, "1a2b"},
                                      {PAR_APP_GROUP, "friends"},
                                      {0x7E, "unknown"},
                                      {PAR_XMLBODY, "NAME=x||TEL=1"}});
    ObjectParams params = Decode(body);
    EXPECT_STREQ(params.name, "report.txt");
    EXPECT_STREQ(params.type, "x-obex/file");  // the second PAR_TYPE wins
    EXPECT_STREQ(params.filePath, "\\My Documents");
    EXPECT_STREQ(params.memType, "PHONE");
    EXPECT_STREQ(params.id, "1a2b");
    EXPECT_STREQ(params.group, "friends");
    ASSERT_NE(params.body, nullptr);
    EXPECT_EQ(params.bodyLength, 13u);
    EXPECT_STREQ(params.body, "NAME=x||TEL=1");
    EXPECT_FALSE(params.nameCut || params.typeCut || params.filePathCut || params.idCut);
    FreeObjectParams(&params);
    EXPECT_EQ(params.body, nullptr);

    // Each line carries the body length and the offset just past the value.
    EXPECT_TRUE(log.Contains("PAR_NAME " + std::to_string(body.size()) + ",15"));
    EXPECT_TRUE(log.Contains("PAR_TYPE " + std::to_string(body.size()) + ",30"));
}

TEST(BodyDecoding, CutsLongValuesToTheirFieldAndFlagsThem) {
    std::string longName(300, 'n');
    std::string exactId(31, 'i');
    ObjectParams params = Decode(Body({{PAR_NAME, longName},
                                       {PAR_TYPE, std::string(64, 't')},
                                       {PAR_APP_FILEPATH, std::string(256, 'p')},
                                       {PAR_APP_ID, exactId},
                                       {PAR_APP_GROUP, std::string(500, 'g')}}));
    EXPECT_EQ(std::string(params.name), longName.substr(0, 127));
    EXPECT_TRUE(params.nameCut);
    EXPECT_EQ(std::strlen(params.type), 63u);
    EXPECT_TRUE(params.typeCut);
    EXPECT_EQ(std::strlen(params.filePath), 255u);
    EXPECT_TRUE(params.filePathCut);
    EXPECT_EQ(std::string(params.id), exactId);  // 31 characters fit whole
    EXPECT_FALSE(params.idCut);
    EXPECT_EQ(std::strlen(params.group), 127u);
}

TEST(BodyDecoding, StopsAtAParameterThatOverrunsTheBody) {
    // A good name, then a type whose length claims more than is left.
    std::vector<uint8_t> body = Concat(Body({{PAR_NAME, "a"}}), Header(PAR_TYPE, 1000));
    body.push_back('x');
    ObjectParams params = Decode(body);
    EXPECT_STREQ(params.name, "a");
    EXPECT_STREQ(params.type, "");

    // A length of 0xFFFFFFFF must not wrap any offset arithmetic.
    params = Decode(Concat(Header(PAR_XMLBODY, 0xFFFFFFFFu), {'a', 'b'}));
    EXPECT_EQ(params.body, nullptr);

    // Fewer bytes than one parameter header, and zero codes, decode to nothing.
    params = Decode({PAR_NAME, 3, 0});
    EXPECT_STREQ(params.name, "");
    params = Decode({0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_STREQ(params.name, "");
    params = Decode({});
    EXPECT_STREQ(params.name, "");
}

TEST(ListingDecoding, FillsTheListingRecordAndLogsTheWalk) {
    LogCapture log;
    std::vector<uint8_t> bytes = Body({{PAR_TYPE, "x-obex/folder-listing"},
                                       {PAR_TARGET, "target"},
                                       {PAR_APP_SEARCH, std::string(300, 's')},
                                       {PAR_APP_TIMEOUT, "30"}});
    auto body = ExactCopy(bytes);
    ListingParams params{};
    EXPECT_EQ(ParseListingParams(body.get(), uint32_t(bytes.size()), &params), 1);
    EXPECT_STREQ(params.type, "x-obex/folder-listing");
    EXPECT_STREQ(params.target, "target");
    EXPECT_EQ(std::strlen(params.search), 255u);
    EXPECT_STREQ(params.timeout, "30");
    const std::string length = std::to_string(bytes.size());
    EXPECT_TRUE(log.Contains("parse CBS Info " + length + ": body length"));
    EXPECT_TRUE(log.Contains("nParamSize:21"));
    EXPECT_TRUE(log.Contains("PAR_TYPE " + length + ",5"));  // the offset where the value starts

    ListingParams none{};
    EXPECT_EQ(ParseListingParams(nullptr, 0, &none), 0);
    EXPECT_TRUE(log.Contains("Parse CBS pBody is NULL"));

    // A timeout value of 16 bytes or more is cut, never overrun.
    std::vector<uint8_t> longTimeout = Concat(Body({{PAR_APP_TIMEOUT, std::string(40, '9')}}), Header(PAR_TYPE, 9));
    auto cut = ExactCopy(longTimeout);
    ListingParams cutParams{};
    EXPECT_EQ(ParseListingParams(cut.get(), uint32_t(longTimeout.size()), &cutParams), 1);
    EXPECT_EQ(std::strlen(cutParams.timeout), 15u);
    EXPECT_STREQ(cutParams.type, "");
}

TEST(Packets, CopiesCarryTheirOwnBodyWithOneZeroByteMore) {
    std::vector<uint8_t> bytes = Body({{PAR_TYPE, "x-obex/folder-listing"}});
    ASSERT_EQ(bytes.size(), 26u);
    auto body = ExactCopy(bytes);
    AgentPacket request{};
    request.tid = 77;
    request.uid = 5;
    request.leading[0] = 0xAB;
    request.trailing[131] = 0xCD;
    request.pBody = body.get();
    request.nBodyLength = 26;

    AgentPacket *copy = CopyPacketWithBody(&request);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy->pBody, request.pBody);
    EXPECT_EQ(copy->nBodyLength, 26u);
    EXPECT_EQ(std::memcmp(copy->pBody, bytes.data(), 26), 0);
    EXPECT_EQ(copy->pBody[26], 0);
    EXPECT_EQ(copy->tid, 77u);
    EXPECT_EQ(copy->leading[0], 0xAB);
    EXPECT_EQ(copy->trailing[131], 0xCD);

    AgentPacket *bare = CopyPacketWithoutBody(copy);
    EXPECT_EQ(bare->pBody, nullptr);
    EXPECT_EQ(bare->nBodyLength, 0u);
    EXPECT_EQ(bare->uid, 5u);

    // The connect failure body: 0x05, length 8, "7FFFFFFF".
    ASSERT_TRUE(SetSingleParameterBody(bare, PAR_ERRCODE, "7FFFFFFF", 8));
    EXPECT_EQ(bare->nBodyLength, 13u);
    const uint8_t expected[13] = {0x05, 8, 0, 0, 0, '7', 'F', 'F', 'F', 'F', 'F', 'F', 'F'};
    EXPECT_EQ(std::memcmp(bare->pBody, expected, 13), 0);
    FreePacket(bare);
    FreePacket(copy);

    // A length claimed without a body block copies as an empty body.
    AgentPacket lying{};
    lying.nBodyLength = 50;
    AgentPacket *safe = CopyPacketWithBody(&lying);
    ASSERT_NE(safe, nullptr);
    EXPECT_EQ(safe->nBodyLength, 0u);
    ASSERT_NE(safe->pBody, nullptr);
    FreePacket(safe);
}

TEST(PacketDump, WritesHeaderAndOneLinePerParameter) {
    LogCapture log;
    std::vector<uint8_t> bytes = Body({{PAR_TYPE, "x-obex/file"},
                                       {PAR_APP_FLAGS, std::vector<uint8_t>{2}},
                                       {PAR_APP_RANGE, std::vector<uint8_t>{1, 0, 0, 0, 9, 0, 0, 0, 8, 0, 0, 0}},
                                       {PAR_APP_COUNT, std::vector<uint8_t>{7, 0, 0, 0}},
                                       {PAR_XMLBODY, std::string(100, 'x')}});
    auto body = ExactCopy(bytes);
    AgentPacket packet{};
    packet.command = CMD_GET;
    packet.subCommand = 4;
    packet.tid = 12;
    packet.nStatus = ST_OK;
    packet.versionMajor = 1;
    packet.versionMinor = 2;
    packet.sess = 0xAB;
    packet.uid = 3;
    packet.pBody = body.get();
    packet.nBodyLength = uint32_t(bytes.size());
    DumpPacket(EVT_DLL_TO_AGENT, &packet);

    std::vector<std::string> expected = {
        std::string(51, '='),
        "DLL=>Agent GET(0x3) TID:12 SubC:0x4 St:0x20 Len:" + std::to_string(bytes.size()) + " ",
        "  V:1.02 APP:0 MGT:0 CMDT:0 Sess:0xAB TP:0 UID:3",
        std::string(50, '-'),
        "\t CODE\tLEN\tDATA",
        "\t 0x42\t11\tx-obex/file",
        "\t 0x62\t\t1\t0x2",
        "\t 0x63\t12\tDATA[START:1 END:9 Size:8]",
        "\t 0x6a\t4\t7",
        "\t 0x48\t100 XMLBODY",
        std::string(51, '='),
    };
    EXPECT_EQ(log.Lines(), expected);
}

TEST(PacketDump, ReportsCorruptBodiesWithoutReadingPastThem) {
    LogCapture log;
    AgentPacket packet{};
    packet.command = 0x304;

    // Second parameter claims 10 bytes where 3 are left: the walk stops.
    std::vector<uint8_t> overrun = Concat(Body({{PAR_NAME, "abcdefghij"}}), Header(PAR_TYPE, 10));
    overrun.insert(overrun.end(), {'x', 'y', 'z'});
    auto overrunBody = ExactCopy(overrun);
    packet.pBody = overrunBody.get();
    packet.nBodyLength = uint32_t(overrun.size());
    DumpPacket(EVT_AGENT_TO_DLL, &packet);
    EXPECT_TRUE(log.Contains("TotalParam Size:30 BODYSIZE:23 Packet Info Corrupted.Check!!"));

    // A length beyond the whole body, and a flags byte of length 2.
    std::vector<uint8_t> huge = Header(PAR_NAME, 0x7FFFFFFF);
    auto hugeBody = ExactCopy(huge);
    packet.pBody = hugeBody.get();
    packet.nBodyLength = 5;
    DumpPacket(EVT_AGENT_TO_DLL, &packet);
    EXPECT_TRUE(log.Contains("ParamCode:0x1 ParamLen:2147483647"));

    std::vector<uint8_t> flags = Body({{PAR_APP_FLAGS, std::vector<uint8_t>{1, 2}}, {PAR_NAME, "after"}});
    auto flagsBody = ExactCopy(flags);
    packet.pBody = flagsBody.get();
    packet.nBodyLength = uint32_t(flags.size());
    DumpPacket(EVT_AGENT_TO_DLL, &packet);

    // Three bytes that are not a whole header, and a zero code.
    std::vector<uint8_t> stub = {PAR_NAME, 1, 0};
    auto stubBody = ExactCopy(stub);
    packet.pBody = stubBody.get();
    packet.nBodyLength = 3;
    DumpPacket(EVT_AGENT_TO_DLL, &packet);
    std::vector<uint8_t> zero = {0, 0, 0, 0, 0};
    auto zeroBody = ExactCopy(zero);
    packet.pBody = zeroBody.get();
    packet.nBodyLength = 5;
    DumpPacket(EVT_AGENT_TO_DLL, &packet);

    std::vector<std::string> lines = log.Lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "End of Param !!"), lines.end());
    EXPECT_EQ(std::find(lines.begin(), lines.end(), "\t 0x1\t5\tafter"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Agent=>DLL UnSupported(0x304) TID:0 SubC:0x0 St:0x0 Len:5 "),
              lines.end());
}

TEST(PacketDump, TransferChunksSkipTheHeader) {
    LogCapture log;
    std::vector<uint8_t> bytes = Body({{PAR_LENGTH, "65535"}});
    auto body = ExactCopy(bytes);
    AgentPacket packet{};
    packet.command = CMD_PUT;
    packet.nStatus = ST_CONTINUE;
    packet.pBody = body.get();
    packet.nBodyLength = uint32_t(bytes.size());
    DumpPacket(EVT_DLL_TO_AGENT, &packet);
    std::vector<std::string> expected = {std::string(50, '-'), "\t CODE\tLEN\tDATA", "\t 0xc3\t5\t65535",
                                         std::string(51, '=')};
    EXPECT_EQ(log.Lines(), expected);
    EXPECT_STREQ(CommandDumpName(CMD_NOTI), "CMD NOTI");
    EXPECT_STREQ(CommandDumpName(0x304), "UnSupported");
}

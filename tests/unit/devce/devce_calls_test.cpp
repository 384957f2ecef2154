// The other DevCe wrappers against a fake server: request layouts, the three
// success rules, and the refusals made before anything is sent.
#include <gtest/gtest.h>

#include <cstring>

#include "fake_server.h"
#include "pim/pim.h"

namespace {

using DevCeCallsTest = FakeServerTest;

std::vector<uint8_t> Slice(const std::vector<uint8_t> &bytes, size_t offset, size_t size) {
    return std::vector<uint8_t>(bytes.begin() + static_cast<ptrdiff_t>(offset),
                                bytes.begin() + static_cast<ptrdiff_t>(offset + size));
}

TEST_F(DevCeCallsTest, MountSendsFlagsNameAndOptionalOptions) {
    std::vector<uint8_t> guid(16);
    for (uint8_t i = 0; i < 16; ++i) guid[i] = static_cast<uint8_t>(0xA0 + i);
    Answer(0, guid);
    CeGuid volume{};
    ASSERT_TRUE(DevCeMountDBVolEx(&volume, CE_TEXT("\\pim.vol"), nullptr, 0x80000003u));
    EXPECT_EQ(std::vector<uint8_t>(volume.bytes, volume.bytes + 16), guid);
    const std::vector<uint8_t> &request = server().request;
    ASSERT_EQ(request.size(), 528u);
    EXPECT_EQ(Slice(request, 0, 4), Hex("03 00 00 80"));
    std::vector<uint8_t> name;
    PutWide(name, u"\\pim.vol");
    EXPECT_EQ(Slice(request, 4, name.size()), name);
    EXPECT_EQ(Slice(request, 524, 4), Hex("00 00 00 00"));

    uint8_t options[112];
    std::memset(options, 0x5A, sizeof options);
    ASSERT_TRUE(DevCeMountDBVolEx(&volume, CE_TEXT("\\pim.vol"), options, 3));
    ASSERT_EQ(server().request.size(), 640u);
    EXPECT_NE(Slice(server().request, 524, 4), Hex("00 00 00 00"));
    EXPECT_EQ(server().request[639], 0x5A);

    Answer(0, Hex("01 02 03"));  // not a volume identifier
    EXPECT_FALSE(DevCeMountDBVolEx(&volume, CE_TEXT("\\pim.vol"), nullptr, 3));
    EXPECT_EQ(platform::GetLastError(), 13u);
}

TEST_F(DevCeCallsTest, LongNamesAreCutToTheirFieldWithAZero) {
    std::u16string longName(300, u'n');
    Answer(0, Hex("01 00 00 00"));
    CEOID oid = 0x42;
    EXPECT_EQ(DevCeOpenDatabaseInSession(9, nullptr, &oid, reinterpret_cast<const WCHAR *>(longName.c_str()), nullptr,
                                         1, nullptr),
              1u);
    const std::vector<uint8_t> &request = server().request;
    ASSERT_EQ(request.size(), 704u);
    EXPECT_EQ(Slice(request, 0, 4), Hex("09 00 00 00"));
    EXPECT_EQ(Slice(request, 20, 4), Hex("42 00 00 00"));
    EXPECT_EQ(Slice(request, 24 + 258 * 2, 4), Hex("6e 00 00 00")) << "259 characters, then the zero";
    EXPECT_EQ(Slice(request, 680, 4), Hex("01 00 00 00"));
}

TEST_F(DevCeCallsTest, SizeJudgedCallsFailOnTheWrongLength) {
    Answer(0, Hex("05 00 00 00 06 00 00 00"));
    DWORD index = 0;
    EXPECT_EQ(DevCeSeekDatabaseEx(4, 2, 1, 1, &index), 5u);
    EXPECT_EQ(index, 6u);
    EXPECT_EQ(server().request, Hex("04 00 00 00 02 00 00 00 01 00 00 00 01 00 00 00"));

    Answer(0, Hex("05 00 00 00"));
    EXPECT_EQ(DevCeSeekDatabaseEx(4, 2, 1, 1, &index), 0u);
    EXPECT_EQ(platform::GetLastError(), 13u);

    Answer(0, Hex("aa bb cc dd"));
    CeGuid volume{};
    volume.bytes[0] = 7;
    EXPECT_EQ(DevCeCreateSession(&volume), 0xDDCCBBAAu);
    EXPECT_EQ(server().request.size(), 16u);
    EXPECT_EQ(server().request[0], 7);
    Answer(87);
    EXPECT_EQ(DevCeCreateSession(&volume), kInvalidDevHandle);
    EXPECT_EQ(platform::GetLastError(), 87u);
}

TEST_F(DevCeCallsTest, EnumerationEndsWithZeroAndTheDeviceCode) {
    Answer(0, Hex("00 01 00 00"));
    EXPECT_EQ(DevCeFindNextDatabaseEx(0x55, nullptr), 0x100u);
    EXPECT_EQ(server().request, Hex("55 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"));
    Answer(259);
    EXPECT_EQ(DevCeFindNextDatabaseEx(0x55, nullptr), 0u);
    EXPECT_EQ(platform::GetLastError(), 259u);
}

TEST_F(DevCeCallsTest, ChangeLocaleAlwaysSetsTheLastError) {
    platform::SetLastError(77);
    Answer(0);
    DevCeChangeDatabaseLCID(nullptr, 1042);
    EXPECT_EQ(platform::GetLastError(), 0u);
    EXPECT_EQ(Slice(server().request, 16, 4), Hex("12 04 00 00"));
    Answer(6);
    DevCeChangeDatabaseLCID(nullptr, 1042);
    EXPECT_EQ(platform::GetLastError(), 6u);
}

TEST_F(DevCeCallsTest, RefusalsSendNothing) {
    uint8_t spec[20] = {};
    EXPECT_FALSE(DevCeAddDatabaseProps(nullptr, 1, 0, spec));
    EXPECT_EQ(platform::GetLastError(), 87u);
    EXPECT_FALSE(DevCeAddDatabaseProps(nullptr, 1, 1, nullptr));
    EXPECT_FALSE(DevCeGetDBInformationByHandle(1, nullptr));
    EXPECT_EQ(platform::GetLastError(), 87u);
    DWORD read = 0;
    EXPECT_FALSE(DevCeStreamRead(1, nullptr, 10, &read));
    EXPECT_EQ(platform::GetLastError(), 87u);
    EXPECT_EQ(server().calls, 0);
}

TEST_F(DevCeCallsTest, AddDatabasePropsSendsPropspecsAndNameSlots) {
    uint8_t specs[40] = {};
    specs[4] = 0x1f;
    specs[24] = 0x03;
    Answer(0);
    EXPECT_TRUE(DevCeAddDatabaseProps(nullptr, 0x100, 2, specs));
    ASSERT_EQ(server().request.size(), 28u + 276u * 2);
    EXPECT_EQ(Slice(server().request, 16, 12), Hex("00 01 00 00 02 00 00 00 01 00 00 00"));
    EXPECT_EQ(server().request[28 + 4], 0x1f);
    EXPECT_EQ(server().request[48 + 4], 0x03);
}

TEST_F(DevCeCallsTest, StreamsCheckTheCountsTheyAreGiven) {
    EXPECT_EQ((DecCeStreamSaveChanges(3), server().function), u"DecCeStreamSaveChanges");

    uint8_t buffer[4] = {};
    DWORD read = 0;
    Answer(0, Hex("03 00 00 00 61 62 63"));
    EXPECT_TRUE(DevCeStreamRead(3, buffer, 4, &read));
    EXPECT_EQ(read, 3u);
    EXPECT_EQ(std::memcmp(buffer, "abc", 3), 0);
    EXPECT_EQ(server().request, Hex("03 00 00 00 04 00 00 00"));

    Answer(0, Hex("09 00 00 00 61 62 63"));  // claims more than it carries
    EXPECT_FALSE(DevCeStreamRead(3, buffer, 4, &read));
    Answer(0, Hex("05 00 00 00 61 62 63 64 65"));  // more than the buffer holds
    EXPECT_FALSE(DevCeStreamRead(3, buffer, 4, &read));
    Answer(0);  // judged by presence: an empty answer fails
    EXPECT_FALSE(DevCeStreamRead(3, buffer, 4, &read));

    const uint8_t data[3] = {1, 2, 3};
    DWORD written = 0;
    Answer(0, Hex("03 00 00 00"));
    EXPECT_TRUE(DevCeStreamWrite(3, data, 3, &written));
    EXPECT_EQ(written, 3u);
    EXPECT_EQ(server().request, Hex("03 00 00 00 03 00 00 00 01 02 03"));
}

TEST_F(DevCeCallsTest, EnumVolumesChecksTheNameAgainstBothBuffers) {
    std::vector<uint8_t> response(16, 0x11);
    PutWide(response, u"\\pim.vol");
    Answer(0, response);
    CeGuid volume{};
    WCHAR name[16];
    ASSERT_TRUE(DevCeEnumDBVolumes(&volume, name, 16));
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t *>(name)), u"\\pim.vol");
    EXPECT_EQ(volume.bytes[15], 0x11);
    EXPECT_FALSE(DevCeEnumDBVolumes(&volume, name, 4));
    EXPECT_EQ(platform::GetLastError(), 122u);

    std::vector<uint8_t> unterminated(16, 0x11);
    PutU16(unterminated, 'x');
    Answer(0, unterminated);
    WCHAR tiny[1];
    EXPECT_FALSE(DevCeEnumDBVolumes(&volume, tiny, 1));
}

TEST_F(DevCeCallsTest, PhoneNumberIsCutToThirtyOneCharactersOrReportedOnStdout) {
    std::vector<uint8_t> response;
    PutWide(response, std::u16string(40, u'7'));
    Answer(0, response);
    char number[32];
    std::memset(number, 'x', sizeof number);
    ASSERT_TRUE(DevCeGetPhoneNumber(number));
    EXPECT_EQ(std::string(number), std::string(31, '7'));
    EXPECT_TRUE(server().request.empty());

    Answer(static_cast<HRESULT>(0x80004005u));
    testing::internal::CaptureStdout();
    EXPECT_FALSE(DevCeGetPhoneNumber(number));
    const uint32_t error = platform::GetLastError();  // before the capture's own file calls
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Could not get Min information!\r\n");
    EXPECT_EQ(error, 0x80004005u);
    EXPECT_EQ(std::string(number), "");
}

}  // namespace

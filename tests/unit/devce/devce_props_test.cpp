// The property operations byte for byte against a fake server: the write request's
// property area, the read's destination rules, and responses that lie.
#include <gtest/gtest.h>

#include <cstring>

#include "fake_server.h"
#include "pim/pim.h"

namespace {

constexpr CEPROPID kCallType = (0x0004u << 16) | CEVT_I4;
constexpr CEPROPID kPicture = (0x00ABu << 16) | CEVT_BLOB;
constexpr uint32_t kInvalidData = 13;

// A read response: record id, count, then the wire values and data given.
std::vector<uint8_t> ReadResponse(uint32_t oid, uint16_t count, const std::vector<uint8_t> &area) {
    std::vector<uint8_t> bytes;
    PutU32(bytes, oid);
    PutU16(bytes, count);
    bytes.insert(bytes.end(), area.begin(), area.end());
    return bytes;
}

void PutWireValue(std::vector<uint8_t> &bytes, CEPROPID id, uint16_t length, uint32_t low, uint32_t high) {
    PutU32(bytes, id);
    PutU16(bytes, length);
    PutU16(bytes, 0);
    PutU32(bytes, low);
    PutU32(bytes, high);
}

// Two values, a string "hi" and an integer, as a server sends them.
std::vector<uint8_t> StringAndNumberArea() {
    std::vector<uint8_t> area;
    PutWireValue(area, kFirstName, 2, 32, 0);
    PutWireValue(area, kCallType, 0, 2053, 0);
    PutWide(area, u"hi");
    return area;
}

using DevCePropsTest = FakeServerTest;

TEST_F(DevCePropsTest, WriteSendsThePropertyAreaWithOffsets) {
    WCHAR name[] = CE_TEXT("abcd");
    uint8_t blob[10];
    for (uint8_t i = 0; i < 10; ++i) blob[i] = i;
    CePropVal values[3] = {};
    values[0].propid = kFirstName;
    values[0].wLenData = 4;
    values[0].val.lpwstr = name;
    values[1].propid = kCallType;
    values[1].wLenData = 4;
    values[1].val.lVal = 0x12345678;
    values[2].propid = kPicture;
    values[2].wLenData = 10;
    values[2].val.blob.dwCount = 10;
    values[2].val.blob.lpb = blob;
    Answer(0, Hex("2a 00 01 00"));

    EXPECT_EQ(DevCeWriteRecordProps(0x1234, 0, 3, values), 0x1002Au);

    EXPECT_EQ(server().library, u"Tobrann");
    EXPECT_EQ(server().function, u"DevCeWriteRecordProps");
    const std::vector<uint8_t> golden =
        Hex("34 12 00 00  00 00 00 00  03 00  44 00 00 00"       // handle, record 0, n = 3, L = 68
            "1f 00 82 00  04 00 00 00  30 00 00 00 00 00 00 00"  // string at offset 48
            "03 00 04 00  04 00 00 00  78 56 34 12 00 00 00 00"  // the integer as it is
            "41 00 ab 00  0a 00 00 00  0a 00 00 00 3a 00 00 00"  // 10 bytes at offset 58
            "61 00 62 00 63 00 64 00 00 00"                      // "abcd" and its zero
            "00 01 02 03 04 05 06 07 08 09");
    EXPECT_EQ(server().request.size(), 82u);
    EXPECT_EQ(server().request, golden);
}

TEST_F(DevCePropsTest, WriteJudgesBySizeAndRefusesUnsendableStrings) {
    CePropVal value{};
    value.propid = kCallType;
    Answer(0, Hex("01 02 03"));  // three bytes are no record id, whatever the code says
    EXPECT_EQ(DevCeWriteRecordProps(1, 0, 1, &value), 0u);
    EXPECT_EQ(platform::GetLastError(), kInvalidData);

    Answer(5);
    EXPECT_EQ(DevCeWriteRecordProps(1, 0, 1, &value), 0u);
    EXPECT_EQ(platform::GetLastError(), 5u);

    const int callsBefore = server().calls;
    value.propid = kFirstName;
    value.val.lpwstr = nullptr;
    EXPECT_EQ(DevCeWriteRecordProps(1, 0, 1, &value), 0u);
    EXPECT_EQ(platform::GetLastError(), 0x80070057u);
    EXPECT_EQ(server().calls, callsBefore) << "nothing may be sent for a missing string";
}

TEST_F(DevCePropsTest, ReadOfSixBytesIsARecordWithoutProperties) {
    Answer(0, ReadResponse(0x77, 0, {}));
    uint16_t count = 5;
    uint8_t *buffer = nullptr;
    DWORD size = 99;
    EXPECT_EQ(DevCeReadRecordPropsEx(3, 1, &count, nullptr, &buffer, &size, nullptr), 0x77u);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(buffer, nullptr);
    // handle, flags, the caller's size, n = 0 (no identifier array), zero.
    EXPECT_EQ(server().request, Hex("03 00 00 00 01 00 00 00 63 00 00 00 00 00 00 00"));
    EXPECT_EQ(server().function, u"DevCeReadRecordPropsEx");
}

TEST_F(DevCePropsTest, ReadIntoALargeEnoughBufferKeepsThePointer) {
    Answer(0, ReadResponse(0x10001, 2, StringAndNumberArea()));
    uint8_t *buffer = static_cast<uint8_t *>(platform::LocalAllocZeroed(512));
    uint8_t *const original = buffer;
    DWORD size = 512;
    uint16_t count = 0;
    ASSERT_EQ(DevCeReadRecordPropsEx(3, 0, &count, nullptr, &buffer, &size, nullptr), 0x10001u);
    EXPECT_EQ(buffer, original);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(size, 2 * sizeof(CePropVal) + 6);  // the values, then "hi" and its zero
    const auto *values = reinterpret_cast<const CePropVal *>(buffer);
    EXPECT_EQ(values[0].propid, kFirstName);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t *>(values[0].val.lpwstr)), u"hi");
    EXPECT_GE(reinterpret_cast<const uint8_t *>(values[0].val.lpwstr), buffer);
    EXPECT_LT(reinterpret_cast<const uint8_t *>(values[0].val.lpwstr), buffer + size);
    EXPECT_EQ(values[1].val.lVal, 2053);
    platform::LocalFree(buffer);
}

TEST_F(DevCePropsTest, ReadReallocatesOnlyWhenAllowed) {
    uint8_t *buffer = static_cast<uint8_t *>(platform::LocalAllocZeroed(8));
    uint8_t *const small = buffer;
    DWORD size = 8;
    uint16_t count = 0;

    Answer(0, ReadResponse(0x10001, 2, StringAndNumberArea()));
    EXPECT_EQ(DevCeReadRecordPropsEx(3, 0, &count, nullptr, &buffer, &size, nullptr), 0u);
    EXPECT_EQ(platform::GetLastError(), 122u);
    EXPECT_EQ(buffer, small);
    EXPECT_EQ(size, 8u);

    // With flags 1 the small block is given back and a new one takes its place.
    EXPECT_EQ(DevCeReadRecordPropsEx(3, 1, &count, nullptr, &buffer, &size, nullptr), 0x10001u);
    EXPECT_EQ(size, 2 * sizeof(CePropVal) + 6);
    const auto *values = reinterpret_cast<const CePropVal *>(buffer);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t *>(values[0].val.lpwstr)), u"hi");
    platform::LocalFree(buffer);

    // No buffer at all: a fresh one when the flags are non-zero.
    buffer = nullptr;
    size = 0;
    EXPECT_EQ(DevCeReadRecordPropsEx(3, 1, &count, nullptr, &buffer, &size, nullptr), 0x10001u);
    ASSERT_NE(buffer, nullptr);
    platform::LocalFree(buffer);
}

// A string the device placed on an odd byte (after a three-byte blob) still reads as
// WCHARs: each string gets an even place in the caller's copy.
TEST_F(DevCePropsTest, ReadPutsEveryStringOnAnEvenByte) {
    std::vector<uint8_t> area;
    PutWireValue(area, kPicture, 3, 3, 48);
    PutWireValue(area, kFirstName, 2, 51, 0);
    PutWireValue(area, kCallType, 0, 7, 0);
    area.insert(area.end(), {0xAA, 0xBB, 0xCC});
    PutWide(area, u"hi");
    Answer(0, ReadResponse(0x10002, 3, area));
    uint8_t *buffer = nullptr;
    DWORD size = 0;
    uint16_t count = 0;
    ASSERT_EQ(DevCeReadRecordPropsEx(3, 1, &count, nullptr, &buffer, &size, nullptr), 0x10002u);
    EXPECT_EQ(size, 3 * sizeof(CePropVal) + 3 + 1 + 6);  // the blob, one byte of padding, "hi"
    const auto *values = reinterpret_cast<const CePropVal *>(buffer);
    EXPECT_EQ(std::vector<uint8_t>(values[0].val.blob.lpb, values[0].val.blob.lpb + 3),
              (std::vector<uint8_t>{0xAA, 0xBB, 0xCC}));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(values[1].val.lpwstr) % alignof(WCHAR), 0u);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t *>(values[1].val.lpwstr)), u"hi");
    EXPECT_EQ(values[2].val.lVal, 7);
    platform::LocalFree(buffer);
}

TEST_F(DevCePropsTest, ReadAsksForTheGivenIdentifiers) {
    Answer(259);
    const CEPROPID ids[2] = {kFirstName, kCallType};
    uint16_t count = 2;
    uint8_t *buffer = nullptr;
    DWORD size = 0;
    EXPECT_EQ(DevCeReadRecordPropsEx(7, 1, &count, ids, &buffer, &size, nullptr), 0u);
    EXPECT_EQ(platform::GetLastError(), 259u);
    EXPECT_EQ(server().request, Hex("07 00 00 00 01 00 00 00 00 00 00 00 02 00 00 00"
                                    "1f 00 82 00 03 00 04 00"));
}

TEST_F(DevCePropsTest, ResponsesThatDoNotHoldTogetherFailCleanly) {
    struct Case {
        const char *what;
        std::vector<uint8_t> response;
    };
    std::vector<Case> cases;
    cases.push_back({"shorter than its header", Hex("01 00 00 00 00")});
    {
        std::vector<uint8_t> area;
        PutWireValue(area, kCallType, 0, 1, 0);
        cases.push_back({"more values than bytes", ReadResponse(1, 2, area)});
    }
    {
        std::vector<uint8_t> area;
        PutWireValue(area, kFirstName, 0, 400, 0);
        PutWide(area, u"x");
        cases.push_back({"string offset past the area", ReadResponse(1, 1, area)});
    }
    {
        std::vector<uint8_t> area;
        PutWireValue(area, kFirstName, 0, 4, 0);
        PutWide(area, u"x");
        cases.push_back({"string offset inside the values", ReadResponse(1, 1, area)});
    }
    {
        std::vector<uint8_t> area;
        PutWireValue(area, kFirstName, 0, 16, 0);
        PutU16(area, 'a');
        PutU16(area, 'b');  // no zero before the end
        cases.push_back({"unterminated string", ReadResponse(1, 1, area)});
    }
    {
        // Aliased items would let a small answer cost a scan per value.
        std::vector<uint8_t> area;
        PutWireValue(area, kFirstName, 0, 32, 0);
        PutWireValue(area, kFirstName, 0, 32, 0);
        PutWide(area, u"x");
        cases.push_back({"two strings sharing their bytes", ReadResponse(1, 2, area)});
    }
    {
        std::vector<uint8_t> area;
        PutWireValue(area, kPicture, 0, 5, 16);
        PutU32(area, 0);
        cases.push_back({"blob running past the area", ReadResponse(1, 1, area)});
    }
    {
        std::vector<uint8_t> area;
        PutWireValue(area, kPicture, 0, 0xFFFFFFFFu, 0xFFFFFFF0u);
        cases.push_back({"blob whose end wraps around", ReadResponse(1, 1, area)});
    }
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Answer(0, c.response);
        uint16_t count = 9;
        uint8_t *buffer = nullptr;
        DWORD size = 0;
        EXPECT_EQ(DevCeReadRecordPropsEx(3, 1, &count, nullptr, &buffer, &size, nullptr), 0u);
        EXPECT_EQ(platform::GetLastError(), kInvalidData);
        EXPECT_EQ(buffer, nullptr);
        EXPECT_EQ(count, 9) << "a response that lies changes nothing";
    }
}

}  // namespace

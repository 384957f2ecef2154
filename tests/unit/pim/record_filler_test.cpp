// Device properties into the fixed-size records: which property lands in which
// field, and the cuts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "pim/pim.h"
#include "pim/pim_records.h"

namespace {

template <typename Record>
struct Owned {
    Owned(uint32_t kind, CEOID oid) : record(static_cast<Record *>(NewRecord(kind, oid))), filler{kind, record} {}
    ~Owned() { free(record); }
    Record *record;
    RecordFiller filler;
};

constexpr uint64_t kJune1st2009 = 128882880000000000ull;  // 2009-06-01 00:00:00
constexpr uint64_t kHour = 36000000000ull;

TEST(RecordFiller, ContactsShareTheNicknamePropertyAndCutLongValues) {
    Owned<ContactRecord> contact(KIND_CONTACTS, 6699);
    EXPECT_STREQ(contact.record->ID, "1a2b");
    EXPECT_EQ(RecordOid(KIND_CONTACTS, contact.record), 6699u);

    contact.filler.String(0x0086, "Nick");
    contact.filler.String(0x0082, std::string(100, 'f').c_str());
    contact.filler.String(0x0084, "Last");
    contact.filler.String(0x0080, "composed is never read");
    contact.filler.FileTime(0x00F0, kJune1st2009 + 10 * kHour);
    contact.filler.Int32(0x0004, 7);  // no such contact property
    EXPECT_STREQ(contact.record->NICKNAME, "Nick");
    EXPECT_STREQ(contact.record->GOVERNMENTID, "Nick");
    EXPECT_EQ(std::string(contact.record->FIRSTNAME), std::string(63, 'f'));
    EXPECT_STREQ(contact.record->LASTNAME, "Last");
    EXPECT_STREQ(contact.record->composedName, "");
    EXPECT_STREQ(contact.record->BIRTHDAY, "20090601T100000Z");
    EXPECT_STREQ(contact.record->ANNIVERSARY, "");
}

}  // namespace

// The item text in both directions: parsing what the agent sends, filling records
// from it, and the texts answered for one contact or appointment.
#include <gtest/gtest.h>

#include <string>

#include "pim/pim.h"
#include "pim/pim_records.h"
#include "support/support.h"

namespace {

struct Parsed {
    explicit Parsed(const char *text) { ParseItemText(text, &items); }
    ~Parsed() { FreeParsedItems(&items); }
    int Size() const { return items.GetSize(); }
    const ParsedItem &At(int i) const { return *static_cast<const ParsedItem *>(items.GetAt(i)); }
    PtrArray items;
};

TEST(ItemText, SkipsItemsWithoutEqualsAndKeepsEmptyHeadersAndValues) {
    Parsed edges("||noequals||EMPTY=||=v|");
    ASSERT_EQ(edges.Size(), 2);  // the item without '=' is skipped
    EXPECT_STREQ(edges.At(0).header, "EMPTY");
    EXPECT_STREQ(edges.At(0).value, "");
    EXPECT_STREQ(edges.At(1).header, "");
    EXPECT_STREQ(edges.At(1).value, "v");

    Parsed none(nullptr);
    EXPECT_EQ(none.Size(), 0);
}

TEST(ItemText, CutsHeaderAndValueToTheirFields) {
    std::string text = std::string(100, 'H') + "=" + std::string(5000, 'v');
    Parsed parsed(text.c_str());
    ASSERT_EQ(parsed.Size(), 1);
    EXPECT_EQ(std::string(parsed.At(0).header), std::string(63, 'H'));
    EXPECT_EQ(std::string(parsed.At(0).value), std::string(4095, 'v'));
}

TEST(ContactText, FillsKnownFieldsComposesTheNameAndReadsBack) {
    Parsed parsed(
        "FIRSTNAME=A||LASTNAME=B||MIDDLENAME=M||NOSUCH=1||MOBILETELEPHONENUMBER=0||"
        "MOBILETELEPHONENUMBER=1||firstname=z");
    ContactRecord record{};
    FillContactRecord(&parsed.items, &record);
    ComposeContactName(&record);
    EXPECT_STREQ(record.FIRSTNAME, "A");
    EXPECT_STREQ(record.LASTNAME, "B");
    EXPECT_STREQ(record.composedName, "BA");
    EXPECT_STREQ(record.MOBILETELEPHONENUMBER, "1");  // the later item wins

    // Name-table order, no ID and no composed name.
    COPY_FIELD(record.ID, "1a2b");
    COPY_FIELD(record.LASTNAME, "");
    std::string text = BuildContactText(record);
    EXPECT_EQ(text, "FIRSTNAME=A||MOBILETELEPHONENUMBER=1");
    EXPECT_EQ(text.size(), 36u);

    COPY_FIELD(record.BIRTHDAY, "19700101T000000Z");
    COPY_FIELD(record.TITLE, "Dr");
    EXPECT_EQ(BuildContactText(record), "BIRTHDAY=19700101T000000Z||FIRSTNAME=A||MOBILETELEPHONENUMBER=1||TITLE=Dr");
}

TEST(ContactText, ValuesAreCutToTheirFieldAndAFullContactIsCutAtAWholeItem) {
    std::string longName(100, 'f');
    std::string text = "FIRSTNAME=" + longName + "||LASTNAME=L";
    Parsed parsed(text.c_str());
    ContactRecord record{};
    FillContactRecord(&parsed.items, &record);
    EXPECT_EQ(std::string(record.FIRSTNAME), std::string(63, 'f'));
    EXPECT_STREQ(record.LASTNAME, "L");

    // A double-byte character never loses its second byte: 40 Hangul syllables in
    // CP949 (80 bytes) keep 31 of them in a 64-byte field.
    std::string hangul;
    for (int i = 0; i < 40; ++i) hangul += "\xB0\xA1";
    COPY_FIELD(record.FIRSTNAME, hangul.c_str());
    EXPECT_EQ(std::string(record.FIRSTNAME), hangul.substr(0, 62));

    // Every field filled to its width gives more than 4095 bytes.
    ContactRecord full{};
    for (int i = 0; i < kContactNameCount; ++i) {
        const ContactField &field = ContactFieldAt(i);
        if (field.width == 0) continue;
        CopyField(reinterpret_cast<char *>(&full) + field.offset, field.width, std::string(field.width, 'x').c_str());
    }
    std::string cut = BuildContactText(full);
    EXPECT_LE(cut.size(), 4095u);
    EXPECT_GT(cut.size(), 3000u);
    // Ends with a whole item: the last value is a full field of 'x'.
    size_t lastItem = cut.rfind("||") + 2;
    std::string lastName = cut.substr(lastItem, cut.find('=', lastItem) - lastItem);
    const ContactField *field = FindContactField(lastName.c_str());
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(cut.size() - cut.find('=', lastItem) - 1, field->width - 1);
}

TEST(AppointmentText, FillsFieldsWithTheWholeDayAndDurationRules) {
    Parsed parsed(
        "TITLE=Meeting||LOCATION=Room 1||WHOLEDAY=true||DURATION=90min||STARTTIME=20090601T100000Z||"
        "ENDTIME=20090601T113000Z||OTHER=1");
    AppointmentRecord record{};
    FillAppointmentRecord(&parsed.items, &record);
    EXPECT_STREQ(record.TITLE, "Meeting");
    EXPECT_STREQ(record.LOCATION, "Room 1");
    EXPECT_EQ(record.WHOLEDAY, 0);  // only "TRUE" counts
    EXPECT_EQ(record.DURATION, 90u);
    EXPECT_STREQ(record.STARTTIME, "20090601T100000Z");

    COPY_FIELD(record.ID, "2a");
    EXPECT_EQ(BuildAppointmentText(record),
              "TITLE=Meeting||LOCATION=Room 1||WHOLEDAY=FALSE||DURATION=90||STARTTIME=20090601T100000Z||"
              "ENDTIME=20090601T113000Z||ID=2a");

    AppointmentRecord wholeDay{};
    wholeDay.WHOLEDAY = 1;
    wholeDay.DURATION = 1440;
    EXPECT_EQ(BuildAppointmentText(wholeDay), "TITLE=||WHOLEDAY=TRUE");
    wholeDay.WHOLEDAY = 0;
    wholeDay.DURATION = 0;
    EXPECT_EQ(BuildAppointmentText(wholeDay), "TITLE=||WHOLEDAY=FALSE||DURATION=0");
}

TEST(TimeText, ReadsWhatItCanAndHasNoInstantWithoutADate) {
    // A time cut after the hour reads as that hour's first second.
    EXPECT_EQ(TimeTextToFileTime("20090601T10"), TimeTextToFileTime("20090601T100000Z"));
    EXPECT_EQ(TimeTextToFileTime("2009"), 0u);
    EXPECT_EQ(TimeTextToFileTime("garbage"), 0u);
    // 2009-06-01 00:00:00 is 12888288000 s after 1601-01-01.
    EXPECT_EQ(TimeTextToFileTime("20090601T000000Z"), 128882880000000000ull);
}

}  // namespace

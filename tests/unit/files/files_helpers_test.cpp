// The files/ helpers that decide what a request may touch: device path
// composition (refused, never cut), name checks, and the listing's time text.
#include <cstdlib>
#include <ctime>
#include <string>

#include <gtest/gtest.h>

#include "support/scoped_time_zone.h"

#include "files/files.h"
#include "support/support.h"

namespace {

struct FolderList {
    explicit FolderList(std::initializer_list<const char *> names) {
        for (const char *name : names) list.Add(const_cast<char *>(name));
    }
    PtrArray list;
};

std::string Compose(const PtrArray *folders, const char *name, bool leading, size_t size = files::kDevicePathSize) {
    char out[512];
    if (!files::ComposeDevicePath(folders, name, leading, out, size)) return "<refused:" + std::string(out) + ">";
    return out;
}

}  // namespace

TEST(FilesPaths, ComposesUploadDownloadAndDeleteForms) {
    EXPECT_EQ(Compose(nullptr, "a.txt", true), "\\a.txt");
    EXPECT_EQ(Compose(nullptr, "a.txt", false), "a.txt");
    EXPECT_EQ(Compose(nullptr, "", true), "\\");
    FolderList nested{"docs", "work"};
    EXPECT_EQ(Compose(&nested.list, "a.txt", true), "\\docs\\work\\a.txt");
    EXPECT_EQ(Compose(&nested.list, "a.txt", false), "docs\\work\\a.txt");
    EXPECT_EQ(Compose(&nested.list, "", true), "\\docs\\work\\");
    EXPECT_EQ(Compose(&nested.list, "*.*", true), "\\docs\\work\\*.*");
}

TEST(FilesPaths, RefusesAPathOneCharacterTooLongAndLeavesTheBufferEmpty) {
    const std::string folder(250, 'f');
    FolderList deep{folder.c_str()};
    // "\" + 250 + "\" + name + NUL must fit 260: a name of 7 fits, 8 does not.
    EXPECT_EQ(Compose(&deep.list, "1234567", true).size(), 259u);
    EXPECT_EQ(Compose(&deep.list, "12345678", true), "<refused:>");
    // Without the leading '\' the same name has one more character of room.
    EXPECT_EQ(Compose(&deep.list, "12345678", false).size(), 259u);
}

TEST(FilesPaths, PlainNamesAreOneComponentWithoutWildcards) {
    EXPECT_TRUE(files::IsPlainName("report.doc", false));
    EXPECT_TRUE(files::IsPlainName("My Documents", false));
    EXPECT_TRUE(files::IsPlainName("\xb9\xae\xbc\xad.txt", false));  // CP949 text
    EXPECT_TRUE(files::IsPlainName("", true));
    EXPECT_FALSE(files::IsPlainName("", false));
    for (const char *bad : {"a\\b", "a/b", "..", ".", "*.*", "a?c", "\\"}) {
        EXPECT_FALSE(files::IsPlainName(bad, true)) << bad;
    }
}

TEST(FilesPaths, LowerAsciiLeavesMultibyteBytesAlone) {
    char text[] = "DOCS\xB9\xAE-Z";
    files::LowerAscii(text);
    EXPECT_STREQ(text, "docs\xB9\xAE-z");
}

TEST(FilesListingTime, FollowsThePcTimeZoneIncludingDaylightSaving) {
    // 2010-03-05 00:07:03 UTC, 14:07:03 UTC, and 2010-07-01 13:07:03 UTC.
    constexpr uint64_t kMidnightUtc = 129122212230000000ull;
    constexpr uint64_t kAfternoonUtc = 129122716230000000ull;
    constexpr uint64_t kJulyUtc = 129224632230000000ull;
    {
        ScopedTimeZone seoul("KST-9");
        EXPECT_EQ(files::FormatListingTime(kMidnightUtc), "20100305T090703Z");
        EXPECT_EQ(files::FormatListingTime(kJulyUtc), "20100701T220703Z");
    }
    {
        ScopedTimeZone newYork("EST5EDT,M3.2.0,M11.1.0");
        EXPECT_EQ(files::FormatListingTime(kAfternoonUtc), "20100305T090703Z");
        EXPECT_EQ(files::FormatListingTime(kJulyUtc), "20100701T090703Z");      // EDT
        EXPECT_EQ(files::FormatListingTime(kMidnightUtc), "20100304T190703Z");  // previous day
    }
}

// The core's single operations in-process: what they refuse before anything is sent,
// the kind of each failure, and that a file lands whole or leaves both sides as they were.
#include <cstdlib>
#include <fstream>

#include "appointment_time.h"
#include "core_fixture.h"
#include "e2e/host/host_fixture.h"
#include "file_results.h"
#include "phone_operations.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>

#include "support/scoped_time_zone.h"
#endif

namespace fs = std::filesystem;

namespace {

using host::ErrorKind;
using host::Outcome;

class CoreOperations : public CoreSessionTest {
protected:
    void SetUp() override { ConnectOrFail(); }
    std::vector<std::string> Phone(const std::string &typed) { return m_session.ResolveDevicePath(typed); }
    Outcome Get(const std::string &typed, const fs::path &local, RecordingSink &sink) {
        host::FoundFile file;
        Outcome outcome = host::FindDownload(m_session.link, Phone(typed), &file);
        host::DownloadTarget target;
        if (outcome.ok) outcome = target.Prepare(local.string(), "");
        return outcome.ok ? host::DownloadFile(m_session.link, file, target, false, sink) : outcome;
    }
    Outcome Put(const fs::path &local, const std::string &typed, RecordingSink &sink) {
        host::UploadSource source;
        if (Outcome prepared = source.Prepare(local.string()); !prepared.ok) return prepared;
        std::vector<std::string> stored;
        return host::UploadFile(m_session.link, source, Phone(typed), "", sink, &stored);
    }
    Outcome Remove(const std::string &typed, bool recursive = false) {
        host::Removal removal;
        return host::RemovePhoneFiles(m_session.link, Phone(typed), recursive, &removal);
    }
    const fs::path m_pc = m_logs.path() / "pc";
    const fs::path m_documents = m_phone.fs() / "My Documents";
};

// Names and paths the phone or its link cannot take, and what must never be removed,
// are refused before anything changes.
TEST_F(CoreOperations, WhatCannotWorkIsBadInputAndChangesNothing) {
    fs::create_directories(m_pc);
    const fs::path unsayable = m_pc / u8"caf\u0175.txt";  // (in neither CP949 nor CP1252)
    WriteFileText(unsayable, "cafe");
    std::string deep;
    for (int i = 0; i < 5; ++i) deep += "/" + std::string(52, char('a' + i));  // 265 bytes
    RecordingSink sink;
    host::FoundFile found;
    const std::vector<std::pair<std::string, Outcome>> refused = {
        {"bad:name", host::MakePhoneFolder(m_session.link, Phone("/My Documents/bad:name"))},
        {"at most", host::MakePhoneFolder(m_session.link, Phone(deep))},
        {"65001", Put(unsayable, "/My Documents/" + unsayable.filename().string(), sink)},
        {"at most 127 bytes", Put(unsayable, "/My Documents/" + std::string(128, 'n'), sink)},
        {"name one file", host::FindDownload(m_session.link, Phone("/My Documents/*.txt"), &found)},
        {"", Remove("/Windows/*.exe")},
    };
    for (const char *typed : {"/*", "/", "/Windows", "\\WINDOWS", "/W*", "/?indows", "/Storage Card/../*"})
        EXPECT_EQ(Remove(typed, true).kind, ErrorKind::kBadInput) << typed;
    for (const auto &[said, outcome] : refused) {
        EXPECT_EQ(outcome.kind, ErrorKind::kBadInput) << said << ": " << outcome.message;
        EXPECT_NE(outcome.message.find(said), std::string::npos) << outcome.message;
    }
    EXPECT_FALSE(fs::exists(m_phone.fs() / std::string(52, 'a')));
    EXPECT_TRUE(fs::exists(m_phone.fs() / "Windows" / "wceload.exe"));
    EXPECT_TRUE(fs::exists(m_documents / "readme.txt"));
    EXPECT_TRUE(sink.started.empty());
}

// Each failure says what kind it is, and the phone's files stay as they were.
TEST_F(CoreOperations, FailuresCarryTheirKind) {
    std::vector<host::FolderEntry> entries;
    host::FoundFile found;
    std::string installed;
    EXPECT_EQ(host::ListPhonePath(m_session.link, Phone("/My Documents/none"), &entries).kind, ErrorKind::kNotFound);
    EXPECT_EQ(host::ListPhonePath(m_session.link, Phone("/My Documents/*.doc"), &entries).kind, ErrorKind::kNotFound);
    EXPECT_EQ(host::FindDownload(m_session.link, Phone("/My Documents/none.txt"), &found).kind, ErrorKind::kNotFound);
    EXPECT_EQ(host::FindDownload(m_session.link, Phone("/My Documents/Templates"), &found).kind,
              ErrorKind::kNotAFolder);
    EXPECT_EQ(host::InstallPhonePackage(m_session.link, Phone("/Storage Card/none.cab"), &installed).kind,
              ErrorKind::kNotFound);
    EXPECT_FALSE(fs::exists(m_phone.path() / "processes.log"));
    const Outcome inTheWay = host::MakePhoneFolder(m_session.link, Phone("/My Documents/readme.txt/sub"));
    EXPECT_EQ(inTheWay.kind, ErrorKind::kNotAFolder);
    EXPECT_NE(inTheWay.message.find("a file is in the way: \\My Documents\\readme.txt"), std::string::npos);

    // The phone refuses to change a read-only file, however it is named: refused, and
    // kept as it was, without a reason the host could not prove.
    const fs::path readme = m_documents / "readme.txt";
    const std::string before = ReadFileText(readme);
    fs::permissions(readme, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    WriteFileText(m_logs.path() / "new.txt", "new");
    RecordingSink sink;
    for (const Outcome &outcome : {Remove("/My Documents/readme.txt"), Remove("/My Documents/*.txt"),
                                   Put(m_logs.path() / "new.txt", "/My Documents/readme.txt", sink)}) {
        EXPECT_EQ(outcome.kind, ErrorKind::kPhoneRefused) << outcome.message;
        EXPECT_NE(outcome.message.find("the phone refused to change"), std::string::npos) << outcome.message;
        EXPECT_NE(outcome.message.find("it is as it was"), std::string::npos) << outcome.message;
    }
    EXPECT_EQ(ReadFileText(readme), before);

    Reconnect([](nlohmann::json &device) { device["stores"]["My Storage"]["freeToCaller"] = 1000; });
    WriteFileText(m_logs.path() / "big.bin", RandomBytes(5000));
    RecordingSink unstarted;
    const Outcome noRoom = Put(m_logs.path() / "big.bin", "/My Storage/큰 파일.txt", unstarted);
    EXPECT_EQ(noRoom.kind, ErrorKind::kNoRoomOnPhone);
    EXPECT_NE(noRoom.message.find("it needs 5000 bytes"), std::string::npos) << noRoom.message;
    EXPECT_NE(noRoom.message.find("1000 bytes free"), std::string::npos) << noRoom.message;
    EXPECT_TRUE(unstarted.started.empty());
    EXPECT_FALSE(fs::exists(m_phone.fs() / "My Storage" / u8"큰 파일.txt"));
}

// A copy that fails or is cancelled in the middle leaves the PC's file as it was and
// takes its partial file off the phone; a whole one is counted from the listing.
TEST_F(CoreOperations, OneFileLandsWholeOrNotAtAll) {
    fs::create_directories(m_pc);
    WriteFileText(m_pc / "keep.txt", "precious");
    WriteFileText(m_logs.path() / "big.bin", RandomBytes(1024 * 1024));
    Reconnect([](nlohmann::json &device) {
        device["faults"] = {{{"operation", "CeReadFile"}, {"nth", 2}, {"error", 5}},
                            {{"operation", "CeWriteFile"}, {"nth", 5}, {"error", 112}}};
    });
    RecordingSink failing;
    EXPECT_FALSE(Get("/My Documents/DSC_0001.jpg", m_pc / "keep.txt", failing).ok);
    EXPECT_EQ(failing.finished, 0);
    const Outcome put = Put(m_logs.path() / "big.bin", "/My Documents/big.bin", failing);
    EXPECT_NE(put.note.find("removed the partial file"), std::string::npos) << put.note;
    EXPECT_FALSE(fs::exists(m_documents / "big.bin"));

    RecordingSink cancelling;
    cancelling.onFile = [&](size_t) { m_interrupted = true; };
    EXPECT_EQ(Get("/My Documents/DSC_0001.jpg", m_pc / "keep.txt", cancelling).kind, ErrorKind::kInterrupted);
    m_interrupted = false;
    EXPECT_EQ(ReadFileText(m_pc / "keep.txt"), "precious");
    EXPECT_EQ(TreeOf(m_pc).size(), 1u);

    RecordingSink whole;
    ASSERT_TRUE(Get("/My Documents/DSC_0001.jpg", m_pc / "keep.txt", whole).ok);
    EXPECT_EQ(fs::file_size(m_pc / "keep.txt"), 150000u);
    EXPECT_EQ(whole.totalBytes, 150000u);
    EXPECT_EQ(whole.done, 150000u);
    EXPECT_EQ(TreeOf(m_pc).size(), 1u);
}

// Two users (each with a home of their own, so no lock between them) replace one
// phone file: the one whose upload failed finds the other's whole file there and
// leaves it, keeping its original on the PC; only its own cut file is replaced by
// the original.
TEST_F(CoreOperations, AFailedReplacePutsTheOriginalBackOverItsOwnCutOnly) {
    const fs::path same = m_documents / "same.txt";
    const std::string theirs(5000, 't');
    WriteFileText(m_logs.path() / "mine.bin", std::string(200000, 'm'));
    Reconnect([](nlohmann::json &device) {
        device["faults"] = {{{"operation", "CeWriteFile"}, {"nth", 2}, {"error", 31}},
                            {{"operation", "CeWriteFile"}, {"nth", 6}, {"error", 31}}};
    });
    for (const bool otherWriter : {true, false}) {
        WriteFileText(same, "original");
        // The other user's put lands once this one's has failed.
        m_session.link.beforeRequest = [&] {
            if (otherWriter && fs::exists(same) && fs::file_size(same) == 65535) WriteFileText(same, theirs);
        };
        RecordingSink sink;
        const Outcome put = Put(m_logs.path() / "mine.bin", "/My Documents/same.txt", sink);
        m_session.link.beforeRequest = nullptr;
        EXPECT_FALSE(put.ok);
        EXPECT_EQ(put.note.find("could not be put back"), std::string::npos) << put.note;
        EXPECT_EQ(ReadFileText(same), otherWriter ? theirs : "original") << put.note;
        if (!otherWriter) continue;
        EXPECT_NE(put.note.find("now holds a file of 5000 bytes"), std::string::npos) << put.note;
        const size_t at = put.note.find("kept on the PC at ");
        ASSERT_NE(at, std::string::npos) << put.note;
        EXPECT_EQ(ReadFileText(put.note.substr(at + 18)), "original");
    }
}

// Korean PC names go to the plug-in in the PC's code page; names it cannot spell
// (Thai) through a spool file, both ways. A phone name too long to fetch back is said.
TEST_F(CoreOperations, PcNamesInAnyScriptTransferBothWays) {
    const std::string readme = ReadFileText(m_documents / "readme.txt");
    for (const char *folderName : {"한글 폴더", "ภาษาไทย"}) {
        const fs::path folder = m_pc / Utf8Path(folderName);
        fs::create_directories(folder);
        RecordingSink sink;
        ASSERT_TRUE(Get("/My Documents/readme.txt", folder / u8"읽기.txt", sink).ok) << folderName;
        EXPECT_EQ(ReadFileText(folder / u8"읽기.txt"), readme) << folderName;
        ASSERT_TRUE(Put(folder / u8"읽기.txt", "/My Documents/back.txt", sink).ok) << folderName;
        EXPECT_EQ(ReadFileText(m_documents / "back.txt"), readme) << folderName;
        EXPECT_TRUE(sink.warnings.empty());
    }
    RecordingSink sink;
    ASSERT_TRUE(Put(m_documents / "readme.txt", "/My Documents/" + std::string(40, 'x'), sink).ok);
    ASSERT_EQ(sink.warnings.size(), 1u);
    EXPECT_NE(sink.warnings[0].find("at most 31 bytes"), std::string::npos) << sink.warnings[0];
}

#if !defined(_WIN32)
// A full PC disk is the PC's (no room on the PC), and a read-only folder a PC file
// error naming the file asked for. (Needs small file systems of its own: root.)
TEST_F(CoreOperations, PcDiskErrorsAreThePcs) {
    const fs::path full = m_logs.path() / "full", readOnly = m_logs.path() / "ro";
    fs::create_directories(full);
    fs::create_directories(readOnly);
    if (std::system(("mount -t tmpfs -o size=64k tmpfs '" + full.string() + "' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "cannot mount a small file system here";
    std::system(("mount -t tmpfs -o ro,size=64k tmpfs '" + readOnly.string() + "'").c_str());
    RecordingSink sink;
    const Outcome noRoom = Get("/My Documents/DSC_0001.jpg", full / "d.jpg", sink);
    const size_t left = TreeOf(full).size();
    host::DownloadTarget target;
    const Outcome refused = target.Prepare((readOnly / "r.txt").string(), "");
    std::system(("umount '" + full.string() + "' '" + readOnly.string() + "'").c_str());
    EXPECT_EQ(noRoom.kind, ErrorKind::kNoRoomOnPc);
    EXPECT_NE(noRoom.message.find((full / "d.jpg").string() + ": No space left on device"), std::string::npos)
        << noRoom.message;
    EXPECT_EQ(left, 0u);
    EXPECT_EQ(refused.kind, ErrorKind::kPcFile);
    EXPECT_NE(refused.message.find((readOnly / "r.txt").string() + ": Read-only file system"), std::string::npos)
        << refused.message;
}
#endif

// A listing's sizes are never negative; a package is found as the phone names it.
TEST_F(CoreOperations, ListingsAndInstallsReadThePhoneTrue) {
    const fs::path big = m_phone.fs() / "Storage Card" / "big.bin";
    { std::ofstream{big}; }
    fs::resize_file(big, uint64_t(3) << 30);  // sparse
    std::vector<host::FolderEntry> entries;
    ASSERT_TRUE(host::ListPhonePath(m_session.link, Phone("/Storage Card/big.bin"), &entries).ok);
    EXPECT_EQ(host::FolderEntryJson(entries.at(0))["size"], uint64_t(3) << 30);
    std::string installed;
    ASSERT_TRUE(host::InstallPhonePackage(m_session.link, Phone("/Storage Card/SETUP.CAB"), &installed).ok);
    EXPECT_EQ(installed, "\\Storage Card\\setup.cab");
    EXPECT_TRUE(fs::exists(m_phone.path() / "processes.log"));
}

}  // namespace

namespace {

// Phone times over the FILETIME's whole range (1601 to 30828, a five-digit year) read
// and shown without wrapping; other text is left as it is.
TEST(PhoneTimes, ListingStampsOverTheWholeRangeLocalTime) {
    const struct {
        const char *stamp, *shown, *utc;
    } table[] = {
        {"16010101T000000Z", "1601-01-01 00:00:00", "1601-01-01T00:00:00Z"},
        {"20100305T090703Z", "2010-03-05 09:07:03", "2010-03-05T09:07:03Z"},
        {"21850721T000000Z", "2185-07-21 00:00:00", "2185-07-21T00:00:00Z"},
        {"308280914T024805Z", "30828-09-14 02:48:05", "30828-09-14T02:48:05Z"},
        {"2010030T090703Z", "2010030T090703Z", nullptr},
        {"20100305X090703Z", "20100305X090703Z", nullptr},
        {"", "", nullptr},
    };
    for (const auto &row : table) {
        EXPECT_EQ(host::ListingTimeToLocal(row.stamp), row.shown) << row.stamp;
        host::Instant instant = 0;
        EXPECT_EQ(host::ParseStamp(row.stamp, false, &instant), row.utc != nullptr) << row.stamp;
        host::Instant local = 0;
        if (row.utc) {
            EXPECT_EQ(host::UtcIso(instant), row.utc) << row.stamp;
            EXPECT_TRUE(host::ParseStamp(row.stamp, true, &local)) << row.stamp;
        }
    }
}

#if !defined(_WIN32)
// A listing's time is the PC's wall clock with no offset. In the hour the clocks
// repeat it names two instants: the earlier is taken and the repetition said; in the
// hour they skip, the offset before the change. The same reading everywhere a phone
// file's time is used (get -p, the backup's manifest).
TEST(PhoneTimes, ListingStampsInAChangeOfOffset) {
    const struct {
        const char *zone, *stamp, *utc;
        bool repeated;
    } table[] = {
        {"EST5EDT,M3.2.0,M11.1.0", "20261101T003000Z", "2026-11-01T04:30:00Z", false},
        {"EST5EDT,M3.2.0,M11.1.0", "20261101T010000Z", "2026-11-01T05:00:00Z", true},
        {"EST5EDT,M3.2.0,M11.1.0", "20261101T015959Z", "2026-11-01T05:59:59Z", true},
        {"EST5EDT,M3.2.0,M11.1.0", "20261101T020000Z", "2026-11-01T07:00:00Z", false},
        {"EST5EDT,M3.2.0,M11.1.0", "20260308T015959Z", "2026-03-08T06:59:59Z", false},
        {"EST5EDT,M3.2.0,M11.1.0", "20260308T023000Z", "2026-03-08T07:30:00Z", false},  // skipped
        {"EST5EDT,M3.2.0,M11.1.0", "20260308T030000Z", "2026-03-08T07:00:00Z", false},
        {"<+1030>-10:30<+11>-11,M10.1.0,M4.1.0", "20260405T014500Z", "2026-04-04T14:45:00Z", true},  // half an hour
        {"<+1030>-10:30<+11>-11,M10.1.0,M4.1.0", "20260405T012959Z", "2026-04-04T14:29:59Z", false},
        {"KST-9", "20261101T013000Z", "2026-10-31T16:30:00Z", false},
    };
    for (const auto &row : table) {
        ScopedTimeZone zone(row.zone);
        host::Instant instant = 0;
        bool repeated = !row.repeated;
        ASSERT_TRUE(host::ParseStamp(row.stamp, true, &instant, &repeated)) << row.stamp;
        EXPECT_EQ(host::UtcIso(instant), row.utc) << row.zone << " " << row.stamp;
        EXPECT_EQ(repeated, row.repeated) << row.zone << " " << row.stamp;
        // A message's time (the same wall clock) claims an offset only where it is known.
        const std::string shown = host::StampText(row.stamp, true, true);
        EXPECT_EQ(shown.size() == std::string("2026-11-01T01:00:00").size(), row.repeated) << shown;
    }
}

// A phone file of 1601 keeps its time on the PC (the standard file clock wraps it).
TEST_F(CoreOperations, KeptTimesReachTheFiletimesEarliestYear) {
    const fs::path file = m_phone.fs() / "My Documents" / "old.txt";
    WriteFileText(file, "old");
    if (sizeof(time_t) < 8) GTEST_SKIP() << "this system's file times stop at 1901";
    const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(-11644473600LL), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    host::FoundFile found;
    ASSERT_TRUE(host::FindDownload(m_session.link, Phone("/My Documents/old.txt"), &found).ok);
    host::DownloadTarget target;
    const fs::path local = m_logs.path() / "old.txt";
    const Outcome prepared = target.Prepare(local.string(), "");
    ASSERT_TRUE(prepared.ok) << prepared.message;
    RecordingSink sink;
    Outcome outcome = host::DownloadFile(m_session.link, found, target, true, sink);
    ASSERT_TRUE(outcome.ok) << outcome.message;
    struct stat status {};
    ASSERT_EQ(::stat(local.c_str(), &status), 0);
    EXPECT_EQ(status.st_mtime, -11644473600LL);
}

// A phone file written in the hour the clocks repeat lists with a wall-clock time
// that names two instants: get -p gives the earlier and says so, naming the file.
TEST_F(CoreOperations, AKeptTimeInTheRepeatedHourIsSaid) {
    ScopedTimeZone zone("EST5EDT,M3.2.0,M11.1.0");
    const fs::path file = m_phone.fs() / "My Documents" / "twice.txt";
    WriteFileText(file, "twice");
    const struct timespec times[2] = {{0, UTIME_OMIT}, {1793514600, 0}};  // 01:30 EST, the second 01:30
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    host::FoundFile found;
    ASSERT_TRUE(host::FindDownload(m_session.link, Phone("/My Documents/twice.txt"), &found).ok);
    host::DownloadTarget target;
    const fs::path local = m_logs.path() / "twice.txt";
    ASSERT_TRUE(target.Prepare(local.string(), "").ok);
    RecordingSink sink;
    ASSERT_TRUE(host::DownloadFile(m_session.link, found, target, true, sink).ok);
    struct stat status {};
    ASSERT_EQ(::stat(local.c_str(), &status), 0);
    EXPECT_EQ(status.st_mtime, 1793514600 - 3600);  // the first 01:30 (EDT)
    ASSERT_EQ(sink.warnings.size(), 1u);
    EXPECT_NE(sink.warnings[0].find("twice.txt"), std::string::npos) << sink.warnings[0];
    EXPECT_NE(sink.warnings[0].find("2026-11-01 01:30:00"), std::string::npos) << sink.warnings[0];
}
#endif

}  // namespace

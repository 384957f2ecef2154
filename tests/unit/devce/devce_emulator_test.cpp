// The DevCe wrappers against the emulated phone through the real RAPI table: writes
// through the volume's journal that survive reopening the image and crashes, and an
// injected fault.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "fake_server.h"
#include "pim/pim.h"
#include "platform/platform.h"
#include "support/phone_copy.h"

namespace {

constexpr DWORD kOpenExisting = 0x80000003u;
constexpr DWORD kAutoIncrement = 1;
constexpr DWORD kSeekByOid = 1;
constexpr DWORD kAllowRealloc = 1;
constexpr CEPROPID kLastName = (0x0084u << 16) | CEVT_LPWSTR;

uint32_t U32At(const uint8_t *bytes) {
    uint32_t value;
    std::memcpy(&value, bytes, 4);
    return value;
}

struct DatabaseInfo {
    CEOID oid;
    std::u16string name;
    uint32_t type;
    uint32_t records;
};

// One record's string properties by identifier.
using Strings = std::map<CEPROPID, std::u16string>;

class DevCeEmulatorTest : public ::testing::Test {
protected:
    void SetUp() override {
        bool loaded = false;
        m_table = platform::LoadRapiTable(CEBRIDGE_TEST_EMULATOR, &loaded);
        ASSERT_TRUE(loaded);
        platform::OverrideRapiForTests(&m_table);
    }

    void TearDown() override {
        platform::LocalFree(m_buffer);
        m_table.CeRapiUninit();
        platform::OverrideRapiForTests(nullptr);
    }

    void Connect() {
        RAPIINIT init{sizeof init, nullptr, 0};
        ASSERT_EQ(m_table.CeRapiInitEx(&init), 0);
        platform::Event stop;
        ASSERT_EQ(platform::WaitForLink(init.heRapiInit, stop, 10000), platform::LinkWait::Signalled);
        ASSERT_EQ(init.hrRapiInit, 0);
    }

    void Reconnect() {
        m_table.CeRapiUninit();
        Connect();
    }

    void MountPim() {
        ASSERT_TRUE(DevCeMountDBVolEx(&m_volume, CE_TEXT("\\pim.vol"), nullptr, kOpenExisting));
        m_session = DevCeCreateSession(&m_volume);
        ASSERT_NE(m_session, kInvalidDevHandle);
    }

    std::vector<DatabaseInfo> Databases() {
        std::vector<DatabaseInfo> found;
        const DEVHANDLE enumeration = DevCeFindFirstDatabaseEx(&m_volume, 0);
        EXPECT_NE(enumeration, kInvalidDevHandle);
        while (CEOID oid = DevCeFindNextDatabaseEx(enumeration, &m_volume)) {
            uint8_t info[kOidInfoSize];
            EXPECT_TRUE(DevCeOidGetInfoEx2(&m_volume, oid, info));
            std::u16string name;
            for (size_t at = kOidInfoDbNameOffset; info[at] != 0 || info[at + 1] != 0; at += 2) {
                name.push_back(static_cast<char16_t>(info[at] | (info[at + 1] << 8)));
            }
            found.push_back({oid, name, U32At(info + kOidInfoDbTypeOffset), U32At(info + kOidInfoRecordCountOffset)});
        }
        EXPECT_EQ(platform::GetLastError(), 259u);
        return found;
    }

    DEVHANDLE OpenContacts() {
        CEOID none = 0;
        return DevCeOpenDatabaseInSession(m_session, &m_volume, &none, CE_TEXT("Contacts Database"), nullptr,
                                          kAutoIncrement, nullptr);
    }

    // Reads the current record into `strings`; its object id, or 0 at the end.
    CEOID ReadRecord(DEVHANDLE database, Strings *strings) {
        uint16_t count = 0;
        const CEOID oid = DevCeReadRecordPropsEx(database, kAllowRealloc, &count, nullptr, &m_buffer, &m_size, nullptr);
        if (oid == 0) return 0;
        const auto *values = reinterpret_cast<const CePropVal *>(m_buffer);
        strings->clear();
        for (uint16_t i = 0; i < count; ++i) {
            if (PropType(values[i].propid) == CEVT_LPWSTR) (*strings)[values[i].propid] = U16Text(values[i].val.lpwstr);
        }
        return oid;
    }

    // Adds a contact of these names to an open contacts database; its id.
    CEOID WriteContact(DEVHANDLE contacts, std::u16string first, std::u16string last) {
        CePropVal values[2] = {};
        values[0].propid = kFirstName;
        values[0].wLenData = static_cast<uint16_t>(first.size());
        values[0].val.lpwstr = reinterpret_cast<WCHAR *>(first.data());
        values[1].propid = kLastName;
        values[1].wLenData = static_cast<uint16_t>(last.size());
        values[1].val.lpwstr = reinterpret_cast<WCHAR *>(last.data());
        return DevCeWriteRecordProps(contacts, 0, 2, values);
    }

    // Every contact from the first: its id and strings.
    std::map<CEOID, Strings> AllContacts() {
        const DEVHANDLE contacts = OpenContacts();
        EXPECT_NE(contacts, kInvalidDevHandle);
        std::map<CEOID, Strings> all;
        Strings strings;
        while (const CEOID oid = ReadRecord(contacts, &strings)) all[oid] = strings;
        return all;
    }

    std::filesystem::path VolumePath(const char *extension) const {
        return m_phone.path() / "volumes" / (std::string("pim.vol") + extension);
    }
    std::string VolumeFile() const { return ReadFileText(VolumePath(".json")); }
    std::string Journal() const { return ReadFileText(VolumePath(".journal")); }

    PhoneCopy m_phone;
    platform::RapiTable m_table{};
    CeGuid m_volume{};
    DEVHANDLE m_session = kInvalidDevHandle;
    uint8_t *m_buffer = nullptr;
    DWORD m_size = 0;
};

// A change is one line appended to the volume's journal, not a rewrite of the whole
// file; the last unmount folds the journal into the file, and the records read back
// the same after reopening the image.
TEST_F(DevCeEmulatorTest, ChangesGoToTheJournalAndSurviveReopeningTheImage) {
    Connect();
    MountPim();
    DEVHANDLE contacts = OpenContacts();
    ASSERT_NE(contacts, kInvalidDevHandle);
    const std::string file = VolumeFile();
    const CEOID written = WriteContact(contacts, u"Nari", u"한");
    ASSERT_NE(written, 0u);
    EXPECT_TRUE(DevCeDeleteRecord(contacts, 65538));
    EXPECT_EQ(VolumeFile(), file);
    EXPECT_NE(Journal().find("\"Nari\""), std::string::npos);
    const std::map<CEOID, Strings> before = AllContacts();
    ASSERT_EQ(before.count(written), 1u);
    ASSERT_EQ(before.count(65538), 0u);

    // Forget the mounted volume and the link; the phone must read it back from its image.
    ASSERT_TRUE(DevCeUnmountDBVol(&m_volume));
    EXPECT_FALSE(std::filesystem::exists(VolumePath(".journal")));
    EXPECT_NE(VolumeFile().find("\"Nari\""), std::string::npos);
    Reconnect();
    MountPim();
    EXPECT_EQ(AllContacts(), before);

    contacts = OpenContacts();
    EXPECT_TRUE(DevCeDeleteRecord(contacts, written));
    EXPECT_EQ(DevCeSeekDatabaseEx(contacts, kSeekByOid, written, 1, nullptr), 0u);
    EXPECT_EQ(platform::GetLastError(), 1168u);
    EXPECT_FALSE(DevCeDeleteRecord(contacts, written));
}

// What a killed process leaves: the file as it was and a journal whose last line was
// cut short. The next link reads the file with the journal's whole lines on top,
// the file edited by hand in between too, and the mount folds the journal in.
TEST_F(DevCeEmulatorTest, AJournalLeftBehindIsReadOnTheEditedFileAndFoldedAtTheMount) {
    Connect();
    MountPim();
    const CEOID written = WriteContact(OpenContacts(), u"Nari", u"한");
    ASSERT_NE(written, 0u);
    const std::string file = VolumeFile(), journal = Journal();
    ASSERT_FALSE(journal.empty());
    m_table.CeRapiUninit();

    std::string edited = file;
    edited.replace(edited.find("\"홍\""), std::strlen("\"홍\""), "\"Hong\"");
    WriteFileText(VolumePath(".json"), edited);
    WriteFileText(VolumePath(".journal"),
                  journal + "\n{\"database\":256,\"delete\":65538}\n{\"database\":256,\"put\":{\"oi");
    Connect();
    MountPim();
    const std::map<CEOID, Strings> contacts = AllContacts();
    ASSERT_EQ(contacts.size(), 20u);
    EXPECT_EQ(contacts.at(65537).at(kLastName), u"Hong");
    EXPECT_EQ(contacts.at(written).at(kFirstName), u"Nari");
    EXPECT_EQ(contacts.count(65538), 0u);
    EXPECT_FALSE(std::filesystem::exists(VolumePath(".journal")));
    EXPECT_NE(VolumeFile().find("\"Nari\""), std::string::npos);

    // A whole line that cannot be read is a broken volume, as a bad file is.
    m_table.CeRapiUninit();
    WriteFileText(VolumePath(".journal"), "{\"database\":256,\"put\":{\"oid\":\"x\"}}\n");
    RAPIINIT init{sizeof init, nullptr, 0};
    EXPECT_EQ(m_table.CeRapiInitEx(&init), CE_HRESULT_FROM_WIN32(13));
}

// Another process serving the same phone appends to the journal while this one
// holds the volume, and is killed in the middle of a line: the next change here
// takes the whole lines in before its own and cuts the torn one away.
TEST_F(DevCeEmulatorTest, AChangeTakesInTheLinesAnotherProcessAppended) {
    Connect();
    MountPim();
    const CEOID mine = WriteContact(OpenContacts(), u"Nari", u"한");
    ASSERT_NE(mine, 0u);
    std::ofstream(VolumePath(".journal"), std::ios::app)
        << "{\"database\":256,\"put\":{\"oid\":300000,\"props\":[{\"id\":\"0x0082\",\"type\":\"string\","
           "\"value\":\"Other\"}]}}\n{\"database\":256,\"pu";
    const CEOID next = WriteContact(OpenContacts(), u"Bora", u"김");
    EXPECT_EQ(next, 300001u) << "new ids start past those the other process gave";
    const std::map<CEOID, Strings> contacts = AllContacts();
    EXPECT_EQ(contacts.size(), 23u);
    EXPECT_EQ(contacts.at(300000).at(kFirstName), u"Other");
    EXPECT_EQ(contacts.at(next).at(kFirstName), u"Bora");
    std::istringstream journal(Journal());
    for (std::string line; std::getline(journal, line);) EXPECT_TRUE(nlohmann::json::accept(line)) << line;
}

// The server's handles and mounts end with the link, as the file handles do: a
// handle or volume kept from an earlier link must not reach the database. The next
// link's mount reads the volume file as it is then, edits made between links too.
TEST_F(DevCeEmulatorTest, HandlesAndMountsEndWithTheLink) {
    Connect();
    MountPim();
    const DEVHANDLE stale = OpenContacts();
    ASSERT_NE(stale, kInvalidDevHandle);
    Strings strings;
    ASSERT_EQ(ReadRecord(stale, &strings), 65537u);
    ASSERT_EQ(strings[kLastName], u"홍");
    const CeGuid staleVolume = m_volume;
    Reconnect();

    EXPECT_EQ(ReadRecord(stale, &strings), 0u);
    EXPECT_EQ(platform::GetLastError(), 6u);
    m_volume = staleVolume;
    EXPECT_FALSE(DevCeUnmountDBVol(&m_volume));

    std::string text = VolumeFile();
    text.replace(text.find("\"홍\""), std::strlen("\"홍\""), "\"Hong\"");
    WriteFileText(m_phone.path() / "volumes" / "pim.vol.json", text);
    MountPim();
    EXPECT_NE(std::memcmp(&m_volume, &staleVolume, sizeof m_volume), 0);
    const DEVHANDLE contacts = OpenContacts();
    ASSERT_NE(contacts, kInvalidDevHandle);
    ASSERT_EQ(ReadRecord(contacts, &strings), 65537u);
    EXPECT_EQ(strings[kLastName], u"Hong");
}

// Numbers, times and blobs keep their exact values through the volume file.
TEST_F(DevCeEmulatorTest, EveryPropertyTypeSurvivesTheVolumeFile) {
    Connect();
    MountPim();
    CEOID none = 0;
    const DEVHANDLE appointments = DevCeOpenDatabaseInSession(
        m_session, &m_volume, &none, CE_TEXT("Appointments Database"), nullptr, kAutoIncrement, nullptr);
    ASSERT_NE(appointments, kInvalidDevHandle);
    uint8_t blob[3] = {0x00, 0xFF, 0x7F};
    CePropVal values[6] = {};
    values[0].propid = (0x1042u << 16) | CEVT_FILETIME;
    values[0].val.raw = 128882916000000000ull + 1234567;  // 2009-06-01 01:00:00 and a fraction
    values[1].propid = (0x1040u << 16) | CEVT_UI4;
    values[1].val.ulVal = 0xFFFFFFF0u;
    values[2].propid = (0x0044u << 16) | CEVT_BOOL;
    values[2].val.boolVal = 1;
    values[3].propid = (0x0050u << 16) | CEVT_I2;
    values[3].val.iVal = -2;
    values[4].propid = (0x0051u << 16) | CEVT_I4;
    values[4].val.lVal = -70000;
    values[5].propid = (0x0052u << 16) | CEVT_BLOB;
    values[5].val.blob.dwCount = 3;
    values[5].val.blob.lpb = blob;
    const CEOID written = DevCeWriteRecordProps(appointments, 0, 6, values);
    ASSERT_NE(written, 0u);
    ASSERT_TRUE(DevCeUnmountDBVol(&m_volume));
    EXPECT_NE(VolumeFile().find("\"2009-06-01T01:00:00.1234567\""), std::string::npos);

    MountPim();
    const DEVHANDLE reopened = DevCeOpenDatabaseInSession(m_session, &m_volume, &none, CE_TEXT("Appointments Database"),
                                                          nullptr, kAutoIncrement, nullptr);
    ASSERT_EQ(DevCeSeekDatabaseEx(reopened, kSeekByOid, written, 1, nullptr), written);
    uint16_t count = 0;
    ASSERT_EQ(DevCeReadRecordPropsEx(reopened, kAllowRealloc, &count, nullptr, &m_buffer, &m_size, nullptr), written);
    ASSERT_EQ(count, 6);
    const auto *read = reinterpret_cast<const CePropVal *>(m_buffer);
    EXPECT_EQ(read[0].val.raw, values[0].val.raw);
    EXPECT_EQ(read[1].val.ulVal, 0xFFFFFFF0u);
    EXPECT_EQ(read[2].val.boolVal, 1);
    EXPECT_EQ(read[3].val.iVal, -2);
    EXPECT_EQ(read[4].val.lVal, -70000);
    ASSERT_EQ(read[5].val.blob.dwCount, 3u);
    EXPECT_EQ(std::memcmp(read[5].val.blob.lpb, blob, 3), 0);
}

TEST_F(DevCeEmulatorTest, InjectedFaultSurfacesAsThatReadsFailure) {
    m_phone.EditDevice([](nlohmann::json &device) {
        device["faults"] =
            nlohmann::json::array({{{"operation", "DevCeReadRecordPropsEx"}, {"nth", 2}, {"error", 1359}}});
    });
    Connect();
    MountPim();
    const DEVHANDLE contacts = OpenContacts();
    Strings strings;
    EXPECT_NE(ReadRecord(contacts, &strings), 0u);
    EXPECT_EQ(ReadRecord(contacts, &strings), 0u);
    EXPECT_EQ(platform::GetLastError(), 1359u);
    EXPECT_NE(ReadRecord(contacts, &strings), 0u) << "the fault was for the second call only";
}

// Every server function, fed requests of many sizes and random content, answers
// with a code and never crashes (run under AddressSanitizer).
TEST_F(DevCeEmulatorTest, MalformedRequestsGetAnErrorCode) {
    Connect();
    MountPim();
    // clang-format off
    const char16_t *functions[] = {
        u"DevCeGetPhoneNumber", u"DevCeMountDBVolEx", u"DevCeCreateDatabaseWithProps", u"DevCeOidGetInfoEx2",
        u"DevCeCreateSession", u"DevCeOpenDatabaseInSession", u"DevCeGetDatabaseSession", u"DevCeFlushDBVol",
        u"DevCeWriteRecordProps", u"DevCeChangeDatabaseLCID", u"DevCeSeekDatabaseEx", u"DevCeDeleteDatabaseEx",
        u"DevCeUnmountDBVol", u"DevCeEnumDBVolumes", u"DevCeReadRecordPropsEx", u"DevCeAddDatabaseProps",
        u"DevCeDeleteRecord", u"DevCeFindFirstDatabaseEx", u"DevCeFindNextDatabaseEx", u"DevCeGetDatabaseProps",
        u"DevCeRemoveDatabaseProps", u"DevCeGetDBInformationByHandle", u"DevCeSetDatabaseInfo",
        u"DevCeFreeNotification", u"DevCeSetSessionOption", u"DevCeBeginTransaction", u"DevCeEndTransaction",
        u"DevCeOpenStream", u"DevCeStreamRead", u"DecCeStreamSaveChanges", u"DevCeStreamSetSize",
        u"DevCeStreamSeek", u"DevCeStreamWrite"};
    // clang-format on
    const size_t sizes[] = {0,  1,  2,  3,  4,  5,  7,   8,   11,  12,  13,  15,   16,   17,
                            19, 20, 21, 24, 28, 30, 527, 528, 640, 703, 704, 2463, 2464, 2484};
    std::mt19937 random(1234);
    for (const char16_t *function : functions) {
        for (size_t size : sizes) {
            std::vector<uint8_t> request(size);
            for (uint8_t &byte : request)
                byte = static_cast<uint8_t>(random() & 0x0F);  // small numbers: plausible counts
            DWORD outSize = 0;
            BYTE *out = nullptr;
            m_table.CeRapiInvoke(CE_TEXT("Tobrann"), reinterpret_cast<const WCHAR *>(function),
                                 static_cast<DWORD>(size), request.empty() ? nullptr : request.data(), &outSize, &out,
                                 nullptr, 0);
            platform::LocalFree(out);
        }
    }
    DWORD outSize = 0;
    BYTE *out = nullptr;
    EXPECT_EQ(m_table.CeRapiInvoke(CE_TEXT("Tobrann"), CE_TEXT("DevCeNoSuchFunction"), 0, nullptr, &outSize, &out,
                                   nullptr, 0),
              CE_HRESULT_FROM_WIN32(120));
    // The volume still answers after all that.
    EXPECT_GE(Databases().size(), 3u);
}

}  // namespace

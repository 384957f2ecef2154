// The phone's file system over the image's fs/ folder.
#include "emulator_fixture.h"

#include <algorithm>
#include <vector>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace {

using namespace ceemu_test;

class EmulatorFilesTest : public EmulatorTest {
protected:
    void SetUp() override { Connect(); }

    std::vector<CE_FIND_DATA> FindAll(const std::u16string &pattern, DWORD flags) {
        DWORD count = 0;
        CE_FIND_DATA *array = nullptr;
        EXPECT_TRUE(api.CeFindAllFiles(Wide(pattern).c_str(), flags, &count, &array)) << api.CeGetLastError();
        std::vector<CE_FIND_DATA> entries(array, array + count);
        EXPECT_EQ(api.CeRapiFreeBuffer(array), 0);
        return entries;
    }
    static const CE_FIND_DATA *Named(const std::vector<CE_FIND_DATA> &entries, const std::u16string &name) {
        for (const auto &entry : entries) {
            if (U16Text(entry.cFileName) == name) return &entry;
        }
        return nullptr;
    }
    static bool TimeSet(const FILETIME &time) { return time.dwLowDateTime != 0 || time.dwHighDateTime != 0; }
};

TEST_F(EmulatorFilesTest, FindAllFilesFillsOnlyTheFieldsAsked) {
    const auto names = FindAll(u"\\My Documents\\*.*", FAF_NAME);
    std::vector<std::u16string> listed;
    for (const auto &entry : names) {
        listed.push_back(U16Text(entry.cFileName));
        EXPECT_EQ(entry.dwFileAttributes, 0u);
        EXPECT_EQ(entry.nFileSizeLow, 0u);
        EXPECT_FALSE(TimeSet(entry.ftLastWriteTime));
    }
    EXPECT_EQ(listed, (std::vector<std::u16string>{u"DSC_0001.jpg", u"readme.txt", u"Templates", u"회의록.txt"}));

    for (DWORD flag : {FAF_ATTRIBUTES, FAF_CREATION_TIME, FAF_LASTACCESS_TIME, FAF_LASTWRITE_TIME, FAF_SIZE_HIGH,
                       FAF_SIZE_LOW, FAF_OID}) {
        const auto entries = FindAll(u"\\My Documents\\DSC_0001.jpg", flag);
        ASSERT_EQ(entries.size(), 1u);
        const CE_FIND_DATA &photo = entries[0];
        EXPECT_EQ(photo.cFileName[0], 0) << "name filled for flag " << flag;
        EXPECT_EQ(photo.dwFileAttributes != 0, flag == FAF_ATTRIBUTES) << flag;
        EXPECT_EQ(TimeSet(photo.ftCreationTime), flag == FAF_CREATION_TIME) << flag;
        EXPECT_EQ(TimeSet(photo.ftLastAccessTime), flag == FAF_LASTACCESS_TIME) << flag;
        EXPECT_EQ(TimeSet(photo.ftLastWriteTime), flag == FAF_LASTWRITE_TIME) << flag;
        EXPECT_EQ(photo.nFileSizeLow, flag == FAF_SIZE_LOW ? 150000u : 0u) << flag;
        EXPECT_EQ(photo.nFileSizeHigh, 0u);
        EXPECT_EQ(photo.dwOID != 0, flag == FAF_OID) << flag;
    }
}

TEST_F(EmulatorFilesTest, RootListingMarksMountedStoresAndFoldersOnlySkipsFiles) {
    WriteFileText(phone.fs() / "loose.txt", "x");
    const auto folders = FindAll(u"\\*.*", FAF_ATTRIBUTES | FAF_NAME | FAF_FOLDERS_ONLY);
    EXPECT_EQ(Named(folders, u"loose.txt"), nullptr);
    ASSERT_NE(Named(folders, u"Storage Card"), nullptr);
    EXPECT_EQ(Named(folders, u"Storage Card")->dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_TEMPORARY);
    EXPECT_EQ(Named(folders, u"My Storage")->dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_TEMPORARY);
    EXPECT_EQ(Named(folders, u"Windows")->dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_NE(Named(FindAll(u"\\*.*", FAF_NAME), u"loose.txt"), nullptr);

    phone.EditDevice([](nlohmann::json &device) { device["stores"]["Storage Card"]["mounted"] = false; });
    Connect();
    EXPECT_EQ(Named(FindAll(u"\\Storage Card", FAF_ATTRIBUTES | FAF_NAME), u"Storage Card")->dwFileAttributes,
              FILE_ATTRIBUTE_DIRECTORY);
}

TEST_F(EmulatorFilesTest, SearchesResolveNamesInAnyCaseAndReportMissingPlaces) {
    EXPECT_EQ(FindAll(u"\\MY DOCUMENTS\\*.TXT", FAF_NAME).size(), 2u);
    EXPECT_TRUE(FindAll(u"\\My Documents\\*.doc", FAF_NAME).empty());
    DWORD count = 7;
    CE_FIND_DATA *array = nullptr;
    EXPECT_FALSE(api.CeFindAllFiles(CE_TEXT("\\Nowhere\\*.*"), FAF_NAME, &count, &array));
    EXPECT_EQ(api.CeGetLastError(), CE_ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(count, 0u);
    int foreign = 0;
    EXPECT_NE(api.CeRapiFreeBuffer(&foreign), 0);

    CE_FIND_DATA data{};
    HANDLE found = api.CeFindFirstFile(CE_TEXT("\\my documents"), &data);
    ASSERT_NE(found, INVALID_HANDLE_VALUE);
    EXPECT_EQ(U16Text(data.cFileName), u"My Documents");
    EXPECT_EQ(data.dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_TRUE(api.CeFindClose(found));
    EXPECT_FALSE(api.CeFindClose(found));
    EXPECT_EQ(api.CeGetLastError(), CE_ERROR_INVALID_HANDLE);

    EXPECT_EQ(api.CeFindFirstFile(CE_TEXT("\\My Documents\\gone.txt"), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(api.CeGetLastError(), CE_ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(api.CeFindFirstFile(CE_TEXT("\\My Documents\\*.doc"), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(api.CeGetLastError(), CE_ERROR_NO_MORE_FILES);
    EXPECT_EQ(api.CeFindFirstFile(CE_TEXT("\\Gone\\x.txt"), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(api.CeGetLastError(), CE_ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(api.CeFindFirstFile(CE_TEXT("\\My Documents\\..\\..\\etc"), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(api.CeGetLastError(), 123u);
    const std::u16string tooLong = u"\\" + std::u16string(300, u'a');
    EXPECT_EQ(api.CeFindFirstFile(Wide(tooLong).c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(api.CeGetLastError(), 206u);
}

TEST_F(EmulatorFilesTest, ProbeEndingInBackslashNamesTheFolderUnlessTheImageSaysNone) {
    CE_FIND_DATA data{};
    HANDLE folder = api.CeFindFirstFile(CE_TEXT("\\My Documents\\Templates\\"), &data);
    ASSERT_NE(folder, INVALID_HANDLE_VALUE);
    EXPECT_EQ(U16Text(data.cFileName), u"Templates");
    EXPECT_EQ(data.dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY);
    api.CeFindClose(folder);
    HANDLE root = api.CeFindFirstFile(CE_TEXT("\\"), &data);
    ASSERT_NE(root, INVALID_HANDLE_VALUE);
    EXPECT_EQ(data.dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY);
    api.CeFindClose(root);

    phone.EditDevice([](nlohmann::json &device) { device["probeTrailingBackslash"] = "none"; });
    Connect();
    EXPECT_EQ(api.CeFindFirstFile(CE_TEXT("\\My Documents\\"), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(api.CeGetLastError(), CE_ERROR_FILE_NOT_FOUND);
}

TEST_F(EmulatorFilesTest, WrittenFilesAreRealHostFilesWithUtf8Names) {
    const std::string bytes = "안녕하세요\r\n" + std::string(70000, 'z');
    ASSERT_TRUE(PutFile(u"\\My Documents\\인사.txt", bytes));
    EXPECT_EQ(ReadFileText(phone.fs() / "My Documents" / u8"인사.txt"), bytes);
    EXPECT_EQ(GetFile(u"\\my documents\\인사.TXT"), bytes);

    HANDLE file = Open(u"\\My Documents\\인사.txt", OPEN_EXISTING, GENERIC_READ);
    DWORD high = 7;
    EXPECT_EQ(api.CeGetFileSize(file, &high), bytes.size());
    EXPECT_EQ(high, 0u);
    char rest[16];
    DWORD read = 99;
    EXPECT_TRUE(api.CeReadFile(file, rest, 0, &read, nullptr));
    EXPECT_EQ(read, 0u);
    DWORD written = 5;
    EXPECT_FALSE(api.CeWriteFile(file, "x", 1, &written, nullptr));  // opened for reading only
    EXPECT_EQ(api.CeGetLastError(), CE_ERROR_ACCESS_DENIED);
    EXPECT_EQ(written, 0u);
    EXPECT_TRUE(api.CeCloseHandle(file));
    EXPECT_FALSE(api.CeCloseHandle(file));
    EXPECT_EQ(api.CeGetLastError(), CE_ERROR_INVALID_HANDLE);
    EXPECT_EQ(api.CeGetFileSize(file, nullptr), 0xFFFFFFFFu);
}

// Folders once resolved are remembered; one moved or replaced on the host since is
// looked up again, never read or written through its old place.
TEST_F(EmulatorFilesTest, FoldersChangedOnTheHostAreLookedUpAgain) {
    namespace fs = std::filesystem;
    fs::create_directories(phone.fs() / "Moving");
    ASSERT_TRUE(PutFile(u"\\moving\\a.txt", "first"));
    fs::rename(phone.fs() / "Moving", phone.fs() / "Elsewhere");
    EXPECT_EQ(Open(u"\\moving\\a.txt", OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(api.CeGetLastError(), CE_ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(Open(u"\\moving\\b.txt", CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_EQ(api.CeGetLastError(), CE_ERROR_PATH_NOT_FOUND);

    fs::create_directories(phone.fs() / "MOVING");
    WriteFileText(phone.fs() / "MOVING" / "A.TXT", "second");
    EXPECT_EQ(GetFile(u"\\moving\\a.txt"), "second");
    fs::remove_all(phone.fs() / "MOVING");
    WriteFileText(phone.fs() / "moving", "a file where the folder was");
    EXPECT_EQ(Open(u"\\moving\\a.txt", OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(api.CeGetLastError(), CE_ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(ReadFileText(phone.fs() / "Elsewhere" / "a.txt"), "first");
}

TEST_F(EmulatorFilesTest, CreationDispositionsAndTheirErrors) {
    ASSERT_TRUE(PutFile(u"\\My Documents\\a.txt", "long first text"));
    ASSERT_TRUE(PutFile(u"\\My Documents\\a.txt", "short"));
    EXPECT_EQ(GetFile(u"\\My Documents\\a.txt"), "short");

    HANDLE replaced = Open(u"\\My Documents\\a.txt", CREATE_ALWAYS);
    EXPECT_EQ(api.CeGetLastError(), CE_ERROR_ALREADY_EXISTS);
    api.CeCloseHandle(replaced);
    EXPECT_EQ(GetFile(u"\\My Documents\\a.txt"), "");

    const struct {
        std::u16string path;
        DWORD creation;
        uint32_t error;
    } refusals[] = {
        {u"\\My Documents\\a.txt", CREATE_NEW, 80},
        {u"\\My Documents\\none.txt", OPEN_EXISTING, CE_ERROR_FILE_NOT_FOUND},
        {u"\\Nowhere\\none.txt", CREATE_ALWAYS, CE_ERROR_PATH_NOT_FOUND},
        {u"\\My Documents", OPEN_EXISTING, CE_ERROR_ACCESS_DENIED},
        {u"\\My Documents\\a.txt", 9, CE_ERROR_INVALID_PARAMETER},
        {u"\\My Documents\\*.txt", OPEN_EXISTING, 123},
    };
    for (const auto &refusal : refusals) {
        EXPECT_EQ(Open(refusal.path, refusal.creation), INVALID_HANDLE_VALUE);
        EXPECT_EQ(api.CeGetLastError(), refusal.error) << std::string(refusal.path.begin(), refusal.path.end());
    }
}

TEST_F(EmulatorFilesTest, OpenFilesAreNotSharedOrDeleted) {
    HANDLE held = Open(u"\\My Documents\\readme.txt", OPEN_EXISTING);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Open(u"\\My Documents\\readme.txt", OPEN_EXISTING, GENERIC_READ), INVALID_HANDLE_VALUE);
    EXPECT_EQ(api.CeGetLastError(), 32u);
    EXPECT_FALSE(api.CeDeleteFile(CE_TEXT("\\My Documents\\readme.txt")));
    EXPECT_EQ(api.CeGetLastError(), 32u);
    api.CeCloseHandle(held);
    EXPECT_TRUE(api.CeDeleteFile(CE_TEXT("My Documents\\README.TXT")));  // no leading '\', any case
    EXPECT_FALSE(std::filesystem::exists(phone.fs() / "My Documents" / "readme.txt"));

    EXPECT_FALSE(api.CeDeleteFile(CE_TEXT("\\My Documents\\readme.txt")));
    EXPECT_EQ(api.CeGetLastError(), CE_ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(api.CeDeleteFile(CE_TEXT("\\My Documents\\Templates")));
    EXPECT_EQ(api.CeGetLastError(), CE_ERROR_ACCESS_DENIED);
}

#if !defined(_WIN32)
// Another process serving the same image (played here by a lock on the host file,
// as its emulator takes one) has the file open to write: no second writer, reader
// or delete here, and the file is not truncated by the refused open.
TEST_F(EmulatorFilesTest, FilesAnotherProcessWritesAreNotSharedOrDeleted) {
    const std::filesystem::path host = phone.fs() / "My Documents" / "readme.txt";
    const std::string before = ReadFileText(host);
    int other = ::open(host.c_str(), O_RDWR);
    ASSERT_EQ(::flock(other, LOCK_EX), 0);
    EXPECT_EQ(Open(u"\\My Documents\\readme.txt", CREATE_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(api.CeGetLastError(), 32u);
    EXPECT_EQ(Open(u"\\My Documents\\readme.txt", OPEN_EXISTING, GENERIC_READ), INVALID_HANDLE_VALUE);
    EXPECT_EQ(api.CeGetLastError(), 32u);
    EXPECT_FALSE(api.CeDeleteFile(CE_TEXT("\\My Documents\\readme.txt")));
    EXPECT_EQ(api.CeGetLastError(), 32u);
    EXPECT_EQ(ReadFileText(host), before);
    ::close(other);
    HANDLE mine = Open(u"\\My Documents\\readme.txt", OPEN_EXISTING);
    ASSERT_NE(mine, INVALID_HANDLE_VALUE);
    other = ::open(host.c_str(), O_RDONLY);
    EXPECT_NE(::flock(other, LOCK_SH | LOCK_NB), 0);  // and this writer keeps the other process out
    ::close(other);
    api.CeCloseHandle(mine);
}
#endif

TEST_F(EmulatorFilesTest, CreateDirectoryMakesOneLevel) {
    EXPECT_TRUE(api.CeCreateDirectory(CE_TEXT("\\Docs"), nullptr));
    EXPECT_TRUE(std::filesystem::is_directory(phone.fs() / "Docs"));
    EXPECT_FALSE(api.CeCreateDirectory(CE_TEXT("\\docs"), nullptr));
    EXPECT_EQ(api.CeGetLastError(), CE_ERROR_ALREADY_EXISTS);
    EXPECT_FALSE(api.CeCreateDirectory(CE_TEXT("\\My Documents\\readme.txt"), nullptr));
    EXPECT_EQ(api.CeGetLastError(), CE_ERROR_ALREADY_EXISTS);
    EXPECT_FALSE(api.CeCreateDirectory(CE_TEXT("\\A\\B"), nullptr));
    EXPECT_EQ(api.CeGetLastError(), CE_ERROR_PATH_NOT_FOUND);
}

TEST_F(EmulatorFilesTest, WritesTakeFromTheStoreFreeSpaceAndFailDiskFullBeyondIt) {
    phone.EditDevice([](nlohmann::json &device) { device["objectStore"]["free"] = 100; });
    Connect();
    HANDLE file = Open(u"\\My Documents\\big.bin", CREATE_ALWAYS);
    const std::string bytes(200, 'b');
    DWORD written = 0;
    EXPECT_TRUE(api.CeWriteFile(file, bytes.data(), 100, &written, nullptr));
    EXPECT_FALSE(api.CeWriteFile(file, bytes.data(), 1, &written, nullptr));
    EXPECT_EQ(api.CeGetLastError(), CE_ERROR_DISK_FULL);
    api.CeCloseHandle(file);
    EXPECT_EQ(std::filesystem::file_size(phone.fs() / "My Documents" / "big.bin"), 100u);
    STORE_INFORMATION info{};
    ASSERT_TRUE(api.CeGetStoreInformation(&info));
    EXPECT_EQ(info.dwFreeSize, 0u);
    EXPECT_TRUE(api.CeDeleteFile(CE_TEXT("\\My Documents\\big.bin")));
    ASSERT_TRUE(api.CeGetStoreInformation(&info));
    EXPECT_EQ(info.dwFreeSize, 100u);
    EXPECT_TRUE(PutFile(u"\\Storage Card\\big.bin", bytes));  // the card has room
}

TEST_F(EmulatorFilesTest, HandlesEndWithTheLink) {
    HANDLE file = Open(u"\\My Documents\\readme.txt", OPEN_EXISTING);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    Disconnect();
    Connect();
    EXPECT_FALSE(api.CeCloseHandle(file));
    EXPECT_NE(Open(u"\\My Documents\\readme.txt", OPEN_EXISTING), INVALID_HANDLE_VALUE);
}

}  // namespace

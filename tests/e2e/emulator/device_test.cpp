// The phone's registry, store figures, program launches, fault injection, and the
// per-user copy of the demo phone.
#include "emulator_fixture.h"

#include <cstring>
#include <vector>

namespace {

using namespace ceemu_test;

class EmulatorDeviceTest : public EmulatorTest {
protected:
    void SetUp() override { Connect(); }

    HKEY OpenKey(const std::u16string &path) {
        HKEY key = nullptr;
        EXPECT_EQ(api.CeRegOpenKeyEx(HKEY_LOCAL_MACHINE, Wide(path).c_str(), 0, 0, &key), 0);
        return key;
    }
    std::u16string StringValue(HKEY key, const std::u16string &name) {
        WCHAR buffer[128] = {};
        DWORD bytes = sizeof buffer, type = 0;
        const LONG result =
            api.CeRegQueryValueEx(key, Wide(name).c_str(), nullptr, &type, reinterpret_cast<BYTE *>(buffer), &bytes);
        if (result != 0 || type != REG_SZ) return u"<error " + std::u16string(1, char16_t(u'0' + result % 10)) + u">";
        return U16Text(buffer);
    }
};

TEST_F(EmulatorDeviceTest, StorageProfilesEnumerateInFileOrderWithTheirFolders) {
    HKEY profiles = OpenKey(u"System\\StorageManager\\Profiles");
    std::vector<std::u16string> names;
    LONG result = 0;
    for (DWORD index = 0;; ++index) {
        WCHAR name[64];
        DWORD chars = 64;
        FILETIME written{};
        result = api.CeRegEnumKeyEx(profiles, index, name, &chars, nullptr, nullptr, nullptr, &written);
        if (result != 0) break;
        EXPECT_EQ(chars, U16Text(name).size());
        EXPECT_NE(written.dwHighDateTime, 0u);
        names.push_back(U16Text(name));
    }
    EXPECT_EQ(result, static_cast<LONG>(CE_ERROR_NO_MORE_ITEMS));
    EXPECT_EQ(names, (std::vector<std::u16string>{u"SDMMC", u"SDMemory", u"HDProfile"}));

    WCHAR small[3];
    DWORD chars = 3;
    EXPECT_EQ(api.CeRegEnumKeyEx(profiles, 1, small, &chars, nullptr, nullptr, nullptr, nullptr),
              static_cast<LONG>(CE_ERROR_MORE_DATA));
    EXPECT_EQ(chars, 8u);  // "SDMemory" without its terminator

    HKEY card = nullptr;
    ASSERT_EQ(api.CeRegOpenKeyEx(profiles, CE_TEXT("sdmmc"), 0, 0, &card), 0);
    EXPECT_EQ(StringValue(card, u"Folder"), u"Storage Card");
    HKEY disk = nullptr;
    ASSERT_EQ(api.CeRegOpenKeyEx(profiles, CE_TEXT("HDProfile"), 0, 0, &disk), 0);
    DWORD bytes = 0;
    EXPECT_EQ(api.CeRegQueryValueEx(disk, CE_TEXT("Folder"), nullptr, nullptr, nullptr, &bytes),
              static_cast<LONG>(CE_ERROR_FILE_NOT_FOUND));
    for (HKEY key : {card, disk, profiles}) EXPECT_EQ(api.CeRegCloseKey(key), 0);
    EXPECT_EQ(api.CeRegCloseKey(card), static_cast<LONG>(CE_ERROR_INVALID_HANDLE));

    HKEY missing = nullptr;
    EXPECT_EQ(api.CeRegOpenKeyEx(HKEY_LOCAL_MACHINE, CE_TEXT("Software\\Nobody"), 0, 0, &missing),
              static_cast<LONG>(CE_ERROR_FILE_NOT_FOUND));
}

TEST_F(EmulatorDeviceTest, ValuesReportTheirSizeAndRefuseShortBuffers) {
    HKEY ident = OpenKey(u"IDENT");
    EXPECT_EQ(StringValue(ident, u"OrigName"), u"MV-2400");
    DWORD bytes = 0, type = 0;
    EXPECT_EQ(api.CeRegQueryValueEx(ident, CE_TEXT("OrigName"), nullptr, &type, nullptr, &bytes), 0);
    EXPECT_EQ(bytes, 16u);  // seven characters and the terminator
    BYTE shortBuffer[8];
    bytes = sizeof shortBuffer;
    EXPECT_EQ(api.CeRegQueryValueEx(ident, CE_TEXT("OrigName"), nullptr, &type, shortBuffer, &bytes),
              static_cast<LONG>(CE_ERROR_MORE_DATA));
    EXPECT_EQ(bytes, 16u);
    api.CeRegCloseKey(ident);

    HKEY package = OpenKey(u"Software\\Morvane\\Package");
    EXPECT_EQ(StringValue(package, u"AID"), u"MORVANE-SYNC-0001");
    EXPECT_EQ(StringValue(package, u"VERSION"), u"3.0.12");
    api.CeRegCloseKey(package);
}

TEST_F(EmulatorDeviceTest, RegistryEditsApplyFromTheNextLink) {
    WriteFileText(phone.path() / "registry.reg",
                  "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\IDENT]\n"
                  "\"OrigName\"=\"Quote \\\"Q\\\" \\\\ 전화\"\n\"Count\"=dword:0000002a\n");
    HKEY before = OpenKey(u"IDENT");
    EXPECT_EQ(StringValue(before, u"OrigName"), u"MV-2400");
    Connect();
    HKEY after = OpenKey(u"IDENT");
    EXPECT_EQ(StringValue(after, u"OrigName"), u"Quote \"Q\" \\ 전화");
    DWORD count = 0, bytes = sizeof count, type = 0;
    EXPECT_EQ(api.CeRegQueryValueEx(after, CE_TEXT("Count"), nullptr, &type, reinterpret_cast<BYTE *>(&count), &bytes),
              0);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(count, 42u);
    EXPECT_EQ(StringValue(before, u"OrigName"), u"MV-2400");  // a key opened earlier keeps its registry
}

// The figures themselves reach the capability answer's golden file; here the lookups.
TEST_F(EmulatorDeviceTest, FreeSpaceFindsTheStoreOfAFolderAndRefusesUnknownStores) {
    ULARGE_INTEGER available{}, total{}, totalFree{};
    ASSERT_TRUE(api.CeGetDiskFreeSpaceEx(CE_TEXT("\\My Documents"), &available, &total, nullptr));
    EXPECT_EQ(total.QuadPart, 33554432u);  // the object store's
    EXPECT_FALSE(api.CeGetDiskFreeSpaceEx(CE_TEXT("Zimo Store"), &available, &total, &totalFree));
    EXPECT_EQ(api.CeGetLastError(), CE_ERROR_PATH_NOT_FOUND);
}

TEST_F(EmulatorDeviceTest, LaunchesAreAppendedToTheProcessLog) {
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(api.CeCreateProcess(CE_TEXT("\\Windows\\wceload.exe"), CE_TEXT("\\Storage Card\\setup.cab"), nullptr,
                                    nullptr, FALSE, 0, nullptr, nullptr, nullptr, &info));
    EXPECT_TRUE(api.CeCloseHandle(info.hProcess));
    EXPECT_TRUE(api.CeCloseHandle(info.hThread));
    ASSERT_TRUE(api.CeCreateProcess(CE_TEXT("\\Windows\\wceload.exe"), CE_TEXT("\\새 폴더\\앱.cab"), nullptr, nullptr,
                                    FALSE, 0, nullptr, nullptr, nullptr, &info));
    EXPECT_EQ(ReadFileText(phone.path() / "processes.log"),
              "\\Windows\\wceload.exe\t\\Storage Card\\setup.cab\n\\Windows\\wceload.exe\t\\새 폴더\\앱.cab\n");
    EXPECT_FALSE(api.CeCreateProcess(CE_TEXT("\\Windows\\missing.exe"), nullptr, nullptr, nullptr, FALSE, 0, nullptr,
                                     nullptr, nullptr, &info));
    EXPECT_EQ(api.CeGetLastError(), CE_ERROR_FILE_NOT_FOUND);
}

TEST_F(EmulatorDeviceTest, FaultsFailTheNthCallOnceOrFromThenOn) {
    AddFault("CeGetStoreInformation", 2, false, 112);
    AddFault("CeRegOpenKeyEx", 1, true, 5);
    Connect();
    STORE_INFORMATION info{};
    EXPECT_TRUE(api.CeGetStoreInformation(&info));
    EXPECT_FALSE(api.CeGetStoreInformation(&info));
    EXPECT_EQ(api.CeGetLastError(), 112u);
    EXPECT_EQ(api.CeRapiGetError(), 0);  // the device answered: no link failure
    EXPECT_TRUE(api.CeGetStoreInformation(&info));

    HKEY key = nullptr;
    for (int call = 0; call < 3; ++call) {
        EXPECT_EQ(api.CeRegOpenKeyEx(HKEY_LOCAL_MACHINE, CE_TEXT("IDENT"), 0, 0, &key), 5);
    }
    // Reconnecting with the same device.json keeps counting; an edit starts afresh.
    Connect();
    EXPECT_TRUE(api.CeGetStoreInformation(&info));
    phone.EditDevice([](nlohmann::json &device) { device["faults"][0]["persistent"] = true; });
    Connect();
    EXPECT_TRUE(api.CeGetStoreInformation(&info));
    EXPECT_FALSE(api.CeGetStoreInformation(&info));
    EXPECT_FALSE(api.CeGetStoreInformation(&info));
}

TEST_F(EmulatorDeviceTest, LinkDropFaultsEndTheLinkAndRefusedStartsCountToo) {
    phone.EditDevice([](nlohmann::json &device) {
        device["faults"] = {{{"operation", "CeReadFile"}, {"nth", 2}, {"linkDrop", true}, {"error", 1167}},
                            {{"operation", "CeRapiInitEx"}, {"nth", 3}, {"error", 21}}};
    });
    Connect();
    HANDLE file = Open(u"\\My Documents\\DSC_0001.jpg", OPEN_EXISTING, GENERIC_READ);
    std::vector<char> chunk(65535);
    DWORD read = 0;
    EXPECT_TRUE(api.CeReadFile(file, chunk.data(), 65535, &read, nullptr));
    EXPECT_FALSE(api.CeReadFile(file, chunk.data(), 65535, &read, nullptr));
    EXPECT_NE(api.CeRapiGetError(), 0);
    STORE_INFORMATION info{};
    EXPECT_FALSE(api.CeGetStoreInformation(&info));

    Disconnect();
    Connect();  // the second start
    RAPIINIT init{};
    init.cbSize = sizeof init;
    EXPECT_EQ(api.CeRapiInitEx(&init), static_cast<HRESULT>(0x80070015u));
    EXPECT_EQ(api.CeGetLastError(), 21u);
}

// Without CEBRIDGE_DEVICE the demo phone is copied once into the user's data folder.
TEST(EmulatorDemoPhone, FirstUseCopiesTheShippedPhoneAndLeavesItUnchanged) {
    const EmulatorApi &api = Emulator();
    TempDir home;
    ScopedEnv dataHome("XDG_DATA_HOME", home.str());
    ScopedEnv localAppData("LOCALAPPDATA", home.str());
    ScopedEnv device("CEBRIDGE_DEVICE", "");
    RAPIINIT init{};
    init.cbSize = sizeof init;
    ASSERT_EQ(api.CeRapiInitEx(&init), 0);
    ASSERT_TRUE(LinkSignalled(init.heRapiInit, 5000));
    EXPECT_TRUE(api.CeDeleteFile(CE_TEXT("\\My Documents\\readme.txt")));
    api.CeRapiUninit();

    const std::filesystem::path copy = home.path() / "cebridge" / "phones" / "demo";
    EXPECT_TRUE(std::filesystem::exists(copy / "device.json"));
    EXPECT_FALSE(std::filesystem::exists(copy / "fs" / "My Documents" / "readme.txt"));
    EXPECT_TRUE(std::filesystem::exists(DemoPhoneSource() / "fs" / "My Documents" / "readme.txt"));
}

}  // namespace

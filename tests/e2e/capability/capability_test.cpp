// The capability answer through the real exports: the demo phone byte for byte, and
// storage discovery over phone images that exercise the store classification.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "cebridge/agent.h"
#include "support/phone_copy.h"
#include "support/test_agent.h"
#include "unit/xml/golden.h"

namespace {

const char kProfilesKey[] = "HKEY_LOCAL_MACHINE\\System\\StorageManager\\Profiles";

struct Profile {
    std::string key;
    std::string folder;  // empty: the profile has no "Folder" value
};

// A device registry of storage profiles, the identity key (unless `model` is empty)
// and nothing else.
std::string DeviceRegistry(const std::vector<Profile> &profiles, const std::string &model = "MV-2400") {
    std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
    for (const Profile &profile : profiles) {
        text.append("[").append(kProfilesKey).append("\\").append(profile.key);  // (no "[" + string: GCC
        text.append("]\r\n\"Name\"=\"").append(profile.key).append("\"\r\n");    // -O3 misreads it as overlapping)
        if (!profile.folder.empty()) text += "\"Folder\"=\"" + profile.folder + "\"\r\n";
        text += "\r\n";
    }
    if (!model.empty()) text += "[HKEY_LOCAL_MACHINE\\IDENT]\r\n\"OrigName\"=\"" + model + "\"\r\n\r\n";
    return text;
}

// Makes `name` a folder below the phone's root; `mounted` also makes it a mounted
// store root with the given figures.
void AddStore(PhoneCopy &phone, const std::string &name, bool mounted, uint64_t freeBytes = 1000,
              uint64_t totalBytes = 4000) {
    std::filesystem::create_directories(phone.fs() / name);
    if (!mounted) return;
    phone.EditDevice([&](nlohmann::json &device) {
        device["stores"][name] = {
            {"mounted", true}, {"freeToCaller", freeBytes}, {"total", totalBytes}, {"totalFree", freeBytes}};
    });
}

struct CapabilityAnswer {
    Answer answer;
    std::string text;
    std::string log;
};

// Connects (unless told not to), asks for the capability and keeps the answer and log.
CapabilityAnswer AskCapability(bool connect = true) {
    TempDir logs;
    CapabilityAnswer result;
    {
        TestAgent agent;
        agent.Initialize(logs.str());
        if (connect) {
            EXPECT_EQ(agent.Request(CMD_APP_CON, 0).header.nStatus, ST_OK);
        }
        result.answer = agent.Request(CMD_GET, SUB_GET_CAPABILITY, Body({{PAR_TYPE, "x-obex/capability"}}));
        result.text = XmlText(result.answer);
    }
    for (const auto &entry : std::filesystem::directory_iterator(logs.path())) result.log += ReadFileText(entry.path());
    return result;
}

// The Location texts of the Memory elements, in order.
std::vector<std::string> Locations(const std::string &text) {
    std::vector<std::string> locations;
    const std::string open = "<Location>";
    for (size_t at = text.find(open); at != std::string::npos; at = text.find(open, at + 1)) {
        const size_t start = at + open.size();
        locations.push_back(text.substr(start, text.find("</Location>", start) - start));
    }
    return locations;
}

std::vector<std::string> MemTypes(const std::string &text) {
    std::vector<std::string> types;
    const std::string open = "<MemType>";
    for (size_t at = text.find(open); at != std::string::npos; at = text.find(open, at + 1)) {
        const size_t start = at + open.size();
        types.push_back(text.substr(start, text.find("</MemType>", start) - start));
    }
    return types;
}

using Names = std::vector<std::string>;

TEST(CapabilityAnswer, DemoPhoneByteForByte) {
    PhoneCopy phone;
    const CapabilityAnswer got = AskCapability();
    const Answer &answer = got.answer;
    EXPECT_EQ(answer.header.command, CMD_GET);
    EXPECT_EQ(answer.header.subCommand, SUB_GET_CAPABILITY);
    EXPECT_EQ(answer.header.nStatus, ST_OK);
    // One PAR_XMLBODY parameter: 0x48, N little-endian, N characters; nBodyLength N + 5.
    ASSERT_GE(answer.body.size(), 5u);
    EXPECT_EQ(answer.body[0], PAR_XMLBODY);
    const uint32_t length =
        answer.body[1] | answer.body[2] << 8 | answer.body[3] << 16 | static_cast<uint32_t>(answer.body[4]) << 24;
    EXPECT_EQ(answer.header.nBodyLength, length + 5);
    EXPECT_EQ(answer.body.size(), length + 5u);
    EXPECT_TRUE(golden::MatchesGolden(got.text, "capability_demo_phone.txt"));
    EXPECT_NE(got.log.find("] TARGET FOLDER[Zimo Store]\r\n"), std::string::npos);
    EXPECT_NE(got.log.find("] Ava:7948206080 Free:5368709120 ulUse:2579496960\r\n"), std::string::npos);
}

TEST(CapabilityAnswer, RefusedWhileDisconnected) {
    PhoneCopy phone;
    const CapabilityAnswer got = AskCapability(false);
    EXPECT_EQ(got.answer.header.nStatus, ST_FAILED);  // the dispatcher's answer
    EXPECT_EQ(got.answer.header.nBodyLength, 0u);
    EXPECT_TRUE(got.answer.body.empty());
}

TEST(StorageDiscovery, ClassifiesProfilesAndMeasuresEachStoreOnce) {
    PhoneCopy phone;
    WriteFileText(phone.path() / "registry.reg",
                  DeviceRegistry({{"SDMMC", "Storage Card"},     // removable card
                                  {"SDMemory", "My Storage"},    // SD, but the built-in folder
                                  {"HDProfile", "Hard Disk"},    // any other profile: built in
                                  {"PCMCIA", "CF Card"},         // never measured
                                  {"SDMMC2", "Storage Card"},    // same folder again: one store
                                  {"Backup", "Backup"},          // built in, but not mounted
                                  {"MMC_Lost", "Missing Card"},  // removable, folder absent
                                  {"Empty", ""}}));              // no folder at all
    AddStore(phone, "Hard Disk", true, 3000, 9000);
    AddStore(phone, "CF Card", true);
    AddStore(phone, "Backup", false);
    AddStore(phone, "Zimo Store", true);  // the group store, named by no profile

    const std::string text = AskCapability().text;
    EXPECT_EQ(Locations(text), (Names{"0", "My Storage", "Hard Disk", "Zimo Store", "Storage Card"}));
    EXPECT_EQ(MemTypes(text), (Names{"Internal", "Internal", "Internal", "Internal", "External"}));
    EXPECT_NE(text.find("<Location>Hard Disk</Location>\r\n<Free>3000</Free>\r\n<Used>6000</Used>"), std::string::npos);

    // A free-space query failing in the middle leaves that store out; the later ones
    // still take consecutive entries.
    phone.EditDevice([](nlohmann::json &device) {
        device["faults"] = {{{"operation", "CeGetDiskFreeSpaceEx"}, {"nth", 2}, {"error", 5}}};
    });
    const CapabilityAnswer faulted = AskCapability();
    EXPECT_EQ(Locations(faulted.text), (Names{"0", "My Storage", "Zimo Store", "Storage Card"}));
    EXPECT_NE(faulted.log.find("] CeGetDiskFreeSpaceEx FAIL[5]\r\n"), std::string::npos);
}

TEST(StorageDiscovery, GroupStoreAndProfilesWithoutFolders) {
    PhoneCopy phone;
    AddStore(phone, "Zimo Store", true);

    // Named by a profile, the group store is measured in profile order, not again last.
    WriteFileText(phone.path() / "registry.reg", DeviceRegistry({{"Group", "Zimo Store"}, {"SDMemory", "My Storage"}}));
    EXPECT_EQ(Locations(AskCapability().text), (Names{"0", "Zimo Store", "My Storage"}));

    // No profile names a folder: the object store alone, although the group store is
    // mounted and measured.
    WriteFileText(phone.path() / "registry.reg", DeviceRegistry({{"HDProfile", ""}}));
    const CapabilityAnswer noFolders = AskCapability();
    EXPECT_EQ(Locations(noFolders.text), (Names{"0"}));
    EXPECT_NE(noFolders.log.find("] [Zimo Store]Access\r\n"), std::string::npos);

    // No profiles key and no identity: the object store alone, model "UNKNOWN".
    WriteFileText(phone.path() / "registry.reg", DeviceRegistry({}, ""));
    const std::string bare = AskCapability().text;
    EXPECT_EQ(Locations(bare), (Names{"0"}));
    EXPECT_NE(bare.find("<Model>UNKNOWN</Model>"), std::string::npos);
}

TEST(StorageDiscovery, StoresThatDoNotFitAreLeftOutWhole) {
    PhoneCopy phone;
    std::vector<Profile> profiles{{"HDLong", "A Very Long Store Name"}};  // 22 characters
    AddStore(phone, "A Very Long Store Name", true);
    for (int i = 1; i <= 17; ++i) {
        const std::string name = "Store" + std::to_string(100 + i);
        profiles.push_back({"HD" + name, name});
        AddStore(phone, name, true);
    }
    WriteFileText(phone.path() / "registry.reg", DeviceRegistry(profiles));

    const CapabilityAnswer got = AskCapability();
    Names expected{"0"};
    for (int i = 1; i <= 15; ++i) expected.push_back("Store" + std::to_string(100 + i));
    EXPECT_EQ(Locations(got.text), expected);
    EXPECT_NE(got.log.find("Store [A Very Long Store Name] left out"), std::string::npos);
    EXPECT_NE(got.log.find("Store [Store117] left out"), std::string::npos);
}

TEST(StorageDiscovery, ObjectStoreFailureAnswersDisconnected) {
    PhoneCopy phone;
    phone.EditDevice([](nlohmann::json &device) {
        device["faults"] = {{{"operation", "CeGetStoreInformation"}, {"error", 1167}}};
    });
    const CapabilityAnswer got = AskCapability();
    EXPECT_EQ(got.answer.header.nStatus, ST_DISCONNECTED);
    EXPECT_TRUE(got.answer.body.empty());
    EXPECT_NE(got.log.find("] CeGetStoreInformation FAIL[1167]\r\n"), std::string::npos);
}

}  // namespace

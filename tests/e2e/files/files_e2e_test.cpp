// Folder browsing, listings, transfers, CAB install, delete and the packages
// listing through the real exports, against a private copy of the demo phone.
// Every test works in folders it makes itself under the phone's file system, so
// the demo phone's own content does not matter here.
#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/pc_time_zone.h"
#include "support/phone_copy.h"
#include "support/test_agent.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kLongTimeoutMs = 120000;

std::string Bytes(size_t count, uint32_t seed = 7) {
    std::string data(count, '\0');
    for (size_t i = 0; i < count; ++i) {
        seed = seed * 1103515245u + 12345u;
        data[i] = static_cast<char>(seed >> 16);
    }
    return data;
}

void WriteFile(const fs::path &path, const std::string &data) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << data;
}

void MakeSparseFile(const fs::path &path, uintmax_t size) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary).close();
    fs::resize_file(path, size);
}

// 100 ns ticks since 1601 of a UTC calendar time, as the phone stores file times.
void SetHostWriteTime(const fs::path &path, int year, int month, int day, int hour, int minute, int second) {
    std::tm utc{};
    utc.tm_year = year - 1900;
    utc.tm_mon = month - 1;
    utc.tm_mday = day;
    utc.tm_hour = hour;
    utc.tm_min = minute;
    utc.tm_sec = second;
#if defined(_WIN32)
    const time_t seconds = _mkgmtime(&utc);
    std::error_code error;
    fs::last_write_time(path, std::chrono::file_clock::from_sys(std::chrono::system_clock::from_time_t(seconds)),
                        error);
    ASSERT_FALSE(error) << error.message();
#else
    const time_t seconds = timegm(&utc);
    timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
#endif
}

std::vector<uint8_t> Flag(uint8_t value) { return {value}; }

struct Entry {
    std::string kind;  // "file" or "folder"
    std::string name;
    std::string size;
    std::string modified;
};

std::string Attribute(const std::string &element, const std::string &name) {
    const std::regex pattern(" " + name + "=\"([^\"]*)\"");
    std::smatch match;
    return std::regex_search(element, match, pattern) ? match[1].str() : "<absent>";
}

std::vector<Entry> ParseListing(const std::string &xml) {
    std::vector<Entry> entries;
    const std::regex element("<(file|folder) [^>]*>");
    for (auto it = std::sregex_iterator(xml.begin(), xml.end(), element); it != std::sregex_iterator(); ++it) {
        const std::string text = it->str();
        entries.push_back(
            {(*it)[1].str(), Attribute(text, "name"), Attribute(text, "size"), Attribute(text, "modified")});
    }
    return entries;
}

std::vector<std::string> Names(const std::vector<Entry> &entries) {
    std::vector<std::string> names;
    for (const Entry &entry : entries) names.push_back(entry.name);
    return names;
}

std::vector<std::string> Progress(const std::vector<Answer> &answers) {
    std::vector<std::string> values;
    for (const Answer &answer : answers) {
        if (answer.header.nStatus == ST_CONTINUE) values.push_back(ParamText(answer, PAR_LENGTH));
    }
    return values;
}

size_t FinalCount(const std::vector<Answer> &answers) {
    return std::count_if(answers.begin(), answers.end(),
                         [](const Answer &answer) { return answer.header.nStatus != ST_CONTINUE; });
}

class PluginFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(agent.Loaded());
        agent.Initialize(logs.str());
        ASSERT_EQ(agent.Request(CMD_APP_CON, 0).header.nStatus, ST_OK);
    }

    // Every answer a request got, after a later request has been answered: the
    // worker serves in order, so nothing more can arrive for it.
    std::vector<Answer> SettledAnswersFor(uint32_t tid) {
        EXPECT_EQ(agent.Request(CMD_CONNECT, 0).header.nStatus, ST_OK);
        return agent.AnswersFor(tid);
    }

    // Sends, waits for the final answer, and checks that it stays the only one.
    Answer RequestOnce(uint16_t command, uint16_t subCommand, const std::vector<uint8_t> &body,
                       std::vector<Answer> *all = nullptr) {
        const uint32_t tid = agent.Send(command, subCommand, body);
        EXPECT_TRUE(agent.WaitForFinal(tid, kLongTimeoutMs));
        const std::vector<Answer> answers = SettledAnswersFor(tid);
        EXPECT_EQ(FinalCount(answers), 1u) << "command " << command << " tid " << tid;
        if (all) *all = answers;
        for (const Answer &answer : answers) {
            if (answer.header.nStatus != ST_CONTINUE) return answer;
        }
        Answer none;
        none.header.nStatus = ~0u;
        return none;
    }

    uint32_t SetPath(const std::string &name, std::vector<uint8_t> flag) {
        return RequestOnce(CMD_SETPATH, 0, Body({{PAR_NAME, name}, {PAR_APP_FLAGS, std::move(flag)}})).header.nStatus;
    }
    uint32_t SetPath(const std::string &name, uint8_t flag) { return SetPath(name, Flag(flag)); }

    Answer List() { return RequestOnce(CMD_GET, SUB_GET_SVC, Body({{PAR_TYPE, "x-obex/folder-listing"}})); }
    std::vector<std::string> ListNames() { return Names(ParseListing(XmlText(List()))); }

    Answer Get(const std::string &name, const fs::path &pcFile, std::vector<Answer> *all = nullptr) {
        return RequestOnce(CMD_GET, SUB_GET_OBJECT,
                           Body({{PAR_TYPE, "x-obex/file"}, {PAR_APP_ID, name}, {PAR_APP_FILEPATH, pcFile.string()}}),
                           all);
    }
    Answer Put(const std::string &name, const fs::path &pcFile, std::vector<Answer> *all = nullptr) {
        return RequestOnce(CMD_PUT, SUB_PUT_OBJECT,
                           Body({{PAR_TYPE, "x-obex/file"}, {PAR_NAME, name}, {PAR_APP_FILEPATH, pcFile.string()}}),
                           all);
    }
    uint32_t Delete(const std::string &name) {
        return RequestOnce(CMD_PUT, SUB_PUT_DELETE, Body({{PAR_TYPE, "x-obex/file"}, {PAR_NAME, name}})).header.nStatus;
    }

    std::string LogText() const {
        std::string text;
        for (const auto &file : fs::directory_iterator(logs.path())) text += ReadFileText(file.path());
        return text;
    }

    // Changes the phone's behaviour from the next link on, and reconnects.
    void EditDeviceAndReconnect(const std::function<void(nlohmann::json &)> &edit) {
        phone.EditDevice(edit);
        ASSERT_EQ(agent.Request(CMD_APP_CON, 0).header.nStatus, ST_OK);
    }
    void FailOperation(const char *operation, uint32_t nth, bool persistent = false) {
        EditDeviceAndReconnect([&](nlohmann::json &device) {
            device["faults"] = nlohmann::json::array(
                {{{"operation", operation}, {"nth", nth}, {"persistent", persistent}, {"error", 5}}});
        });
    }

    PhoneCopy phone;
    TempDir logs;
    TempDir pc;
    TestAgent agent;
};

// ---- SETPATH -----------------------------------------------------------------------------

TEST_F(PluginFilesTest, SetPathCreatesEntersAndLeavesFoldersByFlag) {
    const fs::path docs = phone.fs() / "Docs";
    ASSERT_FALSE(fs::exists(docs));

    EXPECT_EQ(SetPath("Docs", 2), ST_UNSUPPORTED);  // missing, may not create
    EXPECT_EQ(SetPath("Docs", 1), ST_UNSUPPORTED);
    EXPECT_FALSE(fs::exists(docs));
    EXPECT_EQ(SetPath("Docs", 3), ST_OK);  // missing: no change, no failure
    EXPECT_FALSE(fs::exists(docs));

    EXPECT_EQ(SetPath("Docs", 0), ST_OK);  // created and entered
    EXPECT_TRUE(fs::is_directory(docs));
    EXPECT_TRUE(ListNames().empty());

    EXPECT_EQ(SetPath("Work", 0), ST_OK);  // nested
    EXPECT_TRUE(fs::is_directory(docs / "Work"));
    WriteFile(docs / "Work" / "deep.txt", "x");
    EXPECT_EQ(ListNames(), std::vector<std::string>{"deep.txt"});

    EXPECT_EQ(SetPath("", 1), ST_OK);  // parent: Docs
    EXPECT_EQ(ListNames(), std::vector<std::string>{"Work"});
    EXPECT_EQ(SetPath("", 2), ST_OK);  // root
    const std::vector<std::string> root = ListNames();
    EXPECT_NE(std::find(root.begin(), root.end(), "Docs"), root.end());
    EXPECT_EQ(SetPath("", 1), ST_OK);  // parent at the root stays at the root
    EXPECT_EQ(ListNames(), root);

    EXPECT_EQ(SetPath("Docs", 3), ST_OK);  // any other flag enters an existing child
    EXPECT_EQ(ListNames(), std::vector<std::string>{"Work"});
    EXPECT_EQ(SetPath("", 3), ST_OK);  // and with an empty name changes nothing
    EXPECT_EQ(ListNames(), std::vector<std::string>{"Work"});
    EXPECT_EQ(SetPath("", 0), ST_OK);  // root
    EXPECT_EQ(ListNames(), root);

    // A request without parameters is flag 0 with an empty name: the root.
    EXPECT_EQ(SetPath("Docs", 2), ST_OK);
    EXPECT_EQ(RequestOnce(CMD_SETPATH, 0, {}).header.nStatus, ST_OK);
    EXPECT_EQ(ListNames(), root);
}

TEST_F(PluginFilesTest, SetPathFoldsCaseAndUsesTheFirstFlagByte) {
    WriteFile(phone.fs() / "Docs" / "inside.txt", "x");
    WriteFile(phone.fs() / "notes.txt", "x");

    EXPECT_EQ(SetPath("notes.txt", 2), ST_OK);  // a file is no folder: no change
    EXPECT_NE(ListNames(), std::vector<std::string>{"inside.txt"});

    EXPECT_EQ(SetPath("DOCS", std::vector<uint8_t>{2, 9}), ST_OK);
    EXPECT_EQ(ListNames(), std::vector<std::string>{"inside.txt"});
    EXPECT_NE(LogText().find("dir list[docs]"), std::string::npos);

    // Later paths use the lower-cased name: an upload lands in the real folder.
    const fs::path source = pc.path() / "up.txt";
    WriteFile(source, "hello");
    EXPECT_EQ(Put("up.txt", source).header.nStatus, ST_OK);
    EXPECT_EQ(ReadFileText(phone.fs() / "Docs" / "up.txt"), "hello");

    // The folder vanishes behind the session's back: a parent move probes it and fails.
    fs::remove_all(phone.fs() / "Docs");
    EXPECT_EQ(SetPath("", 1), ST_UNSUPPORTED);
    EXPECT_EQ(SetPath("", 0), ST_OK);  // flag 0 always reaches the root, creating on its way
    EXPECT_NE(LogText().find("CeCreateDirectory[\\docs\\]"), std::string::npos);
    EXPECT_NE(ListNames(), std::vector<std::string>{});

    // A name the device resolves to a folder of another name leaves the path alone;
    // one that matches nothing is never created as a folder called "Q*".
    fs::create_directories(phone.fs() / "Docs");
    EXPECT_EQ(SetPath("D*", 2), ST_OK);
    EXPECT_NE(ListNames(), std::vector<std::string>{"inside.txt"});
    EXPECT_NE(LogText().find("pszPath[d*], DirName[docs]"), std::string::npos);
    EXPECT_EQ(SetPath("Q*", 0), ST_UNSUPPORTED);
    EXPECT_EQ(SetPath("Q\x01", 0), ST_UNSUPPORTED);
}

TEST_F(PluginFilesTest, SetPathRefusesNamesThatDoNotFitOrAreNotOneFolder) {
    const std::string tooLong(300, 'n');
    const auto before = ListNames();
    EXPECT_EQ(SetPath(tooLong, 0), ST_UNSUPPORTED);
    EXPECT_EQ(SetPath("a\\b", 0), ST_UNSUPPORTED);
    EXPECT_EQ(SetPath("..", 0), ST_UNSUPPORTED);
    EXPECT_EQ(SetPath(std::string("ab\0cd", 5), 0), ST_UNSUPPORTED);
    // A parameter that runs past the body is a bad request, whatever came before it.
    std::vector<uint8_t> broken = Body({{PAR_APP_FLAGS, Flag(0)}, {PAR_NAME, "Broken"}});
    broken[7] = 200;  // PAR_NAME claims 200 bytes
    EXPECT_EQ(RequestOnce(CMD_SETPATH, 0, broken).header.nStatus, ST_BAD_REQUEST);
    EXPECT_EQ(RequestOnce(CMD_SETPATH, 0, {PAR_NAME, 1, 0}).header.nStatus, ST_BAD_REQUEST);
    // A path past 260 characters is refused, never cut: climb until it is.
    const std::string level(60, 'd');
    for (int i = 0; i < 4; ++i) EXPECT_EQ(SetPath(level, 0), ST_OK);
    EXPECT_EQ(SetPath(level, 0), ST_UNSUPPORTED);
    EXPECT_EQ(SetPath("", 0), ST_OK);
    std::vector<std::string> after = ListNames();
    after.erase(std::remove(after.begin(), after.end(), level), after.end());
    EXPECT_EQ(after, before);  // nothing else was created anywhere
    EXPECT_FALSE(fs::exists(phone.fs() / tooLong.substr(0, 255)));
    EXPECT_FALSE(fs::exists(phone.fs() / "a"));
}

TEST_F(PluginFilesTest, ParentAndRootMovesFailWhenTheDeviceCannotProbeTheCurrentFolder) {
    fs::create_directories(phone.fs() / "Docs" / "Work");
    ASSERT_EQ(SetPath("Docs", 2), ST_OK);
    ASSERT_EQ(SetPath("Work", 2), ST_OK);
    EditDeviceAndReconnect([](nlohmann::json &device) { device["probeTrailingBackslash"] = "none"; });
    EXPECT_EQ(SetPath("", 1), ST_UNSUPPORTED);
    EXPECT_EQ(SetPath("", 2), ST_UNSUPPORTED);
    EXPECT_TRUE(ListNames().empty());  // still in \Docs\Work
    EXPECT_EQ(SetPath("", 0), ST_OK);  // flag 0 reaches the root all the same
    const std::vector<std::string> root = ListNames();
    EXPECT_NE(std::find(root.begin(), root.end(), "Docs"), root.end());
}

// ---- listing -------------------------------------------------------------------------------

TEST_F(PluginFilesTest, ListingShowsFoldersAndFilesWithSignedSizesAndLocalTimes) {
    const fs::path folder = phone.fs() / "Mixed";
    WriteFile(folder / "b.txt", "12345");
    fs::create_directories(folder / "a-folder");
    MakeSparseFile(folder / "huge.bin", 3000000000ull);
    WriteFile(folder / "c.txt", "");
    fs::create_directories(folder / "d-folder");
    SetHostWriteTime(folder / "b.txt", 2010, 3, 5, 0, 7, 3);
    ASSERT_EQ(SetPath("Mixed", 2), ST_OK);

    const Answer answer = List();
    EXPECT_EQ(answer.header.command, CMD_GET);
    EXPECT_EQ(answer.header.subCommand, SUB_GET_SVC);
    const std::string xml = XmlText(answer);
    EXPECT_NE(xml.find("encoding=\"euc-kr\""), std::string::npos);
    EXPECT_NE(xml.find("<folder-listing version=\"1.0\">"), std::string::npos);
    // A folder has no type attribute; a file has an empty one.
    const std::regex folderElement(
        "<folder name=\"a-folder\" size=\"[0-9-]+\" modified=\"\\d{8}T\\d{6}Z\" "
        "created=\"\\d{8}T\\d{6}Z\" accessed=\"\\d{8}T\\d{6}Z\"/?>");
    EXPECT_TRUE(std::regex_search(xml, folderElement)) << xml;
    EXPECT_TRUE(std::regex_search(xml, std::regex("<file name=\"b.txt\" size=\"5\" type=\"\" modified=")));

    // The emulated phone gives its entries by name: folders and files mixed.
    const std::vector<Entry> entries = ParseListing(xml);
    EXPECT_EQ(Names(entries), (std::vector<std::string>{"a-folder", "b.txt", "c.txt", "d-folder", "huge.bin"}));
    std::map<std::string, Entry> byName;
    for (const Entry &entry : entries) byName[entry.name] = entry;
    EXPECT_EQ(byName["huge.bin"].size, "-1294967296");  // the low word, signed
    EXPECT_EQ(byName["c.txt"].size, "0");
    EXPECT_EQ(byName["a-folder"].kind, "folder");

    // Times are the PC's local time: 2010-03-05 00:07:03 UTC in Seoul and in New York.
    for (auto [zone, modified] : {std::pair{kSeoul, "20100305T090703Z"}, std::pair{kNewYork, "20100304T190703Z"}}) {
        PcTimeZone pcZone(zone);
        if (!pcZone.InForce()) continue;
        const std::vector<Entry> listed = ParseListing(XmlText(List()));
        ASSERT_EQ(Names(listed), Names(entries));  // the device's order, every time
        const auto b = std::find_if(listed.begin(), listed.end(), [](const Entry &e) { return e.name == "b.txt"; });
        EXPECT_EQ(b->modified, modified) << zone.tz;
    }
    EXPECT_NE(LogText().find("\t         5 File(s)\t"), std::string::npos);
}

TEST_F(PluginFilesTest, EmptyFolderListsNothingAndAMissingFolderFails) {
    fs::create_directories(phone.fs() / "Empty");
    ASSERT_EQ(SetPath("Empty", 2), ST_OK);
    const std::string xml = XmlText(List());
    EXPECT_TRUE(ParseListing(xml).empty());
    EXPECT_NE(xml.find("<folder-listing version=\"1.0\""), std::string::npos) << xml;
    EXPECT_NE(LogText().find("File not Found\r\n\r\n"), std::string::npos);

    fs::remove(phone.fs() / "Empty");
    EXPECT_EQ(List().header.nStatus, ST_FAILED);
    EXPECT_NE(LogText().find("FIND DATA FAIL"), std::string::npos);
}

// ---- download ------------------------------------------------------------------------------

TEST_F(PluginFilesTest, DownloadCopiesInChunksWithOneProgressPerChunk) {
    const std::string data = Bytes(150000);
    WriteFile(phone.fs() / "Dl" / "data.bin", data);
    WriteFile(phone.fs() / "Dl" / "empty.bin", "");
    ASSERT_EQ(SetPath("Dl", 2), ST_OK);

    std::vector<Answer> answers;
    EXPECT_EQ(Get("data.bin", pc.path() / "data.bin", &answers).header.nStatus, ST_OK);
    EXPECT_EQ(Progress(answers), (std::vector<std::string>{"65535", "65535", "18930"}));
    EXPECT_EQ(ReadFileText(pc.path() / "data.bin"), data);
    // A progress packet is a copy of the request with one PAR_LENGTH parameter.
    EXPECT_EQ(answers[0].header.command, CMD_GET);
    EXPECT_EQ(answers[0].body, (std::vector<uint8_t>{PAR_LENGTH, 5, 0, 0, 0, '6', '5', '5', '3', '5'}));
    EXPECT_EQ(answers[0].header.nBodyLength, 10u);
    EXPECT_TRUE(answers.back().body.empty());

    EXPECT_EQ(Get("empty.bin", pc.path() / "empty.bin", &answers).header.nStatus, ST_OK);
    EXPECT_TRUE(Progress(answers).empty());
    EXPECT_TRUE(fs::exists(pc.path() / "empty.bin"));
    EXPECT_EQ(fs::file_size(pc.path() / "empty.bin"), 0u);

    // A missing device file: the empty PC file stays, the dispatcher answers 0x110.
    EXPECT_EQ(Get("nothere.bin", pc.path() / "nothere.bin").header.nStatus, ST_BAD_PARAMETER);
    EXPECT_TRUE(fs::exists(pc.path() / "nothere.bin"));
    EXPECT_NE(LogText().find(" Creater File error()"), std::string::npos);
}

// The agent takes only the low word of the device's size as the file's length.
TEST_F(PluginFilesTest, DownloadCompletesAgainstTheLowWordOfTheReportedSize) {
    EditDeviceAndReconnect([](nlohmann::json &device) { device["fileSizeHighWord"] = 1; });
    WriteFile(phone.fs() / "Dl" / "ten.bin", Bytes(10));
    WriteFile(phone.fs() / "Dl" / "empty.bin", "");
    ASSERT_EQ(SetPath("Dl", 2), ST_OK);

    std::vector<Answer> answers;
    EXPECT_EQ(Get("ten.bin", pc.path() / "ten.bin", &answers).header.nStatus, ST_OK);
    EXPECT_EQ(Progress(answers), (std::vector<std::string>{"10"}));
    EXPECT_EQ(Get("empty.bin", pc.path() / "empty.bin").header.nStatus, ST_OK);
    const std::string log = LogText();
    EXPECT_NE(log.find("Get File: " + (pc.path() / "ten.bin").string() + " complete"), std::string::npos);
    EXPECT_NE(log.find("Get File: " + (pc.path() / "empty.bin").string() + " complete"), std::string::npos);
}

TEST_F(PluginFilesTest, DownloadThatBreaksOffKeepsWhatArrivedAndAnswersOnce) {
    WriteFile(phone.fs() / "Dl" / "data.bin", Bytes(300000));
    ASSERT_EQ(SetPath("Dl", 2), ST_OK);
    FailOperation("CeReadFile", 3);
    std::vector<Answer> answers;
    EXPECT_EQ(Get("data.bin", pc.path() / "part.bin", &answers).header.nStatus, ST_BAD_PARAMETER);
    EXPECT_EQ(Progress(answers).size(), 2u);
    EXPECT_EQ(fs::file_size(pc.path() / "part.bin"), 2u * 65535u);
    EXPECT_NE(LogText().find(" CeReadFile error"), std::string::npos);
    // The device file was closed: it can be fetched again in full.
    EXPECT_EQ(Get("data.bin", pc.path() / "full.bin").header.nStatus, ST_OK);
    EXPECT_EQ(fs::file_size(pc.path() / "full.bin"), 300000u);
}

TEST_F(PluginFilesTest, DownloadRefusesNamesThatWouldBeCutAndTouchesNothing) {
    const std::string longName(40, 'g');
    WriteFile(phone.fs() / longName.substr(0, 31), "cut name");  // what a cut name would read
    EXPECT_EQ(Get(longName, pc.path() / "out.bin").header.nStatus, ST_BAD_PARAMETER);
    EXPECT_FALSE(fs::exists(pc.path() / "out.bin"));
    const std::string longPcPath = (pc.path() / std::string(300, 'p')).string();
    EXPECT_EQ(Get(longName.substr(0, 31), longPcPath).header.nStatus, ST_BAD_PARAMETER);
    EXPECT_TRUE(fs::is_empty(pc.path()));
}

// ---- upload ------------------------------------------------------------------------------------

TEST_F(PluginFilesTest, UploadReportsEveryTenthChunkAndReplacesExistingFiles) {
    const std::string data = Bytes(700000);
    WriteFile(pc.path() / "big.bin", data);
    WriteFile(pc.path() / "empty.bin", "");
    WriteFile(phone.fs() / "Up" / "big.bin", Bytes(900000, 3));  // replaced, not merged
    ASSERT_EQ(SetPath("Up", 2), ST_OK);

    std::vector<Answer> answers;
    EXPECT_EQ(Put("big.bin", pc.path() / "big.bin", &answers).header.nStatus, ST_OK);
    EXPECT_EQ(Progress(answers), std::vector<std::string>{"655350"});
    EXPECT_EQ(ReadFileText(phone.fs() / "Up" / "big.bin"), data);
    EXPECT_NE(LogText().find("SUCCESS dwPutTotalbytes[700000],dwWriteSize[700000]"), std::string::npos);

    EXPECT_EQ(Put("empty.bin", pc.path() / "empty.bin", &answers).header.nStatus, ST_OK);
    EXPECT_TRUE(Progress(answers).empty());
    EXPECT_TRUE(fs::exists(phone.fs() / "Up" / "empty.bin"));
    EXPECT_EQ(fs::file_size(phone.fs() / "Up" / "empty.bin"), 0u);

    EXPECT_EQ(Put("x.bin", pc.path() / "missing.bin").header.nStatus, ST_BAD_PARAMETER);
    EXPECT_FALSE(fs::exists(phone.fs() / "Up" / "x.bin"));
}

TEST_F(PluginFilesTest, UploadWhoseDeviceWritesFailAnswersFailedOnce) {
    WriteFile(pc.path() / "big.bin", Bytes(700000));
    FailOperation("CeWriteFile", 3);
    std::vector<Answer> answers;
    EXPECT_EQ(Put("big.bin", pc.path() / "big.bin", &answers).header.nStatus, ST_FAILED);
    EXPECT_TRUE(Progress(answers).empty());
    EXPECT_NE(LogText().find("FAIL dwPutTotalbytes[131070],dwWriteSize[700000]"), std::string::npos);
}

TEST_F(PluginFilesTest, UploadRefusesNamesThatWouldBeCutAndCreatesNothing) {
    WriteFile(pc.path() / "a.bin", "abc");
    const std::string longName(200, 'u');
    EXPECT_EQ(Put(longName, pc.path() / "a.bin").header.nStatus, ST_BAD_PARAMETER);
    EXPECT_EQ(Put("sub\\a.bin", pc.path() / "a.bin").header.nStatus, ST_BAD_PARAMETER);
    EXPECT_EQ(Put("", pc.path() / "a.bin").header.nStatus, ST_BAD_PARAMETER);
    EXPECT_FALSE(fs::exists(phone.fs() / longName.substr(0, 127)));
    EXPECT_FALSE(fs::exists(phone.fs() / "sub"));
}

// ---- abort ---------------------------------------------------------------------------------------

class PluginFilesAbortTest : public PluginFilesTest {
protected:
    // Sends a request and waits until it has sent its first progress packet.
    uint32_t StartTransfer(uint16_t command, uint16_t subCommand, const std::vector<uint8_t> &body) {
        const uint32_t tid = agent.Send(command, subCommand, body);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (agent.AnswersFor(tid).empty() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        EXPECT_FALSE(agent.AnswersFor(tid).empty()) << "no progress before the deadline";
        return tid;
    }
    std::vector<uint8_t> GetBody(const std::string &name, const fs::path &target) {
        return Body({{PAR_TYPE, "x-obex/file"}, {PAR_APP_ID, name}, {PAR_APP_FILEPATH, target.string()}});
    }

    // Starts a transfer, aborts it after its first progress packet, and checks that
    // the abort was answered once and the transfer sent nothing after it.
    void AbortAfterFirstProgress(uint16_t command, uint16_t subCommand, const std::vector<uint8_t> &body) {
        const uint32_t tid = StartTransfer(command, subCommand, body);
        const uint32_t abortTid = agent.Send(CMD_ABORT, 0);
        ASSERT_TRUE(agent.WaitForFinal(abortTid, kLongTimeoutMs));
        const std::vector<Answer> answers = SettledAnswersFor(tid);
        EXPECT_EQ(FinalCount(answers), 0u);
        EXPECT_EQ(agent.AnswersFor(abortTid).size(), 1u);
        transferAnswers = answers;
    }
    std::vector<Answer> transferAnswers;
};

TEST_F(PluginFilesAbortTest, AbortStopsADownloadAndLeavesThePartialFile) {
    MakeSparseFile(phone.fs() / "huge.bin", 1ull << 30);
    const fs::path target = pc.path() / "huge.bin";
    AbortAfterFirstProgress(CMD_GET, SUB_GET_OBJECT, GetBody("huge.bin", target));
    const uintmax_t copied = fs::file_size(target);
    EXPECT_GT(copied, 0u);
    EXPECT_LT(copied, 1ull << 30);
    // Every chunk written was reported, but for the last one when the abort came
    // between its write and its progress packet (that packet is dropped).
    const uintmax_t reported = transferAnswers.size() * 65535u;
    EXPECT_TRUE(copied == reported || copied == reported + 65535u) << copied << " vs " << reported;
    EXPECT_NE(LogText().find("GET FILE ABORTED"), std::string::npos);
    // The session serves the next request normally.
    EXPECT_EQ(List().header.nStatus, ST_OK);
}

TEST_F(PluginFilesAbortTest, AbortStopsAnUploadAtTheNextReport) {
    const fs::path source = pc.path() / "huge.bin";
    MakeSparseFile(source, 1ull << 30);
    AbortAfterFirstProgress(
        CMD_PUT, SUB_PUT_OBJECT,
        Body({{PAR_TYPE, "x-obex/file"}, {PAR_NAME, "huge.bin"}, {PAR_APP_FILEPATH, source.string()}}));
    const uintmax_t written = fs::file_size(phone.fs() / "huge.bin");
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, 1ull << 30);
    EXPECT_EQ(written % 655350u, 0u);  // stopped exactly at a report
    EXPECT_NE(LogText().find("PUT FILE ABORTED"), std::string::npos);
}

TEST_F(PluginFilesAbortTest, DownloadWhoseFileChangesSizeEndsFailed) {
    const fs::path device = phone.fs() / "moving.bin";
    MakeSparseFile(device, 1ull << 30);
    const uint32_t tid = StartTransfer(CMD_GET, SUB_GET_OBJECT, GetBody("moving.bin", "/dev/null"));
    fs::resize_file(device, 3 * 65535);  // shrinks under the copy
    ASSERT_TRUE(agent.WaitForFinal(tid, kLongTimeoutMs));
    const std::vector<Answer> answers = SettledAnswersFor(tid);
    ASSERT_EQ(FinalCount(answers), 1u);
    EXPECT_EQ(answers.back().header.nStatus, ST_FAILED);

    // The size taken at the start cannot be read: the copy cannot be confirmed.
    WriteFile(device, Bytes(1000));
    FailOperation("CeGetFileSize", 1);
    EXPECT_EQ(Get("moving.bin", pc.path() / "moving.bin").header.nStatus, ST_FAILED);
}

TEST_F(PluginFilesAbortTest, EndingTheSessionStopsATransferWithoutAnAnswer) {
    MakeSparseFile(phone.fs() / "huge.bin", 1ull << 30);
    const uint32_t tid = StartTransfer(CMD_GET, SUB_GET_OBJECT, GetBody("huge.bin", pc.path() / "huge.bin"));
    agent.UnInitialize();
    // The session is gone: every answer it was to give has been given.
    const std::vector<Answer> answers = agent.AnswersFor(tid);
    EXPECT_EQ(FinalCount(answers), 0u);
    EXPECT_LT(fs::file_size(pc.path() / "huge.bin"), 1ull << 30);
}

// ---- CAB install, delete, packages ---------------------------------------------------------------

TEST_F(PluginFilesTest, CabInstallStartsTheDeviceInstallerWithThePackagePath) {
    const Answer answer =
        RequestOnce(CMD_PUT, SUB_PUT_OBJECT, Body({{PAR_TYPE, "application/cab"}, {PAR_NAME, "\\Temp\\My App.cab"}}));
    EXPECT_EQ(answer.header.nStatus, ST_OK);
    const std::string processes = ReadFileText(phone.path() / "processes.log");
    EXPECT_NE(processes.find("\\Windows\\wceload.exe"), std::string::npos) << processes;
    EXPECT_NE(processes.find("\\Temp\\My App.cab"), std::string::npos) << processes;
    EXPECT_NE(LogText().find("Run Process : \\Temp\\My App.cab"), std::string::npos);

    FailOperation("CeCreateProcess", 1);
    EXPECT_EQ(RequestOnce(CMD_PUT, SUB_PUT_OBJECT, Body({{PAR_TYPE, "application/cab"}, {PAR_NAME, "\\x.cab"}}))
                  .header.nStatus,
              ST_FAILED);
    EXPECT_NE(LogText().find("Error Code : 5"), std::string::npos);
}

TEST_F(PluginFilesTest, DeleteRemovesOnlyTheNamedFile) {
    WriteFile(phone.fs() / "gone-root.txt", "x");
    WriteFile(phone.fs() / "Del" / "gone.txt", "x");
    WriteFile(phone.fs() / "Del" / "stays.txt", "x");
    const std::string longName(200, 'd');
    WriteFile(phone.fs() / "Del" / longName.substr(0, 127), "cut name");

    EXPECT_EQ(Delete("gone-root.txt"), ST_OK);
    EXPECT_FALSE(fs::exists(phone.fs() / "gone-root.txt"));
    ASSERT_EQ(SetPath("Del", 2), ST_OK);
    EXPECT_EQ(Delete("gone.txt"), ST_OK);
    EXPECT_FALSE(fs::exists(phone.fs() / "Del" / "gone.txt"));
    EXPECT_EQ(Delete("gone.txt"), ST_BAD_PARAMETER);
    EXPECT_NE(LogText().find("CeDeleteFile() error"), std::string::npos);
    EXPECT_EQ(Delete(longName), ST_BAD_PARAMETER);
    EXPECT_EQ(Delete("..\\gone-root.txt"), ST_BAD_PARAMETER);
    EXPECT_TRUE(fs::exists(phone.fs() / "Del" / longName.substr(0, 127)));
    EXPECT_TRUE(fs::exists(phone.fs() / "Del" / "stays.txt"));
}

TEST_F(PluginFilesTest, PackagesListingHoldsTheInstalledPackageOrNothing) {
    const auto packages = [&](const char *search) {
        return XmlText(RequestOnce(CMD_GET, SUB_GET_SVC, Body({{PAR_TYPE, "x"}, {PAR_APP_SEARCH, search}})));
    };
    const std::string xml = packages("group WG-REGISTRY please");
    EXPECT_NE(xml.find("<Contents-listing"), std::string::npos) << xml;
    EXPECT_NE(xml.find("MORVANE-SYNC-0001"), std::string::npos) << xml;
    EXPECT_NE(xml.find("3.0.12"), std::string::npos) << xml;
    EXPECT_NE(LogText().find("AID[MORVANE-SYNC-0001] VER[3.0.12]"), std::string::npos);

    // Without the package key the listing is empty and the key is missed twice.
    std::string registry = ReadFileText(phone.path() / "registry.reg");
    const size_t key = registry.find("[HKEY_LOCAL_MACHINE\\Software\\Morvane\\Package]");
    ASSERT_NE(key, std::string::npos);
    registry.erase(key);
    WriteFileText(phone.path() / "registry.reg", registry);
    ASSERT_EQ(agent.Request(CMD_APP_CON, 0).header.nStatus, ST_OK);
    const std::string empty = packages("WG-REGISTRY");
    EXPECT_EQ(empty.find("<Content>"), std::string::npos) << empty;
    EXPECT_EQ(empty.find("MORVANE"), std::string::npos) << empty;
    const std::string log = LogText();
    size_t misses = 0;
    for (size_t at = log.find("CAN FOUND REGISTRY!!!!!!!!!!!!!!!"); at != std::string::npos;
         at = log.find("CAN FOUND REGISTRY!!!!!!!!!!!!!!!", at + 1)) {
        ++misses;
    }
    EXPECT_EQ(misses, 2u);
}

}  // namespace

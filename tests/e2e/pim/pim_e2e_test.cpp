// Contacts, appointments, call history and messages through the real exports,
// against private copies of the demo phone: listings, item texts, adds and deletes,
// checked both in the answers and in the phone's own volume file.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "e2e/core/agent_session.h"
#include "support/pc_time_zone.h"
#include "support/phone_copy.h"
#include "support/test_agent.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// One Content element of a contents listing, by child name.
using Content = std::map<std::string, std::string>;

std::vector<Content> Contents(const std::string &xml) {
    std::vector<Content> contents;
    static const std::regex contentPattern("<Content>([\\s\\S]*?)</Content>|<Content/>");
    static const std::regex childPattern("<(ID|Title|Group|Type|StartTime)>([^<]*)</\\1>");
    for (std::sregex_iterator it(xml.begin(), xml.end(), contentPattern), end; it != end; ++it) {
        Content content;
        std::string inner = (*it)[1];
        for (std::sregex_iterator c(inner.begin(), inner.end(), childPattern); c != end; ++c)
            content[(*c)[1]] = (*c)[2];
        contents.push_back(content);
    }
    return contents;
}

std::optional<Content> WithTitle(const std::vector<Content> &contents, const std::string &title) {
    for (const Content &content : contents) {
        auto it = content.find("Title");
        if (it != content.end() && it->second == title) return content;
    }
    return std::nullopt;
}

json Prop(const char *id, const char *type, const json &value) {
    json prop = json::object();
    prop["id"] = id;
    prop["type"] = type;
    prop["value"] = value;
    return prop;
}

int Count(const std::string &text, const std::string &what) {
    int count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
}

// A session connected to its own copy of the demo phone; `editVolume` may change
// "\pim.vol" before the plug-in starts.
class PimTest : public ::testing::Test {
protected:
    void Connect(const std::function<void(json &)> &editVolume = nullptr,
                 const std::function<void(json &)> &editDevice = nullptr) {
        if (editVolume) {
            json volume = Volume();
            editVolume(volume);
            std::ofstream(VolumeFile()) << volume.dump(2);
        }
        if (editDevice) session.phone.EditDevice(editDevice);
        session.Connect();
    }

    fs::path VolumeFile() const { return session.phone.path() / "volumes" / "pim.vol.json"; }
    json Volume() const { return session.phone.ReadVolume("pim.vol"); }
    json Database(uint32_t type) const {
        const json volume = Volume();
        for (const json &database : volume["databases"])
            if (database["type"] == type) return database;
        return json();
    }

    Answer List(const std::string &type) {
        return session.agent.Request(CMD_GET, SUB_GET_SVC, Body({{PAR_TYPE, type}}));
    }
    std::vector<Content> ListContents(const std::string &type) {
        Answer answer = List(type);
        EXPECT_EQ(answer.header.nStatus, ST_OK);
        EXPECT_EQ(answer.header.command, CMD_GET);
        EXPECT_EQ(answer.header.subCommand, SUB_GET_SVC);
        return Contents(XmlText(answer));
    }
    Answer Get(const std::string &type, const std::string &id) {
        return session.agent.Request(CMD_GET, SUB_GET_OBJECT, Body({{PAR_TYPE, type}, {PAR_APP_ID, id}}));
    }
    Answer Put(const std::string &type, const std::string &text) {
        return session.agent.Request(CMD_PUT, SUB_PUT_OBJECT, Body({{PAR_TYPE, type}, {PAR_XMLBODY, text}}));
    }
    Answer Delete(const std::string &type, const std::string &id) {
        return session.agent.Request(CMD_PUT, SUB_PUT_DELETE, Body({{PAR_TYPE, type}, {PAR_APP_ID, id}}));
    }
    // Adds an item and returns the ID the next listing gives it (found by title).
    std::string AddAndFind(const std::string &type, const std::string &text, const std::string &title) {
        EXPECT_EQ(Put(type, text).header.nStatus, ST_OK) << text;
        std::optional<Content> content = WithTitle(ListContents(type), title);
        EXPECT_TRUE(content) << title;
        return content ? content->at("ID") : "";
    }
    // The properties of the device record `id` ("%x"), as "0x0082" -> value.
    std::map<std::string, json> Props(uint32_t type, const std::string &id) {
        std::map<std::string, json> props;
        const json database = Database(type);
        for (const json &record : database["records"]) {
            if (record["oid"].get<uint32_t>() != std::stoul(id, nullptr, 16)) continue;
            for (const json &prop : record["props"]) {
                std::string key = prop["id"];
                props[key + (props.count(key) ? "#2" : "")] = prop["value"];
            }
        }
        return props;
    }

    AgentSession session;
};

TEST_F(PimTest, ContactsAddListReadAndDelete) {
    Connect();
    std::vector<Content> before = ListContents(kContacts);
    ASSERT_EQ(before.size(), 20u);
    for (const Content &content : before) {
        EXPECT_EQ(content.at("Group"), "TRG-PHONEBOOK/PRIVATE");
        EXPECT_EQ(content.at("Type"), kContacts);
    }

    // The composed name is LASTNAME then FIRSTNAME; exactly three properties go out.
    std::string ba = AddAndFind(kContacts, "FIRSTNAME=A||LASTNAME=B", "BA");
    EXPECT_EQ(Props(24, ba), (std::map<std::string, json>{{"0x0082", "A"}, {"0x0084", "B"}, {"0x0080", "BA"}}));

    // Unknown headers are ignored, '=' stays in values, any run of bars separates;
    // NICKNAME and GOVERNMENTID share one device property.
    std::string odd = AddAndFind(kContacts, "X=1|||FIRSTNAME=A=B||NICKNAME=N||MOBILETELEPHONENUMBER=1", "A=B");
    auto props = Props(24, odd);
    EXPECT_EQ(props["0x0082"], "A=B");
    EXPECT_EQ(props["0x0086"], "N");
    EXPECT_EQ(props["0x0080"], "A=B");
    Answer text = Get(kContacts, odd);
    EXPECT_EQ(text.header.nStatus, ST_OK);
    EXPECT_EQ(XmlText(text), "FIRSTNAME=A=B||GOVERNMENTID=N||MOBILETELEPHONENUMBER=1||NICKNAME=N");

    // The smallest read: two fields, a 36-byte text in one PAR_XMLBODY.
    std::string small = AddAndFind(kContacts, "FIRSTNAME=C||MOBILETELEPHONENUMBER=1", "C");
    Answer smallText = Get(kContacts, small);
    const std::string expected = "FIRSTNAME=C||MOBILETELEPHONENUMBER=1";
    std::vector<uint8_t> body = {PAR_XMLBODY, 36, 0, 0, 0};
    body.insert(body.end(), expected.begin(), expected.end());
    EXPECT_EQ(smallText.body, body);
    EXPECT_EQ(smallText.header.nBodyLength, 41u);

    // Delete: gone from the phone; the listing no longer shows it.
    EXPECT_EQ(Delete(kContacts, ba).header.nStatus, ST_OK);
    EXPECT_TRUE(Props(24, ba).empty());
    // The list still holds the ID until the next listing: the phone refuses.
    EXPECT_EQ(Delete(kContacts, ba).header.nStatus, ST_FAILED);
    EXPECT_FALSE(WithTitle(ListContents(kContacts), "BA"));
    EXPECT_EQ(ListContents(kContacts).size(), 22u);

    // An empty body adds nothing and still succeeds.
    EXPECT_EQ(Put(kContacts, "").header.nStatus, ST_OK);
    EXPECT_EQ(Database(24)["records"].size(), 22u);
}

TEST_F(PimTest, IdsTheLastListingDidNotHoldReachNothingOnThePhone) {
    Connect();
    // No listing yet: no list at all.
    Answer early = Get(kContacts, "10001");
    EXPECT_EQ(early.header.nStatus, ST_FAILED);
    EXPECT_TRUE(early.body.empty());
    EXPECT_EQ(Get(kSchedule, "20001").header.nStatus, ST_FAILED);
    EXPECT_EQ(Delete(kContacts, "10001").header.nStatus, ST_FAILED);

    ListContents(kContacts);
    ListContents(kSchedule);
    int databaseWalks = Count(session.LogText(), "DBNAME[");
    for (const char *type : {kContacts, kSchedule}) {
        Answer get = Get(type, "ffffff");
        EXPECT_EQ(get.header.nStatus, ST_FAILED);
        EXPECT_TRUE(get.body.empty());
        EXPECT_EQ(Delete(type, "ffffff").header.nStatus, ST_FAILED);
    }
    std::string log = session.LogText();
    EXPECT_EQ(Count(log, "DBNAME["), databaseWalks);
    EXPECT_EQ(Count(log, "CAN'T FIND ID[ffffff]"), 2);
    EXPECT_EQ(Count(log, "ID[ffffff] NOT FOUND"), 2);
    EXPECT_EQ(Database(24)["records"].size(), 20u);
    EXPECT_EQ(Database(25)["records"].size(), 10u);
}

TEST_F(PimTest, AppointmentsShiftTheStartAndDeriveDurationAndWholeDay) {
    PcTimeZone utc(kUtc);
    if (!utc.InForce()) GTEST_SKIP() << "needs a PC in UTC";
    Connect();
    std::string meeting =
        AddAndFind(kSchedule, "TITLE=Meeting||STARTTIME=20090601T100000Z||ENDTIME=20090601T113000Z", "Meeting");
    auto props = Props(25, meeting);
    EXPECT_EQ(props["0x0020"], "Meeting");
    EXPECT_EQ(props["0x1042"], "2009-06-01T01:00:00");  // nine hours taken off
    EXPECT_EQ(props["0x1040"], 90);
    EXPECT_EQ(props["0x0044"], false);
    EXPECT_EQ(XmlText(Get(kSchedule, meeting)),
              "TITLE=Meeting||WHOLEDAY=FALSE||DURATION=90||STARTTIME=20090601T010000Z||ENDTIME=20090601T023000Z||ID=" +
                  meeting);

    // A day from midnight to midnight becomes a whole-day appointment.
    std::string day = AddAndFind(kSchedule, "TITLE=Day||STARTTIME=20090601T000000Z||ENDTIME=20090602T000000Z", "Day");
    EXPECT_EQ(Props(25, day)["0x1040"], 1440);
    EXPECT_EQ(Props(25, day)["0x0044"], true);
    EXPECT_EQ(XmlText(Get(kSchedule, day)),
              "TITLE=Day||WHOLEDAY=TRUE||STARTTIME=20090531T150000Z||ENDTIME=20090601T150000Z||ID=" + day);
    EXPECT_GE(Count(session.LogText(), "Whole Day Schedule"), 1);

    // Only "TRUE" means whole day; no STARTTIME and no DURATION: WHOLEDAY alone.
    std::string lower = AddAndFind(kSchedule, "TITLE=Lower||WHOLEDAY=true||LOCATION=Here", "Lower");
    EXPECT_EQ(Props(25, lower),
              (std::map<std::string, json>{{"0x0020", "Lower"}, {"0x0041", "Here"}, {"0x0044", false}}));
    // A start that has no date goes out as FILETIME 0.
    std::string bad = AddAndFind(kSchedule, "TITLE=Bad||STARTTIME=2009||DURATION=30", "Bad");
    EXPECT_EQ(Props(25, bad)["0x1040"], 30);
    EXPECT_EQ(Props(25, bad)["0x1042"], "1601-01-01T00:00:00");

    // An empty title still reads back as TITLE=.
    ASSERT_EQ(Put(kSchedule, "LOCATION=Nowhere||WHOLEDAY=TRUE").header.nStatus, ST_OK);
    std::vector<Content> contents = ListContents(kSchedule);
    ASSERT_EQ(contents.size(), 15u);
    const Content &untitled = contents.back();
    EXPECT_EQ(untitled.count("Title"), 0u);
    EXPECT_EQ(XmlText(Get(kSchedule, untitled.at("ID"))).rfind("TITLE=||LOCATION=Nowhere||WHOLEDAY=TRUE||", 0), 0u);

    EXPECT_EQ(Delete(kSchedule, meeting).header.nStatus, ST_OK);
    EXPECT_TRUE(Props(25, meeting).empty());
    EXPECT_EQ(Delete(kContacts, day).header.nStatus, ST_FAILED);  // not a contact ID
}

TEST_F(PimTest, AppointmentEndFollowsThePcTimeZone) {
    Connect([](json &volume) {
        for (json &database : volume["databases"]) {
            if (database["type"] != 25) continue;
            json props = json::array();
            props.push_back(Prop("0x0020", "string", "T"));
            props.push_back(Prop("0x1042", "filetime", "2009-06-01T10:00:00"));
            props.push_back(Prop("0x1040", "ui4", 90));
            database["records"] = json::array();
            database["records"].push_back(json{{"oid", 0x3f001}, {"props", props}});
        }
    });
    for (auto [zone, end] : {std::pair{kSeoul, "20090601T203000Z"}, std::pair{kUtc, "20090601T113000Z"},
                             std::pair{kNewYork, "20090601T073000Z"}}) {
        PcTimeZone pcZone(zone);
        if (!pcZone.InForce()) continue;
        ASSERT_EQ(ListContents(kSchedule).size(), 1u);
        EXPECT_EQ(XmlText(Get(kSchedule, "3f001")),
                  std::string("TITLE=T||WHOLEDAY=FALSE||DURATION=90||STARTTIME=20090601T100000Z||ENDTIME=") + end +
                      "||ID=3f001")
            << zone.tz;
    }
}

TEST_F(PimTest, CallListingNamesEveryKindAndAnyCallhistoryTypeListsAll) {
    auto call = [](uint32_t oid, const char *name, const char *number, int type) {
        json props = json::array();
        if (name) props.push_back(Prop("0x0007", "string", name));
        if (number) props.push_back(Prop("0x0006", "string", number));
        props.push_back(Prop("0x0002", "filetime", "2009-06-01T10:20:30"));
        props.push_back(Prop("0x0004", "i4", type));
        return json{{"oid", oid}, {"props", props}};
    };
    Connect([&](json &volume) {
        for (json &database : volume["databases"]) {
            if (database["type"] != 0) continue;
            database["records"] = json::array({call(0x40001, "Kim", "0101", 7), call(0x40002, nullptr, "0102", 2055),
                                               call(0x40003, "Lee", nullptr, 2054), call(0x40004, "Park", "0104", 3),
                                               call(0x40005, "Choi", "0105", 4), call(0x40006, nullptr, "0106", 5)});
        }
    });
    EXPECT_EQ(Get("callhistory", "40001").header.nStatus, ST_FAILED);  // no call list yet
    std::vector<Content> contents = ListContents("callhistory/miss");
    // Every call is in the call list group with its start time; the kind names its type.
    const struct {
        const char *id, *title, *type;  // no title: neither name nor number
    } expected[] = {
        {"40001", "0101;Kim", "callhistory/sent"},  {"40002", "0102", "callhistory/sent"},
        {"40003", nullptr, "callhistory/recv"},     {"40004", "0104;Park", "callhistory/unknown"},
        {"40005", "0105;Choi", "callhistory/miss"}, {"40006", "0106", "callhistory/callfail"},
    };
    ASSERT_EQ(contents.size(), std::size(expected));
    for (size_t i = 0; i < contents.size(); ++i) {
        Content want = {{"ID", expected[i].id},
                        {"Group", "TRG-CALLLIST"},
                        {"Type", expected[i].type},
                        {"StartTime", "20090601T102030Z"}};
        if (expected[i].title) want["Title"] = expected[i].title;
        EXPECT_EQ(contents[i], want);
    }
    EXPECT_NE(session.LogText().find("[40001][Kim][0101][20090601T102030Z][7]"), std::string::npos);
    // A call has no item text of its own.
    Answer item = Get("callhistory", "40001");
    EXPECT_EQ(item.header.nStatus, ST_UNSUPPORTED);
    EXPECT_TRUE(item.body.empty());
}

TEST_F(PimTest, EmptyAndMissingDatabasesAnswerAnEmptyListing) {
    Connect([](json &volume) {
        json kept = json::array();
        for (json &database : volume["databases"]) {
            if (database["type"] == 24) database["records"] = json::array();
            if (database["type"] != 25) kept.push_back(database);  // no appointments database at all
        }
        volume["databases"] = kept;
    });
    Answer contacts = List(kContacts);
    EXPECT_EQ(contacts.header.nStatus, ST_OK);
    EXPECT_TRUE(Contents(XmlText(contacts)).empty());
    EXPECT_NE(XmlText(contacts).find("<Contents-listing Version=\"1.0\"/>"), std::string::npos);

    EXPECT_TRUE(ListContents(kSchedule).empty());
    EXPECT_NE(session.LogText().find("CeEdbOpenDatabaseInSession Fail (0x"), std::string::npos);
    EXPECT_EQ(Put(kSchedule, "TITLE=Nowhere").header.nStatus, ST_FAILED);
}

TEST_F(PimTest, WithoutPimVolumeTheConnectionStandsAndListingsAreEmpty) {
    Connect(nullptr, [](json &device) { device["pimVolumeMissing"] = true; });
    EXPECT_EQ(session.agent.Request(CMD_CONNECT, 0).header.nStatus, ST_OK);
    std::string log = session.LogText();
    EXPECT_NE(log.find("CeEdbMountDBVolEx(pim) FAIL"), std::string::npos);
    EXPECT_NE(log.find("EDB Mount Error Fail ("), std::string::npos);
    EXPECT_TRUE(ListContents(kContacts).empty());
    EXPECT_TRUE(ListContents("callhistory").empty());
    EXPECT_NE(session.LogText().find("This Session is not initialized Session Handle is Invalid"), std::string::npos);
    EXPECT_EQ(Put(kContacts, "FIRSTNAME=A").header.nStatus, ST_FAILED);
}

TEST_F(PimTest, AMessageDeleteBeforeAnyListingFails) {
    Connect();
    EXPECT_EQ(Delete("smsdata/recv", "50001").header.nStatus, ST_FAILED);
    EXPECT_NE(session.LogText().find("m_pSmsRecvList is Null"), std::string::npos);
}

// One listing of each kind against the demo phone, byte for byte. Set
// CEBRIDGE_UPDATE_GOLDEN=1 to rewrite the files after a deliberate change.
TEST_F(PimTest, ListingsMatchTheirGoldenFiles) {
    PcTimeZone utc(kUtc);
    if (!utc.InForce()) GTEST_SKIP() << "the golden files were made in UTC";
    Connect();
    const fs::path golden = fs::path(CEBRIDGE_TEST_SOURCE_DIR) / "tests" / "golden" / "pim";
    for (auto [type, file] :
         {std::pair{kContacts, "phonebook_listing.xml"}, std::pair{kSchedule, "schedule_listing.xml"},
          std::pair{"callhistory", "callhistory_listing.xml"}, std::pair{"smsdata/recv", "smsdata_recv_listing.xml"},
          std::pair{"smsdata/send", "smsdata_send_listing.xml"}}) {
        Answer answer = List(type);
        ASSERT_EQ(answer.header.nStatus, ST_OK);
        if (getenv("CEBRIDGE_UPDATE_GOLDEN")) {
            fs::create_directories(golden);
            std::ofstream(golden / file, std::ios::binary) << XmlText(answer);
        }
        // The body is one PAR_XMLBODY: code, little-endian length, then the text.
        std::string text = ReadFileText(golden / file);
        ASSERT_FALSE(text.empty()) << file;
        const uint32_t length = static_cast<uint32_t>(text.size());
        std::vector<uint8_t> body = {PAR_XMLBODY, static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8),
                                     static_cast<uint8_t>(length >> 16), static_cast<uint8_t>(length >> 24)};
        body.insert(body.end(), text.begin(), text.end());
        EXPECT_EQ(answer.body, body) << file;
        EXPECT_EQ(answer.header.nBodyLength, length + 5) << file;
    }
}

}  // namespace

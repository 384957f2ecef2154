// What the phone cannot keep of a contact or appointment is named where it happens:
// fields cut to the phone's widths, characters its code page lacks, the nickname and
// ID number that share one phone property. (Exports and imports: hostcore/interop_test.cpp.)
#include <set>

#include "host_fixture.h"

namespace fs = std::filesystem;

namespace {

class HostPimKept : public HostCli {
protected:
    std::string File(const std::string &name) { return (m_home.path() / name).string(); }

    // The changes a --json add or import item reports, as "FIELD change" words.
    static std::vector<std::string> Changes(const nlohmann::json &changes) {
        std::vector<std::string> words;
        for (const auto &change : changes)
            words.push_back(change["field"].get<std::string>() + " " + change["change"].get<std::string>());
        return words;
    }

    // The ID of the listed item of `kind` whose title starts with `title`.
    std::string IdOf(const std::string &kind, const std::string &title) {
        const nlohmann::json listing = Json(Host({"--json", kind}));
        for (const auto &item : listing["items"])
            if (item["title"].get<std::string>().rfind(title, 0) == 0) return item["id"];
        return "";
    }

    void EditVolume(const char *volume, const std::function<void(nlohmann::json &)> &edit) {
        fs::path file = m_phone.path() / "volumes" / volume;
        nlohmann::json image = nlohmann::json::parse(ReadFileText(file));
        edit(image);
        WriteFileText(file, image.dump());
    }
};

const std::string kLongMail = std::string(60, 'x') + "@example.kr";  // 71 bytes
const std::string kIdNumber = "800101-1234567";

TEST_F(HostPimKept, AnAddNamesWhatThePhoneCutReplacedAndMerged) {
    HostRun add = Host({"--json", "contacts", "add", "FIRSTNAME=Zo\u00eb", "LASTNAME=" + std::string(40, 'L'),
                        "EMAIL1ADDRESS=" + kLongMail, "NICKNAME=Gil", "GOVERNMENTID=" + kIdNumber});
    ASSERT_EQ(add.exitCode, 0) << add.err;
    nlohmann::json added = Json(add);
    std::vector<std::string> changes = Changes(added["changes"]);
    for (const char *expected : {"LASTNAME cut", "EMAIL1ADDRESS cut", "FIRSTNAME replaced", "NICKNAME merged"})
        EXPECT_NE(std::find(changes.begin(), changes.end(), expected), changes.end()) << expected << added.dump();
    for (const auto &change : added["changes"]) {
        if (change["field"] == "EMAIL1ADDRESS") {
            EXPECT_EQ(change["keptBytes"], 63) << change.dump();
        }
        if (change["field"] == "NICKNAME") {
            EXPECT_EQ(change["kept"], "GOVERNMENTID") << change.dump();
        }
    }
    // The same in words, and for an appointment whose title the phone keeps but whose
    // reads give only its start.
    HostRun text = Host({"contacts", "add", "FIRSTNAME=A", "WEBPAGE=http://" + std::string(130, 'w')});
    EXPECT_NE(text.out.find("WEBPAGE cut to 127 bytes of 137"), std::string::npos) << text.out;
    HostRun title = Host({"calendar", "add", "TITLE=" + std::string(200, 'T'), "STARTTIME=2026-06-10 10:00"});
    EXPECT_NE(title.out.find("reads give only its first 123 bytes of the 200"), std::string::npos) << title.out;
}

TEST_F(HostPimKept, AnIdNumberIsNeverShownAsANickname) {
    ASSERT_EQ(Host({"contacts", "add", "FIRSTNAME=Id", "GOVERNMENTID=" + kIdNumber}).exitCode, 0);
    ASSERT_EQ(Host({"contacts", "add", "FIRSTNAME=Nick", "NICKNAME=Gil"}).exitCode, 0);
    for (const auto &[name, value] : {std::pair<std::string, std::string>{"Id", kIdNumber}, {"Nick", "Gil"}}) {
        nlohmann::json fields = Json(Host({"--json", "contacts", "show", IdOf("contacts", name)}))["fields"];
        EXPECT_FALSE(fields.contains("NICKNAME") || fields.contains("GOVERNMENTID")) << fields.dump();
        EXPECT_EQ(fields["NICKNAME/GOVERNMENTID"], value) << fields.dump();
    }
}

TEST_F(HostPimKept, ShowsAndBackupsSayWhatThePhonesWidthsMayHaveCut) {
    ASSERT_EQ(Host({"contacts", "add", "FIRSTNAME=Mail", "EMAIL1ADDRESS=" + kLongMail}).exitCode, 0);
    ASSERT_EQ(Host({"calendar", "add", "TITLE=" + std::string(200, 'T'), "STARTTIME=2026-06-10 10:00"}).exitCode, 0);
    nlohmann::json contact = Json(Host({"--json", "contacts", "show", IdOf("contacts", "Mail")}));
    EXPECT_EQ(contact["mayBeCut"]["EMAIL1ADDRESS"], 63) << contact.dump();
    HostRun shown = Host({"calendar", "show", IdOf("calendar", "TTT")});
    EXPECT_NE(shown.out.find("TITLE (123 bytes)"), std::string::npos) << shown.out;
    // Messages and calls the phone holds longer than its reads give.
    EditVolume("sms.vol.json", [](nlohmann::json &image) {
        image["databases"][0]["records"][0]["props"][1]["value"] = std::string(200, 'm');
    });
    EditVolume("pim.vol.json", [](nlohmann::json &image) {
        for (auto &database : image["databases"])
            if (database["type"] == 0) database["records"][0]["props"][0]["value"] = std::string(40, 'n');
    });
    nlohmann::json message = Json(Host({"--json", "sms", "show", Json(Host({"--json", "sms"}))["items"][0]["id"]}));
    EXPECT_EQ(message["mayBeCut"]["text"], 123) << message.dump();
    // A backup writes the files of the exports, and says what they may hold cut.
    nlohmann::json backup = Json(Host({"--json", "backup", File("phone")}));
    std::set<std::string> files;
    for (const auto &item : backup["mayBeCut"]) files.insert(item.value("file", ""));
    EXPECT_EQ(files, (std::set<std::string>{"calendar.ics", "calls.json", "contacts.vcf", "sms.json"})) << backup;
    EXPECT_NE(Host({"backup", File("phone")}).out.find("contacts.vcf: may have been cut"), std::string::npos);
    // Listings mark a value as long as its field allows, in JSON and with a closing mark.
    ASSERT_EQ(Host({"contacts", "add", "FIRSTNAME=" + std::string(70, 'F')}).exitCode, 0);
    for (const auto &[kind, key] : std::vector<std::pair<std::string, std::string>>{
             {"contacts", "FIRSTNAME"}, {"calendar", "title"}, {"calls", "name"}, {"sms", "text"}}) {
        size_t marked = 0;
        const nlohmann::json listing = Json(Host({"--json", kind}));
        for (const auto &item : listing["items"]) marked += item["mayBeCut"].contains(key);
        EXPECT_GE(marked, 1) << kind;
        EXPECT_NE(Host({kind}).out.find("\u2026"), std::string::npos) << kind;
    }
}

// Contacts list by the names people read: "John Smith", a Korean name family name
// first, a company when there is no name; the phone's own composed name stays in JSON.
TEST_F(HostPimKept, ContactsListByReadableNames) {
    ASSERT_EQ(Host({"contacts", "add", "COMPANYNAME=ACME"}).exitCode, 0);
    const std::string listed = WithLfEnds(Host({"contacts"}).out);
    for (const char *name : {"John Smith\n", "\ud64d\uae38\ub3d9\n", "ACME\n"})
        EXPECT_NE(listed.find(name), std::string::npos) << name << listed;
    bool composed = false;
    const nlohmann::json listing = Json(Host({"--json", "contacts"}));
    for (const auto &item : listing["items"]) composed |= item["title"] == "SmithJohn" && item["name"] == "John Smith";
    EXPECT_TRUE(composed);
}

}  // namespace

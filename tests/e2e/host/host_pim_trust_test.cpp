// Contacts, appointments and messages come out of the phone as they went in, or the
// user is told: text holding markup or the item text's separator, partial reads.
#include "host_fixture.h"

namespace fs = std::filesystem;

namespace {

class HostPimTrust : public HostCli {
protected:
    std::string File(const std::string &name) { return (m_home.path() / name).string(); }

    // The listed item of `kind` whose title is `title`, as its JSON.
    nlohmann::json Listed(const std::string &kind, const std::string &title) {
        const nlohmann::json listing = Json(Host({"--json", kind}));
        for (const auto &item : listing["items"])
            if (item["title"] == title) return item;
        return nullptr;
    }

    void EditVolume(const char *volume, const std::function<void(nlohmann::json &)> &edit) {
        fs::path file = m_phone.path() / "volumes" / volume;
        nlohmann::json image = nlohmann::json::parse(ReadFileText(file));
        edit(image);
        WriteFileText(file, image.dump());
    }

    void RemoveAll(const std::string &kind) {
        std::string batch;
        const nlohmann::json listing = Json(Host({"--json", kind}));
        for (const auto &item : listing["items"])
            batch += kind + " rm " + item["id"].get<std::string>() + "\n";
        ASSERT_EQ(Host({"batch", "-"}, batch).exitCode, 0);
    }
};

// Text the plug-in writes into its XML answers as it is: markup characters, a whole
// end tag followed by a sibling's tag, CDATA's end, and "?>" (after which the answer
// carries the DTD again).
TEST_F(HostPimTrust, TextHoldingMarkupListsShowsExportsBacksUpAndRestores) {
    const std::string name = "AT&T <3", title = "<3 & </Title> <Group>x ?> end";
    ASSERT_EQ(Host({"contacts", "add", "FIRSTNAME=" + name}).exitCode, 0);
    ASSERT_EQ(Host({"calendar", "add", "TITLE=" + title, "STARTTIME=2026-06-10 10:00"}).exitCode, 0);
    const std::string message = "see <b> & ]]> here ?> done";
    EditVolume("sms.vol.json", [&](nlohmann::json &image) {
        image["databases"][0]["records"][0]["props"][1]["value"] = message;
    });

    nlohmann::json contact = Listed("contacts", name);
    ASSERT_TRUE(contact.is_object()) << Host({"contacts"}).err;
    EXPECT_EQ(Json(Host({"--json", "contacts", "show", contact["id"]}))["fields"]["FIRSTNAME"], name);
    EXPECT_TRUE(Listed("calendar", title).is_object()) << Host({"calendar"}).out;
    nlohmann::json messages = Json(Host({"--json", "sms"}));
    ASSERT_FALSE(messages["items"].empty()) << messages.dump();
    EXPECT_EQ(messages["items"][0]["text"], message) << messages.dump();

    ASSERT_EQ(Host({"contacts", "export", File("all.vcf")}).exitCode, 0);
    EXPECT_NE(ReadFileText(File("all.vcf")).find("FN:" + name + "\r\n"), std::string::npos);
    HostRun backup = Host({"backup", File("phone")});
    ASSERT_EQ(backup.exitCode, 0) << backup.err;
    RemoveAll("contacts");
    HostRun restore = Host({"--json", "restore", "--contacts", File("phone")});
    ASSERT_EQ(restore.exitCode, 0) << restore.err;
    EXPECT_TRUE(Listed("contacts", name).is_object());
}

}  // namespace

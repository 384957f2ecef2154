// Contacts, appointments and messages come out of the phone as they went in, or the
// user is told: text holding markup or the item text's separator, partial reads.
#include "host_fixture.h"

namespace fs = std::filesystem;

namespace {

// Sets (or adds) a string property of a record of a volume image.
void SetString(nlohmann::json &record, const std::string &id, const std::string &value) {
    for (auto &prop : record["props"])
        if (prop["id"] == id) {
            prop["value"] = value;
            return;
        }
    record["props"].push_back({{"id", id}, {"type", "string"}, {"value", value}});
}

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
        for (const auto &item : listing["items"]) batch += kind + " rm " + item["id"].get<std::string>() + "\n";
        ASSERT_EQ(Host({"batch", "-"}, batch).exitCode, 0);
    }
};

// Text the plug-in writes into its XML answers as it is: markup characters, a whole
// end tag followed by a sibling's tag, CDATA's end, and "?>" (after which the answer
// carries the DTD again). A contact named "AT&T <3" and such an appointment list, show,
// back up and restore whole (exported: hostcore/interop_test.cpp).
TEST_F(HostPimTrust, TextHoldingMarkupListsShowsBacksUpAndRestores) {
    const std::string title = "<3 & </Title> <Group>x ]]> ?> end", place = "R&D <b> ]]>";
    ASSERT_EQ(Host({"contacts", "add", "FIRSTNAME=AT&T", "LASTNAME=<3", "COMPANYNAME=A&B ]]> <Co>"}).exitCode, 0);
    ASSERT_EQ(Host({"calendar", "add", "TITLE=" + title, "LOCATION=" + place, "STARTTIME=2026-06-10 10:00"}).exitCode,
              0);
    const std::string message = "see <b> & ]]> here ?> done";
    EditVolume("sms.vol.json",
               [&](nlohmann::json &image) { image["databases"][0]["records"][0]["props"][1]["value"] = message; });
    nlohmann::json messages = Json(Host({"--json", "sms"}));
    ASSERT_FALSE(messages["items"].empty()) << messages.dump();
    EXPECT_EQ(messages["items"][0]["text"], message) << messages.dump();

    // Each item's shown fields but its ID, found by its listed title.
    auto shown = [&](const std::string &kind, const std::string &listedTitle) {
        const nlohmann::json item = Listed(kind, listedTitle);
        if (!item.is_object()) return nlohmann::json(Host({kind}).out);
        nlohmann::json fields = Json(Host({"--json", kind, "show", item["id"]}))["fields"];
        fields.erase("ID");
        return fields;
    };
    const nlohmann::json contact = shown("contacts", "<3AT&T"), appointment = shown("calendar", title);
    EXPECT_EQ(contact.value("FIRSTNAME", "") + " " + contact.value("LASTNAME", ""), "AT&T <3") << contact.dump();
    EXPECT_EQ(contact.value("COMPANYNAME", ""), "A&B ]]> <Co>");
    EXPECT_EQ(appointment.value("LOCATION", ""), place) << appointment.dump();

    HostRun backup = Host({"backup", File("phone")});
    ASSERT_EQ(backup.exitCode, 0) << backup.err;
    RemoveAll("contacts");
    HostRun restore = Host({"restore", "--contacts", File("phone")});
    ASSERT_EQ(restore.exitCode, 0) << restore.out << restore.err;
    EXPECT_EQ(shown("contacts", "<3AT&T"), contact);
#if defined(CEBRIDGE_HOST_READS_ICALENDAR)
    RemoveAll("calendar");
    restore = Host({"restore", "--calendar", File("phone")});
    ASSERT_EQ(restore.exitCode, 0) << restore.out << restore.err;
    EXPECT_EQ(shown("calendar", title), appointment);
#endif
}

// Nothing escapes "||" in the plug-in's item text: a value holding it and a later
// field's name reads as that value, where what else is known tells them apart.
TEST_F(HostPimTrust, ValuesHoldingTheItemTextsSeparatorStayOneField) {
    EditVolume("pim.vol.json", [](nlohmann::json &image) {
        for (auto &database : image["databases"]) {
            nlohmann::json &records = database["records"];
            if (database["type"] == 24) {
                SetString(records[0], "0x0082", "A||MOBILETELEPHONENUMBER=666");
                SetString(records[0], "0x0096", "010||EMAIL1ADDRESS=x@y.kr");
            }
            if (database["type"] == 25) {
                SetString(records[0], "0x0020", "Meet||LOCATION=Hacked");
                records[0]["props"].erase(1);  // its location
                SetString(records[1], "0x0041", "Room||WHOLEDAY=TRUE||DURATION=5");
            }
        }
    });
    ASSERT_EQ(Host({"contacts"}).exitCode, 0);
    nlohmann::json contact = Json(Host({"--json", "contacts", "show", "10001"}))["fields"];
    EXPECT_EQ(contact["FIRSTNAME"], "A||MOBILETELEPHONENUMBER=666") << contact.dump();
    EXPECT_EQ(contact["MOBILETELEPHONENUMBER"], "010||EMAIL1ADDRESS=x@y.kr");
    EXPECT_EQ(contact["EMAIL1ADDRESS"], "gildong.hong@example.kr");
    nlohmann::json meeting = Json(Host({"--json", "calendar", "show", "20001"}))["fields"];
    EXPECT_EQ(meeting["TITLE"], "Meet||LOCATION=Hacked") << meeting.dump();
    EXPECT_FALSE(meeting.contains("LOCATION"));
    nlohmann::json kickoff = Json(Host({"--json", "calendar", "show", "20002"}))["fields"];
    EXPECT_EQ(kickoff["LOCATION"], "Room||WHOLEDAY=TRUE||DURATION=5") << kickoff.dump();
    EXPECT_EQ(kickoff["WHOLEDAY"], "FALSE");
    ASSERT_EQ(Host({"contacts", "export", File("all.vcf")}).exitCode, 0);
    EXPECT_EQ(ReadFileText(File("all.vcf")).find(":x@y.kr\r\n"), std::string::npos);
}

// The plug-in answers a listing whose record reads failed part way with what it had
// and status OK: no command shows, exports or backs up such a list as whole.
TEST_F(HostPimTrust, AListShortenedByAFailedReadIsNeverShownOrBackedUp) {
    ASSERT_EQ(Host({"backup", File("phone")}).exitCode, 0);
    const std::string contacts = ReadFileText(LatestGeneration(File("phone")) / "contacts.vcf");
    const nlohmann::json fault = {{"operation", "DevCeReadRecordPropsEx"}, {"nth", 5}, {"error", 5}};
    for (const std::vector<std::string> &command : {std::vector<std::string>{"contacts"},
                                                    {"calendar"},
                                                    {"calls"},
                                                    {"contacts", "export", File("c.vcf")},
                                                    {"backup", File("phone")}}) {
        m_phone.EditDevice([&](nlohmann::json &device) { device["faults"] = {fault}; });
        HostRun run = Host(command);
        EXPECT_EQ(run.exitCode, 1) << command[0] << run.out;
        EXPECT_NE(run.err.find("read failed part way"), std::string::npos) << run.err;
    }
    EXPECT_FALSE(fs::exists(File("c.vcf")));
    // A phone whose PIM volume cannot be opened lists nothing, with status OK.
    m_phone.EditDevice([](nlohmann::json &device) {
        device["faults"] = nlohmann::json::array();
        device["pimVolumeMissing"] = true;
    });
    HostRun missing = Host({"backup", File("phone")});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("0 contacts where the last backup has 20"), std::string::npos) << missing.err;
    EXPECT_EQ(ReadFileText(LatestGeneration(File("phone")) / "contacts.vcf"), contacts);
    // A first backup has no earlier one to compare with: the missing phone number
    // (asked only of a phone whose PIM volume opened) tells.
    HostRun first = Host({"backup", File("fresh")});
    EXPECT_EQ(first.exitCode, 1);
    EXPECT_NE(first.err.find("PIM volume did not open"), std::string::npos) << first.err;
    EXPECT_EQ(Host({"backup", "--accept-fewer", File("fresh")}).exitCode, 0);
}

// A character the phone's code page lacks is one '?', however many bytes it takes.
TEST_F(HostPimTrust, ACharacterTheCodePageLacksBecomesOneQuestionMark) {
    // (U+0175 is in neither CP949 nor CP1252; Windows would write a look-alike 'w')
    ASSERT_EQ(Host({"contacts", "add", "FIRSTNAME=Zo\u0175 \u2615"}).exitCode, 0);
    EXPECT_TRUE(Listed("contacts", "Zo? ?").is_object()) << Host({"contacts"}).out;
}

}  // namespace

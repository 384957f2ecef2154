// The export and import commands as scripts and people see them: their --json
// documents, the file on standard output for "-", the count on a terminal, exit codes
// (1 when an item was refused, 3 for a PC file). What the files hold and what an
// import adds: hostcore/interop_test.cpp.
#include "host_fixture.h"

namespace {

class HostInterop : public HostCli {
protected:
    std::string File(const std::string &name) { return (m_home.path() / name).string(); }
};

// The names of an object's members, in order (nlohmann::json keeps them sorted).
std::string Keys(const nlohmann::json &object) {
    std::string keys;
    for (const auto &[key, value] : object.items()) keys += key + " ";
    return keys;
}

TEST_F(HostInterop, ExportAndImportPrintTheirDocumentsAndExitCodes) {
    nlohmann::json exported = Json(Host({"--json", "contacts", "export", File("all.vcf")}));
    EXPECT_EQ(Keys(exported), "file kind mayBeCut written ");
    // "-": the file on standard output, the document on standard error.
    HostRun csv = Host({"--json", "sms", "export", "-"});
    EXPECT_EQ(csv.out.rfind("box,id,number,time,text\r\n", 0), 0u) << csv.out;
    EXPECT_EQ(nlohmann::json::parse(csv.err)["file"], "-") << csv.err;
    // A card the phone can keep nothing of is refused, the others added: exit 1.
    WriteFileText(File("two.vcf"), "BEGIN:VCARD\r\nN:Lee;" + std::string(70, 'A') +
                                       "\r\nEND:VCARD\r\nBEGIN:VCARD\r\nPHOTO:data:,x\r\nEND:VCARD\r\n");
    HostRun imported = Host({"--json", "contacts", "import", File("two.vcf")});
    EXPECT_EQ(imported.exitCode, 1) << imported.err;
    EXPECT_EQ(WithLfEnds(imported.err),
              "cebridge: contacts import: the phone refused 1 item (each is named in the report)\n");
    const nlohmann::json document = Json(imported);
    EXPECT_EQ(Keys(document), "added file items kind notes refused skipped ");
    EXPECT_EQ(Keys(document["items"].at(0)), "changes name notKept result ") << document;
    EXPECT_EQ(Keys(document["items"].at(1)), "name result why ") << document;
    // On a terminal (--progress stands in for one) an import counts its items.
    HostRun counted = Host({"--progress", "contacts", "import", File("two.vcf")});
    EXPECT_NE(WithLfEnds(counted.out).find("added 1, skipped 0, refused 1\n"), std::string::npos) << counted.out;
    EXPECT_NE(counted.err.find("\rcontacts import  2/2  100%"), std::string::npos) << counted.err;
    // A file the import cannot read is the PC's fault: exit 3.
    EXPECT_EQ(Host({"--json", "contacts", "import", m_home.str()}).exitCode, 3);
}

#if !defined(CEBRIDGE_HOST_READS_ICALENDAR)
TEST_F(HostInterop, CalendarImportSaysThisBuildCannotReadCalendars) {
    WriteFileText(File("a.ics"), "BEGIN:VCALENDAR\r\nEND:VCALENDAR\r\n");
    HostRun run = Host({"calendar", "import", File("a.ics")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("reads no iCalendar files"), std::string::npos) << run.err;
}
#endif

}  // namespace

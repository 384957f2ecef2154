// --json through the built host: every exit prints exactly one document on standard
// output, with the exit code of its kind; batch prints one compact document per line.
#include "host_fixture.h"

namespace fs = std::filesystem;

namespace {

TEST_F(HostCli, EveryExitPrintsOneJsonDocument) {
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string error;
        std::string kind;
    };
    const std::vector<Case> cases = {
        {{"--json", "frobnicate"}, 2, "unknown command 'frobnicate'", "badInput"},
        {{"--json", "get"}, 2, "", "badInput"},
        {{"--json", "put", (m_home.path() / "missing.bin").string()}, 3, "missing.bin", "pcFile"},
        {{"--json", "get", "/My Documents/readme.txt", "/no/such/folder/x"}, 3, "", "pcFile"},
        {{"--json", "get", "/My Documents/nothere.txt", m_home.str()}, 1, "no such file on the phone", "notFound"},
        {{"--json", "rm", "/없는 파일.txt"}, 1, "no such file on the phone: \\없는 파일.txt", "notFound"},
        {{"--json", "ls", "/No Such Folder"}, 1, "", "notFound"},
    };
    for (const Case &c : cases) {
        HostRun run = Host(c.args);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        nlohmann::json document = Json(run);
        EXPECT_EQ(document["exitCode"], c.exitCode) << run.out;
        EXPECT_NE(document.value("error", "").find(c.error), std::string::npos) << run.out;
        EXPECT_EQ(document["kind"], c.kind) << run.out;
    }

    m_phone.EditDevice([](nlohmann::json &device) { device["link"]["initRefused"] = true; });
    HostRun refused = Host({"--json", "info"});
    EXPECT_EQ(refused.exitCode, 5);
    EXPECT_EQ(Json(refused)["exitCode"], 5);
    EXPECT_EQ(Json(refused)["kind"], "noConnection");
}

// The plug-in prints on the process's standard output (here: the phone number could
// not be read); that belongs in the log, never in front of the host's document.
TEST_F(HostCli, ThePluginsOwnPrintsGoToTheLogNotTheOutput) {
    m_phone.EditDevice([](nlohmann::json &device) { device["phoneNumberUnreadable"] = true; });
    for (const char *command : {"info", "ls"}) {
        HostRun run = Host({"--json", command});
        EXPECT_EQ(Json(run)["exitCode"], 5) << run.out;
    }
    EXPECT_NE(LogText().find("Could not get Min information!"), std::string::npos);
}

TEST_F(HostCli, InstallOfALocalPackagePrintsOneDocument) {
    fs::path cab = m_home.path() / "local.cab";
    WriteFileText(cab, "MSCF package");
    HostRun install = Host({"--json", "install", cab.string()});
    EXPECT_EQ(install.exitCode, 0) << install.err;
    EXPECT_EQ(Json(install)["installing"], "\\local.cab");
}

TEST_F(HostCli, BatchPrintsOneCompactDocumentPerLineAndNamesTheFailingLine) {
    HostRun batch = Host({"--json", "batch", "-"}, "pwd\nls /   # the root\n\nrm /nothing-here\nls /\n");
    EXPECT_EQ(batch.exitCode, 1);
    std::vector<nlohmann::json> documents = JsonLines(batch);
    ASSERT_EQ(documents.size(), 3u) << batch.out;
    EXPECT_EQ(documents[0]["path"], "\\");
    EXPECT_TRUE(documents[1].contains("entries"));
    EXPECT_EQ(documents[2]["line"], 4);
    EXPECT_EQ(documents[2]["exitCode"], 1);
    EXPECT_NE(batch.err.find("line 4: no such file on the phone: \\nothing-here"), std::string::npos) << batch.err;
}

}  // namespace

// The host program end to end: the first things a user tries, and Ctrl-C.
#include "host_fixture.h"

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <sstream>

#if !defined(_WIN32)
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char **environ;
#endif

namespace fs = std::filesystem;

namespace {

TEST_F(HostCli, InfoShowsTheDemoPhoneAsTableAndJson) {
    HostRun table = Host({"info"});
    ASSERT_EQ(table.exitCode, 0) << table.err;
    EXPECT_NE(table.out.find("MV-2400"), std::string::npos) << table.out;
    EXPECT_NE(table.out.find("010-2345-6789"), std::string::npos);
    EXPECT_NE(table.out.find("Storage Card"), std::string::npos);

    nlohmann::json info = Json(Host({"--json", "info"}));
    EXPECT_EQ(info["model"], "MV-2400");
    EXPECT_EQ(info["phoneNumber"], "010-2345-6789");
    EXPECT_EQ(info["cebridge"], CEBRIDGE_VERSION);
    ASSERT_GE(info["memories"].size(), 2u);
    EXPECT_EQ(info["memories"][0]["location"], "0");
    EXPECT_EQ(info["memories"][0]["type"], "Internal");
}

TEST_F(HostCli, ListingShowsKoreanNamesInUtf8) {
    HostRun run = Host({"ls", "/My Documents"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("회의록.txt"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("readme.txt"), std::string::npos);

    nlohmann::json listing = Json(Host({"--json", "ls", "/My Documents"}));
    bool sawFolder = false, sawKorean = false;
    for (const auto &entry : listing["entries"]) {
        sawFolder |= entry["folder"].get<bool>() && entry["name"] == "Templates";
        sawKorean |= entry["name"] == "회의록.txt";
    }
    EXPECT_TRUE(sawFolder);
    EXPECT_TRUE(sawKorean);
}

TEST_F(HostCli, MessagesListShowAndRemoveWithKoreanInUtf8) {
    ScopedEnv utc("TZ", "UTC0");  // the phone's times are shown in the PC's
    nlohmann::json received = Json(Host({"--json", "sms"}));
    ASSERT_EQ(received["items"].size(), 13u) << received.dump();
    const nlohmann::json first = {{"id", "50001"},
                                  {"box", "recv"},
                                  {"number", "010-1234-5678"},
                                  {"time", "2026-11-20T09:12:00+00:00"},
                                  {"text", "내일 회의 10시로 변경되었습니다."},
                                  {"mayBeCut", nlohmann::json::object()}};
    EXPECT_EQ(received["items"][0], first);
    nlohmann::json sent = Json(Host({"--json", "sms", "sent"}));
    ASSERT_EQ(sent["items"].size(), 9u);
    EXPECT_EQ(sent["items"][0]["text"], "네, 알겠습니다.");

    // The table cuts texts to the terminal; show prints one whole.
    ScopedEnv columns("COLUMNS", "60");
    HostRun table = Host({"sms"});
    ASSERT_EQ(table.exitCode, 0) << table.err;
    EXPECT_NE(table.out.find("50001  010-1234-5678    2026-11-20 09:12:00 +00:00  내일"), std::string::npos)
        << table.out;
    EXPECT_NE(table.out.find("..."), std::string::npos) << table.out;
    HostRun shown = Host({"sms", "show", "5000b"});
    ASSERT_EQ(shown.exitCode, 0) << shown.err;
    std::string lines = shown.out;  // Windows ends lines with CR LF
    lines.erase(std::remove(lines.begin(), lines.end(), '\r'), lines.end());
    EXPECT_NE(lines.find("From: +1-415-555-0120\n"), std::string::npos) << shown.out;
    EXPECT_NE(lines.find("the venue is confirmed for the 14t\n"), std::string::npos) << shown.out;

    EXPECT_EQ(Host({"sms", "rm", "50002"}).exitCode, 0);
    EXPECT_EQ(Host({"sms", "rm", "--sent", "50109"}).exitCode, 0);
    EXPECT_EQ(Json(Host({"--json", "sms"}))["items"].size(), 12u);
    EXPECT_EQ(Json(Host({"--json", "sms", "sent"}))["items"].size(), 8u);
    EXPECT_EQ(Host({"sms", "show", "50002"}).exitCode, 1);
}

TEST_F(HostCli, BatchAndShellRunScriptsInOneSession) {
    const std::string script =
        "# make a folder, go there, and look\n"
        "mkdir '/My Documents/Trip'\n"
        "ls \"/My Documents\"\n"
        "calls\n";
    HostRun batch = Host({"batch", "-"}, script);
    ASSERT_EQ(batch.exitCode, 0) << batch.err;
    EXPECT_TRUE(fs::is_directory(m_phone.fs() / "My Documents" / "Trip"));
    EXPECT_NE(batch.out.find("Trip"), std::string::npos) << batch.out;
    EXPECT_NE(batch.out.find("recv"), std::string::npos) << batch.out;

    HostRun shell = Host({"shell"}, "cd '/My Documents'\npwd\nls\nexit\n");
    ASSERT_EQ(shell.exitCode, 0) << shell.err;
    EXPECT_NE(shell.out.find("\\My Documents"), std::string::npos) << shell.out;
    EXPECT_NE(shell.out.find("readme.txt"), std::string::npos) << shell.out;

    HostRun failing = Host({"batch", "-"}, "rm /nothing-here\nls /\n");
    EXPECT_EQ(failing.exitCode, 1);
}

// Paths as the prompt shows them, folders as cp takes them, wildcards in ls, and a
// script saved with a byte-order mark. Unquoted backslashes are path separators (of
// phone paths, of Windows PC paths): only a blank, a quote or '#' after one is escaped.
TEST_F(HostCli, ShellPathsReadAsThePromptShowsThem) {
    const fs::path memo = m_home.path() / "memo.txt";
    WriteFileText(memo, "memo");
    const std::string script =
        "\xEF\xBB\xBF"
        "cd \\My\\ Documents\\Templates\ncd \\Windows\npwd\n"
        "cd \"\\Storage Card\\Music\"\npwd\nput " +
        memo.string() + " \\My\\ Documents\\\nls '/My Documents/*.TXT'\n";
    HostRun batch = Host({"batch", "-"}, script);
    ASSERT_EQ(batch.exitCode, 0) << batch.err;
    EXPECT_NE(WithLfEnds(batch.out).find("\\Windows\n\\Storage Card\\Music\n"), std::string::npos) << batch.out;
    EXPECT_EQ(ReadFileText(m_phone.fs() / "My Documents" / "memo.txt"), "memo");
    EXPECT_NE(batch.out.find("회의록.txt"), std::string::npos) << batch.out;
    EXPECT_NE(batch.out.find("memo.txt"), std::string::npos) << batch.out;
    EXPECT_EQ(batch.out.find("DSC_0001.jpg"), std::string::npos) << batch.out;
}

TEST_F(HostCli, VersionHelpAndCodePagesAreThere) {
    HostRun version = Host({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out.rfind("cebridge ", 0), 0u) << version.out;
    for (const char *flag : {"--version", "--help"}) {  // scripts asking for JSON get one document
        HostRun asked = Host({"--json", flag});
        EXPECT_EQ(asked.exitCode, 0);
        EXPECT_TRUE(nlohmann::json::accept(asked.out)) << asked.out;
    }
    HostRun help = Host({"shell"}, "help\nhelp get\nexit\n");
    EXPECT_NE(help.out.find("pwd"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("REMOTE"), std::string::npos) << help.out;
    {
        ScopedEnv number("CEBRIDGE_CODEPAGE", "949");
        EXPECT_NE(Host({"ls", "/My Documents"}).out.find("회의록.txt"), std::string::npos);
    }
#if !defined(_WIN32)  // (Windows converts with the system's ANSI code page)
    ScopedEnv unknown("CEBRIDGE_CODEPAGE", "nope");
    HostRun refused = Host({"info"});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_NE(refused.err.find("949, 1252, 65001"), std::string::npos) << refused.err;
#endif
}

// Folders named on the command line reach the emulator and the plug-in whole,
// whatever their script.
TEST_F(HostCli, PhoneAndLogFoldersMayHaveKoreanNames) {
    fs::path phone = m_home.path() / u8"내 전화", logs = m_home.path() / u8"기록";
    fs::copy(m_phone.path(), phone, fs::copy_options::recursive);
    HostRun info = Host({"--device", phone.string(), "--log-dir", logs.string(), "info"});
    EXPECT_EQ(info.exitCode, 0) << info.err;
    EXPECT_NE(info.out.find("010-2345-6789"), std::string::npos) << info.out;
    EXPECT_TRUE(fs::is_directory(logs) && !fs::is_empty(logs));
}

#if !defined(_WIN32)
TEST_F(HostCli, LogsGoToTheRuntimeFolderByDefaultAndLastSevenDays) {
    fs::path runtime = m_home.path() / "run";
    fs::create_directories(runtime / "cebridge");
    WriteFileText(runtime / "cebridge" / "cebridge_20200101.log", "old\n");
    WriteFileText(runtime / "cebridge" / "notes.txt", "mine\n");
    ScopedEnv runtimeDir("XDG_RUNTIME_DIR", runtime.string());
    ScopedEnv noLogDir("CEBRIDGE_LOG_DIR", "");
    ASSERT_EQ(Host({"info"}).exitCode, 0);
    EXPECT_FALSE(fs::exists(runtime / "cebridge" / "cebridge_20200101.log"));
    EXPECT_TRUE(fs::exists(runtime / "cebridge" / "notes.txt"));
    size_t logs = 0;
    for (const auto &entry : fs::directory_iterator(runtime / "cebridge"))
        logs += entry.path().extension() == ".log" ? 1 : 0;
    EXPECT_EQ(logs, 1u);
}

// Without XDG_RUNTIME_DIR the log still goes to memory, into a folder only this
// user can open, its files readable by this user only; a log folder that cannot be
// written is reported.
TEST_F(HostCli, LogsStayPrivateInMemoryAndAnUnwritableLogFolderIsSaid) {
    ScopedEnv noRuntimeDir("XDG_RUNTIME_DIR", "");
    ScopedEnv noLogDir("CEBRIDGE_LOG_DIR", "");
    ASSERT_EQ(Host({"info"}).exitCode, 0);
    const fs::path memory = "/dev/shm/cebridge-" + std::to_string(getuid());
    EXPECT_EQ(fs::status(memory).permissions() & fs::perms::all, fs::perms::owner_all);
    size_t logs = 0;
    for (const auto &entry : fs::directory_iterator(memory))
        if (entry.path().extension() == ".log") {
            ++logs;
            EXPECT_EQ(entry.status().permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
        }
    EXPECT_GE(logs, 1u);

    WriteFileText(m_home.path() / "afile", "");
    HostRun unwritable = Host({"--log-dir", (m_home.path() / "afile" / "logs").string(), "info"});
    EXPECT_EQ(unwritable.exitCode, 0);
    EXPECT_NE(unwritable.err.find("no log this session"), std::string::npos) << unwritable.err;
}

// With the user's own folders unwritable, the agent's settings live in memory for
// the session; the warning names the folder that could not be written.
TEST_F(HostCli, AnUnwritableHomeGivesOneTrueWarning) {
    WriteFileText(m_home.path() / "afile", "");
    const std::string blocked = (m_home.path() / "afile").string();
    ScopedEnv data("XDG_DATA_HOME", blocked + "/data"), config("XDG_CONFIG_HOME", blocked + "/config");
    ScopedEnv registry("CEBRIDGE_REGISTRY", ""), runtime("XDG_RUNTIME_DIR", (m_home.path()).string());
    HostRun info = Host({"info"});
    EXPECT_EQ(info.exitCode, 0) << info.err;
    EXPECT_NE(info.err.find("cannot make " + blocked + "/data/cebridge/dtd"), std::string::npos) << info.err;
    EXPECT_NE(info.err.find("keeps the agent's settings in"), std::string::npos) << info.err;
    EXPECT_EQ(info.err.find("Check Registry"), std::string::npos) << info.err;
}

// Runs the host with `args` and sends it `signal` once its first progress event shows
// the transfer is under way; its exit code.
int InterruptedHost(const std::vector<std::string> &args, const fs::path &err, int signal = SIGINT) {
    std::vector<std::string> words = {HostProgram(), "--json"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int spawned = posix_spawn(&pid, words[0].c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    for (int i = 0; i < 600 && ReadFileText(err).find("progress") == std::string::npos; ++i) usleep(50 * 1000);
    kill(pid, signal);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Ctrl-C, TERM and HUP stop a transfer under way alike: exit 4, the plug-in told to
// abort, and nothing half-copied on either side (no cut file on the phone, the PC's
// file as it was and no temporary beside it).
TEST_F(HostCli, SignalsDuringATransferAbortItAndLeaveNoPartialFile) {
    // Each chunk takes a while on the phone, so that the signal comes mid-transfer.
    m_phone.EditDevice([](nlohmann::json &device) {
        for (const char *operation : {"CeReadFile", "CeWriteFile"})
            device["faults"].push_back({{"operation", operation}, {"persistent", true}, {"delayMs", 20}});
    });
    const fs::path local = m_home.path() / "huge.bin", onPhone = m_phone.fs() / "Storage Card" / "whole.bin";
    WriteFileText(local, RandomBytes(8 * 1024 * 1024));
    fs::copy_file(local, onPhone);
    const fs::path pc = m_home.path() / "pc", err = m_home.path() / "abort.err";
    fs::create_directories(pc);
    WriteFileText(pc / "keep.bin", "precious");
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        EXPECT_EQ(InterruptedHost({"put", local.string(), "/Storage Card/huge.bin"}, err, signal), 4)
            << signal << ReadFileText(err);
        EXPECT_FALSE(fs::exists(m_phone.fs() / "Storage Card" / "huge.bin")) << signal;
        EXPECT_EQ(InterruptedHost({"get", "/Storage Card/whole.bin", (pc / "keep.bin").string()}, err, signal), 4)
            << signal << ReadFileText(err);
        EXPECT_EQ(ReadFileText(pc / "keep.bin"), "precious") << signal;
        EXPECT_EQ(std::distance(fs::directory_iterator(pc), fs::directory_iterator()), 1) << signal;
    }
    const std::string log = LogText();
    EXPECT_NE(log.find("RESPONSE ABORTED"), std::string::npos) << log.substr(log.size() > 3000 ? log.size() - 3000 : 0);
}

// The files of a tree are fetched one ahead of the other: after Ctrl-C the PC holds
// exactly the files said to be done before the one under way, each whole, and
// nothing of the file sent ahead.
TEST_F(HostCli, CtrlCDuringAGetOfManyFilesLeavesExactlyTheWholeOnes) {
    m_phone.EditDevice([](nlohmann::json &device) {
        device["faults"].push_back({{"operation", "CeReadFile"}, {"persistent", true}, {"delayMs", 2}});
    });
    const fs::path source = m_phone.fs() / "My Documents" / "many";
    fs::create_directories(source);
    const size_t count = 300;
    for (size_t i = 0; i < count; ++i) WriteFileText(source / ("f" + std::to_string(i)), RandomBytes(100 + i));
    const fs::path pc = m_home.path() / "many", err = m_home.path() / "get.err";
    EXPECT_EQ(InterruptedHost({"get", "-r", "/My Documents/many", pc.string()}, err), 4) << ReadFileText(err);

    uint64_t underWay = 0;
    std::istringstream events(ReadFileText(err));
    for (std::string line; std::getline(events, line);) {
        const nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
        if (event.is_object() && event.value("event", "") == "failed") underWay = event["files"]["current"];
    }
    size_t whole = 0;
    for (const auto &entry : fs::directory_iterator(pc)) {
        const std::string name = entry.path().filename().string();
        EXPECT_EQ(ReadFileText(entry.path()), ReadFileText(source / name)) << name;
        ++whole;
    }
    EXPECT_EQ(whole + 1, underWay);
    EXPECT_LT(whole, count);
}
#endif

}  // namespace

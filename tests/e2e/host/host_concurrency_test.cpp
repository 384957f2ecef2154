// Two or more host processes on one emulated phone at the same moment: every
// change lands, none overwrites another's.
#include "host_fixture.h"

#include <cstdlib>

#if !defined(_WIN32)
#include <signal.h>
#endif

namespace fs = std::filesystem;

namespace {

#if !defined(_WIN32)
TEST_F(HostCli, ConcurrentAddsFromSeveralProcessesAllLand) {
    const int kProcesses = 6;
    std::string script;
    for (int i = 0; i < kProcesses; ++i)
        script.append(HostCommandLine({"contacts", "add", "FIRSTNAME=Parallel" + std::to_string(i)}))
            .append(" >/dev/null 2>&1 & ");
    script += "wait";
    ASSERT_EQ(std::system(script.c_str()), 0);

    nlohmann::json listing = Json(Host({"--json", "contacts"}));
    int landed = 0;
    for (const auto &item : listing["items"])
        landed += item["title"].get<std::string>().rfind("Parallel", 0) == 0 ? 1 : 0;
    EXPECT_EQ(landed, kProcesses) << listing.dump();
}
#endif

}  // namespace

#if !defined(_WIN32)
// Starts the host in the background with `args` (its stderr into `err`); its process ID.
pid_t StartHost(const std::vector<std::string> &args, const fs::path &err) {
    fs::path pid = err.string() + ".pid";
    std::string command = HostCommandLine(args);
    command.append(" >/dev/null 2>").append(ShellCommand({err.string()}));
    command.append(" & echo $! >").append(ShellCommand({pid.string()}));
    std::system(command.c_str());
    return pid_t(std::atoi(ReadFileText(pid).c_str()));
}

void WaitForEnd(pid_t pid) {
    for (int i = 0; i < 1200 && kill(pid, 0) == 0; ++i) std::system("sleep 0.05");
}

// Two backups into one folder at once: the second is refused and says why; the
// first's backup is whole.
TEST_F(HostCli, SecondBackupIntoOneFolderIsRefusedWhileTheFirstRuns) {
    m_phone.EditDevice([](nlohmann::json &device) {  // a slow phone: the first backup takes a while
        device["faults"].push_back({{"operation", "CeReadFile"}, {"persistent", true}, {"delayMs", 50}});
    });
    WriteFileText(m_phone.fs() / "Storage Card" / "big.bin", RandomBytes(2 * 1024 * 1024));
    fs::path backup = m_home.path() / "phone", err = m_home.path() / "first.err";
    pid_t first = StartHost({"backup", backup.string()}, err);
    std::system("sleep 0.5");
    HostRun second = Host({"backup", backup.string()});
    EXPECT_EQ(second.exitCode, 1) << second.err;
    EXPECT_NE(second.err.find("another cebridge is using the backup folder"), std::string::npos) << second.err;
    WaitForEnd(first);
    HostRun verify = Host({"backup", "--verify", backup.string()});
    EXPECT_EQ(verify.exitCode, 0) << verify.err << ReadFileText(err);
}
#endif

#if !defined(_WIN32)
// Two puts to one phone file at once: the second is refused and says why; the
// phone's file is the first one whole. A contact's change waits for the put.
TEST_F(HostCli, SecondWriterOfAPhoneIsRefusedWhileTheFirstWrites) {
    m_phone.EditDevice([](nlohmann::json &device) {
        device["faults"].push_back({{"operation", "CeWriteFile"}, {"persistent", true}, {"delayMs", 100}});
    });
    const std::string first = RandomBytes(1024 * 1024);
    WriteFileText(m_home.path() / "first.bin", first);
    WriteFileText(m_home.path() / "second.bin", std::string(1024 * 1024, 's'));
    pid_t writer = StartHost({"put", (m_home.path() / "first.bin").string(), "/My Documents/same.bin"},
                             m_home.path() / "first.err");
    std::system("sleep 0.5");
    for (const char *command : {"put", "rm"}) {
        std::vector<std::string> args = {command, (m_home.path() / "second.bin").string(), "/My Documents/same.bin"};
        if (std::string(command) == "rm") args.erase(args.begin() + 1);
        HostRun second = Host(args);
        EXPECT_EQ(second.exitCode, 1) << second.err;
        EXPECT_NE(second.err.find("another cebridge is writing to this phone"), std::string::npos) << second.err;
    }
    // A contact's change waits for the write to end, then lands: never alongside it.
    HostRun added = Host({"contacts", "add", "FIRSTNAME=Second"});
    EXPECT_EQ(added.exitCode, 0) << added.err;
    EXPECT_NE(added.err.find("waiting for another cebridge writing to this phone"), std::string::npos) << added.err;
    WaitForEnd(writer);
    EXPECT_EQ(ReadFileText(m_phone.fs() / "My Documents" / "same.bin"), first)
        << ReadFileText(m_home.path() / "first.err");
}
#endif

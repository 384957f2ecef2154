// The shell on a terminal, through the built host on a pseudo-terminal: Ctrl-C
// drops the line being typed, Tab completes, Ctrl-D leaves on a fresh line.
#include "host_fixture.h"

#include <cstring>

#if !defined(_WIN32)
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char **environ;
#endif

namespace {

namespace fs = std::filesystem;

#if !defined(_WIN32) && defined(POSIX_SPAWN_SETSID) && defined(CEBRIDGE_HOST_EDITS_LINES)
// The environment with the terminal's locale set to `locale` (LC_ALL).
std::vector<std::string> EnvironmentWithLocale(const std::string &locale) {
    std::vector<std::string> variables;
    for (char **variable = environ; *variable; ++variable)
        if (std::strncmp(*variable, "LC_ALL=", 7) != 0) variables.emplace_back(*variable);
    variables.push_back("LC_ALL=" + locale);
    return variables;
}

// Types each group of keys into `cebridge shell` on a new terminal (in the locale
// given), pausing after each; everything the terminal showed, and the exit code.
HostRun TypeIntoShell(const std::vector<std::string> &keys, const std::string &locale = "C") {
    HostRun run;
    int terminal = posix_openpt(O_RDWR | O_NOCTTY);
    if (terminal < 0 || grantpt(terminal) != 0 || unlockpt(terminal) != 0) return run;
    std::string program = HostProgram(), shell = "shell";
    char *argv[] = {program.data(), shell.data(), nullptr};
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);  // the terminal becomes its own
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd = 0; fd < 3; ++fd) posix_spawn_file_actions_addopen(&actions, fd, ptsname(terminal), O_RDWR, 0);
    std::vector<std::string> variables = EnvironmentWithLocale(locale);
    std::vector<char *> environment;
    for (std::string &variable : variables) environment.push_back(variable.data());
    environment.push_back(nullptr);
    pid_t pid = 0;
    int spawned = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv, environment.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    auto drain = [&](int milliseconds) {
        pollfd ready{terminal, POLLIN, 0};
        char buffer[4096];
        while (poll(&ready, 1, milliseconds) == 1) {
            ssize_t got = read(terminal, buffer, sizeof buffer);
            if (got <= 0) break;
            run.out.append(buffer, size_t(got));
        }
    };
    if (spawned == 0) {
        drain(1500);
        for (const std::string &typed : keys) {
            if (write(terminal, typed.data(), typed.size()) < 0) break;
            drain(700);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        drain(100);
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    close(terminal);
    return run;
}

TEST_F(HostCli, ShellTakesCtrlCTabAndCtrlDAsAShellDoes) {
    HostRun run = TypeIntoShell({"rm /My Documents/readme.txt", "\x03", "cd /My\\ Documents\r", "ls DSC", "\t", "\r",
                                 "pw", "\t", "\r", "\x04"});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(std::filesystem::exists(m_phone.fs() / "My Documents" / "readme.txt")) << run.out;
    EXPECT_NE(run.out.find("DSC_0001.jpg  146 KiB"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\\My Documents\r\n"), std::string::npos) << run.out;  // pwd, completed
    EXPECT_EQ(run.out.substr(run.out.size() - 2), "\r\n") << run.out;
}

// Typed text that is not ASCII reaches the command whole, in a UTF-8 terminal:
// Tab keeps a Hangul prefix, and a wildcard after one removes only what it names.
TEST_F(HostCli, ShellKeepsTypedNonAsciiText) {
    const fs::path documents = m_phone.fs() / "My Documents", card = m_phone.fs() / "Storage Card";
    HostRun run = TypeIntoShell(
        {"cd '/Storage Card'\r", "ls 여행", "\t", "\r", "cd '/My Documents'\r", "rm 회의록*\r", "exit\r"}, "C.UTF-8");
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_NE(run.out.find("여행 사진.jpg  "), std::string::npos) << run.out;  // listed with its size
    EXPECT_FALSE(fs::exists(documents / "회의록.txt")) << run.out;
    EXPECT_TRUE(fs::exists(documents / "readme.txt")) << run.out;
    EXPECT_TRUE(fs::exists(documents / "DSC_0001.jpg")) << run.out;
}
#endif

}  // namespace

// `get` and `put` through the built host: a transfer either lands whole or leaves
// both sides as they were, and no PC path makes the host crash.
#include "host_fixture.h"

#include <algorithm>
#include <sstream>

#include <filesystem>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

#if !defined(_WIN32)
// Ctrl-C in the middle of a replace puts the phone's original back (the failures
// themselves are the core's, tested there).
TEST_F(HostCli, CtrlCInAReplaceLeavesTheOriginalOnThePhone) {
    const fs::path original = m_phone.fs() / "Storage Card" / "orig.bin";
    const std::string before = RandomBytes(300000);
    WriteFileText(original, before);
    fs::path local = m_home.path() / "orig.bin";
    WriteFileText(local, std::string(400000, 'n'));
    m_phone.EditDevice([&](nlohmann::json &device) {
        device["faults"] = {{{"operation", "CeWriteFile"}, {"persistent", true}, {"delayMs", 500}}};
    });
    fs::path err = m_home.path() / "err";
    std::string command = HostCommandLine({"put", local.string(), "/Storage Card/orig.bin"});
    command.append(" 2>").append(ShellCommand({err.string()})).append(" & sleep 2; kill -INT $!; wait $!");
    int status = std::system(command.c_str());
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 4) << ReadFileText(err);
    EXPECT_NE(ReadFileText(err).find("the original orig.bin is back on the phone"), std::string::npos)
        << ReadFileText(err);
    EXPECT_TRUE(ReadFileText(original) == before);
    const fs::path kept = m_home.path() / "state" / "cebridge" / "kept";
    EXPECT_TRUE(!fs::exists(kept) || fs::is_empty(kept));
}
#endif

// The phone's failures exit 1, the PC's 3, with the path and the reason.
TEST_F(HostCli, PcPathErrorsExitThreeWithThePathAndTheReason) {
    HostRun missing = Host({"get", "/My Documents/nothere.txt", (m_home.path() / "n.txt").string()});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("no such file on the phone: \\My Documents\\nothere.txt"), std::string::npos)
        << missing.err;
    const std::string longName = (m_home.path() / std::string(300, 'x')).string();
    HostRun tooLong = Host({"get", "/My Documents/readme.txt", longName});
    EXPECT_EQ(tooLong.exitCode, 3) << tooLong.err;
    EXPECT_NE(tooLong.err.find("xxxx"), std::string::npos) << tooLong.err;

#if !defined(_WIN32)
    // A PC name that is not UTF-8 (Latin-1 "café") still makes a JSON document.
    fs::path latin1 = m_home.path() / "caf\xE9.txt";
    WriteFileText(latin1, "x");
    HostRun put = Host({"--json", "put", latin1.string(), "/My Documents/cafe.txt"});
    EXPECT_EQ(put.exitCode, 0) << put.err;
    EXPECT_EQ(Json(put)["bytes"], 1);

    fs::path locked = m_home.path() / "locked";
    fs::create_directories(locked);
    fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
    HostRun readOnly = Host({"get", "/My Documents/readme.txt", (locked / "r.txt").string()});
    fs::permissions(locked, fs::perms::owner_all);
    if (geteuid() != 0) {
        EXPECT_EQ(readOnly.exitCode, 3) << readOnly.err;
        EXPECT_NE(readOnly.err.find("Permission denied"), std::string::npos) << readOnly.err;
    }
#endif
}

#if !defined(_WIN32)
TEST_F(HostCli, StreamsFifosAndDashTransferToo) {
    const std::string readme = ReadFileText(m_phone.fs() / "My Documents" / "readme.txt");
    HostRun toStdout = Host({"get", "/My Documents/readme.txt", "-"});
    EXPECT_EQ(toStdout.exitCode, 0) << toStdout.err;
    EXPECT_EQ(toStdout.out, readme);

    nlohmann::json toNull = Json(Host({"--json", "get", "/My Documents/readme.txt", "/dev/null"}));
    EXPECT_EQ(toNull["bytes"], readme.size());

    HostRun fromStdin = Host({"put", "/dev/stdin", "/My Documents/x.txt"}, "x\n");
    EXPECT_EQ(fromStdin.exitCode, 0) << fromStdin.err;
    EXPECT_EQ(ReadFileText(m_phone.fs() / "My Documents" / "x.txt"), "x\n");
    HostRun fromDash = Host({"put", "-", "/My Documents/y.txt"}, "y\n");
    EXPECT_EQ(fromDash.exitCode, 0) << fromDash.err;
    EXPECT_EQ(ReadFileText(m_phone.fs() / "My Documents" / "y.txt"), "y\n");

    // The reading end is open before the host writes (so its open does not block),
    // and the pipe holds the whole small file until it is read after the host ended.
    fs::path fifo = m_home.path() / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    HostRun toFifo = Host({"get", "/My Documents/readme.txt", fifo.string()});
    EXPECT_EQ(toFifo.exitCode, 0) << toFifo.err;
    std::string fromFifo;
    char chunk[4096];
    for (ssize_t got; (got = read(reader, chunk, sizeof chunk)) > 0;) fromFifo.append(chunk, size_t(got));
    close(reader);
    EXPECT_EQ(fromFifo, readme);
}
#endif

#if !defined(_WIN32)
// Standard output gets the bytes as they arrive; a reader that goes away (SIGPIPE)
// stops the copy and leaves nothing in the temporary folder. (Ctrl-C, TERM and HUP:
// host_cli_test.)
TEST_F(HostCli, AReaderThatGoesAwayStopsACopyToStandardOutput) {
    m_phone.EditDevice([](nlohmann::json &device) {
        device["faults"].push_back({{"operation", "CeReadFile"}, {"persistent", true}, {"delayMs", 200}});
    });
    fs::path pc = m_home.path() / "pc";
    fs::create_directories(pc);
    ScopedEnv spool("TMPDIR", pc.string());
    fs::path first = m_home.path() / "first";
    std::string command = HostCommandLine({"get", "/My Documents/DSC_0001.jpg", "-"});
    command.append(" 2>/dev/null | (head -c 100 >").append(ShellCommand({first.string()}));
    command.append("; ls -a ").append(ShellCommand({pc.string()}));
    command.append(" >").append(ShellCommand({(m_home.path() / "during").string()})).append(")");
    std::system(command.c_str());
    EXPECT_EQ(ReadFileText(first), ReadFileText(m_phone.fs() / "My Documents" / "DSC_0001.jpg").substr(0, 100));
    EXPECT_EQ(ReadFileText(m_home.path() / "during").find(".part"), std::string::npos);  // nothing spooled
    EXPECT_TRUE(fs::is_empty(pc));
}
#endif

// The progress line is redrawn in place on a narrow terminal: one line, each drawing
// narrower than the terminal.
TEST_F(HostCli, TheProgressLineFitsTheTerminal) {
    ScopedEnv narrow("COLUMNS", "30");
    HostRun get = Host({"--progress", "get", "/My Documents/DSC_0001.jpg", (m_home.path() / "d.jpg").string()});
    ASSERT_EQ(get.exitCode, 0) << get.err;
    EXPECT_EQ(std::count(get.err.begin(), get.err.end(), '\n'), 1) << get.err;
    std::istringstream drawings(get.err.substr(0, get.err.find('\n')));
    for (std::string drawing; std::getline(drawings, drawing, '\r');) EXPECT_LT(drawing.size(), 30u) << drawing;
}

}  // namespace

#if !defined(_WIN32)
// Failures of a replace named after the party and step that failed: the phone could
// not read the original (nothing changed, not "read-only"); the phone refused the
// file itself (nothing to put back); a put-back that failed leaves the original in
// the kept folder, which the next whole put of that file removes and names; a
// failed search of the phone is no code-page problem.
TEST_F(HostCli, FailedReplacesNameWhoFailedAndWhatWasLeft) {
    const fs::path original = m_phone.fs() / "My Documents" / "orig.txt";
    const fs::path mine = m_home.path() / "mine.txt";
    WriteFileText(original, "original");
    WriteFileText(mine, std::string(200000, 'm'));
    const std::string target = "/My Documents/orig.txt";
    auto fault = [&](nlohmann::json faults) {
        m_phone.EditDevice([&](nlohmann::json &device) { device["faults"] = faults; });
    };
    fault({{{"operation", "CeReadFile"}, {"nth", 1}, {"error", 5}}});
    HostRun unreadable = Host({"put", mine.string(), target});
    EXPECT_EQ(unreadable.exitCode, 1) << unreadable.err;
    EXPECT_NE(unreadable.err.find("the phone could not read it"), std::string::npos) << unreadable.err;
    EXPECT_EQ(unreadable.err.find("read-only"), std::string::npos) << unreadable.err;
    EXPECT_EQ(ReadFileText(original), "original");

    fault({{{"operation", "CeWriteFile"}, {"persistent", true}, {"error", 5}}});
    HostRun stuck = Host({"put", mine.string(), target});
    EXPECT_EQ(stuck.exitCode, 1) << stuck.err;
    EXPECT_NE(stuck.err.find("could not be put back"), std::string::npos) << stuck.err;
    const fs::path kept = m_home.path() / "state" / "cebridge" / "kept";
    ASSERT_FALSE(fs::is_empty(kept));
    fault(nlohmann::json::array());
    HostRun rerun = Host({"put", mine.string(), target});
    EXPECT_EQ(rerun.exitCode, 0) << rerun.err;
    EXPECT_NE(rerun.err.find("an earlier put that did not finish"), std::string::npos) << rerun.err;
    EXPECT_TRUE(fs::is_empty(kept));
    EXPECT_EQ(ReadFileText(original), ReadFileText(mine));

    fs::permissions(original, fs::perms::owner_write, fs::perm_options::remove);
    HostRun readOnly = Host({"put", mine.string(), target});
    fs::permissions(original, fs::perms::owner_write, fs::perm_options::add);
    EXPECT_EQ(readOnly.exitCode, 1) << readOnly.err;
    EXPECT_NE(readOnly.err.find("it is as it was"), std::string::npos) << readOnly.err;
    EXPECT_EQ(readOnly.err.find("put back"), std::string::npos) << readOnly.err;
    EXPECT_TRUE(fs::is_empty(kept));

    WriteFileText(m_phone.fs() / "My Documents" / "two  spaces.txt", "two");
    fault({{{"operation", "CeFindFirstFile"}, {"nth", 1}, {"persistent", true}, {"error", 5}}});
    HostRun search = Host({"get", "/My Documents/two spaces.txt", m_home.path().string()});
    EXPECT_NE(search.exitCode, 0);
    EXPECT_EQ(search.err.find("code page"), std::string::npos) << search.err;
    HostRun tree = Host({"get", "-r", "/My Documents", (m_home.path() / "tree").string()});
    EXPECT_NE(tree.exitCode, 0);
    EXPECT_EQ(tree.err.find("code page"), std::string::npos) << tree.err;
}
#endif

#include "host_fixture.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

#if defined(_WIN32)
// One argument as the C runtime splits a command line: in quotes, with the
// backslashes before a quote (or before the closing quote) doubled.
std::string WindowsArgument(const std::string &word) {
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : word) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    return quoted.append(2 * backslashes, '\\') + "\"";
}

HANDLE InheritableFile(const std::filesystem::path &path, bool write) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileW(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Runs the command line (UTF-8, as a user's shell would pass any script) with the
// three files as its standard streams, no shell between; the exit code, or -1 when
// it could not start.
int RunWithFiles(const std::string &commandLine, const std::filesystem::path &in, const std::filesystem::path &out,
                 const std::filesystem::path &err) {
    std::wstring wide(commandLine.size() + 1, L'\0');
    wide.resize(size_t(
        MultiByteToWideChar(CP_UTF8, 0, commandLine.data(), int(commandLine.size()), wide.data(), int(wide.size()))));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = InheritableFile(in, false);
    startup.hStdOutput = InheritableFile(out, true);
    startup.hStdError = InheritableFile(err, true);
    PROCESS_INFORMATION process{};
    int exitCode = -1;
    if (CreateProcessW(nullptr, wide.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        WaitForSingleObject(process.hProcess, INFINITE);
        DWORD code = 0;
        if (GetExitCodeProcess(process.hProcess, &code)) exitCode = static_cast<int>(code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    for (HANDLE file : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) CloseHandle(file);
    return exitCode;
}
#endif

}  // namespace

#if !defined(_WIN32)
// (Appended piece by piece: GCC's -O3 restrict check misreads "x" + std::string.)
std::string ShellCommand(const std::vector<std::string> &words) {
    std::string command;
    for (const std::string &word : words) {
        if (!command.empty()) command += ' ';
        command += '\'';
        for (char c : word) command.append(c == '\'' ? "'\\''" : std::string(1, c));
        command += '\'';
    }
    return command;
}

std::string HostCommandLine(const std::vector<std::string> &args) {
    std::vector<std::string> words = {HostProgram()};
    words.insert(words.end(), args.begin(), args.end());
    return ShellCommand(words);
}

// Debian's python3 has the parsers (a python3 earlier on PATH may not).
static std::string Python() { return std::filesystem::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3"; }

bool PythonHas(const std::string &modules) {
    return std::system((Python() + " -c 'import " + modules + "' 2>/dev/null").c_str()) == 0;
}

std::string RunPython(const std::string &code, const std::string &file, const std::filesystem::path &out) {
    std::string command = ShellCommand({Python(), "-c", code, file}) + " >" + ShellCommand({out.string()}) + " 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << ReadFileText(out);
    return ReadFileText(out);
}
#else
bool PythonHas(const std::string &) { return false; }

std::string RunPython(const std::string &, const std::string &, const std::filesystem::path &) {
    ADD_FAILURE() << "python3 is not run from a Windows test";
    return {};
}
#endif

HostCli::HostCli()
#if defined(_WIN32)
    : m_dataHome("LOCALAPPDATA", m_home.str() + "/data"),  // (the sync's state among them)
#else
    : m_dataHome("XDG_DATA_HOME", m_home.str() + "/data"),
#endif
      m_stateHome("XDG_STATE_HOME", m_home.str() + "/state"),
      m_logDir("CEBRIDGE_LOG_DIR", m_home.str() + "/logs") {
}

std::string HostProgram() {
#if defined(_WIN32)
    return std::string(CEBRIDGE_TEST_BIN_DIR) + "/cebridge.exe";
#else
    return std::string(CEBRIDGE_TEST_BIN_DIR) + "/cebridge";
#endif
}

HostRun HostCli::Host(const std::vector<std::string> &args, const std::string &input) {
    fs::path in = m_home.path() / "stdin", out = m_home.path() / "stdout", err = m_home.path() / "stderr";
    WriteFileText(in, input);
    HostRun run;
#if defined(_WIN32)
    std::string command = WindowsArgument(HostProgram());
    for (const std::string &arg : args) command += " " + WindowsArgument(arg);
    run.exitCode = RunWithFiles(command, in, out, err);
#else
    std::string command = HostCommandLine(args);
    command.append(" <").append(ShellCommand({in.string()})).append(" >").append(ShellCommand({out.string()}));
    command.append(" 2>").append(ShellCommand({err.string()}));
    int status = std::system(command.c_str());
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    run.out = ReadFileText(out);
    run.err = ReadFileText(err);
    return run;
}

std::string WithLfEnds(std::string text) {
    for (size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos;) text.erase(at, 1);
    return text;
}

nlohmann::json HostCli::Json(const HostRun &run) {
    nlohmann::json document = nlohmann::json::parse(run.out, nullptr, false);
    EXPECT_FALSE(document.is_discarded()) << run.out << run.err;
    return document;
}

std::vector<nlohmann::json> HostCli::JsonLines(const HostRun &run) {
    std::vector<nlohmann::json> documents;
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
        documents.push_back(nlohmann::json::parse(line, nullptr, false));
        EXPECT_FALSE(documents.back().is_discarded()) << line;
    }
    return documents;
}

std::string HostCli::LogText() {
    std::string text;
    for (const auto &entry : fs::directory_iterator(m_home.path() / "logs")) text += ReadFileText(entry.path());
    return text;
}

std::string RandomBytes(size_t size) {
    std::mt19937 random(42);
    std::string bytes(size, '\0');
    for (char &byte : bytes) byte = static_cast<char>(random());
    return bytes;
}

std::filesystem::path LatestGeneration(const std::filesystem::path &backup) {
    std::ifstream in(backup / "latest.json");
    nlohmann::json latest = nlohmann::json::parse(in, nullptr, false);
    return latest.is_object() && latest["latest"].is_string() ? backup / latest["latest"].get<std::string>() : backup;
}

std::map<std::string, std::string> TreeOf(const fs::path &root) {
    std::map<std::string, std::string> tree;
    for (const auto &entry : fs::recursive_directory_iterator(root))
        tree[fs::relative(entry.path(), root).generic_string()] =
            entry.is_directory() ? "/" : ReadFileText(entry.path());
    return tree;
}

const fs::file_time_type kTreeTime =
    std::chrono::file_clock::from_sys(std::chrono::sys_seconds(std::chrono::seconds(1267747623)));

void MakeTree(const fs::path &root) {
    fs::create_directories(root / u8"하위" / u8"깊은 곳");
    fs::create_directories(root / "empty");
    WriteFileText(root / "a.txt", "alpha");
    WriteFileText(root / u8"하위" / "b.bin", RandomBytes(70000));
    WriteFileText(root / u8"하위" / u8"깊은 곳" / u8"메모.txt", "깊은");
    fs::last_write_time(root / "a.txt", kTreeTime);
}

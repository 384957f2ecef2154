// The host program end to end: the built `cebridge` binary, run as a user would,
// against a private copy of the demo phone, with its own data, state and log folders.
#ifndef CEBRIDGE_TESTS_HOST_FIXTURE_H
#define CEBRIDGE_TESTS_HOST_FIXTURE_H

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/phone_copy.h"

struct HostRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

class HostCli : public ::testing::Test {
protected:
    HostCli();

    // Runs the host with `args`; `input` is fed to its standard input.
    HostRun Host(const std::vector<std::string> &args, const std::string &input = "");
    // The host's standard output as one JSON document (a test failure when it is not).
    nlohmann::json Json(const HostRun &run);
    // Every line of the host's standard output as its own JSON document.
    std::vector<nlohmann::json> JsonLines(const HostRun &run);
    std::string LogText();

    TempDir m_home;
    PhoneCopy m_phone;
    ScopedEnv m_dataHome, m_stateHome, m_logDir;
};

std::string RandomBytes(size_t size);
// Text the host printed, its lines ending in LF as on POSIX (Windows ends them CR LF).
std::string WithLfEnds(std::string text);
std::string HostProgram();
#if !defined(_WIN32)
// `words` as one sh command line, each word quoted.
std::string ShellCommand(const std::vector<std::string> &words);
// The host program with `args`, as one sh command line.
std::string HostCommandLine(const std::vector<std::string> &args);
#endif
// Whether python3 imports `modules` ("vobject, icalendar"): the independent parsers.
// (Never under wine: they are Linux programs, which the Windows tests do not run.)
bool PythonHas(const std::string &modules);
// Runs a python3 snippet with `file` as its argument; its output (also kept in `out`).
std::string RunPython(const std::string &code, const std::string &file, const std::filesystem::path &out);
// Every file (its content) and folder ("/") below `root`, by relative path.
std::map<std::string, std::string> TreeOf(const std::filesystem::path &root);
// A small tree of files and folders with Korean names, "a.txt" of kTreeTime.
void MakeTree(const std::filesystem::path &root);
extern const std::filesystem::file_time_type kTreeTime;  // 2010-03-05 00:07:03 UTC
// The folder of the latest whole generation of a backup (latest.json names it).
std::filesystem::path LatestGeneration(const std::filesystem::path &backup);

#endif  // CEBRIDGE_TESTS_HOST_FIXTURE_H

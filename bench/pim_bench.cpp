// Contacts (or received messages) listings of 100, 1,000 and 10,000 records
// through the real exports against the emulated phone, beside the floor the log
// sets on this disk. It measures and prints; it never passes or fails on speed.
//
//   build/<dir>/bin/pim_bench [--messages] [--memory-only] [rounds [records...]]
//
// Defaults: one round of 100, 1,000 and 10,000 contacts (10,000 take minutes on a
// slow disk). --messages lists received messages instead; --memory-only skips the
// disk and times only the tmpfs listing.
//
// Every log line is written through to disk, and a listing writes several lines
// per record, so the floor of a listing is its number of log lines times the cost
// of one write-through line of the same length, measured on the same disk in the
// same run (before and after the listing, averaged, as the shared disk drifts).
// The same listing with the log on tmpfs shows the work that is not the log.
// Goals: time per record flat across sizes, listing within 1.1x of the floor.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include <nlohmann/json.hpp>

#include "generated_records.h"
#include "platform/platform.h"
#include "support/phone_copy.h"
#include "support/test_agent.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using bench::json;
using bench::Prop;

namespace {

double Seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// A received message shaped like the demo phone's: number, Korean text, time.
json Message(uint32_t oid, int index) {
    json props = json::array();
    props.push_back(Prop("0x0002", "string", "010-" + std::to_string(1000 + index % 9000) + "-5678"));
    props.push_back(Prop("0x0003", "string",
                         "내일 회의 10시로 변경되었습니다. 자료 " + std::to_string(index) + "번 확인 부탁드려요."));
    props.push_back(Prop("0x0001", "filetime", "2026-11-20T09:12:00"));
    return json{{"oid", oid}, {"props", props}};
}

// What one run lists: the listing's type, the database it reads, how to make a record.
struct Subject {
    const char *name;
    const char *listingType;
    uint32_t databaseType;
    const char *volumeFile;
    json (*record)(uint32_t oid, int index);
};
const Subject kContactsSubject{"contacts", kContacts, bench::kContactsDatabaseType, "pim.vol.json", bench::Contact};
const Subject kMessagesSubject{"received messages", kReceived, 0x40406000, "sms.vol.json", Message};

// Replaces the records of the subject's database with `count` generated ones.
void GenerateRecords(const PhoneCopy &phone, const Subject &subject, int count) {
    bench::ReplaceRecords(phone.path() / "volumes" / subject.volumeFile, subject.databaseType, count, subject.record);
}

// Today's log file of the session.
fs::path LogFile(const fs::path &dir) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char name[32];
    std::strftime(name, sizeof name, "cebridge_%Y%m%d.log", &local);
    return dir / name;
}

struct LogFigures {
    size_t lines = 0;
    size_t bytes = 0;
};

LogFigures CountLog(const fs::path &file) {
    LogFigures figures;
    std::ifstream in(file, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        ++figures.lines;
        figures.bytes += line.size() + 1;
    }
    return figures;
}

// Seconds per write-through append of one `lineBytes`-byte line in `dir`.
double WriteThroughLineSeconds(const fs::path &dir, size_t lineBytes, int lines) {
    const std::string path = (dir / "floor.log").string();
    intptr_t file = platform::OpenWriteThroughAppend(path.c_str());
    if (file == -1) return 0;
    std::string line(lineBytes > 0 ? lineBytes - 1 : 0, 'x');
    line += '\n';
    const auto start = Clock::now();
    for (int i = 0; i < lines; ++i) platform::WriteAll(file, line.data(), line.size());
    const double seconds = Seconds(start);
    platform::CloseFile(file);
    fs::remove(path);
    return seconds / lines;
}

struct Run {
    double seconds = 0;
    LogFigures log;
    size_t contents = 0;
    uint32_t status = 0;
};

Run ListRecords(TestAgent &agent, const Subject &subject, const fs::path &logFile) {
    const LogFigures before = CountLog(logFile);
    const auto start = Clock::now();
    const Answer answer = agent.Request(CMD_GET, SUB_GET_SVC, Body({{PAR_TYPE, subject.listingType}}), 3600000);
    Run run;
    run.seconds = Seconds(start);
    run.status = answer.header.nStatus;
    const std::string xml = XmlText(answer);
    for (size_t at = xml.find("<Content>"); at != std::string::npos; at = xml.find("<Content>", at + 1)) ++run.contents;
    agent.ClearAnswers();
    const LogFigures after = CountLog(logFile);
    run.log.lines = after.lines - before.lines;
    run.log.bytes = after.bytes - before.bytes;
    return run;
}

// The median listing of `rounds`, with the session's log in `logDir`.
Run MedianListing(const Subject &subject, const fs::path &logDir, int records, int rounds) {
    TestAgent agent;
    agent.Initialize(logDir.string());
    if (agent.Request(CMD_APP_CON, 0).header.nStatus != ST_OK) {
        std::fprintf(stderr, "connect failed\n");
        return Run{};
    }
    const fs::path logFile = LogFile(logDir);
    std::vector<Run> runs;
    for (int round = 0; round < rounds; ++round) runs.push_back(ListRecords(agent, subject, logFile));
    agent.UnInitialize();
    std::sort(runs.begin(), runs.end(), [](const Run &a, const Run &b) { return a.seconds < b.seconds; });
    const Run median = runs[runs.size() / 2];
    if (median.status != ST_OK || median.contents != static_cast<size_t>(records))
        std::fprintf(stderr, "listing of %d answered 0x%x with %zu contents\n", records, median.status,
                     median.contents);
    return median;
}

void BenchSize(const Subject &subject, int records, int rounds, bool memoryOnly) {
    PhoneCopy phone;
    GenerateRecords(phone, subject, records);
    double inMemory = 0;
    if (fs::is_directory("/dev/shm")) {
        const fs::path shm = fs::path("/dev/shm") / ("pim_bench_" + std::to_string(getpid()));
        fs::create_directories(shm);
        inMemory = MedianListing(subject, shm, records, rounds).seconds;
        fs::remove_all(shm);
    }
    if (memoryOnly) {
        std::printf("%6d records  log on tmpfs %7.3f s (%5.1f us/record)\n", records, inMemory,
                    inMemory * 1e6 / records);
        std::fflush(stdout);
        return;
    }

    TempDir logs;
    const int samples = std::clamp(records * 2, 200, 5000);
    const double lineBefore = WriteThroughLineSeconds(logs.path(), 52, samples);
    const Run onDisk = MedianListing(subject, logs.path(), records, rounds);
    const size_t lineBytes = onDisk.log.lines ? onDisk.log.bytes / onDisk.log.lines : 64;
    const double perLine = (lineBefore + WriteThroughLineSeconds(logs.path(), lineBytes, samples)) / 2;
    const double floor = perLine * static_cast<double>(onDisk.log.lines);
    std::printf(
        "%6d records  %8.3f s  %7.1f us/record  %7zu log lines (%4.1f/record, %3zu B)  "
        "floor %8.3f s (%6.1f us/line)  listing/floor %4.2fx  log on tmpfs %7.3f s (%5.1f us/record)\n",
        records, onDisk.seconds, onDisk.seconds * 1e6 / records, onDisk.log.lines,
        static_cast<double>(onDisk.log.lines) / records, lineBytes, floor, perLine * 1e6,
        floor > 0 ? onDisk.seconds / floor : 0.0, inMemory, inMemory * 1e6 / records);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char **argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    bool memoryOnly = false;
    const Subject *subject = &kContactsSubject;
    while (!args.empty() && args.front().rfind("--", 0) == 0) {
        if (args.front() == "--memory-only") memoryOnly = true;
        if (args.front() == "--messages") subject = &kMessagesSubject;
        args.erase(args.begin());
    }
    const int rounds = !args.empty() ? std::max(1, std::atoi(args[0].c_str())) : 1;
    std::vector<int> sizes;
    for (size_t i = 1; i < args.size(); ++i) sizes.push_back(std::max(1, std::atoi(args[i].c_str())));
    if (sizes.empty()) sizes = {100, 1000, 10000};
    std::printf("%s listing through the exports, median of %d round(s)\n", subject->name, rounds);
    for (int records : sizes) BenchSize(*subject, records, rounds, memoryOnly);
    return 0;
}

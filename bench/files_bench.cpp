// File transfer and folder listing throughput through the real exports against
// the emulated phone, printed beside the host's own tools on the same disk in the
// same run. It measures and prints; it never passes or fails on speed.
//
//   build/<dir>/bin/files_bench [MiB [disklog|memlog [transfers|downloads|listings]]]
//                                    (default 256 MiB, log in /dev/shm, both parts;
//                                     downloads: the transfers without the uploads)
//
// Download is compared with `cp` of the same device file (and with `dd bs=65535`,
// a copy through a user buffer as every RAPI read is); upload with
// `dd bs=65535 oflag=dsync`, which writes through the way the device file is
// opened. Listings of 1,000 / 10,000 / 100,000 entries report time per entry and
// the peak resident memory of the process against the size of the answer.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "cebridge/rapi.h"
#include "support/phone_copy.h"
#include "support/test_agent.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// Whatever else the machine does only ever slows a copy down, here by up to a fifth
// from one round to the next; the best of five comes near the undisturbed time.
constexpr int kRounds = 5;

double Seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

void WriteRandomFile(const fs::path &path, uint64_t bytes) {
    std::ofstream out(path, std::ios::binary);
    std::vector<char> block(1 << 20);
    uint32_t seed = 12345;
    for (char &c : block) c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 16);
    for (uint64_t done = 0; done < bytes; done += block.size()) {
        out.write(block.data(), static_cast<std::streamsize>(std::min<uint64_t>(block.size(), bytes - done)));
    }
}

// Removes the last copy and writes back whatever is still dirty: where the copies go
// to a disk (no room in memory), the copy timed after two others would otherwise pay
// for their writeback too.
void ClearTarget(const fs::path &target) {
    fs::remove(target);
    ::sync();
}

double TimeShell(const std::string &command) {
    const auto start = Clock::now();
    if (std::system(command.c_str()) != 0) std::fprintf(stderr, "command failed: %s\n", command.c_str());
    return Seconds(start);
}

double TimeRequest(TestAgent &agent, uint16_t command, uint16_t subCommand, const std::vector<uint8_t> &body,
                   uint32_t *status) {
    const auto start = Clock::now();
    const Answer answer = agent.Request(command, subCommand, body, 600000);
    const double seconds = Seconds(start);
    *status = answer.header.nStatus;
    agent.ClearAnswers();
    return seconds;
}

// Resets the kernel's peak-RSS mark for this process, then reads it back later.
void ResetPeakMemory() { std::ofstream("/proc/self/clear_refs") << "5"; }
// A memory figure of this process from /proc/self/status ("VmHWM:" the peak, "VmRSS:" now).
long MemoryKiB(const std::string &field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + field.size());
    }
    return -1;
}
long PeakMemoryKiB() { return MemoryKiB("VmHWM:"); }

void PrintThroughput(const char *what, uint64_t bytes, double plugin, double tool, const char *toolName) {
    const double mib = static_cast<double>(bytes) / (1 << 20);
    std::printf("%-9s %8.1f MiB/s (%.3f s)   %-22s %8.1f MiB/s (%.3f s)   ratio %.2f\n", what, mib / plugin, plugin,
                toolName, mib / tool, tool, tool / plugin);
}

void BenchTransfers(PhoneCopy &phone, TestAgent &agent, const fs::path &pcDir, uint64_t bytes, bool uploads) {
    // The storage card has room for the file; the object store at the root has not.
    const fs::path card = phone.fs() / "Storage Card";
    agent.Request(CMD_SETPATH, 0, Body({{PAR_NAME, "Storage Card"}, {PAR_APP_FLAGS, std::vector<uint8_t>{2}}}));
    agent.ClearAnswers();
    const fs::path deviceFile = card / "bench.bin";
    WriteRandomFile(deviceFile, bytes);
    const fs::path pcFile = pcDir / "bench.bin";
    double bestGet = 1e9, bestCp = 1e9, bestDdRead = 1e9, bestPut = 1e9, bestDd = 1e9;
    uint32_t status = 0;
    for (int round = 0; round < kRounds; ++round) {
        ClearTarget(pcFile);
        bestCp = std::min(bestCp, TimeShell("cp '" + deviceFile.string() + "' '" + pcFile.string() + "'"));
        ClearTarget(pcFile);
        bestDdRead = std::min(bestDdRead, TimeShell("dd if='" + deviceFile.string() + "' of='" + pcFile.string() +
                                                    "' bs=65535 status=none"));
        ClearTarget(pcFile);
        bestGet = std::min(
            bestGet,
            TimeRequest(
                agent, CMD_GET, SUB_GET_OBJECT,
                Body({{PAR_TYPE, "x-obex/file"}, {PAR_APP_ID, "bench.bin"}, {PAR_APP_FILEPATH, pcFile.string()}}),
                &status));
        if (status != ST_OK) std::fprintf(stderr, "download answered 0x%x\n", status);
    }
    PrintThroughput("download", bytes, bestGet, bestCp, "cp");
    // cp copies inside the kernel; a copy through a user buffer, as RAPI makes one:
    PrintThroughput("download", bytes, bestGet, bestDdRead, "dd bs=65535");

    const fs::path ddTarget = card / "bench-dd.bin";
    for (int round = 0; uploads && round < kRounds; ++round) {
        bestDd = std::min(bestDd, TimeShell("dd if='" + pcFile.string() + "' of='" + ddTarget.string() +
                                            "' bs=65535 oflag=dsync status=none"));
        bestPut = std::min(
            bestPut,
            TimeRequest(
                agent, CMD_PUT, SUB_PUT_OBJECT,
                Body({{PAR_TYPE, "x-obex/file"}, {PAR_NAME, "bench-up.bin"}, {PAR_APP_FILEPATH, pcFile.string()}}),
                &status));
        if (status != ST_OK) std::fprintf(stderr, "upload answered 0x%x\n", status);
    }
    if (uploads) PrintThroughput("upload", bytes, bestPut, bestDd, "dd bs=65535 dsync");
    fs::remove(deviceFile);
    fs::remove(ddTarget);
    fs::remove(card / "bench-up.bin");
    fs::remove(pcFile);
    agent.Request(CMD_SETPATH, 0, Body({{PAR_NAME, ""}, {PAR_APP_FLAGS, std::vector<uint8_t>{2}}}));
    agent.ClearAnswers();
}

void BenchListings(PhoneCopy &phone, TestAgent &agent) {
    // The find records RAPI hands over (one CE_FIND_DATA per entry) are part of the
    // peak whatever the plug-in does; they are shown beside it.
    // What the process still holds once the answer is handed over and released is
    // shown beside the peak: the plug-in should give its listing's memory back.
    std::printf("\n%9s %12s %12s %14s %14s %16s %16s\n", "entries", "seconds", "us/entry", "answer bytes",
                "peak RSS KiB", "find records KiB", "RSS after KiB");
    for (int entries : {1000, 10000, 100000}) {
        const std::string folder = "list" + std::to_string(entries);
        fs::create_directories(phone.fs() / folder);
        for (int i = 0; i < entries; ++i) {
            std::ofstream(phone.fs() / folder / ("entry-" + std::to_string(i) + ".txt")) << "x";
        }
        agent.Request(CMD_SETPATH, 0, Body({{PAR_NAME, folder}, {PAR_APP_FLAGS, std::vector<uint8_t>{2}}}));
        agent.ClearAnswers();
        ResetPeakMemory();
        const long before = PeakMemoryKiB();
        const auto start = Clock::now();
        const Answer answer = agent.Request(CMD_GET, SUB_GET_SVC, Body({{PAR_TYPE, "x-obex/folder-listing"}}), 600000);
        const double seconds = Seconds(start);
        const long peak = PeakMemoryKiB();
        agent.ClearAnswers();
        // The answer reaches the agent before the plug-in has let go of its tree: what
        // it keeps is read once the next request (served after the listing) is answered.
        agent.Request(CMD_SETPATH, 0, Body({{PAR_NAME, ""}, {PAR_APP_FLAGS, std::vector<uint8_t>{2}}}));
        agent.ClearAnswers();
        const long after = MemoryKiB("VmRSS:");
        std::printf("%9d %12.3f %12.2f %14zu %14ld (+%ld) %10zu %16ld (+%ld)\n", entries, seconds,
                    seconds * 1e6 / entries, answer.body.size(), peak, peak - before,
                    entries * sizeof(CE_FIND_DATA) / 1024, after, after - before);
        fs::remove_all(phone.fs() / folder);
    }
}

}  // namespace

int main(int argc, char **argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 256;
    const bool diskLog = argc > 2 && std::string(argv[2]) == "disklog";
    PhoneCopy phone;
    TempDir diskLogs;
    TempDir pc;
    // Every log line is written through to disk, and the agent's release of each
    // progress packet writes two. By default the log goes to memory (/dev/shm) so
    // that the figures show the transfer itself; "disklog" keeps it on the disk.
    const fs::path memoryLogs = fs::path("/dev/shm") / ("files_bench_" + std::to_string(getpid()));
    const bool inMemory = !diskLog && fs::create_directories(memoryLogs);
    TestAgent agent;
    if (!agent.Loaded()) return 1;
    agent.Initialize(inMemory ? memoryLogs.string() : diskLogs.str());
    std::printf("log folder: %s\n", inMemory ? memoryLogs.c_str() : diskLogs.str().c_str());
    if (agent.Request(CMD_APP_CON, 0).header.nStatus != ST_OK) {
        std::fprintf(stderr, "the emulated phone did not connect\n");
        return 1;
    }
    agent.ClearAnswers();
    std::printf("files_bench: %llu MiB, best of %d rounds, same disk (%s)\n", static_cast<unsigned long long>(mib),
                kRounds, phone.fs().string().c_str());
    const std::string part = argc > 3 ? argv[3] : "all";
    if (part != "listings") BenchTransfers(phone, agent, pc.path(), mib << 20, part != "downloads");
    if (part == "all" || part == "listings") BenchListings(phone, agent);
    agent.UnInitialize();
    if (inMemory) fs::remove_all(memoryLogs);
    return 0;
}

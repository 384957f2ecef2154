// What the plug-in's write-through log costs the host: `cebridge ls` and `get -r` of
// a folder of 10,000 files, with the log where the host puts it by default with and without
// XDG_RUNTIME_DIR (memory-backed either way), and on the disk (--log-dir); then a
// `contacts` listing of a phone of 10,000 contacts in memory and on the disk. It
// measures and prints; it never passes or fails on speed.
//
//   build/<dir>/bin/host_log_bench [FILES]     (default 10000; the host is bin/cebridge)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "generated_records.h"
#include "support/phone_copy.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRounds = 3;

fs::path HostProgram() {
    std::error_code error;
    return fs::read_symlink("/proc/self/exe", error).parent_path() / "cebridge";
}

// The median of kRounds runs of `command`, in seconds.
double MedianSeconds(const std::string &command) {
    std::vector<double> times;
    for (int round = 0; round < kRounds; ++round) {
        auto start = Clock::now();
        if (std::system(command.c_str()) != 0) std::fprintf(stderr, "failed: %s\n", command.c_str());
        times.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// One run of `command`: "12.345 s", or with its exit status when it failed.
std::string TimedRun(const std::string &command) {
    auto start = Clock::now();
    const int status = std::system(command.c_str());
    char text[64];
    std::snprintf(text, sizeof text, "%.3f s%s", std::chrono::duration<double>(Clock::now() - start).count(),
                  status == 0 ? "" : " (FAILED)");
    return text;
}

constexpr int kContacts = 10000;

}  // namespace

int main(int argc, char **argv) {
    const int files = argc > 1 ? std::atoi(argv[1]) : 10000;
    PhoneCopy phone;
    const fs::path many = phone.fs() / "My Documents" / "many";
    fs::create_directories(many);
    for (int i = 0; i < files; ++i) std::ofstream(many / ("file_" + std::to_string(i) + ".txt")) << i;

    TempDir home;
    // On the disk: TempDir prefers memory-backed storage, the system's temporary folder
    // (TMPDIR, else /tmp) is taken to be a disk.
    const fs::path diskLogs = fs::temp_directory_path() / ("host_log_bench_disk_" + std::to_string(getpid()));
    fs::create_directories(diskLogs);
    // A runtime folder as systems give one: memory-backed.
    const fs::path runtime = fs::path("/dev/shm") / ("host_log_bench_" + std::to_string(getpid()));
    fs::create_directories(runtime);
    ScopedEnv homeVariable("HOME", home.str()), noState("XDG_STATE_HOME", ""), noLogDir("CEBRIDGE_LOG_DIR", "");
    const std::string host = "'" + HostProgram().string() + "'";
    const fs::path copies = home.path() / "copies";
    // Each get -r starts from an empty folder, so every run copies all the files.
    const std::string commands[][2] = {
        {"ls", host + " ls '/My Documents/many' >/dev/null"},
        {"get -r", "rm -rf '" + copies.string() + "' && " + host + " get -r '/My Documents/many' '" + copies.string() +
                       "' >/dev/null"},
    };
    for (const auto &[name, command] : commands) {
        std::printf("%s of %d files, median of %d runs\n", name.c_str(), files, kRounds);
        {
            ScopedEnv withRuntime("XDG_RUNTIME_DIR", runtime.string());
            std::printf("  with XDG_RUNTIME_DIR (log in %s/cebridge):   %.3f s\n", runtime.c_str(),
                        MedianSeconds(command));
        }
        ScopedEnv withoutRuntime("XDG_RUNTIME_DIR", "");
        std::printf("  without XDG_RUNTIME_DIR (log in /dev/shm/cebridge-%d): %.3f s\n", int(getuid()),
                    MedianSeconds(command));
        ScopedEnv onDisk("CEBRIDGE_LOG_DIR", diskLogs.string());
        std::printf("  log on the disk (%s):   %.3f s\n", diskLogs.c_str(), MedianSeconds(command));
    }
    // A phone of 10,000 contacts listed by one `contacts`: the plug-in writes several
    // log lines per record, so on a disk the listing is slow but live; the host waits
    // for it as long as its log grows.
    bench::ReplaceRecords(phone.path() / "volumes" / "pim.vol.json", bench::kContactsDatabaseType, kContacts,
                          bench::Contact);
    const std::string contacts = host + " --json contacts >/dev/null";
    std::printf("contacts of %d records, one run each\n", kContacts);
    {
        ScopedEnv withRuntime("XDG_RUNTIME_DIR", runtime.string());
        std::printf("  log in %s/cebridge:   %s\n", runtime.c_str(), TimedRun(contacts).c_str());
    }
    ScopedEnv onDisk("CEBRIDGE_LOG_DIR", diskLogs.string());
    std::printf("  log on the disk (%s):   %s\n", diskLogs.c_str(), TimedRun(contacts).c_str());
    fs::remove_all(runtime);
    fs::remove_all(diskLogs);
    return 0;
}

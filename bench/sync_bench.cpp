// A sync of a phone of N contacts (default 2,000) with a PC folder, through the real
// exports against the emulated phone: the first sync, then one with nothing changed.
// It measures and prints; it never passes or fails on speed. Goal: the sync with
// nothing changed of 2,000 contacts under 5 s.
//
//   build/<dir>/bin/sync_bench [contacts]
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "generated_records.h"
#include "phone_session.h"
#include "support/phone_copy.h"
#include "sync.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

}  // namespace

int main(int argc, char **argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 2000;
    PhoneCopy phone;
    bench::ReplaceRecords(phone.path() / "volumes" / "pim.vol.json", bench::kContactsDatabaseType, count,
                          bench::Contact);
    TempDir home;
    ScopedEnv data("XDG_DATA_HOME", home.str());
    std::filesystem::create_directories(home.path() / "contacts");
    std::atomic<bool> interrupted{false};
    host::PhoneSession session(interrupted);
    host::ConnectReport connected;
    host::Outcome outcome =
        session.Connect({phone.path().string(), "", CEBRIDGE_TEST_PLUGIN, "/dev/shm", false}, &connected);
    host::SyncState state;
    std::string error;
    if (!outcome.ok || !state.Open((home.path() / "sync.sqlite").string(), &error) ||
        !state.SavePair({"bench", (home.path() / "contacts").string(), "", ""})) {
        std::fprintf(stderr, "sync_bench: %s%s\n", outcome.message.c_str(), error.c_str());
        return 1;
    }
    for (const char *run : {"first sync", "nothing changed"}) {
        host::SyncReport report;
        host::ItemSink quiet;
        const Clock::time_point start = Clock::now();
        outcome = host::RunSync(session, state, "bench", {}, quiet, &report);
        std::printf("%-16s %5d contacts  %7.2f s  %zu changes  %s\n", run, count, Seconds(start), report.actions.size(),
                    outcome.ok ? "" : outcome.message.c_str());
    }
    session.link.Disconnect();
    return 0;
}

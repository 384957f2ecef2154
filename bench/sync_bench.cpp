// A sync of a phone of N contacts (default 2,000) with a PC folder and, where Debian's
// radicale is installed, with a CardDAV address book on a Radicale of its own, through
// the real exports against the emulated phone: the first sync, then one with nothing
// changed. It measures and prints; it never passes or fails on speed. Goal: the sync
// with nothing changed of 2,000 contacts under 5 s.
//
// With "to-phone": a PC folder of N new cards synced to a phone without contacts, and
// the size of the plug-in's log after it. Goal: 2,000 cards under 10 s.
//
//   build/<dir>/bin/sync_bench [contacts] [to-phone]
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "generated_records.h"
#include "phone_session.h"
#include "support/phone_copy.h"
#include "sync.h"
#include "sync_dav.h"
#include "tests/e2e/hostcore/radicale_server.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// The first sync of the pair `name` of `state`, then one with nothing changed.
void SyncTwice(host::PhoneSession &session, host::SyncState &state, const char *name, int count) {
    for (const char *run : {"first sync", "nothing changed"}) {
        host::SyncReport report;
        host::ItemSink quiet;
        const Clock::time_point start = Clock::now();
        const host::Outcome outcome = host::RunSync(session, state, name, {}, quiet, &report);
        std::printf("%-8s %-16s %5d contacts  %7.2f s  %zu changes  %s\n", name, run, count, Seconds(start),
                    report.actions.size(), outcome.ok ? "" : outcome.message.c_str());
    }
}

// N new cards from a PC folder to a phone without contacts; the log in a folder of its own.
int SyncToPhone(int count) {
    PhoneCopy phone;
    bench::ReplaceRecords(phone.path() / "volumes" / "pim.vol.json", bench::kContactsDatabaseType, 0, bench::Contact);
    TempDir home, logs;
    ScopedEnv data("XDG_DATA_HOME", home.str());
    const std::filesystem::path folder = home.path() / "contacts";
    std::filesystem::create_directories(folder);
    for (int i = 0; i < count; ++i) {
        const std::string n = std::to_string(i);
        WriteFileText(folder / ("card-" + n + ".vcf"), "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:card-" + n + "\r\nN:Last" +
                                                           n + ";First" + n + ";;;\r\nFN:First" + n + " Last" + n +
                                                           "\r\nTEL;TYPE=CELL:010-" + std::to_string(1000 + i % 9000) +
                                                           "-5678\r\nEMAIL:person" + n +
                                                           "@example.kr\r\nORG:Example Electronics\r\nEND:VCARD\r\n");
    }
    std::atomic<bool> interrupted{false};
    host::PhoneSession session(interrupted);
    host::ConnectReport connected;
    host::Outcome outcome =
        session.Connect({phone.path().string(), "", CEBRIDGE_TEST_PLUGIN, logs.str(), false}, &connected);
    host::SyncState state;
    if (outcome.ok) outcome = state.Open((home.path() / "sync.sqlite").string());
    if (outcome.ok) outcome = state.SavePair({"to-phone", folder.string(), "", ""});
    if (!outcome.ok) {
        std::fprintf(stderr, "sync_bench: %s\n", outcome.message.c_str());
        return 1;
    }
    host::SyncReport report;
    host::ItemSink quiet;
    const Clock::time_point start = Clock::now();
    outcome = host::RunSync(session, state, "to-phone", {}, quiet, &report);
    const double seconds = Seconds(start);
    session.link.Disconnect();
    std::uintmax_t logBytes = 0;
    for (const auto &entry : std::filesystem::directory_iterator(logs.path())) logBytes += entry.file_size();
    std::printf("to-phone new cards       %5d contacts  %7.2f s  %zu changes  log %ju bytes  %s\n", count, seconds,
                report.actions.size(), logBytes, outcome.ok ? "" : outcome.message.c_str());
    return outcome.ok ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 2000;
    if (argc > 2 && std::string(argv[2]) == "to-phone") return SyncToPhone(count);
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
    if (outcome.ok) outcome = state.Open((home.path() / "sync.sqlite").string());
    if (outcome.ok) outcome = state.SavePair({"bench", (home.path() / "contacts").string(), "", ""});
    if (!outcome.ok) {
        std::fprintf(stderr, "sync_bench: %s\n", outcome.message.c_str());
        return 1;
    }
    SyncTwice(session, state, "bench", count);
    if (RadicaleServer::Installed()) {
        RadicaleServer server;
        ScopedEnv password(host::kSyncPasswordVariable, RadicaleServer::kPassword);
        if (!server.Ready() ||
            !state.SavePair({"carddav", server.Url("contacts"), "", "", RadicaleServer::kUser, "", ""}).ok) {
            std::fprintf(stderr, "sync_bench: no Radicale: %s\n", server.Log().c_str());
            return 1;
        }
        SyncTwice(session, state, "carddav", count);
    }
    session.link.Disconnect();
    return 0;
}

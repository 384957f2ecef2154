// What one change costs the emulated phone as its contacts grow: adds and deletes
// of one contact through the real exports against 0, 1,000 and 10,000 contacts, and
// the whole `cebridge contacts import` of 10,000 cards into a copy of the demo
// phone. It measures and prints; it never passes or fails on speed.
//
//   build/<dir>/bin/pim_write_bench [--no-import] [changes [contacts...]]
//
// Defaults: 20 adds and 20 deletes per size (the median is printed), sizes 0, 1,000
// and 10,000, then the import of 10,000 cards (bin/cebridge). Goals: time per
// change flat across sizes; the import within a minute.
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
#include "support/test_agent.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// Where ReplaceRecords starts its ids: the phone's next new record follows the last.
constexpr uint32_t kFirstGeneratedOid = 0x100000;

double Seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

std::string HexId(uint32_t oid) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", oid);
    return text;
}

// Seconds of one request; a refused one is reported.
double Timed(TestAgent &agent, uint16_t subCommand, const std::vector<uint8_t> &body, const char *what) {
    const auto start = Clock::now();
    const Answer answer = agent.Request(CMD_PUT, subCommand, body, 600000);
    const double seconds = Seconds(start);
    if (answer.header.nStatus != ST_OK) std::fprintf(stderr, "%s answered 0x%x\n", what, answer.header.nStatus);
    agent.ClearAnswers();
    return seconds;
}

void BenchChanges(int contacts, int changes) {
    PhoneCopy phone;
    bench::ReplaceRecords(phone.path() / "volumes" / "pim.vol.json", bench::kContactsDatabaseType, contacts,
                          bench::Contact);
    // The log in memory, where the host keeps it: its write-through lines would
    // otherwise outweigh the phone's own work.
    const fs::path logs = fs::path("/dev/shm") / ("pim_write_bench_" + std::to_string(getpid()));
    fs::create_directories(logs);
    TestAgent agent;
    agent.Initialize(logs.string());
    if (agent.Request(CMD_APP_CON, 0).header.nStatus != ST_OK) {
        std::fprintf(stderr, "connect failed\n");
        return;
    }
    std::vector<double> adds, deletes;
    for (int i = 0; i < changes; ++i) {
        const std::string text =
            "FIRSTNAME=Bench" + std::to_string(i) + "||LASTNAME=Add||MOBILETELEPHONENUMBER=010-0000-0000";
        adds.push_back(Timed(agent, SUB_PUT_OBJECT, Body({{PAR_TYPE, kContacts}, {PAR_XMLBODY, text}}), "add"));
    }
    // The plug-in deletes only what its last listing showed.
    agent.Request(CMD_GET, SUB_GET_SVC, Body({{PAR_TYPE, kContacts}}), 600000);
    agent.ClearAnswers();
    for (int i = 0; i < changes; ++i) {
        const std::string id = HexId(kFirstGeneratedOid + static_cast<uint32_t>(contacts + i));
        deletes.push_back(Timed(agent, SUB_PUT_DELETE, Body({{PAR_TYPE, kContacts}, {PAR_APP_ID, id}}), "delete"));
    }
    agent.UnInitialize();
    fs::remove_all(logs);
    std::printf("%6d contacts  add %8.2f ms  delete %8.2f ms\n", contacts, Median(adds) * 1e3, Median(deletes) * 1e3);
    std::fflush(stdout);
}

// `count` vCards shaped like the demo phone's contacts.
std::string Cards(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        const std::string n = std::to_string(i);
        text += "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Last" + n + ";First" + n + ";;;\r\nFN:First" + n + " Last" + n +
                "\r\nTEL;TYPE=CELL:010-" + std::to_string(1000 + i % 9000) +
                "-5678\r\nTEL;TYPE=HOME:02-555-0101\r\nEMAIL:person" + n +
                "@example.kr\r\nORG:Example Electronics\r\nTITLE:Engineer\r\nEND:VCARD\r\n";
    }
    return text;
}

size_t ContactsOnPhone(const PhoneCopy &phone) {
    const bench::json volume = bench::json::parse(ReadFileText(phone.path() / "volumes" / "pim.vol.json"));
    for (const bench::json &database : volume["databases"])
        if (bench::DatabaseType(database) == bench::kContactsDatabaseType) return database["records"].size();
    return 0;
}

void BenchImport(int cards) {
    PhoneCopy phone;
    TempDir work;
    ScopedEnv home("HOME", work.str()), noState("XDG_STATE_HOME", "");
    const fs::path file = work.path() / "cards.vcf";
    std::ofstream(file, std::ios::binary) << Cards(cards);
    std::error_code error;
    const fs::path host = fs::read_symlink("/proc/self/exe", error).parent_path() / "cebridge";
    const std::string command = "'" + host.string() + "' contacts import '" + file.string() + "' >/dev/null";
    const size_t before = ContactsOnPhone(phone);
    const auto start = Clock::now();
    const int status = std::system(command.c_str());
    const double seconds = Seconds(start);
    const size_t added = ContactsOnPhone(phone) - before;
    std::printf("import of %d cards: %.1f s (%.2f ms per card), exit %d, %zu contacts added, volume file %.1f MB\n",
                cards, seconds, seconds * 1e3 / cards, status, added,
                static_cast<double>(fs::file_size(phone.path() / "volumes" / "pim.vol.json")) / 1e6);
}

}  // namespace

int main(int argc, char **argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const bool import = std::find(args.begin(), args.end(), "--no-import") == args.end();
    std::erase(args, "--no-import");
    const int changes = !args.empty() ? std::max(1, std::atoi(args[0].c_str())) : 20;
    std::vector<int> sizes;
    for (size_t i = 1; i < args.size(); ++i) sizes.push_back(std::max(0, std::atoi(args[i].c_str())));
    if (sizes.empty()) sizes = {0, 1000, 10000};
    std::printf("one contact added and deleted through the exports, median of %d\n", changes);
    for (int contacts : sizes) BenchChanges(contacts, changes);
    if (import) BenchImport(10000);
    return 0;
}

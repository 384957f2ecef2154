// The host's fault sweep: every command that writes, run as the built `cebridge`
// against the plug-in and the emulated phone. A first run records which phone
// operations the command reaches (the emulator's call trace, through a preloaded
// library); then each of them fails at its 1st, 2nd and last call, once and from then
// on, with and without the link falling (device.json's "faults"). Restore, backup, put
// and sync are also killed (SIGKILL) at seeded moments.
//
// The invariant of every run, against the state before it and the state a healthy
// run leaves ("the result"):
//   - exit 0: the state is the result, whole;
//   - another exit: every item (phone file, PIM record, PC file) is as it was or as
//     the result has it, nothing else appeared, the exit says the phone failed (1 or
//     5) and the message names the phone (a new phone file it says may remain, and
//     a phone file whose original it says is kept on the PC where it is, are named);
//   - then a rerun on a healthy phone reaches the result.
// A killed run is held to the last point only. A sync with a CardDAV/CalDAV server has
// a Radicale server of its own in the case's place (its storage is part of the state).
//
// The test command runs a seeded sample of each command's cases (the seed is
// printed; CEBRIDGE_HOST_SWEEP_SEED picks another); CEBRIDGE_HOST_SWEEP=all runs
// every case, the ones known to fail today included, and prints each violation
// (CEBRIDGE_HOST_SWEEP_CASE, a regex over the case as printed, narrows it to some:
// CEBRIDGE_HOST_SWEEP=all CEBRIDGE_HOST_SWEEP_CASE='CeWriteFile nth=2 once linkDrop'
// with --gtest_filter='*restore').
#include <gtest/gtest.h>

#if !defined(_WIN32)

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "e2e/hostcore/radicale_server.h"
#include "support/phone_copy.h"

extern char **environ;

namespace fs = std::filesystem;

// (named: the unity build joins this file with others)
namespace host_sweep {
namespace {

// Every item of the state, by name: "phone:PATH" (a phone file's content, "/" for a
// folder), "pim:VOLUME:DATABASE:RECORD#N" (a record's properties, "1"), "pc:PATH"
// (a file or folder below the case's work folder) and "stdout".
using World = std::map<std::string, std::string>;

struct Outcome {
    int exitCode = -1;  // -1: killed
    std::string out;
    std::string err;
    double seconds = 0;
};

// One case's phone image and home (data, state, logs and the work folder the
// commands run in).
struct Place {
    fs::path root;
    int davPort = 0;  // the case's Radicale server, where the command has one
    fs::path phone() const { return root / "phone"; }
    fs::path home() const { return root / "home"; }
    fs::path work() const { return home() / "work"; }
    fs::path dav() const { return root / "dav"; }
    std::string DavUrl(const std::string &collection) const {
        return "http://127.0.0.1:" + std::to_string(davPort) + "/" + RadicaleServer::kUser + "/" + collection + "/";
    }
    fs::path DavStorage(const std::string &collection) const {
        return dav() / "storage" / "collection-root" / RadicaleServer::kUser / collection;
    }
};

std::string CebridgeProgram() { return std::string(CEBRIDGE_TEST_BIN_DIR) + "/cebridge"; }

std::vector<std::string> EnvironmentFor(const Place &place, const std::map<std::string, std::string> &extra) {
    std::map<std::string, std::string> values = {{"CEBRIDGE_DEVICE", place.phone().string()},
                                                 {"XDG_DATA_HOME", (place.home() / "data").string()},
                                                 {"XDG_STATE_HOME", (place.home() / "state").string()},
                                                 {"CEBRIDGE_LOG_DIR", (place.home() / "logs").string()},
                                                 {"HOME", place.home().string()},
                                                 {"CEBRIDGE_SYNC_PASSWORD", RadicaleServer::kPassword},
                                                 {"TZ", "UTC0"}};
    values.insert(extra.begin(), extra.end());
    std::vector<std::string> environment;
    for (char **entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        if (!values.count(text.substr(0, text.find('=')))) environment.push_back(text);
    }
    for (const auto &[name, value] : values) environment.push_back(name + "=" + value);
    return environment;
}

// Starts the host in the case's work folder, its output going to files in its home.
pid_t StartHost(const Place &place, const std::vector<std::string> &args,
                const std::map<std::string, std::string> &extraEnv = {}) {
    std::vector<std::string> words = {CebridgeProgram()};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char *> argv, envp;
    for (std::string &word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment = EnvironmentFor(place, extraEnv);
    for (std::string &entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    const std::string out = (place.home() / "stdout").string(), err = (place.home() / "stderr").string();
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addchdir_np(&actions, place.work().c_str());
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

Outcome FinishHost(const Place &place, pid_t pid, std::chrono::steady_clock::time_point started) {
    Outcome run;
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    run.out = ReadFileText(place.home() / "stdout");
    run.err = ReadFileText(place.home() / "stderr");
    return run;
}

Outcome RunHost(const Place &place, const std::vector<std::string> &args,
                const std::map<std::string, std::string> &extraEnv = {}) {
    const auto started = std::chrono::steady_clock::now();
    return FinishHost(place, StartHost(place, args, extraEnv), started);
}

pid_t StartProgram(const std::string &program, std::vector<std::string> args) {
    args.insert(args.begin(), program);
    std::vector<char *> argv;
    for (std::string &word : args) argv.push_back(word.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) pid = -1;
    return pid;
}

// A request to the API of `cebridge serve`: {METHOD, PATH (escaped as in a URL)[, a file
// of the work folder as its body]}.
using Request = std::vector<std::string>;

// The token and port of a `cebridge serve` from the line it prints ("" when it ended
// or printed none within a minute).
std::string ServedAddress(const Place &place, pid_t pid) {
    static const std::regex served(R"(serving http://127\.0\.0\.1:(\d+)/#token=(\S+))");
    for (int wait = 0; wait < 3000; ++wait) {
        std::smatch match;
        const std::string out = ReadFileText(place.home() / "stdout");
        if (std::regex_search(out, match, served)) return match[1].str() + " " + match[2].str();
        if (waitpid(pid, nullptr, WNOHANG) == pid) return "";
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return "";
}

// Runs `request` against a `cebridge serve` of the case's place, which stops after
// its answer: a run whose exit is the failure document's exit code (0 for a 2xx),
// whose output is the answer's body and whose error output is the document's error.
Outcome RunServe(const Place &place, const Request &request, const std::map<std::string, std::string> &extraEnv) {
    const auto started = std::chrono::steady_clock::now();
    const pid_t pid = StartHost(place, {"serve"}, extraEnv);
    std::istringstream address(ServedAddress(place, pid));
    std::string port, token;
    address >> port >> token;
    const fs::path answer = place.home() / "answer";
    const std::string client =
        "import sys, urllib.request, urllib.error\n"
        "port, token, method, path, body, out = sys.argv[1:7]\n"
        "data = open(body, 'rb').read() if body else (b'' if method in ('POST', 'PUT') else None)\n"
        "request = urllib.request.Request('http://127.0.0.1:' + port + path, data=data, method=method)\n"
        "request.add_header('Authorization', 'Bearer ' + token)\n"
        "request.add_header('Content-Type', 'application/json' if body.endswith('.json') else "
        "'application/octet-stream')\n"
        "try:\n    reply = urllib.request.urlopen(request, timeout=600); status, text = reply.status, reply.read()\n"
        "except urllib.error.HTTPError as error:\n    status, text = error.code, error.read()\n"
        "open(out, 'wb').write(str(status).encode() + b'\\n' + text)\n";
    fs::remove(answer);
    if (!token.empty()) {
        const std::string body = request.size() > 2 ? (place.work() / request[2]).string() : "";
        const pid_t python = StartProgram("/usr/bin/python3",
                                          {"-c", client, port, token, request[0], request[1], body, answer.string()});
        waitpid(python, nullptr, 0);
    }
    kill(pid, SIGTERM);
    Outcome run = FinishHost(place, pid, started);
    const std::string text = ReadFileText(answer);
    const int status = std::atoi(text.c_str());
    run.out = text.substr(std::min(text.size(), text.find('\n') + 1));
    if (status >= 200 && status < 300) {
        run.exitCode = 0;
        run.err.clear();
        return run;
    }
    const nlohmann::json failure = nlohmann::json::parse(run.out, nullptr, false);
    run.exitCode = failure.is_object() ? failure.value("exitCode", 99) : 99;
    run.err = "HTTP " + std::to_string(status) + ": " +
              (failure.is_object() ? failure.value("error", run.out) : run.out + run.err);
    return run;
}

// The phone operations a healthy run (`run`) reaches, in call order.
std::vector<std::string> TraceHost(const Place &place,
                                   const std::function<Outcome(const std::map<std::string, std::string> &)> &runner,
                                   Outcome *run) {
    const fs::path trace = place.home() / "trace";
    const char *asan = std::getenv("ASAN_OPTIONS");
    *run = runner({{"LD_PRELOAD", CEBRIDGE_CALL_TRACE_LIBRARY},
                   {"CEBRIDGE_CALL_TRACE", trace.string()},
                   // (the preloaded library comes before the sanitizer's runtime)
                   {"ASAN_OPTIONS", std::string(asan ? asan : "") + ":verify_asan_link_order=0"}});
    std::vector<std::string> calls;
    // (an empty file is a command that reaches no phone operation: backup --verify)
    if (!fs::exists(trace)) calls.push_back("no trace: the preloaded library did not load");
    std::istringstream lines(ReadFileText(trace));
    for (std::string line; std::getline(lines, line);) calls.push_back(line);
    return calls;
}

void SetFaults(const Place &place, const nlohmann::json &faults) {
    const fs::path file = place.phone() / "device.json";
    nlohmann::json device = nlohmann::json::parse(ReadFileText(file));
    device["faults"] = faults;
    WriteFileText(file, device.dump(2));
}

// Rewrites a volume of the phone (journal folded in) through `edit`.
void EditVolume(const fs::path &phone, const std::string &leaf, const std::function<void(nlohmann::json &)> &edit) {
    nlohmann::json volume = ReadImageVolume(phone, leaf);
    edit(volume);
    WriteFileText(phone / "volumes" / (leaf + ".json"), volume.dump(2));
    fs::remove(phone / "volumes" / (leaf + ".journal"));
}

void AddTree(World &world, const std::string &prefix, const fs::path &root) {
    if (!fs::exists(root)) return;
    for (const auto &entry : fs::recursive_directory_iterator(root)) {
        const std::string name = prefix + fs::relative(entry.path(), root).generic_string();
        world[name] = entry.is_directory() ? "/" : ReadFileText(entry.path());
    }
}

void AddRecords(World &world, const fs::path &phone, const std::string &leaf) {
    const nlohmann::json volume = ReadImageVolume(phone, leaf);
    if (!volume.contains("databases")) return;
    for (const nlohmann::json &database : volume["databases"]) {
        std::map<std::string, int> seen;
        for (const nlohmann::json &record : database.value("records", nlohmann::json::array())) {
            std::vector<std::string> props;
            for (const nlohmann::json &prop : record.value("props", nlohmann::json::array()))
                props.push_back(prop.dump());
            std::sort(props.begin(), props.end());
            std::string text;
            for (const std::string &prop : props) text += prop;
            const std::string key = "pim:" + leaf + ":" + database.value("name", "") + ":" + text;
            world[key + "#" + std::to_string(++seen[key])] = "1";
        }
    }
}

// The items a Radicale server keeps, one file each (not its own dot files).
void AddDavItems(World &world, const Place &place) {
    for (const char *collection : {"contacts", "calendar"}) {
        const fs::path folder = place.DavStorage(collection);
        if (!fs::is_directory(folder)) continue;
        for (const auto &entry : fs::directory_iterator(folder)) {
            if (entry.is_regular_file() && !entry.path().filename().string().starts_with("."))
                world["dav:" + std::string(collection) + "/" + entry.path().filename().string()] =
                    ReadFileText(entry.path());
        }
    }
}

World Snapshot(const Place &place, const Outcome &run) {
    World world;
    AddTree(world, "phone:", place.phone() / "fs");
    AddRecords(world, place.phone(), "pim.vol");
    AddRecords(world, place.phone(), "sms.vol");
    AddTree(world, "pc:", place.work());
    AddDavItems(world, place);
    // (an iCalendar file says when it was written)
    static const std::regex stamp("DTSTAMP:\\d{8}T\\d{6}Z");
    for (auto &[name, value] : world) {
        if (name.starts_with("pc:") || name.starts_with("dav:")) value = std::regex_replace(value, stamp, "DTSTAMP:");
    }
    world["stdout"] = run.out;
    return world;
}

// ---- Views: what of the state a command's result is -------------------------------

using View = std::function<void(World &)>;

// Only what a command may change is compared; the rest is expected untouched.
View Keep(const std::string &pattern) {
    return [expression = std::regex(pattern)](World &world) {
        std::erase_if(world, [&](const auto &item) { return !std::regex_search(item.first, expression); });
    };
}

View Both(View first, View second) {
    return [first, second](World &world) {
        first(world);
        second(world);
    };
}

// A backup's generations are named after their time: they become gen1, gen2, ... in
// their order; the times a manifest records are left out.
void NameGenerationsByOrder(World &world) {
    static const std::regex generation(R"(\d{4}-\d\d-\d\dT\d{6}Z(-\d+)?)");
    std::set<std::string> names;
    for (const auto &item : world) {
        for (std::sregex_iterator it(item.first.begin(), item.first.end(), generation), end; it != end; ++it)
            names.insert(it->str());
    }
    std::map<std::string, std::string> order;
    for (const std::string &name : names) order[name] = "gen" + std::to_string(order.size() + 1);
    auto rename = [&](std::string text) {
        std::string result;
        std::sregex_iterator it(text.begin(), text.end(), generation), end;
        size_t from = 0;
        for (; it != end; ++it) {
            result += text.substr(from, size_t(it->position()) - from) + order[it->str()];
            from = size_t(it->position() + it->length());
        }
        return result + text.substr(from);
    };
    World renamed;
    for (auto [name, value] : world) {
        if (name.ends_with("/manifest.json")) {
            nlohmann::json manifest = nlohmann::json::parse(value, nullptr, false);
            if (manifest.is_object()) {
                manifest.erase("time");
                for (nlohmann::json &file : manifest["files"]) {
                    file.erase("modified");
                    file.erase("sha256");  // (the copies themselves are compared)
                }
                value = manifest.dump();
            }
        }
        renamed[rename(name)] = rename(value);
    }
    world = std::move(renamed);
}

// A generation that names parts the phone could not give ("unread") holds what it
// could, beside the latest, which it never replaces: a failed run may leave one
// (compared without it), a whole run never does (then it is missing).
void DropPartialGenerations(World &world) {
    static const std::regex manifest(R"(^(pc:[^/]+/[^/]+)/manifest\.json$)");
    std::set<std::string> partial;
    for (const auto &[name, value] : world) {
        std::smatch match;
        if (!std::regex_match(name, match, manifest)) continue;
        const nlohmann::json parsed = nlohmann::json::parse(value, nullptr, false);
        if (parsed.is_object() && parsed.contains("unread")) partial.insert(match[1].str());
    }
    std::erase_if(world, [&](const auto &item) {
        return std::any_of(partial.begin(), partial.end(), [&](const std::string &generation) {
            return item.first == generation || item.first.starts_with(generation + "/");
        });
    });
}

// A sync folder's files are named by UIDs the run makes up: they are named by their
// content instead, UIDs left out.
View NameFilesByContent(const std::string &folder) {
    return [folder](World &world) {
        static const std::regex uid("cebridge-[0-9a-f]{24}");
        World renamed;
        std::map<std::string, int> seen;
        for (const auto &[name, value] : world) {
            if (!name.starts_with(folder) || value == "/") {
                renamed[name] = value;
                continue;
            }
            const std::string content = std::regex_replace(value, uid, "UID");
            const std::string key = folder + "{" + content + "}";
            renamed[key + "#" + std::to_string(++seen[key])] = content;
        }
        world = std::move(renamed);
    };
}

// ---- The table ----------------------------------------------------------------------

// Prepares the template a command's cases start from (a healthy phone, PC files, an
// earlier backup or sync).
using Setup = std::function<void(const Place &)>;

struct Command {
    std::string name;
    Setup setup;
    std::vector<std::string> args = {};
    View view;  // the items the command's result is made of
    // Items a failure may leave in any state (what the command promises to keep for
    // the next run, such as a backup's unfinished folder).
    std::string mayDifferAfterFailure = "";
    std::vector<std::string> rerunArgs = {};  // empty: `args` again
    bool killed = false;                      // also killed at seeded moments
    bool dav = false;                         // a Radicale server in the case's place
    // false: a failed run leaves what a rerun cannot take back (an edit that added the
    // new record and could not delete the old says both are there): only the invariant.
    bool rerunReachesResult = true;
    // Not empty: the command is this request to `cebridge serve` (`args` unused).
    Request request = {};
    Request rerunRequest = {};  // empty: `request` again
};

// Cases that violate the invariant on today's code: left out of the sample until their
// fix lands (CEBRIDGE_HOST_SWEEP=all still runs them and reports them as "known").
struct KnownFailure {
    const char *command;
    const char *casePattern;  // a regex over the case as printed
    const char *reason;
};
const std::vector<KnownFailure> kKnownToFail = {};

void Host(const Place &place, const std::vector<std::string> &args) {
    const Outcome run = RunHost(place, args);
    ASSERT_EQ(run.exitCode, 0) << "setup: " << ::testing::PrintToString(args) << "\n" << run.err;
}

void MakeFolderTree(const fs::path &root) {
    fs::create_directories(root / "sub" / "deep");
    fs::create_directories(root / "empty");
    WriteFileText(root / "a.txt", "alpha");
    WriteFileText(root / "sub" / "b.bin", std::string(70000, 'b'));
    WriteFileText(root / "sub" / "deep" / "c.txt", "gamma");
}

std::string Bytes(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char &byte : bytes) byte = static_cast<char>(random());
    return bytes;
}

const char kCards[] =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Sweep;Ann;;;\r\nFN:Ann Sweep\r\nTEL;TYPE=CELL:010-1111-0001\r\nEND:VCARD\r\n"
    "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Sweep;Ben;;;\r\nFN:Ben Sweep\r\nTEL;TYPE=CELL:010-1111-0002\r\nEND:VCARD\r\n"
    "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Sweep;Cy;;;\r\nFN:Cy Sweep\r\nNOTE:only on the PC\r\nEND:VCARD\r\n";
const char kEvents[] =
    "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//sweep//EN\r\n"
    "BEGIN:VEVENT\r\nUID:sweep-1\r\nDTSTAMP:20261201T000000Z\r\nDTSTART:20261224T100000Z\r\n"
    "DTEND:20261224T110000Z\r\nSUMMARY:Sweep one\r\nEND:VEVENT\r\n"
    "BEGIN:VEVENT\r\nUID:sweep-2\r\nDTSTAMP:20261201T000000Z\r\nDTSTART:20261225T100000Z\r\n"
    "DTEND:20261225T120000Z\r\nSUMMARY:Sweep two\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
const char kOneCard[] = "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Old;Only;;;\r\nFN:Only Old\r\nEND:VCARD\r\n";

// Removes the first `count` records of a database of the phone.
void DropRecords(const Place &place, const std::string &database, size_t count) {
    EditVolume(place.phone(), "pim.vol", [&](nlohmann::json &volume) {
        for (nlohmann::json &db : volume["databases"]) {
            if (db["name"] != database) continue;
            nlohmann::json &records = db["records"];
            records.erase(records.begin(), records.begin() + long(std::min(count, records.size())));
        }
    });
}

Setup Then(Setup first, Setup second) {
    return [first, second](const Place &place) {
        first(place);
        second(place);
    };
}

const std::string kPhone = "^phone:", kPim = "^pim:", kPc = "^pc:", kStdout = "^stdout$";

std::vector<Command> Commands() {
    const auto none = [](const Place &) {};
    const Setup earlierBackup = [](const Place &p) {
        Host(p, {"backup", "bk"});
        WriteFileText(p.phone() / "fs" / "My Documents" / "readme.txt", "changed since the backup");
        WriteFileText(p.phone() / "fs" / "My Storage" / "new.bin", Bytes(90000, 3));
    };
#if defined(CEBRIDGE_HAVE_SYNC)
    const Setup folderPair = [](const Place &p) {
        fs::create_directories(p.work() / "cards");
        fs::create_directories(p.work() / "events");
        Host(p, {"sync", "add", "s", "--contacts", "cards", "--calendar", "events"});
        Host(p, {"sync", "s"});
        // Changes on both sides: a deleted card and a new one on the PC, a new
        // contact and a deleted appointment on the phone.
        fs::remove(*fs::directory_iterator(p.work() / "cards"));
        WriteFileText(p.work() / "cards" / "sweep-new.vcf",
                      std::string(kCards).substr(0, std::string(kCards).find("BEGIN", 10)));
        Host(p, {"contacts", "add", "FIRSTNAME=Dan", "LASTNAME=Phone"});
        Host(p, {"calendar", "rm", "20003"});
    };
    const View folderPairView =
        Both(Keep("^(pim|pc):"), Both(NameFilesByContent("pc:cards/"), NameFilesByContent("pc:events/")));
#endif
    const Setup newReadme = [](const Place &p) { WriteFileText(p.work() / "readme.txt", Bytes(120000, 2)); };
    const Setup oldTree = [](const Place &p) { MakeFolderTree(p.phone() / "fs" / "My Storage" / "old"); };
    const Setup backupThenLoss = [](const Place &p) {
        WriteFileText(p.phone() / "fs" / "My Storage" / "p7.bin", Bytes(500000, 4));
        Host(p, {"backup", "bk"});
        fs::remove(p.phone() / "fs" / "My Storage" / "p7.bin");
        fs::remove(p.phone() / "fs" / "My Documents" / "readme.txt");
        DropRecords(p, "Contacts Database", 3);
        DropRecords(p, "Appointments Database", 2);
    };
    // The body of a backup route's request: the folder "bk" of the work folder.
    const auto backupBody = [](const std::string &action) {
        return [action](const Place &p) {
            WriteFileText(p.work() / "backup.json",
                          nlohmann::json{{"folder", (p.work() / "bk").string()}, {"action", action}}.dump());
        };
    };
    const View backupView = Both(Both(Keep(kPc), DropPartialGenerations), NameGenerationsByOrder);
    std::vector<Command> commands = {
        {.name = "put_new",
         .setup = [](const Place &p) { WriteFileText(p.work() / "new.bin", Bytes(200000, 1)); },
         .args = {"put", "new.bin", "/My Documents/"},
         .view = Keep(kPhone)},
        {.name = "put_replace",
         .setup = newReadme,
         .args = {"put", "readme.txt", "/My Documents/readme.txt"},
         .view = Keep(kPhone),
         .killed = true},
        {.name = "put_tree",
         .setup = [](const Place &p) { MakeFolderTree(p.work() / "tree"); },
         // (Into the parent, -f: as cp -r, a rerun into the folder a failed run made
         // would copy into a folder inside it, and would not replace what it left.)
         .args = {"put", "-r", "-f", "tree", "/My Storage/"},
         .view = Keep(kPhone)},
        {.name = "get_file",
         .setup = [](const Place &p) { WriteFileText(p.work() / "photo.jpg", "an older photo"); },
         .args = {"get", "/My Documents/DSC_0001.jpg", "photo.jpg"},
         .view = Keep(kPc)},
        {.name = "get_tree", .setup = none, .args = {"get", "-r", "-f", "/My Documents", "."}, .view = Keep(kPc)},
        {.name = "get_stdout",
         .setup = none,
         .args = {"get", "/My Documents/DSC_0001.jpg", "-"},
         .view = Keep(kStdout),
         .mayDifferAfterFailure = kStdout},
        {.name = "rm_tree", .setup = oldTree, .args = {"rm", "-r", "/My Storage/old"}, .view = Keep(kPhone)},
        {.name = "mkdir", .setup = none, .args = {"mkdir", "/My Storage/a/b/c"}, .view = Keep(kPhone)},
        {.name = "backup",
         .setup = earlierBackup,
         .args = {"backup", "bk"},
         .view = backupView,
         .mayDifferAfterFailure = "^pc:bk/unfinished(/|$)",
         .killed = true},
        {.name = "backup_verify",
         .setup = earlierBackup,
         .args = {"backup", "--verify", "bk"},
         .view = Both(Keep(kPc), NameGenerationsByOrder)},
        {.name = "restore",
         .setup = backupThenLoss,
         .args = {"restore", "bk"},
         .view = Keep("^(phone|pim):"),
         .killed = true},
        {.name = "contacts_import",
         .setup = [](const Place &p) { WriteFileText(p.work() / "new.vcf", kCards); },
         .args = {"contacts", "import", "new.vcf"},
         .view = Keep(kPim),
         .rerunArgs = {"contacts", "import", "--skip-existing", "new.vcf"}},
        {.name = "calendar_import",
         .setup = [](const Place &p) { WriteFileText(p.work() / "new.ics", kEvents); },
         .args = {"calendar", "import", "new.ics"},
         .view = Keep(kPim),
         .rerunArgs = {"calendar", "import", "--skip-existing", "new.ics"}},
        {.name = "contacts_add",
         .setup = none,
         .args = {"contacts", "add", "FIRSTNAME=Ann", "LASTNAME=Sweep", "MOBILETELEPHONENUMBER=010-1111-0001"},
         .view = Keep(kPim)},
        {.name = "contacts_rm", .setup = none, .args = {"contacts", "rm", "10003"}, .view = Keep(kPim)},
        {.name = "contacts_edit",
         .setup = none,
         .args = {"contacts", "edit", "10003", "FIRSTNAME=Edited"},
         .view = Keep(kPim),
         .rerunReachesResult = false},
        {.name = "calendar_add",
         .setup = none,
         .args = {"calendar", "add", "TITLE=Sweep", "STARTTIME=2026-12-24 10:00", "DURATION=30"},
         .view = Keep(kPim)},
        {.name = "calendar_rm", .setup = none, .args = {"calendar", "rm", "20002"}, .view = Keep(kPim)},
        {.name = "sms_rm", .setup = none, .args = {"sms", "rm", "50002"}, .view = Keep(kPim)},
#if defined(CEBRIDGE_HAVE_SYNC)
        {.name = "sync_folder", .setup = folderPair, .args = {"sync", "s"}, .view = folderPairView, .killed = true},
        {.name = "sync_dav",
         .setup =
             [](const Place &p) {
                 Host(p, {"sync", "add", "s", "--contacts", p.DavUrl("contacts"), "--calendar", p.DavUrl("calendar"),
                          "--user", RadicaleServer::kUser});
                 Host(p, {"sync", "s"});
                 // Changes on both sides: a card deleted and one added on the server
                 // (its storage written as another client would), a new contact and a
                 // deleted appointment on the phone.
                 for (const auto &entry : fs::directory_iterator(p.DavStorage("contacts"))) {
                     if (entry.path().extension() != ".vcf") continue;
                     fs::remove(entry.path());
                     break;
                 }
                 WriteFileText(p.DavStorage("contacts") / "sweep-new.vcf",
                               "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:sweep-new\r\nN:Sweep;Eve;;;\r\nFN:Eve Sweep\r\n"
                               "TEL;TYPE=CELL:010-1111-0005\r\nEND:VCARD\r\n");
                 Host(p, {"contacts", "add", "FIRSTNAME=Dan", "LASTNAME=Phone"});
                 Host(p, {"calendar", "rm", "20003"});
             },
         .args = {"sync", "s"},
         .view =
             Both(Keep("^(pim|dav):"), Both(NameFilesByContent("dav:contacts/"), NameFilesByContent("dav:calendar/"))),
         .killed = true,
         .dav = true},
#endif
    };
    // The same operations as requests to `cebridge serve`: its routes keep the invariant
    // the commands keep, and answer a failure with the document of the command's.
    const Request put = {"PUT", "/api/file?path=%2FMy%20Documents%2Freadme.txt", "readme.txt"};
    const std::vector<Command> served = {
        {.name = "serve_put_replace", .setup = newReadme, .view = Keep(kPhone), .request = put},
        {.name = "serve_rm_tree",
         .setup = oldTree,
         .view = Keep(kPhone),
         .request = {"DELETE", "/api/file?path=%2FMy%20Storage%2Fold&recursive=true"}},
        {.name = "serve_rename",
         .setup = none,
         .view = Keep(kPhone),
         .request = {"POST", "/api/rename?path=%2FMy%20Documents%2Freadme.txt&name=renamed.txt"}},
        {.name = "serve_mkdir",
         .setup = none,
         .view = Keep(kPhone),
         .request = {"POST", "/api/folder?path=%2FMy%20Storage%2Fa%2Fb%2Fc"}},
        {.name = "serve_contacts_import",
         .setup = [](const Place &p) { WriteFileText(p.work() / "new.vcf", kCards); },
         .view = Keep(kPim),
         .request = {"POST", "/api/contacts/import?name=new.vcf", "new.vcf"},
         .rerunRequest = {"POST", "/api/contacts/import?skipExisting=true&name=new.vcf", "new.vcf"}},
        {.name = "serve_contacts_add",
         .setup =
             [](const Place &p) {
                 WriteFileText(p.work() / "contact.json", R"({"FIRSTNAME": "Ann", "LASTNAME": "Sweep"})");
             },
         .view = Keep(kPim),
         .request = {"POST", "/api/contacts", "contact.json"}},
        {.name = "serve_calendar_rm", .setup = none, .view = Keep(kPim), .request = {"DELETE", "/api/calendar/20002"}},
        {.name = "serve_backup",
         .setup = Then(earlierBackup, backupBody("backup")),
         .view = backupView,
         .mayDifferAfterFailure = "^pc:bk/unfinished(/|$)",
         .request = {"POST", "/api/backup", "backup.json"}},
        {.name = "serve_restore",
         .setup = Then(backupThenLoss, backupBody("restore")),
         .view = Keep("^(phone|pim):"),
         .request = {"POST", "/api/backup", "backup.json"}},
    };
    commands.insert(commands.end(), served.begin(), served.end());
#if defined(CEBRIDGE_HAVE_SYNC)
    commands.push_back(
        {.name = "serve_sync_folder", .setup = folderPair, .view = folderPairView, .request = {"POST", "/api/sync/s"}});
#endif
    for (const auto &[kind, file] : std::vector<std::pair<std::string, std::string>>{
             {"contacts", "mine.vcf"}, {"calendar", "mine.ics"}, {"calls", "calls.csv"}, {"sms", "sms.json"}}) {
        commands.push_back({.name = kind + "_export",
                            .setup = [file](const Place &p) { WriteFileText(p.work() / file, kOneCard); },
                            .args = {kind, "export", file},
                            .view = Keep(kPc)});
    }
    return commands;
}

// ---- Cases --------------------------------------------------------------------------

struct Case {
    std::string operation;  // empty: no fault (the control run)
    uint32_t nth = 0;
    bool persistent = false;
    bool linkDrop = false;
    double killAfter = -1;  // seconds; >= 0: a kill case

    std::string Describe() const {
        if (killAfter >= 0) return "kill -9 after " + std::to_string(int(killAfter * 1000)) + " ms";
        if (operation.empty()) return "no fault";
        return operation + " nth=" + std::to_string(nth) + (persistent ? " persistent" : " once") +
               (linkDrop ? " linkDrop" : "");
    }
    nlohmann::json Faults() const {
        if (operation.empty()) return nlohmann::json::array();
        // (error 31, a device that does not work: no meaning the host could mistake
        // for a refused name or a read-only file)
        return nlohmann::json::array({{{"operation", operation},
                                       {"nth", nth},
                                       {"persistent", persistent},
                                       {"error", 31},
                                       {"linkDrop", linkDrop}}});
    }
};

std::vector<Case> FaultCases(const std::vector<std::string> &trace) {
    std::map<std::string, uint32_t> counts;
    std::vector<std::string> order;
    for (const std::string &call : trace) {
        // A database call is traced twice, as CeRapiInvoke and as its own name: it is
        // swept under its own name.
        if (call == "CeRapiInvoke") continue;
        if (counts[call]++ == 0) order.push_back(call);
    }
    std::vector<Case> cases;
    for (const std::string &operation : order) {
        std::set<uint32_t> nths = {1, std::min<uint32_t>(2, counts[operation]), counts[operation]};
        for (uint32_t nth : nths) {
            for (bool persistent : {false, true}) {
                for (bool linkDrop : {false, true}) cases.push_back({operation, nth, persistent, linkDrop});
            }
        }
    }
    return cases;
}

bool WholeSweep() {
    const char *value = std::getenv("CEBRIDGE_HOST_SWEEP");
    return value != nullptr && std::string(value) == "all";
}

uint32_t Seed() {
    const char *value = std::getenv("CEBRIDGE_HOST_SWEEP_SEED");
    return value != nullptr ? uint32_t(std::strtoul(value, nullptr, 10)) : 20261209u;
}

constexpr size_t kSampledFaultCases = 8;

// ---- The invariant --------------------------------------------------------------------

std::string Shown(const std::string &value) {
    if (value.size() <= 60 && std::all_of(value.begin(), value.end(), [](char c) { return c >= ' ' || c < 0; }))
        return "\"" + value + "\"";
    return std::to_string(value.size()) + " bytes";
}

std::string ItemState(const World &world, const std::string &name) {
    auto found = world.find(name);
    return found == world.end() ? "absent" : Shown(found->second);
}

// A phone file that was not there before, which the message says may remain cut: a
// dropped link leaves the host no way to delete it, so it names it instead.
bool NamedLeftover(const std::string &name, const World &before, const std::string &message) {
    if (!name.starts_with("phone:") || before.count(name)) return false;
    const std::string leaf = name.substr(name.find_last_of("/:") + 1);
    return message.find("may remain") != std::string::npos && message.find(leaf) != std::string::npos;
}

// A phone file whose original the message says is kept on the PC at a path that
// holds it: the host could not put it back (the phone failed), and named where it is.
bool KeptOnPc(const std::string &name, const World &before, const std::string &message, const Place &place) {
    const fs::path kept = place.home() / "state" / "cebridge" / "kept";
    if (!name.starts_with("phone:") || !before.count(name) || !fs::is_directory(kept)) return false;
    for (const auto &entry : fs::directory_iterator(kept)) {
        if (message.find("kept on the PC at " + entry.path().string()) != std::string::npos &&
            ReadFileText(entry.path()) == before.at(name))
            return true;
    }
    return false;
}

// The names whose state in `world` is neither in `before` nor in `result`.
std::vector<std::string> ItemsNeitherBeforeNorAfter(const World &before, const World &result, const World &world,
                                                    const std::string &mayDiffer, const std::string &message,
                                                    const Place &place) {
    std::set<std::string> names;
    for (const World *w : {&before, &result, &world}) {
        for (const auto &item : *w) names.insert(item.first);
    }
    std::vector<std::string> problems;
    const std::regex free(mayDiffer.empty() ? "$^" : mayDiffer);
    for (const std::string &name : names) {
        if (std::regex_search(name, free) || NamedLeftover(name, before, message) ||
            KeptOnPc(name, before, message, place))
            continue;
        const std::string now = ItemState(world, name);
        if (now == ItemState(before, name) || now == ItemState(result, name)) continue;
        problems.push_back(name.substr(0, 120) + ": " + now + " (before " + ItemState(before, name) + ", result " +
                           ItemState(result, name) + ")");
    }
    return problems;
}

std::vector<std::string> Differences(const World &expected, const World &world) {
    std::set<std::string> names;
    for (const World *w : {&expected, &world}) {
        for (const auto &item : *w) names.insert(item.first);
    }
    std::vector<std::string> differences;
    for (const std::string &name : names) {
        const std::string now = ItemState(world, name), wanted = ItemState(expected, name);
        if (now != wanted || (world.count(name) && world.at(name) != expected.at(name)))
            differences.push_back(name.substr(0, 120) + ": " + now + ", the result has " + wanted);
    }
    return differences;
}

std::string Lines(const std::vector<std::string> &lines, size_t most = 6) {
    std::string text;
    for (size_t i = 0; i < lines.size() && i < most; ++i) text += "\n    " + lines[i];
    if (lines.size() > most) text += "\n    (" + std::to_string(lines.size() - most) + " more)";
    return text;
}

std::string FirstLine(const std::string &text) { return text.substr(0, text.find('\n')); }
std::string LastLine(std::string text) {
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text.substr(text.find_last_of('\n') + 1);
}

// What a phone fault may say: the exit of a failed phone operation or connect, and a
// message that names the phone and gives no advice belonging to another party.
std::string Misnamed(const Outcome &run) {
    if (run.exitCode != 1 && run.exitCode != 5) return "exit " + std::to_string(run.exitCode) + " for a phone fault";
    std::string lower = run.err + run.out;  // (an import reports a refused card on stdout)
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) { return char(std::tolower(c)); });
    if (lower.find("phone") == std::string::npos) return "the message does not name the phone";
    for (const char *wrong : {"code page", "insert it", "read-only", "sync rm", "bad argument"}) {
        if (lower.find(wrong) != std::string::npos) return std::string("the message says \"") + wrong + "\"";
    }
    return "";
}

// ---- The sweep ------------------------------------------------------------------------

class HostFaultSweep : public ::testing::TestWithParam<Command> {
protected:
    HostFaultSweep() : m_command(GetParam()) {}

    void SetUp() override {
        if (m_command.dav && !RadicaleServer::Installed()) GTEST_SKIP() << "no Radicale server: install radicale";
        // Every run happens in the one folder the setup ran in: the state it leaves
        // (a sync pair's folders) names paths there.
        const Place place = Fresh();
        fs::copy(m_phone.path(), place.phone(), fs::copy_options::recursive);
        fs::create_directories(place.work());
        m_command.setup(place);
        if (HasFatalFailure()) return;
        m_server.reset();
        fs::rename(place.root, m_template);
        Place reference = Fresh();
        m_before = Snapshot(reference, {});
        Outcome run;
        m_trace = TraceHost(
            reference, [&](const std::map<std::string, std::string> &env) { return Run(reference, false, env); }, &run);
        ASSERT_EQ(run.exitCode, 0) << "the healthy run fails: " << run.err;
        ASSERT_TRUE(m_trace.empty() || !m_trace[0].starts_with("no trace")) << m_trace[0];
        m_seconds = run.seconds;
        m_result = Snapshot(reference, run);
        m_command.view(m_before);
        m_command.view(m_result);
        ASSERT_TRUE(!m_command.dav || std::any_of(m_result.begin(), m_result.end(), [](const auto &item) {
            return item.first.starts_with("dav:");
        })) << "the server holds no item after the healthy run";
    }

    // The place of a run, as the setup left it (empty before the setup).
    Place Fresh() {
        m_server.reset();
        Place place{m_dirs.path() / "place"};
        fs::remove_all(place.root);
        fs::create_directories(place.root);
        if (fs::exists(m_template)) fs::copy(m_template, place.root, fs::copy_options::recursive);
        if (m_command.dav) {
            // (the same port every time: the pair the setup added names it)
            m_server = std::make_unique<RadicaleServer>(place.dav(), m_davPort);
            m_davPort = m_server->Port();
            EXPECT_TRUE(m_server->Ready()) << m_server->Log();
        }
        place.davPort = m_davPort;
        return place;
    }

    // One run of the command (`rerun`: as a healthy rerun runs it).
    Outcome Run(const Place &place, bool rerun, const std::map<std::string, std::string> &env = {}) const {
        const Command &c = m_command;
        if (!c.request.empty())
            return RunServe(place, rerun && !c.rerunRequest.empty() ? c.rerunRequest : c.request, env);
        return RunHost(place, rerun && !c.rerunArgs.empty() ? c.rerunArgs : c.args, env);
    }

    World Seen(const Place &place, const Outcome &run) {
        World world = Snapshot(place, run);
        m_command.view(world);
        return world;
    }

    // Runs one case; the violations it found, "" when none.
    std::string Check(const Case &theCase) {
        Place place = Fresh();
        Outcome run;
        if (theCase.killAfter >= 0) {
            const auto started = std::chrono::steady_clock::now();
            const pid_t pid = StartHost(place, m_command.args);
            // (the kill lands at a moment of the run's own time: the point of the case)
            std::this_thread::sleep_for(std::chrono::duration<double>(theCase.killAfter));
            kill(pid, SIGKILL);
            run = FinishHost(place, pid, started);
        } else {
            SetFaults(place, theCase.Faults());
            run = Run(place, false);
            SetFaults(place, nlohmann::json::array());
        }
        std::vector<std::string> problems;
        const World world = Seen(place, run);
        if (run.exitCode == 0) {
            if (const auto differences = Differences(m_result, world); !differences.empty())
                problems.push_back("exit 0 but the result is not whole:" + Lines(differences));
        } else if (theCase.killAfter < 0) {
            if (std::string wrong = Misnamed(run); !wrong.empty())
                problems.push_back("misnamed: " + wrong + ": " + FirstLine(run.err));
            if (const auto lost = ItemsNeitherBeforeNorAfter(m_before, m_result, world, m_command.mayDifferAfterFailure,
                                                             run.err, place);
                !lost.empty())
                problems.push_back("exit " + std::to_string(run.exitCode) +
                                   " and items neither as before nor as the result:" + Lines(lost));
        }
        if (run.exitCode != 0 && m_command.rerunReachesResult) {
            const Outcome rerun = Run(place, true);
            if (const auto differences = Differences(m_result, Seen(place, rerun)); !differences.empty())
                problems.push_back("a healthy rerun (exit " + std::to_string(rerun.exitCode) +
                                   ") does not reach the result:" + Lines(differences) +
                                   "\n    rerun says: " + FirstLine(rerun.err));
        }
        std::string report;
        for (const std::string &problem : problems) report += "\n  " + problem;
        if (!report.empty() && run.exitCode != 0)
            report += "\n  the faulted run said (exit " + std::to_string(run.exitCode) +
                      "): " + LastLine(run.err.empty() ? run.out : run.err);
        return report;
    }

    bool KnownToFail(const Case &theCase) const {
        return std::any_of(std::begin(kKnownToFail), std::end(kKnownToFail), [&](const KnownFailure &known) {
            return m_command.name == known.command &&
                   std::regex_search(theCase.Describe(), std::regex(known.casePattern));
        });
    }

    std::vector<Case> Cases(std::mt19937 &random) {
        std::vector<Case> all = FaultCases(m_trace);
        std::vector<Case> kills;
        if (m_command.killed) {
            std::uniform_real_distribution<double> moment(0, m_seconds);
            for (int i = 0; i < (WholeSweep() ? 20 : 1); ++i) kills.push_back({"", 0, false, false, moment(random)});
        }
        if (WholeSweep()) {
            all.insert(all.end(), kills.begin(), kills.end());
            if (const char *only = std::getenv("CEBRIDGE_HOST_SWEEP_CASE"))
                std::erase_if(all, [&](const Case &c) { return !std::regex_search(c.Describe(), std::regex(only)); });
            return all;
        }
        std::erase_if(all, [&](const Case &c) { return KnownToFail(c); });
        std::shuffle(all.begin(), all.end(), random);
        // (a serve route or a server's sync is an operation the commands' own cases sweep
        // too, and each case starts a server: half as many)
        const bool served = !m_command.request.empty() || m_command.dav;
        all.resize(std::min(all.size(), served ? kSampledFaultCases / 2 : kSampledFaultCases));
        all.insert(all.begin(), Case{});  // the control: a healthy run gives the result again
        for (const Case &kill : kills) {
            if (!KnownToFail(kill)) all.push_back(kill);
        }
        return all;
    }

    Command m_command;
    PhoneCopy m_phone;
    TempDir m_dirs;
    fs::path m_template = m_dirs.path() / "template";
    World m_before, m_result;
    std::vector<std::string> m_trace;
    double m_seconds = 0;
    std::unique_ptr<RadicaleServer> m_server;  // (declared last: stopped before its storage goes)
    int m_davPort = 0;
};

TEST_P(HostFaultSweep, EveryFaultKeepsTheInvariant) {
    const uint32_t seed = Seed() + uint32_t(std::hash<std::string>()(m_command.name) % 100000);
    std::mt19937 random(seed);
    const std::vector<Case> cases = Cases(random);
    std::set<std::string> operations;
    for (const std::string &call : m_trace) operations.insert(call);
    std::printf("[ sweep    ] %s: %zu cases (seed %u), operations:", m_command.name.c_str(), cases.size(), seed);
    for (const std::string &operation : operations) std::printf(" %s", operation.c_str());
    std::printf("\n");
    size_t violations = 0;
    for (const Case &theCase : cases) {
        const std::string report = Check(theCase);
        if (report.empty()) continue;
        ++violations;
        const std::string where =
            m_command.name + " | " + theCase.Describe() + (KnownToFail(theCase) ? " | known" : "");
        std::printf("[ VIOLATION] %s | %s\n", where.c_str(), FirstLine(report.substr(3)).c_str());
        ADD_FAILURE() << where << report << "\n  again: CEBRIDGE_HOST_SWEEP=all CEBRIDGE_HOST_SWEEP_CASE='^"
                      << theCase.Describe() << "$' --gtest_filter='*/" << m_command.name << "' (sample seed " << Seed()
                      << ")";
    }
    std::printf("[ sweep    ] %s: %zu of %zu cases violate the invariant\n", m_command.name.c_str(), violations,
                cases.size());
}

void PrintTo(const Command &command, std::ostream *out) { *out << command.name; }

INSTANTIATE_TEST_SUITE_P(Commands, HostFaultSweep, ::testing::ValuesIn(Commands()),
                         [](const ::testing::TestParamInfo<Command> &info) { return info.param.name; });

}  // namespace
}  // namespace host_sweep

#endif  // !_WIN32

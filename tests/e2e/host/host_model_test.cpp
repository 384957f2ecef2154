// A randomized model-based test of the file commands: seeded sequences of put, get,
// rm, put -r, get -r, backup, verify and restore against the emulated phone, with
// injected phone faults, signals at random moments and a second process putting the
// same file at once. After every step each file on
// both sides is in its old or its new state (the model says which, from the exit
// code), never mixed or missing, no temporary or kept copy is left, and no backup
// changes an earlier generation.
// CEBRIDGE_MODEL_STEPS and CEBRIDGE_MODEL_SEED run it longer or elsewhere.
#include "host_fixture.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <optional>
#include <random>
#include <set>

#if !defined(_WIN32)
#include <sys/wait.h>
#endif

namespace fs = std::filesystem;

namespace {

#if !defined(_WIN32)
using Files = std::map<std::string, std::string>;  // name -> content

Files FilesIn(const fs::path &folder) {
    Files files;
    std::error_code missing;  // (a backup holds no folder its phone had empty)
    for (const auto &entry : fs::directory_iterator(folder, missing))
        if (entry.is_regular_file()) files[entry.path().filename().string()] = ReadFileText(entry.path());
    return files;
}

size_t EnvNumber(const char *name, size_t fallback) {
    const char *value = std::getenv(name);
    return value && *value ? std::strtoul(value, nullptr, 10) : fallback;
}

#endif

}  // namespace

#if !defined(_WIN32)
class ModelTest : public HostCli {
protected:
    std::mt19937 random{unsigned(EnvNumber("CEBRIDGE_MODEL_SEED", 2026))};
    // (a run of spaces the listing gives as one; a name longer than get fetches)
    const std::vector<std::string> names = {"a.bin", "b.txt", "다.dat", "x  y.txt",
                                            "Quarterly_report_final_2010_v2.doc"};
    fs::path pc = m_home.path() / "pc", staging = m_home.path() / "staging", backup = m_home.path() / "backup";
    fs::path phoneFolder = m_phone.fs() / "My Documents" / "model";
    Files phone, local;
    bool backedUp = false;

    // The model folder's files in each generation of the backup.
    std::map<std::string, Files> Generations() {
        std::map<std::string, Files> generations;
        std::error_code missing;
        for (const auto &entry : fs::directory_iterator(backup, missing))
            if (entry.is_directory() && entry.path().filename() != "unfinished")
                generations[entry.path().filename().string()] =
                    FilesIn(entry.path() / "files" / "My Documents" / "model");
        return generations;
    }

    size_t Pick(size_t count) { return std::uniform_int_distribution<size_t>(0, count - 1)(random); }
    std::string Content() {
        std::string bytes = RandomBytes(Pick(4) * 70000 + Pick(1000));
        return bytes.substr(std::min(bytes.size(), Pick(100)));
    }

    // A fault for this step (or none), as device.json takes it.
    void SetFault() {
        nlohmann::json faults = nlohmann::json::array();
        if (Pick(3) == 0)
            faults.push_back({{"operation", Pick(2) ? "CeWriteFile" : "CeReadFile"},
                              {"nth", 1 + Pick(6)},
                              {"error", Pick(2) ? 5 : 112}});
        m_phone.EditDevice([&](nlohmann::json &device) { device["faults"] = faults; });
    }

    // Runs the host; one step in six is stopped by a signal at a random moment.
    int Run(const std::vector<std::string> &args) {
        if (Pick(6) != 0) return Host(args).exitCode;
        m_phone.EditDevice([&](nlohmann::json &device) {
            device["faults"] =
                nlohmann::json::array({{{"operation", "CeWriteFile"}, {"persistent", true}, {"delayMs", 40}},
                                       {{"operation", "CeReadFile"}, {"persistent", true}, {"delayMs", 40}}});
        });
        const char *signal = std::vector<const char *>{"INT", "TERM", "HUP"}[Pick(3)];
        std::string command = HostCommandLine(args);
        command.append(" >/dev/null 2>&1 & sleep 0.").append(std::to_string(1 + Pick(9)));
        command.append("; kill -").append(signal).append(" $! 2>/dev/null; wait $!");
        int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // One side's change a step asks for: name -> new content ("" with `gone`).
    struct Change {
        Files phone, local;
        std::vector<std::string> phoneGone;
    };

    // Two hosts put different contents to one phone file at once: the phone then
    // holds the old file or one of the two, never a mix; any success leaves one of
    // the two whole.
    int PutTwiceAtOnce(const std::string &name, Change *change) {
        const std::string first = Content(), second = Content();
        WriteFileText(staging / "first", first);
        WriteFileText(staging / "second", second);
        const std::string target = "/My Documents/model/" + name;
        std::string command = HostCommandLine({"put", (staging / "first").string(), target});
        command.append(" >/dev/null 2>&1 & ").append(HostCommandLine({"put", (staging / "second").string(), target}));
        command.append(" >/dev/null 2>&1; b=$?; wait $!; a=$?; exit $((a > b ? a : b))");
        const int status = std::system(command.c_str());
        fs::remove(staging / "first");
        fs::remove(staging / "second");
        std::optional<std::string> now;
        if (fs::exists(phoneFolder / name)) now = ReadFileText(phoneFolder / name);
        const bool oneOfTwo = now == first || now == second;
        EXPECT_TRUE(oneOfTwo || now == (phone.count(name) ? std::optional(phone.at(name)) : std::nullopt))
            << name << " is a mix of the two puts";
        if (oneOfTwo) change->phone[name] = *now;
        return WIFEXITED(status) ? WEXITSTATUS(status) == 0 ? 0 : 1 : -1;
    }

    // Runs one random step; its exit code and what it was meant to change.
    int Step(std::string *what, Change *change) {
        SetFault();
        const std::string name = names[Pick(names.size())];
        switch (Pick(8)) {
        case 0: {  // put one file, new or replacing
            std::string content = Content();
            WriteFileText(staging / name, content);
            *what = "put " + name;
            change->phone[name] = content;
            return Run({"put", (staging / name).string(), "/My Documents/model/" + name});
        }
        case 1:  // get one file
            if (!phone.count(name)) return 0;
            *what = "get " + name;
            change->local[name] = phone[name];
            return Run({"get", "/My Documents/model/" + name, (pc / name).string()});
        case 2:  // rm
            if (!phone.count(name)) return 0;
            *what = "rm " + name;
            change->phoneGone.push_back(name);
            return Run({"rm", "/My Documents/model/" + name});
        case 3:  // put -r of the staging folder
            *what = "put -r";
            change->phone = FilesIn(staging);
            return Run({"put", "-r", "-f", staging.string() + "/.", "/My Documents/model"});
        case 4:  // get -r into pc
            *what = "get -r";
            change->local = phone;
            return Run({"get", "-r", "-f", "/My Documents/model/.", pc.string()});
        case 5: {  // restore: the latest backup's files the phone lacks come back
            if (!backedUp) return 0;
            *what = "restore";
            for (const auto &[file, content] : FilesIn(LatestGeneration(backup) / "files" / "My Documents" / "model"))
                if (!phone.count(file)) change->phone[file] = content;
            return Run({"restore", "--files", backup.string()});
        }
        case 6:  // two processes put one file at once
            *what = "two puts of " + name;
            return PutTwiceAtOnce(name, change);
        default: {  // backup, then verify: a backup is whole, the new one or the previous
            *what = "backup";
            const std::map<std::string, Files> before = Generations();
            int code = Run({"backup", "--keep", "3", backup.string()});
            const std::map<std::string, Files> after = Generations();
            for (const auto &[generation, files] : after)
                if (before.count(generation)) {
                    EXPECT_EQ(files, before.at(generation)) << "backup changed the generation " << generation;
                }
            if (code == 0) {
                EXPECT_LE(after.size(), 3u);
            }
            backedUp = backedUp || fs::exists(LatestGeneration(backup) / "manifest.json");
            if (code == 0) {
                EXPECT_EQ(FilesIn(LatestGeneration(backup) / "files" / "My Documents" / "model"), phone);
            }
            if (backedUp) {
                m_phone.EditDevice([](nlohmann::json &device) { device["faults"] = nlohmann::json::array(); });
                HostRun verify = Host({"backup", "--verify", backup.string()});
                EXPECT_EQ(verify.exitCode, 0) << verify.err;
            }
            return code;
        }
        }
    }

    // Each file of one side is as the model had it or as the step meant it to be
    // (the latter for sure when the step succeeded); the model takes what is there.
    void Settle(const fs::path &folder, Files &model, const Files &meant, const std::vector<std::string> &gone,
                bool succeeded, const std::string &what) {
        Files now = FilesIn(folder);
        std::set<std::string> all;
        for (const Files *files : std::initializer_list<const Files *>{&now, &model, &meant})
            for (const auto &[name, content] : *files) all.insert(name);
        for (const std::string &name : all) {
            const bool isGone = std::find(gone.begin(), gone.end(), name) != gone.end();
            std::optional<std::string> old, next, actual;
            if (model.count(name)) old = model.at(name);
            next = isGone ? std::nullopt : meant.count(name) ? std::optional(meant.at(name)) : old;
            if (now.count(name)) actual = now.at(name);
            if (succeeded)
                EXPECT_TRUE(actual == next) << what << ": " << name << " is not the new state";
            else
                EXPECT_TRUE(actual == old || actual == next) << what << ": " << name << " is neither old nor new";
            if (actual)
                model[name] = *actual;
            else
                model.erase(name);
        }
        for (const auto &entry : fs::directory_iterator(folder))
            EXPECT_EQ(entry.path().filename().string().rfind(".cebridge-", 0), std::string::npos)
                << what << ": left " << entry.path();
    }
};

TEST_F(ModelTest, EveryFileIsOldOrNewAfterEveryStep) {
    fs::create_directories(pc);
    fs::create_directories(staging);
    fs::create_directories(phoneFolder);
    const size_t steps = EnvNumber("CEBRIDGE_MODEL_STEPS", 40);
    for (size_t step = 0; step < steps && !HasFailure(); ++step) {
        std::string what = "nothing";
        Change change;
        const int code = Step(&what, &change);
        what = "step " + std::to_string(step) + " (" + what + ", exit " + std::to_string(code) + ")";
        Settle(phoneFolder, phone, change.phone, change.phoneGone, code == 0, what);
        Settle(pc, local, change.local, {}, code == 0, what);
        fs::path kept = m_home.path() / "state" / "cebridge" / "kept";
        EXPECT_TRUE(!fs::exists(kept) || fs::is_empty(kept)) << what;
    }
}
#endif

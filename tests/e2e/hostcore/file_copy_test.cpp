// The core's file engines in-process: what a typed path selects, copies of many
// files both ways with their progress, and what a failed or cancelled copy leaves.
#include "core_fixture.h"
#include "e2e/host/host_fixture.h"
#include "phone_files.h"
#include "phone_operations.h"

#include <cctype>

namespace fs = std::filesystem;

namespace {

using host::ErrorKind;

class CoreFiles : public CoreSessionTest {
protected:
    std::vector<std::string> Phone(const std::string &typed) { return m_session.ResolveDevicePath(typed); }
    host::PhoneSelection Select(const std::string &typed, bool recursive = true) {
        host::PhoneSelection selection;
        host::Outcome outcome = host::SelectPhoneFiles(m_session.link, Phone(typed), recursive, &selection);
        EXPECT_TRUE(outcome.ok) << typed << ": " << outcome.message;
        return selection;
    }
    host::CopyResult Download(const std::string &typed, const fs::path &into, RecordingSink &sink,
                              bool keepTimes = false) {
        std::vector<host::PlannedDownload> plan;
        for (host::PhoneFile &file : Select(typed).files)
            plan.push_back({file, host::LocalPathFor(into.string(), file.relative)});
        return host::DownloadFiles(m_session.link, std::move(plan), keepTimes, sink);
    }
    // The files below `root` planned into the phone folder `into` (its folders made).
    std::vector<host::PlannedUpload> UploadPlan(const fs::path &root, const std::string &into) {
        std::vector<host::PlannedUpload> plan;
        for (const auto &entry : fs::recursive_directory_iterator(root)) {
            std::vector<std::string> folder = Phone(into + "/" + fs::relative(entry.path(), root).generic_string());
            EXPECT_TRUE(m_session.link
                            .MakeFolders(entry.is_directory()
                                             ? folder
                                             : std::vector<std::string>(folder.begin(), folder.end() - 1))
                            .ok);
            if (entry.is_directory()) continue;
            std::string name = folder.back();
            folder.pop_back();
            plan.push_back({entry.path().string(), folder, name});
        }
        return plan;
    }
    fs::path m_pc = m_logs.path() / "pc";
};

TEST_F(CoreFiles, TreesGoBothWaysWholeUnderOneProgress) {
    const fs::path phoneTree = m_phone.fs() / "My Documents" / u8"트리";
    MakeTree(phoneTree);
    ConnectOrFail();
    RecordingSink down;
    host::CopyResult got = Download("/My Documents/트리", m_pc / "tree", down, true);
    ASSERT_TRUE(got.outcome.ok) << got.outcome.message;
    std::map<std::string, std::string> want = TreeOf(phoneTree);
    want.erase("empty");  // (the front end makes the empty folders it wants)
    EXPECT_EQ(TreeOf(m_pc / "tree"), want);
    EXPECT_EQ(fs::last_write_time(m_pc / "tree" / "a.txt"), kTreeTime);
    EXPECT_EQ(got.files, 3u);
    EXPECT_EQ(down.files, 3u);
    EXPECT_EQ(down.totalBytes, 70000 + 5 + std::string("깊은").size());
    EXPECT_EQ(down.done, down.totalBytes);
    EXPECT_EQ(down.started.size(), 3u);
    EXPECT_EQ(down.finished, 1);

    RecordingSink up;
    host::CopyResult put = host::UploadFiles(m_session.link, UploadPlan(m_pc / "tree", "/Storage Card/사본"), up);
    ASSERT_TRUE(put.outcome.ok) << put.outcome.message;
    EXPECT_EQ(TreeOf(m_phone.fs() / "Storage Card" / u8"사본"), TreeOf(m_pc / "tree"));
    EXPECT_EQ(up.done, down.totalBytes);
}

TEST_F(CoreFiles, WildcardsSelectNamesOfTheLastFolderAndRemoveOnlyThem) {
    ConnectOrFail();
    auto names = [](const host::PhoneSelection &selection) {
        std::vector<std::string> shown;
        for (const host::PhoneFile &file : selection.files) shown.push_back(host::ShownPath(file.Path()));
        return shown;
    };
    EXPECT_EQ(names(Select("/My Documents/*.TXT")),
              (std::vector<std::string>{"\\My Documents\\readme.txt", "\\My Documents\\회의록.txt"}));
    EXPECT_EQ(names(Select("/My Documents/?SC_000?.jpg")), std::vector<std::string>{"\\My Documents\\DSC_0001.jpg"});
    EXPECT_EQ(names(Select("/Storage Card/여행*")), std::vector<std::string>{"\\Storage Card\\여행 사진.jpg"});
    host::PhoneSelection folders = Select("/My Documents/T*", false);
    EXPECT_TRUE(folders.files.empty());
    EXPECT_EQ(folders.leftOut, std::vector<std::string>{"\\My Documents\\Templates"});
    host::PhoneSelection none;
    EXPECT_EQ(host::SelectPhoneFiles(m_session.link, Phone("/My Documents/*.doc"), false, &none).kind,
              ErrorKind::kNotFound);

    std::vector<std::string> removed;
    ASSERT_TRUE(host::RemoveSelectedFiles(m_session.link, Select("/My Documents/*.txt"), &removed).ok);
    EXPECT_EQ(removed.size(), 2u);
    EXPECT_FALSE(fs::exists(m_phone.fs() / "My Documents" / "readme.txt"));
    EXPECT_TRUE(fs::exists(m_phone.fs() / "My Documents" / "DSC_0001.jpg"));
    EXPECT_TRUE(fs::exists(m_phone.fs() / "My Documents" / "Templates" / "memo.txt"));
}

// A copy that stops (the phone fails a read, or the user cancels as the second file
// starts) leaves the files before it whole, and nothing of the one it was copying.
TEST_F(CoreFiles, AStoppedTreeCopyLeavesOnlyWholeFiles) {
    MakeTree(m_phone.fs() / "My Documents" / u8"트리");
    Reconnect([](nlohmann::json &device) {
        device["faults"].push_back({{"operation", "CeReadFile"}, {"nth", 3}, {"persistent", true}});
    });
    auto onlyWholeFiles = [&](const fs::path &root) {
        EXPECT_EQ(ReadFileText(root / "a.txt"), "alpha");
        for (const auto &[path, content] : TreeOf(root)) {
            EXPECT_EQ(path.find(".cebridge-"), std::string::npos) << path;
            if (content != "/") {
                EXPECT_TRUE(content == ReadFileText(m_phone.fs() / "My Documents" / u8"트리" / Utf8Path(path))) << path;
            }
        }
    };
    RecordingSink failing;
    host::CopyResult failed = Download("/My Documents/트리", m_pc / "failed", failing);
    EXPECT_FALSE(failed.outcome.ok);
    EXPECT_EQ(failing.finished, 0);
    onlyWholeFiles(m_pc / "failed");

    Reconnect([](nlohmann::json &device) { device["faults"] = nlohmann::json::array(); });
    RecordingSink cancelling;
    cancelling.onFile = [&](size_t started) { m_interrupted = started == 2; };
    host::CopyResult cancelled = Download("/My Documents/트리", m_pc / "cancelled", cancelling);
    EXPECT_EQ(cancelled.outcome.kind, ErrorKind::kInterrupted) << cancelled.outcome.message;
    EXPECT_EQ(cancelled.files, 1u);
    onlyWholeFiles(m_pc / "cancelled");
}

// A replace that fails puts the phone's original back (a PC copy is kept while the
// new file is sent, and removed after), alone or in a copy of many files.
TEST_F(CoreFiles, AFailedReplaceLeavesTheOriginalOnThePhone) {
    const fs::path original = m_phone.fs() / "Storage Card" / "orig.bin";
    const std::string before = RandomBytes(300000);
    const fs::path tree = m_pc / "tree";
    fs::create_directories(tree);
    WriteFileText(tree / "orig.bin", std::string(400000, 'n'));
    for (bool many : {false, true}) {
        WriteFileText(original, before);
        Reconnect([&](nlohmann::json &device) {
            device["faults"] = {{{"operation", "CeWriteFile"}, {"nth", many ? 3 : 2}, {"error", 112}}};
        });
        RecordingSink sink;
        host::Outcome failed;
        if (many) {
            failed = host::UploadFiles(m_session.link, UploadPlan(tree, "/Storage Card"), sink).outcome;
        } else {
            host::UploadSource source;
            ASSERT_TRUE(source.Prepare((tree / "orig.bin").string()).ok);
            host::NamedEntry named;
            ASSERT_TRUE(
                host::NameForChange(m_session.link, Phone("/Storage Card"), "orig.bin", false, false, &named).ok);
            failed = host::UploadWhole(m_session.link, source, "orig.bin", &named, sink);
        }
        EXPECT_FALSE(failed.ok) << many;
        EXPECT_EQ(failed.note, "the original orig.bin is back on the phone") << many;
        EXPECT_TRUE(ReadFileText(original) == before) << many;
        const fs::path kept = m_logs.path() / "cebridge" / "kept";
        EXPECT_TRUE(!fs::exists(kept) || fs::is_empty(kept)) << many;
    }
}

// The identity sweep: in folders whose names list alike (runs of spaces come as
// one), differ only in case or are too long to fetch, every name typed for rm and
// for put (whole, or failing part way) changes the phone file of exactly that name
// (letter case aside) and nothing else; a name the phone lacks changes nothing.
TEST_F(CoreFiles, ARemoveOrReplaceTouchesOnlyTheEntryNamed) {
    const std::vector<std::vector<std::string>> folders = {
        {"a b.txt", "a  b.txt", "a   b.txt"}, {"x  y.txt"}, {"Case.txt"}, {"Long_quarterly_report_final_2010.doc"}};
    const std::vector<std::string> typedAlso = {"a    b.txt", "x y.txt", "x   y.txt", "CASE.TXT", "a b c.txt"};
    const fs::path folder = m_phone.fs() / "My Documents" / "sweep";
    fs::create_directories(m_pc);
    bool flip = false;
    std::vector<std::string> typedNames = typedAlso;
    for (const auto &names : folders) typedNames.insert(typedNames.end(), names.begin(), names.end());
    ConnectOrFail();
    auto lower = [](std::string text) {
        for (char &c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
        return text;
    };
    for (int op = 0; op < 3; ++op) {  // rm, put, put failing part way
        for (const auto &names : folders) {
            for (const std::string &typed : typedNames) {
                fs::remove_all(folder);
                fs::create_directories(folder);
                std::map<std::string, std::string> before;
                for (const std::string &name : names) WriteFileText(folder / name, before[name] = RandomBytes(70000));
                // (the emulator counts a fault's calls anew when its faults change)
                if (op == 2 && (flip = !flip, true))
                    Reconnect([&](nlohmann::json &device) {
                        device["faults"] = {{{"operation", "CeWriteFile"}, {"nth", 2}, {"error", flip ? 112 : 5}}};
                    });
                std::string held;  // the phone's entry of the typed name
                for (const std::string &name : names)
                    if (lower(name) == lower(typed)) held = name;
                const std::string trace = typed + " in " + names[0] + " op " + std::to_string(op);
                host::Outcome outcome;
                const std::string content = std::string(400000, 'n');
                if (op == 0) {
                    host::Removal removal;
                    outcome =
                        host::RemovePhoneFiles(m_session.link, Phone("/My Documents/sweep/" + typed), false, &removal);
                } else {
                    WriteFileText(m_pc / "new", content);
                    host::UploadSource source;
                    ASSERT_TRUE(source.Prepare((m_pc / "new").string()).ok);
                    RecordingSink sink;
                    std::vector<std::string> stored;
                    outcome = host::UploadFile(m_session.link, source, Phone("/My Documents/sweep/" + typed), "", sink,
                                               &stored);
                }
                std::map<std::string, std::string> after;
                for (const auto &entry : fs::directory_iterator(folder))
                    after[entry.path().filename().string()] = ReadFileText(entry.path());
                std::map<std::string, std::string> want = before;
                const bool longName = typed.size() > 31 && !held.empty();
                if (op == 0 && !held.empty()) want.erase(held);
                if (op == 1 && !longName) want[held.empty() ? typed : held] = content;
                EXPECT_EQ(outcome.ok, op == 0 ? !held.empty() : op == 1 && !longName)
                    << trace << ": " << outcome.message;
                EXPECT_TRUE(after == want) << trace << ": " << outcome.message;
                if (op == 0 && held.empty()) {
                    EXPECT_EQ(outcome.kind, ErrorKind::kNotFound) << trace;
                }
            }
        }
    }
}

}  // namespace

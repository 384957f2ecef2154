// The generations of a backup folder (see backup_folder.h).
#include "backup_folder.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <fstream>
#include <set>

#include "appointment_time.h"
#include "local_files.h"
#include "manifest.h"

namespace fs = std::filesystem;

namespace host {

namespace {

constexpr int kFolderFormat = 2;  // latest.json's
const char *const kNamePattern = "0000-00-00T000000Z";

// "2026-12-08T112233Z", or that and "-02" to "-99" for more backups in one second.
bool IsGenerationName(const std::string &name) {
    const std::string pattern = kNamePattern;
    if (name.size() != pattern.size() && name.size() != pattern.size() + 3) return false;
    for (size_t i = 0; i < name.size(); ++i) {
        char want = i < pattern.size() ? pattern[i] : i == pattern.size() ? '-' : '0';
        bool fits = want == '0' ? std::isdigit(static_cast<unsigned char>(name[i])) != 0 : name[i] == want;
        if (!fits) return false;
    }
    return true;
}

std::string GenerationNameAt(std::chrono::system_clock::time_point time) {
    std::string name = UtcIso(std::chrono::duration_cast<std::chrono::seconds>(time.time_since_epoch()).count());
    name.erase(std::remove(name.begin(), name.end(), ':'), name.end());  // Windows names hold no ':'
    return name;
}

std::string LatestIn(const nlohmann::json &marker) {
    auto latest = marker.find("latest");
    return latest != marker.end() && latest->is_string() ? latest->get<std::string>() : "";
}

bool IsMarker(const nlohmann::json &marker) {
    auto format = marker.find("format");
    return format != marker.end() && *format == kFolderFormat && marker.contains("latest");
}

Outcome Failed(const fs::path &path, const std::error_code &failure) {
    return PcFailure(path.string() + ": " + failure.message());
}

}  // namespace

bool ReadJsonFile(const fs::path &path, nlohmann::json *document) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    *document = nlohmann::json::parse(in, nullptr, false);
    return !document->is_discarded() && document->is_object();
}

Outcome WriteJsonFile(const fs::path &path, const nlohmann::json &document) {
    fs::path temporary = path;
    temporary += ".part";
    std::ofstream out(temporary, std::ios::binary);
    out << document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    out.close();
    Outcome outcome = out ? Outcome::Ok() : PcFailure(SystemReason(temporary.string()));
    std::error_code failure;
    if (outcome.ok) fs::rename(temporary, path, failure);
    if (failure) outcome = Failed(path, failure);
    if (!outcome.ok) fs::remove(temporary, failure);
    return outcome;
}

BackupFolder::BackupFolder(const std::string &typed) {
    std::error_code ignored;
    m_root = fs::absolute(LocalPath(typed), ignored).lexically_normal();
    if (!m_root.has_filename()) m_root = m_root.parent_path();
    // A link to a folder: the backups go into the folder, the link stays.
    if (fs::is_symlink(m_root, ignored)) {
        fs::path resolved = fs::canonical(m_root, ignored);
        if (!ignored) m_root = resolved;
    }
}

Outcome BackupFolder::PrepareForBackup() {
    std::error_code failure;
    nlohmann::json marker;
    const std::string refused = m_root.string() + ": ";
    if (fs::exists(Marker(), failure)) {
        if (!ReadJsonFile(Marker(), &marker) || !IsMarker(marker))
            return PcFailure(refused +
                             "its latest.json is not one of cebridge's backups; choose an empty or new folder");
    } else if (fs::exists(m_root, failure) && (!fs::is_directory(m_root, failure) || !fs::is_empty(m_root, failure))) {
        return PcFailure(refused + (fs::is_directory(m_root, failure)
                                        ? "a folder that holds no backup of cebridge's; choose an empty or new one"
                                        : "not a folder"));
    } else {
        fs::create_directories(m_root, failure);
        if (failure) return Failed(m_root, failure);
        if (Outcome made = WriteJsonFile(Marker(), {{"format", kFolderFormat}, {"latest", nullptr}}); !made.ok)
            return made;
    }
    RemoveLeftovers();
    return Outcome::Ok();
}

// What a killed run leaves beside the generations: latest.json's temporary (the
// latest.json it was to replace still names a whole generation), and a generation
// whose removal was cut short (its manifest goes first, so it is no generation).
void BackupFolder::RemoveLeftovers() {
    std::error_code failure;
    fs::path temporary = Marker();
    temporary += ".part";
    fs::remove(temporary, failure);
    std::vector<fs::path> cut;
    for (const fs::path &item : FolderItems(m_root)) {
        std::error_code unread;  // a manifest that cannot be looked at is not known to be gone
        if (IsGenerationName(item.filename().string()) && !fs::exists(item / kManifestName, unread) && !unread)
            cut.push_back(item);
    }
    for (const fs::path &folder : cut) fs::remove_all(folder, failure);
}

std::vector<std::string> BackupFolder::Generations() const {
    std::vector<std::string> names;
    std::error_code failure;
    for (const fs::path &item : FolderItems(m_root)) {
        std::string name = item.filename().string();
        if (IsGenerationName(name) && fs::exists(item / kManifestName, failure)) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string BackupFolder::Latest() const {
    std::vector<std::string> names = Generations();
    nlohmann::json marker;
    std::string named = ReadJsonFile(Marker(), &marker) ? LatestIn(marker) : "";
    if (std::find(names.begin(), names.end(), named) != names.end()) return named;
    return names.empty() ? "" : names.back();  // a switch cut short, or the latest removed by hand
}

Outcome BackupFolder::Choose(const std::string &name, fs::path *folder) const {
    std::vector<std::string> names = Generations();
    std::string chosen = name.empty() ? Latest() : name;
    if (!chosen.empty() && std::find(names.begin(), names.end(), chosen) != names.end()) {
        *folder = m_root / chosen;
        return Outcome::Ok();
    }
    std::error_code failure;
    if (!name.empty()) {
        std::string why = "no generation " + name + " in " + m_root.string() + "; there are: ";
        for (const std::string &each : names) why += (each == names.front() ? "" : ", ") + each;
        return PcFailure(names.empty() ? why + "none" : why);
    }
    if (fs::exists(Unfinished(), failure))
        return PcFailure(m_root.string() +
                         " holds no whole backup yet: the first one was cut short (run backup again)");
    return PcFailure(m_root.string() + " holds no backup of cebridge's");
}

Outcome BackupFolder::Finish(std::string *name, bool latest) {
    const std::string base = GenerationNameAt(std::chrono::system_clock::now());
    *name = base;
    std::error_code failure;
    // After every generation there is, also one made in the same second whose name
    // an older one held before --keep removed it.
    const std::vector<std::string> names = Generations();
    auto taken = [&] { return fs::exists(m_root / *name, failure) || (!names.empty() && *name <= names.back()); };
    for (int again = 2; taken() && again < 100; ++again)
        *name = base + (again < 10 ? "-0" : "-") + std::to_string(again);
    fs::rename(Unfinished(), m_root / *name, failure);
    if (failure) return Failed(m_root / *name, failure);
    if (!latest && !Latest().empty()) return Outcome::Ok();
    return WriteJsonFile(Marker(), {{"format", kFolderFormat}, {"latest", *name}});
}

Outcome BackupFolder::Prune(size_t keep, const std::function<bool(const std::string &)> &mayRemove,
                            std::vector<std::string> *removed, std::vector<std::string> *held) {
    const std::vector<std::string> names = Generations();
    const std::string latest = Latest();
    for (size_t i = 0; i + keep < names.size(); ++i) {
        if (names[i] == latest) continue;
        if (!mayRemove(names[i])) {
            held->push_back(names[i]);
            continue;
        }
        // Without its manifest a folder is no generation: one only partly removed is not taken for whole.
        std::error_code failure;
        fs::remove(m_root / names[i] / kManifestName, failure);
        if (!failure) fs::remove_all(m_root / names[i], failure);
        if (failure) return Failed(m_root / names[i], failure);
        removed->push_back(names[i]);
    }
    return Outcome::Ok();
}

}  // namespace host

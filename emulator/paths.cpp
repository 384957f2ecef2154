// Device paths: parsing, case-insensitive resolution under fs/, wildcard matching.
#include "device.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <system_error>
#include <utility>

namespace fs = std::filesystem;

namespace ceemu {
namespace {

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }
bool IsWildcard(char16_t c) { return c == u'*' || c == u'?'; }

bool IsForbiddenInName(char16_t c) { return c < 0x20 || c == u'<' || c == u'>' || c == u':' || c == u'"' || c == u'|'; }

void CheckPart(const std::u16string &part, bool last) {
    if (part == u"." || part == u"..") Fail(kErrorInvalidName);
    for (char16_t c : part) {
        if (IsForbiddenInName(c) || (!last && IsWildcard(c))) Fail(kErrorInvalidName);
    }
}

char16_t FoldCase(char16_t c) {
    if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 0x20);
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<char16_t>(c + 0x20);
    return c;
}

std::u16string HostName(const fs::path &entry) { return Utf16(PathText(entry.filename())); }

std::optional<fs::path> ScanForChild(const fs::path &folder, const std::u16string &name) {
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (NamesEqual(HostName(it->path()), name)) return it->path();
    }
    return std::nullopt;
}

// Items a folder scan found under another letter case, by folder and folded name. The
// plug-in keeps folder names lower-cased, so most of its paths differ in case from the
// host's names; a match is taken again, for a stat instead of a folder read, while the
// folder's modification time is the one the scan saw and the item is still there.
class CaseMatches {
public:
    std::optional<fs::path> Find(const fs::path &folder, const std::u16string &name) {
        std::error_code error;
        const fs::file_time_type folderTime = fs::last_write_time(folder, error);
        if (error) return ScanForChild(folder, name);
        const Key key{folder, Folded(name)};
        {
            std::lock_guard guard(m_lock);
            const auto found = m_matches.find(key);
            if (found != m_matches.end() && found->second.folderTime == folderTime &&
                fs::exists(fs::symlink_status(found->second.item, error)))
                return found->second.item;
        }
        const std::optional<fs::path> item = ScanForChild(folder, name);
        if (item) {
            std::lock_guard guard(m_lock);
            if (m_matches.size() >= kMaxMatches) m_matches.clear();
            m_matches[key] = {folderTime, *item};
        }
        return item;
    }

    static std::u16string Folded(std::u16string name) {
        for (char16_t &c : name) c = FoldCase(c);
        return name;
    }

private:
    using Key = std::pair<fs::path, std::u16string>;
    struct Match {
        fs::file_time_type folderTime;
        fs::path item;
    };
    static constexpr size_t kMaxMatches = 4096;

    std::mutex m_lock;
    std::map<Key, Match> m_matches;
};

std::optional<fs::path> ExactChild(const fs::path &folder, const std::u16string &name) {
    std::error_code error;
    fs::path exact = folder / HostPath(Utf8(name));
    if (fs::exists(fs::symlink_status(exact, error))) return exact;
    return std::nullopt;
}

// The item called `name` in `folder`: the exact name first, then any letter case.
std::optional<fs::path> FindChild(const fs::path &folder, const std::u16string &name) {
    if (std::optional<fs::path> exact = ExactChild(folder, name)) return exact;
    static CaseMatches matches;
    return matches.Find(folder, name);
}

bool IsFolder(const fs::path &path) {
    std::error_code error;
    return fs::is_directory(path, error);
}

bool MatchFrom(const std::u16string &pattern, const std::u16string &name) {
    size_t p = 0, n = 0, starP = std::u16string::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == u'*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() && (pattern[p] == u'?' || FoldCase(pattern[p]) == FoldCase(name[n]))) {
            ++p, ++n;
        } else if (starP != std::u16string::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*') ++p;
    return p == pattern.size();
}

// Folders already resolved, by image and folded device path: the plug-in names the
// same few folders on every call, and a folder taken again costs one stat instead of
// a walk of lookups from the root.
class ResolvedFolders {
public:
    // The folder remembered under `key`, unchecked: it may have gone since.
    std::optional<fs::path> Remembered(const std::u16string &key) {
        std::lock_guard guard(m_lock);
        const auto found = m_folders.find(key);
        if (found == m_folders.end()) return std::nullopt;
        return found->second;
    }
    std::optional<fs::path> Find(const std::u16string &key) {
        std::optional<fs::path> folder = Remembered(key);
        if (folder && !IsFolder(*folder)) folder.reset();
        return folder;
    }
    void Remember(const std::u16string &key, const fs::path &folder) {
        std::lock_guard guard(m_lock);
        if (m_folders.size() >= kMaxFolders) m_folders.clear();
        m_folders[key] = folder;
    }

private:
    static constexpr size_t kMaxFolders = 4096;
    std::mutex m_lock;
    std::map<std::u16string, fs::path> m_folders;
};

ResolvedFolders &Resolved() {
    static ResolvedFolders resolved;
    return resolved;
}

std::u16string FolderKey(const fs::path &root, const std::vector<std::u16string> &parts, size_t count) {
    std::u16string key = Utf16(PathText(root));
    for (size_t i = 0; i < count; ++i) key += u'\\' + CaseMatches::Folded(parts[i]);
    return key;
}

// The host folder of the first `count` (> 0) parts, remembered under `key`; fails with
// "path not found" when one of them is missing or no folder.
fs::path ResolveFolder(const fs::path &root, const std::u16string &key, const std::vector<std::u16string> &parts,
                       size_t count) {
    ResolvedFolders &resolved = Resolved();
    if (std::optional<fs::path> known = resolved.Find(key)) return *known;
    fs::path current = root;
    for (size_t i = 0; i < count; ++i) {
        const std::optional<fs::path> child = FindChild(current, parts[i]);
        if (!child || !IsFolder(*child)) Fail(CE_ERROR_PATH_NOT_FOUND);
        current = *child;
    }
    resolved.Remember(key, current);
    return current;
}

fs::path ResolveFolder(const std::vector<std::u16string> &parts, size_t count) {
    const fs::path root = FsRoot();
    if (count == 0) return root;
    return ResolveFolder(root, FolderKey(root, parts, count), parts, count);
}

}  // namespace

fs::path FsRoot() { return ImagePath("fs"); }

bool NamesEqual(const std::u16string &a, const std::u16string &b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (FoldCase(a[i]) != FoldCase(b[i])) return false;
    }
    return true;
}

bool NameBefore(const std::u16string &a, const std::u16string &b) {
    const size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i) {
        if (FoldCase(a[i]) != FoldCase(b[i])) return FoldCase(a[i]) < FoldCase(b[i]);
    }
    return a.size() != b.size() ? a.size() < b.size() : a < b;
}

bool WildcardMatch(const std::u16string &pattern, const std::u16string &name) {
    if (MatchFrom(pattern, name)) return true;
    // As on the phone, "name.*" also matches a name without any extension ("*.*" matches all).
    const bool endsWithAnyExtension = pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, u".*") == 0;
    return endsWithAnyExtension && name.find(u'.') == std::u16string::npos &&
           MatchFrom(pattern.substr(0, pattern.size() - 2), name);
}

DevicePath ParseDevicePath(const std::u16string &text) {
    if (text.empty()) Fail(CE_ERROR_PATH_NOT_FOUND);
    if (text.size() >= CE_MAX_PATH) Fail(kErrorFilenameTooLong);
    DevicePath path;
    std::u16string part;
    for (char16_t c : text) {
        if (!IsSeparator(c)) {
            part += c;
        } else if (!part.empty()) {
            path.parts.push_back(std::move(part));
            part.clear();
        }
    }
    if (!part.empty()) path.parts.push_back(std::move(part));
    path.trailingSeparator = IsSeparator(text.back());
    for (size_t i = 0; i < path.parts.size(); ++i) CheckPart(path.parts[i], i + 1 == path.parts.size());
    return path;
}

std::optional<fs::path> ResolveExisting(const DevicePath &path) {
    if (path.parts.empty()) return FsRoot();
    const size_t folderParts = path.parts.size() - 1;
    const fs::path root = FsRoot();
    if (folderParts == 0) return FindChild(root, path.parts.back());
    // An item found under its exact name in a remembered folder shows that the folder is
    // still there; the folder's own check waits until an item is not found in it.
    const std::u16string key = FolderKey(root, path.parts, folderParts);
    if (const std::optional<fs::path> folder = Resolved().Remembered(key)) {
        if (std::optional<fs::path> exact = ExactChild(*folder, path.parts.back())) return exact;
    }
    return FindChild(ResolveFolder(root, key, path.parts, folderParts), path.parts.back());
}

fs::path ResolveParent(const DevicePath &path) {
    if (path.parts.empty()) Fail(CE_ERROR_PATH_NOT_FOUND);
    return ResolveFolder(path.parts, path.parts.size() - 1);
}

}  // namespace ceemu

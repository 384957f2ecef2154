#include "store_evidence.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "appointment_time.h"
#include "local_files.h"

namespace host {
namespace {

// The bytes a mark remembers before its place: enough to find it again in a file cut
// from the front, few enough to read at every request.
constexpr size_t kMarkTail = 256;

struct StoreType {
    const char *listing;
    uint32_t database;
    bool pimVolume;
    const char *noun;
};
// The databases the plug-in reads for each listing type (calls: every kind of call).
const StoreType kStoreTypes[] = {
    {"phonebook/private", 24, true, "contacts"},
    {"schedule", 25, true, "calendar"},
    {"callhistory", 0, true, "call history"},
    {"smsdata/recv", 0x40406000, false, "received messages"},
    {"smsdata/send", 0x4040601c, false, "sent messages"},
};

const StoreType *FindStoreType(const std::string &listingType) {
    for (const StoreType &type : kStoreTypes)
        if (listingType == type.listing || (type.database == 0 && listingType.rfind(type.listing, 0) == 0))
            return &type;
    return nullptr;
}

// The lines that say a listing's read of the store did not happen.
const char *const kFailures[] = {
    "This Session is not initialized",  // the volume did not open at connect
    "CeEdbFindNextDatabaseEx FAIL",     // the volume's databases could not be walked
    "CeEdbOpenDatabaseInSession Fail",  // the database could not be opened
};
const char kInfoFailure[] = "CeOidGetInfoEx2 FAIL";  // one database's description: the walk goes on
const char kOpened[] = "CeEdbOpenDatabaseInSession Success";
const char kDatabase[] = "DBNAME[";

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

// "YYYY:MM:DD hh:mm:ss.mmm] message" -> "message".
std::string_view WithoutStamp(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const size_t end = line.find("] ");
    if (end == std::string_view::npos || end > 32) return line;
    return line.substr(end + 2);
}

// "DBNAME[name][0x18][20]" (the message volume adds "[oid]"): the type and the record
// count. The name may hold "][": the type is the last field written as "0x...".
bool ParseDatabaseLine(std::string_view line, uint32_t *type, long long *records) {
    if (!StartsWith(line, kDatabase) || line.back() != ']') return false;
    std::string_view inner = line.substr(sizeof kDatabase - 1, line.size() - sizeof kDatabase);
    std::vector<std::string_view> fields;
    for (size_t start = 0;;) {
        const size_t split = inner.find("][", start);
        fields.push_back(inner.substr(start, split == std::string_view::npos ? split : split - start));
        if (split == std::string_view::npos) break;
        start = split + 2;
    }
    for (size_t back = 2; back <= 3 && back <= fields.size(); ++back) {
        const std::string_view typeField = fields[fields.size() - back];
        if (!StartsWith(typeField, "0x")) continue;
        const std::string typeText(typeField.substr(2)), countText(fields[fields.size() - back + 1]);
        char *end = nullptr;
        *type = uint32_t(std::strtoul(typeText.c_str(), &end, 16));
        if (typeText.empty() || *end) return false;
        *records = std::strtoll(countText.c_str(), &end, 10);
        return !countText.empty() && !*end;
    }
    return false;
}

std::string ReadRange(std::ifstream &file, uint64_t from, size_t count) {
    std::string bytes(count, '\0');
    file.clear();
    file.seekg(std::streamoff(from));
    file.read(bytes.data(), std::streamsize(count));
    bytes.resize(size_t(file.gcount()));
    return bytes;
}

uint64_t FileSize(std::ifstream &file) {
    file.clear();
    file.seekg(0, std::ios::end);
    const std::streamoff size = file.tellg();
    return size < 0 ? 0 : uint64_t(size);
}

// Where the lines after `mark` begin in `file`: at the mark while its bytes are still
// before it, else just after them wherever they went, else at the start.
uint64_t StartAfter(std::ifstream &file, const PluginLog::Mark &mark) {
    if (mark.tail.empty()) return 0;
    const uint64_t size = FileSize(file);
    const uint64_t tailStart = mark.size - mark.tail.size();
    if (size >= mark.size && ReadRange(file, tailStart, mark.tail.size()) == mark.tail) return mark.size;
    const std::string whole = ReadRange(file, 0, size_t(size));
    const size_t found = whole.rfind(mark.tail);
    return found == std::string::npos ? 0 : found + mark.tail.size();
}

// Each line of `path` after `mark`; true when the file is missing (nothing written).
bool EachLineAfter(const std::string &path, const PluginLog::Mark &mark,
                   const std::function<void(std::string_view)> &each) {
    std::error_code missing;
    if (!std::filesystem::exists(LocalPath(path), missing)) return !missing;
    std::ifstream file(LocalPath(path), std::ios::binary);
    if (!file) return false;
    const uint64_t start = StartAfter(file, mark);
    file.clear();
    file.seekg(std::streamoff(start));
    std::string line;
    while (std::getline(file, line)) each(WithoutStamp(line));
    return file.eof();
}

}  // namespace

bool StoreDatabaseType(const std::string &listingType, uint32_t *databaseType) {
    const StoreType *type = FindStoreType(listingType);
    if (type) *databaseType = type->database;
    return type != nullptr;
}

std::string StoreContentName(const std::string &listingType) {
    const StoreType *type = FindStoreType(listingType);
    return type ? type->noun : listingType;
}

bool OnPimVolume(const std::string &listingType) {
    const StoreType *type = FindStoreType(listingType);
    return type && type->pimVolume;
}

void PluginLog::Watch(const std::string &folder, std::string whyNone) {
    m_folder = folder;
    m_whyNone = std::move(whyNone);
}

std::string PluginLog::TodaysFile() const {
    const std::tm day = LocalFields(std::time(nullptr));
    char name[64];
    std::snprintf(name, sizeof name, "cebridge_%04d%02d%02d.log", day.tm_year + 1900, day.tm_mon + 1, day.tm_mday);
    return m_folder + "/" + name;
}

PluginLog::Mark PluginLog::Take() const {
    Mark mark;
    if (!Watched()) return mark;
    mark.file = TodaysFile();
    std::ifstream file(LocalPath(mark.file), std::ios::binary);
    if (!file) return mark;
    mark.size = FileSize(file);
    const size_t kept = size_t(std::min<uint64_t>(mark.size, kMarkTail));
    mark.tail = ReadRange(file, mark.size - kept, kept);
    mark.size = mark.size - kept + mark.tail.size();
    return mark;
}

bool PluginLog::LinesSince(const Mark &mark, const std::function<void(std::string_view)> &line) const {
    if (!Watched()) return false;
    const std::string today = TodaysFile();
    if (!mark.file.empty() && mark.file != today && !EachLineAfter(mark.file, mark, line)) return false;
    return EachLineAfter(today, mark.file == today ? mark : Mark{today, 0, {}}, line);
}

void ListingJudge::Line(std::string_view line) {
    ++m_lines;
    uint32_t type = 0;
    long long records = 0;
    if (ParseDatabaseLine(line, &type, &records)) {
        if (type != m_type) return;
        if (m_counted >= 0 && records != m_counted) m_countsDiffer = true;
        m_counted = records;
        return;
    }
    if (StartsWith(line, kOpened)) m_opened = true;
    const bool failed = std::any_of(std::begin(kFailures), std::end(kFailures),
                                    [&](const char *failure) { return StartsWith(line, failure); });
    if (m_failure.empty() && (failed || StartsWith(line, kInfoFailure))) m_failure = std::string(line);
}

StoreVerdict ListingJudge::Verdict(size_t listed) const {
    auto unreadable = [](std::string why) { return StoreVerdict{StoreReading::kUnreadable, std::move(why)}; };
    if (m_lines == 0)
        return {StoreReading::kUnproven,
                "the plug-in's log holds nothing of this listing, so it cannot show that the "
                "phone read all of it"};
    // A description that failed is another database's when this type's was found after it.
    const bool infoOnly = StartsWith(m_failure, kInfoFailure);
    const std::string logged = " (the plug-in logged \"" + m_failure + "\")";
    if (StartsWith(m_failure, kFailures[0]))
        return unreadable("its volume did not open when the phone connected" + logged);
    if (!m_failure.empty() && !(infoOnly && m_counted >= 0)) return unreadable("the phone could not read it" + logged);
    if (m_counted < 0 || !m_opened) return unreadable("the plug-in did not find and open its database on the phone");
    if (m_countsDiffer || m_counted != static_cast<long long>(listed))
        return unreadable("the phone's database holds " + std::to_string(m_counted) + " items and the listing gave " +
                          std::to_string(listed) + ": a read failed part way");
    return {StoreReading::kWhole, {}};
}

}  // namespace host

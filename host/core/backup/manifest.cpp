// manifest.json read and written (see manifest.h).
#include "manifest.h"

#include "backup_folder.h"

namespace host {

const char *const kManifestName = "manifest.json";

namespace {

using Json = nlohmann::json;

// Reads the values of one JSON object into typed fields; the first value of the
// wrong kind makes the whole read fail, naming its key.
class ObjectReader {
public:
    explicit ObjectReader(const Json &object) : m_object(object) {}

    void Text(const char *key, std::string *value) {
        if (const Json *found = Find(key, Json::value_t::string)) *value = found->get<std::string>();
    }
    void Number(const char *key, uint64_t *value) {
        if (const Json *found = Find(key, Json::value_t::number_unsigned)) *value = found->get<uint64_t>();
    }
    void Flag(const char *key, bool *value) {
        if (const Json *found = Find(key, Json::value_t::boolean)) *value = found->get<bool>();
    }
    void Texts(const char *key, std::vector<std::string> *values) {
        const Json *list = Find(key, Json::value_t::array);
        for (size_t i = 0; list && i < list->size(); ++i) {
            if (!(*list)[i].is_string()) return Malformed(key);
            values->push_back((*list)[i].get<std::string>());
        }
    }
    void Numbers(const char *key, std::map<std::string, uint64_t> *values) {
        const Json *object = Find(key, Json::value_t::object);
        if (!object) return;
        for (auto item = object->begin(); item != object->end(); ++item) {
            if (!item->is_number_unsigned()) return Malformed(key);
            (*values)[item.key()] = item->get<uint64_t>();
        }
    }
    // Each object of the list `key`, read by `read` (which fails the read by returning false).
    template <typename Item, typename Read>
    void Objects(const char *key, std::vector<Item> *values, Read read) {
        const Json *list = Find(key, Json::value_t::array);
        for (size_t i = 0; list && i < list->size(); ++i) {
            Item item;
            if (!(*list)[i].is_object() || !read((*list)[i], &item)) return Malformed(key);
            values->push_back(std::move(item));
        }
    }
    bool Has(const char *key) const { return m_object.contains(key); }
    void Malformed(const std::string &key) {
        if (m_malformed.empty()) m_malformed = key;
    }
    // The first key whose value was of the wrong kind, "" when none was.
    const std::string &MalformedKey() const { return m_malformed; }

private:
    const Json *Find(const char *key, Json::value_t kind) {
        auto found = m_object.find(key);
        if (found == m_object.end()) return nullptr;
        if (found->type() == kind) return &*found;
        Malformed(key);
        return nullptr;
    }

    const Json &m_object;
    std::string m_malformed;
};

bool ReadFileEntry(const Json &object, ManifestFile *file) {
    ObjectReader reader(object);
    reader.Text("path", &file->path);
    reader.Number("size", &file->size);
    reader.Text("sha256", &file->sha256);
    if (reader.Has("modified")) reader.Text("modified", &file->modified.emplace());
    reader.Flag("modifiedAmbiguous", &file->modifiedAmbiguous);
    return reader.MalformedKey().empty() && reader.Has("path") && reader.Has("size") && reader.Has("sha256");
}

bool ReadUnreadPart(const Json &object, UnreadPart *part) {
    ObjectReader reader(object);
    reader.Text("part", &part->part);
    reader.Text("why", &part->why);
    return reader.MalformedKey().empty() && reader.Has("part");
}

Json FileEntryJson(const ManifestFile &file) {
    Json entry = {{"path", file.path}, {"size", file.size}, {"sha256", file.sha256}};
    if (file.modified) entry["modified"] = *file.modified;
    if (file.modifiedAmbiguous) entry["modifiedAmbiguous"] = true;
    return entry;
}

}  // namespace

const ManifestFile *Manifest::Find(const std::string &path) const {
    for (const ManifestFile &file : files)
        if (file.path == path) return &file;
    return nullptr;
}

Outcome ReadManifest(const std::filesystem::path &file, Manifest *manifest) {
    Json document;
    if (!ReadJsonFile(file, &document)) return PcFailure(file.string() + ": no readable manifest");
    ObjectReader reader(document);
    uint64_t format = 0;
    reader.Number("format", &format);
    if (format != kManifestFormat) return PcFailure(file.string() + ": a manifest format this program does not know");
    *manifest = {};
    reader.Text("model", &manifest->model);
    reader.Text("manufacturer", &manifest->manufacturer);
    reader.Text("phoneNumber", &manifest->phoneNumber);
    reader.Text("time", &manifest->time);
    reader.Numbers("counts", &manifest->counts);
    reader.Texts("stores", &manifest->stores);
    reader.Texts("folders", &manifest->folders);
    reader.Objects("files", &manifest->files, ReadFileEntry);
    reader.Texts("skipped", &manifest->skipped);
    reader.Objects("unread", &manifest->unread, ReadUnreadPart);
    if (!reader.Has("files")) reader.Malformed("files");
    if (!reader.MalformedKey().empty())
        return PcFailure(file.string() + ": a damaged manifest (its \"" + reader.MalformedKey() + "\")");
    return Outcome::Ok();
}

Outcome WriteManifest(const std::filesystem::path &file, const Manifest &manifest) {
    Json files = Json::array();
    for (const ManifestFile &entry : manifest.files) files.push_back(FileEntryJson(entry));
    Json document = {
        {"format", kManifestFormat},           {"model", manifest.model},     {"manufacturer", manifest.manufacturer},
        {"phoneNumber", manifest.phoneNumber}, {"time", manifest.time},       {"counts", manifest.counts},
        {"stores", manifest.stores},           {"folders", manifest.folders}, {"files", files},
        {"skipped", manifest.skipped}};
    if (!manifest.unread.empty()) document["unread"] = manifest.unread;
    return WriteJsonFile(file, document);
}

std::string ManifestFileLine(const ManifestFile &file) {
    return FileEntryJson(file).dump(-1, ' ', false, Json::error_handler_t::replace);
}

bool ParseManifestFileLine(const std::string &line, ManifestFile *file) {
    const Json entry = Json::parse(line, nullptr, false);
    return entry.is_object() && ReadFileEntry(entry, file);
}

void to_json(nlohmann::json &document, const UnreadPart &part) { document = {{"part", part.part}, {"why", part.why}}; }

}  // namespace host

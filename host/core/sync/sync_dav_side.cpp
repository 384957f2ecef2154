// The side of a sync that is a server's collection: what it decides, on the requests
// the platform's HTTP client makes (sync_dav_http.h).
#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "local_files.h"
#include "sync_dav.h"
#include "sync_dav_http.h"

namespace host {

const char kDavNamespace[] = "DAV:";
const char kCardDavNamespace[] = "urn:ietf:params:xml:ns:carddav";
const char kCalDavNamespace[] = "urn:ietf:params:xml:ns:caldav";
const char kSyncPasswordVariable[] = "CEBRIDGE_SYNC_PASSWORD";
const char kNoHttpUrl[] = "not an http:// or https:// URL";
const char kCredentialsInUrl[] =
    "a collection's URL holds no user or password (give the user and a password file instead)";

Outcome ReadSyncPassword(const std::string &file, std::string *password) {
    if (file.empty()) {
        const char *value = std::getenv(kSyncPasswordVariable);
        if (value && *value) return *password = value, Outcome::Ok();
        return PcFailure(std::string("no password: name a password file (mode 0600) or set ") + kSyncPasswordVariable);
    }
    if (Outcome readable = CheckPasswordFile(file); !readable.ok) return readable;
    std::ifstream in(LocalPath(file), std::ios::binary);
    std::string line;
    std::getline(in, line);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) return PcFailure(file + ": the password file is empty");
    *password = line;
    return Outcome::Ok();
}

std::string ItemInCollection(const std::string &collection, const std::string &path, const std::string &decoded) {
    if (path.compare(0, collection.size(), collection) != 0 || decoded.size() < collection.size()) return {};
    const std::string name = decoded.substr(decoded.rfind('/') + 1);
    if (path.size() == collection.size() || name.empty() || name == "." || name == ".." ||
        decoded.find('/', collection.size()) != std::string::npos)
        return {};
    return path;
}

bool IsCollectionUrl(const std::string &place) {
    return place.rfind("http://", 0) == 0 || place.rfind("https://", 0) == 0;
}

std::string DavUnpadded(std::string text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

namespace {

std::string HttpReason(long status) {
    switch (status) {
    case 401: return " (the server refused the user name or password)";
    case 403: return " (the server does not allow it)";
    case 404: return " (no such collection or item on the server)";
    case 405: return " (not a collection this server can sync)";
    case 507: return " (the server is full)";
    default: return "";
    }
}

Outcome HttpFailure(const std::string &what, long status) {
    return DavServerFailure(what + ": the server answered HTTP " + std::to_string(status) + HttpReason(status));
}

const char *ContentType(SyncKind kind) {
    return kind == SyncKind::kContacts ? "Content-Type: text/vcard; charset=utf-8"
                                       : "Content-Type: text/calendar; charset=utf-8";
}

Outcome ChangedMeanwhile(const std::string &path) {
    return Outcome::Failed(0, path + " changed on the server during the sync", ErrorKind::kChanged);
}

}  // namespace

Outcome DavSide::List(std::vector<SyncItem> *items) {
    static const char kPropfind[] =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
        "<d:propfind xmlns:d=\"DAV:\"><d:prop><d:getetag/><d:resourcetype/></d:prop></d:propfind>";
    HttpAnswer answer;
    Outcome outcome = Exchange("PROPFIND", m_path, {"Depth: 1", "Content-Type: application/xml; charset=utf-8"},
                               kPropfind, kDavListingLimit, &answer);
    if (!outcome.ok) return outcome;
    if (answer.status != 207) return HttpFailure(m_origin + m_path, answer.status);
    std::vector<DavEntry> entries;
    if (Outcome read = ReadMultistatus(answer.body, &entries); !read.ok)
        return DavServerFailure(m_origin + m_path + ": " + read.message);
    m_listed.clear();
    for (const DavEntry &entry : entries) {
        if (entry.collection) continue;  // the collection itself, or one inside it
        const std::string path = ItemPath(entry.href);
        if (path.empty())
            return DavServerFailure(m_origin + m_path + ": the server listed \"" + entry.href.substr(0, 200) +
                                    "\", which is not an item of the collection");
        SyncItem item;
        item.id = path;
        item.version = entry.etag;
        // Without an ETag a change cannot be seen from the listing: the item is read.
        if (item.version.empty() && !(outcome = Read(&item)).ok) return outcome;
        m_listed[path] = item.version;
        items->push_back(std::move(item));
    }
    std::sort(items->begin(), items->end(), [](const SyncItem &a, const SyncItem &b) { return a.id < b.id; });
    return Outcome::Ok();
}

Outcome DavSide::Read(SyncItem *item) {
    const std::string path = ItemPath(item->id);
    if (path.empty()) return DavServerFailure(item->id + ": not an item of " + m_origin + m_path);
    HttpAnswer answer;
    Outcome outcome = Exchange("GET", path, {}, "", kDavItemLimit, &answer);
    if (!outcome.ok) return outcome;
    if (answer.status == 404 || answer.status == 410)
        return Outcome::Failed(0, path + ": no longer on the server", ErrorKind::kNotFound);
    if (answer.status != 200) return HttpFailure(m_origin + path, answer.status);
    *item = ItemOfText(m_kind, answer.body);
    item->id = path;
    item->version = answer.etag;
    if (item->shown.empty()) item->shown = path.substr(path.rfind('/') + 1);
    return Outcome::Ok();
}

Outcome DavSide::Put(const std::string &path, const std::string &condition, const std::string &text,
                     const SyncItem &from, SyncItem *made) {
    std::vector<std::string> headers = {ContentType(m_kind)};
    if (!condition.empty()) headers.push_back(condition);
    HttpAnswer answer;
    Outcome outcome = Exchange("PUT", path, headers, text, kDavItemLimit, &answer);
    if (!outcome.ok) return outcome;
    if (answer.status == 412) return ChangedMeanwhile(path);
    if (answer.status != 200 && answer.status != 201 && answer.status != 204)
        return HttpFailure(m_origin + path, answer.status);
    *made = from;
    made->id = path;
    made->version = answer.etag;
    if (made->version.empty()) {  // the server changed what it stores: its version is read back
        SyncItem stored;
        stored.id = path;
        if (!(outcome = Read(&stored)).ok) return outcome;
        made->version = stored.version;
    }
    m_listed[path] = made->version;
    return Outcome::Ok();
}

Outcome DavSide::Create(const SyncItem &from, SyncItem *made) {
    std::string uid;
    const std::string text = NewItemText(m_kind, from, &uid);
    const std::string path = m_path + uid + (m_kind == SyncKind::kContacts ? ".vcf" : ".ics");
    Outcome outcome = Put(path, "If-None-Match: *", text, from, made);
    if (outcome.kind == ErrorKind::kChanged)
        return DavServerFailure(m_origin + path + ": the server has an item of that name");
    return outcome;
}

// Only the item as listed is changed: one changed on the server since is kChanged.
Outcome DavSide::Update(const std::string &id, const SyncItem &from, SyncItem *made) {
    const std::string path = ItemPath(id);
    if (path.empty()) return DavServerFailure(id + ": not an item of " + m_origin + m_path);
    HttpAnswer old;
    Outcome outcome = Exchange("GET", path, {}, "", kDavItemLimit, &old);
    if (!outcome.ok) return outcome;
    if (old.status == 404 || old.status == 410) return ChangedMeanwhile(path);
    if (old.status != 200) return HttpFailure(m_origin + path, old.status);
    const std::string listed = m_listed.count(path) ? m_listed[path] : "";
    if (!listed.empty() && !old.etag.empty() && listed != old.etag) return ChangedMeanwhile(path);
    const std::string etag = listed.empty() ? old.etag : listed;
    std::string name = path.substr(path.rfind('/') + 1);
    name = name.substr(0, name.rfind('.'));
    return Put(path, etag.empty() ? "" : "If-Match: " + etag, RewrittenText(m_kind, from, old.body, name), from, made);
}

Outcome DavSide::Remove(const std::string &id) {
    const std::string path = ItemPath(id);
    if (path.empty()) return DavServerFailure(id + ": not an item of " + m_origin + m_path);
    const std::string listed = m_listed.count(path) ? m_listed[path] : "";
    HttpAnswer answer;
    Outcome outcome = Exchange(
        "DELETE", path, listed.empty() ? std::vector<std::string>{} : std::vector<std::string>{"If-Match: " + listed},
        "", kDavItemLimit, &answer);
    if (!outcome.ok) return outcome;
    if (answer.status == 412) return ChangedMeanwhile(path);
    if (answer.status >= 300 && answer.status != 404 && answer.status != 410)
        return HttpFailure(m_origin + path, answer.status);
    m_listed.erase(path);
    return Outcome::Ok();
}

}  // namespace host

// A server's address book (CardDAV) or calendar (CalDAV) collection as a side of a
// sync, over HTTP or HTTPS with basic authentication. An item's ID is its href (the
// path below the collection), its version the server's ETag. Writes are conditional:
// a new item only where none is (If-None-Match: *), a change or deletion only of the
// item as listed (If-Match); an item changed on the server meanwhile fails with
// kChanged and is not written. Everything the server says is untrusted: answers are
// bounded in size and time, hrefs outside the collection are refused, TLS is verified.
#ifndef CEBRIDGE_HOST_SYNC_DAV_H
#define CEBRIDGE_HOST_SYNC_DAV_H

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sync_sides.h"

namespace host {

// Where a sync's PC items are: a collection's URL (http:// or https://), or a folder.
bool IsCollectionUrl(const std::string &place);
// Whether `url` can name a collection: kBadInput when it is not http or https or holds
// a user or password, kPcFile when servers cannot be reached from this PC.
Outcome CheckCollectionUrl(const std::string &url);

// The environment variable a collection's password is taken from when the pair names
// no password file.
extern const char kSyncPasswordVariable[];  // "CEBRIDGE_SYNC_PASSWORD"

// The password in `file` (its first line), or with `file` "" the environment's. A
// file others can read or write (a mode looser than 0600) is refused (kPcFile).
Outcome ReadSyncPassword(const std::string &file, std::string *password);

struct DavAccount {
    std::string user, password;
    std::string caFile;               // trusted certificates for HTTPS ("" for the system's)
    std::function<bool()> cancelled;  // polled during a request: true ends it
};

// One entry of a WebDAV multistatus answer (the properties found, status 200).
struct DavEntry {
    std::string href;  // as the server wrote it
    std::string etag;
    bool collection = false;
    std::string data;  // address-data or calendar-data, when asked for
};
// The entries of a multistatus document; a failure when it is none.
Outcome ReadMultistatus(const std::string &xml, std::vector<DavEntry> *entries);

struct HttpAnswer;

class DavSide : public SyncSide {
public:
    DavSide(const std::string &url, DavAccount account, SyncKind kind);
    ~DavSide() override;
    DavSide(const DavSide &) = delete;
    DavSide &operator=(const DavSide &) = delete;

    Outcome List(std::vector<SyncItem> *items) override;
    Outcome Read(SyncItem *item) override;
    Outcome Create(const SyncItem &from, SyncItem *made) override;
    Outcome Update(const std::string &id, const SyncItem &from, SyncItem *made) override;
    Outcome Remove(const std::string &id) override;

    // The collection's path of `href` (relative or absolute, on this server); "" when it
    // names no item directly inside the collection.
    std::string ItemPath(const std::string &href) const;

private:
    struct Http;
    // One request to the server at `path`; an answer of more than `limit` bytes fails.
    Outcome Exchange(const std::string &method, const std::string &path, const std::vector<std::string> &headers,
                     const std::string &body, size_t limit, HttpAnswer *answer);
    // `from` PUT at `path` under the condition `condition`; *made with its new version.
    Outcome Put(const std::string &path, const std::string &condition, const std::string &text, const SyncItem &from,
                SyncItem *made);

    std::string m_origin;              // scheme://host[:port]
    std::string m_path;                // the collection's path, ending in '/'
    Outcome m_usable = Outcome::Ok();  // why the side cannot be used, when it cannot
    DavAccount m_account;
    SyncKind m_kind;
    std::unique_ptr<Http> m_http;
    std::map<std::string, std::string> m_listed;  // path -> ETag, as the last listing gave them
};

}  // namespace host

#endif  // CEBRIDGE_HOST_SYNC_DAV_H

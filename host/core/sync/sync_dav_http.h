// What a collection's side (sync_dav_side.cpp) asks of the platform's HTTP client and
// XML reader: libcurl and libxml2 on Linux (sync_dav.cpp), WinHTTP and XmlLite on
// Windows (win32/sync_dav_win.cpp). Each of those defines DavSide's constructor,
// ItemPath and Exchange, ReadMultistatus and CheckCollectionUrl of sync_dav.h, and
// CheckPasswordFile below.
#ifndef CEBRIDGE_HOST_SYNC_DAV_HTTP_H
#define CEBRIDGE_HOST_SYNC_DAV_HTTP_H

#include <cstddef>
#include <string>

#include "device_link.h"

namespace host {

constexpr size_t kDavItemLimit = 4u << 20;      // one card or calendar
constexpr size_t kDavListingLimit = 64u << 20;  // a collection's multistatus
constexpr size_t kDavEntryLimit = 200000;       // items in one listing
constexpr long kDavConnectSeconds = 20;
constexpr long kDavStalledSeconds = 60;  // less than a byte a second for this long ends a request
constexpr long kDavRedirects = 3;

// The XML namespaces of WebDAV, CardDAV and CalDAV.
extern const char kDavNamespace[], kCardDavNamespace[], kCalDavNamespace[];

struct HttpAnswer {
    long status = 0;
    std::string body, etag;  // the ETag of the last response (after redirects)
    size_t limit = 0;
    bool tooLarge = false;
};

inline Outcome DavServerFailure(const std::string &message) { return Outcome::Failed(0, message, ErrorKind::kServer); }

// Why a URL names no collection, in both HTTP clients' words.
extern const char kNoHttpUrl[];
extern const char kCredentialsInUrl[];

// Whether the password file `file` may be read; kPcFile when it is missing, or others
// may read it.
Outcome CheckPasswordFile(const std::string &file);

// `path` (as written) when it names an item directly inside the collection at
// `collection` (ending in '/'), `decoded` being `path` with its escapes resolved; "" when not.
std::string ItemInCollection(const std::string &collection, const std::string &path, const std::string &decoded);

// `text` without the blanks around it.
std::string DavUnpadded(std::string text);

}  // namespace host

#endif  // CEBRIDGE_HOST_SYNC_DAV_HTTP_H

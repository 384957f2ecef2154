// The Linux half of sync_dav_http.h: libcurl (loaded when a server is first reached)
// for the requests, libxml2 for the answers.
#include "sync_dav.h"
#include "sync_curl.h"
#include "sync_dav_http.h"

#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>

#include <libxml/parser.h>
#include <libxml/tree.h>

namespace host {
namespace {

// --- WebDAV's XML -------------------------------------------------------------------

bool Named(const xmlNode *node, const char *space, const char *name) {
    return node->type == XML_ELEMENT_NODE && node->ns && xmlStrEqual(node->ns->href, BAD_CAST space) &&
           xmlStrEqual(node->name, BAD_CAST name);
}

const xmlNode *Child(const xmlNode *node, const char *space, const char *name) {
    for (const xmlNode *child = node->children; child; child = child->next)
        if (Named(child, space, name)) return child;
    return nullptr;
}

std::string TextOf(const xmlNode *node) {
    if (!node) return {};
    xmlChar *content = xmlNodeGetContent(node);
    std::string text = content ? reinterpret_cast<const char *>(content) : "";
    xmlFree(content);
    return text;
}

// The properties of one propstat whose status is 200.
void ReadProperties(const xmlNode *propstat, DavEntry *entry) {
    const std::string status = TextOf(Child(propstat, kDavNamespace, "status"));
    const xmlNode *prop = Child(propstat, kDavNamespace, "prop");
    if (status.find(" 200 ") == std::string::npos || !prop) return;
    for (const xmlNode *property = prop->children; property; property = property->next) {
        if (Named(property, kDavNamespace, "getetag"))
            entry->etag = DavUnpadded(TextOf(property));
        else if (Named(property, kDavNamespace, "resourcetype"))
            entry->collection = Child(property, kDavNamespace, "collection") != nullptr;
        else if (Named(property, kCardDavNamespace, "address-data") ||
                 Named(property, kCalDavNamespace, "calendar-data"))
            entry->data = TextOf(property);
    }
}

// --- HTTP -------------------------------------------------------------------------

void InitXml() {
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

using Url = std::unique_ptr<CURLU, void (*)(CURLU *)>;

Url NewUrl(const CurlFunctions &curl) { return Url(curl.url(), curl.url_cleanup); }

std::string UrlPart(const CurlFunctions &curl, CURLU *url, CURLUPart part, unsigned flags = 0) {
    char *text = nullptr;
    if (curl.url_get(url, part, &text, flags) != CURLUE_OK) return {};
    std::string value = text;
    curl.free(text);
    return value;
}

// "scheme://host:port" of `url`, in lower case with the port always written.
std::string OriginOf(const CurlFunctions &curl, CURLU *url) {
    std::string origin = UrlPart(curl, url, CURLUPART_SCHEME) + "://" + UrlPart(curl, url, CURLUPART_HOST) + ":" +
                         UrlPart(curl, url, CURLUPART_PORT, CURLU_DEFAULT_PORT);
    std::transform(origin.begin(), origin.end(), origin.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return origin;
}

}  // namespace

Outcome CheckPasswordFile(const std::string &file) {
    struct stat status {};
    if (stat(file.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return PcFailure(file + ": no such password file");
    if (status.st_mode & 077) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", unsigned(status.st_mode & 07777));
        return PcFailure(file + ": others may read or change this password file (mode " + mode + "); chmod 600 " +
                         file);
    }
    return Outcome::Ok();
}

Outcome ReadMultistatus(const std::string &xml, std::vector<DavEntry> *entries) {
    InitXml();
    if (xml.size() > size_t(INT_MAX)) return DavServerFailure("the server's answer is too large");
    // No entity substitution and no network: the answer cannot make the parser load anything.
    std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)> doc(
        xmlReadMemory(xml.data(), int(xml.size()), nullptr, nullptr,
                      XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING),
        xmlFreeDoc);
    const xmlNode *root = doc ? xmlDocGetRootElement(doc.get()) : nullptr;
    if (!root || !Named(root, kDavNamespace, "multistatus"))
        return DavServerFailure("the server's answer is no WebDAV multistatus");
    for (const xmlNode *response = root->children; response; response = response->next) {
        if (!Named(response, kDavNamespace, "response")) continue;
        if (entries->size() == kDavEntryLimit) return DavServerFailure("the server listed too many items");
        DavEntry entry;
        entry.href = DavUnpadded(TextOf(Child(response, kDavNamespace, "href")));
        for (const xmlNode *propstat = response->children; propstat; propstat = propstat->next)
            if (Named(propstat, kDavNamespace, "propstat")) ReadProperties(propstat, &entry);
        entries->push_back(std::move(entry));
    }
    return Outcome::Ok();
}

// One handle for a side's requests: its connection is kept open between them.
struct DavSide::Http {
    explicit Http(const CurlFunctions *functions)
        : api(functions), curl(functions ? functions->easy_init() : nullptr) {}
    ~Http() {
        if (curl) api->easy_cleanup(curl);
    }
    const CurlFunctions *api;
    CURL *curl;
};

namespace {

size_t TakeBody(char *data, size_t size, size_t count, void *context) {
    auto *answer = static_cast<HttpAnswer *>(context);
    const size_t bytes = size * count;
    if (answer->body.size() + bytes > answer->limit) return answer->tooLarge = true, 0;
    answer->body.append(data, bytes);
    return bytes;
}

// Keeps the ETag of the last response (a redirect's own headers come first).
size_t TakeHeader(char *data, size_t size, size_t count, void *context) {
    auto *answer = static_cast<HttpAnswer *>(context);
    const std::string line(data, size * count);
    if (line.rfind("HTTP/", 0) == 0) answer->etag.clear();
    if (line.size() > 5 && strncasecmp(line.c_str(), "etag:", 5) == 0) answer->etag = DavUnpadded(line.substr(5));
    return size * count;
}

int CheckCancel(void *context, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto *account = static_cast<const DavAccount *>(context);
    return account->cancelled && account->cancelled() ? 1 : 0;
}

}  // namespace

Outcome CheckCollectionUrl(const std::string &url) {
    if (!IsCollectionUrl(url)) return BadInput(kNoHttpUrl);
    const CurlFunctions *curl = Curl();
    if (!curl) return PcFailure("servers cannot be reached without libcurl (" + CurlLoaded().message + ")");
    Url parsed = NewUrl(*curl);
    if (curl->url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) return BadInput(kNoHttpUrl);
    if (!UrlPart(*curl, parsed.get(), CURLUPART_USER).empty() ||
        !UrlPart(*curl, parsed.get(), CURLUPART_PASSWORD).empty())
        return BadInput(kCredentialsInUrl);
    return Outcome::Ok();
}

DavSide::DavSide(const std::string &url, DavAccount account, SyncKind kind)
    : m_account(std::move(account)), m_kind(kind), m_http(std::make_unique<Http>(Curl())) {
    m_usable = CheckCollectionUrl(url);
    if (!m_usable.ok) {
        m_usable.message = url + ": " + m_usable.message;
        return;
    }
    const CurlFunctions &curl = *m_http->api;
    Url parsed = NewUrl(curl);
    curl.url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0);
    m_origin = OriginOf(curl, parsed.get());
    m_path = UrlPart(curl, parsed.get(), CURLUPART_PATH);
    if (m_path.empty() || m_path.back() != '/') m_path += '/';
    if (!m_http->curl) m_usable = PcFailure("cannot start the HTTP client");
}

DavSide::~DavSide() = default;

std::string DavSide::ItemPath(const std::string &href) const {
    if (href.empty() || href.size() > 4096 || !m_usable.ok) return {};
    const CurlFunctions &curl = *m_http->api;
    Url url = NewUrl(curl);
    // An href is resolved against the collection, as a browser resolves a link.
    if (curl.url_set(url.get(), CURLUPART_URL, (m_origin + m_path).c_str(), 0) != CURLUE_OK ||
        curl.url_set(url.get(), CURLUPART_URL, href.c_str(), 0) != CURLUE_OK || OriginOf(curl, url.get()) != m_origin)
        return {};
    const std::string path = UrlPart(curl, url.get(), CURLUPART_PATH);
    const std::string decoded = UrlPart(curl, url.get(), CURLUPART_PATH, CURLU_URLDECODE);
    return ItemInCollection(m_path, path, decoded);
}

Outcome DavSide::Exchange(const std::string &method, const std::string &path, const std::vector<std::string> &headers,
                          const std::string &body, size_t limit, HttpAnswer *answer) {
    if (!m_usable.ok) return m_usable;
    const CurlFunctions &api = *m_http->api;
    CURL *curl = m_http->curl;
    api.easy_reset(curl);  // keeps the open connection
    answer->limit = limit;
    const std::string url = m_origin + path;
    char reason[CURL_ERROR_SIZE] = "";
    curl_slist *list = api.slist_append(nullptr, "Expect:");
    for (const std::string &header : headers) list = api.slist_append(list, header.c_str());
    api.easy_setopt(curl, CURLOPT_URL, url.c_str());
    api.easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
    if (method != "GET" && method != "DELETE") {
        api.easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
        api.easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(body.size()));
    }
    api.easy_setopt(curl, CURLOPT_HTTPHEADER, list);
    api.easy_setopt(curl, CURLOPT_HTTPAUTH, long(CURLAUTH_BASIC));
    api.easy_setopt(curl, CURLOPT_USERNAME, m_account.user.c_str());
    api.easy_setopt(curl, CURLOPT_PASSWORD, m_account.password.c_str());
    api.easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    api.easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    api.easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);  // the password goes to no other host
    api.easy_setopt(curl, CURLOPT_MAXREDIRS, kDavRedirects);
    api.easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, kDavConnectSeconds);
    api.easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    api.easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, kDavStalledSeconds);
    api.easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    api.easy_setopt(curl, CURLOPT_USERAGENT, "cebridge/" CEBRIDGE_VERSION);
    if (!m_account.caFile.empty()) api.easy_setopt(curl, CURLOPT_CAINFO, m_account.caFile.c_str());
    api.easy_setopt(curl, CURLOPT_ERRORBUFFER, reason);
    api.easy_setopt(curl, CURLOPT_WRITEFUNCTION, TakeBody);
    api.easy_setopt(curl, CURLOPT_WRITEDATA, answer);
    api.easy_setopt(curl, CURLOPT_HEADERFUNCTION, TakeHeader);
    api.easy_setopt(curl, CURLOPT_HEADERDATA, answer);
    api.easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    api.easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, CheckCancel);
    api.easy_setopt(curl, CURLOPT_XFERINFODATA, &m_account);
    const CURLcode code = api.easy_perform(curl);
    api.slist_free_all(list);
    api.easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &answer->status);
    if (code == CURLE_ABORTED_BY_CALLBACK) return Outcome::Failed(0, "interrupted", ErrorKind::kInterrupted);
    if (answer->tooLarge)
        return DavServerFailure(url + ": the server's answer is larger than " + std::to_string(limit >> 20) + " MiB");
    if (code != CURLE_OK) return DavServerFailure(url + ": " + (*reason ? reason : api.easy_strerror(code)));
    return Outcome::Ok();
}

}  // namespace host

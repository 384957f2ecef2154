// The Windows half of sync_dav_http.h: WinHTTP for the requests and XmlLite for the
// answers, both parts of Windows itself, so nothing is shipped beside the program for
// them. XmlLite has no import library in MinGW: it is loaded when first needed.
#include <shlwapi.h>
#include <windows.h>
#include <winhttp.h>
#include <xmllite.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "sync_dav.h"
#include "sync_dav_http.h"

namespace host {
namespace {

std::wstring Wide(const std::string &text) {
    if (text.empty()) return {};
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring wide(size_t(std::max(size, 0)), L'\0');
    if (size > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), wide.data(), size);
    return wide;
}

std::string Narrow(const wchar_t *text, size_t length) {
    if (length == 0) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, int(length), nullptr, 0, nullptr, nullptr);
    std::string narrow(size_t(std::max(size, 0)), '\0');
    if (size > 0) WideCharToMultiByte(CP_UTF8, 0, text, int(length), narrow.data(), size, nullptr, nullptr);
    return narrow;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

// --- URLs ---------------------------------------------------------------------------

struct UrlParts {
    bool secure = false;
    std::string host;  // in lower case
    INTERNET_PORT port = 0;
    std::string path;  // as written (escaped), without query or fragment
    bool credentials = false;
};

bool CrackUrl(const std::string &url, UrlParts *parts) {
    if (!IsCollectionUrl(url) || url.size() > 8192) return false;
    const std::wstring wide = Wide(url);
    URL_COMPONENTS components{};
    components.dwStructSize = sizeof components;
    components.dwHostNameLength = components.dwUrlPathLength = components.dwUserNameLength =
        components.dwPasswordLength = components.dwExtraInfoLength = DWORD(-1);
    if (!WinHttpCrackUrl(wide.c_str(), DWORD(wide.size()), 0, &components) || components.dwHostNameLength == 0)
        return false;
    parts->secure = components.nScheme == INTERNET_SCHEME_HTTPS;
    parts->host = Lower(Narrow(components.lpszHostName, components.dwHostNameLength));
    parts->port = components.nPort;
    parts->path = Narrow(components.lpszUrlPath, components.dwUrlPathLength);
    if (parts->path.empty()) parts->path = "/";
    parts->credentials = components.dwUserNameLength > 0 || components.dwPasswordLength > 0;
    return true;
}

std::string OriginOf(const UrlParts &parts) {
    return std::string(parts.secure ? "https" : "http") + "://" + parts.host + ":" + std::to_string(parts.port);
}

// `path` with its "." and ".." segments resolved, as a browser resolves a link.
std::string WithoutDotSegments(const std::string &path) {
    std::vector<std::string> segments;
    size_t start = 1;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        const std::string segment = path.substr(start, end - start);
        const bool last = end == path.size();
        if (segment == "..") {
            if (!segments.empty()) segments.pop_back();
            if (last) segments.emplace_back();
        } else if (segment == ".") {
            if (last) segments.emplace_back();
        } else {
            segments.push_back(segment);
        }
        start = end + 1;
    }
    std::string resolved;
    for (const std::string &segment : segments) resolved += "/" + segment;
    return resolved.empty() ? "/" : resolved;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = char(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

std::string PercentDecoded(const std::string &text) {
    std::string decoded;
    for (size_t i = 0; i < text.size(); ++i) {
        const int high = i + 2 < text.size() && text[i] == '%' ? HexDigit(text[i + 1]) : -1;
        const int low = high >= 0 ? HexDigit(text[i + 2]) : -1;
        if (low >= 0) {
            decoded += char(high * 16 + low);
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    return decoded;
}

// --- XmlLite ------------------------------------------------------------------------

using CreateXmlReaderFunction = HRESULT(WINAPI *)(REFIID, void **, IMalloc *);

CreateXmlReaderFunction XmlLite() {
    static std::once_flag once;
    static CreateXmlReaderFunction create = nullptr;
    std::call_once(once, [] {
        if (HMODULE library = LoadLibraryW(L"xmllite.dll"))
            create = reinterpret_cast<CreateXmlReaderFunction>(
                reinterpret_cast<void *>(GetProcAddress(library, "CreateXmlReader")));
    });
    return create;
}

template <typename T>
struct Com {
    T *p = nullptr;
    ~Com() {
        if (p) p->Release();
    }
};

struct Element {
    std::string space, name;
};

// One response of a multistatus while it is read: a propstat's properties count only
// when its status (which may come after them) says 200.
struct ResponseReader {
    DavEntry entry;
    DavEntry propstat;
    std::string status;

    void EndPropstat() {
        if (status.find(" 200 ") != std::string::npos) {
            if (!propstat.etag.empty()) entry.etag = propstat.etag;
            if (propstat.collection) entry.collection = true;
            if (!propstat.data.empty()) entry.data = propstat.data;
        }
        propstat = {};
        status.clear();
    }
};

bool Is(const Element &element, const char *space, const char *name) {
    return element.space == space && element.name == name;
}

// The text of the element at the top of `path`, by where it is in a multistatus.
void TakeText(const std::vector<Element> &path, const std::string &text, ResponseReader *response) {
    const size_t depth = path.size();
    const Element &element = path.back();
    if (depth == 3 && Is(element, kDavNamespace, "href"))
        response->entry.href += text;
    else if (depth == 4 && Is(element, kDavNamespace, "status") && Is(path[2], kDavNamespace, "propstat"))
        response->status += text;
    else if (depth == 5 && Is(path[3], kDavNamespace, "prop")) {
        if (Is(element, kDavNamespace, "getetag"))
            response->propstat.etag += text;
        else if (Is(element, kCardDavNamespace, "address-data") || Is(element, kCalDavNamespace, "calendar-data"))
            response->propstat.data += text;
    }
}

std::string Text(const wchar_t *text, UINT length) { return Narrow(text, length); }

Outcome ReadElements(IXmlReader *reader, std::vector<DavEntry> *entries) {
    std::vector<Element> path;
    ResponseReader response;
    XmlNodeType type;
    HRESULT result;
    while ((result = reader->Read(&type)) == S_OK) {
        const wchar_t *value = nullptr;
        UINT length = 0;
        if (type == XmlNodeType_Element) {
            Element element;
            reader->GetNamespaceUri(&value, &length);
            element.space = Text(value, length);
            reader->GetLocalName(&value, &length);
            element.name = Text(value, length);
            if (path.empty() && !Is(element, kDavNamespace, "multistatus")) break;
            if (path.size() == 1 && Is(element, kDavNamespace, "response")) response = {};
            if (path.size() == 5 && Is(element, kDavNamespace, "collection") &&
                Is(path[4], kDavNamespace, "resourcetype"))
                response.propstat.collection = true;
            path.push_back(element);
            if (!reader->IsEmptyElement()) continue;
            type = XmlNodeType_EndElement;  // an empty element ends where it starts
        }
        if (type == XmlNodeType_Text || type == XmlNodeType_CDATA || type == XmlNodeType_Whitespace) {
            reader->GetValue(&value, &length);
            if (!path.empty()) TakeText(path, Text(value, length), &response);
        } else if (type == XmlNodeType_EndElement && !path.empty()) {
            const Element ended = path.back();
            path.pop_back();
            if (path.size() == 2 && Is(ended, kDavNamespace, "propstat")) response.EndPropstat();
            if (path.size() == 1 && Is(ended, kDavNamespace, "response")) {
                if (entries->size() == kDavEntryLimit) return DavServerFailure("the server listed too many items");
                response.entry.href = DavUnpadded(response.entry.href);
                response.entry.etag = DavUnpadded(response.entry.etag);
                entries->push_back(std::move(response.entry));
            }
            if (path.empty()) return Outcome::Ok();
        }
    }
    return DavServerFailure("the server's answer is no WebDAV multistatus");
}

// --- HTTP ---------------------------------------------------------------------------

std::string Base64(const std::string &bytes) {
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const unsigned a = static_cast<unsigned char>(bytes[i]);
        const unsigned b = i + 1 < bytes.size() ? static_cast<unsigned char>(bytes[i + 1]) : 0;
        const unsigned c = i + 2 < bytes.size() ? static_cast<unsigned char>(bytes[i + 2]) : 0;
        const unsigned group = a << 16 | b << 8 | c;
        out += kDigits[group >> 18 & 63];
        out += kDigits[group >> 12 & 63];
        out += i + 1 < bytes.size() ? kDigits[group >> 6 & 63] : '=';
        out += i + 2 < bytes.size() ? kDigits[group & 63] : '=';
    }
    return out;
}

struct Handle {
    HINTERNET h = nullptr;
    Handle() = default;
    explicit Handle(HINTERNET handle) : h(handle) {}
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    ~Handle() {
        if (h) WinHttpCloseHandle(h);
    }
};

std::string SystemMessage(DWORD code) {
    wchar_t *text = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_FROM_HMODULE |
                           FORMAT_MESSAGE_IGNORE_INSERTS,
                       GetModuleHandleW(L"winhttp.dll"), code, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    std::string message = text ? DavUnpadded(Narrow(text, length)) : "";
    LocalFree(text);
    return message.empty() ? "network error " + std::to_string(code) : message;
}

std::string Header(HINTERNET request, DWORD which) {
    DWORD size = 0;
    WinHttpQueryHeaders(request, which, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &size, WINHTTP_NO_HEADER_INDEX);
    if (size == 0 || size > 65536) return {};
    std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
    if (!WinHttpQueryHeaders(request, which, WINHTTP_HEADER_NAME_BY_INDEX, value.data(), &size,
                             WINHTTP_NO_HEADER_INDEX))
        return {};
    return Narrow(value.c_str(), size / sizeof(wchar_t));
}

bool IsRedirect(long status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

}  // namespace

// Windows keeps a file private by its folder's access list (a user's profile is theirs
// alone), not by mode bits: the file's place is the user's to choose.
Outcome CheckPasswordFile(const std::string &file) {
    std::error_code failure;
    if (!std::filesystem::is_regular_file(std::filesystem::u8path(file), failure))
        return PcFailure(file + ": no such password file");
    return Outcome::Ok();
}

Outcome ReadMultistatus(const std::string &xml, std::vector<DavEntry> *entries) {
    const CreateXmlReaderFunction create = XmlLite();
    if (!create) return PcFailure("the system's XML reader (xmllite.dll) cannot be loaded");
    if (xml.size() > kDavListingLimit) return DavServerFailure("the server's answer is too large");
    Com<IStream> stream;
    Com<IXmlReader> reader;
    stream.p = SHCreateMemStream(reinterpret_cast<const BYTE *>(xml.data()), UINT(xml.size()));
    if (!stream.p || FAILED(create(__uuidof(IXmlReader), reinterpret_cast<void **>(&reader.p), nullptr)))
        return PcFailure("the system's XML reader cannot start");
    // No document type is read, so the answer cannot make the reader load anything.
    reader.p->SetProperty(XmlReaderProperty_DtdProcessing, DtdProcessing_Prohibit);
    reader.p->SetProperty(XmlReaderProperty_XmlResolver, 0);
    if (FAILED(reader.p->SetInput(stream.p))) return PcFailure("the system's XML reader cannot start");
    return ReadElements(reader.p, entries);
}

Outcome CheckCollectionUrl(const std::string &url) {
    UrlParts parts;
    if (!IsCollectionUrl(url) || !CrackUrl(url, &parts)) return BadInput(kNoHttpUrl);
    if (parts.credentials) return BadInput(kCredentialsInUrl);
    return Outcome::Ok();
}

// One WinHTTP session for a side's requests: it keeps their connection open between them.
struct DavSide::Http {
    Http()
        : session(WinHttpOpen(Wide("cebridge/" CEBRIDGE_VERSION).c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                              WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0)) {
        if (session.h)
            WinHttpSetTimeouts(session.h, 0, int(kDavConnectSeconds * 1000), int(kDavStalledSeconds * 1000),
                               int(kDavStalledSeconds * 1000));
    }
    Handle session;
    Handle connection;
    std::string connected;  // the origin `connection` is to
    UrlParts server;
};

DavSide::DavSide(const std::string &url, DavAccount account, SyncKind kind)
    : m_account(std::move(account)), m_kind(kind), m_http(std::make_unique<Http>()) {
    m_usable = CheckCollectionUrl(url);
    if (!m_usable.ok) {
        m_usable.message = url + ": " + m_usable.message;
        return;
    }
    CrackUrl(url, &m_http->server);
    m_origin = OriginOf(m_http->server);
    m_path = m_http->server.path;
    if (m_path.back() != '/') m_path += '/';
    if (!m_http->session.h) m_usable = PcFailure("cannot start the HTTP client");
    // Windows checks a server's certificate against its own store of trusted ones.
    if (!m_account.caFile.empty())
        m_usable =
            BadInput("a file of trusted certificates is not used on Windows: add the certificate to Windows' store");
}

DavSide::~DavSide() = default;

std::string DavSide::ItemPath(const std::string &href) const {
    if (href.empty() || href.size() > 4096 || !m_usable.ok) return {};
    std::string path;
    // An href is resolved against the collection, as a browser resolves a link.
    if (href.find("://") != std::string::npos) {
        UrlParts parts;
        if (!CrackUrl(href, &parts) || OriginOf(parts) != m_origin) return {};
        path = parts.path;
    } else if (href.rfind("//", 0) == 0) {
        return ItemPath((m_http->server.secure ? "https:" : "http:") + href);
    } else {
        path = href[0] == '/' ? href : m_path + href;
    }
    path = WithoutDotSegments(path.substr(0, path.find_first_of("?#")));
    const std::string decoded = PercentDecoded(path);
    return ItemInCollection(m_path, path, decoded);
}

Outcome DavSide::Exchange(const std::string &method, const std::string &path, const std::vector<std::string> &headers,
                          const std::string &body, size_t limit, HttpAnswer *answer) {
    if (!m_usable.ok) return m_usable;
    Http &http = *m_http;
    if (!http.connection.h) {
        http.connection.h = WinHttpConnect(http.session.h, Wide(http.server.host).c_str(), http.server.port, 0);
        if (!http.connection.h) return DavServerFailure(m_origin + ": " + SystemMessage(GetLastError()));
    }
    std::string requested = path;
    std::wstring extra = L"Authorization: Basic " + Wide(Base64(m_account.user + ":" + m_account.password)) + L"\r\n";
    for (const std::string &header : headers) extra += Wide(header) + L"\r\n";
    // Redirects are followed here, and only on this server: the password goes to no other.
    bool resent = false;
    for (long hops = 0;; ++hops) {
        *answer = HttpAnswer{};
        answer->limit = limit;
        const std::string url = m_origin + requested;
        if (m_account.cancelled && m_account.cancelled())
            return Outcome::Failed(0, "interrupted", ErrorKind::kInterrupted);
        Handle request(WinHttpOpenRequest(http.connection.h, Wide(method).c_str(), Wide(requested).c_str(), nullptr,
                                          WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                          http.server.secure ? WINHTTP_FLAG_SECURE : 0));
        DWORD noRedirects = WINHTTP_DISABLE_REDIRECTS;
        if (!request.h ||
            !WinHttpSetOption(request.h, WINHTTP_OPTION_DISABLE_FEATURE, &noRedirects, sizeof noRedirects) ||
            !WinHttpSendRequest(request.h, extra.c_str(), DWORD(extra.size()), const_cast<char *>(body.data()),
                                DWORD(body.size()), DWORD(body.size()), 0) ||
            !WinHttpReceiveResponse(request.h, nullptr)) {
            const DWORD code = GetLastError();
            // A server may answer (a refused login) before it reads a request's body and
            // then reset the connection, which can lose the answer: sent once more.
            if (code == ERROR_WINHTTP_CONNECTION_ERROR && !resent) {
                resent = true;
                --hops;
                continue;
            }
            return DavServerFailure(url + ": " + SystemMessage(code));
        }
        DWORD status = 0, size = sizeof status;
        WinHttpQueryHeaders(request.h, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
        answer->status = long(status);
        answer->etag = DavUnpadded(Header(request.h, WINHTTP_QUERY_ETAG));
        if (IsRedirect(answer->status)) {
            const std::string location = Header(request.h, WINHTTP_QUERY_LOCATION);
            UrlParts target;
            if (location.empty() || hops == kDavRedirects) return DavServerFailure(url + ": too many redirects");
            if (location[0] == '/' && location.rfind("//", 0) != 0)
                requested = location;
            else if (CrackUrl(location, &target) && OriginOf(target) == m_origin)
                requested = target.path;
            else
                return DavServerFailure(url + ": the server sent the request to another server (" +
                                        location.substr(0, 200) + ")");
            continue;
        }
        char buffer[16384];
        for (DWORD read = 0;; read = 0) {
            if (!WinHttpReadData(request.h, buffer, sizeof buffer, &read))
                return DavServerFailure(url + ": " + SystemMessage(GetLastError()));
            if (read == 0) break;
            if (m_account.cancelled && m_account.cancelled())
                return Outcome::Failed(0, "interrupted", ErrorKind::kInterrupted);
            if (answer->body.size() + read > limit)
                return DavServerFailure(url + ": the server's answer is larger than " + std::to_string(limit >> 20) +
                                        " MiB");
            answer->body.append(buffer, read);
        }
        return Outcome::Ok();
    }
}

}  // namespace host

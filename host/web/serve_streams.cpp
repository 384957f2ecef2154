#include "serve_streams.h"

#include <cstdio>
#include <cstring>
#include <fstream>

#include "local_files.h"
#include "serve_system.h"
#include "server.h"

namespace host::serve {

namespace fs = std::filesystem;

std::string Query(const httplib::Request &request, const char *name) {
    return request.has_param(name) ? request.get_param_value(name) : "";
}

// RFC 5987: a download keeps its phone name, whatever characters it holds.
std::string AttachmentHeader(const std::string &name) {
    std::string encoded;
    for (unsigned char c : name) {
        if (std::isalnum(c) || std::strchr("-._~", c)) {
            encoded += char(c);
        } else {
            char escape[4];
            std::snprintf(escape, sizeof escape, "%%%02X", c);
            encoded += escape;
        }
    }
    return "attachment; filename*=UTF-8''" + encoded;
}

std::string LastName(const std::string &path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

Spool::Spool() : m_folder(NewPrivateFolder("cebridge-")) {
    if (m_folder.empty()) m_problem = "no private temporary folder for the transfer";
}

Spool::~Spool() {
    std::error_code ignored;
    if (!m_folder.empty()) fs::remove_all(LocalPath(m_folder), ignored);
}

std::string Utf8(const fs::path &path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

void TakeBody(const httplib::ContentReader &reader, const std::string &name, httplib::Response &response,
              const std::function<void(const UploadSource &)> &upload) {
    SpoolBody(reader, name, response, [&](const fs::path &taken) {
        UploadSource source;
        if (Outcome prepared = source.Prepare(Utf8(taken)); !prepared.ok)
            return web::SendError(response, 500, prepared.message);
        upload(source);
    });
}

void SpoolBody(const httplib::ContentReader &reader, const std::string &name, httplib::Response &response,
               const std::function<void(const fs::path &)> &use) {
    Spool spool;
    if (!spool.Ready()) return web::SendError(response, 500, spool.Problem());
    if (name.empty() || name == "." || name == "..") return web::SendError(response, 400, "name the file (name=...)");
    const fs::path taken = spool.File(name);
    {
        std::ofstream out(taken, std::ios::binary);
        const bool whole = reader([&](const char *data, size_t length) {
            out.write(data, std::streamsize(length));
            return bool(out);
        });
        out.close();
        if (!whole || !out) return web::SendError(response, whole ? 500 : 400, "the upload did not arrive whole");
    }
    use(taken);
}

}  // namespace host::serve

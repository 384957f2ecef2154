// The checks every request passes before it reaches a handler.
#include <random>

#include "web.h"

namespace web {

const char *const kTokenCookie = "cebridge_token";

std::string NewToken() {
    std::random_device source;  // the system's random source (getrandom, or the OS's on Windows)
    static const char digits[] = "0123456789abcdef";
    std::string token;
    for (int i = 0; i < 32; ++i) token += digits[source() & 15u];
    return token;
}

std::string TokenCookieHeader(const std::string &token) {
    // (Appended piece by piece: GCC 12's -O3 restrict check misreads "x" + std::string.)
    std::string header = kTokenCookie;
    return header.append("=").append(token).append("; Path=/; HttpOnly; SameSite=Strict");
}

namespace {

bool NamesThisServer(const std::string &hostAndPort, const Identity &identity) {
    const std::string port = std::string(":").append(std::to_string(identity.port));
    for (const std::string &name : identity.hostNames)
        if (hostAndPort == name + port) return true;
    return false;
}

bool ChangesSomething(const std::string &method) { return method != "GET" && method != "HEAD"; }

// Compares in time that does not depend on where the texts differ.
bool SameSecret(const std::string &given, const std::string &secret) {
    if (given.size() != secret.size() || secret.empty()) return false;
    unsigned char difference = 0;
    for (size_t i = 0; i < secret.size(); ++i) difference |= static_cast<unsigned char>(given[i] ^ secret[i]);
    return difference == 0;
}

}  // namespace

Verdict Judge(const RequestFacts &request, const Identity &identity) {
    if (!NamesThisServer(request.host, identity)) return Verdict::kWrongHost;
    if (request.path.rfind("/api/", 0) != 0) return Verdict::kAllowed;
    const std::string bearer = "Bearer ";
    // A script's header: a page of another site cannot send it without a preflight
    // this server never grants, so no Origin is needed with it.
    if (request.authorization.rfind(bearer, 0) == 0 &&
        SameSecret(request.authorization.substr(bearer.size()), identity.token))
        return Verdict::kAllowed;
    if (!SameSecret(request.tokenCookie, identity.token)) return Verdict::kNoToken;
    if (ChangesSomething(request.method)) {
        const std::string prefix = "http://";
        if (request.origin.rfind(prefix, 0) != 0 || !NamesThisServer(request.origin.substr(prefix.size()), identity))
            return Verdict::kWrongOrigin;
    }
    return Verdict::kAllowed;
}

int VerdictStatus(Verdict verdict) {
    switch (verdict) {
    case Verdict::kAllowed: return 200;
    case Verdict::kNoToken: return 401;
    case Verdict::kWrongHost:
    case Verdict::kWrongOrigin: return 403;
    }
    return 403;
}

std::string VerdictMessage(Verdict verdict) {
    switch (verdict) {
    case Verdict::kAllowed: return "";
    case Verdict::kWrongHost: return "this server answers only under its own address (Host)";
    case Verdict::kNoToken: return "open the address cebridge serve printed, with its token";
    case Verdict::kWrongOrigin: return "changes are taken only from this server's own page (Origin)";
    }
    return "refused";
}

}  // namespace web

// The checks every request passes before it reaches a handler.
#include <random>

#include "web.h"

namespace web {

std::string NewToken() {
    std::random_device source;  // the system's random source (getrandom, or the OS's on Windows)
    static const char digits[] = "0123456789abcdef";
    std::string token;
    for (int i = 0; i < 32; ++i) token += digits[source() & 15u];
    return token;
}

std::string TicketBook::Issue() {
    const std::string ticket = NewToken();
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto at = m_issued.begin(); at != m_issued.end();) at = at->second < now ? m_issued.erase(at) : std::next(at);
    m_issued[ticket] = now + kTicketLife;
    return ticket;
}

bool TicketBook::Redeem(const std::string &ticket) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_issued.find(ticket);
    if (found == m_issued.end()) return false;
    const bool fresh = std::chrono::steady_clock::now() <= found->second;
    m_issued.erase(found);
    return fresh;
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
    if (request.hostHeaders != 1 || !NamesThisServer(request.host, identity)) return Verdict::kWrongHost;
    // A page of another site that got through to here (a simple request needs no
    // preflight) is refused before its credential is even looked at.
    if (!request.origin.empty()) {
        const std::string prefix = "http://";
        if (request.origin.rfind(prefix, 0) != 0 || !NamesThisServer(request.origin.substr(prefix.size()), identity))
            return Verdict::kWrongOrigin;
    }
    if (request.path.rfind("/api/", 0) != 0) return Verdict::kAllowed;
    const std::string bearer = "Bearer ";
    if (request.authorization.rfind(bearer, 0) == 0 &&
        SameSecret(request.authorization.substr(bearer.size()), identity.token))
        return Verdict::kAllowed;
    if (request.ticket && !ChangesSomething(request.method)) return Verdict::kAllowed;
    return Verdict::kNoToken;
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

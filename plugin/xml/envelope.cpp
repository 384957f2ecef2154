// The response envelope: how every XML document reaches the agent. The document is
// written with the serializer's indented form, then re-flowed into the form the agent
// reads: one markup token per line, CR LF between lines, no indentation, and the DTD
// file's text right after the XML declaration.
#include "xml/xml.h"

#include <cstdio>
#include <cstring>
#include <sstream>
#include <string_view>

#include "core/session.h"
#include "platform/platform.h"
#include "support/support.h"

namespace {

// The agent's DTD reader took each line in reads of at most 254 characters.
constexpr size_t kDtdPieceLength = 254;

// Whitespace that separates the tokens of the written document.
bool IsTokenSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Hands out the whitespace-delimited tokens of a text, in order.
class TokenReader {
public:
    explicit TokenReader(std::string_view text) : m_text(text) {}

    bool Next(std::string_view &token) {
        while (m_position < m_text.size() && IsTokenSpace(m_text[m_position])) ++m_position;
        if (m_position == m_text.size()) return false;
        const size_t start = m_position;
        while (m_position < m_text.size() && !IsTokenSpace(m_text[m_position])) ++m_position;
        token = m_text.substr(start, m_position - start);
        return true;
    }

private:
    std::string_view m_text;
    size_t m_position = 0;
};

// One character as a text-mode reader delivers it: CR LF comes as LF. (On Windows the
// file is already open in text mode and no CR LF pair is left to see.)
int ReadTextModeChar(FILE *file) {
    const int c = std::getc(file);
    if (c != '\r') return c;
    const int next = std::getc(file);
    if (next == '\n') return '\n';
    if (next != EOF) std::ungetc(next, file);
    return c;
}

// One read of the DTD file: characters up to and including the next line feed, but at
// most 254. `piece` receives what comes before the line feed, or before a zero byte
// (the piece is appended as a C text). False at the end of the file.
bool ReadDtdPiece(FILE *file, std::string &piece) {
    piece.clear();
    size_t count = 0;
    bool endedByZero = false;
    int c;
    while (count < kDtdPieceLength && (c = ReadTextModeChar(file)) != EOF) {
        ++count;
        if (c == '\n') break;
        if (c == '\0') endedByZero = true;
        if (!endedByZero) piece += static_cast<char>(c);
    }
    return count > 0;
}

}  // namespace

std::string ComposeAgentXml(XmlNodeRef document, const std::function<std::string()> &dtdText) {
    std::stringstream stream;  // fresh format flags: tab indentation and line breaks
    stream << document;
    const std::string written = stream.str();

    TokenReader tokens(written);
    std::string_view token;
    std::string text;
    if (!tokens.Next(token)) return text;
    text.assign(token);  // the first token is never looked at for "?>"
    while (tokens.Next(token)) {
        text += token.front() == '<' ? "\r\n" : " ";
        text += token;
        if (token.find("?>") != std::string_view::npos) text += dtdText();
    }
    return text;
}

bool AppendDtdFile(std::string &text, const std::string &directory, const char *dtdName) {
    const std::string path = directory + "\\" + (dtdName ? dtdName : "");
    LogLine(LOG_TRACE, "[%s]", path.c_str());
    // "r+": a DTD file that cannot be opened for update is not read either.
    FILE *file = platform::OpenPcFile(path.c_str(), "r+");
    if (!file) {
        LogLine(LOG_FAULT, "AppendXmlDtdFAIL");
        return false;
    }
    std::string piece;
    while (ReadDtdPiece(file, piece)) {
        text += "\r\n";
        text += piece;
    }
    std::fclose(file);
    return true;
}

bool DeviceSession::AppendXmlDtd(std::string &text, const char *dtdName) {
    return AppendDtdFile(text, std::string(m_szSaPath, strnlen(m_szSaPath, sizeof m_szSaPath)), dtdName);
}

bool DeviceSession::XmlResponse(XmlNodeRef document, AgentPacket *packet, const char *dtdName) {
    LogLine(LOG_TRACE, "XmlResponse");
    const std::string text = ComposeAgentXml(document, [this, dtdName] {
        std::string dtd;
        AppendXmlDtd(dtd, dtdName);
        return dtd;
    });
    LogLine(LOG_TRACE, "body length:%d", static_cast<int32_t>(text.size()));
    if (!packet) return true;
    // The body is one parameter: 0x48, N as four bytes least significant first, the
    // N characters; nBodyLength N + 5, with one more zero byte allocated.
    if (text.size() > UINT32_MAX - 6 ||
        !SetSingleParameterBody(packet, PAR_XMLBODY, text.data(), static_cast<uint32_t>(text.size()))) {
        LogLine(LOG_FAULT, "XmlResponse: no memory for a body of %d bytes", static_cast<int32_t>(text.size()));
        SendStatus(packet, ST_FAILED);
        return true;
    }
    packet->nStatus = ST_OK;
    SendResponse(packet);
    return true;
}

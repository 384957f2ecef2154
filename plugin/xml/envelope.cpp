// The response envelope: how every XML document reaches the agent. The document is
// written with the serializer's indented form, then re-flowed into the form the agent
// reads: one markup token per line, CR LF between lines, no indentation, and the DTD
// file's text right after the XML declaration.
#include "xml/xml.h"

#include <cstdio>
#include <cstring>
#include <functional>
#include <ostream>
#include <streambuf>
#include <string_view>

#include "core/session.h"
#include "platform/platform.h"
#include "support/support.h"

namespace {

// The agent's DTD reader took each line in reads of at most 254 characters.
constexpr size_t kDtdPieceLength = 254;

// Whitespace that separates the tokens of the written document.
bool IsTokenSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Re-flows the document while the tree writes it, so that the written form never
// exists beside the re-flowed one: each whitespace-delimited token goes out on a
// line of its own when it is markup and after one space otherwise, and the DTD
// text follows every token (but the first) that holds "?>".
class ReflowBuffer : public std::streambuf {
public:
    using Sink = std::function<void(std::string_view)>;
    ReflowBuffer(const Sink &sink, const std::function<std::string()> &dtdText) : m_sink(sink), m_dtdText(dtdText) {
        setp(m_buffer, m_buffer + sizeof m_buffer);
    }
    // Hands on what is still buffered, the last token included.
    void Finish() {
        Drain();
        EndToken();
    }

protected:
    int_type overflow(int_type c) override {
        Drain();
        if (!traits_type::eq_int_type(c, traits_type::eof())) Take(traits_type::to_char_type(c));
        return traits_type::not_eof(c);
    }
    int sync() override {
        Drain();
        return 0;
    }

private:
    void Drain() {
        for (const char *at = pbase(); at < pptr(); ++at) Take(*at);
        setp(m_buffer, m_buffer + sizeof m_buffer);
    }
    void Take(char c) {
        if (!IsTokenSpace(c)) {
            m_token += c;
        } else if (!m_token.empty()) {
            EndToken();
        }
    }
    void EndToken() {
        if (m_token.empty()) return;
        if (!m_first) m_sink(m_token.front() == '<' ? std::string_view("\r\n") : std::string_view(" "));
        m_sink(m_token);
        // The first token is never looked at for "?>".
        if (!m_first && m_token.find("?>") != std::string::npos) m_sink(m_dtdText());
        m_first = false;
        m_token.clear();
    }

    const Sink &m_sink;
    const std::function<std::string()> &m_dtdText;
    char m_buffer[4096];
    std::string m_token;
    bool m_first = true;
};

void WriteAgentXml(XmlNodeRef document, const std::function<std::string()> &dtdText, const ReflowBuffer::Sink &sink) {
    ReflowBuffer reflow(sink, dtdText);
    std::ostream stream(&reflow);  // fresh format flags: tab indentation and line breaks
    stream << document;
    reflow.Finish();
}

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
    std::string text;
    WriteAgentXml(document, dtdText, [&text](std::string_view piece) { text += piece; });
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
    // The body is one parameter: 0x48, N as four bytes least significant first, the
    // N characters; nBodyLength N + 5, with one more zero byte allocated.
    SingleParameterBody body(PAR_XMLBODY);
    const auto dtdText = [this, dtdName] {
        std::string dtd;
        AppendXmlDtd(dtd, dtdName);
        return dtd;
    };
    WriteAgentXml(document, dtdText, [&body](std::string_view piece) { body.Append(piece.data(), piece.size()); });
    LogLine(LOG_TRACE, "body length:%d", static_cast<int32_t>(body.ValueLength()));
    if (!packet) return true;
    if (!body.AttachTo(packet)) {
        LogLine(LOG_FAULT, "XmlResponse: no memory for a body of %d bytes", static_cast<int32_t>(body.ValueLength()));
        SendStatus(packet, ST_FAILED);
        return true;
    }
    packet->nStatus = ST_OK;
    SendResponse(packet);
    return true;
}

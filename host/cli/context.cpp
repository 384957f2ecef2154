#include "context.h"

#include <cstdio>
#include <iostream>

#include "console.h"
#include "text.h"

namespace host {

std::atomic<bool> g_interrupted{false};

namespace {

void TracePacket(const char *direction, const AgentPacket &packet) {
    std::fprintf(ConsoleErr(), "%s command 0x%x sub 0x%x status 0x%x (%s) body %u tid %u\n", direction, packet.command,
                 packet.subCommand, packet.nStatus, StatusName(packet.nStatus).c_str(), packet.nBodyLength, packet.tid);
}

}  // namespace

int Context::Connect() {
    if (options.verbose && !pluginOpen) client.trace = TracePacket;
    ConnectReport report;
    Outcome outcome = PhoneSession::Connect(options, &report);
    for (const std::string &warning : report.warnings) PrintWarning(warning);
    std::fputs(report.phoneSaid.c_str(), ConsoleErr());  // the phone's side says why it refused
    if (outcome.ok) return kExitOk;
    if (outcome.kind == ErrorKind::kBadInput) return FailUsage(outcome.message);
    if (outcome.kind == ErrorKind::kNoConnection) return FailConnect(outcome.message);
    return Fail(outcome);
}

int Context::LockPhoneForWriting(const char *command) { return Locked(command, LockForWriting(options)); }

int Context::LockPhoneForPimWriting(const std::string &command) {
    auto waiting = [&] {
        if (!options.json)
            std::fprintf(ConsoleErr(), "%s: waiting for another cebridge writing to this phone\n", command.c_str());
    };
    return Locked(command.c_str(), LockForWriting(options, kPimLockWait, waiting));
}

int Context::Locked(const char *command, const Outcome &outcome) {
    if (outcome.ok) return kExitOk;
    const std::string message = std::string(command) + ": " + outcome.message;
    if (outcome.kind == ErrorKind::kPcFile) return FailLocal(message);
    return Report(kExitFailed, message, 0, outcome.kind);
}

int Context::Report(int exitCode, const std::string &message, uint32_t status, ErrorKind kind) {
    std::string text = batchLine > 0 ? "line " + std::to_string(batchLine) + ": " + message : message;
    if (!captured) {  // (else the failure document carries it)
        if (status != 0)
            std::fprintf(ConsoleErr(), "cebridge: %s (status 0x%x)\n", text.c_str(), status);
        else
            std::fprintf(ConsoleErr(), "cebridge: %s\n", text.c_str());
    }
    m_failure = message;
    m_failureStatus = status;
    m_failureKind = kind;
    return exitCode;
}

int Context::Fail(const Outcome &outcome) {
    std::string note = outcome.note.empty() ? "" : "; " + DeviceToTerminal(outcome.note);
    if (g_interrupted.load()) return Report(kExitInterrupted, "interrupted" + note, 0, ErrorKind::kInterrupted);
    return Report(kExitFailed, DeviceToTerminal(outcome.message) + note, outcome.status, outcome.kind);
}

int Context::FailOperation(const char *command, const Outcome &outcome) {
    if (HostWorded(outcome.kind))
        return Report(ExitCodeFor(outcome), std::string(command) + ": " + outcome.message, 0, outcome.kind);
    return Fail(outcome);
}

int Context::FailUsage(const std::string &message) { return Report(kExitUsage, message, 0, ErrorKind::kBadInput); }
int Context::FailInput(const char *command, const Outcome &check) {
    return check.ok ? kExitOk : FailUsage(std::string(command) + ": " + check.message);
}
int Context::FailLocal(const std::string &message, ErrorKind kind) { return Report(kExitLocalFile, message, 0, kind); }
int Context::FailConnect(const std::string &message) {
    return Report(kExitNoConnection, message, 0, ErrorKind::kNoConnection);
}

void Context::Emit(const std::string &tableText, const nlohmann::json &document) {
    m_emitted = true;
    if (captured) {
        *captured = document;
        return;
    }
    if (!options.json) {
        std::cout << tableText << std::flush;
        return;
    }
    Print(Dump(document, compactJson ? -1 : 2));
}

void Context::EmitTable(const Table &table, size_t count, const Table::RowMaker &row) {
    m_emitted = true;
    table.Print(std::cout, count, row);
    std::cout << std::flush;
}

// PC names need not be UTF-8: such bytes are shown as U+FFFD rather than refused.
std::string Context::Dump(const nlohmann::json &document, int indent) const {
    return document.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace);
}

void Context::Print(const std::string &text) {
    if (jsonToStderr)
        std::fprintf(ConsoleErr(), "%s\n", text.c_str());
    else
        std::cout << text << std::endl;
}

void Context::EmitArray(nlohmann::json head, const char *key, size_t count,
                        const std::function<nlohmann::json(size_t)> &element) {
    if (captured || !options.json || count == 0) {
        nlohmann::json &items = head[key] = nlohmann::json::array();
        for (size_t i = 0; i < count; ++i) items.push_back(element(i));
        return Emit("", head);
    }
    m_emitted = true;
    // The document with a mark where the array goes, printed around it.
    const std::string mark = "\x01array\x01";
    head[key] = mark;
    const int indent = compactJson ? -1 : 2;
    const std::string whole = Dump(head, indent), quotedMark = Dump(mark, -1);
    const size_t at = whole.find(quotedMark);
    std::ostream &out = jsonToStderr ? std::cerr : std::cout;
    if (jsonToStderr) std::fflush(ConsoleErr());
    out << whole.substr(0, at) << '[';
    // Pretty: each element on lines of its own, indented two levels (the array is a
    // member of the top object); its values hold no line breaks (JSON escapes them).
    for (size_t i = 0; i < count; ++i) {
        std::string text = Dump(element(i), indent);
        if (indent > 0) {
            std::string indented = "\n    ";
            for (char c : text) indented += c == '\n' ? std::string("\n    ") : std::string(1, c);
            text = std::move(indented);
        }
        out << (i ? "," : "") << text;
    }
    out << (indent > 0 ? "\n  ]" : "]") << whole.substr(at + quotedMark.size()) << std::endl;
}

void Context::BeginCommand() {
    m_emitted = false;
    m_failure.clear();
    m_failureStatus = 0;
    m_failureKind = ErrorKind::kNone;
    jsonToStderr = false;
}

void Context::EndCommand(int exitCode) {
    ReleaseWriteLock();
    if (!options.json || m_emitted || exitCode == kExitOk) return;
    nlohmann::json document = FailureDocument(m_failure, exitCode, m_failureKind, m_failureStatus);
    if (batchLine > 0) document["line"] = batchLine;
    Emit("", document);
}

}  // namespace host

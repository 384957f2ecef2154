// The state one run of the host keeps: options, the phone's session (the core's
// PhoneSession), plus how results are printed.
#ifndef CEBRIDGE_HOST_CONTEXT_H
#define CEBRIDGE_HOST_CONTEXT_H

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "failure.h"
#include "phone_session.h"
#include "text.h"

namespace host {

struct Options : SessionOptions {
    bool json = false;
    bool verbose = false;
    bool progress = false;  // progress even when stderr is not a terminal
};

extern std::atomic<bool> g_interrupted;

class Context : public PhoneSession {
public:
    explicit Context(Options options) : PhoneSession(g_interrupted), options(std::move(options)) {}

    // Loads the plug-in (once) and connects the phone (once); prints why not.
    int Connect();
    // Before a command writes phone files: one cebridge at a time writes to a phone
    // (a second is refused, exit 1). Held until the command ends.
    int LockPhoneForWriting(const char *command);
    // Before a command changes one contact, appointment or an import's items: such
    // writes are short and scripts run them side by side, so it waits (and says so)
    // up to kPimLockWait for another cebridge's write to end before it is refused.
    int LockPhoneForPimWriting(const std::string &command);
    static constexpr std::chrono::seconds kPimLockWait{60};
    // Prints a failed outcome and gives its exit code.
    int Fail(const Outcome &outcome);
    int FailUsage(const std::string &message);
    // 0 when `check` passed, else its message as `command: ...` with exit 2.
    int FailInput(const char *command, const Outcome &check);
    int FailLocal(const std::string &message, ErrorKind kind = ErrorKind::kPcFile);
    int FailConnect(const std::string &message);
    // An engine's failed outcome: bad input (exit 2) and the PC's failures (exit 3) as
    // `command: ...`, the others as Fail.
    int FailOperation(const char *command, const Outcome &outcome);

    // Data: the table text in table mode, the JSON document in --json mode.
    void Emit(const std::string &tableText, const nlohmann::json &document);
    // As Emit of `head` with the array `key` holding `count` elements made one at a
    // time by `element`: a listing of 100,000 entries is printed without its whole
    // document in memory, byte for byte as Emit would print it.
    void EmitArray(nlohmann::json head, const char *key, size_t count,
                   const std::function<nlohmann::json(size_t)> &element);
    // In table mode (not WantsDocument): the table of `count` rows made by `row`,
    // printed line by line, byte for byte as Emit of its Render.
    void EmitTable(const Table &table, size_t count, const Table::RowMaker &row);
    // Whether Emit prints (or hands over) the document rather than the table.
    bool WantsDocument() const { return captured || options.json; }

    // Around each command: with --json, a command that printed no document of its
    // own gets one for its failure, so every exit prints exactly one.
    void BeginCommand();
    void EndCommand(int exitCode);
    // The kind of the last command's failure (kNone when it did not fail).
    ErrorKind FailureKind() const { return m_failureKind; }
    bool compactJson = false;   // one document per line (batch, shell)
    int batchLine = 0;          // the batch file's line being run, 0 outside a batch
    bool jsonToStderr = false;  // standard output carries a file (get -)
    // When set (cebridge serve), each command's document, its failure document
    // included, lands here instead of on standard output, and nothing is printed.
    nlohmann::json *captured = nullptr;

    Options options;

private:
    std::string Dump(const nlohmann::json &document, int indent) const;
    void Print(const std::string &text);
    int Report(int exitCode, const std::string &message, uint32_t status, ErrorKind kind);
    // A write lock's outcome as the command's exit code.
    int Locked(const char *command, const Outcome &outcome);

    bool m_emitted = false;
    std::string m_failure;
    uint32_t m_failureStatus = 0;
    ErrorKind m_failureKind = ErrorKind::kNone;
};

}  // namespace host

#endif  // CEBRIDGE_HOST_CONTEXT_H

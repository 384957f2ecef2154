// What a long operation of the core tells the front end that runs it, while it runs:
// the command line draws a line on standard error, the web server sends events to its
// pages, a test counts. The core calls a sink on the thread that runs the operation;
// every method does nothing unless the front end overrides it.
//
// Cancelling is the session's: an operation stops at its next step once the flag its
// PhoneSession was made with is set (the link aborts the request in flight), and
// fails with ErrorKind::kInterrupted.
#ifndef CEBRIDGE_HOST_PROGRESS_SINK_H
#define CEBRIDGE_HOST_PROGRESS_SINK_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace host {

// A copy of one or more files.
class TransferSink {
public:
    virtual ~TransferSink() = default;
    // Before the first byte: the bytes and files of the whole copy. `totalBytes`
    // is what the listing said, which is a size modulo 4 GiB for larger files.
    virtual void Begin(uint64_t totalBytes, uint64_t files) { (void)totalBytes, (void)files; }
    // The next file, as the user knows it, before its first byte.
    virtual void StartFile(const std::string &shown) { (void)shown; }
    virtual void Add(uint64_t bytes) { (void)bytes; }
    // After the last byte, or the failure that ended the copy.
    virtual void Finish(bool ok) { (void)ok; }
    // What the user should know that does not stop the copy.
    virtual void Warning(const std::string &text) { (void)text; }
};

// A run over many items (an import's cards or events).
class ItemSink {
public:
    virtual ~ItemSink() = default;
    virtual void Begin(const std::string &label, size_t total) { (void)label, (void)total; }
    virtual void Step() {}  // one more item done
    virtual void End() {}
};

}  // namespace host

#endif  // CEBRIDGE_HOST_PROGRESS_SINK_H

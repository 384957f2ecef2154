// What the fuzz entries share: exact-size heap copies (so any read past an input
// shows under AddressSanitizer), a cursor that splits an input into the small
// choices and the bytes an entry feeds on, a log writer in a private folder, a
// RAPI table whose operations the entry chooses, and a session without its worker.
#ifndef CEBRIDGE_TESTS_FUZZ_SUPPORT_H
#define CEBRIDGE_TESTS_FUZZ_SUPPORT_H

#include <stdlib.h>
#if defined(_WIN32)
#include <process.h>
#endif

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "core/session.h"
#include "heap_copy.h"
#include "platform/platform.h"
#include "support/support.h"

namespace fuzz {

// Reads every byte of a block a parser handed out, so that a block shorter than
// it claims shows under AddressSanitizer.
inline volatile uint8_t g_touched;
inline void Touch(const void *block, size_t size) {
    const auto *bytes = static_cast<const uint8_t *>(block);
    uint8_t sum = 0;
    for (size_t i = 0; i < size; ++i) sum = static_cast<uint8_t>(sum ^ bytes[i]);
    g_touched = sum;
}

// Takes choices off the front of an input; what is left is the payload.
class Cursor {
public:
    Cursor(const uint8_t *data, size_t size) : m_data(data), m_size(size) {}
    uint8_t Byte() { return m_offset < m_size ? m_data[m_offset++] : 0; }
    uint16_t U16() { return static_cast<uint16_t>(Byte() | Byte() << 8); }
    uint32_t U32() { return U16() | static_cast<uint32_t>(U16()) << 16; }
    // The next `count` bytes (fewer at the end) as their own exact-size copy.
    HeapCopy Take(size_t count) {
        const size_t taken = count < Left() ? count : Left();
        HeapCopy copy(m_data + m_offset, taken);
        m_offset += taken;
        return copy;
    }
    HeapCopy Rest() { return Take(Left()); }
    size_t Left() const { return m_size - m_offset; }

private:
    const uint8_t *m_data;
    size_t m_size;
    size_t m_offset = 0;
};

// For its lifetime, the process-wide log goes to a private folder, so that every
// LogLine an entry reaches is formatted and written; the previous log comes back at
// the end. The folder is emptied every few thousand inputs so that a long fuzzing
// run does not fill the disk.
class FuzzLog {
public:
    FuzzLog() : m_previous(Log()) { SetLog(Folder::Get().Writer()); }
    ~FuzzLog() { SetLog(m_previous); }
    FuzzLog(const FuzzLog &) = delete;
    FuzzLog &operator=(const FuzzLog &) = delete;

private:
    class Folder {
    public:
        static Folder &Get() {
            static Folder folder;
            return folder;
        }
        LogWriter *Writer() {
            if (!m_writer || ++m_uses >= 4096) Renew();
            return m_writer.get();
        }

    private:
        // In memory where there is a tmpfs: the log writes through to its file, which
        // on a disk would take most of each input's time.
        Folder() {
#if defined(_WIN32)
            // No mkdtemp on Windows: the process id makes the name unique.
            const std::filesystem::path dir =
                std::filesystem::temp_directory_path() / ("cebridge-fuzz-log-" + std::to_string(_getpid()));
            std::error_code error;
            std::filesystem::create_directories(dir, error);
            if (!error) m_dir = dir.string();
#else
            const char *base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
            std::string pattern = std::string(base) + "/cebridge-fuzz-log-XXXXXX";
            if (mkdtemp(pattern.data()) != nullptr) m_dir = pattern;
#endif
        }
        ~Folder() {
            m_writer.reset();
            std::error_code ignored;
            if (!m_dir.empty()) std::filesystem::remove_all(m_dir, ignored);
        }
        void Renew() {
            m_writer.reset();
            std::error_code ignored;
            for (const auto &entry : std::filesystem::directory_iterator(m_dir, ignored)) {
                std::filesystem::remove(entry.path(), ignored);
            }
            m_writer = std::make_unique<LogWriter>();
            m_writer->Init(m_dir.c_str(), "fuzz", LOG_DETAIL);
            m_uses = 0;
        }

        std::string m_dir;
        std::unique_ptr<LogWriter> m_writer;
        uint32_t m_uses = 0;
    };

    LogWriter *m_previous;
};

// One session for the whole run, its worker ended, for entries whose handlers run on
// the fuzzing thread and leave nothing behind that the next input reads: starting
// and ending a worker thread per input took most of each input's time.
inline DeviceSession &StoppedSession() {
    static DeviceSession *const session = [] {
        auto *made = new DeviceSession;
        made->Stop();
        return made;
    }();
    return *session;
}

// Rapi() answers with stand-ins (every operation fails cleanly) plus whatever the
// entry sets, for the scope's lifetime.
class ScopedRapi {
public:
    ScopedRapi() : m_table(platform::LoadRapiTable(nullptr, nullptr)) {}
    ~ScopedRapi() { platform::OverrideRapiForTests(nullptr); }
    ScopedRapi(const ScopedRapi &) = delete;
    ScopedRapi &operator=(const ScopedRapi &) = delete;
    platform::RapiTable &table() { return m_table; }
    void Install() { platform::OverrideRapiForTests(&m_table); }

private:
    platform::RapiTable m_table;
};

}  // namespace fuzz

#endif  // CEBRIDGE_TESTS_FUZZ_SUPPORT_H

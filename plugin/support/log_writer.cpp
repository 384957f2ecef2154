// The daily log file. Every line is formatted outside the lock, then one lock covers
// the day check, the switch to a new file and the single write, so lines from the
// agent's thread and the worker never interleave and never race on the switch.
#include "support/support.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/platform.h"

namespace {

constexpr size_t kFieldSize = 1024;    // directory and base name, terminator included
constexpr size_t kMessageSize = 1025;  // 1024 characters and the terminator
constexpr size_t kLineSize = 4196;
// The stamp takes at most 7 numbers of 5 digits and 9 separators; then the message.
static_assert(kLineSize >= 7 * 5 + 9 + kMessageSize + 2, "a log line always fits");
constexpr size_t kFileNameSize = 2 * kFieldSize + 32;
constexpr intptr_t kNoFile = -1;

void CopyField(char (&field)[kFieldSize], const char *text) {
    std::snprintf(field, sizeof field, "%s", text != nullptr ? text : "");
}

bool SameDay(const platform::SystemTime &a, const platform::SystemTime &b) {
    return a.year == b.year && a.month == b.month && a.day == b.day;
}

std::atomic<LogWriter *> g_processLog{nullptr};

// `value` in decimal, zero-padded to `width` digits (more when it needs them).
char *PutDigits(char *out, unsigned value, int width) {
    char digits[10];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (int pad = width - count; pad > 0; --pad) *out++ = '0';
    while (count > 0) *out++ = digits[--count];
    return out;
}

char *PutText(char *out, const char *text, size_t length) {
    std::memcpy(out, text, length);
    return out + length;
}

// "YYYY:MM:DD hh:mm:ss.mmm] message\r\n" into `line` (kLineSize bytes, room for the
// longest message); returns its length. Composed by hand: a download writes two
// lines per chunk, and a general formatter took more than half of their user time.
size_t ComposeLine(char *line, const platform::SystemTime &now, unsigned milliseconds, const char *message) {
    char *out = PutDigits(line, now.year, 4);
    *out++ = ':';
    out = PutDigits(out, now.month, 2);
    *out++ = ':';
    out = PutDigits(out, now.day, 2);
    *out++ = ' ';
    out = PutDigits(out, now.hour, 2);
    *out++ = ':';
    out = PutDigits(out, now.minute, 2);
    *out++ = ':';
    out = PutDigits(out, now.second, 2);
    *out++ = '.';
    out = PutDigits(out, milliseconds, 3);
    out = PutText(out, "] ", 2);
    out = PutText(out, message, std::strlen(message));
    out = PutText(out, "\r\n", 2);
    return static_cast<size_t>(out - line);
}

}  // namespace

struct LogWriter::State {
    std::mutex lock;
    char directory[kFieldSize] = {};
    char baseName[kFieldSize] = {};
    uint32_t threshold = 0;
    platform::SystemTime fileDay{};  // the date of the open file
    intptr_t file = kNoFile;
    std::atomic<LogWriter::Clock> clock{nullptr};

    platform::SystemTime Now() const {
        Clock testClock = clock.load();
        return testClock != nullptr ? testClock() : platform::LocalNow();
    }

    // With the lock held: makes sure the file of `today` is open.
    void OpenFileFor(const platform::SystemTime &today) {
        if (file != kNoFile && SameDay(fileDay, today)) return;
        platform::CloseFile(file);
        char fileName[kFileNameSize];
        FileNameFor(directory, baseName, today, fileName, sizeof fileName);
        file = platform::OpenWriteThroughAppend(fileName);
        fileDay = today;
    }
};

LogWriter::LogWriter() : m_state(new State) {}

LogWriter::~LogWriter() {
    platform::CloseFile(m_state->file);
    delete m_state;
}

void LogWriter::Init(const char *directory, const char *baseName, uint32_t threshold) {
    std::lock_guard<std::mutex> guard(m_state->lock);
    CopyField(m_state->directory, directory);
    CopyField(m_state->baseName, baseName);
    m_state->threshold = threshold;
    // A new place takes effect with the next line.
    platform::CloseFile(m_state->file);
    m_state->file = kNoFile;
    if (m_state->directory[0] != '\0') platform::CreateOneDirectory(m_state->directory);
}

void LogWriter::SetClock(Clock clock) { m_state->clock.store(clock); }

void LogWriter::Write(uint32_t level, const char *format, ...) {
    va_list arguments;
    va_start(arguments, format);
    WriteV(level, format, arguments);
    va_end(arguments);
}

void LogWriter::WriteV(uint32_t level, const char *format, va_list arguments) {
    {
        std::lock_guard<std::mutex> guard(m_state->lock);
        if (level > m_state->threshold) return;
    }
    char message[kMessageSize];
    FormatWsprintf(message, sizeof message, format, arguments);

    std::lock_guard<std::mutex> guard(m_state->lock);
    const platform::SystemTime now = m_state->Now();
    m_state->OpenFileFor(now);
    if (m_state->file == kNoFile) return;  // lost; the next line tries to open again
    char line[kLineSize];
    const size_t length = ComposeLine(line, now, platform::TickCountMs() % 1000, message);
    platform::WriteAll(m_state->file, line, length);
}

void LogWriter::FileNameFor(const char *directory, const char *baseName, const platform::SystemTime &now, char *out,
                            size_t outSize) {
    if (out == nullptr || outSize == 0) return;
    int length =
        std::snprintf(out, outSize, "%s\\%s_%04d%02d%02d.log", directory, baseName, now.year, now.month, now.day);
    // A name that does not fit is refused whole rather than cut to another file's name.
    if (length < 0 || static_cast<size_t>(length) >= outSize) out[0] = '\0';
}

LogWriter *Log() { return g_processLog.load(); }

void SetLog(LogWriter *writer) { g_processLog.store(writer); }

void LogLine(uint32_t level, const char *format, ...) {
    LogWriter *writer = Log();
    if (writer == nullptr) return;
    va_list arguments;
    va_start(arguments, format);
    writer->WriteV(level, format, arguments);
    va_end(arguments);
}

// Support: the plug-in's one general container (PtrArray) and the process-wide log
// writer (LogWriter). Nothing here includes core/, pim/, files/ or xml/.
#ifndef CEBRIDGE_SUPPORT_H
#define CEBRIDGE_SUPPORT_H

#include <cstdarg>
#include <cstddef>
#include <cstdint>

namespace platform {
struct SystemTime;
}

// A growable array of pointers that owns its storage, not the pointees.
// Capacity grows as the agent platform's container grows: by the grow step, or when
// that is 0 by size / 8 bounded to 4..1024.
class PtrArray {
public:
    PtrArray() = default;
    ~PtrArray();
    PtrArray(const PtrArray &) = delete;
    PtrArray &operator=(const PtrArray &) = delete;

    void SetSize(int32_t newSize, int32_t growBy = -1);
    int32_t GetSize() const { return m_size; }
    int32_t GetCapacity() const { return m_capacity; }
    void *GetAt(int32_t index) const;
    int32_t Add(void *element);
    void SetAtGrow(int32_t index, void *element);
    void RemoveAt(int32_t index, int32_t count = 1);
    void RemoveAll();
    void FreeData();

private:
    void **m_data = nullptr;
    int32_t m_size = 0;
    int32_t m_capacity = 0;
    int32_t m_growBy = 0;
};

// Log levels the plug-in writes at.
// The compiler checks log formats as printf formats: GCC's gnu_printf on every
// target (mingw's plain printf being the Windows runtime's own dialect), clang's
// printf, which is the same dialect.
#if defined(__clang__)
#define CEBRIDGE_LOG_FORMAT(formatIndex, firstArgument) __attribute__((format(printf, formatIndex, firstArgument)))
#elif defined(__GNUC__)
#define CEBRIDGE_LOG_FORMAT(formatIndex, firstArgument) __attribute__((format(gnu_printf, formatIndex, firstArgument)))
#else
#define CEBRIDGE_LOG_FORMAT(formatIndex, firstArgument)
#endif

enum LogLevel : uint32_t { LOG_FAULT = 2, LOG_TRACE = 4, LOG_DETAIL = 5 };

// One log file per local day, "<dir>\<base>_YYYYMMDD.log", every line written
// through to disk. Safe to use from several threads: lines never interleave and
// the daily switch does not race.
class LogWriter {
public:
    LogWriter();
    ~LogWriter();
    LogWriter(const LogWriter &) = delete;
    LogWriter &operator=(const LogWriter &) = delete;

    void Init(const char *directory, const char *baseName, uint32_t threshold);
    // `format` uses the wsprintf notation: %d %u %x %X %s %c %ld %lu %lx, widths, '-'
    // and zero padding; 64-bit values as %llu and %lld (wsprintf's %I64u and %I64d,
    // which the compiler cannot check, are read the same way). The compiler checks
    // every format against its arguments. The message is cut to 1024 characters.
    void Write(uint32_t level, const char *format, ...) CEBRIDGE_LOG_FORMAT(3, 4);
    void WriteV(uint32_t level, const char *format, va_list arguments);

    // For tests: the clock that stamps the lines and picks the day's file; null
    // restores the PC's local time.
    using Clock = platform::SystemTime (*)();
    void SetClock(Clock clock);

    // For tests: the file name that a line written at `now` goes to.
    static void FileNameFor(const char *directory, const char *baseName, const platform::SystemTime &now, char *out,
                            size_t outSize);

private:
    struct State;
    State *m_state;
};

// Formats `format` with wsprintf notation into `out` (at most `outSize` - 1
// characters, always terminated); returns the number of characters written.
int FormatWsprintf(char *out, size_t outSize, const char *format, va_list arguments);

// The process-wide log writer, created by the first SE_Initialize; null before.
LogWriter *Log();
void SetLog(LogWriter *writer);

// Writes to the process-wide log when there is one.
// `format` is in wsprintf notation (see LogWriter::Write).
void LogLine(uint32_t level, const char *format, ...) CEBRIDGE_LOG_FORMAT(2, 3);

#endif  // CEBRIDGE_SUPPORT_H

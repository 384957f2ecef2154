// Captures what the plug-in logs during one test: a fresh log writer in a temp
// folder, installed as the process-wide log for the capture's lifetime.
#ifndef CEBRIDGE_TESTS_UNIT_CORE_LOG_CAPTURE_H
#define CEBRIDGE_TESTS_UNIT_CORE_LOG_CAPTURE_H

#include <filesystem>
#include <string>
#include <vector>

#include "support/phone_copy.h"
#include "support/support.h"

class LogCapture {
public:
    LogCapture() : m_previous(Log()) {
        m_writer.Init(m_dir.str().c_str(), "core", LOG_DETAIL);
        SetLog(&m_writer);
    }
    ~LogCapture() { SetLog(m_previous); }

    // The messages written so far, stamps taken off, in order.
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        for (const auto &entry : std::filesystem::directory_iterator(m_dir.path())) {
            std::string text = ReadFileText(entry.path());
            size_t start = 0;
            while (start < text.size()) {
                size_t end = text.find("\r\n", start);
                if (end == std::string::npos) end = text.size();
                std::string line = text.substr(start, end - start);
                size_t stamp = line.find("] ");
                lines.push_back(stamp == std::string::npos ? line : line.substr(stamp + 2));
                start = end + 2;
            }
        }
        return lines;
    }

    bool Contains(const std::string &message) const {
        for (const std::string &line : Lines())
            if (line == message) return true;
        return false;
    }

private:
    TempDir m_dir;
    LogWriter m_writer;
    LogWriter *m_previous;
};

#endif  // CEBRIDGE_TESTS_UNIT_CORE_LOG_CAPTURE_H

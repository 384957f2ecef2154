// Helpers for tests of the OS seam: a scratch folder removed at the end, and an
// environment variable set for one test and restored afterwards.
#ifndef CEBRIDGE_TESTS_UNIT_PLATFORM_TEST_ENV_H
#define CEBRIDGE_TESTS_UNIT_PLATFORM_TEST_ENV_H

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>

namespace testenv {

class ScratchDir {
public:
    // `inMemory`: on a memory file system where there is one, for tests whose many
    // write-through lines would otherwise wait for the disk each time.
    explicit ScratchDir(bool inMemory = false) {
        std::error_code ignored;
        const std::filesystem::path memory = "/dev/shm";
        const std::filesystem::path base = inMemory && std::filesystem::is_directory(memory, ignored)
                                               ? memory
                                               : std::filesystem::temp_directory_path();
        std::random_device random;
        for (int attempt = 0; attempt < 100 && m_path.empty(); ++attempt) {
            auto candidate = base / ("cebridge-platform-" + std::to_string(random()));
            std::error_code error;
            if (std::filesystem::create_directory(candidate, error)) m_path = candidate.generic_string();
        }
    }
    ~ScratchDir() {
        std::error_code ignored;
        if (!m_path.empty()) std::filesystem::remove_all(m_path, ignored);
    }
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;
    const std::string &Path() const { return m_path; }
    std::string operator/(const std::string &name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Sets (or with nullopt removes) a variable; TZ changes are applied with tzset.
class ScopedEnv {
public:
    ScopedEnv(const char *name, std::optional<std::string> value) : m_name(name) {
        if (const char *old = std::getenv(name)) m_old = old;
        Apply(value);
    }
    ~ScopedEnv() { Apply(m_old); }
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    void Apply(const std::optional<std::string> &value) {
#ifdef _WIN32
        _putenv_s(m_name.c_str(), value ? value->c_str() : "");
        if (m_name == "TZ") _tzset();
#else
        if (value)
            setenv(m_name.c_str(), value->c_str(), 1);
        else
            unsetenv(m_name.c_str());
        if (m_name == "TZ") tzset();
#endif
    }
    std::string m_name;
    std::optional<std::string> m_old;
};

inline std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace testenv

#endif

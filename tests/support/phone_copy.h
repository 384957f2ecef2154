// Disposable phones and folders for tests.
//
//   PhoneCopy phone;                     // a private copy of data/phones/demo
//   phone.EditDevice([](nlohmann::json &d) { d["link"]["neverUp"] = true; });
//   TestAgent agent; ...                 // the plug-in now talks to that copy
//
// A PhoneCopy points the environment at itself for its lifetime: CEBRIDGE_DEVICE at
// the copy, CEBRIDGE_RAPI at the built emulator and CEBRIDGE_REGISTRY at a fresh PC
// registry file whose SAPATH names the source tree's data/dtd. The previous values
// come back when it is destroyed, and every file it made is removed. On Windows the
// PC registry is the real one: the agent's key there is set, and restored at the end.
#ifndef CEBRIDGE_TESTS_PHONE_COPY_H
#define CEBRIDGE_TESTS_PHONE_COPY_H

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/windows_registry.h"

#if !defined(_WIN32)
// Where the tests' folders go: memory (/dev/shm) where it has room, else the system's
// temporary folder. The plug-in writes its log through line by line, and on a busy
// disk each line waits for it.
std::filesystem::path ScratchBase();
#endif

// A fresh empty folder (in ScratchBase), removed with everything in it at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::filesystem::path &path() const { return m_path; }
    std::string str() const { return m_path.string(); }

private:
    std::filesystem::path m_path;
};

// Sets an environment variable for a scope and restores the previous state.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const std::string &value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_previous;
};

// The shipped demo phone image.
std::filesystem::path DemoPhoneSource();
// The DTD folder of the source tree.
std::filesystem::path DtdSource();

class PhoneCopy {
public:
    PhoneCopy();  // copies the demo phone
    explicit PhoneCopy(const std::filesystem::path &source);
    ~PhoneCopy();
    PhoneCopy(const PhoneCopy &) = delete;
    PhoneCopy &operator=(const PhoneCopy &) = delete;

    // The phone image folder (CEBRIDGE_DEVICE).
    const std::filesystem::path &path() const { return m_imagePath; }
    // The device file system root ("\" on the phone).
    std::filesystem::path fs() const { return m_imagePath / "fs"; }
    // The PC registry file (CEBRIDGE_REGISTRY).
    const std::filesystem::path &registryFile() const { return m_registryFile; }

    // Rewrites the image's device.json through `edit`; the emulator reads it again
    // at every CeRapiInitEx, so the change applies from the next link on.
    void EditDevice(const std::function<void(nlohmann::json &)> &edit);
    nlohmann::json ReadDevice() const;
    // The volume `leaf` ("pim.vol") as the phone holds it: its file with the whole
    // lines of its journal applied (docs/device-image.md, "The journal").
    nlohmann::json ReadVolume(const std::string &leaf) const;

    // Replaces the PC registry file with the agent's key holding the given SAPATH,
    // or no value at all (nullopt), and the `more` string values; RemoveRegistry
    // deletes the file.
    void WriteRegistry(const std::optional<std::string> &saPath,
                       const std::vector<std::pair<std::string, std::string>> &more = {});
    void RemoveRegistry();
    std::string ReadRegistry() const;

private:
#if defined(_WIN32)
    // Windows keeps the agent's key in the real registry: it is put back at the end.
    std::unique_ptr<windows_registry::KeySnapshot> m_agentKey;
#endif
    TempDir m_imageDir;
    TempDir m_pcDir;
    std::filesystem::path m_imagePath;
    std::filesystem::path m_registryFile;
    std::vector<std::unique_ptr<ScopedEnv>> m_env;
};

// The volume `leaf` of the phone image folder `image`, as PhoneCopy::ReadVolume reads it.
nlohmann::json ReadImageVolume(const std::filesystem::path &image, const std::string &leaf);

// The text of a PC registry file holding one key with the given string values.
std::string RegistryFileText(const std::string &keyPath,
                             const std::vector<std::pair<std::string, std::string>> &values);

// A path from UTF-8 text on every system (on Windows a plain char string would be
// read in the ANSI code page).
inline std::filesystem::path Utf8Path(const std::string &utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// A terminated UTF-16 text (WCHAR on every system; null reads as empty).
template <typename Char>
std::u16string U16Text(const Char *text) {
    std::u16string result;
    for (; text != nullptr && *text != 0; ++text) result.push_back(static_cast<char16_t>(*text));
    return result;
}

// Reads a whole file ("" when it cannot be read).
std::string ReadFileText(const std::filesystem::path &path);
void WriteFileText(const std::filesystem::path &path, const std::string &text);

#endif  // CEBRIDGE_TESTS_PHONE_COPY_H

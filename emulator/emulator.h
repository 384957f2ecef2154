/*
 * The emulated phone's internal contract: what every part of libceemu shares.
 *
 * Every exported RAPI operation runs under one device lock (a recursive mutex), so
 * the phone serves one call at a time, as a real link does. Helpers below may be
 * called from any export, including from TobrannInvoke while CeRapiInvoke holds
 * the lock.
 *
 * Host paths are UTF-8 std::string; device text is UTF-16 (std::u16string).
 */
#ifndef CEEMU_EMULATOR_H
#define CEEMU_EMULATOR_H

#include <cebridge/rapi.h>

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>

#include <nlohmann/json.hpp>

namespace ceemu {

// --- the phone image ---------------------------------------------------------
// The open phone image folder (CEBRIDGE_DEVICE, or the per-user copy of the demo).
std::string ImageRoot();
// The image's device.json as last loaded (reloaded at every CeRapiInitEx). An
// empty object when the file is missing or unreadable.
const nlohmann::json &DeviceConfig();
// Writes a whole file by writing a sibling temporary and renaming it over `path`,
// so a crash never leaves a torn file. Creates missing parent folders. False on failure.
bool WriteFileReplacing(const std::string &path, const std::string &bytes);
// Appends `bytes` to the file (created when missing) once it is cut back to `size`
// bytes, dropping what a crash left half-written past them, and waits until they
// are on disk. False on failure, with the file cut back to `size`.
bool AppendFileDurably(const std::string &path, uint64_t size, const std::string &bytes);

// Serialises changes to the image across processes (two agents may drive one
// phone): an exclusive lock on <image>/.ceemu.lock for the object's lifetime. Held
// around every database server call and every write of the emulator's own files
// that reads what it replaces. Not nested.
class ImageLock {
public:
    ImageLock();
    ~ImageLock();
    ImageLock(const ImageLock &) = delete;
    ImageLock &operator=(const ImageLock &) = delete;

private:
#if defined(_WIN32)
    void *m_file = nullptr;
#else
    int m_fd = -1;
#endif
};

// --- calls and errors ----------------------------------------------------------
// Counts one call of `operation` and says whether device.json's "faults" make this
// call fail; then *error is the error to report (and a "linkDrop" fault has ended
// the link). The exports count their own RAPI names (CeRapiInvoke counts as
// "CeRapiInvoke"); the database server counts its DevCe... function names. Counters
// restart when the phone or its device.json changes, or a test sets its own faults.
bool InjectedFault(const char *operation, uint32_t *error);
// What CeGetLastError reports next on the calling thread.
void SetDeviceError(uint32_t code);
// A link stands: CeRapiInitEx succeeded, its attempt finished with success, and
// CeRapiUninit has not ended it.
bool LinkUp();

// The lock every export holds while it runs.
std::recursive_mutex &DeviceLock();

// --- text and paths --------------------------------------------------------------
std::u16string WideText(const WCHAR *text);     // NUL-terminated device text
std::string Utf8(const std::u16string &text);   // invalid surrogates become U+FFFD
std::u16string Utf16(const std::string &utf8);  // invalid bytes become U+FFFD
std::filesystem::path HostPath(const std::string &utf8);
std::string PathText(const std::filesystem::path &path);  // UTF-8

// --- the device-side database server (emulator/tobrann.h) ----------------------------
// Runs one DevCe... function for CeRapiInvoke(L"Tobrann", function, ...). *output is
// allocated with malloc (LocalAlloc on Windows) or left null; the result is the
// device function's 32-bit result.
HRESULT TobrannInvoke(const std::u16string &function, DWORD cbInput, const BYTE *input, DWORD *cbOutput, BYTE **output);
// The link ended: the server forgets its mounts and handles, as the phone forgets
// the file handles.
void EndTobrannLink();

}  // namespace ceemu

#endif  // CEEMU_EMULATOR_H

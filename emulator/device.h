// Internals shared by the emulator's own files (not by the database server).
#ifndef CEEMU_DEVICE_H
#define CEEMU_DEVICE_H

#include "emulator.h"

#include <memory>
#include <optional>
#include <vector>

namespace ceemu {

// Device error codes beyond the ones rapi.h names.
constexpr uint32_t kErrorInvalidData = 13;
constexpr uint32_t kErrorOutOfMemory = 14;
constexpr uint32_t kErrorSharingViolation = 32;
constexpr uint32_t kErrorFileExists = 80;
constexpr uint32_t kErrorInvalidName = 123;
constexpr uint32_t kErrorFilenameTooLong = 206;
constexpr uint32_t kErrorDeviceNotConnected = 1167;
constexpr uint32_t kErrorInternal = 1359;

// Thrown inside an operation to make it fail with a device error; the export
// wrapper turns it into the operation's failure result. Never leaves the library.
struct DeviceError {
    uint32_t code;
};
[[noreturn]] inline void Fail(uint32_t code) { throw DeviceError{code}; }

// --- image ---------------------------------------------------------------------------
// Reads CEBRIDGE_DEVICE, device.json and the registry again. Fault counters restart
// when the phone or its device.json changed since the last load. An image that is
// missing, unreadable or corrupt is no phone: the result then names the device
// error and why, and the link is refused.
struct ImageFault {
    uint32_t code = 0;
    std::string reason;
};
std::optional<ImageFault> LoadImage();
void ResetFaultCounters();
// The test hooks (ceemu_test_hooks.h): a fault list that replaces device.json's
// (null: none; false for text that is not a JSON array) and the call trace.
bool SetTestFaults(const char *faults);
void TraceCalls(bool record);                       // true: start afresh; false: stop and forget
std::string TracedCalls();                          // one name per line, in call order
std::filesystem::path ImagePath(const char *name);  // a file of the image, e.g. "device.json"
// A number from device.json: a JSON number, or text in decimal or "0x" hexadecimal.
std::optional<uint64_t> ConfigNumber(const nlohmann::json &object, const char *key);
bool ConfigFlag(const nlohmann::json &object, const char *key);

// --- link ----------------------------------------------------------------------------
HRESULT StartLink(RAPIINIT *init);
void EndLink();   // closes the descriptors and every handle
void DropLink();  // the link falls (an injected "linkDrop" fault); handles stay until CeRapiUninit
// A test hook: every attempt still pending comes up now.
void BringLinkUp();
HRESULT LinkDownError();
// Per thread: the link-level result of the previous call (0: it reached the phone).
void SetLinkError(HRESULT error);
HRESULT LinkError();
uint32_t DeviceErrorCode();

// --- handles -------------------------------------------------------------------------
// One table for every handle the phone gives out (files, searches, processes,
// registry keys). Values are small multiples of 4, never null or INVALID_HANDLE_VALUE.
struct HandleObject {
    virtual ~HandleObject() = default;
    // Searches end with CeFindClose and registry keys with CeRegCloseKey instead.
    virtual bool ClosedByCloseHandle() const { return true; }
};
HANDLE AddHandle(std::unique_ptr<HandleObject> object);
HandleObject *LookUpHandle(HANDLE handle);
bool RemoveHandle(HANDLE handle);
void CloseAllHandles();
std::vector<HandleObject *> AllHandles();

// The object behind a handle if it is of type T.
template <typename T>
T *FindHandle(HANDLE handle) {
    return dynamic_cast<T *>(LookUpHandle(handle));
}

// Buffers handed out for CeRapiFreeBuffer.
void *AllocateBuffer(size_t bytes);
bool FreeBuffer(void *buffer);

// --- device paths ----------------------------------------------------------------------
// A device path split into its folder names; '\' and '/' both separate, a leading
// separator is optional (the phone has no current folder).
struct DevicePath {
    std::vector<std::u16string> parts;
    bool trailingSeparator = false;
};
DevicePath ParseDevicePath(const std::u16string &text);  // fails 87/123/206
// Resolves each part on the host, matching letter case loosely as the phone does.
// Returns the host path of an existing item, or nullopt when the last part is missing;
// fails 3 when a folder on the way is missing.
std::optional<std::filesystem::path> ResolveExisting(const DevicePath &path);
// The host folder that holds the last part (which may not exist yet); fails 3.
std::filesystem::path ResolveParent(const DevicePath &path);
std::filesystem::path FsRoot();
bool NamesEqual(const std::u16string &a, const std::u16string &b);  // case-insensitive
// The phone's listing order: by name, letter case folded.
bool NameBefore(const std::u16string &a, const std::u16string &b);
bool WildcardMatch(const std::u16string &pattern, const std::u16string &name);

// --- stores ------------------------------------------------------------------------------
struct SpaceFigures {
    uint64_t freeToCaller = 0;
    uint64_t total = 0;
    uint64_t totalFree = 0;
};
// The figures of the store that holds a device path (the object store unless its
// first folder is a store named in device.json).
// Free figures shrink as files grow through the phone while a link stands.
SpaceFigures SpaceFor(const DevicePath &path);
void AccountSpace(const DevicePath &path, int64_t bytes);  // growth (or, negative, bytes given back)
// The same by the store's key, found once for a path ("" for the object store), for
// an open file that writes many times into one store.
std::string StoreKeyFor(const DevicePath &path);
SpaceFigures SpaceOfStore(const std::string &key);
void AccountStoreSpace(const std::string &key, int64_t bytes);
void ResetSpaceAccount();  // at every link start
bool IsMountedStoreRoot(const std::u16string &rootFolderName);

// --- registry -----------------------------------------------------------------------------
void LoadRegistry();

}  // namespace ceemu

#endif  // CEEMU_DEVICE_H

// The installed-packages listing: the maker's package key on the phone holds the
// identifier and version of one installed application.
#include <cstring>

#include "core/session.h"
#include "files/files.h"
#include "xml/xml.h"

namespace {

constexpr WCHAR kPackageKey[] = CE_TEXT("Software\\Morvane\\Package");
constexpr DWORD kValueBufferBytes = 256;  // 128 wide characters
constexpr uint32_t kPackageContentKind = 0x20;

HKEY OpenPackageKey() {
    HKEY key = nullptr;
    if (platform::Rapi().CeRegOpenKeyEx(HKEY_LOCAL_MACHINE, kPackageKey, 0, 0, &key) != 0 || !key) {
        LogLine(LOG_TRACE, "CAN FOUND REGISTRY!!!!!!!!!!!!!!!");
        return nullptr;
    }
    return key;
}

// Reads a string value into `out` (ANSI code page, at most 255 bytes and a NUL).
// The device's byte count is checked against the read buffer, and the text is
// taken only up to its first NUL or the end of what was read.
bool ReadPackageValue(HKEY key, const WCHAR *name, char (&out)[256]) {
    if (!key) return false;
    WCHAR value[kValueBufferBytes / sizeof(WCHAR) + 1] = {};
    DWORD type = 0;
    DWORD bytes = kValueBufferBytes;
    if (platform::Rapi().CeRegQueryValueEx(key, name, nullptr, &type, reinterpret_cast<BYTE *>(value), &bytes) != 0)
        return false;
    if (type != REG_SZ || bytes > kValueBufferBytes) return false;
    value[bytes / sizeof(WCHAR)] = 0;
    const std::string narrow = platform::WideToAnsiBounded(value, sizeof out - 1);
    std::memcpy(out, narrow.c_str(), narrow.size() + 1);
    return true;
}

void ClosePackageKey(HKEY key) {
    if (key) platform::Rapi().CeRegCloseKey(key);
}

}  // namespace

void DeviceSession::GetPackageList(const char *) {
    PackageInfo package{};
    HKEY key = OpenPackageKey();
    if (!ReadPackageValue(key, CE_TEXT("AID"), package.applicationId)) LogLine(LOG_TRACE, "AID OUT OF SIZE");
    ClosePackageKey(key);

    key = OpenPackageKey();
    if (!ReadPackageValue(key, CE_TEXT("VERSION"), package.version)) {
        LogLine(LOG_TRACE, "VERSION OUT OF SIZE[%d]", int(platform::Rapi().CeGetLastError()));
    }
    LogLine(LOG_TRACE, "AID[%s] VER[%s]", package.applicationId, package.version);
    ClosePackageKey(key);

    XmlTree tree(0xffff, true);
    tree.create();
    if (tree.document().empty()) return;
    XmlNodeRef root = StartContentsListing(tree);
    if (package.applicationId[0] != '\0' && package.version[0] != '\0') {
        AppendContent(root, &package, kPackageContentKind);
    }
    AgentPacket *answer = CopyOfLastRequest();
    if (answer) {
        answer->command = CMD_GET;
        answer->subCommand = SUB_GET_SVC;
        XmlResponse(tree.document(), answer, DTD_CONTENTS_LISTING);
    }
    tree.clear();
}

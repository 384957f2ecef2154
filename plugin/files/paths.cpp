// Device paths composed from the current folder, and the helpers every file
// operation shares: name checks, the listing's time text, transfer answers.
#include "files/files.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "core/session.h"
#include "platform/platform.h"
#include "support/support.h"

namespace files {

namespace {

bool CopyIfFits(const std::string &path, char *out, size_t outSize) {
    if (outSize == 0) return false;
    out[0] = '\0';
    if (path.size() + 1 > outSize) return false;
    std::memcpy(out, path.c_str(), path.size() + 1);
    return true;
}

}  // namespace

bool ComposeDevicePath(const PtrArray *folders, const char *name, bool leadingSeparator, char *out, size_t outSize) {
    std::string path;
    const int32_t count = folders ? folders->GetSize() : 0;
    for (int32_t i = 0; i < count; ++i) {
        const char *folder = static_cast<const char *>(folders->GetAt(i));
        if (leadingSeparator) path += '\\';
        path += folder ? folder : "";
        if (!leadingSeparator) path += '\\';
    }
    if (leadingSeparator) path += '\\';
    path += name ? name : "";
    return CopyIfFits(path, out, outSize);
}

bool IsPlainName(const char *name, bool allowEmpty) {
    if (!name) return false;
    if (name[0] == '\0') return allowEmpty;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return false;
    return std::strpbrk(name, "\\/*?") == nullptr;
}

void LowerAscii(char *text) {
    for (; *text; ++text) {
        if (*text >= 'A' && *text <= 'Z') *text = static_cast<char>(*text - 'A' + 'a');
    }
}

std::string FormatListingTime(uint64_t fileTime) {
    platform::SystemTime local{};
    if (!platform::FileTimeToLocalSystemTime(fileTime, &local)) local = platform::SystemTime{};
    char text[64];
    std::snprintf(text, sizeof text, "%04d%02d%02dT%02d%02d%02dZ", local.year, local.month, local.day, local.hour,
                  local.minute, local.second);
    return text;
}

bool SendTransferProgress(DeviceSession &session, uint64_t bytes) {
    AgentPacket *progress = session.CopyOfLastRequest();
    if (!progress) return true;  // out of memory: the report is skipped, the copy goes on
    if (session.m_nAbort.load() != 0) {
        FreePacket(progress);
        return false;
    }
    const std::string digits = std::to_string(bytes);
    if (!SetSingleParameterBody(progress, PAR_LENGTH, digits.data(), static_cast<uint32_t>(digits.size()))) {
        FreePacket(progress);
        return true;
    }
    progress->nStatus = ST_CONTINUE;
    session.HandToAgent(progress);
    return true;
}

}  // namespace files

bool DeviceSession::ComposeFolderPath(char *out, size_t outSize) const {
    if (!files::ComposeDevicePath(m_pFbsFolderList, "", true, out, outSize)) return false;
    out[std::strlen(out) - 1] = '\0';  // the folder path has no final '\'
    return true;
}

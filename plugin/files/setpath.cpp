// Folder browsing: CMD_SETPATH moves the session's current device folder into a
// child, up to the parent or back to the root. The current folder is the list of
// folder names below the root, m_pFbsFolderList.
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/session.h"
#include "files/files.h"

namespace {

void CopyValue(char *field, size_t fieldSize, const uint8_t *value, uint32_t length, bool *cut) {
    const size_t copied = length < fieldSize ? length : fieldSize - 1;
    std::memcpy(field, value, copied);
    field[copied] = '\0';
    if (cut) *cut = copied < length;
}

bool IsFolder(const CE_FIND_DATA &entry) { return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }

// The device's answer to the probe: whether it has an entry at `path`, and that entry.
bool ProbeDevice(const char *path, CE_FIND_DATA *entry) {
    const platform::WideString widePath = platform::AnsiToWide(path);
    std::memset(entry, 0, sizeof *entry);
    HANDLE search = platform::Rapi().CeFindFirstFile(widePath.c_str(), entry);
    if (search == INVALID_HANDLE_VALUE || search == nullptr) return false;
    platform::Rapi().CeFindClose(search);
    return true;
}

// The entry's name as narrow text; cFileName is not trusted to be terminated.
std::string EntryName(const CE_FIND_DATA &entry) {
    WCHAR name[CE_MAX_PATH + 1];
    std::memcpy(name, entry.cFileName, sizeof entry.cFileName);
    name[CE_MAX_PATH] = 0;
    return platform::WideToAnsi(name);
}

bool CanBeFolderName(const char *name) {
    for (const char *c = name; *c; ++c) {
        if (static_cast<unsigned char>(*c) < 0x20) return false;
    }
    return files::IsPlainName(name, true);
}

void ReleaseFolderEntry(PtrArray &folders, int32_t index) {
    std::free(folders.GetAt(index));
    folders.RemoveAt(index);
}

void ReleaseAllFolderEntries(PtrArray &folders) {
    for (int32_t i = folders.GetSize() - 1; i >= 0; --i) ReleaseFolderEntry(folders, i);
}

}  // namespace

bool DeviceSession::ParseSetPath(const uint8_t *body, uint32_t bodyLength, SetPathParams *params) {
    LogLine(LOG_TRACE, "parse SETPATH Info %d: body length", bodyLength);
    if (!body) {
        LogLine(LOG_TRACE, "Parse SETPATH pBody is NULL");
        AnswerLastRequest(ST_BAD_REQUEST, false);
        return false;
    }
    uint32_t position = 0;
    while (position < bodyLength) {
        if (bodyLength - position < AGENT_PARAM_HEADER_SIZE) {
            LogLine(LOG_TRACE, "Parse SETPATH pBody is broken at %d", position);
            AnswerLastRequest(ST_BAD_REQUEST, false);
            return false;
        }
        const uint8_t code = body[position];
        const uint32_t length =
            static_cast<uint32_t>(body[position + 1]) | (static_cast<uint32_t>(body[position + 2]) << 8) |
            (static_cast<uint32_t>(body[position + 3]) << 16) | (static_cast<uint32_t>(body[position + 4]) << 24);
        const uint32_t valueAt = position + AGENT_PARAM_HEADER_SIZE;
        LogLine(LOG_TRACE, "nParamSize:%d", length);
        LogLine(LOG_TRACE, "Parsing");
        if (length > bodyLength - valueAt) {  // a value running past the body is not read
            LogLine(LOG_TRACE, "Parse SETPATH pBody is broken at %d", position);
            AnswerLastRequest(ST_BAD_REQUEST, false);
            return false;
        }
        const uint8_t *value = body + valueAt;
        switch (code) {
        case PAR_NAME:
            LogLine(LOG_TRACE, "PAR_NAME %d,%d", bodyLength, valueAt);
            CopyValue(params->name, sizeof params->name, value, length, &params->nameCut);
            params->nameLength = length;
            break;
        case PAR_TYPE:
            LogLine(LOG_TRACE, "PAR_TYPE %d,%d", bodyLength, valueAt);
            CopyValue(params->type, sizeof params->type, value, length, nullptr);
            break;
        case PAR_APP_FLAGS:
            LogLine(LOG_TRACE, "PAR_APP_FLAGS %d,%d", bodyLength, valueAt);
            CopyValue(params->flags, sizeof params->flags, value, length, nullptr);
            break;
        default: break;
        }
        position = valueAt + length;
        LogLine(LOG_TRACE, "%s %s %d", params->type, params->flags, params->nameLength);
    }
    LogLine(LOG_TRACE, "SET Path write");
    return true;
}

bool DeviceSession::FbsSetPath(char *name, const char *flag) {
    m_nFbsFlag = std::atoi(flag);
    LogLine(LOG_TRACE, "Fbs SetPath");
    LogLine(LOG_TRACE, "Flag[%d]", m_nFbsFlag);
    if (!m_pFbsFolderList) m_pFbsFolderList = new PtrArray();
    PtrArray &folders = *m_pFbsFolderList;
    const int32_t sizeBefore = folders.GetSize();
    LogLine(LOG_TRACE, "m_pFbsFolderList SIZE[%d]", sizeBefore);

    const bool entering = name[0] != '\0';
    char probePath[files::kDevicePathSize];
    if (!files::ComposeDevicePath(m_pFbsFolderList, name, true, probePath, sizeof probePath)) {
        LogLine(LOG_TRACE, "SET_FBS_PATH refused: name or path too long");
        std::free(name);
        return false;
    }
    LogLine(LOG_TRACE, "SET_FBS_PATH[%s]", probePath);

    bool appended = false;
    CE_FIND_DATA entry;
    if (!ProbeDevice(probePath, &entry)) {
        if (m_nFbsFlag == 1 || m_nFbsFlag == 2) {
            std::free(name);
            return false;
        }
        if (m_nFbsFlag == 0) {
            // The name would become a folder of the path: one that can never be a
            // folder name (a wildcard, a separator, a control character) is refused
            // rather than created and kept.
            if (!CanBeFolderName(name)) {
                LogLine(LOG_TRACE, "SET_FBS_PATH refused: not a folder name");
                std::free(name);
                return false;
            }
            LogLine(LOG_TRACE, "CeCreateDirectory[%s]", probePath);
            platform::Rapi().CeCreateDirectory(platform::AnsiToWide(probePath).c_str(), nullptr);
            folders.Add(name);  // an empty name goes again with the move to the root below
            appended = true;
        }
    } else if (IsFolder(entry)) {
        // A name the device resolves to a folder of another name (a wildcard, say)
        // leaves the path as it was.
        std::string deviceName = EntryName(entry);
        files::LowerAscii(deviceName.data());
        files::LowerAscii(name);
        if (deviceName == name) {
            folders.Add(name);
            appended = true;
        } else {
            LogLine(LOG_TRACE, "pszPath[%s], DirName[%s]", name, deviceName.c_str());
        }
    }

    if (!entering && m_nFbsFlag == 1) {
        if (sizeBefore > 0) {
            LogLine(LOG_TRACE, "Move to Parent folder");
            ReleaseFolderEntry(folders, sizeBefore - 1);
        }
    } else if (!entering && (m_nFbsFlag == 0 || m_nFbsFlag == 2)) {
        LogLine(LOG_TRACE, "Move to Root folder");
        ReleaseAllFolderEntries(folders);
    }
    if (!appended) std::free(name);

    for (int32_t i = 0; i < folders.GetSize(); ++i) {
        LogLine(LOG_TRACE, "dir list[%s]", static_cast<const char *>(folders.GetAt(i)));
    }
    LogLine(LOG_TRACE, "dir Cnt[%d]", folders.GetSize());
    return true;
}

void DeviceSession::HandleSetPath(const AgentPacket *request) {
    SetPathParams params{};
    AgentPacket *response = CopyPacketWithBody(request);
    if (!response) return;
    if (!ParseSetPath(response->pBody, response->nBodyLength, &params)) {
        FreePacket(response);
        return;
    }

    // A name that was cut, or that holds a zero byte, is not the folder the agent
    // named: the request is refused and nothing on the device is looked at.
    const size_t nameBytes = strnlen(params.name, sizeof params.name);
    bool moved = false;
    if (params.nameCut || nameBytes != params.nameLength) {
        LogLine(LOG_TRACE, "SETPATH name refused: length %d", params.nameLength);
    } else if (char *name = static_cast<char *>(std::calloc(nameBytes + 1, 1))) {
        std::memcpy(name, params.name, nameBytes);
        const std::string flag = std::to_string(static_cast<uint8_t>(params.flags[0]));
        moved = FbsSetPath(name, flag.c_str());
    }

    std::free(response->pBody);
    response->pBody = nullptr;
    response->nBodyLength = 0;
    SendStatus(response, moved ? ST_OK : ST_UNSUPPORTED);
}

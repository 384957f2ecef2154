// Deleting a file of the current device folder.
#include "core/session.h"
#include "files/files.h"

bool DeviceSession::DeleteDeviceFile(ObjectParams *params) {
    // This path has no leading '\': "A\B\name", or the bare name at the root.
    char devicePath[files::kDevicePathSize];
    if (params->nameCut || !files::IsPlainName(params->name, false) ||
        !files::ComposeDevicePath(m_pFbsFolderList, params->name, false, devicePath, sizeof devicePath)) {
        LogLine(LOG_TRACE, "DELETE FILE refused: name or path out of size");
        return false;
    }
    const platform::WideString widePath = platform::AnsiToWide(devicePath);
    if (!platform::Rapi().CeDeleteFile(widePath.c_str())) {
        LogLine(LOG_TRACE, "CeDeleteFile() error");
        return false;
    }
    AnswerLastRequest(ST_OK, false);
    return true;
}

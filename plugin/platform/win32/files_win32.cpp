// PC files, the local heap and the message box on Windows.
#include "platform/platform.h"

namespace platform {

void *LocalAllocZeroed(size_t bytes) { return ::LocalAlloc(LPTR, bytes); }

void LocalFree(void *block) {
    if (block != nullptr) ::LocalFree(block);
}

std::string NativePath(const char *path) { return path != nullptr ? path : ""; }

FILE *OpenPcFile(const char *path, const char *mode) { return std::fopen(NativePath(path).c_str(), mode); }

intptr_t OpenWriteThroughAppend(const char *path) {
    // Append access: every write lands at the end, whatever others did to the file.
    HANDLE file = CreateFileA(NativePath(path).c_str(), GENERIC_READ | FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
    return file == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<intptr_t>(file);
}

bool WriteAll(intptr_t file, const void *data, size_t bytes) {
    const char *next = static_cast<const char *>(data);
    while (bytes > 0) {
        const DWORD chunk = bytes > 0x40000000u ? 0x40000000u : static_cast<DWORD>(bytes);
        DWORD written = 0;
        if (!WriteFile(reinterpret_cast<HANDLE>(file), next, chunk, &written, nullptr) || written == 0) return false;
        next += written;
        bytes -= written;
    }
    return true;
}

void CloseFile(intptr_t file) {
    if (file != -1) CloseHandle(reinterpret_cast<HANDLE>(file));
}

bool CreateOneDirectory(const char *path) {
    if (CreateDirectoryA(NativePath(path).c_str(), nullptr)) return true;
    const DWORD attributes = GetFileAttributesA(NativePath(path).c_str());
    return ::GetLastError() == ERROR_ALREADY_EXISTS && attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void ShowMessageBox(const char *text, const char *caption) { MessageBoxA(nullptr, text, caption, MB_OK); }

}  // namespace platform

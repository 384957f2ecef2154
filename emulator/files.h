// The phone's file operations, called by the exports under the device lock.
// Each fails by throwing DeviceError.
#ifndef CEEMU_FILES_H
#define CEEMU_FILES_H

#include "device.h"

namespace ceemu {

BOOL FindAllItems(const WCHAR *pattern, DWORD flags, DWORD *count, CE_FIND_DATA **array);
HANDLE FindFirstItem(const WCHAR *path, CE_FIND_DATA *data);
BOOL EndSearch(HANDLE find);
BOOL MakeFolder(const WCHAR *path);
HANDLE OpenFileHandle(const WCHAR *name, DWORD access, DWORD share, DWORD creation, DWORD flagsAndAttributes);
BOOL ReadFromFile(HANDLE handle, void *buffer, DWORD toRead, DWORD *read);
BOOL WriteToFile(HANDLE handle, const void *buffer, DWORD toWrite, DWORD *written);
DWORD FileSize(HANDLE handle, DWORD *high);
BOOL CloseObject(HANDLE handle);
BOOL RemoveFile(const WCHAR *path);

}  // namespace ceemu

#endif  // CEEMU_FILES_H

// The phone's registry, read from the image's registry.reg. Each operation fails by
// throwing DeviceError; the export returns the code.
#ifndef CEEMU_REGISTRY_H
#define CEEMU_REGISTRY_H

#include "device.h"

namespace ceemu {

LONG OpenKey(HKEY key, const WCHAR *subkey, HKEY *result);
LONG EnumerateKey(HKEY key, DWORD index, WCHAR *name, DWORD *cchName, WCHAR *cls, DWORD *cchClass, FILETIME *lastWrite);
LONG QueryValue(HKEY key, const WCHAR *name, DWORD *type, BYTE *data, DWORD *cbData);
LONG CloseKey(HKEY key);

}  // namespace ceemu

#endif  // CEEMU_REGISTRY_H

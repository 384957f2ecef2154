// Store figures and program launches, from device.json and into processes.log.
#ifndef CEEMU_STORES_H
#define CEEMU_STORES_H

#include "device.h"

namespace ceemu {

BOOL StoreInformation(STORE_INFORMATION *info);
BOOL DiskFreeSpace(const WCHAR *dir, ULARGE_INTEGER *freeToCaller, ULARGE_INTEGER *total, ULARGE_INTEGER *totalFree);
BOOL LaunchProcess(const WCHAR *image, const WCHAR *cmdline, PROCESS_INFORMATION *info);

}  // namespace ceemu

#endif  // CEEMU_STORES_H

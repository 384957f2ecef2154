// Internals shared by the emulator's own files (not by the database server).
#ifndef CEEMU_DEVICE_H
#define CEEMU_DEVICE_H

#include "emulator.h"

namespace ceemu {

// Reads CEBRIDGE_DEVICE and the image's device.json again; restarts fault counters.
void LoadImage();
void ResetFaultCounters();

}  // namespace ceemu

#endif  // CEEMU_DEVICE_H

// The six plain exports of CamoraConnect (see link/DeviceRecord.h for the record).
#pragma once

#include <cstdint>

#include "link/DeviceRecord.h"

#define CAMORA_EXPORT __attribute__((visibility("default")))

extern "C" {
// 1 when the interface object exists (already or now), 0 when it cannot be made.
CAMORA_EXPORT int StartLibrary();
// 1 when an interface object was destroyed (and the stack shut down), 0 when there was none.
CAMORA_EXPORT int EndLibrary();
// 1 when the first paired device was written into the record, else 0.
CAMORA_EXPORT int GetDeviceFirst(DeviceRecord* record);
// 1 when the next paired device was written, 0 at the end or on failure.
CAMORA_EXPORT int GetDeviceNext(DeviceRecord* record);
// Connects the device's serial-port service: the virtual COM port's number, 0 on failure.
CAMORA_EXPORT int ConnectSpp(const uint8_t* address);
// Removes the serial-port connection; 0 always.
CAMORA_EXPORT int DisconnectSpp();
}

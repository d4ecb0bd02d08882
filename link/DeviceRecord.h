// The device record and the six exports of the link library: the contract
// between the program and CamoraConnect, shared by both sides.
#pragma once

#include <cstddef>
#include <cstdint>

// One device as the link library fills it: 710 bytes, no padding; the texts
// are UTF-16 and zero-terminated.
struct DeviceRecord {
    static constexpr size_t kAddressTextLength = 32;
    static constexpr size_t kNameLength = 288;
    static constexpr size_t kPortTextLength = 32;
    static constexpr size_t kAddressLength = 6;

    char16_t addressText[kAddressTextLength];  // the library stores "00:00:00:00:00:00"
    char16_t name[kNameLength];                // up to 287 characters and the terminator
    char16_t portText[kPortTextLength];        // the library stores "COM0"
    uint8_t address[kAddressLength];           // in the order the Bluetooth stack gives it
};

static_assert(offsetof(DeviceRecord, addressText) == 0);
static_assert(offsetof(DeviceRecord, name) == 64);
static_assert(offsetof(DeviceRecord, portText) == 640);
static_assert(offsetof(DeviceRecord, address) == 704);
static_assert(sizeof(DeviceRecord) == 710);

// The exports, by the names the program binds them with.
extern "C" {
using StartLibraryFn = int (*)();
using EndLibraryFn = int (*)();
using GetDeviceFirstFn = int (*)(DeviceRecord* record);
using GetDeviceNextFn = int (*)(DeviceRecord* record);
using ConnectSppFn = int (*)(const uint8_t* address);
using DisconnectSppFn = int (*)();
}

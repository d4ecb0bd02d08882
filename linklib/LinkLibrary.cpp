// CamoraConnect: the six exports over the Bluetooth SDK, and the state they
// share for as long as the library is loaded.
#include <cstring>
#include <new>
#include <string>

#include "linklib/Exports.h"
#include "linklib/LinkBtIf.h"
#include "linklib/LinkSppClient.h"
#include "platform/text/Text.h"

namespace {

// The SDK promises both notifications; should one never come, give up after
// this long instead of hanging the caller (milliseconds, on the scaled clock).
constexpr uint32_t kDiscoveryWaitLimitMs = 30000;
constexpr uint32_t kConnectWaitLimitMs = 30000;

// Null while the library is not started.
CLinkBtIf* g_interface = nullptr;
// Lives from load to unload, so the connection survives EndLibrary.
CLinkSppClient g_client;

void CopyText(char16_t* field, const char16_t* text) {
    std::memcpy(field, text, (std::char_traits<char16_t>::length(text) + 1) * sizeof(char16_t));
}

// Converts the narrow name into the record's name field, never past its last
// unit: a name fills the field up to its terminator, longer ones are cut.
void ConvertName(const CBtIf::REM_DEV_INFO& info, DeviceRecord* record) {
    constexpr int kMaxUnits = static_cast<int>(DeviceRecord::kNameLength) - 1;
    record->name[0] = u'\0';
    // The SDK terminates the name only when it is shorter than its field.
    const int length = static_cast<int>(strnlen(info.name, sizeof info.name));
    if (length == 0) {
        return;
    }
    const int needed = platform::AnsiToWide(info.name, length, nullptr, 0);
    if (needed <= 0) {
        return;
    }
    if (needed <= kMaxUnits) {
        const int got = platform::AnsiToWide(info.name, length, record->name, needed);
        record->name[got > 0 ? got : 0] = u'\0';
        return;
    }
    std::u16string wide(static_cast<size_t>(needed), u'\0');
    const int got = platform::AnsiToWide(info.name, length, wide.data(), needed);
    const int keep = got < kMaxUnits ? (got > 0 ? got : 0) : kMaxUnits;
    std::memcpy(record->name, wide.data(), static_cast<size_t>(keep) * sizeof(char16_t));
    record->name[keep] = u'\0';
}

void FillRecord(const CBtIf::REM_DEV_INFO& info, DeviceRecord* record) {
    std::memset(record, 0, sizeof *record);
    std::memcpy(record->address, info.address, sizeof record->address);
    ConvertName(info, record);
    CopyText(record->portText, u"COM0");
    CopyText(record->addressText, u"00:00:00:00:00:00");
}

// Connects the client to the device's serial-port service: the port number, or 0.
int ConnectClient(const uint8_t* address) {
    if (g_client.ConnectEvent() == nullptr) {
        return 0;
    }
    auto* records = new (std::nothrow) CSdpDiscoveryRec[1];
    if (records == nullptr) {
        return 0;
    }
    int result = 0;
    const int n =
        g_interface->ReadDiscoveryRecords(address, 1, records, &CBtIf::guid_SERVCLASS_SERIAL_PORT);
    if (n >= 1) {
        g_client.ConnectEvent()->Reset();
        g_client.ClearLastState();
        const int rc = g_client.CreateConnection(address, records[0].serviceName);
        if (rc == CSppClient::kSuccess) {
            // Only a connected notification yields a port: a failed attempt
            // must not hand back the port of an earlier connection.
            if (g_client.ConnectEvent()->Wait(kConnectWaitLimitMs) &&
                g_client.LastState() == CSppClient::kStateConnected) {
                result = g_client.ComPort();
            }
        } else if (rc == CSppClient::kAlreadyConnected) {
            result = g_client.ComPort();
        }
    }
    delete[] records;
    return result;
}

}  // namespace

extern "C" {

int StartLibrary() {
    if (g_interface != nullptr) {
        return 1;
    }
    g_interface = new (std::nothrow) CLinkBtIf();
    return g_interface != nullptr ? 1 : 0;
}

int EndLibrary() {
    if (g_interface == nullptr) {
        return 0;
    }
    delete g_interface;
    g_interface = nullptr;
    WIDCOMMSDK_ShutDown();
    return 1;
}

int GetDeviceNext(DeviceRecord* record) {
    if (g_interface == nullptr || record == nullptr) {
        return 0;
    }
    CBtIf::REM_DEV_INFO info{};
    do {
        if (g_interface->GetNextRemoteDeviceInfo(&info) != 0) {
            return 0;
        }
    } while (info.paired != 1);
    FillRecord(info, record);
    return 1;
}

int GetDeviceFirst(DeviceRecord* record) {
    if (g_interface == nullptr || record == nullptr) {
        return 0;
    }
    const uint8_t anyClass[CBtIf::kClassLength] = {0xFF, 0xFF, 0xFF};
    CBtIf::REM_DEV_INFO info{};
    if (g_interface->GetRemoteDeviceInfoEx(anyClass, &info) != 0) {
        return 0;
    }
    if (info.paired != 1) {
        return GetDeviceNext(record);
    }
    FillRecord(info, record);
    return 1;
}

int ConnectSpp(const uint8_t* address) {
    if (g_interface == nullptr || address == nullptr) {
        return 0;
    }
    uint8_t copy[CBtIf::kAddressLength];
    std::memcpy(copy, address, sizeof copy);
    if (g_interface->DiscoveryEvent() != nullptr &&
        g_interface->StartDiscovery(copy, nullptr) == 1) {
        g_interface->DiscoveryEvent()->Wait(kDiscoveryWaitLimitMs);
    }
    const int port = ConnectClient(copy);
    return port < 0 ? 0 : port;
}

int DisconnectSpp() {
    g_client.RemoveConnection();
    return 0;
}

}  // extern "C"

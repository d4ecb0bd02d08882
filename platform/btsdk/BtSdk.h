// The Bluetooth SDK that the link library wraps: the interface object with
// the remote-device records, discovery and service-record lookup, the
// serial-port client, and the shutdown call. Notifications come through the
// virtual members, on a thread of the stack's own. Used by linklib/ only.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/btsdk/BtStack.h"

class CSdpDiscoveryRec;

using BtUuid = platform::btsdk::Uuid;

// The interface object. Each one walks the stack's list of known devices on
// its own and receives the notifications of the operations it started.
class CBtIf {
public:
    static constexpr int kAddressLength = 6;
    static constexpr int kClassLength = 3;
    static constexpr int kNameLength = 248;

    // One known device, as the device-information calls give it.
    struct REM_DEV_INFO {
        uint8_t address[kAddressLength];
        uint8_t deviceClass[kClassLength];
        // Narrow text in the handset's ANSI code page; zero-terminated only
        // when it is shorter than the field (a full field has no terminator).
        char name[kNameLength];
        uint32_t paired;  // 1 for a paired device
    };

    // Results of the device-information calls.
    static constexpr int kDeviceInfoOk = 0;
    static constexpr int kDeviceInfoEndOfList = 1;

    // The serial-port service class, 00001101-0000-1000-8000-00805f9b34fb.
    static constexpr BtUuid guid_SERVCLASS_SERIAL_PORT = platform::btsdk::kSerialPortUuid;

    CBtIf();
    virtual ~CBtIf();
    CBtIf(const CBtIf&) = delete;
    CBtIf& operator=(const CBtIf&) = delete;

    // Notifications, in this order; the stack's own implementations do nothing.
    virtual void OnAudioConnected(uint16_t audioHandle);
    virtual void OnAudioDisconnect(uint16_t audioHandle);
    virtual void OnStackStatusChange(int status);
    virtual void OnInquiryComplete(bool success, int responses);
    virtual void OnDeviceResponded(const uint8_t* address, const uint8_t* deviceClass,
                                   const char* name, bool connected);
    // A discovery begun with StartDiscovery has ended.
    virtual void OnDiscoveryComplete();

    // Starts a walk over the known devices whose class matches `classFilter`
    // (0xFF, 0xFF, 0xFF: every class) and gives the first one. kDeviceInfoOk,
    // or kDeviceInfoEndOfList when there is none.
    int GetRemoteDeviceInfoEx(const uint8_t* classFilter, REM_DEV_INFO* info);
    // The next device of the walk; kDeviceInfoEndOfList after the last one.
    int GetNextRemoteDeviceInfo(REM_DEV_INFO* info);

    // Starts a service discovery on the device (`serviceFilter` null: every
    // service). 1 when it started; OnDiscoveryComplete follows. 0 otherwise.
    int StartDiscovery(const uint8_t* address, const BtUuid* serviceFilter);
    // Copies up to `maxRecords` of the device's known service records for
    // `service` into `records`; returns how many.
    int ReadDiscoveryRecords(const uint8_t* address, int maxRecords, CSdpDiscoveryRec* records,
                             const BtUuid* service);

private:
    uint64_t id_;
    std::vector<platform::btsdk::RemoteDevice> walk_;
    size_t next_ = 0;
};

// One service record of a remote device. The service name is the record's
// first member, so the record's address is also that of its name.
class CSdpDiscoveryRec {
public:
    static constexpr int kServiceNameLength = 64;

    CSdpDiscoveryRec();
    ~CSdpDiscoveryRec() = default;

    char16_t serviceName[kServiceNameLength];  // zero-terminated
    BtUuid serviceClass;
    uint8_t channel;
};

// The serial-port client: connects a device's serial-port service, which the
// stack then offers as a virtual COM port, and reports its state changes.
class CSppClient {
public:
    // Results of CreateConnection.
    static constexpr int kSuccess = 0;  // the state change will follow
    static constexpr int kBadParameter = 1;
    static constexpr int kAlreadyConnected = 2;  // no state change follows
    static constexpr int kFailed = 3;

    // State codes of OnClientStateChange.
    static constexpr int kStateConnected = 0;
    static constexpr int kStateDisconnected = 1;
    static constexpr int kStateConnectFailed = 2;

    CSppClient();
    // Ends the client's connection, if any.
    virtual ~CSppClient();
    CSppClient(const CSppClient&) = delete;
    CSppClient& operator=(const CSppClient&) = delete;

    // The client's connection changed; `comPort` is the virtual port's number.
    virtual void OnClientStateChange(const uint8_t* address, const uint8_t* deviceClass,
                                     const char* name, int16_t comPort, int state);

    int CreateConnection(const uint8_t* address, const char16_t* serviceName);
    int RemoveConnection();

private:
    uint64_t id_;
};

// Ends the use of the SDK (after the last interface object is gone).
void WIDCOMMSDK_ShutDown();

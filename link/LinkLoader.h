// The device source on handsets with the SDK stack: loads the link library
// CamoraConnect by name, lists its paired devices, selects one by name and
// opens the virtual serial port that the library connects for it.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "link/DeviceRecord.h"
#include "platform/library/Library.h"
#include "platform/serial/SerialPort.h"

class CLinkLoader {
public:
    static constexpr int kDeviceCount = 100;

    // 1 when a file matches "\Windows\BtSdkCE50*" (the SDK stack is there), else 0.
    static int IsSdkStackInstalled();

    // The handset name of virtual port `number`: "COM%d:" below 10, else "BTC%d:" with number - 10.
    static std::u16string PortName(int number);

    // Loads "CamoraConnect.dll" and binds its six exports; with the library
    // missing nothing is bound and every operation does nothing.
    CLinkLoader();
    ~CLinkLoader();
    CLinkLoader(const CLinkLoader&) = delete;
    CLinkLoader& operator=(const CLinkLoader&) = delete;

    // 1 always: this stack has no availability check of its own.
    int IsAvailable() const;
    // Fills the table from the library's paired devices, from record 0 on.
    // Records after the last one found keep their earlier contents; the walk
    // stops when the table is full.
    void EnumerateDevices();
    // The name and port text of record `index` (0 to 99); empty outside that range.
    void GetDevice(int index, std::u16string& name, std::u16string& portText) const;
    // Selects the first record whose name equals `name` (letter case counts);
    // with no match the selection stays as it was.
    void SelectDevice(std::u16string_view name);
    void GetSelectedName(std::u16string& name) const;
    // For camora-remote, which must reach each of two devices of one name:
    // the address text of record `index` (empty outside the table), and
    // selecting that very record.
    void GetDeviceAddress(int index, std::u16string& address) const;
    void SelectEntry(int index);
    // Connects the selected device and opens its port; the port is then in
    // GetPortHandle (unchanged when the open failed). 0 when the library or
    // one of StartLibrary, EndLibrary, ConnectSpp is missing, else 1.
    int OpenPort();
    // The port opened last; null while none was opened.
    platform::PortHandle GetPortHandle() const;
    // Removes the serial-port connection.
    void Disconnect();

private:
    // The 100 device records followed by the selected one.
    std::unique_ptr<DeviceRecord[]> table_;
    DeviceRecord* selected_;
    platform::PortHandle portHandle_;
    std::unique_ptr<platform::Library> module_;
    StartLibraryFn startLibrary_ = nullptr;
    EndLibraryFn endLibrary_ = nullptr;
    ConnectSppFn connectSpp_ = nullptr;
    DisconnectSppFn disconnectSpp_ = nullptr;
    GetDeviceFirstFn getDeviceFirst_ = nullptr;
    GetDeviceNextFn getDeviceNext_ = nullptr;
};

#include "link/LinkLoader.h"

#include <cstring>

#include "link/FieldText.h"
#include "platform/fs/FileSystem.h"

int CLinkLoader::IsSdkStackInstalled() {
    return platform::FindFiles(u"\\Windows\\BtSdkCE50*").empty() ? 0 : 1;
}

std::u16string CLinkLoader::PortName(int number) {
    const bool low = number < 10;
    std::u16string name = low ? u"COM" : u"BTC";
    for (char c : std::to_string(low ? number : number - 10)) {
        name += static_cast<char16_t>(c);
    }
    name += u':';
    return name;
}

CLinkLoader::CLinkLoader()
    : table_(new DeviceRecord[kDeviceCount + 1]()),
      selected_(&table_[kDeviceCount]),
      module_(platform::Library::Load(u"CamoraConnect.dll")) {
    if (!module_) {
        return;
    }
    startLibrary_ = module_->Find<StartLibraryFn>("StartLibrary");
    endLibrary_ = module_->Find<EndLibraryFn>("EndLibrary");
    getDeviceFirst_ = module_->Find<GetDeviceFirstFn>("GetDeviceFirst");
    getDeviceNext_ = module_->Find<GetDeviceNextFn>("GetDeviceNext");
    connectSpp_ = module_->Find<ConnectSppFn>("ConnectSpp");
    disconnectSpp_ = module_->Find<DisconnectSppFn>("DisconnectSpp");
}

CLinkLoader::~CLinkLoader() = default;

int CLinkLoader::IsAvailable() const {
    return 1;
}

void CLinkLoader::EnumerateDevices() {
    if (!module_ || !startLibrary_ || !endLibrary_ || !getDeviceFirst_ || !getDeviceNext_) {
        return;
    }
    startLibrary_();
    DeviceRecord scratch{};
    if (getDeviceFirst_(&scratch) != 0) {
        int count = 0;
        table_[count++] = scratch;
        // The library has no limit of its own; devices beyond the table are not asked for.
        while (count < kDeviceCount && getDeviceNext_(&scratch) != 0) {
            table_[count++] = scratch;
        }
    }
    endLibrary_();
}

void CLinkLoader::GetDevice(int index, std::u16string& name, std::u16string& portText) const {
    if (index < 0 || index >= kDeviceCount) {
        name.clear();
        portText.clear();
        return;
    }
    const DeviceRecord& record = table_[index];
    name = fieldtext::Read(record.name, DeviceRecord::kNameLength);
    portText = fieldtext::Read(record.portText, DeviceRecord::kPortTextLength);
}

void CLinkLoader::SelectDevice(std::u16string_view name) {
    for (int i = 0; i < kDeviceCount; ++i) {
        if (fieldtext::Read(table_[i].name, DeviceRecord::kNameLength) == name) {
            *selected_ = table_[i];
            return;
        }
    }
}

void CLinkLoader::GetDeviceAddress(int index, std::u16string& address) const {
    address = index >= 0 && index < kDeviceCount
                  ? fieldtext::Read(table_[index].addressText, DeviceRecord::kAddressTextLength)
                  : u"";
}

void CLinkLoader::SelectEntry(int index) {
    if (index >= 0 && index < kDeviceCount) {
        *selected_ = table_[index];
    }
}

void CLinkLoader::GetSelectedName(std::u16string& name) const {
    name = fieldtext::Read(selected_->name, DeviceRecord::kNameLength);
}

int CLinkLoader::OpenPort() {
    if (!module_ || !startLibrary_ || !endLibrary_ || !connectSpp_) {
        return 0;
    }
    startLibrary_();
    const int number = connectSpp_(selected_->address);
    // A failed connection gives 0, and COM0: is tried like any other name.
    if (auto port = platform::SerialPort::Open(PortName(number))) {
        portHandle_ = std::move(port);
    }
    endLibrary_();
    return 1;
}

platform::PortHandle CLinkLoader::GetPortHandle() const {
    return portHandle_;
}

void CLinkLoader::Disconnect() {
    if (!module_) {
        return;
    }
    if (startLibrary_) {
        startLibrary_();
    }
    if (disconnectSpp_) {
        disconnectSpp_();
    }
    if (endLibrary_) {
        endLibrary_();
    }
}

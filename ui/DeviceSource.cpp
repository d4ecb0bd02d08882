#include "ui/DeviceSource.h"

#include "link/DeviceSource.h"

namespace ui {

int DeviceSourceIsAvailable() {
    return WithDeviceSource([](const auto& source) { return source.IsAvailable(); }, 0);
}

void DeviceSourceGetDevice(int index, std::u16string& name, std::u16string& portText) {
    name.clear();
    portText.clear();
    WithDeviceSource(
        [&](const auto& source) {
            source.GetDevice(index, name, portText);
            return 0;
        },
        0);
}

void DeviceSourceSelectDevice(std::u16string_view name) {
    WithDeviceSource(
        [name](auto& source) {
            source.SelectDevice(name);
            return 0;
        },
        0);
}

std::u16string DeviceSourceSelectedName() {
    std::u16string name;
    WithDeviceSource(
        [&name](const auto& source) {
            source.GetSelectedName(name);
            return 0;
        },
        0);
    return name;
}

}  // namespace ui

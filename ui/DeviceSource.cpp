#include "ui/DeviceSource.h"

#include "core/AppRegistry.h"
#include "link/Bluetooth.h"
#include "link/LinkLoader.h"

namespace ui {

namespace {

// Runs `use` on the source start-up made; `otherwise` when there is none.
template <typename F, typename R>
R WithSource(F use, R otherwise) {
    if (AppRegistry.linkLoader != nullptr) {
        return use(*AppRegistry.linkLoader);
    }
    if (AppRegistry.bluetooth != nullptr) {
        return use(*AppRegistry.bluetooth);
    }
    return otherwise;
}

}  // namespace

int DeviceSourceIsAvailable() {
    return WithSource([](const auto& source) { return source.IsAvailable(); }, 0);
}

void DeviceSourceGetDevice(int index, std::u16string& name, std::u16string& portText) {
    name.clear();
    portText.clear();
    WithSource(
        [&](const auto& source) {
            source.GetDevice(index, name, portText);
            return 0;
        },
        0);
}

void DeviceSourceSelectDevice(std::u16string_view name) {
    WithSource(
        [name](auto& source) {
            source.SelectDevice(name);
            return 0;
        },
        0);
}

std::u16string DeviceSourceSelectedName() {
    std::u16string name;
    WithSource(
        [&name](const auto& source) {
            source.GetSelectedName(name);
            return 0;
        },
        0);
    return name;
}

}  // namespace ui

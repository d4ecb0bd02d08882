#include "platform/bluetooth/Backend.h"

#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>

#include "platform/bluez/BluezClient.h"
#include "platform/bluez/BluezRegistryView.h"
#include "platform/bluez/BluezStack.h"
#include "platform/fs/DeviceRoot.h"

namespace platform::bluetooth {
namespace {

using bluez::BluezClient;
using bluez::BluezRegistryView;
using bluez::BluezStack;
using bluez::ClientTimeouts;

std::string Trim(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    const size_t last = text.find_last_not_of(" \t\r\n");
    return std::string(text.substr(first, last - first + 1));
}

struct Choice {
    std::string key;  // device root and configuration it was made for
    std::shared_ptr<BluezClient> client;
    std::shared_ptr<RegistryView> view;
};

std::mutex g_lock;
Choice* g_choice = nullptr;  // guarded by g_lock; replaced when the key changes

std::shared_ptr<RegistryView> FolderTree() {
    static const auto* tree = new std::shared_ptr<RegistryView>(MakeFolderTreeRegistry());
    return *tree;
}

// The choice for the current device root, made when it is first asked for.
Choice& CurrentChoiceLocked() {
    const BluetoothConfig config = LoadBluetoothConfig();
    const std::string key = DeviceRoot() + '\n' + std::to_string(static_cast<int>(config.backend)) +
                            '\n' + std::to_string(config.connectTimeoutMs);
    if (g_choice != nullptr && g_choice->key == key) {
        return *g_choice;
    }
    auto* choice = new Choice{key, nullptr, nullptr};
    if (config.backend != BluetoothConfig::Backend::Simulated) {
        ClientTimeouts timeouts;
        timeouts.connectMs = config.connectTimeoutMs;
        auto client = std::make_shared<BluezClient>(timeouts);
        if (config.backend == BluetoothConfig::Backend::Bluez ||
            client->GetManagedObjects().answered) {
            choice->client = client;
            choice->view = std::make_shared<BluezRegistryView>(client);
        }
    }
    if (!choice->view) {
        choice->view = FolderTree();
    }
    delete g_choice;
    g_choice = choice;
    return *g_choice;
}

}  // namespace

BluetoothConfig ParseBluetoothConfig(std::string_view text) {
    BluetoothConfig config;
    std::istringstream lines{std::string(text)};
    std::string line;
    while (std::getline(lines, line)) {
        line = Trim(line);
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const size_t eq = line.find('=');
        if (eq == std::string::npos) {
            continue;
        }
        const std::string key = Trim(std::string_view(line).substr(0, eq));
        const std::string value = Trim(std::string_view(line).substr(eq + 1));
        if (key == "backend") {
            config.backend = value == "bluez"       ? BluetoothConfig::Backend::Bluez
                             : value == "simulated" ? BluetoothConfig::Backend::Simulated
                                                    : BluetoothConfig::Backend::Auto;
        } else if (key == "connect_timeout_ms") {
            const long ms = std::strtol(value.c_str(), nullptr, 10);
            if (ms > 0 && ms <= 600000) {
                config.connectTimeoutMs = static_cast<uint32_t>(ms);
            }
        }
    }
    return config;
}

BluetoothConfig LoadBluetoothConfig() {
    std::ifstream in(DeviceRootPath("bluetooth.conf"), std::ios::binary);
    if (!in) {
        return {};
    }
    std::ostringstream text;
    text << in.rdbuf();
    return ParseBluetoothConfig(text.str());
}

std::shared_ptr<BluezClient> ChosenBluezClient() {
    std::lock_guard lock(g_lock);
    return CurrentChoiceLocked().client;
}

std::shared_ptr<RegistryView> ChosenRegistryView() {
    std::lock_guard lock(g_lock);
    return CurrentChoiceLocked().view;
}

std::shared_ptr<btsdk::BtStack> ChosenBluezStack() {
    // Never destroyed: stacks are asked for until the process ends.
    static auto* lock = new std::mutex;
    static auto* cached = new std::pair<std::weak_ptr<BluezClient>, std::shared_ptr<BluezStack>>;
    const auto client = ChosenBluezClient();
    std::lock_guard guard(*lock);
    if (!client) {
        cached->second.reset();
        return nullptr;
    }
    if (cached->first.lock() != client || !cached->second) {
        cached->first = client;
        cached->second = std::make_shared<BluezStack>(client);
    }
    return cached->second;
}

void InstallBluetoothBackend() {
    SetDefaultRegistryViewSource(&ChosenRegistryView);
    btsdk::SetDefaultStackSource(&ChosenBluezStack);
}

}  // namespace platform::bluetooth

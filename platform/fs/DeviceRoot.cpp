#include "platform/fs/DeviceRoot.h"

#include <memory>
#include <mutex>
#include <vector>

#include "platform/sys/Syscall.h"

namespace platform {
namespace {

std::mutex g_lock;
std::string* g_root = nullptr;
// Every root ever used stays alive: callers may still hold a reference to one.
std::vector<std::unique_ptr<std::string>>* g_roots = nullptr;

std::string DefaultRoot() {
    if (std::string root = sys::Environment("CAMORA_DEVICE_ROOT"); !root.empty()) {
        return root;
    }
    if (const std::string data = sys::Environment("XDG_DATA_HOME"); !data.empty()) {
        return data + "/camora-controller";
    }
    const std::string home = sys::Environment("HOME");
    return (home.empty() ? std::string(".") : home) + "/.local/share/camora-controller";
}

}  // namespace

const std::string& DeviceRoot() {
    std::lock_guard lock(g_lock);
    if (g_root == nullptr) {
        g_root = new std::string(DefaultRoot());
    }
    return *g_root;
}

void OverrideDeviceRoot(std::string hostPath) {
    std::lock_guard lock(g_lock);
    if (g_roots == nullptr) {
        g_roots = new std::vector<std::unique_ptr<std::string>>;
    }
    g_roots->push_back(std::make_unique<std::string>(std::move(hostPath)));
    g_root = g_roots->back().get();
}

std::string DeviceRootPath(std::string_view relative) {
    std::string path = DeviceRoot();
    if (!relative.empty() && relative.front() != '/') {
        path += '/';
    }
    path += relative;
    return path;
}

}  // namespace platform

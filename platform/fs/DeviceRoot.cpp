#include "platform/fs/DeviceRoot.h"

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
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

namespace {

std::string* g_pictures = nullptr;  // guarded by g_lock; never freed, like the roots

std::string HomeFolder() {
    const std::string home = sys::Environment("HOME");
    return home.empty() ? std::string(".") : home;
}

std::string UserPicturesFolder() {
    const std::string home = HomeFolder();
    std::string config;
    if (std::string c = sys::Environment("XDG_CONFIG_HOME"); !c.empty() && c[0] == '/') {
        config = std::move(c);
    } else {
        config = home + "/.config";
    }
    std::string text;
    if (std::FILE* f = std::fopen((config + "/user-dirs.dirs").c_str(), "re")) {
        char chunk[1024];
        size_t n = 0;
        // The file is a few hundred bytes; anything past 64 kB is not a user-dirs file.
        while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0 && text.size() < (64u << 10)) {
            text.append(chunk, n);
        }
        std::fclose(f);
    }
    return PicturesFolderFromUserDirs(text, home);
}

}  // namespace

std::string PicturesFolderFromUserDirs(std::string_view userDirs, std::string_view home) {
    const std::string fallback = std::string(home) + "/Pictures";
    constexpr std::string_view kKey = "XDG_PICTURES_DIR=";
    size_t pos = 0;
    while (pos < userDirs.size()) {
        size_t end = userDirs.find('\n', pos);
        if (end == std::string_view::npos) {
            end = userDirs.size();
        }
        std::string_view line = userDirs.substr(pos, end - pos);
        pos = end + 1;
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
            line.remove_prefix(1);
        }
        if (line.substr(0, kKey.size()) != kKey) {
            continue;
        }
        std::string_view value = line.substr(kKey.size());
        while (!value.empty() && (value.back() == '\r' || value.back() == ' ')) {
            value.remove_suffix(1);
        }
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
            value = value.substr(1, value.size() - 2);
        }
        std::string folder;
        if (value.substr(0, 5) == "$HOME") {
            std::string_view rest = value.substr(5);
            if (!rest.empty() && rest.front() != '/') {
                return fallback;  // "$HOMEx" names no folder below home
            }
            while (!rest.empty() && rest.front() == '/') {
                rest.remove_prefix(1);
            }
            if (rest.empty()) {
                return fallback;  // home itself: the folder is disabled
            }
            folder = std::string(home) + "/" + std::string(rest);
        } else if (!value.empty() && value.front() == '/') {
            folder = std::string(value);
        } else {
            return fallback;
        }
        while (folder.size() > 1 && folder.back() == '/') {
            folder.pop_back();
        }
        return folder;
    }
    return fallback;
}

const std::string& PicturesFolder() {
    std::lock_guard lock(g_lock);
    if (g_pictures == nullptr) {
        g_pictures = new std::string(UserPicturesFolder());
    }
    return *g_pictures;
}

void OverridePicturesFolder(std::string hostPath) {
    std::lock_guard lock(g_lock);
    if (g_roots == nullptr) {
        g_roots = new std::vector<std::unique_ptr<std::string>>;
    }
    g_roots->push_back(std::make_unique<std::string>(hostPath.empty() ? UserPicturesFolder()
                                                                      : std::move(hostPath)));
    g_pictures = g_roots->back().get();
}

void EnsureDeviceRoot() {
    const std::filesystem::path root(DeviceRoot());
    std::error_code ec;
    if (root.has_parent_path()) {
        std::filesystem::create_directories(root.parent_path(), ec);
    }
    const sys::Outcome made = sys::Call("mkdir", [&] { return ::mkdir(root.c_str(), 0700); });
    if (made.Failed() && made.error != EEXIST) {
        sys::Report("creating the device root", made);
    }
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

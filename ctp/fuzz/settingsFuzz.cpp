// The settings file as the program loads it, whatever bytes it holds: read
// through a real file in a private device root, then every getter, then a
// save, which must load again to the same pairs.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "core/ConfigStore.h"
#include "platform/fs/DeviceRoot.h"

namespace {

std::string g_file;

std::string SettingsBytes() {
    std::string out;
    if (std::FILE* f = std::fopen(g_file.c_str(), "rb")) {
        char buffer[4096];
        size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
            out.append(buffer, n);
        }
        std::fclose(f);
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A folder of this run's own: fuzzing jobs may run side by side.
    const std::string root = (std::filesystem::temp_directory_path() /
                              ("camora-fuzz-settings-" + std::to_string(std::random_device{}())))
                                 .string();
    const std::string folder = root + "/Program Files/CamoraController";
    std::error_code ec;
    if (!std::filesystem::create_directories(folder, ec)) {
        std::abort();
    }
    platform::OverrideDeviceRoot(root);
    g_file = folder + "/CamoraControllerConfig.ini";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (std::FILE* f = std::fopen(g_file.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    CConfigStore store;
    store.Load();
    store.GetTimeOut();
    store.GetGpsInterval();
    char16_t path[CConfigStore::kPathUnits] = {};
    store.GetPath(path);
    if (!store.Save()) {
        __builtin_trap();
    }
    // What the program writes, it reads back to the same file (when it fits
    // the one read; a longer one loses its tail by design).
    const std::string saved = SettingsBytes();
    if (saved.size() > CConfigStore::kReadLimit) {
        return 0;
    }
    CConfigStore again;
    again.Load();
    if (!again.Save() || SettingsBytes() != saved) {
        __builtin_trap();
    }
    return 0;
}

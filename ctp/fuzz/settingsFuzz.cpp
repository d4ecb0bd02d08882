// The settings file as the program loads it, whatever bytes it holds: the
// store takes them as Load takes the file's, then every getter answers, then
// what a save would write must load again to the same bytes. In memory: the
// file's own path (open, read limit, atomic replace) belongs to the file
// system and its tests, and through a real file the target ran 30 inputs a
// second, each save waiting for the disk.
#include <cstdint>
#include <string>
#include <string_view>

#include "core/ConfigStore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CConfigStore store;
    store.LoadBytes(std::string_view(reinterpret_cast<const char*>(data), size));
    store.GetTimeOut();
    store.GetGpsInterval();
    char16_t path[CConfigStore::kPathUnits] = {};
    store.GetPath(path);
    // What the program writes, it reads back to the same file (when it fits
    // the one read; a longer one loses its tail by design).
    const std::string saved = store.Contents();
    if (saved.size() > CConfigStore::kReadLimit) {
        return 0;
    }
    CConfigStore again;
    again.LoadBytes(saved);
    if (again.Contents() != saved) {
        __builtin_trap();
    }
    return 0;
}

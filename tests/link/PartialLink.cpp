// A stand-in link library that lacks ConnectSpp and DisconnectSpp, for the
// loader's handling of missing exports. It counts the calls it gets.
#include <cstring>

#include "link/DeviceRecord.h"

namespace {
int g_starts = 0;
int g_ends = 0;
}  // namespace

extern "C" {

__attribute__((visibility("default"))) int StartLibrary() {
    ++g_starts;
    return 1;
}

__attribute__((visibility("default"))) int EndLibrary() {
    ++g_ends;
    return 1;
}

__attribute__((visibility("default"))) int GetDeviceFirst(DeviceRecord* record) {
    std::memset(record, 0, sizeof *record);
    std::memcpy(record->name, u"PARTIAL", sizeof u"PARTIAL");
    std::memcpy(record->portText, u"COM0", sizeof u"COM0");
    return 1;
}

__attribute__((visibility("default"))) int GetDeviceNext(DeviceRecord*) {
    return 0;
}

__attribute__((visibility("default"))) int PartialStarts() {
    return g_starts;
}

__attribute__((visibility("default"))) int PartialEnds() {
    return g_ends;
}
}

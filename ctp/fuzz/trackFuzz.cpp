// Track files of scripted positions: any text is read or refused whole.
#include <cstdint>
#include <string_view>

#include "platform/gps/TrackSource.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto track = platform::ParseGpsTrack(text)) {
        // Each point is its own line: never more points than lines.
        size_t lines = 1;
        for (char c : text) {
            lines += c == '\n' ? 1 : 0;
        }
        if (track->size() > lines) {
            __builtin_trap();
        }
    }
    return 0;
}

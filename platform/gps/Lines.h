// Splitting the text files of platform/gps (configuration, tracks, NMEA logs)
// into lines. Internal to platform/gps.
#pragma once

#include <string_view>
#include <vector>

namespace platform {

// The lines of `text` without their "\n"; a last line without one counts.
inline std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

}  // namespace platform

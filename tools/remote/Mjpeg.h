// A multipart MJPEG stream, the form video players read from a pipe
// (Content-Type multipart/x-mixed-replace): each image as one part with its
// type and length.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace remote {

inline constexpr const char* kMjpegBoundary = "camoraframe";

// The bytes of one part: boundary line, headers, a blank line, the image and CR LF.
std::string MjpegPart(std::span<const uint8_t> jpeg);

}  // namespace remote

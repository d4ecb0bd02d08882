// The pictures the simulated camera sends: colour bars with a frame number and
// a clock burnt in, so that consecutive live-view frames differ, and the JPEG
// encoding of them.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace sim {

// An RGB picture, three bytes per pixel, rows top to bottom.
struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;
};

// Colour bars over a brightness ramp, with `caption` (digits, ':', '.', '#',
// '-', ' ') drawn in a box at the bottom left; other characters show as gaps.
RgbImage RenderTestPicture(int width, int height, std::string_view caption);

// Baseline JPEG of the picture; empty when the encoder fails.
std::vector<uint8_t> EncodeJpeg(const RgbImage& image, int quality);

// Brings `jpeg` to exactly `size` bytes with comment segments after its
// start marker, so that a decoder still reads the same picture. Empty when
// the picture is larger, or the gap is 1 to 3 bytes (a segment takes 4).
std::vector<uint8_t> PadJpeg(std::vector<uint8_t> jpeg, size_t size);

// Decodes a whole JPEG to check it: its width and height, or 0 x 0 when it is
// not one, or is cut short (which the decoder only warns about).
struct JpegSize {
    int width = 0;
    int height = 0;
};
JpegSize CheckJpeg(std::span<const uint8_t> jpeg);

}  // namespace sim

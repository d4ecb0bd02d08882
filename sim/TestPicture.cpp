#include "sim/TestPicture.h"

#include <jpeglib.h>

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>

namespace sim {
namespace {

// 5 x 7 glyphs, one row per byte, the high five bits of the low byte used.
struct Glyph {
    char c;
    std::array<uint8_t, 7> rows;
};

constexpr Glyph kGlyphs[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {'#', {0x0A, 0x0A, 0x1F, 0x0A, 0x1F, 0x0A, 0x0A}},
};

const Glyph* FindGlyph(char c) {
    for (const Glyph& g : kGlyphs) {
        if (g.c == c) {
            return &g;
        }
    }
    return nullptr;
}

void Fill(RgbImage& img, int x0, int y0, int w, int h, uint8_t r, uint8_t g, uint8_t b) {
    const int x1 = std::min(img.width, x0 + w);
    const int y1 = std::min(img.height, y0 + h);
    for (int y = std::max(0, y0); y < y1; ++y) {
        for (int x = std::max(0, x0); x < x1; ++x) {
            uint8_t* p = &img.pixels[(static_cast<size_t>(y) * img.width + x) * 3];
            p[0] = r;
            p[1] = g;
            p[2] = b;
        }
    }
}

// libjpeg's default error exit ends the process; a simulator that cannot
// encode a picture should answer without one instead.
struct JpegErrors {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};

[[noreturn]] void OnJpegError(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<JpegErrors*>(cinfo->err)->jump, 1);
}

}  // namespace

RgbImage RenderTestPicture(int width, int height, std::string_view caption) {
    RgbImage img;
    img.width = width;
    img.height = height;
    img.pixels.assign(static_cast<size_t>(width) * height * 3, 0);

    // Seven bars over the upper two thirds, a grey ramp below them.
    static constexpr uint8_t kBars[7][3] = {{192, 192, 192}, {192, 192, 0}, {0, 192, 192},
                                            {0, 192, 0},     {192, 0, 192}, {192, 0, 0},
                                            {0, 0, 192}};
    const int barsHeight = height * 2 / 3;
    for (int i = 0; i < 7; ++i) {
        const int x0 = width * i / 7;
        const int x1 = width * (i + 1) / 7;
        Fill(img, x0, 0, x1 - x0, barsHeight, kBars[i][0], kBars[i][1], kBars[i][2]);
    }
    for (int y = barsHeight; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const auto v = static_cast<uint8_t>(x * 255 / std::max(1, width - 1));
            uint8_t* p = &img.pixels[(static_cast<size_t>(y) * width + x) * 3];
            p[0] = p[1] = p[2] = v;
        }
    }

    // The caption, scaled so that it is readable on the handset's small preview.
    const int fit = width / std::max(1, static_cast<int>(caption.size()) * 6 + 6);
    const int scale = std::max(1, std::min(height / 60, fit));
    const int advance = 6 * scale;
    const int boxW = static_cast<int>(caption.size()) * advance + 2 * scale;
    const int boxH = 9 * scale;
    const int boxX = 2 * scale;
    const int boxY = height - boxH - 2 * scale;
    Fill(img, boxX, boxY, boxW, boxH, 0, 0, 0);
    for (size_t i = 0; i < caption.size(); ++i) {
        const Glyph* g = FindGlyph(caption[i]);
        if (g == nullptr) {
            continue;
        }
        const int gx = boxX + scale + static_cast<int>(i) * advance;
        const int gy = boxY + scale;
        for (int row = 0; row < 7; ++row) {
            for (int col = 0; col < 5; ++col) {
                if ((g->rows[static_cast<size_t>(row)] >> (4 - col)) & 1) {
                    Fill(img, gx + col * scale, gy + row * scale, scale, scale, 255, 255, 255);
                }
            }
        }
    }
    return img;
}

std::vector<uint8_t> EncodeJpeg(const RgbImage& image, int quality) {
    if (image.width <= 0 || image.height <= 0 ||
        image.pixels.size() != static_cast<size_t>(image.width) * image.height * 3) {
        return {};
    }
    jpeg_compress_struct cinfo{};
    JpegErrors errors{};
    cinfo.err = jpeg_std_error(&errors.mgr);
    errors.mgr.error_exit = OnJpegError;
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    if (setjmp(errors.jump) != 0) {
        jpeg_destroy_compress(&cinfo);
        std::free(out);
        return {};
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &out, &outSize);
    cinfo.image_width = static_cast<JDIMENSION>(image.width);
    cinfo.image_height = static_cast<JDIMENSION>(image.height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, std::clamp(quality, 1, 100), TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    const auto stride = static_cast<size_t>(image.width) * 3;
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(&image.pixels[cinfo.next_scanline * stride]);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<uint8_t> result(out, out + outSize);
    std::free(out);
    return result;
}

std::vector<uint8_t> PadJpeg(std::vector<uint8_t> jpeg, size_t size) {
    constexpr size_t kSegmentHead = 4;         // marker and length
    constexpr size_t kMaxSegment = 65535 + 2;  // the length counts itself, not the marker
    if (jpeg.size() < 2 || jpeg.size() > size) {
        return {};
    }
    size_t gap = size - jpeg.size();
    if (gap > 0 && gap < kSegmentHead) {
        return {};
    }
    std::vector<uint8_t> out(jpeg.begin(), jpeg.begin() + 2);
    out.reserve(size);
    while (gap > 0) {
        size_t take = std::min(gap, kMaxSegment);
        if (gap - take > 0 && gap - take < kSegmentHead) {
            take -= kSegmentHead;  // leave room for a whole last segment
        }
        const size_t length = take - 2;
        out.insert(out.end(),
                   {0xFF, 0xFE, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)});
        // Bytes that vary, so that a block copied to the wrong place shows.
        for (size_t i = 0; i < take - kSegmentHead; ++i) {
            out.push_back(static_cast<uint8_t>('a' + (out.size() * 7) % 26));
        }
        gap -= take;
    }
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

JpegSize CheckJpeg(std::span<const uint8_t> jpeg) {
    jpeg_decompress_struct cinfo{};
    JpegErrors errors{};
    cinfo.err = jpeg_std_error(&errors.mgr);
    errors.mgr.error_exit = OnJpegError;
    if (setjmp(errors.jump) != 0) {
        jpeg_destroy_decompress(&cinfo);
        return {};
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&cinfo, TRUE);
    jpeg_start_decompress(&cinfo);
    std::vector<JSAMPLE> row(static_cast<size_t>(cinfo.output_width) * cinfo.output_components);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW rows[1] = {row.data()};
        jpeg_read_scanlines(&cinfo, rows, 1);
    }
    const bool whole = errors.mgr.num_warnings == 0;
    jpeg_finish_decompress(&cinfo);
    const JpegSize size{static_cast<int>(cinfo.output_width),
                        static_cast<int>(cinfo.output_height)};
    jpeg_destroy_decompress(&cinfo);
    return whole ? size : JpegSize{};
}

}  // namespace sim

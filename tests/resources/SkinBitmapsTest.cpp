// The embedded skin: every bitmap the screens place is there, is a PNG of the
// size its place needs, and nothing else is embedded.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "resources/SkinBitmaps.h"

namespace {

struct Catalogued {
    uint16_t id;
    uint32_t width;
    uint32_t height;
    bool alpha;
};

// The catalogue: ids and sizes the layout tables rely on.
constexpr std::array kCatalogue = {
    Catalogued{200, 480, 588, false}, Catalogued{201, 320, 180, false},
    Catalogued{202, 120, 100, false}, Catalogued{203, 130, 110, false},
    Catalogued{204, 240, 52, false},  Catalogued{205, 120, 100, false},
    Catalogued{206, 120, 100, false}, Catalogued{207, 120, 100, false},
    Catalogued{208, 320, 180, false}, Catalogued{209, 120, 100, false},
    Catalogued{210, 120, 100, false}, Catalogued{211, 120, 100, false},
    Catalogued{212, 120, 100, false}, Catalogued{213, 120, 100, false},
    Catalogued{214, 120, 100, false}, Catalogued{215, 240, 52, false},
    Catalogued{216, 120, 100, false}, Catalogued{217, 120, 100, false},
    Catalogued{218, 120, 60, false},  Catalogued{219, 120, 36, false},
    Catalogued{220, 120, 36, false},  Catalogued{221, 120, 36, false},
    Catalogued{222, 120, 36, false},  Catalogued{223, 120, 36, false},
    Catalogued{224, 120, 36, false},  Catalogued{225, 120, 36, false},
    Catalogued{226, 120, 48, false},  Catalogued{227, 120, 48, false},
    Catalogued{228, 120, 60, false},  Catalogued{229, 120, 60, false},
    Catalogued{230, 120, 36, false},  Catalogued{231, 120, 36, false},
    Catalogued{232, 120, 60, false},  Catalogued{233, 64, 64, true},
    Catalogued{247, 320, 180, false}, Catalogued{248, 130, 110, false},
};

uint32_t BigEndian32(std::span<const uint8_t> bytes, size_t at) {
    return (uint32_t{bytes[at]} << 24) | (uint32_t{bytes[at + 1]} << 16) |
           (uint32_t{bytes[at + 2]} << 8) | uint32_t{bytes[at + 3]};
}

// The PNG signature followed by the IHDR chunk: width, height, depth, colour type.
struct Header {
    bool valid = false;
    uint32_t width = 0;
    uint32_t height = 0;
    uint8_t colourType = 0;
};

Header ReadHeader(std::span<const uint8_t> png) {
    constexpr std::array<uint8_t, 8> kSignature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    Header h;
    if (png.size() < 33 || !std::equal(kSignature.begin(), kSignature.end(), png.begin())) {
        return h;
    }
    if (BigEndian32(png, 8) != 13 || png[12] != 'I' || png[13] != 'H' || png[14] != 'D' ||
        png[15] != 'R') {
        return h;
    }
    h.valid = true;
    h.width = BigEndian32(png, 16);
    h.height = BigEndian32(png, 20);
    h.colourType = png[25];
    return h;
}

// Colour types with an alpha channel: grey+alpha (4) and RGBA (6).
bool HasAlpha(uint8_t colourType) {
    return colourType == 4 || colourType == 6;
}

TEST(SkinBitmaps, EveryCataloguedBitmapIsAPngOfItsSize) {
    for (const Catalogued& c : kCatalogue) {
        SCOPED_TRACE(c.id);
        const auto png = ui::SkinBitmapData(c.id);
        ASSERT_FALSE(png.empty());
        const Header h = ReadHeader(png);
        ASSERT_TRUE(h.valid);
        EXPECT_EQ(h.width, c.width);
        EXPECT_EQ(h.height, c.height);
        EXPECT_EQ(HasAlpha(h.colourType), c.alpha);
        // The file ends with its IEND chunk, so it was embedded whole.
        ASSERT_GE(png.size(), 12u);
        EXPECT_EQ(BigEndian32(png, png.size() - 12), 0u);
        EXPECT_EQ(png[png.size() - 8], 'I');
        EXPECT_EQ(png[png.size() - 5], 'D');
    }
}

TEST(SkinBitmaps, NothingButTheCatalogueIsEmbedded) {
    std::vector<uint16_t> expected;
    for (const Catalogued& c : kCatalogue) {
        expected.push_back(c.id);
    }
    const auto ids = ui::SkinBitmapIds();
    EXPECT_EQ(std::vector<uint16_t>(ids.begin(), ids.end()), expected);
}

TEST(SkinBitmaps, UnknownIdsHaveNoData) {
    for (uint32_t id : {0u, 99u, 199u, 234u, 246u, 249u, 0xFFFFu, 0x100C8u}) {
        SCOPED_TRACE(id);
        EXPECT_TRUE(ui::SkinBitmapData(id).empty());
    }
}

}  // namespace

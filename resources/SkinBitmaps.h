// The skin: every bitmap the screens compose their faces from, embedded in the
// program as PNG files (drawn by platform/ui/skin, written out by
// tools/skinpainter through scripts/draw-skin).
#pragma once

#include <cstdint>
#include <span>

namespace ui {

// The encoded PNG of skin bitmap `id`, or an empty span when there is none.
std::span<const uint8_t> SkinBitmapData(uint32_t id);

// The ids of every embedded skin bitmap, ascending.
std::span<const uint16_t> SkinBitmapIds();

}  // namespace ui

// The skin drawn while the program runs, for a screen whose device pixels
// are not the layout's: the program's resource module draws its bitmaps
// through this (ResourceModule::drawBitmap) instead of scaling the embedded
// PNGs, so the panel is as sharp on a phone as on the handset.
#pragma once

#include <cstdint>

#include "platform/ui/Resources.h"

namespace skinpainter {

// Skin bitmap `id` for `scale` device pixels per layout pixel; false when
// the skin has no such bitmap or the scale is not a drawable one.
bool DrawSkinPixels(uint32_t id, double scale, platform::BitmapPixels& out);

// The program's resource module with DrawSkinPixels as its drawBitmap.
const platform::ResourceModule* ModuleWithSkinArt(const platform::ResourceModule* module);

}  // namespace skinpainter

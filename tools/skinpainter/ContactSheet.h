// The skin's contact sheet: every bitmap on a neutral grey with its id, size
// and meaning underneath, as docs/screenshots/skin-contact-sheet.png shows it.
// The drawing program and the screenshot test make it alike.
#pragma once

#include <QImage>
#include <vector>

#include "platform/ui/skin/SkinPainter.h"

namespace skinpainter {

// Registers the DejaVu Sans faces the sheet's labels are set in, so that the
// sheet does not depend on the system's fonts; false when one is missing.
bool AddLabelFonts();

QImage ContactSheet(const std::vector<SkinBitmap>& skin);

}  // namespace skinpainter

// The program's dialog templates and its resource module: what the entry
// point hands the platform as the instance handle.
#pragma once

#include <cstdint>
#include <span>

#include "platform/ui/Resources.h"

namespace ui {

// The template of that number, or null.
const platform::DialogTemplate* FindDialogTemplate(uint32_t id);
// Every template, in ascending number.
std::span<const platform::DialogTemplate> DialogTemplates();

// The program's module: templates, the string table and the skin bitmaps.
const platform::ResourceModule* ProgramModule();

}  // namespace ui

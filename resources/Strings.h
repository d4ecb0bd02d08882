// The program's string table: every text the user sees, by its number.
#pragma once

#include <cstdint>
#include <string_view>

namespace ui {

// The text of string `id`, or an empty view when there is none.
std::u16string_view ResourceString(uint32_t id);

// Copies string `id` into `buffer` of `capacity` units, cut to fit and always
// zero-terminated; returns the number of units copied (0 for no such string).
int LoadResourceString(uint32_t id, char16_t* buffer, int capacity);

}  // namespace ui

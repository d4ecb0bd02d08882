// Fixed-size UTF-16 text fields: read up to the terminator or the field's end,
// and store text cut to fit with its terminator.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace fieldtext {

// The text of a field, up to its terminator or its last unit when it has none.
std::u16string Read(const char16_t* field, size_t capacity);

// Stores `text` (up to any zero unit in it) into a field of `capacity` units:
// cut to capacity - 1 units, never splitting a surrogate pair, then terminated.
void Store(char16_t* field, size_t capacity, std::u16string_view text);

}  // namespace fieldtext

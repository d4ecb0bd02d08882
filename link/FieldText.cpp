#include "link/FieldText.h"

#include <algorithm>

namespace fieldtext {

std::u16string Read(const char16_t* field, size_t capacity) {
    const char16_t* end = std::find(field, field + capacity, u'\0');
    return std::u16string(field, end);
}

void Store(char16_t* field, size_t capacity, std::u16string_view text) {
    if (capacity == 0) {
        return;
    }
    text = text.substr(0, text.find(u'\0'));
    size_t n = std::min(text.size(), capacity - 1);
    if (n < text.size() && n > 0 && text[n - 1] >= 0xD800 && text[n - 1] < 0xDC00) {
        --n;  // the cut would keep only the first half of a pair
    }
    std::copy_n(text.begin(), n, field);
    std::fill(field + n, field + capacity, u'\0');
}

}  // namespace fieldtext

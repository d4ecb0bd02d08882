#include "platform/ui/Resources.h"

#include <algorithm>

namespace platform {

int LoadString(const ResourceModule* module, uint32_t id, char16_t* buffer, int capacity) {
    if (buffer == nullptr || capacity <= 0) {
        return 0;
    }
    const std::u16string_view text = module != nullptr && module->findString != nullptr
                                         ? module->findString(id)
                                         : std::u16string_view();
    const int n = std::min(static_cast<int>(text.size()), capacity - 1);
    std::copy_n(text.data(), n, buffer);
    buffer[n] = 0;
    return n;
}

}  // namespace platform

// The program's window handle: an identity of our own, never a pointer, so a
// handle kept after its window has ended is harmless.
#pragma once

#include <cstdint>

namespace platform {

struct WindowHandle {
    uint64_t id = 0;
    explicit operator bool() const { return id != 0; }
    friend bool operator==(WindowHandle, WindowHandle) = default;
};

}  // namespace platform

#include "platform/ui/Display.h"

#include <memory>
#include <mutex>

namespace platform {
namespace {

std::mutex g_lock;
std::shared_ptr<DisplayBackend> g_backend;  // null: the real display

}  // namespace

// The real display cannot be rotated by a program here (Qt offers no call for
// it), so, as the design asks of such a platform, it reads as upright and a
// mode cannot be set.
bool GetDisplayMode(DisplayMode& mode) {
    std::shared_ptr<DisplayBackend> backend;
    {
        std::lock_guard guard(g_lock);
        backend = g_backend;
    }
    if (backend && backend->get) {
        return backend->get(mode);
    }
    mode = DisplayMode{0, 480, 640};
    return true;
}

bool SetDisplayMode(const DisplayMode& mode) {
    std::shared_ptr<DisplayBackend> backend;
    {
        std::lock_guard guard(g_lock);
        backend = g_backend;
    }
    if (backend && backend->set) {
        return backend->set(mode);
    }
    return false;
}

void SetDisplayBackend(DisplayBackend backend) {
    std::lock_guard guard(g_lock);
    g_backend = (backend.get || backend.set) ? std::make_shared<DisplayBackend>(std::move(backend))
                                             : nullptr;
}

}  // namespace platform

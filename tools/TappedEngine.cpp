#include "tools/TappedEngine.h"

#include <utility>

CTappedEngine::CTappedEngine(FrameListener listener, FrameListener sent)
    : listener_(std::move(listener)), sent_(std::move(sent)) {}

void CTappedEngine::WritePort(const uint8_t* frame, uint32_t length) {
    if (sent_) {
        sent_(std::span<const uint8_t>(frame, length));
    }
    CCtpEngine::WritePort(frame, length);
}

bool CTappedEngine::ReadPort(uint8_t* dest, uint32_t count, uint32_t* got) {
    const bool ok = CCtpEngine::ReadPort(dest, count, got);
    // The engine refuses a read that claims more than it asked for; so does the listener.
    if (*got > 0 && *got <= count) {
        decoder_.Feed(std::span<const uint8_t>(dest, *got));
        while (const auto frame = decoder_.Next()) {
            listener_(*frame);
        }
    }
    if (!ok) {
        // A lost line: what was half read of it never completes.
        decoder_ = sim::FrameDecoder{};
    }
    return ok;
}

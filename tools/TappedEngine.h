// The program's exchange engine with a listener on its receive path: every
// whole frame the engine reads from the camera is also handed, byte for byte,
// to a callback, before the engine delivers it; likewise, if asked, every
// frame it writes. The tools use it to follow the camera's answers and time
// the exchanges without changing what the engine does with them.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "ctp/CtpEngine.h"
#include "sim/Wire.h"

class CTappedEngine : public CCtpEngine {
public:
    // Runs on the engine's receiver thread, once per frame, in arrival order.
    using FrameListener = std::function<void(std::span<const uint8_t> frame)>;

    // `sent`, when given, sees every frame the engine writes, on the sender
    // thread, just before it goes to the port.
    explicit CTappedEngine(FrameListener listener, FrameListener sent = {});

protected:
    bool ReadPort(uint8_t* dest, uint32_t count, uint32_t* got) override;
    void WritePort(const uint8_t* frame, uint32_t length) override;

private:
    FrameListener listener_;
    FrameListener sent_;
    // Touched only by the receiver thread, which alone calls ReadPort.
    sim::FrameDecoder decoder_;
};

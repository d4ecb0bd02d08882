// The program's exchange engine with a listener on its receive path: every
// whole frame the engine reads from the camera is also handed, byte for byte,
// to a callback, before the engine delivers it. The demo uses it to follow
// the camera's answers without changing what the engine does with them.
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

    explicit CTappedEngine(FrameListener listener);

protected:
    bool ReadPort(uint8_t* dest, uint32_t count, uint32_t* got) override;

private:
    FrameListener listener_;
    // Touched only by the receiver thread, which alone calls ReadPort.
    sim::FrameDecoder decoder_;
};

// A message box that closes by itself: shown on a short-lived thread of its
// own while its creator goes on (the save flow writes the file meanwhile).
#pragma once

#include <cstdint>
#include <memory>

#include "platform/kernel/Kernel.h"

class CCaptureSaveDialog {
public:
    // `caption` and `text` are borrowed: they must stay valid until Start returns.
    CCaptureSaveDialog(const char16_t* caption, const char16_t* text, uint32_t seconds);
    // Neither stops the thread nor waits for the box: it closes by its timer.
    virtual ~CCaptureSaveDialog();
    CCaptureSaveDialog(const CCaptureSaveDialog&) = delete;
    CCaptureSaveDialog& operator=(const CCaptureSaveDialog&) = delete;

    // Starts the box's thread, waits until its box is on the screen, then
    // 100 ms more, with the windows kept live. False when the thread cannot
    // be created.
    bool Start();

private:
    std::unique_ptr<platform::Thread> thread_;
    const char16_t* caption_;
    const char16_t* text_;
    uint32_t seconds_;
};

// The base of every screen: its resource module, window procedure, window,
// lazily loaded skin bitmap and the services its procedure calls on.
//
// A screen derives from CDialogBase, sets `skinBitmapId` when it has a skin,
// implements DoModal as DoModalTemplate(its template, dialogProc), and writes
// its window procedure as a free function that finds the screen through
// AppRegistry and follows the conventions: OnActivate for activation,
// PaintSkin for paint, OnWindowPosChanged for position changes and
// OnInitDialog first at dialog initialisation.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/ui/Dialog.h"
#include "platform/ui/Graphics.h"

class CDialogBase {
public:
    CDialogBase() = default;
    virtual ~CDialogBase();
    CDialogBase(const CDialogBase&) = delete;
    CDialogBase& operator=(const CDialogBase&) = delete;

    // Stores the instance; stores the procedure only when one is given.
    virtual void Init(platform::InstanceHandle instanceHandle, platform::DialogProcedure proc);
    virtual int DoModal() = 0;
    // -1 without instance or procedure; otherwise the value the procedure ended the dialog with.
    virtual int DoModalTemplate(int templateId, platform::DialogProcedure proc);

    // The skin, loaded on first use; null (and tried again next time) when there is none.
    platform::Bitmap* GetSkinBitmap();
    void SetWindowHandle(platform::WindowHandle handle);
    int GetSkipNextPaint() const { return skipNextPaint; }
    void SetSkipNextPaint(int value) { skipNextPaint = value; }
    // Texts from the string table, at most 256 characters.
    void SetTitle(int stringId);
    void SetItemText(int controlId, int stringId);
    // Box styles 0 (OK) and 4 (Yes/No); returns 1 (OK), 6 (YES) or 7 (NO).
    int ShowMessage(int captionId, int textId, int boxStyle);
    // 1: the wait cursor; anything else: the arrow.
    void SetWaitCursor(int wait);
    // The display's rotation in degrees (0 upright portrait); 0 when it cannot be read.
    static int GetDisplayOrientation();
    // Turns the display upright, swapping width and height after a quarter turn.
    static void ForcePortrait();
    void OnWindowPosChanged(platform::WindowHandle handle, const platform::WindowPosition* pos);

    // The conventions every screen's procedure follows.
    void OnActivate(platform::WindowHandle handle);
    // Paints the skin (black without one); with `honourSkip`, a set skipNextPaint
    // is cleared instead and nothing is painted.
    void PaintSkin(platform::WindowHandle handle, bool honourSkip = true);
    // Shell initialisation, portrait, window handle and title, in this order.
    void OnInitDialog(platform::WindowHandle handle);
    // Activation, paint and window position as the conventions have them;
    // true when `message` was one of the three (the procedure returns 0).
    bool HandleConventions(platform::WindowHandle handle, uint32_t message, intptr_t lParam);

    platform::InstanceHandle instance = nullptr;
    platform::DialogProcedure dialogProc = nullptr;
    std::unique_ptr<platform::Bitmap> skinBitmap;
    uint16_t skinBitmapId = 0xFFFF;
    int skipNextPaint = 0;
    platform::WindowHandle window;
};

// The window-position flags the screens look at.
inline constexpr uint32_t kPosFlagsRestacked = 0x213;  // no size, move, activation, owner order
inline constexpr uint32_t kPosFlagsResized = 0x16;     // no move, order or activation
// The shell's dialog-initialisation flags: Done button, input panel down, full screen.
inline constexpr uint32_t kShellDialogFlags = 25;
// The shell's full-screen state that hides the input-panel button.
inline constexpr uint32_t kShellHideInputButton = 8;

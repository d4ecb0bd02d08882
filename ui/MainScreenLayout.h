// Where every picture of the main remote-control panel sits. The panel is
// 480 x 588 layout pixels with its origin at the top left; each row names a
// skin bitmap, the point its top left corner is copied to, and the size the
// pen is tested against (a bitmap is always drawn at its own size).
#pragma once

#include <cstdint>

namespace ui {

// One row of a layout table. The bitmap id doubles as the control's id.
struct SkinPart {
    uint16_t bitmapId;  // 0: an empty row, never loaded or drawn
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
};

struct LayoutRect {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};

// The panel's size in layout pixels.
inline constexpr int32_t kPanelWidth = 480;
inline constexpr int32_t kPanelHeight = 588;

// Bitmap ids of the panel's controls and pictures.
namespace panel {
inline constexpr int kWideButton = 202;      // W, cursor down; key 6
inline constexpr int kExitBar = 204;         // asks whether to close
inline constexpr int kForwardButton = 205;   // fast forward, cursor right; key 5
inline constexpr int kGpsButton = 206;       // switches GPS sending
inline constexpr int kIndexButton = 207;     // key 7
inline constexpr int kPlayButton = 209;      // key 4
inline constexpr int kRecordButton = 210;    // key 0
inline constexpr int kPauseButton = 211;     // key 1
inline constexpr int kRewindButton = 212;    // rewind, cursor left; key 3
inline constexpr int kSnapshotButton = 213;  // still photo; key 8
inline constexpr int kTeleButton = 214;      // T, cursor up; key 2
inline constexpr int kVersionBar = 215;      // opens the version screen
inline constexpr int kLiveViewButton = 247;  // the preview area in video recording mode
inline constexpr int kCaptureButton = 248;   // the preview area in the playback modes
// Not a control: a press that is refused holds this until the pen is lifted.
inline constexpr int kRefusedPress = 99;
}  // namespace panel

// Rows 0 to 11 are the touchable controls, 12 to 16 the pictures of the
// preview area, 17 is empty.
inline constexpr int kPanelControlRows = 12;
inline constexpr int kPanelRowCapture = 12;  // + previewState 0 to 4
inline constexpr int kPanelRowLiveView = 14;
inline constexpr int kNoRow = 99;

inline constexpr SkinPart PanelLayout[18] = {
    {213, 0, 236, 120, 100},    // snapshot, pressed
    {214, 120, 236, 120, 100},  // T, pressed
    {211, 240, 236, 120, 100},  // pause, pressed
    {210, 360, 236, 120, 100},  // record, pressed
    {212, 0, 336, 120, 100},    // fast rewind, pressed
    {209, 120, 336, 120, 100},  // play, pressed
    {205, 240, 336, 120, 100},  // fast forward, pressed
    {207, 0, 436, 120, 100},    // index, pressed
    {202, 120, 436, 120, 100},  // W, pressed
    {206, 240, 436, 120, 100},  // GPS, pressed
    {215, 0, 536, 240, 52},     // Ver. bar, pressed
    {204, 240, 536, 240, 52},   // Exit bar, pressed
    {248, 115, 69, 130, 110},   // capture button at rest
    {203, 115, 69, 130, 110},   // capture button pressed
    {247, 20, 28, 320, 180},    // live-view button at rest
    {208, 20, 28, 320, 180},    // live-view button pressed
    {201, 20, 28, 320, 180},    // live view starting
    {0, 0, 0, 0, 0},            // empty
};

// Rows 0 to 9 cover the ten key buttons; then the mode captions (10 +
// mode), the recording state (14 + state), the battery (16 + indicator)
// and the GPS state (23 + status; 23 itself is empty).
inline constexpr int kOverlayCoverRows = 10;
inline constexpr int kOverlayRowMode = 10;
inline constexpr int kOverlayRowRecord = 14;
inline constexpr int kOverlayRowBattery = 16;
inline constexpr int kOverlayRowGps = 23;

inline constexpr SkinPart OverlayLayout[26] = {
    {217, 0, 236, 120, 100},    // blank over snapshot
    {217, 120, 236, 120, 100},  // blank over T
    {217, 240, 236, 120, 100},  // blank over pause
    {217, 360, 236, 120, 100},  // blank over record
    {217, 0, 336, 120, 100},    // blank over fast rewind
    {217, 120, 336, 120, 100},  // blank over play
    {217, 240, 336, 120, 100},  // blank over fast forward
    {216, 0, 436, 120, 100},    // blank (lower row) over index
    {216, 120, 436, 120, 100},  // blank over W
    {216, 240, 436, 120, 100},  // blank over GPS
    {218, 360, 28, 120, 60},    // VIDEO REC MODE
    {232, 360, 28, 120, 60},    // VIDEO PLAY MODE
    {229, 360, 28, 120, 60},    // STILL IMAGE REC MODE
    {228, 360, 28, 120, 60},    // STILL IMAGE PLAY MODE
    {231, 360, 88, 120, 36},    // standby
    {230, 360, 88, 120, 36},    // recording
    {219, 360, 124, 120, 36},   // mains plug
    {225, 360, 124, 120, 36},   // battery level 0
    {224, 360, 124, 120, 36},   // level 1
    {223, 360, 124, 120, 36},   // level 2
    {222, 360, 124, 120, 36},   // level 3
    {221, 360, 124, 120, 36},   // level 4
    {220, 360, 124, 120, 36},   // level 5
    {0, 0, 0, 0, 0},            // GPS off: nothing
    {227, 360, 160, 120, 60},   // GPS sending with a position
    {226, 360, 160, 120, 60},   // GPS sending without a position
};

// Live-view images are drawn scaled into this rectangle (320 x 180).
inline constexpr LayoutRect PreviewRect = {20, 28, 340, 208};

// Strictly inside: a point on a row's border line belongs to no row.
constexpr bool IsStrictlyInside(const SkinPart& part, int32_t x, int32_t y) {
    return part.x < x && x < part.x + part.width && part.y < y && y < part.y + part.height;
}

}  // namespace ui

// Where every picture of the main remote-control panel sits. The panel is
// 480 x 588 layout pixels with its origin at the top left; each row names a
// skin bitmap, the point its top left corner is copied to, and the size the
// pen is tested against (a bitmap is always drawn at its own size).
#pragma once

#include <cstdint>

#include "resources/ResourceIds.h"

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

// The panel's controls, named for their role; each is its pressed bitmap.
namespace panel {
inline constexpr int kWideButton = res::kBmpZoomWide;            // W, cursor down; key 6
inline constexpr int kExitBar = res::kBmpExitPressed;            // asks whether to close
inline constexpr int kForwardButton = res::kBmpFastForward;      // cursor right; key 5
inline constexpr int kGpsButton = res::kBmpGps;                  // switches GPS sending
inline constexpr int kIndexButton = res::kBmpIndex;              // key 7
inline constexpr int kPlayButton = res::kBmpPlay;                // key 4
inline constexpr int kRecordButton = res::kBmpRecord;            // key 0
inline constexpr int kPauseButton = res::kBmpPause;              // key 1
inline constexpr int kRewindButton = res::kBmpRewind;            // cursor left; key 3
inline constexpr int kSnapshotButton = res::kBmpSnapshot;        // still photo; key 8
inline constexpr int kTeleButton = res::kBmpZoomTele;            // T, cursor up; key 2
inline constexpr int kVersionBar = res::kBmpVersionPressed;      // opens the version screen
inline constexpr int kLiveViewButton = res::kBmpLiveViewAtRest;  // preview, video recording
inline constexpr int kCaptureButton = res::kBmpCaptureAtRest;    // preview, playback modes
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
    {res::kBmpSnapshot, 0, 236, 120, 100},          // snapshot, pressed
    {res::kBmpZoomTele, 120, 236, 120, 100},        // T, pressed
    {res::kBmpPause, 240, 236, 120, 100},           // pause, pressed
    {res::kBmpRecord, 360, 236, 120, 100},          // record, pressed
    {res::kBmpRewind, 0, 336, 120, 100},            // fast rewind, pressed
    {res::kBmpPlay, 120, 336, 120, 100},            // play, pressed
    {res::kBmpFastForward, 240, 336, 120, 100},     // fast forward, pressed
    {res::kBmpIndex, 0, 436, 120, 100},             // index, pressed
    {res::kBmpZoomWide, 120, 436, 120, 100},        // W, pressed
    {res::kBmpGps, 240, 436, 120, 100},             // GPS, pressed
    {res::kBmpVersionPressed, 0, 536, 240, 52},     // Ver. bar, pressed
    {res::kBmpExitPressed, 240, 536, 240, 52},      // Exit bar, pressed
    {res::kBmpCaptureAtRest, 115, 69, 130, 110},    // capture button at rest
    {res::kBmpCapturePressed, 115, 69, 130, 110},   // capture button pressed
    {res::kBmpLiveViewAtRest, 20, 28, 320, 180},    // live-view button at rest
    {res::kBmpLiveViewPressed, 20, 28, 320, 180},   // live-view button pressed
    {res::kBmpLiveViewStarting, 20, 28, 320, 180},  // live view starting
    {0, 0, 0, 0, 0},                                // empty
};

// Rows 0 to 9 cover the ten key buttons; then the mode captions (10 +
// mode), the recording state (14 + state), the battery (16 + indicator)
// and the GPS state (23 + status; 23 itself is empty).
inline constexpr int kOverlayCoverRows = 10;
inline constexpr int kOverlayRowCoverSnapshot = 0;  // covers the snapshot button
inline constexpr int kOverlayRowCoverGps = 9;       // covers the GPS button
inline constexpr int kOverlayRowMode = 10;
inline constexpr int kOverlayRowRecord = 14;
inline constexpr int kOverlayRowBattery = 16;
inline constexpr int kOverlayRowGps = 23;

inline constexpr SkinPart OverlayLayout[26] = {
    {res::kBmpTileUpper, 0, 236, 120, 100},      // blank over snapshot
    {res::kBmpTileUpper, 120, 236, 120, 100},    // blank over T
    {res::kBmpTileUpper, 240, 236, 120, 100},    // blank over pause
    {res::kBmpTileUpper, 360, 236, 120, 100},    // blank over record
    {res::kBmpTileUpper, 0, 336, 120, 100},      // blank over fast rewind
    {res::kBmpTileUpper, 120, 336, 120, 100},    // blank over play
    {res::kBmpTileUpper, 240, 336, 120, 100},    // blank over fast forward
    {res::kBmpTileLower, 0, 436, 120, 100},      // blank (lower row) over index
    {res::kBmpTileLower, 120, 436, 120, 100},    // blank over W
    {res::kBmpTileLower, 240, 436, 120, 100},    // blank over GPS
    {res::kBmpModeVideoRec, 360, 28, 120, 60},   // VIDEO REC MODE
    {res::kBmpModeVideoPlay, 360, 28, 120, 60},  // VIDEO PLAY MODE
    {res::kBmpModeStillRec, 360, 28, 120, 60},   // STILL IMAGE REC MODE
    {res::kBmpModeStillPlay, 360, 28, 120, 60},  // STILL IMAGE PLAY MODE
    {res::kBmpStandby, 360, 88, 120, 36},        // standby
    {res::kBmpRecording, 360, 88, 120, 36},      // recording
    {res::kBmpMainsPower, 360, 124, 120, 36},    // mains plug
    {res::kBmpBattery0, 360, 124, 120, 36},      // battery level 0
    {res::kBmpBattery1, 360, 124, 120, 36},      // level 1
    {res::kBmpBattery2, 360, 124, 120, 36},      // level 2
    {res::kBmpBattery3, 360, 124, 120, 36},      // level 3
    {res::kBmpBattery4, 360, 124, 120, 36},      // level 4
    {res::kBmpBattery5, 360, 124, 120, 36},      // level 5
    {0, 0, 0, 0, 0},                             // GPS off: nothing
    {res::kBmpGpsSending, 360, 160, 120, 60},    // GPS sending with a position
    {res::kBmpGpsNoFix, 360, 160, 120, 60},      // GPS sending without a position
};

// Live-view images are drawn scaled into this rectangle (320 x 180).
inline constexpr LayoutRect PreviewRect = {20, 28, 340, 208};

// Strictly inside: a point on a row's border line belongs to no row.
constexpr bool IsStrictlyInside(const SkinPart& part, int32_t x, int32_t y) {
    return part.x < x && x < part.x + part.width && part.y < y && y < part.y + part.height;
}

}  // namespace ui

// The main screen's decisions: which control a pen position hits in each
// mode, what a press and a release ask of the controllers, and how the
// indicators and the preview area follow the camera state.
#include <gtest/gtest.h>

#include <new>
#include <string>
#include <vector>

#include "core/CameraState.h"
#include "platform/kernel/Kernel.h"
#include "platform/ui/WindowMessages.h"
#include "tests/ui/PanelTestSupport.h"
#include "ui/EstablishDialog.h"
#include "ui/MainScreenLayout.h"

namespace {

using Calls = std::vector<std::string>;

CameraStateSnapshot InMode(uint16_t mode, uint16_t operationState = 0) {
    CameraStateSnapshot s{};
    s.mode = mode;
    s.operationState = operationState;
    return s;
}

// The centre of each touchable row, and the id it stands for.
struct Control {
    int row;
    int id;
    int x;
    int y;
};
const Control kControls[] = {
    {0, 213, 60, 286},  {1, 214, 180, 286}, {2, 211, 300, 286},  {3, 210, 420, 286},
    {4, 212, 60, 386},  {5, 209, 180, 386}, {6, 205, 300, 386},  {7, 207, 60, 486},
    {8, 202, 180, 486}, {9, 206, 300, 486}, {10, 215, 120, 562}, {11, 204, 360, 562},
};

TEST(PanelHitTest, EveryControlInEveryMode) {
    for (uint16_t mode = 0; mode < 4; ++mode) {
        for (const Control& c : kControls) {
            SCOPED_TRACE("mode " + std::to_string(mode) + " id " + std::to_string(c.id));
            CCameraState state;
            uitest::RecordingRequests requests;
            CEstablishDialog screen(&state, &requests);
            int id = -1;
            const bool refused =
                (mode == 0 && c.id == 213) || ((mode == 1 || mode == 3) && c.id == 206);
            const int hit = screen.HitTestPanel(InMode(mode), c.x, c.y, &id);
            if (refused) {
                EXPECT_EQ(hit, 0);
                EXPECT_EQ(id, 0);
                EXPECT_EQ(screen.PressedRow(), 99);
            } else {
                EXPECT_EQ(hit, 1);
                EXPECT_EQ(id, c.id);
                EXPECT_EQ(screen.PressedRow(), c.row);
            }
        }
    }
}

TEST(PanelHitTest, BorderLinesBelongToNoControl) {
    const std::pair<int, int> kBorders[] = {
        {120, 286},  // snapshot | T
        {360, 286},  // pause | record
        {60, 336},   // snapshot over rewind
        {180, 436},  // play over W
        {240, 560},  // Ver. | Exit
        {120, 536},  // index over the Ver. bar
        {0, 286},    // the panel's left edge
        {420, 236},  // the top of record
        {479, 286},  // inside record, one short of its right edge
    };
    for (const auto& [x, y] : kBorders) {
        SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
        CCameraState state;
        uitest::RecordingRequests requests;
        CEstablishDialog screen(&state, &requests);
        int id = 0;
        const int hit = screen.HitTestPanel(InMode(2), x, y, &id);
        if (x == 479) {
            EXPECT_EQ(hit, 1);  // the strict test is not off by one inside
            EXPECT_EQ(id, 210);
        } else {
            EXPECT_EQ(hit, 0);
            EXPECT_EQ(screen.PressedRow(), 99);
        }
    }
}

TEST(PanelHitTest, AMissLeavesThePressedRowAsItWas) {
    CCameraState state;
    uitest::RecordingRequests requests;
    CEstablishDialog screen(&state, &requests);
    int id = 0;
    ASSERT_EQ(screen.HitTestPanel(InMode(0), 420, 286, &id), 1);
    EXPECT_EQ(screen.HitTestPanel(InMode(0), 100, 100, &id), 0);
    EXPECT_EQ(screen.PressedRow(), 3);
}

TEST(PanelHitTest, ThePreviewAreaByMode) {
    struct Case {
        uint16_t mode;
        int x, y;
        int hit, id, previewState;
    };
    const Case kCases[] = {
        {0, 21, 29, 1, 247, 3},                          // live-view area, just inside
        {0, 339, 207, 1, 247, 3},                        // its far corner, just inside
        {0, 20, 100, 0, 0, 2},                           // on its left border
        {0, 180, 120, 1, 247, 3},                        // over the capture button's place
        {1, 116, 70, 1, 248, 1},                         // capture button, just inside
        {3, 180, 124, 1, 248, 1}, {1, 30, 40, 0, 0, 2},  // preview area outside the capture button
        {3, 245, 120, 0, 0, 2},                          // on the capture button's right border
        {2, 180, 120, 0, 0, 2},                          // still recording: no target
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE("mode " + std::to_string(c.mode) + " at " + std::to_string(c.x) + "," +
                     std::to_string(c.y));
        CCameraState state;
        uitest::RecordingRequests requests;
        CEstablishDialog screen(&state, &requests);
        screen.SetPreviewState(2);
        int id = 0;
        EXPECT_EQ(screen.HitTestPreview(InMode(c.mode), c.x, c.y, &id), c.hit);
        EXPECT_EQ(id, c.id);
        EXPECT_EQ(screen.PreviewStateValue(), c.previewState);
    }
}

// A screen over a camera state and a recording of its requests, with a
// window of the test thread that records the messages the screen sends
// itself.
class PanelPressTest : public ::testing::Test {
protected:
    void SetUp() override {
        window_ = platform::CreateMessageWindow(
            [this](platform::WindowHandle, uint32_t message, uintptr_t, intptr_t) -> intptr_t {
                selfMessages_.push_back(message);
                return 0;
            });
        screen_.InitPanel();
        screen_.SetWindowHandle(window_);
    }
    void TearDown() override { platform::DestroyMessageWindow(window_); }

    void SetCamera(uint16_t mode, uint16_t operationState) {
        state_.SetMode(mode);
        state_.SetOperationState(operationState);
        CameraStateSnapshot s{};
        state_.GetSnapshot(&s);
        screen_.UpdateFromState(s);
    }
    // A press and release at one point: the requests each made.
    std::pair<Calls, Calls> Tap(int x, int y) {
        requests_.calls.clear();
        screen_.Press(x, y);
        Calls down = requests_.calls;
        requests_.calls.clear();
        screen_.Release();
        return {down, requests_.calls};
    }

    CCameraState state_;
    uitest::RecordingRequests requests_;
    CEstablishDialog screen_{&state_, &requests_};
    platform::WindowHandle window_;
    std::vector<uint32_t> selfMessages_;
};

TEST_F(PanelPressTest, EachControlsRequestsByModeAndBusyState) {
    struct Case {
        uint16_t mode;
        uint16_t operationState;
        int x, y;
        Calls down;
        Calls up;
        std::vector<uint32_t> messages;
    };
    const Calls none;
    const Case kCases[] = {
        // Key buttons hold their key while the pen is down.
        {2, 0, 420, 286, {"KeyDown 210"}, {"KeyUp"}, {}},
        {2, 0, 60, 286, {"KeyDown 213"}, {"KeyUp"}, {}},
        {0, 1, 180, 486, {"KeyDown 202"}, {"KeyUp"}, {}},
        {1, 0, 300, 386, {"KeyDown 205"}, {"KeyUp"}, {}},
        // The refused ones do nothing at all.
        {0, 0, 60, 286, none, none, {}},
        {1, 0, 300, 486, none, none, {}},
        {3, 0, 300, 486, none, none, {}},
        // GPS switches at pen down; the release only repaints.
        {0, 0, 300, 486, {"SwitchGps"}, none, {}},
        {2, 0, 300, 486, {"SwitchGps"}, none, {}},
        // The preview area acts when the pen is lifted.
        {0, 0, 100, 100, none, {"SwitchLiveView"}, {}},
        {1, 0, 180, 124, none, {"Capture"}, {}},
        {3, 0, 30, 40, none, none, {}},  // outside the capture button
        {2, 0, 100, 100, none, none, {}},
        // The bars send the screen its own messages.
        {0, 0, 120, 562, none, none, {0x8065}},
        {0, 0, 360, 562, none, none, {0x8066}},
        // Busy (video recording in quick-start standby; shooting in the
        // other modes): no key goes out, yet the release still stops one;
        // the bars work; the preview ignores the pen.
        {0, 2, 420, 286, none, {"KeyUp"}, {}},
        {1, 1, 180, 386, none, {"KeyUp"}, {}},
        {2, 1, 300, 486, none, none, {}},
        {0, 2, 100, 100, none, none, {}},
        {3, 1, 180, 124, none, none, {}},
        {1, 1, 120, 562, none, none, {0x8065}},
        {2, 1, 360, 562, none, none, {0x8066}},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE("mode " + std::to_string(c.mode) + " state " +
                     std::to_string(c.operationState) + " at " + std::to_string(c.x) + "," +
                     std::to_string(c.y));
        SetCamera(c.mode, c.operationState);
        selfMessages_.clear();
        const auto [down, up] = Tap(c.x, c.y);
        EXPECT_EQ(down, c.down);
        EXPECT_EQ(up, c.up);
        EXPECT_EQ(selfMessages_, c.messages);
        EXPECT_EQ(screen_.PressedId(), 0);
        EXPECT_EQ(screen_.PressedRow(), 99);
    }
}

TEST_F(PanelPressTest, APressOnNothingChangesNothingAndAsksNoRepaint) {
    SetCamera(0, 0);
    EXPECT_FALSE(screen_.Press(400, 100));  // the indicators are no control
    EXPECT_FALSE(screen_.Press(120, 286));  // a border line
    EXPECT_EQ(screen_.PressedId(), 0);
    EXPECT_TRUE(requests_.calls.empty());
    EXPECT_FALSE(screen_.Release());
}

TEST_F(PanelPressTest, APressShowsThePressedPictureUntilRelease) {
    SetCamera(0, 0);
    EXPECT_TRUE(screen_.Press(420, 286));
    EXPECT_EQ(screen_.PressedId(), 210);
    EXPECT_EQ(screen_.PressedRow(), 3);
    EXPECT_TRUE(screen_.Release());
    EXPECT_EQ(screen_.PressedRow(), 99);

    EXPECT_TRUE(screen_.Press(100, 100));
    EXPECT_EQ(screen_.PreviewStateValue(), CEstablishDialog::kPreviewLiveViewPressed);
}

TEST_F(PanelPressTest, ABusyPressOnThePreviewIsHeldAsRefused) {
    SetCamera(1, 1);
    EXPECT_TRUE(screen_.Press(180, 124));
    EXPECT_EQ(screen_.PressedId(), 99);
    EXPECT_FALSE(screen_.Release());
}

TEST_F(PanelPressTest, FocusLostWhileAKeyIsHeldStopsItAndThePenUpStopsItAgain) {
    SetCamera(0, 0);
    screen_.Press(420, 286);
    requests_.calls.clear();
    screen_.OnFocusLost();
    EXPECT_EQ(requests_.calls, (Calls{"CloseBackdrop", "KeyUp"}));
    EXPECT_EQ(screen_.PressedRow(), 99);
    EXPECT_EQ(screen_.PressedId(), 210);
    requests_.calls.clear();
    EXPECT_TRUE(screen_.Release());
    EXPECT_EQ(requests_.calls, (Calls{"KeyUp"}));
}

TEST_F(PanelPressTest, ThePenIsMappedThroughTheFitter) {
    SetCamera(0, 0);
    screen_.SetFitter(std::make_unique<CScreenFitter>(CScreenFitter::ClientRect{0, 0, 480, 640}));
    // (60, 300) on the window is (60, 274) on the panel: inside snapshot,
    // which mode 0 refuses; (420, 300) is record.
    EXPECT_FALSE(screen_.Press(60, 300));
    EXPECT_TRUE(screen_.Press(420, 300));
    EXPECT_EQ(requests_.calls, (Calls{"KeyDown 210"}));
    // 262 maps to 236, record's top border.
    screen_.Release();
    EXPECT_FALSE(screen_.Press(420, 262));
}

TEST(PanelStateTest, IndicatorsFollowTheSnapshot) {
    struct Case {
        CameraStateSnapshot s;
        int mode, record, battery, gps;
    };
    // Fields: mode, operationState, acPower, batteryAttached, responseWord,
    // batteryLevel, gpsStatus, monitorActive, captureActive.
    const Case kCases[] = {
        {{0, 1, 0, 1, 0, 5, 0, 0, 0}, 0, 1, 6, 0},  // level 5 without mains: row 22
        {{0, 0, 1, 1, 0, 5, 1, 0, 0}, 0, 0, 0, 1},  // mains wins over any level
        {{0, 2, 0, 1, 0, 0, 2, 0, 0}, 0, 2, 1, 2},
        {{2, 1, 0, 1, 0, 3, 0, 0, 0}, 2, 7, 4, 0},  // not mode 0: record kept
    };
    for (const Case& c : kCases) {
        CCameraState state;
        uitest::RecordingRequests requests;
        CEstablishDialog screen(&state, &requests);
        screen.UpdateFromState({0, 7, 0, 0, 0, 0, 0, 0, 0});  // record indicator 7
        screen.UpdateFromState(c.s);
        EXPECT_EQ(screen.ModeIndicator(), c.mode);
        EXPECT_EQ(screen.RecordIndicator(), c.record);
        EXPECT_EQ(screen.BatteryIndicator(), c.battery);
        EXPECT_EQ(screen.GpsIndicator(), c.gps);
    }
}

TEST(PanelStateTest, ThePreviewAreaFollowsTheMode) {
    struct Case {
        int before;
        uint16_t mode;
        uint16_t monitorActive;
        int after;
    };
    const Case kCases[] = {
        {0, 0, 0, 2},  {1, 0, 1, 5}, {3, 0, 0, 2},  {99, 0, 1, 5},
        {99, 0, 0, 2}, {4, 0, 0, 4}, {5, 0, 0, 5},  {4, 0, 1, 4},  // starting and image stay
        {5, 1, 0, 0},  {3, 3, 0, 0}, {2, 2, 0, 99}, {5, 2, 1, 99},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(std::to_string(c.before) + " in mode " + std::to_string(c.mode));
        CCameraState state;
        uitest::RecordingRequests requests;
        CEstablishDialog screen(&state, &requests);
        screen.SetPreviewState(c.before);
        CameraStateSnapshot s{};
        s.mode = c.mode;
        s.monitorActive = c.monitorActive;
        screen.UpdateFromState(s);
        EXPECT_EQ(screen.PreviewStateValue(), c.after);
    }
}

TEST(PanelStateTest, LiveViewMessagesMoveThePreviewAndTheImage) {
    CCameraState state;
    uitest::RecordingRequests requests;
    CEstablishDialog screen(&state, &requests);
    screen.InitPanel();

    // After live view is off a frame message neither takes the image nor repaints.
    requests.nextImage = {1, 2, 3};
    EXPECT_FALSE(screen.OnMonitorFrame());
    EXPECT_TRUE(requests.calls.empty());

    state.SetMonitorActive(1);
    EXPECT_TRUE(screen.OnMonitorStarting());
    EXPECT_EQ(screen.PreviewStateValue(), 4);
    EXPECT_TRUE(screen.OnMonitorFrame());
    EXPECT_EQ(screen.PreviewStateValue(), 5);
    EXPECT_EQ(screen.FrameSize(), 3u);
    // No new image: the last one stays.
    EXPECT_TRUE(screen.OnMonitorFrame());
    EXPECT_EQ(screen.FrameSize(), 3u);
    EXPECT_EQ(requests.calls, (Calls{"TakeImage", "TakeImage"}));

    EXPECT_TRUE(screen.OnMonitorStopped());
    EXPECT_EQ(screen.PreviewStateValue(), 2);
    EXPECT_EQ(screen.FrameSize(), 0u);
}

}  // namespace

namespace {

TEST(PanelStateTest, AFrameLockThatCannotBeMadeFailsInitialisation) {
    CCameraState state;
    uitest::RecordingRequests requests;
    CEstablishDialog screen(&state, &requests);
    platform::FailNextCreations(1);
    EXPECT_THROW(screen.InitPanel(), std::bad_alloc);
    screen.InitPanel();  // the next attempt makes it
    EXPECT_EQ(screen.FrameSize(), 0u);
}

}  // namespace

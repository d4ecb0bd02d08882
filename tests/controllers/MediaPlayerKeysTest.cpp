// The media-player methods and properties without a bus: what each method
// puts on channel 3 in each state, what is refused while the panel is
// locked, and what the interface shows for every mode and operating state.
#include <gtest/gtest.h>

#include <optional>

#include "controllers/CamCmdController.h"
#include "controllers/MediaPlayerKeys.h"
#include "ctp/CtpOpcodes.h"
#include "tests/controllers/ControllerFixture.h"

namespace controllertest {
namespace {

using platform::mpris::PlayerMethod;

class MediaPlayerKeysTest : public ControllerFixture {
protected:
    void SetUp() override {
        ControllerFixture::SetUp();
        commands_ = KeepForever(new CCamCmdController(Services()));
        ASSERT_EQ(commands_->Start(), 1);
        keys_ = KeepForever(new CMediaPlayerKeys(state_, commands_));
    }

    size_t KeysReceived() const { return ReceivedWith(CTP_CAMCMD).size(); }
    // One method; when it sends, waits for the key and its answer, so that
    // the next method's tap does not replace it.
    void Call(PlayerMethod method, bool sends) {
        const size_t before = KeysReceived();
        keys_->OnMethod(method);
        if (sends) {
            ASSERT_TRUE(PumpUntil([&] { return KeysReceived() > before; }));
            ASSERT_TRUE(PumpUntil([&] { return SentOn(3).size() > before; }));
        }
    }

    CCamCmdController* commands_ = nullptr;
    CMediaPlayerKeys* keys_ = nullptr;
};

TEST_F(MediaPlayerKeysTest, EachMethodTapsItsKeyOnceWithTheCamerasModeAndState) {
    const struct {
        PlayerMethod method;
        uint16_t mode;
        uint16_t state;
        std::optional<uint8_t> key;  // none: nothing goes out
    } table[] = {
        {PlayerMethod::PlayPause, 0, 0, 0},  // record
        {PlayerMethod::PlayPause, 0, 1, 0},  // record again stops
        {PlayerMethod::Pause, 0, 1, 1},
        {PlayerMethod::Next, 0, 0, 2},      // zoom T
        {PlayerMethod::Previous, 0, 0, 6},  // zoom W
        {PlayerMethod::Play, 0, 0, 0},
        {PlayerMethod::Play, 0, 1, std::nullopt},  // already shooting
        {PlayerMethod::Stop, 0, 1, 0},
        {PlayerMethod::Stop, 2, 0, std::nullopt},  // not shooting
        {PlayerMethod::Next, 2, 0, 2},
        {PlayerMethod::PlayPause, 1, 0, 0},
        {PlayerMethod::Previous, 3, 0, 6},
        // (Quick-start standby in still recording: the panel is not locked
        // and the command controller drops the tap, as its own test shows.)
    };
    std::vector<Bytes> expected;
    for (const auto& row : table) {
        state_->SetMode(row.mode);
        state_->SetOperationState(row.state);
        Call(row.method, row.key.has_value());
        if (row.key) {
            expected.push_back({0x00, 0x03, 0x00, 0x0A, 0x10, 0x01, 0x00, *row.key,
                                static_cast<uint8_t>(row.mode), static_cast<uint8_t>(row.state)});
        }
    }
    // A last tap: had a method that taps nothing tapped, its key would come first.
    state_->SetMode(0);
    state_->SetOperationState(0);
    Call(PlayerMethod::Next, true);
    expected.push_back({0x00, 0x03, 0x00, 0x0A, 0x10, 0x01, 0x00, 2, 0, 0});
    EXPECT_EQ(ReceivedWith(CTP_CAMCMD), expected);
}

TEST_F(MediaPlayerKeysTest, NothingIsSentWhileThePanelIsLocked) {
    // Locked: video recording in quick-start standby, any other mode shooting.
    const struct {
        uint16_t mode;
        uint16_t state;
    } locked[] = {{0, 2}, {1, 1}, {2, 1}, {3, 1}};
    for (const auto& row : locked) {
        state_->SetMode(row.mode);
        state_->SetOperationState(row.state);
        for (PlayerMethod m : {PlayerMethod::PlayPause, PlayerMethod::Pause, PlayerMethod::Next,
                               PlayerMethod::Previous, PlayerMethod::Play, PlayerMethod::Stop}) {
            Call(m, false);
            // The worker wakes in microseconds: ample for a tap, had one been
            // made, to go out before the next method's replaced it. (A tap
            // that has not gone out when the time is up passes unseen; the
            // test never fails for a slow machine.)
            PumpFor(50ms);
        }
        EXPECT_EQ(KeysReceived(), 0u) << row.mode << "/" << row.state;
    }
    state_->SetMode(0);
    state_->SetOperationState(0);
    Call(PlayerMethod::Previous, true);
    const std::vector<Bytes> keys = ReceivedWith(CTP_CAMCMD);
    ASSERT_EQ(keys.size(), 1u) << "a key went out while the panel was locked";
    EXPECT_EQ(keys[0], (Bytes{0x00, 0x03, 0x00, 0x0A, 0x10, 0x01, 0x00, 6, 0, 0}));
}

TEST_F(MediaPlayerKeysTest, TheInterfaceShowsTheModeCaptionTheIndicatorAndWhetherKeysWork) {
    const struct {
        uint16_t mode;
        uint16_t state;
        const char* status;
        const char* title;
        const char* artist;
        bool canControl;
        bool keys;  // CanPlay, CanPause, CanGoNext, CanGoPrevious
    } table[] = {
        {0, 0, "Paused", "VIDEO REC MODE", "STBY", true, true},
        {0, 1, "Playing", "VIDEO REC MODE", "REC", true, true},
        {0, 2, "Stopped", "VIDEO REC MODE", "STBY", false, false},
        {1, 0, "Paused", "VIDEO PLAY MODE", "STBY", true, true},
        {1, 1, "Playing", "VIDEO PLAY MODE", "REC", false, false},
        {1, 2, "Stopped", "VIDEO PLAY MODE", "STBY", true, false},
        {2, 0, "Paused", "STILL IMAGE REC MODE", "STBY", true, true},
        {2, 1, "Playing", "STILL IMAGE REC MODE", "REC", false, false},
        {2, 2, "Stopped", "STILL IMAGE REC MODE", "STBY", true, false},
        {3, 0, "Paused", "STILL IMAGE PLAY MODE", "STBY", true, true},
        {3, 1, "Playing", "STILL IMAGE PLAY MODE", "REC", false, false},
        {3, 2, "Stopped", "STILL IMAGE PLAY MODE", "STBY", true, false},
    };
    for (const auto& row : table) {
        state_->SetMode(row.mode);
        state_->SetOperationState(row.state);
        const platform::mpris::PlayerState s = keys_->CurrentState();
        const std::string at = std::to_string(row.mode) + "/" + std::to_string(row.state);
        EXPECT_EQ(s.playbackStatus, row.status) << at;
        EXPECT_EQ(s.title, row.title) << at;
        EXPECT_EQ(s.artist, row.artist) << at;
        EXPECT_EQ(s.trackId, "/camora_controller/mode" + std::to_string(row.mode)) << at;
        EXPECT_EQ(s.canControl, row.canControl) << at;
        EXPECT_EQ(s.canPlay, row.keys) << at;
        EXPECT_EQ(s.canPause, row.keys) << at;
        EXPECT_EQ(s.canGoNext, row.keys) << at;
        EXPECT_EQ(s.canGoPrevious, row.keys) << at;
    }
}

}  // namespace
}  // namespace controllertest

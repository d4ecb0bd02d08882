// The media-player service on a session bus of the test's own, with a
// handler that records the methods and shows a state the test sets: what a
// client calls reaches the handler, what it reads is the handler's state, a
// change is signalled with exactly what changed, and the name goes with Stop.
#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "platform/mpris/MediaPlayerService.h"
#include "testkit/PumpUntil.h"
#include "testkit/SessionBus.h"

namespace {

using platform::mpris::MediaPlayerService;
using platform::mpris::PlayerMethod;
using platform::mpris::PlayerState;
using testsupport::BusClient;

const char* const kName = "org.mpris.MediaPlayer2.camora_test";
const char* const kPath = "/org/mpris/MediaPlayer2";
const char* const kRoot = "org.mpris.MediaPlayer2";
const char* const kPlayer = "org.mpris.MediaPlayer2.Player";

const platform::mpris::PlayerIdentity kIdentity = {"camora_test", "Camora Test", "camora-test"};

class RecordingHandler : public platform::mpris::PlayerHandler {
public:
    void OnMethod(PlayerMethod method) override {
        std::lock_guard hold(lock_);
        methods_.push_back(method);
    }
    PlayerState CurrentState() override {
        std::lock_guard hold(lock_);
        return state_;
    }
    void Show(const PlayerState& state) {
        std::lock_guard hold(lock_);
        state_ = state;
    }
    std::vector<PlayerMethod> Methods() {
        std::lock_guard hold(lock_);
        return methods_;
    }

private:
    std::mutex lock_;
    PlayerState state_;
    std::vector<PlayerMethod> methods_;
};

PlayerState Standby() {
    PlayerState s;
    s.playbackStatus = "Paused";
    s.trackId = "/camora_test/mode0";
    s.title = "VIDEO REC MODE";
    s.artist = "STBY";
    s.canControl = s.canPlay = s.canPause = s.canGoNext = s.canGoPrevious = true;
    return s;
}

class MediaPlayerServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(bus_.Address().empty()) << "dbus-daemon did not start";
        handler_.Show(Standby());
        std::string error;
        service_ = MediaPlayerService::Start(kIdentity, handler_, &error);
        ASSERT_NE(service_, nullptr) << error;
        ASSERT_TRUE(client_.Connected());
    }

    std::string Get(const char* interface, const char* property) {
        return client_.Get(kName, kPath, interface, property).value_or("(unreadable)");
    }

    // Waits for the next PropertiesChanged of the player interface.
    BusClient::Change NextChange() {
        std::vector<BusClient::Change> got;
        const bool came = testsupport::PumpUntil([&] {
            for (BusClient::Change& c : client_.TakeChanges()) {
                got.push_back(c);
            }
            return !got.empty();
        });
        EXPECT_TRUE(came) << "no PropertiesChanged";
        EXPECT_LE(got.size(), 1u) << "more than one signal";
        return came ? got.front() : BusClient::Change{};
    }

    testsupport::PrivateSessionBus bus_;
    RecordingHandler handler_;
    std::unique_ptr<MediaPlayerService> service_;
    BusClient client_;
};

TEST_F(MediaPlayerServiceTest, EachPlayerMethodReachesTheHandlerAndSeekingDoesNothing) {
    const struct {
        const char* member;
        PlayerMethod method;
    } table[] = {
        {"PlayPause", PlayerMethod::PlayPause}, {"Pause", PlayerMethod::Pause},
        {"Next", PlayerMethod::Next},           {"Previous", PlayerMethod::Previous},
        {"Play", PlayerMethod::Play},           {"Stop", PlayerMethod::Stop},
    };
    std::vector<PlayerMethod> expected;
    for (const auto& row : table) {
        EXPECT_EQ(client_.Call(kName, kPath, kPlayer, row.member), "") << row.member;
        expected.push_back(row.method);
        // A method's call is answered after the handler has had it.
        EXPECT_EQ(handler_.Methods(), expected) << row.member;
    }
    // Answered, and nothing for the handler: the root's methods, and the
    // player's with arguments, which a client may call whatever CanSeek says.
    EXPECT_EQ(client_.Call(kName, kPath, kRoot, "Raise"), "");
    EXPECT_EQ(client_.Call(kName, kPath, kRoot, "Quit"), "");
    EXPECT_EQ(client_.Call(kName, kPath, kPlayer, "Seek"),
              "org.freedesktop.DBus.Error.InvalidArgs");
    EXPECT_EQ(handler_.Methods(), expected);
}

TEST_F(MediaPlayerServiceTest, PropertiesAreTheIdentityAndTheHandlersState) {
    const struct {
        const char* interface;
        const char* property;
        std::string value;
    } table[] = {
        {kRoot, "Identity", "Camora Test"},
        {kRoot, "DesktopEntry", "camora-test"},
        {kRoot, "CanQuit", "false"},
        {kRoot, "CanRaise", "false"},
        {kRoot, "HasTrackList", "false"},
        {kRoot, "SupportedUriSchemes", "[]"},
        {kRoot, "SupportedMimeTypes", "[]"},
        {kPlayer, "PlaybackStatus", "Paused"},
        {kPlayer, "Metadata",
         "{mpris:trackid=/camora_test/mode0;xesam:title=VIDEO REC MODE;xesam:artist=[STBY]}"},
        {kPlayer, "CanControl", "true"},
        {kPlayer, "CanPlay", "true"},
        {kPlayer, "CanPause", "true"},
        {kPlayer, "CanGoNext", "true"},
        {kPlayer, "CanGoPrevious", "true"},
        {kPlayer, "CanSeek", "false"},
        {kPlayer, "Rate", "1.000000"},
        {kPlayer, "Position", "0"},
    };
    for (const auto& row : table) {
        EXPECT_EQ(Get(row.interface, row.property), row.value) << row.property;
    }
}

TEST_F(MediaPlayerServiceTest, AChangeIsSignalledWithWhatChangedAndNothingElse) {
    client_.WatchProperties(kPath);
    PlayerState shooting = Standby();
    shooting.playbackStatus = "Playing";
    shooting.artist = "REC";
    handler_.Show(shooting);
    service_->StateChanged();
    BusClient::Change c = NextChange();
    EXPECT_EQ(c.interface, kPlayer);
    EXPECT_EQ(c.values, (std::map<std::string, std::string>{
                            {"PlaybackStatus", "Playing"},
                            {"Metadata",
                             "{mpris:trackid=/camora_test/mode0;xesam:title=VIDEO REC "
                             "MODE;xesam:artist=[REC]}"}}));

    // No difference, no signal: the next one to come is the next change's.
    service_->StateChanged();
    PlayerState busy = shooting;
    busy.canControl = busy.canPlay = busy.canPause = busy.canGoNext = busy.canGoPrevious = false;
    handler_.Show(busy);
    service_->StateChanged();
    c = NextChange();
    EXPECT_EQ(c.values, (std::map<std::string, std::string>{{"CanControl", "false"},
                                                            {"CanPlay", "false"},
                                                            {"CanPause", "false"},
                                                            {"CanGoNext", "false"},
                                                            {"CanGoPrevious", "false"}}));
    EXPECT_EQ(Get(kPlayer, "CanControl"), "false");
    EXPECT_EQ(Get(kPlayer, "PlaybackStatus"), "Playing");
}

TEST_F(MediaPlayerServiceTest, TheNameIsHeldUntilStopAndGoneWhenStopReturns) {
    EXPECT_TRUE(client_.HasOwner(kName));
    // A second player of the same name is refused while the first holds it.
    RecordingHandler other;
    std::string error;
    EXPECT_EQ(MediaPlayerService::Start(kIdentity, other, &error), nullptr);
    EXPECT_NE(error.find("not taken"), std::string::npos) << error;

    service_->Stop();
    EXPECT_FALSE(client_.HasOwner(kName));
    service_->StateChanged();  // after Stop: does nothing
    service_->Stop();
    // The name is free for the next one.
    auto again = MediaPlayerService::Start(kIdentity, other);
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(client_.HasOwner(kName));
    again.reset();
    EXPECT_FALSE(client_.HasOwner(kName));
}

TEST(MediaPlayerServiceWithoutBusTest, StartFailsAndSaysWhy) {
    const char* before = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    const std::string saved = before != nullptr ? before : "";
    ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/camora-bus", 1);
    RecordingHandler handler;
    std::string error;
    EXPECT_EQ(MediaPlayerService::Start(kIdentity, handler, &error), nullptr);
    EXPECT_FALSE(error.empty());
    if (before != nullptr) {
        ::setenv("DBUS_SESSION_BUS_ADDRESS", saved.c_str(), 1);
    } else {
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
}

}  // namespace

// The whole program against the camcorder simulator with a session bus of the
// test's own: a client of the media-player interface presses keys through it
// and watches it follow the camera, as a lock screen or a headset would. Each
// scenario runs the program in a child process (the program ends the process
// itself); the parent owns the bus daemon and looks at the bus afterwards.
#include <gtest/gtest.h>

#include <unistd.h>
#include <QDialog>
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "core/AppRegistry.h"
#include "ctp/CtpOpcodes.h"
#include "platform/btsdk/SimulatedStack.h"
#include "sim/Camcorder.h"
#include "testkit/PumpUntil.h"
#include "testkit/SessionBus.h"
#include "testkit/TempDeviceRoot.h"
#include "testkit/ui/ProgramDriver.h"

using e2e::ProgramDriver;
using ::testing::ExitedWithCode;
using testsupport::BusClient;
using namespace std::chrono_literals;

namespace {

const char* const kName = "org.mpris.MediaPlayer2.camora_controller";
const char* const kPath = "/org/mpris/MediaPlayer2";
const char* const kRoot = "org.mpris.MediaPlayer2";
const char* const kPlayer = "org.mpris.MediaPlayer2.Player";

const QString kOk = QStringLiteral("OK");
const QString kDisconnected = QStringLiteral("BLUETOOTH DISCONNECTED \nWILL CLOSE APPLICATION NOW");
const QPoint kExitBar(360, 562);

using Bytes = std::vector<uint8_t>;

Bytes KeyFrame(uint8_t code, uint8_t mode, uint8_t state) {
    return {0x00, 0x03, 0x00, 0x0A, 0x10, 0x01, 0x00, code, mode, state};
}

std::string Metadata(int mode, const std::string& title, const std::string& artist) {
    return "{mpris:trackid=/camora_controller/mode" + std::to_string(mode) +
           ";xesam:title=" + title + ";xesam:artist=[" + artist + "]}";
}

// The death tests run each scenario in a fresh start of this executable,
// which inherits the parent's bus: only the parent starts a daemon.
void UsePrivateBus() {
    static std::unique_ptr<testsupport::PrivateSessionBus> bus;
    if (bus != nullptr || std::getenv("CAMORA_TEST_PRIVATE_BUS") != nullptr) {
        return;
    }
    bus = std::make_unique<testsupport::PrivateSessionBus>();
    ASSERT_FALSE(bus->Address().empty()) << "dbus-daemon did not start";
    ::setenv("CAMORA_TEST_PRIVATE_BUS", "1", 1);
}

// The program up to its main screen, connected to the simulator through the
// registry stack, with a bus client on the GUI thread.
class Scenario {
public:
    Scenario() {
        platform::btsdk::SimulatedStack::Instance().Reset();
        root_.WriteFile("bluetooth.conf", "backend=simulated\n");
        root_.WriteFile("gps.conf", "backend=none\n");
        const std::string address = "0a1b2c3d4e5f";
        root_.WriteFile(kBluetooth + "Device/" + address + "/name", "CAMORA HD\n");
        std::filesystem::create_directories(root_.Host(
            kBluetooth + "Device/" + address + "/Services/00001101-0000-1000-8000-00805f9b34fb"));
        root_.WriteFile(kBluetooth + "Serial/Ports/0000" + address + "/Port", "COM8\n");
        // Answers at a quick pace, so that the state follows the camera soon.
        camera_.SetModePollInterval(50);
        if (!camera_.Start() || !camera_.LinkAsDevice("COM8") || !client_.Connected()) {
            ProgramDriver::Fail("the camera or the bus client did not start");
        }
    }

    void ConnectToTheMainScreen() {
        d_.Step("instruction OK, nothing on the bus yet", [this] {
            if (AppRegistry.instructionScreen == nullptr) {
                return false;
            }
            if (client_.HasOwner(kName)) {
                ProgramDriver::Fail("the player is on the bus before connecting");
            }
            return ProgramDriver::Click(ProgramDriver::ScreenWith(kOk), kOk);
        });
        d_.Step("select CAMORA HD", [] {
            QDialog* s = ProgramDriver::ScreenWith(QStringLiteral("SELECT DEVICE"));
            return s != nullptr && ProgramDriver::ClickItem(s, QStringLiteral("CAMORA HD"));
        });
        d_.Step("select OK", [] {
            QDialog* s = ProgramDriver::ScreenWith(QStringLiteral("SELECT DEVICE"));
            return ProgramDriver::Enabled(s, kOk) && ProgramDriver::Click(s, kOk);
        });
        d_.Step("main screen, player on the bus", [this] {
            return ProgramDriver::MainScreen() != nullptr && client_.HasOwner(kName);
        });
    }

    // Calls `method` and waits for its key on the wire: the frame after the
    // ones of the presses before, and no other since the scenario began.
    void Press(const char* method, Bytes frame) {
        auto called = std::make_shared<bool>(false);
        d_.Step(std::string("call ") + method, [this, method, frame, called] {
            if (!*called) {
                *called = true;
                ++pressed_;
                Mark();
                const std::string error = client_.Call(kName, kPath, kPlayer, method);
                if (!error.empty()) {
                    ProgramDriver::Fail(std::string(method) + " failed: " + error);
                }
            }
            const std::vector<Bytes> keys = Keys();
            if (keys.size() < pressed_) {
                return false;
            }
            if (keys.size() != pressed_ || keys.back() != frame) {
                ProgramDriver::Fail(std::string(method) + ": not its one key on the wire");
            }
            return true;
        });
    }

    // A step that changes the camera: what the player signals from now on
    // is what Expect looks at.
    void Change(const std::string& name, std::function<void(sim::Camcorder&)> change) {
        d_.Step(name, [this, change] {
            Mark();
            change(camera_);
            return true;
        });
    }

    // Waits until a PropertiesChanged of the player since the last press or
    // change carries `property` with `value`, and a Get gives the same.
    void Expect(const std::string& property, const std::string& value) {
        d_.Step("signalled " + property + " " + value, [this, property, value] {
            Drain();
            bool signalled = false;
            for (size_t i = from_; i < changes_.size(); ++i) {
                const BusClient::Change& c = changes_[i];
                auto it = c.values.find(property);
                signalled |= c.interface == kPlayer && it != c.values.end() && it->second == value;
            }
            if (!signalled) {
                return false;
            }
            if (Get(kPlayer, property) != value) {
                ProgramDriver::Fail(property + " signalled but not read as " + value);
            }
            return true;
        });
    }

    std::string Get(const char* interface, const std::string& property) {
        return client_.Get(kName, kPath, interface, property).value_or("(unreadable)");
    }

    std::vector<Bytes> Keys() const {
        std::vector<Bytes> keys;
        for (const sim::WireFrame& f : camera_.ReceivedFrames()) {
            if (f.Opcode() == CTP_CAMCMD) {
                keys.push_back(f.bytes);
            }
        }
        return keys;
    }

    [[noreturn]] void Run() {
        const int result = d_.RunProgram();
        std::fflush(nullptr);
        _exit(result);
    }

    void Drain() {
        for (BusClient::Change& c : client_.TakeChanges()) {
            changes_.push_back(std::move(c));
        }
    }
    void Mark() {
        Drain();
        from_ = changes_.size();
    }

    ProgramDriver& driver() { return d_; }
    sim::Camcorder& camera() { return camera_; }
    BusClient& client() { return client_; }

private:
    const std::string kBluetooth = "registry/HKLM/Software/Microsoft/Bluetooth/";
    testsupport::TempDeviceRoot root_;
    sim::Camcorder camera_;
    BusClient client_;
    ProgramDriver d_;
    std::vector<BusClient::Change> changes_;  // every signal so far
    size_t from_ = 0;                         // the first since the last press or change
    size_t pressed_ = 0;                      // presses that send a key
};

class MediaPlayerEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override { UsePrivateBus(); }
};

TEST_F(MediaPlayerEndToEndTest, KeysGoOutAsPanelTapsAndThePlayerFollowsTheCameraUntilTheLinkEnds) {
    EXPECT_EXIT(
        {
            Scenario s;
            sim::Camcorder& cam = s.camera();
            s.ConnectToTheMainScreen();
            s.driver().Step("identity and the camera's state", [&s] {
                const struct {
                    const char* interface;
                    const char* property;
                    std::string value;
                } table[] = {
                    {kRoot, "Identity", "CamoraController"},
                    {kRoot, "DesktopEntry", "camora-controller"},
                    {kRoot, "CanQuit", "false"},
                    {kRoot, "CanRaise", "false"},
                    {kPlayer, "PlaybackStatus", "Paused"},
                    {kPlayer, "Metadata", Metadata(0, "VIDEO REC MODE", "STBY")},
                    {kPlayer, "CanControl", "true"},
                    {kPlayer, "CanPlay", "true"},
                };
                for (const auto& row : table) {
                    if (s.Get(row.interface, row.property) != row.value) {
                        ProgramDriver::Fail(std::string(row.property) + " is " +
                                            s.Get(row.interface, row.property));
                    }
                }
                s.client().WatchProperties(kPath);
                return true;
            });
            // Record: the camera starts shooting, and the player plays.
            s.Press("PlayPause", KeyFrame(0, 0, 0));
            s.Expect("PlaybackStatus", "Playing");
            s.Expect("Metadata", Metadata(0, "VIDEO REC MODE", "REC"));
            s.Press("Next", KeyFrame(2, 0, 1));
            s.Press("Previous", KeyFrame(6, 0, 1));
            s.Press("Pause", KeyFrame(1, 0, 1));
            s.Press("PlayPause", KeyFrame(0, 0, 1));
            s.Expect("PlaybackStatus", "Paused");
            // The camera changes by itself.
            s.Change("the camera goes to still recording", [](sim::Camcorder& c) { c.SetMode(2); });
            s.Expect("Metadata", Metadata(2, "STILL IMAGE REC MODE", "STBY"));
            s.Change("the camera is busy shooting a still",
                     [](sim::Camcorder& c) { c.SetOperationState(1); });
            s.Expect("CanControl", "false");
            s.driver().Step("nothing is sent while busy", [&s] {
                s.Mark();
                const size_t before = s.camera().CountReceived(CTP_CAMCMD);
                for (const char* m : {"PlayPause", "Pause", "Next", "Previous", "Play", "Stop"}) {
                    if (!s.client().Call(kName, kPath, kPlayer, m).empty()) {
                        ProgramDriver::Fail(std::string(m) + " failed while busy");
                    }
                }
                if (s.camera().CountReceived(CTP_CAMCMD) != before) {
                    ProgramDriver::Fail("a key went out while busy");
                }
                s.camera().SetOperationState(0);
                return true;
            });
            s.Expect("CanControl", "true");
            // Had a refused press been kept, it would go out before this one
            // (or at any time: every press checks the count of keys sent).
            s.Press("Next", KeyFrame(2, 2, 0));
            s.driver().Step("the link ends", [&cam] {
                cam.DropLink();
                return true;
            });
            s.driver().Step("the player is gone when the user is told", [&s] {
                if (ProgramDriver::Box() == nullptr) {
                    return false;
                }
                if (s.client().HasOwner(kName)) {
                    ProgramDriver::Fail("the player outlived the link");
                }
                return true;
            });
            s.driver().Step("disconnected OK", [] {
                return ProgramDriver::Answer(QStringLiteral("ERROR"), kDisconnected, kOk);
            });
            s.Run();
        },
        ExitedWithCode(0),
        "step done: signalled CanControl true(.|\n)*step done: call Next(.|\n)*"
        "step done: the player is gone when the user is told");
}

TEST_F(MediaPlayerEndToEndTest, ThePlayerGoesWithTheProgram) {
    EXPECT_EXIT(
        {
            Scenario s;
            s.ConnectToTheMainScreen();
            s.driver().Step("Exit", [] { return ProgramDriver::TapPanel(kExitBar); });
            s.driver().Step("close question YES", [] {
                return ProgramDriver::Answer(
                    QStringLiteral("CHECK"),
                    QStringLiteral("DO YOU WANT TO CLOSE \nTHIS APPLICATION?"),
                    QStringLiteral("YES"));
            });
            s.Run();
        },
        ExitedWithCode(0), "step done: main screen, player on the bus(.|\n)*box: CHECK");
    // The bus daemon drops the name once it sees the connection closed.
    BusClient client;
    ASSERT_TRUE(client.Connected());
    EXPECT_TRUE(testsupport::PumpUntil([&] { return !client.HasOwner(kName); }));
}

}  // namespace

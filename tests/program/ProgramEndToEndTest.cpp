// The whole program in one process on Qt's offscreen platform, against the
// camcorder simulator over a pseudo-terminal, driven by real mouse events on
// its screens and boxes. Every way through ends the process (the program has
// no orderly stop), so each scenario runs in a child process of its own and
// the test looks at its exit code and its transcript.
#include <gtest/gtest.h>

#include <QDialog>
#include <QMessageBox>
#include <QTimer>

#include <unistd.h>
#include <QString>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/AppRegistry.h"
#include "ctp/CtpEngine.h"
#include "ctp/CtpOpcodes.h"
#include "link/Bluetooth.h"
#include "link/LinkLoader.h"
#include "platform/btsdk/SimulatedStack.h"
#include "platform/fs/InstanceLock.h"
#include "platform/kernel/Kernel.h"
#include "platform/serial/SerialPort.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/WindowMessages.h"
#include "resources/ResourceIds.h"
#include "sim/Camcorder.h"
#include "testkit/TempDeviceRoot.h"
#include "testkit/ui/ProgramDriver.h"

using e2e::ProgramDriver;
using ::testing::ExitedWithCode;
using namespace std::chrono_literals;

namespace {

const QString kOk = QStringLiteral("OK");
const QString kCancel = QStringLiteral("CANCEL");
const QString kSelectTitle = QStringLiteral("SELECT DEVICE");
const QString kConnecting = QString::fromUtf8("CONNECTING\u2026");
const QString kCheck = QStringLiteral("CHECK");
const QString kError = QStringLiteral("ERROR");
const QString kCloseQuestion = QStringLiteral("DO YOU WANT TO CLOSE \nTHIS APPLICATION?");
const QString kDisconnected = QStringLiteral("BLUETOOTH DISCONNECTED \nWILL CLOSE APPLICATION NOW");

// Points of the main screen's panel (layout pixels).
const QPoint kLiveView(180, 118);
const QPoint kExitBar(360, 562);

// One scenario: a device root, a camcorder, and the steps of the user.
class Scenario {
public:
    Scenario() {
        platform::btsdk::SimulatedStack::Instance().Reset();
        // The device root's stand-ins for Bluetooth, whatever the machine has.
        root_.WriteFile("bluetooth.conf", "backend=simulated\n");
    }

    // The registry-based stack, with "CAMORA HD" paired on COM8 when `paired`.
    void RegistryStack(bool paired = true) {
        std::filesystem::create_directories(root_.Host(kBluetooth + "Device"));
        if (paired) {
            Pair("0a1b2c3d4e5f", "CAMORA HD", "COM8");
        }
    }
    void Pair(const std::string& address, const std::string& name, const std::string& port) {
        root_.WriteFile(kBluetooth + "Device/" + address + "/name", name + "\n");
        std::filesystem::create_directories(root_.Host(
            kBluetooth + "Device/" + address + "/Services/00001101-0000-1000-8000-00805f9b34fb"));
        root_.WriteFile(kBluetooth + "Serial/Ports/0000" + address + "/Port", port + "\n");
    }
    // The SDK stack and its link library, "CAMORA HD" paired on virtual port 13 (BTC3).
    void SdkStack() {
        root_.WriteFile("Windows/BtSdkCE50.dll", "");
        root_.WriteFile("bluetooth/stack.ini",
                        "[device]\naddress = 00:11:22:33:00:02\nname = CAMORA HD\n"
                        "class = 20 04 14\ncom-port = 13\n");
        // At the end: did the program remove the library's connection?
        std::at_quick_exit([] {
            int removed = 0;
            for (const std::string& line : platform::btsdk::SimulatedStack::Instance().Log()) {
                removed += line == "RemoveConnection" ? 1 : 0;
            }
            std::fprintf(stderr, "e2e: RemoveConnection count: %d\n", removed);
        });
    }

    void StartCamera(const std::string& device) {
        if (!camera_.Start() || !camera_.LinkAsDevice(device)) {
            ProgramDriver::Fail("the camera did not start");
        }
    }

    // Instruction screen: OK.
    void ConfirmInstruction() {
        d_.Step("instruction OK", [] {
            return AppRegistry.instructionScreen != nullptr &&
                   ProgramDriver::Click(ProgramDriver::ScreenWith(kOk), kOk);
        });
    }
    // Select screen: the list shows `items`, OK is disabled until `pick` is
    // chosen, then OK.
    void Choose(std::vector<QString> items, const QString& pick = QStringLiteral("CAMORA HD")) {
        d_.Step("select lists the devices", [items, pick] {
            QDialog* s = ProgramDriver::ScreenWith(kSelectTitle);
            if (s == nullptr || ProgramDriver::ListItems(s) != items) {
                return false;
            }
            if (ProgramDriver::Enabled(s, kOk)) {
                ProgramDriver::Fail("OK enabled before a selection");
            }
            return ProgramDriver::ClickItem(s, pick);
        });
        d_.Step("select OK", [] {
            QDialog* s = ProgramDriver::ScreenWith(kSelectTitle);
            return ProgramDriver::Enabled(s, kOk) && ProgramDriver::Click(s, kOk);
        });
    }
    void CancelSelect(std::vector<QString> items) {
        d_.Step("select CANCEL", [items] {
            QDialog* s = ProgramDriver::ScreenWith(kSelectTitle);
            return s != nullptr && ProgramDriver::ListItems(s) == items &&
                   ProgramDriver::Click(s, kCancel);
        });
    }
    void Answer(const std::string& name, const QString& caption, const QString& text,
                const QString& button) {
        d_.Step(name, [=] { return ProgramDriver::Answer(caption, text, button); });
    }
    void WaitForMainScreen() {
        d_.Step("main screen", [] { return ProgramDriver::MainScreen() != nullptr; });
    }
    void ExitAndYes() {
        d_.Step("Exit", [] { return ProgramDriver::TapPanel(kExitBar); });
        Answer("close question YES", kCheck, kCloseQuestion, QStringLiteral("YES"));
    }

    // Runs the program; a return from its entry ends the child with its result.
    [[noreturn]] void Run() {
        const int result = d_.RunProgram();
        ProgramDriver::Note("entry returned " + std::to_string(result));
        std::fflush(nullptr);
        _exit(result);
    }

    ProgramDriver& driver() { return d_; }
    testsupport::TempDeviceRoot& root() { return root_; }
    sim::Camcorder& camera() { return camera_; }

private:
    const std::string kBluetooth = "registry/HKLM/Software/Microsoft/Bluetooth/";
    testsupport::TempDeviceRoot root_;
    sim::Camcorder camera_;
    ProgramDriver d_;
};

// Every message box that shows, and when it was first and last seen: a box
// that closes by itself while a tap is still being handled is never seen by
// a step.
struct SeenBox {
    QMessageBox* box;
    std::string text;
    std::chrono::steady_clock::time_point first;
    std::chrono::steady_clock::time_point last;
};
std::vector<SeenBox>& SeenBoxes() {
    static std::vector<SeenBox> seen;
    return seen;
}
void WatchBoxes() {
    auto* watch = new QTimer;  // lives as long as the program
    QObject::connect(watch, &QTimer::timeout, [] {
        QMessageBox* box = ProgramDriver::Box();
        if (box == nullptr) {
            return;
        }
        const auto now = std::chrono::steady_clock::now();
        std::vector<SeenBox>& seen = SeenBoxes();
        if (seen.empty() || seen.back().box != box) {
            seen.push_back({box,
                            box->windowTitle().toStdString() + " | " + box->text().toStdString(),
                            now, now});
        }
        seen.back().last = now;
    });
    watch->start(10);
}

class ProgramEndToEndTest : public ::testing::Test {};

TEST_F(ProgramEndToEndTest, ConnectsThroughTheRegistryAndExitsWithYes) {
    EXPECT_EXIT(
        {
            Scenario s;
            s.RegistryStack();
            // The handshake's answer comes a little late, so that the connect screen shows.
            s.camera().AddFault(
                {.kind = sim::FaultKind::Late, .opcode = CTP_GET_MODE, .times = 1, .delayMs = 300});
            s.StartCamera("COM8");
            sim::Camcorder& cam = s.camera();
            s.driver().Step("the registry is filled", [] {
                const AppRegistryTable& r = AppRegistry;
                if (r.instructionScreen == nullptr) {
                    return false;
                }
                if (!r.configStore || !r.cameraState || !r.ctpEngine || r.linkLoader ||
                    !r.bluetooth || !r.gpsController || !r.commandController || !r.modeController ||
                    !r.monitorController || !r.captureController || !r.backdropScreen ||
                    !r.selectScreen || !r.connectScreen || !r.mainScreen || !r.instance) {
                    ProgramDriver::Fail("a registry entry is wrong");
                }
                return true;
            });
            s.ConfirmInstruction();
            s.Choose({QStringLiteral("CAMORA HD")});
            s.driver().Step("connect screen", [&cam] {
                QDialog* c = ProgramDriver::ScreenWith(kConnecting);
                if (c == nullptr) {
                    return false;
                }
                if (ProgramDriver::ScreenWith(QStringLiteral("CAMORA HD")) != c ||
                    !platform::IsWaitCursorShown()) {
                    ProgramDriver::Fail("the connect screen lacks the name or the wait cursor");
                }
                // The mode worker stays suspended while connecting.
                if (cam.CountReceived(CTP_MODE_POLL) != 0) {
                    ProgramDriver::Fail("mode polls before the main screen");
                }
                return true;
            });
            s.WaitForMainScreen();
            s.driver().Step("the main screen resumed the mode worker", [&cam] {
                if (platform::IsWaitCursorShown()) {
                    ProgramDriver::Fail("the wait cursor outlived the connect screen");
                }
                return cam.CountReceived(CTP_MODE_POLL) > 0 && cam.CountReceived(CTP_GET_MODE) == 1;
            });
            s.driver().Step("live view on", [] { return ProgramDriver::TapPanel(kLiveView); });
            s.driver().Step("frames arrive", [&cam] { return cam.LiveViewFrames() >= 3; });
            s.driver().Step("live view off", [] { return ProgramDriver::TapPanel(kLiveView); });
            s.ExitAndYes();
            s.Run();
        },
        ExitedWithCode(0), "step done: live view off(.|\n)*box: CHECK \\| DO YOU WANT TO CLOSE");
}

TEST_F(ProgramEndToEndTest, ExitWithYesRemovesTheLinkLibrarysConnection) {
    EXPECT_EXIT(
        {
            Scenario s;
            s.SdkStack();
            s.StartCamera("BTC3");
            s.driver().Step("the link loader is the device source", [] {
                if (AppRegistry.instructionScreen == nullptr) {
                    return false;
                }
                if (AppRegistry.linkLoader == nullptr || AppRegistry.bluetooth != nullptr) {
                    ProgramDriver::Fail("wrong device source");
                }
                return true;
            });
            s.ConfirmInstruction();
            s.Choose({QStringLiteral("CAMORA HD")});
            s.WaitForMainScreen();
            s.ExitAndYes();
            s.Run();
        },
        ExitedWithCode(0), "box: CHECK(.|\n)*RemoveConnection count: 1");
}

TEST_F(ProgramEndToEndTest, LinkLostAfterTheHandshakeTellsTheUserAndEnds) {
    EXPECT_EXIT(
        {
            Scenario s;
            s.SdkStack();
            s.StartCamera("BTC3");
            sim::Camcorder& cam = s.camera();
            s.ConfirmInstruction();
            s.Choose({QStringLiteral("CAMORA HD")});
            s.WaitForMainScreen();
            s.driver().Step("the camera goes away", [&cam] {
                cam.DropLink();
                return true;
            });
            s.Answer("disconnected OK", kError, kDisconnected, kOk);
            s.Run();
        },
        ExitedWithCode(0),
        "box: ERROR \\| BLUETOOTH DISCONNECTED \\\\nWILL CLOSE APPLICATION NOW"
        "(.|\n)*RemoveConnection count: 0");
}

TEST_F(ProgramEndToEndTest, HandshakeTimeOutClosesThePortAndListsAfresh) {
    EXPECT_EXIT(
        {
            platform::SetTimeScale(10.0);  // the handshake's 3 seconds
            Scenario s;
            s.RegistryStack();
            s.camera().AddFault({.kind = sim::FaultKind::Silence, .opcode = CTP_GET_MODE});
            s.StartCamera("COM8");
            s.ConfirmInstruction();
            s.Choose({QStringLiteral("CAMORA HD")});
            s.driver().Step("pair another while the box is up", [&s] {
                if (ProgramDriver::Box() == nullptr) {
                    return false;
                }
                const platform::PortHandle port = AppRegistry.bluetooth->GetPortHandle();
                if (port == nullptr || port->IsOpen()) {
                    ProgramDriver::Fail("the port of the failed handshake is still open");
                }
                s.Pair("112233445566", "CAMORA SPARE", "COM9");
                return true;
            });
            s.Answer("time-out OK", kError, QStringLiteral("CONNECTION TIME-OUT"), kOk);
            s.CancelSelect({QStringLiteral("CAMORA HD"), QStringLiteral("CAMORA SPARE")});
            s.Answer("close question YES", kCheck, kCloseQuestion, QStringLiteral("YES"));
            s.Run();
        },
        ExitedWithCode(0), "box: ERROR \\| CONNECTION TIME-OUT(.|\n)*step done: select CANCEL");
}

TEST_F(ProgramEndToEndTest, PortThatDoesNotOpenShowsConnectionFailed) {
    EXPECT_EXIT(
        {
            Scenario s;
            s.RegistryStack();  // no camera behind COM8
            s.ConfirmInstruction();
            s.Choose({QStringLiteral("CAMORA HD")});
            s.Answer("failure OK", kError, QStringLiteral("CONNECTION FAILED"), kOk);
            s.CancelSelect({QStringLiteral("CAMORA HD")});
            s.Answer("close question YES", kCheck, kCloseQuestion, QStringLiteral("YES"));
            s.Run();
        },
        ExitedWithCode(0), "box: ERROR \\| CONNECTION FAILED(.|\n)*step done: select CANCEL");
}

TEST_F(ProgramEndToEndTest, TitleBarDoneWithoutASelectionKeepsThePreviousDevice) {
    EXPECT_EXIT(
        {
            Scenario s;
            s.RegistryStack();  // no camera behind either port
            s.Pair("112233445566", "CAMORA SPARE", "COM9");
            s.ConfirmInstruction();
            s.Choose({QStringLiteral("CAMORA HD"), QStringLiteral("CAMORA SPARE")},
                     QStringLiteral("CAMORA SPARE"));
            s.Answer("failure OK", kError, QStringLiteral("CONNECTION FAILED"), kOk);
            s.driver().Step("select Done without a selection", [] {
                QDialog* screen = ProgramDriver::ScreenWith(kSelectTitle);
                if (screen == nullptr) {
                    return false;
                }
                screen->close();  // the window manager's close: the title bar's Done
                return true;
            });
            s.driver().Step("connect screen names the previous device", [] {
                if (ProgramDriver::Box() == nullptr) {
                    return false;
                }
                std::u16string selected;
                AppRegistry.bluetooth->GetSelectedName(selected);
                if (selected != u"CAMORA SPARE" ||
                    ProgramDriver::ScreenWith(QStringLiteral("CAMORA SPARE")) == nullptr) {
                    ProgramDriver::Fail("Done without a selection dropped the selected device");
                }
                return true;
            });
            s.Answer("second failure OK", kError, QStringLiteral("CONNECTION FAILED"), kOk);
            s.CancelSelect({QStringLiteral("CAMORA HD"), QStringLiteral("CAMORA SPARE")});
            s.Answer("close question YES", kCheck, kCloseQuestion, QStringLiteral("YES"));
            s.Run();
        },
        ExitedWithCode(0), "step done: connect screen names the previous device");
}

TEST_F(ProgramEndToEndTest, GpsButtonWithoutAPositionSourceSaysSoOnceInATimedBox) {
    EXPECT_EXIT(
        {
            Scenario s;
            s.RegistryStack();
            s.root().WriteFile("gps.conf", "backend=track\nfile=no-such-track.txt\n");
            s.StartCamera("COM8");
            s.ConfirmInstruction();
            s.Choose({QStringLiteral("CAMORA HD")});
            s.WaitForMainScreen();
            WatchBoxes();
            const QPoint gps(300, 486);
            s.driver().Step("GPS tap", [gps] { return ProgramDriver::TapPanel(gps); });
            s.driver().Step("the box has shown and closed by itself", [] {
                if (SeenBoxes().size() != 1 || ProgramDriver::Box() != nullptr) {
                    return false;
                }
                ProgramDriver::Note("box: " + SeenBoxes()[0].text);
                const auto shown = std::chrono::duration_cast<std::chrono::milliseconds>(
                    SeenBoxes()[0].last - SeenBoxes()[0].first);
                ProgramDriver::Note("box shown for about " + std::to_string(shown.count()) + " ms");
                return true;
            });
            s.driver().Step("second GPS tap", [gps] { return ProgramDriver::TapPanel(gps); });
            const auto quiet = std::make_shared<std::chrono::steady_clock::time_point>();
            s.driver().Step("no second box", [&s, quiet] {
                const auto now = std::chrono::steady_clock::now();
                if (*quiet == std::chrono::steady_clock::time_point{}) {
                    *quiet = now;
                }
                if (SeenBoxes().size() != 1 || ProgramDriver::Box() != nullptr) {
                    ProgramDriver::Fail("the box came again");
                }
                if (s.camera().CountReceived(CTP_GPS_CMD) != 0) {
                    ProgramDriver::Fail("GPS was switched without a position source");
                }
                return now - *quiet > 2500ms;
            });
            s.ExitAndYes();
            s.Run();
        },
        ExitedWithCode(0),
        "box: ERROR \\| NO GPS POSITION SOURCE\n(.|\n)*step done: no second box");
}

TEST_F(ProgramEndToEndTest, NoUsablePairedDeviceEndsTheProgram) {
    EXPECT_EXIT(
        {
            Scenario s;
            s.RegistryStack(false);
            // A device with a name but no port is not usable.
            s.Pair("0a1b2c3d4e5f", "CAMORA HD", "");
            s.ConfirmInstruction();
            s.Answer("no device OK", kError, QStringLiteral("NO PAIRING DEVICE FOUND"), kOk);
            s.Run();
        },
        ExitedWithCode(0), "box: ERROR \\| NO PAIRING DEVICE FOUND");
}

TEST_F(ProgramEndToEndTest, NoBluetoothEndsTheProgramAfterTheInstruction) {
    EXPECT_EXIT(
        {
            Scenario s;  // no Bluetooth stack at all
            s.ConfirmInstruction();
            s.Answer("no Bluetooth OK", kError, QStringLiteral("BLUETOOTH NOT AVAILABLE"), kOk);
            s.Run();
        },
        ExitedWithCode(0),
        "step done: instruction OK(.|\n)*box: ERROR \\| BLUETOOTH NOT AVAILABLE");
}

TEST_F(ProgramEndToEndTest, CancelWithNoListsAfreshAndWithYesEnds) {
    EXPECT_EXIT(
        {
            Scenario s;
            s.RegistryStack();
            s.ConfirmInstruction();
            s.CancelSelect({QStringLiteral("CAMORA HD")});
            s.driver().Step("pair another while the question is open", [&s] {
                if (ProgramDriver::Box() == nullptr) {
                    return false;
                }
                s.Pair("112233445566", "CAMORA SPARE", "COM9");
                return true;
            });
            s.Answer("close question NO", kCheck, kCloseQuestion, QStringLiteral("NO"));
            s.CancelSelect({QStringLiteral("CAMORA HD"), QStringLiteral("CAMORA SPARE")});
            s.Answer("close question YES", kCheck, kCloseQuestion, QStringLiteral("YES"));
            s.Run();
        },
        ExitedWithCode(0), "step done: close question NO(.|\n)*step done: close question YES");
}

TEST_F(ProgramEndToEndTest, CancelWhileConnectingReturnsAtOnceAndTheLateHandshakeStillCounts) {
    EXPECT_EXIT(
        {
            Scenario s;
            s.RegistryStack();
            s.camera().AddFault(
                {.kind = sim::FaultKind::Late, .opcode = CTP_GET_MODE, .delayMs = 2000});
            s.StartCamera("COM8");
            sim::Camcorder& cam = s.camera();
            s.ConfirmInstruction();
            s.Choose({QStringLiteral("CAMORA HD")});
            s.driver().Step("connect CANCEL", [] {
                return ProgramDriver::Click(ProgramDriver::ScreenWith(kConnecting), kCancel);
            });
            // At once: before the camera's late answer (the handshake waits 3 s).
            s.driver().Step("select screen again", [&cam] {
                if (ProgramDriver::ScreenWith(kSelectTitle) == nullptr) {
                    return false;
                }
                if (!cam.SentFrames().empty() || platform::IsWaitCursorShown()) {
                    ProgramDriver::Fail("the select screen came only after the answer");
                }
                return true;
            });
            // The late answer reaches no window but ends the connecting state:
            // a lost link now ends the program. The camera having sent it is
            // not enough: the link goes only once the program has taken it.
            s.driver().Step("the late answer", [&cam] {
                return !cam.SentFrames().empty() && !AppRegistry.ctpEngine->IsConnecting();
            });
            s.driver().Step("the camera goes away", [&cam] {
                cam.DropLink();
                return true;
            });
            s.Answer("disconnected OK", kError, kDisconnected, kOk);
            s.Run();
        },
        ExitedWithCode(0),
        "step done: select screen again(.|\n)*box: ERROR \\| BLUETOOTH DISCONNECTED");
}

TEST_F(ProgramEndToEndTest, MainScreenEndingWithItsCloseCommandReturnsZeroFromTheEntry) {
    EXPECT_EXIT(
        {
            Scenario s;
            s.RegistryStack();
            s.StartCamera("COM8");
            s.ConfirmInstruction();
            s.Choose({QStringLiteral("CAMORA HD")});
            s.WaitForMainScreen();
            s.driver().Step("command 1003", [] {
                platform::SendWindowMessage(AppRegistry.mainWindow, platform::kMsgCommand,
                                            platform::MakeCommand(ui::res::kCtlExitProgram, 0));
                return true;
            });
            s.Run();
        },
        ExitedWithCode(0), "step done: command 1003(.|\n)*entry returned 0");
}

TEST_F(ProgramEndToEndTest, StartUpFailureShowsTheMemoryMessage) {
    EXPECT_EXIT(
        {
            Scenario s;
            s.RegistryStack();
            // The camera state's lock cannot be made.
            platform::FailNextCreations(100);
            s.Answer("start-up failure OK", kError,
                     QStringLiteral("UNABLE TO START-UP DUE TO INSUFFICIENT MEMORY"), kOk);
            s.Run();
        },
        ExitedWithCode(0), "box: ERROR \\| UNABLE TO START-UP(.|\n)*entry returned 0");
}

TEST_F(ProgramEndToEndTest, LinkHeldByAnotherProgramShowsTheInUseBoxAndEnds) {
    EXPECT_EXIT(
        {
            Scenario s;
            s.RegistryStack();
            // camora-remote's hold on the link: a lock of its own on the file
            // (flock locks of separate opens exclude each other in one process too).
            platform::InstanceLock remote;
            if (remote.TryTake("camora-remote") != platform::InstanceLock::Result::Taken) {
                ProgramDriver::Fail("the stand-in could not take the link lock");
            }
            s.driver().Step("in-use box OK, before any screen", [] {
                if (AppRegistry.instructionScreen != nullptr) {
                    ProgramDriver::Fail("the instruction screen came up despite the held link");
                }
                return ProgramDriver::Answer(
                    kError, QStringLiteral("THE CAMCORDER IS IN USE BY ANOTHER PROGRAM"), kOk);
            });
            s.Run();
        },
        ExitedWithCode(0),
        "box: ERROR \\| THE CAMCORDER IS IN USE BY ANOTHER PROGRAM(.|\n)*entry returned 0");
}

}  // namespace

#include "testkit/ui/MainScreenHarness.h"

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <filesystem>

#include "core/AppRegistry.h"
#include "platform/gps/Gps.h"
#include "platform/serial/SerialPort.h"
#include "platform/ui/Dialog.h"
#include "resources/Dialogs.h"
#include "resources/ResourceIds.h"
#include "resources/SkinBitmaps.h"
#include "sim/Wire.h"

namespace uitest {

MainScreenHarness::MainScreenHarness(HarnessOptions options) {
    platform::UseGpsTrack({}, false);
    if (options.externalLine.empty()) {
        camera_ = std::make_unique<sim::Camcorder>(options.camera);
        if (!camera_->Start() || !camera_->LinkAsDevice("COM4")) {
            return;
        }
    } else {
        std::error_code error;
        std::filesystem::create_directories(root_.Host("dev"), error);
        std::filesystem::create_symlink(options.externalLine, root_.Host("dev/COM4"), error);
        if (error) {
            return;
        }
    }
    const platform::PortHandle port = platform::SerialPort::Open(u"COM4:");
    if (port == nullptr) {
        return;
    }
    engine_ = new CCtpEngine;
    if (engine_->Start(port) != 1) {
        return;
    }
    state_ = new CCameraState;
    config_ = new CConfigStore;
    config_->SetString("TimeOut", std::to_string(options.timeOutSeconds));
    const ControllerServices services{engine_, state_, config_};
    command_ = new CCamCmdController(services);
    mode_ = new CCamModeController(services);
    monitor_ = new CMonitorController(services);
    gps_ = new CGpsController(services);
    if (command_->Start() != 1 || mode_->Start() != 1 || monitor_->Start() != 1 ||
        gps_->Start() != 1) {
        return;
    }
    AppRegistry.configStore = config_;
    AppRegistry.cameraState = state_;
    AppRegistry.ctpEngine = engine_;
    AppRegistry.commandController = command_;
    AppRegistry.modeController = mode_;
    AppRegistry.monitorController = monitor_;
    AppRegistry.gpsController = gps_;
    AppRegistry.versionScreen = nullptr;
    screen_ = new CEstablishDialog;
    AppRegistry.mainScreen = screen_;
    screen_->Init(options.module != nullptr ? options.module : ui::ProgramModule(),
                  &MainScreenProcedure);
    ready_ = true;
}

MainScreenHarness::~MainScreenHarness() {
    // Later messages from this harness's workers find no window; the camera
    // stops, so its engine's reads fail quietly (the engine never left the
    // connecting state).
    if (camera_ != nullptr) {
        camera_->Stop();
    }
}

int MainScreenHarness::Run(const std::function<void()>& script) {
    // A timer event, not a posted one: while a posted event is being
    // delivered, events posted meanwhile (the window layer's wake-ups for
    // the workers' sends among them) wait for the outer delivery to end, and
    // the script's waits would never see them.
    QTimer::singleShot(1, [this, script] {
        testsupport::PumpGuiUntil([this] { return widget() != nullptr && widget()->isVisible(); });
        widget_ = widget();
        script();
        platform::SendWindowMessage(window(), platform::kMsgCommand,
                                    platform::MakeCommand(ui::res::kCtlExitProgram, 0));
    });
    const int result = screen_->DoModal();
    widget_ = nullptr;
    return result;
}

bool MainScreenHarness::WaitForCameraStatus(std::chrono::milliseconds limit) {
    if (camera_ == nullptr) {
        return testsupport::PumpGuiUntil([this] { return screen_->BatteryIndicator() == 0; },
                                         limit);
    }
    return testsupport::PumpGuiUntil(
        [this] {
            const sim::CameraStatus s = camera_->Status();
            const int battery = s.acPower == 1 ? 0 : std::min(s.batteryLevel + 1, 6);
            return screen_->ModeIndicator() == s.mode && screen_->BatteryIndicator() == battery &&
                   (s.mode != 0 || screen_->RecordIndicator() == s.operationState);
        },
        limit);
}

platform::WindowHandle MainScreenHarness::window() const {
    return screen_->window;
}

QWidget* MainScreenHarness::widget() const {
    if (widget_ != nullptr) {
        return widget_;
    }
    // The main screen is the dialog without controls of its own.
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->isVisible() && w->inherits("QDialog") && !w->inherits("QMessageBox") &&
            w->findChildren<QWidget*>().isEmpty()) {
            return w;
        }
    }
    return nullptr;
}

QPoint MainScreenHarness::ToWindow(QPoint panelPoint) const {
    const CScreenFitter* f = screen_->Fitter();
    if (f == nullptr) {
        return panelPoint;
    }
    // The inverse of MapX/MapY, rounded so that it maps back to the point.
    const double x = f->DrawX() + panelPoint.x() * f->Scale();
    const double y = f->DrawY() + panelPoint.y() * f->Scale();
    return QPoint(static_cast<int>(x + 0.5), static_cast<int>(y + 0.5));
}

void MainScreenHarness::PenDownAtWindow(QPoint windowPoint) {
    QTest::mousePress(widget(), Qt::LeftButton, Qt::NoModifier, windowPoint);
}

void MainScreenHarness::PenUpAtWindow(QPoint windowPoint) {
    QTest::mouseRelease(widget(), Qt::LeftButton, Qt::NoModifier, windowPoint);
}

void MainScreenHarness::PenDown(QPoint panelPoint) {
    PenDownAtWindow(ToWindow(panelPoint));
}

void MainScreenHarness::PenUp(QPoint panelPoint) {
    PenUpAtWindow(ToWindow(panelPoint));
}

void MainScreenHarness::Tap(QPoint panelPoint) {
    PenDown(panelPoint);
    PenUp(panelPoint);
}

QImage MainScreenHarness::Grab() {
    QWidget* w = widget();
    w->repaint();
    return w->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

QImage MainScreenHarness::GrabPanel() {
    const CScreenFitter* f = screen_->Fitter();
    const QImage all = Grab();
    return all.copy(f->DrawX(), f->DrawY(), 480, 588);
}

size_t MainScreenHarness::KeyFrames() const {
    return camera_ != nullptr ? camera_->CountReceived(sim::CTP_CAMCMD) : 0;
}

QImage SkinImage(uint32_t id) {
    const auto bytes = ui::SkinBitmapData(id);
    QImage image;
    image.loadFromData(bytes.data(), static_cast<int>(bytes.size()), "PNG");
    return image.convertToFormat(QImage::Format_RGB32);
}

bool Shows(const QImage& panel, uint32_t id, int x, int y) {
    const QImage bitmap = SkinImage(id);
    if (bitmap.isNull()) {
        return false;
    }
    return panel.copy(x, y, bitmap.width(), bitmap.height()) == bitmap;
}

}  // namespace uitest

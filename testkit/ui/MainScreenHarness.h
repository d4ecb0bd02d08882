// The main screen run as the program runs it, on Qt's offscreen platform:
// the program's own controllers and exchange engine on a real
// pseudo-terminal to the camcorder simulator, the screen's modal loop on
// this (the GUI) thread, and pen events delivered to its window as the
// window system delivers them. Until the start-up sequence builds these
// objects, this is where they are built.
//
//   MainScreenHarness h;                  // camera, engine, controllers, screen
//   h.Run([&] {                           // inside the screen's modal loop
//       h.Tap(kRecord);                   // pen down and up on a panel point
//       testsupport::PumpGuiUntil([&] { ... });  // run the GUI while waiting
//   });                                   // the screen ends with 1003
//
// Objects with threads are never freed (their threads run on), like the
// program's; AppRegistry points at this harness's objects until the next one.
#pragma once

#include <QImage>
#include <QPoint>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "controllers/CamCmdController.h"
#include "controllers/CamModeController.h"
#include "controllers/GpsController.h"
#include "controllers/MonitorController.h"
#include "core/CameraState.h"
#include "core/ConfigStore.h"
#include "ctp/CtpEngine.h"
#include "platform/ui/Window.h"
#include "sim/Camcorder.h"
#include "testkit/PumpUntil.h"
#include "testkit/TempDeviceRoot.h"
#include "ui/EstablishDialog.h"

class QWidget;

namespace uitest {

using namespace std::chrono_literals;

struct HarnessOptions {
    HarnessOptions() { camera.modePollIntervalMs = 50; }
    sim::Options camera;
    // The command controller's and the others' reply time-out, seconds.
    int timeOutSeconds = 2;
    // A camera running elsewhere (camora-camsim in a process of its own):
    // the line it serves. Without it the camera runs in this process.
    std::string externalLine;
    // The screen's resource module; null for the program's embedded one.
    const platform::ResourceModule* module = nullptr;
};

class MainScreenHarness {
public:
    explicit MainScreenHarness(HarnessOptions options = {});
    ~MainScreenHarness();
    MainScreenHarness(const MainScreenHarness&) = delete;
    MainScreenHarness& operator=(const MainScreenHarness&) = delete;

    // True when the camera, the engine and every controller started.
    bool Ready() const { return ready_; }

    // Runs the screen modally; `script` runs inside its loop once the window
    // is up, then the screen is ended with command 1003. Returns DoModal's value.
    int Run(const std::function<void()>& script);

    // Waits until the screen shows the camera's current status.
    bool WaitForCameraStatus(std::chrono::milliseconds limit = 10s);

    // Pen events on the window at a point of the panel (layout pixels),
    // mapped through the screen's fitter, or at a window position.
    void PenDown(QPoint panelPoint);
    void PenUp(QPoint panelPoint);
    void Tap(QPoint panelPoint);
    void PenDownAtWindow(QPoint windowPoint);
    void PenUpAtWindow(QPoint windowPoint);
    QPoint ToWindow(QPoint panelPoint) const;

    // Repaints now and returns what the window shows.
    QImage Grab();
    // The part of a grab that is the panel (480 x 588 layout pixels).
    QImage GrabPanel();

    // The camera in this process (not with an external line).
    sim::Camcorder& camera() const { return *camera_; }
    CEstablishDialog& screen() { return *screen_; }
    CCameraState& state() { return *state_; }
    CMonitorController& monitor() { return *monitor_; }
    CGpsController& gps() { return *gps_; }
    platform::WindowHandle window() const;
    QWidget* widget() const;

    // The key frames (CTP_CAMCMD on channel 3) the camera has taken in.
    size_t KeyFrames() const;

private:
    testsupport::TempDeviceRoot root_;
    std::unique_ptr<sim::Camcorder> camera_;
    CCtpEngine* engine_ = nullptr;
    CCameraState* state_ = nullptr;
    CConfigStore* config_ = nullptr;
    CCamCmdController* command_ = nullptr;
    CCamModeController* mode_ = nullptr;
    CMonitorController* monitor_ = nullptr;
    CGpsController* gps_ = nullptr;
    CEstablishDialog* screen_ = nullptr;
    bool ready_ = false;
    QWidget* widget_ = nullptr;  // the main screen's window while Run runs
};

// The panel's controls at their centres, in layout pixels.
inline constexpr QPoint kSnapshotPoint{60, 286};
inline constexpr QPoint kTelePoint{180, 286};
inline constexpr QPoint kPausePoint{300, 286};
inline constexpr QPoint kRecordPoint{420, 286};
inline constexpr QPoint kRewindPoint{60, 386};
inline constexpr QPoint kPlayPoint{180, 386};
inline constexpr QPoint kForwardPoint{300, 386};
inline constexpr QPoint kIndexPoint{60, 486};
inline constexpr QPoint kWidePoint{180, 486};
inline constexpr QPoint kGpsPoint{300, 486};
inline constexpr QPoint kVersionPoint{120, 562};
inline constexpr QPoint kExitPoint{360, 562};
inline constexpr QPoint kPreviewPoint{180, 118};

// The skin bitmap `id` as an image.
QImage SkinImage(uint32_t id);
// Whether `panel` shows bitmap `id` with its top left corner at (x, y).
bool Shows(const QImage& panel, uint32_t id, int x, int y);

}  // namespace uitest

// Feeds the camcorder with the handset's position: a worker switches the
// camera's GPS feed on and off and sends it the latest $GPGGA sentence every
// GpsInterval seconds on channel 2, while a position thread keeps that
// sentence up to date from the GPS device.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "controllers/BaseController.h"
#include "platform/gps/Gps.h"
#include "platform/kernel/Kernel.h"
#include "platform/kernel/Protected.h"
#include "platform/ui/Window.h"
#include "resources/ResourceIds.h"

class CCtpDataCamCmd;
class CCtpDataGps;

class CGpsController : public CBaseController {
public:
    // The channel of the exchange engine that belongs to this controller.
    static constexpr int kChannel = 2;
    // Bytes of the stored sentence, its terminating zero included.
    static constexpr size_t kSentenceBytes = 83;

    explicit CGpsController(const ControllerServices& services);
    // Frees nothing: both threads run until the process ends.
    ~CGpsController() override;

    // The start-up probe: 1 when a GPS device can be opened (it is closed
    // again at once); otherwise 0, and from then on Request does nothing.
    int CheckDevice();
    // False once CheckDevice has found no GPS device.
    bool DeviceAvailable() const { return deviceAvailable_; }

    // Creates the events and locks, then the worker and the position thread:
    // 1, or -2 when one of them cannot be created.
    int Start() override;

    // The GPS button: switches GPS on or off and asks the camera to follow.
    // Does nothing on a handset without GPS device or before a good Start.
    void Request(platform::WindowHandle window) override;

    // Stops feeding: closes the device, shows GPS off and clears the switch.
    // With `notify` the position thread stops polling and the worker wakes.
    void StopFeed(bool notify);

    // Stores the $GPGGA sentence for the record; 1 when the record had a fix.
    // This and MakeGpsPacket need the sentence lock, made by Start.
    int FormatGga(const platform::GpsPosition& record);

    // A CTP_GPS packet carrying the stored sentence; null while there is none
    // yet or when no packet can be made. The caller owns it.
    CCtpDataGps* MakeGpsPacket();

    // A CTP_GPS_CMD packet that switches the feed on (param 0) while GPS is
    // on and off (param 1) otherwise, with the camera's mode and state bytes.
    CCtpDataCamCmd* MakeGpsCmdPacket();

    // Degrees and decimal minutes packed as dddmm.mmmm, from signed degrees.
    static double PackCoordinate(double degrees);
    // The sentence field for a packed coordinate: zero padded to four integer
    // digits (latitude) or five (longitude), six decimals; empty outside the
    // range of its padding bands.
    static std::string FormatCoordinate(double packed, bool longitude);

private:
    // Indexes into positionEvents_, which the position thread waits on at once.
    enum PositionEvent { kStop = 0, kNewLocation = 1, kDeviceState = 2 };

    static uint32_t WorkerProc(void* controller);
    static uint32_t PositionProc(void* controller);
    void RunWorker();
    void RunPositionThread();

    bool IsActive();
    void NotifyWindow();
    // Opens the device for a confirmed switch-on; false (and closed again)
    // when GPS was switched off meanwhile.
    bool OpenDevice();
    void CloseDevice();

    std::unique_ptr<platform::Thread> positionThread_;
    std::unique_ptr<platform::Event> wakeEvent_;
    std::unique_ptr<platform::Event> positionStartEvent_;
    std::array<std::unique_ptr<platform::Event>, 3> positionEvents_;
    // Written by the main thread and the worker, read by the position thread.
    std::atomic<platform::GpsDevice> device_{};
    // 1 while a switch on or off has not yet been confirmed by the camera.
    std::atomic<bool> pending_{false};
    // Counts the presses, so a press during an exchange is not cleared with it.
    std::atomic<uint32_t> switchRequests_{0};
    platform::Protected<bool> active_;  // true while GPS is switched on
    // Main thread only: CheckDevice writes it at start-up, Request reads it.
    bool deviceAvailable_ = true;
    std::atomic<bool> started_{false};
    std::atomic<platform::WindowHandle> window_{};
    platform::Protected<std::array<char, kSentenceBytes>> sentence_;
};

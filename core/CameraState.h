// The shared record of the camera's last reported mode, operating state and
// power, and of the handset's own GPS, live-view and capture flags, with the
// rules that say which requests may be sent in which state.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/kernel/Protected.h"

// Kinds of request asked about with CCameraState::IsActionAllowed.
enum CameraAction : int {
    ActionGps = 0,
    ActionCommand = 1,
    ActionAlways = 2,
    ActionCapture = 3,
    ActionMonitor = 4,
};

// A plain copy of the state's nine values, in the record's order.
// The camera's modes, as CameraStateSnapshot::mode holds them.
inline constexpr uint16_t kModeVideoRecord = 0;
inline constexpr uint16_t kModeVideoPlayback = 1;
inline constexpr uint16_t kModeStillRecord = 2;
inline constexpr uint16_t kModeStillPlayback = 3;
// Its operating states, as CameraStateSnapshot::operationState holds them.
inline constexpr uint16_t kStateStandby = 0;
inline constexpr uint16_t kStateShooting = 1;
inline constexpr uint16_t kStateQuickStartStandby = 2;

constexpr bool IsPlaybackMode(int mode) {
    return mode == kModeVideoPlayback || mode == kModeStillPlayback;
}

// CameraStateSnapshot::gpsStatus.
inline constexpr uint16_t kGpsStatusOff = 0;
inline constexpr uint16_t kGpsStatusPosition = 1;    // on, with a valid position
inline constexpr uint16_t kGpsStatusNoPosition = 2;  // on, without one

struct CameraStateSnapshot {
    uint16_t mode;             // kModeVideoRecord to kModeStillPlayback
    uint16_t operationState;   // kStateStandby to kStateQuickStartStandby
    uint16_t acPower;          // 1: on mains
    uint16_t batteryAttached;  // 1: a battery is connected
    uint16_t responseWord;     // as the camera sent it, not interpreted
    uint16_t batteryLevel;     // 0 to 5
    uint16_t gpsStatus;        // kGpsStatusOff, kGpsStatusPosition, kGpsStatusNoPosition
    uint16_t monitorActive;    // 1 while live view runs
    uint16_t captureActive;    // 1 while a still capture runs
};
static_assert(sizeof(CameraStateSnapshot) == 18);

class CCameraState {
public:
    // The one state of the program, created on the first call. Throws when
    // its lock cannot be created.
    static CCameraState* GetInstance();

    // A state of its own, all values 0 (GetInstance makes the program's).
    // Throws when the lock cannot be created.
    CCameraState();
    CCameraState(const CCameraState&) = delete;
    CCameraState& operator=(const CCameraState&) = delete;

    void GetSnapshot(CameraStateSnapshot* snapshot);

    // Values at or above the bound (a negative one included) are dropped.
    void SetMode(uint32_t value);             // below 4
    void SetOperationState(uint32_t value);   // below 3
    void SetAcPower(uint32_t value);          // below 2
    void SetBatteryAttached(uint32_t value);  // below 2
    void SetBatteryLevel(uint32_t value);     // below 6

    // These keep the low 16 bits of the value.
    void SetResponseWord(int32_t value);
    void SetGpsStatus(int32_t value);
    void SetMonitorActive(int32_t value);
    void SetCaptureActive(int32_t value);

    // Whether a request of the kind (a CameraAction) may be sent now.
    bool IsActionAllowed(int type);
    // Whether the remote panel is greyed with its control buttons ignored.
    bool IsPanelLocked();
    // A recording mode while the panel is not locked.
    bool IsRecordingModeNotBusy();

private:
    void SetBounded(uint16_t CameraStateSnapshot::*field, uint32_t value, uint32_t bound);
    void SetLow16(uint16_t CameraStateSnapshot::*field, int32_t value);

    platform::Protected<CameraStateSnapshot> values_;
};

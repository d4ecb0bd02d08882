#include "core/CameraState.h"

#include <stdexcept>

CCameraState* CCameraState::GetInstance() {
    // A failed construction leaves nothing behind and is tried again next call.
    static CCameraState* const instance = std::make_unique<CCameraState>().release();
    return instance;
}

CCameraState::CCameraState() : lock_(platform::Mutex::Create()) {
    if (!lock_) {
        throw std::runtime_error("Camera State Lock Error.");
    }
}

void CCameraState::GetSnapshot(CameraStateSnapshot* snapshot) {
    platform::MutexLock hold(*lock_);
    *snapshot = values_;
}

void CCameraState::SetBounded(uint16_t CameraStateSnapshot::*field, uint32_t value,
                              uint32_t bound) {
    // Refused values never take the lock.
    if (value >= bound) {
        return;
    }
    platform::MutexLock hold(*lock_);
    values_.*field = static_cast<uint16_t>(value);
}

void CCameraState::SetLow16(uint16_t CameraStateSnapshot::*field, int32_t value) {
    platform::MutexLock hold(*lock_);
    values_.*field = static_cast<uint16_t>(static_cast<uint32_t>(value));
}

void CCameraState::SetMode(uint32_t value) {
    SetBounded(&CameraStateSnapshot::mode, value, 4);
}

void CCameraState::SetOperationState(uint32_t value) {
    SetBounded(&CameraStateSnapshot::operationState, value, 3);
}

void CCameraState::SetAcPower(uint32_t value) {
    SetBounded(&CameraStateSnapshot::acPower, value, 2);
}

void CCameraState::SetBatteryAttached(uint32_t value) {
    SetBounded(&CameraStateSnapshot::batteryAttached, value, 2);
}

void CCameraState::SetBatteryLevel(uint32_t value) {
    SetBounded(&CameraStateSnapshot::batteryLevel, value, 6);
}

void CCameraState::SetResponseWord(int32_t value) {
    SetLow16(&CameraStateSnapshot::responseWord, value);
}

void CCameraState::SetGpsStatus(int32_t value) {
    SetLow16(&CameraStateSnapshot::gpsStatus, value);
}

void CCameraState::SetMonitorActive(int32_t value) {
    SetLow16(&CameraStateSnapshot::monitorActive, value);
}

void CCameraState::SetCaptureActive(int32_t value) {
    SetLow16(&CameraStateSnapshot::captureActive, value);
}

bool CCameraState::IsActionAllowed(int type) {
    platform::MutexLock hold(*lock_);
    const uint16_t mode = values_.mode;
    const bool quickStart = values_.operationState == kStateQuickStartStandby;
    switch (type) {
        case ActionGps:
            return (mode == kModeVideoRecord || mode == kModeStillRecord) && !quickStart;
        case ActionCommand:
            return !quickStart;
        case ActionAlways:
            return true;
        case ActionCapture:
            return IsPlaybackMode(mode) && !quickStart;
        case ActionMonitor:
            return values_.captureActive == 0 && mode == kModeVideoRecord && !quickStart;
        default:
            return false;
    }
}

bool CCameraState::IsPanelLocked() {
    platform::MutexLock hold(*lock_);
    const uint16_t mode = values_.mode;
    const uint16_t state = values_.operationState;
    return (mode == kModeVideoRecord && state == kStateQuickStartStandby) ||
           ((mode == kModeVideoPlayback || mode == kModeStillRecord ||
             mode == kModeStillPlayback) &&
            state == kStateShooting);
}

bool CCameraState::IsRecordingModeNotBusy() {
    if (IsPanelLocked()) {
        return false;
    }
    platform::MutexLock hold(*lock_);
    return !IsPlaybackMode(values_.mode);
}

#include "core/CameraState.h"

#include <stdexcept>

CCameraState* CCameraState::GetInstance() {
    // A failed construction leaves nothing behind and is tried again next call.
    static CCameraState* const instance = std::make_unique<CCameraState>().release();
    return instance;
}

CCameraState::CCameraState() {
    if (!values_.Create()) {
        throw std::runtime_error("Camera State Lock Error.");
    }
}

void CCameraState::GetSnapshot(CameraStateSnapshot* snapshot) {
    *snapshot = values_.Get();
}

void CCameraState::SetBounded(uint16_t CameraStateSnapshot::*field, uint32_t value,
                              uint32_t bound) {
    // Refused values never take the lock.
    if (value >= bound) {
        return;
    }
    values_.With([&](CameraStateSnapshot& v) { v.*field = static_cast<uint16_t>(value); });
}

void CCameraState::SetLow16(uint16_t CameraStateSnapshot::*field, int32_t value) {
    values_.With([&](CameraStateSnapshot& v) {
        v.*field = static_cast<uint16_t>(static_cast<uint32_t>(value));
    });
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
    const CameraStateSnapshot values = values_.Get();
    const uint16_t mode = values.mode;
    const bool quickStart = values.operationState == kStateQuickStartStandby;
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
            return values.captureActive == 0 && mode == kModeVideoRecord && !quickStart;
        default:
            return false;
    }
}

bool CCameraState::IsPanelLocked() {
    const CameraStateSnapshot values = values_.Get();
    const uint16_t mode = values.mode;
    const uint16_t state = values.operationState;
    return (mode == kModeVideoRecord && state == kStateQuickStartStandby) ||
           ((mode == kModeVideoPlayback || mode == kModeStillRecord ||
             mode == kModeStillPlayback) &&
            state == kStateShooting);
}

bool CCameraState::IsRecordingModeNotBusy() {
    if (IsPanelLocked()) {
        return false;
    }
    return !IsPlaybackMode(values_.Get().mode);
}

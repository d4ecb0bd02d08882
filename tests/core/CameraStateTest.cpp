#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/CameraState.h"
#include "platform/kernel/Kernel.h"

namespace {

CameraStateSnapshot SnapshotOf(CCameraState& state) {
    CameraStateSnapshot snapshot{};
    state.GetSnapshot(&snapshot);
    return snapshot;
}

}  // namespace

TEST(CameraStateTest, PermissionsForEveryModeAndOperatingState) {
    struct Row {
        uint32_t mode;
        uint32_t state;
        const char* allowed;  // types 0 to 5, '1' allowed; captureActive 0
        bool locked;
        bool recordingNotBusy;
    };
    const std::vector<Row> rows = {
        {0, 0, "111010", false, true}, {0, 1, "111010", false, true},
        {0, 2, "001000", true, false}, {1, 0, "011100", false, false},
        {1, 1, "011100", true, false}, {1, 2, "001000", false, false},
        {2, 0, "111000", false, true}, {2, 1, "111000", true, false},
        {2, 2, "001000", false, true}, {3, 0, "011100", false, false},
        {3, 1, "011100", true, false}, {3, 2, "001000", false, false},
    };
    for (const Row& row : rows) {
        for (const int capture : {0, 1}) {
            SCOPED_TRACE("mode " + std::to_string(row.mode) + " state " +
                         std::to_string(row.state) + " capture " + std::to_string(capture));
            CCameraState state;
            state.SetMode(row.mode);
            state.SetOperationState(row.state);
            state.SetCaptureActive(capture);
            for (int type = 0; type <= 5; ++type) {
                // A running capture shuts out live view and nothing else.
                const bool expected =
                    row.allowed[type] == '1' && !(type == ActionMonitor && capture == 1);
                EXPECT_EQ(state.IsActionAllowed(type), expected) << "type " << type;
            }
            EXPECT_FALSE(state.IsActionAllowed(-1));
            EXPECT_FALSE(state.IsActionAllowed(100));
            EXPECT_EQ(state.IsPanelLocked(), row.locked);
            EXPECT_EQ(state.IsRecordingModeNotBusy(), row.recordingNotBusy);
        }
    }
}

TEST(CameraStateTest, BoundedSettersDropValuesAtOrAboveTheirBound) {
    struct Setter {
        const char* name;
        void (CCameraState::*set)(uint32_t);
        uint16_t CameraStateSnapshot::*field;
        uint32_t bound;
    };
    const std::vector<Setter> setters = {
        {"SetMode", &CCameraState::SetMode, &CameraStateSnapshot::mode, 4},
        {"SetOperationState", &CCameraState::SetOperationState,
         &CameraStateSnapshot::operationState, 3},
        {"SetAcPower", &CCameraState::SetAcPower, &CameraStateSnapshot::acPower, 2},
        {"SetBatteryAttached", &CCameraState::SetBatteryAttached,
         &CameraStateSnapshot::batteryAttached, 2},
        {"SetBatteryLevel", &CCameraState::SetBatteryLevel, &CameraStateSnapshot::batteryLevel, 6},
    };
    const int negative = -1;
    const int32_t mostNegative = INT32_MIN;
    for (const Setter& s : setters) {
        SCOPED_TRACE(s.name);
        CCameraState state;
        const uint32_t top = s.bound - 1;
        (state.*s.set)(top);
        EXPECT_EQ(SnapshotOf(state).*s.field, top);
        // 0x10000 + 1 would pass if the value were cut to 16 bits before the test.
        for (const uint32_t refused :
             {s.bound, s.bound + 1, 0x10000u + 1, 0xFFFFFFFFu, static_cast<uint32_t>(negative),
              static_cast<uint32_t>(mostNegative)}) {
            (state.*s.set)(refused);
            EXPECT_EQ(SnapshotOf(state).*s.field, top) << "accepted " << refused;
        }
        // A negative int passed straight in is refused as well.
        (state.*s.set)(negative);
        EXPECT_EQ(SnapshotOf(state).*s.field, top);
        (state.*s.set)(0);
        EXPECT_EQ(SnapshotOf(state).*s.field, 0);
    }
}

TEST(CameraStateTest, UnboundedSettersKeepTheLow16Bits) {
    struct Setter {
        const char* name;
        void (CCameraState::*set)(int32_t);
        uint16_t CameraStateSnapshot::*field;
    };
    const std::vector<Setter> setters = {
        {"SetResponseWord", &CCameraState::SetResponseWord, &CameraStateSnapshot::responseWord},
        {"SetGpsStatus", &CCameraState::SetGpsStatus, &CameraStateSnapshot::gpsStatus},
        {"SetMonitorActive", &CCameraState::SetMonitorActive, &CameraStateSnapshot::monitorActive},
        {"SetCaptureActive", &CCameraState::SetCaptureActive, &CameraStateSnapshot::captureActive},
    };
    for (const Setter& s : setters) {
        SCOPED_TRACE(s.name);
        CCameraState state;
        for (const auto& [value, stored] : std::vector<std::pair<int32_t, uint16_t>>{
                 {7, 7}, {0x12345, 0x2345}, {-1, 0xFFFF}, {0x10000, 0}, {0xBEEF, 0xBEEF}}) {
            (state.*s.set)(value);
            EXPECT_EQ(SnapshotOf(state).*s.field, stored) << value;
        }
    }
}

TEST(CameraStateTest, SnapshotCopiesEachFieldToItsOwnPlace) {
    CCameraState state;
    const CameraStateSnapshot fresh = SnapshotOf(state);
    for (const uint16_t value : {fresh.mode, fresh.operationState, fresh.acPower,
                                 fresh.batteryAttached, fresh.responseWord, fresh.batteryLevel,
                                 fresh.gpsStatus, fresh.monitorActive, fresh.captureActive}) {
        EXPECT_EQ(value, 0);
    }

    state.SetMode(3);
    state.SetOperationState(2);
    state.SetAcPower(1);
    state.SetBatteryAttached(1);
    state.SetResponseWord(0xA55A);
    state.SetBatteryLevel(5);
    state.SetGpsStatus(2);
    state.SetMonitorActive(7);
    state.SetCaptureActive(9);
    const CameraStateSnapshot s = SnapshotOf(state);
    EXPECT_EQ(s.mode, 3);
    EXPECT_EQ(s.operationState, 2);
    EXPECT_EQ(s.acPower, 1);
    EXPECT_EQ(s.batteryAttached, 1);
    EXPECT_EQ(s.responseWord, 0xA55A);
    EXPECT_EQ(s.batteryLevel, 5);
    EXPECT_EQ(s.gpsStatus, 2);
    EXPECT_EQ(s.monitorActive, 7);
    EXPECT_EQ(s.captureActive, 9);
}

TEST(CameraStateTest, GetInstanceLetsALockFailurePassAndThenHandsOutOneState) {
    // The only test of this program that touches the process-wide state.
    platform::FailNextCreations(1);
    EXPECT_ANY_THROW(CCameraState::GetInstance());
    CCameraState* state = CCameraState::GetInstance();
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(CCameraState::GetInstance(), state);
    EXPECT_TRUE(state->IsActionAllowed(ActionCommand));
}

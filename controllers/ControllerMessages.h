// The window messages that the controllers' workers send to the main screen,
// synchronously and with both parameters 0.
#pragma once

#include <cstdint>

// The mode controller has stored a camera answer.
inline constexpr uint32_t WM_CAMERA_STATUS = 0x8067;
// The GPS controller's sending state has changed.
inline constexpr uint32_t WM_GPS_STATUS = 0x8068;
// Live view has been switched on.
inline constexpr uint32_t WM_MONITOR_STARTING = 0x8069;
// A live-view image is ready to be taken.
inline constexpr uint32_t WM_MONITOR_FRAME = 0x806A;
// Live view has been switched off, or a live-view run has ended.
inline constexpr uint32_t WM_MONITOR_STOPPED = 0x806B;

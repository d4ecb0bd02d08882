// A pause that keeps the program's windows alive: on the GUI thread its event
// loop runs meanwhile (windows paint, boxes of other threads show and close,
// other threads' sends are served); on any other thread it is a plain sleep.
#pragma once

#include <cstdint>

namespace platform {

// Waits `ms` milliseconds of the (scaled) clock.
void WaitKeepingWindowsLive(uint32_t ms);

class Event;

// Waits until `event` is set or `ms` milliseconds of the (scaled) clock have
// passed, windows kept alive the same way; true when the event was set.
bool WaitKeepingWindowsLiveFor(Event& event, uint32_t ms);

}  // namespace platform

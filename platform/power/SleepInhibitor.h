// Keeps the handset awake while the user's work needs the camera link: an
// inhibitor lock of the system's login manager (logind's Inhibit, what
// "idle:sleep", who "CamoraController", mode "block") over the system bus,
// held while a reason is set and released when it is cleared. A new reason
// takes its lock before the old one is released, so the handset is never left
// unguarded in between. The bus calls run on a thread of their own: callers
// never wait for the bus, whatever logind does. Without logind nothing is
// held and nothing fails.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Off until the program switches it on, so that tests of its parts and the
// tools that share them never keep the machine awake.
void EnableSleepInhibitor(bool enabled);

// The reason shown to the user for the lock ("recording", ...); empty
// releases it.
void SetSleepInhibitReason(const std::string& why);

// Test support: the reason last asked for (empty: none).
std::string SleepInhibitReason();
// Test support: waits until the bus thread has done what was last asked;
// false when `timeoutMs` passed first.
bool WaitSleepInhibitorSettled(uint32_t timeoutMs);

}  // namespace platform

// The program's entry, called by the platform's entry function on the main
// thread with the program's resource module as the instance handle.
#pragma once

#include "platform/ui/Resources.h"

// Refuses a second instance (bringing the first one's screen to the front),
// builds, starts and runs the program; returns 0 in every case, also after
// the start-up failure message.
int AppEntryPoint(platform::InstanceHandle instance);

// The close question of the main screen's Exit bar. It is asked on a thread
// of its own, so that the main screen keeps running while it is open; each
// press of Exit asks its own.
#pragma once

#include <cstdint>

// Thread procedure (its argument is ignored): asks "DO YOU WANT TO CLOSE
// THIS APPLICATION?" in a box owned by the main screen's window. YES
// removes the link library's connection, when that library is the device
// source, and ends the process with 0; NO returns 0 and changes nothing.
uint32_t CloseConfirmWorker(void* unused);

// Starts CloseConfirmWorker on a new thread; false when none could be made.
bool StartCloseConfirmWorker();

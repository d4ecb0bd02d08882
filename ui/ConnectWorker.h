// The connect procedure's thread, started by the connect screen at its
// initialisation, one per showing.
#pragma once

#include <cstdint>

// Thread procedure (its argument is ignored): reads the connect screen's
// window once, connects the selected device (controllers/ConnectProcedure.h) and
// reports WM_CONNECTED, WM_CONNECT_TIMEOUT or WM_CONNECT_FAILED to that
// window synchronously. A window that has ended meanwhile gets nothing.
uint32_t ConnectWorker(void* unused);

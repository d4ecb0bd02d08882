// The window messages that the controllers' workers send to the main screen,
// synchronously and with both parameters 0; their numbers live with the
// program's other resource numbers.
#pragma once

#include "resources/ResourceIds.h"

// The page camora-remote serve shows at "/": the panel's keys, the camera's
// status and its live view, all through the server's own routes.
#pragma once

namespace remote {

extern const char* const kServePage;

}  // namespace remote

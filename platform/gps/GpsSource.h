// What stands behind an open GPS device: a source that delivers positions to
// a sink from a thread of its own. Internal to platform/gps.
#pragma once

#include "platform/gps/Gps.h"

namespace platform {

class GpsSink {
public:
    virtual ~GpsSink() = default;
    // A new position (with or without fix).
    virtual void OnPosition(const GpsPosition& position) = 0;
    // The source can no longer deliver positions (its daemon went away).
    virtual void OnLost() = 0;
};

class GpsSource {
public:
    virtual ~GpsSource() = default;
    // Starts delivering to `sink`; false when the source is not there.
    virtual bool Start(GpsSink& sink) = 0;
    // Stops delivering: once this returns the sink is never called again.
    virtual void Stop() = 0;
};

}  // namespace platform

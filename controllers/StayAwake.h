// Which of the user's activities keep the handset awake, and the one reason
// the system is given for them: a key held, the camera recording (operating
// state 1), live view running, or a still being fetched or saved. An idle
// handset that suspends drops the camera's link in the middle of them.
#pragma once

#include <cstdint>

enum class AwakeActivity : uint32_t {
    KeyHeld = 1u << 0,
    Recording = 1u << 1,
    LiveView = 1u << 2,
    SavingPicture = 1u << 3,
};

// The reason for a set of activities (AwakeActivity bits), the most telling
// first: "recording" for the camera recording and for a held key (the user is
// working the camera), then "live view", then "saving a picture"; null for
// none.
const char* AwakeReasonFor(uint32_t activities);

// Marks an activity as begun or ended; the handset is kept awake while any is.
void SetAwake(AwakeActivity activity, bool on);
// Ends them all: the camera's link is lost, and with it every activity.
void ClearAwake();

// Keeps the handset awake for the activity while it lives.
class AwakeWhile {
public:
    explicit AwakeWhile(AwakeActivity activity) : activity_(activity) { SetAwake(activity_, true); }
    ~AwakeWhile() { SetAwake(activity_, false); }
    AwakeWhile(const AwakeWhile&) = delete;
    AwakeWhile& operator=(const AwakeWhile&) = delete;

private:
    const AwakeActivity activity_;
};

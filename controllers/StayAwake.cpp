#include "controllers/StayAwake.h"

#include <stdexcept>
#include <string>

#include "platform/kernel/Protected.h"
#include "platform/power/SleepInhibitor.h"

namespace {

constexpr uint32_t Bit(AwakeActivity activity) {
    return static_cast<uint32_t>(activity);
}

platform::Protected<uint32_t>& Activities() {
    static auto* activities = [] {
        auto* a = new platform::Protected<uint32_t>(0);  // never destroyed: used until exit
        if (!a->Create()) {
            throw std::runtime_error("cannot create the lock of the activities kept awake");
        }
        return a;
    }();
    return *activities;
}

// Under the activities' lock, so that the reasons reach the system in the
// order the activities changed.
void Update(uint32_t activities) {
    const char* why = AwakeReasonFor(activities);
    platform::SetSleepInhibitReason(why != nullptr ? why : "");
}

}  // namespace

const char* AwakeReasonFor(uint32_t activities) {
    if ((activities & (Bit(AwakeActivity::Recording) | Bit(AwakeActivity::KeyHeld))) != 0) {
        return "recording";
    }
    if ((activities & Bit(AwakeActivity::LiveView)) != 0) {
        return "live view";
    }
    if ((activities & Bit(AwakeActivity::SavingPicture)) != 0) {
        return "saving a picture";
    }
    return nullptr;
}

void SetAwake(AwakeActivity activity, bool on) {
    Activities().With([&](uint32_t& activities) {
        const uint32_t before = activities;
        activities = on ? (activities | Bit(activity)) : (activities & ~Bit(activity));
        if (activities != before) {
            Update(activities);
        }
    });
}

void ClearAwake() {
    Activities().With([](uint32_t& activities) {
        activities = 0;
        Update(activities);
    });
}

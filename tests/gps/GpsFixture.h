// What the GPS device tests share: the owner's two events, the open device
// (closed after each test) and a wait that follows the new-location signals.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "platform/gps/Gps.h"
#include "platform/kernel/Kernel.h"

class GpsFixture : public ::testing::Test {
protected:
    static constexpr uint32_t kGenerousMs = 20'000;

    void SetUp() override {
        newLocation_ = platform::Event::Create(platform::ResetMode::Auto, false);
        deviceState_ = platform::Event::Create(platform::ResetMode::Auto, false);
        ASSERT_NE(newLocation_, nullptr);
        ASSERT_NE(deviceState_, nullptr);
    }
    void TearDown() override {
        if (device_) {
            platform::CloseGpsDevice(device_);
        }
        platform::UseConfiguredGps();
    }

    platform::GpsDevice Open() {
        return device_ = platform::OpenGpsDevice(newLocation_.get(), deviceState_.get());
    }

    // Follows the new-location signals until a record satisfies `wanted`
    // (left in `record`). `feed`, when given, runs before every pass of 400 ms,
    // for sources that must be fed. Every record read is kept in `seen`, in
    // order, without repeats.
    bool WaitForRecord(const std::function<bool(const platform::GpsPosition&)>& wanted,
                       platform::GpsPosition* record,
                       std::vector<platform::GpsPosition>* seen = nullptr,
                       const std::function<void()>& feed = {}) {
        const uint64_t deadline = platform::TickCountMs() + kGenerousMs;
        while (platform::TickCountMs() < deadline) {
            if (feed) {
                feed();
            }
            const uint64_t passEnd = platform::TickCountMs() + (feed ? 400 : kGenerousMs);
            while (platform::TickCountMs() < passEnd) {
                if (!newLocation_->Wait(100)) {
                    continue;
                }
                if (!platform::GetGpsPosition(device_, record, platform::kGpsAnyAge, 0)) {
                    return false;
                }
                if (seen != nullptr && (seen->empty() || !(seen->back() == *record))) {
                    seen->push_back(*record);
                }
                if (wanted(*record)) {
                    return true;
                }
            }
        }
        return false;
    }

    std::unique_ptr<platform::Event> newLocation_;
    std::unique_ptr<platform::Event> deviceState_;
    platform::GpsDevice device_;
};

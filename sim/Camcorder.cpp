// The camcorder's model side: its status and script as tests and the control
// socket set them, and the records of what crossed the link (its line and
// threads are in CamcorderLink.cpp).
#include "sim/Camcorder.h"

#include <unistd.h>

#include <algorithm>
#include <utility>

namespace sim {

Camcorder::Camcorder(Options options)
    : options_(std::move(options)), model_(options_.status, options_.jpegQuality) {
    model_.SetClockText(options_.clockText);
}

Camcorder::~Camcorder() {
    Stop();
    if (options_.fd >= 0) {
        ::close(options_.fd);  // given but never served
    }
}

// ---- camera status and script ------------------------------------------

CameraStatus Camcorder::Status() const {
    std::lock_guard lock(mu_);
    return model_.Status();
}

void Camcorder::ChangeStatus(const std::function<void(CameraStatus&)>& change) {
    {
        std::lock_guard lock(mu_);
        CameraStatus s = model_.Status();
        change(s);
        model_.SetStatus(s);
        NoteEventLocked();
        WakeWriterLocked();
    }
}

void Camcorder::SetStatus(const CameraStatus& status) {
    ChangeStatus([&](CameraStatus& s) { s = status; });
}
void Camcorder::SetMode(uint8_t mode) {
    ChangeStatus([&](CameraStatus& s) { s.mode = mode; });
}
void Camcorder::SetOperationState(uint8_t state) {
    ChangeStatus([&](CameraStatus& s) { s.operationState = state; });
}
void Camcorder::SetAcPower(uint8_t on) {
    ChangeStatus([&](CameraStatus& s) { s.acPower = on; });
}
void Camcorder::SetBatteryAttached(uint8_t attached) {
    ChangeStatus([&](CameraStatus& s) { s.batteryAttached = attached; });
}
void Camcorder::SetBatteryLevel(uint8_t level) {
    ChangeStatus([&](CameraStatus& s) { s.batteryLevel = level; });
}
void Camcorder::SetResponseWord(uint16_t word) {
    ChangeStatus([&](CameraStatus& s) { s.responseWord = word; });
}

void Camcorder::SetModePollInterval(uint32_t ms) {
    {
        std::lock_guard lock(mu_);
        options_.modePollIntervalMs = ms;
        WakeWriterLocked();
    }
}

void Camcorder::SetJpegQuality(int quality) {
    std::lock_guard lock(mu_);
    model_.SetJpegQuality(quality);
}

void Camcorder::SetStillFormat(const StillFormat& format) {
    std::lock_guard lock(mu_);
    model_.SetStillFormat(format);
}

void Camcorder::SetGpsCommandStatus(uint16_t status) {
    std::lock_guard lock(mu_);
    model_.SetGpsCommandStatus(status);
}
void Camcorder::SetGpsSentenceStatus(uint16_t status) {
    std::lock_guard lock(mu_);
    model_.SetGpsSentenceStatus(status);
}
void Camcorder::QueueGpsCommandStatuses(const std::vector<uint16_t>& statuses) {
    std::lock_guard lock(mu_);
    model_.QueueGpsCommandStatuses(statuses);
}
void Camcorder::QueueGpsSentenceStatuses(const std::vector<uint16_t>& statuses) {
    std::lock_guard lock(mu_);
    model_.QueueGpsSentenceStatuses(statuses);
}
bool Camcorder::GpsFeedOn() const {
    std::lock_guard lock(mu_);
    return model_.GpsFeedOn();
}

// ---- records ---------------------------------------------------------------

std::vector<WireFrame> Camcorder::ReceivedFrames() const {
    std::lock_guard lock(mu_);
    return received_;
}

std::vector<WireFrame> Camcorder::SentFrames() const {
    std::lock_guard lock(mu_);
    return {sent_.begin(), sent_.end()};
}

size_t Camcorder::CountReceived(uint16_t opcode) const {
    std::lock_guard lock(mu_);
    return static_cast<size_t>(
        std::count_if(received_.begin(), received_.end(),
                      [&](const WireFrame& f) { return f.Opcode() == opcode; }));
}

uint64_t Camcorder::DiscardedBytes() const {
    std::lock_guard lock(mu_);
    return discarded_;
}

std::vector<uint16_t> Camcorder::Keys() const {
    std::lock_guard lock(mu_);
    return model_.Keys();
}

std::vector<uint16_t> Camcorder::Presses() const {
    std::lock_guard lock(mu_);
    return model_.Presses();
}

void Camcorder::SetPressGapMs(uint32_t ms) {
    std::lock_guard lock(mu_);
    model_.set_pressGapMs(ms);
}

std::vector<std::string> Camcorder::GpsSentences() const {
    std::lock_guard lock(mu_);
    return model_.GpsSentences();
}

std::vector<ErrorReport> Camcorder::ErrorReports() const {
    std::lock_guard lock(mu_);
    return model_.ErrorReports();
}

std::vector<std::vector<uint8_t>> Camcorder::UnknownRequests() const {
    std::lock_guard lock(mu_);
    return model_.UnknownRequests();
}

uint32_t Camcorder::LiveViewFrames() const {
    std::lock_guard lock(mu_);
    return model_.LiveViewFrames();
}

std::vector<uint8_t> Camcorder::HeldImage() const {
    std::lock_guard lock(mu_);
    return model_.HeldImage();
}

void Camcorder::ClearRecords() {
    std::lock_guard lock(mu_);
    received_.clear();
    sent_.clear();
    sentBytes_ = 0;
    discarded_ = 0;
    model_.ClearRecords();
}

bool Camcorder::WaitForFrames(const std::function<bool(const std::vector<WireFrame>&)>& done,
                              std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mu_);
    return eventCv_.wait_for(lock, timeout, [&] { return done(received_); });
}

bool Camcorder::WaitForFrames(size_t count, std::chrono::milliseconds timeout) const {
    return WaitForFrames([count](const std::vector<WireFrame>& f) { return f.size() >= count; },
                         timeout);
}

bool Camcorder::WaitFor(const std::function<bool()>& done,
                        std::chrono::milliseconds timeout) const {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        uint64_t seen = 0;
        {
            std::lock_guard lock(mu_);
            seen = generation_;
        }
        if (done()) {
            return true;
        }
        std::unique_lock lock(mu_);
        if (!eventCv_.wait_until(lock, deadline, [&] { return generation_ != seen; })) {
            lock.unlock();
            return done();
        }
    }
}

void Camcorder::WakeWriterLocked() {
    ++writerWakes_;
    writerCv_.notify_all();
}

void Camcorder::NoteEventLocked() {
    ++generation_;
    eventCv_.notify_all();
}

uint64_t Camcorder::SinceStartMs(Clock::time_point t) const {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(t - startedAt_).count());
}

}  // namespace sim

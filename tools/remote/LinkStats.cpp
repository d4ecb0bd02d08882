#include "tools/remote/LinkStats.h"

#include <algorithm>
#include <cmath>

#include "ctp/CtpOpcodes.h"

namespace remote {
namespace {

uint16_t Word(std::span<const uint8_t> b, size_t at) {
    return at + 1 < b.size() ? static_cast<uint16_t>(b[at] << 8 | b[at + 1]) : 0;
}

}  // namespace

void LinkStats::NoteSent(std::span<const uint8_t> frame, Clock::time_point at) {
    const uint16_t channel = Word(frame, 0);
    const uint16_t opcode = Word(frame, 4);
    if (channel < 1 || channel > 4) {
        return;
    }
    std::lock_guard hold(lock_);
    ++traffic_[channel - 1].sentFrames;
    traffic_[channel - 1].sentBytes += frame.size();
    // An error report gets no answer, and a mode poll is answered at the
    // camera's pace, not the link's: neither is a round trip of the link.
    if (opcode == CTP_ERROR_REPORT || opcode == CTP_MODE_POLL) {
        return;
    }
    waiting_[channel - 1] = true;
    sentAt_[channel - 1] = at;
}

void LinkStats::NoteReceived(std::span<const uint8_t> frame, Clock::time_point at) {
    const uint16_t channel = Word(frame, 0);
    if (channel < 1 || channel > 4) {
        return;
    }
    std::lock_guard hold(lock_);
    traffic_[channel - 1].receivedBytes += frame.size();
    if (!waiting_[channel - 1]) {
        return;
    }
    waiting_[channel - 1] = false;
    roundTripsMs_[channel - 1].push_back(
        std::chrono::duration<double, std::milli>(at - sentAt_[channel - 1]).count());
}

LinkStats::Traffic LinkStats::Totals(int channel) const {
    std::lock_guard hold(lock_);
    return traffic_[static_cast<size_t>(channel - 1)];
}

LinkStats::Summary LinkStats::RoundTrips(int channel) const {
    std::vector<double> values;
    {
        std::lock_guard hold(lock_);
        values = roundTripsMs_[static_cast<size_t>(channel - 1)];
    }
    Summary s;
    s.samples = values.size();
    s.medianMs = Quantile(values, 0.5);
    s.p99Ms = Quantile(std::move(values), 0.99);
    return s;
}

double LinkStats::Quantile(std::vector<double> values, double q) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    // Nearest rank: the smallest value with at least q of them at or below it.
    const auto rank = static_cast<size_t>(std::ceil(q * static_cast<double>(values.size())));
    return values[std::clamp<size_t>(rank, 1, values.size()) - 1];
}

}  // namespace remote

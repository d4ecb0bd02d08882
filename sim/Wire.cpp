#include "sim/Wire.h"

namespace sim {

void PutU16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

void PutU32(std::vector<uint8_t>& out, uint32_t value) {
    PutU16(out, static_cast<uint16_t>(value >> 16));
    PutU16(out, static_cast<uint16_t>(value));
}

uint16_t GetU16(const uint8_t* at) {
    return static_cast<uint16_t>((at[0] << 8) | at[1]);
}

uint32_t GetU32(const uint8_t* at) {
    return (uint32_t{GetU16(at)} << 16) | GetU16(at + 2);
}

std::optional<uint16_t> FrameView::BodyU16(size_t offset) const {
    const std::span<const uint8_t> b = Body();
    if (offset + 2 > b.size()) {
        return std::nullopt;
    }
    return GetU16(b.data() + offset);
}

std::vector<uint8_t> EncodeFrame(uint16_t channel, uint16_t opcode, std::span<const uint8_t> body) {
    std::vector<uint8_t> out;
    out.reserve(kMinFrameBytes + body.size());
    PutU16(out, channel);
    PutU16(out, static_cast<uint16_t>(kMinFrameBytes + body.size()));
    PutU16(out, opcode);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

void FrameDecoder::Feed(std::span<const uint8_t> bytes) {
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
}

std::optional<std::vector<uint8_t>> FrameDecoder::Next() {
    while (pending_.size() >= kEnvelopeBytes) {
        const size_t channel = (size_t{pending_[0]} << 8) | pending_[1];
        const size_t length = (size_t{pending_[2]} << 8) | pending_[3];
        if (channel < 1 || channel > 4 || length < kMinFrameBytes || length > kMaxFrameBytes) {
            pending_.pop_front();
            ++discarded_;
            continue;
        }
        if (pending_.size() < length) {
            return std::nullopt;
        }
        std::vector<uint8_t> frame(pending_.begin(), pending_.begin() + static_cast<long>(length));
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(length));
        return frame;
    }
    return std::nullopt;
}

}  // namespace sim

#include "sim/CameraModel.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>

#include "sim/TestPicture.h"
#include "sim/Wire.h"

namespace sim {
namespace {

constexpr uint16_t kRecordKey = 0;
constexpr uint16_t kLastKey = 8;  // still photo
constexpr uint16_t kZoomTeleKey = 2;
constexpr uint16_t kZoomWideKey = 6;

bool RecordingMode(uint8_t mode) {
    return mode == 0 || mode == 2;
}
bool PlaybackMode(uint8_t mode) {
    return mode == 1 || mode == 3;
}
constexpr uint8_t kQuickStartStandby = 2;

// Wall-clock time of day with milliseconds, as the camera's clock shows it.
std::string ClockText() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm tm{};
    localtime_r(&t, &tm);
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<int>(ms));
    return text;
}

}  // namespace

CameraModel::CameraModel(const CameraStatus& initial, int jpegQuality)
    : status_(initial), jpegQuality_(jpegQuality) {}

void CameraModel::SetStatus(const CameraStatus& status) {
    if (!(status == status_)) {
        status_ = status;
        ++statusVersion_;
    }
}

void CameraModel::SetOperationState(uint8_t state) {
    CameraStatus s = status_;
    s.operationState = state;
    SetStatus(s);
}

std::vector<uint8_t> CameraModel::ModeAnswer(uint16_t channel) const {
    std::vector<uint8_t> body = {status_.mode, status_.operationState, status_.acPower,
                                 status_.batteryAttached};
    PutU16(body, status_.responseWord);
    body.push_back(status_.batteryLevel);
    body.push_back(status_.spare);
    return EncodeFrame(channel, CTP_CAM_MODE, body);
}

void CameraModel::QueueGpsCommandStatuses(const std::vector<uint16_t>& statuses) {
    gpsCommandQueue_.insert(gpsCommandQueue_.end(), statuses.begin(), statuses.end());
}

void CameraModel::QueueGpsSentenceStatuses(const std::vector<uint16_t>& statuses) {
    gpsSentenceQueue_.insert(gpsSentenceQueue_.end(), statuses.begin(), statuses.end());
}

void CameraModel::ClearRecords() {
    keys_.clear();
    presses_.clear();
    gpsSentences_.clear();
    errorReports_.clear();
    unknown_.clear();
}

Reaction CameraModel::Handle(std::span<const uint8_t> frame, uint64_t atMs) {
    // Opcode, the body bytes the request needs, and its handler. Requests the
    // camera never receives from a handset (its own answers, 0x1005) are unknown.
    struct Entry {
        uint16_t opcode;
        size_t bodyBytes;
        Reaction (CameraModel::*handler)(const Request&);
    };
    static constexpr Entry kTable[] = {
        {CTP_CAMCMD, 4, &CameraModel::OnKey},
        {CTP_GPS, 0, &CameraModel::OnGpsSentence},
        {CTP_IMAGE_CMD, 4, &CameraModel::OnImageCommand},
        {CTP_GPS_CMD, 4, &CameraModel::OnGpsCommand},
        {CTP_GET_MODE, 0, &CameraModel::OnGetMode},
        {CTP_MODE_POLL, 0, &CameraModel::OnModePoll},
        {CTP_GET_IMAGE_DATA, 2, &CameraModel::OnGetImageData},
        {CTP_GET_DATA_INFO, 0, &CameraModel::OnGetDataInfo},
        {CTP_ERROR_REPORT, 2, &CameraModel::OnErrorReport},
    };

    const FrameView view{frame};
    if (frame.size() < kMinFrameBytes || view.Length() != frame.size()) {
        return Unknown(frame);
    }
    for (const Entry& e : kTable) {
        if (e.opcode != view.Opcode()) {
            continue;
        }
        if (view.Body().size() < e.bodyBytes) {
            return Unknown(frame);
        }
        const Request r{
            view.Channel(), view.Opcode(), frame, view.Body(), view.BodyU16(0).value_or(0), atMs};
        return (this->*e.handler)(r);
    }
    return Unknown(frame);
}

Reaction CameraModel::Unknown(std::span<const uint8_t> frame) {
    // A camera that does not understand a request echoes its opcode alone.
    unknown_.emplace_back(frame.begin(), frame.end());
    const FrameView view{frame};
    Reaction r;
    r.kind = Reaction::Kind::Reply;
    r.frame = EncodeFrame(view.Channel(), view.Opcode());
    return r;
}

Reaction CameraModel::Status(const Request& r, uint16_t replyOpcode, uint16_t status) {
    std::vector<uint8_t> body;
    PutU16(body, status);
    Reaction out;
    out.kind = Reaction::Kind::Reply;
    out.frame = EncodeFrame(r.channel, replyOpcode, body);
    return out;
}

Reaction CameraModel::OnKey(const Request& r) {
    keys_.push_back(r.param);
    if (r.param > kLastKey) {
        return Status(r, CTP_2001, kRefused);
    }
    const bool repeat = lastKey_ == r.param && pressGapMs_ != 0 &&
                        r.atMs - lastKeyAtMs_ < pressGapMs_ && r.param != kZoomTeleKey &&
                        r.param != kZoomWideKey;
    lastKey_ = r.param;
    lastKeyAtMs_ = r.atMs;
    if (repeat) {
        return Status(r, CTP_2001, 0);
    }
    presses_.push_back(r.param);
    if (r.param == kRecordKey && RecordingMode(status_.mode)) {
        SetOperationState(status_.operationState == 1 ? 0 : 1);
    }
    return Status(r, CTP_2001, 0);
}

Reaction CameraModel::OnGpsSentence(const Request& r) {
    const auto end = std::find(r.body.begin(), r.body.end(), uint8_t{0});
    gpsSentences_.emplace_back(r.body.begin(), end);
    uint16_t status = gpsSentenceStatus_;
    if (!gpsSentenceQueue_.empty()) {
        status = gpsSentenceQueue_.front();
        gpsSentenceQueue_.pop_front();
    }
    if (status == 2) {
        gpsFeedOn_ = false;
    }
    return Status(r, CTP_2002, status);
}

Reaction CameraModel::OnGpsCommand(const Request& r) {
    if (r.param == 1) {
        gpsFeedOn_ = false;
        return Status(r, CTP_2002, 0);
    }
    if (r.param != 0) {
        return Status(r, CTP_2002, kRefused);
    }
    uint16_t status = gpsCommandStatus_;
    if (!gpsCommandQueue_.empty()) {
        status = gpsCommandQueue_.front();
        gpsCommandQueue_.pop_front();
    }
    gpsFeedOn_ = status == 0;
    return Status(r, CTP_2002, status);
}

Reaction CameraModel::OnImageCommand(const Request& r) {
    const bool standby = status_.operationState == kQuickStartStandby;
    switch (r.param) {
        case 0:  // a fresh live-view picture, while the camera shows its viewfinder
            if (!RecordingMode(status_.mode) || standby) {
                return Status(r, CTP_2001, kRefused);
            }
            return Status(r, CTP_2001, Prepare(Held::LiveView) ? 0 : kRefused);
        case 2:  // the still shown in playback
            if (!PlaybackMode(status_.mode) || standby) {
                return Status(r, CTP_2001, kRefused);
            }
            return Status(r, CTP_2001, Prepare(Held::Still) ? 0 : kRefused);
        case 1:
        case 3:
            if (held_ == (r.param == 1 ? Held::LiveView : Held::Still)) {
                image_.clear();
                held_ = Held::None;
            }
            return Status(r, CTP_2001, 0);
        default:
            return Status(r, CTP_2001, kRefused);
    }
}

bool CameraModel::Prepare(Held kind) {
    const bool live = kind == Held::LiveView;
    uint32_t& count = live ? liveViewFrames_ : stills_;
    char caption[48];
    std::snprintf(caption, sizeof caption, "#%06u %s", count + 1,
                  clockText_.empty() ? ClockText().c_str() : clockText_.c_str());
    image_ = EncodeJpeg(RenderTestPicture(live ? kLiveViewWidth : stillFormat_.width,
                                          live ? kLiveViewHeight : stillFormat_.height, caption),
                        jpegQuality_);
    if (!live && stillFormat_.exactBytes != 0) {
        image_ = PadJpeg(std::move(image_), stillFormat_.exactBytes);
    }
    held_ = image_.empty() ? Held::None : kind;
    count += image_.empty() ? 0 : 1;
    return !image_.empty();
}

Reaction CameraModel::OnGetMode(const Request& r) {
    Reaction out;
    out.kind = Reaction::Kind::Reply;
    out.frame = ModeAnswer(r.channel);
    return out;
}

Reaction CameraModel::OnModePoll(const Request&) {
    Reaction out;
    out.kind = Reaction::Kind::PacedStatus;
    return out;
}

Reaction CameraModel::OnGetDataInfo(const Request& r) {
    std::vector<uint8_t> body;
    PutU32(body, static_cast<uint32_t>(image_.size()));
    PutU16(body, image_.empty() ? 0 : 1);
    Reaction out;
    out.kind = Reaction::Kind::Reply;
    out.frame = EncodeFrame(r.channel, CTP_DATA_INFO, body);
    return out;
}

Reaction CameraModel::OnGetImageData(const Request& r) {
    // The frame's length tells how many bytes the block holds: a full block,
    // a short last one, or none for a block the picture does not have.
    std::vector<uint8_t> body;
    PutU16(body, r.param);
    const size_t blocks = (image_.size() + kBlockBytes - 1) / kBlockBytes;
    if (r.param >= 1 && r.param <= blocks) {
        const size_t from = (size_t{r.param} - 1) * kBlockBytes;
        const size_t count = std::min(kBlockBytes, image_.size() - from);
        body.insert(body.end(), image_.begin() + static_cast<long>(from),
                    image_.begin() + static_cast<long>(from + count));
    }
    Reaction out;
    out.kind = Reaction::Kind::Reply;
    out.frame = EncodeFrame(r.channel, CTP_IMAGE_DATA, body);
    return out;
}

Reaction CameraModel::OnErrorReport(const Request& r) {
    errorReports_.push_back({r.channel, r.param});
    return {};
}

}  // namespace sim

// The simulated camcorder's behaviour: its status, the picture it holds for
// transfer, its GPS answers, and one handler per request opcode that checks
// the camera's state before it acts. No I/O and no locking: the Camcorder
// owns one and serialises every call.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sim {

// What the camera reports in its mode answer, in wire order. The byte fields
// take any value, so that a camera reporting nonsense can be simulated.
struct CameraStatus {
    uint8_t mode = 0;            // 0 video rec, 1 video play, 2 still rec, 3 still play
    uint8_t operationState = 0;  // 0 standby, 1 shooting, 2 quick-start standby
    uint8_t acPower = 1;
    uint8_t batteryAttached = 1;
    uint16_t responseWord = 0;
    uint8_t batteryLevel = 5;  // 0 to 5
    uint8_t spare = 0;         // the last byte of the answer
    bool operator==(const CameraStatus&) const = default;
};

struct ErrorReport {
    uint16_t channel = 0;
    uint16_t param = 0;
};

// The still the camera prepares for capture: its picture size and, when not
// 0, its exact length in bytes (the JPEG padded with comment segments).
struct StillFormat {
    int width = 640;
    int height = 480;
    uint32_t exactBytes = 0;
};

// What the camera does about one request.
struct Reaction {
    enum class Kind {
        None,         // no answer (error reports)
        Reply,        // `frame` goes out
        PacedStatus,  // a mode answer, sent when the camera's poll pace allows
    };
    Kind kind = Kind::None;
    std::vector<uint8_t> frame;
};

class CameraModel {
public:
    static constexpr int kLiveViewWidth = 320;
    static constexpr int kLiveViewHeight = 180;
    static constexpr int kStillWidth = 640;
    static constexpr int kStillHeight = 480;
    // Status word of a refused request.
    static constexpr uint16_t kRefused = 1;

    explicit CameraModel(const CameraStatus& initial = {}, int jpegQuality = 75);

    // A camcorder acts once per press, while the handset repeats a held key
    // as soon as each answer is in (every round trip, some 40 ms on a
    // Bluetooth serial link): the same key again within this many
    // milliseconds of its previous arrival is the same press. Zoom (and the
    // cursor keys sharing its codes) acts on every repeat.
    static constexpr uint32_t kPressGapMs = 150;

    // Acts on one whole received frame (envelope included), arriving at
    // `atMs` on the camera's clock.
    Reaction Handle(std::span<const uint8_t> frame, uint64_t atMs);

    const CameraStatus& Status() const { return status_; }
    void SetStatus(const CameraStatus& status);
    // Counts every change of the status, whoever made it.
    uint64_t StatusVersion() const { return statusVersion_; }
    // The mode answer for the current status, on `channel`.
    std::vector<uint8_t> ModeAnswer(uint16_t channel) const;

    // GPS script: the status answered to a switch-on request and to each
    // sentence; queued statuses are used first, one per request.
    void SetGpsCommandStatus(uint16_t status) { gpsCommandStatus_ = status; }
    void SetGpsSentenceStatus(uint16_t status) { gpsSentenceStatus_ = status; }
    void QueueGpsCommandStatuses(const std::vector<uint16_t>& statuses);
    void QueueGpsSentenceStatuses(const std::vector<uint16_t>& statuses);
    bool GpsFeedOn() const { return gpsFeedOn_; }

    void SetJpegQuality(int quality) { jpegQuality_ = quality; }
    void SetStillFormat(const StillFormat& format) { stillFormat_ = format; }
    // The time the pictures show; empty: the wall clock.
    void SetClockText(std::string text) { clockText_ = std::move(text); }

    // 0: every key command is a press of its own.
    void set_pressGapMs(uint32_t ms) { pressGapMs_ = ms; }

    // What the camera was told, in arrival order: every key command, and
    // the presses the camera acted on.
    const std::vector<uint16_t>& Keys() const { return keys_; }
    const std::vector<uint16_t>& Presses() const { return presses_; }
    const std::vector<std::string>& GpsSentences() const { return gpsSentences_; }
    const std::vector<ErrorReport>& ErrorReports() const { return errorReports_; }
    const std::vector<std::vector<uint8_t>>& UnknownRequests() const { return unknown_; }
    uint32_t LiveViewFrames() const { return liveViewFrames_; }
    uint32_t Stills() const { return stills_; }
    // The picture held for transfer (empty when none).
    const std::vector<uint8_t>& HeldImage() const { return image_; }
    void ClearRecords();

private:
    struct Request {
        uint16_t channel;
        uint16_t opcode;
        std::span<const uint8_t> frame;
        std::span<const uint8_t> body;
        uint16_t param;  // the first body word, 0 when the body has none
        uint64_t atMs;
    };

    Reaction OnKey(const Request& r);
    Reaction OnGpsSentence(const Request& r);
    Reaction OnImageCommand(const Request& r);
    Reaction OnGpsCommand(const Request& r);
    Reaction OnGetMode(const Request& r);
    Reaction OnModePoll(const Request& r);
    Reaction OnGetImageData(const Request& r);
    Reaction OnGetDataInfo(const Request& r);
    Reaction OnErrorReport(const Request& r);
    Reaction Unknown(std::span<const uint8_t> frame);
    static Reaction Status(const Request& r, uint16_t replyOpcode, uint16_t status);

    void SetOperationState(uint8_t state);

    CameraStatus status_;
    uint64_t statusVersion_ = 0;
    int jpegQuality_;
    std::string clockText_;

    enum class Held { None, LiveView, Still };
    // Makes a fresh picture of the kind the held image; false when encoding failed.
    bool Prepare(Held kind);

    StillFormat stillFormat_;
    Held held_ = Held::None;
    std::vector<uint8_t> image_;
    uint32_t liveViewFrames_ = 0;
    uint32_t stills_ = 0;

    uint16_t gpsCommandStatus_ = 0;
    uint16_t gpsSentenceStatus_ = 0;
    std::deque<uint16_t> gpsCommandQueue_;
    std::deque<uint16_t> gpsSentenceQueue_;
    bool gpsFeedOn_ = false;

    uint32_t pressGapMs_ = kPressGapMs;
    std::optional<uint16_t> lastKey_;
    uint64_t lastKeyAtMs_ = 0;

    std::vector<uint16_t> keys_;
    std::vector<uint16_t> presses_;
    std::vector<std::string> gpsSentences_;
    std::vector<ErrorReport> errorReports_;
    std::vector<std::vector<uint8_t>> unknown_;
};

}  // namespace sim

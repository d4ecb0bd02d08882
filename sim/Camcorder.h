// The camcorder simulator: a CTP peer on a pseudo-terminal (or any
// descriptor) that answers as a camera would, with faults and link shaping on
// demand and a byte-exact record of the wire.
//
//   sim::Camcorder cam;                      // or Camcorder(options)
//   cam.Start();                             // opens a pty and starts serving
//   cam.LinkAsDevice("COM4");                // <device root>/dev/COM4 -> slave
//   ... the program opens "COM4:" ...
//   cam.WaitForFrames(3, 2s);                // no fixed sleeps
//   auto frames = cam.ReceivedFrames();      // every frame, byte for byte
//   cam.SetMode(3); cam.AddFault({.kind = sim::FaultKind::Silence});
//   cam.Stop();                              // also done by the destructor
//
// Every member may be called from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "sim/CameraModel.h"
#include "sim/Wire.h"

namespace sim {

// A Bluetooth serial link's pace: every frame, in either direction, takes
// its size over the rate to cross, after the one-way latency.
struct Shaping {
    bool on = false;
    uint32_t bytesPerSecond = 100000;
    uint32_t latencyMs = 20;
};

enum class FaultKind {
    Silence,       // the request gets no answer
    Late,          // the answer leaves `delayMs` later
    Garbage,       // `bytes` (default six 0xEE) go out before the answer
    WrongChannel,  // the answer comes on `channel` (0: the request's + 1, wrapping 4 to 1)
    Cut,           // only the first `cutAt` bytes of the answer go out (0: half of it)
    DropLink,      // the line is closed instead of answering
};

// A fault applies to the answers of requests with `opcode` (0: any request),
// `times` times (0: until cleared). Requests that get no answer anyway
// (error reports) do not use it up. The first matching fault wins.
struct Fault {
    FaultKind kind = FaultKind::Silence;
    uint16_t opcode = 0;
    uint32_t times = 0;
    uint32_t delayMs = 0;
    std::vector<uint8_t> bytes = {};
    uint16_t channel = 0;
    uint32_t cutAt = 0;
};

struct Options {
    CameraStatus status;                // initial camera status
    uint32_t modePollIntervalMs = 500;  // pace of the answers to CTP_MODE_POLL
    Shaping shaping;
    int jpegQuality = 75;
    // The time the pictures show; empty: the wall clock. Recorded sessions fix it.
    std::string clockText;
    int fd = -1;           // serve on this descriptor (taken over) instead of a new pty
    std::string linkPath;  // made by Start when not empty (see LinkAs)
    // The record of sent frames keeps the latest ones up to this many bytes,
    // so that a long stream of pictures does not fill the memory.
    size_t sentRecordBytes = 16u << 20;
};

// One frame as it crossed the line, with the milliseconds since Start.
struct WireFrame {
    uint64_t atMs = 0;
    std::vector<uint8_t> bytes = {};
    uint16_t Channel() const { return FrameView{bytes}.Channel(); }
    uint16_t Opcode() const { return FrameView{bytes}.Opcode(); }
};

class Camcorder {
public:
    explicit Camcorder(Options options = {});
    ~Camcorder();
    Camcorder(const Camcorder&) = delete;
    Camcorder& operator=(const Camcorder&) = delete;

    // Opens the line (unless a descriptor was given) and starts serving.
    // False when the pseudo-terminal cannot be opened or Start ran before.
    bool Start();
    // Stops serving, closes the line and removes the links this object made.
    void Stop();

    // The path the program opens (empty when serving on a given descriptor).
    std::string SlavePath() const;
    // Makes `path` a symbolic link to the slave, creating folders; an old
    // link there is replaced. Beside it "<path>.peer" holds this process's id
    // and stays locked while this object serves, so that the port's open can
    // tell a link left behind by a killed simulator. Both go again at Stop.
    bool LinkAs(const std::string& path);
    // The same at <device root>/dev/<name>, where the program looks for its port.
    bool LinkAsDevice(const std::string& name);
    // False once the line has been dropped or has failed.
    bool LinkUp() const;

    // Camera status; every change lets a waiting mode poll be answered at once.
    CameraStatus Status() const;
    void SetStatus(const CameraStatus& status);
    void SetMode(uint8_t mode);
    void SetOperationState(uint8_t state);
    void SetAcPower(uint8_t on);
    void SetBatteryAttached(uint8_t attached);
    void SetBatteryLevel(uint8_t level);
    void SetResponseWord(uint16_t word);
    void SetModePollInterval(uint32_t ms);
    void SetJpegQuality(int quality);
    // The still prepared by the next capture start.
    void SetStillFormat(const StillFormat& format);

    // GPS script (see CameraModel).
    void SetGpsCommandStatus(uint16_t status);
    void SetGpsSentenceStatus(uint16_t status);
    void QueueGpsCommandStatuses(const std::vector<uint16_t>& statuses);
    void QueueGpsSentenceStatuses(const std::vector<uint16_t>& statuses);
    bool GpsFeedOn() const;

    void SetShaping(const Shaping& shaping);
    Shaping GetShaping() const;
    void AddFault(const Fault& fault);
    void ClearFaults();
    std::vector<Fault> Faults() const;
    // Closes the line now: the program's next read fails.
    void DropLink();
    // After a drop (or a hang-up by the program): a new line on a new
    // pseudo-terminal, and every link made with LinkAs pointed at it, as a
    // camera that comes back into range. Answers not yet sent are lost with
    // the old line. False when the line is up, the simulator serves a given
    // descriptor, or the new line cannot be opened.
    bool RestoreLink();
    // Unsolicited output, queued behind what is already waiting to go out.
    void SendRaw(std::span<const uint8_t> bytes);
    void SendFrame(uint16_t channel, uint16_t opcode, std::span<const uint8_t> body = {});

    // The record. Received: every frame the camera took in, in order, at the
    // time it acted on it. Sent: everything it wrote, one entry per frame or
    // garbage run (cut frames as cut), at the time it began to leave; the
    // oldest are dropped beyond Options::sentRecordBytes.
    std::vector<WireFrame> ReceivedFrames() const;
    std::vector<WireFrame> SentFrames() const;
    size_t CountReceived(uint16_t opcode) const;
    uint64_t DiscardedBytes() const;  // bytes that could not start a frame
    std::vector<uint16_t> Keys() const;
    // The key presses the camera acted on: a held key's repeats count once
    // (see CameraModel::kPressGapMs); 0 makes every key command a press.
    std::vector<uint16_t> Presses() const;
    void SetPressGapMs(uint32_t ms);
    std::vector<std::string> GpsSentences() const;
    std::vector<ErrorReport> ErrorReports() const;
    std::vector<std::vector<uint8_t>> UnknownRequests() const;
    uint32_t LiveViewFrames() const;
    std::vector<uint8_t> HeldImage() const;
    void ClearRecords();

    // Waits until `done` holds for the received frames (evaluated under the
    // record's lock, so it must not call this object) or the time-out passes.
    bool WaitForFrames(const std::function<bool(const std::vector<WireFrame>&)>& done,
                       std::chrono::milliseconds timeout) const;
    bool WaitForFrames(size_t count, std::chrono::milliseconds timeout) const;
    // Waits until `done` (which may call this object) holds; it is tested
    // again after every frame in or out and every change of state.
    bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) const;

private:
    using Clock = std::chrono::steady_clock;

    static constexpr uint32_t kCutHalf = 0xFFFFFFFFu;

    struct Outgoing {
        Clock::time_point earliest;
        uint16_t channel = 0;
        bool modeAnswer = false;     // built when it leaves, from the status of then
        std::vector<uint8_t> frame;  // otherwise the bytes to send
        std::vector<uint8_t> prefix;
        uint32_t cutAt = 0;  // 0: the whole frame; kCutHalf: half of it
    };

    // Opens a pseudo-terminal as the line and the hang-up pipe; under mu_.
    bool OpenLineLocked();
    void ReaderLoop();
    void WriterLoop();
    void HandleFrame(std::vector<uint8_t> frame, Clock::time_point readAt);
    void QueueLocked(Outgoing out);
    std::optional<Fault> TakeFaultLocked(uint16_t opcode);
    Clock::time_point DueLocked(const Outgoing& out) const;
    bool Transmit(std::span<const uint8_t> bytes, const Shaping& shaping);
    bool WriteAll(std::span<const uint8_t> bytes);
    void RequestHangUpLocked();
    void NoteEventLocked();
    void WakeWriterLocked();
    void ChangeStatus(const std::function<void(CameraStatus&)>& change);
    uint64_t SinceStartMs(Clock::time_point t) const;

    mutable std::mutex mu_;
    mutable std::condition_variable eventCv_;  // anything happened
    std::condition_variable writerCv_;         // the out-queue or the pace changed
    uint64_t writerWakes_ = 0;
    uint64_t generation_ = 0;

    Options options_;
    CameraModel model_;
    std::vector<Fault> faults_;
    std::vector<Outgoing> queue_;
    std::vector<WireFrame> received_;
    std::deque<WireFrame> sent_;
    size_t sentBytes_ = 0;
    uint64_t discarded_ = 0;

    // The mode-poll pace: an answer leaves `interval` after the previous mode
    // answer, or at once when the status changed since that answer.
    std::optional<Clock::time_point> lastModeAnswer_;
    uint64_t answeredStatusVersion_ = 0;

    Clock::time_point inboundFree_{};   // when the inbound link is free again
    Clock::time_point outboundFree_{};  // likewise outbound

    Clock::time_point startedAt_{};
    bool started_ = false;
    bool stopping_ = false;
    bool linkUp_ = false;
    bool hangUpRequested_ = false;
    bool servesGivenFd_ = false;
    bool restoring_ = false;        // RestoreLink is joining the old line's threads
    bool writerBusy_ = false;       // a write is under way outside the lock
    int end_ = -1;                  // our end of the line
    int keepSlave_ = -1;            // keeps the pty's slave open so the master never sees EIO early
    int hangUpPipe_[2] = {-1, -1};  // readable once the line is to close; never drained
    std::string slavePath_;
    std::vector<std::string> links_;
    // Per link: the descriptor of its "<link>.peer" file, locked while serving.
    std::map<std::string, int> peerLocks_;
    std::thread reader_;
    std::thread writer_;
};

}  // namespace sim

// What the camera's byte stream may do, and how the receiver recovers:
// - stray bytes, or a frame whose channel, opcode or length makes no sense:
//   its first byte is dropped and reading goes on from the next offset at
//   which a frame can start (Resynchronise, CtpFrameCanStart);
// - a lying length: each opcode's frame length is checked against the one
//   table of ctp/CtpOpcodes.h before a byte of the body is read;
// - a cut frame: when its bytes stop coming after a caller gave up on an
//   answer, what came is searched for the start of the next frame;
// - a new port (Start): bytes kept from the old one are dropped;
// - stale replies: a late answer to an earlier request is dropped with its
//   signal by the Send of the next request, so Receive waits for its own.
// A frame that fails any check is dropped whole; a failed port read once
// connected reports the link lost.
#include "ctp/CtpEngine.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>

#include "core/AppRegistry.h"
#include "ctp/ByteOrder.h"
#include "ctp/CtpDataFactory.h"

using ctp::GetBe16;
using platform::MutexLock;

namespace {

constexpr uint32_t kStartPauseMs = 100;
constexpr uint32_t kReadRetryMs = 10;
constexpr uint32_t kReadTotalMs = 200;
constexpr uint32_t kWriteTotalMs = 1000;
// Trailing short frames: even sizes from an opcode-only frame up to this.
constexpr uint32_t kTrailingWindowMax = 14;

}  // namespace

CCtpEngine* CCtpEngine::GetInstance() {
    static CCtpEngine* instance = [] {
        auto* engine = new CCtpEngine();
        AppRegistry.ctpEngine = engine;
        return engine;
    }();
    return instance;
}

CCtpEngine::CCtpEngine() = default;

CCtpEngine::~CCtpEngine() = default;

int CCtpEngine::Start(const platform::PortHandle& newPort) {
    std::lock_guard start(startLock);
    // Time-outs first: a read issued on a port without them would wait for
    // data without limit, holding portMutex against the next Start.
    SetPortTimeouts(newPort);
    int result = 1;
    if (receiverThread != nullptr) {
        // The receiver retakes portMutex the moment a read ends, and a mutex
        // does not queue its waiters: ask it to stand back, so the hand-over
        // waits for one read at most.
        portWanted.store(true);
        {
            MutexLock lock(*portMutex);
            std::lock_guard handle(portHandleLock);
            port = newPort;
            ++portGeneration;
        }
        portWanted.store(false);
    } else {
        {
            std::lock_guard handle(portHandleLock);
            port = newPort;
        }
        if (!CreateSyncObjects() || !CreateThreads()) {
            result = -1;
        } else {
            platform::Sleep(kStartPauseMs);
        }
    }
    return result;
}

bool CCtpEngine::CreateSyncObjects() {
    // Only what is missing: after a failed Start a thread may already wait on
    // the objects that did get made.
    for (size_t i = 0; i < replyEvent.size(); ++i) {
        if (replyEvent[i] == nullptr) {
            replyEvent[i] = platform::Event::Create(platform::ResetMode::Auto, false);
            if (replyEvent[i] == nullptr) {
                return false;
            }
        }
    }
    if (queueEvent == nullptr) {
        queueEvent = platform::Event::Create(platform::ResetMode::Auto, false);
    }
    if (queueEvent == nullptr || !queue.Create() || !replySlot.Create()) {
        return false;
    }
    if (portMutex == nullptr) {
        portMutex = platform::Mutex::Create();
    }
    if (portMutex == nullptr) {
        return false;
    }
    ready.store(true, std::memory_order_release);
    return true;
}

bool CCtpEngine::CreateThreads() {
    if (senderThread == nullptr) {
        senderThread = platform::Thread::Create(&CCtpEngine::SenderProc, this, false);
        if (senderThread == nullptr) {
            return false;
        }
    }
    receiverThread = platform::Thread::Create(&CCtpEngine::ReceiverProc, this, false);
    return receiverThread != nullptr;
}

void CCtpEngine::SetPortTimeouts(const platform::PortHandle& target) {
    if (target == nullptr) {
        return;
    }
    platform::SerialTimeouts timeouts = target->GetTimeouts();
    timeouts.readIntervalMs = platform::SerialTimeouts::kNoIntervalLimit;
    timeouts.readTotalMultiplierMs = 0;
    timeouts.readTotalConstantMs = kReadTotalMs;
    timeouts.writeTotalMultiplierMs = 0;
    timeouts.writeTotalConstantMs = kWriteTotalMs;
    target->SetTimeouts(timeouts);
}

platform::PortHandle CCtpEngine::CurrentPort() {
    std::lock_guard handle(portHandleLock);
    return port;
}

void CCtpEngine::SetConnecting(int value) {
    connecting.store(value);
}

void CCtpEngine::SetLinkLostHandler(std::function<void()> handler) {
    linkLost = std::move(handler);
}

int CCtpEngine::Send(CCtpData* packet, int channel) {
    if (packet == nullptr) {
        return -1;
    }
    if (!IsCtpChannel(channel) || !ready.load(std::memory_order_acquire)) {
        delete packet;
        return -1;
    }
    if (packet->GetOpcode() == CTP_ERROR_REPORT) {
        giveUps.fetch_add(1);
    }
    const size_t index = static_cast<size_t>(channel - 1);
    // A late answer to an earlier request: drop it and its signal, so the
    // next Receive waits for the answer to this request.
    replySlot.With([&](ReplySlots& slots) {
        if (slots[index] != nullptr) {
            slots[index].reset();
            replyEvent[index]->Wait(0);
        }
    });
    // With nothing queued and nothing being written, the caller writes its
    // frame itself: waking the sender for it would cost two thread switches
    // per exchange. Otherwise the frame queues behind the others, so frames
    // still leave in the order of the Send calls.
    CtpRequest request{channel, std::unique_ptr<CCtpData>(packet)};
    enum class Next { WriteHere, WakeSender, Nothing };
    const Next next = queue.With([&](Outbox& out) {
        if (!out.writing && out.requests.empty()) {
            out.writing = true;
            return Next::WriteHere;
        }
        out.requests.push_back(std::move(request));
        // Whoever writes now looks at the queue again before it stops.
        return out.writing ? Next::Nothing : Next::WakeSender;
    });
    if (next == Next::WriteHere) {
        WriteFrame(request);
        request.packet.reset();
        const bool more = queue.With([](Outbox& out) {
            out.writing = false;
            return !out.requests.empty();
        });
        if (more) {
            queueEvent->Set();
        }
    } else if (next == Next::WakeSender) {
        queueEvent->Set();
    }
    return 1;
}

int CCtpEngine::Receive(int channel, CCtpData** reply, uint16_t timeoutSeconds) {
    return ReceiveWithin(channel, reply, uint32_t{timeoutSeconds} * 1000u);
}

int CCtpEngine::ReceiveWithin(int channel, CCtpData** reply, uint32_t limitMs) {
    if (!IsCtpChannel(channel) || reply == nullptr || !ready.load(std::memory_order_acquire)) {
        return -1;
    }
    const size_t index = static_cast<size_t>(channel - 1);
    const uint64_t startMs = platform::TickCountMs();
    // Milliseconds left of the wait: kWaitForever without a limit, 0 once over.
    auto left = [&]() -> uint32_t {
        if (limitMs == 0) {
            return platform::kWaitForever;
        }
        const uint64_t elapsed = platform::TickCountMs() - startMs;
        return elapsed >= limitMs ? 0 : limitMs - static_cast<uint32_t>(elapsed);
    };
    platform::Event& event = *replyEvent[index];
    for (;;) {
        // Asleep until the receiver stores a reply on this channel: watching
        // for it instead costs more CPU than the wake-up on a busy handset.
        const uint32_t waitMs = left();
        if (waitMs == 0 || !event.Wait(waitMs)) {
            return 0;
        }
        CCtpData* taken = replySlot.With([&](ReplySlots& slots) { return slots[index].release(); });
        if (taken != nullptr) {
            *reply = taken;  // the caller owns it from here
            return 1;
        }
        // The signal of a reply that a Send on this channel has just dropped:
        // keep waiting for the answer rather than return an empty reply.
    }
}

uint32_t CCtpEngine::SenderProc(void* engine) {
    auto* self = static_cast<CCtpEngine*>(engine);
    for (;;) {
        self->queueEvent->Wait(platform::kWaitForever);
        self->SendQueued();
    }
}

void CCtpEngine::SendQueued() {
    // The writer's turn is taken once for the whole queue; a Send that writes
    // its own frame has it meanwhile and wakes this thread again when done.
    const bool mine = queue.With([](Outbox& out) {
        if (out.writing || out.requests.empty()) {
            return false;
        }
        out.writing = true;
        return true;
    });
    if (!mine) {
        return;
    }
    for (;;) {
        std::optional<CtpRequest> request = queue.With([](Outbox& out) {
            std::optional<CtpRequest> first;
            if (out.requests.empty()) {
                out.writing = false;
            } else {
                first = std::move(out.requests.front());
                out.requests.pop_front();
            }
            return first;
        });
        if (!request) {
            return;
        }
        WriteFrame(*request);
    }
}

void CCtpEngine::WriteFrame(const CtpRequest& request) {
    // Only what the last frame wrote is cleared: the rest is still zero, and
    // a frame costs what it holds, not the buffer's 10 KB.
    std::memset(sendBuffer, 0, sendUsed);
    // A packet that would not fit the buffer is dropped rather than written past it.
    const uint16_t length =
        CtpWriteFrame(*request.packet, request.channel, sendBuffer, sizeof sendBuffer);
    sendUsed = length;
    if (length > 0) {
        // Not under portMutex: only this thread writes. A failed write shows
        // as the caller's time-out.
        WritePort(sendBuffer, length);
    }
}

uint32_t CCtpEngine::ReceiverProc(void* engine) {
    auto* self = static_cast<CCtpEngine*>(engine);
    while (self->ReceiveOneFrame()) {
    }
    return 0;
}

void CCtpEngine::WritePort(const uint8_t* frame, uint32_t length) {
    if (const platform::PortHandle target = CurrentPort()) {
        uint32_t written = 0;
        target->Write(frame, length, &written);
    }
}

bool CCtpEngine::ReadPort(uint8_t* dest, uint32_t count, uint32_t* got) {
    *got = 0;
    return port != nullptr && port->Read(dest, count, got);
}

bool CCtpEngine::ReceiveOneFrame() {
    // A frame that fails a check is dropped by returning (each return names
    // the design's text for its cause, which nothing reads); reading goes on
    // where a frame can start. Returns, not a thrown error: a stream of stray
    // bytes fails a check at nearly every byte.
    {
        MutexLock lock(*portMutex);
        if (frameGeneration != portGeneration) {
            // Bytes kept from the old port are no part of the new port's stream.
            pendingBegin = pendingEnd = 0;
        }
        frameGeneration = portGeneration;
    }
    // As for sending: the bytes past those the last frame was read into are
    // still zero.
    std::memset(receiveBuffer, 0, receiveUsed);
    FrameProgress progress;
    receiveUsed = kCtpHeaderSize;
    int result = ReadExact(receiveBuffer, kCtpHeaderSize, &progress);
    if (result == 0) {
        Resynchronise(receiveBuffer, progress.bytes);
        return true;  // Recv Error.
    }
    if (result != 1) {
        return result != -2;  // Recv Error.
    }
    const uint16_t channel = GetBe16(receiveBuffer);
    if (!IsCtpChannel(channel)) {
        Resynchronise(receiveBuffer, kCtpHeaderSize);
        return true;  // Port Check Error.
    }
    const uint16_t opcode = GetBe16(receiveBuffer + 4);
    if (!IsAcceptedOpcode(opcode)) {
        Resynchronise(receiveBuffer, kCtpHeaderSize);
        return true;  // OpeCode Check Error.
    }
    const uint16_t length = GetBe16(receiveBuffer + 2);
    if (length <= kCtpHeaderSize || length > sizeof receiveBuffer ||
        !CtpFrameLengthFits(opcode, length)) {
        Resynchronise(receiveBuffer, kCtpHeaderSize);
        return true;  // Read size Error.
    }
    receiveUsed = length;
    result = ReadExact(receiveBuffer + kCtpHeaderSize, length - kCtpHeaderSize, &progress);
    if (result == 0) {
        // Cut short: what came may hold the start of the next frame.
        Resynchronise(receiveBuffer, progress.bytes);
        return true;  // Recv Error.
    }
    if (result != 1) {
        return result != -2;  // Recv Error.
    }
    CCtpData* packet = CCtpDataFactory::Create(opcode);
    if (packet == nullptr) {
        return true;  // Data Create Error.
    }
    packet->Parse(receiveBuffer + kCtpEnvelopeSize, length - kCtpEnvelopeSize);
    StoreReply(channel, packet);
    return true;
}

int CCtpEngine::ReadExact(uint8_t* dest, uint32_t count, FrameProgress* progress) {
    uint32_t done = 0;
    auto arrived = [&](uint32_t n) {
        if (progress->bytes == 0) {
            progress->giveUpMark = giveUps.load();
        }
        progress->bytes += n;
        done += n;
    };
    if (pendingBegin < pendingEnd) {
        const uint32_t n = std::min(count, pendingEnd - pendingBegin);
        std::memcpy(dest, pending + pendingBegin, n);
        pendingBegin += n;
        arrived(n);
        if (done == count) {
            return 1;
        }
    }
    for (;;) {
        const uint32_t wanted = count - done;
        uint32_t n = 0;
        bool ok = false;
        while (portWanted.load()) {
            platform::Sleep(1);  // a Start is exchanging the port
        }
        {
            MutexLock lock(*portMutex);
            if (portGeneration != frameGeneration) {
                // A frame never spans two ports: what came of it on the old
                // one is dropped, and the new port's bytes start a new frame.
                return -1;
            }
            ok = ReadPort(dest + done, wanted, &n);
        }
        if (n > wanted) {
            return -1;  // a read never returns more than it was asked for
        }
        n -= ExtractTrailingFrames(dest + done, n);
        if (!ok) {
            if (connecting.load() == 0) {
                Disconnect();
            }
            platform::Sleep(kReadRetryMs);
        }
        if (n == 0) {
            // A frame begun, then a quiet line after some caller gave up
            // waiting since: the rest is not coming, the next bytes start afresh.
            if (ok && progress->bytes > 0 && giveUps.load() != progress->giveUpMark) {
                return 0;
            }
            continue;
        }
        arrived(n);
        if (done < count) {
            continue;
        }
        return ok ? 1 : -2;
    }
}

void CCtpEngine::Resynchronise(const uint8_t* frame, uint32_t n) {
    // What is left of the frame goes ahead of what was kept before: both
    // came off the line in that order. The two together never exceed a
    // frame, since a frame reads the port only once the kept bytes are used up.
    const uint32_t kept = pendingEnd - pendingBegin;
    const uint32_t tail = n > 1 ? n - 1 : 0;
    if (tail + kept > sizeof pending) {
        pendingBegin = pendingEnd = 0;  // cannot happen; drop rather than overrun
        return;
    }
    std::memmove(pending + tail, pending + pendingBegin, kept);
    if (tail > 0) {
        std::memcpy(pending, frame + 1, tail);
    }
    const uint32_t total = tail + kept;
    uint32_t from = 0;
    while (from < total && !CtpFrameCanStart(pending + from, total - from)) {
        ++from;
    }
    pendingBegin = from;
    pendingEnd = total;
}

uint32_t CCtpEngine::ExtractTrailingFrames(const uint8_t* data, uint32_t n) {
    uint32_t consumed = 0;
    while (n >= kCtpHeaderSize) {
        uint8_t scratch[kTrailingWindowMax] = {};
        const uint32_t largest = n < kTrailingWindowMax ? n : kTrailingWindowMax;
        uint32_t found = 0;
        for (uint32_t w = kCtpHeaderSize; w <= largest && found == 0; w += 2) {
            std::memcpy(scratch, data + n - w, w);
            // A window shorter than its opcode's body (a header-only mode
            // answer) is no frame, as for the resynchroniser.
            if (IsCtpChannel(GetBe16(scratch)) && GetBe16(scratch + 2) == w &&
                IsAcceptedOpcode(GetBe16(scratch + 4)) &&
                CtpFrameLengthFits(GetBe16(scratch + 4), w)) {
                found = w;
            }
        }
        if (found == 0) {
            break;
        }
        // Bytes of a frame the factory cannot make are dropped all the same.
        if (CCtpData* packet = CCtpDataFactory::Create(GetBe16(scratch + 4))) {
            packet->Parse(scratch + kCtpEnvelopeSize, found - kCtpEnvelopeSize);
            StoreReply(GetBe16(scratch), packet);
        }
        consumed += found;
        n -= found;
    }
    return consumed;
}

void CCtpEngine::StoreReply(int channel, CCtpData* packet) {
    const size_t index = static_cast<size_t>(channel - 1);
    replySlot.With([&](ReplySlots& slots) { slots[index].reset(packet); });
    replyEvent[index]->Set();
}

void CCtpEngine::Disconnect() {
    if (linkLost) {
        linkLost();
    }
}

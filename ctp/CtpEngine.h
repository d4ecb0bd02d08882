// The one object through which the program talks to the camera: it queues
// outgoing packets for a sender thread, reads and checks incoming frames on a
// receiver thread, and hands each reply to the slot of its channel (1 to 4).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "ctp/CtpData.h"
#include "platform/kernel/Kernel.h"
#include "platform/kernel/Protected.h"
#include "platform/serial/SerialPort.h"

// One queued outgoing packet; the request owns the packet.
struct CtpRequest {
    int channel = 0;
    std::unique_ptr<CCtpData> packet;
};

class CCtpEngine {
public:
    // The program's engine, created on first use (no threads yet) and never
    // destroyed; it is also recorded in AppRegistry.
    static CCtpEngine* GetInstance();

    // The program uses GetInstance; tests build engines of their own. An
    // engine whose threads have been started must never be destroyed.
    CCtpEngine();
    virtual ~CCtpEngine();
    CCtpEngine(const CCtpEngine&) = delete;
    CCtpEngine& operator=(const CCtpEngine&) = delete;

    // First call: creates the events, mutexes, sender and receiver threads,
    // then pauses 100 ms. Later calls only exchange the port. Every call sets
    // the port's time-outs (reads return within 200 ms, writes give up after
    // 1000 ms). 1 when the engine runs, -1 when an event, mutex or thread could
    // not be created.
    int Start(const platform::PortHandle& newPort);

    // 0 once the connect handshake has been answered: from then on a failed
    // port read calls the link-lost handler.
    void SetConnecting(int value);
    bool IsConnecting() const { return connecting.load() != 0; }

    // What a lost link does once connected; the program installs one at
    // start-up (see app/LinkLost.h) that tells the user and ends the process.
    // Without one the receiver keeps retrying the port. Set before Start.
    void SetLinkLostHandler(std::function<void()> handler);

    // Queues `packet` for `channel` after deleting any reply nobody took on
    // that channel; when nothing is queued or being written, writes its frame
    // on the calling thread instead (at most the port's 1000 ms write
    // time-out). The engine owns every packet it is given: 1 when queued;
    // -1 (packet deleted, nothing queued) for a null packet, a channel other
    // than 1 to 4, or an engine not started.
    int Send(CCtpData* packet, int channel);

    // Waits for the next reply on `channel`, at most `timeoutSeconds` (0: no
    // limit). 1 with the reply stored in *reply (the caller deletes it); 0 on
    // time-out, *reply untouched; -1 for a bad channel or an engine not started.
    int Receive(int channel, CCtpData** reply, uint16_t timeoutSeconds);
    // The same with the limit in milliseconds (0: no limit), for a caller
    // that goes on waiting for the rest of its time.
    int ReceiveWithin(int channel, CCtpData** reply, uint32_t timeoutMs);

protected:
    // The receive path's only byte source: one read of up to `count` bytes,
    // called with portMutex held. True with *got == 0 when nothing came in
    // time, false when the read failed.
    virtual bool ReadPort(uint8_t* dest, uint32_t count, uint32_t* got);
    // The send path's only byte sink: one whole frame, written by the sender
    // thread alone; the result is not looked at (a lost write shows as the
    // caller's time-out).
    virtual void WritePort(const uint8_t* frame, uint32_t length);

    // Creates whichever events and mutexes do not exist yet; false when one
    // cannot be created.
    bool CreateSyncObjects();

    // The receiver thread's step: reads, checks and delivers one frame.
    // False once the receiver must stop (a failed read that still returned
    // the last bytes asked for).
    bool ReceiveOneFrame();

private:
    // One reply slot per channel; a packet in a slot is the engine's until
    // Receive hands it out.
    using ReplySlots = std::array<std::unique_ptr<CCtpData>, 4>;
    // The outgoing queue, and whether a thread is writing a frame now: the
    // sender thread, or a Send that found the queue empty. Only the thread
    // that set `writing` uses sendBuffer and the port's write side.
    struct Outbox {
        std::deque<CtpRequest> requests;
        bool writing = false;
    };

    static uint32_t SenderProc(void* engine);
    static uint32_t ReceiverProc(void* engine);
    bool CreateThreads();
    void SetPortTimeouts(const platform::PortHandle& target);
    platform::PortHandle CurrentPort();

    void SendQueued();
    void WriteFrame(const CtpRequest& request);

    // How much of the frame being read has come, and how many error reports
    // had gone out when its first byte came.
    struct FrameProgress {
        uint32_t bytes = 0;
        uint64_t giveUpMark = 0;
    };
    // Fills dest with count bytes, first from what resynchronising kept, then
    // from the port. 1, -1 or -2 as a port read ends; 0 when the frame's bytes
    // stopped coming after a caller gave up on an answer since it began.
    int ReadExact(uint8_t* dest, uint32_t count, FrameProgress* progress);
    uint32_t ExtractTrailingFrames(const uint8_t* data, uint32_t n);
    // The frame's first `n` bytes made no sense: drops its first byte and
    // keeps what follows, from the next offset at which a frame can start.
    void Resynchronise(const uint8_t* frame, uint32_t n);
    void StoreReply(int channel, CCtpData* packet);
    void Disconnect();

    // Not a Protected: the receiver holds portMutex across each blocking read
    // of the port by design, so the handle is reached under either lock.
    platform::PortHandle port;
    // Guards the handle itself: the receiver reads it under portMutex, the
    // sender takes a copy under this lock, Start exchanges it under both. A
    // std::mutex, as startLock: Start needs it before any platform lock exists.
    std::mutex portHandleLock;
    std::unique_ptr<platform::Thread> senderThread;
    std::unique_ptr<platform::Thread> receiverThread;
    std::unique_ptr<platform::Event> queueEvent;
    std::array<std::unique_ptr<platform::Event>, 4> replyEvent;
    std::unique_ptr<platform::Mutex> portMutex;
    // The outgoing queue and the reply slots, each under its own lock (the
    // design's queueMutex and replyMutex).
    platform::Protected<Outbox> queue;
    platform::Protected<ReplySlots> replySlot;
    std::atomic<int> connecting{1};
    // Counts the port exchanges of later Starts; guarded by portMutex. The
    // receiver notes it at the start of each frame (frameGeneration is its own).
    uint32_t portGeneration = 0;
    uint32_t frameGeneration = 0;
    // Error reports queued so far: each says some answer never came, so a
    // frame still arriving then may be one the camera cut short.
    std::atomic<uint64_t> giveUps{0};
    // Set while a Start waits for portMutex: the receiver then leaves the
    // port alone until the handle has changed.
    std::atomic<bool> portWanted{false};
    std::function<void()> linkLost;
    // Set once every event and mutex exists; Send and Receive refuse before.
    std::atomic<bool> ready{false};
    // One Start at a time; a std::mutex because it cannot fail to exist, and
    // Start takes it before the engine's platform locks are made.
    std::mutex startLock;
    uint8_t sendBuffer[kCtpMaxFrameSize] = {};
    uint32_t sendUsed = 0;  // bytes of sendBuffer the last frame wrote; the writer's
    // Bytes read but not yet used: what followed a frame that made no sense.
    // The receiver thread's alone; empty on a stream that never slips.
    uint8_t pending[kCtpMaxFrameSize] = {};
    uint32_t pendingBegin = 0;
    uint32_t pendingEnd = 0;
    // Bytes of receiveBuffer the frame under way may have been read into.
    uint32_t receiveUsed = 0;
    // Last member: a write past it leaves the object, where sanitizers see it.
    uint8_t receiveBuffer[kCtpMaxFrameSize] = {};
};

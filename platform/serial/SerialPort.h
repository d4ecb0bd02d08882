// A serial port opened by its handset name ("COM4:", "BTC3:", "COM8:"), with
// the handset's read and write time-outs. A lost link shows as a failed read.
#pragma once

#include <cstdint>
#include <memory>
#include <shared_mutex>
#include <string_view>

namespace platform {

// The handset's time-out settings. With an interval of kNoIntervalLimit a read
// returns as soon as any bytes have arrived, or empty after the total time-out;
// a write gives up after its total time-out. A total of 0 means no limit.
struct SerialTimeouts {
    static constexpr uint32_t kNoIntervalLimit = 0xFFFFFFFFu;
    uint32_t readIntervalMs = 0;
    uint32_t readTotalMultiplierMs = 0;
    uint32_t readTotalConstantMs = 0;
    uint32_t writeTotalMultiplierMs = 0;
    uint32_t writeTotalConstantMs = 0;
};

class SerialPort {
public:
    // Connects the port when the Bluetooth stack bound its name to a
    // connection (socket mode, see PortBindings.h); else opens
    // `<device root>/dev/<NAME>` (the name without its colon) when that
    // exists, else the RFCOMM device of that port number (COMn: rfcommN,
    // BTCn: rfcomm(10+n)). Raw mode, no other line settings. Null on failure,
    // and for a link whose maker has gone: one with "<link>.peer" beside it
    // that no process holds locked any more (see the camcorder simulator).
    static std::shared_ptr<SerialPort> Open(std::u16string_view handsetName);
    // Wraps a descriptor that is already open (the port owns it): a terminal,
    // or a connected stream socket, which then has the same read and write
    // contract as a terminal.
    static std::shared_ptr<SerialPort> Adopt(int fd);

    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    SerialTimeouts GetTimeouts() const;
    void SetTimeouts(const SerialTimeouts& timeouts);

    // Reads up to `count` bytes. True with *got == 0 when the time-out passed
    // with nothing; false when the link is gone (hang-up, I/O error) or closed.
    bool Read(void* buffer, uint32_t count, uint32_t* got);
    // Writes `count` bytes; false when not all of them went out in time.
    bool Write(const void* buffer, uint32_t count, uint32_t* written);
    // Closes the port; reads and writes fail from then on. Waits for a read
    // or write under way to return (at most its time-out).
    void Close();
    bool IsOpen() const;

private:
    SerialPort(int fd, bool socket);

    mutable std::shared_mutex lock_;  // shared by Read/Write, exclusive for Close
    int fd_;
    const bool socket_;
    mutable std::mutex timeoutsLock_;
    SerialTimeouts timeouts_;
};

// What the program stores as its port handle.
using PortHandle = std::shared_ptr<SerialPort>;

}  // namespace platform

// Feeds arbitrary byte streams, cut into arbitrary reads (some of them
// failing), through the engine's receive path, then takes every delivered
// reply. One engine serves every input: building one (its events, mutex and
// 30 KB of buffers) cost as much as a short input. Each input still starts
// on a clean engine: a stream ends only inside ReadPort, which the engine
// calls only once the bytes kept from resynchronising are used up, and the
// replies are all taken before the next input. The engine lives in static
// storage that ends with its receive buffer, its last member, so a write past
// that buffer leaves the storage and the address sanitizer reports it.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "ctp/CtpDataFactory.h"
#include "ctp/CtpEngine.h"
#include "platform/kernel/Kernel.h"

namespace {

struct EndOfStream {};

// The input of the run under way (kept outside the engine object on purpose).
FuzzedDataProvider* g_input = nullptr;

class StreamEngine : public CCtpEngine {
public:
    StreamEngine() {
        if (!CreateSyncObjects()) {
            std::abort();
        }
    }
    void Run() {
        try {
            while (ReceiveOneFrame()) {
            }
        } catch (const EndOfStream&) {
        }
    }

protected:
    // Each read: one control byte says how much of what was asked arrives and
    // from where: up to 63 input bytes, all that was asked from the input, any
    // amount of one repeated byte (long reads from short inputs), or any amount
    // from the input. One value of each kind fails the read. With the first
    // kind, bit 0x40 has a caller give up on an answer first (an error report
    // goes out), which lets a frame that stops coming be abandoned.
    // Control bytes come from the end of the input, stream bytes from its start.
    bool ReadPort(uint8_t* dest, uint32_t count, uint32_t* got) override {
        *got = 0;
        FuzzedDataProvider& input = *g_input;
        if (input.remaining_bytes() == 0) {
            throw EndOfStream{};
        }
        const uint8_t control = input.ConsumeIntegral<uint8_t>();
        if ((control & 0xC0) == 0x40) {
            Send(CCtpDataFactory::Create(CTP_ERROR_REPORT), 1 + (control & 3));
        }
        // Straight into the engine's buffer, without an allocation per read.
        size_t n = 0;
        if (control < 0x80) {
            n = input.ConsumeData(dest, std::min<uint32_t>(control & 0x3F, count));
        } else if (control < 0xC0) {
            n = input.ConsumeData(dest, count);
        } else if (control < 0xF0) {
            n = input.ConsumeIntegralInRange<uint32_t>(0, count);
            std::memset(dest, input.ConsumeIntegral<uint8_t>(), n);
        } else {
            n = input.ConsumeData(dest, input.ConsumeIntegralInRange<uint32_t>(0, count));
        }
        if (n > count) {
            std::abort();  // never more than asked, like a port
        }
        *got = static_cast<uint32_t>(n);
        return (control & 0x3F) != 0x3F && control != 0xEF;
    }
};

StreamEngine* g_engine = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Read retries (10 ms) and the one-second reply waits below take no time.
    platform::SetTimeScale(1e7);
    alignas(StreamEngine) static unsigned char storage[sizeof(StreamEngine)];
    g_engine = new (storage) StreamEngine();  // never destroyed, like the program's
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    g_input = &input;
    StreamEngine* engine = g_engine;
    engine->Run();
    for (int channel = 1; channel <= 4; ++channel) {
        CCtpData* reply = nullptr;
        if (engine->Receive(channel, &reply, 1) == 1) {
            if (reply == nullptr || !IsAcceptedOpcode(reply->GetOpcode()) ||
                reply->GetSize() > kCtpMaxPacketSize) {
                __builtin_trap();
            }
            delete reply;
        }
    }
    g_input = nullptr;
    return 0;
}

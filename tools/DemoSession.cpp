// A short scripted session with a camcorder over a handset serial port, as
// the demo runs it against the simulator: a mode query, the record key (on
// and off), one live-view frame saved as a JPEG file. Frames are built by
// hand and printed both ways with what they mean.
//
//   camora-demo-session PORT OUT.jpg      e.g. camora-demo-session COM4: /tmp/frame.jpg
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/serial/SerialPort.h"
#include "platform/text/Text.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

platform::PortHandle g_port;

std::string Hex(const Bytes& b, size_t max = 16) {
    std::string out;
    char two[4];
    for (size_t i = 0; i < b.size() && i < max; ++i) {
        std::snprintf(two, sizeof two, i == 0 ? "%02X" : " %02X", b[i]);
        out += two;
    }
    if (b.size() > max) {
        out += " ... (" + std::to_string(b.size()) + " bytes)";
    }
    return out;
}

Bytes Frame(uint16_t channel, uint16_t opcode, const Bytes& body = {}) {
    const auto length = static_cast<uint16_t>(6 + body.size());
    Bytes f(length);
    f[0] = static_cast<uint8_t>(channel >> 8);
    f[1] = static_cast<uint8_t>(channel);
    f[2] = static_cast<uint8_t>(length >> 8);
    f[3] = static_cast<uint8_t>(length);
    f[4] = static_cast<uint8_t>(opcode >> 8);
    f[5] = static_cast<uint8_t>(opcode);
    std::copy(body.begin(), body.end(), f.begin() + 6);
    return f;
}

uint16_t Word(const Bytes& b, size_t at) {
    return at + 1 < b.size() ? static_cast<uint16_t>(b[at] << 8 | b[at + 1]) : 0;
}

// Reads `count` bytes, or fewer once `deadline` has passed or the link is gone.
Bytes ReadBytes(size_t count, Clock::time_point deadline) {
    Bytes out(count);
    size_t got = 0;
    while (got < count && Clock::now() < deadline) {
        uint32_t n = 0;
        if (!g_port->Read(out.data() + got, static_cast<uint32_t>(count - got), &n)) {
            break;
        }
        got += n;
    }
    out.resize(got);
    return out;
}

// Sends one request and returns the answer frame (empty when none came in 3 s).
Bytes Exchange(const char* what, const Bytes& request) {
    std::printf("-> %-32s %s\n", what, Hex(request).c_str());
    uint32_t written = 0;
    const auto start = Clock::now();
    if (!g_port->Write(request.data(), static_cast<uint32_t>(request.size()), &written)) {
        std::printf("   write failed\n");
        return {};
    }
    const auto deadline = start + std::chrono::seconds(3);
    Bytes answer = ReadBytes(4, deadline);
    if (answer.size() == 4 && Word(answer, 2) > 4) {
        const Bytes rest = ReadBytes(Word(answer, 2) - 4u, deadline);
        answer.insert(answer.end(), rest.begin(), rest.end());
    }
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    if (answer.size() < 6 || answer.size() != Word(answer, 2)) {
        std::printf("<- no answer within 3 s\n");
        return {};
    }
    std::printf("<- %-32s %s\n", (std::to_string(ms) + " ms").c_str(), Hex(answer).c_str());
    return answer;
}

bool ShowMode(const Bytes& a) {
    static const char* const kModes[] = {"video recording", "video playback", "still recording",
                                         "still playback"};
    static const char* const kStates[] = {"standby", "shooting", "quick-start standby"};
    if (a.size() != 14) {
        return false;
    }
    std::printf("   mode %d (%s), state %d (%s), AC %d, battery %d, level %d\n", a[6],
                a[6] < 4 ? kModes[a[6]] : "?", a[7], a[7] < 3 ? kStates[a[7]] : "?", a[8], a[9],
                a[12]);
    return true;
}

bool Accepted(const Bytes& a) {
    if (a.size() != 8) {
        return false;
    }
    std::printf("   status %u (%s)\n", Word(a, 6), Word(a, 6) == 0 ? "accepted" : "refused");
    return Word(a, 6) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: camora-demo-session PORT OUT.jpg\n");
        return 2;
    }
    g_port = platform::SerialPort::Open(platform::Utf8ToUtf16(argv[1]));
    if (!g_port) {
        std::fprintf(stderr, "camora-demo-session: cannot open %s\n", argv[1]);
        return 1;
    }
    platform::SerialTimeouts t;
    t.readIntervalMs = platform::SerialTimeouts::kNoIntervalLimit;
    t.readTotalConstantMs = 200;
    t.writeTotalConstantMs = 1000;
    g_port->SetTimeouts(t);
    std::printf("session with the camcorder on %s\n", argv[1]);

    const Bytes record = Frame(3, 0x1001, {0x00, 0x00, 0x00, 0x00});
    // The query is answered at once; a poll at the camera's pace, or at once
    // when its state has changed since its last answer.
    bool ok = ShowMode(Exchange("ch1 CTP_GET_MODE", Frame(1, 0x1101)));
    ok = ShowMode(Exchange("ch1 CTP_MODE_POLL", Frame(1, 0x1102))) && ok;
    ok = Accepted(Exchange("ch3 CTP_CAMCMD record", record)) && ok;
    ok = ShowMode(Exchange("ch1 CTP_MODE_POLL", Frame(1, 0x1102))) && ok;
    Bytes stop = record;
    stop[9] = 1;  // the state byte: now shooting
    ok = Accepted(Exchange("ch3 CTP_CAMCMD record (stop)", stop)) && ok;

    ok = Accepted(Exchange("ch4 CTP_IMAGE_CMD live view", Frame(4, 0x1003, {0, 0, 0, 0}))) && ok;
    const Bytes info = Exchange("ch4 CTP_GET_DATA_INFO", Frame(4, 0x1104));
    const uint32_t size = info.size() == 12 ? (uint32_t{Word(info, 6)} << 16 | Word(info, 8)) : 0;
    std::printf("   picture of %u bytes, count %u\n", size, Word(info, 10));
    Bytes jpeg;
    for (uint16_t n = 1; size > 0 && jpeg.size() < size; ++n) {
        const std::string what = "ch4 CTP_GET_IMAGE_DATA " + std::to_string(n);
        const Bytes block = Exchange(what.c_str(), Frame(4, 0x1103, {0, static_cast<uint8_t>(n)}));
        if (block.size() <= 8 || Word(block, 6) != n) {
            ok = false;
            break;
        }
        jpeg.insert(jpeg.end(), block.begin() + 8, block.end());
    }
    Accepted(Exchange("ch4 CTP_IMAGE_CMD end live view", Frame(4, 0x1003, {0, 1, 0, 0})));

    const bool isJpeg = jpeg.size() == size && size > 4 && jpeg[0] == 0xFF && jpeg[1] == 0xD8 &&
                        jpeg[size - 2] == 0xFF && jpeg[size - 1] == 0xD9;
    if (isJpeg) {
        std::ofstream(argv[2], std::ios::binary)
            .write(reinterpret_cast<const char*>(jpeg.data()), static_cast<long>(jpeg.size()));
        std::printf("saved the live-view frame (%zu bytes of JPEG) to %s\n", jpeg.size(), argv[2]);
    } else {
        std::printf("the live-view frame did not arrive whole\n");
    }
    g_port->Close();
    return ok && isJpeg ? 0 : 1;
}

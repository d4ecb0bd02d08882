#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>

#include "bench/controllers/ControllersBenchSupport.h"
#include "platform/serial/SerialPort.h"
#include "platform/sys/Syscall.h"
#include "platform/ui/WindowMessages.h"

namespace controllersbench {

namespace sys = platform::sys;

double SecondsOf(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}
Clock::duration ToDuration(double seconds) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}
double MsOf(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

int OpenRaw(const std::string& path) {
    const sys::Outcome opened =
        sys::Call("open", [&] { return ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC); });
    if (opened.Failed()) {
        Die("cannot open " + path + ": " + opened.Describe());
    }
    const int fd = static_cast<int>(opened.result);
    termios tio{};
    sys::Outcome raw = sys::Call("tcgetattr", [&] { return ::tcgetattr(fd, &tio); });
    if (!raw.Failed()) {
        ::cfmakeraw(&tio);
        raw = sys::Call("tcsetattr", [&] { return ::tcsetattr(fd, TCSANOW, &tio); });
    }
    // A cooked line would echo and translate the frames' bytes.
    if (raw.Failed()) {
        Die("cannot make " + path + " raw: " + raw.Describe());
    }
    return fd;
}

void ReadWithin(int fd, uint8_t* dest, size_t count, int timeoutMs, const char* what) {
    for (size_t done = 0; done < count;) {
        pollfd p{fd, POLLIN, 0};
        const sys::Outcome ready = sys::Call("poll", [&] { return ::poll(&p, 1, timeoutMs); });
        if (ready.Failed()) {
            Die(std::string(what) + ": " + ready.Describe());
        }
        if (ready.result == 0) {
            Die(std::string(what) + ": nothing came in time");
        }
        const sys::Outcome n =
            sys::Call("read", [&] { return ::read(fd, dest + done, count - done); });
        if (n.Failed() || n.result == 0) {
            Die(std::string(what) + ": " + (n.Failed() ? n.Describe() : "the line was closed"));
        }
        done += static_cast<size_t>(n.result);
    }
}

void PumpFor(Clock::duration duration) {
    const auto until = Clock::now() + duration;
    for (auto now = Clock::now(); now < until; now = Clock::now()) {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count();
        platform::PumpWindowMessages(static_cast<uint32_t>(std::max<long long>(ms, 1)));
    }
}

Handset* Connect(const std::string& line) {
    auto* handset = new Handset;
    handset->config->SetString("TimeOut", "5");
    if (handset->engine->Start(platform::SerialPort::Adopt(OpenRaw(line))) != 1) {
        Die("the engine did not start");
    }
    return handset;
}

sim::Camcorder* StartCamera(const sim::Shaping& shaping, int jpegQuality) {
    sim::Options options;
    options.shaping = shaping;
    options.jpegQuality = jpegQuality;
    options.sentRecordBytes = size_t{256} << 20;
    auto* cam = new sim::Camcorder(options);
    if (!cam->Start()) {
        Die("the simulator did not start");
    }
    return cam;
}

double LinkSeconds(const std::vector<sim::WireFrame>& frames, const sim::Shaping& shaping) {
    double total = 0;
    for (const sim::WireFrame& f : frames) {
        if (f.Channel() == 4) {
            total += shaping.latencyMs / 1000.0 +
                     static_cast<double>(f.bytes.size()) / shaping.bytesPerSecond;
        }
    }
    return total;
}

double LinkSecondsOf(const std::vector<sim::WireFrame>& frames, uint16_t opcode,
                     const sim::Shaping& shaping) {
    std::vector<sim::WireFrame> some;
    for (const sim::WireFrame& f : frames) {
        if (opcode == 0 || f.Opcode() == opcode) {
            some.push_back(f);
        }
    }
    return LinkSeconds(some, shaping);
}

double OtherChannelsSeconds(const std::vector<sim::WireFrame>& frames,
                            const sim::Shaping& shaping) {
    double total = 0;
    for (const sim::WireFrame& f : frames) {
        if (f.Channel() != 4) {
            total += static_cast<double>(f.bytes.size()) / shaping.bytesPerSecond;
        }
    }
    return total;
}

Bytes RawLink::Exchange(uint16_t opcode, const Bytes& body) {
    const Bytes frame = sim::EncodeFrame(4, opcode, body);
    const sys::Outcome written = sys::WriteAll(fd_, frame.data(), frame.size());
    if (written.Failed()) {
        Die("raw write failed: " + written.Describe());
    }
    Bytes answer(4);
    ReadWithin(fd_, answer.data(), 4, 5000, "raw read");
    const size_t length = sim::FrameView{answer}.Length();
    if (length < 6) {
        Die("raw answer too short");
    }
    answer.resize(length);
    ReadWithin(fd_, answer.data() + 4, length - 4, 5000, "raw read");
    return answer;
}

Spread SpreadOf(const std::vector<double>& ms) {
    if (ms.empty()) {
        return {};
    }
    return {bench::Quantile(ms, 0.50), bench::Quantile(ms, 0.99),
            *std::max_element(ms.begin(), ms.end()), ms.size()};
}

}  // namespace controllersbench

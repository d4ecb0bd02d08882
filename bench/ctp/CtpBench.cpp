// camora-bench-ctp: live-view image blocks through the exchange engine, beside
// a plain loop that makes the same request and reads the same 10248-byte reply
// with write() and read() on the same pseudo-terminal. The camera answering
// every 8-byte block request with one full image-block frame is a process of
// its own, so that only the handset's side is counted.
//
//   camora-bench-ctp [--pairs N] [--seconds S] [--busy]
//
// The two sides take turns, plain loop then engine, S seconds each, N times;
// each pair gives the engine's share of the plain loop's blocks per second and
// its CPU per block against the loop's, and the figures are the medians of
// the pairs' ratios, so that a machine whose load changes slows both sides of
// a pair alike. --busy keeps one core busy with a spinning process meanwhile.
// Exits 1 when a goal is not met: the engine at 95 % of the plain loop's
// blocks per second or more, with at most 1.3 times its CPU per block.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "ctp/ByteOrder.h"
#include "ctp/CtpDataFactory.h"
#include "ctp/CtpEngine.h"
#include "platform/serial/SerialPort.h"
#include "platform/sys/Syscall.h"
#include "testkit/BenchOptions.h"
#include "testkit/ChildProcess.h"
#include "testkit/PtyPair.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kRequestSize = 8;
constexpr int kWarmUpBlocks = 20;

struct Settings {
    int pairs = 7;
    double seconds = 1.0;
    bool busy = false;
};

[[noreturn]] void Die(const char* why) {
    std::fprintf(stderr, "camora-bench-ctp: %s\n", why);
    std::exit(2);
}

bool ReadAll(int fd, uint8_t* bytes, size_t count) {
    return !platform::sys::ReadAll(fd, bytes, count).Failed();
}

bool WriteAll(int fd, const uint8_t* bytes, size_t count) {
    return !platform::sys::WriteAll(fd, bytes, count).Failed();
}

// The camera: answers each block request with a whole block frame, until the
// line goes away. Runs in a child process.
void ServeCamera(int master) {
    std::vector<uint8_t> reply(kCtpMaxFrameSize);
    ctp::PutBe16(reply.data(), 4);
    ctp::PutBe16(reply.data() + 2, static_cast<uint16_t>(kCtpMaxFrameSize));
    ctp::PutBe16(reply.data() + 4, CTP_IMAGE_DATA);
    // Image bytes that never look like a frame header.
    std::fill(reply.begin() + 8, reply.end(), 0xA5);
    uint8_t request[kRequestSize];
    while (ReadAll(master, request, sizeof request)) {
        reply[6] = request[6];  // the block number asked for
        reply[7] = request[7];
        if (!WriteAll(master, reply.data(), reply.size())) {
            return;
        }
    }
}

// One block the plain way.
bool PlainBlock(int fd, uint16_t block, std::vector<uint8_t>& reply) {
    uint8_t request[kRequestSize] = {0x00, 0x04, 0x00, 0x08, 0x11, 0x03, 0x00, 0x00};
    ctp::PutBe16(request + 6, block);
    return WriteAll(fd, request, sizeof request) && ReadAll(fd, reply.data(), reply.size());
}

// One block as the live view fetches it: create, fill and send the request,
// wait for the reply, copy its data out, delete it.
bool EngineBlock(CCtpEngine& engine, uint16_t block, std::vector<uint8_t>& image) {
    auto request = CCtpDataFactory::CreateAs<CCtpDataPara1>(CTP_GET_IMAGE_DATA);
    request->SetParam(block);
    CCtpData* reply = nullptr;
    if (engine.Send(request.release(), 4) != 1 || engine.Receive(4, &reply, 5) != 1) {
        return false;
    }
    const auto* data = dynamic_cast<const CCtpDataBlock*>(reply);
    const bool ok = data != nullptr && data->HasData();
    if (ok) {
        data->CopyData(image.data(), image.size());
    }
    delete reply;
    return ok;
}

// Blocks per second, CPU microseconds and context switches per block of one
// side's turn.
struct Turn {
    double rate = 0;
    double cpuUs = 0;
    double switches = 0;
    // The median time of one block, in microseconds: what the turn's rate
    // would be without the stalls that other processes cause.
    double medianUs = 0;
};

template <typename Block>
Turn Measure(double seconds, Block block) {
    for (int i = 0; i < kWarmUpBlocks; ++i) {
        if (!block()) {
            Die("a block did not come");
        }
    }
    const bench::Usage before = bench::ProcessUsage();
    const auto from = Clock::now();
    const auto until =
        from + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    uint64_t blocks = 0;
    std::vector<double> times;
    times.reserve(1 << 16);
    auto last = from;
    do {
        if (!block()) {
            Die("a block did not come");
        }
        ++blocks;
        const auto now = Clock::now();
        times.push_back(std::chrono::duration<double, std::micro>(now - last).count());
        last = now;
    } while (last < until);
    const double wall = std::chrono::duration<double>(last - from).count();
    const bench::Usage used = bench::ProcessUsage() - before;
    const auto n = static_cast<double>(blocks);
    return {n / wall, 1e6 * used.cpuSeconds / n, used.switches / n,
            bench::Summarise(std::move(times)).median};
}

void PrintSummary(const char* what, const char* unit, const bench::Summary& s) {
    std::printf("  %-34s median %9.2f %-10s (%.2f to %.2f, %zu pairs)\n", what, s.median, unit,
                s.low, s.high, s.count);
}

}  // namespace

int main(int argc, char** argv) {
    Settings s;
    const testsupport::BenchOptions options =
        testsupport::BenchOptions("usage: camora-bench-ctp [--pairs N] [--seconds S] [--busy]")
            .Number("--pairs", &s.pairs)
            .Number("--seconds", &s.seconds)
            .Flag("--busy", &s.busy);
    options.ParseOrExit(argc, argv);
    if (!(s.pairs > 0 && s.seconds > 0)) {
        options.Usage();
    }
    std::signal(SIGPIPE, SIG_IGN);
    // Children first, while this process has one thread.
    bench::BusyCore busy;
    if (s.busy && !busy.Start()) {
        Die("cannot start the busy process");
    }
    testsupport::PtyPair pty;
    testsupport::PtyPair spare;
    testsupport::ChildProcess camera = testsupport::ChildProcess::Fork([&] {
        ServeCamera(pty.master());
        return 0;
    });
    if (!camera.Started()) {
        Die("cannot start the camera process");
    }
    const int plainFd = pty.OpenSlave();
    const platform::PortHandle enginePort = platform::SerialPort::Adopt(pty.OpenSlave());
    const platform::PortHandle sparePort = platform::SerialPort::Adopt(spare.OpenSlave());
    // While the plain loop runs, the engine reads a spare terminal (a second
    // Start only swaps the port), so that its receiver takes none of the
    // loop's bytes. Never freed: its threads run until the process ends.
    auto* engine = new CCtpEngine();
    if (engine->Start(sparePort) != 1) {
        Die("the engine did not start");
    }

    bench::PrintConditions(s.busy);
    std::printf("image blocks of %zu bytes, %d pairs of %.1f s per side\n\n", kCtpMaxFrameSize,
                s.pairs, s.seconds);
    std::printf("  %4s  %12s %12s  %10s %10s  %8s %8s  %7s %7s\n", "pair", "plain blk/s",
                "engine blk/s", "plain us", "engine us", "plain cs", "eng cs", "rate %", "cpu x");
    std::vector<double> rateRatios, cpuRatios, plainRates, engineRates, plainCpu, engineCpu,
        plainSwitches, engineSwitches, steadyRatios;
    std::vector<uint8_t> buffer(kCtpMaxFrameSize);
    uint16_t block = 1;
    for (int pair = 1; pair <= s.pairs; ++pair) {
        engine->Start(sparePort);
        const Turn plain = Measure(s.seconds, [&] { return PlainBlock(plainFd, block++, buffer); });
        engine->Start(enginePort);
        const Turn viaEngine =
            Measure(s.seconds, [&] { return EngineBlock(*engine, block++, buffer); });
        rateRatios.push_back(100.0 * viaEngine.rate / plain.rate);
        cpuRatios.push_back(viaEngine.cpuUs / plain.cpuUs);
        plainRates.push_back(plain.rate);
        engineRates.push_back(viaEngine.rate);
        plainCpu.push_back(plain.cpuUs);
        engineCpu.push_back(viaEngine.cpuUs);
        plainSwitches.push_back(plain.switches);
        engineSwitches.push_back(viaEngine.switches);
        steadyRatios.push_back(100.0 * plain.medianUs / viaEngine.medianUs);
        std::printf("  %4d  %11.0f %11.0f  %8.1f %8.1f  %8.2f %8.2f  %7.1f %7.2f  %6.0f %6.0f\n",
                    pair, plain.rate, viaEngine.rate, plain.cpuUs, viaEngine.cpuUs, plain.switches,
                    viaEngine.switches, rateRatios.back(), cpuRatios.back(), plain.medianUs,
                    viaEngine.medianUs);
        std::fflush(stdout);
    }
    camera.Kill();
    busy.Stop();

    std::printf(
        "\n(us: CPU microseconds per block of the whole handset process; cs: context\n"
        " switches per block; p med, e med: median microseconds of one block; the\n"
        " camera is a process of its own and is not counted)\n\n");
    PrintSummary("plain loop", "blocks/s", bench::Summarise(plainRates));
    PrintSummary("exchange engine", "blocks/s", bench::Summarise(engineRates));
    PrintSummary("plain loop CPU per block", "us", bench::Summarise(plainCpu));
    PrintSummary("engine CPU per block", "us", bench::Summarise(engineCpu));
    PrintSummary("plain loop switches per block", "", bench::Summarise(plainSwitches));
    PrintSummary("engine switches per block", "", bench::Summarise(engineSwitches));
    const bench::Summary rate = bench::Summarise(rateRatios);
    const bench::Summary cpu = bench::Summarise(cpuRatios);
    PrintSummary("engine / plain loop, blocks/s", "%", rate);
    PrintSummary("engine / plain loop, CPU/block", "times", cpu);
    PrintSummary("same, from median block times", "%", bench::Summarise(steadyRatios));
    std::printf("\nGoals (medians of the pairs' ratios)\n");
    bool met = true;
    met &= bench::Goal("engine >= 95 % of the plain loop's blocks per second", rate.median >= 95.0);
    met &= bench::Goal("engine CPU per block <= 1.3 times the plain loop's", cpu.median <= 1.3);
    return met ? 0 : 1;
}

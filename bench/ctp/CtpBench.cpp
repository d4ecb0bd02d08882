// Live-view image blocks through the exchange engine, beside a plain loop that
// makes the same request and reads the same 10248-byte reply with read() and
// write() on the same pseudo-terminal, and the engine's share of the plain
// loop's rate. A camera thread on the terminal's other side answers every
// 8-byte block request with one full image-block frame.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "ctp/ByteOrder.h"
#include "ctp/CtpDataFactory.h"
#include "ctp/CtpEngine.h"
#include "platform/serial/SerialPort.h"
#include "platform/sys/Syscall.h"
#include "tests/support/PtyPair.h"

namespace {

constexpr size_t kRequestSize = 8;
constexpr char kRate[] = "blocks/s";

bool ReadAll(int fd, uint8_t* bytes, size_t count) {
    return !platform::sys::ReadAll(fd, bytes, count).Failed();
}

bool WriteAll(int fd, const uint8_t* bytes, size_t count) {
    return !platform::sys::WriteAll(fd, bytes, count).Failed();
}

// The terminal, the camera serving its master side, the plain loop's own
// descriptor on the program side, and the engine once it has been started.
// While the plain loop runs, the engine is moved to a spare terminal (a second
// Start only swaps the port), so that its receiver takes none of the loop's
// bytes and the two can take turns. Never freed: the camera and the engine's
// threads run until the process ends.
struct Rig {
    Rig()
        : rawFd(pty.OpenSlave()),
          enginePort(platform::SerialPort::Adopt(pty.OpenSlave())),
          sparePort(platform::SerialPort::Adopt(spare.OpenSlave())) {
        std::thread([this] { ServeCamera(); }).detach();
    }

    // Points the engine at the camera's terminal, or away from it; false when
    // the engine cannot start.
    bool EngineOnCamera(bool onCamera) {
        if (engine == nullptr) {
            if (!onCamera) {
                return true;
            }
            engine = new CCtpEngine();
        }
        return engine->Start(onCamera ? enginePort : sparePort) == 1;
    }

    void ServeCamera() {
        std::vector<uint8_t> reply(kCtpMaxFrameSize);
        ctp::PutBe16(reply.data(), 4);
        ctp::PutBe16(reply.data() + 2, static_cast<uint16_t>(kCtpMaxFrameSize));
        ctp::PutBe16(reply.data() + 4, CTP_IMAGE_DATA);
        // Image bytes that never look like a frame header.
        std::fill(reply.begin() + 8, reply.end(), 0xA5);
        uint8_t request[kRequestSize];
        while (ReadAll(pty.master(), request, sizeof request)) {
            reply[6] = request[6];  // the block number asked for
            reply[7] = request[7];
            if (!WriteAll(pty.master(), reply.data(), reply.size())) {
                return;
            }
        }
    }

    testsupport::PtyPair pty;
    testsupport::PtyPair spare;
    int rawFd;
    platform::PortHandle enginePort;
    platform::PortHandle sparePort;
    CCtpEngine* engine = nullptr;
};

Rig& TheRig() {
    static auto* rig = new Rig;
    return *rig;
}

void ReportRate(benchmark::State& state) {
    state.counters[kRate] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kCtpBlockDataSize));
}

void BM_RawRequestResponse(benchmark::State& state) {
    Rig& rig = TheRig();
    rig.EngineOnCamera(false);
    uint8_t request[kRequestSize] = {0x00, 0x04, 0x00, 0x08, 0x11, 0x03, 0x00, 0x00};
    std::vector<uint8_t> reply(kCtpMaxFrameSize);
    uint16_t block = 1;
    for (auto _ : state) {
        ctp::PutBe16(request + 6, block++);
        if (!WriteAll(rig.rawFd, request, sizeof request) ||
            !ReadAll(rig.rawFd, reply.data(), reply.size())) {
            state.SkipWithError("the terminal failed");
            break;
        }
        benchmark::DoNotOptimize(reply.data());
    }
    ReportRate(state);
}

// What the live view does for each block: create, fill and send the request,
// wait for the reply, copy its data out, delete it.
void BM_EngineImageBlocks(benchmark::State& state) {
    Rig& rig = TheRig();
    if (!rig.EngineOnCamera(true)) {
        state.SkipWithError("the engine did not start");
        return;
    }
    std::vector<uint8_t> image(kCtpBlockDataSize);
    uint16_t block = 1;
    for (auto _ : state) {
        auto request = CCtpDataFactory::CreateAs<CCtpDataPara1>(CTP_GET_IMAGE_DATA);
        request->SetParam(block++);
        CCtpData* reply = nullptr;
        if (rig.engine->Send(request.release(), 4) != 1 || rig.engine->Receive(4, &reply, 5) != 1) {
            state.SkipWithError("no reply");
            break;
        }
        const auto* data = dynamic_cast<const CCtpDataBlock*>(reply);
        if (data == nullptr || !data->HasData()) {
            delete reply;
            state.SkipWithError("a reply without data");
            break;
        }
        data->CopyData(image.data(), image.size());
        benchmark::DoNotOptimize(image.data());
        delete reply;
    }
    ReportRate(state);
}

BENCHMARK(BM_RawRequestResponse)->UseRealTime();
BENCHMARK(BM_EngineImageBlocks)->UseRealTime();

// Prints the runs as usual and keeps each benchmark's rates, so that the
// engine's share of the plain loop's rate can be given at the end.
class RateReporter : public benchmark::ConsoleReporter {
public:
    // Colours only on a terminal.
    RateReporter() : ConsoleReporter(::isatty(STDOUT_FILENO) != 0 ? OO_Defaults : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const auto rate = run.counters.find(kRate);
            if (run.error_occurred || run.run_type != Run::RT_Iteration ||
                rate == run.counters.end()) {
                continue;
            }
            rates_[run.run_name.function_name].push_back(rate->second.value);
        }
    }

    // A benchmark's rates over its repetitions, lowest first; empty when it did not run.
    std::vector<double> Rates(const std::string& name) const {
        const auto it = rates_.find(name);
        std::vector<double> v = it == rates_.end() ? std::vector<double>{} : it->second;
        std::sort(v.begin(), v.end());
        return v;
    }

private:
    std::map<std::string, std::vector<double>> rates_;
};

}  // namespace

int main(int argc, char** argv) {
    // Unless told otherwise: ten repetitions of about a second each, the two
    // benchmarks taking turns in random order, so that a busy machine slows
    // both alike. Arguments given later win.
    std::string defaults[] = {"--benchmark_repetitions=10", "--benchmark_min_time=1",
                              "--benchmark_enable_random_interleaving=true"};
    std::vector<char*> args = {argv[0]};
    for (std::string& arg : defaults) {
        args.push_back(arg.data());
    }
    args.insert(args.end(), argv + 1, argv + argc);
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) {
        return 1;
    }
    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const std::vector<double> raw = reporter.Rates("BM_RawRequestResponse");
    const std::vector<double> engine = reporter.Rates("BM_EngineImageBlocks");
    if (!raw.empty() && !engine.empty()) {
        auto median = [](const std::vector<double>& v) {
            const size_t n = v.size();
            return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
        };
        std::printf("\nimage blocks of %zu bytes, over %zu and %zu runs:\n", kCtpMaxFrameSize,
                    raw.size(), engine.size());
        std::printf("  plain read/write loop  median %8.0f blocks/s  (%.0f to %.0f)\n", median(raw),
                    raw.front(), raw.back());
        std::printf("  exchange engine        median %8.0f blocks/s  (%.0f to %.0f)\n",
                    median(engine), engine.front(), engine.back());
        std::printf("  engine / plain loop    %.1f %% of the median  (target 90 %%)\n",
                    100.0 * median(engine) / median(raw));
    }
    return 0;
}

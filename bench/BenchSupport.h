// What the benchmarks share: medians and ranges over runs, the process's CPU
// time and context switches, a second core kept busy on demand, the load of
// the machine, the one way a figure is judged against its goal, and the
// camcorder simulator as a process of its own.
#pragma once

#include <errno.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "testkit/ChildProcess.h"
#include "testkit/PumpUntil.h"

namespace bench {

// Ends the benchmark (exit status 2): a figure could not be taken.
[[noreturn]] inline void Die(const std::string& why) {
    std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, why.c_str());
    std::exit(2);
}

// Median and range of a set of figures.
struct Summary {
    double median = 0;
    double low = 0;
    double high = 0;
    size_t count = 0;
};

inline Summary Summarise(std::vector<double> v) {
    Summary s;
    if (v.empty()) {
        return s;
    }
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    s.median = n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    s.low = v.front();
    s.high = v.back();
    s.count = n;
    return s;
}

// The q-quantile (0 to 1) by the nearest-rank rule: the smallest sample at or
// above which lies the fraction q of all samples.
inline double Quantile(std::vector<double> v, double q) {
    if (v.empty()) {
        return 0;
    }
    std::sort(v.begin(), v.end());
    const double rank = q * static_cast<double>(v.size());
    size_t index = static_cast<size_t>(rank);
    if (static_cast<double>(index) == rank && index > 0) {
        --index;
    }
    return v[std::min(index, v.size() - 1)];
}

// CPU time (user and system) and context switches of every thread of this
// process so far; children are not counted.
struct Usage {
    double cpuSeconds = 0;
    double switches = 0;  // voluntary and involuntary
};

inline Usage ProcessUsage() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    auto s = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return {s(u.ru_utime) + s(u.ru_stime), static_cast<double>(u.ru_nvcsw + u.ru_nivcsw)};
}

inline Usage operator-(const Usage& a, const Usage& b) {
    return {a.cpuSeconds - b.cpuSeconds, a.switches - b.switches};
}

// A child process that spins on one core for as long as this object lives,
// so that the figures show a handset that is doing something else as well.
// Its CPU is not counted in ProcessUsage.
class BusyCore {
public:
    // Call before any thread is started: the child is a copy of this process.
    bool Start() {
        child_ = testsupport::ChildProcess::Fork([] {
            volatile unsigned long spin = 0;
            for (;;) {
                spin = spin + 1;
            }
            return 0;
        });
        return child_.Started();
    }
    void Stop() { child_ = {}; }

private:
    testsupport::ChildProcess child_;  // killed and reaped with this object
};

// The one-minute load average, or -1 when it cannot be read.
inline double LoadAverage() {
    double load[1] = {-1};
    return ::getloadavg(load, 1) == 1 ? load[0] : -1;
}

inline void PrintConditions(bool busy) {
    long cores = ::sysconf(_SC_NPROCESSORS_ONLN);
    std::printf("conditions: %ld cores, load average %.2f, %s\n", cores, LoadAverage(),
                busy ? "one core kept busy by a spinning process (--busy)"
                     : "no background load of the benchmark's own");
}

// Prints a goal with "met" or "not met"; returns whether it was met.
inline bool Goal(const char* what, bool met) {
    std::printf("  %-66s %s\n", what, met ? "met" : "not met");
    return met;
}

// camora-camsim as a child process, told what to do on its standard input, so
// that its CPU is not counted in ProcessUsage.
struct CameraProcess {
    testsupport::ChildProcess child;
    std::string line;

    void Tell(const std::string& command) const {
        if (!child.Write(command + "\n")) {
            Die("cannot control the simulator");
        }
    }
    void End() { child.Stop(testsupport::kPatience); }
};

// Starts camora-camsim from beside this program with its line at
// `folder`/camera, polled every 500 ms as a real camera is, on a link of
// `rate` bytes a second and `latencyMs` one way; returns once the line exists.
inline CameraProcess SpawnCamera(const std::filesystem::path& folder, uint32_t rate,
                                 uint32_t latencyMs) {
    using namespace std::chrono_literals;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
    const std::string program = (self.parent_path() / "camora-camsim").string();
    CameraProcess cam;
    cam.line = (folder / "camera").string();
    cam.child = testsupport::ChildProcess::Spawn(
        {program, "--link", cam.line, "--poll-ms", "500", "--rate", std::to_string(rate),
         "--latency", std::to_string(latencyMs)},
        testsupport::SpawnOptions()
            .In(testsupport::Stream::Pipe())
            .Out(testsupport::Stream::Null())
            .Err(testsupport::Stream::Null()));
    if (!cam.child.Started()) {
        Die(cam.child.Error());
    }
    if (!testsupport::PumpUntil([&] { return std::filesystem::exists(cam.line); }, 10s)) {
        Die("the simulator made no line");
    }
    return cam;
}

}  // namespace bench

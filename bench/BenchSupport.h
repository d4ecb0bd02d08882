// What the benchmarks share: medians and ranges over runs, the process's CPU
// time and context switches, a second core kept busy on demand, the load of
// the machine, and the one way a figure is judged against its goal.
#pragma once

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace bench {

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
    BusyCore() = default;
    BusyCore(const BusyCore&) = delete;
    BusyCore& operator=(const BusyCore&) = delete;
    ~BusyCore() { Stop(); }

    // Call before any thread is started: the child is a copy of this process.
    bool Start() {
        pid_ = ::fork();
        if (pid_ == 0) {
            volatile unsigned long spin = 0;
            for (;;) {
                spin = spin + 1;
            }
        }
        return pid_ > 0;
    }
    void Stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            int status = 0;
            ::waitpid(pid_, &status, 0);
            pid_ = -1;
        }
    }

private:
    pid_t pid_ = -1;
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

}  // namespace bench

// The benchmarks' command lines, read one way: options with a number
// ("--seconds 2"), flags ("--busy") and at most one number of its own
// ("camora-startup-bench 20"). A word it does not know, an option without its
// value, or a value that is not wholly a number fails the reading.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace testsupport {

class BenchOptions {
public:
    // `usage` is the line printed when the reading fails ("usage: ...").
    explicit BenchOptions(std::string usage) : usage_(std::move(usage)) {}

    BenchOptions& Number(std::string name, double* into);
    BenchOptions& Number(std::string name, int* into);
    BenchOptions& Number(std::string name, uint32_t* into);
    BenchOptions& Flag(std::string name, bool* into);
    // One of `values`, as the word after the option's name.
    BenchOptions& Choice(std::string name, std::vector<std::string> values, std::string* into);
    // The one word without a name.
    BenchOptions& Positional(int* into);

    // Reads argv[1] on; false when it cannot (what was read so far is set).
    bool Parse(int argc, const char* const* argv) const;
    // Parse, and when it fails print the usage to standard error and end with 2.
    void ParseOrExit(int argc, const char* const* argv) const;
    // Ends so as well, for values out of their range.
    [[noreturn]] void Usage() const;

private:
    struct Option {
        std::string name;  // empty for the positional one
        bool takesValue;
        std::function<bool(const std::string&)> set;
    };
    std::string usage_;
    std::vector<Option> options_;
};

}  // namespace testsupport

#include "testkit/BenchOptions.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace testsupport {

namespace {

bool WholeDouble(const std::string& text, double* out) {
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || errno != 0) {
        return false;
    }
    *out = v;
    return true;
}

bool WholeLong(const std::string& text, long* out) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || end != text.c_str() + text.size() || errno != 0) {
        return false;
    }
    *out = v;
    return true;
}

bool IntIn(const std::string& text, long low, long high, long* out) {
    return WholeLong(text, out) && *out >= low && *out <= high;
}

}  // namespace

BenchOptions& BenchOptions::Number(std::string name, double* into) {
    options_.push_back(
        {std::move(name), true, [into](const std::string& v) { return WholeDouble(v, into); }});
    return *this;
}

BenchOptions& BenchOptions::Number(std::string name, int* into) {
    options_.push_back(
        {std::move(name), true, [into](const std::string& v) {
             long n = 0;
             if (!IntIn(v, std::numeric_limits<int>::min(), std::numeric_limits<int>::max(), &n)) {
                 return false;
             }
             *into = static_cast<int>(n);
             return true;
         }});
    return *this;
}

BenchOptions& BenchOptions::Number(std::string name, uint32_t* into) {
    options_.push_back({std::move(name), true, [into](const std::string& v) {
                            long n = 0;
                            if (!IntIn(v, 0, std::numeric_limits<uint32_t>::max(), &n)) {
                                return false;
                            }
                            *into = static_cast<uint32_t>(n);
                            return true;
                        }});
    return *this;
}

BenchOptions& BenchOptions::Flag(std::string name, bool* into) {
    options_.push_back({std::move(name), false, [into](const std::string&) {
                            *into = true;
                            return true;
                        }});
    return *this;
}

BenchOptions& BenchOptions::Choice(std::string name, std::vector<std::string> values,
                                   std::string* into) {
    options_.push_back({std::move(name), true, [values, into](const std::string& v) {
                            if (std::find(values.begin(), values.end(), v) == values.end()) {
                                return false;
                            }
                            *into = v;
                            return true;
                        }});
    return *this;
}

BenchOptions& BenchOptions::Positional(int* into) {
    Number("", into);
    return *this;
}

bool BenchOptions::Parse(int argc, const char* const* argv) const {
    bool positionalTaken = false;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        const Option* match = nullptr;
        for (const Option& o : options_) {
            if (!o.name.empty() && o.name == word) {
                match = &o;
            }
        }
        if (match == nullptr) {
            // Not an option: the positional number, once.
            for (const Option& o : options_) {
                if (o.name.empty() && !positionalTaken && !word.starts_with("--")) {
                    match = &o;
                }
            }
            if (match == nullptr || !match->set(word)) {
                return false;
            }
            positionalTaken = true;
            continue;
        }
        if (!match->takesValue) {
            match->set({});
        } else if (i + 1 >= argc || !match->set(argv[++i])) {
            return false;
        }
    }
    return true;
}

void BenchOptions::Usage() const {
    std::fprintf(stderr, "%s\n", usage_.c_str());
    std::exit(2);
}

void BenchOptions::ParseOrExit(int argc, const char* const* argv) const {
    if (!Parse(argc, argv)) {
        Usage();
    }
}

}  // namespace testsupport

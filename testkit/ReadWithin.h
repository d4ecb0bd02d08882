// Reading what a peer sends on a descriptor, with a deadline: the tests'
// side of pseudo-terminals, socket pairs and the simulator's line.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace testsupport {

enum class ReadAmount {
    Exactly,  // never more than asked: the rest stays for the next read
    AtLeast,  // whatever has arrived once there is enough
};

// Reads from `fd` until `count` bytes have come, the line ends (hang-up, end
// of file, an error) or `timeout` passes, and returns what came. With
// ReadAmount::AtLeast the last read may take more than `count`.
std::vector<uint8_t> ReadWithin(int fd, size_t count, std::chrono::milliseconds timeout,
                                ReadAmount amount);

}  // namespace testsupport

// The login manager for tests: python-dbusmock's logind template on a private
// system bus of its own, both started here and stopped by the destructor. Its
// Inhibit hands out a pipe's end and forgets the lock when every copy of that
// end is closed, as logind does, so ListInhibitors shows what is held.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "testkit/ChildProcess.h"
#include "testkit/Processes.h"

namespace testsupport {

struct InhibitorLock {
    std::string what;
    std::string who;
    std::string why;
    std::string mode;
    friend bool operator==(const InhibitorLock&, const InhibitorLock&) = default;
};

class MockLogind {
public:
    MockLogind();
    ~MockLogind();
    MockLogind(const MockLogind&) = delete;
    MockLogind& operator=(const MockLogind&) = delete;

    // Empty when it runs; else why not (python3-dbusmock missing, ...).
    const std::string& Unavailable() const { return unavailable_; }
    // The locks held now, in the order they were taken.
    std::vector<InhibitorLock> Inhibitors() const;
    // Waits until the locks held are `wanted`; false when that never came.
    bool WaitForInhibitors(const std::vector<InhibitorLock>& wanted) const;

private:
    std::string dir_;
    std::string unavailable_;
    std::unique_ptr<PrivateSystemBus> bus_;
    ChildProcess mock_;
};

// How the test output shows a lock.
void PrintTo(const InhibitorLock& lock, std::ostream* os);

}  // namespace testsupport

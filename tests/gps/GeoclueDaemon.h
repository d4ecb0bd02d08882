// The real GeoClue 2 daemon for tests, with everything it needs and nothing
// of the machine's: a private system bus of its own (dbus-daemon), the daemon
// in a private mount namespace with a test configuration bound over
// /etc/geoclue/geoclue.conf (it reads no other file), a location agent
// (geoclue_agent.py; the daemon lets no client in before one registers) and
// the NMEA socket it reads, served here. DBUS_SYSTEM_BUS_ADDRESS names the
// private bus while the object lives. Needs root (the mount).
#pragma once

#include <memory>
#include <set>
#include <string>
#include <thread>

#include "platform/kernel/Protected.h"
#include "testkit/ChildProcess.h"
#include "testkit/Processes.h"

namespace geocluetest {

// What the NMEA socket sends, twice a second: a GGA and an RMC sentence.
struct Feed {
    bool silent = false;     // nothing at all (the connection stays open)
    int ageSeconds = 0;      // time stamps this far behind the clock
    double hdop = 0.9;       // horizontal dilution: GeoClue derives the accuracy from it
    double latitude = 35.5;  // degrees
    double longitude = -139.25;
};

class GeoclueDaemon {
public:
    // With `start` false only the bus comes up: the daemon is absent.
    explicit GeoclueDaemon(bool start = true);
    ~GeoclueDaemon();
    GeoclueDaemon(const GeoclueDaemon&) = delete;
    GeoclueDaemon& operator=(const GeoclueDaemon&) = delete;

    // Empty when it runs; else why not (not installed, cannot mount, ...).
    const std::string& Unavailable() const { return unavailable_; }
    // The daemon's own messages, for a failure's report.
    std::string Log() const;

    void SetFeed(const Feed& feed);
    // The times of day ("hhmmss") the socket has sent so far.
    std::set<std::string> SentTimes();
    // Ends the daemon (as a crash or an update would) and waits for it.
    void Kill();

private:
    bool StartDaemon();
    void ServeNmea();

    std::string dir_;
    std::string unavailable_;
    std::unique_ptr<testsupport::PrivateSystemBus> bus_;
    testsupport::ChildProcess daemon_;
    testsupport::ChildProcess agent_;
    int listener_ = -1;
    int wake_ = -1;
    std::thread nmea_;
    platform::Protected<Feed> feed_;
    platform::Protected<std::set<std::string>> sent_;
};

}  // namespace geocluetest

#include "tests/gps/GeoclueDaemon.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "testkit/Processes.h"
#include "testkit/PumpUntil.h"
#include "testkit/SourceDir.h"
#include "tests/gps/NmeaText.h"

namespace geocluetest {
namespace {

using testsupport::ChildProcess;
using testsupport::SpawnOptions;
using testsupport::Stream;

constexpr std::chrono::seconds kGrace{5};

constexpr const char* kDaemon = "/usr/libexec/geoclue";

void Write(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}

// "ddmm.mmmm,H" for a latitude, "dddmm.mmmm,H" for a longitude.
std::string Coordinate(double degrees, bool latitude) {
    const double a = degrees < 0 ? -degrees : degrees;
    const int d = static_cast<int>(a);
    char text[32];
    std::snprintf(text, sizeof text, latitude ? "%02d%07.4f,%c" : "%03d%07.4f,%c", d,
                  (a - d) * 60.0, latitude ? (degrees < 0 ? 'S' : 'N') : (degrees < 0 ? 'W' : 'E'));
    return text;
}

}  // namespace

GeoclueDaemon::GeoclueDaemon(bool start) {
    feed_.Create();
    sent_.Create();
    char pattern[] = "/tmp/camora-geoclue-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    dir_ = pattern;
    bus_ = std::make_unique<testsupport::PrivateSystemBus>(dir_);
    if (!bus_->running()) {
        unavailable_ = "dbus-daemon did not start (scripts/setup installs dbus-daemon)";
        return;
    }
    if (start && !StartDaemon()) {
        agent_.Stop(kGrace);
        daemon_.Stop(kGrace);
    }
}

bool GeoclueDaemon::StartDaemon() {
    if (::access(kDaemon, X_OK) != 0) {
        unavailable_ = std::string(kDaemon) + " is missing (scripts/setup installs geoclue-2.0)";
        return false;
    }
    const std::string socket = dir_ + "/nmea.sock";
    listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::snprintf(a.sun_path, sizeof a.sun_path, "%s", socket.c_str());
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listener_, 4) != 0) {
        throw std::runtime_error("cannot serve the NMEA socket");
    }
    wake_ = ::eventfd(0, EFD_CLOEXEC);
    nmea_ = std::thread([this] { ServeNmea(); });
    // Only the satellite receiver behind the socket: no network guesses, no
    // modem, and no service discovery besides (avahi is not running).
    Write(dir_ + "/geoclue.conf",
          "[agent]\nwhitelist=geoclue-demo-agent\n"
          "[network-nmea]\nenable=true\nnmea-socket=" +
              socket +
              "\n"
              "[3g]\nenable=false\n[cdma]\nenable=false\n[modem-gps]\nenable=false\n"
              "[wifi]\nenable=false\n[compass]\nenable=false\n"
              "[camora-controller]\nallowed=true\nsystem=false\nusers=\n");
    daemon_ = ChildProcess::Spawn(
        {"unshare", "-m", "sh", "-c",
         "mount --bind \"$0\" /etc/geoclue/geoclue.conf && exec \"$1\" --timeout=0",
         dir_ + "/geoclue.conf", kDaemon},
        SpawnOptions()
            .In(Stream::Null())
            .Out(Stream::Null())
            .Err(Stream::Append(dir_ + "/geoclue.log"))
            .SearchPath());
    // A daemon that cannot start (no right to mount, say) ends at once: no
    // need to wait the whole time for its name then.
    const bool up =
        daemon_.Started() &&
        testsupport::PumpUntil(
            [&] { return !daemon_.Running() || bus_->HasOwner("org.freedesktop.GeoClue2"); },
            std::chrono::milliseconds(20000)) &&
        daemon_.Running();
    if (!up) {
        unavailable_ =
            "the GeoClue daemon did not start (it needs root for its private mount):\n" + Log();
        return false;
    }
    agent_ = ChildProcess::Spawn(
        {testsupport::kSystemPython, testsupport::SourceDir() + "/tests/gps/geoclue_agent.py"},
        SpawnOptions()
            .In(Stream::Null())
            .Out(Stream::Pipe())
            .Err(Stream::Append(dir_ + "/agent.log")));
    const std::string ready =
        agent_.Started() ? agent_.ReadOutputLine(std::chrono::milliseconds(20000)) : "";
    if (ready != "ready") {
        throw std::runtime_error("the location agent did not register: " + ready);
    }
    return true;
}

GeoclueDaemon::~GeoclueDaemon() {
    agent_.Stop(kGrace);
    daemon_.Stop(kGrace);
    if (nmea_.joinable()) {
        ::eventfd_write(wake_, 1);
        nmea_.join();
    }
    if (wake_ >= 0) {
        ::close(wake_);
    }
    if (listener_ >= 0) {
        ::close(listener_);
    }
    bus_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::string GeoclueDaemon::Log() const {
    std::ifstream in(dir_ + "/geoclue.log");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void GeoclueDaemon::SetFeed(const Feed& feed) {
    feed_.With([&](Feed& f) { f = feed; });
}

std::set<std::string> GeoclueDaemon::SentTimes() {
    return sent_.Get();
}

void GeoclueDaemon::Kill() {
    daemon_.Stop(kGrace);
}

void GeoclueDaemon::ServeNmea() {
    std::vector<int> clients;
    for (;;) {
        pollfd fds[2] = {{wake_, POLLIN, 0}, {listener_, POLLIN, 0}};
        const int n = ::poll(fds, 2, 500);
        if (n > 0 && (fds[0].revents & POLLIN) != 0) {
            break;
        }
        if (n > 0 && (fds[1].revents & POLLIN) != 0) {
            const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0) {
                clients.push_back(client);
            }
        }
        const Feed feed = feed_.Get();
        if (feed.silent || clients.empty()) {
            continue;
        }
        const std::time_t when = std::time(nullptr) - feed.ageSeconds;
        std::tm utc{};
        ::gmtime_r(&when, &utc);
        char time[16];
        char date[8];
        std::strftime(time, sizeof time, "%H%M%S", &utc);
        std::strftime(date, sizeof date, "%d%m%y", &utc);
        char hdop[16];
        std::snprintf(hdop, sizeof hdop, "%.1f", feed.hdop);
        const std::string lat = Coordinate(feed.latitude, true);
        const std::string lon = Coordinate(feed.longitude, false);
        const std::string text =
            gpstest::WithChecksum("GPGGA," + std::string(time) + ".00," + lat + "," + lon +
                                  ",1,08," + hdop + ",10.0,M,0.0,M,,") +
            gpstest::WithChecksum("GPRMC," + std::string(time) + ".00,A," + lat + "," + lon +
                                  ",0.0,0.0," + date + ",,");
        sent_.With([&](std::set<std::string>& sent) { sent.insert(time); });
        for (auto it = clients.begin(); it != clients.end();) {
            if (::send(*it, text.data(), text.size(), MSG_NOSIGNAL) < 0) {
                ::close(*it);
                it = clients.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (const int client : clients) {
        ::close(client);
    }
}

}  // namespace geocluetest

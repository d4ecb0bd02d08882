#include "tests/gps/GeoclueDaemon.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
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

#include "tests/support/PumpUntil.h"
#include "tests/support/SourceDir.h"

extern char** environ;

namespace geocluetest {
namespace {

constexpr const char* kDaemon = "/usr/libexec/geoclue";
constexpr const char* kPython = "/usr/bin/python3";  // Debian's: python3-dbus is for it

// Runs `argv` with stdout to `out` (or /dev/null when -1) and stderr to `err`
// (a file, or /dev/null when empty).
pid_t Spawn(const std::vector<std::string>& argv, int out, const std::string& err = {}) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (out >= 0) {
        posix_spawn_file_actions_adddup2(&actions, out, 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    }
    posix_spawn_file_actions_addopen(&actions, 2, err.empty() ? "/dev/null" : err.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0600);
    std::vector<char*> args;
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

void Reap(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

void Stop(pid_t& pid) {
    if (pid > 0) {
        ::kill(pid, SIGTERM);
        Reap(pid);
        pid = -1;
    }
}

// One line from `fd`, within `timeoutMs`; empty when none came.
std::string ReadLine(int fd, int timeoutMs) {
    std::string line;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) {
            continue;
        }
        char c = 0;
        if (::read(fd, &c, 1) != 1) {
            break;
        }
        if (c == '\n') {
            return line;
        }
        line += c;
    }
    return {};
}

void Write(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}

bool NameHasOwner(const char* name) {
    sd_bus* bus = nullptr;
    int has = 0;
    if (sd_bus_open_system(&bus) >= 0) {
        sd_bus_error error{};
        sd_bus_message* reply = nullptr;
        if (sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                               "org.freedesktop.DBus", "NameHasOwner", &error, &reply, "s",
                               name) >= 0) {
            sd_bus_message_read(reply, "b", &has);
        }
        sd_bus_message_unref(reply);
        sd_bus_error_free(&error);
    }
    sd_bus_flush_close_unref(bus);
    return has != 0;
}

std::string WithChecksum(const std::string& body) {
    unsigned sum = 0;
    for (const char c : body) {
        sum ^= static_cast<unsigned char>(c);
    }
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", sum);
    return "$" + body + tail;
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
    // A bus of the system kind that lets anyone own any name: the daemon runs
    // as root here, and its policy file names the machine's bus only.
    Write(dir_ + "/bus.conf",
          "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN\"\n"
          " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
          "<busconfig><type>system</type><listen>unix:dir=" +
              dir_ +
              "</listen><auth>EXTERNAL</auth>\n"
              "<policy context=\"default\"><allow send_destination=\"*\"/>"
              "<allow receive_sender=\"*\"/><allow own=\"*\"/>"
              "</policy></busconfig>\n");
    int pipe[2] = {-1, -1};
    if (::pipe2(pipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    bus_ = Spawn({"dbus-daemon", "--config-file=" + dir_ + "/bus.conf", "--nofork", "--nopidfile",
                  "--print-address=1"},
                 pipe[1]);
    ::close(pipe[1]);
    const std::string address = bus_ > 0 ? ReadLine(pipe[0], 10000) : "";
    ::close(pipe[0]);
    if (address.empty()) {
        unavailable_ = "dbus-daemon did not start (scripts/setup installs dbus-daemon)";
        return;
    }
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
    if (start && !StartDaemon()) {
        Stop(agent_);
        Stop(daemon_);
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
    daemon_ = Spawn({"unshare", "-m", "sh", "-c",
                     "mount --bind \"$0\" /etc/geoclue/geoclue.conf && exec \"$1\" --timeout=0",
                     dir_ + "/geoclue.conf", kDaemon},
                    -1, dir_ + "/geoclue.log");
    const bool up = daemon_ > 0 &&
                    testsupport::PumpUntil([] { return NameHasOwner("org.freedesktop.GeoClue2"); },
                                           std::chrono::milliseconds(20000));
    if (!up) {
        unavailable_ =
            "the GeoClue daemon did not start (it needs root for its private mount):\n" + Log();
        return false;
    }
    int out[2] = {-1, -1};
    if (::pipe2(out, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    agent_ = Spawn({kPython, testsupport::SourceDir() + "/tests/gps/geoclue_agent.py"}, out[1],
                   dir_ + "/agent.log");
    ::close(out[1]);
    const std::string ready = agent_ > 0 ? ReadLine(out[0], 20000) : "";
    ::close(out[0]);
    if (ready != "ready") {
        throw std::runtime_error("the location agent did not register: " + ready);
    }
    return true;
}

GeoclueDaemon::~GeoclueDaemon() {
    Stop(agent_);
    Stop(daemon_);
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
    Stop(bus_);
    ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
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
    Stop(daemon_);
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
        const std::string text = WithChecksum("GPGGA," + std::string(time) + ".00," + lat + "," +
                                              lon + ",1,08," + hdop + ",10.0,M,0.0,M,,") +
                                 WithChecksum("GPRMC," + std::string(time) + ".00,A," + lat + "," +
                                              lon + ",0.0,0.0," + date + ",,");
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

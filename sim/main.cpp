// camora-camsim: the camcorder simulator as a program, for the demo and for
// scripts. Serves until SIGINT, SIGTERM or a "quit" command.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "platform/sys/Syscall.h"
#include "sim/Camcorder.h"
#include "sim/CommandLine.h"
#include "sim/Control.h"
#include "sim/ControlServer.h"

namespace {

int g_quitPipe[2] = {-1, -1};

void RequestQuit() {
    const char b = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_quitPipe[1], &b, 1);
}

void OnSignal(int) {
    RequestQuit();
}

void WriteOut(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    sim::CommandLine cl;
    std::string error;
    if (!sim::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), &cl, &error)) {
        std::fprintf(stderr, "camora-camsim: %s (try --help)\n", error.c_str());
        return 2;
    }
    if (cl.help) {
        WriteOut(sim::UsageText());
        return 0;
    }
    if (::pipe2(g_quitPipe, O_CLOEXEC) != 0) {
        std::perror("camora-camsim: pipe");
        return 1;
    }
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    ::sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    sim::Camcorder cam(cl.options);
    cam.SetGpsCommandStatus(static_cast<uint16_t>(cl.gpsCommandStatus));
    cam.SetGpsSentenceStatus(static_cast<uint16_t>(cl.gpsSentenceStatus));
    for (const sim::Fault& f : cl.faults) {
        cam.AddFault(f);
    }
    if (!cam.Start()) {
        std::fprintf(stderr, "camora-camsim: cannot open a pseudo-terminal\n");
        return 1;
    }
    for (const std::string& link : cl.links) {
        if (!cam.LinkAs(link)) {
            std::fprintf(stderr, "camora-camsim: cannot make the link %s\n", link.c_str());
            return 1;
        }
    }
    for (const std::string& name : cl.devices) {
        if (!cam.LinkAsDevice(name)) {
            std::fprintf(stderr, "camora-camsim: cannot make the device link %s\n", name.c_str());
            return 1;
        }
    }
    sim::ControlServer control(cam, RequestQuit);
    if (!cl.controlPath.empty() && !control.Start(cl.controlPath)) {
        std::fprintf(stderr, "camora-camsim: cannot listen at %s\n", cl.controlPath.c_str());
        return 1;
    }
    std::fprintf(stderr, "camora-camsim: serving on %s\n", cam.SlavePath().c_str());

    bool readStdin = cl.readStdin;
    std::string pending;
    for (;;) {
        pollfd fds[2] = {{g_quitPipe[0], POLLIN, 0}, {readStdin ? 0 : -1, POLLIN, 0}};
        if (platform::sys::Call("poll", [&] { return ::poll(fds, 2, -1); }).Failed()) {
            break;
        }
        if (fds[0].revents != 0) {
            break;
        }
        if (fds[1].revents == 0) {
            continue;
        }
        char buffer[4096];
        const long n =
            platform::sys::Call("read", [&] { return ::read(0, buffer, sizeof buffer); }).result;
        if (n <= 0) {
            readStdin = false;  // end of input does not end the simulator
            continue;
        }
        pending.append(buffer, static_cast<size_t>(n));
        bool quit = false;
        size_t eol = 0;
        while (!quit && (eol = pending.find('\n')) != std::string::npos) {
            const sim::ControlReply reply = sim::RunControlCommand(cam, pending.substr(0, eol));
            pending.erase(0, eol + 1);
            WriteOut(reply.text);
            quit = reply.quit;
        }
        if (quit) {
            break;
        }
    }
    control.Stop();
    cam.Stop();
    if (!cl.recordPath.empty()) {
        std::ofstream record(cl.recordPath);
        record << sim::RunControlCommand(cam, "frames rx").text;
    }
    return 0;
}

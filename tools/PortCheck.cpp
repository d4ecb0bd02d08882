// Opens a pseudo-terminal pair, links it into a private device root as COM4,
// opens it through the platform's serial layer by its handset name and sends a
// camera-mode request across, reporting what each side saw and how long the
// handset-side reads took.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/fs/DeviceRoot.h"
#include "platform/serial/SerialPort.h"

int main() {
    char tmpl[] = "/tmp/camora-portcheck-XXXXXX";
    if (::mkdtemp(tmpl) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::filesystem::path root = tmpl;
    platform::OverrideDeviceRoot(root.string());
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        std::perror("posix_openpt");
        return 1;
    }
    std::filesystem::create_directories(root / "dev");
    std::filesystem::create_symlink(::ptsname(master), root / "dev" / "COM4");
    std::printf("pseudo-terminal %s linked as COM4: in %s\n", ::ptsname(master), tmpl);

    auto port = platform::SerialPort::Open(u"COM4:");
    if (!port) {
        std::fprintf(stderr, "could not open COM4:\n");
        return 1;
    }
    platform::SerialTimeouts t;
    t.readIntervalMs = platform::SerialTimeouts::kNoIntervalLimit;
    t.readTotalConstantMs = 200;
    t.writeTotalConstantMs = 1000;
    port->SetTimeouts(t);

    const unsigned char request[] = {0x00, 0x01, 0x00, 0x06, 0x11, 0x01};
    uint32_t written = 0;
    port->Write(request, sizeof request, &written);
    unsigned char seen[16] = {};
    pollfd p{master, POLLIN, 0};
    ::poll(&p, 1, 1000);
    const ssize_t n = ::read(master, seen, sizeof seen);
    std::printf("handset wrote %u bytes; camera side read %zd:", written, n);
    for (ssize_t i = 0; i < n; ++i) {
        std::printf(" %02X", seen[i]);
    }
    std::printf("\n");

    const unsigned char reply[] = {0x00, 0x01, 0x00, 0x0E, 0x21, 0x01, 0x00,
                                   0x00, 0x01, 0x01, 0x00, 0x00, 0x05, 0x00};
    if (::write(master, reply, sizeof reply) != static_cast<ssize_t>(sizeof reply)) {
        std::perror("write");
    }
    unsigned char buf[64];
    uint32_t got = 0;
    auto start = std::chrono::steady_clock::now();
    port->Read(buf, sizeof buf, &got);
    auto ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start);
    std::printf("handset read %u reply bytes in %.1f ms\n", got, ms.count());
    start = std::chrono::steady_clock::now();
    port->Read(buf, sizeof buf, &got);
    ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start);
    std::printf("idle read returned %u bytes after %.1f ms\n", got, ms.count());
    ::close(master);
    const bool ok = port->Read(buf, sizeof buf, &got);
    std::printf("after the camera side hung up, the read %s\n",
                ok ? "succeeded (wrong)" : "failed");
    port->Close();
    std::filesystem::remove_all(root);
    return ok ? 1 : 0;
}

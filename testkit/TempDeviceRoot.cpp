#include "testkit/TempDeviceRoot.h"

#include <stdlib.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/fs/DeviceRoot.h"

namespace testsupport {

TempDeviceRoot::TempDeviceRoot() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "camora-root-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = tmpl;
    // The device root's Bluetooth stand-ins, never the machine's own Bluetooth.
    WriteFile("bluetooth.conf", "backend=simulated\n");
    platform::OverrideDeviceRoot(path_);
    // A test never writes into the user's own pictures folder.
    platform::OverridePicturesFolder(Host(kPicturesRelative));
}

TempDeviceRoot::~TempDeviceRoot() {
    std::error_code ec;
    // Folders made read-only by a test must be writable again to be removed.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    }
    std::filesystem::remove_all(path_, ec);
}

void TempDeviceRoot::WriteFile(const std::string& relative, const std::string& contents) const {
    const std::filesystem::path p = Host(relative);
    std::filesystem::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
}

std::string TempDeviceRoot::ReadFile(const std::string& relative) const {
    std::ifstream in(Host(relative), std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool TempDeviceRoot::Exists(const std::string& relative) const {
    return std::filesystem::exists(Host(relative));
}

}  // namespace testsupport

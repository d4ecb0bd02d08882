#include "platform/bluez/PortNames.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>

#include "platform/fs/DeviceRoot.h"
#include "platform/sys/Syscall.h"

namespace platform::bluez {
namespace {

std::string Upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

std::mutex g_lock;
// Numbers handed out in this run, by device root and address: they hold even
// when the file cannot be written.
std::map<std::string, std::map<std::string, int>> g_assigned;

std::map<std::string, int> ReadPortsFile(const std::string& file) {
    std::map<std::string, int> ports;
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string address;
        int number = 0;
        if (words >> address >> number && number >= kFirstStablePort && number <= kLastStablePort &&
            address.size() == 17) {
            ports[Upper(address)] = number;
        }
    }
    return ports;
}

}  // namespace

int StablePortNumber(const std::string& address) {
    const std::string key = Upper(address);
    const std::string file = DeviceRootPath("bluetooth/ports");
    std::lock_guard lock(g_lock);
    auto& assigned = g_assigned[DeviceRoot()];
    for (const auto& [a, n] : ReadPortsFile(file)) {
        assigned.emplace(a, n);
    }
    if (auto it = assigned.find(key); it != assigned.end()) {
        return it->second;
    }
    std::set<int> used;
    for (const auto& [a, n] : assigned) {
        used.insert(n);
    }
    int number = kFirstStablePort;
    while (number <= kLastStablePort && used.count(number) != 0) {
        ++number;
    }
    if (number > kLastStablePort) {
        return -1;
    }
    assigned[key] = number;
    std::error_code ec;
    EnsureDeviceRoot();
    std::filesystem::create_directories(std::filesystem::path(file).parent_path(), ec);
    std::ofstream out(file, std::ios::trunc);
    for (const auto& [a, n] : assigned) {
        out << a << ' ' << n << '\n';
    }
    return number;
}

int RfcommBinding(const std::string& address, const std::string& ttyClass) {
    const std::string wanted = Upper(address);
    for (const std::string& name : sys::FolderEntries(ttyClass)) {
        if (name.rfind("rfcomm", 0) != 0 || name.size() == 6 ||
            name.find_first_not_of("0123456789", 6) != std::string::npos) {
            continue;
        }
        std::ifstream in(std::filesystem::path(ttyClass) / name / "address");
        std::string bound;
        if (in >> bound && Upper(bound) == wanted) {
            return std::atoi(name.c_str() + 6);
        }
    }
    return -1;
}

std::u16string PortName(int number) {
    const bool low = number < 10;
    std::u16string name = low ? u"COM" : u"BTC";
    for (char c : std::to_string(low ? number : number - 10)) {
        name += static_cast<char16_t>(c);
    }
    return name;
}

}  // namespace platform::bluez

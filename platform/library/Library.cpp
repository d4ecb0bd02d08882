#include "platform/library/Library.h"

#include <dlfcn.h>
#include <unistd.h>

#include <mutex>

#include "platform/text/Text.h"

namespace platform {
namespace {

std::mutex g_lock;
std::string g_folderOverride;

std::string ExecutableFolder() {
    std::string path(4096, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (n <= 0) {
        return ".";
    }
    path.resize(static_cast<size_t>(n));
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

bool EndsWithIgnoringCase(std::string_view text, std::string_view suffix) {
    if (text.size() < suffix.size()) {
        return false;
    }
    for (size_t i = 0; i < suffix.size(); ++i) {
        char c = text[text.size() - suffix.size() + i];
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
        if (c != suffix[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string LibraryFolder() {
    {
        std::lock_guard lock(g_lock);
        if (!g_folderOverride.empty()) {
            return g_folderOverride;
        }
    }
    return ExecutableFolder();
}

void OverrideLibraryFolder(std::string hostFolder) {
    std::lock_guard lock(g_lock);
    g_folderOverride = std::move(hostFolder);
}

std::string HostLibraryPathFor(std::u16string_view handsetName) {
    std::string base = Utf16ToUtf8(handsetName);
    // Only the file name counts: the handset looked the library up by name.
    if (const size_t sep = base.find_last_of("\\/"); sep != std::string::npos) {
        base.erase(0, sep + 1);
    }
    if (EndsWithIgnoringCase(base, ".dll")) {
        base.resize(base.size() - 4);
    }
    return LibraryFolder() + "/lib" + base + ".so";
}

std::unique_ptr<Library> Library::Load(std::u16string_view handsetName) {
    const std::string path = HostLibraryPathFor(handsetName);
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        return nullptr;
    }
    return std::unique_ptr<Library>(new Library(handle));
}

Library::~Library() {
    ::dlclose(handle_);
}

void* Library::FindExport(const char* name) const {
    if (name == nullptr) {
        return nullptr;
    }
    return ::dlsym(handle_, name);
}

}  // namespace platform

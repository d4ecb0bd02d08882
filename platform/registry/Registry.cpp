#include "platform/registry/Registry.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>

#include "platform/fs/FileSystem.h"
#include "platform/sys/Syscall.h"
#include "platform/text/Text.h"

namespace platform {
namespace {

char16_t FoldAscii(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

bool LessIgnoringCase(const std::u16string& a, const std::u16string& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const char16_t x = FoldAscii(a[i]);
        const char16_t y = FoldAscii(b[i]);
        if (x != y) {
            return x < y;
        }
    }
    if (a.size() != b.size()) {
        return a.size() < b.size();
    }
    return a < b;  // names that differ only in case keep a fixed order
}

class FolderTreeRegistry final : public RegistryView {
public:
    bool HasKey(RegistryRoot root, std::u16string_view path) override {
        struct stat st {};
        return ::stat(HostPath(root, path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }

    std::vector<std::u16string> Subkeys(RegistryRoot root, std::u16string_view path) override {
        std::vector<std::u16string> names;
        const std::string folder = HostPath(root, path);
        const std::string prefix = folder + "/";
        for (const std::string& host : sys::FolderEntries(folder)) {
            struct stat st {};
            if (::stat((prefix + host).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
                names.push_back(Utf8ToUtf16(host));
            }
        }
        std::sort(names.begin(), names.end(), LessIgnoringCase);
        return names;
    }

    std::optional<std::u16string> StringValue(RegistryRoot root, std::u16string_view path,
                                              std::u16string_view name) override {
        if (name.empty() || name.find_first_of(u"\\/") != std::u16string_view::npos) {
            return std::nullopt;
        }
        std::u16string handset(path);
        handset += u'\\';
        handset += name;
        const std::string file = HostPath(root, handset);
        struct stat st {};
        if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
            return std::nullopt;
        }
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            return std::nullopt;
        }
        std::ostringstream text;
        text << in.rdbuf();
        std::string bytes = text.str();
        while (!bytes.empty() && (bytes.back() == '\n' || bytes.back() == '\r')) {
            bytes.pop_back();
        }
        return Utf8ToUtf16(bytes);
    }

private:
    static std::string HostPath(RegistryRoot root, std::u16string_view path) {
        std::u16string handset = u"\\registry\\";
        switch (root) {
            case RegistryRoot::LocalMachine:
                handset += u"HKLM";
                break;
        }
        if (!path.empty()) {
            handset += u'\\';
            handset += path;
        }
        return HostPathFor(handset);
    }
};

std::mutex g_viewLock;
std::shared_ptr<RegistryView> g_view;
std::atomic<RegistryViewSource> g_defaultSource{nullptr};

std::shared_ptr<RegistryView> FolderTree() {
    // Never destroyed: keys are opened until the process ends.
    static const auto* tree = new std::shared_ptr<RegistryView>(MakeFolderTreeRegistry());
    return *tree;
}

// The view installed last, else the default source's, else the folder tree.
std::shared_ptr<RegistryView> CurrentView() {
    {
        std::lock_guard lock(g_viewLock);
        if (g_view) {
            return g_view;
        }
    }
    if (const RegistryViewSource source = g_defaultSource.load()) {
        if (auto view = source()) {
            return view;
        }
    }
    return FolderTree();
}

}  // namespace

std::shared_ptr<RegistryView> MakeFolderTreeRegistry() {
    return std::make_shared<FolderTreeRegistry>();
}

void SetRegistryView(std::shared_ptr<RegistryView> view) {
    std::lock_guard lock(g_viewLock);
    g_view = std::move(view);
}

void SetDefaultRegistryViewSource(RegistryViewSource source) {
    g_defaultSource.store(source);
}

std::unique_ptr<RegistryKey> RegistryKey::Open(RegistryRoot root, std::u16string_view path) {
    auto view = CurrentView();
    if (!view->HasKey(root, path)) {
        return nullptr;
    }
    return std::unique_ptr<RegistryKey>(
        new RegistryKey(std::move(view), root, std::u16string(path)));
}

RegistryResult RegistryKey::EnumSubkey(uint32_t index, char16_t* name, uint32_t* units) {
    if (!subkeys_) {
        subkeys_ = view_->Subkeys(root_, path_);
    }
    if (index >= subkeys_->size()) {
        return RegistryResult::NoMoreItems;
    }
    const std::u16string& found = (*subkeys_)[index];
    const uint32_t needed = static_cast<uint32_t>(found.size()) + 1;
    if (name == nullptr || *units < needed) {
        *units = needed;
        return RegistryResult::MoreData;
    }
    std::memcpy(name, found.c_str(), needed * sizeof(char16_t));
    *units = needed - 1;
    return RegistryResult::Ok;
}

RegistryResult RegistryKey::QueryString(std::u16string_view valueName, char16_t* data,
                                        uint32_t* units) {
    const auto value = view_->StringValue(root_, path_, valueName);
    if (!value) {
        return RegistryResult::NotFound;
    }
    const uint32_t needed = static_cast<uint32_t>(value->size()) + 1;
    if (data == nullptr) {
        *units = needed;
        return RegistryResult::Ok;
    }
    if (*units < needed) {
        *units = needed;
        return RegistryResult::MoreData;
    }
    std::memcpy(data, value->c_str(), needed * sizeof(char16_t));
    *units = needed;
    return RegistryResult::Ok;
}

}  // namespace platform

#include "platform/fs/FileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <optional>

#include "platform/fs/DeviceRoot.h"
#include "platform/sys/Syscall.h"
#include "platform/text/Text.h"

namespace platform {
namespace {

std::mutex g_faultLock;
struct Fault {
    FileError error = FileError::None;
    int count = 0;
    std::u16string pathSuffix;  // empty: any path
};
std::array<Fault, 5> g_faults{};  // guarded by g_faultLock

bool EndsWith(std::u16string_view text, std::u16string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// Takes one injected fault for the operation on `path`, if any is armed.
FileError TakeFault(FileOp op, std::u16string_view path) {
    std::lock_guard lock(g_faultLock);
    Fault& fault = g_faults[static_cast<size_t>(op)];
    if (fault.count > 0 && EndsWith(path, fault.pathSuffix)) {
        --fault.count;
        return fault.error;
    }
    return FileError::None;
}

FileError FromErrno(int e) {
    switch (e) {
        case ENOENT:
        case ENOTDIR:
            return FileError::NotFound;
        case EEXIST:
            return FileError::Exists;
        case EROFS:
        case EACCES:
        case EPERM:
            return FileError::WriteProtected;
        case ENOSPC:
        case EDQUOT:
            return FileError::DiskFull;
        default:
            return FileError::Other;
    }
}

void SetError(FileError* out, FileError value) {
    if (out != nullptr) {
        *out = value;
    }
}

char16_t Fold(char16_t c) {
    if (c >= u'A' && c <= u'Z') {
        return static_cast<char16_t>(c - u'A' + u'a');
    }
    if (c >= 0xFF21 && c <= 0xFF3A) {  // full-width Latin capitals
        return static_cast<char16_t>(c + 0x20);
    }
    return c;
}

bool SameNameIgnoringCase(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](char16_t x, char16_t y) { return Fold(x) == Fold(y); });
}

std::vector<std::u16string> SplitHandsetPath(std::u16string_view path) {
    std::vector<std::u16string> parts;
    std::u16string current;
    for (char16_t c : path) {
        if (c == u'\\' || c == u'/') {
            if (!current.empty()) {
                parts.push_back(std::move(current));
                current.clear();
            }
        } else {
            current += c;
        }
    }
    if (!current.empty()) {
        parts.push_back(std::move(current));
    }
    return parts;
}

// The entry of `folder` whose name equals `name` ignoring case (exact first).
std::string ResolveEntry(const std::string& folder, const std::u16string& name) {
    std::string exact = Utf16ToUtf8(name);
    struct stat st {};
    if (::lstat((folder + "/" + exact).c_str(), &st) == 0) {
        return exact;
    }
    for (std::string& entry : sys::FolderEntries(folder)) {
        if (SameNameIgnoringCase(Utf8ToUtf16(entry), name)) {
            return std::move(entry);
        }
    }
    return exact;
}

// The host folder that the first `count` parts start from, and how many of
// them it stands for.
struct Base {
    std::string host;
    size_t consumed = 0;
};
Base BaseFor(const std::vector<std::u16string>& parts, size_t count) {
    static const auto kPictures = SplitHandsetPath(kPicturesFolder);
    static const auto kHost = SplitHandsetPath(kHostFolder);
    const auto startsWith = [&](const std::vector<std::u16string>& prefix) {
        if (count < prefix.size()) {
            return false;
        }
        for (size_t i = 0; i < prefix.size(); ++i) {
            if (!SameNameIgnoringCase(parts[i], prefix[i])) {
                return false;
            }
        }
        return true;
    };
    if (startsWith(kPictures)) {
        return {PicturesFolder(), kPictures.size()};
    }
    if (startsWith(kHost)) {
        return {std::string(), kHost.size()};  // the host's root
    }
    return {DeviceRoot(), 0};
}

std::string HostFolderOf(const std::vector<std::u16string>& parts, size_t count) {
    const Base base = BaseFor(parts, count);
    std::string host = base.host;
    for (size_t i = base.consumed; i < count; ++i) {
        const std::string entry = ResolveEntry(host.empty() ? "/" : host, parts[i]);
        host += '/';
        host += entry;
    }
    return host.empty() ? "/" : host;
}

// The rest of `path` below `folder` ("" for the folder itself), or nullopt.
std::optional<std::string_view> Below(std::string_view path, std::string_view folder) {
    while (folder.size() > 1 && folder.back() == '/') {
        folder.remove_suffix(1);
    }
    if (folder.empty() || path.substr(0, folder.size()) != folder) {
        return std::nullopt;
    }
    std::string_view rest = path.substr(folder.size());
    if (!rest.empty() && rest.front() != '/' && folder != "/") {
        return std::nullopt;
    }
    while (!rest.empty() && rest.front() == '/') {
        rest.remove_prefix(1);
    }
    return rest;
}

// `folder` (a handset path) with the components of the host path `rest`.
std::u16string JoinHandset(std::u16string_view folder, std::string_view rest) {
    std::u16string out(folder);
    while (!out.empty() && out.back() == u'\\') {
        out.pop_back();
    }
    size_t pos = 0;
    while (pos < rest.size()) {
        size_t end = rest.find('/', pos);
        if (end == std::string_view::npos) {
            end = rest.size();
        }
        if (end > pos) {
            out += u'\\';
            out += Utf8ToUtf16(rest.substr(pos, end - pos));
        }
        pos = end + 1;
    }
    return out.empty() ? std::u16string(u"\\") : out;
}

}  // namespace

std::u16string HandsetPathFor(std::string_view hostPath) {
    if (const auto rest = Below(hostPath, PicturesFolder())) {
        return JoinHandset(kPicturesFolder, *rest);
    }
    if (const auto rest = Below(hostPath, DeviceRoot())) {
        return JoinHandset(u"", *rest);
    }
    return JoinHandset(kHostFolder, hostPath);
}

std::string HostPathFor(std::u16string_view handsetPath) {
    const auto parts = SplitHandsetPath(handsetPath);
    return HostFolderOf(parts, parts.size());
}

std::unique_ptr<File> File::Open(std::u16string_view handsetPath, FileAccess access,
                                 FileDisposition disposition, FileError* error) {
    SetError(error, FileError::None);
    if (const FileError fault = TakeFault(FileOp::Open, handsetPath); fault != FileError::None) {
        SetError(error, fault);
        return nullptr;
    }
    int flags = O_CLOEXEC;
    switch (access) {
        case FileAccess::Read:
            flags |= O_RDONLY;
            break;
        case FileAccess::Write:
            flags |= O_WRONLY;
            break;
        case FileAccess::ReadWrite:
            flags |= O_RDWR;
            break;
    }
    switch (disposition) {
        case FileDisposition::OpenExisting:
            break;
        case FileDisposition::CreateNew:
            flags |= O_CREAT | O_EXCL;
            break;
        case FileDisposition::CreateAlways:
            flags |= O_CREAT | O_TRUNC;
            break;
    }
    // The user's own files: the umask decides who else may read them.
    const int fd = ::open(HostPathFor(handsetPath).c_str(), flags, 0666);
    if (fd < 0) {
        SetError(error, FromErrno(errno));
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        SetError(error, FileError::Other);
        return nullptr;
    }
    return std::unique_ptr<File>(new File(fd, handsetPath));
}

File::~File() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool File::Read(void* buffer, uint32_t count, uint32_t* got) {
    *got = 0;
    if (const FileError fault = TakeFault(FileOp::Read, path_); fault != FileError::None) {
        lastError_ = fault;
        return false;
    }
    auto* bytes = static_cast<char*>(buffer);
    while (*got < count) {
        const sys::Outcome o =
            sys::Call("read", [&] { return ::read(fd_, bytes + *got, count - *got); });
        if (o.Failed()) {
            lastError_ = FromErrno(o.error);
            return false;
        }
        if (o.result == 0) {
            break;
        }
        *got += static_cast<uint32_t>(o.result);
    }
    return true;
}

bool File::Write(const void* buffer, uint32_t count, uint32_t* written) {
    *written = 0;
    if (const FileError fault = TakeFault(FileOp::Write, path_); fault != FileError::None) {
        lastError_ = fault;
        return false;
    }
    const auto* bytes = static_cast<const char*>(buffer);
    while (*written < count) {
        const sys::Outcome o =
            sys::Call("write", [&] { return ::write(fd_, bytes + *written, count - *written); });
        if (o.result <= 0) {
            lastError_ = o.Failed() ? FromErrno(o.error) : FileError::Other;
            return false;
        }
        *written += static_cast<uint32_t>(o.result);
    }
    return true;
}

bool File::Close() {
    if (fd_ < 0) {
        return true;
    }
    bool ok = true;
    if (const FileError fault = TakeFault(FileOp::Close, path_); fault != FileError::None) {
        lastError_ = fault;
        ok = false;
    } else if (::fsync(fd_) != 0 && errno != EINVAL && errno != EROFS) {
        lastError_ = FromErrno(errno);
        ok = false;
    }
    if (::close(fd_) != 0 && ok) {
        lastError_ = FromErrno(errno);
        ok = false;
    }
    fd_ = -1;
    return ok;
}

namespace {

std::atomic<void (*)(uint64_t)> g_writeHook{nullptr};
constexpr uint32_t kHookedPiece = 4096;

std::string FolderOf(const std::string& host) {
    const size_t slash = host.rfind('/');
    return slash == std::string::npos ? std::string(".")
           : slash == 0               ? std::string("/")
                                      : host.substr(0, slash);
}

}  // namespace

void SetReplacingWriteHook(void (*hook)(uint64_t written)) {
    g_writeHook.store(hook);
}

std::unique_ptr<ReplacingFile> ReplacingFile::Create(std::u16string_view handsetPath, bool replace,
                                                     FileError* error) {
    SetError(error, FileError::None);
    if (const FileError fault = TakeFault(FileOp::Open, handsetPath); fault != FileError::None) {
        SetError(error, fault);
        return nullptr;
    }
    std::string host = HostPathFor(handsetPath);
    struct stat st {};
    if (::stat(host.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            SetError(error, FileError::Other);
            return nullptr;
        }
        if (!replace) {
            SetError(error, FileError::Exists);
            return nullptr;
        }
    }
    // One temporary name per final name: what a killed writer left is
    // truncated and used again by the next save of that name.
    std::string temp = host + ".part";
    const sys::Outcome opened = sys::Call("open", [&] {
        return ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
    });
    if (opened.Failed()) {
        SetError(error, FromErrno(opened.error));
        return nullptr;
    }
    return std::unique_ptr<ReplacingFile>(new ReplacingFile(
        static_cast<int>(opened.result), handsetPath, std::move(host), std::move(temp), replace));
}

ReplacingFile::ReplacingFile(int fd, std::u16string_view path, std::string host, std::string temp,
                             bool replace)
    : fd_(fd), path_(path), host_(std::move(host)), temp_(std::move(temp)), replace_(replace) {}

ReplacingFile::~ReplacingFile() {
    Discard();
}

void ReplacingFile::Discard() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temp_.empty()) {
        ::unlink(temp_.c_str());
        temp_.clear();
    }
}

bool ReplacingFile::Write(const void* buffer, uint32_t count, uint32_t* written) {
    *written = 0;
    if (fd_ < 0) {
        lastError_ = FileError::Other;
        return false;
    }
    if (const FileError fault = TakeFault(FileOp::Write, path_); fault != FileError::None) {
        lastError_ = fault;
        return false;
    }
    const auto* bytes = static_cast<const char*>(buffer);
    void (*const hook)(uint64_t) = g_writeHook.load();
    while (*written < count) {
        const uint32_t piece =
            hook != nullptr ? std::min(kHookedPiece, count - *written) : count - *written;
        const sys::Outcome o =
            sys::Call("write", [&] { return ::write(fd_, bytes + *written, piece); });
        if (o.result <= 0) {
            lastError_ = o.Failed() ? FromErrno(o.error) : FileError::Other;
            return false;
        }
        *written += static_cast<uint32_t>(o.result);
        if (hook != nullptr) {
            hook(*written);
        }
    }
    return true;
}

bool ReplacingFile::Commit() {
    if (fd_ < 0 || temp_.empty()) {
        lastError_ = FileError::Other;
        return false;
    }
    const auto fail = [&](FileError e) {
        lastError_ = e;
        Discard();
        return false;
    };
    if (const FileError fault = TakeFault(FileOp::Close, path_); fault != FileError::None) {
        return fail(fault);
    }
    // A full disk may show itself only when the data goes out.
    if (::fsync(fd_) != 0 && errno != EINVAL && errno != EROFS) {
        return fail(FromErrno(errno));
    }
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) {
        return fail(FromErrno(errno));
    }
    if (const FileError fault = TakeFault(FileOp::Replace, path_); fault != FileError::None) {
        return fail(fault);
    }
    // Without replace, a file that took the name meanwhile is kept.
    const unsigned flags = replace_ ? 0u : RENAME_NOREPLACE;
    if (::renameat2(AT_FDCWD, temp_.c_str(), AT_FDCWD, host_.c_str(), flags) != 0) {
        return fail(FromErrno(errno));
    }
    temp_.clear();
    // The new name itself is on the medium only once its folder is.
    const int folder = ::open(FolderOf(host_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        if (::fsync(folder) != 0 && errno != EINVAL) {
            sys::Report("flushing a saved file's folder", sys::Outcome{"fsync", -1, errno});
        }
        ::close(folder);
    }
    return true;
}

bool MatchesPattern(std::u16string_view name, std::u16string_view pattern) {
    // Iterative wildcard match with one back-tracking point for the last `*`.
    size_t n = 0, p = 0, starP = std::u16string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == u'?' || Fold(pattern[p]) == Fold(name[n]))) {
            ++n;
            ++p;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            starP = p++;
            starN = n;
        } else if (starP != std::u16string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*') {
        ++p;
    }
    return p == pattern.size();
}

std::vector<std::u16string> FindFiles(std::u16string_view pattern) {
    auto parts = SplitHandsetPath(pattern);
    std::vector<std::u16string> names;
    if (parts.empty()) {
        return names;
    }
    const std::u16string leaf = parts.back();
    const std::string folder = HostFolderOf(parts, parts.size() - 1);
    for (const std::string& host : sys::FolderEntries(folder)) {
        std::u16string name = Utf8ToUtf16(host);
        if (MatchesPattern(name, leaf)) {
            names.push_back(std::move(name));
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool ReplaceFile(std::u16string_view from, std::u16string_view to, FileError* error) {
    SetError(error, FileError::None);
    if (const FileError fault = TakeFault(FileOp::Replace, to); fault != FileError::None) {
        SetError(error, fault);
        return false;
    }
    if (::rename(HostPathFor(from).c_str(), HostPathFor(to).c_str()) != 0) {
        SetError(error, FromErrno(errno));
        return false;
    }
    return true;
}

bool DeleteFile(std::u16string_view handsetPath) {
    return ::unlink(HostPathFor(handsetPath).c_str()) == 0;
}

bool CreateFolder(std::u16string_view handsetPath, FileError* error) {
    SetError(error, FileError::None);
    const auto parts = SplitHandsetPath(handsetPath);
    const Base base = BaseFor(parts, parts.size());
    std::string host = base.host.empty() ? "/" : base.host;
    if (host == DeviceRoot()) {
        EnsureDeviceRoot();
    } else {
        ::mkdir(host.c_str(), 0755);
    }
    for (size_t i = base.consumed; i < parts.size(); ++i) {
        const std::u16string& part = parts[i];
        const std::string entry = ResolveEntry(host, part);
        if (host == "/") {
            host.clear();
        }
        host += '/';
        host += entry;
        if (::mkdir(host.c_str(), 0755) != 0 && errno != EEXIST) {
            SetError(error, FromErrno(errno));
            return false;
        }
    }
    return true;
}

void InjectFileFault(FileOp op, FileError error, int count, std::u16string_view pathSuffix) {
    std::lock_guard lock(g_faultLock);
    g_faults[static_cast<size_t>(op)] = {error, count, std::u16string(pathSuffix)};
}

void ClearFileFaults() {
    std::lock_guard lock(g_faultLock);
    g_faults.fill({});
}

}  // namespace platform

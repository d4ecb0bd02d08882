// The handset's file system inside the device root: absolute handset paths
// with backslashes (UTF-16 on the program's side), files that are opened,
// created new or replaced, read and written, folder searches by pattern, and
// errors told apart the way the program reports them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class FileError { None, NotFound, Exists, WriteProtected, DiskFull, Other };

enum class FileAccess { Read, Write, ReadWrite };

enum class FileDisposition {
    OpenExisting,  // fails with NotFound when the file is not there
    CreateNew,     // fails with Exists when it is
    CreateAlways,  // creates, or truncates what is there
};

class File {
public:
    // Opens `handsetPath` (for example "\My Documents\a.jpg"). Folders along
    // the path match without regard to letter case, as on the handset; a new
    // file takes the name as given. Null on failure, with the reason in *error.
    static std::unique_ptr<File> Open(std::u16string_view handsetPath, FileAccess access,
                                      FileDisposition disposition, FileError* error = nullptr);
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Reads up to `count` bytes; *got is 0 at the end of the file.
    bool Read(void* buffer, uint32_t count, uint32_t* got);
    // Writes all `count` bytes or fails; *written says how many went out.
    bool Write(const void* buffer, uint32_t count, uint32_t* written);
    // Flushes to the medium and closes; false (with LastError) when that failed.
    bool Close();
    FileError LastError() const { return lastError_; }

private:
    File(int fd, std::u16string_view path) : fd_(fd), path_(path) {}
    int fd_;
    std::u16string path_;  // as opened, for injected faults
    FileError lastError_ = FileError::None;
};

// A file written under a temporary name in its folder and renamed over its
// final name once whole and on the medium, so that a writer killed or
// failing midway leaves the old file (or none) under that name, never a part.
class ReplacingFile {
public:
    // Starts the file `handsetPath`. Unless `replace`, fails with Exists when
    // the final name is taken (now or at Commit). Null on failure, with the
    // reason in *error.
    static std::unique_ptr<ReplacingFile> Create(std::u16string_view handsetPath, bool replace,
                                                 FileError* error = nullptr);
    ~ReplacingFile();  // removes the temporary file unless committed
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    // Appends all `count` bytes or fails; *written says how many went out.
    bool Write(const void* buffer, uint32_t count, uint32_t* written);
    // Flushes, closes, renames over the final name and flushes the folder.
    // On failure the temporary file is removed and LastError says why.
    bool Commit();
    FileError LastError() const { return lastError_; }

private:
    ReplacingFile(int fd, std::u16string_view path, std::string host, std::string temp,
                  bool replace);
    void Discard();
    int fd_;
    std::u16string path_;  // the final name as given, for injected faults
    std::string host_;     // the final name on the host
    std::string temp_;
    bool replace_;
    FileError lastError_ = FileError::None;
};

// Test support: called after each piece of a ReplacingFile's write with the
// bytes written so far; while set, writes go out in 4 KiB pieces (null: off).
void SetReplacingWriteHook(void (*hook)(uint64_t written));

// Where handset folders live on the host. Most are inside the device root;
// the handset's picture folder is the user's pictures folder (PicturesFolder),
// and every other host folder appears below kHostFolder with its host path,
// so that a folder the user picks anywhere has a handset path.
inline constexpr std::u16string_view kPicturesFolder =
    u"\\My Documents\\\u30DE\u30A4 \u30D4\u30AF\u30C1\u30E3\\";
inline constexpr std::u16string_view kHostFolder = u"\\Linux\\";

// The host path that a handset path stands for (folders resolved without
// regard to letter case where they exist).
std::string HostPathFor(std::u16string_view handsetPath);
// The handset path of an absolute host path, without a closing backslash:
// below the pictures folder it starts with kPicturesFolder, below the device
// root with a backslash, anywhere else with kHostFolder.
std::u16string HandsetPathFor(std::string_view hostPath);

// Names (not paths) of the files in the pattern's folder that match its last
// component, where `*` is any run and `?` any one character, letter case
// ignored: FindFiles(u"\\Windows\\BtSdkCE50*"). Sorted by name.
std::vector<std::u16string> FindFiles(std::u16string_view pattern);

// Renames `from` over `to` in one step (the old `to` stays whole until then).
bool ReplaceFile(std::u16string_view from, std::u16string_view to, FileError* error = nullptr);
bool DeleteFile(std::u16string_view handsetPath);
// Creates the folder and any missing parents.
bool CreateFolder(std::u16string_view handsetPath, FileError* error = nullptr);

// True when `name` matches `pattern` (`*`, `?`), letter case ignored.
bool MatchesPattern(std::u16string_view name, std::u16string_view pattern);

// Test support: the next `count` operations of the kind fail with `error`;
// with `pathSuffix`, only those on files whose handset path ends with it
// (Replace: the target's).
enum class FileOp { Open, Read, Write, Close, Replace };
void InjectFileFault(FileOp op, FileError error, int count = 1,
                     std::u16string_view pathSuffix = {});
void ClearFileFaults();

}  // namespace platform

// A fresh device root in a private temporary folder for one test, removed afterwards.
#pragma once

#include <string>

namespace testsupport {

// Also stands in for the user's pictures folder, at kPicturesRelative below
// the root (created on first use).
class TempDeviceRoot {
public:
    static constexpr const char* kPicturesRelative = "host-pictures";

    TempDeviceRoot();
    ~TempDeviceRoot();
    TempDeviceRoot(const TempDeviceRoot&) = delete;
    TempDeviceRoot& operator=(const TempDeviceRoot&) = delete;

    const std::string& path() const { return path_; }
    // Host path of a relative path below the root.
    std::string Host(const std::string& relative) const { return path_ + "/" + relative; }
    // Writes a file below the root, creating its folders.
    void WriteFile(const std::string& relative, const std::string& contents) const;
    std::string ReadFile(const std::string& relative) const;
    bool Exists(const std::string& relative) const;

private:
    std::string path_;
};

}  // namespace testsupport

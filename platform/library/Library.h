// Shared libraries loaded by their handset name ("CamoraConnect.dll" is
// libCamoraConnect.so beside the executable) and their exports found by name.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace platform {

class Library {
public:
    // Loads the library that the handset name stands for from the library
    // folder. Null when it is missing or cannot be loaded.
    static std::unique_ptr<Library> Load(std::u16string_view handsetName);
    // Unloads the library (its static objects go with the last reference).
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    // The address of the export, or null when the library has none of that name.
    void* FindExport(const char* name) const;

    // The export as a function pointer of type `Fn`, or null.
    template <typename Fn>
    Fn Find(const char* name) const {
        return reinterpret_cast<Fn>(FindExport(name));
    }

private:
    explicit Library(void* handle) : handle_(handle) {}
    void* handle_;
};

// The host file a handset library name stands for: "CamoraConnect.dll" ->
// "<library folder>/libCamoraConnect.so".
std::string HostLibraryPathFor(std::u16string_view handsetName);

// The folder libraries are loaded from: the executable's own folder, unless
// a test has named another one.
std::string LibraryFolder();

// Test support: load libraries from `hostFolder` from now on ("" restores the
// executable's folder).
void OverrideLibraryFolder(std::string hostFolder);

}  // namespace platform

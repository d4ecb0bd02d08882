// Read-only registry keys and string values: open a key, enumerate its
// subkeys by index, query a string value (size first, then data), close.
// The keys come from a view: by default the folder tree in the device root
// (registry/HKLM/...: keys are folders, string values are files); a view of
// the platform's own Bluetooth stack can take its place.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class RegistryRoot { LocalMachine };

enum class RegistryResult {
    Ok,
    NotFound,     // no such value
    NoMoreItems,  // no subkey of that index
    MoreData,     // the caller's buffer is too small; the size needed is returned
};

// A source of keys and values. Paths are relative to the root, with
// backslashes ("Software\Microsoft\Bluetooth\Device"); names match without
// regard to letter case, as on the handset.
class RegistryView {
public:
    virtual ~RegistryView() = default;
    virtual bool HasKey(RegistryRoot root, std::u16string_view path) = 0;
    // The key's subkey names in the order they are enumerated.
    virtual std::vector<std::u16string> Subkeys(RegistryRoot root, std::u16string_view path) = 0;
    virtual std::optional<std::u16string> StringValue(RegistryRoot root, std::u16string_view path,
                                                      std::u16string_view name) = 0;
};

// The folder tree below `<device root>/registry/`: HKLM/Software/Microsoft/...
// Subkeys are enumerated in name order (letter case ignored). A value file
// holds UTF-8 text; line breaks at its end are not part of the value.
std::shared_ptr<RegistryView> MakeFolderTreeRegistry();

// Installs the view that keys are opened in from now on; null goes back to the
// default view.
void SetRegistryView(std::shared_ptr<RegistryView> view);

// Where the default view comes from, asked at each open while no view is
// installed: start-up installs the Bluetooth backend's choice here. Without a
// source, or when it answers null, the folder tree serves.
using RegistryViewSource = std::shared_ptr<RegistryView> (*)();
void SetDefaultRegistryViewSource(RegistryViewSource source);

// An open key; dropping it closes it.
class RegistryKey {
public:
    // Opens an existing key; null when it does not exist.
    static std::unique_ptr<RegistryKey> Open(RegistryRoot root, std::u16string_view path);
    ~RegistryKey() = default;
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    // Copies the name of the subkey at `index` and its terminator into `name`,
    // which holds *units UTF-16 units; on Ok *units is the name's length.
    // MoreData (nothing written, *units the size needed) when it does not fit;
    // NoMoreItems past the last subkey. The subkeys are listed once, at the
    // first call on this key.
    RegistryResult EnumSubkey(uint32_t index, char16_t* name, uint32_t* units);

    // With `data` null: *units becomes the value's size in UTF-16 units with
    // its terminator. Otherwise copies the value and its terminator into
    // `data`, which holds *units units; MoreData (nothing written, *units the
    // size needed) when it does not fit. NotFound when there is no such value.
    RegistryResult QueryString(std::u16string_view valueName, char16_t* data, uint32_t* units);

private:
    RegistryKey(std::shared_ptr<RegistryView> view, RegistryRoot root, std::u16string path)
        : view_(std::move(view)), root_(root), path_(std::move(path)) {}

    std::shared_ptr<RegistryView> view_;
    RegistryRoot root_;
    std::u16string path_;
    std::optional<std::vector<std::u16string>> subkeys_;
};

}  // namespace platform

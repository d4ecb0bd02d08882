// The save-file dialog: the user picks a folder and a file name. Paths on
// both sides are handset paths (see platform/fs); the dialog shows the host
// folders they stand for, with the user's usual places (home, pictures,
// desktop, documents, mounted media) at hand.
//
// Tests answer the real dialog through a hook that runs once it is shown.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/ui/Window.h"

namespace platform {

struct SaveFileRequest {
    WindowHandle owner;
    // Pairs of description and patterns ("*.jpg", several separated by ';').
    std::vector<std::pair<std::u16string, std::u16string>> filters;
    std::u16string fileName;          // proposed name, or a whole handset path
    std::u16string initialFolder;     // handset folder the dialog starts in
    std::u16string defaultExtension;  // added (with a dot) to a name without one
};

// Shows the dialog modally; true with the chosen file's handset path in
// *path, false when the user cancelled. GUI thread only. A name with a
// backslash, which a handset path cannot hold (it would name a folder), sets
// *unnamable when given.
bool ShowSaveFileDialog(const SaveFileRequest& request, std::u16string* path,
                        bool* unnamable = nullptr);

// What a test sees of the shown dialog and how it answers it.
class SaveFileDialogView {
public:
    virtual ~SaveFileDialogView() = default;
    // The folder shown (host path), the name in the name field, the filters as shown.
    virtual std::string Folder() const = 0;
    virtual std::u16string FileName() const = 0;
    virtual std::vector<std::u16string> Filters() const = 0;
    virtual std::u16string DefaultExtension() const = 0;
    // Types `name` (a name, or a host path) into the name field and presses Save.
    virtual void Save(const std::u16string& name) = 0;
    // Presses Cancel.
    virtual void Cancel() = 0;
};

// Test support: `hook` runs on the GUI thread each time the dialog has been
// shown; it answers through the view (directly or later). Empty: none.
void SetSaveFileDialogHook(std::function<void(SaveFileDialogView&)> hook);

}  // namespace platform

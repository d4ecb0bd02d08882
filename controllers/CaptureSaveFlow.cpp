// The capture save flow: propose a name, let the user choose the file,
// remember its folder, create the file with its questions, write it while a
// timed box says so, and say where it went.
#include <cstdio>
#include <memory>
#include <string>

#include "controllers/CaptureContller.h"
#include "controllers/CaptureSaveDialog.h"
#include "controllers/StayAwake.h"
#include "core/ConfigStore.h"
#include "platform/fs/FileSystem.h"
#include "platform/kernel/Kernel.h"
#include "platform/text/Text.h"
#include "platform/ui/FileDialog.h"
#include "platform/ui/LiveWait.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/Resources.h"
#include "resources/ResourceIds.h"

namespace {

constexpr size_t kNameLength = 14;  // J + yymmdd + nnn + ".jpg"
constexpr size_t kDatePartLength = 7;
constexpr int kLastNumber = 999;
constexpr uint32_t kBoxSeconds = 1;
constexpr int kTextUnits = 257;  // 256 characters and the terminator

// True when the settings file can keep `folder` as it is: its narrow form
// fits the path buffer and reads back the same (a character the code page
// lacks would come back as '?', naming another folder).
bool KeepsAsIs(const std::u16string& folder) {
    char narrow[CConfigStore::kPathBytes];
    const int bytes = platform::WideToAnsi(folder.c_str(), static_cast<int>(folder.size()), narrow,
                                           CConfigStore::kPathBytes - 1);
    if (bytes == 0) {
        return folder.empty();
    }
    char16_t back[CConfigStore::kPathUnits];
    const int units = platform::AnsiToWide(narrow, bytes, back, CConfigStore::kPathUnits);
    return std::u16string_view(back, static_cast<size_t>(units)) == folder;
}

}  // namespace

std::u16string CCaptureContller::Text(uint32_t id) const {
    char16_t text[kTextUnits] = {};
    const int units = platform::LoadString(instance_, id, text, kTextUnits);
    return std::u16string(text, static_cast<size_t>(units));
}

bool CCaptureContller::Ask(platform::WindowHandle owner, uint32_t textId) const {
    return platform::ShowMessageBox(owner, Text(textId), Text(ui::res::kStrCapture),
                                    platform::MessageBoxButtons::YesNo) ==
           platform::MessageBoxResult::Yes;
}

void CCaptureContller::ShowFailure(platform::WindowHandle owner) const {
    platform::ShowMessageBox(owner, Text(ui::res::kStrImageAcquisitionFailed),
                             Text(ui::res::kStrCapture), platform::MessageBoxButtons::Ok);
}

void CCaptureContller::MakeFileName(std::u16string* name, std::u16string* initialFolder) {
    const platform::LocalDate date = platform::GetLocalDate();
    char datePart[48];
    std::snprintf(datePart, sizeof datePart, "J%02d%02d%02d", date.year % 100, date.month,
                  date.day);
    const std::u16string prefix(datePart, datePart + kDatePartLength);

    char16_t path[CConfigStore::kPathUnits] = {};
    std::u16string folder(path, static_cast<size_t>(configStore()->GetPath(path)));
    if (!folder.empty() && folder.back() != u'\\') {
        folder += u'\\';  // a hand-edited setting without its closing backslash
    }
    const std::vector<std::u16string> found = platform::FindFiles(folder + u"*.jpg");

    int number = 1;
    if (found.empty()) {
        // Nothing to count from: start in the default picture folder.
        *initialFolder = std::u16string(platform::kPicturesFolder);
    } else {
        int largest = 0;
        for (const std::u16string& file : found) {
            if (file.size() != kNameLength || file.compare(0, kDatePartLength, prefix) != 0) {
                continue;
            }
            int value = 0;
            for (size_t i = kDatePartLength; i < kDatePartLength + 3; ++i) {
                if (file[i] < u'0' || file[i] > u'9') {
                    break;
                }
                value = value * 10 + (file[i] - u'0');
            }
            largest = std::max(largest, value);
        }
        number = largest >= kLastNumber ? kLastNumber : largest + 1;
        *initialFolder = folder;
    }
    char numberPart[16];
    std::snprintf(numberPart, sizeof numberPart, "%03d", number);
    *name = prefix + std::u16string(numberPart, numberPart + 3);
}

namespace {

CCaptureContller::CreateResult FromFileError(platform::FileError error) {
    switch (error) {
        case platform::FileError::WriteProtected:
            return CCaptureContller::CreateResult::Protected;
        case platform::FileError::DiskFull:
            return CCaptureContller::CreateResult::NoSpace;
        default:
            return CCaptureContller::CreateResult::Failed;
    }
}

}  // namespace

CCaptureContller::CreateResult CCaptureContller::CreateImageFile(
    const std::u16string& path, std::unique_ptr<platform::ReplacingFile>* file) {
    // Written beside its final name and renamed over it once whole: a save
    // cut short leaves the old picture (or none), never a part of one.
    platform::FileError error = platform::FileError::None;
    *file = platform::ReplacingFile::Create(path, false, &error);
    if (*file != nullptr) {
        return CreateResult::Created;
    }
    if (error != platform::FileError::Exists) {
        return FromFileError(error);
    }
    if (!Ask(saveOwner_, ui::res::kStrFileExists)) {
        return CreateResult::Declined;
    }
    *file = platform::ReplacingFile::Create(path, true, &error);
    return *file != nullptr ? CreateResult::Created : FromFileError(error);
}

void CCaptureContller::SaveImage(platform::WindowHandle owner, const uint8_t* image,
                                 uint32_t size) {
    saveOwner_ = owner;
    platform::SaveFileRequest request;
    request.owner = owner;
    request.filters = {{u"jpeg files(*.jpg *.jpeg)", u"*.jpg"}, {u"All files(*.*)", u"*.*"}};
    request.defaultExtension = u"jpg";
    MakeFileName(&request.fileName, &request.initialFolder);
    while (SavePass(request, image, size)) {
    }
}

bool CCaptureContller::SavePass(platform::SaveFileRequest& request, const uint8_t* image,
                                uint32_t size) {
    std::u16string path;
    bool unnamable = false;
    if (!platform::ShowSaveFileDialog(request, &path, &unnamable) || path.size() >= kPathUnits) {
        return false;  // cancelled (a path beyond the name buffer counts as cancelled)
    }
    // Shown again, the dialog starts from the file chosen now.
    const size_t cut = path.rfind(u'\\');
    const std::u16string folder = path.substr(0, cut == std::u16string::npos ? 0 : cut + 1);
    request.initialFolder = folder;
    request.fileName = path.substr(folder.size());

    // The folder is remembered on every pass, before the file is made. A
    // folder whose name the settings file cannot hold keeps the old one.
    if (KeepsAsIs(folder)) {
        configStore()->SetPath(folder.c_str());
    }
    configStore()->Save();

    // A backslash in the name typed would make a folder of its first part;
    // the handset refuses such a name as it refuses any it cannot create.
    if (unnamable) {
        return Ask(request.owner, ui::res::kStrFileSaveFailed);
    }
    std::unique_ptr<platform::ReplacingFile> file;
    switch (CreateImageFile(path, &file)) {
        case CreateResult::Created:
            break;
        case CreateResult::Declined:
            return true;
        case CreateResult::Protected:
            return Ask(request.owner, ui::res::kStrFileProtected);  // NO: "Retry NO."
        case CreateResult::NoSpace:
            return Ask(request.owner, ui::res::kStrInsufficientSpace);
        case CreateResult::Failed:
            return Ask(request.owner, ui::res::kStrFileSaveFailed);
    }

    const std::u16string caption = Text(ui::res::kStrCapture);
    bool saved = false;
    platform::FileError failure = platform::FileError::None;
    {
        const std::u16string text = Text(ui::res::kStrSavingFile);
        CCaptureSaveDialog saving(caption.c_str(), text.c_str(), kBoxSeconds);
        const AwakeWhile writing(AwakeActivity::SavingPicture);
        saving.Start();
        uint32_t written = 0;
        // A file that could not be flushed and put in place is not saved either.
        saved = file->Write(image, size, &written) && file->Commit();
        failure = file->LastError();
        file.reset();  // an unfinished file goes now
        platform::WaitKeepingWindowsLive(kSavingWaitMs);
    }
    if (!saved) {
        // Nothing is left under the name: the old picture, if any, is whole.
        return Ask(request.owner, failure == platform::FileError::DiskFull
                                      ? ui::res::kStrInsufficientSpace
                                      : ui::res::kStrFileSaveFailed);
    }
    // Where the file is on this computer: the folder the user picked in the
    // dialog, not the handset path the settings file keeps.
    const std::u16string text =
        platform::Utf8ToUtf16(platform::HostPathFor(path)) + u"\r\n" + Text(ui::res::kStrFileSaved);
    CCaptureSaveDialog done(caption.c_str(), text.c_str(), kBoxSeconds);
    done.Start();
    platform::WaitKeepingWindowsLive(kSavedWaitMs);
    return false;
}

// Still capture: the job on the worker fetches the still that the camcorder
// shows in playback, block by block on channel 4, while the main thread runs
// the progress screen; then the "SAVE IMAGE?" screen and the save flow.
//
// How a capture cannot leave a screen waiting or an image behind:
//  - The job starts only once the progress screen is up (ProgressScreenReady
//    wakes the worker), so every message of the job, the progress bar's
//    first, finds the screen. The job takes the screen's handles at its
//    start and never reaches a later capture's screen.
//  - Each Request opens a new capture session. The job checks "running" as
//    "this session is still the running one", and its end clears the flag
//    and captureActive only while its own session is the current one, so a
//    job still ending from an earlier capture cannot cancel the next one.
//  - The job stores the image only while its session is running, under the
//    capture lock; after a cancel it frees the buffer itself. The dialog
//    flow frees whatever is stored, under the same lock, when it ends. A
//    screen that ended is sent nothing (a send to it returns at once).
//  - A progress screen that could not be shown never wakes the job; the
//    flow then clears the flag and captureActive itself.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "controllers/MonitorController.h"
#include "platform/fs/FileSystem.h"
#include "platform/kernel/Kernel.h"
#include "platform/kernel/Protected.h"
#include "platform/ui/FileDialog.h"
#include "platform/ui/Graphics.h"
#include "platform/ui/Resources.h"
#include "platform/ui/Window.h"

class CCaptureScreens;

class CCaptureContller : public CMonitorController {
public:
    // Image transfer unit of a capture.
    static constexpr uint32_t kBlockBytes = 10240;
    // Units of the save-file dialog's name buffer, and so of a full path.
    static constexpr size_t kPathUnits = 260;

    // The program's controller, created on first use and recorded in AppRegistry.
    static CCaptureContller* GetInstance();

    explicit CCaptureContller(const ControllerServices& services);

    // Creates the wake-up event, the capture lock and the monitor's objects,
    // and starts the worker: 1, or -2 when one of them cannot be created.
    int Start() override;

    // Captures a still and runs the whole dialog flow; returns when it is
    // over. Main thread only; `owner` owns the flow's message boxes.
    void Request(platform::WindowHandle owner) override;

    // Where the flow's texts come from; set before Start.
    void SetInstance(platform::InstanceHandle instance);
    // The user interface's screens; until they are installed Request ends at once.
    void SetScreens(CCaptureScreens* screens);

    // --- Called by the progress screen (main thread) ---
    // Its window and its progress bar are up: remembers both and lets the job start.
    void ProgressScreenReady(platform::WindowHandle window, platform::WindowHandle progressBar);
    // CANCEL: the job stops at its next check.
    void CancelCapture();

    // --- Read by the confirmation screen and the save flow (main thread,
    // after the progress screen ended with the image ready) ---
    const uint8_t* ImageData() const;
    uint32_t ImageSize() const;
    // Draws the preview scaled into `rect` of `context`, its proportions kept
    // (centred); nothing when there is none.
    void DrawPreview(platform::DrawingContext& context, const platform::Rect& rect) const;

    // --- The save flow ---
    enum class CreateResult { Created, Declined, Protected, NoSpace, Failed };

    // Asks for the destination and writes `size` bytes of `image` there, with
    // the retry questions and the timed boxes; returns when the file has been
    // saved or the user has given up.
    void SaveImage(platform::WindowHandle owner, const uint8_t* image, uint32_t size);
    // The proposed name ("J" + yymmdd + three digits) and the folder the
    // save-file dialog starts in.
    void MakeFileName(std::u16string* name, std::u16string* initialFolder);
    // Creates `path` for writing, new only; when it exists asks whether to
    // overwrite. On Created, *file is open.
    CreateResult CreateImageFile(const std::u16string& path,
                                 std::unique_ptr<platform::ReplacingFile>* file);

    // Test support: the waits of the save flow's timed boxes, in milliseconds
    // of the scaled clock.
    static constexpr uint32_t kSavingWaitMs = 1200;
    static constexpr uint32_t kSavedWaitMs = 1700;

private:
    static uint32_t WorkerProc(void* controller);
    void CaptureJob();
    // True while `session` is the running capture.
    bool IsRunning(uint64_t session);
    void RunDialogFlow(platform::WindowHandle owner);
    void ForgetCapture();
    // One pass of the save flow from the save-file dialog on; true when the
    // dialog is to come back.
    bool SavePass(platform::SaveFileRequest& request, const uint8_t* image, uint32_t size);
    // String `id` of the instance (at most 256 characters).
    std::u16string Text(uint32_t id) const;
    // A YES/NO question captioned "CAPTURE": true for YES.
    bool Ask(platform::WindowHandle owner, uint32_t textId) const;
    void ShowFailure(platform::WindowHandle owner) const;

    platform::InstanceHandle instance_ = nullptr;
    std::unique_ptr<platform::Event> wakeEvent_;
    CCaptureScreens* screens_ = nullptr;  // main thread only
    platform::WindowHandle saveOwner_;    // main thread only

    struct Capture {
        uint32_t running = 0;       // 1 while a capture is requested
        uint64_t session = 0;       // counts Requests
        bool sessionWoken = false;  // the current session's job has been woken
        platform::WindowHandle progressWindow;
        platform::WindowHandle progressBar;
        uint8_t* image = nullptr;  // C heap, whole blocks
        uint32_t imageSize = 0;
        std::unique_ptr<platform::JpegImage> preview;  // reads `image`
    };
    mutable platform::Protected<Capture> capture_;  // the capture lock
};

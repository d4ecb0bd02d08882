// The live view: while it is switched on, one JPEG image after the other is
// fetched from the camcorder on channel 4 (ready an image, ask its size,
// fetch it in 10240-byte blocks) and handed to the main screen. The three
// exchange steps serve the capture controller as well, under its own
// action type.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "controllers/BaseController.h"
#include "platform/kernel/Kernel.h"
#include "platform/kernel/Protected.h"
#include "platform/ui/Window.h"

class CMonitorController : public CBaseController {
public:
    // The largest image the handset takes in. A camera that announces more
    // is treated as if the memory for it could not be had; live-view images
    // are tens of kilobytes and stills a few megabytes at most.
    static constexpr uint32_t kMaxImageBytes = 32u << 20;

    // The program's controller, created on first use and recorded in AppRegistry.
    static CMonitorController* GetInstance();

    explicit CMonitorController(const ControllerServices& services);

    // Creates the start event, the two locks and the running worker: 1, or
    // -2 when one of them cannot be created (what was made before stays).
    int Start() override;

    // Switches live view on or off and tells `window`, which it keeps for
    // the run's messages. Must follow Start.
    void Request(platform::WindowHandle window) override;

    // Hands out the last complete image (from the C heap: the caller frees
    // it) and its size, or null and 0 when there is none. Must follow Start.
    virtual void TakeImage(uint8_t** image, uint32_t* imageSize);

    // The exchange steps. Each one first asks the camera state whether
    // `actionType` (a CameraAction) is allowed, and returns 1 or 0.
    // CTP_IMAGE_CMD with `param`: 1 when the camera answered 0.
    int SendCommand(int actionType, uint16_t param);
    // CTP_GET_DATA_INFO: the held image's size and block count (both 0
    // unless an answer came).
    int GetDataInfo(int actionType, uint32_t* dataSize, uint16_t* dataCount);
    // CTP_GET_IMAGE_DATA for block `blockNumber` (from 1): 1 when the block
    // held data, whose 10240 bytes are then copied to `destination`.
    int GetImageData(int actionType, uint8_t* destination, uint16_t blockNumber);

    // One live-view run: image after image until live view is switched off
    // or no memory can be had for an image.
    void LiveView(int actionType);

protected:
    static constexpr int kImageChannel = 4;

    // A buffer of whole blocks for an image of `dataSize` bytes, from the C
    // heap (not cleared), and its block count; null when the size is above
    // kMaxImageBytes or the memory cannot be had.
    static uint8_t* AllocateImage(uint32_t dataSize, uint16_t* blockCount);

    // True when the `size` bytes at `image` start and end as a JPEG image
    // does; a picture that does not is neither shown nor saved.
    static bool LooksLikeJpeg(const uint8_t* image, uint32_t size);

private:
    static uint32_t WorkerProc(void* controller);
    // Queues `request` on the image channel and waits for the answer as long
    // as the settings say; null when none came (the error report has gone
    // out after a time-out).
    CCtpData* ExchangeStep(CCtpData* request,
                           const std::function<bool(const CCtpData&)>& accept = {});
    // Waits a little after a failed cycle, longer each time in a row (*pauseMs).
    void PauseAfterFailure(uint32_t* pauseMs);
    bool IsActive();
    void EndLiveView(int actionType);
    // Keeps `image` as the one to be taken, freeing an older one nobody took.
    void StoreImage(uint8_t* image, uint32_t imageSize);
    void DropImage();

    std::unique_ptr<platform::Event> startEvent_;
    // The last complete image nobody has taken yet (C heap, owned here).
    struct HeldImage {
        uint8_t* bytes = nullptr;
        uint32_t size = 0;
    };
    platform::Protected<HeldImage> image_;
    std::atomic<platform::WindowHandle> window_{};
    platform::Protected<bool> active_;  // true while live view is switched on
};

#include "platform/gps/Gps.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/gps/GpsConfig.h"
#include "platform/gps/TrackSource.h"
#include "platform/kernel/Kernel.h"

namespace platform {
namespace {

// One open device: it keeps the latest position and signals its owner's
// events, until it is silenced by closing.
class OpenDevice final : public GpsSink {
public:
    OpenDevice(Event* newLocation, Event* deviceState, bool onCodeTrack)
        : newLocation_(newLocation), deviceState_(deviceState), onCodeTrack_(onCodeTrack) {}

    void OnPosition(const GpsPosition& position) override {
        std::lock_guard lock(lock_);
        latest_ = position;
        receivedAtMs_ = TickCountMs();
        if (!silenced_ && newLocation_ != nullptr) {
            newLocation_->Set();
        }
    }

    void OnLost() override {
        std::lock_guard lock(lock_);
        lost_ = true;
        SignalStateLocked();
    }

    void OnUp() {
        std::lock_guard lock(lock_);
        SignalStateLocked();
    }

    // The events are set under the same lock, so none is set after this.
    void Silence() {
        std::lock_guard lock(lock_);
        silenced_ = true;
    }

    GpsPosition Read(uint32_t maxAgeMs) {
        std::lock_guard lock(lock_);
        GpsPosition record = latest_;
        const bool tooOld = maxAgeMs != kGpsAnyAge && TickCountMs() - receivedAtMs_ > maxAgeMs;
        if (lost_ || tooOld) {
            record.fixQuality = kGpsNoFix;
            record.latitude = 0.0;
            record.longitude = 0.0;
        }
        return record;
    }

    bool onCodeTrack() const { return onCodeTrack_; }

    std::unique_ptr<GpsSource> source;

private:
    void SignalStateLocked() {
        if (!silenced_ && deviceState_ != nullptr) {
            deviceState_->Set();
        }
    }

    std::mutex lock_;
    Event* const newLocation_;
    Event* const deviceState_;
    const bool onCodeTrack_;
    GpsPosition latest_;  // no fix until the first position comes
    uint64_t receivedAtMs_ = 0;
    bool lost_ = false;
    bool silenced_ = false;
};

struct CodeTrack {
    std::vector<GpsTrackPoint> points;
    bool loop = false;
};

struct DeviceTable {
    std::mutex lock;
    std::map<uint64_t, std::shared_ptr<OpenDevice>> devices;
    uint64_t nextId = 1;
    std::optional<CodeTrack> codeTrack;
};

DeviceTable& Table() {
    static auto* table = new DeviceTable;  // never destroyed: sources may outlive main
    return *table;
}

std::shared_ptr<OpenDevice> Find(GpsDevice device) {
    DeviceTable& table = Table();
    std::lock_guard lock(table.lock);
    const auto it = table.devices.find(device.id);
    return it == table.devices.end() ? nullptr : it->second;
}

}  // namespace

GpsDevice OpenGpsDevice(Event* newLocation, Event* deviceState) {
    DeviceTable& table = Table();
    std::optional<CodeTrack> codeTrack;
    {
        std::lock_guard lock(table.lock);
        codeTrack = table.codeTrack;
    }
    std::unique_ptr<GpsSource> source;
    if (codeTrack) {
        source = std::make_unique<TrackSource>(std::move(codeTrack->points), codeTrack->loop);
    } else {
        source = MakeGpsSource(LoadGpsConfig());
    }
    if (source == nullptr) {
        return GpsDevice{};
    }
    auto device = std::make_shared<OpenDevice>(newLocation, deviceState, codeTrack.has_value());
    if (!source->Start(*device)) {
        return GpsDevice{};
    }
    device->source = std::move(source);
    GpsDevice handle;
    {
        std::lock_guard lock(table.lock);
        handle.id = table.nextId++;
        table.devices.emplace(handle.id, device);
    }
    device->OnUp();
    return handle;
}

bool GetGpsPosition(GpsDevice device, GpsPosition* record, uint32_t maxAgeMs, uint32_t flags) {
    if (record == nullptr || flags != 0) {
        return false;
    }
    const auto open = Find(device);
    if (open == nullptr) {
        return false;
    }
    *record = open->Read(maxAgeMs);
    return true;
}

bool CloseGpsDevice(GpsDevice device) {
    DeviceTable& table = Table();
    std::shared_ptr<OpenDevice> open;
    {
        std::lock_guard lock(table.lock);
        const auto it = table.devices.find(device.id);
        if (it == table.devices.end()) {
            return false;
        }
        open = std::move(it->second);
        table.devices.erase(it);
    }
    open->Silence();
    open->source->Stop();
    return true;
}

void UseGpsTrack(std::vector<GpsTrackPoint> points, bool loop) {
    DeviceTable& table = Table();
    std::lock_guard lock(table.lock);
    table.codeTrack = CodeTrack{std::move(points), loop};
}

void PushGpsTrackPosition(const GpsPosition& position) {
    DeviceTable& table = Table();
    std::lock_guard lock(table.lock);
    for (const auto& [id, device] : table.devices) {
        if (device->onCodeTrack()) {
            device->OnPosition(position);
        }
    }
}

void UseConfiguredGps() {
    DeviceTable& table = Table();
    std::lock_guard lock(table.lock);
    table.codeTrack.reset();
}

size_t OpenGpsDeviceCount() {
    DeviceTable& table = Table();
    std::lock_guard lock(table.lock);
    return table.devices.size();
}

}  // namespace platform

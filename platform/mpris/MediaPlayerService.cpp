#include "platform/mpris/MediaPlayerService.h"

#include <sys/eventfd.h>
#include <systemd/sd-bus.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/dbus/SdBus.h"
#include "platform/sys/Syscall.h"

namespace platform::mpris {
namespace {

namespace sys = platform::sys;

constexpr const char* kObjectPath = "/org/mpris/MediaPlayer2";
constexpr const char* kRootInterface = "org.mpris.MediaPlayer2";
constexpr const char* kPlayerInterface = "org.mpris.MediaPlayer2.Player";
// Giving the name back must not hold up the program when the bus daemon hangs.
constexpr uint64_t kCallTimeoutUs = 2'000'000;

struct MethodName {
    const char* member;
    PlayerMethod method;
};
constexpr MethodName kMethods[] = {
    {"Play", PlayerMethod::Play},           {"Pause", PlayerMethod::Pause},
    {"PlayPause", PlayerMethod::PlayPause}, {"Stop", PlayerMethod::Stop},
    {"Next", PlayerMethod::Next},           {"Previous", PlayerMethod::Previous},
};

bool Is(const char* a, const char* b) {
    return std::strcmp(a, b) == 0;
}

}  // namespace

struct MediaPlayerService::Impl {
    PlayerIdentity identity;
    std::string busName;
    PlayerHandler* handler = nullptr;
    sd_bus* bus = nullptr;
    sd_bus_slot* rootSlot = nullptr;
    sd_bus_slot* playerSlot = nullptr;
    int wake = -1;  // eventfd: the state changed, or Stop
    std::atomic<bool> stopping{false};
    std::thread thread;
    std::once_flag stopped;
    // What the interface shows; once the thread runs, touched only there.
    PlayerState shown;

    ~Impl() {
        Close();
        // Only here: a StateChanged that raced with Stop still writes to this
        // descriptor, never to one that a later open got the number of.
        if (wake >= 0) {
            sys::Close(wake, "closing the media player's wake-up descriptor");
        }
    }

    void Close() {
        sd_bus_slot_unref(playerSlot);
        playerSlot = nullptr;
        sd_bus_slot_unref(rootSlot);
        rootSlot = nullptr;
        if (bus != nullptr) {
            // Closing would drop the name too; asking first means that it is
            // gone for every client by the time Stop returns.
            sd_bus_release_name(bus, busName.c_str());
            sd_bus_flush_close_unref(bus);
            bus = nullptr;
        }
    }

    void Serve() {
        for (;;) {
            const dbus::BusWake why = dbus::ServeUntilWoken(bus, wake);
            eventfd_t count = 0;
            if (stopping.load()) {
                return;
            }
            if (why == dbus::BusWake::BusGone) {
                // Nothing more to serve; wait to be stopped and joined.
                while (!stopping.load()) {
                    ::eventfd_read(wake, &count);
                }
                return;
            }
            ::eventfd_read(wake, &count);
            Refresh();
        }
    }

    void Refresh() {
        const PlayerState now = handler->CurrentState();
        std::vector<const char*> changed;
        if (now.playbackStatus != shown.playbackStatus) {
            changed.push_back("PlaybackStatus");
        }
        if (now.trackId != shown.trackId || now.title != shown.title ||
            now.artist != shown.artist) {
            changed.push_back("Metadata");
        }
        const struct {
            bool PlayerState::*field;
            const char* name;
        } flags[] = {
            {&PlayerState::canControl, "CanControl"},       {&PlayerState::canPlay, "CanPlay"},
            {&PlayerState::canPause, "CanPause"},           {&PlayerState::canGoNext, "CanGoNext"},
            {&PlayerState::canGoPrevious, "CanGoPrevious"},
        };
        for (const auto& flag : flags) {
            if (now.*flag.field != shown.*flag.field) {
                changed.push_back(flag.name);
            }
        }
        shown = now;
        if (changed.empty()) {
            return;
        }
        changed.push_back(nullptr);
        // The getters read `shown`, so the signal carries the new values.
        sd_bus_emit_properties_changed_strv(bus, kObjectPath, kPlayerInterface,
                                            const_cast<char**>(changed.data()));
    }

    static int OnRootMethod(sd_bus_message* m, void* /*self*/, sd_bus_error* /*error*/) {
        // Raise and Quit: the program neither raises its window on request nor
        // ends but by its own Exit (CanRaise and CanQuit are false).
        return sd_bus_reply_method_return(m, "");
    }

    static int OnPlayerMethod(sd_bus_message* m, void* self, sd_bus_error* /*error*/) {
        const char* member = sd_bus_message_get_member(m);
        for (const MethodName& entry : kMethods) {
            if (member != nullptr && Is(member, entry.member)) {
                static_cast<Impl*>(self)->handler->OnMethod(entry.method);
                break;
            }
        }
        // Seek, SetPosition and OpenUri have no effect (CanSeek is false).
        return sd_bus_reply_method_return(m, "");
    }

    static int GetRoot(sd_bus* /*bus*/, const char* /*path*/, const char* /*interface*/,
                       const char* property, sd_bus_message* reply, void* self,
                       sd_bus_error* /*error*/) {
        const PlayerIdentity& id = static_cast<Impl*>(self)->identity;
        if (Is(property, "Identity")) {
            return sd_bus_message_append(reply, "s", id.identity.c_str());
        }
        if (Is(property, "DesktopEntry")) {
            return sd_bus_message_append(reply, "s", id.desktopEntry.c_str());
        }
        if (Is(property, "SupportedUriSchemes") || Is(property, "SupportedMimeTypes")) {
            return sd_bus_message_append_strv(reply, nullptr);
        }
        // CanQuit, CanRaise, HasTrackList.
        return sd_bus_message_append(reply, "b", 0);
    }

    static int GetPlayer(sd_bus* /*bus*/, const char* /*path*/, const char* /*interface*/,
                         const char* property, sd_bus_message* reply, void* self,
                         sd_bus_error* /*error*/) {
        const PlayerState& s = static_cast<Impl*>(self)->shown;
        if (Is(property, "PlaybackStatus")) {
            return sd_bus_message_append(reply, "s", s.playbackStatus.c_str());
        }
        if (Is(property, "Metadata")) {
            return sd_bus_message_append(reply, "a{sv}", 3, "mpris:trackid", "o", s.trackId.c_str(),
                                         "xesam:title", "s", s.title.c_str(), "xesam:artist", "as",
                                         1, s.artist.c_str());
        }
        if (Is(property, "Rate") || Is(property, "MinimumRate") || Is(property, "MaximumRate") ||
            Is(property, "Volume")) {
            return sd_bus_message_append(reply, "d", 1.0);
        }
        if (Is(property, "Position")) {
            return sd_bus_message_append(reply, "x", int64_t{0});
        }
        const struct {
            const char* name;
            bool value;
        } flags[] = {
            {"CanControl", s.canControl},       {"CanPlay", s.canPlay},
            {"CanPause", s.canPause},           {"CanGoNext", s.canGoNext},
            {"CanGoPrevious", s.canGoPrevious},
        };
        for (const auto& flag : flags) {
            if (Is(property, flag.name)) {
                return sd_bus_message_append(reply, "b", flag.value ? 1 : 0);
            }
        }
        // CanSeek.
        return sd_bus_message_append(reply, "b", 0);
    }

    static const sd_bus_vtable* RootVtable() {
        static const sd_bus_vtable vtable[] = {
            SD_BUS_VTABLE_START(0),
            SD_BUS_METHOD("Raise", "", "", &Impl::OnRootMethod, SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_METHOD("Quit", "", "", &Impl::OnRootMethod, SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_PROPERTY("CanQuit", "b", &Impl::GetRoot, 0, SD_BUS_VTABLE_PROPERTY_CONST),
            SD_BUS_PROPERTY("CanRaise", "b", &Impl::GetRoot, 0, SD_BUS_VTABLE_PROPERTY_CONST),
            SD_BUS_PROPERTY("HasTrackList", "b", &Impl::GetRoot, 0, SD_BUS_VTABLE_PROPERTY_CONST),
            SD_BUS_PROPERTY("Identity", "s", &Impl::GetRoot, 0, SD_BUS_VTABLE_PROPERTY_CONST),
            SD_BUS_PROPERTY("DesktopEntry", "s", &Impl::GetRoot, 0, SD_BUS_VTABLE_PROPERTY_CONST),
            SD_BUS_PROPERTY("SupportedUriSchemes", "as", &Impl::GetRoot, 0,
                            SD_BUS_VTABLE_PROPERTY_CONST),
            SD_BUS_PROPERTY("SupportedMimeTypes", "as", &Impl::GetRoot, 0,
                            SD_BUS_VTABLE_PROPERTY_CONST),
            SD_BUS_VTABLE_END,
        };
        return vtable;
    }

    static const sd_bus_vtable* PlayerVtable() {
        constexpr uint64_t kChanges = SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE;
        constexpr uint64_t kConst = SD_BUS_VTABLE_PROPERTY_CONST;
        static const sd_bus_vtable vtable[] = {
            SD_BUS_VTABLE_START(0),
            SD_BUS_METHOD("Next", "", "", &Impl::OnPlayerMethod, SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_METHOD("Previous", "", "", &Impl::OnPlayerMethod, SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_METHOD("Pause", "", "", &Impl::OnPlayerMethod, SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_METHOD("PlayPause", "", "", &Impl::OnPlayerMethod, SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_METHOD("Stop", "", "", &Impl::OnPlayerMethod, SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_METHOD("Play", "", "", &Impl::OnPlayerMethod, SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_METHOD("Seek", "x", "", &Impl::OnPlayerMethod, SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_METHOD("SetPosition", "ox", "", &Impl::OnPlayerMethod,
                          SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_METHOD("OpenUri", "s", "", &Impl::OnPlayerMethod, SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_SIGNAL("Seeked", "x", 0),
            SD_BUS_PROPERTY("PlaybackStatus", "s", &Impl::GetPlayer, 0, kChanges),
            SD_BUS_PROPERTY("Rate", "d", &Impl::GetPlayer, 0, kConst),
            SD_BUS_PROPERTY("Metadata", "a{sv}", &Impl::GetPlayer, 0, kChanges),
            SD_BUS_PROPERTY("Volume", "d", &Impl::GetPlayer, 0, kConst),
            // Read when asked, never signalled.
            SD_BUS_PROPERTY("Position", "x", &Impl::GetPlayer, 0, 0),
            SD_BUS_PROPERTY("MinimumRate", "d", &Impl::GetPlayer, 0, kConst),
            SD_BUS_PROPERTY("MaximumRate", "d", &Impl::GetPlayer, 0, kConst),
            SD_BUS_PROPERTY("CanGoNext", "b", &Impl::GetPlayer, 0, kChanges),
            SD_BUS_PROPERTY("CanGoPrevious", "b", &Impl::GetPlayer, 0, kChanges),
            SD_BUS_PROPERTY("CanPlay", "b", &Impl::GetPlayer, 0, kChanges),
            SD_BUS_PROPERTY("CanPause", "b", &Impl::GetPlayer, 0, kChanges),
            SD_BUS_PROPERTY("CanSeek", "b", &Impl::GetPlayer, 0, kConst),
            // Follows the camera's busy state, so it is signalled like the others.
            SD_BUS_PROPERTY("CanControl", "b", &Impl::GetPlayer, 0, kChanges),
            SD_BUS_VTABLE_END,
        };
        return vtable;
    }
};

std::unique_ptr<MediaPlayerService> MediaPlayerService::Start(const PlayerIdentity& identity,
                                                              PlayerHandler& handler,
                                                              std::string* error) {
    auto impl = std::make_unique<Impl>();
    impl->identity = identity;
    impl->busName = "org.mpris.MediaPlayer2." + identity.busNameSuffix;
    impl->handler = &handler;
    auto fail = [&](const std::string& why, int r) -> std::unique_ptr<MediaPlayerService> {
        if (error != nullptr) {
            *error = why + ": " + std::strerror(r < 0 ? -r : r);
        }
        return nullptr;
    };
    int r = sd_bus_open_user(&impl->bus);
    if (r < 0) {
        impl->bus = nullptr;
        return fail("no session bus", r);
    }
    sd_bus_set_method_call_timeout(impl->bus, kCallTimeoutUs);
    r = sd_bus_add_object_vtable(impl->bus, &impl->rootSlot, kObjectPath, kRootInterface,
                                 Impl::RootVtable(), impl.get());
    if (r >= 0) {
        r = sd_bus_add_object_vtable(impl->bus, &impl->playerSlot, kObjectPath, kPlayerInterface,
                                     Impl::PlayerVtable(), impl.get());
    }
    if (r < 0) {
        return fail("the player object could not be exported", r);
    }
    impl->shown = handler.CurrentState();
    r = sd_bus_request_name(impl->bus, impl->busName.c_str(), 0);
    if (r < 0) {
        return fail(impl->busName + " not taken", r);
    }
    impl->wake = ::eventfd(0, EFD_CLOEXEC);
    if (impl->wake < 0) {
        return fail("no eventfd", errno);
    }
    Impl* serving = impl.get();
    impl->thread = std::thread([serving] { serving->Serve(); });
    return std::unique_ptr<MediaPlayerService>(new MediaPlayerService(std::move(impl)));
}

MediaPlayerService::MediaPlayerService(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

MediaPlayerService::~MediaPlayerService() {
    Stop();
}

void MediaPlayerService::StateChanged() {
    if (!impl_->stopping.load()) {
        ::eventfd_write(impl_->wake, 1);
    }
}

void MediaPlayerService::Stop() {
    std::call_once(impl_->stopped, [this] {
        impl_->stopping.store(true);
        ::eventfd_write(impl_->wake, 1);
        impl_->thread.join();
        impl_->Close();
    });
}

}  // namespace platform::mpris

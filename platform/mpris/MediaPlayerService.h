// The standard media-player interface on the session bus (the root and the
// player interface at /org/mpris/MediaPlayer2), which phone shells show on
// their lock screen and headset buttons drive. The service has a thread and a
// bus connection of its own: method calls and property reads are answered on
// that thread, which asks a handler what to do and what to show.
#pragma once

#include <memory>
#include <string>

namespace platform::mpris {

// The player methods that can reach the handler. Seek, SetPosition and
// OpenUri do nothing (the player cannot seek and opens nothing).
enum class PlayerMethod { Play, Pause, PlayPause, Stop, Next, Previous };

// What the player interface shows.
struct PlayerState {
    std::string playbackStatus = "Stopped";  // "Playing", "Paused" or "Stopped"
    // An object path; the interface forbids other paths below /org/mpris.
    std::string trackId = "/org/mpris/MediaPlayer2/TrackList/NoTrack";
    std::string title;   // xesam:title
    std::string artist;  // the one entry of xesam:artist
    bool canControl = false;
    bool canPlay = false;
    bool canPause = false;
    bool canGoNext = false;
    bool canGoPrevious = false;

    bool operator==(const PlayerState&) const = default;
};

// The fixed part: the bus name is "org.mpris.MediaPlayer2." + busNameSuffix.
struct PlayerIdentity {
    std::string busNameSuffix;
    std::string identity;
    std::string desktopEntry;
};

// Called on the service's thread (CurrentState also once by Start, before
// that thread runs).
class PlayerHandler {
public:
    virtual ~PlayerHandler() = default;
    virtual void OnMethod(PlayerMethod method) = 0;
    virtual PlayerState CurrentState() = 0;
};

class MediaPlayerService {
public:
    // Connects to the session bus, exports both interfaces, takes the bus name
    // and starts serving. Null when there is no session bus or the name is
    // taken, with the reason in *error when given. `handler` must outlive the
    // service.
    static std::unique_ptr<MediaPlayerService> Start(const PlayerIdentity& identity,
                                                     PlayerHandler& handler,
                                                     std::string* error = nullptr);
    // Stop.
    ~MediaPlayerService();
    MediaPlayerService(const MediaPlayerService&) = delete;
    MediaPlayerService& operator=(const MediaPlayerService&) = delete;

    // From any thread: the service asks the handler for its state afresh and
    // signals the properties that differ from what it showed before.
    void StateChanged();

    // Ends the thread, gives the bus name back and closes the connection, so
    // that clients see the player go at once. Later calls do nothing. Not from
    // the service's own thread (a handler must not call it).
    void Stop();

private:
    struct Impl;
    explicit MediaPlayerService(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform::mpris

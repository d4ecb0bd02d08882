// The media-player interface on the session bus while the camera is
// connected (bus name org.mpris.MediaPlayer2.camora_controller): lock screens
// and headset buttons press the panel's keys through it.
#pragma once

namespace app {

// Puts the interface on the bus for the connected camera: the program's
// camera state, command controller and mode controller (which tells it of
// each answer). Without a session bus, or with the name taken, the program
// runs on without it. Call once, on the main thread, after connecting; after
// WithdrawMediaPlayer it does nothing.
void OfferMediaPlayer();

// Takes the interface off the bus at once (the link has ended). From any
// thread; later calls do nothing.
void WithdrawMediaPlayer();

}  // namespace app

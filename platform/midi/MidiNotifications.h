#pragma once

namespace quenbril {

/// Posted on the main thread when a MIDI device appears or goes; user information {"name"}.
inline constexpr const char* kMidiDeviceWasAddedNotification = "MidiDeviceWasAddedNotification";
inline constexpr const char* kMidiDeviceWasRemovedNotification = "MidiDeviceWasRemovedNotification";

}  // namespace quenbril

#pragma once

#include <memory>

#include "foundation/BoundedWorker.h"

namespace quenbril {

/// What the remote says when libjack does not return: to the user, and in the log with its
/// likely cause. JACK 2's library opens a shared store in /dev/shm in every client open, and a
/// client that dies inside an open leaves it locked; every open for that user then waits for ever.
inline constexpr const char* kJackNotAnswering = "the JACK library does not answer";
inline constexpr const char* kJackNotAnsweringWhy =
    "(a JACK client that died while opening may have left its store in /dev/shm locked: "
    "removing /dev/shm/jack_db-<uid> while no JACK program runs, or a restart, clears it)";

/// The one worker every call of the process into libjack that may wait goes through (the audio
/// devices, PortAudio's start, JACK MIDI): the library serialises its opens anyway, and once one
/// is stuck, the others neither wait nor log again.
std::shared_ptr<BoundedWorker> sharedJackWorker();

}  // namespace quenbril

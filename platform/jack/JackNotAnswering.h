#pragma once

#include <memory>

#include "foundation/BoundedWorker.h"

namespace quenbril {

/// What the remote says when libjack does not return, with its two likely causes: to the user
/// (the connection dialog shows it), and in the log with what clears each. A client open waits
/// on the server while the server's process is stopped (SIGSTOP), and returns once it continues.
/// And JACK 2's library opens a shared store in /dev/shm in every client open: a client that dies
/// inside an open leaves it locked, and every open for that user then waits for ever.
inline constexpr const char* kJackNotAnswering =
    "the JACK library does not answer: the JACK server may be stopped, or a JACK program that "
    "died while connecting left the library's store locked";
inline constexpr const char* kJackNotAnsweringWhy =
    "(a stopped server answers again once continued or restarted; a locked store is cleared by "
    "removing /dev/shm/jack_db-<uid> while no JACK program runs, or by a restart)";

/// The one worker every call of the process into libjack that may wait goes through (the audio
/// devices, PortAudio's start, JACK MIDI): the library serialises its opens anyway, and once one
/// is stuck, the others neither wait nor log again.
std::shared_ptr<BoundedWorker> sharedJackWorker();

}  // namespace quenbril

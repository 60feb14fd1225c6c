#pragma once

#include "MonitorApp/mainwindow/MainWindowServices.h"

namespace quenbril {

class ShortTimeClock;

/// The main window's services over the process's shared instances, with `clock` for the time
/// of day (the system clock unless given). The composition makes the application's with it;
/// tests that run the application's parts make theirs with it too. It makes the chat, timecode
/// and macro models first: the macros listen to MIDI events from the window's start on.
MainWindowServices sharedMainWindowServices(const ShortTimeClock& clock);
MainWindowServices sharedMainWindowServices();

}  // namespace quenbril

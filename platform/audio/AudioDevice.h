#pragma once

#include <string>

namespace quenbril {

/// An audio device as the device layer lists it: the stable identity it is stored and re-found
/// by (`uid`), the name shown to the user, and the host's current number for it.
struct AudioDevice {
    std::string uid;
    std::string name;
    int deviceID = 0;
};

}  // namespace quenbril

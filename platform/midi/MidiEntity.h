#pragma once

#include <vector>

#include "platform/midi/MidiPortInfo.h"

namespace quenbril {

/// An endpoint is one port; a destination is a port we write.
using MidiEndpoint = MidiPortInfo;
using MidiDestinationEndpoint = MidiPortInfo;

/// The ports of one client: sources are ports we read, destinations ports we write.
struct MidiEntity {
    std::vector<MidiEndpoint> sources;
    std::vector<MidiDestinationEndpoint> destinations;
};

}  // namespace quenbril

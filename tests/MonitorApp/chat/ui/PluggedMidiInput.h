#pragma once

#include <memory>

#include "foundation/ManualRunLoop.h"
#include "platform/midi/MemoryMidiBackend.h"
#include "platform/midi/MidiDeviceManager.h"

namespace quenbril::test {

/// A MIDI system in memory with one controller whose port can be read, installed for the life of
/// the object: the windows that learn MIDI find an input to learn from.
class PluggedMidiInput {
  public:
    /// Installs it and waits (on `loop`, the main run loop) until the devices list it.
    explicit PluggedMidiInput(ManualRunLoop& loop) {
        auto backend = std::make_unique<MemoryMidiBackend>();
        backend->addPort({"QB Pad", "out", MidiPortInfo::Direction::Input});
        devices().installBackend(std::move(backend), 0.01);
        found_ = loop.runUntil([] { return devices().hasInput(); }, 5.0);
    }
    ~PluggedMidiInput() { devices().installBackend(nullptr); }
    PluggedMidiInput(const PluggedMidiInput&) = delete;
    PluggedMidiInput& operator=(const PluggedMidiInput&) = delete;

    bool found() const { return found_; }

  private:
    static MidiDeviceManager& devices() { return MidiDeviceManager::sharedDeviceManager(); }
    bool found_ = false;
};

}  // namespace quenbril::test

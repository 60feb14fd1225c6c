#pragma once

// A MIDI controller played by a test: a client of the MIDI system under test whose output ports
// send what the test queues.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quenbril::test {

class MidiTestController {
  public:
    virtual ~MidiTestController() = default;

    virtual bool isOpen() const = 0;
    /// Sends one message (at most 3 bytes) from output port k; false when it cannot.
    virtual bool send(int k, const std::vector<uint8_t>& bytes) = 0;
    /// Messages handed to the MIDI system so far.
    virtual size_t written() const = 0;
};

}  // namespace quenbril::test

#pragma once

// An ALSA sequencer client of the tests that plays a MIDI controller: its readable ports send the
// messages a test gives, at once, and its writable ports are the destinations a controller with
// lights would have.

#include <atomic>
#include <string>

#include "tests/support/MidiTestController.h"

typedef struct _snd_seq snd_seq_t;
typedef struct snd_midi_event snd_midi_event_t;

namespace quenbril::test {

class AlsaMidiTestClient : public MidiTestController {
  public:
    /// True where this process can open the sequencer (/dev/snd/seq).
    static bool sequencerOpens();

    /// A client named `name` with `outputs` readable ports ("out_1"...) and `inputs` writable
    /// ports ("in_1"...).
    AlsaMidiTestClient(const std::string& name, int outputs, int inputs);
    ~AlsaMidiTestClient() override;
    AlsaMidiTestClient(const AlsaMidiTestClient&) = delete;
    AlsaMidiTestClient& operator=(const AlsaMidiTestClient&) = delete;

    bool isOpen() const override { return sequencer_ != nullptr; }
    bool send(int k, const std::vector<uint8_t>& bytes) override;
    size_t written() const override { return written_.load(); }

  private:
    snd_seq_t* sequencer_ = nullptr;
    snd_midi_event_t* encoder_ = nullptr;
    std::vector<int> outputs_;
    std::atomic<size_t> written_{0};
};

}  // namespace quenbril::test

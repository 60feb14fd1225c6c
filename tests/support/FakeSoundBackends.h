#pragma once

// The sound systems of a remote made in the test's (or benchmark's) own process, in place of the
// machine's: no test that makes the whole remote asks JACK, ALSA or PortAudio, so none depends on
// what runs on the machine or waits on a JACK library that never returns. Only the `jack` tests
// use the machine's backends, on purpose.

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "platform/audio/FakeAudioBackend.h"
#include "platform/midi/MemoryMidiBackend.h"
#include "platform/midi/RtMidiBackend.h"

namespace quenbril::test {

/// A FakeAudioBackend whose words on an absent host (absence()) a test sets, such as "No JACK
/// server is running", and which other threads may ask while the test changes it (the connection
/// dialog looks at the devices off the main thread): the list, its refreshes, the opens and the
/// words are kept under one lock.
class FakeAudioBackendWithAbsence : public FakeAudioBackend {
  public:
    std::vector<AudioBackendDevice> devices() override {
        std::lock_guard lock(mutex_);
        return FakeAudioBackend::devices();
    }
    std::optional<int> defaultInputDevice() override {
        std::lock_guard lock(mutex_);
        return FakeAudioBackend::defaultInputDevice();
    }
    std::optional<int> defaultOutputDevice() override {
        std::lock_guard lock(mutex_);
        return FakeAudioBackend::defaultOutputDevice();
    }
    std::unique_ptr<AudioStream> openStream(const AudioStreamParameters& parameters,
                                            AudioStreamClient& client,
                                            std::string& error) override {
        std::lock_guard lock(mutex_);
        return FakeAudioBackend::openStream(parameters, client, error);
    }
    bool refresh() override {
        std::lock_guard lock(mutex_);
        return FakeAudioBackend::refresh();
    }
    /// refreshCount(), while another thread may refresh.
    int refreshesSoFar() {
        std::lock_guard lock(mutex_);
        return refreshCount();
    }
    /// Runs `change` (devices added or removed, defaults set) while no other thread asks.
    void changeDevices(const std::function<void(FakeAudioBackend&)>& change) {
        std::lock_guard lock(mutex_);
        change(*this);
    }
    std::string absence() override {
        std::lock_guard lock(mutex_);
        return absence_;
    }
    void setAbsence(std::string words) {
        std::lock_guard lock(mutex_);
        absence_ = std::move(words);
    }

  private:
    std::mutex mutex_;
    std::string absence_;
};

/// While it lives, the shared audio backend (AudioBackend::shared()) is a fake one and
/// makeSystemMidiBackend(), which the remote calls as it is put together, makes a fake MIDI
/// system; both go back to the machine's when it goes. By default they are audio(), emptied (no
/// devices, no absence), and a MemoryMidiBackend with no ports for each remote made.
///
/// Made before the remote and dropped after everything it made (the audio engine included): as
/// a test fixture's first member, so that it outlives the fixture's TearDown().
class FakeSoundBackends {
  public:
    using MidiMaker = std::function<std::unique_ptr<MidiBackend>()>;

    FakeSoundBackends()
        : FakeSoundBackends(emptied(audio()),
                            [] { return std::make_unique<MemoryMidiBackend>(); }) {}
    /// `audio` (not owned: it must outlive every thread that may still ask it) and the backends
    /// `midi` makes instead, such as ones that block.
    FakeSoundBackends(AudioBackend& audio, MidiMaker midi) {
        AudioBackend::setShared(&audio);
        setSystemMidiBackendMaker(std::move(midi));
    }
    ~FakeSoundBackends() {
        setSystemMidiBackendMaker(nullptr);
        AudioBackend::setShared(nullptr);
    }
    FakeSoundBackends(const FakeSoundBackends&) = delete;
    FakeSoundBackends& operator=(const FakeSoundBackends&) = delete;

    /// The default fake audio backend: one for the process, never destroyed, since the
    /// connection dialog's device list is read on another thread, which may still ask it as a
    /// test ends. A test adds devices or sets an absence after the fixture has made this object.
    static FakeAudioBackendWithAbsence& audio() {
        static auto* backend = new FakeAudioBackendWithAbsence();
        return *backend;
    }

  private:
    static FakeAudioBackendWithAbsence& emptied(FakeAudioBackendWithAbsence& backend) {
        // A look of the test before may still be under way.
        backend.changeDevices([](FakeAudioBackend& devices) {
            devices.startAfresh();
            devices.setAcceptedRates({});
        });
        backend.setAbsence({});
        return backend;
    }
};

}  // namespace quenbril::test

#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quenbril {

/// One device as a host's audio system lists it. `index` is this run's number for it (it may
/// change after the backend re-enumerates); the channel counts are per stream, since a device may
/// group its channels in several streams.
struct AudioBackendDevice {
    int index = 0;
    std::string name;
    std::string hostAPI;
    std::vector<int> inputStreams;
    std::vector<int> outputStreams;
    double defaultSampleRate = 0.0;
};

/// What a stream opens: non-interleaved float32 channels of one device for input, output or both.
struct AudioStreamParameters {
    int device = -1;
    int inputChannels = 0;
    int outputChannels = 0;
    double sampleRate = 48000.0;
    int framesPerBuffer = 128;
};

/// The code an open stream calls on its audio thread for each period. It must not lock,
/// allocate, log or do I/O. `inputs` holds one buffer per input channel (or is null without
/// inputs), `outputs` one per output channel; `underrun` is set when the host reports that a
/// period was missed before this one.
class AudioStreamClient {
  public:
    virtual ~AudioStreamClient() = default;
    virtual void process(const float* const* inputs, float* const* outputs, int frames,
                         bool underrun) = 0;
};

/// An open stream. Main thread: start, stop, and the state queries.
class AudioStream {
  public:
    virtual ~AudioStream() = default;
    virtual bool start() = 0;
    virtual void stop() = 0;
    /// True while started and delivering periods; false once the host stopped it on its own (the
    /// device went away).
    virtual bool isActive() const = 0;
    /// True when the host ended the stream without being asked to.
    virtual bool stoppedByHost() const = 0;
    virtual double sampleRate() const = 0;
    /// The fraction of a period the callback takes, 0..1, as the host measures it.
    virtual double cpuLoad() const = 0;
};

/// The machine's audio devices and streams on them. One backend per process (the application
/// uses the system one, JACK and PortAudio joined; tests install a fake). Main thread only unless
/// said otherwise.
class AudioBackend {
  public:
    virtual ~AudioBackend() = default;

    /// Every device, in the host's order.
    virtual std::vector<AudioBackendDevice> devices() = 0;
    virtual std::optional<int> defaultInputDevice() = 0;
    virtual std::optional<int> defaultOutputDevice() = 0;
    /// Opens a stream, or returns null and fills `error`.
    virtual std::unique_ptr<AudioStream> openStream(const AudioStreamParameters& parameters,
                                                    AudioStreamClient& client,
                                                    std::string& error) = 0;
    /// Asks the host for its device list again. A host can only while none of its streams is
    /// open: one made of several hosts refreshes those it can. Returns whether every one did.
    virtual bool refresh() = 0;
    /// Lets go of the host (its connections to a sound server) until the next refresh; only
    /// while no stream is open. A server about to be stopped on purpose is let go of first.
    virtual void release() {}
    /// A count that grows whenever the host's devices may have changed (a sound server came or
    /// went, a sound card was plugged in or out). A unit waiting for its device has the host look
    /// again only when it grew, since a look may need the streams on that host closed. Cheap,
    /// from any thread.
    virtual uint64_t deviceChanges() const { return 0; }
    /// deviceChanges() as the host began the look its list comes from. One who starts watching
    /// the count later starts from this: a change that came after the look, which nobody has
    /// looked for yet, is still one to look for. By default the count now, for a host that
    /// keeps no count of its own.
    virtual uint64_t lookedAtChanges() const { return deviceChanges(); }
    /// Streams of this backend that are open now.
    virtual int openStreamCount() const = 0;
    /// Words for the user on a host that gives no devices now ("No JACK server is running", "The
    /// JACK library does not answer"); empty while every host answers.
    virtual std::string absence() { return {}; }

    /// The process's backend: the one installed, else the system backend, made on first use.
    static AudioBackend& shared();
    /// Tests: installs `backend` (not owned) as the shared one; null goes back to the system one.
    static void setShared(AudioBackend* backend);
};

}  // namespace quenbril

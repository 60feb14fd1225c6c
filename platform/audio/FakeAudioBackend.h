#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "platform/audio/AudioBackend.h"

namespace quenbril {

/// A backend without hardware for tests and benchmarks: a settable device list, and streams
/// whose periods run when the test pumps them on its own thread. Rates a device refuses make
/// openStream fail, as a host would.
///
/// It keeps the real hosts' rule: what a test sets (devices added or removed, defaults) is the
/// machine, which the host lists as it was at its first question and then only once it looks
/// again (refresh), and it cannot look while one of its streams is open. Every change after the
/// first question counts in deviceChanges(), as a host's watch on its cards would. A device
/// listed that the machine no longer has does not open, and a stream open on a device the machine
/// loses is ended by the host at once, as a card pulled out ends its streams on every real host.
class FakeAudioBackend : public AudioBackend {
  public:
    struct FakeStream;

    std::vector<AudioBackendDevice> devices() override;
    std::optional<int> defaultInputDevice() override;
    std::optional<int> defaultOutputDevice() override;
    std::unique_ptr<AudioStream> openStream(const AudioStreamParameters& parameters,
                                            AudioStreamClient& client, std::string& error) override;
    bool refresh() override;
    uint64_t deviceChanges() const override { return changes_.load(); }
    uint64_t lookedAtChanges() const override { return lookedAt_.load(); }
    int openStreamCount() const override {
        std::lock_guard lock(streamsLock_);
        return static_cast<int>(streams_.size());
    }

    /// Adds a device; its index is its position. Returns the index.
    int addDevice(AudioBackendDevice device);
    /// Adds a device of the fake host with one stream of `inputs` and one of `outputs` channels
    /// (none where 0).
    int addDevice(const std::string& name, int inputs, int outputs, double rate = 48000.0);
    /// Takes the device called `name` off the machine, as a card pulled out: the devices after it
    /// move down one index, and a default it was goes.
    void removeDevice(const std::string& name);
    void removeAllDevices();
    /// No devices, and a host as if never asked: its next question looks.
    void startAfresh();
    void setDefaultInputDevice(std::optional<int> index);
    void setDefaultOutputDevice(std::optional<int> index);
    /// Rates every device accepts; by default only its own default rate.
    void setAcceptedRates(std::vector<double> rates) { acceptedRates_ = std::move(rates); }
    /// Times the host looked again (refreshes that were not refused).
    int refreshCount() const { return refreshCount_; }
    /// Times a refresh was asked for, refused or not.
    int refreshesAsked() const { return refreshesAsked_; }
    /// Opens asked for, whether they opened or not.
    int openCount() const { return openCount_; }
    /// While set, every open fails, or every start, as a host that does not answer yet.
    void setOpensFail(bool fail) { opensFail_ = fail; }
    void setStartsFail(bool fail) { startsFail_ = fail; }
    /// While set, opens of the device called `name` fail, as of a card another program holds.
    void setBusy(const std::string& name, bool busy);

    /// The most recently opened stream that is still open, or null.
    FakeStream* lastStream() const {
        std::lock_guard lock(streamsLock_);
        return streams_.empty() ? nullptr : streams_.back();
    }

    /// An open stream: pump() runs one period with the inputs the test set.
    struct FakeStream : AudioStream {
        FakeStream(FakeAudioBackend& owner, AudioBackendDevice device,
                   AudioStreamParameters parameters, AudioStreamClient& client);
        ~FakeStream() override;
        bool start() override;
        void stop() override { running = false; }
        bool isActive() const override { return running && !lost; }
        bool stoppedByHost() const override { return lost; }
        double sampleRate() const override { return parameters.sampleRate; }
        double cpuLoad() const override { return 0.25; }

        /// Runs one period of `frames` (at most 4096) when started, with the samples the test
        /// wrote into `inputs`; every output sample starts as 99, so unwritten ones show.
        void pump(int frames, bool underrun = false);
        /// The host ends the stream for a reason of its own, as when its server dies (a device
        /// that leaves the machine ends its streams without this).
        void lose() { lost = true; }
        float output(int channel, int frame) const {
            return outputs[static_cast<size_t>(channel)][static_cast<size_t>(frame)];
        }

        FakeAudioBackend& owner;
        /// The machine's device the stream plays on.
        const AudioBackendDevice device;
        AudioStreamParameters parameters;
        AudioStreamClient& client;
        // Atomic: the host may end the stream on one thread while another runs or asks it.
        std::atomic<bool> running{false};
        std::atomic<bool> lost{false};
        /// Its device left the machine: it never starts again.
        std::atomic<bool> deviceGone{false};
        std::vector<std::vector<float>> inputs;
        std::vector<std::vector<float>> outputs;
        std::vector<const float*> inputPointers;
        std::vector<float*> outputPointers;
    };

  private:
    friend struct FakeStream;
    struct Machine {
        std::vector<AudioBackendDevice> devices;
        std::optional<int> defaultInput;
        std::optional<int> defaultOutput;
    };
    /// The list as the host saw it at its last look; the first question looks.
    const Machine& listed();
    /// The machine listed as it is now, and the count the list is of.
    void look();
    void changed();
    /// The machine's device that `device` is, found as the host finds it; null when it is gone.
    const AudioBackendDevice* onMachine(const AudioBackendDevice& device) const;
    /// Ends every open stream whose device the machine no longer has.
    void endStreamsOfDevicesGone();

    Machine machine_;
    Machine listed_;
    bool looked_ = false;
    std::atomic<uint64_t> changes_{0};
    /// changes_ as the host last looked.
    std::atomic<uint64_t> lookedAt_{0};
    int openCount_ = 0;
    std::vector<double> acceptedRates_;
    // Locked on its own: a stream may close on one thread while another thread refreshes.
    mutable std::mutex streamsLock_;
    std::vector<FakeStream*> streams_;
    int refreshCount_ = 0;
    int refreshesAsked_ = 0;
    std::vector<std::string> busy_;
    bool opensFail_ = false;
    bool startsFail_ = false;
};

}  // namespace quenbril

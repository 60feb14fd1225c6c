#include "platform/audio/JackAudioBackend.h"

#include <jack/jack.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <utility>

#include "foundation/CallbackGate.h"
#include "foundation/KeptToProcessEnd.h"
#include "platform/jack/JackClients.h"
#include "platform/jack/JackServerPresence.h"

namespace quenbril {

namespace {

void ignoreJackMessage(const char*) {}

/// A client, or null when no server answers (or none can be there); called under
/// JackClients::opening().
jack_client_t* openClient() {
    jack_status_t status{};
    return JackServerPresence::open(JackAudioBackend::kClientName, &status);
}

/// The full names of the physical ports with `flags`, in the server's order.
std::vector<std::string> physicalPorts(jack_client_t* client, unsigned long flags) {
    std::vector<std::string> names;
    const char** ports =
        jack_get_ports(client, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsPhysical | flags);
    if (!ports) return names;
    for (const char** port = ports; *port; ++port) names.emplace_back(*port);
    jack_free(ports);
    return names;
}

std::string clientOf(const std::string& port) { return port.substr(0, port.find(':')); }

// Streams a server ended, in the whole process (libjack's shutdown threads count them).
std::atomic<uint64_t> serverEnds{0};

}  // namespace

struct JackAudioBackend::Shared {
    std::atomic<int> openStreams{0};
};

class JackAudioBackend::Stream : public AudioStream {
  public:
    Stream(std::shared_ptr<Shared> shared, AudioStreamClient& client, int framesPerBuffer)
        : shared_(std::move(shared)),
          client_(client),
          framesPerBuffer_(std::max(1, framesPerBuffer)) {
        shared_->openStreams.fetch_add(1);
        callbacks_->stream = this;
    }

    ~Stream() override {
        release();
        shared_->openStreams.fetch_sub(1);
    }

    bool open(const AudioStreamParameters& p, const Device& device, std::string& error) {
        inputChannels_ = p.inputChannels;
        outputChannels_ = p.outputChannels;
        wantedRate_ = p.sampleRate;
        capturePorts_ = device.capturePorts;
        playbackPorts_ = device.playbackPorts;
        return join(error);
    }

    bool start() override {
        if (!jack_ && !callbacks_->shutdown) {
            std::string error;
            if (!join(error)) {
                release();
                return false;
            }
        }
        auto held = JackClients::inUse();
        if (!jack_ || callbacks_->shutdown) return false;
        if (callbacks_->playing.load()) return true;
        callbacks_->playing.store(true);
        // Our ports go to the device's in order; a device with fewer ports leaves the rest open.
        for (size_t k = 0; k < outputs_.size() && k < playbackPorts_.size(); ++k) {
            jack_connect(jack_, jack_port_name(outputs_[k]), playbackPorts_[k].c_str());
        }
        for (size_t k = 0; k < inputs_.size() && k < capturePorts_.size(); ++k) {
            jack_connect(jack_, capturePorts_[k].c_str(), jack_port_name(inputs_[k]));
        }
        return true;
    }

    // A client open but inactive still takes in the server's news of departures, unmapping
    // slots in libjack's table, while the arrival gate hears nothing from it: a stopped stream
    // keeps no client, and a start opens one again.
    void stop() override {
        if (jack_ && callbacks_->playing.load()) release();
    }

    bool isActive() const override {
        return jack_ && callbacks_->playing.load() && !callbacks_->shutdown;
    }
    bool stoppedByHost() const override { return callbacks_->shutdown; }
    double sampleRate() const override { return rate_; }
    double cpuLoad() const override {
        auto held = JackClients::inUse();
        return jack_ && !callbacks_->shutdown ? std::clamp(jack_cpu_load(jack_) / 100.0, 0.0, 1.0)
                                              : 0.0;
    }

  private:
    // Opens the client and starts it, silent until the stream starts: from its open on it is
    // active, so the arrival gate hears the news it reads. Under opening() throughout, as no
    // other client of ours may open before it is active. One that does not become active is
    // closed in the same hold: inactive, it still takes in the departures of our clients that
    // close, unheard by the gate, and only there can none of them close first.
    bool join(std::string& error) {
        callbacks_ = std::make_unique<Callbacks>();
        callbacks_->stream = this;
        auto opening = JackClients::opening();
        jack_ = openClient();
        if (!jack_) {
            error = "The JACK server is not running";
            return false;
        }
        JackClients::track(jack_, callbacks_->shutdown);
        if (fitAndActivate(error)) return true;
        releaseHeld();
        return false;
    }

    // The opened client, fitted with its ports and callbacks and activated.
    bool fitAndActivate(std::string& error) {
        rate_ = jack_get_sample_rate(jack_);
        if (wantedRate_ != rate_) {
            error = "The JACK server runs at " + std::to_string(static_cast<int>(rate_)) + " Hz";
            return false;
        }
        inputs_.clear();
        outputs_.clear();
        if (!registerPorts("in_", inputChannels_, JackPortIsInput, inputs_) ||
            !registerPorts("out_", outputChannels_, JackPortIsOutput, outputs_)) {
            error = "The JACK server refused a port";
            return false;
        }
        inputBuffers_.assign(inputs_.size(), nullptr);
        outputBuffers_.assign(outputs_.size(), nullptr);
        inputSlices_.assign(inputs_.size(), nullptr);
        outputSlices_.assign(outputs_.size(), nullptr);
        jack_set_process_callback(jack_, &Stream::processCallback, callbacks_.get());
        jack_set_xrun_callback(jack_, &Stream::xrunCallback, callbacks_.get());
        jack_on_info_shutdown(jack_, &Stream::shutdownCallback, callbacks_.get());
        if (JackClients::activate(jack_) != 0) {
            error = "The JACK server did not start the stream's client";
            return false;
        }
        return true;
    }

    // A client of a server that went away is let go, not closed: libjack frees every client
    // of a dead server itself the next time any client of the process opens, and closing one
    // afterwards would free it twice; so is one whose server stopped answering before the stream
    // heard of its end (JackClients::closeUnlessGone). Its thread may still tell of the server's
    // end, or finish a cycle, after this: what it reaches lives on, and the stream keeps saying
    // the host ended it.
    void release() {
        if (!jack_) return;
        auto held = JackClients::inUse();
        releaseHeld();
    }

    // release(), for a caller holding inUse() or opening().
    void releaseHeld() {
        jack_client_t* client = std::exchange(jack_, nullptr);
        if (JackClients::forgetAndClose(client, callbacks_.get())) {
            callbacks_->playing.store(false);
            return;
        }
        callbacks_->cycles.close();
        keepToProcessEnd(std::move(callbacks_));
        callbacks_ = std::make_unique<Callbacks>();
        callbacks_->shutdown.store(true);
    }

    bool registerPorts(const char* prefix, int count, unsigned long flags,
                       std::vector<jack_port_t*>& ports) {
        for (int k = 1; k <= count; ++k) {
            const std::string name = prefix + std::to_string(k);
            jack_port_t* port =
                jack_port_register(jack_, name.c_str(), JACK_DEFAULT_AUDIO_TYPE, flags, 0);
            if (!port) return false;
            ports.push_back(port);
        }
        return true;
    }

    // What libjack's threads reach: the stream's cycles while it is there, and the flags they
    // set.
    struct Callbacks {
        Stream* stream = nullptr;
        // Closed when a dead server's stream goes: a cycle may be finishing then.
        CallbackGate cycles;
        std::atomic<bool> xrun{false};
        std::atomic<bool> shutdown{false};
        // Started: the cycles play the stream's sound, and silence before.
        std::atomic<bool> playing{false};
    };

    static int processCallback(jack_nframes_t frames, void* context) {
        auto* callbacks = static_cast<Callbacks*>(context);
        callbacks->cycles.pass([&] {
            // Acquire: what the owner set up before the start is seen by the cycles after it,
            // as the thread ran before the start.
            if (callbacks->playing.load(std::memory_order_acquire)) {
                callbacks->stream->cycle(frames);
            } else {
                callbacks->stream->silence(frames);
            }
        });
        return 0;
    }

    static int xrunCallback(void* context) {
        static_cast<Callbacks*>(context)->xrun.store(true, std::memory_order_relaxed);
        return 0;
    }

    static void shutdownCallback(jack_status_t, const char*, void* context) {
        static_cast<Callbacks*>(context)->shutdown.store(true);
        serverEnds.fetch_add(1);
    }

    void silence(jack_nframes_t frames) {
        for (jack_port_t* port : outputs_) {
            auto* buffer = static_cast<float*>(jack_port_get_buffer(port, frames));
            std::fill(buffer, buffer + frames, 0.0f);
        }
    }

    // The audio thread: hands the period over in slices of the size the stream was opened with.
    void cycle(jack_nframes_t frames) {
        for (size_t k = 0; k < inputs_.size(); ++k) {
            inputBuffers_[k] = static_cast<float*>(jack_port_get_buffer(inputs_[k], frames));
        }
        for (size_t k = 0; k < outputs_.size(); ++k) {
            outputBuffers_[k] = static_cast<float*>(jack_port_get_buffer(outputs_[k], frames));
        }
        const int total = static_cast<int>(frames);
        for (int done = 0; done < total;) {
            const int slice = std::min(framesPerBuffer_, total - done);
            for (size_t k = 0; k < inputBuffers_.size(); ++k) {
                inputSlices_[k] = inputBuffers_[k] + done;
            }
            for (size_t k = 0; k < outputBuffers_.size(); ++k) {
                outputSlices_[k] = outputBuffers_[k] + done;
            }
            client_.process(inputSlices_.empty() ? nullptr : inputSlices_.data(),
                            outputSlices_.data(), slice,
                            callbacks_->xrun.exchange(false, std::memory_order_relaxed));
            done += slice;
        }
    }

    std::shared_ptr<Shared> shared_;
    AudioStreamClient& client_;
    const int framesPerBuffer_;
    jack_client_t* jack_ = nullptr;
    int inputChannels_ = 0;
    int outputChannels_ = 0;
    double wantedRate_ = 0.0;
    double rate_ = 0.0;
    std::vector<jack_port_t*> inputs_;
    std::vector<jack_port_t*> outputs_;
    std::vector<std::string> capturePorts_;
    std::vector<std::string> playbackPorts_;
    // The audio thread's own pointer tables, made before the client is activated.
    std::vector<float*> inputBuffers_;
    std::vector<float*> outputBuffers_;
    std::vector<const float*> inputSlices_;
    std::vector<float*> outputSlices_;
    // Made anew for each client; kept to the end of the process when the client is left to
    // libjack.
    std::unique_ptr<Callbacks> callbacks_ = std::make_unique<Callbacks>();
};

JackAudioBackend::JackAudioBackend() : shared_(std::make_shared<Shared>()) {
    silenceMessages();
    devices_ = enumerate();
}

JackAudioBackend::~JackAudioBackend() = default;

void JackAudioBackend::silenceMessages() {
    jack_set_error_function(ignoreJackMessage);
    jack_set_info_function(ignoreJackMessage);
}

std::vector<JackAudioBackend::Device> JackAudioBackend::enumerate() {
    lookedAt_.store(deviceChanges());
    std::vector<Device> list;
    // The look's client lives under the opening lock: no other open can free it meanwhile.
    auto opening = JackClients::opening();
    jack_client_t* client = openClient();
    absent_.store(client == nullptr);
    if (!client) {
        // A socket that did not answer may be a server still starting: looked at again once
        // it is worth another open, though the socket stays the same.
        lookAgainWhenWorth_.store(JackServerPresence::socketMayBeStarting());
        return list;
    }
    lookAgainWhenWorth_.store(false);
    const double rate = jack_get_sample_rate(client);
    std::map<std::string, size_t> byClient;
    auto deviceFor = [&](const std::string& port) -> Device& {
        const std::string name = clientOf(port);
        auto [entry, added] = byClient.emplace(name, list.size());
        if (added) {
            Device device;
            device.info.index = static_cast<int>(list.size());
            device.info.name = name;
            device.info.hostAPI = kHostAPIName;
            device.info.defaultSampleRate = rate;
            list.push_back(std::move(device));
        }
        return list[entry->second];
    };
    // A physical port that produces audio is a capture port, one that takes it a playback port.
    for (const auto& port : physicalPorts(client, JackPortIsOutput)) {
        deviceFor(port).capturePorts.push_back(port);
    }
    for (const auto& port : physicalPorts(client, JackPortIsInput)) {
        deviceFor(port).playbackPorts.push_back(port);
    }
    // A look whose server went away meanwhile is let go, as libjack's thread may be reporting it.
    JackClients::closeUnlessGone(client, nullptr);
    for (auto& device : list) {
        if (!device.capturePorts.empty()) {
            device.info.inputStreams = {static_cast<int>(device.capturePorts.size())};
        }
        if (!device.playbackPorts.empty()) {
            device.info.outputStreams = {static_cast<int>(device.playbackPorts.size())};
        }
    }
    return list;
}

std::vector<AudioBackendDevice> JackAudioBackend::devices() {
    std::lock_guard lock(mutex_);
    std::vector<AudioBackendDevice> list;
    for (const auto& device : devices_) list.push_back(device.info);
    return list;
}

std::optional<int> JackAudioBackend::defaultInputDevice() {
    std::lock_guard lock(mutex_);
    for (const auto& device : devices_) {
        if (!device.capturePorts.empty()) return device.info.index;
    }
    return std::nullopt;
}

std::optional<int> JackAudioBackend::defaultOutputDevice() {
    std::lock_guard lock(mutex_);
    for (const auto& device : devices_) {
        if (!device.playbackPorts.empty()) return device.info.index;
    }
    return std::nullopt;
}

std::unique_ptr<AudioStream> JackAudioBackend::openStream(const AudioStreamParameters& parameters,
                                                          AudioStreamClient& client,
                                                          std::string& error) {
    Device device;
    {
        std::lock_guard lock(mutex_);
        if (parameters.device < 0 || parameters.device >= static_cast<int>(devices_.size())) {
            error = "No such JACK device";
            return nullptr;
        }
        device = devices_[static_cast<size_t>(parameters.device)];
    }
    if (parameters.inputChannels > static_cast<int>(device.capturePorts.size()) ||
        parameters.outputChannels > static_cast<int>(device.playbackPorts.size())) {
        error = "The JACK device has fewer channels";
        return nullptr;
    }
    auto stream = std::make_unique<Stream>(shared_, client, parameters.framesPerBuffer);
    if (!stream->open(parameters, device, error)) return nullptr;
    return stream;
}

bool JackAudioBackend::refresh() {
    if (openStreamCount() > 0) return false;
    auto list = enumerate();
    std::lock_guard lock(mutex_);
    devices_ = std::move(list);
    return true;
}

uint64_t JackAudioBackend::deviceChanges() const {
    const auto identity = JackServerPresence::socketIdentity();
    std::pair<uint64_t, uint64_t> socket{0, 0};
    if (identity) socket = {identity->device, identity->inode};
    const bool lookDue = lookAgainWhenWorth_.load() && JackServerPresence::worthAnOpenOn(identity);
    std::lock_guard lock(socketMutex_);
    if (socket != socket_) {
        socket_ = socket;
        ++socketChanges_;
    } else if (lookDue && lookAgainWhenWorth_.exchange(false)) {
        ++socketChanges_;
    }
    return socketChanges_ + serverEnds.load();
}

uint64_t JackAudioBackend::lookedAtChanges() const { return lookedAt_.load(); }

int JackAudioBackend::openStreamCount() const { return shared_->openStreams.load(); }

std::string JackAudioBackend::absence() {
    return absent_.load() ? "No JACK server is running" : std::string();
}

}  // namespace quenbril

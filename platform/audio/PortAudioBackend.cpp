#include "platform/audio/PortAudioBackend.h"

#include <alsa/asoundlib.h>
#include <dirent.h>
#include <jack/jack.h>
#include <pa_jack.h>
#include <portaudio.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "foundation/Log.h"
#include "platform/audio/JackAudioBackend.h"
#include "platform/audio/SoundCardWatch.h"
#include "platform/jack/JackClients.h"

namespace quenbril {

namespace {

void ignoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

// PortAudio's JACK host cannot close a stream, nor terminate, once its server died under it, so
// JACK is served by our own libjack backend. PortAudio has no switch for one host API; a client
// name one character longer than JACK accepts keeps its JACK host from ever connecting.
const std::string& refusedJackClientName() {
    static const std::string name(static_cast<size_t>(jack_client_name_size()), 'q');
    return name;
}

// What tells the sound cards apart: their device nodes and the kernel's list. PortAudio is
// started again only when it changed, since each start also opens a JACK client (its JACK host's
// look), and each open passes through libjack's shared store.
std::string soundCardsFingerprint() {
    std::string print;
    if (DIR* folder = ::opendir("/dev/snd")) {
        std::vector<std::string> names;
        while (const dirent* entry = ::readdir(folder)) names.emplace_back(entry->d_name);
        ::closedir(folder);
        std::sort(names.begin(), names.end());
        for (const auto& name : names) print += name + '\n';
    }
    if (std::FILE* cards = std::fopen("/proc/asound/cards", "r")) {
        char buffer[4096];
        size_t read = 0;
        while ((read = std::fread(buffer, 1, sizeof buffer, cards)) > 0) print.append(buffer, read);
        std::fclose(cards);
    }
    return print;
}

}  // namespace

struct PortAudioBackend::State {
    dispatch::QueuePtr queue = dispatch::Queue::makeSerial("quenbril.portaudio");
    bool initialized = false;
    std::string cards;
    std::atomic<int> openStreams{0};
    SoundCardWatch cardWatch;
    /// cardWatch's changes as the latest look began.
    std::atomic<uint64_t> lookedAt{0};

    // On the queue: the cards looked at, PortAudio started anew only where they changed.
    void look() {
        lookedAt.store(cardWatch.changes());
        if (initialized && cards == soundCardsFingerprint()) return;
        if (initialized) Pa_Terminate();
        initialize();
    }

    // On the queue.
    void initialize() {
        cards = soundCardsFingerprint();
        snd_lib_error_set_handler(ignoreAlsaError);
        JackAudioBackend::silenceMessages();
        PaJack_SetClientName(refusedJackClientName().c_str());
        // Its JACK host still calls libjack's open, which may free a gone server's clients.
        auto opening = JackClients::opening();
        const PaError result = Pa_Initialize();
        initialized = result == paNoError;
        if (!initialized) QLOG("The audio system could not start: %s", Pa_GetErrorText(result));
    }
};

class PortAudioBackend::Stream : public AudioStream {
  public:
    Stream(std::shared_ptr<State> state, AudioStreamClient& client)
        : state_(std::move(state)), client_(client) {}

    ~Stream() override {
        state_->queue->sync([this] {
            if (!stream_) return;
            stopping_ = true;
            Pa_CloseStream(stream_);
            stream_ = nullptr;
        });
        state_->openStreams.fetch_sub(1);
    }

    bool open(const AudioStreamParameters& p, std::string& error) {
        PaError result = paNoError;
        state_->queue->sync([&] {
            if (!state_->initialized) {
                result = paNotInitialized;
                return;
            }
            PaStreamParameters in{}, out{};
            in.device = out.device = p.device;
            in.channelCount = p.inputChannels;
            out.channelCount = p.outputChannels;
            in.sampleFormat = out.sampleFormat = paFloat32 | paNonInterleaved;
            if (const PaDeviceInfo* info = Pa_GetDeviceInfo(p.device)) {
                in.suggestedLatency = info->defaultLowInputLatency;
                out.suggestedLatency = info->defaultLowOutputLatency;
            }
            result = Pa_OpenStream(&stream_, p.inputChannels > 0 ? &in : nullptr,
                                   p.outputChannels > 0 ? &out : nullptr, p.sampleRate,
                                   static_cast<unsigned long>(p.framesPerBuffer), paNoFlag,
                                   &Stream::callback, this);
            if (result != paNoError) {
                stream_ = nullptr;
                return;
            }
            Pa_SetStreamFinishedCallback(stream_, &Stream::finished);
            if (const PaStreamInfo* info = Pa_GetStreamInfo(stream_)) rate_ = info->sampleRate;
        });
        state_->openStreams.fetch_add(1);
        if (result != paNoError) state_->queue->sync([&] { error = Pa_GetErrorText(result); });
        return result == paNoError;
    }

    bool start() override {
        PaError result = paNoError;
        std::string error;
        state_->queue->sync([&] {
            stopping_ = false;
            stoppedByHost_ = false;
            result = stream_ ? Pa_StartStream(stream_) : paBadStreamPtr;
            if (result != paNoError) error = Pa_GetErrorText(result);
        });
        if (!error.empty()) QLOG("The audio stream did not start: %s", error.c_str());
        return result == paNoError;
    }

    void stop() override {
        state_->queue->sync([this] {
            stopping_ = true;
            if (stream_ && Pa_IsStreamStopped(stream_) == 0) Pa_StopStream(stream_);
        });
    }

    bool isActive() const override {
        bool active = false;
        state_->queue->sync([&] { active = stream_ && Pa_IsStreamActive(stream_) == 1; });
        return active && !stoppedByHost_;
    }

    bool stoppedByHost() const override { return stoppedByHost_; }
    double sampleRate() const override { return rate_; }

    double cpuLoad() const override {
        double load = 0.0;
        state_->queue->sync([&] { load = stream_ ? Pa_GetStreamCpuLoad(stream_) : 0.0; });
        return load;
    }

  private:
    static int callback(const void* input, void* output, unsigned long frames,
                        const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags flags,
                        void* context) {
        auto* self = static_cast<Stream*>(context);
        self->client_.process(static_cast<const float* const*>(input),
                              static_cast<float* const*>(output), static_cast<int>(frames),
                              (flags & paOutputUnderflow) != 0);
        return paContinue;
    }

    static void finished(void* context) {
        auto* self = static_cast<Stream*>(context);
        if (!self->stopping_) self->stoppedByHost_ = true;
    }

    std::shared_ptr<State> state_;
    AudioStreamClient& client_;
    PaStream* stream_ = nullptr;
    double rate_ = 0.0;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> stoppedByHost_{false};
};

PortAudioBackend::PortAudioBackend() : state_(std::make_shared<State>()) {
    state_->queue->sync([this] { state_->look(); });
}

PortAudioBackend::~PortAudioBackend() {
    state_->queue->sync([this] {
        if (state_->initialized) Pa_Terminate();
        state_->initialized = false;
    });
}

std::vector<AudioBackendDevice> PortAudioBackend::devices() {
    std::vector<AudioBackendDevice> list;
    state_->queue->sync([&] {
        if (!state_->initialized) return;
        const int count = Pa_GetDeviceCount();
        for (int index = 0; index < count; ++index) {
            const PaDeviceInfo* info = Pa_GetDeviceInfo(index);
            if (!info) continue;
            AudioBackendDevice device;
            device.index = index;
            device.name = info->name ? info->name : "";
            if (const PaHostApiInfo* host = Pa_GetHostApiInfo(info->hostApi)) {
                device.hostAPI = host->name ? host->name : "";
            }
            if (info->maxInputChannels > 0) device.inputStreams = {info->maxInputChannels};
            if (info->maxOutputChannels > 0) device.outputStreams = {info->maxOutputChannels};
            device.defaultSampleRate = info->defaultSampleRate;
            list.push_back(std::move(device));
        }
    });
    return list;
}

std::optional<int> PortAudioBackend::defaultInputDevice() {
    std::optional<int> device;
    state_->queue->sync([&] {
        if (!state_->initialized) return;
        const PaDeviceIndex index = Pa_GetDefaultInputDevice();
        if (index != paNoDevice) device = index;
    });
    return device;
}

std::optional<int> PortAudioBackend::defaultOutputDevice() {
    std::optional<int> device;
    state_->queue->sync([&] {
        if (!state_->initialized) return;
        const PaDeviceIndex index = Pa_GetDefaultOutputDevice();
        if (index != paNoDevice) device = index;
    });
    return device;
}

std::unique_ptr<AudioStream> PortAudioBackend::openStream(const AudioStreamParameters& parameters,
                                                          AudioStreamClient& client,
                                                          std::string& error) {
    auto stream = std::make_unique<Stream>(state_, client);
    if (!stream->open(parameters, error)) return nullptr;
    return stream;
}

bool PortAudioBackend::refresh() {
    if (state_->openStreams.load() > 0) return false;
    state_->queue->sync([this] { state_->look(); });
    return true;
}

void PortAudioBackend::release() {
    if (state_->openStreams.load() > 0) return;
    state_->queue->sync([this] {
        if (state_->initialized) Pa_Terminate();
        state_->initialized = false;
    });
}

uint64_t PortAudioBackend::deviceChanges() const { return state_->cardWatch.changes(); }

uint64_t PortAudioBackend::lookedAtChanges() const { return state_->lookedAt.load(); }

int PortAudioBackend::openStreamCount() const { return state_->openStreams.load(); }

}  // namespace quenbril

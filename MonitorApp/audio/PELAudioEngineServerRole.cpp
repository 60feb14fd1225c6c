// The server role of the engine: device set-up, capture, mixing, metering, the fault analysis,
// the level and stream sends and the output of the monitor mix.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <numbers>

#include "MonitorApp/ATAudio/RingIndices.h"
#include "MonitorApp/audio/FaultDetectors.h"
#include "MonitorApp/audio/PELAudioEngine.h"
#include "MonitorApp/audio/SampleStatistics.h"
#include "MonitorApp/settings/ChannelStripModel.h"
#include "MonitorApp/settings/ChannelStripState.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/Log.h"

namespace quenbril {

namespace {

// Level sends gather these columns per strip besides the levels.
enum RfColumn { kRf, kRfA, kRfB, kRfC, kRfD, kQuality };

// Figures from receiver drivers leave as bytes of 0..100.
int8_t receiverByte(int value) { return static_cast<int8_t>(std::clamp(value, 0, 100)); }

// The rate the timers and the overload line assume.
constexpr double kNominalRate = 48000.0;

}  // namespace

// ---- Services ----

void PELAudioEngine::setStrips(ServerRoleStrips* strips) {
    strips_ = strips;
    publishMix();
}

void PELAudioEngine::setLinks(ServerRoleLinks* links) {
    links_ = links;
    publishMix();
    // The old links' rings may go once no audio callback holds a snapshot naming them.
    mix_.drain();
}

void PELAudioEngine::publishMix() {
    auto next = std::make_unique<MixSnapshot>();
    if (strips_) {
        const int count = std::min(strips_->stripCount(), kMaxStrips);
        next->strips.reserve(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i) {
            next->strips.push_back(StripMix::of(strips_->stripModel(i), strips_->stripState(i)));
        }
    }
    if (links_) {
        for (int slot = 0; slot < links_->clientCount(); ++slot) {
            if (links_->clientIsFree(slot)) continue;
            ClientMix client;
            client.ring = links_->clientBlockRing(slot);
            if (!client.ring) continue;
            for (const ServerRoleLinks::ClientStrip& strip : links_->clientStrips(slot)) {
                if (client.strips.size() == kMaxStrips) break;
                if (strip.model && strip.state) {
                    client.strips.push_back(StripMix::of(*strip.model, *strip.state));
                } else {
                    client.strips.push_back(StripMix{});
                }
            }
            const std::optional<int> output = links_->clientOutputInStream(slot);
            client.local = output.has_value() && links_->clientStreamTo(slot).empty();
            client.output = output.value_or(-1);
            next->clients.push_back(std::move(client));
        }
    }
    const MixSnapshot* current = mix_.current();
    if (current && *current == *next) {
        mix_.collect();
        return;
    }
    for (const StripMix& strip : next->strips) {
        if (std::abs(strip.pan) > 100) QLOG("Pan %d out of range", static_cast<int>(strip.pan));
    }
    mix_.publish(std::move(next));
}

// ---- Devices ----

int PELAudioEngine::initializeEngineWithCurrentDevices() {
    if (!inputDeviceUID_) {
        if (auto device = ATAudioDevice::currentInputDevice()) inputDeviceUID_ = device->UID();
    }
    if (!outputDeviceUID_) {
        if (auto device = ATAudioDevice::currentOutputDevice()) outputDeviceUID_ = device->UID();
    }

    ATMicrophone& microphone =
        microphoneToUse_ ? *microphoneToUse_ : ATMicrophone::sharedMicrophone();
    std::optional<ATAudioDevice> input = currentInputDevice();
    if (input) microphone.setDevice(*input);
    microphone.mapChannels({0});
    availableChannels_ = microphone.numberOfChannels();
    QLOG("Got %d channels from EZ", availableChannels_);
    microphone.setDelegate(this);
    microphone_ = &microphone;
    QLOG("Using %s as input device",
         microphone.device() ? microphone.device()->name().c_str() : "no device");
    sampleRate_ = microphone.device()
                      ? static_cast<float>(microphone.audioStreamBasicDescription().sampleRate)
                      : 0.0f;

    // The analysis runs only with a rate to make its filters and blocks for.
    captureRate_.store(sampleRate_);
    for (PCMBuffer& buffer : pcmBuffers_) buffer.setSampleRate(sampleRate_);
    if (sampleRate_ > 0.0f) {
        detectors_ = std::make_unique<FaultDetectors>(sampleRate_);
        processing_.assign(static_cast<size_t>(kMaxStrips * detectors_->blockFrames()), 0.0f);
    } else {
        detectors_.reset();
        QLOG("No input device: the server role captures nothing");
    }

    // The shared output plays nothing of the engine's; the monitor mix has an output of its own.
    if (sampleRate_ > 0.0f) {
        stereoOut_.reset();
        stereoOut_ = std::make_unique<ATOutput>(this, static_cast<double>(sampleRate_));
        std::optional<ATAudioDevice> output = currentOutputDevice();
        if (awaitsChosenOutput(output)) {
            stereoOut_->awaitDevice(outputDeviceUID_, outputChannel_);
        } else if (output) {
            stereoOut_->setDevice(*output);
            QLOG("Using %s as output device", output->name().c_str());
            if (!stereoOut_->setOutputChannel(outputChannel_)) outputChannel_ = 0;
        }
    }
    return availableChannels_;
}

void PELAudioEngine::mapOutputChannels(const std::vector<int>& channels) {
    stopListening();
    if (stereoOut_) stereoOut_->mapChannels(channels);
    startListening();
}

bool PELAudioEngine::areDevicesAvailable(const Dictionary& devices) {
    auto uid = [&devices](const char* key) -> std::optional<std::string> {
        const Value& value = devices[key];
        const std::string* text = value.stringValue();
        if (!text) return std::nullopt;
        return *text;
    };
    const std::optional<std::string> in = uid("inputDeviceUID");
    const std::optional<std::string> out = uid("outputDeviceUID");
    if (!in || !out) return false;
    auto has = [](const std::vector<ATAudioDevice>& list, const std::string& wanted) {
        return std::any_of(list.begin(), list.end(),
                           [&](const ATAudioDevice& device) { return device.UID() == wanted; });
    };
    return has(ATAudioDevice::inputDevices(), *in) && has(ATAudioDevice::outputDevices(), *out);
}

// ---- Capture (the capture thread) ----

void PELAudioEngine::hasAudioReceived(ATMicrophone& /*microphone*/, float* const* buffers,
                                      int bufferSize, int numberOfChannels) {
    processCapture(buffers, bufferSize, numberOfChannels);
}

void PELAudioEngine::processCapture(const float* const* buffers, int frames, int channels) {
    if (mute_.load(std::memory_order_relaxed)) return;
    auto mix = mix_.read(kCaptureReader);
    const int strips = mix.get() ? static_cast<int>(mix->strips.size()) : 0;
    if (channels != strips) {
        captureLog_.note(CaptureLog::Line::WrongChannelCount, channels, strips);
        return;
    }
    if (!isListening()) {
        captureLog_.note(CaptureLog::Line::NotReady);
        return;
    }
    // The block rings and the mix buffers hold 128 frames: a longer block goes in pieces.
    const float* piece[kMaxStrips];
    for (int done = 0; done < frames; done += kBlockFrames) {
        const int n = std::min(kBlockFrames, frames - done);
        for (int k = 0; k < channels; ++k) piece[k] = buffers[k] + done;
        captureBlock(*mix.get(), piece, n, channels);
    }
}

void PELAudioEngine::mixStereoFrom(const float* const* in, int channels, float* left, float* right,
                                   std::span<const StripMix> controllers, int bufferSize,
                                   bool mixStreamBuffer) {
    const int used = std::min(static_cast<int>(controllers.size()), channels);
    float* stream = mixStreamBuffer ? streamMix_.data() : nullptr;
    for (int k = 0; k < used; ++k) {
        const StripMix& strip = controllers[static_cast<size_t>(k)];
        if (!strip.on) continue;
        const float* samples = in[k];
        const float l = strip.left;
        const float r = strip.right;
        for (int i = 0; i < bufferSize; ++i) {
            left[i] += samples[i] * l;
            right[i] += samples[i] * r;
        }
        if (stream) {
            const float g = strip.gain;
            for (int i = 0; i < bufferSize; ++i) stream[i] += samples[i] * g;
        }
    }
}

void PELAudioEngine::captureBlock(const MixSnapshot& mix, const float* const* in, int n, int c) {
    const auto started = std::chrono::steady_clock::now();
    const int mode = settings().streamingMode();
    const uint32_t taken = captureCounter_.fetch_add(1, std::memory_order_relaxed);
    const uint32_t counter = taken + 1;
    PCMBuffer& pcm = pcmBuffers_[(taken + 2) % kPCMBufferCount];
    float* left = pcm.channel(0);
    float* right = pcm.channel(1);
    std::fill_n(streamMix_.data(), n, 0.0f);

    ringBuffer_.produce(in, n, c);

    std::fill_n(left, n, 0.0f);
    std::fill_n(right, n, 0.0f);
    mixStereoFrom(in, c, left, right, mix.strips, n, true);
    blockRing_.produce(left, right, n);

    for (const ClientMix& client : mix.clients) {
        std::fill_n(clientLeft_.data(), n, 0.0f);
        std::fill_n(clientRight_.data(), n, 0.0f);
        mixStereoFrom(in, c, clientLeft_.data(), clientRight_.data(), client.strips, n, false);
        client.ring->produce(clientLeft_.data(), clientRight_.data(), n);
    }

    pcm.setFrameLength(n);
    if (mode == 1) {
        const float* stereo[2] = {left, right};
        streamBuffer_.produce(stereo, n, 2);
    } else {
        const float* mono[1] = {streamMix_.data()};
        streamBuffer_.produce(mono, n, 1);
    }

    for (int i = 0; i < c; ++i) {
        levels_.raise(i, PeakHold::levelByte(calcAudioRMS(in[i], n, 0, n, n)));
    }

    const double spent =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const float rate = captureRate_.load(std::memory_order_relaxed);
    const double duration = n / (rate > 0.0f ? static_cast<double>(rate) : kNominalRate);
    if (spent > duration) {
        captureLog_.note(CaptureLog::Line::TookTooLong, spent, n / kNominalRate);
    } else if (counter % 400 == 0 || counter % 400 == 1) {
        captureLog_.note(CaptureLog::Line::PercentNeeded, 100.0 * spent / duration);
    }
}

// ---- Output (the output thread) ----

void PELAudioEngine::deliver(const float* block, float* buffer, int frames) {
    if (!buffer) return;
    const int n = std::min(frames, kBlockFrames);
    // A capture that outruns the output may already write into the block handed out.
    for (int i = 0; i < n; ++i) buffer[i] = loadSample(block + i);
}

void PELAudioEngine::playServerRole(std::span<float* const> buffers, int frames) {
    float* left = nullptr;
    float* right = nullptr;
    if (blockRing_.consume(&left, &right)) {
        if (!buffers.empty()) deliver(left, buffers[0], frames);
        if (buffers.size() > 1) deliver(right, buffers[1], frames);
    }
    auto mix = mix_.read(kOutputReader);
    if (!mix.get()) return;
    for (const ClientMix& client : mix->clients) {
        if (!client.local) continue;
        if (!client.ring->consume(&left, &right)) continue;
        const int o = client.output;
        if (o < 0 || static_cast<size_t>(o) + 1 >= buffers.size()) continue;
        deliver(left, buffers[static_cast<size_t>(o)], frames);
        deliver(right, buffers[static_cast<size_t>(o) + 1], frames);
    }
}

// ---- The timers (main thread) ----

void PELAudioEngine::processVisuals() {
    if (!detectors_ || !strips_) return;
    const int n = detectors_->blockFrames();
    const int strips = std::min(strips_->stripCount(), kMaxStrips);
    if (strips == 0) return;
    const UserSettingsManager& settings = this->settings();
    float* rows[kMaxStrips];
    for (int i = 0; i < strips; ++i) rows[i] = processing_.data() + static_cast<size_t>(i) * n;
    // A timer of whole milliseconds fires a little late: every full block held is analysed, so
    // the analysis never falls behind the capture.
    while (ringBuffer_.dataInBuffer() >= n) {
        int got = 0;
        ringBuffer_.consume(rows, n, &got, strips);
        if (got != n) return;
        for (int i = 0; i < strips && i < strips_->stripCount(); ++i) {
            if (!strips_->stripModel(i).scpEnabled() || settings.disableAllWarnings()) continue;
            detectors_->analyse(i, rows[i], settings.lowSensitivity(), strips_->stripState(i));
        }
    }
}

void PELAudioEngine::sendLevels() {
    const int s = strips_ ? std::min(strips_->stripCount(), kMaxStrips) : 0;
    std::array<int8_t, kMaxStrips> levels{};
    for (int i = 0; i < kMaxStrips; ++i) levels[static_cast<size_t>(i)] = levels_.take(i);
    prevLevels_ = levels;
    for (int column = kRf; column <= kRfD; ++column) prevRf_[column] = rf_[column];

    auto bytes = [s](const std::array<int8_t, kMaxStrips>& column) {
        return Value(Bytes(column.begin(), column.begin() + s));
    };
    if (links_) {
        links_->sendDictionaryToEveryone(
            Dictionary{{Value("Command"), Value("LevelData")}, {Value("Value"), bytes(levels)}});
    }
    levelRingBuffer_.produceOne(levels.data(), kHistoryChannels);

    for (int i = 0; i < s && links_; ++i) {
        const std::optional<std::string>& name = strips_->stripModel(i).wirelessName();
        if (!name) continue;
        const std::optional<ServerRoleLinks::Receiver> receiver = links_->receiver(*name);
        if (!receiver) continue;
        const auto k = static_cast<size_t>(i);
        rf_[kRf][k] = receiverByte(receiver->rf);
        rf_[kRfA][k] = receiverByte(receiver->rfA);
        rf_[kRfB][k] = receiverByte(receiver->rfB);
        rf_[kRfC][k] = receiverByte(receiver->rfC);
        rf_[kRfD][k] = receiverByte(receiver->rfD);
        rf_[kQuality][k] = receiverByte(receiver->quality);
    }
    rfLevelRingBuffer_.produceOne(rf_[kRf].data(), kHistoryChannels);
    rfALevelRingBuffer_.produceOne(rf_[kRfA].data(), kHistoryChannels);
    rfBLevelRingBuffer_.produceOne(rf_[kRfB].data(), kHistoryChannels);
    rfCLevelRingBuffer_.produceOne(rf_[kRfC].data(), kHistoryChannels);
    rfDLevelRingBuffer_.produceOne(rf_[kRfD].data(), kHistoryChannels);
    qlRingBuffer_.produceOne(rf_[kQuality].data(), kHistoryChannels);

    if (links_) {
        links_->sendDictionaryToEveryone(Dictionary{{Value("Command"), Value("RfLevelData")},
                                                    {Value("Value"), bytes(rf_[kRf])}});
    }
    if (strips_) {
        std::array<uint8_t, kMaxStrips> unsignedLevels{};
        std::copy(levels.begin(), levels.end(), unsignedLevels.begin());
        strips_->updateLevels(unsignedLevels.data());
    }
    for (auto& column : rf_) std::fill_n(column.begin(), s, int8_t{0});

    // Edits of gain, pan and the clients reach the audio threads within one send.
    publishMix();
}

void PELAudioEngine::sendStream() {
    if (!links_ || !links_->streamHost()) return;
    const int mode = settings().streamingMode();
    const size_t blockBytes = kBlockFrames * sizeof(float);
    for (int slot = 0; slot < links_->clientCount(); ++slot) {
        if (links_->clientIsFree(slot)) continue;
        const std::vector<std::string> hosts = links_->clientStreamTo(slot);
        BlockRingBuffer* ring = links_->clientBlockRing(slot);
        if (hosts.empty() || !ring) continue;
        // A streamed client without blocks ends this send; the later ones wait for the next.
        if (ring->sizeNow() == 0) return;
        streamLeft_.clear();
        streamRight_.clear();
        float* left = nullptr;
        float* right = nullptr;
        while (ring->sizeNow() > 0 && ring->consume(&left, &right)) {
            const auto* l = reinterpret_cast<const uint8_t*>(left);
            const auto* r = reinterpret_cast<const uint8_t*>(right);
            streamLeft_.insert(streamLeft_.end(), l, l + blockBytes);
            streamRight_.insert(streamRight_.end(), r, r + blockBytes);
        }
        if (streamLeft_.empty()) return;
        Dictionary message;
        if (mode == 1) {
            message = {{Value("Command"), Value("StreamData")},
                       {Value("LeftValue"), Value(Bytes(streamLeft_))},
                       {Value("RightValue"), Value(Bytes(streamRight_))}};
        } else if (mode == 0) {
            message = {{Value("Command"), Value("StreamData")},
                       {Value("LeftValue"), Value(Bytes(streamLeft_))}};
        } else {
            continue;
        }
        for (const std::string& host : hosts) links_->sendStream(message, host);
    }
}

// ---- Helpers ----

double PELAudioEngine::calcAudioRMS(const float* samples, int numSamples, int /*start*/,
                                    int /*len*/, int /*bufSize*/) {
    return SampleStatistics::rms(samples, numSamples);
}

double PELAudioEngine::calcShortAudioRMS(const float* samples, int /*numSamples*/, int start,
                                         int len) {
    return SampleStatistics::rms(samples + start, len);
}

float PELAudioEngine::meanOf(const float* samples, int len) {
    return SampleStatistics::mean(samples, len);
}

float PELAudioEngine::standardDeviationOf(const float* samples, int len) {
    return SampleStatistics::variance(samples, len);
}

float PELAudioEngine::getDistance(float ph1, float ph2) {
    constexpr double pi = std::numbers::pi;
    const auto a = static_cast<float>(ph1 + pi);
    const auto b = static_cast<float>(ph2 + pi);
    float d = a - b;
    if (d > static_cast<float>(pi)) d = a - (b + static_cast<float>(pi));
    if (d < -static_cast<float>(pi)) d = (a + static_cast<float>(pi)) - b;
    return d;
}

}  // namespace quenbril

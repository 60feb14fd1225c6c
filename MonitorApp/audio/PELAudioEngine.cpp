#include "MonitorApp/audio/PELAudioEngine.h"

#include <algorithm>

#include "MonitorApp/ATAudio/ATAudioFFTRolling.h"
#include "MonitorApp/audio/FaultDetectors.h"
#include "MonitorApp/settings/ChannelStripModel.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "foundation/SharedInstance.h"

namespace quenbril {

namespace {

int historyLength(int longRingBufLen) {
    if (longRingBufLen < PELAudioEngine::kMinHistoryLength) {
        QLOG("History length %d is too short, using %d", longRingBufLen,
             PELAudioEngine::kMinHistoryLength);
        return PELAudioEngine::kMinHistoryLength;
    }
    return longRingBufLen;
}

// Seconds between two prints of the rings' log lines.
constexpr double kLogInterval = 1.0;

SharedInstance<PELAudioEngine> shared;

}  // namespace

PELAudioEngine& PELAudioEngine::sharedInstance() { return shared.get(); }

void PELAudioEngine::resetSharedInstance() { shared.reset(); }

void PELAudioEngine::forgetStrips(const ServerRoleStrips* strips) {
    PELAudioEngine* engine = shared.existing();
    if (engine && engine->strips_ == strips) engine->setStrips(nullptr);
}

PELAudioEngine::PELAudioEngine() : PELAudioEngine(UserSettingsManager::sharedInstance()) {}

PELAudioEngine::PELAudioEngine(const UserSettingsManager& settings)
    : PELAudioEngine(settings.actAsClient(), settings.longRingBufLen()) {
    roleSource_ = &settings;
}

PELAudioEngine::PELAudioEngine(bool actAsClient, int longRingBufLen)
    : actAsClient_(actAsClient),
      serverRole_(!actAsClient),
      levelRingBuffer_(kHistoryChannels, historyLength(longRingBufLen)),
      rfLevelRingBuffer_(kHistoryChannels, levelRingBuffer_.bufferLen()),
      rfALevelRingBuffer_(kHistoryChannels, levelRingBuffer_.bufferLen()),
      rfBLevelRingBuffer_(kHistoryChannels, levelRingBuffer_.bufferLen()),
      rfCLevelRingBuffer_(kHistoryChannels, levelRingBuffer_.bufferLen()),
      rfDLevelRingBuffer_(kHistoryChannels, levelRingBuffer_.bufferLen()),
      rfDivLevelRingBuffer_(kHistoryChannels, levelRingBuffer_.bufferLen()),
      alertRingBuffer_(kHistoryChannels, levelRingBuffer_.bufferLen()),
      qlRingBuffer_(kHistoryChannels, levelRingBuffer_.bufferLen()),
      clientRing_(kClientRingChannels, kClientRingFrames),
      blockRing_(kBlockFrames, kBlockCount),
      ringBuffer_(kMaxStrips, kCaptureFrames),
      streamBuffer_(2, kStreamBufferFrames) {
    logTimer_ = RunLoop::main().scheduleTimer(kLogInterval, true, [this] { flushLogs(); });
}

PELAudioEngine::~PELAudioEngine() {
    // The audio threads read this engine: stop them first.
    stopAudioThreads();
}

void PELAudioEngine::stopAudioThreads() {
    // Closed, not only stopped: a guarded stream's close cuts its callback off at once, where a
    // stop may wait queued behind a stuck host. Nothing opens a device again until the engine is
    // started again.
    stereoOut_.reset();
    // The capture reaches the engine through its delegate, which a period may be using: closed
    // like the output, not only stopped.
    if (microphone_) {
        microphone_->closeDevice();
        if (microphone_->delegate() == this) microphone_->setDelegate(nullptr);
    }
    isListening_.store(false);
}

const UserSettingsManager& PELAudioEngine::settings() const {
    return roleSource_ ? *roleSource_ : UserSettingsManager::sharedInstance();
}

bool PELAudioEngine::actAsClient() const {
    return roleSource_ ? roleSource_->actAsClient() : actAsClient_.load(std::memory_order_relaxed);
}

int PELAudioEngine::outputChannels() const {
    if (!stereoOut_ || !stereoOut_->device()) return 0;
    return static_cast<int>(stereoOut_->device()->outputChannelCount());
}

void PELAudioEngine::setOutputChannel(int channel) {
    // Before the output exists the channel waits here; startClient applies it.
    if (stereoOut_ && !stereoOut_->setOutputChannel(channel)) return;
    outputChannel_ = channel;
}

std::optional<ATAudioDevice> PELAudioEngine::currentInputDevice() const {
    if (inputDeviceUID_) {
        if (auto device = ATAudioDevice::deviceWithUID(*inputDeviceUID_)) return device;
        QLOG("In device not found!");
    }
    return ATAudioDevice::currentInputDevice();
}

std::optional<ATAudioDevice> PELAudioEngine::currentOutputDevice() const {
    if (outputDeviceUID_) {
        if (auto device = ATAudioDevice::deviceWithUID(*outputDeviceUID_)) {
            QLOG("Current output device id %s", device->name().c_str());
            return device;
        }
        QLOG("Out device not found!");
    }
    return ATAudioDevice::currentOutputDevice();
}

void PELAudioEngine::startClient() {
    if (!stereoOut_) {
        stereoOut_ = std::make_unique<ATOutput>(this, ATOutput::kDefaultSampleRate);
    }
    const std::optional<ATAudioDevice> device = currentOutputDevice();
    // The default plays meanwhile, not in the chosen device's place.
    if (device && !awaitsChosenOutput(device)) {
        stereoOut_->setDevice(*device);
        if (!stereoOut_->setOutputChannel(outputChannel_) && outputChannel_ != 0) {
            // A stored channel past this device's end: the first pair instead.
            outputChannel_ = 0;
            stereoOut_->setOutputChannel(0);
        }
    } else {
        // A sound server that starts after the remote: the output plays once it lists a device.
        if (!device) QLOG("No audio output device yet: the stream plays once one is there");
        stereoOut_->awaitDevice(outputDeviceUID_, outputChannel_);
    }
    if (isListening()) {
        stereoOut_->startPlayback();
    } else {
        startListening();
    }
}

void PELAudioEngine::startListening() {
    if (isListening()) return;
    isListening_.store(true);
    if (serverRole_ && isSetUp()) {
        // Nothing captures now, so the capture thread's ring may be emptied here.
        streamBuffer_.reset();
        publishMix();
        // Again after stopAudioThreads() let go of it: what is captured from now on is ours.
        microphone_->setDelegate(this);
        microphone_->startFetchingAudio();
        RunLoop& loop = RunLoop::main();
        visualsTimer_ = loop.scheduleTimer(kVisualsInterval, true, [this] { processVisuals(); });
        streamTimer_ = loop.scheduleTimer(kStreamInterval, true, [this] { sendStream(); });
        levelsTimer_ = loop.scheduleTimer(kLevelsInterval, true, [this] { sendLevels(); });
    }
    // Without a device too: the output plays once one is there.
    if (stereoOut_) stereoOut_->startPlayback();
}

void PELAudioEngine::stopListening() {
    if (!isListening()) return;
    // The level and stream timers run on: the sends go on reporting while the channels change.
    visualsTimer_.invalidate();
    if (stereoOut_) stereoOut_->stopPlayback();
    if (microphone_) microphone_->stopFetchingAudio();
    isListening_.store(false);
}

int PELAudioEngine::output(ATOutput& /*output*/, std::span<float* const> buffers,
                           int numberOfFrames) {
    return output(buffers, numberOfFrames);
}

void PELAudioEngine::mapChannels() {
    if (!serverRole_) return;
    publishMix();
    // Without an input device there is no capture channel to map.
    if (!isSetUp()) return;
    std::vector<int> inputs;
    const int count = strips_ ? std::min(strips_->stripCount(), kMaxStrips) : 0;
    for (int i = 0; i < count; ++i) inputs.push_back(strips_->stripModel(i).audioInput());
    stopListening();
    microphone_->mapChannels(inputs);
    startListening();
}

int PELAudioEngine::output(std::span<float* const> buffers, int numberOfFrames) {
    const int frames = std::max(numberOfFrames, 0);
    for (float* buffer : buffers) {
        if (buffer) std::fill_n(buffer, frames, 0.0f);
    }
    if (mute_.load(std::memory_order_relaxed)) return 0;
    if (!actAsClient()) {
        playServerRole(buffers, frames);
        return 0;
    }
    if (buffers.empty() || !buffers[0]) return 0;

    // Straight into the device's buffers: the ring copies only when it can hand out every frame
    // asked for, so a filling or short ring leaves the silence written above. A missing right
    // buffer is skipped.
    float* const destination[kClientRingChannels] = {buffers[0],
                                                     buffers.size() > 1 ? buffers[1] : nullptr};
    clientRing_.consume(destination, frames, nullptr, kClientRingChannels);
    return 0;
}

void PELAudioEngine::setFft(std::unique_ptr<ATAudioFFTRolling> fft) { fft_ = std::move(fft); }

void PELAudioEngine::fft(ATAudioFFT& /*fft*/, float* /*fftData*/, uint64_t /*bufferSize*/) {}

void PELAudioEngine::flushLogs() {
    clientRing_.log().flush();
    blockRing_.log().flush();
    ringBuffer_.log().flush();
    streamBuffer_.log().flush();
    captureLog_.flush();
}

}  // namespace quenbril

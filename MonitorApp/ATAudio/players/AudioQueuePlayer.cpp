#include "MonitorApp/ATAudio/players/AudioQueuePlayer.h"

#include <algorithm>
#include <ctime>

#include "foundation/Log.h"
#include "foundation/SharedInstance.h"

namespace quenbril {

AudioQueuePlayer::AudioQueuePlayer(AudioBackend& backend) : backend_(backend) {
    bRing_.setSampleRate(sampleRate_);
}

AudioQueuePlayer::~AudioQueuePlayer() { destroy(); }

AudioQueuePlayer& AudioQueuePlayer::sharedInstance() {
    static SharedInstance<AudioQueuePlayer> player;
    return player.get();
}

void AudioQueuePlayer::setSampleRate(float sampleRate) {
    if (sampleRate != sampleRate_) destroy();
    sampleRate_ = sampleRate;
    bRing_.setSampleRate(sampleRate);
}

void AudioQueuePlayer::setChannels(int channels) {
    channels = std::clamp(channels, 1, 2);
    if (channels != channels_) destroy();
    channels_ = channels;
}

void AudioQueuePlayer::setBufferDuration(float seconds) {
    bRing_.setBufferDur(seconds);
    bRing_.reset();
}

void AudioQueuePlayer::fillStereoBuffer(const float* left, const float* right, uint32_t len) {
    const float* channels[2] = {left, right};
    bRing_.produce(channels, static_cast<int>(len / 4), 2);
}

void AudioQueuePlayer::fillBuffer(const float* buffer, uint32_t len, int64_t /*packetIndex*/) {
    const int frames = static_cast<int>(len / 4);
    // A mono block into a two-channel player feeds both, so the right channel never replays
    // what the ring held a lap earlier.
    const float* channels[2] = {buffer, buffer};
    bRing_.produce(channels, frames, channels_);
    const int64_t seconds = std::time(nullptr);
    if (seconds != lastSeconds_) {
        lastSeconds_ = seconds;
        sampleCounter_ = 0;
    }
    sampleCounter_ += frames;
}

void AudioQueuePlayer::startPlaying() {
    if (stream_) {
        bRing_.reset();
        const bool started = stream_->start();
        QLOG("Got status %d", started ? 0 : -1);
        return;
    }
    const std::optional<int> device = backend_.defaultOutputDevice();
    AudioStreamParameters parameters;
    parameters.device = device.value_or(-1);
    parameters.outputChannels = channels_;
    parameters.sampleRate = sampleRate_;
    parameters.framesPerBuffer = kBufferFrames;
    std::string error;
    if (device) stream_ = backend_.openStream(parameters, *this, error);
    if (!stream_) {
        QLOG("Got status %d", -1);
        QLOG("AudioQueuePlayer: no output: %s", device ? error.c_str() : "no default device");
        return;
    }
    streamChannels_.store(channels_);
    if (stream_->start()) QLOG("Playing");
}

void AudioQueuePlayer::stopPlaying() {
    // The output stops first, so the ring is not emptied under a running reader.
    if (stream_) stream_->stop();
    bRing_.reset();
}

void AudioQueuePlayer::destroy() {
    if (!stream_) return;
    stopPlaying();
    stream_.reset();
}

void AudioQueuePlayer::process(const float* const* /*inputs*/, float* const* outputs, int frames,
                               bool /*underrun*/) {
    const int channels = streamChannels_.load(std::memory_order_relaxed);
    for (int done = 0; done < frames;) {
        const int wanted = std::min(kBufferFrames, frames - done);
        float* slice[2] = {playBuffer_[0].data(), playBuffer_[1].data()};
        int got = 0;
        bRing_.consume(slice, wanted, &got, channels);
        for (int c = 0; c < channels; ++c) {
            if (got < wanted) {
                // A short slice plays as silence, never as what the buffer held before.
                std::fill_n(outputs[c] + done, wanted, 0.0f);
            } else {
                std::copy_n(slice[c], wanted, outputs[c] + done);
            }
        }
        done += wanted;
    }
}

}  // namespace quenbril

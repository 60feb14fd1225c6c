#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <vector>

#include "MonitorApp/ATAudio/ATAudioDevice.h"
#include "MonitorApp/ATAudio/ATDeviceChoice.h"
#include "MonitorApp/ATAudio/ATOutputDataSource.h"
#include "MonitorApp/ATAudio/ATStreamWatch.h"
#include "MonitorApp/ATAudio/ATUnitFormat.h"
#include "MonitorApp/ATAudio/AudioBufferList.h"
#include "platform/audio/AudioBackend.h"

struct SRC_STATE_tag;

namespace quenbril {

class ATMicrophone;

/// What a microphone tells its delegate. hasBufferList and hasAudioReceived come on the audio
/// thread, in that order, with buffers that are reused for the next slice; they must not lock,
/// allocate, log or do I/O. The others come on the main thread.
class ATMicrophoneDelegate {
  public:
    virtual ~ATMicrophoneDelegate() = default;
    virtual void changedPlayingState(ATMicrophone& /*microphone*/, bool /*isPlaying*/) {}
    virtual void changedDevice(ATMicrophone& /*microphone*/, const ATAudioDevice& /*device*/) {}
    virtual void hasAudioStreamBasicDescription(ATMicrophone& /*microphone*/,
                                                const ATUnitFormat& /*format*/) {}
    virtual void hasAudioReceived(ATMicrophone& /*microphone*/, float* const* /*buffers*/,
                                  int /*bufferSize*/, int /*numberOfChannels*/) {}
    /// The slice as rendered: one buffer of `bufferSize` float32 samples per client channel.
    virtual void hasBufferList(ATMicrophone& /*microphone*/, AudioBufferList* /*bufferList*/,
                               int /*bufferSize*/, int /*numberOfChannels*/) {}
};

/// Captures an input device and hands its delegate slices of at most 128 frames, first as the
/// rendered buffer list, then as non-interleaved float channels. The capture is float32 already,
/// so the two are the same memory: nothing is converted. All of the device's inputs are opened; a
/// channel map picks the ones the client gets, in its order (entry k: the device channel client
/// channel k carries, -1 past the client's channels). As an output's data source it plays its
/// last slice.
///
/// A default input device that reports no input channels is given the channel count of
/// inputFormat() and tried with it, at the start and when it returns after going away; a host
/// that refuses it is reported when the capture starts, as any device that cannot be opened is.
///
/// A change of device, format or map while capturing stops the stream, re-makes it and starts it
/// again; a refused change is logged and the previous state kept. While capture is on and no
/// stream captures (a device that went away, an open that failed), the watch notices it within
/// 2 s and tries again every 2 s, where the device choice says: the own device by UID, else the
/// default one standing in for it, said by name. A device that refuses the format's rate is
/// captured at its own and converted. Main thread, except the slices.
class ATMicrophone : public ATOutputDataSource, private AudioStreamClient {
  public:
    static constexpr int kSliceFrames = 128;
    static constexpr int kMaxFrames = 4096;
    /// The device side's channels for a device that reports no inputs: the unit's default.
    static constexpr int kDefaultInputChannels = ATDeviceChoice::kUncountedInputs;

    explicit ATMicrophone(ATMicrophoneDelegate* delegate = nullptr,
                          AudioBackend& backend = AudioBackend::shared());
    ATMicrophone(ATMicrophoneDelegate* delegate, const ATUnitFormat& format, bool startsImmediately,
                 AudioBackend& backend = AudioBackend::shared());
    ~ATMicrophone() override;
    ATMicrophone(const ATMicrophone&) = delete;
    ATMicrophone& operator=(const ATMicrophone&) = delete;

    static ATMicrophone& sharedMicrophone();

    void startFetchingAudio();
    void stopFetchingAudio();
    /// Stops and closes the device: no period reaches the delegate after it returns, whatever
    /// the host does (a stop alone may be held up behind a host that does not answer). The next
    /// start opens it again.
    void closeDevice();
    bool microphoneOn() const { return microphoneOn_; }
    void setMicrophoneOn(bool on) { on ? startFetchingAudio() : stopFetchingAudio(); }

    const std::optional<ATAudioDevice>& device() const { return device_; }
    /// Captures from `device`. One that reports no inputs is taken with its input off (no
    /// channels, an empty map): nothing is captured until a device with inputs is set, and a
    /// capture that was on then starts.
    bool setDevice(const ATAudioDevice& device);
    /// The device's input channels.
    int numberOfChannels() const;
    /// The device side of the capture: the device's rate and input channels (two for a device
    /// that reports none); zero without a device.
    ATUnitFormat inputFormat() const;

    const ATUnitFormat& audioStreamBasicDescription() const { return streamFormat_; }
    /// The client's format: its channel count must fit the device; a new count resets the map
    /// to the first channels.
    bool setAudioStreamBasicDescription(const ATUnitFormat& format);
    ATUnitFormat defaultStreamFormat() const;
    ATUnitFormat streamFormatWithChannels(int channels) const;

    /// Captures only the listed device channels, in that order. Refused when empty, longer than
    /// the device's inputs or naming a channel outside them.
    bool mapChannels(const std::vector<int>& channels);
    const std::vector<int32_t>& channelMap() const { return map_; }
    int maximumBufferSize() const { return kMaxFrames; }

    ATMicrophoneDelegate* delegate() const { return delegate_; }
    void setDelegate(ATMicrophoneDelegate* delegate) { delegate_.store(delegate); }
    ATOutput* output() const { return output_; }
    /// Feeds `output` (not owned): it takes this microphone's format and plays its last slice.
    void setOutput(ATOutput* output);

    /// As a data source: copies the last slice, and silence past it.
    int output(ATOutput& output, std::span<float* const> buffers, int numberOfFrames) override;

  private:
    void process(const float* const* inputs, float* const* outputs, int frames,
                 bool underrun) override;
    /// Opens a stream on the device held, the pick fitted to it. `quiet`: the watch's tries,
    /// whose failure it logged once.
    bool openStream(bool quiet = false);
    /// Opens a stream on `device`, client channel k from device channel `channels[k]`, then puts
    /// it in the place of the stream held; on failure the stream held stays.
    bool openOn(const ATAudioDevice& device, const std::vector<int>& channels, bool quiet);
    void closeStream();
    /// The watch's try: wherever the device choice says.
    bool reopen();
    /// Starts the stream held, else closes it.
    bool startStream();
    bool whileStopped(const std::function<bool()>& change);
    void identityMap(int channels);
    /// `channels` (device channel per client channel) as map_ holds them.
    void setMap(const std::vector<int>& channels);
    /// The audio thread: hands the filled slice of `frames` on.
    void handOn(int frames);
    void convertAndHandOn(const float* const* inputs, int frames);

    std::atomic<ATMicrophoneDelegate*> delegate_{nullptr};
    std::optional<ATAudioDevice> device_;
    ATDeviceChoice choice_;
    ATUnitFormat streamFormat_;
    std::vector<int32_t> map_;
    std::unique_ptr<AudioStream> stream_;
    bool microphoneOn_ = false;
    ATOutput* output_ = nullptr;
    std::atomic<bool> feedsOutput_{false};

    // Audio thread's memory, made with the stream: the slice handed to the delegate (as float
    // channels and as a buffer list over the same channels).
    std::vector<std::vector<float>> floatData_;
    std::vector<float*> floatPointers_;
    std::vector<AudioBuffer> audioBuffers_;
    AudioBufferList audioBufferList_;
    // Two copies of the last slice, for an output to read while the next one is written: made
    // once, for the most channels a unit takes, when the capture first feeds an output, since
    // the output's audio thread reads them whenever it plays, whatever stream captures then.
    std::vector<std::vector<float>> lastSlices_[2];
    std::atomic<int> lastSlice_{-1};
    std::atomic<int> lastFrames_{0};
    std::atomic<int> lastChannels_{0};
    // A device at another rate than the format's: its mapped channels, interleaved, pass a
    // converter to the format's rate.
    SRC_STATE_tag* converter_ = nullptr;
    double ratio_ = 1.0;
    std::vector<float> converterIn_;
    std::vector<float> converterOut_;
    ATStreamWatch watch_;
};

}  // namespace quenbril

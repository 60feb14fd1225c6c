#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "MonitorApp/ATAudio/ATAudioDevice.h"
#include "MonitorApp/ATAudio/ATDeviceChoice.h"
#include "MonitorApp/ATAudio/ATOutputDataSource.h"
#include "MonitorApp/ATAudio/ATStreamWatch.h"
#include "MonitorApp/ATAudio/ATUnitFormat.h"
#include "MonitorApp/ATAudio/AudioStreamBasicDescription.h"
#include "platform/audio/AudioBackend.h"

struct SRC_STATE_tag;

namespace quenbril {

class ATAudioFloatConverter;

/// Plays what a data source supplies, period by period, on an output device. The data source
/// fills the client channels of `inputFormat` (stereo at 48 kHz by default); a channel map routes
/// them to the device's channels (entry i: the client channel device channel i plays, or -1 for
/// silence). Where the device refuses the client's rate, the output converts to the device's own
/// rate. Volume and pan are a gain and a balance applied in the callback.
///
/// A setting that changes while playing (device, format, map) stops the stream, re-makes it and
/// starts it again. A setting that is refused (a device that cannot be opened, a map outside the
/// device, an invalid format) is logged and the previous state kept. While playback is wanted and
/// no stream plays (a device that went away, an open or a start that failed, no device at all),
/// the watch notices it within 2 s and tries again every 2 s. Where each open goes (the own
/// device or a stand-in, the channels, the rate) the device choice decides.
///
/// Main thread, except the data source's calls, which come on the audio thread.
class ATOutput : private AudioStreamClient {
  public:
    static constexpr int kMaxFrames = 4096;
    static constexpr int kPeriodFrames = 128;
    static constexpr double kDefaultSampleRate = 48000.0;

    /// A stereo output at 48 kHz on the default output device (none on a machine without one).
    explicit ATOutput(AudioBackend& backend = AudioBackend::shared());
    ATOutput(ATOutputDataSource* dataSource, double sampleRate,
             AudioBackend& backend = AudioBackend::shared());
    ATOutput(ATOutputDataSource* dataSource, ATUnitFormat inputFormat,
             AudioBackend& backend = AudioBackend::shared());
    ~ATOutput() override;
    ATOutput(const ATOutput&) = delete;
    ATOutput& operator=(const ATOutput&) = delete;

    static ATOutput& sharedOutput();

    void startPlayback();
    void stopPlayback();
    /// True while the stream delivers periods.
    bool isPlaying() const;

    const std::optional<ATAudioDevice>& device() const { return device_; }
    /// Plays on `device`; a device without outputs, or one that cannot be opened while playing,
    /// is refused.
    bool setDevice(const ATAudioDevice& device);
    /// For an output without a device: the one its tries take once the host lists it, by `uid`
    /// (the default stands in meanwhile; with no `uid` the default is taken), with the stereo
    /// pair on `channel` (the first pair where the device has fewer channels).
    void awaitDevice(std::optional<std::string> uid, int channel);
    /// A device is awaited, and nothing, not even a stand-in, plays in its place yet.
    bool awaiting() const;

    /// The stereo pair plays on device channels `channel` and `channel` + 1 (only `channel` when
    /// it is the last); every other channel is silent. Refused outside 0..n-1.
    bool setOutputChannel(int channel);
    /// Client channel j plays on device channel `channels[j]`; the client format gets that many
    /// channels. Refused when empty, longer than the device or naming a channel outside it.
    bool mapChannels(const std::vector<int>& channels);
    /// Entry i: the client channel device channel i plays, or -1.
    const std::vector<int32_t>& channelMap() const { return map_; }

    ATUnitFormat streamFormatWithChannels(int channels) const;
    const ATUnitFormat& inputFormat() const { return inputFormat_; }
    bool setInputFormat(const ATUnitFormat& format);
    static ATUnitFormat defaultInputFormat() { return {kDefaultSampleRate, 2}; }
    /// A format a client may declare for what it hands the output, kept with a converter from
    /// it to float channels and float buffers of kMaxFrames frames per channel. All zero until
    /// set; the render path takes float channels and does not use them.
    const AudioStreamBasicDescription& clientFormat() const { return clientFormat_; }
    /// Replaces the format, its converter and its buffers. A format the converter cannot read
    /// is refused (logged) and the previous one kept.
    bool setClientFormat(const AudioStreamBasicDescription& format);
    /// Mono float32 at 48000 Hz.
    static AudioStreamBasicDescription defaultClientFormat();
    /// The client format's converter; none before one is set.
    ATAudioFloatConverter* floatConverter() const { return floatConverter_.get(); }
    /// The client format's float buffers, one per channel.
    const std::vector<std::vector<float>>& clientFloatData() const { return clientFloatData_; }
    /// The device side of the stream: its rate and channels; zero before a stream was made.
    ATUnitFormat streamDescription() const;
    /// True when the stream runs at another rate than the client's and is converted.
    bool isConverting() const { return converter_ != nullptr; }
    /// Client frames taken from the data source since the output was made. In the data source's
    /// call it is the count before the frames asked for.
    uint64_t framesTaken() const { return taken_.load(std::memory_order_acquire); }
    /// Of those, the frames written to the device with periods that ended: behind framesTaken()
    /// by what a converter still holds. What a closed stream held is gone, and counts as played.
    uint64_t framesPlayed() const { return played_.load(std::memory_order_acquire); }

    /// 0..1 (values outside are clamped).
    void setVolume(float volume);
    float volume() const { return volume_.load(std::memory_order_relaxed); }
    /// -1 (left) .. 1 (right).
    void setPan(float pan);
    float pan() const { return pan_.load(std::memory_order_relaxed); }

    ATOutputDataSource* dataSource() const { return dataSource_.load(); }
    void setDataSource(ATOutputDataSource* dataSource) { dataSource_.store(dataSource); }
    ATOutputDelegate* delegate() const { return delegate_; }
    void setDelegate(ATOutputDelegate* delegate) { delegate_ = delegate; }

    /// Periods the host reported as missed, since the output was made.
    uint64_t underruns() const { return underruns_.load(std::memory_order_relaxed); }
    /// The fraction of a period the callback takes, as the host measures it; 0 when stopped.
    double load() const { return stream_ ? stream_->cpuLoad() : 0.0; }
    /// The watch's once-a-second look, for tests that drive the clock themselves.
    ATStreamWatch& watch() { return watch_; }

  private:
    void process(const float* const* inputs, float* const* outputs, int frames,
                 bool underrun) override;
    void pull(int frames);
    void render(float* const* outputs, int offset, int frames);
    static long converterInput(void* context, float** data);

    /// Opens a stream on the device held, with the pick fitted to it. `quiet`: the watch's tries,
    /// whose failure it logged once.
    bool openStream(bool quiet = false);
    /// Opens a stream on `device` with client channel j on device channel `channels[j]`, then
    /// puts it in the place of the stream held; on failure the stream held stays.
    bool openOn(const ATAudioDevice& device, const std::vector<int>& channels, bool quiet);
    void closeStream();
    /// Opens and starts the stream; one that opened but did not start is closed.
    bool openAndStart(bool quiet = false);
    /// Starts the stream held, else closes it; a quiet try that plays says what it opened.
    bool startStream(bool quiet);
    /// The watch's try: wherever the device choice says.
    bool reopen();
    void logStream() const;
    /// Entry d: the client channel device channel d plays.
    static std::vector<int32_t> deviceMap(const std::vector<int>& channels, int64_t count);
    std::vector<int32_t> fittedMap() const;
    /// Applies a change: stops a running stream, runs `change`, and re-makes and restarts it.
    bool whileStopped(const std::function<bool()>& change);
    void prepareBuffers();
    void report();

    std::optional<ATAudioDevice> device_;
    ATDeviceChoice choice_;
    ATUnitFormat inputFormat_ = defaultInputFormat();
    std::vector<int32_t> map_{0, -1};
    std::unique_ptr<AudioStream> stream_;
    int streamChannels_ = 0;
    bool wantsPlaying_ = false;
    AudioStreamBasicDescription clientFormat_;
    std::unique_ptr<ATAudioFloatConverter> floatConverter_;
    std::vector<std::vector<float>> clientFloatData_;
    std::atomic<ATOutputDataSource*> dataSource_{nullptr};
    ATOutputDelegate* delegate_ = nullptr;
    std::atomic<float> volume_{1.0f};
    std::atomic<float> pan_{0.0f};

    // Audio thread's working memory, made with the stream.
    std::vector<std::vector<float>> client_;
    std::vector<float*> clientPointers_;
    SRC_STATE_tag* converter_ = nullptr;
    double ratio_ = 1.0;
    std::vector<float> converterIn_;
    std::vector<float> converterOut_;
    // framesTaken() when the converter was made, and the device frames it has given since.
    uint64_t convertedFrom_ = 0;
    uint64_t converted_ = 0;
    std::atomic<uint64_t> taken_{0};
    std::atomic<uint64_t> played_{0};

    std::atomic<uint64_t> underruns_{0};
    uint64_t reportedUnderruns_ = 0;
    ATStreamWatch watch_;
};

}  // namespace quenbril

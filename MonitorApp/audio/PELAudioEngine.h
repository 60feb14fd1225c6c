#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "MonitorApp/ATAudio/ATAudioDevice.h"
#include "MonitorApp/ATAudio/ATOutput.h"
#include "MonitorApp/ATAudio/ATOutputDataSource.h"
#include "MonitorApp/audio/BlockRingBuffer.h"
#include "MonitorApp/audio/CharRingBuffer.h"
#include "MonitorApp/audio/RingBuffer.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/Timer.h"

namespace quenbril {

/// What the engine may tell the main window. It sends nothing so far.
class PELAudioEngineDelegate {
  public:
    virtual ~PELAudioEngineDelegate() = default;
};

/// The process-wide audio engine. In the remote role it is a store: the nine histories that the
/// server's level, RF, quality and alert frames fill and the level displays draw, and the stereo
/// ring that keeps the audio the server streams, with the output callback that plays it.
///
/// In the remote role, startClient() opens the output device chosen in the connection dialog as
/// `stereoOut`, a stereo output at 48 kHz whose data source is this engine.
///
/// Threads: the histories, the properties, the devices and the listening calls belong to the main
/// thread. clientRing() is written on the main thread and read by output() on an audio thread;
/// blockRing() is written and read on audio threads. mute and the role are read on audio threads.
class PELAudioEngine : public ATOutputDataSource {
  public:
    static constexpr int kHistoryChannels = 128;
    /// Columns of each history when asked for fewer: the level displays read the 128 columns
    /// before the newest. The stored setting has the same floor.
    static constexpr int kMinHistoryLength = UserSettingsManager::kMinLongRingBufLen;
    static constexpr int kClientRingChannels = 2;
    static constexpr int kClientRingFrames = 4096;
    static constexpr int kBlockFrames = 128;
    static constexpr int kBlockCount = 6;

    /// The one engine, made on first use with the role and history length the user settings
    /// hold then.
    static PELAudioEngine& sharedInstance();
    /// Tests: drops the shared instance; the next sharedInstance() makes a new one (a restart).
    static void resetSharedInstance();

    /// An engine with the history length the user settings hold now, that follows the role the
    /// user settings hold at each moment.
    PELAudioEngine();
    /// `actAsClient`: the remote role, until setActAsClient changes it. `longRingBufLen`:
    /// columns of each history (at least 128), read once, here. On the thread of the main run
    /// loop, where a repeating timer prints the rings' log lines.
    PELAudioEngine(bool actAsClient, int longRingBufLen);
    ~PELAudioEngine() override;
    PELAudioEngine(const PELAudioEngine&) = delete;
    PELAudioEngine& operator=(const PELAudioEngine&) = delete;

    /// The role in force: the user settings' role for an engine made from them, so that a role
    /// stored while running (the connection dialog's) takes effect at once.
    bool actAsClient() const;
    /// The role of an engine made with an explicit one.
    void setActAsClient(bool actAsClient) { actAsClient_.store(actAsClient); }

    // The histories: 128 channels by longRingBufLen columns each.
    CharRingBuffer& levelRingBuffer() { return levelRingBuffer_; }
    CharRingBuffer& rfLevelRingBuffer() { return rfLevelRingBuffer_; }
    CharRingBuffer& rfALevelRingBuffer() { return rfALevelRingBuffer_; }
    CharRingBuffer& rfBLevelRingBuffer() { return rfBLevelRingBuffer_; }
    CharRingBuffer& rfCLevelRingBuffer() { return rfCLevelRingBuffer_; }
    CharRingBuffer& rfDLevelRingBuffer() { return rfDLevelRingBuffer_; }
    CharRingBuffer& rfDivLevelRingBuffer() { return rfDivLevelRingBuffer_; }
    /// Alert code per strip per frame: 0 none, 1 SCP, 2 marker.
    CharRingBuffer& alertRingBuffer() { return alertRingBuffer_; }
    CharRingBuffer& qlRingBuffer() { return qlRingBuffer_; }

    /// The received stream: 2 channels x 4096 frames. Made in either role, so a stream that
    /// arrives always has somewhere to go.
    RingBuffer& clientRing() { return clientRing_; }
    /// The monitor mix for local output: 6 stereo blocks of 128 frames. Made in either role.
    BlockRingBuffer& blockRing() { return blockRing_; }

    bool mute() const { return mute_.load(std::memory_order_relaxed); }
    /// Silences the output (and, in the server role, the capture processing).
    void setMute(bool mute) { mute_.store(mute, std::memory_order_relaxed); }

    /// Hz; 0 until an audio device is set up.
    float sampleRate() const { return sampleRate_; }
    void setSampleRate(float rate) { sampleRate_ = rate; }
    /// Input channels of the capture device; 0 until an audio device is set up.
    int availableChannels() const { return availableChannels_; }
    void setAvailableChannels(int channels) { availableChannels_ = channels; }
    /// Output channels of the output device in use; 0 before one is set up.
    int outputChannels() const;
    /// First output channel of the engine's own monitor pair.
    int outputChannel() const { return outputChannel_; }
    /// Moves the monitor pair; `stereoOut` refuses (and the engine keeps the previous channel)
    /// a channel outside its device.
    void setOutputChannel(int channel);

    /// The chosen devices; none until an audio device is set up.
    const std::optional<std::string>& currentInputDeviceUID() const { return inputDeviceUID_; }
    void setCurrentInputDeviceUID(std::optional<std::string> uid) {
        inputDeviceUID_ = std::move(uid);
    }
    const std::optional<std::string>& currentOutputDeviceUID() const { return outputDeviceUID_; }
    void setCurrentOutputDeviceUID(std::optional<std::string> uid) {
        outputDeviceUID_ = std::move(uid);
    }

    /// The devices whose UIDs are chosen, or the default device (none on a machine without
    /// one); a chosen UID that is absent is logged.
    std::optional<ATAudioDevice> currentInputDevice() const;
    std::optional<ATAudioDevice> currentOutputDevice() const;

    /// The remote role's output; null before startClient().
    ATOutput* stereoOut() const { return stereoOut_.get(); }
    /// Opens the current output device as `stereoOut` (stereo, 48 kHz, on device channels
    /// outputChannel and +1) and starts it. Without a device: a log line and silence.
    void startClient();

    /// Not owned; the delegate clears it before it goes away.
    PELAudioEngineDelegate* delegate() const { return delegate_; }
    void setDelegate(PELAudioEngineDelegate* delegate) { delegate_ = delegate; }

    bool isListening() const { return isListening_; }
    /// Starts playback of `stereoOut` when there is one; without a device only the listening
    /// state changes.
    void startListening();
    /// Stops what startListening started; never opens a device to do so.
    void stopListening();
    /// Maps the capture channels to the strips' inputs. Nothing to do in the remote role, nor
    /// before an input device is set up.
    void mapChannels();

    /// The output callback, on the output device's audio thread: fills each of the non-interleaved
    /// float buffers with `numberOfFrames` frames. It zeroes them all; then, unless muted, the
    /// remote role takes exactly that many frames of clientRing() into buffers 0 (left) and 1
    /// (right), or leaves silence when the ring is filling or short. Returns 0. No lock, no
    /// allocation, no printing.
    int output(std::span<float* const> buffers, int numberOfFrames);
    /// As `stereoOut`'s data source.
    int output(ATOutput& output, std::span<float* const> buffers, int numberOfFrames) override;

    /// Main thread: prints the log lines the rings counted since the last call. A timer calls it
    /// every second.
    void flushLogs();

  private:
    const UserSettingsManager* roleSource_ = nullptr;
    std::atomic<bool> actAsClient_;
    CharRingBuffer levelRingBuffer_;
    CharRingBuffer rfLevelRingBuffer_;
    CharRingBuffer rfALevelRingBuffer_;
    CharRingBuffer rfBLevelRingBuffer_;
    CharRingBuffer rfCLevelRingBuffer_;
    CharRingBuffer rfDLevelRingBuffer_;
    CharRingBuffer rfDivLevelRingBuffer_;
    CharRingBuffer alertRingBuffer_;
    CharRingBuffer qlRingBuffer_;
    RingBuffer clientRing_;
    BlockRingBuffer blockRing_;

    std::atomic<bool> mute_{false};
    bool isListening_ = false;
    float sampleRate_ = 0.0f;
    int availableChannels_ = 0;
    int outputChannel_ = 0;
    std::optional<std::string> inputDeviceUID_;
    std::optional<std::string> outputDeviceUID_;
    PELAudioEngineDelegate* delegate_ = nullptr;
    std::unique_ptr<ATOutput> stereoOut_;
    Timer logTimer_;
};

}  // namespace quenbril

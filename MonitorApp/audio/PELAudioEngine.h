#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "MonitorApp/ATAudio/ATAudioDevice.h"
#include "MonitorApp/ATAudio/ATAudioFFTDelegate.h"
#include "MonitorApp/ATAudio/ATMicrophone.h"
#include "MonitorApp/ATAudio/ATOutput.h"
#include "MonitorApp/ATAudio/ATOutputDataSource.h"
#include "MonitorApp/audio/BlockRingBuffer.h"
#include "MonitorApp/audio/CaptureLog.h"
#include "MonitorApp/audio/CharRingBuffer.h"
#include "MonitorApp/audio/MixSnapshot.h"
#include "MonitorApp/audio/PCMBuffer.h"
#include "MonitorApp/audio/PeakHold.h"
#include "MonitorApp/audio/RingBuffer.h"
#include "MonitorApp/audio/ServerRoleLinks.h"
#include "MonitorApp/audio/ServerRoleStrips.h"
#include "MonitorApp/audio/SnapshotPublisher.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/Timer.h"

namespace quenbril {

class ATAudioFFTRolling;
class FaultDetectors;

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
/// In the server role (the role read when the engine is made: none stored, or NO) it captures one
/// input channel per strip once its devices are set up, meters and mixes every capture block,
/// analyses the captured audio for faults, sends the level and RF columns and streams the remote
/// clients' mixes; its output plays the monitor mix and the clients heard on this machine.
///
/// Threads: the histories, the properties, the devices, the listening calls and the server
/// role's timers belong to the main thread. clientRing() is written on the main thread and read
/// by output() on an audio thread; blockRing() is written and read on audio threads. mute and
/// the role are read on audio threads. The capture and output callbacks read the strips and the
/// clients only through the mix snapshot the main thread publishes (publishMix()).
class PELAudioEngine : public ATOutputDataSource,
                       public ATMicrophoneDelegate,
                       public ATAudioFFTDelegate {
  public:
    static constexpr int kHistoryChannels = 128;
    /// Columns of each history when asked for fewer: the level displays read the 128 columns
    /// before the newest. The stored setting has the same floor.
    static constexpr int kMinHistoryLength = UserSettingsManager::kMinLongRingBufLen;
    static constexpr int kClientRingChannels = 2;
    static constexpr int kClientRingFrames = 4096;
    static constexpr int kBlockFrames = 128;
    static constexpr int kBlockCount = 6;
    /// Strips the server role captures, meters and analyses at most.
    static constexpr int kMaxStrips = 128;
    static constexpr int kCaptureFrames = 3000;
    static constexpr int kStreamBufferFrames = 1280;
    /// The capture mixes its blocks into these in turn.
    static constexpr int kPCMBufferCount = 4;
    /// Timer intervals of the server role, in seconds.
    static constexpr double kVisualsInterval = 512.0 / 48000.0;
    static constexpr double kStreamInterval = 128.0 / 48000.0;
    static constexpr double kLevelsInterval = 0.1;

    /// The one engine, made on first use with the role and history length the user settings
    /// hold then.
    static PELAudioEngine& sharedInstance();
    /// Tests: drops the shared instance; the next sharedInstance() makes a new one (a restart).
    static void resetSharedInstance();

    /// The shared engine: one over the shared user settings.
    PELAudioEngine();
    /// An engine with the history length `settings` hold now, that follows the role they hold
    /// at each moment and reads its streaming and warning switches from them. They outlive the
    /// engine.
    explicit PELAudioEngine(const UserSettingsManager& settings);
    /// `actAsClient`: the remote role, until setActAsClient changes it. `longRingBufLen`:
    /// columns of each history (at least 128), read once, here. On the thread of the main run
    /// loop, where a repeating timer prints the rings' log lines. It reads its streaming and
    /// warning switches from the shared user settings.
    PELAudioEngine(bool actAsClient, int longRingBufLen);
    ~PELAudioEngine() override;
    PELAudioEngine(const PELAudioEngine&) = delete;
    PELAudioEngine& operator=(const PELAudioEngine&) = delete;

    /// The role in force: the user settings' role for an engine made from them, so that a role
    /// stored while running (the connection dialog's) takes effect at once.
    bool actAsClient() const;
    /// The role of an engine made with an explicit one.
    void setActAsClient(bool actAsClient) { actAsClient_.store(actAsClient); }
    /// The role for this run, read once when the engine was made: capture, analysis and the
    /// channel maps act only in the server role.
    bool serverRole() const { return serverRole_; }

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
    /// Whether the chosen output device is to be awaited rather than played on: `found`, what
    /// currentOutputDevice() gave, is the default standing in for a chosen device that is not
    /// listed (a JACK server not started yet, a card unplugged), or the chosen device itself
    /// while it has nothing to play on (a JACK server started without playback ports).
    bool awaitsChosenOutput(const std::optional<ATAudioDevice>& found) const {
        return outputDeviceUID_ && found &&
               (found->UID() != *outputDeviceUID_ || found->outputChannelCount() <= 0);
    }

    /// The remote role's output; null before startClient().
    ATOutput* stereoOut() const { return stereoOut_.get(); }
    /// Opens the current output device as `stereoOut` (stereo, 48 kHz, on device channels
    /// outputChannel and +1) and starts it. Without a device: a log line, and the output plays
    /// once the host lists the chosen device (by UID) or a default one; a chosen device that is
    /// not listed is awaited, the default standing in meanwhile.
    void startClient();
    /// Closes the output and stops the capture: no audio callback reaches the engine after it
    /// returns, and the output tries no device again. Bounded however the sound host behaves.
    /// The application calls it before main returns: the shared engine goes only in static
    /// destruction, after the shared user settings its output callback reads.
    void stopAudioThreads();

    /// Not owned; the delegate clears it before it goes away.
    PELAudioEngineDelegate* delegate() const { return delegate_; }
    void setDelegate(PELAudioEngineDelegate* delegate) { delegate_ = delegate; }

    bool isListening() const { return isListening_.load(std::memory_order_relaxed); }
    /// Starts playback of `stereoOut` when there is one and, in the server role after a set-up,
    /// the capture and the analysis, stream and level timers; otherwise only the listening
    /// state changes.
    void startListening();
    /// Stops the analysis timer, the capture and playback (the level and stream timers run on);
    /// never opens a device to do so.
    void stopListening();
    /// Maps capture channel k to strip k's input and restarts listening. Nothing to do in the
    /// remote role, nor before the devices are set up.
    void mapChannels();

    /// The output callback, on the output device's audio thread: fills each of the non-interleaved
    /// float buffers with `numberOfFrames` frames. It zeroes them all; then, unless muted, the
    /// remote role takes exactly that many frames of clientRing() into buffers 0 (left) and 1
    /// (right), or leaves silence when the ring is filling or short; the server role plays the
    /// monitor mix's oldest block on buffers 0 and 1 and each local client's on its pair.
    /// Returns 0. No lock, no allocation, no printing.
    int output(std::span<float* const> buffers, int numberOfFrames);
    /// As `stereoOut`'s data source.
    int output(ATOutput& output, std::span<float* const> buffers, int numberOfFrames) override;

    /// Main thread: prints the log lines the rings counted since the last call. A timer calls it
    /// every second.
    void flushLogs();

    // The strips are the engine's channels as ServerRoleStrips gives them, so these have
    // nothing to do; nothing calls them.
    void resetChannels() {}
    void updateEnabledChannels(const Array& channels) { (void)channels; }
    /// Always 0.
    int indexForChannel(int channel) const {
        (void)channel;
        return 0;
    }
    /// A spectrum analyser the engine could feed; nothing sets it, and its spectra change
    /// nothing.
    ATAudioFFTRolling* fft() const { return fft_.get(); }
    void setFft(std::unique_ptr<ATAudioFFTRolling> fft);
    void fft(ATAudioFFT& fft, float* fftData, uint64_t bufferSize) override;
    /// Non-owning references to strip views; nothing sets or reads them.
    const std::vector<std::weak_ptr<void>>& channelStrips() const { return channelStrips_; }
    void setChannelStrips(std::vector<std::weak_ptr<void>> strips) {
        channelStrips_ = std::move(strips);
    }

    // ---- The server role ----

    /// The strips the capture channels belong to (not owned; null for none). The owner removes
    /// itself before it dies.
    void setStrips(ServerRoleStrips* strips);
    ServerRoleStrips* strips() const { return strips_; }
    /// Removes `strips` from the shared engine when it exists and uses them.
    static void forgetStrips(const ServerRoleStrips* strips);
    /// The client listener, remote-client records and receiver registry (not owned; null for
    /// none, as in the application). Removing them waits until no audio callback uses their
    /// rings.
    void setLinks(ServerRoleLinks* links);
    /// The input unit the set-up uses (not owned; it outlives the engine); the shared
    /// microphone unless one is given.
    void setMicrophone(ATMicrophone* microphone) { microphoneToUse_ = microphone; }

    /// Sets up the devices chosen (the defaults where none is): captures the input device with
    /// one mapped channel, makes the analysis filters at its rate and the monitor output
    /// `stereoOut`. Returns the input device's channel count.
    int initializeEngineWithCurrentDevices();
    /// True after a set-up that found an input device with a sample rate: only then do the
    /// capture and the timers run.
    bool isSetUp() const { return detectors_ != nullptr; }
    /// Routes the monitor output's client channels to the listed device channels.
    void mapOutputChannels(const std::vector<int>& channels);
    /// YES when input and output devices exist with the dictionary's "inputDeviceUID" and
    /// "outputDeviceUID".
    static bool areDevicesAvailable(const Dictionary& devices);

    /// Main thread: publishes what the audio callbacks read of the strips and the busy client
    /// slots when it changed. The engine calls it on each level send and channel map.
    void publishMix();
    const MixSnapshot* mixSnapshot() const { return mix_.current(); }

    /// The capture callback: meters, mixes and keeps `frames` frames of `channels` channels,
    /// one per strip, in blocks of at most 128 frames. Capture thread.
    void hasAudioReceived(ATMicrophone& microphone, float* const* buffers, int bufferSize,
                          int numberOfChannels) override;
    void processCapture(const float* const* buffers, int frames, int channels);
    /// Adds `bufferSize` frames of each strip of `controllers` that is not off into `left` and
    /// `right` at its gain and pan law; strip k takes capture channel k of `in`, for k below
    /// `channels`. With `mixStreamBuffer` each also goes into the stream mix at its gain alone.
    /// Capture thread: no lock, no allocation.
    void mixStereoFrom(const float* const* in, int channels, float* left, float* right,
                       std::span<const StripMix> controllers, int bufferSize, bool mixStreamBuffer);
    /// The stream mix of the last capture block (the monitor mix at the strips' gains alone).
    const float* streamMix() const { return streamMix_.data(); }

    /// The analysis timer: runs the fault tests on every full analysis block captured.
    void processVisuals();
    /// The level timer: sends the level and RF columns and appends them to the histories.
    void sendLevels();
    /// The stream timer: sends the streamed clients' mixed blocks to their hosts.
    void sendStream();

    /// Captured audio awaiting analysis: 128 channels x 3000 frames.
    RingBuffer& ringBuffer() { return ringBuffer_; }
    /// The monitor mix as the capture appends it; nothing reads it.
    RingBuffer& streamBuffer() { return streamBuffer_; }
    /// The level byte strip `index` holds until the next level send.
    int8_t heldLevel(int index) const { return levels_.peek(index); }
    /// The columns of the last level send.
    const std::array<int8_t, kMaxStrips>& prevLevels() const { return prevLevels_; }
    const std::array<int8_t, kMaxStrips>& prevRfLevels() const { return prevRf_[0]; }
    FaultDetectors* faultDetectors() const { return detectors_.get(); }
    /// The capture's mix buffers: block k (counting from 1) leaves its monitor mix in buffer
    /// (k + 2) modulo kPCMBufferCount. Read them only while no capture runs.
    const PCMBuffer& pcmBuffer(int index) const { return pcmBuffers_[static_cast<size_t>(index)]; }
    CaptureLog& captureLog() { return captureLog_; }

    /// The RMS of the first numSamples samples (the other figures are not used).
    static double calcAudioRMS(const float* samples, int numSamples, int start, int len,
                               int bufSize);
    /// The RMS of the `len` samples from `start`.
    static double calcShortAudioRMS(const float* samples, int numSamples, int start, int len);
    static float meanOf(const float* samples, int len);
    /// The mean of the squared deviations from the mean (a variance, as its callers expect).
    static float standardDeviationOf(const float* samples, int len);
    /// The difference of two phases, folded once toward -pi..pi.
    static float getDistance(float ph1, float ph2);

  private:
    void captureBlock(const MixSnapshot& mix, const float* const* in, int frames, int channels);
    void playServerRole(std::span<float* const> buffers, int frames);
    static void deliver(const float* block, float* buffer, int frames);
    /// The settings it was made over, else the shared ones.
    const UserSettingsManager& settings() const;

    const UserSettingsManager* roleSource_ = nullptr;
    std::atomic<bool> actAsClient_;
    const bool serverRole_;
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
    std::atomic<bool> isListening_{false};
    float sampleRate_ = 0.0f;
    int availableChannels_ = 0;
    int outputChannel_ = 0;
    std::optional<std::string> inputDeviceUID_;
    std::optional<std::string> outputDeviceUID_;
    PELAudioEngineDelegate* delegate_ = nullptr;
    std::unique_ptr<ATAudioFFTRolling> fft_;
    std::vector<std::weak_ptr<void>> channelStrips_;
    std::unique_ptr<ATOutput> stereoOut_;
    Timer logTimer_;

    // The server role. Main thread: the services, the analysis and the sends.
    ServerRoleStrips* strips_ = nullptr;
    ServerRoleLinks* links_ = nullptr;
    ATMicrophone* microphoneToUse_ = nullptr;
    ATMicrophone* microphone_ = nullptr;
    std::unique_ptr<FaultDetectors> detectors_;
    std::vector<float> processing_;
    std::array<int8_t, kMaxStrips> prevLevels_{};
    /// RF, RF A..D and quality columns, gathered by each level send.
    std::array<std::array<int8_t, kMaxStrips>, 6> rf_{};
    std::array<std::array<int8_t, kMaxStrips>, 5> prevRf_{};
    std::vector<uint8_t> streamLeft_;
    std::vector<uint8_t> streamRight_;
    Timer visualsTimer_;
    Timer streamTimer_;
    Timer levelsTimer_;

    // Shared with the audio threads.
    static constexpr int kCaptureReader = 0;
    static constexpr int kOutputReader = 1;
    SnapshotPublisher<MixSnapshot, 2> mix_;
    RingBuffer ringBuffer_;
    RingBuffer streamBuffer_;
    PeakHold levels_;
    CaptureLog captureLog_;
    std::atomic<uint32_t> captureCounter_{1};
    std::atomic<float> captureRate_{0.0f};

    // The capture thread's own buffers: the monitor mixes, a client mix and the stream mix.
    std::array<PCMBuffer, kPCMBufferCount> pcmBuffers_;
    std::array<float, kBlockFrames> clientLeft_{};
    std::array<float, kBlockFrames> clientRight_{};
    std::array<float, kBlockFrames> streamMix_{};
};

}  // namespace quenbril

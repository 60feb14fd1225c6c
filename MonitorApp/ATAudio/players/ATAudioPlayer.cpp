#include "MonitorApp/ATAudio/players/ATAudioPlayer.h"

#include <algorithm>
#include <chrono>

#include "MonitorApp/ATAudio/ATAudioUtilities.h"
#include "foundation/NotificationCenter.h"
#include "foundation/SharedInstance.h"
#include "foundation/dispatch/Queue.h"

namespace quenbril {
namespace {

using U = ATAudioUtilities;

constexpr uint32_t kRingChannels = 2;
/// How long the reading thread rests when the ring is full or there is nothing to read.
constexpr auto kIdle = std::chrono::milliseconds(2);
/// Set in the output's position by a cut of the ring: a period the output took from before the
/// cut fails to be counted and is taken again within it.
constexpr uint64_t kCutMark = uint64_t{1} << 63;

}  // namespace

ATAudioPlayer::ATAudioPlayer(ATAudioPlayerDelegate* delegate, AudioBackend& backend)
    : delegate_(delegate), backend_(backend), alive_(std::make_shared<ATAudioPlayer*>(this)) {
    output_ = std::make_unique<ATOutput>(backend_);
    // A file plays on the device's first pair, left and right.
    if (output_->device()) output_->setOutputChannel(0);
    adoptOutput();
    ring_.assign(kRingChannels, std::vector<float>(kRingFrames, 0.0f));
    readList_ = U::audioBufferListWithNumberOfFrames(kReadFrames, kRingChannels, false);
    startReading();
}

ATAudioPlayer::ATAudioPlayer(const std::shared_ptr<ATAudioFile>& audioFile,
                             ATAudioPlayerDelegate* delegate, AudioBackend& backend)
    : ATAudioPlayer(delegate, backend) {
    setAudioFile(audioFile);
}

ATAudioPlayer::ATAudioPlayer(const std::string& url, ATAudioPlayerDelegate* delegate,
                             AudioBackend& backend)
    : ATAudioPlayer(ATAudioFile::audioFileWithURL(url), delegate, backend) {}

ATAudioPlayer::~ATAudioPlayer() {
    stopping_.store(true);
    if (reader_.joinable()) reader_.join();
    // Only once the reading thread is gone: it hands work to the main queue with `alive_`.
    alive_.reset();
    // The output goes first: its audio thread reads the ring.
    output_.reset();
    if (audioFile_) audioFile_->setDelegate(nullptr);
    U::freeBufferList(readList_);
}

ATAudioPlayer& ATAudioPlayer::sharedAudioPlayer() {
    static SharedInstance<ATAudioPlayer> player;
    return player.get();
}

void ATAudioPlayer::adoptOutput() {
    output_->setDataSource(this);
    output_->setDelegate(this);
}

void ATAudioPlayer::startReading() {
    reader_ = std::thread([this] { readLoop(); });
}

void ATAudioPlayer::post(const char* name) { NotificationCenter::defaultCenter().post(name); }

void ATAudioPlayer::onMain(std::function<void(ATAudioPlayer&)> work) {
    std::weak_ptr<ATAudioPlayer*> alive = alive_;
    dispatch::Queue::main()->async([alive, work = std::move(work)] {
        if (auto player = alive.lock()) work(**player);
    });
}

// Playing.

void ATAudioPlayer::play() {
    {
        // A file that failed to read is tried again from where it stopped; a pause for the
        // failure still on its way to the main queue is dropped.
        std::lock_guard guard(feeder_);
        if (ended_ && readFailed_ && audioFile_) {
            audioFile_->seekToFrame(audioFile_->frameIndex());
            ended_ = readFailed_ = false;
            generation_.fetch_add(1);
        }
    }
    output_->startPlayback();
}

void ATAudioPlayer::pause() { output_->stopPlayback(); }

void ATAudioPlayer::playAudioFile(const std::shared_ptr<ATAudioFile>& audioFile) {
    pause();
    setAudioFile(audioFile);
    play();
}

void ATAudioPlayer::setAudioFile(const std::shared_ptr<ATAudioFile>& audioFile) {
    std::shared_ptr<ATAudioFile> copy = audioFile ? audioFile->copy() : nullptr;
    {
        std::lock_guard guard(feeder_);
        if (audioFile_) audioFile_->setDelegate(nullptr);
        audioFile_ = copy;
        if (copy) copy->setDelegate(this);
        ringChannels_ = copy ? std::min(copy->clientFormat().mChannelsPerFrame, kRingChannels) : 0;
        audioChannels_.store(ringChannels_);
        flushRing();
    }
    // Without a file the output keeps the format it has: a format of nothing is no format. The
    // same format leaves a playing stream alone.
    if (copy) {
        const ATUnitFormat format{copy->clientFormat().mSampleRate,
                                  static_cast<int>(ringChannels_)};
        if (output_->inputFormat() != format) output_->setInputFormat(format);
    }
    post(kDidChangeAudioFileNotification);
}

void ATAudioPlayer::setOutput(std::unique_ptr<ATOutput> output) {
    if (!output) return;
    output_->stopPlayback();
    output_->setDataSource(nullptr);
    output_->setDelegate(nullptr);
    {
        // The reading thread asks the output what it played. What the old one held goes with it,
        // and none of the new one's frames are the ring's yet.
        std::lock_guard guard(feeder_);
        std::swap(output_, output);
        takenOut_.store(0);
    }
    // Closing its stream may take a while: not with the reading thread held.
    output.reset();
    adoptOutput();
    if (audioFile_) {
        output_->setInputFormat(
            {audioFile_->clientFormat().mSampleRate, static_cast<int>(ringChannels_)});
    }
}

void ATAudioPlayer::setDevice(const ATAudioDevice& device) { output_->setDevice(device); }

void ATAudioPlayer::setPan(float pan) {
    output_->setPan(pan);
    post(kDidChangePanNotification);
}

void ATAudioPlayer::setVolume(float volume) {
    output_->setVolume(volume);
    post(kDidChangeVolumeNotification);
}

void ATAudioPlayer::setShouldLoop(bool shouldLoop) {
    std::lock_guard guard(feeder_);
    shouldLoop_.store(shouldLoop);
    if (!audioFile_) return;
    if (!shouldLoop) {
        endAtTheNextLoop();
        return;
    }
    // A read that failed is no end to start over from: playing pauses there.
    if (!endAt_ || readFailed_) return;
    // The reading thread met the end already and waits for the output to play it: the end
    // becomes where the file starts over, as if looping had been on when it was read.
    audioFile_->seekToFrame(0);
    loopsAt_.push_back(*endAt_);
    endAt_.reset();
}

// Position.

void ATAudioPlayer::seekToFrame(int64_t frame) {
    {
        // The reading thread holds this lock around its reads, so the file's own lock is free
        // and the seek is never dropped.
        std::lock_guard guard(feeder_);
        if (audioFile_) audioFile_->seekToFrame(frame);
        flushRing();
    }
    post(kDidSeekNotification);
}

void ATAudioPlayer::setCurrentTime(double seconds) {
    {
        std::lock_guard guard(feeder_);
        if (audioFile_) audioFile_->setCurrentTime(seconds);
        flushRing();
    }
    post(kDidSeekNotification);
}

double ATAudioPlayer::currentTime() const {
    return audioFile_ ? audioFile_->timeOfFrame(frameIndex()) : 0.0;
}

double ATAudioPlayer::duration() const { return audioFile_ ? audioFile_->duration() : 0.0; }

int64_t ATAudioPlayer::frameIndex() const {
    // The frame playing now: the file is read ahead of it by what the ring holds.
    std::lock_guard guard(feeder_);
    if (!audioFile_) return 0;
    return std::max<int64_t>(audioFile_->frameIndex() - framesReadAhead(), 0);
}

int64_t ATAudioPlayer::totalFrames() const { return audioFile_ ? audioFile_->totalFrames() : 0; }

std::string ATAudioPlayer::formattedCurrentTime() const {
    return U::displayTimeStringFromSeconds(currentTime());
}

std::string ATAudioPlayer::formattedDuration() const {
    return U::displayTimeStringFromSeconds(duration());
}

// The ring.

void ATAudioPlayer::flushRing() {
    discardUntil_.store(written_.load(std::memory_order_relaxed), std::memory_order_release);
    endAt_.reset();
    ended_ = false;
    readFailed_ = false;
    loopsAt_.clear();
    generation_.fetch_add(1);
}

void ATAudioPlayer::endAtTheNextLoop() {
    // The reading thread went on from the start already: the first start-over the output has not
    // passed becomes the end, as if looping had been off when it was read. Earlier ones were
    // played and are announced as loops.
    for (auto loop = loopsAt_.begin(); loop != loopsAt_.end(); ++loop) {
        if (*loop < playedUpTo() || !cutRingAt(*loop)) continue;
        endAt_ = *loop;
        loopsAt_.erase(loop, loopsAt_.end());
        // A read that failed in a later pass went with what the cut dropped: this is the end.
        readFailed_ = false;
        // The file stands where the ring now ends.
        audioFile_->seekToFrame(audioFile_->totalClientFrames());
        return;
    }
}

bool ATAudioPlayer::cutRingAt(uint64_t at) {
    const uint64_t written = written_.load();
    written_.store(at);
    // The mark fails the count of a period the output took before it saw the cut, so that it is
    // taken again within the cut (see output()); what the output counted before is returned.
    const uint64_t played = std::max(read_.fetch_or(kCutMark) & ~kCutMark, discardUntil_.load());
    if (played <= at) return true;
    // The output passed `at` meanwhile: the pass after it is the one playing.
    written_.store(written);
    return false;
}

uint64_t ATAudioPlayer::playedUpTo() const {
    return std::max(read_.load(std::memory_order_acquire) & ~kCutMark,
                    discardUntil_.load(std::memory_order_acquire));
}

bool ATAudioPlayer::outputPlayedWhatItTook() const {
    return output_->framesPlayed() >= takenOut_.load(std::memory_order_acquire);
}

int ATAudioPlayer::framesReadAhead() const {
    return static_cast<int>(written_.load(std::memory_order_acquire) - playedUpTo());
}

int ATAudioPlayer::output(ATOutput& output, std::span<float* const> buffers, int numberOfFrames) {
    const uint32_t channels = std::min(static_cast<uint32_t>(buffers.size()),
                                       audioChannels_.load(std::memory_order_relaxed));
    if (channels == 0) return 0;
    uint64_t mark = read_.load(std::memory_order_acquire);
    for (;;) {
        const uint64_t from =
            std::max(mark & ~kCutMark, discardUntil_.load(std::memory_order_acquire));
        const uint64_t written = written_.load(std::memory_order_acquire);
        // A cut of the ring can leave it behind a period taken meanwhile, for a moment.
        const uint64_t held = from < written ? written - from : 0;
        const int take =
            static_cast<int>(std::min<uint64_t>(held, static_cast<uint64_t>(numberOfFrames)));
        for (uint32_t c = 0; c < channels; ++c) {
            const float* ring = ring_[c].data();
            float* out = buffers[c];
            for (int i = 0; i < take; ++i)
                out[i] = ring[(from + static_cast<uint64_t>(i)) % kRingFrames];
            // What the ring could not give plays as silence, never as an older slice.
            std::fill(out + take, out + numberOfFrames, 0.0f);
        }
        // Stored before read_: whoever sees the frames taken sees where the output holds them.
        if (take > 0) takenOut_.store(output.framesTaken() + static_cast<uint64_t>(take));
        // Fails when the ring was cut since `mark` was read: the period is taken again.
        if (read_.compare_exchange_weak(mark, from + static_cast<uint64_t>(take),
                                        std::memory_order_acq_rel, std::memory_order_acquire))
            return 0;
    }
}

void ATAudioPlayer::readLoop() {
    while (!stopping_.load()) {
        bool worked = false;
        {
            std::lock_guard guard(feeder_);
            worked = readAhead();
        }
        if (!worked) std::this_thread::sleep_for(kIdle);
    }
}

bool ATAudioPlayer::readAhead() {
    if (!audioFile_ || ended_) return false;
    const uint64_t written = written_.load(std::memory_order_relaxed);
    const uint64_t start = playedUpTo();
    while (!loopsAt_.empty() && start >= loopsAt_.front()) {
        // The output has played up to where the file started over: the owner hears of it now.
        loopsAt_.pop_front();
        std::shared_ptr<ATAudioFile> file = audioFile_;
        onMain([file](ATAudioPlayer& player) {
            if (ATAudioPlayerDelegate* delegate = player.delegate())
                delegate->audioPlayerReachedEndOfAudioFile(player, *file);
            player.post(kDidSeekNotification);
        });
    }
    if (endAt_) {
        // A converting output takes frames a period or so before it plays them, and what
        // follows the end (a pause) would cut them off.
        if (start < *endAt_ || !outputPlayedWhatItTook()) return false;
        // Everything up to the end has been played: the main queue takes it from here.
        ended_ = true;
        endAt_.reset();
        const uint64_t generation = generation_.load();
        std::shared_ptr<ATAudioFile> file = audioFile_;
        if (readFailed_) {
            onMain([file, generation](ATAudioPlayer& player) {
                player.stoppedReading(file, generation);
            });
        } else {
            onMain(
                [file, generation](ATAudioPlayer& player) { player.reachedEnd(file, generation); });
        }
        return false;
    }
    if (kRingFrames - (written - start) < kReadFrames) return false;
    uint32_t got = 0;
    bool eof = false;
    Error error;
    audioFile_->readFrames(kReadFrames, readList_, &got, &eof, &error);
    for (uint32_t c = 0; c < ringChannels_; ++c) {
        const float* in = static_cast<const float*>(readList_->mBuffers[c].mData);
        float* ring = ring_[c].data();
        for (uint32_t i = 0; i < got; ++i) ring[(written + i) % kRingFrames] = in[i];
    }
    written_.store(written + got, std::memory_order_release);
    if (error.code != 0) {
        // The file logged why. What was read plays, then playing stops: neither an end nor a
        // loop, which would only meet the failure again.
        readFailed_ = true;
        endAt_ = written + got;
        return true;
    }
    if (!eof) return got > 0;
    if (shouldLoop_.load()) {
        // Looping goes on reading from the start without a gap; the owner hears of it once the
        // output gets there.
        audioFile_->seekToFrame(0);
        loopsAt_.push_back(written);
        return true;
    }
    endAt_ = written;
    return true;
}

void ATAudioPlayer::reachedEnd(const std::shared_ptr<ATAudioFile>& file, uint64_t generation) {
    // A seek or another file since then has made this end stale.
    if (generation != generation_.load() || file != audioFile_) return;
    if (ATAudioPlayerDelegate* delegate = this->delegate())
        delegate->audioPlayerReachedEndOfAudioFile(*this, *file);
    pause();
    seekToFrame(0);
    post(kDidReachEndOfFileNotification);
}

void ATAudioPlayer::stoppedReading(const std::shared_ptr<ATAudioFile>& file, uint64_t generation) {
    if (generation != generation_.load() || file != audioFile_) return;
    pause();
}

// Forwarding.

void ATAudioPlayer::changedPlayingState(ATOutput& /*output*/, bool /*isPlaying*/) {
    post(kDidChangePlayStateNotification);
}

void ATAudioPlayer::changedDevice(ATOutput& /*output*/, const ATAudioDevice& /*device*/) {
    post(kDidChangeOutputDeviceNotification);
}

void ATAudioPlayer::audioFile(ATAudioFile& file, float** buffer, uint32_t bufferSize,
                              uint32_t numberOfChannels) {
    if (ATAudioPlayerDelegate* delegate = this->delegate())
        delegate->audioPlayer(*this, buffer, bufferSize, numberOfChannels, file);
}

void ATAudioPlayer::audioFileUpdatedPosition(ATAudioFile& file) {
    if (ATAudioPlayerDelegate* delegate = this->delegate())
        delegate->audioPlayer(*this, file.frameIndex(), file);
}

}  // namespace quenbril

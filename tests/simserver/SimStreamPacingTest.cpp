// The stand-in's stream as a remote hears it, on a virtual clock: the stand-in's pacer,
// production and codec send; the remote's frame reader, stream writer and stream ring (as its
// engine makes it) receive, and its audio device takes one period at a time.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "MonitorApp/audio/PELAudioEngine.h"
#include "MonitorApp/audio/RingBuffer.h"
#include "MonitorApp/dispatch/StreamBlockWriter.h"
#include "MonitorApp/link/LinkCodec.h"
#include "MonitorApp/link/LinkFrameReader.h"
#include "MonitorApp/link/LinkMessageReader.h"
#include "simserver/SimProduction.h"
#include "simserver/SimSignals.h"
#include "simserver/SimStreamPacer.h"

namespace quenbril::test {
namespace {

constexpr double kRate = SimSignals::kSampleRate;

/// The remote's side: every frame goes through its reader and stream writer into a ring like
/// its engine's; each period its device plays what the ring hands out, silence otherwise.
class ListeningRemote {
  public:
    explicit ListeningRemote(int period) : period_(period) {}

    void receive(const Bytes& frame) {
        reader_.feed(frame.data(), frame.size());
        while (auto f = reader_.takeFrame()) {
            const std::optional<Dictionary> message = LinkCodec::decodeBody(f->body);
            ASSERT_TRUE(message);
            const LinkRead<StreamBlock> read = LinkMessageReader::streamData(*message);
            const std::optional<StreamBlock>& block = read.get();
            ASSERT_TRUE(block);
            // What the ring cannot hold on top of what it has pushes its oldest frames out.
            if (ring_.dataInBuffer() + static_cast<int>(block->frames) >= ring_.bufferLen()) {
                ++overflows_;
            }
            writer_.write(ring_, *block);
        }
    }

    void playPeriod() {
        // A ring this full drops its oldest half at the read.
        if (ring_.dataInBuffer() > 0.9 * ring_.bufferLen()) ++overflows_;
        std::vector<float> left(period_, 0.0f), right(period_, 0.0f);
        float* const out[2] = {left.data(), right.data()};
        int got = 0;
        ring_.consume(out, period_, &got, 2);
        sounded_.push_back(got == period_);
        if (got != period_) return;
        EXPECT_EQ(left, right) << "one strip plays on both sides";
        played_.insert(played_.end(), left.begin(), left.end());
    }

    int period() const { return period_; }
    int overflows() const { return overflows_; }
    /// The frames of the periods that played, in order.
    const std::vector<float>& played() const { return played_; }
    /// The periods before the first that played.
    size_t waited() const {
        return static_cast<size_t>(std::find(sounded_.begin(), sounded_.end(), true) -
                                   sounded_.begin());
    }
    /// The runs of silent periods after the first that played, as [first, end).
    std::vector<std::pair<size_t, size_t>> silences() const {
        std::vector<std::pair<size_t, size_t>> runs;
        for (size_t i = waited(); i < sounded_.size(); ++i) {
            if (sounded_[i]) continue;
            if (runs.empty() || runs.back().second != i) runs.emplace_back(i, i);
            ++runs.back().second;
        }
        return runs;
    }

  private:
    int period_;
    LinkFrameReader reader_{LinkPeer::Remote};
    StreamBlockWriter writer_;
    RingBuffer ring_{PELAudioEngine::kClientRingChannels, PELAudioEngine::kClientRingFrames};
    int overflows_ = 0;
    std::vector<bool> sounded_;
    std::vector<float> played_;
};

/// Runs the stand-in's stream to `remote` for `seconds` of virtual time: the send due at
/// n x kInterval runs `late(n)` seconds after that (and never before the one before it), the
/// device's periods come on time. Returns the blocks sent.
template <class Lateness>
std::vector<SimStreamPacer::Block> stream(ListeningRemote& remote, size_t position, double seconds,
                                          Lateness late) {
    SimProduction production(16);
    EXPECT_TRUE(production.activateSingle(production.enabledStrips()[position]->csID));
    SimStreamPacer pacer;
    std::vector<SimStreamPacer::Block> sent;
    double sendAt = 0;
    int64_t sends = 1, periods = 0;
    const double periodSeconds = remote.period() / kRate;
    while (true) {
        const double nextSend =
            std::max(sendAt, static_cast<double>(sends) * SimStreamPacer::kInterval + late(sends));
        const double nextPeriod = static_cast<double>(periods) * periodSeconds;
        if (std::min(nextSend, nextPeriod) > seconds) break;
        if (nextSend <= nextPeriod) {
            sendAt = nextSend;
            ++sends;
            auto block = pacer.due(sendAt);
            if (!block) continue;
            sent.push_back(*block);
            auto message = production.streamMessage(block->first, block->count);
            EXPECT_TRUE(message);
            auto frame = LinkCodec::encodeFrame(*message, LinkPeer::Server);
            EXPECT_TRUE(frame);
            remote.receive(*frame);
        } else {
            ++periods;
            remote.playPeriod();
        }
    }
    return sent;
}

/// How many of the frames played are, from the first on, the strip's tone at the stream
/// samples of the blocks sent, in order.
size_t framesAsSent(const std::vector<float>& played,
                    const std::vector<SimStreamPacer::Block>& sent, size_t position) {
    size_t n = 0;
    for (const auto& block : sent) {
        for (size_t i = 0; i < block.count; ++i, ++n) {
            if (n == played.size()) return n;
            const int64_t sample = block.first + static_cast<int64_t>(i);
            if (played[n] != SimSignals::toneSample(position, sample)) return n;
        }
    }
    return n;
}

/// The first block that does not follow its predecessor sample for sample, from `from` on.
auto nextJump(std::vector<SimStreamPacer::Block>::const_iterator from,
              std::vector<SimStreamPacer::Block>::const_iterator end) {
    auto jump = std::adjacent_find(from, end, [](const auto& a, const auto& b) {
        return b.first != a.first + static_cast<int64_t>(a.count);
    });
    return jump == end ? end : jump + 1;
}

class SimStreamPacing : public ::testing::TestWithParam<int> {};

TEST_P(SimStreamPacing, AJitteryStreamPlaysAsOneUnbrokenToneAtTheSampleRate) {
    ListeningRemote remote(GetParam());
    constexpr size_t kPosition = 3;
    constexpr double kSeconds = 20;
    // Every send a little late, by up to 10 ms, never the same twice.
    std::mt19937 random(7);
    std::uniform_real_distribution<double> jitter(0.0, 0.010);
    const auto sent = stream(remote, kPosition, kSeconds, [&](int64_t) { return jitter(random); });

    // The stream from its first sample, without a jump: the sample rate on average.
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.front().first, 0);
    EXPECT_EQ(nextJump(sent.begin(), sent.end()), sent.end());
    int64_t total = 0;
    for (const auto& block : sent) {
        EXPECT_LE(block.count, static_cast<size_t>(SimStreamPacer::kMaxCatchUpFrames));
        total += static_cast<int64_t>(block.count);
    }
    // The last send came at most a send's interval and its lateness before the end.
    EXPECT_GE(total, static_cast<int64_t>((kSeconds - 0.016) * kRate));

    // The remote's ring never overflows; it plays within a tenth of a second, and from then
    // on every period, each the tone as sent, to the end.
    EXPECT_EQ(remote.overflows(), 0);
    EXPECT_LT(static_cast<double>(remote.waited() * remote.period()), 0.1 * kRate);
    const auto silences = remote.silences();
    EXPECT_TRUE(silences.empty()) << silences.size() << " silences, the first at period "
                                  << (silences.empty() ? 0 : silences[0].first);
    EXPECT_EQ(framesAsSent(remote.played(), sent, kPosition), remote.played().size());
    EXPECT_GT(static_cast<double>(remote.played().size()), (kSeconds - 0.2) * kRate);
}

TEST_P(SimStreamPacing, AfterAStallTheStreamSkipsAheadWithoutOverflowingAndPlaysOn) {
    ListeningRemote remote(GetParam());
    constexpr size_t kPosition = 5;
    // Ten seconds on time, but the send due at 5 s waits 0.3 s for a busy queue; those after
    // it that fell due meanwhile run with it.
    constexpr int64_t kStalled = static_cast<int64_t>(5.0 / SimStreamPacer::kInterval);
    const auto sent =
        stream(remote, kPosition, 10.0, [](int64_t n) { return n == kStalled ? 0.3 : 0.0; });

    // One block catches up as much as the remote's ring takes, and the stream goes on from
    // there: the rest of what the stall held up is skipped.
    const auto resumed = nextJump(sent.begin(), sent.end());
    ASSERT_NE(resumed, sent.end());
    EXPECT_EQ(resumed->count, static_cast<size_t>(SimStreamPacer::kMaxCatchUpFrames));
    EXPECT_EQ(resumed->first + SimStreamPacer::kMaxCatchUpFrames,
              static_cast<int64_t>(std::floor(5.3 * kRate)));
    EXPECT_EQ(nextJump(resumed, sent.end()), sent.end()) << "one skip only";

    // The remote's ring never overflows, the catch-up included: it falls silent once, through
    // the stall, and plays every frame it was sent, in order.
    EXPECT_EQ(remote.overflows(), 0);
    const auto silences = remote.silences();
    ASSERT_EQ(silences.size(), 1u);
    const double silent = static_cast<double>(silences[0].second - silences[0].first);
    EXPECT_LT(silent * remote.period(), 0.3 * kRate);
    EXPECT_EQ(framesAsSent(remote.played(), sent, kPosition), remote.played().size());
}

// A JACK server's usual periods, from the tests' 128 frames up to 1,024.
INSTANTIATE_TEST_SUITE_P(DevicePeriods, SimStreamPacing, ::testing::Values(128, 256, 1024));

TEST(SimStreamPacer, TakesWhatFellDueOnceAndNothingBeforeTheStart) {
    SimStreamPacer pacer;
    EXPECT_FALSE(pacer.due(0.0));
    EXPECT_FALSE(pacer.due(-1.0));
    auto block = pacer.due(0.0051);
    ASSERT_TRUE(block);
    EXPECT_EQ(block->first, 0);
    EXPECT_EQ(block->count, 244u);
    EXPECT_FALSE(pacer.due(0.0051)) << "nothing twice";
    EXPECT_FALSE(pacer.due(0.005)) << "a clock read earlier adds nothing";
    block = pacer.due(0.01);
    ASSERT_TRUE(block);
    EXPECT_EQ(block->first, 244);
    EXPECT_EQ(block->count, 236u);
    pacer.restart();
    block = pacer.due(1.0);
    ASSERT_TRUE(block);
    EXPECT_EQ(block->first, 48000 - SimStreamPacer::kMaxCatchUpFrames) << "a restart skips ahead";
}

}  // namespace
}  // namespace quenbril::test

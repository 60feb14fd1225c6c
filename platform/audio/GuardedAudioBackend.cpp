#include "platform/audio/GuardedAudioBackend.h"

#include <atomic>
#include <cctype>
#include <cstring>

#include "foundation/CallbackGate.h"

namespace quenbril {

// What the worker owns: the backend, made and used on the worker only.
struct GuardedAudioBackend::Member {
    Maker make;
    std::unique_ptr<AudioBackend> backend;
    // The backend once made, for the questions that never wait on its host.
    std::atomic<AudioBackend*> made{nullptr};
    std::atomic<int> openStreams{0};
};

namespace {

// Asks the backend on the worker: `fallback` while it is not made yet or does not answer in time.
template <class T, class Member, class Question>
T ask(BoundedWorker& worker, const std::shared_ptr<Member>& member, T fallback, Question question) {
    return worker
        .call<T>([member, fallback, question]() -> T {
            return member->backend ? question(*member->backend) : fallback;
        })
        .value_or(fallback);
}

}  // namespace

// Stands between the host's audio thread and the caller's client, so that a stream whose close
// never returns stops reaching a client that is gone. The audio thread never waits here.
class GuardedAudioBackend::Relay : public AudioStreamClient {
  public:
    explicit Relay(AudioStreamClient& client) : client_(client) {}

    void process(const float* const* inputs, float* const* outputs, int frames,
                 bool underrun) override {
        const bool passed = gate_.pass([&] { client_.process(inputs, outputs, frames, underrun); });
        if (passed || !outputs) return;
        // Silence for a host that still calls after the stream was let go.
        for (int k = 0; k < outputChannels_; ++k) {
            if (outputs[k]) std::memset(outputs[k], 0, sizeof(float) * frames);
        }
    }

    /// After it returns the client is not called again; waits out at most the one period.
    void detach() { gate_.close(); }

    void setOutputChannels(int count) { outputChannels_ = count; }

  private:
    AudioStreamClient& client_;
    int outputChannels_ = 0;
    CallbackGate gate_;
};

class GuardedAudioBackend::Stream : public AudioStream {
  public:
    Stream(std::shared_ptr<Member> member, std::shared_ptr<BoundedWorker> worker,
           std::shared_ptr<Relay> relay, std::shared_ptr<AudioStream> inner)
        : member_(std::move(member)),
          worker_(std::move(worker)),
          relay_(std::move(relay)),
          inner_(std::move(inner)),
          rate_(inner_->sampleRate()) {
        member_->openStreams.fetch_add(1);
    }

    ~Stream() override {
        relay_->detach();
        // Never closed here, since its close may be what does not return, and never dropped: the
        // close waits its turn on the worker, behind whatever holds it up. The host's thread may
        // call the relay until the stream is closed, so the relay goes only after it.
        worker_->runEvenLate([inner = std::move(inner_), relay = relay_]() mutable {
            inner.reset();
            relay.reset();
        });
        member_->openStreams.fetch_sub(1);
    }

    bool start() override {
        const bool started =
            worker_->call<bool>([inner = inner_] { return inner->start(); }).value_or(false);
        if (started) active_.store(true);
        return started;
    }
    /// Done however late the host answers: one dropped while the worker is held up would leave
    /// the stream playing once it answers, with nothing left to stop it.
    void stop() override {
        active_.store(false);
        worker_->runEvenLate([inner = inner_] { inner->stop(); });
    }
    /// A question the host does not answer in time is not known: the last answer stands, so a
    /// stream that plays is never dropped because the worker is held up by something else.
    bool isActive() const override {
        if (auto active = worker_->call<bool>([inner = inner_] { return inner->isActive(); }))
            active_.store(*active);
        return active_.load();
    }
    bool stoppedByHost() const override {
        if (auto stopped = worker_->call<bool>([inner = inner_] { return inner->stoppedByHost(); }))
            stoppedByHost_.store(*stopped);
        return stoppedByHost_.load();
    }
    double sampleRate() const override { return rate_; }
    double cpuLoad() const override {
        return worker_->call<double>([inner = inner_] { return inner->cpuLoad(); }).value_or(0.0);
    }

  private:
    std::shared_ptr<Member> member_;
    std::shared_ptr<BoundedWorker> worker_;
    std::shared_ptr<Relay> relay_;
    std::shared_ptr<AudioStream> inner_;
    const double rate_;
    // The host's last answers (main thread).
    mutable std::atomic<bool> active_{false};
    mutable std::atomic<bool> stoppedByHost_{false};
};

GuardedAudioBackend::GuardedAudioBackend(std::string name, std::string stuckText, Maker make,
                                         double limit, std::string why)
    : GuardedAudioBackend(std::make_shared<BoundedWorker>(std::move(name), std::move(stuckText),
                                                          limit, std::move(why)),
                          std::move(make)) {}

GuardedAudioBackend::GuardedAudioBackend(std::shared_ptr<BoundedWorker> worker, Maker make)
    : member_(std::make_shared<Member>()), worker_(std::move(worker)) {
    member_->make = std::move(make);
    // Made however late the worker answers (another user of the library may hold it up now):
    // its backend serves from then on.
    worker_->runEvenLate([member = member_] {
        member->backend = member->make();
        member->made.store(member->backend.get());
    });
}

GuardedAudioBackend::~GuardedAudioBackend() {
    // The backend goes on the worker, or with it if the worker never comes back.
    worker_->runEvenLate([member = member_] {
        member->made.store(nullptr);
        member->backend.reset();
    });
}

std::vector<AudioBackendDevice> GuardedAudioBackend::devices() {
    return ask(*worker_, member_, std::vector<AudioBackendDevice>{},
               [](AudioBackend& backend) { return backend.devices(); });
}

std::optional<int> GuardedAudioBackend::defaultInputDevice() {
    return ask(*worker_, member_, std::optional<int>{},
               [](AudioBackend& backend) { return backend.defaultInputDevice(); });
}

std::optional<int> GuardedAudioBackend::defaultOutputDevice() {
    return ask(*worker_, member_, std::optional<int>{},
               [](AudioBackend& backend) { return backend.defaultOutputDevice(); });
}

std::unique_ptr<AudioStream> GuardedAudioBackend::openStream(
    const AudioStreamParameters& parameters, AudioStreamClient& client, std::string& error) {
    auto relay = std::make_shared<Relay>(client);
    relay->setOutputChannels(parameters.outputChannels);
    // A stream that opens after its caller gave up goes with this, on the worker: closed first,
    // then the relay its host calls.
    struct Opened {
        std::shared_ptr<Relay> relay;
        std::shared_ptr<AudioStream> stream;
        std::string error;
    };
    auto opened = worker_->call<Opened>([member = member_, relay, parameters] {
        Opened result{relay, nullptr, {}};
        if (!member->backend) {
            result.error = "The audio system did not start";
            return result;
        }
        result.stream = member->backend->openStream(parameters, *relay, result.error);
        return result;
    });
    if (!opened) {
        relay->detach();
        error = absence();
        return nullptr;
    }
    if (!opened->stream) {
        error = opened->error;
        return nullptr;
    }
    return std::make_unique<Stream>(member_, worker_, relay, std::move(opened->stream));
}

bool GuardedAudioBackend::refresh() {
    return ask(*worker_, member_, false, [](AudioBackend& backend) { return backend.refresh(); });
}

void GuardedAudioBackend::release() {
    worker_->runEvenLate([member = member_] {
        if (member->backend) member->backend->release();
    });
}

uint64_t GuardedAudioBackend::deviceChanges() const {
    // Asked of the backend itself: its count never waits on the host.
    AudioBackend* made = member_->made.load();
    return made ? made->deviceChanges() : 0;
}

uint64_t GuardedAudioBackend::lookedAtChanges() const {
    AudioBackend* made = member_->made.load();
    return made ? made->lookedAtChanges() : 0;
}

int GuardedAudioBackend::openStreamCount() const { return member_->openStreams.load(); }

std::string GuardedAudioBackend::absence() {
    auto words = worker_->call<std::string>([member = member_] {
        return member->backend ? member->backend->absence() : std::string();
    });
    if (words) return *words;
    std::string text = worker_->stuckText();
    if (!text.empty())
        text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    return text;
}

}  // namespace quenbril

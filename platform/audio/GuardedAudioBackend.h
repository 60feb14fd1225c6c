#pragma once

#include <functional>
#include <memory>
#include <string>

#include "foundation/BoundedWorker.h"
#include "platform/audio/AudioBackend.h"

namespace quenbril {

/// An audio backend made and asked on a thread of its own, each call waiting a bounded time: a
/// host whose library never returns (libjack on a locked store) costs one wait, after which the
/// backend reads as having no devices until it answers again; its streams keep the state they
/// last had. Nothing the backend does can then block its caller, the main thread included; a stream
/// whose close does not return is let go, its callbacks no longer reaching the caller's client,
/// and closed once the host answers. A backend whose making is held up is made once it answers.
class GuardedAudioBackend : public AudioBackend {
  public:
    using Maker = std::function<std::unique_ptr<AudioBackend>()>;

    /// `name` heads the log lines; `stuckText` says what does not answer ("the JACK library does
    /// not answer"), in the log and, capitalised, as the backend's absence; `why` adds to the log
    /// what may have caused it.
    GuardedAudioBackend(std::string name, std::string stuckText, Maker make,
                        double limit = BoundedWorker::defaultLimit(), std::string why = {});
    /// On `worker`, which other users of the same library may share: once it is stuck, none
    /// of them waits again.
    GuardedAudioBackend(std::shared_ptr<BoundedWorker> worker, Maker make);
    ~GuardedAudioBackend() override;

    std::vector<AudioBackendDevice> devices() override;
    std::optional<int> defaultInputDevice() override;
    std::optional<int> defaultOutputDevice() override;
    std::unique_ptr<AudioStream> openStream(const AudioStreamParameters& parameters,
                                            AudioStreamClient& client, std::string& error) override;
    bool refresh() override;
    void release() override;
    uint64_t deviceChanges() const override;
    uint64_t lookedAtChanges() const override;
    int openStreamCount() const override;
    std::string absence() override;

    /// A new limit for the calls that follow.
    void setLimit(double limit) { worker_->setLimit(limit); }

  private:
    class Relay;
    class Stream;
    struct Member;

    std::shared_ptr<Member> member_;
    std::shared_ptr<BoundedWorker> worker_;
};

}  // namespace quenbril

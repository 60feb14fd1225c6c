#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "foundation/BoundedWorker.h"
#include "platform/midi/MidiBackend.h"

namespace quenbril {

/// A MIDI backend made and asked on a thread of its own, each call waiting a bounded time: a
/// library that never returns (libjack on a locked store) costs one wait, after which the MIDI
/// system reads as unreachable until it answers again, and neither the port poller nor the main
/// thread is held. A port whose close is held up is closed once the worker answers; its
/// messages stop reaching the caller at once. A backend whose making is held up is made then.
class GuardedMidiBackend : public MidiBackend {
  public:
    using Maker = std::function<std::unique_ptr<MidiBackend>()>;

    /// `api` is the one `make` makes a backend of; `name` heads the log lines, `stuckText` says
    /// what does not answer and `why` what may have caused it.
    GuardedMidiBackend(Api api, std::string name, std::string stuckText, Maker make,
                       double limit = BoundedWorker::defaultLimit(), std::string why = {});
    /// On `worker`, which other users of the same library may share.
    GuardedMidiBackend(Api api, std::shared_ptr<BoundedWorker> worker, Maker make);
    ~GuardedMidiBackend() override;

    Api api() const override { return api_; }
    std::optional<std::vector<MidiPortInfo>> listPorts() override;
    bool openInput(const MidiPortInfo& port, ByteCallback callback) override;
    void closeInput(const MidiPortInfo& port) override;
    /// The losses the backend told when last listed.
    std::vector<MidiInputLoss> lostInputs() override;

    /// True while a call overran and has not returned.
    bool isStuck() const { return worker_->isStuck(); }
    /// A new limit for the calls that follow.
    void setLimit(double limit) { worker_->setLimit(limit); }

  private:
    class Relay;
    struct Member;
    struct LateOpen;

    /// Closes `port` on the worker, however late it runs.
    std::function<void()> closeJob(const MidiPortInfo& port) const;

    const Api api_;
    std::shared_ptr<Member> member_;
    std::shared_ptr<BoundedWorker> worker_;
    std::mutex relaysLock_;
    std::map<MidiPortInfo, std::shared_ptr<Relay>> relays_;
};

}  // namespace quenbril

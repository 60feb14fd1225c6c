#pragma once

#include <optional>
#include <string>
#include <vector>

#include "foundation/Value.h"

namespace quenbril {

class BlockRingBuffer;
class ChannelStripModel;
class ChannelStripState;

/// What the server role's engine calls of the client listener, the remote-client records and
/// the receiver registry. Each call of this base does nothing and yields none, as those services
/// do in the application; the server role's composition (and tests) supply a real one.
/// Main thread only.
class ServerRoleLinks {
  public:
    /// One receiver channel's figures as its driver reports them.
    struct Receiver {
        int rf = 0;
        int rfA = 0;
        int rfB = 0;
        int rfC = 0;
        int rfD = 0;
        int quality = 0;
    };
    /// One strip of a remote client's mix.
    struct ClientStrip {
        const ChannelStripModel* model = nullptr;
        const ChannelStripState* state = nullptr;
    };

    virtual ~ServerRoleLinks() = default;

    // The client listener.
    virtual void sendDictionaryToEveryone(const Dictionary& /*message*/) {}
    virtual void sendStream(const Dictionary& /*message*/, const std::string& /*host*/) {}
    virtual std::optional<std::string> streamHost() const { return std::nullopt; }

    // The remote-client records, one per slot, free ones included.
    virtual int clientCount() const { return 0; }
    virtual bool clientIsFree(int /*slot*/) const { return true; }
    /// The slot's ring of mixed blocks; it must live as long as this object.
    virtual BlockRingBuffer* clientBlockRing(int /*slot*/) { return nullptr; }
    /// Hosts the slot's stream goes to; none means it is heard on this machine's outputs.
    virtual std::vector<std::string> clientStreamTo(int /*slot*/) const { return {}; }
    /// The first local output channel of the slot's pair, -1 for none, or none when the slot
    /// lies past the list.
    virtual std::optional<int> clientOutputInStream(int /*slot*/) const { return std::nullopt; }
    /// The strips whose audio makes the slot's mix, in capture-channel order.
    virtual std::vector<ClientStrip> clientStrips(int /*slot*/) const { return {}; }

    // The receiver registry: the receiver channel a strip's wireless name names.
    virtual std::optional<Receiver> receiver(const std::string& /*name*/) const {
        return std::nullopt;
    }
};

}  // namespace quenbril

#pragma once

#include "MonitorApp/audio/ServerRoleLinks.h"

namespace quenbril {

class ClientManager;
class RemoteClientManager;
class WirelessManager;

/// The server role's engine linked to the real services: the remote-client slots, the client
/// listener and the receiver registry. The engine cannot depend on them itself (the slots hold
/// strips, which depend on the engine), so the composition that makes them hands the engine one
/// of these. A listener or registry that is null answers as the application's absent ones do.
/// Main thread only; the services outlive this object.
class ServerRoleHostLinks : public ServerRoleLinks {
  public:
    ServerRoleHostLinks(RemoteClientManager& clients, ClientManager* host,
                        WirelessManager* registry);

    void sendDictionaryToEveryone(const Dictionary& message) override;
    void sendStream(const Dictionary& message, const std::string& host) override;
    std::optional<std::string> streamHost() const override;

    int clientCount() const override;
    bool clientIsFree(int slot) const override;
    BlockRingBuffer* clientBlockRing(int slot) override;
    std::vector<std::string> clientStreamTo(int slot) const override;
    std::optional<int> clientOutputInStream(int slot) const override;
    std::vector<ClientStrip> clientStrips(int slot) const override;

    std::optional<Receiver> receiver(const std::string& name) const override;

  private:
    bool isSlot(int slot) const;

    RemoteClientManager& clients_;
    ClientManager* host_;
    WirelessManager* registry_;
};

}  // namespace quenbril

#include "MonitorApp/serverrole/ServerRoleHostLinks.h"

#include "MonitorApp/serverrole/ClientManager.h"
#include "MonitorApp/serverrole/RemoteClientManager.h"
#include "MonitorApp/serverrole/WirelessManager.h"

namespace quenbril {

ServerRoleHostLinks::ServerRoleHostLinks(RemoteClientManager& clients, ClientManager* host,
                                         WirelessManager* registry)
    : clients_(clients), host_(host), registry_(registry) {}

void ServerRoleHostLinks::sendDictionaryToEveryone(const Dictionary& message) {
    if (host_) host_->sendDictionaryToEveryone(message);
}

void ServerRoleHostLinks::sendStream(const Dictionary& message, const std::string& host) {
    if (host_) host_->sendStream(message, host);
}

std::optional<std::string> ServerRoleHostLinks::streamHost() const {
    return host_ ? host_->streamHost() : std::nullopt;
}

int ServerRoleHostLinks::clientCount() const { return RemoteClientManager::kSlots; }

bool ServerRoleHostLinks::isSlot(int slot) const {
    return slot >= 0 && slot < RemoteClientManager::kSlots;
}

bool ServerRoleHostLinks::clientIsFree(int slot) const {
    return !isSlot(slot) || clients_.client(slot).isFree();
}

BlockRingBuffer* ServerRoleHostLinks::clientBlockRing(int slot) {
    return isSlot(slot) ? &clients_.client(slot).blockRing() : nullptr;
}

std::vector<std::string> ServerRoleHostLinks::clientStreamTo(int slot) const {
    if (!isSlot(slot)) return {};
    const std::set<std::string>& hosts = clients_.client(slot).streamTo();
    return {hosts.begin(), hosts.end()};
}

std::optional<int> ServerRoleHostLinks::clientOutputInStream(int slot) const {
    if (!isSlot(slot)) return std::nullopt;
    return clients_.clientOutputInStream(slot);
}

std::vector<ServerRoleLinks::ClientStrip> ServerRoleHostLinks::clientStrips(int slot) const {
    std::vector<ClientStrip> strips;
    if (!isSlot(slot)) return strips;
    const RemoteClient::Controllers& controllers = clients_.client(slot).channelStripControllers();
    strips.reserve(controllers.size());
    for (const auto& controller : controllers) {
        strips.push_back({&controller->model(), &controller->state()});
    }
    return strips;
}

std::optional<ServerRoleLinks::Receiver> ServerRoleHostLinks::receiver(
    const std::string& name) const {
    const WirelessDevice* device = registry_ ? registry_->device(name) : nullptr;
    if (!device) return std::nullopt;
    return Receiver{device->rf(),  device->rfA(), device->rfB(),
                    device->rfC(), device->rfD(), device->quality()};
}

}  // namespace quenbril

#include "MonitorApp/serverrole/ClientManager.h"

namespace quenbril {

namespace {
ClientManager* installedHost = nullptr;
}

ClientManager* ClientManager::sharedInstance() { return installedHost; }

void ClientManager::setSharedInstance(ClientManager* host) { installedHost = host; }

}  // namespace quenbril

#pragma once

#include "foundation/Value.h"

namespace quenbril {

/// Hosting of remote clients in the server role. The application hosts none:
/// `sharedInstance()` yields none unless a test installs a host.
class ClientManager {
  public:
    virtual ~ClientManager() = default;

    /// None in the application; callers check.
    static ClientManager* sharedInstance();
    /// Tests: installs a host as the shared one (nullptr removes it). The caller keeps
    /// ownership and removes it before it dies.
    static void setSharedInstance(ClientManager* host);

    /// Sends the dictionary as one frame to every connected client.
    virtual void sendDictionaryToEveryone(const Dictionary& message) = 0;
};

}  // namespace quenbril

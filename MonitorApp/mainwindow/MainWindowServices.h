#pragma once

#include <functional>

#include "MonitorApp/dispatch/RemoteContext.h"

namespace quenbril {

class ClientManager;
class ServerManager;

/// What the main window controller and the parts it is cut into are given: the composition
/// makes it once (tests make their own). The user settings and the server link are reached
/// through a getter each time, since tests restart them while a window lives; the server role's
/// host is null while this station runs none.
struct MainWindowServices {
    /// The services of the dispatcher, and the models the window itself uses.
    RemoteContext models;
    std::function<UserSettingsManager&()> settings;
    std::function<ServerManager&()> link;
    std::function<ClientManager*()> host;
};

}  // namespace quenbril

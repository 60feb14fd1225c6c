#include "MonitorApp/app/SharedServices.h"

#include "MonitorApp/app/context/SharedRemoteContext.h"
#include "MonitorApp/chat/ChatMacroManager.h"
#include "MonitorApp/chat/ChatManager.h"
#include "MonitorApp/mainwindow/QtShortTimeClock.h"
#include "MonitorApp/serverlink/ServerManager.h"
#include "MonitorApp/serverrole/ClientManager.h"
#include "MonitorApp/settings/UserSettingsManager.h"

namespace quenbril {

MainWindowServices sharedMainWindowServices(const ShortTimeClock& clock) {
    ChatManager::sharedInstance();
    ChatMacroManager::sharedInstance();
    return MainWindowServices{
        sharedRemoteContext(clock),
        []() -> UserSettingsManager& { return UserSettingsManager::sharedInstance(); },
        []() -> ServerManager& { return ServerManager::sharedInstance(); },
        [] { return ClientManager::sharedInstance(); }};
}

MainWindowServices sharedMainWindowServices() {
    return sharedMainWindowServices(QtShortTimeClock::system());
}

}  // namespace quenbril

#include "MonitorApp/app/context/SharedRemoteContext.h"

#include "MonitorApp/audio/PELAudioEngine.h"
#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/channelstrips/SnapshotManager.h"
#include "MonitorApp/chat/ChatColorManager.h"
#include "MonitorApp/panels/NotebookManager.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "MonitorApp/settings/LTCManager.h"
#include "MonitorApp/settings/PlaybackManager.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/NotificationCenter.h"
#include "foundation/UserDefaults.h"

namespace quenbril {

RemoteContext sharedRemoteContext(const ShortTimeClock& clock) {
    return RemoteContext{
        PELAudioEngine::sharedInstance(),     ChannelStripManager::sharedInstance(),
        SnapshotManager::sharedInstance(),    UserSettingsManager::sharedInstance(),
        UserDefaults::standardUserDefaults(), ColorHelper::sharedInstance(),
        ChatColorManager::sharedInstance(),   NotebookManager::sharedInstance(),
        PlaybackManager::sharedInstance(),    LTCManager::sharedInstance(),
        NotificationCenter::defaultCenter(),  clock};
}

}  // namespace quenbril

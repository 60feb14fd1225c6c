#include "MonitorApp/settings/PlaybackManager.h"

#include "foundation/SharedInstance.h"

namespace quenbril {

namespace {
SharedInstance<PlaybackManager> shared;
}

PlaybackManager& PlaybackManager::sharedInstance() { return shared.get(); }

void PlaybackManager::resetSharedInstance() { shared.reset(); }

bool PlaybackManager::isPlaying() {
    const PlaybackManager& manager = sharedInstance();
    return manager.delayInSamples() > 0 && manager.playedCSID() > 0;
}

}  // namespace quenbril

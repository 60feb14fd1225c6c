#include "MonitorApp/settings/PlaybackManager.h"

#include "foundation/SharedInstance.h"

namespace quenbril {

namespace {
SharedInstance<PlaybackManager> shared;
}

PlaybackManager& PlaybackManager::sharedInstance() { return shared.get(); }

void PlaybackManager::resetSharedInstance() { shared.reset(); }

}  // namespace quenbril

#pragma once

#include <vector>

#include "MonitorApp/audio/CharRingBuffer.h"
#include "MonitorApp/channelstrips/SnapshotManager.h"
#include "MonitorApp/chat/ChatColorManager.h"
#include "MonitorApp/chat/ChatManager.h"
#include "MonitorApp/panels/NotebookManager.h"
#include "MonitorApp/settings/PlaybackManager.h"

namespace quenbril {

/// Empties the shared models the dispatcher feeds besides the strips: chat, colours, notebook,
/// replay and snapshots. The dispatcher's and the main window's fixtures share it.
inline void resetRemoteModels() {
    ChatManager::resetSharedInstance();
    ChatColorManager::resetSharedInstance();
    NotebookManager::resetSharedInstance();
    PlaybackManager::resetSharedInstance();
    SnapshotManager::sharedInstance().setSnapshotNames({});
    SnapshotManager::sharedInstance().setSelectedSnapshot(0);
}

/// The newest column of a history, 128 bytes.
inline std::vector<int8_t> newestColumn(CharRingBuffer& history) {
    std::vector<int8_t> out;
    for (int i = 0; i < 128; ++i) out.push_back(history.getLatestSample(i));
    return out;
}

}  // namespace quenbril

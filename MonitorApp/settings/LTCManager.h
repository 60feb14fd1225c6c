#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "MonitorApp/settings/ReceivedLTC.h"
#include "MonitorApp/settings/SMPTETimecode.h"
#include "foundation/Value.h"

namespace quenbril {

/// The last received timecode of every source, and the current timecode of a source: the
/// received value advanced by the time since the server read it. Main thread only; the local
/// clock is the main run loop's.
class LTCManager {
  public:
    /// A record older than this (seconds) is returned as received, without extrapolation.
    static constexpr double kExtrapolationLimit = 1.5;
    /// Sources kept at most. A source is a channel strip and a remote builds at most 128 of
    /// them; records are never removed, so this leaves room for the strips to be renumbered
    /// several times in a run while a peer that keeps inventing ids cannot grow the list.
    static constexpr size_t kMaxSources = 1024;

    static LTCManager& sharedInstance();
    /// Tests: drops the shared instance (a restart).
    static void resetSharedInstance();

    /// Stores one "LTC" message (its fields sit beside "Command"). A source seen for the first
    /// time gets a new record, unless kMaxSources are kept: then the message is dropped (the
    /// first such source is logged, once).
    void tcReceived(const Dictionary& message);
    /// The current timecode of the source `csID`; 00:00:00:00 when it has no record. Afterwards
    /// `selectedLTC()` is that source's record, or, when it has none, the previous selection.
    SMPTETimecode getTimecode(int64_t csID);

    /// The first record of the source `csID`, or null. Constant time: a peer that keeps
    /// sending new sources must not make each message cost a walk of every record. A record
    /// is found by the id it was stored under.
    std::shared_ptr<ReceivedLTC> recordFor(int64_t csID) const;

    /// One record per source, in order of first arrival. Records are never removed.
    const std::vector<std::shared_ptr<ReceivedLTC>>& receivedTC() const { return receivedTC_; }
    void setReceivedTC(std::vector<std::shared_ptr<ReceivedLTC>> v);
    /// The source chosen for the large timecode window (a strip id); -1 for none.
    int64_t tcCSIndex() const { return tcCSIndex_; }
    void setTcCSIndex(int64_t v) { tcCSIndex_ = v; }
    /// The record the last `getTimecode` found; null before any. Callers compare its csID
    /// with the id they asked for, right after their own call.
    std::shared_ptr<ReceivedLTC> selectedLTC() const { return selectedLTC_.lock(); }
    void setSelectedLTC(const std::shared_ptr<ReceivedLTC>& v) { selectedLTC_ = v; }

  private:
    std::vector<std::shared_ptr<ReceivedLTC>> receivedTC_;
    /// The first record of each id in receivedTC_.
    std::unordered_map<int64_t, std::shared_ptr<ReceivedLTC>> byCSID_;
    int64_t tcCSIndex_ = -1;
    std::weak_ptr<ReceivedLTC> selectedLTC_;
    /// A new source was dropped for want of room since the list was last set.
    bool refusalLogged_ = false;
};

}  // namespace quenbril

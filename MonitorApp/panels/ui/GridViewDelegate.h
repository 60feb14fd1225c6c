#pragma once

#include <cstdint>

namespace quenbril {

class GridView;
class Snapshot;

/// What a snapshot group grid asks of the editor that owns the snapshot list. A grid without a
/// delegate allows no edits and shows index 0.
class GridViewDelegate {
  public:
    virtual ~GridViewDelegate() = default;
    /// Asked before a click or a finished text edit is applied; with false nothing changes.
    virtual bool editOn() { return false; }
    /// The number the grid's index button shows for `snapshot`.
    virtual int32_t indexOf(const Snapshot& /*snapshot*/) { return 0; }
    /// The grid folded or unfolded: its size changed.
    virtual void updated(GridView& /*grid*/) {}
    /// Editing of the grid's title field ended with the Return key.
    virtual void nameEdited(GridView& /*grid*/) {}
};

}  // namespace quenbril

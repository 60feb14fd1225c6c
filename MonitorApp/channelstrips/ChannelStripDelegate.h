#pragma once

namespace quenbril {

/// What a strip's owner may be told. The strips send nothing through it so far; owners keep the
/// reference for a listener to come.
class ChannelStripDelegate {
  public:
    virtual ~ChannelStripDelegate() = default;
};

}  // namespace quenbril

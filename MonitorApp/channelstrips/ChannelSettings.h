#pragma once

#include <cstdint>

namespace quenbril {

/// A snapshot's group assignment of one strip.
class ChannelSettings {
  public:
    int64_t csID() const { return csID_; }
    void setCsID(int64_t v) { csID_ = v; }
    /// 1 to 8 the groups, 0 no group.
    int32_t groupIndex() const { return groupIndex_; }
    void setGroupIndex(int32_t v) { groupIndex_ = v; }

  private:
    int64_t csID_ = 0;
    int32_t groupIndex_ = 0;
};

}  // namespace quenbril

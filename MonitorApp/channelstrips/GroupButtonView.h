#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "MonitorApp/channelstrips/StripLayout.h"
#include "foundation/Value.h"

namespace quenbril {

/// One of the eight group buttons under the strips. A click or long click on it posts
/// "GroupClicked" or "GroupLongClicked" with {"index": groupID}.
class GroupButtonView {
  public:
    virtual ~GroupButtonView() = default;
    virtual int32_t groupID() const = 0;
    /// 0 off, 1 on (drawn green), 2 hard.
    virtual void setState(int32_t state) = 0;
    virtual int32_t state() const = 0;
    virtual void setColor(const std::optional<Color>& color) = 0;
    /// Shown upper-cased.
    virtual void setGroupName(const std::string& name) = 0;
    virtual void setHidden(bool hidden) = 0;
    virtual void setFrame(const Rect& frame) = 0;
};

/// The main window's view that holds the group buttons.
class GroupButtonContainer {
  public:
    virtual ~GroupButtonContainer() = default;
    virtual Size size() const = 0;
    /// Makes a visible button (state 0) inside the container; the container owns it and keeps
    /// it until it dies itself.
    virtual GroupButtonView* makeGroupButton(const std::string& text,
                                             const std::optional<Color>& color, const Rect& frame,
                                             int32_t groupNumber) = 0;
};

}  // namespace quenbril

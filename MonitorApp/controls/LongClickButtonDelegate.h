#pragma once

namespace quenbril {

class LongClickButton;

/// What a LongClickButton reports: a click, or a long click (held 0.5 s).
class LongClickButtonDelegate {
  public:
    virtual ~LongClickButtonDelegate() = default;
    virtual void LongClickButtonClicked(LongClickButton& /*button*/) {}
    virtual void LongClickButtonLongClicked(LongClickButton& /*button*/) {}
};

}  // namespace quenbril

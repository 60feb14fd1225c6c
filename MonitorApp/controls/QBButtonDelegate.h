#pragma once

namespace quenbril {

class QBButton;

/// What a QBButton reports: a click, or a long click (held 0.5 s).
class QBButtonDelegate {
  public:
    virtual ~QBButtonDelegate() = default;
    virtual void QBButtonClicked(QBButton& /*button*/) {}
    virtual void QBButtonLongClicked(QBButton& /*button*/) {}
};

}  // namespace quenbril

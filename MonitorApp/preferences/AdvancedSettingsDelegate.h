#pragma once

#include "MonitorApp/seams/MainWindowSeams.h"

namespace quenbril {

/// Told when the advanced settings window closes; the connection dialog follows the role it
/// left behind.
class AdvancedSettingsDelegate {
  public:
    virtual ~AdvancedSettingsDelegate() = default;
    virtual void windowClosed() {}
};

/// The advanced settings window ("advancedSegue"), as the connection dialog sees it.
class AdvancedSettingsWindow : public virtual SegueDestination {
  public:
    /// Not owned; cleared by the window's owner before the delegate goes.
    virtual void setDelegate(AdvancedSettingsDelegate* delegate) = 0;
};

}  // namespace quenbril

#pragma once

#include <QObject>

#include "MonitorApp/channelstrips/ui/StripAreaWidget.h"
#include "MonitorApp/seams/MainWindowSeams.h"

namespace quenbril {

/// The main window's strip scroller over its own strip area; a child of the window, which
/// outlives neither.
class StripAreaScroller : public QObject, public StripScroller {
  public:
    StripAreaScroller(StripAreaWidget& area, QObject* parent) : QObject(parent), area_(area) {}
    void scrollStripToVisible(const ChannelStripView& view) override {
        area_.scrollStripToVisible(view);
    }

  private:
    StripAreaWidget& area_;
};

}  // namespace quenbril

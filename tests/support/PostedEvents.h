#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

#include "tests/support/QtTestTime.h"

namespace quenbril::test {

/// Waits until the Qt events posted so far have been handled (true), by posting a marker behind
/// them at the lowest priority, the one repaint requests go at: a widget's update() asked for
/// before the call has been painted by then. A test that checks something did not happen waits
/// for this first, instead of for a while. `timeoutMs` is a plain build's, stretched for this one
/// (QtTestTime.h).
inline bool waitForPostedEvents(int timeoutMs = 5000) {
    class Marker : public QObject {
      public:
        bool delivered = false;
        bool event(QEvent* event) override {
            if (event->type() != QEvent::User) return QObject::event(event);
            delivered = true;
            return true;
        }
    };
    Marker marker;
    QCoreApplication::postEvent(&marker, new QEvent(QEvent::User), Qt::LowEventPriority);
    return qWaitFor([&] { return marker.delivered; }, timeoutMs);
}

}  // namespace quenbril::test

#pragma once

#include <QRect>
#include <cmath>

#include "MonitorApp/channelstrips/StripLayout.h"

namespace quenbril {

/// A layout frame as a widget's geometry; the layout's points are whole in practice, and any
/// fraction is rounded so that neighbouring cells still meet.
inline QRect toQRect(const Rect& r) {
    const int left = static_cast<int>(std::lround(r.x));
    const int top = static_cast<int>(std::lround(r.y));
    const int right = static_cast<int>(std::lround(r.x + r.width));
    const int bottom = static_cast<int>(std::lround(r.y + r.height));
    return QRect(left, top, right - left, bottom - top);
}

}  // namespace quenbril

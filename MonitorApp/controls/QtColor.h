#pragma once

#include <QColor>

#include "foundation/Value.h"

namespace quenbril {

/// The Qt colour of a theme colour (components in 0..1).
inline QColor toQColor(const Color& color) {
    return QColor::fromRgbF(static_cast<float>(color.red), static_cast<float>(color.green),
                            static_cast<float>(color.blue), static_cast<float>(color.alpha));
}

/// A colour Qt picked, as the theme keeps it.
inline Color fromQColor(const QColor& color) {
    return Color{color.redF(), color.greenF(), color.blueF(), color.alphaF()};
}

}  // namespace quenbril

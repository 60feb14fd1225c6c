#pragma once

// The colours a strip's title bar takes with the built-in group colours: what a picture of the
// screen looks for to find the strips.

#include <QColor>
#include <vector>

#include "MonitorApp/settings/ColorHelper.h"

namespace quenbril::test {

inline std::vector<QColor> stripTitleColours() {
    std::vector<QColor> colours;
    for (int32_t group = 0;; ++group) {
        const auto colour = ColorHelper::defaultColorForGroup(group);
        if (!colour) break;
        colours.push_back(QColor::fromRgbF(static_cast<float>(colour->red),
                                           static_cast<float>(colour->green),
                                           static_cast<float>(colour->blue)));
    }
    return colours;
}

}  // namespace quenbril::test

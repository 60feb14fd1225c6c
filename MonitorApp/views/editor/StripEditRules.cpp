#include "MonitorApp/views/editor/StripEditRules.h"

#include <cmath>

#include "MonitorApp/channelstrips/StripLayout.h"
#include "MonitorApp/controls/TextLengthLimit.h"

namespace quenbril {

std::string StripEditRules::name(const QString& text) {
    return limitToCodePoints(text, kNameLength).toStdString();
}

int32_t StripEditRules::clamped(const QString& text, int32_t low, int32_t high, int32_t old) {
    bool ok = false;
    const double number = text.trimmed().toDouble(&ok);
    if (!ok || std::isnan(number)) return old;
    if (number <= low) return low;
    if (number >= high) return high;
    return static_cast<int32_t>(std::trunc(number));
}

bool StripEditRules::panelsFit(const ChannelStripManager::Controllers& controllers) {
    int32_t inA = 0;
    int32_t others = 0;
    for (const auto& controller : controllers) {
        (panelEquals(controller->model().panel(), "A") ? inA : others) += 1;
    }
    return inA <= kMaxStripsPerPanel && others <= kMaxStripsPerPanel;
}

}  // namespace quenbril

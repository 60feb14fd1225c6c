#include "MonitorApp/controls/TextContrast.h"

#include <algorithm>
#include <cmath>

namespace quenbril {

namespace {

double linear(int component) {
    const double c = component / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double luminance(const QColor& c) {
    return 0.2126 * linear(c.red()) + 0.7152 * linear(c.green()) + 0.0722 * linear(c.blue());
}

/// `from` moved a share `step` of 255 of the way to `to`, in whole 8-bit steps.
QColor mixed(const QColor& from, const QColor& to, int step) {
    auto part = [step](int a, int b) {
        return static_cast<int>(std::lround(a + (b - a) * (step / 255.0)));
    };
    return QColor(part(from.red(), to.red()), part(from.green(), to.green()),
                  part(from.blue(), to.blue()));
}

}  // namespace

double contrastRatio(const QColor& a, const QColor& b) {
    const double x = luminance(a);
    const double y = luminance(b);
    return (std::max(x, y) + 0.05) / (std::min(x, y) + 0.05);
}

QColor readableOn(const QColor& text, const QColor& background, double ratio) {
    const QColor opaque = text.rgb();
    if (contrastRatio(opaque, background) >= ratio) return opaque;
    const QColor white(Qt::white);
    const QColor black(Qt::black);
    const QColor far =
        contrastRatio(white, background) >= contrastRatio(black, background) ? white : black;
    // The contrast grows with every step towards `far`: the first step that reads is found by
    // halving.
    int low = 0;
    int high = 255;
    if (contrastRatio(far, background) < ratio) return far;
    while (high - low > 1) {
        const int middle = (low + high) / 2;
        (contrastRatio(mixed(opaque, far, middle), background) >= ratio ? high : low) = middle;
    }
    return mixed(opaque, far, high);
}

}  // namespace quenbril

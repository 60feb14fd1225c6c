#pragma once

#include <QColor>

namespace quenbril {

/// Contrast between text and its background as the web's accessibility guidelines measure it:
/// 1 (none) to 21 (black on white).
double contrastRatio(const QColor& a, const QColor& b);

/// `text`, made lighter or darker (towards whichever of white and black stands out more on
/// `background`) by as little as it takes to read at `ratio` on `background`; `text` itself
/// when it already does. Its alpha is dropped: the colour is drawn opaque.
QColor readableOn(const QColor& text, const QColor& background, double ratio = 4.5);

}  // namespace quenbril

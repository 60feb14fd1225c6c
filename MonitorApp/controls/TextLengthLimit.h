#pragma once

#include <QString>

namespace quenbril {

/// `text` cut to its first `limit` characters. Characters are code points: a character outside
/// the basic plane (two UTF-16 units) counts once and is never split.
QString limitToCodePoints(const QString& text, qsizetype limit);

}  // namespace quenbril

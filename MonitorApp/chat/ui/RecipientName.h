#pragma once

#include <QString>

class QFontMetrics;

namespace quenbril::RecipientName {

/// The widest a user's name is shown where a recipient is chosen or named, in average characters
/// of the font: this station's own names (12 characters at most) are always whole, and a name of
/// a few hundred characters from another remote does not make its window wider than a screen.
constexpr int kShownCharacters = 24;

/// kShownCharacters in `metrics`' font.
int widest(const QFontMetrics& metrics);
/// `name` whole where it fits `width`; else its start and its end with the middle elided, so
/// that names that differ only at the end still read apart.
QString fitted(const QString& name, const QFontMetrics& metrics, int width);
/// `name` fitted to widest().
QString shown(const QString& name, const QFontMetrics& metrics);
/// The line that says the chosen recipient `name` left and messages go to All.
QString leftTheChat(const QString& name, const QFontMetrics& metrics);

}  // namespace quenbril::RecipientName

#pragma once

#include <QByteArray>
#include <QString>

namespace quenbril {

/// Makes an installed font available under another family name, so that views that name a
/// font this system does not ship ("Nexa Bold") get a chosen face of one it has (Roboto Bold),
/// weight included. A family substitution alone would give the substitute's regular face.
class FontAlias {
  public:
    /// A copy of the TrueType or OpenType font `font` whose naming table calls it `family`
    /// `style`; empty when `font` is not such a font.
    static QByteArray renamed(const QByteArray& font, const QString& family, const QString& style);
    /// Registers the face in the file named `fileName` (searched for under the system's font
    /// folders) under `family`. False when no such file is found or it cannot be read.
    static bool registerFace(const QString& fileName, const QString& family, const QString& style);
};

}  // namespace quenbril

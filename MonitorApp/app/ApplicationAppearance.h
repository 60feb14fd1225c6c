#pragma once

class QApplication;

namespace quenbril {

/// The application's look, the same on every desktop: the Fusion style with a dark palette,
/// and the fonts the views name ("Nexa Light", "Nexa Bold") drawn with Roboto Light and Bold.
class ApplicationAppearance {
  public:
    static void apply(QApplication& application);
    /// Maps the views' font names to fonts that are installed.
    static void substituteFonts();
};

}  // namespace quenbril

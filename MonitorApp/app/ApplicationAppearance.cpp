#include "MonitorApp/app/ApplicationAppearance.h"

#include <QApplication>
#include <QFont>
#include <QPalette>
#include <QStyleFactory>

#include "MonitorApp/app/FontAlias.h"

namespace quenbril {

void ApplicationAppearance::apply(QApplication& application) {
    // The remote is always dark, whatever the desktop's theme.
    application.setStyle(QStyleFactory::create("Fusion"));

    const QColor window(46, 46, 48);
    const QColor base(30, 30, 32);
    const QColor text(230, 230, 230);
    const QColor disabledText(120, 120, 120);
    const QColor highlight(42, 130, 218);
    QPalette palette;
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, window);
    palette.setColor(QPalette::ToolTipBase, base);
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::PlaceholderText, disabledText);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, QColor(58, 58, 60));
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::BrightText, Qt::red);
    palette.setColor(QPalette::Link, highlight);
    palette.setColor(QPalette::Highlight, highlight);
    palette.setColor(QPalette::HighlightedText, Qt::black);
    palette.setColor(QPalette::Disabled, QPalette::Text, disabledText);
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, disabledText);
    palette.setColor(QPalette::Disabled, QPalette::WindowText, disabledText);
    application.setPalette(palette);

    substituteFonts();
}

void ApplicationAppearance::substituteFonts() {
    // Roboto's light and bold faces under the names the views use; where they are not
    // installed, Roboto itself.
    if (!FontAlias::registerFace("Roboto-Light.ttf", "Nexa Light", "Light")) {
        QFont::insertSubstitution("Nexa Light", "Roboto Light");
        QFont::insertSubstitution("Nexa Light", "Roboto");
    }
    if (!FontAlias::registerFace("Roboto-Bold.ttf", "Nexa Bold", "Bold")) {
        QFont::insertSubstitution("Nexa Bold", "Roboto");
    }
    if (!FontAlias::registerFace("Roboto-Italic.ttf", "Arial Italic", "Italic")) {
        QFont::insertSubstitution("Arial Italic", "Roboto");
    }
    // The timecode digits are drawn in "Monaco": DejaVu Sans Mono has the same fixed widths.
    if (!FontAlias::registerFace("DejaVuSansMono.ttf", "Monaco", "Regular")) {
        QFont::insertSubstitution("Monaco", "DejaVu Sans Mono");
        QFont::insertSubstitution("Monaco", "Monospace");
    }
}

}  // namespace quenbril

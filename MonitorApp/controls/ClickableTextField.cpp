#include "MonitorApp/controls/ClickableTextField.h"

#include <QMouseEvent>

#include "MonitorApp/settings/UserSettingsManager.h"

namespace quenbril {

namespace {

const QString kOn = QStringLiteral(" ON");
const QString kOff = QStringLiteral(" OFF");

}  // namespace

ClickableTextField::ClickableTextField(UserSettingsManager& settings, int tag, const QString& text,
                                       QWidget* parent)
    : QLabel(parent), settings_(settings), tag_(tag) {
    setTextFormat(Qt::PlainText);
    QString shown = text;
    if (flagForTag(settings_, tag_).value_or(true)) {
        shown.replace(kOff, kOn);
    } else {
        shown.replace(kOn, kOff);
    }
    setText(shown);
}

std::optional<bool> ClickableTextField::flagForTag(const UserSettingsManager& settings, int tag) {
    switch (tag) {
        case 12:
            return settings.showAudio();
        case 22:
            return settings.showRFA();
        case 32:
            return settings.showRFB();
        case 52:
            return settings.showRFC();
        case 62:
            return settings.showRFD();
        case 42:
            return settings.showQuality();
        default:
            return std::nullopt;
    }
}

void ClickableTextField::setFlagForTag(UserSettingsManager& settings, int tag, bool on) {
    switch (tag) {
        case 12:
            settings.setShowAudio(on);
            break;
        case 22:
            settings.setShowRFA(on);
            break;
        case 32:
            settings.setShowRFB(on);
            break;
        case 52:
            settings.setShowRFC(on);
            break;
        case 62:
            settings.setShowRFD(on);
            break;
        case 42:
            settings.setShowQuality(on);
            break;
        default:
            break;
    }
}

void ClickableTextField::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    QString shown = text();
    bool on = true;
    if (shown.contains(kOn)) {
        shown.replace(kOn, kOff);
        on = false;
    } else if (shown.contains(kOff)) {
        shown.replace(kOff, kOn);
    }
    setText(shown);
    setFlagForTag(settings_, tag_, on);
}

}  // namespace quenbril

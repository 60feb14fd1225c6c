#include "MonitorApp/chat/ui/ChatButton.h"

#include <QFontMetrics>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QStringList>
#include <QTextLayout>
#include <algorithm>

#include "MonitorApp/chat/ChatManager.h"
#include "MonitorApp/chat/ChatNotifications.h"
#include "MonitorApp/chat/UUIDString.h"
#include "MonitorApp/chat/ui/ChatButtonDelegate.h"
#include "MonitorApp/controls/QtColor.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/Log.h"
#include "foundation/NotificationCenter.h"
#include "foundation/UserDefaults.h"

namespace quenbril {

namespace {

constexpr int kLargeTextSize = 15;
constexpr int kSmallTextSize = 10;
// Narrower text areas than this take the small face.
constexpr int kLargeTextMinWidth = 100;
constexpr int kKeyLabelSize = 20;
constexpr int kKeyLabelInset = 25;

QFont nexaLight(int pointSize) { return QFont(QStringLiteral("Nexa Light"), pointSize); }

void makeWhitePlainLabel(QLabel* label) {
    // Texts of other users may hold anything; they are never read as markup.
    label->setTextFormat(Qt::PlainText);
    // The texts are part of the face: presses on them belong to the button.
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::white);
    label->setPalette(palette);
}

/// The text as it fits `width` x `height` in `font`: wrapped at spaces, one line per row; a
/// word wider than a line, and the last line that fits when text remains, end in an ellipsis.
QString fittedText(const QString& text, const QFont& font, int width, int height) {
    if (width <= 0 || text.isEmpty()) return QString();
    const QFontMetrics metrics(font);
    const int rows = std::max(1, height / metrics.lineSpacing());
    QStringList lines;
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WordWrap);
    layout.setTextOption(option);
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        const bool last = static_cast<int>(lines.size()) == rows - 1;
        const int end = last ? static_cast<int>(text.size()) : line.textStart() + line.textLength();
        const QString piece = text.mid(line.textStart(), end - line.textStart()).simplified();
        lines << metrics.elidedText(piece, Qt::ElideRight, width);
        if (last) break;
    }
    layout.endLayout();
    return lines.join('\n');
}

}  // namespace

ChatButton::ChatButton(const ChatServices& services, QWidget* parent)
    : QWidget(parent),
      services_(services),
      upButton_(QStringLiteral("Send_up.png")),
      downButton_(QStringLiteral("Send_down.png")) {
    title_ = new QLabel(this);
    makeWhitePlainLabel(title_);
    title_->setFont(nexaLight(kLargeTextSize));
    title_->setAlignment(Qt::AlignCenter);
    title_->setGeometry(15, 1, std::max(0, width() - 30), std::max(0, height() - 2));

    functionButton_ = new QLabel(this);
    makeWhitePlainLabel(functionButton_);
    functionButton_->setFont(nexaLight(kSmallTextSize));
    functionButton_->setAlignment(Qt::AlignRight | Qt::AlignTop);
    placeFunctionButton();
}

void ChatButton::setMyTag(int32_t tag) {
    myTag_ = tag;
    functionButton_->setText(QStringLiteral("F%1").arg(kSlotCount - tag));
}

void ChatButton::setText(const std::string& text) {
    text_ = QString::fromStdString(text);
    updatePositions();
}

std::string ChatButton::text() const { return text_.toStdString(); }

void ChatButton::readUserData() {
    auto stored = services_.defaults.stringForKey(UserSettingsManager::chatButtonKey(myTag_));
    setText(stored ? *stored : "Custom message " + std::to_string(kSlotCount - myTag_));
}

void ChatButton::textEdited() {
    title_->setTextInteractionFlags(Qt::NoTextInteraction);
    services_.defaults.setObject(Value(text()), UserSettingsManager::chatButtonKey(myTag_));
    services_.defaults.synchronize();
}

void ChatButton::updatePositions() {
    const int textWidth = width() - 20;
    const QFont font = nexaLight(textWidth < kLargeTextMinWidth ? kSmallTextSize : kLargeTextSize);
    title_->setFont(font);
    const QString shown = fittedText(text_, font, textWidth, height() - 2);
    title_->setText(shown);
    int textHeight = 5;
    if (!shown.isEmpty()) {
        textHeight += QFontMetrics(font)
                          .boundingRect(QRect(0, 0, textWidth, 0), Qt::AlignCenter, shown)
                          .height();
    }
    title_->setGeometry(10, height() / 2 - textHeight / 2, std::max(0, textWidth), textHeight);
    placeFunctionButton();
}

void ChatButton::placeFunctionButton() {
    // The top right corner, whatever the button's height.
    functionButton_->setGeometry(width() - kKeyLabelInset, kKeyLabelInset - kKeyLabelSize,
                                 kKeyLabelSize, kKeyLabelSize);
}

void ChatButton::resizeEvent(QResizeEvent*) { placeFunctionButton(); }

void ChatButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const ControlImage& face = buttonDown_ ? downButton_ : upButton_;
    if (face.draw(painter, rect())) return;
    // Without the images: a flat face of the same meaning.
    painter.fillRect(rect(), toQColor(buttonDown_ ? ColorHelper::vozodLightGray()
                                                  : ColorHelper::vozodDarkGray()));
}

void ChatButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    buttonDown_ = true;
    update();
}

void ChatButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !buttonDown_) {
        event->ignore();
        return;
    }
    buttonDown_ = false;
    update();
    send();
}

void ChatButton::send() {
    const std::string message = text();
    std::string recipient = delegate_ ? delegate_->recipient() : std::string();
    if (recipient.empty()) recipient = "All";
    log(LogLevel::Info, "Sending message %s", message.c_str());
    // Last: an observer may take the button away.
    services_.center.post(ChatNotification::kChatMessage,
                          Dictionary{{"message", message},
                                     {"sender", services_.settings.chatUsername()},
                                     {"messageId", UUIDString::make()},
                                     {"uuid", ChatManager::uuid()},
                                     {"type", 0},
                                     {"recipient", recipient}});
}

}  // namespace quenbril

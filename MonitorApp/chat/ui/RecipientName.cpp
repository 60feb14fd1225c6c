#include "MonitorApp/chat/ui/RecipientName.h"

#include <QFontMetrics>

namespace quenbril::RecipientName {

int widest(const QFontMetrics& metrics) { return kShownCharacters * metrics.averageCharWidth(); }

QString fitted(const QString& name, const QFontMetrics& metrics, int width) {
    return metrics.elidedText(name, Qt::ElideMiddle, width);
}

QString shown(const QString& name, const QFontMetrics& metrics) {
    return fitted(name, metrics, widest(metrics));
}

QString leftTheChat(const QString& name, const QFontMetrics& metrics) {
    return shown(name, metrics) + " left the chat: messages now go to All.";
}

}  // namespace quenbril::RecipientName

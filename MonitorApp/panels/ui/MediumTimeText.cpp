#include "MonitorApp/panels/ui/MediumTimeText.h"

#include <QDateTime>
#include <QLocale>

namespace quenbril {

namespace {

constexpr qint64 kReferenceDateOffset = 978307200;

/// The locale's long time format without its zone: the medium style of the locale.
QString mediumTimeFormat(const QLocale& locale) {
    QString format = locale.timeFormat(QLocale::LongFormat);
    QString medium;
    bool quoted = false;
    for (QChar c : format) {
        if (c == u'\'') quoted = !quoted;
        if (!quoted && c == u't') continue;
        medium += c;
    }
    return medium.trimmed();
}

}  // namespace

std::string mediumTimeText(const std::optional<double>& date) {
    if (!date) return {};
    const QDateTime time = QDateTime::fromMSecsSinceEpoch(
        static_cast<qint64>((*date + kReferenceDateOffset) * 1000.0), Qt::LocalTime);
    const QLocale locale;
    // The format is worked out once per locale name; exports call this once per note.
    static thread_local QString cachedName, cachedFormat;
    if (cachedName != locale.name() || cachedFormat.isEmpty()) {
        cachedName = locale.name();
        cachedFormat = mediumTimeFormat(locale);
    }
    return locale.toString(time.time(), cachedFormat).toStdString();
}

}  // namespace quenbril

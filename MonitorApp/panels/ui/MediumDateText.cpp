#include "MonitorApp/panels/ui/MediumDateText.h"

#include <QDateTime>
#include <QRegularExpression>
#include <cmath>

namespace quenbril {

namespace {

// 2001-01-01 00:00:00 UTC in seconds since 1970.
constexpr qint64 kReferenceDateSince1970 = 978307200;

QDateTime localDateTime(const Date& date) {
    const auto ms = static_cast<qint64>(std::llround(date.secondsSinceReferenceDate * 1000.0));
    return QDateTime::fromMSecsSinceEpoch(kReferenceDateSince1970 * 1000 + ms).toLocalTime();
}

}  // namespace

QString MediumDateText::dateFormat(const QLocale& locale) {
    QString format = locale.dateFormat(QLocale::LongFormat);
    // No weekday, with whatever separates it from the rest.
    static const QRegularExpression weekday(QStringLiteral("d{4}[,.]?\\s*"));
    format.remove(weekday);
    format.replace(QStringLiteral("MMMM"), QStringLiteral("MMM"));
    return format.trimmed();
}

QString MediumDateText::timeFormat(const QLocale& locale) {
    QString format = locale.timeFormat(QLocale::LongFormat);
    // No time zone (its letters are t), nor the space or brackets around it.
    static const QRegularExpression zone(QStringLiteral("\\s*\\(?t+\\)?"));
    format.remove(zone);
    return format.trimmed();
}

QString MediumDateText::dateTime(const Date& date, const QLocale& locale) {
    const QDateTime local = localDateTime(date);
    return locale.toString(local, dateFormat(locale)) + ' ' +
           locale.toString(local, timeFormat(locale));
}

QString MediumDateText::time(const Date& date, const QLocale& locale) {
    return locale.toString(localDateTime(date), timeFormat(locale));
}

}  // namespace quenbril

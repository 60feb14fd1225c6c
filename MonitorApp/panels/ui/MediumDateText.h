#pragma once

#include <QLocale>
#include <QString>

#include "foundation/Value.h"

namespace quenbril {

/// Dates and times in the locale's medium style: the month abbreviated and no weekday ("Dec 7,
/// 2026"), the time with seconds and without the zone ("12:15:34 AM"). Qt names only the long
/// and short styles, so the medium one is made from the long formats.
class MediumDateText {
  public:
    /// The medium date and the medium time, a space between, in the local zone.
    static QString dateTime(const Date& date, const QLocale& locale = QLocale());
    static QString time(const Date& date, const QLocale& locale = QLocale());
    static QString dateFormat(const QLocale& locale);
    static QString timeFormat(const QLocale& locale);
};

}  // namespace quenbril

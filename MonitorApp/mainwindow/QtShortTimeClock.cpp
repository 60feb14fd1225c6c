#include "MonitorApp/mainwindow/QtShortTimeClock.h"

#include <QLocale>
#include <QTime>

namespace quenbril {

const QtShortTimeClock& QtShortTimeClock::system() {
    static const QtShortTimeClock clock;
    return clock;
}

std::string QtShortTimeClock::shortTimeNow() const {
    return QLocale::system().toString(QTime::currentTime(), QLocale::ShortFormat).toStdString();
}

}  // namespace quenbril

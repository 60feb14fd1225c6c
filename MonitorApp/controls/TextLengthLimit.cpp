#include "MonitorApp/controls/TextLengthLimit.h"

namespace quenbril {

QString limitToCodePoints(const QString& text, qsizetype limit) {
    qsizetype units = 0;
    qsizetype characters = 0;
    while (units < text.size()) {
        if (characters == limit) return text.left(units);
        const bool pair = text[units].isHighSurrogate() && units + 1 < text.size() &&
                          text[units + 1].isLowSurrogate();
        units += pair ? 2 : 1;
        ++characters;
    }
    return text;
}

}  // namespace quenbril

#include "MonitorApp/channelstrips/ui/PlaceholderLevelDisplay.h"

namespace quenbril {

PlaceholderLevelDisplay::PlaceholderLevelDisplay() {
    // It draws nothing (the strips below show through) but takes the keys of the display.
    setFocusPolicy(Qt::StrongFocus);
}

}  // namespace quenbril

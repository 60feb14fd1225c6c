#pragma once

namespace quenbril {

class ChannelStripManager;

/// After the preferences changed: every strip fills its view from its record again, shows its
/// state and redraws with the new settings, in the manager's order.
void refreshEveryStrip(ChannelStripManager& strips);

}  // namespace quenbril

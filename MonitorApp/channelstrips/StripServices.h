#pragma once

namespace quenbril {

class LTCManager;
class NotificationCenter;
class PELAudioEngine;
class PlayerManager;
class UserSettingsManager;

/// What the strip manager and its strips read and tell, handed to the manager when it is made;
/// every strip it makes reads them through it. Everything named here outlives the manager.
struct StripServices {
    UserSettingsManager& settings;
    PELAudioEngine& engine;
    PlayerManager& players;
    LTCManager& ltc;
    NotificationCenter& center;
};

}  // namespace quenbril

#pragma once

namespace quenbril {

class ChannelStripManager;
class ChatColorManager;
class ChatManager;
class ColorHelper;
class NotificationCenter;
class UserDefaults;
class UserSettingsManager;

/// What the chat's windows read and tell: the chat users, the senders' colours, the user's
/// settings, the strips whose channel names the first quick message shows, the stored texts and
/// switches, and the notifications they post and follow. Handed in where the application is
/// composed; the services outlive the windows.
struct ChatServices {
    ChatManager& chat;
    ChatColorManager& chatColors;
    /// The sender colours of messages without an identifier.
    ColorHelper& colors;
    UserSettingsManager& settings;
    ChannelStripManager& strips;
    UserDefaults& defaults;
    NotificationCenter& center;
};

}  // namespace quenbril

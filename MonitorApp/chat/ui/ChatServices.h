#pragma once

namespace quenbril {

class ChannelStripManager;
class ChatColorManager;
class ChatManager;
class UserSettingsManager;

/// What the chat window and its panes read: the chat users, the senders' colours, the user's
/// settings and the strips whose channel names the first quick message shows. Handed in where
/// the application is composed; the services outlive the windows.
struct ChatServices {
    ChatManager& chat;
    ChatColorManager& chatColors;
    UserSettingsManager& settings;
    ChannelStripManager& strips;
};

}  // namespace quenbril

#pragma once

namespace quenbril::ChatNotification {

/// Every chat sender posts this; the main window sends the user info on as
/// "ChatMessageFromClient".
inline constexpr const char* kChatMessage = "ChatMessage";
/// A "ChatMessage" the main window could not send (the server is not here); user info: the
/// message dictionary.
inline constexpr const char* kChatMessageNotSent = "ChatMessageNotSent";
/// The dispatcher re-posts each message the server relays; user info: the message dictionary.
inline constexpr const char* kChatMessageFromServer = "ChatMessageFromServer";
/// A message was marked removed.
inline constexpr const char* kRefreshChat = "RefreshChat";
/// The quick-message texts were saved.
inline constexpr const char* kChatMessagesChanged = "ChatMessagesChanged";
inline constexpr const char* kChatButtonsChanged = "ChatButtonsChanged";
/// The chat window closed; the main window lets go of its panes.
inline constexpr const char* kChatWindowClosed = "ChatWindowClosed";

}  // namespace quenbril::ChatNotification

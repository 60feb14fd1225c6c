#pragma once

namespace quenbril::ChatNotification {

/// Every chat sender posts this; the main window sends the user info on as
/// "ChatMessageFromClient".
inline constexpr const char* kChatMessage = "ChatMessage";
/// A "ChatMessage" the main window could not send (the server is not here); user info: the
/// message dictionary.
inline constexpr const char* kChatMessageNotSent = "ChatMessageNotSent";
/// The server is here again with its state ("InitialDataReady"): the chat can send again, and
/// a window that said a message was not sent stops saying so. No user info.
inline constexpr const char* kChatServerIsHere = "ChatServerIsHere";
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

#pragma once

#include <functional>
#include <string>
#include <vector>

#include "foundation/NotificationCenter.h"
#include "foundation/Value.h"

namespace quenbril {

/// The MIDI chat macros: each joins one learnt "MIDIEventReceived" event {"byte1", "byte2",
/// "channel", "command"} to a chat text ("message"). Every event equal to a macro's in all four
/// fields sends its text to "All"; a pending learn takes the next event instead. The list lives
/// in memory and is written to "ChatMacros" by saveValues(). Main thread only (MIDI events are
/// posted there).
class ChatMacroManager {
  public:
    static constexpr const char* kDefaultsKey = "ChatMacros";
    /// Posted when a learn has recorded a macro; no user information.
    static constexpr const char* kChatMacroAddedNotification = "ChatMacroAdded";

    static ChatMacroManager& sharedInstance();
    /// Tests: drops the shared instance (a restart).
    static void resetSharedInstance();

    /// Loads "ChatMacros"; a stored value that is not an array gives an empty list, and elements
    /// that are not dictionaries are skipped. A macro's message goes out under the chat name
    /// `chatName` gives when it is sent.
    explicit ChatMacroManager(std::function<std::string()> chatName);
    ChatMacroManager(const ChatMacroManager&) = delete;
    ChatMacroManager& operator=(const ChatMacroManager&) = delete;

    std::vector<Dictionary>& macros() { return macros_; }
    bool learning() const { return learning_; }
    const std::string& learnString() const { return learnString_; }

    /// The next MIDI event becomes a macro sending `text`.
    void learn(std::string text);
    void cancelLearn();
    /// Writes the list to "ChatMacros".
    void saveValues();
    void MIDIEventReceived(const Notification& notification);

  private:
    std::function<std::string()> chatName_;
    std::vector<Dictionary> macros_;
    bool learning_ = false;
    std::string learnString_;
    NotificationObserver observer_;
};

}  // namespace quenbril

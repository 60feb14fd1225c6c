#pragma once

#include <optional>

#include "foundation/Value.h"

namespace quenbril {

/// The colours the server gives chat senders, by the sender's chat id. Main thread only.
class ChatColorManager {
  public:
    static ChatColorManager& sharedInstance();
    /// Tests: drops the shared instance (a restart).
    static void resetSharedInstance();

    /// Chat id -> colour; none until the server has sent its table.
    const std::optional<Dictionary>& chatColors() const { return chatColors_; }
    /// Replaces the table with the entries of `colors` whose key is a string and whose value is
    /// a colour; other entries are skipped with a log line.
    void setChatColors(const Dictionary& colors);
    /// The colour of a chat id, if the table has one.
    std::optional<Color> colorForUUID(const std::string& uuid) const;

  private:
    std::optional<Dictionary> chatColors_;
};

}  // namespace quenbril

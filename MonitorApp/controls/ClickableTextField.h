#pragma once

#include <QLabel>
#include <optional>

namespace quenbril {

class UserSettingsManager;

/// A label that switches one of the level displays of the user settings on or off with every
/// click and shows the state as " ON" or " OFF" in its text. Its tag chooses the display: 12
/// audio, 22 RF A, 32 RF B, 52 RF C, 62 RF D, 42 quality. The text is never edited.
/// Main thread only.
class ClickableTextField : public QLabel {
  public:
    /// Shows `text`, its " ON" or " OFF" set from the tag's display (on for a tag without one).
    ClickableTextField(UserSettingsManager& settings, int tag, const QString& text,
                       QWidget* parent = nullptr);

    int tag() const { return tag_; }
    /// The tag's display switch, none for a tag outside the table.
    static std::optional<bool> flagForTag(const UserSettingsManager& settings, int tag);
    /// Writes the switch of the tag's display; a tag outside the table writes nothing.
    static void setFlagForTag(UserSettingsManager& settings, int tag, bool on);

  protected:
    /// Flips the text and writes the new state; text with neither " ON" nor " OFF" stays and
    /// writes on.
    void mousePressEvent(QMouseEvent* event) override;

  private:
    UserSettingsManager& settings_;
    int tag_;
};

}  // namespace quenbril

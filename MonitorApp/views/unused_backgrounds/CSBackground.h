#pragma once

#include <QString>
#include <QWidget>
#include <cstdint>

namespace quenbril {

class UserSettingsManager;

/// A strip background that fills itself with a pattern by warning code: plain, SCP, battery
/// or RF, in the standard or the flipped layout. The strip view shows its warnings with an
/// overlay of its own; this view is kept for a layout that wants a self-drawn background.
class CSBackground : public QWidget {
  public:
    /// Its layout follows the flip setting of `settings`, which outlive it.
    explicit CSBackground(const UserSettingsManager& settings, QWidget* parent = nullptr);

    /// 0 plain, 1 SCP, 2 battery, 3 RF; any other code is stored and keeps the pattern
    /// shown. The code already shown changes nothing.
    void setChannelState(uint64_t code);
    uint64_t channelState() const { return channelState_; }
    /// Loads the patterns for the current flip setting and picks the one of the stored code.
    void updateImages();

    bool flipped() const { return flipped_; }
    /// The name of the image drawn now.
    const QString& currentImage() const { return currentImage_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void showPatternOf(uint64_t code);
    void loadImages();

    const UserSettingsManager& settings_;
    bool flipped_ = false;
    QString bgImage_;
    QString scpImage_;
    QString batImage_;
    QString rfImage_;
    QString currentImage_;
    uint64_t channelState_ = 0;
};

}  // namespace quenbril

#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

#include "MonitorApp/channelstrips/ChannelStripView.h"

namespace quenbril {

/// A strip view that stands in until the full strip view exists: the dark rounded cell, the
/// border that shows the strip's solo state, and the title. What it cannot show yet (battery,
/// antennas, timecode, quality, picture) it keeps, with the battery text rules the strip
/// controller's warnings read.
class PlaceholderStripView : public QWidget, public ChannelStripView {
  public:
    /// The cell's background, grey 0.2.
    static QColor backgroundColor() { return QColor::fromRgbF(0.2, 0.2, 0.2); }
    static constexpr double kCornerRadius = 6.0;

    explicit PlaceholderStripView(QWidget* parent = nullptr);

    void updateAppearance(const ChannelStripState& state) override;
    void redraw() override;
    void setChannelState(int32_t warningCode) override;
    void setBatteryPower(int32_t value) override;
    void setBatteryString(const std::string& text) override;
    bool timeAdded() const override { return timeAdded_; }
    void setAntennaData(const std::string& antennas) override;
    void setTimecode(const SMPTETimecode& timecode) override;
    void setTimecodeNotFound(int32_t seconds) override;
    void setPendingQuality(int32_t quality) override { pendingQuality_ = quality; }
    int32_t pendingQuality() const override { return pendingQuality_; }
    void setQuality(int32_t quality) override;
    void setTitle(const std::string& title) override;
    void setInputChannel(int32_t input) override;
    void setAlternativeInputText(const std::string& text) override;
    void setImage(const Bytes* tiff) override;
    void setChannelColor(const std::optional<Color>& color) override;
    void removeWireless() override;
    std::string tcParamText() const override { return tcParamText_; }
    void setTcParamText(const std::string& text) override { tcParamText_ = text; }
    std::string batText() const override { return batText_; }

    QString title() const { return title_; }
    QColor borderColor() const { return borderColor_; }
    double borderWidth() const { return borderWidth_; }
    int32_t warningCode() const { return warningCode_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QString title_;
    // Clear until the first appearance update, as a new strip has no solo state to show.
    QColor borderColor_ = Qt::transparent;
    double borderWidth_ = 2.0;
    int32_t warningCode_ = 0;
    int32_t pendingQuality_ = 0;
    bool timeAdded_ = false;
    std::string batText_;
    std::string tcParamText_;
};

}  // namespace quenbril

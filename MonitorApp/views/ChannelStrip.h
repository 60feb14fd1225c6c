#pragma once

#include <QString>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "MonitorApp/channelstrips/ChannelStripView.h"
#include "MonitorApp/views/QualityLayer.h"
#include "MonitorApp/views/StripElement.h"
#include "MonitorApp/views/StripViewServices.h"
#include "foundation/RunLoopAnimation.h"
#include "foundation/Timer.h"

namespace quenbril {

class ChannelStripController;

/// The 128 x 128 point view of one channel strip: title bar, info row (input number, antennas,
/// battery), quality meter, warning overlay, mute overlays, performer picture, mic-check band
/// and timecode read-out, each an element of an inspectable model painted in z order. Its
/// mouse input turns presses into the strip notifications. Main thread only.
class ChannelStrip : public QWidget, public ChannelStripView {
  public:
    /// The elements, in the order they are first attached (which orders equal z).
    enum Part {
        Picture,
        Warning,
        Divider,
        Quality,
        HardMute,
        ReceiverMute,
        TextBackground,
        Title,
        Input,
        BatteryText,
        Antenna,
        Antenna2,
        MicCheck,
        BatteryIcon,
        BatteryMeter,
        Timecode,
        TimecodeParams,
        kPartCount
    };

    static constexpr double kSize = 128;
    /// The cell's own grey, where no element covers it.
    static QColor backgroundColor() { return QColor::fromRgbF(0.2, 0.2, 0.2); }
    /// A press released sooner than this is a click, whatever the long-click duration.
    static constexpr double kClickThreshold = 0.75;
    /// A release this soon after the previous completed release is a double click.
    static constexpr double kDoubleClickTime = 0.3;
    /// Each half of the warning cross-fade.
    static constexpr double kWarningFadeTime = 0.3;

    /// Answers this station's chat id, which a long click and a hard-mute click carry as "uuid"
    /// (the chat keeps it; the strip only passes it on).
    using ChatId = std::function<std::string()>;

    /// A strip made without a chat id sends an empty one. It reads the settings, posts to the
    /// notification centre and gives the keyboard back to the strip manager of `services`.
    explicit ChannelStrip(const StripViewServices& services, ChatId chatId = {},
                          QWidget* parent = nullptr);
    ~ChannelStrip() override;

    // ---- What the strip core calls ----
    void setController(ChannelStripController* controller) override { controller_ = controller; }
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
    std::string getTitle() const override { return title().toStdString(); }
    void setInputChannel(int32_t input) override;
    void setAlternativeInputText(const std::string& text) override;
    void setImage(const Bytes* tiff) override;
    /// No colour clears the title bar and writes the title in white.
    void setChannelColor(const std::optional<Color>& color) override;
    void removeWireless() override;
    std::string tcParamText() const override;
    void setTcParamText(const std::string& text) override;
    std::string batText() const override;

    // ---- Read-back ----
    /// The shown title.
    QString title() const { return element(Title).text; }
    const StripElement& element(Part part) const { return elements_[part]; }
    /// The attached elements in painting order (quality cells are painted at `Quality`).
    std::vector<Part> paintOrder() const;
    /// The part of the cell (widget coordinates) that no border of the strip covers: texts are
    /// drawn within it.
    QRectF clearOfBorder() const;
    const QualityLayer& qualityLayer() const { return qualityLayer_; }
    bool flipped() const { return flipped_; }
    bool batteryShown() const { return batLayerAdded_; }
    int32_t batVal() const { return batVal_; }
    int32_t currentQuality() const { return currentQuality_; }
    /// The warning code shown.
    int32_t currentWarning() const { return currentState_; }
    bool warningFadeRunning() const { return fadeOut_.isRunning() || fadeIn_.isRunning(); }
    bool longAntData() const { return longAntData_; }
    QColor borderColor() const { return borderColor_; }
    double borderWidth() const { return borderWidth_; }
    /// The charge bar's frame for the current value and layout.
    QRectF getBatteryMeterFrame();
    /// The bands along the top and the bottom edge, where a title bar or info row lies.
    QRectF highFrame() const { return QRectF(0, height() - 27, width(), 27); }
    QRectF lowFrame() const { return QRectF(0, 0, width(), 27); }

    /// Of a long-click duration setting, the seconds the long-click timer runs.
    static double longClickInterval(double duration);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

  private:
    StripElement& el(Part part) { return elements_[part]; }
    void attach(Part part);
    void detach(Part part);
    void layOut();
    void showBattery();
    void hideBattery();
    void setTimeCodeLayers(bool on);
    void setAntennaTexts(const QString& first, bool firstLit, const QString& second,
                         bool secondLit);
    void startWarningFade(const QString& pattern);

    // Input (ChannelStripInput.cpp).
    void longClicked();
    void mouseExited();
    /// The strip's position in the strip list, or the list's length when it is not in it.
    int32_t positionInList() const;
    void post(const char* name, const Dictionary& userInfo = {});

    std::array<StripElement, kPartCount> elements_;
    QualityLayer qualityLayer_;
    int nextOrder_ = 0;

    bool flipped_ = false;
    bool longAntData_ = false;
    // Demonstration values instead of the received ones; nothing switches it on.
    bool testMode_ = false;
    double f_ = 0;
    double q_ = 0;
    double p_ = 0;

    bool timeAdded_ = false;
    int32_t batVal_ = 0;
    bool batLayerAdded_ = false;
    int32_t pendingQuality_ = 0;
    int32_t currentQuality_ = 0;
    int32_t currentState_ = 0;
    RunLoopAnimation fadeOut_;
    RunLoopAnimation fadeIn_;

    QColor borderColor_ = Qt::transparent;
    double borderWidth_ = 2;

    UserSettingsManager& settings_;
    NotificationCenter& center_;
    ChannelStripManager& manager_;
    ChannelStripController* controller_ = nullptr;
    ChatId chatId_;
    double downTime_ = 0;
    double lastUp_ = 0;
    Timer longClickTimer_;
    // The field holds a timer from a press until a mouse exit clears it, also after the timer
    // fired or was stopped.
    bool holdsLongClickTimer_ = false;
    bool buttonDown_ = false;
    bool pointerInside_ = true;
};

}  // namespace quenbril

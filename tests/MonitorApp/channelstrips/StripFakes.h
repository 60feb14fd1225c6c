#pragma once

#include <array>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "MonitorApp/channelstrips/ChannelStripView.h"
#include "MonitorApp/channelstrips/GroupButtonView.h"
#include "MonitorApp/channelstrips/PanelRenderer.h"
#include "MonitorApp/channelstrips/StripArea.h"
#include "MonitorApp/link/LinkSender.h"
#include "MonitorApp/serverrole/ClientManager.h"
#include "MonitorApp/settings/ChannelStripState.h"
#include "MonitorApp/settings/SMPTETimecode.h"

namespace quenbril {

/// A strip view that remembers what it was told, with the battery text rules of the real one.
class FakeStripView : public ChannelStripView {
  public:
    void updateAppearance(const ChannelStripState& state) override {
        ++appearanceUpdates;
        lastAppearanceState = state.channelState();
    }
    void redraw() override {}
    void setChannelState(int32_t code) override {
        warningCode = code;
        warningCodes.push_back(code);
    }
    void setBatteryPower(int32_t value) override {
        batVal = value;
        if (value == -2) {
            bat.clear();
            timeAdded_ = false;
        } else if (!timeAdded_) {
            bat = value == -1 ? "?" : std::to_string(value) + "%";
        }
    }
    void setBatteryString(const std::string& text) override {
        bat = text;
        timeAdded_ = true;
    }
    bool timeAdded() const override { return timeAdded_; }
    void setAntennaData(const std::string& antennas) override {
        antenna = antennas;
        ++antennaCalls;
    }
    void setTimecode(const SMPTETimecode& timecode) override { timecodes.push_back(timecode); }
    void setTimecodeNotFound(int32_t seconds) override { notFound.push_back(seconds); }
    void setPendingQuality(int32_t q) override { pending = q; }
    int32_t pendingQuality() const override { return pending; }
    void setQuality(int32_t q) override {
        quality = q;
        ++qualityCalls;
    }
    void setTitle(const std::string& t) override { title = t; }
    std::string getTitle() const override { return title; }
    void setInputChannel(int32_t input) override { inputChannel = input; }
    void setAlternativeInputText(const std::string& text) override { alternativeInput = text; }
    void setImage(const Bytes* tiff) override {
        image = tiff ? std::optional<Bytes>(*tiff) : std::nullopt;
    }
    void setChannelColor(const std::optional<Color>& c) override { color = c; }
    void removeWireless() override { ++removeWirelessCalls; }
    std::string tcParamText() const override { return tcParam; }
    void setTcParamText(const std::string& text) override { tcParam = text; }
    std::string batText() const override { return bat; }

    // Call counts, and what the view was last told (-100: never).
    int appearanceUpdates = 0, antennaCalls = 0, qualityCalls = 0, removeWirelessCalls = 0;
    uint64_t lastAppearanceState = 0;
    int32_t warningCode = -100, batVal = -100, pending = 0, quality = -100, inputChannel = -100;
    std::vector<int32_t> warningCodes, notFound;
    bool timeAdded_ = false;
    std::string bat, title, alternativeInput, tcParam, antenna = "unset";
    std::vector<SMPTETimecode> timecodes;
    std::optional<Bytes> image;
    std::optional<Color> color;
};

class FakeGroupButton : public GroupButtonView {
  public:
    explicit FakeGroupButton(int32_t id) : id_(id) {}
    int32_t groupID() const override { return id_; }
    void setState(int32_t s) override { state_ = s; }
    int32_t state() const override { return state_; }
    void setColor(const std::optional<Color>& c) override { color = c; }
    void setGroupName(const std::string& n) override { name = n; }
    void setHidden(bool h) override { hidden = h; }
    void setFrame(const Rect& f) override { frame = f; }

    int32_t id_, state_ = 0;
    std::optional<Color> color;
    std::string name, text;
    bool hidden = true;
    Rect frame;
};

class FakeGroupContainer : public GroupButtonContainer {
  public:
    Size size() const override { return containerSize; }
    GroupButtonView* makeGroupButton(const std::string& text, const std::optional<Color>& color,
                                     const Rect& frame, int32_t groupNumber) override {
        auto button = std::make_unique<FakeGroupButton>(groupNumber);
        button->text = text;
        button->color = color;
        button->frame = frame;
        buttons.push_back(std::move(button));
        return buttons.back().get();
    }
    Size containerSize{800, 40};
    std::vector<std::unique_ptr<FakeGroupButton>> buttons;
};

class FakeRenderer : public PanelRenderer {
  public:
    FakeRenderer() { map.fill(-1); }
    void setPanelIndex(int32_t p) override { panelIndex = p; }
    std::array<int32_t, kMaxStrips>& panelMap() override { return map; }
    void setLevelCount(int32_t c) override { levelCount = c; }
    void drawableSizeWillChange(const Size& s) override { drawableSize = s; }
    std::array<int32_t, kMaxStrips> map;
    int32_t panelIndex = -1, levelCount = -1;
    Size drawableSize;
};

class FakeStripArea : public StripArea {
  public:
    struct Placement {
        int32_t panel;
        Rect frame;
    };
    Size scrollViewSize() const override { return scroll; }
    bool hasPanels() const override { return panelsMade > 0; }
    void makePanels(const Rect& frame) override {
        ++panelsMade;
        panels = {frame, frame};
        documentPanel = 0;
    }
    void setDocumentPanel(int32_t p) override { documentPanel = p; }
    Rect panelFrame(int32_t p) const override { return panels[p != 0 ? 1 : 0]; }
    void setPanelFrame(int32_t p, const Rect& f) override { panels[p != 0 ? 1 : 0] = f; }
    void setContentFrame(const Rect& f) override { content = f; }
    void scrollToTop() override { ++scrolls; }
    void addStripView(ChannelStripView& v, int32_t panel, const Rect& frame) override {
        placed[&v] = Placement{panel, frame};
    }
    void removeStripView(ChannelStripView& v) override { placed.erase(&v); }
    PanelRenderer* makeLevelDisplay(const Rect& frame) override {
        levelFrame = frame;
        levelPanel = 0;
        return &renderer;
    }
    void moveLevelDisplay(int32_t p) override { levelPanel = p; }
    void setLevelDisplayFrame(const Rect& f) override { levelFrame = f; }
    Size levelDrawableSize() const override {
        return {levelFrame.width * 2, levelFrame.height * 2};
    }
    void focusLevelDisplay() override { ++focused; }

    Size scroll{1024, 600};
    int panelsMade = 0, scrolls = 0, focused = 0;
    std::array<Rect, 2> panels;
    int32_t documentPanel = -1, levelPanel = -1;
    Rect content, levelFrame;
    std::map<const ChannelStripView*, Placement> placed;
    FakeRenderer renderer;
};

class RecordingSender : public LinkSender, public ClientManager {
  public:
    void sendDictionary(const Dictionary& m) override { sent.push_back(m); }
    void sendDictionaryToEveryone(const Dictionary& m) override { sent.push_back(m); }
    /// The names of the commands sent so far, in order.
    std::vector<std::string> commands() const {
        std::vector<std::string> names;
        for (const Dictionary& m : sent) {
            const std::string* name = m["Command"].stringValue();
            names.push_back(name ? *name : "?");
        }
        return names;
    }
    std::vector<Dictionary> sent;
};

}  // namespace quenbril

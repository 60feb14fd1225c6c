#include "MonitorApp/channelstrips/ChannelStripManager.h"

#include <algorithm>

#include "MonitorApp/audio/PELAudioEngine.h"
#include "MonitorApp/channelstrips/StripNotifications.h"
#include "MonitorApp/settings/LTCManager.h"
#include "MonitorApp/settings/PlayerManager.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/Log.h"
#include "foundation/SkippedElements.h"

namespace quenbril {

namespace {

// Random draws repeat an id of 128 strips among 2^32 almost never; a source that keeps doing so
// is broken, and the strip is refused rather than the editor hung.
constexpr int kMaxIDDraws = 1000;

std::unique_ptr<ChannelStripManager>& sharedManager() {
    static std::unique_ptr<ChannelStripManager> instance;
    return instance;
}

}  // namespace

ChannelStripManager& ChannelStripManager::sharedInstance() {
    auto& instance = sharedManager();
    if (!instance) {
        instance = std::make_unique<ChannelStripManager>(
            StripServices{UserSettingsManager::sharedInstance(), PELAudioEngine::sharedInstance(),
                          PlayerManager::sharedInstance(), LTCManager::sharedInstance(),
                          NotificationCenter::defaultCenter()});
    }
    return *instance;
}

void ChannelStripManager::resetSharedInstance() { sharedManager().reset(); }

ChannelStripManager::ChannelStripManager(const StripServices& services) : services_(services) {
    NotificationCenter& center = services_.center;
    observers_.push_back(center.addObserver(kPreferencesChangedNotification,
                                            [this](const Notification&) { preferencesChanged(); }));
    observers_.push_back(center.addObserver(kGroupClickedNotification,
                                            [this](const Notification& n) { groupClicked(n); }));
    observers_.push_back(center.addObserver(
        kGroupLongClickedNotification, [this](const Notification& n) { groupLongClicked(n); }));
    drawTimer_ = RunLoop::main().scheduleTimer(kDrawInterval, true, [this] { drawChannels(); });
    startMidi();
}

ChannelStripManager::~ChannelStripManager() {
    // The strip area may already be gone at the end of the run, so it is not touched here.
    *alive_ = false;
    PELAudioEngine::forgetStrips(this);
    observers_.clear();
    connectionManager_.reset();
}

// ---------------------------------------------------------------------------------------------
// Set-up

void ChannelStripManager::setSuperView(StripArea* area) {
    useMetal_ = true;
    area_ = area;
    if (!area_ || area_->hasPanels()) {
        return;
    }
    const Size scroll = area_->scrollViewSize();
    area_->makePanels(Rect{0, 0, scroll.width, scroll.width - kScrollerWidth});
    const Rect panel = area_->panelFrame(0);
    renderer_ = area_->makeLevelDisplay(Rect{0, 0, panel.width - kScrollerWidth, panel.height});
    if (renderer_) {
        renderer_->drawableSizeWillChange(area_->levelDrawableSize());
        renderer_->setPanelIndex(panelIndex_);
    }
    updateRendererMap();
}

void ChannelStripManager::releaseSuperView(const StripArea* area) {
    if (!area || area != area_) return;
    area_ = nullptr;
    renderer_ = nullptr;
}

// ---------------------------------------------------------------------------------------------
// Building and saving

void ChannelStripManager::removeAllViews() {
    for (auto& controller : controllers_) {
        if (area_ && controller->view()) {
            area_->removeStripView(*controller->view());
        }
    }
}

void ChannelStripManager::initFromProperyArray(const Array& channels) {
    removeAllViews();
    controllers_.clear();
    controllers_.reserve(std::min<size_t>(channels.size(), kMaxStrips));
    size_t dropped = 0;
    size_t withoutID = 0;
    SkippedElements skipped("Channels");
    for (size_t i = 0; i < channels.size(); ++i) {
        const Value& entry = channels[i];
        const Dictionary* dictionary = entry.dictionaryValue();
        if (!dictionary) {
            skipped.add(i, entry);
            continue;
        }
        // Only enabled strips are built; the per-strip tables have room for 128 of them.
        if (!(*dictionary)["channelEnabled"].boolValue().value_or(true)) {
            continue;
        }
        if (controllers_.size() >= static_cast<size_t>(kMaxStrips)) {
            ++dropped;
            continue;
        }
        auto controller = std::make_unique<ChannelStripController>(*this, *dictionary);
        if (!controller->isAddressable()) {
            ++withoutID;
        }
        if (controller->view()) {
            controller->view()->updateAppearance(controller->state());
        }
        controllers_.push_back(std::move(controller));
    }
    if (withoutID > 0) {
        log(LogLevel::Warning, "Channels: %zu strips have id 0; no message by id reaches them",
            withoutID);
    }
    if (dropped > 0) {
        log(LogLevel::Warning, "Channels: dropped %zu strips past the first %d", dropped,
            kMaxStrips);
    }
    updateChannels();
    if (!services_.settings.actAsClient()) {
        PELAudioEngine& engine = services_.engine;
        engine.setStrips(this);
        engine.mapChannels();
    }
    updatePositions();
}

Array ChannelStripManager::propertyArray() const {
    Array result;
    result.reserve(controllers_.size());
    for (const auto& controller : controllers_) {
        result.emplace_back(controller->model().property());
    }
    return result;
}

void ChannelStripManager::updateChannels() {
    panelArray_.fill(0);
    size_t k = 0;
    for (const auto& controller : controllers_) {
        if (!controller->model().channelEnabled()) {
            continue;
        }
        if (k < panelArray_.size()) {
            panelArray_[k] = isPanelB(controller->model().panel()) ? 1 : 0;
        }
        ++k;
    }
    for (auto& controller : controllers_) {
        controller->update();
    }
    updatePositions();
    updateRendererMap();
}

// ---------------------------------------------------------------------------------------------
// Look-ups

ChannelStripManager::Controllers& ChannelStripManager::channelStripControllers() {
    return sharedInstance().controllers_;
}

ChannelStripController* ChannelStripManager::controllerWithCSID(int64_t csID) const {
    for (const auto& controller : controllers_) {
        if (controller->isAddressedBy(csID)) {
            return controller.get();
        }
    }
    return nullptr;
}

ChannelStripController* ChannelStripManager::controllerByID(int64_t csID) {
    return sharedInstance().controllerWithCSID(csID);
}

int32_t ChannelStripManager::controllerIndexByID(int64_t csID) {
    return controllerIndexOf(controllerByID(csID));
}

int32_t ChannelStripManager::controllerIndexOf(const ChannelStripController* controller) {
    const auto& instance = sharedManager();
    if (!instance) {
        return -1;
    }
    const Controllers& list = instance->controllers_;
    for (size_t i = 0; i < list.size(); ++i) {
        if (list[i].get() == controller) {
            return static_cast<int32_t>(i);
        }
    }
    return -1;
}

int32_t ChannelStripManager::positionOf(const ChannelStripController* controller) const {
    for (size_t i = 0; i < controllers_.size(); ++i) {
        if (controllers_[i].get() == controller) {
            return static_cast<int32_t>(i);
        }
    }
    return -1;
}

int32_t ChannelStripManager::indexOfChannelStripID(int64_t csID) const {
    int32_t index = 0;
    for (const auto& controller : controllers_) {
        if (!controller->model().channelEnabled()) {
            continue;
        }
        if (controller->isAddressedBy(csID)) {
            return index;
        }
        ++index;
    }
    return -1;
}

ChannelStripController* ChannelStripManager::controllerByIndexInPanel(
    const Controllers& controllers, int32_t index, std::string_view panel) {
    if (index < 0) {
        return nullptr;
    }
    int32_t n = 0;
    for (const auto& controller : controllers) {
        if (panelEquals(controller->model().panel(), panel)) {
            if (n == index) {
                return controller.get();
            }
            ++n;
        }
    }
    return nullptr;
}

int32_t ChannelStripManager::indexInPanel(const Controllers& controllers,
                                          const ChannelStripController* controller) {
    if (!controller) {
        return -1;
    }
    int32_t before = 0;
    for (const auto& candidate : controllers) {
        if (candidate.get() == controller) {
            return before;
        }
        if (candidate->model().panel() == controller->model().panel()) {
            ++before;
        }
    }
    return -1;
}

int32_t ChannelStripManager::controllersInPanel(const Controllers& controllers,
                                                std::string_view panel) {
    int32_t n = 0;
    for (const auto& controller : controllers) {
        if (panelEquals(controller->model().panel(), panel)) {
            ++n;
        }
    }
    return n;
}

ChannelStripController* ChannelStripManager::controllerByIndexInCurrentPanel(int32_t index) {
    ChannelStripManager& manager = sharedInstance();
    return controllerByIndexInPanel(manager.controllers_, index, panelName(manager.panelIndex_));
}

int32_t ChannelStripManager::enabledChannels(std::string_view panel) const {
    int32_t n = 0;
    for (const auto& controller : controllers_) {
        if (controller->model().channelEnabled() &&
            panelEquals(controller->model().panel(), panel)) {
            ++n;
        }
    }
    return n;
}

bool ChannelStripManager::isWarningOn() const {
    return std::any_of(controllers_.begin(), controllers_.end(),
                       [](const auto& c) { return c->state().warningOn(); });
}

std::string ChannelStripManager::activeChannelNamesForChat() const {
    for (const auto& controller : controllers_) {
        if (controller->state().channelState() != ChannelStripState::kOff) {
            return controller->model().name().value_or("") + "(" +
                   std::to_string(controller->model().audioInput() + 1) + ")";
        }
    }
    return "(No channel selected)";
}

Array ChannelStripManager::hardSoloedChannels() const {
    Array positions;
    for (size_t i = 0; i < controllers_.size(); ++i) {
        const uint64_t state = controllers_[i]->state().channelState();
        if (state == ChannelStripState::kSoloed || state == ChannelStripState::kHardSoloed) {
            positions.emplace_back(static_cast<int64_t>(i));
        }
    }
    return positions;
}

Array ChannelStripManager::activeChannels() const {
    Array positions;
    for (size_t i = 0; i < controllers_.size(); ++i) {
        if (controllers_[i]->state().channelState() == ChannelStripState::kActive) {
            positions.emplace_back(static_cast<int64_t>(i));
        }
    }
    return positions;
}

// ---------------------------------------------------------------------------------------------
// Strip editor

bool ChannelStripManager::isInputChannelAvailable(int32_t input) const {
    for (const auto& controller : controllers_) {
        if (controller->model().audioInput() == input) {
            return false;
        }
    }
    return true;
}

int32_t ChannelStripManager::findFreeAudioInput() const {
    const int n = services_.engine.availableChannels();
    if (!controllers_.empty()) {
        const int32_t last = controllers_.back()->model().audioInput();
        if (last >= 0 && last + 1 < n && isInputChannelAvailable(last + 1)) {
            return last + 1;
        }
    }
    for (int32_t input = 0; input < n; ++input) {
        if (isInputChannelAvailable(input)) {
            return input;
        }
    }
    return -1;
}

void ChannelStripManager::setStripIDSource(StripIDSource source) {
    stripIDSource_ = source ? std::move(source) : &ChannelStripModel::randomStripID;
}

bool ChannelStripManager::createChannelStrip() {
    // The per-strip tables (levels, panels, the level display's map) have room for 128.
    if (controllers_.size() >= static_cast<size_t>(kMaxStrips)) {
        log(LogLevel::Warning, "No new channel strip: there are %d already, the most there can be",
            kMaxStrips);
        return false;
    }
    const int32_t input = findFreeAudioInput();
    if (input < 0) {
        return false;
    }
    // Messages find strips by id, so a new strip's id must be its own.
    int64_t id = stripIDSource_();
    for (int draws = 1; id == 0 || controllerWithCSID(id); ++draws) {
        if (draws == kMaxIDDraws) {
            log(LogLevel::Error, "No new channel strip: no free id after %d draws", draws);
            return false;
        }
        id = stripIDSource_();
    }
    auto controller = std::make_unique<ChannelStripController>(*this);
    controller->model().setCsID(id);
    controller->model().setAudioInput(input);
    controller->model().setName("Ch " + std::to_string(input + 1));
    if (controller->view()) {
        controller->view()->updateAppearance(controller->state());
    }
    controllers_.push_back(std::move(controller));
    int nA = 0;
    int nB = 0;
    for (const auto& c : controllers_) {
        panelEquals(c->model().panel(), "A") ? ++nA : ++nB;
    }
    ChannelStripController& added = *controllers_.back();
    if (nA >= 65 && nB <= 63) {
        QLOG("Created new channel strip to B");
        added.model().setPanel(std::string("B"));
    }
    added.update();
    return true;
}

void ChannelStripManager::removeChannelStrips(const std::vector<int32_t>& positions) {
    std::vector<bool> remove(controllers_.size(), false);
    for (int32_t position : positions) {
        if (position >= 0 && static_cast<size_t>(position) < controllers_.size()) {
            remove[static_cast<size_t>(position)] = true;
        }
    }
    Controllers kept;
    kept.reserve(controllers_.size());
    for (size_t i = 0; i < controllers_.size(); ++i) {
        if (remove[i]) {
            if (area_ && controllers_[i]->view()) {
                area_->removeStripView(*controllers_[i]->view());
            }
        } else {
            kept.push_back(std::move(controllers_[i]));
        }
    }
    controllers_ = std::move(kept);
}

void ChannelStripManager::removeChannelStrip(int32_t position) { removeChannelStrips({position}); }

// ---------------------------------------------------------------------------------------------
// Views and panels

void ChannelStripManager::updatePositions() {
    if (area_) {
        const int columns = services_.settings.columns();
        int nA = 0;
        int nB = 0;
        for (auto& controller : controllers_) {
            ChannelStripView* view = controller->view();
            if (!view) {
                continue;
            }
            area_->removeStripView(*view);
            const bool b = isPanelB(controller->model().panel());
            int& n = b ? nB : nA;
            area_->addStripView(*view, b ? 1 : 0, stripFrame(n, columns));
            ++n;
        }
    }
    scrollUp();
}

void ChannelStripManager::updateSizes() {
    if (area_) {
        const int columns = services_.settings.columns();
        const int n = controllersInPanel(controllers_, panelName(panelIndex_));
        const Size scroll = area_->scrollViewSize();
        const double h = panelHeight(n, columns, scroll.height);
        const Rect panelFrame{0, 0, scroll.width, h};
        area_->setPanelFrame(0, panelFrame);
        area_->setPanelFrame(1, panelFrame);
        const Rect panelA = area_->panelFrame(0);
        area_->setContentFrame(Rect{0, 0, panelA.width, panelA.height});
        if (renderer_) {
            area_->setLevelDisplayFrame(Rect{0, 0, panelA.width - kScrollerWidth, panelA.height});
            renderer_->drawableSizeWillChange(area_->levelDrawableSize());
        }
    }
    if (groupButtonView_) {
        const Size size = groupButtonView_->size();
        for (size_t i = 0; i < groupButtons_.size(); ++i) {
            groupButtons_[i]->setFrame(groupButtonFrame(static_cast<int>(i), size));
        }
    }
}

void ChannelStripManager::updateRendererMap() {
    if (!renderer_) {
        return;
    }
    const std::string_view panel = panelName(panelIndex_);
    std::array<int32_t, kMaxStrips>& map = renderer_->panelMap();
    size_t k = 0;
    for (size_t i = 0; i < controllers_.size() && k < map.size(); ++i) {
        if (panelEquals(controllers_[i]->model().panel(), panel)) {
            map[k++] = static_cast<int32_t>(i);
        }
    }
    renderer_->setLevelCount(std::min(enabledChannels(panel), kMaxStrips));
}

void ChannelStripManager::setPanelIndex(int32_t panelIndex) {
    panelIndex_ = panelIndex;
    const int32_t panel = panelIndex != 0 ? 1 : 0;
    if (area_) {
        area_->setDocumentPanel(panel);
        if (renderer_) {
            area_->moveLevelDisplay(panel);
        }
    }
    if (renderer_) {
        renderer_->setPanelIndex(panelIndex);
    }
    updateRendererMap();
    scrollUp();
}

void ChannelStripManager::scrollUp() {
    if (area_) {
        area_->scrollToTop();
    }
}

void ChannelStripManager::setKeyboardFocus() {
    if (area_ && renderer_) {
        area_->focusLevelDisplay();
    }
}

void ChannelStripManager::updateStates() { updateAppearances(); }

void ChannelStripManager::updateAppearances() {
    for (auto& controller : controllers_) {
        if (controller->view()) {
            controller->view()->updateAppearance(controller->state());
        }
    }
}

void ChannelStripManager::preferencesChanged() {
    for (auto& controller : controllers_) {
        if (controller->view()) {
            controller->view()->setChannelState(0);
        }
    }
}

void ChannelStripManager::allChannelsOff() {
    for (auto& controller : controllers_) {
        controller->state().setChannelState(ChannelStripState::kOff);
        // Nothing the server said last may read as live: no solo border, warning, battery,
        // antennas or quality until the server sends them again.
        if (ChannelStripView* view = controller->view()) {
            view->updateAppearance(controller->state());
            view->setChannelState(0);
            view->setBatteryPower(-2);
            view->setAntennaData("");
            view->setQuality(0);
        }
    }
}

void ChannelStripManager::reset() {
    for (auto& controller : controllers_) {
        controller->resetWarnings();
    }
}

void ChannelStripManager::scrollViewScrolled() {
    scrolling_ = true;
    // Scrolling ends half a second after the last scroll event.
    scrollTimer_ = RunLoop::main().scheduleTimer(0.5, false, [this] { scrollEnded(); });
}

void ChannelStripManager::scrollEnded() { scrolling_ = false; }

void ChannelStripManager::clientClickedChannel(int32_t index, const std::string& fromIP) {
    services_.center.post(kCSClickedNotification, Dictionary{{"index", index}, {"sender", fromIP}});
}

void ChannelStripManager::clientLongClickedChannel(int32_t index) {
    services_.center.post(kCSLongClickedNotification, Dictionary{{"index", index}});
}

}  // namespace quenbril

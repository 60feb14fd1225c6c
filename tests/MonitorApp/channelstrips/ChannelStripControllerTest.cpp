#include "StripTestEnvironment.h"

namespace quenbril {
namespace {

class Controller : public StripTest {
  protected:
    void SetUp() override {
        StripTest::SetUp();
        buildStrips(1);
        c = manager().controllers()[0].get();
        view = &viewOf(1);
    }
    void counters(int peak, int clip, int sym, int mean, int hf, int lpf) {
        ChannelStripState& s = c->state();
        s.setPeakWarnings(peak);
        s.setClipWarnings(clip);
        s.setSymmetryWarnings(sym);
        s.setMeanWarnings(mean);
        s.setHfWarnings(hf);
        s.setLpfWarnings(lpf);
    }
    ChannelStripController* c = nullptr;
    FakeStripView* view = nullptr;
};

TEST_F(Controller, TitleFromNameSeparatorReceiverAndPlayer) {
    auto titleFor = [&](const char* name) {
        c->model().setName(std::string(name));
        c->update();
        return view->title;
    };
    EXPECT_EQ(titleFor("Vox--Wireless 4"), "Vox");
    EXPECT_EQ(view->alternativeInput, "Wireless 4");
    EXPECT_EQ(titleFor("a--b--c"), "a--b--c");
    titleFor("");
    EXPECT_EQ(c->model().name(), std::string(" "));

    auto titleShowing = [&](int shows) {
        settings().setTitleShows(shows);
        c->update();
        return view->title;
    };
    c->model().setName(std::string("Vox"));
    c->model().setWirelessName(std::string("Rx 7"));
    EXPECT_EQ(titleShowing(3), "Rx 7");
    PlayerManager::sharedInstance().players().push_back(std::make_shared<Player>(
        Dictionary{{"Name", "Ann"}, {"RoleName", "Juliet"}, {"Image", Bytes{1, 2, 3}}}));
    c->model().setPlayerName(std::string("Ann as Juliet"));
    EXPECT_EQ(titleShowing(1), "Juliet");
    EXPECT_EQ(view->image, (Bytes{1, 2, 3}));
    EXPECT_EQ(titleShowing(2), "Ann");
    settings().setShowImages(0);
    EXPECT_EQ(titleShowing(2), "Vox") << "player titles need pictures on";
    EXPECT_FALSE(view->image);
}

TEST_F(Controller, ScpWarningThresholdsAndChatMessageOnTheRisingEdge) {
    std::vector<Dictionary> chat;
    auto observer = NotificationCenter::defaultCenter().addObserver(
        "ChatMessage", [&](const Notification& n) { chat.push_back(n.userInfo); });
    counters(2, 5, 0, 3, 0, 0);  // k = 3, s = 10
    c->updateWarnings(settings());
    EXPECT_FALSE(c->state().warningOn());
    EXPECT_EQ(c->state().peakWarnings(), 0) << "counters clear while nothing is raised";
    counters(2, 5, 0, 4, 0, 0);  // s = 11
    c->updateWarnings(settings());
    EXPECT_TRUE(c->state().warningOn());
    ASSERT_EQ(chat.size(), 1u);
    EXPECT_EQ(chat[0]["message"], Value("SCP alert notification!"));
    EXPECT_EQ(chat[0]["sender"], Value("S1 (chan 2)"));
    EXPECT_EQ(chat[0]["type"], Value(1));
    c->updateWarnings(settings());
    EXPECT_EQ(chat.size(), 1u) << "no message while it stays raised";

    // Sensitivity, counters (peak, clip, symmetry, mean, hf, lpf), raised.
    for (auto [sensitivity, counts, raised] :
         {std::tuple{0, std::array{0, 0, 0, 0, 0, 1}, true},  // one lpf detection
          {1, {3, 0, 0, 0, 0, 0}, true},                      // three peaks
          {2, {0, 1, 1, 0, 0, 0}, true},  // one kind with more than one detection
          {2, {0, 0, 0, 0, 0, 0}, false}}) {
        settings().setWarningSensitivity(sensitivity);
        counters(counts[0], counts[1], counts[2], counts[3], counts[4], counts[5]);
        c->updateWarnings(settings());
        EXPECT_EQ(c->state().warningOn(), raised)
            << sensitivity << " " << testing::PrintToString(counts);
    }

    settings().setActAsClient(true);
    counters(0, 0, 0, 0, 0, 5);
    c->updateWarnings(settings());
    EXPECT_FALSE(c->state().warningOn()) << "the remote role evaluates nothing";
}

TEST_F(Controller, RfAndBatteryWarnings) {
    auto rx = receiver("Rx", 1);
    for (auto [threshold, rf, raised] : {std::tuple{19, 49, true},
                                         {19, 50, false},
                                         {81, 49, true},
                                         {20, 19, true},
                                         {20, 20, false},
                                         {80, 79, true},
                                         {80, -1, false}}) {
        settings().setRfThreshold(threshold);
        rx->setRf(rf);
        c->updateWarnings(settings());
        EXPECT_EQ(c->state().rfWarningOn(), raised) << threshold << " " << rf;
    }
    c->model().setRfWarnEnabled(false);
    rx->setRf(0);
    c->updateWarnings(settings());
    EXPECT_FALSE(c->state().rfWarningOn());

    settings().setBatThreshold(30);
    view->setBatteryPower(25);
    c->updateWarnings(settings());
    EXPECT_TRUE(c->state().batWarningOn());
    view->setBatteryPower(-1);
    c->updateWarnings(settings());
    EXPECT_TRUE(c->state().batWarningOn()) << "\"?\" changes nothing";
    view->setBatteryPower(35);
    c->updateWarnings(settings());
    EXPECT_FALSE(c->state().batWarningOn());

    WirelessManager::setSharedInstance(nullptr);
    c->updateWarnings(settings());
    EXPECT_EQ(view->removeWirelessCalls, 1);

    settings().setDisableAllWarnings(true);
    c->state().setBatWarningOn(true);
    c->updateWarnings(settings());
    EXPECT_FALSE(c->state().batWarningOn());
}

TEST_F(Controller, RaisedWarningsAreShownAndReportedInTurn) {
    EXPECT_EQ(c->warningStatus(), 0);
    c->state().setWarningOn(true);
    c->state().setRfWarningOn(true);
    c->state().setBatWarningOn(true);
    EXPECT_EQ(c->warningStatus(), 3) << "reporting starts with the second warning";
    EXPECT_EQ(c->warningStatus(), 2);
    EXPECT_EQ(c->warningStatus(), 1);

    // The displayed cycle: counters keep the three flags raised (lpf, RF and battery).
    receiver("Rx", 1);
    view->setBatteryPower(5);
    view->pending = 12;
    for (int i = 0; i < 4; ++i) {
        c->state().setLpfWarnings(1);
        c->updateWarnings(settings());
    }
    EXPECT_EQ(view->warningCodes, (std::vector<int32_t>{1, 3, 2, 1}));
    EXPECT_EQ(view->quality, 12);
}

TEST_F(Controller, LocalStateChanges) {
    const std::vector<uint64_t> clicked{1, 0, 2, 3, 4};
    const std::vector<uint64_t> longClicked{2, 2, 0, 0, 4};
    for (uint64_t s = 0; s < 5; ++s) {
        c->state().setChannelState(s);
        c->clickedNotification();
        EXPECT_EQ(c->state().channelState(), clicked[s]);
        c->state().setChannelState(s);
        c->longClickedNotification();
        EXPECT_EQ(c->state().channelState(), longClicked[s]);
    }
    c->applyGroupState(2);
    EXPECT_EQ(c->state().channelState(), 3u);
    c->applyGroupState(7);
    EXPECT_EQ(c->state().channelState(), 3u);
    c->applyGroupState(0);
    EXPECT_EQ(view->lastAppearanceState, 0u);

    auto bare = ChannelStripController::makeWithoutView(strip(9));
    EXPECT_EQ(bare->view(), nullptr);
    bare->update();
    bare->state().setLpfWarnings(1);
    bare->updateWarnings(settings());
    EXPECT_TRUE(bare->state().warningOn());
}

}  // namespace
}  // namespace quenbril

// The connection dialog's logic: what it reads and writes in the user defaults, its retry
// timer, and the connection attempts its fields start.

#include <QLayout>
#include <QSignalSpy>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "MonitorApp/ATAudio/ATStreamWatch.h"
#include "tests/MonitorApp/lifecycle/LifeCycleTest.h"
#include "tests/support/QtTestTime.h"

namespace quenbril::test {
namespace {

class ConnectionDialog : public LifeCycleTest {
  protected:
    void SetUp() override {
        LifeCycleTest::SetUp();
        vc->setLinkSender(&sender);
        link().setPort(unusedPort());  // manual attempts are refused, whatever runs here
    }
    /// Opens the dialog as the main window does at its first appearance.
    PreferencesViewController& open() {
        start();
        EXPECT_NE(dialog(), nullptr);
        return *dialog();
    }
    static void edit(QLineEdit* field, const char* text) { field->setText(text); }
};

TEST_F(ConnectionDialog, RetriesEveryFiveSecondsWhileOpen) {
    PreferencesViewController& d = open();
    EXPECT_EQ(browserLog->browsed.size(), 1u) << "the first attempt comes with the dialog";
    loop_->advance(4.9);
    EXPECT_EQ(browserLog->browsed.size(), 1u);
    loop_->advance(0.1);
    EXPECT_EQ(browserLog->browsed.size(), 2u);
    loop_->advance(10.0);
    EXPECT_EQ(browserLog->browsed.size(), 4u);
    EXPECT_TRUE(d.isRetrying());

    d.dismiss();
    EXPECT_FALSE(d.isRetrying());
    loop_->advance(20.0);
    EXPECT_EQ(browserLog->browsed.size(), 4u) << "the main window's timer waits for the role";
}

TEST_F(ConnectionDialog, AppliesTheStoredChoices) {
    settings().setQbIdentifier("fromsettings");
    defaults().setObject(Value("stage"), "qbIdentifier");
    defaults().setInteger(2, "clientID");
    defaults().setInteger(1, "useManualIP");
    defaults().setObject(Value("127.0.0.9"), "manualIP");
    PreferencesViewController& d = open();
    EXPECT_EQ(d.qbIdentifier()->text(), "stage") << "the top-level identifier wins";
    EXPECT_EQ(settings().qbIdentifier(), "stage");
    EXPECT_EQ(d.clientID()->currentIndex(), 2);
    EXPECT_TRUE(d.useManualIP()->isChecked());
    EXPECT_TRUE(d.manualIP()->isEnabled());
    EXPECT_EQ(d.manualIP()->text(), "127.0.0.9");
    EXPECT_FALSE(d.continueAutomatically()->isChecked());
    // An empty address is not stored, but the stored one is still tried.
    edit(d.manualIP(), "");
    d.controlTextDidEndEditing();
    EXPECT_EQ(defaults().stringForKey("manualIP"), "127.0.0.9");
    EXPECT_EQ(link().previousManualIP(), "127.0.0.9");
    // Going away stores continue automatically.
    d.continueAutomatically()->setChecked(true);
    d.confirmClicked();
    EXPECT_EQ(defaults().integerForKey("continueAutomatically"), 1);
}

TEST_F(ConnectionDialog, AClientIndexPastTheItemsIsIgnored) {
    defaults().setInteger(9, "clientID");
    EXPECT_EQ(open().clientID()->currentIndex(), 0);
}

TEST_F(ConnectionDialog, EditingTheIdentifierSearchesForItUntilConfirmed) {
    PreferencesViewController& d = open();
    edit(d.qbIdentifier(), "foh");
    d.serverChanged();
    EXPECT_EQ(settings().qbIdentifier(), "foh");
    EXPECT_EQ(defaults().stringForKey("qbIdentifier"), "foh");
    EXPECT_EQ(browserLog->browsed.back(), "_foh._tcp.");
    size_t searches = browserLog->browsed.size();

    // After confirm (the field may still end its editing as the dialog goes away) the text is
    // stored, but no attempt starts.
    std::shared_ptr<PreferencesViewController> keep = vc->prefViewController();
    d.confirmClicked();
    edit(d.qbIdentifier(), "mon");
    d.serverChanged();
    EXPECT_EQ(defaults().stringForKey("qbIdentifier"), "mon");
    EXPECT_EQ(settings().qbIdentifier(), "foh");
    EXPECT_EQ(browserLog->browsed.size(), searches);
}

TEST_F(ConnectionDialog, TheManualAddressBoxSwitchesTheModeAndConnects) {
    PreferencesViewController& d = open();
    edit(d.manualIP(), "127.0.0.1");
    d.useManualIP()->setChecked(true);
    d.manualIPClicked();
    EXPECT_EQ(defaults().integerForKey("useManualIP"), 1);
    EXPECT_TRUE(d.manualIP()->isEnabled());

    d.controlTextDidEndEditing();
    EXPECT_EQ(defaults().stringForKey("manualIP"), "127.0.0.1");
    EXPECT_EQ(link().previousManualIP(), "127.0.0.1");
    size_t searches = browserLog->browsed.size();

    // Unticked: the field is disabled and the attempt goes by discovery.
    d.useManualIP()->setChecked(false);
    d.manualIPClicked();
    EXPECT_EQ(defaults().integerForKey("useManualIP"), 0);
    EXPECT_FALSE(d.manualIP()->isEnabled());
    EXPECT_EQ(browserLog->browsed.size(), searches + 1);
}

TEST_F(ConnectionDialog, QuittingWhileAnAddressIsTypedStoresItAndRunsNothingOnAHalfGoneDialog) {
    // Going away, the field finished its editing after the dialog's own part had gone, and the
    // dialog's handler ran on what was left of it.
    defaults().setInteger(1, "useManualIP");
    auto d = std::make_shared<PreferencesViewController>(settings(), defaults(), link(),
                                                         NotificationCenter::defaultCenter());
    d->setGraphicsCheck([] { return true; });
    d->show();
    d->activateWindow();
    ASSERT_TRUE(test::qWaitForWindowActive(d.get()));
    d->manualIP()->setFocus();
    QTest::keyClicks(d->manualIP(), "127.0.0.7");
    ASSERT_TRUE(d->manualIP()->hasFocus());
    link().setPreviousManualIP(std::nullopt);
    d.reset();
    EXPECT_EQ(defaults().stringForKey("manualIP"), "127.0.0.7") << "typed text is kept";
    EXPECT_EQ(link().previousManualIP(), std::nullopt) << "no attempt from a dialog going away";
}

TEST_F(ConnectionDialog, TheDialogCannotBeClosedButByConfirming) {
    PreferencesViewController& d = open();
    d.QWidget::show();
    EXPECT_FALSE(d.close());
    EXPECT_TRUE(d.isVisible());
}

TEST_F(ConnectionDialog, OldGraphicsRaiseTheAlertAndTheDialogGoesOn) {
    configureDialog = [](PreferencesViewController& d) {
        d.setGraphicsCheck([] { return false; });
    };
    PreferencesViewController& d = open();
    // The alert names the graphics interface the level display draws with on this platform.
    ASSERT_EQ(alerts.texts.size(), 1u);
    EXPECT_EQ(alerts.texts[0],
              "It seems that your computer GPU might be too old to run this version of Quenbril "
              "due to OpenGL graphics. In case of problems, please install an earlier version "
              "from the Quenbril web site.");
    EXPECT_TRUE(d.isRetrying());
}

TEST_F(ConnectionDialog, OutputDevicesAndThePreviousShowFile) {
    std::string file = root_ + "/last.qcf";
    std::ofstream(file) << "show";
    defaults().setObject(Value(file), "PreviousShowFile");
    defaults().setObject(Value("in-b"), "InputDeviceUID");
    defaults().setObject(Value("out-b"), "OutputDeviceUID");
    configureDialog = [](PreferencesViewController& d) {
        d.setAudioDevices({{"in-a", "Mic A", 1}, {"in-b", "Mic B", 2}},
                          {{"out-a", "Phones", 3}, {"out-b", "Monitors", 4}});
    };
    PreferencesViewController& d = open();
    EXPECT_TRUE(d.previousButton()->isEnabled());
    EXPECT_EQ(d.inDeviceUID(), "in-b");
    EXPECT_EQ(d.outDeviceUID(), "out-b");
    ASSERT_EQ(d.outputDevices()->count(), 2);
    EXPECT_EQ(d.outputDevices()->currentText(), "Monitors");
    EXPECT_EQ(d.outputDevices()->currentData().toInt(), 4);
    EXPECT_TRUE(d.defaultDevicesFound("in-a", "out-a"));
    EXPECT_FALSE(d.defaultDevicesFound("in-a", "out-c"));
}

TEST_F(ConnectionDialog, APreviousShowFileThatIsGoneLeavesTheButtonAlone) {
    defaults().setObject(Value(root_ + "/missing.qcf"), "PreviousShowFile");
    defaults().setObject(Value("in"), "InputDeviceUID");
    defaults().setObject(Value("out"), "OutputDeviceUID");
    PreferencesViewController& d = open();
    EXPECT_FALSE(d.previousButton()->isEnabled());
}

TEST_F(ConnectionDialog, TheConfirmedOutputDeviceIsStoredPlayedAndChosenAgain) {
    fakeAudio().changeDevices([](FakeAudioBackend& host) {
        for (const char* name : {"Phones", "Monitors"}) host.addDevice(name, 0, 2);
        host.setDefaultOutputDevice(0);
    });
    PreferencesViewController& d = open();
    // The list is read off the main thread and reaches the pop-up on screen.
    ASSERT_TRUE(waitFor([&] { return d.outputDevices()->count() == 2; }));
    EXPECT_EQ(d.outputDevices()->itemText(1), "Monitors");
    d.outputDevices()->setCurrentIndex(1);
    d.confirmClicked();
    EXPECT_EQ(defaults().stringForKey("OutputDeviceUID"), "Fake:Monitors");
    PELAudioEngine& engine = PELAudioEngine::sharedInstance();
    EXPECT_EQ(engine.currentOutputDeviceUID(), "Fake:Monitors");
    ASSERT_NE(engine.stereoOut(), nullptr);
    EXPECT_TRUE(engine.stereoOut()->isPlaying());
    EXPECT_EQ(engine.stereoOut()->device()->name(), "Monitors");
    engine.stopListening();

    PreferencesViewController next(settings(), defaults(), ServerManager::sharedInstance(),
                                   NotificationCenter::defaultCenter());
    next.setAudioDevices({}, {{"Fake:Phones", "Phones", 0}, {"Fake:Monitors", "Monitors", 1}});
    next.show();
    EXPECT_EQ(next.outputDevices()->currentText(), "Monitors");
    next.dismiss();
}

TEST_F(ConnectionDialog, WithoutAnOutputDeviceThePopUpSaysSoAndConfirmingStillWorks) {
    PreferencesViewController& d = open();
    loop_->runFor(0.2);
    ASSERT_EQ(d.outputDevices()->count(), 1);
    EXPECT_EQ(d.outputDevices()->currentText(), "No audio output device");
    EXPECT_FALSE(d.outputDevices()->isEnabled());
    EXPECT_FALSE(d.outputAbsence()->isVisible()) << "every host answered: no words under it";
    d.confirmClicked();
    EXPECT_FALSE(defaults().stringForKey("OutputDeviceUID").has_value());
    ASSERT_NE(PELAudioEngine::sharedInstance().stereoOut(), nullptr);
    EXPECT_FALSE(PELAudioEngine::sharedInstance().stereoOut()->isPlaying());
}

TEST_F(ConnectionDialog, WithoutAJackServerThePopUpSaysWhyItIsEmpty) {
    // The audio system's words, read with the device list off the main thread.
    fakeAudio().setAbsence("No JACK server is running");
    PreferencesViewController& d = open();
    ASSERT_TRUE(waitFor([&] { return d.outputAbsence()->isVisible(); }))
        << "the words reach the dialog on screen";
    EXPECT_EQ(d.outputAbsence()->text(), "No JACK server is running");
    EXPECT_EQ(d.outputAbsence()->textFormat(), Qt::PlainText);
    ASSERT_EQ(d.outputDevices()->count(), 1);
    EXPECT_EQ(d.outputDevices()->currentText(), "No audio output device");
    EXPECT_FALSE(d.outputDevices()->isEnabled());
    // Right under the pop-up.
    const QRect popUp(d.outputDevices()->mapTo(&d, QPoint()), d.outputDevices()->size());
    const QRect words(d.outputAbsence()->mapTo(&d, QPoint()), d.outputAbsence()->size());
    EXPECT_GE(words.top(), popUp.bottom());
    EXPECT_LT(words.top() - popUp.bottom(), 20);
    EXPECT_LT(words.left(), popUp.right());
    // Words that came once the dialog was on screen, the long status of a failed search among
    // them, never squeeze the pop-up: the window grows for them.
    d.discoveryUnavailable();
    ASSERT_TRUE(qWaitFor([&] {
        return d.outputDevices()->height() >= d.outputDevices()->minimumSizeHint().height();
    })) << "the pop-up is "
        << d.outputDevices()->height() << " points high";

    // Confirming still works, without a device.
    d.confirmClicked();
    EXPECT_FALSE(defaults().stringForKey("OutputDeviceUID").has_value());
}

TEST_F(ConnectionDialog, TheWordsOfAStuckJackLibraryShowUnderTheDevicesOfTheOtherHosts) {
    AudioBackendDevice card;
    card.name = "Phones";
    card.hostAPI = "ALSA";
    card.outputStreams = {2};
    card.defaultSampleRate = 48000.0;
    fakeAudio().changeDevices([&](FakeAudioBackend& host) { host.addDevice(card); });
    fakeAudio().setAbsence("The JACK library does not answer");
    PreferencesViewController& d = open();
    ASSERT_TRUE(waitFor([&] { return d.outputAbsence()->isVisible(); }));
    EXPECT_EQ(d.outputAbsence()->text(), "The JACK library does not answer");
    ASSERT_EQ(d.outputDevices()->count(), 1);
    EXPECT_EQ(d.outputDevices()->currentText(), "Phones");
    EXPECT_TRUE(d.outputDevices()->isEnabled());
}

/// The host's output devices become `names`, each with two outputs, in that order.
void listOutputs(std::initializer_list<const char*> names) {
    FakeSoundBackends::audio().changeDevices([&](FakeAudioBackend& host) {
        host.removeAllDevices();
        for (const char* name : names) host.addDevice(name, 0, 2);
    });
}

TEST_F(ConnectionDialog, TheDevicesAndTheWordsUnderThemFollowTheHostWhileOpen) {
    listOutputs({"Phones"});
    fakeAudio().setAbsence("No JACK server is running");
    PreferencesViewController& d = open();
    QComboBox* popUp = d.outputDevices();
    ASSERT_TRUE(waitFor([&] { return d.outputAbsence()->isVisible() && popUp->count() == 1; }));
    EXPECT_EQ(popUp->currentText(), "Phones");

    // The server starts: its device comes ahead of the card, and the words go, once the dialog
    // has looked again (the host asked to refresh first).
    listOutputs({"system", "Phones"});
    fakeAudio().setAbsence({});
    const int refreshes = fakeAudio().refreshesSoFar();
    loop_->advance(PreferencesViewController::kDeviceLookInterval);
    ASSERT_TRUE(waitFor([&] { return popUp->count() == 2; }));
    EXPECT_GT(fakeAudio().refreshesSoFar(), refreshes);
    EXPECT_FALSE(d.outputAbsence()->isVisible());
    EXPECT_EQ(popUp->itemText(0), "system");
    EXPECT_EQ(popUp->currentText(), "Phones") << "what was shown stays shown";

    // The user picks the server's device: it stays picked, by its UID, wherever the list puts
    // it.
    QTest::keyClick(popUp, Qt::Key_Up);
    ASSERT_EQ(popUp->currentText(), "system");
    listOutputs({"USB", "system", "Phones"});
    loop_->advance(PreferencesViewController::kDeviceLookInterval);
    ASSERT_TRUE(waitFor([&] { return popUp->count() == 3; }));
    EXPECT_EQ(popUp->currentText(), "system");
    EXPECT_EQ(popUp->currentData().toInt(), 1) << "the host's new number for it";

    // Only the words change: they follow, and the pop-up under the user's pointer is not built
    // again.
    QSignalSpy rebuilt(popUp->model(), &QAbstractItemModel::rowsInserted);
    fakeAudio().setAbsence("The JACK library does not answer");
    loop_->advance(PreferencesViewController::kDeviceLookInterval);
    ASSERT_TRUE(waitFor([&] { return d.outputAbsence()->isVisible(); }));
    EXPECT_EQ(d.outputAbsence()->text(), "The JACK library does not answer");
    EXPECT_EQ(rebuilt.count(), 0);
    EXPECT_EQ(popUp->currentText(), "system");

    // The picked device goes away: the first one is shown meanwhile, and the picked one is
    // chosen again when it returns.
    listOutputs({"USB", "Phones"});
    loop_->advance(PreferencesViewController::kDeviceLookInterval);
    ASSERT_TRUE(waitFor([&] { return popUp->count() == 2; }));
    EXPECT_EQ(popUp->currentText(), "USB");
    listOutputs({"USB", "Phones", "system"});
    loop_->advance(PreferencesViewController::kDeviceLookInterval);
    ASSERT_TRUE(waitFor([&] { return popUp->count() == 3; }));
    EXPECT_EQ(popUp->currentText(), "system");

    d.confirmClicked();
    EXPECT_EQ(defaults().stringForKey("OutputDeviceUID"), "Fake:system");
}

// A remote started before its JACK server: the device picked last time is not listed, and
// confirming (as "continue automatically" does) keeps it the pick while another plays.
TEST_F(ConnectionDialog, ConfirmingKeepsAPickedDeviceThatIsAwayAndItsSoundMovesBackToIt) {
    listOutputs({"Phones"});
    fakeAudio().changeDevices([](FakeAudioBackend& host) { host.setDefaultOutputDevice(0); });
    defaults().setObject(Value("Fake:system"), "OutputDeviceUID");
    PreferencesViewController& d = open();
    ASSERT_TRUE(waitFor([&] { return d.outputDevices()->currentText() == "Phones"; }));
    d.confirmClicked();
    EXPECT_EQ(defaults().stringForKey("OutputDeviceUID"), "Fake:system");
    PELAudioEngine& engine = PELAudioEngine::sharedInstance();
    EXPECT_EQ(engine.currentOutputDeviceUID(), "Fake:system");
    ASSERT_NE(engine.stereoOut(), nullptr);
    EXPECT_TRUE(engine.stereoOut()->isPlaying());
    ASSERT_TRUE(engine.stereoOut()->device());
    EXPECT_EQ(engine.stereoOut()->device()->name(), "Phones") << "the default stands in";

    listOutputs({"system", "Phones"});
    fakeAudio().changeDevices([](FakeAudioBackend& host) { host.setDefaultOutputDevice(1); });
    for (int tick = 0; tick < 4 && engine.stereoOut()->device()->name() != "system"; ++tick) {
        loop_->advance(ATStreamWatch::kInterval);
    }
    ASSERT_TRUE(engine.stereoOut()->device());
    EXPECT_EQ(engine.stereoOut()->device()->name(), "system");
    EXPECT_TRUE(engine.stereoOut()->isPlaying());
    engine.stopListening();
}

TEST_F(ConnectionDialog, ItAsksOneLookAtATimeWhileOpenAndNoneOnceClosed) {
    PreferencesViewController d(settings(), defaults(), link(),
                                NotificationCenter::defaultCenter());
    d.setGraphicsCheck([] { return true; });
    int asked = 0;
    d.setDeviceLook([&] { ++asked; });
    constexpr double interval = PreferencesViewController::kDeviceLookInterval;
    d.show();
    EXPECT_EQ(asked, 1) << "as it appears";
    loop_->advance(3 * interval);
    EXPECT_EQ(asked, 1) << "a look that does not answer is not asked again";
    d.setAudioDevices({}, {{"Fake:Phones", "Phones", 0}});
    loop_->advance(interval);
    EXPECT_EQ(asked, 2);
    d.setAudioDevices({}, {{"Fake:Phones", "Phones", 0}});
    d.dismiss();
    loop_->advance(10 * interval);
    EXPECT_EQ(asked, 2) << "closed, it asks no more";
}

/// The advanced settings window as the dialog's segue prepares it.
struct FakeAdvancedSettings : AdvancedSettingsWindow {
    void setDelegate(AdvancedSettingsDelegate* d) override { delegate = d; }
    AdvancedSettingsDelegate* delegate = nullptr;
};

TEST_F(ConnectionDialog, TheAdvancedSettingsTellTheDialogWhichRoleTheyLeft) {
    PreferencesViewController& d = open();
    auto other = std::make_shared<FakeAdvancedSettings>();
    d.prepareForSegue("showUserPrefs", other);
    EXPECT_EQ(other->delegate, nullptr) << "only the advanced segue";
    auto advanced = std::make_shared<FakeAdvancedSettings>();
    d.prepareForSegue("advancedSegue", advanced);
    ASSERT_EQ(advanced->delegate, &d);

    settings().setActAsClient(true);
    advanced->delegate->windowClosed();
    EXPECT_FALSE(d.outputDevices()->isEnabled());
    EXPECT_FALSE(d.previousButton()->isEnabled());
    EXPECT_EQ(d.confirmButton()->text(), "Start client");
    d.setAudioDevices({}, {{"Fake:Phones", "Phones", 0}});
    EXPECT_FALSE(d.outputDevices()->isEnabled()) << "a new device list leaves the choice off";

    settings().setActAsClient(false);
    advanced->delegate->windowClosed();
    EXPECT_TRUE(d.outputDevices()->isEnabled());
    EXPECT_TRUE(d.previousButton()->isEnabled());
    EXPECT_EQ(d.confirmButton()->text(), "Confirm");
}

}  // namespace
}  // namespace quenbril::test

// The connection dialog as the user sees it: a real form on the dark panel background, shown
// application-modal while the event loop keeps running.

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "MonitorApp/preferences/PreferencesViewController.h"
#include "MonitorApp/serverlink/ServerManager.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "platform/jack/JackNotAnswering.h"
#include "tests/MonitorApp/preferences/PreferencesTest.h"
#include "tests/support/QtTestTime.h"

namespace quenbril::test {
namespace {

class ConnectionDialogLook : public PreferencesTest {
  protected:
    void SetUp() override {
        PreferencesTest::SetUp();
        dialog = std::make_shared<PreferencesViewController>(
            UserSettingsManager::sharedInstance(), defaults(), ServerManager::sharedInstance(),
            NotificationCenter::defaultCenter());
        dialog->setGraphicsCheck([] { return true; });
    }
    void TearDown() override {
        if (dialog->isVisible()) dialog->dismiss();
        dialog.reset();
        PreferencesTest::TearDown();
    }
    std::shared_ptr<PreferencesViewController> dialog;
};

TEST_F(ConnectionDialogLook, ShowsEveryControlOfTheForm) {
    dialog->show();
    const std::vector<QWidget*> controls = {
        dialog->qbIdentifier(), dialog->clientID(),      dialog->outputDevices(),
        dialog->useManualIP(),  dialog->manualIP(),      dialog->continueAutomatically(),
        dialog->statusText(),   dialog->confirmButton(), dialog->previousButton(),
    };
    for (QWidget* control : controls) {
        ASSERT_NE(control, nullptr);
        EXPECT_TRUE(control->isVisible()) << control->metaObject()->className();
        EXPECT_EQ(control->window(), dialog.get());
    }
    // Each control has room of its own: none lies over another.
    for (size_t i = 0; i < controls.size(); ++i) {
        for (size_t j = i + 1; j < controls.size(); ++j) {
            const QRect a(controls[i]->mapTo(dialog.get(), QPoint()), controls[i]->size());
            const QRect b(controls[j]->mapTo(dialog.get(), QPoint()), controls[j]->size());
            EXPECT_FALSE(a.intersects(b)) << i << " overlaps " << j;
        }
    }
    EXPECT_EQ(dialog->clientID()->count(), 4);
    // While every sound host answers there are no words under the output pop-up.
    EXPECT_FALSE(dialog->outputAbsence()->isVisible());
}

TEST_F(ConnectionDialogLook, SaysUnderTheOutputPopUpWhyItIsEmpty) {
    // Words with markup in them show as they are.
    dialog->setAudioDevices({}, {}, "The JACK library does not answer <b>yet</b>");
    dialog->show();
    QLabel* words = dialog->outputAbsence();
    ASSERT_TRUE(words->isVisible());
    EXPECT_EQ(words->window(), dialog.get());
    EXPECT_EQ(words->text(), "The JACK library does not answer <b>yet</b>");
    EXPECT_EQ(words->textFormat(), Qt::PlainText);
    EXPECT_EQ(dialog->outputDevices()->currentText(), "No audio output device");

    // Under the pop-up, with room of its own: over no other control, and all of it in the dialog.
    const QRect place(words->mapTo(dialog.get(), QPoint()), words->size());
    const QRect popUp(dialog->outputDevices()->mapTo(dialog.get(), QPoint()),
                      dialog->outputDevices()->size());
    EXPECT_GT(place.top(), popUp.bottom());
    EXPECT_TRUE(dialog->rect().contains(place));
    EXPECT_GE(words->height(), words->fontMetrics().height()) << "a whole line of it shows";
    EXPECT_GE(popUp.height(), dialog->outputDevices()->sizeHint().height())
        << "the window grew for the words instead of squeezing the form";
    for (QWidget* control : std::vector<QWidget*>{
             dialog->qbIdentifier(), dialog->clientID(), dialog->outputDevices(),
             dialog->useManualIP(), dialog->manualIP(), dialog->continueAutomatically(),
             dialog->statusText(), dialog->confirmButton(), dialog->previousButton()}) {
        const QRect other(control->mapTo(dialog.get(), QPoint()), control->size());
        EXPECT_FALSE(place.intersects(other)) << control->metaObject()->className();
    }
    // Drawn: some of its pixels differ from the panel's background.
    const QImage picture = words->grab().toImage();
    int drawn = 0;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            if (picture.pixel(x, y) != onScreen(ColorHelper::vozodDarkerGray())) ++drawn;
        }
    }
    EXPECT_GT(drawn, 50) << "the words are drawn";

    // Words that come once the dialog is on screen, with the long status of a search that
    // cannot run, get their room too: the window grows for them.
    dialog->setAudioDevices({}, {});
    dialog->discoveryUnavailable();
    dialog->setAudioDevices({}, {}, "No JACK server is running");
    EXPECT_TRUE(qWaitFor([&] {
        return dialog->outputDevices()->height() >= dialog->outputDevices()->sizeHint().height() &&
               dialog->rect().contains(QRect(words->mapTo(dialog.get(), QPoint()), words->size()));
    })) << "the pop-up is "
        << dialog->outputDevices()->height() << " points high";

    // The JACK library's words, which name both causes it may have, take several lines: each
    // shows whole, in the dialog.
    std::string stuck = kJackNotAnswering;
    stuck[0] = 'T';
    dialog->setAudioDevices({}, {}, stuck);
    EXPECT_TRUE(qWaitFor([&] {
        return words->height() >= words->heightForWidth(words->width()) &&
               dialog->rect().contains(QRect(words->mapTo(dialog.get(), QPoint()), words->size()));
    })) << "the words are "
        << words->height() << " points high for " << words->heightForWidth(words->width());
    EXPECT_GE(words->height(), 2 * words->fontMetrics().height());

    // Once every host answers again the words go.
    dialog->setAudioDevices({}, {{"ALSA:Phones", "Phones", 0}});
    EXPECT_FALSE(words->isVisible());
    EXPECT_EQ(dialog->outputDevices()->currentText(), "Phones");
}

TEST_F(ConnectionDialogLook, DrawsOnTheDarkerGrayOfThePanels) {
    dialog->show();
    EXPECT_EQ(pixel(*dialog, 2, 2), onScreen(ColorHelper::vozodDarkerGray()));
    EXPECT_EQ(pixel(*dialog, dialog->width() - 3, dialog->height() - 3),
              onScreen(ColorHelper::vozodDarkerGray()));
}

TEST_F(ConnectionDialogLook, IsApplicationModalWithoutBlocking) {
    EXPECT_EQ(dialog->windowModality(), Qt::ApplicationModal);
    EXPECT_FALSE(dialog->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(dialog->windowFlags() & Qt::WindowMinimizeButtonHint);

    // show() returns at once, with the dialog up and the retry timer running on the loop.
    dialog->show();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(QApplication::activeModalWidget(), dialog.get());
    EXPECT_TRUE(dialog->isRetrying());

    dialog->dismiss();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_FALSE(dialog->isRetrying());
}

TEST_F(ConnectionDialogLook, FollowsTheLockWhileOpen) {
    dialog->show();
    NotificationCenter::defaultCenter().post("QuenbrilLocked", Dictionary{{"lockOn", true}});
    EXPECT_TRUE(dialog->isCovered());
    NotificationCenter::defaultCenter().post("QuenbrilLocked", Dictionary{{"lockOn", false}});
    EXPECT_FALSE(dialog->isCovered());
}

TEST_F(ConnectionDialogLook, FollowsTheLockOfTheCentreItIsMadeWith) {
    NotificationCenter center;
    PreferencesViewController own(UserSettingsManager::sharedInstance(), defaults(),
                                  ServerManager::sharedInstance(), center);
    own.setGraphicsCheck([] { return true; });
    own.viewDidLoad();
    center.post("QuenbrilLocked", Dictionary{{"lockOn", true}});
    EXPECT_TRUE(own.isCovered());
    NotificationCenter::defaultCenter().post("QuenbrilLocked", Dictionary{{"lockOn", false}});
    EXPECT_TRUE(own.isCovered()) << "the shared centre is not the dialog's";
    center.post("QuenbrilLocked", Dictionary{{"lockOn", false}});
    EXPECT_FALSE(own.isCovered());
}

}  // namespace
}  // namespace quenbril::test

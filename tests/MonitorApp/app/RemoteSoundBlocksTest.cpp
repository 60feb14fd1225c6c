// The remote, as the application is put together, while its sound library never returns (as
// libjack does on a store left locked by a client killed inside an open): the audio system and
// the MIDI system are guarded as the machine's are (GuardedAudioBackend, GuardedMidiBackend, on
// one worker for the library) over fakes whose every look and open waits at a gate that stays shut
// while the remote runs. The remote is made and started within a bounded time, shows and draws
// its window, its connection dialog says that the JACK library does not answer and why it may
// not, confirming it starts the client, and it goes away without hanging; only then is the gate
// opened, so that the held call returns and the process ends cleanly.

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <memory>

#include "MonitorApp/app/MainWindow.h"
#include "MonitorApp/app/RemoteComposition.h"
#include "MonitorApp/chat/ChatManager.h"
#include "MonitorApp/mainwindow/ViewController.h"
#include "MonitorApp/preferences/PreferencesViewController.h"
#include "MonitorApp/serverlink/ServerManager.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "foundation/BoundedWorker.h"
#include "platform/audio/GuardedAudioBackend.h"
#include "platform/jack/JackNotAnswering.h"
#include "platform/midi/GuardedMidiBackend.h"
#include "tests/MonitorApp/channelstrips/StripTestEnvironment.h"
#include "tests/MonitorApp/link/LinkTestSupport.h"
#include "tests/support/Eventually.h"
#include "tests/support/FakeSoundBackends.h"
#include "tests/support/Gate.h"
#include "tests/support/QtTestTime.h"
#include "tests/support/TestTime.h"

namespace quenbril::test {
namespace {

/// An audio system whose every look at its devices and every open waits at the gate.
class BlockingAudioBackend : public FakeAudioBackend {
  public:
    explicit BlockingAudioBackend(std::shared_ptr<Gate> gate) : gate_(std::move(gate)) {}
    std::vector<AudioBackendDevice> devices() override {
        gate_->pass();
        return FakeAudioBackend::devices();
    }
    std::optional<int> defaultInputDevice() override {
        gate_->pass();
        return FakeAudioBackend::defaultInputDevice();
    }
    std::optional<int> defaultOutputDevice() override {
        gate_->pass();
        return FakeAudioBackend::defaultOutputDevice();
    }
    std::unique_ptr<AudioStream> openStream(const AudioStreamParameters& parameters,
                                            AudioStreamClient& client,
                                            std::string& error) override {
        gate_->pass();
        return FakeAudioBackend::openStream(parameters, client, error);
    }
    bool refresh() override {
        gate_->pass();
        return FakeAudioBackend::refresh();
    }

  private:
    std::shared_ptr<Gate> gate_;
};

/// A JACK MIDI system whose every look at its ports and every open waits at the gate.
class BlockingMidiBackend : public MidiBackend {
  public:
    explicit BlockingMidiBackend(std::shared_ptr<Gate> gate) : gate_(std::move(gate)) {}
    Api api() const override { return Api::Jack; }
    std::optional<std::vector<MidiPortInfo>> listPorts() override {
        gate_->pass();
        return std::vector<MidiPortInfo>{};
    }
    bool openInput(const MidiPortInfo&, ByteCallback) override {
        gate_->pass();
        return false;
    }
    void closeInput(const MidiPortInfo&) override {}

  private:
    std::shared_ptr<Gate> gate_;
};

/// Each guarded call waits this long (0.3 s of a plain build) before the remote goes on.
double limit() { return scaledSeconds(0.3); }

/// JACK MIDI as makeSystemMidiBackend() makes it, over the library behind `gate`: guarded on
/// `worker`, with a first look at the ports on the caller's thread.
std::unique_ptr<MidiBackend> jackMidi(const std::shared_ptr<Gate>& gate,
                                      const std::shared_ptr<BoundedWorker>& worker) {
    auto midi = std::make_unique<GuardedMidiBackend>(MidiBackend::Api::Jack, worker, [gate] {
        return std::make_unique<BlockingMidiBackend>(gate);
    });
    (void)midi->listPorts();
    return midi;
}

class RemoteSoundBlocksTest : public StripTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(StripTest::SetUp());
        // The connection dialog's attempts go to a scripted browser and a port nobody serves.
        ServerManager::resetSharedInstance();
        ChatManager::resetSharedInstance();
        ServerManager::sharedInstance().setServiceBrowser(
            std::make_unique<FakeServiceBrowser>(std::make_shared<FakeServiceBrowser::Log>()));
        ServerManager::sharedInstance().setPort(unusedPort());
    }
    void TearDown() override {
        ServerManager::resetSharedInstance();
        ChatManager::resetSharedInstance();
        loop_->runPending();
        StripTest::TearDown();
    }
    // Whatever the test came to, no call stays held past it.
    ~RemoteSoundBlocksTest() override { gate->open(); }

    // The library: shut while the remote runs.
    std::shared_ptr<Gate> gate = std::make_shared<Gate>();
    // Every call into it goes through one worker, as sharedJackWorker() has the machine's do.
    std::shared_ptr<BoundedWorker> worker =
        std::make_shared<BoundedWorker>("JACK", kJackNotAnswering, limit());
    GuardedAudioBackend audio{
        worker, [gate = gate] { return std::make_unique<BlockingAudioBackend>(gate); }};
    // Installed as the shared audio backend and as the MIDI system the remote makes; it outlives
    // TearDown().
    FakeSoundBackends sound{audio,
                            [gate = gate, worker = worker] { return jackMidi(gate, worker); }};
};

TEST_F(RemoteSoundBlocksTest, TheRemoteStartsDrawsSaysTheJackLibraryDoesNotAnswerAndGoes) {
    // This platform has no OpenGL: the dialog's alert about old graphics is answered as the user
    // would, at once.
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [] {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(window);
            if (box && box->isVisible() && !box->buttons().isEmpty())
                box->buttons().front()->click();
        }
    });
    answer.start(10);

    // Made and started: one guarded wait (MIDI's first look), not one for ever; a remote that
    // waited on the library would never get here (the test's own time-out bounds it).
    auto composition = std::make_unique<RemoteComposition>();
    composition->start();
    EXPECT_EQ(gate->waiting(), 1) << "the library was asked, and has not answered";
    EXPECT_TRUE(worker->isStuck());

    // Its window is shown and drawn: the header's light grey.
    MainWindow& window = composition->mainWindow();
    ASSERT_TRUE(window.isVisible());
    ASSERT_TRUE(qWaitForWindowExposed(&window));
    QWidget* header = composition->viewController().headerView();
    ASSERT_NE(header, nullptr);
    EXPECT_TRUE(header->isVisible());
    const QImage picture = header->grab().toImage();
    ASSERT_FALSE(picture.isNull());
    const Color grey = ColorHelper::vozodLightGray();
    const QColor expected = QColor::fromRgbF(grey.red, grey.green, grey.blue);
    const QColor seen = picture.pixelColor(picture.width() - 3, 2);
    EXPECT_NEAR(seen.red(), expected.red(), 1);
    EXPECT_NEAR(seen.green(), expected.green(), 1);
    EXPECT_NEAR(seen.blue(), expected.blue(), 1);

    // The connection dialog, open at the first start, says why no output device is offered: the
    // device list was asked for off the main thread, and did not come. It names both likely
    // causes: a server that is stopped, and a store left locked.
    std::shared_ptr<PreferencesViewController> dialog =
        composition->viewController().prefViewController();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(
        loop_->runUntil([&] { return dialog->outputAbsence()->isVisible(); }, scaledSeconds(10.0)))
        << "the device list reached the dialog";
    const QString words = dialog->outputAbsence()->text();
    EXPECT_TRUE(words.startsWith("The JACK library does not answer: ")) << words.toStdString();
    EXPECT_TRUE(words.contains("the JACK server may be stopped")) << words.toStdString();
    EXPECT_TRUE(words.contains("left the library's store locked")) << words.toStdString();
    ASSERT_EQ(dialog->outputDevices()->count(), 1);
    EXPECT_EQ(dialog->outputDevices()->currentText(), "No audio output device");
    EXPECT_FALSE(dialog->outputDevices()->isEnabled());

    // Confirming starts the client, whose output is asked for on the main thread: it does not
    // wait on the audio system any more.
    dialog->confirmClicked();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_TRUE(window.isVisible());

    // Going away does not hang either.
    dialog.reset();
    composition.reset();
    answer.stop();

    // Only now does the library answer: the held call returns, and the worker with it.
    EXPECT_EQ(gate->waiting(), 1) << "one call held, the one that overran: no other queued";
    gate->open();
    EXPECT_TRUE(eventually([&] { return gate->waiting() == 0; }));
    EXPECT_TRUE(qWaitFor([&] { return !worker->isStuck(); }));
}

}  // namespace
}  // namespace quenbril::test

#include "MonitorApp/preferences/PreferencesViewController.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QEvent>
#include <QFormLayout>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QOpenGLContext>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>

#include "MonitorApp/link/ClientDefaultsKeys.h"
#include "MonitorApp/serverlink/ServerManager.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"

namespace quenbril {

namespace {

constexpr const char* kContinueAutomaticallyKey = "continueAutomatically";
constexpr const char* kQbIdentifierKey = "qbIdentifier";
constexpr const char* kPreviousShowFileKey = "PreviousShowFile";
constexpr const char* kInputDeviceUIDKey = "InputDeviceUID";
constexpr const char* kOutputDeviceUIDKey = "OutputDeviceUID";
constexpr const char* kNoOutputDevice = "No audio output device";

constexpr const char* kOldGraphicsAlert =
    "It seems that your computer GPU might be too old to run this version of Quenbril due to "
    "OpenGL graphics. In case of problems, please install an earlier version from the Quenbril "
    "web site.";

QString qt(const std::string& text) { return QString::fromStdString(text); }

/// A check box state as the defaults keep it: 1 on, 0 off.
int64_t stateOf(const QCheckBox* box) { return box->isChecked() ? 1 : 0; }

/// Equal device for device, the host's numbers included: the pop-up's items carry them.
bool sameDevices(const std::vector<AudioDevice>& a, const std::vector<AudioDevice>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const AudioDevice& x, const AudioDevice& y) {
                          return x.uid == y.uid && x.name == y.name && x.deviceID == y.deviceID;
                      });
}

bool openGLAvailable() {
    const QString platform = QGuiApplication::platformName();
    if (platform == "offscreen" || platform == "minimal") return false;
    QOpenGLContext context;
    return context.create();
}

}  // namespace

PreferencesViewController::PreferencesViewController(UserSettingsManager& settings,
                                                     UserDefaults& defaults, ServerManager& link,
                                                     NotificationCenter& center, QWidget* parent)
    : LockableViewController(center, settings, parent),
      settings_(settings),
      defaults_(defaults),
      link_(link) {
    // Neither a close nor a minimise button: the dialog goes away only by confirming. It is
    // application-modal, so the main window waits behind it while the event loop (and the
    // retry timer) keeps running.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setWindowModality(Qt::ApplicationModal);
    setWindowTitle("Quenbril Remote");
    graphicsCheck_ = openGLAvailable;
    buildForm();
    viewDidLoad();
}

PreferencesViewController::~PreferencesViewController() {
    // The fields finish their editing as the widgets go, after this object's own part is gone:
    // their signals must not reach it then. What they hold is stored now instead.
    for (QObject* field : {static_cast<QObject*>(qbIdentifier_), static_cast<QObject*>(manualIP_),
                           static_cast<QObject*>(useManualIP_)}) {
        field->disconnect(this);
    }
    if (qbIdentifier_->isModified()) storeServerIdentifier();
    if (manualIP_->isModified()) storeManualAddress();
}

void PreferencesViewController::discoveryUnavailable() { statusText_->setText(kNoDiscoveryText); }

void PreferencesViewController::buildForm() {
    auto* heading = new QLabel("Connect to a Quenbril server", this);
    QFont headingFont = heading->font();
    headingFont.setPointSizeF(headingFont.pointSizeF() * 1.4);
    headingFont.setBold(true);
    heading->setFont(headingFont);
    auto* hint = new QLabel(
        "The server is found by its identifier on the local network, or at the address "
        "given here.",
        this);
    hint->setWordWrap(true);

    qbIdentifier_ = new QLineEdit(this);
    qbIdentifier_->setPlaceholderText("quenbril");
    statusText_ = new QLabel("Waiting for the server", this);
    statusText_->setWordWrap(true);
    confirmButton_ = new QPushButton("Confirm", this);
    confirmButton_->setDefault(true);
    outputDevices_ = new QComboBox(this);
    // The audio system's own words, never markup.
    outputAbsence_ = new QLabel(this);
    outputAbsence_->setObjectName("outputAbsence");
    outputAbsence_->setTextFormat(Qt::PlainText);
    outputAbsence_->setWordWrap(true);
    outputAbsence_->hide();
    previousButton_ = new QPushButton("Previous show", this);
    previousButton_->setEnabled(false);
    clientID_ = new QComboBox(this);
    for (int i = 1; i <= 4; ++i) clientID_->addItem(QString("Client %1").arg(i));
    useManualIP_ = new QCheckBox("Manual address", this);
    manualIP_ = new QLineEdit(this);
    manualIP_->setPlaceholderText("192.168.1.10");
    manualIP_->setEnabled(false);
    continueAutomatically_ = new QCheckBox("Continue automatically when connected", this);

    auto* form = new QFormLayout;
    form->setHorizontalSpacing(16);
    form->setVerticalSpacing(10);
    form->addRow("Server identifier", qbIdentifier_);
    form->addRow(useManualIP_, manualIP_);
    form->addRow("Client", clientID_);
    auto* output = new QVBoxLayout;
    output->setSpacing(4);
    output->addWidget(outputDevices_);
    output->addWidget(outputAbsence_);
    form->addRow("Output device", output);
    form->addRow(continueAutomatically_);
    auto* rule = new QFrame(this);
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(statusText_, 1);
    buttons->addWidget(previousButton_);
    buttons->addWidget(confirmButton_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->setSpacing(12);
    layout->addWidget(heading);
    layout->addWidget(hint);
    layout->addLayout(form);
    layout->addStretch(1);
    layout->addWidget(rule);
    layout->addLayout(buttons);
    setMinimumWidth(480);

    connect(qbIdentifier_, &QLineEdit::editingFinished, this, [this] { serverChanged(); });
    connect(manualIP_, &QLineEdit::editingFinished, this, [this] { controlTextDidEndEditing(); });
    connect(useManualIP_, &QCheckBox::clicked, this, [this] { manualIPClicked(); });
    connect(confirmButton_, &QPushButton::clicked, this, [this] { confirmClicked(); });
    connect(previousButton_, &QPushButton::clicked, this, [this] { previousClicked(); });
    // Only the user's own choice, never the pop-up's rebuilding, is a pick.
    connect(outputDevices_, &QComboBox::activated, this, [this](int index) {
        if (index >= 0 && static_cast<size_t>(index) < outputDeviceList_.size()) {
            pickedOutputUID_ = outputDeviceList_[static_cast<size_t>(index)].uid;
        }
    });
}

// ---- Life cycle ----

void PreferencesViewController::viewDidLoad() {
    LockableViewController::viewDidLoad();
    closing_ = false;
}

void PreferencesViewController::show() {
    QWidget::show();
    viewDidAppear();
}

void PreferencesViewController::dismiss() {
    viewWillDisappear();
    hide();
    viewDidDisappear();
}

void PreferencesViewController::viewDidAppear() {
    // Asked first: the answer comes off the main thread, while the alert below may be open.
    lookForDevices();
    if (graphicsCheck_ && !graphicsCheck_()) {
        if (alertPresenter_) {
            alertPresenter_->runModal(this, kOldGraphicsAlert);
        } else {
            log(LogLevel::Warning, "%s", kOldGraphicsAlert);
        }
    }

    showDevices();

    qbIdentifier_->setText(qt(settings_.qbIdentifier()));
    if (!defaults_.objectForKey(ClientDefaultsKeys::kClientID).isNull()) {
        int64_t index = defaults_.integerForKey(ClientDefaultsKeys::kClientID);
        if (index >= 0 && index < clientID_->count()) {
            clientID_->setCurrentIndex(static_cast<int>(index));
        }
    }
    if (!defaults_.objectForKey(ClientDefaultsKeys::kUseManualIP).isNull()) {
        useManualIP_->setChecked(defaults_.integerForKey(ClientDefaultsKeys::kUseManualIP) == 1);
    }
    if (auto address = defaults_.stringForKey(ClientDefaultsKeys::kManualIP))
        manualIP_->setText(qt(*address));
    manualIP_->setEnabled(useManualIP_->isChecked());
    continueAutomatically_->setChecked(defaults_.integerForKey(kContinueAutomaticallyKey) == 1);
    if (auto identifier = defaults_.stringForKey(kQbIdentifierKey)) {
        qbIdentifier_->setText(qt(*identifier));
        settings_.setQbIdentifier(*identifier);
    }

    connTimer_ = RunLoop::main().scheduleTimer(kRetryInterval, true, [this] { tryToConnect(); });
    deviceTimer_ =
        RunLoop::main().scheduleTimer(kDeviceLookInterval, true, [this] { lookForDevices(); });
}

void PreferencesViewController::viewWillDisappear() {
    defaults_.setInteger(stateOf(continueAutomatically_), kContinueAutomaticallyKey);
    defaults_.synchronize();
    connTimer_.invalidate();
    deviceTimer_.invalidate();
    settings_.saveSettings();
}

void PreferencesViewController::closeEvent(QCloseEvent* event) { event->ignore(); }

// ---- Actions ----

void PreferencesViewController::tryToConnect() {
    // Retry only while there is no connection: in discovery mode a new attempt drops a working
    // link to try the next address, so retrying a live link would cut it every five seconds.
    if (!link_.isConnected()) link_.tryToConnect();
}

void PreferencesViewController::lookForDevices() {
    // One question at a time: a look that does not return must not pile more up behind it.
    if (!deviceLook_ || lookUnanswered_) return;
    lookUnanswered_ = true;
    deviceLook_();
}

void PreferencesViewController::connected() {
    if (continueAutomatically_->isChecked()) confirm();
}

void PreferencesViewController::confirmClicked() {
    defaults_.setInteger(clientID_->currentIndex(), ClientDefaultsKeys::kClientID);
    defaults_.setObject(Value(clientID_->currentText().toStdString()),
                        ClientDefaultsKeys::kClientName);
    defaults_.synchronize();
    closing_ = true;
    confirm();
}

void PreferencesViewController::confirm(const std::optional<std::string>& /*showFile*/) {
    // The delegate drops its reference to the dialog when the client starts; the dialog stays
    // alive until it has dismissed itself.
    auto keepAlive = weak_from_this().lock();
    if (auto uid = outputDeviceToConfirm()) {
        outDeviceUID_ = uid;
        defaults_.setObject(Value(*uid), kOutputDeviceUIDKey);
        defaults_.synchronize();
    }
    settings_.setActAsClient(true);
    if (delegate_) delegate_->startClient();
    dismiss();
}

void PreferencesViewController::previousClicked() {
    confirm(defaults_.stringForKey(kPreviousShowFileKey));
}

void PreferencesViewController::serverChanged() {
    if (!closing_) {
        settings_.setQbIdentifier(qbIdentifier_->text().toStdString());
        link_.tryToConnect();
    }
    storeServerIdentifier();
}

void PreferencesViewController::storeServerIdentifier() {
    defaults_.setObject(Value(qbIdentifier_->text().toStdString()), kQbIdentifierKey);
    defaults_.synchronize();
}

void PreferencesViewController::manualIPClicked() {
    defaults_.setInteger(stateOf(useManualIP_), ClientDefaultsKeys::kUseManualIP);
    manualIP_->setEnabled(useManualIP_->isChecked());
    link_.tryToConnect();
}

void PreferencesViewController::controlTextDidEndEditing() {
    storeManualAddress();
    link_.tryToConnect();
}

void PreferencesViewController::storeManualAddress() {
    const std::string text = manualIP_->text().toStdString();
    if (!text.empty()) defaults_.setObject(Value(text), ClientDefaultsKeys::kManualIP);
}

bool PreferencesViewController::defaultDevicesFound(const std::string& input,
                                                    const std::string& output) const {
    bool inputFound = false;
    for (const AudioDevice& device : inputDevices_) {
        QLOG("Input device %s", device.uid.c_str());
        if (device.uid == input) {
            inputFound = true;
            break;
        }
    }
    bool outputFound = false;
    for (const AudioDevice& device : outputDeviceList_) {
        QLOG("Output device %s", device.uid.c_str());
        if (device.uid == output) {
            outputFound = true;
            break;
        }
    }
    return inputFound && outputFound;
}

void PreferencesViewController::prepareForSegue(
    const std::string& identifier, const std::shared_ptr<SegueDestination>& destination) {
    if (identifier != "advancedSegue") return;
    if (auto window = std::dynamic_pointer_cast<AdvancedSettingsWindow>(destination)) {
        window->setDelegate(this);
    }
}

void PreferencesViewController::windowClosed() {
    const bool client = settings_.actAsClient();
    deviceChoicesOff_ = client;
    outputDevices_->setEnabled(!client);
    previousButton_->setEnabled(!client);
    confirmButton_->setText(client ? "Start client" : "Confirm");
}

void PreferencesViewController::setAudioDevices(std::vector<AudioDevice> inputs,
                                                std::vector<AudioDevice> outputs,
                                                std::string absence) {
    lookUnanswered_ = false;
    const bool inputsChanged = !sameDevices(inputs, inputDevices_);
    const bool outputsChanged = !sameDevices(outputs, outputDeviceList_);
    const bool wordsChanged = absence != audioAbsence_;
    // Before the list changes: the pop-up's index points into the list it was built from.
    const std::optional<std::string> shown = chosenOutputDeviceUID();
    inputDevices_ = std::move(inputs);
    outputDeviceList_ = std::move(outputs);
    audioAbsence_ = std::move(absence);
    // The lists are read off the main thread and arrive after the dialog appeared, every few
    // seconds while it is open: only what changed is shown again, so the pop-up the user may be
    // using is rebuilt only for a list that is not the one it shows.
    if (!isVisible()) return;
    if (inputsChanged || outputsChanged) offerPreviousShow();
    if (outputsChanged) showOutputDevices(shown);
    if (wordsChanged) showAbsence();
    if (outputsChanged || wordsChanged) growToFit();
}

void PreferencesViewController::showDevices() {
    offerPreviousShow();
    showOutputDevices(chosenOutputDeviceUID());
    showAbsence();
    growToFit();
}

void PreferencesViewController::offerPreviousShow() {
    auto previousFile = defaults_.stringForKey(kPreviousShowFileKey);
    auto inputUID = defaults_.stringForKey(kInputDeviceUIDKey);
    auto outputUID = defaults_.stringForKey(kOutputDeviceUIDKey);
    if (previousFile && inputUID && outputUID) {
        std::error_code error;
        if (std::filesystem::exists(*previousFile, error) &&
            defaultDevicesFound(*inputUID, *outputUID)) {
            inDeviceUID_ = inputUID;
            outDeviceUID_ = outputUID;
            if (!deviceChoicesOff_) previousButton_->setEnabled(true);
        }
    }
}

void PreferencesViewController::showOutputDevices(const std::optional<std::string>& shown) {
    const auto listed = [this](const std::optional<std::string>& uid) {
        return uid && std::any_of(outputDeviceList_.begin(), outputDeviceList_.end(),
                                  [&](const AudioDevice& device) { return device.uid == *uid; });
    };
    // The user's pick while it is there; else the device confirmed last time, chosen again while
    // it is there; else the one the pop-up showed, so that a device arriving ahead of it in the
    // list does not take its place.
    const std::optional<std::string> remembered = rememberedOutputDeviceUID();
    std::optional<std::string> chosen;
    for (const std::optional<std::string>& candidate : {pickedOutputUID_, remembered, shown}) {
        if (listed(candidate)) {
            chosen = candidate;
            break;
        }
    }
    outputDevices_->clear();
    for (const AudioDevice& device : outputDeviceList_) {
        outputDevices_->addItem(qt(device.name), device.deviceID);
        if (chosen && device.uid == *chosen) {
            outputDevices_->setCurrentIndex(outputDevices_->count() - 1);
        }
    }
    if (outputDeviceList_.empty()) outputDevices_->addItem(kNoOutputDevice, -1);
    outputDevices_->setEnabled(!outputDeviceList_.empty() && !deviceChoicesOff_);
}

void PreferencesViewController::showAbsence() {
    // Why a host gives no devices (no JACK server, or a JACK library that does not answer), so
    // that an empty or short list does not leave the user guessing.
    outputAbsence_->setText(qt(audioAbsence_));
    outputAbsence_->setVisible(!audioAbsence_.empty());
}

bool PreferencesViewController::event(QEvent* event) {
    const bool handled = LockableViewController::event(event);
    // Words that change once the window is on screen (the status) may wrap onto more lines.
    if (event->type() == QEvent::LayoutRequest) growToFit();
    return handled;
}

// On screen already (the device list and the status come after the dialog appears), the window
// grows to give new words their room instead of squeezing the form.
void PreferencesViewController::growToFit() {
    if (!isWindow() || !isVisible()) return;
    const QSize hint = sizeHint();
    const int needed =
        hasHeightForWidth() ? std::max(heightForWidth(width()), hint.height()) : hint.height();
    resize(size().expandedTo(QSize(hint.width(), needed)));
}

std::optional<std::string> PreferencesViewController::outputDeviceToConfirm() const {
    if (pickedOutputUID_) return pickedOutputUID_;
    // Picked before and away now (a JACK server not started yet, a card unplugged): it stays the
    // pick, and the output plays on another device only until it is back.
    std::optional<std::string> remembered = rememberedOutputDeviceUID();
    if (remembered && !remembered->empty()) return remembered;
    return chosenOutputDeviceUID();
}

std::optional<std::string> PreferencesViewController::rememberedOutputDeviceUID() const {
    return outDeviceUID_ ? outDeviceUID_ : defaults_.stringForKey(kOutputDeviceUIDKey);
}

std::optional<std::string> PreferencesViewController::chosenOutputDeviceUID() const {
    const int index = outputDevices_->currentIndex();
    if (index < 0 || static_cast<size_t>(index) >= outputDeviceList_.size()) return std::nullopt;
    return outputDeviceList_[static_cast<size_t>(index)].uid;
}

}  // namespace quenbril

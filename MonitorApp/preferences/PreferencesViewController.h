#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "MonitorApp/lockable/LockableViewController.h"
#include "MonitorApp/preferences/AdvancedSettingsDelegate.h"
#include "MonitorApp/seams/MainWindowSeams.h"
#include "foundation/Timer.h"
#include "platform/audio/AudioDevice.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace quenbril {

class ServerManager;
class UserDefaults;
class UserSettingsManager;

/// What the connection dialog tells the main window controller.
class PreferencesViewControllerDelegate {
  public:
    virtual ~PreferencesViewControllerDelegate() = default;
    /// The user confirmed: the remote role is set; start the client.
    virtual void startClient() {}
};

/// The start-up connection dialog: the server identifier for discovery or a manual server
/// address, the client id this station announces, the output device and "continue
/// automatically". While open it asks the server link to connect every 5 s and looks at the
/// machine's audio devices every 2 s; confirming selects the remote role and hands over to the
/// main window controller. It cannot be closed except by confirming.
///
/// Made and shown by the main window's "showPreferences" segue; show() brings it up
/// application-modal (the event loop keeps running) and runs viewDidAppear; dismiss() runs
/// viewWillDisappear and viewDidDisappear. Main thread only.
class PreferencesViewController : public LockableViewController,
                                  public virtual SegueDestination,
                                  public AdvancedSettingsDelegate,
                                  public std::enable_shared_from_this<PreferencesViewController> {
  public:
    /// Seconds between the dialog's connection attempts.
    static constexpr double kRetryInterval = 5.0;
    /// Seconds between the dialog's looks at the audio devices: a sound server started or a card
    /// plugged in while it is open shows without reopening it.
    static constexpr double kDeviceLookInterval = 2.0;

    /// `settings`: where the server identifier and the role go; `defaults`: where the dialog's
    /// choices are stored; `link`: the server link the dialog asks to connect; `center`: where
    /// the lock is told. All outlive the dialog.
    PreferencesViewController(UserSettingsManager& settings, UserDefaults& defaults,
                              ServerManager& link, NotificationCenter& center,
                              QWidget* parent = nullptr);
    ~PreferencesViewController() override;

    // ---- Life cycle ----
    void viewDidLoad() override;
    void viewDidAppear();
    void viewWillDisappear();
    /// Shows the dialog and runs viewDidAppear.
    void show() override;
    /// Runs viewWillDisappear, hides the dialog and runs viewDidDisappear.
    void dismiss();

    // ---- Actions ----
    /// The retry timer's action: the server link's tryToConnect.
    void tryToConnect();
    /// The device timer's action, also run as the dialog appears: asks the device look again,
    /// unless its last question is still unanswered (a JACK library may never answer).
    void lookForDevices();
    /// The link came up while the dialog is open: confirms by itself when "continue
    /// automatically" is on.
    void connected();
    /// The server cannot be found automatically on the network: the status says so and that an
    /// address can be entered.
    void discoveryUnavailable();
    static constexpr const char* kNoDiscoveryText =
        "The server cannot be found automatically on this network. Tick \"Manual address\" and "
        "enter the server's address.";
    void confirmClicked();
    /// Stores the chosen output device's UID under "OutputDeviceUID", selects the remote role,
    /// starts the client through the delegate and dismisses the dialog. `showFile` (the previous
    /// show file) is not used further.
    void confirm(const std::optional<std::string>& showFile = std::nullopt);
    void previousClicked();
    /// The server identifier field was edited.
    void serverChanged();
    /// The manual-address check box was clicked.
    void manualIPClicked();
    /// The manual-address field finished editing.
    void controlTextDidEndEditing();
    /// True when an input device has UID `input` and an output device UID `output`.
    bool defaultDevicesFound(const std::string& input, const std::string& output) const;
    /// The advanced settings window ("advancedSegue") reports its closing to this dialog.
    void prepareForSegue(const std::string& identifier,
                         const std::shared_ptr<SegueDestination>& destination);
    /// The advanced settings closed: in the remote role the output device and the previous
    /// show are off and the confirm button reads "Start client"; otherwise both are on and it
    /// reads "Confirm".
    void windowClosed() override;

    // ---- Properties ----
    PreferencesViewControllerDelegate* delegate() const { return delegate_; }
    void setDelegate(PreferencesViewControllerDelegate* delegate) { delegate_ = delegate; }
    const std::optional<std::string>& inDeviceUID() const { return inDeviceUID_; }
    void setInDeviceUID(std::optional<std::string> uid) { inDeviceUID_ = std::move(uid); }
    const std::optional<std::string>& outDeviceUID() const { return outDeviceUID_; }
    void setOutDeviceUID(std::optional<std::string> uid) { outDeviceUID_ = std::move(uid); }
    bool closing() const { return closing_; }
    bool isRetrying() const { return connTimer_.isValid(); }

    // ---- Outlets ----
    QLineEdit* qbIdentifier() const { return qbIdentifier_; }
    QLabel* statusText() const { return statusText_; }
    QPushButton* confirmButton() const { return confirmButton_; }
    QComboBox* outputDevices() const { return outputDevices_; }
    /// Under the output pop-up: why a sound host gives no devices now, in plain text; hidden
    /// while every host answers.
    QLabel* outputAbsence() const { return outputAbsence_; }
    QPushButton* previousButton() const { return previousButton_; }
    QComboBox* clientID() const { return clientID_; }
    QCheckBox* useManualIP() const { return useManualIP_; }
    QLineEdit* manualIP() const { return manualIP_; }
    QCheckBox* continueAutomatically() const { return continueAutomatically_; }

    // ---- Seams (the device lists and the graphics check come with the application) ----
    /// The devices to offer, and `absence`: the audio system's words on a host that gives no
    /// devices now (AudioBackend::absence(), such as "No JACK server is running"), empty while
    /// every host answers. The pop-up and the words under it follow when the dialog is on screen.
    /// An empty output list shows "No audio output device".
    /// A list the dialog holds already is not shown again, and the device the user picked (else
    /// the one confirmed last time, else the one shown) stays chosen while it is listed.
    void setAudioDevices(std::vector<AudioDevice> inputs, std::vector<AudioDevice> outputs,
                         std::string absence = {});
    /// Asks for the devices off the main thread and hands them to setAudioDevices later; none
    /// by default, and then the dialog keeps the devices it was given.
    void setDeviceLook(std::function<void()> look) { deviceLook_ = std::move(look); }
    /// The UID of the device the pop-up shows, if it shows one.
    std::optional<std::string> chosenOutputDeviceUID() const;
    /// The output device confirming keeps: the one the user chose in the pop-up, else the one
    /// picked before, listed or not, else the one the pop-up shows.
    std::optional<std::string> outputDeviceToConfirm() const;
    /// The output device confirmed before: this dialog's, else the stored one.
    std::optional<std::string> rememberedOutputDeviceUID() const;
    /// Answers whether the graphics the level display needs are there; by default whether an
    /// OpenGL context can be made on this platform.
    void setGraphicsCheck(std::function<bool()> check) { graphicsCheck_ = std::move(check); }
    void setAlertPresenter(AlertPresenter* presenter) { alertPresenter_ = presenter; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    /// Grows the window when its contents need more height than it has.
    bool event(QEvent* event) override;
    void growToFit();

  private:
    void buildForm();
    void showDevices();
    /// Enables "Previous show" when its file and the devices stored with it are there.
    void offerPreviousShow();
    /// Fills the output pop-up, choosing as setAudioDevices says; `shown` is the UID it showed.
    void showOutputDevices(const std::optional<std::string>& shown);
    void showAbsence();
    // The identifier and the manual address the fields hold, into the defaults.
    void storeServerIdentifier();
    void storeManualAddress();

    UserSettingsManager& settings_;
    UserDefaults& defaults_;
    ServerManager& link_;
    bool closing_ = false;
    Timer connTimer_;
    Timer deviceTimer_;
    std::function<void()> deviceLook_;
    bool lookUnanswered_ = false;
    PreferencesViewControllerDelegate* delegate_ = nullptr;
    std::optional<std::string> inDeviceUID_;
    std::optional<std::string> outDeviceUID_;

    QLineEdit* qbIdentifier_ = nullptr;
    QLabel* statusText_ = nullptr;
    QPushButton* confirmButton_ = nullptr;
    QComboBox* outputDevices_ = nullptr;
    QLabel* outputAbsence_ = nullptr;
    QPushButton* previousButton_ = nullptr;
    QComboBox* clientID_ = nullptr;
    QCheckBox* useManualIP_ = nullptr;
    QLineEdit* manualIP_ = nullptr;
    QCheckBox* continueAutomatically_ = nullptr;

    std::vector<AudioDevice> inputDevices_;
    std::vector<AudioDevice> outputDeviceList_;
    std::string audioAbsence_;
    /// The output device the user chose in the pop-up, by UID.
    std::optional<std::string> pickedOutputUID_;
    /// The advanced settings left the remote role: the output device and the previous show are
    /// off, whatever the lists bring.
    bool deviceChoicesOff_ = false;
    std::function<bool()> graphicsCheck_;
    AlertPresenter* alertPresenter_ = nullptr;
};

}  // namespace quenbril

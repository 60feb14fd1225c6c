#pragma once

#include <array>

#include "MonitorApp/chat/ui/ChatServices.h"
#include "MonitorApp/lockable/LockableViewController.h"
#include "MonitorApp/preferences/PreferencesPane.h"
#include "MonitorApp/seams/MainWindowSeams.h"
#include "foundation/NotificationCenter.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace quenbril {

class LinkSender;
class SettingsTabViewController;

/// The chat tab of the preferences window: the chat name, the texts of the seven quick
/// messages, a learnt MIDI event per quick message and one that closes the page notifier, the
/// chat's font and button sizes, header flashing, the notifier's time-out and the chat window's
/// four display switches. A learnt event is stored at once; everything else when the pane saves
/// (apply, save and close, going out of sight). Every save tells the program and registers the
/// user to the chat on the server.
///
/// The preferences window calls viewDidAppear and viewWillDisappear as the pane comes into
/// sight and goes out of it; MIDI events are learnt only in between. Main thread only.
class ChatSettingsViewController : public LockableViewController, public PreferencesPane {
  public:
    /// Characters (code points) of the chat name and of a quick-message text.
    static constexpr int kMaxNameLength = 12;
    static constexpr int kMaxTextLength = 24;
    /// Quick messages 1 to 7; the learnt event of this slot closes the page notifier.
    static constexpr int kQuickMessageCount = 7;
    static constexpr int kNotifierSlot = 20;

    static constexpr const char* kLearnTitle = "MIDI Learn";
    static constexpr const char* kLearningTitle = "Learning...";
    static constexpr const char* kClearTitle = "MIDI Clear";

    /// `services`: the chat settings and texts the pane shows and stores, and where it tells
    /// that they changed.
    explicit ChatSettingsViewController(const ChatServices& services, QWidget* parent = nullptr);
    ~ChatSettingsViewController() override;

    void viewDidLoad() override;
    /// Shows the settings and starts listening for MIDI events to learn.
    void viewDidAppear() override;
    /// Saves and stops listening.
    void viewWillDisappear() override;
    LockableViewController& paneView() override { return *this; }

    /// The four display switches and the notifier's flashing and time-out.
    void loadSettings();
    /// Stores every control, posts "ChatMessagesChanged", sends "RegisterToChat", stores the
    /// display switches and posts "SettingsChanged". An empty or blank name is refused (the
    /// pane says so and shows the stored one again); a time-out that is not a number keeps
    /// the stored one; a store that cannot be written is reported.
    void saveSettings();
    void applyClicked() { saveSettings(); }
    /// Saves, then closes the preferences window.
    void saveAndClose();
    /// The action of every learn button: starts a learn, cancels it, or forgets the learnt
    /// event.
    void midiLearn(QPushButton* sender);
    /// Observer of "MIDIEventReceived": the pending learn takes the event.
    void MIDIEventReceived(const Notification& notification);
    /// A field's text changed: cut to the field's length.
    void controlTextDidChange(QLineEdit* field);

    void setTabDelegate(SettingsTabViewController* delegate) override { tabDelegate_ = delegate; }
    void setAlertPresenter(AlertPresenter* presenter) override { alertPresenter_ = presenter; }
    /// Where "RegisterToChat" goes (the server link); none drops it. Not owned.
    void setLinkSender(LinkSender* sender) { linkSender_ = sender; }

    /// The text field and learn button of quick message `slot` (1 to 7); the learn button of
    /// slot 20 closes the page notifier (it has no text field).
    QLineEdit* textField(int slot) const;
    QPushButton* learnButton(int slot) const;
    /// The slot whose event is being learnt; -1 for none.
    int learningMacro() const { return learningMacro_; }
    QLineEdit* chatUsername() const { return chatUsername_; }
    QComboBox* fontSize() const { return fontSize_; }
    QComboBox* buttonSize() const { return buttonSize_; }
    QCheckBox* chatFlash() const { return chatFlash_; }
    QLineEdit* flashTimeout() const { return flashTimeout_; }
    QCheckBox* userMes() const { return userMes_; }
    QCheckBox* snaps() const { return snaps_; }
    QCheckBox* alerts() const { return alerts_; }
    QCheckBox* onTop() const { return onTop_; }
    SettingsTabViewController* tabDelegate() const { return tabDelegate_; }

  private:
    struct Slot {
        int number = 0;
        QLineEdit* text = nullptr;
        QPushButton* learn = nullptr;
    };

    void buildForm();
    const Slot* slotOf(const QPushButton* button) const;
    /// The name to store: the field's, or the stored one when the field is blank (the pane
    /// then says so).
    std::string nameToSave();

    ChatServices services_;
    /// Slots 1 to 7, then the notifier's.
    std::array<Slot, kQuickMessageCount + 1> slots_{};
    QLineEdit* chatUsername_ = nullptr;
    QComboBox* fontSize_ = nullptr;
    QComboBox* buttonSize_ = nullptr;
    QCheckBox* chatFlash_ = nullptr;
    QLineEdit* flashTimeout_ = nullptr;
    QCheckBox* userMes_ = nullptr;
    QCheckBox* snaps_ = nullptr;
    QCheckBox* alerts_ = nullptr;
    QCheckBox* onTop_ = nullptr;

    int learningMacro_ = -1;
    QPushButton* learningButton_ = nullptr;
    NotificationObserver midiObserver_;
    SettingsTabViewController* tabDelegate_ = nullptr;
    AlertPresenter* alertPresenter_ = nullptr;
    LinkSender* linkSender_ = nullptr;
};

}  // namespace quenbril

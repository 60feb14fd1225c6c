#pragma once

#include "MonitorApp/lockable/LockableViewController.h"
#include "foundation/NotificationCenter.h"

class QLineEdit;
class QPushButton;
class QTableWidget;

namespace quenbril {

class AlertPresenter;
class ChatMacroManager;

/// The MIDI macro editor: a text field and a learn button that records the next MIDI event as a
/// macro sending that text, the table of macros ("Message", "Midi") whose messages can be edited
/// in place, and a button removing the selected macros. The list is saved when the editor goes
/// out of sight, which also cancels a pending learn. Main thread only.
class ChatMacroViewController : public LockableViewController {
  public:
    static constexpr const char* kLearnTitle = "Learn MIDI";
    static constexpr const char* kLearningTitle = "Learning...";
    /// Learn without any MIDI input: nothing could ever be learnt.
    static constexpr const char* kNoMidiInputAlert =
        "No MIDI input is available: connect a MIDI controller to learn its keys.";
    static constexpr const char* kEmptyTextAlert = "Please fill in the message field first!";

    /// `macros`: the list the editor shows and changes; `center`: where a learnt macro is told
    /// (and the lock); `settings`: whether the interface is locked.
    ChatMacroViewController(ChatMacroManager& macros, NotificationCenter& center,
                            const UserSettingsManager& settings, QWidget* parent = nullptr);
    ~ChatMacroViewController() override;

    void setAlertPresenter(AlertPresenter* alerts) { alerts_ = alerts; }

    void viewDidLoad() override;
    void viewWillAppear();
    void viewWillDisappear();

    void learnClicked();
    void removeClicked();
    void closeClicked();
    void chatMacroAdded();
    /// A table cell's edit ended with `text`: it becomes the message of the selected row.
    void textFieldCellDidChange(const std::string& text);
    /// Fills the table from the macro list.
    void reloadData();

    QPushButton* learnButton() const { return learnButton_; }
    QLineEdit* textField() const { return textField_; }
    QPushButton* removeButton() const { return removeButton_; }
    QTableWidget* tableView() const { return tableView_; }

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    ChatMacroManager& macros_;
    NotificationCenter& center_;
    QPushButton* learnButton_ = nullptr;
    QLineEdit* textField_ = nullptr;
    QPushButton* removeButton_ = nullptr;
    QTableWidget* tableView_ = nullptr;
    AlertPresenter* alerts_ = nullptr;
    bool reloading_ = false;
    bool appeared_ = false;
    NotificationObserver macroAdded_;
};

}  // namespace quenbril

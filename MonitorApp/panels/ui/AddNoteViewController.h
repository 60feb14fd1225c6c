#pragma once

#include <QColor>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "MonitorApp/lockable/LockableViewController.h"
#include "MonitorApp/panels/ui/PanelServices.h"
#include "MonitorApp/seams/MainWindowSeams.h"
#include "MonitorApp/settings/SMPTETimecode.h"
#include "foundation/NotificationCenter.h"

class QAbstractButton;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace quenbril {

class LinkSender;

/// The sheet in which the user writes a note for the strip last long-clicked in notebook mode
/// (the notebook manager's `latestCsID`). It stamps the note with the wall-clock time and the
/// timecode of the moment it appeared, and sends the text of the chosen field to the server as
/// "RemoteAddedNote"; the server's next list brings the note back. While the server cannot be
/// told, the sheet stays open with its text and says the note was not sent.
///
/// Its text fields are told apart by tag: 501 is the free-text field, 0 to 99 the macro
/// fields, whose texts are stored under "NotebookMacro <tag>" and restored exactly for those
/// tags; each submit button sends the field of its own tag. Main thread only.
class AddNoteViewController : public LockableViewController, public virtual SegueDestination {
  public:
    static constexpr const char* kFrameName = "AddNotebookVCAutosaveRemote";
    static constexpr const char* kLockedKey = "Notebook locked";
    static constexpr int kNoteFieldTag = 501;
    static constexpr int kMacroCount = 8;
    static constexpr int kTitleFieldTag = -1;
    static constexpr int kLowerFieldTag = -2;

    explicit AddNoteViewController(const PanelServices& services, QWidget* parent = nullptr);
    ~AddNoteViewController() override;

    /// "NotebookMacro <tag>".
    static std::string macroKey(long tag);
    /// Whether a field's text is stored and restored: tags 0 to 99.
    static bool isMacroTag(long tag) { return tag >= 0 && tag <= 99; }

    // ---- Life cycle ----
    /// Restores the macros and the lock, and heads the sheet with the strip's title.
    void viewDidLoad() override;
    /// Restores the frame and takes the opening time and timecode.
    void viewDidAppear() override;
    /// Saves the frame, the macros and the lock state; the headings are reset.
    void viewDidDisappear() override;
    /// Shows the sheet (loading its view the first time).
    void show() override;

    // ---- Actions ----
    /// Sends the text of the field whose tag is `tag` and closes the sheet. A tag no field has
    /// sends nothing and leaves the sheet open; so does a server that cannot be told, and the
    /// sheet says so.
    void addNoteClicked(int tag);
    /// Applies the lock check button to the macro fields.
    void lockedClicked();
    /// Closes the sheet without sending.
    void cancelClicked();
    /// Gives the button `text` in `color`, centred.
    static void setButtonTitleFor(QAbstractButton& button, const std::string& text,
                                  const QColor& color);

    // ---- State ----
    std::optional<double> openingTime() const { return openingTime_; }
    SMPTETimecode openingLTC() const { return openingLTC_; }

    // ---- Seams and outlets ----
    void setLinkSender(LinkSender* sender) { link_ = sender; }
    /// Tells of macros that could not be stored.
    void setAlertPresenter(AlertPresenter* presenter) { alerts_ = presenter; }
    QCheckBox* lockedButton() const { return lockedButton_; }
    QLineEdit* titleField() const { return titleField_; }
    QLineEdit* lowerField() const { return lowerField_; }
    /// The first text field with that tag, or null.
    QLineEdit* field(int tag) const;
    /// The first submit button with that tag, or null.
    QPushButton* submitButton(int tag) const;
    QPushButton* cancelButton() const { return cancelButton_; }
    /// "Not sent: ..." after an Add that could not be sent; hidden otherwise.
    QLabel* sendStatus() const { return sendStatus_; }
    /// Every text field with its tag, in the order of the sheet's subviews.
    const std::vector<std::pair<int, QLineEdit*>>& fields() const { return fields_; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    PanelServices services_;
    void buildView();
    QLineEdit* addField(int tag);
    QPushButton* addSubmit(int tag, const QString& title);
    void applyLock(bool locked);

    QCheckBox* lockedButton_ = nullptr;
    QLineEdit* titleField_ = nullptr;
    QLineEdit* lowerField_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QLabel* sendStatus_ = nullptr;
    std::vector<std::pair<int, QLineEdit*>> fields_;
    std::vector<std::pair<int, QPushButton*>> submits_;

    bool viewLoaded_ = false;
    bool appeared_ = false;
    std::optional<double> openingTime_;
    SMPTETimecode openingLTC_;
    LinkSender* link_ = nullptr;
    AlertPresenter* alerts_ = nullptr;
    NotificationObserver notesArrived_;
};

}  // namespace quenbril

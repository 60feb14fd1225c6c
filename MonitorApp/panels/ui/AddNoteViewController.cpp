#include "MonitorApp/panels/ui/AddNoteViewController.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>

#include "MonitorApp/channelstrips/ChannelStripController.h"
#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/channelstrips/ChannelStripView.h"
#include "MonitorApp/controls/WindowFrameAutosave.h"
#include "MonitorApp/link/LinkMessageBuilder.h"
#include "MonitorApp/link/LinkSender.h"
#include "MonitorApp/panels/NotebookManager.h"
#include "MonitorApp/panels/ui/TimecodeStrip.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"

namespace quenbril {

namespace {

constexpr const char* kTitle = "NOTE TO BE ADDED";
constexpr const char* kLowerTitle = "CUSTOM MACROS";

void makeHeading(QLineEdit& field) {
    field.setReadOnly(true);
    field.setFrame(false);
    field.setFocusPolicy(Qt::NoFocus);
    field.setAlignment(Qt::AlignCenter);
    QFont font = field.font();
    font.setBold(true);
    field.setFont(font);
    QPalette palette = field.palette();
    palette.setColor(QPalette::Base, Qt::transparent);
    palette.setColor(QPalette::Text, Qt::white);
    field.setPalette(palette);
}

}  // namespace

AddNoteViewController::AddNoteViewController(const PanelServices& services, QWidget* parent)
    : LockableViewController(services.center, services.settings, parent), services_(services) {
    setWindowTitle("Add note");
    // A sheet on the main window: it keeps the main window's input until it is dismissed.
    setWindowFlags(Qt::Sheet);
    setWindowModality(parent ? Qt::WindowModal : Qt::NonModal);
    buildView();
}

AddNoteViewController::~AddNoteViewController() = default;

std::string AddNoteViewController::macroKey(long tag) {
    return "NotebookMacro " + std::to_string(tag);
}

QLineEdit* AddNoteViewController::addField(int tag) {
    auto* field = new QLineEdit(this);
    fields_.emplace_back(tag, field);
    return field;
}

QPushButton* AddNoteViewController::addSubmit(int tag, const QString& title) {
    auto* button = new QPushButton(title, this);
    submits_.emplace_back(tag, button);
    connect(button, &QPushButton::clicked, this, [this, tag] { addNoteClicked(tag); });
    return button;
}

void AddNoteViewController::buildView() {
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(20, 20, 20, 20);
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(8);

    titleField_ = addField(kTitleFieldTag);
    titleField_->setText(kTitle);
    makeHeading(*titleField_);
    grid->addWidget(titleField_, 0, 0, 1, 2);

    QLineEdit* note = addField(kNoteFieldTag);
    note->setPlaceholderText("Note");
    grid->addWidget(note, 1, 0);
    grid->addWidget(addSubmit(kNoteFieldTag, "Add"), 1, 1);

    lowerField_ = addField(kLowerFieldTag);
    lowerField_->setText(kLowerTitle);
    makeHeading(*lowerField_);
    grid->addWidget(lowerField_, 2, 0, 1, 2);

    for (int tag = 0; tag < kMacroCount; ++tag) {
        QLineEdit* macro = addField(tag);
        macro->setPlaceholderText(QString("Macro %1").arg(tag + 1));
        grid->addWidget(macro, 3 + tag, 0);
        grid->addWidget(addSubmit(tag, "Add"), 3 + tag, 1);
    }

    lockedButton_ = new QCheckBox(this);
    setButtonTitleFor(*lockedButton_, "Lock macros", Qt::white);
    connect(lockedButton_, &QCheckBox::clicked, this, [this] { lockedClicked(); });
    cancelButton_ = new QPushButton("Cancel", this);
    // Escape dismisses the sheet, as it does a dialog.
    cancelButton_->setShortcut(QKeySequence(Qt::Key_Escape));
    connect(cancelButton_, &QPushButton::clicked, this, [this] { cancelClicked(); });
    grid->addWidget(lockedButton_, 3 + kMacroCount, 0);
    grid->addWidget(cancelButton_, 3 + kMacroCount, 1);
    sendStatus_ = new QLabel("Not sent: not connected to the server.", this);
    sendStatus_->setObjectName("sendStatus");
    // A warning's yellow, which reads well on the sheet's dark pattern.
    sendStatus_->setStyleSheet("color: #FFE664");
    sendStatus_->hide();
    grid->addWidget(sendStatus_, 4 + kMacroCount, 0, 1, 2);
    resize(480, 420);
}

QLineEdit* AddNoteViewController::field(int tag) const {
    for (const auto& [fieldTag, f] : fields_) {
        if (fieldTag == tag) return f;
    }
    return nullptr;
}

QPushButton* AddNoteViewController::submitButton(int tag) const {
    for (const auto& [buttonTag, b] : submits_) {
        if (buttonTag == tag) return b;
    }
    return nullptr;
}

void AddNoteViewController::setButtonTitleFor(QAbstractButton& button, const std::string& text,
                                              const QColor& color) {
    button.setText(QString::fromStdString(text));
    QPalette palette = button.palette();
    palette.setColor(QPalette::ButtonText, color);
    palette.setColor(QPalette::WindowText, color);
    button.setPalette(palette);
}

void AddNoteViewController::applyLock(bool locked) {
    for (const auto& [tag, f] : fields_) {
        // The free-text field stays editable; the headings are never.
        if (tag == kNoteFieldTag || f == titleField_ || f == lowerField_) continue;
        f->setReadOnly(locked);
    }
}

// ---- Life cycle ----

void AddNoteViewController::viewDidLoad() {
    LockableViewController::viewDidLoad();
    viewLoaded_ = true;
    UserDefaults& defaults = services_.defaults;
    for (const auto& [tag, f] : fields_) {
        if (!isMacroTag(tag)) continue;
        if (auto text = defaults.stringForKey(macroKey(tag)))
            f->setText(QString::fromStdString(*text));
    }
    lockedButton_->setChecked(defaults.boolForKey(kLockedKey));
    applyLock(lockedButton_->isChecked());
    const int64_t csID = services_.notebook.latestCsID();
    if (const ChannelStripController* strip = services_.strips.controllerWithCSID(csID)) {
        if (strip->view()) {
            titleField_->setText(
                QString::fromStdString(std::string(kTitle) + " FOR " + strip->view()->getTitle()));
        }
    }
    if (QLineEdit* note = field(kNoteFieldTag)) note->setFocus();
}

void AddNoteViewController::viewDidAppear() {
    WindowFrameAutosave::restore(*this, kFrameName);
    openingTime_ = RunLoop::main().now();
    if (auto timecode = timecodeStripTimecode(services_.strips, services_.timecode))
        openingLTC_ = *timecode;
    // The server's notes coming again means it is back: Add can be tried again.
    notesArrived_ =
        services_.center.addObserver(NotebookManager::kNoteAddedNotification,
                                     [this](const Notification&) { sendStatus_->hide(); });
    appeared_ = true;
}

void AddNoteViewController::viewDidDisappear() {
    if (appeared_) {
        WindowFrameAutosave::save(*this, kFrameName);
        UserDefaults& defaults = services_.defaults;
        bool stored = true;
        for (const auto& [tag, f] : fields_) {
            if (isMacroTag(tag))
                stored =
                    defaults.setObject(Value(f->text().toStdString()), macroKey(tag)) && stored;
        }
        stored = defaults.setBool(lockedButton_->isChecked(), kLockedKey) && stored;
        stored = defaults.synchronize() && stored;
        if (!stored) {
            log(LogLevel::Error, "The note macros could not be stored");
            if (alerts_) {
                Alert alert;
                alert.messageText = "The note macros could not be stored.";
                alert.informativeText = "The settings file could not be written.";
                alerts_->runModal(this, alert);
            }
        }
        titleField_->setText(kTitle);
        lowerField_->setText(kLowerTitle);
    }
    notesArrived_.reset();
    sendStatus_->hide();
    appeared_ = false;
    LockableViewController::viewDidDisappear();
}

void AddNoteViewController::show() { presentWindow(); }

void AddNoteViewController::closeEvent(QCloseEvent* event) {
    event->accept();
    if (appeared_) viewDidDisappear();
}

void AddNoteViewController::paintEvent(QPaintEvent* event) {
    static const QPixmap pattern(":/images/tausta_100.png");
    if (pattern.isNull()) {
        LockableViewController::paintEvent(event);
        return;
    }
    QPainter painter(this);
    painter.drawTiledPixmap(rect(), pattern);
}

// ---- Actions ----

void AddNoteViewController::addNoteClicked(int tag) {
    if (!field(tag)) return;
    // A note the server cannot be told stays in its field, the sheet open: nothing typed is
    // lost, and Add sends it once the server is back.
    if (link_ && !link_->maySend()) {
        sendStatus_->show();
        return;
    }
    for (const auto& [fieldTag, f] : fields_) {
        if (fieldTag != tag) continue;
        const SMPTETimecode ltc = openingLTC_;
        const Dictionary message = LinkMessageBuilder::remoteAddedNote(
            f->text().toStdString(), services_.notebook.latestCsID(),
            services_.settings.chatUsername(), {ltc.hours, ltc.mins, ltc.secs, ltc.frame},
            openingTime_.value_or(RunLoop::main().now()));
        if (link_) {
            link_->sendDictionary(message);
        } else {
            log(LogLevel::Warning, "No server link: note dropped");
        }
    }
    close();
}

void AddNoteViewController::lockedClicked() { applyLock(lockedButton_->isChecked()); }

void AddNoteViewController::cancelClicked() { close(); }

}  // namespace quenbril

#include "MonitorApp/chat/ui/ChatMacroViewController.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <set>

#include "MonitorApp/chat/ChatMacroManager.h"
#include "MonitorApp/seams/MainWindowSeams.h"
#include "platform/midi/MidiDeviceManager.h"

namespace quenbril {

namespace {

enum Column { kMessageColumn = 0, kMidiColumn = 1 };

int32_t field(const Dictionary& macro, const char* key) {
    return macro[key].intValue().value_or(0);
}

}  // namespace

ChatMacroViewController::ChatMacroViewController(ChatMacroManager& macros,
                                                 NotificationCenter& center,
                                                 const UserSettingsManager& settings,
                                                 QWidget* parent)
    : LockableViewController(center, settings, parent), macros_(macros), center_(center) {
    setWindowTitle("MIDI Macros");
    textField_ = new QLineEdit(this);
    learnButton_ = new QPushButton(kLearnTitle, this);
    removeButton_ = new QPushButton("Remove", this);
    auto* close = new QPushButton("Close", this);
    tableView_ = new QTableWidget(0, 2, this);
    tableView_->setHorizontalHeaderLabels({"Message", "Midi"});
    tableView_->horizontalHeader()->setStretchLastSection(true);
    tableView_->setSelectionBehavior(QAbstractItemView::SelectRows);
    tableView_->setSelectionMode(QAbstractItemView::ExtendedSelection);

    auto* top = new QHBoxLayout;
    top->addWidget(textField_, 1);
    top->addWidget(learnButton_);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(removeButton_);
    bottom->addStretch(1);
    bottom->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(tableView_, 1);
    layout->addLayout(bottom);
    resize(480, 320);

    connect(learnButton_, &QPushButton::clicked, this, [this] { learnClicked(); });
    connect(removeButton_, &QPushButton::clicked, this, [this] { removeClicked(); });
    connect(close, &QPushButton::clicked, this, [this] { closeClicked(); });
    connect(tableView_, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
        if (!reloading_) textFieldCellDidChange(item->text().toStdString());
    });
    viewDidLoad();
}

ChatMacroViewController::~ChatMacroViewController() = default;

void ChatMacroViewController::viewDidLoad() {
    LockableViewController::viewDidLoad();
    reloadData();
}

void ChatMacroViewController::viewWillAppear() {
    macroAdded_ = center_.addObserver(ChatMacroManager::kChatMacroAddedNotification,
                                      [this](const Notification&) { chatMacroAdded(); });
    reloadData();
}

void ChatMacroViewController::viewWillDisappear() {
    learnButton_->setText(kLearnTitle);
    macros_.cancelLearn();
    textField_->setEnabled(true);
    macros_.saveValues();
    macroAdded_.reset();
}

void ChatMacroViewController::showEvent(QShowEvent* event) {
    LockableViewController::showEvent(event);
    if (!appeared_) {
        appeared_ = true;
        viewWillAppear();
    }
}

void ChatMacroViewController::hideEvent(QHideEvent* event) {
    if (appeared_) {
        appeared_ = false;
        viewWillDisappear();
    }
    LockableViewController::hideEvent(event);
}

void ChatMacroViewController::learnClicked() {
    if (macros_.learning()) {
        learnButton_->setText(kLearnTitle);
        macros_.cancelLearn();
        textField_->setEnabled(true);
        return;
    }
    if (textField_->text().isEmpty()) {
        if (alerts_) alerts_->runModal(this, kEmptyTextAlert);
        return;
    }
    if (!MidiDeviceManager::sharedDeviceManager().hasInput()) {
        if (alerts_) alerts_->runModal(this, kNoMidiInputAlert);
        return;
    }
    learnButton_->setText(kLearningTitle);
    textField_->setEnabled(false);
    macros_.learn(textField_->text().toStdString());
}

void ChatMacroViewController::chatMacroAdded() {
    learnButton_->setText(kLearnTitle);
    textField_->clear();
    textField_->setEnabled(true);
    reloadData();
}

void ChatMacroViewController::textFieldCellDidChange(const std::string& text) {
    std::vector<Dictionary>& macros = macros_.macros();
    const QModelIndexList selected = tableView_->selectionModel()->selectedRows();
    const int row = selected.isEmpty() ? -1 : selected.front().row();
    if (row >= 0 && row < static_cast<int>(macros.size())) {
        macros[static_cast<size_t>(row)].set("message", text);
    }
    // Also puts back a cell edited outside the selected row.
    reloadData();
}

void ChatMacroViewController::removeClicked() {
    std::set<int> rows;
    for (const QModelIndex& index : tableView_->selectionModel()->selectedRows()) {
        rows.insert(index.row());
    }
    std::vector<Dictionary>& macros = macros_.macros();
    for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
        if (*row < static_cast<int>(macros.size())) macros.erase(macros.begin() + *row);
    }
    reloadData();
}

void ChatMacroViewController::closeClicked() { close(); }

void ChatMacroViewController::reloadData() {
    reloading_ = true;
    const std::vector<Dictionary>& macros = macros_.macros();
    tableView_->setRowCount(static_cast<int>(macros.size()));
    for (size_t i = 0; i < macros.size(); ++i) {
        const Dictionary& macro = macros[i];
        const std::string* text = macro["message"].stringValue();
        const QString midi =
            QString::asprintf("%d %d %d %d", field(macro, "byte1"), field(macro, "byte2"),
                              field(macro, "channel"), field(macro, "command"));
        // Items are kept and refilled: a reload may run inside the edit of one of them.
        const int row = static_cast<int>(i);
        if (!tableView_->item(row, kMessageColumn)) {
            tableView_->setItem(row, kMessageColumn, new QTableWidgetItem);
            auto* event = new QTableWidgetItem;
            event->setFlags(event->flags() & ~Qt::ItemIsEditable);
            tableView_->setItem(row, kMidiColumn, event);
        }
        tableView_->item(row, kMessageColumn)->setText(QString::fromStdString(text ? *text : ""));
        tableView_->item(row, kMidiColumn)->setText(midi);
    }
    reloading_ = false;
}

}  // namespace quenbril

#include "MonitorApp/app/QtAlertPresenter.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

#include "MonitorApp/controls/ModalOwner.h"

namespace quenbril {

void QtAlertPresenter::runModal(QWidget* window, const std::string& messageText) {
    Alert alert;
    alert.messageText = messageText;
    runModal(window, alert);
}

int QtAlertPresenter::runModal(QWidget* window, const Alert& alert) {
    return show(window, alert, nullptr);
}

int QtAlertPresenter::runModal(QWidget* window, const Alert& alert, int width, int height,
                               std::string& text) {
    QPointer<QLineEdit> field = new QLineEdit;
    field->setFixedSize(width, height);
    const int chosen = show(window, alert, field);
    text = field ? field->text().toStdString() : std::string();
    delete field.data();
    return chosen;
}

void QtAlertPresenter::present(QWidget* window, const std::string& messageText) {
    // A server that repeats itself must not pile up boxes: the one still open comes forward.
    std::erase_if(presented_, [](const Presented& shown) { return shown.box.isNull(); });
    const QString text = QString::fromStdString(messageText);
    for (const Presented& shown : presented_) {
        if (shown.topic.empty() && shown.box->text() == text) {
            shown.box->raise();
            shown.box->activateWindow();
            return;
        }
    }
    presentNew(window, messageText, {});
}

void QtAlertPresenter::present(QWidget* window, const std::string& messageText,
                               const std::string& topic) {
    if (topic.empty()) {
        present(window, messageText);
        return;
    }
    // One box per topic: the values a server sends one after another each replace the last.
    std::erase_if(presented_, [](const Presented& shown) { return shown.box.isNull(); });
    for (const Presented& shown : presented_) {
        if (shown.topic == topic) {
            shown.box->setText(QString::fromStdString(messageText));
            shown.box->raise();
            shown.box->activateWindow();
            return;
        }
    }
    presentNew(window, messageText, topic);
}

void QtAlertPresenter::presentNew(QWidget* window, const std::string& messageText,
                                  const std::string& topic) {
    const ModalOwner owner(window);
    Alert alert;
    alert.messageText = messageText;
    std::vector<QPushButton*> buttons;
    QMessageBox* box = makeBox(owner, alert, buttons);
    owner.adopt(*box);
    box->setAttribute(Qt::WA_DeleteOnClose);
    // The focus goes back to the asking window once the box is closed.
    QObject::connect(box, &QDialog::finished, [window = QPointer<QWidget>(owner.window())] {
        if (window) ModalOwner(window).restoreFocus();
    });
    presented_.push_back(Presented{box, topic});
    box->show();
}

QMessageBox* QtAlertPresenter::makeBox(const ModalOwner& owner, const Alert& alert,
                                       std::vector<QPushButton*>& buttons) {
    // On the heap: should the asking window go while the box is open, it takes the box along.
    auto* shown = new QMessageBox(owner.window());
    QMessageBox& box = *shown;
    switch (alert.style) {
        case Alert::Style::Warning:
            box.setIcon(QMessageBox::Warning);
            break;
        case Alert::Style::Informational:
            box.setIcon(QMessageBox::Information);
            break;
        case Alert::Style::Critical:
            box.setIcon(QMessageBox::Critical);
            break;
    }
    // Texts may come from other users or files: shown as they are, never as markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromStdString(alert.messageText));
    if (!alert.informativeText.empty()) {
        box.setInformativeText(QString::fromStdString(alert.informativeText));
    }
    // The box's text format reaches its main text only; the informative text would still be
    // taken for markup when it looks like some ("...this message <b>x</b>?").
    for (QLabel* label : box.findChildren<QLabel*>()) label->setTextFormat(Qt::PlainText);
    std::vector<std::string> titles = alert.buttons;
    if (titles.empty()) titles.push_back("OK");
    for (size_t i = 0; i < titles.size(); ++i) {
        QMessageBox::ButtonRole role = i == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole;
        buttons.push_back(box.addButton(QString::fromStdString(titles[i]), role));
    }
    box.setDefaultButton(buttons.front());
    return shown;
}

int QtAlertPresenter::show(QWidget* window, const Alert& alert, QWidget* field) {
    const ModalOwner owner(window);
    std::vector<QPushButton*> buttons;
    QPointer<QMessageBox> shown = makeBox(owner, alert, buttons);
    QMessageBox& box = *shown;
    if (field) {
        // The field sits under the texts, above the buttons.
        auto* grid = qobject_cast<QGridLayout*>(box.layout());
        auto* buttonBox = box.findChild<QDialogButtonBox*>();
        const int at = grid && buttonBox ? grid->indexOf(buttonBox) : -1;
        if (at >= 0) {
            int row = 0, column = 0, rows = 0, columns = 0;
            grid->getItemPosition(at, &row, &column, &rows, &columns);
            grid->removeWidget(buttonBox);
            grid->addWidget(field, row, 1, 1, 1, Qt::AlignLeft);
            grid->addWidget(buttonBox, row + 1, column, rows, columns);
        } else {
            box.layout()->addWidget(field);
        }
        field->setFocus();
    }
    owner.adopt(box);
    box.exec();
    // Closed with Escape, or gone with its window: the last button, the one that cancels.
    int chosen = static_cast<int>(buttons.size()) - 1;
    if (shown) {
        // The field outlives the box: the caller reads it afterwards.
        if (field) field->setParent(nullptr);
        for (size_t i = 0; i < buttons.size(); ++i) {
            if (box.clickedButton() == buttons[i]) chosen = static_cast<int>(i);
        }
        delete shown.data();
    }
    owner.restoreFocus();
    return chosen;
}

}  // namespace quenbril

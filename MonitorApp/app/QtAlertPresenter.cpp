#include "MonitorApp/app/QtAlertPresenter.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

namespace quenbril {

void QtAlertPresenter::runModal(const std::string& messageText) {
    Alert alert;
    alert.messageText = messageText;
    runModal(alert);
}

int QtAlertPresenter::runModal(const Alert& alert) {
    QMessageBox box(parent_);
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
    std::vector<QPushButton*> buttons;
    for (size_t i = 0; i < titles.size(); ++i) {
        QMessageBox::ButtonRole role = i == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole;
        buttons.push_back(box.addButton(QString::fromStdString(titles[i]), role));
    }
    box.setDefaultButton(buttons.front());
    box.exec();
    for (size_t i = 0; i < buttons.size(); ++i) {
        if (box.clickedButton() == buttons[i]) return static_cast<int>(i);
    }
    // Closed with Escape: the last button, the one that cancels.
    return static_cast<int>(buttons.size()) - 1;
}

}  // namespace quenbril

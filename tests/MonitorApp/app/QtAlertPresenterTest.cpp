// The application's modal alerts: texts that come from other users are shown as they are.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "MonitorApp/app/QtAlertPresenter.h"

namespace quenbril::test {
namespace {

/// The message box on screen, once the alert's own loop runs.
QMessageBox* shownBox() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        if (box && box->isVisible()) return box;
    }
    return nullptr;
}

TEST(QtAlertPresenter, EveryTextOfTheBoxIsPlainTextAndTheAnswerIsTheButtonsIndex) {
    Alert question;
    question.messageText = "Delete <i>now</i>";
    question.informativeText = "Are you sure you want to delete this message <<b>x</b>>?";
    question.buttons = {"Delete", "Cancel"};
    std::vector<std::pair<QString, Qt::TextFormat>> labels;
    QTimer::singleShot(0, [&] {
        QMessageBox* box = shownBox();
        ASSERT_NE(box, nullptr);
        for (QLabel* label : box->findChildren<QLabel*>()) {
            if (!label->text().isEmpty()) labels.emplace_back(label->text(), label->textFormat());
        }
        for (QAbstractButton* button : box->buttons()) {
            if (button->text() == "Cancel") button->click();
        }
    });
    QtAlertPresenter presenter;
    EXPECT_EQ(presenter.runModal(question), 1);
    const std::vector<std::pair<QString, Qt::TextFormat>> expected = {
        {"Delete <i>now</i>", Qt::PlainText},
        {"Are you sure you want to delete this message <<b>x</b>>?", Qt::PlainText}};
    EXPECT_EQ(labels, expected);
}

TEST(QtAlertPresenter, AFieldSitsAboveTheButtonsAndGivesBackWhatWasTyped) {
    Alert prompt;
    prompt.messageText = "How many channels?";
    prompt.buttons = {"Ok", "Cancel"};
    QSize fieldSize;
    bool aboveButtons = false;
    QTimer::singleShot(0, [&] {
        QMessageBox* box = shownBox();
        ASSERT_NE(box, nullptr);
        auto* field = box->findChild<QLineEdit*>();
        ASSERT_NE(field, nullptr);
        fieldSize = field->size();
        QAbstractButton* ok = box->buttons().front();
        aboveButtons =
            field->mapTo(box, QPoint(0, field->height())).y() <= ok->mapTo(box, QPoint(0, 0)).y();
        field->setText("12");
        box->buttons().front()->click();
    });
    QtAlertPresenter presenter;
    std::string typed = "left over";
    EXPECT_EQ(presenter.runModal(prompt, 200, 24, typed), 0);
    EXPECT_EQ(typed, "12");
    EXPECT_EQ(fieldSize, QSize(200, 24));
    EXPECT_TRUE(aboveButtons);
}

}  // namespace
}  // namespace quenbril::test

// The application's modal alerts and file panels: texts that come from other users are shown as
// they are, and each belongs to the window that asked.

#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "MonitorApp/app/QtAlertPresenter.h"
#include "MonitorApp/app/QtFilePanel.h"

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
    EXPECT_EQ(presenter.runModal(nullptr, question), 1);
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
    EXPECT_EQ(presenter.runModal(nullptr, prompt, 200, 24, typed), 0);
    EXPECT_EQ(typed, "12");
    EXPECT_EQ(fieldSize, QSize(200, 24));
    EXPECT_TRUE(aboveButtons);
}

/// A main window and, over it, a window kept on top (as the chat window is), both shown.
struct TwoWindows {
    TwoWindows() {
        // Both within the test screen (800 x 600), the second over the first's right part.
        main.setGeometry(0, 0, 700, 500);
        main.show();
        onTop.setWindowFlags(Qt::Window | Qt::WindowStaysOnTopHint);
        onTop.setGeometry(380, 60, 400, 500);
        onTop.show();
        asking = new QWidget(&onTop);
        asking->setGeometry(10, 10, 100, 30);
        asking->show();
    }
    QWidget main;
    QWidget onTop;
    QWidget* asking;
};

/// Where the dialog lies and what a click at its middle reaches, while it is open.
struct SeenDialog {
    QWidget* parent = nullptr;
    bool staysOnTop = false;
    bool modal = false;
    QPoint centre;
    bool clickReachesIt = false;
};

SeenDialog look(QDialog& dialog) {
    SeenDialog seen;
    seen.parent = dialog.parentWidget();
    seen.staysOnTop = dialog.windowFlags().testFlag(Qt::WindowStaysOnTopHint);
    seen.modal = dialog.isModal();
    seen.centre = dialog.frameGeometry().center();
    QWidget* hit = QApplication::widgetAt(dialog.mapToGlobal(dialog.rect().center()));
    seen.clickReachesIt = hit && (hit == &dialog || dialog.isAncestorOf(hit));
    return seen;
}

// A long press in the chat window (kept on top) asks whether to delete: the question belongs to
// the chat window, lies over it where a click reaches it, and the chat window has the focus
// again once it is answered.
TEST(QtAlertPresenter, TheBoxBelongsToTheAskingWindowAndLiesAboveItEvenOnTop) {
    TwoWindows windows;
    Alert question;
    question.messageText = "Delete";
    question.buttons = {"Delete", "Cancel"};
    SeenDialog seen;
    QTimer::singleShot(0, [&] {
        QMessageBox* box = shownBox();
        ASSERT_NE(box, nullptr);
        seen = look(*box);
        box->buttons().back()->click();
    });
    QtAlertPresenter presenter;
    EXPECT_EQ(presenter.runModal(windows.asking, question), 1);
    EXPECT_EQ(seen.parent, &windows.onTop);
    EXPECT_TRUE(seen.staysOnTop);
    EXPECT_TRUE(seen.modal);
    EXPECT_TRUE(seen.clickReachesIt);
    EXPECT_LE((seen.centre - windows.onTop.frameGeometry().center()).manhattanLength(), 40)
        << "centred on the asking window";
    QApplication::processEvents();
    EXPECT_EQ(QApplication::activeWindow(), &windows.onTop) << "the focus is back";
}

// The notebook's export: the save panel belongs to the notebook, above it.
TEST(QtFilePanel, ThePanelBelongsToTheAskingWindowAndLiesAboveIt) {
    TwoWindows windows;
    SeenDialog seen;
    QTimer::singleShot(0, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<QFileDialog*>(widget);
            if (!dialog || !dialog->isVisible()) continue;
            seen = look(*dialog);
            dialog->reject();
        }
    });
    QtFilePanel panel;
    FilePanel::Request request;
    request.kind = FilePanel::Request::Kind::Save;
    request.allowedTypes = {"csv"};
    request.suggestedName = "Notes.csv";
    EXPECT_EQ(panel.runModal(windows.asking, request), std::nullopt);
    EXPECT_EQ(seen.parent, &windows.onTop);
    EXPECT_TRUE(seen.staysOnTop);
    EXPECT_TRUE(seen.modal);
    EXPECT_TRUE(seen.clickReachesIt);
    QApplication::processEvents();
    EXPECT_EQ(QApplication::activeWindow(), &windows.onTop);
}

}  // namespace
}  // namespace quenbril::test

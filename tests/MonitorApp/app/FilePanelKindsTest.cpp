// The application's file panels, opened from the notebook window's Export button: the filter
// names the files it shows, and each kind of file comes back to the folder last used for it.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <filesystem>
#include <memory>

#include "MonitorApp/app/QtFilePanel.h"
#include "MonitorApp/panels/ui/NotebookViewController.h"
#include "tests/MonitorApp/panels/ui/NotebookTestEnvironment.h"
#include "tests/MonitorApp/panels/ui/SharedPanelServices.h"

namespace quenbril::test {
namespace {

/// What the next file dialog showed.
struct SeenPanel {
    std::string filters;  // joined by "|"
    QString folder;
};

/// Answers the next file dialog: chooses `path`, or cancels when it is empty.
void answerNextPanel(SeenPanel& seen, const QString& path) {
    QTimer::singleShot(0, [&seen, path] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<QFileDialog*>(widget);
            if (!dialog || !dialog->isVisible()) continue;
            seen.filters = dialog->nameFilters().join("|").toStdString();
            seen.folder = dialog->directory().absolutePath();
            if (path.isEmpty()) {
                dialog->reject();
            } else {
                dialog->selectFile(path);
                QMetaObject::invokeMethod(dialog, "accept");
            }
        }
    });
}

class FilePanelKinds : public NotebookTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(NotebookTest::SetUp());
        window = std::make_unique<NotebookViewController>(sharedPanelServices());
        window->setFilePanel(&panel);
        window->show();
    }
    void TearDown() override {
        window.reset();
        NotebookTest::TearDown();
    }

    QtFilePanel panel;
    std::unique_ptr<NotebookViewController> window;
};

TEST_F(FilePanelKinds, TheNotebookSavesCsvFilesAndComesBackToTheirFolder) {
    QTemporaryDir shows;
    ASSERT_TRUE(shows.isValid());
    const QString folder = QDir(shows.path()).canonicalPath();

    SeenPanel first;
    answerNextPanel(first, folder + "/tonight.csv");
    window->exportButton()->click();
    EXPECT_EQ(first.filters, "CSV files (*.csv)");
    EXPECT_EQ(first.folder.toStdString(), QDir::home().absolutePath().toStdString())
        << "no CSV file chosen yet";
    EXPECT_TRUE(std::filesystem::exists((folder + "/tonight.csv").toStdString()));

    SeenPanel second;
    answerNextPanel(second, QString());
    window->exportButton()->click();
    EXPECT_EQ(second.folder.toStdString(), folder.toStdString()) << "where the last CSV file went";

    // Settings files are a kind of their own, still at home.
    SeenPanel settings;
    answerNextPanel(settings, QString());
    FilePanel::Request request;
    request.allowedTypes = {"qcf"};
    EXPECT_EQ(panel.runModal(window.get(), request), std::nullopt);
    EXPECT_EQ(settings.filters, "QCF files (*.qcf)");
    EXPECT_EQ(settings.folder.toStdString(), QDir::home().absolutePath().toStdString());
}

}  // namespace
}  // namespace quenbril::test

#pragma once

#include <QPointer>
#include <string>
#include <vector>

#include "MonitorApp/seams/MainWindowSeams.h"

class QMessageBox;
class QPushButton;
class QWidget;

namespace quenbril {

class ModalOwner;

/// Alerts as modal message boxes of the window that asks: centred on it, above it (kept on top
/// with it when it is), and the focus back on it once answered. A presented alert is the same
/// box, opened without a loop of its own; presented again while it is open, it comes forward,
/// and one of a topic that is still open takes the new text in that box.
class QtAlertPresenter : public AlertPresenter {
  public:
    void runModal(QWidget* window, const std::string& messageText) override;
    void present(QWidget* window, const std::string& messageText) override;
    void present(QWidget* window, const std::string& messageText,
                 const std::string& topic) override;
    int runModal(QWidget* window, const Alert& alert) override;
    int runModal(QWidget* window, const Alert& alert, int width, int height,
                 std::string& text) override;

  private:
    /// Shows `alert` over `window`, with `field` under its texts when given, and answers the
    /// button chosen.
    int show(QWidget* window, const Alert& alert, QWidget* field);
    /// The box of `alert` over `owner`'s window, ready to show.
    static QMessageBox* makeBox(const ModalOwner& owner, const Alert& alert,
                                std::vector<QPushButton*>& buttons);

    /// A presented box, and its topic (none for the boxes told apart by their text).
    struct Presented {
        QPointer<QMessageBox> box;
        std::string topic;
    };
    /// Shows a presented box for `messageText` with `topic`.
    void presentNew(QWidget* window, const std::string& messageText, const std::string& topic);

    // The presented boxes; each goes when it is closed.
    std::vector<Presented> presented_;
};

}  // namespace quenbril

#pragma once

#include <QMainWindow>
#include <functional>

namespace quenbril {

class ViewController;

/// The main window: the main window controller as its central widget, under the main menu. It
/// has no close or miniaturise button; a close from the window manager quits the application
/// as Quit does.
class MainWindow : public QMainWindow {
  public:
    /// Takes ownership of `controller`.
    explicit MainWindow(ViewController* controller);
    ~MainWindow() override;

    ViewController& viewController() const { return *controller_; }
    /// Shows the window: the controller's view appears (viewDidAppear).
    void showMainWindow();
    /// The controller's view goes away: the frame and the "Settings" record are saved. Once
    /// per run, whichever way the run ends.
    void viewWillDisappear();
    /// What a close of the window does after saving: ends the run loop (`exit`, not `quit`:
    /// quit first asks every window to close, and the connection dialog refuses until it is
    /// confirmed). Tests, which have no run loop to end, record it instead.
    void setQuitHandler(std::function<void()> handler) { quitHandler_ = std::move(handler); }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    ViewController* controller_;
    bool disappeared_ = false;
    std::function<void()> quitHandler_;
};

}  // namespace quenbril

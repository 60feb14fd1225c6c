#pragma once

#include <QMainWindow>

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

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    ViewController* controller_;
    bool disappeared_ = false;
};

}  // namespace quenbril

#pragma once

#include <QWidget>
#include <vector>

#include "MonitorApp/preferences/PreferencesServices.h"
#include "MonitorApp/seams/MainWindowSeams.h"

class QScrollArea;
class QTabWidget;

namespace quenbril {

class DisplayPreferencesViewController;
class LinkSender;
class PreferencesPane;
class UserPrefsViewController;

/// The preferences window: a tab per pane (user, display, and those the application adds, such
/// as the chat's). The pane in sight saves when it goes
/// out of sight (tab switch, closing); closing the window, however it is closed, posts
/// "PreferencesChanged".
///
/// Made anew for each opening by the main window's "showSettings" segue; show() brings it up
/// and runs viewDidAppear. Main thread only.
class SettingsTabViewController : public QWidget, public virtual SegueDestination {
  public:
    /// `services`: what the user and display panes edit and refresh. `link`: where the user
    /// pane sends "SoloOn" (the server link); none drops it. Not owned.
    explicit SettingsTabViewController(const PreferencesServices& services,
                                       LinkSender* link = nullptr, QWidget* parent = nullptr);
    ~SettingsTabViewController() override;

    void viewDidLoad();
    /// Makes itself every pane's tab delegate and shows the current pane's settings.
    void viewDidAppear();
    /// Shows the window and runs viewDidAppear.
    void show() override;
    /// Closes the window: posts "PreferencesChanged", then the pane in sight saves.
    void closeWindow();
    /// Where the panes report a save that could not be stored. Not owned.
    void setAlertPresenter(AlertPresenter* presenter);
    /// Adds `pane` as the last tab, titled `title`; the window takes its view. Before show().
    void addPane(const QString& title, PreferencesPane* pane);

    QTabWidget* tabView() const { return tabView_; }
    UserPrefsViewController* userPrefs() const { return userPrefs_; }
    DisplayPreferencesViewController* displayPrefs() const { return displayPrefs_; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    /// The tab at `index` came into sight: the pane that was in sight saves, the new one shows
    /// the settings.
    void tabChanged(int index);
    void paneDidAppear(QWidget* page);
    void paneWillDisappear(PreferencesPane* pane);
    /// The pane whose view is `page`; none for another widget.
    PreferencesPane* paneOf(QWidget* page) const;

    PreferencesServices services_;
    QTabWidget* tabView_ = nullptr;
    // Holds the tabs: they scroll where the screen is smaller than the panes.
    QScrollArea* scroller_ = nullptr;
    UserPrefsViewController* userPrefs_ = nullptr;
    DisplayPreferencesViewController* displayPrefs_ = nullptr;
    /// Every tab's pane, in tab order.
    std::vector<PreferencesPane*> panes_;
    AlertPresenter* alertPresenter_ = nullptr;
    /// The pane in sight while the window is shown.
    PreferencesPane* paneInSight_ = nullptr;
};

}  // namespace quenbril

#pragma once

#include <string>

#include "MonitorApp/seams/MainWindowSeams.h"
#include "foundation/Log.h"
#include "foundation/UserDefaults.h"

namespace quenbril {

/// Tells the user, over `window`, that a pane's save did not reach the settings store `defaults`
/// (logged while no presenter is set), so that nothing seems saved that was not.
inline void reportPreferencesNotSaved(QWidget* window, AlertPresenter* presenter,
                                      const UserDefaults& defaults) {
    const std::string text = "The preferences could not be saved to " + defaults.path() +
                             ". They stay in use until the program ends.";
    if (presenter) {
        presenter->runModal(window, text);
    } else {
        log(LogLevel::Error, "%s", text.c_str());
    }
}

}  // namespace quenbril

#pragma once

// The application put together in the test's process on an X display with a window manager
// (openbox) running, and what the X server says about its windows: how the manager stacks them,
// the frames it draws round them, and what the screen shows. Each case runs on an X server of
// its own.

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QTest>
#include <QWidget>
#include <chrono>
#include <future>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "MonitorApp/controls/QBButton.h"
#include "tests/support/InProcessRemote.h"
#include "tests/support/ScreenPicture.h"
#include "tests/support/WindowManager.h"

namespace quenbril::test {

class ManagedWindowsTest : public InProcessRemoteTest {
  protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X display (ctest runs xvfb-run)";
        manager_ = std::make_unique<WindowManager>();
        if (!manager_->running()) GTEST_SKIP() << "no window manager (openbox) could start";
        InProcessRemoteTest::SetUp();
    }

    /// The connection is confirmed, the server's state is in and panel A's strips are shown.
    bool stripsShown() const {
        return QTest::qWaitFor(
            [&] {
                QWidget* last = stripWidget(7);
                return composition->viewController().serverIsHere() && last && last->isVisible() &&
                       !QApplication::activeModalWidget();
            },
            kPatienceMs);
    }

    /// The shown window of the application with that title; null when none is.
    static QWidget* shownWindow(const QString& title) {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (window->isVisible() && window->windowTitle() == title) return window;
        }
        return nullptr;
    }

    /// The shown window of the application of that class; null when none is.
    template <class Window>
    static Window* shown() {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            auto* found = dynamic_cast<Window*>(window);
            if (found && found->isVisible()) return found;
        }
        return nullptr;
    }

    /// Whether the window manager has taken the window in.
    static bool managed(const QWidget& window) {
        for (uint32_t id : WindowManager::stackingOrder()) {
            if (id == window.winId()) return true;
        }
        return false;
    }

    /// Waits until the window manager has taken the window in and its place, frame included,
    /// has stopped changing (the manager frames and places a window after it is mapped, and the
    /// application may move it once it knows the frame).
    static bool settled(const QWidget& window) {
        std::string last;
        int same = 0;
        return QTest::qWaitFor(
            [&] {
                if (!managed(window)) return false;
                const std::string now = describe(WindowManager::frameOf(window.winId()));
                same = now == last ? same + 1 : 0;
                last = now;
                return same >= 5;
            },
            kPatienceMs);
    }

    static std::string describe(const std::optional<WindowManager::Area>& area) {
        if (!area) return "no frame";
        std::ostringstream out;
        out << area->x << "," << area->y << " " << area->width << "x" << area->height;
        return out.str();
    }

    /// The shown, managed windows of the application other than `window`, each with its title.
    static std::vector<QWidget*> otherWindows(const QWidget& window) {
        std::vector<QWidget*> others;
        for (QWidget* other : QApplication::topLevelWidgets()) {
            if (other != &window && other->isVisible() && managed(*other)) others.push_back(other);
        }
        return others;
    }

    /// Empty when `window` is stacked above every other shown window of the application; else
    /// the titles of those above it. Looked at until it holds or the patience runs out.
    static std::string windowsAbove(const QWidget& window) {
        std::string above;
        (void)QTest::qWaitFor(
            [&] {
                above.clear();
                for (QWidget* other : otherWindows(window)) {
                    if (!WindowManager::above(window.winId(), other->winId())) {
                        above += "\"" + other->windowTitle().toStdString() + "\" ";
                    }
                }
                return above.empty();
            },
            kPatienceMs);
        return above;
    }

    QWidget* headerButton(const QString& title) const {
        // The buttons have no meta-object of their own: a search by type would match any widget.
        for (auto* widget : composition->viewController().findChildren<QWidget*>()) {
            auto* button = dynamic_cast<QBButton*>(widget);
            if (button && button->shownTitle() == title && button->isVisible()) return button;
        }
        return nullptr;
    }

    /// Opens the chat window with the header's CHAT button and waits until it is placed.
    QWidget* openChat() const {
        QWidget* chat = headerButton("CHAT");
        if (!chat) return nullptr;
        clickAt(*chat, chat->rect().center());
        QWidget* window = nullptr;
        if (!QTest::qWaitFor([&] { return (window = shownWindow("Chat")) != nullptr; },
                             kPatienceMs) ||
            !settled(*window)) {
            return nullptr;
        }
        return window;
    }

    /// Opens the chat window (kept on top, as by default) and lays it over the middle of the
    /// main window, where the main window's sheets and dialogs open.
    QWidget* openChatOverTheMainWindow() const {
        QWidget* chat = openChat();
        if (!chat || !chat->windowFlags().testFlag(Qt::WindowStaysOnTopHint)) return nullptr;
        QRect over = chat->geometry();
        over.moveCenter(composition->mainWindow().geometry().center());
        chat->setGeometry(over);
        if (!QTest::qWaitFor([&] { return chat->geometry() == over; }, kPatienceMs)) return nullptr;
        return chat;
    }

    /// The whole screen, grabbed on a thread of its own while the event loop goes on.
    static QImage screen() {
        auto grab =
            std::async(std::launch::async, [] { return grabScreen(QUENBRIL_SCREENGRAB_PATH); });
        (void)QTest::qWaitFor(
            [&] { return grab.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
            kPatienceMs);
        return grab.get();
    }

    /// The share of the window's pixels that the screen shows at its place: near 1 when nothing
    /// covers it. Taken again until it is above 0.9 or the patience runs out.
    static double shareShown(QWidget& window) {
        double share = 0;
        (void)QTest::qWaitFor(
            [&] {
                const QImage own = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
                const QImage shot = screen();
                const qreal scale = window.devicePixelRatioF();
                const QRect place(window.mapToGlobal(QPoint(0, 0)) * scale, own.size());
                if (shot.isNull() || own.isNull()) return false;
                int same = 0, all = 0;
                for (int y = 0; y < own.height(); ++y) {
                    for (int x = 0; x < own.width(); ++x) {
                        const QPoint at = place.topLeft() + QPoint(x, y);
                        if (!shot.rect().contains(at)) continue;
                        const QColor a = own.pixelColor(x, y), b = shot.pixelColor(at);
                        ++all;
                        if (std::abs(a.red() - b.red()) < 16 &&
                            std::abs(a.green() - b.green()) < 16 &&
                            std::abs(a.blue() - b.blue()) < 16) {
                            ++same;
                        }
                    }
                }
                share = all ? static_cast<double>(same) / all : 0;
                return share > 0.9;
            },
            kPatienceMs);
        return share;
    }

    /// Empty when the window, with the frame the window manager drew round it, lies on the
    /// screen's free area; else where it lies. Looked at for a while, as the window may still be
    /// moved once the manager has framed it (settled() waits for that).
    static std::string offTheScreen(const QWidget& window) {
        std::string off;
        (void)QTest::qWaitFor(
            [&] {
                const std::optional<WindowManager::Area> frame =
                    WindowManager::frameOf(window.winId());
                const WindowManager::Area area = WindowManager::workArea();
                if (frame && area.contains(*frame)) {
                    off.clear();
                    return true;
                }
                off = "frame " + describe(frame) + " on a free area of " + describe(area);
                return false;
            },
            kPatienceMs / 4);
        return off;
    }

    std::unique_ptr<WindowManager> manager_;
};

}  // namespace quenbril::test

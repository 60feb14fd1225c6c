// The chat window's message pane: which messages it shows and how, what it sends, the recipients
// it offers, the lock and the deletion of own messages by a long press.

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPaintEngine>
#include <QPainter>
#include <QScrollBar>
#include <QTableView>
#include <QTest>
#include <algorithm>
#include <map>

#include "MonitorApp/chat/ChatColorManager.h"
#include "MonitorApp/chat/ChatNotifications.h"
#include "MonitorApp/chat/ui/ChatTableModel.h"
#include "MonitorApp/chat/ui/ChatTableViewController.h"
#include "MonitorApp/chat/ui/ChatTableViewControllerDelegate.h"
#include "MonitorApp/chat/ui/SendButton.h"
#include "MonitorApp/controls/QtColor.h"
#include "MonitorApp/controls/TextContrast.h"
#include "MonitorApp/lockable/LockView.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "tests/MonitorApp/chat/ui/ChatWindowTestEnvironment.h"

namespace quenbril::test {
namespace {

struct ExpandRequests : ChatTableViewControllerDelegate {
    void expandCollapseClicked(bool expand) override { requests.push_back(expand); }
    std::vector<bool> requests;
};

class ChatTablePane : public ChatWindowTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(ChatWindowTest::SetUp());
        pane = std::make_unique<ChatTableViewController>(sharedChatServices());
        pane->setAlertPresenter(&alerts);
        pane->setDelegate(&expands);
        pane->resize(700, 400);
    }
    void TearDown() override {
        pane.reset();
        ChatWindowTest::TearDown();
    }

    void showPane() {
        pane->show();
        pane->viewDidAppear();
    }

    QString cell(int row, int column, int role = Qt::DisplayRole) const {
        return pane->model()->data(pane->model()->index(row, column), role).toString();
    }
    QVariant cellData(int row, int column, int role) const {
        return pane->model()->data(pane->model()->index(row, column), role);
    }
    std::vector<std::string> rowTexts() const {
        std::vector<std::string> texts;
        for (int row = 0; row < pane->numberOfRows(); ++row) {
            texts.push_back(pane->messageAtRow(row)->message().value_or(""));
        }
        return texts;
    }
    /// Holds the left button on a row for `seconds` of the run loop's clock, then lets go.
    void pressRow(int row, double seconds) {
        QWidget* viewport = pane->tableView()->viewport();
        const QPoint at = pane->tableView()->visualRect(pane->model()->index(row, 2)).center();
        QTest::mousePress(viewport, Qt::LeftButton, {}, at);
        loop_->advance(seconds);
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, at);
    }
    void setChatSettings(Value settings) { defaults().setObject(settings, "chatSettings"); }

    std::unique_ptr<ChatTableViewController> pane;
    ExpandRequests expands;
};

// ---- Rows ----

TEST_F(ChatTablePane, TheFiltersPickTheRowsByTypeAndAnAlertResetByItsText) {
    store("bob", "text");
    store("srv", "scp", ChatMessage::kSCPAlert);
    store("srv", "alert", ChatMessage::kAlert);
    store("srv", "snap", ChatMessage::kSnapshotChanged);
    store("bob", "page", ChatMessage::kPage);
    store("srv", "Alert reset");  // sent as a text message
    store("srv", "Alert reseted", 7);
    store("srv", "other", 7);

    pane->reloadData();
    EXPECT_EQ(pane->numberOfRows(), 8) << "nothing stored: every category is shown";
    EXPECT_EQ(pane->messageAtRow(8), nullptr);

    setChatSettings(Dictionary{{"userMes", 0}, {"snaps", 1}, {"alerts", 1}});
    pane->reloadData();
    EXPECT_EQ(rowTexts(),
              (std::vector<std::string>{"scp", "alert", "snap", "page", "Alert reseted", "other"}))
        << "the alert reset sent as text follows userMes; the page stays";

    setChatSettings(Dictionary{{"userMes", 1}});
    pane->reloadData();
    EXPECT_EQ(rowTexts(), (std::vector<std::string>{"text", "page", "Alert reset", "other"}))
        << "a missing entry hides its category";

    setChatSettings(Value("not a dictionary"));
    pane->reloadData();
    EXPECT_EQ(pane->numberOfRows(), 8) << "reads as missing";
}

TEST_F(ChatTablePane, CellsShowTimeSourceAndTextAsPlainText) {
    store("bob", "<b>x</b>", 0, "ID1", std::nullopt, "me");
    store("srv", "scp", ChatMessage::kSCPAlert);
    store("srv", "snap", ChatMessage::kSnapshotChanged);
    store("srv", "Alert reset", ChatMessage::kSCPAlert);
    auto placeholder = std::make_shared<ChatMessage>();
    placeholder->setSender("");
    placeholder->setRecipient("");
    placeholder->setMessage("");
    ChatManager::messages().push_back(placeholder);
    pane->reloadData();

    EXPECT_EQ(cell(0, 0), "14:05");
    EXPECT_EQ(cell(0, 1), "bob\nme");
    EXPECT_EQ(cell(0, 2), "14:05: <b>x</b>") << "markup stays text";
    EXPECT_EQ(cell(1, 1), "14:05\nSCP alert");
    EXPECT_EQ(cell(2, 1), "14:05\nSnapshot changed");
    EXPECT_EQ(cell(3, 1), "14:05\nAlert reset") << "the text wins over the type";
    EXPECT_EQ(cell(4, 0), "");
    EXPECT_EQ(cell(4, 2), "") << "a placeholder shows nothing";
}

/// The rightmost column of `rect` in `image` whose pixels differ from the rect's background.
int inkRight(const QImage& image, const QRect& rect) {
    const QRgb background = image.pixel(rect.right() - 1, rect.top() + 1);
    for (int x = rect.right(); x >= rect.left(); --x) {
        for (int y = rect.top(); y <= rect.bottom(); ++y) {
            if (image.pixel(x, y) != background) return x;
        }
    }
    return rect.left();
}

TEST_F(ChatTablePane, MarkupFromOthersIsDrawnAsItsCharacters) {
    UserSettingsManager::sharedInstance().setChatFontSize(2);
    store("bob", "<b>x</b>");
    store("bob", "x");
    showPane();
    const QImage drawn = pane->tableView()->viewport()->grab().toImage();
    const int tagged = inkRight(drawn, pane->tableView()->visualRect(pane->model()->index(0, 2)));
    const int plain = inkRight(drawn, pane->tableView()->visualRect(pane->model()->index(1, 2)));
    // Read as markup the first row would show a bold "x", as wide as the second within a pixel
    // or two; drawn as text its six more characters take far more.
    EXPECT_GT(tagged - plain, 30);
}

TEST_F(ChatTablePane, ColoursAndFontsFollowTheType) {
    UserSettingsManager::sharedInstance().setChatFontSize(2);
    ChatColorManager::sharedInstance().setChatColors(
        Dictionary{{"U-BOB", Color{0.0, 0.0, 1.0, 1.0}}});
    store("bob", "coloured", 0, "1", "U-BOB");
    store("carl", "unknown id", 0, "2", "U-CARL");
    store("dora", "no id");
    store("srv", "scp", ChatMessage::kSCPAlert, std::nullopt, "U-BOB");
    store("srv", "snap", ChatMessage::kSnapshotChanged, std::nullopt, "U-BOB");
    store("me", "gone", 0, "3", std::string(ChatMessage::kRemovedUUID));
    ChatManager::removeMessage("3", false);
    pane->reloadData();

    auto colour = [&](int row, int column) {
        return cellData(row, column, Qt::ForegroundRole).value<QColor>();
    };
    EXPECT_EQ(colour(0, 1), QColor(Qt::white)) << "the source column is white";
    EXPECT_EQ(colour(0, 2), QColor(Qt::blue));
    EXPECT_EQ(colour(0, 0), QColor(Qt::blue));
    EXPECT_FALSE(cellData(1, 2, Qt::ForegroundRole).isValid()) << "the view's own colour";
    EXPECT_EQ(colour(2, 2),
              toQColor(ColorHelper::sharedInstance().colorForChatName(std::string("dora"))));
    EXPECT_EQ(colour(3, 2), QColor(Qt::red));
    EXPECT_EQ(colour(4, 2), QColor(Qt::green));
    EXPECT_EQ(colour(5, 2), toQColor(ColorHelper::messageRemovedColor()));

    const auto font = [&](int row, int column) {
        return cellData(row, column, Qt::FontRole).value<QFont>();
    };
    EXPECT_EQ(font(0, 0).pointSize(), 10);
    EXPECT_EQ(font(0, 1).pointSize(), 10);
    EXPECT_EQ(font(0, 2).pointSize(), 12);
    EXPECT_FALSE(font(0, 2).italic());
    // The removed row: italic, in the removed colour, its source still naming both ends.
    EXPECT_TRUE(font(5, 2).italic());
    EXPECT_EQ(font(5, 2).family(), "Arial Italic");
    EXPECT_EQ(font(5, 2).pointSize(), 12);
    EXPECT_EQ(cell(5, 2), "14:05: <message removed>");
    EXPECT_EQ(cell(5, 1), "me\nAll");
}

// Every text of the pane reads on its grey at 4.5:1 or better, measured from the pixels drawn:
// the users' colours, the alerts' red and green and the removed messages' grey are drawn
// lighter where they would not.
TEST_F(ChatTablePane, EveryTextReadsAtFourAndAHalfToOneOnThePane) {
    ChatColorManager::sharedInstance().setChatColors(
        Dictionary{{"U-BOB", *ColorHelper::colorForChatGroup(2)}});  // the blue of the table
    store("bob", "coloured", 0, "1", "U-BOB");
    store("carl", "unknown id", 0, "2", "U-CARL");
    store("dora", "no id");
    store("srv", "scp", ChatMessage::kSCPAlert, std::nullopt, "U-BOB");
    store("srv", "snap", ChatMessage::kSnapshotChanged, std::nullopt, "U-BOB");
    store("me", "gone", 0, "3", std::string(ChatMessage::kRemovedUUID));
    ChatManager::removeMessage("3", false);
    for (int size : {1, 2}) {
        UserSettingsManager::sharedInstance().setChatFontSize(size);
        showPane();
        QApplication::processEvents();
        const QImage drawn = pane->grab().toImage().convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(pane->numberOfRows(), 6);
        for (int row = 0; row < 6; ++row) {
            for (int column = 0; column < 3; ++column) {
                SCOPED_TRACE(testing::Message()
                             << "font size " << size << ", row " << row << ", column " << column);
                const QRect cellRect =
                    pane->tableView()->visualRect(pane->model()->index(row, column));
                const QRect area(
                    pane->tableView()->viewport()->mapTo(pane.get(), cellRect.topLeft()),
                    cellRect.size());
                // The background is the colour most of the cell shows; the text's the one
                // that stands out most from it.
                std::map<QRgb, int> counts;
                for (int y = area.top(); y <= area.bottom(); ++y) {
                    for (int x = area.left(); x <= area.right(); ++x) ++counts[drawn.pixel(x, y)];
                }
                ASSERT_FALSE(counts.empty());
                const QColor background =
                    QColor(std::max_element(counts.begin(), counts.end(), [](auto& a, auto& b) {
                               return a.second < b.second;
                           })->first);
                EXPECT_EQ(background, toQColor(ColorHelper::vozodDarkGray()));
                double best = 1;
                for (const auto& [rgb, count] : counts) {
                    best = std::max(best, contrastRatio(QColor(rgb), background));
                }
                EXPECT_GE(best, 4.5);
            }
        }
    }
    // The model keeps the colours it was given: only their drawing is lighter.
    EXPECT_EQ(cellData(5, 2, Qt::ForegroundRole).value<QColor>(),
              toQColor(ColorHelper::messageRemovedColor()));
}

TEST(TextContrast, TheRatioFollowsTheGuidelinesAndAColourIsMovedOnlyAsFarAsItMust) {
    EXPECT_NEAR(contrastRatio(Qt::black, Qt::white), 21.0, 1e-9);
    EXPECT_NEAR(contrastRatio(Qt::white, Qt::white), 1.0, 1e-9);
    const QColor grey(98, 98, 98);
    EXPECT_NEAR(contrastRatio(QColor(128, 128, 128), grey), 1.5, 0.05);
    EXPECT_NEAR(contrastRatio(QColor(0x60, 0xA9, 0xF0), grey), 2.45, 0.05);
    const QColor blue = readableOn(QColor(0x60, 0xA9, 0xF0), grey);
    EXPECT_GE(contrastRatio(blue, grey), 4.5);
    EXPECT_LT(contrastRatio(blue, grey), 4.6) << "no lighter than it must be";
    EXPECT_GT(blue.blue(), blue.red()) << "still blue";
    EXPECT_EQ(readableOn(Qt::white, grey), QColor(Qt::white));
    // On a light ground a colour is darkened instead.
    EXPECT_GE(contrastRatio(readableOn(Qt::yellow, Qt::white), Qt::white), 4.5);
    EXPECT_EQ(readableOn(QColor(0, 0, 255, 40), Qt::black).alpha(), 255);
}

TEST_F(ChatTablePane, TheChatFontSizeSettingPicksThePointSize) {
    store("bob", "hello");
    const int systemSize = QApplication::font().pointSize();
    const std::vector<std::pair<int, int>> cases = {{0, 36},         {1, 24}, {2, 12},
                                                    {3, systemSize}, {7, 24}, {-1, 24}};
    for (const auto& [setting, points] : cases) {
        UserSettingsManager::sharedInstance().setChatFontSize(setting);
        pane->reloadData();
        EXPECT_EQ(cellData(0, 2, Qt::FontRole).value<QFont>().pointSize(), points)
            << "chatFontSize " << setting;
    }
    EXPECT_EQ(ChatTableModel::fontSize(3), 0) << "the system font's own size";
}

TEST_F(ChatTablePane, RowsAreAsHighAsTheirWrappedTextAndFollowTheColumnWidth) {
    UserSettingsManager::sharedInstance().setChatFontSize(2);
    store("bob", "short");
    store("bob",
          std::string(400, 'w').replace(40, 1, " ").replace(120, 1, " ").replace(300, 1, " "));
    showPane();
    QHeaderView* rows = pane->tableView()->verticalHeader();
    const int oneLine = QFontMetrics(pane->model()->messageFont()).height();
    EXPECT_GE(rows->sectionSize(0), oneLine);
    EXPECT_LT(rows->sectionSize(0), 2 * oneLine + 8) << "sender and recipient on two small lines";
    const int tall = rows->sectionSize(1);
    EXPECT_GT(tall, 2 * oneLine);
    pane->resize(1400, 400);
    QApplication::processEvents();
    EXPECT_LT(rows->sectionSize(1), tall) << "a wider column needs fewer lines";
    EXPECT_EQ(rows->sectionSize(1), pane->model()->rowHeight(1));
}

/// A paint device that keeps the texts drawn on it, each as the painter was given it: a cut
/// line arrives with its ellipsis, and lines that found no room never arrive.
class DrawnTexts : public QPaintDevice {
  public:
    explicit DrawnTexts(QSize size) : size_(size) {}
    QPaintEngine* paintEngine() const override { return &engine_; }
    /// Every text drawn, run together.
    QString all() const { return engine_.texts.join(QString()); }

  protected:
    int metric(PaintDeviceMetric metric) const override {
        switch (metric) {
            case PdmWidth:
                return size_.width();
            case PdmHeight:
                return size_.height();
            case PdmDpiX:
            case PdmDpiY:
            case PdmPhysicalDpiX:
            case PdmPhysicalDpiY:
                return 96;
            case PdmDevicePixelRatio:
                return 1;
            case PdmDevicePixelRatioScaled:
                return static_cast<int>(devicePixelRatioFScale());
            case PdmDepth:
                return 32;
            default:
                return 0;
        }
    }

  private:
    class Engine : public QPaintEngine {
      public:
        bool begin(QPaintDevice*) override { return true; }
        bool end() override { return true; }
        void updateState(const QPaintEngineState&) override {}
        void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
        void drawTextItem(const QPointF&, const QTextItem& item) override {
            texts.push_back(item.text());
        }
        Type type() const override { return User; }
        QStringList texts;
    };
    QSize size_;
    mutable Engine engine_;
};

// A long message shows whole, in any locale's time and at any width of the window: each row is
// measured from the text and face its cells draw, margins included, and the time column holds
// the time.
TEST_F(ChatTablePane, ALongMessageIsDrawnWholeAndTheTimeFitsItsColumn) {
    const std::string text =
        "Juliet's pack is on the stage-left table, fresh batteries in and tested. Romeo swaps "
        "to the spare at the interval, his first one keeps dropping out. Check both packs again "
        "before the balcony scene.";
    store("me", text);
    for (const QLocale& locale : {QLocale::c(), QLocale(QLocale::English, QLocale::UnitedStates)}) {
        QLocale::setDefault(locale);
        const QString time = ChatTableModel::shortTime(kDate);
        for (int fontSize : {0, 1, 2, 3}) {
            UserSettingsManager::sharedInstance().setChatFontSize(fontSize);
            pane->resize(520, 400);
            showPane();
            // From where the largest face's longest word fits the message column.
            for (int width = 520; width <= 1000; width += 23) {
                SCOPED_TRACE(testing::Message() << locale.name().toStdString() << ", font "
                                                << fontSize << ", width " << width);
                pane->resize(width, 400);
                QApplication::processEvents();
                pane->reloadData();
                QWidget* viewport = pane->tableView()->viewport();
                DrawnTexts drawn(viewport->size());
                QPainter painter(&drawn);
                viewport->render(&painter);
                painter.end();
                const QString all = drawn.all();
                EXPECT_FALSE(all.contains(QChar(0x2026))) << all.toStdString();
                EXPECT_TRUE(all.startsWith(time)) << all.toStdString();
                for (const QString& word : QString::fromStdString(text).split(' ')) {
                    ASSERT_TRUE(all.contains(word))
                        << word.toStdString() << " in " << all.toStdString();
                }
            }
        }
    }
    // Shown at its end, the table stays at its end as a narrower window makes the row taller.
    UserSettingsManager::sharedInstance().setChatFontSize(0);
    pane->resize(1000, 400);
    pane->reloadData();
    QApplication::processEvents();
    pane->scrollToEnd();
    pane->resize(560, 400);
    QApplication::processEvents();
    const QScrollBar* bar = pane->tableView()->verticalScrollBar();
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());
}

// ---- Sending ----

TEST_F(ChatTablePane, SendFlashAndReturnPostTheSixKeys) {
    setClients({"bob"});
    showPane();
    const std::string chatID = ChatManager::uuid();

    pane->sendClicked(*pane->sendButton());
    ASSERT_EQ(posted.posted.size(), 1u) << "Send sends an empty text too";
    const Dictionary empty = posted.posted[0];
    EXPECT_EQ(empty.size(), 6u);
    EXPECT_EQ(empty["message"], Value(""));
    EXPECT_EQ(empty["sender"], Value("me"));
    EXPECT_EQ(empty["uuid"], Value(chatID));
    EXPECT_EQ(empty["type"], Value(0));
    EXPECT_EQ(empty["recipient"], Value("All"));
    ASSERT_TRUE(empty["messageId"].stringValue());
    EXPECT_EQ(empty["messageId"].stringValue()->size(), 36u);

    pane->sendClicked(*pane->flashButton());
    ASSERT_EQ(posted.posted.size(), 2u);
    EXPECT_EQ(posted.posted[1]["message"], Value("me paging!"));
    EXPECT_EQ(posted.posted[1]["type"], Value(5));
    EXPECT_NE(posted.posted[1]["messageId"], empty["messageId"]) << "a fresh id each time";

    pane->returnPressed();
    EXPECT_EQ(posted.posted.size(), 2u) << "Return with an empty field sends nothing";

    pane->chatTarget()->setCurrentIndex(1);
    QTest::keyClicks(pane->textField(), "hello bob");
    QTest::keyClick(pane->textField(), Qt::Key_Return);
    ASSERT_EQ(posted.posted.size(), 3u);
    EXPECT_EQ(posted.posted[2]["message"], Value("hello bob"));
    EXPECT_EQ(posted.posted[2]["type"], Value(0));
    EXPECT_EQ(posted.posted[2]["recipient"], Value("bob"));
    EXPECT_TRUE(pane->textField()->text().isEmpty());

    pane->textField()->setText("look");
    pane->sendClicked(*pane->flashButton());
    EXPECT_EQ(posted.posted[3]["message"], Value("look"));
    EXPECT_EQ(posted.posted[3]["type"], Value(5));
    EXPECT_EQ(posted.posted[3]["recipient"], Value("bob"));
    EXPECT_TRUE(link.sent.empty()) << "the main window sends; the pane only posts";
}

TEST_F(ChatTablePane, ALockedPaneSendsNothingButStillCollapses) {
    store("me", "mine", 0, "AAAA-1");
    showPane();
    pane->textField()->setText("held");
    pane->lock(true);
    EXPECT_TRUE(pane->lockView()->isCovering());
    EXPECT_FALSE(pane->isEnabled()) << "the cover takes the pane's input";
    pane->sendClicked(*pane->sendButton());
    pane->sendClicked(*pane->flashButton());
    pane->returnPressed();
    EXPECT_TRUE(posted.posted.empty());
    EXPECT_EQ(pane->textField()->text(), "held") << "the text waits in the field";

    pane->sendClicked(*pane->expandButton());
    EXPECT_EQ(pane->expandButton()->title()->text(), "+");
    pane->sendClicked(*pane->expandButton());
    EXPECT_EQ(pane->expandButton()->title()->text(), "-");
    EXPECT_EQ(expands.requests, (std::vector<bool>{false, true}));
    EXPECT_TRUE(posted.posted.empty()) << "the expand button sends nothing";
    pressRow(0, 1.0);
    EXPECT_TRUE(alerts.alerts.empty()) << "nor does a long press under the cover";

    pane->lock(false);
    pane->sendClicked(*pane->sendButton());
    ASSERT_EQ(posted.posted.size(), 1u);
    EXPECT_EQ(posted.posted[0]["message"], Value("held"));
}

// ---- Recipients ----

TEST_F(ChatTablePane, TheRecipientsAreAllAndTheOtherUsersNeverThisOne) {
    setClients({"bob", "me", "carol"});
    showPane();
    QComboBox* target = pane->chatTarget();
    ASSERT_EQ(target->count(), 3);
    EXPECT_EQ(target->itemText(0), "All");
    EXPECT_EQ(target->itemText(1), "bob");
    EXPECT_EQ(target->itemText(2), "carol");
    EXPECT_EQ(target->currentIndex(), 0);

    pane->recipientChanged(2);
    EXPECT_EQ(UserSettingsManager::sharedInstance().chatReceiver(), "carol");

    // A new list starts again at "All"; this user last in it is left out as well.
    target->setCurrentIndex(1);
    setClients({"dan", "me"});
    pane->updateClients();
    ASSERT_EQ(target->count(), 2);
    EXPECT_EQ(target->itemText(1), "dan");
    EXPECT_EQ(target->currentText(), "All");
}

// ---- Deleting own messages ----

TEST_F(ChatTablePane, ALongPressOnAnOwnMessageAsksAndDeletesOnlyOnDelete) {
    store("me", "mine <1>", 0, "AAAA-1");
    store("bob", "his", 0, "BBBB-2");
    store("me", "sent by a quick message, without an id");
    showPane();

    pressRow(0, 0.4);
    EXPECT_TRUE(alerts.alerts.empty()) << "released before 0.5 s";

    alerts.answer = 1;  // Cancel
    pressRow(0, 0.5);
    ASSERT_EQ(alerts.alerts.size(), 1u);
    const Alert& question = alerts.alerts[0];
    EXPECT_EQ(question.messageText, "Delete");
    EXPECT_EQ(question.informativeText, "Are you sure you want to delete this message <mine <1>>?");
    EXPECT_EQ(question.style, Alert::Style::Warning);
    EXPECT_EQ(question.buttons, (std::vector<std::string>{"Delete", "Cancel"}));
    EXPECT_EQ(ChatManager::messages()[0]->message(), "mine <1>") << "Cancel keeps it";
    EXPECT_TRUE(link.sent.empty());

    pressRow(1, 1.0);
    EXPECT_EQ(alerts.alerts.size(), 1u) << "another user's message answers no long press";
    pressRow(2, 1.0);
    EXPECT_EQ(alerts.alerts.size(), 1u) << "an own message without an id offers no delete";

    alerts.answer = 0;  // Delete
    pressRow(0, 0.5);
    ASSERT_EQ(alerts.alerts.size(), 2u);
    ASSERT_EQ(link.sent.size(), 1u);
    EXPECT_EQ(link.sent[0], (Dictionary{{"Command", "ChatRemoveMessage"}, {"Value", "AAAA-1"}}));
    EXPECT_EQ(pane->numberOfRows(), 3) << "the row stays";
    EXPECT_EQ(cell(0, 2), "14:05: <message removed>") << "reloaded through RefreshChat";
    EXPECT_TRUE(cellData(0, 2, Qt::FontRole).value<QFont>().italic());
}

/// Answers "Delete", while new messages arrive and the table reloads under the question.
class RowsArriveDuringTheQuestion : public RecordingAlerts {
  public:
    explicit RowsArriveDuringTheQuestion(ChatTableViewController& pane) : pane_(pane) {}
    int runModal(QWidget* window, const Alert& alert) override {
        auto early = std::make_shared<ChatMessage>();
        early->setSender("me");
        early->setMessage("arrived meanwhile");
        early->setMessageId("CCCC-3");
        auto& messages = ChatManager::messages();
        messages.insert(messages.begin(), early);
        pane_.reloadData();
        return RecordingAlerts::runModal(window, alert);
    }

  private:
    ChatTableViewController& pane_;
};

TEST_F(ChatTablePane, TheDeletedMessageIsTheOnePressedEvenIfRowsMoveDuringTheQuestion) {
    store("me", "pressed", 0, "AAAA-1");
    showPane();
    RowsArriveDuringTheQuestion question(*pane);
    pane->setAlertPresenter(&question);
    pressRow(0, 0.5);
    ASSERT_EQ(question.alerts.size(), 1u);
    ASSERT_EQ(link.sent.size(), 1u);
    EXPECT_EQ(link.sent[0]["Value"], Value("AAAA-1"));
    EXPECT_EQ(ChatManager::messages()[0]->message(), "arrived meanwhile");
    EXPECT_EQ(ChatManager::messages()[1]->message(), ChatMessage::kRemovedText);
}

// ---- The services it is given ----

TEST_F(ChatTablePane, ReadsAndTellsTheServicesItIsGivenNotTheSharedOnes) {
    setClients({"bob"});
    ChatManager chat;
    chat.chatClients() = {ChatClient{"dora", "10.0.0.9", std::nullopt, "D0"}};
    UserDefaults ownDefaults("/nonexistent/quenbril-chat-pane", "Defaults");
    UserSettingsManager settings(ownDefaults);
    settings.setChatUsername("zed");
    NotificationCenter center;
    std::vector<Dictionary> told;
    const NotificationObserver listener = center.addObserver(
        ChatNotification::kChatMessage, [&](const Notification& n) { told.push_back(n.userInfo); });
    ChatTableViewController own(
        ChatServices{chat, ChatColorManager::sharedInstance(), ColorHelper::sharedInstance(),
                     settings, ChannelStripManager::sharedInstance(), defaults(), center});

    own.updateClients();
    ASSERT_EQ(own.chatTarget()->count(), 2);
    EXPECT_EQ(own.chatTarget()->itemText(1), "dora");
    own.textField()->setText("hello");
    own.returnPressed();
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0]["sender"], Value("zed"));
    EXPECT_TRUE(posted.posted.empty()) << "nothing is posted to the shared centre";
}

}  // namespace
}  // namespace quenbril::test

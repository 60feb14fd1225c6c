// The MIDI macro editor, offscreen: the table's texts, learning through the button, editing and
// removing rows, and what closing does to a pending learn.

#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

#include "MonitorApp/chat/ChatMacroManager.h"
#include "MonitorApp/chat/ui/ChatMacroViewController.h"
#include "tests/MonitorApp/Recorders.h"
#include "tests/MonitorApp/chat/ui/ChatUiTest.h"
#include "tests/MonitorApp/chat/ui/PluggedMidiInput.h"

namespace quenbril::test {
namespace {

Dictionary event(int command, int channel, int b1, int b2) {
    return Dictionary{{"byte1", b1}, {"byte2", b2}, {"channel", channel}, {"command", command}};
}

class ChatMacroEditorTest : public ChatUiTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(ChatUiTest::SetUp());
        ChatMacroManager::resetSharedInstance();
        midi = std::make_unique<PluggedMidiInput>(*loop_);
        ASSERT_TRUE(midi->found());
        editor = std::make_unique<ChatMacroViewController>(
            macros(), NotificationCenter::defaultCenter(), UserSettingsManager::sharedInstance());
        editor->setAlertPresenter(&alerts);
        editor->show();
    }
    void TearDown() override {
        editor.reset();
        midi.reset();
        ChatMacroManager::resetSharedInstance();
        ChatUiTest::TearDown();
    }
    static ChatMacroManager& macros() { return ChatMacroManager::sharedInstance(); }
    void learnThroughTheEditor(const std::string& text, const Dictionary& e) {
        editor->textField()->setText(QString::fromStdString(text));
        editor->learnButton()->click();
        NotificationCenter::defaultCenter().post("MIDIEventReceived", e);
    }
    std::string cell(int row, int column) const {
        return editor->tableView()->item(row, column)->text().toStdString();
    }
    void selectRows(std::initializer_list<int> rows) {
        QItemSelectionModel* selection = editor->tableView()->selectionModel();
        selection->clearSelection();
        for (int row : rows) {
            selection->select(editor->tableView()->model()->index(row, 0),
                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
    }

    RecordingAlerts alerts;
    std::unique_ptr<PluggedMidiInput> midi;
    std::unique_ptr<ChatMacroViewController> editor;
};

TEST_F(ChatMacroEditorTest, WithoutAnyMidiInputLearnSaysSoInsteadOfLearningForEver) {
    midi.reset();
    editor->textField()->setText("Mic 3 check");
    editor->learnButton()->click();
    EXPECT_EQ(alerts.texts, std::vector<std::string>{ChatMacroViewController::kNoMidiInputAlert});
    EXPECT_EQ(editor->learnButton()->text().toStdString(), ChatMacroViewController::kLearnTitle);
    EXPECT_FALSE(macros().learning());
    EXPECT_TRUE(editor->textField()->isEnabled());
}

TEST_F(ChatMacroEditorTest, ALearntEventShowsAsFourNumbersAndTheFieldIsReadyAgain) {
    learnThroughTheEditor("Mic 3 check", event(0xB0, 2, 7, 127));
    ASSERT_EQ(editor->tableView()->rowCount(), 1);
    EXPECT_EQ(cell(0, 0), "Mic 3 check");
    EXPECT_EQ(cell(0, 1), "7 127 2 176");
    EXPECT_EQ(editor->learnButton()->text().toStdString(), ChatMacroViewController::kLearnTitle);
    EXPECT_TRUE(editor->textField()->isEnabled());
    EXPECT_TRUE(editor->textField()->text().isEmpty());
}

TEST_F(ChatMacroEditorTest, AnEmptyFieldAlertsAndASecondClickCancelsTheLearn) {
    editor->learnButton()->click();
    EXPECT_EQ(alerts.texts, std::vector<std::string>{ChatMacroViewController::kEmptyTextAlert});
    EXPECT_FALSE(macros().learning());

    editor->textField()->setText("x");
    editor->learnButton()->click();
    EXPECT_EQ(editor->learnButton()->text().toStdString(), ChatMacroViewController::kLearningTitle);
    EXPECT_FALSE(editor->textField()->isEnabled());
    editor->learnButton()->click();
    EXPECT_FALSE(macros().learning());
    EXPECT_TRUE(editor->textField()->isEnabled());
}

TEST_F(ChatMacroEditorTest, AnEditChangesOnlyTheSelectedRowAndRemoveTakesEverySelectedRow) {
    for (int i = 0; i < 3; ++i)
        learnThroughTheEditor("m" + std::to_string(i), event(0x90, 0, i, 1));
    selectRows({1});
    editor->tableView()->item(2, 0)->setText("edited");
    EXPECT_EQ(cell(1, 0), "edited");
    EXPECT_EQ(cell(2, 0), "m2") << "the edited cell outside the selection is put back";

    selectRows({});
    editor->tableView()->item(0, 0)->setText("nothing selected");
    EXPECT_EQ(cell(0, 0), "m0");

    selectRows({0, 2});
    editor->removeButton()->click();
    ASSERT_EQ(macros().macros().size(), 1u);
    EXPECT_EQ(cell(0, 0), "edited");
}

TEST_F(ChatMacroEditorTest, ClosingDuringALearnCancelsItAndStoresTheList) {
    learnThroughTheEditor("kept", event(0x90, 0, 60, 100));
    editor->textField()->setText("pending");
    editor->learnButton()->click();
    editor->closeClicked();
    EXPECT_FALSE(macros().learning());
    EXPECT_EQ(macros().learnString(), "");
    const auto stored = defaults().arrayForKey(ChatMacroManager::kDefaultsKey);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->size(), 1u);
    NotificationCenter::defaultCenter().post("MIDIEventReceived", event(0x90, 0, 1, 1));
    EXPECT_EQ(macros().macros().size(), 1u) << "no learn is left pending";
}

}  // namespace
}  // namespace quenbril::test

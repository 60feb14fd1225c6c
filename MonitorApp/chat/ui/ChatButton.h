#pragma once

#include <QWidget>
#include <cstdint>
#include <string>

#include "MonitorApp/chat/ui/ChatServices.h"
#include "MonitorApp/controls/ControlImage.h"

class QLabel;

namespace quenbril {

class ChatButtonDelegate;

/// One quick-message button: "Send_up.png" at rest, "Send_down.png" while pressed, its text in
/// the middle and its key label ("F8" for slot 0 up to "F1" for slot 7) in the top right corner.
/// A release anywhere after a press on it, or its key, posts the text as a "ChatMessage" to the
/// delegate's recipient. Main thread only.
class ChatButton : public QWidget {
  public:
    /// Slots run 0..7; the key label and the default text count down from 8.
    static constexpr int kSlotCount = 8;

    /// `services`: the sender name, the stored texts and where a message is posted.
    explicit ChatButton(const ChatServices& services, QWidget* parent = nullptr);

    int32_t myTag() const { return myTag_; }
    /// Stores the slot and labels the key "F<8 - tag>".
    void setMyTag(int32_t tag);
    ChatButtonDelegate* delegate() const { return delegate_; }
    /// Not owned; the delegate clears it before it goes away.
    void setDelegate(ChatButtonDelegate* delegate) { delegate_ = delegate; }
    QLabel* title() const { return title_; }
    QLabel* functionButton() const { return functionButton_; }
    bool buttonDown() const { return buttonDown_; }

    /// The whole text is sent; the face shows what fits, cut with an ellipsis.
    void setText(const std::string& text);
    std::string text() const;
    /// Sends the text, as a click does.
    void send();
    /// The text stored for this slot ("CB <tag>"), else "Custom message <8 - tag>".
    void readUserData();
    /// The end of editing in the title: the title is not editable again, and the text is
    /// stored for this slot and written out. Nothing here makes the title editable; stored
    /// texts come from the chat settings.
    void textEdited();
    /// Lays the text out for the button's size: centred vertically, in the smaller face when
    /// the button is narrow, wrapped at spaces, and a word or a last line that finds no room
    /// cut with an ellipsis rather than clipped.
    void updatePositions();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void placeFunctionButton();

    ChatServices services_;
    ControlImage upButton_;
    ControlImage downButton_;
    bool buttonDown_ = false;
    int32_t myTag_ = 0;
    ChatButtonDelegate* delegate_ = nullptr;
    QString text_;
    QLabel* title_;
    QLabel* functionButton_;
};

}  // namespace quenbril

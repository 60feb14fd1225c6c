#pragma once

#include <QComboBox>
#include <QString>

namespace quenbril {

/// The chat window's recipient pop-up: "All" and the chat users' names. Closed, it is as wide as
/// the longest name listed now needs (up to RecipientName::widest()) and never narrower, so the
/// chosen name is drawn whole; a longer name is drawn with its middle elided, and its tooltip
/// gives it whole. The opened list is as wide as its longest name, up to the screen's width, past
/// which names are elided in the middle too. The item texts stay the whole names. Main thread
/// only.
class RecipientPopUp : public QComboBox {
  public:
    explicit RecipientPopUp(QWidget* parent = nullptr);

    QSize sizeHint() const override;
    /// The same as the size hint: a layout short of room must not cut the chosen name.
    QSize minimumSizeHint() const override;
    /// The chosen name as the closed pop-up draws it.
    QString shownText() const;

  protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace quenbril

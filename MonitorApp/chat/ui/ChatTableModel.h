#pragma once

#include <QAbstractTableModel>
#include <QFont>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "MonitorApp/chat/ChatMessage.h"
#include "MonitorApp/chat/ui/ChatServices.h"

namespace quenbril {

/// The rows of the chat window's message table: the stored messages its filters let through, in
/// store order, with three columns ("time", "source", "message"). It answers the display text,
/// font and colour of each cell, all as plain text, and the measured height of each row.
///
/// The visible rows are picked once per reload, and a row's height is measured once per text,
/// font size and column width, when it is asked for, so a reload of a long store stays cheap.
/// Main thread only.
class ChatTableModel : public QAbstractTableModel {
  public:
    enum Column { kTimeColumn = 0, kSourceColumn = 1, kMessageColumn = 2, kColumnCount = 3 };
    /// Point size of the "time" and "source" columns.
    static constexpr int kSmallFontSize = 10;

    /// Which categories of messages the table shows ("chatSettings": "userMes", "snaps",
    /// "alerts").
    struct Filters {
        bool userMes = true;
        bool snaps = true;
        bool alerts = true;
        /// Read from the user defaults: everything is shown when "chatSettings" is missing (or
        /// is no dictionary); otherwise an entry shows its category when it is non-zero, and a
        /// missing entry hides it.
        static Filters fromDefaults(const UserDefaults& defaults);
    };

    /// `services`: the chat font size, the senders' colours and the stored filters.
    explicit ChatTableModel(const ChatServices& services, QObject* parent = nullptr);

    /// The column's identifier: "time", "source" or "message".
    static QString columnId(int column);
    /// Whether the filters let `message` into the table.
    static bool showMessage(const ChatMessage& message, const Filters& filters);
    /// Point size of the chat text for the setting `chatFontSize`: 0 gives 36, 1 gives 24, 2
    /// gives 12, 3 gives 0 (the system font's own size), anything else 24.
    static int fontSize(int chatFontSize);
    /// The date (seconds since 2001-01-01) as the locale's short time of day, hours and
    /// minutes; empty for none.
    static QString shortTime(const std::optional<double>& date);
    /// The "source" cell: sender and recipient on two lines, or the time over the kind of an
    /// alert or snapshot message.
    static QString sourceText(const ChatMessage& message);
    /// The "message" cell: the time and the text.
    static QString messageText(const ChatMessage& message);
    /// Whether the message was removed (it carries the removed marker as its chat id).
    static bool isRemoved(const ChatMessage& message);

    /// Picks the visible rows of the store anew with the current filters and font size.
    void reload();
    /// The message of a visible row; none past the rows.
    std::shared_ptr<ChatMessage> messageAtRow(int row) const;

    /// The width the "message" column wraps its text in; a change measures the rows anew.
    void setMessageWidth(int width);
    int messageWidth() const { return messageWidth_; }
    /// How the view measures a row: the height its cells need for the texts and fonts it draws
    /// them in, at the columns' widths.
    using RowMeasure = std::function<int(int row)>;
    void setRowMeasure(RowMeasure measure) {
        measure_ = std::move(measure);
        heights_.clear();
    }
    /// The row's height as the measure gives it, measured once per text, font size and message
    /// width. 0 past the rows and without a measure.
    int rowHeight(int row);
    /// The height rowHeight() has measured for the row as it is now; 0 while it is not
    /// measured (measuring takes the text's layout, which is what a long store must not pay
    /// for rows nobody sees).
    int measuredRowHeight(int row) const;
    /// The height a row is given until it is measured: one line of the chat text, or the two
    /// small lines of the source, with the cells' margins.
    int estimatedRowHeight() const;
    /// The chat text's font (system font at the chat font size).
    const QFont& messageFont() const { return messageFont_; }
    /// The font of the "time" and "source" columns.
    const QFont& smallFont() const { return smallFont_; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

  private:
    struct Row {
        std::shared_ptr<ChatMessage> message;
        // The cell texts, made when first asked for; a reload makes the rows anew.
        mutable std::optional<QString> source;
        mutable std::optional<QString> text;
        mutable std::optional<QString> time;
    };
    struct MeasuredHeight {
        QString text;
        int height = 0;
    };

    QVariant textOf(const Row& row, int column) const;
    QVariant fontOf(const Row& row, int column) const;
    QVariant colorOf(const Row& row, int column) const;
    void setFontSize(int points);

    std::vector<Row> rows_;
    // Heights by message, each with the text it was measured for; valid for one font and width.
    std::unordered_map<const ChatMessage*, MeasuredHeight> heights_;
    int messageWidth_ = 0;
    RowMeasure measure_;
    ChatServices services_;
    int fontSize_ = -1;
    QFont messageFont_;
    QFont smallFont_;
    QFont removedFont_;
};

}  // namespace quenbril

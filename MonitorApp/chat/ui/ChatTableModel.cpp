#include "MonitorApp/chat/ui/ChatTableModel.h"

#include <QDateTime>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLocale>
#include <algorithm>

#include "MonitorApp/chat/ChatColorManager.h"
#include "MonitorApp/chat/ChatManager.h"
#include "MonitorApp/controls/QtColor.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/Log.h"
#include "foundation/UserDefaults.h"

namespace quenbril {

namespace {

constexpr const char* kChatSettingsKey = "chatSettings";
/// Seconds from 1970-01-01 to 2001-01-01, the epoch of the chat's dates.
constexpr double kUnixToReferenceDate = 978307200.0;

bool entryIsOn(const Dictionary& settings, const char* key) {
    return settings[key].longLongValue().value_or(0) != 0;
}

QString fromString(const std::optional<std::string>& text) {
    return text ? QString::fromStdString(*text) : QString();
}

}  // namespace

ChatTableModel::Filters ChatTableModel::Filters::fromDefaults(const UserDefaults& defaults) {
    Filters filters;
    if (auto settings = defaults.dictionaryForKey(kChatSettingsKey)) {
        filters.userMes = entryIsOn(*settings, "userMes");
        filters.snaps = entryIsOn(*settings, "snaps");
        filters.alerts = entryIsOn(*settings, "alerts");
    }
    return filters;
}

ChatTableModel::ChatTableModel(const ChatServices& services, QObject* parent)
    : QAbstractTableModel(parent), services_(services) {
    // The small face does not follow the chat font size; it is known before the first reload.
    smallFont_ = QGuiApplication::font();
    smallFont_.setPointSize(kSmallFontSize);
}

QString ChatTableModel::columnId(int column) {
    switch (column) {
        case kTimeColumn:
            return "time";
        case kSourceColumn:
            return "source";
        default:
            return "message";
    }
}

bool ChatTableModel::showMessage(const ChatMessage& message, const Filters& filters) {
    switch (message.messageType()) {
        case ChatMessage::kPage:
            return true;
        case ChatMessage::kText:
            return filters.userMes;
        case ChatMessage::kSnapshotChanged:
            return filters.snaps;
        case ChatMessage::kSCPAlert:
        case ChatMessage::kAlert:
            return filters.alerts;
        default:
            return message.isAlertReset() ? filters.alerts : true;
    }
}

int ChatTableModel::fontSize(int chatFontSize) {
    switch (chatFontSize) {
        case 0:
            return 36;
        case 1:
            return 24;
        case 2:
            return 12;
        case 3:
            return 0;
        default:
            return 24;
    }
}

QString ChatTableModel::shortTime(const std::optional<double>& date) {
    if (!date) return {};
    const auto msecs = static_cast<qint64>((*date + kUnixToReferenceDate) * 1000.0);
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(msecs).toLocalTime();
    return QLocale().toString(local.time(), QLocale::ShortFormat);
}

QString ChatTableModel::sourceText(const ChatMessage& message) {
    // The alert reset is told by its text whatever its type; a snapshot message before an SCP
    // alert.
    const char* kind = nullptr;
    if (message.isAlertReset()) {
        kind = "Alert reset";
    } else if (message.messageType() == ChatMessage::kSnapshotChanged) {
        kind = "Snapshot changed";
    } else if (message.messageType() == ChatMessage::kSCPAlert) {
        kind = "SCP alert";
    }
    if (kind) return shortTime(message.date()) + "\n" + kind;
    return fromString(message.sender()) + "\n" + fromString(message.recipient());
}

QString ChatTableModel::messageText(const ChatMessage& message) {
    const QString text = fromString(message.message());
    if (!message.date()) {
        // A placeholder shows nothing; a message of a history without a date shows its text.
        return text;
    }
    return shortTime(message.date()) + ": " + text;
}

bool ChatTableModel::isRemoved(const ChatMessage& message) {
    return message.uuid() == std::string(ChatMessage::kRemovedUUID);
}

void ChatTableModel::setFontSize(int points) {
    if (points == fontSize_) return;
    fontSize_ = points;
    const QFont system = QGuiApplication::font();
    messageFont_ = system;
    if (points > 0) messageFont_.setPointSize(points);
    smallFont_ = system;
    smallFont_.setPointSize(kSmallFontSize);
    removedFont_ = QFont("Arial Italic");
    removedFont_.setItalic(true);
    removedFont_.setPointSizeF(points > 0 ? points : system.pointSizeF());
    heights_.clear();
}

void ChatTableModel::reload() {
    setFontSize(fontSize(services_.settings.chatFontSize()));
    const Filters filters = Filters::fromDefaults(services_.defaults);
    const ChatManager::Messages& store = ChatManager::messages();
    std::vector<Row> rows;
    rows.reserve(store.size());
    for (const auto& message : store) {
        if (message && showMessage(*message, filters)) rows.push_back(Row{message, {}, {}, {}});
    }
    const bool sameRows =
        std::equal(rows.begin(), rows.end(), rows_.begin(), rows_.end(),
                   [](const Row& a, const Row& b) { return a.message == b.message; });
    if (sameRows) {
        // Only texts or looks changed (a removal, new settings): the view keeps its place.
        rows_ = std::move(rows);
        if (!rows_.empty()) {
            emit dataChanged(index(0, 0), index(rowCount() - 1, kColumnCount - 1));
        }
    } else {
        beginResetModel();
        rows_ = std::move(rows);
        endResetModel();
    }
    // Heights of messages that left the store go now and then, not on every reload.
    if (heights_.size() > 2 * rows_.size() + 64) {
        std::unordered_map<const ChatMessage*, MeasuredHeight> kept;
        for (const Row& row : rows_) {
            auto found = heights_.find(row.message.get());
            if (found != heights_.end()) kept.emplace(found->first, std::move(found->second));
        }
        heights_ = std::move(kept);
    }
}

std::shared_ptr<ChatMessage> ChatTableModel::messageAtRow(int row) const {
    if (row < 0 || static_cast<size_t>(row) >= rows_.size()) return nullptr;
    return rows_[static_cast<size_t>(row)].message;
}

void ChatTableModel::setMessageWidth(int width) {
    if (width == messageWidth_) return;
    messageWidth_ = width;
    heights_.clear();
}

int ChatTableModel::rowHeight(int row) {
    const std::shared_ptr<ChatMessage> message = messageAtRow(row);
    if (!message || !measure_) return 0;
    // The text the row shows: a removal changes it, and then the row is measured again.
    const QString text = textOf(rows_[static_cast<size_t>(row)], kMessageColumn).toString();
    MeasuredHeight& measured = heights_[message.get()];
    if (measured.height == 0 || measured.text != text) {
        measured.text = text;
        measured.height = measure_(row);
    }
    return measured.height;
}

int ChatTableModel::measuredRowHeight(int row) const {
    const std::shared_ptr<ChatMessage> message = messageAtRow(row);
    if (!message) return 0;
    const auto found = heights_.find(message.get());
    if (found == heights_.end() || found->second.height == 0) return 0;
    const QString text = textOf(rows_[static_cast<size_t>(row)], kMessageColumn).toString();
    return found->second.text == text ? found->second.height : 0;
}

int ChatTableModel::estimatedRowHeight() const {
    const int message = QFontMetrics(messageFont_).lineSpacing();
    const int source = 2 * QFontMetrics(smallFont_).lineSpacing();
    // The cells' margins, as the view adds them to what it measures.
    return std::max(message, source) + 4;
}

int ChatTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int ChatTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

Qt::ItemFlags ChatTableModel::flags(const QModelIndex& index) const {
    // Shown, never selected or edited.
    return index.isValid() ? Qt::ItemIsEnabled : Qt::NoItemFlags;
}

QVariant ChatTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole) return columnId(section);
    return {};
}

QVariant ChatTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.column() >= kColumnCount) return {};
    if (index.row() < 0 || static_cast<size_t>(index.row()) >= rows_.size()) {
        log(LogLevel::Warning, "Chat message missing!!");
        return {};
    }
    const Row& row = rows_[static_cast<size_t>(index.row())];
    switch (role) {
        case Qt::DisplayRole:
            return textOf(row, index.column());
        case Qt::FontRole:
            return fontOf(row, index.column());
        case Qt::ForegroundRole:
            return colorOf(row, index.column());
        case Qt::TextAlignmentRole:
            return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignTop));
        default:
            return {};
    }
}

QVariant ChatTableModel::textOf(const Row& row, int column) const {
    std::optional<QString>* cached = nullptr;
    switch (column) {
        case kTimeColumn:
            cached = &row.time;
            if (!*cached) *cached = shortTime(row.message->date());
            break;
        case kSourceColumn:
            cached = &row.source;
            if (!*cached) *cached = sourceText(*row.message);
            break;
        default:
            cached = &row.text;
            if (!*cached) *cached = messageText(*row.message);
            break;
    }
    return **cached;
}

QVariant ChatTableModel::fontOf(const Row& row, int column) const {
    if (column != kMessageColumn) return smallFont_;
    return isRemoved(*row.message) ? removedFont_ : messageFont_;
}

QVariant ChatTableModel::colorOf(const Row& row, int column) const {
    if (column == kSourceColumn) return QColor(Qt::white);
    const ChatMessage& message = *row.message;
    if (message.messageType() == ChatMessage::kSCPAlert) return QColor(Qt::red);
    if (message.messageType() == ChatMessage::kSnapshotChanged) return QColor(Qt::green);
    if (!message.uuid()) return toQColor(services_.colors.colorForChatName(message.sender()));
    if (isRemoved(message)) return toQColor(ColorHelper::messageRemovedColor());
    if (auto color = services_.chatColors.colorForUUID(*message.uuid())) {
        return toQColor(*color);
    }
    // The view's own text colour.
    return {};
}

}  // namespace quenbril

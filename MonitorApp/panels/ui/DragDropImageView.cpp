#include "MonitorApp/panels/ui/DragDropImageView.h"

#include <QApplication>
#include <QBuffer>
#include <QDrag>
#include <QDragEnterEvent>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QMimeData>
#include <QPainter>
#include <QPdfWriter>
#include <QUrl>

#include "MonitorApp/seams/MainWindowSeams.h"
#include "foundation/Log.h"

namespace quenbril {

namespace {

QByteArray toByteArray(const Bytes& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<qsizetype>(bytes.size()));
}

Bytes toBytes(const QByteArray& bytes) {
    return Bytes(reinterpret_cast<const uint8_t*>(bytes.constData()),
                 reinterpret_cast<const uint8_t*>(bytes.constData()) + bytes.size());
}

/// The format the first bytes name: "tiff", "jpeg", or empty to let the reader look.
QByteArray sniffedFormat(const QByteArray& bytes) {
    if (bytes.startsWith("II*\0") || bytes.startsWith(QByteArray("MM\0*", 4))) return "tiff";
    if (bytes.startsWith("\xFF\xD8")) return "jpeg";
    return {};
}

}  // namespace

DragDropImageView::DragDropImageView(QWidget* parent) : QLabel(parent) {
    setAcceptDrops(true);
    setAlignment(Qt::AlignCenter);
    setMinimumSize(64, 64);
}

std::optional<QImage> DragDropImageView::decode(const QByteArray& bytes, std::string* reason) {
    QByteArray data = bytes;
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, sniffedFormat(bytes));
    reader.setDecideFormatFromContent(true);
    QImage image = reader.read();
    if (image.isNull()) {
        if (reason) *reason = reader.errorString().toStdString();
        return std::nullopt;
    }
    return image;
}

Bytes DragDropImageView::jpegData(const QImage& image) {
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    image.convertToFormat(QImage::Format_RGB32).save(&buffer, "JPEG", 50);
    return toBytes(jpeg);
}

std::optional<QImage> DragDropImageView::readFile(const QString& path, std::string* reason) const {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *reason = file.errorString().toStdString();
        return std::nullopt;
    }
    if (file.size() > kMaxFileBytes) {
        *reason = "the file is larger than 64 MiB";
        return std::nullopt;
    }
    return decode(file.readAll(), reason);
}

bool DragDropImageView::setWithURL(const std::string& path) {
    std::string reason;
    std::optional<QImage> picture = readFile(QString::fromStdString(path), &reason);
    if (!picture) {
        refuse(path, reason);
        return false;
    }
    takePicture(*picture);
    return true;
}

void DragDropImageView::showStoredPicture(const std::optional<Bytes>& bytes) {
    imageData_.clear();
    if (!bytes || bytes->empty()) {
        showImage(QImage());
        return;
    }
    std::string reason;
    std::optional<QImage> picture = decode(toByteArray(*bytes), &reason);
    if (!picture) QLOG("A stored player picture cannot be shown: %s", reason.c_str());
    showImage(picture.value_or(QImage()));
}

void DragDropImageView::clearPicture() {
    imageData_.clear();
    showImage(QImage());
}

void DragDropImageView::takePicture(const QImage& picture) {
    Bytes jpeg = jpegData(picture);
    std::optional<QImage> shown = decode(toByteArray(jpeg));
    if (!shown) {
        refuse("the picture", "it cannot be converted to JPEG");
        return;
    }
    imageData_ = std::move(jpeg);
    showImage(*shown);
}

void DragDropImageView::showImage(const QImage& image) {
    image_ = image;
    if (image_.isNull()) {
        setPixmap(QPixmap());
        return;
    }
    setPixmap(
        QPixmap::fromImage(image_.scaled(size(), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
}

void DragDropImageView::refuse(const std::string& what, const std::string& reason) {
    QLOG("Picture refused: %s: %s", what.c_str(), reason.c_str());
    if (alerts_) {
        Alert alert;
        alert.messageText = "The picture " + what + " cannot be used.";
        alert.informativeText = reason;
        alerts_->runModal(this, alert);
    }
}

bool DragDropImageView::carriesPicture(const QMimeData& data) {
    if (data.hasImage()) return true;
    for (const QUrl& url : data.urls()) {
        if (url.isLocalFile()) return true;
    }
    return false;
}

bool DragDropImageView::takeDrop(const QMimeData& data) {
    const QList<QUrl> urls = data.urls();
    bool taken = false;
    if (data.hasImage()) {
        const QImage image = qvariant_cast<QImage>(data.imageData());
        if (!image.isNull()) {
            takePicture(image);
            taken = true;
        }
    }
    if (!taken) {
        for (const QUrl& url : urls) {
            if (!url.isLocalFile()) continue;
            taken = setWithURL(url.toLocalFile().toStdString());
            break;
        }
    }
    if (QWidget* w = window()) {
        w->setWindowTitle(urls.isEmpty() ? QStringLiteral("(no name)")
                                         : urls.first().toString(QUrl::FullyEncoded));
    }
    return taken;
}

QRect DragDropImageView::windowWillUseStandardFrame(const QWidget& window,
                                                    const QRect& defaultFrame) const {
    if (image_.isNull()) return defaultFrame;
    const QSize picture = image_.deviceIndependentSize().toSize().boundedTo(
        defaultFrame.size().expandedTo(QSize(1, 1)));
    return QRect(window.geometry().topLeft(), picture);
}

QMimeData* DragDropImageView::makeDragData() const {
    auto* data = new QMimeData;
    if (image_.isNull()) return data;
    QByteArray tiff;
    QBuffer tiffBuffer(&tiff);
    tiffBuffer.open(QIODevice::WriteOnly);
    image_.save(&tiffBuffer, "TIFF");
    data->setData("image/tiff", tiff);

    QByteArray pdf;
    QBuffer pdfBuffer(&pdf);
    pdfBuffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&pdfBuffer);
        writer.setPageSize(QPageSize(QSizeF(width(), height()), QPageSize::Point));
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        writer.setResolution(72);
        QPainter painter(&writer);
        painter.drawImage(QRect(0, 0, width(), height()),
                          image_.scaled(size(), Qt::KeepAspectRatio));
    }
    data->setData("application/pdf", pdf);
    data->setData(kPrivateType, toByteArray(imageData_));
    return data;
}

void DragDropImageView::dragEnterEvent(QDragEnterEvent* event) {
    if (!carriesPicture(*event->mimeData()) || !(event->possibleActions() & Qt::CopyAction)) {
        event->ignore();
        return;
    }
    highlight_ = true;
    update();
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void DragDropImageView::dragLeaveEvent(QDragLeaveEvent* event) {
    highlight_ = false;
    update();
    QLabel::dragLeaveEvent(event);
}

void DragDropImageView::dropEvent(QDropEvent* event) {
    highlight_ = false;
    update();
    // A drag that started here is no new picture.
    if (event->source() == this) {
        event->ignore();
        return;
    }
    takeDrop(*event->mimeData());
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void DragDropImageView::mousePressEvent(QMouseEvent* event) {
    if (image_.isNull() || event->button() != Qt::LeftButton) {
        QLabel::mousePressEvent(event);
        return;
    }
    auto* drag = new QDrag(this);
    drag->setMimeData(makeDragData());
    drag->setPixmap(pixmap());
    drag->exec(Qt::CopyAction);
}

void DragDropImageView::paintEvent(QPaintEvent* event) {
    QLabel::paintEvent(event);
    if (!highlight_) return;
    QPainter painter(this);
    painter.setPen(QPen(Qt::gray, 5.0));
    painter.drawRect(rect().adjusted(2, 2, -3, -3));
}

void DragDropImageView::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    showImage(image_);
}

}  // namespace quenbril

#pragma once

#include <QImage>
#include <QLabel>
#include <optional>
#include <string>

#include "foundation/Value.h"

class QMimeData;

namespace quenbril {

class AlertPresenter;

/// The performer editor's picture: it takes a picture dropped on it (a file, a URL or image
/// data) or read from a file, keeps it as JPEG at quality 50 and shows that JPEG, so what is
/// shown is what will be stored. It can itself be dragged out as TIFF, PDF and a private type.
/// A picture that cannot be decoded or is too large gets an alert and the view keeps what it
/// showed. Main thread only.
class DragDropImageView : public QLabel {
  public:
    /// The private type of drags that start on this view.
    static constexpr const char* kPrivateType = "application/x-quenbril-player-picture";
    /// Files larger than this are not read.
    static constexpr qint64 kMaxFileBytes = 64LL * 1024 * 1024;

    explicit DragDropImageView(QWidget* parent = nullptr);

    /// Where undecodable or oversized pictures are reported. Not owned.
    void setAlertPresenter(AlertPresenter* alerts) { alerts_ = alerts; }

    /// Loads the picture of the file at `path`; false (with an alert) when none can be read,
    /// leaving the view as it was.
    bool setWithURL(const std::string& path);
    /// Shows stored picture bytes (TIFF or JPEG, told apart by their first bytes) without
    /// taking them as a new picture; empty or unreadable bytes show no picture.
    void showStoredPicture(const std::optional<Bytes>& bytes);
    /// Shows no picture and forgets a new one.
    void clearPicture();

    /// The JPEG of the last picture dropped or loaded; empty until then.
    const Bytes& imageData() const { return imageData_; }
    void setImageData(Bytes data) { imageData_ = std::move(data); }
    const QImage& image() const { return image_; }
    bool isHighlighted() const { return highlight_; }

    /// A picture decoded from bytes, sniffed as TIFF or JPEG (any other format Qt reads is
    /// tried too); none when it cannot be decoded or exceeds Qt's allocation limit, with the
    /// reason.
    static std::optional<QImage> decode(const QByteArray& bytes, std::string* reason = nullptr);
    /// The picture as JPEG at quality 50.
    static Bytes jpegData(const QImage& image);
    /// The frame a zoom gives the window: the shown picture's size at the window's origin,
    /// no larger than `defaultFrame` (the screen's room); `defaultFrame` itself while no
    /// picture is shown.
    QRect windowWillUseStandardFrame(const QWidget& window, const QRect& defaultFrame) const;
    /// What a drag out of the view carries: TIFF, PDF and the private type.
    QMimeData* makeDragData() const;
    /// Takes a drop's picture (image data first, else the first URL's file) and titles the
    /// window with the URL ("(no name)" without one). False when nothing could be taken.
    bool takeDrop(const QMimeData& data);

  protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    /// The picture as stored JPEG, shown from that JPEG.
    void takePicture(const QImage& picture);
    void showImage(const QImage& image);
    void refuse(const std::string& what, const std::string& reason);
    std::optional<QImage> readFile(const QString& path, std::string* reason) const;
    static bool carriesPicture(const QMimeData& data);

    AlertPresenter* alerts_ = nullptr;
    Bytes imageData_;
    QImage image_;
    bool highlight_ = false;
};

}  // namespace quenbril

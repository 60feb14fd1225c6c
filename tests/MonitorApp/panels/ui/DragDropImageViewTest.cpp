// The player picture view with real picture files in a temporary folder.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QImageReader>
#include <QMimeData>
#include <QTemporaryDir>
#include <QUrl>
#include <QWidget>

#include "MonitorApp/panels/ui/DragDropImageView.h"
#include "MonitorApp/settings/Player.h"
#include "tests/MonitorApp/Recorders.h"

namespace quenbril {
namespace {

class DragDropImageViewTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        view = new DragDropImageView(&window);
        view->setAlertPresenter(&alerts);
        view->resize(120, 120);
    }

    /// A 64 x 48 picture with a sharp red and blue edge, saved in `format`.
    std::string pictureFile(const char* name, const char* format, QSize size = {64, 48}) {
        QImage image(size, QImage::Format_RGB32);
        image.fill(Qt::red);
        for (int y = 0; y < size.height(); ++y) {
            for (int x = size.width() / 2; x < size.width(); ++x) image.setPixel(x, y, 0xff0000ff);
        }
        const QString path = folder.filePath(name);
        EXPECT_TRUE(image.save(path, format));
        return path.toStdString();
    }

    QTemporaryDir folder;
    QWidget window;
    DragDropImageView* view = nullptr;
    RecordingAlerts alerts;
};

TEST_F(DragDropImageViewTest, APictureFileIsKeptAsJpegAndShownFromThatJpeg) {
    EXPECT_TRUE(view->imageData().empty());
    ASSERT_TRUE(view->setWithURL(pictureFile("p.png", "PNG")));
    const Bytes& jpeg = view->imageData();
    ASSERT_GE(jpeg.size(), 2u);
    EXPECT_EQ(jpeg[0], 0xFF);
    EXPECT_EQ(jpeg[1], 0xD8);
    EXPECT_EQ(view->image().size(), QSize(64, 48));
    // Shown from the JPEG: the edge carries compression noise the PNG does not have.
    auto decoded = DragDropImageView::decode(QByteArray(reinterpret_cast<const char*>(jpeg.data()),
                                                        static_cast<qsizetype>(jpeg.size())));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(view->image().convertToFormat(QImage::Format_RGB32),
              decoded->convertToFormat(QImage::Format_RGB32));
    EXPECT_NE(view->image().pixel(31, 10), 0xffff0000u);
}

TEST_F(DragDropImageViewTest, AnUnreadableOrOversizedPictureIsRefusedAndTheViewKeepsItsPicture) {
    ASSERT_TRUE(view->setWithURL(pictureFile("p.png", "PNG")));
    const Bytes kept = view->imageData();

    const std::string garbage = folder.filePath("garbage.jpg").toStdString();
    FILE* f = std::fopen(garbage.c_str(), "wb");
    std::fputs("not a picture", f);
    std::fclose(f);
    EXPECT_FALSE(view->setWithURL(garbage));
    EXPECT_FALSE(view->setWithURL(folder.filePath("missing.png").toStdString()));

    const int limit = QImageReader::allocationLimit();
    QImageReader::setAllocationLimit(1);
    const std::string large = pictureFile("large.png", "PNG", {2000, 2000});
    EXPECT_FALSE(view->setWithURL(large));
    QImageReader::setAllocationLimit(limit);

    EXPECT_EQ(alerts.texts.size(), 3u);
    EXPECT_EQ(view->imageData(), kept);
    EXPECT_EQ(view->image().size(), QSize(64, 48));
}

TEST_F(DragDropImageViewTest, StoredPicturesAreSniffedAsTiffOrJpeg) {
    view->showStoredPicture(Player::dropImageHere());
    EXPECT_FALSE(view->image().isNull());
    EXPECT_TRUE(view->imageData().empty());  // shown, not a new picture
    view->showStoredPicture(Bytes{1, 2, 3});
    EXPECT_TRUE(view->image().isNull());
    EXPECT_TRUE(alerts.texts.empty());
}

TEST_F(DragDropImageViewTest, ADropTakesThePictureAndTitlesTheWindowWithItsURL) {
    const std::string path = pictureFile("dropped.tif", "TIFF");
    QMimeData drop;
    drop.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &drop, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view, &enter);
    EXPECT_TRUE(enter.isAccepted());
    EXPECT_TRUE(view->isHighlighted());
    QDropEvent dropped(QPointF(10, 10), Qt::CopyAction, &drop, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view, &dropped);
    EXPECT_FALSE(view->isHighlighted());
    EXPECT_EQ(window.windowTitle(), QUrl::fromLocalFile(QString::fromStdString(path)).toString());
    EXPECT_EQ(view->imageData().at(0), 0xFF);

    QMimeData imageOnly;
    QImage green(10, 10, QImage::Format_RGB32);
    green.fill(Qt::green);
    imageOnly.setImageData(green);
    EXPECT_TRUE(view->takeDrop(imageOnly));
    EXPECT_EQ(window.windowTitle().toStdString(), "(no name)");
    EXPECT_EQ(view->image().size(), QSize(10, 10));

    QMimeData text;
    text.setText("not a picture");
    QDragEnterEvent refused(QPoint(10, 10), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view, &refused);
    EXPECT_FALSE(refused.isAccepted());
    EXPECT_FALSE(view->isHighlighted());
}

TEST_F(DragDropImageViewTest, ADragOutCarriesTiffPdfAndThePrivateType) {
    ASSERT_TRUE(view->setWithURL(pictureFile("p.png", "PNG")));
    std::unique_ptr<QMimeData> data(view->makeDragData());
    EXPECT_TRUE(data->data("image/tiff").startsWith("II*") ||
                data->data("image/tiff").startsWith("MM"));
    EXPECT_TRUE(data->data("application/pdf").startsWith("%PDF"));
    EXPECT_TRUE(data->hasFormat(DragDropImageView::kPrivateType));
}

}  // namespace
}  // namespace quenbril

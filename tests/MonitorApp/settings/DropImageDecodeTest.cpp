#include <gtest/gtest.h>

#include <QImage>

#include "MonitorApp/settings/Player.h"

namespace quenbril {
namespace {

// The placeholder must be a picture the strip views can show.
TEST(Player, PlaceholderPictureDecodesAsATiff) {
    const Bytes& bytes = Player::dropImageHere();
    QImage image = QImage::fromData(bytes.data(), static_cast<int>(bytes.size()), "TIFF");
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.width(), 96);
    EXPECT_EQ(image.height(), 96);
    EXPECT_EQ(image.pixelColor(48, 30), QColor(150, 150, 150)) << "the arrow";
}

}  // namespace
}  // namespace quenbril

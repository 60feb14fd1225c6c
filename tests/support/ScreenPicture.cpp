#include "tests/support/ScreenPicture.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <utility>
#include <vector>

namespace quenbril::test {

namespace {

// A strip cell is 128 points. Its title bar, a flat area of the strip's colour, runs across
// it inside the border, 101 points below the cell's top and up to 25 points high (the border
// of a soloed strip takes a point more on each side).
constexpr int kCellSide = 128;
constexpr int kTitleBarTop = 101;
constexpr QSize kMinTitleBar(118, 20);
constexpr QSize kMaxTitleBar(126, 27);

}  // namespace

QImage grabScreen(const std::string& screengrabPath) {
    char file[] = "/tmp/quenbril-screen-XXXXXX.png";
    const int fd = ::mkstemps(file, 4);
    if (fd < 0) return {};
    ::close(fd);
    const std::string command = "'" + screengrabPath + "' " + file + " 2>/dev/null";
    QImage picture;
    if (std::system(command.c_str()) == 0) picture.load(QString::fromLocal8Bit(file), "PNG");
    std::remove(file);
    return picture.convertToFormat(QImage::Format_RGB32);
}

QRect windowFrame(const QImage& screen) {
    QRect frame;
    for (int y = 0; y < screen.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(screen.constScanLine(y));
        for (int x = 0; x < screen.width(); ++x) {
            if ((line[x] & 0xffffff) != 0) frame |= QRect(x, y, 1, 1);
        }
    }
    return frame;
}

namespace {

// The areas of one colour that make a title bar: a strip with a warning is hatched across its
// bar, which cuts the bar's colour into slanted pieces whose boxes overlap; a plain bar is one
// area. The bars of two cells side by side never touch.
std::vector<QRect> joinOverlappingPieces(std::vector<std::pair<QRgb, QRect>> pieces) {
    for (bool joined = true; joined;) {
        joined = false;
        for (size_t i = 0; i < pieces.size() && !joined; ++i) {
            for (size_t j = i + 1; j < pieces.size(); ++j) {
                if (pieces[i].first != pieces[j].first ||
                    !pieces[i].second.intersects(pieces[j].second)) {
                    continue;
                }
                pieces[i].second |= pieces[j].second;
                pieces.erase(pieces.begin() + static_cast<std::ptrdiff_t>(j));
                joined = true;
                break;
            }
        }
    }
    std::vector<QRect> areas;
    for (const auto& piece : pieces) areas.push_back(piece.second);
    return areas;
}

}  // namespace

std::vector<QRect> cellsByTitleBars(const QImage& screen, const std::vector<QColor>& colours) {
    std::vector<QRgb> wanted;
    for (const QColor& c : colours) wanted.push_back(c.rgb() & 0xffffff);
    const int w = screen.width();
    const int h = screen.height();
    std::vector<char> seen(static_cast<size_t>(w) * static_cast<size_t>(h), 0);
    std::vector<std::pair<QRgb, QRect>> pieces;
    std::vector<QPoint> stack;
    for (int y0 = 0; y0 < h; ++y0) {
        for (int x0 = 0; x0 < w; ++x0) {
            const QRgb seed = screen.pixel(x0, y0) & 0xffffff;
            if (seen[static_cast<size_t>(y0 * w + x0)] ||
                std::find(wanted.begin(), wanted.end(), seed) == wanted.end()) {
                continue;
            }
            // One connected area of the seed's colour, filled from this pixel.
            auto matches = [&](int x, int y) { return (screen.pixel(x, y) & 0xffffff) == seed; };
            QRect box;
            stack.assign(1, QPoint(x0, y0));
            seen[static_cast<size_t>(y0 * w + x0)] = 1;
            while (!stack.empty()) {
                const QPoint p = stack.back();
                stack.pop_back();
                box |= QRect(p, QSize(1, 1));
                for (QPoint n : {QPoint(p.x() + 1, p.y()), QPoint(p.x() - 1, p.y()),
                                 QPoint(p.x(), p.y() + 1), QPoint(p.x(), p.y() - 1)}) {
                    if (n.x() < 0 || n.y() < 0 || n.x() >= w || n.y() >= h) continue;
                    char& mark = seen[static_cast<size_t>(n.y() * w + n.x())];
                    if (mark || !matches(n.x(), n.y())) continue;
                    mark = 1;
                    stack.push_back(n);
                }
            }
            if (box.width() <= kMaxTitleBar.width() && box.height() <= kMaxTitleBar.height()) {
                pieces.emplace_back(seed, box);
            }
        }
    }
    std::vector<QRect> cells;
    for (const QRect& box : joinOverlappingPieces(std::move(pieces))) {
        const bool barSized =
            box.width() >= kMinTitleBar.width() && box.width() <= kMaxTitleBar.width() &&
            box.height() >= kMinTitleBar.height() && box.height() <= kMaxTitleBar.height();
        if (!barSized) continue;
        // The bar is centred across the cell.
        const int left = (box.left() + box.right() + 1 - kCellSide) / 2;
        cells.push_back(QRect(left, box.top() - kTitleBarTop, kCellSide, kCellSide));
    }
    std::sort(cells.begin(), cells.end(), [](const QRect& a, const QRect& b) {
        return a.top() != b.top() ? a.top() < b.top() : a.left() < b.left();
    });
    return cells;
}

int countColour(const QImage& screen, QColor colour, const QRect& region) {
    const QRgb wanted = colour.rgb() & 0xffffff;
    const QRect r = region & screen.rect();
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) n += (screen.pixel(x, y) & 0xffffff) == wanted;
    }
    return n;
}

int countRed(const QImage& screen, const QRect& region) {
    const QRect r = region & screen.rect();
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) {
            const QRgb p = screen.pixel(x, y);
            n += qRed(p) >= 150 && qGreen(p) < 110 && qBlue(p) < 110;
        }
    }
    return n;
}

}  // namespace quenbril::test

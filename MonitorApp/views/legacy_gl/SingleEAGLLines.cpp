#include "MonitorApp/views/legacy_gl/SingleEAGLLines.h"

#include "MonitorApp/audio/CharRingBuffer.h"
#include "MonitorApp/views/legacy_gl/GLLineBuilder.h"

namespace quenbril {

namespace {

constexpr LevelColor kBlack{0, 0, 0, 1};
constexpr LevelColor kRed{1, 0, 0, 1};
constexpr LevelColor kBlue{0, 0, 1, 1};
constexpr double kDiversityY = -0.99;

/// The byte of a channel at column (start + k) modulo the history's length.
int byteAt(const CharRingBuffer* history, int channel, int64_t start, int k) {
    if (!history) return 0;
    const int8_t* row = history->data()[channel];
    if (!row) return 0;
    return row[wrapIndex(start + k, history->bufferLen())];
}

/// The byte of a channel at column (bufferStart + k) of its own history.
int columnByte(const CharRingBuffer* history, int channel, int k) {
    return history ? byteAt(history, channel, history->bufferStart(), k) : 0;
}

/// One RF antenna's band: the points at or above the floor, broken where they fall below it;
/// a piece that breaks ends with one more point on the other antenna's line.
void rfPieces(const SingleEAGLFrame& frame, const CharRingBuffer* own, const CharRingBuffer* other,
              double half, GLLineBuilder& lines) {
    const int ch = frame.chanIndex;
    bool drawing = false;
    for (int k = 0; k < frame.points; ++k) {
        const double x = k / half - 1.0;
        const double y = singleEAGLRFY(columnByte(own, ch, k));
        if (y < kSingleEAGLFloor) {
            if (drawing) {
                lines.vertex(x, singleEAGLRFY(columnByte(other, ch, k)));
                lines.endStrip();
                drawing = false;
            }
            continue;
        }
        if (!drawing) {
            lines.beginStrip();
            drawing = true;
        }
        lines.vertex(x, y);
    }
    if (drawing) lines.endStrip();
}

/// RF C or D: one strip of the points at or above the floor, joined across the gaps.
void rfJoined(const SingleEAGLFrame& frame, const CharRingBuffer* history, double half,
              GLLineBuilder& lines) {
    lines.beginStrip();
    for (int k = 0; k < frame.points; ++k) {
        const double y = singleEAGLRFY(columnByte(history, frame.chanIndex, k));
        if (y >= kSingleEAGLFloor) lines.vertex(k / half - 1.0, y);
    }
    lines.endStrip();
}

void alerts(const SingleEAGLFrame& frame, GLLineBuilder& lines) {
    const CharRingBuffer* history = frame.histories.alert;
    if (!history) return;
    const int length = history->bufferLen();
    lines.setLineWidth(2.0f);
    lines.setStipple(true);
    int previous = 0;
    for (int k = 0; k < length; ++k) {
        const int e = columnByte(history, frame.chanIndex, k);
        const double x = 2.0 * k / length - 1.0;
        if (e == 1 && previous == 0) {
            lines.setColor(kRed);
            lines.line(x, -0.9, x, 1.0);
        } else if (e == 2) {
            lines.setColor(kBlue);
            lines.line(x, -0.9, x, 1.0);
        }
        previous = e;
    }
    lines.setStipple(false);
}

}  // namespace

void buildSingleEAGLLines(const SingleEAGLFrame& frame, GLLineBuilder& lines) {
    const bool channel = isSingleChannel(frame.chanIndex) && frame.points > 0;
    const double half = frame.points / 2.0;
    const int ch = frame.chanIndex;
    const SingleHistories& h = frame.histories;
    const SingleColors& colors = frame.colors;

    if (channel) {
        lines.setLineWidth(frame.lineThickness);
        if (frame.showAudio) {
            lines.setColor(colors.audio);
            lines.beginStrip();
            for (int k = 0; k < frame.points; ++k) {
                lines.vertex(k / half - 1.0,
                             (2.0 * columnByte(h.level, ch, k) / 100.0 - 1.0) * 0.9);
            }
            lines.endStrip();
        }
        if (frame.showQuality) {
            // The quality history is read at the level history's columns.
            const int64_t start = h.level ? h.level->bufferStart() : 0;
            lines.setLineWidth(2.0f);
            lines.setColor(colors.quality);
            lines.beginStrip();
            for (int k = 0; k < frame.points; ++k) {
                lines.vertex(k / half - 1.0, (0.4 * byteAt(h.quality, ch, start, k) - 1.0) * 0.91);
            }
            lines.endStrip();
        }
        lines.setLineWidth(frame.lineThickness);
        if (frame.showRFA) {
            lines.setColor(colors.rfA);
            rfPieces(frame, h.rfA, h.rfB, half, lines);
        }
        if (frame.showRFB) {
            lines.setColor(colors.rfB);
            rfPieces(frame, h.rfB, h.rfA, half, lines);
        }
        if (frame.quadversity && frame.showRFC) {
            lines.setColor(colors.rfC);
            rfJoined(frame, h.rfC, half, lines);
        }
        if (frame.quadversity && frame.showRFD) {
            lines.setColor(colors.rfD);
            rfJoined(frame, h.rfD, half, lines);
        }

        // The active antenna: a colour chosen after a column's point applies from the next.
        lines.setLineWidth(4.0f);
        lines.setColor(colors.rfB);
        lines.beginStrip();
        for (int k = 0; k < frame.points; ++k) {
            lines.vertex(k / half - 1.0, kDiversityY);
            switch (columnByte(h.diversity, ch, k)) {
                case 0:
                    lines.setColor(kBlack);
                    break;
                case 1:
                    lines.setColor(colors.rfA);
                    break;
                case 2:
                    lines.setColor(colors.rfB);
                    break;
                case 3:
                    lines.setColor(kWhiteLevelColor);
                    break;
                default:
                    break;
            }
        }
        lines.endStrip();
    }

    lines.setLineWidth(3.0f);
    lines.setColor(kRed);
    const double cursor = 2.0 * frame.playbackCursor - 1.0;
    lines.line(cursor, -1.0, cursor, 1.0);

    if (channel) alerts(frame, lines);
}

}  // namespace quenbril

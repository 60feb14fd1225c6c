#include "MonitorApp/views/SingleVertexFill.h"

#include <algorithm>

#include "MonitorApp/audio/CharRingBuffer.h"

namespace quenbril {

namespace {

constexpr double kBand = 0.9;
constexpr double kHalfBand = 0.45;
constexpr double kAudioBand = 0.819;
constexpr LevelColor kRed{1, 0, 0, 1};
constexpr LevelColor kBlue{0, 0, 1, 1};

/// The byte of a channel at column (bufferStart + offset) modulo the history's length.
int historyByte(const CharRingBuffer* history, int channel, int64_t offset) {
    if (!history) return 0;
    const int8_t* row = history->data()[channel];
    if (!row) return 0;
    return row[wrapIndex(history->bufferStart() + offset, history->bufferLen())];
}

void put(LevelVertex& vertex, double x, double y, const LevelColor& color) {
    vertex.x = static_cast<float>(x);
    vertex.y = static_cast<float>(y);
    vertex.color = color;
}

LevelColor diversityColor(int diversity, const SingleColors& colors) {
    switch (diversity) {
        case 1:
            return colors.rfA;
        case 2:
            return colors.rfB;
        case 3:
            return kWhiteLevelColor;
        default:
            // 0 marks no active antenna; an unknown value is drawn as none too.
            return kClearLevelColor;
    }
}

void fillCursor(const SingleFill& fill, SingleVertices& vertices) {
    const double width = fill.drawableWidth;
    const double half = fill.drawableHeight / 2;
    const double cx = (fill.playbackCursor - 0.5) * width + fill.xShift;
    put(vertices.cursor[0], cx, -half, kRed);
    put(vertices.cursor[1], cx, half, kRed);
    put(vertices.cursor[2], cx + 2, -half, kRed);
    put(vertices.cursor[3], cx + 2, half, kRed);
}

}  // namespace

SingleVertices::SingleVertices(uint32_t layers) {
    const size_t count = static_cast<size_t>(layers) * kSingleSamples;
    for (auto* band : {&audio, &rfA, &rfB, &rfC, &rfD, &diversity, &alert, &quality}) {
        band->resize(count);
    }
}

void fillSingleVertices(const SingleFill& fill, SingleVertices& vertices) {
    fillCursor(fill, vertices);
    const size_t total = static_cast<size_t>(fill.layers) * kSingleSamples;
    if (fill.layers == 0 || !isSingleChannel(fill.chanIndex) || vertices.audio.size() < total) {
        return;
    }

    const double width = fill.drawableWidth;
    const double height = fill.drawableHeight;
    const double bottom = kHalfBand * height;
    const double frameHeight = fill.frameHeight;
    const int ch = fill.chanIndex;
    const SingleHistories& h = fill.histories;
    const SingleColors& colors = fill.colors;
    bool spikeDrawn = false;

    for (uint32_t t = 0; t < fill.layers; ++t) {
        for (int i = 0; i < kSingleSamples; ++i) {
            const size_t n = static_cast<size_t>(t) * kSingleSamples + i;
            const int64_t offset = int64_t{t} * kSingleSamples + i;
            const double x = -width / 2 + i * (width / kSingleSamples) - t + fill.xShift;
            const int a = historyByte(h.level, ch, offset);
            const int rA = historyByte(h.rfA, ch, offset);
            const int rB = historyByte(h.rfB, ch, offset);
            const int q = historyByte(h.quality, ch, offset);
            const int d = historyByte(h.diversity, ch, offset);
            const int e = historyByte(h.alert, ch, offset);

            put(vertices.audio[n], x, a / 100.0 * kAudioBand * height - bottom + t, colors.audio);

            const int rfValue = fill.singleLine ? std::max(rA, rB) : rA;
            const LevelColor& rfColor = fill.singleLine && d == 2 ? colors.rfB : colors.rfA;
            put(vertices.rfA[n], x, rfValue / 100.0 * kBand * height - bottom + t, rfColor);
            if (!fill.singleLine) {
                const int rC = historyByte(h.rfC, ch, offset);
                const int rD = historyByte(h.rfD, ch, offset);
                put(vertices.rfB[n], x, rB / 100.0 * kBand * height - bottom + t, colors.rfB);
                put(vertices.rfC[n], x, rC / 100.0 * kBand * height - bottom + t, colors.rfC);
                put(vertices.rfD[n], x, rD / 100.0 * kBand * height - bottom + t, colors.rfD);
            }

            put(vertices.quality[n], x, q / 5.0 * kBand * height - bottom + t, colors.quality);
            put(vertices.diversity[n], x, 3 - height / 2 + t, diversityColor(d, colors));

            // The alert strip runs along -h, invisible, and rises to a full-height spike at an
            // alerted column; the column after a spike is left as the spike's foot.
            if (spikeDrawn) {
                spikeDrawn = false;
                continue;
            }
            const bool alerted = e == 1 || e == 2;
            LevelVertex& spike = vertices.alert[n];
            spike.x = static_cast<float>(x);
            spike.y = static_cast<float>(alerted ? frameHeight : -frameHeight);
            if (n == 0 || n >= total - 1) continue;
            if (alerted) {
                const LevelColor& color = e == 1 ? kRed : kBlue;
                put(vertices.alert[n - 1], x, -frameHeight, color);
                put(vertices.alert[n + 1], x, -frameHeight, color);
                spike.color = color;
                spikeDrawn = true;
            } else {
                spike.color = kClearLevelColor;
            }
        }
    }
}

std::vector<SingleBand> singleDrawOrder(const SingleDrawFlags& flags) {
    std::vector<SingleBand> order;
    const bool bands = flags.channelValid && flags.layers > 0;
    const bool separate = !flags.singleLine;
    if (bands) {
        if (flags.showAudio) order.push_back(SingleBand::Audio);
        if (flags.showRFA) order.push_back(SingleBand::RFA);
        if (flags.showRFB && separate) order.push_back(SingleBand::RFB);
        if (flags.showRFC && flags.quadversity && separate) order.push_back(SingleBand::RFC);
        if (flags.showRFD && flags.quadversity && separate) order.push_back(SingleBand::RFD);
        if (flags.showQuality) order.push_back(SingleBand::Quality);
        order.push_back(SingleBand::Diversity);
    }
    if (flags.cursorShown) order.push_back(SingleBand::Cursor);
    if (bands) order.push_back(SingleBand::Alert);
    return order;
}

void singleDrawRanges(SingleBand band, uint32_t layers, LevelDrawRanges& ranges) {
    ranges.clear();
    if (band == SingleBand::Cursor) {
        ranges.add(0, 2);
        ranges.add(2, 2);
        return;
    }
    for (uint32_t t = 0; t < layers; ++t) {
        const auto first = static_cast<int32_t>(t * kSingleSamples);
        if (band == SingleBand::Alert) {
            ranges.add(first, kSingleSamples);
        } else {
            ranges.add(first + 1, kSingleSamples - 1);
        }
    }
}

}  // namespace quenbril

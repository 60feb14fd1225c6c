#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "MonitorApp/views/LevelVertex.h"

namespace quenbril {

class CharRingBuffer;

/// The single-channel display draws 3000 samples per layer: five minutes of history at ten
/// columns a second.
inline constexpr int kSingleSamples = 3000;
/// Records of the replay cursor buffer, of which four are used.
inline constexpr int kCursorRecords = 10;

/// The histories the single-channel display reads.
struct SingleHistories {
    const CharRingBuffer* level = nullptr;
    const CharRingBuffer* rfA = nullptr;
    const CharRingBuffer* rfB = nullptr;
    const CharRingBuffer* rfC = nullptr;
    const CharRingBuffer* rfD = nullptr;
    const CharRingBuffer* diversity = nullptr;
    const CharRingBuffer* alert = nullptr;
    const CharRingBuffer* quality = nullptr;
};

struct SingleColors {
    LevelColor audio;
    LevelColor rfA;
    LevelColor rfB;
    LevelColor rfC;
    LevelColor rfD;
    LevelColor quality;
};

/// What one frame of the single-channel display is drawn from.
struct SingleFill {
    uint32_t layers = 0;
    /// The drawable in pixels and the view's height in points.
    double drawableWidth = 0;
    double drawableHeight = 0;
    double frameHeight = 0;
    /// Added to every x: a drawable that shows part of a wider document (drawableWidth is then
    /// the document's width) moves the part in sight to the viewport.
    double xShift = 0;
    int32_t chanIndex = 0;
    bool singleLine = true;
    float playbackCursor = 1.0f;
    SingleHistories histories;
    SingleColors colors;
};

/// The vertices of every band, each `layers` * 3000 long, and the cursor records. They are kept
/// from frame to frame: what a frame does not write keeps what it held.
struct SingleVertices {
    explicit SingleVertices(uint32_t layers);

    std::vector<LevelVertex> audio;
    std::vector<LevelVertex> rfA;
    std::vector<LevelVertex> rfB;
    std::vector<LevelVertex> rfC;
    std::vector<LevelVertex> rfD;
    std::vector<LevelVertex> diversity;
    std::vector<LevelVertex> alert;
    std::vector<LevelVertex> quality;
    std::array<LevelVertex, kCursorRecords> cursor{};
};

/// Whether the display can draw a history channel; for any other it draws only the cursor.
inline bool isSingleChannel(int32_t channel) { return channel >= 0 && channel < 128; }

/// Fills the bands across the full width (90 % of the height, centred), the active-antenna
/// line 3 pixels above the bottom, the alert strip and the replay cursor. Vertex t * 3000 + i of
/// a band is sample i of layer t, read at history column (bufferStart + t * 3000 + i) modulo the
/// history's length: the newest column for i = 0, then the oldest onwards. The bands and the
/// alert strip are written only for a channel the histories have.
void fillSingleVertices(const SingleFill& fill, SingleVertices& vertices);

/// The things the single-channel display draws, in drawing order.
enum class SingleBand { Audio, RFA, RFB, RFC, RFD, Quality, Diversity, Cursor, Alert };

/// The settings that choose the bands, read at every frame.
struct SingleDrawFlags {
    bool showAudio = true;
    bool showRFA = true;
    bool showRFB = true;
    bool showRFC = true;
    bool showRFD = true;
    bool showQuality = true;
    bool singleLine = true;
    bool quadversity = false;
    /// A replay runs (the cursor lies left of 1).
    bool cursorShown = false;
    /// The channel is one the histories have (else only the cursor is drawn).
    bool channelValid = true;
    uint32_t layers = 0;
};

/// The bands drawn this frame, in order.
std::vector<SingleBand> singleDrawOrder(const SingleDrawFlags& flags);

/// The line strips of a band: one per layer of 2999 vertices from t * 3000 + 1 (the newest
/// column is left out) for the bands, of 3000 from t * 3000 for the alert strip, and two of 2
/// from 0 and 2 for the cursor.
void singleDrawRanges(SingleBand band, uint32_t layers, LevelDrawRanges& ranges);

}  // namespace quenbril

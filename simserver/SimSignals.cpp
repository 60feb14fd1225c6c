#include "simserver/SimSignals.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

namespace quenbril {

namespace {

constexpr double kTwoPi = 2 * std::numbers::pi;

double wave(double t, double period, double phase) {
    return 0.5 + 0.5 * std::sin(kTwoPi * t / period + phase);
}

void appendFloat(Bytes& out, float f) {
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(u >> (8 * i)));
}

}  // namespace

double SimSignals::amplitude(size_t position, double t) {
    // Phrases of a few seconds, each strip with its own length.
    double p = static_cast<double>(position);
    double phrase = wave(t, 2.5 + static_cast<double>(position % 5), p);
    double breath = wave(t, 0.7 + 0.1 * static_cast<double>(position % 3), 2 * p);
    return 0.02 + 0.30 * phrase * (0.6 + 0.4 * breath);
}

uint8_t SimSignals::levelByte(size_t position, double t) {
    double rms = amplitude(position, t) / std::numbers::sqrt2;
    double db = std::max(20 * std::log10(rms), -50.0);
    double level = std::trunc(100 * (db + 50) / 50);
    return static_cast<uint8_t>(std::clamp(level, 0.0, 110.0));
}

uint8_t SimSignals::rfByte(size_t position, int antenna, double t) {
    double p = static_cast<double>(position);
    double v = 45 + 40 * wave(t, 4.0 + antenna, p + 1.3 * antenna) - 10 * wave(t, 0.9, p);
    return static_cast<uint8_t>(std::clamp(v, 0.0, 100.0));
}

uint8_t SimSignals::rfDiversityByte(size_t position, double t) {
    uint8_t best = 0;
    for (int a = 0; a < 4; ++a) best = std::max(best, rfByte(position, a, t));
    return best;
}

uint8_t SimSignals::qualityByte(size_t position, double t) {
    double v = 70 + 30 * wave(t, 6.0, static_cast<double>(position)) -
               25 * (rfDiversityByte(position, t) < 45 ? 1 : 0);
    return static_cast<uint8_t>(std::clamp(v, 0.0, 100.0));
}

int32_t SimSignals::battery(size_t position, double t) {
    // A pack lasts about three hours; packs start between 55 and 100 %.
    double start = 100 - static_cast<double>((position * 37) % 46);
    return static_cast<int32_t>(std::max(1.0, start - t / 108.0));
}

std::string SimSignals::batteryTime(size_t position, double t) {
    int minutes = static_cast<int>(battery(position, t) * 1.8);
    char text[16];
    std::snprintf(text, sizeof text, "%d:%02d", minutes / 60, minutes % 60);
    return text;
}

std::string SimSignals::antennas(size_t position, double t) {
    std::string letters;
    for (int a = 0; a < 4; ++a) {
        if (rfByte(position, a, t) >= 50) letters.push_back(static_cast<char>('A' + a));
    }
    return letters;
}

double SimSignals::toneFrequency(size_t position) {
    return 220.0 + 27.5 * static_cast<double>(position);
}

float SimSignals::toneSample(size_t position, int64_t index) {
    if (index < 0) return 0;
    double t = static_cast<double>(index) / kSampleRate;
    // The phase from the index alone keeps a tone continuous from block to block.
    double cycles = std::fmod(toneFrequency(position) * static_cast<double>(index), kSampleRate);
    return static_cast<float>(amplitude(position, t) * std::sin(kTwoPi * cycles / kSampleRate));
}

Bytes SimSignals::toneBlock(size_t position, int64_t first, size_t count) {
    Bytes out;
    out.reserve(count * 4);
    for (size_t i = 0; i < count; ++i) {
        appendFloat(out, toneSample(position, first + static_cast<int64_t>(i)));
    }
    return out;
}

Bytes SimSignals::mixBlock(const std::vector<size_t>& positions, int64_t first, size_t count) {
    Bytes out;
    out.reserve(count * 4);
    float scale = positions.empty() ? 0.0f : 1.0f / static_cast<float>(positions.size());
    for (size_t i = 0; i < count; ++i) {
        float sum = 0;
        for (size_t p : positions) sum += toneSample(p, first + static_cast<int64_t>(i));
        appendFloat(out, sum * std::min(1.0f, 2 * scale));
    }
    return out;
}

int64_t SimSignals::timecodeFrameOfDay(double t) {
    constexpr int64_t kFramesPerDay = int64_t{86400} * kTimecodeFps;
    if (!std::isfinite(t)) return 0;
    double seconds = std::fmod(t, 86400.0);
    if (seconds < 0) seconds += 86400.0;
    // Both factors are bounded, so the product fits; rounding may still reach the next day.
    auto frame = static_cast<int64_t>(std::floor(seconds * kTimecodeFps));
    return std::clamp<int64_t>(frame, 0, kFramesPerDay - 1);
}

Bytes SimSignals::timecodePicture(double t) {
    // Bi-phase mark: a transition at every bit edge, and one more inside a 1 bit.
    Bytes out;
    out.reserve(kTimecodeSampleCount * 4);
    // One sample per half bit.
    constexpr int kBitsPerFrame = 80;
    // The frame of the day, not of the epoch: seconds since 2001 times the frame rate do not
    // fit 32 bits.
    auto seed = static_cast<uint32_t>(timecodeFrameOfDay(t));
    float level = 0.5f;
    int halves = 0;
    for (int i = 0; i < kTimecodeSampleCount; ++i) {
        int bit = static_cast<int>((seed >> ((halves / 2) % 32)) & 1);
        bool edge = halves % 2 == 0 || bit == 1;
        if (edge) level = -level;
        appendFloat(out, level);
        halves = (halves + 1) % (2 * kBitsPerFrame);
    }
    return out;
}

}  // namespace quenbril

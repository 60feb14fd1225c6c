#include "MonitorApp/ATAudio/BQDSP.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "foundation/Log.h"

namespace quenbril {

BQDSP::BQDSP(float samplingRate) : samplingRate_(samplingRate) {}

void BQDSP::setCoefficients() {
    coefficients_ = {b0_, b1_, b2_, a1_, a2_};
    stabilityWarning();
}

void BQDSP::applyGain(float* data, uint64_t length, float gain) {
    for (uint64_t i = 0; i < length; ++i) data[i] *= gain;
}

void BQDSP::filterContiguousData(float* data, uint32_t numFrames, uint32_t channel) {
    if (channel >= kMaxChannels) {
        QLOG("WARNING: Unsupported channel %u", channel);
        return;
    }
    for (uint32_t done = 0; done < numFrames; done += kChunkFrames) {
        filterChunk(data + done, std::min(kChunkFrames, numFrames - done), channel);
    }
}

void BQDSP::filterChunk(float* data, uint32_t frames, uint32_t channel) {
    // The difference equation with its history in registers: the same sums, in the same order,
    // as running it over scratch arrays that start with the two kept samples.
    const float b0 = coefficients_[0], b1 = coefficients_[1], b2 = coefficients_[2];
    const float a1 = coefficients_[3], a2 = coefficients_[4];
    float x2 = inputKeep_[channel][0], x1 = inputKeep_[channel][1];
    float y2 = outputKeep_[channel][0], y1 = outputKeep_[channel][1];
    for (uint32_t i = 0; i < frames; ++i) {
        const float x = data[i];
        const float y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        data[i] = y;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
    }
    inputKeep_[channel] = {x2, x1};
    outputKeep_[channel] = {y2, y1};
}

void BQDSP::filterData(float* data, uint32_t numFrames, uint32_t numChannels) {
    if (numChannels == 1) {
        filterContiguousData(data, numFrames, 0);
        return;
    }
    if (numChannels != 2) {
        QLOG("WARNING: Unsupported number of channels %u", numChannels);
        return;
    }
    float left[kChunkFrames];
    float right[kChunkFrames];
    for (uint32_t done = 0; done < numFrames; done += kChunkFrames) {
        const uint32_t frames = std::min(kChunkFrames, numFrames - done);
        float* chunk = data + static_cast<uint64_t>(done) * 2;
        deinterleave(chunk, left, right, frames);
        filterChunk(left, frames, 0);
        filterChunk(right, frames, 1);
        interleave(chunk, left, right, frames);
    }
}

void BQDSP::deinterleave(const float* interleaved, float* left, float* right,
                         uint64_t length) const {
    for (uint64_t i = 0; i < length; ++i) {
        left[i] = interleaved[2 * i] + zero_;
        right[i] = interleaved[2 * i + 1] + zero_;
    }
}

void BQDSP::interleave(float* interleaved, const float* left, const float* right,
                       uint64_t length) const {
    for (uint64_t i = 0; i < length; ++i) {
        interleaved[2 * i] = left[i] + zero_;
        interleaved[2 * i + 1] = right[i] + zero_;
    }
}

void BQDSP::mono(float* interleaved, float* left, float* right, uint64_t length) const {
    for (uint64_t i = 0; i < length; ++i) {
        left[i] *= 0.5f;
        right[i] *= 0.5f;
        left[i] += right[i];
    }
    interleave(interleaved, left, left, length);
}

void BQDSP::intermediateVariables(float frequency, float Q) {
    omega_ = static_cast<float>(static_cast<double>(frequency) * 2.0 * std::numbers::pi /
                                static_cast<double>(samplingRate_));
    omegaS_ = std::sin(omega_);
    omegaC_ = std::cos(omega_);
    alpha_ = omegaS_ / (Q + Q);
}

bool BQDSP::canCalculate(float frequency, float Q) const {
    return frequency != 0.0f && Q != 0.0f && samplingRate_ > 0.0f;
}

float BQDSP::gainFactor(float G) {
    const float exponent = G / 20.0f;
    return static_cast<float>(std::sqrt(std::pow(10.0, static_cast<double>(exponent))));
}

void BQDSP::storeCoefficients(float a0, float b0, float b1, float b2, float a1, float a2) {
    a0_ = a0;
    b0_ = b0 / a0;
    b1_ = b1 / a0;
    b2_ = b2 / a0;
    a1_ = a1 / a0;
    a2_ = a2 / a0;
    setCoefficients();
}

void BQDSP::logCoefficients() const {
    QLOG("------------\n");
    QLOG("Coefficients:\n");
    QLOG("b0: %f\n", static_cast<double>(b0_));
    QLOG("b1: %f\n", static_cast<double>(b1_));
    QLOG("b2: %f\n", static_cast<double>(b2_));
    QLOG("a1: %f\n", static_cast<double>(a1_));
    QLOG("a2: %f\n", static_cast<double>(a2_));
    QLOG("\n");
    QLOG("|a1| < 1 + a2 ");
    QLOG(std::fabs(a1_) < 1.0f + a2_ ? "a1 is stable\n" : "a1 is unstable\n");
    QLOG("|a2| < 1");
    QLOG(std::fabs(a2_) < 1.0f ? "a2 is stable\n" : "a2 is unstable\n");
    QLOG("------------\n");
}

void BQDSP::stabilityWarning() const {
    if (!(1.0f + a2_ > std::fabs(a1_))) {
        QLOG("|a1| < 1 + a2 ");
        QLOG("Warning: a1 is unstable\n");
    }
    if (!(1.0f > std::fabs(a2_))) {
        QLOG("|a2| < 1");
        QLOG("Warning: a2 is unstable\n");
    }
}

}  // namespace quenbril

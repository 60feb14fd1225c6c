#!/usr/bin/env python3
"""wavstat: figures of a PCM WAV file, per channel: peak and RMS (full scale 1.0), the longest
run of samples exactly zero (in ms), and whether the channel carries sound (peak above a
threshold). Prints one line per channel, then one line of key=value pairs for the summary:
  rec_peak=P1/P2 rec_rms=R1/R2 rec_longest_zero_ms=Z1/Z2 rec_sound=both|ch1|ch2|none
Usage: wavstat.py FILE [threshold, default 0.0001]
"""
import math
import sys
import wave


def main():
    path = sys.argv[1]
    thr = float(sys.argv[2]) if len(sys.argv) > 2 else 0.0001
    with wave.open(path, "rb") as w:
        channels, width, rate, frames = w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes()
        data = w.readframes(frames)
    if width == 1:
        # 8-bit WAV is unsigned
        samples = [b - 128 for b in data]
        full = 128.0
    else:
        full = float(1 << (8 * width - 1))
        step = width
        samples = [int.from_bytes(data[i:i + step], "little", signed=True) for i in range(0, len(data), step)]
    frames = len(samples) // channels
    print(f"{path}: {channels} channels, {width * 8} bit, {rate} Hz, {frames} frames ({frames / rate:.2f} s)")
    peaks, rmss, zeros, sound = [], [], [], []
    for c in range(channels):
        ch = samples[c::channels]
        peak = max((abs(s) for s in ch), default=0) / full
        rms = math.sqrt(sum(s * s for s in ch) / len(ch)) / full if ch else 0.0
        longest = run = 0
        for s in ch:
            if s == 0:
                run += 1
                if run > longest:
                    longest = run
            else:
                run = 0
        zero_ms = 1000.0 * longest / rate
        peaks.append(peak)
        rmss.append(rms)
        zeros.append(zero_ms)
        sound.append(peak > thr)
        print(f"ch{c + 1}: peak={peak:.6f} rms={rms:.6f} longest_zero_ms={zero_ms:.1f} sound={'yes' if peak > thr else 'no'}")
    if channels == 0 or frames == 0:
        verdict = "none"
    elif all(sound):
        verdict = "both" if channels == 2 else "all"
    elif any(sound):
        verdict = "ch" + "+".join(str(i + 1) for i, s in enumerate(sound) if s)
    else:
        verdict = "none"
    print("rec_peak=%s rec_rms=%s rec_longest_zero_ms=%s rec_sound=%s" % (
        "/".join(f"{p:.4f}" for p in peaks) or "-", "/".join(f"{r:.4f}" for r in rmss) or "-",
        "/".join(f"{z:.0f}" for z in zeros) or "-", verdict))


if __name__ == "__main__":
    main()

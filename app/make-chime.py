#!/usr/bin/env python3
"""Writes Tallimo's alarm chime: a soft two-note bell, about a second long.

Usage: make-chime.py OUTPUT.wav

The sound is synthesised here, so the output is the same byte for byte on
every machine (22050 Hz, mono, 16-bit PCM).
"""
import math
import struct
import sys
import wave

RATE = 22050
LENGTH = 1.1  # seconds

# Partials of a small bell relative to its strike note: (ratio, level, decay per second).
# The slightly stretched ratios give the metallic colour; the high ones die away first.
PARTIALS = [
    (0.5, 0.10, 2.5),  # hum
    (1.0, 1.00, 3.0),
    (2.0, 0.32, 4.5),
    (2.76, 0.20, 6.5),
    (4.07, 0.08, 10.0),
    (5.40, 0.04, 14.0),
]

# A falling major third (E6 then C6), the second note struck while the first still rings.
NOTES = [(0.00, 1318.51, 0.55), (0.30, 1046.50, 0.60)]


def bell(t, freq):
    if t < 0:
        return 0.0
    attack = min(1.0, t / 0.003)  # 3 ms, so the strike does not click
    return attack * sum(
        level * math.exp(-decay * t) * math.sin(2 * math.pi * freq * ratio * t)
        for ratio, level, decay in PARTIALS
    )


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    count = int(RATE * LENGTH)
    fade = int(RATE * 0.08)
    frames = bytearray()
    for i in range(count):
        t = i / RATE
        value = sum(gain * bell(t - start, freq) for start, freq, gain in NOTES)
        if i >= count - fade:  # let the tail reach silence exactly
            value *= (count - i) / fade
        sample = max(-32767, min(32767, round(value * 0.55 * 32767)))
        frames += struct.pack("<h", sample)
    with wave.open(sys.argv[1], "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(bytes(frames))


if __name__ == "__main__":
    main()

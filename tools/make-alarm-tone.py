#!/usr/bin/env python3
"""Writes the console's alarm tone, app/alarms/alarm.wav: three short beeps
alternating 880 Hz and 1320 Hz, 16-bit mono at 22,050 Hz, with soft edges so
the speaker does not click. Run again only to change the tone."""
import math
import struct
import sys
import wave

RATE = 22050
out = sys.argv[1] if len(sys.argv) > 1 else "app/alarms/alarm.wav"
samples = []
for beep, freq in enumerate((880, 1320, 880)):
    n = int(RATE * 0.16)
    for i in range(n):
        edge = min(1.0, i / 220, (n - i) / 220)
        samples.append(int(0.6 * 32767 * edge * math.sin(2 * math.pi * freq * i / RATE)))
    samples.extend([0] * int(RATE * 0.06))
with wave.open(out, "wb") as w:
    w.setnchannels(1)
    w.setsampwidth(2)
    w.setframerate(RATE)
    w.writeframes(struct.pack("<%dh" % len(samples), *samples))

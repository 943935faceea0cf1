#!/usr/bin/env python3
"""Draws the music-icon artwork (256 x 256 RGBA: a white document sheet with a
folded corner and a blue musical note, the lower part left free for the
extension text) and writes it as a PNG byte array in C++.
Usage: music_icon_artwork.py > decoders/SysMusIcoArtwork.cpp"""
import math, struct, zlib

W = H = 256
px = [[(0, 0, 0, 0)] * W for _ in range(H)]
L, T, R, B, FOLD = 36, 12, 220, 244, 52


def inside_sheet(x, y):
    return L <= x < R and T <= y < B and not (x - (R - FOLD) > y - T)


def cover(fn, x, y, n=4):
    """Fraction of the pixel covered by fn, n x n samples."""
    hits = sum(fn(x + (i + 0.5) / n, y + (j + 0.5) / n) for i in range(n) for j in range(n))
    return hits / (n * n)


def blend(x, y, rgb, a):
    if a <= 0:
        return
    r0, g0, b0, a0 = px[y][x]
    ao = a + a0 / 255 * (1 - a)
    mix = lambda c, c0: (c * a + c0 * a0 / 255 * (1 - a)) / ao if ao else 0
    px[y][x] = (round(mix(rgb[0], r0)), round(mix(rgb[1], g0)), round(mix(rgb[2], b0)), round(ao * 255))


def sheet(fx, fy):
    return L <= fx < R and T <= fy < B and (fx - (R - FOLD)) <= (fy - T)


def outline(fx, fy):
    inner = L + 3 <= fx < R - 3 and T + 3 <= fy < B - 3 and (fx - (R - FOLD)) <= (fy - T) - 4.2
    return sheet(fx, fy) and not inner


def fold(fx, fy):
    return R - FOLD <= fx < R and T <= fy < T + FOLD and (fx - (R - FOLD)) >= (fy - T) - 0.01


def head(cx, cy):
    def f(fx, fy):
        dx, dy = fx - cx, fy - cy
        c, s = math.cos(-0.45), math.sin(-0.45)
        u, v = dx * c - dy * s, dx * s + dy * c
        return (u / 17) ** 2 + (v / 12) ** 2 <= 1
    return f


def rect(x0, y0, x1, y1):
    return lambda fx, fy: x0 <= fx < x1 and y0 <= fy < y1


def beam(fx, fy):
    # a slanted bar between the two stems
    x0, x1 = 106, 182
    if not (x0 <= fx < x1):
        return False
    top = 58 + (fx - x0) * (-14 / (x1 - x0))
    return top <= fy < top + 16


note = [head(94, 146), head(170, 132), rect(106, 60, 114, 146), rect(174, 46, 182, 132), beam]

for y in range(H):
    for x in range(W):
        a = cover(sheet, x, y)
        blend(x, y, (255, 255, 255), a)
        blend(x, y, (232, 236, 242), cover(fold, x, y))
        blend(x, y, (150, 156, 166), cover(outline, x, y))
        n = cover(lambda fx, fy: any(f(fx, fy) for f in note), x, y)
        blend(x, y, (38, 98, 204), n)


def chunk(t, d):
    return struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d) & 0xFFFFFFFF)


raw = b''.join(b'\x00' + bytes(c for p in row for c in p) for row in px)
png = (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', W, H, 8, 6, 0, 0, 0)) +
       chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))

print('// The music-icon artwork: a 256 x 256 RGBA PNG of a white document sheet with')
print('// a folded corner and a blue musical note, drawn for this program by a small')
print('// script (kept with the project notes) and held here as bytes.')
print('#include "decoders/SysMusIcoLoader.h"')
print()
print('namespace decoders {')
print()
print('const uint8_t kMusicIconPng[] = {')
for i in range(0, len(png), 16):
    print('    ' + ', '.join('0x%02x' % b for b in png[i:i + 16]) + ',')
print('};')
print('const size_t kMusicIconPngSize = sizeof(kMusicIconPng);')
print()
print('}  // namespace decoders')

#!/usr/bin/env python3
"""Draws the application icon and writes it as a Windows .ico file.

The artwork is a small vector design (a rounded drive body, a quill and an
on/off switch) rendered with signed distance functions and supersampling, so
the icon is reproducible from this script alone with the standard library.

Usage: make_icon.py OUTPUT.ico [--preview DIR]
  --preview DIR  also writes one PNG per size into DIR for viewing.
"""

import argparse
import math
import os
import struct
import sys
import zlib

# Largest first: the icon group lists the images in this order.
SIZES = (256, 48, 32, 24, 16)


# ---- shape distance functions, in unit coordinates (0..1, y down) --------

def sd_round_rect(px, py, x0, y0, x1, y1, r):
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hx, hy = (x1 - x0) / 2 - r, (y1 - y0) / 2 - r
    qx, qy = abs(px - cx) - hx, abs(py - cy) - hy
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - r


def sd_circle(px, py, cx, cy, r):
    return math.hypot(px - cx, py - cy) - r


def sd_segment(px, py, ax, ay, bx, by, r):
    dx, dy = bx - ax, by - ay
    t = ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)
    t = min(max(t, 0.0), 1.0)
    return math.hypot(px - ax - t * dx, py - ay - t * dy) - r


def sd_vesica(px, py, r, d):
    """Lens made of two discs of radius r whose centres are 2*d apart,
    pointed ends on the y axis."""
    px, py = abs(px), abs(py)
    b = math.sqrt(r * r - d * d)
    if (py - b) * d > px * b:
        return math.hypot(px, py - b)
    return math.hypot(px + d, py) - r


# Quill: a lens tilted 40 degrees to the right, its tip at the upper right.
QUILL_ANGLE = math.radians(40.0)
QUILL_CX, QUILL_CY = 0.50, 0.40
_COS, _SIN = math.cos(QUILL_ANGLE), math.sin(QUILL_ANGLE)


def to_quill(px, py):
    x, y = px - QUILL_CX, py - QUILL_CY
    return x * _COS + y * _SIN, -x * _SIN + y * _COS


def quill_axis_point(t):
    """Point on the quill's axis, t in quill-local y (negative = towards tip)."""
    return QUILL_CX - t * _SIN, QUILL_CY + t * _COS


# ---- colours ---------------------------------------------------------------

def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(len(a)))


BODY_TOP = (0.20, 0.47, 0.52)
BODY_BOTTOM = (0.08, 0.26, 0.32)
BODY_EDGE = (0.04, 0.15, 0.19)
FEATHER = (0.97, 0.95, 0.86)
FEATHER_SHADE = (0.80, 0.86, 0.74)
SHAFT = (0.45, 0.36, 0.22)
SWITCH_ON = (0.42, 0.78, 0.33)
SWITCH_EDGE = (0.16, 0.40, 0.14)
KNOB = (1.0, 1.0, 1.0)


def layers(px, py, detailed):
    """Yields (signed distance, rgb) from back to front for one sample."""
    # Drive body with a darker rim.
    body = sd_round_rect(px, py, 0.06, 0.06, 0.94, 0.94, 0.17)
    yield body, BODY_EDGE
    yield body + 0.035, mix(BODY_TOP, BODY_BOTTOM, min(max((py - 0.1) / 0.8, 0), 1))

    # Quill: a feather lens shaded along its axis plus the shaft and nib.
    qx, qy = to_quill(px, py)
    feather = sd_vesica(qx, qy, 0.34, 0.23)
    yield feather, mix(FEATHER, FEATHER_SHADE, min(max(qx / 0.12 + 0.5, 0), 1))
    tip_x, tip_y = quill_axis_point(-0.20)
    nib_x, nib_y = quill_axis_point(0.36)
    yield sd_segment(px, py, tip_x, tip_y, nib_x, nib_y, 0.022 if detailed else 0.035), SHAFT

    if detailed:
        # On/off switch in the "on" position, lower right.
        pill = sd_round_rect(px, py, 0.52, 0.68, 0.86, 0.84, 0.08)
        yield pill, SWITCH_EDGE
        yield pill + 0.02, SWITCH_ON
        yield sd_circle(px, py, 0.78, 0.76, 0.055), KNOB


def render(size):
    """Returns rows of (r, g, b, a) tuples, 0..255, straight alpha."""
    detailed = size >= 32
    ss = 2 if size >= 128 else 4
    sub = 1.0 / (size * ss)  # width of one subsample in unit coordinates
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]  # premultiplied rgb + alpha
            for sy in range(ss):
                for sx in range(ss):
                    px = (x + (sx + 0.5) / ss) / size
                    py = (y + (sy + 0.5) / ss) / size
                    r = g = b = a = 0.0
                    for dist, rgb in layers(px, py, detailed):
                        cov = min(max(0.5 - dist / sub, 0.0), 1.0)
                        if cov <= 0.0:
                            continue
                        r = rgb[0] * cov + r * (1 - cov)
                        g = rgb[1] * cov + g * (1 - cov)
                        b = rgb[2] * cov + b * (1 - cov)
                        a = cov + a * (1 - cov)
                    acc[0] += r
                    acc[1] += g
                    acc[2] += b
                    acc[3] += a
            n = ss * ss
            alpha = acc[3] / n
            if alpha <= 0.0:
                row.append((0, 0, 0, 0))
                continue
            row.append(tuple(min(255, int(round(c / n / alpha * 255))) for c in acc[:3])
                       + (int(round(alpha * 255)),))
        rows.append(row)
    return rows


# ---- file formats ----------------------------------------------------------

def png_bytes(rows):
    size_y, size_x = len(rows), len(rows[0])

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    raw = bytearray()
    for row in rows:
        raw.append(0)  # filter type None
        for px in row:
            raw.extend(px)
    ihdr = struct.pack(">IIBBBBB", size_x, size_y, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr)
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def dib_bytes(rows):
    """32-bit BGRA DIB as stored in icons: doubled height, bottom-up rows,
    followed by the 1-bit AND mask that older drawing code still consults."""
    h, w = len(rows), len(rows[0])
    mask_stride = ((w + 31) // 32) * 4
    header = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 32, 0,
                         w * h * 4 + mask_stride * h, 0, 0, 0, 0)
    color = bytearray()
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, (r, g, b, a) in enumerate(row):
            color.extend((b, g, r, a))
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask.extend(bits)
    return header + bytes(color) + bytes(mask)


def ico_bytes(images):
    """images: list of (size, payload) in directory order."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    data = b""
    for size, payload in images:
        dim = 0 if size >= 256 else size  # 0 means 256 in the directory
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(payload), offset)
        offset += len(payload)
        data += payload
    return out + data


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output")
    parser.add_argument("--preview", metavar="DIR")
    args = parser.parse_args(argv)

    images = []
    for size in SIZES:
        rows = render(size)
        if args.preview:
            os.makedirs(args.preview, exist_ok=True)
            with open(os.path.join(args.preview, f"icon{size}.png"), "wb") as f:
                f.write(png_bytes(rows))
        # The large image is PNG-compressed; the small ones stay DIBs so that
        # every Windows version can draw them.
        images.append((size, png_bytes(rows) if size >= 256 else dib_bytes(rows)))

    data = ico_bytes(images)
    tmp = args.output + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, args.output)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

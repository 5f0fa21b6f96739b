#!/usr/bin/python3
# Writes one small PNG file per colour type and bit depth with an encoder of its own
# (zlib and struct only), and beside each the frame a reader must give for it: rows top
# first, 16-bit samples little-endian, alpha dropped, palette looked up, sub-byte gray
# scaled to 0..255, a palette index past the table black.
# Usage: png_variants.py OUTDIR    -> OUTDIR/<name>.png, OUTDIR/<name>.raw, OUTDIR/list.txt
import struct
import sys
import zlib

out = sys.argv[1]
W, H = 13, 7  # odd sizes: packed rows end in a partial byte


def chunk(tag, data):
    return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF)


def pack_row(samples, depth):
    if depth == 16:
        return b"".join(struct.pack(">H", s) for s in samples)
    if depth == 8:
        return bytes(samples)
    per = 8 // depth
    row = bytearray((len(samples) + per - 1) // per)
    for i, s in enumerate(samples):
        row[i // per] |= s << (8 - depth * (1 + i % per))
    return bytes(row)


def write_png(path, depth, ctype, rows, plte=None):
    data = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", W, H, depth, ctype, 0, 0, 0))
    if plte is not None:
        data += chunk(b"PLTE", b"".join(bytes(c) for c in plte))
    raw = b"".join(b"\x00" + pack_row(r, depth) for r in rows)
    data += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
    open(path, "wb").write(data)


def sample(x, y, c, depth):
    if depth == 16:
        return (x * 4099 + y * 16411 + c * 30011 + 12345) % 65536
    return (x * 7 + y * 13 + c * 29 + 3) % (1 << depth)


channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}
cases = [
    ("gray1", 0, 1), ("gray2", 0, 2), ("gray4", 0, 4), ("gray8", 0, 8), ("gray16", 0, 16),
    ("rgb8", 2, 8), ("rgb16", 2, 16),
    ("pal1", 3, 1), ("pal2", 3, 2), ("pal4", 3, 4), ("pal8", 3, 8),
    ("graya8", 4, 8), ("graya16", 4, 16), ("rgba8", 6, 8), ("rgba16", 6, 16),
]
listing = []
for name, ctype, depth in cases:
    nch = channels[ctype]
    rows = [[sample(x, y, c, depth) for x in range(W) for c in range(nch)] for y in range(H)]
    plte = None
    if ctype == 3:
        # Fewer entries than the indices reach, so some pixels fall past the table.
        count = {1: 1, 2: 2, 4: 3, 8: 200}[depth]
        plte = [((i * 37) % 256, (i * 91 + 5) % 256, (255 - i * 11) % 256) for i in range(count)]
    write_png(f"{out}/{name}.png", depth, ctype, rows, plte)
    frame = bytearray()
    for r in rows:
        for x in range(W):
            px = r[x * nch:(x + 1) * nch]
            if ctype == 3:
                frame += bytes(plte[px[0]]) if px[0] < len(plte) else b"\x00\x00\x00"
                continue
            keep = px[:3] if ctype in (2, 6) else px[:1]
            for s in keep:
                if depth == 16:
                    frame += struct.pack("<H", s)
                else:
                    frame.append(s * (255 // ((1 << depth) - 1)))
    open(f"{out}/{name}.raw", "wb").write(frame)
    bpp = len(frame) // (W * H)
    listing.append(f"{name} {W} {H} {bpp}")
open(f"{out}/list.txt", "w").write("\n".join(listing) + "\n")

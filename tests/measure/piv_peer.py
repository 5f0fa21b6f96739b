# piv_peer.py - an independent estimate for the PIV tests: scikit-image's
# phase_cross_correlation (upsample_factor 20) of each cell's pattern window between two
# 8-bit PGM pictures.  Arguments: previous.pgm current.pgm origin_x origin_y step nx ny
# window.  Prints "cx cy dx dy" per cell, (dx, dy) the motion from previous to current.
import sys

import numpy as np
from skimage.registration import phase_cross_correlation


def read_pgm(path):
    with open(path, "rb") as f:
        data = f.read()
    parts = data.split(maxsplit=4)
    assert parts[0] == b"P5"
    w, h = int(parts[1]), int(parts[2])
    return np.frombuffer(parts[4][: w * h], dtype=np.uint8).reshape(h, w).astype(float)


prev = read_pgm(sys.argv[1])
cur = read_pgm(sys.argv[2])
ox, oy, s, nx, ny, window = (int(v) for v in sys.argv[3:9])
grow = (window - s) // 2
for cy in range(ny):
    for cx in range(nx):
        x0, y0 = ox + s * cx - grow, oy + s * cy - grow
        shift, _, _ = phase_cross_correlation(prev[y0:y0 + window, x0:x0 + window],
                                              cur[y0:y0 + window, x0:x0 + window], upsample_factor=20)
        print(cx, cy, -shift[1], -shift[0])

# bg_numpy.py - numpy's mean and median over the first axis of 8 random 1920 x 1080 R, G, B
# frames in one array, the yardstick of the whole-video tool benchmark.
# Prints "rgb mean|median <milliseconds per frame>" lines, best of three runs.
import time

import numpy as np

FRAMES = 8
stack = np.random.default_rng(42).integers(0, 256, size=(FRAMES, 1080, 1920, 3), dtype=np.uint8)
for op in ("mean", "median"):
    best = None
    for _ in range(3):
        t = time.perf_counter()
        (np.median(stack, axis=0) if op == "median" else stack.mean(axis=0)).astype(np.uint8)
        dt = time.perf_counter() - t
        best = dt if best is None or dt < best else best
    print("rgb", op, "%.3f" % (best * 1000.0 / FRAMES))

# background_numpy.py - numpy's mean, max and min over the first axis of 100 random
# 1920 x 1080 frames held in one array, the yardstick of the background benchmark.
# Prints "gray|rgb mean|max|min <milliseconds per frame>" lines, best of three runs.
import time

import numpy as np

rng = np.random.default_rng(42)
for name, shape in (("gray", (100, 1080, 1920)), ("rgb", (100, 1080, 1920, 3))):
    stack = rng.integers(0, 256, size=shape, dtype=np.uint8)
    for op in ("mean", "max", "min"):
        best = None
        for _ in range(3):
            t = time.perf_counter()
            getattr(stack, op)(axis=0)
            dt = time.perf_counter() - t
            best = dt if best is None or dt < best else best
        print(name, op, "%.3f" % (best * 1000.0 / shape[0]))
    del stack

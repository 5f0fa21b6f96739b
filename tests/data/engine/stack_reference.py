# stack_reference.py - numpy's floor(mean), max and min over the first axis of a stack of
# frames, for the background tests: stack_reference.py in out frames height width channels dtype
# Reads the frames as one little-endian array, writes the three results one after another.
import sys

import numpy as np

src, dst, n, h, w, c, dtype = sys.argv[1:8]
shape = (int(n), int(h), int(w), int(c))
stack = np.fromfile(src, dtype=np.dtype(dtype).newbyteorder("<")).reshape(shape)
mean = np.floor(stack.mean(axis=0, dtype=np.float64)).astype(stack.dtype)
with open(dst, "wb") as f:
    for a in (mean, stack.max(axis=0), stack.min(axis=0)):
        f.write(np.ascontiguousarray(a).astype(np.dtype(dtype).newbyteorder("<")).tobytes())

#!/usr/bin/python3
# Independent results for the Fourier tests, from numpy.
#   fft2 IN OUT: IN holds uint64 w, h, then w*h real and w*h imaginary doubles (row-major);
#                OUT gets the forward transform in the same layout.
#   render IN OUT: IN holds int32 w, h, then w*h gray bytes; OUT gets the w*h bytes of the
#                  log-power display of the zero-padded, centred spectrum (offset 1..255).
import sys
import numpy as np

mode, src, dst = sys.argv[1:4]
if mode == "fft2":
    raw = open(src, "rb").read()
    w, h = np.frombuffer(raw[:16], dtype="<u8")
    vals = np.frombuffer(raw[16:], dtype="<f8")
    n = int(w) * int(h)
    z = (vals[:n] + 1j * vals[n:2 * n]).reshape(int(h), int(w))
    f = np.fft.fft2(z)
    with open(dst, "wb") as out:
        out.write(raw[:16])
        out.write(np.ascontiguousarray(f.real).astype("<f8").tobytes())
        out.write(np.ascontiguousarray(f.imag).astype("<f8").tobytes())
elif mode == "render":
    raw = open(src, "rb").read()
    w, h = (int(v) for v in np.frombuffer(raw[:8], dtype="<i4"))
    img = np.frombuffer(raw[8:], dtype=np.uint8).reshape(h, w).astype(np.float64) / 255.0
    n = 2
    while n < max(w, h):
        n *= 2
    plane = np.zeros((n, n))
    plane[:h, :w] = img
    f = np.fft.fftshift(np.fft.fft2(plane))
    power = f.real ** 2 + f.imag ** 2
    scale = 1.0 / np.log10(power.max() + 1.0)
    v = np.log10(power + 1.0) * scale
    shown = 1 + np.trunc(v * 254.0)
    oy, ox = (n - h) // 2, (n - w) // 2
    crop = np.clip(shown[oy:oy + h, ox:ox + w], 0, 255).astype(np.uint8)
    open(dst, "wb").write(crop.tobytes())
else:
    sys.exit(2)

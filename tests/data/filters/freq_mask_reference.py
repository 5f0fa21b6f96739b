# freq_mask_reference.py - a band-stop (or band-pass) of an 8-bit gray picture done with numpy,
# as the chain FFT, Frequency mask, IFFT is meant to do it: zero padding to N x N (N the
# smallest power of two not below the larger side), the zero frequency moved to (N/2, N/2),
# the coefficients of radius index range_min..range_max (or, reversed, all others) cleared,
# the inverse transform cut to the picture.
#   in:  int32 w, h, range_min, range_max, revers; then w * h bytes, row by row
#   out: w * h doubles, row by row
import struct
import sys

import numpy as np


def main():
    data = open(sys.argv[1], "rb").read()
    w, h, rmin, rmax, revers = struct.unpack("<5i", data[:20])
    pic = np.frombuffer(data[20:20 + w * h], dtype=np.uint8).reshape(h, w).astype(np.float64)
    n = 1
    while n < max(w, h):
        n *= 2
    padded = np.zeros((n, n))
    padded[:h, :w] = pic
    spectrum = np.fft.fftshift(np.fft.fft2(padded))
    c = (n - 1) / 2.0
    rmaxd = np.sqrt(2 * c * c)
    yy, xx = np.mgrid[0:n, 0:n]
    r = np.trunc(np.sqrt((xx - c) ** 2 + (yy - c) ** 2) * 179.0 / rmaxd + 0.5)
    inside = (r >= rmin) & (r <= rmax)
    cleared = ~inside if revers else inside
    spectrum[cleared] = 0
    out = np.real(np.fft.ifft2(np.fft.ifftshift(spectrum)))[:h, :w]
    open(sys.argv[2], "wb").write(out.astype("<f8").tobytes())


if __name__ == "__main__":
    main()

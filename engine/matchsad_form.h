// matchsad_form.h - the vector kernels of matchsad.cpp written once for any register width.
// Not a header of its own: matchsad.cpp includes it once per form (SSE2, AVX2), inside that
// form's namespace, after defining there the register type V, its width kBytes, QV_FORM (the
// target attribute of the form) and the lane operations below.  Each kernel handles whole
// registers only (columns or positions in multiples of the width) and leaves the rest to a
// narrower form.
//
// Lane operations expected: Load, Store, Zero, Bytes (every byte), Words (every 16-bit lane),
// SubsU8, UnpackLo8, UnpackHi8 (with zero), MulLo16, MulHiU16, Add16, PackUs16, SadU8, Add64,
// SubsU16, AddsU16, Or, Shr16By8, MinU8, MaxU8, Sum64 (the 64-bit lanes added), Extremes
// (lowest and highest byte of a register).

// d x whole + (d x fraction) >> 16 in 16-bit lanes for d = v - lo (saturated at 0), packed back
// to bytes with signed saturation; unpacking and packing both work within each 128-bit half,
// so the bytes come back in order.
QV_FORM inline V StretchV(V v, V lo, V whole, V fraction) {
  const V d = SubsU8(v, lo);
  const V d0 = UnpackLo8(d), d1 = UnpackHi8(d);
  return PackUs16(Add16(MulLo16(d0, whole), MulHiU16(d0, fraction)), Add16(MulLo16(d1, whole), MulHiU16(d1, fraction)));
}

// Sum over rows x cols (a multiple of kBytes) of |a - b|, with a look at the running sum
// every few rows: some value above limit once it passes, else the sum.
QV_FORM int64_t SadColumns(const uint8_t* a, int64_t as, const uint8_t* b, int64_t bs, int32_t cols, int32_t rows,
                           int64_t limit) {
  const int32_t every = RowsPerCheck(cols);
  V acc = Zero();
  for (int32_t j = 0; j < rows; ++j) {
    const uint8_t* p = a + j * as;
    const uint8_t* q = b + j * bs;
    for (int32_t i = 0; i < cols; i += kBytes) acc = Add64(acc, SadU8(Load(p + i), Load(q + i)));
    if ((j + 1) % every == 0 || j + 1 == rows) {
      const int64_t sum = Sum64(acc);
      if (sum > limit) return sum;
    }
  }
  return Sum64(acc);
}

// The same with every byte of a stretched first.
QV_FORM int64_t StretchSadColumns(const uint8_t* a, int64_t as, const uint8_t* b, int64_t bs, int32_t cols,
                                  int32_t rows, const StretchFactors& f, int64_t limit) {
  const int32_t every = RowsPerCheck(cols);
  const V lo = Bytes(f.lo), whole = Words(f.whole), fraction = Words(f.fraction);
  V acc = Zero();
  for (int32_t j = 0; j < rows; ++j) {
    const uint8_t* p = a + j * as;
    const uint8_t* q = b + j * bs;
    for (int32_t i = 0; i < cols; i += kBytes)
      acc = Add64(acc, SadU8(StretchV(Load(p + i), lo, whole, fraction), Load(q + i)));
    if ((j + 1) % every == 0 || j + 1 == rows) {
      const int64_t sum = Sum64(acc);
      if (sum > limit) return sum;
    }
  }
  return Sum64(acc);
}

QV_FORM void StretchColumns(const uint8_t* src, int64_t ss, uint8_t* dst, int64_t ds, int32_t cols, int32_t rows,
                            const StretchFactors& f) {
  const V lo = Bytes(f.lo), whole = Words(f.whole), fraction = Words(f.fraction);
  for (int32_t j = 0; j < rows; ++j)
    for (int32_t i = 0; i < cols; i += kBytes) Store(dst + j * ds + i, StretchV(Load(src + j * ss + i), lo, whole, fraction));
}

// Bounds of kBytes / 2 positions at a time (see StretchedBoundsU16); the number done.
QV_FORM int32_t BoundsPositions(const uint16_t* sums, int64_t stride, int32_t count, const uint16_t* tsums,
                                int32_t nbx, int32_t nby, int32_t step, const BoundLanes& L, uint16_t* out) {
  constexpr int32_t kLanes = kBytes / 2;
  int32_t k = 0;
  for (; k + kLanes <= count; k += kLanes) {
    const V loSum = Load(L.loSum + k), whole = Load(L.whole + k), fraction = Load(L.fraction + k);
    const V slackLo = Load(L.slackLo + k), slackHi = Load(L.slackHi + k);
    V acc = Zero();
    for (int32_t bj = 0; bj < nby; ++bj) {
      const uint16_t* row = sums + int64_t(bj) * step * stride + k;
      for (int32_t bi = 0; bi < nbx; ++bi) {
        const V d = SubsU16(Load(row + bi * step), loSum);
        const V g = Add16(MulLo16(d, whole), MulHiU16(d, fraction));
        const V ts = Words(tsums[bj * nbx + bi]);
        acc = AddsU16(acc, Or(SubsU16(SubsU16(g, slackLo), ts), SubsU16(ts, AddsU16(g, slackHi))));
      }
    }
    Store(out + k, acc);
  }
  return k;
}

// dst = ((256 - weight) x a + weight x b) >> 8 over whole registers; the number done.  The
// products stay below 2^16, so 16-bit lanes hold them exactly.
QV_FORM int32_t BlendBytes(const uint8_t* a, const uint8_t* b, uint8_t* dst, int32_t n, uint32_t weight) {
  const V wa = Words(uint16_t(256 - weight)), wb = Words(uint16_t(weight));
  int32_t i = 0;
  for (; i + kBytes <= n; i += kBytes) {
    const V va = Load(a + i), vb = Load(b + i);
    const V lo = Shr16By8(Add16(MulLo16(UnpackLo8(va), wa), MulLo16(UnpackLo8(vb), wb)));
    const V hi = Shr16By8(Add16(MulLo16(UnpackHi8(va), wa), MulLo16(UnpackHi8(vb), wb)));
    Store(dst + i, PackUs16(lo, hi));
  }
  return i;
}

// Lowest and highest byte over rows x cols (a multiple of kBytes), folded into *lo and *hi.
QV_FORM void ExtremesColumns(const uint8_t* p, int64_t stride, int32_t cols, int32_t rows, uint8_t* lo, uint8_t* hi) {
  V mn = Bytes(255), mx = Zero();
  for (int32_t j = 0; j < rows; ++j)
    for (int32_t i = 0; i < cols; i += kBytes) {
      const V v = Load(p + j * stride + i);
      mn = MinU8(mn, v);
      mx = MaxU8(mx, v);
    }
  Extremes(mn, mx, lo, hi);
}

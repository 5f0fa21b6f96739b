// Fourier kernels and the picture transforms: the fast kernels against a plain step-by-step
// transform (bit for bit), worked values, numpy on random planes, and the record's forward,
// render and inverse over sizes, formats, filters and bad input.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/fft.h"
#include "tests/engine/engine_test_util.h"
#include "tests/test_files.h"

namespace {

using namespace enginetest;
using testfiles::ReadFile;
using testfiles::WriteFile;

constexpr double kPi = 3.14159265358979323846;

// ---- the plain transform: a twiddle per butterfly group, two transpositions ----------------

void LiteralFft1D(uint64_t n, int32_t sign, double* re, double* im, int32_t tableFlag) {
  for (uint64_t m = n; m >= 2; m /= 2) {
    for (uint64_t k = 0; k < m / 2; ++k) {
      double s, c;
      if (tableFlag && n <= 4096) {
        const int64_t step = int64_t(sign) * int64_t(4096 / m);
        const uint64_t i = uint64_t(int64_t(k) * step) & 4095u;
        s = std::sin(2.0 * kPi * double(i) / 4096.0);
        c = std::cos(2.0 * kPi * double(i) / 4096.0);
      } else {
        const double theta = double(sign) * 2.0 * kPi * double(k) / double(m);
        s = std::sin(theta);
        c = std::cos(theta);
      }
      for (uint64_t b = 0; b < n; b += m) {
        const uint64_t j = b + k, l = j + m / 2;
        const double dr = re[j] - re[l], di = im[j] - im[l];
        re[j] = re[j] + re[l];
        im[j] = im[j] + im[l];
        re[l] = dr * c - di * s;
        im[l] = dr * s + di * c;
      }
    }
  }
  uint32_t bits = 0;
  while ((uint64_t(1) << bits) < n) ++bits;
  for (uint64_t k = 0; k < n; ++k) {
    uint64_t r = 0;
    for (uint32_t b = 0; b < bits; ++b) r |= ((k >> b) & 1) << (bits - 1 - b);
    if (r > k) {
      std::swap(re[k], re[r]);
      std::swap(im[k], im[r]);
    }
  }
  if (sign >= 1)
    for (uint64_t k = 0; k < n; ++k) {
      re[k] /= double(n);
      im[k] /= double(n);
    }
}

void LiteralTranspose(std::vector<double>& p, uint64_t cols, uint64_t rows) {
  std::vector<double> t(p.size());
  for (uint64_t r = 0; r < rows; ++r)
    for (uint64_t c = 0; c < cols; ++c) t[c * rows + r] = p[r * cols + c];
  p.swap(t);
}

void LiteralFft2D(std::vector<double>& re, std::vector<double>& im, uint64_t w, uint64_t h, int32_t sign) {
  const int32_t flag = sign < 0 ? 1 : 0;
  for (uint64_t r = 0; r < h; ++r) LiteralFft1D(w, sign, &re[r * w], &im[r * w], flag);
  LiteralTranspose(re, w, h);
  LiteralTranspose(im, w, h);
  for (uint64_t r = 0; r < w; ++r) LiteralFft1D(h, sign, &re[r * h], &im[r * h], flag);
  LiteralTranspose(re, h, w);
  LiteralTranspose(im, h, w);
}

std::vector<double> RandomPlane(uint64_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> d(-1.0, 1.0);
  std::vector<double> v(n);
  for (double& x : v) x = d(rng);
  return v;
}

// ---- kernels -------------------------------------------------------------------------------

TEST(FftCore, OneDimensionEqualsPlainTransformBitForBit) {
  struct Case {
    uint64_t n;
    int32_t sign, table;
  };
  const Case cases[] = {{1, -1, 1},    {2, -1, 1},    {8, -1, 1},     {8, 1, 0},   {64, -1, 0},
                        {4096, -1, 1}, {8192, -1, 1}, {8192, 1, 0},   {1024, 1, 1}, {2048, -1, 0}};
  for (const Case& c : cases) {
    std::vector<double> re = RandomPlane(c.n, 1), im = RandomPlane(c.n, 2);
    std::vector<double> re2 = re, im2 = im;
    ASSERT_EQ(1, Fft1D(c.n, c.sign, re.data(), im.data(), c.table));
    LiteralFft1D(c.n, c.sign, re2.data(), im2.data(), c.table);
    EXPECT_EQ(0, std::memcmp(re.data(), re2.data(), c.n * 8)) << c.n << " sign " << c.sign;
    EXPECT_EQ(0, std::memcmp(im.data(), im2.data(), c.n * 8)) << c.n << " sign " << c.sign;
  }
}

TEST(FftCore, TwoDimensionsEqualPlainTransformBitForBit) {
  // Narrow planes (fewer columns than a strip), square, wide and tall, one past the table.
  const uint64_t sizes[][2] = {{2, 2}, {4, 8}, {8, 2}, {16, 16}, {32, 4}, {64, 128}, {256, 64}, {8192, 2}, {2, 8192}};
  for (auto& s : sizes) {
    const uint64_t w = s[0], h = s[1];
    std::vector<double> re = RandomPlane(w * h, 3), im = RandomPlane(w * h, 4);
    for (int32_t sign : {-1, 1}) {
      std::vector<double> re2 = re, im2 = im;
      ASSERT_EQ(1, sign < 0 ? Fft2DForward(re.data(), im.data(), w, h) : Fft2DInverse(re.data(), im.data(), w, h));
      LiteralFft2D(re2, im2, w, h, sign);
      EXPECT_EQ(0, std::memcmp(re.data(), re2.data(), w * h * 8)) << w << " x " << h << " sign " << sign;
      EXPECT_EQ(0, std::memcmp(im.data(), im2.data(), w * h * 8)) << w << " x " << h << " sign " << sign;
    }
  }
}

TEST(FftCore, ImpulseConstantAndRoundTrip) {
  for (uint64_t n : {2u, 16u, 1024u}) {
    std::vector<double> re(n, 0.0), im(n, 0.0);
    re[0] = 1.0;
    ASSERT_EQ(1, Fft1D(n, -1, re.data(), im.data(), 1));
    for (uint64_t k = 0; k < n; ++k) {
      EXPECT_EQ(1.0, re[k]);
      EXPECT_EQ(0.0, im[k]);
    }
  }
  const uint64_t w = 32, h = 8;
  std::vector<double> re(w * h, 2.5), im(w * h, 0.0);
  ASSERT_EQ(1, Fft2DForward(re.data(), im.data(), w, h));
  EXPECT_EQ(2.5 * w * h, re[0]);
  for (uint64_t i = 1; i < w * h; ++i) {
    EXPECT_EQ(0.0, re[i]);
    EXPECT_EQ(0.0, im[i]);
  }
  for (uint64_t i = 0; i < w * h; ++i) EXPECT_EQ(0.0, im[i]);

  const uint64_t W = 128, H = 64;
  std::vector<double> r0 = RandomPlane(W * H, 5), i0 = RandomPlane(W * H, 6);
  std::vector<double> r = r0, i = i0;
  ASSERT_EQ(1, Fft2DForward(r.data(), i.data(), W, H));
  ASSERT_EQ(1, Fft2DInverse(r.data(), i.data(), W, H));
  for (uint64_t k = 0; k < W * H; ++k) {
    EXPECT_NEAR(r0[k], r[k], 1e-12);
    EXPECT_NEAR(i0[k], i[k], 1e-12);
  }
}

TEST(FftCore, RefusesBadSizesAndNullPlanesUntouched) {
  std::vector<double> re(6 * 4, 1.0), im(6 * 4, 2.0);
  const std::vector<double> r0 = re, i0 = im;
  EXPECT_EQ(0, Fft2DForward(re.data(), im.data(), 6, 4));
  EXPECT_EQ(0, Fft2DInverse(re.data(), im.data(), 4, 6));
  EXPECT_EQ(0, Fft2DForward(re.data(), im.data(), 1, 4));
  EXPECT_EQ(0, Fft2DForward(re.data(), im.data(), 4, 0));
  EXPECT_EQ(0, Fft2DForward(nullptr, im.data(), 4, 4));
  EXPECT_EQ(0, Fft2DForward(re.data(), nullptr, 4, 4));
  EXPECT_EQ(0, Fft1D(6, -1, re.data(), im.data(), 1));
  EXPECT_EQ(0, Fft1D(0, -1, re.data(), im.data(), 1));
  EXPECT_EQ(0, Fft1D(4, 0, re.data(), im.data(), 1));
  EXPECT_EQ(0, Fft1D(4, -1, nullptr, im.data(), 1));
  EXPECT_EQ(r0, re);
  EXPECT_EQ(i0, im);
}

TEST(FftCore, ShiftTransposePowerAndLogScale) {
  std::vector<double> p(16);
  for (int i = 0; i < 16; ++i) p[i] = i;
  ASSERT_EQ(1, FftShiftQuadrants(p.data(), 4, 4));
  EXPECT_EQ(0.0, p[2 * 4 + 2]);  // (0, 0) to (2, 2)
  EXPECT_EQ(3.0, p[2 * 4 + 1]);  // (0, 3) to (2, 1)
  ASSERT_EQ(1, FftShiftQuadrants(p.data(), 4, 4));
  for (int i = 0; i < 16; ++i) EXPECT_EQ(double(i), p[i]);
  // Odd sizes follow the element rule exactly.
  std::vector<double> q(15);
  for (int i = 0; i < 15; ++i) q[i] = i;
  ASSERT_EQ(1, FftShiftQuadrants(q.data(), 5, 3));
  for (int c = 0; c < 5; ++c) {
    EXPECT_EQ(double(c), q[1 * 5 + (c + 2) % 5]);
    EXPECT_EQ(double(5 + (c + 2) % 5), q[c]);
  }
  EXPECT_EQ(0, FftShiftQuadrants(nullptr, 4, 4));

  for (auto [cols, rows] : {std::pair<uint64_t, uint64_t>{3, 5}, {64, 33}, {1, 7}}) {
    std::vector<double> src = RandomPlane(cols * rows, 7), dst(cols * rows);
    ASSERT_EQ(1, TransposeMatrix(dst.data(), src.data(), cols, rows));
    std::vector<double> lit = src;
    LiteralTranspose(lit, cols, rows);
    EXPECT_EQ(lit, dst);
    ASSERT_EQ(1, TransposeMatrix(src.data(), src.data(), cols, rows));
    EXPECT_EQ(lit, src);
  }

  std::vector<double> re{3, 0, -1}, im{4, 2, 0}, pw(3);
  ASSERT_EQ(1, PowerSpectrum(pw.data(), re.data(), im.data(), 3));
  EXPECT_EQ((std::vector<double>{25, 4, 1}), pw);
  EXPECT_EQ(0, PowerSpectrum(pw.data(), re.data(), im.data(), 0));
  double maximum = -1;
  ASSERT_EQ(1, MaxPowerSpectrum(re.data(), im.data(), 3, &maximum));
  EXPECT_EQ(25.0, maximum);
  EXPECT_EQ(0, MaxPowerSpectrum(re.data(), nullptr, 3, &maximum));

  std::vector<double> v{0, 9, 99};
  double scale = -1;
  ASSERT_EQ(1, LogScaleSpectrum(v.data(), 3, &scale));
  EXPECT_DOUBLE_EQ(0.5, scale);
  EXPECT_DOUBLE_EQ(0.0, v[0]);
  EXPECT_DOUBLE_EQ(0.5, v[1]);
  EXPECT_DOUBLE_EQ(1.0, v[2]);
  // A black source's spectrum: scale 0, values 0, never NaN.
  std::vector<double> z(100000, 0.0);
  z[5] = -0.0;
  ASSERT_EQ(1, LogScaleSpectrum(z.data(), z.size(), &scale));
  EXPECT_EQ(0.0, scale);
  for (double x : z) EXPECT_EQ(0.0, x);
}

// ---- numpy ---------------------------------------------------------------------------------

bool HaveNumpy() { return std::system("/usr/bin/python3 -c 'import numpy' >/dev/null 2>&1") == 0; }

std::string Script() { return std::string(QV_TEST_DATA_DIR) + "/engine/fft_reference.py"; }

template <class T>
void Append(std::vector<uint8_t>& out, const T* p, size_t n) {
  const uint8_t* b = reinterpret_cast<const uint8_t*>(p);
  out.insert(out.end(), b, b + n * sizeof(T));
}

TEST(FftCore, AgreesWithNumpy) {
  if (!HaveNumpy()) GTEST_SKIP() << "no numpy";
  const uint64_t sizes[][2] = {{2, 2}, {8, 4}, {2, 64}, {64, 32}, {128, 128}, {512, 256}};
  for (auto& s : sizes) {
    const uint64_t w = s[0], h = s[1], n = w * h;
    std::vector<double> re = RandomPlane(n, 11), im = RandomPlane(n, 12);
    std::vector<uint8_t> bytes;
    Append(bytes, s, 2);
    Append(bytes, re.data(), n);
    Append(bytes, im.data(), n);
    const std::string in = "fft_np_in.bin", out = "fft_np_out.bin";
    ASSERT_TRUE(WriteFile(in, bytes));
    ASSERT_EQ(0, std::system(("/usr/bin/python3 '" + Script() + "' fft2 " + in + " " + out).c_str()));
    const std::vector<uint8_t> ref = ReadFile(out);
    ASSERT_EQ(16 + 16 * n, ref.size());
    const double* rr = reinterpret_cast<const double*>(ref.data() + 16);
    const double* ri = rr + n;
    ASSERT_EQ(1, Fft2DForward(re.data(), im.data(), w, h));
    double worst = 0.0, largest = 0.0;
    for (uint64_t i = 0; i < n; ++i) {
      worst = std::max(worst, std::hypot(re[i] - rr[i], im[i] - ri[i]));
      largest = std::max(largest, std::hypot(rr[i], ri[i]));
    }
    EXPECT_LT(worst / largest, 1e-12 * std::log2(double(n))) << w << " x " << h;
  }
}

// ---- pictures ------------------------------------------------------------------------------

// Frees the record on every path of a test.
struct Record {
  SpectrumRecord r{};
  ~Record() { FftFree(&r); }
};

uint32_t Sample(const CImgBuff& img, int32_t x, int32_t y, int32_t ch) {
  const int32_t f = img.Format();
  const int32_t bits = FormatClassBits(f);
  if (IsGrayFormat(f)) {
    uint32_t v = 0;
    img.GetGray32(x, y, &v);
    return bits == 8 ? v >> 24 : bits == 16 ? v >> 16 : v;
  }
  uint32_t c[3];
  img.GetRGB32(x, y, &c[0], &c[1], &c[2]);
  return bits == 8 ? c[ch] >> 24 : bits == 16 ? c[ch] >> 16 : c[ch];
}

// The display value of element i of channel c, as rendering maps it.
uint32_t ExpectedRender(const SpectrumRecord& r, int32_t c, uint64_t i, int32_t bits) {
  const double p = r.re[c][i] * r.re[c][i] + r.im[c][i] * r.im[c][i];
  const double v = std::log10(p + 1.0) * r.logScale[c];
  if (bits == 8) return std::min<uint32_t>(255, 1 + uint32_t(v * 254.0));
  if (bits == 16) return std::min<uint32_t>(65535, 256 + uint32_t(v * 65279.0));
  return uint32_t(std::min<double>(4294967295.0, 65536.0 + std::trunc(v * 4294901759.0)));
}

TEST(FftPicture, RecordLayoutAndPaddedDisplay) {
  EXPECT_EQ(108u, sizeof(SpectrumRecord));
  CImgBuff src, shown;
  FillRandom(src, 300, 200, 1, 21);
  Record rec;
  ASSERT_EQ(1, FftForward(&rec.r, &src));
  EXPECT_EQ(512, int32_t(rec.r.sideColumns));
  EXPECT_EQ(512, int32_t(rec.r.sideRows));
  EXPECT_EQ(1, int32_t(rec.r.bytesPerPixel));
  EXPECT_EQ(nullptr, static_cast<double*>(rec.r.re[1]));
  ASSERT_EQ(1, FftRender(&rec.r, &shown));
  ASSERT_EQ(300, shown.Width());
  ASSERT_EQ(200, shown.Height());
  ASSERT_EQ(1, shown.Format());
  EXPECT_GT(double(rec.r.logScale[0]), 0.0);  // packed: copy, never bind
  for (int32_t y = 0; y < 200; ++y)
    for (int32_t x = 0; x < 300; ++x)
      ASSERT_EQ(ExpectedRender(rec.r, 0, uint64_t(y + 156) * 512 + x + 106, 8), Sample(shown, x, y, 0))
          << x << ", " << y;
  EXPECT_EQ(255u, Sample(shown, 150, 100, 0));  // the zero frequency, the largest power
}

TEST(FftPicture, SquareSourceShowsWholeSpectrumAndUniformShowsOnlyZeroFrequency) {
  CImgBuff src, shown;
  FillRandom(src, 256, 256, 5, 22);
  Record rec;
  ASSERT_EQ(1, FftForward(&rec.r, &src));
  EXPECT_EQ(256, int32_t(rec.r.sideColumns));
  ASSERT_EQ(1, FftRender(&rec.r, &shown));
  ASSERT_EQ(5, shown.Format());
  for (int32_t c = 0; c < 3; ++c)
    for (int32_t y = 0; y < 256; y += 5)
      for (int32_t x = 0; x < 256; ++x)
        ASSERT_EQ(ExpectedRender(rec.r, c, uint64_t(y) * 256 + x, 16), Sample(shown, x, y, c));

  CImgBuff flat;
  ASSERT_EQ(1, flat.Allocate(256, 256, 1));
  std::memset(flat.Pixels(), 100, 256 * 256);
  ASSERT_EQ(1, FftForward(&rec.r, &flat));
  ASSERT_EQ(1, FftRender(&rec.r, &shown));
  for (int32_t y = 0; y < 256; ++y)
    for (int32_t x = 0; x < 256; ++x) ASSERT_EQ(x == 128 && y == 128 ? 255u : 1u, Sample(shown, x, y, 0));
}

TEST(FftPicture, MaskEqualToRenderReturnsSource) {
  struct Case {
    int32_t w, h, format;
  };
  const Case cases[] = {{37, 23, 1}, {64, 64, 1}, {50, 70, 4}, {33, 17, 2}, {16, 40, 5}, {20, 20, 3}, {24, 9, 9}};
  for (const Case& c : cases) {
    CImgBuff src, shown, back;
    FillRandom(src, c.w, c.h, c.format, 30 + c.format);
    Record rec;
    ASSERT_EQ(1, FftForward(&rec.r, &src));
    ASSERT_EQ(1, FftRender(&rec.r, &shown));
    ASSERT_EQ(1, FftInverse(&rec.r, &back, &shown, nullptr));
    ASSERT_EQ(c.w, back.Width());
    ASSERT_EQ(c.h, back.Height());
    ASSERT_EQ(c.format, back.Format());
    const int32_t chans = IsGrayFormat(c.format) ? 1 : 3;
    // C,M,Y,K comes back through its R,G,B; compare what the accessors read.
    for (int32_t y = 0; y < c.h; ++y)
      for (int32_t x = 0; x < c.w; ++x)
        for (int32_t k = 0; k < chans; ++k) {
          const uint32_t want = Sample(src, x, y, k), got = Sample(back, x, y, k);
          if (c.format == 9) {
            ASSERT_LE(got > want ? got - want : want - got, 1u) << x << ", " << y;
          } else {
            ASSERT_TRUE(got == want || got + 1 == want) << c.format << " at " << x << ", " << y << ": "
                                                        << got << " for " << want;
          }
        }
  }
}

TEST(FftPicture, BlackMaskOverPaddedDisplayKeepsOnlyOutsideCoefficients) {
  CImgBuff src, shown, mask, back;
  FillRandom(src, 40, 24, 1, 41);
  Record rec;
  ASSERT_EQ(1, FftForward(&rec.r, &src));
  ASSERT_EQ(1, FftRender(&rec.r, &shown));
  const uint64_t n = 64, nn = n * n;
  std::vector<double> re(rec.r.re[0], rec.r.re[0] + nn), im(rec.r.im[0], rec.r.im[0] + nn);
  for (uint64_t y = 20; y < 44; ++y)
    for (uint64_t x = 12; x < 52; ++x) re[y * n + x] = im[y * n + x] = 0.0;
  ASSERT_EQ(1, mask.Allocate(40, 24, 1));
  ASSERT_EQ(1, FftInverse(&rec.r, &back, &mask, nullptr));
  // The record now holds the edited spectrum in unshifted order.
  ASSERT_EQ(1, FftShiftQuadrants(re.data(), n, n));
  ASSERT_EQ(1, FftShiftQuadrants(im.data(), n, n));
  EXPECT_EQ(0, std::memcmp(re.data(), rec.r.re[0], nn * 8));
  EXPECT_EQ(0, std::memcmp(im.data(), rec.r.im[0], nn * 8));
  ASSERT_EQ(1, Fft2DInverse(re.data(), im.data(), n, n));
  for (int32_t y = 0; y < 24; ++y)
    for (int32_t x = 0; x < 40; ++x) {
      const double v = re[uint64_t(y) * n + x] * 255.0;
      const uint32_t want = v <= 0 ? 0 : v >= 255 ? 255 : uint32_t(v);
      ASSERT_EQ(want, Sample(back, x, y, 0));
    }
}

TEST(FftPicture, MagnitudeFilterSetsPowerFromFraction) {
  CImgBuff src, shown, full, back;
  FillRandom(src, 32, 32, 1, 42);
  Record rec;
  ASSERT_EQ(1, FftForward(&rec.r, &src));
  ASSERT_EQ(1, FftRender(&rec.r, &shown));
  const uint64_t nn = 32 * 32;
  double maxPower = 0.0;
  std::vector<double> before(nn);
  for (uint64_t i = 0; i < nn; ++i) {
    before[i] = rec.r.re[0][i] * rec.r.re[0][i] + rec.r.im[0][i] * rec.r.im[0][i];
    maxPower = std::max(maxPower, before[i]);
  }
  ASSERT_EQ(1, full.Allocate(32, 32, 1));
  std::memset(full.Pixels(), 255, nn);
  full.SetGray8(3, 4, 0);  // removed
  ASSERT_EQ(1, FftInverse(&rec.r, &back, nullptr, &full));
  FftShiftQuadrants(rec.r.re[0], 32, 32);
  FftShiftQuadrants(rec.r.im[0], 32, 32);
  for (uint64_t i = 0; i < nn; ++i) {
    const double p = rec.r.re[0][i] * rec.r.re[0][i] + rec.r.im[0][i] * rec.r.im[0][i];
    if (i == 4 * 32 + 3 || before[i] == 0.0) EXPECT_EQ(0.0, p) << i;
    else EXPECT_NEAR(maxPower, p, maxPower * 1e-9) << i;
  }
}

TEST(FftPicture, BlackSourceAndRefusals) {
  CImgBuff black, shown, back, other, tiny;
  ASSERT_EQ(1, black.Allocate(20, 12, 1));
  Record rec;
  ASSERT_EQ(1, FftForward(&rec.r, &black));
  ASSERT_EQ(1, FftRender(&rec.r, &shown));
  EXPECT_EQ(0.0, double(rec.r.logScale[0]));
  for (int32_t y = 0; y < 12; ++y)
    for (int32_t x = 0; x < 20; ++x) ASSERT_EQ(1u, Sample(shown, x, y, 0));
  ASSERT_EQ(1, FftInverse(&rec.r, &back, nullptr, &shown));  // filter B on an all-zero spectrum
  for (int32_t y = 0; y < 12; ++y)
    for (int32_t x = 0; x < 20; ++x) ASSERT_EQ(0u, Sample(back, x, y, 0));

  CImgBuff src;
  FillRandom(src, 20, 12, 1, 43);
  ASSERT_EQ(1, FftForward(&rec.r, &src));
  ASSERT_EQ(1, FftRender(&rec.r, &shown));
  ASSERT_EQ(1, other.Allocate(21, 12, 1));
  EXPECT_EQ(0, FftInverse(&rec.r, &back, &shown, &shown));
  EXPECT_EQ(0, FftInverse(&rec.r, &back, &other, nullptr));
  EXPECT_EQ(0, FftInverse(&rec.r, &back, nullptr, &other));
  EXPECT_EQ(0, FftInverse(nullptr, &back, nullptr, nullptr));
  ASSERT_EQ(1, tiny.Allocate(1, 1, 1));
  Record fresh;
  EXPECT_EQ(0, FftForward(&fresh.r, &tiny));
  EXPECT_EQ(0, FftForward(&fresh.r, nullptr));
  CImgBuff empty;
  EXPECT_EQ(0, FftForward(&fresh.r, &empty));
  EXPECT_EQ(0, FftForward(nullptr, &src));
  EXPECT_EQ(0, FftRender(&fresh.r, &shown));  // never filled
  EXPECT_EQ(0, FftInverse(&fresh.r, &back, nullptr, nullptr));

  // Never rendered: the log scale is 0 but the spectrum is not, so filter B has no scale.
  Record unrendered;
  ASSERT_EQ(1, FftForward(&unrendered.r, &src));
  EXPECT_EQ(0, FftInverse(&unrendered.r, &back, nullptr, &shown));
  // A hostile copy: display larger than the spectrum.
  SpectrumRecord bad = rec.r;
  bad.width = 100;
  EXPECT_EQ(0, FftRender(&bad, &shown));
  bad = rec.r;
  bad.sideRows = 16;
  EXPECT_EQ(0, FftInverse(&bad, &back, nullptr, nullptr));
  EXPECT_EQ(0, FftFree(nullptr));
}

TEST(FftPicture, BlackAndNonFiniteSpectraStoreTheLowestValues) {
  // Black renders at the lowest display value of its depth, never through a NaN.
  struct Case {
    int32_t format;
    uint32_t lowest;
  };
  for (const Case& c : {Case{2, 256}, Case{3, 65536}, Case{6, 65536}, Case{9, 1}}) {
    CImgBuff black, shown;
    ASSERT_EQ(1, black.Allocate(9, 5, c.format));
    for (int32_t y = 0; y < 5; ++y)
      for (int32_t x = 0; x < 9; ++x)
        if (c.format == 9) black.SetCMYK8(x, y, 0, 0, 0, 255);  // C,M,Y,K black is K = 255
    Record rec;
    ASSERT_EQ(1, FftForward(&rec.r, &black));
    ASSERT_EQ(1, FftRender(&rec.r, &shown));
    ASSERT_EQ(c.format, shown.Format());
    if (c.format == 9) {
      uint8_t r, g, b;
      shown.GetRGB8(4, 2, &r, &g, &b);
      EXPECT_EQ(1, r);
      continue;
    }
    for (int32_t y = 0; y < 5; ++y)
      for (int32_t x = 0; x < 9; ++x) ASSERT_EQ(c.lowest, Sample(shown, x, y, 0)) << c.format;
  }
  // An infinite coefficient leaves no usable scale or inverse; what is stored stays in range.
  CImgBuff src, shown, back;
  FillRandom(src, 16, 16, 1, 44);
  Record rec;
  ASSERT_EQ(1, FftForward(&rec.r, &src));
  rec.r.re[0][5] = INFINITY;
  rec.r.im[0][7] = std::nan("");
  ASSERT_EQ(1, FftRender(&rec.r, &shown));
  for (int32_t y = 0; y < 16; ++y)
    for (int32_t x = 0; x < 16; ++x) ASSERT_EQ(1u, Sample(shown, x, y, 0));
  // The inverse spreads infinities and NaN over the picture: they store as the ends of the range.
  ASSERT_EQ(1, FftInverse(&rec.r, &back, &shown, nullptr));
  for (int32_t y = 0; y < 16; ++y)
    for (int32_t x = 0; x < 16; ++x) {
      const uint32_t v = Sample(back, x, y, 0);
      ASSERT_TRUE(v == 0 || v == 255) << v;
    }
}

TEST(FftPicture, RecordReusedOnlyForSameSideAndChannels) {
  CImgBuff g32, cmyk;
  FillRandom(g32, 64, 48, 3, 51);
  FillRandom(cmyk, 64, 48, 9, 52);
  Record rec, fresh;
  ASSERT_EQ(1, FftForward(&rec.r, &g32));
  void* grayBlock = rec.r.block;
  ASSERT_EQ(1, FftForward(&rec.r, &g32));
  EXPECT_EQ(grayBlock, static_cast<void*>(rec.r.block));  // same side and channels: the block is reused
  ASSERT_EQ(1, FftForward(&rec.r, &cmyk));
  ASSERT_NE(nullptr, static_cast<double*>(rec.r.re[2]));
  ASSERT_EQ(1, FftForward(&fresh.r, &cmyk));
  for (int32_t c = 0; c < 3; ++c) {
    EXPECT_EQ(0, std::memcmp(rec.r.re[c], fresh.r.re[c], 64 * 64 * 8));
    EXPECT_EQ(0, std::memcmp(rec.r.im[c], fresh.r.im[c], 64 * 64 * 8));
  }
  CImgBuff a, b;
  ASSERT_EQ(1, FftRender(&rec.r, &a));
  ASSERT_EQ(1, FftRender(&fresh.r, &b));
  EXPECT_TRUE(SamePixels(a, b));
}

TEST(FftPicture, ForwardAndRenderAgreeWithNumpy) {
  if (!HaveNumpy()) GTEST_SKIP() << "no numpy";
  for (auto [w, h] : {std::pair<int32_t, int32_t>{300, 200}, {64, 64}, {17, 90}}) {
    CImgBuff src, shown;
    FillRandom(src, w, h, 1, 60 + w);
    Record rec;
    ASSERT_EQ(1, FftForward(&rec.r, &src));
    ASSERT_EQ(1, FftRender(&rec.r, &shown));
    std::vector<uint8_t> bytes;
    const int32_t dims[2] = {w, h};
    Append(bytes, dims, 2);
    Append(bytes, static_cast<const uint8_t*>(src.Pixels()), size_t(w) * h);
    ASSERT_TRUE(WriteFile("fft_render_in.bin", bytes));
    ASSERT_EQ(0, std::system(("/usr/bin/python3 '" + Script() + "' render fft_render_in.bin fft_render_out.bin").c_str()));
    const std::vector<uint8_t> ref = ReadFile("fft_render_out.bin");
    ASSERT_EQ(size_t(w) * h, ref.size());
    const uint8_t* got = static_cast<const uint8_t*>(shown.Pixels());
    for (size_t i = 0; i < ref.size(); ++i) ASSERT_LE(std::abs(int(got[i]) - int(ref[i])), 1) << w << " x " << h << " at " << i;
  }
}

}  // namespace

// Demosaic: refusals, mosaic positions and gains, the 2 x 2 linear case, XTRANS truncation
// and none cells, ACPI on narrow pictures and in rectangles, XTRANS and ACPI against a
// literal reference written here from the rules, OpenCV's bilinear Bayer conversion on the
// interior, and the typed linear kernel against the accessor path.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "engine/demosaic.h"
#include "engine/simd.h"
#include "tests/engine/engine_test_util.h"

#ifdef QV_HAVE_OPENCV
#include <opencv2/imgproc.hpp>
#endif

namespace {

using namespace enginetest;

TEST(Demosaic, Refusals) {
  CImgBuff pic, orig, empty;
  FillRandom(pic, 12, 10, 1, 1);
  CopyPicture(orig, pic);
  const RoiRect column{3, 0, 3, 9}, row{0, 4, 11, 4}, outside{20, 20, 30, 30};
  struct Case {
    const char* name;
    uint32_t mode, pattern;
    const RoiRect* roi;
  } cases[] = {{"1 x n", 1, 0, &column}, {"n x 1", 2, 0, &row},      {"mode 3", 3, 0, nullptr},
               {"pattern 6", 0, 6, nullptr}, {"mode -1", uint32_t(-1), 0, nullptr},
               {"outside", 1, 0, &outside}};
  for (const Case& c : cases) {
    EXPECT_EQ(0, Demosaic(&pic, c.mode, c.pattern, nullptr, c.roi)) << c.name;
    EXPECT_TRUE(SamePixels(pic, orig)) << c.name;
  }
  EXPECT_EQ(0, Demosaic(&empty, 1, 0, nullptr, nullptr));
  EXPECT_EQ(0, Demosaic(nullptr, 1, 0, nullptr, nullptr));
}

TEST(Demosaic, MosaicPositionsAndGains) {
  CImgBuff pic, orig;
  FillRandom(pic, 8, 6, 4, 2);
  CopyPicture(orig, pic);
  ASSERT_EQ(1, Demosaic(&pic, 0, 0, nullptr, nullptr));  // "GRBG"
  ASSERT_EQ(1, pic.Format());
  uint8_t r, g, b, v;
  const struct {
    int32_t x, y, channel;
  } cells[] = {{0, 0, 1}, {1, 0, 0}, {0, 1, 2}, {1, 1, 1}, {7, 5, 1}, {6, 4, 1}, {7, 4, 0}};
  for (auto c : cells) {
    orig.GetRGB8(c.x, c.y, &r, &g, &b);
    pic.GetGray8(c.x, c.y, &v);
    EXPECT_EQ((c.channel == 0 ? r : c.channel == 1 ? g : b), v) << c.x << "," << c.y;
  }
  // Gains 2, 1, 4: red 201 / 2 = 100.5 rounds up to 101, blue 255 / 4 = 63.75 to 64.
  const double gains[4] = {0.0, 2.0, 1.0, 4.0};
  ASSERT_EQ(1, pic.Allocate(2, 2, 4));
  pic.SetRGB8(0, 0, 201, 7, 7);  // RGGB: R cell
  pic.SetRGB8(1, 1, 7, 7, 255);  // B cell
  ASSERT_EQ(1, Demosaic(&pic, 0, 2, gains, nullptr));
  pic.GetGray8(0, 0, &v);
  EXPECT_EQ(101, v);
  pic.GetGray8(1, 1, &v);
  EXPECT_EQ(64, v);
}

TEST(Demosaic, MosaicOfARectangleKeepsTheFormat) {
  CImgBuff pic, orig;
  FillRandom(pic, 9, 7, 5, 3);
  CopyPicture(orig, pic);
  const RoiRect rect{2, 1, 6, 4};
  ASSERT_EQ(1, Demosaic(&pic, 0, 3, nullptr, &rect));
  ASSERT_EQ(5, pic.Format());
  for (int32_t y = 0; y < 7; ++y)
    for (int32_t x = 0; x < 9; ++x) {
      uint16_t r, g, b, r0, g0, b0;
      pic.GetRGB16(x, y, &r, &g, &b);
      orig.GetRGB16(x, y, &r0, &g0, &b0);
      if (x >= 2 && x <= 6 && y >= 1 && y <= 4) {
        const CfaColor c = CfaColorAt(3, x, y);
        const uint16_t want = c == CfaRed ? r0 : c == CfaGreen ? g0 : b0;
        EXPECT_TRUE(r == want && g == want && b == want) << x << "," << y;
      } else {
        EXPECT_TRUE(r == r0 && g == g0 && b == b0) << x << "," << y;
      }
    }
}

TEST(Demosaic, Xtrans4WritesZeroAtNoneCells) {
  CImgBuff pic;
  ASSERT_EQ(1, pic.Allocate(12, 12, 4));
  for (int32_t i = 0; i < 144; ++i) pic.SetRGB8(i % 12, i / 12, 200, 201, 202);
  ASSERT_EQ(1, Demosaic(&pic, 0, 5, nullptr, nullptr));
  for (int32_t i = 0; i < 144; ++i) {
    uint8_t v;
    pic.GetGray8(i % 12, i / 12, &v);
    const CfaColor c = CfaColorAt(5, i % 12, i / 12);
    EXPECT_EQ(c == CfaNone ? 0 : 199 + c, v) << i;
  }
}

TEST(Demosaic, LinearTwoByTwo) {
  for (int32_t typed : {1, 0}) {
    SetEngineTypedKernels(typed);
    CImgBuff pic;
    ASSERT_EQ(1, pic.Allocate(2, 2, 1));
    pic.SetGray8(0, 0, 100), pic.SetGray8(1, 0, 50), pic.SetGray8(0, 1, 50), pic.SetGray8(1, 1, 20);
    ASSERT_EQ(1, Demosaic(&pic, 1, 2, nullptr, nullptr));  // "RGGB"
    ASSERT_EQ(4, pic.Format());
    for (int32_t i = 0; i < 4; ++i) {
      uint8_t r, g, b;
      pic.GetRGB8(i % 2, i / 2, &r, &g, &b);
      EXPECT_TRUE(r == 100 && g == 50 && b == 20) << i << ": " << int(r) << " " << int(g) << " " << int(b);
    }
  }
  SetEngineTypedKernels(1);
}

// At 32 bits the mean of 10 and 11 lies half-way between two 8-bit steps; keeping the high
// byte truncates it to 10 where 8-bit rounding would give 11.
TEST(Demosaic, XtransTruncatesByTheHighByte) {
  CImgBuff pic;
  ASSERT_EQ(1, pic.Allocate(6, 6, 1));
  pic.SetGray8(0, 1, 10);  // R
  pic.SetGray8(2, 1, 11);  // R
  ASSERT_EQ(1, Demosaic(&pic, 1, 4, nullptr, nullptr));
  uint8_t r, g, b;
  pic.GetRGB8(1, 1, &r, &g, &b);
  EXPECT_EQ(10, r);
}

// ---- literal references, straight from the rules, on 8-bit gray raws ----------------------

struct Raw {
  int32_t w, h;
  std::vector<int64_t> s;
  int64_t at(int32_t x, int32_t y) const { return s[size_t(y) * w + x]; }
  bool in(int32_t x, int32_t y) const { return x >= 0 && y >= 0 && x < w && y < h; }
};

Raw FromPicture(const CImgBuff& pic) {
  Raw raw{pic.Width(), pic.Height(), {}};
  for (int32_t y = 0; y < raw.h; ++y)
    for (int32_t x = 0; x < raw.w; ++x) {
      uint8_t v;
      pic.GetGray8(x, y, &v);
      raw.s.push_back(v);
    }
  return raw;
}

int64_t Round8(double v) {
  v += 0.5;
  if (!(v > 0)) return 0;
  return v >= 255 ? 255 : int64_t(v);
}

std::vector<int64_t> XtransReference(const Raw& raw, uint32_t pattern) {
  static const int32_t nb[8][3] = {{-1, -1, 2}, {0, -1, 3}, {1, -1, 2}, {1, 0, 3},
                                   {1, 1, 2},   {0, 1, 3},  {-1, 1, 2}, {-1, 0, 3}};
  std::vector<int64_t> out;
  for (int32_t y = 0; y < raw.h; ++y)
    for (int32_t x = 0; x < raw.w; ++x) {
      double sum[4] = {}, wt[4] = {};
      for (auto& n : nb) {
        if (!raw.in(x + n[0], y + n[1])) continue;
        const int c = CfaColorAt(pattern, x + n[0], y + n[1]);
        if (c > 3) continue;
        sum[c] += n[2] * double(raw.at(x + n[0], y + n[1]) * 16843009);
        wt[c] += n[2];
      }
      const int own = CfaColorAt(pattern, x, y);
      for (int c = 1; c <= 3; ++c) {
        const double v = c == own ? double(raw.at(x, y) * 16843009) : wt[c] ? sum[c] / wt[c] : 0;
        out.push_back(int64_t(std::floor(v + 0.5)) >> 24);
      }
    }
  return out;
}

std::vector<int64_t> AcpiReference(const Raw& raw, uint32_t pattern) {
  std::vector<int64_t> green(raw.s.size());
  for (int32_t y = 0; y < raw.h; ++y)
    for (int32_t x = 0; x < raw.w; ++x) {
      const int64_t c = raw.at(x, y);
      if (CfaColorAt(pattern, x, y) == CfaGreen) {
        green[size_t(y) * raw.w + x] = c;
        continue;
      }
      const bool row = x >= 2 && x + 2 < raw.w, col = y >= 2 && y + 2 < raw.h;
      double est;
      if (!row && !col) {
        double sum = 0;
        int n = 0;
        for (auto [dx, dy] : {std::pair{-1, 0}, {1, 0}, {0, -1}, {0, 1}})
          if (raw.in(x + dx, y + dy)) sum += double(raw.at(x + dx, y + dy)), ++n;
        est = n ? sum / n : 0;
      } else {
        auto H = [&](int k) { return raw.at(x + k, y); };
        auto V = [&](int k) { return raw.at(x, y + k); };
        const int64_t dH = row ? std::llabs(2 * c - H(-2) - H(2)) + std::llabs(H(-1) - H(1)) : 0;
        const int64_t dV = col ? std::llabs(2 * c - V(-2) - V(2)) + std::llabs(V(-1) - V(1)) : 0;
        const bool useH = row && (!col || dH <= dV), useV = col && (!row || dV <= dH);
        if (useH && useV)
          est = double(H(-1) + H(1) + V(-1) + V(1)) / 4 + double(4 * c - H(-2) - H(2) - V(-2) - V(2)) / 8;
        else if (useH)
          est = double(H(-1) + H(1)) / 2 + double(2 * c - H(-2) - H(2)) / 4;
        else
          est = double(V(-1) + V(1)) / 2 + double(2 * c - V(-2) - V(2)) / 4;
      }
      green[size_t(y) * raw.w + x] = Round8(est);
    }
  auto P = [&](int32_t x, int32_t y) { return double(green[size_t(y) * raw.w + x]); };
  auto S = [&](int32_t x, int32_t y) { return double(raw.at(x, y)); };
  auto mean = [&](int32_t x, int32_t y, std::initializer_list<std::pair<int, int>> offs) {
    double sum = 0;
    int n = 0;
    for (auto [dx, dy] : offs)
      if (raw.in(x + dx, y + dy)) sum += S(x + dx, y + dy), ++n;
    return double(Round8(sum / n));
  };
  std::vector<int64_t> out;
  for (int32_t y = 0; y < raw.h; ++y)
    for (int32_t x = 0; x < raw.w; ++x) {
      const CfaColor c = CfaColorAt(pattern, x, y);
      const bool rightRed = CfaColorAt(pattern, x + 1, y) == CfaRed;
      const double pc = P(x, y);
      double r, b;
      if (x >= 1 && y >= 1 && x + 1 < raw.w && y + 1 < raw.h) {
        if (c == CfaGreen) {
          const double hE = (2 * pc - P(x - 1, y) - P(x + 1, y)) / 4 + (S(x - 1, y) + S(x + 1, y)) / 2;
          const double vE = (2 * pc - P(x, y - 1) - P(x, y + 1)) / 4 + (S(x, y - 1) + S(x, y + 1)) / 2;
          r = rightRed ? hE : vE, b = rightRed ? vE : hE;
        } else {
          const double dA = std::fabs(2 * pc - P(x + 1, y - 1) - P(x - 1, y + 1)) +
                            std::fabs(S(x + 1, y - 1) - S(x - 1, y + 1));
          const double dF = std::fabs(2 * pc - P(x - 1, y - 1) - P(x + 1, y + 1)) +
                            std::fabs(S(x - 1, y - 1) - S(x + 1, y + 1));
          double e;
          if (dA < dF)
            e = (2 * pc - P(x + 1, y - 1) - P(x - 1, y + 1)) / 4 + (S(x + 1, y - 1) + S(x - 1, y + 1)) / 2;
          else if (dF < dA)
            e = (2 * pc - P(x - 1, y - 1) - P(x + 1, y + 1)) / 4 + (S(x - 1, y - 1) + S(x + 1, y + 1)) / 2;
          else
            e = (4 * pc - P(x - 1, y - 1) - P(x + 1, y - 1) - P(x - 1, y + 1) - P(x + 1, y + 1)) / 8 +
                (S(x - 1, y - 1) + S(x + 1, y - 1) + S(x - 1, y + 1) + S(x + 1, y + 1)) / 4;
          r = c == CfaRed ? S(x, y) : e, b = c == CfaRed ? e : S(x, y);
        }
      } else if (c == CfaGreen) {
        const double h = mean(x, y, {{-1, 0}, {1, 0}}), v = mean(x, y, {{0, -1}, {0, 1}});
        r = rightRed ? h : v, b = rightRed ? v : h;
      } else {
        const double d = mean(x, y, {{-1, -1}, {1, -1}, {-1, 1}, {1, 1}});
        r = c == CfaRed ? S(x, y) : d, b = c == CfaRed ? d : S(x, y);
      }
      out.push_back(Round8(r));
      out.push_back(int64_t(pc));
      out.push_back(Round8(b));
    }
  return out;
}

std::vector<int64_t> Rgb8Of(const CImgBuff& pic) {
  std::vector<int64_t> out;
  for (int32_t y = 0; y < pic.Height(); ++y)
    for (int32_t x = 0; x < pic.Width(); ++x) {
      uint8_t r, g, b;
      pic.GetRGB8(x, y, &r, &g, &b);
      out.insert(out.end(), {r, g, b});
    }
  return out;
}

TEST(Demosaic, XtransAndAcpiEqualTheLiteralReference) {
  const int32_t sizes[][2] = {{4, 6}, {5, 5}, {2, 2}, {23, 17}, {2, 9}};
  for (auto [w, h] : sizes)
    for (uint32_t pattern = 0; pattern <= 5; ++pattern) {
      CImgBuff pic;
      FillRandom(pic, w, h, 1, uint32_t(w * 100 + h + pattern));
      const Raw raw = FromPicture(pic);
      CImgBuff acpi;
      CopyPicture(acpi, pic);
      ASSERT_EQ(1, Demosaic(&acpi, 2, pattern, nullptr, nullptr));
      EXPECT_EQ(AcpiReference(raw, pattern), Rgb8Of(acpi)) << w << "x" << h << " pattern " << pattern;
      if (pattern >= 4) {
        ASSERT_EQ(1, Demosaic(&pic, 1, pattern, nullptr, nullptr));
        EXPECT_EQ(XtransReference(raw, pattern), Rgb8Of(pic)) << w << "x" << h << " pattern " << pattern;
      }
    }
}

// Four columns: no row line is ever usable, so green at R and B cells comes from the column
// in rows 2 .. height - 3 and from the four-neighbour mean in the top and bottom two rows.
TEST(Demosaic, AcpiFourWide) {
  CImgBuff pic;
  ASSERT_EQ(1, pic.Allocate(4, 7, 1));
  for (int32_t y = 0; y < 7; ++y)
    for (int32_t x = 0; x < 4; ++x) pic.SetGray8(x, y, uint8_t(10 * y + 3 * x + (x + y) % 2 * 40));
  const Raw raw = FromPicture(pic);
  ASSERT_EQ(1, Demosaic(&pic, 2, 2, nullptr, nullptr));  // "RGGB": R at (0, 0), B at (1, 1)
  uint8_t r, g, b;
  // R at (0, 2): column 0, 20, 40, 60, 80 minus... by the column rule.
  pic.GetRGB8(0, 2, &r, &g, &b);
  const double col = (raw.at(0, 1) + raw.at(0, 3)) / 2.0 + (2.0 * raw.at(0, 2) - raw.at(0, 0) - raw.at(0, 4)) / 4;
  EXPECT_EQ(Round8(col), g);
  // B at (1, 1): top two rows, the four-neighbour mean.
  pic.GetRGB8(1, 1, &r, &g, &b);
  EXPECT_EQ(Round8((raw.at(0, 1) + raw.at(2, 1) + raw.at(1, 0) + raw.at(1, 2)) / 4.0), g);
}

TEST(Demosaic, AcpiGainsAndRectangles) {
  CImgBuff pic;
  FillRandom(pic, 31, 23, 1, 9);
  const double ones[4] = {0.0, 1.0, 1.0, 1.0};
  for (uint32_t pattern = 0; pattern <= 5; ++pattern) {
    CImgBuff a, b;
    CopyPicture(a, pic);
    CopyPicture(b, pic);
    ASSERT_EQ(1, Demosaic(&a, 2, pattern, nullptr, nullptr));
    ASSERT_EQ(1, Demosaic(&b, 2, pattern, ones, nullptr));
    EXPECT_TRUE(SamePixels(a, b)) << "unit gains change nothing, pattern " << pattern;
    // A rectangle gives what the whole picture gives inside it, with and without gains.
    const double gains[4] = {0.0, 1.5, 0.8, 2.0};
    for (const double* g : {static_cast<const double*>(nullptr), gains}) {
      CImgBuff whole, part;
      CopyPicture(whole, pic);
      CopyPicture(part, pic);
      ASSERT_EQ(1, Demosaic(&whole, 2, pattern, g, nullptr));
      for (RoiRect rect : {RoiRect{5, 4, 20, 15}, RoiRect{0, 0, 6, 5}, RoiRect{27, 19, 30, 22}}) {
        CImgBuff in;
        CopyPicture(in, pic);
        ASSERT_EQ(1, Demosaic(&in, 2, pattern, g, &rect));
        ASSERT_EQ(4, in.Format());
        for (int32_t y = rect.y0; y <= rect.y1; ++y)
          for (int32_t x = rect.x0; x <= rect.x1; ++x) {
            uint8_t r0, g0, b0, r1, g1, b1;
            whole.GetRGB8(x, y, &r0, &g0, &b0);
            in.GetRGB8(x, y, &r1, &g1, &b1);
            ASSERT_TRUE(r0 == r1 && g0 == g1 && b0 == b1)
                << "pattern " << pattern << " at " << x << "," << y << (g ? " gains" : "");
          }
        // Outside the rectangle the gray is replicated into R, G and B.
        uint8_t r, gg, b, v0;
        const int32_t ox = rect.x0 > 0 ? 0 : 30, oy = rect.y0 > 0 ? 0 : 22;
        in.GetRGB8(ox, oy, &r, &gg, &b);
        pic.GetGray8(ox, oy, &v0);
        EXPECT_TRUE(r == v0 && gg == v0 && b == v0);
      }
    }
  }
}

// With the AVX2 and the baseline builds of the vector kernels; odd and even sizes, down to
// pictures whose every pixel lies on an edge.
TEST(Demosaic, TypedMatchesReference) {
  const double gains[4] = {0.0, 1.25, 1.0, 0.5};
  const std::pair<int32_t, int32_t> sizes[] = {{97, 61}, {300, 61}, {2, 2}, {3, 5}, {6, 3}};
  for (int32_t avx2 : {1, 0}) {
    SetEngineAvx2(avx2);
    for (uint32_t mode : {0u, 1u, 2u})
      for (int32_t format : {1, 2, 4})
        for (uint32_t pattern = 0; pattern <= 5; ++pattern)
          for (const double* g : {static_cast<const double*>(nullptr), static_cast<const double*>(gains)})
            for (auto [w, h] : sizes)
              ExpectTypedMatchesReference(
                  format,
                  "mode " + std::to_string(mode) + " pattern " + std::to_string(pattern) + " avx2 " +
                      std::to_string(avx2) + " " + std::to_string(w) + " x " + std::to_string(h),
                  [&](CImgBuff* img, const RoiRect* roi) { return Demosaic(img, mode, pattern, g, roi); }, w, h);
  }
  SetEngineAvx2(1);
}

#ifdef QV_HAVE_OPENCV
// OpenCV names a Bayer layout by the second row's first two cells.
TEST(Demosaic, LinearInteriorEqualsOpenCv) {
  const struct {
    uint32_t pattern;
    int code;
  } cases[] = {{2, cv::COLOR_BayerBG2RGB},
               {3, cv::COLOR_BayerRG2RGB},
               {0, cv::COLOR_BayerGB2RGB},
               {1, cv::COLOR_BayerGR2RGB}};
  for (int32_t format : {1, 2})
    for (auto c : cases) {
      const int32_t w = 53, h = 37;
      CImgBuff pic;
      FillRandom(pic, w, h, format, 40 + c.pattern);
      cv::Mat raw(h, w, format == 1 ? CV_8UC1 : CV_16UC1), rgb;
      std::memcpy(raw.data, pic.Pixels(), raw.total() * raw.elemSize());
      cv::cvtColor(raw, rgb, c.code);
      ASSERT_EQ(1, Demosaic(&pic, 1, c.pattern, nullptr, nullptr));
      int32_t wrong = 0;
      for (int32_t y = 1; y < h - 1; ++y)
        for (int32_t x = 1; x < w - 1; ++x)
          for (int32_t k = 0; k < 3; ++k) {
            const uint32_t want = format == 1 ? rgb.at<cv::Vec3b>(y, x)[k] : rgb.at<cv::Vec3w>(y, x)[k];
            const uint32_t got = format == 1 ? RowPtr<uint8_t>(pic.record, x, y)[k]
                                             : RowPtr<uint16_t>(pic.record, x, y)[k];
            if (want != got) ++wrong;
          }
      EXPECT_EQ(0, wrong) << "format " << format << " pattern " << c.pattern;
    }
}
#endif

}  // namespace

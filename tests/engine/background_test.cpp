// Background creation: worked means and extremes, the bounded extremes, the L*a*b* rule,
// the callback's order and its stop, refusals, frames of other sizes and formats, numpy's
// mean, max and min over random stacks, and the typed kernels against the accessor path.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/background.h"
#include "engine/simd.h"
#include "tests/engine/engine_test_util.h"

namespace {

using namespace enginetest;

// Hands out copies of its frames and records what was asked; refuses frame refuseAt.
struct Source {
  std::vector<std::unique_ptr<CImgBuff>> frames;
  std::vector<uint64_t> asked;
  uint64_t refuseAt = UINT64_MAX;

  CImgBuff& Add(int32_t w, int32_t h, int32_t format) {
    frames.push_back(std::make_unique<CImgBuff>());
    EXPECT_EQ(1, frames.back()->Allocate(w, h, format));
    return *frames.back();
  }
  void AddGray8(uint8_t v) { Add(1, 1, 1).SetGray8(0, 0, v); }
  void AddRgb8(uint8_t r, uint8_t g, uint8_t b) { Add(1, 1, 4).SetRGB8(0, 0, r, g, b); }
  void AddLab(double L, double a, double b) { Add(1, 1, 7).SetLab(0, 0, L, a, b); }
};

int32_t Fetch(uint64_t index, CImgBuff* picture, void* user) {
  Source* s = static_cast<Source*>(user);
  s->asked.push_back(index);
  if (index == s->refuseAt) return 0;
  picture->CopyFrom(*s->frames[size_t(index)]);
  return 1;
}

// An out picture that is not empty, as the tool hands it in before the first fetch.
void Placeholder(CImgBuff& out) { ASSERT_EQ(1, out.Allocate(1, 1, 1)); }

uint8_t Gray8(const CImgBuff& img, int32_t x = 0, int32_t y = 0) {
  uint8_t v = 0;
  img.GetGray8(x, y, &v);
  return v;
}

TEST(CreateBackground, WorkedGrayValues) {
  struct Case {
    const char* name;
    int32_t mode;
    std::vector<uint8_t> values;
    uint8_t expected;
  } cases[] = {
      {"mean truncates", 0, {10, 11}, 10},
      {"mean of three", 0, {255, 255, 254}, 254},
      {"maximum", 1, {7, 200, 13}, 200},
      {"minimum", -1, {7, 200, 13}, 7},
      {"one frame's maximum", 1, {42}, 42},
      {"one frame's minimum", -1, {42}, 42},
      {"one frame's mean", 0, {255}, 255},
  };
  for (const Case& c : cases) {
    Source s;
    for (uint8_t v : c.values) s.AddGray8(v);
    CImgBuff out;
    Placeholder(out);
    EXPECT_EQ(1, CreateBackground(&out, c.values.size(), c.mode, Fetch, &s)) << c.name;
    EXPECT_EQ(1, out.Format());
    EXPECT_EQ(c.expected, Gray8(out)) << c.name;
  }
}

TEST(CreateBackground, ColourFramesIntoGrayTakeTheLuma) {
  for (int32_t typed : {1, 0}) {
    SetEngineTypedKernels(typed);
    Source s;
    s.AddGray8(100);
    s.AddRgb8(10, 200, 30);  // luma (2990 + 117400 + 3420 + 500) / 1000 = 124
    CImgBuff out;
    Placeholder(out);
    EXPECT_EQ(1, CreateBackground(&out, 2, 0, Fetch, &s));
    EXPECT_EQ(112, Gray8(out)) << typed;
    Source t;
    t.AddGray8(100);
    t.AddRgb8(10, 200, 30);
    EXPECT_EQ(1, CreateBackground(&out, 2, 1, Fetch, &t));
    EXPECT_EQ(124, Gray8(out)) << typed;
  }
  SetEngineTypedKernels(1);
}

TEST(CreateBackground, FetchOrderAndStop) {
  Source s;
  for (uint8_t v : {1, 2, 3, 4, 5}) s.AddGray8(v);
  CImgBuff out;
  Placeholder(out);
  EXPECT_EQ(1, CreateBackground(&out, 3, 0, Fetch, &s));
  EXPECT_EQ((std::vector<uint64_t>{0, 0, 1, 2}), s.asked);

  for (int32_t mode : {-1, 0, 1}) {
    s.asked.clear();
    s.refuseAt = 3;
    EXPECT_EQ(-1, CreateBackground(&out, 5, mode, Fetch, &s));
    EXPECT_EQ((std::vector<uint64_t>{0, 0, 1, 2, 3}), s.asked);
    EXPECT_EQ(1, Gray8(out)) << "out keeps frame 0";
    s.asked.clear();
    EXPECT_EQ(-1, CreateBackgroundLab(&out, 5, mode, 10.0, Fetch, &s));
    EXPECT_EQ((std::vector<uint64_t>{0, 0, 1, 2, 3}), s.asked);
    EXPECT_EQ(1, Gray8(out));
  }
  // The L*a*b* mean stopped in its second round.
  s.asked.clear();
  s.refuseAt = UINT64_MAX;
  EXPECT_EQ(1, CreateBackgroundLab(&out, 3, 0, 10.0, Fetch, &s));
  EXPECT_EQ((std::vector<uint64_t>{0, 0, 1, 2, 0, 1, 2}), s.asked);
}

TEST(CreateBackground, RefusalsFetchNothing) {
  Source s;
  s.AddGray8(9);
  CImgBuff out, empty;
  Placeholder(out);
  struct Case {
    const char* name;
    CImgBuff* out;
    uint64_t count;
    int32_t mode;
    double level;
    FrameFetchFn fetch;
  } cases[] = {
      {"frameCount 0", &out, 0, 0, 0.0, Fetch},   {"mode 2", &out, 1, 2, 0.0, Fetch},
      {"mode -2", &out, 1, -2, 0.0, Fetch},       {"empty out", &empty, 1, 0, 0.0, Fetch},
      {"no fetch", &out, 1, 0, 0.0, nullptr},     {"level -0.5", &out, 1, 0, -0.5, Fetch},
      {"level NaN", &out, 1, 0, std::nan(""), Fetch},
  };
  for (const Case& c : cases) {
    if (c.level == 0.0) {
      EXPECT_EQ(0, CreateBackground(c.out, c.count, c.mode, c.fetch, &s)) << c.name;
    }
    EXPECT_EQ(0, CreateBackgroundLab(c.out, c.count, c.mode, c.level, c.fetch, &s)) << c.name;
    EXPECT_TRUE(s.asked.empty()) << c.name;
  }
  EXPECT_EQ(0, CreateBackground(nullptr, 1, 0, Fetch, &s));
}

// A frame smaller than the first would leave pixels out of the sums while the mean divides
// by every frame: the build fails with frame 0 kept.  A larger one is read top-left.
TEST(CreateBackground, FramesOfOtherSizes) {
  for (int32_t mode : {-1, 0, 1}) {
    Source s;
    CImgBuff& f0 = s.Add(2, 2, 1);
    for (int32_t i = 0; i < 4; ++i) f0.SetGray8(i % 2, i / 2, uint8_t(10 * (i + 1)));
    CImgBuff& big = s.Add(3, 3, 1);
    for (int32_t i = 0; i < 9; ++i) big.SetGray8(i % 3, i / 3, uint8_t(10 * (i % 3) + 30 * (i / 3)));
    s.Add(2, 1, 1);
    CImgBuff out;
    Placeholder(out);
    EXPECT_EQ(0, CreateBackground(&out, 3, mode, Fetch, &s)) << mode;
    EXPECT_TRUE(SamePixels(out, f0));
    EXPECT_EQ(0, CreateBackgroundLab(&out, 3, mode, 5.0, Fetch, &s)) << mode;
    EXPECT_TRUE(SamePixels(out, f0));
    EXPECT_EQ(1, CreateBackground(&out, 2, mode, Fetch, &s));
    ASSERT_EQ(2, out.Width());
    const uint8_t expected[3][4] = {{0, 10, 30, 40}, {5, 15, 30, 40}, {10, 20, 30, 40}};
    for (int32_t i = 0; i < 4; ++i) EXPECT_EQ(expected[mode + 1][i], Gray8(out, i % 2, i / 2));
  }
}

TEST(CreateBackgroundLab, BoundedExtremes) {
  for (int32_t format : {4, 1}) {
    Source s;
    for (uint8_t v : {10, 20, 90}) {
      if (format == 4) s.AddRgb8(v, 50, 50);
      else s.AddGray8(v);
    }
    CImgBuff out;
    Placeholder(out);
    // Mean 40, min 10, max 90: 90 - 40 > 40 - 10, so the maximum becomes 2 x 40 - 10.
    EXPECT_EQ(1, CreateBackgroundLab(&out, 3, 1, 0.0, Fetch, &s));
    EXPECT_EQ(format, out.Format());
    uint8_t r, g, b;
    out.GetRGB8(0, 0, &r, &g, &b);
    EXPECT_EQ(70, r);
    if (format == 4) {
      EXPECT_EQ(50, g);
    }
    // 50 <= 30 fails: the minimum stays 10.
    EXPECT_EQ(1, CreateBackgroundLab(&out, 3, -1, 0.0, Fetch, &s));
    out.GetRGB8(0, 0, &r, &g, &b);
    EXPECT_EQ(10, r);
  }
  // The other side: values 10, 80, 90 (mean 60) limit the minimum to 2 x 60 - 90 = 30.
  Source s;
  for (uint8_t v : {10, 80, 90}) s.AddGray8(v);
  CImgBuff out;
  Placeholder(out);
  EXPECT_EQ(1, CreateBackgroundLab(&out, 3, -1, 0.0, Fetch, &s));
  EXPECT_EQ(30, Gray8(out));
  EXPECT_EQ(1, CreateBackgroundLab(&out, 3, 1, 0.0, Fetch, &s));
  EXPECT_EQ(90, Gray8(out));
}

// Hand-worked L*a*b* means; frames are XYZ pictures so that L*, a*, b* pass unrounded.
TEST(CreateBackgroundLab, NoiseRuleBelowAndAbove50) {
  struct Frame {
    double L, a, b;
  };
  struct Case {
    const char* name;
    std::vector<Frame> frames;
    double level;
    Frame expected;
  } cases[] = {
      // Mean L* 23.33: squared distances 11.1, 11.1, 44.4; a* is ignored below 50.
      {"dark, lightness alone", {{20, 0, 5}, {20, 40, 5}, {30, -60, 5}}, 20.0, {20, 20, 5}},
      // Dark: equal lightness admits every frame whatever its chroma.
      {"dark, chroma ignored", {{40, 0, 0}, {40, 0, 0}, {40, 30, 0}}, 0.0, {40, 10, 0}},
      // Light: a* mean 10, squared distances 0.25 x 100, 0.25 x 100, 0.25 x 400.
      {"light, a quarter of chroma", {{60, 0, 0}, {60, 0, 0}, {60, 30, 0}}, 30.0, {60, 0, 0}},
      {"light, all within", {{60, 0, 0}, {60, 0, 0}, {60, 30, 0}}, 100.0, {60, 10, 0}},
      // Mean (53.33, 26.67): the dark frame is judged by lightness alone (177.8; with chroma
      // it would be 355.6), the light ones by 44.4 + 0.25 x 177.8 = 88.9.
      {"dark frame, light mean", {{40, 0, 0}, {60, 40, 0}, {60, 40, 0}}, 200.0,
       {160.0 / 3, 80.0 / 3, 0}},
      {"dark frame out", {{40, 0, 0}, {60, 40, 0}, {60, 40, 0}}, 100.0, {60, 40, 0}},
      // No frame within the level: the plain mean rather than 0 / 0.
      {"none within", {{20, 10, 0}, {30, 20, 0}}, 10.0, {25, 15, 0}},
  };
  for (const Case& c : cases) {
    Source s;
    for (const Frame& f : c.frames) s.AddLab(f.L, f.a, f.b);
    CImgBuff out;
    Placeholder(out);
    EXPECT_EQ(1, CreateBackgroundLab(&out, c.frames.size(), 0, c.level, Fetch, &s)) << c.name;
    double L, a, b;
    ASSERT_EQ(1, out.GetLab(0, 0, &L, &a, &b));
    EXPECT_NEAR(c.expected.L, L, 1e-6) << c.name;
    EXPECT_NEAR(c.expected.a, a, 1e-6) << c.name;
    EXPECT_NEAR(c.expected.b, b, 1e-6) << c.name;
  }
}

// numpy's floor(mean), max and min over random stacks, for gray and R, G, B at 8 and 16 bits.
TEST(CreateBackground, MatchesNumpyOnRandomStacks) {
  if (std::system("/usr/bin/python3 -c 'import numpy' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "numpy not installed";
  const int32_t w = 67, h = 45, n = 7;
  for (int32_t format : {1, 4, 2, 5}) {
    Source s;
    std::string raw;
    for (int32_t i = 0; i < n; ++i) {
      CImgBuff& f = s.Add(w, h, format);
      FillRandom(f, w, h, format, uint32_t(900 + i + 10 * format));
      raw.append(static_cast<const char*>(f.Pixels()), size_t(w) * h * ImgBytesPerPixel[format]);
    }
    const std::string in = "stack_" + std::to_string(format) + ".raw", outName = in + ".ref";
    std::ofstream(in, std::ios::binary).write(raw.data(), std::streamsize(raw.size()));
    const int32_t channels = format <= 3 ? 1 : 3;
    const std::string cmd = "/usr/bin/python3 '" QV_TEST_DATA_DIR "/engine/stack_reference.py' " +
                            in + " " + outName + " " + std::to_string(n) + " " + std::to_string(h) +
                            " " + std::to_string(w) + " " + std::to_string(channels) + " " +
                            (format == 1 || format == 4 ? "u1" : "u2");
    ASSERT_EQ(0, std::system(cmd.c_str())) << cmd;
    std::ifstream ref(outName, std::ios::binary);
    const std::string expected((std::istreambuf_iterator<char>(ref)), std::istreambuf_iterator<char>());
    const size_t bytes = size_t(w) * h * ImgBytesPerPixel[format];
    ASSERT_EQ(3 * bytes, expected.size());
    const int32_t modes[3] = {0, 1, -1};
    for (int32_t k = 0; k < 3; ++k)
      for (int32_t typed : {1, 0}) {
        SetEngineTypedKernels(typed);
        CImgBuff out;
        Placeholder(out);
        EXPECT_EQ(1, CreateBackground(&out, n, modes[k], Fetch, &s));
        ASSERT_EQ(format, out.Format());
        EXPECT_EQ(0, std::memcmp(out.Pixels(), expected.data() + k * bytes, bytes))
            << "format " << format << " mode " << modes[k] << " typed " << typed;
      }
    SetEngineTypedKernels(1);
    std::remove(in.c_str());
    std::remove(outName.c_str());
  }
}

// Typed kernels against the accessor path for every output format, with frames in the
// output's format (typed rows) and in others (accessor reads into integer sums), with the
// AVX2 and the baseline builds of the row kernels; the larger pictures' typed passes run in
// bands on the worker pool.
TEST(CreateBackground, TypedMatchesReference) {
  const std::pair<int32_t, int32_t> sizes[] = {{131, 70}, {700, 400}};
  for (int32_t avx2 : {1, 0}) {
    SetEngineAvx2(avx2);
    for (auto [w, h] : sizes)
      for (int32_t format = 1; format <= 9; ++format)
        for (int32_t mixed : {0, 1}) {
          if (w > 200 && (mixed || format > 6)) continue;  // the accessor paths are slow and seen above
          Source s;
          for (int32_t i = 0; i < 4; ++i) {
            const int32_t f = mixed && i % 2 ? 1 + (format + i) % 9 : format;
            FillRandom(s.Add(w, h, f), w, h, f, uint32_t(77 * format + i));
          }
          for (int32_t mode : {-1, 0, 1}) {
            CImgBuff typed, reference;
            Placeholder(typed);
            Placeholder(reference);
            SetEngineTypedKernels(1);
            EXPECT_EQ(1, CreateBackground(&typed, 4, mode, Fetch, &s));
            SetEngineTypedKernels(0);
            EXPECT_EQ(1, CreateBackground(&reference, 4, mode, Fetch, &s));
            SetEngineTypedKernels(1);
            EXPECT_TRUE(SamePixels(typed, reference))
                << w << " x " << h << " format " << format << " mixed " << mixed << " mode " << mode
                << " avx2 " << avx2 << ": " << FirstDifference(typed, reference);
          }
        }
  }
  SetEngineAvx2(1);
}

// 8-bit sums run in 16 bits for 257 frames at a time: 600 frames of 255 overflow them
// twice before the last fold, and random frames must still match the double sums.
TEST(CreateBackground, LongRunsOfEightBitFrames) {
  for (int32_t avx2 : {1, 0})
  for (int32_t format : {1, 4, 9}) {
    SetEngineAvx2(avx2);
    Source white, noise;
    for (int32_t i = 0; i < 600; ++i) {
      CImgBuff& w = white.Add(5, 3, format);
      for (int32_t k = 0; k < 15; ++k) w.SetGray8(k % 5, k / 5, 255);
      FillRandom(noise.Add(5, 3, format), 5, 3, format, uint32_t(i));
    }
    for (uint64_t n : {257u, 258u, 600u}) {
      CImgBuff out;
      Placeholder(out);
      ASSERT_EQ(1, CreateBackground(&out, n, 0, Fetch, &white));
      EXPECT_EQ(255, Gray8(out, 4, 2)) << n;
      CImgBuff typed, reference;
      Placeholder(typed);
      Placeholder(reference);
      EXPECT_EQ(1, CreateBackground(&typed, n, 0, Fetch, &noise));
      SetEngineTypedKernels(0);
      EXPECT_EQ(1, CreateBackground(&reference, n, 0, Fetch, &noise));
      SetEngineTypedKernels(1);
      EXPECT_TRUE(SamePixels(typed, reference)) << format << " " << n << " avx2 " << avx2 << ": "
                                                << FirstDifference(typed, reference);
    }
  }
  SetEngineAvx2(1);
}

}  // namespace

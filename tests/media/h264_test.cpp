// h264_test.cpp - colour conversions to and from I420, loading the encoder library, and the
// decoder's refusals.
#include "media/h264.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

struct RgbCase {
  const char* name;
  uint8_t r, g, b;
  uint8_t y, u, v;
};

TEST(RgbToI420, WorkedValues) {
  const RgbCase cases[] = {
      // (859*255 + 16500) / 1000 = 235; the U and V weights sum to 0, so greys have 128
      {"white", 255, 255, 255, 235, 128, 128},
      {"black", 0, 0, 0, 16, 128, 128},
      // y = 16 + 46.665 rounds to 63; u = 128 - 25.755 to 102; v = 128 + 111.945 to 240
      {"red", 255, 0, 0, 63, 102, 240},
      // u = 128 + 440 * 255 / 1000 = 240.2; y = 16 + 15.81 rounds to 32
      {"blue", 0, 0, 255, 32, 240, 118},
  };
  for (const RgbCase& c : cases) {
    // A 2 x 2 block of one colour: U and V are the average of four equal values.
    uint8_t rgb[12];
    for (int i = 0; i < 4; ++i) {
      rgb[3 * i] = c.r;
      rgb[3 * i + 1] = c.g;
      rgb[3 * i + 2] = c.b;
    }
    uint8_t y[4], u, v;
    RgbToI420(2, 2, rgb, y, &u, &v);
    for (uint8_t value : y) EXPECT_EQ(value, c.y) << c.name;
    EXPECT_EQ(u, c.u) << c.name;
    EXPECT_EQ(v, c.v) << c.name;
  }
}

TEST(RgbToI420, ChromaIsTheBlockAverage) {
  // Red, green, blue and black: the average of the four pixels' chroma, rounded once.
  // u = 128 + (-101*255 - 339*255 + 440*255) / 4000 = 128; v = 128 + (439 - 399 - 40) * 255 / 4000 = 128
  const uint8_t rgb[12] = {255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0};
  uint8_t y[4], u, v;
  RgbToI420(2, 2, rgb, y, &u, &v);
  EXPECT_EQ(u, 128);
  EXPECT_EQ(v, 128);
  // Two reds and two blacks: u = 128 - 2 * 25.755 / 4 = 115.1, v = 128 + 2 * 111.945 / 4 = 183.97
  const uint8_t half[12] = {255, 0, 0, 0, 0, 0, 0, 0, 0, 255, 0, 0};
  RgbToI420(2, 2, half, y, &u, &v);
  EXPECT_EQ(u, 115);
  EXPECT_EQ(v, 184);
}

// Every grey level comes out neutral (a grey video saved as MP4 must not turn yellowish) and
// comes back within a level through the limited-range formula.
TEST(RgbToI420, GreysAreNeutralAndComeBack) {
  for (int g = 0; g < 256; ++g) {
    uint8_t rgb[12];
    memset(rgb, g, sizeof rgb);
    uint8_t y[4], u, v;
    RgbToI420(2, 2, rgb, y, &u, &v);
    ASSERT_EQ(u, 128) << g;
    ASSERT_EQ(v, 128) << g;
    uint8_t back[12];
    I420ToRgb(2, 2, 2, y, &u, &v, back, 2, 1, 2, 2);
    for (uint8_t b : back) ASSERT_NEAR(b, g, 1) << g;
  }
}

struct YuvCase {
  const char* name;
  uint8_t y, u, v;
  uint8_t r, g, b;
};

TEST(I420ToRgb, WorkedValues) {
  const YuvCase cases[] = {
      {"black", 16, 128, 128, 0, 0, 0},
      {"near white", 235, 128, 128, 254, 254, 254},
      {"below black clamps", 0, 128, 128, 0, 0, 0},
      {"above white clamps", 255, 128, 128, 255, 255, 255},
      // c = 64 * 1164 = 74496; R = (74496 + 1793 * 112) / 1000 = 275 -> 255;
      // G = (74496 - 0 - 533 * 112) / 1000 = 14; B = 74
      {"red-ish", 80, 128, 240, 255, 14, 74},
  };
  for (const YuvCase& c : cases) {
    const uint8_t y[4] = {c.y, c.y, c.y, c.y};
    uint8_t out[12];
    I420ToRgb(2, 2, 2, y, &c.u, &c.v, out, 2, 1, 2, 2);
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(out[3 * i], c.r) << c.name;
      EXPECT_EQ(out[3 * i + 1], c.g) << c.name;
      EXPECT_EQ(out[3 * i + 2], c.b) << c.name;
    }
  }
}

// A picture smaller than the output: the rest is black and nothing is read past the
// picture (the planes are exactly the picture's size, so the sanitizer would see it).
TEST(I420ToRgb, SmallerPictureIsPaddedBlack) {
  const int pw = 4, ph = 2, ow = 8, oh = 4;
  std::vector<uint8_t> y(pw * ph, 235), u(pw / 2 * ph / 2, 128), v(pw / 2 * ph / 2, 128);
  std::vector<uint8_t> out(ow * oh * 3, 7);
  I420ToRgb(ow, oh, ow, y.data(), u.data(), v.data(), out.data(), pw, pw / 2, pw, ph);
  for (int row = 0; row < oh; ++row)
    for (int x = 0; x < ow; ++x) {
      const uint8_t expect = (row < ph && x < pw) ? 254 : 0;
      for (int k = 0; k < 3; ++k) ASSERT_EQ(out[(row * ow + x) * 3 + k], expect) << row << "," << x;
    }
}

// Columns resampled from a wider coded picture: the last output pixel's right-hand
// neighbour would be one past the row; it is clamped to the last pixel.
TEST(I420ToRgb, ResamplingClampsAtTheRightEdge) {
  const int cw = 6, h = 2, ow = 4;
  std::vector<uint8_t> y = {16, 16, 16, 16, 16, 235, 16, 16, 16, 16, 16, 235};
  std::vector<uint8_t> u(cw / 2, 128), v(cw / 2, 128);
  std::vector<uint8_t> out(ow * h * 3);
  I420ToRgb(ow, h, cw, y.data(), u.data(), v.data(), out.data(), cw, cw / 2, cw, h);
  // x = 3 reads p = 4.5: Y = truncate(235 * 0.5 + 16 * 0.5) = 125 -> c = 109 * 1164 = 126876 -> 126
  EXPECT_EQ(out[3 * 3], 126);
  EXPECT_EQ(out[0], 0);
  // Widening: x = 7 of 8 from 6 columns reads p = 5.25, i + 1 = 6 clamps to 5.
  std::vector<uint8_t> wide(8 * h * 3);
  I420ToRgb(8, h, cw, y.data(), u.data(), v.data(), wide.data(), cw, cw / 2, cw, h);
  EXPECT_EQ(wide[7 * 3], 254);
}

// A sample entry that claims a coded width wider than the decoded rows (beyond the luma
// stride) is not believed: the rows are converted as they are, the rest of the output row
// black, rather than squeezed as if the picture were that wide.
TEST(I420ToRgb, CodedWidthBeyondTheStrideConvertsRowsDirectly) {
  const int pw = 4, h = 2, ow = 6, coded = 16;
  const std::vector<uint8_t> y = {16, 235, 16, 235, 16, 235, 16, 235};
  const std::vector<uint8_t> u(pw / 2, 128), v(pw / 2, 128);
  std::vector<uint8_t> out(ow * h * 3, 7);
  I420ToRgb(ow, h, coded, y.data(), u.data(), v.data(), out.data(), pw, pw / 2, pw, h);
  for (int row = 0; row < h; ++row)
    for (int x = 0; x < ow; ++x) {
      const uint8_t expect = x >= pw ? 0 : (x & 1) ? 254 : 0;
      for (int k = 0; k < 3; ++k) ASSERT_EQ(out[(row * ow + x) * 3 + k], expect) << row << "," << x;
    }
}

// The plain per-pixel formula, signed divisions truncating toward zero, with the matrix's
// coefficients written out here.
struct Coefficients {
  const char* name;
  int matrix;
  bool full;
  int width, height;  // the picture's size, which decides for a stream that declares no matrix
  double yOffset, yScale, rv, gu, gv, bu;
};
const Coefficients kMatrices[] = {
    {"BT.709 limited", 1, false, 640, 480, 16, 1164, 1793, -213, -533, 2112},
    {"BT.601 limited (BT.470 B/G)", 5, false, 1920, 1080, 16, 1164, 1596, -391, -813, 2018},
    {"BT.601 limited (SMPTE 170M)", 6, false, 64, 48, 16, 1164, 1596, -391, -813, 2018},
    {"BT.709 full", 1, true, 64, 48, 0, 1000, 1575, -187, -468, 1856},
    {"BT.601 full", 6, true, 1280, 720, 0, 1000, 1402, -344, -714, 1772},
    // Undeclared: BT.601 below HD (width under 1280 and height at most 576), else BT.709.
    {"unstated SD 720 x 576", 2, false, 720, 576, 16, 1164, 1596, -391, -813, 2018},
    {"unstated 1279 x 576", 2, false, 1279, 576, 16, 1164, 1596, -391, -813, 2018},
    {"unstated 1280 x 720", 2, false, 1280, 720, 16, 1164, 1793, -213, -533, 2112},
    {"unstated 1024 x 577", 2, false, 1024, 577, 16, 1164, 1793, -213, -533, 2112},
    {"unstated full range SD", 2, true, 640, 480, 0, 1000, 1402, -344, -714, 1772},
    {"reserved 1920 x 1080", 3, false, 1920, 1080, 16, 1164, 1793, -213, -533, 2112},
};

void ReferencePixel(const Coefficients& m, int y, int u, int v, uint8_t* out) {
  const int c = (y - int(m.yOffset)) * int(m.yScale);
  const int values[3] = {(c + int(m.rv) * (v - 128)) / 1000, (c + int(m.gu) * (u - 128) + int(m.gv) * (v - 128)) / 1000,
                         (c + int(m.bu) * (u - 128)) / 1000};
  for (int k = 0; k < 3; ++k) out[k] = values[k] < 1 ? 0 : values[k] >= 255 ? 255 : uint8_t(values[k]);
}

TEST(I420ToRgb, MatchesThePerPixelFormulaOnRandomPictures) {
  uint32_t state = 99;
  auto next = [&state] {
    state = state * 1103515245u + 12345u;
    return uint8_t(state >> 16);
  };
  // Odd widths and heights, strides wider than the picture, small and pool-sized.
  const int sizes[][2] = {{7, 5}, {64, 3}, {130, 67}};
  for (const Coefficients& m : kMatrices)
  for (const auto& size : sizes) {
    const int w = size[0], h = size[1], ls = w + 5, cs = (w + 1) / 2 + 3;
    std::vector<uint8_t> y(size_t(ls) * h), u(size_t(cs) * ((h + 1) / 2)), v(u.size());
    for (auto& b : y) b = next();
    for (auto& b : u) b = next();
    for (auto& b : v) b = next();
    std::vector<uint8_t> out(size_t(w) * h * 3), expect(out.size());
    I420ToRgb(w, h, w, y.data(), u.data(), v.data(), out.data(), ls, cs, w, h,
              YuvMatrixFor(m.matrix, m.full, m.width, m.height));
    for (int row = 0; row < h; ++row)
      for (int x = 0; x < w; ++x)
        ReferencePixel(m, y[size_t(row) * ls + x], u[size_t(row / 2) * cs + x / 2], v[size_t(row / 2) * cs + x / 2],
                       &expect[(size_t(row) * w + x) * 3]);
    EXPECT_EQ(out, expect) << m.name << " " << w << "x" << h;
  }
}

// The lowest level whose limits hold the picture, its rate and the bit rate; each row is held
// back by one limit of the level below it.
TEST(H264Level, LowestLevelThatHoldsThePicture) {
  const struct {
    const char* name;
    int w, h;
    double rate;
    uint64_t bits;
    int level;
  } cases[] = {
      {"QCIF 15 fps 64 kbit/s", 176, 144, 15, 64000, 10},
      {"QCIF 15 fps, the bit rate of 1.1", 176, 144, 15, 100000, 11},
      {"64 x 48 at 25 fps at its raw rate", 64, 48, 25, 921600, 20},
      {"640 x 480 at 25 fps", 640, 480, 25, 5000000, 30},
      {"640 x 480 at 25 fps, 12 Mbit/s", 640, 480, 25, 12000000, 31},
      {"640 x 480 at 50 fps (macroblocks a second)", 640, 480, 50, 5000000, 31},
      {"1280 x 720 at 30 fps", 1280, 720, 30, 5000000, 31},
      {"1920 x 1080 at 30 fps", 1920, 1080, 30, 5000000, 40},
      {"1920 x 1080 at 30 fps, 30 Mbit/s", 1920, 1080, 30, 30000000, 41},
      {"1920 x 1080 at 60 fps", 1920, 1080, 60, 5000000, 42},
      {"3840 x 2160 at 30 fps", 3840, 2160, 30, 5000000, 51},
      {"a long strip (250 macroblocks wide: sqrt(8 x 8192) = 256)", 4000, 16, 1, 1000, 40},
      {"beyond every level", 8192, 8192, 60, 5000000, 52},
  };
  for (const auto& c : cases) EXPECT_EQ(H264LevelFor(c.w, c.h, c.rate, c.bits), c.level) << c.name;
}

TEST(OpenH264, LoadCountsReferences) {
  ASSERT_EQ(OpenH264References(), 0u);
  ASSERT_EQ(OpenH264Load(), 1) << "libopenh264.so.7 is installed by the set-up script";
  EXPECT_EQ(OpenH264Load(), 1);
  EXPECT_EQ(OpenH264References(), 2u);
  OpenH264Release();
  EXPECT_EQ(OpenH264References(), 1u);
  OpenH264Release();
  EXPECT_EQ(OpenH264References(), 0u);
  OpenH264Release();  // one release too many does nothing
  EXPECT_EQ(OpenH264References(), 0u);
  // Loading again after the last release works (the library itself may stay mapped:
  // it marks itself as not to be unloaded).
  ASSERT_EQ(OpenH264Load(), 1);
  OpenH264Release();
}

TEST(OpenH264, LibraryWithoutTheEntryPointsIsRefusedAndReleased) {
  // Any shared library that lacks the codec's functions, not otherwise loaded here.
  const char* candidates[] = {"libbz2.so.1.0", "libexpat.so.1", "liblzma.so.5", "libzstd.so.1"};
  const char* chosen = nullptr;
  for (const char* c : candidates) {
    if (dlopen(c, RTLD_NOW | RTLD_NOLOAD)) continue;
    void* probe = dlopen(c, RTLD_NOW);
    if (!probe) continue;
    dlclose(probe);
    if (!dlopen(c, RTLD_NOW | RTLD_NOLOAD)) {
      chosen = c;
      break;
    }
  }
  if (!chosen) GTEST_SKIP() << "no spare shared library to try";
  EXPECT_EQ(H264OpenLibraryAt(chosen), nullptr);
  EXPECT_EQ(dlopen(chosen, RTLD_NOW | RTLD_NOLOAD), nullptr) << "refused library stays loaded";
  EXPECT_EQ(H264OpenLibraryAt("/nonexistent/libopenh264.so.7"), nullptr);
  EXPECT_EQ(H264OpenLibraryAt(""), nullptr);
}

// The decoder's set-up record is checked before the library sees it, and a sample buffer
// whose length would not fit the library's int is refused rather than cut short.
TEST(H264Decoder, RefusesBadSetUpAndOversizedSamples) {
  // A Baseline 64 x 48 configuration record as x264 writes it.
  const uint8_t config[] = {0x01, 0x42, 0xC0, 0x0A, 0xFF, 0xE1, 0x00, 0x17, 0x67, 0x42, 0xC0, 0x0A, 0xD9, 0x04,
                            0x26, 0xC0, 0x44, 0x00, 0x00, 0x03, 0x00, 0x04, 0x00, 0x00, 0x03, 0x00, 0xC8, 0x3C,
                            0x48, 0x99, 0x20, 0x01, 0x00, 0x06, 0x68, 0xCB, 0x83, 0xCB, 0x20, 0x00};
  EXPECT_EQ(H264DecoderCreate(nullptr, 0, 1), nullptr);
  EXPECT_EQ(H264DecoderCreate(config, 6, 1), nullptr);
  std::vector<uint8_t> huge((1u << 20) + 1, 0);
  EXPECT_EQ(H264DecoderCreate(huge.data(), huge.size(), 1), nullptr);
  H264Decoder* dec = H264DecoderCreate(config, sizeof config, 4);
  ASSERT_NE(dec, nullptr);
  for (size_t size : {size_t(0), size_t(0x80000000u), size_t(0xFFFFFFFFu), size_t(0x100000010ull)})
    EXPECT_EQ(H264DecoderSampleBuffer(dec, size), nullptr) << size;
  // Nothing to send, nothing out; the end of the stream ends it.
  H264Picture pic{};
  EXPECT_EQ(H264DecoderSend(dec, 0, false), 0);
  EXPECT_EQ(H264DecoderReceive(dec, &pic), 0);
  EXPECT_EQ(H264DecoderSend(dec, 0, true), 1);
  EXPECT_EQ(H264DecoderReceive(dec, &pic), -1);
  // A sample of garbage gives no picture and no crash; a reset starts over.
  H264DecoderReset(dec);
  uint8_t* buffer = H264DecoderSampleBuffer(dec, 64);
  ASSERT_NE(buffer, nullptr);
  for (int i = 0; i < 64; ++i) buffer[i] = uint8_t(i * 37);
  H264DecoderSend(dec, 0, false);
  H264DecoderSend(dec, 0, true);
  while (H264DecoderReceive(dec, &pic) == 1) {
  }
  H264DecoderDestroy(dec);
}

TEST(OpenH264, ProgramFolderIsThisTestsFolder) {
  const char* folder = ProgramFolder();
  ASSERT_NE(folder, nullptr);
  ASSERT_GT(strlen(folder), 0u);
  EXPECT_EQ(folder[0], '/');
  EXPECT_NE(folder[strlen(folder) - 1], '/');
}

}  // namespace

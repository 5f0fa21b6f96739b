// pixel_test.cpp - per-pixel getters and setters across the nine formats: the conversion
// tables, the worked examples, coordinate and format checks, and the handle's checks.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "core/colour.h"
#include "core/imgbuff.h"

namespace {

// A 1 x 1 picture of the format whose single pixel holds the given raw bytes.
void MakePixel(C_ImgBuff& img, int32_t format, const void* raw) {
  ASSERT_EQ(img.Allocate(1, 1, format), 1);
  std::memcpy(img.pixels, raw, ImgBytesPerPixel[format]);
}

template <class T, size_t N>
std::vector<unsigned char> Raw(const T (&v)[N]) {
  std::vector<unsigned char> out(sizeof v);
  std::memcpy(out.data(), v, sizeof v);
  return out;
}

std::vector<unsigned char> PixelBytes(const C_ImgBuff& img, int32_t x, int32_t y) {
  int32_t bpp = ImgBytesPerPixel[img.format];
  const unsigned char* p = static_cast<const unsigned char*>(img.pixels) + (size_t(y) * img.width + x) * bpp;
  return std::vector<unsigned char>(p, p + bpp);
}

}  // namespace

// Reading: every integer getter on one stored pixel of each integer format.
TEST(Pixel, IntegerGettersByFormat) {
  struct Case {
    const char* name;
    int32_t format;
    std::vector<unsigned char> raw;
    uint8_t g8;
    uint16_t g16;
    uint32_t g32;
    uint8_t rgb8[3];
    uint16_t rgb16[3];
    uint32_t rgb32[3];
  };
  const uint8_t gray8[] = {171};
  const uint16_t gray16[] = {0x1234};
  const uint32_t gray32[] = {0x89ABCDEF};
  const uint8_t rgb24[] = {200, 100, 50};
  const uint16_t rgb48[] = {0x1234, 0x5678, 0x9ABC};
  const uint32_t rgb96[] = {0xFF000000, 0x80000000, 0x00FFFFFF};
  const uint16_t hsvGray[] = {12345, 0, 0x8000};
  const uint16_t hsvGreen[] = {21844, 65534, 65535};
  const uint8_t cmyk[] = {200, 0, 0, 100};
  const Case cases[] = {
      {"gray8 171", ImgFormatGray8, Raw(gray8), 171, 43947, 2880154539u, {171, 171, 171}, {43947, 43947, 43947},
       {2880154539u, 2880154539u, 2880154539u}},
      {"gray16 0x1234", ImgFormatGray16, Raw(gray16), 0x12, 0x1234, 0x12341234, {0x12, 0x12, 0x12},
       {0x1234, 0x1234, 0x1234}, {0x12341234, 0x12341234, 0x12341234}},
      {"gray32", ImgFormatGray32, Raw(gray32), 0x89, 0x89AB, 0x89ABCDEF, {0x89, 0x89, 0x89}, {0x89AB, 0x89AB, 0x89AB},
       {0x89ABCDEF, 0x89ABCDEF, 0x89ABCDEF}},
      {"rgb24", ImgFormatRgb24, Raw(rgb24), 124, 31919, 2091901718u, {200, 100, 50}, {51400, 25700, 12850},
       {3368601800u, 1684300900u, 842150450u}},
      {"rgb48", ImgFormatRgb48, Raw(rgb48), 73, 18903, 1238841979u, {0x12, 0x56, 0x9A}, {0x1234, 0x5678, 0x9ABC},
       {0x12341234, 0x56785678, 0x9ABC9ABC}},
      {"rgb96", ImgFormatRgb96, Raw(rgb96), 151, 38782, 2541664338u, {255, 128, 0}, {0xFF00, 0x8000, 0x00FF},
       {0xFF000000, 0x80000000, 0x00FFFFFF}},
      {"hsv gray", ImgFormatHsv48, Raw(hsvGray), 0x80, 0x8000, 0x80008000, {0x80, 0x80, 0x80},
       {0x8000, 0x8000, 0x8000}, {0x80008000, 0x80008000, 0x80008000}},
      {"hsv green", ImgFormatHsv48, Raw(hsvGreen), 150, 38469, 2521142853u, {0, 255, 0}, {0, 65535, 0},
       {0, 4294967295u, 0}},
      // R: 200 + 100 is not below 256, so 0.
      {"cmyk", ImgFormatCmyk32, Raw(cmyk), 109, 28013, 1835887981u, {0, 155, 155}, {0, 39835, 39835},
       {0, 2610666395u, 2610666395u}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    C_ImgBuff img;
    MakePixel(img, c.format, c.raw.data());
    uint8_t g8, r8, gg8, b8;
    uint16_t g16, r16, gg16, b16;
    uint32_t g32, r32, gg32, b32;
    ASSERT_EQ(img.GetGray8(0, 0, &g8), 1);
    ASSERT_EQ(img.GetGray16(0, 0, &g16), 1);
    ASSERT_EQ(img.GetGray32(0, 0, &g32), 1);
    ASSERT_EQ(img.GetRGB8(0, 0, &r8, &gg8, &b8), 1);
    ASSERT_EQ(img.GetRGB16(0, 0, &r16, &gg16, &b16), 1);
    ASSERT_EQ(img.GetRGB32(0, 0, &r32, &gg32, &b32), 1);
    EXPECT_EQ(g8, c.g8);
    EXPECT_EQ(g16, c.g16);
    EXPECT_EQ(g32, c.g32);
    EXPECT_EQ(r8, c.rgb8[0]);
    EXPECT_EQ(gg8, c.rgb8[1]);
    EXPECT_EQ(b8, c.rgb8[2]);
    EXPECT_EQ(r16, c.rgb16[0]);
    EXPECT_EQ(gg16, c.rgb16[1]);
    EXPECT_EQ(b16, c.rgb16[2]);
    EXPECT_EQ(r32, c.rgb32[0]);
    EXPECT_EQ(gg32, c.rgb32[1]);
    EXPECT_EQ(b32, c.rgb32[2]);
  }
}

TEST(Pixel, WorkedExamples) {
  C_ImgBuff img;
  uint8_t c, m, y, k, r, g, b, g8;
  uint16_t g16;

  ASSERT_EQ(img.Allocate(1, 1, ImgFormatRgb24), 1);
  img.SetRGB8(0, 0, 255, 0, 0);
  img.GetGray8(0, 0, &g8);
  img.GetGray16(0, 0, &g16);
  EXPECT_EQ(g8, 76);
  EXPECT_EQ(g16, 19595);

  img.SetRGB8(0, 0, 255, 128, 0);
  img.GetCMYK8(0, 0, &c, &m, &y, &k);
  EXPECT_EQ(c, 0);
  EXPECT_EQ(m, 127);
  EXPECT_EQ(y, 255);
  EXPECT_EQ(k, 0);

  ASSERT_EQ(img.SetRGBF(0, 0, 1.5, -0.2, 0.5), 1);
  EXPECT_EQ(PixelBytes(img, 0, 0), (std::vector<unsigned char>{255, 0, 127}));
  ASSERT_EQ(img.SetRGBF(0, 0, std::numeric_limits<double>::quiet_NaN(), 2, 0), 1);
  EXPECT_EQ(PixelBytes(img, 0, 0), (std::vector<unsigned char>{0, 255, 0}));

  img.SetRGB8(0, 0, 10, 10, 10);
  double gf;
  ASSERT_EQ(img.GetGrayF(0, 0, &gf), 1);
  EXPECT_EQ(gf, 10.0 / 255.0);
  img.SetRGB8(0, 0, 10, 20, 30);
  img.GetGrayF(0, 0, &gf);
  EXPECT_DOUBLE_EQ(gf, 0.299 * 10 / 255 + 0.587 * 20 / 255 + 0.114 * 30 / 255);

  ASSERT_EQ(img.Allocate(1, 1, ImgFormatCmyk32), 1);
  img.SetGray8(0, 0, 200);
  EXPECT_EQ(PixelBytes(img, 0, 0), (std::vector<unsigned char>{0, 0, 0, 55}));
  img.SetCMYK8(0, 0, 200, 0, 0, 100);
  img.GetRGB8(0, 0, &r, &g, &b);
  img.GetGray8(0, 0, &g8);
  EXPECT_EQ(r, 0);
  EXPECT_EQ(g, 155);
  EXPECT_EQ(b, 155);
  EXPECT_EQ(g8, 109);

  ASSERT_EQ(img.Allocate(1, 1, ImgFormatHsv48), 1);
  img.SetGray8(0, 0, 200);
  const uint16_t hsv[] = {0, 0, 51400};
  EXPECT_EQ(PixelBytes(img, 0, 0), Raw(hsv));

  ASSERT_EQ(img.Allocate(1, 1, ImgFormatRgb96), 1);
  img.SetRGB32(0, 0, 0xFF000000, 0x80000000, 0x00FFFFFF);
  img.GetCMYK8(0, 0, &c, &m, &y, &k);
  EXPECT_EQ(c, 0);
  EXPECT_EQ(m, 127);
  EXPECT_EQ(y, 255);
  EXPECT_EQ(k, 0);

  ASSERT_EQ(img.Allocate(1, 1, ImgFormatGray16), 1);
  img.SetGray16(0, 0, 0x1234);
  double rf, gff, bf;
  img.GetRGBF(0, 0, &rf, &gff, &bf);
  EXPECT_EQ(rf, 0x1234 / 65535.0);
}

// Writing: what each setter stores, per format, as raw bytes.
TEST(Pixel, SettersByFormat) {
  auto bytesOf = [](auto... v) {
    std::vector<unsigned char> out;
    auto add = [&](auto x) {
      unsigned char tmp[sizeof x];
      std::memcpy(tmp, &x, sizeof x);
      out.insert(out.end(), tmp, tmp + sizeof x);
    };
    (add(v), ...);
    return out;
  };
  auto xyzOf = [&](double r, double g, double b) {
    double X, Y, Z;
    SrgbToXyz(r, g, b, &X, &Y, &Z);
    return bytesOf(X, Y, Z);
  };
  uint16_t h, s, v;
  Rgb16ToHsv16(0x1234, 0x5678, 0x9ABC, &h, &s, &v);
  uint16_t hr, hg, hb;
  Hsv16ToRgb16(5000, 40000, 50000, &hr, &hg, &hb);
  uint32_t hsvLuma = (299u * hr + 587u * hg + 114u * hb + 500u) / 1000u;

  struct Case {
    const char* name;
    int32_t format;
    void (*set)(C_ImgBuff&);
    std::vector<unsigned char> expected;
  };
  auto gray8 = [](C_ImgBuff& i) { i.SetGray8(0, 0, 200); };
  auto rgb16 = [](C_ImgBuff& i) { i.SetRGB16(0, 0, 0x1234, 0x5678, 0x9ABC); };
  auto hsv = [](C_ImgBuff& i) { i.SetHSV16(0, 0, 5000, 40000, 50000); };
  auto cmyk = [](C_ImgBuff& i) { i.SetCMYK8(0, 0, 10, 20, 30, 40); };  // r, g, b = 205, 195, 185
  auto gray32 = [](C_ImgBuff& i) { i.SetGray32(0, 0, 0x89ABCDEF); };
  const Case cases[] = {
      {"gray8 -> gray8", 1, gray8, bytesOf(uint8_t(200))},
      {"gray8 -> gray16", 2, gray8, bytesOf(uint16_t(51400))},
      {"gray8 -> gray32", 3, gray8, bytesOf(uint32_t(200u * 16843009u))},
      {"gray8 -> rgb24", 4, gray8, bytesOf(uint8_t(200), uint8_t(200), uint8_t(200))},
      {"gray8 -> rgb48", 5, gray8, bytesOf(uint16_t(51400), uint16_t(51400), uint16_t(51400))},
      {"gray8 -> xyz", 7, gray8, xyzOf(200 / 255.0, 200 / 255.0, 200 / 255.0)},
      {"gray32 -> gray16", 2, gray32, bytesOf(uint16_t(0x89AB))},
      {"gray32 -> rgb24", 4, gray32, bytesOf(uint8_t(0x89), uint8_t(0x89), uint8_t(0x89))},
      {"gray32 -> hsv", 8, gray32, bytesOf(uint16_t(0), uint16_t(0), uint16_t(0x89AB))},
      {"gray32 -> cmyk", 9, gray32, bytesOf(uint8_t(0), uint8_t(0), uint8_t(0), uint8_t(255 - 0x89))},
      {"rgb16 -> gray8", 1, rgb16, bytesOf(uint8_t(73))},
      {"rgb16 -> gray16", 2, rgb16, bytesOf(uint16_t(18903))},
      {"rgb16 -> gray32", 3, rgb16, bytesOf(uint32_t(1238841979u))},
      {"rgb16 -> rgb24", 4, rgb16, bytesOf(uint8_t(0x12), uint8_t(0x56), uint8_t(0x9A))},
      {"rgb16 -> rgb96", 6, rgb16, bytesOf(uint32_t(0x12341234), uint32_t(0x56785678), uint32_t(0x9ABC9ABC))},
      {"rgb16 -> xyz", 7, rgb16, xyzOf(0x1234 / 65535.0, 0x5678 / 65535.0, 0x9ABC / 65535.0)},
      {"rgb16 -> hsv", 8, rgb16, bytesOf(h, s, v)},
      {"rgb16 -> cmyk", 9, rgb16, bytesOf(uint8_t(136), uint8_t(68), uint8_t(0), uint8_t(101))},
      {"hsv -> hsv", 8, hsv, bytesOf(uint16_t(5000), uint16_t(40000), uint16_t(50000))},
      {"hsv -> rgb48", 5, hsv, bytesOf(hr, hg, hb)},
      {"hsv -> gray32", 3, hsv, bytesOf(uint32_t(hsvLuma * 65537u))},
      {"cmyk -> cmyk", 9, cmyk, bytesOf(uint8_t(10), uint8_t(20), uint8_t(30), uint8_t(40))},
      {"cmyk -> rgb24", 4, cmyk, bytesOf(uint8_t(205), uint8_t(195), uint8_t(185))},
      {"cmyk -> gray16", 2, cmyk, bytesOf(uint16_t(((299 * 205 + 587 * 195 + 114 * 185 + 500) / 1000) * 257))},
      {"cmyk -> gray32", 3, cmyk,
       bytesOf(uint32_t(((299 * 205 + 587 * 195 + 114 * 185 + 500) / 1000) * 16843009u))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    C_ImgBuff img;
    ASSERT_EQ(img.Allocate(1, 1, c.format), 1);
    c.set(img);
    EXPECT_EQ(PixelBytes(img, 0, 0), c.expected);
  }
}

// Colour set with SetRGB8 reads back unchanged from every colour format (the colour-space
// formats within one step of rounding), and as its luma from the gray formats.
TEST(Pixel, RoundTripThroughEveryFormat) {
  const uint8_t colours[][3] = {{0, 0, 0}, {255, 255, 255}, {200, 100, 50}, {1, 254, 128}, {17, 17, 17}, {0, 0, 255}};
  for (int32_t f = 1; f < ImgFormatCount; f++) {
    C_ImgBuff img;
    ASSERT_EQ(img.Allocate(2, 2, f), 1);
    for (const auto& col : colours) {
      SCOPED_TRACE(testing::Message() << "format " << f << " colour " << int(col[0]) << "," << int(col[1]) << ","
                                      << int(col[2]));
      ASSERT_EQ(img.SetRGB8(1, 1, col[0], col[1], col[2]), 1);
      uint8_t r, g, b;
      ASSERT_EQ(img.GetRGB8(1, 1, &r, &g, &b), 1);
      if (f <= 3) {
        uint8_t l = static_cast<uint8_t>((299 * col[0] + 587 * col[1] + 114 * col[2] + 500) / 1000);
        EXPECT_NEAR(r, l, f == 1 ? 0 : 1);
        EXPECT_EQ(r, g);
        EXPECT_EQ(g, b);
      } else {
        int tol = (f == ImgFormatXyz || f == ImgFormatHsv48) ? 1 : 0;
        EXPECT_NEAR(r, col[0], tol);
        EXPECT_NEAR(g, col[1], tol);
        EXPECT_NEAR(b, col[2], tol);
      }
    }
  }
}

TEST(Pixel, XyzLabLch) {
  C_ImgBuff img;
  ASSERT_EQ(img.Allocate(3, 1, ImgFormatXyz), 1);
  double L, a, b, C, hh;
  ASSERT_EQ(img.SetLab(0, 0, 50, 20, -30), 1);
  ASSERT_EQ(img.GetLab(0, 0, &L, &a, &b), 1);
  EXPECT_NEAR(L, 50, 1e-9);
  EXPECT_NEAR(a, 20, 1e-9);
  EXPECT_NEAR(b, -30, 1e-9);
  ASSERT_EQ(img.GetLCh(0, 0, &L, &C, &hh), 1);
  EXPECT_NEAR(C, std::sqrt(20.0 * 20 + 30.0 * 30), 1e-9);
  EXPECT_NEAR(hh, std::atan2(-30.0, 20.0), 1e-12);
  ASSERT_EQ(img.SetLab(0, 0, 5, 0, 0), 1);  // the linear segment near black
  img.GetLab(0, 0, &L, &a, &b);
  EXPECT_NEAR(L, 5, 1e-9);

  // A hue of 7.0 is used as 7.0 - 6.2831853.
  ASSERT_EQ(img.SetLCh(1, 0, 60, 40, 7.0), 1);
  ASSERT_EQ(img.SetLab(2, 0, 60, 40 * std::cos(7.0 - 6.2831853), 40 * std::sin(7.0 - 6.2831853)), 1);
  EXPECT_EQ(PixelBytes(img, 1, 0), PixelBytes(img, 2, 0));
  ASSERT_EQ(img.SetLCh(1, 0, 60, 40, -7.0), 1);
  ASSERT_EQ(img.SetLab(2, 0, 60, 40 * std::cos(-7.0 + 6.2831853), 40 * std::sin(-7.0 + 6.2831853)), 1);
  EXPECT_EQ(PixelBytes(img, 1, 0), PixelBytes(img, 2, 0));

  // A negative chroma is gray; hues that cannot be reduced do not hang.
  ASSERT_EQ(img.SetLCh(0, 0, 70, -5, 1.0), 1);
  img.GetLab(0, 0, &L, &a, &b);
  EXPECT_NEAR(a, 0, 1e-9);
  EXPECT_NEAR(b, 0, 1e-9);
  for (double bad : {1e300, -1e300, std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()}) {
    ASSERT_EQ(img.SetLCh(0, 0, 70, 10, bad), 1);
    img.GetLab(0, 0, &L, &a, &b);
    EXPECT_TRUE(std::isfinite(a) && std::isfinite(b)) << bad;
  }

  // Through an integer format the same entry points still work (via XYZ and 32-bit RGB).
  C_ImgBuff rgb;
  ASSERT_EQ(rgb.Allocate(1, 1, ImgFormatRgb24), 1);
  ASSERT_EQ(rgb.SetXYZ(0, 0, 0.95047, 1.0, 1.08883), 1);
  EXPECT_EQ(PixelBytes(rgb, 0, 0), (std::vector<unsigned char>{255, 255, 255}));
  ASSERT_EQ(rgb.SetLab(0, 0, 0, 0, 0), 1);
  EXPECT_EQ(PixelBytes(rgb, 0, 0), (std::vector<unsigned char>{0, 0, 0}));
  ASSERT_EQ(rgb.SetXYZ(0, 0, std::nan(""), 1e300, -1e300), 1);  // no integer from NaN
  double X, Y, Z;
  rgb.SetRGB8(0, 0, 255, 255, 255);
  ASSERT_EQ(rgb.GetXYZ(0, 0, &X, &Y, &Z), 1);
  EXPECT_NEAR(Y, 1.0, 1e-6);
  uint16_t h, s, v;
  rgb.SetRGB8(0, 0, 0, 255, 0);
  rgb.GetHSV16(0, 0, &h, &s, &v);
  EXPECT_EQ(h, 21844);
  EXPECT_EQ(s, 65534);
  EXPECT_EQ(v, 65535);
}

TEST(Pixel, CoordinateAndFormatChecks) {
  C_ImgBuff img;
  ASSERT_EQ(img.Allocate(4, 3, ImgFormatRgb48), 1);
  for (int i = 0; i < 4 * 3 * 6; i++) static_cast<unsigned char*>(img.pixels)[i] = static_cast<unsigned char>(i);
  std::vector<unsigned char> before(static_cast<unsigned char*>(img.pixels),
                                    static_cast<unsigned char*>(img.pixels) + 4 * 3 * 6);
  const int32_t outside[][2] = {{4, 0}, {0, 3}, {-1, 0}, {0, -1}, {INT32_MAX, 0}, {0, INT32_MIN}};
  for (const auto& p : outside) {
    int32_t x = p[0], y = p[1];
    SCOPED_TRACE(testing::Message() << x << "," << y);
    EXPECT_EQ(img.SetGray8(x, y, 1), 0);
    EXPECT_EQ(img.SetGray16(x, y, 1), 0);
    EXPECT_EQ(img.SetGray32(x, y, 1), 0);
    EXPECT_EQ(img.SetRGB8(x, y, 1, 2, 3), 0);
    EXPECT_EQ(img.SetRGB16(x, y, 1, 2, 3), 0);
    EXPECT_EQ(img.SetRGB32(x, y, 1, 2, 3), 0);
    EXPECT_EQ(img.SetRGBF(x, y, 0.1, 0.2, 0.3), 0);
    EXPECT_EQ(img.SetHSV16(x, y, 1, 2, 3), 0);
    EXPECT_EQ(img.SetCMYK8(x, y, 1, 2, 3, 4), 0);
    EXPECT_EQ(img.SetXYZ(x, y, 0.1, 0.2, 0.3), 0);
    EXPECT_EQ(img.SetLab(x, y, 50, 1, 2), 0);
    EXPECT_EQ(img.SetLCh(x, y, 50, 1, 2), 0);
    double d = -7;
    EXPECT_EQ(img.GetGrayF(x, y, &d), 0);
    EXPECT_EQ(img.GetRGBF(x, y, &d, nullptr, nullptr), 0);
    EXPECT_EQ(img.GetLab(x, y, &d, nullptr, nullptr), 0);
    EXPECT_EQ(img.GetLCh(x, y, &d, nullptr, nullptr), 0);
    EXPECT_EQ(d, -7);
  }
  EXPECT_EQ(std::memcmp(img.pixels, before.data(), before.size()), 0);

  // An empty picture: every accessor 0, except the gray getters given no result pointer.
  C_ImgBuff empty;
  uint8_t u8 = 0;
  uint16_t u16 = 0;
  uint32_t u32 = 0;
  double d = 0;
  EXPECT_EQ(empty.GetGray8(0, 0, nullptr), 1);
  EXPECT_EQ(empty.GetGray16(0, 0, nullptr), 1);
  EXPECT_EQ(empty.GetGray32(0, 0, nullptr), 1);
  EXPECT_EQ(empty.GetGray8(0, 0, &u8), 0);
  EXPECT_EQ(empty.GetGray16(0, 0, &u16), 0);
  EXPECT_EQ(empty.GetGray32(0, 0, &u32), 0);
  EXPECT_EQ(empty.GetRGB8(0, 0, &u8, &u8, &u8), 0);
  EXPECT_EQ(empty.GetRGB16(0, 0, &u16, &u16, &u16), 0);
  EXPECT_EQ(empty.GetRGB32(0, 0, &u32, &u32, &u32), 0);
  EXPECT_EQ(empty.GetHSV16(0, 0, &u16, &u16, &u16), 0);
  EXPECT_EQ(empty.GetCMYK8(0, 0, &u8, &u8, &u8, &u8), 0);
  EXPECT_EQ(empty.GetXYZ(0, 0, &d, &d, &d), 0);
  EXPECT_EQ(empty.GetGrayF(0, 0, &d), 0);
  EXPECT_EQ(empty.SetGray8(0, 0, 1), 0);
  EXPECT_EQ(empty.SetLCh(0, 0, 1, 1, 1), 0);

  // Null result pointers are simply not written.
  EXPECT_EQ(img.GetRGB8(1, 1, nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(img.GetCMYK8(1, 1, nullptr, nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(img.GetXYZ(1, 1, nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(img.GetLCh(1, 1, nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(img.GetGrayF(1, 1, nullptr), 1);
}

TEST(Pixel, HandleChecksThePoint) {
  CImgBuff h;
  ASSERT_EQ(h.Allocate(2, 2, ImgFormatRgb24), 1);
  ASSERT_EQ(h.SetRGB8(1, 1, 10, 20, 30), 1);
  uint8_t r = 0, g = 0, b = 0, c, m, y, k;
  EXPECT_EQ(h.GetRGB8(1, 1, &r, &g, &b), 1);
  EXPECT_EQ(r, 10);
  EXPECT_EQ(b, 30);
  EXPECT_EQ(h.GetCMYK8(1, 1, &c, &m, &y, &k), 1);
  EXPECT_EQ(k, 225);

  uint8_t u8 = 99;
  uint16_t u16;
  uint32_t u32;
  double d;
  const int32_t outside[][2] = {{-1, 0}, {2, 0}, {0, 2}, {0, -1}};
  for (const auto& p : outside) {
    EXPECT_EQ(h.GetGray8(p[0], p[1], &u8), 0);
    EXPECT_EQ(h.GetGray8(p[0], p[1], nullptr), 0);
    EXPECT_EQ(h.GetGray16(p[0], p[1], &u16), 0);
    EXPECT_EQ(h.GetGray32(p[0], p[1], &u32), 0);
    EXPECT_EQ(h.GetRGB8(p[0], p[1], &u8, &u8, &u8), 0);
    EXPECT_EQ(h.GetRGB16(p[0], p[1], &u16, &u16, &u16), 0);
    EXPECT_EQ(h.GetRGB32(p[0], p[1], &u32, &u32, &u32), 0);
    EXPECT_EQ(h.GetCMYK8(p[0], p[1], &u8, &u8, &u8, &u8), 0);
    EXPECT_EQ(h.GetXYZ(p[0], p[1], &d, &d, &d), 0);
    EXPECT_EQ(h.GetLab(p[0], p[1], &d, &d, &d), 0);
    EXPECT_EQ(h.GetLCh(p[0], p[1], &d, &d, &d), 0);
    EXPECT_EQ(h.SetGray8(p[0], p[1], 1), 0);
    EXPECT_EQ(h.SetHSV16(p[0], p[1], 1, 1, 1), 0);
    EXPECT_EQ(h.SetXYZ(p[0], p[1], 1, 1, 1), 0);
    EXPECT_EQ(h.SetLab(p[0], p[1], 1, 1, 1), 0);
  }
  EXPECT_EQ(u8, 99);
  CImgBuff empty;
  EXPECT_EQ(empty.GetGray8(0, 0, nullptr), 0);
}

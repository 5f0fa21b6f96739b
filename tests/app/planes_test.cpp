// planes_test.cpp - component planes: the plane's format and values for every code on every
// format, the round trip of an unchanged plane, merges of changed and short planes, and the
// direct row loops against the accessor path.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "app/filterctrl.h"
#include "core/colour.h"
#include "engine/frame.h"
#include "tests/app/app_test_util.h"

namespace {

using apptest::MakePicture;
using apptest::SamePixels;

// The format ExtractComponent must leave the picture in, or 0 for no conversion.
int32_t ExpectedConversion(int32_t format, uint32_t code) {
  if (code >= 14 && format != ImgFormatXyz) return ImgFormatXyz;
  if (code >= 4 && code <= 6 && (format == 1 || format == 4 || format == 9)) return ImgFormatRgb48;
  return 0;
}

int32_t ExpectedPlane(int32_t format, uint32_t code) {
  if (code >= 14 || format == 3 || format == 6 || format == 7) return ImgFormatGray32;
  if (format == 1 || format == 4 || format == 9) return code >= 4 && code <= 6 ? 2 : 1;
  return ImgFormatGray16;
}

// The value the plane must hold, through the accessors of the picture as converted.
uint32_t Reference(const CImgBuff& p, int32_t x, int32_t y, uint32_t code, int32_t planeFormat) {
  const C_ImgBuff& r = *p.record;
  uint32_t ch = (code - 1) % 3;
  if (planeFormat == 1) {
    uint8_t c[4];
    if (code >= 10) {
      r.GetCMYK8(x, y, &c[0], &c[1], &c[2], &c[3]);
      return c[code - 10];
    }
    r.GetRGB8(x, y, &c[0], &c[1], &c[2]);
    return code <= 3 ? c[ch] : 255u - c[ch];
  }
  if (planeFormat == 2) {
    uint16_t c[3];
    if (code >= 4 && code <= 6) {
      r.GetHSV16(x, y, &c[0], &c[1], &c[2]);
      return c[ch];
    }
    r.GetRGB16(x, y, &c[0], &c[1], &c[2]);
    if (code <= 3) return c[ch];
    if (code <= 9) return 65535u - c[ch];
    uint32_t k = std::min({65535u - c[0], 65535u - c[1], 65535u - c[2]});
    return code == 13 ? k : 65535u - c[code - 10] - k;
  }
  if (code <= 13) {
    uint32_t c[3];
    r.GetRGB32(x, y, &c[0], &c[1], &c[2]);
    if (code <= 3) return c[ch];
    if (code <= 6) {
      uint32_t h[3];
      Rgb32ToHsv32(c[0], c[1], c[2], &h[0], &h[1], &h[2]);
      return h[ch];
    }
    if (code <= 9) return 4294967295u - c[ch];
    uint32_t k = std::min({4294967295u - c[0], 4294967295u - c[1], 4294967295u - c[2]});
    return code == 13 ? k : 4294967295u - c[code - 10] - k;
  }
  double v[3];
  if (code <= 16) {
    r.GetXYZ(x, y, &v[0], &v[1], &v[2]);
    return PackXyz32(v[code - 14]);
  }
  if (code <= 19) {
    p.GetLab(x, y, &v[0], &v[1], &v[2]);
    return code == 17 ? PackL32(v[0]) : PackAb32(v[code - 17]);
  }
  p.GetLCh(x, y, &v[0], &v[1], &v[2]);
  return code == 20 ? PackC32(v[1]) : PackHue32(v[2]);
}

uint32_t PlaneAt(const CImgBuff& plane, int32_t x, int32_t y) {
  uint32_t v = 0;
  plane.GetGray32(x, y, &v);
  if (plane.Format() == 1) {
    uint8_t b;
    plane.GetGray8(x, y, &b);
    return b;
  }
  if (plane.Format() == 2) {
    uint16_t s;
    plane.GetGray16(x, y, &s);
    return s;
  }
  return v;
}

// Largest difference of any channel read as 16-bit RGB.
int MaxRgb16Difference(const CImgBuff& a, const CImgBuff& b) {
  int worst = 0;
  for (int32_t y = 0; y < a.Height(); ++y)
    for (int32_t x = 0; x < a.Width(); ++x) {
      uint16_t p[3], q[3];
      a.GetRGB16(x, y, &p[0], &p[1], &p[2]);
      b.GetRGB16(x, y, &q[0], &q[1], &q[2]);
      for (int i = 0; i < 3; ++i) worst = std::max(worst, std::abs(int(p[i]) - int(q[i])));
    }
  return worst;
}

TEST(ComponentPlanes, EveryCodeOnEveryFormatExtractsAndRoundTrips) {
  for (int typed = 1; typed >= 0; --typed) {
    SetEngineTypedKernels(typed);
    for (int32_t format = 1; format <= 9; ++format) {
      for (uint32_t code = 1; code <= 21; ++code) {
        SCOPED_TRACE(::testing::Message() << "format " << format << " code " << code
                                          << " typed " << typed);
        CImgBuff pic, plane, converted;
        // Over 4096 pixels: the rows go to the pool.  XYZ pictures are made from colours, so
        // that a*, b* and C* stay inside what their packing holds.
        MakePicture(pic, 67, 63, format == ImgFormatXyz ? ImgFormatRgb48 : format, code);
        if (format == ImgFormatXyz) {
          ASSERT_EQ(1, pic.record->ConvertTo(ImgFormatXyz));
        }
        converted.CopyFrom(pic);
        int32_t conv = ExpectedConversion(format, code);
        if (conv) {
          ASSERT_EQ(1, converted.record->ConvertTo(conv));
        }
        uint32_t convertedFormat = 0;
        ASSERT_EQ(1, CFilterCtrl::ExtractComponent(&pic, &plane, code, &convertedFormat,
                                                   pic.Width(), pic.Height()));
        EXPECT_EQ(uint32_t(conv), convertedFormat);
        ASSERT_EQ(converted.Format(), pic.Format());
        ASSERT_EQ(ExpectedPlane(format, code), plane.Format());
        ASSERT_EQ(67, plane.Width());
        int wrong = 0;
        for (int32_t y = 0; y < 63; ++y)
          for (int32_t x = 0; x < 67; ++x)
            wrong += PlaneAt(plane, x, y) != Reference(converted, x, y, code, plane.Format());
        EXPECT_EQ(0, wrong);

        CFilterCtrl::MergeComponent(&pic, &plane, code);
        bool exact = ((code <= 3) || (code >= 7 && code <= 13)) && format <= 6;
        if (exact) {
          EXPECT_TRUE(SamePixels(converted, pic));
        } else {
          // H, S, V, CMYK and the CIE components go through conversions that round.
          int tolerance = format == 9 && code >= 10 && code <= 13 ? 0 : 2 * 257;
          EXPECT_LE(MaxRgb16Difference(converted, pic), tolerance);
        }
      }
    }
  }
  SetEngineTypedKernels(1);
}

TEST(ComponentPlanes, ChangedPlanesMergeAsTheirComponent) {
  struct Case {
    int32_t format;
    uint32_t code;
    uint8_t start;     // every channel, 8-bit
    uint32_t planeValue;
    uint32_t r, g, b;  // expected, 8 or 16 bits as the format
  } cases[] = {
      {ImgFormatRgb24, ComponentCmyC, 0, 0, 255, 0, 0},          // CMY 7: plane 0 -> R 255
      {ImgFormatRgb24, ComponentG, 0, 77, 0, 77, 0},
      {ImgFormatRgb48, ComponentCmykK, 255, 65535, 0, 0, 0},    // K full at 16 bits: black
      {ImgFormatRgb48, ComponentCmykC, 255, 65535, 0, 65535, 65535},
      {ImgFormatRgb48, ComponentCmykC, 0, 65535, 0, 0, 0},       // C + K above full: 0
      {ImgFormatRgb48, ComponentCmyY, 0, 1000, 0, 0, 64535},
      {ImgFormatRgb96, ComponentCmykM, 255, 4294967295u, 4294967295u, 0, 4294967295u},
  };
  for (const Case& c : cases) {
    CImgBuff pic, plane;
    ASSERT_EQ(1, pic.Allocate(3, 2, c.format));
    for (int32_t y = 0; y < 2; ++y)
      for (int32_t x = 0; x < 3; ++x) pic.SetRGB8(x, y, c.start, c.start, c.start);
    ASSERT_EQ(1, CFilterCtrl::ExtractComponent(&pic, &plane, c.code, nullptr, 3, 2));
    for (int32_t y = 0; y < 2; ++y)
      for (int32_t x = 0; x < 3; ++x) {
        if (plane.Format() == 1) plane.SetGray8(x, y, uint8_t(c.planeValue));
        else if (plane.Format() == 2) plane.SetGray16(x, y, uint16_t(c.planeValue));
        else plane.SetGray32(x, y, c.planeValue);
      }
    CFilterCtrl::MergeComponent(&pic, &plane, c.code);
    for (int32_t y = 0; y < 2; ++y)
      for (int32_t x = 0; x < 3; ++x) {
        uint32_t r, g, b;
        if (c.format == ImgFormatRgb24) {
          uint8_t r8, g8, b8;
          pic.GetRGB8(x, y, &r8, &g8, &b8);
          r = r8, g = g8, b = b8;
        } else if (c.format == ImgFormatRgb48) {
          uint16_t r16, g16, b16;
          pic.GetRGB16(x, y, &r16, &g16, &b16);
          r = r16, g = g16, b = b16;
        } else {
          pic.GetRGB32(x, y, &r, &g, &b);
        }
        EXPECT_EQ(c.r, r) << c.code;
        EXPECT_EQ(c.g, g) << c.code;
        EXPECT_EQ(c.b, b) << c.code;
      }
  }
}

TEST(ComponentPlanes, WhereThePlaneGivesNoValueThePictureKeepsItsOwn) {
  for (uint32_t code : {ComponentR, ComponentCmykK, ComponentX, ComponentL, ComponentHue}) {
    for (int typed = 1; typed >= 0; --typed) {
      SetEngineTypedKernels(typed);
      CImgBuff pic, plane, before;
      MakePicture(pic, 80, 60, ImgFormatRgb24, 5);
      ASSERT_EQ(1, CFilterCtrl::ExtractComponent(&pic, &plane, code, nullptr, 80, 60));
      before.CopyFrom(pic);
      // A filter made the plane smaller and gave it other values.
      ASSERT_EQ(1, plane.record->ResizeCanvas(40, 30));
      for (int32_t y = 0; y < 30; ++y)
        for (int32_t x = 0; x < 40; ++x) plane.SetGray32(x, y, 0);
      CFilterCtrl::MergeComponent(&pic, &plane, code);
      int changedOutside = 0, changedInside = 0;
      for (int32_t y = 0; y < 60; ++y)
        for (int32_t x = 0; x < 80; ++x) {
          double a[3], b[3];
          pic.record->GetRGBF(x, y, &a[0], &a[1], &a[2]);
          before.record->GetRGBF(x, y, &b[0], &b[1], &b[2]);
          bool same = a[0] == b[0] && a[1] == b[1] && a[2] == b[2];
          if (x >= 40 || y >= 30) changedOutside += !same;
          else changedInside += !same;
        }
      EXPECT_EQ(0, changedOutside) << code;
      EXPECT_GT(changedInside, 0) << code;
      // An empty plane changes nothing at all.
      plane.Free();
      before.CopyFrom(pic);
      CFilterCtrl::MergeComponent(&pic, &plane, code);
      EXPECT_TRUE(SamePixels(before, pic)) << code;
    }
  }
  SetEngineTypedKernels(1);
}

TEST(ComponentPlanes, DirectRowsEqualTheAccessorPathOnChangedPlanes) {
  for (int32_t format : {ImgFormatGray8, ImgFormatGray16, ImgFormatRgb24, ImgFormatRgb48}) {
    for (uint32_t code : {1u, 2u, 3u, 7u, 8u, 9u}) {
      CImgBuff a, b, pa, pb;
      MakePicture(a, 97, 61, format, code + 10);
      b.CopyFrom(a);
      SetEngineTypedKernels(1);
      ASSERT_EQ(1, CFilterCtrl::ExtractComponent(&a, &pa, code, nullptr, 97, 61));
      SetEngineTypedKernels(0);
      ASSERT_EQ(1, CFilterCtrl::ExtractComponent(&b, &pb, code, nullptr, 97, 61));
      EXPECT_TRUE(SamePixels(pa, pb)) << format << " " << code;
      MakePicture(pa, 97, 61, pa.Format(), 99);  // a changed plane
      pb.CopyFrom(pa);
      SetEngineTypedKernels(1);
      CFilterCtrl::MergeComponent(&a, &pa, code);
      SetEngineTypedKernels(0);
      CFilterCtrl::MergeComponent(&b, &pb, code);
      EXPECT_TRUE(SamePixels(a, b)) << format << " " << code;
    }
  }
  SetEngineTypedKernels(1);
}

TEST(ComponentPlanes, RefusedArguments) {
  CImgBuff pic, plane, empty;
  MakePicture(pic, 4, 4, ImgFormatRgb24);
  EXPECT_EQ(0, CFilterCtrl::ExtractComponent(&pic, &plane, 0, nullptr, 4, 4));
  EXPECT_EQ(0, CFilterCtrl::ExtractComponent(&pic, &plane, 22, nullptr, 4, 4));
  EXPECT_EQ(0, CFilterCtrl::ExtractComponent(&empty, &plane, 1, nullptr, 4, 4));
  EXPECT_EQ(0, CFilterCtrl::ExtractComponent(&pic, &pic, 1, nullptr, 4, 4));
  EXPECT_EQ(0, plane.Format());
  // Sizes beyond the picture read only what the picture has.
  ASSERT_EQ(1, CFilterCtrl::ExtractComponent(&pic, &plane, 1, nullptr, 400, 400));
  EXPECT_EQ(4, plane.Width());
  CFilterCtrl::MergeComponent(&empty, &plane, 1);
  EXPECT_EQ(0, empty.Format());
}

}  // namespace

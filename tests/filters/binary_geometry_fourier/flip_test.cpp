// flip_test.cpp - the flip on the test host: rows mirrored and reversed inside the chain
// rectangle, the half turn, clipping and refusal, the boxes, the packs and the library's
// registration call.
#include "filters/binary_geometry_fourier/flip.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <vector>

#include "app/cfgfile.h"
#include "core/imgbuff.h"
#include "filters/binary_geometry_fourier/binary_geometry_fourier.h"
#include "filters/colour_pixel/rect.h"
#include "tests/filters/binary_geometry_fourier/bgf_test_util.h"
#include "tests/app/app_test_util.h"
#include "tests/app/testhost.h"

namespace {

using apptest::MakePicture;
using apptest::SamePixels;
using bgftest::Draw;

// Checks a box as a click does: the state changes, then the shared callback runs.
void Press(CFgUIChkButton* box) {
  box->m_checked = box->m_checked ? 0 : 1;
  box->m_callback(box, box->m_user);
}

// A gray picture whose pixel (x, y) holds y * 16 + x, so every pixel tells where it came from.
void Ramp(CImgBuff& img, int32_t w, int32_t h) {
  ASSERT_EQ(1, img.Allocate(w, h, ImgFormatGray8));
  uint8_t* p = static_cast<uint8_t*>(img.Pixels());
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) p[y * img.record->width + x] = uint8_t(y * 16 + x);
}

uint8_t At(const CImgBuff& img, int32_t x, int32_t y) {
  return static_cast<const uint8_t*>(img.Pixels())[y * img.record->width + x];
}

TEST(Flip, NameKeyAndNewPack) {
  CLfFlip flip;
  EXPECT_STREQ(L"Flip", flip.GetName(L"en"));
  EXPECT_STREQ(L"\x53CD\x8EE2", flip.GetName(L"jp"));
  EXPECT_STREQ(L"flip", flip.GetKey());
  EXPECT_EQ(1, flip.HasDialog());
  CCfgPack pack;
  flip.SaveParams(&pack);
  ASSERT_NE(nullptr, pack.FindItem(L"flip_h"));
  EXPECT_STREQ(L"0", pack.FindItem(L"flip_h")->value);
  EXPECT_STREQ(L"0", pack.FindItem(L"flip_v")->value);
}

// Rectangle (2, 1)-(6, 5) of a 16 x 8 ramp: which source pixel lands at each place.
TEST(Flip, RowsMirroredAndReversedInsideTheRectangleOnly) {
  struct Case {
    int32_t h, v;
  };
  const Case cases[] = {{1, 0}, {0, 1}, {1, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "h " << c.h << " v " << c.v);
    CTestHost host;
    CImgBuff src;
    Ramp(src, 16, 8);
    host.SetStill(src);
    CLfRect* rect = new CLfRect;
    CLfFlip* flip = new CLfFlip;
    ASSERT_EQ(1, host.AddFilter(rect, nullptr));
    ASSERT_EQ(1, host.AddFilter(flip, nullptr));
    if (c.h) Press(&flip->m_mirrorBox);
    if (c.v) Press(&flip->m_reverseBox);
    Draw(rect, 2, 1, 6, 5);
    for (int32_t y = 0; y < 8; ++y)
      for (int32_t x = 0; x < 16; ++x) {
        int32_t sx = x, sy = y;
        if (x >= 2 && x <= 6 && y >= 1 && y <= 5) {
          if (c.h) sx = 2 + 6 - x;
          if (c.v) sy = 1 + 5 - y;  // five rows: 1 and 5, 2 and 4 change places, 3 stays
        }
        ASSERT_EQ(At(src, sx, sy), At(host.m_display, x, y)) << x << "," << y;
      }
  }
}

TEST(Flip, BothBoxesOnTheWholePictureGiveTheHalfTurn) {
  const int32_t formats[] = {ImgFormatGray8, ImgFormatRgb24, ImgFormatRgb48};
  for (int32_t format : formats) {
    CTestHost host;
    CImgBuff src;
    MakePicture(src, 37, 21, format, 5);
    host.SetStill(src);
    CLfFlip* flip = new CLfFlip;
    ASSERT_EQ(1, host.AddFilter(flip, nullptr));
    Press(&flip->m_mirrorBox);
    Press(&flip->m_reverseBox);
    CImgBuff turned;
    MakePicture(turned, 37, 21, format, 5);
    ASSERT_EQ(1, RotateImageQuarterTurns(&turned, 2));
    EXPECT_TRUE(SamePixels(turned, host.m_display)) << "format " << format;
  }
}

TEST(Flip, OneRowReversedPartlyOutsideClippedRefusedUnchanged) {
  CTestHost host;
  CImgBuff src;
  Ramp(src, 16, 8);
  host.SetStill(src);
  CLfFlip* flip = new CLfFlip;
  ASSERT_EQ(1, host.AddFilter(flip, nullptr));
  Press(&flip->m_reverseBox);

  // One row: no pair to exchange.
  CImgBuff work;
  Ramp(work, 16, 8);
  flip->Process(&work, 0, 0, 3, 16, 1, 0, 0);
  EXPECT_TRUE(SamePixels(src, work));

  // Entirely beyond the picture: refused, nothing changes.
  flip->Process(&work, 0, 20, 0, 5, 8, 0, 0);
  flip->Process(&work, 0, -10, -10, 5, 5, 0, 0);
  EXPECT_TRUE(SamePixels(src, work));

  // Rows -3 .. 3 clip to 0 .. 3: rows 0 and 3, 1 and 2 change places.
  Press(&flip->m_reverseBox);
  Press(&flip->m_mirrorBox);
  flip->Process(&work, 0, 12, -3, 10, 7, 0, 0);  // columns 12 .. 21 clip to 12 .. 15
  for (int32_t y = 0; y < 8; ++y)
    for (int32_t x = 0; x < 16; ++x) {
      int32_t sx = (x >= 12 && y <= 3) ? 12 + 15 - x : x;
      ASSERT_EQ(At(src, sx, y), At(work, x, y)) << x << "," << y;
    }
}

TEST(Flip, BoxOfADisabledFilterAsksForNoRun) {
  CTestHost host;
  CImgBuff src;
  Ramp(src, 16, 8);
  host.SetStill(src);
  CLfFlip* flip = new CLfFlip;
  ASSERT_EQ(1, host.AddFilter(flip, nullptr));
  flip->m_filterEnabled = 0;
  uint64_t before = host.m_processedCount.load();
  Press(&flip->m_mirrorBox);
  EXPECT_EQ(before, host.m_processedCount.load());
  EXPECT_EQ(1u, flip->GetSettings().flipH);
  flip->m_filterEnabled = 1;
  Press(&flip->m_reverseBox);
  EXPECT_GT(host.m_processedCount.load(), before);
}

TEST(Flip, PacksTakeOnlyExactZeroOrOne) {
  struct Case {
    const wchar_t* value;
    uint32_t start, expected;
  };
  const Case cases[] = {
      {L"1", 0, 1}, {L"0", 1, 0}, {L"2", 0, 0}, {L"2", 1, 1}, {L"", 1, 1}, {L"", 0, 0},
      {L" 1", 0, 0}, {L"01", 0, 0}, {nullptr, 1, 1},
  };
  for (const Case& c : cases) {
    CLfFlip flip;
    flip.m_mirrorBox.m_checked = int32_t(c.start);
    flip.m_reverseBox.m_checked = int32_t(c.start);
    flip.m_mirrorBox.m_callback(&flip.m_mirrorBox, &flip);
    CCfgPack pack;
    if (c.value) {
      pack.AddItem(L"flip_h", c.value);
      pack.AddItem(L"flip_v", c.value);
    }
    flip.LoadParams(&pack);
    EXPECT_EQ(c.expected, flip.GetSettings().flipH) << (c.value ? c.value : L"(none)");
    EXPECT_EQ(c.expected, flip.GetSettings().flipV);
    EXPECT_EQ(int32_t(c.expected), flip.m_mirrorBox.m_checked);
    EXPECT_EQ(int32_t(c.expected), flip.m_reverseBox.m_checked);
  }
  // Saved and read back.
  CLfFlip a, b;
  CCfgPack one;
  one.AddItem(L"flip_h", L"1");
  a.LoadParams(&one);
  CCfgPack saved;
  a.SaveParams(&saved);
  EXPECT_STREQ(L"1", saved.FindItem(L"flip_h")->value);
  EXPECT_STREQ(L"0", saved.FindItem(L"flip_v")->value);
  b.LoadParams(&saved);
  EXPECT_EQ(1u, b.GetSettings().flipH);
  EXPECT_EQ(0u, b.GetSettings().flipV);
}

TEST(Flip, BoxLabelsAndPlacesPerLanguage) {
  // The box that sets flip_h reads "vertical" and "水平"; the one that sets flip_v
  // "horizontal" and "垂直".
  struct Case {
    const wchar_t* language;
    const wchar_t *mirror, *reverse;
    int32_t reverseX, width;
  };
  const Case cases[] = {
      {L"en", L"vertical", L"horizontal", 120, 100},
      {L"jp", L"\x6C34\x5E73", L"\x5782\x76F4", 80, 60},
  };
  for (const Case& c : cases) {
    CLfFlip flip;
    flip.LayOut(c.language);
    EXPECT_STREQ(c.mirror, flip.m_mirrorBox.m_text);
    EXPECT_STREQ(c.reverse, flip.m_reverseBox.m_text);
    EXPECT_EQ(10, flip.m_mirrorBox.m_x);
    EXPECT_EQ(c.width, flip.m_mirrorBox.m_width);
    EXPECT_EQ(c.reverseX, flip.m_reverseBox.m_x);
    EXPECT_EQ(c.width, flip.m_reverseBox.m_width);
  }
}

void Collect(const FilterClassEntry& entry, void* user) {
  static_cast<std::vector<FilterClassEntry>*>(user)->push_back(entry);
}

TEST(BinaryGeometryFourier, RegistrationHandsOnEveryClass) {
  std::vector<FilterClassEntry> entries;
  RegisterBinaryGeometryFourierFilters(&Collect, &entries);
  RegisterBinaryGeometryFourierFilters(nullptr, &entries);  // no registry: nothing happens
  struct Want {
    uint32_t id;
    const wchar_t* key;
  };
  const Want want[] = {
      {10040, L"flip"}, {10036, L"fft"}, {10037, L"ifft"}, {10039, L"ifft_ex"},
      {10034, L"change_conditions"}, {10011, L"binary_image_process"},
      {10004, L"noise_remover"}, {10005, L"window_cut"}, {10035, L"separation"},
      {10002, L"extraction"}, {10038, L"frequency_mask"}, {10008, L"zoom"},
      {10009, L"projective_transformation"},
      {10016, L"generate_bg_image"}, {10031, L"strobe_photo"},
      {10032, L"anti_shake_/_composit"},
  };
  ASSERT_EQ(std::size(want), entries.size());
  for (uint64_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(want[i].id, entries[i].id);
    EXPECT_STREQ(want[i].key, entries[i].key);
    CImgFilter* made = entries[i].make();
    ASSERT_NE(nullptr, made);
    EXPECT_STREQ(want[i].key, made->GetKey());
    delete made;
  }
}

}  // namespace

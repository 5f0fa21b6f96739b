// clear_test.cpp - pixel value adjustment: the documented values, the rectangle, typed rows
// against the accessor path on all formats, the presets and bar on the test host, the pack.
#include "filters/colour_pixel/clear.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "app/cfgfile.h"
#include "core/imgbuff.h"
#include "filters/colour_pixel/rect.h"
#include "tests/app/app_test_util.h"
#include "tests/app/testhost.h"
#include "tests/filters/filter_test_util.h"

namespace {

using apptest::MakePicture;
using apptest::SamePixels;

RoiRect Whole(const CImgBuff& p) { return RoiRect{0, 0, p.Width() - 1, p.Height() - 1}; }

TEST(PixelValueAdjustment, SampleValues) {
  struct Case {
    int32_t format;
    uint32_t mode;
    uint8_t value;
    uint32_t before, after;  // one sample of a grey picture
  } cases[] = {
      {ImgFormatGray8, ClearModeAdjustment, 128, 200, 200},
      {ImgFormatGray8, ClearModeAdjustment, 255, 200, 255},
      {ImgFormatGray8, ClearModeAdjustment, 0, 200, 72},
      {ImgFormatGray8, ClearModeAdjustment, 0, 100, 0},
      {ImgFormatGray16, ClearModeAdjustment, 129, 65500, 65535},
      {ImgFormatGray16, ClearModeAdjustment, 127, 1000, 743},
      {ImgFormatGray32, ClearModeAdjustment, 0, 10, 0},
      {ImgFormatGray32, ClearModeAdjustment, 255, 0xFFFFFF00u, 0xFFFFFFFFu},
      {ImgFormatGray32, ClearModeAdjustment, 130, 5, 5 + 2 * 16843009u},
      {ImgFormatGray8, ClearModeSetting, 100, 7, 100},
      {ImgFormatGray16, ClearModeSetting, 100, 7, 25700},
      {ImgFormatGray32, ClearModeSetting, 100, 7, 100u * 16843009u},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "format " << c.format << " mode " << c.mode
                                    << " value " << int(c.value));
    for (int32_t typed : {0, 1}) {
      CImgBuff pic;
      ASSERT_EQ(1, pic.Allocate(3, 2, c.format));
      for (int32_t i = 0; i < 6; ++i) {
        if (c.format == ImgFormatGray8) static_cast<uint8_t*>(pic.Pixels())[i] = uint8_t(c.before);
        if (c.format == ImgFormatGray16) static_cast<uint16_t*>(pic.Pixels())[i] = uint16_t(c.before);
        if (c.format == ImgFormatGray32) static_cast<uint32_t*>(pic.Pixels())[i] = c.before;
      }
      ClearRect(&pic, Whole(pic), c.mode, c.value, typed);
      uint32_t got = 0;
      if (c.format == ImgFormatGray8) got = static_cast<uint8_t*>(pic.Pixels())[5];
      if (c.format == ImgFormatGray16) got = static_cast<uint16_t*>(pic.Pixels())[5];
      if (c.format == ImgFormatGray32) got = static_cast<uint32_t*>(pic.Pixels())[5];
      EXPECT_EQ(c.after, got) << "typed " << typed;
    }
  }
}

TEST(PixelValueAdjustment, SettingColourAndOutsideUntouched) {
  CImgBuff rgb, before;
  MakePicture(rgb, 9, 7, ImgFormatRgb48);
  before.CopyFrom(rgb);
  // A rectangle reaching past the frame: only the part inside changes.
  ClearRect(&rgb, RoiRect{5, 4, 40, 30}, ClearModeSetting, 100);
  for (int32_t y = 0; y < 7; ++y)
    for (int32_t x = 0; x < 9; ++x) {
      const uint16_t* p = static_cast<uint16_t*>(rgb.Pixels()) + (y * 9 + x) * 3;
      const uint16_t* q = static_cast<uint16_t*>(before.Pixels()) + (y * 9 + x) * 3;
      if (x >= 5 && y >= 4) {
        EXPECT_EQ((std::vector<uint16_t>{25700, 25700, 25700}), (std::vector<uint16_t>(p, p + 3)));
      } else {
        EXPECT_EQ(0, std::memcmp(p, q, 6)) << x << "," << y;
      }
    }
  // H,S,V receives the H,S,V of grey 100.
  CImgBuff hsv, grey;
  MakePicture(hsv, 4, 3, ImgFormatHsv48);
  ClearRect(&hsv, Whole(hsv), ClearModeSetting, 100);
  ASSERT_EQ(1, grey.Allocate(1, 1, ImgFormatHsv48));
  grey.record->SetGray8(0, 0, 100);
  for (int32_t i = 0; i < 12; ++i)
    EXPECT_EQ(0, std::memcmp(static_cast<uint8_t*>(hsv.Pixels()) + i * 6, grey.Pixels(), 6));
  // A refused rectangle (wholly outside) and an empty picture change nothing.
  CImgBuff pic, copy, empty;
  MakePicture(pic, 5, 5, ImgFormatGray8);
  copy.CopyFrom(pic);
  ClearRect(&pic, RoiRect{7, 0, 9, 4}, ClearModeSetting, 0);
  ClearRect(&pic, RoiRect{-9, -9, -1, 3}, ClearModeAdjustment, 0);
  EXPECT_TRUE(SamePixels(copy, pic));
  ClearRect(&empty, RoiRect{0, 0, 3, 3}, ClearModeSetting, 0);
  ClearRect(nullptr, RoiRect{0, 0, 3, 3}, ClearModeSetting, 0);
}

TEST(PixelValueAdjustment, TypedRowsEqualTheAccessorsOnAllFormats) {
  for (int32_t format = 1; format <= 9; ++format)
    for (uint32_t mode : {ClearModeSetting, ClearModeAdjustment})
      for (int32_t value : {0, 1, 77, 127, 129, 200, 255}) {
        SCOPED_TRACE(testing::Message() << "format " << format << " mode " << mode << " value "
                                        << value);
        CImgBuff typed, reference;
        MakePicture(typed, 61, 37, format, uint32_t(value + 3));
        reference.CopyFrom(typed);
        const RoiRect r{3, 2, 58, 33};
        ClearRect(&typed, r, mode, uint8_t(value), 1);
        ClearRect(&reference, r, mode, uint8_t(value), 0);
        ASSERT_TRUE(SamePixels(reference, typed));
      }
  // Large enough for the row split over the pool.
  CImgBuff typed, reference;
  MakePicture(typed, 700, 300, ImgFormatRgb24, 9);
  reference.CopyFrom(typed);
  ClearRect(&typed, Whole(typed), ClearModeAdjustment, 40, 1);
  ClearRect(&reference, Whole(reference), ClearModeAdjustment, 40, 0);
  EXPECT_TRUE(SamePixels(reference, typed));
}

TEST(PixelValueAdjustment, PresetsBarAndRadiosOnTheHost) {
  CTestHost host;
  CImgBuff src;
  ASSERT_EQ(1, src.Allocate(8, 6, ImgFormatGray8));
  std::memset(src.Pixels(), 200, 48);
  host.SetStill(src);
  CLfClear* f = new CLfClear;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  EXPECT_EQ(128, f->GetSettings().value);
  EXPECT_EQ(ClearModeAdjustment, f->GetSettings().mode);
  EXPECT_EQ(1, CFgUIChkButton::GetGroupSelection(&f->m_settingRadio));
  auto displayed = [&]() {
    host.WaitIdle();
    return static_cast<uint8_t*>(host.m_display.Pixels())[47];
  };
  struct Step {
    CFgUIButton* button;
    int32_t value;
    uint8_t pixel;
  } steps[] = {{&f->m_maxButton, 255, 255}, {&f->m_minButton, 0, 72},
               {&f->m_centerButton, 128, 200}};
  for (const Step& s : steps) {
    const uint64_t before = host.m_processedCount;
    s.button->m_callback(s.button, s.button->m_user);
    EXPECT_EQ(s.value, f->m_bar.m_position);
    EXPECT_EQ(s.value, f->GetSettings().value);
    EXPECT_EQ(s.pixel, displayed());
    EXPECT_GT(host.m_processedCount.load(), before) << "the preset asked for a run";
  }
  f->m_bar.MoveTo(10);
  EXPECT_EQ(10, f->GetSettings().value);
  EXPECT_EQ(82, displayed());
  CFgUIChkButton::SetGroupSelection(&f->m_settingRadio, 0, 0);
  f->m_settingRadio.m_callback(&f->m_settingRadio, f);
  EXPECT_EQ(ClearModeSetting, f->GetSettings().mode);
  EXPECT_EQ(10, displayed());
  // Disabled: the value is stored but nothing runs.
  f->m_filterEnabled = 0;
  host.WaitIdle();
  const uint64_t before = host.m_processedCount;
  f->m_maxButton.m_callback(&f->m_maxButton, f);
  host.WaitIdle();
  EXPECT_EQ(255, f->GetSettings().value);
  EXPECT_EQ(before, host.m_processedCount.load());
}

TEST(PixelValueAdjustment, NameKeyAndPack) {
  CLfClear f;
  EXPECT_STREQ(L"Pixel value adjustment", f.GetName(L"en"));
  EXPECT_STREQ(L"Pixel value adjustment", f.GetName(L"jp "));
  EXPECT_STREQ(L"\x753B\x7D20\x5024\x8ABF\x6574", f.GetName(L"jp"));
  EXPECT_STREQ(L"pixel_value_adjustment", f.GetKey());
  EXPECT_EQ(1, f.HasDialog());
  CCfgPack pack;
  pack.SetName(L"pixel_value_adjustment");
  f.SaveParams(&pack);
  EXPECT_EQ((std::vector<std::wstring>{L"if_enable 0", L"if_visible 0", L"mode 1", L"sel 128"}),
            filtertest::PackLines(&pack));

  struct Case {
    const wchar_t* mode;  // null: missing
    const wchar_t* sel;
    uint32_t modeAfter;
    int32_t valueAfter;
  } cases[] = {
      {L"0", L"200", ClearModeSetting, 200}, {L"1", L"300", ClearModeAdjustment, 128},
      {L"x", L"-1", ClearModeAdjustment, 128}, {nullptr, L"0", ClearModeAdjustment, 0},
      {L"0", nullptr, ClearModeSetting, 128},  {L"0", L"255", ClearModeSetting, 255},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "sel " << (c.sel ? "set" : "missing"));
    CLfClear g;
    CCfgPack in;
    in.SetName(L"pixel_value_adjustment");
    if (c.mode) in.AddItem(L"mode", c.mode);
    if (c.sel) in.AddItem(L"sel", c.sel);
    g.LoadParams(&in);
    EXPECT_EQ(c.modeAfter, g.GetSettings().mode);
    EXPECT_EQ(int32_t(c.modeAfter), CFgUIChkButton::GetGroupSelection(&g.m_settingRadio));
    EXPECT_EQ(c.valueAfter, g.GetSettings().value);
    EXPECT_EQ(c.valueAfter, g.m_bar.m_position);
    // What it saves loads back the same.
    CCfgPack out;
    out.SetName(L"pixel_value_adjustment");
    g.SaveParams(&out);
    CLfClear h;
    h.LoadParams(&out);
    EXPECT_EQ(filtertest::PackLines(&out), [&] {
      CCfgPack again;
      again.SetName(L"pixel_value_adjustment");
      h.SaveParams(&again);
      return filtertest::PackLines(&again);
    }());
  }
}

}  // namespace

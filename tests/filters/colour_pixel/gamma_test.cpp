// gamma_test.cpp - the gamma filter without a window: its curves on 8- and 32-bit pictures,
// the edit box checks, the settings readings and the run on the test host.
#include "filters/colour_pixel/gamma.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/cfgfile.h"
#include "core/imgbuff.h"
#include "tests/app/app_test_util.h"
#include "tests/app/testhost.h"
#include "tests/filters/filter_test_util.h"

namespace {

// A one-row gray picture of the given 8-bit levels, run through the filter's Process.
std::vector<uint8_t> Run8(CLfGamma* f, const std::vector<uint8_t>& levels) {
  CImgBuff img;
  EXPECT_EQ(1, img.Allocate(int32_t(levels.size()), 1, ImgFormatGray8));
  uint8_t* p = static_cast<uint8_t*>(img.Pixels());
  for (size_t i = 0; i < levels.size(); ++i) p[i] = levels[i];
  f->Process(&img, 0, 0, 0, int64_t(levels.size()), 1, 8, 0);
  return std::vector<uint8_t>(p, p + levels.size());
}

void LeaveEdit(CFgUIEdit* edit, const wchar_t* text) {
  edit->SetLine(0, text);
  edit->OnFocusLost(edit, edit->CallbackArg);
}

TEST(Gamma, DefaultsNameAndPack) {
  CLfGamma f;
  EXPECT_STREQ(L"Gamma", f.GetName(L"en"));
  EXPECT_STREQ(L"\x30AC\x30F3\x30DE\x5909\x63DB", f.GetName(L"jp"));
  EXPECT_STREQ(L"gamma", f.GetKey());
  EXPECT_STREQ(L"2.2", f.m_gammaEdit.GetText());
  EXPECT_STREQ(L"2.2", f.m_fromEdit.GetText());
  EXPECT_STREQ(L"1.8", f.m_toEdit.GetText());
  EXPECT_EQ(1, f.m_revBox.m_checked);
  EXPECT_EQ(1, f.m_gammaEdit.m_enabled);
  EXPECT_EQ(0, f.m_fromEdit.m_enabled);
  EXPECT_EQ(0, f.m_toLabel.m_enabled);
  CCfgPack pack;
  pack.SetName(L"gamma");
  f.SaveParams(&pack);
  EXPECT_EQ((std::vector<std::wstring>{L"if_enable 0", L"if_visible 0", L"type 0",
                                       L"gamma 2.2", L"rev 1", L"from 2.2", L"to 1.8"}),
            filtertest::PackLines(&pack));
}

TEST(Gamma, CurvesPerMode) {
  CLfGamma f;
  // Defaults: 255 * (v / 255) ^ (1 / 2.2), truncated.
  EXPECT_EQ((std::vector<uint8_t>{0, 136, 186, 255}), Run8(&f, {0, 64, 128, 255}));
  f.m_revBox.m_checked = 0;
  f.m_revBox.m_callback(&f.m_revBox, f.m_revBox.m_user);
  EXPECT_EQ((std::vector<uint8_t>{55}), Run8(&f, {128}));
  CFgUIChkButton::SetGroupSelection(&f.m_radio[0], 1, 0);
  f.m_radio[1].m_callback(&f.m_radio[1], f.m_radio[1].m_user);
  EXPECT_EQ(1u, f.GetSettings().type);
  EXPECT_EQ(0, f.m_gammaEdit.m_enabled);
  EXPECT_EQ(1, f.m_fromEdit.m_enabled);
  EXPECT_EQ((std::vector<uint8_t>{109}), Run8(&f, {128}));
  CFgUIChkButton::SetGroupSelection(&f.m_radio[0], 2, 0);
  f.m_radio[2].m_callback(&f.m_radio[2], f.m_radio[2].m_user);
  EXPECT_EQ((std::vector<uint8_t>{145}), Run8(&f, {128}));
  // "orignal" equal to "new" changes nothing.
  LeaveEdit(&f.m_toEdit, L"2.2");
  EXPECT_EQ((std::vector<uint8_t>{1, 128, 254}), Run8(&f, {1, 128, 254}));
}

TEST(Gamma, UnitExponentChangesNothing) {
  for (uint32_t rev : {0u, 1u}) {
    CLfGamma f;
    f.m_revBox.m_checked = int32_t(rev);
    f.m_revBox.m_callback(&f.m_revBox, f.m_revBox.m_user);
    LeaveEdit(&f.m_gammaEdit, L"1");
    EXPECT_EQ((std::vector<uint8_t>{0, 1, 77, 254, 255}), Run8(&f, {0, 1, 77, 254, 255}));
  }
}

TEST(Gamma, EightAndThirtyTwoBitCurvesAgree) {
  for (int32_t type : {0, 1, 2}) {
    CLfGamma f;
    CFgUIChkButton::SetGroupSelection(&f.m_radio[0], type, 0);
    f.m_radio[type].m_callback(&f.m_radio[type], f.m_radio[type].m_user);
    CImgBuff g8, g32;
    ASSERT_EQ(1, g8.Allocate(256, 1, ImgFormatGray8));
    ASSERT_EQ(1, g32.Allocate(256, 1, ImgFormatGray32));
    auto* p8 = static_cast<uint8_t*>(g8.Pixels());
    auto* p32 = static_cast<uint32_t*>(g32.Pixels());
    for (uint32_t v = 0; v < 256; ++v) {
      p8[v] = uint8_t(v);
      p32[v] = v * 16843009u;  // the same level at 32 bits
    }
    f.Process(&g8, 0, 0, 0, 256, 1, 8, 0);
    f.Process(&g32, 0, 0, 0, 256, 1, 8, 0);
    for (uint32_t v = 0; v < 256; ++v) {
      double level32 = p32[v] / 16843009.0;
      EXPECT_GE(level32 + 1e-9, double(p8[v])) << type << " " << v;
      EXPECT_LT(level32, double(p8[v]) + 1.0 + 1e-9) << type << " " << v;
    }
  }
}

TEST(Gamma, EditBoxChecks) {
  struct Case {
    const wchar_t* typed;
    const wchar_t* shown;
    double stored;
  } cases[] = {
      {L"-2", L"2.2", 2.2}, {L"1.2.3", L"2.2", 2.2}, {L".5", L"2.2", 2.2},
      {L"", L"2.2", 2.2},   {L"2x", L"2.2", 2.2},    {L"1.5", L"1.5", 1.5},
      {L"0", L"0", 0.0},
  };
  for (const Case& c : cases) {
    CLfGamma f;
    LeaveEdit(&f.m_gammaEdit, c.typed);
    EXPECT_STREQ(c.shown, f.m_gammaEdit.GetText()) << c.typed;
    EXPECT_EQ(c.stored, f.GetSettings().gamma) << c.typed;
  }
  // 0 is taken and leaves no table: frames pass unchanged.
  CLfGamma f;
  LeaveEdit(&f.m_gammaEdit, L"0");
  EXPECT_EQ(nullptr, f.GetSettings().table);
  EXPECT_EQ((std::vector<uint8_t>{3, 128}), Run8(&f, {3, 128}));
  // A box of the inactive mode stores its value without a new table.
  LeaveEdit(&f.m_fromEdit, L"3");
  EXPECT_EQ(3.0, f.GetSettings().from);
  EXPECT_EQ(nullptr, f.GetSettings().table);
}

TEST(Gamma, LoadParamsReadings) {
  struct Case {
    const wchar_t *key, *value;
    uint32_t type;
    double gamma;
    const wchar_t* shown;  // the gamma box
    int32_t hasTable;
  } cases[] = {
      {L"type", L"1", 1, 2.2, L"2.2", 1},
      {L"type", L"3", 0, 2.2, L"2.2", 1},
      {L"type", L"-1", 0, 2.2, L"2.2", 1},
      {L"gamma", L"2.2x", 0, 2.2, L"2.2x", 1},
      {L"gamma", L"1.5", 0, 1.5, L"1.5", 1},
      {L"gamma", L"0", 0, 0.0, L"0", 0},
      {L"gamma", L"-2", 0, -2.0, L"-2", 0},
      {L"gamma", L"nan", 0, 2.2, L"2.2", 1},
      {L"gamma", L"inf", 0, 2.2, L"2.2", 1},
      {L"gamma", L"1e999", 0, 2.2, L"2.2", 1},
  };
  for (const Case& c : cases) {
    CLfGamma f;
    CCfgPack pack;
    pack.SetName(L"gamma");
    pack.AddItem(c.key, c.value);
    f.LoadParams(&pack);
    CLfGamma::Settings s = f.GetSettings();
    EXPECT_EQ(c.type, s.type) << c.key << "=" << c.value;
    EXPECT_EQ(c.gamma, s.gamma) << c.key << "=" << c.value;
    EXPECT_STREQ(c.shown, f.m_gammaEdit.GetText()) << c.value;
    EXPECT_EQ(c.hasTable, s.table != nullptr) << c.value;
    EXPECT_EQ(int32_t(c.type), CFgUIChkButton::GetGroupSelection(&f.m_radio[0]));
    if (!c.hasTable) {
      EXPECT_EQ((std::vector<uint8_t>{7, 200}), Run8(&f, {7, 200}));
    }
  }
  // A full pack read back from what a changed filter wrote.
  CLfGamma a;
  CCfgPack in;
  in.SetName(L"gamma");
  for (auto [k, v] : std::vector<std::pair<const wchar_t*, const wchar_t*>>{
           {L"type", L"2"}, {L"gamma", L"1.7"}, {L"rev", L"0"}, {L"from", L"2.5"}, {L"to", L"1"}})
    in.AddItem(k, v);
  a.LoadParams(&in);
  CCfgPack out;
  out.SetName(L"gamma");
  a.SaveParams(&out);
  EXPECT_EQ((std::vector<std::wstring>{L"if_enable 0", L"if_visible 0", L"type 2", L"gamma 1.7",
                                       L"rev 0", L"from 2.5", L"to 1"}),
            filtertest::PackLines(&out));
  EXPECT_EQ(0, a.m_revBox.m_checked);
  EXPECT_EQ(1, a.m_fromEdit.m_enabled);
}

TEST(Gamma, RunsOnTheHost) {
  CTestHost host;
  CImgBuff src;
  ASSERT_EQ(1, src.Allocate(4, 2, ImgFormatRgb24));
  auto* p = static_cast<uint8_t*>(src.Pixels());
  for (int i = 0; i < 24; ++i) p[i] = uint8_t(i % 2 ? 64 : 128);
  host.SetStill(src);
  auto* f = new CLfGamma;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  f->m_filterEnabled = 1;
  ASSERT_EQ(1, host.Reprocess(0));
  const auto* out = static_cast<const uint8_t*>(host.m_display.Pixels());
  for (int i = 0; i < 24; ++i) EXPECT_EQ(i % 2 ? 136 : 186, out[i]) << i;
}

}  // namespace

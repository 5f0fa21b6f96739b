// wave_filter_test.cpp - the colour filter of one wave length on the test host: the picture
// results of each mode, the enabling rules, the number boxes' checks, the swatch and the
// settings pack.
#include "filters/colour_pixel/wave_filter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/cfgfile.h"
#include "tests/app/testhost.h"

namespace {

struct Rig {
  CTestHost host;
  CLfWave* wave = new CLfWave;
  Rig(const CImgBuff& picture) {
    host.SetStill(picture);
    EXPECT_EQ(1, host.AddFilter(wave, nullptr));
  }
  void Radio(CFgUIChkButton* leader, CFgUIChkButton* member, int32_t n) {
    ASSERT_EQ(1, CFgUIChkButton::SetGroupSelection(leader, n, 0));
    member->m_callback(member, member->m_user);
  }
  void FilterMode(int32_t n) { Radio(&wave->m_filterRadio[0], &wave->m_filterRadio[n], n); }
  void GainMode(int32_t n) { Radio(&wave->m_gainRadio[0], &wave->m_gainRadio[n], n); }
  void Press(CFgUIButton* b) { b->m_callback(b, b->m_user); }
  void Type(CFgUIEdit* edit, const wchar_t* text) {
    edit->SetLine(0, text);
    edit->OnFocusLost(edit, edit->CallbackArg);
  }
  void Inverse(int32_t on) {
    wave->m_inverseBox.m_checked = on;
    wave->m_inverseBox.m_callback(&wave->m_inverseBox, wave->m_inverseBox.m_user);
  }
};

void Rgb(CImgBuff& p, uint8_t r, uint8_t g, uint8_t b) {
  EXPECT_EQ(1, p.Allocate(4, 3, ImgFormatRgb24));
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) p.SetRGB8(x, y, r, g, b);
}

void Gray(CImgBuff& p, const std::initializer_list<uint8_t>& values) {
  EXPECT_EQ(1, p.Allocate(int32_t(values.size()), 1, ImgFormatGray8));
  std::memcpy(p.Pixels(), values.begin(), values.size());
}

std::string Gray8(const CImgBuff& p) {
  std::string s;
  EXPECT_EQ(ImgFormatGray8, p.Format());
  const auto* v = static_cast<const uint8_t*>(p.Pixels());
  for (int i = 0; i < p.Width() * p.Height(); ++i) s += std::to_string(v[i]) + " ";
  return s;
}

std::wstring Saved(CLfWave* wave) {
  CCfgPack pack;
  pack.SetName(L"color_filter");
  wave->SaveParams(&pack);
  std::wstring s;
  for (CCfgItem* it = pack.firstItem; it; it = it->next)
    s += std::wstring(it->key) + L" " + it->value + L"\n";
  return s;
}

void Load(CLfWave* wave, std::initializer_list<std::pair<const wchar_t*, const wchar_t*>> kv) {
  CCfgPack pack;
  pack.SetName(L"color_filter");
  for (auto& p : kv) pack.AddItem(p.first, p.second);
  wave->LoadParams(&pack);
}

TEST(WaveFilter, NameKeyAndDefaults) {
  CLfWave wave;
  EXPECT_STREQ(L"Color filter", wave.GetName(L"en"));
  EXPECT_STREQ(L"\x30AB\x30E9\x30FC\x30D5\x30A3\x30EB\x30BF\x30FC", wave.GetName(L"jp"));
  EXPECT_STREQ(L"color_filter", wave.GetKey());
  EXPECT_EQ(10029u, CLfWave::kFilterId);
  EXPECT_EQ(1, wave.HasDialog());
  EXPECT_EQ(L"if_enable 0\nif_visible 0\nwave_length 0\ngain_free 0\nfilter 0\ngain 0\n"
            L"inverse 0\n",
            Saved(&wave));
}

TEST(WaveFilter, NewFilterChangesNoPicture) {
  CImgBuff src;
  Rgb(src, 200, 100, 50);
  Rig rig(src);
  rig.host.Reprocess(0);
  uint8_t r, g, b;
  rig.host.m_display.GetRGB8(1, 1, &r, &g, &b);
  EXPECT_EQ(200, r);
  EXPECT_EQ(100, g);
  EXPECT_EQ(50, b);
}

TEST(WaveFilter, RedFilterOnAColourPicture) {
  // 610 nm is a pure red (r = 1, g = b = 0 once clamped into sRGB).
  struct Case {
    int32_t filter, gain;
    int32_t format;
    uint8_t r, g, b;
  } cases[] = {
      {1, 0, ImgFormatRgb24, 200, 0, 0},
      {2, 1, ImgFormatGray8, 200, 200, 200},
      {2, 0, ImgFormatGray8, 59, 59, 59},  // 0.299 x 200, truncated
  };
  for (const Case& c : cases) {
    CImgBuff src;
  Rgb(src, 200, 100, 50);
    Rig rig(src);
    rig.Press(&rig.wave->m_waveButton[0]);
    EXPECT_STREQ(L"610", rig.wave->m_waveEdit.GetText());
    rig.GainMode(c.gain);
    rig.FilterMode(c.filter);
    const CImgBuff& out = rig.host.m_display;
    ASSERT_EQ(c.format, out.Format()) << c.filter << " " << c.gain;
    if (c.format == ImgFormatGray8) {
      uint8_t v = 0;
      out.GetGray8(2, 1, &v);
      EXPECT_NEAR(c.r, v, 1) << c.filter << " " << c.gain;
    } else {
      uint8_t r, g, b;
      out.GetRGB8(2, 1, &r, &g, &b);
      EXPECT_EQ(c.r, r);
      EXPECT_EQ(c.g, g);
      EXPECT_EQ(c.b, b);
    }
  }
}

TEST(WaveFilter, GainsOnAGrayPicture) {
  CImgBuff src;
  Gray(src, {0, 10, 100, 200});
  Rig rig(src);
  rig.Press(&rig.wave->m_waveButton[0]);
  rig.GainMode(3);
  rig.Type(&rig.wave->m_gainEdit, L"2");
  EXPECT_EQ("0 20 200 255 ", Gray8(rig.host.m_display));
  rig.Inverse(1);
  EXPECT_EQ("0 5 50 100 ", Gray8(rig.host.m_display));
  // Gain 0 inverted: black stays black, every other value saturates.
  rig.Type(&rig.wave->m_gainEdit, L"0");
  EXPECT_EQ("0 255 255 255 ", Gray8(rig.host.m_display));
  rig.Inverse(0);
  EXPECT_EQ("0 0 0 0 ", Gray8(rig.host.m_display));
  // "raw": times the luma of the red filter.
  rig.GainMode(2);
  double luma = rig.wave->GetSettings().luma;
  EXPECT_NEAR(0.299, luma, 1e-3);
  std::string out = Gray8(rig.host.m_display);
  EXPECT_EQ("0 2 29 59 ", out) << luma;
}

TEST(WaveFilter, GainButtonsStoreWhatTheBoxShows) {
  CImgBuff src;
  Gray(src, {0});
  Rig rig(src);
  rig.Press(&rig.wave->m_waveButton[1]);  // 550.1 nm
  EXPECT_STREQ(L"550.1", rig.wave->m_waveEdit.GetText());
  CLfWave::Settings s = rig.wave->GetSettings();
  double values[4] = {s.r, s.g, s.b, s.luma};
  for (int i = 0; i < 4; ++i) {
    rig.Press(&rig.wave->m_gainButton[i]);
    double gain = rig.wave->GetSettings().gain;
    EXPECT_NEAR(values[i], gain, 5e-7);
    EXPECT_EQ(gain, wcstod(rig.wave->m_gainEdit.GetText(), nullptr));
  }
  EXPECT_EQ(0, rig.wave->GetSettings().gainMode) << "a gain button keeps the mode";
}

TEST(WaveFilter, EnableTable) {
  struct Case {
    int32_t filter;
    bool colour;
    int32_t firstTwo, rest;
  } cases[] = {
      {0, false, 1, 1}, {0, true, 0, 0}, {1, false, 0, 0},
      {1, true, 0, 0},  {2, false, 1, 0}, {2, true, 1, 0},
  };
  for (const Case& c : cases) {
    CImgBuff src;
    if (c.colour)
      Rgb(src, 1, 2, 3);
    else
      Gray(src, {1, 2});
    Rig rig(src);
    rig.FilterMode(c.filter);
    rig.host.Reprocess(0);
    CLfWave* w = rig.wave;
    SCOPED_TRACE(testing::Message() << c.filter << " " << c.colour);
    EXPECT_EQ(c.colour ? 1u : 0u, w->ColourInput());
    EXPECT_EQ(c.firstTwo, w->m_gainRadio[0].m_enabled);
    EXPECT_EQ(c.firstTwo, w->m_gainRadio[1].m_enabled);
    EXPECT_EQ(c.rest, w->m_gainRadio[2].m_enabled);
    EXPECT_EQ(c.rest, w->m_gainRadio[3].m_enabled);
    EXPECT_EQ(c.rest, w->m_gainEdit.m_enabled);
    EXPECT_EQ(c.rest, w->m_inverseBox.m_enabled);
    for (CFgUIButton& b : w->m_gainButton) EXPECT_EQ(c.rest, b.m_enabled);
    EXPECT_EQ(1, w->m_waveEdit.m_enabled);
    for (CFgUIChkButton& r : w->m_filterRadio) EXPECT_EQ(1, r.m_enabled);
  }
}

TEST(WaveFilter, WindowDisabledAsAWholeStaysDisabled) {
  CImgBuff src;
  Gray(src, {1});
  Rig rig(src);
  rig.wave->EnableDialog(0);
  CImgBuff colour;
  Rgb(colour, 1, 2, 3);
  rig.host.SetStill(colour);
  rig.host.Reprocess(0);
  EXPECT_EQ(0, rig.wave->m_waveEdit.m_enabled);
  EXPECT_EQ(0, rig.wave->m_gainRadio[0].m_enabled);
  rig.wave->EnableDialog(1);
  EXPECT_EQ(1, rig.wave->m_waveEdit.m_enabled);
  EXPECT_EQ(0, rig.wave->m_gainRadio[0].m_enabled) << "colour input, filter off";
}

TEST(WaveFilter, NumberBoxChecks) {
  CImgBuff src;
  Gray(src, {1});
  Rig rig(src);
  CFgUIEdit* edit = &rig.wave->m_waveEdit;
  rig.Type(edit, L"500");
  EXPECT_EQ(500.0, rig.wave->GetSettings().waveLength);
  for (const wchar_t* bad : {L"1e3", L".5", L"5-", L"", L"-5", L"1.2.3"}) {
    rig.Type(edit, bad);
    EXPECT_STREQ(L"500", edit->GetText()) << bad;
    EXPECT_EQ(500.0, rig.wave->GetSettings().waveLength);
  }
  rig.Type(edit, L"610.");
  EXPECT_EQ(610.0, rig.wave->GetSettings().waveLength);
  uint8_t rgb[3];
  rig.wave->SwatchColour(rgb);
  EXPECT_EQ(255, rgb[0]);
  EXPECT_EQ(0, rgb[1]);
  EXPECT_EQ(0, rgb[2]);
  // A box that the worker disabled gets its value back and the gain stays.
  CFgUIEdit* gain = &rig.wave->m_gainEdit;
  rig.Type(gain, L"3");
  gain->m_enabled = 0;
  rig.Type(gain, L"7");
  EXPECT_STREQ(L"3", gain->GetText());
  EXPECT_EQ(3.0, rig.wave->GetSettings().gain);
}

TEST(WaveFilter, Settings) {
  CLfWave wave;
  Load(&wave, {{L"wave_length", L"550.1"}, {L"gain_free", L"1.25"}, {L"filter", L"2"},
               {L"gain", L"1"}, {L"inverse", L"1"}});
  EXPECT_EQ(L"if_enable 0\nif_visible 0\nwave_length 550.1\ngain_free 1.25\nfilter 2\n"
            L"gain 1\ninverse 1\n",
            Saved(&wave));
  EXPECT_STREQ(L"550.1", wave.m_waveEdit.GetText());
  EXPECT_GT(wave.GetSettings().g, 0.5);
  EXPECT_EQ(2, CFgUIChkButton::GetGroupSelection(&wave.m_filterRadio[0]));
  EXPECT_EQ(1, wave.m_inverseBox.m_checked);
  for (const wchar_t* keep : {L"3", L"-1"}) {
    Load(&wave, {{L"filter", keep}});
    EXPECT_EQ(2, wave.GetSettings().filterMode) << keep;
    EXPECT_EQ(2, CFgUIChkButton::GetGroupSelection(&wave.m_filterRadio[0]));
  }
  Load(&wave, {{L"filter", L"x"}, {L"inverse", L"0"}, {L"wave_length", L"-3"}});
  EXPECT_EQ(0, wave.GetSettings().filterMode);
  EXPECT_EQ(0, CFgUIChkButton::GetGroupSelection(&wave.m_filterRadio[0]));
  EXPECT_EQ(0u, wave.GetSettings().inverse);
  EXPECT_EQ(0.0, wave.GetSettings().waveLength);
}

}  // namespace

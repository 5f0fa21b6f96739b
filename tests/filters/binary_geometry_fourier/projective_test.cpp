// projective_test.cpp - the projective transformation on the test host: the boxes and their
// checks, "calc from CCD size", "set" and its messages in both languages, frames against the
// engine's TiltCorrect, zoom read by every run, and the packs.
#include "filters/binary_geometry_fourier/projective.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/cfgfile.h"
#include "core/imgbuff.h"
#include "core/text.h"
#include "engine/tilt.h"
#include "tests/app/app_test_util.h"
#include "tests/app/testhost.h"
#include "tests/filters/filter_test_util.h"

namespace {

using apptest::SamePixels;
using filtertest::PackLines;

// Types text into a box and moves the focus away, as the user does.
void Type(CLfPtrans* f, int32_t box, const wchar_t* text) {
  CFgUIEdit& e = f->m_edits[box];
  e.SetLine(0, text);
  e.OnFocusLost(&e, e.CallbackArg);
}

void Load(CLfPtrans* f, std::vector<std::pair<const wchar_t*, const wchar_t*>> items) {
  CCfgPack pack;
  for (auto& kv : items) pack.AddItem(kv.first, kv.second);
  f->LoadParams(&pack);
}

struct Fixture {
  CTestHost host;
  CImgBuff src;
  CLfPtrans* f = nullptr;
  explicit Fixture(const wchar_t* language = L"en") {
    host.SetLanguage(language);
    apptest::MakePicture(src, 640, 480, ImgFormatRgb24, 4);
    host.SetStill(src);
    f = new CLfPtrans;
    EXPECT_EQ(1, host.AddFilter(f, nullptr));
  }
  bool MatchesEngine(double pan, double tilt, double zoom) {
    CImgBuff want;
    want.CopyFrom(src);
    CameraModel m{};
    const CLfPtrans::State s = f->GetState();
    EXPECT_EQ(1, SetCameraModel(&m, s.focal, 640, 480, s.pixel, s.pixel));
    const double angles[3] = {pan, tilt, 0};
    EXPECT_EQ(1, TiltCorrect(&want, &m, angles, zoom, host.m_background));
    return SamePixels(want, host.m_display);
  }
};

TEST(Projective, NameKeyAndNewFilter) {
  CLfPtrans f;
  EXPECT_STREQ(L"Projective transformation", f.GetName(L"en"));
  EXPECT_STREQ(L"\u5C04\u5F71\u5909\u63DB", f.GetName(L"jp"));
  EXPECT_STREQ(L"projective_transformation", f.GetKey());
  EXPECT_EQ(0u, f.IsDirty());
  EXPECT_EQ(0, f.m_setButton.m_enabled);
  const wchar_t* shown[6] = {L"0", L"0", L"0", L"0", L"0", L"1"};
  for (int i = 0; i < 6; ++i) EXPECT_STREQ(shown[i], f.m_edits[i].GetText());
  CCfgPack pack;
  f.SaveParams(&pack);
  EXPECT_EQ(PackLines(&pack),
            (std::vector<std::wstring>{L"if_enable 0", L"if_visible 0", L"f 0",
                                       L"size_pixel_us 0", L"size_inch 0", L"pan 0", L"tilt 0",
                                       L"zoom 1"}));
}

TEST(Projective, TypedTextChecks) {
  CLfPtrans f;
  struct Case {
    int32_t box;
    const wchar_t* text;
    double stored;
  } cases[] = {
      {CLfPtrans::BoxPan, L"90", 0},      {CLfPtrans::BoxPan, L"-89.5", -89.5},
      {CLfPtrans::BoxTilt, L"-90", 0},    {CLfPtrans::BoxTilt, L"89.99", 89.99},
      {CLfPtrans::BoxTilt, L"-.5", 0},    {CLfPtrans::BoxFocal, L"-1", 0},
      {CLfPtrans::BoxFocal, L"0", 0},     {CLfPtrans::BoxFocal, L"12", 12},
      {CLfPtrans::BoxZoom, L"-2", 1},     {CLfPtrans::BoxZoom, L"0", 1},
      {CLfPtrans::BoxZoom, L"2.5", 2.5},  {CLfPtrans::BoxInch, L"", 0},
      {CLfPtrans::BoxInch, L"1e3", 0},
  };
  for (const Case& c : cases) {
    CLfPtrans g;
    Type(&g, c.box, c.text);
    EXPECT_EQ(c.stored, g.Field(c.box)) << c.box << " " << std::wstring(c.text).size();
    wchar_t want[64];
    FormatDouble(want, 64, c.stored);
    if (c.stored == (c.box == CLfPtrans::BoxZoom ? 1 : 0)) {
      EXPECT_STREQ(want, g.m_edits[c.box].GetText()) << "refused: the stored value back";
    }
  }
  for (int32_t box = 0; box < CLfPtrans::BoxCount; ++box) {
    Type(&f, box, L"1.2.3");
    Type(&f, box, L".5");
    EXPECT_EQ(box == CLfPtrans::BoxZoom ? 1.0 : 0.0, f.Field(box)) << box;
    Type(&f, box, L"0.5");
    EXPECT_EQ(0.5, f.Field(box)) << box;
  }
  EXPECT_EQ(1u, f.IsDirty());
  EXPECT_EQ(1, f.m_setButton.m_enabled);
}

TEST(Projective, PixelSizeFromInchAndTheCameraModel) {
  Fixture x;
  Type(x.f, CLfPtrans::BoxInch, L"0.5");
  x.f->CalcPixelSizeFromInch();
  EXPECT_NEAR(15.875, x.f->Field(CLfPtrans::BoxPixel), 1e-12);
  EXPECT_STREQ(L"15.875", x.f->m_edits[CLfPtrans::BoxPixel].GetText());
  Type(x.f, CLfPtrans::BoxFocal, L"8");
  Type(x.f, CLfPtrans::BoxPixel, L"5");
  x.f->SetCamera();
  const CLfPtrans::State s = x.f->GetState();
  EXPECT_EQ(1u, s.committed);
  EXPECT_EQ(1600.0, s.camera.fx);
  EXPECT_EQ(1600.0, s.camera.fy);
  EXPECT_EQ(320.0, s.camera.cx);
  EXPECT_EQ(240.0, s.camera.cy);
  EXPECT_EQ(0u, x.f->IsDirty());
  EXPECT_EQ(0, x.f->m_setButton.m_enabled);
}

TEST(Projective, FramesFollowTheCommittedAnglesAndEveryZoom) {
  Fixture x;
  Type(x.f, CLfPtrans::BoxFocal, L"8");
  Type(x.f, CLfPtrans::BoxPixel, L"5");
  Type(x.f, CLfPtrans::BoxPan, L"20");
  Type(x.f, CLfPtrans::BoxTilt, L"-15");
  ASSERT_EQ(1, x.host.Reprocess(0));
  EXPECT_TRUE(SamePixels(x.src, x.host.m_display)) << "nothing before set";
  x.f->SetCamera();
  EXPECT_TRUE(x.MatchesEngine(20, -15, 1));
  // Pan typed after set waits for the next set; zoom acts at once.
  Type(x.f, CLfPtrans::BoxPan, L"-30");
  Type(x.f, CLfPtrans::BoxZoom, L"1.5");
  ASSERT_EQ(1, x.host.Reprocess(0));
  EXPECT_TRUE(x.MatchesEngine(20, -15, 1.5));
  x.host.m_background = 0;
  x.f->SetCamera();
  EXPECT_TRUE(x.MatchesEngine(-30, -15, 1.5));
}

TEST(Projective, MessagesInBothLanguages) {
  for (const wchar_t* language : {L"en", L"jp"}) {
    const bool ja = IsJapanese(language);
    CScriptedDialogs dialogs;
    {
      CTestHost host;
      host.SetLanguage(language);
      auto* f = new CLfPtrans;
      ASSERT_EQ(1, host.AddFilter(f, nullptr));
      f->SetCamera();
      f->CalcPixelSizeFromInch();
    }
    Fixture x(language);
    x.f->CalcPixelSizeFromInch();
    x.f->SetCamera();
    Type(x.f, CLfPtrans::BoxFocal, L"8");
    x.f->SetCamera();
    // A focal length in pixels past the largest double: the model cannot be made, nothing
    // commits.
    const std::wstring tiny = L"0." + std::wstring(299, L'0') + L"1";
    Load(x.f, {{L"f", L"9999999999999999999"}, {L"size_pixel_us", tiny.c_str()}});
    EXPECT_EQ(1u, x.f->IsDirty());
    x.f->SetCamera();
    EXPECT_EQ(0u, x.f->GetState().committed);
    std::vector<std::wstring> want =
        ja ? std::vector<std::wstring>{L"\u753B\u50CF\u304C\u3042\u308A\u307E\u305B\u3093",
                                       L"\u753B\u50CF\u304C\u3042\u308A\u307E\u305B\u3093",
                                       L"inch\u3092\u5165\u529B\u3057\u3066\u304F\u3060\u3055\u3044",
                                       L"\u7126\u70B9\u8DDD\u96E2\u3092\u5165\u529B\u3057\u3066"
                                       L"\u304F\u3060\u3055\u3044",
                                       L"\u64AE\u50CF\u7D20\u5B50\u306E\u753B\u7D20\u30B5\u30A4"
                                       L"\u30BA\u3092\u5165\u529B\u3057\u3066\u304F\u3060\u3055"
                                       L"\u3044",
                                       L"\u30AB\u30E1\u30E9\u30D1\u30E9\u30E1\u30FC\u30BF\u30FC"
                                       L"\u3092\u8A08\u7B97\u3067\u304D\u307E\u305B\u3093\u3067"
                                       L"\u3057\u305F"}
           : std::vector<std::wstring>{L"no image",
                                       L"no image",
                                       L"enter inch",
                                       L"enter focal length",
                                       L"enter the pixel size of the imaging device",
                                       L"can't calculate"};
    ASSERT_EQ(want.size(), dialogs.m_shown.size());
    for (size_t i = 0; i < want.size(); ++i) {
      EXPECT_EQ(want[i], dialogs.m_shown[i].text) << i;
      EXPECT_EQ(ja ? std::wstring(L"\u30A8\u30E9\u30FC") : std::wstring(L"error"),
                dialogs.m_shown[i].caption);
      EXPECT_EQ(1, dialogs.m_shown[i].kind);
    }
  }
}

TEST(Projective, PacksCommitWhenTheSourceIsKnown) {
  {
    Fixture x;
    Load(x.f, {{L"f", L"8"}, {L"size_pixel_us", L"5"}, {L"pan", L"-10"}, {L"tilt", L"12.5"},
               {L"zoom", L"0.8"}, {L"size_inch", L"x"}});
    const CLfPtrans::State s = x.f->GetState();
    EXPECT_EQ(1u, s.committed);
    EXPECT_EQ(0u, x.f->IsDirty());
    EXPECT_EQ(-10.0, s.angles[0]);
    EXPECT_EQ(12.5, s.angles[1]);
    EXPECT_STREQ(L"0.8", x.f->m_edits[CLfPtrans::BoxZoom].GetText());
    EXPECT_STREQ(L"0", x.f->m_edits[CLfPtrans::BoxInch].GetText()) << "a stray character reads 0";
    ASSERT_EQ(1, x.host.Reprocess(0));
    EXPECT_TRUE(x.MatchesEngine(-10, 12.5, 0.8));
    CCfgPack pack;
    x.f->SaveParams(&pack);
    EXPECT_STREQ(L"-10", pack.FindItem(L"pan")->value);
    EXPECT_STREQ(L"12.5", pack.FindItem(L"tilt")->value);
  }
  {
    // Values from a pack are not range-checked: pan 95 leaves every frame unchanged.
    Fixture x;
    Load(x.f, {{L"f", L"8"}, {L"size_pixel_us", L"5"}, {L"pan", L"95"}});
    EXPECT_EQ(1u, x.f->GetState().committed);
    ASSERT_EQ(1, x.host.Reprocess(0));
    EXPECT_TRUE(SamePixels(x.src, x.host.m_display));
  }
  {
    CLfPtrans f;  // no source: nothing committed, "set" waits
    Load(&f, {{L"f", L"8"}, {L"size_pixel_us", L"5"}});
    EXPECT_EQ(0u, f.GetState().committed);
    EXPECT_EQ(1u, f.IsDirty());
    EXPECT_EQ(1, f.m_setButton.m_enabled);
  }
}

TEST(Projective, NewSourceSizeRemakesTheModel) {
  Fixture x;
  Load(x.f, {{L"f", L"8"}, {L"size_pixel_us", L"5"}, {L"pan", L"10"}});
  CImgBuff other;
  apptest::MakePicture(other, 320, 200, ImgFormatGray8, 3);
  x.host.SetStill(other);
  ASSERT_EQ(1, x.host.Reprocess(0));
  const CLfPtrans::State s = x.f->GetState();
  EXPECT_EQ(320u, s.cameraWidth);
  EXPECT_EQ(160.0, s.camera.cx);
  CImgBuff want;
  want.CopyFrom(other);
  const double angles[3] = {10, 0, 0};
  ASSERT_EQ(1, TiltCorrect(&want, &s.camera, angles, 1.0, 1));
  EXPECT_TRUE(SamePixels(want, x.host.m_display));
}

}  // namespace

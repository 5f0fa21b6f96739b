// anti_shake_test.cpp - the anti-shake and composite tool on the test host: box size and fill,
// clicked boxes, the enabled controls, settings, the moving reference, and the runs over
// videos of a textured scene shaken by known whole-pixel offsets, written and read back.
#include "filters/binary_geometry_fourier/anti_shake.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "app/cfgfile.h"
#include "core/parallel.h"
#include "media/imgio/imgio.h"
#include "tests/app/testhost.h"
#include "tests/temp_folder.h"

namespace {

using qvtest::TempFolder;
using qvtest::Utf8Wide;

// A texture of Gaussian blobs (sigma 2 px) that the block matcher can lock on to.
void BlobTexture(CImgBuff& img, int32_t w, int32_t h, uint32_t seed) {
  std::vector<double> acc(size_t(w) * size_t(h), 40.0);
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> ux(0, w), uy(0, h), ua(-90, 140);
  const int blobs = w * h / 40;
  for (int n = 0; n < blobs; ++n) {
    const double cx = ux(rng), cy = uy(rng), a = ua(rng);
    for (int y = std::max(0, int(cy) - 7); y <= std::min(h - 1, int(cy) + 7); ++y)
      for (int x = std::max(0, int(cx) - 7); x <= std::min(w - 1, int(cx) + 7); ++x) {
        const double d2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
        acc[size_t(y) * size_t(w) + size_t(x)] += a * std::exp(-d2 / 8.0);
      }
  }
  ASSERT_EQ(1, img.Allocate(w, h, ImgFormatGray8));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      img.SetGray8(x, y, uint8_t(std::clamp(acc[size_t(y) * size_t(w) + size_t(x)], 0.0, 255.0)));
}

void Uniform(CImgBuff& img, int32_t w, int32_t h, uint8_t v) {
  ASSERT_EQ(1, img.Allocate(w, h, ImgFormatGray8));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) img.SetGray8(x, y, v);
}

// Equal pixels inside the margin.
bool SameInside(const CImgBuff& a, const CImgBuff& b, int32_t margin) {
  if (a.Width() != b.Width() || a.Height() != b.Height() || a.Format() != b.Format()) return false;
  for (int y = margin; y < a.Height() - margin; ++y)
    for (int x = margin; x < a.Width() - margin; ++x) {
      double p = 0, q = 0;
      a.record->GetGrayF(x, y, &p);
      b.record->GetGrayF(x, y, &q);
      if (p != q) return false;
    }
  return true;
}

struct Shake {
  int32_t dx, dy;
};

// A video of w x h windows of one texture, window i moved by shakes[i] from the centre: the
// content of scene i sits shakes[i] pixels up and left of scene 0's.
struct Fixture {
  CTestHost host;
  CLfAntiShake* f = new CLfAntiShake;
  CScriptedDialogs dialogs;
  std::vector<CImgBuff> scenes;
  explicit Fixture(const wchar_t* language = L"en") {
    host.SetLanguage(language);
    EXPECT_EQ(1, host.AddFilter(f, nullptr));
  }
  void Video(int32_t w, int32_t h, const std::vector<Shake>& shakes) {
    CImgBuff texture;
    BlobTexture(texture, w + 40, h + 40, 7);
    scenes = std::vector<CImgBuff>(shakes.size());
    std::vector<const CImgBuff*> list;
    for (size_t i = 0; i < shakes.size(); ++i) {
      EXPECT_EQ(1, texture.Crop(scenes[i], 20 + shakes[i].dx, 20 + shakes[i].dy,
                                19 + shakes[i].dx + w, 19 + shakes[i].dy + h));
      list.push_back(&scenes[i]);
    }
    EXPECT_EQ(1, host.SetVideo(list, 33333));
  }
  void Frames(const std::vector<const CImgBuff*>& list) {
    EXPECT_EQ(1, host.SetVideo(list, 33333));
  }
  std::wstring LastMessage() const {
    return dialogs.m_shown.empty() ? L"" : dialogs.m_shown.back().text;
  }
};

const std::vector<Shake> kShakes = {{0, 0}, {3, -2}, {-5, 4}, {6, 6}, {-6, -1}, {1, -6}, {2, 5}};

// ---- box size, clicks, controls, settings ------------------------------------------------

TEST(AntiShake, BoxSizeFollowsThePictureAndClicksClipAtTheEdge) {
  struct Case {
    int32_t w, h, size;
  } cases[] = {{640, 480, 30}, {100, 100, 8}, {40, 300, 8}};
  for (const Case& c : cases) {
    Fixture x;
    CImgBuff still;
    Uniform(still, c.w, c.h, 5);
    x.host.SetStill(still);
    ASSERT_EQ(1, x.host.Reprocess(0));
    EXPECT_EQ(c.size, x.f->BoxSize()) << c.w << "x" << c.h;
  }
  // Clicks on a 100 x 100 picture, box 8 (h = 4).
  Fixture x;
  CImgBuff still;
  BlobTexture(still, 100, 100, 3);
  x.host.SetStill(still);
  ASSERT_EQ(1, x.host.Reprocess(0));
  x.f->OnLButtonDown(50, 50, 0);  // "specify a reference point" unticked: nothing
  EXPECT_EQ(0, x.f->GetBox(0, nullptr, nullptr, nullptr, nullptr));
  x.f->m_specify.m_checked = 1;
  x.f->OnLButtonDown(2, 50, 0);  // x0 = 0, width 8 - 4 + 2 = 6: ignored
  EXPECT_EQ(0, x.f->GetBox(0, nullptr, nullptr, nullptr, nullptr));
  x.f->OnLButtonDown(30, 40, 0);
  x.f->OnLButtonDown(98, 97, 0);  // clipped to 6 x 7... below 8: ignored
  x.f->OnLButtonDown(95, 95, 0);  // x1 = min(98, 99): 91..98, 8 wide
  x.f->OnLButtonDown(60, 60, 0);  // both set: nothing
  double bx = 0, by = 0;
  int32_t bw = 0, bh = 0;
  ASSERT_EQ(1, x.f->GetBox(0, &bx, &by, &bw, &bh));
  EXPECT_EQ(26, bx);
  EXPECT_EQ(36, by);
  EXPECT_EQ(8, bw);
  EXPECT_EQ(8, bh);
  ASSERT_EQ(1, x.f->GetBox(1, &bx, &by, &bw, &bh));
  EXPECT_EQ(91, bx);
  EXPECT_EQ(8, bw);
  x.f->OnRButtonDown(0, 0, 0);  // box 1 goes first
  EXPECT_EQ(0, x.f->GetBox(1, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(1, x.f->GetBox(0, nullptr, nullptr, nullptr, nullptr));
  x.f->OnLButtonDown(60, 60, 0);
  ASSERT_EQ(1, x.f->GetBox(1, &bx, &by, nullptr, nullptr));
  EXPECT_EQ(56, bx);
  x.f->OnSpecifyReference();  // ticking or unticking empties both
  EXPECT_EQ(0, x.f->GetBox(0, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(0, x.f->GetBox(1, nullptr, nullptr, nullptr, nullptr));
}

// What the alignment uncovers takes the chain's background (white above 0, else black), as
// the tool last saw it on a frame shown while idle.
TEST(AntiShake, UncoveredPixelsTakeTheChainsBackground) {
  for (uint32_t background : {0u, 1u}) {
    TempFolder folder("antishake");
    Fixture x;
    x.host.m_background = background;
    x.Video(240, 180, kShakes);
    ASSERT_EQ(1, x.host.Reprocess(0));
    x.dialogs.m_paths.push_back(folder.WideFile("out0000.png"));
    x.f->Execute(1);
    ASSERT_EQ(L"saved", x.LastMessage());
    CImgBuff got;
    ASSERT_EQ(1, LoadImageFile(&got, folder.WideFile("out0003.png").c_str(), nullptr, nullptr));
    uint8_t corner = 1;
    got.GetGray8(0, 0, &corner);  // scene 3 moved back by (6, 6): its top-left is uncovered
    EXPECT_EQ(background ? 255 : 0, corner);
  }
}

TEST(AntiShake, ControlsFollowBusyModeTypeAndZoom) {
  struct Case {
    int32_t mode, moving, zoom;
    int32_t fixedMoving, zoomBox, antiNoise, specify, open;
  } cases[] = {
      {0, 0, 0, 1, 0, 0, 1, 0}, {0, 1, 0, 1, 0, 0, 0, 0}, {1, 0, 0, 0, 1, 0, 1, 1},
      {1, 1, 1, 0, 1, 1, 1, 1}, {0, 0, 1, 1, 0, 0, 1, 0},
  };
  for (const Case& c : cases) {
    CLfAntiShake f;
    CFgUIChkButton::SetGroupSelection(&f.m_mode[0], c.mode, 0);
    CFgUIChkButton::SetGroupSelection(&f.m_typeRadio[0], c.moving, 0);
    f.m_zoom.m_checked = c.zoom;
    f.UpdateControls();
    const std::string tag =
        std::to_string(c.mode) + std::to_string(c.moving) + std::to_string(c.zoom);
    EXPECT_EQ(1, f.m_mode[0].m_enabled) << tag;
    EXPECT_EQ(1, f.m_mode[1].m_enabled) << tag;
    EXPECT_EQ(c.fixedMoving, f.m_typeRadio[0].m_enabled) << tag;
    EXPECT_EQ(c.fixedMoving, f.m_typeRadio[1].m_enabled) << tag;
    EXPECT_EQ(c.zoomBox, f.m_zoom.m_enabled) << tag;
    EXPECT_EQ(c.antiNoise, f.m_antiNoise.m_enabled) << tag;
    EXPECT_EQ(c.specify, f.m_specify.m_enabled) << tag;
    EXPECT_EQ(c.open, f.m_open.m_enabled) << tag;
    EXPECT_EQ(1, f.m_save.m_enabled) << tag;
  }
}

TEST(AntiShake, SettingsKeys) {
  CLfAntiShake f;
  CCfgPack saved;
  f.SaveParams(&saved);
  EXPECT_STREQ(L"0", saved.FindItem(L"sel")->value);
  EXPECT_STREQ(L"0", saved.FindItem(L"type")->value);
  EXPECT_STREQ(L"0", saved.FindItem(L"zoom")->value);
  EXPECT_STREQ(L"1", saved.FindItem(L"anti_noise")->value);
  struct Case {
    std::vector<std::pair<const wchar_t*, const wchar_t*>> items;
    int32_t mode, moving, zoom, antiNoise;
  } cases[] = {
      {{{L"sel", L"3"}}, 0, 0, 0, 1},
      {{{L"type", L"1"}}, 0, 1, 0, 1},
      {{{L"sel", L"1"}, {L"zoom", L"x"}, {L"anti_noise", L"0"}}, 1, 0, 1, 0},
      {{{L"sel", L"-1"}, {L"type", L"2"}}, 0, 0, 0, 1},
  };
  for (const Case& c : cases) {
    CLfAntiShake g;
    CCfgPack pack;
    for (auto& kv : c.items) pack.AddItem(kv.first, kv.second);
    g.LoadParams(&pack);
    EXPECT_EQ(c.mode, g.Mode());
    EXPECT_EQ(c.moving, g.Moving());
    EXPECT_EQ(c.zoom, g.m_zoom.m_checked);
    EXPECT_EQ(c.antiNoise, g.m_antiNoise.m_checked);
  }
}

TEST(AntiShake, MovingReferenceIsTheCentreThirdMovedBackByAQuarterOfTheShake) {
  CImgBuff pic;
  BlobTexture(pic, 300, 240, 5);
  CLfAntiShake f;
  struct Case {
    double dx, dy;
    int32_t x0, y0;
  } cases[] = {{20, 0, 95, 80}, {0, 0, 100, 80}, {-20, 40, 105, 70}, {20.9, 0, 94, 80}};
  for (const Case& c : cases) {
    f.SetMovingReference(&pic, 300, 240, c.dx, c.dy);
    double bx = 0, by = 0;
    int32_t bw = 0, bh = 0;
    ASSERT_EQ(1, f.GetBox(0, &bx, &by, &bw, &bh));
    EXPECT_EQ(100, bx);
    EXPECT_EQ(80, by);
    EXPECT_EQ(100, bw);
    EXPECT_EQ(80, bh);
    EXPECT_EQ(0, f.GetBox(1, nullptr, nullptr, nullptr, nullptr));
  }
  // The template itself: the crop 95..199 x 80..159.
  f.SetMovingReference(&pic, 300, 240, 20, 0);
  CImgBuff want;
  ASSERT_EQ(1, pic.Crop(want, 95, 80, 199, 159));
  CImgBuff got;
  ASSERT_EQ(1, f.GetBoxTemplate(0, &got));
  EXPECT_TRUE(SameInside(got, want, 0));
  EXPECT_EQ(105, got.Width());
  EXPECT_EQ(80, got.Height());
  CImgBuff grey;
  BlobTexture(grey, 30, 30, 1);
  f.SetMovingReference(&grey, 2, 2, 0, 0);  // a third of 2 is 0: box emptied, no crash
  EXPECT_EQ(0, f.GetBox(0, nullptr, nullptr, nullptr, nullptr));
}

// ---- runs ----------------------------------------------------------------------------------

TEST(AntiShake, AStillPictureIsNoVideo) {
  for (const wchar_t* lang : {L"en", L"jp"}) {
    Fixture x(lang);
    CImgBuff still;
    Uniform(still, 64, 64, 5);
    x.host.SetStill(still);
    x.f->Execute(1);
    EXPECT_EQ(std::wstring(IsJapanese(lang) ? L"動画がありません" : L"there is no video"),
              x.LastMessage());
    EXPECT_EQ(0u, x.host.m_seekCount);
  }
}

std::vector<CImgBuff> ReadNumbered(const TempFolder& folder, int count) {
  std::vector<CImgBuff> out(size_t(count) + 1);
  for (int i = 0; i <= count; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "out%04d.png", i);
    if (!LoadImageFile(&out[size_t(i)], folder.WideFile(name).c_str(), nullptr, nullptr))
      out[size_t(i)].Free();
  }
  return out;
}

TEST(AntiShake, FixedAndMovingReturnWholePixelShakesExactly) {
  for (int32_t moving = 0; moving <= 1; ++moving) {
    TempFolder folder("antishake");
    ASSERT_TRUE(folder.ok());
    Fixture x;
    x.Video(240, 180, kShakes);
    CFgUIChkButton::SetGroupSelection(&x.f->m_typeRadio[0], moving, 0);
    x.dialogs.m_paths.push_back(folder.WideFile("out0000.png"));
    x.f->Execute(1);
    EXPECT_EQ(L"saved", x.LastMessage()) << moving;
    const std::vector<CImgBuff> got = ReadNumbered(folder, int(kShakes.size()));
    for (size_t i = 0; i < kShakes.size(); ++i) {
      ASSERT_EQ(ImgFormatGray8, got[i].Format()) << moving << " scene " << i;
      EXPECT_TRUE(SameInside(got[i], x.scenes[0], 8)) << moving << " scene " << i;
    }
    EXPECT_EQ(0, got[kShakes.size()].Format());  // one file per scene, no more
    // After the run the boxes are empty and the button reads SAVE again.
    EXPECT_EQ(0, x.f->GetBox(0, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(std::wstring(L"SAVE"), x.f->m_save.m_text);
    EXPECT_EQ(0, x.f->Busy());
  }
}

TEST(AntiShake, ClickedBoxesAreUsedAndMissingOnesRefused) {
  TempFolder folder("antishake");
  Fixture x;
  x.Video(240, 180, kShakes);
  x.f->m_specify.m_checked = 1;
  x.f->Execute(1);  // no boxes clicked
  EXPECT_EQ(L"specify two reference points", x.LastMessage());
  ASSERT_EQ(1, x.host.Reprocess(0));
  x.f->OnLButtonDown(60, 50, 0);
  x.f->OnLButtonDown(180, 130, 0);
  ASSERT_EQ(1, x.f->GetBox(1, nullptr, nullptr, nullptr, nullptr));
  x.dialogs.m_paths.push_back(folder.WideFile("out0000.png"));
  x.f->Execute(1);
  EXPECT_EQ(L"saved", x.LastMessage());
  const std::vector<CImgBuff> got = ReadNumbered(folder, int(kShakes.size()));
  for (size_t i = 0; i < kShakes.size(); ++i) EXPECT_TRUE(SameInside(got[i], x.scenes[0], 8)) << i;
}

TEST(AntiShake, DeclinedQuestionsCancelAndLeaveFilesAlone) {
  TempFolder folder("antishake");
  Fixture x;
  x.Video(240, 180, kShakes);
  // An existing numbered name: the question, declined.
  const std::string existing = folder.File("out0003.png");
  {
    FILE* fp = std::fopen(existing.c_str(), "wb");
    ASSERT_NE(nullptr, fp);
    std::fputs("keep", fp);
    std::fclose(fp);
  }
  x.dialogs.m_paths.push_back(folder.WideFile("out0000.png"));
  x.dialogs.m_answers.push_back(0);
  x.f->Execute(1);
  EXPECT_EQ(L"canceled", x.LastMessage());
  FILE* fp = std::fopen(existing.c_str(), "rb");
  ASSERT_NE(nullptr, fp);
  char buf[8] = {};
  EXPECT_EQ(4u, std::fread(buf, 1, sizeof buf, fp));
  std::fclose(fp);
  EXPECT_STREQ("keep", buf);
  EXPECT_EQ(0, ReadNumbered(folder, 1)[0].Format());
  // Composite: the chooser cancelled, then an overwrite declined.
  CFgUIChkButton::SetGroupSelection(&x.f->m_mode[0], 1, 0);
  x.f->Execute(1);
  EXPECT_EQ(L"canceled", x.LastMessage());
  x.dialogs.m_paths.push_back(Utf8Wide(existing));
  x.dialogs.m_answers.push_back(0);
  x.f->Execute(1);
  EXPECT_EQ(L"canceled", x.LastMessage());
  EXPECT_EQ(0, x.f->Busy());
}

TEST(AntiShake, CompositeOfShakenScenesIsTheScene) {
  TempFolder folder("antishake");
  Fixture x;
  x.Video(240, 180, kShakes);
  CFgUIChkButton::SetGroupSelection(&x.f->m_mode[0], 1, 0);
  x.f->Execute(0);
  EXPECT_EQ(L"finishd", x.LastMessage());
  EXPECT_EQ(1u, x.host.m_newImageCount);
  EXPECT_TRUE(SameInside(x.host.m_source, x.scenes[0], 8));
  // Saved instead of opened (the opened picture replaced the video: a new host).
  Fixture y;
  y.Video(240, 180, kShakes);
  CFgUIChkButton::SetGroupSelection(&y.f->m_mode[0], 1, 0);
  y.dialogs.m_paths.push_back(folder.WideFile("mean.png"));
  y.f->Execute(1);
  EXPECT_EQ(L"saved", y.LastMessage());
  CImgBuff saved;
  ASSERT_EQ(1, LoadImageFile(&saved, folder.WideFile("mean.png").c_str(), nullptr, nullptr));
  EXPECT_TRUE(SameInside(saved, x.scenes[0], 8));
}

TEST(CompositeRows, MeansAreTruncatedAtIntegerDepthsAndExactForXyz) {
  // Two scenes per representation: low and low + 1 (or the XYZ pair), rows in parallel.
  struct Case {
    int32_t format;
    uint32_t low;
  } cases[] = {{ImgFormatGray8, 10}, {ImgFormatGray16, 1000}, {ImgFormatGray32, 100000},
               {ImgFormatRgb24, 10}, {ImgFormatRgb48, 1000},  {ImgFormatRgb96, 100000},
               {ImgFormatXyz, 0}};
  const int32_t w = 70, h = 80;
  for (const Case& c : cases) {
    CImgBuff a, b, out;
    ASSERT_EQ(1, a.Allocate(w, h, c.format));
    ASSERT_EQ(1, b.Allocate(w, h, c.format));
    ASSERT_EQ(1, out.Allocate(w, h, c.format));
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const uint32_t lo = c.low + uint32_t(x % 3), hi = lo + 1;
        switch (c.format) {
          case ImgFormatGray8:
            a.SetGray8(x, y, uint8_t(lo)), b.SetGray8(x, y, uint8_t(hi));
            break;
          case ImgFormatGray16:
            a.SetGray16(x, y, uint16_t(lo)), b.SetGray16(x, y, uint16_t(hi));
            break;
          case ImgFormatGray32:
            a.SetGray32(x, y, lo), b.SetGray32(x, y, hi);
            break;
          case ImgFormatRgb24:
            a.SetRGB8(x, y, uint8_t(lo), uint8_t(lo + 5), 7),
                b.SetRGB8(x, y, uint8_t(hi), uint8_t(hi + 5), 7);
            break;
          case ImgFormatRgb48:
            a.SetRGB16(x, y, uint16_t(lo), uint16_t(lo + 5), 7),
                b.SetRGB16(x, y, uint16_t(hi), uint16_t(hi + 5), 7);
            break;
          case ImgFormatRgb96:
            a.SetRGB32(x, y, lo, lo + 5, 7), b.SetRGB32(x, y, hi, hi + 5, 7);
            break;
          default:
            a.record->SetXYZ(x, y, 0.1, 0.2 * x, 0.3);
            b.record->SetXYZ(x, y, 0.2, 0.1, 0.05 * y);
        }
      }
    CompositeSums s;
    s.width = w, s.height = h;
    std::vector<double> p0(size_t(w * h)), p1(size_t(w * h)), p2(size_t(w * h));
    s.sum[0] = p0.data(), s.sum[1] = p1.data(), s.sum[2] = p2.data();
    for (CImgBuff* pic : {&a, &b}) {
      s.picture = pic;
      ParallelFor(&CompositeAccumulateRows, &s, uint64_t(h));
      ++s.added;
    }
    s.picture = &out;
    ParallelFor(&CompositeAverageRows, &s, uint64_t(h));
    int bad = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const uint32_t lo = c.low + uint32_t(x % 3);
        if (c.format == ImgFormatXyz) {
          double X, Y, Z;
          out.record->GetXYZ(x, y, &X, &Y, &Z);
          bad += X != (0.1 + 0.2) / 2 || Y != (0.2 * x + 0.1) / 2 || Z != (0.3 + 0.05 * y) / 2;
        } else if (c.format <= ImgFormatGray32) {
          double v = 0;
          out.record->GetGrayF(x, y, &v);
          uint32_t g = 0;
          if (c.format == ImgFormatGray8) {
            uint8_t t;
            out.GetGray8(x, y, &t);
            g = t;
          }
          if (c.format == ImgFormatGray16) {
            uint16_t t;
            out.GetGray16(x, y, &t);
            g = t;
          }
          if (c.format == ImgFormatGray32) out.GetGray32(x, y, &g);
          bad += g != lo;
        } else {
          uint32_t r = 0, gg = 0, bl = 0;
          if (c.format == ImgFormatRgb24) {
            uint8_t p, q, t;
            out.GetRGB8(x, y, &p, &q, &t);
            r = p, gg = q, bl = t;
          }
          if (c.format == ImgFormatRgb48) {
            uint16_t p, q, t;
            out.GetRGB16(x, y, &p, &q, &t);
            r = p, gg = q, bl = t;
          }
          if (c.format == ImgFormatRgb96) out.GetRGB32(x, y, &r, &gg, &bl);
          bad += r != lo || gg != lo + 5 || bl != 7;
        }
      }
    EXPECT_EQ(0, bad) << "format " << c.format;
  }
}

TEST(AntiShake, UniformScenesTenAndElevenAverageToTen) {
  Fixture x;
  CImgBuff a, b;
  Uniform(a, 160, 120, 10);
  Uniform(b, 160, 120, 11);
  x.Frames({&a, &b});
  CFgUIChkButton::SetGroupSelection(&x.f->m_mode[0], 1, 0);
  x.f->Execute(0);
  EXPECT_EQ(L"finishd", x.LastMessage());
  CImgBuff want;
  Uniform(want, 160, 120, 10);
  EXPECT_TRUE(SameInside(x.host.m_source, want, 20));
}

TEST(AntiShake, ZoomCompositeDoublesAndRefusesSmallSources) {
  Fixture x;
  CImgBuff texture;
  BlobTexture(texture, 320, 240, 4);
  x.Frames({&texture, &texture, &texture});
  CFgUIChkButton::SetGroupSelection(&x.f->m_mode[0], 1, 0);
  x.f->m_zoom.m_checked = 1;
  x.f->Execute(0);
  EXPECT_EQ(L"finishd", x.LastMessage());
  EXPECT_EQ(640, x.host.m_source.Width());
  EXPECT_EQ(480, x.host.m_source.Height());

  struct Case {
    int32_t mode;
    const wchar_t* lang;
    const wchar_t* want;
  } cases[] = {{0, L"en", L"failed"},
               {1, L"en", L"saving failed"},
               {0, L"jp", L"失敗しました"},
               {1, L"jp", L"セーブできませんでした"}};
  for (const Case& c : cases) {
    TempFolder folder("antishake");
    Fixture y(c.lang);
    CImgBuff small;
    BlobTexture(small, 90, 120, 2);
    y.Frames({&small, &small});
    CFgUIChkButton::SetGroupSelection(&y.f->m_mode[0], 1, 0);
    y.f->m_zoom.m_checked = 1;
    y.dialogs.m_paths.push_back(folder.WideFile("z.png"));
    y.f->Execute(c.mode);
    EXPECT_EQ(std::wstring(c.want), y.LastMessage()) << c.mode;
    EXPECT_FALSE(MediaFileExists(folder.WideFile("z.png").c_str()));
  }
}

TEST(AntiShake, ResultMessagesInBothLanguages) {
  struct Case {
    const wchar_t* lang;
    int32_t mode;
    const wchar_t* want;
    const wchar_t* caption;
  } cases[] = {{L"en", 1, L"saved", L"confirmation"},
               {L"jp", 1, L"セーブしました", L"確認"},
               {L"en", 0, L"finishd", L"confirmation"},
               {L"jp", 0, L"終了しました", L"確認"}};
  for (const Case& c : cases) {
    TempFolder folder("antishake");
    Fixture x(c.lang);
    x.Video(160, 120, {{0, 0}, {2, 1}});
    CFgUIChkButton::SetGroupSelection(&x.f->m_mode[0], 1, 0);
    x.dialogs.m_paths.push_back(folder.WideFile("m.png"));
    x.f->Execute(c.mode);
    ASSERT_FALSE(x.dialogs.m_shown.empty());
    EXPECT_EQ(std::wstring(c.want), x.dialogs.m_shown.back().text);
    EXPECT_EQ(std::wstring(c.caption), x.dialogs.m_shown.back().caption);
  }
}

TEST(AntiShake, ScenesOfAnotherSizeFailTheRun) {
  TempFolder folder("antishake");
  Fixture x;
  CImgBuff a, b;
  BlobTexture(a, 160, 120, 1);
  BlobTexture(b, 150, 120, 1);
  // The host hands on what it was given; a chain filter could change sizes between scenes.
  x.Frames({&a, &a, &b});
  CFgUIChkButton::SetGroupSelection(&x.f->m_mode[0], 1, 0);
  x.dialogs.m_paths.push_back(folder.WideFile("m.png"));
  x.f->Execute(1);
  EXPECT_EQ(L"saving failed", x.LastMessage());
}

}  // namespace

namespace {

// ---- residual against known sub-pixel offsets and turns ---------------------------------

struct Blob {
  double x, y, a;
};

// Renders the blobs turned by angle (radians) about the centre and moved by (tx, ty), each
// pixel the exact sum of Gaussians: no resampling stands between scenes.
void RenderBlobs(CImgBuff& img, int32_t w, int32_t h, const std::vector<Blob>& blobs, double angle,
                 double tx, double ty) {
  std::vector<double> acc(size_t(w) * size_t(h), 60.0);
  const double cx = w / 2.0, cy = h / 2.0, c = std::cos(angle), s = std::sin(angle);
  for (const Blob& b : blobs) {
    const double px = cx + c * (b.x - cx) - s * (b.y - cy) + tx;
    const double py = cy + s * (b.x - cx) + c * (b.y - cy) + ty;
    for (int y = std::max(0, int(py) - 7); y <= std::min(h - 1, int(py) + 7); ++y)
      for (int x = std::max(0, int(px) - 7); x <= std::min(w - 1, int(px) + 7); ++x) {
        const double d2 = (x - px) * (x - px) + (y - py) * (y - py);
        acc[size_t(y) * size_t(w) + size_t(x)] += b.a * std::exp(-d2 / 8.0);
      }
  }
  ASSERT_EQ(1, img.Allocate(w, h, ImgFormatGray8));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      img.SetGray8(
          x, y,
          uint8_t(std::lround(std::clamp(acc[size_t(y) * size_t(w) + size_t(x)], 0.0, 255.0))));
}

double Gray(const CImgBuff& img, int x, int y) {
  double v = 0;
  img.record->GetGrayF(x, y, &v);
  return v;
}

// The displacement of got against ref over a window, by least squares on ref's gradient:
// got(p) ~ ref(p) - g . d.
void WindowShift(const CImgBuff& ref, const CImgBuff& got, int x0, int y0, int size, double* dx,
                 double* dy) {
  double sxx = 0, sxy = 0, syy = 0, bx = 0, by = 0;
  for (int y = y0; y < y0 + size; ++y)
    for (int x = x0; x < x0 + size; ++x) {
      const double gx = (Gray(ref, x + 1, y) - Gray(ref, x - 1, y)) / 2;
      const double gy = (Gray(ref, x, y + 1) - Gray(ref, x, y - 1)) / 2;
      const double diff = Gray(ref, x, y) - Gray(got, x, y);
      sxx += gx * gx, sxy += gx * gy, syy += gy * gy;
      bx += gx * diff, by += gy * diff;
    }
  const double det = sxx * syy - sxy * sxy;
  *dx = det != 0 ? (syy * bx - sxy * by) / det : 0;
  *dy = det != 0 ? (sxx * by - sxy * bx) / det : 0;
}

TEST(AntiShake, ResidualAgainstKnownSubpixelOffsetsAndTurns) {
  const int32_t w = 640, h = 480, scenes = 30;
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> ux(-20, w + 20), uy(-20, h + 20), ua(-80, 120), off(-6, 6),
      turn(-1, 1);
  std::vector<Blob> blobs(4000);
  for (Blob& b : blobs) b = {ux(rng), uy(rng), ua(rng)};
  for (int32_t moving = 0; moving <= 1; ++moving) {
    std::vector<CImgBuff> frames(scenes);
    std::vector<const CImgBuff*> list;
    for (int i = 0; i < scenes; ++i) {
      const double a = (i && !moving) ? turn(rng) * M_PI / 180 : 0;
      const double tx = i ? off(rng) : 0, ty = i ? off(rng) : 0;
      RenderBlobs(frames[size_t(i)], w, h, blobs, a, tx, ty);
      list.push_back(&frames[size_t(i)]);
    }
    TempFolder folder("antishake");
    Fixture x;
    x.Frames(list);
    CFgUIChkButton::SetGroupSelection(&x.f->m_typeRadio[0], moving, 0);
    x.dialogs.m_paths.push_back(folder.WideFile("out0000.png"));
    x.f->Execute(1);
    ASSERT_EQ(L"saved", x.LastMessage());
    const std::vector<CImgBuff> got = ReadNumbered(folder, scenes);
    double sum2 = 0, worst = 0;
    int n = 0;
    const int size = 48;
    for (int i = 1; i < scenes; ++i) {
      ASSERT_EQ(w, got[size_t(i)].Width()) << i;
      for (int wy = 0; wy < 3; ++wy)
        for (int wx = 0; wx < 3; ++wx) {
          const int x0 = int(w * (0.1 + 0.8 * (wx + 0.5) / 3)) - size / 2;
          const int y0 = int(h * (0.1 + 0.8 * (wy + 0.5) / 3)) - size / 2;
          double dx = 0, dy = 0;
          WindowShift(frames[0], got[size_t(i)], x0, y0, size, &dx, &dy);
          sum2 += dx * dx + dy * dy;
          worst = std::max(worst, std::hypot(dx, dy));
          ++n;
        }
    }
    const double rms = std::sqrt(sum2 / n);
    EXPECT_LT(rms, 0.2) << (moving ? "moving" : "fixed") << " worst " << worst;
    std::printf("%s: residual RMS %.3f px, worst window %.3f px\n", moving ? "moving" : "fixed",
                rms, worst);
  }
}

}  // namespace

namespace {

// ---- written files ------------------------------------------------------------------------

std::string Shell(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buf[256];
  while (std::fgets(buf, sizeof buf, p)) out += buf;
  pclose(p);
  return out;
}

// Frame rate and frames as ffprobe reads them (33333 us a frame is written as 30/1).
std::string Probe(const std::string& path) {
  std::string out = Shell(
      "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
      "stream=nb_read_frames,r_frame_rate -of csv=p=0 '" +
      path + "' 2>&1");
  while (!out.empty() && (out.back() == '\n' || out.back() == ',')) out.pop_back();
  return out;
}

TEST(AntiShake, VideoMultiPageAndCancelledFiles) {
  struct Case {
    const char* name;
    int cancelAt;  // loop scene at which CANCEL is pressed; -1 never
    const char* probe;
  } cases[] = {{"out.avi", -1, "30/1,7"},
               {"out.mp4", -1, "30/1,7"},
               {"cut.avi", 4, "30/1,4"},
               {"out.tif", -1, nullptr}};
  for (const Case& c : cases) {
    TempFolder folder("antishake");
    Fixture x;
    x.Video(240, 180, kShakes);
    std::atomic<int> processed{0};
    // Two fetches of scene 0 come before the loop (the boxes, then the writer's size).
    x.host.m_onProcessedHook = [&] {
      if (c.cancelAt >= 0 && ++processed == 3 + c.cancelAt) x.f->m_walk.Cancel();
    };
    x.dialogs.m_paths.push_back(folder.WideFile(c.name));
    x.f->Execute(1);
    EXPECT_EQ(c.cancelAt >= 0 ? L"canceled" : L"saved", x.LastMessage()) << c.name;
    x.host.m_onProcessedHook = nullptr;
    if (c.probe) {
      EXPECT_EQ(std::string(c.probe), Probe(folder.File(c.name))) << c.name;
    } else {
      const std::string info =
          Shell("tiffinfo '" + folder.File(c.name) + "' 2>/dev/null | grep -c 'Image Width'");
      EXPECT_EQ("7\n", info);
    }
  }
}

}  // namespace

namespace {

// While a run goes on only CANCEL is enabled and the window will not close; a composite
// cancelled before its first scene was added opens nothing.
TEST(AntiShake, BusyRunLeavesOnlyCancelAndAnEarlyCancelOpensNothing) {
  Fixture x;
  x.Video(160, 120, {{0, 0}, {1, 1}, {2, 2}});
  CFgUIChkButton::SetGroupSelection(&x.f->m_mode[0], 1, 0);
  std::atomic<int> seen{0}, othersEnabled{0}, closes{0};
  std::wstring label;
  x.host.m_onProcessedHook = [&] {
    if (seen++ != 1) return;  // the second fetch: inside the run
    CLfAntiShake* f = x.f;
    othersEnabled = f->m_mode[0].m_enabled + f->m_mode[1].m_enabled + f->m_zoom.m_enabled +
                    f->m_specify.m_enabled + f->m_open.m_enabled;
    closes = f->OnClose();
    label = f->m_save.m_text;
    f->Execute(0);  // a second press cancels
  };
  x.f->Execute(0);
  x.host.m_onProcessedHook = nullptr;
  EXPECT_EQ(0, othersEnabled.load());
  EXPECT_EQ(1, x.f->m_save.m_enabled);
  EXPECT_EQ(0, closes.load());
  EXPECT_EQ(L"CANCEL", label);
  EXPECT_EQ(L"canceled", x.LastMessage());
  EXPECT_EQ(0u, x.host.m_newImageCount);
  EXPECT_EQ(0, x.f->Busy());
  EXPECT_EQ(1, x.f->m_open.m_enabled);
}

}  // namespace

namespace {

// A clip cut by ffmpeg from one texture with a crop window moving by whole pixels comes back
// still.
TEST(AntiShake, FfmpegCroppedClipComesBackStill) {
  TempFolder folder("antishake");
  ASSERT_TRUE(folder.ok());
  CImgBuff texture;
  BlobTexture(texture, 280, 220, 21);
  ASSERT_EQ(1, SaveImageFile(&texture, folder.WideFile("tex.png").c_str(), nullptr, nullptr));
  const std::string cmd =
      "ffmpeg -v error -y -loop 1 -i '" + folder.File("tex.png") +
      "' -vf \"crop=240:180:x='20+3*mod(n\\,2)-2*eq(n\\,2)':y='20+4*eq(n\\,1)-5*eq(n\\,3)'\""
      " -frames:v 5 -pix_fmt gray '" +
      folder.File("in%02d.png") + "' 2>&1";
  ASSERT_EQ(0, std::system(cmd.c_str())) << cmd;
  std::vector<CImgBuff> frames(5);
  std::vector<const CImgBuff*> list;
  for (int i = 0; i < 5; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "in%02d.png", i + 1);
    ASSERT_EQ(1,
              LoadImageFile(&frames[size_t(i)], folder.WideFile(name).c_str(), nullptr, nullptr));
    list.push_back(&frames[size_t(i)]);
  }
  Fixture x;
  x.Frames(list);
  x.dialogs.m_paths.push_back(folder.WideFile("out0000.png"));
  x.f->Execute(1);
  ASSERT_EQ(L"saved", x.LastMessage());
  const std::vector<CImgBuff> got = ReadNumbered(folder, 5);
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(SameInside(got[size_t(i)], frames[0], 8)) << i;
  EXPECT_FALSE(SameInside(frames[1], frames[0], 8));  // the clip did shake
}

}  // namespace

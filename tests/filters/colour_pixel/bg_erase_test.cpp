// bg_erase_test.cpp - background removal on the test host: the controls' rules, the pack, the
// preview, loading (typed path, chooser, failures racing frames) and subtraction against a
// reference computed by numpy on files ImageMagick wrote.
#include "filters/colour_pixel/bg_erase.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "app/cfgfile.h"
#include "media/imgio/imgio.h"
#include "tests/app/testhost.h"
#include "tests/temp_folder.h"

namespace {

std::wstring Saved(CLfBgErase* f) {
  CCfgPack pack;
  f->SaveParams(&pack);
  std::wstring s;
  for (CCfgItem* it = pack.firstItem; it; it = it->next)
    if (std::wcscmp(it->key, L"if_enable") && std::wcscmp(it->key, L"if_visible"))
      s += std::wstring(it->key) + L" " + it->value + L"\n";
  return s;
}

bool RulesHold(CLfBgErase& f) {
  int32_t on = f.EraseType() == 1;
  return f.m_levelLabel.m_enabled == on && f.m_levelBar.m_enabled == on &&
         f.m_tileLabel.m_enabled == on && f.m_tileBar.m_enabled == on;
}

void Fill(CImgBuff& p, int32_t w, int32_t h, uint8_t r, uint8_t g, uint8_t b) {
  ASSERT_EQ(1, p.Allocate(w, h, ImgFormatRgb24));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) p.SetRGB8(x, y, r, g, b);
}

TEST(BgErase, DefaultsRulesAndPack) {
  CLfBgErase f;
  f.m_language = L"en";
  EXPECT_STREQ(L"Background removal", f.GetName(L"en"));
  EXPECT_STREQ(L"\x80CC\x666F\x9664\x53BB/\x30DE\x30B9\x30AF", f.GetName(L"jp"));
  EXPECT_STREQ(L"background_removal", f.GetKey());
  EXPECT_EQ(L"erase_type 0\nextract_level 2\ntile_size 0\ndefault_mask 0\n", Saved(&f));
  EXPECT_EQ(0, f.m_levelBar.m_enabled);
  EXPECT_TRUE(RulesHold(f));
  // Bars in subtraction request nothing; extraction enables them.
  CFgUIChkButton::SetGroupSelection(&f.m_subtractRadio, 1, 0);
  f.m_extractRadio.m_callback(&f.m_extractRadio, f.m_extractRadio.m_user);
  EXPECT_EQ(1, f.m_levelBar.m_enabled);
  EXPECT_TRUE(RulesHold(f));
  f.m_levelBar.MoveTo(12);
  f.m_tileBar.MoveTo(3);
  f.m_maskCheck.m_checked = 1;
  EXPECT_EQ(L"erase_type 1\nextract_level 12\ntile_size 3\ndefault_mask 1\n", Saved(&f));
  EXPECT_EQ(8, f.TileSize());
  f.EnableDialog(0);
  f.EnableDialog(1);
  EXPECT_TRUE(RulesHold(f));

  CCfgPack pack;
  f.SaveParams(&pack);
  CLfBgErase g;
  g.LoadParams(&pack);
  EXPECT_EQ(Saved(&f), Saved(&g));
  EXPECT_TRUE(RulesHold(g));
  int32_t w = -1, h = -1;
  g.BackgroundSize(&w, &h);
  EXPECT_EQ(0, w);

  const wchar_t* ignored[][2] = {{L"extract_level", L"25"}, {L"extract_level", L"1"},
                                 {L"tile_size", L"7"},      {L"tile_size", L"-1"},
                                 {L"erase_type", L"2"},     {L"default_mask", L"yes"}};
  for (auto& kv : ignored) {
    CCfgPack p;
    p.AddItem(kv[0], kv[1]);
    g.LoadParams(&p);
    EXPECT_EQ(Saved(&f), Saved(&g)) << kv[0] << " " << kv[1];
  }
  CCfgPack p;
  p.AddItem(L"erase_type", L"0x");
  p.AddItem(L"extract_level", L"20");
  g.LoadParams(&p);
  EXPECT_EQ(L"erase_type 0\nextract_level 20\ntile_size 3\ndefault_mask 1\n", Saved(&g));
  EXPECT_TRUE(RulesHold(g));
}

TEST(BgErase, PreviewShowsTheBackgroundQuarter) {
  qvtest::TempFolder dir("bgerase_preview");
  ASSERT_TRUE(dir.ok());
  CImgBuff bg;
  Fill(bg, 320, 240, 10, 120, 230);
  ASSERT_EQ(1, SaveImageFile(&bg, dir.WideFile("bg.png").c_str(), nullptr, nullptr));
  for (int mask = 0; mask < 2; ++mask) {
    CLfBgErase f;
    ASSERT_EQ(1, f.LoadBackground(dir.WideFile("bg.png").c_str()));
    f.m_previewCheck.m_checked = 1;
    f.m_maskCheck.m_checked = mask;
    CImgBuff frame;
    Fill(frame, 640, 480, 77, 77, 77);
    // A rectangle far larger than the frame costs only the frame.
    f.Process(&frame, 0, 0, 0, INT64_MAX / 4, INT64_MAX / 4, 0, 0);
    uint8_t want = mask ? 255 : 0;
    int32_t wrong = 0;
    for (int y = 0; y < 480; ++y)
      for (int x = 0; x < 640; ++x) {
        uint8_t r, g, b;
        frame.GetRGB8(x, y, &r, &g, &b);
        bool inside = x < 320 && y < 240;
        if (inside ? !(r == 10 && g == 120 && b == 230) : !(r == want && g == want && b == want))
          ++wrong;
      }
    EXPECT_EQ(0, wrong) << "mask " << mask;
  }
}

TEST(BgErase, TypedPathChooserAndFailedLoads) {
  qvtest::TempFolder dir("bgerase_load");
  ASSERT_TRUE(dir.ok());
  CImgBuff bg;
  Fill(bg, 16, 12, 1, 2, 3);
  ASSERT_EQ(1, SaveImageFile(&bg, dir.WideFile("a.png").c_str(), nullptr, nullptr));
  qvtest::WriteWholeFile(dir.File("bad.png"), std::string("\x89PNG\r\n\x1a\n broken"));
  CTestHost host;
  CImgBuff frame;
  Fill(frame, 32, 32, 50, 60, 70);
  host.SetStill(frame);
  auto* f = new CLfBgErase;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  f->m_language = L"en";
  {
    CScriptedDialogs dialogs;
    // An empty box loads nothing and says nothing.
    f->m_pathEdit.OnFocusLost(&f->m_pathEdit, f->m_pathEdit.CallbackArg);
    EXPECT_TRUE(dialogs.m_shown.empty());
    f->m_pathEdit.SetLine(0, dir.WideFile("a.png").c_str());
    f->m_pathEdit.OnFocusLost(&f->m_pathEdit, f->m_pathEdit.CallbackArg);
    EXPECT_TRUE(dialogs.m_shown.empty());
  }
  int32_t w = 0, h = 0;
  f->BackgroundSize(&w, &h);
  EXPECT_EQ(16, w);
  EXPECT_EQ(12, h);
  // A broken file while frames run: one message, the old background stays.
  {
    CScriptedDialogs dialogs;
    dialogs.m_paths.push_back(dir.WideFile("bad.png"));
    for (int i = 0; i < 5; ++i) host.Reprocess(1);
    f->m_selectButton.m_callback(&f->m_selectButton, f->m_selectButton.m_user);
    host.Reprocess(0);
    ASSERT_EQ(1u, dialogs.m_shown.size());
    EXPECT_EQ(L"loading failed", dialogs.m_shown[0].text);
    EXPECT_EQ(L"error", dialogs.m_shown[0].caption);
    ASSERT_EQ(1u, dialogs.m_asked.size());
    EXPECT_EQ(L"select file", dialogs.m_asked[0].title);
    EXPECT_EQ(dir.WideFile("bad.png"), std::wstring(f->m_pathEdit.GetText()));
  }
  f->BackgroundSize(&w, &h);
  EXPECT_EQ(16, w);
  {
    CScriptedDialogs dialogs;
    f->m_language = L"jp";
    EXPECT_EQ(0, f->LoadBackground(dir.WideFile("missing.png").c_str()));
    ASSERT_EQ(1u, dialogs.m_shown.size());
    EXPECT_EQ(L"\x30ED\x30FC\x30C9\x3067\x304D\x307E\x305B\x3093\x3067\x3057\x305F",
              dialogs.m_shown[0].text);
  }
}

// Subtraction against numpy's saturating difference (what cv2.subtract gives on 8-bit
// pictures) of two files ImageMagick wrote; extraction paints only what is near the background.
TEST(BgErase, SubtractionMatchesReferenceOnImageMagickFiles) {
  qvtest::TempFolder dir("bgerase_sub");
  ASSERT_TRUE(dir.ok());
  auto run = [](const std::string& cmd) { return std::system(cmd.c_str()); };
  ASSERT_EQ(0, run("/usr/bin/convert -size 48x32 plasma:red-blue -seed 1 -depth 8 '" + dir.File("frame.png") + "'"));
  ASSERT_EQ(0, run("/usr/bin/convert -size 40x30 gradient:green-yellow -depth 8 '" + dir.File("bg.png") + "'"));
  std::string script =
      "import numpy as np, subprocess\n"
      "def rd(p, w, h):\n"
      "    b = subprocess.run(['/usr/bin/convert', p, '-depth', '8', 'rgb:-'], capture_output=True).stdout\n"
      "    return np.frombuffer(b, np.uint8).reshape(h, w, 3).astype(np.int16)\n"
      "f = rd('" + dir.File("frame.png") + "', 48, 32)\n"
      "b = rd('" + dir.File("bg.png") + "', 40, 30)\n"
      "out = f.copy()\n"
      "out[:30, :40] = np.clip(f[:30, :40] - b, 0, 255)\n"
      "out.astype(np.uint8).tofile('" + dir.File("want.rgb") + "')\n"
      "m = out.copy(); m[30:, :] = 0; m[:, 40:] = 0\n"
      "m.astype(np.uint8).tofile('" + dir.File("want_mask.rgb") + "')\n";
  qvtest::WriteWholeFile(dir.File("ref.py"), script);
  ASSERT_EQ(0, run("/usr/bin/python3 '" + dir.File("ref.py") + "'"));
  for (int mask = 0; mask < 2; ++mask) {
    CLfBgErase f;
    ASSERT_EQ(1, f.LoadBackground(dir.WideFile("bg.png").c_str()));
    f.m_maskCheck.m_checked = mask;
    CImgBuff frame;
    ASSERT_EQ(1, LoadImageFile(&frame, dir.WideFile("frame.png").c_str(), nullptr, nullptr));
    ASSERT_EQ(ImgFormatRgb24, frame.Format());
    f.Process(&frame, 0, 0, 0, 48, 32, 0, 0);
    std::string want = qvtest::ReadWholeFile(dir.File(mask ? "want_mask.rgb" : "want.rgb"));
    ASSERT_EQ(size_t(48 * 32 * 3), want.size());
    EXPECT_EQ(0, std::memcmp(want.data(), frame.Pixels(), want.size())) << "mask " << mask;
  }
  // Extraction against its own background: every pixel the background covers is painted.
  CLfBgErase f;
  ASSERT_EQ(1, f.LoadBackground(dir.WideFile("bg.png").c_str()));
  CFgUIChkButton::SetGroupSelection(&f.m_subtractRadio, 1, 0);
  CImgBuff frame;
  ASSERT_EQ(1, LoadImageFile(&frame, dir.WideFile("bg.png").c_str(), nullptr, nullptr));
  f.Process(&frame, 0, 0, 0, 40, 30, 0, 255);
  uint8_t r, g, b;
  frame.GetRGB8(20, 15, &r, &g, &b);
  EXPECT_EQ(255, r & g & b);
}

}  // namespace

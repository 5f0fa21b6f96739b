// strobe_photo_test.cpp - the strobe tool on the test host: the threshold bar, the messages
// in both languages, the mask painted by dragging and its shading, capturing the background,
// a whole EXEC with OPEN and SAVE, a cancelled and a failed run, and the enabled states.
#include "filters/binary_geometry_fourier/strobe_photo.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>

#include "app/cfgfile.h"
#include "media/imgio/imgio.h"
#include "media/media.h"
#include "tests/app/testhost.h"
#include "tests/filters/filter_test_util.h"
#include "tests/temp_folder.h"

namespace {

using Frames = std::vector<std::unique_ptr<CImgBuff>>;

bool SamePixels(const CImgBuff& a, const CImgBuff& b) {
  if (!a.Pixels() || a.Width() != b.Width() || a.Height() != b.Height() || a.Format() != b.Format())
    return false;
  return std::memcmp(a.Pixels(), b.Pixels(),
                     size_t(a.Width()) * a.Height() * ImgBytesPerPixel[a.Format()]) == 0;
}

class CancelAt : public CImgFilter {
 public:
  CancelAt(CLfStrobePhoto* tool, uint64_t at) : tool_(tool), at_(at) {}
  void Process(CImgBuff*, uint64_t scene, int64_t, int64_t, int64_t, int64_t, uint32_t,
               uint32_t) override {
    if (scene == at_ && tool_->Busy()) tool_->m_walk.Cancel();
  }

 private:
  CLfStrobePhoto* tool_;
  uint64_t at_;
};

// Six scenes: a textured background with a saturated 12 x 12 square at a new place in each.
struct Squares {
  CImgBuff background, want;
  Frames frames;
  Squares() {
    const int w = 64, h = 48;
    EXPECT_EQ(1, background.Allocate(w, h, ImgFormatRgb24));
    std::mt19937 rng(3);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const uint8_t v = uint8_t(100 + rng() % 5);
        background.SetRGB8(x, y, v, v, uint8_t(v + 30));
      }
    want.CopyFrom(background);
    const int places[6][2] = {{4, 4}, {24, 4}, {44, 4}, {4, 28}, {24, 28}, {44, 28}};
    for (const auto& p : places) {
      frames.push_back(std::make_unique<CImgBuff>());
      frames.back()->CopyFrom(background);
      for (int y = p[1]; y < p[1] + 12; ++y)
        for (int x = p[0]; x < p[0] + 12; ++x) {
          frames.back()->SetRGB8(x, y, 255, 0, 0);
          want.SetRGB8(x, y, 255, 0, 0);
        }
    }
  }
};

struct Rig {
  CTestHost host;
  CLfStrobePhoto* tool = new CLfStrobePhoto;
  CScriptedDialogs dialogs;
  explicit Rig(const Frames& frames, const wchar_t* language = L"en", CImgFilter* before = nullptr) {
    std::vector<const CImgBuff*> list;
    for (const auto& f : frames) list.push_back(f.get());
    if (list.size() == 1) {
      host.SetStill(*list[0]);
    } else {
      EXPECT_EQ(1, host.SetVideo(list, 33333));
    }
    if (before) host.AddFilter(before, nullptr);
    host.AddFilter(tool, nullptr);
    host.SetLanguage(language);
  }
  std::vector<std::wstring> Texts() const {
    std::vector<std::wstring> t;
    for (const auto& s : dialogs.m_shown) t.push_back(s.text + L" / " + s.caption);
    return t;
  }
};

TEST(StrobePhoto, NameKeyAndOnlyTheBaseKeys) {
  CLfStrobePhoto f;
  EXPECT_STREQ(L"Strobe photo", f.GetName(L"en"));
  EXPECT_STREQ(L"ストロボ写真の合成", f.GetName(L"jp"));
  EXPECT_STREQ(L"strobe_photo", f.GetKey());
  CCfgPack pack;
  f.SaveParams(&pack);
  EXPECT_EQ((std::vector<std::wstring>{L"if_enable 0", L"if_visible 0"}), filtertest::PackLines(&pack));
}

TEST(StrobePhoto, ThresholdFollowsTheBar) {
  CLfStrobePhoto f;
  const int32_t want[10] = {48, 64, 80, 96, 112, 128, 144, 160, 176, 192};
  for (int32_t p = 0; p < 10; ++p) {
    f.m_extract.m_position = p;
    EXPECT_EQ(want[p], f.Threshold());
  }
}

TEST(StrobePhoto, MessagesInBothLanguages) {
  for (const wchar_t* language : {L"en", L"jp"}) {
    const bool jp = std::wstring(language) == L"jp";
    Frames one;
    one.push_back(std::make_unique<CImgBuff>());
    ASSERT_EQ(1, one[0]->Allocate(8, 8, ImgFormatGray8));
    {
      Rig rig(one, language);
      rig.tool->Execute();       // a still
      rig.tool->OnMaskStart();   // no background yet
      rig.tool->SaveImage();     // nothing composed
      rig.tool->OnOpenResult();  // nothing, silently
      EXPECT_EQ((std::vector<std::wstring>{
                    jp ? L"2フレーム以上の画像が必要です / エラー" : L"need an image of 2 frames or more / error",
                    jp ? L"背景画像が未設定です / エラー" : L"no BG image / error",
                    jp ? L"画像がありません / 確認" : L"there is no image / confirmation"}),
                rig.Texts());
      EXPECT_EQ(0u, rig.host.m_newImageCount);
    }
    Squares sq;
    {
      Rig rig(sq.frames, language);
      rig.tool->m_setBg.m_checked = 1;
      rig.tool->Execute();
      EXPECT_EQ((std::vector<std::wstring>{jp ? L"背景画像が未設定です / エラー" : L"no BG image / error"}),
                rig.Texts());
    }
  }
}

TEST(StrobePhoto, ExecComposesOpensAndSaves) {
  Squares sq;
  Rig rig(sq.frames);
  rig.tool->Execute();
  EXPECT_TRUE(rig.dialogs.m_shown.empty());
  CImgBuff result, last;
  rig.tool->CopyComposite(&result);
  rig.tool->CopyLastBackground(&last);
  EXPECT_TRUE(SamePixels(sq.want, result));
  EXPECT_TRUE(SamePixels(sq.background, last));
  EXPECT_EQ(std::wstring(L"EXEC"), rig.tool->m_exec.m_text);
  EXPECT_EQ(0, rig.tool->Busy());
  ASSERT_EQ(2u, rig.host.m_enableOnlyCalls.size());
  EXPECT_EQ(1u, rig.host.m_enableOnlyCalls[0].first);
  EXPECT_EQ(0u, rig.host.m_enableOnlyCalls[1].first);

  rig.tool->OnOpenResult();
  EXPECT_EQ(1u, rig.host.m_newImageCount);

  qvtest::TempFolder dir("strobe");
  rig.dialogs.m_paths.push_back(dir.WideFile("result.png"));
  rig.tool->SaveImage();
  CImgBuff saved;
  ASSERT_EQ(1, LoadImageFile(&saved, dir.WideFile("result.png").c_str(), nullptr, nullptr));
  EXPECT_TRUE(SamePixels(sq.want, saved));

  // CURRENT BG takes the run's background; the mask and the result are emptied.
  rig.tool->OnCurrentBg();
  CImgBuff bg;
  rig.tool->CopyBackground(&bg);
  EXPECT_TRUE(SamePixels(sq.background, bg));
  rig.tool->CopyComposite(&result);
  EXPECT_EQ(nullptr, result.Pixels());
}

TEST(StrobePhoto, CancelledAndFailedRunsKeepTheOldResult) {
  Squares sq;
  CLfStrobePhoto* tool = new CLfStrobePhoto;
  Rig rig(sq.frames, L"en", new CancelAt(tool, 5));
  // the rig's own tool stands after the canceller; use it for the first, good run
  rig.host.RemoveFilter(1);
  rig.host.AddFilter(tool, nullptr);
  rig.host.SetLanguage(L"en");
  // First a good run with the canceller switched off.
  rig.host.FilterAt(0)->m_filterEnabled = 0;
  tool->Execute();
  CImgBuff good;
  tool->CopyComposite(&good);
  ASSERT_TRUE(SamePixels(sq.want, good));
  rig.host.FilterAt(0)->m_filterEnabled = 1;
  tool->m_extract.m_position = 9;
  tool->Execute();
  ASSERT_EQ(1u, rig.dialogs.m_shown.size());
  EXPECT_EQ(L"canceled", rig.dialogs.m_shown[0].text);
  CImgBuff after;
  tool->CopyComposite(&after);
  EXPECT_TRUE(SamePixels(good, after));
  EXPECT_EQ(std::wstring(L"EXEC"), tool->m_exec.m_text);
  // Switched off: no frame, "failed", the result stays.
  rig.host.FilterAt(0)->m_filterEnabled = 0;
  tool->m_filterEnabled = 0;
  tool->Execute();
  ASSERT_EQ(2u, rig.dialogs.m_shown.size());
  EXPECT_EQ(L"failed", rig.dialogs.m_shown[1].text);
  EXPECT_EQ(L"error", rig.dialogs.m_shown[1].caption);
  tool->CopyComposite(&after);
  EXPECT_TRUE(SamePixels(good, after));
}

TEST(StrobePhoto, DraggingPaintsWholeBlocks) {
  struct Case {
    int x0, y0, x1, y1;
    int bx0, by0, bx1, by1;  // painted pixels, inclusive
  };
  const Case cases[] = {
      {13, 9, 2, 30, 0, 8, 15, 31},
      {2, 30, 13, 9, 0, 8, 15, 31},
      {21, 6, 21, 6, 20, 4, 23, 7},  // a click: the block under it
      {60, 44, 90, 90, 60, 44, 63, 47},  // cut to the mask
  };
  Squares sq;
  for (const Case& c : cases) {
    Rig rig(sq.frames);
    rig.tool->m_setBg.m_checked = 1;
    rig.tool->OnCurrentFrame();
    CImgBuff bg;
    rig.tool->CopyBackground(&bg);
    ASSERT_TRUE(SamePixels(*sq.frames[0], bg));
    rig.tool->OnLButtonDown(c.x0, c.y0, 0);  // not editing: ignored
    rig.tool->OnLButtonUp(c.x0, c.y0, 0);
    CImgBuff mask;
    rig.tool->CopyMask(&mask);
    EXPECT_EQ(nullptr, mask.Pixels());
    rig.tool->OnMaskStart();
    EXPECT_EQ(1, rig.tool->MaskEditing());
    rig.tool->OnLButtonDown(c.x0, c.y0, 0);
    rig.tool->OnMouseMove(c.x1, c.y1, 0);
    rig.tool->OnLButtonUp(c.x1, c.y1, 0);
    rig.tool->CopyMask(&mask);
    ASSERT_EQ(64, mask.Width());
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 64; ++x) {
        uint8_t v = 0;
        mask.GetGray8(x, y, &v);
        const bool in = x >= c.bx0 && x <= c.bx1 && y >= c.by0 && y <= c.by1;
        ASSERT_EQ(in ? 255 : 0, v) << x << "," << y;
      }
    // The view shows the background with the mask shaded.
    CImgBuff view;
    view.CopyFrom(rig.host.m_display);
    CImgBuff shaded;
    shaded.CopyFrom(bg);
    CLfStrobePhoto::ShadeMask(&shaded, mask, rig.tool->m_guide);
    EXPECT_TRUE(SamePixels(shaded, view));
    rig.tool->OnMaskClear();
    rig.tool->CopyMask(&mask);
    EXPECT_EQ(nullptr, mask.Pixels());
    rig.tool->OnMaskEnd();
    EXPECT_EQ(0, rig.tool->MaskEditing());
  }
}

TEST(StrobePhoto, ShadingCells) {
  struct Case {
    double guide[3];
    uint8_t even[3], odd[3];
  };
  const Case cases[] = {
      {{1, 0, 0}, {146, 50, 50}, {82, 50, 50}},
      {{0, 0, 0}, {113, 113, 113}, {50, 50, 50}},
      {{0.5, 1, 0}, {146, 146, 50}, {82, 82, 50}},
  };
  for (const Case& c : cases) {
    CImgBuff frame, mask;
    ASSERT_EQ(1, frame.Allocate(8, 8, ImgFormatRgb24));
    ASSERT_EQ(1, mask.Allocate(8, 8, ImgFormatGray8));
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x) {
        frame.SetRGB8(x, y, 100, 100, 100);
        if (y < 7) mask.SetGray8(x, y, 255);
      }
    CLfStrobePhoto::ShadeMask(&frame, mask, c.guide);
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x) {
        uint8_t p[3];
        frame.GetRGB8(x, y, &p[0], &p[1], &p[2]);
        const uint8_t* want = y == 7 ? nullptr : ((x / 4 + y / 4) % 2 ? c.odd : c.even);
        for (int k = 0; k < 3; ++k) EXPECT_EQ(want ? want[k] : 100, p[k]) << x << "," << y;
      }
  }
}

TEST(StrobePhoto, EnabledStates) {
  CLfStrobePhoto f;
  f.RefreshDialog();
  EXPECT_TRUE(f.m_setBg.m_enabled);
  EXPECT_FALSE(f.m_currentFrame.m_enabled);
  EXPECT_FALSE(f.m_maskLabel.m_enabled);
  EXPECT_TRUE(f.m_exec.m_enabled);
  EXPECT_TRUE(f.m_save.m_enabled);
  f.m_setBg.m_checked = 1;
  f.RefreshDialog();
  EXPECT_TRUE(f.m_currentFrame.m_enabled);
  EXPECT_TRUE(f.m_start.m_enabled);
  EXPECT_FALSE(f.m_end.m_enabled);
  EXPECT_TRUE(f.m_maskLabel.m_enabled);
}

}  // namespace

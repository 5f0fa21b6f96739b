// track2valopt_test.cpp - the "Binary tracking settings" window without a display: the
// settings shown by Open, the enable rule, the typed bounds and their check on focus loss,
// SET (and closing without it), and the relabelling by language.
#include "measure/track2valopt.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/window.h"

namespace {

const int g_headless = (PlatTestSetHeadless(1), 0);

struct Rig {
  CFgUIDialog parent;
  CTrack2ValOptUI dialog;
  TrackBinarySettings settings;
  int32_t calls = 0, lastPreview = -1;

  Rig()
  {
    (void)g_headless;
    EXPECT_EQ(1, parent.Create(-1, -1, 390, 292, L"2D tracking", FgStyleDialog, nullptr));
    dialog.m_onChange = [](void* user, int32_t preview, CTrack2ValOptUI*) {
      auto* r = static_cast<Rig*>(user);
      ++r->calls;
      r->lastPreview = preview;
    };
    dialog.m_changeUser = this;
  }
  // Types text into a box and moves the focus away, as leaving the box does.
  void Type(CFgUIEdit& box, const wchar_t* text)
  {
    ASSERT_EQ(1, dialog.SetFocus(&box));
    box.SetLine(0, text);
    dialog.SetFocus(&dialog.m_set);
  }
};

TEST(Track2ValOpt, OpenShowsTheSettingsCentredOnTheParent)
{
  Rig rig;
  EXPECT_EQ(0, rig.dialog.Open(nullptr, &rig.parent));
  EXPECT_EQ(nullptr, rig.dialog.m_window);
  rig.settings.multiSelect = 2;
  rig.settings.noiseAuto = 0;
  rig.settings.noiseEnableL = 1;
  rig.settings.windowCut = 1;
  rig.settings.holeFill = 0;
  rig.settings.preview = 0;
  rig.settings.noiseL = 7;
  ASSERT_EQ(1, rig.dialog.Open(&rig.settings, &rig.parent));
  EXPECT_EQ(232u, rig.dialog.m_clientWidth);
  EXPECT_EQ(262u, rig.dialog.m_clientHeight);
  EXPECT_EQ(rig.parent.m_x + (390 - 232) / 2, rig.dialog.m_x);
  EXPECT_EQ(rig.parent.m_y + (292 - 262) / 2, rig.dialog.m_y);
  EXPECT_STREQ(L"2値化追跡設定", rig.dialog.m_title);  // "jp" until told otherwise
  EXPECT_EQ(2, CFgUIChkButton::GetGroupSelection(&rig.dialog.m_select[0]));
  EXPECT_EQ(0, rig.dialog.m_noiseAuto.m_checked);
  EXPECT_EQ(1, rig.dialog.m_noiseLess.m_checked);
  EXPECT_EQ(0, rig.dialog.m_noiseMore.m_checked);
  EXPECT_EQ(1, rig.dialog.m_windowCut.m_checked);
  EXPECT_EQ(0, rig.dialog.m_holeFill.m_checked);
  EXPECT_EQ(0, rig.dialog.m_preview.m_checked);
  EXPECT_STREQ(L"7", rig.dialog.m_lowEdit.GetText());
  EXPECT_STREQ(L"1000", rig.dialog.m_highEdit.GetText());
  // Manual noise: the "less" box is on, so only its number box is enabled.
  EXPECT_EQ(1, rig.dialog.m_noiseLess.m_enabled);
  EXPECT_EQ(1, rig.dialog.m_lowEdit.m_enabled);
  EXPECT_EQ(0, rig.dialog.m_highEdit.m_enabled);
  EXPECT_EQ(0, rig.calls);
}

TEST(Track2ValOpt, EnableRuleFollowsTheNoiseBoxes)
{
  Rig rig;
  ASSERT_EQ(1, rig.dialog.Open(&rig.settings, &rig.parent));
  CTrack2ValOptUI& d = rig.dialog;
  struct {
    int32_t autoOn, less, more;
    int32_t lessEnabled, lowEnabled, moreEnabled, highEnabled;
  } cases[] = {{1, 1, 1, 0, 0, 0, 0}, {1, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 1, 0, 1, 0},
               {0, 1, 0, 1, 1, 1, 0}, {0, 0, 1, 1, 0, 1, 1}, {0, 1, 1, 1, 1, 1, 1}};
  for (const auto& k : cases) {
    d.m_noiseAuto.m_checked = k.autoOn;
    d.m_noiseLess.m_checked = k.less;
    d.m_noiseMore.m_checked = k.more;
    d.m_noiseAuto.m_callback(&d.m_noiseAuto, d.m_noiseAuto.m_user);
    EXPECT_EQ(k.lessEnabled, d.m_noiseLess.m_enabled) << k.autoOn << k.less << k.more;
    EXPECT_EQ(k.lowEnabled, d.m_lowEdit.m_enabled) << k.autoOn << k.less << k.more;
    EXPECT_EQ(k.moreEnabled, d.m_noiseMore.m_enabled) << k.autoOn << k.less << k.more;
    EXPECT_EQ(k.highEnabled, d.m_highEdit.m_enabled) << k.autoOn << k.less << k.more;
  }
  // A box that holds the focus when it is disabled passes it on.
  ASSERT_EQ(1, d.SetFocus(&d.m_lowEdit));
  d.m_noiseAuto.m_checked = 1;
  d.m_noiseAuto.m_callback(&d.m_noiseAuto, d.m_noiseAuto.m_user);
  EXPECT_NE(&d.m_lowEdit, d.m_focusChild);
  EXPECT_EQ(0, d.m_lowEdit.m_focused);
}

TEST(Track2ValOpt, TypedBoundsAreCheckedWhenTheBoxIsLeft)
{
  Rig rig;
  rig.settings.noiseAuto = 0;
  rig.settings.noiseEnableL = 1;
  rig.settings.noiseEnableH = 1;
  ASSERT_EQ(1, rig.dialog.Open(&rig.settings, &rig.parent));
  struct {
    const wchar_t* typed;
    const wchar_t* shown;
    uint32_t pending;
  } cases[] = {
      {L"0", L"10", 10},          {L"12a", L"10", 10},         {L"", L"10", 10},
      {L"0012", L"0012", 12},     {L"-5", L"12", 12},          {L"2147483647", L"2147483647", 2147483647u},
      {L"2147483648", L"2147483647", 2147483647u},             {L"4294967296", L"2147483647", 2147483647u},
      {L"99999999999999999999999", L"2147483647", 2147483647u}, {L"1", L"1", 1},
  };
  for (const auto& k : cases) {
    rig.Type(rig.dialog.m_lowEdit, k.typed);
    EXPECT_STREQ(k.shown, rig.dialog.m_lowEdit.GetText()) << std::wstring(k.typed).size();
    EXPECT_EQ(k.pending, rig.dialog.m_pendingLow);
  }
  rig.Type(rig.dialog.m_highEdit, L"12a");
  EXPECT_STREQ(L"1000", rig.dialog.m_highEdit.GetText());
  rig.Type(rig.dialog.m_highEdit, L"500");
  EXPECT_EQ(500u, rig.dialog.m_pendingHigh);
  // Nothing reaches the settings before SET.
  EXPECT_EQ(10, rig.settings.noiseL);
  EXPECT_EQ(1000, rig.settings.noiseH);
}

TEST(Track2ValOpt, SetStoresEverythingButConnectEvenPendingBoundsUnderAuto)
{
  Rig rig;
  ASSERT_EQ(1, rig.dialog.Open(&rig.settings, &rig.parent));
  CTrack2ValOptUI& d = rig.dialog;
  // With auto on the boxes are disabled; values set before (or by Open) are still stored.
  d.m_noiseAuto.m_checked = 0;
  d.m_noiseLess.m_checked = 1;
  d.m_noiseMore.m_checked = 1;
  d.UpdateControls();
  rig.Type(d.m_lowEdit, L"3");
  rig.Type(d.m_highEdit, L"4000");
  d.m_noiseAuto.m_checked = 1;
  d.UpdateControls();
  EXPECT_EQ(0, d.m_lowEdit.m_enabled);
  CFgUIChkButton::SetGroupSelection(&d.m_select[0], 0, 0);
  d.m_windowCut.m_checked = 1;
  d.m_holeFill.m_checked = 0;
  d.m_preview.m_checked = 0;
  rig.settings.connect = 4;
  d.m_set.m_callback(&d.m_set, d.m_set.m_user);
  EXPECT_EQ(0, rig.settings.multiSelect);
  EXPECT_EQ(1, rig.settings.noiseAuto);
  EXPECT_EQ(1, rig.settings.noiseEnableL);
  EXPECT_EQ(1, rig.settings.noiseEnableH);
  EXPECT_EQ(3, rig.settings.noiseL);
  EXPECT_EQ(4000, rig.settings.noiseH);
  EXPECT_EQ(1, rig.settings.windowCut);
  EXPECT_EQ(0, rig.settings.holeFill);
  EXPECT_EQ(0, rig.settings.preview);
  EXPECT_EQ(4, rig.settings.connect);
  EXPECT_EQ(1, rig.calls);
  EXPECT_EQ(0, rig.lastPreview);
  // No radio selected: -1, as the group says.
  CFgUIChkButton::SetGroupSelection(&d.m_select[0], -1, 0);
  d.Apply();
  EXPECT_EQ(-1, rig.settings.multiSelect);
}

TEST(Track2ValOpt, ClosingWithoutSetChangesNothingAndTheNextOpenShowsTheSettings)
{
  Rig rig;
  ASSERT_EQ(1, rig.dialog.Open(&rig.settings, &rig.parent));
  const TrackBinarySettings before = rig.settings;
  CTrack2ValOptUI& d = rig.dialog;
  d.m_preview.m_checked = 0;
  d.m_holeFill.m_checked = 0;
  CFgUIChkButton::SetGroupSelection(&d.m_select[0], 2, 0);
  EXPECT_EQ(0, d.OnClose());
  EXPECT_EQ(nullptr, d.m_window);
  EXPECT_EQ(0, memcmp(&before, &rig.settings, sizeof before));
  EXPECT_EQ(0, rig.calls);
  ASSERT_EQ(1, d.Open(&rig.settings, &rig.parent));
  EXPECT_EQ(1, d.m_preview.m_checked);
  EXPECT_EQ(1, d.m_holeFill.m_checked);
  EXPECT_EQ(1, CFgUIChkButton::GetGroupSelection(&d.m_select[0]));
}

TEST(Track2ValOpt, LanguageRetitlesAndRelabelsEveryControl)
{
  Rig rig;
  CTrack2ValOptUI& d = rig.dialog;
  d.Build(L"en");
  ASSERT_EQ(1, d.Open(&rig.settings, &rig.parent));
  EXPECT_STREQ(L"Binary tracking settings", d.m_title);
  EXPECT_STREQ(L"select from multiple", d.m_group.m_title);
  EXPECT_STREQ(L"choice by prediction X,Y", d.m_select[1].m_text);
  EXPECT_STREQ(L"delete one that on the edge", d.m_windowCut.m_text);
  EXPECT_STREQ(L"SET", d.m_set.m_text);
  d.Build(nullptr);  // nothing
  d.Build(L"");
  EXPECT_STREQ(L"Binary tracking settings", d.m_title);
  d.Build(L"jp");
  EXPECT_STREQ(L"2値化追跡設定", d.m_title);
  EXPECT_STREQ(L"複数候補時処理", d.m_group.m_title);
  EXPECT_STREQ(L"マニュアル入力", d.m_select[0].m_text);
  EXPECT_STREQ(L"ノイズ除去(以上)", d.m_noiseMore.m_text);
  EXPECT_STREQ(L"穴埋め", d.m_holeFill.m_text);
  EXPECT_STREQ(L"プレビューに反映", d.m_preview.m_text);
  EXPECT_STREQ(L"設定", d.m_set.m_text);
  // Places are the same in both languages.
  EXPECT_EQ(168, d.m_highEdit.m_x);
  EXPECT_EQ(136, d.m_highEdit.m_y);
  EXPECT_EQ(224, d.m_set.m_y);
  EXPECT_EQ(30, d.m_set.m_height);
}

}  // namespace

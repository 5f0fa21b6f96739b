// encodeui_x11_test.cpp - the save settings dialog on a real X server: the extension index,
// the opening's normalised extension and layout per language, SET's checks in order in both
// languages, what the savers receive, and a session of real clicks and keys with
// screenshots.
#include "app/encodeui.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/app/testhost.h"
#include "tests/filters/filter_x11_util.h"

namespace {

using Dialog = filtertest::ShotWindow<CEncodeUI>;

TEST(ImageExtensionIndex, FirstFourCharactersLoweredAndWhole) {
  struct Case {
    const wchar_t* ext;
    int32_t index;
  } const cases[] = {
      {L"bmp", 0}, {L"BMP", 0},  {L"jpg", 1},   {L"JpG", 1},    {L"png", 2},  {L"tif", 3},
      {L"tiff", 3}, {L"TIFF", 3}, {L"tiffany", 3}, {L"jpeg", -1}, {L"pn", -1},  {L"", -1},
      {L"gif", -1}, {L"png ", -1}, {nullptr, -1},
  };
  for (const Case& c : cases) EXPECT_EQ(ImageExtensionIndex(c.ext), c.index) << (c.ext ? c.ext : L"null");
}

class EncodeUITest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!PlatHasDisplay()) GTEST_SKIP() << "no X display";
    g_encodeUIPlace = {};
  }
  void TearDown() override { g_encodeUIPlace = {}; }
  // Types into an edit box as SetLine does (its change callback stores the typed value).
  static void Type(CFgUIEdit& edit, const wchar_t* text) { edit.SetLine(0, text); }
};

TEST_F(EncodeUITest, OpeningNormalisesTheExtensionAndLaysOutPerLanguage) {
  Dialog d;
  wcscpy(d.m_ext, L"TIFF");
  ASSERT_EQ(d.Build(nullptr), 1);
  EXPECT_STREQ(d.m_ext, L"tif");
  EXPECT_EQ(CFgUIChkButton::GetGroupSelection(&d.m_extRadio[0]), 3);
  EXPECT_EQ(CFgUIChkButton::GetGroupSelection(&d.m_codecRadio[0]), 1);
  EXPECT_EQ(CFgUIChkButton::GetGroupSelection(&d.m_rateRadio[0]), 0);
  EXPECT_EQ(d.m_keyCheck.m_checked, 1);
  EXPECT_STREQ(d.m_bitRateEdit.GetText(), L"5000000");
  EXPECT_STREQ(d.m_jpegEdit.GetText(), L"75");
  EXPECT_EQ(d.m_clientWidth, 240u);
  EXPECT_EQ(d.m_clientHeight, 356u);
  EXPECT_STREQ(d.m_jpegLabel.m_text, L"JPEG品質(1-100)");
  EXPECT_EQ(d.m_jpegLabel.m_y, 196);
  EXPECT_EQ(d.m_codecLabel.m_width, 80);
  EXPECT_EQ(d.m_set.m_y, 316);
  EXPECT_EQ(d.m_set.m_height, 28);

  // The language switch rebuilds the open window in English; the extension stays.
  d.SetLanguage(L"en");
  ASSERT_NE(d.GetWindow(), nullptr);
  EXPECT_STREQ(d.m_jpegLabel.m_text, L"jpeg quality(1-100)");
  EXPECT_EQ(d.m_jpegLabel.m_y, 200);
  EXPECT_EQ(d.m_jpegLabel.m_width, 136);
  EXPECT_STREQ(d.m_codecRadio[0].m_text, L"bitmap");
  EXPECT_STREQ(d.m_set.m_text, L"SET");
  EXPECT_EQ(g_encodeUIPlace.placed, 1);  // the close on the way remembered the place
  d.OnClose();
  d.Destroy();

  // An unknown extension opens as "png".
  wcscpy(d.m_ext, L"gif");
  ASSERT_EQ(d.Build(nullptr), 1);
  EXPECT_STREQ(d.m_ext, L"png");
  EXPECT_EQ(CFgUIChkButton::GetGroupSelection(&d.m_extRadio[0]), 2);
}

TEST_F(EncodeUITest, SetChecksInOrderAndCommitsOnlyWhenAllPass) {
  CScriptedDialogs dialogs;
  struct Case {
    const wchar_t *jpeg, *quality, *bitRate, *key;
    uint32_t rateMode;
    const wchar_t* ja;  // null: committed
    const wchar_t* en;
  } const cases[] = {
      {L"0", L"0", L"0", L"0", 0, L"JPG品質は1-100の範囲の値を設定してください",
       L"Jpg quality should be in the range of 1-100"},
      {L"101", L"50", L"1", L"1", 0, L"JPG品質は1-100の範囲の値を設定してください",
       L"Jpg quality should be in the range of 1-100"},
      {L"-1", L"50", L"1", L"1", 0, L"JPG品質は1-100の範囲の値を設定してください",
       L"Jpg quality should be in the range of 1-100"},
      {L"100", L"0", L"0", L"0", 1, L"MP4品質は1-101の範囲の値を設定してください",
       L"Mp4 quality should be in the range of 1-101"},
      {L"1", L"102", L"1", L"1", 1, L"MP4品質は1-101の範囲の値を設定してください",
       L"Mp4 quality should be in the range of 1-101"},
      {L"1", L"101", L"0", L"0", 1, L"bpsは1以上の値を設定してください",
       L"bps, Please set a value of 1 or more"},
      {L"1", L"101", L"1", L"0", 0, L"keyframeは1以上の値を設定してください",
       L"keyframe, Please set a value of 1 or more"},
      {L" 90abc", L"101", L"4294967296", L"1", 1, nullptr, nullptr},
  };
  for (int english = 0; english < 2; ++english) {
    for (const Case& c : cases) {
      Dialog d;
      d.SetLanguage(english ? L"en" : L"jp");
      ASSERT_EQ(d.Build(nullptr), 1);
      Type(d.m_jpegEdit, c.jpeg);
      Type(d.m_qualityEdit, c.quality);
      Type(d.m_bitRateEdit, c.bitRate);
      Type(d.m_keyEdit, c.key);
      d.m_typed.rateMode = c.rateMode;
      dialogs.m_shown.clear();
      const int32_t committed = d.OnSet();
      EXPECT_NE(d.GetWindow(), nullptr);  // SET never closes the window
      if (!c.ja) {
        EXPECT_EQ(committed, 1);
        EXPECT_TRUE(dialogs.m_shown.empty());
        EXPECT_EQ(d.m_jpegQuality, 90u);
        EXPECT_EQ(d.m_quality, 101u);
        EXPECT_EQ(d.m_bitRate, 4294967295u);
        EXPECT_EQ(d.m_rateMode, 1u);
        continue;
      }
      EXPECT_EQ(committed, 0);
      ASSERT_EQ(dialogs.m_shown.size(), 1u);
      EXPECT_EQ(dialogs.m_shown[0].text, english ? c.en : c.ja);
      EXPECT_EQ(dialogs.m_shown[0].caption, english ? L"error" : L"エラー");
      EXPECT_EQ(dialogs.m_shown[0].kind, 1);
      // Nothing reached the committed values; the boxes keep what was typed.
      EXPECT_EQ(d.m_jpegQuality, 75u);
      EXPECT_EQ(d.m_quality, 25u);
      EXPECT_EQ(d.m_bitRate, 5000000u);
      EXPECT_EQ(d.m_keyInterval, 10u);
      EXPECT_EQ(d.m_rateMode, 0u);
      EXPECT_STREQ(d.m_jpegEdit.GetText(), c.jpeg);
    }
  }
}

TEST_F(EncodeUITest, SaversGetTheQualityOrTheBitRateAndTheKeyIntervalBySwitch) {
  Dialog d;
  d.m_quality = 60;
  d.m_bitRate = 123456;
  d.m_keyInterval = 15;
  d.m_codec = 2;
  d.m_jpegQuality = 80;
  ASSERT_EQ(d.Build(nullptr), 1);
  MediaWriteOptions o{};
  d.GetSaverOptions(&o);  // "bps" chosen: the bit rate applies
  EXPECT_EQ(o.h264QualityPct, 0u);
  EXPECT_EQ(o.h264BitRate, 123456u);
  EXPECT_EQ(o.h264KeyInterval, 15u);
  EXPECT_EQ(o.aviCodec, 2u);
  EXPECT_EQ(o.jpegQuality, 80u);

  d.m_typed.rateMode = 1;
  d.m_typed.keyFrames = 0;
  ASSERT_EQ(d.OnSet(), 1);
  d.GetSaverOptions(&o);
  EXPECT_EQ(o.h264QualityPct, 60u);
  EXPECT_EQ(o.h264BitRate, 123456u);
  EXPECT_EQ(o.h264KeyInterval, 0u);
  // The committed interval itself is kept for the settings file.
  EXPECT_EQ(d.CommittedOptions().h264KeyInterval, 15u);
  EXPECT_EQ(d.m_keyFrames, 0u);

  // A radio group with nothing selected keeps the value in force.
  d.m_typed.codec = 0xFFFFFFFFu;
  d.m_typed.rateMode = 0xFFFFFFFFu;
  d.m_typed.extIndex = 0xFFFFFFFFu;
  ASSERT_EQ(d.OnSet(), 1);
  EXPECT_EQ(d.m_codec, 2u);
  EXPECT_EQ(d.m_rateMode, 1u);
  EXPECT_STREQ(d.m_ext, L"png");

  // Closing without SET drops what was typed: the next opening starts from the committed.
  d.m_typed.jpegQuality = 5;
  d.OnClose();
  d.Destroy();
  ASSERT_EQ(d.Build(nullptr), 1);
  EXPECT_EQ(d.m_typed.jpegQuality, 80u);
  EXPECT_EQ(d.m_typed.rateMode, 1u);
}

TEST_F(EncodeUITest, RealClicksAndKeysCommitAndTheWindowIsShown) {
  CScriptedDialogs dialogs;
  for (int english = 0; english < 2; ++english) {
    Dialog d;
    d.SetLanguage(english ? L"en" : L"jp");
    ASSERT_EQ(d.Build(nullptr), 1);
    ASSERT_TRUE(toolkittest::PumpUntil([&] { return PlatIsWindowMapped(d.GetWindow()) != 0; }, 3000));
    filtertest::Settle();
    filtertest::ClickControl(&d, d.m_rateRadio[1]);     // quality
    filtertest::ClickControl(&d, d.m_codecRadio[2]);    // png frames
    filtertest::ClickControl(&d, d.m_extRadio[1]);      // jpg
    filtertest::ClickControl(&d, d.m_keyCheck);         // key interval off
    filtertest::ClickControl(&d, d.m_guideCheck);       // save with guide
    filtertest::Settle();
    filtertest::ClickControl(&d, d.m_jpegEdit);
    filtertest::Settle();
    for (int i = 0; i < 3; ++i) filtertest::SendKey(&d, 0xFF08);  // BackSpace
    for (int i = 0; i < 3; ++i) filtertest::SendKey(&d, 0xFFFF);  // Delete
    filtertest::SendKey(&d, '9');
    filtertest::SendKey(&d, '0');
    filtertest::ClickControl(&d, d.m_set);
    filtertest::Settle();
    EXPECT_TRUE(dialogs.m_shown.empty());
    EXPECT_EQ(d.m_rateMode, 1u);
    EXPECT_EQ(d.m_codec, 2u);
    EXPECT_STREQ(d.m_ext, L"jpg");
    EXPECT_EQ(d.m_keyFrames, 0u);
    EXPECT_EQ(d.m_withGuides, 1u);
    EXPECT_EQ(d.m_selectedOnly, 0u);
    EXPECT_EQ(d.m_jpegQuality, 90u);
    filtertest::SaveShot(&d, english ? "encode_settings_en.png" : "encode_settings_jp.png");
    // The SET face is the control face, the checked radio drawn; a pixel of the title-less
    // client area is the dialog's background.
    ASSERT_FALSE(d.pixels.empty());
    const uint8_t* face = d.At(235, 350);
    EXPECT_GT(face[0], 200);
  }
}

}  // namespace

// playedit_test.cpp - the playback range dialog: the limit N, the C-library reading of its
// boxes, SET's two refusals in both languages, COPY, RESET, and the reopening in place by a
// language switch.  Headless windows; message boxes answered by the toolkit's test override.
#include "app/playedit.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "toolkit/msgbox.h"

namespace {

const int g_headless = (PlatTestSetHeadless(1), 0);

struct Shown {
  std::wstring text, caption;
  int32_t kind;
  CFgScreen* parent;
};
std::vector<Shown> g_shown;
int32_t RecordBox(const wchar_t* text, const wchar_t* caption, int32_t kind, CFgScreen* parent) {
  g_shown.push_back({text, caption, kind, parent});
  return 0;
}

struct Owner : CPlayEditOwner {
  int32_t picture = 1, media = 1;
  uint64_t frames = 250, scene = 0;
  std::vector<std::vector<uint64_t>> ranges;
  void GetPlaySource(int32_t* p, int32_t* m, uint64_t* f, uint64_t* s) override {
    *p = picture;
    *m = media;
    *f = frames;
    *s = scene;
  }
  void SetPlayRange(uint64_t s, uint64_t e, uint64_t t) override { ranges.push_back({s, e, t}); }
};

class PlayEditTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_shown.clear();
    FgSetMessageBoxOverride(RecordBox);
    ASSERT_EQ(parent_.Create(-1, -1, 640, 500, L"main", FgStyleResizable, nullptr), 1);
    dialog_.m_mainScreen = &owner_;
  }
  void TearDown() override {
    dialog_.Destroy();
    parent_.Destroy();
    FgSetMessageBoxOverride(nullptr);
  }
  void Type(const wchar_t* start, const wchar_t* end, const wchar_t* step) {
    dialog_.m_edits[0].SetLine(0, start);
    dialog_.m_edits[1].SetLine(0, end);
    dialog_.m_edits[2].SetLine(0, step);
  }
  CFgUIDialog parent_;
  CPlayEditUI dialog_;
  Owner owner_;
};

TEST(PlayEditRules, LimitAndBoxReading) {
  EXPECT_EQ(PlayRangeLimit(0, 1, 250), 1u);
  EXPECT_EQ(PlayRangeLimit(1, 0, 250), 2u);
  EXPECT_EQ(PlayRangeLimit(1, 1, 250), 100u);
  EXPECT_EQ(PlayRangeLimit(1, 1, 7), 7u);
  struct Case {
    const wchar_t* text;
    uint64_t value;
  } cases[] = {
      {L"", 0}, {L"x", 0}, {L"  12abc", 12}, {L"+7", 7}, {L"\t9", 9}, {L"-0", 0},
      {L"-5", 4294967295u}, {L"4294967295", 4294967295u}, {L"99999999999999999999999", 4294967295u},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseEditUnsigned(c.text), c.value) << c.text;
}

TEST_F(PlayEditTest, SetRefusesWithTheTwoMessagesInBothLanguages) {
  ASSERT_EQ(dialog_.Build(&parent_), 1);
  struct Case {
    const wchar_t *start, *end, *step;
    int message;  // 0 none (applied), 1 incorrect, 2 beyond
  } cases[] = {
      {L"5", L"3", L"1", 1}, {L"0", L"3", L"1", 1}, {L"1", L"", L"1", 1}, {L"1", L"3", L"0", 1},
      {L"1", L"x", L"1", 1},  {L"1", L"101", L"1", 2}, {L"1", L"50", L"100", 2},
      {L"1", L"100", L"1", 0}, {L"2", L"10", L"3", 0},
  };
  for (const wchar_t* language : {L"jp", L"en"}) {
    dialog_.SetLanguage(language);
    const bool jp = std::wstring(language) == L"jp";
    for (const Case& c : cases) {
      SCOPED_TRACE(std::wstring(language) + L" " + c.start + L"," + c.end + L"," + c.step);
      g_shown.clear();
      owner_.ranges.clear();
      Type(c.start, c.end, c.step);
      dialog_.Set();
      if (c.message == 0) {
        EXPECT_TRUE(g_shown.empty());
        ASSERT_EQ(owner_.ranges.size(), 1u);
        EXPECT_EQ(owner_.ranges[0][0], ParseEditUnsigned(c.start));
        EXPECT_EQ(dialog_.m_end, ParseEditUnsigned(c.end));
        continue;
      }
      EXPECT_TRUE(owner_.ranges.empty());
      ASSERT_EQ(g_shown.size(), 1u);
      const wchar_t* expected =
          c.message == 1 ? (jp ? L"入力した値が間違っています" : L"the value you entered is incorrect")
                         : (jp ? L"動画の範囲を超えています" : L"that's beyond the scope of the video");
      EXPECT_EQ(g_shown[0].text, expected);
      EXPECT_EQ(g_shown[0].caption, jp ? L"エラー" : L"error");
      EXPECT_EQ(g_shown[0].kind, 1);
      EXPECT_EQ(g_shown[0].parent, &dialog_);
    }
  }
  // The SET button runs the same check.
  g_shown.clear();
  Type(L"5", L"3", L"1");
  dialog_.m_set.OnLButtonDown(5, 5);
  dialog_.m_set.OnLButtonUp(5, 5);
  EXPECT_EQ(g_shown.size(), 1u);
}

TEST_F(PlayEditTest, LimitFollowsTheSource) {
  ASSERT_EQ(dialog_.Build(&parent_), 1);
  // A picture without a media file: N = 2, so step 1 and end 2 at most.
  owner_.media = 0;
  Type(L"1", L"2", L"1");
  dialog_.Set();
  EXPECT_EQ(owner_.ranges.size(), 1u);
  Type(L"1", L"3", L"1");
  dialog_.Set();
  EXPECT_EQ(owner_.ranges.size(), 1u);
  // No picture: N = 1, every step is too large.
  owner_.picture = 0;
  Type(L"1", L"1", L"1");
  dialog_.Set();
  EXPECT_EQ(owner_.ranges.size(), 1u);
  EXPECT_EQ(g_shown.size(), 2u);
}

TEST_F(PlayEditTest, CopyAndReset) {
  ASSERT_EQ(dialog_.Build(&parent_), 1);
  owner_.scene = 6;
  dialog_.Copy(0);
  EXPECT_STREQ(dialog_.m_edits[0].GetText(), L"7");
  EXPECT_EQ(dialog_.m_typed[0], 7u);
  owner_.media = 0;
  dialog_.Copy(1);
  EXPECT_STREQ(dialog_.m_edits[1].GetText(), L"1");
  owner_.media = 1;
  dialog_.Reset();
  EXPECT_STREQ(dialog_.m_edits[0].GetText(), L"1");
  EXPECT_STREQ(dialog_.m_edits[1].GetText(), L"100");
  EXPECT_STREQ(dialog_.m_edits[2].GetText(), L"1");
  EXPECT_EQ(dialog_.m_end, 100u);
  EXPECT_TRUE(owner_.ranges.empty());  // the range in force changes at the next SET
  owner_.picture = 0;
  dialog_.Reset();
  EXPECT_STREQ(dialog_.m_edits[1].GetText(), L"1");
  // The typed values start from the committed ones at each opening.
  dialog_.SetSceneCount(40);
  dialog_.m_edits[1].SetLine(0, L"12");
  dialog_.OnClose();
  dialog_.Destroy();
  ASSERT_EQ(dialog_.Build(&parent_), 1);
  EXPECT_STREQ(dialog_.m_edits[1].GetText(), L"40");
  EXPECT_EQ(dialog_.m_typed[1], 40u);
}

TEST_F(PlayEditTest, LanguageSwitchReopensInPlace) {
  g_playEditPlace = {};
  ASSERT_EQ(dialog_.Build(&parent_), 1);
  EXPECT_STREQ(dialog_.m_title, L"動画再生設定");
  EXPECT_STREQ(dialog_.m_labels[0].m_text, L"開始シーン");
  EXPECT_STREQ(dialog_.m_reset.m_text, L"初期化");
  EXPECT_EQ(dialog_.m_set.m_width, 168);
  dialog_.m_x = 50;  // as if the user moved it
  dialog_.m_y = 60;
  dialog_.SetLanguage(L"en");
  ASSERT_NE(dialog_.GetWindow(), nullptr);
  EXPECT_STREQ(dialog_.m_title, L"Video play edit");
  EXPECT_STREQ(dialog_.m_labels[2].m_text, L"step");
  EXPECT_STREQ(dialog_.m_set.m_text, L"SET");
  EXPECT_EQ(dialog_.m_parent, &parent_);
  EXPECT_EQ(dialog_.m_placed, 1);
  EXPECT_EQ(dialog_.m_placeX, 50);
  EXPECT_EQ(g_playEditPlace.placed, 1);
  EXPECT_EQ(g_playEditPlace.y, 60);
  // The same language class: nothing happens.
  PlatWindow* w = dialog_.GetWindow();
  dialog_.SetLanguage(L"de");
  EXPECT_EQ(dialog_.GetWindow(), w);
  // Closed: the switch only changes the texts of the next opening.
  dialog_.OnClose();
  dialog_.Destroy();
  dialog_.SetLanguage(L"jp");
  EXPECT_EQ(dialog_.GetWindow(), nullptr);
  // A second dialog takes the process-wide place.
  CPlayEditUI other;
  other.m_mainScreen = &owner_;
  ASSERT_EQ(other.Build(&parent_), 1);
  EXPECT_EQ(other.m_placed, 1);
  EXPECT_EQ(other.m_placeX, 50);
  other.Destroy();
}

}  // namespace

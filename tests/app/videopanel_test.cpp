// videopanel_test.cpp - the scene bar: layout and thumb, stepping, the play loop on an
// injected clock (late cycles with and without skipping, a wrapping tick, ends, reversal,
// long intervals waited in slices), keys, buttons and the thumb drag, and the icon sheet.
// Runs on a headless dialog (the window layer's test mode).
#include "app/videopanel.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

const int g_headless = (PlatTestSetHeadless(1), 0);

uint32_t g_now = 0;
std::vector<uint32_t> g_sleeps;
uint32_t FakeTick() { return g_now; }
void FakeSleep(uint32_t ms) {
  g_sleeps.push_back(ms);
  g_now += ms;
}

struct Recorder : CVideoPanelListener {
  std::vector<uint64_t> shown;
  uint32_t work = 0;  // milliseconds each scene takes to show
  std::function<void(uint64_t)> also;
  int32_t redrew = 0;  // what the listener answers: it redrew the window itself
  int32_t OnSceneChanged(uint64_t position) override {
    shown.push_back(position);
    g_now += work;
    if (also) also(position);
    return redrew;
  }
};

class VideoPanelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_now = 0;
    g_sleeps.clear();
    SetVideoPanelClockForTesting({FakeTick, FakeSleep});
    ASSERT_EQ(host_.Create(-1, -1, 640, 500, L"host", FgStyleResizable, nullptr), 1);
    host_.AddChild(&bar_);
    bar_.m_listener = &rec_;
    Place(640);
  }
  void TearDown() override {
    SetVideoPanelClockForTesting({});
    host_.Destroy();
  }
  void Place(int32_t width) {
    bar_.SetRect(0, 460, width, kSceneBarHeight);
    bar_.Layout();
  }
  // Window point at the centre of a record's reacting strip, relative to the bar.
  void Press(int32_t record) {
    const VideoPanelHit& h = bar_.m_hits[record];
    bar_.OnMouseMove(h.hitX + h.hitWidth / 2 - bar_.m_x, h.y + 16 - bar_.m_y);
    ASSERT_EQ(bar_.m_hovered, record);
    bar_.OnLButtonDown(h.hitX + h.hitWidth / 2 - bar_.m_x, h.y + 16 - bar_.m_y);
  }

  CFgUIDialog host_;
  CVideoPanel bar_;
  Recorder rec_;
};

TEST_F(VideoPanelTest, LayoutOfTheButtonsTrackAndThumb) {
  const int32_t xs[5] = {460, 540, 492, 572, 604};  // record order: back, step back, stop, ...
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(bar_.m_hits[i].x, xs[i]) << i;
    EXPECT_EQ(bar_.m_hits[i].y, 464);
    EXPECT_EQ(bar_.m_hits[i].hitX, xs[i]);
  }
  EXPECT_EQ(bar_.m_trackStart, 0);
  EXPECT_EQ(bar_.m_trackEnd, 428);
  bar_.m_count = 101;
  bar_.m_position = 50;
  bar_.UpdateThumb();
  EXPECT_EQ(bar_.m_hits[kSceneBarThumb].x, 214);  // 429 x 50 / 100
  EXPECT_EQ(bar_.m_hits[kSceneBarThumb].hitX, 224);
  bar_.m_position = 100;
  bar_.UpdateThumb();
  EXPECT_EQ(bar_.m_hits[kSceneBarThumb].x, 429);  // one beyond the track's end
  // Too narrow for a track: none, the thumb stays at its start.
  Place(212);
  EXPECT_EQ(bar_.m_trackStart, -1);
  EXPECT_EQ(bar_.m_trackEnd, -1);
  EXPECT_EQ(bar_.m_hits[kSceneBarThumb].x, -1);
  int64_t pieces[kMaxTrackPieces];
  EXPECT_EQ(SceneBarTrackPieces(-1, -1, pieces), 0);
  Place(213);
  EXPECT_EQ(bar_.m_trackEnd, 1);
  // A short track: its one piece, where an unsigned comparison never ended.
  ASSERT_EQ(SceneBarTrackPieces(bar_.m_trackStart, bar_.m_trackEnd, pieces), 1);
  EXPECT_EQ(pieces[0], -15);
  ASSERT_EQ(SceneBarTrackPieces(0, 428, pieces), 15);
  EXPECT_EQ(pieces[0], 15);
  EXPECT_EQ(pieces[13], 405);
  EXPECT_EQ(pieces[14], 412);
}

TEST_F(VideoPanelTest, SteppingAndSetScene) {
  bar_.m_count = 3;
  EXPECT_EQ(bar_.StepBack(), 0);
  EXPECT_EQ(bar_.StepForward(), 1);
  EXPECT_EQ(bar_.StepForward(), 1);
  EXPECT_EQ(bar_.StepForward(), 0);
  EXPECT_EQ(bar_.SetScene(3), 0);
  EXPECT_EQ(bar_.SetScene(0), 1);
  EXPECT_EQ(rec_.shown, (std::vector<uint64_t>{1, 2, 0}));
  EXPECT_EQ(bar_.m_hits[kSceneBarThumb].x, 0);
}

TEST_F(VideoPanelTest, PlayLoopTiming) {
  bar_.m_count = 10;
  bar_.m_interval = 33;
  rec_.work = 80;
  // Late, no skipping: every scene in turn, no sleep.
  bar_.Play(+1);
  EXPECT_EQ(rec_.shown, (std::vector<uint64_t>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_TRUE(g_sleeps.empty());
  EXPECT_EQ(bar_.m_step, 0);

  // Late with skipping: (80 / 33 + 1) = 3 scenes a cycle, sleeping 80 mod 33 = 14.
  rec_.shown.clear();
  bar_.m_position = 0;
  bar_.m_skip = 1;
  bar_.Play(+1);
  EXPECT_EQ(rec_.shown, (std::vector<uint64_t>{1, 4, 7, 9}));
  EXPECT_EQ(g_sleeps, (std::vector<uint32_t>{14, 14, 14, 14}));

  // In time: the rest of the interval is slept, in slices of at most 50 ms.
  rec_.shown.clear();
  g_sleeps.clear();
  rec_.work = 10;
  bar_.m_interval = 120;
  bar_.m_position = 7;
  bar_.Play(+1);
  EXPECT_EQ(rec_.shown, (std::vector<uint64_t>{8, 9}));
  EXPECT_EQ(g_sleeps, (std::vector<uint32_t>{50, 50, 10, 50, 50, 10}));
}

TEST_F(VideoPanelTest, TickWrapGivesTheTrueElapsedTime) {
  bar_.m_count = 3;
  bar_.m_interval = 33;
  rec_.work = 20;
  g_now = 0xFFFFFFF0u;  // wraps during the first scene
  bar_.Play(+1);
  EXPECT_EQ(rec_.shown, (std::vector<uint64_t>{1, 2}));
  EXPECT_EQ(g_sleeps, (std::vector<uint32_t>{13, 13}));
}

TEST_F(VideoPanelTest, EndsBackwardAndReversal) {
  bar_.m_count = 10;
  // At the last scene play forward stops at once.
  bar_.m_position = 9;
  bar_.Play(+1);
  EXPECT_TRUE(rec_.shown.empty());
  EXPECT_EQ(bar_.m_step, 0);
  // Backward from 3: 2, 1, 0.
  bar_.m_position = 3;
  bar_.Play(-1);
  EXPECT_EQ(rec_.shown, (std::vector<uint64_t>{2, 1, 0}));
  // Play backward pressed while playing forward: the running loop turns at its next cycle,
  // and no second loop starts.
  rec_.shown.clear();
  bar_.m_position = 5;
  rec_.also = [this](uint64_t p) {
    if (p == 7) bar_.Play(-1);
  };
  bar_.Play(+1);
  EXPECT_EQ(rec_.shown, (std::vector<uint64_t>{6, 7, 6, 5, 4, 3, 2, 1, 0}));
  // Stop from inside a cycle.
  rec_.shown.clear();
  rec_.also = [this](uint64_t p) {
    if (p == 2) Press(kSceneBarStop);
  };
  bar_.Play(+1);
  EXPECT_EQ(rec_.shown, (std::vector<uint64_t>{1, 2}));
  EXPECT_EQ(bar_.m_step, 0);
}

TEST_F(VideoPanelTest, KeysAndButtons) {
  bar_.m_count = 5;
  bar_.m_position = 2;
  host_.SetKeyFlags(FgKeyRight);
  bar_.OnKeyStateChanged();
  host_.SetKeyFlags(FgKeyLeft);
  bar_.OnSpecialKeyRepeat();
  bar_.OnKeyStateChanged();
  EXPECT_EQ(rec_.shown, (std::vector<uint64_t>{3, 2, 1}));
  // Shift+Right plays; Up stops it.
  rec_.shown.clear();
  rec_.also = [this](uint64_t p) {
    if (p == 3) {
      host_.SetKeyFlags(FgKeyUp);
      bar_.OnKeyStateChanged();
    }
  };
  host_.SetKeyFlags(FgKeyRight | FgKeyShift);
  bar_.OnKeyStateChanged();
  EXPECT_EQ(rec_.shown, (std::vector<uint64_t>{2, 3}));
  EXPECT_EQ(bar_.m_step, 0);
  rec_.also = nullptr;
  host_.SetKeyFlags(0);

  rec_.shown.clear();
  Press(kSceneBarStepForward);
  Press(kSceneBarStepBack);
  Press(kSceneBarPlayBack);
  EXPECT_EQ(rec_.shown, (std::vector<uint64_t>{4, 3, 2, 1, 0}));
  Press(kSceneBarPlayForward);
  EXPECT_EQ(bar_.m_position, 4u);
  // Nowhere: nothing hovered, a press does nothing.
  bar_.OnMouseMove(5, 1);
  EXPECT_EQ(bar_.m_hovered, -1);
}

TEST_F(VideoPanelTest, ThumbDrag) {
  // 100 scenes on a track of 500 pixels: 5 pixels a scene.
  Place(711);
  ASSERT_EQ(bar_.m_trackEnd - bar_.m_trackStart + 1, 500);
  bar_.m_count = 100;
  bar_.m_position = 10;
  bar_.UpdateThumb();
  Press(kSceneBarThumb);
  const int32_t x0 = int32_t(bar_.m_dragStartX);
  EXPECT_NE(x0, 0);
  EXPECT_EQ(host_.m_captureChild, &bar_);
  bar_.OnMouseMove(x0 + 4, 0);
  EXPECT_TRUE(rec_.shown.empty());
  bar_.OnMouseMove(x0 + 5, 0);
  bar_.OnMouseMove(x0 - 5, 0);
  bar_.OnMouseMove(x0 - 1000, 0);  // clamped at the first scene
  bar_.OnMouseMove(x0 + 100000, 0);
  EXPECT_EQ(rec_.shown, (std::vector<uint64_t>{11, 9, 0, 99}));
  bar_.OnLButtonUp(0, 0);
  EXPECT_EQ(bar_.m_dragStartX, 0u);
  EXPECT_EQ(host_.m_captureChild, nullptr);
}

TEST(VideoPanelIcons, SheetCellsAndFadedRow) {
  CFgTexture t;
  ASSERT_EQ(MakeSceneBarIcons(&t), 1);
  EXPECT_EQ(t.m_columns, 9u);
  EXPECT_EQ(t.m_rows, 2u);
  ASSERT_EQ(t.BytesPerTexel(), 4u);
  auto texel = [&](uint64_t x, uint64_t y) { return t.m_store + (y * t.m_bufferWidth + x) * 4; };
  // A button face is white and opaque; the stop dot black; outside the button transparent.
  EXPECT_EQ(texel(3 * 32 + 8, 8)[0], 255);
  EXPECT_EQ(texel(3 * 32 + 8, 8)[3], 255);
  EXPECT_EQ(texel(3 * 32 + 16, 16)[0], 0);
  EXPECT_EQ(texel(3 * 32 + 16, 16)[3], 255);
  EXPECT_EQ(texel(3 * 32 + 0, 0)[3], 0);
  // Faded copies: half-way to white, alpha kept.
  for (uint64_t x = 0; x < 288; x += 7)
    for (uint64_t y = 0; y < 32; y += 3) {
      const uint8_t* a = texel(x, y);
      const uint8_t* f = texel(x, y + 32);
      for (int k = 0; k < 3; ++k) ASSERT_EQ(f[k], 255 - (255 - a[k]) / 2);
      ASSERT_EQ(f[3], a[3]);
    }
}

}  // namespace

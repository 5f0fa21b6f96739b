// trackhsv_test.cpp - the colour tracker on small synthetic crops (window, binarisation
// steps, the island choice, the preview tint, a box over the picture's edge), its accuracy
// on sub-pixel discs, and the colour panel's picks, undo, bars and layout without a display.
#include "measure/trackhsv.h"

#include <gtest/gtest.h>

#include <cmath>
#include <atomic>
#include <random>
#include <thread>
#include <string>
#include <vector>

#include "core/colour.h"
#include "core/imgbuff.h"
#include "platform/window.h"

namespace {

const int g_headless = (PlatTestSetHeadless(1), 0);

const uint8_t kGray[3] = {128, 128, 128};
const uint8_t kRed[3] = {255, 0, 0};
const uint8_t kBlue[3] = {0, 0, 255};

// Red objects: hue about 0, strongly saturated and bright.
ColourWindow RedWindow()
{
  ColourWindow w;
  w.hue = 0;
  w.halfWidth = 2000;
  w.satLow = 30000;
  w.valLow = 30000;
  return w;
}

void Fill(CImgBuff& pic, int32_t w, int32_t h, const uint8_t c[3])
{
  ASSERT_EQ(1, pic.Allocate(w, h, ImgFormatRgb24));
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) pic.SetRGB8(x, y, c[0], c[1], c[2]);
}

void Block(CImgBuff& pic, int32_t x0, int32_t y0, int32_t x1, int32_t y1, const uint8_t c[3])
{
  for (int32_t y = y0; y <= y1; ++y)
    for (int32_t x = x0; x <= x1; ++x) pic.SetRGB8(x, y, c[0], c[1], c[2]);
}

// An island of n pixels as a run along row y from x (wrapping into the next rows below it).
void Island(CImgBuff& pic, int32_t x, int32_t y, int32_t n, int32_t rowLength)
{
  for (int32_t i = 0; i < n; ++i) pic.SetRGB8(x + i % rowLength, y + i / rowLength, 255, 0, 0);
}

// Object pixels (black) of a binarised crop.
int32_t Objects(const CImgBuff& pic)
{
  int32_t n = 0;
  for (int32_t y = 0; y < pic.Height(); ++y)
    for (int32_t x = 0; x < pic.Width(); ++x) {
      uint8_t g;
      pic.GetGray8(x, y, &g);
      n += g == 0;
    }
  return n;
}

bool Same(const ColourWindow& a, const ColourWindow& b)
{
  return a.hue == b.hue && a.halfWidth == b.halfWidth && a.satLow == b.satLow && a.satHigh == b.satHigh &&
         a.valLow == b.valLow && a.valHigh == b.valHigh;
}

// A colour target with its own tracker, so that it reads the tracker's settings.
struct Target {
  CTrackCtrl ctrl;
  CTrackHSV* track = new CTrackHSV;
  Target(int32_t w, int32_t h, const ColourWindow& window = RedWindow())
  {
    track->w = w;
    track->h = h;
    track->SetWindow(window);
    EXPECT_EQ(0, ctrl.AddTrack(track));
    ctrl.binary.holeFill = 0;
    ctrl.binary.noiseAuto = 0;
  }
};

TEST(ColourWindow, HueWindowCrossingZero)
{
  (void)g_headless;
  ColourWindow w;
  w.hue = 1000;
  w.halfWidth = 2000;
  const struct {
    uint16_t hue;
    bool inside;
  } cases[] = {{65000, true}, {2500, true}, {64536, true}, {3000, true}, {0, true},
               {64000, false}, {3500, false}, {64535, false}, {3001, false}, {32768, false}};
  for (const auto& k : cases) {
    EXPECT_EQ(k.inside, ColourWindowContains(w, k.hue, 40000, 40000)) << k.hue;
    // The engine's binarisation agrees on a colour picture of that hue (as near as 16-bit
    // R, G, B hold it: the test reads back the hue the picture really has).
    uint16_t r, g, b, h, s, v;
    Hsv16ToRgb16(k.hue, 65535, 65535, &r, &g, &b);
    CImgBuff crop;
    ASSERT_EQ(1, crop.Allocate(3, 3, ImgFormatRgb48));
    crop.SetRGB16(1, 1, r, g, b);
    crop.record->GetHSV16(1, 1, &h, &s, &v);
    ColourWindow loose = w;
    loose.satLow = 0;
    loose.valLow = 1;
    Target t(3, 3, loose);
    double x = -1, y = -1;
    EXPECT_EQ(ColourWindowContains(loose, h, s, v) ? 1 : 0, t.track->Locate(&crop, &x, &y)) << k.hue;
    if (ColourWindowContains(loose, h, s, v)) {
      EXPECT_EQ(1.0, x);
      EXPECT_EQ(1.0, y);
    }
  }
  // Saturation and value bounds are inclusive; half width 32768 admits every hue.
  w.halfWidth = 32768;
  w.satLow = 100;
  w.satHigh = 200;
  w.valLow = 300;
  w.valHigh = 400;
  EXPECT_TRUE(ColourWindowContains(w, 32768, 100, 400));
  EXPECT_TRUE(ColourWindowContains(w, 12345, 200, 300));
  EXPECT_FALSE(ColourWindowContains(w, 0, 99, 300));
  EXPECT_FALSE(ColourWindowContains(w, 0, 150, 401));
}

TEST(TrackHsv, NoiseRemovalByBoxSizeAndByManualBounds)
{
  // Islands of 1, 2, 59, 60 and 61 pixels, far apart, in a crop larger than the box: the
  // automatic bounds come from the target's 11 x 11 box (A = 121: at most 1, at least 60).
  CImgBuff pic;
  Fill(pic, 80, 40, kGray);
  Island(pic, 2, 2, 1, 10);
  Island(pic, 6, 2, 2, 10);
  Island(pic, 2, 10, 59, 10);
  Island(pic, 20, 10, 60, 10);
  Island(pic, 40, 10, 61, 10);
  const struct {
    int32_t autoOn, enableL, enableH, low, high;
    int32_t objects;
  } cases[] = {
      {1, 0, 0, 0, 0, 2 + 59},            // auto: 1 and 60 or more removed
      {1, 1, 1, 1000, 1000, 2 + 59},      // auto ignores the manual bounds
      {0, 0, 0, 5, 5, 1 + 2 + 59 + 60 + 61},  // both sides disabled: nothing removed
      {0, 1, 0, 2, 5, 59 + 60 + 61},      // lower only: at most 2 removed
      {0, 0, 1, 2, 60, 1 + 2 + 59},       // upper only: 60 or more removed
      {0, 1, 1, 59, 61, 60},              // both
  };
  for (const auto& k : cases) {
    Target t(11, 11);
    t.ctrl.binary.noiseAuto = k.autoOn;
    t.ctrl.binary.noiseEnableL = k.enableL;
    t.ctrl.binary.noiseEnableH = k.enableH;
    t.ctrl.binary.noiseL = k.low;
    t.ctrl.binary.noiseH = k.high;
    CImgBuff crop;
    crop.CopyFrom(pic);
    ASSERT_EQ(1, t.track->Binarize(&crop, RedWindow(), t.ctrl.binary));
    EXPECT_EQ(k.objects, Objects(crop)) << k.autoOn << k.enableL << k.enableH << " " << k.low << " " << k.high;
  }
}

TEST(TrackHsv, WindowCutRemovesWhatTouchesTheCropEvenTheTarget)
{
  CImgBuff pic;
  Fill(pic, 20, 20, kGray);
  Block(pic, 0, 5, 6, 9, kRed);      // touches the left edge
  Block(pic, 10, 10, 14, 14, kRed);  // inside
  Target t(20, 20);
  t.ctrl.binary.windowCut = 1;
  t.ctrl.binary.multiSelect = 2;  // the larger one would be the edge block
  CImgBuff crop;
  crop.CopyFrom(pic);
  double x, y;
  ASSERT_EQ(1, t.track->Locate(&crop, &x, &y));
  EXPECT_EQ(12.0, x);
  EXPECT_EQ(12.0, y);
  EXPECT_EQ(25, Objects(crop));
  // A box smaller than its object loses it.
  Fill(pic, 9, 9, kRed);
  crop.CopyFrom(pic);
  EXPECT_EQ(0, t.track->Locate(&crop, &x, &y));
  t.ctrl.binary.windowCut = 0;
  crop.CopyFrom(pic);
  EXPECT_EQ(1, t.track->Locate(&crop, &x, &y));
  EXPECT_EQ(4.0, x);
}

TEST(TrackHsv, HolesAreFilledBeforeTheCentreIsTaken)
{
  CImgBuff pic;
  Fill(pic, 20, 20, kGray);
  Block(pic, 4, 4, 12, 12, kRed);
  Block(pic, 5, 5, 7, 7, kGray);  // a hole off the centre pulls the centre without filling
  Target t(20, 20);
  CImgBuff crop;
  double x, y;
  crop.CopyFrom(pic);
  ASSERT_EQ(1, t.track->Locate(&crop, &x, &y));
  EXPECT_GT(x, 8.0);
  t.ctrl.binary.holeFill = 1;
  crop.CopyFrom(pic);
  ASSERT_EQ(1, t.track->Locate(&crop, &x, &y));
  EXPECT_EQ(8.0, x);
  EXPECT_EQ(8.0, y);
}

TEST(TrackHsv, ChoiceAmongSeveralIslands)
{
  // Two equal blocks at equal distances from the crop centre (10, 10), and a third, smaller
  // one farther off.
  CImgBuff pic;
  Fill(pic, 20, 20, kGray);
  Block(pic, 2, 9, 4, 11, kRed);    // centre (3, 10), found second (row 9)
  Block(pic, 15, 9, 17, 11, kRed);  // centre (16, 10)... distance 6 vs 7: not equal
  Block(pic, 9, 2, 11, 4, kRed);    // centre (10, 3), found first: distance 7
  Block(pic, 0, 18, 0, 18, kRed);
  const struct {
    int32_t select;
    int32_t found;
    double x, y;
  } cases[] = {{1, 1, 16, 10}, {2, 1, 10, 3}, {0, 0, 0, 0}, {3, 0, 0, 0}, {-1, 0, 0, 0}};
  for (const auto& k : cases) {
    Target t(20, 20);
    t.ctrl.binary.multiSelect = k.select;
    CImgBuff crop;
    crop.CopyFrom(pic);
    double x = -1, y = -1;
    EXPECT_EQ(k.found, t.track->Locate(&crop, &x, &y)) << k.select;
    if (k.found) {
      EXPECT_EQ(k.x, x) << k.select;
      EXPECT_EQ(k.y, y) << k.select;
    }
  }
  // Exactly equal distances (and areas): the first in extraction order wins both ways.
  Fill(pic, 20, 21, kGray);         // centre (10, 10.5)
  Block(pic, 9, 2, 11, 4, kRed);    // (10, 3), first: 7.5 above
  Block(pic, 9, 17, 11, 19, kRed);  // (10, 18): 7.5 below
  for (int32_t select : {1, 2}) {
    Target t(20, 21);
    t.ctrl.binary.multiSelect = select;
    CImgBuff crop;
    crop.CopyFrom(pic);
    double x, y;
    ASSERT_EQ(1, t.track->Locate(&crop, &x, &y)) << select;
    EXPECT_EQ(3.0, y) << select;
  }
}

TEST(TrackHsv, WindowAdmittingNothingLocatesNothingAndTintsTheWholeCrop)
{
  CImgBuff pic;
  Fill(pic, 8, 8, kRed);
  ColourWindow none = RedWindow();
  none.hue = 32768;  // cyan: no red pixel is inside
  Target t(8, 8, none);
  CImgBuff crop;
  crop.CopyFrom(pic);
  double x, y;
  EXPECT_EQ(0, t.track->Locate(&crop, &x, &y));
  t.ctrl.binary.preview = 0;
  crop.CopyFrom(pic);
  t.track->DrawPreview(&crop);
  for (int32_t yy = 0; yy < 8; ++yy)
    for (int32_t xx = 0; xx < 8; ++xx) {
      uint8_t r, g, b;
      crop.GetRGB8(xx, yy, &r, &g, &b);
      const bool light = ((xx / 4 + yy / 4) & 1) == 0;
      EXPECT_EQ((255 + (light ? 192 : 64)) / 2, r) << xx << "," << yy;
      EXPECT_EQ((0 + (light ? 192 : 64)) / 2, g);
    }
}

TEST(TrackHsv, TintCheckerboardByTintColour)
{
  const struct {
    uint8_t tint[3];
    int light[3], dark[3];
  } cases[] = {{{255, 255, 255}, {192, 192, 192}, {64, 64, 64}},
               {{255, 0, 0}, {192, 0, 0}, {64, 0, 0}},
               {{0, 1, 200}, {0, 192, 192}, {0, 64, 64}},
               {{0, 0, 0}, {127, 127, 127}, {0, 0, 0}}};
  const uint8_t c[3] = {100, 51, 0};
  for (const auto& k : cases) {
    CImgBuff pic;
    Fill(pic, 12, 9, c);
    for (int32_t y = 0; y < 9; ++y)
      for (int32_t x = 0; x < 12; ++x) TintPixel(&pic, x, y, c, k.tint);
    for (int32_t y = 0; y < 9; ++y)
      for (int32_t x = 0; x < 12; ++x) {
        const bool light = ((x / 4 + y / 4) % 2) == 0;  // cells from the top-left corner
        uint8_t got[3];
        pic.GetRGB8(x, y, &got[0], &got[1], &got[2]);
        for (int i = 0; i < 3; ++i)
          EXPECT_EQ((c[i] + (light ? k.light[i] : k.dark[i])) / 2, got[i]) << x << "," << y << " " << i;
      }
  }
}

TEST(TrackHsv, PreviewAfterTheBinarySteps)
{
  // preview 1 tints what is no object after every step (here the noise island too); raw
  // preview tints only what lies outside the window.
  CImgBuff pic;
  Fill(pic, 16, 16, kGray);
  Block(pic, 4, 4, 10, 10, kRed);
  Block(pic, 14, 14, 14, 14, kRed);  // one pixel: removed by the automatic bounds
  Target t(16, 16);
  t.ctrl.binary.noiseAuto = 1;
  t.ctrl.colourR = 0;
  t.ctrl.colourG = 255;
  t.ctrl.colourB = 0;
  for (int32_t preview : {1, 0}) {
    t.ctrl.binary.preview = preview;
    CImgBuff crop;
    crop.CopyFrom(pic);
    t.track->DrawPreview(&crop);
    uint8_t r, g, b;
    crop.GetRGB8(5, 5, &r, &g, &b);
    EXPECT_EQ(255, r);  // the object stays
    EXPECT_EQ(0, g);
    crop.GetRGB8(14, 14, &r, &g, &b);
    EXPECT_EQ(preview ? 127 : 255, r) << preview;  // (255 + 0) / 2 when tinted
    crop.GetRGB8(0, 0, &r, &g, &b);
    EXPECT_EQ(64, r);  // (128 + 0) / 2
    EXPECT_EQ((128 + 192) / 2, g);
  }
}

TEST(TrackHsv, BoxOverThePicturesEdgeUsesTheSmallerCropsCentre)
{
  // Box (-10, 0, 21, 21) over a 30 x 21 picture: the crop is columns 0 to 10, centre
  // (5.5, 10.5).  Of two blocks, the one at column 8 is nearer that centre; the one at
  // column 1 would be nearer the box's own centre (0, 10).
  CImgBuff pic;
  Fill(pic, 30, 21, kGray);
  Block(pic, 0, 9, 2, 11, kRed);
  Block(pic, 7, 9, 9, 11, kRed);
  CTrackCtrl ctrl;
  auto* track = new CTrackHSV;
  track->x = -10;
  track->y = 0;
  track->w = 21;
  track->h = 21;
  track->SetWindow(RedWindow());
  ASSERT_EQ(0, ctrl.AddTrack(track));
  ctrl.TrackFrame(&pic, 0, 0, 1, 0, 0);
  P2dPoint p;
  ASSERT_EQ(1, ctrl.table.GetPoint(0, 0, &p));
  EXPECT_EQ(8.0, p.x);
  EXPECT_EQ(10.0, p.y);
}

TEST(TrackHsv, SplitKeepsTheColourWindow)
{
  CTrackCtrl ctrl;
  auto* track = new CTrackHSV;
  track->SetWindow(RedWindow());
  ASSERT_EQ(0, ctrl.AddTrack(track));
  ctrl.table.SetPoint(0, 0, {3.0, 4.0});
  ASSERT_EQ(1, ctrl.SplitTrack(0, 0));
  ASSERT_EQ(2, ctrl.trackCount);
  ASSERT_EQ(uint32_t(TrackKindColour), ctrl.tracks[1]->kind);
  const ColourWindow w = static_cast<CTrackHSV*>(ctrl.tracks[1])->GetWindow();
  EXPECT_EQ(2000, w.halfWidth);
  EXPECT_EQ(30000, w.satLow);
}

TEST(TrackHsv, WindowChangesReachThePreviewWhole)
{
  // The UI thread replaces the window while the worker paints previews: every preview is
  // that of one of the two windows, never of a mixture (W1's hue with W2's ranges would
  // admit nothing and tint the whole crop).
  CImgBuff pic;
  Fill(pic, 12, 12, kGray);
  Block(pic, 3, 3, 8, 8, kRed);
  ColourWindow w1 = RedWindow();
  ColourWindow w2;  // gray only: hue anywhere, saturation 0, value up to 200 x 257
  w2.satHigh = 0;
  w2.valHigh = 200 * 257;
  Target t(12, 12, w1);
  t.ctrl.binary.preview = 0;
  auto paint = [&](const ColourWindow& w) {
    t.track->SetWindow(w);
    CImgBuff crop;
    crop.CopyFrom(pic);
    t.track->DrawPreview(&crop);
    return std::vector<uint8_t>(static_cast<uint8_t*>(crop.Pixels()), static_cast<uint8_t*>(crop.Pixels()) + 12 * 12 * 3);
  };
  const std::vector<uint8_t> p1 = paint(w1), p2 = paint(w2);
  ASSERT_NE(p1, p2);
  std::atomic<int> stop{0};
  std::thread ui([&] {
    for (int i = 0; !stop.load(); ++i) t.track->SetWindow(i % 2 ? w1 : w2);
  });
  int32_t odd = 0;
  for (int i = 0; i < 300; ++i) {
    CImgBuff crop;
    crop.CopyFrom(pic);
    t.track->DrawPreview(&crop);
    const std::vector<uint8_t> got(static_cast<uint8_t*>(crop.Pixels()), static_cast<uint8_t*>(crop.Pixels()) + 12 * 12 * 3);
    odd += got != p1 && got != p2;
    const ColourWindow w = t.track->GetWindow();
    odd += !(Same(w, w1) || Same(w, w2));
  }
  stop = 1;
  ui.join();
  EXPECT_EQ(0, odd);
}

// Hard-edged disc: a pixel takes the colour when its centre lies within the radius.
void Disc(CImgBuff& pic, double cx, double cy, double radius, const uint8_t c[3])
{
  for (int32_t y = int32_t(std::floor(cy - radius)); y <= int32_t(std::ceil(cy + radius)); ++y)
    for (int32_t x = int32_t(std::floor(cx - radius)); x <= int32_t(std::ceil(cx + radius)); ++x)
      if (x >= 0 && y >= 0 && x < pic.Width() && y < pic.Height() &&
          (x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius)
        pic.SetRGB8(x, y, c[0], c[1], c[2]);
}

TEST(TrackHsv, SubPixelDiscsOnTexture)
{
  std::mt19937 rng(40);
  std::uniform_real_distribution<double> frac(0.0, 1.0);
  std::uniform_int_distribution<int> level(40, 220);
  double sum2 = 0.0, worst = 0.0;
  for (int i = 0; i < 50; ++i) {
    CImgBuff pic;
    ASSERT_EQ(1, pic.Allocate(120, 100, ImgFormatRgb24));
    for (int32_t y = 0; y < 100; ++y)
      for (int32_t x = 0; x < 120; ++x) {
        const uint8_t g = uint8_t(level(rng));
        pic.SetRGB8(x, y, g, g, g);
      }
    const double cx = 50 + frac(rng), cy = 45 + frac(rng);
    Disc(pic, cx, cy, 8.0, kRed);
    Disc(pic, cx + 15 + 3 * frac(rng), cy - 12, 5.0, kBlue);  // another hue inside the box
    Target t(41, 41);
    t.ctrl.binary.noiseAuto = 1;
    t.ctrl.binary.holeFill = 1;
    t.track->x = int32_t(std::lround(cx)) - 20;
    t.track->y = int32_t(std::lround(cy)) - 20;
    CImgBuff crop;
    ASSERT_EQ(1, pic.Crop(crop, t.track->x, t.track->y, t.track->x + 40, t.track->y + 40));
    double x, y;
    ASSERT_EQ(1, t.track->Locate(&crop, &x, &y)) << i;
    const double ex = x + t.track->x - cx, ey = y + t.track->y - cy;
    const double e = std::hypot(ex, ey);
    worst = std::max(worst, e);
    sum2 += e * e;
  }
  EXPECT_LT(worst, 0.5);
  EXPECT_LE(std::sqrt(sum2 / 50), 0.1);
}

// ---- panel --------------------------------------------------------------------------------

// The owner's part: a click asks for a chain run, in which the panel sees the frame.
struct PanelRig {
  CFgUIDialog host;
  CPanelHSV panel;
  CImgBuff frame;
  int32_t changes = 0;
  PanelRig()
  {
    EXPECT_EQ(1, host.Create(-1, -1, 390, 292, L"2D tracking", FgStyleDialog, nullptr));
    panel.Attach(&host);
    panel.m_onChange = [](void* user, CPanelHSV* p) {
      auto* rig = static_cast<PanelRig*>(user);
      ++rig->changes;
      p->OnProcess(&rig->frame, 0, 0, 0, uint64_t(rig->frame.Width()), uint64_t(rig->frame.Height()), 8, 0);
    };
    panel.m_changeUser = this;
  }
  void Check(CFgUIChkButton& box, int32_t on)
  {
    box.m_checked = on;
    box.m_callback(&box, box.m_user);
  }
};

TEST(PanelHsv, SetPickAndUndo)
{
  PanelRig rig;
  const uint8_t orange[3] = {255, 128, 0};
  Fill(rig.frame, 40, 30, orange);
  uint16_t h, s, v;
  Rgb16ToHsv16(255 * 257, 128 * 257, 0, &h, &s, &v);
  const ColourWindow start = RedWindow();
  CTrackHSV red;
  red.SetWindow(start);
  rig.panel.LoadFromTrack(&red);
  EXPECT_EQ(0, rig.panel.m_hueBar.m_position);
  EXPECT_EQ(2000, rig.panel.m_widthBar.m_position);
  EXPECT_EQ(30000, rig.panel.m_satBar.m_low);

  EXPECT_EQ(1, rig.panel.OnLButtonUp(10, 10));  // not picking: the owner's click
  rig.Check(rig.panel.m_setBox, 1);
  EXPECT_EQ(1, rig.changes);
  EXPECT_TRUE(Same(ColourWindow{}, rig.panel.GetWindow()));
  EXPECT_EQ(1, rig.panel.Picking());
  EXPECT_EQ(0, rig.panel.OnLButtonDown(10, 10, 0));
  EXPECT_EQ(0, rig.panel.OnLButtonUp(10, 10));
  EXPECT_EQ(2, rig.changes);
  EXPECT_EQ(0u, rig.panel.m_pickPending);
  const ColourWindow picked = {h, 0, s, s, v, v};
  EXPECT_TRUE(Same(picked, rig.panel.GetWindow()));
  EXPECT_EQ(h, rig.panel.m_hueBar.m_position);
  EXPECT_EQ(0, rig.panel.m_widthBar.m_position);
  EXPECT_EQ(s, rig.panel.m_satBar.m_low);
  EXPECT_EQ(s, rig.panel.m_satBar.m_high);
  EXPECT_EQ(0, rig.panel.m_setBox.m_checked);  // add mode now
  EXPECT_EQ(1, rig.panel.m_addBox.m_checked);
  EXPECT_EQ(1u, rig.panel.m_pickMode);
  EXPECT_EQ(2u, rig.panel.UndoCount());

  EXPECT_EQ(0, rig.panel.OnRButtonDown(0, 0));
  EXPECT_TRUE(Same(ColourWindow{}, rig.panel.GetWindow()));
  EXPECT_EQ(32768, rig.panel.m_widthBar.m_position);
  EXPECT_EQ(0, rig.panel.OnRButtonDown(0, 0));
  EXPECT_TRUE(Same(start, rig.panel.GetWindow()));
  EXPECT_EQ(2000, rig.panel.m_widthBar.m_position);
  const int32_t changes = rig.changes;
  EXPECT_EQ(0, rig.panel.OnRButtonDown(0, 0));  // nothing left: taken, nothing done
  EXPECT_TRUE(Same(start, rig.panel.GetWindow()));
  EXPECT_EQ(changes, rig.changes);
  rig.Check(rig.panel.m_addBox, 0);
  EXPECT_EQ(1, rig.panel.OnRButtonDown(0, 0));  // not picking: the owner's
}

TEST(PanelHsv, AddWidensAndTheBoxIsClippedToThePicture)
{
  PanelRig rig;
  Fill(rig.frame, 20, 20, kGray);
  Block(rig.frame, 0, 0, 1, 1, kRed);
  rig.Check(rig.panel.m_addBox, 1);
  EXPECT_EQ(0, rig.panel.m_setBox.m_checked);
  // From the whole-range window add changes nothing...
  EXPECT_EQ(0, rig.panel.OnLButtonUp(0, 0));
  EXPECT_TRUE(Same(ColourWindow{}, rig.panel.GetWindow()));
  // ... from a narrow one it widens to take in every sample of the clipped 3 x 3 box.
  rig.Check(rig.panel.m_setBox, 1);
  rig.panel.OnLButtonUp(15, 15);  // gray: hue 0, saturation 0, value 128 x 257
  ColourWindow w = rig.panel.GetWindow();
  EXPECT_EQ(0, w.satHigh);
  EXPECT_EQ(128 * 257, w.valLow);
  rig.panel.OnLButtonUp(-1, -1);  // columns and rows 0 to 1: red
  w = rig.panel.GetWindow();
  EXPECT_EQ(0, w.satLow);
  EXPECT_EQ(65534, w.satHigh);
  EXPECT_EQ(65535, w.valHigh);
  // A processing rectangle away from the corner does not cut the box.
  Fill(rig.frame, 20, 20, kBlue);
  rig.Check(rig.panel.m_setBox, 1);
  rig.panel.m_pickPending = 1;
  rig.panel.m_pickX = 13;
  rig.panel.m_pickY = 13;
  EXPECT_EQ(1, rig.panel.OnProcess(&rig.frame, 0, 10, 10, 5, 5, 8, 0));
  EXPECT_EQ(43688, rig.panel.GetWindow().hue);
}

TEST(PanelHsv, BarsEndPickingButKeepTheUndoList)
{
  PanelRig rig;
  Fill(rig.frame, 10, 10, kRed);
  rig.Check(rig.panel.m_setBox, 1);
  ASSERT_EQ(1u, rig.panel.UndoCount());
  rig.panel.m_hueBar.MoveTo(5000);
  EXPECT_EQ(0, rig.panel.Picking());
  EXPECT_EQ(1u, rig.panel.UndoCount());
  EXPECT_EQ(5000, rig.panel.GetWindow().hue);
  rig.panel.m_satBar.m_callback(&rig.panel.m_satBar, rig.panel.m_satBar.m_user, 10, 20);
  rig.panel.m_valBar.m_callback(&rig.panel.m_valBar, rig.panel.m_valBar.m_user, 30, 40);
  rig.panel.m_widthBar.MoveTo(77);
  const ColourWindow w = rig.panel.GetWindow();
  EXPECT_TRUE(Same(ColourWindow{5000, 77, 10, 20, 30, 40}, w));
  // Ticking a box again picks with the kept list; unticking it empties the list.
  rig.Check(rig.panel.m_addBox, 1);
  EXPECT_EQ(1u, rig.panel.UndoCount());
  rig.Check(rig.panel.m_addBox, 0);
  EXPECT_EQ(0u, rig.panel.UndoCount());
  rig.Check(rig.panel.m_setBox, 1);
  rig.panel.ResetPicking();
  EXPECT_EQ(0, rig.panel.Picking());
  EXPECT_EQ(0u, rig.panel.UndoCount());
}

TEST(PanelHsv, TargetsTakeAndGiveTheWindowOnlyOfTheirKind)
{
  PanelRig rig;
  CTrack plain;
  plain.kind = TrackKindBox;
  rig.panel.m_hueBar.MoveTo(1234);
  rig.panel.LoadFromTrack(&plain);
  rig.panel.StoreToTrack(&plain);
  EXPECT_EQ(1234, rig.panel.GetWindow().hue);
  EXPECT_EQ(1234, rig.panel.m_hueBar.m_position);
  CTrack* made = rig.panel.CreateTrack();
  ASSERT_NE(nullptr, made);
  EXPECT_EQ(uint32_t(TrackKindColour), made->kind);
  EXPECT_EQ(nullptr, made->owner);
  EXPECT_EQ(0u, made->lost);
  EXPECT_EQ(1, made->w);
  EXPECT_EQ(1234, static_cast<CTrackHSV*>(made)->GetWindow().hue);
  rig.panel.m_hueBar.MoveTo(99);
  rig.panel.StoreToTrack(made);
  EXPECT_EQ(99, static_cast<CTrackHSV*>(made)->GetWindow().hue);
  delete made;
}

TEST(PanelHsv, LayoutByLanguage)
{
  PanelRig rig;
  // Children in the order the host draws them.
  std::vector<CFgUIObj*> order;
  for (CFgUIObj* c = rig.host.m_firstChild; c; c = c->m_next) order.push_back(c);
  const std::vector<CFgUIObj*> want = {&rig.panel.m_option, &rig.panel.m_hueLabel, &rig.panel.m_widthLabel,
                                       &rig.panel.m_satLabel, &rig.panel.m_valLabel, &rig.panel.m_hueBar,
                                       &rig.panel.m_widthBar, &rig.panel.m_satBar, &rig.panel.m_valBar,
                                       &rig.panel.m_setBox, &rig.panel.m_addBox};
  EXPECT_EQ(want, order);
  for (CFgUIObj* c : want) EXPECT_EQ(0, c->m_visible);
  rig.panel.Build(1, 10, 140, 379, 251, L"jp");
  EXPECT_STREQ(L"色相(中心)", rig.panel.m_hueLabel.m_text);
  EXPECT_STREQ(L"オプション", rig.panel.m_option.m_text);
  EXPECT_EQ(106, rig.panel.m_hueBar.m_x);
  EXPECT_EQ(369 - 104, rig.panel.m_hueBar.m_width);
  EXPECT_EQ(186, rig.panel.m_addBox.m_x);
  EXPECT_EQ(80, rig.panel.m_option.m_width);
  for (CFgUIObj* c : want) EXPECT_EQ(1, c->m_visible);
  rig.panel.Build(1, 10, 140, 379, 251, L"en");
  EXPECT_STREQ(L"H width", rig.panel.m_widthLabel.m_text);
  EXPECT_STREQ(L"color add", rig.panel.m_addBox.m_text);
  EXPECT_EQ(19, rig.panel.m_widthLabel.m_x);
  EXPECT_EQ(90, rig.panel.m_valBar.m_x);
  EXPECT_EQ(208, rig.panel.m_valBar.m_y);
  EXPECT_EQ(369 - 88, rig.panel.m_valBar.m_width);
  EXPECT_EQ(184, rig.panel.m_addBox.m_x);
  // Too narrow a page leaves the bars where they were.
  rig.panel.Build(1, 10, 140, 60, 251, L"en");
  EXPECT_EQ(369 - 88, rig.panel.m_valBar.m_width);
  rig.panel.Build(0, 0, 0, 0, 0, L"en");
  for (CFgUIObj* c : want) EXPECT_EQ(0, c->m_visible);
}

}  // namespace

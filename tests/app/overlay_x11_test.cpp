// overlay_x11_test.cpp - the colour readout of every picker mode and format class, the
// pixel format names, the title, the image information message and the guides over the
// view (filter overlays, scene counter) in the real main window.
#include <gtest/gtest.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "app_test_util.h"
#include "mainscreen_fixture.h"
#include "media/media.h"

#include <GL/gl.h>

namespace {

using mstest::MainScreenFixture;

// ---------------------------------------------------------------------------------------
// Readout texts (no window needed)

struct ReadoutCase {
  const char* name;
  int32_t format;
  void (*fill)(CImgBuff&);
  uint32_t mode;
  const wchar_t* expected;  // after " - 8core (1, 0)"
};

void Red8(CImgBuff& p) { p.SetRGB8(1, 0, 255, 0, 0); }
void Green8(CImgBuff& p) { p.SetRGB8(1, 0, 0, 255, 0); }
void Mixed8(CImgBuff& p) { p.SetRGB8(1, 0, 10, 200, 30); }
void Rgb16(CImgBuff& p) { p.SetRGB16(1, 0, 0xFFFF, 0x8000, 0); }
void Rgb32(CImgBuff& p) { p.SetRGB32(1, 0, 0xFFFFFFFFu, 0x80000000u, 0x12345678u); }
void Gray16(CImgBuff& p) { p.SetGray16(1, 0, 0x1234); }
void Hsv16(CImgBuff& p) { p.SetHSV16(1, 0, 0x8000, 0x4000, 0xFFFF); }
void Cmyk8(CImgBuff& p) { p.SetCMYK8(1, 0, 1, 2, 3, 4); }

TEST(ColorReadout, EveryModeAndFormatClass) {
  const ReadoutCase cases[] = {
      {"rgb class 8", ImgFormatRgb24, Mixed8, 1, L"R:10 G:200 B:30"},
      {"rgb class 8 gray", ImgFormatGray8, nullptr, 1, L"R:0 G:0 B:0"},
      {"rgb class 16", ImgFormatRgb48, Rgb16, 1, L"R:FFFF G:8000 B:0000"},
      {"rgb class 16 gray", ImgFormatGray16, Gray16, 1, L"R:1234 G:1234 B:1234"},
      {"rgb class 32", ImgFormatRgb96, Rgb32, 1, L"R:FFFFFFFF G:80000000 B:12345678"},
      {"hsv red", ImgFormatRgb24, Red8, 2, L"H:0 S:254 V:255"},
      {"hsv green", ImgFormatRgb24, Green8, 2, L"H:118 S:254 V:255"},
      {"hsv black", ImgFormatRgb24, nullptr, 2, L"H:0 S:0 V:0"},
      {"hsv class 16", ImgFormatHsv48, Hsv16, 2, L"H:180 S:4000 V:FFFF"},
      {"cmy class 8", ImgFormatRgb24, Mixed8, 3, L"C:245 M:55 Y:225"},
      {"cmy class 16", ImgFormatRgb48, Rgb16, 3, L"C:0000 M:7FFF Y:FFFF"},
      {"cmy class 32", ImgFormatRgb96, Rgb32, 3, L"C:00000000 M:7FFFFFFF Y:EDCBA987"},
      {"cmyk class 8", ImgFormatCmyk32, Cmyk8, 4, L"C:1 M:2 Y:3 K:4"},
      {"cmyk class 16", ImgFormatRgb48, Rgb16, 4, L"C:0000 M:7FFF Y:FFFF K:0000"},
      {"cmyk class 32", ImgFormatRgb96, Rgb32, 4, L"C:00000000 M:7FFFFFFF Y:EDCBA987 K:00000000"},
  };
  for (const ReadoutCase& c : cases) {
    SCOPED_TRACE(c.name);
    CImgBuff p;
    ASSERT_EQ(p.Allocate(3, 2, c.format), 1);
    if (c.fill) c.fill(p);
    wchar_t out[256];
    FormatColorReadout(out, 256, &p, c.mode, 1, 0, 8);
    EXPECT_EQ(std::wstring(out), std::wstring(L" - 8core (1, 0) ") + c.expected);
  }
}

// Doubles against the well-known values of sRGB white and red (D65).
TEST(ColorReadout, XyzLabAndLchOfWhiteAndRed) {
  CImgBuff p;
  ASSERT_EQ(p.Allocate(2, 1, ImgFormatRgb24), 1);
  p.SetRGB8(0, 0, 255, 255, 255);
  p.SetRGB8(1, 0, 255, 0, 0);
  auto values = [&](uint32_t mode, int32_t x, const wchar_t* pattern, double* a, double* b,
                    double* c) {
    wchar_t out[256];
    FormatColorReadout(out, 256, &p, mode, x, 0, 8);
    return swscanf(out, pattern, a, b, c);
  };
  double a, b, c;
  ASSERT_EQ(values(5, 0, L" - 8core (0, 0) X:%lf Y:%lf Z:%lf", &a, &b, &c), 3);
  EXPECT_NEAR(a, 0.9505, 2e-3);
  EXPECT_NEAR(b, 1.0, 2e-3);
  EXPECT_NEAR(c, 1.089, 2e-3);
  ASSERT_EQ(values(6, 0, L" - 8core (0, 0) L*:%lf a*:%lf b*:%lf", &a, &b, &c), 3);
  EXPECT_NEAR(a, 100.0, 0.05);
  EXPECT_NEAR(b, 0.0, 0.05);
  EXPECT_NEAR(c, 0.0, 0.05);
  ASSERT_EQ(values(6, 1, L" - 8core (1, 0) L*:%lf a*:%lf b*:%lf", &a, &b, &c), 3);
  EXPECT_NEAR(a, 53.24, 0.05);
  EXPECT_NEAR(b, 80.09, 0.1);
  EXPECT_NEAR(c, 67.20, 0.1);
  ASSERT_EQ(values(7, 1, L" - 8core (1, 0) L*:%lf C*:%lf h:%lf", &a, &b, &c), 3);
  EXPECT_NEAR(b, 104.55, 0.1);
  EXPECT_EQ(c, 40.0);  // 39.99 degrees, printed whole
  // Blue has a negative angle: printed from 0 to 360.
  p.SetRGB8(1, 0, 0, 0, 255);
  ASSERT_EQ(values(7, 1, L" - 8core (1, 0) L*:%lf C*:%lf h:%lf", &a, &b, &c), 3);
  EXPECT_EQ(c, 306.0);
}

TEST(ColorReadout, NoValuesOffThePictureOrWithThePickerOff) {
  CImgBuff p, empty;
  ASSERT_EQ(p.Allocate(3, 2, ImgFormatRgb24), 1);
  wchar_t out[256];
  const struct {
    const CImgBuff* picture;
    uint32_t mode;
    int32_t x, y;
  } cases[] = {{&p, 0, 1, 1}, {&p, 1, 3, 0}, {&p, 1, 0, 2}, {&p, 1, -1, 0}, {&empty, 1, 0, 0},
               {&p, 8, 0, 0}, {nullptr, 1, 0, 0}};
  for (const auto& c : cases) {
    FormatColorReadout(out, 256, c.picture, c.mode, c.x, c.y, 8);
    EXPECT_STREQ(out, L" - 8core");
  }
  // A short buffer is cut, never overrun.
  FormatColorReadout(out, 4, &p, 1, 0, 0, 8);
  EXPECT_EQ(wcslen(out), 3u);
}

TEST(ImageFormatNames, BothLanguages) {
  const wchar_t* jp[] = {L"空", L"8bitグレースケール", L"16bitグレースケール", L"32bitグレースケール",
                         L"24bitカラー", L"48bitカラー", L"96bitカラー", L"XYZカラー",
                         L"48bitカラー(HSV)", L"32bitカラー(CMYK)"};
  const wchar_t* en[] = {L"null", L"8bit grayscale", L"16bit grayscale", L"32bit grayscale",
                         L"24bit color", L"48bit color", L"96bit color", L"XYZ color",
                         L"48bit color (HSV)", L"32bit color (CMYK)"};
  for (int f = 0; f <= 9; ++f) {
    EXPECT_STREQ(ImageFormatDisplayName(f, 1), jp[f]);
    EXPECT_STREQ(ImageFormatDisplayName(f, 0), en[f]);
  }
  for (int f : {-1, 10, 1000}) {
    EXPECT_STREQ(ImageFormatDisplayName(f, 1), L"不明な形式");
    EXPECT_STREQ(ImageFormatDisplayName(f, 0), L"unknown");
  }
}

// ---------------------------------------------------------------------------------------
// In the window

// Logs the rectangles and zoom it is drawn with.
class RectFilter : public apptest::RecordingFilter {
 public:
  using RecordingFilter::RecordingFilter;
  void DrawOverlay(PixelToGlFn, PixelToGlFn, CFgScreen*, CFgFont*, int32_t a, int32_t b,
                   int32_t c, int32_t d, int32_t e, int32_t f, int32_t g, int32_t h,
                   int32_t zoom) override {
    char line[128];
    snprintf(line, sizeof line, "overlay(%d,%d,%d,%d;%d,%d,%d,%d;%d)", a, b, c, d, e, f, g, h, zoom);
    Log(line);
  }
};

// Draws a horizontal line over image row y from column x0 to x1 (both included) through the
// converters it is handed, as every measuring filter draws its marks.
class LineFilter : public CImgFilter {
 public:
  void DrawOverlay(PixelToGlFn toGlX, PixelToGlFn toGlY, CFgScreen*, CFgFont*, int32_t vx0,
                   int32_t vy0, int32_t vx1, int32_t vy1, int32_t ix0, int32_t iy0, int32_t ix1,
                   int32_t iy1, int32_t zoom) override {
    int32_t ax = x0, ay = y, bx = x1, by = y;
    ImageToView(&ax, &ay, vx0, vy0, vx1, vy1, ix0, iy0, ix1, iy1, zoom);
    ImageToView(&bx, &by, vx0, vy0, vx1, vy1, ix0, iy0, ix1, iy1, zoom);
    glColor3d(m_guide[0], m_guide[1], m_guide[2]);
    glBegin(GL_LINES);
    glVertex2d(toGlX(ax), toGlY(ay));
    glVertex2d(toGlX(bx + 1), toGlY(by));  // a line leaves out its last pixel
    glEnd();
  }
  int32_t x0 = 0, x1 = 0, y = 0;
};

class Overlay : public MainScreenFixture {
 protected:
  // An uncompressed AVI of n uniform gray frames (128) of w x h at interval us.
  void WriteGrayAvi(const std::string& path, int n, int w, int h, uint64_t us) {
    MediaInfo info{MediaKindVideo, 1, uint64_t(n), 3, uint64_t(w), uint64_t(h), us};
    MediaWriteOptions options{};
    MediaFile* f = MediaCreate(qvtest::Utf8Wide(path).c_str(), &info, &options);
    ASSERT_NE(f, nullptr);
    std::vector<uint8_t> frame(size_t(w) * h * 3, 128);
    for (int i = 0; i < n; ++i) ASSERT_EQ(MediaWriteFrame(f, 0, 0, frame.data()), 1);
    ASSERT_EQ(MediaClose(f), 1);
  }
  // How many pixels of the view's top-left 48 x 20 are mostly channel c (0 red, 1 green):
  // the counter's glyphs are smoothed at their edges.
  int CornerCount(int c) {
    screen_->Redraw();
    int n = 0;
    for (int y = 0; y < 20; ++y)
      for (int x = 0; x < 48; ++x) {
        const std::vector<int> p = screen_->At(screen_->m_view.m_x + x, screen_->m_view.m_y + y);
        if (p[c] > 180 && p[1 - c] < 80 && p[2] < 80) ++n;
      }
    return n;
  }
  int CornerGray() {
    int n = 0;
    for (int y = 0; y < 20; ++y)
      for (int x = 0; x < 48; ++x)
        if (screen_->At(screen_->m_view.m_x + x, screen_->m_view.m_y + y) == std::vector<int>{128, 128, 128}) ++n;
    return n;
  }
  std::vector<std::string> Overlays() {
    std::vector<std::string> out;
    for (auto& l : log_.Take())
      if (l.find("overlay(") != std::string::npos) out.push_back(l.substr(2));
    return out;
  }
  void TearDown() override { MainScreenFixture::TearDown(); }
  apptest::CallLog log_;
};

TEST_F(Overlay, TitleShowsTheCoresTheReadoutAndTheFileName) {
  ASSERT_TRUE(Run("convert -size 40x30 xc:'rgb(10,200,30)' '" + File("name.png") + "'"));
  Open();
  screen_->OpenImage(WFile("name.png").c_str());
  screen_->m_colorPicker = 0;
  screen_->m_cursorX = screen_->m_view.m_x + 5;
  screen_->m_cursorY = screen_->m_view.m_y + 6;
  screen_->UpdateTitle();
  EXPECT_STREQ(screen_->m_windowTitle, L"quorvix mini 1.9.2 - 8core  name.png");
  screen_->m_colorPicker = 1;
  screen_->UpdateTitle();
  EXPECT_STREQ(screen_->m_windowTitle, L"quorvix mini 1.9.2 - 8core (5, 6) R:10 G:200 B:30  name.png");
  // The window's own title follows (as the X server has it).
  EXPECT_NE(PlatTestFindWindowByTitle(screen_->m_windowTitle, int64_t(getpid())), 0u);
  // Off the picture: the cores only.
  screen_->m_cursorX = screen_->m_view.m_x + 300;
  screen_->UpdateTitle();
  EXPECT_STREQ(screen_->m_windowTitle, L"quorvix mini 1.9.2 - 8core  name.png");
  // A mouse move message over the picture updates it.
  PlatMsg move;
  move.kind = PlatMsgMouseMove;
  move.window = screen_->GetWindow();
  move.x = screen_->m_view.m_x + 7;
  move.y = screen_->m_view.m_y + 2;
  PlatPostMessage(move);
  EXPECT_TRUE(toolkittest::PumpUntil(
      [&] { return std::wstring(screen_->m_windowTitle).find(L"(7, 2)") != std::wstring::npos; }, 3000));
}

TEST_F(Overlay, ImageInformationInBothLanguages) {
  WriteGrayAvi(File("v.avi"), 3, 640, 480, 33333);
  ASSERT_TRUE(Run("convert -size 64x32 gradient: -colorspace gray -depth 16 '" + File("g16.png") + "'"));
  Open();
  screen_->ShowImageInfo();
  screen_->SetLanguage(L"jp");
  screen_->ShowImageInfo();
  std::vector<mstest::Shown> shown = TakeMessages();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].text, L"image is not open");
  EXPECT_EQ(shown[0].caption, L"confirmation");
  EXPECT_EQ(shown[1].text, L"画像を開いていません");
  EXPECT_EQ(shown[1].caption, L"確認");

  screen_->OpenImage(WFile("v.avi").c_str());
  EXPECT_EQ(screen_->m_sourceFrameTime, 33u);
  screen_->ShowImageInfo();
  screen_->SetLanguage(L"en");
  screen_->ShowImageInfo();
  screen_->OpenImage(WFile("g16.png").c_str());
  screen_->ShowImageInfo();
  shown = TakeMessages();
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_EQ(shown[0].text, L"幅:640 高:480 24bitカラー 30fps");
  EXPECT_EQ(shown[0].caption, L"画像情報");
  EXPECT_EQ(shown[1].text, L"W:640 H:480 24bit color 30fps");
  EXPECT_EQ(shown[1].caption, L"info");
  EXPECT_EQ(shown[2].text, L"W:64 H:32 16bit grayscale");
}

TEST_F(Overlay, GuidesOnlyInStdWithTheCounterInTheGuideColour) {
  WriteGrayAvi(File("v12.avi"), 12, 96, 64, 40000);
  ASSERT_TRUE(Run("convert -size 96x64 xc:'rgb(128,128,128)' '" + File("still.png") + "'"));
  Open();
  ASSERT_EQ(screen_->m_sidePanel.AddFilter(new RectFilter(&log_, "f"), nullptr), 1);
  screen_->OpenImage(WFile("v12.avi").c_str());
  ASSERT_EQ(screen_->SeekScene(4), 1);
  log_.Take();
  // Red (the first start's guide colour) at the corner: the counter "5/12".
  EXPECT_GT(CornerCount(0), 10);
  EXPECT_FALSE(Overlays().empty());
  Shot("overlay_counter.png");
  screen_->SetGuideColor(2);
  EXPECT_GT(CornerCount(1), 10);
  EXPECT_EQ(CornerCount(0), 0);
  // "Guide off" and "Original": no counter and no filter overlay.
  for (uint32_t mode : {1u, 0u}) {
    screen_->m_displayMode = mode;
    log_.Take();
    EXPECT_EQ(CornerCount(1), 0) << mode;
    EXPECT_TRUE(Overlays().empty()) << mode;
  }
  screen_->m_displayMode = 2;
  // A still: no counter.
  screen_->OpenImage(WFile("still.png").c_str());
  EXPECT_EQ(CornerCount(1), 0);
  EXPECT_EQ(CornerGray(), 48 * 20);
  // Drawn into a texture of the image's size: the guides land on the image's own pixels.
  log_.Take();
  screen_->m_offscreen = 1;
  DrawGuides(screen_, nullptr, 10, 20, 200, 300, 3, 4, 50, 60, 2, screen_);
  screen_->m_offscreen = 0;
  DrawGuides(screen_, nullptr, 10, 20, 200, 300, 3, 4, 50, 60, 2, screen_);
  EXPECT_EQ(Overlays(), (std::vector<std::string>{"overlay(0,0,95,63;0,0,95,63;1)",
                                                  "overlay(10,20,200,300;3,4,50,60;2)"}));
}

// The main window is the overlay's target from its construction: a filter's line lands on
// the window pixels of the image pixels it names, and nowhere else.
TEST_F(Overlay, AFilterLineLandsOnItsImagePixelsInTheMainWindow) {
  ASSERT_TRUE(Run("convert -size 96x64 xc:black '" + File("black.png") + "'"));
  Open();
  screen_->SetGuideColor(7);  // white
  auto* line = new LineFilter;
  line->x0 = 20;
  line->x1 = 59;
  line->y = 30;
  ASSERT_EQ(screen_->m_sidePanel.AddFilter(line, nullptr), 1);
  line->m_filterEnabled = 1;
  screen_->OpenImage(WFile("black.png").c_str());
  screen_->m_view.SetZoom(1);
  screen_->Redraw();
  int lit = 0;
  for (int32_t y = 0; y < 64; ++y)
    for (int32_t x = 0; x < 96; ++x) {
      const std::vector<int> p = screen_->At(screen_->m_view.m_x + x, screen_->m_view.m_y + y);
      if (p[0] < 128) continue;
      ++lit;
      EXPECT_EQ(y, 30) << x;
      EXPECT_TRUE(x >= 20 && x <= 59) << x;
    }
  EXPECT_EQ(lit, 40);
  Shot("overlay_filter_line.png");
}

// Made, the main screen is the target; a second one takes it over, and the first one's end
// leaves it to the second; the last one's end clears it.
TEST_F(Overlay, TheMappingFollowsTheMainScreens) {
  Open();
  const double w = double(screen_->m_clientWidth);
  EXPECT_DOUBLE_EQ(PixelToGlX(0), -1 + 1 / w);
  EXPECT_EQ(OverlayMainWindow(), screen_);
  auto* second = new CMainScreen;
  EXPECT_EQ(OverlayMainWindow(), second);
  delete screen_;
  screen_ = nullptr;
  EXPECT_EQ(OverlayMainWindow(), second);
  delete second;
  EXPECT_EQ(OverlayMainWindow(), nullptr);
  EXPECT_EQ(PixelToGlX(0), 0.0);
}

}  // namespace

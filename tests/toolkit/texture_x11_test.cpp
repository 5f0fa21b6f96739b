// texture_x11_test.cpp - textures on a real X server (Xvfb under scripts/test): store
// geometry, the channel mapping of every picture format, one-to-one drawing, re-upload
// after a context re-creation, binding rules, render-target read-back, GL error names,
// and a texture released on one thread while another draws it.
#include "toolkit/texture.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <future>
#include <random>
#include <thread>
#include <vector>

#include "core/imgbuff.h"
#include "tests/toolkit/x11_test_util.h"

namespace {

using namespace toolkittest;

// Pixel (x, y), row 0 at the top of the window.
const uint8_t* At(const std::vector<uint8_t>& rgb, uint64_t w, uint64_t h, int x, int y) {
  return &rgb[size_t(((h - 1 - uint64_t(y)) * w + uint64_t(x)) * 3)];
}

const uint8_t* Texel(const CFgTexture& t, uint64_t x, uint64_t y) {
  return t.m_store + (y * t.m_bufferWidth + x) * t.BytesPerTexel();
}

TEST(TextureTest, StoreGeometry) {
  CFgTexture t;
  CImgBuff pic;
  ASSERT_TRUE(pic.Allocate(640, 500, ImgFormatRgb24));
  for (int y = 0; y < 500; ++y)
    for (int x = 0; x < 640; ++x) pic.SetRGB8(x, y, 200, 100, 50);
  ASSERT_EQ(UploadImageToTexture(&t, &pic, 1), 1);  // unbound: nothing to send yet
  EXPECT_EQ(t.m_bufferWidth, 1024u);
  EXPECT_EQ(t.m_bufferHeight, 512u);
  EXPECT_EQ(t.m_storeSize, 1024u * 512 * 3);
  EXPECT_EQ(Texel(t, 639, 499)[0], 200);
  EXPECT_EQ(Texel(t, 640, 499)[0], 0);  // padding stays zero
  EXPECT_EQ(Texel(t, 639, 500)[0], 0);

  struct Bad {
    uint64_t cw, ch, cols, rows;
  } bad[] = {{0, 1, 1, 1}, {1, 0, 1, 1}, {1, 1, 0, 1}, {1, 1, 1, 0}, {1u << 20, 1, 1, 1},
             {1u << 15, 1, 1u << 15, 1}};
  for (const Bad& b : bad) {
    EXPECT_EQ(t.Create(b.cw, b.ch, b.cols, b.rows, 0, nullptr), 0);
    EXPECT_EQ(t.m_store, nullptr);
  }
  const uint8_t src[2 * 2 * 4] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  ASSERT_EQ(t.Create(1, 1, 2, 2, 1, src), 1);
  EXPECT_EQ(t.m_bufferWidth, 2u);
  EXPECT_EQ(Texel(t, 1, 1)[3], 16);
  CImgBuff empty;
  EXPECT_EQ(UploadImageToTexture(&t, &empty, 1), 0);
  EXPECT_EQ(UploadImageToTexture(nullptr, &pic, 1), 0);
}

TEST(TextureTest, ChannelMappingOfEveryFormat) {
  struct Case {
    const char* name;
    int32_t format;
    void (*fill)(CImgBuff&);
    uint8_t r, g, b;
  } cases[] = {
      {"gray8", ImgFormatGray8, [](CImgBuff& p) { p.SetGray8(0, 0, 0x5A); }, 0x5A, 0x5A, 0x5A},
      {"gray16", ImgFormatGray16, [](CImgBuff& p) { p.SetGray16(0, 0, 0xABCD); }, 0xAB, 0xAB,
       0xAB},
      {"gray32", ImgFormatGray32, [](CImgBuff& p) { p.SetGray32(0, 0, 0x11223344); }, 0x11,
       0x11, 0x11},
      {"rgb24", ImgFormatRgb24, [](CImgBuff& p) { p.SetRGB8(0, 0, 1, 2, 3); }, 1, 2, 3},
      {"rgb48", ImgFormatRgb48, [](CImgBuff& p) { p.SetRGB16(0, 0, 0x1234, 0x5678, 0x9ABC); },
       0x12, 0x56, 0x9A},
      {"rgb96", ImgFormatRgb96,
       [](CImgBuff& p) { p.SetRGB32(0, 0, 0x10000000, 0x20000000, 0xF0000000); }, 0x10, 0x20,
       0xF0},
      // H, S and V show as R, G and B.
      {"hsv48", ImgFormatHsv48, [](CImgBuff& p) { p.SetHSV16(0, 0, 0x4000, 0x8000, 0xC000); },
       0x40, 0x80, 0xC0},
      // The K channel as gray.
      {"cmyk", ImgFormatCmyk32, [](CImgBuff& p) { p.SetCMYK8(0, 0, 10, 20, 30, 77); }, 77, 77,
       77},
  };
  for (const Case& c : cases) {
    CImgBuff pic;
    ASSERT_TRUE(pic.Allocate(3, 2, c.format));
    c.fill(pic);
    CFgTexture t;
    ASSERT_EQ(UploadImageToTexture(&t, &pic, 1), 1) << c.name;
    const uint8_t* p = Texel(t, 0, 0);
    EXPECT_EQ(p[0], c.r) << c.name;
    EXPECT_EQ(p[1], c.g) << c.name;
    EXPECT_EQ(p[2], c.b) << c.name;
    EXPECT_EQ(Texel(t, 1, 0)[0], 0) << c.name;
  }
  // XYZ goes through the sRGB accessor.
  CImgBuff xyz;
  ASSERT_TRUE(xyz.Allocate(2, 1, ImgFormatXyz));
  xyz.SetXYZ(0, 0, 0.2, 0.3, 0.4);
  xyz.SetXYZ(1, 0, 0.9505, 1.0, 1.089);
  CFgTexture t;
  ASSERT_EQ(UploadImageToTexture(&t, &xyz, 1), 1);
  for (int x = 0; x < 2; ++x) {
    uint8_t r, g, b;
    xyz.GetRGB8(x, 0, &r, &g, &b);
    EXPECT_EQ(Texel(t, uint64_t(x), 0)[0], r);
    EXPECT_EQ(Texel(t, uint64_t(x), 0)[1], g);
    EXPECT_EQ(Texel(t, uint64_t(x), 0)[2], b);
  }
}

TEST(TextureTest, CopyTextureToImageRoundTrip) {
  std::mt19937 rng(5);
  CImgBuff pic, back;
  ASSERT_TRUE(pic.Allocate(37, 19, ImgFormatRgb24));
  uint8_t* px = static_cast<uint8_t*>(pic.Pixels());
  for (int i = 0; i < 37 * 19 * 3; ++i) px[i] = uint8_t(rng());
  CFgTexture t;
  ASSERT_EQ(UploadImageToTexture(&t, &pic, 1), 1);
  ASSERT_EQ(CopyTextureToImage(&back, &t), 1);
  ASSERT_EQ(back.Width(), 37);
  ASSERT_EQ(back.Format(), ImgFormatRgb24);
  EXPECT_EQ(memcmp(back.Pixels(), pic.Pixels(), 37 * 19 * 3), 0);
  const uint8_t rgba[2 * 4] = {1, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_EQ(t.Create(2, 1, 1, 1, 1, rgba), 1);
  ASSERT_EQ(CopyTextureToImage(&back, &t), 1);
  const uint8_t* b = static_cast<const uint8_t*>(back.Pixels());
  EXPECT_EQ(b[3], 5);  // alpha dropped
  CFgTexture empty;
  EXPECT_EQ(CopyTextureToImage(&back, &empty), 0);
}

class Screen : public CFgScreen {};

// A 4 x 2 checker of known colours drawn 1:1 at (10, 20) of a window.
struct Checker {
  uint8_t rgb[4 * 2 * 3];
  Checker() {
    for (int i = 0; i < 8; ++i) {
      rgb[i * 3] = uint8_t(30 * i);
      rgb[i * 3 + 1] = uint8_t(255 - 30 * i);
      rgb[i * 3 + 2] = uint8_t(i & 1 ? 200 : 40);
    }
  }
};

void ExpectChecker(const std::vector<uint8_t>& px, uint64_t w, uint64_t h, const Checker& c) {
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) {
      const uint8_t* p = At(px, w, h, 10 + x, 20 + y);
      const uint8_t* e = c.rgb + (y * 4 + x) * 3;
      EXPECT_EQ(p[0], e[0]) << x << "," << y;
      EXPECT_EQ(p[1], e[1]) << x << "," << y;
      EXPECT_EQ(p[2], e[2]) << x << "," << y;
    }
}

TEST(TextureX11Test, DrawsOneToOneAndUploadsAgainAfterAContextRenewal) {
  REQUIRE_DISPLAY();
  Screen s;
  ASSERT_TRUE(s.Create(50, 50, 160, 120, L"texture", 0, nullptr));
  Checker c;
  CFgTexture t;
  ASSERT_EQ(t.Create(4, 2, 1, 1, 0, c.rgb), 1);
  ASSERT_EQ(t.AttachToScreen(&s), 1);
  EXPECT_GT(FgMaxTextureSize(), 0u);
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(s.BeginDraw());
    EXPECT_EQ(t.DrawSubRect(10, 20, 0, 0, 0, 0, 4, 2), 1);
    ExpectChecker(ReadBack(s.m_clientWidth, s.m_clientHeight), s.m_clientWidth,
                  s.m_clientHeight, c);
    s.EndDraw(1);
    if (round == 0) {
      uint64_t gen = s.m_contextGeneration;
      ASSERT_TRUE(s.Create(-1, -1, 160, 120, nullptr, 0, nullptr));  // new context
      ASSERT_NE(s.m_contextGeneration, gen);
    }
  }
  EXPECT_EQ(t.m_uploadGeneration, s.m_contextGeneration);
  // DrawCell of the whole cell, and a cell beyond the grid.
  ASSERT_TRUE(s.BeginDraw());
  EXPECT_EQ(t.DrawCell(10, 20, 0, 0, 0), 1);
  ExpectChecker(ReadBack(s.m_clientWidth, s.m_clientHeight), s.m_clientWidth,
                s.m_clientHeight, c);
  const double xs[4] = {0, 4, 4, 0}, ys[4] = {0, 0, 2, 2};
  EXPECT_EQ(t.DrawCellQuad(xs, ys, 1, 1, 1), 0);
  EXPECT_EQ(t.DrawSubRect(0, 0, 0, 0, 0, 0, 0, 2), 0);
  s.EndDraw(0);
  t.ReleaseGL();
  EXPECT_EQ(t.m_screen, nullptr);
  EXPECT_EQ(t.m_hasGlName, 0);
  EXPECT_NE(t.m_store, nullptr);  // the store stays
}

TEST(TextureX11Test, BindingRulesAndCopies) {
  REQUIRE_DISPLAY();
  Screen a, b;
  ASSERT_TRUE(a.Create(40, 40, 120, 80, L"a", 0, nullptr));
  ASSERT_TRUE(b.Create(200, 40, 120, 80, L"b", 0, nullptr));
  Checker c;
  CFgTexture t, u, empty;
  ASSERT_EQ(t.Create(4, 2, 1, 1, 0, c.rgb), 1);
  EXPECT_EQ(empty.AttachToScreen(&a), 0);  // no store
  ASSERT_EQ(t.AttachToScreen(&a), 1);
  EXPECT_EQ(t.AttachToScreen(&b), 0);      // bound to another screen
  EXPECT_EQ(t.AttachToScreen(&a), 1);
  // A copy of an empty texture empties the destination; both stay usable.
  u.CopyFrom(&t);
  ASSERT_NE(u.m_store, nullptr);
  EXPECT_EQ(memcmp(u.m_store, t.m_store, size_t(t.m_storeSize)), 0);
  ASSERT_EQ(u.AttachToScreen(&b), 1);
  u.CopyFrom(&empty);
  EXPECT_EQ(u.m_store, nullptr);
  EXPECT_EQ(u.m_bufferWidth, 0u);
  ASSERT_TRUE(b.BeginDraw());
  EXPECT_EQ(u.DrawCell(0, 0, 0, 0, 0), 0);
  b.EndDraw(0);
  u.CopyFrom(&t);
  ASSERT_TRUE(b.BeginDraw());
  EXPECT_EQ(u.DrawSubRect(10, 20, 0, 0, 0, 0, 4, 2), 1);
  ExpectChecker(ReadBack(b.m_clientWidth, b.m_clientHeight), b.m_clientWidth,
                b.m_clientHeight, c);
  b.EndDraw(0);
  t.ReleaseGL();
  EXPECT_EQ(t.AttachToScreen(&b), 1);  // free again after the release
}

// A picture of the geometry the texture already has goes into the same store and the same
// GL storage (only the content is sent); the GL texture then equals the store, padding
// zeros included.  Another size makes a new store.
TEST(TextureX11Test, SameGeometryIsUpdatedInPlace) {
  REQUIRE_DISPLAY();
  Screen s;
  ASSERT_TRUE(s.Create(50, 50, 160, 120, L"in place", 0, nullptr));
  CFgTexture t;
  auto picture = [](CImgBuff& p, int w, int h, int seed) {
    ASSERT_EQ(p.Allocate(w, h, ImgFormatRgb24), 1);
    uint8_t* b = static_cast<uint8_t*>(p.Pixels());
    for (int i = 0; i < w * h * 3; ++i) b[i] = uint8_t(i * 7 + seed);
  };
  auto glMatchesStore = [&] {
    std::vector<uint8_t> gl(size_t(t.m_storeSize));
    EXPECT_TRUE(s.BeginDraw());
    glBindTexture(GL_TEXTURE_2D, t.m_glName);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, gl.data());
    glBindTexture(GL_TEXTURE_2D, 0);
    s.EndDraw(0);
    return memcmp(gl.data(), t.m_store, gl.size()) == 0;
  };
  CImgBuff a, b, c;
  picture(a, 5, 3, 1);
  picture(b, 5, 3, 100);
  picture(c, 9, 3, 50);
  ASSERT_EQ(UploadImageToTexture(&t, &a, 1), 1);
  ASSERT_EQ(t.AttachToScreen(&s), 1);
  const uint8_t* store = t.m_store;
  const uint32_t name = t.m_glName;
  EXPECT_TRUE(glMatchesStore());
  ASSERT_EQ(UploadImageToTexture(&t, &b, 1), 1);
  EXPECT_EQ(t.m_store, store);
  EXPECT_EQ(t.m_glName, name);
  EXPECT_EQ(Texel(t, 4, 2)[2], static_cast<const uint8_t*>(b.Pixels())[(2 * 5 + 4) * 3 + 2]);
  EXPECT_EQ(Texel(t, 5, 2)[0], 0);  // padding
  EXPECT_TRUE(glMatchesStore());
  ASSERT_EQ(UploadImageToTexture(&t, &c, 1), 1);
  EXPECT_EQ(t.m_bufferWidth, 16u);
  EXPECT_EQ(t.m_glName, name);
  EXPECT_TRUE(glMatchesStore());
  // Back to the first size after a render target drew over the whole buffer: the padding
  // is sent again.
  ASSERT_EQ(UploadImageToTexture(&t, &a, 1), 1);
  if (t.BeginRenderTarget()) {
    glClearColor(1, 1, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    t.EndRenderTarget();
    ASSERT_EQ(UploadImageToTexture(&t, &b, 1), 1);
    EXPECT_TRUE(glMatchesStore());
  }
}

TEST(TextureX11Test, RenderTargetReadsBackWithRowZeroAtTheBottom) {
  REQUIRE_DISPLAY();
  Screen s;
  ASSERT_TRUE(s.Create(60, 60, 100, 100, L"target", 0, nullptr));
  ASSERT_TRUE(s.BeginDraw());
  int have = LoadFramebufferExt();
  s.EndDraw(0);
  if (!have) GTEST_SKIP() << "no GL_EXT_framebuffer_object";
  CFgTexture t;
  ASSERT_EQ(t.Create(8, 4, 1, 1, 0, nullptr), 1);
  EXPECT_EQ(t.BeginRenderTarget(), 0);  // not attached yet
  ASSERT_EQ(t.AttachToScreen(&s), 1);
  ASSERT_EQ(t.BeginRenderTarget(), 1);
  EXPECT_EQ(FgGetDrawSurface().kind, 2);
  EXPECT_EQ(s.m_renderTargetWidth, 8u);
  glClearColor(1, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  glClearColor(0, 0, 0, 0);
  // The bottom row of the target green, through the texture's own coordinate rules.
  glColor3d(0, 1, 0);
  glBegin(GL_QUADS);
  glVertex2d(-1, -1);
  glVertex2d(1, -1);
  glVertex2d(1, -1 + 2.0 / 4);
  glVertex2d(-1, -1 + 2.0 / 4);
  glEnd();
  t.EndRenderTarget();
  EXPECT_EQ(s.m_renderTargetWidth, 0u);
  EXPECT_EQ(FgGetDrawSurface().kind, 0);
  EXPECT_EQ(t.m_renderTargetActive, 0);
  for (uint64_t x = 0; x < 8; ++x) {
    EXPECT_EQ(Texel(t, x, 0)[1], 255) << x;  // store row 0 = the bottom
    EXPECT_EQ(Texel(t, x, 0)[0], 0) << x;
    EXPECT_EQ(Texel(t, x, 1)[0], 255) << x;
    EXPECT_EQ(Texel(t, x, 3)[1], 0) << x;
  }
  EXPECT_EQ(Texel(t, 8, 0)[1], 0);  // only the first cell is read back
}

TEST(TextureX11Test, GlErrorTextAndTooLargePictures) {
  REQUIRE_DISPLAY();
  Screen s;
  ASSERT_TRUE(s.Create(60, 60, 100, 100, L"errors", 0, nullptr));
  ASSERT_TRUE(s.BeginDraw());
  while (glGetError() != GL_NO_ERROR) {
  }
  EXPECT_EQ(GlErrorText(), nullptr);
  glEnable(0x7FFF);
  const char* e = GlErrorText();
  ASSERT_NE(e, nullptr);
  EXPECT_STREQ(e, "GL_INVALID_ENUM");
  glPopMatrix();  // nothing pushed
  e = GlErrorText();
  ASSERT_NE(e, nullptr);
  EXPECT_STREQ(e, "GL_STACK_UNDERFLOW");
  EXPECT_EQ(GlErrorText(), nullptr);
  s.EndDraw(0);
  // A picture whose padded store is wider than the largest texture is refused.
  CFgTexture t;
  ASSERT_EQ(t.Create(4, 4, 1, 1, 0, nullptr), 1);
  ASSERT_EQ(t.AttachToScreen(&s), 1);
  uint64_t max = FgMaxTextureSize();
  ASSERT_GT(max, 0u);
  CImgBuff wide;
  ASSERT_TRUE(wide.Allocate(int32_t(max + 1), 1, ImgFormatGray8));
  EXPECT_EQ(UploadImageToTexture(&t, &wide, 1), 0);
  CImgBuff fits;
  ASSERT_TRUE(fits.Allocate(int32_t(max), 1, ImgFormatGray8));
  EXPECT_EQ(UploadImageToTexture(&t, &fits, 1), 1);
}

// The filter worker draws a view texture while the UI thread releases and re-binds it and
// uploads new pictures: with the draw lock always taken before the texture's lock, both
// finish.
TEST(TextureX11Test, ReleasedOnOneThreadWhileAnotherDraws) {
  REQUIRE_DISPLAY();
  Screen s;
  ASSERT_TRUE(s.Create(60, 60, 120, 90, L"threads", 0, nullptr));
  CImgBuff pic;
  ASSERT_TRUE(pic.Allocate(64, 48, ImgFormatRgb24));
  CFgTexture t;
  ASSERT_EQ(UploadImageToTexture(&t, &pic, 1), 1);
  ASSERT_EQ(t.AttachToScreen(&s), 1);
  std::atomic<int> stop{0};
  std::atomic<int> draws{0};
  auto work = std::async(std::launch::async, [&] {
    std::thread drawer([&] {
      while (!stop.load()) {
        if (s.BeginDraw()) {
          t.DrawSubRect(0, 0, 0, 0, 0, 0, 64, 48);
          t.DrawFill();
          s.EndDraw(1);
          ++draws;
        }
      }
    });
    // At least 30 rounds, and on until the drawer has drawn (bounded, should drawing fail):
    // the releases are meant to meet its drawing, however late it got to run.
    for (int i = 0; i < 30 || (draws.load() == 0 && i < 100000); ++i) {
      t.ReleaseGL();
      pic.SetRGB8(i % 64, 0, uint8_t(i), 0, 0);
      UploadImageToTexture(&t, &pic, 1);
      t.AttachToScreen(&s);
      CFgTexture copy;
      copy.CopyFrom(&t);
    }
    stop = 1;
    drawer.join();
  });
  if (work.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
    ADD_FAILURE() << "deadlock between drawing and releasing";
    std::_Exit(1);
  }
  EXPECT_GT(draws.load(), 0);
}

}  // namespace

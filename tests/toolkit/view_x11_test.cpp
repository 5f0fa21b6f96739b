// view_x11_test.cpp - menus and the picture view on a real X server: a bar menu closed by
// an outside click, a submenu item chosen by mouse and by keys, a 640 x 480 picture at
// zoom codes 0, 1 and 2 read back from the window, re-upload after a resize, and the
// picture with its overlay drawn into a render target. Screenshots go to QV_TEST_OUT_DIR.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "core/imgbuff.h"
#include "toolkit/menu.h"
#include "toolkit/picture.h"
#include "toolkit/texture.h"
#include "tests/toolkit/x11_test_util.h"

namespace {

using namespace toolkittest;

void SavePpm(const std::string& name, const std::vector<unsigned char>& topFirst, uint64_t w,
             uint64_t h) {
  std::string path = std::string(QV_TEST_OUT_DIR) + "/" + name + ".ppm";
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return;
  fprintf(f, "P6\n%llu %llu\n255\n", (unsigned long long)w, (unsigned long long)h);
  fwrite(topFirst.data(), 1, topFirst.size(), f);
  fclose(f);
  std::string cmd = "/usr/bin/convert " + path + " " + std::string(QV_TEST_OUT_DIR) + "/" +
                    name + ".png 2>/dev/null";
  if (system(cmd.c_str()) != 0) return;
}

// The back buffer of the current drawing section, top row first.
std::vector<unsigned char> ReadWindow(uint64_t w, uint64_t h) {
  std::vector<unsigned char> rgb = ReadBack(w, h), top(size_t(w * h * 3));
  for (uint64_t y = 0; y < h; ++y)
    std::copy(&rgb[size_t((h - 1 - y) * w * 3)], &rgb[size_t((h - y) * w * 3)],
              &top[size_t(y * w * 3)]);
  return top;
}

// ---------------------------------------------------------------------------------------
// Menus
struct MenuScript {
  int mode = 0;  // 0 outside click, 1 mouse, 2 keys
  int stage = 0;
  int result = -99;
  int shot = 0;
};
MenuScript* g_script = nullptr;

void Move(CFgUIMenu* m, int x, int y) {
  PlatMsg msg;
  msg.kind = PlatMsgMouseMove;
  msg.window = m->GetWindow();
  msg.x = x;
  msg.y = y;
  PlatPostMessage(msg);
}
void Click(CFgUIMenu* m, int x, int y) {
  PlatTestSendInput(m->GetWindow(), 0, 1, x, y);
  PlatTestSendInput(m->GetWindow(), 1, 1, x, y);
}
void Key(CFgUIMenu* m, uint32_t keysym) {
  PlatTestSendInput(m->GetWindow(), 2, keysym, 0, 0);
  PlatTestSendInput(m->GetWindow(), 3, keysym, 0, 0);
}

void Shoot(CFgUIMenu* m, const char* name) {
  if (!m->BeginDraw()) return;
  m->DrawMenu();  // nested: no swap, the back buffer keeps the drawing
  std::vector<unsigned char> px = ReadWindow(m->m_clientWidth, m->m_clientHeight);
  m->EndDraw(0);
  SavePpm(name, px, m->m_clientWidth, m->m_clientHeight);
}

void Drive(CFgUIMenuCtrl* root) {
  MenuScript* s = g_script;
  if (!s) return;
  CFgUIMenu* top = root->m_top;
  if (root->m_done) {
    s->result = root->m_chosen;
    return;
  }
  int p = top->m_pitch;
  CFgUIMenu* sub = top->m_count > 1 ? top->m_items[1].submenu : nullptr;
  if (s->stage == 0) {
    s->stage = 1;
    if (s->mode == 0) {
      Click(top, -40, -40);
    } else if (s->mode == 1) {
      Move(top, 5, 2 + p + 3);
      Click(top, 5, 2 + p + 3);
    } else {
      Key(top, 0xff54);  // Down: A
      Key(top, 0xff54);  // Down: B
      Key(top, 0xff53);  // Right: the submenu, its first item
    }
  } else if (s->stage == 1 && sub && root->m_active == sub && sub->m_visible) {
    s->stage = 2;
    Shoot(sub, s->mode == 1 ? "menu_submenu_mouse" : "menu_submenu_keys");
    if (s->mode == 1) {
      Move(sub, 5, 2 + 3);
      Click(sub, 5, 2 + 3);
    } else {
      Key(sub, 0xff0d);  // Return
    }
  }
}

struct BarCall {
  int calls = 0, menu = -1, id = -1;
};
void OnBar(CFgUIMenuBar*, void* user, int32_t menu, int32_t id) {
  BarCall* c = static_cast<BarCall*>(user);
  ++c->calls;
  c->menu = menu;
  c->id = id;
}

TEST(ViewX11Test, BarMenuClosesOnOutsideClick) {
  REQUIRE_DISPLAY();
  CFgUIDialog dlg;
  CFgUIMenuBar bar;
  BarCall call;
  bar.m_callback = OnBar;
  bar.m_user = &call;
  ASSERT_EQ(bar.AddMenu(L"File", L"Save image\t1\nSave CSV\t101\n", nullptr, nullptr), 0);
  dlg.AddChild(&bar);
  ASSERT_EQ(dlg.Create(60, 60, 300, 120, L"menu bar", FgStyleDialog, nullptr), 1);
  MenuScript script;
  script.mode = 0;
  g_script = &script;
  FgSetPopupMenuHook(Drive);
  ASSERT_EQ(PlatTestSendInput(dlg.GetWindow(), 0, 1, 15, 8), 1);
  ASSERT_EQ(PlatTestSendInput(dlg.GetWindow(), 1, 1, 15, 8), 1);
  EXPECT_EQ(PumpUntil([&] { return script.result != -99; }, 5000), 1);
  FgSetPopupMenuHook(nullptr);
  g_script = nullptr;
  EXPECT_EQ(script.result, -1);
  EXPECT_EQ(call.calls, 0);
  EXPECT_EQ(bar.m_highlight, -1);
  dlg.Destroy();
}

TEST(ViewX11Test, SubmenuItemByMouseAndByKeys) {
  REQUIRE_DISPLAY();
  CFgUIDialog owner;
  ASSERT_EQ(owner.Create(40, 40, 200, 100, L"owner", FgStyleDialog, nullptr), 1);
  for (int mode = 1; mode <= 2; ++mode) {
    MenuScript script;
    script.mode = mode;
    g_script = &script;
    FgSetPopupMenuHook(Drive);
    int32_t r = FgPopupMenu(L"A\t1\nB\t{C\t2\n}\n", owner.m_x + 20, owner.m_y + 20, &owner,
                            &owner, -1);
    FgSetPopupMenuHook(nullptr);
    g_script = nullptr;
    EXPECT_EQ(r, 2) << mode;
    EXPECT_EQ(script.stage, 2) << mode;
  }
  owner.Destroy();
}

// ---------------------------------------------------------------------------------------
// Picture view
// A 640 x 480 picture: red left half, blue right half, a green 8 x 8 square at (0, 0).
void MakePicture(CImgBuff* pic) {
  ASSERT_EQ(pic->Allocate(640, 480, 4), 1);
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x) {
      int green = x < 8 && y < 8;
      pic->SetRGB8(x, y, green ? 0 : (x < 320 ? 255 : 0), green ? 255 : 0,
                   green ? 0 : (x < 320 ? 0 : 255));
    }
}

struct Overlay {
  int calls = 0;
  int wx0 = 0, wy0 = 0, wx1 = 0, wy1 = 0, px0 = 0, py0 = 0, px1 = 0, py1 = 0, zoom = -9;
};
// Paints a white 4 x 4 square at picture (100, 100) through the window rectangle.
void DrawOverlay(CFgScreen* s, CFgFont*, int32_t wx0, int32_t wy0, int32_t wx1, int32_t wy1,
                 int32_t px0, int32_t py0, int32_t px1, int32_t py1, int32_t zoom, void* user) {
  Overlay* o = static_cast<Overlay*>(user);
  *o = {o->calls + 1, wx0, wy0, wx1, wy1, px0, py0, px1, py1, zoom};
  double sx = double(wx1 - wx0 + 1) / (px1 - px0 + 1), sy = double(wy1 - wy0 + 1) / (py1 - py0 + 1);
  int x0 = wx0 + int((100 - px0) * sx), y0 = wy0 + int((100 - py0) * sy);
  // Into a render target an owner maps rows unflipped over the whole buffer (row 0 at the
  // bottom reads back as row 0), as the main screen's overlay converters do; into a window
  // it uses the screen's rule.
  const FgDrawSurface surface = FgGetDrawSurface();
  const bool target = surface.kind == 2;
  auto gx = [&](double x) { return target ? (x - surface.width / 2.0) / (surface.width / 2.0) : s->PixelToGlX(int32_t(x)); };
  auto gy = [&](double y) { return target ? (y - surface.height / 2.0) / (surface.height / 2.0) : s->PixelToGlY(int32_t(y)); };
  glColor3d(1, 1, 1);
  glBegin(GL_QUADS);
  glVertex2d(gx(x0), gy(y0));
  glVertex2d(gx(x0 + 4 * sx), gy(y0));
  glVertex2d(gx(x0 + 4 * sx), gy(y0 + 4 * sy));
  glVertex2d(gx(x0), gy(y0 + 4 * sy));
  glEnd();
}

class PictureDialog : public CFgUIDialog {
 public:
  CFgUIPicture view;
  std::vector<unsigned char> last;
  int grab = 0;
  void DrawOverlay() override {
    if (grab) last = ReadWindow(m_clientWidth, m_clientHeight);
  }
};

const unsigned char* Px(const std::vector<unsigned char>& rgb, uint64_t w, int x, int y) {
  return &rgb[size_t((uint64_t(y) * w + uint64_t(x)) * 3)];
}

TEST(ViewX11Test, PictureAtZoomCodesResizeAndContent) {
  REQUIRE_DISPLAY();
  CImgBuff pic;
  MakePicture(&pic);
  PictureDialog dlg;
  Overlay ov;
  dlg.view.SetRect(0, 0, 400, 300);
  dlg.view.m_overlay = DrawOverlay;
  dlg.view.m_user = &ov;
  dlg.AddChild(&dlg.view);
  ASSERT_EQ(dlg.Create(80, 80, 400, 300, L"picture", FgStyleResizable, nullptr), 1);
  ASSERT_EQ(UploadImageToTexture(dlg.view.ReleaseTexture(), &pic, 1), 1);
  dlg.view.Layout();

  struct Case {
    int zoom;
    int hUsed, hPage, vUsed, vPage;
    int gx, gy;  // a pixel inside the green corner square
    int rx, ry;  // a red pixel
  } cases[] = {
      {0, 0, 1, 0, 1, 2, 2, 100, 150},
      {1, 1, 384, 1, 284, -1, -1, 10, 150},
      {2, 1, 192, 1, 142, -1, -1, 10, 150},
  };
  dlg.grab = 1;
  for (const Case& c : cases) {
    dlg.view.SetZoom(c.zoom);
    if (c.zoom >= 1) {  // look at the top-left corner
      dlg.view.m_hBar.m_position = 0;
      dlg.view.m_vBar.m_position = 0;
    }
    dlg.Redraw();
    EXPECT_EQ(dlg.view.m_hBarUsed, c.hUsed) << c.zoom;
    EXPECT_EQ(dlg.view.m_hBar.m_page, c.hPage) << c.zoom;
    EXPECT_EQ(dlg.view.m_vBarUsed, c.vUsed) << c.zoom;
    EXPECT_EQ(dlg.view.m_vBar.m_page, c.vPage) << c.zoom;
    if (c.hUsed) {
      EXPECT_EQ(dlg.view.m_hBar.m_maximum, 639);
    }
    if (c.vUsed) {
      EXPECT_EQ(dlg.view.m_vBar.m_maximum, 479);
    }
    ASSERT_EQ(dlg.last.size(), size_t(400 * 300 * 3));
    int z = c.zoom < 1 ? 1 : c.zoom;
    int gx = c.zoom == 0 ? 2 : 2 * z, gy = c.zoom == 0 ? 2 : 2 * z;
    const unsigned char* g = Px(dlg.last, 400, gx, gy);
    EXPECT_TRUE(g[1] > 200 && g[0] < 50) << "green at zoom " << c.zoom;
    const unsigned char* r = Px(dlg.last, 400, c.rx, c.ry);
    EXPECT_TRUE(r[0] > 200 && r[2] < 50) << "red at zoom " << c.zoom;
    if (c.zoom >= 1) {  // the overlay lands on picture pixel (100, 100)
      const unsigned char* w = Px(dlg.last, 400, 100 * z + 1, 100 * z + 1);
      EXPECT_TRUE(w[0] > 200 && w[1] > 200 && w[2] > 200) << "overlay at zoom " << c.zoom;
      EXPECT_EQ(ov.zoom, c.zoom);
    }
    SavePpm("picture_zoom_" + std::to_string(c.zoom), dlg.last, 400, 300);
  }

  // A size message re-creates the GL context (as every real resize does): the texture is
  // uploaded again by itself; the view is laid out for its new rectangle.
  dlg.view.SetZoom(0);
  PlatMsg size;
  size.kind = PlatMsgSize;
  size.window = dlg.GetWindow();
  size.x = int32_t(dlg.m_clientWidth);
  size.y = int32_t(dlg.m_clientHeight);
  uint64_t generation = dlg.m_contextGeneration;
  PlatDispatchMessage(size);
  ASSERT_NE(dlg.m_contextGeneration, generation);
  dlg.view.SetRect(0, 0, 300, 200);
  dlg.Redraw();
  ASSERT_EQ(dlg.last.size(), size_t(400 * 300 * 3));
  EXPECT_EQ(dlg.view.m_texture.m_uploadGeneration, dlg.m_contextGeneration);
  // fit: 200 * 640 / 480 = 266 wide, x0 = 149 - 133 = 16
  EXPECT_EQ(dlg.view.m_fitRect.x0, 16);
  EXPECT_EQ(dlg.view.m_fitRect.x1, 281);
  const unsigned char* red = Px(dlg.last, 400, 60, 100);
  EXPECT_TRUE(red[0] > 200 && red[2] < 50);
  const unsigned char* blue = Px(dlg.last, 400, 250, 100);
  EXPECT_TRUE(blue[2] > 200 && blue[0] < 50);
  const unsigned char* outside = Px(dlg.last, 400, 350, 100);  // dialog face
  EXPECT_TRUE(outside[0] > 200 && outside[2] > 200);
  SavePpm("picture_resized", dlg.last, 400, 300);
  dlg.grab = 0;

  // The whole picture with its overlay into a render target of the picture's size.
  CFgTexture target;
  ASSERT_EQ(target.Create(640, 480, 1, 1, 0, nullptr), 1);
  ASSERT_EQ(target.AttachToScreen(&dlg), 1);
  if (!target.BeginRenderTarget()) GTEST_SKIP() << "no framebuffer objects";
  dlg.view.DrawContent(&dlg, dlg.m_font);
  target.EndRenderTarget();
  EXPECT_EQ(ov.zoom, 1);
  EXPECT_EQ(ov.wx1, 639);
  EXPECT_EQ(ov.py1, 479);
  CImgBuff out;
  ASSERT_EQ(CopyTextureToImage(&out, &target), 1);
  struct Probe {
    int x, y;
    int r, g, b;
  } probes[] = {{2, 2, 0, 255, 0},     {100, 300, 255, 0, 0}, {500, 300, 0, 0, 255},
                {101, 101, 255, 255, 255}, {106, 106, 255, 0, 0}, {639, 479, 0, 0, 255}};
  for (const Probe& p : probes) {
    uint8_t r = 0, g = 0, b = 0;
    ASSERT_EQ(out.GetRGB8(p.x, p.y, &r, &g, &b), 1);
    EXPECT_NEAR(r, p.r, 2) << p.x << "," << p.y;
    EXPECT_NEAR(g, p.g, 2) << p.x << "," << p.y;
    EXPECT_NEAR(b, p.b, 2) << p.x << "," << p.y;
  }
  std::vector<unsigned char> saved(640 * 480 * 3);
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x) {
      uint8_t r = 0, g = 0, b = 0;
      out.GetRGB8(x, y, &r, &g, &b);
      unsigned char* d = &saved[size_t((y * 640 + x) * 3)];
      d[0] = r;
      d[1] = g;
      d[2] = b;
    }
  SavePpm("picture_content", saved, 640, 480);
  target.ReleaseGL();
  dlg.Destroy();
}

}  // namespace

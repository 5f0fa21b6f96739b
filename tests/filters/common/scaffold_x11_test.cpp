// scaffold_x11_test.cpp - on a real X server: a filter window shown through the scaffold is
// laid out and sized per language, titled with the filter's name, and has its textures
// attached to its own context when it opens.
#include <gtest/gtest.h>

#include "filters/common/scaffold.h"
#include "tests/toolkit/x11_test_util.h"
#include "toolkit/button.h"
#include "toolkit/label.h"
#include "toolkit/texture.h"
#include "toolkit/uiobj.h"

namespace {

class WindowFilter : public CImgFilter, public CFgUIDialog {
 public:
  WindowFilter() {
    AddChild(&label);
    AddChild(&button);
    texture.Create(8, 8, 1, 1, 0, nullptr);
  }
  const wchar_t* GetName(const wchar_t* language) override {
    return IsJapanese(language) ? L"\x7A93" : L"Window";
  }
  int32_t HasDialog() override { return 1; }
  int32_t OnClose() override { return FilterDialogClose(this, this); }
  void ShowDialog(int32_t show, CFgScreen* parent) override {
    ShowFilterWindow(this, this, layout, &place, &classPlace, show, parent);
  }
  void DrawOverlay() override {}
  void DrawOverlay(PixelToGlFn, PixelToGlFn, CFgScreen*, CFgFont*, int32_t, int32_t, int32_t,
                   int32_t, int32_t, int32_t, int32_t, int32_t, int32_t) override {}
  void OnMouseMove(int32_t x, int32_t y) override { CFgUIDialog::OnMouseMove(x, y); }
  void OnMouseMove(int64_t, int64_t, uint8_t) override {}
  void OnLButtonDown(int32_t x, int32_t y) override { CFgUIDialog::OnLButtonDown(x, y); }
  void OnLButtonDown(int64_t, int64_t, uint8_t) override {}
  void OnLButtonUp(int32_t x, int32_t y) override { CFgUIDialog::OnLButtonUp(x, y); }
  void OnLButtonUp(int64_t, int64_t, uint8_t) override {}
  void OnRButtonDown(int32_t x, int32_t y) override { CFgUIDialog::OnRButtonDown(x, y); }
  void OnRButtonDown(int64_t, int64_t, uint8_t) override {}
  void OnRButtonUp(int32_t x, int32_t y) override { CFgUIDialog::OnRButtonUp(x, y); }
  void OnRButtonUp(int64_t, int64_t, uint8_t) override {}

  CFgUILabel label;
  CFgUIButton button;
  CFgTexture texture;
  CFgTexture* textures[2] = {&texture, nullptr};
  FilterLayoutItem items[2] = {{&label, L"Size", L"\x5927\x304D\x3055", 10, 10, 20, 12, 60, 20},
                               {&button, L"set", L"\x8A2D\x5B9A", 80, 10, 100, 12, 50, 20}};
  FilterLayout layout = {items, 2, 200, 60, 260, 70, textures, 2};
  FilterWindowPlace place;
  static FilterWindowPlace classPlace;
};
FilterWindowPlace WindowFilter::classPlace;

TEST(ScaffoldWindowX11, LaidOutPerLanguageWithItsTexturesAttached) {
  REQUIRE_DISPLAY();
  struct Case {
    const wchar_t* language;
    uint64_t width, height;
    const wchar_t *label, *button, *title;
    int32_t labelX, buttonX;
  } cases[] = {
      {L"en", 200, 60, L"Size", L"set", L"Window", 10, 80},
      {L"jp", 260, 70, L"\x5927\x304D\x3055", L"\x8A2D\x5B9A", L"\x7A93", 20, 100},
  };
  for (const Case& c : cases) {
    WindowFilter f;
    f.m_language = c.language;
    EXPECT_EQ(nullptr, f.m_window);  // made without opening anything
    ASSERT_EQ(1, ShowFilterWindow(&f, &f, f.layout, &f.place, &WindowFilter::classPlace, 1,
                                  nullptr));
    ASSERT_NE(nullptr, f.m_window);
    EXPECT_EQ(c.width, f.m_clientWidth);
    EXPECT_EQ(c.height, f.m_clientHeight);
    EXPECT_STREQ(c.title, f.m_title);
    EXPECT_STREQ(c.label, f.label.m_text);
    EXPECT_STREQ(c.button, f.button.m_text);
    EXPECT_EQ(c.labelX, f.label.m_x);
    EXPECT_EQ(c.buttonX, f.button.m_x);
    EXPECT_EQ(static_cast<CFgScreen*>(&f), f.texture.m_screen);
    EXPECT_EQ(1, f.texture.m_hasGlName);
    // Hiding keeps the place for the instance and the class.
    EXPECT_EQ(1, ShowFilterWindow(&f, &f, f.layout, &f.place, &WindowFilter::classPlace, 0,
                                  nullptr));
    EXPECT_EQ(1u, f.place.kept);
    EXPECT_EQ(f.m_x, f.place.x);
    EXPECT_EQ(1u, WindowFilter::classPlace.kept);
    f.texture.ReleaseGL();
  }
  WindowFilter::classPlace = FilterWindowPlace{};
}

}  // namespace

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

class WindowFilter : public CFilterWindow {
 public:
  WindowFilter() : CFilterWindow(&classPlace) {
    AddChild(&label);
    AddChild(&button);
    texture.Create(8, 8, 1, 1, 0, nullptr);
    m_layout = {items, 2, 200, 60, 260, 70, textures, 2};
  }
  const wchar_t* GetName(const wchar_t* language) override {
    return IsJapanese(language) ? L"\x7A93" : L"Window";
  }

  CFgUILabel label;
  CFgUIButton button;
  CFgTexture texture;
  CFgTexture* textures[2] = {&texture, nullptr};
  FilterLayoutItem items[2] = {{&label, L"Size", L"\x5927\x304D\x3055", 10, 10, 20, 12, 60, 20},
                               {&button, L"set", L"\x8A2D\x5B9A", 80, 10, 100, 12, 50, 20}};
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
    f.m_dialogVisible = 1;
    f.ShowDialog(1, nullptr);  // the shared body: ShowFilterWindow with the filter's layout
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
    EXPECT_EQ(0, f.OnClose());  // hidden, never destroyed
    EXPECT_NE(nullptr, f.m_window);
    EXPECT_EQ(1u, f.m_place.kept);
    EXPECT_EQ(f.m_x, f.m_place.x);
    EXPECT_EQ(1u, WindowFilter::classPlace.kept);
    f.texture.ReleaseGL();
  }
  WindowFilter::classPlace = FilterWindowPlace{};
}

}  // namespace

// filter_x11_test.cpp - on a real X server: a filter's settings window opens when the filter
// is added, hides on its close box without being destroyed, opens again at the kept place,
// and is rebuilt for a new language.
#include <gtest/gtest.h>

#include "tests/app/testhost.h"
#include "tests/toolkit/x11_test_util.h"
#include "toolkit/uiobj.h"

namespace {

class WindowFilter : public CImgFilter, public CFgUIDialog {
 public:
  int32_t HasDialog() override { return 1; }
  void EnableDialog(int32_t enable) override { FilterDialogEnable(this, enable); }
  int32_t OnClose() override { return FilterDialogClose(this, this); }
  void ShowDialog(int32_t show, CFgScreen* parent) override {
    // The English layout is wider, as a real filter's may be.
    uint64_t width = IsJapanese(m_language) ? 200 : 240;
    FilterDialogShow(this, &m_place, &s_classPlace, show, parent, width, 100,
                     IsJapanese(m_language) ? L"\x8A2D\x5B9A" : L"Settings");
  }
  void DrawOverlay() override {}
  void DrawOverlay(PixelToGlFn, PixelToGlFn, CFgScreen*, CFgFont*, int32_t, int32_t, int32_t,
                   int32_t, int32_t, int32_t, int32_t, int32_t, int32_t) override {}
  FilterWindowPlace m_place;
  static FilterWindowPlace s_classPlace;
};
FilterWindowPlace WindowFilter::s_classPlace;

TEST(FilterWindowX11, OpensHidesReopensAtItsPlaceAndFollowsTheLanguage) {
  REQUIRE_DISPLAY();
  CTestHost host;
  WindowFilter* f = new WindowFilter;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  ASSERT_NE(nullptr, f->GetWindow());
  EXPECT_EQ(200u, f->m_clientWidth);
  toolkittest::PumpUntil([] { return false; }, 100);
  int32_t x = f->m_x, y = f->m_y;

  EXPECT_EQ(0, f->OnClose());  // the close box: hidden, told, kept
  EXPECT_EQ(0u, f->m_dialogVisible);
  EXPECT_NE(nullptr, f->GetWindow());
  EXPECT_EQ(1u, host.m_dialogClosedCount.load());
  EXPECT_EQ(1u, f->m_place.kept);
  EXPECT_EQ(1u, WindowFilter::s_classPlace.kept);

  f->m_dialogVisible = 1;
  f->ShowDialog(1, nullptr);
  toolkittest::PumpUntil([] { return false; }, 100);
  EXPECT_EQ(x, f->m_x);
  EXPECT_EQ(y, f->m_y);

  host.SetLanguage(L"en");  // reopened with the wider layout at the same place
  toolkittest::PumpUntil([] { return false; }, 100);
  EXPECT_EQ(240u, f->m_clientWidth);
  EXPECT_EQ(std::wstring(L"Settings"), f->m_title);
  EXPECT_EQ(1u, f->m_dialogVisible);
}

}  // namespace

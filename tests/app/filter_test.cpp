// filter_test.cpp - the filter base: keys and names, parameter save and load, calibration,
// the language reopening, the point mapping of overlays and the dialog-filter shape.
#include "app/filter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/cfgfile.h"
#include "tests/app/app_test_util.h"
#include "tests/app/testhost.h"
#include "toolkit/uiobj.h"

namespace {

using apptest::CallLog;
using apptest::RecordingFilter;

class NamedFilter : public CImgFilter {
 public:
  explicit NamedFilter(const wchar_t* en) : en_(en) {}
  const wchar_t* GetName(const wchar_t* language) override {
    return IsJapanese(language) ? L"\x540D\x524D" : en_;
  }
  const wchar_t* en_;
};

TEST(FilterKey, CaseFoldedBlanksUnderscoredAtMost32AndStable) {
  struct Case {
    const wchar_t* name;
    const wchar_t* key;
  } cases[] = {
      {L"Anti shake / Composit", L"anti_shake_/_composit"},
      {L"FFT", L"fft"},
      {L"2D tracking", L"2d_tracking"},
      {L"Particle tracking / PTV", L"particle_tracking_/_ptv"},
      {L"\x00C4rger Z", L"\x00C4rger_z"},  // only A to Z fold
      {L"ABCDEFGHIJ KLMNOPQRST UVWXYZABC DEFGHIJK", L"abcdefghij_klmnopqrst_uvwxyzabc_"},
      {L"", L""},
  };
  for (const Case& c : cases) {
    NamedFilter f(c.name);
    EXPECT_EQ(std::wstring(c.key), f.GetKey()) << std::wstring(c.name).size();
    // Computed once: a later name does not change it.
    f.en_ = L"Other Name";
    if (c.key[0]) {
      EXPECT_EQ(std::wstring(c.key), f.GetKey());
    }
  }
}

TEST(FilterName, OnlyExactlyJpSelectsJapanese) {
  CImgFilter f;
  struct Case {
    const wchar_t* language;
    const wchar_t* name;
  } cases[] = {{L"jp", L"\x7A7A"}, {L"JP", L"null"}, {L"jp ", L"null"},
               {L"", L"null"},     {nullptr, L"null"}, {L"en", L"null"}, {L"j", L"null"}};
  for (const Case& c : cases) EXPECT_EQ(std::wstring(c.name), f.GetName(c.language));
  EXPECT_EQ(std::wstring(L"jp"), f.m_language);  // the default language
}

TEST(FilterParams, SaveWritesEnableAndVisibleOnlyWithAWindow) {
  CallLog log;
  RecordingFilter plain(&log, "a", 0), dialog(&log, "b", 1);
  plain.m_filterEnabled = 1;
  dialog.m_dialogVisible = 1;
  CCfgPack p1, p2;
  plain.SaveParams(&p1);
  dialog.SaveParams(&p2);
  ASSERT_NE(p1.firstItem, nullptr);
  EXPECT_EQ(std::wstring(L"if_enable"), p1.firstItem->key);
  EXPECT_EQ(std::wstring(L"1"), p1.firstItem->value);
  EXPECT_EQ(p1.firstItem->next, nullptr);
  ASSERT_NE(p2.firstItem, nullptr);
  EXPECT_EQ(std::wstring(L"0"), p2.firstItem->value);
  ASSERT_NE(p2.firstItem->next, nullptr);
  EXPECT_EQ(std::wstring(L"if_visible"), p2.firstItem->next->key);
  EXPECT_EQ(std::wstring(L"1"), p2.firstItem->next->value);
}

TEST(FilterParams, LoadTakesTheFirstItemAndOnlyExactValues) {
  struct Case {
    std::vector<std::pair<const wchar_t*, const wchar_t*>> items;
    uint32_t enabled, visible;
    std::vector<std::string> calls;
  } cases[] = {
      {{{L"if_enable", L"true"}}, 1, 1, {}},
      {{{L"if_enable", L"0"}, {L"if_enable", L"1"}}, 0, 1, {"f:OnEnable(0)"}},
      {{{L"if_enable", L"1"}}, 1, 1, {"f:OnEnable(1)"}},
      {{{L"if_visible", L"0"}}, 1, 0, {"f:ShowDialog(0,null)"}},
      {{{L"if_visible", L"1"}}, 1, 1, {"f:ShowDialog(1,parent)"}},
      {{{L"if_visible", L"yes"}, {L"if_enable", L" 0"}}, 1, 1, {}},
      {{}, 1, 1, {}},
  };
  CFgScreen parent;
  for (const Case& c : cases) {
    CallLog log;
    RecordingFilter f(&log, "f", 1);
    f.m_filterEnabled = 1;
    f.m_dialogVisible = 1;
    f.m_dialogParent = &parent;
    CCfgPack pack;
    for (auto& kv : c.items) pack.AddItem(kv.first, kv.second);
    f.LoadParams(&pack);
    EXPECT_EQ(c.enabled, f.m_filterEnabled);
    EXPECT_EQ(c.visible, f.m_dialogVisible);
    EXPECT_EQ(c.calls, log.Take());
    f.log_ = nullptr;
  }
}

TEST(FilterScale, StoresCopiesAtMost255AndNullEmpties) {
  CallLog log;
  RecordingFilter f(&log, "f");
  std::wstring longUnit(300, L'm');
  f.SetScale(0.5, -1, longUnit.c_str());
  EXPECT_EQ(0.5, f.m_scale);
  EXPECT_EQ(-1, f.m_axisY);
  EXPECT_EQ(std::wstring(255, L'm'), f.m_unit);
  f.SetScale(2.0, 1, nullptr);
  EXPECT_EQ(std::wstring(), f.m_unit);
  EXPECT_EQ((std::vector<std::string>{"f:OnScaleChanged", "f:OnScaleChanged"}), log.Take());
  f.log_ = nullptr;
}

TEST(FilterLanguage, AVisibleWindowIsReopenedAtItsParentAHiddenOneLeftAlone) {
  CallLog log;
  CFgScreen parent;
  RecordingFilter f(&log, "f", 1);
  f.OnLanguageChanged(L"en");
  EXPECT_EQ((std::vector<std::string>{"f:OnLanguageChanged(en)"}), log.Take());
  f.m_dialogVisible = 1;
  f.m_dialogParent = &parent;
  f.OnLanguageChanged(L"en");
  EXPECT_EQ((std::vector<std::string>{"f:OnLanguageChanged(en)", "f:ShowDialog(0,null)",
                                      "f:ShowDialog(1,parent)"}),
            log.Take());
  EXPECT_EQ(1u, f.m_dialogVisible);
  EXPECT_EQ(&parent, f.m_dialogParent);
  f.log_ = nullptr;
}

TEST(ImageToView, Table) {
  struct Case {
    int32_t x, y;
    int32_t v[4], i[4];
    int32_t zoom;
    int32_t ex, ey;
  } cases[] = {
      // fit, twice as wide only: no half-pixel offset at exactly 2.0
      {3, 3, {0, 0, 199, 99}, {0, 0, 99, 99}, 0, 6, 3},
      // fit, three times: offset trunc(1.5) = 1
      {3, 3, {10, 20, 309, 319}, {0, 0, 99, 99}, -1, 10 + 9 + 1, 20 + 9 + 1},
      // fit with an image origin: point minus origin, scaled
      {15, 25, {0, 0, 49, 49}, {10, 20, 109, 119}, 0, 2, 2},
      // magnified by 4: 3 -> 12
      {3, 7, {0, 0, 999, 999}, {0, 0, 999, 999}, 4, 12, 28},
      // reduced by 2: 5 -> x0 + 2; by 3: -4 -> x0 - 1 (toward zero)
      {5, 5, {100, 200, 999, 999}, {0, 0, 999, 999}, -2, 102, 202},
      {-4, -4, {100, 200, 999, 999}, {0, 0, 999, 999}, -3, 99, 199},
      // 1:1 only the origins
      {7, 8, {30, 40, 999, 999}, {5, 6, 999, 999}, 1, 32, 42},
  };
  for (const Case& c : cases) {
    int32_t x = c.x, y = c.y;
    EXPECT_EQ(1, ImageToView(&x, &y, c.v[0], c.v[1], c.v[2], c.v[3], c.i[0], c.i[1], c.i[2],
                             c.i[3], c.zoom));
    EXPECT_EQ(c.ex, x) << "zoom " << c.zoom;
    EXPECT_EQ(c.ey, y) << "zoom " << c.zoom;
  }
  // Hostile rectangles give some point, never a fault (the sanitizers watch).
  int32_t x = INT32_MAX, y = INT32_MIN;
  ImageToView(&x, &y, INT32_MIN, INT32_MAX, INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN, 0, 0, 0);
  ImageToView(&x, &y, 0, 0, 0, 0, INT32_MIN, 0, INT32_MAX, 0, 7);
  ImageToView(&x, &y, 0, 0, 0, 0, 0, 0, 0, 0, INT32_MIN);
}

// The shape of a filter with a settings window: both DrawOverlay slots and both mouse
// slots overridden, so that neither base hides the other (this file builds without
// warnings).
class DialogFilter : public CImgFilter, public CFgUIDialog {
 public:
  int32_t HasDialog() override { return 1; }
  void EnableDialog(int32_t enable) override { FilterDialogEnable(this, enable); }
  int32_t OnClose() override { return FilterDialogClose(this, this); }
  void ShowDialog(int32_t show, CFgScreen*) override { shows.push_back(show); }
  void DrawOverlay() override { windowOverlays++; }
  void DrawOverlay(PixelToGlFn, PixelToGlFn, CFgScreen*, CFgFont*, int32_t, int32_t, int32_t,
                   int32_t, int32_t, int32_t, int32_t, int32_t, int32_t) override {
    viewOverlays++;
  }
  void OnMouseMove(int32_t x, int32_t y) override { CFgUIDialog::OnMouseMove(x, y); }
  void OnMouseMove(int64_t, int64_t, uint8_t) override { imageMoves++; }
  void OnLButtonDown(int32_t x, int32_t y) override { CFgUIDialog::OnLButtonDown(x, y); }
  void OnLButtonDown(int64_t, int64_t, uint8_t) override {}
  void OnLButtonUp(int32_t x, int32_t y) override { CFgUIDialog::OnLButtonUp(x, y); }
  void OnLButtonUp(int64_t, int64_t, uint8_t) override {}
  void OnRButtonDown(int32_t x, int32_t y) override { CFgUIDialog::OnRButtonDown(x, y); }
  void OnRButtonDown(int64_t, int64_t, uint8_t) override {}
  void OnRButtonUp(int32_t x, int32_t y) override { CFgUIDialog::OnRButtonUp(x, y); }
  void OnRButtonUp(int64_t, int64_t, uint8_t) override {}

  std::vector<int32_t> shows;
  int windowOverlays = 0, viewOverlays = 0, imageMoves = 0;
};

TEST(FilterDialog, CloseHidesAVisibleFilterTellsTheHostAndNeverDestroys) {
  CTestHost host;
  DialogFilter* f = new DialogFilter;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  EXPECT_EQ((std::vector<int32_t>{1}), f->shows);  // opened when added
  EXPECT_EQ(0, f->OnClose());
  EXPECT_EQ(0u, f->m_dialogVisible);
  EXPECT_EQ(nullptr, f->m_dialogParent);
  EXPECT_EQ((std::vector<int32_t>{1, 0}), f->shows);
  EXPECT_EQ(1u, host.m_dialogClosedCount.load());
  // Closing a hidden filter's window does nothing and tells nobody.
  EXPECT_EQ(0, f->OnClose());
  EXPECT_EQ((std::vector<int32_t>{1, 0}), f->shows);
  EXPECT_EQ(1u, host.m_dialogClosedCount.load());
  // Both slots reach their own bodies.
  CImgFilter* asFilter = f;
  CFgUICtrl* asCtrl = f;
  asFilter->DrawOverlay(nullptr, nullptr, nullptr, nullptr, 0, 0, 0, 0, 0, 0, 0, 0, 1);
  asCtrl->DrawOverlay();
  asFilter->OnMouseMove(1, 2, 0);
  EXPECT_EQ(1, f->viewOverlays);
  EXPECT_EQ(1, f->windowOverlays);
  EXPECT_EQ(1, f->imageMoves);
}

}  // namespace

// change_conditions_test.cpp - the change conditions filter on the test host: what the
// filters around it receive, the controller's values after the run, the first-show copy of
// the controller's values (never a running chain's), the radio groups and the packs.
#include "filters/binary_geometry_fourier/change_conditions.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/cfgfile.h"
#include "core/imgbuff.h"
#include "tests/app/app_test_util.h"
#include "tests/app/testhost.h"
#include "tests/filters/filter_test_util.h"

namespace {

// Remembers the connectivity and background of its last Process; may linger in it.
class Probe : public CImgFilter {
 public:
  void Process(CImgBuff*, uint64_t, int64_t, int64_t, int64_t, int64_t, uint32_t connectivity,
               uint32_t background) override {
    seen.store(connectivity * 10 + background);
    entered.store(1);
    if (lingerMs) std::this_thread::sleep_for(std::chrono::milliseconds(lingerMs));
  }
  std::atomic<uint32_t> seen{0};  // connectivity x 10 + background
  std::atomic<int32_t> entered{0};
  int32_t lingerMs = 0;
};

// A radio pressed as a click does: the group selects it, then its callback runs.
void Press(CFgUIChkButton* button) {
  CFgUIChkButton::SetGroupSelection(button, button->m_index, 0);
  button->m_callback(button, button->m_user);
}

void Still(CTestHost& host) {
  CImgBuff src;
  apptest::MakePicture(src, 8, 6, ImgFormatGray8);
  host.SetStill(src);
}

TEST(ChangeConditions, NameKeyAndDefaults) {
  CLfConfig f;
  EXPECT_STREQ(L"Change conditions", f.GetName(L"en"));
  EXPECT_STREQ(L"\x6761\x4EF6\x5909\x66F4", f.GetName(L"jp"));
  EXPECT_STREQ(L"change_conditions", f.GetKey());
  EXPECT_EQ(1, f.HasDialog());
  EXPECT_EQ(8u, f.Connectivity());
  EXPECT_EQ(1u, f.Background());
  EXPECT_EQ(1, CFgUIChkButton::GetGroupSelection(&f.m_connect4));
  EXPECT_EQ(1, CFgUIChkButton::GetGroupSelection(&f.m_black));
}

// Controller on 8 / white; chain [A, Config(4, black), B, Config(8, black), C].
TEST(ChangeConditions, EachConfigGovernsTheFiltersUpToTheNextAndTheRunLeavesNoTrace) {
  CTestHost host;
  Still(host);
  auto* a = new Probe;
  auto* first = new CLfConfig;
  auto* b = new Probe;
  auto* second = new CLfConfig;
  auto* c = new Probe;
  ASSERT_EQ(1, host.AddFilter(a, nullptr));
  ASSERT_EQ(1, host.AddFilter(first, nullptr));
  ASSERT_EQ(1, host.AddFilter(b, nullptr));
  ASSERT_EQ(1, host.AddFilter(second, nullptr));
  ASSERT_EQ(1, host.AddFilter(c, nullptr));
  Press(&first->m_connect4);
  Press(&first->m_black);
  Press(&second->m_black);
  ASSERT_EQ(1, host.Reprocess(0));
  EXPECT_EQ(81u, a->seen.load());
  EXPECT_EQ(40u, b->seen.load());
  EXPECT_EQ(80u, c->seen.load());
  EXPECT_EQ(8u, host.m_connectivity);
  EXPECT_EQ(1u, host.m_background);

  // Switched off: skipped, and the filters after it see the controller's values.
  first->m_filterEnabled = 0;
  second->m_filterEnabled = 0;
  ASSERT_EQ(1, host.Reprocess(0));
  EXPECT_EQ(81u, b->seen.load());
  EXPECT_EQ(81u, c->seen.load());
}

TEST(ChangeConditions, RadiosStoreAndAskOnlyWhenEnabled) {
  CTestHost host;
  Still(host);
  auto* f = new CLfConfig;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  f->m_filterEnabled = 0;
  const uint64_t before = host.m_processedCount.load();
  Press(&f->m_connect4);
  Press(&f->m_black);
  EXPECT_EQ(before, host.m_processedCount.load());
  EXPECT_EQ(4u, f->Connectivity());
  EXPECT_EQ(0u, f->Background());
  f->m_filterEnabled = 1;
  Press(&f->m_connect8);
  const uint64_t once = host.m_processedCount.load();
  EXPECT_GT(once, before);
  Press(&f->m_white);
  EXPECT_GT(host.m_processedCount.load(), once);
  EXPECT_EQ(8u, f->Connectivity());
  EXPECT_EQ(1u, f->Background());

  // Without a host the radios only store.
  CLfConfig alone;
  Press(&alone.m_connect4);
  EXPECT_EQ(4u, alone.Connectivity());
}

TEST(ChangeConditions, ANewFilterShowsTheControllersValuesOnceAndPackValuesWin) {
  CTestHost host;
  Still(host);
  host.m_connectivity = 4;
  host.m_background = 0;
  auto* f = new CLfConfig;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));  // opens its window: the first show
  EXPECT_EQ(1u, f->m_takenFromHost);
  EXPECT_EQ(4u, f->Connectivity());
  EXPECT_EQ(0u, f->Background());
  EXPECT_EQ(0, CFgUIChkButton::GetGroupSelection(&f->m_connect4));
  EXPECT_EQ(0, CFgUIChkButton::GetGroupSelection(&f->m_black));
  // Once in its life: later shows keep the filter's own values.
  host.m_connectivity = 8;
  host.m_background = 1;
  f->ShowDialog(0, nullptr);
  f->ShowDialog(1, nullptr);
  EXPECT_EQ(4u, f->Connectivity());
  EXPECT_EQ(0u, f->Background());

  // A filter from a list: the base keys show it (the copy), then its own keys win.
  CLfConfig listed;
  listed.m_host = &host;
  host.m_connectivity = 4;
  host.m_background = 0;
  CCfgPack pack;
  pack.AddItem(L"if_visible", L"0");
  pack.AddItem(L"connect", L"8");
  pack.AddItem(L"bg", L"1");
  listed.LoadParams(&pack);
  EXPECT_EQ(1u, listed.m_takenFromHost);
  EXPECT_EQ(8u, listed.Connectivity());
  EXPECT_EQ(1u, listed.Background());
  listed.m_host = nullptr;

  // Without a host nothing is copied and the constructor's values stay.
  CLfConfig alone;
  alone.ShowDialog(0, nullptr);
  EXPECT_EQ(0u, alone.m_takenFromHost);
  EXPECT_EQ(8u, alone.Connectivity());
}

// While a run stands in a filter after a Config(4, black), the controller's fields hold the
// run's values; a new filter shown then still copies the controller's own 8 / white.
TEST(ChangeConditions, FirstShowNeverCopiesTheValuesOfARunningChain) {
  CTestHost host;
  Still(host);
  auto* config = new CLfConfig;
  auto* slow = new Probe;
  slow->lingerMs = 300;
  ASSERT_EQ(1, host.AddFilter(config, nullptr));
  ASSERT_EQ(1, host.AddFilter(slow, nullptr));
  Press(&config->m_connect4);
  Press(&config->m_black);
  slow->entered.store(0);
  ASSERT_EQ(1, host.Reprocess(1));
  while (!slow->entered.load()) std::this_thread::yield();
  CLfConfig fresh;
  fresh.m_host = &host;
  fresh.ShowDialog(0, nullptr);
  EXPECT_EQ(8u, fresh.Connectivity());
  EXPECT_EQ(1u, fresh.Background());
  fresh.m_host = nullptr;
  host.WaitIdle();
}

TEST(ChangeConditions, PacksWriteTwoValuesAndReadOnlyExactOnes) {
  struct Case {
    uint32_t connect, bg;
    std::vector<std::wstring> lines;
  };
  const Case saved[] = {
      {4, 0, {L"connect 4", L"bg 0"}},
      {8, 1, {L"connect 8", L"bg 1"}},
  };
  for (const Case& c : saved) {
    CLfConfig f;
    CCfgPack in;
    in.AddItem(L"connect", c.connect == 4 ? L"4" : L"8");
    in.AddItem(L"bg", c.bg ? L"1" : L"0");
    f.LoadParams(&in);
    CCfgPack out;
    f.SaveParams(&out);
    std::vector<std::wstring> want = {L"if_enable 0", L"if_visible 0"};
    want.insert(want.end(), c.lines.begin(), c.lines.end());
    EXPECT_EQ(want, filtertest::PackLines(&out));
    EXPECT_EQ(c.connect == 4 ? 0 : 1, CFgUIChkButton::GetGroupSelection(&f.m_connect4));
    EXPECT_EQ(int32_t(c.bg), CFgUIChkButton::GetGroupSelection(&f.m_black));
  }

  struct Read {
    const wchar_t *connect, *bg;
    uint32_t wantConnect, wantBg;
  };
  const Read reads[] = {
      {L"6", L"2", 4, 0}, {L"", L"", 4, 0}, {L" 8", L"1 ", 4, 0}, {L"08", L"01", 4, 0},
      {L"8", L"1", 8, 1}, {nullptr, nullptr, 4, 0},
  };
  for (const Read& r : reads) {
    CLfConfig f;
    CCfgPack start;
    start.AddItem(L"connect", L"4");
    start.AddItem(L"bg", L"0");
    f.LoadParams(&start);
    CCfgPack pack;
    if (r.connect) pack.AddItem(L"connect", r.connect);
    if (r.bg) pack.AddItem(L"bg", r.bg);
    f.LoadParams(&pack);
    EXPECT_EQ(r.wantConnect, f.Connectivity()) << (r.connect ? r.connect : L"(none)");
    EXPECT_EQ(r.wantBg, f.Background()) << (r.bg ? r.bg : L"(none)");
  }
  // Only the first item of a key counts.
  CLfConfig f;
  CCfgPack twice;
  twice.AddItem(L"connect", L"4");
  twice.AddItem(L"connect", L"8");
  f.LoadParams(&twice);
  EXPECT_EQ(4u, f.Connectivity());
}

TEST(ChangeConditions, LabelsAndPlacesInBothLanguages) {
  struct Case {
    const wchar_t* language;
    const wchar_t *connect, *bg, *black, *white;
  };
  const Case cases[] = {
      {L"en", L"connect", L"bg color", L"black", L"white"},
      {L"jp", L"\x8FD1\x508D\x63A5\x7D9A", L"\x80CC\x666F\x8272", L"\x9ED2", L"\x767D"},
  };
  for (const Case& c : cases) {
    CLfConfig f;
    uint64_t w = 0, h = 0;
    ApplyFilterLayout(f.m_layout, c.language, &w, &h);
    EXPECT_EQ(176u, w);
    EXPECT_EQ(100u, h);
    EXPECT_STREQ(c.connect, f.m_connectLabel.m_text);
    EXPECT_STREQ(c.bg, f.m_bgLabel.m_text);
    EXPECT_STREQ(L"4", f.m_connect4.m_text);
    EXPECT_STREQ(L"8", f.m_connect8.m_text);
    EXPECT_STREQ(c.black, f.m_black.m_text);
    EXPECT_STREQ(c.white, f.m_white.m_text);
    EXPECT_EQ(106, f.m_white.m_x);
    EXPECT_EQ(74, f.m_white.m_y);
    EXPECT_EQ(64, f.m_white.m_width);
    EXPECT_EQ(60, f.m_connect8.m_width);
  }
}

}  // namespace

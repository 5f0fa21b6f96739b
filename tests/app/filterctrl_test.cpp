// filterctrl_test.cpp - the chain controller: what filters are told and in which order,
// chain editing, requests to the worker (replacement, waiting, edits against runs, a stress
// run, shut-down mid-run, a refused worker) and the refusal of waits that could never end.
#include "app/filterctrl.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <random>
#include <thread>

#include "tests/app/app_test_util.h"
#include "tests/app/testhost.h"
#include "toolkit/screen.h"

namespace {

using apptest::CallLog;
using apptest::RecordingFilter;
using Lines = std::vector<std::string>;

// ---- what filters are told --------------------------------------------------------------

TEST(FilterCtrlChains, AddFilterTellsInOrderAndOpensTheWindow) {
  CallLog log;
  CTestHost host;
  CFgScreen parent;
  host.m_parentScreen = &parent;
  host.SetImageInfo(640, 480, 3, 10);
  RecordingFilter* f = new RecordingFilter(&log, "f", 1);
  uint64_t index = 99;
  ASSERT_EQ(1, host.AddFilter(f, &index));
  EXPECT_EQ(0u, index);
  EXPECT_EQ(&host, f->m_host);
  EXPECT_EQ((Lines{"f:OnSourceChanged(640,480,3,10)", "f:OnLanguageChanged(jp)",
                   "f:OnOverlayColorChanged", "f:OnScaleChanged", "f:OnEnable(1)",
                   "f:ShowDialog(1,parent)"}),
            log.Take());
  EXPECT_EQ(1u, f->m_filterEnabled);
  EXPECT_EQ(1u, f->m_dialogVisible);
  EXPECT_EQ(&parent, f->m_dialogParent);
  EXPECT_EQ(nullptr, host.SelectedFilter());  // adding does not select
  // A windowless filter is not shown.
  RecordingFilter* g = new RecordingFilter(&log, "g", 0);
  ASSERT_EQ(1, host.AddFilter(g, &index));
  EXPECT_EQ(1u, index);
  Lines calls = log.Take();
  EXPECT_EQ("g:OnEnable(1)", calls.back());
  EXPECT_EQ(0u, g->m_dialogVisible);
  EXPECT_EQ(0, host.AddFilter(nullptr, &index));
  f->log_ = g->log_ = nullptr;
}

TEST(FilterCtrlChains, SelectChainRefusesOutsideAndTellsOnlyChangedSources) {
  CallLog log;
  CTestHost host;
  host.SetImageInfo(10, 20, 1, 1);
  ASSERT_EQ(1, host.SelectChain(1));
  RecordingFilter* f = new RecordingFilter(&log, "f");
  host.AddFilter(f, nullptr);
  log.Take();
  EXPECT_EQ(0, host.SelectChain(4));
  EXPECT_EQ(0, host.SelectChain(-1));
  EXPECT_EQ(1, host.m_currentChain);
  ASSERT_EQ(1, host.SelectChain(0));
  host.SetImageInfo(30, 40, 3, 5);  // told to chain 0 only
  EXPECT_TRUE(log.Take().empty());
  ASSERT_EQ(1, host.SelectChain(1));  // chain 1 learns the new source on entry
  EXPECT_EQ((Lines{"f:OnSourceChanged(30,40,3,5)"}), log.Take());
  ASSERT_EQ(1, host.SelectChain(0));
  ASSERT_EQ(1, host.SelectChain(1));  // unchanged: nothing told
  EXPECT_TRUE(log.Take().empty());
  f->log_ = nullptr;
}

TEST(FilterCtrlChains, RemovalMovesTheSelectionToTheSuccessorOrNone) {
  CallLog log;
  CTestHost host;
  RecordingFilter* f[4];
  for (int i = 0; i < 4; ++i) {
    f[i] = new RecordingFilter(&log, "f" + std::to_string(i), 1);
    host.AddFilter(f[i], nullptr);
  }
  log.Take();
  ASSERT_EQ(1, host.SelectFilter(1));
  ASSERT_EQ(1, host.RemoveFilter(1));  // a middle selected filter: its successor
  EXPECT_EQ((Lines{"f1:ShowDialog(0,null)", "f1:delete"}), log.Take());
  EXPECT_EQ(f[2], host.SelectedFilter());
  EXPECT_EQ(1u, host.CurrentChain().selectedIndex);
  ASSERT_EQ(1, host.RemoveFilter(0));  // before the selection: it stays on its filter
  EXPECT_EQ(f[2], host.SelectedFilter());
  EXPECT_EQ(0u, host.CurrentChain().selectedIndex);
  ASSERT_EQ(1, host.SelectFilter(1));  // the last one, selected
  ASSERT_EQ(1, host.RemoveFilter(1));
  EXPECT_EQ(nullptr, host.SelectedFilter());
  EXPECT_EQ(0u, host.CurrentChain().selectedIndex);
  EXPECT_EQ(0, host.RemoveFilter(1));
  EXPECT_EQ(0, host.SelectFilter(1));
  EXPECT_EQ(0, host.SwapFilters(0, 1));
  EXPECT_EQ(1, host.SwapFilters(0, 0));
  ASSERT_EQ(1, host.RemoveFilter(0));
  EXPECT_EQ(nullptr, host.CurrentChain().filters);  // an empty chain frees its array
  log.Take();
}

TEST(FilterCtrlChains, RemoveAllOfEveryChainKeepsTheCurrentIndex) {
  CallLog log;
  CTestHost host;
  for (int c = 0; c < 4; ++c) {
    host.SelectChain(c);
    for (int i = 0; i < 2; ++i) host.AddFilter(new RecordingFilter(&log, "f"), nullptr);
  }
  host.SelectChain(2);
  host.RemoveAllFilters(0);
  EXPECT_EQ(0u, host.FilterCount());
  host.SelectChain(1);
  EXPECT_EQ(2u, host.FilterCount());
  host.RemoveAllFilters(1);
  EXPECT_EQ(1, host.m_currentChain);
  for (int c = 0; c < 4; ++c) EXPECT_EQ(0u, host.m_chains[c].count);
}

TEST(FilterCtrlValues, LanguageColourScaleAndEnableOnly) {
  CallLog log;
  CTestHost host;
  RecordingFilter* a = new RecordingFilter(&log, "a");
  RecordingFilter* b = new RecordingFilter(&log, "b");
  host.AddFilter(a, nullptr);
  host.AddFilter(b, nullptr);
  host.SelectChain(1);
  RecordingFilter* other = new RecordingFilter(&log, "o");
  host.AddFilter(other, nullptr);
  host.SelectChain(0);
  log.Take();

  host.SetLanguage(L"");
  host.SetLanguage(nullptr);
  EXPECT_TRUE(log.Take().empty());
  host.SetLanguage(L"en");
  host.SetLanguage(L"jp");
  EXPECT_EQ((Lines{"a:OnLanguageChanged(en)", "b:OnLanguageChanged(en)",
                   "a:OnLanguageChanged(jp)", "b:OnLanguageChanged(jp)"}),
            log.Take());
  // The filter of chain 1 was not told and still points to the first copy, which lives on.
  EXPECT_EQ(std::wstring(L"jp"), other->m_language);
  EXPECT_NE(other->m_language, a->m_language);

  host.SetScale(0.25, -1, L"mm");
  host.SetScale(0.5, 1, nullptr);
  EXPECT_EQ(std::wstring(L"mm"), host.m_unit);  // the controller keeps its unit
  EXPECT_EQ(std::wstring(), a->m_unit);          // the filters' is emptied
  EXPECT_EQ(0.5, b->m_scale);
  EXPECT_EQ(1.0, other->m_scale);  // chain 1 not told
  log.Take();

  host.SetOverlayColor(0, 1, 0);
  EXPECT_EQ(1.0, a->m_guide[1]);
  EXPECT_EQ(1.0, other->m_guide[0]);  // chain 1 not told
  log.Take();

  b->m_filterEnabled = 0;
  host.EnableOnly(1, a);
  EXPECT_EQ((Lines{"a:OnEnable(1)", "b:OnEnable(0)"}), log.Take());
  host.EnableOnly(0, a);
  EXPECT_EQ((Lines{"a:OnEnable(1)", "b:OnEnable(1)"}), log.Take());
  EXPECT_EQ(0u, b->m_filterEnabled);  // the fields never change
  EXPECT_EQ(2u, host.m_enableOnlyCalls.size());

  host.EnableFilterDialogs(7);
  EXPECT_EQ((Lines{"a:EnableDialog(1)", "b:EnableDialog(1)"}), log.Take());
  a->log_ = b->log_ = other->log_ = nullptr;
}

// ---- requests ------------------------------------------------------------------------------

// Records each run's scene and the first byte of its picture; can hold a run at a gate.
class LatchFilter : public CImgFilter {
 public:
  ~LatchFilter() override {
    if (finishedAtDelete) *finishedAtDelete = finished;
  }
  void Process(CImgBuff* picture, uint64_t scene, int64_t, int64_t, int64_t, int64_t, uint32_t,
               uint32_t) override {
    std::unique_lock<std::mutex> hold(m);
    runs.push_back({scene, picture->Format() ? static_cast<uint8_t*>(picture->Pixels())[0] : 0});
    thread = std::this_thread::get_id();
    inside = 1;
    cv.notify_all();
    cv.wait(hold, [this] { return !closed; });
    inside = 0;
    finished++;
    if (requestFromRun && m_host && requestFromRun-- > 0) {
      hold.unlock();
      m_host->RequestProcess(1);
    }
  }
  void WaitInside() {
    std::unique_lock<std::mutex> hold(m);
    cv.wait(hold, [this] { return inside != 0; });
  }
  void Open() {
    std::lock_guard<std::mutex> hold(m);
    closed = 0;
    cv.notify_all();
  }
  void Close() {
    std::lock_guard<std::mutex> hold(m);
    closed = 1;
  }
  std::vector<std::pair<uint64_t, int>> Runs() {
    std::lock_guard<std::mutex> hold(m);
    return runs;
  }

  std::mutex m;
  std::condition_variable cv;
  std::vector<std::pair<uint64_t, int>> runs;
  std::thread::id thread;
  int inside = 0, closed = 0, finished = 0;
  std::atomic<int> requestFromRun{0};
  int* finishedAtDelete = nullptr;
};

void Gray(CImgBuff& img, uint8_t v) {
  ASSERT_EQ(1, img.Allocate(4, 4, ImgFormatGray8));
  std::memset(img.Pixels(), v, 16);
}

// Starts an asynchronous run of in that holds at the latch's gate, and returns once it does.
void HoldRun(CFilterCtrl& ctrl, LatchFilter* latch, CImgBuff* out, CImgBuff* in, uint64_t scene) {
  latch->Close();
  ctrl.Request(out, in, scene, 1);
  latch->WaitInside();
}

// Opens the gate 30 ms from now, from another thread.
std::thread OpenLater(LatchFilter* latch) {
  return std::thread([latch] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    latch->Open();
  });
}

TEST(FilterCtrlRequests, TwoAsyncWhileBusyGiveOneMoreRunWithTheSecond) {
  CTestHost host;
  LatchFilter* latch = new LatchFilter;
  host.AddFilter(latch, nullptr);
  CImgBuff in1, in2, in3, out;
  Gray(in1, 1);
  Gray(in2, 2);
  Gray(in3, 3);
  HoldRun(host, latch, &out, &in1, 10);
  host.Request(&out, &in2, 20, 1);
  host.Request(&out, &in3, 30, 1);
  latch->Open();
  host.WaitIdle();
  EXPECT_EQ((std::vector<std::pair<uint64_t, int>>{{10, 1}, {30, 3}}), latch->Runs());
  EXPECT_EQ(3, static_cast<uint8_t*>(out.Pixels())[0]);
  EXPECT_EQ(2u, host.m_processedCount.load());
}

TEST(FilterCtrlRequests, ASyncRequestDuringAnAsyncRunWaitsForItsOwn) {
  CTestHost host;
  LatchFilter* latch = new LatchFilter;
  host.AddFilter(latch, nullptr);
  CImgBuff in1, in2, out1, out2;
  Gray(in1, 1);
  Gray(in2, 2);
  HoldRun(host, latch, &out1, &in1, 1);
  std::thread opener([&] {
    // Opens only once the waiting request is in the block.
    for (;;) {
      {
        PlatformLockHold hold(host.ChainLock());
        if (host.m_requestPending) break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    latch->Open();
  });
  host.Request(&out2, &in2, 2, 0);
  // Back only after a run of its own input has finished and been handed over.
  EXPECT_EQ(2u, latch->Runs().size());
  EXPECT_EQ(2, static_cast<uint8_t*>(out2.Pixels())[0]);
  EXPECT_EQ(1, static_cast<uint8_t*>(out1.Pixels())[0]);
  EXPECT_EQ(2u, host.m_processedCount.load());
  opener.join();
}

TEST(FilterCtrlRequests, AnEditWaitsForTheRunInProgress) {
  CTestHost host;
  LatchFilter* latch = new LatchFilter;
  host.AddFilter(latch, nullptr);
  CImgBuff in, out;
  Gray(in, 5);
  // Each edit is made while a run holds at the gate, which opens 30 ms later.
  auto check = [&](const char* name, const std::function<void()>& edit) {
    host.SelectChain(0);
    HoldRun(host, latch, &out, &in, 0);
    // Counted while the run is held at the gate: once the opener runs, a slow machine may
    // finish the run before this thread gets to count.
    int before;
    {
      std::lock_guard<std::mutex> hold(latch->m);
      before = latch->finished;
    }
    std::thread opener = OpenLater(latch);
    edit();
    {
      std::lock_guard<std::mutex> hold(latch->m);
      EXPECT_EQ(before + 1, latch->finished) << name;
    }
    opener.join();
    host.WaitIdle();
  };
  check("add", [&] { host.AddFilter(new RecordingFilter(nullptr, "x"), nullptr); });
  check("swap", [&] { host.SwapFilters(0, 1); });
  check("remove", [&] { host.RemoveFilter(host.FilterAt(0) == latch ? 1 : 0); });
  check("select chain", [&] { host.SelectChain(1); });
}

TEST(FilterCtrlRequests, ShutDownMidRunWaitsForTheWorkerToLeave) {
  CImgBuff in;
  Gray(in, 9);
  CTestHost* host = new CTestHost;
  LatchFilter* latch = new LatchFilter;
  host->AddFilter(latch, nullptr);
  HoldRun(*host, latch, &host->m_display, &in, 0);
  std::thread opener = OpenLater(latch);
  host->Shutdown();
  EXPECT_EQ(1, latch->finished);
  // Later requests return at once, waiting or not.
  host->Request(&host->m_display, &in, 0, 0);
  host->Request(&host->m_display, &in, 0, 1);
  EXPECT_EQ(1u, latch->Runs().size());
  delete host;
  opener.join();

  // The destructor alone does the same: the filter is deleted only after its run ended.
  int finishedAtDelete = -1;
  host = new CTestHost;
  latch = new LatchFilter;
  latch->finishedAtDelete = &finishedAtDelete;
  host->AddFilter(latch, nullptr);
  HoldRun(*host, latch, &host->m_display, &in, 0);
  std::thread opener2 = OpenLater(latch);
  delete host;
  EXPECT_EQ(1, finishedAtDelete);
  opener2.join();
}

TEST(FilterCtrlRequests, ARefusedWorkerRunsRequestsOnTheCallersThread) {
  CFilterCtrl::SetRefuseWorkerForTesting(1);
  CTestHost host;
  CFilterCtrl::SetRefuseWorkerForTesting(0);
  EXPECT_EQ(0u, host.m_workerStarted);
  LatchFilter* latch = new LatchFilter;
  host.AddFilter(latch, nullptr);
  CImgBuff in, out;
  Gray(in, 4);
  latch->requestFromRun = 1;  // a request made inside the run follows it, not inside it
  host.m_source.CopyFrom(in);
  host.RequestProcess(1);
  EXPECT_EQ(std::this_thread::get_id(), latch->thread);
  EXPECT_EQ(2u, latch->Runs().size());
  host.Request(&out, &in, 7, 0);
  EXPECT_EQ(3u, latch->Runs().size());
  EXPECT_EQ(4, static_cast<uint8_t*>(out.Pixels())[0]);
}

TEST(FilterCtrlRequests, AnEmptyInputRunsNothingAndEmptiesTheOutput) {
  CTestHost host;
  LatchFilter* latch = new LatchFilter;
  host.AddFilter(latch, nullptr);
  CImgBuff empty, out;
  Gray(out, 1);
  host.Request(&out, &empty, 0, 0);
  EXPECT_EQ(0u, latch->Runs().size());
  EXPECT_EQ(0, out.Format());
  EXPECT_EQ(1u, host.m_processedCount.load());
}

// Filters that count their runs and sometimes ask for another frame from Process.
class BusyFilter : public CImgFilter {
 public:
  void Process(CImgBuff* picture, uint64_t, int64_t, int64_t, int64_t, int64_t, uint32_t,
               uint32_t) override {
    runs++;
    uint8_t* p = static_cast<uint8_t*>(picture->Pixels());
    p[1] = uint8_t(p[1] + 1);
    if (m_host && again.fetch_sub(1) > 0) m_host->RequestProcess(1);
  }
  std::atomic<int> runs{0};
  std::atomic<int> again{0};
};

TEST(FilterCtrlRequests, StressOfMixedRequestsAndEditsLosesNoWakeUp) {
  CTestHost host;
  std::mt19937 rng(12345);
  CImgBuff in[3], out;
  for (int i = 0; i < 3; ++i) Gray(in[i], uint8_t(10 + i));
  host.m_source.CopyFrom(in[0]);
  BusyFilter* keep = new BusyFilter;
  host.AddFilter(keep, nullptr);
  for (int step = 0; step < 3000; ++step) {
    switch (rng() % 8) {
      case 0: host.Request(&out, &in[rng() % 3], step, 1); break;
      case 1: host.Request(&out, &in[rng() % 3], step, 0); break;
      case 2: host.RequestProcess(rng() % 2); break;
      case 3: keep->again = int(rng() % 3); host.RequestProcess(1); break;
      case 4: host.AddFilter(new BusyFilter, nullptr); break;
      case 5:
        if (host.FilterCount() > 1) host.RemoveFilter(host.FilterAt(0) == keep ? 1 : 0);
        break;
      case 6:
        if (host.FilterCount() > 1) host.SwapFilters(0, host.FilterCount() - 1);
        break;
      default: host.SelectChain(int(rng() % 2)); host.SelectChain(0); break;
    }
    if (step % 500 == 0) {
      // An asynchronous request on its own must be processed without any later one.
      int before = keep->runs.load();
      keep->again = 0;
      host.WaitIdle();
      before = keep->runs.load();
      host.Request(&out, &in[step % 3], 1000000 + step, 1);
      auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      while (keep->runs.load() == before && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      ASSERT_GT(keep->runs.load(), before) << "a wake-up was lost at step " << step;
    }
  }
  keep->again = 0;
  host.Request(&out, &in[2], 0, 0);
  EXPECT_EQ(12, static_cast<uint8_t*>(out.Pixels())[0]);
}

#ifdef QV_CHECKED
// A filter that waits for the worker from the worker.
class SelfWaiter : public CImgFilter {
 public:
  void Process(CImgBuff*, uint64_t, int64_t, int64_t, int64_t, int64_t, uint32_t,
               uint32_t) override {
    m_host->RequestProcess(0);
  }
};

TEST(FilterCtrlMisuseDeathTest, WaitsThatCouldNeverEndStopCheckedBuilds) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        CTestHost host;
        CImgBuff in;
        Gray(in, 1);
        host.m_source.CopyFrom(in);
        host.AddFilter(new SelfWaiter, nullptr);
        host.RequestProcess(0);
      },
      "on the filter worker thread");
  EXPECT_DEATH(
      {
        CTestHost host;
        CImgBuff in;
        Gray(in, 1);
        host.m_source.CopyFrom(in);
        PlatformLockHold hold(FgDrawLock());
        host.RequestProcess(0);
      },
      "while holding the draw lock");
  EXPECT_DEATH(
      {
        CTestHost host;
        PlatformLockHold hold(host.ChainLock());
        host.AddFilter(new CImgFilter, nullptr);
      },
      "while holding the chain lock");
}
#endif

}  // namespace

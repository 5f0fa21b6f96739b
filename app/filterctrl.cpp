// filterctrl.cpp - the chain controller: host interface bodies, the values told to filters,
// chain editing, requests and the filter worker thread.
// Inside: helpers - construction and shut-down - host interface - values told to filters -
// chains - requests and the worker loop
#include "app/filterctrl.h"

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <utility>

#include "core/parallel.h"
#include "toolkit/screen.h"

// ---------------------------------------------------------------------------------------
// Helpers
namespace {

std::atomic<int32_t> g_refuseWorker{0};

void CopyUnit(wchar_t* dst, const wchar_t* src) {
  int n = 0;
  while (n < kFilterUnitUnits - 1 && src[n]) {
    dst[n] = src[n];
    ++n;
  }
  dst[n] = 0;
}

wchar_t* DuplicateText(const wchar_t* text) {
  size_t n = wcslen(text);
  wchar_t* copy = static_cast<wchar_t*>(std::malloc((n + 1) * sizeof(wchar_t)));
  if (copy) wmemcpy(copy, text, n + 1);
  return copy;
}

}  // namespace

int32_t CopyPictureReusing(CImgBuff* dst, const CImgBuff* src) {
  if (!dst || !src || dst == src) return 0;
  const C_ImgBuff& s = *src->record;
  C_ImgBuff& d = *dst->record;
  if (s.format >= 1 && s.format <= 9 && s.pixels && d.pixels && d.format == s.format &&
      d.width == s.width && d.height == s.height) {
    ParallelMemcpy(d.pixels, s.pixels,
                   uint64_t(s.width) * uint64_t(s.height) * uint64_t(ImgBytesPerPixel[s.format]));
    return 1;
  }
  dst->CopyFrom(*src);
  return dst->Format() != 0 ? 1 : 0;
}

namespace {

// The result goes to the output by exchanging the two pictures' pixel blocks rather than by
// a copy: the worker's picture then holds the output's old block, which the next request's
// copy reuses when the size and format stay.  Readers of the output take the chain lock, as
// the hand-over does.
void HandOver(CImgBuff* output, CImgBuff* work) {
  C_ImgBuff& a = *output->record;
  C_ImgBuff& b = *work->record;
  std::swap(a.format, b.format);
  std::swap(a.width, b.width);
  std::swap(a.height, b.height);
  std::swap(a.pixels, b.pixels);
}

}  // namespace

// Scope of one chain edit: waits until the worker is idle and keeps it from starting a run
// until the edit is over.
class ChainEdit {
 public:
  explicit ChainEdit(CFilterCtrl* ctrl) : ctrl_(ctrl) { ctrl_->BeginEdit(); }
  ~ChainEdit() { ctrl_->EndEdit(); }
  ChainEdit(const ChainEdit&) = delete;
  ChainEdit& operator=(const ChainEdit&) = delete;

 private:
  CFilterCtrl* ctrl_;
};

// ---------------------------------------------------------------------------------------
// Construction and shut-down
void CFilterCtrl::SetRefuseWorkerForTesting(int32_t refuse) { g_refuseWorker.store(refuse); }

CFilterCtrl::CFilterCtrl() : m_controller(this), m_chainLock(CreateLock()) {
  SetLanguage(L"jp");
  if (!m_chainLock) {
    // Without a lock of its own there is no worker to guard: requests run on the caller's
    // thread, under a lock that outlives every controller.
    static PlatformLock fallback;
    m_chainLock = &fallback;
    return;
  }
  m_ownsLock = 1;
  if (!g_refuseWorker.load() && StartThreadWithTrampoline(&CFilterCtrl::WorkerEntry, this)) {
    m_workerStarted = 1;
  }
}

CFilterCtrl::~CFilterCtrl() {
  Shutdown();
  for (int32_t c = 0; c < kFilterChainCount; ++c) {
    m_currentChain = c;
    while (RemoveFilter(0)) {
    }
  }
  m_currentChain = 0;
  std::free(m_language);
  for (uint64_t i = 0; i < m_oldLanguageCount; ++i) std::free(m_oldLanguages[i]);
  std::free(m_oldLanguages);
  if (m_ownsLock) DestroyLock(m_chainLock);
}

void CFilterCtrl::Shutdown() {
  PlatformLock& lock = *m_chainLock;
  PlatformLockHold hold(lock);
  m_shutDown = 1;
  if (!m_workerStarted) {
    m_stop = 1;
    return;
  }
  if (m_workerLeft) return;
  m_stop = 1;
  m_wake.WakeAll();
  if (OnWorkerThread()) return;  // a filter ending the program from a run: nothing to wait for
  m_idle.Wait(lock, [this] { return m_workerLeft != 0; });
}

int32_t CFilterCtrl::OnWorkerThread() const {
  return m_workerStarted && m_workerThread.load() == std::this_thread::get_id() ? 1 : 0;
}

int32_t CFilterCtrl::MayWaitForWorker(const char* what) const {
  const char* why = nullptr;
  if (OnWorkerThread()) why = "on the filter worker thread";
  else if (m_editThread.load() == std::this_thread::get_id())
    why = "inside a chain edit";
  else if (FgDrawLock().HeldByThisThread()) why = "while holding the draw lock";
  else if (m_chainLock->HeldByThisThread()) why = "while holding the chain lock";
  if (!why) return 1;
#ifdef QV_CHECKED
  std::fprintf(stderr, "CFilterCtrl: %s %s would wait for itself\n", what, why);
  std::abort();
#else
  (void)what;
#endif
  return 0;
}

// ---------------------------------------------------------------------------------------
// Host interface (the base bodies)
void CFilterCtrl::OnDialogClosed() {}

void CFilterCtrl::EnableOnly(uint32_t solo, CImgFilter* filter) {
  FilterChain& chain = CurrentChain();
  for (uint64_t i = 0; i < chain.count; ++i) {
    CImgFilter* f = chain.filters[i];
    f->OnEnable(solo ? (f == filter ? 1 : 0) : 1);
  }
}

void CFilterCtrl::RequestProcess(uint32_t) {}
void CFilterCtrl::OnProcessed() {}
void CFilterCtrl::Redraw() {}
int32_t CFilterCtrl::SeekFrame(uint64_t) { return 0; }
uint64_t CFilterCtrl::GetCurrentScene() { return 0; }
uint64_t CFilterCtrl::GetSourceFrameTime() { return 0; }
uint64_t CFilterCtrl::GetPlaybackInterval() { return 33333; }
void CFilterCtrl::EnableImageInput(uint32_t) {}

void CFilterCtrl::ApplyCalibration(double scale, int32_t axisY, const wchar_t* unit) {
  m_scale = scale;
  m_axisY = axisY;
  if (unit) CopyUnit(m_unit, unit);
}

void CFilterCtrl::OpenAsNewImage(CImgBuff*) {}
int32_t CFilterCtrl::GetSourceImage(CImgBuff*) { return 0; }
int32_t CFilterCtrl::GetOutputImage(CImgBuff*) { return 0; }
void CFilterCtrl::OpenResultImage(CImgBuff*, uint32_t) {}
void CFilterCtrl::GetEncodeSettings(MediaWriteOptions*) {}
uint64_t CFilterCtrl::GetSourceFrameIntervalUs() { return 0; }

// ---------------------------------------------------------------------------------------
// Values told to filters
void CFilterCtrl::SetLanguage(const wchar_t* language) {
  if (!language || !language[0]) return;
  wchar_t* copy = DuplicateText(language);
  if (!copy) return;
  if (m_language) {
    // Filters of the other chains still point to the old text: keep it until the end.
    wchar_t** grown = static_cast<wchar_t**>(
        std::realloc(m_oldLanguages, (m_oldLanguageCount + 1) * sizeof(wchar_t*)));
    if (!grown) {
      std::free(copy);
      return;
    }
    m_oldLanguages = grown;
    m_oldLanguages[m_oldLanguageCount++] = m_language;
  }
  m_language = copy;
  FilterChain& chain = CurrentChain();
  for (uint64_t i = 0; i < chain.count; ++i) {
    chain.filters[i]->m_language = copy;
    chain.filters[i]->OnLanguageChanged(copy);
  }
}

void CFilterCtrl::SetOverlayColor(double red, double green, double blue) {
  m_guide[0] = red;
  m_guide[1] = green;
  m_guide[2] = blue;
  FilterChain& chain = CurrentChain();
  for (uint64_t i = 0; i < chain.count; ++i) {
    CImgFilter* f = chain.filters[i];
    f->m_guide[0] = red;
    f->m_guide[1] = green;
    f->m_guide[2] = blue;
    f->OnOverlayColorChanged(red, green, blue);
  }
}

void CFilterCtrl::SetScale(double scale, int32_t axisY, const wchar_t* unit) {
  m_scale = scale;
  m_axisY = axisY;
  if (unit) CopyUnit(m_unit, unit);
  FilterChain& chain = CurrentChain();
  for (uint64_t i = 0; i < chain.count; ++i) chain.filters[i]->SetScale(scale, axisY, unit);
}

namespace {

void TellSource(CImgFilter* f, uint64_t w, uint64_t h, uint64_t bpp, uint64_t scenes) {
  f->m_sourceWidth = w;
  f->m_sourceHeight = h;
  f->m_bytesPerPixel = bpp;
  f->m_sceneCount = scenes;
  f->OnSourceChanged(w, h, bpp, scenes);
}

}  // namespace

void CFilterCtrl::SetImageInfo(uint64_t width, uint64_t height, uint64_t bytesPerPixel,
                               uint64_t sceneCount) {
  m_width = width;
  m_height = height;
  m_bytesPerPixel = bytesPerPixel;
  m_sceneCount = sceneCount;
  AnnounceSource(CurrentChain());
}

void CFilterCtrl::AnnounceSource(FilterChain& chain) {
  chain.width = m_width;
  chain.height = m_height;
  chain.bytesPerPixel = m_bytesPerPixel;
  chain.sceneCount = m_sceneCount;
  for (uint64_t i = 0; i < chain.count; ++i)
    TellSource(chain.filters[i], m_width, m_height, m_bytesPerPixel, m_sceneCount);
}

// ---------------------------------------------------------------------------------------
// Chains
CImgFilter* CFilterCtrl::FilterAt(uint64_t index) const {
  const FilterChain& chain = m_chains[m_currentChain];
  return index < chain.count ? chain.filters[index] : nullptr;
}

int32_t CFilterCtrl::SelectChain(int32_t index) {
  if (index < 0 || index >= kFilterChainCount) return 0;
  ChainEdit edit(this);
  m_currentChain = index;
  FilterChain& chain = m_chains[index];
  if (chain.width == m_width && chain.height == m_height &&
      chain.bytesPerPixel == m_bytesPerPixel && chain.sceneCount == m_sceneCount)
    return 1;
  AnnounceSource(chain);
  return 1;
}

int32_t CFilterCtrl::AddFilter(CImgFilter* filter, uint64_t* index) {
  if (!filter) return 0;
  FilterChain& chain = CurrentChain();
  if (chain.count == UINT64_MAX) return 0;
  {
    ChainEdit edit(this);
    if (chain.count == chain.capacity) {
      // Grows by one place: a chain holds a handful of filters, added one at a time by hand.
      uint64_t want = chain.capacity + 1;
      if (want > UINT64_MAX / sizeof(CImgFilter*)) return 0;
      CImgFilter** grown = static_cast<CImgFilter**>(
          std::realloc(chain.filters, want * sizeof(CImgFilter*)));
      if (!grown) return 0;
      chain.filters = grown;
      chain.capacity = want;
    }
    chain.filters[chain.count++] = filter;
  }
  if (index) *index = chain.count - 1;
  filter->m_host = this;
  TellSource(filter, m_width, m_height, m_bytesPerPixel, m_sceneCount);
  filter->m_language = m_language;
  filter->OnLanguageChanged(m_language);
  filter->m_guide[0] = m_guide[0];
  filter->m_guide[1] = m_guide[1];
  filter->m_guide[2] = m_guide[2];
  filter->OnOverlayColorChanged(m_guide[0], m_guide[1], m_guide[2]);
  filter->SetScale(m_scale, m_axisY, m_unit);
  filter->m_filterEnabled = 1;
  filter->OnEnable(1);
  if (filter->HasDialog()) {
    filter->m_dialogVisible = 1;
    filter->m_dialogParent = m_parentScreen;
    filter->ShowDialog(1, m_parentScreen);
  }
  return 1;
}

int32_t CFilterCtrl::RemoveFilter(uint64_t index) {
  FilterChain& chain = CurrentChain();
  if (index >= chain.count) return 0;
  ChainEdit edit(this);
  CImgFilter* filter = chain.filters[index];
  if (filter->HasDialog() && filter->m_dialogVisible) {
    filter->m_dialogVisible = 0;
    filter->m_dialogParent = nullptr;
    filter->ShowDialog(0, nullptr);
  }
  delete filter;
  for (uint64_t i = index; i + 1 < chain.count; ++i) chain.filters[i] = chain.filters[i + 1];
  chain.count--;
  if (chain.selected == filter) {
    if (index < chain.count) {
      chain.selected = chain.filters[index];
    } else {
      chain.selected = nullptr;
      chain.selectedIndex = 0;
    }
  } else if (chain.selected && chain.selectedIndex > index) {
    // The selection stays on its filter, which moved down one place.
    chain.selectedIndex--;
  }
  if (chain.count == 0) {
    std::free(chain.filters);
    chain.filters = nullptr;
    chain.capacity = 0;
  }
  return 1;
}

void CFilterCtrl::RemoveAllFilters(uint32_t allChains) {
  if (!allChains) {
    while (RemoveFilter(0)) {
    }
    return;
  }
  int32_t current = m_currentChain;
  for (int32_t c = 0; c < kFilterChainCount; ++c) {
    {
      ChainEdit edit(this);
      m_currentChain = c;
    }
    while (RemoveFilter(0)) {
    }
  }
  ChainEdit edit(this);
  m_currentChain = current;
}

int32_t CFilterCtrl::SwapFilters(uint64_t i, uint64_t j) {
  FilterChain& chain = CurrentChain();
  if (i >= chain.count || j >= chain.count) return 0;
  if (i == j) return 1;
  ChainEdit edit(this);
  CImgFilter* t = chain.filters[i];
  chain.filters[i] = chain.filters[j];
  chain.filters[j] = t;
  return 1;
}

int32_t CFilterCtrl::SelectFilter(uint64_t index) {
  FilterChain& chain = CurrentChain();
  if (index >= chain.count) return 0;
  chain.selected = chain.filters[index];
  chain.selectedIndex = index;
  return 1;
}

void CFilterCtrl::EnableFilterDialogs(uint32_t enable) {
  FilterChain& chain = CurrentChain();
  for (uint64_t i = 0; i < chain.count; ++i) chain.filters[i]->EnableDialog(enable != 0);
}

// ---------------------------------------------------------------------------------------
// Requests and the worker loop
void CFilterCtrl::BeginEdit() {
  // After shut-down (the destructor deleting the filters) there is nothing to wait for, and
  // the caller may hold any lock.
  if (!m_workerStarted || m_workerLeft.load()) return;
  PlatformLock& lock = *m_chainLock;
  if (m_editThread.load() == std::this_thread::get_id()) {
    // An edit inside an edit (a filter's destructor editing the chain): only counted.
    PlatformLockHold hold(lock);
    m_editing++;
    return;
  }
  if (!MayWaitForWorker("a chain edit")) return;
  PlatformLockHold hold(lock);
  m_idle.Wait(lock, [this] {
    return m_workerLeft || (!m_requestPending && !m_running && !m_editing);
  });
  if (m_workerLeft) return;
  m_editing = 1;
  m_editThread.store(std::this_thread::get_id());
}

void CFilterCtrl::EndEdit() {
  if (!m_workerStarted) return;
  PlatformLockHold hold(*m_chainLock);
  if (!m_editing || m_editThread.load() != std::this_thread::get_id()) return;
  if (--m_editing) return;
  m_editThread.store(std::thread::id());
  // A request that came in during the edit waited for it.
  if (m_requestPending) m_wake.Wake();
  m_idle.WakeAll();
}

void CFilterCtrl::WaitIdle() {
  if (!m_workerStarted || m_workerLeft.load() || OnWorkerThread()) return;
  if (!MayWaitForWorker("waiting for the worker")) return;
  PlatformLock& lock = *m_chainLock;
  PlatformLockHold hold(lock);
  m_idle.Wait(lock, [this] { return m_workerLeft || (!m_requestPending && !m_running); });
}

// One pass for the request in the block, entered and left with the chain lock held once:
// take the request under the lock, run without it, hand the result over under it, then tell
// the host without it.
void CFilterCtrl::RunTakenRequest() {
  PlatformLock& lock = *m_chainLock;
  CFilterCtrl* ctrl = m_controller;
  if (m_input) CopyPictureReusing(&m_workPicture, m_input);
  else m_workPicture.Free();
  // The result goes where the request it came from asked, even when a later request has
  // replaced the block meanwhile.
  CImgBuff* output = m_output;
  uint64_t scene = m_scene;
  m_takenSerial = m_requestSerial;
  m_requestPending = 0;
  lock.Leave();
  ctrl->ProcessFrame(&m_workPicture, scene);
  lock.Enter();
  if (output) HandOver(output, &m_workPicture);
  lock.Leave();
  ctrl->OnProcessed();
  lock.Enter();
  m_finishedSerial = m_takenSerial;
}

// Without a worker the caller's thread runs the request, and any that a filter makes
// during the run (an asynchronous one from Process) right after it, as the worker would.
void CFilterCtrl::RunInline() {
  PlatformLockHold hold(*m_chainLock);
  if (m_running) return;  // made from inside the run: the loop below takes it next
  m_running = 1;
  while (m_requestPending && !m_stop) RunTakenRequest();
  m_running = 0;
}

void CFilterCtrl::Request(CImgBuff* output, CImgBuff* input, uint64_t scene, int32_t async) {
  if (!async && !MayWaitForWorker("a synchronous request")) return;
  PlatformLock& lock = *m_chainLock;
  {
    PlatformLockHold hold(lock);
    if (m_stop || m_workerLeft) return;
    m_input = input;
    m_output = output;
    m_scene = scene;
    m_requestPending = 1;
    uint64_t serial = ++m_requestSerial;
    if (m_workerStarted) {
      m_wake.Wake();
      if (async) return;
      m_idle.Wait(lock, [this, serial] { return m_workerLeft || m_finishedSerial >= serial; });
      return;
    }
  }
  RunInline();
}

uint32_t CFilterCtrl::WorkerEntry(void* self) {
  static_cast<CFilterCtrl*>(self)->WorkerLoop();
  return 0;
}

// One pass per request.  The worker waits on a condition that it tests under the lock, so a
// request made between its last look and its sleep is never lost.
void CFilterCtrl::WorkerLoop() {
  m_workerThread.store(std::this_thread::get_id());
  PlatformLock& lock = *m_chainLock;
  lock.Enter();
  while (!m_stop) {
    m_idle.WakeAll();
    m_wake.Wait(lock, [this] { return m_stop || (m_requestPending && !m_editing); });
    if (m_stop) break;
    m_running = 1;
    RunTakenRequest();
    m_running = 0;
  }
  m_stop = 0;
  m_workerLeft = 1;
  m_idle.WakeAll();
  lock.Leave();
}

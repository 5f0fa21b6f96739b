// filterctrl.h - the chain controller: four chains of filters, the values every filter is
// told, the filter worker thread that runs the current chain on request, and the host
// interface through which filters call back.
//
//   FilterChain     one chain: owned filters in order, the selection, the announced source
//   CFilterCtrl     the controller; its virtual operations are the host interface (the base
//                   bodies do little; the side panel answers them against the main screen)
//   overlay target  process-wide window or texture that PixelToGlX and PixelToGlY convert for
//
// Threads: the UI thread owns every chain operation, notification and request; the worker
// runs the current chain without the chain lock and calls OnProcessed after every run.
// Lock order: chain lock, then draw lock, then texture and font locks; the worker pool's
// lock is innermost.  A synchronous request (RequestProcess(0), SeekFrame, Request with
// async 0) waits for the worker, so it is refused on the worker thread and while the caller
// holds the draw or chain lock (checked builds stop there with a message).
//
// Every chain edit (add, remove, swap, select chain) first waits until the worker is idle,
// so a run never meets a chain that changes under it.  Shut-down (Shutdown, also run by the
// destructor) stops the worker and waits until it has left; requests then return at once.
// A class that answers the host operations calls Shutdown first in its own destructor, so
// that the worker never calls into a half-destroyed object.
#pragma once
#include <cstdint>

#include "app/filter.h"
#include "core/imgbuff.h"
#include "platform/thread.h"

class CFgTexture;
struct MediaWriteOptions;

struct FilterChain {
  CImgFilter** filters = nullptr;  // owned, in chain order; freed when the chain empties
  CImgFilter* selected = nullptr;
  uint64_t selectedIndex = 0;
  uint64_t count = 0;
  uint64_t capacity = 0;
  // Source as last handed to this chain's filters.
  uint64_t width = 0, height = 0, bytesPerPixel = 0, sceneCount = 0;
};

constexpr int32_t kFilterChainCount = 4;

class CFilterCtrl {
 public:
  CFilterCtrl();
  virtual ~CFilterCtrl();
  CFilterCtrl(const CFilterCtrl&) = delete;
  CFilterCtrl& operator=(const CFilterCtrl&) = delete;

  // ---- host interface, in slot order ---------------------------------------------------
  virtual void OnDialogClosed();
  // solo non-zero: OnEnable(1) for filter and OnEnable(0) for every other filter of the
  // current chain; solo 0: OnEnable(1) for all of them.  Enabled fields never change.
  virtual void EnableOnly(uint32_t solo, CImgFilter* filter);
  // Processes the current frame again; 0 waits until it is processed and shown.
  virtual void RequestProcess(uint32_t async);
  // After every run, on the worker thread (or the caller's when no worker runs).
  virtual void OnProcessed();
  virtual void Redraw();
  // Makes a scene current and processes it synchronously; 1/0.
  virtual int32_t SeekFrame(uint64_t position);
  virtual uint64_t GetCurrentScene();
  // Milliseconds (the interval in microseconds / 1000); 0 for stills and sequences.
  virtual uint64_t GetSourceFrameTime();
  virtual uint64_t GetPlaybackInterval();
  virtual void EnableImageInput(uint32_t enable);
  // The base stores the three values (unit copied) without telling the filters.
  virtual void ApplyCalibration(double scale, int32_t axisY, const wchar_t* unit);
  virtual void OpenAsNewImage(CImgBuff* picture);
  virtual int32_t GetSourceImage(CImgBuff* out);
  virtual int32_t GetOutputImage(CImgBuff* out);
  virtual void OpenResultImage(CImgBuff* picture, uint32_t flag);
  virtual void GetEncodeSettings(MediaWriteOptions* out);
  // The frame interval in microseconds (0 for stills and sequences): GetSourceFrameTime's
  // whole milliseconds turn 29.97 frames a second into 33 ms, too coarse for speeds.
  virtual uint64_t GetSourceFrameIntervalUs();

  // ---- values told to filters (each filter of the current chain, in order) -------------
  // Null or empty is ignored.  Superseded copies stay alive until the controller ends,
  // since filters of other chains still point to them.
  void SetLanguage(const wchar_t* language);
  void SetOverlayColor(double red, double green, double blue);
  // A null unit keeps the controller's unit but empties the filters'.
  void SetScale(double scale, int32_t axisY, const wchar_t* unit);
  void SetImageInfo(uint64_t width, uint64_t height, uint64_t bytesPerPixel,
                    uint64_t sceneCount);

  // ---- chains ---------------------------------------------------------------------------
  int32_t SelectChain(int32_t index);
  // Appends to the current chain, which then owns the filter; tells it host, source,
  // language, colour and calibration, enables it and opens its window.  0 (the filter
  // stays the caller's) when the array cannot grow.
  int32_t AddFilter(CImgFilter* filter, uint64_t* index);
  int32_t RemoveFilter(uint64_t index);
  void RemoveAllFilters(uint32_t allChains);
  int32_t SwapFilters(uint64_t i, uint64_t j);
  int32_t SelectFilter(uint64_t index);
  void EnableFilterDialogs(uint32_t enable);

  FilterChain& CurrentChain() { return m_chains[m_currentChain]; }
  uint64_t FilterCount() const { return m_chains[m_currentChain].count; }
  CImgFilter* FilterAt(uint64_t index) const;
  CImgFilter* SelectedFilter() const { return m_chains[m_currentChain].selected; }

  // ---- requests and the worker ---------------------------------------------------------
  // Hands a frame to the worker: input is copied into the worker's picture, the current
  // chain runs on it, the result becomes output's content (its pixel block exchanged with
  // the worker's under the chain lock, so output's pixel pointer changes) and OnProcessed
  // follows.  A request that comes while the worker runs replaces the one
  // still pending.  async 0 returns after a run that took this request (or a later one)
  // has finished and OnProcessed has run.  Both pictures stay the caller's and must live
  // until that run has copied them.
  void Request(CImgBuff* output, CImgBuff* input, uint64_t scene, int32_t async);
  // Waits until nothing is pending and no run is in progress (returns at once after
  // shut-down, on the worker thread, or without a worker).
  void WaitIdle();
  // Stops the worker and waits until it has left; idempotent.
  void Shutdown();
  // The chain lock: the request block and the hand-over of pictures.  The main screen
  // takes it while it reads the output picture.
  PlatformLock& ChainLock() { return *m_chainLock; }
  // 1 on the filter worker thread.
  int32_t OnWorkerThread() const;

  // ---- the chain run (chainrun.cpp) -----------------------------------------------------
  // Runs the enabled filters of the current chain on picture in place; worker thread only.
  void ProcessFrame(CImgBuff* picture, uint64_t scene);
  // Each enabled filter of the current chain draws its overlay; inside a drawing section.
  void DrawOverlays(CFgScreen* screen, CFgFont* font, int32_t viewX0, int32_t viewY0,
                    int32_t viewX1, int32_t viewY1, int32_t imageX0, int32_t imageY0,
                    int32_t imageX1, int32_t imageY1, int32_t zoom);

  // ---- component planes (planes.cpp) ----------------------------------------------------
  // Allocates plane for code (converting picture to 48-bit RGB or XYZ first when the code
  // needs it; convertedFormat, when given, receives 5 or 7 then) and fills it.  1, or 0 with
  // the plane empty (no memory, a refused conversion, a code or picture out of range).
  static int32_t ExtractComponent(CImgBuff* picture, CImgBuff* plane, uint32_t code,
                                  uint32_t* convertedFormat, int32_t width, int32_t height);
  // Writes the plane back into the component; where the plane gives no value (smaller or
  // empty plane) the picture keeps its own.  Nothing for a picture of no format.
  static void MergeComponent(CImgBuff* picture, CImgBuff* plane, uint32_t code);

  // Test hooks: the next controllers are made as if the system refused their worker thread.
  static void SetRefuseWorkerForTesting(int32_t refuse);

  // ---- fields: the worker and its request, the chain lock, the values told, the chains ----
  uint32_t m_workerStarted = 0;
  CImgBuff* m_input = nullptr;
  CImgBuff* m_output = nullptr;
  uint64_t m_scene = 0;
  CFilterCtrl* m_controller;
  uint32_t m_requestPending = 0;
  uint32_t m_stop = 0;
  PlatformLock* m_chainLock;
  uint32_t m_connectivity = 8;
  uint32_t m_background = 1;
  CFgScreen* m_parentScreen = nullptr;
  wchar_t* m_language = nullptr;
  uint64_t m_width = 0, m_height = 0, m_bytesPerPixel = 0, m_sceneCount = 0;
  double m_guide[3] = {1.0, 0.0, 0.0};
  double m_scale = 1.0;
  int32_t m_axisY = 1;
  wchar_t m_unit[kFilterUnitUnits] = {};
  FilterChain m_chains[kFilterChainCount];
  int32_t m_currentChain = 0;
  int32_t m_lastRect[4] = {0, 0, 0, 0};  // x0, y0, x1, y1 of the last run, inclusive

 private:
  static uint32_t WorkerEntry(void* self);
  // The controller's source becomes chain's announced source and each of its filters'.
  void AnnounceSource(FilterChain& chain);
  void WorkerLoop();
  // Runs the pending requests on the calling thread (no worker): copy in, run, copy out,
  // notify, as the worker loop does.
  void RunInline();
  void RunTakenRequest();
  // 0 (after the checked-build stop) when a wait for the worker could never end here.
  int32_t MayWaitForWorker(const char* what) const;
  // Waits idle and holds the worker off until the edit ends.
  void BeginEdit();
  void EndEdit();
  friend class ChainEdit;

  PlatformCondVar m_wake;   // the worker waits here for a request or stop
  PlatformCondVar m_idle;   // requesters and edits wait here for runs to finish
  uint64_t m_requestSerial = 0;    // serial of the request in the block
  uint64_t m_takenSerial = 0;      // serial of the request the current run took
  uint64_t m_finishedSerial = 0;   // serial of the last request whose run has ended
  uint32_t m_running = 0;          // a run (copies and OnProcessed included) is in progress
  uint32_t m_editing = 0;          // depth of the chain edit that holds the worker off
  std::atomic<std::thread::id> m_editThread{};
  std::atomic<uint32_t> m_workerLeft{0};  // read without the lock by edits after shut-down
  uint32_t m_shutDown = 0;
  uint32_t m_ownsLock = 0;
  std::atomic<std::thread::id> m_workerThread{};
  CImgBuff m_workPicture;          // the worker's own copy, kept while size and format stay
  CImgBuff m_plane;                // component plane, likewise kept between runs
  wchar_t** m_oldLanguages = nullptr;
  uint64_t m_oldLanguageCount = 0;
};

// Copies src into dst, reusing dst's pixels when format and size already match.  1, or 0
// (dst empty) when src is empty or memory is short.  Both must be different handles.
int32_t CopyPictureReusing(CImgBuff* dst, const CImgBuff* src);

// ---- overlay draw target (chainrun.cpp) -------------------------------------------------
// The converters read these without a lock; the main screen changes them on the UI thread
// only when it is made and destroyed and around its off-screen rendering.
// The main window: the main screen points it at itself when constructed and clears it when
// destroyed (without it every mark of every filter lands on the window's centre).
void SetOverlayMainWindow(CFgScreen* screen);
CFgScreen* OverlayMainWindow();
// A texture being rendered into (null resets); forgets the remembered texture size.
void SetOverlayTexture(CFgTexture* texture, uint32_t padded);
double PixelToGlX(int32_t x);
double PixelToGlY(int32_t y);

// Tick source and time-slice yield of the chain runner (null restores the platform's).
struct ChainRunClock {
  uint32_t (*tick)() = nullptr;
  void (*yield)() = nullptr;
};
void SetChainRunClockForTesting(const ChainRunClock& clock);

// scenewalk.h - how the whole-video tools, PIV and the trackers walk the scenes of the open
// video from a button of their window, on the UI thread.
//
//   CSceneWalk     the run bracket (busy, cancel, the tool alone enabled, the button relabelled
//                  "中止" / "CANCEL") and the fetch of one scene through the capture picture
//   CSceneWalkRun  scope guard: Begin on entry, End on every way out
//
// A fetch asks the host for the scene synchronously (SeekFrame); meanwhile the tool's own
// Process, on the filter worker, hands the frame as the filters before it left it to
// Capture.  The fetch then copies the capture out, dispatches pending window messages and
// tests the cancel flag (a second press of the button) and the quit flag.
#pragma once
#include <atomic>
#include <cstdint>

#include "core/imgbuff.h"
#include "platform/thread.h"
#include "toolkit/button.h"

class CImgFilter;

enum : int32_t {
  SceneStopped = -1,  // cancelled or quit: the walk ends
  SceneRefused = 0,   // the host refused the position, or the tool got no frame
  SceneFetched = 1,
};

class CSceneWalk {
 public:
  CSceneWalk() = default;
  ~CSceneWalk();
  CSceneWalk(const CSceneWalk&) = delete;
  CSceneWalk& operator=(const CSceneWalk&) = delete;

  // Starts a run of tool (which needs a host): busy set, cancel cleared, an empty capture,
  // EnableOnly(1, tool), the button (when given) relabelled for the tool's language.  0
  // when already busy or without a host.
  int32_t Begin(CImgFilter* tool, CFgUIButton* button);
  // Ends the run: capture freed, the button's label restored, flags cleared,
  // EnableOnly(0, tool).  Nothing when no run is going on.
  void End();
  // Scene position (0-based in the play range) into out; SceneFetched, SceneRefused or
  // SceneStopped.  out may be null when only the run through the chain matters.
  int32_t FetchScene(uint64_t position, CImgBuff* out);
  // The tool's Process: keeps a copy of frame while a run is going on (worker thread).
  void Capture(const CImgBuff* frame);
  // The button's second press.
  void Cancel() { m_cancel.store(1); }
  int32_t Busy() const { return m_busy.load(); }
  int32_t Cancelled() const { return m_cancel.load(); }

 private:
  std::atomic<int32_t> m_busy{0};
  std::atomic<int32_t> m_cancel{0};
  CImgFilter* m_tool = nullptr;
  CFgUIButton* m_button = nullptr;
  wchar_t m_label[kFgWidgetTextUnits] = {};
  PlatformLock m_lock;      // guards the capture between the worker and the UI thread
  CImgBuff m_capture;
  uint32_t m_captured = 0;  // a frame arrived since the last fetch began
};

class CSceneWalkRun {
 public:
  CSceneWalkRun(CSceneWalk* walk, CImgFilter* tool, CFgUIButton* button)
      : walk_(walk), ok_(walk ? walk->Begin(tool, button) : 0) {}
  ~CSceneWalkRun() {
    if (ok_) walk_->End();
  }
  CSceneWalkRun(const CSceneWalkRun&) = delete;
  CSceneWalkRun& operator=(const CSceneWalkRun&) = delete;
  int32_t Started() const { return ok_; }

 private:
  CSceneWalk* walk_;
  int32_t ok_;
};

// testhost.h - a chain controller with the real worker that answers the host operations as
// the side panel does, over scripted frames, and records what filters asked of it; and a
// scripted stand-in for the message box and the file chooser.  For the tests of every filter.
//
//   CTestHost         the host: a still picture or a scripted video, requests, seeks,
//                     calibration, encode settings; EnableOnly calls, new images, redraws
//   CScriptedDialogs  while alive, FgMessageBox and FgSelectFile open no window: questions are
//                     recorded and answered from a script
#pragma once
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/filterctrl.h"
#include "media/media.h"

class CTestHost : public CFilterCtrl {
 public:
  CTestHost();
  ~CTestHost() override;

  // ---- scripted source (UI thread) ------------------------------------------------------
  // A still picture: no video, scene count 1.  The chain is told the size; nothing runs.
  void SetStill(const CImgBuff& picture);
  // A video of copies of frames, frame interval in microseconds; position 0 becomes current
  // (not processed).  Empty frames or an empty list give 0.
  int32_t SetVideo(const std::vector<const CImgBuff*>& frames, uint64_t intervalUs);
  // Play range: the scene handed to filters is first + position x step.
  void SetPlayRange(uint64_t first, uint64_t step);

  // ---- host operations, as the side panel answers them ------------------------------------
  void OnDialogClosed() override;
  void EnableOnly(uint32_t solo, CImgFilter* filter) override;
  void RequestProcess(uint32_t async) override;
  void OnProcessed() override;
  void Redraw() override;
  int32_t SeekFrame(uint64_t position) override;
  uint64_t GetCurrentScene() override;
  uint64_t GetSourceFrameTime() override;
  uint64_t GetPlaybackInterval() override;
  void EnableImageInput(uint32_t enable) override;
  void ApplyCalibration(double scale, int32_t axisY, const wchar_t* unit) override;
  void OpenAsNewImage(CImgBuff* picture) override;
  int32_t GetSourceImage(CImgBuff* out) override;
  int32_t GetOutputImage(CImgBuff* out) override;
  void OpenResultImage(CImgBuff* picture, uint32_t flag) override;
  void GetEncodeSettings(MediaWriteOptions* out) override;
  uint64_t GetSourceFrameIntervalUs() override;

  // The panel's Reprocess: the current frame through the chain into the display picture;
  // 0 (nothing done) without a source.
  int32_t Reprocess(uint32_t async);
  // The scene number of the current position.
  uint64_t SceneOf(uint64_t position) const { return m_rangeFirst + position * m_rangeStep; }

  // ---- scripted answers -----------------------------------------------------------------
  uint64_t m_playbackMs = 33;
  MediaWriteOptions m_encode{};
  uint32_t m_encodeQualityMode = 0;  // "encode_mp4_bps_sel": 1 passes the quality percent on
  uint32_t m_encodeKeySwitch = 0;    // "encode_mp4_key_sel": 1 passes the key interval on
  // Called on the worker after each run's hand-over (stress tests make requests from it).
  std::function<void()> m_onProcessedHook;

  // ---- records --------------------------------------------------------------------------
  std::atomic<uint64_t> m_processedCount{0};  // OnProcessed calls, either thread
  std::atomic<uint64_t> m_redrawCount{0};     // Redraw, OnDialogClosed, each shown frame
  std::atomic<uint64_t> m_dialogClosedCount{0};
  std::vector<std::pair<uint32_t, CImgFilter*>> m_enableOnlyCalls;
  uint32_t m_imageInput = 0;
  uint64_t m_newImageCount = 0;       // OpenAsNewImage and OpenResultImage
  uint64_t m_seekCount = 0;
  uint64_t m_calibrationCount = 0;

  // ---- state the panel's main screen keeps ----------------------------------------------
  CImgBuff m_source;    // current source frame (changed under the chain lock)
  CImgBuff m_display;   // last processed frame (written by the worker under the chain lock)
  std::vector<CImgBuff*> m_frames;  // owned copies of the video's frames
  uint32_t m_isVideo = 0;
  uint64_t m_position = 0;
  uint64_t m_intervalUs = 0;
  uint64_t m_rangeFirst = 0, m_rangeStep = 1;

 private:
  void ClearFrames();
  void TellSource();
};

class CScriptedDialogs {
 public:
  struct Shown {
    std::wstring text, caption;
    int32_t kind;
  };
  struct Asked {
    std::wstring title, startPath, extensions;
  };

  CScriptedDialogs();   // installs the overrides (one object at a time)
  ~CScriptedDialogs();  // restores the real dialogs

  // Answers given in order; when they run out, message boxes answer 0 and the chooser
  // cancels.
  std::deque<int32_t> m_answers;
  std::deque<std::wstring> m_paths;
  std::vector<Shown> m_shown;
  std::vector<Asked> m_asked;
};

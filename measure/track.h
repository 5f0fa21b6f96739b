// track.h - the 2D tracker: targets with a box on the picture, and the engine that places
// each box scene by scene, lets the target find itself, falls back to its owner for a
// manual point and keeps the positions in a track table (ID i is target i).
//
//   CTrack               a target: owner, kind, lost flag, box; finds itself in a crop
//   CTrackPanel          a tracking method's settings panel: creates targets of its kind
//   TrackBinarySettings  binarisation settings that the colour tracker reads while it locates
//   CTrackCtrl           the tracker; its owner supplies scenes, pictures, stops and clicks
//
// Everything runs on the UI thread; during a run the owner's Yield and WaitManualInput
// let the user interface run, so owner handlers may run in the middle of a run.
#pragma once
#include <cstdint>

#include "measure/p2d.h"

class CImgBuff;
class CTrackCtrl;

enum TrackKind : uint32_t {
  TrackKindBox = 0,     // plain box: cannot locate itself, asks the user for every point
  TrackKindColour = 2,  // colour tracker (carries a colour window)
};

class CTrack {
 public:
  CTrackCtrl* owner;  // set by CTrackCtrl::AddTrack
  uint32_t kind;      // TrackKind
  uint32_t lost;      // no point found in a scene of the current run
  int32_t x, y, w, h; // box: top-left pixel and size (w, h >= 1)

  // No owner, kind 0, not lost, box (0, 0, 1, 1).
  CTrack();
  virtual ~CTrack();
  // Draws into the crop of the box what the target's tracker sees; nothing in the base.
  virtual void DrawPreview(CImgBuff* crop);
  // 1 with the target's point in crop coordinates; the base cannot locate and gives 0.
  virtual int32_t Locate(CImgBuff* crop, double* x, double* y);
  virtual void Reserved();
  // A new target of the same kind with every setting, owner, lost flag and box; null when
  // memory is short.  A split track continues as this copy, so a colour tracker keeps its
  // colour window.
  virtual CTrack* Clone() const;

  // Centres the box on (px, py): x = px - (w - 1) / 2, y = py - (h - 1) / 2, each truncated
  // toward zero.  The point must count (P2dPointCounts), which keeps both in range.
  void CentreOn(double px, double py);

 protected:
  CTrack(const CTrack&) = default;
  CTrack& operator=(const CTrack&) = default;
};

// Settings panel of a tracking method.  The mouse operations return 0 when the panel took
// the event (the owner does nothing more with it) and 1 to let the owner go on.
class CTrackPanel {
 public:
  CTrackPanel() = default;
  virtual ~CTrackPanel();
  CTrackPanel(const CTrackPanel&) = delete;
  CTrackPanel& operator=(const CTrackPanel&) = delete;

  virtual void DrawPreview(CImgBuff* picture);
  // Shows the controls inside the inclusive page rectangle, laid out for the language, or
  // hides them (show 0).
  virtual void Build(int32_t show, int32_t x0, int32_t y0, int32_t x1, int32_t y1, const wchar_t* language);
  // A new target of the panel's kind carrying its settings, or null (the base).
  virtual CTrack* CreateTrack();
  virtual void LoadFromTrack(CTrack* target);
  virtual void StoreToTrack(CTrack* target);
  virtual void ResetPicking();
  // 0 ends the owner's processing of this frame.
  virtual int32_t OnProcess(CImgBuff* picture, uint64_t frame, uint64_t x, uint64_t y, uint64_t w, uint64_t h,
                            int32_t connectivity, int32_t background);
  virtual int32_t OnMouseMove(int32_t x, int32_t y);
  virtual int32_t OnLButtonDown(int32_t x, int32_t y, uint32_t flags);
  virtual int32_t OnLButtonUp(int32_t x, int32_t y);
  virtual int32_t OnRButtonDown(int32_t x, int32_t y);
  virtual int32_t OnRButtonUp(int32_t x, int32_t y);
};

// Settings keys in brackets.
struct TrackBinarySettings {
  int32_t preview = 1;        // "preview"
  int32_t connect = 8;        // "connect"
  int32_t noiseAuto = 1;      // "noise_auto"
  int32_t noiseEnableL = 0;   // "noise_enable_l"
  int32_t noiseEnableH = 0;   // "noise_enable_h"
  int32_t noiseL = 10;        // "noise_l"
  int32_t noiseH = 1000;      // "noise_h"
  int32_t windowCut = 0;      // "window_cut"
  int32_t holeFill = 1;       // "holl_fill"
  int32_t multiSelect = 1;    // "multi_select"
};

class CTrackCtrl {
 public:
  uint8_t colourR = 255, colourG = 255, colourB = 255;  // overlay colour
  int32_t currentTarget = -1;  // last target and scene worked on; -1 until the first run
  int32_t currentScene = -1;
  uint32_t skip = 0;           // set by the owner during a manual wait: keep the scene's point
  TrackBinarySettings binary;
  CTrack** tracks = nullptr;   // owned
  int32_t trackCount = 0;
  int32_t trackCapacity = 0;   // entries allocated in tracks
  CP2dData table;

  CTrackCtrl() = default;
  // Destroys every target and empties the table.
  virtual ~CTrackCtrl();
  CTrackCtrl(const CTrackCtrl&) = delete;
  CTrackCtrl& operator=(const CTrackCtrl&) = delete;

  // ---- owner operations (the base answers as a tracker without an owner) ----
  // The inclusive scene range of a run; 0 refuses the run.
  virtual int32_t GetSceneRange(int32_t* first, int32_t* last);
  // Makes the scene current with its picture ready; 0 ends the run.
  virtual int32_t GoToScene(int32_t scene);
  // The scene at which a new target needs a row and loaded targets are placed.
  virtual int32_t GetCurrentScene();
  // Lets the user interface run; non-zero asks the run to stop.
  virtual int32_t Yield();
  // Called once after every run.
  virtual void Redraw();
  // The picture of the scene just made current, borrowed (the run copies it); null counts
  // as an empty picture.
  virtual CImgBuff* GetSceneImage();
  // Asks the user for the target's point (image pixels); 0 means the target is lost.
  virtual int32_t WaitManualInput(int32_t target, int32_t scene, int32_t* x, int32_t* y);
  virtual void OpenOptions();

  // ---- targets ----
  // Appends the target (the tracker owns it from then on) with a column in the table and a
  // row for the current scene; its index, or -1 with the target still the caller's: a null
  // target, w or h below 1, a box wholly left of or above the picture, no memory.
  int32_t AddTrack(CTrack* target);
  // Destroys target index and removes its column (later targets and IDs move down one);
  // 0 with nothing changed for a bad index or when the smaller table cannot be had.
  int32_t RemoveTrack(int32_t index);

  // ---- runs (step +1 forward, -1 backward) ----
  void RunTracking(int32_t step, int32_t predict, int32_t manual);
  // only: one target, or -1 for all of them one after the other.
  void RunTrackingSelected(int32_t step, int32_t predict, int32_t only, int32_t manual);
  // Places the box of a target for a scene before it is located.
  void StepTrack(int32_t target, int32_t scene, int32_t step, int32_t predict);
  // One target in one scene of picture: place, locate or ask, store, move the box on.
  void TrackFrame(const CImgBuff* picture, int32_t target, int32_t scene, int32_t step, int32_t predict,
                  int32_t manual);
  // The point to use for a target in a scene: its own, else the nearest looking back
  // against step, else looking ahead; 0 (x, y = 0) when the target has no point at all,
  // 0 with x, y untouched for a target or scene outside the table or a step other than
  // +1 or -1.
  int32_t GetPosition(int32_t target, int32_t scene, int32_t step, double* x, double* y);

  // ---- editing ----
  // Every point of target from scene first to last becomes no point; 0 for a bad range.
  int32_t ClearRange(int32_t target, int32_t first, int32_t last);
  // a takes b's points where it has none, then b is removed; 0 with nothing changed when
  // a and b are the same or not both targets.
  int32_t MergeTracks(int32_t a, int32_t b);
  // The points from the first scene at or after scene in which target has one move to a
  // new copy of the target appended last; 0 with nothing changed when there is none.
  int32_t SplitTrack(int32_t target, int32_t scene);
  // Replaces every target by a plain 11 x 11 box per ID of a track file, placed at its
  // point in the current scene.  A failed load keeps the targets and the table (the
  // table's error holds the code).
  int32_t LoadTracks(const char* path);

 private:
  void ClearLostFlags();
  void RemoveAllTracks();
  // Makes room for at least capacity targets (kept below 2^31); 0 when memory fails.
  int32_t ReserveTracks(int64_t capacity);
  bool ValidTarget(int32_t target) const { return target >= 0 && target < trackCount; }
};

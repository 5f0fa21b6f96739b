// videopanel.h - the scene bar at the bottom of the main window: five buttons (play
// backward, step back, stop, step forward, play forward), a track with a draggable thumb,
// and the timed play loop.  It knows a scene count and a position only; its listener loads
// and shows a scene whenever the position changes.
//
//   CVideoPanelListener  told of every new position (the main screen)
//   VideoPanelHit        one button or the thumb: square, reacting strip, icon cell
//   CVideoPanel          the bar
//   VideoPanelClock      the loop's tick and sleep (tests inject their own)
//   MakeSceneBarIcons    the bar's icon sheet: 9 cells of 32 x 32 and their faded copies
//
// Events and results:
//   play forward / backward button   Play(+1) / Play(-1); while playing only the direction
//   step forward / back button       stop, then one scene (nothing at the end)
//   stop button, Up or Down key      stop
//   Right / Left key                 one scene; with Shift play that way
//   thumb press, drag, release       stop; scenes follow the drag (count / track length)
//   end of the range while playing   stop
#pragma once

#include <cstdint>

#include "toolkit/texture.h"
#include "toolkit/uiobj.h"

class CVideoPanelListener {
 public:
  virtual ~CVideoPanelListener() = default;
  // On the UI thread after the position (and the thumb) changed; returns when the scene is
  // shown.  1 when showing it redrew the whole window, bar included, so the bar need not
  // draw it again; 0 when the window still shows the old state (a scene that failed).
  virtual int32_t OnSceneChanged(uint64_t position) = 0;
};

struct VideoPanelHit {
  int32_t x = -1, y = -1;
  int32_t width = 32, height = 32;
  int32_t hitX = 0, hitWidth = 32;
  uint64_t cell = 0;
};

// Records, in order.
enum : int32_t {
  kSceneBarPlayBack = 0,
  kSceneBarStepBack = 1,
  kSceneBarStop = 2,
  kSceneBarStepForward = 3,
  kSceneBarPlayForward = 4,
  kSceneBarThumb = 5,
  kSceneBarRecords = 6
};

constexpr int32_t kSceneBarHeight = 40;

struct VideoPanelClock {
  uint32_t (*tick)() = nullptr;           // milliseconds, wrapping at 32 bits
  void (*sleep)(uint32_t ms) = nullptr;   // one slice of at most 50 ms
};
// Null members restore the platform's.
void SetVideoPanelClockForTesting(const VideoPanelClock& clock);

// Window x of each track piece (every 30 pixels from start + 15, then one at end - 16),
// into out; their number.  None without a track (ends -1).
constexpr int64_t kMaxTrackPieces = 2048;  // a track of 61000 pixels
int64_t SceneBarTrackPieces(int64_t start, int64_t end, int64_t* out);

// Fills texture with the bar's 9 cells and their faded row, and uploads it.  0 on failure.
int32_t MakeSceneBarIcons(CFgTexture* texture);

class CVideoPanel : public CFgUIObj {
 public:
  CVideoPanel();
  ~CVideoPanel() override;

  void Layout();
  void UpdateThumb();
  int32_t SetScene(uint64_t n);
  int32_t StepForward();
  int32_t StepBack();
  // Runs the play loop with step s (+1, -1) until playing stops; inside a running loop
  // only changes the step.
  void Play(int32_t s);

  void OnMouseMove(int32_t x, int32_t y) override;
  void OnLButtonDown(int32_t x, int32_t y) override;
  void OnLButtonUp(int32_t x, int32_t y) override;
  void OnKeyStateChanged() override;
  void OnSpecialKeyRepeat() override;
  void Draw(CFgScreen* screen, CFgFont* font) override;
  void OnAttach() override;

  CFgTexture m_icons;
  VideoPanelHit m_hits[kSceneBarRecords];
  int64_t m_trackStart = 0;
  int64_t m_trackEnd = 0;
  uint64_t m_count = 1;
  uint64_t m_position = 0;
  uint64_t m_interval = 33;  // milliseconds a step; never 0
  uint32_t m_skip = 0;
  int32_t m_step = 0;
  int32_t m_hovered = -1;
  uint32_t m_dragStartX = 0;  // 0: no drag
  uint64_t m_dragStartPosition = 0;
  CVideoPanelListener* m_listener = nullptr;

 private:
  void RedrawOwner();
  void Changed();  // thumb, listener, redraw unless the listener's showing redrew
  // Waits ms in slices, pumping messages; false when the quit message came.
  bool Wait(uint32_t ms);
};

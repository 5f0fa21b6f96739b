// mmeasure.h - manual measurement: up to four points clicked on the image view give a
// position, a distance in calibrated units or the angle between two directions, shown as
// one line in a small window with a "CLS" button and drawn over the view.
//
//   CLfMmeasure         the filter (FilterId 10013) and its window
//   MmeasurePoint       one clicked point, image pixels
//   FormatManualResult  the result line for the points, the calibration and the language
//
// Threads: clicks and "CLS" run on the UI thread, Process (which refreshes the line) on the
// filter worker.  The points and the label text change only under the process-wide draw
// lock; the count is published after its point (release) and read with acquire.
#pragma once
#include <atomic>
#include <cstdint>

#include "filters/common/scaffold.h"
#include "toolkit/button.h"
#include "toolkit/label.h"

struct MmeasurePoint {
  uint32_t x, y;
};

// Writes the line for count points (0 to 4) into out (capacity units, at least 1); a unit
// that does not fit is cut.  yFlipHeight: the source height when the Y axis points up, else
// 0.  Three points: directions P0 - P1 and P2 - P1; four: P1 - P0 and P3 - P2; the line
// shows the angle between them in radians, or "---" when a direction is the zero vector.
void FormatManualResult(wchar_t* out, uint64_t capacity, const MmeasurePoint* points,
                        uint64_t count, int32_t japanese, double scale, int32_t axisY,
                        uint64_t sourceHeight, const wchar_t* unit);

class CLfMmeasure : public CFilterWindow {
 public:
  static constexpr uint32_t kFilterId = 10013;
  static constexpr uint64_t kMaxPoints = 4;

  CLfMmeasure();
  ~CLfMmeasure() override;

  const wchar_t* GetName(const wchar_t* language) override;
  void OnEnable(int32_t enabled) override;
  void ShowDialog(int32_t show, CFgScreen* parent) override;
  // The copies the line is built from, kept under the draw lock (the base's own are written
  // by the UI thread without it).
  void OnLanguageChanged(const wchar_t* language) override;
  void OnScaleChanged(double scale, int32_t axisY, const wchar_t* unit) override;
  void OnSourceChanged(uint64_t width, uint64_t height, uint64_t bytesPerPixel,
                       uint64_t sceneCount) override;
  // Only the line: the frame is not changed.
  void Process(CImgBuff* picture, uint64_t scene, int64_t x, int64_t y, int64_t width,
               int64_t height, uint32_t connectivity, uint32_t background) override;
  using CFilterWindow::OnLButtonDown;
  using CFilterWindow::OnRButtonDown;
  // Left: the next point while fewer than four are set.  Right: forgets the last point.
  void OnLButtonDown(int64_t x, int64_t y, uint8_t flags) override;
  void OnRButtonDown(int64_t x, int64_t y, uint8_t flags) override;
  using CFilterWindow::DrawOverlay;
  void DrawOverlay(PixelToGlFn toGlX, PixelToGlFn toGlY, CFgScreen* screen, CFgFont* font,
                   int32_t viewX0, int32_t viewY0, int32_t viewX1, int32_t viewY1,
                   int32_t imageX0, int32_t imageY0, int32_t imageX1, int32_t imageY1,
                   int32_t zoom) override;

  static void OnClear(CFgUIButton* button, void* filter);
  // Rebuilds the line into the label; host: the host redraws the view (not from the worker,
  // which redraws the view after its run anyway); then the window is redrawn.
  void UpdateText(int32_t host);
  uint64_t PointCount() const { return m_pointCount.load(std::memory_order_acquire); }

  CFgUILabel m_result;
  CFgUIButton m_clear;
  MmeasurePoint m_points[kMaxPoints] = {};
  std::atomic<uint64_t> m_pointCount{0};
  static FilterWindowPlace s_classPlace;
  // Under the draw lock.
  int32_t m_japanese = 1;
  double m_calScale = 1.0;
  int32_t m_calAxisY = 1;
  uint64_t m_height = 0;
  wchar_t m_calUnit[kFgWidgetTextUnits] = {};

 private:
  FilterLayoutItem m_layoutItems[2];
};

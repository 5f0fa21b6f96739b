// flowdata.h - a vector field over the scenes of a video: a grid of square cells laid over
// the picture and, per scene, one displacement per cell with two outlier flags computed
// from its eight neighbours; drawn over the image view as arrows coloured by speed.
//
//   FlowVector        one displacement in pixels; (0, 0) means the cell has no vector
//   OverlayMapping    what a drawing needs to put an image point on the view
//   OverlayImageToGl  an image point to OpenGL coordinates
//   CFlowData         the grid, the vectors and flags per scene, the outlier tests, drawing
//
// PIV and particle tracking each hold one for their whole life.  The owner creates, checks
// and reads it on the UI thread; drawing runs wherever the main window is redrawn.  The
// field takes no lock: its owners change it under the draw lock and never draw it while a
// worker writes it.
#pragma once
#include <cstdint>

#include "app/filter.h"

struct FlowVector {
  double dx = 0.0, dy = 0.0;
};

struct OverlayMapping {
  PixelToGlFn toGlX = nullptr, toGlY = nullptr;
  int32_t viewX0 = 0, viewY0 = 0, viewX1 = 0, viewY1 = 0;     // window pixels, inclusive
  int32_t imageX0 = 0, imageY0 = 0, imageX1 = 0, imageY1 = 0;  // image pixels, inclusive
  int32_t zoom = 1;
};

// The image point (x, y) becomes OpenGL coordinates in place: image origin off, scaled by
// the zoom code (0 and -1 fit each axis, >= 2 multiplies, <= -2 divides), view origin on,
// rounded half away from zero, then through the converters.  No half-pixel offset.  0
// (unchanged) when a converter is missing.
int32_t OverlayImageToGl(const OverlayMapping& mapping, double* x, double* y);

// Flag bits of a vector.
constexpr uint8_t kFlowDirectionOutlier = 1;
constexpr uint8_t kFlowLengthOutlier = 2;

class CFlowData {
 public:
  CFlowData() = default;
  virtual ~CFlowData();
  CFlowData(const CFlowData&) = delete;
  CFlowData& operator=(const CFlowData&) = delete;

  // Frees everything and lays a grid of nx x ny cells of step pixels from (originX,
  // originY) with zero vectors over frames scenes.  0 (grid empty) for a negative origin,
  // a size below 1, more than 4294967295 entries or no memory.
  int32_t Create(int32_t originX, int32_t originY, int32_t step, int32_t nx, int32_t ny, int32_t frames);
  // A centred grid over a picture of (lastX + 1) x (lastY + 1) pixels that leaves at least
  // one cell free on every side: W / step - 2 cells per row, H / step - 2 per column.  0
  // when a side holds fewer than 3 cells.
  int32_t CreateForImage(int32_t lastX, int32_t lastY, int32_t step, int32_t frames);
  // Frees the arrays and zeroes the grid; the settings stay.
  void Clear();
  // The vector of cell (x, y) in scene frame, null outside the grid or scenes.
  FlowVector* GetVector(int32_t x, int32_t y, int32_t frame);
  const FlowVector* GetVector(int32_t x, int32_t y, int32_t frame) const;
  // The flags of (x, y) in frame, 0 outside.
  uint8_t GetFlags(int32_t x, int32_t y, int32_t frame) const;
  int32_t FlagsReady(int32_t frame) const;
  // Computes and stores the flags of one scene, or of every scene for -1.
  void CheckFrame(int32_t frame);
  // Clears every flag and flags-ready byte (the limits changed): computed again when drawn.
  void ClearFlags();
  // Every flag of one scene 0 and the scene's flags ready: a field whose vectors are means
  // of tracked particles has no outliers to flag.
  void ClearFrameFlags(int32_t frame);
  // The flags of one vector from its neighbours (the neighbours' flags play no part).
  uint8_t CheckVector(int32_t x, int32_t y, int32_t frame) const;
  // The angle between a and b in radians, 0 when either is (0, 0).
  static double AngleBetween(double ax, double ay, double bx, double by);
  // The speed colour of a vector's length at brightness b, as r, g, b.
  void SpeedColor(const FlowVector& v, double b, double rgb[3]) const;
  // The same, set as the current OpenGL colour.
  void SetSpeedColor(const FlowVector& v, double b) const;
  // Draws one scene: coloured cells (cells 1), the grid, the arrows of the vectors that are
  // shown, the selected cell's arrow.  A scene outside the field draws the grid only.
  int32_t Draw(int32_t cells, const OverlayMapping& mapping, int32_t frame, double arrowZoom, double red,
               double green, double blue, int32_t hideDirection, int32_t hideLength);
  static int32_t DrawGrid(int32_t originX, int32_t originY, int32_t step, int32_t nx, int32_t ny,
                          const OverlayMapping& mapping, double red, double green, double blue);
  static void DrawArrow(const OverlayMapping& mapping, double x1, double y1, double x2, double y2);
  // The head corners of an arrow (what DrawArrow maps); 0 when both points are equal.
  static int32_t ArrowHead(double x1, double y1, double x2, double y2, double corners[4]);

  int32_t HasGrid() const { return vectors_ && nx_ >= 1 && ny_ >= 1 && frames_ >= 1; }
  int32_t OriginX() const { return originX_; }
  int32_t OriginY() const { return originY_; }
  int32_t Step() const { return step_; }
  int32_t Nx() const { return nx_; }
  int32_t Ny() const { return ny_; }
  int32_t Frames() const { return frames_; }

  // Settings: the owner's to change; Create leaves them.
  uint32_t showGrid = 1;
  double angleLimit = 0.78539816339744830962;  // pi / 4
  double lengthRatio = 2.0;
  int32_t selectedX = -1, selectedY = -1;
  int32_t colorBase = 2, colorStep = 2;

 private:
  uint64_t Index(int32_t x, int32_t y, int32_t frame) const {
    return (uint64_t(frame) * uint64_t(ny_) + uint64_t(y)) * uint64_t(nx_) + uint64_t(x);
  }
  int32_t Shown(int32_t x, int32_t y, int32_t frame, int32_t hideDirection, int32_t hideLength) const;

  int32_t originX_ = 0, originY_ = 0, step_ = 0, nx_ = 0, ny_ = 0;
  FlowVector* vectors_ = nullptr;
  uint8_t* flags_ = nullptr;
  uint8_t* ready_ = nullptr;
  int32_t frames_ = 0;
};

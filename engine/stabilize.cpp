// stabilize.cpp - tracking blocks and two-point stabilisation.  The block grid is measured on
// the worker pool, a block row per unit; the stabilisation itself is a short chain of engine
// calls on the caller's thread (template search, refinement, RotateScale, re-match, shift),
// each of which uses the pool.
// Inside: tracking blocks - point matcher and shift - two-point stabilisation
#include "engine/stabilize.h"

#include <cmath>
#include <cstdlib>

#include "engine/match.h"
#include "engine/region.h"
#include "engine/rotate_scale.h"
#include "engine/shift.h"

namespace {

int32_t Usable(const CImgBuff* img) {
  return img && img->record && IsValidFormat(img->Format()) && img->Pixels() && img->Width() >= 1 &&
         img->Height() >= 1;
}

// A 64-bit coordinate brought into 32 bits; searches clamp their windows to the picture
// anyway, so a clamped end changes nothing.
int32_t Clamp32(int64_t v) {
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return int32_t(v);
}

// ---- tracking blocks -----------------------------------------------------------------------

struct BlockGridJob {
  CImgBuff* img;
  TrackBlock* blocks;
  int32_t x0, y0;
  int32_t perRow;
  int32_t blockW, blockH;
};

void MeasureBlockRows(void* ctx, uint64_t first, uint64_t count) {
  const BlockGridJob& job = *static_cast<const BlockGridJob*>(ctx);
  for (uint64_t r = first; r < first + count; ++r) {
    for (int32_t c = 0; c < job.perRow; ++c) {
      TrackBlock& b = job.blocks[int64_t(r) * job.perRow + c];
      b.x0 = job.x0 + c * job.blockW;
      b.y0 = job.y0 + int32_t(r) * job.blockH;
      b.x1 = b.x0 + job.blockW - 1;
      b.y1 = b.y0 + job.blockH - 1;
      RegionStats s;
      if (!RegionStatistics(job.img, b.x0, b.y0, b.x1, b.y1, &s)) continue;  // inside by construction
      b.rowColSpreadL = std::fmin(s.v[9], s.v[10]);
      b.rowColSpreadAB = std::fmin(s.v[11], s.v[12]);
      b.rowColRoughL = std::fmin(s.v[13], s.v[14]);
      b.rowColRoughAB = std::fmin(s.v[15], s.v[16]);
    }
  }
}

}  // namespace

int32_t BuildTrackingBlocks(CImgBuff* img, int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t blockW,
                            int32_t blockH, TrackBlock** out) {
  if (!Usable(img) || !out) return 0;
  if (!(0 <= x0 && x0 <= x1 && x1 < img->Width() && 0 <= y0 && y0 <= y1 && y1 < img->Height())) return 0;
  if (blockW < 1 || blockW > x1 - x0 + 1 || blockH < 1 || blockH > y1 - y0 + 1) return 0;
  // Centre the grid: the smaller half of the margin on the left (top).
  const int32_t rx = (x1 - x0 + 1) % blockW, ry = (y1 - y0 + 1) % blockH;
  x0 += rx / 2, x1 -= rx - rx / 2;
  y0 += ry / 2, y1 -= ry - ry / 2;
  const int32_t nx = (x1 - x0 + 1) / blockW, ny = (y1 - y0 + 1) / blockH;
  const int64_t n = int64_t(nx) * ny;
  if (n > INT32_MAX) return 0;
  TrackBlock* blocks = static_cast<TrackBlock*>(std::calloc(size_t(n), sizeof(TrackBlock)));
  if (!blocks) return 0;
  BlockGridJob job{img, blocks, x0, y0, nx, blockW, blockH};
  ParallelFor(MeasureBlockRows, &job, uint64_t(ny));
  *out = blocks;
  return int32_t(n);
}

int32_t SelectTrackingBlocks(CImgBuff* img, int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t blockW,
                             int32_t blockH, TrackBlock* best, TrackBlock* second) {
  if (!Usable(img) || !best || !second) return 0;
  TrackBlock* list = nullptr;
  const int32_t n = BuildTrackingBlocks(img, x0, y0, x1, y1, blockW, blockH, &list);
  if (n < 2) {
    std::free(list);
    return 0;
  }
  int32_t b = 0;
  for (int32_t k = 1; k < n; ++k)
    if (TrackBlockScore(list[k]) > TrackBlockScore(list[b])) b = k;
  const double dxR = double(x1) - x0, dyR = double(y1) - y0;
  const double D = std::sqrt(dxR * dxR + dyR * dyR);
  // The starting block's plain score is the bar the distance-weighted candidates must clear.
  int32_t s = b == n - 1 ? n - 2 : n - 1;
  double running = TrackBlockScore(list[s]);
  for (int32_t k = n - 1; k >= 0; --k) {
    if (k == b) continue;
    const double ddx = double(list[k].x0) - list[b].x0, ddy = double(list[k].y0) - list[b].y0;
    const double weighted = std::sqrt(ddx * ddx + ddy * ddy) / D * TrackBlockScore(list[k]);
    if (weighted > running) {
      s = k;
      running = weighted;
    }
  }
  *best = list[b];
  *second = list[s];
  std::free(list);
  return 1;
}

// ---- point matcher and shift ---------------------------------------------------------------

int32_t MatchPointSubpixel(CImgBuff* image, CImgBuff* templ, int32_t x, int32_t y, int32_t radius, double* dx,
                           double* dy, int32_t colourMode) {
  if (!Usable(image) || !Usable(templ) || !dx || !dy || radius < 1) return 0;
  int32_t bx = x, by = y;
  if (radius >= 2) {
    const int64_t r = int64_t(radius) - 1;
    if (!MatchTemplate(image, templ, x, y, Clamp32(int64_t(x) - r), Clamp32(int64_t(y) - r), Clamp32(int64_t(x) + r),
                       Clamp32(int64_t(y) + r), &bx, &by, 0, colourMode, 1, nullptr, nullptr, nullptr))
      return 0;
  }
  double fx, fy;
  if (!MatchTemplateSubpixelRange(image, templ, double(bx) - 1.0, double(by) - 1.0, double(bx) + 1.0,
                                  double(by) + 1.0, &fx, &fy, 0, colourMode, 0.1, nullptr, nullptr, nullptr))
    return 0;
  *dx = fx - x;
  *dy = fy - y;
  return 1;
}

int32_t CompensateShift(int32_t wholePixels, CImgBuff* img, double dx, double dy, uint8_t fill) {
  if (!std::isfinite(dx) || !std::isfinite(dy)) return 0;
  const double tx = std::trunc(-dx), ty = std::trunc(-dy);
  if (tx < -2147483648.0 || tx > 2147483647.0 || ty < -2147483648.0 || ty > 2147483647.0) return 0;
  if (wholePixels) return ShiftImageWhole(img, int32_t(tx), int32_t(ty), fill);
  return ShiftImage(img, -dx, -dy, fill);
}

// ---- two-point stabilisation ---------------------------------------------------------------

namespace {

struct TwoPointCall {
  int32_t wholePixels;
  CImgBuff* frame;
  CImgBuff* const* templates;
  const int32_t* refX;
  const int32_t* refY;
  const int32_t* searchX;  // where to search: the reference positions or the caller's points
  const int32_t* searchY;
  int32_t radius;
  uint8_t fill;
  int32_t colourMode;
  double* outX;
  double* outY;
};

int32_t RunTwoPoints(const TwoPointCall& c) {
  if (!c.templates || !Usable(c.templates[0]) || !Usable(c.templates[1])) return 0;
  if (!c.refX || !c.refY || !c.searchX || !c.searchY || !Usable(c.frame) || c.radius < 1) return 0;
  const int32_t w = c.frame->Width(), h = c.frame->Height();
  double fx[2], fy[2];
  for (int32_t i = 0; i < 2; ++i) {
    const int64_t sx = c.searchX[i], sy = c.searchY[i], r = c.radius;
    int32_t bx, by;
    if (!MatchTemplate(c.frame, c.templates[i], c.searchX[i], c.searchY[i], Clamp32(sx - r), Clamp32(sy - r),
                       Clamp32(sx + r), Clamp32(sy + r), &bx, &by, 0, c.colourMode, 1, nullptr, nullptr, nullptr))
      return 0;
    if (!MatchTemplateSubpixel(c.frame, c.templates[i], bx, by, &fx[i], &fy[i], 0, c.colourMode, 0.1, nullptr,
                               nullptr, nullptr))
      return 0;
  }
  if (c.outX) c.outX[0] = fx[0], c.outX[1] = fx[1];
  if (c.outY) c.outY[0] = fy[0], c.outY[1] = fy[1];
  const double Rx = double(c.refX[1]) - c.refX[0], Ry = double(c.refY[1]) - c.refY[0];
  const double Mx = fx[1] - fx[0], My = fy[1] - fy[0];
  // Two points found on top of each other give no direction and an infinite scale.
  const double lenM = std::sqrt(Mx * Mx + My * My);
  if (!(lenM > 0)) return 0;
  const double s = std::sqrt(Rx * Rx + Ry * Ry) / lenM;
  const double theta = std::atan2(Ry, Rx) - std::atan2(My, Mx);
  if (!std::isfinite(s) || !std::isfinite(theta)) return 0;

  if (!RotateScale(c.frame, w / 2, h / 2, theta * 180.0 / 3.141592653589793, s, 0, c.fill)) return 0;

  // Where the first point lies now.
  const double cx = w / 2, cy = h / 2;
  const double px = cx + s * (std::cos(theta) * (fx[0] - cx) - std::sin(theta) * (fy[0] - cy));
  const double py = cy + s * (std::sin(theta) * (fx[0] - cx) + std::cos(theta) * (fy[0] - cy));
  const double pxt = std::trunc(px), pyt = std::trunc(py);
  double ex = 0, ey = 0;
  // A prediction beyond 32 bits cannot be searched: a failed re-match, and the shift below
  // refuses the displacement.
  if (pxt >= -2147483648.0 && pxt <= 2147483647.0 && pyt >= -2147483648.0 && pyt <= 2147483647.0) {
    if (!MatchPointSubpixel(c.frame, c.templates[0], int32_t(pxt), int32_t(pyt), 8, &ex, &ey, c.colourMode))
      ex = ey = 0;
  }
  return CompensateShift(c.wholePixels, c.frame, ex + (pxt - c.refX[0]), ey + (pyt - c.refY[0]), c.fill);
}

}  // namespace

int32_t StabilizeTwoPoints(int32_t wholePixels, CImgBuff* frame, CImgBuff* const* templates, const int32_t* refX,
                           const int32_t* refY, int32_t radius, uint8_t fill, int32_t colourMode) {
  return RunTwoPoints(TwoPointCall{wholePixels, frame, templates, refX, refY, refX, refY, radius, fill, colourMode,
                                   nullptr, nullptr});
}

int32_t StabilizeTwoPointsEx(CImgBuff* frame, CImgBuff* const* templates, const int32_t* refX, const int32_t* refY,
                             const int32_t* searchX, const int32_t* searchY, int32_t radius, uint8_t fill,
                             double* outX, double* outY) {
  if (!searchX || !searchY) return 0;
  return RunTwoPoints(
      TwoPointCall{0, frame, templates, refX, refY, searchX, searchY, radius, fill, 0, outX, outY});
}

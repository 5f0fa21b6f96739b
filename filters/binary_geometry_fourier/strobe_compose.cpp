// strobe_compose.cpp - the strobe composition: motion mask, background restoration and the
// composing of the changed pixels.
//
// Blocks are scored in place on 8-bit views of the pictures, with the sum and the score of
// the engine's region dissimilarity, instead of cropping both blocks for every comparison.
// A pass of the change test reads no flags, so one pass finds every changed block.  A
// restoration step decides its blocks from the unchanged background and mask and then
// applies them, so no worker reads what another writes and neither picture is copied.
#include "filters/binary_geometry_fourier/strobe_compose.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "engine/frame.h"
#include "engine/region.h"
#include "engine/regionplane.h"

namespace {

constexpr int32_t kBlock = 4;
// Work per band handed to the pool (bytes compared or pixels composed).
constexpr int64_t kMinBand = 1 << 15;

// The 8-bit values a comparison reads: gray 8-bit and 24-bit colour pictures in place, any
// other format converted once through the pixel accessors (gray formats to one gray byte,
// colour formats to R, G, B).
struct View8 {
  const uint8_t* base = nullptr;
  int64_t stride = 0;
  int32_t channels = 1;
  int32_t width = 0, height = 0;
  std::vector<uint8_t> own;

  int32_t Make(const CImgBuff& p) {
    width = p.Width();
    height = p.Height();
    const int32_t format = p.Format();
    if (!p.Pixels() || width < 1 || height < 1) return 0;
    channels = IsGrayFormat(format) ? 1 : 3;
    stride = int64_t(width) * channels;
    if (format == ImgFormatGray8 || format == ImgFormatRgb24) {
      base = static_cast<const uint8_t*>(p.Pixels());
      return 1;
    }
    own.resize(size_t(stride) * size_t(height));
    for (int32_t y = 0; y < height; ++y) {
      uint8_t* row = own.data() + size_t(y) * size_t(stride);
      for (int32_t x = 0; x < width; ++x) {
        if (channels == 1) p.GetGray8(x, y, &row[x]);
        else p.GetRGB8(x, y, &row[3 * x], &row[3 * x + 1], &row[3 * x + 2]);
      }
    }
    base = own.data();
    return 1;
  }
  const uint8_t* At(int32_t x, int32_t y) const {
    return base + int64_t(y) * stride + int64_t(x) * channels;
  }
};

int32_t SameGeometry(const CImgBuff& a, int32_t w, int32_t h, int32_t format) {
  return a.Pixels() && a.Width() == w && a.Height() == h && a.Format() == format;
}

// Scene i into out, held to the run's one size and format: 1, or 0 / -1 as the source says
// (a scene of another size counts as one that cannot be had).
int32_t FetchSized(const StrobeJob& job, uint64_t i, CImgBuff* out, int32_t w, int32_t h,
                   int32_t format) {
  const int32_t r = job.scenes->Fetch(i, out);
  if (r != 1) return r;
  return SameGeometry(*out, w, h, format) ? 1 : 0;
}

int32_t BlockInside(int32_t x0, int32_t y0, int32_t w, int32_t h) {
  return x0 >= 0 && y0 >= 0 && x0 + kBlock <= w && y0 + kBlock <= h;
}

struct ChangeJob {
  const View8* a;
  const View8* b;
  StrobeGrid* grid;
  CompareMode mode;
};

void ChangedBlockRows(void* ctx, uint64_t first, uint64_t count) {
  const ChangeJob& job = *static_cast<const ChangeJob*>(ctx);
  StrobeGrid& g = *job.grid;
  const int32_t rowBytes = kBlock * job.a->channels;
  for (uint64_t by = first; by < first + count; ++by) {
    for (int32_t bx = 0; bx < g.cols; ++bx) {
      const int32_t x0 = bx * kBlock, y0 = int32_t(by) * kBlock;
      uint8_t changed = 1;  // a block past the edge cannot be compared: it differs
      if (BlockInside(x0, y0, g.width, g.height)) {
        int64_t sad = 0;
        for (int32_t j = 0; j < kBlock; ++j) {
          const uint8_t* p = job.a->At(x0, y0 + j);
          const uint8_t* q = job.b->At(x0, y0 + j);
          for (int32_t k = 0; k < rowBytes; ++k) sad += std::abs(int32_t(p[k]) - int32_t(q[k]));
        }
        changed = ScoreFromSadU8(job.mode, sad, kBlock, kBlock) <= 8.0 ? 0 : 1;
      }
      g.At(bx, int32_t(by)) = changed;
    }
  }
}

// Sets every mask pixel of the flagged blocks to 255.
void MergeMask(CImgBuff* mask, const StrobeGrid& g) {
  for (int32_t y = 0; y < g.height; ++y) {
    uint8_t* row = RowPtr<uint8_t>(mask->record, 0, y);
    for (int32_t bx = 0; bx < g.cols; ++bx) {
      if (!g.flags[size_t(y / kBlock) * size_t(g.cols) + size_t(bx)]) continue;
      const int32_t x0 = bx * kBlock, x1 = std::min(x0 + kBlock, g.width);
      std::memset(row + x0, 255, size_t(x1 - x0));
    }
  }
}

int32_t MaskBlockSet(const CImgBuff& mask, int32_t bx, int32_t by) {
  const int32_t x0 = bx * kBlock, y0 = by * kBlock;
  const int32_t x1 = std::min(x0 + kBlock, mask.Width()), y1 = std::min(y0 + kBlock, mask.Height());
  for (int32_t y = y0; y < y1; ++y) {
    const uint8_t* row = RowPtr<uint8_t>(mask.record, 0, y);
    for (int32_t x = x0; x < x1; ++x)
      if (row[x]) return 1;
  }
  return 0;
}

struct FillJob {
  const CImgBuff* background;
  const CImgBuff* mask;
  const CImgBuff* scene;
  const StrobeGrid* inMask;
  StrobeGrid* fill;
};

// The neighbours above, below, left and right in this order; the first whose top-left pixel
// is unmasked background and whose statistics match the scene's block decides.
int32_t MatchesNeighbourBackground(const FillJob& job, int32_t x0, int32_t y0) {
  const int32_t offsets[4][2] = {{0, -kBlock}, {0, kBlock}, {-kBlock, 0}, {kBlock, 0}};
  const CImgBuff& mask = *job.mask;
  for (const auto& o : offsets) {
    const int32_t nx = x0 + o[0], ny = y0 + o[1];
    if (nx < 0 || ny < 0 || nx >= mask.Width() || ny >= mask.Height()) continue;
    if (*RowPtr<uint8_t>(mask.record, nx, ny) != 0) continue;
    if (StrobeBlocksAlike(*job.scene, x0, y0, *job.background, nx, ny)) return 1;
  }
  return 0;
}

void FillBoundaryBlockRows(void* ctx, uint64_t first, uint64_t count) {
  const FillJob& job = *static_cast<const FillJob*>(ctx);
  const StrobeGrid& in = *job.inMask;
  for (uint64_t row = first; row < first + count; ++row) {
    const int32_t by = int32_t(row);
    for (int32_t bx = 0; bx < in.cols; ++bx) {
      uint8_t decide = 0;
      if (in.flags[size_t(by) * size_t(in.cols) + size_t(bx)]) {
        auto masked = [&](int32_t x, int32_t y) {
          if (x < 0 || y < 0 || x >= in.cols || y >= in.rows) return 1;  // no such block
          return int32_t(in.flags[size_t(y) * size_t(in.cols) + size_t(x)]);
        };
        const int32_t enclosed = masked(bx, by - 1) && masked(bx, by + 1) &&
                                 masked(bx - 1, by) && masked(bx + 1, by);
        if (!enclosed) decide = uint8_t(MatchesNeighbourBackground(job, bx * kBlock, by * kBlock));
      }
      job.fill->At(bx, by) = decide;
    }
  }
}

struct ComposeJob {
  CImgBuff* output;
  const CImgBuff* scene;
  const View8* current;
  const View8* background;
  const StrobeGrid* changed;
  int64_t threshold2;
};

void ComposeChangedPixelRows(void* ctx, uint64_t first, uint64_t count) {
  const ComposeJob& job = *static_cast<const ComposeJob*>(ctx);
  const StrobeGrid& g = *job.changed;
  const int32_t bpp = ImgBytesPerPixel[job.scene->Format()];
  const int32_t ch = job.current->channels;
  for (uint64_t yy = first; yy < first + count; ++yy) {
    const int32_t y = int32_t(yy);
    const uint8_t* flags = &g.flags[size_t(y / kBlock) * size_t(g.cols)];
    const uint8_t* cur = job.current->At(0, y);
    const uint8_t* bg = job.background->At(0, y);
    const uint8_t* src = RowPtr<uint8_t>(job.scene->record, 0, y);
    uint8_t* dst = RowPtr<uint8_t>(job.output->record, 0, y);
    for (int32_t x = 0; x < g.width; ++x) {
      if (!flags[x / kBlock]) continue;
      int64_t d2;
      if (ch == 1) {
        const int64_t d = int64_t(cur[x]) - bg[x];
        d2 = 3 * d * d;  // a gray pixel is (v, v, v)
      } else {
        const int64_t dr = int64_t(cur[3 * x]) - bg[3 * x];
        const int64_t dg = int64_t(cur[3 * x + 1]) - bg[3 * x + 1];
        const int64_t db = int64_t(cur[3 * x + 2]) - bg[3 * x + 2];
        d2 = dr * dr + dg * dg + db * db;
      }
      // The scene's own pixel: the same colour at 8 bits, and no depth lost above them.
      if (d2 >= job.threshold2) std::memcpy(dst + size_t(x) * bpp, src + size_t(x) * bpp, size_t(bpp));
    }
  }
}

}  // namespace

void StrobeGrid::Reset(int32_t w, int32_t h) {
  width = w;
  height = h;
  cols = (w + kBlock - 1) / kBlock;
  rows = (h + kBlock - 1) / kBlock;
  flags.assign(size_t(cols) * size_t(rows), 0);
}

void StrobeChangedBlocks(const CImgBuff& a, const CImgBuff& b, StrobeGrid* grid) {
  grid->Reset(a.Width(), a.Height());
  View8 va, vb;
  if (!va.Make(a) || !vb.Make(b) || va.channels != vb.channels || b.Width() != a.Width() ||
      b.Height() != a.Height()) {
    std::fill(grid->flags.begin(), grid->flags.end(), uint8_t(1));
    return;
  }
  ChangeJob job{&va, &vb, grid, CompareModeFor(b.Format(), 0)};
  RunBands(&ChangedBlockRows, &job, grid->rows, int64_t(grid->cols) * 16 * va.channels, kMinBand);
}

int32_t StrobeBlocksAlike(const CImgBuff& a, int32_t ax, int32_t ay, const CImgBuff& b,
                          int32_t bx, int32_t by) {
  RegionStats sa, sb;
  if (!RegionStatistics(const_cast<CImgBuff*>(&a), ax, ay, ax + kBlock - 1, ay + kBlock - 1, &sa))
    return 0;
  if (!RegionStatistics(const_cast<CImgBuff*>(&b), bx, by, bx + kBlock - 1, by + kBlock - 1, &sb))
    return 0;
  const double da = sa.v[5] - sb.v[5], db = sa.v[8] - sb.v[8];
  return std::fabs(sa.v[2] - sb.v[2]) <= 4.0 && std::fabs(sa.v[9] - sb.v[9]) <= 7.0 &&
         std::fabs(sa.v[10] - sb.v[10]) <= 7.0 && da * da + db * db <= 4.0;
}

int32_t FillBackgroundStep(CImgBuff* background, CImgBuff* mask, const CImgBuff& scene) {
  const int32_t w = mask->Width(), h = mask->Height();
  StrobeGrid in, fill;
  in.Reset(w, h);
  fill.Reset(w, h);
  for (int32_t by = 0; by < in.rows; ++by)
    for (int32_t bx = 0; bx < in.cols; ++bx) in.At(bx, by) = uint8_t(MaskBlockSet(*mask, bx, by));
  FillJob job{background, mask, &scene, &in, &fill};
  RunBands(&FillBoundaryBlockRows, &job, in.rows, int64_t(in.cols) * 64, kMinBand);
  const int32_t bpp = ImgBytesPerPixel[background->Format()];
  int32_t any = 0;
  for (int32_t by = 0; by < fill.rows; ++by) {
    for (int32_t bx = 0; bx < fill.cols; ++bx) {
      if (!fill.At(bx, by)) continue;
      any = 1;
      const int32_t x0 = bx * kBlock, y0 = by * kBlock;
      const int32_t x1 = std::min(x0 + kBlock, w), y1 = std::min(y0 + kBlock, h);
      for (int32_t y = y0; y < y1; ++y) std::memset(RowPtr<uint8_t>(mask->record, x0, y), 0, size_t(x1 - x0));
      if (!BlockInside(x0, y0, w, h)) continue;  // a partial block cannot be copied
      for (int32_t y = y0; y < y1; ++y)
        std::memcpy(RowPtr<uint8_t>(background->record, x0, y), RowPtr<uint8_t>(scene.record, x0, y),
                    size_t(kBlock) * size_t(bpp));
    }
  }
  return any;
}

int32_t BuildMotionMask(CImgBuff* mask, const CImgBuff& first, const StrobeJob& job) {
  const int32_t w = first.Width(), h = first.Height(), format = first.Format();
  if (!mask->Allocate(w, h, ImgFormatGray8)) return 0;
  CImgBuff pictures[2];
  CImgBuff* current = &pictures[0];
  CImgBuff* previous = &pictures[1];
  if (!current->CopyFrom(first)->Pixels()) return 0;
  StrobeGrid grid;
  for (uint64_t i = 0; i < job.sceneCount; ++i) {
    std::swap(current, previous);
    if (FetchSized(job, i, current, w, h, format) != 1) return 0;
    StrobeChangedBlocks(*current, *previous, &grid);
    MergeMask(mask, grid);
  }
  return 1;
}

int32_t RestoreBackground(CImgBuff* background, CImgBuff* mask, const StrobeJob& job) {
  const int32_t w = mask->Width(), h = mask->Height();
  if (!background->Pixels() && job.scenes->Fetch(0, background) != 1) return 0;
  if (background->Width() != w || background->Height() != h) return 0;
  const int32_t format = background->Format();
  // Black in the background's own format (zero bytes are not black in every format).
  CImgBuff black;
  if (!black.Allocate(1, 1, format)) return 0;
  if (IsGrayFormat(format)) black.SetGray8(0, 0, 0);
  else black.SetRGB8(0, 0, 0, 0, 0);
  const int32_t bpp = ImgBytesPerPixel[format];
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* m = RowPtr<uint8_t>(mask->record, 0, y);
    uint8_t* row = RowPtr<uint8_t>(background->record, 0, y);
    for (int32_t x = 0; x < w; ++x)
      if (m[x]) std::memcpy(row + size_t(x) * bpp, black.Pixels(), size_t(bpp));
  }
  CImgBuff scene;
  int32_t filled;
  do {
    filled = 0;
    for (uint64_t i = 0; i < job.sceneCount; ++i) {
      if (FetchSized(job, i, &scene, w, h, format) != 1) return 0;
      while (FillBackgroundStep(background, mask, scene)) filled = 1;
    }
  } while (filled);
  return 1;
}

int32_t ComposeStrobe(CImgBuff* output, const CImgBuff& background, const StrobeJob& job) {
  if (!output->CopyFrom(background)->Pixels()) return 0;
  const int32_t w = background.Width(), h = background.Height(), format = background.Format();
  CImgBuff current;
  FetchSized(job, 0, &current, w, h, format);  // the view starts from scene 0
  if (job.sceneCount == 0) return 1;
  View8 bgView;
  if (!bgView.Make(background)) return 0;
  const int64_t t = job.threshold;
  StrobeGrid grid;
  for (uint64_t i = 0; i < job.sceneCount; ++i) {
    if (FetchSized(job, i, &current, w, h, format) != 1) return 0;
    StrobeChangedBlocks(current, background, &grid);
    View8 curView;
    if (!curView.Make(current)) return 0;
    ComposeJob cj{output, &current, &curView, &bgView, &grid, t * t};
    RunBands(&ComposeChangedPixelRows, &cj, h, w, kMinBand);
  }
  return 1;
}

int32_t StrobeComposeAll(CImgBuff* output, const StrobeJob& job) {
  if (!output || !job.scenes || job.sceneCount == 0) return 0;
  CImgBuff first;
  if (job.scenes->Fetch(0, &first) != 1 || !first.Pixels()) return 0;
  const int32_t w = first.Width(), h = first.Height(), format = first.Format();
  CImgBuff background, mask;
  if (job.useSetBackground) {
    if (!job.setBackground || !SameGeometry(*job.setBackground, w, h, format)) return 0;
    if (!background.CopyFrom(*job.setBackground)->Pixels()) return 0;
    if (job.setMask && job.setMask->Pixels()) {
      if (!SameGeometry(*job.setMask, w, h, ImgFormatGray8)) return 0;
      if (!mask.CopyFrom(*job.setMask)->Pixels()) return 0;
    }
  } else {
    if (!BuildMotionMask(&mask, first, job)) return 0;
    // Restoration starts from scene 0, which is already at hand.
    if (!background.CopyFrom(first)->Pixels()) return 0;
  }
  if (!job.useSetBackground || mask.Pixels()) {
    if (!RestoreBackground(&background, &mask, job)) return 0;
  }
  if (job.lastBackground) job.lastBackground->CopyFrom(background);
  return ComposeStrobe(output, background, job);
}

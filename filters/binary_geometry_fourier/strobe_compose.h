// strobe_compose.h - the strobe composition behind the strobe tool's EXEC: a background free
// of moving objects (from the blocks that change between scenes, or the user's own picture
// and object mask), then every scene's clearly different pixels laid onto it.
//
//   StrobeScenes          where the composition gets its scenes (the tool's scene walk)
//   StrobeJob             what one run works from and what it leaves behind
//   StrobeComposeAll      the whole run
//   BuildMotionMask       blocks that changed between consecutive scenes
//   RestoreBackground     masked blocks filled from the scenes, growing in from their edges
//   ComposeStrobe         each scene's changed pixels onto the background
//   StrobeChangedBlocks   the 4 x 4 blocks in which two pictures differ (mean 8-bit
//                         difference above 8 % of 255; a partial block always differs)
//   StrobeBlocksAlike     the statistics test of two 4 x 4 blocks (L*a*b* means and spreads)
//   FillBackgroundStep    one growth step of the restoration
//
// Detection works on 4 x 4 blocks from the top-left corner; a run has one size and format,
// those of the first scene: a scene, set background or mask of another size fails the run
// rather than being read past its edge.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/imgbuff.h"

class StrobeScenes {
 public:
  virtual ~StrobeScenes() = default;
  // Scene into out: 1 fetched, 0 the scene cannot be had, -1 the run is to stop (cancel).
  virtual int32_t Fetch(uint64_t scene, CImgBuff* out) = 0;
};

struct StrobeJob {
  StrobeScenes* scenes = nullptr;
  uint64_t sceneCount = 0;
  int32_t threshold = 48;              // colour distance of a composed pixel, 48..192
  int32_t useSetBackground = 0;        // "set bg image" checked
  const CImgBuff* setBackground = nullptr;
  const CImgBuff* setMask = nullptr;   // may be empty
  CImgBuff* lastBackground = nullptr;  // receives the restored background (may be null)
};

// Grid of 4 x 4 blocks over a width x height picture: ceil(width / 4) x ceil(height / 4).
struct StrobeGrid {
  int32_t cols = 0, rows = 0, width = 0, height = 0;
  std::vector<uint8_t> flags;  // one per block, row by row
  void Reset(int32_t w, int32_t h);
  uint8_t& At(int32_t bx, int32_t by) { return flags[size_t(by) * size_t(cols) + size_t(bx)]; }
};

// 1 composed into output, 0 failed or stopped (output then as the run left it).
int32_t StrobeComposeAll(CImgBuff* output, const StrobeJob& job);

// mask: 8-bit gray of the first scene's size, 255 over every block that changed between two
// consecutive scenes.  first: scene 0 already fetched.
int32_t BuildMotionMask(CImgBuff* mask, const CImgBuff& first, const StrobeJob& job);
// background (of the scenes' size and format) and mask changed in place.
int32_t RestoreBackground(CImgBuff* background, CImgBuff* mask, const StrobeJob& job);
int32_t ComposeStrobe(CImgBuff* output, const CImgBuff& background, const StrobeJob& job);

// Flags (1) in grid every block whose 8-bit values in a and b differ by more than 8 % of 255
// on average (colour: the three channels averaged), and every block reaching past the edge.
// a and b of one size; rows of blocks in parallel.
void StrobeChangedBlocks(const CImgBuff& a, const CImgBuff& b, StrobeGrid* grid);
// The statistics test of a's 4 x 4 block at (ax, ay) and b's at (bx, by); 0 when either is
// not wholly inside.
int32_t StrobeBlocksAlike(const CImgBuff& a, int32_t ax, int32_t ay, const CImgBuff& b,
                          int32_t bx, int32_t by);
// 1 when at least one masked block at the mask's edge was filled from scene.
int32_t FillBackgroundStep(CImgBuff* background, CImgBuff* mask, const CImgBuff& scene);

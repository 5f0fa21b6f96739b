// islands.h - islands (connected object pixels) of a binary picture, found in raster order
// and measured into records of 24 quantities, with the sums of one extraction.
//
//   IslandProgressFn   called after each island; non-zero stops the extraction
//   IslandParams       picture, background setting, connectivity and measuring options
//   IslandRecord       one measured island, packed to 196 bytes
//   IslandTotals       sums of one extraction, packed to 96 bytes; IslandSummary is the same
//                      layout filled for one island
//   ContourPoint       one point of a traced contour
//   ExtractIslands     the extraction: count only, or count and measure
//   TraceContour       closed contour of a region of a mask (chain walk)
//   RotatedExtent, MinAreaRectAngle  box of points turned by an angle; the smallest box
#pragma once
#include <cstdint>

#include "engine/bitmask.h"
#include "engine/frame.h"
#include "engine/scratch.h"

typedef int32_t (*IslandProgressFn)(int32_t islands, int32_t maxRecords, void* user);

struct IslandParams {
  CImgBuff* img;
  int32_t valueFlag;       // background setting: non-zero = white background
  int32_t conn;            // 4 or 8, for islands and their contours
  int32_t separateNested;  // non-zero: an island inside another's hole stays its own island
  int32_t unweighted;      // non-zero: every pixel weighs 1 in the centre of gravity
  double scale;            // length of one pixel in the caller's unit
  int32_t yAxis;           // -1: centre y measured upward from the picture's last row
  IslandProgressFn progress;
  void* user;
};

#pragma pack(push, 1)
// Lengths are multiplied by scale, areas by scale squared, except where noted.
struct IslandRecord {
  uint64_t reserved;           // always 0
  int32_t firstX, firstY;      // first pixel in raster order, picture pixels
  double contourX, contourY;   // centre of contour
  double gravityX, gravityY;   // centre of gravity
  double area;
  uint32_t holes;
  double holeArea;
  double totalArea;            // area + hole area
  double perimeter;
  double holePerimeter;
  uint32_t maxBrightness;      // gray at the depth class of the picture
  uint32_t minBrightness;
  double totalBrightness;
  double averageBrightness;
  double lineLength;           // (perimeter + hole perimeter) / 2
  double circularity;          // 4 pi total area / perimeter^2
  double equivalentDiameter;   // of the circle of the total area
  double sphereVolume;
  double maxRadius, minRadius, averageRadius;  // contour points from the contour centre
  double longDiameter;         // pixels, not scaled
  double shortDiameter;        // pixels, not scaled
  double inclination;          // of the major axis, radians
};

struct IslandTotals {
  double rectArea;             // totals: rectangle width x height in the caller's unit
  uint64_t islands;
  uint64_t holes;
  uint64_t nestedIslands;      // islands inside this island's holes (separateNested only)
  uint64_t singlePixelIslands;
  uint64_t singlePixelHoles;
  double area;
  double holeArea;
  uint32_t maxBrightness;      // summed with 32-bit wrap-around in the totals
  uint32_t minBrightness;
  double totalBrightness;
  double averageBrightness;
  uint64_t pixels;
};
#pragma pack(pop)

static_assert(sizeof(IslandRecord) == 196, "stored and exchanged as 196 bytes");
static_assert(sizeof(IslandTotals) == 96, "stored and exchanged as 96 bytes");

typedef IslandTotals IslandSummary;

// Finds the islands inside the rectangle (null = the whole picture) in raster order of their
// first pixel.  maxRecords 0 only counts (totals untouched, records unused); maxRecords > 0
// measures up to that many islands into records[0 ..] and zeroes and fills the totals (totals
// may be null).  Returns the number of islands found, or -1 for bad arguments (null params
// or picture, conn not 4 or 8, negative maxRecords, no array for maxRecords > 0), a refused
// rectangle, an empty picture or no memory.  The caller's picture is never changed.
int32_t ExtractIslands(const IslandParams* params, IslandTotals* totals, IslandRecord* records,
                       int32_t maxRecords, const RoiRect* roi);

struct ContourPoint {
  double x, y;
};

// The closed contour of the region of `mask` that holds the set pixel (x, y), as the chain
// walk of the island finder makes it: outer start (innerStart 0) from a region's first pixel,
// inner start from the pixel left of a hole.  Points are replaced in `out`.  Returns the
// point count (1 for a lone pixel), or -1 without memory or for a bad start.
int32_t TraceContour(const BitMask* mask, int32_t x, int32_t y, int32_t conn, int32_t innerStart,
                     ScratchArray<ContourPoint>* out);

// Box of the points turned by angleDeg degrees: width and height (max - min + 1 along each
// turned axis); returns width x height.
double RotatedExtent(const ContourPoint* pts, int32_t n, double angleDeg, double* outWidth,
                     double* outHeight);
// Smallest turned box over 0 .. 89 degrees (coarse 3-degree steps, refined around the local
// minima): its short and long side and the inclination of the long side in radians.
void MinAreaRectAngle(const ContourPoint* pts, int32_t n, double* outShort, double* outLong,
                      double* outInclination);

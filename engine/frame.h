// frame.h - what every engine operation shares: the rectangle of interest, the format classes
// and per-format slots, direct row access, the row split over the worker pool, the merge lock
// and the background/object values of binary operations.
//
//   RoiRect          inclusive rectangle x0, y0, x1, y1; null pointer = the whole picture
//   NormalizeRoi     orders and clamps a rectangle, with or without a picture
//   GetRoi           the checked rectangle an operation works on
//   FormatSlot       per-format worker slot (gray 8/16/32, colour 8/16/32)
//   RowPtr           typed pointer to pixel (x, y) of a record
//   RunRows          ParallelFor over the rows of a rectangle (inline when the rectangle is small)
//   RunBands         the rows in at most one band per worker, each of a minimum amount of work
//   MergeLock        per-call lock under which workers add their partial results once
//   EngineTypedKernels  switch between the typed row kernels and the accessor path
//
// How an operation is built on this frame:
//   1. check its own arguments; 2. GetRoi; 3. pick a row kernel once, by format;
//   4. fill a context record on the stack; 5. RunRows (or RunRowsMerged) with a worker that
//      walks rows y0 + first .. y0 + first + count - 1 from x0 to x1; 6. merge, free, return.
// Typed kernels read and write the pixel block directly for formats 1 to 6 (gray or R, G, B
// stored as they are); formats 7 to 9 go through the C_ImgBuff accessors, which remain the
// reference every typed kernel is tested against.
#pragma once
#include <cstdint>

#include "core/imgbuff.h"
#include "core/parallel.h"

struct RoiRect {
  int32_t x0, y0, x1, y1;
};

// Orders the corners, fails (0) when x1 or y1 is below 0, raises x0 and y0 to 0; with a
// picture of format 1..9 also fails when x0 >= width or y0 >= height and lowers x1 and y1 to
// the last column and row.  Without a picture (or with an empty one) there is no upper clamp.
// The rectangle is changed in place, also when the call fails.
int32_t NormalizeRoi(RoiRect* roi, const CImgBuff* img);

// out = the caller's rectangle after NormalizeRoi (all four 0 and result 0 when refused), or
// without one the whole picture (0, 0, 0, 0 and result 0 for an empty or invalid picture).
// img may be null only together with roi; a null out fails.
int32_t GetRoi(RoiRect* out, const CImgBuff* img, const RoiRect* roi);

// ---- format classes and slots ------------------------------------------------------------

inline int32_t IsValidFormat(int32_t format) { return format >= 1 && format <= 9; }
inline int32_t IsGrayFormat(int32_t format) { return format >= 1 && format <= 3; }
// Formats whose pixels are plain gray or R, G, B integers: typed kernels serve them.
inline int32_t IsTypedFormat(int32_t format) { return format >= 1 && format <= 6; }

// Depth class: 8 for {1, 4, 9}, 16 for {2, 5, 8}, 32 for {3, 6, 7}, 0 for anything else.
inline int32_t FormatClassBits(int32_t format) {
  if (!IsValidFormat(format)) return 0;
  if ((0x212u >> format) & 1u) return 8;    // 1, 4, 9
  if ((0x124u >> format) & 1u) return 16;   // 2, 5, 8
  return 32;                                 // 3, 6, 7
}
// 255, 65535 or 4294967295 by depth class; 0 for an invalid format.
inline uint32_t FormatClassMax(int32_t format) {
  switch (FormatClassBits(format)) {
    case 8: return 255u;
    case 16: return 65535u;
    case 32: return 4294967295u;
    default: return 0u;
  }
}

enum FormatSlot : int32_t {
  SlotNone = 0,
  SlotGray8,     // format 1
  SlotGray16,    // format 2
  SlotGray32,    // format 3
  SlotColour8,   // formats 4 and 9 (C,M,Y,K as its R,G,B equivalent)
  SlotColour16,  // formats 5 and 8 (H,S,V as its R,G,B equivalent)
  SlotColour32,  // formats 6 and 7 (XYZ as its R,G,B equivalent)
};
FormatSlot GetFormatSlot(int32_t format);

// ---- direct pixel access -------------------------------------------------------------------

// Pixel (x, y) of a record as T*; the caller keeps the point inside the picture.  The offset
// is formed in 64 bits.
template <class T>
inline T* RowPtr(const C_ImgBuff* rec, int32_t x, int32_t y) {
  const int64_t index = int64_t(y) * rec->width + x;
  return reinterpret_cast<T*>(static_cast<uint8_t*>(rec->pixels) +
                              index * ImgBytesPerPixel[rec->format]);
}

// Depth changes of the image core, for typed kernels that must give the accessors' values.
inline uint16_t Widen8To16(uint8_t v) { return uint16_t(v * 257u); }
inline uint32_t Widen8To32(uint8_t v) { return uint32_t(v) * 16843009u; }
inline uint32_t Widen16To32(uint16_t v) { return uint32_t(v) * 65537u; }
inline uint8_t Narrow16To8(uint16_t v) { return uint8_t(v >> 8); }
inline uint8_t Narrow32To8(uint32_t v) { return uint8_t(v >> 24); }
inline uint16_t Narrow32To16(uint32_t v) { return uint16_t(v >> 16); }
// (299 R + 587 G + 114 B + 500) / 1000 at the channels' own depth.
inline uint32_t Luma(uint64_t r, uint64_t g, uint64_t b) {
  return uint32_t((299u * r + 587u * g + 114u * b + 500u) / 1000u);
}
// The same for channels of at most 16 bits, whose sum fits 32 bits (a cheaper division).
inline uint32_t Luma16(uint32_t r, uint32_t g, uint32_t b) {
  return (299u * r + 587u * g + 114u * b + 500u) / 1000u;
}

// A double bound for an unsigned 32-bit sample: NaN and values below 0 give 0, values above
// 4294967295 give 4294967295, everything else is truncated toward zero.  No double reaches an
// integer conversion outside its range.
inline uint32_t ClampTruncU32(double d) {
  if (!(d > 0.0)) return 0u;
  if (d >= 4294967295.0) return 4294967295u;
  return uint32_t(d);
}

// ---- typed kernels or the accessor path ----------------------------------------------------

// 1 (the default): operations use their typed row kernels for formats 1 to 6.  0: every
// format goes through the accessors, the reference path the typed kernels are checked
// against.  Read once per call; meant for tests and diagnosis, not for switching mid-run.
void SetEngineTypedKernels(int32_t on);
int32_t EngineTypedKernels();

// ---- the row split -------------------------------------------------------------------------

// Rows of one piece: the worker given (first, count) processes rows *yBegin .. *yEnd - 1.
inline void PieceRows(const RoiRect& r, uint64_t first, uint64_t count, int32_t* yBegin,
                      int32_t* yEnd) {
  *yBegin = r.y0 + int32_t(first);
  *yEnd = r.y0 + int32_t(first + count);
}
inline int64_t RoiWidth(const RoiRect& r) { return int64_t(r.x1) - r.x0 + 1; }
inline int64_t RoiHeight(const RoiRect& r) { return int64_t(r.y1) - r.y0 + 1; }

// The piece (first, count) of a job rectangle that a caller filled itself, cut to the
// picture: out gets the piece's rows and the rectangle's columns that exist, inclusive.
// Public row workers take rectangles from filters that normalised them without the picture,
// so corners may lie beyond it; a position outside reads as nothing and is never written.
// Formed in 64 bits (a corner near the int32 limit must not overflow).  0: nothing inside.
inline int32_t PieceInPicture(const C_ImgBuff* rec, const RoiRect& r, uint64_t first,
                              uint64_t count, RoiRect* out) {
  if (!rec || !rec->pixels || !IsValidFormat(rec->format) || count == 0) return 0;
  if (first > uint64_t(INT64_MAX / 4) || count > uint64_t(INT64_MAX / 4)) return 0;
  int64_t y0 = int64_t(r.y0) + int64_t(first);
  int64_t y1 = y0 + int64_t(count) - 1;
  if (y1 > r.y1) y1 = r.y1;
  int64_t x0 = r.x0, x1 = r.x1;
  if (y0 < 0) y0 = 0;
  if (x0 < 0) x0 = 0;
  if (y1 > int64_t(rec->height) - 1) y1 = int64_t(rec->height) - 1;
  if (x1 > int64_t(rec->width) - 1) x1 = int64_t(rec->width) - 1;
  if (y0 > y1 || x0 > x1) return 0;
  *out = RoiRect{int32_t(x0), int32_t(y0), int32_t(x1), int32_t(y1)};
  return 1;
}

// ParallelFor(fn, ctx, rows of r): the unit of work is a row of the rectangle, not of the
// picture.  A rectangle of fewer than ParallelPixelThreshold pixels runs inline: waking the
// pool costs more than the work.
void RunRows(ParallelForFn fn, void* ctx, const RoiRect& r);

// Lock for one call's merge of partial results.  When it cannot be created the workers must
// not run side by side: RunRowsMerged then runs the rows inline, and Enter/Leave do nothing.
class MergeLock {
 public:
  MergeLock() : lock_(CreateLock()) {}
  ~MergeLock() {
    if (lock_) DestroyLock(lock_);
  }
  MergeLock(const MergeLock&) = delete;
  MergeLock& operator=(const MergeLock&) = delete;

  int32_t Valid() const { return lock_ != nullptr; }
  PlatformLock* Get() const { return lock_; }
  void Enter() {
    if (lock_) lock_->Enter();
  }
  void Leave() {
    if (lock_) lock_->Leave();
  }

 private:
  PlatformLock* lock_;
};

// Takes a lock that may be null (the caller then ran its pieces one after another).
class MergeHold {
 public:
  explicit MergeHold(PlatformLock* lock) : lock_(lock) {
    if (lock_) lock_->Enter();
  }
  ~MergeHold() {
    if (lock_) lock_->Leave();
  }
  MergeHold(const MergeHold&) = delete;
  MergeHold& operator=(const MergeHold&) = delete;

 private:
  PlatformLock* lock_;
};

// RunRows when the lock exists; the whole range inline on the calling thread otherwise.
void RunRowsMerged(ParallelForFn fn, void* ctx, const RoiRect& r, const MergeLock& lock);

// Handing a job to the pool costs tens to hundreds of microseconds (50 to 250 on a virtual
// machine), so for fast kernels the rows of a rectangle go in bands of at least minBandUnits
// units of work (pixels or bytes, as the caller counts unitsPerRow), at most one band per
// worker; with less than two bands' work fn runs on the calling thread.  fn gets rows of the
// rectangle: band k covers rows k * rows / bands .. (k + 1) * rows / bands - 1.
void RunBands(ParallelForFn fn, void* ctx, int64_t rows, int64_t unitsPerRow, int64_t minBandUnits);

// ---- binary operations: background and object values ----------------------------------------

// The value read as background: 0 when valueFlag is 0, else the depth class maximum.
inline uint32_t BinaryBackground(int32_t format, int32_t valueFlag) {
  return valueFlag ? FormatClassMax(format) : 0u;
}
// The 8-bit values written through SetGray8 (which widens 255 to the format's white).
inline uint8_t BinaryObjectValue8(int32_t valueFlag) { return valueFlag ? 0 : 255; }
inline uint8_t BinaryEraseValue8(int32_t valueFlag) { return valueFlag ? 255 : 0; }

// imgbuff.h - the picture record and its owning handle, in nine pixel formats.
// A picture is one block of pixels without row padding: pixel (x, y) starts at byte
// (y * width + x) * bytes per pixel; multi-byte channels in little-endian order.
//
//   ImgFormat          pixel format code 0 (empty) .. 9
//   ImgBytesPerPixel   bytes per pixel by format code
//   AllocPixels        zeroed page-granular pixel block with a size header (FreePixels)
//   C_ImgBuff          the picture record: format, width, height, pixels; per-pixel access
//   CImgBuff           owning handle of one record; copy, crop, paste, checked accessors
//   FlipJob, RotateJob row jobs of the mirror and quarter-turn workers
//
// Accessors convert on the fly between the stored format and the form asked for: widening
// replicates bits (8 to 16 bits is v * 257), narrowing keeps the high part, gray from
// colour is (299 R + 587 G + 114 B + 500) / 1000.  They return 1, or 0 for an empty picture
// or, where they test it, a point outside.  The record's integer, HSV, CMYK and XYZ getters
// do NOT test the point (inner loops bound it themselves); everything else does.
#pragma once
#include <cstdint>

enum ImgFormat : int32_t {
  ImgFormatNone = 0,
  ImgFormatGray8 = 1,    // gray, u8
  ImgFormatGray16 = 2,   // gray, u16
  ImgFormatGray32 = 3,   // gray, u32
  ImgFormatRgb24 = 4,    // R, G, B, u8
  ImgFormatRgb48 = 5,    // R, G, B, u16
  ImgFormatRgb96 = 6,    // R, G, B, u32
  ImgFormatXyz = 7,      // X, Y, Z, double (D65 white, Y of white = 1)
  ImgFormatHsv48 = 8,    // H, S, V, u16
  ImgFormatCmyk32 = 9,   // C, M, Y, K, u8
};
constexpr int32_t ImgFormatCount = 10;

// Indexed by a valid format code 0 .. 9 only.
extern const int32_t ImgBytesPerPixel[ImgFormatCount];

// Pixel blocks: an 8-byte header with the block's total size (pixel bytes + 8, rounded up to
// a multiple of 4096), then the pixels.  Returns the pixel pointer with count * bytesPerPixel
// zero bytes, or null when the size overflows or memory is short.  Free with FreePixels.
void* AllocPixels(uint64_t count, uint64_t bytesPerPixel);
// The same block with its pixel bytes left as they come, for a caller that writes them all.
void* AllocPixelsUncleared(uint64_t count, uint64_t bytesPerPixel);
void FreePixels(void* pixels);
// Total block size stored in the header of a block from AllocPixels.
uint64_t PixelBlockSize(const void* pixels);
// Bytes of freed large blocks waiting to be taken again by an allocation of their size; a
// trimming thread gives each back to the system about a second after it was freed.
uint64_t CachedPixelBytes();

// Largest pixel block of one picture: offsets inside a picture are formed in 32 bits.
constexpr uint64_t ImgMaxPixelBytes = 0x7FFFFFFFull;

class C_ImgBuff {
 public:
  int32_t format;   // ImgFormat; 0 when empty
  int32_t width;    // pixels; 0 when empty
  int32_t height;   // pixels; 0 when empty
  void* pixels;     // first pixel; null when empty

  // An empty record; the first record made while the worker pool is not running starts it.
  C_ImgBuff();
  virtual ~C_ImgBuff();
  C_ImgBuff(const C_ImgBuff&) = delete;
  C_ImgBuff& operator=(const C_ImgBuff&) = delete;

  // 1 with every pixel byte zero (the same geometry keeps the block); 0 with the record empty
  // for a size below 1, a format outside 1..9, 2^31 pixel bytes or more, or no memory.
  int32_t Allocate(int32_t width, int32_t height, int32_t format);
  // Allocate without the zero fill: the pixel bytes are undefined until the caller has
  // written every one of them (conversions and copies into a fresh picture).
  int32_t AllocateUncleared(int32_t width, int32_t height, int32_t format);
  void Clear();
  int32_t Contains(int32_t x, int32_t y) const;

  // Pixel accessors.  Unchecked getters: GetGray8/16/32, GetRGB8/16/32, GetHSV16, GetCMYK8,
  // GetXYZ.  GetGray8/16/32 return 1 at once for a null result pointer.
  int32_t SetGray8(int32_t x, int32_t y, uint8_t v);
  int32_t GetGray8(int32_t x, int32_t y, uint8_t* v) const;
  int32_t SetGray16(int32_t x, int32_t y, uint16_t v);
  int32_t GetGray16(int32_t x, int32_t y, uint16_t* v) const;
  int32_t SetGray32(int32_t x, int32_t y, uint32_t v);
  int32_t GetGray32(int32_t x, int32_t y, uint32_t* v) const;
  int32_t GetGrayF(int32_t x, int32_t y, double* v) const;
  int32_t SetRGB8(int32_t x, int32_t y, uint8_t r, uint8_t g, uint8_t b);
  int32_t GetRGB8(int32_t x, int32_t y, uint8_t* r, uint8_t* g, uint8_t* b) const;
  int32_t SetRGB16(int32_t x, int32_t y, uint16_t r, uint16_t g, uint16_t b);
  int32_t GetRGB16(int32_t x, int32_t y, uint16_t* r, uint16_t* g, uint16_t* b) const;
  int32_t SetRGB32(int32_t x, int32_t y, uint32_t r, uint32_t g, uint32_t b);
  int32_t GetRGB32(int32_t x, int32_t y, uint32_t* r, uint32_t* g, uint32_t* b) const;
  int32_t SetRGBF(int32_t x, int32_t y, double r, double g, double b);
  int32_t GetRGBF(int32_t x, int32_t y, double* r, double* g, double* b) const;
  int32_t SetHSV16(int32_t x, int32_t y, uint16_t h, uint16_t s, uint16_t v);
  int32_t GetHSV16(int32_t x, int32_t y, uint16_t* h, uint16_t* s, uint16_t* v) const;
  int32_t SetCMYK8(int32_t x, int32_t y, uint8_t c, uint8_t m, uint8_t ye, uint8_t k);
  int32_t GetCMYK8(int32_t x, int32_t y, uint8_t* c, uint8_t* m, uint8_t* ye, uint8_t* k) const;
  int32_t SetXYZ(int32_t x, int32_t y, double X, double Y, double Z);
  int32_t GetXYZ(int32_t x, int32_t y, double* X, double* Y, double* Z) const;
  int32_t SetLab(int32_t x, int32_t y, double L, double a, double b);
  int32_t GetLab(int32_t x, int32_t y, double* L, double* a, double* b) const;
  // h in radians; GetLCh gives h in -pi .. pi.
  int32_t SetLCh(int32_t x, int32_t y, double L, double C, double h);
  int32_t GetLCh(int32_t x, int32_t y, double* L, double* C, double* h) const;

  // Whole-picture operations (imgops.cpp).
  // An exact copy of src (format, size, pixels); src must be another record.  On failure
  // (empty src, no memory) this record is left empty.  Returns this.
  C_ImgBuff* CopyFrom(const C_ImgBuff& src);
  // Converts in place; 1 on success or when already in that format; 0 for an empty
  // picture, a format outside 1..9 or no memory, the picture then unchanged.
  int32_t ConvertTo(int32_t format);
  // New size, same format, top-left overlap kept, the rest zero; 1 on success or when the
  // size is unchanged; 0 for an empty picture, a size below 1 or no memory (unchanged).
  int32_t ResizeCanvas(int32_t width, int32_t height);
};

class CImgBuff {
 public:
  C_ImgBuff* record;  // owned; the same record for the handle's whole life

  CImgBuff();
  virtual ~CImgBuff();
  CImgBuff(const CImgBuff&) = delete;
  CImgBuff& operator=(const CImgBuff&) = delete;

  // Frees the pixels; the handle keeps its (now empty) record.
  void Free();
  // 1 for formats 1, 4 and 9 (8 bits per channel); 0 for every other code.
  int32_t Is8BitPerChannel() const;

  // Shorthands for the record's fields and Allocate.
  int32_t Format() const { return record->format; }
  int32_t Width() const { return record->width; }
  int32_t Height() const { return record->height; }
  void* Pixels() const { return record->pixels; }
  int32_t Allocate(int32_t width, int32_t height, int32_t format) {
    return record->Allocate(width, height, format);
  }

  // Every accessor tests the point (0 outside) before passing to the record.
  int32_t SetGray8(int32_t x, int32_t y, uint8_t v);
  int32_t GetGray8(int32_t x, int32_t y, uint8_t* v) const;
  int32_t SetGray16(int32_t x, int32_t y, uint16_t v);
  int32_t GetGray16(int32_t x, int32_t y, uint16_t* v) const;
  int32_t SetGray32(int32_t x, int32_t y, uint32_t v);
  int32_t GetGray32(int32_t x, int32_t y, uint32_t* v) const;
  int32_t SetRGB8(int32_t x, int32_t y, uint8_t r, uint8_t g, uint8_t b);
  int32_t GetRGB8(int32_t x, int32_t y, uint8_t* r, uint8_t* g, uint8_t* b) const;
  int32_t SetRGB16(int32_t x, int32_t y, uint16_t r, uint16_t g, uint16_t b);
  int32_t GetRGB16(int32_t x, int32_t y, uint16_t* r, uint16_t* g, uint16_t* b) const;
  int32_t SetRGB32(int32_t x, int32_t y, uint32_t r, uint32_t g, uint32_t b);
  int32_t GetRGB32(int32_t x, int32_t y, uint32_t* r, uint32_t* g, uint32_t* b) const;
  int32_t SetHSV16(int32_t x, int32_t y, uint16_t h, uint16_t s, uint16_t v);
  int32_t SetCMYK8(int32_t x, int32_t y, uint8_t c, uint8_t m, uint8_t ye, uint8_t k);
  int32_t GetCMYK8(int32_t x, int32_t y, uint8_t* c, uint8_t* m, uint8_t* ye, uint8_t* k) const;
  int32_t SetXYZ(int32_t x, int32_t y, double X, double Y, double Z);
  int32_t GetXYZ(int32_t x, int32_t y, double* X, double* Y, double* Z) const;
  int32_t SetLab(int32_t x, int32_t y, double L, double a, double b);
  int32_t GetLab(int32_t x, int32_t y, double* L, double* a, double* b) const;
  int32_t SetLCh(int32_t x, int32_t y, double L, double C, double h);
  int32_t GetLCh(int32_t x, int32_t y, double* L, double* C, double* h) const;

  // Whole-picture operations (imgops.cpp).
  // CopyFrom of the records; src must be another handle.  Returns this.
  CImgBuff* CopyFrom(const CImgBuff& src);
  // dst (another handle) becomes the inclusive rectangle x0..x1, y0..y1 of this picture in
  // its format; 1, or 0 when the rectangle is not inside, this picture is empty or memory
  // is short (dst then emptied by the failed allocation, or untouched for a bad rectangle).
  int32_t Crop(CImgBuff& dst, int32_t x0, int32_t y0, int32_t x1, int32_t y1) const;
  // Writes src into this picture with its top-left pixel at (x, y), converting to this
  // picture's format when they differ; 1, or 0 (nothing written) when either is empty or
  // src does not fit.  No clipping.
  int32_t Paste(const CImgBuff& src, int32_t x, int32_t y);
};

// Mirror and quarter-turn workers (rotate.cpp).  Each is a piece callback for ParallelFor
// with its job record as context (wrap it in a captureless lambda taking void*).

// Inclusive rectangle inside the picture, x0 <= x1, y0 <= y1; nothing is tested.
struct FlipJob {
  CImgBuff* picture;
  int32_t x0, y0, x1, y1;
};

struct RotateJob {
  CImgBuff* source;       // the pixels before the turn, read only
  CImgBuff* destination;  // already allocated with width and height exchanged
  int32_t sourceWidth;
  int32_t sourceHeight;
  int32_t bytesPerPixel;
  int32_t format;
};

// Item i mirrors row y0 + i left to right between x0 and x1.
void MirrorRows(FlipJob* job, uint64_t first, uint64_t count);
// Item i exchanges x0..x1 of row y0 + i with row y1 - i; (y1 - y0 + 1) / 2 items mirror the
// rectangle top to bottom.
void SwapRows(FlipJob* job, uint64_t first, uint64_t count);
// Items are source rows: source (x, y) goes to destination (sourceHeight - 1 - y, x).
void RotateRowsCw(RotateJob* job, uint64_t first, uint64_t count);
// Source (x, y) goes to destination (y, sourceWidth - 1 - x).
void RotateRowsCcw(RotateJob* job, uint64_t first, uint64_t count);
// Turns in place by turns quarter turns clockwise (negative: counter-clockwise); 1 on
// success or nothing to do, 0 with the picture as it was.
int32_t RotateImageQuarterTurns(CImgBuff* picture, int32_t turns);

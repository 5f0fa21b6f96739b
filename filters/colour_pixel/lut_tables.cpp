// lut_tables.cpp - the pseudo-colour tables: gradations and bands from a colour list, the
// presets, the range fill, and mapping a picture through the tables.
// Inside: colour lists - presets - range fill - mapping (row kernels, reference path)
//
// The index of a pixel is always its 8-bit gray value as the accessors give it: the high
// byte of 16- and 32-bit samples, the luma (299 R + 587 G + 114 B + 500) / 1000 of colour.
// The row kernels reproduce GetGray8 / SetGray8 / SetRGB8 bit for bit for formats 1 to 6;
// the other formats go through the accessors (the reference path).
#include "filters/colour_pixel/lut.h"

#include <cmath>
#include <cstring>

#include "core/colour.h"
#include "core/imgbuff.h"
#include "core/parallel.h"
#include "filters/colour_pixel/swatch.h"

const uint8_t kLutDefaultPalette[16][3] = {
    {0, 0, 0},       {255, 255, 255}, {255, 0, 0},     {0, 255, 0},
    {0, 0, 255},     {0, 255, 255},   {255, 0, 255},   {255, 255, 0},
    {85, 85, 85},    {107, 107, 107}, {36, 36, 36},    {73, 73, 73},
    {109, 109, 109}, {146, 146, 146}, {182, 182, 182}, {219, 219, 219}};

// ---------------------------------------------------------------------------------------
// Colour lists
int32_t LutInterpolate(int32_t index, uint8_t* r, uint8_t* g, uint8_t* b, const uint8_t* reds,
                       const uint8_t* greens, const uint8_t* blues, uint32_t count,
                       uint32_t interpolate) {
  if (count == 0 || !reds || !greens || !blues) return 0;
  const uint8_t* lists[3] = {reds, greens, blues};
  uint8_t out[3];
  if (count == 1) {
    for (int c = 0; c < 3; ++c) out[c] = lists[c][0];
  } else if (interpolate) {
    // The arithmetic as the tables were always made (entry 128 of the thermal preset is
    // 2, not the 3 an exact fraction would give): stored files and users rely on it.
    double pos = index / 255.0 * double(count - 1);
    uint32_t k = uint32_t(pos);
    if (k >= count - 1 || pos == double(k)) {
      if (k > count - 1) k = count - 1;
      for (int c = 0; c < 3; ++c) out[c] = lists[c][k];
    } else {
      double f = pos - k;
      for (int c = 0; c < 3; ++c) {
        double v = std::trunc(lists[c][k + 1] * f + lists[c][k] * (1 - f));
        out[c] = v > 255 ? 255 : v < 0 ? 0 : uint8_t(v);
      }
    }
  } else {
    uint32_t k = uint32_t(index / (255.0 / count));
    if (k > count - 1) k = count - 1;
    for (int c = 0; c < 3; ++c) out[c] = lists[c][k];
  }
  if (r) *r = out[0];
  if (g) *g = out[1];
  if (b) *b = out[2];
  return 1;
}

// ---------------------------------------------------------------------------------------
// Presets
namespace {

void FromStops(LutTables* out, const uint8_t (*stops)[3], uint32_t count, uint32_t interpolate) {
  uint8_t lists[3][8];
  for (uint32_t i = 0; i < count; ++i)
    for (int c = 0; c < 3; ++c) lists[c][i] = stops[i][c];
  for (int32_t i = 0; i < 256; ++i)
    LutInterpolate(i, &out->t[0][i], &out->t[1][i], &out->t[2][i], lists[0], lists[1],
                   lists[2], count, interpolate);
}

}  // namespace

int32_t LutPreset(int32_t command, LutTables* out) {
  if (!out) return 0;
  switch (command) {
    case 101: {
      static const uint8_t stops[7][3] = {{0, 0, 0},     {0, 0, 255},   {0, 255, 255},
                                          {0, 255, 0},   {255, 255, 0}, {255, 0, 0},
                                          {255, 255, 255}};
      FromStops(out, stops, 7, 1);
      return 1;
    }
    case 102: {
      static const uint8_t stops[5][3] = {
          {0, 0, 255}, {0, 255, 255}, {0, 255, 0}, {255, 255, 0}, {255, 0, 0}};
      FromStops(out, stops, 5, 1);
      return 1;
    }
    case 103:
    case 104: {
      static const uint8_t eight[8] = {0, 36, 73, 109, 146, 182, 219, 255};
      static const uint8_t four[4] = {0, 85, 170, 255};
      const uint8_t* levels = command == 103 ? eight : four;
      uint32_t n = command == 103 ? 8 : 4;
      uint8_t stops[8][3];
      for (uint32_t i = 0; i < n; ++i) stops[i][0] = stops[i][1] = stops[i][2] = levels[i];
      FromStops(out, stops, n, 0);
      return 1;
    }
    case 105:
      for (int32_t i = 0; i < 256; ++i) {
        // 400 to 701 nm in whole nanometres; 700 is skipped (254 gives 699, 255 gives 701).
        double nm = 400 + std::floor(301.0 * i / 255.0);
        double X, Y, Z, r, g, b;
        WavelengthToXyz(nm, &X, &Y, &Z);
        XyzToSrgb(X, Y, Z, &r, &g, &b);
        out->t[0][i] = SwatchByte(r);
        out->t[1][i] = SwatchByte(g);
        out->t[2][i] = SwatchByte(b);
      }
      return 1;
    default:
      return 0;
  }
}

// ---------------------------------------------------------------------------------------
// Range fill
void LutRangeFill(LutTables* tables, int32_t low, int32_t high, uint8_t r, uint8_t g,
                  uint8_t b, uint32_t preserve) {
  if (!tables) return;
  if (low < 0) low = 0;
  if (high > 255) high = 255;
  if (low > high) return;
  if (!preserve) {
    for (int32_t k = low; k <= high; ++k) {
      tables->t[0][k] = r;
      tables->t[1][k] = g;
      tables->t[2][k] = b;
    }
    return;
  }
  double X, Y, Z, L, A, B;
  SrgbToXyz(r / 255.0, g / 255.0, b / 255.0, &X, &Y, &Z);
  XyzToLab(X, Y, Z, &L, &A, &B);
  auto back = [](double t) {
    const double d = 6.0 / 29.0;
    return t > d ? t * t * t : 3 * d * d * (t - 4.0 / 29.0);
  };
  for (int32_t k = low; k <= high; ++k) {
    double l = k / 255.0 * 100;
    double fy = (l + 16) / 116;
    double fx = fy + A / 500;
    double fz = fy - B / 200;
    double x = back(fx) * 95.0489 / 100, y = back(fy) * 100 / 100, z = back(fz) * 108.884 / 100;
    double sr, sg, sb;
    XyzToSrgb(x, y, z, &sr, &sg, &sb);
    tables->t[0][k] = SwatchByte(sr);
    tables->t[1][k] = SwatchByte(sg);
    tables->t[2][k] = SwatchByte(sb);
  }
}

int32_t LutIsGray(const LutTables& tables) {
  return std::memcmp(tables.t[0], tables.t[1], 256) == 0 &&
         std::memcmp(tables.t[0], tables.t[2], 256) == 0;
}

// ---------------------------------------------------------------------------------------
// Mapping
namespace {

inline uint32_t Luma(uint64_t r, uint64_t g, uint64_t b) {
  return uint32_t((299 * r + 587 * g + 114 * b + 500) / 1000);
}

struct MapJob {
  uint8_t* pixels;
  int64_t stride;  // bytes per row
  int32_t y0, count;
  const LutTables* tables;
  void (*row)(uint8_t* p, int32_t n, const LutTables& t);
};

// Gray tables: the picture keeps its format (SetGray8 of red[v]).
void GrayRow1(uint8_t* p, int32_t n, const LutTables& t) {
  const uint8_t* red = t.t[0];
  for (int32_t i = 0; i < n; ++i) p[i] = red[p[i]];
}
void GrayRow2(uint8_t* p, int32_t n, const LutTables& t) {
  const uint8_t* red = t.t[0];
  for (int32_t i = 0; i < n; ++i) {
    uint16_t v;
    std::memcpy(&v, p + 2 * i, 2);
    v = uint16_t(red[v >> 8] * 257u);
    std::memcpy(p + 2 * i, &v, 2);
  }
}
void GrayRow3(uint8_t* p, int32_t n, const LutTables& t) {
  const uint8_t* red = t.t[0];
  for (int32_t i = 0; i < n; ++i) {
    uint32_t v;
    std::memcpy(&v, p + 4 * i, 4);
    v = red[v >> 24] * 16843009u;
    std::memcpy(p + 4 * i, &v, 4);
  }
}
void GrayRow4(uint8_t* p, int32_t n, const LutTables& t) {
  const uint8_t* red = t.t[0];
  for (int32_t i = 0; i < n; ++i, p += 3) p[0] = p[1] = p[2] = red[Luma(p[0], p[1], p[2])];
}
void GrayRow5(uint8_t* p, int32_t n, const LutTables& t) {
  const uint8_t* red = t.t[0];
  for (int32_t i = 0; i < n; ++i, p += 6) {
    uint16_t s[3];
    std::memcpy(s, p, 6);
    uint16_t v = uint16_t(red[Luma(s[0], s[1], s[2]) >> 8] * 257u);
    s[0] = s[1] = s[2] = v;
    std::memcpy(p, s, 6);
  }
}
void GrayRow6(uint8_t* p, int32_t n, const LutTables& t) {
  const uint8_t* red = t.t[0];
  for (int32_t i = 0; i < n; ++i, p += 12) {
    uint32_t s[3];
    std::memcpy(s, p, 12);
    uint32_t v = red[Luma(s[0], s[1], s[2]) >> 24] * 16843009u;
    s[0] = s[1] = s[2] = v;
    std::memcpy(p, s, 12);
  }
}
// Colour tables on colour pictures (SetRGB8 of the three entries).
void ColourRow4(uint8_t* p, int32_t n, const LutTables& t) {
  for (int32_t i = 0; i < n; ++i, p += 3) {
    uint32_t v = Luma(p[0], p[1], p[2]);
    p[0] = t.t[0][v];
    p[1] = t.t[1][v];
    p[2] = t.t[2][v];
  }
}
void ColourRow5(uint8_t* p, int32_t n, const LutTables& t) {
  for (int32_t i = 0; i < n; ++i, p += 6) {
    uint16_t s[3];
    std::memcpy(s, p, 6);
    uint32_t v = Luma(s[0], s[1], s[2]) >> 8;
    for (int c = 0; c < 3; ++c) s[c] = uint16_t(t.t[c][v] * 257u);
    std::memcpy(p, s, 6);
  }
}
void ColourRow6(uint8_t* p, int32_t n, const LutTables& t) {
  for (int32_t i = 0; i < n; ++i, p += 12) {
    uint32_t s[3];
    std::memcpy(s, p, 12);
    uint32_t v = Luma(s[0], s[1], s[2]) >> 24;
    for (int c = 0; c < 3; ++c) s[c] = t.t[c][v] * 16843009u;
    std::memcpy(p, s, 12);
  }
}

void MapRows(void* ctx, uint64_t first, uint64_t count) {
  const MapJob& job = *static_cast<const MapJob*>(ctx);
  for (uint64_t r = first; r < first + count; ++r) {
    uint8_t* row = job.pixels + (job.y0 + int64_t(r)) * job.stride;
    job.row(row, job.count, *job.tables);
  }
}

int32_t RoiInside(const CImgBuff* picture, const RoiRect& roi) {
  return roi.x0 >= 0 && roi.y0 >= 0 && roi.x0 <= roi.x1 && roi.y0 <= roi.y1 &&
         roi.x1 < picture->Width() && roi.y1 < picture->Height();
}

// Gray pictures become colour of their depth before a colour table maps them.
int32_t ColourForTable(CImgBuff* picture) {
  int32_t f = picture->Format();
  if (f == ImgFormatGray8) return picture->record->ConvertTo(ImgFormatRgb24);
  if (f == ImgFormatGray16) return picture->record->ConvertTo(ImgFormatRgb48);
  if (f == ImgFormatGray32) return picture->record->ConvertTo(ImgFormatRgb96);
  return 1;
}

}  // namespace

int32_t LutMapRect(CImgBuff* picture, const LutTables& tables, int32_t grayTable,
                   const RoiRect& roi) {
  if (!picture || !picture->Format() || !RoiInside(picture, roi)) return 0;
  if (!grayTable && ColourForTable(picture) != 1) return 0;
  int32_t f = picture->Format();
  void (*row)(uint8_t*, int32_t, const LutTables&) = nullptr;
  static void (*const grayRows[7])(uint8_t*, int32_t, const LutTables&) = {
      nullptr, GrayRow1, GrayRow2, GrayRow3, GrayRow4, GrayRow5, GrayRow6};
  static void (*const colourRows[7])(uint8_t*, int32_t, const LutTables&) = {
      nullptr, nullptr, nullptr, nullptr, ColourRow4, ColourRow5, ColourRow6};
  if (f >= 1 && f <= 6) row = grayTable ? grayRows[f] : colourRows[f];
  if (!row) return LutMapRectReference(picture, tables, grayTable, roi);
  const int64_t bpp = ImgBytesPerPixel[f];
  MapJob job;
  job.pixels = static_cast<uint8_t*>(picture->Pixels());
  job.stride = int64_t(picture->Width()) * bpp;
  job.y0 = roi.y0;
  job.count = roi.x1 - roi.x0 + 1;
  job.tables = &tables;
  job.row = row;
  // The column offset in bytes goes into the base pointer so the kernels see only the span.
  job.pixels += int64_t(roi.x0) * bpp;
  ParallelFor(&MapRows, &job, uint64_t(roi.y1 - roi.y0 + 1));
  return 1;
}

int32_t LutMapRectReference(CImgBuff* picture, const LutTables& tables, int32_t grayTable,
                            const RoiRect& roi) {
  if (!picture || !picture->Format() || !RoiInside(picture, roi)) return 0;
  if (!grayTable && ColourForTable(picture) != 1) return 0;
  for (int32_t y = roi.y0; y <= roi.y1; ++y)
    for (int32_t x = roi.x0; x <= roi.x1; ++x) {
      uint8_t v = 0;
      picture->GetGray8(x, y, &v);
      if (grayTable)
        picture->SetGray8(x, y, tables.t[0][v]);
      else
        picture->SetRGB8(x, y, tables.t[0][v], tables.t[1][v], tables.t[2][v]);
    }
  return 1;
}

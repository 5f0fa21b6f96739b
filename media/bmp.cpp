// bmp.cpp - reads and writes BMP.  The reader takes uncompressed and bit-field images of
// 1 to 32 bits stored bottom-up, with any info header of 40 bytes or more; it keeps one
// picture in memory and gives it as one frame (gray when the palette is the gray ramp).
// The writer builds an 8-bit gray or 24-bit image from the one frame written and puts the
// file on disk when the handle closes.
// Inside: image block - reading - normalising - writing - entry points
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "media/bmp.h"

namespace {

uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
void Put16(uint8_t* p, uint32_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
void Put32(uint8_t* p, uint32_t v) { for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i)); }

uint64_t RowSizeOf(uint64_t width, uint32_t bits) { return (uint64_t(bits) * width + 31) / 32 * 4; }

uint32_t DefaultPaletteCount(uint32_t bits) { return bits == 1 ? 2 : bits == 4 ? 16 : bits == 8 ? 256 : 0; }

// Shift, moved-down mask and adjustment of one channel mask; a zero mask stands for `fallback`.
void SetMask(BmpImage* im, int c, uint32_t mask, uint32_t fallback) {
  if (mask == 0) mask = fallback;
  uint32_t shift = 0;
  while (!(mask & 1u)) {
    mask >>= 1;
    ++shift;
  }
  uint32_t width = 0;
  while (width < 16 && (mask >> width) & 1u) ++width;
  im->shift[c] = shift;
  im->maskDown[c] = (1u << width) - 1;  // the counted run only: values stay within 8 bits after adjusting
  im->adjust[c] = int32_t(width) - 8;
}

uint8_t Channel(const BmpImage* im, uint32_t pixel, int c) {
  uint32_t v = (pixel >> im->shift[c]) & im->maskDown[c];
  return uint8_t(im->adjust[c] >= 0 ? v >> im->adjust[c] : v << -im->adjust[c]);
}

}  // namespace

// ---- image block ----------------------------------------------------------------------

void BmpFreeImage(BmpImage* image) {
  if (!image) return;
  std::free(image->rows);
  delete image;
}

int BmpCreate(BmpImage* im, int64_t width, int64_t height, uint32_t bits, uint32_t coloursUsed) {
  if (!im || width < 1 || height < 1 || width > INT32_MAX || height > INT32_MAX) return 0;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return 0;
  std::free(im->rows);
  im->rows = nullptr;
  uint64_t rowSize = RowSizeOf(uint64_t(width), bits);
  uint64_t image = rowSize * uint64_t(height);
  bool masks = (bits == 16 || bits == 32) && coloursUsed != 0;
  uint32_t entries = bits <= 8 ? (coloursUsed ? coloursUsed : DefaultPaletteCount(bits)) : 0;
  if (entries > 256) entries = 256;
  uint64_t fileSize = 14 + 40 + (masks ? 12 : 4 * uint64_t(entries)) + image;
  // The file header holds 32-bit sizes; a bigger file could not be written faithfully.
  if (fileSize > 0xFFFFFFFFull) return 0;
  im->rows = static_cast<uint8_t*>(std::calloc(image, 1));
  if (!im->rows) return 0;
  im->width = int32_t(width);
  im->height = int32_t(height);
  im->bitsPerPixel = uint16_t(bits);
  im->compression = masks ? 3 : 0;
  im->coloursUsed = bits <= 8 ? coloursUsed : 0;
  im->paletteCount = entries;
  std::memset(im->palette, 0, sizeof im->palette);
  im->rowSize = rowSize;
  im->fileSize = uint32_t(fileSize);
  im->dataOffset = uint32_t(fileSize - image);
  if (bits == 16) {
    if (masks) { im->masks[0] = 0x7C00; im->masks[1] = 0x3E0; im->masks[2] = 0x1F; }
    SetMask(im, 0, 0x7C00, 4); SetMask(im, 1, 0x3E0, 2); SetMask(im, 2, 0x1F, 1);
  } else if (bits == 32) {
    if (masks) { im->masks[0] = 0xFF0000; im->masks[1] = 0xFF00; im->masks[2] = 0xFF; }
    SetMask(im, 0, 0xFF0000, 4); SetMask(im, 1, 0xFF00, 2); SetMask(im, 2, 0xFF, 1);
  }
  return 1;
}

// ---- reading --------------------------------------------------------------------------

int BmpReadMemory(BmpImage* im, const uint8_t* d, uint64_t size) {
  if (!im || !d || size < 14 + 40) return 0;
  if (Le16(d) != 0x4D42) return 0;
  uint32_t fileSize = Le32(d + 2), reserved = Le32(d + 6), dataOffset = Le32(d + 10);
  const uint8_t* h = d + 14;
  uint64_t headerSize = Le32(h);
  // Older 12-byte headers are not read; larger ones (V4, V5) begin with the same 40 bytes.
  if (headerSize < 40 || headerSize > size - 14) return 0;
  int32_t width = int32_t(Le32(h + 4)), height = int32_t(Le32(h + 8));
  uint16_t planes = Le16(h + 12), bits = Le16(h + 14);
  uint32_t compression = Le32(h + 16), coloursUsed = Le32(h + 32);
  if (width <= 0 || height <= 0 || planes != 1) return 0;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return 0;
  if (compression != 0 && compression != 3) return 0;
  if (compression == 3 && bits != 16 && bits != 32) return 0;  // bit fields only make sense there

  uint64_t tablePos = 14 + headerSize;
  uint32_t entries = 0;
  uint32_t masks[3] = {};
  if (bits <= 8) {
    uint32_t declared = coloursUsed ? coloursUsed : DefaultPaletteCount(bits);
    entries = declared > 256 ? 256 : declared;  // a longer palette cannot be indexed anyway
    if (4 * uint64_t(entries) > size - tablePos) return 0;
  } else if (compression == 3) {
    // V4 and V5 headers hold the masks themselves; a 40-byte header is followed by them.
    uint64_t at = headerSize >= 52 ? 14 + 40 : tablePos;
    if (12 > size - at) return 0;
    for (int c = 0; c < 3; ++c) masks[c] = Le32(d + at + 4 * c);
  }

  uint64_t rowSize = RowSizeOf(uint64_t(width), bits);
  // The rows start at the file header's data offset, which must lie past the info header
  // and leave room for every row.
  if (dataOffset < 14 + headerSize || dataOffset > size) return 0;
  uint64_t room = size - dataOffset;
  if (rowSize > room || uint64_t(height) > room / rowSize) return 0;

  if (!BmpCreate(im, width, height, bits, compression == 3 ? 1 : bits <= 8 ? coloursUsed : 0)) return 0;
  im->magic = 0x4D42;
  im->fileSize = fileSize;
  im->reserved = reserved;
  im->dataOffset = dataOffset;
  im->paletteCount = entries;
  if (entries) std::memcpy(im->palette, d + tablePos, 4 * uint64_t(entries));
  if (compression == 3) {
    static const uint32_t fallback[3] = {4, 2, 1};
    for (int c = 0; c < 3; ++c) {
      im->masks[c] = masks[c];
      SetMask(im, c, masks[c], fallback[c]);
    }
  }
  std::memcpy(im->rows, d + dataOffset, rowSize * uint64_t(height));
  return 1;
}

int BmpReadFile(BmpImage* im, FILE* f) {
  if (!im || !f) return 0;
  // Sized by the file system, not by seeking: a folder opens too and seeks to an end of
  // exabytes, which would be taken as the size of the buffer.
  struct stat st;
  if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  int64_t size = int64_t(st.st_size);
  if (size < 54 || fseeko(f, 0, SEEK_SET) != 0) return 0;
  uint8_t* d = static_cast<uint8_t*>(std::malloc(uint64_t(size)));
  if (!d) return 0;
  int ok = std::fread(d, 1, uint64_t(size), f) == uint64_t(size) && BmpReadMemory(im, d, uint64_t(size));
  std::free(d);
  return ok;
}

// ---- normalising ----------------------------------------------------------------------

int BmpNormalize(BmpImage* im) {
  if (!im || !im->rows) return 0;
  const uint32_t bits = im->bitsPerPixel;
  if (bits == 8 || bits == 24) return 1;
  const uint64_t w = uint64_t(im->width), h = uint64_t(im->height);
  const uint32_t to = bits <= 4 ? 8 : 24;
  const uint64_t newRow = RowSizeOf(w, to);
  uint8_t* rows = static_cast<uint8_t*>(std::calloc(newRow * h, 1));
  if (!rows) return 0;
  for (uint64_t y = 0; y < h; ++y) {
    const uint8_t* s = im->rows + y * im->rowSize;
    uint8_t* dst = rows + y * newRow;
    switch (bits) {
      case 1: for (uint64_t x = 0; x < w; ++x) dst[x] = (s[x >> 3] >> (7 - (x & 7))) & 1; break;
      case 4: for (uint64_t x = 0; x < w; ++x) dst[x] = (x & 1) ? s[x >> 1] & 15 : s[x >> 1] >> 4; break;
      case 16:
      case 32:
        for (uint64_t x = 0; x < w; ++x) {
          uint32_t px = bits == 16 ? Le16(s + 2 * x) : Le32(s + 4 * x);
          dst[3 * x] = Channel(im, px, 2);
          dst[3 * x + 1] = Channel(im, px, 1);
          dst[3 * x + 2] = Channel(im, px, 0);
        }
        break;
    }
  }
  std::free(im->rows);
  im->rows = rows;
  im->rowSize = newRow;
  im->bitsPerPixel = uint16_t(to);
  im->compression = 0;
  if (to == 8) im->paletteCount = 256;  // entries past the file's palette stay black
  return 1;
}

int BmpIsGrayPalette(const BmpImage* im) {
  if (!im || im->bitsPerPixel != 8 || im->paletteCount < 256) return 0;
  for (int i = 0; i < 256; ++i) {
    const uint8_t* e = im->palette + 4 * i;
    if (e[0] != i || e[1] != i || e[2] != i) return 0;
  }
  return 1;
}

// ---- writing --------------------------------------------------------------------------

int BmpWriteFile(const BmpImage* im, FILE* f) {
  if (!im || !f || !im->rows) return 0;
  const bool masks = im->compression == 3;
  const uint32_t entries = im->bitsPerPixel <= 8 ? im->paletteCount : 0;
  const uint64_t image = im->rowSize * uint64_t(im->height);
  const uint64_t tableBytes = masks ? 12 : 4 * uint64_t(entries);
  const uint64_t fileSize = 54 + tableBytes + image;
  if (fileSize > 0xFFFFFFFFull) return 0;
  uint8_t head[54 + 12] = {};
  Put16(head, 0x4D42);
  Put32(head + 2, uint32_t(fileSize));
  Put32(head + 10, uint32_t(54 + tableBytes));
  uint8_t* h = head + 14;
  Put32(h, 40);
  Put32(h + 4, uint32_t(im->width));
  Put32(h + 8, uint32_t(im->height));
  Put16(h + 12, 1);
  Put16(h + 14, im->bitsPerPixel);
  Put32(h + 16, im->compression);
  Put32(h + 20, uint32_t(image));
  Put32(h + 32, im->coloursUsed);
  if (masks)
    for (int c = 0; c < 3; ++c) Put32(head + 54 + 4 * c, im->masks[c]);
  if (std::fwrite(head, 1, masks ? 66 : 54, f) != (masks ? 66u : 54u)) return 0;
  if (entries && std::fwrite(im->palette, 4, entries, f) != entries) return 0;
  return std::fwrite(im->rows, 1, image, f) == image;
}

// ---- entry points ---------------------------------------------------------------------

namespace {

int FinishOpen(MediaFile* file, BmpImage* im) {
  if (!BmpNormalize(im)) {
    BmpFreeImage(im);
    return 0;
  }
  file->info.planes = 1;
  file->info.frameCount = 1;
  file->info.width = uint64_t(im->width);
  file->info.height = uint64_t(im->height);
  file->info.bytesPerPixel = BmpIsGrayPalette(im) ? 1 : 3;
  file->bmpRead = im;
  return 1;
}

}  // namespace

int BmpOpenMemory(MediaFile* file, const void* data, size_t size) {
  if (!file || !data) return 0;
  BmpImage* im = new (std::nothrow) BmpImage;
  if (!im) return 0;
  if (!BmpReadMemory(im, static_cast<const uint8_t*>(data), size)) {
    BmpFreeImage(im);
    return 0;
  }
  return FinishOpen(file, im);
}

int BmpOpenRead(MediaFile* file, const char* ansiPath) {
  if (!file || !ansiPath) return 0;
  FILE* f = std::fopen(ansiPath, "rb");
  if (!f) return 0;
  BmpImage* im = new (std::nothrow) BmpImage;
  int ok = im && BmpReadFile(im, f);
  std::fclose(f);
  if (!ok) {
    BmpFreeImage(im);
    return 0;
  }
  return FinishOpen(file, im);
}

int BmpReadImage(MediaFile* file, uint64_t plane, uint64_t frame, uint64_t count, void* buffer) {
  if (!file || !file->bmpRead || plane != 0 || frame != 0 || count > 1) return 0;
  if (count == 0) return 1;
  const BmpImage* im = file->bmpRead;
  const uint64_t bpp = file->info.bytesPerPixel;
  const uint64_t w = uint64_t(im->width), h = uint64_t(im->height);
  if (!buffer || file->info.width != w || file->info.height != h) return 0;
  if (bpp == 1 ? im->bitsPerPixel != 8 : bpp != 3) return 0;
  uint8_t* out = static_cast<uint8_t*>(buffer);
  for (uint64_t y = 0; y < h; ++y) {
    const uint8_t* s = im->rows + (h - 1 - y) * im->rowSize;
    uint8_t* d = out + y * w * bpp;
    if (bpp == 1) {
      std::memcpy(d, s, w);
    } else if (im->bitsPerPixel == 8) {
      for (uint64_t x = 0; x < w; ++x) {
        const uint8_t* e = im->palette + 4 * uint64_t(s[x]);
        bool inside = s[x] < im->paletteCount;
        d[3 * x] = inside ? e[2] : 0;
        d[3 * x + 1] = inside ? e[1] : 0;
        d[3 * x + 2] = inside ? e[0] : 0;
      }
    } else {
      for (uint64_t x = 0; x < w; ++x) {
        d[3 * x] = s[3 * x + 2];
        d[3 * x + 1] = s[3 * x + 1];
        d[3 * x + 2] = s[3 * x];
      }
    }
  }
  return 1;
}

int BmpOpenWrite(MediaFile* file) {
  if (!file || file->info.frameCount != 1) return 0;
  const uint64_t bpp = file->info.bytesPerPixel;
  if (bpp != 1 && bpp != 3) return 0;
  if (file->info.width > INT32_MAX || file->info.height > INT32_MAX) return 0;
  BmpImage* im = new (std::nothrow) BmpImage;
  if (!im) return 0;
  if (!BmpCreate(im, int64_t(file->info.width), int64_t(file->info.height), bpp == 1 ? 8 : 24, 0)) {
    BmpFreeImage(im);
    return 0;
  }
  if (bpp == 1)
    for (int i = 0; i < 256; ++i) im->palette[4 * i] = im->palette[4 * i + 1] = im->palette[4 * i + 2] = uint8_t(i);
  file->bmpWrite = im;
  return 1;
}

int BmpWriteImage(MediaFile* file, uint64_t plane, uint64_t count, const void* buffer) {
  if (!file || !file->bmpWrite || plane != 0 || count > 1) return 0;
  if (count == 0) return 1;
  if (!buffer) return 0;
  BmpImage* im = file->bmpWrite;
  const uint64_t w = uint64_t(im->width), h = uint64_t(im->height);
  const uint64_t bpp = im->bitsPerPixel == 8 ? 1 : 3;
  const uint8_t* in = static_cast<const uint8_t*>(buffer);
  for (uint64_t y = 0; y < h; ++y) {
    const uint8_t* s = in + y * w * bpp;
    uint8_t* d = im->rows + (h - 1 - y) * im->rowSize;
    if (bpp == 1) {
      std::memcpy(d, s, w);
    } else {
      for (uint64_t x = 0; x < w; ++x) {
        d[3 * x] = s[3 * x + 2];
        d[3 * x + 1] = s[3 * x + 1];
        d[3 * x + 2] = s[3 * x];
      }
    }
  }
  im->frameWritten = true;
  return 1;
}

int BmpClose(MediaFile* file) {
  if (!file) return 1;
  if (file->bmpRead) {
    BmpFreeImage(file->bmpRead);
    file->bmpRead = nullptr;
  }
  if (!file->bmpWrite) return 1;
  BmpImage* im = file->bmpWrite;
  file->bmpWrite = nullptr;
  int ok = 0;
  // No accepted frame: leave the disk alone rather than replace a file with a black picture.
  if (im->frameWritten && MediaWritePath(file)) {
    FILE* f = std::fopen(MediaWritePath(file), "wb");
    if (f) {
      ok = BmpWriteFile(im, f);
      if (std::fclose(f) != 0) ok = 0;
    }
  }
  BmpFreeImage(im);
  return ok;
}

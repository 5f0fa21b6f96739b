// tiff_write.cpp - the TIFF writer behind the media handle: one uncompressed little-endian
// file, one page (ten directory entries and one strip) per frame written, so a series of
// pictures becomes a multi-page file.  32-bit samples are stored as floats from 0 to 1.
// Also TiffClose, which ends either half of a TIFF handle.
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "media/tiff.h"

struct TiffWriter {
  FILE* file = nullptr;
  uint64_t size = 0;          // bytes written so far: the next page starts here
  uint64_t lastNextField = 0; // position of the previous page's next-directory field
  bool hasPage = false;
  bool failed = false;        // a write went wrong: the file on disk is not whole
};

namespace {

// Offsets are 32-bit: no byte of the file may lie beyond this.
constexpr uint64_t kMaxFileEnd = 0xFFFFFFFFull;

void Put16(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

void PutEntry(uint8_t* p, uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
  Put16(p, tag);
  Put16(p + 2, type);
  Put32(p + 4, count);
  Put32(p + 8, 0);
  if (type == 3 && count == 1) Put16(p + 8, value);
  else Put32(p + 8, value);
}

bool Write(TiffWriter* w, const void* data, size_t n) {
  if (n && std::fwrite(data, 1, n, w->file) != n) {
    w->failed = true;
    return false;
  }
  return true;
}

// Pixel rows in the file's form: 16-bit samples little endian, 32-bit samples as floats.
bool WritePixels(TiffWriter* w, const uint8_t* pixels, uint64_t rowBytes, uint64_t height, uint64_t sampleBytes) {
  if (sampleBytes == 1 || (sampleBytes == 2 && std::endian::native == std::endian::little))
    return Write(w, pixels, rowBytes * height);
  uint8_t* row = static_cast<uint8_t*>(std::malloc(rowBytes));
  if (!row) return false;
  bool ok = true;
  for (uint64_t y = 0; y < height && ok; ++y) {
    const uint8_t* src = pixels + y * rowBytes;
    if (sampleBytes == 2) {
      for (uint64_t i = 0; i < rowBytes; i += 2) {
        uint16_t v;
        std::memcpy(&v, src + i, 2);
        Put16(row + i, v);
      }
    } else {
      for (uint64_t i = 0; i < rowBytes; i += 4) {
        uint32_t v;
        std::memcpy(&v, src + i, 4);
        float f = float(double(v) / 4294967295.0);
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        Put32(row + i, bits);
      }
    }
    ok = Write(w, row, rowBytes);
  }
  std::free(row);
  return ok;
}

}  // namespace

TiffWriter* TiffWriterOpen(const char* ansiPath) {
  if (!ansiPath || !*ansiPath) return nullptr;
  TiffWriter* w = new (std::nothrow) TiffWriter;
  if (!w) return nullptr;
  w->file = std::fopen(ansiPath, "wb");
  if (!w->file) {
    delete w;
    return nullptr;
  }
  const uint8_t header[8] = {'I', 'I', 42, 0, 8, 0, 0, 0};
  if (!Write(w, header, 8)) {
    std::fclose(w->file);
    delete w;
    return nullptr;
  }
  w->size = 8;
  return w;
}

int TiffWriterAddPage(TiffWriter* w, uint64_t width, uint64_t height, uint64_t bpp, int colour, const void* pixels) {
  if (!w || !w->file || w->failed || width == 0 || height == 0 || !pixels) return 0;
  if (width > kMaxFileEnd || height > kMaxFileEnd) return 0;
  bool gray = !colour && (bpp == 1 || bpp == 2 || bpp == 4);
  bool rgb = colour && (bpp == 3 || bpp == 6 || bpp == 12);
  if (!gray && !rgb) return 0;
  uint64_t bytes = width * height * bpp;  // both below 2^32, bpp at most 12: no overflow
  if (width * height > kMaxFileEnd || bytes > kMaxFileEnd) return 0;
  const uint64_t ifd = w->size;
  const uint64_t head = rgb ? 138 : 126;
  // The page must end inside 32-bit offsets, or its offsets would wrap into a corrupt file.
  if (ifd + head + bytes > kMaxFileEnd + 1) return 0;
  const uint64_t sampleBytes = rgb ? bpp / 3 : bpp;

  if (w->hasPage) {
    uint8_t field[4];
    Put32(field, uint32_t(ifd));
    if (fseeko(w->file, off_t(w->lastNextField), SEEK_SET) != 0 || !Write(w, field, 4) ||
        fseeko(w->file, off_t(ifd), SEEK_SET) != 0) {
      w->failed = true;
      return 0;
    }
  }
  uint8_t d[138] = {};
  Put16(d, 10);
  uint8_t* e = d + 2;
  const uint32_t p = uint32_t(ifd);
  PutEntry(e + 0, 256, 4, 1, uint32_t(width));
  PutEntry(e + 12, 257, 4, 1, uint32_t(height));
  PutEntry(e + 24, 258, 3, rgb ? 3 : 1, rgb ? p + 126 : uint32_t(8 * bpp));
  PutEntry(e + 36, 259, 3, 1, 1);
  PutEntry(e + 48, 262, 3, 1, rgb ? 2 : 1);
  PutEntry(e + 60, 273, 4, 1, uint32_t(ifd + head));
  PutEntry(e + 72, 277, 3, 1, rgb ? 3 : 1);
  PutEntry(e + 84, 278, 4, 1, uint32_t(height));
  PutEntry(e + 96, 279, 4, 1, uint32_t(bytes));
  const uint32_t format = sampleBytes == 4 ? 3 : 1;
  PutEntry(e + 108, 339, 3, rgb ? 3 : 1, rgb ? p + 132 : format);
  Put32(d + 122, 0);
  if (rgb) {
    for (int i = 0; i < 3; ++i) {
      Put16(d + 126 + 2 * i, uint32_t(8 * sampleBytes));
      Put16(d + 132 + 2 * i, format);
    }
  }
  if (!Write(w, d, head) || !WritePixels(w, static_cast<const uint8_t*>(pixels), width * bpp, height, sampleBytes))
    return 0;
  w->lastNextField = ifd + 122;
  w->hasPage = true;
  w->size = ifd + head + bytes;
  return 1;
}

int TiffWriterClose(TiffWriter* w) {
  if (!w) return 1;
  // A file that never got a page holds only its header: no reader can open it, so it is
  // not reported as saved.
  int ok = !w->failed && w->hasPage;
  if (w->file && std::fclose(w->file) != 0) ok = 0;
  delete w;
  return ok;
}

int TiffWritePage(MediaFile* file, uint64_t plane, uint64_t count, const void* buffer) {
  if (!file || !file->tiffWriter || plane != 0 || count == 0 || !buffer) return 0;
  const MediaInfo& info = file->info;
  const uint64_t bpp = info.bytesPerPixel;
  const int colour = bpp == 3 || bpp == 6 || bpp == 12;
  const uint8_t* p = static_cast<const uint8_t*>(buffer);
  for (uint64_t i = 0; i < count; ++i) {
    if (!TiffWriterAddPage(file->tiffWriter, info.width, info.height, bpp, colour, p)) return 0;
    p += info.width * info.height * bpp;
  }
  return 1;
}

int TiffClose(MediaFile* file) {
  if (!file) return 1;
  int ok = 1;
  if (file->tiffReader) {
    TiffFreeReader(file->tiffReader);
    file->tiffReader = nullptr;
  }
  if (file->tiffWriter) {
    ok = TiffWriterClose(file->tiffWriter);
    file->tiffWriter = nullptr;
  }
  return ok;
}

// png.cpp - PNG still images through libpng: one frame per file, read whole at open.
// Reading keeps the decoded rows and converts them into the frame layout on every read
// (gray 1/2/4/8/16, RGB 8/16, palette, alpha dropped); writing takes 1, 2, 3 or 6 bytes
// per pixel and writes 8-bit or 16-bit gray or RGB.
// Inside: state - row kernels - reading - writing - close
#include <png.h>

#include <bit>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/parallel.h"
#include "media/media_file.h"

struct PngState {
  png_structp png;
  png_infop info;
  FILE* fp;
  int writing;
  int written;        // the whole file went through libpng without an error
  int bitDepth;
  int colorType;
  uint8_t* pixels;    // decoded rows, rowBytes apart (reading)
  png_bytep* rows;    // row pointers into pixels (reading)
  uint64_t rowBytes;
  png_colorp palette;  // owned by libpng's info structure
  int paletteCount;
};

namespace {

// ---------------------------------------------------------------------------------------
// Row kernels: (file row, frame row, pixel count).  PNG stores 16-bit samples most
// significant byte first; the frame holds them in machine order.

constexpr bool kLittleEndian = std::endian::native == std::endian::little;

inline uint16_t Big16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }

void CopyRow(const uint8_t* src, uint8_t* dst, uint64_t n, uint64_t bytes) { memcpy(dst, src, n * bytes); }

void Swap16Row(const uint8_t* src, uint8_t* dst, uint64_t samples) {
  uint16_t* out = reinterpret_cast<uint16_t*>(dst);
  for (uint64_t i = 0; i < samples; ++i) out[i] = Big16(src + 2 * i);
}

// Sub-byte gray: samples packed from the highest bits first, scaled to 0..255.
void GrayBitsRow(const uint8_t* src, uint8_t* dst, uint64_t n, int depth) {
  const int perByte = 8 / depth;
  const unsigned mask = (1u << depth) - 1;
  const unsigned scale = 255 / mask;  // 255, 85, 17 for 1, 2, 4 bits
  for (uint64_t i = 0; i < n; ++i) {
    const unsigned shift = unsigned(8 - depth * (1 + int(i % perByte)));
    dst[i] = uint8_t(((src[i / perByte] >> shift) & mask) * scale);
  }
}

void PaletteRow(const uint8_t* src, uint8_t* dst, uint64_t n, int depth, const png_color* palette, int count) {
  const int perByte = 8 / depth;
  const unsigned mask = (1u << depth) - 1;
  for (uint64_t i = 0; i < n; ++i) {
    const unsigned shift = unsigned(8 - depth * (1 + int(i % perByte)));
    const int index = int((src[i / perByte] >> shift) & mask);
    uint8_t* p = dst + 3 * i;
    if (index < count) {
      p[0] = palette[index].red;
      p[1] = palette[index].green;
      p[2] = palette[index].blue;
    } else {
      p[0] = p[1] = p[2] = 0;  // an index past the palette reads as black
    }
  }
}

// Drops the last of `channels` samples; `keep` samples of `sampleBytes` each stay.
void DropAlpha8Row(const uint8_t* src, uint8_t* dst, uint64_t n, int keep) {
  const int stride = keep + 1;
  for (uint64_t i = 0; i < n; ++i)
    for (int c = 0; c < keep; ++c) dst[i * keep + c] = src[i * stride + c];
}

void DropAlpha16Row(const uint8_t* src, uint8_t* dst, uint64_t n, int keep) {
  const int stride = 2 * (keep + 1);
  uint16_t* out = reinterpret_cast<uint16_t*>(dst);
  for (uint64_t i = 0; i < n; ++i)
    for (int c = 0; c < keep; ++c) out[i * keep + c] = Big16(src + i * stride + 2 * c);
}

struct ConvertJob {
  const PngState* state;
  uint8_t* frame;
  uint64_t width;
  uint64_t frameRowBytes;
};

void ConvertRows(void* ctx, uint64_t first, uint64_t count) {
  const ConvertJob& job = *static_cast<const ConvertJob*>(ctx);
  const PngState& s = *job.state;
  const uint64_t w = job.width;
  const int depth = s.bitDepth;
  for (uint64_t y = first; y < first + count; ++y) {
    const uint8_t* src = s.rows[y];
    uint8_t* dst = job.frame + y * job.frameRowBytes;
    switch (s.colorType) {
      case PNG_COLOR_TYPE_GRAY:
        if (depth == 16) Swap16Row(src, dst, w);
        else if (depth == 8) CopyRow(src, dst, w, 1);
        else GrayBitsRow(src, dst, w, depth);
        break;
      case PNG_COLOR_TYPE_RGB:
        if (depth == 16) Swap16Row(src, dst, 3 * w);
        else CopyRow(src, dst, w, 3);
        break;
      case PNG_COLOR_TYPE_PALETTE:
        PaletteRow(src, dst, w, depth, s.palette, s.paletteCount);
        break;
      case PNG_COLOR_TYPE_GRAY_ALPHA:
        if (depth == 16) DropAlpha16Row(src, dst, w, 1);
        else DropAlpha8Row(src, dst, w, 1);
        break;
      case PNG_COLOR_TYPE_RGB_ALPHA:
        if (depth == 16) DropAlpha16Row(src, dst, w, 3);
        else DropAlpha8Row(src, dst, w, 3);
        break;
    }
  }
}

uint64_t FrameBytesPerPixel(int colorType, int depth) {
  switch (colorType) {
    case PNG_COLOR_TYPE_GRAY:
    case PNG_COLOR_TYPE_GRAY_ALPHA: return depth == 16 ? 2 : 1;
    case PNG_COLOR_TYPE_RGB:
    case PNG_COLOR_TYPE_RGB_ALPHA: return depth == 16 ? 6 : 3;
    default: return 3;  // palette
  }
}

void DestroyState(PngState* s) {
  if (s->png) {
    if (s->writing) png_destroy_write_struct(&s->png, s->info ? &s->info : nullptr);
    else png_destroy_read_struct(&s->png, s->info ? &s->info : nullptr, nullptr);
  }
  free(s->rows);
  free(s->pixels);
  free(s);
}

// Runs the whole decode under one recovery point.  Only the state pointer lives in this
// frame; everything libpng fills in sits in the state, so a long jump loses nothing.
int DecodeWhole(PngState* s) {
  if (setjmp(png_jmpbuf(s->png))) return 0;
  png_init_io(s->png, s->fp);
  png_set_sig_bytes(s->png, 8);
  // The frame needs IHDR, PLTE and IDAT only.  Skipping every other chunk also keeps libpng
  // from allocating whatever length a text chunk after the image data claims (gigabytes
  // for a few hundred bytes of file).
  png_set_keep_unknown_chunks(s->png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
  png_read_info(s->png, s->info);
  png_uint_32 w = 0, h = 0;
  int depth = 0, colorType = 0, interlace = 0;
  png_get_IHDR(s->png, s->info, &w, &h, &depth, &colorType, &interlace, nullptr, nullptr);
  // A header may claim any size: refuse what no frame buffer could hold before a byte of
  // pixel memory is taken (libpng itself allows a million pixels per side).
  const uint64_t bpp = FrameBytesPerPixel(colorType, depth);
  if (w == 0 || h == 0 || uint64_t(w) * h * bpp > MediaMaxFrameBytes) return 0;
  png_set_interlace_handling(s->png);
  png_read_update_info(s->png, s->info);
  s->rowBytes = png_get_rowbytes(s->png, s->info);
  if (s->rowBytes == 0 || s->rowBytes * uint64_t(h) > MediaMaxFrameBytes) return 0;
  s->pixels = static_cast<uint8_t*>(malloc(s->rowBytes * h));
  s->rows = static_cast<png_bytep*>(malloc(sizeof(png_bytep) * h));
  if (!s->pixels || !s->rows) return 0;
  for (uint64_t y = 0; y < h; ++y) s->rows[y] = s->pixels + y * s->rowBytes;
  png_read_image(s->png, s->rows);
  png_read_end(s->png, s->info);
  s->bitDepth = depth;
  s->colorType = colorType;
  if (colorType == PNG_COLOR_TYPE_PALETTE) {
    png_colorp palette = nullptr;
    int count = 0;
    if (png_get_PLTE(s->png, s->info, &palette, &count) != 0 && palette) {
      s->palette = palette;
      s->paletteCount = count;
    }
  }
  return 1;
}

int EncodeWhole(PngState* s, png_bytep* rows, int sixteenBit) {
  if (setjmp(png_jmpbuf(s->png))) return 0;
  png_write_info(s->png, s->info);
  // The frame holds 16-bit samples in machine order; libpng swaps them on its own copy of
  // each row, so the caller's buffer is read in place and never written.
  if (sixteenBit && kLittleEndian) png_set_swap(s->png);
  png_write_image(s->png, rows);
  png_write_end(s->png, s->info);
  png_write_flush(s->png);
  return 1;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Reading

int PngOpenReadStream(MediaFile* file, FILE* fp) {
  if (!file || !fp) {
    if (fp) fclose(fp);
    return 0;
  }
  uint8_t sig[8];
  if (fread(sig, 1, 8, fp) != 8) {
    fputs("png:Can't read sig.\n", stderr);
    fclose(fp);
    return 0;
  }
  if (png_sig_cmp(sig, 0, 8) != 0) {
    fputs("png:Bad sig.\n", stderr);
    fclose(fp);
    return 0;
  }
  PngState* s = static_cast<PngState*>(calloc(1, sizeof(PngState)));
  if (!s) {
    fclose(fp);
    return 0;
  }
  s->fp = fp;
  s->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (s->png) s->info = png_create_info_struct(s->png);
  if (!s->png || !s->info || !DecodeWhole(s)) {
    DestroyState(s);
    fclose(fp);
    return 0;
  }
  file->png = s;
  file->info.planes = 1;
  file->info.frameCount = 1;
  file->info.width = png_get_image_width(s->png, s->info);
  file->info.height = png_get_image_height(s->png, s->info);
  file->info.bytesPerPixel = FrameBytesPerPixel(s->colorType, s->bitDepth);
  return 1;
}

int PngOpenRead(MediaFile* file, const char* ansiPath) {
  if (!file || !ansiPath) return 0;
  FILE* fp = fopen(ansiPath, "rb");
  if (!fp) return 0;
  return PngOpenReadStream(file, fp);
}

int PngReadImage(MediaFile* file, uint64_t plane, uint64_t frame, uint64_t count, void* buffer) {
  if (!file || plane != 0 || frame != 0 || count > 1) return 0;
  if (count == 0) return 1;
  const PngState* s = file->png;
  if (!s || s->writing || !s->rows || !buffer) return 0;
  switch (s->colorType) {
    case PNG_COLOR_TYPE_GRAY: case PNG_COLOR_TYPE_RGB: case PNG_COLOR_TYPE_PALETTE:
    case PNG_COLOR_TYPE_GRAY_ALPHA: case PNG_COLOR_TYPE_RGB_ALPHA: break;
    default: return 0;
  }
  // The rows were decoded at open, so conversion cannot fail and needs no recovery point.
  ConvertJob job{s, static_cast<uint8_t*>(buffer), file->info.width, file->info.width * file->info.bytesPerPixel};
  const uint64_t h = file->info.height;
  // 8-bit gray and RGB rows already have the frame's layout, one block without gaps.
  if (s->bitDepth == 8 && (s->colorType == PNG_COLOR_TYPE_GRAY || s->colorType == PNG_COLOR_TYPE_RGB) &&
      s->rowBytes == job.frameRowBytes) {
    ParallelMemcpy(buffer, s->pixels, s->rowBytes * h);
    return 1;
  }
  if (file->info.width * h >= uint64_t(ParallelPixelThreshold)) ParallelFor(ConvertRows, &job, h);
  else ConvertRows(&job, 0, h);
  return 1;
}

// ---------------------------------------------------------------------------------------
// Writing

int PngOpenWrite(MediaFile* file, const char* ansiPath) {
  if (!file || !ansiPath || file->info.frameCount != 1) return 0;
  const uint64_t bpp = file->info.bytesPerPixel;
  // Only these four map to a PNG sample layout; anything else would make libpng read past
  // the end of each row.
  if (bpp != 1 && bpp != 2 && bpp != 3 && bpp != 6) return 0;
  const uint64_t w = file->info.width, h = file->info.height;
  if (w == 0 || h == 0 || w > PNG_UINT_31_MAX || h > PNG_UINT_31_MAX) return 0;
  FILE* fp = fopen(ansiPath, "wb");
  if (!fp) return 0;
  PngState* s = static_cast<PngState*>(calloc(1, sizeof(PngState)));
  if (!s) {
    fclose(fp);
    return 0;
  }
  s->writing = 1;
  s->fp = fp;
  s->png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (s->png) s->info = png_create_info_struct(s->png);
  int ok = s->png && s->info;
  if (ok) {
    png_structp png = s->png;
    png_infop info = s->info;
    if (setjmp(png_jmpbuf(png))) {
      ok = 0;
    } else {
      png_init_io(png, fp);
      png_set_IHDR(png, info, png_uint_32(w), png_uint_32(h), (bpp == 1 || bpp == 3) ? 8 : 16,
                   (bpp == 1 || bpp == 2) ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                   PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    }
  }
  if (!ok) {
    DestroyState(s);
    fclose(fp);
    return 0;
  }
  file->png = s;
  return 1;
}

int PngWriteImage(MediaFile* file, uint64_t, uint64_t, const void* buffer) {
  if (!file || !buffer) return 0;
  PngState* s = file->png;
  if (!s || !s->writing || s->written) return 0;
  const uint64_t h = file->info.height;
  const uint64_t rowBytes = file->info.width * file->info.bytesPerPixel;
  // Row pointers into the caller's frame; taken from malloc so that no libpng call runs
  // outside the recovery point.
  png_bytep* rows = static_cast<png_bytep*>(malloc(sizeof(png_bytep) * h));
  if (!rows) return 0;
  const uint8_t* base = static_cast<const uint8_t*>(buffer);
  for (uint64_t y = 0; y < h; ++y) rows[y] = const_cast<png_bytep>(base + y * rowBytes);
  const int ok = EncodeWhole(s, rows, file->info.bytesPerPixel == 2 || file->info.bytesPerPixel == 6);
  free(rows);
  if (ok) s->written = 1;
  return ok;
}

// ---------------------------------------------------------------------------------------
// Close

int PngClose(MediaFile* file) {
  if (!file || !file->png) return 1;
  PngState* s = file->png;
  file->png = nullptr;
  FILE* fp = s->fp;
  // A writer whose image never went through whole has left a truncated file behind; so
  // has one whose buffered bytes cannot reach the disk at fclose.
  const int writing = s->writing;
  int ok = writing ? s->written : 1;
  DestroyState(s);
  // An earlier failed flush leaves only the stream's error flag behind.
  if (fp && writing && (fflush(fp) != 0 || ferror(fp))) ok = 0;
  if (fp && fclose(fp) != 0 && writing) ok = 0;
  return ok;
}

// avi_write.cpp - AVI writer: a fixed 2048-byte header area, one chunk per frame (DIB rows,
// MJPG or PNG), the legacy "idx1" index, and OpenDML "AVIX" parts with standard and super
// indexes once a part would pass its size limit.  Header chunks that only close can fill
// (super index, "odml"/"dmlh") are carved out of the "JUNK" that pads the header area.
// Inside: little-endian helpers - frame encoders - file layout - entry points
#include "media/avi.h"

#include "media/alloc_util.h"

#include "core/parallel.h"

#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <new>

#include <jerror.h>
#include <jpeglib.h>
#include <png.h>

namespace {

constexpr uint32_t kMaxSide = 32768;
constexpr uint64_t kMaxPixels = uint64_t(1) << 28;
constexpr uint32_t kMoviStart = kAviHeaderReserve;   // "LIST" size "movi" of every part
constexpr uint32_t kFirstChunk = kAviHeaderReserve + 12;
constexpr uint32_t kHdrlSizeAt = 16, kStrlSizeAt = 92, kAvihFramesAt = 48, kStrhLengthAt = 140;

void Put16(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
void Put64(uint8_t* p, uint64_t v) {
  Put32(p, uint32_t(v));
  Put32(p + 4, uint32_t(v >> 32));
}
void PutId(uint8_t* p, const char (&s)[5]) { Put32(p, AviFourCc(s)); }

// ---------------------------------------------------------------------------------------------
// Output: every failure is remembered so that close can report it.

// A failure does not stop later writes: close still tries to write the headers and indexes
// of the frames that went out whole, so they stay readable, and then reports the failure.
int WriteAt(AviFile* avi, uint64_t offset, const void* data, size_t n) {
  if (fseeko(avi->stream, off_t(offset), SEEK_SET) != 0 || fwrite(data, 1, n, avi->stream) != n) {
    avi->ioFailed = 1;
    clearerr(avi->stream);
    return 0;
  }
  return 1;
}

int Patch32(AviFile* avi, uint64_t offset, uint32_t value) {
  uint8_t b[4];
  Put32(b, value);
  return WriteAt(avi, offset, b, 4);
}

int ReserveEncoded(AviFile* avi, size_t need) {
  if (need <= avi->encodedCapacity) return 1;
  size_t cap = avi->encodedCapacity ? avi->encodedCapacity : 4096;
  while (cap < need) cap *= 2;
  void* p = realloc(avi->encoded, cap);
  if (!p) return 0;
  avi->encoded = static_cast<uint8_t*>(p);
  avi->encodedCapacity = cap;
  return 1;
}

// ---------------------------------------------------------------------------------------------
// Frame encoders: each leaves the frame's bytes in avi->encoded, avi->encodedSize.

struct DibJob {
  const uint8_t* src;
  uint8_t* dst;
  uint32_t width, height, stride;
};

void DibEncodeRows8(void* ctx, uint64_t first, uint64_t count) {
  auto* j = static_cast<DibJob*>(ctx);
  for (uint64_t y = first; y < first + count; ++y)
    memcpy(j->dst + (j->height - 1 - y) * j->stride, j->src + y * j->width, j->width);
}

// R,G,B in, B,G,R stored, bottom row first.
void DibEncodeRows24(void* ctx, uint64_t first, uint64_t count) {
  auto* j = static_cast<DibJob*>(ctx);
  for (uint64_t y = first; y < first + count; ++y) {
    const uint8_t* s = j->src + y * uint64_t(j->width) * 3;
    uint8_t* d = j->dst + (j->height - 1 - y) * j->stride;
    for (uint32_t x = 0; x < j->width; ++x, s += 3, d += 3) {
      d[0] = s[2];
      d[1] = s[1];
      d[2] = s[0];
    }
  }
}

int EncodeDib(AviFile* avi, const uint8_t* frame) {
  size_t size = size_t(avi->stride) * avi->height;
  size_t had = avi->encodedCapacity;
  if (!ReserveEncoded(avi, size)) return 0;
  // Row pads must be zero; rows never touch them, so one fill when the block is new is enough.
  if (had < size) memset(avi->encoded, 0, avi->encodedCapacity);
  DibJob job{frame, avi->encoded, avi->width, avi->height, avi->stride};
  ParallelForFn fn = avi->bitCount == 8 ? DibEncodeRows8 : DibEncodeRows24;
  if (uint64_t(avi->width) * avi->height >= uint64_t(ParallelPixelThreshold))
    ParallelFor(fn, &job, avi->height);
  else
    fn(&job, 0, avi->height);
  avi->encodedSize = size;
  return 1;
}

struct JpegErrorManager {
  jpeg_error_mgr pub;
  jmp_buf jump;
};

void JpegJumpOnError(j_common_ptr cinfo) { longjmp(reinterpret_cast<JpegErrorManager*>(cinfo->err)->jump, 1); }
void JpegQuiet(j_common_ptr) {}

// A destination over avi->encoded that doubles the block whenever libjpeg fills it.
struct JpegGrowingDest {
  jpeg_destination_mgr pub;
  AviFile* avi;
};

void JpegDestInit(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<JpegGrowingDest*>(cinfo->dest);
  d->pub.next_output_byte = d->avi->encoded;
  d->pub.free_in_buffer = d->avi->encodedCapacity;
}

boolean JpegDestGrow(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<JpegGrowingDest*>(cinfo->dest);
  size_t used = d->avi->encodedCapacity;
  if (!ReserveEncoded(d->avi, used * 2)) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
  d->pub.next_output_byte = d->avi->encoded + used;
  d->pub.free_in_buffer = d->avi->encodedCapacity - used;
  return TRUE;
}

void JpegDestTerm(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<JpegGrowingDest*>(cinfo->dest);
  d->avi->encodedSize = d->avi->encodedCapacity - d->pub.free_in_buffer;
}

int EncodeMjpeg(AviFile* avi, const uint8_t* frame) {
  if (!ReserveEncoded(avi, 4096)) return 0;
  jpeg_compress_struct cinfo;
  JpegErrorManager err;
  JpegGrowingDest dest;
  memset(&cinfo, 0, sizeof cinfo);
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = JpegJumpOnError;
  err.pub.output_message = JpegQuiet;
  if (setjmp(err.jump)) {
    jpeg_destroy_compress(&cinfo);
    return 0;
  }
  jpeg_create_compress(&cinfo);
  dest.pub.init_destination = JpegDestInit;
  dest.pub.empty_output_buffer = JpegDestGrow;
  dest.pub.term_destination = JpegDestTerm;
  dest.avi = avi;
  cinfo.dest = &dest.pub;
  cinfo.image_width = avi->width;
  cinfo.image_height = avi->height;
  uint32_t comps = avi->bitCount / 8;
  cinfo.input_components = int(comps);
  cinfo.in_color_space = comps == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, avi->quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  size_t rowBytes = size_t(avi->width) * comps;
  // 8-bit rows pass through the gray ramp palette unchanged, so they go in as they are.
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW rows[16];
    uint32_t n = cinfo.image_height - cinfo.next_scanline;
    if (n > 16) n = 16;
    for (uint32_t i = 0; i < n; ++i)
      rows[i] = const_cast<JSAMPROW>(frame + size_t(cinfo.next_scanline + i) * rowBytes);
    jpeg_write_scanlines(&cinfo, rows, n);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return 1;
}

void PngJumpOnError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void PngQuiet(png_structp, png_const_charp) {}

// Appends to avi->encoded, growing it: an incompressible frame is larger than the raw one.
void PngWriteMemory(png_structp png, png_bytep data, size_t n) {
  auto* avi = static_cast<AviFile*>(png_get_io_ptr(png));
  if (n > SIZE_MAX - avi->encodedSize || !ReserveEncoded(avi, avi->encodedSize + n))
    png_error(png, "codec_png_mem_write() failed.\n");
  memcpy(avi->encoded + avi->encodedSize, data, n);
  avi->encodedSize += n;
}

void PngFlushNothing(png_structp) {}

int EncodePng(AviFile* avi, const uint8_t* frame) {
  avi->encodedSize = 0;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngJumpOnError, PngQuiet);
  if (!png) return 0;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return 0;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return 0;
  }
  png_set_write_fn(png, avi, PngWriteMemory, PngFlushNothing);
  uint32_t comps = avi->bitCount / 8;
  png_set_IHDR(png, info, avi->width, avi->height, 8, comps == 1 ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  size_t rowBytes = size_t(avi->width) * comps;
  for (uint32_t y = 0; y < avi->height; ++y) png_write_row(png, frame + size_t(y) * rowBytes);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return 1;
}

// ---------------------------------------------------------------------------------------------
// File layout

int WriteHeaderArea(AviFile* avi) {
  uint8_t h[kFirstChunk];
  memset(h, 0, sizeof h);
  uint32_t p = avi->bitCount == 8 ? 1024 : 0;
  PutId(h + 0, "RIFF");
  PutId(h + 8, "AVI ");
  PutId(h + 12, "LIST");
  avi->hdrlSize = 214 + p;
  Put32(h + 16, avi->hdrlSize);
  PutId(h + 20, "hdrl");
  PutId(h + 24, "avih");
  Put32(h + 28, 56);
  Put32(h + 32, avi->frameIntervalUs);
  uint64_t maxBytes = uint64_t(1000000 / avi->frameIntervalUs) * (avi->bitCount / 8) * avi->height * avi->width;
  Put32(h + 36, uint32_t(maxBytes));
  Put32(h + 44, 16);  // has an index
  Put32(h + 56, 1);
  Put32(h + 64, avi->width);
  Put32(h + 68, avi->height);
  PutId(h + 88, "LIST");
  avi->strlSize = 138 + p;
  Put32(h + 92, avi->strlSize);
  PutId(h + 96, "strl");
  PutId(h + 100, "strh");
  Put32(h + 104, 64);
  PutId(h + 108, "vids");
  // The handler names the frame codec as other writers do: some readers (OpenCV's) refuse
  // MJPG frames under "DIB ".
  PutId(h + 112, avi->codec == AviCodecMjpg ? "MJPG" : avi->codec == AviCodecPng ? "MPNG" : "DIB ");
  // A rate that gives back the interval of "avih" exactly (30000/1001 for 33367 us).
  uint32_t scale = 1, rate = 1;
  MediaRateOfInterval(avi->frameIntervalUs, &scale, &rate);
  Put32(h + 128, scale);
  Put32(h + 132, rate);
  PutId(h + 172, "strf");
  Put32(h + 176, 40 + p);
  Put32(h + 180, 40);
  Put32(h + 184, avi->width);
  Put32(h + 188, avi->height);
  Put16(h + 192, 1);
  Put16(h + 194, avi->bitCount);
  uint32_t compression = avi->codec == AviCodecMjpg ? AviFourCc("MJPG") : avi->codec == AviCodecPng ? AviFourCc("png ") : 0;
  Put32(h + 196, compression);
  uint64_t image = uint64_t(avi->stride) * avi->height + (avi->codec == AviCodecDib ? 0 : 1024);
  Put32(h + 200, uint32_t(image));
  if (p) {
    Put32(h + 212, 256);
    Put32(h + 216, 256);
    for (uint32_t i = 0; i < 256; ++i) {
      h[220 + 4 * i] = avi->palette[i][2];
      h[221 + 4 * i] = avi->palette[i][1];
      h[222 + 4 * i] = avi->palette[i][0];
    }
  }
  PutId(h + 220 + p, "strn");
  Put32(h + 224 + p, 6);
  memcpy(h + 228 + p, "VIDEO", 6);
  avi->junkPosition = 234 + p;
  avi->junkSize = kAviHeaderReserve - avi->junkPosition;
  PutId(h + avi->junkPosition, "JUNK");
  Put32(h + avi->junkPosition + 4, avi->junkSize - 8);
  PutId(h + kMoviStart, "LIST");
  PutId(h + kMoviStart + 8, "movi");
  avi->partStart = 0;
  avi->position = avi->partSize = kFirstChunk;
  return WriteAt(avi, 0, h, sizeof h);
}

// Takes n bytes from the front of the "JUNK" chunk; returns their offset, or 0 when there is
// no room.  The carved place directly follows "strl", which ends "hdrl", so a chunk written
// there belongs to both lists until "strl" stops growing.
uint32_t CarveJunk(AviFile* avi, uint32_t n) {
  if (avi->junkSize < 8 || n > avi->junkSize - 8) return 0;
  uint32_t place = avi->junkPosition;
  uint8_t head[8];
  PutId(head, "JUNK");
  Put32(head + 4, avi->junkSize - n - 8);
  uint8_t zero[8] = {};
  if (!WriteAt(avi, place, zero, 8) || !WriteAt(avi, place + n, head, 8)) return 0;
  avi->junkPosition += n;
  avi->junkSize -= n;
  avi->hdrlSize += n;
  if (!Patch32(avi, kHdrlSizeAt, avi->hdrlSize)) return 0;
  return place;
}

// Ends the current part: its standard index (OpenDML), the legacy index (first part only),
// then the "movi" and "RIFF" sizes.
int FinishPart(AviFile* avi) {
  uint32_t f = avi->partFrames;
  if (avi->odml) {
    std::vector<uint8_t> ix;
    if (!TryResize(ix, 32 + size_t(f) * 8)) return 0;
    PutId(&ix[0], "ix00");
    Put32(&ix[4], 24 + 8 * f);
    Put16(&ix[8], 2);
    ix[10] = 0;
    ix[11] = 1;  // index of chunks
    Put32(&ix[12], f);
    Put32(&ix[16], avi->chunkId);
    Put64(&ix[20], avi->partStart);
    for (uint32_t k = 0; k < f; ++k) {
      Put32(&ix[32 + 8 * size_t(k)], avi->partDataOffsets[k]);
      Put32(&ix[36 + 8 * size_t(k)], avi->partDataSizes[k]);
    }
    if (!WriteAt(avi, avi->position, ix.data(), ix.size())) return 0;
    avi->position += ix.size();
    avi->partSize += ix.size();
  }
  if (avi->firstPart) {
    std::vector<uint8_t> idx;
    if (!TryResize(idx, 8 + size_t(f) * 16)) return 0;
    PutId(&idx[0], "idx1");
    Put32(&idx[4], 16 * f);
    for (uint32_t k = 0; k < f; ++k) {
      uint8_t* e = &idx[8 + 16 * size_t(k)];
      Put32(e, avi->chunkId);
      Put32(e + 4, 16);  // key frame
      // Counted from the "movi" list type; the data size as other readers expect it.
      Put32(e + 8, avi->partDataOffsets[k] - 8 - (kMoviStart + 8));
      Put32(e + 12, avi->partDataSizes[k]);
    }
    if (!WriteAt(avi, avi->position, idx.data(), idx.size())) return 0;
    avi->position += idx.size();
    avi->partSize += idx.size();
    avi->firstPartFrames = f;
    if (!Patch32(avi, kAvihFramesAt, f)) return 0;
  }
  uint64_t movi = avi->partFrameBytes + 4 + (avi->odml ? 32 + 8ull * f : 0);
  if (!Patch32(avi, avi->partStart + kMoviStart + 4, uint32_t(movi))) return 0;
  if (!Patch32(avi, avi->partStart + 4, uint32_t(avi->partSize - 8))) return 0;
  avi->partDataOffsets.clear();
  avi->partDataSizes.clear();
  avi->partFrames = 0;
  avi->partFrameBytes = 0;
  avi->firstPart = 0;
  return 1;
}

int StartAvixPart(AviFile* avi) {
  uint8_t h[kFirstChunk];
  memset(h, 0, sizeof h);
  PutId(h, "RIFF");
  PutId(h + 8, "AVIX");
  PutId(h + 12, "JUNK");
  Put32(h + 16, kAviHeaderReserve - 20);
  PutId(h + kMoviStart, "LIST");
  PutId(h + kMoviStart + 8, "movi");
  if (!WriteAt(avi, avi->position, h, sizeof h)) return 0;
  avi->odml = 2;
  avi->partStart = avi->position;
  avi->position += kFirstChunk;
  avi->partSize = kFirstChunk;
  return 1;
}

// Room the header "JUNK" must keep for a super index of n entries and the "odml" list.
uint64_t HeaderRoomFor(uint64_t superEntries) { return (superEntries + 2) * 16 + 268 + 8; }

int CloseWriter(AviFile* avi) {
  int ok = 1;
  if (avi->odml) {
    if (avi->partFrames &&
        !TryPushBack(avi->superIndex, AviSuperEntry{avi->partStart + kFirstChunk + avi->partFrameBytes,
                                                    32 + 8 * avi->partFrames, avi->partFrames}))
      ok = 0;
    uint32_t n = uint32_t(avi->superIndex.size());
    uint32_t carve = (n + 2) * 16;
    std::vector<uint8_t> indx;
    uint32_t place = ok && TryResize(indx, carve) ? CarveJunk(avi, carve) : 0;
    if (place) {
      PutId(&indx[0], "indx");
      Put32(&indx[4], carve - 8);
      Put16(&indx[8], 4);
      indx[10] = 0;
      indx[11] = 0;  // index of indexes
      Put32(&indx[12], n);
      Put32(&indx[16], avi->chunkId);
      for (uint32_t k = 0; k < n; ++k) {
        Put64(&indx[32 + 16 * size_t(k)], avi->superIndex[k].offset);
        Put32(&indx[40 + 16 * size_t(k)], avi->superIndex[k].size);
        Put32(&indx[44 + 16 * size_t(k)], avi->superIndex[k].duration);
      }
      avi->strlSize += carve;
      if (!WriteAt(avi, place, indx.data(), indx.size()) || !Patch32(avi, kStrlSizeAt, avi->strlSize)) ok = 0;
      uint32_t odmlPlace = ok ? CarveJunk(avi, 268) : 0;
      if (odmlPlace) {
        uint8_t odml[268] = {};
        PutId(odml, "LIST");
        Put32(odml + 4, 260);
        PutId(odml + 8, "odml");
        PutId(odml + 12, "dmlh");
        Put32(odml + 16, 248);
        Put32(odml + 20, avi->totalFrames);
        if (!WriteAt(avi, odmlPlace, odml, sizeof odml)) ok = 0;
      } else {
        ok = 0;
      }
    } else {
      ok = 0;
    }
  }
  if (!Patch32(avi, kStrhLengthAt, avi->totalFrames)) ok = 0;
  if (!FinishPart(avi)) ok = 0;
  if (avi->ioFailed) ok = 0;
  if (fflush(avi->stream) != 0) ok = 0;
  if (fclose(avi->stream) != 0) ok = 0;
  avi->stream = nullptr;
  return ok;
}

void WriterFree(AviFile* avi) {
  if (avi->stream) fclose(avi->stream);
  free(avi->encoded);
  delete avi;
}

}  // namespace

AviFile* AviWriterOpen(const char* path, uint32_t width, uint32_t height, uint32_t bitCount,
                       uint32_t frameIntervalUs, uint32_t codec, uint32_t quality) {
  if (!path || !path[0] || (bitCount != 8 && bitCount != 24) || frameIntervalUs == 0 || codec > 2) return nullptr;
  if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide || uint64_t(width) * height > kMaxPixels)
    return nullptr;
  AviFile* avi = new (std::nothrow) AviFile;
  if (!avi) return nullptr;
  avi->writing = 1;
  avi->width = width;
  avi->height = height;
  avi->bitCount = bitCount;
  avi->frameIntervalUs = frameIntervalUs;
  avi->codec = AviFrameCodec(codec);
  avi->quality = quality == 0 ? 75 : quality > 100 ? 100 : int(quality);
  avi->stride = ((width * bitCount / 8) + 3) & ~3u;
  avi->grayPalette = bitCount == 8;
  for (int i = 0; i < 256; ++i) avi->palette[i][0] = avi->palette[i][1] = avi->palette[i][2] = uint8_t(i);
  avi->chunkId = codec == AviCodecDib ? AviFourCc("00db") : AviFourCc("00dc");
  avi->stream = fopen(path, "wb");
  if (!avi->stream || !WriteHeaderArea(avi)) {
    WriterFree(avi);
    return nullptr;
  }
  return avi;
}

void AviWriterSetPartLimit(AviFile* avi, uint64_t limit) {
  if (avi && avi->writing && limit >= 2 * uint64_t(kFirstChunk)) avi->partLimit = limit;
}

int AviWriteFrame(AviFile* avi, const uint8_t* frame) {
  if (!avi || !avi->writing || !avi->stream || !frame || avi->ioFailed) return 0;
  if (avi->bitCount != 8 && avi->bitCount != 24) return 0;
  if (avi->totalFrames > 4294967294u) return 0;
  int encoded = avi->codec == AviCodecDib ? EncodeDib(avi, frame)
                : avi->codec == AviCodecMjpg ? EncodeMjpeg(avi, frame)
                                             : EncodePng(avi, frame);
  if (!encoded) return 0;
  uint64_t d = avi->encodedSize;
  if (d > 0xFFFFFFFFull - 1) return 0;
  uint64_t f = avi->partFrames;
  uint64_t projected = avi->partSize + 8 + d + (d & 1);
  int endPart = 0;
  if (!avi->odml) {
    // Room for both indexes of the first part is kept inside it.
    if (projected + 24 * f + 64 > avi->partLimit - 1) endPart = 1;
  } else if (projected + 8 * (f + 5) >= avi->partLimit) {
    endPart = 1;
  }
  if (endPart) {
    // The super index gains this part and the next one, which this frame starts.
    if (f == 0 || avi->junkSize < HeaderRoomFor(avi->superIndex.size() + 2)) return 0;
    if (!TryPushBack(avi->superIndex,
                     AviSuperEntry{avi->partStart + kFirstChunk + avi->partFrameBytes, uint32_t(32 + 8 * f), uint32_t(f)}))
      return 0;
    avi->odml = 2;
    if (!FinishPart(avi) || !StartAvixPart(avi)) return 0;
  }
  uint8_t head[8];
  Put32(head, avi->chunkId);
  Put32(head + 4, uint32_t(d));
  static const uint8_t kPad[1] = {0};
  if (!WriteAt(avi, avi->position, head, 8) || fwrite(avi->encoded, 1, d, avi->stream) != d ||
      ((d & 1) && fwrite(kPad, 1, 1, avi->stream) != 1)) {
    avi->ioFailed = 1;
    clearerr(avi->stream);
    return 0;
  }
  // Until both lists hold the frame, `position` stays put: the next frame or the closing
  // index writes over its bytes, and what may stick out lies past the RIFF sizes.
  if (!TryPushBack(avi->partDataOffsets, uint32_t(avi->position + 8 - avi->partStart))) return 0;
  if (!TryPushBack(avi->partDataSizes, uint32_t(d))) {
    avi->partDataOffsets.pop_back();
    return 0;
  }
  uint64_t bytes = 8 + d + (d & 1);
  avi->partFrameBytes += bytes;
  avi->position += bytes;
  avi->partSize += bytes;
  avi->partFrames++;
  avi->totalFrames++;
  return 1;
}

// ---------------------------------------------------------------------------------------------
// Entry points of the media handle

int AviOpenWrite(MediaFile* file, const char* ansiPath) {
  if (!file || !ansiPath) return 0;
  const MediaInfo& info = file->info;
  if ((info.bytesPerPixel != 1 && info.bytesPerPixel != 3) || info.width > 0xFFFFFFFFull ||
      info.height > 0xFFFFFFFFull || info.frameIntervalUs == 0 || info.frameIntervalUs > 0xFFFFFFFFull)
    return 0;
  AviFile* avi = AviWriterOpen(ansiPath, uint32_t(info.width), uint32_t(info.height), uint32_t(info.bytesPerPixel * 8),
                               uint32_t(info.frameIntervalUs), file->options.aviCodec, file->options.jpegQuality);
  if (!avi) return 0;
  file->aviWriter = avi;
  return 1;
}

int AviWriteFrames(MediaFile* file, uint64_t plane, uint64_t count, const void* buffer) {
  if (!file || !file->aviWriter || plane != 0 || !buffer) return 0;
  AviFile* avi = file->aviWriter;
  if (file->info.bytesPerPixel * 8 != avi->bitCount || file->info.width != avi->width || file->info.height != avi->height)
    return 0;
  uint64_t frameBytes = uint64_t(avi->width) * avi->height * (avi->bitCount / 8);
  const uint8_t* p = static_cast<const uint8_t*>(buffer);
  for (uint64_t i = 0; i < count; ++i)
    if (!AviWriteFrame(avi, p + i * frameBytes)) return 0;
  return 1;
}

// Closes a reader or finishes a writer; 0 when any write, seek or close of the file failed.
int AviWriterClose(AviFile* avi) {
  if (!avi) return 1;
  if (!avi->writing) {
    AviReaderFree(avi);
    return 1;
  }
  int ok = avi->stream ? CloseWriter(avi) : 0;
  WriterFree(avi);
  return ok;
}

// avi_read.cpp - AVI reader: RIFF chunk tree, stream headers, frame index (idx1, OpenDML
// indx/ix00, or a scan of the movi list), and frames stored as DIB rows, MJPG or PNG images.
// The source is a file or a memory block; every read is bounded by the source's size, so a
// size or offset taken from the file can never lead a read or an allocation past it.
// Inside: source reads - chunk tree - frame codecs - headers - index - frames - entry points
#include "media/avi.h"

#include "media/alloc_util.h"

#include "core/parallel.h"

#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <new>
#include <unistd.h>

#include <jerror.h>
#include <jpeglib.h>
#include <png.h>

namespace {

// Width and height are capped so that a frame of 3 bytes per pixel stays far inside what can
// be allocated, and within what libjpeg decodes (65500).
constexpr uint32_t kMaxSide = 32768;
constexpr uint64_t kMaxPixels = uint64_t(1) << 28;

uint32_t Le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint64_t Le64(const uint8_t* p) { return uint64_t(Le32(p)) | uint64_t(Le32(p + 4)) << 32; }

// ---------------------------------------------------------------------------------------------
// Source reads

int SourceRead(const RiffFile& rf, uint64_t offset, void* dst, uint64_t n) {
  if (offset > rf.fileSize || n > rf.fileSize - offset) return 0;
  if (n == 0) return 1;
  if (rf.memory) {
    memcpy(dst, rf.memory + offset, n);
    return 1;
  }
  // pread keeps no stream position, so frames may be read in any order without a seek.
  int fd = fileno(rf.stream);
  uint8_t* out = static_cast<uint8_t*>(dst);
  while (n > 0) {
    ssize_t got = pread(fd, out, n > (1u << 30) ? (1u << 30) : size_t(n), off_t(offset));
    if (got <= 0) return 0;
    out += got;
    offset += uint64_t(got);
    n -= uint64_t(got);
  }
  return 1;
}

// Bytes of a chunk's data (after the list type for a list).
uint64_t ChunkDataSize(const RiffChunk& c) { return c.listType ? uint64_t(c.size) - 4 : c.size; }
uint64_t ChunkDataStart(const RiffChunk& c) { return c.position + (c.listType ? 12 : 8); }

// Reads n bytes at `offset` of a chunk's data; refused when they are not all inside the chunk.
int ReadChunkData(const RiffFile& rf, const RiffChunk& c, uint64_t offset, void* dst, uint64_t n) {
  uint64_t size = ChunkDataSize(c);
  if (offset > size || n > size - offset) return 0;
  return SourceRead(rf, ChunkDataStart(c) + offset, dst, n);
}

// ---------------------------------------------------------------------------------------------
// Chunk tree

// Builds the tree without recursion: an explicit stack of the open lists.  A list must end
// exactly where its size says (a pad byte of an odd last child may reach one past an odd end);
// a list holding nothing, a "RIFF" inside a list or a chunk running past its list fails.
int RiffParse(RiffFile& rf) {
  struct OpenList {
    int32_t index;
    uint64_t end;
    uint32_t children;
  };
  std::vector<OpenList> open;
  uint64_t pos = 0;
  for (;;) {
    if (!open.empty()) {
      OpenList& top = open.back();
      uint64_t end = top.end;
      if (pos == end || pos == end + (end & 1)) {
        if (top.children == 0) return 0;
        open.pop_back();
        pos = end + (end & 1);
        continue;
      }
      if (pos > end) return 0;
    }
    uint8_t head[12];
    if (!SourceRead(rf, pos, head, 4)) {
      if (open.empty()) return 1;
      return 0;
    }
    uint32_t id = Le32(head);
    if (open.empty() && id != AviFourCc("RIFF")) return 1;  // trailing bytes are ignored
    if (!open.empty() && id == AviFourCc("RIFF")) return 0;
    if (!SourceRead(rf, pos + 4, head + 4, 4)) return 0;
    RiffChunk c{};
    c.id = id;
    c.size = Le32(head + 4);
    c.position = pos;
    c.parent = open.empty() ? -1 : open.back().index;
    if (!open.empty()) open.back().children++;
    uint64_t end = pos + 8 + uint64_t(c.size);
    if (id == AviFourCc("RIFF") || id == AviFourCc("LIST")) {
      if (c.size < 4) return 0;
      if (!SourceRead(rf, pos + 8, head + 8, 4)) return 0;
      c.listType = Le32(head + 8);
      if (c.listType == 0) c.listType = 0xFFFFFFFFu;  // keep "is a list" distinct from 0
      if (!TryPushBack(rf.chunks, c) || !TryPushBack(open, OpenList{int32_t(rf.chunks.size() - 1), end, 0}))
        return 0;
      pos += 12;
      continue;
    }
    if (!TryPushBack(rf.chunks, c)) return 0;
    pos = end + (end & 1);
  }
}

// First chunk at or after `from` in pre-order with this id (and list type when nonzero).
int32_t RiffFind(const RiffFile& rf, int32_t from, uint32_t id, uint32_t listType) {
  for (size_t i = size_t(from < 0 ? 0 : from); i < rf.chunks.size(); ++i)
    if (rf.chunks[i].id == id && (listType == 0 || rf.chunks[i].listType == listType)) return int32_t(i);
  return -1;
}

// ---------------------------------------------------------------------------------------------
// Frame codecs (libjpeg and libpng report errors by longjmp: each boundary function keeps only
// plain data in its frame and returns 0 when the library jumps back)

struct JpegErrorManager {
  jpeg_error_mgr pub;
  jmp_buf jump;
};

void JpegJumpOnError(j_common_ptr cinfo) { longjmp(reinterpret_cast<JpegErrorManager*>(cinfo->err)->jump, 1); }
void JpegQuiet(j_common_ptr) {}

struct PngMemoryReader {
  const uint8_t* data;
  size_t size;
  size_t pos;
};

void PngReadMemory(png_structp png, png_bytep dst, size_t n) {
  auto* r = static_cast<PngMemoryReader*>(png_get_io_ptr(png));
  if (r->pos >= r->size || n > r->size - r->pos) {
    if (r->pos < r->size) memcpy(dst, r->data + r->pos, r->size - r->pos);
    r->pos = r->size;
    png_error(png, "codec_png_mem_read() failed.\n");
  }
  memcpy(dst, r->data + r->pos, n);
  r->pos += n;
}

void PngJumpOnError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void PngQuiet(png_structp, png_const_charp) {}

// Components of an 8-bit PNG of this colour type once alpha is dropped and a palette expanded.
uint32_t PngComponents(int colorType) {
  switch (colorType) {
    case PNG_COLOR_TYPE_GRAY:
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 1;
    case PNG_COLOR_TYPE_RGB:
    case PNG_COLOR_TYPE_RGB_ALPHA:
    case PNG_COLOR_TYPE_PALETTE: return 3;
    default: return 0;
  }
}

}  // namespace

int AviProbeMjpeg(const uint8_t* data, size_t size, uint32_t* outComponents) {
  jpeg_decompress_struct cinfo;
  JpegErrorManager err;
  memset(&cinfo, 0, sizeof cinfo);
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = JpegJumpOnError;
  err.pub.output_message = JpegQuiet;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    return 0;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
  int ok = 0;
  if (jpeg_read_header(&cinfo, TRUE) == JPEG_HEADER_OK) {
    // Output dimensions without starting: a progressive image would be decoded whole by start.
    jpeg_calc_output_dimensions(&cinfo);
    if (cinfo.out_color_space == JCS_GRAYSCALE && cinfo.out_color_components == 1) {
      *outComponents = 1;
      ok = 1;
    } else if (cinfo.out_color_space == JCS_RGB && cinfo.out_color_components == 3) {
      *outComponents = 3;
      ok = 1;
    }
  }
  jpeg_destroy_decompress(&cinfo);
  return ok;
}

int AviDecodeMjpeg(const uint8_t* data, size_t size, uint32_t width, uint32_t height, uint32_t components,
                   uint8_t* out) {
  jpeg_decompress_struct cinfo;
  JpegErrorManager err;
  memset(&cinfo, 0, sizeof cinfo);
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = JpegJumpOnError;
  err.pub.output_message = JpegQuiet;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    return 0;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
  if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) {
    jpeg_destroy_decompress(&cinfo);
    return 0;
  }
  J_COLOR_SPACE want = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  if (cinfo.out_color_space != want || cinfo.image_width != width || cinfo.image_height != height) {
    jpeg_destroy_decompress(&cinfo);
    return 0;
  }
  jpeg_start_decompress(&cinfo);
  if (cinfo.output_width != width || cinfo.output_height != height ||
      uint32_t(cinfo.output_components) != components) {
    jpeg_destroy_decompress(&cinfo);
    return 0;
  }
  size_t rowBytes = size_t(width) * components;
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW rows[16];
    uint32_t n = cinfo.output_height - cinfo.output_scanline;
    if (n > 16) n = 16;
    for (uint32_t i = 0; i < n; ++i) rows[i] = out + size_t(cinfo.output_scanline + i) * rowBytes;
    if (jpeg_read_scanlines(&cinfo, rows, n) == 0) {
      jpeg_destroy_decompress(&cinfo);
      return 0;
    }
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return 1;
}

int AviProbePng(const uint8_t* data, size_t size, uint32_t* outComponents) {
  if (size < 8 || png_sig_cmp(data, 0, 8) != 0) return 0;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngJumpOnError, PngQuiet);
  if (!png) return 0;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return 0;
  }
  PngMemoryReader reader{data, size, 8};
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return 0;
  }
  png_set_read_fn(png, &reader, PngReadMemory);
  png_set_sig_bytes(png, 8);
  png_read_info(png, info);
  int depth = png_get_bit_depth(png, info);
  uint32_t comps = PngComponents(png_get_color_type(png, info));
  png_destroy_read_struct(&png, &info, nullptr);
  if (depth != 8 || comps == 0) return 0;
  *outComponents = comps;
  return 1;
}

// A frame is taken only when its own size and depth are the stream's (8-bit samples); alpha
// is dropped and a palette expanded, so the rows land straight in `out`.
int AviDecodePng(const uint8_t* data, size_t size, uint32_t width, uint32_t height, uint32_t components,
                 uint8_t* out) {
  if (size < 8 || png_sig_cmp(data, 0, 8) != 0) return 0;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngJumpOnError, PngQuiet);
  if (!png) return 0;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return 0;
  }
  PngMemoryReader reader{data, size, 8};
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return 0;
  }
  png_set_read_fn(png, &reader, PngReadMemory);
  png_set_sig_bytes(png, 8);
  png_set_user_limits(png, width, height);
  png_read_info(png, info);
  int colorType = png_get_color_type(png, info);
  if (png_get_image_width(png, info) != width || png_get_image_height(png, info) != height ||
      png_get_bit_depth(png, info) != 8 || PngComponents(colorType) != components) {
    png_destroy_read_struct(&png, &info, nullptr);
    return 0;
  }
  if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  png_set_strip_alpha(png);
  int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  size_t rowBytes = size_t(width) * components;
  if (png_get_rowbytes(png, info) != rowBytes) {
    png_destroy_read_struct(&png, &info, nullptr);
    return 0;
  }
  for (int pass = 0; pass < passes; ++pass)
    for (uint32_t y = 0; y < height; ++y) png_read_row(png, out + size_t(y) * rowBytes, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return 1;
}

namespace {

// ---------------------------------------------------------------------------------------------
// Headers

int PaletteIsIdentity(const AviFile* avi) {
  for (int i = 0; i < 256; ++i)
    if (avi->palette[i][0] != i) return 0;
  return 1;
}

void SetGrayRamp(AviFile* avi) {
  for (int i = 0; i < 256; ++i) avi->palette[i][0] = avi->palette[i][1] = avi->palette[i][2] = uint8_t(i);
}

// Reads the video stream's "strh" and "strf": size, depth, codec, palette, frame interval.
int ReadStreamHeaders(AviFile* avi, int* outPaletteGiven) {
  const RiffFile& rf = avi->riff;
  int32_t strh = -1;
  for (int32_t i = RiffFind(rf, 0, AviFourCc("strh"), 0); i >= 0; i = RiffFind(rf, i + 1, AviFourCc("strh"), 0)) {
    uint8_t type[4];
    if (ReadChunkData(rf, rf.chunks[size_t(i)], 0, type, 4) && Le32(type) == AviFourCc("vids")) {
      strh = i;
      break;
    }
  }
  if (strh < 0) return 0;
  // The stream's number names its frame chunks: "00dc" for the first stream, "01dc" next.
  int32_t strl = rf.chunks[size_t(strh)].parent;
  uint32_t streamNumber = 0;
  if (strl >= 0) {
    for (int32_t i = 0; i < strl; ++i)
      if (rf.chunks[size_t(i)].parent == rf.chunks[size_t(strl)].parent &&
          rf.chunks[size_t(i)].listType == AviFourCc("strl"))
        streamNumber++;
  }
  if (streamNumber > 99) return 0;
  uint32_t digits = uint32_t('0' + streamNumber / 10) | uint32_t('0' + streamNumber % 10) << 8;
  avi->streamIdDb = digits | uint32_t('d') << 16 | uint32_t('b') << 24;
  avi->streamIdDc = digits | uint32_t('d') << 16 | uint32_t('c') << 24;

  uint8_t rate[8];
  if (!ReadChunkData(rf, rf.chunks[size_t(strh)], 20, rate, 8)) return 0;
  uint64_t scale = Le32(rate), perSecond = Le32(rate + 4);
  // A rate or scale of 0 gives no interval at all.
  if (scale == 0 || perSecond == 0) return 0;
  // The exact ratio to the nearest microsecond: 30000/1001 is 33367 us, 24000/1001 41708.
  uint64_t interval = MediaIntervalOfRate(scale, perSecond);
  if (interval == 0) interval = 1;
  if (interval > 0xFFFFFFFFull) return 0;
  avi->frameIntervalUs = uint32_t(interval);

  // The stream format is the "strf" of the same "strl" list.
  int32_t strf = -1;
  for (int32_t i = strh + 1; i < int32_t(rf.chunks.size()); ++i) {
    if (rf.chunks[size_t(i)].parent != rf.chunks[size_t(strh)].parent) continue;
    if (rf.chunks[size_t(i)].id == AviFourCc("strf")) {
      strf = i;
      break;
    }
  }
  if (strf < 0) return 0;
  const RiffChunk& fmt = rf.chunks[size_t(strf)];
  uint8_t bih[40];
  if (fmt.size < 40 || !ReadChunkData(rf, fmt, 0, bih, 40)) return 0;
  int32_t width = int32_t(Le32(bih + 4)), height = int32_t(Le32(bih + 8));
  uint32_t bitCount = Le16(bih + 14), compression = Le32(bih + 16);
  if (width < 1 || height == 0 || height == INT32_MIN) return 0;
  // A negative height marks rows stored top row first.
  avi->topDown = height < 0;
  if (height < 0) height = -height;
  if (uint32_t(width) > kMaxSide || uint32_t(height) > kMaxSide ||
      uint64_t(width) * uint64_t(height) > kMaxPixels)
    return 0;
  avi->width = uint32_t(width);
  avi->height = uint32_t(height);

  if (compression == 0) {
    avi->codec = AviCodecDib;
  } else if (compression == AviFourCc("Y800") || compression == AviFourCc("Y8  ") || compression == AviFourCc("GREY")) {
    // Plain 8-bit gray rows, top row first and not padded.
    avi->codec = AviCodecDib;
    avi->topDown = 1;
    bitCount = 8;
  } else if (compression == 4 || compression == AviFourCc("MJPG")) {
    avi->codec = AviCodecMjpg;
  } else if (compression == 5 || compression == AviFourCc("png ") || compression == AviFourCc("MPNG")) {
    avi->codec = AviCodecPng;
  } else {
    return 0;
  }
  if (avi->codec == AviCodecDib && bitCount != 8 && bitCount != 24) return 0;
  // Compressed frames decide their own depth when the first one is probed.
  avi->bitCount = bitCount == 8 ? 8 : 24;
  if (compression != 0 && avi->codec == AviCodecDib)
    avi->stride = avi->width;
  else
    avi->stride = ((avi->width * avi->bitCount + 7) / 8 + 3) & ~3u;

  *outPaletteGiven = 0;
  SetGrayRamp(avi);
  if (bitCount == 8 && compression != AviFourCc("Y800") && compression != AviFourCc("Y8  ") &&
      compression != AviFourCc("GREY") && fmt.size > 40) {
    uint32_t colours = Le32(bih + 32);
    if (colours == 0 || colours > 256) colours = 256;  // a table of 256 entries holds no more
    uint8_t table[1024];
    if (uint64_t(fmt.size) < 40 + 4ull * colours || !ReadChunkData(rf, fmt, 40, table, 4ull * colours)) return 0;
    memset(avi->palette, 0, sizeof avi->palette);
    int gray = 1;
    for (uint32_t i = 0; i < colours; ++i) {
      avi->palette[i][0] = table[4 * i + 2];
      avi->palette[i][1] = table[4 * i + 1];
      avi->palette[i][2] = table[4 * i];
      if (table[4 * i] != table[4 * i + 1] || table[4 * i] != table[4 * i + 2]) gray = 0;
    }
    avi->grayPalette = gray;
    *outPaletteGiven = 1;
  } else if (avi->bitCount == 8) {
    avi->grayPalette = 1;  // no palette given: the identity gray ramp
  }
  return 1;
}

// 0 only when memory for the "idx1" table ran out; a file without a count gives *out = 0.
int ReadFrameCount(const AviFile* avi, uint32_t* out) {
  *out = 0;
  const RiffFile& rf = avi->riff;
  uint8_t b[4];
  int32_t dmlh = RiffFind(rf, 0, AviFourCc("dmlh"), 0);
  if (dmlh >= 0 && rf.chunks[size_t(dmlh)].size >= 4 && ReadChunkData(rf, rf.chunks[size_t(dmlh)], 0, b, 4) && Le32(b)) {
    *out = Le32(b);
    return 1;
  }
  int32_t avih = RiffFind(rf, 0, AviFourCc("avih"), 0);
  if (avih >= 0 && ReadChunkData(rf, rf.chunks[size_t(avih)], 16, b, 4) && Le32(b)) {
    *out = Le32(b);
    return 1;
  }
  int32_t idx1 = RiffFind(rf, 0, AviFourCc("idx1"), 0);
  if (idx1 < 0 || rf.chunks[size_t(idx1)].size < 16) return 1;
  const RiffChunk& c = rf.chunks[size_t(idx1)];
  std::vector<uint8_t> data;
  uint64_t n = c.size / 16;
  if (c.size > rf.fileSize) return 1;
  if (!TryResize(data, size_t(n * 16))) return 0;
  if (!ReadChunkData(rf, c, 0, data.data(), n * 16)) return 1;
  uint32_t count = 0;
  for (uint64_t i = 0; i < n; ++i) {
    uint32_t id = Le32(&data[size_t(i * 16)]);
    if (id == avi->streamIdDb || id == avi->streamIdDc) count++;
  }
  *out = count;
  return 1;
}

// ---------------------------------------------------------------------------------------------
// Index

int BuildOpenDmlIndex(AviFile* avi) {
  const RiffFile& rf = avi->riff;
  int32_t indx = -1;
  for (int32_t i = RiffFind(rf, 0, AviFourCc("indx"), 0); i >= 0; i = RiffFind(rf, i + 1, AviFourCc("indx"), 0)) {
    uint8_t id[4];
    if (ReadChunkData(rf, rf.chunks[size_t(i)], 8, id, 4) && (Le32(id) == avi->streamIdDb || Le32(id) == avi->streamIdDc)) {
      indx = i;
      break;
    }
  }
  if (indx < 0) return 0;
  const RiffChunk& sup = rf.chunks[size_t(indx)];
  uint8_t head[24];
  if (!ReadChunkData(rf, sup, 0, head, 24)) return 0;
  uint32_t entries = Le32(head + 4);
  if (entries == 0 || entries > (ChunkDataSize(sup) - 24) / 16 || 16ull * entries > rf.fileSize) return 0;
  std::vector<uint8_t> table;
  if (!TryResize(table, size_t(entries) * 16)) return 0;
  if (!ReadChunkData(rf, sup, 24, table.data(), table.size())) return 0;
  uint32_t frame = 0;
  std::vector<uint8_t> list;
  for (uint32_t e = 0; e < entries && frame < avi->frameCount; ++e) {
    uint64_t offset = Le64(&table[size_t(e) * 16]);
    uint32_t entrySize = Le32(&table[size_t(e) * 16 + 8]);
    uint8_t ix[32];
    if (!SourceRead(rf, offset, ix, 32)) return 0;
    uint32_t size = Le32(ix + 4), used = Le32(ix + 12), chunkId = Le32(ix + 16);
    if (ix[0] != 'i' || ix[1] != 'x' || size > entrySize || used == 0 || uint64_t(size) < 24 + 8ull * used) return 0;
    if (chunkId != avi->streamIdDb && chunkId != avi->streamIdDc) return 0;
    if (8ull * used > rf.fileSize) return 0;  // sizes come from the file: bound them before allocating
    uint64_t base = Le64(ix + 20);
    if (!TryResize(list, size_t(used) * 8)) return 0;
    if (!SourceRead(rf, offset + 32, list.data(), list.size())) return 0;
    for (uint32_t k = 0; k < used && frame < avi->frameCount; ++k, ++frame) {
      // The top bit of a standard-index size marks a frame that is not a key frame.
      avi->index[frame].offset = base + Le32(&list[size_t(k) * 8]);
      avi->index[frame].size = Le32(&list[size_t(k) * 8 + 4]) & 0x7FFFFFFFu;
    }
  }
  return 1;
}

int LooksLikeChunkId(const uint8_t* b) {
  if (b[0] == 'i' && b[1] == 'x') return 1;
  uint16_t tail = uint16_t(b[2] | b[3] << 8);
  return tail == ('d' | 'b' << 8) || tail == ('d' | 'c' << 8) || tail == ('w' | 'b' << 8) || tail == ('t' | 'x' << 8);
}

// Fills the index from "idx1"; 1 when it gave frame 0 a nonzero size.
int BuildLegacyIndex(AviFile* avi) {
  const RiffFile& rf = avi->riff;
  int32_t idx1 = RiffFind(rf, 0, AviFourCc("idx1"), 0);
  if (idx1 < 0) return 0;
  const RiffChunk& c = rf.chunks[size_t(idx1)];
  uint64_t n = c.size / 16;
  if (n == 0 || c.size > rf.fileSize) return 0;
  std::vector<uint8_t> data;
  if (!TryResize(data, size_t(n * 16))) return 0;
  if (!ReadChunkData(rf, c, 0, data.data(), data.size())) return 0;
  // Offsets count from the file start in some files, from the "movi" list type in others:
  // the first entry must point at something that looks like a chunk id.
  uint64_t firstOffset = Le32(&data[8]);
  uint8_t probe[4];
  uint64_t base = 0;
  if (!(SourceRead(rf, firstOffset, probe, 4) && LooksLikeChunkId(probe))) {
    int32_t movi = RiffFind(rf, 0, AviFourCc("LIST"), AviFourCc("movi"));
    if (movi < 0) return 0;
    base = rf.chunks[size_t(movi)].position + 8;
    if (!(SourceRead(rf, base + firstOffset, probe, 4) && LooksLikeChunkId(probe))) return 0;
  }
  uint32_t frame = 0;
  for (uint64_t i = 0; i < n && frame < avi->frameCount; ++i) {
    const uint8_t* e = &data[size_t(i * 16)];
    uint32_t id = Le32(e);
    if (id != avi->streamIdDb && id != avi->streamIdDc) continue;
    avi->index[frame].offset = base + Le32(e + 8) + 8;
    avi->index[frame].size = Le32(e + 12);
    frame++;
  }
  if (avi->index[0].size == 0) {
    std::fill(avi->index.begin(), avi->index.end(), AviIndexEntry{0, 0});
    return 0;
  }
  return 1;
}

int ScanMovi(AviFile* avi) {
  const RiffFile& rf = avi->riff;
  uint32_t id = avi->streamIdDb;
  int32_t first = RiffFind(rf, 0, id, 0);
  if (first < 0 || rf.chunks[size_t(first)].size == 0) {
    id = avi->streamIdDc;
    first = RiffFind(rf, 0, id, 0);
    if (first < 0) return 0;
  }
  uint32_t frame = 0;
  for (int32_t i = first; i >= 0 && frame < avi->frameCount; i = RiffFind(rf, i + 1, id, 0), ++frame) {
    avi->index[frame].offset = rf.chunks[size_t(i)].position + 8;
    avi->index[frame].size = rf.chunks[size_t(i)].size;
  }
  return 1;
}

int BuildIndex(AviFile* avi) {
  if (avi->frameCount == 0) return 1;
  if (!TryAssign(avi->index, avi->frameCount, AviIndexEntry{0, 0})) return 0;
  if (RiffFind(avi->riff, 0, AviFourCc("RIFF"), AviFourCc("AVIX")) >= 0) return BuildOpenDmlIndex(avi);
  if (BuildLegacyIndex(avi)) return 1;
  return ScanMovi(avi);
}

// ---------------------------------------------------------------------------------------------
// Frames

// The stored bytes of one frame, in avi->scratch.  Index sizes come in two conventions (the
// data size, or the data size plus the 8-byte header), so the size is taken from the chunk
// header at the indexed place and must agree with the index in one of them.
int LoadFrame(AviFile* avi, uint32_t frame, uint32_t* outSize) {
  if (frame >= avi->frameCount || frame >= avi->index.size()) return 0;
  const AviIndexEntry& e = avi->index[frame];
  if (e.size == 0 || e.offset < 8) return 0;
  uint8_t head[8];
  if (!SourceRead(avi->riff, e.offset - 8, head, 8)) return 0;
  uint32_t id = Le32(head), size = Le32(head + 4);
  if (id != avi->streamIdDb && id != avi->streamIdDc) return 0;
  if (size != e.size && uint64_t(size) + 8 != e.size) return 0;
  if (size > avi->riff.fileSize) return 0;
  if (avi->scratch.size() < size && !TryResize(avi->scratch, size)) return 0;
  if (!SourceRead(avi->riff, e.offset, avi->scratch.data(), size)) return 0;
  *outSize = size;
  return 1;
}

struct DibRowJob {
  const uint8_t* src;
  uint8_t* dst;
  uint32_t width, height, stride;
  int topDown;
};

void DibRows8(void* ctx, uint64_t first, uint64_t count) {
  auto* j = static_cast<DibRowJob*>(ctx);
  for (uint64_t y = first; y < first + count; ++y) {
    uint64_t stored = j->topDown ? y : j->height - 1 - y;
    memcpy(j->dst + y * j->width, j->src + stored * j->stride, j->width);
  }
}

// Stored B,G,R to R,G,B.
void DibRows24(void* ctx, uint64_t first, uint64_t count) {
  auto* j = static_cast<DibRowJob*>(ctx);
  for (uint64_t y = first; y < first + count; ++y) {
    uint64_t stored = j->topDown ? y : j->height - 1 - y;
    const uint8_t* s = j->src + stored * j->stride;
    uint8_t* d = j->dst + y * uint64_t(j->width) * 3;
    for (uint32_t x = 0; x < j->width; ++x, s += 3, d += 3) {
      d[0] = s[2];
      d[1] = s[1];
      d[2] = s[0];
    }
  }
}

void RunRows(ParallelForFn fn, void* ctx, uint32_t width, uint32_t height) {
  if (uint64_t(width) * height >= uint64_t(ParallelPixelThreshold))
    ParallelFor(fn, ctx, height);
  else
    fn(ctx, 0, height);
}

struct PaletteJob {
  const uint8_t* src;
  uint8_t* dst;
  const uint8_t (*palette)[3];
  uint32_t width;
};

void PaletteRowsGray(void* ctx, uint64_t first, uint64_t count) {
  auto* j = static_cast<PaletteJob*>(ctx);
  for (uint64_t y = first; y < first + count; ++y) {
    const uint8_t* s = j->src + y * j->width;
    uint8_t* d = j->dst + y * j->width;
    for (uint32_t x = 0; x < j->width; ++x) d[x] = j->palette[s[x]][0];
  }
}

void PaletteRowsRgb(void* ctx, uint64_t first, uint64_t count) {
  auto* j = static_cast<PaletteJob*>(ctx);
  for (uint64_t y = first; y < first + count; ++y) {
    const uint8_t* s = j->src + y * j->width;
    uint8_t* d = j->dst + y * uint64_t(j->width) * 3;
    for (uint32_t x = 0; x < j->width; ++x, d += 3) memcpy(d, j->palette[s[x]], 3);
  }
}

int ProbeFirstFrame(AviFile* avi) {
  if (avi->codec == AviCodecDib) return 1;
  uint32_t size = 0, comps = 0;
  if (!LoadFrame(avi, 0, &size)) return 0;
  if (avi->codec == AviCodecMjpg) {
    if (!AviProbeMjpeg(avi->scratch.data(), size, &comps)) return 0;
  } else {
    if (!AviProbePng(avi->scratch.data(), size, &comps)) return 0;
    avi->grayPalette = comps == 1;
  }
  avi->bitCount = comps == 1 ? 8 : 24;
  return 1;
}

void ReaderFree(AviFile* avi) {
  if (avi->riff.stream) fclose(avi->riff.stream);
  delete avi;
}

AviFile* FinishOpen(AviFile* avi) {
  int paletteGiven = 0;
  if (!RiffParse(avi->riff) || avi->riff.chunks.empty() || !ReadStreamHeaders(avi, &paletteGiven)) {
    ReaderFree(avi);
    return nullptr;
  }
  if (!ReadFrameCount(avi, &avi->frameCount)) {
    ReaderFree(avi);
    return nullptr;
  }
  // Every frame needs a chunk header of its own: a larger count is not in this file.
  if (avi->frameCount > avi->riff.fileSize / 8) avi->frameCount = uint32_t(avi->riff.fileSize / 8);
  if (!BuildIndex(avi) || !ProbeFirstFrame(avi)) {
    ReaderFree(avi);
    return nullptr;
  }
  // Gray MJPG or PNG frames under a header without a palette use the identity ramp.
  if (avi->bitCount == 8 && !paletteGiven) {
    SetGrayRamp(avi);
    avi->grayPalette = 1;
  }
  return avi;
}

}  // namespace

uint32_t AviOutputBytesPerPixel(const AviFile* avi) { return avi->bitCount == 8 && avi->grayPalette ? 1 : 3; }

int AviReadFrame(AviFile* avi, uint32_t frame, uint8_t* buffer) {
  if (!avi || avi->writing || !buffer) return 0;
  uint32_t size = 0;
  if (!LoadFrame(avi, frame, &size)) return 0;
  const uint8_t* data = avi->scratch.data();
  uint32_t comps = avi->bitCount / 8;
  switch (avi->codec) {
    case AviCodecDib: {
      if (uint64_t(size) < uint64_t(avi->stride) * avi->height) return 0;
      DibRowJob job{data, buffer, avi->width, avi->height, avi->stride, avi->topDown};
      RunRows(avi->bitCount == 8 ? DibRows8 : DibRows24, &job, avi->width, avi->height);
      return 1;
    }
    case AviCodecMjpg: return AviDecodeMjpeg(data, size, avi->width, avi->height, comps, buffer);
    case AviCodecPng: return AviDecodePng(data, size, avi->width, avi->height, comps, buffer);
  }
  return 0;
}

int AviReadFramesDirect(AviFile* avi, uint64_t first, uint64_t count, uint8_t* buffer) {
  if (!avi || avi->writing || !buffer) return 0;
  if (first > avi->frameCount || count > avi->frameCount - first) return 0;
  uint64_t pixels = uint64_t(avi->width) * avi->height;
  uint32_t bpp = AviOutputBytesPerPixel(avi);
  int identity = PaletteIsIdentity(avi);
  for (uint64_t i = 0; i < count; ++i) {
    uint8_t* out = buffer + i * pixels * bpp;
    uint32_t frame = uint32_t(first + i);
    if (avi->bitCount == 24) {
      if (!AviReadFrame(avi, frame, out)) return 0;
    } else if (bpp == 1) {
      if (!AviReadFrame(avi, frame, out)) return 0;
      if (!identity) {
        PaletteJob job{out, out, avi->palette, avi->width};
        RunRows(PaletteRowsGray, &job, avi->width, avi->height);
      }
    } else {
      if (avi->planar.size() < pixels && !TryResize(avi->planar, size_t(pixels))) return 0;
      if (!AviReadFrame(avi, frame, avi->planar.data())) return 0;
      PaletteJob job{avi->planar.data(), out, avi->palette, avi->width};
      RunRows(PaletteRowsRgb, &job, avi->width, avi->height);
    }
  }
  return 1;
}

void AviReaderFree(AviFile* avi) {
  if (avi) ReaderFree(avi);
}

AviFile* AviReaderOpenMemory(const uint8_t* data, size_t size) {
  if (!data && size) return nullptr;
  AviFile* avi = new (std::nothrow) AviFile;
  if (!avi) return nullptr;
  static const uint8_t kEmpty[1] = {0};
  avi->riff.memory = data ? data : kEmpty;
  avi->riff.fileSize = size;
  return FinishOpen(avi);
}

// ---------------------------------------------------------------------------------------------
// Entry points of the media handle

AviFile* AviReaderOpen(const char* ansiPath) {
  if (!ansiPath || !ansiPath[0]) return nullptr;
  FILE* f = fopen(ansiPath, "rb");
  if (!f) return nullptr;
  if (fseeko(f, 0, SEEK_END) != 0) {
    fclose(f);
    return nullptr;
  }
  off_t end = ftello(f);
  AviFile* avi = end < 0 ? nullptr : new (std::nothrow) AviFile;
  if (!avi) {
    fclose(f);
    return nullptr;
  }
  avi->riff.stream = f;
  avi->riff.fileSize = uint64_t(end);
  return FinishOpen(avi);
}

int AviReaderGetInfo(const AviFile* avi, MediaInfo* outInfo) {
  if (!avi || avi->writing || !outInfo) return 0;
  outInfo->kind = MediaKindVideo;
  outInfo->planes = 1;
  outInfo->frameCount = avi->frameCount;
  outInfo->bytesPerPixel = AviOutputBytesPerPixel(avi);
  outInfo->width = avi->width;
  outInfo->height = avi->height;
  outInfo->frameIntervalUs = avi->frameIntervalUs;
  return 1;
}

int AviReadFrames(MediaFile* file, uint64_t plane, uint64_t first, uint64_t count, void* buffer) {
  if (!file || !file->aviReader || plane != 0 || !buffer) return 0;
  AviFile* avi = file->aviReader;
  // The caller sized its buffer by the handle's bytes per pixel: it must be the reader's.
  if (file->info.bytesPerPixel != AviOutputBytesPerPixel(avi) || file->info.width != avi->width ||
      file->info.height != avi->height)
    return 0;
  if (count == 0) return first <= avi->frameCount;
  return AviReadFramesDirect(avi, first, count, static_cast<uint8_t*>(buffer));
}

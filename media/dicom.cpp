// dicom.cpp - the DICOM reader: a still image of one or more uncompressed frames, 8 or 16
// bits, gray or R,G,B with interleaved or planar samples.  The file meta group is explicit
// VR little endian; the data set follows the transfer syntax (explicit or implicit VR little
// endian with native pixels).  Compressed and big-endian pixel data are refused rather than
// shown as noise.  Sequences are skipped by their own nesting; nothing inside them is used.
// Inside: element headers - skipping - parsing - entry points
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "core/parallel.h"
#include "media/dicom.h"

namespace {

constexpr uint32_t kUndefined = 0xFFFFFFFFu;
constexpr uint32_t kPixelData = 0x7FE00010u;
constexpr uint32_t kItem = 0xFFFEE000u;
constexpr uint32_t kItemEnd = 0xFFFEE00Du;
constexpr uint32_t kSequenceEnd = 0xFFFEE0DDu;
// Nesting deeper than this is taken as a hostile file.
constexpr int kMaxDepth = 64;

uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

struct Cursor {
  const uint8_t* d;
  uint64_t size;
  uint64_t pos;
  uint64_t left() const { return size - pos; }
};

struct Header {
  uint32_t tag;
  char vr[2];
  uint32_t length;
};

// The VRs whose explicit form has two reserved bytes and a 32-bit length.
bool LongForm(const char* vr) {
  static const char* const kLong[] = {"OB", "OD", "OF", "OL", "OV", "OW", "SQ", "SV", "UC", "UN", "UR", "UT", "UV"};
  for (const char* v : kLong)
    if (vr[0] == v[0] && vr[1] == v[1]) return true;
  return false;
}

// ---- element headers ------------------------------------------------------------------

int ReadHeader(Cursor* c, bool implicit, Header* h) {
  if (c->left() < 8) return 0;
  const uint8_t* p = c->d + c->pos;
  h->tag = uint32_t(Le16(p)) << 16 | Le16(p + 2);
  h->vr[0] = h->vr[1] = 0;
  // Items and delimiters never carry a VR.
  if (implicit || (h->tag >> 16) == 0xFFFE) {
    h->length = Le32(p + 4);
    c->pos += 8;
    return 1;
  }
  h->vr[0] = char(p[4]);
  h->vr[1] = char(p[5]);
  if (h->vr[0] < 'A' || h->vr[0] > 'Z' || h->vr[1] < 'A' || h->vr[1] > 'Z') return 0;
  if (LongForm(h->vr)) {
    if (c->left() < 12) return 0;
    h->length = Le32(p + 8);
    c->pos += 12;
  } else {
    h->length = Le16(p + 6);
    c->pos += 8;
  }
  return 1;
}

// ---- skipping -------------------------------------------------------------------------

// Skips an undefined-length value up to its delimiter `end` (the sequence end, or an
// item end), following nested items and sequences by their own lengths and delimiters.
int SkipUndefined(Cursor* c, bool implicit, uint32_t end, int depth) {
  if (depth > kMaxDepth) return 0;
  for (;;) {
    Header h;
    if (!ReadHeader(c, implicit, &h)) return 0;
    if (h.tag == end) return 1;
    if (h.tag == kItemEnd || h.tag == kSequenceEnd) return 0;  // a delimiter out of place
    if (h.length == kUndefined) {
      // An item holds elements up to its end; anything else is a sequence of items.
      // UN values of undefined length are implicit VR inside.
      bool inner = implicit || (h.vr[0] == 'U' && h.vr[1] == 'N');
      if (!SkipUndefined(c, inner, h.tag == kItem ? kItemEnd : kSequenceEnd, depth + 1)) return 0;
    } else {
      if (h.length > c->left()) return 0;
      c->pos += h.length;
    }
  }
}

// ---- parsing --------------------------------------------------------------------------

enum Syntax { kUnknown, kExplicit, kImplicit, kEncapsulated, kRefused };

Syntax SyntaxOf(const char* uid, const Cursor& c) {
  if (!*uid) {
    // No meta information: look at the first element, whose VR letters tell the form.
    const uint8_t* p = c.d + c.pos;
    bool letters = c.left() >= 6 && p[4] >= 'A' && p[4] <= 'Z' && p[5] >= 'A' && p[5] <= 'Z';
    return letters ? kExplicit : kImplicit;
  }
  if (!std::strcmp(uid, "1.2.840.10008.1.2")) return kImplicit;
  if (!std::strcmp(uid, "1.2.840.10008.1.2.1")) return kExplicit;
  // Big endian and deflated data sets cannot be walked as little endian.
  if (!std::strcmp(uid, "1.2.840.10008.1.2.2") || !std::strcmp(uid, "1.2.840.10008.1.2.1.99")) return kRefused;
  return kEncapsulated;  // compressed pixels: the data set is explicit VR, the pixels are not native
}

struct ParseState {
  char syntaxUid[65] = {};
  Syntax syntax = kUnknown;
  uint16_t samples = 0;  // 0: not given (gray)
  uint16_t planar = 0;
  bool colourSet = false;
};

// Stores a size element; a second, different value refuses the file.
int SetOnce(uint16_t* field, uint16_t v) {
  if (*field && *field != v) return 0;
  *field = v;
  return 1;
}

// Handles one top-level element with a defined length whose value lies at c->pos.
int UseElement(DicomImage* im, ParseState* st, const Header& h, const Cursor& c) {
  const uint8_t* v = c.d + c.pos;
  if (h.tag == 0x00020010u) {
    uint64_t n = h.length < 64 ? h.length : 64;
    std::memcpy(st->syntaxUid, v, n);
    st->syntaxUid[n] = 0;
    while (n > 0 && (st->syntaxUid[n - 1] == ' ' || st->syntaxUid[n - 1] == 0)) st->syntaxUid[--n] = 0;
    return 1;
  }
  if ((h.tag >> 16) == 0x0028 && h.length == 2) {
    uint16_t x = Le16(v);
    switch (h.tag & 0xFFFF) {
      case 0x0002: if (x != 1 && x != 3) return 0; st->samples = x; return 1;
      case 0x0006: if (x > 1) return 0; st->planar = x; return 1;
      case 0x0010: return x != 0 && SetOnce(&im->rows, x);
      case 0x0011: return x != 0 && SetOnce(&im->columns, x);
      case 0x0100: return (x == 8 || x == 16) && SetOnce(&im->bitsAllocated, x);
      case 0x0101: return x >= 8 && x <= 16 && SetOnce(&im->bitsStored, x);
      default: return 1;
    }
  }
  if (h.tag == kPixelData) {
    if (st->syntax != kExplicit && st->syntax != kImplicit) return 0;  // compressed pixels
    if (!im->rows || !im->columns || !im->bitsAllocated) return 0;
    // Planar configuration only means something for colour: gray with the element stays gray.
    uint16_t mode = st->samples == 3 ? (st->planar ? 2 : 1) : 0;
    if (st->colourSet && mode != im->colourMode) return 0;
    im->colourMode = mode;
    st->colourSet = true;
    im->frameSize = uint64_t(im->bitsAllocated / 8) * (mode ? 3 : 1) * im->rows * im->columns;
    uint64_t frames = h.length / im->frameSize;
    if (frames) {
      im->runs.push_back({c.pos, frames});
      im->frameCount += frames;
    }
  }
  return 1;
}

// Takes ownership of `bytes`.
DicomImage* ParseOwned(uint8_t* bytes, uint64_t size) {
  DicomImage* im = new (std::nothrow) DicomImage;
  if (!im) {
    std::free(bytes);
    return nullptr;
  }
  im->bytes = bytes;
  im->size = size;
  if (size < 132 || std::memcmp(bytes + 128, "DICM", 4) != 0) {
    DicomFree(im);
    return nullptr;
  }
  Cursor c{bytes, size, 132};
  ParseState st;
  bool refused = false;
  for (;;) {
    if (c.left() < 8) break;
    bool meta = Le16(c.d + c.pos) == 0x0002;
    if (!meta && st.syntax == kUnknown) {
      st.syntax = SyntaxOf(st.syntaxUid, c);
      if (st.syntax == kRefused) {
        refused = true;
        break;
      }
    }
    Header h;
    if (!ReadHeader(&c, !meta && st.syntax == kImplicit, &h)) break;
    if (h.length == kUndefined) {
      if (h.tag == kPixelData) {  // encapsulated: compressed frames we do not decode
        refused = true;
        break;
      }
      bool inner = (!meta && st.syntax == kImplicit) || (h.vr[0] == 'U' && h.vr[1] == 'N');
      if (!SkipUndefined(&c, inner, h.tag == kItem ? kItemEnd : kSequenceEnd, 0)) break;
      continue;
    }
    if (h.length > c.left()) {
      if (h.tag == kPixelData) refused = true;  // pixel data cut short
      break;
    }
    if (!UseElement(im, &st, h, c)) {
      refused = true;
      break;
    }
    c.pos += h.length;
  }
  if (refused || !im->columns || !im->rows || !im->bitsAllocated || im->frameCount == 0) {
    DicomFree(im);
    return nullptr;
  }
  if (!im->bitsStored) im->bitsStored = im->bitsAllocated;
  return im;
}

const uint8_t* FrameBytes(const DicomImage* im, uint64_t frame) {
  for (const DicomImage::Run& r : im->runs) {
    if (frame < r.frames) return im->bytes + r.offset + frame * im->frameSize;
    frame -= r.frames;
  }
  return nullptr;
}

int FinishOpen(MediaFile* file, DicomImage* im) {
  if (!im) return 0;
  file->info.planes = 1;
  file->info.frameCount = im->frameCount;
  file->info.bytesPerPixel = uint64_t(im->bitsAllocated / 8) * (im->colourMode ? 3 : 1);
  file->info.width = im->columns;
  file->info.height = im->rows;
  file->dicom = im;
  return 1;
}

}  // namespace

// ---- entry points ---------------------------------------------------------------------

DicomImage* DicomParseMemory(const void* data, size_t size) {
  if (!data || size == 0) return nullptr;
  uint8_t* bytes = static_cast<uint8_t*>(std::malloc(size));
  if (!bytes) return nullptr;
  std::memcpy(bytes, data, size);
  return ParseOwned(bytes, size);
}

DicomImage* DicomParse(const char* ansiPath) {
  if (!ansiPath) return nullptr;
  FILE* f = std::fopen(ansiPath, "rb");
  if (!f) return nullptr;
  uint8_t* bytes = nullptr;
  // Sized by the file system, not by seeking: a folder opens too and seeks to an end of
  // exabytes, which would be taken as the size of the buffer.
  struct stat st;
  int64_t size = -1;
  if (fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode)) size = int64_t(st.st_size);
  if (size > 0) {
    bytes = static_cast<uint8_t*>(std::malloc(uint64_t(size)));
    if (bytes && std::fread(bytes, 1, uint64_t(size), f) != uint64_t(size)) {
      std::free(bytes);
      bytes = nullptr;
    }
  }
  std::fclose(f);
  return bytes ? ParseOwned(bytes, uint64_t(size)) : nullptr;
}

int DicomOpenMemory(MediaFile* file, const void* data, size_t size) {
  return file ? FinishOpen(file, DicomParseMemory(data, size)) : 0;
}

int DicomOpenRead(MediaFile* file, const char* ansiPath) {
  return file ? FinishOpen(file, DicomParse(ansiPath)) : 0;
}

int DicomReadFrames(MediaFile* file, uint64_t plane, uint64_t first, uint64_t count, void* buffer) {
  if (!file || !file->dicom || plane != 0) return 0;
  const DicomImage* im = file->dicom;
  if (first > im->frameCount || count > im->frameCount - first) return 0;
  if (count == 0) return 1;
  const uint64_t sampleBytes = im->bitsAllocated / 8;
  const uint64_t channels = im->colourMode ? 3 : 1;
  if (!buffer || file->info.bytesPerPixel != sampleBytes * channels || file->info.width != im->columns ||
      file->info.height != im->rows)
    return 0;
  const uint64_t pixels = uint64_t(im->rows) * im->columns;
  const uint64_t frameBytes = pixels * sampleBytes * channels;
  const int shift = sampleBytes == 2 && channels == 1 ? 16 - im->bitsStored : 0;
  uint8_t* out = static_cast<uint8_t*>(buffer);
  for (uint64_t f = 0; f < count; ++f, out += frameBytes) {
    const uint8_t* src = FrameBytes(im, first + f);
    if (!src) return 0;
    if (sampleBytes == 1) {
      if (im->colourMode == 2) {
        for (uint64_t i = 0; i < pixels; ++i)
          for (uint64_t k = 0; k < 3; ++k) out[3 * i + k] = src[k * pixels + i];
      } else {
        ParallelMemcpy(out, src, frameBytes);  // large frames copy on the worker pool
      }
      continue;
    }
    // 16-bit samples: little endian in the file, machine order in the frame.
    if (im->colourMode == 2) {
      for (uint64_t i = 0; i < pixels; ++i)
        for (uint64_t k = 0; k < 3; ++k) {
          uint16_t v = Le16(src + 2 * (k * pixels + i));
          std::memcpy(out + 2 * (3 * i + k), &v, 2);
        }
    } else {
      const uint64_t n = pixels * channels;
      for (uint64_t i = 0; i < n; ++i) {
        uint16_t v = uint16_t(Le16(src + 2 * i) << shift);
        std::memcpy(out + 2 * i, &v, 2);
      }
    }
  }
  return 1;
}

void DicomFree(DicomImage* image) {
  if (!image) return;
  std::free(image->bytes);
  delete image;
}

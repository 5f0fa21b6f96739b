// mp4_read.cpp - MP4 reader: box tree, sample tables, frame index, frame decoding.
// Every number taken from a box is checked against its box and the file in 64-bit
// arithmetic before use; after Mp4ReaderParse every sample lies inside the file and is no
// larger than the readers' frame cap.
// Frames are the pictures in presentation order, known from the tables alone; each sample
// goes to the decoder with its frame number, which comes back with the picture it coded,
// so frames stay right whatever order the decoder hands pictures out in (B-frames).
// Inside: sources - box tree - sample tables - parse - decoding - open - media glue
#include "media/mp4.h"
#include "media/alloc_util.h"
#include "media/h264.h"
#include "media/media_file.h"
#include "core/parallel.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

// Pictures larger than this are refused at the header: a reader that believed a damaged
// track header would have its caller allocate gigabytes for one frame.
constexpr uint32_t kMaxSide = 16384;
// Containers nest a few levels in real files; the cap keeps damaged files off the stack.
constexpr int kMaxDepth = 32;
// A picture comes out at most this many samples after the one that coded it (the
// reorder depth of H.264 is at most 16 frames), plus the frames in flight on the
// decoder's threads.
constexpr uint32_t kMaxReorder = 34;
// The configuration record holds a few parameter sets; more is a damaged file.
constexpr uint64_t kMaxConfigBytes = 1u << 20;

uint32_t Be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
uint16_t Be16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }
uint64_t Be64(const uint8_t* p) { return uint64_t(Be32(p)) << 32 | Be32(p + 4); }

bool TypeIs(const Mp4Box& box, const char* type) { return memcmp(box.type, type, 4) == 0; }

bool IsContainer(const char* type) {
  static const char* const kContainers[] = {"moov", "trak", "edts", "mdia", "minf", "dinf", "stbl",
                                            "udta", "mvex", "moof", "traf", "mfra", "skip", "cprt",
                                            "strk", "wide", "ipro", "sinf", "fiin", "paen", "meco"};
  for (const char* c : kContainers)
    if (memcmp(c, type, 4) == 0) return true;
  return false;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Sources

int Mp4SourceRead(const Mp4Source* source, uint64_t offset, void* out, uint64_t count) {
  if (offset > source->size || count > source->size - offset) return 0;
  if (count == 0) return 1;
  if (source->data) {
    memcpy(out, source->data + offset, count);
    return 1;
  }
  if (!source->file || fseeko(source->file, off_t(offset), SEEK_SET) != 0) return 0;
  return fread(out, 1, count, source->file) == count ? 1 : 0;
}

// ---------------------------------------------------------------------------------------
// Box tree

namespace {

struct Header {
  uint64_t size;
  uint64_t headerSize;
  char type[4];
};

// 0 when no header can be read there or its size is not one a box may have.
int ReadHeader(const Mp4Source* src, uint64_t offset, Header* h) {
  uint8_t b[16];
  if (!Mp4SourceRead(src, offset, b, 8)) return 0;
  h->size = Be32(b);
  memcpy(h->type, b + 4, 4);
  h->headerSize = 8;
  if (h->size == 1) {
    if (!Mp4SourceRead(src, offset + 8, b + 8, 8)) return 0;
    h->size = Be64(b + 8);
    h->headerSize = 16;
  }
  if (h->size < h->headerSize) return 0;  // also sizes 0 and 2 to 7
  return 1;
}

int ReadList(Mp4Reader* r, uint64_t offset, uint64_t length, int32_t parent, int depth);

int ReadBox(Mp4Reader* r, uint64_t offset, const Header& h, int32_t parent, int depth) {
  Mp4Box box;
  box.start = offset;
  box.contentStart = offset + h.headerSize;
  box.contentSize = h.size - h.headerSize;
  memcpy(box.type, h.type, 4);
  box.parent = parent;
  const int32_t index = int32_t(r->boxes.size());
  if (!TryPushBack(r->boxes, box)) return 0;
  int ok = 1;
  if (IsContainer(h.type)) {
    if (box.contentSize < 8) return 0;
    ok = ReadList(r, box.contentStart, box.contentSize, index, depth + 1);
  } else if (memcmp(h.type, "stsd", 4) == 0) {
    if (box.contentSize < 9 || box.contentSize - 8 < 8) return 0;
    ok = ReadList(r, box.contentStart + 8, box.contentSize - 8, index, depth + 1);
  } else if (memcmp(h.type, "avc1", 4) == 0) {
    if (box.contentSize < 79) return 0;
    ok = ReadList(r, box.contentStart + 78, box.contentSize - 78, index, depth + 1);
    if (ok && r->boxes.size() > size_t(index) + 1) {
      const Mp4Box& first = r->boxes[size_t(index) + 1];
      if (first.contentSize + (first.contentStart - first.start) < 9) ok = 0;
    }
  }
  r->boxes[size_t(index)].subtreeEnd = uint32_t(r->boxes.size());
  return ok;
}

// A list's first header must be sound; after a whole box, whatever cannot be read as a
// header ends the list quietly (some writers leave padding behind the last box).
int ReadList(Mp4Reader* r, uint64_t offset, uint64_t length, int32_t parent, int depth) {
  if (length == 0) return 1;
  if (depth > kMaxDepth) return 0;
  Header h;
  if (!ReadHeader(&r->source, offset, &h)) return 0;
  uint64_t remaining = length;
  for (;;) {
    if (h.size > remaining) return 0;
    if (!ReadBox(r, offset, h, parent, depth)) return 0;
    remaining -= h.size;
    offset += h.size;
    if (remaining < 8) return 1;
    if (!ReadHeader(&r->source, offset, &h)) return 1;
  }
}

// Reads `count` bytes at `at` inside a box's content.
int ReadContent(const Mp4Reader* r, const Mp4Box& box, uint64_t at, void* out, uint64_t count) {
  if (at > box.contentSize || count > box.contentSize - at) return 0;
  return Mp4SourceRead(&r->source, box.contentStart + at, out, count);
}

int ReadU32(const Mp4Reader* r, const Mp4Box& box, uint64_t at, uint32_t* out) {
  uint8_t b[4];
  if (!ReadContent(r, box, at, b, 4)) return 0;
  *out = Be32(b);
  return 1;
}

int ReadU16(const Mp4Reader* r, const Mp4Box& box, uint64_t at, uint16_t* out) {
  uint8_t b[2];
  if (!ReadContent(r, box, at, b, 2)) return 0;
  *out = Be16(b);
  return 1;
}

// Whole-table reads: one read per table instead of one per entry.
int ReadTable(const Mp4Reader* r, const Mp4Box& box, uint64_t at, uint64_t bytes, std::vector<uint8_t>* out) {
  if (at > box.contentSize || bytes > box.contentSize - at) return 0;
  if (!TryResize(*out, size_t(bytes))) return 0;
  return ReadContent(r, box, at, out->data(), bytes);
}

}  // namespace

int32_t Mp4FindChild(const Mp4Reader* r, int32_t within, const char* type) {
  uint32_t first = within < 0 ? 0 : uint32_t(within) + 1;
  uint32_t end = within < 0 ? uint32_t(r->boxes.size()) : r->boxes[size_t(within)].subtreeEnd;
  for (uint32_t i = first; i < end; ++i)
    if (TypeIs(r->boxes[i], type)) return int32_t(i);
  return -1;
}

int32_t Mp4FindNext(const Mp4Reader* r, int32_t after, const char* type) {
  for (size_t i = size_t(after) + 1; i < r->boxes.size(); ++i)
    if (TypeIs(r->boxes[i], type)) return int32_t(i);
  return -1;
}

// ---------------------------------------------------------------------------------------
// Sample tables

namespace {

int ReadSampleSizes(Mp4Reader* r) {
  std::vector<uint8_t> table;
  int32_t stsz = Mp4FindChild(r, r->track, "stsz");
  if (stsz >= 0) {
    const Mp4Box& box = r->boxes[size_t(stsz)];
    uint32_t uniform = 0;
    if (!ReadU32(r, box, 4, &uniform)) return 0;
    if (uniform != 0) {
      for (Mp4Sample& s : r->samples) s.size = uniform;
      return 1;
    }
    if (!ReadTable(r, box, 12, uint64_t(r->sampleCount) * 4, &table)) return 0;
    for (uint32_t n = 0; n < r->sampleCount; ++n) r->samples[n].size = Be32(&table[size_t(n) * 4]);
    return 1;
  }
  int32_t stz2 = Mp4FindChild(r, r->track, "stz2");
  if (stz2 < 0) return 0;
  const Mp4Box& box = r->boxes[size_t(stz2)];
  uint8_t field = 0;
  if (!ReadContent(r, box, 7, &field, 1)) return 0;
  const uint64_t n = r->sampleCount;
  if (field == 16) {
    if (!ReadTable(r, box, 12, n * 2, &table)) return 0;
    for (uint64_t i = 0; i < n; ++i) r->samples[i].size = Be16(&table[i * 2]);
  } else if (field == 8) {
    if (!ReadTable(r, box, 12, n, &table)) return 0;
    for (uint64_t i = 0; i < n; ++i) r->samples[i].size = table[i];
  } else if (field == 4) {
    if (!ReadTable(r, box, 12, (n + 1) / 2, &table)) return 0;
    for (uint64_t i = 0; i < n; ++i) r->samples[i].size = (i & 1) ? table[i / 2] & 15 : table[i / 2] >> 4;
  } else {
    return 0;
  }
  return 1;
}

int PlaceSamples(Mp4Reader* r) {
  int32_t stsc = Mp4FindChild(r, r->track, "stsc");
  int32_t stco = Mp4FindChild(r, r->track, "stco");
  bool wide = false;
  if (stco < 0) {
    stco = Mp4FindChild(r, r->track, "co64");
    wide = true;
  }
  if (stsc < 0 || stco < 0) return 0;
  const Mp4Box& runs = r->boxes[size_t(stsc)];
  const Mp4Box& chunks = r->boxes[size_t(stco)];
  uint32_t runCount = 0, chunkCount = 0;
  if (!ReadU32(r, runs, 4, &runCount) || !ReadU32(r, chunks, 4, &chunkCount)) return 0;
  const uint64_t entryBytes = wide ? 8 : 4;
  std::vector<uint8_t> runTable, chunkTable;
  if (!ReadTable(r, runs, 8, uint64_t(runCount) * 12, &runTable)) return 0;
  if (!ReadTable(r, chunks, 8, uint64_t(chunkCount) * entryBytes, &chunkTable)) return 0;

  uint32_t placed = 0;
  for (uint32_t e = 0; e < runCount && placed < r->sampleCount; ++e) {
    const uint8_t* entry = &runTable[size_t(e) * 12];
    const uint32_t firstChunk = Be32(entry);
    const uint32_t perChunk = Be32(entry + 4);
    if (firstChunk == 0) return 0;
    if (perChunk == 0) break;  // nothing more can be placed
    uint64_t endChunk;         // one past the run's last chunk
    if (e + 1 < runCount) {
      const uint32_t next = Be32(entry + 12);
      if (next <= firstChunk) return 0;  // runs must go forward
      endChunk = next;
    } else {
      const uint64_t left = r->sampleCount - placed;
      endChunk = firstChunk + (left + perChunk - 1) / perChunk;
    }
    for (uint64_t c = firstChunk; c < endChunk && placed < r->sampleCount; ++c) {
      if (c > chunkCount) return 0;
      const uint8_t* o = &chunkTable[size_t(c - 1) * entryBytes];
      uint64_t offset = wide ? Be64(o) : Be32(o);
      for (uint32_t k = 0; k < perChunk && placed < r->sampleCount; ++k) {
        Mp4Sample& s = r->samples[placed];
        // A coded frame is never near the readers' frame cap; past 2 GiB its length
        // would also turn negative on the way into the codec.
        if (s.size == 0 || s.size > MediaMaxFrameBytes) return 0;
        // The sample must lie inside the file.
        if (offset > r->source.size || s.size > r->source.size - offset) return 0;
        s.offset = offset;
        offset += s.size;
        ++placed;
      }
    }
  }
  if (placed == 0) return 0;
  r->sampleCount = placed;
  r->samples.resize(placed);
  return 1;
}

// The "avcC" record goes to the decoder whole; its first sequence and picture parameter
// sets are checked here so that a file whose record is plainly damaged does not open.
int ReadConfig(Mp4Reader* r) {
  int32_t avcC = Mp4FindChild(r, r->track, "avcC");
  if (avcC < 0) return 0;
  const Mp4Box& box = r->boxes[size_t(avcC)];
  if (box.contentSize < 8 || box.contentSize > kMaxConfigBytes) return 0;
  uint8_t head[8];
  if (!ReadContent(r, box, 0, head, 8)) return 0;
  // NAL unit lengths of 1, 2 or 4 bytes; 3 is not a size the format allows.
  if ((head[4] & 3) == 2) return 0;
  uint64_t at = 6;
  uint8_t kinds[2] = {0, 0};
  for (int i = 0; i < 2; ++i) {
    if (i == 1) at += 1;  // the count byte before the second list
    uint16_t length = 0;
    if (!ReadU16(r, box, at, &length) || length == 0) return 0;
    at += 2;
    if (!ReadContent(r, box, at, &kinds[i], 1) || length > box.contentSize - at) return 0;
    at += length;
    if ((kinds[i] & 0x80) != 0) return 0;
  }
  // Sequence parameter sets first, as the record's layout has them: the decoder reads a
  // picture parameter set only against a sequence parameter set it already has.
  if ((kinds[0] & 0x1F) != 7 || (kinds[1] & 0x1F) != 8) return 0;
  return ReadTable(r, box, 0, box.contentSize, &r->config);
}

// The colours the sample entry declares: "nclx" (ISO) and "nclc" (QuickTime, no range).
void ReadEntryColours(Mp4Reader* r, int32_t avc1) {
  r->entryMatrix = 2;
  r->entryFullRange = -1;
  const int32_t colr = Mp4FindChild(r, avc1, "colr");
  if (colr < 0) return;
  uint8_t b[11];
  const Mp4Box& box = r->boxes[size_t(colr)];
  if (!ReadContent(r, box, 0, b, 10)) return;
  const bool nclx = memcmp(b, "nclx", 4) == 0;
  if (!nclx && memcmp(b, "nclc", 4) != 0) return;
  r->entryMatrix = Be16(b + 8);
  if (nclx && ReadContent(r, box, 10, b + 10, 1)) r->entryFullRange = b[10] >> 7;
}

int ReadSyncSamples(Mp4Reader* r) {
  int32_t stss = Mp4FindChild(r, r->track, "stss");
  if (stss < 0) {
    // No table means every sample is a sync sample (all-intra and one-frame files).
    for (Mp4Sample& s : r->samples) s.sync = 1;
    return 1;
  }
  const Mp4Box& box = r->boxes[size_t(stss)];
  uint32_t count = 0;
  if (!ReadU32(r, box, 4, &count) || count == 0 || count > r->sampleCount) return 0;
  std::vector<uint8_t> table;
  if (!ReadTable(r, box, 8, uint64_t(count) * 4, &table)) return 0;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t n = Be32(&table[size_t(i) * 4]);
    if (n >= 1 && n <= r->sampleCount) r->samples[n - 1].sync = 1;  // others name no sample
  }
  return 1;
}

// Version 1 boxes put 64-bit times before the fields we need.
bool IsVersion1(const Mp4Reader* r, const Mp4Box& box) {
  uint8_t vf[2] = {0, 0};
  ReadContent(r, box, 0, vf, 2);
  return vf[0] != 0 || vf[1] != 0;
}

int ChooseTrack(Mp4Reader* r) {
  // A track is looked at once: a damaged file may hold thousands of "tkhd" boxes in one
  // "trak", and searching its subtree for each of them would take quadratic time.
  std::vector<uint8_t> seen;
  if (!TryAssign(seen, r->boxes.size(), uint8_t(0))) return 0;
  for (int32_t t = Mp4FindChild(r, -1, "tkhd"); t >= 0; t = Mp4FindNext(r, t, "tkhd")) {
    const Mp4Box& box = r->boxes[size_t(t)];
    if (box.contentSize < 48) continue;
    uint16_t volume = 1;
    if (!ReadU16(r, box, IsVersion1(r, box) ? 48 : 36, &volume) || volume != 0) continue;
    int32_t trak = box.parent;
    while (trak >= 0 && !TypeIs(r->boxes[size_t(trak)], "trak")) trak = r->boxes[size_t(trak)].parent;
    // Silent tracks that carry no H.264 (timecode, text) are passed over too.
    if (trak < 0 || seen[size_t(trak)]) continue;
    seen[size_t(trak)] = 1;
    if (Mp4FindChild(r, trak, "avc1") < 0) continue;
    r->track = trak;
    return 1;
  }
  return 0;
}

// A table of (count, value) pairs after a version and an entry count ("stts", "ctts");
// entries the box has no room for are not read.
int ReadPairTable(const Mp4Reader* r, const Mp4Box& box, std::vector<uint8_t>* out, uint32_t* outEntries) {
  uint32_t entries = 0;
  if (!ReadU32(r, box, 4, &entries)) return 0;
  const uint64_t usable = box.contentSize >= 8 ? (box.contentSize - 8) / 8 : 0;
  if (entries > usable) entries = uint32_t(usable);
  *outEntries = entries;
  return ReadTable(r, box, 8, uint64_t(entries) * 8, out);
}

// Presentation times: decode times from "stts" plus the composition offsets of "ctts"
// (signed, whatever the box version says: writers put negative offsets in version 0 too).
// Frames are the samples sorted by presentation time.  Hostile tables may claim times that
// overflow 64 bits, so the sums are wider.
int BuildFrameIndex(Mp4Reader* r, int32_t stts) {
  const uint32_t n = r->sampleCount;
  std::vector<__int128> times;
  if (!TryResize(times, n)) return 0;
  {
    uint32_t entries = 0;
    std::vector<uint8_t> table;
    if (!ReadPairTable(r, r->boxes[size_t(stts)], &table, &entries)) return 0;
    __int128 t = 0;
    uint32_t delta = 1, s = 0;
    for (uint32_t e = 0; e < entries && s < n; ++e) {
      const uint32_t count = Be32(&table[size_t(e) * 8]);
      delta = Be32(&table[size_t(e) * 8 + 4]);
      for (uint32_t k = 0; k < count && s < n; ++k, t += delta) times[s++] = t;
    }
    // Samples past the table go on at the last duration.
    for (; s < n; ++s, t += delta) times[s] = t;
  }
  const int32_t ctts = Mp4FindChild(r, r->track, "ctts");
  if (ctts >= 0) {
    uint32_t entries = 0;
    std::vector<uint8_t> table;
    if (!ReadPairTable(r, r->boxes[size_t(ctts)], &table, &entries)) return 0;
    uint32_t s = 0;
    for (uint32_t e = 0; e < entries && s < n; ++e) {
      const uint32_t count = Be32(&table[size_t(e) * 8]);
      const int32_t offset = int32_t(Be32(&table[size_t(e) * 8 + 4]));
      for (uint32_t k = 0; k < count && s < n; ++k) times[s++] += offset;
    }
  }
  if (!TryResize(r->frameMap, n) || !TryResize(r->sampleFrame, n)) return 0;
  for (uint32_t s = 0; s < n; ++s) r->frameMap[s] = s;
  // Equal times keep decode order.
  std::sort(r->frameMap.begin(), r->frameMap.end(), [&times](uint32_t a, uint32_t b) {
    return times[a] != times[b] ? times[a] < times[b] : a < b;
  });
  for (uint32_t f = 0; f < n; ++f) r->sampleFrame[r->frameMap[f]] = f;
  return 1;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Parse

Mp4Reader* Mp4ReaderParse(Mp4Source source) {
  Mp4Reader* r = new (std::nothrow) Mp4Reader();
  if (!r) {
    if (source.file) fclose(source.file);
    return nullptr;
  }
  r->source = source;
  r->track = r->mdat = -1;
  r->lastFrame = -1;
  r->entryMatrix = 2;
  r->entryFullRange = -1;
  r->decodeThreads = 1;
  r->matrix = &kYuvBt709;
  // The top-level list is bounded by the file itself, so files past 2 GiB open.
  if (!ReadList(r, 0, source.size, -1, 0) || r->boxes.empty() || !ChooseTrack(r)) {
    Mp4ReaderFree(r);
    return nullptr;
  }
  r->mdat = Mp4FindChild(r, -1, "mdat");
  int32_t tkhd = Mp4FindChild(r, r->track, "tkhd");
  int32_t avc1 = Mp4FindChild(r, r->track, "avc1");
  int32_t mdhd = Mp4FindChild(r, r->track, "mdhd");
  int32_t stts = Mp4FindChild(r, r->track, "stts");
  int32_t stsz = Mp4FindChild(r, r->track, "stsz");
  if (stsz < 0) stsz = Mp4FindChild(r, r->track, "stz2");
  if (r->mdat < 0 || tkhd < 0 || avc1 < 0 || mdhd < 0 || stts < 0 || stsz < 0) {
    Mp4ReaderFree(r);
    return nullptr;
  }
  bool ok = true;
  // Track size: integer parts of the 16.16 width and height.
  {
    const Mp4Box& box = r->boxes[size_t(tkhd)];
    uint16_t w = 0, h = 0;
    const uint64_t at = IsVersion1(r, box) ? 88 : 76;
    ok = ReadU16(r, box, at, &w) && ReadU16(r, box, at + 4, &h) && w > 0 && h > 0 && w <= kMaxSide && h <= kMaxSide;
    r->trackWidth = w;
    r->trackHeight = h;
  }
  // Coded size from the sample entry.
  if (ok) {
    const Mp4Box& box = r->boxes[size_t(avc1)];
    uint16_t w = 0, h = 0;
    ok = ReadU16(r, box, 24, &w) && ReadU16(r, box, 26, &h);
    r->codedWidth = w ? w : r->trackWidth;
    r->codedHeight = h ? h : r->trackHeight;
  }
  // Sample count, checked against what the table and the file can hold.
  if (ok) {
    const Mp4Box& box = r->boxes[size_t(stsz)];
    uint32_t count = 0;
    ok = box.contentSize >= 9 && ReadU32(r, box, 8, &count) && count > 0 && count <= source.size;
    r->sampleCount = count;
  }
  // Frame interval from the first hundred or so samples' durations.
  if (ok) {
    const Mp4Box& md = r->boxes[size_t(mdhd)];
    uint32_t timescale = 0;
    ok = ReadU32(r, md, IsVersion1(r, md) ? 20 : 12, &timescale) && timescale > 0;
    uint32_t entries = 0;
    std::vector<uint8_t> table;
    if (ok) ok = ReadPairTable(r, r->boxes[size_t(stts)], &table, &entries);
    // A long video states all its frames in one entry: its ticks pass 32 bits.
    unsigned __int128 total = 0;
    uint64_t covered = 0;
    for (uint32_t e = 0; ok && e < entries && covered < 100; ++e) {
      const uint32_t count = Be32(&table[size_t(e) * 8]);
      const uint32_t delta = Be32(&table[size_t(e) * 8 + 4]);
      total += (unsigned __int128)count * delta;
      covered += count;
    }
    if (ok && covered > 0) {
      // Rounded to the nearest microsecond: 1001 ticks of 30000 a second are 33367 us.
      const unsigned __int128 ticks = (unsigned __int128)timescale * covered;
      const unsigned __int128 interval = (total * 1000000u + ticks / 2) / ticks;
      ok = interval > 0 && interval <= 0xFFFFFFFFu;
      r->frameIntervalUs = uint32_t(interval);
    } else {
      ok = false;  // no durations: the file has no time base to play at
    }
  }
  if (ok) {
    ok = TryAssign(r->samples, r->sampleCount, Mp4Sample{}) && ReadSampleSizes(r) && PlaceSamples(r) && ReadConfig(r) &&
         ReadSyncSamples(r);
  }
  if (ok) {
    r->frameCount = r->sampleCount;
    ReadEntryColours(r, avc1);
    ok = BuildFrameIndex(r, stts);
  }
  if (!ok) {
    Mp4ReaderFree(r);
    return nullptr;
  }
  return r;
}

void Mp4ReaderFree(Mp4Reader* r) {
  if (!r) return;
  H264DecoderDestroy(r->singleDecoder);
  H264DecoderDestroy(r->threadedDecoder);
  if (r->source.file) fclose(r->source.file);
  delete r;
}

// ---------------------------------------------------------------------------------------
// Decoding

namespace {

// Feeds the cursor's next sample, with its frame number as the time stamp.  0 when the
// sample cannot be read from the file.
int FeedSample(Mp4Reader* r, Mp4Cursor* c) {
  const uint32_t s = c->next++;
  const Mp4Sample& sample = r->samples[s];
  uint8_t* buffer = H264DecoderSampleBuffer(c->decoder, sample.size);
  if (!buffer || !Mp4SourceRead(&r->source, sample.offset, buffer, sample.size)) return 0;
  // A sample the decoder refuses is only a missing picture; the pictures after it may
  // still decode.
  H264DecoderSend(c->decoder, r->sampleFrame[s], false);
  return 1;
}

// 1 with the next picture out of the decoder, -1 when the cursor has nothing more to give.
int CursorStep(Mp4Reader* r, Mp4Cursor* c, H264Picture* pic) {
  for (;;) {
    const int got = H264DecoderReceive(c->decoder, pic);
    if (got != 0) return got;
    if (c->next < r->sampleCount) {
      if (!FeedSample(r, c)) return -1;
    } else if (!H264DecoderSend(c->decoder, 0, true)) {
      return -1;
    }
  }
}

// Frame threads keep as many frames in flight as there are threads: the first picture
// comes out only after that many samples went in, so a short run decodes faster on one
// thread.  Runs of at least this many samples a thread go to the threaded decoder.
constexpr uint32_t kThreadedRunPerThread = 2;

bool LongRun(const Mp4Reader* r, uint32_t start, uint32_t codedSample) {
  return r->decodeThreads > 1 && codedSample - start >= kThreadedRunPerThread * uint32_t(r->decodeThreads);
}

// Sets the cursor up to decode from sync sample `start`, threaded or not.
int CursorStart(Mp4Reader* r, uint32_t start, bool threaded) {
  Mp4Cursor* c = &r->cursor;
  H264Decoder*& decoder = threaded ? r->threadedDecoder : r->singleDecoder;
  if (!decoder) {
    decoder = H264DecoderCreate(r->config.data(), r->config.size(), threaded ? r->decodeThreads : 1);
    if (!decoder) return 0;
  } else {
    H264DecoderReset(decoder);
  }
  c->decoder = decoder;
  c->threaded = threaded;
  c->started = true;
  c->start = c->next = start;
  // Leading pictures of an open GOP, shown before their sync sample, refer to pictures
  // before it: decoded from here they come out wrong, so they are not taken.  At the
  // first sample there is nothing earlier to start from.
  c->firstFrame = start == 0 ? 0 : r->sampleFrame[start];
  return 1;
}

// The decoder itself is reset when next started: a threaded one waits for the frames in
// flight, which a seek on the other one need not wait for.
void ClearFrameDecoder(Mp4Reader* r) {
  r->cursor.decoder = nullptr;
  r->cursor.started = false;
  r->havePicture = false;
  r->lastFrame = -1;
}

// Feeds the frame decoder onwards until the picture of frame f comes out.  1 on success;
// 0 when it passed by, could not be decoded, or the stream ended.
int RunUntil(Mp4Reader* r, uint32_t f, uint32_t codedSample) {
  H264Picture pic;
  Mp4Cursor* c = &r->cursor;
  const uint64_t bound = uint64_t(codedSample) + kMaxReorder + uint64_t(r->decodeThreads);
  for (;;) {
    // A picture shows up within the reorder depth after its sample, or never.
    if (c->next > bound) return 0;
    if (CursorStep(r, c, &pic) < 0) return 0;
    if (pic.timestamp < int64_t(c->firstFrame) || pic.timestamp >= int64_t(r->frameCount)) continue;
    const uint32_t frame = uint32_t(pic.timestamp);
    r->havePicture = true;
    r->pictureFrame = frame;
    r->planeY = pic.y;
    r->planeU = pic.u;
    r->planeV = pic.v;
    r->lumaStride = pic.lumaStride;
    r->chromaStride = pic.chromaStride;
    r->pictureWidth = pic.width;
    r->pictureHeight = pic.height;
    // The stream's own colour description first, the sample entry's where it says nothing.
    const int matrix = pic.matrixCoefficients != 2 ? pic.matrixCoefficients : r->entryMatrix;
    const int full = pic.fullRange >= 0 ? pic.fullRange : r->entryFullRange;
    r->matrix = &YuvMatrixFor(matrix, full == 1, pic.width, pic.height);
    r->lastFrame = frame;
    if (frame == f) return 1;
    if (frame > f) return 0;
  }
}

// The sync sample to decode frame f from: the last one at or before its sample that is
// not itself shown after f (which would make f a leading picture of its GOP).
uint32_t StartFor(const Mp4Reader* r, uint32_t f, uint32_t codedSample) {
  for (uint32_t k = codedSample + 1; k-- > 0;)
    if (r->samples[k].sync && r->sampleFrame[k] <= f) return k;
  return 0;
}

uint32_t SyncBefore(const Mp4Reader* r, uint32_t s) {
  while (s-- > 0)
    if (r->samples[s].sync) return s;
  return 0;
}

int RestartAt(Mp4Reader* r, uint32_t k, uint32_t f, uint32_t c) {
  ClearFrameDecoder(r);
  if (!CursorStart(r, k, LongRun(r, k, c))) return 0;
  return RunUntil(r, f, c);
}

void Output(Mp4Reader* r, uint8_t* out) {
  if (!out) return;
  I420ToRgb(int(r->trackWidth), int(r->trackHeight), int(r->codedWidth), r->planeY, r->planeU, r->planeV, out,
            r->lumaStride, r->chromaStride, r->pictureWidth, r->pictureHeight, *r->matrix);
}

}  // namespace

int64_t Mp4FrameToSample(Mp4Reader* r, uint64_t frame) {
  if (!r || frame >= r->frameCount) return -1;
  return r->frameMap[size_t(frame)];
}

int Mp4DecodeFrame(Mp4Reader* r, uint64_t frame, uint8_t* out, uint64_t outSize) {
  const uint64_t need = uint64_t(r->trackWidth) * r->trackHeight * 3;
  if (out && outSize < need) return 0;
  const int64_t mapped = Mp4FrameToSample(r, frame);
  if (mapped < 0) {
    if (out) memset(out, 0, need);
    return 0;
  }
  const uint32_t f = uint32_t(frame), c = uint32_t(mapped);
  if (r->havePicture && r->pictureFrame == f) {
    Output(r, out);
    return 1;
  }
  const uint32_t k = StartFor(r, f, c);
  // Carry on with the decoder in hand when the frame is still ahead of it and it started
  // no later than a restart would: cheaper than a restart.
  const Mp4Cursor& cur = r->cursor;
  // Reading on from a short run into a long one moves to the threaded decoder once.
  const bool moveToThreads = cur.started && !cur.threaded && LongRun(r, cur.start, c);
  if (cur.started && !moveToThreads && int64_t(f) > r->lastFrame && cur.start <= k && k <= cur.next &&
      cur.firstFrame <= f) {
    if (RunUntil(r, f, c)) {
      Output(r, out);
      return 1;
    }
  }
  if (RestartAt(r, k, f, c)) {
    Output(r, out);
    return 1;
  }
  // A stream whose sync samples are not all true entry points: one GOP earlier.
  if (k > 0 && RestartAt(r, SyncBefore(r, k), f, c)) {
    Output(r, out);
    return 1;
  }
  ClearFrameDecoder(r);
  if (out) memset(out, 0, need);
  return 0;
}

// ---------------------------------------------------------------------------------------
// Open

Mp4Reader* Mp4ReaderOpen(const char* path, MediaProgressFn progress, void* context) {
  if (!path || !*path) return nullptr;
  FILE* f = fopen(path, "rb");
  if (!f) return nullptr;
  Mp4Source src{f, nullptr, 0};
  if (fseeko(f, 0, SEEK_END) != 0) {
    fclose(f);
    return nullptr;
  }
  const off_t size = ftello(f);
  if (size <= 0) {
    fclose(f);
    return nullptr;
  }
  src.size = uint64_t(size);
  Mp4Reader* r = Mp4ReaderParse(src);
  if (!r) return nullptr;
  uint64_t threads = ActiveWorkerCount();
  r->decodeThreads = int(threads < 1 ? 1 : threads > 16 ? 16 : threads);
  // The frame index comes from the tables; what the open still checks is that the first
  // frame decodes (a file without a single picture is no video).  A cancel has nothing
  // left to stop.
  const bool report = progress && r->frameCount > 1;
  if (report) progress(0, r->frameCount, 1, context);
  const int ok = Mp4DecodeFrame(r, 0, nullptr, 0);
  if (report) {
    progress(r->frameCount, r->frameCount, 0, context);
    progress(r->frameCount, r->frameCount, 2, context);
  }
  if (!ok) {
    Mp4ReaderFree(r);
    return nullptr;
  }
  return r;
}

// ---------------------------------------------------------------------------------------
// Media glue

int Mp4OpenRead(MediaFile* file, const char* ansiPath, MediaProgressFn progress, void* context) {
  if (!file || !ansiPath) return 0;
  Mp4Reader* r = Mp4ReaderOpen(ansiPath, progress, context);
  if (!r) return 0;
  file->mp4Reader = r;
  file->info.planes = 1;
  file->info.frameCount = r->frameCount;
  file->info.width = r->trackWidth;
  file->info.height = r->trackHeight;
  file->info.bytesPerPixel = 3;
  file->info.frameIntervalUs = r->frameIntervalUs;
  return 1;
}

int Mp4ReadFrames(MediaFile* file, uint64_t plane, uint64_t first, uint64_t count, void* buffer) {
  if (!file || !file->mp4Reader || plane != 0) return 0;
  Mp4Reader* r = file->mp4Reader;
  if (count == 0) return 1;
  if (!buffer || first > r->frameCount || count > r->frameCount - first) return 0;
  const uint64_t frameBytes = uint64_t(r->trackWidth) * r->trackHeight * 3;
  uint8_t* out = static_cast<uint8_t*>(buffer);
  int ok = 1;
  for (uint64_t i = 0; i < count && ok; ++i) ok = Mp4DecodeFrame(r, first + i, out + i * frameBytes, frameBytes);
  return ok;
}

int Mp4Close(MediaFile* file) {
  if (!file) return 0;
  int result = 1;
  if (file->mp4Reader) {
    Mp4ReaderFree(file->mp4Reader);
    file->mp4Reader = nullptr;
  }
  if (file->mp4Writer) {
    result = Mp4WriterClose(file->mp4Writer);
    file->mp4Writer = nullptr;
    OpenH264Release();
  }
  return result;
}

// mp4_read.cpp - MP4 reader: box tree, sample tables, frame index, frame decoding.
// Every number taken from a box is checked against its box and the file in 64-bit
// arithmetic before use; after Mp4ReaderParse every sample lies inside the file and is no
// larger than the readers' frame cap.
// Pictures are identified by the time stamp handed in with the sample that coded them,
// so frames stay right when the decoder holds pictures back for display order (B-frames).
// Inside: sources - box tree - sample tables - parse - decoding - index - media glue
#include "media/mp4.h"
#include "media/alloc_util.h"
#include "media/h264.h"
#include "media/media_file.h"

#include <cstring>
#include <new>

namespace {

// Pictures larger than this are refused at the header: a reader that believed a damaged
// track header would have its caller allocate gigabytes for one frame.
constexpr uint32_t kMaxSide = 16384;
// Containers nest a few levels in real files; the cap keeps damaged files off the stack.
constexpr int kMaxDepth = 32;
// A picture comes out at most this many samples after the one that coded it (the
// reorder depth of H.264 is at most 16 frames).
constexpr uint32_t kMaxReorder = 34;

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

int ReadParamSets(Mp4Reader* r, uint32_t* outLengthSize) {
  int32_t avcC = Mp4FindChild(r, r->track, "avcC");
  if (avcC < 0) return 0;
  const Mp4Box& box = r->boxes[size_t(avcC)];
  uint8_t head[8];
  if (!ReadContent(r, box, 0, head, 8)) return 0;
  *outLengthSize = (head[4] & 3) + 1u;
  if (*outLengthSize == 3) return 0;
  std::vector<uint8_t> sets[2];
  uint64_t at = 6;
  for (int i = 0; i < 2; ++i) {
    if (i == 1) at += 1;  // the count byte before the second list
    uint16_t length = 0;
    if (!ReadU16(r, box, at, &length) || length == 0) return 0;
    at += 2;
    if (!TryResize(sets[i], length)) return 0;
    if (!ReadContent(r, box, at, sets[i].data(), length)) return 0;
    at += length;
    const uint8_t first = sets[i][0];
    if ((first & 0x80) != 0 || ((first & 0x1F) != 7 && (first & 0x1F) != 8)) return 0;
  }
  const int spsIndex = (sets[0][0] & 0x1F) == 7 ? 0 : 1;
  if ((sets[spsIndex][0] & 0x1F) != 7 || (sets[1 - spsIndex][0] & 0x1F) != 8) return 0;
  static const uint8_t kStart[4] = {0, 0, 0, 1};
  for (int i : {spsIndex, 1 - spsIndex}) {
    if (!TryAppend(r->paramSets, kStart, kStart + 4) || !TryAppend(r->paramSets, sets[i].begin(), sets[i].end()))
      return 0;
  }
  return 1;
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
  r->nalLengthSize = 4;
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
    const Mp4Box& box = r->boxes[size_t(stts)];
    uint32_t entries = 0;
    if (ok) ok = ReadU32(r, box, 4, &entries);
    uint64_t total = 0, covered = 0;
    std::vector<uint8_t> table;
    uint32_t usable = uint32_t(box.contentSize >= 8 ? (box.contentSize - 8) / 8 : 0);
    if (entries > usable) entries = usable;
    if (ok) ok = ReadTable(r, box, 8, uint64_t(entries) * 8, &table);
    for (uint32_t e = 0; ok && e < entries && covered < 100; ++e) {
      const uint32_t count = Be32(&table[size_t(e) * 8]);
      const uint32_t delta = Be32(&table[size_t(e) * 8 + 4]);
      total += uint32_t(count * delta);
      covered += count;
    }
    if (ok && covered > 0) {
      const unsigned __int128 interval =
          (unsigned __int128)total * 1000000u / ((unsigned __int128)timescale * covered);
      ok = interval > 0 && interval <= 0xFFFFFFFFu;
      r->frameIntervalUs = uint32_t(interval);
    } else {
      ok = false;  // no durations: the file has no time base to play at
    }
  }
  if (ok) {
    ok = TryAssign(r->samples, r->sampleCount, Mp4Sample{}) && ReadSampleSizes(r) && PlaceSamples(r) && ReadParamSets(r, &r->nalLengthSize) && ReadSyncSamples(r);
  }
  if (ok) {
    r->frameCount = r->sampleCount;
    ok = TryAssign(r->frameMap, r->sampleCount, uint32_t(0)) && TryAssign(r->sampleFrame, r->sampleCount, kNoFrame);
  }
  if (!ok) {
    Mp4ReaderFree(r);
    return nullptr;
  }
  return r;
}

void Mp4ReaderFree(Mp4Reader* r) {
  if (!r) return;
  H264DecoderDestroy(r->cursor.decoder);
  H264DecoderDestroy(r->indexer.decoder);
  if (r->source.file) fclose(r->source.file);
  delete r;
}

// ---------------------------------------------------------------------------------------
// Decoding

namespace {

// Feeds sample s (with the parameter sets in front when asked) as one Annex B access unit.
// The time stamp s + 1 comes back with the picture the sample coded.
int FeedSample(Mp4Reader* r, ISVCDecoder* dec, uint32_t s, bool withParams, H264Picture* pic, int* ready) {
  *ready = 0;
  const Mp4Sample& sample = r->samples[s];
  std::vector<uint8_t>& unit = r->unit;
  unit.clear();
  if (withParams && !TryAppend(unit, r->paramSets.begin(), r->paramSets.end())) return -1;
  const size_t base = unit.size();
  if (!TryResize(unit, base + sample.size)) return -1;
  if (!Mp4SourceRead(&r->source, sample.offset, unit.data() + base, sample.size)) return -1;
  // Length prefixes become start codes; units keep their bytes, so the length size must
  // be 4 to rewrite in place, otherwise the unit is rebuilt.
  std::vector<uint8_t> rebuilt;
  const uint32_t ls = r->nalLengthSize;
  size_t at = base;
  const size_t end = unit.size();
  if (ls == 4) {
    while (at < end) {
      if (end - at < 4) return -1;
      const uint64_t len = Be32(&unit[at]);
      if (len > end - at - 4) return -1;
      unit[at] = unit[at + 1] = unit[at + 2] = 0;
      unit[at + 3] = 1;
      at += 4 + len;
    }
  } else {
    if (!TryAppend(rebuilt, unit.begin(), unit.begin() + long(base))) return -1;
    while (at < end) {
      if (end - at < ls) return -1;
      uint64_t len = 0;
      for (uint32_t i = 0; i < ls; ++i) len = len << 8 | unit[at + i];
      if (len > end - at - ls) return -1;
      static const uint8_t kStart[4] = {0, 0, 0, 1};
      if (!TryAppend(rebuilt, kStart, kStart + 4) ||
          !TryAppend(rebuilt, unit.begin() + long(at + ls), unit.begin() + long(at + ls + len)))
        return -1;
      at += ls + len;
    }
    unit.swap(rebuilt);
  }
  return H264Decode(dec, unit.data(), unit.size(), uint64_t(s) + 1, pic, ready);
}

// The decoder holds pictures back to hand them out in display order; openh264 may reuse
// a held picture's memory once a new coded video sequence starts, so every held picture
// is handed out before a sync sample is fed.  Returns 1 with a picture, 0 when none came
// out of this step, -1 when the cursor has nothing more to give.
int CursorStep(Mp4Reader* r, Mp4Cursor* c, H264Picture* pic) {
  int ready = 0;
  if (!c->decoder) return -1;
  if (c->draining || c->ended) {
    H264Decode(c->decoder, nullptr, 0, 0, pic, &ready);
    if (ready) return 1;
    if (c->ended) return -1;
    c->draining = false;
  }
  if (c->next >= r->sampleCount) {
    c->ended = true;
    return 0;
  }
  const uint32_t s = c->next;
  if (s != c->start && r->samples[s].sync && !c->draining) {
    // Drain first; the flag clears when nothing more comes out.
    c->draining = true;
    H264Decode(c->decoder, nullptr, 0, 0, pic, &ready);
    if (ready) return 1;
    c->draining = false;
  }
  ++c->next;
  FeedSample(r, c->decoder, s, s == c->start, pic, &ready);
  return ready;
}

int CursorStart(Mp4Cursor* c, uint32_t start) {
  H264DecoderDestroy(c->decoder);
  *c = Mp4Cursor{};
  c->decoder = H264DecoderCreate();
  c->start = c->next = start;
  return c->decoder ? 1 : 0;
}

void CursorEnd(Mp4Cursor* c) {
  H264DecoderDestroy(c->decoder);
  *c = Mp4Cursor{};
}

// The frame a decoded picture belongs to, kNoFrame when not (yet) known.
uint32_t PictureFrame(const Mp4Reader* r, const H264Picture& pic) {
  if (pic.timestamp == 0 || pic.timestamp > r->sampleCount) return kNoFrame;
  return r->sampleFrame[size_t(pic.timestamp - 1)];
}

// One step of the sequential indexing decode: runs until one more frame is known (1) or
// the stream is exhausted (0).
int IndexStep(Mp4Reader* r) {
  H264Picture pic;
  for (;;) {
    const int got = CursorStep(r, &r->indexer, &pic);
    if (got < 0) break;
    if (got == 0 || pic.timestamp == 0 || pic.timestamp > r->sampleCount) continue;
    const uint32_t c = uint32_t(pic.timestamp - 1);
    if (r->sampleFrame[c] != kNoFrame) continue;
    r->frameMap[r->indexedFrames] = c;
    r->sampleFrame[c] = r->indexedFrames;
    ++r->indexedFrames;
    return 1;
  }
  // Exhausted: the frames found are all there is.
  CursorEnd(&r->indexer);
  r->indexComplete = true;
  r->frameCount = r->indexedFrames;
  return 0;
}

void ClearFrameDecoder(Mp4Reader* r) {
  CursorEnd(&r->cursor);
  r->havePicture = false;
  r->lastFrame = -1;
}

// Feeds the frame decoder onwards until the picture of frame f comes out.  1 on success;
// 0 when it passed by, could not be decoded, or the stream ended.
int RunUntil(Mp4Reader* r, uint32_t f, uint32_t codedSample) {
  H264Picture pic;
  for (;;) {
    // A picture shows up within the reorder depth after its sample, or never.
    if (r->cursor.next > codedSample + kMaxReorder) return 0;
    const int got = CursorStep(r, &r->cursor, &pic);
    if (got < 0) return 0;
    if (got == 0) continue;
    const uint32_t frame = PictureFrame(r, pic);
    r->havePicture = frame != kNoFrame;
    if (!r->havePicture) continue;
    r->pictureFrame = frame;
    r->planeY = pic.y;
    r->planeU = pic.u;
    r->planeV = pic.v;
    r->lumaStride = pic.lumaStride;
    r->chromaStride = pic.chromaStride;
    r->pictureWidth = pic.width;
    r->pictureHeight = pic.height;
    r->lastFrame = frame;
    if (frame == f) return 1;
    if (frame > f) return 0;
  }
}

uint32_t SyncAtOrBefore(const Mp4Reader* r, uint32_t s) {
  for (uint32_t k = s + 1; k-- > 0;)
    if (r->samples[k].sync) return k;
  return 0;
}

int RestartAt(Mp4Reader* r, uint32_t k, uint32_t f, uint32_t c) {
  ClearFrameDecoder(r);
  if (!CursorStart(&r->cursor, k)) return 0;
  return RunUntil(r, f, c);
}

void Output(Mp4Reader* r, uint8_t* out) {
  if (!out) return;
  I420ToRgb(int(r->trackWidth), int(r->trackHeight), int(r->codedWidth), r->planeY, r->planeU, r->planeV, out,
            r->lumaStride, r->chromaStride, r->pictureWidth, r->pictureHeight);
}

}  // namespace

int64_t Mp4FrameToSample(Mp4Reader* r, uint64_t frame) {
  if (!r || frame >= r->frameCount) return -1;
  while (frame >= r->indexedFrames && !r->indexComplete)
    if (!IndexStep(r)) break;
  if (frame >= r->indexedFrames) return -1;
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
  const uint32_t k = SyncAtOrBefore(r, c);
  // Carry on with the decoder in hand when the frame is still ahead of it and no sync
  // sample lies between: cheaper than a restart.
  if (r->cursor.decoder && int64_t(f) > r->lastFrame && k <= r->cursor.next && !r->samples[c].retried) {
    if (RunUntil(r, f, c)) {
      Output(r, out);
      return 1;
    }
  }
  uint32_t start = k;
  if (r->samples[c].retried && start > 0) start = SyncAtOrBefore(r, start - 1);
  if (RestartAt(r, start, f, c)) {
    Output(r, out);
    return 1;
  }
  // Some pictures (leading pictures of an open GOP) need the sync sample before.
  r->samples[c].retried = 1;
  if (start > 0) {
    const uint32_t earlier = SyncAtOrBefore(r, start - 1);
    if (RestartAt(r, earlier, f, c)) {
      Output(r, out);
      return 1;
    }
  }
  ClearFrameDecoder(r);
  if (out) memset(out, 0, need);
  return 0;
}

// ---------------------------------------------------------------------------------------
// Index

namespace {

int BuildIndex(Mp4Reader* r, MediaProgressFn progress, void* context) {
  if (!CursorStart(&r->indexer, 0)) return 0;
  // Frame 0 first: a file without a single decodable picture is no video.
  if (!IndexStep(r)) return 0;
  if (r->sampleCount == 1) {
    while (IndexStep(r)) {
    }
    return r->indexedFrames > 0;
  }
  if (progress) progress(r->indexedFrames, r->sampleCount, 1, context);
  while (IndexStep(r)) {
    if (progress && !progress(r->indexedFrames, r->sampleCount, 0, context)) {
      progress(r->indexedFrames, r->sampleCount, 2, context);
      return 1;  // cancelled: the rest is indexed when asked for
    }
  }
  if (progress) progress(r->indexedFrames, r->sampleCount, 2, context);
  return r->indexedFrames > 0;
}

}  // namespace

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
  if (!BuildIndex(r, progress, context)) {
    Mp4ReaderFree(r);
    return nullptr;
  }
  return r;
}

// ---------------------------------------------------------------------------------------
// Media glue

int Mp4OpenRead(MediaFile* file, const char* ansiPath, MediaProgressFn progress, void* context) {
  if (!file || !ansiPath) return 0;
  if (!OpenH264Load()) return 0;
  Mp4Reader* r = Mp4ReaderOpen(ansiPath, progress, context);
  if (!r) {
    OpenH264Release();
    return 0;
  }
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
  // The count shrinks once a cancelled index learns where the pictures end.
  file->info.frameCount = r->frameCount;
  return ok;
}

int Mp4Close(MediaFile* file) {
  if (!file) return 0;
  int result = 1;
  if (file->mp4Reader) {
    Mp4ReaderFree(file->mp4Reader);
    file->mp4Reader = nullptr;
    OpenH264Release();
  }
  if (file->mp4Writer) {
    result = Mp4WriterClose(file->mp4Writer);
    file->mp4Writer = nullptr;
    OpenH264Release();
  }
  return result;
}

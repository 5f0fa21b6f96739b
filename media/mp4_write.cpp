// mp4_write.cpp - MP4 writer: "ftyp", one "mdat" with a 64-bit size that grows frame by
// frame, and the "moov" with the sample tables written when the file is closed.
// Inside: time base - create - frames - moov - close - media glue
#include "media/mp4.h"
#include "media/alloc_util.h"
#include "media/h264.h"
#include "media/media_file.h"

#include <unistd.h>

#include <cstring>
#include <new>

void Mp4TimeBase(uint32_t intervalUs, uint32_t* outTimescale, uint32_t* outDelta) {
  // The AVI writer's rule, so that the file plays at the rate asked for and reads back the
  // same interval: 30000 ticks a second and 1001 a frame for 33367 us, not 29 and 1.
  if (intervalUs == 0) {
    *outTimescale = 1000000;
    *outDelta = 0;
    return;
  }
  MediaRateOfInterval(intervalUs, outDelta, outTimescale);
}

namespace {

constexpr uint64_t kMdatOffset = 32;
constexpr uint64_t kDataStart = 48;

// Big-endian box builder; 64-bit headers are patched when a box is complete.  A failed
// allocation clears `ok`; every later call then does nothing.
struct BoxWriter {
  std::vector<uint8_t> bytes;
  bool ok = true;
  void U8(uint32_t v) { ok = ok && TryPushBack(bytes, uint8_t(v)); }
  void U16(uint32_t v) {
    U8(v >> 8);
    U8(v);
  }
  void U32(uint32_t v) {
    U16(v >> 16);
    U16(v & 0xFFFF);
  }
  void U64(uint64_t v) {
    U32(uint32_t(v >> 32));
    U32(uint32_t(v));
  }
  void Type(const char* t) { ok = ok && TryAppend(bytes, t, t + 4); }
  void Zeros(size_t n) { ok = ok && TryResize(bytes, bytes.size() + n); }
  void Bytes(const std::vector<uint8_t>& b) { ok = ok && TryAppend(bytes, b.begin(), b.end()); }
  size_t Open32(const char* t) {
    size_t at = bytes.size();
    U32(0);
    Type(t);
    return at;
  }
  void Close32(size_t at) {
    if (!ok) return;
    const uint32_t size = uint32_t(bytes.size() - at);
    for (int i = 0; i < 4; ++i) bytes[at + i] = uint8_t(size >> (24 - 8 * i));
  }
  size_t Open64(const char* t) {
    size_t at = bytes.size();
    U32(1);
    Type(t);
    U64(8);
    return at;
  }
  void Close64(size_t at) {
    if (!ok) return;
    const uint64_t size = bytes.size() - at;
    for (int i = 0; i < 8; ++i) bytes[at + 8 + i] = uint8_t(size >> (56 - 8 * i));
  }
  void Matrix() {
    const uint32_t m[9] = {0x00010000, 0, 0, 0, 0x00010000, 0, 0, 0, 0x40000000};
    for (uint32_t v : m) U32(v);
  }
};

int BuildMoov(const Mp4Writer* w, std::vector<uint8_t>* out) {
  if (w->sampleCount == 0 || w->sps.size() < 4 + 2 || w->pps.size() < 1 + 2) return 0;
  uint32_t timescale = 0, delta = 0;
  Mp4TimeBase(w->frameIntervalUs, &timescale, &delta);
  const uint64_t longDuration = uint64_t(w->sampleCount) * delta;
  const uint32_t duration = longDuration > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(longDuration);
  BoxWriter b;
  const size_t moov = b.Open64("moov");
  size_t box = b.Open32("mvhd");
  b.U32(0);
  b.U32(0);
  b.U32(0);
  b.U32(timescale);
  b.U32(duration);
  b.U32(0x00010000);
  b.U16(0x0100);
  b.Zeros(2 + 8);
  b.Matrix();
  b.Zeros(24);
  b.U32(2);
  b.Close32(box);

  const size_t trak = b.Open64("trak");
  box = b.Open32("tkhd");
  b.U32(3);
  b.U32(0);
  b.U32(0);
  b.U32(1);
  b.U32(0);
  b.U32(duration);
  b.Zeros(8);
  b.U16(0);
  b.U16(0);
  b.U16(0);
  b.U16(0);
  b.Matrix();
  b.U32(w->trackWidth << 16);
  b.U32(w->trackHeight << 16);
  b.Close32(box);

  const size_t mdia = b.Open64("mdia");
  box = b.Open32("mdhd");
  b.U32(0);
  b.U32(0);
  b.U32(0);
  b.U32(timescale);
  b.U32(duration);
  b.U16(0x55C4);
  b.U16(0);
  b.Close32(box);
  box = b.Open32("hdlr");
  b.U32(0);
  b.U32(0);
  b.Type("vide");
  b.Zeros(12);
  b.Zeros(4);
  b.Close32(box);

  const size_t minf = b.Open64("minf");
  box = b.Open32("vmhd");
  b.U32(1);
  b.Zeros(8);
  b.Close32(box);
  // A data reference saying "in this file": strict players refuse a track without one.
  box = b.Open32("dinf");
  size_t dref = b.Open32("dref");
  b.U32(0);
  b.U32(1);
  size_t url = b.Open32("url ");
  b.U32(1);
  b.Close32(url);
  b.Close32(dref);
  b.Close32(box);

  const size_t stbl = b.Open64("stbl");
  box = b.Open32("stsd");
  b.U32(0);
  b.U32(1);
  size_t avc1 = b.Open32("avc1");
  b.Zeros(6);
  b.U16(1);
  b.Zeros(16);
  b.U16(w->trackWidth);
  b.U16(w->trackHeight);
  b.U32(0x00480000);
  b.U32(0x00480000);
  b.U32(0);
  b.U16(1);
  b.Zeros(32);
  b.U16(0x0018);
  b.U16(0xFFFF);
  size_t avcC = b.Open32("avcC");
  // Profile, compatibility and level as the stream's own SPS states them.
  b.U8(1);
  b.U8(w->sps[3]);
  b.U8(w->sps[4]);
  b.U8(w->sps[5]);
  b.U8(0xFF);
  b.U8(0xE1);
  b.Bytes(w->sps);
  b.U8(1);
  b.Bytes(w->pps);
  b.Close32(avcC);
  // The colours, as the stream's own parameters also state them: BT.709 primaries,
  // transfer and matrix, limited range.
  size_t colr = b.Open32("colr");
  b.Type("nclx");
  b.U16(1);
  b.U16(1);
  b.U16(1);
  b.U8(0);
  b.Close32(colr);
  b.Close32(avc1);
  b.Close32(box);

  box = b.Open32("stts");
  b.U32(0);
  b.U32(1);
  b.U32(w->sampleCount);
  b.U32(delta);
  b.Close32(box);

  box = b.Open32("stss");
  b.U32(0);
  b.U32(w->syncCount);
  for (uint32_t i = 0; i < w->sampleCount; ++i)
    if (w->sampleSync[i]) b.U32(i + 1);
  b.Close32(box);

  box = b.Open32("stsc");
  b.U32(0);
  b.U32(1);
  b.U32(1);
  b.U32(w->sampleCount);
  b.U32(1);
  b.Close32(box);

  box = b.Open32("stsz");
  b.U32(0);
  b.U32(0);
  b.U32(w->sampleCount);
  for (uint32_t i = 0; i < w->sampleCount; ++i) b.U32(w->sampleSizes[i]);
  b.Close32(box);

  // All samples are one chunk right after the mdat header; past 4 GiB of data the
  // offset table needs 64 bits, though the offset itself stays small.
  box = b.Open32("stco");
  b.U32(0);
  b.U32(1);
  b.U32(uint32_t(kDataStart));
  b.Close32(box);

  b.Close64(stbl);
  b.Close64(minf);
  b.Close64(mdia);
  b.Close64(trak);
  b.Close64(moov);
  if (!b.ok) return 0;
  out->swap(b.bytes);
  return 1;
}

int WriteAt(FILE* f, uint64_t offset, const void* data, size_t size) {
  if (fseeko(f, off_t(offset), SEEK_SET) != 0) return 0;
  return fwrite(data, 1, size, f) == size ? 1 : 0;
}

}  // namespace

Mp4Writer* Mp4WriterOpen(const char* path, uint32_t width, uint32_t height, uint32_t bitCount, uint32_t intervalUs,
                         const Mp4WriterSettings& settings) {
  if (!path || !*path || (bitCount != 8 && bitCount != 24) || intervalUs == 0) return nullptr;
  if (width == 0 || height == 0 || (width & 1) || (height & 1) || width > 16384 || height > 16384) return nullptr;
  Mp4Writer* w = new (std::nothrow) Mp4Writer();
  if (!w) return nullptr;
  w->trackWidth = width;
  w->trackHeight = height;
  w->bitCount = bitCount;
  w->frameIntervalUs = intervalUs;
  w->rgbFrameBytes = uint64_t(width) * height * 3;
  w->i420Bytes = uint64_t(width) * height * 3 / 2;
  w->rawBitRate = uint32_t(uint64_t(1000000 / intervalUs) * w->i420Bytes * 8);
  w->qualityPct = settings.qualityPct > 101 ? 101 : settings.qualityPct;
  w->bitRate = settings.bitRate;
  w->keyInterval = settings.keyInterval;
  if (w->qualityPct == 0 && w->bitRate == 0) w->bitRate = 5000000;

  FILE* f = fopen(path, "wb");
  if (f) fclose(f);
  w->stream = f ? fopen(path, "wb+") : nullptr;
  if (!w->stream) {
    delete w;
    return nullptr;
  }
  BoxWriter b;
  b.U32(32);
  b.Type("ftyp");
  b.Type("isom");
  b.U32(512);
  b.Type("isom");
  b.Type("iso2");
  b.Type("avc1");
  b.Type("mp41");
  b.U32(1);
  b.Type("mdat");
  b.U64(0);
  if (!b.ok || !WriteAt(w->stream, 0, b.bytes.data(), b.bytes.size())) {
    fclose(w->stream);
    delete w;
    return nullptr;
  }
  w->position = kDataStart;
  w->mdatSize = kDataStart - kMdatOffset;
  return w;
}

int Mp4WriterAddFrame(Mp4Writer* w, const uint8_t* frame) {
  if (!w || !frame || w->sampleCount >= 4294967294u) return 0;
  ++w->sampleCount;
  if (!w->encoder) {
    uint64_t rate;
    if (w->qualityPct == 0) rate = w->bitRate;
    else if (w->qualityPct <= 100) rate = uint64_t(w->rawBitRate) * w->qualityPct / 1000;
    else rate = w->rawBitRate;
    if (rate == 0) rate = 5000000;
    uint32_t accepted = uint32_t(rate > 0xFFFFFFFFu ? 0xFFFFFFFFu : rate);
    w->encoder = H264EncoderCreate(w, &accepted);
    if (!w->encoder) {
      --w->sampleCount;
      return 0;
    }
    w->baseBitRate = w->currentBitRate = w->peakBitRate = accepted;
  }
  const size_t pixels = size_t(w->trackWidth) * w->trackHeight;
  const uint8_t* rgb = frame;
  if (w->bitCount == 8) {
    // Gray frames go through the gray ramp (entry i is i, i, i).
    if (!TryResize(w->rgb, pixels * 3)) {
      --w->sampleCount;
      return 0;
    }
    for (size_t i = 0; i < pixels; ++i) w->rgb[3 * i] = w->rgb[3 * i + 1] = w->rgb[3 * i + 2] = frame[i];
    rgb = w->rgb.data();
  }
  if (!TryResize(w->i420, size_t(w->i420Bytes))) {
    --w->sampleCount;
    return 0;
  }
  uint8_t* y = w->i420.data();
  uint8_t* u = y + pixels;
  uint8_t* v = u + pixels / 4;
  RgbToI420(int(w->trackWidth), int(w->trackHeight), rgb, y, u, v);
  // Each frame starts at the end of the good data, so a failed frame leaves nothing.
  int sync = 0;
  uint64_t size = 0;
  if (fseeko(w->stream, off_t(w->position), SEEK_SET) == 0) size = H264EncodeFrame(w, &w->encoder, y, u, v, &sync);
  if (size == 0 || size > 0xFFFFFFFFu) {
    --w->sampleCount;
    return 0;
  }
  // The frame's bytes lie past `position` until both tables hold it; otherwise the next
  // frame writes over them and closing cuts them off.
  if (!TryPushBack(w->sampleSizes, uint32_t(size))) {
    --w->sampleCount;
    return 0;
  }
  if (!TryPushBack(w->sampleSync, uint32_t(sync))) {
    w->sampleSizes.pop_back();
    --w->sampleCount;
    return 0;
  }
  if (sync) ++w->syncCount;
  w->position += size;
  w->mdatSize += size;
  return 1;
}

int Mp4WriterClose(Mp4Writer* w) {
  if (!w) return 0;
  int ok = 1;
  if (w->position % 8 != 0) {
    static const uint8_t kZeros[8] = {};
    const size_t pad = size_t(8 - w->position % 8);
    if (WriteAt(w->stream, w->position, kZeros, pad)) {
      w->position += pad;
      w->mdatSize += pad;
    } else {
      ok = 0;
    }
  }
  std::vector<uint8_t> moov;
  if (ok) ok = BuildMoov(w, &moov);
  if (ok) ok = WriteAt(w->stream, w->position, moov.data(), moov.size());
  if (ok) {
    uint8_t size[8];
    for (int i = 0; i < 8; ++i) size[i] = uint8_t(w->mdatSize >> (56 - 8 * i));
    ok = WriteAt(w->stream, kMdatOffset + 8, size, 8);
  }
  // Frames that failed after writing part of their data leave bytes past the end.
  if (ok) ok = fflush(w->stream) == 0 && ftruncate(fileno(w->stream), off_t(w->position + moov.size())) == 0;
  H264EncoderDestroy(w->encoder);
  if (fclose(w->stream) != 0) ok = 0;
  delete w;
  return ok;
}

// ---------------------------------------------------------------------------------------
// Media glue

int Mp4OpenWrite(MediaFile* file, const char* ansiPath) {
  if (!file || !ansiPath) return 0;
  const MediaInfo& info = file->info;
  if (info.width > 0xFFFFFFFFu || info.height > 0xFFFFFFFFu || info.frameIntervalUs > 0xFFFFFFFFu ||
      (info.bytesPerPixel != 1 && info.bytesPerPixel != 3))
    return 0;
  if (!OpenH264Load()) return 0;
  Mp4WriterSettings settings{file->options.h264QualityPct, file->options.h264BitRate, file->options.h264KeyInterval};
  Mp4Writer* w = Mp4WriterOpen(ansiPath, uint32_t(info.width), uint32_t(info.height),
                               uint32_t(info.bytesPerPixel * 8), uint32_t(info.frameIntervalUs), settings);
  if (!w) {
    OpenH264Release();
    return 0;
  }
  file->mp4Writer = w;
  return 1;
}

int Mp4WriteFrames(MediaFile* file, uint64_t plane, uint64_t count, const void* buffer) {
  if (!file || !file->mp4Writer || plane != 0) return 0;
  if (count == 0) return 1;
  if (!buffer) return 0;
  Mp4Writer* w = file->mp4Writer;
  const uint64_t frameBytes = uint64_t(w->trackWidth) * w->trackHeight * (w->bitCount / 8);
  const uint8_t* in = static_cast<const uint8_t*>(buffer);
  for (uint64_t i = 0; i < count; ++i)
    if (!Mp4WriterAddFrame(w, in + i * frameBytes)) return 0;
  return 1;
}

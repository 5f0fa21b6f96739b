// mp4_test.cpp - MP4 reader and writer: box tree and sample tables on files built here,
// round trips through the media handle, files checked and made by ffmpeg, progress and
// cancel of the frame index, and a deterministic mutation run over damaged files.
#include "media/alloc_util.h"
#include "media/h264.h"
#include "media/media_file.h"
#include "media/mp4.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/media/media_fixtures.h"

namespace {

using fixtures::HaveFfmpeg;
using fixtures::RunCapture;
using fixtures::Wide;

// ---------------------------------------------------------------------------------------
// Helpers

std::string OutPath(const std::string& name) { return std::string(QV_TEST_OUT_DIR) + "/mp4_" + name; }

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::vector<uint8_t>& data) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
}

// A smooth moving pattern: compresses well, so high PSNR is reachable at small sizes.
std::vector<uint8_t> MakeFrame(int w, int h, int n, int bpp) {
  std::vector<uint8_t> f(size_t(w) * h * bpp);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = &f[(size_t(y) * w + x) * bpp];
      const int r = (x * 4 + n * 3) & 255, g = (y * 5 + n * 2) & 255, b = ((x + y) * 2 + n) & 255;
      if (bpp == 1) {
        p[0] = uint8_t((r + g) / 2);
      } else {
        p[0] = uint8_t(64 + r / 2);
        p[1] = uint8_t(64 + g / 2);
        p[2] = uint8_t(64 + b / 2);
      }
    }
  return f;
}

double Psnr(const uint8_t* a, const uint8_t* b, size_t n) {
  double se = 0;
  for (size_t i = 0; i < n; ++i) {
    const double d = double(a[i]) - double(b[i]);
    se += d * d;
  }
  if (se == 0) return 99.0;
  return 10 * std::log10(255.0 * 255.0 / (se / double(n)));
}

// ffmpeg's decode of a file as I420, turned into R,G,B with our own conversion by the matrix
// the file's colours call for, so that only the decoders are compared.
std::vector<uint8_t> FfmpegFramesRgb(const std::string& path, int w, int h, size_t* outFrames,
                                     const YuvMatrix& matrix) {
  const std::string yuvPath = path + ".ff.yuv";
  const std::string cmd = "ffmpeg -v error -y -i '" + path + "' -f rawvideo -pix_fmt yuv420p '" + yuvPath + "'";
  if (system(cmd.c_str()) != 0) return {};
  std::vector<uint8_t> yuv = ReadAll(yuvPath);
  unlink(yuvPath.c_str());
  const size_t frameBytes = size_t(w) * h * 3 / 2;
  const size_t frames = yuv.size() / frameBytes;
  std::vector<uint8_t> rgb(frames * size_t(w) * h * 3);
  for (size_t f = 0; f < frames; ++f) {
    const uint8_t* y = &yuv[f * frameBytes];
    const uint8_t* u = y + size_t(w) * h;
    const uint8_t* v = u + size_t(w) * h / 4;
    I420ToRgb(w, h, w, y, u, v, &rgb[f * size_t(w) * h * 3], w, w / 2, w, h, matrix);
  }
  *outFrames = frames;
  return rgb;
}

MediaFile* OpenMp4(const std::string& path, MediaProgressFn progress = nullptr, void* ctx = nullptr) {
  return MediaOpen(Wide(path).c_str(), progress, ctx);
}

// Random noise: nothing to predict, so a coded frame can need more bytes than the raw
// picture when the quantiser is fine.
std::vector<uint8_t> MakeNoise(int w, int h, int n, int bpp) {
  std::vector<uint8_t> f(size_t(w) * h * bpp);
  uint32_t state = 0x9E3779B9u * uint32_t(n + 1);
  for (uint8_t& b : f) {
    state = state * 1664525u + 1013904223u;
    b = uint8_t(state >> 24);
  }
  return f;
}

typedef std::vector<uint8_t> (*FrameMaker)(int w, int h, int n, int bpp);

// Writes frames through the media handle; returns MediaClose's result.
int WriteMp4(const std::string& path, int w, int h, int frames, uint64_t bpp, uint64_t intervalUs,
             MediaWriteOptions opts, std::vector<std::vector<uint8_t>>* outFrames = nullptr,
             FrameMaker make = MakeFrame) {
  MediaInfo info{};
  info.kind = MediaKindVideo;
  info.planes = 1;
  info.frameCount = uint64_t(frames);
  info.bytesPerPixel = bpp;
  info.width = uint64_t(w);
  info.height = uint64_t(h);
  info.frameIntervalUs = intervalUs;
  MediaFile* file = MediaCreate(Wide(path).c_str(), &info, &opts);
  if (!file) return -1;
  for (int n = 0; n < frames; ++n) {
    std::vector<uint8_t> frame = make(w, h, n, int(bpp));
    EXPECT_EQ(MediaWriteFrame(file, 0, 0, frame.data()), 1) << n;
    if (outFrames) outFrames->push_back(frame);
  }
  return MediaClose(file);
}

MediaWriteOptions Options(uint32_t bitRate, uint32_t keyInterval, uint32_t quality = 0) {
  MediaWriteOptions o{};
  o.h264BitRate = bitRate;
  o.h264KeyInterval = keyInterval;
  o.h264QualityPct = quality;
  return o;
}

class LibraryHold : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(OpenH264Load(), 1) << "libopenh264.so.7 is installed by the set-up script"; }
  void TearDown() override { OpenH264Release(); }
};

// ---------------------------------------------------------------------------------------
// MP4 files built byte by byte

std::string U32(uint32_t v) {
  return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}
std::string U16(uint32_t v) { return std::string{char(v >> 8), char(v)}; }
std::string Box(const char* type, const std::string& payload) { return U32(uint32_t(8 + payload.size())) + type + payload; }
std::string Zeros(size_t n) { return std::string(n, '\0'); }

struct Synth {
  uint16_t width = 64, height = 48;
  uint32_t timescale = 25;
  std::vector<std::pair<uint32_t, uint32_t>> stts = {{9, 1}};
  std::vector<uint32_t> sizes = {10, 10, 10, 10, 10, 10, 10, 10, 10};
  std::vector<uint32_t> tableSizes;          // sizes "stsz" states, when not those written
  uint32_t stszCount = 0;                    // 0: the number of sizes
  bool stz2Nibbles = false;                  // sizes as a 4-bit "stz2" instead of "stsz"
  std::vector<uint32_t> stsc = {1, 2, 1};    // triples
  int64_t chunkOffsetBias = 0;               // added to every chunk offset
  bool haveStss = true;
  std::vector<uint32_t> stss = {1, 5};
  uint32_t stssCount = 0;                    // 0: the number of entries
  bool silentFirstTrack = false;             // a track with volume 256 before the video
  bool emptyUdta = false;
  bool haveMdat = true;
  uint16_t spsLength = 4;
  uint64_t mdatGap = 0;                      // zero bytes after the samples (sparse on disk)
  size_t dropChunks = 0;                     // chunk offsets left out at the end of "stco"
};

std::string Track(const Synth& s, uint16_t volume, uint16_t w, uint16_t h, const std::vector<uint32_t>& chunkOffsets) {
  std::string tkhd = U32(3) + Zeros(8) + U32(1) + Zeros(4) + U32(9) + Zeros(8) + U16(0) + U16(0) + U16(volume) + U16(0) +
                     Zeros(36) + U32(uint32_t(w) << 16) + U32(uint32_t(h) << 16);
  std::string mdhd = U32(0) + Zeros(8) + U32(s.timescale) + U32(9) + U16(0x55C4) + U16(0);
  std::string hdlr = U32(0) + U32(0) + "vide" + Zeros(12) + Zeros(1);
  std::string sps = std::string(1, char(0x67)) + Zeros(s.spsLength - 1);
  std::string avcC = std::string{1, 66, 0, 30, char(0xFF), char(0xE1)} + U16(s.spsLength) + sps + std::string(1, 1) +
                     U16(2) + std::string{char(0x68), 0};
  std::string avc1 = Zeros(6) + U16(1) + Zeros(16) + U16(w) + U16(h) + U32(0x480000) + U32(0x480000) + U32(0) + U16(1) +
                     Zeros(32) + U16(24) + U16(0xFFFF) + Box("avcC", avcC);
  std::string stsd = U32(0) + U32(1) + Box("avc1", avc1);
  std::string stts = U32(0) + U32(uint32_t(s.stts.size()));
  for (auto& e : s.stts) stts += U32(e.first) + U32(e.second);
  const uint32_t count = s.stszCount ? s.stszCount : uint32_t(s.sizes.size());
  std::string sizes;
  if (s.stz2Nibbles) {
    std::string table = Zeros(3) + std::string(1, 4) + U32(count);
    for (size_t i = 0; i < s.sizes.size(); i += 2)
      table += char((s.sizes[i] << 4) | (i + 1 < s.sizes.size() ? s.sizes[i + 1] : 0));
    sizes = Box("stz2", U32(0) + table.substr(4));
    sizes = Box("stz2", U32(0) + Zeros(3) + std::string(1, 4) + U32(count) + table.substr(8));
  } else {
    std::string table = U32(0) + U32(0) + U32(count);
    for (uint32_t v : s.tableSizes.empty() ? s.sizes : s.tableSizes) table += U32(v);
    sizes = Box("stsz", table);
  }
  std::string stsc = U32(0) + U32(uint32_t(s.stsc.size() / 3));
  for (uint32_t v : s.stsc) stsc += U32(v);
  const size_t chunks = chunkOffsets.size() - std::min(s.dropChunks, chunkOffsets.size());
  std::string stco = U32(0) + U32(uint32_t(chunks));
  for (size_t i = 0; i < chunks; ++i) stco += U32(uint32_t(int64_t(chunkOffsets[i]) + s.chunkOffsetBias));
  std::string stss = U32(0) + U32(s.stssCount ? s.stssCount : uint32_t(s.stss.size()));
  for (uint32_t v : s.stss) stss += U32(v);
  std::string stbl = Box("stsd", stsd) + Box("stts", stts) + sizes + Box("stsc", stsc) + Box("stco", stco);
  if (s.haveStss) stbl += Box("stss", stss);
  std::string minf = Box("vmhd", U32(1) + Zeros(8)) + Box("stbl", stbl);
  std::string mdia = Box("mdhd", mdhd) + Box("hdlr", hdlr) + Box("minf", minf);
  return Box("trak", Box("tkhd", tkhd) + Box("mdia", mdia));
}

// ftyp, mdat with the samples (then mdatGap zero bytes), moov.  Chunk offsets follow the
// "stsc" runs over the samples as laid out one after another.
std::vector<uint8_t> BuildFile(const Synth& s, std::string* outMoov = nullptr) {
  std::string ftyp = Box("ftyp", std::string("isom") + U32(512) + "isomavc1");
  const uint64_t dataStart = ftyp.size() + 16;
  std::vector<uint32_t> offsets;
  {
    uint64_t at = dataStart;
    size_t sample = 0;
    for (size_t e = 0; e < s.stsc.size() / 3 && sample < s.sizes.size(); ++e) {
      const uint32_t first = s.stsc[e * 3], per = s.stsc[e * 3 + 1];
      const uint32_t next = e + 1 < s.stsc.size() / 3 ? s.stsc[(e + 1) * 3] : 0xFFFFFFFF;
      for (uint32_t c = first; c < next && sample < s.sizes.size() && per > 0; ++c) {
        offsets.push_back(uint32_t(at));
        for (uint32_t k = 0; k < per && sample < s.sizes.size(); ++k) at += s.sizes[sample++];
      }
    }
  }
  std::string data;
  for (size_t i = 0; i < s.sizes.size(); ++i) {
    const uint32_t body = s.sizes[i] >= 4 ? s.sizes[i] - 4 : 0;
    data += U32(body).substr(0, s.sizes[i] >= 4 ? 4 : s.sizes[i]) + std::string(body, char(0x65));
  }
  std::string moovBody = Box("mvhd", U32(0) + Zeros(8) + U32(s.timescale) + U32(9) + U32(0x10000) + U16(0x100) +
                                         Zeros(10) + Zeros(36) + Zeros(24) + U32(2));
  if (s.silentFirstTrack) moovBody += Track(s, 0x100, 32, 32, offsets);
  moovBody += Track(s, 0, s.width, s.height, offsets);
  if (s.emptyUdta) moovBody += Box("udta", "");
  std::string moov = Box("moov", moovBody);
  if (outMoov) *outMoov = moov;
  std::string file = ftyp;
  if (s.haveMdat) {
    const uint64_t mdatSize = 16 + data.size() + s.mdatGap;
    file += U32(1) + "mdat" + U32(uint32_t(mdatSize >> 32)) + U32(uint32_t(mdatSize));
  } else {
    file += U32(16) + "free" + Zeros(8);
  }
  file += data;
  if (s.mdatGap == 0) file += moov;
  return std::vector<uint8_t>(file.begin(), file.end());
}

// Writes the file BuildFile makes for s with its mdat gap left as a sparse hole, so a file
// of gigabytes takes a few kilobytes, and opens it for reading; *outSize is its length.
void WriteSparseFile(const Synth& s, const std::string& path, FILE** outIn, uint64_t* outSize) {
  std::string moov;
  std::vector<uint8_t> head = BuildFile(s, &moov);
  FILE* f = fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  fwrite(head.data(), 1, head.size(), f);
  ASSERT_EQ(fseeko(f, off_t(head.size() + s.mdatGap), SEEK_SET), 0);
  fwrite(moov.data(), 1, moov.size(), f);
  fclose(f);
  FILE* in = fopen(path.c_str(), "rb");
  ASSERT_NE(in, nullptr);
  fseeko(in, 0, SEEK_END);
  *outSize = uint64_t(ftello(in));
  *outIn = in;
}

Mp4Reader* ParseMemory(const std::vector<uint8_t>& bytes) {
  return Mp4ReaderParse(Mp4Source{nullptr, bytes.data(), bytes.size()});
}

TEST(Mp4Parse, SampleTablesOfABuiltFile) {
  Synth s;
  std::vector<uint8_t> bytes = BuildFile(s);
  Mp4Reader* r = ParseMemory(bytes);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->trackWidth, 64u);
  EXPECT_EQ(r->trackHeight, 48u);
  EXPECT_EQ(r->sampleCount, 9u);
  EXPECT_EQ(r->frameIntervalUs, 40000u);
  // One "stsc" run (1, 2, 1) over 9 samples: chunks 1 to 5, the last holding one sample.
  const uint64_t dataStart = 24 + 16;  // ftyp of 24 bytes, 64-bit mdat header
  for (uint32_t i = 0; i < 9; ++i) {
    EXPECT_EQ(r->samples[i].offset, dataStart + 10 * i) << i;
    EXPECT_EQ(r->samples[i].size, 10u);
    EXPECT_EQ(r->samples[i].sync, (i == 0 || i == 4) ? 1 : 0) << i;
  }
  Mp4ReaderFree(r);
}

struct IntervalCase {
  const char* name;
  uint32_t timescale;
  std::vector<std::pair<uint32_t, uint32_t>> stts;
  uint32_t interval;
};

TEST(Mp4Parse, FrameIntervalFromTheTimeToSampleTable) {
  const IntervalCase cases[] = {
      // (30000 + 285285) * 1000000 / (90000 * 105); the third entry is not read.
      {"two entries reach 100 samples", 90000, {{10, 3000}, {95, 3003}, {5, 1}}, 33363},
      {"NTSC rate, rounded to the nearest microsecond", 30000, {{9, 1001}}, 33367},
      {"film NTSC rate", 24000, {{9, 1001}}, 41708},
      // 9 million frames in one entry: 9009000000 ticks, past 32 bits.
      {"a long video in one entry", 30000, {{9000000, 1001}}, 33367},
      {"one tick a frame", 30, {{9, 1}}, 33333},
      {"slower than a second", 1000000, {{9, 2000000}}, 2000000},
  };
  for (const IntervalCase& c : cases) {
    Synth s;
    s.timescale = c.timescale;
    s.stts = c.stts;
    std::vector<uint8_t> bytes = BuildFile(s);
    Mp4Reader* r = ParseMemory(bytes);
    ASSERT_NE(r, nullptr) << c.name;
    EXPECT_EQ(r->frameIntervalUs, c.interval) << c.name;
    Mp4ReaderFree(r);
  }
}

TEST(Mp4Parse, TrackChoiceSizesAndSyncTable) {
  {
    Synth s;
    s.silentFirstTrack = true;  // volume 256 is passed over
    std::vector<uint8_t> bytes = BuildFile(s);
    Mp4Reader* r = ParseMemory(bytes);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->trackWidth, 64u);
    Mp4ReaderFree(r);
  }
  {
    Synth s;
    s.haveStss = false;  // no table: every sample is a sync sample
    std::vector<uint8_t> bytes = BuildFile(s);
    Mp4Reader* r = ParseMemory(bytes);
    ASSERT_NE(r, nullptr);
    for (const Mp4Sample& m : r->samples) EXPECT_EQ(m.sync, 1);
    Mp4ReaderFree(r);
  }
  {
    Synth s;
    s.stz2Nibbles = true;  // 4-bit sizes: sample 0 the high nibble, sample 1 the low one
    s.sizes = {9, 6, 8, 7, 9, 6, 8, 7, 9};
    std::vector<uint8_t> bytes = BuildFile(s);
    Mp4Reader* r = ParseMemory(bytes);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->samples[0].size, 9u);
    EXPECT_EQ(r->samples[1].size, 6u);
    EXPECT_EQ(r->samples[8].size, 9u);
    EXPECT_EQ(r->samples[8].offset, 40u + 9 + 6 + 8 + 7 + 9 + 6 + 8 + 7);
    Mp4ReaderFree(r);
  }
}

struct BadCase {
  const char* name;
  void (*change)(Synth&);
};

TEST(Mp4Parse, DamagedFilesAreRefused) {
  const BadCase cases[] = {
      {"empty udta container", [](Synth& s) { s.emptyUdta = true; }},
      {"timescale 0", [](Synth& s) { s.timescale = 0; }},
      {"no durations", [](Synth& s) { s.stts.clear(); }},
      {"sample count beyond its table", [](Synth& s) { s.stszCount = 1000; }},
      {"chunk offset past the file", [](Synth& s) { s.chunkOffsetBias = 100000; }},
      {"sample size 0", [](Synth& s) { s.sizes[3] = 0; }},
      {"run starting at chunk 0", [](Synth& s) { s.stsc = {0, 2, 1}; }},
      {"runs going backwards", [](Synth& s) { s.stsc = {2, 2, 1, 1, 2, 1}; }},
      {"more chunks than offsets", [](Synth& s) { s.dropChunks = 1; }},
      {"no mdat", [](Synth& s) { s.haveMdat = false; }},
      {"sync count 0", [](Synth& s) { s.stss.clear(); }},
      {"sync count beyond the samples", [](Synth& s) { s.stssCount = 10; }},
      {"sync count beyond its table", [](Synth& s) { s.stssCount = 5; }},
      {"parameter set past avcC", [](Synth& s) { s.spsLength = 0x4000; }},
      {"zero track size", [](Synth& s) { s.width = 0; }},
      {"huge track size", [](Synth& s) { s.width = 40000; }},
  };
  for (const BadCase& c : cases) {
    Synth s;
    c.change(s);
    std::vector<uint8_t> bytes = BuildFile(s);
    if (std::string(c.name) == "parameter set past avcC") {
      // The length field says 0x4000 but only 4 bytes follow: shorten the written set.
      Synth ok;
      std::vector<uint8_t> good = BuildFile(ok);
      bytes = good;
      for (size_t i = 0; i + 8 < bytes.size(); ++i)
        if (memcmp(&bytes[i], "avcC", 4) == 0) {
          bytes[i + 4 + 6] = 0x40;
          break;
        }
    }
    Mp4Reader* r = ParseMemory(bytes);
    EXPECT_EQ(r, nullptr) << c.name;
    Mp4ReaderFree(r);
  }
  // A top-level box that claims more than the file holds.
  Synth s;
  std::vector<uint8_t> bytes = BuildFile(s);
  bytes.resize(bytes.size() - 1);
  EXPECT_EQ(ParseMemory(bytes), nullptr);
}

// A damaged track holding a great many track headers is looked at once, not once per
// header: each search of its subtree would otherwise cover every header again, and a
// file of a few megabytes would keep the open busy for minutes.
TEST(Mp4Parse, ManyTrackHeadersInOneTrackAreSearchedOnce) {
  std::string tkhd = Box("tkhd", Zeros(84));  // version 0, volume 0, no sample entry anywhere
  std::string headers;
  headers.reserve(tkhd.size() * 150000);
  for (int i = 0; i < 150000; ++i) headers += tkhd;
  std::string file = Box("ftyp", std::string("isom") + U32(512)) + Box("mdat", Zeros(8)) +
                     Box("moov", Box("trak", headers));
  std::vector<uint8_t> bytes(file.begin(), file.end());
  EXPECT_EQ(ParseMemory(bytes), nullptr);
}

// Each growth of the box list and sample tables fails in turn: every one of them refuses
// the open (no abort, no leak), and once none fails the file opens as before.
TEST(Mp4Parse, EveryFailedAllocationRefusesTheOpen) {
  Synth s;
  std::vector<uint8_t> bytes = BuildFile(s);
  int refused = 0;
  bool clean = false;
  for (long n = 1; n < 10000 && !clean; ++n) {
    g_mediaAllocFailAt = n;
    Mp4Reader* r = ParseMemory(bytes);
    clean = g_mediaAllocFailAt != 0;  // the parse needed fewer than n growths
    g_mediaAllocFailAt = 0;
    if (clean) {
      ASSERT_NE(r, nullptr) << n;
      EXPECT_EQ(r->sampleCount, 9u);
      EXPECT_EQ(r->frameMap.size(), 9u);
      EXPECT_EQ(r->sampleFrame.size(), 9u);
    } else {
      EXPECT_EQ(r, nullptr) << n;
      ++refused;
    }
    Mp4ReaderFree(r);
  }
  EXPECT_TRUE(clean);
  EXPECT_GT(refused, 10);
}

// Files over 2 GiB: the top level is bounded by the file, not by a 31-bit length.  The
// mdat is a sparse hole of 3 GiB, so nothing big is written.
TEST(Mp4Parse, FileLargerThanTwoGigabytesOpens) {
  Synth s;
  s.mdatGap = 3ull << 30;
  const std::string path = OutPath("sparse.mp4");
  FILE* in = nullptr;
  uint64_t size = 0;
  ASSERT_NO_FATAL_FAILURE(WriteSparseFile(s, path, &in, &size));
  Mp4Reader* r = Mp4ReaderParse(Mp4Source{in, nullptr, size});
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->sampleCount, 9u);
  Mp4ReaderFree(r);
  unlink(path.c_str());
}

// A sample larger than the readers' frame cap refuses the file: past 2 GiB its length
// would reach the codec as a negative int.  The last sample, alone in its chunk, claims
// its size over a sparse hole of 5 GiB, so it lies inside the file.
TEST(Mp4Parse, SamplesLargerThanTheFrameCapAreRefused) {
  const struct {
    uint32_t claimed;
    bool opens;
  } cases[] = {{0x40000000u, true}, {0x40000001u, false}, {0x80000010u, false}, {0xFFFFFFFFu, false}};
  const std::string path = OutPath("bigsample.mp4");
  for (const auto& c : cases) {
    Synth s;
    s.mdatGap = 5ull << 30;
    s.tableSizes = s.sizes;
    s.tableSizes.back() = c.claimed;
    FILE* in = nullptr;
    uint64_t size = 0;
    ASSERT_NO_FATAL_FAILURE(WriteSparseFile(s, path, &in, &size));
    ASSERT_GT(size, uint64_t(c.claimed) + 100);
    Mp4Reader* r = Mp4ReaderParse(Mp4Source{in, nullptr, size});
    EXPECT_EQ(r != nullptr, c.opens) << std::hex << c.claimed;
    if (r) {
      EXPECT_EQ(r->samples.back().size, c.claimed);
    }
    Mp4ReaderFree(r);
  }
  unlink(path.c_str());
}

// ---------------------------------------------------------------------------------------
// Writer

TEST(Mp4Writer, TimeBaseForIntervals) {
  const struct {
    uint32_t interval, timescale, delta;
  } cases[] = {{33333, 30, 1},       {40000, 25, 1},     {33367, 30000, 1001}, {41708, 24000, 1001},
               {41667, 24, 1},       {16667, 60, 1},     {1000000, 1, 1},      {2000000, 1000000, 2000000},
               {34482, 29030, 1001}, {2000001, 1000000, 2000001}};
  for (const auto& c : cases) {
    uint32_t ts = 0, delta = 0;
    Mp4TimeBase(c.interval, &ts, &delta);
    EXPECT_EQ(ts, c.timescale) << c.interval;
    EXPECT_EQ(delta, c.delta) << c.interval;
  }
}

TEST_F(LibraryHold, WriterRefusesOddSizesAndComputesTheRawRate) {
  const Mp4WriterSettings settings{0, 0, 0};
  const std::string path = OutPath("size.mp4");
  EXPECT_EQ(Mp4WriterOpen(path.c_str(), 641, 480, 24, 33333, settings), nullptr);
  EXPECT_EQ(Mp4WriterOpen(path.c_str(), 640, 481, 24, 33333, settings), nullptr);
  EXPECT_EQ(Mp4WriterOpen(path.c_str(), 640, 480, 16, 33333, settings), nullptr);
  EXPECT_EQ(Mp4WriterOpen(path.c_str(), 640, 480, 24, 0, settings), nullptr);
  EXPECT_EQ(Mp4WriterOpen("", 640, 480, 24, 33333, settings), nullptr);
  Mp4Writer* w = Mp4WriterOpen(path.c_str(), 640, 480, 24, 33333, settings);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->bitRate, 5000000u);  // quality 0 and rate 0
  EXPECT_EQ(Mp4WriterClose(w), 0) << "a file without frames is not finished";
  w = Mp4WriterOpen(path.c_str(), 1920, 1080, 24, 33333, Mp4WriterSettings{101, 0, 0});
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->rawBitRate, 746496000u);
  Mp4WriterClose(w);
  unlink(path.c_str());
}

TEST(Mp4Writer, CloseWithoutFramesReportsFailure) {
  MediaInfo info{MediaKindVideo, 1, 1, 3, 64, 48, 40000};
  const std::string path = OutPath("empty.mp4");
  MediaFile* file = MediaCreate(Wide(path).c_str(), &info, nullptr);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(MediaClose(file), 0);
  EXPECT_EQ(OpenMp4(path), nullptr);
  unlink(path.c_str());
}

struct FileLayout {
  uint64_t mdatSize;
  uint64_t moovAt;
};

FileLayout ReadLayout(const std::vector<uint8_t>& b) {
  FileLayout l{};
  if (b.size() < 48) return l;
  for (int i = 0; i < 8; ++i) l.mdatSize = l.mdatSize << 8 | b[40 + i];
  l.moovAt = 32 + l.mdatSize;
  return l;
}

TEST(Mp4Writer, RoundTripThroughTheMediaHandle) {
  const int w = 64, h = 48, frames = 30;
  const std::string path = OutPath("roundtrip.mp4");
  std::vector<std::vector<uint8_t>> source;
  ASSERT_EQ(WriteMp4(path, w, h, frames, 3, 33333, Options(2000000, 10), &source), 1);

  MediaFile* file = OpenMp4(path);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->info.kind, uint64_t(MediaKindVideo));
  EXPECT_EQ(file->info.frameCount, uint64_t(frames));
  EXPECT_EQ(file->info.width, uint64_t(w));
  EXPECT_EQ(file->info.height, uint64_t(h));
  EXPECT_EQ(file->info.bytesPerPixel, 3u);
  EXPECT_EQ(file->info.frameIntervalUs, 33333u);  // timescale 30, one tick a frame
  Mp4Reader* r = file->mp4Reader;
  ASSERT_NE(r, nullptr);
  for (uint32_t i = 0; i < r->sampleCount; ++i) EXPECT_EQ(r->samples[i].sync, i % 10 == 0 ? 1 : 0) << i;

  // The mdat is padded to a multiple of 8 and its size covers the samples and the pad.
  std::vector<uint8_t> bytes = ReadAll(path);
  uint64_t data = 0;
  for (const Mp4Sample& s : r->samples) data += s.size;
  const uint64_t pad = (8 - (48 + data) % 8) % 8;
  FileLayout layout = ReadLayout(bytes);
  EXPECT_EQ(layout.mdatSize, 16 + data + pad);
  ASSERT_LT(layout.moovAt + 8, bytes.size());
  EXPECT_EQ(memcmp(&bytes[layout.moovAt + 4], "moov", 4), 0);
  for (uint64_t i = 0; i < pad; ++i) EXPECT_EQ(bytes[48 + data + i], 0);

  std::vector<uint8_t> out(size_t(w) * h * 3);
  double worst = 99;
  for (int n = frames - 1; n >= 0; --n) {  // backwards: every read restarts at a sync sample
    ASSERT_EQ(MediaReadFrame(file, 0, uint64_t(n), 0, out.data()), 1) << n;
    worst = std::min(worst, Psnr(out.data(), source[size_t(n)].data(), out.size()));
  }
  // R,G,B through 4:2:0 and back loses fine colour detail; the codec adds little.
  EXPECT_GT(worst, 25.0);
  EXPECT_EQ(MediaReadFrame(file, 0, uint64_t(frames), 0, out.data()), 0);
  EXPECT_EQ(MediaClose(file), 1);
  unlink(path.c_str());
}

TEST(Mp4Writer, GrayFramesAndLongIntervals) {
  const int w = 32, h = 16;
  const std::string path = OutPath("gray.mp4");
  std::vector<std::vector<uint8_t>> source;
  ASSERT_EQ(WriteMp4(path, w, h, 4, 1, 2000000, Options(1000000, 0), &source), 1);
  MediaFile* file = OpenMp4(path);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->info.frameCount, 4u);
  EXPECT_EQ(file->info.frameIntervalUs, 2000000u);
  std::vector<uint8_t> out(size_t(w) * h * 3);
  ASSERT_EQ(MediaReadFrame(file, 0, 2, 0, out.data()), 1);
  double se = 0;
  for (size_t i = 0; i < size_t(w) * h; ++i) {
    EXPECT_NEAR(out[3 * i], out[3 * i + 1], 3) << i;
    const double d = double(out[3 * i + 1]) - source[2][i];
    se += d * d;
  }
  EXPECT_LT(se / (w * h), 30.0);
  MediaClose(file);
  unlink(path.c_str());
}

// Small pictures of noise at the default rate and at quality 100: the rate control may
// reach quantisers at which a frame outgrows the codec's own output buffer, and the
// codec then drops its whole state.  Every frame must still be saved and read back.
TEST(Mp4Writer, SmallNoisyPicturesSave) {
  const struct {
    int w, h;
    uint32_t quality;
    uint64_t bpp;
  } cases[] = {{64, 64, 0, 3},  {64, 64, 100, 3}, {160, 120, 0, 3}, {160, 120, 100, 3}, {64, 64, 101, 3},
               {16, 16, 0, 3},  {64, 64, 0, 1},   {64, 64, 100, 1}, {160, 120, 0, 1},   {160, 120, 100, 1}};
  for (const auto& c : cases) {
    const std::string name = std::to_string(c.w) + "x" + std::to_string(c.h) + " quality " + std::to_string(c.quality) +
                             (c.bpp == 1 ? " gray" : " colour");
    const std::string path = OutPath("noise.mp4");
    const int frames = 30;
    std::vector<std::vector<uint8_t>> source;
    MediaWriteOptions opts = Options(0, 0, c.quality);
    ASSERT_EQ(WriteMp4(path, c.w, c.h, frames, c.bpp, 33333, opts, &source, MakeNoise), 1) << name;
    MediaFile* file = OpenMp4(path);
    ASSERT_NE(file, nullptr) << name;
    EXPECT_EQ(file->info.frameCount, uint64_t(frames)) << name;
    // A replaced encoder starts its own stream inside the file: ffmpeg must decode it all
    // to the same pictures.
    std::vector<uint8_t> ff;
    if (HaveFfmpeg()) {
      size_t ffFrames = 0;
      ff = FfmpegFramesRgb(path, c.w, c.h, &ffFrames, kYuvBt709);
      EXPECT_EQ(ffFrames, size_t(frames)) << name;
      if (ffFrames != size_t(frames)) ff.clear();
    }
    // As R,G,B blocks like the frames read back.
    auto asRgb = [&](const std::vector<uint8_t>& frame) {
      if (c.bpp == 3) return frame;
      std::vector<uint8_t> rgb(frame.size() * 3);
      for (size_t i = 0; i < frame.size(); ++i) rgb[3 * i] = rgb[3 * i + 1] = rgb[3 * i + 2] = frame[i];
      return rgb;
    };
    std::vector<uint8_t> out(size_t(c.w) * c.h * 3);
    for (int n = 0; n < frames; ++n) {
      ASSERT_EQ(MediaReadFrame(file, 0, uint64_t(n), 0, out.data()), 1) << name << " frame " << n;
      // Noise survives only roughly, but each frame must be its own picture: clearly
      // closer to its source than to the next frame's.
      const double own = Psnr(out.data(), asRgb(source[size_t(n)]).data(), out.size());
      const double next = Psnr(out.data(), asRgb(source[size_t(n + 1) % frames]).data(), out.size());
      EXPECT_GT(own, next + 1.5) << name << " frame " << n;
      if (!ff.empty()) {
        EXPECT_GT(Psnr(out.data(), &ff[size_t(n) * out.size()], out.size()), 40.0) << name << " frame " << n;
      }
    }
    EXPECT_EQ(MediaClose(file), 1);
    unlink(path.c_str());
  }
}

// Our files as an independent tool sees them: size, rate, frame count, key frames, and
// pictures close to ours.
TEST(Mp4Writer, FfprobeAndFfmpegAcceptOurFiles) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
  const int w = 64, h = 48, frames = 24;
  const std::string path = OutPath("probe.mp4");
  ASSERT_EQ(WriteMp4(path, w, h, frames, 3, 40000, Options(3000000, 8)), 1);
  const std::string stream =
      RunCapture("ffprobe -v error -select_streams v:0 -count_frames -show_entries "
                 "stream=codec_name,width,height,r_frame_rate,nb_read_frames -of csv=p=0 '" + path + "'");
  EXPECT_EQ(stream, "h264,64,48,25/1,24\n");
  const std::string keys = RunCapture("ffprobe -v error -select_streams v:0 -show_entries frame=key_frame -of csv=p=0 '" +
                                      path + "' | tr -d '\\n'");
  EXPECT_EQ(keys, "100000001000000010000000");

  size_t ffFrames = 0;
  std::vector<uint8_t> ff = FfmpegFramesRgb(path, w, h, &ffFrames, kYuvBt709);
  ASSERT_EQ(ffFrames, size_t(frames));
  MediaFile* file = OpenMp4(path);
  ASSERT_NE(file, nullptr);
  std::vector<uint8_t> out(size_t(w) * h * 3);
  for (int n = 0; n < frames; ++n) {
    ASSERT_EQ(MediaReadFrame(file, 0, uint64_t(n), 0, out.data()), 1);
    EXPECT_GT(Psnr(out.data(), &ff[size_t(n) * out.size()], out.size()), 40.0) << n;
  }
  MediaClose(file);
  unlink(path.c_str());
}

// ---------------------------------------------------------------------------------------
// Files made by ffmpeg/libx264

struct FfmpegCase {
  const char* name;
  const char* args;     // encoder options
  const char* rate;     // input frame rate
  int frames;
  uint64_t interval;
};

TEST(Mp4Reader, FilesMadeByFfmpegDecodeLikeFfmpeg) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
  const FfmpegCase cases[] = {
      {"baseline", "-profile:v baseline -g 12", "25", 30, 40000},
      {"main with B-frames", "-profile:v main -bf 2 -g 12", "25", 30, 40000},
      {"high with B-pyramid", "-profile:v high -bf 3 -g 15", "25", 36, 40000},
      {"all intra, no stss", "-profile:v high -g 1", "25", 8, 40000},
      {"29.97 frames a second", "-profile:v main -g 10", "30000/1001", 20, 33367},
  };
  const int w = 64, h = 48;
  for (const FfmpegCase& c : cases) {
    const std::string path = OutPath(std::string("ff_") + std::to_string(&c - cases) + ".mp4");
    const std::string cmd = std::string("ffmpeg -v error -y -f lavfi -i testsrc2=size=64x48:rate=") + c.rate +
                            " -frames:v " + std::to_string(c.frames) + " -c:v libx264 -pix_fmt yuv420p " + c.args +
                            " '" + path + "'";
    ASSERT_EQ(system(cmd.c_str()), 0) << c.name;
    size_t ffFrames = 0;
    std::vector<uint8_t> ff = FfmpegFramesRgb(path, w, h, &ffFrames, YuvMatrixFor(2, false, w, h));
    ASSERT_EQ(ffFrames, size_t(c.frames)) << c.name;
    MediaFile* file = OpenMp4(path);
    ASSERT_NE(file, nullptr) << c.name;
    EXPECT_EQ(file->info.frameCount, uint64_t(c.frames)) << c.name;
    EXPECT_EQ(file->info.frameIntervalUs, c.interval) << c.name;
    std::vector<uint8_t> out(size_t(w) * h * 3);
    double worst = 99;
    for (int n = 0; n < c.frames; ++n) {
      ASSERT_EQ(MediaReadFrame(file, 0, uint64_t(n), 0, out.data()), 1) << c.name << " frame " << n;
      worst = std::min(worst, Psnr(out.data(), &ff[size_t(n) * out.size()], out.size()));
    }
    // Also out of order: the middle, back to the start, the end.
    for (int n : {c.frames / 2, 0, c.frames - 1, c.frames / 3}) {
      ASSERT_EQ(MediaReadFrame(file, 0, uint64_t(n), 0, out.data()), 1) << c.name << " frame " << n;
      worst = std::min(worst, Psnr(out.data(), &ff[size_t(n) * out.size()], out.size()));
    }
    printf("[ psnr     ] %-24s worst frame %.2f dB against ffmpeg\n", c.name, worst);
    EXPECT_GT(worst, 40.0) << c.name;
    MediaClose(file);
    unlink(path.c_str());
  }
}

TEST(Mp4Reader, SeekIntoTheMiddleOfALongGop) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
  const int w = 64, h = 48, frames = 60;
  const std::string path = OutPath("longgop.mp4");
  const std::string cmd = "ffmpeg -v error -y -f lavfi -i testsrc2=size=64x48:rate=25 -frames:v 60 -c:v libx264 "
                          "-pix_fmt yuv420p -profile:v high -bf 3 -g 60 -sc_threshold 0 '" + path + "'";
  ASSERT_EQ(system(cmd.c_str()), 0);
  size_t ffFrames = 0;
  std::vector<uint8_t> ff = FfmpegFramesRgb(path, w, h, &ffFrames, YuvMatrixFor(2, false, w, h));
  ASSERT_EQ(ffFrames, size_t(frames));
  MediaFile* file = OpenMp4(path);
  ASSERT_NE(file, nullptr);
  std::vector<uint8_t> out(size_t(w) * h * 3);
  for (int n : {37, 38, 36, 59, 1}) {
    ASSERT_EQ(MediaReadFrame(file, 0, uint64_t(n), 0, out.data()), 1) << n;
    EXPECT_GT(Psnr(out.data(), &ff[size_t(n) * out.size()], out.size()), 40.0) << n;
  }
  MediaClose(file);
  unlink(path.c_str());
}

// Every frame's Y, U and V planes as the decoder gave them equal ffmpeg's own decode byte
// for byte (a PSNR would hide local errors), read in order and out of order: B-frames,
// weighted and temporal-direct prediction, open GOPs, odd sizes.
struct PlaneCase {
  const char* name;
  const char* args;
  const char* rate;
  int w, h, frames;
};

// ffmpeg's decode of a file as raw frames of one pixel format, with optional filters.
std::vector<uint8_t> FfmpegRaw(const std::string& path, const char* pixFmt, const std::string& filters = "") {
  const std::string out = path + ".raw";
  const std::string cmd = "ffmpeg -v error -y -i '" + path + "' " + (filters.empty() ? "" : "-vf '" + filters + "' ") +
                          "-f rawvideo -pix_fmt " + pixFmt + " '" + out + "'";
  if (system(cmd.c_str()) != 0) return {};
  std::vector<uint8_t> bytes = ReadAll(out);
  unlink(out.c_str());
  return bytes;
}

// Compares the reader's current picture with frame n of a yuv420p block; returns the
// number of differing samples.
size_t PlaneDifferences(const Mp4Reader* r, const std::vector<uint8_t>& yuv, int w, int h, int n) {
  const int cw = (w + 1) / 2, ch = (h + 1) / 2;
  const size_t frameBytes = size_t(w) * h + 2 * size_t(cw) * ch;
  const uint8_t* y = &yuv[size_t(n) * frameBytes];
  const uint8_t* u = y + size_t(w) * h;
  const uint8_t* v = u + size_t(cw) * ch;
  if (r->pictureWidth != w || r->pictureHeight != h) return size_t(-1);
  size_t diff = 0;
  for (int row = 0; row < h; ++row)
    for (int x = 0; x < w; ++x) diff += r->planeY[size_t(row) * r->lumaStride + x] != y[size_t(row) * w + x];
  for (int row = 0; row < ch; ++row)
    for (int x = 0; x < cw; ++x) {
      diff += r->planeU[size_t(row) * r->chromaStride + x] != u[size_t(row) * cw + x];
      diff += r->planeV[size_t(row) * r->chromaStride + x] != v[size_t(row) * cw + x];
    }
  return diff;
}

TEST(Mp4Reader, PlanesEqualFfmpegsDecode) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
  const PlaneCase cases[] = {
      {"baseline", "-profile:v baseline", "25", 160, 96, 48},
      {"main, two B-frames", "-profile:v main -bf 2", "25", 160, 96, 48},
      {"high, x264 defaults", "-profile:v high", "25", 160, 96, 48},
      {"no B-pyramid", "-profile:v high -x264-params b-pyramid=none", "25", 160, 96, 48},
      {"no weighted B", "-profile:v high -x264-params weightb=0", "25", 160, 96, 48},
      {"temporal direct", "-profile:v high -x264-params direct=temporal", "25", 160, 96, 48},
      {"all intra", "-profile:v high -g 1", "25", 160, 96, 12},
      {"open GOP", "-profile:v high -bf 3 -g 12 -x264-params open-gop=1", "25", 160, 96, 48},
      {"29.97 frames a second", "-profile:v high", "30000/1001", 160, 96, 48},
      {"long GOP", "-profile:v high -bf 3 -g 48 -sc_threshold 0", "25", 160, 96, 48},
      // 4:2:0 has no odd sizes; a size off the macroblock grid is cropped by the stream.
      {"cropped size", "-profile:v high", "25", 162, 98, 24},
  };
  for (const PlaneCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = OutPath("planes.mp4");
    const std::string size = std::to_string(c.w) + "x" + std::to_string(c.h);
    const std::string cmd = std::string("ffmpeg -v error -y -f lavfi -i testsrc2=size=") + size + ":rate=" + c.rate +
                            " -frames:v " + std::to_string(c.frames) + " -c:v libx264 -pix_fmt yuv420p " + c.args +
                            " '" + path + "'";
    if (system((cmd + " 2>/dev/null").c_str()) != 0) {
      // x264 refuses odd sizes in 4:2:0.
      EXPECT_EQ(c.w % 2 + c.h % 2, 2) << cmd;
      continue;
    }
    const std::vector<uint8_t> yuv = FfmpegRaw(path, "yuv420p");
    const size_t frameBytes = size_t(c.w) * c.h + 2 * size_t((c.w + 1) / 2) * ((c.h + 1) / 2);
    ASSERT_EQ(yuv.size(), frameBytes * size_t(c.frames));
    Mp4Reader* r = Mp4ReaderOpen(path.c_str(), nullptr, nullptr);
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->frameCount, uint32_t(c.frames));
    std::vector<int> order;
    for (int n = 0; n < c.frames; ++n) order.push_back(n);
    // Out of order: the middle, the start, the end, into the GOP, backwards over a stretch.
    for (int n : {c.frames / 2, 0, c.frames - 1, c.frames / 3, c.frames / 3 + 5, 7, 6, 5, 4, 3, 2, 1})
      if (n < c.frames) order.push_back(n);
    for (int n : order) {
      ASSERT_EQ(Mp4DecodeFrame(r, uint64_t(n), nullptr, 0), 1) << "frame " << n;
      EXPECT_EQ(PlaneDifferences(r, yuv, c.w, c.h, n), 0u) << "frame " << n;
    }
    Mp4ReaderFree(r);
    unlink(path.c_str());
  }
}

// A stream's declared matrix and range decide the conversion: R,G,B within 2 levels of
// ffmpeg's conversion with that matrix forced.  Our own files declare BT.709 and decode in
// ffmpeg, by its default conversion, within 2 levels of what we read back.
struct ColourCase {
  const char* name;
  const char* args;     // tagging options for the encode
  const char* filters;  // ffmpeg's conversion with the same matrix forced
};

int MaxDifference(const uint8_t* a, const uint8_t* b, size_t n) {
  int worst = 0;
  for (size_t i = 0; i < n; ++i) worst = std::max(worst, std::abs(int(a[i]) - int(b[i])));
  return worst;
}

// Every frame read through the media handle lies within `tolerance` levels of the same
// frame of `expect` (frames of R,G,B one after another).
void ExpectFramesWithin(const std::string& path, const std::vector<uint8_t>& expect, int w, int h, int frames,
                        int tolerance) {
  MediaFile* file = OpenMp4(path);
  ASSERT_NE(file, nullptr);
  std::vector<uint8_t> out(size_t(w) * h * 3);
  for (int n = 0; n < frames; ++n) {
    ASSERT_EQ(MediaReadFrame(file, 0, uint64_t(n), 0, out.data()), 1);
    EXPECT_LE(MaxDifference(out.data(), &expect[size_t(n) * out.size()], out.size()), tolerance) << "frame " << n;
  }
  MediaClose(file);
}

// A smooth colour field, and ffmpeg's converter that takes each chroma sample for its 2 x 2
// block as ours does: interpolated chroma differs by several levels wherever colour changes,
// which is not what this compares.
const char* const kSmoothSource =
    "ffmpeg -v error -y -f lavfi -i \"gradients=size=64x48:rate=25:c0=0x2040e0:c1=0xe0c020:x0=0:y0=0:x1=63:y1=47,"
    "format=rgb24\" -frames:v 6 -c:v libx264 -pix_fmt yuv420p ";

TEST(Mp4Reader, ColoursFollowTheDeclaredMatrix) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
  const ColourCase cases[] = {
      {"BT.709", "-colorspace bt709 -color_primaries bt709 -color_trc bt709",
       "scale=in_color_matrix=bt709:in_range=tv:flags=neighbor,format=rgb24"},
      {"BT.601", "-colorspace smpte170m -color_primaries smpte170m -color_trc smpte170m",
       "scale=in_color_matrix=bt601:in_range=tv:flags=neighbor,format=rgb24"},
      {"BT.709 full range", "-colorspace bt709 -color_range pc",
       "scale=in_color_matrix=bt709:in_range=pc:flags=neighbor,format=rgb24"},
      {"BT.601 full range", "-colorspace bt470bg -color_range pc",
       "scale=in_color_matrix=bt601:in_range=pc:flags=neighbor,format=rgb24"},
      // Nothing declared on a picture below HD: the BT.601 it was most likely made with.
      {"nothing declared", "", "scale=in_color_matrix=bt601:in_range=tv:flags=neighbor,format=rgb24"},
  };
  const int w = 64, h = 48, frames = 6;
  for (const ColourCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = OutPath("colour.mp4");
    ASSERT_EQ(system((std::string(kSmoothSource) + c.args + " '" + path + "'").c_str()), 0);
    const std::vector<uint8_t> ff = FfmpegRaw(path, "rgb24", c.filters);
    ASSERT_EQ(ff.size(), size_t(w) * h * 3 * frames);
    ExpectFramesWithin(path, ff, w, h, frames, 2);
    unlink(path.c_str());
  }
}

// Untagged files read in the colours they were made from: colour bars drawn by ImageMagick,
// converted by ffmpeg without any colour tag, with the matrix such files are made with at
// their size (ffmpeg's default BT.601 for SD; BT.709 asked for at 1280 x 720).  Inside each
// bar (away from its edges, where chroma is shared with the neighbour) every pixel reads
// within 3 levels of the colour drawn.
TEST(Mp4Reader, UntaggedColoursFollowThePictureSize) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
  const int kBars = 8;
  const int bars[kBars][3] = {{253, 0, 0},   {0, 255, 255}, {0, 200, 0},     {30, 30, 220},
                              {220, 200, 20}, {200, 40, 200}, {128, 128, 128}, {20, 20, 20}};
  const struct {
    const char* name;
    int w, h;
    const char* convert;  // ffmpeg's conversion into the stream's Y, U, V
  } cases[] = {
      {"640 x 480, BT.601", 640, 480, "format=yuv420p"},
      // ffmpeg's scaler keeps BT.601 for R,G,B input whatever matrix it is asked for: its
      // colour-space filter moves the picture to the BT.709 matrix (primaries and transfer
      // kept), and the tags that filter sets are taken off again.
      {"1280 x 720, BT.709", 1280, 720,
       "format=yuv420p,colorspace=space=bt709:ispace=bt470bg:primaries=bt709:iprimaries=bt709:"
       "trc=bt709:itrc=bt709:range=tv:irange=tv,setparams=colorspace=2:color_primaries=2:color_trc=2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const int barWidth = c.w / kBars;  // a multiple of 16: no macroblock straddles two bars
    const std::string png = OutPath("bars.png"), path = OutPath("bars.mp4");
    std::string draw = "/usr/bin/convert -size " + std::to_string(barWidth) + "x" + std::to_string(c.h);
    for (const auto& b : bars)
      draw += " xc:'rgb(" + std::to_string(b[0]) + "," + std::to_string(b[1]) + "," + std::to_string(b[2]) + ")'";
    ASSERT_EQ(system((draw + " +append +repage '" + png + "'").c_str()), 0);
    ASSERT_EQ(system(("ffmpeg -v error -y -loop 1 -i '" + png + "' -vf '" + c.convert +
                      "' -frames:v 3 -c:v libx264 -crf 4 '" + path + "'")
                         .c_str()),
              0);
    // The point of the case: the stream and the file declare no colours at all.
    ASSERT_EQ(RunCapture("ffprobe -v error -select_streams v:0 -show_entries "
                         "stream=color_space,color_range,color_primaries -of csv=p=0 '" + path + "'"),
              "unknown,unknown,unknown\n");
    MediaFile* file = OpenMp4(path);
    ASSERT_NE(file, nullptr);
    std::vector<uint8_t> out(size_t(c.w) * c.h * 3);
    for (uint64_t n = 0; n < 3; ++n) {
      ASSERT_EQ(MediaReadFrame(file, 0, n, 0, out.data()), 1);
      int worst = 0;
      for (int y = 4; y < c.h - 4; ++y)
        for (int i = 0; i < kBars; ++i)
          for (int x = i * barWidth + 4; x < (i + 1) * barWidth - 4; ++x)
            for (int k = 0; k < 3; ++k)
              worst = std::max(worst, std::abs(int(out[(size_t(y) * c.w + x) * 3 + k]) - bars[i][k]));
      EXPECT_LE(worst, 3) << "frame " << n;
    }
    MediaClose(file);
    unlink(png.c_str());
    unlink(path.c_str());
  }
}

// Our own files as other players see them: tagged BT.709 in the stream and the sample entry,
// decoded by ffmpeg's default conversion within 2 levels of our own reading; a grey ramp
// stays grey (U = V = 128) and within 2 levels of what we wrote.
TEST(Mp4Writer, OurColoursDecodeAlikeInFfmpeg) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
  {
    const int w = 64, h = 48, frames = 6;
    const std::string path = OutPath("ourcolour.mp4");
    ASSERT_EQ(WriteMp4(path, w, h, frames, 3, 40000, Options(4000000, 3)), 1);
    const std::string tags = RunCapture("ffprobe -v error -select_streams v:0 -show_entries "
                                        "stream=color_space,color_range,color_primaries,color_transfer -of csv=p=0 '" +
                                        path + "'");
    EXPECT_EQ(tags, "tv,bt709,bt709,bt709\n");
    // The matrix is ffmpeg's own choice, from the tags.
    const std::vector<uint8_t> ff = FfmpegRaw(path, "rgb24", "scale=flags=neighbor");
    ASSERT_EQ(ff.size(), size_t(w) * h * 3 * frames);
    ExpectFramesWithin(path, ff, w, h, frames, 2);
    unlink(path.c_str());
  }
  {
    // A grey ramp, saved as 8-bit and as R,G,B frames: 16 steps from 0 to 255, each a
    // macroblock wide, so that what is measured is the colour conversion and not the
    // encoder's loss on fine detail.
    const int w = 256, h = 16, frames = 3;
    auto ramp = [](int w, int h, int, int bpp) {
      std::vector<uint8_t> f(size_t(w) * h * bpp);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
          for (int k = 0; k < bpp; ++k) f[(size_t(y) * w + x) * bpp + k] = uint8_t(x / 16 * 17);
      return f;
    };
    for (uint64_t bpp : {1u, 3u}) {
      SCOPED_TRACE(bpp);
      const std::string path = OutPath("greyramp.mp4");
      ASSERT_EQ(WriteMp4(path, w, h, frames, bpp, 40000, Options(0, 0, 101), nullptr, ramp), 1);
      EXPECT_EQ(RunCapture("ffprobe -v error -select_streams v:0 -show_entries stream=color_space -of csv=p=0 '" +
                           path + "'"),
                "bt709\n");
      const std::vector<uint8_t> yuv = FfmpegRaw(path, "yuv420p");
      ASSERT_EQ(yuv.size(), size_t(w) * h * 3 / 2 * frames);
      for (int n = 0; n < frames; ++n)
        for (size_t i = size_t(w) * h; i < size_t(w) * h * 3 / 2; ++i)
          ASSERT_EQ(yuv[size_t(n) * w * h * 3 / 2 + i], 128) << "frame " << n << " chroma sample " << i;
      const std::vector<uint8_t> rgb = FfmpegRaw(path, "rgb24");
      ASSERT_EQ(rgb.size(), size_t(w) * h * 3 * frames);
      const std::vector<uint8_t> wrote = ramp(w, h, 0, 3);
      for (int n = 0; n < frames; ++n)
        EXPECT_LE(MaxDifference(&rgb[size_t(n) * wrote.size()], wrote.data(), wrote.size()), 2) << "frame " << n;
      unlink(path.c_str());
    }
  }
}

// The level our files declare fits their picture, so that players and hardware decoders that
// check it take them: ffprobe reads 3.0 or below for 640 x 480 at 25 fps, and 4.0 at most for
// 1920 x 1080 at 30 fps at the settings' default 5 Mbit/s; a tiny picture at 5 Mbit/s is
// held by 3.0, at 500 kbit/s by 1.3; the colour tags stay.
TEST(Mp4Writer, DeclaredLevelFitsThePicture) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
  const struct {
    int w, h;
    uint32_t interval, bits;
    int most;  // level_idc
  } cases[] = {{640, 480, 40000, 5000000, 30},
               {1920, 1080, 33333, 5000000, 40},
               {64, 48, 40000, 5000000, 30},
               {64, 48, 40000, 500000, 13}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + " x " + std::to_string(c.h));
    const std::string path = OutPath("level.mp4");
    ASSERT_EQ(WriteMp4(path, c.w, c.h, 3, 3, c.interval, Options(c.bits, 0)), 1);
    const std::string probe = RunCapture("ffprobe -v error -select_streams v:0 -show_entries "
                                         "stream=level,color_space -of csv=p=0 '" + path + "'");
    int level = 0;
    char space[32] = {};
    ASSERT_EQ(sscanf(probe.c_str(), "%d,%31[a-z0-9]", &level, space), 2) << probe;
    EXPECT_GT(level, 0);
    EXPECT_LE(level, c.most);
    EXPECT_STREQ(space, "bt709");
    unlink(path.c_str());
  }
}

// Frame rates survive a save: 33367 us is 30000/1001 to other players and comes back as
// 33367; 41667 and 16667 us come back as themselves.
TEST(Mp4Writer, ExactRatesSurviveASave) {
  const struct {
    uint32_t interval;
    const char* rate;
  } cases[] = {{33367, "30000/1001"}, {41667, "24/1"}, {16667, "60/1"}, {41708, "24000/1001"}, {40000, "25/1"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.interval);
    const std::string path = OutPath("rate.mp4");
    ASSERT_EQ(WriteMp4(path, 32, 16, 3, 3, c.interval, Options(500000, 0)), 1);
    MediaFile* file = OpenMp4(path);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->info.frameIntervalUs, c.interval);
    MediaClose(file);
    if (HaveFfmpeg()) {
      EXPECT_EQ(RunCapture("ffprobe -v error -select_streams v:0 -show_entries stream=r_frame_rate -of csv=p=0 '" +
                           path + "'"),
                std::string(c.rate) + "\n");
    }
    unlink(path.c_str());
  }
}

// ---------------------------------------------------------------------------------------
// Progress and cancel

struct ProgressLog {
  std::vector<uint64_t> phases, positions;
  uint64_t total = 0;
  int cancelAfter = -1;  // phase-0 calls to allow; -1 never cancels
};

int Progress(uint64_t position, uint64_t total, uint64_t phase, void* context) {
  ProgressLog* log = static_cast<ProgressLog*>(context);
  log->phases.push_back(phase);
  log->positions.push_back(position);
  log->total = total;
  if (phase == 0 && log->cancelAfter >= 0) {
    if (log->cancelAfter == 0) return 0;
    --log->cancelAfter;
  }
  return 1;
}

TEST(Mp4Reader, IndexReportsProgressAndCanBeCancelled) {
  const int w = 32, h = 32, frames = 20;
  const std::string path = OutPath("progress.mp4");
  ASSERT_EQ(WriteMp4(path, w, h, frames, 3, 40000, Options(1000000, 5)), 1);

  ProgressLog full;
  MediaFile* file = OpenMp4(path, Progress, &full);
  ASSERT_NE(file, nullptr);
  ASSERT_GE(full.phases.size(), 2u);
  EXPECT_EQ(full.phases.front(), 1u);
  EXPECT_EQ(full.phases.back(), 2u);
  EXPECT_EQ(full.positions.back(), uint64_t(frames));
  EXPECT_EQ(full.total, uint64_t(frames));
  std::vector<uint8_t> expect(size_t(w) * h * 3), got(expect.size());
  ASSERT_EQ(MediaReadFrame(file, 0, 10, 0, expect.data()), 1);
  MediaClose(file);

  // The index comes from the tables, so a cancel has nothing left to stop: the file opens
  // whole and reads the same.
  ProgressLog cancel;
  cancel.cancelAfter = 0;
  file = OpenMp4(path, Progress, &cancel);
  ASSERT_NE(file, nullptr) << "a cancelled index still opens";
  EXPECT_EQ(cancel.phases.back(), 2u);
  EXPECT_EQ(file->info.frameCount, uint64_t(frames));
  ASSERT_EQ(MediaReadFrame(file, 0, 10, 0, got.data()), 1);
  EXPECT_EQ(got, expect);
  ASSERT_EQ(MediaReadFrame(file, 0, frames - 1, 0, got.data()), 1);
  MediaClose(file);

  // One frame: no progress at all.
  ProgressLog single;
  ASSERT_EQ(WriteMp4(path, w, h, 1, 3, 40000, Options(1000000, 0)), 1);
  file = OpenMp4(path, Progress, &single);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->info.frameCount, 1u);
  EXPECT_TRUE(single.phases.empty());
  MediaClose(file);
  unlink(path.c_str());
}

// ---------------------------------------------------------------------------------------
// Damaged files: a deterministic run of byte changes and cuts; every open fails or
// succeeds cleanly, every frame read returns (the sanitizers watch the rest).

uint32_t Next(uint32_t* state) {
  *state = *state * 1664525u + 1013904223u;
  return *state >> 8;
}

TEST(Mp4Reader, MutatedFilesNeverCrash) {
  const std::string path = OutPath("mutate_src.mp4");
  ASSERT_EQ(WriteMp4(path, 32, 16, 6, 3, 40000, Options(500000, 3)), 1);
  const std::vector<uint8_t> original = ReadAll(path);
  ASSERT_GT(original.size(), 100u);
  const FileLayout layout = ReadLayout(original);
  uint32_t state = 12345;
  const std::string damaged = OutPath("mutate.mp4");
  std::vector<uint8_t> frame(32 * 16 * 3);
  int opened = 0;
  for (int round = 0; round < 1500; ++round) {
    std::vector<uint8_t> bytes = original;
    const uint32_t kind = Next(&state) % 8;
    if (kind == 0) {
      bytes.resize(Next(&state) % bytes.size());
    } else {
      // Mostly in the moov, where the tables are.
      const int changes = 1 + int(Next(&state) % 4);
      for (int k = 0; k < changes; ++k) {
        const uint64_t span = bytes.size() - layout.moovAt;
        const size_t at = (kind < 6 && span > 0) ? size_t(layout.moovAt + Next(&state) % span)
                                                 : size_t(Next(&state) % bytes.size());
        const uint32_t how = Next(&state) % 4;
        bytes[at] = how == 0 ? 0 : how == 1 ? 0xFF : how == 2 ? uint8_t(bytes[at] ^ (1u << (Next(&state) % 8)))
                                                                : uint8_t(Next(&state));
      }
    }
    Mp4Reader* r = ParseMemory(bytes);
    if (r) ++opened;
    Mp4ReaderFree(r);
    // Every tenth damaged file goes the whole way: open, index, decode every frame.
    if (round % 10 == 0) {
      WriteAll(damaged, bytes);
      MediaFile* file = OpenMp4(damaged);
      if (file) {
        for (uint64_t f = 0; f < file->info.frameCount && f < 8; ++f) {
          if (file->info.width * file->info.height * 3 > frame.size()) frame.resize(file->info.width * file->info.height * 3);
          MediaReadFrame(file, 0, f, 0, frame.data());
        }
        MediaClose(file);
      }
    }
  }
  EXPECT_GT(opened, 0);
  unlink(path.c_str());
  unlink(damaged.c_str());
}

}  // namespace

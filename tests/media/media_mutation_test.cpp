// media_mutation_test.cpp - hostile-file runs over the TIFF, BMP and DICOM readers: small
// valid files, cut short, bit-flipped and stamped with huge counts and offsets, a few
// thousand deterministic cases each.  Every case must open or fail cleanly and read every
// frame without a sanitizer report, a hang or an unbounded allocation.
#include <gtest/gtest.h>

#include "media/bmp.h"
#include "media/dicom.h"
#include "media/tiff.h"
#include "media_fixtures.h"

using namespace fixtures;

namespace {

// Frames bigger than this are not read here; the readers' own caps keep them rare.
constexpr uint64_t kMaxFrameBytes = uint64_t(64) << 20;
constexpr int kCasesPerSeed = 2000;

Bytes Mutate(const Bytes& seed, Rng& rng) {
  Bytes b = seed;
  int steps = 1 + int(rng.Below(3));
  for (int s = 0; s < steps && !b.empty(); ++s) {
    switch (rng.Below(4)) {
      case 0:
        b.resize(rng.Below(uint32_t(b.size())));
        break;
      case 1:
        for (uint32_t k = 1 + rng.Below(8); k > 0; --k) b[rng.Below(uint32_t(b.size()))] ^= uint8_t(1u << rng.Below(8));
        break;
      case 2: {
        const uint32_t values[] = {0xFFFFFFFFu, 0x7FFFFFFFu, 0x80000000u, 0u, uint32_t(b.size()),
                                   uint32_t(b.size()) - 1, uint32_t(b.size()) + 1, 0xFFFFu, 0x10000u, 8u};
        uint32_t v = values[rng.Below(10)];
        if (b.size() < 4) break;
        size_t at = rng.Below(uint32_t(b.size() - 3)) & ~size_t(1);
        Set32(b, at, v, rng.Below(2));
        break;
      }
      default: {
        const uint16_t values[] = {0xFFFF, 0, 0x8000, 1, 3, 5};
        if (b.size() < 2) break;
        size_t at = rng.Below(uint32_t(b.size() - 1)) & ~size_t(1);
        uint16_t v = values[rng.Below(6)];
        b[at] = uint8_t(v);
        b[at + 1] = uint8_t(v >> 8);
        break;
      }
    }
  }
  return b;
}

struct Reader {
  int (*open)(MediaFile*, const void*, size_t);
  int (*read)(MediaFile*, uint64_t, uint64_t, uint64_t, void*);
  void (*close)(MediaFile*);
};

struct Tally {
  int opened = 0, read = 0;
};

void RunMutations(const Reader& r, const std::vector<Bytes>& seeds, Tally* tally) {
  for (size_t s = 0; s < seeds.size(); ++s) {
    ASSERT_TRUE(r.open != nullptr);
    {
      MediaFile f{};
      ASSERT_EQ(r.open(&f, seeds[s].data(), seeds[s].size()), 1) << "seed " << s << " must open";
      r.close(&f);
    }
    Rng rng(1000 + s);
    for (int i = 0; i < kCasesPerSeed; ++i) {
      Bytes b = Mutate(seeds[s], rng);
      MediaFile f{};
      if (!r.open(&f, b.data(), b.size())) continue;
      ++tally->opened;
      uint64_t frame = f.info.width * f.info.height * f.info.bytesPerPixel;
      ASSERT_GT(frame, 0u);
      if (frame <= kMaxFrameBytes) {
        Bytes out(frame);
        uint64_t frames = f.info.frameCount < 4 ? f.info.frameCount : 4;
        for (uint64_t n = 0; n < frames; ++n) tally->read += r.read(&f, 0, n, 1, out.data());
      }
      r.close(&f);
    }
  }
  std::printf("%d of %zu cases opened, %d frames read\n", tally->opened, seeds.size() * kCasesPerSeed, tally->read);
}

Bytes Gray(size_t n, uint64_t seed) {
  Rng r(seed);
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = uint8_t(i / 3 + (r.Below(5) == 0 ? r.Below(40) : 0));
  return b;
}

std::vector<Bytes> TiffSeeds() {
  std::vector<Bytes> seeds;
  // Little endian: LZW gray with predictor in two strips, PackBits RGB, palette, 1-bit.
  auto lzwTags = BasicTags(8, 6, 1, {8}, 1, 5);
  lzwTags.back().values = {3};
  lzwTags.push_back({317, 3, {2}});
  Bytes g = Gray(48, 1);
  Bytes g1(g.begin(), g.begin() + 24), g2(g.begin() + 24, g.end());
  TiffPageSpec lzw{lzwTags, {LzwEncode(g1), LzwEncode(g2)}};
  TiffPageSpec pb{BasicTags(8, 6, 2, {8, 8, 8}, 3, 32773), {PackBitsEncode(Gray(144, 2))}};
  auto palTags = BasicTags(8, 6, 3, {4}, 1);
  std::vector<uint32_t> map(48);
  for (size_t i = 0; i < map.size(); ++i) map[i] = uint32_t(i * 1300);
  palTags.push_back({320, 3, map});
  TiffPageSpec pal{palTags, {Gray(24, 3)}};
  TiffPageSpec bw{BasicTags(8, 6, 0, {1}, 1), {Gray(6, 4)}};
  seeds.push_back(BuildTiff({lzw, pb, pal, bw}));
  // Big endian: 16-bit gray LZW with predictor, float RGB, CMYK.
  auto g16 = BasicTags(5, 4, 1, {16}, 1, 5);
  g16.push_back({317, 3, {2}});
  TiffPageSpec gray16{g16, {LzwEncode(Gray(40, 5))}};
  auto fl = BasicTags(5, 4, 2, {32, 32, 32}, 3);
  fl.push_back({339, 3, {3, 3, 3}});
  Bytes floats;
  for (int i = 0; i < 60; ++i) Put(floats, FloatBits(float(i) / 60.0f), 4, true);
  TiffPageSpec rgbf{fl, {floats}};
  TiffPageSpec cmyk{BasicTags(5, 4, 5, {8, 8, 8, 8}, 4, 5), {LzwEncode(Gray(80, 6))}};
  seeds.push_back(BuildTiff({gray16, rgbf, cmyk}, true));
  return seeds;
}

std::vector<Bytes> BmpSeeds() {
  std::vector<Bytes> seeds;
  BmpSpec p;
  p.width = 9;
  p.height = 5;
  p.bits = 8;
  for (uint32_t i = 0; i < 256; ++i) p.palette.push_back(i * 0x010101u);
  p.pixel = [](int x, int y) { return uint32_t(x * 20 + y); };
  seeds.push_back(BuildBmp(p));
  BmpSpec v5;
  v5.width = 7;
  v5.height = 3;
  v5.headerSize = 124;
  v5.pixel = [](int x, int y) { return uint32_t(x * 0x102030 + y); };
  seeds.push_back(BuildBmp(v5));
  BmpSpec bf;
  bf.width = 6;
  bf.height = 4;
  bf.bits = 16;
  bf.compression = 3;
  bf.masks = {0xF800, 0x07E0, 0x001F};
  bf.pixel = [](int x, int y) { return uint32_t(x * 3001 + y * 17); };
  seeds.push_back(BuildBmp(bf));
  return seeds;
}

std::vector<Bytes> DicomSeeds() {
  std::vector<Bytes> seeds;
  DicomWriter e;
  e.Meta("1.2.840.10008.1.2.1");
  e.Header(0x8, 0x1140, "SQ", 0xFFFFFFFF);
  e.Header(0xFFFE, 0xE000, "", 0xFFFFFFFF);
  e.U16(0x28, 0x10, 5);
  e.Header(0xFFFE, 0xE00D, "", 0);
  e.Header(0xFFFE, 0xE0DD, "", 0);
  e.U16(0x28, 0x10, 3);
  e.U16(0x28, 0x11, 4);
  e.U16(0x28, 0x100, 16);
  e.U16(0x28, 0x101, 12);
  e.Pixels(Gray(48, 7));
  seeds.push_back(e.b);
  DicomWriter i;
  i.Meta("1.2.840.10008.1.2");
  i.implicit = true;
  i.Geometry(3, 2, 8, 3);
  i.U16(0x28, 6, 1);
  i.Pixels(Gray(36, 8));
  seeds.push_back(i.b);
  return seeds;
}

void CloseTiff(MediaFile* f) { TiffClose(f); }
void CloseBmp(MediaFile* f) { BmpClose(f); }
void CloseDicom(MediaFile* f) { DicomFree(f->dicom); }

}  // namespace

TEST(MediaMutation, Tiff) {
  Tally t;
  RunMutations({TiffOpenMemory, TiffReadFrames, CloseTiff}, TiffSeeds(), &t);
  EXPECT_GT(t.opened, 100);  // the run reaches the frame readers, not only the header checks
  EXPECT_GT(t.read, 100);
}

TEST(MediaMutation, Bmp) {
  Tally t;
  RunMutations({BmpOpenMemory, BmpReadImage, CloseBmp}, BmpSeeds(), &t);
  EXPECT_GT(t.opened, 100);
  EXPECT_GT(t.read, 100);
}

TEST(MediaMutation, Dicom) {
  Tally t;
  RunMutations({DicomOpenMemory, DicomReadFrames, CloseDicom}, DicomSeeds(), &t);
  EXPECT_GT(t.opened, 100);
  EXPECT_GT(t.read, 100);
}

// tiff_test.cpp - LZW and PackBits strips, the TIFF reader on built files of every page
// kind, the writer's byte layout, and both directions against libtiff's and ImageMagick's tools.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "media/media.h"
#include "media/tiff.h"
#include "media_fixtures.h"

using namespace fixtures;

namespace {

Bytes Codes9(std::initializer_list<uint32_t> codes) {
  MsbBitWriter w;
  for (uint32_t c : codes) w.Put(c, 9);
  return w.Finish();
}

Bytes Lzw(const Bytes& in, size_t outSize) {
  Bytes out(outSize, 0xEE);
  uint64_t bits = TiffLzwDecode(nullptr, out.data(), out.size(), in.data(), in.size());
  out.resize(bits / 8);
  return out;
}

Bytes PackBits(const Bytes& in, size_t outSize) {
  Bytes out(outSize, 0xEE);
  out.resize(TiffPackBitsDecode(out.data(), out.size(), in.data(), in.size()));
  return out;
}

// A reader opened from memory on a zeroed handle; frames come back as byte blocks.
struct Opened {
  MediaFile file{};
  int ok = 0;
  explicit Opened(const Bytes& b) { ok = TiffOpenMemory(&file, b.data(), b.size()); }
  ~Opened() { TiffClose(&file); }
  uint64_t FrameBytes() const { return file.info.width * file.info.height * file.info.bytesPerPixel; }
  Bytes Frame(uint64_t n) {
    Bytes out(FrameBytes(), 0xEE);
    EXPECT_EQ(TiffReadFrames(&file, 0, n, 1, out.data()), 1);
    return out;
  }
  template <typename T>
  std::vector<T> FrameAs(uint64_t n) {
    Bytes b = Frame(n);
    std::vector<T> v(b.size() / sizeof(T));
    std::memcpy(v.data(), b.data(), v.size() * sizeof(T));
    return v;
  }
};

Bytes Samples16(const std::vector<uint16_t>& v, bool be) {
  Bytes b;
  for (uint16_t s : v) Put(b, s, 2, be);
  return b;
}

}  // namespace

// ---- strip decoders -------------------------------------------------------------------

TEST(TiffStrip, LzwWorkedExamples) {
  struct Case {
    const char* name;
    Bytes input;
    size_t outSize;
    Bytes expected;
  } cases[] = {
      {"clear A B 258 end", Codes9({256, 65, 66, 258, 257}), 16, {65, 66, 65, 66}},
      {"KwKwK: the next free code itself", Codes9({256, 65, 258, 257}), 16, {65, 65, 65}},
      {"no clear code first", Codes9({65, 66, 258, 257}), 16, {65, 66, 65, 66}},
      {"a string that does not fit is not written", Codes9({256, 65, 66, 258, 257}), 3, {65, 66}},
      {"code beyond the table stops", Codes9({256, 65, 300, 66, 257}), 16, {65}},
      {"first code after clear must be a symbol", Codes9({256, 258, 65, 257}), 16, {}},
      {"repeated clears", Codes9({256, 256, 256, 67, 257}), 16, {67}},
  };
  for (const Case& c : cases) EXPECT_EQ(Lzw(c.input, c.outSize), c.expected) << c.name;
  uint8_t one = 0;
  EXPECT_EQ(TiffLzwDecode(nullptr, &one, 1, nullptr, 4), 0u);
  EXPECT_EQ(TiffLzwDecode(nullptr, nullptr, 0, &one, 1), 0u);
}

TEST(TiffStrip, LzwCodeWidthGrowsOneCodeEarly) {
  // Clear and 254 symbols add 253 entries (next free code 511); the next code has 10 bits.
  MsbBitWriter w;
  w.Put(256, 9);
  Bytes expected;
  for (int i = 0; i < 254; ++i) {
    w.Put(uint32_t(i), 9);
    expected.push_back(uint8_t(i));
  }
  w.Put(7, 10);
  w.Put(257, 10);
  expected.push_back(7);
  EXPECT_EQ(Lzw(w.Finish(), 1000), expected);
}

TEST(TiffStrip, LzwRoundTripsReferenceEncoder) {
  Rng rng(5);
  for (size_t size : {1u, 2u, 100u, 5000u, 70000u}) {
    for (int alphabet : {2, 16, 256}) {
      Bytes in(size);
      for (uint8_t& v : in) v = uint8_t(rng.Below(uint32_t(alphabet)));
      EXPECT_EQ(Lzw(LzwEncode(in), size), in) << size << " bytes of " << alphabet << " symbols";
    }
  }
}

TEST(TiffStrip, PackBitsWorkedExamples) {
  struct Case {
    const char* name;
    Bytes input;
    size_t outSize;
    Bytes expected;
  } cases[] = {
      {"run FE 41", {0xFE, 0x41}, 16, {0x41, 0x41, 0x41}},
      {"literal 02", {0x02, 0x61, 0x62, 0x63}, 16, {0x61, 0x62, 0x63}},
      {"-128 is a no-op", {0x80, 0x00, 0x7A}, 16, {0x7A}},
      {"output fills exactly", {0xFE, 0x41, 0x02, 0x61, 0x62, 0x63}, 4, {0x41, 0x41, 0x41, 0x61}},
      {"literal cut by the input", {0x05, 0x61, 0x62}, 16, {0x61, 0x62}},
      {"one lone byte is not a header", {0x00}, 16, {}},
  };
  for (const Case& c : cases) EXPECT_EQ(PackBits(c.input, c.outSize), c.expected) << c.name;
  Rng rng(9);
  Bytes in(3000);
  for (uint8_t& v : in) v = rng.Below(4) ? 0 : uint8_t(rng.Next());
  EXPECT_EQ(PackBits(PackBitsEncode(in), in.size()), in);
}

// ---- reader ---------------------------------------------------------------------------

TEST(TiffReader, BothByteOrdersGiveTheSame16BitGray) {
  std::vector<uint16_t> px = {0, 1, 0x1234, 0xFFFF, 0x8000, 0x00FF};
  for (bool be : {false, true}) {
    TiffPageSpec p{BasicTags(3, 2, 1, {16}, 1), {Samples16(px, be)}};
    Opened t(BuildTiff({p}, be));
    ASSERT_TRUE(t.ok) << be;
    EXPECT_EQ(t.file.info.bytesPerPixel, 2u);
    EXPECT_EQ(t.FrameAs<uint16_t>(0), px) << (be ? "MM" : "II");
  }
}

TEST(TiffReader, FloatGrayIsScaledAndClamped) {
  std::vector<float> in = {0.0f, 0.5f, 1.0f, -1.0f, 2.0f, std::numeric_limits<float>::quiet_NaN()};
  for (bool be : {false, true}) {
    Bytes strip;
    for (float f : in) Put(strip, FloatBits(f), 4, be);
    auto tags = BasicTags(6, 1, 1, {32}, 1);
    tags.push_back({339, 3, {3}});
    Opened t(BuildTiff({{tags, {strip}}}, be));
    ASSERT_TRUE(t.ok);
    EXPECT_EQ(t.file.info.bytesPerPixel, 4u);
    std::vector<uint32_t> expected = {0, 2147483647u, 4294967295u, 0, 4294967295u, 0};
    EXPECT_EQ(t.FrameAs<uint32_t>(0), expected);
  }
}

TEST(TiffReader, PackedGrayAndMask) {
  // 4-bit gray of width 5: rows of 3 bytes.
  Opened g4(BuildTiff({{BasicTags(5, 2, 1, {4}, 1), {{0x01, 0x2F, 0x80, 0xFE, 0xDC, 0xB0}}}}));
  ASSERT_TRUE(g4.ok);
  EXPECT_EQ(g4.Frame(0), (Bytes{0, 17, 34, 255, 136, 255, 238, 221, 204, 187}));
  // 1-bit WhiteIsZero: clear bits are white.
  Opened w1(BuildTiff({{BasicTags(4, 1, 0, {1}, 1), {{0xA0}}}}));
  ASSERT_TRUE(w1.ok);
  EXPECT_EQ(w1.Frame(0), (Bytes{0, 255, 0, 255}));
  // 2-bit gray.
  Opened g2(BuildTiff({{BasicTags(4, 1, 1, {2}, 1), {{0x1B}}}}));
  ASSERT_TRUE(g2.ok);
  EXPECT_EQ(g2.Frame(0), (Bytes{0, 85, 170, 255}));
  // 12-bit gray, packed two pixels to three bytes, an odd width included.
  Opened g12(BuildTiff({{BasicTags(3, 1, 1, {12}, 1), {{0xFF, 0xF0, 0x01, 0x80, 0x00}}}}));
  ASSERT_TRUE(g12.ok);
  EXPECT_EQ(g12.file.info.bytesPerPixel, 2u);
  EXPECT_EQ(g12.FrameAs<uint16_t>(0), (std::vector<uint16_t>{0xFFF0, 0x0010, 0x8000}));
  // Transparency mask pages read as 3 bytes per pixel.
  Opened m(BuildTiff({{BasicTags(3, 1, 4, {1}, 1), {{0x40}}}}));
  ASSERT_TRUE(m.ok);
  EXPECT_EQ(m.Frame(0), (Bytes{0, 0, 0, 255, 255, 255, 0, 0, 0}));
}

TEST(TiffReader, RgbPaletteAndCmyk) {
  // RGBA: the alpha sample is skipped.
  Opened rgba(BuildTiff({{BasicTags(2, 1, 2, {8, 8, 8, 8}, 4), {{1, 2, 3, 99, 4, 5, 6, 99}}}}));
  ASSERT_TRUE(rgba.ok);
  EXPECT_EQ(rgba.file.info.bytesPerPixel, 3u);
  EXPECT_EQ(rgba.Frame(0), (Bytes{1, 2, 3, 4, 5, 6}));
  // 2-bit palette: R, G, B thirds of 16-bit values, shifted down.
  auto tags = BasicTags(4, 1, 3, {2}, 1);
  tags.push_back({320, 3, {0, 0x1000, 0x2000, 0xFFFF, 0, 0x3000, 0x4000, 0xFFFF, 0, 0x5000, 0x6000, 0xFFFF}});
  Opened pal(BuildTiff({{tags, {{0x1B}}}}));
  ASSERT_TRUE(pal.ok);
  EXPECT_EQ(pal.Frame(0), (Bytes{0, 0, 0, 0x10, 0x30, 0x50, 0x20, 0x40, 0x60, 255, 255, 255}));
  // A colour map of the wrong length makes the directory unreadable.
  tags.back().values.pop_back();
  EXPECT_FALSE(Opened(BuildTiff({{tags, {{0x1B}}}})).ok);
  // CMYK: R = 255 - min(255, C (255 - K) / 255 + K).
  Opened cmyk(BuildTiff({{BasicTags(2, 1, 5, {8, 8, 8, 8}, 4), {{255, 0, 0, 0, 0, 0, 0, 128}}}}));
  ASSERT_TRUE(cmyk.ok);
  EXPECT_EQ(cmyk.Frame(0), (Bytes{0, 255, 255, 127, 127, 127}));
}

TEST(TiffReader, RefusesWhatItCannotShow) {
  struct Case {
    const char* name;
    std::vector<TiffTag> tags;
    Bytes strip;
  } cases[] = {
      {"RGB with 2 samples", BasicTags(1, 1, 2, {8, 8, 8}, 2), {1, 2}},
      {"RGB of 12 bits", BasicTags(1, 1, 2, {12, 12, 12}, 3), Bytes(6)},
      {"RGB with unequal bits", BasicTags(1, 1, 2, {8, 16, 8}, 3), Bytes(6)},
      {"CMYK with 3 samples", BasicTags(1, 1, 5, {8, 8, 8, 8}, 3), Bytes(4)},
      {"palette of 16 bits", BasicTags(1, 1, 3, {16}, 1), Bytes(2)},
      {"gray of 6 bits", BasicTags(1, 1, 1, {6}, 1), Bytes(1)},
      {"photometric 6", BasicTags(1, 1, 6, {8, 8, 8}, 3), Bytes(3)},
      {"JPEG first page", BasicTags(1, 1, 1, {8}, 1, 7), Bytes(1)},
      {"16-bit float", [] { auto t = BasicTags(1, 1, 1, {16}, 1); t.push_back({339, 3, {3}}); return t; }(), Bytes(2)},
      {"separate planes", [] { auto t = BasicTags(1, 1, 2, {8, 8, 8}, 3); t.push_back({284, 3, {2}}); return t; }(),
       Bytes(3)},
      {"huge page from a tiny strip",
       [] { auto t = BasicTags(60000, 60000, 1, {8}, 1, 32773); return t; }(), {0x81, 0}},
      {"uncompressed rows outside the file", BasicTags(100, 100, 1, {8}, 1), Bytes(10)},
      // Half a megabyte of LZW could fill 1.6 GB, more than any reader hands out as a frame.
      {"frame beyond the readers' cap", BasicTags(40000, 40000, 1, {8}, 1, 5), Bytes(480000)},
  };
  for (const Case& c : cases) EXPECT_FALSE(Opened(BuildTiff({{c.tags, {c.strip}}})).ok) << c.name;
}

TEST(TiffReader, PageTable) {
  TiffPageSpec gray16{BasicTags(2, 1, 1, {16}, 1), {Samples16({0x1000, 0xF000}, false)}};
  TiffPageSpec jpeg{BasicTags(2, 1, 1, {8}, 1, 7), {{1, 2}}};
  TiffPageSpec noRowsPerStrip{BasicTags(2, 1, 1, {8}, 1), {{3, 4}}};
  noRowsPerStrip.tags.erase(noRowsPerStrip.tags.end() - 1);
  TiffPageSpec gray8{BasicTags(2, 1, 1, {8}, 1), {{0x10, 0x80}}};
  TiffPageSpec bigger{BasicTags(3, 2, 1, {8}, 1), {{1, 2, 3, 4, 5, 6}}};
  Opened t(BuildTiff({gray16, jpeg, noRowsPerStrip, gray8, bigger}));
  ASSERT_TRUE(t.ok);
  // The directory without RowsPerStrip is not a page; the JPEG one is, and reads black.
  EXPECT_EQ(t.file.info.frameCount, 4u);
  EXPECT_EQ(t.FrameAs<uint16_t>(0), (std::vector<uint16_t>{0x1000, 0xF000}));
  EXPECT_EQ(t.FrameAs<uint16_t>(1), (std::vector<uint16_t>{0, 0}));
  EXPECT_EQ(t.FrameAs<uint16_t>(2), (std::vector<uint16_t>{0x1010, 0x8080}));
  // Pages are read at the first page's size.
  EXPECT_EQ(t.FrameAs<uint16_t>(3), (std::vector<uint16_t>{0x0101, 0x0202}));
  Bytes two(2 * t.FrameBytes());
  EXPECT_EQ(TiffReadFrames(&t.file, 0, 2, 2, two.data()), 1);
  EXPECT_EQ(TiffReadFrames(&t.file, 0, 3, 2, two.data()), 0);
  EXPECT_EQ(TiffReadFrames(&t.file, 1, 0, 1, two.data()), 0);
  EXPECT_EQ(TiffReadFrames(&t.file, 0, 4, 0, two.data()), 1);
}

TEST(TiffReader, DirectoryChainThatLoopsStops) {
  Bytes b = BuildTiff({{BasicTags(1, 1, 1, {8}, 1), {{7}}}});
  // Point the only directory's next field back at itself.
  uint32_t ifd = b[4] | b[5] << 8 | b[6] << 16 | uint32_t(b[7]) << 24;
  Set32(b, b.size() - 4, ifd);
  Opened t(b);
  ASSERT_TRUE(t.ok);
  EXPECT_EQ(t.file.info.frameCount, 1u);
}

TEST(TiffReader, ShortStripOffsetsInsideTheEntryAndStripsPastTheHeight) {
  // Two SHORT strip offsets fit the entry's value field; a third strip lies past the height.
  Bytes b = BuildTiff({{{{256, 4, {2}}, {257, 4, {2}}, {258, 3, {8}}, {262, 3, {1}}, {278, 4, {1}},
                         {273, 3, {8, 10}}, {279, 3, {2, 2}}},
                        {{10, 20, 30, 40}}}});
  Opened t(b);
  ASSERT_TRUE(t.ok);
  EXPECT_EQ(t.Frame(0), (Bytes{10, 20, 30, 40}));
}

TEST(TiffReader, CompressedStripsWithPredictors) {
  Rng rng(3);
  const uint32_t w = 7, h = 5;
  std::vector<uint16_t> px(w * h * 3);
  for (uint16_t& v : px) v = uint16_t(rng.Next());
  for (bool be : {false, true}) {
    Bytes raw = Samples16(px, be);
    // Horizontal differencing of 16-bit samples, as an LZW writer with predictor 2 stores them.
    std::vector<uint16_t> diff = px;
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t i = w * 3 - 1; i >= 3; --i) diff[y * w * 3 + i] = uint16_t(px[y * w * 3 + i] - px[y * w * 3 + i - 3]);
    // Two strips of 3 and 2 rows.
    auto tags = [&](uint32_t compression, uint32_t predictor) {
      auto t = BasicTags(w, h, 2, {16, 16, 16}, 3, compression);
      t.back().values = {3};
      t.push_back({317, 3, {predictor}});
      return t;
    };
    Bytes d = Samples16(diff, be);
    size_t cut = 3 * w * 6;
    Bytes a(d.begin(), d.begin() + cut), c(d.begin() + cut, d.end());
    Opened lzw(BuildTiff({{tags(5, 2), {LzwEncode(a), LzwEncode(c)}}}, be));
    Bytes ra(raw.begin(), raw.begin() + cut), rc(raw.begin() + cut, raw.end());
    Opened pb(BuildTiff({{tags(32773, 1), {PackBitsEncode(ra), PackBitsEncode(rc)}}}, be));
    ASSERT_TRUE(lzw.ok && pb.ok);
    EXPECT_EQ(lzw.FrameAs<uint16_t>(0), px);
    EXPECT_EQ(pb.FrameAs<uint16_t>(0), px);
  }
}

TEST(TiffReader, FailedStripReadsBlackAndShortStripLeavesZeros) {
  // Second page: an LZW strip that yields nothing (the end code first) reads black.
  TiffPageSpec good{BasicTags(2, 2, 1, {8}, 1), {{1, 2, 3, 4}}};
  TiffPageSpec empty{BasicTags(2, 2, 1, {8}, 1, 5), {Codes9({256, 257, 257, 257})}};
  // Third page: a PackBits strip shorter than the page leaves the rest 0.
  TiffPageSpec shortStrip{BasicTags(2, 2, 1, {8}, 1, 32773), {{0xFF, 9}}};
  Opened t(BuildTiff({good, empty, shortStrip}));
  ASSERT_TRUE(t.ok);
  EXPECT_EQ(t.Frame(1), (Bytes{0, 0, 0, 0}));
  EXPECT_EQ(t.Frame(2), (Bytes{9, 9, 0, 0}));
}

TEST(TiffReader, ConversionsBetweenPageKinds) {
  // Frame size and kind from the first page (16-bit RGB); gray 8 becomes v x 257.
  TiffPageSpec rgb16{BasicTags(1, 1, 2, {16, 16, 16}, 3), {Samples16({1, 2, 3}, false)}};
  TiffPageSpec gray8{BasicTags(1, 1, 1, {8}, 1), {{200}}};
  auto ftags = BasicTags(1, 1, 2, {32, 32, 32}, 3);
  ftags.push_back({339, 3, {3, 3, 3}});
  Bytes fl;
  for (float f : {1.0f, 0.0f, 0.5f}) Put(fl, FloatBits(f), 4);
  TiffPageSpec rgbf{ftags, {fl}};
  Opened t(BuildTiff({rgb16, gray8, rgbf}));
  ASSERT_TRUE(t.ok);
  EXPECT_EQ(t.FrameAs<uint16_t>(1), (std::vector<uint16_t>{200 * 257, 200 * 257, 200 * 257}));
  EXPECT_EQ(t.FrameAs<uint16_t>(2), (std::vector<uint16_t>{65535, 0, 32767}));
  // An 8-bit gray frame from an RGB page uses the weighted sum.
  TiffPageSpec g{BasicTags(1, 1, 1, {8}, 1), {{5}}};
  TiffPageSpec c{BasicTags(1, 1, 2, {8, 8, 8}, 3), {{255, 0, 0}}};
  Opened t2(BuildTiff({g, c}));
  ASSERT_TRUE(t2.ok);
  EXPECT_EQ(t2.Frame(1), Bytes{76});
  // A 32-bit float RGB frame keeps full precision.
  Opened t3(BuildTiff({rgbf}));
  ASSERT_TRUE(t3.ok);
  EXPECT_EQ(t3.file.info.bytesPerPixel, 12u);
  EXPECT_EQ(t3.FrameAs<uint32_t>(0), (std::vector<uint32_t>{4294967295u, 0, 2147483647u}));
}

// ---- writer ---------------------------------------------------------------------------

namespace {

uint16_t U16(const Bytes& b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }
uint32_t U32(const Bytes& b, size_t at) { return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24; }

Bytes Pattern(size_t n, uint64_t seed) {
  Rng r(seed);
  Bytes b(n);
  for (uint8_t& v : b) v = uint8_t(r.Next());
  return b;
}

bool WriteTiff(const std::string& path, uint64_t w, uint64_t h, uint64_t bpp, const std::vector<Bytes>& frames) {
  TiffWriter* tw = TiffWriterOpen(path.c_str());
  if (!tw) return false;
  bool ok = true;
  for (const Bytes& f : frames) ok = ok && TiffWriterAddPage(tw, w, h, bpp, bpp == 3 || bpp == 6 || bpp == 12, f.data());
  return TiffWriterClose(tw) && ok;
}

}  // namespace

TEST(TiffWriter, ByteLayoutOfColourAndGrayPages) {
  const std::string path = OutPath("tiff_layout.tif");
  Bytes rgb = Pattern(100 * 50 * 3, 1), gray = Pattern(3, 2);
  TiffWriter* w = TiffWriterOpen(path.c_str());
  ASSERT_NE(w, nullptr);
  ASSERT_EQ(TiffWriterAddPage(w, 100, 50, 3, 1, rgb.data()), 1);
  ASSERT_EQ(TiffWriterAddPage(w, 3, 1, 1, 0, gray.data()), 1);
  ASSERT_EQ(TiffWriterAddPage(w, 3, 1, 1, 0, gray.data()), 1);
  ASSERT_EQ(TiffWriterClose(w), 1);
  Bytes f = ReadFile(path);
  ASSERT_EQ(f.size(), 8u + 138 + 15000 + 2 * (126 + 3));
  EXPECT_EQ(Bytes(f.begin(), f.begin() + 8), (Bytes{'I', 'I', 42, 0, 8, 0, 0, 0}));
  ASSERT_EQ(U16(f, 8), 10);
  const uint16_t tags[10] = {256, 257, 258, 259, 262, 273, 277, 278, 279, 339};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(U16(f, 10 + 12 * i), tags[i]);
  EXPECT_EQ(U32(f, 10 + 12 * 2 + 8), 8u + 126);  // BitsPerSample values
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(U16(f, 8 + 126 + 2 * i), 8);
    EXPECT_EQ(U16(f, 8 + 132 + 2 * i), 1);
  }
  EXPECT_EQ(U32(f, 10 + 12 * 5 + 8), 8u + 138);  // StripOffsets
  EXPECT_EQ(Bytes(f.begin() + 146, f.begin() + 146 + 15000), rgb);
  // The pages chain: the first next field holds the second IFD, the last holds 0.
  const uint32_t second = 8 + 138 + 15000, third = second + 126 + 3;
  EXPECT_EQ(U32(f, 8 + 122), second);
  EXPECT_EQ(U32(f, second + 122), third);
  EXPECT_EQ(third % 2, 1u);  // no padding: an IFD may start at an odd offset
  EXPECT_EQ(U32(f, third + 122), 0u);
  EXPECT_EQ(U16(f, second + 2 + 12 * 2 + 8), 8);  // gray BitsPerSample in the entry
}

TEST(TiffWriter, RoundTripsEveryFrameKind) {
  for (uint64_t bpp : {1, 2, 3, 4, 6, 12}) {
    const std::string path = OutPath("tiff_rt_" + std::to_string(bpp) + ".tif");
    const uint64_t w = 5, h = 3;
    Bytes a = Pattern(w * h * bpp, bpp), b = Pattern(w * h * bpp, bpp + 100);
    if (bpp == 4 || bpp == 12) {
      // 32-bit samples go through floats: these are the values that come back unchanged.
      std::vector<uint32_t> v = {0, 4294967295u, 2147483647u, 1073741823u, 3221225471u};
      for (size_t i = 0; i < a.size() / 4; ++i) {
        std::memcpy(a.data() + 4 * i, &v[i % 5], 4);
        std::memcpy(b.data() + 4 * i, &v[(i + 2) % 5], 4);
      }
    }
    ASSERT_TRUE(WriteTiff(path, w, h, bpp, {a, b}));
    MediaFile file{};
    ASSERT_EQ(TiffOpenRead(&file, path.c_str()), 1) << bpp;
    EXPECT_EQ(file.info.bytesPerPixel, bpp);
    EXPECT_EQ(file.info.frameCount, 2u);
    Bytes out(2 * a.size());
    ASSERT_EQ(TiffReadFrames(&file, 0, 0, 2, out.data()), 1);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + a.size()), a) << bpp;
    EXPECT_EQ(Bytes(out.begin() + a.size(), out.end()), b) << bpp;
    TiffClose(&file);
  }
}

TEST(TiffWriter, RefusesBadPagesAndPagesPast4GiB) {
  const std::string path = OutPath("tiff_refuse.tif");
  TiffWriter* w = TiffWriterOpen(path.c_str());
  ASSERT_NE(w, nullptr);
  uint8_t px[16] = {};
  EXPECT_EQ(TiffWriterAddPage(w, 0, 1, 1, 0, px), 0);
  EXPECT_EQ(TiffWriterAddPage(w, 1, 1, 3, 0, px), 0);  // 3 bytes need the colour flag
  EXPECT_EQ(TiffWriterAddPage(w, 1, 1, 4, 1, px), 0);
  EXPECT_EQ(TiffWriterAddPage(w, 1, 1, 1, 0, nullptr), 0);
  ASSERT_EQ(TiffWriterAddPage(w, 1, 1, 1, 0, px), 1);
  // A page whose pixels would end past 4 GiB - 1 is refused before anything is written;
  // the pixel pointer is never read.
  EXPECT_EQ(TiffWriterAddPage(w, 4294967295u - 200, 1, 1, 0, px), 0);
  EXPECT_EQ(TiffWriterAddPage(w, 65536, 65536, 1, 0, px), 0);
  ASSERT_EQ(TiffWriterClose(w), 1);
  EXPECT_EQ(ReadFile(path).size(), 8u + 126 + 1);
  EXPECT_EQ(TiffWriterOpen(""), nullptr);
  EXPECT_EQ(TiffWriterOpen("/nonexistent-folder/x.tif"), nullptr);
}

TEST(TiffWriter, CloseReportsWriteFailure) {
  if (!HaveTool("/dev/full") && std::fopen("/dev/full", "wb") == nullptr) GTEST_SKIP() << "no /dev/full";
  TiffWriter* w = TiffWriterOpen("/dev/full");
  if (!w) GTEST_SKIP() << "/dev/full refused at open";
  Bytes px(64 * 64, 1);
  TiffWriterAddPage(w, 64, 64, 1, 0, px.data());  // may or may not fail while buffered
  EXPECT_EQ(TiffWriterClose(w), 0);
}

TEST(TiffWriter, CloseWithoutAPageIsNotASave) {
  const std::string path = OutPath("tiff_no_page.tif");
  TiffWriter* w = TiffWriterOpen(path.c_str());
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(TiffWriterClose(w), 0);
  MediaInfo info{MediaKindStill, 1, 1, 1, 4, 3, 0};
  MediaFile* f = MediaCreate(Wide(path).c_str(), &info, nullptr);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(MediaClose(f), 0);
}

// ---- through the media handle -----------------------------------------------------------

TEST(TiffMedia, CreateWriteCloseOpenRead) {
  const std::string path = OutPath("tiff_media.tif");
  MediaInfo info{MediaKindStill, 1, 1, 6, 4, 3, 0};
  MediaFile* out = MediaCreate(Wide(path).c_str(), &info, nullptr);
  ASSERT_NE(out, nullptr);
  Bytes a = Pattern(4 * 3 * 6, 7), b = Pattern(4 * 3 * 6, 8);
  EXPECT_EQ(MediaWriteFrame(out, 0, 0, a.data()), 1);
  EXPECT_EQ(MediaWriteFrame(out, 0, 0, b.data()), 1);
  EXPECT_EQ(MediaClose(out), 1);
  MediaFile* in = MediaOpen(Wide(path).c_str(), nullptr, nullptr);
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(in->info.frameCount, 2u);
  EXPECT_EQ(in->info.bytesPerPixel, 6u);
  Bytes got(a.size());
  EXPECT_EQ(MediaReadFrame(in, 0, 1, 0, got.data()), 1);
  EXPECT_EQ(got, b);
  EXPECT_EQ(MediaReadFrame(in, 0, 2, 0, got.data()), 0);
  EXPECT_EQ(MediaClose(in), 1);
}

// ---- other tools ------------------------------------------------------------------------

namespace {

bool HaveTiffTools() { return HaveTool("/usr/bin/tiffcp") && HaveTool("/usr/bin/tiffinfo"); }

Bytes ReadAll(const std::string& path, MediaInfo* info) {
  MediaFile file{};
  Bytes out;
  if (!TiffOpenRead(&file, path.c_str())) return out;
  *info = file.info;
  out.resize(file.info.width * file.info.height * file.info.bytesPerPixel * file.info.frameCount);
  if (!TiffReadFrames(&file, 0, 0, file.info.frameCount, out.data())) out.clear();
  TiffClose(&file);
  return out;
}

}  // namespace

TEST(TiffTools, OurFilesPassTiffinfoAndIdentify) {
  if (!HaveTiffTools()) GTEST_SKIP() << "libtiff-tools not installed";
  for (uint64_t bpp : {1, 2, 3, 4, 6, 12}) {
    const std::string path = OutPath("tiff_info_" + std::to_string(bpp) + ".tif");
    Bytes a = Pattern(9 * 4 * bpp, bpp);
    ASSERT_TRUE(WriteTiff(path, 9, 4, bpp, {a, a, a}));
    EXPECT_EQ(Shell("/usr/bin/tiffinfo -D " + path), 0) << bpp;
    if (HaveTool("/usr/bin/identify")) {
      std::string cmd = "/usr/bin/identify " + path + " 2>/dev/null | wc -l";
      FILE* p = popen(cmd.c_str(), "r");
      int lines = 0;
      ASSERT_EQ(fscanf(p, "%d", &lines), 1);
      pclose(p);
      EXPECT_EQ(lines, 3) << bpp;
    }
  }
}

TEST(TiffTools, TiffcpVariantsReadBackEqual) {
  if (!HaveTiffTools()) GTEST_SKIP() << "libtiff-tools not installed";
  struct Case {
    uint64_t bpp;
    const char* options;
  } cases[] = {
      {1, "-c lzw"}, {1, "-c lzw:2"}, {1, "-c packbits"}, {1, "-B"}, {1, "-B -c lzw:2 -r 3"},
      {3, "-c lzw"}, {3, "-c lzw:2"}, {3, "-c packbits"}, {3, "-B -c lzw:2"}, {3, "-r 2"},
      {2, "-c lzw:2"}, {2, "-B"}, {2, "-B -c lzw:2"}, {2, "-c packbits"},
      {6, "-c lzw:2"}, {6, "-B -c lzw:2"}, {6, "-B -c packbits"},
      {4, "-c lzw"}, {4, "-c lzw:3"}, {4, "-B -c lzw:2"}, {4, "-B"}, {12, "-c lzw:3"}, {12, "-B"},
  };
  int n = 0;
  for (const Case& c : cases) {
    const uint64_t w = 37, h = 11;
    Bytes frame(w * h * c.bpp);
    Rng rng(c.bpp * 31 + n);
    // Smooth rows with some noise, so both compressors and predictors have work to do.
    for (uint64_t i = 0; i < frame.size(); ++i) frame[i] = uint8_t(i / 7 + (rng.Below(4) == 0 ? rng.Below(256) : 0));
    if (c.bpp == 4 || c.bpp == 12)
      for (uint64_t i = 0; i < frame.size() / 4; ++i) {
        static const uint32_t exact[4] = {0, 1073741823u, 2147483647u, 4294967295u};  // survive the float
        uint32_t v = exact[rng.Below(4)];
        std::memcpy(frame.data() + 4 * i, &v, 4);
      }
    const std::string src = OutPath("tcp_src_" + std::to_string(n) + ".tif");
    const std::string dst = OutPath("tcp_dst_" + std::to_string(n) + ".tif");
    ++n;
    ASSERT_TRUE(WriteTiff(src, w, h, c.bpp, {frame, frame}));
    ASSERT_EQ(Shell(std::string("/usr/bin/tiffcp ") + c.options + " " + src + " " + dst), 0) << c.options;
    MediaInfo info{};
    Bytes got = ReadAll(dst, &info);
    EXPECT_EQ(info.frameCount, 2u) << c.bpp << " " << c.options;
    EXPECT_EQ(info.bytesPerPixel, c.bpp) << c.options;
    Bytes both = frame;
    both.insert(both.end(), frame.begin(), frame.end());
    EXPECT_TRUE(got == both) << c.bpp << " bytes per pixel, tiffcp " << c.options;
  }
}

TEST(TiffTools, MultiPageFromSeparateFiles) {
  if (!HaveTiffTools()) GTEST_SKIP() << "libtiff-tools not installed";
  Bytes a = Pattern(6 * 2 * 3, 1), b = Pattern(6 * 2 * 3, 2);
  const std::string fa = OutPath("mp_a.tif"), fb = OutPath("mp_b.tif"), out = OutPath("mp_out.tif");
  ASSERT_TRUE(WriteTiff(fa, 6, 2, 3, {a}));
  ASSERT_TRUE(WriteTiff(fb, 6, 2, 3, {b}));
  ASSERT_EQ(Shell("/usr/bin/tiffcp -c lzw " + fa + " " + fb + " " + fa + " " + out), 0);
  MediaInfo info{};
  Bytes got = ReadAll(out, &info);
  ASSERT_EQ(info.frameCount, 3u);
  Bytes expected = a;
  expected.insert(expected.end(), b.begin(), b.end());
  expected.insert(expected.end(), a.begin(), a.end());
  EXPECT_EQ(got, expected);
}

TEST(TiffTools, ImageMagickPaletteGrayAndBilevel) {
  if (!HaveTool("/usr/bin/convert")) GTEST_SKIP() << "ImageMagick not installed";
  // A picture of four colours made here, turned into palette, gray and bilevel TIFFs.
  const uint64_t w = 16, h = 8;
  const uint8_t colours[4][3] = {{255, 0, 0}, {0, 128, 255}, {10, 20, 30}, {255, 255, 255}};
  Bytes rgb(w * h * 3);
  for (uint64_t i = 0; i < w * h; ++i) std::memcpy(&rgb[3 * i], colours[(i / 3 + i / w) % 4], 3);
  const std::string src = OutPath("im_src.tif");
  ASSERT_TRUE(WriteTiff(src, w, h, 3, {rgb}));
  struct Case {
    const char* name;
    const char* options;
  } cases[] = {
      {"im_palette.tif", "-type Palette -compress LZW"},
      {"im_palette_pb.tif", "-type Palette -compress RLE"},
      {"im_palette_msb.tif", "-type Palette -endian MSB"},
  };
  for (const Case& c : cases) {
    const std::string dst = OutPath(c.name);
    ASSERT_EQ(Shell("/usr/bin/convert " + src + " " + c.options + " " + dst), 0) << c.options;
    MediaInfo info{};
    Bytes got = ReadAll(dst, &info);
    EXPECT_EQ(info.bytesPerPixel, 3u) << c.options;
    EXPECT_EQ(got, rgb) << c.options;
  }
  // Gray: 8 and 16 bits, and a 1-bit picture.
  Bytes gray(w * h);
  for (uint64_t i = 0; i < w * h; ++i) gray[i] = uint8_t(i * 2);
  const std::string gsrc = OutPath("im_gsrc.tif");
  ASSERT_TRUE(WriteTiff(gsrc, w, h, 1, {gray}));
  const std::string g16 = OutPath("im_g16.tif");
  ASSERT_EQ(Shell("/usr/bin/convert " + gsrc + " -depth 16 -compress LZW " + g16), 0);
  MediaInfo info{};
  Bytes got = ReadAll(g16, &info);
  ASSERT_EQ(info.bytesPerPixel, 2u);
  for (uint64_t i = 0; i < w * h; ++i) {
    uint16_t v;
    std::memcpy(&v, &got[2 * i], 2);
    EXPECT_EQ(v, gray[i] * 257) << i;
  }
  const std::string bw = OutPath("im_bw.tif");
  ASSERT_EQ(Shell("/usr/bin/convert " + gsrc + " -threshold 50% -type Bilevel " + bw), 0);
  got = ReadAll(bw, &info);
  ASSERT_EQ(info.bytesPerPixel, 1u);
  for (uint64_t i = 0; i < w * h; ++i) EXPECT_EQ(got[i], gray[i] >= 128 ? 255 : 0) << i;
}

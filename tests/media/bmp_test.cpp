// bmp_test.cpp - the BMP reader on built files of every depth and header size, the writer's
// file sizes and round trip, and ImageMagick reading ours and writing for us.
#include <gtest/gtest.h>

#include "media/bmp.h"
#include "media/media.h"
#include "media_fixtures.h"

using namespace fixtures;

namespace {

struct Opened {
  MediaFile file{};
  int ok = 0;
  explicit Opened(const Bytes& b) { ok = BmpOpenMemory(&file, b.data(), b.size()); }
  ~Opened() { BmpClose(&file); }
  Bytes Frame() {
    Bytes out(file.info.width * file.info.height * file.info.bytesPerPixel, 0xEE);
    EXPECT_EQ(BmpReadImage(&file, 0, 0, 1, out.data()), 1);
    return out;
  }
};

std::vector<uint32_t> GrayPalette() {
  std::vector<uint32_t> p(256);
  for (uint32_t i = 0; i < 256; ++i) p[i] = i * 0x010101u;
  return p;
}

}  // namespace

TEST(BmpReader, PaletteImages) {
  BmpSpec s;
  s.width = 3;
  s.height = 2;
  s.bits = 8;
  s.palette = GrayPalette();
  s.pixel = [](int x, int y) { return uint32_t(10 * x + 100 * y); };
  Opened gray(BuildBmp(s));
  ASSERT_TRUE(gray.ok);
  EXPECT_EQ(gray.file.info.bytesPerPixel, 1u);
  EXPECT_EQ(gray.Frame(), (Bytes{0, 10, 20, 100, 110, 120}));
  // One entry changed: no longer the gray ramp, so the frame is colour.
  s.palette[110] = 0x123456;
  Opened colour(BuildBmp(s));
  ASSERT_TRUE(colour.ok);
  EXPECT_EQ(colour.file.info.bytesPerPixel, 3u);
  Bytes f = colour.Frame();
  EXPECT_EQ(Bytes(f.begin() + 12, f.begin() + 15), (Bytes{0x12, 0x34, 0x56}));
  EXPECT_EQ(Bytes(f.begin() + 15, f.end()), (Bytes{120, 120, 120}));
  // 4 bits, 16 entries; an index beyond a short palette is black.
  BmpSpec s4;
  s4.width = 3;
  s4.bits = 4;
  s4.coloursUsed = 2;
  s4.palette = {0xFF0000, 0x00FF00};
  s4.pixel = [](int x, int) { return uint32_t(x); };
  Opened four(BuildBmp(s4));
  ASSERT_TRUE(four.ok);
  EXPECT_EQ(four.Frame(), (Bytes{255, 0, 0, 0, 255, 0, 0, 0, 0}));
  // 1 bit.
  BmpSpec s1;
  s1.width = 10;
  s1.bits = 1;
  s1.palette = {0x000000, 0xFFFFFF};
  s1.pixel = [](int x, int) { return uint32_t(x == 0 || x == 9); };
  Opened one(BuildBmp(s1));
  ASSERT_TRUE(one.ok);
  Bytes o = one.Frame();
  EXPECT_EQ(o[0], 255);
  EXPECT_EQ(o[3], 0);
  EXPECT_EQ(o[27], 255);
}

TEST(BmpReader, SixteenAndThirtyTwoBits) {
  struct Case {
    const char* name;
    uint16_t bits;
    uint32_t compression;
    std::vector<uint32_t> masks;
    uint32_t pixel;
    Bytes expected;
  } cases[] = {
      {"16-bit BI_RGB 0x7FFF", 16, 0, {}, 0x7FFF, {248, 248, 248}},
      {"16-bit 5-6-5 0xFFFF", 16, 3, {0xF800, 0x07E0, 0x001F}, 0xFFFF, {248, 252, 248}},
      {"16-bit 5-6-5 red", 16, 3, {0xF800, 0x07E0, 0x001F}, 0xF800, {248, 0, 0}},
      {"32-bit BI_RGB", 32, 0, {}, 0x00102030, {0x10, 0x20, 0x30}},
      {"32-bit bit fields, blue high", 32, 3, {0x000000FF, 0x0000FF00, 0xFF000000}, 0xAB0000CD, {0xCD, 0, 0xAB}},
      {"32-bit 10-bit fields", 32, 3, {0x3FF00000, 0x000FFC00, 0x000003FF}, 0x3FF00000, {255, 0, 0}},
  };
  for (const Case& c : cases) {
    for (uint32_t header : {40u, 124u}) {
      BmpSpec s;
      s.bits = c.bits;
      s.compression = c.compression;
      s.masks = c.masks;
      s.headerSize = header;
      static uint32_t px;
      px = c.pixel;
      s.pixel = [](int, int) { return px; };
      Opened o(BuildBmp(s));
      ASSERT_TRUE(o.ok) << c.name << " header " << header;
      EXPECT_EQ(o.Frame(), c.expected) << c.name << " header " << header;
    }
  }
}

TEST(BmpReader, LargerHeadersAndTheDataOffset) {
  // A V5 header with a gap before the rows: the rows are found at the data offset.
  BmpSpec s;
  s.width = 2;
  s.height = 2;
  s.headerSize = 124;
  s.dataOffset = 14 + 124 + 20;
  s.pixel = [](int x, int y) { return uint32_t(0x010203 * (1 + x + 2 * y)); };
  Opened o(BuildBmp(s));
  ASSERT_TRUE(o.ok);
  EXPECT_EQ(o.Frame(), (Bytes{1, 2, 3, 2, 4, 6, 3, 6, 9, 4, 8, 12}));
}

TEST(BmpReader, RefusesBadFiles) {
  auto with = [](auto change) {
    BmpSpec s;
    s.width = 4;
    s.height = 4;
    s.bits = 8;
    s.palette = GrayPalette();
    s.pixel = [](int x, int) { return uint32_t(x); };
    change(s);
    return BuildBmp(s);
  };
  struct Case {
    const char* name;
    Bytes file;
  } cases[] = {
      {"negative height", with([](BmpSpec& s) { s.height = -4; s.rows = Bytes(16); })},
      {"RLE8", with([](BmpSpec& s) { s.compression = 1; })},
      {"bit fields on 8 bits", with([](BmpSpec& s) { s.compression = 3; })},
      {"planes 2", with([](BmpSpec& s) { s.planes = 2; })},
      {"2 bits", with([](BmpSpec& s) { s.bits = 2; })},
      {"12-byte header", with([](BmpSpec& s) { s.headerSize = 12; })},
      {"data offset inside the header", with([](BmpSpec& s) { s.dataOffset = 30; })},
      {"data offset past the end", [&] { Bytes b = with([](BmpSpec&) {}); Set32(b, 10, uint32_t(b.size()) - 15); return b; }()},
      {"rows cut short", [&] { Bytes b = with([](BmpSpec&) {}); b.resize(b.size() - 1); return b; }()},
      {"huge width", with([](BmpSpec& s) { s.width = 0x7FFFFFFF; s.rows = Bytes(64); })},
      {"not BM", [&] { Bytes b = with([](BmpSpec&) {}); b[0] = 'X'; return b; }()},
      {"only a header", Bytes{'B', 'M', 0, 0}},
  };
  for (const Case& c : cases) EXPECT_FALSE(Opened(c.file).ok) << c.name;
  // A palette longer than 256 entries is read as its first 256.
  Opened capped(with([](BmpSpec& s) { s.coloursUsed = 100000; s.palette.resize(300, 0x000000); }));
  ASSERT_TRUE(capped.ok);
  EXPECT_EQ(capped.file.info.bytesPerPixel, 1u);
}

TEST(BmpWriter, FileSizesAndRoundTrip) {
  struct Case {
    uint64_t bpp, width, height, fileSize;
  } cases[] = {{1, 1, 1, 1082}, {3, 1, 1, 58}, {1, 5, 3, 14 + 40 + 1024 + 24}, {3, 5, 3, 54 + 48}};
  for (const Case& c : cases) {
    const std::string path = OutPath("bmp_w_" + std::to_string(c.bpp) + "_" + std::to_string(c.width) + ".bmp");
    MediaFile w{};
    w.info = {MediaKindStill, 1, 1, c.bpp, c.width, c.height, 0};
    w.mode = MediaModeWrite;
    w.ansiPath = const_cast<char*>(path.c_str());
    Bytes px(c.width * c.height * c.bpp);
    for (size_t i = 0; i < px.size(); ++i) px[i] = uint8_t(i * 37 + 1);
    ASSERT_EQ(BmpOpenWrite(&w), 1);
    ASSERT_EQ(BmpWriteImage(&w, 0, 1, px.data()), 1);
    ASSERT_EQ(BmpClose(&w), 1);
    Bytes f = ReadFile(path);
    EXPECT_EQ(f.size(), c.fileSize);
    EXPECT_EQ(f[10] | f[11] << 8, c.bpp == 1 ? 1078 : 54);
    MediaFile r{};
    ASSERT_EQ(BmpOpenRead(&r, path.c_str()), 1);
    EXPECT_EQ(r.info.bytesPerPixel, c.bpp);
    Bytes back(px.size());
    EXPECT_EQ(BmpReadImage(&r, 0, 0, 1, back.data()), 1);
    EXPECT_EQ(back, px);
    BmpClose(&r);
  }
}

TEST(BmpWriter, ClosingWithoutAFrameLeavesTheFileAlone) {
  const std::string path = OutPath("bmp_keep.bmp");
  ASSERT_TRUE(WriteFile(path, {'k', 'e', 'e', 'p'}));
  MediaFile w{};
  w.info = {MediaKindStill, 1, 1, 3, 4, 4, 0};
  w.ansiPath = const_cast<char*>(path.c_str());
  ASSERT_EQ(BmpOpenWrite(&w), 1);
  EXPECT_EQ(BmpClose(&w), 0);
  EXPECT_EQ(ReadFile(path), (Bytes{'k', 'e', 'e', 'p'}));
  // Refused set-ups.
  w.info = {MediaKindStill, 1, 2, 3, 4, 4, 0};
  EXPECT_EQ(BmpOpenWrite(&w), 0);
  w.info = {MediaKindStill, 1, 1, 2, 4, 4, 0};
  EXPECT_EQ(BmpOpenWrite(&w), 0);
  // A folder that does not exist: the close reports the failure.
  const std::string bad = "/nonexistent-folder/x.bmp";
  w.info = {MediaKindStill, 1, 1, 1, 2, 2, 0};
  w.ansiPath = const_cast<char*>(bad.c_str());
  ASSERT_EQ(BmpOpenWrite(&w), 1);
  uint8_t px[4] = {};
  EXPECT_EQ(BmpWriteImage(&w, 0, 1, px), 1);
  EXPECT_EQ(BmpClose(&w), 0);
}

TEST(BmpMedia, CreateWriteCloseOpenRead) {
  const std::string path = OutPath("bmp_media.bmp");
  MediaInfo info{MediaKindStill, 1, 1, 3, 7, 5, 0};
  MediaFile* out = MediaCreate(Wide(path).c_str(), &info, nullptr);
  ASSERT_NE(out, nullptr);
  Bytes px(7 * 5 * 3);
  for (size_t i = 0; i < px.size(); ++i) px[i] = uint8_t(i * 11);
  EXPECT_EQ(MediaWriteFrame(out, 0, 0, px.data()), 1);
  EXPECT_EQ(MediaClose(out), 1);
  MediaFile* in = MediaOpen(Wide(path).c_str(), nullptr, nullptr);
  ASSERT_NE(in, nullptr);
  Bytes back(px.size());
  EXPECT_EQ(MediaReadFrame(in, 0, 0, 0, back.data()), 1);
  EXPECT_EQ(back, px);
  EXPECT_EQ(MediaClose(in), 1);
}

TEST(BmpTools, ImageMagickBothWays) {
  if (!HaveTool("/usr/bin/convert")) GTEST_SKIP() << "ImageMagick not installed";
  const uint64_t w = 13, h = 7;
  Bytes rgb(w * h * 3);
  for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = uint8_t(i * 7 + i / 5);
  // Ours, read by ImageMagick: written out as raw RGB and compared.
  const std::string ours = OutPath("bmp_ours.bmp"), raw = OutPath("bmp_ours.rgb");
  {
    MediaFile f{};
    f.info = {MediaKindStill, 1, 1, 3, w, h, 0};
    f.ansiPath = const_cast<char*>(ours.c_str());
    ASSERT_EQ(BmpOpenWrite(&f), 1);
    ASSERT_EQ(BmpWriteImage(&f, 0, 1, rgb.data()), 1);
    ASSERT_EQ(BmpClose(&f), 1);
  }
  ASSERT_EQ(Shell("/usr/bin/convert " + ours + " -depth 8 rgb:" + raw), 0);
  EXPECT_EQ(ReadFile(raw), rgb);
  // ImageMagick's files, read by us: 24-bit with its larger headers, 8-bit palette, 16 and 32 bits.
  const std::string rawIn = OutPath("bmp_in.rgb");
  ASSERT_TRUE(WriteFile(rawIn, rgb));
  struct Case {
    const char* name;
    const char* options;
    bool exact;
  } cases[] = {
      {"bmp_im24.bmp", "-type TrueColor", true},
      {"bmp_im3.bmp", "-type TrueColor BMP3:", true},
      {"bmp_im32.bmp", "-type TrueColorAlpha -define bmp:format=bmp4", true},
      {"bmp_im565.bmp", "-define bmp:subtype=RGB565", false},
  };
  for (const Case& c : cases) {
    std::string dst = OutPath(c.name);
    std::string opts = c.options;
    std::string prefix;
    if (opts.size() > 5 && opts.substr(opts.size() - 5) == "BMP3:") {
      prefix = "BMP3:";
      opts = opts.substr(0, opts.size() - 5);
    }
    ASSERT_EQ(Shell("/usr/bin/convert -size 13x7 -depth 8 rgb:" + rawIn + " " + opts + " " + prefix + dst), 0) << c.name;
    MediaFile r{};
    ASSERT_EQ(BmpOpenRead(&r, dst.c_str()), 1) << c.name;
    ASSERT_EQ(r.info.bytesPerPixel, 3u) << c.name;
    Bytes back(rgb.size());
    EXPECT_EQ(BmpReadImage(&r, 0, 0, 1, back.data()), 1);
    BmpClose(&r);
    if (c.exact) {
      EXPECT_EQ(back, rgb) << c.name;
    } else {
      for (size_t i = 0; i < rgb.size(); ++i) EXPECT_NEAR(back[i], rgb[i], 16) << c.name << " " << i;
    }
  }
  // An 8-bit palette file without compression: our pixels must equal ImageMagick's own reading.
  Bytes gray(w * h);
  for (size_t i = 0; i < gray.size(); ++i) gray[i] = uint8_t(i * 2);
  const std::string grayIn = OutPath("bmp_in.gray"), grayBmp = OutPath("bmp_gray.bmp"), imRgb = OutPath("bmp_gray.rgb");
  ASSERT_TRUE(WriteFile(grayIn, gray));
  ASSERT_EQ(Shell("/usr/bin/convert -size 13x7 -depth 8 gray:" + grayIn + " -type Palette -compress None BMP3:" + grayBmp), 0);
  ASSERT_EQ(Shell("/usr/bin/convert " + grayBmp + " -depth 8 rgb:" + imRgb), 0);
  MediaFile r{};
  ASSERT_EQ(BmpOpenRead(&r, grayBmp.c_str()), 1);
  Bytes back(r.info.width * r.info.height * r.info.bytesPerPixel);
  EXPECT_EQ(BmpReadImage(&r, 0, 0, 1, back.data()), 1);
  Bytes im = ReadFile(imRgb);
  ASSERT_EQ(im.size(), w * h * 3);
  for (size_t i = 0; i < w * h; ++i) EXPECT_EQ(back[i * r.info.bytesPerPixel], im[3 * i]) << i;
  BmpClose(&r);
}

// png_jpeg_test.cpp - PNG and JPEG through the media handle: every PNG colour type and bit
// depth against an independent encoder and against ImageMagick, JPEG gray/RGB/CMYK/
// progressive against ImageMagick's decode, our files read back by ImageMagick, the
// writers' refusals, quality, signature messages, the libjpeg fatal exit, and a
// deterministic run of truncated and bit-flipped files.
#include <gtest/gtest.h>

#include <stdio.h>

#include <jpeglib.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "media/media.h"
#include "media/media_file.h"

namespace {

const char* const kConvert = "/usr/bin/convert";

std::string OutDir(const std::string& name) {
  std::string dir = std::string(QV_TEST_OUT_DIR) + "/pngjpeg_" + name;
  std::string cmd = "rm -rf '" + dir + "' && mkdir -p '" + dir + "'";
  EXPECT_EQ(0, system(cmd.c_str()));
  return dir;
}

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

bool Shell(const std::string& cmd) { return system(cmd.c_str()) == 0; }

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// ImageMagick's own pixels of a file: 8-bit or 16-bit little-endian, gray, rgb or cmyk.
std::vector<uint8_t> ConvertPixels(const std::string& path, const char* layout, int depth) {
  const std::string raw = path + "." + layout + std::to_string(depth) + ".raw";
  const std::string cmd = std::string(kConvert) + " '" + path + "' -depth " + std::to_string(depth) +
                          " -endian LSB " + layout + ":'" + raw + "'";
  EXPECT_TRUE(Shell(cmd)) << cmd;
  return ReadBytes(raw);
}

struct Decoded {
  bool opened = false;
  bool read = false;
  MediaInfo info{};
  std::vector<uint8_t> pixels;
};

Decoded Decode(const std::string& path) {
  Decoded d;
  MediaFile* f = MediaOpen(Wide(path).c_str(), nullptr, nullptr);
  if (!f) return d;
  d.opened = true;
  d.info = f->info;
  d.pixels.assign(f->info.width * f->info.height * f->info.bytesPerPixel, 0);
  d.read = MediaReadFrame(f, 0, 0, 0, d.pixels.data()) == 1;
  EXPECT_EQ(1, MediaClose(f));
  return d;
}

bool Encode(const std::string& path, uint64_t w, uint64_t h, uint64_t bpp, const void* px, uint32_t quality = 0) {
  MediaInfo info{MediaKindStill, 1, 1, bpp, w, h, 0};
  MediaWriteOptions opt{};
  opt.jpegQuality = quality;
  MediaFile* f = MediaCreate(Wide(path).c_str(), &info, &opt);
  if (!f) return false;
  const int wrote = MediaWriteFrame(f, 0, 0, px);
  return MediaClose(f) == 1 && wrote == 1;
}

// Deterministic smooth-ish content with some detail: what a camera frame looks like to a codec.
std::vector<uint8_t> TestPicture(uint64_t w, uint64_t h, uint64_t channels, int sixteenBit, bool noisy = true) {
  std::vector<uint8_t> px(w * h * channels * (sixteenBit ? 2 : 1));
  uint32_t seed = 12345;
  for (uint64_t y = 0; y < h; ++y)
    for (uint64_t x = 0; x < w; ++x)
      for (uint64_t c = 0; c < channels; ++c) {
        seed = seed * 1664525u + 1013904223u;
        const uint64_t i = (y * w + x) * channels + c;
        const uint32_t smooth = uint32_t(x * 100 / w + y * 50 / h + c * 50);  // no wrap: 0..249
        if (sixteenBit) {
          reinterpret_cast<uint16_t*>(px.data())[i] = uint16_t((smooth << 8) | (seed >> 24));
        } else {
          px[i] = uint8_t(smooth + (noisy ? seed >> 29 : 0));
        }
      }
  return px;
}

int MaxDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  int worst = a.size() == b.size() ? 0 : 1000;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) worst = std::max(worst, std::abs(int(a[i]) - int(b[i])));
  return worst;
}

double MeanDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size() || a.empty()) return 1000;
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) sum += std::abs(int(a[i]) - int(b[i]));
  return sum / double(a.size());
}

// ---------------------------------------------------------------------------------------
// PNG reading

TEST(PngRead, EveryColourTypeAndDepthMatchesAnIndependentEncoder) {
  const std::string dir = OutDir("variants");
  ASSERT_TRUE(Shell("/usr/bin/python3 '" QV_TEST_DATA_DIR "/media/png_variants.py' '" + dir + "'"));
  std::ifstream list(dir + "/list.txt");
  std::string name;
  uint64_t w, h, bpp;
  int cases = 0;
  testing::internal::CaptureStderr();  // libpng warns about the palette indices past the table
  while (list >> name >> w >> h >> bpp) {
    SCOPED_TRACE(name);
    ++cases;
    const Decoded d = Decode(dir + "/" + name + ".png");
    ASSERT_TRUE(d.opened);
    EXPECT_TRUE(d.read);
    EXPECT_EQ(w, d.info.width);
    EXPECT_EQ(h, d.info.height);
    EXPECT_EQ(bpp, d.info.bytesPerPixel);
    EXPECT_EQ(1u, d.info.frameCount);
    EXPECT_EQ(1u, d.info.planes);
    EXPECT_EQ(ReadBytes(dir + "/" + name + ".raw"), d.pixels);
    if (name == "gray1") {
      for (uint8_t v : d.pixels) EXPECT_TRUE(v == 0 || v == 255);
    }
  }
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(15, cases);
}

TEST(PngRead, FilesWrittenByImageMagick) {
  const std::string dir = OutDir("magick");
  const std::string plasma = " -seed 5 -size 41x29 plasma:fractal ";
  struct Case {
    const char* name;
    std::string args;
    uint64_t bpp;
    const char* layout;
  } cases[] = {
      {"gray1", "-colorspace Gray -depth 1 -define png:bit-depth=1 -define png:color-type=0", 1, "gray"},
      {"gray2", "-colorspace Gray -depth 2 -define png:bit-depth=2 -define png:color-type=0", 1, "gray"},
      {"gray4", "-colorspace Gray -depth 4 -define png:bit-depth=4 -define png:color-type=0", 1, "gray"},
      {"gray8", "-colorspace Gray -depth 8 -define png:bit-depth=8 -define png:color-type=0", 1, "gray"},
      {"gray16", "-colorspace Gray -depth 16 -define png:bit-depth=16 -define png:color-type=0", 2, "gray"},
      {"rgb8", "-depth 8 -define png:bit-depth=8 -define png:color-type=2", 3, "rgb"},
      {"rgb16", "-depth 16 -define png:bit-depth=16 -define png:color-type=2", 6, "rgb"},
      {"palette", "-depth 8 -colors 7 -define png:color-type=3", 3, "rgb"},
      {"rgba8", "-depth 8 -alpha set -channel A -evaluate set 40% +channel -define png:color-type=6", 3, "rgb"},
      {"rgba16", "-depth 16 -alpha set -channel A -evaluate set 40% +channel -define png:color-type=6", 6, "rgb"},
      {"graya8", "-colorspace Gray -depth 8 -alpha set -channel A -evaluate set 70% +channel "
                 "-define png:color-type=4", 1, "gray"},
      {"graya16", "-colorspace Gray -depth 16 -alpha set -channel A -evaluate set 70% +channel "
                  "-define png:color-type=4", 2, "gray"},
      {"interlaced", "-depth 16 -interlace PNG -define png:color-type=2", 6, "rgb"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir + "/" + c.name + ".png";
    ASSERT_TRUE(Shell(std::string(kConvert) + plasma + c.args + " '" + path + "'"));
    const Decoded d = Decode(path);
    ASSERT_TRUE(d.opened && d.read);
    EXPECT_EQ(41u, d.info.width);
    EXPECT_EQ(29u, d.info.height);
    EXPECT_EQ(c.bpp, d.info.bytesPerPixel);
    const int depth = (c.bpp == 2 || c.bpp == 6) ? 16 : 8;
    EXPECT_EQ(ConvertPixels(path, c.layout, depth), d.pixels);
  }
}

TEST(PngRead, SignatureFailuresSayWhy) {
  const std::string dir = OutDir("sig");
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* message;
  } cases[] = {
      {"empty.png", {}, "png:Can't read sig.\n"},
      {"short.png", {0x89, 'P', 'N', 'G', 0x0d}, "png:Can't read sig.\n"},
      {"text.png", {'n', 'o', 't', ' ', 'a', ' ', 'p', 'n', 'g', '\n'}, "png:Bad sig.\n"},
      {"jpegdata.png", {0xff, 0xd8, 0xff, 0xe0, 0, 0x10, 'J', 'F', 'I', 'F', 0}, "png:Bad sig.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBytes(dir + "/" + c.name, c.bytes);
    testing::internal::CaptureStderr();
    MediaFile* f = MediaOpen(Wide(dir + "/" + c.name).c_str(), nullptr, nullptr);
    EXPECT_EQ(c.message, testing::internal::GetCapturedStderr());
    EXPECT_EQ(nullptr, f);
  }
}

// ---------------------------------------------------------------------------------------
// PNG writing

TEST(PngWrite, EveryLayoutReadsBackExactlyHereAndInImageMagick) {
  const std::string dir = OutDir("pngwrite");
  struct Case {
    uint64_t bpp;
    uint64_t channels;
    int sixteen;
    const char* layout;
  } cases[] = {{1, 1, 0, "gray"}, {2, 1, 1, "gray"}, {3, 3, 0, "rgb"}, {6, 3, 1, "rgb"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bpp);
    const uint64_t w = 37, h = 23;
    const std::vector<uint8_t> px = TestPicture(w, h, c.channels, c.sixteen);
    const std::string path = dir + "/w" + std::to_string(c.bpp) + ".png";
    ASSERT_TRUE(Encode(path, w, h, c.bpp, px.data()));
    const Decoded d = Decode(path);
    ASSERT_TRUE(d.opened && d.read);
    EXPECT_EQ(c.bpp, d.info.bytesPerPixel);
    EXPECT_EQ(px, d.pixels);  // every bit kept, 16-bit included
    EXPECT_EQ(px, ConvertPixels(path, c.layout, c.sixteen ? 16 : 8));
  }
}

TEST(PngWrite, SixteenBitExtremesSurviveARoundTrip) {
  const std::string dir = OutDir("png16");
  std::vector<uint16_t> px;
  for (uint32_t v : {0u, 1u, 255u, 256u, 257u, 0x7fffu, 0x8000u, 0xfffeu, 0xffffu, 0x00ffu, 0xff00u, 0x1234u})
    px.push_back(uint16_t(v));
  ASSERT_TRUE(Encode(dir + "/e.png", 4, 1, 6, px.data()));
  const Decoded d = Decode(dir + "/e.png");
  ASSERT_TRUE(d.read);
  EXPECT_EQ(0, memcmp(px.data(), d.pixels.data(), px.size() * 2));
}

TEST(PngWrite, RefusesLayoutsItCannotExpress) {
  const std::string dir = OutDir("pngrefuse");
  struct Case {
    uint64_t bpp;
    uint64_t frames;
  } cases[] = {{4, 1}, {12, 1}, {5, 1}, {24, 1}, {3, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.bpp << " bytes, " << c.frames << " frames");
    MediaInfo info{1, 1, c.frames, c.bpp, 8, 8, 0};
    MediaFile* f = MediaCreate(Wide(dir + "/r.png").c_str(), &info, nullptr);
    EXPECT_EQ(nullptr, f);
    if (f) MediaClose(f);
  }
}

// ---------------------------------------------------------------------------------------
// JPEG

TEST(JpegRead, FilesWrittenByImageMagick) {
  const std::string dir = OutDir("jpegmagick");
  const std::string plasma = " -seed 9 -size 45x31 plasma:fractal ";
  struct Case {
    const char* name;
    std::string args;
    uint64_t bpp;
    const char* layout;
  } cases[] = {
      {"gray", "-colorspace Gray -quality 90", 1, "gray"},
      {"rgb", "-quality 90", 3, "rgb"},
      {"rgb444", "-quality 80 -sampling-factor 1x1", 3, "rgb"},
      {"progressive", "-interlace JPEG -quality 85", 3, "rgb"},
      {"progray", "-colorspace Gray -interlace JPEG -quality 85", 1, "gray"},
      {"cmyk", "-colorspace CMYK -quality 95", 3, "cmyk"},
      {"cmykprog", "-colorspace CMYK -interlace JPEG -quality 95", 3, "cmyk"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir + "/" + c.name + ".jpg";
    ASSERT_TRUE(Shell(std::string(kConvert) + plasma + c.args + " '" + path + "'"));
    const Decoded d = Decode(path);
    ASSERT_TRUE(d.opened && d.read);
    EXPECT_EQ(45u, d.info.width);
    EXPECT_EQ(31u, d.info.height);
    EXPECT_EQ(c.bpp, d.info.bytesPerPixel);
    std::vector<uint8_t> expected = ConvertPixels(path, c.layout, 8);
    if (std::string(c.layout) == "cmyk") {
      // ImageMagick reports ink (255 = full); the file stores it inverted, as libjpeg
      // delivers it to us: R = K' - (255 - C') K' / 255 with C' = 255 - c, K' = 255 - k.
      std::vector<uint8_t> rgb;
      for (size_t i = 0; i + 3 < expected.size(); i += 4) {
        const uint32_t k = 255u - expected[i + 3];
        for (int ch = 0; ch < 3; ++ch) rgb.push_back(uint8_t(k - uint32_t(expected[i + ch]) * k / 255u));
      }
      expected = rgb;
    }
    EXPECT_LE(MaxDifference(expected, d.pixels), 1);
  }
}

TEST(JpegRead, CmykInkExtremes) {
  const std::string dir = OutDir("cmykext");
  // Flat 16 x 16 blocks of ink (c, m, y, k): full C/M/Y without black, full black, no ink.
  const uint8_t inks[][4] = {{255, 255, 255, 0}, {0, 0, 0, 255}, {0, 0, 0, 0}, {255, 0, 0, 0}};
  std::vector<uint8_t> raw;
  for (int y = 0; y < 16; ++y)
    for (const auto& ink : inks)
      for (int x = 0; x < 16; ++x) raw.insert(raw.end(), ink, ink + 4);
  WriteBytes(dir + "/ink.cmyk", raw);
  ASSERT_TRUE(Shell(std::string(kConvert) + " -size 64x16 -depth 8 cmyk:'" + dir + "/ink.cmyk' -quality 100 '" + dir +
                  "/ink.jpg'"));
  const Decoded d = Decode(dir + "/ink.jpg");
  ASSERT_TRUE(d.read);
  ASSERT_EQ(3u, d.info.bytesPerPixel);
  auto pixel = [&](int block) { return d.pixels.data() + (8 * 64 + block * 16 + 8) * 3; };
  const uint8_t expected[][3] = {{0, 0, 0}, {0, 0, 0}, {255, 255, 255}, {0, 255, 255}};
  for (int b = 0; b < 4; ++b)
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(expected[b][c], pixel(b)[c], 2) << "block " << b << " channel " << c;
}

TEST(JpegWrite, ImageMagickReadsWhatWeWrite) {
  const std::string dir = OutDir("jpegwrite");
  for (uint64_t bpp : {1u, 3u}) {
    SCOPED_TRACE(bpp);
    const uint64_t w = 67, h = 45;
    const std::vector<uint8_t> px = TestPicture(w, h, bpp, 0, false);
    const std::string path = dir + "/w" + std::to_string(bpp) + ".jpg";
    ASSERT_TRUE(Encode(path, w, h, bpp, px.data(), 95));
    const Decoded d = Decode(path);
    ASSERT_TRUE(d.read);
    EXPECT_EQ(bpp, d.info.bytesPerPixel);
    EXPECT_EQ(w, d.info.width);
    const std::vector<uint8_t> theirs = ConvertPixels(path, bpp == 1 ? "gray" : "rgb", 8);
    EXPECT_LE(MaxDifference(theirs, d.pixels), 1);
    EXPECT_LT(MeanDifference(px, theirs), 4.0);  // within the codec's error at quality 95
  }
}

TEST(JpegWrite, QualityZeroIs75AndAbove100Is100) {
  const std::string dir = OutDir("quality");
  const std::vector<uint8_t> px = TestPicture(32, 24, 3, 0);
  struct Case {
    uint32_t given;
    uint32_t same;
  } cases[] = {{0, 75}, {150, 100}, {1000, 100}, {3000000000u, 100}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.given);
    const std::string a = dir + "/a" + std::to_string(c.given) + ".jpg";
    const std::string b = dir + "/b" + std::to_string(c.same) + ".jpg";
    ASSERT_TRUE(Encode(a, 32, 24, 3, px.data(), c.given));
    ASSERT_TRUE(Encode(b, 32, 24, 3, px.data(), c.same));
    EXPECT_EQ(ReadBytes(a), ReadBytes(b));
  }
  const std::string low = dir + "/low.jpg";
  ASSERT_TRUE(Encode(low, 32, 24, 3, px.data(), 5));
  EXPECT_LT(ReadBytes(low).size(), ReadBytes(dir + "/b75.jpg").size());
}

TEST(JpegWrite, RefusesWhatItCannotHold) {
  const std::string dir = OutDir("jpegrefuse");
  struct Case {
    uint64_t bpp;
    uint64_t frames;
  } cases[] = {{2, 1}, {4, 1}, {6, 1}, {12, 1}, {3, 2}, {1, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.bpp << " bytes, " << c.frames << " frames");
    MediaInfo info{1, 1, c.frames, c.bpp, 8, 8, 0};
    MediaFile* f = MediaCreate(Wide(dir + "/r.jpg").c_str(), &info, nullptr);
    EXPECT_EQ(nullptr, f);
    if (f) MediaClose(f);
  }
  MediaInfo huge{1, 1, 1, 3, 70000, 8, 0};
  EXPECT_EQ(nullptr, MediaCreate(Wide(dir + "/h.jpg").c_str(), &huge, nullptr));
}

TEST(JpegRead, LinesComeOncePerOpen) {
  const std::string dir = OutDir("twice");
  const std::vector<uint8_t> px = TestPicture(20, 10, 3, 0);
  ASSERT_TRUE(Encode(dir + "/t.jpg", 20, 10, 3, px.data(), 90));
  MediaFile* f = MediaOpen(Wide(dir + "/t.jpg").c_str(), nullptr, nullptr);
  ASSERT_NE(nullptr, f);
  std::vector<uint8_t> first(600, 0), second(600, 0xAB);
  EXPECT_EQ(1, MediaReadFrame(f, 0, 0, 0, first.data()));
  EXPECT_EQ(1, MediaReadFrame(f, 0, 0, 0, second.data()));
  EXPECT_EQ(std::vector<uint8_t>(600, 0xAB), second);
  EXPECT_EQ(1, MediaClose(f));
  // A reader closed before its lines were read finishes quietly.
  f = MediaOpen(Wide(dir + "/t.jpg").c_str(), nullptr, nullptr);
  ASSERT_NE(nullptr, f);
  EXPECT_EQ(1, MediaClose(f));
}

TEST(JpegErrorExitDeathTest, WithoutARecoveryPointEndsTheProcessWithFailure) {
  jpeg_decompress_struct d;
  memset(&d, 0, sizeof d);
  EXPECT_EXIT(JpegErrorExit(reinterpret_cast<jpeg_common_struct*>(&d)), testing::ExitedWithCode(EXIT_FAILURE),
              "libjpeg error");
}

// ---------------------------------------------------------------------------------------
// Bad input: every mutation must fail through the handle's own error path or decode to a
// frame of the size it reported; the sanitizers catch any stray read or leak.

struct MutationStats {
  int opened = 0;
  int failed = 0;
};

MutationStats RunMutations(const std::string& dir, const std::string& ext, const std::vector<uint8_t>& good,
                           uint32_t seed) {
  std::vector<std::vector<uint8_t>> inputs;
  // Truncations spread over the whole file, the first bytes one by one.
  for (size_t n = 0; n < good.size(); n += (n < 64 ? 1 : good.size() / 96 + 1))
    inputs.emplace_back(good.begin(), good.begin() + long(n));
  // Single and multiple bit flips at reproducible places, headers favoured.
  uint32_t state = seed;
  auto next = [&state]() {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  };
  for (int i = 0; i < 300; ++i) {
    std::vector<uint8_t> m = good;
    const int flips = 1 + int(next() % 3);
    for (int f = 0; f < flips; ++f) {
      const size_t limit = (i % 2) ? std::min<size_t>(m.size(), 200) : m.size();
      const size_t at = next() % limit;
      m[at] ^= uint8_t(1u << (next() % 8));
    }
    inputs.push_back(std::move(m));
  }
  MutationStats stats;
  const std::string path = dir + "/m." + ext;
  testing::internal::CaptureStderr();  // libpng and libjpeg warn about each broken file
  for (const std::vector<uint8_t>& input : inputs) {
    WriteBytes(path, input);
    MediaFile* f = MediaOpen(Wide(path).c_str(), nullptr, nullptr);
    if (!f) {
      ++stats.failed;
      continue;
    }
    ++stats.opened;
    const MediaInfo info = f->info;
    EXPECT_TRUE(info.bytesPerPixel == 1 || info.bytesPerPixel == 2 || info.bytesPerPixel == 3 ||
                info.bytesPerPixel == 6);
    EXPECT_LE(info.width * info.height * info.bytesPerPixel, MediaMaxFrameBytes);
    std::vector<uint8_t> frame(info.width * info.height * info.bytesPerPixel);
    MediaReadFrame(f, 0, 0, 0, frame.data());
    MediaClose(f);
  }
  testing::internal::GetCapturedStderr();
  return stats;
}

TEST(BadInput, MutatedPngFilesFailCleanly) {
  const std::string dir = OutDir("mutpng");
  const std::vector<uint8_t> rgb = TestPicture(24, 16, 3, 0);
  ASSERT_TRUE(Encode(dir + "/rgb.png", 24, 16, 3, rgb.data()));
  ASSERT_TRUE(Shell(std::string(kConvert) + " -seed 3 -size 19x13 plasma:fractal -colors 5 -interlace PNG '" + dir +
                  "/pal.png'"));
  int seed = 1;
  for (const char* name : {"rgb.png", "pal.png"}) {
    SCOPED_TRACE(name);
    const std::vector<uint8_t> good = ReadBytes(dir + "/" + name);
    ASSERT_GT(good.size(), 60u);
    const MutationStats s = RunMutations(dir, "png", good, uint32_t(seed++));
    printf("%s: %d opened, %d failed\n", name, s.opened, s.failed);
    EXPECT_GT(s.failed, 100);  // every truncation at least
  }
}

TEST(BadInput, MutatedJpegFilesFailCleanly) {
  const std::string dir = OutDir("mutjpeg");
  const std::vector<uint8_t> rgb = TestPicture(24, 16, 3, 0);
  ASSERT_TRUE(Encode(dir + "/rgb.jpg", 24, 16, 3, rgb.data(), 80));
  ASSERT_TRUE(Shell(std::string(kConvert) + " -seed 4 -size 21x17 plasma:fractal -interlace JPEG '" + dir +
                  "/prog.jpg'"));
  ASSERT_TRUE(Shell(std::string(kConvert) + " -seed 4 -size 21x17 plasma:fractal -colorspace CMYK '" + dir +
                  "/cmyk.jpg'"));
  int seed = 11;
  for (const char* name : {"rgb.jpg", "prog.jpg", "cmyk.jpg"}) {
    SCOPED_TRACE(name);
    const std::vector<uint8_t> good = ReadBytes(dir + "/" + name);
    const MutationStats s = RunMutations(dir, "jpg", good, uint32_t(seed++));
    printf("%s: %d opened, %d failed\n", name, s.opened, s.failed);
    EXPECT_GT(s.failed, 0);
  }
}

// Locates a marker segment and returns the offset of its first payload byte, or 0.
size_t FindJpegMarker(const std::vector<uint8_t>& b, uint8_t marker) {
  for (size_t i = 2; i + 4 < b.size(); ++i)
    if (b[i] == 0xFF && b[i + 1] == marker) return i + 4;
  return 0;
}

uint32_t Crc32(const uint8_t* p, size_t n) {
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) {
    c ^= p[i];
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
  }
  return ~c;
}

TEST(BadInput, HugeClaimedSizesAreRefusedAtTheHeader) {
  const std::string dir = OutDir("huge");
  // PNG: a million pixels square (libpng's own limit) in a 60-byte file.
  const std::vector<uint8_t> px = TestPicture(8, 8, 3, 0);
  ASSERT_TRUE(Encode(dir + "/s.png", 8, 8, 3, px.data()));
  std::vector<uint8_t> png = ReadBytes(dir + "/s.png");
  const uint8_t side[4] = {0x00, 0x0F, 0x42, 0x40};  // 1,000,000
  memcpy(&png[16], side, 4);
  memcpy(&png[20], side, 4);
  const uint32_t crc = Crc32(&png[12], 17);  // over "IHDR" and its 13 bytes: only the size is wrong
  for (int i = 0; i < 4; ++i) png[29 + i] = uint8_t(crc >> (24 - 8 * i));
  WriteBytes(dir + "/huge.png", png);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(Decode(dir + "/huge.png").opened);
  testing::internal::GetCapturedStderr();

  // JPEG: 65000 x 65000 in the frame header of a small file.
  ASSERT_TRUE(Encode(dir + "/s.jpg", 8, 8, 3, px.data(), 90));
  std::vector<uint8_t> jpg = ReadBytes(dir + "/s.jpg");
  const size_t sof = FindJpegMarker(jpg, 0xC0);
  ASSERT_NE(0u, sof);
  const uint8_t dims[4] = {0xFD, 0xE8, 0xFD, 0xE8};  // height, width
  memcpy(&jpg[sof + 1], dims, 4);
  WriteBytes(dir + "/huge.jpg", jpg);
  EXPECT_FALSE(Decode(dir + "/huge.jpg").opened);
}

}  // namespace

// media_test.cpp - the media handle: extension recognition, argument checks, create and
// open through the dispatch, numbered sequences for reading and writing, writer close
// results, path conversion.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "media/media.h"
#include "media/media_file.h"

namespace {

std::string OutDir(const std::string& name) {
  std::string dir = std::string(QV_TEST_OUT_DIR) + "/media_" + name;
  std::string cmd = "rm -rf '" + dir + "' && mkdir -p '" + dir + "'";
  EXPECT_EQ(0, system(cmd.c_str()));
  return dir;
}

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// A gray 8-bit PNG of w x h whose every pixel is `value`, written through the handle.
bool WriteGrayPng(const std::string& path, uint64_t w, uint64_t h, uint8_t value, uint64_t bpp = 1) {
  MediaInfo info{MediaKindStill, 1, 1, bpp, w, h, 0};
  MediaFile* f = MediaCreate(Wide(path).c_str(), &info, nullptr);
  if (!f) return false;
  std::vector<uint8_t> px(w * h * bpp, value);
  const int wrote = MediaWriteFrame(f, 0, 0, px.data());
  return MediaClose(f) == 1 && wrote == 1;
}

TEST(MediaExtension, RecognisesTheTableInAnyCase) {
  struct Case {
    const wchar_t* path;
    uint64_t kind;
    uint64_t format;
  } cases[] = {
      {L"photo.png", 1, 1},   {L"photo.PNG", 1, 1},    {L"photo.JPG", 1, 2},  {L"photo.Jpeg", 1, 2},
      {L"photo.jpeg", 1, 2},  {L"scan.tif", 1, 3},     {L"scan.TiFf", 1, 3},  {L"x.bmp", 1, 4},
      {L"ct.dcm", 1, 5},      {L"clip.mp4", 2, 1},     {L"clip.AVI", 2, 4},   {L".png", 1, 1},
      {L"photo.jpe", 0, 0},   {L"photo", 0, 0},        {L"x.png ", 0, 0},     {L"x.pngx", 0, 0},
      {L"dir.png/file", 0, 0}, {L"x.gif", 0, 0},       {L"x.jp", 0, 0},       {L"x.mpeg4", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.path);
    uint64_t format = 99;
    EXPECT_EQ(c.kind, MediaFormatFromExtension(c.path, &format, wcslen(c.path)));
    if (c.kind) {
      EXPECT_EQ(c.format, format);
    }
  }
}

TEST(MediaExtension, ShortOrUnknownPathsDoNotOpen) {
  EXPECT_EQ(nullptr, MediaOpen(nullptr, nullptr, nullptr));
  EXPECT_EQ(nullptr, MediaOpen(L"a.p", nullptr, nullptr));
  EXPECT_EQ(nullptr, MediaOpen(L"photo.jpe", nullptr, nullptr));
  EXPECT_EQ(nullptr, MediaOpen(L"/no/such/folder/photo.png", nullptr, nullptr));
}

TEST(MediaExtension, FoldersNamedLikeImagesDoNotOpen) {
  // A folder opens for reading and seeks to an "end" far beyond any real file: a reader
  // that sizes its buffer from that must refuse, not ask for exabytes.
  const std::string dir = OutDir("folders");
  for (const char* ext : {".png", ".jpg", ".tif", ".bmp", ".dcm"}) {
    SCOPED_TRACE(ext);
    const std::string path = dir + "/folder" + ext;
    ASSERT_EQ(0, mkdir(path.c_str(), 0755));
    MediaFile* f = MediaOpen(Wide(path).c_str(), nullptr, nullptr);
    EXPECT_EQ(nullptr, f);
    if (f) MediaClose(f);
  }
}

TEST(MediaPaths, WideToAnsiPath) {
  EXPECT_EQ(nullptr, WideToAnsiPath(nullptr));
  char* empty = WideToAnsiPath(L"");
  ASSERT_NE(nullptr, empty);
  EXPECT_STREQ("", empty);
  free(empty);
  char* utf8 = WideToAnsiPath(L"/tmp/\u30c7\u30fc\u30bf.png");
  ASSERT_NE(nullptr, utf8);
  EXPECT_STREQ("/tmp/\xe3\x83\x87\xe3\x83\xbc\xe3\x82\xbf.png", utf8);
  free(utf8);
  // A lone surrogate has no UTF-8 form; replacing it would name another file.
  const wchar_t lone[] = {L'a', wchar_t(0xD800), L'.', L'p', L'n', L'g', 0};
  EXPECT_EQ(nullptr, WideToAnsiPath(lone));
}

TEST(MediaPaths, NonAsciiNamesWriteReadAndExist) {
  const std::string dir = OutDir("nonascii");
  const std::wstring path = Wide(dir) + L"/\u753b\u50cf.png";
  EXPECT_EQ(0, MediaFileExists(path.c_str()));
  MediaInfo info{MediaKindStill, 1, 1, 1, 5, 4, 0};
  MediaFile* f = MediaCreate(path.c_str(), &info, nullptr);
  ASSERT_NE(nullptr, f);
  std::vector<uint8_t> px(20, 77);
  EXPECT_EQ(1, MediaWriteFrame(f, 0, 0, px.data()));
  EXPECT_EQ(1, MediaClose(f));
  EXPECT_NE(0, MediaFileExists(path.c_str()));
  EXPECT_TRUE(Exists(dir + "/\xe7\x94\xbb\xe5\x83\x8f.png"));
  MediaFile* r = MediaOpen(path.c_str(), nullptr, nullptr);
  ASSERT_NE(nullptr, r);
  std::vector<uint8_t> back(20, 0);
  EXPECT_EQ(1, MediaReadFrame(r, 0, 0, 0, back.data()));
  EXPECT_EQ(px, back);
  EXPECT_EQ(1, MediaClose(r));
  EXPECT_EQ(0, MediaFileExists(nullptr));
}

TEST(MediaCreate, ChecksArgumentsAndKeepsOptions) {
  const std::string dir = OutDir("create");
  const std::wstring png = Wide(dir + "/a.png");
  MediaInfo info{MediaKindVideo, 1, 1, 3, 4, 4, 0};  // the caller's kind is not read
  MediaFile* f = MediaCreate(png.c_str(), &info, nullptr);
  ASSERT_NE(nullptr, f);
  EXPECT_EQ(uint64_t(MediaKindStill), f->info.kind);
  EXPECT_EQ(uint64_t(MediaModeWrite), f->mode);
  EXPECT_EQ(75u, f->options.jpegQuality);
  EXPECT_STREQ(png.c_str(), f->widePath);
  MediaClose(f);

  MediaWriteOptions zero{};
  zero.aviCodec = 2;
  f = MediaCreate(Wide(dir + "/b.jpg").c_str(), &info, &zero);
  ASSERT_NE(nullptr, f);
  EXPECT_EQ(75u, f->options.jpegQuality);
  EXPECT_EQ(2u, f->options.aviCodec);
  MediaClose(f);

  struct Bad {
    const char* name;
    std::wstring path;
    MediaInfo info;
  } bad[] = {
      {"dicom has no writer", Wide(dir + "/c.dcm"), {1, 1, 1, 1, 4, 4, 0}},
      {"unknown extension", Wide(dir + "/c.gif"), {1, 1, 1, 1, 4, 4, 0}},
      {"empty path", L"", {1, 1, 1, 1, 4, 4, 0}},
      {"zero width", Wide(dir + "/c.png"), {1, 1, 1, 1, 0, 4, 0}},
      {"zero height", Wide(dir + "/c.png"), {1, 1, 1, 1, 4, 0, 0}},
      {"zero bytes per pixel", Wide(dir + "/c.png"), {1, 1, 1, 0, 4, 4, 0}},
      {"still with an interval", Wide(dir + "/c.png"), {1, 1, 1, 1, 4, 4, 40000}},
      {"still with two planes", Wide(dir + "/c.png"), {1, 2, 1, 1, 4, 4, 0}},
      {"still without frames", Wide(dir + "/c.png"), {1, 1, 0, 1, 4, 4, 0}},
      {"video without interval", Wide(dir + "/c.avi"), {2, 1, 1, 3, 4, 4, 0}},
      {"missing folder", Wide(dir + "/none/c.png"), {1, 1, 1, 1, 4, 4, 0}},
  };
  for (const Bad& b : bad) {
    SCOPED_TRACE(b.name);
    MediaFile* g = MediaCreate(b.path.c_str(), &b.info, nullptr);
    EXPECT_EQ(nullptr, g);
    if (g) MediaClose(g);
  }
  EXPECT_EQ(nullptr, MediaCreate(png.c_str(), nullptr, nullptr));
  EXPECT_EQ(nullptr, MediaCreate(nullptr, &info, nullptr));
}

TEST(MediaFrames, ArgumentChecks) {
  const std::string dir = OutDir("frames");
  ASSERT_TRUE(WriteGrayPng(dir + "/a.png", 6, 5, 9));
  MediaFile* f = MediaOpen(Wide(dir + "/a.png").c_str(), nullptr, nullptr);
  ASSERT_NE(nullptr, f);
  EXPECT_EQ(uint64_t(MediaModeRead), f->mode);
  EXPECT_EQ(nullptr, f->widePath);
  std::vector<uint8_t> buf(30, 0);
  EXPECT_EQ(0, MediaReadFrame(f, 0, 1, 0, buf.data()));      // frame == frameCount
  EXPECT_EQ(0, MediaReadFrame(f, 1, 0, 0, buf.data()));      // plane >= planes
  EXPECT_EQ(0, MediaReadFrame(f, 0, 0, 0, nullptr));
  EXPECT_EQ(0, MediaReadFrame(nullptr, 0, 0, 0, buf.data()));
  EXPECT_EQ(0, MediaWriteFrame(f, 0, 0, buf.data()));        // a reader takes no frames
  EXPECT_EQ(1, MediaReadFrame(f, 0, 0, 0xDEADBEEF, buf.data()));  // the fourth argument is free
  EXPECT_EQ(std::vector<uint8_t>(30, 9), buf);
  const uint64_t bpp = f->info.bytesPerPixel;
  f->info.bytesPerPixel = 5;
  EXPECT_EQ(0, MediaReadFrame(f, 0, 0, 0, buf.data()));
  f->info.bytesPerPixel = bpp;
  EXPECT_EQ(1, MediaClose(f));
  EXPECT_EQ(0, MediaClose(nullptr));
  EXPECT_EQ(0, MediaWriteFrame(nullptr, 0, 0, buf.data()));
}

TEST(MediaWriters, CloseReportsAFileThatDidNotReachTheDisk) {
  const std::string dir = OutDir("full");
  for (const char* ext : {"png", "jpg"}) {
    SCOPED_TRACE(ext);
    // /dev/full takes the open but refuses every byte, like a full disk.
    const std::string link = dir + "/full." + ext;
    ASSERT_EQ(0, symlink("/dev/full", link.c_str()));
    // A small file fails only when its buffered bytes are flushed at close; a large one
    // already while libpng or libjpeg writes.
    for (uint64_t side : {16u, 400u}) {
      MediaInfo info{1, 1, 1, 3, side, side, 0};
      MediaFile* f = MediaCreate(Wide(link).c_str(), &info, nullptr);
      ASSERT_NE(nullptr, f);
      std::vector<uint8_t> px(side * side * 3);
      for (size_t i = 0; i < px.size(); ++i) px[i] = uint8_t((i * 2654435761u) >> 13);
      const int wrote = MediaWriteFrame(f, 0, 0, px.data());
      if (side == 400) {
        EXPECT_EQ(0, wrote);
      }
      EXPECT_EQ(0, MediaClose(f));
    }
    MediaInfo info{1, 1, 1, 3, 16, 16, 0};

    // A writer closed without its frame leaves a truncated file behind.
    const std::string path = dir + "/never." + ext;
    MediaFile* f = MediaCreate(Wide(path).c_str(), &info, nullptr);
    ASSERT_NE(nullptr, f);
    EXPECT_EQ(0, MediaClose(f));
  }
}

// ---------------------------------------------------------------------------------------
// Numbered sequences

TEST(MediaSequence, ReadsARangeOfFiles) {
  const std::string dir = OutDir("seqread");
  for (int n = 1; n <= 150; ++n) {
    char name[64];
    snprintf(name, sizeof name, "/img%04d.png", n);
    ASSERT_TRUE(WriteGrayPng(dir + name, 3, 2, uint8_t(n)));
  }
  MediaFile* f = MediaOpenSequence(Wide(dir + "/img0001.png").c_str(), Wide(dir + "/img0150.png").c_str());
  ASSERT_NE(nullptr, f);
  EXPECT_EQ(uint64_t(MediaModeSeqRead), f->mode);
  EXPECT_EQ(150u, f->info.frameCount);
  EXPECT_EQ(uint64_t(MediaKindStill), f->info.kind);
  EXPECT_EQ(uint64_t(MediaFormatPng), f->format);
  EXPECT_EQ(3u, f->info.width);
  EXPECT_EQ(1u, f->info.bytesPerPixel);
  EXPECT_EQ(Wide(dir) + L"/img%04llu.png", std::wstring(f->seqPattern));
  for (uint64_t frame : {0u, 1u, 77u, 149u}) {
    std::vector<uint8_t> buf(6, 0);
    ASSERT_EQ(1, MediaReadFrame(f, 0, frame, 0, buf.data()));
    EXPECT_EQ(std::vector<uint8_t>(6, uint8_t(frame + 1)), buf) << frame;
  }
  std::vector<uint8_t> buf(6);
  EXPECT_EQ(0, MediaReadFrame(f, 0, 150, 0, buf.data()));
  EXPECT_EQ(0, MediaWriteFrame(f, 0, 0, buf.data()));
  EXPECT_EQ(1, MediaClose(f));
}

TEST(MediaSequence, PatternsAndFailures) {
  const std::string dir = OutDir("seqpat");
  for (const char* name : {"a8.png", "a9.png", "a10.png", "a11.png", "a12.png", "a08.png", "a09.png", "a012.png",
                           "b1.png", "c2.png", "s10.png", "s20.png", "shot0000000001.png", "shot0000000002.png",
                           "shot0000000003.png", "t1.png", "t2.png", "x.5.png"})
    ASSERT_TRUE(WriteGrayPng(dir + "/" + name, 2, 2, 1));
  struct Case {
    const char* first;
    const char* last;
    const wchar_t* pattern;  // after the folder; null: the open fails
    uint64_t firstNumber;
    uint64_t frames;
  } cases[] = {
      {"a8.png", "a12.png", L"a%llu.png", 8, 5},
      {"a08.png", "a12.png", L"a%02llu.png", 8, 5},
      {"a8.png", "a012.png", nullptr, 0, 0},     // runs of other length may not begin with 0
      {"b1.png", "c2.png", nullptr, 0, 0},       // prefixes differ
      {"t1.png", "t2.jpg", nullptr, 0, 0},       // suffixes differ
      {"s20.png", "s10.png", L"s%02llu.png", 10, 1},  // first > last: the last file alone
      {"shot0000000001.png", "shot0000000003.png", L"shot%010llu.png", 1, 3},
      {"t.png", "t2.png", nullptr, 0, 0},        // no digit run
      {"t1", "t2", nullptr, 0, 0},               // no extension
      {"a13.png", "a14.png", nullptr, 0, 0},     // the first file does not exist
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.first << " .. " << c.last);
    MediaFile* f = MediaOpenSequence(Wide(dir + "/" + c.first).c_str(), Wide(dir + "/" + c.last).c_str());
    if (!c.pattern) {
      EXPECT_EQ(nullptr, f);
      if (f) MediaClose(f);
      continue;
    }
    ASSERT_NE(nullptr, f);
    EXPECT_EQ(Wide(dir) + L"/" + c.pattern, std::wstring(f->seqPattern));
    EXPECT_EQ(c.firstNumber, f->seqFirst);
    EXPECT_EQ(c.frames, f->info.frameCount);
    std::vector<uint8_t> buf(4);
    EXPECT_EQ(1, MediaReadFrame(f, 0, c.frames - 1, 0, buf.data()));
    EXPECT_EQ(1, MediaClose(f));
  }
  EXPECT_EQ(nullptr, MediaOpenSequence(nullptr, L"a1.png"));
}

TEST(MediaSequence, FirstFileMustBeASingleFrame) {
  const std::string dir = OutDir("seqmulti");
  MediaInfo info{MediaKindStill, 1, 2, 1, 4, 4, 0};
  MediaFile* tiff = MediaCreate(Wide(dir + "/m1.tif").c_str(), &info, nullptr);
  ASSERT_NE(nullptr, tiff);
  std::vector<uint8_t> px(16, 5);
  EXPECT_EQ(1, MediaWriteFrame(tiff, 0, 0, px.data()));
  EXPECT_EQ(1, MediaWriteFrame(tiff, 0, 0, px.data()));
  ASSERT_EQ(1, MediaClose(tiff));
  MediaFile* one = MediaOpen(Wide(dir + "/m1.tif").c_str(), nullptr, nullptr);
  ASSERT_NE(nullptr, one);
  EXPECT_EQ(2u, one->info.frameCount);
  MediaClose(one);
  EXPECT_EQ(nullptr, MediaOpenSequence(Wide(dir + "/m1.tif").c_str(), Wide(dir + "/m2.tif").c_str()));
}

TEST(MediaSequence, LaterFileOfAnotherSizeFailsOnlyWhenRead) {
  const std::string dir = OutDir("seqsize");
  ASSERT_TRUE(WriteGrayPng(dir + "/f1.png", 4, 4, 1));
  ASSERT_TRUE(WriteGrayPng(dir + "/f2.png", 5, 4, 2));
  ASSERT_TRUE(WriteGrayPng(dir + "/f3.png", 4, 4, 3, 2));  // other bytes per pixel
  MediaFile* f = MediaOpenSequence(Wide(dir + "/f1.png").c_str(), Wide(dir + "/f4.png").c_str());
  ASSERT_NE(nullptr, f);
  std::vector<uint8_t> buf(16 * 2);
  EXPECT_EQ(1, MediaReadFrame(f, 0, 0, 0, buf.data()));
  EXPECT_EQ(0, MediaReadFrame(f, 0, 1, 0, buf.data()));
  EXPECT_EQ(0, MediaReadFrame(f, 0, 2, 0, buf.data()));
  EXPECT_EQ(0, MediaReadFrame(f, 0, 3, 0, buf.data()));  // missing file
  EXPECT_EQ(1, MediaClose(f));
}

TEST(MediaSequence, WritesNumberedFiles) {
  const std::string dir = OutDir("seqwrite");
  struct Case {
    const char* name;
    uint64_t frames;
    const char* firstFile;
    const char* lastFile;
    const char* pastLast;
  } cases[] = {
      {"out0001.png", 120, "out0001.png", "out0120.png", "out0121.png"},
      {"out1.png", 20, "out1.png", "out20.png", "out21.png"},
      {"v98.jpg", 3, "v98.jpg", "v100.jpg", "v101.jpg"},
      {"0007.png", 4, "0007.png", "0010.png", "0011.png"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MediaInfo info{0, 1, c.frames, 3, 4, 3, 0};
    MediaFile* f = MediaCreateSequence(Wide(dir + "/" + c.name).c_str(), &info, nullptr);
    ASSERT_NE(nullptr, f);
    EXPECT_EQ(uint64_t(MediaModeSeqWrite), f->mode);
    EXPECT_EQ(uint64_t(MediaKindStill), f->info.kind);
    EXPECT_EQ(75u, f->options.jpegQuality);
    std::vector<uint8_t> px(4 * 3 * 3, 50);
    for (uint64_t i = 0; i < c.frames; ++i) ASSERT_EQ(1, MediaWriteFrame(f, 0, 0, px.data())) << i;
    EXPECT_EQ(c.frames, f->seqWriteCounter);
    EXPECT_EQ(0, MediaWriteFrame(f, 0, 0, px.data()));  // past the last number
    EXPECT_EQ(1, MediaClose(f));
    EXPECT_TRUE(Exists(dir + "/" + c.firstFile));
    EXPECT_TRUE(Exists(dir + "/" + c.lastFile));
    EXPECT_FALSE(Exists(dir + "/" + c.pastLast));
  }
  // Every name between is there too, and reads back as a sequence.
  MediaFile* r = MediaOpenSequence(Wide(dir + "/out0001.png").c_str(), Wide(dir + "/out0120.png").c_str());
  ASSERT_NE(nullptr, r);
  EXPECT_EQ(120u, r->info.frameCount);
  std::vector<uint8_t> buf(36);
  for (uint64_t i = 0; i < 120; ++i) ASSERT_EQ(1, MediaReadFrame(r, 0, i, 0, buf.data())) << i;
  MediaClose(r);

  MediaInfo info{0, 1, 150, 3, 4, 3, 0};
  EXPECT_EQ(nullptr, MediaCreateSequence(Wide(dir + "/out01.png").c_str(), &info, nullptr));   // 150 needs 3 digits
  EXPECT_EQ(nullptr, MediaCreateSequence(Wide(dir + "/out.png").c_str(), &info, nullptr));     // no digit run
  EXPECT_EQ(nullptr, MediaCreateSequence(Wide(dir + "/out1.avi").c_str(), &info, nullptr));    // not a still
  EXPECT_EQ(nullptr, MediaCreateSequence(Wide(dir + "/out1.gif").c_str(), &info, nullptr));
  info.frameCount = 0;
  EXPECT_EQ(nullptr, MediaCreateSequence(Wide(dir + "/out1.png").c_str(), &info, nullptr));
  info.frameCount = 2;
  EXPECT_EQ(nullptr, MediaCreateSequence(Wide(dir + "/o18446744073709551615.png").c_str(), &info, nullptr));
}

TEST(MediaSequence, WriterKeepsQualityZeroAndFailedFramesLeaveTheCounter) {
  const std::string dir = OutDir("seqfail");
  MediaWriteOptions opt{};
  MediaInfo info{0, 1, 2, 1, 8, 8, 0};
  MediaFile* f = MediaCreateSequence(Wide(dir + "/sub/q1.jpg").c_str(), &info, &opt);
  ASSERT_NE(nullptr, f);
  EXPECT_EQ(0u, f->options.jpegQuality);  // stays 0 here; each frame file is made at 75
  std::vector<uint8_t> px(64);
  for (int i = 0; i < 64; ++i) px[i] = uint8_t(i * 4);
  EXPECT_EQ(0, MediaWriteFrame(f, 0, 0, px.data()));  // the folder is not there yet
  EXPECT_EQ(0u, f->seqWriteCounter);
  ASSERT_EQ(0, mkdir((dir + "/sub").c_str(), 0755));
  EXPECT_EQ(1, MediaWriteFrame(f, 0, 0, px.data()));
  EXPECT_EQ(1u, f->seqWriteCounter);
  EXPECT_TRUE(Exists(dir + "/sub/q1.jpg"));
  EXPECT_EQ(1, MediaClose(f));

  MediaWriteOptions q75{};
  q75.jpegQuality = 75;
  MediaFile* g = MediaCreate(Wide(dir + "/q75.jpg").c_str(), &info, &q75);
  ASSERT_EQ(nullptr, g);  // two frames: a JPEG file holds one
  info.frameCount = 1;
  g = MediaCreate(Wide(dir + "/q75.jpg").c_str(), &info, &q75);
  ASSERT_NE(nullptr, g);
  ASSERT_EQ(1, MediaWriteFrame(g, 0, 0, px.data()));
  ASSERT_EQ(1, MediaClose(g));
  const std::string cmp = "cmp -s '" + dir + "/sub/q1.jpg' '" + dir + "/q75.jpg'";
  EXPECT_EQ(0, system(cmp.c_str()));
}

TEST(MediaSequence, PercentSignsInNamesAreLiteral) {
  const std::string dir = OutDir("percent");
  const std::string folder = dir + "/a%s%n%d";
  ASSERT_EQ(0, mkdir(folder.c_str(), 0755));
  MediaInfo info{0, 1, 3, 1, 2, 2, 0};
  MediaFile* w = MediaCreateSequence(Wide(folder + "/x%llu_%%_008.png").c_str(), &info, nullptr);
  ASSERT_NE(nullptr, w);
  std::vector<uint8_t> px(4, 200);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(1, MediaWriteFrame(w, 0, 0, px.data()));
  EXPECT_EQ(1, MediaClose(w));
  EXPECT_TRUE(Exists(folder + "/x%llu_%%_008.png"));
  EXPECT_TRUE(Exists(folder + "/x%llu_%%_010.png"));

  MediaFile* r = MediaOpenSequence(Wide(folder + "/x%llu_%%_008.png").c_str(), Wide(folder + "/x%llu_%%_010.png").c_str());
  ASSERT_NE(nullptr, r);
  EXPECT_EQ(3u, r->info.frameCount);
  std::vector<uint8_t> buf(4);
  EXPECT_EQ(1, MediaReadFrame(r, 0, 2, 0, buf.data()));
  EXPECT_EQ(px, buf);
  EXPECT_EQ(1, MediaClose(r));
}

}  // namespace

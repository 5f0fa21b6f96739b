// imgio_test.cpp - image open and save operations: the format fitting table, the questions
// and messages in both languages (answered through the message box and chooser hooks of
// the window layer's headless mode), single files, and series written as videos, multi-page
// TIFF files and numbered files, checked with ffprobe and tiffinfo where present.
#include "media/imgio/imgio.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

#include "media/media_file.h"
#include "media_fixtures.h"
#include "tests/temp_folder.h"
#include "toolkit/filesel.h"
#include "toolkit/msgbox.h"

namespace {

const int g_headless = (PlatTestSetHeadless(1), 0);

using fixtures::Wide;

struct Box {
  std::wstring text, caption;
  int32_t kind;
};
std::vector<Box> g_boxes;
std::deque<int32_t> g_answers;         // answers for boxes with two buttons, in order
std::deque<std::wstring> g_chosen;     // paths for the chooser; empty: Cancel
std::wstring g_chooserTitle, g_chooserFilter;

// The modal loops end only through their own buttons: the hooks press them with posted
// mouse messages, as a user would.
void Click(CFgScreen* s, const CFgUIObj& w) {
  PlatMsg m;
  m.window = s->GetWindow();
  m.x = w.m_x + w.m_width / 2;
  m.y = w.m_y + w.m_height / 2;
  m.kind = PlatMsgLButtonDown;
  PlatPostMessage(m);
  m.kind = PlatMsgLButtonUp;
  PlatPostMessage(m);
}

void BoxHook(CMsgboxScreen* box) {
  Box b;
  for (uint64_t i = 0; i < box->m_lineCount; ++i) {
    if (i) b.text += L"\n";
    b.text += box->m_lines[i].text;
  }
  b.caption = box->m_caption ? box->m_caption : L"";
  b.kind = box->m_kind;
  g_boxes.push_back(b);
  int32_t answer = 0;
  if (box->m_kind == 0 || box->m_kind == 2) {
    answer = g_answers.empty() ? 0 : g_answers.front();
    if (!g_answers.empty()) g_answers.pop_front();
  }
  // Two buttons: the first answers 1; one button: it is the first.
  const bool two = box->m_kind == 0 || box->m_kind == 2;
  Click(box, two && answer == 0 ? box->m_second : box->m_first);
}

void ChooserHook(CFgFileSelectScreen* c) {
  g_chooserTitle = c->GetWindow() ? c->m_title : L"";
  g_chooserFilter = c->m_filter ? c->m_filter : L"";
  if (g_chosen.empty()) {
    Click(c, c->m_cancel);
    return;
  }
  // A typed path with its folder, then OK.
  c->m_name.SetLine(0, g_chosen.front().c_str());
  g_chosen.pop_front();
  Click(c, c->m_ok);
}

class ImgIoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FgSetMessageBoxHook(BoxHook);
    FgSetFileSelectHook(ChooserHook);
    g_boxes.clear();
    g_answers.clear();
    g_chosen.clear();
    ASSERT_TRUE(folder_.ok());
  }
  void TearDown() override {
    FgSetMessageBoxHook(nullptr);
    FgSetFileSelectHook(nullptr);
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  std::wstring WPath(const std::string& name) const { return Wide(Path(name)); }
  static bool Exists(const std::string& path) { return std::system(("test -e '" + path + "'").c_str()) == 0; }

  qvtest::TempFolder folder_{"imgio"};
  const std::string& dir_ = folder_.path();
};

// A picture whose every pixel differs, so that reading back shows what went where.
void Pattern(CImgBuff& p, int32_t format, int32_t w = 6, int32_t h = 4, int seed = 0) {
  ASSERT_EQ(p.Allocate(w, h, format), 1);
  uint8_t* bytes = static_cast<uint8_t*>(p.Pixels());
  const uint64_t n = uint64_t(w) * h * ImgBytesPerPixel[format];
  for (uint64_t i = 0; i < n; ++i) bytes[i] = uint8_t(i * 37 + seed * 11 + 5);
  if (format == ImgFormatXyz) {
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) p.SetXYZ(x, y, 0.1 + 0.01 * x, 0.2 + 0.02 * y, 0.3);
  }
}

// ---- Fitting a format to a file type ---------------------------------------------------

TEST(ImgIoFit, TableForPngTiffAndOthers) {
  struct Row {
    int32_t format;
    int32_t png, pngLost, tif, tifLost, jpg, jpgLost;
  } rows[] = {
      {ImgFormatGray8, ImgFormatGray8, 0, ImgFormatGray8, 0, ImgFormatGray8, 0},
      {ImgFormatGray16, ImgFormatGray16, 0, ImgFormatGray16, 0, ImgFormatGray8, 1},
      {ImgFormatGray32, ImgFormatGray16, 1, ImgFormatGray32, 0, ImgFormatGray8, 1},
      {ImgFormatRgb24, ImgFormatRgb24, 0, ImgFormatRgb24, 0, ImgFormatRgb24, 0},
      {ImgFormatRgb48, ImgFormatRgb48, 0, ImgFormatRgb48, 0, ImgFormatRgb24, 1},
      {ImgFormatRgb96, ImgFormatRgb48, 1, ImgFormatRgb96, 0, ImgFormatRgb24, 1},
      {ImgFormatXyz, ImgFormatRgb48, 1, ImgFormatRgb96, 0, ImgFormatRgb24, 1},
      {ImgFormatHsv48, ImgFormatRgb48, 0, ImgFormatRgb48, 0, ImgFormatRgb24, 1},
      {ImgFormatCmyk32, ImgFormatRgb24, 0, ImgFormatRgb24, 0, ImgFormatRgb24, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.format);
    int32_t lost = -1;
    EXPECT_EQ(FitFormatForExtension(L"/a/b.png", &lost, &r.format), r.png);
    EXPECT_EQ(lost, r.pngLost);
    EXPECT_EQ(FitFormatForExtension(L"/a/b.tif", &lost, &r.format), r.tif);
    EXPECT_EQ(lost, r.tifLost);
    EXPECT_EQ(FitFormatForExtension(L"/a/b.TIFF", &lost, &r.format), r.tif);
    EXPECT_EQ(lost, r.tifLost);
    EXPECT_EQ(FitFormatForExtension(L"/a/b.jpg", &lost, &r.format), r.jpg);
    EXPECT_EQ(lost, r.jpgLost);
    EXPECT_EQ(FitFormatForExtension(L"b.Bmp", &lost, &r.format), r.jpg);
  }
  const int32_t rgb = ImgFormatRgb24, none = 0, past = 10;
  struct Refused {
    const wchar_t* path;
    const int32_t* format;
  } refused[] = {
      {nullptr, &rgb}, {L"", &rgb}, {L"/data/image", &rgb}, {L".png", &rgb},
      {L"/data/.png", &rgb},  // a name's first character starts no extension
      {L"/data.d/image", &rgb},  // the dot of a folder is no extension
      {L"a.jpeg2", &rgb}, {L"a.png", &none}, {L"a.png", &past}, {L"a.png", nullptr},
  };
  for (const Refused& r : refused) {
    SCOPED_TRACE(r.path ? r.path : L"(null)");
    EXPECT_EQ(FitFormatForExtension(r.path, nullptr, r.format), 0);
  }
  EXPECT_EQ(FitFormatForExtension(L"a.xyz", nullptr, &rgb), ImgFormatRgb24);
}

TEST(ImgIoFit, ExtensionListsAndKinds) {
  EXPECT_STREQ(ImageOpenExtensions(), L"jpg jpeg tif tiff png bmp ");
  EXPECT_STREQ(MediaSaveExtensions(), L"avi mp4 tif tiff jpg jpeg png bmp ");
  EXPECT_EQ(IsMovieExtension(L"AVI"), 1);
  EXPECT_EQ(IsMovieExtension(L"mp4"), 1);
  EXPECT_EQ(IsMovieExtension(L"avi "), 0);
  EXPECT_EQ(IsMovieExtension(nullptr), 0);
  EXPECT_EQ(IsMultiPageExtension(L"Tiff"), 1);
  EXPECT_EQ(IsMultiPageExtension(L"tif"), 1);
  EXPECT_EQ(IsMultiPageExtension(L"png"), 0);
  EXPECT_EQ(IsMultiPageExtension(L"tifftifftifftifftiff"), 0);
}

// ---- Numbered names ------------------------------------------------------------------

TEST(ImgIoPattern, NumberedNames) {
  struct Case {
    const wchar_t* path;
    const wchar_t* pattern;  // null: refused
    uint64_t start;
  } cases[] = {
      {L"/shots/frame0010.bmp", L"/shots/frame%04llu.bmp", 10},
      {L"/shots/take.png", L"/shots/take%llu.png", 0},
      {L"/seq/0001.png", L"/seq/%04llu.png", 1},
      {L"/seq/12.tif", L"/seq/%llu.tif", 12},
      {L"/take.png", L"/take%llu.png", 0},  // a file in the root folder
      {L"/50%/a%d7.jpg", L"/50%%/a%%d%llu.jpg", 7},  // '%' is a plain character
      {L"/c:/x:1.png", L"/c:/x:%llu.png", 1},  // ':' is no separator here
      {L"/a.b/n9.v1.png", L"/a.b/n9.v%llu.png", 1},
      {L"/s/18446744073709551615.png", L"/s/%llu.png", 18446744073709551615ull},
      {L"/s/18446744073709551616.png", L"/s/%llu.png", 0},  // beyond 64 bits
      {L"take.png", nullptr, 0},   // no folder
      {L"/s/take", nullptr, 0},    // no extension
      {L"/s/take.", nullptr, 0},   // empty extension
      {L"/s/.png", nullptr, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    wchar_t out[kMoviePatternUnits] = L"untouched";
    uint64_t start = 99;
    const int ok = MakeSequencePattern(c.path, out, kMoviePatternUnits, &start);
    if (!c.pattern) {
      EXPECT_EQ(ok, 0);
      EXPECT_STREQ(out, L"untouched");
      continue;
    }
    ASSERT_EQ(ok, 1);
    EXPECT_STREQ(out, c.pattern);
    EXPECT_EQ(start, c.start);
  }
  // Too long for the buffer: refused, never cut.  '%' doubling counts.
  const std::wstring folder = L"/" + std::wstring(1010, L'd') + L"/";
  wchar_t out[kMoviePatternUnits];
  uint64_t start = 0;
  EXPECT_EQ(MakeSequencePattern((folder + L"f1.png").c_str(), out, kMoviePatternUnits, &start), 1);
  EXPECT_EQ(MakeSequencePattern((folder + L"f%%%%%%%1.png").c_str(), out, kMoviePatternUnits, &start), 0);
  EXPECT_EQ(MakeSequencePattern(L"/s/f1.png", out, 8, &start), 0);
}

// ---- Questions before a save -------------------------------------------------------------

TEST_F(ImgIoTest, ConfirmInBothLanguages) {
  CImgBuff rgb, empty, gray32, cmyk, hsv;
  Pattern(rgb, ImgFormatRgb24);
  Pattern(gray32, ImgFormatGray32);
  Pattern(cmyk, ImgFormatCmyk32);
  Pattern(hsv, ImgFormatHsv48);
  const std::wstring existing = WPath("old.png");
  ASSERT_EQ(SaveImageFile(&rgb, existing.c_str(), nullptr, nullptr), 1);

  struct Case {
    const char* name;
    const CImgBuff* picture;
    std::wstring path;
    const wchar_t* language;
    std::vector<int32_t> answers;
    int expected;
    std::vector<Box> boxes;
  } cases[] = {
      {"no extension en", &rgb, L"/data/image", L"en", {}, 0,
       {{L"Unsupported format", L"confirmation", 1}}},
      {"no extension jp", &rgb, L"/data/image", L"jp", {}, 0,
       {{L"対応していない形式です", L"確認", 1}}},
      {"unknown extension passes", &rgb, L"/data/image.xyz", L"en", {}, 1, {}},
      {"no path", &rgb, L"", L"en", {}, 0, {{L"here is no file path", L"confirmation", 1}}},
      {"no path jp", &rgb, L"", L"jp", {}, 0, {{L"ファイルパスがありません", L"確認", 1}}},
      {"no picture", &empty, L"/a.png", L"en", {}, 0, {{L"there is no image", L"confirmation", 1}}},
      {"no picture jp", &empty, L"/a.png", L"jp", {}, 0, {{L"画像がありません", L"確認", 1}}},
      {"overwrite declined", &rgb, existing, L"en", {0}, -1,
       {{L"Do you want to overwrite it?", L"confirmation", 0}}},
      {"overwrite accepted", &rgb, existing, L"jp", {1}, 1, {{L"上書き保存しますか？", L"確認", 0}}},
      {"gray32 as png asks", &gray32, L"/a.png", L"en", {1}, 1,
       {{L"The number of bits that can be handled by the file is insufficient.\n"
         L"It will deteriorate at the time of storage. Are you sure?",
         L"confirmation", 0}}},
      {"gray32 as jpg declined", &gray32, L"/a.jpg", L"jp", {0}, -1,
       {{L"ファイルで扱えるbit数が不足しています\n保存時に劣化しますがよろしいですか？", L"確認", 0}}},
      {"gray32 as tif", &gray32, L"/a.tif", L"en", {}, 1, {}},
      {"cmyk as bmp", &cmyk, L"/a.bmp", L"en", {}, 1, {}},
      {"hsv as png", &hsv, L"/a.png", L"en", {}, 1, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_boxes.clear();
    g_answers.assign(c.answers.begin(), c.answers.end());
    EXPECT_EQ(ConfirmImageSave(c.picture, c.path.c_str(), c.language, nullptr), c.expected);
    ASSERT_EQ(g_boxes.size(), c.boxes.size());
    for (size_t i = 0; i < c.boxes.size(); ++i) {
      EXPECT_EQ(g_boxes[i].text, c.boxes[i].text);
      EXPECT_EQ(g_boxes[i].caption, c.boxes[i].caption);
      EXPECT_EQ(g_boxes[i].kind, c.boxes[i].kind);
    }
  }
  // The save after a passed ".xyz" check fails and says so.
  g_boxes.clear();
  EXPECT_EQ(SaveImageFile(&rgb, WPath("image.xyz").c_str(), L"en", nullptr), 0);
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_EQ(g_boxes[0].text, L"saving failed");
  EXPECT_EQ(g_boxes[0].caption, L"error");
  g_boxes.clear();
  EXPECT_EQ(SaveImageFile(&rgb, WPath("image.xyz").c_str(), L"jp", nullptr), 0);
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_EQ(g_boxes[0].text, L"セーブできませんでした");
  EXPECT_EQ(g_boxes[0].caption, L"エラー");
}

// ---- Single image files --------------------------------------------------------------------

TEST_F(ImgIoTest, SaveFitsAndReportsAndLoadReadsBack) {
  CImgBuff gray32, back, empty;
  Pattern(gray32, ImgFormatGray32);
  // Gray32 as JPEG is written as Gray8; the PNG keeps the high 16 bits exactly.
  ASSERT_EQ(SaveImageFile(&gray32, WPath("g.png").c_str(), L"en", nullptr), 1);
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_EQ(g_boxes[0].text, L"saved");
  EXPECT_EQ(g_boxes[0].caption, L"confirmation");
  ASSERT_EQ(LoadImageFile(&back, WPath("g.png").c_str(), L"en", nullptr), 1);
  ASSERT_EQ(back.Format(), ImgFormatGray16);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) {
      uint32_t v = 0;
      uint16_t w = 0;
      gray32.GetGray32(x, y, &v);
      back.GetGray16(x, y, &w);
      EXPECT_EQ(w, v >> 16);
    }
  EXPECT_EQ(gray32.Format(), ImgFormatGray32);  // the caller's picture is untouched
  ASSERT_EQ(SaveImageFile(&gray32, WPath("g.jpg").c_str(), L"jp", nullptr), 1);
  EXPECT_EQ(g_boxes.back().text, L"セーブしました");
  EXPECT_EQ(g_boxes.back().caption, L"確認");
  ASSERT_EQ(LoadImageFile(&back, WPath("g.jpg").c_str(), nullptr, nullptr), 1);
  EXPECT_EQ(back.Format(), ImgFormatGray8);

  // Nothing to save: no message even with a language.
  g_boxes.clear();
  EXPECT_EQ(SaveImageFile(&empty, WPath("e.png").c_str(), L"en", nullptr), 0);
  EXPECT_EQ(SaveImageFile(&gray32, L"", L"en", nullptr), 0);
  EXPECT_TRUE(g_boxes.empty());

  // A file that does not load: the message in both languages; none without a language.
  EXPECT_EQ(LoadImageFile(&back, WPath("missing.png").c_str(), L"en", nullptr), 0);
  EXPECT_EQ(LoadImageFile(&back, WPath("missing.png").c_str(), L"jp", nullptr), 0);
  EXPECT_EQ(LoadImageFile(&back, WPath("missing.png").c_str(), nullptr, nullptr), 0);
  EXPECT_EQ(LoadImageFile(&back, L"", L"en", nullptr), 0);
  ASSERT_EQ(g_boxes.size(), 2u);
  EXPECT_EQ(g_boxes[0].text, L"loading failed");
  EXPECT_EQ(g_boxes[0].caption, L"error");
  EXPECT_EQ(g_boxes[1].text, L"ロードできませんでした");
  EXPECT_EQ(g_boxes[1].caption, L"エラー");
}

TEST_F(ImgIoTest, CmykAndHsvAreConvertedWithoutAQuestion) {
  CImgBuff cmyk, hsv, back, expected;
  Pattern(cmyk, ImgFormatCmyk32);
  ASSERT_EQ(SaveImageFile(&cmyk, WPath("c.bmp").c_str(), nullptr, nullptr), 1);
  ASSERT_EQ(LoadImageFile(&back, WPath("c.bmp").c_str(), nullptr, nullptr), 1);
  expected.CopyFrom(cmyk);
  ASSERT_EQ(expected.record->ConvertTo(ImgFormatRgb24), 1);
  ASSERT_EQ(back.Format(), ImgFormatRgb24);
  EXPECT_EQ(memcmp(back.Pixels(), expected.Pixels(), 6 * 4 * 3), 0);

  Pattern(hsv, ImgFormatHsv48);
  ASSERT_EQ(SaveImageFile(&hsv, WPath("h.png").c_str(), nullptr, nullptr), 1);
  ASSERT_EQ(LoadImageFile(&back, WPath("h.png").c_str(), nullptr, nullptr), 1);
  expected.CopyFrom(hsv);
  ASSERT_EQ(expected.record->ConvertTo(ImgFormatRgb48), 1);
  ASSERT_EQ(back.Format(), ImgFormatRgb48);
  EXPECT_EQ(memcmp(back.Pixels(), expected.Pixels(), 6 * 4 * 6), 0);
}

TEST_F(ImgIoTest, FramesOfAMediaFile) {
  // Three TIFF pages: the file loads its first page; each frame reads into the same block.
  CImgBuff pages[3], back;
  MediaInfo info;
  for (int i = 0; i < 3; ++i) Pattern(pages[i], ImgFormatRgb48, 5, 3, i);
  ASSERT_EQ(DescribeImageFormat(&pages[0], &info), 1);
  EXPECT_EQ(info.kind, MediaKindStill);
  EXPECT_EQ(info.frameCount, 1u);
  EXPECT_EQ(info.bytesPerPixel, 6u);
  info.frameCount = 3;
  const std::wstring path = WPath("pages.tif");
  MediaFile* out = MediaCreate(path.c_str(), &info, nullptr);
  ASSERT_NE(out, nullptr);
  for (auto& p : pages) EXPECT_EQ(SaveImageToMedia(&p, out), 1);
  CImgBuff other;
  Pattern(other, ImgFormatRgb48, 4, 3);
  EXPECT_EQ(SaveImageToMedia(&other, out), 0);  // another size
  Pattern(other, ImgFormatRgb24, 5, 3);
  EXPECT_EQ(SaveImageToMedia(&other, out), 0);  // other bytes per pixel
  ASSERT_EQ(MediaClose(out), 1);

  ASSERT_EQ(LoadImageFile(&back, path.c_str(), nullptr, nullptr), 1);
  EXPECT_EQ(memcmp(back.Pixels(), pages[0].Pixels(), 5 * 3 * 6), 0);

  MediaFile* in = MediaOpen(path.c_str(), nullptr, nullptr);
  ASSERT_NE(in, nullptr);
  ASSERT_EQ(LoadImageFromMedia(&back, in, 2), 1);
  void* block = back.Pixels();
  EXPECT_EQ(memcmp(back.Pixels(), pages[2].Pixels(), 5 * 3 * 6), 0);
  ASSERT_EQ(LoadImageFromMedia(&back, in, 1), 1);
  EXPECT_EQ(back.Pixels(), block);
  EXPECT_EQ(memcmp(back.Pixels(), pages[1].Pixels(), 5 * 3 * 6), 0);
  // A failed read leaves the picture at the file's size with nothing of the last frame.
  EXPECT_EQ(LoadImageFromMedia(&back, in, 3), 0);
  ASSERT_EQ(back.Width(), 5);
  const uint8_t* b = static_cast<const uint8_t*>(back.Pixels());
  for (int i = 0; i < 5 * 3 * 6; ++i) ASSERT_EQ(b[i], 0) << i;
  // Another picture format is replaced by the file's.
  Pattern(other, ImgFormatGray8, 9, 9);
  ASSERT_EQ(LoadImageFromMedia(&other, in, 0), 1);
  EXPECT_EQ(other.Format(), ImgFormatRgb48);
  EXPECT_EQ(other.Width(), 5);
  EXPECT_EQ(LoadImageFromMedia(&other, nullptr, 0), 0);
  // A file whose bytes per pixel no picture format takes.
  const uint64_t saved = in->info.bytesPerPixel;
  in->info.bytesPerPixel = 24;
  EXPECT_EQ(LoadImageFromMedia(&other, in, 0), 0);
  in->info.bytesPerPixel = saved;
  MediaClose(in);
}

// ---- Series ----------------------------------------------------------------------------

TEST_F(ImgIoTest, SeriesAsVideoMultiPageAndNumberedFiles) {
  CImgBuff frames[3];
  for (int i = 0; i < 3; ++i) Pattern(frames[i], ImgFormatRgb24, 16, 8, i);
  auto writeAll = [&](MovieWriter* w) {
    ASSERT_NE(w, nullptr);
    for (auto& f : frames) EXPECT_EQ(MovieWriterWriteFrame(w, &f), 1);
    EXPECT_EQ(CloseMovieWriter(w), 1);
  };

  // A video at 33333 microseconds a frame, whatever the case of the extension.
  g_chosen = {WPath("clip.AVI")};
  int32_t cancelled = -1;
  MovieWriter* w = SaveMovieOrSequence(&frames[0], 3, L"en", nullptr, L"save video", nullptr,
                                       nullptr, &cancelled);
  EXPECT_EQ(cancelled, 0);
  EXPECT_EQ(g_chooserFilter, L"AVI MP4 TIF TIFF JPG JPEG PNG BMP");
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->info.frameIntervalUs, 33333u);
  EXPECT_EQ(w->info.frameCount, 3u);
  EXPECT_STREQ(w->pattern, L"");
  writeAll(w);
  if (fixtures::HaveFfmpeg()) {
    EXPECT_EQ(fixtures::RunCapture("ffprobe -v error -select_streams v:0 -show_entries "
                                   "stream=r_frame_rate,nb_frames -of csv=p=0 '" +
                                   Path("clip.AVI") + "'"),
              "30/1,3\n");
  }

  // One multi-page TIFF file.
  g_chosen = {WPath("stack.TIF")};
  w = SaveMovieOrSequence(&frames[0], 3, L"en", nullptr, L"t", nullptr, nullptr, nullptr);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->info.frameIntervalUs, 0u);
  writeAll(w);
  if (fixtures::HaveTool("/usr/bin/tiffinfo")) {
    EXPECT_EQ(fixtures::RunCapture("/usr/bin/tiffinfo '" + Path("stack.TIF") +
                                   "' 2>/dev/null | grep -c 'TIFF Directory'"),
              "3\n");
  }
  MediaFile* in = MediaOpen(WPath("stack.TIF").c_str(), nullptr, nullptr);
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(in->info.frameCount, 3u);
  MediaClose(in);

  // Numbered files: named after the chosen one, or from 0 without digits.
  struct Numbered {
    std::string chosen;
    std::vector<std::string> files;
  } numbered[] = {
      {"frame0001.jpg", {"frame0001.jpg", "frame0002.jpg", "frame0003.jpg"}},
      {"take.png", {"take0.png", "take1.png", "take2.png"}},
      {"0001.png", {"0001.png", "0002.png", "0003.png"}},
      {"50%/s9.bmp", {"50%/s9.bmp", "50%/s10.bmp", "50%/s11.bmp"}},
  };
  ASSERT_EQ(std::system(("mkdir '" + Path("50%") + "'").c_str()), 0);
  for (const Numbered& n : numbered) {
    SCOPED_TRACE(n.chosen);
    g_chosen = {WPath(n.chosen)};
    w = SaveMovieOrSequence(&frames[0], 3, L"en", nullptr, L"t", nullptr, nullptr, &cancelled);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->mediaFile, nullptr);
    writeAll(w);
    for (size_t i = 0; i < n.files.size(); ++i) {
      CImgBuff back;
      ASSERT_EQ(LoadImageFile(&back, WPath(n.files[i]).c_str(), nullptr, nullptr), 1) << n.files[i];
      if (n.chosen.find(".jpg") == std::string::npos) {
        EXPECT_EQ(memcmp(back.Pixels(), frames[i].Pixels(), 16 * 8 * 3), 0);
      }
    }
    EXPECT_TRUE(g_boxes.empty());
  }
  EXPECT_FALSE(Exists(Path("take.png")));
}

TEST_F(ImgIoTest, SeriesOverwriteQuestionsAndCancel) {
  CImgBuff frame;
  Pattern(frame, ImgFormatRgb24);
  int32_t cancelled = -1;

  // Cancel in the chooser.
  EXPECT_EQ(SaveMovieOrSequence(&frame, 3, L"en", nullptr, L"t", nullptr, nullptr, &cancelled), nullptr);
  EXPECT_EQ(cancelled, 1);

  // The typed name does not exist, but the second file of the series does: asked, naming it.
  ASSERT_EQ(SaveImageFile(&frame, WPath("take1.png").c_str(), nullptr, nullptr), 1);
  g_chosen = {WPath("take.png")};
  g_answers = {0};
  EXPECT_EQ(SaveMovieOrSequence(&frame, 3, L"en", nullptr, L"t", nullptr, nullptr, &cancelled), nullptr);
  EXPECT_EQ(cancelled, 1);
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_EQ(g_boxes[0].text, WPath("take1.png") + L"\nDo you want to overwrite it?");
  EXPECT_EQ(g_boxes[0].kind, 0);
  EXPECT_FALSE(Exists(Path("take0.png")));
  // The series ends before the existing file: no question.
  g_boxes.clear();
  g_chosen = {WPath("take.png")};
  MovieWriter* w = SaveMovieOrSequence(&frame, 1, L"jp", nullptr, L"t", nullptr, nullptr, &cancelled);
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(g_boxes.empty());
  CloseMovieWriter(w);
  // Accepted in Japanese.
  g_chosen = {WPath("take.png")};
  g_answers = {1};
  w = SaveMovieOrSequence(&frame, 2, L"jp", nullptr, L"t", nullptr, nullptr, &cancelled);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(cancelled, 0);
  EXPECT_EQ(g_boxes.back().text, WPath("take1.png") + L"\n上書き保存しますか？");
  CloseMovieWriter(w);

  // A video asks about the chosen file.
  ASSERT_EQ(std::system(("touch '" + Path("v.avi") + "'").c_str()), 0);
  g_boxes.clear();
  g_chosen = {WPath("v.avi")};
  g_answers = {0};
  EXPECT_EQ(SaveMovieOrSequence(&frame, 3, L"en", nullptr, L"t", nullptr, nullptr, &cancelled), nullptr);
  EXPECT_EQ(cancelled, 1);
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_EQ(g_boxes[0].text, L"Do you want to overwrite it?");

  // A chosen name that gives no pattern: no writer, not cancelled.
  g_chosen = {WPath("noext")};
  EXPECT_EQ(SaveMovieOrSequence(&frame, 3, L"en", nullptr, L"t", nullptr, nullptr, &cancelled), nullptr);
  EXPECT_EQ(cancelled, 0);
  // No picture: no writer.
  CImgBuff empty;
  g_chosen = {WPath("z.avi")};
  EXPECT_EQ(SaveMovieOrSequence(&empty, 3, L"en", nullptr, L"t", nullptr, nullptr, &cancelled), nullptr);
  EXPECT_EQ(cancelled, 0);
}

TEST_F(ImgIoTest, WriterRefusalsAndNumbersUsedUp) {
  CImgBuff frame, other;
  Pattern(frame, ImgFormatRgb24);
  Pattern(other, ImgFormatRgb24, 7, 4);
  // A numbered writer into a folder that does not exist: each save fails, and each uses up
  // its number, so a later good frame keeps its place in the series.
  MovieWriter* w = CreateNumberedFileWriter(&frame, 3, Wide(Path("none/f%02llu.png")).c_str(), 5);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->startNumber, 5u);
  EXPECT_EQ(MovieWriterWriteFrame(w, &frame), 0);
  EXPECT_EQ(w->nextNumber, 6u);
  EXPECT_EQ(MovieWriterWriteFrame(w, &other), 0);  // another size: refused before any number
  EXPECT_EQ(w->nextNumber, 6u);
  ASSERT_EQ(std::system(("mkdir '" + Path("none") + "'").c_str()), 0);
  EXPECT_EQ(MovieWriterWriteFrame(w, &frame), 1);
  EXPECT_TRUE(Exists(Path("none/f06.png")));
  EXPECT_FALSE(Exists(Path("none/f05.png")));
  CloseMovieWriter(w);

  // Video writer: size checked before writing.
  w = CreateMovieWriter(&frame, 2, WPath("m.avi").c_str(), 0, nullptr);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->info.frameIntervalUs, 33333u);
  EXPECT_EQ(MovieWriterWriteFrame(w, &other), 0);
  EXPECT_EQ(MovieWriterWriteFrame(w, &frame), 1);
  EXPECT_EQ(CloseMovieWriter(w), 1);
  // A TIFF series takes no interval; refusals.
  w = CreateMovieWriter(&frame, 1, WPath("m.tif").c_str(), 40000, nullptr);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->info.frameIntervalUs, 0u);
  CloseMovieWriter(w);
  CImgBuff empty;
  EXPECT_EQ(CreateMovieWriter(&empty, 1, WPath("e.avi").c_str(), 0, nullptr), nullptr);
  EXPECT_EQ(CreateMovieWriter(&frame, 1, L"", 0, nullptr), nullptr);
  EXPECT_EQ(CreateMovieWriter(&frame, 1, WPath("none2/x.avi").c_str(), 0, nullptr), nullptr);
  EXPECT_EQ(CreateNumberedFileWriter(&empty, 1, L"/a%llu.png", 0), nullptr);
  const std::wstring tooLong(kMoviePatternUnits, L'a');
  EXPECT_EQ(CreateNumberedFileWriter(&frame, 1, tooLong.c_str(), 0), nullptr);
  EXPECT_EQ(MovieWriterWriteFrame(nullptr, &frame), 0);
  EXPECT_EQ(CloseMovieWriter(nullptr), 0);
}

}  // namespace

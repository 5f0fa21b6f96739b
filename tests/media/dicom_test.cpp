// dicom_test.cpp - the DICOM reader on built files (both VR forms, colour modes, sequences,
// refusals) and on files made by dcmtk's img2dcm and dcmconv.
#include <gtest/gtest.h>

#include "media/dicom.h"
#include "media/media.h"
#include "media_fixtures.h"

using namespace fixtures;

namespace {

const char* kExplicit = "1.2.840.10008.1.2.1";
const char* kImplicit = "1.2.840.10008.1.2";

struct Opened {
  MediaFile file{};
  int ok = 0;
  explicit Opened(const Bytes& b) { ok = DicomOpenMemory(&file, b.data(), b.size()); }
  ~Opened() { DicomFree(file.dicom); }
  Bytes Frame(uint64_t n) {
    Bytes out(file.info.width * file.info.height * file.info.bytesPerPixel, 0xEE);
    EXPECT_EQ(DicomReadFrames(&file, 0, n, 1, out.data()), 1);
    return out;
  }
};

Bytes Ramp(size_t n, int step = 1) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = uint8_t(i * step);
  return b;
}

DicomWriter Start(const char* syntax) {
  DicomWriter w;
  w.Meta(syntax);
  w.implicit = syntax == kImplicit;
  return w;
}

}  // namespace

TEST(DicomReader, GrayInBothVrForms) {
  for (const char* syntax : {kExplicit, kImplicit}) {
    DicomWriter w = Start(syntax);
    w.Text(0x8, 0x60, "CS", "OT");
    w.Geometry(2, 3, 8);
    w.Pixels(Ramp(12, 5));  // two frames
    Opened o(w.b);
    ASSERT_TRUE(o.ok) << syntax;
    EXPECT_EQ(o.file.info.frameCount, 2u);
    EXPECT_EQ(o.file.info.bytesPerPixel, 1u);
    EXPECT_EQ(o.file.info.width, 3u);
    EXPECT_EQ(o.Frame(1), (Bytes{30, 35, 40, 45, 50, 55}));
  }
}

TEST(DicomReader, SixteenBitsStoredShiftUp) {
  DicomWriter w = Start(kExplicit);
  w.U16(0x28, 2, 1);
  w.U16(0x28, 0x10, 1);
  w.U16(0x28, 0x11, 2);
  w.U16(0x28, 0x100, 16);
  w.U16(0x28, 0x101, 12);
  w.Pixels({0xFF, 0x0F, 0x01, 0x00});
  Opened o(w.b);
  ASSERT_TRUE(o.ok);
  Bytes f = o.Frame(0);
  uint16_t v[2];
  std::memcpy(v, f.data(), 4);
  EXPECT_EQ(v[0], 65520);
  EXPECT_EQ(v[1], 16);
}

TEST(DicomReader, ColourModesFromSamplesAndPlanarConfiguration) {
  // Planar: all red, then green, then blue.
  DicomWriter p = Start(kExplicit);
  p.Geometry(1, 2, 8, 3);
  p.U16(0x28, 6, 1);
  p.Pixels({1, 2, 3, 4, 5, 6});
  Opened planar(p.b);
  ASSERT_TRUE(planar.ok);
  EXPECT_EQ(planar.file.info.bytesPerPixel, 3u);
  EXPECT_EQ(planar.Frame(0), (Bytes{1, 3, 5, 2, 4, 6}));
  // A gray image carrying a planar-configuration element stays gray.
  DicomWriter g = Start(kExplicit);
  g.Geometry(1, 2, 8, 1);
  g.U16(0x28, 6, 0);
  g.Pixels({7, 8});
  Opened gray(g.b);
  ASSERT_TRUE(gray.ok);
  EXPECT_EQ(gray.file.info.bytesPerPixel, 1u);
  EXPECT_EQ(gray.Frame(0), (Bytes{7, 8}));
  // 16-bit planar colour.
  DicomWriter c = Start(kImplicit);
  c.Geometry(1, 1, 16, 3);
  c.U16(0x28, 6, 1);
  c.Pixels({1, 0, 2, 0, 3, 0});
  Opened c16(c.b);
  ASSERT_TRUE(c16.ok);
  EXPECT_EQ(c16.file.info.bytesPerPixel, 6u);
  Bytes f = c16.Frame(0);
  uint16_t v[3];
  std::memcpy(v, f.data(), 6);
  EXPECT_EQ(v[0], 1);
  EXPECT_EQ(v[2], 3);
}

TEST(DicomReader, FramesSequencesAndLongForms) {
  DicomWriter w = Start(kExplicit);
  // A text element in the 32-bit length form, then nested undefined-length sequences whose
  // items hold a rows element and bytes that look like a delimiter: none of it is used.
  w.Header(0x8, 0x2111, "UT", 4);
  w.b.insert(w.b.end(), {'a', 'b', 'c', 'd'});
  w.Header(0x8, 0x1140, "SQ", 0xFFFFFFFF);
  w.Header(0xFFFE, 0xE000, "", 0xFFFFFFFF);
  w.U16(0x28, 0x10, 99);
  w.Header(0x8, 0x1150, "SQ", 0xFFFFFFFF);
  w.Header(0xFFFE, 0xE000, "", 4);
  w.b.insert(w.b.end(), {0xFE, 0xFF, 0xDD, 0xE0});
  w.Header(0xFFFE, 0xE0DD, "", 0);  // ends the inner sequence only
  w.Header(0xFFFE, 0xE00D, "", 0);
  w.Header(0xFFFE, 0xE0DD, "", 0);
  w.Geometry(2, 2, 8);
  w.Pixels(Ramp(14));  // 3.5 frames
  w.Text(0x7FE1, 0x10, "LO", "after");
  Opened o(w.b);
  ASSERT_TRUE(o.ok);
  EXPECT_EQ(o.file.info.height, 2u);
  EXPECT_EQ(o.file.info.frameCount, 3u);
  EXPECT_EQ(o.Frame(2), (Bytes{8, 9, 10, 11}));
  Bytes all(12);
  EXPECT_EQ(DicomReadFrames(&o.file, 0, 0, 3, all.data()), 1);
  EXPECT_EQ(all, Ramp(12));
  EXPECT_EQ(DicomReadFrames(&o.file, 0, 2, 2, all.data()), 0);
  EXPECT_EQ(DicomReadFrames(&o.file, 0, 3, 0, all.data()), 1);
}

TEST(DicomReader, Refusals) {
  auto file = [](const char* syntax, auto change) {
    DicomWriter w = Start(syntax);
    change(w);
    return w.b;
  };
  auto plain = [](DicomWriter& w) {
    w.Geometry(2, 2, 8);
    w.Pixels(Ramp(4));
  };
  struct Case {
    const char* name;
    Bytes file;
  } cases[] = {
      {"no DICM", [&] { Bytes b = file(kExplicit, plain); b[128] = 'X'; return b; }()},
      {"big endian", file("1.2.840.10008.1.2.2", plain)},
      {"deflated", file("1.2.840.10008.1.2.1.99", plain)},
      {"JPEG baseline, defined length", file("1.2.840.10008.1.2.4.50", plain)},
      {"encapsulated pixels",
       file(kExplicit, [](DicomWriter& w) {
         w.Geometry(2, 2, 8);
         w.Header(0x7FE0, 0x10, "OB", 0xFFFFFFFF);
         w.Header(0xFFFE, 0xE000, "", 0);
         w.Header(0xFFFE, 0xE0DD, "", 0);
       })},
      {"samples per pixel 2", file(kExplicit, [](DicomWriter& w) { w.Geometry(2, 2, 8, 2); w.Pixels(Ramp(8)); })},
      {"planar 2", file(kExplicit, [](DicomWriter& w) { w.U16(0x28, 6, 2); w.Geometry(2, 2, 8); w.Pixels(Ramp(4)); })},
      {"bits allocated 12", file(kExplicit, [](DicomWriter& w) { w.Geometry(2, 2, 12); w.Pixels(Ramp(8)); })},
      {"second rows differ", file(kExplicit, [](DicomWriter& w) { w.Geometry(2, 2, 8); w.U16(0x28, 0x10, 3); w.Pixels(Ramp(6)); })},
      {"pixels before the size", file(kExplicit, [](DicomWriter& w) { w.Pixels(Ramp(4)); w.Geometry(2, 2, 8); })},
      {"less than one frame", file(kExplicit, [](DicomWriter& w) { w.Geometry(2, 2, 8); w.Pixels(Ramp(3)); })},
      {"pixels cut short", [&] { Bytes b = file(kExplicit, plain); b.erase(b.end() - 1); return b; }()},
      {"only the preamble", Bytes(132, 0)},
  };
  for (const Case& c : cases) EXPECT_FALSE(Opened(c.file).ok) << c.name;
}

TEST(DicomMedia, OpensThroughTheHandleAndRefusesToWrite) {
  DicomWriter w = Start(kExplicit);
  w.Geometry(3, 2, 8, 3);
  w.Pixels(Ramp(18));
  const std::string path = OutPath("dicom_media.dcm");
  ASSERT_TRUE(WriteFile(path, w.b));
  MediaFile* in = MediaOpen(Wide(path).c_str(), nullptr, nullptr);
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(in->info.bytesPerPixel, 3u);
  Bytes f(18);
  EXPECT_EQ(MediaReadFrame(in, 0, 0, 0, f.data()), 1);
  EXPECT_EQ(f, Ramp(18));
  EXPECT_EQ(MediaClose(in), 1);
  MediaInfo info{MediaKindStill, 1, 1, 1, 2, 2, 0};
  EXPECT_EQ(MediaCreate(Wide(OutPath("x.dcm")).c_str(), &info, nullptr), nullptr);
}

TEST(DicomTools, Img2dcmAndDcmconv) {
  if (!HaveTool("/usr/bin/img2dcm") || !HaveTool("/usr/bin/dcmconv") || !HaveTool("/usr/bin/convert"))
    GTEST_SKIP() << "dcmtk or ImageMagick not installed";
  const uint64_t w = 11, h = 6;
  Bytes rgb(w * h * 3);
  for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = uint8_t(i * 13 + 5);
  const std::string raw = OutPath("dcm_src.rgb"), bmp = OutPath("dcm_src.bmp"), dcm = OutPath("dcm_img2dcm.dcm");
  ASSERT_TRUE(WriteFile(raw, rgb));
  ASSERT_EQ(Shell("/usr/bin/convert -size 11x6 -depth 8 rgb:" + raw + " -type TrueColor BMP3:" + bmp), 0);
  ASSERT_EQ(Shell("/usr/bin/img2dcm -i BMP " + bmp + " " + dcm), 0);
  struct Case {
    const char* name;
    const char* option;  // dcmconv's transfer syntax option; empty: img2dcm's file itself
    bool opens;
  } cases[] = {
      {"dcm_img2dcm.dcm", "", true},
      {"dcm_explicit.dcm", "+te", true},
      {"dcm_implicit.dcm", "+ti", true},
      {"dcm_bigendian.dcm", "+tb", false},
  };
  for (const Case& c : cases) {
    std::string path = OutPath(c.name);
    if (*c.option) {
      ASSERT_EQ(Shell(std::string("/usr/bin/dcmconv ") + c.option + " " + dcm + " " + path), 0) << c.option;
    }
    MediaFile f{};
    int ok = DicomOpenRead(&f, path.c_str());
    EXPECT_EQ(ok, c.opens) << c.name;
    if (ok) {
      EXPECT_EQ(f.info.width, w);
      EXPECT_EQ(f.info.height, h);
      ASSERT_EQ(f.info.bytesPerPixel, 3u);
      Bytes back(rgb.size());
      EXPECT_EQ(DicomReadFrames(&f, 0, 0, 1, back.data()), 1);
      EXPECT_EQ(back, rgb) << c.name;
    }
    DicomFree(f.dicom);
  }
}

// mask_test.cpp - the mask filter: subtraction and preview against masks read from PNG files
// that ImageMagick made, masks smaller and larger than the frame, the row kernels against
// the accessor path, loading failures that keep the old mask, the pack, and loads during runs.
#include "filters/colour_pixel/mask.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "app/cfgfile.h"
#include "core/imgbuff.h"
#include "tests/app/app_test_util.h"
#include "tests/app/testhost.h"
#include "tests/filters/filter_test_util.h"
#include "tests/temp_folder.h"

namespace {

using apptest::MakePicture;
using apptest::SamePixels;

// A w x h 8-bit gray PNG of one value, written by ImageMagick from a PGM.
std::string GrayPng(const qvtest::TempFolder& dir, const std::string& name, int w, int h,
                    int value) {
  std::string pgm = "P5\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
  pgm.append(size_t(w) * h, char(value));
  qvtest::WriteWholeFile(dir.File(name + ".pgm"), pgm);
  std::string png = dir.File(name + ".png");
  std::string cmd = "/usr/bin/convert " + dir.File(name + ".pgm") + " -depth 8 " + png;
  EXPECT_EQ(0, std::system(cmd.c_str()));
  return png;
}

std::wstring Wide(const std::string& s) { return qvtest::Utf8Wide(s); }

void Fill8(CImgBuff& p, int w, int h, uint8_t v) {
  ASSERT_EQ(1, p.Allocate(w, h, ImgFormatGray8));
  std::memset(p.Pixels(), v, size_t(w) * h);
}

uint8_t At8(const CImgBuff& p, int x, int y) {
  return static_cast<const uint8_t*>(p.Pixels())[y * p.Width() + x];
}

class MaskFilter : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.ok());
    mask.m_language = L"en";
  }
  // Runs the filter over the whole frame with preview and the out-of-range mask as given.
  void Run(CImgBuff& frame, uint32_t preview, uint32_t outOfRange) {
    mask.m_previewBox.m_checked = int32_t(preview);
    mask.m_previewBox.m_callback(&mask.m_previewBox, mask.m_previewBox.m_user);
    mask.m_outOfRangeBox.m_checked = int32_t(outOfRange);
    mask.m_outOfRangeBox.m_callback(&mask.m_outOfRangeBox, mask.m_outOfRangeBox.m_user);
    mask.Process(&frame, 0, 0, 0, frame.Width(), frame.Height(), 8, 0);
  }
  qvtest::TempFolder dir{"mask"};
  CLfMask mask;
  CScriptedDialogs dialogs;
};

TEST_F(MaskFilter, SubtractsTheMaskPicture) {
  ASSERT_EQ(1, mask.LoadMaskImage(Wide(GrayPng(dir, "m50", 6, 4, 50)).c_str()));
  CImgBuff frame;
  Fill8(frame, 6, 4, 200);
  Run(frame, 0, 1);
  EXPECT_EQ(150, At8(frame, 5, 3));
  Fill8(frame, 6, 4, 50);
  Run(frame, 0, 1);
  EXPECT_EQ(0, At8(frame, 0, 0)) << "a mask equal to the frame";
  Fill8(frame, 6, 4, 20);
  Run(frame, 0, 1);
  EXPECT_EQ(0, At8(frame, 2, 2)) << "never below 0";
  // An 8-bit mask is widened before it meets a 16-bit frame.
  ASSERT_EQ(1, mask.LoadMaskImage(Wide(GrayPng(dir, "m100", 6, 4, 100)).c_str()));
  ASSERT_EQ(1, frame.Allocate(6, 4, ImgFormatGray16));
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) frame.SetGray16(x, y, 30000);
  Run(frame, 0, 1);
  uint16_t v = 0;
  frame.GetGray16(3, 1, &v);
  EXPECT_EQ(4300, v);
  // Preview writes the mask itself.
  Fill8(frame, 6, 4, 7);
  Run(frame, 1, 1);
  EXPECT_EQ(100, At8(frame, 4, 2));
  // A black mask leaves the frame as it was.
  ASSERT_EQ(1, mask.LoadMaskImage(Wide(GrayPng(dir, "m0", 6, 4, 0)).c_str()));
  Fill8(frame, 6, 4, 77);
  Run(frame, 0, 1);
  EXPECT_EQ(77, At8(frame, 1, 1));
}

TEST_F(MaskFilter, MasksOfOtherSizes) {
  ASSERT_EQ(1, mask.LoadMaskImage(Wide(GrayPng(dir, "small", 3, 2, 10)).c_str()));
  CImgBuff frame;
  Fill8(frame, 6, 4, 200);
  Run(frame, 0, 1);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x)
      ASSERT_EQ(x < 3 && y < 2 ? 190 : 0, At8(frame, x, y)) << x << "," << y;
  Fill8(frame, 6, 4, 200);
  Run(frame, 0, 0);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) ASSERT_EQ(x < 3 && y < 2 ? 190 : 200, At8(frame, x, y));
  Fill8(frame, 6, 4, 200);
  Run(frame, 1, 1);
  EXPECT_EQ(10, At8(frame, 2, 1));
  EXPECT_EQ(255, At8(frame, 3, 1)) << "preview outside the mask: the default value";
  // A larger mask is used where it lies over the frame.
  ASSERT_EQ(1, mask.LoadMaskImage(Wide(GrayPng(dir, "large", 9, 9, 30)).c_str()));
  Fill8(frame, 6, 4, 200);
  Run(frame, 0, 1);
  for (int i = 0; i < 24; ++i) ASSERT_EQ(170, static_cast<uint8_t*>(frame.Pixels())[i]);
}

TEST_F(MaskFilter, WithoutAMaskAndTheRectangle) {
  CImgBuff frame;
  Fill8(frame, 6, 4, 200);
  Run(frame, 1, 1);
  EXPECT_EQ(255, At8(frame, 0, 0)) << "defaults without a mask: the rectangle turns white";
  EXPECT_EQ(0, mask.m_previewBox.m_enabled);
  ASSERT_EQ(1, mask.LoadMaskImage(Wide(GrayPng(dir, "m5", 6, 4, 5)).c_str()));
  // Only the chain rectangle, cut to the frame, however wide the list made it.
  Fill8(frame, 6, 4, 200);
  mask.m_previewBox.m_checked = 0;
  mask.m_previewBox.m_callback(&mask.m_previewBox, mask.m_previewBox.m_user);
  auto start = std::chrono::steady_clock::now();
  mask.Process(&frame, 0, 2, 1, 4294967295LL, 4294967295LL, 8, 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) ASSERT_EQ(x >= 2 && y >= 1 ? 195 : 200, At8(frame, x, y));
  mask.Process(&frame, 0, -5, -5, 0, 10, 8, 0);  // no width: nothing
  EXPECT_EQ(200, At8(frame, 0, 0));
}

// Frames of every format against masks of every format, sizes around the frame's: the row
// kernels give exactly the accessors' pixels.
TEST(MaskFrames, RowKernelsEqualTheAccessorPath) {
  const int sizes[][2] = {{0, 0}, {13, 7}, {40, 30}, {21, 17}};
  for (int frameFormat = 1; frameFormat <= 9; ++frameFormat)
    for (int maskFormat = 1; maskFormat <= 9; ++maskFormat)
      for (const auto& size : sizes)
        for (uint32_t preview = 0; preview < 2; ++preview)
          for (uint16_t fill : {uint16_t(0), uint16_t(40000), uint16_t(65535)}) {
          CImgBuff m;
          if (size[0]) MakePicture(m, size[0], size[1], maskFormat, uint32_t(maskFormat + 3));
          CImgBuff fast, reference;
          MakePicture(fast, 21, 17, frameFormat, uint32_t(frameFormat));
          reference.CopyFrom(fast);
          const RoiRect roi{2, 1, 19, 16};
          MaskApply(&fast, &m, preview, fill, roi);
          MaskApplyReference(&reference, &m, preview, fill, roi);
          ASSERT_TRUE(SamePixels(fast, reference))
              << "frame " << frameFormat << " mask " << maskFormat << " size " << size[0]
              << " preview " << preview << " fill " << fill;
        }
}

TEST_F(MaskFilter, FailuresKeepTheMaskAndPath) {
  std::string good = GrayPng(dir, "good", 4, 4, 60);
  ASSERT_EQ(1, mask.LoadMaskImage(Wide(good).c_str()));
  std::string bytes = qvtest::ReadWholeFile(good);
  qvtest::WriteWholeFile(dir.File("cut.png"), bytes.substr(0, bytes.size() / 2));
  std::shared_ptr<const CImgBuff> before = mask.GetMask();
  EXPECT_EQ(0, mask.LoadMaskImage(Wide(dir.File("cut.png")).c_str()));
  EXPECT_EQ(0, mask.LoadMaskImage(Wide(dir.File("none.png")).c_str()));
  EXPECT_EQ(0, mask.LoadMaskImage(L""));
  EXPECT_EQ(before, mask.GetMask());
  EXPECT_EQ(Wide(good), mask.GetPath());
  // The button: a failure says so once and keeps everything.
  mask.LoadFromButton(Wide(dir.File("cut.png")).c_str());
  ASSERT_EQ(1u, dialogs.m_shown.size());
  EXPECT_EQ(L"loading failed", dialogs.m_shown[0].text);
  EXPECT_EQ(L"error", dialogs.m_shown[0].caption);
  EXPECT_EQ(Wide(good), mask.GetPath());
  // A good load with preview off turns it on, so the new mask is seen first.
  mask.m_previewBox.m_checked = 0;
  mask.m_previewBox.m_callback(&mask.m_previewBox, mask.m_previewBox.m_user);
  mask.LoadFromButton(Wide(GrayPng(dir, "next", 2, 2, 1)).c_str());
  EXPECT_EQ(1u, mask.GetPreview());
  EXPECT_EQ(1, mask.m_previewBox.m_checked);
  EXPECT_EQ(1, mask.m_previewBox.m_enabled);
  EXPECT_EQ(2, mask.GetMask()->Width());
  EXPECT_EQ(60, At8(*before, 3, 3)) << "a run holding the old mask still reads it whole";
}

TEST_F(MaskFilter, Pack) {
  mask.m_filterEnabled = 1;
  CCfgPack out;
  out.SetName(L"mask");
  mask.SaveParams(&out);
  EXPECT_EQ((std::vector<std::wstring>{L"if_enable 1", L"if_visible 0", L"preview 1",
                                       L"default_mask 1"}),
            filtertest::PackLines(&out));
  // A long path is kept whole.
  std::string deep = dir.File(std::string(200, 'd'));
  ASSERT_EQ(0, std::system(("mkdir -p " + deep).c_str()));
  std::string png = GrayPng(dir, "p", 2, 2, 9);
  std::string longPath = deep + "/" + std::string(200, 'e') + ".png";
  ASSERT_EQ(0, std::system(("cp " + png + " " + longPath).c_str()));
  CCfgPack in;
  in.SetName(L"mask");
  in.AddItem(L"if_visible", L"0");
  in.AddItem(L"path", Wide(longPath).c_str());
  in.AddItem(L"preview", L"0");
  in.AddItem(L"default_mask", L"0");
  mask.LoadParams(&in);
  EXPECT_TRUE(dialogs.m_shown.empty());
  EXPECT_EQ(0u, mask.GetPreview());
  EXPECT_EQ(0, mask.GetDefaultMask());
  EXPECT_EQ(0, mask.m_outOfRangeBox.m_checked);
  CCfgPack again;
  again.SetName(L"mask");
  mask.SaveParams(&again);
  EXPECT_EQ((std::vector<std::wstring>{L"if_enable 1", L"if_visible 0", L"preview 0",
                                       L"default_mask 0", L"path " + Wide(longPath)}),
            filtertest::PackLines(&again));
  // Values other than "0" and "1" are ignored; a missing file says so once and opens the
  // window, whatever the list said.
  CCfgPack bad;
  bad.SetName(L"mask");
  bad.AddItem(L"if_visible", L"0");
  bad.AddItem(L"path", Wide(dir.File("missing.png")).c_str());
  bad.AddItem(L"preview", L"2");
  mask.LoadParams(&bad);
  ASSERT_EQ(1u, dialogs.m_shown.size());
  EXPECT_EQ(L"loading failed", dialogs.m_shown[0].text);
  EXPECT_EQ(1u, mask.m_dialogVisible);
  EXPECT_EQ(0u, mask.GetPreview());
  EXPECT_EQ(Wide(longPath), mask.GetPath());
  mask.m_language = L"jp";
  mask.LoadParams(&bad);
  EXPECT_EQ(L"\x30ED\x30FC\x30C9\x3067\x304D\x307E\x305B\x3093\x3067\x3057\x305F",
            dialogs.m_shown.back().text);
  EXPECT_EQ(L"\x30A8\x30E9\x30FC", dialogs.m_shown.back().caption);
}

TEST(MaskNames, NameAndKey) {
  CLfMask mask;
  EXPECT_STREQ(L"Mask", mask.GetName(L"en"));
  EXPECT_STREQ(L"\x80CC\x666F\x9664\x53BB/\x30DE\x30B9\x30AF", mask.GetName(L"jp"));
  EXPECT_STREQ(L"mask", mask.GetKey());
  EXPECT_EQ(1, mask.HasDialog());
}

// Loads on the UI thread while the worker runs frames: each run reads one whole mask.
TEST(MaskLocks, LoadsWhileFramesRun) {
  qvtest::TempFolder dir("mask_locks");
  ASSERT_TRUE(dir.ok());
  std::string a = GrayPng(dir, "a", 64, 48, 10), b = GrayPng(dir, "b", 32, 24, 20);
  CTestHost host;
  CImgBuff frame;
  Fill8(frame, 64, 48, 100);
  host.SetStill(frame);
  auto* mask = new CLfMask;
  ASSERT_EQ(1, host.AddFilter(mask, nullptr));
  mask->m_previewBox.m_checked = 0;
  mask->m_previewBox.m_callback(&mask->m_previewBox, mask->m_previewBox.m_user);
  std::atomic<bool> done{false};
  std::thread watchdog([&] {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!done.load() && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (!done.load()) {
      ADD_FAILURE() << "loads and runs wait on each other";
      std::_Exit(1);
    }
  });
  for (int i = 0; i < 40; ++i) {
    host.Reprocess(1);
    ASSERT_EQ(1, mask->LoadMaskImage(Wide(i % 2 ? a : b).c_str()));
  }
  ASSERT_EQ(1, host.Reprocess(0));
  done.store(true);
  watchdog.join();
  // The last mask, a, is 10 everywhere over the frame.
  EXPECT_EQ(90, At8(host.m_display, 63, 47));
}

}  // namespace

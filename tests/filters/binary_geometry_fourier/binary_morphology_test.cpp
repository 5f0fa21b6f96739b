// binary_morphology_test.cpp - the binary morphology filter: the frame against the engine
// calls it stands for (every type, repeat, connectivity, background, format, rectangles
// partly outside), the shapes it gives on small fixtures, huge repeats from a list, the
// edited and applied copies, the boxes' checks, the enable rule, the packs and the labels.
#include "filters/binary_geometry_fourier/binary_morphology.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <string>
#include <vector>

#include "app/cfgfile.h"
#include "core/imgbuff.h"
#include "engine/bitmask.h"
#include "engine/morphology.h"
#include "tests/app/app_test_util.h"
#include "tests/app/testhost.h"
#include "tests/filters/binary_geometry_fourier/binary_art.h"
#include "tests/filters/filter_test_util.h"

namespace {

using apptest::SamePixels;
using binarytest::Art;
using binarytest::FromArt;
using binarytest::RandomBinary;
using binarytest::ToArt;

// A radio chosen as a click does: the group selects it, then its callback runs.
void Choose(CLfBinary& f, uint32_t type) {
  CFgUIChkButton* b = &f.m_typeRadio[type];
  CFgUIChkButton::SetGroupSelection(b, b->m_index, 0);
  b->m_callback(b, b->m_user);
}
// Text typed into a box, then the focus leaves it.
void TypeAndLeave(CFgUIEdit* edit, const wchar_t* text) {
  edit->SetLine(0, text);
  edit->OnFocusLost(edit, edit->CallbackArg);
}
// Settings as a pack from a list sets them.
void Load(CLfBinary& f, uint32_t type, const wchar_t* repeat, const wchar_t* shave) {
  CCfgPack pack;
  pack.AddItem(L"type", std::to_wstring(type).c_str());
  if (repeat) pack.AddItem(L"repeat", repeat);
  if (shave) pack.AddItem(L"shave", shave);
  f.LoadParams(&pack);
}

// The engine calls the filter stands for, in their order, with the chain rectangle as the
// filter receives it.
void Reference(CImgBuff* p, uint32_t type, uint64_t repeat, uint64_t shave, int32_t conn,
               int32_t bg, RoiRect rect) {
  const int32_t empty = p->Format() == 0;
  for (uint64_t i = 0; type <= 2 && i < repeat; ++i) {
    RoiRect r = rect;
    if (type == 0 && !empty && (conn == 4 || conn == 8) && NormalizeRoi(&r, p))
      DilateExclusive(p, conn, bg, r.x0, r.y0, r.x1, r.y1);
    if (type == 1 && !empty) DilateStep(p, conn, bg, &rect);
    if (type == 2 && !empty && (conn == 4 || conn == 8) && NormalizeRoi(&r, p)) {
      BitMask* m = ImageRegionToBitMask(p, bg, r.x0, r.y0, r.x1, r.y1);
      if (m) ErodeStep(m, p, conn, bg, r.x0, r.y0, r.x1, r.y1);
      BitMaskDestroy(m);
    }
  }
  if (type == 3) {
    Thin(p, conn, bg, &rect);
    if (shave) ShaveWhiskers(p, int32_t(shave), conn, bg, &rect);
  }
  if (type == 4 && !empty) ExtractOutline(p, conn, bg, &rect);
  if (type == 5) FillHoles(p, conn, bg, &rect);
}

TEST(BinaryMorphology, NameKeyDefaultsAndTheirPack) {
  CLfBinary f;
  EXPECT_STREQ(L"Binary image process", f.GetName(L"en"));
  EXPECT_STREQ(L"2\x5024\x753B\x50CF\x51E6\x7406", f.GetName(L"jp"));
  EXPECT_STREQ(L"binary_image_process", f.GetKey());
  EXPECT_EQ(5, CFgUIChkButton::GetGroupSelection(&f.m_typeRadio[0]));
  EXPECT_STREQ(L"1", f.m_repeatEdit.GetText());
  EXPECT_STREQ(L"0", f.m_shaveEdit.GetText());
  EXPECT_EQ(0u, f.m_dirty);
  EXPECT_EQ(0, f.m_setButton.m_enabled);
  CCfgPack pack;
  f.SaveParams(&pack);
  EXPECT_EQ((std::vector<std::wstring>{L"if_enable 0", L"if_visible 0", L"type 5", L"repeat 1",
                                       L"shave 0"}),
            filtertest::PackLines(&pack));
}

// Every type against the engine's own calls: repeat 0 to 3 (shave 0 and 3 for thinning),
// both connectivities and backgrounds, 8-bit gray and RGB, the whole picture and
// rectangles that reach beyond it on either side; an empty picture stays empty.
TEST(BinaryMorphology, FrameEqualsTheEngineCallsItStandsFor) {
  struct Rect {
    int64_t x, y, w, h;
  };
  const Rect rects[] = {{0, 0, 23, 17}, {-4, -3, 12, 11}, {15, 9, 30, 30}, {3, 2, 1, 1}};
  const int32_t formats[] = {ImgFormatGray8, ImgFormatRgb24};
  uint32_t seed = 1;
  for (int32_t format : formats)
    for (uint32_t bg = 0; bg <= 1; ++bg)
      for (int32_t conn : {4, 8})
        for (uint32_t type = 0; type <= 5; ++type)
          for (uint64_t repeat = 0; repeat <= 3; ++repeat)
            for (const Rect& r : rects) {
              if (type > 2 && repeat > 1) continue;  // repeat counts only for types 0 to 2
              const uint64_t shave = type == 3 && repeat == 1 ? 3 : 0;
              SCOPED_TRACE(testing::Message() << "format " << format << " bg " << bg << " conn "
                                              << conn << " type " << type << " repeat " << repeat
                                              << " rect " << r.x << "," << r.y << " " << r.w
                                              << "x" << r.h);
              CImgBuff got, want;
              RandomBinary(got, 23, 17, format, bg, ++seed);
              want.CopyFrom(got);
              CLfBinary f;
              Load(f, type, std::to_wstring(repeat).c_str(), std::to_wstring(shave).c_str());
              f.Process(&got, 0, r.x, r.y, r.w, r.h, uint32_t(conn), bg);
              Reference(&want, type, repeat, shave, conn, int32_t(bg),
                        RoiRect{int32_t(r.x), int32_t(r.y), int32_t(r.x + r.w - 1),
                                int32_t(r.y + r.h - 1)});
              ASSERT_TRUE(SamePixels(want, got));
            }
  for (uint32_t type = 0; type <= 5; ++type) {
    CLfBinary f;
    Load(f, type, L"2", L"2");
    CImgBuff empty;
    f.Process(&empty, 0, 0, 0, 5, 5, 8, 0);
    EXPECT_EQ(0, empty.Format());
  }
}

TEST(BinaryMorphology, ShapesOfTheOperations) {
  struct Case {
    const char* name;
    uint32_t type;
    const wchar_t* repeat;
    int32_t conn;
    uint32_t bg;
    Art in, out;
  };
  const Case cases[] = {
      {"degeneracy, repeat 3, removes three layers", 2, L"3", 8, 0,
       {".........", ".#######.", ".#######.", ".#######.", ".#######.", ".#######.",
        ".#######.", ".#######.", "........."},
       {".........", ".........", ".........", ".........", "....#....", ".........",
        ".........", ".........", "........."}},
      {"expansion on white grows the dark object, 4 neighbours", 1, L"2", 4, 1,
       {".......", ".......", ".......", "...#...", ".......", ".......", "......."},
       {".......", "...#...", "..###..", ".#####.", "..###..", "...#...", "......."}},
      {"expansion on white grows the dark object, 8 neighbours", 1, L"1", 8, 1,
       {".......", ".......", ".......", "...#...", ".......", ".......", "......."},
       {".......", ".......", "..###..", "..###..", "..###..", ".......", "......."}},
      // The inside meets the outside only diagonally: traced with 4 neighbours it is a hole.
      {"hole filling with connect 8", 5, L"1", 8, 0,
       {".......", "...#...", "..#.#..", ".#...#.", "..#.#..", "...#...", "......."},
       {".......", "...#...", "..###..", ".#####.", "..###..", "...#...", "......."}},
      {"hole filling with connect 4: the same region is reached", 5, L"1", 4, 0,
       {".......", "...#...", "..#.#..", ".#...#.", "..#.#..", "...#...", "......."},
       {".......", "...#...", "..#.#..", ".#...#.", "..#.#..", "...#...", "......."}},
      {"exclusive expansion keeps two objects apart", 0, L"2", 4, 0,
       {"........", ".#....#.", "........"},
       // Grown in the order the objects are found: the left one takes the middle first.
       {"###..###", "####.###", "###..###"}},
      {"border extraction", 4, L"1", 8, 0,
       {".....", ".###.", ".###.", ".###.", "....."},
       {".....", ".###.", ".#.#.", ".###.", "....."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CImgBuff img;
    FromArt(img, c.in, ImgFormatGray8, c.bg);
    CLfBinary f;
    Load(f, c.type, c.repeat, L"0");
    f.Process(&img, 0, 0, 0, img.Width(), img.Height(), uint32_t(c.conn), c.bg);
    EXPECT_EQ(c.out, ToArt(img, c.bg));
  }
}

// "-1" in a list reads as 2^64 - 1 passes: the filter still finishes, with the picture that
// width + height passes give, which no further pass changes.
TEST(BinaryMorphology, HugeRepeatFromAListFinishesWithTheSettledPicture) {
  for (uint32_t type = 0; type <= 2; ++type)
    for (int32_t conn : {4, 8}) {
      SCOPED_TRACE(testing::Message() << "type " << type << " conn " << conn);
      CImgBuff start;
      RandomBinary(start, 37, 23, ImgFormatGray8, 0, type * 10 + uint32_t(conn));
      CImgBuff huge, settled, beyond;
      huge.CopyFrom(start);
      settled.CopyFrom(start);
      beyond.CopyFrom(start);
      CLfBinary f;
      Load(f, type, L"-1", L"0");
      ASSERT_EQ(UINT64_MAX, f.GetApplied().repeat);
      std::future<void> run = std::async(std::launch::async, [&] {
        f.Process(&huge, 0, -2, -2, 40, 40, uint32_t(conn), 0);
      });
      if (run.wait_for(std::chrono::seconds(120)) != std::future_status::ready) {
        std::fprintf(stderr, "huge repeat never finished\n");
        std::abort();  // the worker cannot be stopped: end here rather than hang
      }
      // The rectangle clips to the 37 x 23 picture: 60 passes.
      CLfBinary g;
      Load(g, type, L"60", L"0");
      g.Process(&settled, 0, -2, -2, 40, 40, uint32_t(conn), 0);
      EXPECT_TRUE(SamePixels(settled, huge));
      Load(g, type, L"75", L"0");
      g.Process(&beyond, 0, -2, -2, 40, 40, uint32_t(conn), 0);
      EXPECT_TRUE(SamePixels(settled, beyond));
    }
  // A "shave" beyond 32 bits reaches the engine as the longest length, not a negative one.
  CImgBuff got, want;
  RandomBinary(got, 30, 20, ImgFormatGray8, 0, 77);
  want.CopyFrom(got);
  CLfBinary f;
  Load(f, 3, L"1", L"4294967297");
  EXPECT_EQ(4294967297u, f.GetApplied().shave);
  f.Process(&got, 0, 0, 0, 30, 20, 8, 0);
  RoiRect all{0, 0, 29, 19};
  Thin(&want, 8, 0, &all);
  ShaveWhiskers(&want, INT32_MAX, 8, 0, &all);
  EXPECT_TRUE(SamePixels(want, got));
}

TEST(BinaryMorphology, NothingReachesTheFrameBeforeSet) {
  CTestHost host;
  CImgBuff src;
  RandomBinary(src, 32, 24, ImgFormatGray8, 0, 5);
  host.SetStill(src);
  auto* f = new CLfBinary;
  ASSERT_EQ(1, host.AddFilter(f, nullptr));
  ASSERT_EQ(1, host.Reprocess(0));
  CImgBuff filled;
  filled.CopyFrom(src);
  RoiRect all{0, 0, 31, 23};
  FillHoles(&filled, 8, 1, &all);  // the controller's 8 and white
  ASSERT_TRUE(SamePixels(filled, host.m_display));
  const uint64_t before = host.m_processedCount.load();

  Choose(*f, CLfBinary::kThinning);
  EXPECT_EQ(1u, f->m_dirty);
  EXPECT_EQ(1, f->m_setButton.m_enabled);
  TypeAndLeave(&f->m_shaveEdit, L"5");
  EXPECT_EQ(5u, f->m_editedShave);
  EXPECT_EQ(before, host.m_processedCount.load());
  EXPECT_EQ(CLfBinary::kHoleFill, f->GetApplied().type);
  // A list saved now holds the applied values, not the shown ones.
  CCfgPack saved;
  f->SaveParams(&saved);
  std::vector<std::wstring> lines = filtertest::PackLines(&saved);
  ASSERT_EQ(5u, lines.size());
  EXPECT_EQ((std::vector<std::wstring>{L"type 5", L"repeat 1", L"shave 0"}),
            std::vector<std::wstring>(lines.begin() + 2, lines.end()));

  f->Apply();
  const uint64_t afterSet = host.m_processedCount.load();
  EXPECT_GT(afterSet, before);
  EXPECT_EQ(0u, f->m_dirty);
  EXPECT_EQ(0, f->m_setButton.m_enabled);
  CImgBuff thinned;
  thinned.CopyFrom(src);
  Thin(&thinned, 8, 1, &all);
  ShaveWhiskers(&thinned, 5, 8, 1, &all);
  ASSERT_FALSE(SamePixels(thinned, filled));
  EXPECT_TRUE(SamePixels(thinned, host.m_display));
  EXPECT_EQ(CLfBinary::kThinning, f->GetApplied().type);
  EXPECT_EQ(5u, f->GetApplied().shave);

  // Choosing the type already edited changes nothing.
  Choose(*f, CLfBinary::kThinning);
  EXPECT_EQ(0u, f->m_dirty);
  // "set" of a disabled filter applies without a request.
  f->m_filterEnabled = 0;
  Choose(*f, CLfBinary::kExpansion);
  f->Apply();
  EXPECT_EQ(afterSet, host.m_processedCount.load());
  EXPECT_EQ(CLfBinary::kExpansion, f->GetApplied().type);
}

TEST(BinaryMorphology, BoxesTakeDigitsOnlyAndRestoreTheEditedValue) {
  struct Case {
    const wchar_t* text;
    int32_t shaveBox;
    uint64_t want;  // edited value after leaving the box
    const wchar_t* shown;
  };
  const Case cases[] = {
      {L"0", 0, 7, L"7"},       {L"abc", 0, 7, L"7"},  {L"", 0, 7, L"7"},
      {L"-3", 0, 7, L"7"},      {L" 4", 0, 7, L"7"},   {L"12", 0, 12, L"12"},
      {L"007", 0, 7, L"007"},   {L"0", 1, 0, L"0"},    {L"1x", 1, 7, L"7"},
      {L"99999999999999999999", 0, 7, L"7"},  // beyond 64 bits
      {L"18446744073709551615", 0, UINT64_MAX, L"18446744073709551615"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.shaveBox ? "shave " : "repeat ") << "'"
                                    << std::string(c.text, c.text + wcslen(c.text)) << "'");
    CLfBinary f;
    Load(f, c.shaveBox ? 3 : 1, L"7", L"7");
    ASSERT_EQ(0u, f.m_dirty);
    CFgUIEdit* box = c.shaveBox ? &f.m_shaveEdit : &f.m_repeatEdit;
    TypeAndLeave(box, c.text);
    EXPECT_EQ(c.want, c.shaveBox ? f.m_editedShave : f.m_editedRepeat);
    EXPECT_STREQ(c.shown, box->GetText());
    EXPECT_EQ(1u, f.m_dirty);  // typing, or the rewrite, counts as a change
    EXPECT_EQ(7u, c.shaveBox ? f.GetApplied().shave : f.GetApplied().repeat);
  }
}

TEST(BinaryMorphology, EnableRuleFollowsTheEditedType) {
  CLfBinary f;
  struct Case {
    uint32_t type;
    int32_t repeat, shave;
  };
  const Case cases[] = {{0, 1, 0}, {1, 1, 0}, {2, 1, 0}, {3, 0, 1}, {4, 0, 0}, {5, 0, 0}};
  for (const Case& c : cases) {
    Choose(f, c.type);
    EXPECT_EQ(c.repeat, f.m_repeatLabel.m_enabled) << c.type;
    EXPECT_EQ(c.repeat, f.m_repeatEdit.m_enabled) << c.type;
    EXPECT_EQ(c.shave, f.m_shaveLabel.m_enabled) << c.type;
    EXPECT_EQ(c.shave, f.m_shaveEdit.m_enabled) << c.type;
  }
  // The focused "repeat" box passes the focus on when thinning disables it.
  Choose(f, 1);
  f.m_focusChild = &f.m_repeatEdit;
  f.m_repeatEdit.m_focused = 1;
  Choose(f, 3);
  EXPECT_NE(&f.m_repeatEdit, f.m_focusChild);
}

TEST(BinaryMorphology, PacksSetBothCopiesAndClearDirty) {
  CLfBinary f;
  Choose(f, 2);
  ASSERT_EQ(1u, f.m_dirty);
  CCfgPack pack;
  pack.AddItem(L"type", L"3");
  pack.AddItem(L"repeat", L"4");
  pack.AddItem(L"shave", L"12x");
  f.LoadParams(&pack);
  EXPECT_EQ(0u, f.m_dirty);
  EXPECT_EQ(0, f.m_setButton.m_enabled);
  EXPECT_EQ(3u, f.GetApplied().type);
  EXPECT_EQ(3u, f.m_editedType);
  EXPECT_EQ(3, CFgUIChkButton::GetGroupSelection(&f.m_typeRadio[0]));
  EXPECT_EQ(4u, f.GetApplied().repeat);
  EXPECT_EQ(12u, f.GetApplied().shave);  // read as the C library reads it
  EXPECT_EQ(12u, f.m_editedShave);
  EXPECT_STREQ(L"12x", f.m_shaveEdit.GetText());  // the item's own text
  EXPECT_EQ(1, f.m_shaveEdit.m_enabled);

  struct Case {
    const wchar_t* type;
    uint32_t want;
  };
  const Case types[] = {{L"6", 3}, {L"-1", 3}, {L"abc", 0}, {L"", 0}, {L"0", 0}, {L"5", 5}};
  for (const Case& c : types) {
    CLfBinary g;
    CCfgPack three;
    three.AddItem(L"type", L"3");
    g.LoadParams(&three);
    CCfgPack p;
    p.AddItem(L"type", c.type);
    g.LoadParams(&p);
    // "abc" and "" read as 0 as the C library reads them; 6 and -1 are out of range.
    EXPECT_EQ(c.want, g.GetApplied().type) << std::wstring(c.type).size();
  }
  // Written back as read.
  CLfBinary h;
  Load(h, 0, L"-1", L"3");
  CCfgPack out;
  h.SaveParams(&out);
  EXPECT_EQ((std::vector<std::wstring>{L"if_enable 0", L"if_visible 0", L"type 0",
                                       L"repeat 18446744073709551615", L"shave 3"}),
            filtertest::PackLines(&out));
}

TEST(BinaryMorphology, LabelsAndPlacesInBothLanguages) {
  struct Case {
    const wchar_t* language;
    const wchar_t *first, *last, *repeat, *shave, *set;
    int32_t radioWidth, repeatLabelX, repeatLabelWidth, editX, shaveLabelWidth;
  };
  const Case cases[] = {
      {L"en", L"exclusive expansion", L"holl fill", L"repeat", L"shave", L"set", 160, 220, 50,
       180, 50},
      {L"jp", L"\x6392\x4ED6\x81A8\x5F35", L"\x7A74\x57CB\x3081",
       L"\x56DE\x51E6\x7406\x3059\x308B", L"pixel\x306E\x30D2\x30B2\x3092\x9664\x53BB",
       L"\x6C7A\x5B9A", 90, 145, 70, 100, 120},
  };
  for (const Case& c : cases) {
    CLfBinary f;
    f.LayOut(c.language);
    EXPECT_STREQ(c.first, f.m_typeRadio[0].m_text);
    EXPECT_STREQ(c.last, f.m_typeRadio[5].m_text);
    EXPECT_STREQ(c.repeat, f.m_repeatLabel.m_text);
    EXPECT_STREQ(c.shave, f.m_shaveLabel.m_text);
    EXPECT_STREQ(c.set, f.m_setButton.m_text);
    EXPECT_EQ(c.radioWidth, f.m_typeRadio[3].m_width);
    EXPECT_EQ(70, f.m_typeRadio[3].m_y);
    EXPECT_EQ(c.repeatLabelX, f.m_repeatLabel.m_x);
    EXPECT_EQ(c.repeatLabelWidth, f.m_repeatLabel.m_width);
    EXPECT_EQ(c.shaveLabelWidth, f.m_shaveLabel.m_width);
    EXPECT_EQ(c.editX, f.m_shaveEdit.m_x);
    EXPECT_EQ(70, f.m_shaveEdit.m_y);
    EXPECT_EQ(40, f.m_shaveEdit.m_width);
    EXPECT_EQ(255, f.m_setButton.m_width);
    EXPECT_EQ(140, f.m_setButton.m_y);
  }
}

}  // namespace

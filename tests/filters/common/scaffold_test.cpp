// scaffold_test.cpp - the shared frame of the filter libraries: pack readers against the
// readings of the settings tables and the unsafe values they refuse, writers read back, the
// typed-number checks, the chain rectangle, the enable helper and the settings copy.
#include "filters/common/scaffold.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/cfgfile.h"
#include "tests/filters/filter_test_util.h"
#include "toolkit/button.h"
#include "toolkit/edit.h"
#include "toolkit/uiobj.h"

namespace {

struct Pack {
  CCfgPack pack;
  explicit Pack(const wchar_t* value) {
    pack.SetName(L"test");
    if (value) pack.AddItem(L"k", value);
  }
};

// Each text through every reader.  kKept in an expected column: refused (current value kept).
TEST(ScaffoldPackReaders, ReadingsAndRefusals) {
  const int64_t kKept = INT64_MAX;
  struct Case {
    const wchar_t* text;
    int64_t flag, lenient, unsigned32, signed32;
    double dbl;  // NAN: refused
  } cases[] = {
      {L"0", 0, 0, 0, 0, 0.0},
      {L"1", 1, 1, 1, 1, 1.0},
      {L"01", kKept, 1, 1, 1, 1.0},
      {L" 1", kKept, 1, 1, 1, 1.0},
      {L"+5", kKept, 1, 5, 5, 5.0},
      {L"1e3", kKept, 1, 1, 1, 1000.0},
      {L"1x", kKept, 1, 1, 1, 1.0},
      {L"-1", kKept, 1, kKept, -1, -1.0},
      {L"-0", kKept, 1, 0, 0, -0.0},
      {L"4294967295", kKept, 1, 4294967295LL, kKept, 4294967295.0},
      {L"4294967296", kKept, 1, kKept, kKept, 4294967296.0},
      {L"2147483648", kKept, 1, 2147483648LL, kKept, 2147483648.0},
      {L"-2147483648", kKept, 1, kKept, -2147483648LL, -2147483648.0},
      {L"99999999999999999999999", kKept, 1, kKept, kKept, 1e23},
      {L"nan", kKept, 1, 0, 0, NAN},
      {L"inf", kKept, 1, 0, 0, NAN},
      {L"1e999", kKept, 1, 1, 1, NAN},
      {L".5", kKept, 1, 0, 0, 0.5},
      {L"1.2.3", kKept, 1, 1, 1, 1.2},
      {L"", kKept, 1, 0, 0, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "text \"" << std::string(c.text, c.text + wcslen(c.text)) << "\"");
    Pack p(c.text);
    int32_t found = 0;
    uint32_t flag = 7;
    EXPECT_EQ(c.flag != kKept, PackReadFlag(&p.pack, L"k", &flag, &found));
    EXPECT_EQ(1, found);
    EXPECT_EQ(c.flag == kKept ? 7u : uint32_t(c.flag), flag);
    uint32_t lenient = 7;
    EXPECT_EQ(1, PackReadFlagLenient(&p.pack, L"k", &lenient, nullptr));
    EXPECT_EQ(uint32_t(c.lenient), lenient);
    uint64_t u = 77;
    EXPECT_EQ(c.unsigned32 != kKept, PackReadUnsigned(&p.pack, L"k", UINT32_MAX, &u, nullptr));
    EXPECT_EQ(c.unsigned32 == kKept ? 77u : uint64_t(c.unsigned32), u);
    int64_t s = 77;
    EXPECT_EQ(c.signed32 != kKept,
              PackReadSigned(&p.pack, L"k", INT32_MIN, INT32_MAX, &s, nullptr));
    EXPECT_EQ(c.signed32 == kKept ? 77 : c.signed32, s);
    double d = 77.0;
    EXPECT_EQ(!std::isnan(c.dbl), PackReadDouble(&p.pack, L"k", &d, nullptr));
    EXPECT_EQ(std::isnan(c.dbl) ? 77.0 : c.dbl, d);
  }
  // A missing key: not found, nothing stored.
  Pack none(nullptr);
  int32_t found = 1;
  uint64_t u = 5;
  EXPECT_EQ(0, PackReadUnsigned(&none.pack, L"k", 10, &u, &found));
  EXPECT_EQ(0, found);
  EXPECT_EQ(5u, u);
  EXPECT_EQ(0, PackReadUnsigned(nullptr, L"k", 10, &u, &found));
  // A range narrower than the type: an index outside what the filter holds is refused.
  Pack nineteen(L"19");
  int64_t sel = 3;
  EXPECT_EQ(0, PackReadSigned(&nineteen.pack, L"k", 0, 18, &sel, nullptr));
  EXPECT_EQ(3, sel);
}

TEST(ScaffoldPackReaders, ListsElementByElement) {
  Pack p(L"1,,x,99999999999999999999,-4,7");
  int64_t v[6] = {10, 20, 30, 40, 50, 60};
  EXPECT_EQ(5, PackReadSignedList(&p.pack, L"k", -100, 100, v, 6, nullptr));
  // "" and "x" read as 0 (no digits); the overflowing element keeps its value.
  EXPECT_EQ((std::vector<int64_t>{1, 0, 0, 40, -4, 7}), std::vector<int64_t>(v, v + 6));
  int64_t shorter[2] = {0, 0};
  EXPECT_EQ(2, PackReadSignedList(&p.pack, L"k", -100, 100, shorter, 2, nullptr));
  int64_t longer[8] = {9, 9, 9, 9, 9, 9, 9, 9};
  PackReadSignedList(&p.pack, L"k", -100, 100, longer, 8, nullptr);
  EXPECT_EQ(9, longer[6]);  // elements the list lacks keep their values
}

TEST(ScaffoldPackWriters, WriteExactlyAndReadBack) {
  CCfgPack pack;
  pack.SetName(L"test");
  PackWriteFlag(&pack, L"f", 5);
  PackWriteUnsigned(&pack, L"u", UINT64_MAX);
  PackWriteSigned(&pack, L"s", INT64_MIN);
  PackWriteDouble(&pack, L"d", 2.5);
  const int64_t list[3] = {-3, 0, INT64_MAX};
  PackWriteSignedList(&pack, L"l", list, 3);
  EXPECT_EQ((std::vector<std::wstring>{L"f 1", L"u 18446744073709551615",
                                       L"s -9223372036854775808", L"d 2.5",
                                       L"l -3,0,9223372036854775807"}),
            filtertest::PackLines(&pack));
  uint64_t u = 0;
  EXPECT_EQ(1, PackReadUnsigned(&pack, L"u", UINT64_MAX, &u, nullptr));
  EXPECT_EQ(UINT64_MAX, u);
  int64_t s = 0;
  EXPECT_EQ(1, PackReadSigned(&pack, L"s", INT64_MIN, INT64_MAX, &s, nullptr));
  EXPECT_EQ(INT64_MIN, s);
  int64_t back[3] = {};
  EXPECT_EQ(3, PackReadSignedList(&pack, L"l", INT64_MIN, INT64_MAX, back, 3, nullptr));
  EXPECT_EQ(std::vector<int64_t>(list, list + 3), std::vector<int64_t>(back, back + 3));
}

TEST(ScaffoldTypedNumbers, Checks) {
  struct Case {
    const wchar_t* text;
    int64_t whole;  // -1: refused
    double dec;     // NAN: refused
  } cases[] = {
      {L"01", 1, 1.0},       {L" 1", -1, NAN},      {L"+5", -1, NAN},   {L"1e3", -1, NAN},
      {L"4294967296", -1, 4294967296.0},            {L"nan", -1, NAN},  {L"inf", -1, NAN},
      {L".5", -1, NAN},      {L"1.2.3", -1, NAN},   {L"", -1, NAN},     {L"0", -1, 0.0},
      {L"12", 12, 12.0},     {L"3.", -1, 3.0},      {L"0.25", -1, 0.25}, {L"-1", -1, NAN},
      {L"4294967295", 4294967295LL, 4294967295.0},
  };
  for (const Case& c : cases) {
    uint64_t w = 9;
    EXPECT_EQ(c.whole >= 0, CheckPositiveWhole(c.text, UINT32_MAX, &w))
        << std::string(c.text, c.text + wcslen(c.text));
    if (c.whole >= 0) {
      EXPECT_EQ(uint64_t(c.whole), w);
    }
    double d = 9;
    EXPECT_EQ(!std::isnan(c.dec), CheckUnsignedDecimal(c.text, &d))
        << std::string(c.text, c.text + wcslen(c.text));
    if (!std::isnan(c.dec)) {
      EXPECT_EQ(c.dec, d);
    }
  }
  // Hundreds of digits overflow a double: refused.
  std::wstring huge(400, L'9');
  double d = 1;
  EXPECT_EQ(0, CheckUnsignedDecimal(huge.c_str(), &d));
  uint64_t w = 1;
  EXPECT_EQ(0, CheckPositiveWhole(L"99999999999999999999999", UINT64_MAX, &w));
  EXPECT_EQ(0, CheckPositiveWhole(L"11", 10, &w));
}

TEST(ScaffoldTypedNumbers, RefusedTextIsRewrittenWithTheStoredValue) {
  CFgUIEdit edit;
  uint64_t whole = 25;
  edit.SetLine(0, L"1e3");
  EXPECT_EQ(0, EditCheckPositiveWhole(&edit, 1000, &whole));
  EXPECT_STREQ(L"25", edit.GetText());
  EXPECT_EQ(25u, whole);
  edit.SetLine(0, L"30");
  EXPECT_EQ(1, EditCheckPositiveWhole(&edit, 1000, &whole));
  EXPECT_EQ(30u, whole);
  EXPECT_STREQ(L"30", edit.GetText());
  double dec = 1.5;
  edit.SetLine(0, L".5");
  EXPECT_EQ(0, EditCheckUnsignedDecimal(&edit, &dec));
  EXPECT_STREQ(L"1.5", edit.GetText());
  edit.SetLine(0, L"2.75");
  EXPECT_EQ(1, EditCheckUnsignedDecimal(&edit, &dec));
  EXPECT_EQ(2.75, dec);
}

TEST(ScaffoldChainRect, SaturatesInsteadOfWrapping) {
  struct Case {
    int64_t x, y, w, h;
    RoiRect expected;
  } cases[] = {
      {10, 20, 5, 6, {10, 20, 14, 25}},
      {0, 0, 0, 0, {0, 0, -1, -1}},  // zero size handed on: the engine refuses it
      {0, 0, 4294967296LL + 10, 1, {0, 0, INT32_MAX, 0}},  // would wrap to 9 in 32 bits
      {-5, -5, 3, 3, {-5, -5, -3, -3}},
      {INT64_MAX, INT64_MIN, INT64_MAX, INT64_MIN, {INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN}},
      {3000000000LL, 0, 1, 1, {INT32_MAX, 0, INT32_MAX, 0}},
  };
  for (const Case& c : cases) {
    RoiRect r = ChainRectToRoi(c.x, c.y, c.w, c.h);
    EXPECT_EQ((std::vector<int32_t>{c.expected.x0, c.expected.y0, c.expected.x1, c.expected.y1}),
              (std::vector<int32_t>{r.x0, r.y0, r.x1, r.y1}))
        << c.x << " " << c.w;
  }
}

TEST(ScaffoldEnable, DisablingTheFocusedControlPassesTheFocusOn) {
  CFgUICtrl ctrl;
  CFgUIChkButton a, b, c;
  ctrl.AddChild(&a);
  ctrl.AddChild(&b);
  ctrl.AddChild(&c);
  ASSERT_EQ(1, ctrl.SetFocus(&b));
  SetControlEnabled(&a, 0);  // not focused: the focus stays
  EXPECT_EQ(&b, ctrl.m_focusChild);
  SetControlEnabled(&b, 0);
  EXPECT_EQ(0, b.m_enabled);
  EXPECT_EQ(&c, ctrl.m_focusChild);
  SetControlEnabled(&b, 1);
  EXPECT_EQ(1, b.m_enabled);
  EXPECT_EQ(&c, ctrl.m_focusChild);
  SetControlEnabled(nullptr, 0);
}

// A run's copy keeps the table it started with while the UI thread replaces it.
TEST(ScaffoldSettings, ARunKeepsItsOwnCopy) {
  struct Settings {
    int32_t a = 0, b = 0;
    std::shared_ptr<const std::vector<int>> table;
  };
  CFilterSettings<Settings> settings;
  settings.Update([](Settings& s) { s.table = std::make_shared<std::vector<int>>(1000, 1); });
  Settings run = settings.Snapshot();
  settings.Update([](Settings& s) { s.table = std::make_shared<std::vector<int>>(10, 2); });
  EXPECT_EQ(1000u, run.table->size());  // still alive, still the old one
  // Edits and copies from two threads: a copy never sees half an edit.
  std::thread ui([&] {
    for (int i = 0; i < 20000; ++i) settings.Update([i](Settings& s) { s.a = s.b = i; });
  });
  for (int i = 0; i < 20000; ++i) {
    Settings s = settings.Snapshot();
    ASSERT_EQ(s.a, s.b);
  }
  ui.join();
}

}  // namespace

// registry_test.cpp - the FilterId table, registration, the key registry and creation by id
// and key, with stand-in classes registered under the table's ids.
#include "app/registry.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <utility>

#include "app/filter.h"

namespace {

// A filter whose names are the table's: its GetKey must then give the table's key.
template <uint32_t Id>
class StandIn : public CImgFilter {
 public:
  const wchar_t* GetName(const wchar_t* language) override {
    const FilterTableEntry* e = FindFilterEntry(Id);
    return IsJapanese(language) ? e->nameJa : e->nameEn;
  }
};

template <uint32_t Id>
CImgFilter* MakeStandIn() {
  return new StandIn<Id>;
}

template <uint32_t... I>
void RegisterAll(std::integer_sequence<uint32_t, I...>) {
  (RegisterFilterClass(FilterClassEntry{kFilterIdFirst + I, nullptr, &MakeStandIn<kFilterIdFirst + I>}, nullptr), ...);
}

void RegisterEveryStandIn() { RegisterAll(std::make_integer_sequence<uint32_t, kFilterCount>{}); }

CImgFilter* MakeNothing() { return nullptr; }

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearFilterClassesForTesting(); }
  void TearDown() override {
    FreeFilterRegistry();
    ClearFilterClassesForTesting();
  }
};

TEST_F(RegistryTest, TableHoldsEveryIdInOrderWithKeysMadeFromTheEnglishNames) {
  for (uint32_t i = 0; i < kFilterCount; ++i) {
    const FilterTableEntry& e = kFilterTable[i];
    EXPECT_EQ(e.id, kFilterIdFirst + i);
    std::wstring key = e.nameEn;
    for (wchar_t& c : key) {
      if (c >= L'A' && c <= L'Z') c = wchar_t(c - L'A' + L'a');
      if (c == L' ') c = L'_';
    }
    EXPECT_EQ(key, std::wstring(e.key)) << e.id;
    EXPECT_EQ(FindFilterEntry(e.id), &e);
    // Only the mask filter stays off the menus.
    EXPECT_EQ(e.menu == FilterMenuNone, e.id == kFilterIdMask) << e.id;
  }
  EXPECT_EQ(FindFilterEntry(9999), nullptr);
  EXPECT_EQ(FindFilterEntry(10041), nullptr);
  EXPECT_STREQ(FindFilterEntry(10020)->key, L"particle_tracking_/_ptv");
  EXPECT_STREQ(FindFilterEntry(10032)->key, L"anti_shake_/_composit");
  EXPECT_STREQ(FindFilterEntry(10028)->key, L"pseudo-color");
}

TEST_F(RegistryTest, WithoutClassesTheRegistryKnowsEveryKeyButCreatesNothing) {
  ASSERT_EQ(BuildFilterRegistry(), 1);
  ASSERT_EQ(FilterRegistryCount(), kFilterCount);
  const FilterRegistryRecord* r = FilterRegistryRecords();
  for (uint32_t i = 0; i < kFilterCount; ++i) {
    EXPECT_EQ(r[i].id, kFilterIdFirst + i);
    EXPECT_STREQ(r[i].key, kFilterTable[i].key);
  }
  EXPECT_EQ(CreateFilterByKey(L"gamma"), nullptr);
  EXPECT_EQ(CreateFilterById(10007), nullptr);
  // Menus still get a label, from the table.
  wchar_t name[64];
  EXPECT_EQ(GetFilterDisplayName(10007, L"jp", name, 64), 1);
  EXPECT_STREQ(name, L"ガンマ変換");
  EXPECT_EQ(GetFilterDisplayName(10007, L"en", name, 64), 1);
  EXPECT_STREQ(name, L"Gamma");
  EXPECT_EQ(GetFilterDisplayName(10041, L"en", name, 64), 0);
  EXPECT_STREQ(name, L"");
  EXPECT_EQ(GetFilterDisplayName(10007, L"en", name, 3), 0);  // no room: nothing cut
}

TEST_F(RegistryTest, RegisteredClassesGiveTheirKeysAndAreMadeByKeyAndById) {
  RegisterEveryStandIn();
  ASSERT_EQ(BuildFilterRegistry(), 1);
  ASSERT_EQ(FilterRegistryCount(), kFilterCount);
  for (uint32_t i = 0; i < kFilterCount; ++i) {
    const FilterTableEntry& e = kFilterTable[i];
    EXPECT_STREQ(FilterRegistryRecords()[i].key, e.key);
    CImgFilter* f = CreateFilterByKey(e.key);
    ASSERT_NE(f, nullptr) << e.id;
    EXPECT_STREQ(f->GetKey(), e.key);
    EXPECT_EQ(f->m_type, e.id == kFilterIdGroupTag ? 1u : 0u) << e.id;
    EXPECT_EQ(f->m_host, nullptr);
    delete f;
  }
  // Keys are compared whole and exactly.
  for (const wchar_t* bad : {L"Gamma", L"gamma ", L"gam", L"", L"GROUP_TAG", L"quorvix"})
    EXPECT_EQ(CreateFilterByKey(bad), nullptr) << std::wstring(bad).size();
  EXPECT_EQ(CreateFilterByKey(nullptr), nullptr);
  CImgFilter* tag = CreateFilterById(kFilterIdGroupTag);
  ASSERT_NE(tag, nullptr);
  EXPECT_EQ(tag->m_type, 1u);  // the stand-in forgot it: creation sets it
  delete tag;
}

TEST_F(RegistryTest, RegistrationIgnoresForeignIdsAndMissingMakersAndReplacesOnRepeat) {
  RegisterFilterClass(FilterClassEntry{9999, L"x", &MakeStandIn<10007>}, nullptr);
  RegisterFilterClass(FilterClassEntry{10041, L"x", &MakeStandIn<10007>}, nullptr);
  RegisterFilterClass(FilterClassEntry{10007, L"gamma", nullptr}, nullptr);
  for (uint32_t id = kFilterIdFirst; id <= kFilterIdLast; ++id) EXPECT_EQ(RegisteredFilterMaker(id), nullptr);
  RegisterFilterClass(FilterClassEntry{10007, L"gamma", &MakeStandIn<10010>}, nullptr);
  RegisterFilterClass(FilterClassEntry{10007, L"gamma", &MakeStandIn<10007>}, nullptr);
  EXPECT_EQ(RegisteredFilterMaker(10007), &MakeStandIn<10007>);
  ASSERT_EQ(BuildFilterRegistry(), 1);
  CImgFilter* f = CreateFilterByKey(L"gamma");
  ASSERT_NE(f, nullptr);
  EXPECT_STREQ(f->GetName(L"jp"), L"ガンマ変換");
  delete f;
  // Unregistered neighbours stay unmade.
  EXPECT_EQ(CreateFilterByKey(L"filter"), nullptr);
}

TEST_F(RegistryTest, AClassThatMakesNothingLeavesTheRegistryEmpty) {
  RegisterEveryStandIn();
  RegisterFilterClass(FilterClassEntry{10030, L"color_map", &MakeNothing}, nullptr);
  EXPECT_EQ(BuildFilterRegistry(), 0);
  EXPECT_EQ(FilterRegistryCount(), 0u);
  EXPECT_EQ(FilterRegistryRecords(), nullptr);
  EXPECT_EQ(CreateFilterByKey(L"gamma"), nullptr);
  // Menus go by id and do not need the registry.
  CImgFilter* f = CreateFilterById(10007);
  EXPECT_NE(f, nullptr);
  delete f;
  EXPECT_EQ(CreateFilterById(10030), nullptr);
}

TEST_F(RegistryTest, DisplayNamesComeFromTheRegisteredClass) {
  struct Renamed : public CImgFilter {
    const wchar_t* GetName(const wchar_t* language) override {
      return IsJapanese(language) ? L"別名" : L"Other name";
    }
  };
  RegisterFilterClass(FilterClassEntry{10007, L"gamma", []() -> CImgFilter* { return new Renamed; }},
                      nullptr);
  wchar_t name[64];
  ASSERT_EQ(GetFilterDisplayName(10007, L"jp", name, 64), 1);
  EXPECT_STREQ(name, L"別名");
  ASSERT_EQ(GetFilterDisplayName(10007, nullptr, name, 64), 1);
  EXPECT_STREQ(name, L"Other name");
}

}  // namespace

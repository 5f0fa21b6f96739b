// measure_test.cpp - the registration call of the measurement library: every class it hands
// to the registry makes a filter whose key is the one registered.
#include "measure/measure.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/filter.h"
#include "platform/window.h"

namespace {

const int g_headless = (PlatTestSetHeadless(1), 0);

void Collect(const FilterClassEntry& entry, void* user) {
  static_cast<std::vector<FilterClassEntry>*>(user)->push_back(entry);
}

TEST(MeasureRegistration, EveryClassMakesAFilterOfItsKey) {
  (void)g_headless;
  std::vector<FilterClassEntry> entries;
  RegisterMeasureFilters(&Collect, &entries);
  RegisterMeasureFilters(nullptr, &entries);  // no registry: nothing happens
  ASSERT_EQ(5u, entries.size());
  const uint32_t ids[] = {10012, 10013, 10020, 10033, 10021};
  for (size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(ids[i], entries[i].id);
    std::unique_ptr<CImgFilter> f(entries[i].make());
    ASSERT_NE(nullptr, f);
    EXPECT_EQ(std::wstring(entries[i].key), f->GetKey()) << entries[i].id;
  }
}

}  // namespace

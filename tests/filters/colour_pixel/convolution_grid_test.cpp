// convolution_grid_test.cpp - the kernel grid editor without a window: clicks inside and
// outside the active block, arrow wrapping, typed numbers with their fresh flag, shrinking
// and growing the block, and numbers that would leave 32 bits.
#include "filters/colour_pixel/convolution_grid.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

struct CountingClient : CFEditClient {
  void OnEdited() override { ++calls; }
  int calls = 0;
};

// The key flags the grid reads, without a screen.
class KeyedGrid : public CFEdit {
 public:
  uint16_t GetKeyFlags() override { return keys; }
  void Press(uint16_t k) {
    keys = k;
    OnKeyStateChanged();
    keys = 0;
  }
  uint16_t keys = 0;
};

void Type(CFEdit* e, const wchar_t* text) {
  for (const wchar_t* p = text; *p; ++p) e->OnChar(*p);
}

TEST(ConvolutionGrid, ClicksOnlyInsideTheActiveBlock) {
  CFEdit e;
  CountingClient client;
  e.m_client = &client;
  EXPECT_EQ(3, e.m_size);
  for (auto& row : e.m_values)
    for (int32_t v : row) EXPECT_EQ(0, v);
  e.OnLButtonDown(5, 5);  // cell (0, 0): outside a 3 x 3 block
  EXPECT_EQ(0, e.m_values[0][0]);
  EXPECT_EQ(0, client.calls);
  e.OnLButtonDown(3 * 30 + 1, 5 * 20 + 19);  // column 3, row 5
  e.OnLButtonDown(3 * 30 + 1, 5 * 20 + 19);
  e.OnRButtonDown(4 * 30, 4 * 20);
  EXPECT_EQ(2, e.m_values[5][3]);
  EXPECT_EQ(-1, e.m_values[4][4]);
  EXPECT_EQ(3, client.calls);
  EXPECT_EQ(4, e.m_selColumn);
  EXPECT_EQ(4, e.m_selRow);
  e.OnLButtonDown(9 * 30, 4 * 20);  // column 9: beyond the grid
  EXPECT_EQ(3, client.calls);
}

TEST(ConvolutionGrid, ArrowsWrapInsideTheBlock) {
  KeyedGrid e;
  CountingClient client;
  e.m_client = &client;
  e.m_size = 5;
  e.m_selRow = 6;
  e.Press(FgKeyDown);
  EXPECT_EQ(2, e.m_selRow);
  e.Press(FgKeyUp);
  EXPECT_EQ(6, e.m_selRow);
  e.Press(FgKeyUp | FgKeyDown);  // both held: no move
  EXPECT_EQ(6, e.m_selRow);
  e.m_selColumn = 2;
  e.Press(FgKeyLeft);
  EXPECT_EQ(6, e.m_selColumn);
  EXPECT_EQ(0, client.calls);  // selecting is not editing
  // Outside the block after a shrink: arrows and typing do nothing.
  e.m_size = 3;
  e.Press(FgKeyDown);
  EXPECT_EQ(6, e.m_selRow);
  Type(&e, L"5");
  EXPECT_EQ(0, e.m_values[6][6]);
  EXPECT_EQ(0, client.calls);
}

TEST(ConvolutionGrid, TypedNumbers) {
  struct Case {
    int32_t start;
    const wchar_t* typed;
    int32_t value;
    int32_t fresh;
  } cases[] = {
      {7, L"123", 123, 0},
      {7, L"123\b", 12, 0},
      {7, L"123\b\b", 1, 0},
      {7, L"123\b\b\b", 0, 1},
      {7, L"-12", -12, 0},
      {7, L"30\b", 3, 0},
      {7, L"-", 0, 0},
      {7, L"1-2", 12, 0},   // a minus inside a number changes nothing
      {7, L"12c", 0, 1},
      {7, L"x", 7, 1},      // other characters are ignored
      {7, L"2147483647", 2147483647, 0},
      {7, L"21474836479", 2147483647, 0},  // the digit that would overflow is not taken
      {7, L"-2147483648", -2147483647 - 1, 0},
      {7, L"-21474836489", -2147483647 - 1, 0},
  };
  for (const Case& c : cases) {
    CFEdit e;
    CountingClient client;
    e.m_client = &client;
    e.m_values[4][4] = c.start;
    Type(&e, c.typed);
    EXPECT_EQ(c.value, e.m_values[4][4]) << c.typed;
    EXPECT_EQ(c.fresh, e.m_fresh) << c.typed;
  }
  // A click ends the number: the next digit starts a new one.
  CFEdit e;
  Type(&e, L"12");
  e.OnLButtonDown(4 * 30, 4 * 20);
  EXPECT_EQ(13, e.m_values[4][4]);
  Type(&e, L"5");
  EXPECT_EQ(5, e.m_values[4][4]);
}

TEST(ConvolutionGrid, ShrinkKeepsTheOuterCells) {
  CFEdit e;
  e.m_size = 9;
  for (int32_t r = 0; r < 9; ++r)
    for (int32_t c = 0; c < 9; ++c) e.m_values[r][c] = r * 9 + c;
  e.m_size = 3;
  std::vector<int32_t> k(9);
  ASSERT_EQ(1, e.GetKernel(k.data()));
  EXPECT_EQ((std::vector<int32_t>{30, 31, 32, 39, 40, 41, 48, 49, 50}), k);
  EXPECT_EQ(0, e.m_values[0][0]);
  EXPECT_EQ(80, e.m_values[8][8]);
  e.m_size = 9;
  std::vector<int32_t> all(81);
  ASSERT_EQ(1, e.GetKernel(all.data()));
  for (int32_t i = 0; i < 81; ++i) EXPECT_EQ(i, all[i]);
  EXPECT_EQ(0, e.GetKernel(nullptr));
}

}  // namespace

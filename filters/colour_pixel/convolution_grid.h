// convolution_grid.h - CFEdit, the 9 x 9 grid of signed kernel coefficients of the
// convolution filter's window: clicks add and subtract 1, arrows move the selection inside
// the centred active block, typing enters a number.
//
//   CFEditClient  told after every edit (the convolution filter)
//   CFEdit        the grid widget
#pragma once
#include <cstdint>

#include "toolkit/uiobj.h"

class CFEditClient {
 public:
  virtual ~CFEditClient() = default;
  virtual void OnEdited() {}
};

class CFEdit : public CFgUIObj {
 public:
  CFEdit();

  void OnLButtonDown(int32_t x, int32_t y) override;
  void OnRButtonDown(int32_t x, int32_t y) override;
  void OnKeyStateChanged() override;
  void OnChar(wchar_t ch) override;
  void Draw(CFgScreen* screen, CFgFont* font) override;

  // The active block row-major into dst (size x size values); 0 for a null dst.
  int32_t GetKernel(int32_t* dst) const;
  void Paint(CFgScreen* screen, CFgFont* font, int32_t x, int32_t y);
  // 1 when (column, row) lies in the active block.
  int32_t IsActive(int32_t column, int32_t row) const;

  int32_t m_values[9][9] = {};
  int32_t m_size = 3;
  int32_t m_cellWidth = 30;
  int32_t m_cellHeight = 20;
  int32_t m_selColumn = 4, m_selRow = 4;
  int32_t m_fresh = 1;
  int32_t m_sign = 1;
  CFEditClient* m_client = nullptr;

 private:
  void Click(int32_t x, int32_t y, int32_t delta);
  void Edited();
};

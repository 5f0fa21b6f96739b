// downconv.h - the down-conversion filter: halves the chain's depth (32 to 16, 16 to 8 bits
// per sample), the counterpart of up convert.
//
//   CLfDownConv  windowless; works only through ProcessChain
#pragma once
#include <cstdint>

#include "app/filter.h"

class CLfDownConv : public CImgFilter {
 public:
  static constexpr uint32_t kFilterId = 10024;
  const wchar_t* GetName(const wchar_t* language) override;
  void ProcessChain(CImgBuff* picture, uint64_t scene, int64_t* x, int64_t* y, int64_t* width,
                    int64_t* height, uint32_t* connectivity, uint32_t* background,
                    uint32_t* component, uint32_t* depth) override;
};

// pixel.h - the windowless pixel filters: no settings window, no keys of their own.
//
//   CLfReversal           inverts the chain rectangle
//   CLfFlattingHistogram  equalises the histogram of the chain rectangle
//   CLfGroup              a group tag: the chain runner switches the filters after it
//   CLfUpConv             raises the chain's depth (8 to 16, 16 to 32 bits per sample)
#pragma once
#include <cstdint>

#include "app/filter.h"

class CLfReversal : public CImgFilter {
 public:
  static constexpr uint32_t kFilterId = 10003;
  const wchar_t* GetName(const wchar_t* language) override;
  void Process(CImgBuff* picture, uint64_t scene, int64_t x, int64_t y, int64_t width,
               int64_t height, uint32_t connectivity, uint32_t background) override;
};

class CLfFlattingHistogram : public CImgFilter {
 public:
  static constexpr uint32_t kFilterId = 10017;
  const wchar_t* GetName(const wchar_t* language) override;
  void Process(CImgBuff* picture, uint64_t scene, int64_t x, int64_t y, int64_t width,
               int64_t height, uint32_t connectivity, uint32_t background) override;
};

class CLfGroup : public CImgFilter {
 public:
  static constexpr uint32_t kFilterId = 10022;
  CLfGroup() { m_type = 1; }  // the chain runner reads the type word; it never runs the tag
  const wchar_t* GetName(const wchar_t* language) override;
};

class CLfUpConv : public CImgFilter {
 public:
  static constexpr uint32_t kFilterId = 10023;
  const wchar_t* GetName(const wchar_t* language) override;
  void ProcessChain(CImgBuff* picture, uint64_t scene, int64_t* x, int64_t* y, int64_t* width,
                    int64_t* height, uint32_t* connectivity, uint32_t* background,
                    uint32_t* component, uint32_t* depth) override;
};

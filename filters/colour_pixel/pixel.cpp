// pixel.cpp - reversal, histogram equalisation, group tag and up convert: one engine call
// each, or only a chain value.
#include "filters/colour_pixel/pixel.h"

#include "core/imgbuff.h"
#include "engine/equalize.h"
#include "engine/invert.h"
#include "engine/upconvert.h"
#include "filters/common/scaffold.h"

const wchar_t* CLfReversal::GetName(const wchar_t* language) {
  return IsJapanese(language) ? L"\x53CD\x8EE2" : L"Reversal";  // "反転"
}

void CLfReversal::Process(CImgBuff* picture, uint64_t, int64_t x, int64_t y, int64_t width,
                          int64_t height, uint32_t, uint32_t) {
  RoiRect roi = ChainRectToRoi(x, y, width, height);
  Invert(picture, &roi);  // a refused rectangle or picture passes the frame unchanged
}

const wchar_t* CLfFlattingHistogram::GetName(const wchar_t* language) {
  // "ヒストグラム平坦化"
  return IsJapanese(language) ? L"\x30D2\x30B9\x30C8\x30B0\x30E9\x30E0\x5E73\x5766\x5316"
                              : L"Equalize histogram";
}

void CLfFlattingHistogram::Process(CImgBuff* picture, uint64_t, int64_t x, int64_t y,
                                   int64_t width, int64_t height, uint32_t, uint32_t) {
  RoiRect roi = ChainRectToRoi(x, y, width, height);
  EqualizeHistogram(picture, &roi);
}

const wchar_t* CLfGroup::GetName(const wchar_t* language) {
  return IsJapanese(language) ? L"\x30B0\x30EB\x30FC\x30D7\x30BF\x30B0" : L"Group tag";
}

const wchar_t* CLfUpConv::GetName(const wchar_t* language) {
  // "アップコンバート"
  return IsJapanese(language) ? L"\x30A2\x30C3\x30D7\x30B3\x30F3\x30D0\x30FC\x30C8"
                              : L"Up convert";
}

// Depth on entry and picture format:
//   1, format 1 or 4      UpConvert to 16 bits                                depth 2
//   1, other gray         to 1, UpConvert to 16 bits, back to the entry format depth 2
//   1, other colour       to 4, UpConvert to 16 bits, back                     depth 2
//   2, format 2 or 5      UpConvert to 32 bits                                depth 4
//   2, other gray         to 2, UpConvert to 32 bits, back                     depth 4
//   2, other colour       to 5, UpConvert to 32 bits, back                     depth 4
//   anything else         nothing
// Gray is any format outside 4 to 9.  The depth rises whatever the calls return; the chain
// runner converts a picture left in another format after the last filter.
void CLfUpConv::ProcessChain(CImgBuff* picture, uint64_t, int64_t*, int64_t*, int64_t*,
                             int64_t*, uint32_t*, uint32_t*, uint32_t*, uint32_t* depth) {
  if (!depth || (*depth != 1 && *depth != 2)) return;
  const uint32_t bits = *depth == 1 ? 16 : 32;
  const int32_t entry = picture ? picture->Format() : 0;
  const int32_t colour = entry >= 4 && entry <= 9;
  const int32_t direct = *depth == 1 ? (colour ? ImgFormatRgb24 : ImgFormatGray8)
                                     : (colour ? ImgFormatRgb48 : ImgFormatGray16);
  if (picture) {
    if (entry == direct) {
      UpConvert(picture, bits);
    } else {
      picture->record->ConvertTo(direct);
      UpConvert(picture, bits);
      picture->record->ConvertTo(entry);
    }
  }
  *depth = *depth == 1 ? 2 : 4;
}

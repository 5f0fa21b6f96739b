// downconv.cpp - the down-conversion filter: one format conversion per step of depth.
#include "filters/colour_pixel/downconv.h"

#include "core/imgbuff.h"
#include "filters/common/scaffold.h"

const wchar_t* CLfDownConv::GetName(const wchar_t* language) {
  // "ダウンコンバート"
  return IsJapanese(language) ? L"\x30C0\x30A6\x30F3\x30B3\x30F3\x30D0\x30FC\x30C8"
                              : L"Down convert";
}

// Depth 4 goes to 16-bit R,G,B (any colour format) or 16-bit gray; depth 2 to 8-bit R,G,B or
// 8-bit gray.  The conversion keeps each sample's high part; H,S,V and C,M,Y,K leave as
// R,G,B.  An XYZ picture stays as it is.  The depth falls whatever the conversion returns:
// the chain runner converts a picture left in another format after the last filter.
void CLfDownConv::ProcessChain(CImgBuff* picture, uint64_t, int64_t*, int64_t*, int64_t*,
                               int64_t*, uint32_t*, uint32_t*, uint32_t*, uint32_t* depth) {
  if (!depth || (*depth != 4 && *depth != 2)) return;
  if (picture && picture->record) {
    const int32_t format = picture->Format();
    const bool colour = format >= 4 && format <= 9;
    if (format != ImgFormatXyz) {
      const int32_t target = *depth == 4 ? (colour ? ImgFormatRgb48 : ImgFormatGray16)
                                         : (colour ? ImgFormatRgb24 : ImgFormatGray8);
      picture->record->ConvertTo(target);
    }
  }
  *depth = *depth == 4 ? 2 : 1;
}

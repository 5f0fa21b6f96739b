// registry.cpp - the FilterId table, the classes registered for it, the key registry and
// creation by id or key.
// Inside: the table - registered classes - creation - the key registry
#include "app/registry.h"

#include <cstdlib>
#include <cwchar>

#include "app/filter.h"

// ---------------------------------------------------------------------------------------
// The table

const FilterTableEntry kFilterTable[kFilterCount] = {
    {10000, "CLfRect", L"process_rect", L"\x51E6\x7406\x9818\x57DF", L"Process rect", FilterMenuProcessing, 0},  // "処理領域"
    {10001, "CLfConvert", L"component_extraction", L"\x6210\x5206\x62BD\x51FA", L"Component extraction", FilterMenuColor, 1},  // "成分抽出"
    {10002, "CLfExtract", L"extraction", L"\x62BD\x51FA", L"Extraction", FilterMenuBinary, 1},  // "抽出"
    {10003, "CLfReversal", L"reversal", L"\x53CD\x8EE2", L"Reversal", FilterMenuPixel, 0},  // "反転"
    {10004, "CLfNoiseRemover", L"noise_remover", L"\x30CE\x30A4\x30BA\x9664\x53BB", L"Noise remover", FilterMenuBinary, 1},  // "ノイズ除去"
    {10005, "CLfWindowCut", L"window_cut", L"\x30A6\x30A3\x30F3\x30C9\x30A6\x30AB\x30C3\x30C8", L"Window cut", FilterMenuBinary, 1},  // "ウィンドウカット"
    {10006, "CLfHistogram", L"histogram", L"\x30D2\x30B9\x30C8\x30B0\x30E9\x30E0", L"Histogram", FilterMenuPixel, 1},  // "ヒストグラム"
    {10007, "CLfGamma", L"gamma", L"\x30AC\x30F3\x30DE\x5909\x63DB", L"Gamma", FilterMenuPixel, 1},  // "ガンマ変換"
    {10008, "CLfAtrans", L"zoom", L"\x90E8\x5206\x62E1\x5927", L"Zoom", FilterMenuDeformation, 1},  // "部分拡大"
    {10009, "CLfPtrans", L"projective_transformation", L"\x5C04\x5F71\x5909\x63DB", L"Projective transformation", FilterMenuDeformation, 1},  // "射影変換"
    {10010, "CLfFilter", L"filter", L"\x30D5\x30A3\x30EB\x30BF\x30FC", L"Filter", FilterMenuPixel, 1},  // "フィルター"
    {10011, "CLfBinary", L"binary_image_process", L"2\x5024\x753B\x50CF\x51E6\x7406", L"Binary image process", FilterMenuBinary, 1},  // "2値画像処理"
    {10012, "CLfAmeasure", L"auto_measurement", L"\x81EA\x52D5\x8A08\x6E2C", L"Auto measurement", FilterMenuMeasure, 1},  // "自動計測"
    {10013, "CLfMmeasure", L"manual_measurement", L"\x30DE\x30CB\x30E5\x30A2\x30EB\x8A08\x6E2C", L"Manual measurement", FilterMenuMeasure, 1},  // "マニュアル計測"
    {10014, "CLfMask", L"mask", L"\x80CC\x666F\x9664\x53BB/\x30DE\x30B9\x30AF", L"Mask", FilterMenuNone, 1},  // "背景除去/マスク"
    {10015, "CLfBgErase", L"background_removal", L"\x80CC\x666F\x9664\x53BB/\x30DE\x30B9\x30AF", L"Background removal", FilterMenuPixel, 1},  // "背景除去/マスク"
    {10016, "CLfBgCreate", L"generate_bg_image", L"\x80CC\x666F\x753B\x50CF\x306E\x4F5C\x6210", L"Generate BG image", FilterMenuTool, 1},  // "背景画像の作成"
    {10017, "CLfFlattingHistogram", L"equalize_histogram", L"\x30D2\x30B9\x30C8\x30B0\x30E9\x30E0\x5E73\x5766\x5316", L"Equalize histogram", FilterMenuPixel, 0},  // "ヒストグラム平坦化"
    {10018, "CLfSelect", L"select_components", L"\x6210\x5206\x9078\x629E", L"Select components", FilterMenuColor, 1},  // "成分選択"
    {10019, "CLfBayer", L"bayer_convert", L"\x30D9\x30A4\x30E4\x30FC\x5909\x63DB", L"Bayer convert", FilterMenuPixel, 1},  // "ベイヤー変換"
    {10020, "CLfPtv", L"particle_tracking_/_ptv", L"\x7C92\x5B50\x8FFD\x8DE1/PTV", L"Particle tracking / PTV", FilterMenuTool, 1},  // "粒子追跡/PTV"
    {10021, "CLfTrack2d", L"2d_tracking", L"2D\x8FFD\x8DE1", L"2D tracking", FilterMenuTool, 1},  // "2D追跡"
    {10022, "CLfGroup", L"group_tag", L"\x30B0\x30EB\x30FC\x30D7\x30BF\x30B0", L"Group tag", FilterMenuProcessing, 0},  // "グループタグ"
    {10023, "CLfUpConv", L"up_convert", L"\x30A2\x30C3\x30D7\x30B3\x30F3\x30D0\x30FC\x30C8", L"Up convert", FilterMenuProcessing, 0},  // "アップコンバート"
    {10024, "CLfDownConv", L"down_convert", L"\x30C0\x30A6\x30F3\x30B3\x30F3\x30D0\x30FC\x30C8", L"Down convert", FilterMenuProcessing, 0},  // "ダウンコンバート"
    {10025, "CLfWhiteBalance", L"white_balance", L"\x30DB\x30EF\x30A4\x30C8\x30D0\x30E9\x30F3\x30B9", L"White balance", FilterMenuColor, 1},  // "ホワイトバランス"
    {10026, "CLfColorCorrection", L"color_correction", L"\x8272\x88DC\x6B63", L"Color correction", FilterMenuColor, 1},  // "色補正"
    {10027, "CLfClear", L"pixel_value_adjustment", L"\x753B\x7D20\x5024\x8ABF\x6574", L"Pixel value adjustment", FilterMenuPixel, 1},  // "画素値調整"
    {10028, "CLfLut", L"pseudo-color", L"\x7591\x4F3C\x30AB\x30E9\x30FC", L"Pseudo-color", FilterMenuPixel, 1},  // "疑似カラー"
    {10029, "CLfWave", L"color_filter", L"\x30AB\x30E9\x30FC\x30D5\x30A3\x30EB\x30BF\x30FC", L"Color filter", FilterMenuPixel, 1},  // "カラーフィルター"
    {10030, "CLfColorMap", L"color_map", L"\x8272\x5206\x5E03\x56F3", L"Color map", FilterMenuColor, 1},  // "色分布図"
    {10031, "CLfStrobePhoto", L"strobe_photo", L"\x30B9\x30C8\x30ED\x30DC\x5199\x771F\x306E\x5408\x6210", L"Strobe photo", FilterMenuTool, 1},  // "ストロボ写真の合成"
    {10032, "CLfAntiShake", L"anti_shake_/_composit", L"\x30D6\x30EC\x88DC\x6B63 / \x52A0\x7B97\x5E73\x5747", L"Anti shake / Composit", FilterMenuTool, 1},  // "ブレ補正 / 加算平均"
    {10033, "CLfPiv", L"piv", L"PIV", L"PIV", FilterMenuTool, 1},  // "PIV"
    {10034, "CLfConfig", L"change_conditions", L"\x6761\x4EF6\x5909\x66F4", L"Change conditions", FilterMenuBinary, 1},  // "条件変更"
    {10035, "CLfSeparation", L"separation", L"\x7269\x4F53\x306E\x5206\x96E2", L"Separation", FilterMenuBinary, 1},  // "物体の分離"
    {10036, "CLfFFT", L"fft", L"FFT", L"FFT", FilterMenuFourier, 0},  // "FFT"
    {10037, "CLfIFFT", L"ifft", L"IFFT", L"IFFT", FilterMenuFourier, 0},  // "IFFT"
    {10038, "CLfFreqMask", L"frequency_mask", L"\x5468\x6CE2\x6570\x30DE\x30B9\x30AF", L"Frequency mask", FilterMenuFourier, 1},  // "周波数マスク"
    {10039, "CLfIFFTEX", L"ifft_ex", L"IFFT EX", L"IFFT EX", FilterMenuFourier, 0},  // "IFFT EX"
    {10040, "CLfFlip", L"flip", L"\x53CD\x8EE2", L"Flip", FilterMenuDeformation, 1},  // "反転"
};

const FilterTableEntry* FindFilterEntry(uint32_t id) {
  if (id < kFilterIdFirst || id > kFilterIdLast) return nullptr;
  return &kFilterTable[id - kFilterIdFirst];
}

// ---------------------------------------------------------------------------------------
// Registered classes

namespace {

FilterMakerFn g_makers[kFilterCount] = {};
FilterRegistryRecord* g_records = nullptr;
uint64_t g_recordCount = 0;

int32_t CopyName(const wchar_t* name, wchar_t* out, uint64_t units) {
  if (!out || units == 0) return 0;
  out[0] = 0;
  if (!name) return 0;
  const size_t n = wcslen(name);
  if (n >= units) return 0;
  wmemcpy(out, name, n + 1);
  return 1;
}

}  // namespace

void RegisterFilterClass(const FilterClassEntry& entry, void*) {
  if (!entry.make || !FindFilterEntry(entry.id)) return;
  g_makers[entry.id - kFilterIdFirst] = entry.make;
}

FilterMakerFn RegisteredFilterMaker(uint32_t id) {
  return FindFilterEntry(id) ? g_makers[id - kFilterIdFirst] : nullptr;
}

void ClearFilterClassesForTesting() {
  for (FilterMakerFn& make : g_makers) make = nullptr;
}

// ---------------------------------------------------------------------------------------
// Creation

CImgFilter* CreateFilterById(uint32_t id) {
  FilterMakerFn make = RegisteredFilterMaker(id);
  if (!make) return nullptr;
  CImgFilter* filter = make();
  // The chain runner tells a group tag by its type word alone: a maker that forgot it
  // would make a tag that runs as a filter.
  if (filter && id == kFilterIdGroupTag) filter->m_type = 1;
  return filter;
}

int32_t GetFilterDisplayName(uint32_t id, const wchar_t* language, wchar_t* out,
                             uint64_t units) {
  if (out && units) out[0] = 0;
  const FilterTableEntry* entry = FindFilterEntry(id);
  if (!entry) return 0;
  if (CImgFilter* filter = CreateFilterById(id)) {
    const int32_t ok = CopyName(filter->GetName(language), out, units);
    delete filter;
    return ok;
  }
  return CopyName(IsJapanese(language) ? entry->nameJa : entry->nameEn, out, units);
}

// ---------------------------------------------------------------------------------------
// The key registry

int32_t BuildFilterRegistry() {
  FreeFilterRegistry();
  FilterRegistryRecord* records =
      static_cast<FilterRegistryRecord*>(calloc(kFilterCount, sizeof(FilterRegistryRecord)));
  if (!records) return 0;
  for (uint32_t i = 0; i < kFilterCount; ++i) {
    const FilterTableEntry& entry = kFilterTable[i];
    records[i].id = entry.id;
    const wchar_t* key = entry.key;
    CImgFilter* filter = nullptr;
    if (g_makers[i]) {
      filter = g_makers[i]();
      if (!filter) {
        free(records);
        return 0;
      }
      key = filter->GetKey();
    }
    // GetKey gives at most 32 characters; anything longer is cut, never overrun.
    wcsncpy(records[i].key, key ? key : L"", kFilterRegistryKeyUnits - 1);
    records[i].key[kFilterRegistryKeyUnits - 1] = 0;
    delete filter;
  }
  g_records = records;
  g_recordCount = kFilterCount;
  return 1;
}

void FreeFilterRegistry() {
  free(g_records);
  g_records = nullptr;
  g_recordCount = 0;
}

uint64_t FilterRegistryCount() { return g_recordCount; }
const FilterRegistryRecord* FilterRegistryRecords() { return g_records; }

CImgFilter* CreateFilterByKey(const wchar_t* key) {
  if (!key) return nullptr;
  for (uint64_t i = 0; i < g_recordCount; ++i)
    if (wcscmp(g_records[i].key, key) == 0) return CreateFilterById(g_records[i].id);
  return nullptr;
}

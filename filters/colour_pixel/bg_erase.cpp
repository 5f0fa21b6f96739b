// bg_erase.cpp - CLfBgErase: loading the background, the preview, subtraction and object
// extraction, the window's controls and the settings pack.
// Inside: window - rules and callbacks - loading - processing - settings
//
// The background is decoded into a picture of its own outside the filter's lock and swapped
// in under it, so a slow or failed decode never holds up Process (which takes the draw lock
// and then the filter's lock for its whole run) and a failure keeps the old background.
#include "filters/colour_pixel/bg_erase.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <utility>

#include "app/cfgfile.h"
#include "core/imgbuff.h"
#include "engine/subtract.h"
#include "media/imgio/imgio.h"
#include "toolkit/filesel.h"
#include "toolkit/msgbox.h"
#include "toolkit/screen.h"

FilterWindowPlace CLfBgErase::s_classPlace;

namespace {

constexpr int32_t kTileSizes[7] = {1, 2, 4, 8, 16, 32, 64};

}  // namespace

// ---------------------------------------------------------------------------------------
// Window
CLfBgErase::CLfBgErase() : CFilterWindow(&s_classPlace) {
  // "画像パス", "選択", "背景減算", "物体抽出", "抽出レベル", "タイルサイズ", "画像確認",
  // "範囲外をマスク"
  m_layoutItems[0] = {&m_pathLabel, L"image path", L"\x753B\x50CF\x30D1\x30B9", 8, 8, 8, 8, 68, 20};
  m_layoutItems[1] = {&m_pathEdit, nullptr, nullptr, 8, 28, 8, 28, 280, 20};
  m_layoutItems[2] = {&m_selectButton, L"SEL", L"\x9078\x629E", 296, 28, 248, 28, 48, 20};
  m_layoutItems[3] = {&m_subtractRadio, L"background subtraction", L"\x80CC\x666F\x6E1B\x7B97",
                      8, 52, 8, 52, 180, 20};
  m_layoutItems[4] = {&m_extractRadio, L"object extraction", L"\x7269\x4F53\x62BD\x51FA", 8, 72,
                      8, 72, 180, 20};
  m_layoutItems[5] = {&m_levelLabel, L"extraction level", L"\x62BD\x51FA\x30EC\x30D9\x30EB", 8,
                      92, 8, 92, 112, 20};
  m_layoutItems[6] = {&m_levelBar, nullptr, nullptr, 128, 92, 104, 92, 216, 20};
  m_layoutItems[7] = {&m_tileLabel, L"tile size", L"\x30BF\x30A4\x30EB\x30B5\x30A4\x30BA", 8,
                      116, 8, 116, 80, 20};
  m_layoutItems[8] = {&m_tileBar, nullptr, nullptr, 128, 116, 104, 116, 216, 20};
  m_layoutItems[9] = {&m_previewCheck, L"preview", L"\x753B\x50CF\x78BA\x8A8D", 196, 52, 112,
                      52, 180, 20};
  m_layoutItems[10] = {&m_maskCheck, L"mask out of range",
                       L"\x7BC4\x56F2\x5916\x3092\x30DE\x30B9\x30AF", 196, 72, 112, 72, 180, 20};
  for (const FilterLayoutItem& item : m_layoutItems) AddChild(item.control);
  CFgUIChkButton::AddToGroup(&m_subtractRadio, &m_extractRadio);
  CFgUIChkButton::SetGroupSelection(&m_subtractRadio, 0, 0);
  m_levelBar.m_kind = FgBarHorizontal;
  m_levelBar.SetRange(2, 20, 1, 2);
  m_tileBar.m_kind = FgBarHorizontal;
  m_tileBar.SetRange(0, 6, 1, 0);
  for (CFgUIChkButton* radio : {&m_subtractRadio, &m_extractRadio}) {
    radio->m_callback = &CLfBgErase::OnRadio;
    radio->m_user = this;
  }
  for (CFgUIChkButton* box : {&m_previewCheck, &m_maskCheck}) {
    box->m_callback = &CLfBgErase::OnCheck;
    box->m_user = this;
  }
  for (CFgUIScrollBar* bar : {&m_levelBar, &m_tileBar}) {
    bar->m_callback = &CLfBgErase::OnBar;
    bar->m_user = this;
  }
  m_selectButton.m_callback = &CLfBgErase::OnSelect;
  m_selectButton.m_user = this;
  m_pathEdit.OnFocusLost = &CLfBgErase::OnPathLeft;
  m_pathEdit.CallbackArg = this;
  m_layout = {m_layoutItems, 11, 352, 144, 304, 144, nullptr, 0};
  ApplyFilterLayout(m_layout, m_language, nullptr, nullptr);
  ApplyEnableRules();
}

CLfBgErase::~CLfBgErase() = default;

const wchar_t* CLfBgErase::GetName(const wchar_t* language) {
  // "背景除去/マスク"
  return IsJapanese(language) ? L"\x80CC\x666F\x9664\x53BB/\x30DE\x30B9\x30AF"
                              : L"Background removal";
}

int32_t CLfBgErase::TileSize() const {
  int32_t i = std::clamp(m_tileBar.m_position, 0, 6);
  return kTileSizes[i];
}

void CLfBgErase::BackgroundSize(int32_t* width, int32_t* height) {
  PlatformLockHold own(m_lock);
  if (width) *width = m_background.Width();
  if (height) *height = m_background.Height();
}

// ---------------------------------------------------------------------------------------
// Rules and callbacks
void CLfBgErase::ApplyEnableRules() {
  const int32_t on = CFgUIChkButton::GetGroupSelection(&m_subtractRadio) != 0;
  SetControlEnabled(&m_levelLabel, on);
  SetControlEnabled(&m_levelBar, on);
  SetControlEnabled(&m_tileLabel, on);
  SetControlEnabled(&m_tileBar, on);
}

void CLfBgErase::OnRadio(CFgUIChkButton*, void* user) {
  auto* self = static_cast<CLfBgErase*>(user);
  self->ApplyEnableRules();
  if (self->m_window) self->CFgUICtrl::Redraw();
  RequestIfEnabled(self, 0);
}

void CLfBgErase::OnCheck(CFgUIChkButton*, void* user) {
  RequestIfEnabled(static_cast<CLfBgErase*>(user), 0);
}

void CLfBgErase::OnBar(CFgUIScrollBar*, void* user, int32_t) {
  auto* self = static_cast<CLfBgErase*>(user);
  if (self->EraseType() == 1) RequestIfEnabled(self, 1);
}

void CLfBgErase::OnPathLeft(CFgUIEdit* edit, void* user) {
  auto* self = static_cast<CLfBgErase*>(user);
  self->LoadBackground(edit->GetText());
  RequestIfEnabled(self, 0);
}

void CLfBgErase::OnSelect(CFgUIButton*, void* user) {
  static_cast<CLfBgErase*>(user)->SelectBackgroundImage();
}

void CLfBgErase::SelectBackgroundImage() {
  const int32_t jp = IsJapanese(m_language);
  wchar_t path[1024] = {0};
  FileSelectOptions options;
  options.title = jp ? L"\x30D5\x30A1\x30A4\x30EB\x3092\x9078\x629E" : L"select file";  // "ファイルを選択"
  options.extensions = ImageOpenExtensions();
  if (FgSelectFile(path, 1023, &options, this) != 1 || !path[0]) return;
  m_pathEdit.SetLine(0, path);
  if (m_window) CFgUICtrl::Redraw();
  LoadBackground(path);
  RequestIfEnabled(this, 0);
}

// ---------------------------------------------------------------------------------------
// Loading
int32_t CLfBgErase::LoadBackground(const wchar_t* path) {
  if (!path || !path[0]) return 0;
  CImgBuff loaded;
  int32_t ok = LoadImageFile(&loaded, path, nullptr, nullptr) == 1 && loaded.Format() != 0;
  if (ok) {
    PlatformLockHold own(m_lock);
    C_ImgBuff* a = m_background.record;
    C_ImgBuff* b = loaded.record;
    std::swap(a->format, b->format);
    std::swap(a->width, b->width);
    std::swap(a->height, b->height);
    std::swap(a->pixels, b->pixels);
  }
  if (!ok) {
    const int32_t jp = IsJapanese(m_language);
    // "ロードできませんでした", "エラー"
    FgMessageBox(jp ? L"\x30ED\x30FC\x30C9\x3067\x304D\x307E\x305B\x3093\x3067\x3057\x305F"
                    : L"loading failed",
                 jp ? L"\x30A8\x30E9\x30FC" : L"error", 1, m_window ? this : nullptr);
  }
  return ok;
}

// ---------------------------------------------------------------------------------------
// Processing
void CLfBgErase::Process(CImgBuff* picture, uint64_t, int64_t x, int64_t y, int64_t width,
                         int64_t height, uint32_t, uint32_t background) {
  if (!picture || picture->Format() == ImgFormatNone) return;
  const int32_t preview = m_previewCheck.m_checked != 0;
  const int32_t mask = m_maskCheck.m_checked != 0;
  const int32_t type = EraseType();
  const double level = double(m_levelBar.m_position);
  const int32_t tile = TileSize();
  RoiRect roi = ChainRectToRoi(x, y, width, height);
  PlatformLockHold draw(FgDrawLock());
  PlatformLockHold own(m_lock);
  if (preview) {
    // Only the part of the rectangle on the frame: a huge rectangle costs nothing extra.
    if (NormalizeRoi(&roi, picture) != 1) return;
    C_ImgBuff* frame = picture->record;
    const C_ImgBuff* bg = m_background.record;
    const uint16_t fill = mask ? 65535 : 0;
    for (int32_t py = roi.y0; py <= roi.y1; ++py)
      for (int32_t px = roi.x0; px <= roi.x1; ++px) {
        uint16_t r = fill, g = fill, b = fill;
        if (bg->format && px < bg->width && py < bg->height) bg->GetRGB16(px, py, &r, &g, &b);
        frame->SetRGB16(px, py, r, g, b);
      }
    return;
  }
  if (type == 0) SubtractBackground(picture, &m_background, mask, &roi);
  else ExtractObjects(picture, &m_background, int32_t(background), level, tile, &roi);
}

// ---------------------------------------------------------------------------------------
// Settings
void CLfBgErase::SaveParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::SaveParams(pack);
  wchar_t text[32];
  pack->AddItem(L"erase_type", EraseType() == 0 ? L"0" : L"1");
  swprintf(text, 32, L"%ld", long(m_levelBar.m_position));
  pack->AddItem(L"extract_level", text);
  swprintf(text, 32, L"%ld", long(m_tileBar.m_position));
  pack->AddItem(L"tile_size", text);
  pack->AddItem(L"default_mask", m_maskCheck.m_checked ? L"1" : L"0");
}

void CLfBgErase::LoadParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::LoadParams(pack);
  int64_t v = 0;
  if (PackReadSigned(pack, L"erase_type", INT32_MIN, INT32_MAX, &v, nullptr) == 1 &&
      (v == 0 || v == 1))
    CFgUIChkButton::SetGroupSelection(&m_subtractRadio, int32_t(v), 0);
  struct Bar {
    const wchar_t* key;
    CFgUIScrollBar* bar;
    int64_t lo, hi;
  } bars[] = {{L"extract_level", &m_levelBar, 2, 20}, {L"tile_size", &m_tileBar, 0, 6}};
  for (const Bar& b : bars) {
    if (PackReadSigned(pack, b.key, INT32_MIN, INT32_MAX, &v, nullptr) != 1) continue;
    if (v < b.lo || v > b.hi || !b.bar->IsValidPosition(v)) continue;
    b.bar->MoveTo(int32_t(v));
  }
  if (const CCfgItem* item = pack->FindItem(L"default_mask")) {
    if (!std::wcscmp(item->value, L"1")) m_maskCheck.m_checked = 1;
    else if (!std::wcscmp(item->value, L"0")) m_maskCheck.m_checked = 0;
  }
  ApplyEnableRules();
  if (m_window) CFgUICtrl::Redraw();
}

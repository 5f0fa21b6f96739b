// composite.cpp - the "Composite" window: loading channels, composing by the colour model,
// the preview, saving and opening the result.
// Inside: composing - window - channels - callbacks
#include "filters/colour_pixel/composite.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "app/filter.h"
#include "app/mainscreen.h"
#include "filters/common/scaffold.h"
#include "media/imgio/imgio.h"
#include "toolkit/filesel.h"
#include "toolkit/msgbox.h"
#include "toolkit/screen.h"

namespace {

constexpr double kMax = 4294967295.0;
constexpr uint64_t kMax64 = 4294967295ull;
constexpr double kPi = 3.14159265358979323846;

struct ClassPlace {
  int32_t kept = 0, x = 0, y = 0;
} g_classPlace;

int32_t ResultFormat(int32_t bytes) {
  switch (bytes) {
    case 1: case 3: return ImgFormatRgb24;
    case 2: case 6: return ImgFormatRgb48;
    case 4: case 12: return ImgFormatRgb96;
    case 24: return ImgFormatXyz;
    default: return ImgFormatNone;
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Composing
int32_t CompositeChannels(CImgBuff* const channels[4], int32_t mode, CImgBuff* result) {
  if (!result) return 0;
  result->Free();
  const int32_t used = mode == 3 ? 4 : 3;
  int32_t w = 0, h = 0, bytes = 0;
  for (int32_t i = 0; i < used; ++i) {
    const CImgBuff* c = channels[i];
    if (!c || c->Format() < 1 || c->Format() > 9) continue;
    w = std::max(w, c->Width());
    h = std::max(h, c->Height());
    bytes = std::max(bytes, ImgBytesPerPixel[c->Format()]);
  }
  if (!bytes) return 0;
  if (result->Allocate(w, h, ResultFormat(bytes)) != 1) return 0;
  C_ImgBuff* out = result->record;
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      uint32_t c[4] = {0, 0, 0, 0};
      for (int32_t i = 0; i < used; ++i) {
        const CImgBuff* ch = channels[i];
        if (ch && ch->Format() >= 1 && ch->Format() <= 9 && x < ch->Width() && y < ch->Height())
          ch->record->GetGray32(x, y, &c[i]);
      }
      switch (mode) {
        case 1:
          out->SetHSV16(x, y, uint16_t(c[0] >> 16), uint16_t(c[1] >> 16), uint16_t(c[2] >> 16));
          break;
        case 2: out->SetRGB32(x, y, ~c[0], ~c[1], ~c[2]); break;
        case 3: {
          uint32_t v[3];
          for (int k = 0; k < 3; ++k) {
            uint64_t sum = uint64_t(c[k]) + c[3];
            v[k] = sum <= kMax64 ? uint32_t(kMax64 - sum) : 0;
          }
          out->SetRGB32(x, y, v[0], v[1], v[2]);
          break;
        }
        case 4: out->SetXYZ(x, y, 1.1 * c[0] / kMax, 1.1 * c[1] / kMax, 1.1 * c[2] / kMax); break;
        case 5:
          out->SetLab(x, y, 100.0 * c[0] / kMax, 255.0 * c[1] / kMax - 128, 255.0 * c[2] / kMax - 128);
          break;
        case 6: out->SetLCh(x, y, 100.0 * c[0] / kMax, 135.0 * c[1] / kMax, 2 * kPi * c[2] / kMax); break;
        default: out->SetRGB32(x, y, c[0], c[1], c[2]); break;
      }
    }
  return 1;
}

// ---------------------------------------------------------------------------------------
// Window
CCompositeDialog::CCompositeDialog() {
  AddChild(&m_preview);
  for (int i = 0; i < 7; ++i) {
    if (i) CFgUIChkButton::AddToGroup(&m_mode[0], &m_mode[i]);
    m_mode[i].m_callback = &CCompositeDialog::OnModeChanged;
    m_mode[i].m_user = this;
    AddChild(&m_mode[i]);
  }
  CFgUIChkButton::SetGroupSelection(&m_mode[0], 0, 0);
  for (int i = 0; i < 4; ++i) {
    m_path[i].OnFocusLost = &CCompositeDialog::OnPathEdited;
    m_path[i].CallbackArg = this;
    m_select[i].m_callback = &CCompositeDialog::OnSelect;
    m_select[i].m_user = this;
    m_delete[i].m_callback = &CCompositeDialog::OnDelete;
    m_delete[i].m_user = this;
    AddChild(&m_path[i]);
    AddChild(&m_select[i]);
    AddChild(&m_delete[i]);
  }
  m_open.m_callback = &CCompositeDialog::OnOpen;
  m_open.m_user = this;
  m_save.m_callback = &CCompositeDialog::OnSave;
  m_save.m_user = this;
  AddChild(&m_open);
  AddChild(&m_save);
  PlaceControls();
  UpdateControls();
}

CCompositeDialog::~CCompositeDialog() {
  PlatformLockHold draw(FgDrawLock());
  m_texture.ReleaseGL();
}

void CCompositeDialog::PlaceControls() {
  const bool en = m_english != 0;
  static const wchar_t* const kModes[7] = {L"RGB", L"HSV", L"CMY", L"CMYK", L"XYZ", L"L*a*b*", L"L*C*h"};
  m_preview.SetRect(8, 8, 292, 292);
  for (int i = 0; i < 7; ++i) {
    m_mode[i].SetText(kModes[i]);
    if (i < 4) m_mode[i].SetRect(8 + 80 * i, 308, 60, 20);
    else m_mode[i].SetRect(8 + 80 * (i - 4), 328, 80, 20);
  }
  for (int i = 0; i < 4; ++i) {
    int32_t y = 336 + 20 * (i + 1);
    m_path[i].SetRect(8, y, 212, 20);
    m_select[i].SetText(en ? L"SEL" : L"\x9078\x629E");   // "選択"
    m_select[i].SetRect(220, y, 40, 20);
    m_delete[i].SetText(en ? L"DEL" : L"\x524A\x9664");   // "削除"
    m_delete[i].SetRect(260, y, 40, 20);
  }
  m_open.SetText(en ? L"OPEN" : L"\x753B\x50CF\x3092\x958B\x304F");   // "画像を開く"
  m_open.SetRect(8, 444, 142, 28);
  m_save.SetText(en ? L"SAVE" : L"\x753B\x50CF\x3092\x4FDD\x5B58");   // "画像を保存"
  m_save.SetRect(158, 444, 142, 28);
}

void CCompositeDialog::SetLanguage(const wchar_t* language) {
  int32_t english = IsJapanese(language) ? 0 : 1;
  if (english == m_english) return;
  m_english = english;
  if (m_window) {
    CFgScreen* parent = m_parent;
    OnClose();
    Destroy();
    Show(parent);
  } else {
    PlaceControls();
  }
}

int32_t CCompositeDialog::Show(CFgScreen* parent) {
  if (!m_placeKept && g_classPlace.kept) {
    m_placeKept = 1;
    m_placeX = g_classPlace.x;
    m_placeY = g_classPlace.y;
  }
  int32_t x = -1, y = -1;
  if (m_placeKept && m_placeX >= 0) x = m_placeX, y = m_placeY;
  // "成分合成"
  int32_t ok = Create(x, y, 308, 480, m_english ? L"Composite" : L"\x6210\x5206\x5408\x6210", 0,
                      parent);
  if (ok) PlaceControls();
  UpdateControls();
  Redraw();
  return ok;
}

int32_t CCompositeDialog::OnClose() {
  if (m_window) {
    m_placeKept = 1;
    m_placeX = m_x;
    m_placeY = m_y;
    g_classPlace = {1, m_x, m_y};
  }
  return 1;
}

void CCompositeDialog::UpdateControls() {
  const int32_t cmyk = Mode() == 3;
  SetControlEnabled(&m_path[3], cmyk);
  SetControlEnabled(&m_select[3], cmyk);
  SetControlEnabled(&m_delete[3], cmyk);
  const int32_t has = m_result.Format() != ImgFormatNone;
  SetControlEnabled(&m_open, has);
  SetControlEnabled(&m_save, has);
}

void CCompositeDialog::Compose() {
  m_result.Free();
  UpdateControls();
  CImgBuff* channels[4] = {&m_channels[0], &m_channels[1], &m_channels[2], &m_channels[3]};
  const int32_t mode = Mode();
  bool any = false;
  for (int i = 0; i < (mode == 3 ? 4 : 3); ++i) any |= m_channels[i].Format() != ImgFormatNone;
  if (!any) {
    PlatformLockHold draw(FgDrawLock());
    m_texture.Clear();
    m_preview.SetImage(&m_texture);
    return;
  }
  if (CompositeChannels(channels, mode, &m_result) != 1) return;
  {
    PlatformLockHold draw(FgDrawLock());
    if (UploadImageToTexture(&m_texture, &m_result, 1) == 1) m_preview.SetImage(&m_texture);
  }
  UpdateControls();
  if (m_window) Redraw();
}

// ---------------------------------------------------------------------------------------
// Channels
int32_t CCompositeDialog::LoadChannel(int32_t channel, const wchar_t* path) {
  if (channel < 0 || channel > 3) return 0;
  if (!path || !path[0]) {
    m_channels[channel].Free();
    return 1;
  }
  CImgBuff loaded;
  // The failure is told over the main screen, which owns this window.
  CFgScreen* owner = m_mainScreen;
  if (LoadImageFile(&loaded, path, m_english ? L"en" : L"jp", owner) != 1 ||
      loaded.Format() == ImgFormatNone)
    return 0;
  m_channels[channel].CopyFrom(loaded);
  return m_channels[channel].Format() != ImgFormatNone;
}

// ---------------------------------------------------------------------------------------
// Callbacks
void CCompositeDialog::OnModeChanged(CFgUIChkButton*, void* user) {
  auto* self = static_cast<CCompositeDialog*>(user);
  self->UpdateControls();
  self->Compose();
}

void CCompositeDialog::OnPathEdited(CFgUIEdit* edit, void* user) {
  auto* self = static_cast<CCompositeDialog*>(user);
  int32_t i = int32_t(edit - self->m_path);
  if (i < 0 || i > 3) return;
  if (self->LoadChannel(i, edit->GetText()) != 1) self->m_channels[i].Free();
  self->Compose();
}

void CCompositeDialog::OnSelect(CFgUIButton* button, void* user) {
  auto* self = static_cast<CCompositeDialog*>(user);
  int32_t i = int32_t(button - self->m_select);
  if (i < 0 || i > 3) return;
  wchar_t path[1024] = {0};
  FileSelectOptions options;
  options.title = self->m_english ? L"select file" : L"\x30D5\x30A1\x30A4\x30EB\x3092\x9078\x629E";
  options.extensions = ImageOpenExtensions();
  if (FgSelectFile(path, 1023, &options, self) != 1 || !path[0]) return;
  if (self->LoadChannel(i, path) == 1) {
    self->m_path[i].SetLine(0, path);
    self->m_chosen[i] = -1;
  }
  self->Compose();
}

void CCompositeDialog::OnDelete(CFgUIButton* button, void* user) {
  auto* self = static_cast<CCompositeDialog*>(user);
  int32_t i = int32_t(button - self->m_delete);
  if (i < 0 || i > 3) return;
  if (self->m_chosen[i]) {
    self->m_path[i].Clear();
    self->m_channels[i].Free();
  }
  self->Compose();
}

void CCompositeDialog::OnOpen(CFgUIButton*, void* user) {
  auto* self = static_cast<CCompositeDialog*>(user);
  if (self->m_result.Format() != ImgFormatNone && self->m_mainScreen)
    self->m_mainScreen->ReplaceSource(&self->m_result);
}

void CCompositeDialog::OnSave(CFgUIButton*, void* user) {
  auto* self = static_cast<CCompositeDialog*>(user);
  const bool en = self->m_english != 0;
  if (self->m_result.Format() == ImgFormatNone) {
    // "画像がありません", "確認"
    FgMessageBox(en ? L"there is no image" : L"\x753B\x50CF\x304C\x3042\x308A\x307E\x305B\x3093",
                 en ? L"confirmation" : L"\x78BA\x8A8D", 1, self);
    return;
  }
  wchar_t path[1024] = {0};
  FileSelectOptions options;
  // "保存するファイル名を選択"
  options.title = en ? L"select file name to save"
                     : L"\x4FDD\x5B58\x3059\x308B\x30D5\x30A1\x30A4\x30EB\x540D\x3092\x9078\x629E";
  options.extensions = ImageOpenExtensions();
  if (FgSelectFile(path, 1023, &options, self) != 1 || !path[0]) return;
  const wchar_t* language = en ? L"en" : L"jp";
  if (ConfirmImageSave(&self->m_result, path, language, self) == 1)
    SaveImageFile(&self->m_result, path, language, self);
}

CCompositeUI* MakeCompositeUI() { return new (std::nothrow) CCompositeDialog; }

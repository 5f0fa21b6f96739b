// projective.cpp - CLfPtrans: its window of six number boxes, the camera model and the
// committed angles, the re-projection of each frame, and its settings.
// Inside: checks - window - boxes - buttons - processing - settings
//
// Controls and results:
//   a box's text changed      dirty ("set" enabled); window redrawn
//   a box left                accepted: a new value stored (dirty); refused: the stored
//                             value written back
//   "calc from CCD size"      pixel size = cos(atan2(H, W)) x inch x 25400 / W
//   "set"                     camera model for the source size; pan and tilt committed;
//                             frame processed (waits).  Stops at the first message.
// Pan and tilt typed later wait for "set"; zoom is read by every run.
#include "filters/binary_geometry_fourier/projective.h"

#include <cmath>
#include <cwchar>

#include "app/cfgfile.h"
#include "core/imgbuff.h"
#include "core/text.h"
#include "toolkit/msgbox.h"

FilterWindowPlace CLfPtrans::s_classPlace;

// ---------------------------------------------------------------------------------------
// Checks
namespace {

// An optional "-", then the unsigned decimal syntax (a "." right after the "-" refused).
int32_t CheckSignedDecimal(const wchar_t* text, double* value) {
  if (!text) return 0;
  const int32_t negative = text[0] == L'-';
  double v = 0;
  if (!CheckUnsignedDecimal(text + negative, &v)) return 0;
  *value = negative ? -v : v;
  return 1;
}

}  // namespace

int32_t CheckAngleText(const wchar_t* text, double* value) {
  double v = 0;
  if (!CheckSignedDecimal(text, &v) || !(v > -90.0 && v < 90.0)) return 0;
  if (value) *value = v;
  return 1;
}

int32_t CheckZoomText(const wchar_t* text, double* value) {
  double v = 0;
  if (!CheckSignedDecimal(text, &v) || !(v > 0)) return 0;
  if (value) *value = v;
  return 1;
}

// ---------------------------------------------------------------------------------------
// Window
CLfPtrans::CLfPtrans() : CFilterWindow(&s_classPlace) {
  struct LabelPlace {
    const wchar_t* en;
    const wchar_t* ja;
    int32_t x, y, w, h;
  };
  const LabelPlace labels[8] = {
      {L"focal length", L"\u7126\u70B9\u8DDD\u96E2", 10, 10, 85, 20},  // 焦点距離
      {L"mm", L"mm", 230, 10, 20, 20},
      // "撮像素子の画素サイズ"
      {L"pixel size", L"\u64AE\u50CF\u7D20\u5B50\u306E\u753B\u7D20\u30B5\u30A4\u30BA", 10, 40,
       70, 20},
      {L"um", L"um", 230, 40, 20, 20},
      {L"inch", L"inch", 230, 70, 30, 20},
      {L"pan", L"pan", 10, 110, 30, 20},
      {L"tilt", L"tilt", 100, 110, 30, 20},
      {L"zoom", L"zoom", 190, 110, 30, 20},
  };
  int n = 0;
  for (int i = 0; i < 8; ++i) {
    const LabelPlace& l = labels[i];
    m_layoutItems[n++] = {&m_labels[i], l.en, l.ja, l.x, l.y, l.x, l.y, l.w, l.h};
  }
  const int32_t editPlace[BoxCount][4] = {{180, 10, 50, 20},  {180, 40, 50, 20},
                                          {180, 70, 50, 20},  {40, 110, 40, 20},
                                          {130, 110, 40, 20}, {220, 110, 40, 20}};
  for (int i = 0; i < BoxCount; ++i) {
    const int32_t* p = editPlace[i];
    m_layoutItems[n++] = {&m_edits[i], nullptr, nullptr, p[0], p[1], p[0], p[1], p[2], p[3]};
  }
  // "撮像素子サイズから計算", "決定"
  m_layoutItems[n++] = {&m_calcButton, L"calc from CCD size",
                        L"\u64AE\u50CF\u7D20\u5B50\u30B5\u30A4\u30BA\u304B\u3089\u8A08\u7B97", 10,
                        70, 10, 70, 160, 20};
  m_layoutItems[n++] = {&m_setButton, L"set", L"\u6C7A\u5B9A", 10, 140, 10, 140, 250, 30};
  for (int i = 0; i < n; ++i) AddChild(m_layoutItems[i].control);
  // The texts go in before the callbacks: a new filter is not dirty.
  for (int i = 0; i < BoxCount; ++i) ShowField(i);
  for (CFgUIEdit& e : m_edits) {
    e.OnChanged = &CLfPtrans::OnEditChanged;
    e.OnFocusLost = &CLfPtrans::OnEditFocusLost;
    e.CallbackArg = this;
  }
  m_calcButton.m_callback = &CLfPtrans::OnCalc;
  m_calcButton.m_user = this;
  m_setButton.m_callback = &CLfPtrans::OnSet;
  m_setButton.m_user = this;
  m_layout = {m_layoutItems, uint64_t(n), 270, 180, 270, 180, nullptr, 0};
  LayOut(m_language);
  UpdateButton();
}

// The shared layout keeps one width per control; two Japanese labels differ.
void CLfPtrans::LayOut(const wchar_t* language) {
  ApplyFilterLayout(m_layout, language, nullptr, nullptr);
  if (!IsJapanese(language)) return;
  m_labels[0].SetRect(10, 10, 60, 20);
  m_labels[2].SetRect(10, 40, 140, 20);
}

const wchar_t* CLfPtrans::GetName(const wchar_t* language) {
  // "射影変換"
  return IsJapanese(language) ? L"\u5C04\u5F71\u5909\u63DB" : L"Projective transformation";
}

void CLfPtrans::ShowDialog(int32_t show, CFgScreen* parent) {
  CFilterWindow::ShowDialog(show, parent);
  if (show) {
    LayOut(m_language);
    CFgUICtrl::Redraw();
  }
}

CLfPtrans::State CLfPtrans::GetState() const {
  PlatformLockHold own(m_lock);
  return m_state;
}

double CLfPtrans::Field(int32_t box) const {
  switch (box) {
    case BoxInch: return m_inch;
    case BoxPan: return m_pan;
    case BoxTilt: return m_tilt;
    default: break;
  }
  PlatformLockHold own(m_lock);
  return box == BoxFocal ? m_state.focal : box == BoxPixel ? m_state.pixel : m_state.zoom;
}

void CLfPtrans::SetField(int32_t box, double value) {
  switch (box) {
    case BoxInch: m_inch = value; return;
    case BoxPan: m_pan = value; return;
    case BoxTilt: m_tilt = value; return;
    default: break;
  }
  PlatformLockHold own(m_lock);
  (box == BoxFocal ? m_state.focal : box == BoxPixel ? m_state.pixel : m_state.zoom) = value;
}

void CLfPtrans::ShowField(int32_t box) {
  wchar_t text[400];
  FormatDouble(text, 400, Field(box));
  m_edits[box].SetLine(0, text);
}

void CLfPtrans::UpdateButton() { SetControlEnabled(&m_setButton, m_dirty ? 1 : 0); }

void CLfPtrans::Message(const wchar_t* ja, const wchar_t* en) {
  const int32_t j = IsJapanese(m_language);
  FgMessageBox(j ? ja : en, j ? L"\u30A8\u30E9\u30FC" : L"error", 1, this);  // "エラー"
}

// ---------------------------------------------------------------------------------------
// Boxes
void CLfPtrans::OnEditChanged(CFgUIEdit*, void* user) {
  auto* self = static_cast<CLfPtrans*>(user);
  if (!self->m_dirty) {
    self->m_dirty = 1;
    self->UpdateButton();
  }
  self->CFgUICtrl::Redraw();
}

void CLfPtrans::OnEditFocusLost(CFgUIEdit* edit, void* user) {
  auto* self = static_cast<CLfPtrans*>(user);
  const int32_t box = int32_t(edit - self->m_edits);
  if (box < 0 || box >= BoxCount) return;
  double v = 0;
  int32_t ok = 0;
  if (box == BoxPan || box == BoxTilt) ok = CheckAngleText(edit->GetText(), &v);
  else if (box == BoxZoom) ok = CheckZoomText(edit->GetText(), &v);
  else ok = CheckUnsignedDecimal(edit->GetText(), &v) && v != 0;
  if (!ok) {
    self->ShowField(box);  // dirty through the change callback
    self->CFgUICtrl::Redraw();
    return;
  }
  if (v == self->Field(box)) return;
  if (!self->m_dirty) {
    self->m_dirty = 1;
    self->UpdateButton();
  }
  self->SetField(box, v);
  self->CFgUICtrl::Redraw();
}

// ---------------------------------------------------------------------------------------
// Buttons
void CLfPtrans::OnCalc(CFgUIButton*, void* user) { static_cast<CLfPtrans*>(user)->CalcPixelSizeFromInch(); }
void CLfPtrans::OnSet(CFgUIButton*, void* user) { static_cast<CLfPtrans*>(user)->SetCamera(); }

void CLfPtrans::CalcPixelSizeFromInch() {
  const double w = double(m_sourceWidth), h = double(m_sourceHeight);
  if (m_sourceWidth == 0 || m_sourceHeight == 0) {
    // "画像がありません"
    Message(L"\u753B\u50CF\u304C\u3042\u308A\u307E\u305B\u3093", L"no image");
    return;
  }
  if (!(m_inch > 0)) {
    // "inchを入力してください"
    Message(L"inch\u3092\u5165\u529B\u3057\u3066\u304F\u3060\u3055\u3044", L"enter inch");
    return;
  }
  // The inch value is the sensor's diagonal; cos(atan2(H, W)) of it is its width.
  const double pixel = std::cos(std::atan2(h, w)) * m_inch * 25.4 * 1000.0 / w;
  if (pixel != Field(BoxPixel) && !m_dirty) {
    m_dirty = 1;
    UpdateButton();
  }
  SetField(BoxPixel, pixel);
  ShowField(BoxPixel);
  CFgUICtrl::Redraw();
}

void CLfPtrans::SetCamera() {
  if (m_sourceWidth == 0 || m_sourceHeight == 0) {
    Message(L"\u753B\u50CF\u304C\u3042\u308A\u307E\u305B\u3093", L"no image");
    return;
  }
  State s = GetState();
  if (!(s.focal > 0)) {
    // "焦点距離を入力してください"
    Message(L"\u7126\u70B9\u8DDD\u96E2\u3092\u5165\u529B\u3057\u3066\u304F\u3060\u3055\u3044",
            L"enter focal length");
    return;
  }
  if (!(s.pixel > 0)) {
    // "撮像素子の画素サイズを入力してください"
    Message(L"\u64AE\u50CF\u7D20\u5B50\u306E\u753B\u7D20\u30B5\u30A4\u30BA\u3092\u5165\u529B"
            L"\u3057\u3066\u304F\u3060\u3055\u3044",
            L"enter the pixel size of the imaging device");
    return;
  }
  CameraModel model{0, 0, 0, 0};
  if (m_sourceWidth > UINT32_MAX || m_sourceHeight > UINT32_MAX ||
      !SetCameraModel(&model, s.focal, uint32_t(m_sourceWidth), uint32_t(m_sourceHeight),
                      s.pixel, s.pixel)) {
    // "カメラパラメーターを計算できませんでした".  Nothing is committed: the old model with
    // the new angles would be a transformation nobody asked for.
    Message(L"\u30AB\u30E1\u30E9\u30D1\u30E9\u30E1\u30FC\u30BF\u30FC\u3092\u8A08\u7B97\u3067"
            L"\u304D\u307E\u305B\u3093\u3067\u3057\u305F",
            L"can't calculate");
    return;
  }
  {
    PlatformLockHold own(m_lock);
    m_state.camera = model;
    m_state.committed = 1;
    m_state.angles[0] = m_pan;
    m_state.angles[1] = m_tilt;
    m_state.angles[2] = 0;
    m_state.cameraWidth = m_sourceWidth;
    m_state.cameraHeight = m_sourceHeight;
  }
  m_dirty = 0;
  UpdateButton();
  FilterDialogChanged(this, this, 0);
}

// ---------------------------------------------------------------------------------------
// Processing
void CLfPtrans::Process(CImgBuff* picture, uint64_t, int64_t, int64_t, int64_t, int64_t,
                        uint32_t, uint32_t background) {
  if (!picture || picture->Format() == ImgFormatNone) return;
  State s;
  {
    PlatformLockHold own(m_lock);
    if (!m_state.committed) return;
    const uint64_t w = m_sourceWidth, h = m_sourceHeight;
    if ((w != m_state.cameraWidth || h != m_state.cameraHeight) && w <= UINT32_MAX &&
        h <= UINT32_MAX) {
      CameraModel model{0, 0, 0, 0};
      if (SetCameraModel(&model, m_state.focal, uint32_t(w), uint32_t(h), m_state.pixel,
                         m_state.pixel)) {
        m_state.camera = model;
        m_state.cameraWidth = w;
        m_state.cameraHeight = h;
      }
    }
    s = m_state;  // the engine gets copies: no edit reaches it half done
  }
  TiltCorrect(picture, &s.camera, s.angles, s.zoom, background ? 1 : 0);
}

// ---------------------------------------------------------------------------------------
// Settings
namespace {

const wchar_t* const kKeys[CLfPtrans::BoxCount] = {L"f",   L"size_pixel_us", L"size_inch",
                                                  L"pan", L"tilt",          L"zoom"};

}  // namespace

void CLfPtrans::SaveParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::SaveParams(pack);
  for (int i = 0; i < BoxCount; ++i) PackWriteDouble(pack, kKeys[i], Field(i));
}

void CLfPtrans::LoadParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::LoadParams(pack);
  for (int i = 0; i < BoxCount; ++i) {
    const CCfgItem* item = pack->FindItem(kKeys[i]);
    if (!item || !item->value) continue;
    const int32_t minus = i == BoxPan || i == BoxTilt;
    SetField(i, ParseDouble(item->value, minus));
    ShowField(i);
  }
  State s = GetState();
  CameraModel model{0, 0, 0, 0};
  if (m_sourceWidth && m_sourceHeight && m_sourceWidth <= UINT32_MAX &&
      m_sourceHeight <= UINT32_MAX &&
      SetCameraModel(&model, s.focal, uint32_t(m_sourceWidth), uint32_t(m_sourceHeight), s.pixel,
                     s.pixel)) {
    {
      PlatformLockHold own(m_lock);
      m_state.camera = model;
      m_state.cameraWidth = m_sourceWidth;
      m_state.cameraHeight = m_sourceHeight;
      m_state.angles[0] = m_pan;
      m_state.angles[1] = m_tilt;
      m_state.angles[2] = 0;
      m_state.committed = 1;
    }
    m_dirty = 0;
  } else {
    m_dirty = 1;
  }
  UpdateButton();
  CFgUICtrl::Redraw();
}

// anti_shake.cpp - CLfAntiShake: the window and its reference boxes, the start and end of a
// run, the stabilised video, the plain composite and the double-size composite.
//
// Every run walks the scenes through the chain on the UI thread (CSceneWalk).  A scene the
// host refuses, or one of another size than scene 0, ends the run as a failure rather than
// being written or summed as it is: a stale or misshapen picture would pass unnoticed.
#include "filters/binary_geometry_fourier/anti_shake.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>

#include "app/cfgfile.h"
#include "app/filterctrl.h"
#include "core/parallel.h"
#include "engine/convolve.h"
#include "engine/match.h"
#include "engine/shift.h"
#include "engine/stabilize.h"
#include "engine/upscale.h"
#include "filters/colour_pixel/rect.h"
#include "media/imgio/imgio.h"
#include "media/media.h"
#include "toolkit/filesel.h"
#include "toolkit/msgbox.h"
#include "toolkit/screen.h"

FilterWindowPlace CLfAntiShake::s_classPlace;

// ---------------------------------------------------------------------------------------
// Row workers
namespace {

// The representation the sums are taken in.
enum SumKind { SumGray8, SumGray16, SumGray32, SumRgb8, SumRgb16, SumRgb32, SumXyz, SumNone };

SumKind KindOf(int32_t format) {
  switch (format) {
    case ImgFormatGray8:
      return SumGray8;
    case ImgFormatGray16:
      return SumGray16;
    case ImgFormatGray32:
      return SumGray32;
    case ImgFormatRgb24:
    case ImgFormatCmyk32:
      return SumRgb8;
    case ImgFormatRgb48:
    case ImgFormatHsv48:
      return SumRgb16;
    case ImgFormatRgb96:
      return SumRgb32;
    case ImgFormatXyz:
      return SumXyz;
    default:
      return SumNone;
  }
}

// Formats stored as the sums are kept (one or three samples of T a pixel, R, G, B order)
// are read and written straight from the rows, without a call per pixel.
template <class T, int N>
void AccumulateDirect(CompositeSums* s, uint64_t first, uint64_t count) {
  const size_t w = size_t(s->width);
  const T* pixels = static_cast<const T*>(s->picture->Pixels());
  for (uint64_t row = first; row < first + count; ++row) {
    const T* src = pixels + size_t(row) * w * N;
    const size_t base = size_t(row) * w;
    for (int c = 0; c < N; ++c) {
      double* sum = s->sum[c] + base;
      for (size_t x = 0; x < w; ++x) sum[x] += double(src[x * N + size_t(c)]);
    }
  }
}

template <class T, int N>
void AverageDirect(CompositeSums* s, uint64_t first, uint64_t count) {
  const size_t w = size_t(s->width);
  const double n = double(s->added ? s->added : 1);
  T* pixels = static_cast<T*>(s->picture->Pixels());
  for (uint64_t row = first; row < first + count; ++row) {
    T* dst = pixels + size_t(row) * w * N;
    const size_t base = size_t(row) * w;
    for (int c = 0; c < N; ++c) {
      const double* sum = s->sum[c] + base;
      for (size_t x = 0; x < w; ++x) dst[x * N + size_t(c)] = T(sum[x] / n);
    }
  }
}

}  // namespace

void CompositeAccumulateRows(void* ctx, uint64_t first, uint64_t count) {
  auto* s = static_cast<CompositeSums*>(ctx);
  CImgBuff* p = s->picture;
  switch (p->Format()) {
    case ImgFormatGray8:
      return AccumulateDirect<uint8_t, 1>(s, first, count);
    case ImgFormatGray16:
      return AccumulateDirect<uint16_t, 1>(s, first, count);
    case ImgFormatGray32:
      return AccumulateDirect<uint32_t, 1>(s, first, count);
    case ImgFormatRgb24:
      return AccumulateDirect<uint8_t, 3>(s, first, count);
    case ImgFormatRgb48:
      return AccumulateDirect<uint16_t, 3>(s, first, count);
    case ImgFormatRgb96:
      return AccumulateDirect<uint32_t, 3>(s, first, count);
    case ImgFormatXyz:
      return AccumulateDirect<double, 3>(s, first, count);
    default:
      break;
  }
  // CMYK and HSV: through their R, G, B at the depth they are read in.
  const SumKind kind = KindOf(p->Format());
  const int32_t w = s->width;
  for (uint64_t row = first; row < first + count; ++row) {
    const int32_t y = int32_t(row);
    const size_t base = size_t(row) * size_t(w);
    double* s0 = s->sum[0] + base;
    double* s1 = s->sum[1] ? s->sum[1] + base : nullptr;
    double* s2 = s->sum[2] ? s->sum[2] + base : nullptr;
    switch (kind) {
      case SumGray8:
        for (int32_t x = 0; x < w; ++x) {
          uint8_t v = 0;
          p->GetGray8(x, y, &v);
          s0[x] += v;
        }
        break;
      case SumGray16:
        for (int32_t x = 0; x < w; ++x) {
          uint16_t v = 0;
          p->GetGray16(x, y, &v);
          s0[x] += v;
        }
        break;
      case SumGray32:
        for (int32_t x = 0; x < w; ++x) {
          uint32_t v = 0;
          p->GetGray32(x, y, &v);
          s0[x] += v;
        }
        break;
      case SumRgb8:
        for (int32_t x = 0; x < w; ++x) {
          uint8_t r = 0, g = 0, b = 0;
          p->GetRGB8(x, y, &r, &g, &b);
          s0[x] += r, s1[x] += g, s2[x] += b;
        }
        break;
      case SumRgb16:
        for (int32_t x = 0; x < w; ++x) {
          uint16_t r = 0, g = 0, b = 0;
          p->GetRGB16(x, y, &r, &g, &b);
          s0[x] += r, s1[x] += g, s2[x] += b;
        }
        break;
      case SumRgb32:
        for (int32_t x = 0; x < w; ++x) {
          uint32_t r = 0, g = 0, b = 0;
          p->GetRGB32(x, y, &r, &g, &b);
          s0[x] += r, s1[x] += g, s2[x] += b;
        }
        break;
      case SumXyz:
        for (int32_t x = 0; x < w; ++x) {
          double X = 0, Y = 0, Z = 0;
          p->record->GetXYZ(x, y, &X, &Y, &Z);
          s0[x] += X, s1[x] += Y, s2[x] += Z;
        }
        break;
      default:
        break;
    }
  }
}

void CompositeAverageRows(void* ctx, uint64_t first, uint64_t count) {
  auto* s = static_cast<CompositeSums*>(ctx);
  CImgBuff* p = s->picture;
  switch (p->Format()) {
    case ImgFormatGray8:
      return AverageDirect<uint8_t, 1>(s, first, count);
    case ImgFormatGray16:
      return AverageDirect<uint16_t, 1>(s, first, count);
    case ImgFormatGray32:
      return AverageDirect<uint32_t, 1>(s, first, count);
    case ImgFormatRgb24:
      return AverageDirect<uint8_t, 3>(s, first, count);
    case ImgFormatRgb48:
      return AverageDirect<uint16_t, 3>(s, first, count);
    case ImgFormatRgb96:
      return AverageDirect<uint32_t, 3>(s, first, count);
    case ImgFormatXyz:
      return AverageDirect<double, 3>(s, first, count);
    default:
      break;
  }
  const SumKind kind = KindOf(p->Format());
  const int32_t w = s->width;
  const double n = double(s->added ? s->added : 1);
  for (uint64_t row = first; row < first + count; ++row) {
    const int32_t y = int32_t(row);
    const size_t base = size_t(row) * size_t(w);
    const double* s0 = s->sum[0] + base;
    const double* s1 = s->sum[1] ? s->sum[1] + base : nullptr;
    const double* s2 = s->sum[2] ? s->sum[2] + base : nullptr;
    switch (kind) {
      case SumGray8:
        for (int32_t x = 0; x < w; ++x) p->SetGray8(x, y, uint8_t(s0[x] / n));
        break;
      case SumGray16:
        for (int32_t x = 0; x < w; ++x) p->SetGray16(x, y, uint16_t(s0[x] / n));
        break;
      case SumGray32:
        for (int32_t x = 0; x < w; ++x) p->SetGray32(x, y, uint32_t(s0[x] / n));
        break;
      case SumRgb8:
        for (int32_t x = 0; x < w; ++x)
          p->SetRGB8(x, y, uint8_t(s0[x] / n), uint8_t(s1[x] / n), uint8_t(s2[x] / n));
        break;
      case SumRgb16:
        for (int32_t x = 0; x < w; ++x)
          p->SetRGB16(x, y, uint16_t(s0[x] / n), uint16_t(s1[x] / n), uint16_t(s2[x] / n));
        break;
      case SumRgb32:
        for (int32_t x = 0; x < w; ++x)
          p->SetRGB32(x, y, uint32_t(s0[x] / n), uint32_t(s1[x] / n), uint32_t(s2[x] / n));
        break;
      case SumXyz:
        for (int32_t x = 0; x < w; ++x) p->record->SetXYZ(x, y, s0[x] / n, s1[x] / n, s2[x] / n);
        break;
      default:
        break;
    }
  }
}

// ---------------------------------------------------------------------------------------
// Window
CLfAntiShake::CLfAntiShake() : CFilterWindow(&s_classPlace) {
  struct Item {
    CFgUIObj* control;
    const wchar_t *en, *ja;
    int32_t x, y, w, h;
  };
  const Item items[9] = {
      {&m_mode[0], L"anti shake", L"ブレ補正", 8, 8, 120, 20},
      {&m_mode[1], L"composit", L"加算平均", 8, 28, 120, 20},
      {&m_typeRadio[0], L"fixed", L"定点", 116, 8, 60, 20},
      {&m_typeRadio[1], L"moving", L"移動", 184, 8, 80, 20},
      {&m_zoom, L"zoom(x2)", L"拡大(x2)", 28, 48, 120, 20},
      {&m_antiNoise, L"anti noise", L"ノイズ軽減", 28, 68, 120, 20},
      {&m_specify, L"specify a reference point", L"基準点を指定する", 8, 88, 208, 20},
      {&m_open, L"OPEN", L"画像を開く", 8, 116, 122, 28},
      {&m_save, L"SAVE", L"画像を保存", 138, 116, 122, 28},
  };
  for (int32_t i = 0; i < 9; ++i) {
    const Item& it = items[i];
    m_layoutItems[i] = {it.control, it.en, it.ja, it.x, it.y, it.x, it.y, it.w, it.h};
    AddChild(it.control);
  }
  CFgUIChkButton::AddToGroup(&m_mode[0], &m_mode[1]);
  CFgUIChkButton::AddToGroup(&m_typeRadio[0], &m_typeRadio[1]);
  CFgUIChkButton::SetGroupSelection(&m_mode[0], 0, 0);
  CFgUIChkButton::SetGroupSelection(&m_typeRadio[0], 0, 0);
  for (CFgUIChkButton* b : {&m_mode[0], &m_mode[1], &m_typeRadio[0], &m_typeRadio[1], &m_zoom}) {
    b->m_callback = &CLfAntiShake::OnControl;
    b->m_user = this;
  }
  m_antiNoise.m_checked = 1;
  m_specify.m_callback = &CLfAntiShake::OnSpecify;
  m_specify.m_user = this;
  m_open.m_callback = &CLfAntiShake::OnOpen;
  m_open.m_user = this;
  m_save.m_callback = &CLfAntiShake::OnSave;
  m_save.m_user = this;
  m_layout = {m_layoutItems, 9, 268, 152, 268, 152, nullptr, 0};
  ApplyFilterLayout(m_layout, m_language, nullptr, nullptr);
  UpdateControls();
}

CLfAntiShake::~CLfAntiShake() = default;

const wchar_t* CLfAntiShake::GetName(const wchar_t* language) {
  return IsJapanese(language) ? L"ブレ補正 / 加算平均" : L"Anti shake / Composit";
}

void CLfAntiShake::ShowDialog(int32_t show, CFgScreen* parent) {
  ShowFilterWindow(this, this, m_layout, &m_place, m_classPlace, show, parent);
  if (m_walk.Busy()) m_save.SetText(IsJapanese(m_language) ? L"中止" : L"CANCEL");
  UpdateControls();
}

void CLfAntiShake::EnableDialog(int32_t enable) {
  if (m_walk.Busy()) return;
  CFilterWindow::EnableDialog(enable);
}

int32_t CLfAntiShake::OnClose() {
  if (m_walk.Busy()) return 0;
  return CFilterWindow::OnClose();
}

void CLfAntiShake::OnEnableAll() { UpdateControls(); }

void CLfAntiShake::UpdateControls() {
  const int32_t idle = m_walk.Busy() ? 0 : 1;
  const int32_t mode = Mode(), moving = Moving(), zoom = m_zoom.m_checked ? 1 : 0;
  SetControlEnabled(&m_mode[0], idle);
  SetControlEnabled(&m_mode[1], idle);
  SetControlEnabled(&m_typeRadio[0], idle && mode == 0);
  SetControlEnabled(&m_typeRadio[1], idle && mode == 0);
  SetControlEnabled(&m_zoom, idle && mode == 1);
  SetControlEnabled(&m_antiNoise, idle && mode == 1 && zoom);
  SetControlEnabled(&m_specify, idle && !(mode == 0 && moving == 1));
  SetControlEnabled(&m_open, idle && mode != 0);
  SetControlEnabled(&m_save, 1);
  CFgUICtrl::Redraw();
}

void CLfAntiShake::OnControl(CFgUIChkButton*, void* user) {
  static_cast<CLfAntiShake*>(user)->UpdateControls();
}

void CLfAntiShake::OnSpecify(CFgUIChkButton*, void* user) {
  static_cast<CLfAntiShake*>(user)->OnSpecifyReference();
}

void CLfAntiShake::OnOpen(CFgUIButton*, void* user) {
  static_cast<CLfAntiShake*>(user)->Execute(0);
}
void CLfAntiShake::OnSave(CFgUIButton*, void* user) {
  static_cast<CLfAntiShake*>(user)->Execute(1);
}

void CLfAntiShake::ClearBoxes() {
  PlatformLockHold hold(m_boxLock);
  for (ReferenceBox& b : m_box) {
    b.templ.Free();
    b.x = b.y = 0;
    b.width = b.height = 0;
  }
}

void CLfAntiShake::OnSpecifyReference() {
  ClearBoxes();
  if (m_filterEnabled && m_host) m_host->Redraw();
  UpdateControls();
}

int32_t CLfAntiShake::BoxSize() {
  PlatformLockHold hold(m_boxLock);
  return m_boxSize;
}

int32_t CLfAntiShake::GetBox(int32_t i, double* x, double* y, int32_t* width, int32_t* height) {
  if (i < 0 || i > 1) return 0;
  PlatformLockHold hold(m_boxLock);
  const ReferenceBox& b = m_box[i];
  if (x) *x = b.x;
  if (y) *y = b.y;
  if (width) *width = b.width;
  if (height) *height = b.height;
  return b.templ.Format() ? 1 : 0;
}

int32_t CLfAntiShake::GetBoxTemplate(int32_t i, CImgBuff* out) {
  if (i < 0 || i > 1 || !out) return 0;
  PlatformLockHold hold(m_boxLock);
  if (!m_box[i].templ.Format()) return 0;
  return out->CopyFrom(m_box[i].templ)->Format() ? 1 : 0;
}

void CLfAntiShake::Process(CImgBuff* picture, uint64_t, int64_t, int64_t, int64_t, int64_t,
                           uint32_t, uint32_t background) {
  m_walk.Capture(picture);  // only while a run holds a capture picture
  if (!picture) return;
  PlatformLockHold hold(m_boxLock);
  if (m_wantClick) m_clickCapture.CopyFrom(*picture);
  const int32_t format = picture->Format();
  if (!m_walk.Busy() && format >= 1 && format < ImgFormatCount) {
    m_boxSize = std::max(std::min(picture->Width(), picture->Height()) / 16, 8);
    m_fill = background > 0 ? 255 : 0;
  }
}

void CLfAntiShake::OnLButtonDown(int64_t x, int64_t y, uint8_t) {
  if (!m_specify.m_checked || m_walk.Busy()) return;
  {
    PlatformLockHold hold(m_boxLock);
    m_clickCapture.Free();
    m_wantClick = 1;
  }
  RequestIfEnabled(this, 0);  // Process copies the current frame
  {
    PlatformLockHold hold(m_boxLock);
    m_wantClick = 0;
    const int64_t s = m_boxSize, h = s / 2;
    const int64_t w = m_clickCapture.Width(), ht = m_clickCapture.Height();
    const int64_t x0 = std::max<int64_t>(x - h, 0), y0 = std::max<int64_t>(y - h, 0);
    const int64_t x1 = std::min<int64_t>(x + s - h - 1, w - 1);
    const int64_t y1 = std::min<int64_t>(y + s - h - 1, ht - 1);
    if (m_clickCapture.Format() && x1 - x0 + 1 >= 8 && y1 - y0 + 1 >= 8) {
      for (ReferenceBox& b : m_box) {
        if (b.templ.Format()) continue;
        if (m_clickCapture.Crop(b.templ, int32_t(x0), int32_t(y0), int32_t(x1), int32_t(y1))) {
          b.x = double(x0), b.y = double(y0);
          b.width = int32_t(x1 - x0 + 1), b.height = int32_t(y1 - y0 + 1);
        }
        break;
      }
    }
    m_clickCapture.Free();
  }
  if (m_filterEnabled && m_host) m_host->Redraw();
  CFgUICtrl::Redraw();
}

void CLfAntiShake::OnRButtonDown(int64_t, int64_t, uint8_t) {
  if (!m_specify.m_checked || m_walk.Busy()) return;
  {
    PlatformLockHold hold(m_boxLock);
    ReferenceBox& b = m_box[1].templ.Format() ? m_box[1] : m_box[0];
    if (b.templ.Format()) {
      b.templ.Free();
      b.x = b.y = 0;
      b.width = b.height = 0;
    }
  }
  if (m_filterEnabled && m_host) m_host->Redraw();
  CFgUICtrl::Redraw();
}

void CLfAntiShake::DrawOverlay(PixelToGlFn toGlX, PixelToGlFn toGlY, CFgScreen*, CFgFont*,
                               int32_t viewX0, int32_t viewY0, int32_t viewX1, int32_t viewY1,
                               int32_t imageX0, int32_t imageY0, int32_t imageX1, int32_t imageY1,
                               int32_t zoom) {
  if (!toGlX || !toGlY || m_walk.Busy() || Moving() != 0 || !m_specify.m_checked) return;
  PlatformLockHold hold(m_boxLock);
  if (!m_box[0].templ.Format()) return;
  glColor3d(m_guide[0], m_guide[1], m_guide[2]);
  for (const ReferenceBox& b : m_box) {
    if (!b.templ.Format()) continue;
    int32_t a = 0, c = 0, d = 0, e = 0;
    RectOverlayCorners(int64_t(b.x), int64_t(b.y), b.width, b.height, viewX0, viewY0, viewX1,
                       viewY1, imageX0, imageY0, imageX1, imageY1, zoom, &a, &c, &d, &e);
    glBegin(GL_POINTS);
    glVertex2d(toGlX(a), toGlY(c));
    glEnd();
    glBegin(GL_LINE_LOOP);
    glVertex2d(toGlX(a), toGlY(c));
    glVertex2d(toGlX(d), toGlY(c));
    glVertex2d(toGlX(d), toGlY(e));
    glVertex2d(toGlX(a), toGlY(e));
    glEnd();
  }
}

void CLfAntiShake::SaveParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::SaveParams(pack);
  PackWriteSigned(pack, L"sel", Mode());
  PackWriteSigned(pack, L"type", Moving());
  PackWriteFlag(pack, L"zoom", m_zoom.m_checked ? 1 : 0);
  PackWriteFlag(pack, L"anti_noise", m_antiNoise.m_checked ? 1 : 0);
}

void CLfAntiShake::LoadParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::LoadParams(pack);
  int64_t v = 0;
  if (PackReadSigned(pack, L"sel", 0, 1, &v, nullptr))
    CFgUIChkButton::SetGroupSelection(&m_mode[0], int32_t(v), 0);
  if (PackReadSigned(pack, L"type", 0, 1, &v, nullptr))
    CFgUIChkButton::SetGroupSelection(&m_typeRadio[0], int32_t(v), 0);
  uint32_t flag = 0;
  if (PackReadFlagLenient(pack, L"zoom", &flag, nullptr)) m_zoom.m_checked = int32_t(flag);
  if (PackReadFlagLenient(pack, L"anti_noise", &flag, nullptr))
    m_antiNoise.m_checked = int32_t(flag);
  UpdateControls();
}

CFgScreen* CLfAntiShake::Parent() { return GetWindow() ? static_cast<CFgScreen*>(this) : nullptr; }

int32_t CLfAntiShake::Message(const wchar_t* ja, const wchar_t* en, int32_t error, int32_t kind) {
  const int32_t jp = IsJapanese(m_language);
  const wchar_t* caption = error ? (jp ? L"エラー" : L"error") : (jp ? L"確認" : L"confirmation");
  return FgMessageBox(jp ? ja : en, caption, kind, Parent());
}

// ---------------------------------------------------------------------------------------
// Start and end of a run
void CLfAntiShake::Execute(int32_t mode) {
  if (m_walk.Busy()) {
    m_walk.Cancel();
    return;
  }
  if (m_sceneCount < 2) {
    Message(L"動画がありません", L"there is no video", 0, 1);
    return;
  }
  const int32_t s = int32_t(std::max<uint64_t>(std::min(m_sourceWidth, m_sourceHeight) / 16, 8));
  {
    PlatformLockHold hold(m_boxLock);
    m_boxSize = s;
  }
  const int32_t runMode = Mode(), moving = Moving(), zoom = m_zoom.m_checked ? 1 : 0;
  {
    CSceneWalkRun run(&m_walk, this, &m_save);
    if (!run.Started()) {
      Message(L"失敗しました", L"failed", 1, 1);
      return;
    }
    UpdateControls();
    CImgBuff scene0;
    const int32_t got = m_walk.FetchScene(0, &scene0);
    if (got == SceneStopped && QuitRequested) {
      ClearBoxes();
      return;
    }
    int32_t ready = 0;
    if (got == SceneStopped) {
      Message(L"中止しました", L"canceled", 0, 1);
    } else if (got != SceneFetched || !scene0.Format()) {
      Message(L"失敗しました", L"failed", 1, 1);
    } else if (runMode == 0 && moving == 1) {
      SetMovingReference(&scene0, scene0.Width(), scene0.Height(), 0, 0);
      ready = 1;
    } else if (!m_specify.m_checked) {
      TrackBlock best{}, second{};
      const int32_t w = scene0.Width(), h = scene0.Height();
      if (w - s >= s && h - s >= s &&
          SelectTrackingBlocks(&scene0, s, s, w - s, h - s, s, s, &best, &second)) {
        PlatformLockHold hold(m_boxLock);
        ready = 1;
        const TrackBlock* blocks[2] = {&best, &second};
        for (int32_t i = 0; i < 2; ++i) {
          const TrackBlock& b = *blocks[i];
          ReferenceBox& box = m_box[i];
          if (!scene0.Crop(box.templ, b.x0, b.y0, b.x1, b.y1)) ready = 0;
          box.x = b.x0, box.y = b.y0;
          box.width = b.x1 - b.x0 + 1, box.height = b.y1 - b.y0 + 1;
        }
      }
      if (!ready) Message(L"基準点が見つかりません", L"reference point not found", 0, 1);
    } else {
      ready = GetBox(0, nullptr, nullptr, nullptr, nullptr) &&
              GetBox(1, nullptr, nullptr, nullptr, nullptr);
      if (!ready) Message(L"2つの基準点を指定してください", L"specify two reference points", 0, 1);
    }
    if (ready) {
      int32_t result = 0;
      if (runMode == 0)
        result = SaveStabilizedVideo();
      else if (zoom)
        result = SaveCompositeZoom(mode);
      else
        result = SaveComposite(mode);
      ClearBoxes();
      if (QuitRequested) {
        // closing: nothing to say
      } else if (m_walk.Cancelled()) {
        Message(L"中止しました", L"canceled", 0, 1);
      } else if (mode == 1) {
        if (result == 1)
          Message(L"セーブしました", L"saved", 0, 1);
        else
          Message(L"セーブできませんでした", L"saving failed", 1, 1);
      } else {
        if (result == 1)
          Message(L"終了しました", L"finishd", 0, 1);
        else
          Message(L"失敗しました", L"failed", 1, 1);
      }
    }
    ClearBoxes();
  }
  m_save.SetText(IsJapanese(m_language) ? L"保存" : L"SAVE");
  UpdateControls();
}

// ---------------------------------------------------------------------------------------
// Runs
int32_t CLfAntiShake::Fetch(uint64_t index, CImgBuff* w, int32_t width, int32_t height) {
  const int32_t got = m_walk.FetchScene(index, w);
  if (got == SceneStopped) return -1;
  if (got != SceneFetched || !w->Format()) return 0;
  if (width && (w->Width() != width || w->Height() != height)) return 0;
  return 1;
}

void CLfAntiShake::SetMovingReference(const CImgBuff* picture, int32_t width, int32_t height,
                                      double dx, double dy) {
  const int32_t a = width / 3, b = height / 3;
  PlatformLockHold hold(m_boxLock);
  ReferenceBox& box = m_box[0];
  box.x = a, box.y = b;
  box.width = a, box.height = b;
  box.templ.Free();
  if (picture && a > 0 && b > 0) {
    // The left and top edges follow a large shake back by a quarter of it, so that the
    // template stays on the content that is coming into the centre.
    const int32_t x0 = std::max(0, int32_t(std::trunc(a - dx * 0.25)));
    const int32_t y0 = std::max(0, int32_t(std::trunc(b - dy * 0.25)));
    if (x0 <= 2 * a - 1 && y0 <= 2 * b - 1) picture->Crop(box.templ, x0, y0, 2 * a - 1, 2 * b - 1);
  }
  ReferenceBox& other = m_box[1];
  other.templ.Free();
  other.x = other.y = 0;
  other.width = other.height = 0;
}

int32_t CLfAntiShake::SaveStabilizedVideo() {
  int32_t refX[2], refY[2], searchX[2], searchY[2];
  uint8_t fill = 0;
  int32_t radius = 0;
  CImgBuff templ[2];
  {
    PlatformLockHold hold(m_boxLock);
    for (int32_t i = 0; i < 2; ++i) {
      refX[i] = searchX[i] = int32_t(m_box[i].x);
      refY[i] = searchY[i] = int32_t(m_box[i].y);
      if (m_box[i].templ.Format()) templ[i].CopyFrom(m_box[i].templ);
    }
    fill = m_fill;
    radius = m_boxSize;
  }
  const int32_t moving = Moving();
  CImgBuff w;
  const int32_t first = Fetch(0, &w);
  if (first < 0) return 1;
  if (first == 0) return 0;
  const int32_t width = w.Width(), height = w.Height(), format = w.Format();
  MediaWriteOptions options{};
  if (m_host) m_host->GetEncodeSettings(&options);
  const int32_t jp = IsJapanese(m_language);
  int32_t declined = 0;
  MovieWriter* writer = SaveMovieOrSequence(&w, m_sceneCount, m_language, nullptr,
                                            jp ? L"保存ファイルの選択" : L"Select save file",
                                            &options, Parent(), &declined);
  if (!writer) {
    if (declined) m_walk.Cancel();
    return 0;
  }
  CImgBuff* templates[2] = {&templ[0], &templ[1]};
  int32_t result = 1;
  for (uint64_t i = 0; i < m_sceneCount; ++i) {
    const int32_t got = Fetch(i, &w, width, height);
    if (got < 0) break;
    if (got == 0 || w.Format() != format) {
      result = 0;
      break;
    }
    if (moving) {
      const int32_t r = std::min(width, height) / 6;
      double bx = 0, by = 0;
      CImgBuff current;
      {
        PlatformLockHold hold(m_boxLock);
        bx = m_box[0].x, by = m_box[0].y;
        if (m_box[0].templ.Format()) current.CopyFrom(m_box[0].templ);
      }
      double dx = 0, dy = 0;
      if (MatchPointSubpixel(&w, &current, int32_t(bx), int32_t(by), r, &dx, &dy, 0) &&
          ShiftImage(&w, -dx, -dy, fill)) {
        if (std::fabs(dx) < 16) dx = 0;
        if (std::fabs(dy) < 16) dy = 0;
        SetMovingReference(&w, width, height, dx, dy);
      }
    } else {
      double outX[2] = {0, 0}, outY[2] = {0, 0};
      if (StabilizeTwoPointsEx(&w, templates, refX, refY, searchX, searchY, radius, fill, outX,
                               outY)) {
        for (int32_t k = 0; k < 2; ++k) {
          searchX[k] = int32_t(outX[k]);
          searchY[k] = int32_t(outY[k]);
        }
      }
    }
    if (!MovieWriterWriteFrame(writer, &w)) {
      result = 0;
      break;
    }
  }
  // A failed frame must not cost the old file; a cancel keeps what was written.
  if (result == 0 && writer->mediaFile) MediaDiscardOnClose(writer->mediaFile);
  // An unfinished file (an MP4 whose index could not be written) is a failed save.
  if (!CloseMovieWriter(writer)) result = 0;
  return result;
}

int32_t CLfAntiShake::AskCompositePath(wchar_t* path, int32_t* result) {
  const int32_t jp = IsJapanese(m_language);
  FileSelectOptions options;
  options.title = jp ? L"保存する画像ファイル" : L"Save image file";
  options.extensions = ImageOpenExtensions();
  if (FgSelectFile(path, 1023, &options, Parent()) != 1) {
    m_walk.Cancel();
    *result = 0;
    return 0;
  }
  if (path[0] && MediaFileExists(path) &&
      Message(L"上書き保存しますか？", L"Do you want to overwrite it?", 0, 0) != 1) {
    m_walk.Cancel();
    *result = 1;
    return 0;
  }
  return 1;
}

int32_t CLfAntiShake::FinishComposite(int32_t mode, CImgBuff* w, const wchar_t* path) {
  if (mode == 1) return SaveImageFile(w, path, nullptr, Parent()) == 1 ? 1 : 0;
  if (m_filterEnabled && m_host) m_host->OpenResultImage(w, 0);
  return 1;
}

int32_t CLfAntiShake::SaveComposite(int32_t mode) {
  wchar_t path[1024] = {};
  int32_t result = 0;
  if (mode == 1 && !AskCompositePath(path, &result)) return result;
  int32_t refX[2], refY[2], radius = 0;
  uint8_t fill = 0;
  CImgBuff templ[2];
  {
    PlatformLockHold hold(m_boxLock);
    for (int32_t i = 0; i < 2; ++i) {
      refX[i] = int32_t(m_box[i].x);
      refY[i] = int32_t(m_box[i].y);
      if (m_box[i].templ.Format()) templ[i].CopyFrom(m_box[i].templ);
    }
    fill = m_fill;
    radius = m_boxSize;
  }
  CImgBuff* templates[2] = {&templ[0], &templ[1]};
  CImgBuff w;
  const int32_t first = Fetch(0, &w);
  if (first < 0) return 1;
  if (first == 0) return 0;
  const int32_t width = w.Width(), height = w.Height(), format = w.Format();
  if (width < 1 || height < 1 || KindOf(format) == SumNone) return 0;
  const size_t cells = size_t(width) * size_t(height);
  const int32_t planes =
      (format == ImgFormatGray8 || format == ImgFormatGray16 || format == ImgFormatGray32) ? 1 : 3;
  CompositeSums sums;
  sums.width = width, sums.height = height;
  struct Free {
    CompositeSums* s;
    ~Free() {
      for (double*& p : s->sum) std::free(p), p = nullptr;
    }
  } freeSums{&sums};
  for (int32_t k = 0; k < planes; ++k) {
    sums.sum[k] = static_cast<double*>(std::calloc(cells, sizeof(double)));
    if (!sums.sum[k]) return 0;
  }
  for (uint64_t i = 0; i < m_sceneCount; ++i) {
    const int32_t got = Fetch(i, &w, width, height);
    if (got < 0) break;
    if (got == 0 || w.Format() != format) return 0;
    StabilizeTwoPoints(1, &w, templates, refX, refY, radius, fill, 0);
    sums.picture = &w;
    ParallelFor(&CompositeAccumulateRows, &sums, uint64_t(height));
    ++sums.added;
  }
  // Cancelled before any scene was added: there is nothing to average.
  if (sums.added == 0) return 1;
  sums.picture = &w;
  ParallelFor(&CompositeAverageRows, &sums, uint64_t(height));
  return FinishComposite(mode, &w, path);
}

int32_t CLfAntiShake::SaveCompositeZoom(int32_t mode) {
  wchar_t path[1024] = {};
  int32_t result = 0;
  if (mode == 1 && !AskCompositePath(path, &result)) return result;
  uint8_t fill = 0;
  {
    PlatformLockHold hold(m_boxLock);
    fill = m_fill;
  }
  CImgBuff w;
  const int32_t first = Fetch(0, &w);
  if (first < 0) return 1;
  if (first == 0) return 0;
  UpscaleComposite* comp = CompositeUpscaleCreate(&w);
  if (!comp) return 0;
  result = 1;
  for (uint64_t i = 0; i < m_sceneCount; ++i) {
    const int32_t got = Fetch(i, &w);
    if (got < 0) break;
    if (got == 0 || !CompositeUpscaleAddFrame(comp, &w, fill)) {
      result = 0;
      break;
    }
  }
  if (!CompositeUpscaleFinish(comp, &w)) return 0;
  if (result != 1) return 0;
  if (m_antiNoise.m_checked) {
    static const double kSmooth[9] = {1, 2, 1, 2, 3, 2, 1, 2, 1};
    static const double kSharpen[9] = {-1, -2, -1, -2, 18, -2, -1, -2, -1};
    ConvolveDouble(&w, nullptr, kSmooth);
    ConvolveDouble(&w, nullptr, kSharpen);
  }
  return FinishComposite(mode, &w, path);
}

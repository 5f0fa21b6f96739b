// strobe_photo.cpp - CLfStrobePhoto: the window, the object mask painted on the main view,
// capturing the background, the runs, OPEN and SAVE.
//
// A run that ends on a failure rather than a cancel (the tool gets no frame, a scene or set
// picture of another size, no memory) says "failed" and keeps the old result.  A stray
// EXEC press during a capture discards that capture only: the run bracket clears the flag.
#include "filters/binary_geometry_fourier/strobe_photo.h"

#include <GL/gl.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "app/filterctrl.h"
#include "engine/frame.h"
#include "filters/binary_geometry_fourier/strobe_compose.h"
#include "media/imgio/imgio.h"
#include "toolkit/filesel.h"
#include "toolkit/msgbox.h"
#include "toolkit/screen.h"

FilterWindowPlace CLfStrobePhoto::s_classPlace;

namespace {

// The scenes of a run through the tool's scene walk.
class WalkScenes : public StrobeScenes {
 public:
  explicit WalkScenes(CSceneWalk* walk) : walk_(walk) {}
  int32_t Fetch(uint64_t scene, CImgBuff* out) override {
    const int32_t r = walk_->FetchScene(scene, out);
    return r == SceneFetched ? 1 : r == SceneStopped ? -1 : 0;
  }

 private:
  CSceneWalk* walk_;
};

struct ShadeJob {
  CImgBuff* frame;
  const CImgBuff* mask;
  uint8_t cell[2][3];  // [0] odd cells, [1] even cells
  int32_t width;
};

void ShadeRows(void* ctx, uint64_t first, uint64_t count) {
  const ShadeJob& job = *static_cast<const ShadeJob*>(ctx);
  for (uint64_t yy = first; yy < first + count; ++yy) {
    const int32_t y = int32_t(yy);
    const uint8_t* m = RowPtr<uint8_t>(job.mask->record, 0, y);
    for (int32_t x = 0; x < job.width; ++x) {
      if (!m[x]) continue;
      const uint8_t* c = job.cell[((x / 4 + y / 4) & 1) ? 0 : 1];
      uint8_t rgb[3] = {0, 0, 0};
      job.frame->GetRGB8(x, y, &rgb[0], &rgb[1], &rgb[2]);
      job.frame->SetRGB8(x, y, uint8_t((rgb[0] + c[0]) / 2), uint8_t((rgb[1] + c[1]) / 2),
                         uint8_t((rgb[2] + c[2]) / 2));
    }
  }
}

template <void (CLfStrobePhoto::*Fn)()>
void Call(CFgUIButton*, void* user) {
  (static_cast<CLfStrobePhoto*>(user)->*Fn)();
}

int32_t ClampBlock(int64_t v) { return int32_t(std::clamp<int64_t>(v / 4, INT32_MIN / 4, INT32_MAX / 4)); }

}  // namespace

CLfStrobePhoto::CLfStrobePhoto() : CFilterWindow(&s_classPlace) {
  struct Item {
    CFgUIObj* control;
    const wchar_t* en;
    const wchar_t* ja;
    int32_t x, y, w, h;
  };
  const Item items[13] = {
      {&m_preview, nullptr, nullptr, 8, 8, 288, 288},
      {&m_setBg, L"set bg image", L"背景画像を指定", 8, 304, 288, 20},
      {&m_currentFrame, L"CURRENT FRAME", L"今のフレーム", 8, 332, 140, 28},
      {&m_currentBg, L"CURRENT BG", L"今の背景画像", 156, 332, 140, 28},
      {&m_maskLabel, L"edit object mask", L"物体マスクの編集", 8, 372, 288, 20},
      {&m_start, L"START", L"開始", 8, 392, 90, 28},
      {&m_end, L"END", L"終了", 107, 392, 90, 28},
      {&m_cls, L"CLS", L"初期化", 206, 392, 90, 28},
      {&m_extractLabel, L"loose ← object extraction → severe", L"緩い ← 物体抽出基準 → 厳しい",
       8, 428, 288, 20},
      {&m_extract, nullptr, nullptr, 8, 448, 288, 20},
      {&m_exec, L"EXEC", L"実行", 8, 480, 288, 28},
      {&m_open, L"OPEN", L"画像を開く", 8, 516, 140, 28},
      {&m_save, L"SAVE", L"画像を保存", 156, 516, 140, 28},
  };
  for (int32_t i = 0; i < 13; ++i)
    m_layoutItems[i] = {items[i].control, items[i].en, items[i].ja, items[i].x, items[i].y,
                        items[i].x, items[i].y, items[i].w, items[i].h};
  // Children in drawing order: the preview, the check box, ..., the scroll bar before its
  // label, as the window lists them.
  CFgUIObj* order[13] = {&m_preview, &m_setBg, &m_currentFrame, &m_currentBg, &m_maskLabel,
                         &m_start, &m_end, &m_cls, &m_extract, &m_extractLabel,
                         &m_exec, &m_open, &m_save};
  for (CFgUIObj* child : order) AddChild(child);
  m_extract.m_kind = 2;
  m_extract.SetRange(0, 9, 1, 0);
  m_extract.m_callback = [](CFgUIScrollBar*, void* user, int32_t) {
    static_cast<CLfStrobePhoto*>(user)->OnThresholdChanged();
  };
  m_extract.m_user = this;
  m_setBg.m_callback = [](CFgUIChkButton*, void* user) {
    static_cast<CLfStrobePhoto*>(user)->RefreshDialog();
  };
  m_setBg.m_user = this;
  struct Press {
    CFgUIButton* button;
    FgButtonCallback call;
  };
  const Press presses[] = {
      {&m_currentFrame, &Call<&CLfStrobePhoto::OnCurrentFrame>},
      {&m_currentBg, &Call<&CLfStrobePhoto::OnCurrentBg>},
      {&m_start, &Call<&CLfStrobePhoto::OnMaskStart>},
      {&m_end, &Call<&CLfStrobePhoto::OnMaskEnd>},
      {&m_cls, &Call<&CLfStrobePhoto::OnMaskClear>},
      {&m_exec, &Call<&CLfStrobePhoto::Execute>},
      {&m_open, &Call<&CLfStrobePhoto::OnOpenResult>},
      {&m_save, &Call<&CLfStrobePhoto::SaveImage>}};
  for (const Press& p : presses) {
    p.button->m_callback = p.call;
    p.button->m_user = this;
  }
  m_layout = {m_layoutItems, 13, 304, 552, 304, 552, nullptr, 0};
  ApplyFilterLayout(m_layout, m_language, nullptr, nullptr);
  RefreshDialog();
}

CLfStrobePhoto::~CLfStrobePhoto() = default;

const wchar_t* CLfStrobePhoto::GetName(const wchar_t* language) {
  return IsJapanese(language) ? L"ストロボ写真の合成" : L"Strobe photo";
}

void CLfStrobePhoto::ShowDialog(int32_t show, CFgScreen* parent) {
  ShowFilterWindow(this, this, m_layout, &m_place, m_classPlace, show, parent);
  if (m_walk.Busy()) m_exec.SetText(IsJapanese(m_language) ? L"中止" : L"CANCEL");
  RefreshDialog();
}

void CLfStrobePhoto::EnableDialog(int32_t enable) {
  if (m_walk.Busy()) return;
  CFilterWindow::EnableDialog(enable);
}

int32_t CLfStrobePhoto::OnClose() {
  if (m_walk.Busy()) return 0;
  return CFilterWindow::OnClose();
}

void CLfStrobePhoto::OnEnableAll() { RefreshDialog(); }

void CLfStrobePhoto::LoadParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::LoadParams(pack);
  RefreshDialog();
}

void CLfStrobePhoto::OnSourceChanged(uint64_t width, uint64_t height, uint64_t bytesPerPixel,
                                     uint64_t sceneCount) {
  CImgFilter::OnSourceChanged(width, height, bytesPerPixel, sceneCount);
  if (width == m_knownWidth && height == m_knownHeight) return;
  m_knownWidth = width;
  m_knownHeight = height;
  // Pictures of the old size no longer fit the scenes.
  PlatformLockHold hold(FgDrawLock());
  m_background.Free();
  m_mask.Free();
  m_lastBackground.Free();
}

void CLfStrobePhoto::RefreshDialog() {
  const int32_t b = m_walk.Busy(), e = m_maskEdit.load(), s = m_setBg.m_checked ? 1 : 0;
  SetControlEnabled(&m_setBg, !b && !e);
  SetControlEnabled(&m_currentFrame, !b && !e && s);
  SetControlEnabled(&m_currentBg, !b && !e && s);
  SetControlEnabled(&m_start, !b && !e && s);
  SetControlEnabled(&m_maskLabel, !b && s);
  SetControlEnabled(&m_end, !b && e && s);
  SetControlEnabled(&m_cls, !b && e && s);
  SetControlEnabled(&m_extractLabel, !b && !e);
  SetControlEnabled(&m_extract, !b && !e);
  SetControlEnabled(&m_open, !b && !e);
  SetControlEnabled(&m_save, !b && !e);
  SetControlEnabled(&m_exec, !e);
  CFgUICtrl::Redraw();
}

CFgScreen* CLfStrobePhoto::Parent() { return GetWindow() ? static_cast<CFgScreen*>(this) : nullptr; }

int32_t CLfStrobePhoto::Message(const wchar_t* ja, const wchar_t* en, int32_t error, int32_t kind) {
  const int32_t jp = IsJapanese(m_language);
  const wchar_t* caption = error ? (jp ? L"エラー" : L"error") : (jp ? L"確認" : L"confirmation");
  return FgMessageBox(jp ? ja : en, caption, kind, Parent());
}

void CLfStrobePhoto::ShowPreview(const CImgBuff& picture) {
  if (picture.Pixels()) {
    CImgBuff copy;
    copy.CopyFrom(picture);
    UploadImageToTexture(&m_previewTexture, &copy, 1);
  } else {
    m_previewTexture.Clear();
  }
  m_preview.SetImage(&m_previewTexture);
  CFgUICtrl::Redraw();
}

void CLfStrobePhoto::CopyBackground(CImgBuff* out) {
  PlatformLockHold hold(FgDrawLock());
  if (m_background.Pixels()) out->CopyFrom(m_background);
  else out->Free();
}
void CLfStrobePhoto::CopyMask(CImgBuff* out) {
  PlatformLockHold hold(FgDrawLock());
  if (m_mask.Pixels()) out->CopyFrom(m_mask);
  else out->Free();
}
void CLfStrobePhoto::CopyComposite(CImgBuff* out) {
  PlatformLockHold hold(FgDrawLock());
  if (m_composite.Pixels()) out->CopyFrom(m_composite);
  else out->Free();
}
void CLfStrobePhoto::CopyLastBackground(CImgBuff* out) {
  PlatformLockHold hold(FgDrawLock());
  if (m_lastBackground.Pixels()) out->CopyFrom(m_lastBackground);
  else out->Free();
}

// ---- the chain ------------------------------------------------------------------------------

void CLfStrobePhoto::ShadeMask(CImgBuff* frame, const CImgBuff& mask, const double guide[3]) {
  if (!frame || !frame->Pixels() || !mask.Pixels() || mask.Format() != ImgFormatGray8) return;
  ShadeJob job{frame, &mask, {}, std::min(frame->Width(), mask.Width())};
  uint8_t g[3];
  for (int c = 0; c < 3; ++c) g[c] = uint8_t(std::clamp(guide[c], 0.0, 1.0) * 255.0);
  const int32_t black = !g[0] && !g[1] && !g[2];
  for (int c = 0; c < 3; ++c) {
    job.cell[0][c] = black ? 0 : (g[c] ? 64 : 0);
    job.cell[1][c] = black ? 127 : (g[c] ? 192 : 0);
  }
  const int32_t rows = std::min(frame->Height(), mask.Height());
  RunBands(&ShadeRows, &job, rows, job.width, 1 << 15);
}

void CLfStrobePhoto::Process(CImgBuff* picture, uint64_t, int64_t, int64_t, int64_t, int64_t,
                             uint32_t, uint32_t) {
  if (!picture) return;
  if (m_walk.Busy()) {
    m_walk.Capture(picture);
    return;
  }
  if (!m_maskEdit.load()) return;
  PlatformLockHold hold(FgDrawLock());
  if (m_background.Pixels()) {
    CopyPictureReusing(picture, &m_background);
    if (m_mask.Pixels()) ShadeMask(picture, m_mask, m_guide);
  } else if (picture->Pixels()) {
    std::memset(picture->Pixels(), 0,
                size_t(picture->Width()) * size_t(picture->Height()) *
                    size_t(ImgBytesPerPixel[picture->Format()]));
  }
}

void CLfStrobePhoto::DrawOverlay(PixelToGlFn toGlX, PixelToGlFn toGlY, CFgScreen*, CFgFont*,
                                 int32_t viewX0, int32_t viewY0, int32_t viewX1, int32_t viewY1,
                                 int32_t imageX0, int32_t imageY0, int32_t imageX1,
                                 int32_t imageY1, int32_t zoom) {
  if (!m_dragging.load() || !toGlX || !toGlY) return;
  int32_t ax = m_dragStartX * 4, ay = m_dragStartY * 4;
  int32_t bx = m_dragX * 4 + 3, by = m_dragY * 4 + 3;
  ImageToView(&ax, &ay, viewX0, viewY0, viewX1, viewY1, imageX0, imageY0, imageX1, imageY1, zoom);
  ImageToView(&bx, &by, viewX0, viewY0, viewX1, viewY1, imageX0, imageY0, imageX1, imageY1, zoom);
  if (zoom > 1) {
    ax += zoom / 2;
    ay += zoom / 2;
    bx += zoom / 2;
    by += zoom / 2;
  }
  glColor3d(m_guide[0], m_guide[1], m_guide[2]);
  glBegin(GL_LINE_STRIP);
  glVertex2d(toGlX(ax), toGlY(ay));
  glVertex2d(toGlX(bx), toGlY(ay));
  glVertex2d(toGlX(bx), toGlY(by));
  glVertex2d(toGlX(ax), toGlY(by));
  glVertex2d(toGlX(ax), toGlY(ay));
  glEnd();
  glBegin(GL_POINTS);
  glVertex2d(toGlX(ax), toGlY(ay));
  glEnd();
}

// ---- the mask on the view -------------------------------------------------------------------

void CLfStrobePhoto::OnLButtonDown(int64_t x, int64_t y, uint8_t) {
  if (!m_maskEdit.load()) return;
  {
    PlatformLockHold hold(FgDrawLock());
    m_dragStartX = m_dragX = ClampBlock(x);
    m_dragStartY = m_dragY = ClampBlock(y);
    m_dragging.store(1);
  }
  RequestIfEnabled(this, 0);
}

void CLfStrobePhoto::OnMouseMove(int64_t x, int64_t y, uint8_t) {
  if (!m_dragging.load()) return;
  {
    PlatformLockHold hold(FgDrawLock());
    m_dragX = ClampBlock(x);
    m_dragY = ClampBlock(y);
  }
  RequestIfEnabled(this, 0);
}

void CLfStrobePhoto::OnLButtonUp(int64_t, int64_t, uint8_t) {
  if (!m_dragging.load()) return;
  {
    PlatformLockHold hold(FgDrawLock());
    m_dragging.store(0);
    if (!m_mask.Pixels() && m_background.Pixels())
      m_mask.Allocate(m_background.Width(), m_background.Height(), ImgFormatGray8);
    if (m_mask.Pixels()) {
      // Blocks from the smaller to the larger corner, cut to the mask.
      const int64_t x0 = int64_t(std::min(m_dragStartX, m_dragX)) * 4;
      const int64_t x1 = int64_t(std::max(m_dragStartX, m_dragX)) * 4 + 3;
      const int64_t y0 = int64_t(std::min(m_dragStartY, m_dragY)) * 4;
      const int64_t y1 = int64_t(std::max(m_dragStartY, m_dragY)) * 4 + 3;
      const int64_t cx0 = std::max<int64_t>(x0, 0), cx1 = std::min<int64_t>(x1, m_mask.Width() - 1);
      const int64_t cy0 = std::max<int64_t>(y0, 0), cy1 = std::min<int64_t>(y1, m_mask.Height() - 1);
      for (int64_t yy = cy0; cx0 <= cx1 && yy <= cy1; ++yy)
        std::memset(RowPtr<uint8_t>(m_mask.record, int32_t(cx0), int32_t(yy)), 255,
                    size_t(cx1 - cx0 + 1));
    }
  }
  RequestIfEnabled(this, 0);
}

// ---- buttons --------------------------------------------------------------------------------

void CLfStrobePhoto::OnCurrentFrame() {
  if (m_walk.Busy() || !m_host) return;
  CImgBuff local;
  int32_t got = 0;
  {
    CSceneWalkRun run(&m_walk, this, nullptr);
    if (!run.Started()) return;
    got = m_walk.FetchScene(m_host->GetCurrentScene(), &local) == SceneFetched;
  }  // the bracket clears the cancel flag: a stray press discards this capture only
  // A press on EXEC meanwhile (stopped), or no frame for the tool: nothing changes.
  if (!got || !local.Pixels()) return;
  {
    PlatformLockHold hold(FgDrawLock());
    m_composite.Free();
    m_mask.Free();
    m_background.CopyFrom(local);
  }
  ShowPreview(local);
}

void CLfStrobePhoto::OnCurrentBg() {
  CImgBuff shown;
  {
    PlatformLockHold hold(FgDrawLock());
    m_mask.Free();
    m_composite.Free();
    if (m_lastBackground.Pixels()) {
      m_background.CopyFrom(m_lastBackground);
      shown.CopyFrom(m_background);
    } else {
      m_background.Free();
    }
  }
  ShowPreview(shown);
}

void CLfStrobePhoto::OnMaskStart() {
  CImgBuff bg;
  CopyBackground(&bg);
  if (!bg.Pixels()) {
    Message(L"背景画像が未設定です", L"no BG image", 1, 1);
    return;
  }
  m_maskEdit.store(1);
  RefreshDialog();
  RequestIfEnabled(this, 0);
}

void CLfStrobePhoto::OnMaskEnd() {
  m_maskEdit.store(0);
  RefreshDialog();
  RequestIfEnabled(this, 0);
}

void CLfStrobePhoto::OnMaskClear() {
  {
    PlatformLockHold hold(FgDrawLock());
    m_mask.Free();
  }
  RequestIfEnabled(this, 0);
}

void CLfStrobePhoto::OnThresholdChanged() { RequestIfEnabled(this, 1); }

void CLfStrobePhoto::Execute() {
  if (m_walk.Busy()) {
    m_walk.Cancel();
    return;
  }
  if (m_sceneCount < 2) {
    Message(L"2フレーム以上の画像が必要です", L"need an image of 2 frames or more", 1, 1);
    return;
  }
  CImgBuff background, mask;
  CopyBackground(&background);
  CopyMask(&mask);
  const int32_t useSet = m_setBg.m_checked ? 1 : 0;
  if (useSet && !background.Pixels()) {
    Message(L"背景画像が未設定です", L"no BG image", 1, 1);
    return;
  }
  CImgBuff output, last;
  {
    CSceneWalkRun run(&m_walk, this, &m_exec);
    if (!run.Started()) {
      Message(L"失敗しました", L"failed", 1, 1);
      return;
    }
    RefreshDialog();
    WalkScenes scenes(&m_walk);
    StrobeJob job;
    job.scenes = &scenes;
    job.sceneCount = m_sceneCount;
    job.threshold = Threshold();
    job.useSetBackground = useSet;
    job.setBackground = &background;
    job.setMask = &mask;
    job.lastBackground = &last;
    const int32_t result = StrobeComposeAll(&output, job);
    // The run's background is kept once it was ready, even when the run stops afterwards.
    if (last.Pixels()) {
      PlatformLockHold hold(FgDrawLock());
      m_lastBackground.CopyFrom(last);
    }
    if (QuitRequested) {
      // closing: nothing to say
    } else if (m_walk.Cancelled()) {
      Message(L"中止しました", L"canceled", 0, 1);
    } else if (result == 1 && output.Pixels()) {
      {
        PlatformLockHold hold(FgDrawLock());
        m_composite.CopyFrom(output);
      }
      ShowPreview(output);
    } else {
      Message(L"失敗しました", L"failed", 1, 1);
    }
  }
  RefreshDialog();
}

void CLfStrobePhoto::OnOpenResult() {
  CImgBuff result;
  CopyComposite(&result);
  if (result.Pixels() && m_host) m_host->OpenAsNewImage(&result);
}

void CLfStrobePhoto::SaveImage() {
  CImgBuff result;
  CopyComposite(&result);
  if (!result.Pixels()) {
    Message(L"画像がありません", L"there is no image", 0, 1);
    return;
  }
  const int32_t jp = IsJapanese(m_language);
  wchar_t path[1024] = {};
  FileSelectOptions options;
  options.title = jp ? L"保存するファイル名を選択" : L"select file name to save";
  options.extensions = ImageOpenExtensions();
  if (FgSelectFile(path, 1023, &options, Parent()) != 1 || !path[0]) return;
  if (ConfirmImageSave(&result, path, m_language, Parent()) == 1)
    SaveImageFile(&result, path, m_language, Parent());
}

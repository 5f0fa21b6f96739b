// colour_correction.cpp - CLfColorCorrection: the reference pairs and their transform, the
// pick taken on the worker, the patch window and the settings pack.
// Inside: window - colours - input - processing - settings
//
// Every colour change (clicks, keys, loads, picks on the worker) goes through the filter's own
// lock, so no two interleave; the transform is shared, so a run applies the one it started
// with while another thread replaces it.  Patch textures are refilled after leaving the own
// lock, under the draw lock (lock order: the draw lock, then the own lock).
#include "filters/colour_pixel/colour_correction.h"

#include <cmath>
#include <cstdio>
#include <cwchar>
#include <string>

#include "app/cfgfile.h"
#include "core/imgbuff.h"
#include "engine/whitebalance.h"
#include "filters/colour_pixel/swatch.h"
#include "toolkit/draw.h"
#include "toolkit/screen.h"

FilterWindowPlace CLfColorCorrection::s_classPlace;

namespace {

constexpr int32_t kSide = 96;
// Red, yellow, green, cyan, blue, magenta: the sectors run in this order and back to red.
constexpr uint8_t kDefaults[6][3] = {{175, 54, 60}, {231, 199, 31}, {70, 148, 73},
                                     {8, 133, 161},  {56, 61, 150},  {187, 86, 149}};
constexpr int32_t kPlace[6][2] = {{8, 8}, {216, 112}, {112, 8}, {8, 112}, {216, 8}, {112, 112}};
constexpr int32_t kUpDown[6] = {3, 4, 5, 0, 1, 2};
constexpr int32_t kLeft[6] = {4, 5, 0, 1, 2, 3};
constexpr int32_t kRight[6] = {2, 3, 4, 5, 0, 1};

std::shared_ptr<ColorXform> Build(const ColorPatch* p, uint32_t correctS, uint32_t correctV) {
  double ir[6], ig[6], ib[6], sr[6], sg[6], sb[6];
  for (int i = 0; i < 6; ++i) {
    ir[i] = p[i].imgR, ig[i] = p[i].imgG, ib[i] = p[i].imgB;
    sr[i] = p[i].stdR, sg[i] = p[i].stdG, sb[i] = p[i].stdB;
  }
  ColorXform* xf = BuildColorCorrection(ir, ig, ib, sr, sg, sb, int32_t(correctS),
                                        int32_t(correctV));
  if (!xf) return nullptr;
  return std::shared_ptr<ColorXform>(xf, [](ColorXform* x) { ColorXformDestroy(x); });
}

bool InUnit(double v) { return v >= 0 && v <= 1; }  // NaN fails

}  // namespace

// ---------------------------------------------------------------------------------------
// Window
CLfColorCorrection::CLfColorCorrection() : CFilterWindow(&s_classPlace) {
  for (int i = 0; i < kPatches; ++i) {
    ColorPatch& p = m_patches[i];
    p.stdR = p.imgR = kDefaults[i][0] / 255.0;
    p.stdG = p.imgG = kDefaults[i][1] / 255.0;
    p.stdB = p.imgB = kDefaults[i][2] / 255.0;
    m_stdTextures[i].Create(kSide, kSide, 1, 1, 0, nullptr);
    m_imgTextures[i].Create(kSide, kSide / 2, 1, 1, 0, nullptr);
    m_textures[i] = &m_stdTextures[i];
    m_textures[kPatches + i] = &m_imgTextures[i];
  }
  m_layout.widthEn = m_layout.widthJa = 320;
  m_layout.heightEn = m_layout.heightJa = 216;
  m_layout.textures = m_textures;
  m_layout.textureCount = 2 * kPatches;
  ResetMeasuredColors();
}

CLfColorCorrection::~CLfColorCorrection() {
  PlatformLockHold draw(FgDrawLock());
  for (int i = 0; i < kPatches; ++i) {
    m_stdTextures[i].ReleaseGL();
    m_imgTextures[i].ReleaseGL();
  }
}

const wchar_t* CLfColorCorrection::GetName(const wchar_t* language) {
  return IsJapanese(language) ? L"\x8272\x88DC\x6B63" : L"Color correction";  // "色補正"
}

void CLfColorCorrection::DrawOverlay() {
  CFgUIDialog::DrawOverlay();
  int32_t selected = Selected();
  if (selected >= 0) {
    int32_t px = kPlace[selected][0], py = kPlace[selected][1];
    FgFillRect(this, px - 4, py - 4, px + 100, py + 100, 0, 0, 0);
    FgFillRect(this, px - 1, py - 1, px + 97, py + 97, 1, 1, 1);
  }
  for (int i = 0; i < kPatches; ++i) {
    int32_t px = kPlace[i][0], py = kPlace[i][1];
    if (m_stdTextures[i].AttachToScreen(this) == 1)
      m_stdTextures[i].DrawCell(px, py, kSide, kSide, 0);
    if (m_imgTextures[i].AttachToScreen(this) == 1)
      m_imgTextures[i].DrawCell(px, py, kSide, kSide / 2, 0);
  }
}

void CLfColorCorrection::RefillPatches(uint32_t mask) {
  PlatformLockHold draw(FgDrawLock());
  for (int i = 0; i < kPatches; ++i) {
    if (!(mask & (1u << i))) continue;
    ColorPatch p = Patch(i);
    FillSwatch(&m_stdTextures[i], kSide, kSide, p.stdR, p.stdG, p.stdB);
    FillSwatch(&m_imgTextures[i], kSide, kSide / 2, p.imgR, p.imgG, p.imgB);
  }
  if (m_window) CFgUICtrl::Redraw();
}

int32_t CLfColorCorrection::PatchTextureColour(int32_t patch, int32_t measured, uint8_t rgb[3]) {
  if (patch < 0 || patch >= kPatches) return 0;
  return ReadSwatchColour(measured ? &m_imgTextures[patch] : &m_stdTextures[patch], rgb);
}

// ---------------------------------------------------------------------------------------
// Colours
int32_t CLfColorCorrection::SetColorLocked(int32_t patch, int32_t measured, double r, double g,
                                           double b) {
  if (patch < 0 || patch >= kPatches) return 0;
  if (!InUnit(r) || !InUnit(g) || !InUnit(b)) return 0;
  ColorPatch copy[kPatches];
  for (int i = 0; i < kPatches; ++i) copy[i] = m_patches[i];
  ColorPatch& p = copy[patch];
  if (measured) p.imgR = r, p.imgG = g, p.imgB = b;
  else p.stdR = r, p.stdG = g, p.stdB = b;
  std::shared_ptr<ColorXform> xf = Build(copy, m_correctS, m_correctV);
  if (!xf) return 0;
  m_patches[patch] = p;
  m_xform = std::move(xf);
  return 1;
}

int32_t CLfColorCorrection::SetStandardColor(int32_t patch, double r, double g, double b) {
  int32_t ok;
  {
    PlatformLockHold own(m_lock);
    ok = SetColorLocked(patch, 0, r, g, b);
  }
  if (ok) RefillPatches(1u << patch);
  return ok;
}

int32_t CLfColorCorrection::SetMeasuredColor(int32_t patch, double r, double g, double b) {
  int32_t ok;
  {
    PlatformLockHold own(m_lock);
    ok = SetColorLocked(patch, 1, r, g, b);
  }
  if (ok) RefillPatches(1u << patch);
  return ok;
}

void CLfColorCorrection::MeasuredToStandard(int32_t patch) {
  if (patch < 0 || patch >= kPatches) return;
  ColorPatch p = Patch(patch);
  SetMeasuredColor(patch, p.stdR, p.stdG, p.stdB);
}

void CLfColorCorrection::ResetMeasuredColors() {
  {
    PlatformLockHold own(m_lock);
    for (ColorPatch& p : m_patches) p.imgR = p.stdR, p.imgG = p.stdG, p.imgB = p.stdB;
    m_xform.reset();
  }
  RefillPatches(0x3F);
}

ColorPatch CLfColorCorrection::Patch(int32_t patch) {
  PlatformLockHold own(m_lock);
  return m_patches[patch < 0 || patch >= kPatches ? 0 : patch];
}

int32_t CLfColorCorrection::Selected() {
  PlatformLockHold own(m_lock);
  return m_selected;
}

void CLfColorCorrection::Select(int32_t patch) {
  {
    PlatformLockHold own(m_lock);
    if (patch < -1 || patch >= kPatches) return;
    m_selected = patch;
  }
  if (m_window) CFgUICtrl::Redraw();
}

int32_t CLfColorCorrection::HasTransform() {
  PlatformLockHold own(m_lock);
  return m_xform ? 1 : 0;
}

uint32_t CLfColorCorrection::CorrectS() {
  PlatformLockHold own(m_lock);
  return m_correctS;
}

// ---------------------------------------------------------------------------------------
// Input
void CLfColorCorrection::OnLButtonDown(int64_t x, int64_t y, uint8_t) {
  m_pickX.store(x);
  m_pickY.store(y);
  m_pickPending.store(1);
  RequestIfEnabled(this, 0);
}

void CLfColorCorrection::OnLButtonDown(int32_t x, int32_t y) {
  for (int i = 0; i < kPatches; ++i) {
    int32_t px = kPlace[i][0], py = kPlace[i][1];
    if (x < px || x > px + kSide - 1 || y < py || y > py + kSide - 1) continue;
    Select(i);
    if (y >= py + kSide / 2) {
      MeasuredToStandard(i);
      RequestIfEnabled(this, 0);
    }
    return;
  }
  CFilterWindow::OnLButtonDown(x, y);
}

void CLfColorCorrection::OnKeyStateChanged() {
  const uint16_t keys = GetKeyFlags();
  int32_t old = Selected(), now = old;
  if (old < 0) {
    now = 0;
  } else {
    if (!(keys & FgKeyUp) != !(keys & FgKeyDown)) now = kUpDown[now];
    bool left = keys & FgKeyLeft, right = keys & FgKeyRight;
    if (left != right) now = left ? kLeft[now] : kRight[now];
  }
  if (now != old) Select(now);
}

void CLfColorCorrection::OnChar(wchar_t ch) {
  if (ch != L' ') return;
  int32_t selected = Selected();
  if (selected < 0) return;
  MeasuredToStandard(selected);
  RequestIfEnabled(this, 0);
}

// ---------------------------------------------------------------------------------------
// Processing
void CLfColorCorrection::Process(CImgBuff* picture, uint64_t, int64_t x, int64_t y,
                                 int64_t width, int64_t height, uint32_t, uint32_t) {
  if (!picture) return;
  int32_t format = picture->Format();
  if (format < ImgFormatRgb24 || format > ImgFormatCmyk32) return;
  std::shared_ptr<ColorXform> xform;
  int32_t picked = -1;
  {
    PlatformLockHold own(m_lock);
    if (m_selected >= 0 && m_pickPending.load()) {
      m_pickPending.store(0);
      int64_t px = m_pickX.load(), py = m_pickY.load();
      double sum[3] = {0, 0, 0};
      int32_t n = 0;
      for (int64_t dy = -2; dy <= 2; ++dy)
        for (int64_t dx = -2; dx <= 2; ++dx) {
          int64_t sx = px + dx, sy = py + dy;
          if (sx < 0 || sy < 0 || sx >= picture->Width() || sy >= picture->Height()) continue;
          double r, g, b;
          if (picture->record->GetRGBF(int32_t(sx), int32_t(sy), &r, &g, &b) != 1) continue;
          sum[0] += r, sum[1] += g, sum[2] += b;
          ++n;
        }
      if (n && SetColorLocked(m_selected, 1, sum[0] / n, sum[1] / n, sum[2] / n))
        picked = m_selected;
    }
    xform = m_xform;
  }
  if (picked >= 0) RefillPatches(1u << picked);
  if (!xform) return;
  RoiRect roi = ChainRectToRoi(x, y, width, height);
  if (NormalizeRoi(&roi, picture) != 1) return;
  int32_t whole = roi.x0 == 0 && roi.y0 == 0 && roi.x1 == picture->Width() - 1 &&
                  roi.y1 == picture->Height() - 1;
  if (whole) {
    ColorXformApply(xform.get(), picture);
    return;
  }
  CImgBuff crop;
  if (picture->Crop(crop, roi.x0, roi.y0, roi.x1, roi.y1) != 1) return;
  if (ColorXformApply(xform.get(), &crop) == 1) picture->Paste(crop, roi.x0, roi.y0);
}

// ---------------------------------------------------------------------------------------
// Settings
namespace {

const wchar_t* const kKeys[6] = {L"STD_R", L"STD_G", L"STD_B", L"IMG_R", L"IMG_G", L"IMG_B"};

double& Channel(ColorPatch& p, int key) {
  double* f[6] = {&p.stdR, &p.stdG, &p.stdB, &p.imgR, &p.imgG, &p.imgB};
  return *f[key];
}

// A list element as a number 0 to 1: blanks around it allowed, nothing else.
bool ReadElement(const wchar_t* text, double* out) {
  wchar_t* end = nullptr;
  double v = wcstod(text, &end);
  if (end == text) return false;
  while (*end == L' ' || *end == L'\t') ++end;
  if (*end) return false;
  if (!std::isfinite(v) || !InUnit(v)) return false;
  *out = v;
  return true;
}

}  // namespace

void CLfColorCorrection::SaveParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::SaveParams(pack);
  ColorPatch patches[kPatches];
  uint32_t correctS;
  {
    PlatformLockHold own(m_lock);
    for (int i = 0; i < kPatches; ++i) patches[i] = m_patches[i];
    correctS = m_correctS;
  }
  for (int k = 0; k < 6; ++k) {
    std::wstring text;
    for (int i = 0; i < kPatches; ++i) {
      wchar_t one[400];
      swprintf(one, 400, L",%lf", Channel(patches[i], k));
      if (i) text += L" ";
      text += i ? one : one + 1;
    }
    pack->AddItem(kKeys[k], text.c_str());
  }
  pack->AddItem(L"CORRECT_S", correctS ? L"1" : L"0");
}

void CLfColorCorrection::LoadParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::LoadParams(pack);
  // The twelve colours are taken together or not at all: one by one, a valid saved set may
  // pass through references the correction refuses.
  ColorPatch loaded[kPatches];
  for (int i = 0; i < kPatches; ++i)
    loaded[i] = {kDefaults[i][0] / 255.0, kDefaults[i][1] / 255.0, kDefaults[i][2] / 255.0,
                 kDefaults[i][0] / 255.0, kDefaults[i][1] / 255.0, kDefaults[i][2] / 255.0};
  bool valid = true;
  for (int k = 0; k < 6 && valid; ++k) {
    CCfgItem* item = pack->FindItem(kKeys[k]);
    if (!item) continue;
    wchar_t* element = item->GetList();
    for (int i = 0; i < kPatches && element; ++i) {
      if (!ReadElement(element, &Channel(loaded[i], k))) {
        valid = false;
        break;
      }
      element = item->GetNext(element);
    }
  }
  uint32_t correctS;
  {
    PlatformLockHold own(m_lock);
    correctS = m_correctS;
  }
  if (const CCfgItem* item = pack->FindItem(L"CORRECT_S"))
    correctS = std::wcscmp(item->value, L"0") ? 1 : 0;
  if (!valid) return;
  std::shared_ptr<ColorXform> xf;
  {
    PlatformLockHold own(m_lock);
    xf = Build(loaded, correctS, m_correctV);
    if (!xf) return;
    for (int i = 0; i < kPatches; ++i) m_patches[i] = loaded[i];
    m_correctS = correctS;
    m_xform = std::move(xf);
  }
  RefillPatches(0x3F);
}

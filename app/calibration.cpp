// calibration.cpp - the calibration dialog: build and texts, the controls' values, points
// clicked on the image and their marks, SET, closing and the language switch.
// Inside: texts - construction - build - values - points and marks - SET - close and language
#include "app/calibration.h"

#include <GL/gl.h>

#include <cmath>
#include <cwchar>

#include "app/filter.h"
#include "app/filterctrl.h"
#include "app/mainscreen.h"
#include "toolkit/msgbox.h"

CalibrationPlace g_calibrationPlace;

namespace {

// ---------------------------------------------------------------------------------------
// Texts

struct Texts {
  const wchar_t* title;
  const wchar_t* axisDown;
  const wchar_t* axisUp;
  const wchar_t* pixels;
  const wchar_t* length;
  const wchar_t* unit;
  const wchar_t* set;
  const wchar_t* incorrect;
  const wchar_t* caption;
};

constexpr Texts kJapanese = {L"キャリブレーション設定",
                             L"Y軸下向き",
                             L"Y軸上向き",
                             L"ピクセル距離",
                             L"実距離",
                             L"単位",
                             L"設定",
                             L"長さの値が間違っています",
                             L"エラー"};
constexpr Texts kEnglish = {
    L"Calibration", L"Y axis down", L"Y axis up", L"pixels",
    L"length",      L"unit",        L"SET",       L"the length value is incorrect",
    L"error"};

void CopyUnit(wchar_t* dst, const wchar_t* src) {
  uint64_t n = 0;
  if (src)
    for (; n + 1 < kConfigUnitUnits && src[n]; ++n) dst[n] = src[n];
  dst[n] = 0;
}

// A usable length, pixel distance or scale.
bool PositiveFinite(double v) { return v > 0 && std::isfinite(v); }

}  // namespace

double ParseEditDouble(const wchar_t* text) {
  if (!text) return 0.0;
  return wcstod(text, nullptr);
}

// ---------------------------------------------------------------------------------------
// Construction

CCalibrationUI::CCalibrationUI() {
  // Children in drawing order, added once.
  AddChild(&m_axisDown);
  AddChild(&m_axisUp);
  AddChild(&m_pixelsLabel);
  AddChild(&m_pixelsEdit);
  AddChild(&m_lengthLabel);
  AddChild(&m_lengthEdit);
  AddChild(&m_unitLabel);
  AddChild(&m_unitEdit);
  AddChild(&m_set);
  CFgUIChkButton::AddToGroup(&m_axisDown, &m_axisUp);
  for (CFgUIChkButton* r : {&m_axisDown, &m_axisUp}) {
    r->m_callback = OnRadio;
    r->m_user = this;
  }
  for (CFgUIEdit* e : {&m_pixelsEdit, &m_lengthEdit, &m_unitEdit}) {
    e->OnChanged = OnEditChanged;
    e->CallbackArg = this;
  }
  m_set.m_callback = OnButton;
  m_set.m_user = this;
}

CCalibrationUI::~CCalibrationUI() = default;

// ---------------------------------------------------------------------------------------
// Build

int32_t CCalibrationUI::Build(CFgScreen* parent) {
  // Each opening starts a new two-point measurement.
  m_pointCount = 0;
  m_pointX[0] = 0, m_pointY[0] = 0;
  m_pointX[1] = 1, m_pointY[1] = 0;
  ShowCommitted();

  if (!m_placed && g_calibrationPlace.placed) {
    m_placed = 1;
    m_placeX = g_calibrationPlace.x;
    m_placeY = g_calibrationPlace.y;
  }
  int32_t x = -1, y = -1;
  if (m_placed && m_placeX >= 0) {
    x = m_placeX;
    y = m_placeY;
  }
  const Texts& t = m_english ? kEnglish : kJapanese;
  if (!Create(x, y, 280, 176, t.title, FgStyleDialog, parent)) {
    Redraw();
    return 0;
  }
  m_axisDown.SetText(t.axisDown);
  m_axisUp.SetText(t.axisUp);
  m_pixelsLabel.SetText(t.pixels);
  m_lengthLabel.SetText(t.length);
  m_unitLabel.SetText(t.unit);
  m_set.SetText(t.set);
  struct Place {
    CFgUIObj* w;
    int32_t x, y, width, height;
  } const places[] = {
      {&m_axisDown, 8, 8, 128, 20},     {&m_axisUp, 8, 28, 128, 20},
      {&m_pixelsLabel, 8, 56, 128, 20}, {&m_pixelsEdit, 144, 56, 128, 20},
      {&m_lengthLabel, 8, 84, 128, 20}, {&m_lengthEdit, 144, 84, 128, 20},
      {&m_unitLabel, 8, 112, 128, 20},  {&m_unitEdit, 144, 112, 128, 20},
      {&m_set, 8, 140, 264, 28},
  };
  for (const Place& p : places) p.w->SetRect(p.x, p.y, p.width, p.height);
  Redraw();
  return 1;
}

// ---------------------------------------------------------------------------------------
// Values

void CCalibrationUI::ShowNumber(CFgUIEdit* edit, double value) {
  // The settings file's formatting: "%lf" showed a scale of 0.0000001 as 0, which SET then
  // refused or, as a length, committed as nothing.
  wchar_t text[64];
  FormatConfigScale(value, text, 64);
  edit->SetLine(0, text);
}

void CCalibrationUI::ShowCommitted() {
  m_typedAxisY = m_axisY;
  m_typedLength = m_scale;
  m_typedPixels = 1.0;
  CopyUnit(m_typedUnit, m_unit);
  CFgUIChkButton::SetGroupSelection(&m_axisDown, m_typedAxisY < 0 ? 1 : 0, 0);
  // Setting a box reads its text back through the callback: the exact values are kept.
  const double length = m_typedLength, pixels = m_typedPixels;
  ShowNumber(&m_lengthEdit, length);
  ShowNumber(&m_pixelsEdit, pixels);
  m_unitEdit.SetLine(0, m_typedUnit);
  m_typedLength = length;
  m_typedPixels = pixels;
}

void CCalibrationUI::SetCalibration(double scale, int32_t axisY, const wchar_t* unit) {
  m_scale = scale;
  m_axisY = axisY;
  CopyUnit(m_unit, unit);
  if (!IsOpen()) return;
  // The window shows the calibration now in force, as a fresh opening would.
  ShowCommitted();
  Redraw();
}

void CCalibrationUI::OnRadio(CFgUIChkButton* button, void* user) {
  CCalibrationUI* d = static_cast<CCalibrationUI*>(user);
  d->m_typedAxisY = button == &d->m_axisUp ? -1 : 1;
}

void CCalibrationUI::OnEditChanged(CFgUIEdit* edit, void* user) {
  CCalibrationUI* d = static_cast<CCalibrationUI*>(user);
  if (edit == &d->m_pixelsEdit)
    d->m_typedPixels = ParseEditDouble(edit->GetText());
  else if (edit == &d->m_lengthEdit)
    d->m_typedLength = ParseEditDouble(edit->GetText());
  else if (edit == &d->m_unitEdit)
    CopyUnit(d->m_typedUnit, edit->GetText());
}

void CCalibrationUI::OnButton(CFgUIButton* button, void* user) {
  CCalibrationUI* d = static_cast<CCalibrationUI*>(user);
  if (button == &d->m_set) d->OnSet();
}

// ---------------------------------------------------------------------------------------
// Points and marks

void CCalibrationUI::AddPoint(int32_t x, int32_t y) {
  if (m_pointCount < 0 || m_pointCount >= 2) return;
  m_pointX[m_pointCount] = x;
  m_pointY[m_pointCount] = y;
  ++m_pointCount;
  if (m_mainScreen) m_mainScreen->CFgUICtrl::Redraw();
  if (m_pointCount != 2) return;
  const double dx = double(int64_t(m_pointX[1]) - m_pointX[0]);
  const double dy = double(int64_t(m_pointY[1]) - m_pointY[0]);
  const double distance = std::sqrt(dx * dx + dy * dy);
  ShowNumber(&m_pixelsEdit, distance);
  m_typedPixels = distance;
  Redraw();
}

void CCalibrationUI::DrawMarks(int32_t viewX0, int32_t viewY0, int32_t viewX1, int32_t viewY1,
                               int32_t imageX0, int32_t imageY0, int32_t imageX1, int32_t imageY1,
                               int32_t zoom) {
  const int32_t count = m_pointCount;
  if (count <= 0 || !IsOpen()) return;
  int32_t x[2], y[2];
  for (int32_t i = 0; i < count && i < 2; ++i) {
    x[i] = m_pointX[i];
    y[i] = m_pointY[i];
    ImageToView(&x[i], &y[i], viewX0, viewY0, viewX1, viewY1, imageX0, imageY0, imageX1, imageY1,
                zoom);
    // The middle of the magnified pixel, as the fitted zooms do.
    if (zoom >= 2) {
      x[i] = int32_t(uint32_t(x[i]) + uint32_t(zoom / 2));
      y[i] = int32_t(uint32_t(y[i]) + uint32_t(zoom / 2));
    }
  }
  const uint32_t guide =
      m_mainScreen && m_mainScreen->m_guideColor < 8 ? m_mainScreen->m_guideColor : 1;
  glColor3d(kGuideColors[guide][0], kGuideColors[guide][1], kGuideColors[guide][2]);
  auto gx = [](int64_t v) { return ::PixelToGlX(int32_t(v)); };
  auto gy = [](int64_t v) { return ::PixelToGlY(int32_t(v)); };
  if (count == 1) {
    const int64_t cx = x[0], cy = y[0];
    glBegin(GL_LINES);
    glVertex2d(gx(cx - 4), gy(cy));
    glVertex2d(gx(cx + 5), gy(cy));
    glVertex2d(gx(cx), gy(cy - 4));
    glVertex2d(gx(cx), gy(cy + 5));
    glEnd();
    // A line leaves out its last pixel: the far ends are set as points, so the cross is
    // 10 pixels each way.
    glBegin(GL_POINTS);
    glVertex2d(gx(cx + 5), gy(cy));
    glVertex2d(gx(cx), gy(cy + 5));
    glEnd();
    return;
  }
  glBegin(GL_LINES);
  glVertex2d(gx(x[0]), gy(y[0]));
  glVertex2d(gx(x[1]), gy(y[1]));
  glEnd();
  glBegin(GL_POINTS);
  glVertex2d(gx(x[1]), gy(y[1]));
  glEnd();
}

// ---------------------------------------------------------------------------------------
// SET

void CCalibrationUI::OnSet() {
  // Not only above 0: "inf" reads as a number and would commit an infinite scale, and a
  // quotient can still overflow or vanish.
  const double scale = m_typedLength / m_typedPixels;
  if (!PositiveFinite(m_typedLength) || !PositiveFinite(m_typedPixels) || !PositiveFinite(scale)) {
    const Texts& t = m_english ? kEnglish : kJapanese;
    FgMessageBox(t.incorrect, t.caption, 1, this);
    return;
  }
  m_axisY = m_typedAxisY;
  m_scale = scale;
  CopyUnit(m_unit, m_typedUnit);
  if (!m_mainScreen) return;
  m_mainScreen->m_sidePanel.SetScale(m_scale, m_axisY, m_unit);
  m_mainScreen->m_sidePanel.RequestProcess(0);
}

// ---------------------------------------------------------------------------------------
// Close and language

int32_t CCalibrationUI::OnClose() {
  m_placed = 1;
  m_placeX = m_x;
  m_placeY = m_y;
  g_calibrationPlace = {1, m_x, m_y};
  return 1;
}

void CCalibrationUI::SetLanguage(const wchar_t* language) {
  const uint32_t english = IsJapanese(language) ? 0 : 1;
  if (english == m_english) return;
  m_english = english;
  if (!IsOpen()) return;
  CFgScreen* parent = m_parent;
  OnClose();
  Destroy();
  Build(parent);
}

// filter.cpp - the base bodies every filter inherits, the point mapping of overlays and the
// shared bodies of filters with a settings window.
// Inside: base slots - key, name, parameters, calibration - ImageToView - settings windows
#include "app/filter.h"

#include <cmath>
#include <cwchar>

#include "app/cfgfile.h"
#include "app/filterctrl.h"
#include "toolkit/uiobj.h"

namespace {

// The default language text: the controller's copy replaces it once the filter is added.
const wchar_t kDefaultLanguage[] = L"jp";

// Copies at most units - 1 characters and terminates.
void CopyBounded(wchar_t* dst, int units, const wchar_t* src) {
  int n = 0;
  if (src)
    while (n < units - 1 && src[n]) {
      dst[n] = src[n];
      ++n;
    }
  dst[n] = 0;
}

}  // namespace

int32_t IsJapanese(const wchar_t* language) {
  return language && language[0] == L'j' && language[1] == L'p' && language[2] == 0;
}

// ---------------------------------------------------------------------------------------
// Base slots
CImgFilter::CImgFilter() : m_language(kDefaultLanguage) {}
CImgFilter::~CImgFilter() = default;

int32_t CImgFilter::HasDialog() { return 0; }
void CImgFilter::EnableDialog(int32_t) {}
void CImgFilter::OnEnable(int32_t) {}
void CImgFilter::ShowDialog(int32_t, CFgScreen*) {}
void CImgFilter::OnSourceChanged(uint64_t, uint64_t, uint64_t, uint64_t) {}
void CImgFilter::OnScaleChanged(double, int32_t, const wchar_t*) {}
void CImgFilter::OnOverlayColorChanged(double, double, double) {}
void CImgFilter::Reserved() {}
void CImgFilter::DrawOverlay(PixelToGlFn, PixelToGlFn, CFgScreen*, CFgFont*, int32_t, int32_t,
                             int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t) {}
void CImgFilter::Process(CImgBuff*, uint64_t, int64_t, int64_t, int64_t, int64_t, uint32_t,
                         uint32_t) {}
void CImgFilter::OnMouseMove(int64_t, int64_t, uint8_t) {}
void CImgFilter::OnLButtonDown(int64_t, int64_t, uint8_t) {}
void CImgFilter::OnLButtonUp(int64_t, int64_t, uint8_t) {}
void CImgFilter::OnRButtonDown(int64_t, int64_t, uint8_t) {}
void CImgFilter::OnRButtonUp(int64_t, int64_t, uint8_t) {}

void CImgFilter::ProcessChain(CImgBuff* picture, uint64_t scene, int64_t* x, int64_t* y,
                              int64_t* width, int64_t* height, uint32_t* connectivity,
                              uint32_t* background, uint32_t*, uint32_t*) {
  Process(picture, scene, *x, *y, *width, *height, *connectivity, *background);
}

void CImgFilter::OnLanguageChanged(const wchar_t*) {
  if (!m_dialogVisible) return;
  // Closed and opened again so that the window is laid out for the new language where it was.
  CFgScreen* parent = m_dialogParent;
  m_dialogVisible = 0;
  m_dialogParent = nullptr;
  ShowDialog(0, nullptr);
  m_dialogVisible = 1;
  m_dialogParent = parent;
  ShowDialog(1, parent);
}

// ---------------------------------------------------------------------------------------
// Key, name, parameters, calibration
const wchar_t* CImgFilter::GetKey() {
  if (m_key[0]) return m_key;
  CopyBounded(m_key, kFilterKeyUnits, GetName(L"en"));
  for (wchar_t* p = m_key; *p; ++p) {
    if (*p == L' ') *p = L'_';
    else if (*p >= L'A' && *p <= L'Z') *p = wchar_t(*p - L'A' + L'a');
  }
  return m_key;
}

const wchar_t* CImgFilter::GetName(const wchar_t* language) {
  return IsJapanese(language) ? L"\x7A7A" : L"null";  // "空"
}

void CImgFilter::SaveParams(CCfgPack* pack) {
  if (!pack) return;
  pack->AddItem(L"if_enable", m_filterEnabled ? L"1" : L"0");
  if (HasDialog()) pack->AddItem(L"if_visible", m_dialogVisible ? L"1" : L"0");
}

void CImgFilter::LoadParams(CCfgPack* pack) {
  if (!pack) return;
  if (CCfgItem* item = pack->FindItem(L"if_enable"); item && item->value) {
    if (wcscmp(item->value, L"0") == 0) {
      m_filterEnabled = 0;
      OnEnable(0);
    } else if (wcscmp(item->value, L"1") == 0) {
      m_filterEnabled = 1;
      OnEnable(1);
    }
  }
  if (CCfgItem* item = pack->FindItem(L"if_visible"); item && item->value) {
    if (wcscmp(item->value, L"0") == 0) {
      m_dialogVisible = 0;
      m_dialogParent = nullptr;
      ShowDialog(0, nullptr);
    } else if (wcscmp(item->value, L"1") == 0) {
      m_dialogVisible = 1;
      ShowDialog(1, m_dialogParent);
    }
  }
}

void CImgFilter::SetScale(double scale, int32_t axisY, const wchar_t* unit) {
  m_scale = scale;
  m_axisY = axisY;
  CopyBounded(m_unit, kFilterUnitUnits, unit);
  OnScaleChanged(scale, axisY, unit);
}

// ---------------------------------------------------------------------------------------
// ImageToView
int32_t ImageToView(int32_t* x, int32_t* y, int32_t viewX0, int32_t viewY0, int32_t viewX1,
                    int32_t viewY1, int32_t imageX0, int32_t imageY0, int32_t imageX1,
                    int32_t imageY1, int32_t zoom) {
  // Sums and differences wrap around as 32-bit two's-complement numbers do (through
  // unsigned arithmetic): hostile rectangles give a wrong point, never signed overflow.
  auto sub = [](int32_t a, int32_t b) { return int32_t(uint32_t(a) - uint32_t(b)); };
  auto add = [](int32_t a, int32_t b) { return int32_t(uint32_t(a) + uint32_t(b)); };
  auto toInt = [](double v) {
    if (!(v > -2147483648.0 && v < 2147483648.0)) return int32_t(v > 0 ? INT32_MAX : INT32_MIN);
    return int32_t(v);
  };
  int32_t px = sub(*x, imageX0);
  int32_t py = sub(*y, imageY0);
  if (zoom == 0 || zoom == -1) {
    double sx = double(add(sub(viewX1, viewX0), 1)) / double(add(sub(imageX1, imageX0), 1));
    double sy = double(add(sub(viewY1, viewY0), 1)) / double(add(sub(imageY1, imageY0), 1));
    px = toInt(std::trunc(px * sx));
    py = toInt(std::trunc(py * sy));
    if (sx > 2.0) px = add(px, toInt(std::trunc(sx * 0.5)));
    if (sy > 2.0) py = add(py, toInt(std::trunc(sy * 0.5)));
  } else if (zoom >= 2) {
    px = int32_t(uint32_t(px) * uint32_t(zoom));
    py = int32_t(uint32_t(py) * uint32_t(zoom));
  } else if (zoom <= -2) {
    // INT32_MIN / -1 cannot happen: zoom is at most -2 here.
    px = int32_t(0u - uint32_t(px / zoom));
    py = int32_t(0u - uint32_t(py / zoom));
  }
  *x = add(px, viewX0);
  *y = add(py, viewY0);
  return 1;
}

// ---------------------------------------------------------------------------------------
// Settings windows
void FilterDialogEnable(CFgUIDialog* window, int32_t enable) {
  if (window) window->EnableAll(enable != 0);
}

int32_t FilterDialogClose(CImgFilter* filter, CFgUIDialog*) {
  if (filter && filter->m_dialogVisible) {
    filter->m_dialogVisible = 0;
    filter->m_dialogParent = nullptr;
    filter->ShowDialog(0, nullptr);
    if (filter->m_host) filter->m_host->OnDialogClosed();
  }
  return 0;
}

int32_t FilterDialogShow(CFgUIDialog* window, FilterWindowPlace* own,
                         FilterWindowPlace* classPlace, int32_t show, CFgScreen* parent,
                         uint64_t width, uint64_t height, const wchar_t* title) {
  if (!window) return 0;
  if (!show) {
    if (window->m_window) {
      FilterWindowPlace here{1, window->m_x, window->m_y};
      if (own) *own = here;
      if (classPlace) *classPlace = here;
      window->ShowWindow(0);
    }
    return 1;
  }
  int32_t x = -1, y = -1;
  if (own && own->kept) {
    x = own->x;
    y = own->y;
  } else if (classPlace && classPlace->kept) {
    x = classPlace->x;
    y = classPlace->y;
  }
  // An open window of the same size is only retitled and shown; a new layout (another
  // language) makes a new window at the kept place.
  if (window->m_window && window->m_clientWidth == width && window->m_clientHeight == height) {
    window->SetTitle(title);
    window->ShowWindow(1);
  } else if (!window->Create(x < 0 || y < 0 ? -1 : x, x < 0 || y < 0 ? -1 : y, width, height,
                             title ? title : L"", FgStyleDialog, parent)) {
    window->Redraw();
    return 0;
  }
  window->Redraw();
  return 1;
}

void FilterDialogChanged(CImgFilter* filter, CFgUIDialog* window, uint32_t async) {
  if (window) window->Redraw();
  if (filter && filter->m_filterEnabled && filter->m_host) filter->m_host->RequestProcess(async);
}

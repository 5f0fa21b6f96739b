// mainscreen.cpp - the main window: construction and destruction, layout, mouse and wheel
// routing, the UI lock, the language switch and the program's run.
// Inside: helpers - construction - layout - mouse - wheel - lock and language
//         - scene bar and range - the program
#include "app/mainscreen.h"

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <new>

#include "app/registry.h"
#include "core/parallel.h"
#include "media/media_file.h"
#include "platform/window.h"
#include "toolkit/draw.h"
#include "toolkit/font.h"
#include "toolkit/path.h"

const wchar_t kProgramTitle[] = L"quorvix mini 1.9.2";

const double kGuideColors[8][3] = {
    {0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, 1, 1}, {1, 0, 1}, {1, 1, 0}, {1, 1, 1},
};

namespace {

CMainScreen* g_mainScreen = nullptr;

// ---------------------------------------------------------------------------------------
// Helpers

bool Inside(const LayoutRecord& r, int32_t x, int32_t y) {
  return x >= r.x && y >= r.y && int64_t(x) < int64_t(r.x) + r.width &&
         int64_t(y) < int64_t(r.y) + r.height;
}

// The wheel over a scroll bar: n rows, refused when the position would not change, fall
// below the minimum or let the page reach past the maximum.
void WheelScrollBar(CFgUIScrollBar& bar, int32_t n) {
  int64_t position = int64_t(bar.m_position) + n;
  if (n < 0 && position < bar.m_minimum) position = bar.m_minimum;
  if (n >= 0 && position > int64_t(bar.m_maximum) - bar.m_page + 1)
    position = int64_t(bar.m_maximum) - bar.m_page + 1;
  if (position == bar.m_position || position < bar.m_minimum ||
      position + bar.m_page - 1 > bar.m_maximum)
    return;
  bar.m_position = int32_t(position);
  if (!bar.m_inCallback) {
    bar.m_inCallback = 1;
    if (bar.m_callback) bar.m_callback(&bar, bar.m_user, bar.m_position);
    bar.m_inCallback = 0;
  }
  if (bar.m_owner) bar.m_owner->Redraw();
}

}  // namespace

CMainScreen* TheMainScreen() { return g_mainScreen; }

int32_t SetCpuCount(int32_t count) {
  const uint64_t processors = GetProcessorCount();
  uint64_t n = count <= 0 ? processors : uint64_t(count);
  if (n > processors) n = processors;
  SetWorkerCount(n);
  return int32_t(ActiveWorkerCount());
}

wchar_t* JoinWithSpace(const wchar_t* a, const wchar_t* b) {
  const size_t na = a ? wcslen(a) : 0, nb = b ? wcslen(b) : 0;
  wchar_t* out = static_cast<wchar_t*>(calloc(na + nb + 2, sizeof(wchar_t)));
  if (!out) return nullptr;
  if (na) wmemcpy(out, a, na);
  size_t at = na;
  if (na && nb) out[at++] = L' ';
  if (nb) wmemcpy(out + at, b, nb);
  return out;
}

// ---------------------------------------------------------------------------------------
// Construction

CMainScreen::CMainScreen() {
  if (CompositeFactory make = GetCompositeFactory()) m_composite = make();
  m_sidePanel.m_mainScreen = this;
  m_sidePanel.m_parentScreen = this;
  // Hidden until a source with scenes or the chain asks for them.
  m_sidePanel.m_visible = 0;
  m_sidePanel.OnShow(0, 0);
  m_videoPanel.m_visible = 0;
  m_videoPanel.OnShow(0, 0);
  m_playEdit.m_mainScreen = this;
  m_calibration.m_mainScreen = this;
  m_view.m_overlay = DrawGuides;
  m_view.m_user = this;
  if (m_composite) m_composite->m_mainScreen = this;

  const wchar_t* openStill = L"jpg jpeg tif tiff png bmp dcm";
  const wchar_t* openVideo = L"avi mp4";
  m_extensions[0] = JoinWithSpace(openStill, nullptr);
  m_extensions[1] = JoinWithSpace(L"tif tiff dcm", nullptr);
  m_extensions[2] = JoinWithSpace(openVideo, nullptr);
  m_extensions[3] = JoinWithSpace(L"jpg jpeg tif tiff png bmp", nullptr);
  m_extensions[4] = JoinWithSpace(L"tif tiff", nullptr);
  m_extensions[5] = JoinWithSpace(L"avi mp4", nullptr);
  m_extensions[6] = JoinWithSpace(openStill, openVideo);

  BuildFilterRegistry();  // without it filter lists find no key; nothing else depends on it
  // The filters' overlays convert view pixels of this window (no off-screen target yet).
  SetOverlayTexture(nullptr, 0);
  SetOverlayMainWindow(this);
  m_sidePanel.SetLanguage(L"jp");
  LoadConfig();

  AddChild(&m_sidePanel);
  AddChild(&m_videoPanel);
  AddChild(&m_menuBar);
  AddChild(&m_view);
  BuildMenuBar();
  m_menuBar.m_callback = OnMenuCommand;
  m_menuBar.m_user = this;
}

CMainScreen::~CMainScreen() {
  // The settings first, while every member still holds its value.
  SaveConfig();
  // Then the worker: no run may meet a half-destroyed screen.
  m_sidePanel.Shutdown();
  // No redraw can come now; a newer main screen keeps the mapping it set.
  if (OverlayMainWindow() == this) SetOverlayMainWindow(nullptr);
  free(m_chooserStart);
  m_chooserStart = nullptr;
  free(m_filePath);
  m_filePath = nullptr;
  if (m_media) {
    MediaClose(m_media);
    m_media = nullptr;
  }
  for (wchar_t*& list : m_extensions) {
    free(list);
    list = nullptr;
  }
  m_sidePanel.RemoveAllFilters(1);
  FreeFilterRegistry();
  m_menuBar.ClearMenus();
  delete m_composite;
  m_composite = nullptr;
}

void CMainScreen::DrawBackground() { CFgUIDialog::DrawBackground(); }

// ---------------------------------------------------------------------------------------
// Layout

void CMainScreen::OnSize(uint64_t, uint64_t) { Layout(); }

void CMainScreen::Layout() {
  const int32_t w = int32_t(m_clientWidth), h = int32_t(m_clientHeight);
  const int32_t m = int32_t((m_menuBar.m_owner && m_font ? m_font->Size() : 14) + 8);
  const int32_t bar = m_videoPlace.shown ? kSceneBarHeight : 0;
  m_viewPlace = {0, m, w - (m_sidePlace.shown ? kSidePanelWidth : 0), h - m - bar, 1};
  if (m_videoPlace.shown) {
    m_videoPlace = {0, h - kSceneBarHeight, w, kSceneBarHeight, 1};
    if (w >= 1) {
      m_videoPanel.SetRect(0, h - kSceneBarHeight, w, kSceneBarHeight);
      m_videoPanel.Layout();
    }
  }
  if (m_sidePlace.shown) {
    m_sidePlace = {w - kSidePanelWidth, m, kSidePanelWidth, h - m - bar, 1};
    if (m_sidePlace.height >= 1 &&
        m_sidePanel.SetRect(m_sidePlace.x, m, kSidePanelWidth, m_sidePlace.height))
      m_sidePanel.Layout();
  }
  m_view.SetRect(m_viewPlace.x, m_viewPlace.y, m_viewPlace.width, m_viewPlace.height);
  Redraw();
}

void CMainScreen::ShowSidePanel() {
  if (m_sidePlace.shown) return;
  m_sidePlace.shown = 1;
  Layout();
  m_sidePanel.m_visible = 1;
  m_sidePanel.OnShow(1, 0);
}

void CMainScreen::HideSidePanel() {
  if (!m_sidePlace.shown) return;
  m_sidePanel.m_visible = 0;
  m_sidePanel.OnShow(0, 0);
  if (m_focusChild == &m_sidePanel) SetFocus(nullptr);
  m_sidePlace.shown = 0;
  Layout();
}

// ---------------------------------------------------------------------------------------
// Mouse

uint8_t CMainScreen::ModifierFlags() {
  const uint16_t keys = GetKeyFlags();
  return uint8_t(((keys & FgKeyShift) ? 1 : 0) | ((keys & FgKeyCtrl) ? 2 : 0));
}

CImgFilter* CMainScreen::MouseFilter() {
  CImgFilter* f = m_sidePanel.SelectedFilter();
  return f && f->m_filterEnabled ? f : nullptr;
}

int32_t CMainScreen::PressAllowed(int32_t x, int32_t y) {
  if (m_enabled) return 1;
  return m_imageInput && Inside(m_viewPlace, x, y);
}

void CMainScreen::OnMouseMove(int32_t x, int32_t y) {
  if (!m_leftHeld && !m_rightHeld) {
    m_cursorX = x;
    m_cursorY = y;
    UpdateTitle();
  } else {
    int32_t ix = x, iy = y;
    if (m_view.ClientToImage(&ix, &iy)) {
      m_imageX = ix;
      m_imageY = iy;
      if (!m_calibration.IsOpen())
        if (CImgFilter* f = MouseFilter()) f->OnMouseMove(ix, iy, ModifierFlags());
    }
  }
  CFgUIDialog::OnMouseMove(x, y);
}

void CMainScreen::OnLButtonDown(int32_t x, int32_t y) {
  int32_t ix = x, iy = y;
  if (!PressAllowed(x, y) || !m_view.ClientToImage(&ix, &iy)) {
    CFgUIDialog::OnLButtonDown(x, y);
    return;
  }
  if (m_leftHeld) return;
  m_leftHeld = 1;
  m_imageX = ix;
  m_imageY = iy;
  if (m_calibration.IsOpen()) m_calibration.AddPoint(ix, iy);
  else if (CImgFilter* f = MouseFilter()) f->OnLButtonDown(ix, iy, ModifierFlags());
}

void CMainScreen::OnRButtonDown(int32_t x, int32_t y) {
  int32_t ix = x, iy = y;
  if (!PressAllowed(x, y) || !m_view.ClientToImage(&ix, &iy)) {
    CFgUIDialog::OnRButtonDown(x, y);
    return;
  }
  if (m_rightHeld) return;
  m_rightHeld = 1;
  m_imageX = ix;
  m_imageY = iy;
  if (m_calibration.IsOpen()) {
    if (m_calibration.m_pointCount > 0) --m_calibration.m_pointCount;
    Redraw();
  } else if (CImgFilter* f = MouseFilter()) {
    f->OnRButtonDown(ix, iy, ModifierFlags());
  }
}

void CMainScreen::ReleaseButton(int32_t right, int32_t x, int32_t y) {
  int32_t& held = right ? m_rightHeld : m_leftHeld;
  if (!held) {
    if (right) CFgUIDialog::OnRButtonUp(x, y);
    else CFgUIDialog::OnLButtonUp(x, y);
    return;
  }
  // Released off the image: at the last point it was on.
  int32_t ix = x, iy = y;
  if (!m_view.ClientToImage(&ix, &iy)) {
    ix = m_imageX;
    iy = m_imageY;
  }
  if (!m_calibration.IsOpen()) {
    if (CImgFilter* f = MouseFilter()) {
      if (right) f->OnRButtonUp(ix, iy, ModifierFlags());
      else f->OnLButtonUp(ix, iy, ModifierFlags());
    }
  }
  held = 0;
}

void CMainScreen::OnLButtonUp(int32_t x, int32_t y) { ReleaseButton(0, x, y); }
void CMainScreen::OnRButtonUp(int32_t x, int32_t y) { ReleaseButton(1, x, y); }

// ---------------------------------------------------------------------------------------
// Wheel

void CMainScreen::OnMouseWheel(int32_t x, int32_t y, int32_t n) {
  if (m_sidePlace.shown && Inside(m_sidePlace, x, y)) {
    WheelScrollBar(m_sidePanel.m_rows, n);
    return;
  }
  if (m_videoPlace.shown && (m_wheelMode == 2 || Inside(m_videoPlace, x, y))) {
    int64_t target = int64_t(m_videoPanel.m_position) + n;
    if (target > int64_t(m_videoPanel.m_count) - 1) target = int64_t(m_videoPanel.m_count) - 1;
    if (target < 0) target = 0;
    if (uint64_t(target) != m_videoPanel.m_position) m_videoPanel.SetScene(uint64_t(target));
    return;
  }
  if (m_wheelMode == 1) {
    m_view.ZoomBy(n);
    m_cursorX = x;
    m_cursorY = y;
    UpdateTitle();
  }
}

// ---------------------------------------------------------------------------------------
// Lock and language

void CMainScreen::LockUI() {
  if (m_lockCount == UINT32_MAX) return;
  if (++m_lockCount != 1) return;
  EnableAll(0);
  m_calibration.EnableAll(0);
  m_playEdit.EnableAll(0);
  m_encode.EnableAll(0);
}

void CMainScreen::UnlockUI() {
  if (m_lockCount == 0) return;
  if (--m_lockCount != 0) return;
  EnableAll(1);
  m_calibration.EnableAll(1);
  m_playEdit.EnableAll(1);
  m_encode.EnableAll(1);
}

void CMainScreen::SetLanguage(const wchar_t* language) {
  if (!language) return;
  const wchar_t* current = m_sidePanel.m_language;
  if (current && wcscmp(current, language) == 0) return;
  m_sidePanel.SetLanguage(language);
  m_sidePanel.RequestProcess(0);
  m_calibration.SetLanguage(language);
  m_playEdit.SetLanguage(language);
  m_encode.SetLanguage(language);
  if (m_composite) m_composite->SetLanguage(language);
  BuildMenuBar();
  Layout();
  Redraw();
}

int32_t CMainScreen::SetConnectivity(uint32_t n) {
  if (n != 4 && n != 8) return 0;
  if (m_sidePanel.m_connectivity == n) return 1;
  m_sidePanel.m_connectivity = n;
  m_sidePanel.RequestProcess(0);
  return 1;
}

void CMainScreen::SetGuideColor(int32_t index) {
  if (index < 0 || index > 7) return;
  m_guideColor = uint32_t(index);
  m_sidePanel.SetOverlayColor(kGuideColors[index][0], kGuideColors[index][1], kGuideColors[index][2]);
  Redraw();
}

// ---------------------------------------------------------------------------------------
// Scene bar and range

void CMainScreen::GetPlaySource(int32_t* hasPicture, int32_t* hasMedia, uint64_t* frameCount,
                                uint64_t* currentScene) {
  *hasPicture = m_source.Height() > 0;
  *hasMedia = m_media != nullptr;
  *frameCount = m_media ? m_media->info.frameCount : 0;
  *currentScene = m_currentScene;
}

// ---------------------------------------------------------------------------------------
// The program

int RunMainScreen() {
  StartWorkerPool();
  if (!PlatInit()) {
    fprintf(stderr, "quorvix-mini: no display could be opened (is DISPLAY set?)\n");
    StopWorkerPool();
    return 1;
  }
  CMainScreen* screen = new (std::nothrow) CMainScreen;
  if (!screen) {
    StopWorkerPool();
    return 1;
  }
  g_mainScreen = screen;
  wcsncpy(screen->m_windowTitle, kProgramTitle, kFgTitleUnits - 1);
  int status = 0;
  if (screen->Create(-1, -1, 640, 500, screen->m_windowTitle, FgStyleResizable, nullptr)) {
    screen->UpdateTitle();
    screen->Layout();
    FgRunMessageLoop(screen);
  } else {
    // No window: there is nothing to wait for.
    fprintf(stderr, "quorvix-mini: the main window could not be created\n");
    status = 1;
  }
  delete screen;
  g_mainScreen = nullptr;
  StopWorkerPool();
  return status;
}

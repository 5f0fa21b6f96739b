// menus.cpp - the six menus of the main window and the one handler of their commands.
// File, View and Config describe the current state and are written anew each time they
// open; Processing, Measure and Tool list the filters by their classes' own names and are
// written when the bar is built (construction and each language change).
// Inside: text building - File, View, Config - fixed menus - the bar - dispatch
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "app/mainscreen.h"
#include "app/registry.h"
#include "core/parallel.h"
#include "toolkit/msgbox.h"

int32_t g_menuIndex[kMenuCount] = {-1, -1, -1, -1, -1, -1};

namespace {

// ---------------------------------------------------------------------------------------
// Text building

constexpr size_t kMenuTextUnits = 8192;  // the longest text (Processing) is about 1500

// Appends to a fixed buffer; what does not fit is dropped whole, so a text never ends in
// half an item.
struct MenuText {
  wchar_t* buffer;
  size_t units;
  size_t length;

  MenuText(wchar_t* b, size_t n) : buffer(b), units(n), length(0) { buffer[0] = 0; }
  void Add(const wchar_t* s) {
    const size_t n = wcslen(s);
    if (length + n + 1 > units) return;
    wmemcpy(buffer + length, s, n + 1);
    length += n;
  }
  void AddId(int32_t id) {
    wchar_t number[16];
    swprintf(number, 16, L"\t%d\n", id);
    Add(number);
  }
  // label TAB id LF, id -1 when the item cannot be chosen
  void Item(const wchar_t* label, int32_t id, bool enabled = true) {
    Add(label);
    AddId(enabled ? id : -1);
  }
  // The same behind the tick character.
  void Ticked(bool jp, bool ticked, const wchar_t* label, int32_t id, bool enabled = true) {
    Add(jp ? (ticked ? L"\x2713" : L"\x3000") : (ticked ? L"*" : L" "));
    Item(label, id, enabled);
  }
  void Open(const wchar_t* title) {
    Add(title);
    Add(L"\t{");
  }
  void OpenTicked(bool jp, const wchar_t* title) {
    Add(jp ? L"\x3000" : L" ");
    Open(title);
  }
  void Close() { Add(L"}\n"); }
};

bool IsJapanese(const CMainScreen* s) {
  const wchar_t* language = s->m_sidePanel.m_language;
  return language && wcscmp(language, L"jp") == 0;
}

// The scene bar's count while a source picture is present, else 0.
uint64_t MenuSceneCount(const CMainScreen* s) {
  return s->m_source.Height() != 0 ? s->m_videoPanel.m_count : 0;
}

struct IdLabel {
  int32_t id;
  int32_t value;
  const wchar_t* ja;
  const wchar_t* en;
};

// ---------------------------------------------------------------------------------------
// File, View, Config

const IdLabel kGuideItems[] = {
    {400, 0, L"\x9ED2", L"Black"},
    {407, 7, L"\x767D", L"White"},
    {401, 1, L"\x8D64", L"Red"},
    {402, 2, L"\x7DD1", L"Green"},
    {403, 3, L"\x9752", L"Blue"},
    {404, 4, L"\x30B7\x30A2\x30F3", L"Cyan"},
    {405, 5, L"\x30DE\x30BC\x30F3\x30BF", L"Magenta"},
    {406, 6, L"\x30A4\x30A8\x30ED\x30FC", L"Yellow"},
};

const IdLabel kZoomItems[] = {
    {1000, 0, L"\x30A6\x30A3\x30F3\x30C9\x30A6\x306B\x5408\x308F\x305B\x308B", L"Fit window"},
    {1025, -4, L"  25%", L"  25%"},
    {1050, -2, L"  50%", L"  50%"},
    {1100, 1, L" 100%", L" 100%"},
    {1200, 2, L" 200%", L" 200%"},
    {1400, 4, L" 400%", L" 400%"},
    {1800, 8, L" 800%", L" 800%"},
    {1916, 16, L"1600%", L"1600%"},
};

const IdLabel kSpeedItems[] = {
    {200, 333, L"  3fps", L"  3fps"},  {201, 133, L"  7.5fps", L"  7.5fps"},
    {202, 66, L" 15fps", L" 15fps"},   {203, 33, L" 30fps", L" 30fps"},
    {204, 20, L" 50fps", L" 50fps"},   {205, 16, L" 60fps", L" 60fps"},
    {206, 10, L"100fps", L"100fps"},
};

const IdLabel kRotationItems[] = {
    {500, 0, L"  0", L"  0"},
    {503, -1, L"-90", L"-90"},
    {501, 1, L" 90", L" 90"},
    {502, 2, L"180", L"180"},
};

const wchar_t* const kPickerLabels[8] = {L"OFF", L"RGB", L"HSV", L"CMY",
                                         L"CMYK", L"XYZ", L"L*a*b*", L"L*C*h"};

}  // namespace

const wchar_t* BuildFileMenu(CMainScreen* s) {
  static wchar_t buffer[kMenuTextUnits];
  MenuText t(buffer, kMenuTextUnits);
  if (!s) return buffer;
  const bool jp = IsJapanese(s);
  const uint64_t scenes = MenuSceneCount(s);
  const bool picture = s->m_source.Height() != 0;
  t.Item(jp ? L"\x753B\x50CF\x3092\x958B\x304F" : L"Open image", 0);
  t.Item(jp ? L"\x753B\x50CF\x3092\x4FDD\x5B58" : L"Save image", 1, picture);
  t.Item(jp ? L"\x52D5\x753B\x3092\x4FDD\x5B58" : L"Save video", 5, scenes >= 2);
  t.Item(jp ? L"\x30DE\x30EB\x30C1\x30DA\x30FC\x30B8\x753B\x50CF\x3092\x4FDD\x5B58"
            : L"Save multi page",
         4, scenes >= 2);
  t.Item(jp ? L"\x9023\x756A\x753B\x50CF\x3092\x958B\x304F" : L"Open multi file", 2);
  t.Item(jp ? L"\x9023\x756A\x753B\x50CF\x3092\x4FDD\x5B58" : L"Save multi file", 3, scenes >= 2);
  t.Item(jp ? L"\x753B\x50CF\x60C5\x5831" : (scenes >= 1 ? L"Image info" : L"Info"), 6,
         scenes >= 1);
  t.Item(jp ? L"\x753B\x50CF\x51E6\x7406\x3092\x958B\x304F" : L"Open filter list", 7);
  t.Item(jp ? L"\x753B\x50CF\x51E6\x7406\x3092\x4FDD\x5B58" : L"Save filter list", 8);
  return buffer;
}

const wchar_t* BuildViewMenu(CMainScreen* s) {
  static wchar_t buffer[kMenuTextUnits];
  MenuText t(buffer, kMenuTextUnits);
  if (!s) return buffer;
  const bool jp = IsJapanese(s);
  const uint64_t scenes = MenuSceneCount(s);

  t.OpenTicked(jp, jp ? L"\x8868\x793A\x5185\x5BB9" : L"Image");
  t.Ticked(jp, s->m_displayMode == 2, jp ? L"\x6A19\x6E96" : L"Std", 2);
  t.Ticked(jp, s->m_displayMode == 1, jp ? L"\x30AC\x30A4\x30C9OFF" : L"Guide off", 1);
  t.Ticked(jp, s->m_displayMode == 0, jp ? L"\x5143\x753B\x50CF" : L"Original", 0);
  t.Close();

  t.OpenTicked(jp, jp ? L"\x30AB\x30E9\x30FC\x30D4\x30C3\x30AB\x30FC" : L"Color picker");
  for (int32_t i = 0; i < 8; ++i)
    t.Ticked(jp, s->m_colorPicker == uint32_t(i), kPickerLabels[i], 10 + i);
  t.Close();

  t.OpenTicked(jp, jp ? L"\x30AC\x30A4\x30C9\x8272" : L"Guide color");
  for (const IdLabel& g : kGuideItems)
    t.Ticked(jp, s->m_guideColor == uint32_t(g.value), jp ? g.ja : g.en, g.id);
  t.Close();

  t.OpenTicked(jp, jp ? L"\x500D\x7387" : L"Zoom");
  for (const IdLabel& z : kZoomItems)
    t.Ticked(jp, s->m_view.m_zoom == z.value, jp ? z.ja : z.en, z.id);
  t.Close();

  t.OpenTicked(jp, jp ? L"\x52D5\x753B\x518D\x751F\x901F\x5EA6" : L"Playback speed");
  t.Ticked(jp, s->m_autoFrameInterval != 0, jp ? L"\x52D5\x753B\x30D5\x30A1\x30A4\x30EB" : L" Video",
           299);
  for (const IdLabel& v : kSpeedItems)
    t.Ticked(jp, s->m_playInterval == uint64_t(v.value), jp ? v.ja : v.en, v.id);
  t.Close();

  t.Ticked(jp, false, jp ? L"\x52D5\x753B\x518D\x751F\x7BC4\x56F2" : L"Video playback range",
           20004, scenes >= 2);
  t.Ticked(jp, s->m_frameSkip != 0, jp ? L"\x30D5\x30EC\x30FC\x30E0\x30B9\x30AD\x30C3\x30D7" : L"Skip frame",
           100);
  t.Ticked(jp, s->m_videoPlace.shown != 0, jp ? L"\x30D3\x30C7\x30AA\x30D1\x30CD\x30EB" : L"Video panel",
           101);
  t.Ticked(jp, s->m_sidePlace.shown != 0, jp ? L"\x30B5\x30A4\x30C9\x30D1\x30CD\x30EB" : L"Side panel",
           102);
  return buffer;
}

const wchar_t* BuildConfigMenu(CMainScreen* s) {
  static wchar_t buffer[kMenuTextUnits];
  MenuText t(buffer, kMenuTextUnits);
  if (!s) return buffer;
  const bool jp = IsJapanese(s);

  t.Open(jp ? L"\x56DE\x8EE2" : L"Roll");
  for (const IdLabel& r : kRotationItems) t.Ticked(jp, s->m_rotation == r.value, r.en, r.id);
  t.Close();

  const bool white = s->m_sidePanel.m_background != 0;
  t.Open(jp ? L"\x80CC\x666F\x8272" : L"Bg color");
  t.Ticked(jp, !white, jp ? L"\x9ED2" : L"Black", 0);
  t.Ticked(jp, white, jp ? L"\x767D" : L"White", 255);
  t.Close();

  const bool eight = s->m_sidePanel.m_connectivity == 8;
  t.Open(jp ? L"\x8FD1\x508D" : L"Connect");
  t.Ticked(jp, !eight, L"4", 4);
  t.Ticked(jp, eight, L"8", 8);
  t.Close();

  // One item per processor; the count in use is ticked (none when it exceeds them).
  t.Open(L"CPU");
  const uint64_t processors = GetProcessorCount();
  const uint64_t active = ActiveWorkerCount();
  for (uint64_t n = 1; n <= processors; ++n) {
    wchar_t label[24];
    swprintf(label, 24, L"%u", unsigned(n));
    t.Ticked(jp, n == active, label, int32_t(400 + n));
  }
  t.Close();

  t.Open(jp ? L"\x30DE\x30A6\x30B9\x30DB\x30A4\x30FC\x30EB" : L"Mouse wheel");
  const uint32_t wheel = s->m_wheelMode;
  t.Ticked(jp, wheel != 1 && wheel != 2, jp ? L"OFF" : L"Off", 100);
  t.Ticked(jp, wheel == 1, jp ? L"\x8868\x793A\x500D\x7387\x64CD\x4F5C" : L"Zoom", 101);
  t.Ticked(jp, wheel == 2, jp ? L"\x30B7\x30FC\x30F3\x64CD\x4F5C" : L"Video", 102);
  t.Close();

  t.Open(jp ? L"\x8A00\x8A9E" : L"Language");
  t.Ticked(jp, jp, L"\x65E5\x672C\x8A9E", 300);
  t.Ticked(jp, !jp, jp ? L"Engish" : L"English", 301);
  t.Close();

  t.Ticked(jp, false, jp ? L"\x30AD\x30E3\x30EA\x30D6\x30EC\x30FC\x30B7\x30E7\x30F3\x8A2D\x5B9A" : L"Calibration",
           20001);
  t.Ticked(jp, false, jp ? L"\x753B\x50CF\x4FDD\x5B58\x8A2D\x5B9A" : L"Image save settings", 20002);
  return buffer;
}

namespace {

// ---------------------------------------------------------------------------------------
// Fixed menus: the filters in menu order, submenus between them

struct FixedEntry {
  uint32_t id;           // a FilterId, 1 opens a submenu, 2 closes it, 20003 the composite
  const wchar_t* ja;     // submenu and composite titles
  const wchar_t* en;
};

const FixedEntry kProcessingMenu[] = {
    {10000, nullptr, nullptr}, {10022, nullptr, nullptr}, {10023, nullptr, nullptr},
    {10024, nullptr, nullptr},
    {1, L"\x30AB\x30E9\x30FC\x753B\x50CF\x51E6\x7406", L"Color image processing"},
    {10030, nullptr, nullptr}, {10018, nullptr, nullptr}, {10001, nullptr, nullptr},
    {10025, nullptr, nullptr}, {10026, nullptr, nullptr}, {2, nullptr, nullptr},
    {1, L"\x30D4\x30AF\x30BB\x30EB\x5024\x64CD\x4F5C", L"Pixel processing"},
    {10028, nullptr, nullptr}, {10003, nullptr, nullptr}, {10027, nullptr, nullptr},
    {10007, nullptr, nullptr}, {10006, nullptr, nullptr}, {10017, nullptr, nullptr},
    {10010, nullptr, nullptr}, {10029, nullptr, nullptr}, {10019, nullptr, nullptr},
    {10015, nullptr, nullptr}, {2, nullptr, nullptr},
    {1, L"2\x5024\x753B\x50CF\x51E6\x7406", L"Binary image processing"},
    {10034, nullptr, nullptr}, {10002, nullptr, nullptr}, {10011, nullptr, nullptr},
    {10004, nullptr, nullptr}, {10005, nullptr, nullptr}, {10035, nullptr, nullptr},
    {2, nullptr, nullptr},
    {1, L"\x5909\x5F62", L"Deformation"},
    {10040, nullptr, nullptr}, {10008, nullptr, nullptr}, {10009, nullptr, nullptr},
    {2, nullptr, nullptr},
    {1, L"\x30D5\x30FC\x30EA\x30A8\x5909\x63DB", L"Fourier transform"},
    {10036, nullptr, nullptr}, {10037, nullptr, nullptr}, {10039, nullptr, nullptr},
    {10038, nullptr, nullptr}, {2, nullptr, nullptr},
};

const FixedEntry kMeasureMenu[] = {{10012, nullptr, nullptr}, {10013, nullptr, nullptr}};

const FixedEntry kToolMenu[] = {
    {20003, L"\x6210\x5206\x5408\x6210", L"Composite"},
    {10016, nullptr, nullptr}, {10031, nullptr, nullptr}, {10032, nullptr, nullptr},
    {10033, nullptr, nullptr}, {10020, nullptr, nullptr}, {10021, nullptr, nullptr},
};

template <size_t N>
const wchar_t* BuildFixedMenu(const FixedEntry (&entries)[N], const wchar_t* language, bool jp,
                              wchar_t* buffer, size_t units) {
  MenuText t(buffer, units);
  for (const FixedEntry& e : entries) {
    if (e.id == 1) {
      t.Open(jp ? e.ja : e.en);
    } else if (e.id == 2) {
      t.Close();
    } else if (e.id == kMenuIdComposite) {
      t.Item(jp ? e.ja : e.en, int32_t(e.id));
    } else {
      // The class's own name through a temporary filter (the table's while none is
      // registered); an id without any name is left out rather than shown blank.
      wchar_t name[256];
      if (GetFilterDisplayName(e.id, language, name, 256) && name[0])
        t.Item(name, int32_t(e.id));
    }
  }
  return buffer;
}

template <size_t N>
bool MenuLists(const FixedEntry (&entries)[N], int32_t id) {
  for (const FixedEntry& e : entries)
    if (e.id >= kFilterIdFirst && int32_t(e.id) == id) return true;
  return false;
}

wchar_t g_processingText[kMenuTextUnits];
wchar_t g_measureText[1024];
wchar_t g_toolText[2048];

const wchar_t* ProvideFile(void* s) { return BuildFileMenu(static_cast<CMainScreen*>(s)); }
const wchar_t* ProvideView(void* s) { return BuildViewMenu(static_cast<CMainScreen*>(s)); }
const wchar_t* ProvideConfig(void* s) { return BuildConfigMenu(static_cast<CMainScreen*>(s)); }

}  // namespace

// ---------------------------------------------------------------------------------------
// The bar

void CMainScreen::BuildMenuBar() {
  const wchar_t* language = m_sidePanel.m_language;
  const bool jp = IsJapanese(this);
  BuildFixedMenu(kProcessingMenu, language, jp, g_processingText, kMenuTextUnits);
  BuildFixedMenu(kMeasureMenu, language, jp, g_measureText, 1024);
  BuildFixedMenu(kToolMenu, language, jp, g_toolText, 2048);

  m_menuBar.ClearMenus();
  g_menuIndex[kMenuFile] =
      m_menuBar.AddMenu(jp ? L"\x30D5\x30A1\x30A4\x30EB" : L"File", nullptr, ProvideFile, this);
  g_menuIndex[kMenuView] =
      m_menuBar.AddMenu(jp ? L"\x8868\x793A" : L"View", nullptr, ProvideView, this);
  g_menuIndex[kMenuConfig] =
      m_menuBar.AddMenu(jp ? L"\x8A2D\x5B9A" : L"Config", nullptr, ProvideConfig, this);
  g_menuIndex[kMenuProcessing] =
      g_processingText[0]
          ? m_menuBar.AddMenu(jp ? L"\x51E6\x7406" : L"Processing", g_processingText, nullptr, nullptr)
          : -1;
  g_menuIndex[kMenuMeasure] =
      g_measureText[0]
          ? m_menuBar.AddMenu(jp ? L"\x8A08\x6E2C" : L"Measure", g_measureText, nullptr, nullptr)
          : -1;
  g_menuIndex[kMenuTool] =
      g_toolText[0] ? m_menuBar.AddMenu(jp ? L"\x30C4\x30FC\x30EB" : L"Tool", g_toolText, nullptr, nullptr)
                    : -1;
  if (m_menuBar.m_owner) m_menuBar.LayoutTitles();
}

// ---------------------------------------------------------------------------------------
// Dispatch

void CMainScreen::OnMenuCommand(CFgUIMenuBar*, void* user, int32_t menu, int32_t id) {
  CMainScreen* s = static_cast<CMainScreen*>(user);
  if (!s || id < 0 || menu < 0) return;
  if (menu == g_menuIndex[kMenuFile]) s->OnFileCommand(id);
  else if (menu == g_menuIndex[kMenuView]) s->OnViewCommand(id);
  else if (menu == g_menuIndex[kMenuConfig]) s->OnConfigCommand(id);
  else if (menu == g_menuIndex[kMenuProcessing]) {
    if (MenuLists(kProcessingMenu, id)) s->AddFilterFromMenu(uint32_t(id));
  } else if (menu == g_menuIndex[kMenuMeasure]) {
    if (MenuLists(kMeasureMenu, id)) s->AddFilterFromMenu(uint32_t(id));
  } else if (menu == g_menuIndex[kMenuTool]) {
    if (id == kMenuIdComposite) {
      if (s->m_composite) s->m_composite->Show(s);
    } else if (MenuLists(kToolMenu, id)) {
      s->AddFilterFromMenu(uint32_t(id));
    }
  }
}

void CMainScreen::OnFileCommand(int32_t id) {
  switch (id) {
    case 0: OpenImage(nullptr); break;
    case 1: SaveImage(); break;
    case 2: OpenSequence(); break;
    case 3: SaveFrames(1, 0); break;
    case 4: SaveFrames(0, 0); break;
    case 5: SaveFrames(0, m_videoPanel.m_interval ? m_videoPanel.m_interval : 33); break;
    case 6: ShowImageInfo(); break;
    case 7: OpenFilterList(); break;
    case 8: SaveFilterList(); break;
    default: break;
  }
}

void CMainScreen::SetPlaybackInterval(uint64_t ms) {
  m_playInterval = ms;
  m_videoPanel.m_interval = ms ? ms : 33;  // the bar's step is never 0
  m_videoPanel.m_skip = uint32_t(m_frameSkip);
}

void CMainScreen::OnViewCommand(int32_t id) {
  if (id >= 0 && id <= 2) {
    if (m_displayMode == uint32_t(id)) return;
    m_displayMode = uint32_t(id);
    Reprocess(0);
  } else if (id >= 10 && id <= 17) {
    m_colorPicker = uint32_t(id - 10);
    UpdateTitle();
  } else if (id == 100) {
    m_frameSkip = !m_frameSkip;
    if (m_playInterval != 0) SetPlaybackInterval(m_playInterval);
  } else if (id == 101) {
    if (m_videoPlace.shown) HideVideoPanel(0);
    else ShowVideoPanel(0);
  } else if (id == 102) {
    if (m_sidePlace.shown) HideSidePanel();
    else ShowSidePanel();
  } else if (id >= 200 && id <= 206) {
    m_autoFrameInterval = 0;
    SetPlaybackInterval(uint64_t(kSpeedItems[id - 200].value));
  } else if (id == 299) {
    m_autoFrameInterval = 1;
    SetPlaybackInterval(m_sourceFrameTime ? m_sourceFrameTime : 33);
  } else if (id >= 400 && id <= 407) {
    SetGuideColor(id - 400);
  } else if (id == 20004) {
    if (!m_playEdit.GetWindow()) m_playEdit.Build(this);
  } else {
    for (const IdLabel& z : kZoomItems) {
      if (z.id != id) continue;
      m_view.SetZoom(z.value);
      Redraw();
      return;
    }
  }
}

void CMainScreen::OnConfigCommand(int32_t id) {
  if (id == 0 || id == 255) {
    const uint32_t background = id == 255 ? 1 : 0;
    if (m_sidePanel.m_background == background) return;
    m_sidePanel.m_background = background;
    m_sidePanel.RequestProcess(0);
  } else if (id == 4 || id == 8) {
    SetConnectivity(uint32_t(id));  // repeats the current value: nothing runs
  } else if (id >= 100 && id <= 102) {
    m_wheelMode = uint32_t(id - 100);
  } else if (id == 300 || id == 301) {
    SetLanguage(id == 300 ? L"jp" : L"en");
  } else if (id >= 401 && id <= 464) {
    SetCpuCount(id - 400);
    UpdateTitle();
  } else if (id >= 500 && id <= 503) {
    const int32_t rotation = id == 503 ? -1 : id - 500;
    if (m_rotation == rotation) return;
    m_rotation = rotation;
    const RecordedSourceInfo r = g_recordedSource;
    SetChainImageInfo(r.width, r.height, r.bytesPerPixel, r.sceneCount);
    LoadCurrentScene(1);
  } else if (id == 20001) {
    if (!m_calibration.IsOpen()) m_calibration.Build(this);
  } else if (id == 20002) {
    if (!m_encode.GetWindow()) m_encode.Build(this);
  }
}

void CMainScreen::AddFilterFromMenu(uint32_t id) {
  // An id whose class is not registered creates nothing and is reported like a refusal.
  CImgFilter* filter = CreateFilterById(id);
  if (filter && AddFilter(filter, 1)) return;
  delete filter;
  const bool jp = IsJapanese(this);
  FgMessageBox(jp ? L"\x30D5\x30A3\x30EB\x30BF\x30FC\x3092\x8FFD\x52A0\x3067\x304D\x307E\x305B\x3093\x3067\x3057\x305F"
                  : L"can't add filter",
               jp ? L"\x30A8\x30E9\x30FC" : L"error", 1, this);
}

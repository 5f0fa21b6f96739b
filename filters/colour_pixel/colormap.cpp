// colormap.cpp - CLfColorMap: counting the colours, painting the diagram, the menus, saving
// the diagram and the settings pack.
// Inside: cells - counting - window - menus - processing - saving - settings
//
// Process holds the draw lock and then the filter's own lock for the whole count, paint and
// upload (nothing draws meanwhile), so counting must be quick: 8-bit R,G,B pictures are read
// directly, linearised by a 256-entry table; the HSV view takes the disc direction of each
// hue from a table, and the L*a*b* cells are kept per colour in a process-wide table filled
// as colours are first met.
#include "filters/colour_pixel/colormap.h"

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <mutex>

#include "app/cfgfile.h"
#include "core/colour.h"
#include "core/imgbuff.h"
#include "core/parallel.h"
#include "filters/colour_pixel/diagram.h"
#include "media/imgio/imgio.h"
#include "toolkit/filesel.h"
#include "toolkit/font.h"
#include "toolkit/msgbox.h"
#include "toolkit/screen.h"

FilterWindowPlace CLfColorMap::s_classPlace;

// ---------------------------------------------------------------------------------------
// Cells
namespace {

constexpr uint32_t kCells = 65536;
constexpr uint16_t kUnknown = 0xFFFF;  // cell (255, 255): no sRGB colour falls there

// A cell from table coordinates; -1 when either lies outside 0..255 (or is not a number).
inline int32_t CellOf(double column, double row) {
  double c = std::trunc(column), r = std::trunc(row);
  if (!(c >= 0 && c <= 255 && r >= 0 && r <= 255)) return -1;
  return int32_t(r) * 256 + int32_t(c);
}

inline int32_t XyCell(double X, double Y, double Z) {
  double s = X + Y + Z;
  if (s == 0) return 0;
  return CellOf(255 * X / s, 255 * Y / s);
}

inline int32_t LabCell(double X, double Y, double Z) {
  double L, a, b;
  XyzToLab(X, Y, Z, &L, &a, &b);
  return CellOf((a + 128) / 255 * 255, (b + 128) / 255 * 255);
}

inline int32_t HsvCell(uint16_t h, uint16_t s) {
  uint32_t px, py;
  HueSatToDiscPoint(256, h, s, &px, &py);
  return int32_t(py * 256 + px);
}

// The cell of any pixel through the converting accessors.
int32_t PixelCell(const C_ImgBuff* rec, int32_t x, int32_t y, uint32_t view) {
  if (view == ColorMapHsv) {
    uint16_t h, s, v;
    rec->GetHSV16(x, y, &h, &s, &v);
    return HsvCell(h, s);
  }
  double X, Y, Z;
  rec->GetXYZ(x, y, &X, &Y, &Z);
  return view == ColorMapXy ? XyCell(X, Y, Z) : LabCell(X, Y, Z);
}

// The same values GetXYZ reads from an 8-bit channel.
struct LinearTable {
  double v[256];
  LinearTable() {
    for (int i = 0; i < 256; ++i) {
      double c = i / 255.0;
      v[i] = c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    }
  }
};
const LinearTable& Linear() {
  static const LinearTable table;
  return table;
}

inline void Rgb8ToXyz(const LinearTable& t, const uint8_t* p, double* X, double* Y, double* Z) {
  double R = t.v[p[0]], G = t.v[p[1]], B = t.v[p[2]];
  *X = 0.4124564 * R + 0.3575761 * G + 0.1804375 * B;
  *Y = 0.2126729 * R + 0.7151522 * G + 0.072175 * B;
  *Z = 0.0193339 * R + 0.119192 * G + 0.9503041 * B;
}

// Per-colour cells of the L*a*b* view for 8-bit R,G,B (three cube roots a colour), 2^24
// entries, kUnknown until met.  Racing threads store the same value, so relaxed atomics
// suffice.
uint16_t* CellCache(uint32_t) {
  static uint16_t* cache = nullptr;
  static std::once_flag once;
  std::call_once(once, [] {
    auto* c = static_cast<uint16_t*>(std::malloc(sizeof(uint16_t) << 24));
    if (c) std::memset(c, 0xFF, sizeof(uint16_t) << 24);
    cache = c;
  });
  return cache;
}

// The disc direction of every 16-bit hue, worked out as HueSatToDiscPoint does, so that a
// point costs a multiply and a clamp: cos and sin of the wrapped angle, or the axis the hue
// lies on (0 none, 1 to 4 right, down, left, up).
struct DiscTable {
  double cosv[65536];
  double sinv[65536];
  uint8_t axis[65536];
  DiscTable() {
    constexpr double kPi = 3.14159265358979323846;
    for (uint32_t h = 0; h < 65536; ++h) {
      double a = h / 65535.0 * 2 * kPi;
      int64_t d = int64_t(a / kPi * 18000);
      axis[h] = d == 0 ? 1 : d == 9000 ? 2 : d == 18000 ? 3 : d == 27000 ? 4 : 0;
      if (a > kPi) a -= 2 * kPi;
      cosv[h] = std::cos(a);
      sinv[h] = std::sin(a);
    }
  }
};
const DiscTable& Disc() {
  static const DiscTable table;
  return table;
}

inline int32_t HsvCellFast(const DiscTable& t, uint16_t h, uint16_t s) {
  const double half = 128, r = s / 65535.0 * half;
  double x, y;
  switch (t.axis[h]) {
    case 1: x = half + r, y = half; break;
    case 2: x = half, y = half + r; break;
    case 3: x = half - r, y = half; break;
    case 4: x = half, y = half - r; break;
    default: x = half + r * t.cosv[h], y = half + r * t.sinv[h]; break;
  }
  x = x < 0 ? 0 : x > 255 ? 255 : x;
  y = y < 0 ? 0 : y > 255 ? 255 : y;
  return int32_t(uint32_t(y)) * 256 + int32_t(uint32_t(x));
}

int32_t Rgb8Cell(const LinearTable& t, const uint8_t* p, uint32_t view) {
  if (view == ColorMapHsv) {
    uint16_t h, s, v;
    Rgb16ToHsv16(uint16_t(p[0] * 257), uint16_t(p[1] * 257), uint16_t(p[2] * 257), &h, &s, &v);
    return HsvCellFast(Disc(), h, s);
  }
  double X, Y, Z;
  Rgb8ToXyz(t, p, &X, &Y, &Z);
  return view == ColorMapXy ? XyCell(X, Y, Z) : LabCell(X, Y, Z);
}

// ---------------------------------------------------------------------------------------
// Counting
struct CountJob {
  const C_ImgBuff* rec;
  RoiRect roi;
  uint32_t view;
  uint32_t* counts;
  uint16_t* cache;  // null: compute every pixel
  PlatformLock* merge;
};

void CountColorsRows(void* ctx, uint64_t first, uint64_t count) {
  auto* job = static_cast<CountJob*>(ctx);
  auto* local = static_cast<uint32_t*>(std::calloc(kCells, sizeof(uint32_t)));
  if (!local) return;
  const C_ImgBuff* rec = job->rec;
  const int32_t x0 = job->roi.x0, x1 = job->roi.x1;
  const int32_t y0 = job->roi.y0 + int32_t(first), y1 = y0 + int32_t(count) - 1;
  if (rec->format == ImgFormatRgb24) {
    const LinearTable& t = Linear();
    const auto* base = static_cast<const uint8_t*>(rec->pixels);
    for (int32_t y = y0; y <= y1; ++y) {
      const uint8_t* p = base + (uint64_t(y) * uint64_t(rec->width) + uint64_t(x0)) * 3;
      for (int32_t x = x0; x <= x1; ++x, p += 3) {
        int32_t cell;
        if (job->cache) {
          uint32_t key = uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
          std::atomic_ref<uint16_t> slot(job->cache[key]);
          uint16_t known = slot.load(std::memory_order_relaxed);
          if (known != kUnknown) {
            cell = known;
          } else {
            cell = Rgb8Cell(t, p, job->view);
            if (cell >= 0 && cell != kUnknown)
              slot.store(uint16_t(cell), std::memory_order_relaxed);
          }
        } else {
          cell = Rgb8Cell(t, p, job->view);
        }
        if (cell >= 0) ++local[cell];
      }
    }
  } else {
    for (int32_t y = y0; y <= y1; ++y)
      for (int32_t x = x0; x <= x1; ++x) {
        int32_t cell = PixelCell(rec, x, y, job->view);
        if (cell >= 0) ++local[cell];
      }
  }
  {
    MergeHold hold(job->merge);
    for (uint32_t i = 0; i < kCells; ++i) job->counts[i] += local[i];
  }
  std::free(local);
}

}  // namespace

uint32_t ColorMapCount(const CImgBuff* picture, const RoiRect& roi, uint32_t view,
                       uint32_t* counts) {
  if (!counts) return 0;
  std::memset(counts, 0, kCells * sizeof(uint32_t));
  if (!picture || picture->Format() == ImgFormatNone || view > ColorMapHsv) return 0;
  RoiRect r = roi;
  if (NormalizeRoi(&r, picture) != 1) return 0;
  MergeLock merge;
  CountJob job{picture->record, r, view, counts, nullptr, merge.Get()};
  if (picture->Format() == ImgFormatRgb24 && view == ColorMapLab) job.cache = CellCache(view);
  // One band per worker: each band pays for a private table and one merge of 65,536 cells,
  // so many small pieces would cost more than the counting.
  const int64_t rows = int64_t(r.y1) - r.y0 + 1, width = int64_t(r.x1) - r.x0 + 1;
  if (merge.Valid()) RunBands(&CountColorsRows, &job, rows, width, 262144);
  else CountColorsRows(&job, 0, uint64_t(rows));
  uint32_t most = 0;
  for (uint32_t i = 0; i < kCells; ++i) most = counts[i] > most ? counts[i] : most;
  return most;
}

// ---------------------------------------------------------------------------------------
// Painting
namespace {

struct PaintJob {
  CImgBuff* diagram;
  const uint32_t* counts;
  uint32_t view, type;
  uint8_t bg;
  double most, k;
};

void PaintDiagramRows(void* ctx, uint64_t first, uint64_t count) {
  auto* job = static_cast<PaintJob*>(ctx);
  CImgBuff* d = job->diagram;
  for (uint64_t yy = first; yy < first + count; ++yy) {
    int32_t y = int32_t(yy);
    for (int32_t x = 0; x < 256; ++x) {
      uint8_t grey;
      d->GetGray8(x, y, &grey);
      if (grey == job->bg) continue;
      double c = job->counts[(255 - y) * 256 + x];
      if (job->view == ColorMapHsv) {
        double v;
        if (c == 0) v = 39321;
        else if (job->type == ColorMapStandard) v = std::trunc(45874.5 + 19660.5 * c / job->most);
        else if (job->type == ColorMapLog)
          v = std::trunc(45874.5 + std::log10(1 + 19660.5 * c / job->most) * job->k);
        else v = 65535;
        if (!(v <= 65535)) v = 65535;
        uint16_t h, s, old;
        d->record->GetHSV16(x, y, &h, &s, &old);
        d->SetHSV16(x, y, h, s, uint16_t(v));
      } else {
        double L;
        if (c == 0) L = 30;
        else if (job->type == ColorMapStandard) L = 35 + 65 * c / job->most;
        else if (job->type == ColorMapLog) L = 35 + std::log10(1 + 65 * c / job->most) * job->k;
        else L = 75;
        double X, Y, Z, oldL, a, b;
        d->GetXYZ(x, y, &X, &Y, &Z);
        XyzToLab(X, Y, Z, &oldL, &a, &b);
        d->SetLab(x, y, L, a, b);
      }
    }
  }
}

void WhitenDiagramOutside(CImgBuff* picture) {
  for (int32_t y = 0; y < 256; ++y) {
    for (int32_t x = 0; x < 256; ++x) {
      uint8_t v;
      picture->GetGray8(x, y, &v);
      if (v != 0) break;
      picture->SetGray8(x, y, 255);
    }
    for (int32_t x = 255; x >= 0; --x) {
      uint8_t v;
      picture->GetGray8(x, y, &v);
      if (v != 0) break;
      picture->SetGray8(x, y, 255);
    }
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Window
CLfColorMap::CLfColorMap() : CFilterWindow(&s_classPlace) {
  EnsureDiagramBackgrounds();
  m_counts = static_cast<uint32_t*>(std::calloc(kCells, sizeof(uint32_t)));
  AddChild(&m_menuBar);
  m_menuBar.m_callback = &CLfColorMap::OnMenu;
  m_menuBar.m_user = this;
  m_layoutItems[0] = {&m_menuBar, nullptr, nullptr, 0, 0, 0, 0, 264, 22};
  m_layout.items = m_layoutItems;
  m_layout.count = 1;
  m_layout.widthEn = m_layout.widthJa = 264;
  m_layout.heightEn = m_layout.heightJa = 286;
  m_layout.textures = m_textures;
  m_layout.textureCount = 1;
  ApplyFilterLayout(m_layout, m_language, nullptr, nullptr);
  m_texture.Create(256, 256, 1, 1, 0, nullptr);
}

CLfColorMap::~CLfColorMap() {
  PlatformLockHold draw(FgDrawLock());
  m_texture.ReleaseGL();
  std::free(m_counts);
}

const wchar_t* CLfColorMap::GetName(const wchar_t* language) {
  // "色分布図"
  return IsJapanese(language) ? L"\x8272\x5206\x5E03\x56F3" : L"Color map";
}

int32_t CLfColorMap::FontSize() const { return int32_t(m_font ? m_font->Size() : 14); }

void CLfColorMap::ShowDialog(int32_t show, CFgScreen* parent) {
  if (show) {
    const int32_t jp = IsJapanese(m_language);
    m_menuBar.ClearMenus();
    // "画像ファイル" / "画像を保存", "表示"
    m_menuBar.AddMenu(jp ? L"\x753B\x50CF\x30D5\x30A1\x30A4\x30EB" : L"File",
                      jp ? L"\x753B\x50CF\x3092\x4FDD\x5B58\t1\n" : L"Save image\t1\n", nullptr,
                      nullptr);
    m_menuBar.AddMenu(jp ? L"\x8868\x793A" : L"View", nullptr, &CLfColorMap::MenuProvider, this);
    m_menuBar.LayoutTitles();
  }
  CFilterWindow::ShowDialog(show, parent);
  if (show && m_window) {
    // The window's font is known now: the diagram sits below the menu line.
    int32_t f = FontSize();
    m_layout.heightEn = m_layout.heightJa = uint64_t(f + 272);
    m_layoutItems[0].height = f + 8;
    ApplyFilterLayout(m_layout, m_language, nullptr, nullptr);
    m_menuBar.LayoutTitles();
    CFgUICtrl::Redraw();
  }
}

void CLfColorMap::DrawOverlay() {
  CFgUIDialog::DrawOverlay();
  if (m_hasPicture && m_texture.AttachToScreen(this) == 1)
    m_texture.DrawCell(4, 12 + FontSize(), 256, 256, 0);
}

int32_t CLfColorMap::CopyDiagram(CImgBuff* out) {
  PlatformLockHold draw(FgDrawLock());
  PlatformLockHold own(m_lock);
  if (!m_hasPicture || !out) return 0;
  return CopyTextureToImage(out, &m_texture);
}

// ---------------------------------------------------------------------------------------
// Menus
const wchar_t* CLfColorMap::MenuProvider(void* self) {
  return static_cast<CLfColorMap*>(self)->BuildMenu();
}

const wchar_t* CLfColorMap::BuildMenu() {
  const int32_t jp = IsJapanese(m_language);
  const wchar_t* on = jp ? L"\x2713" : L"*";
  const wchar_t* off = jp ? L"\x3000" : L" ";
  auto tick = [&](bool chosen) { return chosen ? on : off; };
  struct Item {
    const wchar_t *en, *ja;
    int32_t id;
    bool chosen;
  };
  const uint32_t view = m_view, type = m_type, bg = m_bg;
  const Item views[] = {{L"xy", L"xy", 101, view == 0},
                        {L"L*a*b*", L"L*a*b*", 102, view == 1},
                        {L"HSV", L"HSV", 103, view == 2}};
  // "標準", "log変換", "分布"
  const Item types[] = {{L"Std", L"\x6A19\x6E96", 201, type == 0},
                        {L"Log", L"log\x5909\x63DB", 202, type == 1},
                        {L"Distribution", L"\x5206\x5E03", 203, type == 2}};
  // "黒", "白"
  const Item bgs[] = {{L"Black", L"\x9ED2", 301, bg == 0},
                      {L"White", L"\x767D", 302, bg == 255}};
  std::wstring text;
  auto group = [&](const wchar_t* title, const Item* items, int n) {
    text += title;
    text += L"\t{";
    for (int i = 0; i < n; ++i) {
      text += tick(items[i].chosen);
      text += jp ? items[i].ja : items[i].en;
      text += L"\t" + std::to_wstring(items[i].id) + L"\n";
    }
    text += L"}\n";
  };
  // "色度図", "表示方法", "背景色"
  group(jp ? L"\x8272\x5EA6\x56F3" : L"Color diagram", views, 3);
  group(jp ? L"\x8868\x793A\x65B9\x6CD5" : L"type", types, 3);
  group(jp ? L"\x80CC\x666F\x8272" : L"Bg color", bgs, 2);
  m_menuText = text;
  return m_menuText.c_str();
}

void CLfColorMap::OnMenu(CFgUIMenuBar*, void* user, int32_t, int32_t id) {
  static_cast<CLfColorMap*>(user)->OnCommand(id);
}

void CLfColorMap::OnCommand(int32_t command) {
  switch (command) {
    case 1: SaveImage(); return;
    case 101: case 102: case 103: m_view = uint32_t(command - 101); break;
    case 201: case 202: case 203: m_type = uint32_t(command - 201); break;
    case 301: m_bg = 0; break;
    case 302: m_bg = 255; break;
    default: return;
  }
  RequestIfEnabled(this, 0);
}

// ---------------------------------------------------------------------------------------
// Processing
void CLfColorMap::Process(CImgBuff* picture, uint64_t, int64_t x, int64_t y, int64_t width,
                          int64_t height, uint32_t, uint32_t) {
  {
    PlatformLockHold draw(FgDrawLock());
    PlatformLockHold own(m_lock);
    // One reading of each setting: the menus change them without a lock.
    const uint32_t view = m_view, type = m_type;
    const uint8_t bg = uint8_t(m_bg);
    CImgBuff* background = view == ColorMapXy    ? XyDiagramBackground
                           : view == ColorMapLab ? LabDiagramBackground
                                                 : HsvDiagramBackground;
    if (!background || !m_counts) return;
    CImgBuff diagram;
    if (!diagram.CopyFrom(*background)->Format()) return;
    if (bg == 255) WhitenDiagramOutside(&diagram);
    if (picture && picture->Format() != ImgFormatNone) {
      RoiRect roi = ChainRectToRoi(x, y, width, height);
      uint32_t most = ColorMapCount(picture, roi, view, m_counts);
      double k = (view == ColorMapHsv ? 19660.5 : 65.0) / std::log10(double(most) + 1);
      PaintJob job{&diagram, m_counts, view, type, bg, double(most), k};
      if (most) ParallelFor(&PaintDiagramRows, &job, 256);
      else PaintDiagramRows(&job, 0, 256);
    }
    if (UploadImageToTexture(&m_texture, &diagram, 1) == 1) m_hasPicture = 1;
  }
  if (m_window) CFgUICtrl::Redraw();
}

// ---------------------------------------------------------------------------------------
// Saving
void CLfColorMap::SaveImage() {
  const int32_t jp = IsJapanese(m_language);
  CImgBuff copy;
  if (CopyDiagram(&copy) != 1) {
    // "画像がありません", "確認"
    FgMessageBox(jp ? L"\x753B\x50CF\x304C\x3042\x308A\x307E\x305B\x3093" : L"there is no image",
                 jp ? L"\x78BA\x8A8D" : L"confirmation", 1, this);
    return;
  }
  wchar_t path[1024] = {0};
  FileSelectOptions options;
  // "保存するファイル名を選択"
  options.title = jp ? L"\x4FDD\x5B58\x3059\x308B\x30D5\x30A1\x30A4\x30EB\x540D\x3092\x9078\x629E"
                     : L"select file name to save";
  options.extensions = ImageOpenExtensions();
  if (FgSelectFile(path, 1023, &options, this) != 1 || !path[0]) return;
  const wchar_t* language = jp ? L"jp" : L"en";
  if (ConfirmImageSave(&copy, path, language, this) == 1)
    SaveImageFile(&copy, path, language, this);
}

// ---------------------------------------------------------------------------------------
// Settings
void CLfColorMap::SaveParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::SaveParams(pack);
  wchar_t text[32];
  swprintf(text, 32, L"%ld", long(m_view.load()));
  pack->AddItem(L"view", text);
  swprintf(text, 32, L"%ld", long(m_type.load()));
  pack->AddItem(L"type", text);
  swprintf(text, 32, L"%lu", (unsigned long)m_bg.load());
  pack->AddItem(L"bg", text);
}

namespace {

// An optional "-" and digits; anything else (or an overflow) reads as 0.
int64_t ReadStrictDecimal(const wchar_t* text) {
  const wchar_t* p = text;
  bool negative = *p == L'-';
  if (negative) ++p;
  int64_t v = 0;
  for (; *p; ++p) {
    if (*p < L'0' || *p > L'9') return 0;
    if (v > (INT64_MAX - 9) / 10) return 0;
    v = v * 10 + (*p - L'0');
  }
  return negative ? -v : v;
}

}  // namespace

void CLfColorMap::LoadParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::LoadParams(pack);
  if (const CCfgItem* item = pack->FindItem(L"view")) {
    int64_t v = ReadStrictDecimal(item->value);
    if (v >= 0 && v <= 2) m_view = uint32_t(v);
  }
  if (const CCfgItem* item = pack->FindItem(L"type")) {
    int64_t v = ReadStrictDecimal(item->value);
    if (v >= 0 && v <= 2) m_type = uint32_t(v);
  }
  if (const CCfgItem* item = pack->FindItem(L"bg")) {
    int64_t v = ReadStrictDecimal(item->value);
    if (v == 0 || v == 255) m_bg = uint32_t(v);
  }
}

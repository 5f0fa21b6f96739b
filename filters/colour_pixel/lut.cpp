// lut.cpp - CLfLut: the tables and their edits, the pick and the frames, the settings pack
// and the LUT files.  The window's controls and painting are in lut_window.cpp.
// Inside: construction - table edits - processing - settings - LUT files
//
// Locks: the draw lock, then the table lock, on every thread.  An edit takes both (the strip
// upload inside it needs the draw lock, so taking the table lock first could wait on a
// thread that holds the draw lock and wants the table).  A run copies the tables under the
// table lock alone and maps from its copy with no lock held; the pick moves the range bar
// under the draw lock alone.  No lock is held across a waiting request, a message box or the
// chooser.
#include "filters/colour_pixel/lut.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "app/cfgfile.h"
#include "core/imgbuff.h"
#include "core/safefile.h"
#include "filters/colour_pixel/swatch.h"
#include "media/media.h"
#include "toolkit/filesel.h"
#include "toolkit/msgbox.h"
#include "toolkit/path.h"
#include "toolkit/screen.h"

FilterWindowPlace CLfLut::s_classPlace;

namespace {

void Identity(LutTables* t) {
  for (int c = 0; c < 3; ++c)
    for (int i = 0; i < 256; ++i) t->t[c][i] = uint8_t(i);
}

// The chain rectangle x..x+w-1, y..y+h-1 cut to the picture; 0 when nothing is left.
int32_t ClipToPicture(int64_t x, int64_t y, int64_t w, int64_t h, const CImgBuff* picture,
                      RoiRect* out) {
  if (w <= 0 || h <= 0) return 0;
  int64_t x0 = x < 0 ? 0 : x, y0 = y < 0 ? 0 : y;
  // x + w - 1 without overflow: w is at least 1 here.
  int64_t x1 = x > INT64_MAX - (w - 1) ? INT64_MAX : x + (w - 1);
  int64_t y1 = y > INT64_MAX - (h - 1) ? INT64_MAX : y + (h - 1);
  if (x1 >= picture->Width()) x1 = picture->Width() - 1;
  if (y1 >= picture->Height()) y1 = picture->Height() - 1;
  if (x0 > x1 || y0 > y1) return 0;
  *out = {int32_t(x0), int32_t(y0), int32_t(x1), int32_t(y1)};
  return 1;
}

// A comma list of unsigned decimals into entries 0, 1, ...: the first value above 255 (a
// negative one reads as a huge one) ends it, and so does the end of the table.
void ReadByteList(CCfgPack* pack, const wchar_t* key, uint8_t* entries, uint32_t size,
                  uint32_t stride) {
  CCfgItem* item = pack->FindItem(key);
  if (!item || !item->value) return;
  uint32_t n = 0;
  for (wchar_t* e = item->GetList(); e && n < size; e = item->GetNext(e), ++n) {
    unsigned long long v = std::wcstoull(e, nullptr, 10);  // no number reads as 0
    if (v > 255) break;
    entries[n * stride] = uint8_t(v);
  }
}

void WriteByteList(CCfgPack* pack, const wchar_t* key, const uint8_t* entries, uint32_t size,
                   uint32_t stride) {
  std::wstring text;
  for (uint32_t i = 0; i < size; ++i) {
    if (i) text += L',';
    text += std::to_wstring(unsigned(entries[i * stride]));
  }
  pack->AddItem(key, text.c_str());
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Construction
CLfLut::CLfLut() : CFilterWindow(&s_classPlace) {
  Identity(&m_tables);
  Identity(&m_undo);
  std::memcpy(m_palette, kLutDefaultPalette, sizeof m_palette);
  m_strip.Create(256, 30, 1, 1, 0, nullptr);
  for (int32_t i = 0; i < 16; ++i) {
    m_swatch[i].Create(30, 30, 1, 1, 0, nullptr);
    m_textureList[i] = &m_swatch[i];
  }
  m_textureList[16] = &m_strip;
  BuildControls();
  for (int32_t i = 0; i < 16; ++i) FillSwatch(i);
  RefreshDialog();
  m_preserveBox.m_checked = 1;
  m_interpolateBox.m_checked = 1;
}

CLfLut::~CLfLut() {
  PlatformLockHold draw(FgDrawLock());
  m_strip.ReleaseGL();
  for (CFgTexture& t : m_swatch) t.ReleaseGL();
}

const wchar_t* CLfLut::GetName(const wchar_t* language) {
  return IsJapanese(language) ? L"\x7591\x4F3C\x30AB\x30E9\x30FC" : L"Pseudo-color";
}

LutTables CLfLut::GetTables() {
  PlatformLockHold hold(m_tableLock);
  return m_tables;
}

uint32_t CLfLut::GetGrayFlag() {
  PlatformLockHold hold(m_tableLock);
  return m_grayTable;
}

uint32_t CLfLut::GetStopCount() {
  PlatformLockHold hold(m_tableLock);
  return m_stopCount;
}

// ---------------------------------------------------------------------------------------
// Table edits
void CLfLut::RefreshDialog() {
  PlatformLockHold draw(FgDrawLock());
  PlatformLockHold hold(m_tableLock);
  CImgBuff picture;
  if (picture.Allocate(256, 30, ImgFormatRgb24) == 1) {
    auto* p = static_cast<uint8_t*>(picture.Pixels());
    for (int32_t y = 0; y < 30; ++y)
      for (int32_t i = 0; i < 256; ++i)
        for (int c = 0; c < 3; ++c) p[(y * 256 + i) * 3 + c] = m_tables.t[c][i];
    UploadImageToTexture(&m_strip, &picture, 1);
  }
  m_grayTable = LutIsGray(m_tables) ? 1 : 0;
}

template <class Fn>
void CLfLut::TableEdit(Fn&& change) {
  {
    PlatformLockHold draw(FgDrawLock());
    PlatformLockHold hold(m_tableLock);
    m_undo = m_tables;
    change();
    RefreshDialog();
  }
  RequestIfEnabled(this, 0);
  CFgUICtrl::Redraw();
}

void CLfLut::ResetTables() {
  TableEdit([&] {
    Identity(&m_tables);
    m_stopCount = 0;
  });
}

void CLfLut::ApplyPreset(int32_t command) {
  LutTables preset;
  if (LutPreset(command, &preset) != 1) return;
  TableEdit([&] { m_tables = preset; });
}

void CLfLut::BuildFromPalette() {
  const uint32_t interpolate = m_interpolateBox.m_checked ? 1 : 0;
  TableEdit([&] {
    uint8_t lists[3][kMaxStops];
    for (uint32_t i = 0; i < m_stopCount; ++i)
      for (int c = 0; c < 3; ++c) lists[c][i] = m_stops[i][c];
    // An empty list leaves the tables as they are (the undo copy is still taken).
    for (int32_t i = 0; i < 256 && m_stopCount; ++i)
      LutInterpolate(i, &m_tables.t[0][i], &m_tables.t[1][i], &m_tables.t[2][i], lists[0],
                     lists[1], lists[2], m_stopCount, interpolate);
  });
}

void CLfLut::AddStop() {
  {
    PlatformLockHold draw(FgDrawLock());
    PlatformLockHold hold(m_tableLock);
    if (m_stopCount >= kMaxStops) return;
    for (int c = 0; c < 3; ++c) m_stops[m_stopCount][c] = m_palette[m_paletteIndex][c];
    ++m_stopCount;
  }
  BuildFromPalette();
}

void CLfLut::SetRange() {
  int32_t low, high;
  {
    // The pick moves the range bar from the worker, under the draw lock.
    PlatformLockHold draw(FgDrawLock());
    low = m_range.m_low;
    high = m_range.m_high;
  }
  const uint8_t* colour = m_palette[m_paletteIndex];
  const uint32_t preserve = m_preserveBox.m_checked ? 1 : 0;
  TableEdit([&] { LutRangeFill(&m_tables, low, high, colour[0], colour[1], colour[2], preserve); });
}

void CLfLut::Undo() {
  {
    PlatformLockHold draw(FgDrawLock());
    PlatformLockHold hold(m_tableLock);
    // The undo copy stays: a second click finds the tables equal to it already.
    m_tables = m_undo;
    RefreshDialog();
  }
  RequestIfEnabled(this, 0);
  CFgUICtrl::Redraw();
}

// ---------------------------------------------------------------------------------------
// Processing
void CLfLut::OnLButtonDown(int64_t x, int64_t y, uint8_t) {
  if (m_page.load() != 1) return;
  m_pickX.store(x);
  m_pickY.store(y);
  m_pickPending.store(1);
  RequestIfEnabled(this, 0);
}

void CLfLut::PickRange(CImgBuff* picture) {
  if (!m_pickPending.load() || m_page.load() != 1) return;
  m_pickPending.store(0);
  const int64_t px = m_pickX.load(), py = m_pickY.load();
  int32_t lo = 256, hi = -1;
  // The 5 x 5 square, the parts outside the picture left out; the chain rectangle does
  // not limit it.
  for (int64_t sy = py - 2; sy <= py + 2; ++sy)
    for (int64_t sx = px - 2; sx <= px + 2; ++sx) {
      if (sx < 0 || sy < 0 || sx >= picture->Width() || sy >= picture->Height()) continue;
      uint8_t v = 0;
      picture->record->GetGray8(int32_t(sx), int32_t(sy), &v);
      if (v < lo) lo = v;
      if (v > hi) hi = v;
    }
  if (hi < 0) return;
  PlatformLockHold draw(FgDrawLock());
  m_range.m_low = lo;
  m_range.m_high = hi;
  OnRangeChanged(&m_range, this, lo, hi);
}

void CLfLut::Process(CImgBuff* picture, uint64_t, int64_t x, int64_t y, int64_t width,
                     int64_t height, uint32_t, uint32_t) {
  if (!picture || !picture->Format()) return;
  PickRange(picture);
  LutTables tables;
  uint32_t gray;
  {
    PlatformLockHold hold(m_tableLock);
    tables = m_tables;
    gray = m_grayTable;
  }
  RoiRect roi;
  if (!ClipToPicture(x, y, width, height, picture, &roi)) {
    // Nothing to map, but a colour table still makes a gray picture colour.
    if (!gray) {
      int32_t f = picture->Format();
      if (f >= ImgFormatGray8 && f <= ImgFormatGray32)
        picture->record->ConvertTo(f == ImgFormatGray8    ? ImgFormatRgb24
                                   : f == ImgFormatGray16 ? ImgFormatRgb48
                                                          : ImgFormatRgb96);
    }
    return;
  }
  LutMapRect(picture, tables, int32_t(gray), roi);
}

// ---------------------------------------------------------------------------------------
// Settings
void CLfLut::SaveParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::SaveParams(pack);
  LutTables t = GetTables();
  WriteByteList(pack, L"LUT_R", t.t[0], 256, 1);
  WriteByteList(pack, L"LUT_G", t.t[1], 256, 1);
  WriteByteList(pack, L"LUT_B", t.t[2], 256, 1);
  WriteByteList(pack, L"PAL_R", &m_palette[0][0], 16, 3);
  WriteByteList(pack, L"PAL_G", &m_palette[0][1], 16, 3);
  WriteByteList(pack, L"PAL_B", &m_palette[0][2], 16, 3);
  PackWriteFlag(pack, L"PRESERVE_LUMINANCE", m_preserveBox.m_checked ? 1 : 0);
  PackWriteFlag(pack, L"INTERPOLATE", m_interpolateBox.m_checked ? 1 : 0);
}

void CLfLut::LoadParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::LoadParams(pack);
  {
    PlatformLockHold draw(FgDrawLock());
    PlatformLockHold hold(m_tableLock);
    ReadByteList(pack, L"LUT_R", m_tables.t[0], 256, 1);
    ReadByteList(pack, L"LUT_G", m_tables.t[1], 256, 1);
    ReadByteList(pack, L"LUT_B", m_tables.t[2], 256, 1);
    ReadByteList(pack, L"PAL_R", &m_palette[0][0], 16, 3);
    ReadByteList(pack, L"PAL_G", &m_palette[0][1], 16, 3);
    ReadByteList(pack, L"PAL_B", &m_palette[0][2], 16, 3);
    uint32_t flag = m_preserveBox.m_checked ? 1 : 0;
    if (PackReadFlagLenient(pack, L"PRESERVE_LUMINANCE", &flag, nullptr))
      m_preserveBox.m_checked = int32_t(flag);
    flag = m_interpolateBox.m_checked ? 1 : 0;
    if (PackReadFlagLenient(pack, L"INTERPOLATE", &flag, nullptr))
      m_interpolateBox.m_checked = int32_t(flag);
    for (int32_t i = 0; i < 16; ++i) FillSwatch(i);
    RefreshDialog();
    // The labels follow the bars here too, so they never show another colour than the bars.
    ShowPaletteColour();
  }
  CFgUICtrl::Redraw();
}

// ---------------------------------------------------------------------------------------
// LUT files
void CLfLut::Message(const wchar_t* ja, const wchar_t* en, int32_t error) {
  const int32_t jp = IsJapanese(m_language);
  const wchar_t* caption = error ? (jp ? L"\x30A8\x30E9\x30FC" : L"error")
                                 : (jp ? L"\x78BA\x8A8D" : L"confirmation");
  FgMessageBox(jp ? ja : en, caption, 1, this);
}

namespace {

// The chooser's remembered folder, put back when the command ends whatever happens, so
// that this window's choice does not move the chooser of the other windows.
class KeepRememberedFolder {
 public:
  KeepRememberedFolder() { PathCopy(m_saved, kFgPathUnits, LastFolder); }
  ~KeepRememberedFolder() {
    if (m_saved[0])
      FgRememberFolder(m_saved);
    else
      LastFolder[0] = 0;
  }

 private:
  wchar_t m_saved[kFgPathUnits] = {};
};

int32_t ChooseLutPath(wchar_t* path, const wchar_t* title, CFgScreen* parent) {
  wchar_t start[kFgPathUnits] = {};
  PathCopy(start, kFgPathUnits, GetProgramFolder());
  if (PathAppend(start, kFgPathUnits, L"temp.lut") != 1) start[0] = 0;
  FileSelectOptions options;
  options.title = title;
  options.startPath = start[0] ? start : nullptr;
  options.extensions = L"lut";
  path[0] = 0;
  return FgSelectFile(path, kFgPathUnits, &options, parent) == 1 && path[0];
}

}  // namespace

void CLfLut::OpenLut() {
  KeepRememberedFolder keep;
  const int32_t jp = IsJapanese(m_language);
  wchar_t path[kFgPathUnits];
  if (!ChooseLutPath(path, jp ? L"\x30D5\x30A1\x30A4\x30EB\x3092\x9078\x629E" : L"select file",
                     this))
    return;
  const wchar_t* failedJa = L"\x30ED\x30FC\x30C9\x3067\x304D\x307E\x305B\x3093\x3067\x3057\x305F";
  CCfgFile file;
  CCfgPack* pack = file.Load(path) == 1 ? file.FindPack(GetKey()) : nullptr;
  CCfgItem* version = pack ? pack->FindItem(L"lut_ver") : nullptr;
  if (!version || !version->value) {
    Message(failedJa, L"loading failed", 1);
    return;
  }
  long long v = std::wcstoll(version->value, nullptr, 10);  // no number reads as 0
  if (v >= 2) {
    Message(L"\x3088\x308A\x65B0\x3057\x3044\x30D0\x30FC\x30B8\x30E7\x30F3\x3067\x4F5C\x6210"
            L"\x3055\x308C\x305F\x30D5\x30A1\x30A4\x30EB\x306A\x306E\x3067\x8AAD\x3081\x307E"
            L"\x305B\x3093",
            L"It is a file created with a newer version and can not be read", 1);
    return;
  }
  LoadParams(pack);
  RequestIfEnabled(this, 0);
}

void CLfLut::SaveLut() {
  KeepRememberedFolder keep;
  const int32_t jp = IsJapanese(m_language);
  wchar_t path[kFgPathUnits];
  if (!ChooseLutPath(path,
                     jp ? L"\x4FDD\x5B58\x3059\x308B\x30D5\x30A1\x30A4\x30EB\x540D\x3092\x9078"
                          L"\x629E"
                        : L"select file name to save",
                     this))
    return;
  if (MediaFileExists(path) &&
      FgMessageBox(jp ? L"\x4E0A\x66F8\x304D\x4FDD\x5B58\x3057\x307E\x3059\x304B\xFF1F"
                      : L"Do you want to overwrite it?",
                   jp ? L"\x78BA\x8A8D" : L"confirmation", 0, this) != 1)
    return;
  CCfgPack pack;
  pack.SetName(GetKey());
  pack.AddItem(L"lut_ver", L"1");
  SaveParams(&pack);
  // Through a temporary beside the target: a failed write leaves an existing file whole.
  SafeFile out;
  int32_t ok = SafeFileOpenWide(&out, path) == 1;
  if (ok && pack.Write(out.stream) != 1) {
    SafeFileAbort(&out);
    ok = 0;
  }
  if (ok) ok = SafeFileCommit(&out) == 1;
  if (ok)
    Message(L"\x30BB\x30FC\x30D6\x3057\x307E\x3057\x305F", L"saved", 0);
  else
    Message(L"\x30BB\x30FC\x30D6\x3067\x304D\x307E\x305B\x3093\x3067\x3057\x305F",
            L"saving failed", 1);
}

void CLfLut::OnMenuCommand(int32_t command) {
  if (command == 1)
    OpenLut();
  else if (command == 2)
    SaveLut();
  else if (command >= 101 && command <= 105)
    ApplyPreset(command);
}

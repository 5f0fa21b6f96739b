// convolution_menu.cpp - the convolution filter's "Filter" menu: ".fmx" parameter files
// opened and saved, and the five presets.
// Inside: menu - presets - ".fmx" open - ".fmx" save
//
// A ".fmx" file is one pack of the settings text format named by the filter key "filter":
// "fmx_ver" 1, then the filter's settings as SaveParams writes them.
//
// Commands and results:
//   Open filter    chooser; a file that cannot be read, is cut short (its pack lacks the
//                  closing line), has no "filter" pack or no "fmx_ver": "loading failed";
//                  "fmx_ver" 2 or more: the newer-version message; either way nothing
//                  changes.  Else the pack is loaded and applied.
//   Save filter    chooser; an existing file is overwritten only after OK; written through a
//                  temporary beside it: "saved", or "saving failed" with the old file kept
//   Smooth ... Edge   a pack of size 3, the 3 x 3 kernel in the centre, its divisor, "auto
//                  div" on, convolution: loaded and applied
//   every way out after the chooser: its start folder is what it was before
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "app/cfgfile.h"
#include "core/text.h"
#include "filters/colour_pixel/convolution.h"
#include "media/media.h"
#include "toolkit/filesel.h"
#include "toolkit/msgbox.h"
#include "toolkit/path.h"

int32_t CLfFilter::s_menuIndex = -1;

namespace {

constexpr uint64_t kPathBuffer = 1023;  // the chooser's result, in characters

// Template: items "label TAB command LF", the presets as a submenu.
const wchar_t kMenuEn[] =
    L"Open filter\t1\n"
    L"Save filter\t2\n"
    L"Preset\t{"
    L"Smooth\t101\n"
    L"Smooth2\t104\n"
    L"Sharpen\t102\n"
    L"Sharpen2\t105\n"
    L"Edge\t103\n"
    L"}\n";
// "フィルターを開く", "フィルターを保存", "プリセット", "スムージング", "シャープネス", "エッジ"
const wchar_t kMenuJa[] =
    L"\x30D5\x30A3\x30EB\x30BF\x30FC\x3092\x958B\x304F\t1\n"
    L"\x30D5\x30A3\x30EB\x30BF\x30FC\x3092\x4FDD\x5B58\t2\n"
    L"\x30D7\x30EA\x30BB\x30C3\x30C8\t{"
    L"\x30B9\x30E0\x30FC\x30B8\x30F3\x30B0\t101\n"
    L"\x30B9\x30E0\x30FC\x30B8\x30F3\x30B0" L"2\t104\n"
    L"\x30B7\x30E3\x30FC\x30D7\x30CD\x30B9\t102\n"
    L"\x30B7\x30E3\x30FC\x30D7\x30CD\x30B9" L"2\t105\n"
    L"\x30A8\x30C3\x30B8\t103\n"
    L"}\n";

struct Preset {
  int32_t command;
  int32_t kernel[9];
  const wchar_t* div;  // the kernel's sum (1 for the zero-sum edge kernel)
};
const Preset kPresets[5] = {
    {CLfFilter::kSmooth, {1, 2, 1, 2, 12, 2, 1, 2, 1}, L"24"},
    {CLfFilter::kSmooth2, {1, 2, 1, 2, 3, 2, 1, 2, 1}, L"15"},
    {CLfFilter::kSharpen, {-1, -2, -1, -2, 24, -2, -1, -2, -1}, L"12"},
    {CLfFilter::kSharpen2, {-1, -2, -1, -2, 18, -2, -1, -2, -1}, L"6"},
    {CLfFilter::kEdge, {-1, -2, -1, -2, 12, -2, -1, -2, -1}, L"1"},
};

struct Texts {
  const wchar_t *openTitle, *saveTitle, *loadFailed, *newer, *overwrite, *saved, *saveFailed,
      *error, *confirmation;
};
const Texts kEn = {L"select file",
                   L"select file name to save",
                   L"loading failed",
                   L"It is a file created with a newer version and can not be read",
                   L"Do you want to overwrite it?",
                   L"saved",
                   L"saving failed",
                   L"error",
                   L"confirmation"};
// "ファイルを選択", "保存するファイル名を選択", "ロードできませんでした",
// "より新しいバージョンで作成されたファイルなので読めません", "上書き保存しますか？",
// "セーブしました", "セーブできませんでした", "エラー", "確認"
const Texts kJa = {
    L"\x30D5\x30A1\x30A4\x30EB\x3092\x9078\x629E",
    L"\x4FDD\x5B58\x3059\x308B\x30D5\x30A1\x30A4\x30EB\x540D\x3092\x9078\x629E",
    L"\x30ED\x30FC\x30C9\x3067\x304D\x307E\x305B\x3093\x3067\x3057\x305F",
    L"\x3088\x308A\x65B0\x3057\x3044\x30D0\x30FC\x30B8\x30E7\x30F3\x3067\x4F5C\x6210\x3055"
    L"\x308C\x305F\x30D5\x30A1\x30A4\x30EB\x306A\x306E\x3067\x8AAD\x3081\x307E\x305B\x3093",
    L"\x4E0A\x66F8\x304D\x4FDD\x5B58\x3057\x307E\x3059\x304B\xFF1F",
    L"\x30BB\x30FC\x30D6\x3057\x307E\x3057\x305F",
    L"\x30BB\x30FC\x30D6\x3067\x304D\x307E\x305B\x3093\x3067\x3057\x305F",
    L"\x30A8\x30E9\x30FC",
    L"\x78BA\x8A8D"};

// The chooser remembers the folder of every choice; a filter file must not move the start
// folder of the other choosers, so it is kept and given back on every way out.
class KeepChooserFolder {
 public:
  KeepChooserFolder() { std::wmemcpy(m_saved, LastFolder, kFgPathUnits); }
  ~KeepChooserFolder() {
    if (m_saved[0] == 0 || !FgRememberFolder(m_saved)) LastFolder[0] = 0;
  }

 private:
  wchar_t m_saved[kFgPathUnits];
};

// Runs the chooser from "temp.fmx" in the program's folder; 1 with a non-empty path.
int32_t ChooseFmx(wchar_t* path, const wchar_t* title, CFgScreen* parent) {
  std::wstring start = GetProgramFolder();
  if (start.empty() || start.back() != L'/') start += L'/';
  start += L"temp.fmx";
  FileSelectOptions options;
  options.title = title;
  options.startPath = start.c_str();
  options.extensions = L"fmx";
  path[0] = 0;
  return FgSelectFile(path, kPathBuffer, &options, parent) == 1 && path[0] != 0;
}

// 1 when the first pack named key in the file is closed by its "}" line.  The settings
// reader takes a pack that the end of the file cuts off as it stands; a parameter file cut
// short (a copy that stopped, a full disk) is refused as a whole instead, so that it never
// half-changes the filter.  Lines are judged in the pieces the reader uses.
int32_t PackClosedInFile(const wchar_t* path, const wchar_t* key) {
  char* ansi = WideToAnsi(path);
  if (!ansi) return 0;
  FILE* stream = fopen(ansi, "rb");
  free(ansi);
  if (!stream) return 0;
  char piece[4096 + 1];
  int32_t inPack = 0, closed = 0;
  while (!closed && fgets(piece, sizeof piece, stream)) {
    wchar_t* line = Utf8ToWide(piece);
    if (!line) continue;
    if (!inPack) {
      if (NormalizeCfgLine(line) && line[0] == L'[') {
        wchar_t* close = wcschr(line + 1, L']');
        if (close && wcscmp(close + 1, L" {") == 0) {
          *close = 0;
          inPack = wcscmp(line + 1, key) == 0;
        }
      }
    } else if (TrimCfgLine(line) && wcscmp(line, L"}") == 0) {
      closed = 1;
    }
    free(line);
  }
  fclose(stream);
  return closed;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Menu
void CLfFilter::BuildMenu(CFgUIMenuBar* bar, const wchar_t* language) {
  if (!bar) return;
  bar->ClearMenus();
  const int32_t ja = IsJapanese(language);
  // "フィルター"
  s_menuIndex = bar->AddMenu(ja ? L"\x30D5\x30A3\x30EB\x30BF\x30FC" : L"Filter",
                             ja ? kMenuJa : kMenuEn, nullptr, nullptr);
}

void CLfFilter::OnMenuCommand(CFgUIMenuBar*, void* user, int32_t menu, int32_t command) {
  auto* self = static_cast<CLfFilter*>(user);
  if (!self || menu != s_menuIndex || command < kOpenFilter || command > kSharpen2) return;
  if (command == kOpenFilter) self->OpenFilterFile();
  else if (command == kSaveFilter) self->SaveFilterFile();
  else self->ApplyPreset(command);
}

// ---------------------------------------------------------------------------------------
// Presets
int32_t CLfFilter::ApplyPreset(int32_t command) {
  const Preset* preset = nullptr;
  for (const Preset& p : kPresets)
    if (p.command == command) preset = &p;
  if (!preset) return 0;
  int64_t cells[81] = {};
  for (int32_t i = 0; i < 9; ++i) cells[(3 + i / 3) * 9 + 3 + i % 3] = preset->kernel[i];
  CCfgPack pack;
  if (!pack.SetName(GetKey())) return 0;
  pack.AddItem(L"size", L"3");
  PackWriteSignedList(&pack, L"filter_array", cells, 81);
  pack.AddItem(L"div", preset->div);
  pack.AddItem(L"auto_div", L"1");
  pack.AddItem(L"type", L"0");
  LoadParams(&pack);
  return 1;
}

// ---------------------------------------------------------------------------------------
// ".fmx" open
void CLfFilter::OpenFilterFile() {
  const Texts& t = IsJapanese(m_language) ? kJa : kEn;
  KeepChooserFolder keep;
  wchar_t path[kPathBuffer + 1];
  if (!ChooseFmx(path, t.openTitle, this)) return;
  const wchar_t* key = GetKey();
  CCfgFile file;
  const size_t keyLength = key ? wcslen(key) : 0;
  CCfgPack* pack = keyLength >= 1 && keyLength <= 32 && file.Load(path) &&
                           PackClosedInFile(path, key)
                       ? file.FindPack(key)
                       : nullptr;
  if (!pack || !pack->FindItem(L"fmx_ver")) {
    FgMessageBox(t.loadFailed, t.error, 1, this);
    return;
  }
  uint64_t version = 0;
  // As the C conversion reads it: "1abc" is 1, no digits 0.  A minus sign or more digits
  // than 64 bits hold wrap or saturate there to a large number: newer.
  if (!PackReadUnsigned(pack, L"fmx_ver", UINT64_MAX, &version, nullptr)) version = UINT64_MAX;
  if (version >= 2) {
    FgMessageBox(t.newer, t.error, 1, this);
    return;
  }
  LoadParams(pack);
}

// ---------------------------------------------------------------------------------------
// ".fmx" save
void CLfFilter::SaveFilterFile() {
  const Texts& t = IsJapanese(m_language) ? kJa : kEn;
  KeepChooserFolder keep;
  wchar_t path[kPathBuffer + 1];
  if (!ChooseFmx(path, t.saveTitle, this)) return;
  if (MediaFileExists(path) && FgMessageBox(t.overwrite, t.confirmation, 0, this) != 1) return;
  CCfgFile file;
  CCfgPack* pack = file.AddPack(GetKey());
  int32_t ok = 0;
  if (pack) {
    pack->AddItem(L"fmx_ver", L"1");
    SaveParams(pack);
    // Written beside the target and renamed over it only after a good close.
    ok = file.Save(path);
  }
  FgMessageBox(ok ? t.saved : t.saveFailed, ok ? t.confirmation : t.error, 1, this);
}

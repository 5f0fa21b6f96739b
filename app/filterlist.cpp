// filterlist.cpp - filter-list files: the current chain with the connectivity, background
// and calibration written as settings packs, and read back into a new chain; the File
// menu's two items around them; the main screen's way to add a filter.
// Inside: texts - loading - saving - the File menu items - adding a filter
//
// A list is checked whole before the current chain is touched: a file that is no filter
// list, is newer, or names a key that makes no filter leaves chain, panel and settings as
// they were (the user's work is not thrown away for a file that cannot replace it).
#include "app/filterlist.h"

#include <cstdlib>
#include <cwchar>
#include <new>

#include "app/cfgfile.h"
#include "app/config.h"
#include "app/mainscreen.h"
#include "app/registry.h"
#include "core/safefile.h"
#include "core/text.h"
#include "media/media.h"
#include "toolkit/filesel.h"
#include "toolkit/msgbox.h"
#include "toolkit/path.h"

namespace {

// ---------------------------------------------------------------------------------------
// Texts

struct Text {
  const wchar_t* ja;
  const wchar_t* en;
};
constexpr Text kNewer = {L"より新しいバージョンで作成されたファイルなので読めません",
                         L"It is a file created with a newer version and can not be read"};
constexpr Text kLoadFailed = {L"ロードできませんでした", L"loading failed"};
constexpr Text kSaved = {L"セーブしました", L"saved"};
constexpr Text kSaveFailed = {L"セーブできませんでした", L"saving failed"};
constexpr Text kOverwrite = {L"上書き保存しますか？", L"Do you want to overwrite it?"};
constexpr Text kError = {L"エラー", L"error"};
constexpr Text kConfirm = {L"確認", L"confirmation"};
constexpr Text kTitleOpen = {L"ファイルを選択", L"select file"};
constexpr Text kTitleSave = {L"保存するファイル名を選択", L"select file name to save"};

constexpr const wchar_t* kPackName = L"quorvix";
constexpr const wchar_t* kDefaultName = L"quorvix_duvu.ifl";
constexpr uint64_t kChooserUnits = 1024;  // 1023 characters and the terminator

const wchar_t* Pick(const Text& t, const wchar_t* language) {
  return IsJapanese(language) ? t.ja : t.en;
}

int32_t Tell(CMainScreen* screen, const Text& text, const Text& caption, int32_t kind) {
  const wchar_t* language = screen->m_sidePanel.m_language;
  return FgMessageBox(Pick(text, language), Pick(caption, language), kind, screen);
}

// "ifl_ver" as the C library reads an unsigned number: blanks skipped, a sign, digits up to
// the first other character ("1abc" is 1); beyond the range the largest value.
unsigned long ReadVersion(const wchar_t* text) { return wcstoul(text, nullptr, 10); }

// The value of key in pack; null when the pack has no such item.
const wchar_t* Value(const CCfgPack* pack, const wchar_t* key) {
  const CCfgItem* item = pack->FindItem(key);
  return item ? item->value : nullptr;
}

void CopyCut(wchar_t* dst, uint64_t units, const wchar_t* src) {
  size_t n = wcslen(src);
  if (n > units - 1) n = units - 1;
  wmemcpy(dst, src, n);
  dst[n] = 0;
}

// Deletes the filters of a list that never reached the chain.
void DeleteFilters(CImgFilter** filters, uint64_t count) {
  for (uint64_t i = 0; i < count; ++i) delete filters[i];
  free(filters);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Loading

int32_t LoadFilterList(CMainScreen* screen, const wchar_t* path) {
  if (!screen || !path) return 0;
  CCfgFile file;
  if (!file.Load(path)) return 0;
  CCfgPack* head = file.firstPack;
  if (!head || wcscmp(head->name, kPackName) != 0) return 0;
  const wchar_t* version = Value(head, L"ifl_ver");
  if (!version) return 0;
  if (ReadVersion(version) > 1) {
    Tell(screen, kNewer, kError, 1);
    return 0;
  }

  // Every filter is made before anything changes.
  uint64_t count = 0;
  for (CCfgPack* p = head->next; p; p = p->next) ++count;
  CImgFilter** made = nullptr;
  if (count) {
    made = static_cast<CImgFilter**>(calloc(count, sizeof(CImgFilter*)));
    if (!made) return 0;
    uint64_t i = 0;
    for (CCfgPack* p = head->next; p; p = p->next, ++i) {
      made[i] = CreateFilterByKey(p->name);
      if (!made[i]) {
        DeleteFilters(made, i);
        return 0;
      }
    }
  }

  CSidePanel& panel = screen->m_sidePanel;
  while (panel.RemoveFilter(0)) {
  }

  CCalibrationUI& cal = screen->m_calibration;
  const wchar_t* t;
  if ((t = Value(head, L"connect"))) {
    const int32_t n = ParseInt(t);
    if (n == 4 || n == 8) screen->SetConnectivity(uint32_t(n));
  }
  if ((t = Value(head, L"bg"))) {
    int32_t bg = -1;
    if (wcscmp(t, L"0") == 0) bg = 0;
    else if (wcscmp(t, L"1") == 0) bg = 1;
    if (bg >= 0 && uint32_t(bg) != panel.m_background) {
      panel.m_background = uint32_t(bg);
      panel.RequestProcess(0);
    }
  }
  if ((t = Value(head, L"axis_y"))) {
    if (wcscmp(t, L"-1") == 0) cal.m_axisY = -1;
    else if (wcscmp(t, L"1") == 0) cal.m_axisY = 1;
  }
  if ((t = Value(head, L"scale"))) {
    const double scale = ParseDouble(t, 0);
    if (scale > 0) cal.m_scale = scale;
  }
  if ((t = Value(head, L"unit"))) CopyCut(cal.m_unit, kConfigUnitUnits, t);

  int32_t result = 1;
  uint64_t added = 0;
  uint64_t i = 0;
  for (CCfgPack* p = head->next; p; p = p->next, ++i) {
    if (!panel.AddFilter(made[i])) {
      // No room for a longer chain: the rest of the list is dropped and the load fails.
      for (uint64_t j = i; j < count; ++j) delete made[j];
      result = 0;
      break;
    }
    ++added;
    screen->ShowSidePanel();
    made[i]->LoadParams(p);
  }
  free(made);

  panel.SetScale(cal.m_scale, cal.m_axisY, cal.m_unit);
  panel.RequestProcess(0);
  if (added) screen->ShowSidePanel();
  else screen->HideSidePanel();
  screen->Reprocess(0);
  return result;
}

// ---------------------------------------------------------------------------------------
// Saving

int32_t SaveFilterList(CMainScreen* screen, const wchar_t* path) {
  if (!screen || !path || !path[0]) return 0;
  CSidePanel& panel = screen->m_sidePanel;
  const CCalibrationUI& cal = screen->m_calibration;
  CCfgFile file;
  CCfgPack* head = file.AddPack(kPackName);
  if (!head) return 0;
  wchar_t connect[16], bg[16], axis[16], scale[64];
  swprintf(connect, 16, L"%d", int32_t(panel.m_connectivity));
  swprintf(bg, 16, L"%d", int32_t(panel.m_background));
  swprintf(axis, 16, L"%d", cal.m_axisY);
  // The settings file's decimals: the scale reads back as the same number.
  FormatConfigScale(cal.m_scale, scale, 64);
  if (!head->AddItem(L"ifl_ver", L"1") || !head->AddItem(L"connect", connect) ||
      !head->AddItem(L"bg", bg) || !head->AddItem(L"axis_y", axis) ||
      !head->AddItem(L"scale", scale) || !head->AddItem(L"unit", cal.m_unit))
    return 0;
  for (uint64_t i = 0; i < panel.FilterCount(); ++i) {
    CImgFilter* filter = panel.FilterAt(i);
    if (!filter) return 0;
    CCfgPack* pack = file.AddPack(filter->GetKey());
    if (!pack) return 0;
    filter->SaveParams(pack);
  }
  // Written beside the target and renamed over it only when whole: a failed save keeps
  // the list that was there.
  SafeFile out;
  if (!SafeFileOpenWide(&out, path)) return 0;
  for (const CCfgPack* pack = file.firstPack; pack; pack = pack->next) {
    if (!pack->Write(out.stream)) {
      SafeFileAbort(&out);
      return 0;
    }
  }
  return SafeFileCommit(&out);
}

// ---------------------------------------------------------------------------------------
// The File menu items

namespace {

void ChooseFilterList(CMainScreen* screen, int32_t saving) {
  const wchar_t* language = screen->m_sidePanel.m_language;
  // Choosing a list must not move the folder in which images are opened.
  wchar_t imageFolder[kFgPathUnits];
  PathCopy(imageFolder, kFgPathUnits, LastFolder);

  wchar_t start[kFgPathUnits] = {};
  if (screen->m_filterListPath[0]) {
    PathCopy(start, kFgPathUnits, screen->m_filterListPath);
  } else if (!PathCopy(start, kFgPathUnits, GetProgramFolder()) ||
             !PathAppend(start, kFgPathUnits, kDefaultName)) {
    PathCopy(start, kFgPathUnits, kDefaultName);
  }
  wchar_t path[kChooserUnits] = {};
  FileSelectOptions options;
  options.title = Pick(saving ? kTitleSave : kTitleOpen, language);
  options.startPath = start;
  options.extensions = L"ifl";
  const int32_t chosen = FgSelectFile(path, kChooserUnits, &options, screen);
  if (chosen && path[0]) {
    if (!saving) {
      if (LoadFilterList(screen, path)) PathCopy(screen->m_filterListPath, kMainPathUnits, path);
      else Tell(screen, kLoadFailed, kError, 1);
    } else if (!MediaFileExists(path) || Tell(screen, kOverwrite, kConfirm, 0) == 1) {
      if (SaveFilterList(screen, path)) {
        Tell(screen, kSaved, kConfirm, 1);
        PathCopy(screen->m_filterListPath, kMainPathUnits, path);
      } else {
        Tell(screen, kSaveFailed, kError, 1);
      }
    }
  }
  // Also after a cancel: whatever the chooser remembered belongs to the lists.
  FgRememberFolder(imageFolder);
}

}  // namespace

void CMainScreen::OpenFilterList() { ChooseFilterList(this, 0); }
void CMainScreen::SaveFilterList() { ChooseFilterList(this, 1); }

// ---------------------------------------------------------------------------------------
// Adding a filter

uint32_t CMainScreen::AddFilter(CImgFilter* filter, int32_t reprocess) {
  const int32_t added = m_sidePanel.AddFilter(filter);
  if (!added) return 0;
  ShowSidePanel();
  if (reprocess) Reprocess(0);
  return uint32_t(added);
}

// filesel.cpp - the modal file chooser: building, listing, the callbacks and FgSelectFile.
// Inside: construction and layout - listing and navigation - callbacks - FgSelectFile
#include "toolkit/filesel.h"

#include <cstdlib>
#include <cwchar>

#include "toolkit/msgbox.h"

namespace {

void (*g_hook)(CFgFileSelectScreen*) = nullptr;

constexpr const wchar_t* kDefaultTitle = L"ファイル選択";
constexpr const wchar_t* kAccessDenied = L"アクセスできません";

// Extension of a file name: the part after its last dot; none without a dot or when the
// dot ends the name.
const wchar_t* NameExtension(const wchar_t* name) {
  const wchar_t* dot = wcsrchr(name, L'.');
  return dot && dot[1] ? dot + 1 : nullptr;
}

}  // namespace

void FgSetFileSelectHook(void (*hook)(CFgFileSelectScreen*)) { g_hook = hook; }

namespace {
FgSelectFileOverride g_override = nullptr;
}  // namespace

void FgSetSelectFileOverride(FgSelectFileOverride override) { g_override = override; }

// ---------------------------------------------------------------------------------------
// Construction and layout
CFgFileSelectScreen::CFgFileSelectScreen() = default;

CFgFileSelectScreen::~CFgFileSelectScreen() {
  free(m_filter);
  m_filter = nullptr;
}

int32_t CFgFileSelectScreen::OnClose() {
  m_done = 1;
  return 1;
}

void CFgFileSelectScreen::Build(const wchar_t* start) {
  m_folders.SetRect(16, 16, 226, 130);
  m_folders.m_callback = OnFolderClick;
  m_folders.m_user = this;
  m_files.SetRect(250, 16, 226, 130);
  m_files.m_callback = OnFileClick;
  m_files.m_user = this;
  m_name.SetRect(16, 154, 460, 20);
  m_name.OnFocusLost = OnNameLeft;
  m_name.CallbackArg = this;
  m_ok.SetRect(16, 182, 226, 32);
  m_ok.SetText(L"OK");
  m_ok.m_callback = OnOk;
  m_ok.m_user = this;
  m_cancel.SetRect(250, 182, 226, 32);
  m_cancel.SetText(L"キャンセル");
  m_cancel.m_callback = OnCancel;
  m_cancel.m_user = this;
  AddChild(&m_folders);
  AddChild(&m_files);
  AddChild(&m_name);
  AddChild(&m_ok);
  AddChild(&m_cancel);
  m_folders.SetRect(16, 16, 226, 130);
  m_files.SetRect(250, 16, 226, 130);

  m_folder[0] = 0;
  m_path[0] = 0;
  if (!start || !*start) {
    PathCopy(m_folder, kFgPathUnits, GetDocumentsFolder());
  } else if (FolderExists(start) && PathCopy(m_folder, kFgPathUnits, start)) {
    // an existing folder: listed with an empty name box
  } else {
    // A file path: its folder part is listed and its name proposed.
    const wchar_t* name = PathFileName(start);
    wchar_t part[kFgPathUnits];
    if (name != start && PathCopy(part, kFgPathUnits, start)) {
      PathRemoveLast(part);
      PathCopy(m_folder, kFgPathUnits, part);
    } else {
      PathCopy(m_folder, kFgPathUnits, GetDocumentsFolder());
    }
    m_name.SetLine(0, name ? name : L"");
  }
  if (!Refresh()) UpdatePath();
  Redraw();
}

// ---------------------------------------------------------------------------------------
// Listing and navigation
void CFgFileSelectScreen::UpdatePath() {
  const wchar_t* name = m_name.GetText();
  wchar_t joined[kFgPathUnits];
  int32_t fits = PathCopy(joined, kFgPathUnits, m_folder);
  if (fits) {
    size_t n = wcslen(joined);
    size_t m = name ? wcslen(name) : 0;
    int slash = n == 0 || joined[n - 1] != L'/';
    if (uint64_t(n) + slash + m >= kFgPathUnits) {
      fits = 0;
    } else {
      if (slash) joined[n++] = L'/';
      if (m) wmemcpy(joined + n, name, m);
      joined[n + m] = 0;
    }
  }
  m_pathFits = fits;
  if (fits)
    wmemcpy(m_path, joined, wcslen(joined) + 1);
  else
    m_path[0] = 0;  // never a cut path: OK refuses until the name is shorter
}

int32_t CFgFileSelectScreen::Refresh() {
  uint64_t count = 0;
  FolderEntry* entries = ListFolder(m_folder, &count);
  if (!entries) return 0;
  m_folders.Clear(0, 0);
  m_files.Clear(0, 0);
  for (uint64_t i = 0; i < count; ++i) {
    const FolderEntry& e = entries[i];
    if (e.isFolder)
      m_folders.InsertItem(-1, e.name, 0, 0);
    else if (!m_filter || MatchExtension(m_filter, NameExtension(e.name)))
      m_files.InsertItem(-1, e.name, 0, 0);
  }
  free(entries);
  UpdatePath();
  return 1;
}

int32_t CFgFileSelectScreen::Navigate(const wchar_t* typed) {
  if (!typed || !*typed) return 0;
  // A relative path is taken from the folder on show, not from the process's own folder.
  wchar_t target[kFgPathUnits];
  if (typed[0] == L'/') {
    if (!PathCopy(target, kFgPathUnits, typed)) return 0;
  } else if (!PathCopy(target, kFgPathUnits, m_folder) ||
             !PathAppend(target, kFgPathUnits, typed)) {
    return 0;
  }
  wchar_t target2[kFgPathUnits];
  wmemcpy(target2, target, wcslen(target) + 1);
  CanonicalisePath(target);
  for (size_t n = wcslen(target); n > 1 && target[n - 1] == L'/';) target[--n] = 0;
  wmemcpy(m_folder, target, wcslen(target) + 1);
  m_path[0] = 0;
  if (Refresh()) {
    // The typed folder is now listed; left in the name box it would be joined twice.
    m_name.Clear();
    UpdatePath();
    return 1;
  }
  // A folder and a file name: list the folder, propose the name.
  const wchar_t* name = PathFileName(static_cast<const wchar_t*>(target2));
  if (!name || !*name) return 0;
  PathRemoveLast(target2);
  CanonicalisePath(target2);
  wmemcpy(m_folder, target2, wcslen(target2) + 1);
  if (!Refresh()) return 0;
  m_name.SetLine(0, name);
  UpdatePath();
  return 1;
}

void CFgFileSelectScreen::AccessDenied() { FgMessageBox(kAccessDenied, kDefaultTitle, 1, this); }

// ---------------------------------------------------------------------------------------
// Callbacks
void CFgFileSelectScreen::OnFolderClick(CFgUIList* list, void* user, int32_t index) {
  CFgFileSelectScreen* c = static_cast<CFgFileSelectScreen*>(user);
  wchar_t savedFolder[kFgPathUnits], savedPath[kFgPathUnits];
  wmemcpy(savedFolder, c->m_folder, kFgPathUnits);
  wmemcpy(savedPath, c->m_path, kFgPathUnits);
  int32_t ok = 1;
  if (index >= 0 && index < list->m_count)
    ok = PathAppend(c->m_folder, kFgPathUnits, list->m_items[index].text);
  if (ok) {
    CanonicalisePath(c->m_folder);
    ok = c->Refresh();
  }
  if (!ok) {
    wmemcpy(c->m_folder, savedFolder, kFgPathUnits);
    wmemcpy(c->m_path, savedPath, kFgPathUnits);
    c->AccessDenied();
  }
  c->Redraw();
}

void CFgFileSelectScreen::OnFileClick(CFgUIList* list, void* user, int32_t index) {
  CFgFileSelectScreen* c = static_cast<CFgFileSelectScreen*>(user);
  c->m_name.Clear();
  if (index >= 0 && index < list->m_count) c->m_name.SetLine(0, list->m_items[index].text);
  c->UpdatePath();
  c->Redraw();
}

void CFgFileSelectScreen::OnNameLeft(CFgUIEdit* edit, void* user) {
  CFgFileSelectScreen* c = static_cast<CFgFileSelectScreen*>(user);
  const wchar_t* text = edit->GetText();
  if (!text || !wcschr(text, L'/')) {
    c->UpdatePath();
    return;
  }
  // The text changes while navigating: work on a copy, and keep everything for a failure.
  size_t n = wcslen(text);
  wchar_t* typed = static_cast<wchar_t*>(malloc((n + 1) * sizeof(wchar_t)));
  if (!typed) return;
  wmemcpy(typed, text, n + 1);
  wchar_t savedFolder[kFgPathUnits], savedPath[kFgPathUnits];
  wmemcpy(savedFolder, c->m_folder, kFgPathUnits);
  wmemcpy(savedPath, c->m_path, kFgPathUnits);
  int32_t savedFits = c->m_pathFits;
  if (c->Navigate(typed)) {
    c->Redraw();
  } else {
    wmemcpy(c->m_folder, savedFolder, kFgPathUnits);
    wmemcpy(c->m_path, savedPath, kFgPathUnits);
    c->m_pathFits = savedFits;
    c->m_name.SetLine(0, typed);  // what the user typed stays for correcting
    c->AccessDenied();
  }
  free(typed);
}

void CFgFileSelectScreen::OnOk(CFgUIButton*, void* user) {
  CFgFileSelectScreen* c = static_cast<CFgFileSelectScreen*>(user);
  const wchar_t* name = c->m_name.GetText();
  // A typed path that has not been gone to yet (the box never lost the focus) is gone to
  // first, as leaving the box would, so a folder is never joined twice.
  if (name && wcschr(name, L'/')) {
    OnNameLeft(&c->m_name, c);
    name = c->m_name.GetText();
    // Still a path: it could not be gone to and the user was told; joining it to the
    // listed folder would name a file nobody chose.
    if (name && wcschr(name, L'/')) return;
  }
  if (!name || !*name) return;
  c->UpdatePath();
  if (!c->m_pathFits) return;
  c->m_result = 1;
  c->m_done = 1;
}

void CFgFileSelectScreen::OnCancel(CFgUIButton*, void* user) {
  static_cast<CFgFileSelectScreen*>(user)->m_done = 1;
}

// ---------------------------------------------------------------------------------------
// FgSelectFile
int32_t FgSelectFile(wchar_t* buffer, uint64_t size, const FileSelectOptions* options,
                     CFgScreen* parent) {
  if (!buffer || size == 0) return 0;
  buffer[size - 1] = 0;
  if (g_override) return g_override(buffer, size, options, parent);
  CFgFileSelectScreen chooser;
  const wchar_t* title = options && options->title ? options->title : kDefaultTitle;
  if (options && options->extensions) chooser.m_filter = NormaliseExtensionList(options->extensions);
  if (!chooser.Create(-1, -1, 492, 230, title, FgStyleDialog, parent)) return 0;
  const wchar_t* start = nullptr;
  if (options && options->startPath && *options->startPath)
    start = options->startPath;
  else if (LastFolder[0])
    start = LastFolder;
  chooser.Build(start);
  if (g_hook) g_hook(&chooser);
  FgRunModal(&chooser.m_done, &chooser);
  free(chooser.m_filter);
  chooser.m_filter = nullptr;
  if (chooser.m_result != 1) return 0;
  size_t n = wcslen(chooser.m_path);
  if (uint64_t(n) >= size) return 0;  // never hand back a cut path
  wmemcpy(buffer, chooser.m_path, n + 1);
  wchar_t folder[kFgPathUnits];
  wmemcpy(folder, chooser.m_path, n + 1);
  PathRemoveLast(folder);
  FgRememberFolder(folder);
  return 1;
}

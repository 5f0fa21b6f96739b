// filesel.h - the toolkit's own modal file chooser: a folder list, a file list, a name box
// and the buttons "OK" and "キャンセル"; it returns folder plus name and remembers the folder
// (LastFolder, path.h) for the next question. Whether the file must exist is the caller's
// business, so the same chooser serves opening and saving.
//
//   FileSelectOptions    what a caller hands over: title, start path, extension list
//   CFgFileSelectScreen  the chooser's window (a dialog), alive for one FgSelectFile call
//   FgSelectFile         runs the chooser; 1 with the chosen path in the caller's buffer
//
// Events and results:
//   folder click       the folder becomes current (".." goes up, at "/" it stays); a folder
//                      that cannot be listed keeps the old one and shows "アクセスできません"
//   file click         the name box takes the file's name
//   name box left      a name with "/" is a folder to go to (relative to the current one), or
//                      a folder and a file name; otherwise only the chosen path is renewed
//   OK                 with a name (and a path that fits) ends with the path; else nothing
//   Cancel, close box  end without a path
#pragma once

#include <cstdint>

#include "toolkit/button.h"
#include "toolkit/edit.h"
#include "toolkit/list.h"
#include "toolkit/path.h"
#include "toolkit/uiobj.h"

struct FileSelectOptions {
  const wchar_t* title = nullptr;       // null: "ファイル選択"
  const wchar_t* startPath = nullptr;   // a folder, or a path ending in a file name
  const wchar_t* extensions = nullptr;  // "jpg jpeg png ": extensions without dots
};

class CFgFileSelectScreen : public CFgUIDialog {
 public:
  CFgFileSelectScreen();
  ~CFgFileSelectScreen() override;
  int32_t OnClose() override;

  // Lays out the children and applies the start (null: the Documents folder).
  void Build(const wchar_t* start);
  // Lists the current folder again; 0 (lists unchanged) when it cannot be listed.
  int32_t Refresh();
  // Goes to a typed path: a folder, else its folder part with the rest as the name.
  int32_t Navigate(const wchar_t* typed);
  // Chosen path = current folder, "/" unless it ends with one, name box text.
  void UpdatePath();

  wchar_t m_folder[kFgPathUnits] = {};
  wchar_t m_path[kFgPathUnits] = {};
  int32_t m_pathFits = 1;  // 0 when folder and name together do not fit m_path
  wchar_t* m_filter = nullptr;
  int32_t m_done = 0;
  int32_t m_result = 0;
  CFgUIList m_folders;
  CFgUIList m_files;
  CFgUIEdit m_name;
  CFgUIButton m_ok;
  CFgUIButton m_cancel;

 private:
  static void OnFolderClick(CFgUIList* list, void* user, int32_t index);
  static void OnFileClick(CFgUIList* list, void* user, int32_t index);
  static void OnNameLeft(CFgUIEdit* edit, void* user);
  static void OnOk(CFgUIButton* button, void* user);
  static void OnCancel(CFgUIButton* button, void* user);
  void AccessDenied();
};

// buffer of size units (size 0 or a null buffer: 0 at once). 1 when a path was chosen
// and fits the buffer whole; 0 for Cancel, the close box, a window that cannot be made or
// a path longer than the buffer (then LastFolder is left as it was).
int32_t FgSelectFile(wchar_t* buffer, uint64_t size, const FileSelectOptions* options,
                     CFgScreen* parent);

// Test hook: called once per chooser after it is built and drawn, before its loop.
void FgSetFileSelectHook(void (*hook)(CFgFileSelectScreen* chooser));

// Test-only override: while set, FgSelectFile opens no window and returns what the override
// answers, after the checks of buffer and size.  Null restores the real chooser.
typedef int32_t (*FgSelectFileOverride)(wchar_t* buffer, uint64_t size,
                                        const FileSelectOptions* options, CFgScreen* parent);
void FgSetSelectFileOverride(FgSelectFileOverride override);

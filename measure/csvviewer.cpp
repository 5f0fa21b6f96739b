// csvviewer.cpp - the result table window: menu by language, grid placement, "Save CSV".
#include "measure/csvviewer.h"

#include <cstring>

#include "platform/thread.h"
#include "toolkit/filesel.h"
#include "toolkit/font.h"
#include "toolkit/msgbox.h"
#include "toolkit/screen.h"

namespace {

constexpr int32_t kSaveCsv = 101;

}  // namespace

CCsvViewer::CCsvViewer() {
  SetLanguage("jp");
  m_menuBar.m_callback = OnMenu;
  m_menuBar.m_user = this;
  AddChild(&m_menuBar);
  AddChild(&m_cell);
}

CCsvViewer::~CCsvViewer() {
  // The window goes first: once it is gone nothing draws the grid or opens the menus.
  Destroy();
  m_menuBar.ClearMenus();
}

void CCsvViewer::SetLanguage(const char* language) {
  m_english = language && strcmp(language, "jp") == 0 ? 0 : 1;
  m_menuBar.ClearMenus();
  if (m_english)
    m_menuBar.AddMenu(L"File", L"Save CSV\t101\n", nullptr, nullptr);
  else
    m_menuBar.AddMenu(L"ファイル", L"CSV保存\t101\n", nullptr, nullptr);
  Redraw();
}

void CCsvViewer::OnSize(uint64_t width, uint64_t height) {
  int32_t f = 14;
  if (m_menuBar.m_owner && m_menuBar.m_owner->m_font && m_menuBar.m_owner->m_font->Size() >= 1)
    f = int32_t(m_menuBar.m_owner->m_font->Size());
  int64_t h = int64_t(height) - f - 8;
  m_cell.SetRect(0, f + 8, int32_t(width > INT32_MAX ? INT32_MAX : width),
                 int32_t(h < 0 ? 0 : h > INT32_MAX ? INT32_MAX : h));
  Redraw();
}

void CCsvViewer::OnCreate() { OnSize(m_clientWidth, m_clientHeight); }

void CCsvViewer::OnMenu(CFgUIMenuBar*, void* user, int32_t, int32_t command) {
  if (command != kSaveCsv) return;
  CCsvViewer* self = static_cast<CCsvViewer*>(user);
  wchar_t path[1024] = {};
  if (!FgSelectFile(path, 1024, nullptr, self)) return;
  int32_t ok;
  {
    // The owners change their tables from the filter worker under the draw lock; holding it
    // across the save gives every line the same field count. Not across the message box.
    PlatformLockHold hold(FgDrawLock());
    ok = self->m_cell.SaveText(path);
  }
  if (self->m_english)
    FgMessageBox(ok ? L"saved" : L"saving failed", ok ? L"confirmation" : L"error", 1, self);
  else
    FgMessageBox(ok ? L"セーブしました" : L"セーブできませんでした", ok ? L"確認" : L"エラー", 1,
                 self);
}

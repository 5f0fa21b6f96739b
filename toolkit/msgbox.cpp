// msgbox.cpp - the modal message box: line splitting, layout, its own loop.
// Inside: line splitting - the box's window - FgMessageBox
#include "toolkit/msgbox.h"

#include <cwchar>
#include <new>

namespace {

void (*g_hook)(CMsgboxScreen* box) = nullptr;

}  // namespace

void FgSetMessageBoxHook(void (*hook)(CMsgboxScreen* box)) { g_hook = hook; }

namespace {
FgMessageBoxOverride g_override = nullptr;
}  // namespace

void FgSetMessageBoxOverride(FgMessageBoxOverride override) { g_override = override; }

// ---------------------------------------------------------------------------------------
// Line splitting
FgMessageLine* SplitMessageLines(CFgFont* font, const wchar_t* text, uint64_t* outCount,
                                 uint64_t* outWidest, uint64_t* outTotalHeight) {
  if (outCount) *outCount = 0;
  if (outWidest) *outWidest = 0;
  if (outTotalHeight) *outTotalHeight = 0;
  if (!text || !*text) return nullptr;
  uint64_t size = font ? font->Size() : 0;
  uint64_t count = 1;
  for (const wchar_t* p = text; *p; ++p)
    if (*p == 10 && p[1]) ++count;  // a final line feed opens no empty line
  FgMessageLine* lines = new (std::nothrow) FgMessageLine[size_t(count)];
  if (!lines) return nullptr;
  uint64_t made = 0, widest = 0;
  const wchar_t* start = text;
  while (made < count) {
    const wchar_t* end = start;
    while (*end && *end != 10) ++end;
    size_t len = size_t(end - start);
    wchar_t* copy = new (std::nothrow) wchar_t[len + 1];
    if (!copy) break;  // the lines made so far
    wmemcpy(copy, start, len);
    copy[len] = 0;
    FgMessageLine& line = lines[made];
    line.text = copy;
    line.width = uint64_t(FgTextWidth(copy, size));
    line.x = 0;
    line.y = int32_t(made * size);
    if (line.width > widest) widest = line.width;
    ++made;
    if (!*end) break;
    start = end + 1;
  }
  if (made == 0) {
    delete[] lines;
    return nullptr;
  }
  if (outCount) *outCount = made;
  if (outWidest) *outWidest = widest;
  if (outTotalHeight) *outTotalHeight = made * size;
  return lines;
}

void FreeMessageLines(FgMessageLine* lines, uint64_t count) {
  if (!lines) return;
  for (uint64_t i = 0; i < count; ++i) delete[] lines[i].text;
  delete[] lines;
}

// ---------------------------------------------------------------------------------------
// The box's window
CMsgboxScreen::CMsgboxScreen() { m_closeAllowed = 0; }

CMsgboxScreen::~CMsgboxScreen() {
  FreeMessageLines(m_lines, m_lineCount);
  m_lines = nullptr;
  m_lineCount = 0;
}

int32_t CMsgboxScreen::OnClose() { return 0; }

void CMsgboxScreen::DrawOverlay() {
  if (!m_font) return;
  UseColor(FgColorFieldText);
  for (uint64_t i = 0; i < m_lineCount; ++i) {
    double x = m_lines[i].x;
    for (const wchar_t* p = m_lines[i].text; p && *p; ++p) x += m_font->DrawChar(x, m_lines[i].y, *p);
  }
}

// ---------------------------------------------------------------------------------------
// FgMessageBox
namespace {

void OnFirst(CFgUIButton*, void* user) {
  CMsgboxScreen* box = static_cast<CMsgboxScreen*>(user);
  box->m_result = (box->m_kind == 0 || box->m_kind == 2) ? 1 : 0;
  box->m_done = 1;
}

void OnSecond(CFgUIButton*, void* user) {
  CMsgboxScreen* box = static_cast<CMsgboxScreen*>(user);
  box->m_result = 0;
  box->m_done = 1;
}

}  // namespace

// Layout, with W the widest line (at least 80 for kind 1, 176 otherwise), T the text
// height and S the font size:
//   client W + 32 x T + 38 + S; lines centred, 8 pixels down
//   one button:  ((W - 48) / 2, T + 16), 80 x (S + 10), focused
//   two buttons: ((W - 144) / 2, T + 20) and 96 pixels right of it, no focus
int32_t FgMessageBox(const wchar_t* text, const wchar_t* caption, int32_t kind,
                     CFgScreen* parent) {
  if (g_override) return g_override(text, caption, kind, parent);
  CMsgboxScreen box;
  box.m_kind = kind;
  box.m_caption = caption;
  uint64_t widest = 0, total = 0;
  box.m_lines = SplitMessageLines(box.m_font, text, &box.m_lineCount, &widest, &total);
  int32_t s = box.m_font ? int32_t(box.m_font->Size()) : 14;
  int32_t w = int32_t(widest > 1u << 20 ? 1u << 20 : widest);
  int32_t t = int32_t(total > 1u << 20 ? 1u << 20 : total);
  int32_t minimum = kind == 1 ? 80 : 176;
  if (w < minimum) w = minimum;
  box.m_contentWidth = w;
  box.m_textHeight = t;
  box.m_fontSize = s;
  for (uint64_t i = 0; i < box.m_lineCount; ++i) {
    FgMessageLine& line = box.m_lines[i];
    line.x = int32_t((int64_t(w) + 32 - int64_t(line.width)) / 2);
    line.y += 8;
  }
  if (!box.Create(-1, -1, uint64_t(w) + 32, uint64_t(t) + 38 + uint64_t(s), caption, 0, parent))
    return 0;
  // The window system may make the client wider than asked: keep the content centred.
  int64_t actual = int64_t(box.m_clientWidth);
  if (actual > int64_t(w) + 32) {
    int32_t shift = int32_t((actual - (int64_t(w) + 32)) / 2);
    w = int32_t(actual - 32);
    box.m_contentWidth = w;
    for (uint64_t i = 0; i < box.m_lineCount; ++i) box.m_lines[i].x += shift;
  }
  box.m_first.SetText(kind == 2 ? L"\x306F\x3044" : L"OK");  // "はい"
  box.m_first.m_callback = OnFirst;
  box.m_first.m_user = &box;
  if (kind != 0 && kind != 2) {
    box.m_first.SetRect((w - 48) / 2, t + 16, 80, s + 10);
    box.AddChild(&box.m_first);
    box.FocusNext();
  } else {
    box.m_first.SetRect((w - 144) / 2, t + 20, 80, s + 10);
    box.m_second.SetText(kind == 2 ? L"\x3044\x3044\x3048" : L"Cancel");  // "いいえ"
    box.m_second.SetRect((w - 144) / 2 + 96, t + 20, 80, s + 10);
    box.m_second.m_callback = OnSecond;
    box.m_second.m_user = &box;
    box.AddChild(&box.m_first);
    box.AddChild(&box.m_second);
  }
  box.Redraw();
  if (g_hook) g_hook(&box);
  FgRunModal(&box.m_done, &box);
  if (!box.m_done) box.m_result = -1;  // the quit message ended the loop
  return box.m_result;
}

// playedit.cpp - the playback range dialog: build and texts, parsing, COPY, SET, RESET,
// closing and the language switch.
#include "app/playedit.h"

#include <cstdio>
#include <cwchar>
#include <cwctype>

#include "toolkit/msgbox.h"

PlayEditPlace g_playEditPlace;

namespace {

struct Texts {
  const wchar_t* title;
  const wchar_t* labels[3];
  const wchar_t* set;
  const wchar_t* reset;
  const wchar_t* incorrect;
  const wchar_t* beyond;
  const wchar_t* caption;
};

constexpr Texts kJapanese = {L"動画再生設定", {L"開始シーン", L"終了シーン", L"間隔"}, L"設定", L"初期化",
                             L"入力した値が間違っています", L"動画の範囲を超えています", L"エラー"};
constexpr Texts kEnglish = {L"Video play edit", {L"start", L"end", L"step"}, L"SET", L"RESET",
                            L"the value you entered is incorrect",
                            L"that's beyond the scope of the video", L"error"};

void Number(wchar_t* out, size_t units, uint64_t v) {
  swprintf(out, units, L"%llu", static_cast<unsigned long long>(v));
}

}  // namespace

uint64_t PlayRangeLimit(int32_t hasPicture, int32_t hasMedia, uint64_t frameCount) {
  if (!hasPicture) return 1;
  if (!hasMedia) return 2;
  return frameCount < 100 ? frameCount : 100;
}

uint64_t ParseEditUnsigned(const wchar_t* text) {
  if (!text) return 0;
  const wchar_t* p = text;
  while (iswspace(wint_t(*p))) ++p;
  bool negative = false;
  if (*p == L'+' || *p == L'-') negative = *p++ == L'-';
  uint64_t v = 0;
  bool beyond = false;
  for (; *p >= L'0' && *p <= L'9'; ++p) {
    v = v * 10 + uint64_t(*p - L'0');
    if (v > 0xFFFFFFFFull) {
      beyond = true;
      v = 0xFFFFFFFFull;
    }
  }
  // The C library negates in unsigned arithmetic: "-5" is far beyond 32 bits.
  if (beyond || (negative && v != 0)) return 0xFFFFFFFFull;
  return v;
}

CPlayEditUI::CPlayEditUI() {
  // Children in drawing order, added once.
  for (int i = 0; i < 3; ++i) {
    AddChild(&m_labels[i]);
    AddChild(&m_edits[i]);
    m_edits[i].OnChanged = OnEditChanged;
    m_edits[i].CallbackArg = this;
    if (i == 0) AddChild(&m_copyStart);
    if (i == 1) AddChild(&m_copyEnd);
  }
  AddChild(&m_set);
  AddChild(&m_reset);
  for (CFgUIButton* b : {&m_copyStart, &m_copyEnd, &m_set, &m_reset}) {
    b->m_callback = OnButton;
    b->m_user = this;
  }
  m_copyStart.SetText(L"COPY");
  m_copyEnd.SetText(L"COPY");
}

CPlayEditUI::~CPlayEditUI() = default;

uint64_t CPlayEditUI::Limit() const {
  int32_t picture = 0, media = 0;
  uint64_t frames = 0, scene = 0;
  if (m_mainScreen) m_mainScreen->GetPlaySource(&picture, &media, &frames, &scene);
  return PlayRangeLimit(picture, media, frames);
}

void CPlayEditUI::ShowValues(uint64_t start, uint64_t end, uint64_t step) {
  const uint64_t values[3] = {start, end, step};
  for (int i = 0; i < 3; ++i) {
    wchar_t text[32];
    Number(text, 32, values[i]);
    m_edits[i].SetLine(0, text);
    m_typed[i] = values[i];
  }
}

void CPlayEditUI::ApplyTexts() {
  const Texts& t = m_english ? kEnglish : kJapanese;
  for (int i = 0; i < 3; ++i) m_labels[i].SetText(t.labels[i]);
  m_set.SetText(t.set);
  m_reset.SetText(t.reset);
}

int32_t CPlayEditUI::Build(CFgScreen* parent) {
  ShowValues(m_start, m_end, m_step);
  if (!m_placed && g_playEditPlace.placed) {
    m_placed = 1;
    m_placeX = g_playEditPlace.x;
    m_placeY = g_playEditPlace.y;
  }
  int32_t x = -1, y = -1;
  if (m_placed && m_placeX >= 0) {
    x = m_placeX;
    y = m_placeY;
  }
  const Texts& t = m_english ? kEnglish : kJapanese;
  if (!Create(x, y, 240, 130, t.title, FgStyleDialog, parent)) {
    Redraw();
    return 0;
  }
  ApplyTexts();
  struct Place {
    CFgUIObj* w;
    int32_t x, y, width, height;
  } const places[] = {
      {&m_labels[0], 8, 8, 100, 20},  {&m_edits[0], 116, 8, 60, 20},  {&m_copyStart, 184, 8, 48, 20},
      {&m_labels[1], 8, 36, 100, 20}, {&m_edits[1], 116, 36, 60, 20}, {&m_copyEnd, 184, 36, 48, 20},
      {&m_labels[2], 8, 64, 100, 20}, {&m_edits[2], 116, 64, 60, 20}, {&m_set, 8, 92, 168, 30},
      {&m_reset, 184, 92, 48, 30},
  };
  for (const Place& p : places) p.w->SetRect(p.x, p.y, p.width, p.height);
  Redraw();
  return 1;
}

void CPlayEditUI::SetSceneCount(uint64_t n) {
  m_start = 1;
  m_end = n;
  m_step = 1;
  ShowValues(m_start, m_end, m_step);
  Redraw();
}

void CPlayEditUI::SetLanguage(const wchar_t* language) {
  const uint32_t english = (language && wcscmp(language, L"jp") == 0) ? 0 : 1;
  if (english == m_english) return;
  m_english = english;
  if (!GetWindow()) return;
  CFgScreen* parent = m_parent;
  OnClose();
  Destroy();
  Build(parent);
}

int32_t CPlayEditUI::OnClose() {
  m_placed = 1;
  m_placeX = m_x;
  m_placeY = m_y;
  g_playEditPlace = {1, m_x, m_y};
  return 1;
}

void CPlayEditUI::Copy(int32_t end) {
  int32_t picture = 0, media = 0;
  uint64_t frames = 0, scene = 0;
  if (m_mainScreen) m_mainScreen->GetPlaySource(&picture, &media, &frames, &scene);
  const uint64_t value = picture && media ? scene + 1 : 1;
  wchar_t text[32];
  Number(text, 32, value);
  const int i = end ? 1 : 0;
  m_edits[i].SetLine(0, text);
  m_typed[i] = value;
  Redraw();
}

void CPlayEditUI::Set() {
  const Texts& t = m_english ? kEnglish : kJapanese;
  const uint64_t s = m_typed[0], e = m_typed[1], step = m_typed[2];
  const uint64_t n = Limit();
  if (s == 0 || e == 0 || step == 0 || s > e) {
    FgMessageBox(t.incorrect, t.caption, 1, this);
    return;
  }
  if (e > n || step >= n) {
    FgMessageBox(t.beyond, t.caption, 1, this);
    return;
  }
  m_start = s;
  m_end = e;
  m_step = step;
  if (m_mainScreen) m_mainScreen->SetPlayRange(s, e, step);
}

void CPlayEditUI::Reset() { SetSceneCount(Limit()); }

void CPlayEditUI::OnEditChanged(CFgUIEdit* edit, void* user) {
  CPlayEditUI* d = static_cast<CPlayEditUI*>(user);
  for (int i = 0; i < 3; ++i)
    if (edit == &d->m_edits[i]) d->m_typed[i] = ParseEditUnsigned(edit->GetText());
}

void CPlayEditUI::OnButton(CFgUIButton* button, void* user) {
  CPlayEditUI* d = static_cast<CPlayEditUI*>(user);
  if (button == &d->m_copyStart) d->Copy(0);
  else if (button == &d->m_copyEnd) d->Copy(1);
  else if (button == &d->m_set) d->Set();
  else if (button == &d->m_reset) d->Reset();
}

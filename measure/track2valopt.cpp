// track2valopt.cpp - the "Binary tracking settings" window: layout by language, the enable
// rule of the noise controls, the checks of the two number boxes and SET.
// Inside: construction - layout - open and close - callbacks
#include "measure/track2valopt.h"

#include <cwchar>

#include "app/filter.h"
#include "filters/common/scaffold.h"
#include "toolkit/screen.h"

namespace {

constexpr uint64_t kWidth = 232, kHeight = 262;

struct Place {
  int32_t x, y, w, h;
  const wchar_t* ja;
  const wchar_t* en;
};

// Same places in both languages.
const Place kGroup = {8, 8, 216, 80, L"複数候補時処理", L"select from multiple"};
const Place kSelect[3] = {{16, 24, 200, 20, L"マニュアル入力", L"manual"},
                          {16, 44, 200, 20, L"予測点に近いものを選択", L"choice by prediction X,Y"},
                          {16, 64, 200, 20, L"大きいものを選択", L"choice by size"}};
const Place kNoiseAuto = {8, 96, 216, 20, L"ノイズ除去(自動設定)", L"noise remove (auto)"};
const Place kNoiseLess = {8, 116, 160, 20, L"ノイズ除去(以下)", L"noise remove (less)"};
const Place kLowEdit = {168, 116, 56, 20, nullptr, nullptr};
const Place kNoiseMore = {8, 136, 160, 20, L"ノイズ除去(以上)", L"noise remove (more)"};
const Place kHighEdit = {168, 136, 56, 20, nullptr, nullptr};
const Place kWindowCut = {8, 156, 216, 20, L"追跡枠に掛かったものは削除", L"delete one that on the edge"};
const Place kHoleFill = {8, 176, 216, 20, L"穴埋め", L"holl fill"};
const Place kPreview = {8, 196, 216, 20, L"プレビューに反映", L"preview on"};
const Place kSet = {8, 224, 216, 30, L"設定", L"SET"};

const wchar_t* Pick(const Place& p, int32_t japanese) { return japanese ? p.ja : p.en; }

void ShowBound(CFgUIEdit* edit, uint32_t value)
{
  wchar_t text[16];
  swprintf(text, 16, L"%u", value);
  edit->SetLine(0, text);
}

}  // namespace

// ---- construction -----------------------------------------------------------------------

CTrack2ValOptUI::CTrack2ValOptUI()
{
  for (int i = 1; i < 3; ++i) CFgUIChkButton::AddToGroup(&m_select[0], &m_select[i]);
  CFgUIChkButton::SetGroupSelection(&m_select[0], 0, 0);
  m_noiseAuto.m_checked = 1;
  CFgUIChkButton* noise[] = {&m_noiseAuto, &m_noiseLess, &m_noiseMore};
  for (CFgUIChkButton* box : noise) {
    box->m_callback = OnNoiseToggled;
    box->m_user = this;
  }
  m_lowEdit.OnFocusLost = OnLowFocusLost;
  m_lowEdit.CallbackArg = this;
  m_highEdit.OnFocusLost = OnHighFocusLost;
  m_highEdit.CallbackArg = this;
  m_set.m_callback = OnSetPressed;
  m_set.m_user = this;
  CFgUIObj* children[] = {&m_group,    &m_select[0], &m_select[1], &m_select[2],
                          &m_noiseAuto, &m_noiseLess, &m_lowEdit,   &m_noiseMore,
                          &m_highEdit,  &m_windowCut, &m_holeFill,  &m_preview,
                          &m_set};
  for (CFgUIObj* child : children) AddChild(child);
  Build(m_language);
}

CTrack2ValOptUI::~CTrack2ValOptUI() { Destroy(); }

// ---- layout -----------------------------------------------------------------------------

void CTrack2ValOptUI::Build(const wchar_t* language)
{
  if (!language || !*language) return;
  if (language != m_language) {
    wcsncpy(m_language, language, kTrack2ValLanguageUnits - 1);
    m_language[kTrack2ValLanguageUnits - 1] = 0;
  }
  const int32_t ja = IsJapanese(m_language);
  if (m_window) SetTitle(ja ? L"2値化追跡設定" : L"Binary tracking settings");
  m_group.SetTitle(Pick(kGroup, ja));
  m_group.SetRect(kGroup.x, kGroup.y, kGroup.w, kGroup.h);
  struct Box {
    CFgUIChkButton* box;
    const Place* place;
  } boxes[] = {{&m_select[0], &kSelect[0]}, {&m_select[1], &kSelect[1]}, {&m_select[2], &kSelect[2]},
               {&m_noiseAuto, &kNoiseAuto}, {&m_noiseLess, &kNoiseLess}, {&m_noiseMore, &kNoiseMore},
               {&m_windowCut, &kWindowCut}, {&m_holeFill, &kHoleFill},   {&m_preview, &kPreview}};
  for (const Box& b : boxes) {
    b.box->SetText(Pick(*b.place, ja));
    b.box->SetRect(b.place->x, b.place->y, b.place->w, b.place->h);
  }
  m_lowEdit.SetRect(kLowEdit.x, kLowEdit.y, kLowEdit.w, kLowEdit.h);
  m_highEdit.SetRect(kHighEdit.x, kHighEdit.y, kHighEdit.w, kHighEdit.h);
  m_set.SetText(Pick(kSet, ja));
  m_set.SetRect(kSet.x, kSet.y, kSet.w, kSet.h);
  UpdateControls();
  Redraw();
}

void CTrack2ValOptUI::UpdateControls()
{
  const int32_t manual = m_noiseAuto.m_checked ? 0 : 1;
  SetControlEnabled(&m_noiseLess, manual);
  SetControlEnabled(&m_noiseMore, manual);
  SetControlEnabled(&m_lowEdit, manual && m_noiseLess.m_checked);
  SetControlEnabled(&m_highEdit, manual && m_noiseMore.m_checked);
}

// ---- open and close ---------------------------------------------------------------------

int32_t CTrack2ValOptUI::Open(TrackBinarySettings* settings, CFgScreen* parent)
{
  if (!settings) return 0;
  m_settings = settings;
  CFgUIChkButton::SetGroupSelection(&m_select[0], settings->multiSelect, 0);
  m_noiseAuto.m_checked = settings->noiseAuto != 0;
  m_noiseLess.m_checked = settings->noiseEnableL != 0;
  m_noiseMore.m_checked = settings->noiseEnableH != 0;
  m_windowCut.m_checked = settings->windowCut != 0;
  m_holeFill.m_checked = settings->holeFill != 0;
  m_preview.m_checked = settings->preview != 0;
  // The settings may hold what no box accepts (a pack is read with "above 0" only); the
  // boxes show what SET would store.
  m_pendingLow = uint32_t(settings->noiseL);
  m_pendingHigh = uint32_t(settings->noiseH);
  ShowBound(&m_lowEdit, m_pendingLow);
  ShowBound(&m_highEdit, m_pendingHigh);
  int32_t opened = m_window != nullptr;
  if (opened) {
    ShowWindow(1);
  } else {
    opened = Create(-1, -1, kWidth, kHeight, L"", FgStyleDialog, parent);
  }
  if (opened) Build(m_language);
  UpdateControls();
  Redraw();
  return opened ? 1 : 0;
}

int32_t CTrack2ValOptUI::OnClose()
{
  Destroy();
  return 0;
}

// ---- callbacks --------------------------------------------------------------------------

void CTrack2ValOptUI::Apply()
{
  if (!m_settings) return;
  TrackBinarySettings& s = *m_settings;
  s.multiSelect = CFgUIChkButton::GetGroupSelection(&m_select[0]);
  s.noiseAuto = m_noiseAuto.m_checked ? 1 : 0;
  s.noiseEnableL = m_noiseLess.m_checked ? 1 : 0;
  s.noiseEnableH = m_noiseMore.m_checked ? 1 : 0;
  s.windowCut = m_windowCut.m_checked ? 1 : 0;
  s.holeFill = m_holeFill.m_checked ? 1 : 0;
  s.preview = m_preview.m_checked ? 1 : 0;
  s.noiseL = int32_t(m_pendingLow);
  s.noiseH = int32_t(m_pendingHigh);
  // "connect" is the chain's connectivity: this window never writes it.
  if (m_onChange) m_onChange(m_changeUser, s.preview, this);
}

void CTrack2ValOptUI::OnNoiseToggled(CFgUIChkButton*, void* user)
{
  auto* self = static_cast<CTrack2ValOptUI*>(user);
  self->UpdateControls();
  self->Redraw();
}

void CTrack2ValOptUI::OnSetPressed(CFgUIButton*, void* user) { static_cast<CTrack2ValOptUI*>(user)->Apply(); }

void CTrack2ValOptUI::CheckBound(CFgUIEdit* edit, uint32_t* pending)
{
  uint64_t value = 0;
  if (CheckPositiveWhole(edit->GetText(), kTrack2ValMaxBound, &value)) {
    *pending = uint32_t(value);
    return;
  }
  ShowBound(edit, *pending);
}

void CTrack2ValOptUI::OnLowFocusLost(CFgUIEdit* edit, void* user)
{
  CheckBound(edit, &static_cast<CTrack2ValOptUI*>(user)->m_pendingLow);
}

void CTrack2ValOptUI::OnHighFocusLost(CFgUIEdit* edit, void* user)
{
  CheckBound(edit, &static_cast<CTrack2ValOptUI*>(user)->m_pendingHigh);
}

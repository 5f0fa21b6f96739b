// convolution.cpp - CLfFilter: the pending set the window edits, the apply step, the frames
// and the settings.
// Inside: window - handlers and rules - apply - process - settings
//
// Controls and results:
//   grid edit, size radio, "median", "auto div", typing a divisor   pending set modified:
//                         "set" enabled; "median" and "auto div" switch the grid, divisor
//                         and "auto div" on and off
//   divisor box left      a whole number 1 to 2147483647 is taken, else the pending value shows
//   "set"                 pending becomes applied under the settings lock; frame processed
//   LoadParams            pending set from the pack, then applied like "set"
//   menu                  ".fmx" open and save, presets (convolution_menu.cpp)
#include "filters/colour_pixel/convolution.h"

#include <cstring>
#include <cwchar>

#include "app/cfgfile.h"
#include "engine/convolve.h"

FilterWindowPlace CLfFilter::s_classPlace;

namespace {

constexpr int32_t kMenuFont = 14;  // the font size m of the window that holds the menu bar

void ShowWhole(CFgUIEdit* edit, int64_t value) {
  wchar_t text[32];
  swprintf(text, 32, L"%lld", static_cast<long long>(value));
  edit->SetLine(0, text);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Window
CLfFilter::CLfFilter() : CFilterWindow(&s_classPlace) {
  const int32_t m = kMenuFont;
  m_grid.m_values[4][4] = 1;  // identity
  m_grid.m_client = this;
  m_layoutItems[0] = {&m_grid, nullptr, nullptr, 10, m + 18, 10, m + 18, 270, 180};
  const wchar_t* sizes[4] = {L"3x3", L"5x5", L"7x7", L"9x9"};
  for (int32_t i = 0; i < 4; ++i) {
    m_layoutItems[1 + i] = {&m_sizeRadio[i], sizes[i], sizes[i], 10 + 70 * i, m + 208,
                            10 + 70 * i, m + 208, 50, 20};
    m_sizeRadio[i].m_callback = &CLfFilter::OnSizeChosen;
    m_sizeRadio[i].m_user = this;
  }
  // "除数", "メディアン", "自動除数", "決定"
  m_layoutItems[5] = {&m_divLabel, L"div", L"\x9664\x6570", 10, m + 238, 10, m + 238, 30, 20};
  m_layoutItems[6] = {&m_divEdit, nullptr, nullptr, 50, m + 238, 50, m + 238, 40, 20};
  m_layoutItems[7] = {&m_medianBox, L"median", L"\x30E1\x30C7\x30A3\x30A2\x30F3", 150, m + 238,
                      150, m + 238, 110, 20};
  m_layoutItems[8] = {&m_autoDivBox, L"auto div", L"\x81EA\x52D5\x9664\x6570", 10, m + 268, 10,
                      m + 268, 90, 20};
  m_layoutItems[9] = {&m_setButton, L"set", L"\x6C7A\x5B9A", 10, m + 298, 10, m + 298, 270, 30};
  m_medianBox.m_callback = &CLfFilter::OnMedianToggled;
  m_medianBox.m_user = this;
  m_autoDivBox.m_callback = &CLfFilter::OnAutoDivToggled;
  m_autoDivBox.m_user = this;
  m_setButton.m_callback = &CLfFilter::OnSetPressed;
  m_setButton.m_user = this;
  m_divEdit.OnChanged = &CLfFilter::OnDivisorChanged;
  m_divEdit.OnFocusLost = &CLfFilter::OnDivisorCommitted;
  m_divEdit.CallbackArg = this;
  // The bar spans the window's top whatever its rectangle; it is the last to take the focus.
  m_layoutItems[10] = {&m_menuBar, nullptr, nullptr, 0, 0, 0, 0, 290, m + 8};
  m_menuBar.m_callback = &CLfFilter::OnMenuCommand;
  m_menuBar.m_user = this;
  for (int32_t i = 0; i < 11; ++i) AddChild(m_layoutItems[i].control);
  for (int32_t i = 1; i < 4; ++i) CFgUIChkButton::AddToGroup(&m_sizeRadio[0], &m_sizeRadio[i]);
  m_layout = {m_layoutItems, 11, 290, uint64_t(m + 338), 290, uint64_t(m + 338), nullptr, 0};
  ApplyFilterLayout(m_layout, m_language, nullptr, nullptr);
  CFgUIChkButton::SetGroupSelection(&m_sizeRadio[0], 0, 0);
  ShowWhole(&m_divEdit, m_pendingDiv);
  m_autoDivBox.m_checked = 1;
  m_medianBox.m_checked = 0;
  m_modified = 0;
  m_applied.Update([](Applied& a) {
    a.matrix[4][4] = 1;
    a.kernel[4] = 1;
  });
  UpdateControls();
}

const wchar_t* CLfFilter::GetName(const wchar_t* language) {
  return IsJapanese(language) ? L"\x30D5\x30A3\x30EB\x30BF\x30FC" : L"Filter";
}

void CLfFilter::ShowDialog(int32_t show, CFgScreen* parent) {
  if (show) BuildMenu(&m_menuBar, m_language);
  CFilterWindow::ShowDialog(show, parent);
}

// ---------------------------------------------------------------------------------------
// Handlers and rules
void CLfFilter::SetChanged() {
  if (m_modified) return;
  m_modified = 1;
  UpdateControls();
}

void CLfFilter::UpdateControls(int32_t windowEnabled) {
  if (windowEnabled || CFgUICtrl::m_enabled) {
    const int32_t conv = m_pendingMedian == 0;
    const int32_t divisor = conv && m_pendingAutoDiv == 0;
    SetControlEnabled(&m_grid, conv);
    SetControlEnabled(&m_divLabel, divisor);
    SetControlEnabled(&m_divEdit, divisor);
    SetControlEnabled(&m_autoDivBox, conv);
    SetControlEnabled(&m_setButton, m_modified != 0);
  }
  CFgUICtrl::Redraw();
}

void CLfFilter::OnSizeChosen(CFgUIChkButton* button, void* user) {
  auto* self = static_cast<CLfFilter*>(user);
  int32_t index = CFgUIChkButton::GetGroupSelection(button);
  if (index < 0 || index > 3) return;
  self->m_pendingSize = uint64_t(index * 2 + 3);
  self->m_grid.m_size = int32_t(self->m_pendingSize);
  self->SetChanged();
  self->UpdateControls();
}

void CLfFilter::OnMedianToggled(CFgUIChkButton* button, void* user) {
  auto* self = static_cast<CLfFilter*>(user);
  self->m_pendingMedian = button->m_checked ? 1 : 0;
  self->SetChanged();
  self->UpdateControls();
}

void CLfFilter::OnAutoDivToggled(CFgUIChkButton* button, void* user) {
  auto* self = static_cast<CLfFilter*>(user);
  self->m_pendingAutoDiv = button->m_checked ? 1 : 0;
  self->SetChanged();
  self->UpdateControls();
}

void CLfFilter::OnSetPressed(CFgUIButton*, void* user) { static_cast<CLfFilter*>(user)->Apply(); }

void CLfFilter::OnDivisorChanged(CFgUIEdit*, void* user) {
  static_cast<CLfFilter*>(user)->SetChanged();
}

void CLfFilter::OnDivisorCommitted(CFgUIEdit* edit, void* user) {
  auto* self = static_cast<CLfFilter*>(user);
  uint64_t value = 0;
  if (CheckPositiveWhole(edit->GetText(), 2147483647, &value)) {
    if (int32_t(value) != self->m_pendingDiv) {
      self->m_pendingDiv = int32_t(value);
      self->SetChanged();
    }
    return;
  }
  ShowWhole(edit, self->m_pendingDiv);
  self->CFgUICtrl::Redraw();
}

// ---------------------------------------------------------------------------------------
// Apply
void CLfFilter::Apply() {
  Applied a;
  a.type = m_pendingMedian ? 1 : 0;
  a.size = m_pendingSize;
  a.div = m_pendingDiv;
  a.autoDiv = m_pendingAutoDiv;
  m_grid.m_size = int32_t(m_pendingSize);
  m_grid.GetKernel(a.kernel);
  std::memcpy(a.matrix, m_grid.m_values, sizeof a.matrix);
  // One copy under the lock: a run sees the old set or the new one, never a mixture.
  m_applied.Update([&](Applied& stored) { stored = a; });
  m_modified = 0;
  UpdateControls();
  RequestIfEnabled(this, 0);
}

// ---------------------------------------------------------------------------------------
// Process
void CLfFilter::Process(CImgBuff* picture, uint64_t, int64_t x, int64_t y, int64_t width,
                        int64_t height, uint32_t, uint32_t) {
  if (!picture) return;
  Applied a = m_applied.Snapshot();
  RoiRect roi = ChainRectToRoi(x, y, width, height);
  if (a.type == 1)
    MedianFilter(picture, a.size, &roi);
  else
    ConvolveInt(picture, a.size, a.kernel, int32_t(a.autoDiv), a.div, &roi);
}

// ---------------------------------------------------------------------------------------
// Settings
void CLfFilter::SaveParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::SaveParams(pack);
  Applied a = m_applied.Snapshot();
  PackWriteUnsigned(pack, L"size", a.size);
  int64_t all[81];
  for (int32_t i = 0; i < 81; ++i) all[i] = a.matrix[i / 9][i % 9];
  PackWriteSignedList(pack, L"filter_array", all, 81);
  PackWriteSigned(pack, L"div", a.div);
  PackWriteFlag(pack, L"auto_div", a.autoDiv);
  PackWriteUnsigned(pack, L"type", a.type);
}

void CLfFilter::LoadParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::LoadParams(pack);
  uint64_t size = 0;
  const CCfgItem* list = pack->FindItem(L"filter_array");
  if (PackReadUnsigned(pack, L"size", 9, &size, nullptr) &&
      (size == 3 || size == 5 || size == 7 || size == 9) && list && list->value) {
    m_pendingSize = size;
    CFgUIChkButton::SetGroupSelection(&m_sizeRadio[0], int32_t(size / 2 - 1), 0);
    m_grid.m_size = int32_t(size);
    // At most 81 elements; one that is not a 32-bit whole number keeps its cell.
    int64_t cells[81];
    for (int32_t i = 0; i < 81; ++i) cells[i] = m_grid.m_values[i / 9][i % 9];
    PackReadSignedList(pack, L"filter_array", INT32_MIN, INT32_MAX, cells, 81, nullptr);
    for (int32_t i = 0; i < 81; ++i) m_grid.m_values[i / 9][i % 9] = int32_t(cells[i]);
  }
  // Digits only, 1 to 2147483647: "4294967297" no longer loads as 1.
  const CCfgItem* div = pack->FindItem(L"div");
  uint64_t value = 0;
  if (div && div->value && CheckPositiveWhole(div->value, 2147483647, &value)) {
    m_pendingDiv = int32_t(value);
    ShowWhole(&m_divEdit, m_pendingDiv);
  }
  if (PackReadFlag(pack, L"auto_div", &m_pendingAutoDiv, nullptr))
    m_autoDivBox.m_checked = int32_t(m_pendingAutoDiv);
  int64_t type = 0;
  if (PackReadSigned(pack, L"type", 0, 1, &type, nullptr)) {
    m_pendingMedian = uint32_t(type);
    m_medianBox.m_checked = int32_t(type);
  }
  Apply();
}

// binary_morphology.cpp - CLfBinary: the edited and applied settings, the passes on the
// frame and the settings packs.
// Inside: window - handlers and rule - passes - settings
//
// Controls and results (nothing reaches the frame before "set"):
//   type radio           another type: edited type, dirty, rule, redraw
//   typing in a box      dirty, rule, redraw
//   "repeat" box left    digits only, at least 1: taken (dirty when it differs); else the
//                        edited value shows again (a text change: dirty)
//   "shave" box left     the same, 0 accepted
//   "set"                edited copy applied under the settings lock; dirty cleared; rule;
//                        frame processed (waits) when enabled with a host
//   LoadParams           applied and edited copies from the pack; dirty cleared; rule; redraw
#include "filters/binary_geometry_fourier/binary_morphology.h"

#include <cstdint>
#include <cstring>
#include <cwchar>

#include "app/cfgfile.h"
#include "app/filterctrl.h"
#include "core/imgbuff.h"
#include "engine/bitmask.h"
#include "engine/frame.h"
#include "engine/morphology.h"
#include "filters/binary_geometry_fourier/whole_numbers.h"

FilterWindowPlace CLfBinary::s_classPlace;

namespace {

constexpr int32_t kRepeatLabel = 6, kRepeatEdit = 7, kShaveLabel = 8, kShaveEdit = 9,
                  kSetButton = 10;
// Widths by item; the places of both languages are in the layout items.
constexpr int32_t kWidthEn[11] = {160, 160, 160, 160, 160, 160, 50, 40, 50, 40, 255};
constexpr int32_t kWidthJa[11] = {90, 90, 90, 90, 90, 90, 70, 40, 120, 40, 255};

void ShowNumber(CFgUIEdit* edit, uint64_t value) {
  wchar_t text[32];
  swprintf(text, 32, L"%llu", static_cast<unsigned long long>(value));
  edit->SetLine(0, text);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Window
CLfBinary::CLfBinary() : CFilterWindow(&s_classPlace) {
  static const wchar_t* const kEn[6] = {L"exclusive expansion", L"expansion", L"degeneracy",
                                        L"thinning", L"extract border", L"holl fill"};
  // "排他膨張", "膨張", "縮退", "細線化", "輪郭抽出", "穴埋め"
  static const wchar_t* const kJa[6] = {L"\x6392\x4ED6\x81A8\x5F35", L"\x81A8\x5F35",
                                        L"\x7E2E\x9000", L"\x7D30\x7DDA\x5316",
                                        L"\x8F2A\x90ED\x62BD\x51FA", L"\x7A74\x57CB\x3081"};
  for (int32_t i = 0; i < 6; ++i) {
    m_layoutItems[i] = {&m_typeRadio[i], kEn[i], kJa[i], 10, 10 + 20 * i, 10, 10 + 20 * i, 0, 20};
    m_typeRadio[i].m_callback = &CLfBinary::OnType;
    m_typeRadio[i].m_user = this;
  }
  // "回処理する", "pixelのヒゲを除去", "決定"
  m_layoutItems[kRepeatLabel] = {&m_repeatLabel, L"repeat", L"\x56DE\x51E6\x7406\x3059\x308B",
                                 220, 30, 145, 30, 0, 20};
  m_layoutItems[kRepeatEdit] = {&m_repeatEdit, nullptr, nullptr, 180, 30, 100, 30, 0, 20};
  m_layoutItems[kShaveLabel] = {&m_shaveLabel, L"shave",
                                L"pixel\x306E\x30D2\x30B2\x3092\x9664\x53BB", 220, 70, 145, 70,
                                0, 20};
  m_layoutItems[kShaveEdit] = {&m_shaveEdit, nullptr, nullptr, 180, 70, 100, 70, 0, 20};
  m_layoutItems[kSetButton] = {&m_setButton, L"set", L"\x6C7A\x5B9A", 10, 140, 10, 140, 0, 30};
  for (FilterLayoutItem& item : m_layoutItems) AddChild(item.control);
  for (int32_t i = 1; i < 6; ++i) CFgUIChkButton::AddToGroup(&m_typeRadio[0], &m_typeRadio[i]);
  CFgUIChkButton::SetGroupSelection(&m_typeRadio[0], int32_t(m_editedType), 0);
  // The texts first: setting them must not count as the user's typing.
  ShowNumber(&m_repeatEdit, m_editedRepeat);
  ShowNumber(&m_shaveEdit, m_editedShave);
  m_repeatEdit.OnChanged = m_shaveEdit.OnChanged = &CLfBinary::OnTyped;
  m_repeatEdit.OnFocusLost = &CLfBinary::OnRepeatLeft;
  m_shaveEdit.OnFocusLost = &CLfBinary::OnShaveLeft;
  m_repeatEdit.CallbackArg = m_shaveEdit.CallbackArg = this;
  m_setButton.m_callback = &CLfBinary::OnSet;
  m_setButton.m_user = this;
  m_layout = {m_layoutItems, 11, 275, 180, 275, 180, nullptr, 0};
  LayOut(m_language);
  UpdateControls();
}

const wchar_t* CLfBinary::GetName(const wchar_t* language) {
  // "2値画像処理"
  return IsJapanese(language) ? L"2\x5024\x753B\x50CF\x51E6\x7406" : L"Binary image process";
}

// The shared layout keeps one width per control: the widths of the language go into the
// items before it places them.
void CLfBinary::LayOut(const wchar_t* language) {
  const int32_t* widths = IsJapanese(language) ? kWidthJa : kWidthEn;
  for (int32_t i = 0; i < 11; ++i) m_layoutItems[i].width = widths[i];
  ApplyFilterLayout(m_layout, language, nullptr, nullptr);
}

void CLfBinary::ShowDialog(int32_t show, CFgScreen* parent) {
  if (show) LayOut(m_language);
  CFilterWindow::ShowDialog(show, parent);
}

// ---------------------------------------------------------------------------------------
// Handlers and rule
void CLfBinary::UpdateControls() {
  const int32_t repeat = m_editedType <= kDegeneracy;
  const int32_t shave = m_editedType == kThinning;
  SetControlEnabled(&m_repeatLabel, repeat);
  SetControlEnabled(&m_repeatEdit, repeat);
  SetControlEnabled(&m_shaveLabel, shave);
  SetControlEnabled(&m_shaveEdit, shave);
  SetControlEnabled(&m_setButton, m_dirty != 0);
}

void CLfBinary::MarkDirty() {
  m_dirty = 1;
  UpdateControls();
  CFgUICtrl::Redraw();
}

void CLfBinary::OnType(CFgUIChkButton* button, void* user) {
  auto* self = static_cast<CLfBinary*>(user);
  const int32_t index = CFgUIChkButton::GetGroupSelection(button);
  if (index < 0 || index > 5 || uint32_t(index) == self->m_editedType) return;
  self->m_editedType = uint32_t(index);
  self->MarkDirty();
}

void CLfBinary::OnTyped(CFgUIEdit*, void* user) { static_cast<CLfBinary*>(user)->MarkDirty(); }

void CLfBinary::OnRepeatLeft(CFgUIEdit* edit, void* user) {
  auto* self = static_cast<CLfBinary*>(user);
  uint64_t value = 0;
  if (ReadDigitsOnly(edit->GetText(), UINT64_MAX, &value) && value >= 1) {
    if (value != self->m_editedRepeat) {
      self->m_editedRepeat = value;
      self->MarkDirty();
    }
    return;
  }
  ShowNumber(edit, self->m_editedRepeat);  // a text change: dirty, as typing
  self->CFgUICtrl::Redraw();
}

void CLfBinary::OnShaveLeft(CFgUIEdit* edit, void* user) {
  auto* self = static_cast<CLfBinary*>(user);
  uint64_t value = 0;
  if (ReadDigitsOnly(edit->GetText(), UINT64_MAX, &value)) {
    if (value != self->m_editedShave) {
      self->m_editedShave = value;
      self->MarkDirty();
    }
    return;
  }
  ShowNumber(edit, self->m_editedShave);
  self->CFgUICtrl::Redraw();
}

void CLfBinary::OnSet(CFgUIButton*, void* user) { static_cast<CLfBinary*>(user)->Apply(); }

void CLfBinary::Apply() {
  const Applied edited{m_editedType, m_editedRepeat, m_editedShave};
  // One copy under the lock: a run works from the old three or the new three.
  m_applied.Update([&](Applied& stored) { stored = edited; });
  m_dirty = 0;
  UpdateControls();
  CFgUICtrl::Redraw();
  RequestIfEnabled(this, 0);
}

// ---------------------------------------------------------------------------------------
// Passes
namespace {

// One pass of type 0, 1 or 2 with the unclipped rectangle, as the operations expect it.
void OnePass(CImgBuff* picture, uint32_t type, int32_t conn, int32_t bg, const RoiRect& rect) {
  RoiRect r = rect;
  switch (type) {
    case CLfBinary::kExclusiveExpansion:
      if (NormalizeRoi(&r, picture)) DilateExclusive(picture, conn, bg, r.x0, r.y0, r.x1, r.y1);
      break;
    case CLfBinary::kExpansion:
      DilateStep(picture, conn, bg, &rect);
      break;
    case CLfBinary::kDegeneracy:
      if (NormalizeRoi(&r, picture)) {
        BitMask* mask = ImageRegionToBitMask(picture, bg, r.x0, r.y0, r.x1, r.y1);
        if (mask) {
          ErodeStep(mask, picture, conn, bg, r.x0, r.y0, r.x1, r.y1);
          BitMaskDestroy(mask);
        }
      }
      break;
    default:
      break;
  }
}

int32_t SamePicture(const CImgBuff& a, const CImgBuff& b) {
  if (a.Format() != b.Format() || a.Width() != b.Width() || a.Height() != b.Height()) return 0;
  const uint64_t bytes = uint64_t(a.Width()) * uint64_t(a.Height()) *
                         uint64_t(ImgBytesPerPixel[a.Format()]);
  return std::memcmp(a.Pixels(), b.Pixels(), bytes) == 0;
}

// `repeat` passes.  A "repeat" from a list may be anything up to 2^64 - 1: past width +
// height of the rectangle, where growth or shrinking has normally crossed the whole
// rectangle, every pass is checked and the passes stop at the first that changes nothing.
// The operations only ever add or only ever remove object pixels, so the picture settles
// within the rectangle's pixel count, and a pass on a settled picture gives it again: the
// result is that of all the passes asked for.
void RunPasses(CImgBuff* picture, uint32_t type, uint64_t repeat, int32_t conn, int32_t bg,
               const RoiRect& rect) {
  // Expansion refuses another connectivity on every pass itself; the others are not called.
  if (!picture->Format() || repeat == 0 || (conn != 4 && conn != 8)) return;
  RoiRect r = rect;
  if (!NormalizeRoi(&r, picture)) return;  // every pass would be refused
  const uint64_t settle = uint64_t(r.x1 - r.x0 + 1) + uint64_t(r.y1 - r.y0 + 1);
  CImgBuff before;
  for (uint64_t pass = 0; pass < repeat; ++pass) {
    if (pass < settle) {
      OnePass(picture, type, conn, bg, rect);
      continue;
    }
    if (!CopyPictureReusing(&before, picture)) return;  // no memory: stop, as settled
    OnePass(picture, type, conn, bg, rect);
    if (SamePicture(before, *picture)) return;
  }
}

}  // namespace

void CLfBinary::Process(CImgBuff* picture, uint64_t, int64_t x, int64_t y, int64_t width,
                        int64_t height, uint32_t connectivity, uint32_t background) {
  if (!picture || !picture->record) return;
  const Applied a = m_applied.Snapshot();
  const RoiRect rect = ChainRectToRoi(x, y, width, height);
  const int32_t conn = int32_t(connectivity), bg = int32_t(background);
  const int32_t empty = picture->Format() == 0;
  switch (a.type) {
    case kExclusiveExpansion:
    case kExpansion:
    case kDegeneracy:
      RunPasses(picture, a.type, a.repeat, conn, bg, rect);
      break;
    case kThinning:
      Thin(picture, conn, bg, &rect);
      // The engine takes a 32-bit length: a longer one from a list is the longest, not a
      // wrapped negative one.
      if (a.shave > 0)
        ShaveWhiskers(picture, a.shave > INT32_MAX ? INT32_MAX : int32_t(a.shave), conn, bg,
                      &rect);
      break;
    case kExtractBorder:
      if (!empty) ExtractOutline(picture, conn, bg, &rect);
      break;
    case kHoleFill:
      FillHoles(picture, conn, bg, &rect);
      break;
    default:
      break;
  }
}

// ---------------------------------------------------------------------------------------
// Settings
void CLfBinary::SaveParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::SaveParams(pack);
  const Applied a = m_applied.Snapshot();
  PackWriteSigned(pack, L"type", int64_t(a.type));
  PackWriteUnsigned(pack, L"repeat", a.repeat);
  PackWriteUnsigned(pack, L"shave", a.shave);
}

// "repeat" and "shave" are taken as the C library's unsigned conversion reads them, without
// the checks of the boxes; the box shows the item's own text.
void CLfBinary::LoadParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::LoadParams(pack);
  Applied a = m_applied.Snapshot();
  int64_t type = 0;
  if (PackReadSigned(pack, L"type", 0, 5, &type, nullptr)) {
    a.type = uint32_t(type);
    m_editedType = a.type;
    CFgUIChkButton::SetGroupSelection(&m_typeRadio[0], int32_t(type), 0);
  }
  const CCfgItem* repeat = pack->FindItem(L"repeat");
  if (repeat && repeat->value) {
    a.repeat = m_editedRepeat = ReadUnsignedWrapping(repeat->value, 64);
    m_repeatEdit.SetLine(0, repeat->value);
  }
  const CCfgItem* shave = pack->FindItem(L"shave");
  if (shave && shave->value) {
    a.shave = m_editedShave = ReadUnsignedWrapping(shave->value, 64);
    m_shaveEdit.SetLine(0, shave->value);
  }
  m_applied.Update([&](Applied& stored) { stored = a; });
  m_dirty = 0;  // the box texts set above counted as typing
  UpdateControls();
  CFgUICtrl::Redraw();
}

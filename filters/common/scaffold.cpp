// scaffold.cpp - the shared frame of every filter library: layout per language, requests,
// the chain rectangle, settings pack readers and writers, typed-number checks, enabling.
// Inside: layout - requests and rectangles - number scanning - pack readers - pack writers -
// typed numbers - enabling
#include "filters/common/scaffold.h"

#include <cmath>
#include <cstdio>
#include <cwchar>
#include <limits>
#include <new>

#include "app/cfgfile.h"
#include "app/filterctrl.h"
#include "core/text.h"
#include "toolkit/button.h"
#include "toolkit/edit.h"
#include "toolkit/label.h"
#include "toolkit/texture.h"
#include "toolkit/uiobj.h"

// ---------------------------------------------------------------------------------------
// Layout
void ApplyFilterLayout(const FilterLayout& layout, const wchar_t* language, uint64_t* outWidth,
                       uint64_t* outHeight) {
  const int32_t ja = IsJapanese(language);
  for (uint64_t i = 0; i < layout.count; ++i) {
    const FilterLayoutItem& it = layout.items[i];
    if (!it.control) continue;
    it.control->SetRect(ja ? it.xJa : it.xEn, ja ? it.yJa : it.yEn, it.width, it.height);
    const wchar_t* label = ja ? it.labelJa : it.labelEn;
    if (!label) continue;
    if (auto* b = dynamic_cast<CFgUIButton*>(it.control)) b->SetText(label);
    else if (auto* c = dynamic_cast<CFgUIChkButton*>(it.control)) c->SetText(label);
    else if (auto* l = dynamic_cast<CFgUILabel*>(it.control)) l->SetText(label);
  }
  if (outWidth) *outWidth = ja ? layout.widthJa : layout.widthEn;
  if (outHeight) *outHeight = ja ? layout.heightJa : layout.heightEn;
}

int32_t ShowFilterWindow(CImgFilter* filter, CFgUIDialog* window, const FilterLayout& layout,
                         FilterWindowPlace* own, FilterWindowPlace* classPlace, int32_t show,
                         CFgScreen* parent) {
  if (!filter || !window) return 0;
  if (!show) return FilterDialogShow(window, own, classPlace, 0, nullptr, 0, 0, nullptr);
  uint64_t width = 0, height = 0;
  ApplyFilterLayout(layout, filter->m_language, &width, &height);
  if (!FilterDialogShow(window, own, classPlace, 1, parent, width, height,
                        filter->GetName(filter->m_language)))
    return 0;
  for (uint64_t i = 0; i < layout.textureCount; ++i)
    if (layout.textures && layout.textures[i]) layout.textures[i]->AttachToScreen(window);
  if (layout.textureCount) window->Redraw();  // the first picture was drawn without them
  return 1;
}

// ---------------------------------------------------------------------------------------
// Requests and rectangles
void RequestIfEnabled(CImgFilter* filter, uint32_t async) {
  if (filter && filter->m_filterEnabled && filter->m_host) filter->m_host->RequestProcess(async);
}

namespace {

int32_t Saturate32(int64_t v) {
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return int32_t(v);
}

// a + b - 1 without overflow in 64 bits (the chain values are 64-bit and may be anything).
int64_t LastOf(int64_t start, int64_t length) {
  __int128 v = __int128(start) + length - 1;
  if (v > INT64_MAX) return INT64_MAX;
  if (v < INT64_MIN) return INT64_MIN;
  return int64_t(v);
}

}  // namespace

RoiRect ChainRectToRoi(int64_t x, int64_t y, int64_t width, int64_t height) {
  return RoiRect{Saturate32(x), Saturate32(y), Saturate32(LastOf(x, width)),
                 Saturate32(LastOf(y, height))};
}

// ---------------------------------------------------------------------------------------
// Number scanning: the C library's decimal conversion, with the overflow made visible.
namespace {

int32_t IsBlank(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}

struct Scanned {
  uint64_t magnitude = 0;
  int32_t negative = 0;
  int32_t overflow = 0;  // more than 64 bits of digits
};

// Leading blanks, an optional sign, then digits until the first other character.  Text
// without digits reads as 0, as the library conversion gives.
Scanned ScanDecimal(const wchar_t* text) {
  Scanned s;
  const wchar_t* p = text;
  while (IsBlank(*p)) ++p;
  if (*p == L'+' || *p == L'-') s.negative = *p++ == L'-';
  for (; *p >= L'0' && *p <= L'9'; ++p) {
    uint64_t d = uint64_t(*p - L'0');
    if (s.magnitude > (UINT64_MAX - d) / 10) s.overflow = 1;
    else s.magnitude = s.magnitude * 10 + d;
  }
  return s;
}

const wchar_t* FindValue(const CCfgPack* pack, const wchar_t* key, int32_t* outFound) {
  const CCfgItem* item = pack && key ? pack->FindItem(key) : nullptr;
  const wchar_t* value = item ? item->value : nullptr;
  if (outFound) *outFound = value != nullptr;
  return value;
}

int32_t ToSigned(const Scanned& s, int64_t min, int64_t max, int64_t* out) {
  if (s.overflow) return 0;
  if (s.negative) {
    if (s.magnitude > uint64_t(INT64_MAX) + 1) return 0;
    int64_t v = s.magnitude == uint64_t(INT64_MAX) + 1 ? INT64_MIN : -int64_t(s.magnitude);
    if (v < min || v > max) return 0;
    *out = v;
    return 1;
  }
  if (s.magnitude > uint64_t(INT64_MAX) || int64_t(s.magnitude) > max ||
      int64_t(s.magnitude) < min)
    return 0;
  *out = int64_t(s.magnitude);
  return 1;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Pack readers
int32_t PackReadFlag(const CCfgPack* pack, const wchar_t* key, uint32_t* value,
                     int32_t* outFound) {
  const wchar_t* text = FindValue(pack, key, outFound);
  if (!text || !value) return 0;
  if (wcscmp(text, L"0") == 0) *value = 0;
  else if (wcscmp(text, L"1") == 0) *value = 1;
  else return 0;
  return 1;
}

int32_t PackReadFlagLenient(const CCfgPack* pack, const wchar_t* key, uint32_t* value,
                            int32_t* outFound) {
  const wchar_t* text = FindValue(pack, key, outFound);
  if (!text || !value) return 0;
  *value = wcscmp(text, L"0") == 0 ? 0 : 1;
  return 1;
}

int32_t PackReadUnsigned(const CCfgPack* pack, const wchar_t* key, uint64_t max,
                         uint64_t* value, int32_t* outFound) {
  const wchar_t* text = FindValue(pack, key, outFound);
  if (!text || !value) return 0;
  Scanned s = ScanDecimal(text);
  // The library conversion would wrap "-5" to a huge value: refused, not wrapped.
  if (s.overflow || (s.negative && s.magnitude != 0) || s.magnitude > max) return 0;
  *value = s.magnitude;
  return 1;
}

int32_t PackReadSigned(const CCfgPack* pack, const wchar_t* key, int64_t min, int64_t max,
                       int64_t* value, int32_t* outFound) {
  const wchar_t* text = FindValue(pack, key, outFound);
  if (!text || !value) return 0;
  return ToSigned(ScanDecimal(text), min, max, value);
}

int32_t PackReadDouble(const CCfgPack* pack, const wchar_t* key, double* value,
                       int32_t* outFound) {
  const wchar_t* text = FindValue(pack, key, outFound);
  if (!text || !value) return 0;
  double v = wcstod(text, nullptr);
  if (!std::isfinite(v)) return 0;
  *value = v;
  return 1;
}

int32_t PackReadSignedList(const CCfgPack* pack, const wchar_t* key, int64_t min, int64_t max,
                           int64_t* values, uint64_t count, int32_t* outFound) {
  const CCfgItem* found = pack && key ? pack->FindItem(key) : nullptr;
  if (outFound) *outFound = found && found->value;
  if (!found || !found->value || !values) return 0;
  CCfgItem* item = const_cast<CCfgItem*>(found);  // the list copy is the item's own cache
  int32_t stored = 0;
  uint64_t i = 0;
  for (wchar_t* e = item->GetList(); e && i < count; e = item->GetNext(e), ++i)
    stored += ToSigned(ScanDecimal(e), min, max, &values[i]);
  return stored;
}

// ---------------------------------------------------------------------------------------
// Pack writers: the stored value formatted explicitly, whatever the width of long.
void PackWriteFlag(CCfgPack* pack, const wchar_t* key, uint32_t value) {
  if (pack) pack->AddItem(key, value ? L"1" : L"0");
}

void PackWriteUnsigned(CCfgPack* pack, const wchar_t* key, uint64_t value) {
  wchar_t text[32];
  swprintf(text, 32, L"%llu", static_cast<unsigned long long>(value));
  if (pack) pack->AddItem(key, text);
}

void PackWriteSigned(CCfgPack* pack, const wchar_t* key, int64_t value) {
  wchar_t text[32];
  swprintf(text, 32, L"%lld", static_cast<long long>(value));
  if (pack) pack->AddItem(key, text);
}

void PackWriteDouble(CCfgPack* pack, const wchar_t* key, double value) {
  wchar_t text[400];
  FormatDouble(text, 400, value);
  if (pack) pack->AddItem(key, text);
}

void PackWriteSignedList(CCfgPack* pack, const wchar_t* key, const int64_t* values,
                         uint64_t count) {
  if (!pack) return;
  // Each element at most 20 characters and a comma; the line limit of the format caps count.
  uint64_t units = count * 22 + 1;
  wchar_t* text = new (std::nothrow) wchar_t[units];
  if (!text) return;
  uint64_t at = 0;
  text[0] = 0;
  for (uint64_t i = 0; i < count; ++i)
    at += uint64_t(swprintf(text + at, size_t(units - at), i ? L",%lld" : L"%lld",
                            static_cast<long long>(values[i])));
  pack->AddItem(key, text);
  delete[] text;
}

// ---------------------------------------------------------------------------------------
// Typed numbers
int32_t CheckPositiveWhole(const wchar_t* text, uint64_t max, uint64_t* value) {
  // The strict parser gives 0 for empty, malformed and overflowing text alike.
  uint64_t v = text ? ParseUInt64(text) : 0;
  if (v < 1 || v > max) return 0;
  if (value) *value = v;
  return 1;
}

int32_t CheckUnsignedDecimal(const wchar_t* text, double* value) {
  if (!text || !*text || *text == L'.') return 0;
  int32_t points = 0;
  for (const wchar_t* p = text; *p; ++p) {
    if (*p == L'.') {
      if (++points > 1) return 0;
    } else if (*p < L'0' || *p > L'9') {
      return 0;
    }
  }
  double v = wcstod(text, nullptr);
  if (!std::isfinite(v)) return 0;  // hundreds of digits overflow to infinity
  if (value) *value = v;
  return 1;
}

int32_t EditCheckPositiveWhole(CFgUIEdit* edit, uint64_t max, uint64_t* value) {
  if (!edit || !value) return 0;
  if (CheckPositiveWhole(edit->GetText(), max, value)) return 1;
  wchar_t text[32];
  swprintf(text, 32, L"%llu", static_cast<unsigned long long>(*value));
  edit->SetLine(0, text);
  return 0;
}

int32_t EditCheckUnsignedDecimal(CFgUIEdit* edit, double* value) {
  if (!edit || !value) return 0;
  if (CheckUnsignedDecimal(edit->GetText(), value)) return 1;
  wchar_t text[400];
  FormatDouble(text, 400, *value);
  edit->SetLine(0, text);
  return 0;
}

// ---------------------------------------------------------------------------------------
// Enabling
void SetControlEnabled(CFgUIObj* control, int32_t enabled) {
  if (!control) return;
  control->m_enabled = enabled ? 1 : 0;
  control->OnEnable(control->m_enabled);
  if (!enabled && control->m_owner && control->m_owner->m_focusChild == control)
    control->m_owner->FocusNext();
}

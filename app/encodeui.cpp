// encodeui.cpp - the save settings dialog: texts and layout per language, the controls'
// typed values, SET with its checks, closing and the language switch.
#include "app/encodeui.h"

#include <cwchar>

#include "app/playedit.h"
#include "toolkit/msgbox.h"

EncodeUIPlace g_encodeUIPlace;

const wchar_t* const kImageExtensions[4] = {L"bmp", L"jpg", L"png", L"tif"};

namespace {

struct Texts {
  const wchar_t* title;
  const wchar_t* codecLabel;
  const wchar_t* uncompressed;
  const wchar_t* mp4Label;
  const wchar_t* qualityRadio;
  const wchar_t* keyCheck;
  const wchar_t* extLabel;
  const wchar_t* jpegLabel;
  const wchar_t* guideCheck;
  const wchar_t* areaCheck;
  const wchar_t* set;
  const wchar_t* caption;
  const wchar_t* badJpeg;
  const wchar_t* badQuality;
  const wchar_t* badBitRate;
  const wchar_t* badKey;
};

constexpr Texts kJapanese = {
    L"画像保存設定", L"AVI圧縮方式", L"無圧縮", L"MP4品質", L"品質(1-100:101MAX)", L"キー間隔",
    L"画像の拡張子", L"JPEG品質(1-100)", L"ガイド描画も含めて保存", L"選択領域内のみ保存",
    L"設定", L"エラー",
    L"JPG品質は1-100の範囲の値を設定してください",
    L"MP4品質は1-101の範囲の値を設定してください",
    L"bpsは1以上の値を設定してください",
    L"keyframeは1以上の値を設定してください"};
constexpr Texts kEnglish = {
    L"Image save settings", L"avi codec", L"bitmap", L"mp4 quality", L"quality(1-100:101)",
    L"keyframe", L"image extensions", L"jpeg quality(1-100)", L"save with guide",
    L"save selected area", L"SET", L"error",
    L"Jpg quality should be in the range of 1-100",
    L"Mp4 quality should be in the range of 1-101",
    L"bps, Please set a value of 1 or more",
    L"keyframe, Please set a value of 1 or more"};

constexpr int32_t kClientWidth = 240, kClientHeight = 356;
// A radio group with nothing selected stores this as its typed value.
constexpr uint32_t kNoSelection = 0xFFFFFFFFu;

void Number(wchar_t* out, size_t units, uint32_t v) { swprintf(out, units, L"%u", v); }

void CopyExt(wchar_t* dst, const wchar_t* src) {
  wcsncpy(dst, src, kConfigExtUnits - 1);
  dst[kConfigExtUnits - 1] = 0;
}

}  // namespace

int32_t ImageExtensionIndex(const wchar_t* extension) {
  if (!extension) return -1;
  wchar_t lowered[5] = {};
  for (int i = 0; i < 4 && extension[i]; ++i) {
    const wchar_t c = extension[i];
    lowered[i] = (c >= L'A' && c <= L'Z') ? wchar_t(c - L'A' + L'a') : c;
  }
  if (wcscmp(lowered, L"bmp") == 0) return 0;
  if (wcscmp(lowered, L"jpg") == 0) return 1;
  if (wcscmp(lowered, L"png") == 0) return 2;
  if (wcscmp(lowered, L"tif") == 0 || wcscmp(lowered, L"tiff") == 0) return 3;
  return -1;
}

CEncodeUI::CEncodeUI() {
  // Children in the order of the layout table (drawing and tab order).
  AddChild(&m_codecLabel);
  for (CFgUIChkButton& b : m_codecRadio) AddChild(&b);
  AddChild(&m_mp4Label);
  AddChild(&m_rateRadio[0]);
  AddChild(&m_bitRateEdit);
  AddChild(&m_rateRadio[1]);
  AddChild(&m_qualityEdit);
  AddChild(&m_keyCheck);
  AddChild(&m_keyEdit);
  AddChild(&m_extLabel);
  for (CFgUIChkButton& b : m_extRadio) AddChild(&b);
  AddChild(&m_jpegLabel);
  AddChild(&m_jpegEdit);
  AddChild(&m_guideCheck);
  AddChild(&m_areaCheck);
  AddChild(&m_set);

  for (int i = 1; i < 3; ++i) CFgUIChkButton::AddToGroup(&m_codecRadio[0], &m_codecRadio[i]);
  CFgUIChkButton::AddToGroup(&m_rateRadio[0], &m_rateRadio[1]);
  for (int i = 1; i < 4; ++i) CFgUIChkButton::AddToGroup(&m_extRadio[0], &m_extRadio[i]);
  for (CFgUIChkButton* b : {&m_codecRadio[0], &m_codecRadio[1], &m_codecRadio[2],
                            &m_rateRadio[0], &m_rateRadio[1], &m_extRadio[0], &m_extRadio[1],
                            &m_extRadio[2], &m_extRadio[3]}) {
    b->m_callback = OnRadio;
    b->m_user = this;
  }
  for (CFgUIChkButton* b : {&m_keyCheck, &m_guideCheck, &m_areaCheck}) {
    b->m_callback = OnCheck;
    b->m_user = this;
  }
  for (CFgUIEdit* e : {&m_bitRateEdit, &m_qualityEdit, &m_keyEdit, &m_jpegEdit}) {
    e->OnChanged = OnEditChanged;
    e->CallbackArg = this;
  }
  m_set.m_callback = OnSetPressed;
  m_set.m_user = this;
  m_codecRadio[1].SetText(L"jpg");
  m_codecRadio[2].SetText(L"png");
  m_rateRadio[0].SetText(L"bps");
  for (int i = 0; i < 4; ++i) m_extRadio[i].SetText(kImageExtensions[i]);
}

CEncodeUI::~CEncodeUI() = default;

MediaWriteOptions CEncodeUI::CommittedOptions() const {
  MediaWriteOptions o{};
  o.jpegQuality = m_jpegQuality;
  o.aviCodec = m_codec;
  o.reserved = m_reserved;
  o.h264QualityPct = m_quality;
  o.h264BitRate = m_bitRate;
  o.h264KeyInterval = m_keyInterval;
  return o;
}

void CEncodeUI::GetSaverOptions(MediaWriteOptions* out) const {
  if (!out) return;
  *out = CommittedOptions();
  if (m_rateMode != 1) out->h264QualityPct = 0;
  if (m_keyFrames != 1) out->h264KeyInterval = 0;
}

void CEncodeUI::ShowTyped() {
  CFgUIChkButton::SetGroupSelection(&m_codecRadio[0], int32_t(m_typed.codec), 0);
  CFgUIChkButton::SetGroupSelection(&m_rateRadio[0], int32_t(m_typed.rateMode), 0);
  CFgUIChkButton::SetGroupSelection(&m_extRadio[0], int32_t(m_typed.extIndex), 0);
  m_keyCheck.m_checked = m_typed.keyFrames != 0;
  m_guideCheck.m_checked = m_typed.withGuides != 0;
  m_areaCheck.m_checked = m_typed.selectedOnly != 0;
  wchar_t text[16];
  // SetLine reports the change, which stores the same value again.
  Number(text, 16, m_typed.bitRate);
  m_bitRateEdit.SetLine(0, text);
  Number(text, 16, m_typed.quality);
  m_qualityEdit.SetLine(0, text);
  Number(text, 16, m_typed.keyInterval);
  m_keyEdit.SetLine(0, text);
  Number(text, 16, m_typed.jpegQuality);
  m_jpegEdit.SetLine(0, text);
}

int32_t CEncodeUI::Build(CFgScreen* parent) {
  int32_t ext = ImageExtensionIndex(m_ext);
  if (ext < 0) ext = 2;
  CopyExt(m_ext, kImageExtensions[ext]);
  m_typed = {m_jpegQuality, m_codec,   m_reserved,    uint32_t(ext), m_rateMode,   m_bitRate,
             m_quality,     m_keyFrames, m_keyInterval, m_withGuides, m_selectedOnly};
  ShowTyped();

  if (!m_placed && g_encodeUIPlace.placed) {
    m_placed = 1;
    m_placeX = g_encodeUIPlace.x;
    m_placeY = g_encodeUIPlace.y;
  }
  int32_t x = -1, y = -1;
  if (m_placed && m_placeX >= 0) {
    x = m_placeX;
    y = m_placeY;
  }
  const Texts& t = m_english ? kEnglish : kJapanese;
  if (!Create(x, y, kClientWidth, kClientHeight, t.title, FgStyleDialog, parent)) {
    Redraw();
    return 0;
  }
  m_codecLabel.SetText(t.codecLabel);
  m_codecRadio[0].SetText(t.uncompressed);
  m_mp4Label.SetText(t.mp4Label);
  m_rateRadio[1].SetText(t.qualityRadio);
  m_keyCheck.SetText(t.keyCheck);
  m_extLabel.SetText(t.extLabel);
  m_jpegLabel.SetText(t.jpegLabel);
  m_guideCheck.SetText(t.guideCheck);
  m_areaCheck.SetText(t.areaCheck);
  m_set.SetText(t.set);

  const bool en = m_english != 0;
  struct Place {
    CFgUIObj* w;
    int32_t x, y, width, height;
  } const places[] = {
      {&m_codecLabel, 8, 8, en ? 64 : 80, 20},
      {&m_codecRadio[0], 8, 28, 70, 20},
      {&m_codecRadio[1], 86, 28, 56, 20},
      {&m_codecRadio[2], 150, 28, 48, 20},
      {&m_mp4Label, 8, 56, en ? 80 : 56, 20},
      {&m_rateRadio[0], 8, 76, 152, 20},
      {&m_bitRateEdit, 168, 76, 64, 20},
      {&m_rateRadio[1], 8, 96, 152, 20},
      {&m_qualityEdit, 168, 96, 64, 20},
      {&m_keyCheck, 8, 116, 152, 20},
      {&m_keyEdit, 168, 116, 64, 20},
      {&m_extLabel, 8, 148, en ? 112 : 84, 20},
      {&m_extRadio[0], 8, 168, 80, 20},
      {&m_extRadio[1], 64, 168, 80, 20},
      {&m_extRadio[2], 120, 168, 80, 20},
      {&m_extRadio[3], 176, 168, 80, 20},
      {&m_jpegLabel, 8, en ? 200 : 196, en ? 136 : 112, 20},
      {&m_jpegEdit, 8, 220, 32, 20},
      {&m_guideCheck, 8, 256, 224, 20},
      {&m_areaCheck, 8, 284, 224, 20},
      {&m_set, 8, 316, 224, 28},
  };
  for (const Place& p : places) p.w->SetRect(p.x, p.y, p.width, p.height);
  Redraw();
  return 1;
}

void CEncodeUI::SetLanguage(const wchar_t* language) {
  const uint32_t english = (language && wcscmp(language, L"jp") == 0) ? 0 : 1;
  if (english == m_english) return;
  m_english = english;
  if (!GetWindow()) return;
  CFgScreen* parent = m_parent;
  OnClose();
  Destroy();
  Build(parent);
}

int32_t CEncodeUI::OnClose() {
  m_placed = 1;
  m_placeX = m_x;
  m_placeY = m_y;
  g_encodeUIPlace = {1, m_x, m_y};
  return 1;
}

int32_t CEncodeUI::OnSet() {
  const Texts& t = m_english ? kEnglish : kJapanese;
  const Typed& v = m_typed;
  const wchar_t* failure = nullptr;
  if (v.jpegQuality < 1 || v.jpegQuality > 100) failure = t.badJpeg;
  else if (v.quality < 1 || v.quality > 101) failure = t.badQuality;
  else if (v.bitRate < 1) failure = t.badBitRate;
  else if (v.keyInterval < 1) failure = t.badKey;
  if (failure) {
    FgMessageBox(failure, t.caption, 1, this);
    return 0;
  }
  m_jpegQuality = v.jpegQuality;
  // A radio group without a selection keeps what is in force: -1 is no codec, no rate mode
  // and no extension, and would reach the writers and the settings file as such.
  if (v.codec != kNoSelection) m_codec = v.codec;
  m_reserved = v.reserved;
  if (v.extIndex < 4) CopyExt(m_ext, kImageExtensions[v.extIndex]);
  if (v.rateMode != kNoSelection) m_rateMode = v.rateMode;
  m_bitRate = v.bitRate;
  m_quality = v.quality;
  m_keyFrames = v.keyFrames;
  m_keyInterval = v.keyInterval;
  m_withGuides = v.withGuides;
  m_selectedOnly = v.selectedOnly;
  return 1;
}

void CEncodeUI::OnRadio(CFgUIChkButton* button, void* user) {
  CEncodeUI* d = static_cast<CEncodeUI*>(user);
  const uint32_t index = uint32_t(CFgUIChkButton::GetGroupSelection(button));
  if (button->m_leader == &d->m_codecRadio[0] || button == &d->m_codecRadio[0])
    d->m_typed.codec = index;
  else if (button->m_leader == &d->m_rateRadio[0] || button == &d->m_rateRadio[0])
    d->m_typed.rateMode = index;
  else
    d->m_typed.extIndex = index;
}

void CEncodeUI::OnCheck(CFgUIChkButton* button, void* user) {
  CEncodeUI* d = static_cast<CEncodeUI*>(user);
  const uint32_t on = button->m_checked ? 1 : 0;
  if (button == &d->m_keyCheck) d->m_typed.keyFrames = on;
  else if (button == &d->m_guideCheck) d->m_typed.withGuides = on;
  else if (button == &d->m_areaCheck) d->m_typed.selectedOnly = on;
}

void CEncodeUI::OnEditChanged(CFgUIEdit* edit, void* user) {
  CEncodeUI* d = static_cast<CEncodeUI*>(user);
  const uint32_t value = uint32_t(ParseEditUnsigned(edit->GetText()));
  if (edit == &d->m_bitRateEdit) d->m_typed.bitRate = value;
  else if (edit == &d->m_qualityEdit) d->m_typed.quality = value;
  else if (edit == &d->m_keyEdit) d->m_typed.keyInterval = value;
  else if (edit == &d->m_jpegEdit) d->m_typed.jpegQuality = value;
}

void CEncodeUI::OnSetPressed(CFgUIButton*, void* user) { static_cast<CEncodeUI*>(user)->OnSet(); }

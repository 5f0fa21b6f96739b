// bg_create.cpp - CLfBgCreate: the six method radios, the noise level, the run over all
// scenes and the save of its result.
//
// A run is failed rather than cancelled when the tool gets no frame (switched off in the
// chain, nothing open), when a scene cannot be had, or when the engine gives up: the user
// is told "failed" and nothing is written.  A quit ends the run without a word.
#include "filters/binary_geometry_fourier/bg_create.h"

#include "app/cfgfile.h"
#include "engine/background.h"
#include "media/imgio/imgio.h"
#include "media/media.h"
#include "toolkit/filesel.h"
#include "toolkit/msgbox.h"
#include "toolkit/screen.h"

FilterWindowPlace CLfBgCreate::s_classPlace;

namespace {

struct MethodText {
  const wchar_t* en;
  const wchar_t* ja;
  int32_t widthEn, widthJa;
};
const MethodText kMethodText[CLfBgCreate::kMethods] = {
    {L"RGB average", L"RGB平均", 104, 80},
    {L"RGB maxmum", L"RGB最大値", 96, 96},
    {L"RGB minmum", L"RGB最小値", 96, 96},
    {L"L*a*b* average(noise removal)", L"L*a*b*平均(ノイズ排除)", 232, 216},
    {L"RGB maxmum(noise removal)", L"RGB最大値(ノイズ排除)", 216, 216},
    {L"RGB minmum(noise removal)", L"RGB最小値(ノイズ排除)", 216, 216},
};

}  // namespace

CLfBgCreate::CLfBgCreate() : CFilterWindow(&s_classPlace) {
  for (int32_t i = 0; i < kMethods; ++i) {
    m_method[i].m_callback = &CLfBgCreate::OnMethod;
    m_method[i].m_user = this;
    if (i > 0) CFgUIChkButton::AddToGroup(&m_method[0], &m_method[i]);
    m_layoutItems[i] = {&m_method[i], kMethodText[i].en, kMethodText[i].ja, 8, 8 + 20 * i, 8,
                        8 + 20 * i, kMethodText[i].widthEn, 20};
    AddChild(&m_method[i]);
  }
  CFgUIChkButton::SetGroupSelection(&m_method[0], 0, 0);
  m_noise.m_kind = 2;
  m_noise.SetRange(2, 20, 1, 2);
  m_run.m_callback = &CLfBgCreate::OnRun;
  m_run.m_user = this;
  m_layoutItems[kMethods] = {&m_noiseLabel, L"degree of noise removal", L"ノイズ除去レベル",
                             120, 8, 112, 8, 176, 20};
  m_layoutItems[kMethods + 1] = {&m_noise, nullptr, nullptr, 120, 28, 112, 28, 176, 20};
  m_layoutItems[kMethods + 2] = {&m_run, L"SAVE", L"画像を保存", 8, 140, 8, 140, 288, 36};
  AddChild(&m_noiseLabel);
  AddChild(&m_noise);
  AddChild(&m_run);
  m_layout = {m_layoutItems, kMethods + 3, 304, 184, 304, 184, nullptr, 0};
  ApplyFilterLayout(m_layout, m_language, nullptr, nullptr);
  ApplyLanguageWidths();
  UpdateControls();
}

CLfBgCreate::~CLfBgCreate() = default;

const wchar_t* CLfBgCreate::GetName(const wchar_t* language) {
  return IsJapanese(language) ? L"背景画像の作成" : L"Generate BG image";
}

// The shared layout has one width per control; the controls whose width differs by
// language are set after it.
void CLfBgCreate::ApplyLanguageWidths() {
  const int32_t jp = IsJapanese(m_language);
  for (int32_t i = 0; i < kMethods; ++i)
    m_method[i].m_width = jp ? kMethodText[i].widthJa : kMethodText[i].widthEn;
  m_noiseLabel.m_width = jp ? 184 : 176;
  m_noise.m_width = jp ? 184 : 176;
}

void CLfBgCreate::ShowDialog(int32_t show, CFgScreen* parent) {
  ShowFilterWindow(this, this, m_layout, &m_place, m_classPlace, show, parent);
  ApplyLanguageWidths();
  if (m_walk.Busy()) m_run.SetText(IsJapanese(m_language) ? L"中止" : L"CANCEL");
  UpdateControls();
}

void CLfBgCreate::EnableDialog(int32_t enable) {
  if (m_walk.Busy()) return;
  CFilterWindow::EnableDialog(enable);
}

int32_t CLfBgCreate::OnClose() {
  if (m_walk.Busy()) return 0;
  return CFilterWindow::OnClose();
}

void CLfBgCreate::OnEnableAll() { UpdateControls(); }

void CLfBgCreate::UpdateControls() {
  const int32_t idle = m_walk.Busy() ? 0 : 1;
  for (CFgUIChkButton& radio : m_method) SetControlEnabled(&radio, idle);
  const int32_t noise = idle && Method() == 3;
  SetControlEnabled(&m_noiseLabel, noise);
  SetControlEnabled(&m_noise, noise);
  CFgUICtrl::Redraw();
}

void CLfBgCreate::OnMethod(CFgUIChkButton*, void* user) {
  static_cast<CLfBgCreate*>(user)->UpdateControls();
}

void CLfBgCreate::OnRun(CFgUIButton*, void* user) { static_cast<CLfBgCreate*>(user)->Execute(); }

void CLfBgCreate::Process(CImgBuff* picture, uint64_t, int64_t, int64_t, int64_t, int64_t,
                          uint32_t, uint32_t) {
  m_walk.Capture(picture);  // only while a run holds a capture picture
}

void CLfBgCreate::SaveParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::SaveParams(pack);
  PackWriteSigned(pack, L"sel", Method());
  PackWriteSigned(pack, L"noise_level", m_noise.m_position);
}

void CLfBgCreate::LoadParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::LoadParams(pack);
  int64_t sel = 0;
  if (PackReadSigned(pack, L"sel", 0, kMethods - 1, &sel, nullptr))
    CFgUIChkButton::SetGroupSelection(&m_method[0], int32_t(sel), 0);
  int64_t level = 0;
  if (PackReadSigned(pack, L"noise_level", INT32_MIN, INT32_MAX, &level, nullptr) &&
      m_noise.IsValidPosition(level))
    m_noise.m_position = int32_t(level);
  UpdateControls();
}

CFgScreen* CLfBgCreate::Parent() { return GetWindow() ? static_cast<CFgScreen*>(this) : nullptr; }

int32_t CLfBgCreate::Message(const wchar_t* ja, const wchar_t* en, int32_t error, int32_t kind) {
  const int32_t jp = IsJapanese(m_language);
  const wchar_t* caption = error ? (jp ? L"エラー" : L"error") : (jp ? L"確認" : L"confirmation");
  return FgMessageBox(jp ? ja : en, caption, kind, Parent());
}

int32_t CLfBgCreate::BgCreateFrameCallback(uint64_t index, CImgBuff* picture, void* user) {
  auto* self = static_cast<CLfBgCreate*>(user);
  // A scene that cannot be had stops the engine too: folding in a stale picture would
  // give a wrong background without a word.
  return self->m_walk.FetchScene(index, picture) == SceneFetched ? 1 : 0;
}

void CLfBgCreate::Execute() {
  if (m_walk.Busy()) {
    m_walk.Cancel();
    return;
  }
  const int32_t jp = IsJapanese(m_language);
  wchar_t path[1024] = {};
  FileSelectOptions options;
  options.title = jp ? L"保存するファイル名を選択" : L"select file name to save";
  options.extensions = ImageOpenExtensions();
  if (FgSelectFile(path, 1023, &options, Parent()) != 1 || !path[0]) return;
  if (MediaFileExists(path) &&
      Message(L"上書き保存しますか？", L"Do you want to overwrite it?", 0, 0) != 1)
    return;
  const int32_t method = Method();
  const double level = double(m_noise.m_position);
  CImgBuff out;
  {
    CSceneWalkRun run(&m_walk, this, &m_run);
    if (!run.Started()) {
      Message(L"失敗しました", L"failed", 1, 1);
      return;
    }
    UpdateControls();
    int32_t result = 0;
    // The engine learns the size and format from a non-empty first frame; an empty one
    // means the tool got no frame.
    if (m_walk.FetchScene(0, &out) == SceneFetched && out.Format()) {
      static const int32_t kModes[kMethods] = {0, 1, -1, 0, 1, -1};
      if (method >= 0 && method <= 2)
        result = CreateBackground(&out, m_sceneCount, kModes[method], &BgCreateFrameCallback, this);
      else if (method >= 3 && method < kMethods)
        result = CreateBackgroundLab(&out, m_sceneCount, kModes[method], method == 3 ? level : 0.0,
                                     &BgCreateFrameCallback, this);
    }
    if (QuitRequested) {
      // closing: nothing to say or save
    } else if (m_walk.Cancelled()) {
      Message(L"中止しました", L"canceled", 0, 1);
    } else if (result == 1) {
      SaveImageFile(&out, path, m_language, Parent());
    } else {
      Message(L"失敗しました", L"failed", 1, 1);
    }
  }
  UpdateControls();
}

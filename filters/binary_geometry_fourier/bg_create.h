// bg_create.h - CLfBgCreate, "Generate BG image": walks every scene of the open video as the
// filters before it left them, folds them into one background picture (mean, maximum,
// minimum or their noise-removing variants) and saves it as an image file.
#pragma once
#include <cstdint>

#include "app/filter.h"
#include "app/scenewalk.h"
#include "filters/common/scaffold.h"
#include "toolkit/button.h"
#include "toolkit/label.h"
#include "toolkit/scrollbar.h"

class CLfBgCreate : public CFilterWindow {
 public:
  static constexpr uint32_t kFilterId = 10016;
  static constexpr int32_t kMethods = 6;

  CLfBgCreate();
  ~CLfBgCreate() override;

  const wchar_t* GetName(const wchar_t* language) override;
  void EnableDialog(int32_t enable) override;
  void ShowDialog(int32_t show, CFgScreen* parent) override;
  int32_t OnClose() override;
  void OnEnableAll() override;
  void Process(CImgBuff* picture, uint64_t scene, int64_t x, int64_t y, int64_t width,
               int64_t height, uint32_t connectivity, uint32_t background) override;
  void SaveParams(CCfgPack* pack) override;
  void LoadParams(CCfgPack* pack) override;

  // Radios enabled when idle; the noise controls when idle with method 3; redraw.
  void UpdateControls();
  // The run button: the file question, then the run; during a run it only cancels.
  void Execute();
  // The engine's frame source: scene index through the chain into picture; 0 stops.
  static int32_t BgCreateFrameCallback(uint64_t index, CImgBuff* picture, void* user);

  int32_t Method() { return CFgUIChkButton::GetGroupSelection(&m_method[0]); }
  int32_t Busy() const { return m_walk.Busy(); }

  CFgUIChkButton m_method[kMethods];
  CFgUILabel m_noiseLabel;
  CFgUIScrollBar m_noise;
  CFgUIButton m_run;
  CSceneWalk m_walk;  // busy and cancel flags and the capture picture of a run
  static FilterWindowPlace s_classPlace;

 private:
  static void OnMethod(CFgUIChkButton* button, void* user);
  static void OnRun(CFgUIButton* button, void* user);
  int32_t Message(const wchar_t* ja, const wchar_t* en, int32_t error, int32_t kind);
  CFgScreen* Parent();
  void ApplyLanguageWidths();

  FilterLayoutItem m_layoutItems[kMethods + 3];
};

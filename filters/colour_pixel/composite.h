// composite.h - the "Composite" window of the Tool menu: up to four channel pictures loaded
// from image files become one colour picture by a colour model (RGB, HSV, CMY, CMYK, XYZ,
// L*a*b*, L*C*h), previewed, saved, or handed to the main screen as its source.
//
//   CompositeChannels  the composing step alone (tests)
//   CCompositeDialog   the window; the main screen holds it through CCompositeUI
//   MakeCompositeUI    the factory the program registers with SetCompositeFactory
#pragma once
#include <cstdint>

#include "app/dialogs.h"
#include "core/imgbuff.h"
#include "toolkit/button.h"
#include "toolkit/edit.h"
#include "toolkit/picture.h"
#include "toolkit/texture.h"

// Composes the used channels (1 to 3, and 4 in mode 3) into result: the largest size among
// them, the format by their largest bytes per pixel; a pixel outside a channel's picture
// reads 0 there.  1, or 0 with result empty when no channel is used or memory is short.
int32_t CompositeChannels(CImgBuff* const channels[4], int32_t mode, CImgBuff* result);

class CCompositeDialog : public CCompositeUI, public CFgUIDialog {
 public:
  CCompositeDialog();
  ~CCompositeDialog() override;

  void SetLanguage(const wchar_t* language) override;
  int32_t Show(CFgScreen* parent) override;
  int32_t OnClose() override;

  // Channel 0..3 from a file (null or empty: emptied).  1, or 0 for a bad index or a file
  // that cannot be read (the channel then unchanged; the failure shown to the owner).
  int32_t LoadChannel(int32_t channel, const wchar_t* path);
  void Compose();
  void UpdateControls();
  int32_t Mode() { return CFgUIChkButton::GetGroupSelection(&m_mode[0]); }

  CFgUIPicture m_preview;
  CFgUIChkButton m_mode[7];
  CFgUIEdit m_path[4];
  CFgUIButton m_select[4];
  CFgUIButton m_delete[4];
  CFgUIButton m_open;
  CFgUIButton m_save;
  CImgBuff m_channels[4];
  CImgBuff m_result;
  int32_t m_chosen[4] = {0, 0, 0, 0};  // -1 once the channel's chooser loaded a file
  int32_t m_english = 0;  // Japanese until told otherwise, like the main screen

 private:
  static void OnModeChanged(CFgUIChkButton* button, void* user);
  static void OnPathEdited(CFgUIEdit* edit, void* user);
  static void OnSelect(CFgUIButton* button, void* user);
  static void OnDelete(CFgUIButton* button, void* user);
  static void OnOpen(CFgUIButton* button, void* user);
  static void OnSave(CFgUIButton* button, void* user);
  void PlaceControls();

  int32_t m_placeKept = 0, m_placeX = 0, m_placeY = 0;
  CFgTexture m_texture;
};

CCompositeUI* MakeCompositeUI();

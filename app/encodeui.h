// encodeui.h - the save settings dialog ("画像保存設定" / "Image save settings"): the AVI
// frame codec, the MP4 rate control (bit rate or quality) and key-frame interval, the
// extension proposed for images saved from a video, the JPEG quality, and the two switches
// "save with guide" and "save selected area".  A member of the main screen for the
// program's life; its window exists only between Build and closing.
//
//   CEncodeUI            the dialog: committed values (what the settings file keeps and the
//                        savers use), typed values (what the controls hold now)
//   ImageExtensionIndex  "bmp" 0, "jpg" 1, "png" 2, "tif"/"tiff" 3, else -1
//   EncodeUIPlace        the process-wide remembered window position
//
// Events and results:
//   radio group chosen     its index -> typed value (-1 when none is selected)
//   check box toggled      1 / 0 -> typed value
//   edit box changed       unsigned decimal (C library rules, beyond 32 bits 4294967295)
//   SET                    JPEG quality 1..100, H.264 quality 1..101, bit rate >= 1, key
//                          interval >= 1, checked in that order whatever the modes; the first
//                          failure shown, nothing committed; else every typed value committed
//                          (the window stays open, nothing shown)
//   close                  the position remembered (also process-wide); typed values dropped
#pragma once

#include <cstdint>

#include "app/config.h"
#include "media/media.h"
#include "toolkit/button.h"
#include "toolkit/edit.h"
#include "toolkit/label.h"
#include "toolkit/uiobj.h"

// The first four characters of extension, ASCII capitals lowered, as a whole: "bmp" 0,
// "jpg" 1, "png" 2, "tif" or "tiff" 3; anything else (also null) -1.
int32_t ImageExtensionIndex(const wchar_t* extension);
// The extension of each index.
extern const wchar_t* const kImageExtensions[4];

struct EncodeUIPlace {
  int32_t placed = 0;
  int32_t x = 0, y = 0;
};
extern EncodeUIPlace g_encodeUIPlace;

class CEncodeUI : public CFgUIDialog {
 public:
  CEncodeUI();
  ~CEncodeUI() override;

  // Opens the window under parent at the remembered place (else centred on it), laid out
  // for the language; the caller makes sure it is not open.  0 when it cannot be made.
  int32_t Build(CFgScreen* parent);
  // English = the language is not exactly "jp"; an open window is closed and built again
  // in the new language when that changed.
  void SetLanguage(const wchar_t* language);
  int32_t OnClose() override;
  // The SET button: checks and commits (see the table above).  1 when committed.
  int32_t OnSet();

  // The committed options as they stand.
  MediaWriteOptions CommittedOptions() const;
  // What the savers get: the committed options with the H.264 quality 0 unless the rate
  // mode is 1 (so the bit rate applies) and the key interval 0 unless the switch is set.
  void GetSaverOptions(MediaWriteOptions* out) const;

  // Committed values (the settings file reads and writes them directly).
  int32_t m_placed = 0;
  int32_t m_placeX = 0, m_placeY = 0;
  uint32_t m_english = 0;
  uint32_t m_jpegQuality = 75;
  uint32_t m_codec = 1;           // AVI frames: 0 uncompressed, 1 MJPG, 2 PNG
  uint32_t m_reserved = 0;
  uint32_t m_quality = 25;        // H.264 quality percent
  uint32_t m_bitRate = 5000000;
  uint32_t m_keyInterval = 10;
  uint32_t m_rateMode = 0;        // 0 bit rate ("bps"), 1 quality
  uint32_t m_keyFrames = 1;       // key-frame switch
  uint32_t m_withGuides = 0;
  uint32_t m_selectedOnly = 0;
  wchar_t m_ext[kConfigExtUnits] = L"png";

  // Controls.
  CFgUILabel m_codecLabel, m_mp4Label, m_extLabel, m_jpegLabel;
  CFgUIChkButton m_codecRadio[3];
  CFgUIChkButton m_rateRadio[2];
  CFgUIChkButton m_keyCheck;
  CFgUIChkButton m_extRadio[4];
  CFgUIChkButton m_guideCheck, m_areaCheck;
  CFgUIEdit m_bitRateEdit, m_qualityEdit, m_keyEdit, m_jpegEdit;
  CFgUIButton m_set;

  // Typed values: what the controls hold now.
  struct Typed {
    uint32_t jpegQuality, codec, reserved, extIndex, rateMode, bitRate, quality, keyFrames,
        keyInterval, withGuides, selectedOnly;
  } m_typed{};

 private:
  void ShowTyped();
  static void OnRadio(CFgUIChkButton* button, void* user);
  static void OnCheck(CFgUIChkButton* button, void* user);
  static void OnEditChanged(CFgUIEdit* edit, void* user);
  static void OnSetPressed(CFgUIButton* button, void* user);
};

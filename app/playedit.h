// playedit.h - the playback range dialog ("動画再生設定" / "Video play edit"): start scene,
// end scene and step, numbered from 1, checked against the source and handed to the main
// screen, which then walks only start, start + step, ... up to end.
//
//   CPlayEditOwner   what the dialog reads of the main screen and hands to it
//   CPlayEditUI      the dialog; one instance for the program's life, its window opened by
//                    Build and gone at close
//   PlayRangeLimit   N, the largest end a range may have
//
// Events and results:
//   edit box changed   its text parsed as an unsigned number (C library rules) -> typed value
//   COPY               the current source scene (1 without an open video) into that box
//   SET                start 0, end 0, step 0 or start > end: "the value you entered is
//                      incorrect"; end > N or step >= N: "that's beyond the scope of the
//                      video"; else the range is committed and applied
//   RESET              the boxes show 1, N, 1 (the range in force changes at the next SET)
//   close              the place is remembered (also process-wide) for the next opening
#pragma once

#include <cstdint>

#include "toolkit/button.h"
#include "toolkit/edit.h"
#include "toolkit/label.h"
#include "toolkit/uiobj.h"

class CPlayEditOwner {
 public:
  virtual ~CPlayEditOwner() = default;
  // Whether a source picture is present and a media file open, the file's frame count and
  // the current scene (frame number in the file, 0-based).
  virtual void GetPlaySource(int32_t* hasPicture, int32_t* hasMedia, uint64_t* frameCount,
                             uint64_t* currentScene) = 0;
  // start, end and step numbered from 1, already checked.
  virtual void SetPlayRange(uint64_t start, uint64_t end, uint64_t step) = 0;
};

// 1 without a source picture, 2 with a picture but no media file, else the file's frame
// count, at most 100.
uint64_t PlayRangeLimit(int32_t hasPicture, int32_t hasMedia, uint64_t frameCount);
// An edit box's text as the C library reads an unsigned number: blanks skipped, a sign,
// digits up to the first other character; no digits 0; beyond 32 bits 4294967295.
uint64_t ParseEditUnsigned(const wchar_t* text);

class CPlayEditUI : public CFgUIDialog {
 public:
  CPlayEditUI();
  ~CPlayEditUI() override;

  int32_t Build(CFgScreen* parent);
  void SetSceneCount(uint64_t n);
  void SetLanguage(const wchar_t* language);
  int32_t OnClose() override;

  // Button and edit actions (also what the callbacks call).
  void Copy(int32_t end);
  void Set();
  void Reset();

  int32_t m_placed = 0;
  int32_t m_placeX = 0, m_placeY = 0;
  uint64_t m_start = 1, m_end = 1, m_step = 1;  // committed
  uint32_t m_english = 0;
  CPlayEditOwner* m_mainScreen = nullptr;
  CFgUILabel m_labels[3];
  CFgUIEdit m_edits[3];
  CFgUIButton m_copyStart, m_copyEnd, m_set, m_reset;
  uint64_t m_typed[3] = {1, 1, 1};

 private:
  uint64_t Limit() const;
  void ShowValues(uint64_t start, uint64_t end, uint64_t step);
  void ApplyTexts();
  static void OnEditChanged(CFgUIEdit* edit, void* user);
  static void OnButton(CFgUIButton* button, void* user);
};

// The process-wide remembered place of the dialog (placed flag, x, y).
struct PlayEditPlace {
  int32_t placed = 0;
  int32_t x = 0, y = 0;
};
extern PlayEditPlace g_playEditPlace;

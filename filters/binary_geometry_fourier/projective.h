// projective.h - CLfPtrans, the projective transformation: every frame re-projected as if
// the camera (focal length, pixel size) were turned by a pan and a tilt, then zoomed.
//
//   CheckAngleText, CheckZoomText   the focus-loss checks of the angle and zoom boxes
//   CLfPtrans                       the filter and its window of six boxes
#pragma once
#include <cstdint>

#include "app/filter.h"
#include "engine/tilt.h"
#include "filters/common/scaffold.h"
#include "toolkit/button.h"
#include "toolkit/edit.h"
#include "toolkit/label.h"

// An optional "-", then digits with at most one "." (not first); strictly between -90 and
// 90.  1 and *value set, else 0.
int32_t CheckAngleText(const wchar_t* text, double* value);
// The same syntax; greater than 0.
int32_t CheckZoomText(const wchar_t* text, double* value);

class CLfPtrans : public CFilterWindow {
 public:
  static constexpr uint32_t kFilterId = 10009;
  enum Box : int32_t { BoxFocal = 0, BoxPixel, BoxInch, BoxPan, BoxTilt, BoxZoom, BoxCount };
  // What Process reads; written under the lock.
  struct State {
    uint32_t committed = 0;
    uint64_t cameraWidth = 0, cameraHeight = 0;
    CameraModel camera{0, 0, 0, 0};
    double angles[3] = {0, 0, 0};  // committed pan, tilt, roll (0)
    double focal = 0;              // mm
    double pixel = 0;              // um
    double zoom = 1.0;
  };

  CLfPtrans();

  const wchar_t* GetName(const wchar_t* language) override;
  void ShowDialog(int32_t show, CFgScreen* parent) override;
  void Process(CImgBuff* picture, uint64_t scene, int64_t x, int64_t y, int64_t width,
               int64_t height, uint32_t connectivity, uint32_t background) override;
  void SaveParams(CCfgPack* pack) override;
  void LoadParams(CCfgPack* pack) override;
  void OnEnableAll() override { UpdateButton(); }

  State GetState() const;
  // The six fields in box order (focal, pixel, inch, pan, tilt, zoom).
  double Field(int32_t box) const;
  uint32_t IsDirty() const { return m_dirty; }
  void LayOut(const wchar_t* language);
  // "calc from CCD size" and "set".
  void CalcPixelSizeFromInch();
  void SetCamera();

  CFgUILabel m_labels[8];
  CFgUIEdit m_edits[BoxCount];
  CFgUIButton m_calcButton, m_setButton;
  static FilterWindowPlace s_classPlace;

 private:
  static void OnEditChanged(CFgUIEdit* edit, void* user);
  static void OnEditFocusLost(CFgUIEdit* edit, void* user);
  static void OnCalc(CFgUIButton* button, void* user);
  static void OnSet(CFgUIButton* button, void* user);
  void UpdateButton();
  void SetField(int32_t box, double value);
  void ShowField(int32_t box);
  void Message(const wchar_t* ja, const wchar_t* en);

  mutable PlatformLock m_lock;
  State m_state;
  double m_inch = 0, m_pan = 0, m_tilt = 0;  // UI thread only
  uint32_t m_dirty = 0;
  FilterLayoutItem m_layoutItems[16];
};

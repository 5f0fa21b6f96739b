// anti_shake.h - CLfAntiShake, "Anti shake / Composit": holds a shaking video still and
// writes the aligned scenes as a new video or image series ("fixed" on two reference boxes,
// "moving" on the centre third of each aligned scene), or averages the aligned scenes into
// one picture, optionally at twice the size.
//
//   ReferenceBox            a template cut from scene 0 and where it lies
//   CompositeSums           the running sums of the plain composite
//   CompositeAccumulateRows row worker: one scene added to the sums
//   CompositeAverageRows    row worker: the sums divided into the picture
//   CLfAntiShake            the tool: window, boxes, and the three runs
#pragma once
#include <cstdint>

#include "app/filter.h"
#include "app/scenewalk.h"
#include "filters/common/scaffold.h"
#include "platform/thread.h"
#include "toolkit/button.h"

// Set exactly when the template is non-empty.
struct ReferenceBox {
  CImgBuff templ;
  double x = 0, y = 0;  // top-left corner in image pixels
  int32_t width = 0, height = 0;
};

// Per-pixel sums of the plain composite: plane 0 holds gray or the first channel.
struct CompositeSums {
  double* sum[3] = {nullptr, nullptr, nullptr};
  int32_t width = 0, height = 0;
  uint64_t added = 0;
  CImgBuff* picture = nullptr;  // the scene being added, or the picture receiving the mean
};

// ParallelFor workers over rows [first, first + count) of sums->picture, which must have the
// sums' size.  Gray at its depth; 24-bit colour and CMYK as 8-bit R, G, B; 48-bit colour and
// HSV as 16-bit R, G, B; 96-bit as 32-bit R, G, B; XYZ as doubles.  The mean is truncated for
// the integer depths and exact for XYZ.
void CompositeAccumulateRows(void* sums, uint64_t first, uint64_t count);
void CompositeAverageRows(void* sums, uint64_t first, uint64_t count);

class CLfAntiShake : public CFilterWindow {
 public:
  static constexpr uint32_t kFilterId = 10032;

  CLfAntiShake();
  ~CLfAntiShake() override;

  const wchar_t* GetName(const wchar_t* language) override;
  void EnableDialog(int32_t enable) override;
  void ShowDialog(int32_t show, CFgScreen* parent) override;
  int32_t OnClose() override;
  void OnEnableAll() override;
  using CFilterWindow::DrawOverlay;
  void DrawOverlay(PixelToGlFn toGlX, PixelToGlFn toGlY, CFgScreen* screen, CFgFont* font,
                   int32_t viewX0, int32_t viewY0, int32_t viewX1, int32_t viewY1, int32_t imageX0,
                   int32_t imageY0, int32_t imageX1, int32_t imageY1, int32_t zoom) override;
  void Process(CImgBuff* picture, uint64_t scene, int64_t x, int64_t y, int64_t width,
               int64_t height, uint32_t connectivity, uint32_t background) override;
  using CFilterWindow::OnLButtonDown;
  using CFilterWindow::OnRButtonDown;
  void OnLButtonDown(int64_t x, int64_t y, uint8_t flags) override;
  void OnRButtonDown(int64_t x, int64_t y, uint8_t flags) override;
  void SaveParams(CCfgPack* pack) override;
  void LoadParams(CCfgPack* pack) override;

  // Enables the controls for the busy state, the mode, fixed/moving and zoom; redraws.
  void UpdateControls();
  // Both boxes emptied; the host redraws when the filter is enabled; UpdateControls.
  void OnSpecifyReference();
  // OPEN (mode 0) or SAVE (mode 1); during a run it only cancels.
  void Execute(int32_t mode);

  // The runs (UI thread, inside a run bracket): 1 or 0.
  int32_t SaveStabilizedVideo();
  int32_t SaveComposite(int32_t mode);
  int32_t SaveCompositeZoom(int32_t mode);
  // Box 0 := the centre third of the picture, its template's top-left corner moved back by a
  // quarter of (dx, dy); box 1 emptied.
  void SetMovingReference(const CImgBuff* picture, int32_t width, int32_t height, double dx,
                          double dy);

  int32_t Mode() { return CFgUIChkButton::GetGroupSelection(&m_mode[0]); }
  int32_t Moving() { return CFgUIChkButton::GetGroupSelection(&m_typeRadio[0]); }
  int32_t Busy() const { return m_walk.Busy(); }
  int32_t BoxSize();
  // Copies of box i's position and size (and whether it is set) under the draw lock.
  int32_t GetBox(int32_t i, double* x, double* y, int32_t* width, int32_t* height);
  // A copy of box i's template into out; 0 when the box is not set.
  int32_t GetBoxTemplate(int32_t i, CImgBuff* out);

  CFgUIChkButton m_mode[2];       // anti shake, composit
  CFgUIChkButton m_typeRadio[2];  // fixed, moving
  CFgUIChkButton m_zoom, m_antiNoise, m_specify;
  CFgUIButton m_open, m_save;
  CSceneWalk m_walk;  // busy and cancel flags and the capture picture of a run
  static FilterWindowPlace s_classPlace;

 private:
  static void OnControl(CFgUIChkButton* button, void* user);
  static void OnSpecify(CFgUIChkButton* button, void* user);
  static void OnOpen(CFgUIButton* button, void* user);
  static void OnSave(CFgUIButton* button, void* user);
  int32_t Message(const wchar_t* ja, const wchar_t* en, int32_t error, int32_t kind);
  CFgScreen* Parent();
  void ClearBoxes();
  // Scene index into w; 1 fetched, 0 refused or of another size than (width, height) when
  // those are given, -1 stopped (cancel or quit).
  int32_t Fetch(uint64_t index, CImgBuff* w, int32_t width = 0, int32_t height = 0);
  // The file question of the composites; 1 go on, else the run's result (cancel set).
  int32_t AskCompositePath(wchar_t* path, int32_t* result);
  int32_t FinishComposite(int32_t mode, CImgBuff* w, const wchar_t* path);

  PlatformLock m_boxLock;  // the boxes, the click capture, box size and fill (DrawOverlay
                           // and Process read them on the worker)
  ReferenceBox m_box[2];
  int32_t m_boxSize = 32;
  uint8_t m_fill = 0;
  int32_t m_wantClick = 0;
  CImgBuff m_clickCapture;
  FilterLayoutItem m_layoutItems[9];
};

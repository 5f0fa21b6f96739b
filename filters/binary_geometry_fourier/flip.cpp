// flip.cpp - CLfFlip: its window of two boxes, the flip of the chain rectangle and its
// settings.
//
// Controls and results:
//   a box pressed   the flag stored; frame processed (waits) when enabled
//   LoadParams      "flip_h" / "flip_v" exactly "0" or "1" set the boxes; redraw
#include "filters/binary_geometry_fourier/flip.h"

#include "app/cfgfile.h"
#include "core/imgbuff.h"
#include "core/parallel.h"
#include "engine/frame.h"

FilterWindowPlace CLfFlip::s_classPlace;

namespace {

void MirrorPiece(void* ctx, uint64_t first, uint64_t count) {
  MirrorRows(static_cast<FlipJob*>(ctx), first, count);
}
void SwapPiece(void* ctx, uint64_t first, uint64_t count) {
  SwapRows(static_cast<FlipJob*>(ctx), first, count);
}

}  // namespace

CLfFlip::CLfFlip() : CFilterWindow(&s_classPlace) {
  // The labels are the window's own: "vertical" stands with "水平", "horizontal" with "垂直".
  m_layoutItems[0] = {&m_mirrorBox, L"vertical", L"\x6C34\x5E73", 10, 10, 10, 10, 100, 20};
  m_layoutItems[1] = {&m_reverseBox, L"horizontal", L"\x5782\x76F4", 120, 10, 80, 10, 100, 20};
  CFgUIChkButton* boxes[2] = {&m_mirrorBox, &m_reverseBox};
  for (CFgUIChkButton* box : boxes) {
    box->m_callback = &CLfFlip::OnBox;
    box->m_user = this;
    box->m_checked = 0;
    AddChild(box);
  }
  m_mirrorBox.SetText(L"vertical");
  m_reverseBox.SetText(L"horizontal");
  m_layout = {m_layoutItems, 2, 230, 60, 150, 60, nullptr, 0};
  LayOut(m_language);
}

// The shared layout keeps one width per control; the Japanese boxes are narrower (60).
void CLfFlip::LayOut(const wchar_t* language) {
  ApplyFilterLayout(m_layout, language, nullptr, nullptr);
  if (IsJapanese(language)) {
    m_mirrorBox.SetRect(10, 10, 60, 20);
    m_reverseBox.SetRect(80, 10, 60, 20);
  }
}

const wchar_t* CLfFlip::GetName(const wchar_t* language) {
  return IsJapanese(language) ? L"\x53CD\x8EE2" : L"Flip";  // "反転"
}

void CLfFlip::ShowDialog(int32_t show, CFgScreen* parent) {
  CFilterWindow::ShowDialog(show, parent);
  LayOut(m_language);
}

void CLfFlip::OnBox(CFgUIChkButton*, void* user) {
  auto* self = static_cast<CLfFlip*>(user);
  Settings now;
  now.flipH = self->m_mirrorBox.m_checked ? 1 : 0;
  now.flipV = self->m_reverseBox.m_checked ? 1 : 0;
  self->m_settings.Update([&](Settings& s) { s = now; });
  RequestIfEnabled(self, 0);
}

// Mirror first, then reverse: both together turn the rectangle by half a turn.  A rectangle
// NormalizeRoi refuses leaves the picture as it was; one partly outside is clipped.
void CLfFlip::Process(CImgBuff* picture, uint64_t, int64_t x, int64_t y, int64_t width,
                      int64_t height, uint32_t, uint32_t) {
  if (!picture) return;
  const Settings s = m_settings.Snapshot();
  const RoiRect rect = ChainRectToRoi(x, y, width, height);
  if (s.flipH) {
    RoiRect roi = rect;
    if (NormalizeRoi(&roi, picture)) {
      FlipJob job{picture, roi.x0, roi.y0, roi.x1, roi.y1};
      ParallelFor(&MirrorPiece, &job, uint64_t(roi.y1 - roi.y0) + 1);
    }
  }
  if (s.flipV) {
    RoiRect roi = rect;
    if (NormalizeRoi(&roi, picture)) {
      FlipJob job{picture, roi.x0, roi.y0, roi.x1, roi.y1};
      ParallelFor(&SwapPiece, &job, (uint64_t(roi.y1 - roi.y0) + 1) / 2);
    }
  }
}

void CLfFlip::SaveParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::SaveParams(pack);
  const Settings s = m_settings.Snapshot();
  PackWriteFlag(pack, L"flip_h", s.flipH);
  PackWriteFlag(pack, L"flip_v", s.flipV);
}

void CLfFlip::LoadParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::LoadParams(pack);
  Settings s = m_settings.Snapshot();
  PackReadFlag(pack, L"flip_h", &s.flipH, nullptr);  // anything but "0" or "1" is ignored
  PackReadFlag(pack, L"flip_v", &s.flipV, nullptr);
  m_settings.Update([&](Settings& stored) { stored = s; });
  m_mirrorBox.m_checked = int32_t(s.flipH);
  m_reverseBox.m_checked = int32_t(s.flipV);
  CFgUICtrl::Redraw();
}

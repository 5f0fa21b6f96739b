// separation.cpp - CLfSeparation: one box, the split on the frame and the setting.
//
// Controls and results:
//   "gray scale" pressed   frame processed (waits) when enabled with a host
//   LoadParams             "gray" exactly "0" unticks, anything else ticks; no redraw
#include "filters/binary_geometry_fourier/separation.h"

#include "app/cfgfile.h"
#include "engine/separate.h"

FilterWindowPlace CLfSeparation::s_classPlace;

CLfSeparation::CLfSeparation() : CFilterWindow(&s_classPlace) {
  // "輝度画像"
  m_layoutItems[0] = {&m_grayBox, L"gray scale", L"\x8F1D\x5EA6\x753B\x50CF", 8, 8, 8, 8, 96, 20};
  m_grayBox.m_checked = 0;
  m_grayBox.m_callback = &CLfSeparation::OnBox;
  m_grayBox.m_user = this;
  AddChild(&m_grayBox);
  m_layout = {m_layoutItems, 1, 112, 36, 112, 36, nullptr, 0};
  ApplyFilterLayout(m_layout, m_language, nullptr, nullptr);
}

const wchar_t* CLfSeparation::GetName(const wchar_t* language) {
  return IsJapanese(language) ? L"\x7269\x4F53\x306E\x5206\x96E2" : L"Separation";  // "物体の分離"
}

void CLfSeparation::OnBox(CFgUIChkButton* button, void* user) {
  auto* self = static_cast<CLfSeparation*>(user);
  self->m_gray.store(button->m_checked ? 1 : 0);
  RequestIfEnabled(self, 0);
}

// The engine refuses a rectangle that is not wholly inside the picture (it does not clip),
// and the frame then stays as it was.
void CLfSeparation::Process(CImgBuff* picture, uint64_t, int64_t x, int64_t y, int64_t width,
                            int64_t height, uint32_t connectivity, uint32_t background) {
  if (!picture) return;
  const RoiRect rect = ChainRectToRoi(x, y, width, height);
  SeparateParticles(picture, int32_t(m_gray.load()), int32_t(connectivity), int32_t(background),
                    &rect);
}

void CLfSeparation::SaveParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::SaveParams(pack);
  PackWriteFlag(pack, L"gray", m_gray.load());
}

void CLfSeparation::LoadParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::LoadParams(pack);
  uint32_t gray = m_gray.load();
  if (PackReadFlagLenient(pack, L"gray", &gray, nullptr)) {
    m_gray.store(gray);
    m_grayBox.m_checked = int32_t(gray);
  }
}

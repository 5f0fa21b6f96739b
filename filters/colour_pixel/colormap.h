// colormap.h - CLfColorMap: counts the colours of the chain's rectangle into a 256 x 256
// table laid out like a colour diagram (xy, a*b* or the HSV disc) and paints the diagram's
// background brightened by the counts; the frame itself is not changed.
//
//   ColorMapView, ColorMapType  the menu's choices
//   ColorMapCount               the counting step alone (tests and the benchmark)
//   CLfColorMap                 the filter and its window
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "app/filter.h"
#include "filters/common/scaffold.h"
#include "platform/thread.h"
#include "toolkit/menu.h"
#include "toolkit/texture.h"

enum ColorMapView : uint32_t { ColorMapXy = 0, ColorMapLab = 1, ColorMapHsv = 2 };
enum ColorMapType : uint32_t { ColorMapStandard = 0, ColorMapLog = 1, ColorMapPresence = 2 };

// Counts the pixels of roi (inside picture) into counts[65536] (cell row x 256 + column, by
// the view's rule; cells outside the table are not counted) and returns the largest count.
// counts is cleared first.  Rows run on the worker pool, private tables merged once each.
uint32_t ColorMapCount(const CImgBuff* picture, const RoiRect& roi, uint32_t view,
                       uint32_t* counts);

class CLfColorMap : public CFilterWindow {
 public:
  static constexpr uint32_t kFilterId = 10030;

  CLfColorMap();
  ~CLfColorMap() override;

  const wchar_t* GetName(const wchar_t* language) override;
  void ShowDialog(int32_t show, CFgScreen* parent) override;
  void Process(CImgBuff* picture, uint64_t scene, int64_t x, int64_t y, int64_t width,
               int64_t height, uint32_t connectivity, uint32_t background) override;
  void SaveParams(CCfgPack* pack) override;
  void LoadParams(CCfgPack* pack) override;
  void DrawOverlay() override;
  using CFilterWindow::DrawOverlay;

  // The "View" menu's template for the current choices and language.
  const wchar_t* BuildMenu();
  // The menu bar's command: 1 save, 101-103 view, 201-203 type, 301-302 background.
  void OnCommand(int32_t command);
  void SaveImage();
  // The painted diagram as last uploaded (tests); 0 before the first frame.
  int32_t CopyDiagram(CImgBuff* out);
  uint32_t View() const { return m_view; }
  uint32_t Type() const { return m_type; }
  uint32_t Background() const { return m_bg; }
  uint32_t Count(uint32_t row, uint32_t column) const { return m_counts[row * 256 + column]; }

  CFgUIMenuBar m_menuBar;
  static FilterWindowPlace s_classPlace;

 private:
  static void OnMenu(CFgUIMenuBar* bar, void* user, int32_t menu, int32_t id);
  static const wchar_t* MenuProvider(void* self);
  int32_t FontSize() const;

  PlatformLock m_lock;  // after the draw lock: texture, counts, the run's settings
  uint32_t* m_counts = nullptr;
  CFgTexture m_texture;
  int32_t m_hasPicture = 0;
  // Changed by the menus on the UI thread without the lock; a run reads each once.
  std::atomic<uint32_t> m_view{ColorMapXy};
  std::atomic<uint32_t> m_type{ColorMapLog};
  std::atomic<uint32_t> m_bg{0};
  std::wstring m_menuText;
  CFgTexture* m_textures[1] = {&m_texture};
  FilterLayoutItem m_layoutItems[1];
};

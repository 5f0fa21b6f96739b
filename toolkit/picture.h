// picture.h - CFgUIPicture: one picture shown in a rectangle of a window at a zoom code,
// with a horizontal and a vertical scroll bar that appear when the zoomed picture does not
// fit, a fill callback that may change the texture before it is drawn and an overlay
// callback told where the picture landed. The main view and the tool windows' previews.
//
// Zoom codes: 1 one picture pixel per window pixel; 2, 3, 4 magnify; -2, -3, -4 reduce;
// 0 fits the whole picture into the image area (aspect kept, centred); -1 stretches it
// over the image area. Codes 0 and -1 use no scroll bar.
//
//   FgPictureRect    an inclusive window rectangle
//   CFgUIPicture     the view; its scroll bars join its container right after it
#pragma once

#include <cstdint>

#include "toolkit/scrollbar.h"
#include "toolkit/texture.h"
#include "toolkit/uiobj.h"

typedef void (*FgPictureFillCallback)(CFgScreen* screen, CFgFont* font, CFgTexture* texture,
                                      void* user);
typedef void (*FgPictureOverlayCallback)(CFgScreen* screen, CFgFont* font, int32_t wx0,
                                         int32_t wy0, int32_t wx1, int32_t wy1, int32_t px0,
                                         int32_t py0, int32_t px1, int32_t py1, int32_t zoom,
                                         void* user);

struct FgPictureRect {
  int32_t x0 = 0, y0 = 0, x1 = -1, y1 = -1;  // inclusive
  int64_t Width() const { return int64_t(x1) - x0 + 1; }
  int64_t Height() const { return int64_t(y1) - y0 + 1; }
  int32_t Contains(int64_t x, int64_t y) const { return x >= x0 && x <= x1 && y >= y0 && y <= y1; }
};

class CFgUIPicture : public CFgUIObj {
 public:
  CFgUIPicture();
  ~CFgUIPicture() override;

  void Draw(CFgScreen* screen, CFgFont* font) override;
  void OnAttach() override;
  void OnShow(int32_t shown, intptr_t argument) override;
  // Places the bars and lays out (so the base SetRect does the same).
  void OnRect(int32_t x, int32_t y, int32_t width, int32_t height) override;

  // 0 for a width or height below 1; places the bars and lays out.
  int32_t SetRect(int32_t x, int32_t y, int32_t width, int32_t height);
  // The texture becomes a copy of texture (uploaded when it has a GL name); lays out when
  // the picture size changed. Does not redraw.
  void SetImage(CFgTexture* texture);
  // Deletes the GL texture and hands the texture out for refilling; the caller then lays
  // out and redraws.
  CFgTexture* ReleaseTexture();
  void Layout();
  void SetZoom(int32_t code);
  void ZoomBy(int32_t steps);
  // Window pixel to picture pixel, in place; 0 outside the picture.
  int32_t ClientToImage(int32_t* x, int32_t* y) const;
  void SetEnabled(int32_t on);
  // The whole picture with its overlay into the current surface (a render target of the
  // picture's size), for saving the view.
  void DrawContent(CFgScreen* screen, CFgFont* font);

  // Picture size (the texture's cell size).
  int64_t PictureWidth() const { return int64_t(m_texture.m_cellWidth); }
  int64_t PictureHeight() const { return int64_t(m_texture.m_cellHeight); }

  FgPictureFillCallback m_fill = nullptr;
  FgPictureOverlayCallback m_overlay = nullptr;
  void* m_user = nullptr;
  FgPictureRect m_imageArea;
  FgPictureRect m_fitRect;
  FgPictureRect m_hBarRect, m_vBarRect;
  int32_t m_zoom = 0;
  int32_t m_hBarUsed = 0, m_vBarUsed = 0, m_hasPicture = 0;
  CFgTexture m_texture;
  CFgUIScrollBar m_hBar, m_vBar;
  double m_background[3] = {0.2, 0.2, 0.2};
  int32_t m_textureChanged = 0;

 private:
  void PlaceBars();
  void DropBar(CFgUIScrollBar* bar);
  void PrepareTexture(CFgScreen* screen, CFgFont* font);
};

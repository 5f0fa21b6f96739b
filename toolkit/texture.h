// texture.h - pictures on the graphics card.
//
//   CFgTexture           an RGB or RGBA pixel store padded to powers of two, uploaded as one
//                        GL texture for the context of one screen (made again by itself
//                        after that context was re-created); drawn whole, by grid cell or by
//                        sub-rectangle; usable as an off-screen render target
//   UploadImageToTexture any picture format -> 8-bit RGB rows (row-parallel) -> texture
//   CopyTextureToImage   a texture's store back into an 8-bit RGB picture
//   GlErrorText          the name of the pending GL error, for diagnostics
//   LoadFramebufferExt   looks up the framebuffer-object entry points in the current context
//
// Lock order: the draw lock first, then texture locks. Every operation that may open a
// drawing section (attach, upload, release, copy, render target) takes the draw lock
// itself before the texture's lock; drawing operations are called inside a drawing section
// of the texture's screen, so the draw lock is already held when they lock the texture.
#pragma once

#include <cstdint>

#include "core/imgbuff.h"
#include "platform/thread.h"
#include "toolkit/screen.h"

class CFgTexture {
 public:
  CFgTexture();
  virtual ~CFgTexture();
  CFgTexture(const CFgTexture&) = delete;
  CFgTexture& operator=(const CFgTexture&) = delete;

  // New zeroed store of NextPow2(cellWidth * columns) x NextPow2(cellHeight * rows) texels
  // (3 bytes each, 4 with alpha); source, when given, is tightly packed content placed at
  // the top-left. Resets geometry, the use-current-colour flag and the render-target
  // names; keeps the GL name and the binding; uploads nothing. 0 for an empty size, a store
  // beyond what one texture may hold, or no memory (the texture is then empty).
  int32_t Create(uint64_t cellWidth, uint64_t cellHeight, uint64_t columns, uint64_t rows,
                 int64_t alpha, const void* source);
  // Frees the store, resets geometry and flags (GL name and binding kept).
  void Clear();
  // Becomes a copy of source (geometry and pixels) and uploads; an empty source empties
  // this texture. Returns this.
  CFgTexture* CopyFrom(CFgTexture* source);
  // Binds to screen and makes sure the GL texture exists for its current context. 0 when
  // bound to another screen, without a store, or when the GL work fails.
  int32_t AttachToScreen(CFgScreen* screen);
  // Sends the whole store to the GL texture; 1 also when there is no GL name yet.  While
  // the GL texture keeps the store's size it is updated in place (no new GL storage).
  int32_t Upload();
  // Deletes the GL texture and unbinds; the store stays.
  void ReleaseGL();

  // Drawing, inside a drawing section of the texture's screen; window pixels (or render
  // target texels). Store row 0 is at the top of the quad. Quads: corners top-left,
  // top-right, bottom-right, bottom-left. Width or height 0: the cell's / source's size.
  int32_t DrawCell(double x, double y, double width, double height, uint64_t cell);
  int32_t DrawCellQuad(const double xs[4], const double ys[4], uint64_t cell, uint64_t spanX,
                       uint64_t spanY);
  int32_t DrawSubRect(double x, double y, double width, double height, double srcX,
                      double srcY, double srcWidth, double srcHeight);
  int32_t DrawSubRectQuad(const double xs[4], const double ys[4], double srcX, double srcY,
                          double srcWidth, double srcHeight);
  // The whole store stretched over the current viewport, store row 0 at the bottom.
  int32_t DrawFill();

  // Off-screen rendering into this texture (it must be attached). Begin opens a drawing
  // section that stays open (draw lock held) until End, which reads the first cell back
  // into the store (read-back row 0 = the bottom of the target = store row 0).
  int32_t BeginRenderTarget();
  void EndRenderTarget();

  // Pixel to GL coordinates for this texture's drawing (pixel edges, see texture.cpp).
  double PixelToGlX(double x) const;
  double PixelToGlY(double y) const;

  PlatformLock& Lock() { return m_lock; }
  // Bytes per texel: 3, or 4 with alpha.
  uint64_t BytesPerTexel() const { return m_alpha ? 4 : 3; }

  // State, read under the lock.
  int64_t m_alpha = 0;
  uint64_t m_cellWidth = 0, m_cellHeight = 0, m_columns = 0, m_rows = 0;
  uint64_t m_bufferWidth = 0, m_bufferHeight = 0;
  uint64_t m_storeSize = 0;
  uint8_t* m_store = nullptr;
  CFgScreen* m_screen = nullptr;
  uint64_t m_uploadGeneration = 0;
  uint32_t m_glName = 0;
  int32_t m_hasGlName = 0;
  int32_t m_useCurrentColor = 0;
  uint32_t m_renderbuffer = 0, m_framebuffer = 0;
  int32_t m_renderTargetActive = 0;
  int32_t m_savedViewport[4] = {0, 0, 0, 0};
  // Size and kind of the GL texture's storage as last made (0 before); a store of the same
  // size and kind is sent in place.  Padding clean: the GL texture outside the content
  // still holds the zeros of the store (no render target drew there since).
  uint64_t m_glWidth = 0, m_glHeight = 0;
  int64_t m_glAlpha = 0;
  int32_t m_glPaddingClean = 0;

 private:
  int32_t Ready();  // attach again when needed; under the lock, inside a section
  int32_t DrawQuad(const double xs[4], const double ys[4], double s0, double t0, double s1,
                   double t1);
  void FreeStore();

  PlatformLock m_lock;
  FgDrawSurface m_savedSurface;
};

// Name of the pending GL error ("GL_INVALID_ENUM" .. "GL_OUT_OF_MEMORY", "Unknown code"),
// null when there is none. Takes the error.
const char* GlErrorText();

// 1 when the current context offers all ten framebuffer-object entry points.
int32_t LoadFramebufferExt();

// Largest texture side of the GL implementation, as last seen in a drawing section; 0
// before the first.
uint64_t FgMaxTextureSize();

// Converts picture into 8-bit RGB rows of a texture of columns x 1 cells of the picture's
// size and uploads it.  A texture that already has that geometry keeps its store and its
// GL storage: the rows are converted into them in place. 0 for an empty picture, a store beyond the largest texture, no
// memory, or a failed upload (so callers can say so instead of showing nothing).
int32_t UploadImageToTexture(CFgTexture* texture, CImgBuff* picture, uint64_t columns);
// The texture's first cell into picture as 8-bit RGB (alpha dropped); 0 without a store or
// memory.
int32_t CopyTextureToImage(CImgBuff* picture, CFgTexture* texture);

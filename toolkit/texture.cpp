// texture.cpp - CFgTexture (store, binding, upload, drawing, render target) and the
// picture <-> texture conversions.
// Inside: helpers - store - binding and upload - coordinates and drawing - render target -
// picture conversion
#include "toolkit/texture.h"

#include <GL/gl.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "core/parallel.h"
#include "platform/gl.h"

// ---------------------------------------------------------------------------------------
// Helpers
namespace {

std::atomic<uint64_t> g_maxTextureSize{0};
PlatFramebufferExt g_fbo;  // used only with the draw lock held

// Inside a drawing section: remember the implementation's largest texture side.
void NoteMaxTextureSize() {
  GLint v = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &v);
  if (v > 0) g_maxTextureSize.store(uint64_t(v));
}

// Errors left pending by earlier drawing are not ours to report.
void DrainGlErrors() {
  for (int i = 0; i < 32 && glGetError() != GL_NO_ERROR; ++i) {
  }
}

// Largest side a store may have: no GL implementation offers more, and the byte size
// stays far from overflow.
constexpr uint64_t kMaxBufferSide = uint64_t(1) << 16;

}  // namespace

const char* GlErrorText() {
  GLenum e = glGetError();
  switch (e) {
    case GL_NO_ERROR: return nullptr;
    case GL_INVALID_ENUM: return "GL_INVALID_ENUM";
    case GL_INVALID_VALUE: return "GL_INVALID_VALUE";
    case GL_INVALID_OPERATION: return "GL_INVALID_OPERATION";
    case GL_STACK_OVERFLOW: return "GL_STACK_OVERFLOW";
    case GL_STACK_UNDERFLOW: return "GL_STACK_UNDERFLOW";
    case GL_OUT_OF_MEMORY: return "GL_OUT_OF_MEMORY";
    default: return "Unknown code";
  }
}

int32_t LoadFramebufferExt() { return PlatLoadFramebufferExt(&g_fbo); }

uint64_t FgMaxTextureSize() { return g_maxTextureSize.load(); }

// ---------------------------------------------------------------------------------------
// Store
CFgTexture::CFgTexture() = default;

CFgTexture::~CFgTexture() {
  ReleaseGL();
  FreeStore();
}

void CFgTexture::FreeStore() {
  free(m_store);
  m_store = nullptr;
  m_alpha = 0;
  m_cellWidth = m_cellHeight = m_columns = m_rows = 0;
  m_bufferWidth = m_bufferHeight = 0;
  m_storeSize = 0;
  m_useCurrentColor = 0;
  m_renderbuffer = m_framebuffer = 0;
}

int32_t CFgTexture::Create(uint64_t cellWidth, uint64_t cellHeight, uint64_t columns,
                           uint64_t rows, int64_t alpha, const void* source) {
  PlatformLockHold hold(m_lock);
  FreeStore();
  if (cellWidth == 0 || cellHeight == 0 || columns == 0 || rows == 0) return 0;
  // Each product is tested before it is formed.
  if (cellWidth > kMaxBufferSide || columns > kMaxBufferSide || cellHeight > kMaxBufferSide ||
      rows > kMaxBufferSide)
    return 0;
  uint64_t contentW = cellWidth * columns, contentH = cellHeight * rows;
  if (contentW > kMaxBufferSide || contentH > kMaxBufferSide) return 0;
  uint64_t bw = NextPow2(contentW), bh = NextPow2(contentH);
  uint64_t bpt = alpha ? 4 : 3;
  uint64_t size = bw * bh * bpt;
  uint8_t* store = static_cast<uint8_t*>(calloc(size_t(size), 1));
  if (!store) return 0;
  m_store = store;
  m_alpha = alpha ? 1 : 0;
  m_cellWidth = cellWidth;
  m_cellHeight = cellHeight;
  m_columns = columns;
  m_rows = rows;
  m_bufferWidth = bw;
  m_bufferHeight = bh;
  m_storeSize = size;
  if (source) {
    const uint8_t* src = static_cast<const uint8_t*>(source);
    size_t rowBytes = size_t(contentW * bpt);
    for (uint64_t y = 0; y < contentH; ++y)
      memcpy(m_store + y * bw * bpt, src + y * rowBytes, rowBytes);
  }
  return 1;
}

void CFgTexture::Clear() {
  PlatformLockHold hold(m_lock);
  FreeStore();
}

CFgTexture* CFgTexture::CopyFrom(CFgTexture* source) {
  if (!source || source == this) return this;
  // Draw lock first: the upload below opens a drawing section, and a drawing thread holds
  // the draw lock before any texture lock. Two copies cannot cross either, as both run
  // under the draw lock.
  PlatformLockHold draw(FgDrawLock());
  PlatformLockHold hold(m_lock);
  PlatformLockHold holdSource(source->m_lock);
  if (!source->m_store) {
    FreeStore();
    return this;
  }
  if (m_store && m_storeSize == source->m_storeSize) {
    m_alpha = source->m_alpha;
    m_cellWidth = source->m_cellWidth;
    m_cellHeight = source->m_cellHeight;
    m_columns = source->m_columns;
    m_rows = source->m_rows;
    m_bufferWidth = source->m_bufferWidth;
    m_bufferHeight = source->m_bufferHeight;
  } else if (!Create(source->m_cellWidth, source->m_cellHeight, source->m_columns,
                     source->m_rows, source->m_alpha, nullptr)) {
    return this;
  }
  memcpy(m_store, source->m_store, size_t(m_storeSize));
  Upload();
  return this;
}

// ---------------------------------------------------------------------------------------
// Binding and upload
int32_t CFgTexture::AttachToScreen(CFgScreen* screen) {
  if (!screen) return 0;
  PlatformLockHold draw(FgDrawLock());
  PlatformLockHold hold(m_lock);
  if (m_screen && m_screen != screen) return 0;
  if (m_screen == screen && m_hasGlName && m_uploadGeneration == screen->m_contextGeneration)
    return 1;
  if (!m_store) return 0;
  if (!screen->BeginDraw()) return 0;
  NoteMaxTextureSize();
  uint64_t maxSide = FgMaxTextureSize();
  if (maxSide && (m_bufferWidth > maxSide || m_bufferHeight > maxSide)) {
    screen->EndDraw(0);
    return 0;
  }
  // A name from an earlier context died with it: make a new one, never delete the old.
  DrainGlErrors();
  GLuint name = 0;
  glGenTextures(1, &name);
  if (glGetError() != GL_NO_ERROR) {
    screen->EndDraw(0);
    return 0;
  }
  m_glName = name;
  m_hasGlName = 1;
  m_glWidth = m_glHeight = 0;
  m_screen = screen;
  m_uploadGeneration = screen->m_contextGeneration;
  int32_t ok = Upload();
  screen->EndDraw(0);
  if (!ok) {
    ReleaseGL();
    return 0;
  }
  return 1;
}

int32_t CFgTexture::Upload() {
  PlatformLockHold draw(FgDrawLock());
  PlatformLockHold hold(m_lock);
  if (!m_hasGlName) return 1;
  if (!m_store || !m_screen || !m_screen->BeginDraw()) return 0;
  NoteMaxTextureSize();
  DrainGlErrors();
  int32_t ok = 0;
  glBindTexture(GL_TEXTURE_2D, m_glName);
  if (glGetError() == GL_NO_ERROR) {
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    const GLenum format = m_alpha ? GL_RGBA : GL_RGB;
    if (m_glWidth == m_bufferWidth && m_glHeight == m_bufferHeight && m_glAlpha == m_alpha) {
      // Same storage: refill it.  With clean padding only the content rows and columns
      // change (the padding of the store is zero and stays zero).
      uint64_t w = m_bufferWidth, h = m_bufferHeight;
      if (m_glPaddingClean) {
        w = m_cellWidth * m_columns;
        h = m_cellHeight * m_rows;
        glPixelStorei(GL_UNPACK_ROW_LENGTH, GLint(m_bufferWidth));
      }
      glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, GLsizei(w), GLsizei(h), format, GL_UNSIGNED_BYTE,
                      m_store);
      glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    } else {
      glTexImage2D(GL_TEXTURE_2D, 0, m_alpha ? GL_RGBA8 : GL_RGB8, GLsizei(m_bufferWidth),
                   GLsizei(m_bufferHeight), 0, format, GL_UNSIGNED_BYTE, m_store);
    }
    ok = glGetError() == GL_NO_ERROR;
    if (ok) {
      m_glWidth = m_bufferWidth;
      m_glHeight = m_bufferHeight;
      m_glAlpha = m_alpha;
      m_glPaddingClean = 1;
    } else {
      m_glWidth = m_glHeight = 0;
    }
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  }
  glBindTexture(GL_TEXTURE_2D, 0);
  m_screen->EndDraw(0);
  return ok;
}

void CFgTexture::ReleaseGL() {
  PlatformLockHold draw(FgDrawLock());
  PlatformLockHold hold(m_lock);
  if (!m_screen) return;
  if (m_hasGlName) {
    if (m_screen->m_glContext) {
      if (!m_screen->BeginDraw()) return;  // cannot reach the context now: keep everything
      // Only a name of the living context is ours to delete.
      if (m_uploadGeneration == m_screen->m_contextGeneration) {
        GLuint name = m_glName;
        glDeleteTextures(1, &name);
      }
      m_screen->EndDraw(0);
    }
    // Without a context the texture died with it.
  }
  m_glName = 0;
  m_hasGlName = 0;
  m_glWidth = m_glHeight = 0;
  m_uploadGeneration = 0;
  m_screen = nullptr;
}

int32_t CFgTexture::Ready() {
  if (!m_screen || !m_store) return 0;
  if (m_hasGlName && m_uploadGeneration == m_screen->m_contextGeneration) return 1;
  return AttachToScreen(m_screen);
}

// ---------------------------------------------------------------------------------------
// Coordinates and drawing
//   drawing into a render target: X = 2x / (W - 1) - 1, row 0 at the bottom (read back
//                                 as row 0)
//   this texture's own target:    X = (x - B/2) / (B/2) + 1/B, B the buffer side
//   a window of W x H:            X = (x - W/2) / (W/2), Y = ((H - y) - H/2) / (H/2):
//                                 pixel edges, so texels land one to one on pixels
double CFgTexture::PixelToGlX(double x) const {
  FgDrawSurface s = FgGetDrawSurface();
  if (s.kind == 2 && s.width > 1) return 2 * x / double(s.width - 1) - 1;
  if (m_renderTargetActive && m_bufferWidth) {
    double b = double(m_bufferWidth);
    return (x - b / 2) / (b / 2) + 1 / b;
  }
  double w = double(m_screen ? m_screen->m_clientWidth : s.width);
  if (w <= 0) return 0;
  return (x - w / 2) / (w / 2);
}

double CFgTexture::PixelToGlY(double y) const {
  FgDrawSurface s = FgGetDrawSurface();
  if (s.kind == 2 && s.height > 1) return 2 * y / double(s.height - 1) - 1;
  if (m_renderTargetActive && m_bufferHeight) {
    double b = double(m_bufferHeight);
    return (y - b / 2) / (b / 2) + 1 / b;
  }
  double h = double(m_screen ? m_screen->m_clientHeight : s.height);
  if (h <= 0) return 0;
  return ((h - y) - h / 2) / (h / 2);
}

int32_t CFgTexture::DrawQuad(const double xs[4], const double ys[4], double s0, double t0,
                             double s1, double t1) {
  if (!m_useCurrentColor) glColor4d(1, 1, 1, 1);
  glEnable(GL_TEXTURE_2D);
  if (m_alpha) {
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  }
  glBindTexture(GL_TEXTURE_2D, m_glName);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glBegin(GL_QUADS);
  glTexCoord2d(s0, t0);
  glVertex2d(PixelToGlX(xs[0]), PixelToGlY(ys[0]));
  glTexCoord2d(s1, t0);
  glVertex2d(PixelToGlX(xs[1]), PixelToGlY(ys[1]));
  glTexCoord2d(s1, t1);
  glVertex2d(PixelToGlX(xs[2]), PixelToGlY(ys[2]));
  glTexCoord2d(s0, t1);
  glVertex2d(PixelToGlX(xs[3]), PixelToGlY(ys[3]));
  glEnd();
  glBindTexture(GL_TEXTURE_2D, 0);
  if (m_alpha) glDisable(GL_BLEND);
  glDisable(GL_TEXTURE_2D);
  return 1;
}

int32_t CFgTexture::DrawCellQuad(const double xs[4], const double ys[4], uint64_t cell,
                                 uint64_t spanX, uint64_t spanY) {
  if (!xs || !ys) return 0;
  PlatformLockHold draw(FgDrawLock());  // held already by the section; keeps the order
  PlatformLockHold hold(m_lock);
  if (!m_store || cell >= m_columns * m_rows) return 0;
  if (!Ready()) return 0;
  uint64_t col = cell % m_columns, row = cell / m_columns;
  double bw = double(m_bufferWidth), bh = double(m_bufferHeight);
  double s0 = double(col * m_cellWidth) / bw, t0 = double(row * m_cellHeight) / bh;
  double s1 = double(spanX * m_cellWidth + col * m_cellWidth) / bw;
  double t1 = double(spanY * m_cellHeight + row * m_cellHeight) / bh;
  return DrawQuad(xs, ys, s0, t0, s1, t1);
}

int32_t CFgTexture::DrawCell(double x, double y, double width, double height, uint64_t cell) {
  PlatformLockHold draw(FgDrawLock());
  PlatformLockHold hold(m_lock);
  if (width == 0) width = double(m_cellWidth);
  if (height == 0) height = double(m_cellHeight);
  const double xs[4] = {x, x + width, x + width, x};
  const double ys[4] = {y, y, y + height, y + height};
  return DrawCellQuad(xs, ys, cell, 1, 1);
}

int32_t CFgTexture::DrawSubRectQuad(const double xs[4], const double ys[4], double srcX,
                                    double srcY, double srcWidth, double srcHeight) {
  if (!xs || !ys || srcWidth == 0 || srcHeight == 0) return 0;
  PlatformLockHold draw(FgDrawLock());
  PlatformLockHold hold(m_lock);
  if (!m_store || !Ready()) return 0;
  double bw = double(m_bufferWidth), bh = double(m_bufferHeight);
  return DrawQuad(xs, ys, srcX / bw, srcY / bh, (srcX + srcWidth) / bw,
                  (srcY + srcHeight) / bh);
}

int32_t CFgTexture::DrawSubRect(double x, double y, double width, double height, double srcX,
                                double srcY, double srcWidth, double srcHeight) {
  if (srcWidth == 0 || srcHeight == 0) return 0;
  if (width == 0) width = srcWidth;
  if (height == 0) height = srcHeight;
  const double xs[4] = {x, x + width, x + width, x};
  const double ys[4] = {y, y, y + height, y + height};
  return DrawSubRectQuad(xs, ys, srcX, srcY, srcWidth, srcHeight);
}

int32_t CFgTexture::DrawFill() {
  PlatformLockHold draw(FgDrawLock());
  PlatformLockHold hold(m_lock);
  if (!m_screen || !Ready()) return 0;
  if (!m_useCurrentColor) glColor4d(1, 1, 1, 1);
  glEnable(GL_TEXTURE_2D);
  if (m_alpha) {
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  }
  glBindTexture(GL_TEXTURE_2D, m_glName);
  glBegin(GL_QUADS);
  glTexCoord2d(0, 0);
  glVertex2d(-1, -1);
  glTexCoord2d(0, 1);
  glVertex2d(-1, 1);
  glTexCoord2d(1, 1);
  glVertex2d(1, 1);
  glTexCoord2d(1, 0);
  glVertex2d(1, -1);
  glEnd();
  glBindTexture(GL_TEXTURE_2D, 0);
  if (m_alpha) glDisable(GL_BLEND);
  glDisable(GL_TEXTURE_2D);
  return 1;
}

// ---------------------------------------------------------------------------------------
// Render target
int32_t CFgTexture::BeginRenderTarget() {
  PlatformLockHold draw(FgDrawLock());
  PlatformLockHold hold(m_lock);
  if (!m_screen || m_renderTargetActive) return 0;
  FgDrawSurface before = FgGetDrawSurface();
  if (!m_screen->BeginDraw()) return 0;
  // The GL texture is what we render into: it must exist in the current context.
  if (!Ready() || !LoadFramebufferExt()) {
    m_screen->EndDraw(0);
    return 0;
  }
  m_savedSurface = before.kind ? before : FgGetDrawSurface();
  m_glPaddingClean = 0;  // the target may draw over the whole buffer
  FgSetDrawSurface(2, m_bufferWidth, m_bufferHeight);
  glGetIntegerv(GL_VIEWPORT, m_savedViewport);
  glViewport(0, 0, GLsizei(m_bufferWidth), GLsizei(m_bufferHeight));
  GLuint rb = 0, fb = 0;
  g_fbo.genRenderbuffers(1, &rb);
  g_fbo.bindRenderbuffer(kPlatGlRenderbuffer, rb);
  g_fbo.renderbufferStorage(kPlatGlRenderbuffer, kPlatGlDepthComponent24, int(m_bufferWidth),
                            int(m_bufferHeight));
  g_fbo.genFramebuffers(1, &fb);
  g_fbo.bindFramebuffer(kPlatGlFramebuffer, fb);
  g_fbo.framebufferTexture2D(kPlatGlFramebuffer, kPlatGlColorAttachment0, GL_TEXTURE_2D,
                             m_glName, 0);
  g_fbo.framebufferRenderbuffer(kPlatGlFramebuffer, kPlatGlDepthAttachment,
                                kPlatGlRenderbuffer, rb);
  m_renderbuffer = rb;
  m_framebuffer = fb;
  m_screen->m_renderTargetWidth = m_bufferWidth;
  m_screen->m_renderTargetHeight = m_bufferHeight;
  m_renderTargetActive = 1;
  return 1;  // the drawing section (and the draw lock) stays open until EndRenderTarget
}

void CFgTexture::EndRenderTarget() {
  PlatformLockHold draw(FgDrawLock());
  PlatformLockHold hold(m_lock);
  if (!m_renderTargetActive || !m_screen) return;
  uint64_t bpt = BytesPerTexel();
  uint64_t w = m_cellWidth, h = m_cellHeight;
  float* back = m_store ? new (std::nothrow) float[size_t(w * h * bpt)] : nullptr;
  if (back) {
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, GLsizei(w), GLsizei(h), m_alpha ? GL_RGBA : GL_RGB, GL_FLOAT, back);
    for (uint64_t r = 0; r < h; ++r) {
      uint8_t* dst = m_store + r * m_bufferWidth * bpt;
      const float* src = back + r * w * bpt;
      for (uint64_t i = 0; i < w * bpt; ++i) {
        float v = src[i] < 0 ? 0.f : (src[i] > 1 ? 1.f : src[i]);
        dst[i] = uint8_t(v * 255);
      }
    }
    delete[] back;
  }
  g_fbo.bindFramebuffer(kPlatGlFramebuffer, 0);
  g_fbo.bindRenderbuffer(kPlatGlRenderbuffer, 0);
  GLuint fb = m_framebuffer, rb = m_renderbuffer;
  g_fbo.deleteFramebuffers(1, &fb);
  g_fbo.deleteRenderbuffers(1, &rb);
  m_framebuffer = m_renderbuffer = 0;
  glViewport(m_savedViewport[0], m_savedViewport[1], m_savedViewport[2], m_savedViewport[3]);
  m_screen->m_renderTargetWidth = 0;
  m_screen->m_renderTargetHeight = 0;
  m_renderTargetActive = 0;
  // A nested section goes back to drawing the window it was drawing before.
  FgSetDrawSurface(m_savedSurface.kind, m_savedSurface.width, m_savedSurface.height);
  m_screen->EndDraw(0);
}

// ---------------------------------------------------------------------------------------
// Picture conversion
namespace {

struct UploadJob {
  const C_ImgBuff* picture;
  uint8_t* store;
  uint64_t storeStride;  // bytes
  int32_t bytesPerPixel;
};

// Row kernels: (source row, destination RGB row, pixels).
void RowGray8(const uint8_t* s, uint8_t* d, int64_t n) {
  for (int64_t i = 0; i < n; ++i, d += 3) d[0] = d[1] = d[2] = s[i];
}
void RowGray16(const uint8_t* s, uint8_t* d, int64_t n) {
  for (int64_t i = 0; i < n; ++i, d += 3) d[0] = d[1] = d[2] = s[2 * i + 1];
}
void RowRgb24(const uint8_t* s, uint8_t* d, int64_t n) { memcpy(d, s, size_t(n) * 3); }
void RowFourth(const uint8_t* s, uint8_t* d, int64_t n) {
  for (int64_t i = 0; i < n; ++i, d += 3) d[0] = d[1] = d[2] = s[4 * i + 3];
}
void RowHigh16x3(const uint8_t* s, uint8_t* d, int64_t n) {
  for (int64_t i = 0; i < n; ++i, s += 6, d += 3) {
    d[0] = s[1];
    d[1] = s[3];
    d[2] = s[5];
  }
}
void RowHigh32x3(const uint8_t* s, uint8_t* d, int64_t n) {
  for (int64_t i = 0; i < n; ++i, s += 12, d += 3) {
    d[0] = s[3];
    d[1] = s[7];
    d[2] = s[11];
  }
}

typedef void (*RowKernel)(const uint8_t*, uint8_t*, int64_t);

RowKernel KernelFor(int32_t bytesPerPixel) {
  switch (bytesPerPixel) {
    case 1: return RowGray8;
    case 2: return RowGray16;
    case 3: return RowRgb24;
    case 4: return RowFourth;
    case 6: return RowHigh16x3;
    case 12: return RowHigh32x3;
    default: return nullptr;  // 24: XYZ goes through the colour accessor
  }
}

void UploadRows(void* ctx, uint64_t first, uint64_t count) {
  UploadJob* job = static_cast<UploadJob*>(ctx);
  const C_ImgBuff* p = job->picture;
  int64_t w = p->width;
  RowKernel kernel = KernelFor(job->bytesPerPixel);
  for (uint64_t y = first; y < first + count; ++y) {
    uint8_t* d = job->store + y * job->storeStride;
    if (kernel) {
      const uint8_t* s = static_cast<const uint8_t*>(p->pixels) +
                         uint64_t(y) * uint64_t(w) * uint64_t(job->bytesPerPixel);
      kernel(s, d, w);
    } else {
      for (int64_t x = 0; x < w; ++x, d += 3)
        p->GetRGB8(int32_t(x), int32_t(y), &d[0], &d[1], &d[2]);
    }
  }
}

}  // namespace

int32_t UploadImageToTexture(CFgTexture* texture, CImgBuff* picture, uint64_t columns) {
  if (!texture || !picture || !picture->record || !picture->Pixels() || columns == 0) return 0;
  int32_t bpp = 0;
  switch (picture->Format()) {
    case ImgFormatGray8: bpp = 1; break;
    case ImgFormatGray16: bpp = 2; break;
    case ImgFormatGray32:
    case ImgFormatCmyk32: bpp = 4; break;
    case ImgFormatRgb24: bpp = 3; break;
    case ImgFormatRgb48:
    case ImgFormatHsv48: bpp = 6; break;
    case ImgFormatRgb96: bpp = 12; break;
    case ImgFormatXyz: bpp = 24; break;
    default: return 0;
  }
  uint64_t w = uint64_t(picture->Width()), h = uint64_t(picture->Height());
  if (w == 0 || h == 0) return 0;
  // A store larger than the implementation's largest texture would show nothing at all.
  uint64_t maxSide = FgMaxTextureSize();
  if (columns > (uint64_t(1) << 16)) return 0;
  if (maxSide && (NextPow2(w * columns) > maxSide || NextPow2(h) > maxSide)) return 0;
  {
    PlatformLockHold hold(texture->Lock());
    // Same geometry: the store is refilled where it is (its padding is still zero).
    const int32_t keep = texture->m_store && !texture->m_alpha && !texture->m_useCurrentColor &&
                         !texture->m_renderTargetActive && texture->m_cellWidth == w &&
                         texture->m_cellHeight == h && columns == 1 && texture->m_columns == 1 &&
                         texture->m_rows == 1;
    if (!keep && !texture->Create(w, h, columns, 1, 0, nullptr)) return 0;
    UploadJob job{picture->record, texture->m_store, texture->m_bufferWidth * 3, bpp};
    ParallelFor(UploadRows, &job, h);
  }
  return texture->Upload();
}

int32_t CopyTextureToImage(CImgBuff* picture, CFgTexture* texture) {
  if (!picture || !texture) return 0;
  PlatformLockHold hold(texture->Lock());
  if (!texture->m_store || texture->m_cellWidth > uint64_t(INT32_MAX) ||
      texture->m_cellHeight > uint64_t(INT32_MAX))
    return 0;
  int32_t w = int32_t(texture->m_cellWidth), h = int32_t(texture->m_cellHeight);
  if (!picture->Allocate(w, h, ImgFormatRgb24)) return 0;
  uint64_t bpt = texture->BytesPerTexel();
  uint8_t* dstBase = static_cast<uint8_t*>(picture->Pixels());
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* s = texture->m_store + uint64_t(y) * texture->m_bufferWidth * bpt;
    uint8_t* d = dstBase + uint64_t(y) * uint64_t(w) * 3;
    if (bpt == 3) {
      memcpy(d, s, size_t(w) * 3);
    } else {
      for (int32_t x = 0; x < w; ++x, s += 4, d += 3) {
        d[0] = s[0];
        d[1] = s[1];
        d[2] = s[2];
      }
    }
  }
  return 1;
}

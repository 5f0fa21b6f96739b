// gl.h - OpenGL entry points beyond OpenGL 1.1 that the toolkit needs, looked up at run
// time in the current context: the EXT_framebuffer_object set for off-screen rendering,
// and the extension-string test that decides whether a looked-up set may be used.
//
//   PlatFramebufferExt   the ten framebuffer-object entry points
//   PlatLoadFramebufferExt  fills one from the current context (1 only when all usable)
//   PlatGlHasExtension   whole-token test of an extension string
//
// Only plain C types appear here; the GL constants the callers need come from <GL/gl.h>
// or are listed below.
#pragma once

#include <cstdint>

// Framebuffer-object constants of the EXT extension (same values in every GL header).
constexpr unsigned int kPlatGlFramebuffer = 0x8D40;
constexpr unsigned int kPlatGlRenderbuffer = 0x8D41;
constexpr unsigned int kPlatGlColorAttachment0 = 0x8CE0;
constexpr unsigned int kPlatGlDepthAttachment = 0x8D00;
constexpr unsigned int kPlatGlDepthComponent24 = 0x81A6;
constexpr unsigned int kPlatGlFramebufferComplete = 0x8CD5;

struct PlatFramebufferExt {
  void (*genFramebuffers)(int n, unsigned int* ids) = nullptr;
  void (*bindFramebuffer)(unsigned int target, unsigned int id) = nullptr;
  void (*deleteFramebuffers)(int n, const unsigned int* ids) = nullptr;
  void (*genRenderbuffers)(int n, unsigned int* ids) = nullptr;
  void (*bindRenderbuffer)(unsigned int target, unsigned int id) = nullptr;
  void (*deleteRenderbuffers)(int n, const unsigned int* ids) = nullptr;
  void (*framebufferTexture2D)(unsigned int target, unsigned int attachment,
                               unsigned int texTarget, unsigned int texture, int level) = nullptr;
  void (*renderbufferStorage)(unsigned int target, unsigned int internalFormat, int width,
                              int height) = nullptr;
  void (*framebufferRenderbuffer)(unsigned int target, unsigned int attachment,
                                  unsigned int rbTarget, unsigned int renderbuffer) = nullptr;
  unsigned int (*checkFramebufferStatus)(unsigned int target) = nullptr;
};

// 1 when name is one whole blank-separated token of extensions ("GL_EXT_foo" is not found
// in "GL_EXT_foo_bar"); 0 for null arguments or an empty name.
int PlatGlHasExtension(const char* extensions, const char* name);

// Looks the ten entry points up for the context current on the calling thread. 1 only when
// the context's extension string names GL_EXT_framebuffer_object and all ten are found:
// some drivers hand out non-null pointers for names they do not implement, so the pointers
// alone prove nothing. On 0 *out is cleared. Needs a current context (0 without one).
int PlatLoadFramebufferExt(PlatFramebufferExt* out);

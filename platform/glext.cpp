// glext.cpp - run-time lookup of the framebuffer-object entry points and the whole-token
// extension test.
#include "platform/gl.h"

#include <GL/gl.h>

#include <cstring>

#include "platform/window.h"

int PlatGlHasExtension(const char* extensions, const char* name) {
  if (!extensions || !name || !*name) return 0;
  size_t len = strlen(name);
  const char* p = extensions;
  while (*p) {
    while (*p == ' ') ++p;
    const char* end = p;
    while (*end && *end != ' ') ++end;
    if (size_t(end - p) == len && memcmp(p, name, len) == 0) return 1;
    p = end;
  }
  return 0;
}

namespace {

template <class Fn>
int Find(Fn* slot, const char* name) {
  *slot = reinterpret_cast<Fn>(PlatGetGlProc(name));
  return *slot != nullptr;
}

}  // namespace

int PlatLoadFramebufferExt(PlatFramebufferExt* out) {
  if (!out) return 0;
  *out = PlatFramebufferExt();
  if (PlatIsHeadless()) return 0;
  // glGetString answers null without a current context.
  const char* ext = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
  if (!PlatGlHasExtension(ext, "GL_EXT_framebuffer_object")) return 0;
  PlatFramebufferExt f;
  int ok = Find(&f.genFramebuffers, "glGenFramebuffersEXT") &&
           Find(&f.bindFramebuffer, "glBindFramebufferEXT") &&
           Find(&f.deleteFramebuffers, "glDeleteFramebuffersEXT") &&
           Find(&f.genRenderbuffers, "glGenRenderbuffersEXT") &&
           Find(&f.bindRenderbuffer, "glBindRenderbufferEXT") &&
           Find(&f.deleteRenderbuffers, "glDeleteRenderbuffersEXT") &&
           Find(&f.framebufferTexture2D, "glFramebufferTexture2DEXT") &&
           Find(&f.renderbufferStorage, "glRenderbufferStorageEXT") &&
           Find(&f.framebufferRenderbuffer, "glFramebufferRenderbufferEXT") &&
           Find(&f.checkFramebufferStatus, "glCheckFramebufferStatusEXT");
  if (!ok) return 0;
  *out = f;
  return 1;
}

// glx.cpp - OpenGL contexts of the window layer: the visual, one legacy context per
// window, make-current and swap. After every call that may read from the shared
// connection on a drawing thread, the UI loop is woken when events were queued, so no
// event is stranded in Xlib's queue while the UI thread sleeps in poll().
#include "platform/x11_private.h"

#include <mutex>

namespace platx {

XVisualInfo* GlVisual() {
  static std::once_flag once;
  static XVisualInfo* visual = nullptr;
  std::call_once(once, [] {
    Display* dpy = Dpy();
    if (!dpy) return;
    // Depth 24, not 32: many drivers offer no 32-bit depth buffer.
    int withDepth24[] = {GLX_RGBA, GLX_DOUBLEBUFFER, GLX_RED_SIZE, 8, GLX_GREEN_SIZE, 8,
                         GLX_BLUE_SIZE, 8, GLX_DEPTH_SIZE, 24, GLX_STENCIL_SIZE, 1, 0};
    visual = glXChooseVisual(dpy, ScreenNumber(), withDepth24);
    if (!visual) {
      int withDepth16[] = {GLX_RGBA, GLX_DOUBLEBUFFER, GLX_RED_SIZE, 8, GLX_GREEN_SIZE, 8,
                           GLX_BLUE_SIZE, 8, GLX_DEPTH_SIZE, 16, GLX_STENCIL_SIZE, 1, 0};
      visual = glXChooseVisual(dpy, ScreenNumber(), withDepth16);
    }
  });
  return visual;
}

}  // namespace platx

PlatGlContext* PlatCreateGlContext(PlatWindow* window) {
  if (!window || !PlatInit()) return nullptr;
  PlatGlContext* context = new PlatGlContext;
  context->window = window;
  if (PlatIsHeadless()) return context;
  XVisualInfo* vi = platx::GlVisual();
  if (!vi) {
    delete context;
    return nullptr;
  }
  // Not shared: every window keeps its own textures, renewed by generation.
  context->glx = glXCreateContext(platx::Dpy(), vi, nullptr, True);
  platx::WakeIfQueued();
  if (!context->glx) {
    delete context;
    return nullptr;
  }
  return context;
}

void PlatDestroyGlContext(PlatGlContext* context) {
  if (!context) return;
  if (context->glx) {
    Display* dpy = platx::Dpy();
    // Unbound first: a context still current is only marked for deletion.
    if (glXGetCurrentContext() == context->glx) glXMakeCurrent(dpy, 0, nullptr);
    glXDestroyContext(dpy, context->glx);
    platx::WakeIfQueued();
  }
  delete context;
}

int PlatMakeCurrent(PlatWindow* window, PlatGlContext* context) {
  if (PlatIsHeadless()) return 1;
  Display* dpy = platx::Dpy();
  if (!dpy) return 0;
  Bool ok;
  if (!context) {
    ok = glXMakeCurrent(dpy, 0, nullptr);
  } else {
    if (!window || !window->xwin || !context->glx) return 0;
    ok = glXMakeCurrent(dpy, window->xwin, context->glx);
  }
  platx::WakeIfQueued();
  return ok ? 1 : 0;
}

void PlatSwapBuffers(PlatWindow* window) {
  if (!window) return;
  window->swaps.fetch_add(1);
  if (PlatIsHeadless() || !window->xwin) return;
  glXSwapBuffers(platx::Dpy(), window->xwin);
  platx::WakeIfQueued();
}

void* PlatGetGlProc(const char* name) {
  if (!name || PlatIsHeadless()) return nullptr;
  return reinterpret_cast<void*>(glXGetProcAddressARB(reinterpret_cast<const GLubyte*>(name)));
}

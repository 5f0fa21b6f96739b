// clipboard.cpp - text on the CLIPBOARD selection: owning it and answering other
// programs (TARGETS, UTF8_STRING, STRING; large texts in INCR chunks), and reading it from
// another owner with a bounded wait. Requests are answered from the message loop, so
// every loop (nested ones included) serves them.
#include "platform/x11_private.h"

#include <X11/Xatom.h>

#include <climits>
#include <vector>

namespace {

struct Transfer {
  Window requestor = 0;
  Atom property = 0;
  Atom type = 0;
  std::string data;
  size_t offset = 0;
};

struct ClipState {
  Window win = 0;
  Atom clipboard = 0, targets = 0, utf8 = 0, incr = 0, property = 0;
  int owned = 0;
  std::string text;  // UTF-8
  std::vector<Transfer> transfers;
  // Headless mode keeps the text in the process only.
  std::wstring headlessText;
  int headlessHas = 0;
};

ClipState& Clip() {
  static ClipState* state = new ClipState;
  return *state;
}

// The clipboard's own hidden window: owner of the selection and target of conversions.
int EnsureWindow(ClipState& c) {
  if (c.win) return 1;
  Display* dpy = platx::Dpy();
  if (!dpy) return 0;
  XSetWindowAttributes swa{};
  swa.event_mask = PropertyChangeMask;
  c.win = XCreateWindow(dpy, platx::Root(), -10, -10, 1, 1, 0, 0, InputOnly, nullptr,
                        CWEventMask, &swa);
  c.clipboard = platx::GetAtom("CLIPBOARD");
  c.targets = platx::GetAtom("TARGETS");
  c.utf8 = platx::GetAtom("UTF8_STRING");
  c.incr = platx::GetAtom("INCR");
  c.property = platx::GetAtom("QV_CLIPBOARD");
  return c.win != 0;
}

size_t ChunkSize(Display* dpy) {
  size_t maxRequest = size_t(XMaxRequestSize(dpy)) * 4;
  size_t chunk = maxRequest > 1024 ? maxRequest - 512 : 512;
  return chunk < 256 * 1024 ? chunk : 256 * 1024;
}

std::string ToLatin1(const std::string& utf8) {
  std::wstring wide = platx::Utf8ToWide(utf8.data(), utf8.size());
  std::string out;
  out.reserve(wide.size());
  for (wchar_t ch : wide) out += uint32_t(ch) < 256 ? char(ch) : '?';
  return out;
}

void AnswerRequest(ClipState& c, XSelectionRequestEvent& r) {
  Display* dpy = platx::Dpy();
  XSelectionEvent reply{};
  reply.type = SelectionNotify;
  reply.display = dpy;
  reply.requestor = r.requestor;
  reply.selection = r.selection;
  reply.target = r.target;
  reply.time = r.time;
  reply.property = 0;
  Atom property = r.property ? r.property : r.target;  // obsolete clients name none
  if (c.owned && r.selection == c.clipboard) {
    if (r.target == c.targets) {
      Atom list[3] = {c.targets, c.utf8, XA_STRING};
      XChangeProperty(dpy, r.requestor, property, XA_ATOM, 32, PropModeReplace,
                      reinterpret_cast<unsigned char*>(list), 3);
      reply.property = property;
    } else if (r.target == c.utf8 || r.target == XA_STRING) {
      std::string data = r.target == XA_STRING ? ToLatin1(c.text) : c.text;
      if (data.size() > ChunkSize(dpy)) {
        // INCR: announce the size, then one chunk each time the requestor deletes it.
        XSelectInput(dpy, r.requestor, PropertyChangeMask);
        long size = long(data.size());
        XChangeProperty(dpy, r.requestor, property, c.incr, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(&size), 1);
        Transfer t;
        t.requestor = r.requestor;
        t.property = property;
        t.type = r.target;
        t.data = std::move(data);
        c.transfers.push_back(std::move(t));
      } else {
        XChangeProperty(dpy, r.requestor, property, r.target, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(data.data()), int(data.size()));
      }
      reply.property = property;
    }
  }
  XSendEvent(dpy, r.requestor, False, 0, reinterpret_cast<XEvent*>(&reply));
  XFlush(dpy);
}

int ContinueTransfer(ClipState& c, XPropertyEvent& p) {
  if (p.state != PropertyDelete) return 0;
  for (size_t i = 0; i < c.transfers.size(); ++i) {
    Transfer& t = c.transfers[i];
    if (t.requestor != p.window || t.property != p.atom) continue;
    Display* dpy = platx::Dpy();
    size_t left = t.data.size() - t.offset;
    size_t n = left < ChunkSize(dpy) ? left : ChunkSize(dpy);
    XChangeProperty(dpy, t.requestor, t.property, t.type, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(t.data.data() + t.offset), int(n));
    t.offset += n;
    if (n == 0) {  // the empty chunk ends the transfer
      XSelectInput(dpy, t.requestor, 0);
      c.transfers.erase(c.transfers.begin() + long(i));
    }
    XFlush(dpy);
    return 1;
  }
  return 0;
}

// Reads and deletes the conversion property; appends its bytes. Returns its type.
Atom ReadProperty(ClipState& c, std::string* out, int* outFormat) {
  Display* dpy = platx::Dpy();
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(dpy, c.win, c.property, 0, LONG_MAX / 4, True, AnyPropertyType,
                         &type, &format, &count, &after, &data) != Success)
    return 0;
  if (data) {
    if (format == 8) out->append(reinterpret_cast<char*>(data), count);
    XFree(data);
  }
  *outFormat = format;
  return type;
}

int ReadFromOwner(ClipState& c, Atom target, std::string* out, Atom* outType) {
  Display* dpy = platx::Dpy();
  XConvertSelection(dpy, c.clipboard, target, c.property, c.win, CurrentTime);
  XFlush(dpy);
  XEvent ev;
  if (!platx::WaitForWindowEvent(c.win, SelectionNotify, &ev, 1000)) return 0;
  if (ev.xselection.property == 0) return 0;
  int format = 0;
  std::string first;
  Atom type = ReadProperty(c, &first, &format);
  if (type != c.incr) {
    *out = std::move(first);
    *outType = type;
    return 1;
  }
  // INCR: each new value is one chunk, an empty one ends; bounded wait and size.
  const size_t kMaxBytes = size_t(256) << 20;
  std::string all;
  for (;;) {
    XEvent pe;
    int gotChunk = 0;
    while (!gotChunk) {
      if (!platx::WaitForWindowEvent(c.win, PropertyNotify, &pe, 1000)) return 0;
      gotChunk = pe.xproperty.atom == c.property && pe.xproperty.state == PropertyNewValue;
    }
    std::string chunk;
    Atom chunkType = ReadProperty(c, &chunk, &format);
    if (chunk.empty()) {
      *out = std::move(all);
      *outType = chunkType;
      return 1;
    }
    if (all.size() + chunk.size() > kMaxBytes) return 0;
    all += chunk;
  }
}

}  // namespace

namespace platx {

int ClipboardHandleEvent(XEvent& event) {
  ClipState& c = Clip();
  switch (event.type) {
    case SelectionRequest:
      if (!c.win || event.xselectionrequest.owner != c.win) return 0;
      AnswerRequest(c, event.xselectionrequest);
      return 1;
    case SelectionClear:
      if (!c.win || event.xselectionclear.window != c.win) return 0;
      if (event.xselectionclear.selection == c.clipboard) {
        c.owned = 0;
        c.text.clear();
      }
      return 1;
    case PropertyNotify:
      if (c.win && event.xproperty.window == c.win) return 1;
      return ContinueTransfer(c, event.xproperty);
    case SelectionNotify:
      return c.win && event.xselection.requestor == c.win;  // a reply that came too late
    default:
      return 0;
  }
}

}  // namespace platx

int PlatClipboardSetText(const wchar_t* text) {
  if (!PlatInit()) return 0;
  ClipState& c = Clip();
  int empty = !text || !*text;
  if (PlatIsHeadless()) {
    c.headlessHas = !empty;
    c.headlessText = empty ? L"" : text;
    return 1;
  }
  if (!EnsureWindow(c)) return 0;
  Display* dpy = platx::Dpy();
  if (empty) {
    // No owner at all: nobody offers text any more.
    XSetSelectionOwner(dpy, c.clipboard, 0, CurrentTime);
    c.owned = 0;
    c.text.clear();
    XFlush(dpy);
    return 1;
  }
  c.text = platx::WideToUtf8(text);
  XSetSelectionOwner(dpy, c.clipboard, c.win, CurrentTime);
  c.owned = XGetSelectionOwner(dpy, c.clipboard) == c.win;
  if (!c.owned) c.text.clear();
  return c.owned;
}

int PlatClipboardGetText(std::wstring* outText) {
  if (!outText || !PlatInit()) return 0;
  ClipState& c = Clip();
  outText->clear();
  if (PlatIsHeadless()) {
    if (!c.headlessHas) return 0;
    *outText = c.headlessText;
    return 1;
  }
  if (!EnsureWindow(c)) return 0;
  Display* dpy = platx::Dpy();
  Window owner = XGetSelectionOwner(dpy, c.clipboard);
  if (owner == 0) return 0;
  if (owner == c.win && c.owned) {
    *outText = platx::Utf8ToWide(c.text.data(), c.text.size());
    return 1;
  }
  std::string bytes;
  Atom type = 0;
  if (ReadFromOwner(c, c.utf8, &bytes, &type)) {
    *outText = platx::Utf8ToWide(bytes.data(), bytes.size());
    return 1;
  }
  if (ReadFromOwner(c, XA_STRING, &bytes, &type)) {
    for (unsigned char ch : bytes) *outText += wchar_t(ch);
    return 1;
  }
  return 0;
}

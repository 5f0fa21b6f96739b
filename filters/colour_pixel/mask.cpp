// mask.cpp - CLfMask: the frame loop (row kernels and the accessor path), loading the mask
// picture, the window's boxes and button, the settings.
// Inside: row kernels - frame loop - window - loading - processing - settings
//
// Controls and results:
//   "preview"            preview = box; frame again (waits)
//   "mask out of range"  default mask 65535 checked, 0 not; frame again (waits)
//   "image load"         chooser; a good decode replaces mask and path, turns preview on
//                        and asks for the frame (waits); a failure keeps both and says so
// Every value is read and written as 16-bit R, G, B, as the pixel accessors convert it; the
// row kernels give exactly the accessors' pixels for frames of formats 1 to 6.
#include "filters/colour_pixel/mask.h"

#include <cstring>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "app/cfgfile.h"
#include "core/imgbuff.h"
#include "core/parallel.h"
#include "media/imgio/imgio.h"
#include "media/media.h"
#include "toolkit/filesel.h"
#include "toolkit/msgbox.h"
#include "toolkit/path.h"
#include "toolkit/screen.h"

FilterWindowPlace CLfMask::s_classPlace;

// ---------------------------------------------------------------------------------------
// Row kernels
namespace {

inline uint64_t Luma(uint64_t r, uint64_t g, uint64_t b) {
  return (299 * r + 587 * g + 114 * b + 500) / 1000;
}

template <class T>
inline T Ld(const uint8_t* p, int i) {
  T v;
  std::memcpy(&v, p + i * sizeof(T), sizeof(T));
  return v;
}
template <class T>
inline void St(uint8_t* p, int i, T v) {
  std::memcpy(p + i * sizeof(T), &v, sizeof(T));
}

// GetRGB16 of one pixel of format F.
template <int F>
inline void Read16(const uint8_t* p, uint32_t* c) {
  if constexpr (F == ImgFormatGray8) {
    c[0] = c[1] = c[2] = p[0] * 257u;
  } else if constexpr (F == ImgFormatGray16) {
    c[0] = c[1] = c[2] = Ld<uint16_t>(p, 0);
  } else if constexpr (F == ImgFormatGray32) {
    c[0] = c[1] = c[2] = Ld<uint32_t>(p, 0) >> 16;
  } else if constexpr (F == ImgFormatRgb24) {
    for (int k = 0; k < 3; ++k) c[k] = p[k] * 257u;
  } else if constexpr (F == ImgFormatRgb48) {
    for (int k = 0; k < 3; ++k) c[k] = Ld<uint16_t>(p, k);
  } else {
    for (int k = 0; k < 3; ++k) c[k] = Ld<uint32_t>(p, k) >> 16;
  }
}

// SetRGB16 of one pixel of format F.
template <int F>
inline void Write16(uint8_t* p, uint32_t r, uint32_t g, uint32_t b) {
  if constexpr (F == ImgFormatGray8) {
    p[0] = uint8_t(Luma(r, g, b) >> 8);
  } else if constexpr (F == ImgFormatGray16) {
    St<uint16_t>(p, 0, uint16_t(Luma(r, g, b)));
  } else if constexpr (F == ImgFormatGray32) {
    St<uint32_t>(p, 0, uint32_t(Luma(r * 65537ull, g * 65537ull, b * 65537ull)));
  } else if constexpr (F == ImgFormatRgb24) {
    p[0] = uint8_t(r >> 8), p[1] = uint8_t(g >> 8), p[2] = uint8_t(b >> 8);
  } else if constexpr (F == ImgFormatRgb48) {
    St<uint16_t>(p, 0, uint16_t(r)), St<uint16_t>(p, 1, uint16_t(g)),
        St<uint16_t>(p, 2, uint16_t(b));
  } else {
    St<uint32_t>(p, 0, r * 65537u), St<uint32_t>(p, 1, g * 65537u), St<uint32_t>(p, 2, b * 65537u);
  }
}

// The same with three equal channels: the luma of (v, v, v) is v, so gray frames skip it.
template <int F>
inline void Write16Gray(uint8_t* p, uint32_t v) {
  if constexpr (F == ImgFormatGray8) {
    p[0] = uint8_t(v >> 8);
  } else if constexpr (F == ImgFormatGray16) {
    St<uint16_t>(p, 0, uint16_t(v));
  } else if constexpr (F == ImgFormatGray32) {
    St<uint32_t>(p, 0, v * 65537u);
  } else {
    Write16<F>(p, v, v, v);
  }
}

inline uint32_t Sub(uint32_t s, uint32_t m) { return s > m ? s - m : 0; }

// One row of the frame (n pixels from p) against mask values m (three per pixel; with
// equal set only m[3 i] is read, all three channels being equal).
template <int F, bool kEqual>
void SubtractRow(uint8_t* p, const uint32_t* m, int32_t n) {
  constexpr int32_t bpp = F == 1 ? 1 : F == 2 ? 2 : F == 3 ? 4 : F == 4 ? 3 : F == 5 ? 6 : 12;
  for (int32_t i = 0; i < n; ++i, p += bpp, m += 3) {
    uint32_t s[3];
    Read16<F>(p, s);
    if constexpr (kEqual && F <= ImgFormatGray32) {
      Write16Gray<F>(p, Sub(s[0], m[0]));
    } else if constexpr (kEqual) {
      Write16<F>(p, Sub(s[0], m[0]), Sub(s[1], m[0]), Sub(s[2], m[0]));
    } else {
      Write16<F>(p, Sub(s[0], m[0]), Sub(s[1], m[1]), Sub(s[2], m[2]));
    }
  }
}

template <int F>
void PreviewRow(uint8_t* p, const uint32_t* m, int32_t n) {
  constexpr int32_t bpp = F == 1 ? 1 : F == 2 ? 2 : F == 3 ? 4 : F == 4 ? 3 : F == 5 ? 6 : 12;
  for (int32_t i = 0; i < n; ++i, p += bpp, m += 3) Write16<F>(p, m[0], m[1], m[2]);
}

typedef void (*RowFn)(uint8_t* p, const uint32_t* m, int32_t n);

template <int F>
constexpr RowFn kRows[3] = {&SubtractRow<F, false>, &SubtractRow<F, true>, &PreviewRow<F>};

RowFn PickRow(int32_t format, int32_t kind) {
  switch (format) {
    case 1: return kRows<1>[kind];
    case 2: return kRows<2>[kind];
    case 3: return kRows<3>[kind];
    case 4: return kRows<4>[kind];
    case 5: return kRows<5>[kind];
    case 6: return kRows<6>[kind];
    default: return nullptr;
  }
}

// Mask values of n pixels of one mask row from column x, y, as GetRGB16 gives them.
void ReadMaskRow(const CImgBuff* mask, int32_t x, int32_t y, int32_t n, uint32_t* out) {
  const int32_t f = mask->Format();
  const int64_t bpp = ImgBytesPerPixel[f];
  const uint8_t* p =
      static_cast<const uint8_t*>(mask->Pixels()) + (int64_t(y) * mask->Width() + x) * bpp;
  switch (f) {
    case 1: for (int32_t i = 0; i < n; ++i) Read16<1>(p + i * bpp, out + 3 * i); return;
    case 2: for (int32_t i = 0; i < n; ++i) Read16<2>(p + i * bpp, out + 3 * i); return;
    case 3: for (int32_t i = 0; i < n; ++i) Read16<3>(p + i * bpp, out + 3 * i); return;
    case 4: for (int32_t i = 0; i < n; ++i) Read16<4>(p + i * bpp, out + 3 * i); return;
    case 5: for (int32_t i = 0; i < n; ++i) Read16<5>(p + i * bpp, out + 3 * i); return;
    case 6: for (int32_t i = 0; i < n; ++i) Read16<6>(p + i * bpp, out + 3 * i); return;
    default:
      for (int32_t i = 0; i < n; ++i) {
        uint16_t r = 0, g = 0, b = 0;
        mask->record->GetRGB16(x + i, y, &r, &g, &b);
        out[3 * i] = r, out[3 * i + 1] = g, out[3 * i + 2] = b;
      }
  }
}

// Frame and mask of the same 8- or 16-bit format: on the 16-bit scale (s - m) x 257 read
// back as 8 bits is s - m, and 16-bit samples subtract as they are, so the whole row is one
// saturating subtraction of its samples.  The vector loop does what it can, the scalar loop
// the tail.
void SaturatingSub8(uint8_t* p, const uint8_t* m, int64_t n) {
  int64_t i = 0;
#ifdef __SSE2__
  for (; i + 16 <= n; i += 16) {
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(m + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i), _mm_subs_epu8(a, b));
  }
#endif
  for (; i < n; ++i) p[i] = p[i] > m[i] ? uint8_t(p[i] - m[i]) : 0;
}

void SaturatingSub16(uint8_t* p, const uint8_t* m, int64_t n) {
  int64_t i = 0;
#ifdef __SSE2__
  for (; i + 8 <= n; i += 8) {
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2 * i));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(m + 2 * i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 2 * i), _mm_subs_epu16(a, b));
  }
#endif
  for (; i < n; ++i) {
    uint16_t a, b;
    std::memcpy(&a, p + 2 * i, 2);
    std::memcpy(&b, m + 2 * i, 2);
    a = a > b ? uint16_t(a - b) : 0;
    std::memcpy(p + 2 * i, &a, 2);
  }
}

struct MaskJob {
  CImgBuff* frame;
  const CImgBuff* mask;  // null: every pixel outside it
  uint32_t preview;
  uint32_t fill;  // the default mask value
  RoiRect roi;
};

void MaskRows(void* ctx, uint64_t first, uint64_t count) {
  const MaskJob& job = *static_cast<const MaskJob*>(ctx);
  const int32_t f = job.frame->Format();
  const int64_t bpp = ImgBytesPerPixel[f];
  const int32_t n = job.roi.x1 - job.roi.x0 + 1;
  const int32_t maskW = job.mask ? job.mask->Width() : 0;
  const int32_t maskH = job.mask ? job.mask->Height() : 0;
  const int32_t maskGray = job.mask && job.mask->Format() <= ImgFormatGray32;
  // Columns x0 .. split - 1 lie inside the mask picture (on rows it covers).
  int32_t inside = maskW > job.roi.x0 ? (maskW - 1 < job.roi.x1 ? maskW : job.roi.x1 + 1) - job.roi.x0 : 0;
  // One scratch row per band: the default values stay in it after the mask's part.
  std::vector<uint32_t> m(size_t(n) * 3, job.fill);
  std::vector<uint32_t> fillRow(size_t(n) * 3, job.fill);
  for (uint64_t r = first; r < first + count; ++r) {
    const int32_t y = job.roi.y0 + int32_t(r);
    uint8_t* row = static_cast<uint8_t*>(job.frame->Pixels()) +
                   (int64_t(y) * job.frame->Width() + job.roi.x0) * bpp;
    const int32_t covered = y < maskH ? inside : 0;
    // Same 8- or 16-bit format on both sides: the samples themselves, no conversion.
    const int32_t same = covered > 0 && job.mask->Format() == f &&
                         (f == ImgFormatGray8 || f == ImgFormatGray16 || f == ImgFormatRgb24 ||
                          f == ImgFormatRgb48);
    // Outside the mask a default of 0 keeps these formats' samples, 65535 zeroes every
    // format's.
    const int32_t keepRest = !job.preview && job.fill == 0 && f != ImgFormatGray32 &&
                             f != ImgFormatRgb96;
    const int32_t clearRest = !job.preview && job.fill == 65535;
    if (same || keepRest || clearRest) {
      if (same) {
        const uint8_t* mrow = static_cast<const uint8_t*>(job.mask->Pixels()) +
                              (int64_t(y) * job.mask->Width() + job.roi.x0) * bpp;
        if (job.preview)
          std::memcpy(row, mrow, size_t(covered * bpp));
        else if (f == ImgFormatGray8 || f == ImgFormatRgb24)
          SaturatingSub8(row, mrow, covered * bpp);
        else
          SaturatingSub16(row, mrow, covered * bpp / 2);
      } else if (covered > 0) {
        ReadMaskRow(job.mask, job.roi.x0, y, covered, m.data());
        RowFn fn = PickRow(f, job.preview ? 2 : maskGray ? 1 : 0);
        fn(row, m.data(), covered);
      }
      if (covered < n) {
        if (clearRest)
          std::memset(row + covered * bpp, 0, size_t((n - covered) * bpp));
        else if (!keepRest)
          PickRow(f, job.preview ? 2 : 1)(row + covered * bpp, fillRow.data(), n - covered);
      }
      continue;
    }
    if (covered > 0) ReadMaskRow(job.mask, job.roi.x0, y, covered, m.data());
    if (job.preview) {
      RowFn fn = PickRow(f, 2);
      if (covered > 0) fn(row, m.data(), covered);
      if (covered < n) fn(row + covered * bpp, fillRow.data(), n - covered);
    } else {
      if (covered > 0) PickRow(f, maskGray ? 1 : 0)(row, m.data(), covered);
      if (covered < n) PickRow(f, 1)(row + covered * bpp, fillRow.data(), n - covered);
    }
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Frame loop
void MaskApply(CImgBuff* frame, const CImgBuff* mask, uint32_t preview, uint16_t defaultMask,
               const RoiRect& roi) {
  if (!frame) return;
  const int32_t f = frame->Format();
  if (f < ImgFormatGray8 || f > ImgFormatRgb96) {
    MaskApplyReference(frame, mask, preview, defaultMask, roi);
    return;
  }
  if (roi.x0 < 0 || roi.y0 < 0 || roi.x0 > roi.x1 || roi.y0 > roi.y1 ||
      roi.x1 >= frame->Width() || roi.y1 >= frame->Height())
    return;
  MaskJob job{frame, mask && mask->Format() ? mask : nullptr, preview, defaultMask, roi};
  ParallelFor(&MaskRows, &job, uint64_t(roi.y1 - roi.y0 + 1));
}

void MaskApplyReference(CImgBuff* frame, const CImgBuff* mask, uint32_t preview,
                        uint16_t defaultMask, const RoiRect& roi) {
  if (!frame || !frame->Format()) return;
  const int32_t hasMask = mask && mask->Format();
  for (int32_t y = roi.y0; y <= roi.y1; ++y)
    for (int32_t x = roi.x0; x <= roi.x1; ++x) {
      uint16_t m[3] = {defaultMask, defaultMask, defaultMask};
      if (hasMask && x >= 0 && y >= 0 && x < mask->Width() && y < mask->Height())
        mask->record->GetRGB16(x, y, &m[0], &m[1], &m[2]);
      if (preview) {
        frame->SetRGB16(x, y, m[0], m[1], m[2]);
        continue;
      }
      uint16_t s[3] = {0, 0, 0};
      if (x >= 0 && y >= 0 && x < frame->Width() && y < frame->Height())
        frame->record->GetRGB16(x, y, &s[0], &s[1], &s[2]);
      frame->SetRGB16(x, y, uint16_t(Sub(s[0], m[0])), uint16_t(Sub(s[1], m[1])),
                      uint16_t(Sub(s[2], m[2])));
    }
}

// ---------------------------------------------------------------------------------------
// Window
CLfMask::CLfMask() : CFilterWindow(&s_classPlace) {
  // "画像確認", "範囲外をマスク", "画像ロード"
  m_layoutItems[0] = {&m_previewBox, L"preview", L"\x753B\x50CF\x78BA\x8A8D", 10, 10, 10, 10,
                      90, 20};
  m_layoutItems[1] = {&m_outOfRangeBox, L"mask out of range",
                      L"\x7BC4\x56F2\x5916\x3092\x30DE\x30B9\x30AF", 10, 40, 10, 40, 150, 20};
  m_layoutItems[2] = {&m_loadButton, L"image load", L"\x753B\x50CF\x30ED\x30FC\x30C9", 10, 70,
                      10, 70, 150, 30};
  AddChild(&m_previewBox);
  AddChild(&m_outOfRangeBox);
  AddChild(&m_loadButton);
  m_previewBox.m_callback = &CLfMask::OnPreview;
  m_previewBox.m_user = this;
  m_outOfRangeBox.m_callback = &CLfMask::OnOutOfRange;
  m_outOfRangeBox.m_user = this;
  m_loadButton.m_callback = &CLfMask::OnLoad;
  m_loadButton.m_user = this;
  m_previewBox.m_checked = 1;
  m_outOfRangeBox.m_checked = 1;
  m_layout = {m_layoutItems, 3, 170, 110, 150, 110, nullptr, 0};
  ApplyFilterLayout(m_layout, m_language, nullptr, nullptr);
  ApplyEnableRule();
}

void CLfMask::ApplyEnableRule() {
  int32_t loaded = GetMask() != nullptr;
  SetControlEnabled(&m_previewBox, loaded);
  CFgUICtrl::Redraw();
}

const wchar_t* CLfMask::GetName(const wchar_t* language) {
  return IsJapanese(language) ? L"\x80CC\x666F\x9664\x53BB/\x30DE\x30B9\x30AF" : L"Mask";
}

uint32_t CLfMask::GetPreview() {
  PlatformLockHold hold(m_lock);
  return m_preview;
}

uint16_t CLfMask::GetDefaultMask() {
  PlatformLockHold hold(m_lock);
  return m_defaultMask;
}

std::wstring CLfMask::GetPath() {
  PlatformLockHold hold(m_lock);
  return m_path;
}

std::shared_ptr<const CImgBuff> CLfMask::GetMask() {
  PlatformLockHold hold(m_lock);
  return m_mask;
}

void CLfMask::OnPreview(CFgUIChkButton* box, void* user) {
  auto* self = static_cast<CLfMask*>(user);
  {
    PlatformLockHold hold(self->m_lock);
    self->m_preview = box->m_checked ? 1 : 0;
  }
  RequestIfEnabled(self, 0);
}

void CLfMask::OnOutOfRange(CFgUIChkButton* box, void* user) {
  auto* self = static_cast<CLfMask*>(user);
  {
    PlatformLockHold hold(self->m_lock);
    self->m_defaultMask = box->m_checked ? 65535 : 0;
  }
  RequestIfEnabled(self, 0);
}

// ---------------------------------------------------------------------------------------
// Loading
int32_t CLfMask::LoadMaskImage(const wchar_t* path) {
  if (!path || !path[0]) return 0;
  MediaFile* file = MediaOpen(path, nullptr, nullptr);
  if (!file) return 0;
  // A new picture: the decoder empties or clears its target even when it fails, and the
  // old mask must survive a bad file (and a run that still reads it).
  std::shared_ptr<CImgBuff> picture = std::make_shared<CImgBuff>();
  int ok = LoadImageFromMedia(picture.get(), file, 0) == 1 && picture->Format();
  MediaClose(file);
  if (!ok) return 0;
  PlatformLockHold hold(m_lock);
  m_mask = std::move(picture);
  m_path = path;
  return 1;
}

void CLfMask::LoadFailed() {
  const int32_t jp = IsJapanese(m_language);
  FgMessageBox(jp ? L"\x30ED\x30FC\x30C9\x3067\x304D\x307E\x305B\x3093\x3067\x3057\x305F"
                  : L"loading failed",
               jp ? L"\x30A8\x30E9\x30FC" : L"error", 1, this);
}

void CLfMask::LoadFromButton(const wchar_t* path) {
  if (LoadMaskImage(path) != 1) {
    LoadFailed();
    return;
  }
  int32_t turnedOn = 0;
  {
    PlatformLockHold hold(m_lock);
    if (!m_preview) {
      // The loaded mask is shown first.
      m_preview = 1;
      turnedOn = 1;
    }
  }
  if (turnedOn) {
    m_previewBox.m_checked = 1;
    CFgUICtrl::Redraw();
  }
  ApplyEnableRule();
  RequestIfEnabled(this, 0);
}

void CLfMask::OnLoad(CFgUIButton*, void* user) {
  auto* self = static_cast<CLfMask*>(user);
  const int32_t jp = IsJapanese(self->m_language);
  FileSelectOptions options;
  options.title = jp ? L"\x30DE\x30B9\x30AF\x753B\x50CF\x3092\x9078\x629E" : L"select mask image";
  wchar_t path[kFgPathUnits] = {};
  if (FgSelectFile(path, kFgPathUnits, &options, self) != 1 || !path[0]) return;
  self->LoadFromButton(path);
}

// ---------------------------------------------------------------------------------------
// Processing
void CLfMask::Process(CImgBuff* picture, uint64_t, int64_t x, int64_t y, int64_t width,
                      int64_t height, uint32_t, uint32_t) {
  if (!picture || !picture->Format()) return;
  std::shared_ptr<const CImgBuff> mask;
  uint32_t preview;
  uint16_t fill;
  {
    PlatformLockHold hold(m_lock);
    mask = m_mask;  // this run's own reference: a load meanwhile neither frees nor tears it
    preview = m_preview;
    fill = m_defaultMask;
  }
  // Only pixels inside the frame can change (the accessors drop writes outside it), so the
  // loop covers the chain rectangle cut to the frame: a width of 4294967295 from a list
  // costs no more than the frame.
  if (width <= 0 || height <= 0) return;
  int64_t x0 = x < 0 ? 0 : x, y0 = y < 0 ? 0 : y;
  int64_t x1 = x > INT64_MAX - (width - 1) ? INT64_MAX : x + (width - 1);
  int64_t y1 = y > INT64_MAX - (height - 1) ? INT64_MAX : y + (height - 1);
  if (x1 >= picture->Width()) x1 = picture->Width() - 1;
  if (y1 >= picture->Height()) y1 = picture->Height() - 1;
  if (x0 > x1 || y0 > y1) return;
  RoiRect roi{int32_t(x0), int32_t(y0), int32_t(x1), int32_t(y1)};
  MaskApply(picture, mask.get(), preview, fill, roi);
}

// ---------------------------------------------------------------------------------------
// Settings
void CLfMask::SaveParams(CCfgPack* pack) {
  if (!pack) return;
  CImgFilter::SaveParams(pack);
  PlatformLockHold hold(m_lock);
  PackWriteFlag(pack, L"preview", m_preview);
  PackWriteFlag(pack, L"default_mask", m_defaultMask ? 1 : 0);
  if (m_mask) pack->AddItem(L"path", m_path.c_str());
}

void CLfMask::LoadParams(CCfgPack* pack) {
  if (!pack) return;
  // The path first: a file that cannot be loaded opens the window for the user to choose
  // another, whatever the list said.
  if (CCfgItem* path = pack->FindItem(L"path")) {
    if (LoadMaskImage(path->value) != 1) {
      LoadFailed();
      if (CCfgItem* visible = pack->FindItem(L"if_visible")) visible->Set(nullptr, L"1");
    }
  }
  CImgFilter::LoadParams(pack);
  uint32_t preview = 0, fill = 0;
  {
    PlatformLockHold hold(m_lock);
    preview = m_preview;
    fill = m_defaultMask ? 1 : 0;
  }
  if (PackReadFlag(pack, L"preview", &preview, nullptr)) m_previewBox.m_checked = int32_t(preview);
  if (PackReadFlag(pack, L"default_mask", &fill, nullptr))
    m_outOfRangeBox.m_checked = int32_t(fill);
  {
    PlatformLockHold hold(m_lock);
    m_preview = preview;
    m_defaultMask = fill ? 65535 : 0;
  }
  ApplyEnableRule();
}

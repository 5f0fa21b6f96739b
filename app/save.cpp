// save.cpp - saving what the view shows: the current frame as one still image, or every
// scene, processed, as numbered image files, one multi-page TIFF file or a video; the view
// rendered with its guides; the names proposed to the chooser.
// Inside: texts - proposed names - the frame as saved - one image - all scenes - the view
//         with its guides
//
// A save reports "saved" only when every frame was written and the file closed cleanly.
// An abort (the progress window's button, or the quit message met while pumping) closes
// the file with the frames written so far and reports "aborted".
#include <cwchar>
#include <new>

#include "app/mainscreen.h"
#include "media/imgio/imgio.h"
#include "toolkit/filesel.h"
#include "toolkit/msgbox.h"
#include "toolkit/path.h"
#include "toolkit/texture.h"

namespace {

// ---------------------------------------------------------------------------------------
// Texts

struct Text {
  const wchar_t* ja;
  const wchar_t* en;
};
constexpr Text kNoImage = {L"画像がありません", L"there is no image"};
constexpr Text kNoVideo = {L"動画がありません", L"there is no video"};
constexpr Text kOverwrite = {L"上書き保存しますか？", L"Do you want to overwrite it?"};
constexpr Text kDepth = {L"ファイルで扱えるbit数が不足しています\n保存時に劣化しますがよろしいですか？",
                         L"The number of bits that can be handled by the file is "
                         L"insufficient.\nIt will deteriorate at the time of storage. Are you "
                         L"sure?"};
constexpr Text kSaved = {L"セーブしました", L"saved"};
constexpr Text kWriteFailed = {L"セーブできませんでした (write)", L"saving failed (write)"};
constexpr Text kFailed = {L"セーブできませんでした", L"saving failed"};
constexpr Text kAborted = {L"中止しました", L"aborted"};
constexpr Text kConfirm = {L"確認", L"confirmation"};
constexpr Text kError = {L"エラー", L"error"};
constexpr Text kChooserTitle = {L"保存するファイル名を選択", L"select file name to save"};
constexpr Text kProgressTitle = {L"保存中", L"saving"};

const wchar_t* Pick(const Text& t, const wchar_t* language) {
  return IsJapanese(language) ? t.ja : t.en;
}

int32_t Tell(CMainScreen* screen, const Text& text, const Text& caption, int32_t kind,
             const wchar_t* language) {
  return FgMessageBox(Pick(text, language), Pick(caption, language), kind, screen);
}

// The progress window shows this text until it is destroyed, after the saving loop ended.
wchar_t g_progressText[64];

// ---------------------------------------------------------------------------------------
// Proposed names

// The '.' that starts the extension of the file name of path (a '.' of a folder does not
// count), or null.
const wchar_t* ExtensionDot(const wchar_t* path) {
  const wchar_t* name = PathFileName(path);
  return name ? wcsrchr(name, L'.') : nullptr;
}

// The text after the last '.', its first four characters, A to Z lowered; "" without one.
void LowerExtension(const wchar_t* path, wchar_t out[5]) {
  out[0] = 0;
  const wchar_t* dot = path ? ExtensionDot(path) : nullptr;
  if (!dot) return;
  int i = 0;
  for (; i < 4 && dot[1 + i]; ++i) {
    const wchar_t c = dot[1 + i];
    out[i] = (c >= L'A' && c <= L'Z') ? wchar_t(c - L'A' + L'a') : c;
  }
  out[i] = 0;
}

// path with its extension replaced by ext into out (kMainPathUnits); 0 without a '.' or
// when the result does not fit.
int32_t ReplaceExtension(const wchar_t* path, const wchar_t* ext, wchar_t* out) {
  const wchar_t* dot = ExtensionDot(path);
  if (!dot) return 0;
  const size_t stem = size_t(dot - path) + 1, n = wcslen(ext);
  if (stem + n + 1 > kMainPathUnits) return 0;
  wmemcpy(out, path, stem);
  wmemcpy(out + stem, ext, n + 1);
  return 1;
}

// ---------------------------------------------------------------------------------------
// The frame as saved

// The displayed frame (a copy taken under the chain lock, since the worker replaces it
// after every run), or the view rendered with its guides; cut to the processing rectangle
// of the last run with "save selected area".  1/0.
int32_t TakeFrame(CMainScreen* screen, CImgBuff* out) {
  if (screen->m_encode.m_withGuides) {
    if (!screen->RenderViewWithGuides(out)) return 0;
  } else {
    PlatformLockHold hold(screen->m_sidePanel.ChainLock());
    out->CopyFrom(screen->m_display);
  }
  if (!out->Pixels()) return 0;
  if (screen->m_encode.m_selectedOnly) {
    const int32_t* r = screen->m_sidePanel.m_lastRect;
    CImgBuff cropped;
    if (!out->Crop(cropped, r[0], r[1], r[2], r[3])) return 0;
    C_ImgBuff* record = out->record;
    out->record = cropped.record;
    cropped.record = record;
  }
  return 1;
}

// The format path's file type takes for format; the depth question when bits are lost.
// 1 with *target set, 0 for a type no writer knows, -1 when the user declined.
int32_t ChooseTarget(CMainScreen* screen, const wchar_t* path, int32_t format,
                     const wchar_t* language, int32_t* target) {
  // No writer for the type: asking whether to lose bits first would promise a file.
  uint64_t type = 0;
  if (MediaFormatFromExtension(path, &type, wcslen(path)) == MediaKindNone) return 0;
  int32_t lost = 0;
  *target = FitFormatForExtension(path, &lost, &format);
  if (*target == format) return 1;
  if (!*target) return 0;
  if (lost && Tell(screen, kDepth, kConfirm, 0, language) != 1) return -1;
  return 1;
}

MediaInfo FrameInfo(const CImgBuff& picture, uint64_t frames, uint64_t intervalUs) {
  return MediaInfo{0, 1, frames, uint64_t(ImgBytesPerPixel[picture.Format()]),
                   uint64_t(picture.Width()), uint64_t(picture.Height()), intervalUs};
}

int32_t EndsWithMp4(const wchar_t* path) {
  const size_t n = wcslen(path);
  if (n < 4) return 0;
  wchar_t tail[5];
  for (int i = 0; i < 4; ++i) {
    const wchar_t c = path[n - 4 + i];
    tail[i] = (c >= L'A' && c <= L'Z') ? wchar_t(c - L'A' + L'a') : c;
  }
  tail[4] = 0;
  return wcscmp(tail, L".mp4") == 0;
}

// Whether any file a numbered save of count frames would write exists: the typed name is
// only the first of them.  A name without a digit run is checked as it stands.
int32_t NumberedFilesExist(const wchar_t* path, uint64_t count) {
  const wchar_t* dot = ExtensionDot(path);
  if (!dot || dot == PathFileName(path) || dot[-1] < L'0' || dot[-1] > L'9')
    return MediaFileExists(path);
  wchar_t pattern[kMoviePatternUnits];
  uint64_t start = 0;
  if (!MakeSequencePattern(path, pattern, kMoviePatternUnits, &start)) return MediaFileExists(path);
  wchar_t name[kMoviePatternUnits];
  for (uint64_t i = 0; i < count && start + i >= start; ++i) {
    const int n = swprintf(name, kMoviePatternUnits, pattern,
                           static_cast<unsigned long long>(start + i));
    if (n >= 0 && uint64_t(n) < kMoviePatternUnits && MediaFileExists(name)) return 1;
  }
  return 0;
}

void TakeSavedPath(CMainScreen* screen, const wchar_t* path) {
  screen->SetCurrentPath(path);
  screen->SetFilePath(path);
  screen->UpdateTitle();
}

}  // namespace

// ---------------------------------------------------------------------------------------
// One image

void CMainScreen::SaveImage() {
  const wchar_t* language = m_sidePanel.m_language;
  int32_t hasImage = 0;
  {
    PlatformLockHold hold(m_sidePanel.ChainLock());
    hasImage = m_display.Pixels() != nullptr;
  }
  if (!hasImage) {
    Tell(this, kNoImage, kConfirm, 1, language);
    return;
  }
  wchar_t proposal[kMainPathUnits];
  const wchar_t* start = m_chooserStart;
  if (m_chooserStart) {
    wchar_t ext[5];
    LowerExtension(m_chooserStart, ext);
    if ((wcscmp(ext, L"avi") == 0 || wcscmp(ext, L"mp4") == 0) &&
        ReplaceExtension(m_chooserStart, m_encode.m_ext, proposal))
      start = proposal;
  }
  wchar_t path[kMainPathUnits] = {};
  FileSelectOptions options;
  options.title = Pick(kChooserTitle, language);
  options.startPath = start;
  options.extensions = m_extensions[3];
  if (!FgSelectFile(path, kMainPathUnits, &options, this) || !path[0]) return;
  if (MediaFileExists(path) && Tell(this, kOverwrite, kConfirm, 0, language) != 1) return;
  LockUI();
  const int32_t result = WriteDisplayedImage(path, language);
  if (result == 1) {
    Tell(this, kSaved, kConfirm, 1, language);
    TakeSavedPath(this, path);
  } else if (result == 0) {
    Tell(this, kWriteFailed, kError, 1, language);
  }
  UnlockUI();
}

int32_t CMainScreen::WriteDisplayedImage(const wchar_t* path, const wchar_t* language) {
  if (!path) return 0;
  CImgBuff picture;
  if (!TakeFrame(this, &picture)) return 0;
  int32_t target = 0;
  const int32_t chosen = ChooseTarget(this, path, picture.Format(), language, &target);
  if (chosen != 1) return chosen;
  if (target != picture.Format() && !picture.record->ConvertTo(target)) return 0;
  const MediaInfo info = FrameInfo(picture, 1, 0);
  MediaWriteOptions options;
  m_encode.GetSaverOptions(&options);
  MediaFile* file = MediaCreate(path, &info, &options);
  if (!file) return 0;
  const int written = SaveImageToMedia(&picture, file);
  const int closed = MediaClose(file);
  return written && closed ? 1 : 0;
}

// ---------------------------------------------------------------------------------------
// All scenes

void CMainScreen::SaveFrames(int32_t numbered, uint64_t interval) {
  const wchar_t* language = m_sidePanel.m_language;
  CFgUIProgressBox* window = new (std::nothrow) CFgUIProgressBox;
  LockUI();
  int32_t hasImage = 0;
  {
    PlatformLockHold hold(m_sidePanel.ChainLock());
    hasImage = m_display.Pixels() != nullptr;
  }
  const uint64_t count = m_videoPanel.m_count;
  if (!window) {
    Tell(this, kFailed, kError, 1, language);
  } else if (!hasImage) {
    Tell(this, kNoImage, kConfirm, 1, language);
  } else if (count <= 1) {
    Tell(this, kNoVideo, kConfirm, 1, language);
  } else {
    // Proposed name: numbered files only from a video; the multi-page file and the video
    // by their own extension.
    wchar_t proposal[kMainPathUnits];
    const wchar_t* start = nullptr;
    if (m_chooserStart) {
      wchar_t ext[5];
      LowerExtension(m_chooserStart, ext);
      const wchar_t* next = interval ? L"avi" : (numbered ? m_encode.m_ext : L"tif");
      if ((!numbered || interval || wcscmp(ext, L"avi") == 0) &&
          ReplaceExtension(m_chooserStart, next, proposal))
        start = proposal;
    }
    wchar_t path[kMainPathUnits] = {};
    FileSelectOptions options;
    options.title = Pick(kChooserTitle, language);
    options.startPath = start;
    options.extensions = interval ? m_extensions[5] : (numbered ? m_extensions[3] : m_extensions[4]);
    int32_t go = FgSelectFile(path, kMainPathUnits, &options, this) && path[0];
    if (go) {
      const int32_t exists = (numbered && !interval) ? NumberedFilesExist(path, count)
                                                     : MediaFileExists(path);
      if (exists && Tell(this, kOverwrite, kConfirm, 0, language) != 1) go = 0;
    }
    if (go) {
      g_progressText[0] = 0;
      window->Open(count, 0, Pick(kProgressTitle, language), g_progressText, this);
      const int32_t result =
          WriteAllScenes(path, language, numbered && !interval, window, count - 1, interval);
      window->Destroy();
      if (result == -1) {
        Tell(this, kAborted, kConfirm, 1, language);
      } else if (result == 1) {
        Tell(this, kSaved, kConfirm, 1, language);
        TakeSavedPath(this, path);
      } else {
        Tell(this, kFailed, kError, 1, language);
      }
    }
  }
  UnlockUI();
  delete window;
}

int32_t CMainScreen::WriteAllScenes(const wchar_t* path, const wchar_t* language,
                                    int32_t numbered, CFgUIProgressBox* window, uint64_t last,
                                    uint64_t interval) {
  if (!path || last == UINT64_MAX) return 0;
  CImgBuff picture;
  if (!TakeFrame(this, &picture)) return 0;
  int32_t target = 0;
  const int32_t chosen = ChooseTarget(this, path, picture.Format(), language, &target);
  if (chosen != 1) return chosen;
  if (target != picture.Format() && !picture.record->ConvertTo(target)) return 0;
  int32_t width = picture.Width(), height = picture.Height();
  // H.264 takes even sizes only: the odd last column or row is left out.
  if (EndsWithMp4(path)) {
    width &= ~1;
    height &= ~1;
    if (width < 1 || height < 1) return 0;
  }
  MediaInfo info = FrameInfo(picture, last + 1, interval * 1000);
  info.width = uint64_t(width);
  info.height = uint64_t(height);
  MediaWriteOptions options;
  m_encode.GetSaverOptions(&options);
  MediaFile* file = numbered ? MediaCreateSequence(path, &info, &options)
                             : MediaCreate(path, &info, &options);
  if (!file) return 0;

  int32_t result = 1;
  const uint64_t maximum = window ? window->m_bar.m_maximum : 0;
  for (uint64_t i = 0; i <= last; ++i) {
    m_videoPanel.SetScene(i);
    if (window) {
      swprintf(g_progressText, 64, L"%d/%d", int(i + 1), int(last + 1));
      window->m_bar.m_text = g_progressText;
      if (i + 1 <= maximum) window->m_bar.m_current = int32_t(i + 1);
      window->Redraw();
    }
    // A scene that cannot be loaded leaves no frame of its own: writing the previous one
    // again would save a wrong video as a good one.
    if (!m_source.Pixels()) {
      result = 0;
      break;
    }
    CImgBuff frame;
    if (!TakeFrame(this, &frame)) {
      result = 0;
      break;
    }
    if (frame.Width() != width || frame.Height() != height) {
      CImgBuff cropped;
      if (!frame.Crop(cropped, 0, 0, width - 1, height - 1)) {
        result = 0;
        break;
      }
      C_ImgBuff* record = frame.record;
      frame.record = cropped.record;
      cropped.record = record;
    }
    if ((frame.Format() != target && !frame.record->ConvertTo(target)) ||
        !SaveImageToMedia(&frame, file)) {
      result = 0;
      break;
    }
    // The quit message ends the loop as the abort button does: the file is finished with
    // what was written.
    if (!FgPumpMessages() || (window && window->m_abort)) {
      result = -1;
      break;
    }
  }
  // A failed scene must not cost the old file; an abort keeps what was written.
  if (result == 0) MediaDiscardOnClose(file);
  if (!MediaClose(file)) result = 0;
  return result;
}

// ---------------------------------------------------------------------------------------
// The view with its guides

int32_t CMainScreen::RenderViewWithGuides(CImgBuff* out) {
  if (!out) return 0;
  const int64_t w = m_view.PictureWidth(), h = m_view.PictureHeight();
  if (w < 1 || h < 1) return 0;
  CFgTexture texture;
  if (!texture.Create(uint64_t(w), uint64_t(h), 1, 1, 0, nullptr) ||
      !texture.AttachToScreen(this))
    return 0;
  m_offscreen = 1;
  SetOverlayTexture(&texture, 1);
  int32_t ok = 0;
  if (texture.BeginRenderTarget()) {
    m_view.DrawContent(this, m_font);
    texture.EndRenderTarget();
    ok = 1;
  }
  SetOverlayTexture(nullptr, 0);
  m_offscreen = 0;
  if (ok) ok = CopyTextureToImage(out, &texture);
  texture.ReleaseGL();
  return ok;
}

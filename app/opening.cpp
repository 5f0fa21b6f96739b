// opening.cpp - the front half of a frame's road: opening stills, videos and numbered
// sequences, loading and turning the current scene, handing it to the chain, the view
// upload after each run, replacing the source, the play range, seeking, and the progress
// window while an MP4 file is indexed.
// Inside: helpers - scene bar - opening - replacing - scene loading - view upload - range
//         and seeking - MP4 indexing progress
//
// Source states and what moves between them:
//   nothing open   source empty, no media, scene bar hidden (count 1)
//   still image    original and source set, no media, bar hidden (count 1)
//   video/sequence media open, original empty, bar shown with count = frames up to 100
// Every opening starts by closing what was open; a failed one ends in "nothing open" with
// the failed path in the title.
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <new>

#include "app/mainscreen.h"
#include "core/text.h"
#include "media/imgio/imgio.h"
#include "media/media_file.h"
#include "toolkit/filesel.h"
#include "toolkit/msgbox.h"
#include "toolkit/progress.h"
#include "toolkit/screen.h"

RecordedSourceInfo g_recordedSource;

// ---------------------------------------------------------------------------------------
// Helpers
namespace {

// Chooser buffers: long enough for any path the system hands out, so a path is never cut.
constexpr uint64_t kChooserUnits = 4096;

int32_t IsJp(const wchar_t* language) { return language && wcscmp(language, L"jp") == 0; }

// Bytes per pixel of a picture's format; 0 for an empty picture.
uint64_t PictureBytesPerPixel(const CImgBuff& picture) {
  const int32_t f = picture.Format();
  if (!picture.Pixels() || f < 1 || f >= ImgFormatCount) return 0;
  return uint64_t(ImgBytesPerPixel[f]);
}

wchar_t* HeapCopy(const wchar_t* text) {
  const size_t n = wcslen(text);
  wchar_t* copy = static_cast<wchar_t*>(malloc((n + 1) * sizeof(wchar_t)));
  if (copy) wmemcpy(copy, text, n + 1);
  return copy;
}

// Holds the worker off the source: waits until no run is pending or in progress, then
// takes the chain lock, so an asynchronous request made meanwhile copies the source only
// before or after the change, never in the middle of a decode or reallocation.
class SourceChange {
 public:
  explicit SourceChange(CFilterCtrl& ctrl) : lock_(ctrl.ChainLock()) {
    ctrl.WaitIdle();
    lock_.Enter();
  }
  ~SourceChange() { Leave(); }
  void Leave() {
    if (held_) lock_.Leave();
    held_ = 0;
  }

 private:
  PlatformLock& lock_;
  int32_t held_ = 1;
};

// A copy that keeps dst's pixels when size and format match; src may be dst itself.
void CopySourcePicture(CImgBuff* dst, const CImgBuff* src) {
  if (dst == src) return;
  if (!src->Pixels()) {
    dst->Free();
    return;
  }
  CopyPictureReusing(dst, src);
}

}  // namespace

void CMainScreen::SetCurrentPath(const wchar_t* path) {
  if (!path || !path[0]) {
    free(m_chooserStart);
    m_chooserStart = nullptr;
    return;
  }
  // When memory runs out the old start path stays.
  if (wchar_t* copy = HeapCopy(path)) {
    free(m_chooserStart);
    m_chooserStart = copy;
  }
}

void CMainScreen::SetFilePath(const wchar_t* path) {
  wchar_t* copy = path && path[0] ? HeapCopy(path) : nullptr;
  free(m_filePath);
  m_filePath = copy;
}

void CMainScreen::SetChainImageInfo(uint64_t width, uint64_t height, uint64_t bytesPerPixel,
                                    uint64_t sceneCount) {
  g_recordedSource = {width, height, bytesPerPixel, sceneCount};
  if (m_rotation == 1 || m_rotation == -1)
    m_sidePanel.SetImageInfo(height, width, bytesPerPixel, sceneCount);
  else
    m_sidePanel.SetImageInfo(width, height, bytesPerPixel, sceneCount);
}

// ---------------------------------------------------------------------------------------
// Scene bar

void CMainScreen::ShowVideoPanel(uint64_t n) {
  if (n > kMaxScenes) {
    const int32_t jp = IsJp(m_sidePanel.m_language);
    FgMessageBox(jp ? L"quorvix duvuは100シーンまでしか処理できません"
                    : L"quorvix mini can process up to 100 scenes",
                 jp ? L"制限事項" : L"limitations", 1, this);
    n = kMaxScenes;
  }
  if (n >= 1) {
    m_videoPanel.m_count = n;
    m_videoPanel.m_position = 0;
    m_videoPanel.UpdateThumb();
  } else if (!m_media) {
    return;
  }
  if (m_videoPlace.shown) return;
  m_videoPlace.shown = 1;
  Layout();
  m_videoPanel.m_visible = 1;
  m_videoPanel.OnShow(1, 0);
  m_videoPanel.m_listener = this;
}

void CMainScreen::HideVideoPanel(int32_t reset) {
  if (m_videoPlace.shown) {
    m_videoPanel.m_step = 0;  // a running play loop ends with the bar
    m_videoPanel.m_visible = 0;
    m_videoPanel.OnShow(0, 0);
    if (m_focusChild == &m_videoPanel) SetFocus(nullptr);
    m_videoPlace.shown = 0;
    Layout();
    m_videoPanel.m_listener = nullptr;
  }
  if (reset) {
    m_videoPanel.m_count = 1;
    m_videoPanel.m_position = 0;
    m_videoPanel.UpdateThumb();
  }
}

// ---------------------------------------------------------------------------------------
// Opening

namespace {

// Closes what was open: no media, no range, no source, scene and frame time 0.
void CloseSource(CMainScreen* s) {
  SourceChange change(s->m_sidePanel);
  if (s->m_media) {
    MediaClose(s->m_media);
    s->m_media = nullptr;
  }
  s->m_rangeActive = 0;
  s->m_rangeFirst = s->m_rangeLast = s->m_rangeStep = 0;
  s->m_source.Free();
  s->m_currentScene = 0;
  s->m_sourceFrameTime = 0;
}

void ShowLoadingFailed(CMainScreen* s) {
  const int32_t jp = IsJp(s->m_sidePanel.m_language);
  FgMessageBox(jp ? L"ロードできませんでした" : L"loading failed", jp ? L"エラー" : L"error", 1, s);
}

}  // namespace

void CMainScreen::OpenImage(const wchar_t* path) {
  wchar_t* chosen = nullptr;
  if (!path) {
    chosen = static_cast<wchar_t*>(calloc(kChooserUnits, sizeof(wchar_t)));
    if (!chosen) return;
    FileSelectOptions options{};
    options.title = IsJp(m_sidePanel.m_language) ? L"ファイルを選択" : L"select file";
    options.startPath = m_chooserStart;
    options.extensions = m_extensions[6];
    if (!FgSelectFile(chosen, kChooserUnits, &options, this)) {
      free(chosen);
      return;
    }
    path = chosen;
  }
  if (!path[0]) {
    free(chosen);
    return;
  }
  CloseSource(this);
  LockUI();

  MediaFile* media = MediaOpen(path, MediaOpenProgress, this);
  uint64_t width = 0, height = 0, bytesPerPixel = 0;
  int32_t opened = 0;
  if (media) {
    width = media->info.width;
    height = media->info.height;
    if (media->info.frameCount <= 1) {
      {
        SourceChange change(m_sidePanel);
        opened = LoadImageFromMedia(&m_source, media, 0) ? 1 : 0;
        // A failed read leaves a cleared picture of the file's size: not a source.
        if (!opened) m_source.Free();
        bytesPerPixel = PictureBytesPerPixel(m_source);
      }
      MediaClose(media);
      HideVideoPanel(1);
    } else {
      opened = 1;
      m_media = media;
      // The source is still empty here: the chain hears the file's depth.
      bytesPerPixel = media->info.bytesPerPixel;
      const uint64_t frames = media->info.frameCount;
      m_playEdit.SetSceneCount(frames > kMaxScenes ? kMaxScenes : frames);
      ShowVideoPanel(frames);
      const uint64_t ms = media->info.frameIntervalUs / 1000;
      if (ms) {
        m_sourceFrameTime = ms;
        if (m_autoFrameInterval) {
          m_playInterval = ms;
          m_videoPanel.m_interval = ms;
          m_videoPanel.m_skip = m_frameSkip ? 1 : 0;
        }
      }
    }
  }
  if (opened) {
    SetCurrentPath(path);
  } else {
    width = height = 0;
    ShowLoadingFailed(this);
    HideVideoPanel(1);
  }
  SetFilePath(path);
  free(chosen);
  path = nullptr;

  {
    SourceChange change(m_sidePanel);
    if (m_media) m_original.Free();
    else CopySourcePicture(&m_original, &m_source);
  }
  m_restoreOriginal = 0;
  m_rotation = 0;
  SetChainImageInfo(width, height, bytesPerPixel, m_videoPanel.m_count);
  m_sidePanel.Layout();
  UpdateTitle();
  LoadCurrentScene(1);
  UnlockUI();
}

void CMainScreen::OpenSequence() {
  const int32_t jp = IsJp(m_sidePanel.m_language);
  const wchar_t* list = L"jpg jpeg tif tiff png bmp dcm";
  wchar_t* first = static_cast<wchar_t*>(calloc(kChooserUnits, sizeof(wchar_t)));
  wchar_t* last = static_cast<wchar_t*>(calloc(kChooserUnits, sizeof(wchar_t)));
  if (!first || !last) {
    free(first);
    free(last);
    return;
  }
  FileSelectOptions options{};
  options.title = jp ? L"最初の連番ファイルを選択" : L"select the first sequential number file";
  options.startPath = m_chooserStart;
  options.extensions = list;
  int32_t go = FgSelectFile(first, kChooserUnits, &options, this) && first[0];
  if (go) {
    options.title = jp ? L"最後の連番ファイルを選択" : L"Select the last sequential number file";
    options.startPath = first;
    go = FgSelectFile(last, kChooserUnits, &options, this);
  }
  if (!go) {
    free(first);
    free(last);
    return;
  }
  CloseSource(this);
  MediaFile* media = MediaOpenSequence(first, last);
  if (media && media->info.frameCount < 2) {
    MediaClose(media);
    OpenImage(first);
    free(first);
    free(last);
    return;
  }
  uint64_t frames = 0, width = 0, height = 0, bytesPerPixel = 0;
  if (media) {
    m_media = media;
    frames = media->info.frameCount;
    width = media->info.width;
    height = media->info.height;
    bytesPerPixel = media->info.bytesPerPixel;
    m_playEdit.SetSceneCount(frames > kMaxScenes ? kMaxScenes : frames);
  } else {
    ShowLoadingFailed(this);
    HideVideoPanel(1);
  }
  {
    SourceChange change(m_sidePanel);
    m_original.Free();
  }
  m_restoreOriginal = 0;
  m_rotation = 0;
  SetFilePath(first);
  ShowVideoPanel(frames);
  SetCurrentPath(first);
  SetChainImageInfo(width, height, bytesPerPixel, m_videoPanel.m_count);
  m_sidePanel.Layout();
  UpdateTitle();
  LoadCurrentScene(1);
  free(first);
  free(last);
}

// ---------------------------------------------------------------------------------------
// Replacing

void CMainScreen::ReplaceSource(CImgBuff* image) {
  // The caller's picture may be our own display or source, which the close empties.
  CImgBuff copy;
  if (image && image->Pixels()) CopyPictureReusing(&copy, image);
  CloseSource(this);
  {
    SourceChange change(m_sidePanel);
    CopySourcePicture(&m_source, &copy);
    CopySourcePicture(&m_original, &copy);
  }
  m_restoreOriginal = 0;
  m_rotation = 0;
  HideVideoPanel(1);
  SetChainImageInfo(uint64_t(copy.Pixels() ? copy.Width() : 0),
                    uint64_t(copy.Pixels() ? copy.Height() : 0), PictureBytesPerPixel(copy), 1);
  m_sidePanel.Layout();
  SetFilePath(nullptr);
  UpdateTitle();
  LoadCurrentScene(1);
}

int32_t CMainScreen::CommitProcessing(CImgBuff* image, int32_t* done) {
  if (done) *done = 1;
  CImgBuff copy;
  if (image && image->Pixels()) CopyPictureReusing(&copy, image);
  const uint64_t w = uint64_t(copy.Pixels() ? copy.Width() : 0);
  const uint64_t h = uint64_t(copy.Pixels() ? copy.Height() : 0);
  const uint64_t bpp = PictureBytesPerPixel(copy);
  int32_t same = 0;
  {
    SourceChange change(m_sidePanel);
    same = uint64_t(m_source.Pixels() ? m_source.Width() : 0) == w &&
           uint64_t(m_source.Pixels() ? m_source.Height() : 0) == h &&
           PictureBytesPerPixel(m_source) == bpp;
    CopySourcePicture(&m_source, &copy);
    CopySourcePicture(&m_original, &copy);
  }
  m_restoreOriginal = 0;
  m_rotation = 0;
  if (!same) {
    g_recordedSource = {w, h, bpp, 1};
    m_sidePanel.SetImageInfo(w, h, bpp, 1);
  }
  LoadCurrentScene(1);
  return 1;
}

// ---------------------------------------------------------------------------------------
// Scene loading

void CMainScreen::LoadCurrentScene(int32_t redraw) {
  SourceChange change(m_sidePanel);
  if (m_media && !LoadImageFromMedia(&m_source, m_media, m_currentScene)) m_source.Free();
  if (m_restoreOriginal) {
    m_restoreOriginal = 0;
    CopySourcePicture(&m_source, &m_original);
  }
  if (!m_source.Pixels()) {
    m_view.m_texture.Clear();
    m_view.Layout();
    change.Leave();
    // A failed scene stops the player: one message, not one for every scene after it (a
    // header that claims more frames than the file holds fails them all).  The video stays
    // open and the bar usable, so the scenes that do load can still be reached.
    m_videoPanel.m_step = 0;
    if (redraw) Redraw();
    ShowLoadingFailed(this);
    return;
  }
  if (m_rotation == 1 || m_rotation == -1 || m_rotation == 2) {
    RotateImageQuarterTurns(&m_source, m_rotation);
    // A still turns from its original again at the next load, never twice.
    if (!m_media) m_restoreOriginal = 1;
  }
  change.Leave();
  Reprocess(0);
}

void CMainScreen::Reprocess(int32_t async) {
  if (!m_source.Pixels()) return;
  if (m_displayMode == 0) {
    {
      SourceChange change(m_sidePanel);
      CopyPictureReusing(&m_display, &m_source);
    }
    UploadToView();
    return;
  }
  m_sidePanel.Request(&m_display, &m_source, m_currentScene, async);
}

// ---------------------------------------------------------------------------------------
// View upload
//
// The texture and its store stay while the display keeps its size and format: the rows are
// converted into the same store and sent into the same GL texture (no new name, no new GL
// storage), which is what keeps playback fast.

void CMainScreen::UploadToView() {
  int32_t ok = 0;
  {
    PlatformLockHold hold(m_sidePanel.ChainLock());
    CFgTexture* texture = &m_view.m_texture;
    const int64_t oldWidth = m_view.PictureWidth(), oldHeight = m_view.PictureHeight();
    ok = UploadImageToTexture(texture, &m_display, 1);
    m_view.m_textureChanged = 0;
    if (oldWidth != m_view.PictureWidth() || oldHeight != m_view.PictureHeight() ||
        !m_view.m_hasPicture)
      m_view.Layout();
    if (texture->m_store && !texture->m_hasGlName && m_view.m_owner && m_view.m_owner->m_screen)
      texture->AttachToScreen(m_view.m_owner->m_screen);
  }
  if (ok) {
    Redraw();
    ++m_viewShows;
  }
}

// ---------------------------------------------------------------------------------------
// Range and seeking

int32_t CMainScreen::OnSceneChanged(uint64_t position) {
  m_currentScene = m_rangeActive ? m_rangeFirst + position * m_rangeStep : position;
  const uint64_t shows = m_viewShows.load();
  LoadCurrentScene(0);
  return m_viewShows.load() != shows ? 1 : 0;
}

void CMainScreen::SetPlayRange(uint64_t first, uint64_t last, uint64_t step) {
  // The dialog checks the range; one that could reach past the source is refused here too.
  uint64_t frames = 1;
  if (m_media) frames = m_media->info.frameCount > kMaxScenes ? kMaxScenes : m_media->info.frameCount;
  else if (m_source.Pixels()) frames = 2;
  if (first < 1 || last < first || step < 1 || last > frames) return;
  if (first == 1 && step == 1 && last == frames) {
    m_rangeActive = 0;
    m_rangeFirst = m_rangeLast = m_rangeStep = 0;
  } else {
    m_rangeActive = 1;
    m_rangeFirst = first - 1;
    m_rangeLast = last - 1;
    m_rangeStep = step;
  }
  m_videoPanel.m_count = (last - first) / step + 1;
  m_videoPanel.m_position = 0;
  m_videoPanel.UpdateThumb();
  if (m_videoPanel.m_listener) m_videoPanel.m_listener->OnSceneChanged(0);
  // The unturned size: SetChainImageInfo exchanges width and height itself.
  SetChainImageInfo(g_recordedSource.width, g_recordedSource.height,
                    g_recordedSource.bytesPerPixel, m_videoPanel.m_count);
  LoadCurrentScene(1);
}

int32_t CMainScreen::SeekScene(uint64_t position) {
  if (!m_media) {
    if (position != 0) return 0;
    // A still's frame is its only scene: tools that seek fill their capture from it.
    Reprocess(0);
    return 1;
  }
  if (position >= m_videoPanel.m_count) return 0;
  m_videoPanel.m_position = position;
  m_videoPanel.UpdateThumb();
  OnSceneChanged(position);
  Redraw();
  return 1;
}

// ---------------------------------------------------------------------------------------
// MP4 indexing progress

namespace {

struct IndexProgress {
  CFgUIProgressBox box;
  wchar_t text[64] = {};  // shown by the box while it is open
};

// Made on first use and kept for the life of the process.
IndexProgress* g_indexProgress = nullptr;

}  // namespace

CFgUIProgressBox* MediaOpenProgressBox() { return g_indexProgress ? &g_indexProgress->box : nullptr; }

int MediaOpenProgress(uint64_t position, uint64_t count, uint64_t phase, void* context) {
  CMainScreen* screen = static_cast<CMainScreen*>(context);
  if (!g_indexProgress) g_indexProgress = new (std::nothrow) IndexProgress;
  IndexProgress* p = g_indexProgress;
  if (!p) return 1;
  switch (phase) {
    case 1:
      p->text[0] = 0;
      p->box.Open(count, 0, L"check mp4 frames", p->text, screen);
      p->box.m_bar.m_text = p->text;
      return 1;
    case 0: {
      FgPumpMessages();
      FgPumpMessages();
      // The quit message ends the indexing too: the program is closing.
      if (p->box.m_abort || QuitRequested) return 0;
      swprintf(p->text, sizeof p->text / sizeof p->text[0], L"pass %llu/%llu",
               static_cast<unsigned long long>(position), static_cast<unsigned long long>(count));
      if (position <= p->box.m_bar.m_maximum)
        p->box.m_bar.m_current = int32_t(position < uint64_t(INT32_MAX) ? position : INT32_MAX);
      p->box.Redraw();
      return 1;
    }
    case 2:
      p->box.Destroy();
      return 1;
    default:
      return 1;
  }
}

// imgio.cpp - image open and save operations with their questions and messages.
// Inside: texts - extensions - pictures and media files - single image files -
//         numbered names - series writers - the series save question
#include "media/imgio/imgio.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "core/text.h"
#include "media/media_file.h"
#include "toolkit/filesel.h"
#include "toolkit/msgbox.h"

namespace {

// ---------------------------------------------------------------------------------------
// Texts

struct Text {
  const wchar_t* jp;
  const wchar_t* en;
};

constexpr Text kCaptionConfirm = {L"確認", L"confirmation"};
constexpr Text kCaptionError = {L"エラー", L"error"};
constexpr Text kLoadFailed = {L"ロードできませんでした", L"loading failed"};
constexpr Text kSaved = {L"セーブしました", L"saved"};
constexpr Text kSaveFailed = {L"セーブできませんでした", L"saving failed"};
constexpr Text kNoPath = {L"ファイルパスがありません", L"here is no file path"};
constexpr Text kNoImage = {L"画像がありません", L"there is no image"};
constexpr Text kOverwrite = {L"上書き保存しますか？", L"Do you want to overwrite it?"};
constexpr Text kUnsupported = {L"対応していない形式です", L"Unsupported format"};
constexpr Text kDepthLoss = {
    L"ファイルで扱えるbit数が不足しています\n保存時に劣化しますがよろしいですか？",
    L"The number of bits that can be handled by the file is insufficient.\n"
    L"It will deteriorate at the time of storage. Are you sure?"};

constexpr int32_t kBoxOkCancel = 0;
constexpr int32_t kBoxOk = 1;

bool IsJapanese(const wchar_t* language) { return language && wcscmp(language, L"jp") == 0; }
const wchar_t* Pick(const Text& t, const wchar_t* language) {
  return IsJapanese(language) ? t.jp : t.en;
}
void Tell(const Text& text, const Text& caption, const wchar_t* language, CFgScreen* parent) {
  FgMessageBox(Pick(text, language), Pick(caption, language), kBoxOk, parent);
}
// 1 when the user pressed "OK".
int AskOk(const wchar_t* text, const wchar_t* language, CFgScreen* parent) {
  return FgMessageBox(text, Pick(kCaptionConfirm, language), kBoxOkCancel, parent) == 1;
}

// ---------------------------------------------------------------------------------------
// Extensions

// The '.' that starts the file name's extension, or null.  Only the part after the last
// '/' counts ("/data.d/image" has none), and a name's first character is no extension's.
const wchar_t* FileExtensionDot(const wchar_t* path) {
  if (!path || !*path) return nullptr;
  const wchar_t* slash = wcsrchr(path, L'/');
  const wchar_t* name = slash ? slash + 1 : path;
  const wchar_t* dot = wcsrchr(name, L'.');
  if (!dot || dot == name) return nullptr;
  return dot;
}

// The extension lowered into out (16 units) when it has at most `limit` characters.
bool LowerExtension(const wchar_t* ext, wchar_t* out, size_t limit) {
  size_t n = 0;
  for (; ext[n]; ++n) {
    if (n >= limit) return false;
    const wchar_t c = ext[n];
    out[n] = (c >= L'A' && c <= L'Z') ? wchar_t(c - L'A' + L'a') : c;
  }
  out[n] = 0;
  return true;
}

// At most 15 characters are looked at: a longer extension matches nothing.
int ExtensionIs(const wchar_t* extension, const wchar_t* a, const wchar_t* b) {
  if (!extension) return 0;
  wchar_t lower[16];
  size_t n = 0;
  for (; extension[n] && n < 15; ++n) {
    const wchar_t c = extension[n];
    lower[n] = (c >= L'A' && c <= L'Z') ? wchar_t(c - L'A' + L'a') : c;
  }
  lower[n] = 0;
  return wcscmp(lower, a) == 0 || wcscmp(lower, b) == 0;
}

// Target formats by picture format 1..9, for "png", "tif"/"tiff" and every other extension.
struct FitRow {
  int32_t png, tif, other;
};
constexpr FitRow kFit[ImgFormatCount] = {
    {0, 0, 0},
    {ImgFormatGray8, ImgFormatGray8, ImgFormatGray8},     // Gray8
    {ImgFormatGray16, ImgFormatGray16, ImgFormatGray8},   // Gray16
    {ImgFormatGray16, ImgFormatGray32, ImgFormatGray8},   // Gray32
    {ImgFormatRgb24, ImgFormatRgb24, ImgFormatRgb24},     // Rgb24
    {ImgFormatRgb48, ImgFormatRgb48, ImgFormatRgb24},     // Rgb48
    {ImgFormatRgb48, ImgFormatRgb96, ImgFormatRgb24},     // Rgb96
    {ImgFormatRgb48, ImgFormatRgb96, ImgFormatRgb24},     // Xyz
    {ImgFormatRgb48, ImgFormatRgb48, ImgFormatRgb24},     // Hsv48
    {ImgFormatRgb24, ImgFormatRgb24, ImgFormatRgb24},     // Cmyk32
};
// Which entries of kFit lose depth: the source's bits per sample exceed the target's.
constexpr bool kLost[ImgFormatCount][3] = {
    {false, false, false}, {false, false, false}, {false, false, true},
    {true, false, true},   {false, false, false}, {false, false, true},
    {true, false, true},   {true, false, true},   {false, false, true},
    {false, false, false},
};

// Picture format for a media file's bytes per pixel, 0 for none.
int32_t FormatForBytesPerPixel(uint64_t bytesPerPixel) {
  switch (bytesPerPixel) {
    case 1: return ImgFormatGray8;
    case 2: return ImgFormatGray16;
    case 3: return ImgFormatRgb24;
    case 4: return ImgFormatGray32;
    case 6: return ImgFormatRgb48;
    case 12: return ImgFormatRgb96;
    default: return 0;
  }
}

bool ValidFormat(int32_t format) { return format >= 1 && format < ImgFormatCount; }

wchar_t g_openExtensions[256];
wchar_t g_saveExtensions[256];

// ---------------------------------------------------------------------------------------
// Numbered names

// Prints the name of number n into out (kMoviePatternUnits); false when it does not fit.
bool NumberedName(const wchar_t* pattern, uint64_t n, wchar_t* out) {
  const int written = swprintf(out, kMoviePatternUnits, pattern, static_cast<unsigned long long>(n));
  return written >= 0 && uint64_t(written) < kMoviePatternUnits;
}

// The first of the files number start .. start + count - 1 that exists, into out.
bool FirstExistingNumbered(const wchar_t* pattern, uint64_t start, uint64_t count, wchar_t* out) {
  for (uint64_t i = 0; i < count; ++i) {
    if (start + i < start) break;  // past the largest number: those files cannot be written
    if (NumberedName(pattern, start + i, out) && MediaFileExists(out)) return true;
  }
  return false;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Extension lists

const wchar_t* ImageOpenExtensions() {
  wcscpy(g_openExtensions, L"jpg jpeg tif tiff png bmp ");
  return g_openExtensions;
}

const wchar_t* MediaSaveExtensions() {
  wcscpy(g_saveExtensions, L"avi mp4 tif tiff jpg jpeg png bmp ");
  return g_saveExtensions;
}

int IsMovieExtension(const wchar_t* extension) { return ExtensionIs(extension, L"avi", L"mp4"); }
int IsMultiPageExtension(const wchar_t* extension) {
  return ExtensionIs(extension, L"tif", L"tiff");
}

// ---------------------------------------------------------------------------------------
// Pictures and media files

int LoadImageFromMedia(CImgBuff* picture, MediaFile* file, uint64_t frame) {
  if (!picture || !file) return 0;
  const MediaInfo& info = file->info;
  if (info.kind != MediaKindStill && info.kind != MediaKindVideo) return 0;
  const int32_t format = FormatForBytesPerPixel(info.bytesPerPixel);
  if (!format || info.width > INT32_MAX || info.height > INT32_MAX) return 0;
  const int32_t width = int32_t(info.width), height = int32_t(info.height);
  // Playback reads every frame into the same picture: the read overwrites every byte, so
  // the block is kept as it is rather than cleared first.
  C_ImgBuff* r = picture->record;
  if (!(r->pixels && r->format == format && r->width == width && r->height == height)) {
    if (!picture->Allocate(width, height, format)) return 0;
  }
  if (MediaReadFrame(file, 0, frame, 1, picture->Pixels())) return 1;
  r->Clear();  // no half-read frame, and nothing of the one before
  return 0;
}

int SaveImageToMedia(const CImgBuff* picture, MediaFile* file) {
  if (!picture || !file) return 0;
  const MediaInfo& info = file->info;
  if (info.kind != MediaKindStill && info.kind != MediaKindVideo) return 0;
  if (!FormatForBytesPerPixel(info.bytesPerPixel)) return 0;
  const int32_t format = picture->Format();
  if (!ValidFormat(format) || !picture->Pixels()) return 0;
  if (info.width != uint64_t(picture->Width()) || info.height != uint64_t(picture->Height()) ||
      info.bytesPerPixel != uint64_t(ImgBytesPerPixel[format]))
    return 0;
  return MediaWriteFrame(file, 0, 1, picture->Pixels());
}

int DescribeImageFormat(const CImgBuff* picture, MediaInfo* info) {
  if (!info) return 0;
  *info = MediaInfo{};
  if (!picture) return 0;
  const int32_t format = picture->Format();
  if (!ValidFormat(format) || picture->Width() < 1 || picture->Height() < 1) return 0;
  info->kind = MediaKindStill;
  info->planes = 1;
  info->frameCount = 1;
  info->bytesPerPixel = uint64_t(ImgBytesPerPixel[format]);
  info->width = uint64_t(picture->Width());
  info->height = uint64_t(picture->Height());
  info->frameIntervalUs = 0;
  return 1;
}

int32_t FitFormatForExtension(const wchar_t* path, int32_t* outDepthLost, const int32_t* format) {
  const wchar_t* dot = FileExtensionDot(path);
  if (!dot) return 0;
  wchar_t ext[16];
  if (!LowerExtension(dot + 1, ext, 4)) return 0;
  if (outDepthLost) *outDepthLost = 0;
  if (!format || !ValidFormat(*format)) return 0;
  int column = 2;
  if (wcscmp(ext, L"png") == 0) column = 0;
  else if (wcscmp(ext, L"tif") == 0 || wcscmp(ext, L"tiff") == 0) column = 1;
  const FitRow& row = kFit[*format];
  if (outDepthLost) *outDepthLost = kLost[*format][column] ? 1 : 0;
  return column == 0 ? row.png : column == 1 ? row.tif : row.other;
}

// ---------------------------------------------------------------------------------------
// Single image files

int LoadImageFile(CImgBuff* picture, const wchar_t* path, const wchar_t* language, CFgScreen* parent) {
  if (!path || !*path) return 0;
  int ok = 0;
  if (MediaFile* file = MediaOpen(path, nullptr, nullptr)) {
    ok = LoadImageFromMedia(picture, file, 0);
    MediaClose(file);
  }
  if (!ok && language) Tell(kLoadFailed, kCaptionError, language, parent);
  return ok;
}

namespace {

// SaveImageFile without its message.
int WriteImageFile(const CImgBuff* picture, const wchar_t* path) {
  if (!FileExtensionDot(path)) return 0;
  const int32_t format = picture->Format();
  int32_t lost = 0;
  const int32_t target = FitFormatForExtension(path, &lost, &format);
  if (!target) return 0;
  CImgBuff converted;
  const CImgBuff* toWrite = picture;
  if (target != format) {
    converted.CopyFrom(*picture);
    if (!converted.Pixels() || !converted.record->ConvertTo(target)) return 0;
    toWrite = &converted;
  }
  MediaInfo info;
  if (!DescribeImageFormat(toWrite, &info)) return 0;
  MediaFile* file = MediaCreate(path, &info, nullptr);
  if (!file) return 0;
  if (SaveImageToMedia(toWrite, file)) return MediaClose(file);  // BMP writes at close
  MediaClose(file);
  return 0;
}

}  // namespace

int SaveImageFile(const CImgBuff* picture, const wchar_t* path, const wchar_t* language,
                  CFgScreen* parent) {
  if (!path || !*path || !picture || !picture->Pixels() || !ValidFormat(picture->Format()))
    return 0;
  const int ok = WriteImageFile(picture, path);
  if (language) {
    if (ok) Tell(kSaved, kCaptionConfirm, language, parent);
    else Tell(kSaveFailed, kCaptionError, language, parent);
  }
  return ok;
}

int ConfirmImageSave(const CImgBuff* picture, const wchar_t* path, const wchar_t* language,
                     CFgScreen* parent) {
  if (!path || !*path) {
    Tell(kNoPath, kCaptionConfirm, language, parent);
    return 0;
  }
  if (!picture || !picture->Pixels()) {
    Tell(kNoImage, kCaptionConfirm, language, parent);
    return 0;
  }
  const int32_t format = picture->Format();
  if (!ValidFormat(format)) return 0;
  if (MediaFileExists(path) && !AskOk(Pick(kOverwrite, language), language, parent)) return -1;
  if (!FileExtensionDot(path)) {
    Tell(kUnsupported, kCaptionConfirm, language, parent);
    return 0;
  }
  int32_t lost = 0;
  const int32_t target = FitFormatForExtension(path, &lost, &format);
  if (target == format || !lost) return 1;
  return AskOk(Pick(kDepthLoss, language), language, parent) ? 1 : -1;
}

// ---------------------------------------------------------------------------------------
// Numbered names

int MakeSequencePattern(const wchar_t* path, wchar_t* outPattern, uint64_t patternUnits,
                        uint64_t* outStart) {
  if (!path || !outPattern || patternUnits == 0) return 0;
  // Only '/' separates; a file in the root folder ("/take.png") has the folder "/".
  const wchar_t* slash = wcsrchr(path, L'/');
  if (!slash) return 0;
  const size_t folderLength = size_t(slash - path) + 1;
  const wchar_t* name = slash + 1;
  const wchar_t* dot = wcsrchr(name, L'.');
  if (!dot || dot == name || dot[1] == 0) return 0;
  const size_t stemLength = size_t(dot - name);
  size_t run = 0;
  while (run < stemLength && name[stemLength - 1 - run] >= L'0' && name[stemLength - 1 - run] <= L'9')
    ++run;
  const size_t prefixLength = stemLength - run;

  uint64_t start = 0;
  for (size_t i = prefixLength; i < stemLength; ++i) {
    const uint64_t digit = uint64_t(name[i] - L'0');
    if (start > (UINT64_MAX - digit) / 10) {
      start = 0;  // beyond 64 bits
      break;
    }
    start = start * 10 + digit;
  }

  // '%' of the folder or the name is a plain character in the printed name.
  std::wstring pattern;
  auto append = [&pattern](const wchar_t* text, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      if (text[i] == L'%') pattern += L'%';
      pattern += text[i];
    }
  };
  append(path, folderLength);
  append(name, prefixLength);
  if (run > 0 && name[prefixLength] == L'0') pattern += L"%0" + std::to_wstring(run) + L"llu";
  else pattern += L"%llu";
  append(dot, wcslen(dot));
  // Never cut: a cut pattern would name other files than the ones asked for.
  if (pattern.size() + 1 > patternUnits || pattern.size() + 1 > kMoviePatternUnits) return 0;
  wmemcpy(outPattern, pattern.c_str(), pattern.size() + 1);
  if (outStart) *outStart = start;
  return 1;
}

// ---------------------------------------------------------------------------------------
// Series writers

namespace {

MovieWriter* NewWriter(const CImgBuff* picture, uint64_t frameCount, uint64_t intervalUs) {
  if (!picture) return nullptr;
  const int32_t format = picture->Format();
  if (!ValidFormat(format) || picture->Width() < 1 || picture->Height() < 1) return nullptr;
  MovieWriter* w = static_cast<MovieWriter*>(calloc(1, sizeof(MovieWriter)));
  if (!w) return nullptr;
  w->info = MediaInfo{0, 1, frameCount, uint64_t(ImgBytesPerPixel[format]),
                      uint64_t(picture->Width()), uint64_t(picture->Height()), intervalUs};
  return w;
}

}  // namespace

MovieWriter* CreateMovieWriter(const CImgBuff* picture, uint64_t frameCount, const wchar_t* path,
                               uint64_t intervalUs, const MediaWriteOptions* options) {
  if (!path || !*path) return nullptr;
  const wchar_t* dot = FileExtensionDot(path);
  if (!dot || !IsMovieExtension(dot + 1)) intervalUs = 0;
  else if (intervalUs == 0) intervalUs = 33333;
  MovieWriter* w = NewWriter(picture, frameCount, intervalUs);
  if (!w) return nullptr;
  w->mediaFile = MediaCreate(path, &w->info, options);
  if (!w->mediaFile) {
    free(w);
    return nullptr;
  }
  return w;
}

MovieWriter* CreateNumberedFileWriter(const CImgBuff* picture, uint64_t frameCount,
                                      const wchar_t* pattern, uint64_t start) {
  // A pattern that does not fit is refused, never cut.
  if (!pattern || wcslen(pattern) >= kMoviePatternUnits) return nullptr;
  MovieWriter* w = NewWriter(picture, frameCount, 0);
  if (!w) return nullptr;
  wcscpy(w->pattern, pattern);
  w->startNumber = w->nextNumber = start;
  return w;
}

int MovieWriterWriteFrame(MovieWriter* writer, const CImgBuff* picture) {
  if (!writer || !picture) return 0;
  const int32_t format = picture->Format();
  if (!ValidFormat(format) || !picture->Pixels()) return 0;
  if (uint64_t(picture->Width()) != writer->info.width ||
      uint64_t(picture->Height()) != writer->info.height ||
      uint64_t(ImgBytesPerPixel[format]) != writer->info.bytesPerPixel)
    return 0;
  if (writer->mediaFile) return MediaWriteFrame(writer->mediaFile, 0, 1, picture->Pixels());
  if (!writer->pattern[0]) return 0;
  wchar_t name[kMoviePatternUnits];
  const bool named = NumberedName(writer->pattern, writer->nextNumber, name);
  ++writer->nextNumber;  // a failed save still uses up its number
  if (!named) return 0;
  return SaveImageFile(picture, name, nullptr, nullptr);
}

int CloseMovieWriter(MovieWriter* writer) {
  if (!writer) return 0;
  const int ok = writer->mediaFile ? MediaClose(writer->mediaFile) : 1;
  free(writer);
  return ok;
}

// ---------------------------------------------------------------------------------------
// The series save question

MovieWriter* SaveMovieOrSequence(const CImgBuff* picture, uint64_t frameCount,
                                 const wchar_t* language, const void* /*reserved*/,
                                 const wchar_t* title, const MediaWriteOptions* options,
                                 CFgScreen* parent, int32_t* outCancelled) {
  int32_t cancelledSink = 0;
  int32_t& cancelled = outCancelled ? *outCancelled : cancelledSink;
  cancelled = 0;
  wchar_t path[kMoviePatternUnits] = {};
  FileSelectOptions chooser;
  chooser.title = title;
  chooser.startPath = nullptr;
  chooser.extensions = MediaSaveExtensions();
  if (!FgSelectFile(path, kMoviePatternUnits, &chooser, parent)) {
    cancelled = 1;
    return nullptr;
  }
  const wchar_t* dot = FileExtensionDot(path);
  const wchar_t* extension = dot ? dot + 1 : L"";

  if (IsMovieExtension(extension) || IsMultiPageExtension(extension)) {
    if (path[0] && MediaFileExists(path) && !AskOk(Pick(kOverwrite, language), language, parent)) {
      cancelled = 1;
      return nullptr;
    }
    return CreateMovieWriter(picture, frameCount, path, IsMovieExtension(extension) ? 33333 : 0,
                             options);
  }

  wchar_t pattern[kMoviePatternUnits];
  uint64_t start = 0;
  if (!MakeSequencePattern(path, pattern, kMoviePatternUnits, &start)) return nullptr;
  // The files the series will write are the ones to ask about, not the typed name: asking
  // about "take.png" alone let "take0.png" ... be overwritten unasked.
  wchar_t existing[kMoviePatternUnits];
  if (FirstExistingNumbered(pattern, start, frameCount, existing)) {
    std::wstring question = existing;
    question += L"\n";
    question += Pick(kOverwrite, language);
    if (!AskOk(question.c_str(), language, parent)) {
      cancelled = 1;
      return nullptr;
    }
  }
  return CreateNumberedFileWriter(picture, frameCount, pattern, start);
}

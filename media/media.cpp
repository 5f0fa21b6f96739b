// media.cpp - the media handle: chooses a format by extension, hands every open, frame and
// close to that format's reader or writer, and runs numbered sequences itself (each frame
// one file, opened or created through the same operations).  Every file it writes goes to a
// temporary beside the target and replaces the target at close only when complete, so a
// failed, killed or full-disk save never costs the old file; the writers never see the
// target's name.
// Inside: frame rates - paths and extensions - still and video dispatch - numbered sequences -
//         public operations - close
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <initializer_list>

#include "core/text.h"
#include "media/media_file.h"

namespace {

// ---------------------------------------------------------------------------------------
// Paths and extensions

struct ExtensionEntry {
  const wchar_t* ext;
  uint64_t kind;
  uint64_t format;
};

constexpr ExtensionEntry kExtensions[] = {
    {L".png", MediaKindStill, MediaFormatPng},  {L".jpg", MediaKindStill, MediaFormatJpeg},
    {L".jpeg", MediaKindStill, MediaFormatJpeg}, {L".tif", MediaKindStill, MediaFormatTiff},
    {L".tiff", MediaKindStill, MediaFormatTiff}, {L".bmp", MediaKindStill, MediaFormatBmp},
    {L".dcm", MediaKindStill, MediaFormatDicom}, {L".mp4", MediaKindVideo, MediaFormatMp4},
    {L".avi", MediaKindVideo, MediaFormatAvi},
};

wchar_t* CopyWide(const wchar_t* text) {
  const size_t n = wcslen(text);
  wchar_t* copy = static_cast<wchar_t*>(calloc(n + 1, sizeof(wchar_t)));
  if (copy) wmemcpy(copy, text, n);
  return copy;
}

int IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

uint64_t DecimalDigits(uint64_t v) {
  uint64_t n = 1;
  while (v >= 10) {
    v /= 10;
    ++n;
  }
  return n;
}

// ---------------------------------------------------------------------------------------
// Still and video dispatch

int OpenStillImageForRead(MediaFile* file, const wchar_t* path) {
  char* ansi = WideToAnsiPath(path);
  if (!ansi) return 0;
  int ok = 0;
  switch (file->format) {
    case MediaFormatPng: ok = PngOpenRead(file, ansi); break;
    case MediaFormatJpeg: ok = JpegOpenRead(file, ansi); break;
    case MediaFormatTiff: ok = TiffOpenRead(file, ansi); break;
    case MediaFormatBmp: ok = BmpOpenRead(file, ansi); break;
    case MediaFormatDicom: ok = DicomOpenRead(file, ansi); break;
    default: break;
  }
  free(ansi);
  return ok;
}

int OpenStillImageForWrite(MediaFile* file) {
  if (file->info.planes != 1 || file->info.frameCount == 0 || file->info.frameIntervalUs != 0) return 0;
  const char* ansi = MediaWritePath(file);
  switch (file->format) {
    case MediaFormatPng: return PngOpenWrite(file, ansi);
    case MediaFormatJpeg: return JpegOpenWrite(file, ansi);
    case MediaFormatBmp: return BmpOpenWrite(file);  // the BMP writer opens its file at close
    case MediaFormatTiff:
      file->tiffWriter = TiffWriterOpen(ansi);
      return file->tiffWriter != nullptr;
    default: return 0;  // DICOM has no writer
  }
}

int OpenVideoForRead(MediaFile* file, const wchar_t* path, MediaProgressFn progress, void* context) {
  char* ansi = WideToAnsiPath(path);
  if (!ansi) return 0;
  int ok = 0;
  if (file->format == MediaFormatAvi) {
    AviFile* avi = AviReaderOpen(ansi);
    MediaInfo got{};
    if (avi && AviReaderGetInfo(avi, &got)) {
      file->aviReader = avi;
      file->info.planes = 1;
      file->info.frameCount = got.frameCount;
      file->info.width = got.width;
      file->info.height = got.height;
      file->info.frameIntervalUs = got.frameIntervalUs;
      file->info.bytesPerPixel = got.bytesPerPixel == 1 ? 1 : 3;
      ok = 1;
    } else if (avi) {
      AviWriterClose(avi);
    }
  } else if (file->format == MediaFormatMp4) {
    file->progress = progress;
    file->progressContext = context;
    ok = Mp4OpenRead(file, ansi, progress, context);
    file->progress = nullptr;
    file->progressContext = nullptr;
  }
  free(ansi);
  return ok;
}

int OpenVideoForWrite(MediaFile* file) {
  if (file->format == MediaFormatAvi) return AviOpenWrite(file, MediaWritePath(file));
  if (file->format == MediaFormatMp4) return Mp4OpenWrite(file, MediaWritePath(file));
  return 0;
}

int ReadSingleStill(MediaFile* file, uint64_t plane, uint64_t frame, uint64_t count, void* buffer) {
  switch (file->format) {
    case MediaFormatPng: return PngReadImage(file, plane, frame, count, buffer);
    case MediaFormatJpeg: return JpegReadImage(file, plane, frame, count, buffer);
    case MediaFormatTiff: return TiffReadFrames(file, plane, frame, count, buffer);
    case MediaFormatBmp: return BmpReadImage(file, plane, frame, count, buffer);
    case MediaFormatDicom: return DicomReadFrames(file, plane, frame, count, buffer);
    default: return 0;
  }
}

int WriteSingleStill(MediaFile* file, uint64_t plane, uint64_t count, const void* buffer) {
  switch (file->format) {
    case MediaFormatPng: return PngWriteImage(file, plane, count, buffer);
    case MediaFormatJpeg: return JpegWriteImage(file, plane, count, buffer);
    case MediaFormatTiff: return TiffWritePage(file, plane, count, buffer);
    case MediaFormatBmp: return BmpWriteImage(file, plane, count, buffer);
    default: return 0;
  }
}

uint64_t FrameBytes(const MediaInfo& info) { return info.width * info.height * info.bytesPerPixel; }

int ValidBytesPerPixel(uint64_t bpp) { return bpp == 1 || bpp == 2 || bpp == 3 || bpp == 4 || bpp == 6 || bpp == 12; }

// ---------------------------------------------------------------------------------------
// Numbered sequences

// A name cut at its last '.' (never its first character) and at the run of digits that
// ends just before it: prefix, run, suffix.
struct NumberedName {
  const wchar_t* text;
  uint64_t prefixLength;  // the run starts here
  uint64_t runLength;
  const wchar_t* suffix;  // from the last '.'
  uint64_t value;
};

int SplitNumberedName(const wchar_t* name, NumberedName* out) {
  if (!name) return 0;
  const wchar_t* dot = wcsrchr(name, L'.');
  if (!dot || dot == name) return 0;
  const wchar_t* run = dot;
  while (run > name && IsDigit(run[-1])) --run;
  if (run == dot) return 0;
  uint64_t value = 0;
  for (const wchar_t* p = run; p < dot; ++p) {
    const uint64_t digit = uint64_t(*p - L'0');
    // A number that does not fit 64 bits could not be printed back into the same name.
    if (value > (UINT64_MAX - digit) / 10) return 0;
    value = value * 10 + digit;
  }
  out->text = name;
  out->prefixLength = uint64_t(run - name);
  out->runLength = uint64_t(dot - run);
  out->suffix = dot;
  out->value = value;
  return 1;
}

// Appends text to the pattern with every '%' doubled, so a '%' in a folder or file name
// stays literal text instead of becoming a conversion.
wchar_t* AppendLiteral(wchar_t* out, const wchar_t* text, uint64_t length) {
  for (uint64_t i = 0; i < length; ++i) {
    if (text[i] == L'%') *out++ = L'%';
    *out++ = text[i];
  }
  return out;
}

// prefix + conversion + suffix; the conversion is zero-padded to padWidth, or plain when 0.
wchar_t* BuildPattern(const NumberedName& n, uint64_t padWidth) {
  const uint64_t suffixLength = wcslen(n.suffix);
  // Doubling every '%' at most doubles the literal parts; the conversion needs < 32.
  const uint64_t capacity = 2 * (n.prefixLength + suffixLength) + 32;
  wchar_t* pattern = static_cast<wchar_t*>(calloc(capacity, sizeof(wchar_t)));
  if (!pattern) return nullptr;
  wchar_t* p = AppendLiteral(pattern, n.text, n.prefixLength);
  wchar_t conversion[32];
  if (padWidth) swprintf(conversion, 32, L"%%0%llullu", static_cast<unsigned long long>(padWidth));
  else swprintf(conversion, 32, L"%%llu");
  const uint64_t cl = wcslen(conversion);
  wmemcpy(p, conversion, cl);
  p += cl;
  AppendLiteral(p, n.suffix, suffixLength);
  return pattern;
}

// Prints frame number `number` into the handle's name buffer; 0 when it does not fit.
int FormatSequenceName(MediaFile* file, uint64_t number) {
  const int written = swprintf(file->seqNameBuffer, file->seqNameLength + 1, file->seqPattern,
                               static_cast<unsigned long long>(number));
  return written > 0 && uint64_t(written) <= file->seqNameLength;
}

int SetSequenceNames(MediaFile* file, const NumberedName& n, uint64_t padWidth, uint64_t nameLength) {
  file->seqPattern = BuildPattern(n, padWidth);
  file->seqNameBuffer = static_cast<wchar_t*>(calloc(nameLength + 1, sizeof(wchar_t)));
  file->seqNameLength = nameLength;
  return file->seqPattern && file->seqNameBuffer;
}

// The end of a write handle's save, after its writer closed the file: the temporary
// replaces the target only when the writer finished it and no frame write failed; otherwise
// it is removed and the old file stays.
int FinishSave(MediaFile* file, int closedOk) {
  if (file->mode != MediaModeWrite) return closedOk;
  if (closedOk && !file->writeFailed) return SafeFileCommitClosed(&file->save);
  SafeFileAbort(&file->save);
  return 0;
}

void FreeHandle(MediaFile* file) {
  SafeFileAbort(&file->save);  // a handle freed before its close leaves no temporary
  free(file->seqPattern);
  free(file->seqNameBuffer);
  free(file->widePath);
  free(file->ansiPath);
  free(file);
}

int ReadSequenceFrame(MediaFile* file, uint64_t frame, uint8_t* buffer) {
  const uint64_t number = file->seqFirst + frame;
  if (frame > file->seqLast - file->seqFirst || !FormatSequenceName(file, number)) return 0;
  MediaFile* one = MediaOpen(file->seqNameBuffer, nullptr, nullptr);
  if (!one) return 0;
  int ok = one->info.kind == MediaKindStill && one->info.frameCount <= 1 && one->info.width == file->info.width &&
           one->info.height == file->info.height && one->info.bytesPerPixel == file->info.bytesPerPixel;
  if (ok) ok = MediaReadFrame(one, 0, 0, 0, buffer);
  MediaClose(one);
  return ok;
}

MediaFile* CreateForWrite(const wchar_t* path, const MediaInfo* info, const MediaWriteOptions* options, int sweep);

int WriteSequenceFrame(MediaFile* file, const uint8_t* buffer) {
  const uint64_t number = file->seqFirst + file->seqWriteCounter;
  if (file->seqWriteCounter > file->seqLast - file->seqFirst || !FormatSequenceName(file, number)) return 0;
  MediaInfo one = file->info;
  one.frameCount = 1;
  // The folder is swept of stale temporaries at the first file only: one scan per file of a
  // long sequence would cost the square of its length.
  MediaFile* out = CreateForWrite(file->seqNameBuffer, &one, &file->options, file->seqWriteCounter == 0);
  if (!out) return 0;
  const int wrote = MediaWriteFrame(out, 0, 0, buffer);
  // The close counts too: some writers put their file on disk only there.
  const int closed = MediaClose(out);
  if (!wrote || !closed) return 0;
  ++file->seqWriteCounter;
  return 1;
}

int ReadStillImage(MediaFile* file, uint64_t plane, uint64_t frame, uint64_t count, void* buffer) {
  if (!file->seqPattern) return file->mode == MediaModeRead ? ReadSingleStill(file, plane, frame, count, buffer) : 0;
  if (file->mode != MediaModeSeqRead) return 0;
  uint8_t* out = static_cast<uint8_t*>(buffer);
  for (uint64_t i = 0; i < count; ++i, out += FrameBytes(file->info))
    if (!ReadSequenceFrame(file, frame + i, out)) return 0;
  return 1;
}

int WriteStillImage(MediaFile* file, uint64_t plane, uint64_t count, const void* buffer) {
  if (!file->seqPattern) return file->mode == MediaModeWrite ? WriteSingleStill(file, plane, count, buffer) : 0;
  if (file->mode != MediaModeSeqWrite) return 0;
  const uint8_t* in = static_cast<const uint8_t*>(buffer);
  for (uint64_t i = 0; i < count; ++i, in += FrameBytes(file->info))
    if (!WriteSequenceFrame(file, in)) return 0;
  return 1;
}

MediaWriteOptions DefaultOptions() {
  MediaWriteOptions o{};
  o.jpegQuality = 75;
  return o;
}

MediaFile* CreateForWrite(const wchar_t* path, const MediaInfo* info, const MediaWriteOptions* options, int sweep) {
  if (!path || !*path || !info) return nullptr;
  const uint64_t length = wcslen(path);
  if (length < 4) return nullptr;
  uint64_t format = 0;
  const uint64_t kind = MediaFormatFromExtension(path, &format, length);
  if (kind == MediaKindNone) return nullptr;
  if (info->width == 0 || info->height == 0 || info->bytesPerPixel == 0) return nullptr;
  if (kind == MediaKindVideo && (info->planes == 0 || info->frameIntervalUs == 0)) return nullptr;
  MediaFile* file = static_cast<MediaFile*>(calloc(1, sizeof(MediaFile)));
  if (!file) return nullptr;
  file->ansiPath = WideToAnsiPath(path);
  file->widePath = CopyWide(path);
  file->info = *info;
  file->info.kind = kind;
  file->format = format;
  file->mode = MediaModeWrite;
  file->options = options ? *options : DefaultOptions();
  if (file->options.jpegQuality == 0) file->options.jpegQuality = 75;
  int ok = file->ansiPath && file->widePath;
  // DICOM has no writer: refused before any temporary is made.
  if (ok) ok = !(kind == MediaKindStill && format == MediaFormatDicom);
  if (ok) ok = SafeFileReserve(&file->save, file->ansiPath, sweep);
  if (ok) ok = kind == MediaKindStill ? OpenStillImageForWrite(file) : OpenVideoForWrite(file);
  if (!ok) {
    FreeHandle(file);  // removes the temporary the writer may have opened
    return nullptr;
  }
  return file;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Frame rates

uint64_t MediaIntervalOfRate(uint64_t scale, uint64_t rate) {
  if (scale == 0 || rate == 0) return 0;
  // Both are 32-bit fields of the files: the product fits in 64 bits.
  return (1000000 * scale + rate / 2) / rate;
}

void MediaRateOfInterval(uint32_t intervalUs, uint32_t* outScale, uint32_t* outRate) {
  for (uint32_t scale : {1u, 1001u}) {
    const uint64_t rate = (1000000ull * scale + intervalUs / 2) / intervalUs;
    if (rate > 0 && rate <= 0xFFFFFFFFu && MediaIntervalOfRate(scale, rate) == intervalUs) {
      *outScale = scale;
      *outRate = uint32_t(rate);
      return;
    }
  }
  *outScale = intervalUs;
  *outRate = 1000000;
}

// ---------------------------------------------------------------------------------------
// Paths and extensions (public)

const char* MediaWritePath(const MediaFile* file) {
  if (!file) return nullptr;
  // A record filled by hand around one format's writer (its own tests) names only ansiPath.
  return file->save.target ? SafeFileWritePath(&file->save) : file->ansiPath;
}

char* WideToAnsiPath(const wchar_t* path) {
  if (!path) return nullptr;
  // A character without a multibyte form would be replaced, naming another file: refuse.
  for (const wchar_t* p = path; *p; ++p) {
    const uint32_t c = uint32_t(*p);
    if (c >= 0xD800 && c <= 0xDBFF) {
      const uint32_t low = uint32_t(p[1]);
      if (low < 0xDC00 || low > 0xDFFF) return nullptr;
      ++p;  // a pair carried over from UTF-16 text
    } else if ((c >= 0xDC00 && c <= 0xDFFF) || c > 0x10FFFF) {
      return nullptr;
    }
  }
  return WideToAnsi(path);
}

int MediaFileExists(const wchar_t* path) {
  char* ansi = WideToAnsiPath(path);
  if (!ansi) return 0;
  FILE* fp = fopen(ansi, "rb");
  free(ansi);
  if (!fp) return 0;
  fclose(fp);
  return 1;
}

uint64_t MediaFormatFromExtension(const wchar_t* path, uint64_t* outFormat, uint64_t length) {
  if (!path || length < 4) return MediaKindNone;
  const wchar_t* ext = nullptr;
  if (path[length - 4] == L'.') ext = path + length - 4;
  else if (length >= 5 && path[length - 5] == L'.') ext = path + length - 5;
  if (!ext) return MediaKindNone;
  wchar_t lower[6] = {};
  const uint64_t n = uint64_t(path + length - ext);
  for (uint64_t i = 0; i < n; ++i) {
    const wchar_t c = ext[i];
    lower[i] = (c >= L'A' && c <= L'Z') ? wchar_t(c - L'A' + L'a') : c;
  }
  for (const ExtensionEntry& e : kExtensions) {
    if (wcscmp(lower, e.ext) == 0) {
      if (outFormat) *outFormat = e.format;
      return e.kind;
    }
  }
  return MediaKindNone;
}

// ---------------------------------------------------------------------------------------
// Open and create

MediaFile* MediaOpen(const wchar_t* path, MediaProgressFn progress, void* progressContext) {
  if (!path) return nullptr;
  const uint64_t length = wcslen(path);
  if (length < 4) return nullptr;
  uint64_t format = 0;
  const uint64_t kind = MediaFormatFromExtension(path, &format, length);
  if (kind == MediaKindNone) return nullptr;
  MediaFile* file = static_cast<MediaFile*>(calloc(1, sizeof(MediaFile)));
  if (!file) return nullptr;
  file->info.kind = kind;
  file->format = format;
  file->mode = MediaModeRead;
  const int ok = kind == MediaKindStill ? OpenStillImageForRead(file, path)
                                        : OpenVideoForRead(file, path, progress, progressContext);
  if (!ok) {
    FreeHandle(file);
    return nullptr;
  }
  return file;
}

MediaFile* MediaOpenSequence(const wchar_t* firstName, const wchar_t* lastName) {
  NumberedName first{}, last{};
  if (!SplitNumberedName(firstName, &first) || !SplitNumberedName(lastName, &last)) return nullptr;
  if (first.prefixLength != last.prefixLength || wmemcmp(first.text, last.text, first.prefixLength) != 0 ||
      wcscmp(first.suffix, last.suffix) != 0)
    return nullptr;
  const int sameLength = first.runLength == last.runLength;
  if (!sameLength && (first.text[first.prefixLength] == L'0' || last.text[last.prefixLength] == L'0')) return nullptr;
  const int reversed = first.value > last.value;
  if (reversed) first.value = last.value;  // the last file alone
  const uint64_t digits = sameLength ? first.runLength : (reversed ? first.runLength : last.runLength);
  const uint64_t nameLength = first.prefixLength + wcslen(first.suffix) + digits;

  MediaFile* file = static_cast<MediaFile*>(calloc(1, sizeof(MediaFile)));
  if (!file) return nullptr;
  file->info.kind = MediaKindStill;
  file->mode = MediaModeSeqRead;
  file->seqFirst = first.value;
  file->seqLast = last.value;
  if (!SetSequenceNames(file, first, sameLength ? first.runLength : 0, nameLength) ||
      !FormatSequenceName(file, file->seqFirst)) {
    FreeHandle(file);
    return nullptr;
  }
  // The first file gives the geometry; the others are looked at when their frame is read.
  MediaFile* one = MediaOpen(file->seqNameBuffer, nullptr, nullptr);
  if (!one || one->info.kind != MediaKindStill || one->info.frameCount > 1) {
    if (one) MediaClose(one);
    FreeHandle(file);
    return nullptr;
  }
  file->info = one->info;
  file->info.kind = MediaKindStill;
  file->info.frameCount = file->seqLast - file->seqFirst + 1;
  file->format = one->format;
  MediaClose(one);
  return file;
}

MediaFile* MediaCreate(const wchar_t* path, const MediaInfo* info, const MediaWriteOptions* options) {
  return CreateForWrite(path, info, options, 1);
}

MediaFile* MediaCreateSequence(const wchar_t* name, const MediaInfo* info, const MediaWriteOptions* options) {
  if (!name || !info || wcslen(name) < 4 || info->frameCount == 0) return nullptr;
  uint64_t format = 0;
  if (MediaFormatFromExtension(name, &format, wcslen(name)) != MediaKindStill) return nullptr;
  NumberedName n{};
  if (!SplitNumberedName(name, &n)) return nullptr;
  if (info->frameCount - 1 > UINT64_MAX - n.value) return nullptr;  // the last number must exist
  const uint64_t lastNumber = n.value + info->frameCount - 1;
  const int padded = n.text[n.prefixLength] == L'0';
  if (padded && DecimalDigits(lastNumber) > n.runLength) return nullptr;
  const uint64_t digits = padded ? n.runLength : DecimalDigits(lastNumber);
  const uint64_t nameLength = n.prefixLength + wcslen(n.suffix) + digits;

  MediaFile* file = static_cast<MediaFile*>(calloc(1, sizeof(MediaFile)));
  if (!file) return nullptr;
  file->info = *info;
  file->info.kind = MediaKindStill;
  file->format = format;
  file->mode = MediaModeSeqWrite;
  // Kept as given: a quality of 0 becomes 75 when each frame's file is created.
  file->options = options ? *options : DefaultOptions();
  file->seqFirst = n.value;
  file->seqLast = lastNumber;
  if (!SetSequenceNames(file, n, padded ? n.runLength : 0, nameLength)) {
    FreeHandle(file);
    return nullptr;
  }
  return file;
}

// ---------------------------------------------------------------------------------------
// Frames

int MediaReadFrame(MediaFile* file, uint64_t plane, uint64_t frame, uint64_t, void* buffer) {
  if (!file || file->info.kind == MediaKindNone || !buffer) return 0;
  const MediaInfo& info = file->info;
  if (plane >= info.planes || frame >= info.frameCount || info.width == 0 || info.height == 0 ||
      !ValidBytesPerPixel(info.bytesPerPixel))
    return 0;
  if (info.kind == MediaKindStill) return ReadStillImage(file, plane, frame, 1, buffer);
  if (info.frameIntervalUs == 0 || file->mode != MediaModeRead) return 0;
  if (file->format == MediaFormatAvi) return AviReadFrames(file, plane, frame, 1, buffer);
  if (file->format == MediaFormatMp4) return Mp4ReadFrames(file, plane, frame, 1, buffer);
  return 0;
}

int MediaWriteFrame(MediaFile* file, uint64_t plane, uint64_t, const void* buffer) {
  if (!file || file->info.kind == MediaKindNone || !buffer) return 0;
  const MediaInfo& info = file->info;
  if (plane >= info.planes || info.width == 0 || info.height == 0 || !ValidBytesPerPixel(info.bytesPerPixel))
    return 0;
  int ok = 0;
  if (info.kind == MediaKindStill) {
    ok = WriteStillImage(file, plane, 1, buffer);
  } else {
    if (info.frameIntervalUs == 0 || file->mode != MediaModeWrite) return 0;
    if (file->format == MediaFormatAvi) ok = AviWriteFrames(file, plane, 1, buffer);
    else if (file->format == MediaFormatMp4) ok = Mp4WriteFrames(file, plane, 1, buffer);
  }
  // A still or TIFF page lost part way leaves no picture or a torn page linked into the
  // file: that file must not replace the old one.  The video writers instead finish a
  // consistent file with the frames written (a frame refused for want of index room is no
  // fault of the file), and fail their own close after any failed write to the disk; a
  // caller that gives up on such a video says so with MediaDiscardOnClose.
  if (!ok && file->mode == MediaModeWrite && info.kind == MediaKindStill) file->writeFailed = 1;
  return ok;
}

// ---------------------------------------------------------------------------------------
// Close

int CloseStillImageCodec(MediaFile* file) {
  if (!file) return 0;
  int ok = 1;
  // Sequence handles hold no open file: every frame was opened and closed on its own.
  if (file->mode == MediaModeRead || file->mode == MediaModeWrite) {
    switch (file->format) {
      case MediaFormatPng: ok = PngClose(file); break;
      case MediaFormatJpeg: ok = JpegClose(file); break;
      case MediaFormatTiff: ok = TiffClose(file); break;
      case MediaFormatBmp: ok = BmpClose(file); break;
      case MediaFormatDicom:
        if (file->mode == MediaModeRead && file->dicom) {
          DicomFree(file->dicom);
          file->dicom = nullptr;
        }
        break;
      default: break;
    }
  }
  ok = FinishSave(file, ok);
  free(file->widePath);
  free(file->ansiPath);
  free(file->seqPattern);
  free(file->seqNameBuffer);
  file->widePath = nullptr;
  file->ansiPath = nullptr;
  file->seqPattern = nullptr;
  file->seqNameBuffer = nullptr;
  return ok;
}

int CloseVideoCodec(MediaFile* file) {
  if (!file) return 0;
  int ok = 0;
  if (file->format == MediaFormatAvi) {
    ok = 1;
    if (file->mode == MediaModeRead && file->aviReader) {
      AviWriterClose(file->aviReader);
      file->aviReader = nullptr;
    } else if (file->mode == MediaModeWrite && file->aviWriter) {
      // The writer's indexes and headers go out here; a failure means a broken file.
      ok = AviWriterClose(file->aviWriter);
      file->aviWriter = nullptr;
    }
  } else if (file->format == MediaFormatMp4) {
    ok = Mp4Close(file);
  }
  ok = FinishSave(file, ok);
  free(file->widePath);
  free(file->ansiPath);
  file->widePath = nullptr;
  file->ansiPath = nullptr;
  return ok;
}

void MediaDiscardOnClose(MediaFile* file) {
  if (file && file->mode == MediaModeWrite) file->writeFailed = 1;
}

int MediaClose(MediaFile* file) {
  if (!file) return 0;
  int ok = 0;
  if (file->info.kind == MediaKindStill) ok = CloseStillImageCodec(file);
  else if (file->info.kind == MediaKindVideo) ok = CloseVideoCodec(file);
  FreeHandle(file);
  return ok;
}

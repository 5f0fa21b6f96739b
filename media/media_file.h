// media_file.h - the fields of MediaFile and the entry points of every format's reader
// and writer, as the dispatch in media.cpp calls them.  Each format keeps its state in
// its own slot; the state types are defined privately by the format's source file.
#pragma once
#include "media/media.h"
#include <cstdio>

#include "core/safefile.h"

struct DicomImage;
struct TiffReader;
struct TiffWriter;
struct BmpImage;
struct AviFile;
struct Mp4Reader;
struct Mp4Writer;
struct JpegState;
struct PngState;
struct jpeg_common_struct;

// The largest frame a reader accepts (width x height x bytes per pixel), checked at the
// header before any pixel memory is taken: a few bytes of a hostile file must not make the
// reader or its caller ask for gigabytes.
constexpr uint64_t MediaMaxFrameBytes = uint64_t(1) << 30;

// Video frame rates as the containers store them: a rate per scale.  The interval of a
// stored rate is 1000000 x scale / rate rounded to the nearest microsecond (30000/1001 is
// 33367 us); 0 when scale or rate is 0.
uint64_t MediaIntervalOfRate(uint64_t scale, uint64_t rate);
// The rate stored for an interval: the first of scale 1, scale 1001 (the NTSC family) and
// scale = interval at rate 1000000 whose interval comes back exactly.
void MediaRateOfInterval(uint32_t intervalUs, uint32_t* outScale, uint32_t* outRate);

struct MediaFile {
  MediaInfo info;  // first: callers read it right after opening
  uint64_t format;
  uint64_t mode;
  wchar_t* seqPattern;
  wchar_t* seqNameBuffer;
  uint64_t seqFirst;
  uint64_t seqLast;
  uint64_t seqNameLength;
  // One slot per reader and writer; empty unless that format is open in that mode.
  DicomImage* dicom;
  TiffReader* tiffReader;
  BmpImage* bmpRead;
  AviFile* aviReader;
  Mp4Reader* mp4Reader;
  JpegState* jpeg;
  PngState* png;
  BmpImage* bmpWrite;
  TiffWriter* tiffWriter;
  AviFile* aviWriter;
  Mp4Writer* mp4Writer;
  wchar_t* widePath;
  char* ansiPath;
  uint64_t seqWriteCounter;
  MediaWriteOptions options;
  MediaProgressFn progress;   // MP4 indexing only, during MediaOpen
  void* progressContext;
  // Write mode: the writer writes a temporary beside the target (save.temporary), renamed
  // over the target at close only when the file is complete; a killed or failed save
  // leaves the old file.  Empty when written in place (a device, or a folder where no
  // temporary can be made but the file itself may be written).
  SafeFile save;
  int writeFailed;  // a still frame or page failed, or the caller gave up: the close keeps
                    // the old file and reports 0
};

// The path a writer opens for writing (the temporary, or the target when written in place);
// writers never open ansiPath itself, unless the record was filled without MediaCreate.
const char* MediaWritePath(const MediaFile* file);

// PNG and JPEG (png.cpp, jpeg.cpp)
int PngOpenRead(MediaFile* file, const char* ansiPath);
int PngReadImage(MediaFile* file, uint64_t plane, uint64_t frame, uint64_t count, void* buffer);
int PngOpenWrite(MediaFile* file, const char* ansiPath);
int PngWriteImage(MediaFile* file, uint64_t plane, uint64_t count, const void* buffer);
int PngClose(MediaFile* file);
int JpegOpenRead(MediaFile* file, const char* ansiPath);
int JpegReadImage(MediaFile* file, uint64_t plane, uint64_t frame, uint64_t count, void* buffer);
int JpegOpenWrite(MediaFile* file, const char* ansiPath);
int JpegWriteImage(MediaFile* file, uint64_t plane, uint64_t count, const void* buffer);
int JpegClose(MediaFile* file);
// The same readers fed from an open stream (a file, or fmemopen for the fuzz targets); the
// stream is theirs from the call on and is closed on failure or at close.
int PngOpenReadStream(MediaFile* file, FILE* stream);
int JpegOpenReadStream(MediaFile* file, FILE* stream);
// The error exit of every libjpeg error manager (also the MJPG frame codec's): jumps to
// the recovery point whose jmp_buf address is in the object's client_data; with none
// there it prints "libjpeg error" to stderr and ends the process with a failure status.
void JpegErrorExit(jpeg_common_struct* common);

// TIFF (tiff_read.cpp, tiff_write.cpp)
int TiffOpenRead(MediaFile* file, const char* ansiPath);
int TiffReadFrames(MediaFile* file, uint64_t plane, uint64_t first, uint64_t count, void* buffer);
TiffWriter* TiffWriterOpen(const char* ansiPath);
int TiffWritePage(MediaFile* file, uint64_t plane, uint64_t count, const void* buffer);
int TiffClose(MediaFile* file);

// BMP (bmp.cpp)
int BmpOpenRead(MediaFile* file, const char* ansiPath);
int BmpReadImage(MediaFile* file, uint64_t plane, uint64_t frame, uint64_t count, void* buffer);
int BmpOpenWrite(MediaFile* file);
int BmpWriteImage(MediaFile* file, uint64_t plane, uint64_t count, const void* buffer);
int BmpClose(MediaFile* file);

// DICOM, read only (dicom.cpp)
int DicomOpenRead(MediaFile* file, const char* ansiPath);
int DicomReadFrames(MediaFile* file, uint64_t plane, uint64_t first, uint64_t count, void* buffer);
void DicomFree(DicomImage* image);

// AVI (avi_read.cpp, avi_write.cpp).  The media handle learns the reader's geometry through
// AviReaderGetInfo, since AviFile is private to the AVI sources.
AviFile* AviReaderOpen(const char* ansiPath);
int AviReaderGetInfo(const AviFile* avi, MediaInfo* outInfo);
int AviReadFrames(MediaFile* file, uint64_t plane, uint64_t first, uint64_t count, void* buffer);
int AviOpenWrite(MediaFile* file, const char* ansiPath);
int AviWriteFrames(MediaFile* file, uint64_t plane, uint64_t count, const void* buffer);
int AviWriterClose(AviFile* avi);

// MP4 (mp4_read.cpp, mp4_write.cpp, h264.cpp)
int Mp4OpenRead(MediaFile* file, const char* ansiPath, MediaProgressFn progress, void* context);
int Mp4ReadFrames(MediaFile* file, uint64_t plane, uint64_t first, uint64_t count, void* buffer);
int Mp4OpenWrite(MediaFile* file, const char* ansiPath);
int Mp4WriteFrames(MediaFile* file, uint64_t plane, uint64_t count, const void* buffer);
int Mp4Close(MediaFile* file);

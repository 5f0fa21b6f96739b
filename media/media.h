// media.h - one handle for still images, numbered sequences and videos, read or written
// one frame at a time.  Frames are plain byte blocks in the picture record's layout:
// rows without gaps, top row first, samples in machine byte order, colour as R, G, B.
//
//   MediaInfo          what a file holds (kind, frame count, size, bytes per pixel, interval)
//   MediaWriteOptions  codec settings for writers
//   MediaFile          one open file or sequence (see media_file.h for its fields)
//   MediaOpen ...      the free functions every caller uses
#pragma once
#include <cstdint>

enum MediaKind : uint64_t { MediaKindNone = 0, MediaKindStill = 1, MediaKindVideo = 2 };

// The same number names different formats for the two kinds.
enum MediaFormatCode : uint64_t {
  MediaFormatPng = 1, MediaFormatJpeg = 2, MediaFormatTiff = 3, MediaFormatBmp = 4, MediaFormatDicom = 5,
  MediaFormatMp4 = 1, MediaFormatAvi = 4,
};

enum MediaMode : uint64_t { MediaModeRead = 1, MediaModeWrite = 2, MediaModeSeqRead = 3, MediaModeSeqWrite = 4 };

struct MediaInfo {
  uint64_t kind;
  uint64_t planes;
  uint64_t frameCount;
  uint64_t bytesPerPixel;
  uint64_t width;
  uint64_t height;
  uint64_t frameIntervalUs;
};

struct MediaWriteOptions {
  uint32_t jpegQuality;     // 1..100; 0 means 75
  uint32_t aviCodec;        // 0 uncompressed, 1 MJPG, 2 PNG
  uint32_t reserved;
  uint32_t h264QualityPct;  // at most 101; 0 = use the bit rate
  uint32_t h264BitRate;     // bit/s
  uint32_t h264KeyInterval; // frames
};

// Progress of a long open (MP4 frame indexing): nonzero to go on, 0 cancels.
typedef int (*MediaProgressFn)(uint64_t position, uint64_t total, uint64_t phase, void* context);

struct MediaFile;

char* WideToAnsiPath(const wchar_t* path);
int MediaFileExists(const wchar_t* path);
uint64_t MediaFormatFromExtension(const wchar_t* path, uint64_t* outFormat, uint64_t length);

MediaFile* MediaOpen(const wchar_t* path, MediaProgressFn progress, void* progressContext);
MediaFile* MediaOpenSequence(const wchar_t* firstName, const wchar_t* lastName);
MediaFile* MediaCreate(const wchar_t* path, const MediaInfo* info, const MediaWriteOptions* options);
MediaFile* MediaCreateSequence(const wchar_t* name, const MediaInfo* info, const MediaWriteOptions* options);
int MediaReadFrame(MediaFile* file, uint64_t plane, uint64_t frame, uint64_t ignored, void* buffer);
int MediaWriteFrame(MediaFile* file, uint64_t plane, uint64_t ignored, const void* buffer);
int MediaClose(MediaFile* file);
// For a save that failed outside the handle (a frame that could not be made): the close of
// this write handle then keeps the old file, removes the temporary and reports 0.
// Nothing for other handles.
void MediaDiscardOnClose(MediaFile* file);
int CloseStillImageCodec(MediaFile* file);
int CloseVideoCodec(MediaFile* file);

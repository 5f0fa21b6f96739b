// imgio.h - image open and save operations: pictures joined with media files, with the
// user's questions and messages around them.  Used by the main screen, the filters that
// load or save images and the whole-video tools.  Messages are Japanese when the language
// text is exactly "jp", else English.  This is the one part of media/ that talks to the
// user, so it is a library of its own over the media handle and the toolkit.
//
//   MovieWriter             a series being written: a video or multi-page TIFF file, or
//                           numbered image files (pattern, first and next number)
//   LoadImageFromMedia ...  frame n of a media file into a picture, a picture as the next frame
//   FitFormatForExtension   the pixel format a file type can hold, and whether depth is lost
//   LoadImageFile ...       single image files, with a result message
//   ConfirmImageSave        the questions before a save (no path, no picture, overwrite, depth)
//   SaveMovieOrSequence     chooser, questions and the writer for a series of pictures
//   MakeSequencePattern     "frame0010.bmp" -> "frame%04llu.bmp" from 10
#pragma once

#include <cstdint>

#include "core/imgbuff.h"
#include "media/media.h"

class CFgScreen;

// Pattern and path buffers, terminator included: at most 1023 characters.
constexpr uint64_t kMoviePatternUnits = 1024;

struct MovieWriter {
  MediaFile* mediaFile;   // video or multi-page TIFF being written; null for numbered files
  MediaInfo info;         // kind 0, planes 1, frame count, bytes per pixel, size, interval
  // Numbered files: a wide printf pattern with one unsigned 64-bit conversion (%llu or
  // %0Nllu); a '%' of the chosen name is doubled.  Empty with a mediaFile.
  wchar_t pattern[kMoviePatternUnits];
  uint64_t startNumber;
  uint64_t nextNumber;
};

// Frame `frame` of a still or video file into picture (plane 0).  The picture takes the
// file's size and format (kept as it is when they match: the read overwrites every byte);
// 0 for no file, another kind, a bytes-per-pixel value without a picture format or no
// memory.  A failed read leaves the picture allocated at the file's size and cleared.
int LoadImageFromMedia(CImgBuff* picture, MediaFile* file, uint64_t frame);
// The picture as the next frame (plane 0), bytes as they are; size and bytes per pixel must
// equal the file's.
int SaveImageToMedia(const CImgBuff* picture, MediaFile* file);
// A still-image MediaInfo for the picture; 0 with info all zero for an empty picture.
int DescribeImageFormat(const CImgBuff* picture, MediaInfo* info);
// The format in which a picture of *format is saved to path (its extension: "png" holds 16
// bits a sample, "tif"/"tiff" 16 and 32, every other 8); 0 for no usable extension or a
// format outside 1..9.  *outDepthLost: 0 once the extension is found, 1 when bits are lost.
int32_t FitFormatForExtension(const wchar_t* path, int32_t* outDepthLost, const int32_t* format);

// First frame of an image file; with a language a failure shows "loading failed".
int LoadImageFile(CImgBuff* picture, const wchar_t* path, const wchar_t* language, CFgScreen* parent);
// Fits the picture to the extension (on a temporary copy) and writes it; does not ask.
// With a language the result is shown ("saved" / "saving failed"), except for a missing
// path or picture.
int SaveImageFile(const CImgBuff* picture, const wchar_t* path, const wchar_t* language,
                  CFgScreen* parent);
// 1 go on, 0 refused with a message, -1 declined by the user.  Writes nothing.
int ConfirmImageSave(const CImgBuff* picture, const wchar_t* path, const wchar_t* language,
                     CFgScreen* parent);

// Asks for a path (title, the save extensions) and makes the writer: ".avi"/".mp4" a video
// at 33333 us a frame, ".tif"/".tiff" one multi-page file, anything else numbered files
// named after the chosen one.  Asks before overwriting: the chosen file, or for numbered
// files the first of those it will write that exists.  Null with *outCancelled 1 when the
// user cancels or declines; null with 0 when the writer cannot be made.  `reserved` is not
// used.  outCancelled may be null.
MovieWriter* SaveMovieOrSequence(const CImgBuff* picture, uint64_t frameCount,
                                 const wchar_t* language, const void* reserved,
                                 const wchar_t* title, const MediaWriteOptions* options,
                                 CFgScreen* parent, int32_t* outCancelled);
// The picture as the writer's next frame.  Numbered files: the next number is used up even
// when that save fails.
int MovieWriterWriteFrame(MovieWriter* writer, const CImgBuff* picture);
// Closes the media file (when set) and frees the record; MediaClose's result, 1 without one.
int CloseMovieWriter(MovieWriter* writer);

MovieWriter* CreateMovieWriter(const CImgBuff* picture, uint64_t frameCount, const wchar_t* path,
                               uint64_t intervalUs, const MediaWriteOptions* options);
MovieWriter* CreateNumberedFileWriter(const CImgBuff* picture, uint64_t frameCount,
                                      const wchar_t* pattern, uint64_t start);

// Pattern of numbered files from one chosen name: folder + prefix + conversion + "." +
// extension, the conversion zero-padded to the digit run when it starts with "0".  A name
// of digits only is all run; no run starts at 0.  patternUnits is the buffer's size; 0
// (nothing written) for a path without '/', a name without extension, or a pattern that
// does not fit.  A run beyond 64 bits starts at 0.
int MakeSequencePattern(const wchar_t* path, wchar_t* outPattern, uint64_t patternUnits,
                        uint64_t* outStart);

// Blank-separated lists for the file chooser (static buffers, rebuilt on each call).
const wchar_t* ImageOpenExtensions();
const wchar_t* MediaSaveExtensions();
// Extension without its '.'; case does not matter.
int IsMovieExtension(const wchar_t* extension);
int IsMultiPageExtension(const wchar_t* extension);

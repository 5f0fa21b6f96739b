// mp4.h - MP4 files with one H.264 video track: the reader's box tree, sample tables and
// frame index, and the writer.
//
//   Mp4Source   bytes of a file or of a memory block, read at an offset
//   Mp4Box      one box of the tree, kept in a flat list in file (pre-)order
//   Mp4Sample   where one sample lies and whether decoding may start at it
//   Mp4Cursor   the frame decoder walking the samples, with where it stands
//   Mp4Reader   an open MP4 file: tree, tables, decoder set-up, frame index, decoder state
//   Mp4Writer   an MP4 file being written: stream, sample sizes, parameter sets, encoder
#pragma once
#include "media/media.h"
#include <cstdint>
#include <cstdio>
#include <vector>

class ISVCEncoder;
struct H264Decoder;

struct Mp4Source {
  FILE* file;          // either a stream ...
  const uint8_t* data; // ... or a memory block
  uint64_t size;
};
int Mp4SourceRead(const Mp4Source* source, uint64_t offset, void* out, uint64_t count);

struct Mp4Box {
  uint64_t start;        // file offset of the box
  uint64_t contentStart; // file offset after its header
  uint64_t contentSize;  // box size minus its header
  char type[4];
  uint32_t subtreeEnd;   // index one past the last box inside this one
  int32_t parent;        // index of the enclosing box, -1 at the top level
};

struct Mp4Sample {
  uint64_t offset;
  uint32_t size;
  uint8_t sync;
};

// The decoder walking the samples in decode order, with where it stands.
struct Mp4Cursor {
  H264Decoder* decoder;  // one of the reader's two
  bool threaded;         // the one with frame threads
  bool started;
  uint32_t start;       // the sync sample it started at
  uint32_t next;        // next sample to feed
  uint32_t firstFrame;  // pictures before this frame are leading pictures of an open GOP,
                        // whose references lie before `start`: not taken
};

struct Mp4Reader {
  Mp4Source source;
  std::vector<Mp4Box> boxes;  // the whole tree in pre-order
  int32_t track;              // the chosen "trak"
  int32_t mdat;               // the first "mdat"
  uint32_t trackWidth, trackHeight;
  uint32_t codedWidth, codedHeight;
  uint32_t sampleCount;
  uint32_t frameCount;
  uint32_t frameIntervalUs;
  std::vector<Mp4Sample> samples;  // in decode order
  // Frame index: frames are the pictures in presentation order (decode time plus the
  // composition offset); frame f shows the picture coded by sample frameMap[f].
  std::vector<uint32_t> frameMap;
  std::vector<uint32_t> sampleFrame;  // the reverse
  std::vector<uint8_t> config;        // the "avcC" record the decoder is set up with
  // Colours the sample entry declares ("colr" of type "nclx"), for streams whose own
  // parameters leave them out: matrix coefficients (2 = unstated), range (-1 = unstated).
  int entryMatrix, entryFullRange;
  int decodeThreads;                  // frames the threaded decoder works on at once

  // Frame decoders: one on the calling thread for short runs (a seek near a sync sample,
  // the open), one with frame threads for long runs; created when first needed.
  H264Decoder* singleDecoder;
  H264Decoder* threadedDecoder;
  // The frame decoder in use and the last picture it gave.
  Mp4Cursor cursor;
  int64_t lastFrame;          // display number of the last picture out, -1 none
  bool havePicture;
  uint64_t pictureFrame;
  const uint8_t* planeY;
  const uint8_t* planeU;
  const uint8_t* planeV;
  int lumaStride, chromaStride, pictureWidth, pictureHeight;
  const struct YuvMatrix* matrix;
};

// Reads the box tree and the sample tables and builds the frame index (no decoding).  Null
// for a file that is not an MP4 file with a readable H.264 track.  The source is taken over
// (its stream closed by Mp4ReaderFree).
Mp4Reader* Mp4ReaderParse(Mp4Source source);
// Parses, then decodes the first frame (a file without one picture is no video), with
// progress; null on failure.
Mp4Reader* Mp4ReaderOpen(const char* path, MediaProgressFn progress, void* context);
void Mp4ReaderFree(Mp4Reader* reader);
// Display frame to sample number; -1 for a frame beyond the file.
int64_t Mp4FrameToSample(Mp4Reader* reader, uint64_t frame);
// Decodes display frame `frame` into an R,G,B block of trackWidth x trackHeight (or only
// into the decoder's state when out is null).  A failure clears the block.
int Mp4DecodeFrame(Mp4Reader* reader, uint64_t frame, uint8_t* out, uint64_t outSize);

// Box tree helpers over the flat pre-order list.
int32_t Mp4FindChild(const Mp4Reader* reader, int32_t within, const char* type);
int32_t Mp4FindNext(const Mp4Reader* reader, int32_t after, const char* type);

struct Mp4Writer {
  uint32_t trackWidth, trackHeight;
  uint32_t bitCount;
  uint32_t frameIntervalUs;
  uint64_t rgbFrameBytes, i420Bytes;
  uint32_t rawBitRate;
  uint32_t qualityPct, bitRate, keyInterval;
  uint32_t baseBitRate, currentBitRate, peakBitRate;
  FILE* stream;
  uint64_t position;
  uint64_t mdatSize;
  std::vector<uint32_t> sampleSizes;
  std::vector<uint32_t> sampleSync;
  uint32_t sampleCount;
  uint32_t syncCount;
  std::vector<uint8_t> sps, pps;  // each behind a 16-bit big-endian length
  ISVCEncoder* encoder;
  std::vector<uint8_t> rgb, i420;  // per-frame scratch
};

struct Mp4WriterSettings {
  uint32_t qualityPct, bitRate, keyInterval;
};
Mp4Writer* Mp4WriterOpen(const char* path, uint32_t width, uint32_t height, uint32_t bitCount, uint32_t intervalUs,
                         const Mp4WriterSettings& settings);
int Mp4WriterAddFrame(Mp4Writer* writer, const uint8_t* frame);
// Finishes the file (moov at the end, mdat size patched) and frees the writer; 1 when the
// file was finished.
int Mp4WriterClose(Mp4Writer* writer);
// Timescale and sample delta the writer uses for an interval.
void Mp4TimeBase(uint32_t intervalUs, uint32_t* outTimescale, uint32_t* outDelta);

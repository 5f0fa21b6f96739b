// h264.h - the bridge to the openh264 codec library, loaded at run time, and the colour
// conversions between R,G,B pictures and its I420 planes.
//
//   OpenH264Load / OpenH264Release   process-wide reference to the loaded library
//   H264OpenLibraryAt                one load attempt at one path (all entry points or nothing)
//   H264EncoderCreate / ...Frame     encoder of the MP4 writer
//   H264DecoderCreate / H264Decode   decoder of the MP4 reader, one access unit per call
//   RgbToI420 / I420ToRgb            the picture conversions
#pragma once
#include <cstddef>
#include <cstdint>

class ISVCEncoder;
class ISVCDecoder;
struct Mp4Writer;

// File name of the codec library; looked for in the program's folder first, then through
// the system's library search path.
extern const char* const kOpenH264LibraryName;

int OpenH264Load();
void OpenH264Release();
uint64_t OpenH264References();
// Loads the library at `path` and looks up every entry point; on any missing one the
// library is closed again and null comes back.  Used by OpenH264Load; open for tests.
void* H264OpenLibraryAt(const char* path);
void H264CloseLibrary(void* module);
// The folder of the running program (no trailing slash), empty when it cannot be found.
const char* ProgramFolder();

// Encoder: created on the writer's first frame with the asked rate; `rate` comes back as
// the rate the library accepted.
ISVCEncoder* H264EncoderCreate(Mp4Writer* writer, uint32_t* rate);
void H264EncoderDestroy(ISVCEncoder* encoder);
// Encodes one I420 frame and appends its NAL units, each behind a 4-byte big-endian length,
// to the writer's stream at its position.  Returns the bytes written, 0 on failure.  An
// encoder whose library state was lost on an oversized frame is replaced in *encoder by a
// new one at a lower rate, which codes the frame as a key frame; *encoder is null when no
// replacement could be made.
uint64_t H264EncodeFrame(Mp4Writer* writer, ISVCEncoder** encoder, const uint8_t* y, const uint8_t* u,
                         const uint8_t* v, int* outSync);

// One decoded picture, owned by the library and valid until the decoder's next call.
struct H264Picture {
  const uint8_t* y;
  const uint8_t* u;
  const uint8_t* v;
  int lumaStride;
  int chromaStride;
  int width;
  int height;
  uint64_t timestamp;  // the time stamp given with the access unit that coded it
};

ISVCDecoder* H264DecoderCreate();
void H264DecoderDestroy(ISVCDecoder* decoder);
// Feeds one Annex B access unit (null data flushes one held picture).  Returns the
// library's decoding state (0 = no error) and sets *outReady when a picture came out.
int H264Decode(ISVCDecoder* decoder, const uint8_t* data, size_t size, uint64_t timestamp, H264Picture* outPicture,
               int* outReady);

// R,G,B rows (width x height x 3 bytes, no gaps) to I420 planes; width and height even.
void RgbToI420(int width, int height, const uint8_t* rgb, uint8_t* y, uint8_t* u, uint8_t* v);
// I420 planes of a picture of pictureWidth x pictureHeight to an R,G,B block of
// outWidth x outHeight.  Rows map one to one; columns are resampled from codedWidth to
// outWidth when they differ.  What lies outside the picture comes out black.
void I420ToRgb(int outWidth, int outHeight, int codedWidth, const uint8_t* y, const uint8_t* u, const uint8_t* v,
               uint8_t* out, int lumaStride, int chromaStride, int pictureWidth, int pictureHeight);

// h264.h - H.264 coding: the encoder of the openh264 library, loaded at run time, the
// decoder of libavcodec, linked, and the colour conversions between R,G,B pictures and
// I420 planes.
//
//   OpenH264Load / OpenH264Release   process-wide reference to the loaded encoder library
//   H264OpenLibraryAt                one load attempt at one path (all entry points or nothing)
//   H264LevelFor                     the level a stream declares for its picture, rate and bit rate
//   H264EncoderCreate / ...Frame     encoder of the MP4 writer
//   H264Decoder                      decoder of the MP4 reader: samples in, pictures out
//   YuvMatrix                        the integer Y,U,V to R,G,B coefficients of one colour matrix
//   RgbToI420 / I420ToRgb            the picture conversions
#pragma once
#include <cstddef>
#include <cstdint>

class ISVCEncoder;
struct H264Decoder;
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

// The lowest H.264 level (level_idc: 10 for 1.0 ... 52 for 5.2) whose limits hold a
// picture of width x height at frameRate pictures a second and bitRate bit/s: frame size
// and width and height in macroblocks, macroblocks a second, and the bit rate.  52 when
// even that level is exceeded.  outMaxBitRate, when given, gets the level's largest bit
// rate in bit/s.
int H264LevelFor(int width, int height, double frameRate, uint64_t bitRate, uint64_t* outMaxBitRate = nullptr);

// Encoder: created on the writer's first frame with the asked rate; `rate` comes back as
// the rate the library accepted.  The stream declares the level H264LevelFor gives for the
// picture, its rate and that bit rate.
ISVCEncoder* H264EncoderCreate(Mp4Writer* writer, uint32_t* rate);
void H264EncoderDestroy(ISVCEncoder* encoder);
// Encodes one I420 frame and appends its NAL units, each behind a 4-byte big-endian length,
// to the writer's stream at its position.  Returns the bytes written, 0 on failure.  An
// encoder whose library state was lost on an oversized frame is replaced in *encoder by a
// new one at a lower rate, which codes the frame as a key frame; *encoder is null when no
// replacement could be made.
uint64_t H264EncodeFrame(Mp4Writer* writer, ISVCEncoder** encoder, const uint8_t* y, const uint8_t* u,
                         const uint8_t* v, int* outSync);

// Y,U,V to R,G,B in integers: R = ((y - yOffset) * yScale + rv * (v - 128)) / 1000, and so on,
// truncated toward zero and clamped to 0..255.
struct YuvMatrix {
  int yOffset, yScale, rv, gu, gv, bu;
};
// The conversion for a picture of width x height: BT.601 when the stream declares it
// (matrix coefficients 5 or 6), BT.709 for any other declared matrix; a stream that declares
// none (2, or the reserved 3) is taken by its size, as players take it: BT.601 below HD
// (width under 1280 and height at most 576), BT.709 from HD up.  Limited range unless the
// stream declares full range.
const YuvMatrix& YuvMatrixFor(int matrixCoefficients, bool fullRange, int width, int height);
// BT.709, limited range: what our own files declare.
extern const YuvMatrix kYuvBt709;

// One decoded picture, owned by the decoder and valid until its next call.
struct H264Picture {
  const uint8_t* y;
  const uint8_t* u;
  const uint8_t* v;
  int lumaStride;
  int chromaStride;
  int width;
  int height;
  int64_t timestamp;        // the time stamp given with the sample that coded it
  int matrixCoefficients;   // as the stream's VUI states them; 2 when it states none
  int fullRange;            // 1 full range, 0 limited range, -1 not declared
};

// A decoder for the track whose "avcC" content is `config` (configSize bytes), decoding on up
// to `threads` threads (frames in flight).  Null when the configuration is refused.
H264Decoder* H264DecoderCreate(const uint8_t* config, size_t configSize, int threads);
void H264DecoderDestroy(H264Decoder* decoder);
// A buffer of `size` bytes for the next sample, to be filled by the caller; null when out of
// memory.  The buffer belongs to the decoder and is handed over by H264DecoderSend.
uint8_t* H264DecoderSampleBuffer(H264Decoder* decoder, size_t size);
// Hands over the filled sample buffer (one sample: NAL units behind their lengths) with its
// time stamp; with no buffer, the end of the stream (held pictures come out next).
// 1 when taken, 0 when the decoder refuses it.
int H264DecoderSend(H264Decoder* decoder, int64_t timestamp, bool endOfStream);
// 1 with a picture, 0 when it needs the next sample, -1 after the end of the stream or on
// an error.  Pictures other than 8-bit 4:2:0 are passed over as errors.
int H264DecoderReceive(H264Decoder* decoder, H264Picture* outPicture);
// Drops every held picture and reference: the next sample starts a new decode.
void H264DecoderReset(H264Decoder* decoder);

// R,G,B rows (width x height x 3 bytes, no gaps) to I420 planes by the BT.709 limited-range
// matrix, rounded to nearest; width and height even.
void RgbToI420(int width, int height, const uint8_t* rgb, uint8_t* y, uint8_t* u, uint8_t* v);
// I420 planes of a picture of pictureWidth x pictureHeight to an R,G,B block of
// outWidth x outHeight.  Rows map one to one; columns are resampled from codedWidth to
// outWidth when they differ.  What lies outside the picture comes out black.
void I420ToRgb(int outWidth, int outHeight, int codedWidth, const uint8_t* y, const uint8_t* u, const uint8_t* v,
               uint8_t* out, int lumaStride, int chromaStride, int pictureWidth, int pictureHeight,
               const YuvMatrix& matrix = kYuvBt709);

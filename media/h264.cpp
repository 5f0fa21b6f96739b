// h264.cpp - H.264: the openh264 encoder loaded at run time, the libavcodec decoder, and
// the I420 conversions.
// openh264 is never linked: its headers give only the types and the interfaces' layouts,
// and every function we call is looked up by name, so a machine without it still runs
// everything but saving MP4.  Decoding is libavcodec's, the reference decoder of the
// field: openh264 decodes B-pictures inexactly (pictures off by up to two hundred levels
// in places, and the P-pictures that refer to them inherit it).
// Inside: library loading - encoder - decoder - colour conversions
#include "media/h264.h"
#include "media/mp4.h"
#include "media/alloc_util.h"
#include "core/parallel.h"

#include <dlfcn.h>
#include <unistd.h>
#include <wels/codec_api.h>
#include <wels/codec_ver.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
#include <libavutil/pixfmt.h>
}

#include <climits>
#include <cstring>
#include <iterator>
#include <mutex>
#include <new>
#include <string>

const char* const kOpenH264LibraryName = "libopenh264.so.7";

// ---------------------------------------------------------------------------------------
// Library loading

namespace {

typedef int (*CreateEncoderFn)(ISVCEncoder**);
typedef void (*DestroyEncoderFn)(ISVCEncoder*);
typedef void (*GetVersionExFn)(OpenH264Version*);

struct Library {
  void* module;
  uint64_t references;
  CreateEncoderFn createEncoder;
  DestroyEncoderFn destroyEncoder;
};

Library g_lib;
std::mutex g_libLock;

struct EntryPoints {
  CreateEncoderFn createEncoder;
  DestroyEncoderFn destroyEncoder;
};

int LookUp(void* module, EntryPoints* out) {
  out->createEncoder = reinterpret_cast<CreateEncoderFn>(dlsym(module, "WelsCreateSVCEncoder"));
  out->destroyEncoder = reinterpret_cast<DestroyEncoderFn>(dlsym(module, "WelsDestroySVCEncoder"));
  GetVersionExFn version = reinterpret_cast<GetVersionExFn>(dlsym(module, "WelsGetCodecVersionEx"));
  if (!out->createEncoder || !out->destroyEncoder || !version)
    return 0;
  // The interfaces are called through their virtual tables, whose layout is that of the
  // headers we were built with: another major version would be called at wrong slots.
  OpenH264Version v{};
  version(&v);
  return v.uMajor == OPENH264_MAJOR ? 1 : 0;
}

}  // namespace

const char* ProgramFolder() {
  static char folder[PATH_MAX + 1];
  char path[PATH_MAX + 1];
  ssize_t n = readlink("/proc/self/exe", path, PATH_MAX);
  if (n <= 0) {
    folder[0] = 0;
    return folder;
  }
  path[n] = 0;
  char* slash = strrchr(path, '/');
  if (!slash) {
    folder[0] = 0;
    return folder;
  }
  // A program in "/" keeps its slash so the folder stays a valid path.
  if (slash == path) slash[1] = 0;
  else *slash = 0;
  memcpy(folder, path, strlen(path) + 1);
  return folder;
}

void* H264OpenLibraryAt(const char* path) {
  if (!path || !*path) return nullptr;
  void* module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (!module) return nullptr;
  EntryPoints entries;
  if (!LookUp(module, &entries)) {
    dlclose(module);
    return nullptr;
  }
  return module;
}

void H264CloseLibrary(void* module) {
  if (module) dlclose(module);
}

int OpenH264Load() {
  std::lock_guard<std::mutex> hold(g_libLock);
  if (g_lib.references > 0) {
    ++g_lib.references;
    return 1;
  }
  std::string local = ProgramFolder();
  if (!local.empty() && local.back() != '/') local += '/';
  void* module = local.size() > 0 ? H264OpenLibraryAt((local + kOpenH264LibraryName).c_str()) : nullptr;
  if (!module) module = H264OpenLibraryAt(kOpenH264LibraryName);
  if (!module) return 0;
  EntryPoints entries;
  LookUp(module, &entries);
  g_lib.module = module;
  g_lib.createEncoder = entries.createEncoder;
  g_lib.destroyEncoder = entries.destroyEncoder;
  g_lib.references = 1;
  return 1;
}

void OpenH264Release() {
  std::lock_guard<std::mutex> hold(g_libLock);
  if (g_lib.references == 0) return;
  if (--g_lib.references > 0) return;
  dlclose(g_lib.module);
  g_lib = Library{};
}

uint64_t OpenH264References() {
  std::lock_guard<std::mutex> hold(g_libLock);
  return g_lib.references;
}

// ---------------------------------------------------------------------------------------
// Encoder

namespace {

// The limits of each level (H.264 Table A-1): macroblocks a second, macroblocks a frame, and
// the largest bit rate in 1000 bit/s (the factor of the Baseline and Main profiles; 1b is
// left out, 1.1 covers it).
struct LevelLimits {
  int levelIdc;
  uint64_t macroblocksPerSecond, frameMacroblocks, kiloBitRate;
};
constexpr LevelLimits kLevels[] = {
    {10, 1485, 99, 64},          {11, 3000, 396, 192},        {12, 6000, 396, 384},
    {13, 11880, 396, 768},       {20, 11880, 396, 2000},      {21, 19800, 792, 4000},
    {22, 20250, 1620, 4000},     {30, 40500, 1620, 10000},    {31, 108000, 3600, 14000},
    {32, 216000, 5120, 20000},   {40, 245760, 8192, 20000},   {41, 245760, 8192, 50000},
    {42, 522240, 8704, 50000},   {50, 589824, 22080, 135000}, {51, 983040, 36864, 240000},
    {52, 2073600, 36864, 240000},
};

}  // namespace

int H264LevelFor(int width, int height, double frameRate, uint64_t bitRate, uint64_t* outMaxBitRate) {
  const uint64_t mbWidth = (uint64_t(width > 0 ? width : 0) + 15) / 16;
  const uint64_t mbHeight = (uint64_t(height > 0 ? height : 0) + 15) / 16;
  const uint64_t frame = mbWidth * mbHeight;
  const double perSecond = double(frame) * (frameRate > 0 ? frameRate : 0);
  for (const LevelLimits& l : kLevels) {
    // Neither side of the picture may pass sqrt(8 x frame size) macroblocks.
    const uint64_t side8 = 8 * l.frameMacroblocks;
    if (frame > l.frameMacroblocks || mbWidth * mbWidth > side8 || mbHeight * mbHeight > side8) continue;
    if (perSecond > double(l.macroblocksPerSecond) || bitRate > l.kiloBitRate * 1000) continue;
    if (outMaxBitRate) *outMaxBitRate = l.kiloBitRate * 1000;
    return l.levelIdc;
  }
  if (outMaxBitRate) *outMaxBitRate = kLevels[std::size(kLevels) - 1].kiloBitRate * 1000;
  return 52;
}

namespace {

SEncParamBase BaseParams(const Mp4Writer* w, uint32_t rate) {
  SEncParamBase p;
  memset(&p, 0, sizeof p);
  p.iUsageType = CAMERA_VIDEO_REAL_TIME;
  p.iPicWidth = int(w->trackWidth);
  p.iPicHeight = int(w->trackHeight);
  p.iTargetBitrate = int(rate > uint32_t(INT_MAX) ? uint32_t(INT_MAX) : rate);
  p.iRCMode = RC_QUALITY_MODE;
  // The exact rate: 33367 us is 29.97 frames a second, not 29.
  p.fMaxFrameRate = float(1000000.0 / w->frameIntervalUs);
  return p;
}

int WriteAll(Mp4Writer* w, const void* data, size_t size) {
  if (size == 0) return 1;
  return fwrite(data, 1, size, w->stream) == size ? 1 : 0;
}

}  // namespace

ISVCEncoder* H264EncoderCreate(Mp4Writer* writer, uint32_t* rate) {
  if (!g_lib.createEncoder || !writer || !rate) return nullptr;
  ISVCEncoder* enc = nullptr;
  if (g_lib.createEncoder(&enc) != 0 || !enc) return nullptr;
  int trace = 0;  // quiet: the library would print its warnings to the terminal
  enc->SetOption(ENCODER_OPTION_TRACE_LEVEL, &trace);
  SEncParamBase p = BaseParams(writer, *rate);
  if (enc->Initialize(&p) != 0) {
    // Too high a rate for the picture: step down by a tenth of the raw rate until the
    // library takes it.
    uint32_t step = writer->rawBitRate / 10;
    int ok = 0;
    if (step > 0) {
      uint64_t trial = step;
      while (trial < *rate && trial < writer->rawBitRate) trial += step;
      while (trial >= 2ull * step) {
        trial -= step;
        *rate = uint32_t(trial);
        p = BaseParams(writer, *rate);
        if (enc->Initialize(&p) == 0) {
          ok = 1;
          break;
        }
      }
    }
    if (!ok) {
      g_lib.destroyEncoder(enc);
      return nullptr;
    }
  }
  enc->SetOption(ENCODER_OPTION_TRACE_LEVEL, &trace);
  // The stream says which matrix its colours were made with (BT.709, limited range), so
  // that players convert them back as we do instead of guessing BT.601 for small pictures.
  // Rate changes later set only the base parameters and keep these.
  SEncParamExt ext;
  memset(&ext, 0, sizeof ext);
  if (enc->GetOption(ENCODER_OPTION_SVC_ENCODE_PARAM_EXT, &ext) == 0) {
    SSpatialLayerConfig& layer = ext.sSpatialLayers[0];
    layer.bVideoSignalTypePresent = true;
    layer.uiVideoFormat = VF_UNDEF;
    layer.bFullRange = false;
    layer.bColorDescriptionPresent = true;
    layer.uiColorPrimaries = CP_BT709;
    layer.uiTransferCharacteristics = TRC_BT709;
    layer.uiColorMatrix = CM_BT709;
    // The extended parameters come back with a largest bit rate of 288 Mbit/s, and the
    // library raises the level until that rate fits: every file declared level 5.1, which a
    // player or hardware decoder that checks the level may refuse for a small picture.
    // The level that holds this picture, its rate and bit rate instead, with that level's
    // largest bit rate, so the library keeps it (it raises the level again for a target
    // rate the level does not hold).
    uint64_t levelBits = 0;
    layer.uiLevelIdc = ELevelIdc(H264LevelFor(int(writer->trackWidth), int(writer->trackHeight),
                                              1000000.0 / writer->frameIntervalUs, *rate, &levelBits));
    layer.iMaxSpatialBitrate = int(levelBits > uint64_t(INT_MAX) ? uint64_t(INT_MAX) : levelBits);
    enc->SetOption(ENCODER_OPTION_SVC_ENCODE_PARAM_EXT, &ext);
  }
  int format = videoFormatI420;
  enc->SetOption(ENCODER_OPTION_DATAFORMAT, &format);
  enc->SetOption(ENCODER_OPTION_SVC_ENCODE_PARAM_BASE, &p);
  return enc;
}

void H264EncoderDestroy(ISVCEncoder* encoder) {
  if (!encoder || !g_lib.destroyEncoder) return;
  encoder->Uninitialize();
  g_lib.destroyEncoder(encoder);
}

namespace {

// Tries at one frame: each skip raises the rate, each lost coding state lowers it; both
// are bounded (rates double up to the raw rate, halve down to a small floor), this only
// guards against the two taking turns for ever.
constexpr int kEncodeTries = 48;

// The library keeps each coded frame in a buffer of about three quarters of the raw I420
// picture (room for emulation-prevention bytes).  At the finest quantisers its rate
// control allows, a picture with little to predict (noise, fine texture) codes larger
// than that, mostly on small pictures at a rate near or above the raw rate.  The library
// then frees its whole coding state and answers cmMallocMemeError to that frame and every
// later one.  Such a frame is coded again by a new encoder, as a key frame, at a rate
// that leaves the frame room: half the rate that failed, and no more than a quarter of
// the raw rate; repeated failures halve it again.  Like the rate a new encoder accepts,
// that rate becomes the base rate of the frames that follow, so the same content does
// not lose the encoder again on the next frame.
int ReplaceLostEncoder(Mp4Writer* w, ISVCEncoder** enc) {
  H264EncoderDestroy(*enc);
  *enc = nullptr;
  uint32_t rate = w->currentBitRate / 2;
  if (rate > w->rawBitRate / 4) rate = w->rawBitRate / 4;
  // Below about one bit per macroblock a frame cannot code at all.
  const uint32_t floor = uint32_t(uint64_t(w->rawBitRate) / 2048 + 1);
  if (rate < floor) return 0;
  ISVCEncoder* fresh = H264EncoderCreate(w, &rate);
  if (!fresh) return 0;
  *enc = fresh;
  w->baseBitRate = w->currentBitRate = rate;
  fresh->ForceIntraFrame(true, -1);
  return 1;
}

}  // namespace

uint64_t H264EncodeFrame(Mp4Writer* w, ISVCEncoder** encoder, const uint8_t* y, const uint8_t* u, const uint8_t* v,
                         int* outSync) {
  if (!w || !encoder || !*encoder || !outSync) return 0;
  *outSync = 0;
  SSourcePicture pic;
  memset(&pic, 0, sizeof pic);
  pic.iColorFormat = videoFormatI420;
  pic.iStride[0] = int(w->trackWidth);
  pic.iStride[1] = pic.iStride[2] = int(w->trackWidth / 2);
  pic.pData[0] = const_cast<uint8_t*>(y);
  pic.pData[1] = const_cast<uint8_t*>(u);
  pic.pData[2] = const_cast<uint8_t*>(v);
  pic.iPicWidth = int(w->trackWidth);
  pic.iPicHeight = int(w->trackHeight);

  ISVCEncoder* enc = *encoder;
  if (w->keyInterval) enc->ForceIntraFrame((w->sampleCount - 1) % w->keyInterval == 0, -1);

  SEncParamBase p = BaseParams(w, w->baseBitRate);
  if (w->currentBitRate > w->baseBitRate) {
    if (enc->SetOption(ENCODER_OPTION_SVC_ENCODE_PARAM_BASE, &p) != 0) return 0;
    w->currentBitRate = w->baseBitRate;
  }
  SFrameBSInfo info;
  for (int tries = 0;; ++tries) {
    if (tries == kEncodeTries) return 0;
    memset(&info, 0, sizeof info);
    const int result = enc->EncodeFrame(&pic, &info);
    if (result == cmMallocMemeError) {
      if (!ReplaceLostEncoder(w, encoder)) return 0;
      enc = *encoder;
      continue;
    }
    if (result != 0) return 0;
    if (info.eFrameType != videoFrameTypeSkip) break;
    // Rate control may drop a frame that does not fit its budget; we need every frame, so
    // raise the rate until it is coded.
    if (w->currentBitRate >= w->rawBitRate) return 0;
    uint64_t doubled = uint64_t(w->currentBitRate) * 2;
    w->currentBitRate = uint32_t(doubled > w->rawBitRate ? w->rawBitRate : doubled);
    p = BaseParams(w, w->currentBitRate);
    if (enc->SetOption(ENCODER_OPTION_SVC_ENCODE_PARAM_BASE, &p) != 0) return 0;
  }
  if (w->currentBitRate > w->peakBitRate) w->peakBitRate = w->currentBitRate;
  *outSync = (info.eFrameType == videoFrameTypeIDR || info.eFrameType == videoFrameTypeI) ? 1 : 0;
  if (info.iLayerNum <= 0) return 0;

  uint64_t written = 0;
  for (int l = 0; l < info.iLayerNum && l < MAX_LAYER_NUM_OF_FRAME; ++l) {
    const SLayerBSInfo& layer = info.sLayerInfo[l];
    const uint8_t* nal = layer.pBsBuf;
    for (int n = 0; n < layer.iNalCount; ++n) {
      int len = layer.pNalLengthInByte[n];
      // The library writes every unit behind a 4-byte start code.
      if (len < 5 || nal[0] != 0 || nal[1] != 0 || nal[2] != 0 || nal[3] != 1) return 0;
      uint32_t body = uint32_t(len - 4);
      int type = nal[4] & 0x1F;
      if ((type == 7 && w->sps.empty()) || (type == 8 && w->pps.empty())) {
        if (body <= 0xFFFF) {
          std::vector<uint8_t>& set = type == 7 ? w->sps : w->pps;
          // Reserved whole, so the appends below cannot allocate.
          if (!TryReserve(set, 2 + size_t(body))) return 0;
          set.push_back(uint8_t(body >> 8));
          set.push_back(uint8_t(body));
          set.insert(set.end(), nal + 4, nal + len);
        }
      }
      uint8_t prefix[4] = {uint8_t(body >> 24), uint8_t(body >> 16), uint8_t(body >> 8), uint8_t(body)};
      if (!WriteAll(w, prefix, 4) || !WriteAll(w, nal + 4, body)) return 0;
      written += 4 + uint64_t(body);
      nal += len;
    }
  }
  return written;
}

// ---------------------------------------------------------------------------------------
// Decoder

struct H264Decoder {
  AVCodecContext* context;
  AVPacket* packet;   // the next sample, filled by the caller
  AVFrame* frame;     // the last picture handed out
  bool ended;         // the end of the stream was sent
};

H264Decoder* H264DecoderCreate(const uint8_t* config, size_t configSize, int threads) {
  // A configuration record is a few hundred bytes; a huge one is a damaged file.
  if (!config || configSize < 7 || configSize > (1u << 20)) return nullptr;
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
  if (!codec) return nullptr;
  // Quiet: the library would print every damaged slice of a file to the terminal.
  static std::once_flag quiet;
  std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
  H264Decoder* d = new (std::nothrow) H264Decoder{};
  if (!d) return nullptr;
  d->context = avcodec_alloc_context3(codec);
  d->packet = av_packet_alloc();
  d->frame = av_frame_alloc();
  bool ok = d->context && d->packet && d->frame;
  if (ok) {
    // The library reads past the end of its input in whole words: its buffers carry zeroed padding.
    d->context->extradata = static_cast<uint8_t*>(av_mallocz(configSize + AV_INPUT_BUFFER_PADDING_SIZE));
    ok = d->context->extradata != nullptr;
  }
  if (ok) {
    memcpy(d->context->extradata, config, configSize);
    d->context->extradata_size = int(configSize);
    // Frame threads; beyond 16 the library gains nothing on H.264.
    d->context->thread_count = threads < 1 ? 1 : threads > 16 ? 16 : threads;
    d->context->thread_type = FF_THREAD_FRAME;
    ok = avcodec_open2(d->context, codec, nullptr) == 0;
  }
  if (!ok) {
    H264DecoderDestroy(d);
    return nullptr;
  }
  return d;
}

void H264DecoderDestroy(H264Decoder* d) {
  if (!d) return;
  avcodec_free_context(&d->context);
  av_packet_free(&d->packet);
  av_frame_free(&d->frame);
  delete d;
}

uint8_t* H264DecoderSampleBuffer(H264Decoder* d, size_t size) {
  av_packet_unref(d->packet);
  if (size == 0 || size > size_t(INT_MAX) - AV_INPUT_BUFFER_PADDING_SIZE) return nullptr;
  if (av_new_packet(d->packet, int(size)) != 0) return nullptr;
  return d->packet->data;
}

int H264DecoderSend(H264Decoder* d, int64_t timestamp, bool endOfStream) {
  if (d->ended) return 0;
  if (endOfStream) {
    av_packet_unref(d->packet);
    d->ended = true;
    return avcodec_send_packet(d->context, nullptr) == 0 ? 1 : 0;
  }
  if (!d->packet->data) return 0;
  d->packet->pts = timestamp;
  d->packet->dts = AV_NOPTS_VALUE;
  const int result = avcodec_send_packet(d->context, d->packet);
  av_packet_unref(d->packet);
  // A sample the library cannot parse is refused, and the pictures after it fail in turn.
  return result == 0 ? 1 : 0;
}

int H264DecoderReceive(H264Decoder* d, H264Picture* out) {
  for (;;) {
    av_frame_unref(d->frame);
    const int result = avcodec_receive_frame(d->context, d->frame);
    if (result == AVERROR(EAGAIN)) return d->ended ? -1 : 0;
    if (result != 0) return -1;
    AVFrame* f = d->frame;
    // Only 8-bit 4:2:0 becomes a picture; other layouts (4:2:2, 10-bit) are passed over.
    const bool layout = (f->format == AV_PIX_FMT_YUV420P || f->format == AV_PIX_FMT_YUVJ420P) && f->width > 0 &&
                        f->height > 0 && f->linesize[0] >= f->width && f->linesize[1] >= (f->width + 1) / 2 &&
                        f->linesize[1] == f->linesize[2];
    if (!layout || (f->flags & AV_FRAME_FLAG_CORRUPT) || f->decode_error_flags) continue;
    out->y = f->data[0];
    out->u = f->data[1];
    out->v = f->data[2];
    out->lumaStride = f->linesize[0];
    out->chromaStride = f->linesize[1];
    out->width = f->width;
    out->height = f->height;
    out->timestamp = f->pts;
    out->matrixCoefficients = int(f->colorspace);
    out->fullRange = (f->color_range == AVCOL_RANGE_JPEG || f->format == AV_PIX_FMT_YUVJ420P) ? 1
                     : f->color_range == AVCOL_RANGE_MPEG                                       ? 0
                                                                                                 : -1;
    return 1;
  }
}

void H264DecoderReset(H264Decoder* d) {
  av_frame_unref(d->frame);
  av_packet_unref(d->packet);
  avcodec_flush_buffers(d->context);
  d->ended = false;
}

// ---------------------------------------------------------------------------------------
// Colour conversions

// BT.709, limited range: Y from 16 to 235, U and V from 16 to 240 around 128.  Each row's
// weights are in thousandths; the U and V rows sum to 0 so that every grey has U = V = 128.
void RgbToI420(int width, int height, const uint8_t* rgb, uint8_t* y, uint8_t* u, uint8_t* v) {
  for (int row = 0; row < height; ++row) {
    const uint8_t* s = rgb + size_t(row) * width * 3;
    uint8_t* d = y + size_t(row) * width;
    for (int x = 0; x < width; ++x, s += 3)
      d[x] = uint8_t((183 * s[0] + 614 * s[1] + 62 * s[2] + 16000 + 500) / 1000);
  }
  const int cw = width / 2;
  for (int j = 0; j < height / 2; ++j) {
    const uint8_t* r0 = rgb + size_t(2 * j) * width * 3;
    const uint8_t* r1 = r0 + size_t(width) * 3;
    uint8_t* du = u + size_t(j) * cw;
    uint8_t* dv = v + size_t(j) * cw;
    for (int i = 0; i < cw; ++i) {
      const uint8_t* px[4] = {r0 + 6 * i, r0 + 6 * i + 3, r1 + 6 * i, r1 + 6 * i + 3};
      int r = 0, g = 0, b = 0;
      for (const uint8_t* p : px) {
        r += p[0];
        g += p[1];
        b += p[2];
      }
      // The block's average in one division, rounded to nearest; never negative (the
      // offset of 128 outweighs the largest negative part).
      du[i] = uint8_t((440 * b - 339 * g - 101 * r + 4 * 128000 + 2000) / 4000);
      dv[i] = uint8_t((439 * r - 399 * g - 40 * b + 4 * 128000 + 2000) / 4000);
    }
  }
}

// Limited range scales Y by 255 / 219 around 16; full range takes Y as it is.  The chroma
// weights are those of each matrix, scaled by 255 / 224 for limited range.
const YuvMatrix kYuvBt709 = {16, 1164, 1793, -213, -533, 2112};
namespace {
const YuvMatrix kYuvBt601 = {16, 1164, 1596, -391, -813, 2018};
const YuvMatrix kYuvBt709Full = {0, 1000, 1575, -187, -468, 1856};
const YuvMatrix kYuvBt601Full = {0, 1000, 1402, -344, -714, 1772};
}  // namespace

const YuvMatrix& YuvMatrixFor(int matrixCoefficients, bool fullRange, int width, int height) {
  // 5 and 6 are BT.470 B/G and SMPTE 170M: both the BT.601 matrix.
  bool bt601 = matrixCoefficients == 5 || matrixCoefficients == 6;
  // Untagged streams (what x264 and many cameras write by default) were made with the
  // matrix of their picture size: an SD picture converted with BT.709 reads red (253, 0, 0)
  // as (255, 24, 0).
  if (matrixCoefficients == 2 || matrixCoefficients == 3) bt601 = width < 1280 && height <= 576;
  if (fullRange) return bt601 ? kYuvBt601Full : kYuvBt709Full;
  return bt601 ? kYuvBt601 : kYuvBt709;
}

namespace {

// The divisions truncate toward zero; every negative sum ends at 0 whatever the rounding,
// so the division can run unsigned on sums from 1000 up (a multiply, no sign fix).
inline uint8_t Channel(int sum) {
  if (sum < 1000) return 0;
  const unsigned q = unsigned(sum) / 1000u;
  return q >= 255 ? 255 : uint8_t(q);
}

inline void YuvToRgb(const YuvMatrix& m, int y, int u, int v, uint8_t* out) {
  const int c = (y - m.yOffset) * m.yScale;
  out[0] = Channel(c + m.rv * (v - 128));
  out[1] = Channel(c + m.gu * (u - 128) + m.gv * (v - 128));
  out[2] = Channel(c + m.bu * (u - 128));
}

// One row at the coded width: chroma terms once per pixel pair.
void ConvertRowDirect(const YuvMatrix& m, const uint8_t* ys, const uint8_t* us, const uint8_t* vs, uint8_t* d,
                      int n) {
  const int yOffset = m.yOffset, yScale = m.yScale, rvw = m.rv, guw = m.gu, gvw = m.gv, buw = m.bu;
  int x = 0;
  for (; x + 1 < n; x += 2) {
    const int u = us[x / 2] - 128, v = vs[x / 2] - 128;
    const int rv = rvw * v, guv = guw * u + gvw * v, bu = buw * u;
    const int c0 = (ys[x] - yOffset) * yScale, c1 = (ys[x + 1] - yOffset) * yScale;
    d[3 * x] = Channel(c0 + rv);
    d[3 * x + 1] = Channel(c0 + guv);
    d[3 * x + 2] = Channel(c0 + bu);
    d[3 * x + 3] = Channel(c1 + rv);
    d[3 * x + 4] = Channel(c1 + guv);
    d[3 * x + 5] = Channel(c1 + bu);
  }
  for (; x < n; ++x) YuvToRgb(m, ys[x], us[x / 2], vs[x / 2], d + 3 * x);
}

struct RgbJob {
  int outWidth, outHeight, codedWidth;
  const uint8_t *y, *u, *v;
  uint8_t* out;
  int lumaStride, chromaStride, srcWidth, pictureHeight;
  const YuvMatrix* matrix;
};

void ConvertRows(void* ctx, uint64_t first, uint64_t count) {
  const RgbJob& j = *static_cast<const RgbJob*>(ctx);
  const YuvMatrix& m = *j.matrix;
  const size_t outStride = size_t(j.outWidth) * 3;
  const int chromaWidth = (j.srcWidth + 1) / 2;
  // A coded width past the luma stride cannot be the rows' width: convert them as they are.
  const bool direct = j.codedWidth <= 0 || j.codedWidth == j.outWidth || j.codedWidth > j.lumaStride;
  const double scale = double(j.codedWidth) / double(j.outWidth);
  for (uint64_t row = first; row < first + count; ++row) {
    uint8_t* d = j.out + row * outStride;
    if (int64_t(row) >= j.pictureHeight) {
      memset(d, 0, outStride);
      continue;
    }
    const uint8_t* ys = j.y + row * size_t(j.lumaStride);
    const uint8_t* us = j.u + (row / 2) * size_t(j.chromaStride);
    const uint8_t* vs = j.v + (row / 2) * size_t(j.chromaStride);
    if (direct) {
      const int n = j.outWidth < j.srcWidth ? j.outWidth : j.srcWidth;
      ConvertRowDirect(m, ys, us, vs, d, n);
      if (n < j.outWidth) memset(d + 3 * size_t(n), 0, 3 * size_t(j.outWidth - n));
      continue;
    }
    for (int x = 0; x < j.outWidth; ++x) {
      const double p = x * scale;
      const int i = int(p);
      if (i >= j.srcWidth) {
        d[3 * x] = d[3 * x + 1] = d[3 * x + 2] = 0;
        continue;
      }
      const double f = p - i;
      // The right-hand neighbour of the last pixel is the last pixel itself.
      const int i1 = i + 1 < j.srcWidth ? i + 1 : j.srcWidth - 1;
      const int c0 = i / 2;
      const int c1 = c0 + 1 < chromaWidth ? c0 + 1 : chromaWidth - 1;
      const int yy = int(ys[i1] * f + ys[i] * (1 - f));
      const int uu = int(us[c1] * f + us[c0] * (1 - f));
      const int vv = int(vs[c1] * f + vs[c0] * (1 - f));
      YuvToRgb(m, yy, uu, vv, d + 3 * x);
    }
  }
}

}  // namespace

void I420ToRgb(int outWidth, int outHeight, int codedWidth, const uint8_t* y, const uint8_t* u, const uint8_t* v,
               uint8_t* out, int lumaStride, int chromaStride, int pictureWidth, int pictureHeight,
               const YuvMatrix& matrix) {
  if (outWidth <= 0 || outHeight <= 0) return;
  const size_t outStride = size_t(outWidth) * 3;
  // The decoder's picture bounds every read; the strides limit it too.
  int srcWidth = pictureWidth < lumaStride ? pictureWidth : lumaStride;
  if (srcWidth > 2 * chromaStride) srcWidth = 2 * chromaStride;
  if (!y || !u || !v || srcWidth <= 0 || pictureHeight <= 0) {
    memset(out, 0, outStride * size_t(outHeight));
    return;
  }
  RgbJob job{outWidth, outHeight, codedWidth, y, u, v, out, lumaStride, chromaStride, srcWidth, pictureHeight, &matrix};
  if (int64_t(outWidth) * outHeight >= ParallelPixelThreshold) ParallelFor(ConvertRows, &job, uint64_t(outHeight));
  else ConvertRows(&job, 0, uint64_t(outHeight));
}

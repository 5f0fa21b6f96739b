// h264.cpp - the openh264 bridge: run-time loading, encoder, decoder, I420 conversions.
// The library is never linked: its headers give only the types and the interfaces'
// layouts, and every function we call is looked up by name, so a machine without the
// library still runs everything but MP4.
// Inside: library loading - encoder - decoder - colour conversions
#include "media/h264.h"
#include "media/mp4.h"
#include "media/alloc_util.h"
#include "core/parallel.h"

#include <dlfcn.h>
#include <unistd.h>
#include <wels/codec_api.h>
#include <wels/codec_ver.h>

#include <climits>
#include <cstring>
#include <mutex>
#include <string>

const char* const kOpenH264LibraryName = "libopenh264.so.7";

// ---------------------------------------------------------------------------------------
// Library loading

namespace {

typedef int (*CreateEncoderFn)(ISVCEncoder**);
typedef void (*DestroyEncoderFn)(ISVCEncoder*);
typedef long (*CreateDecoderFn)(ISVCDecoder**);
typedef void (*DestroyDecoderFn)(ISVCDecoder*);
typedef void (*GetVersionExFn)(OpenH264Version*);

struct Library {
  void* module;
  uint64_t references;
  CreateEncoderFn createEncoder;
  DestroyEncoderFn destroyEncoder;
  CreateDecoderFn createDecoder;
  DestroyDecoderFn destroyDecoder;
};

Library g_lib;
std::mutex g_libLock;

struct EntryPoints {
  CreateEncoderFn createEncoder;
  DestroyEncoderFn destroyEncoder;
  CreateDecoderFn createDecoder;
  DestroyDecoderFn destroyDecoder;
};

int LookUp(void* module, EntryPoints* out) {
  out->createEncoder = reinterpret_cast<CreateEncoderFn>(dlsym(module, "WelsCreateSVCEncoder"));
  out->destroyEncoder = reinterpret_cast<DestroyEncoderFn>(dlsym(module, "WelsDestroySVCEncoder"));
  out->createDecoder = reinterpret_cast<CreateDecoderFn>(dlsym(module, "WelsCreateDecoder"));
  out->destroyDecoder = reinterpret_cast<DestroyDecoderFn>(dlsym(module, "WelsDestroyDecoder"));
  GetVersionExFn version = reinterpret_cast<GetVersionExFn>(dlsym(module, "WelsGetCodecVersionEx"));
  if (!out->createEncoder || !out->destroyEncoder || !out->createDecoder || !out->destroyDecoder || !version)
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
  g_lib.createDecoder = entries.createDecoder;
  g_lib.destroyDecoder = entries.destroyDecoder;
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

SEncParamBase BaseParams(const Mp4Writer* w, uint32_t rate) {
  SEncParamBase p;
  memset(&p, 0, sizeof p);
  p.iUsageType = CAMERA_VIDEO_REAL_TIME;
  p.iPicWidth = int(w->trackWidth);
  p.iPicHeight = int(w->trackHeight);
  p.iTargetBitrate = int(rate > uint32_t(INT_MAX) ? uint32_t(INT_MAX) : rate);
  p.iRCMode = RC_QUALITY_MODE;
  p.fMaxFrameRate = float(1000000 / w->frameIntervalUs);
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

ISVCDecoder* H264DecoderCreate() {
  if (!g_lib.createDecoder) return nullptr;
  ISVCDecoder* dec = nullptr;
  if (g_lib.createDecoder(&dec) != 0 || !dec) return nullptr;
  SDecodingParam p;
  memset(&p, 0, sizeof p);
  p.eEcActiveIdc = ERROR_CON_DISABLE;
  p.sVideoProperty.size = sizeof(SVideoProperty);
  p.sVideoProperty.eVideoBsType = VIDEO_BITSTREAM_AVC;
  if (dec->Initialize(&p) != 0) {
    g_lib.destroyDecoder(dec);
    return nullptr;
  }
  int trace = 0;
  dec->SetOption(DECODER_OPTION_TRACE_LEVEL, &trace);
  return dec;
}

void H264DecoderDestroy(ISVCDecoder* decoder) {
  if (!decoder || !g_lib.destroyDecoder) return;
  decoder->Uninitialize();
  g_lib.destroyDecoder(decoder);
}

int H264Decode(ISVCDecoder* decoder, const uint8_t* data, size_t size, uint64_t timestamp, H264Picture* out,
               int* outReady) {
  *outReady = 0;
  // The library takes the length as an int.
  if (size > size_t(INT_MAX)) return int(dsInvalidArgument);
  SBufferInfo info;
  memset(&info, 0, sizeof info);
  info.uiInBsTimeStamp = timestamp;
  unsigned char* planes[3] = {nullptr, nullptr, nullptr};
  DECODING_STATE state;
  if (data && size > 0) {
    state = decoder->DecodeFrameNoDelay(data, int(size), planes, &info);
  } else {
    // End of stream: hand out the next picture still held for display order.
    state = decoder->FlushFrame(planes, &info);
  }
  if (info.iBufferStatus == 1 && planes[0] && planes[1] && planes[2]) {
    out->y = planes[0];
    out->u = planes[1];
    out->v = planes[2];
    out->lumaStride = info.UsrData.sSystemBuffer.iStride[0];
    out->chromaStride = info.UsrData.sSystemBuffer.iStride[1];
    out->width = info.UsrData.sSystemBuffer.iWidth;
    out->height = info.UsrData.sSystemBuffer.iHeight;
    out->timestamp = info.uiOutYuvTimeStamp;
    if (out->width > 0 && out->height > 0 && out->lumaStride >= out->width &&
        out->chromaStride >= (out->width + 1) / 2)
      *outReady = 1;
  }
  return int(state);
}

// ---------------------------------------------------------------------------------------
// Colour conversions

void RgbToI420(int width, int height, const uint8_t* rgb, uint8_t* y, uint8_t* u, uint8_t* v) {
  for (int row = 0; row < height; ++row) {
    const uint8_t* s = rgb + size_t(row) * width * 3;
    uint8_t* d = y + size_t(row) * width;
    for (int x = 0; x < width; ++x, s += 3) d[x] = uint8_t((183 * s[0] + 614 * s[1] + 62 * s[2] + 16000) / 1000);
  }
  const int cw = width / 2;
  for (int j = 0; j < height / 2; ++j) {
    const uint8_t* r0 = rgb + size_t(2 * j) * width * 3;
    const uint8_t* r1 = r0 + size_t(width) * 3;
    uint8_t* du = u + size_t(j) * cw;
    uint8_t* dv = v + size_t(j) * cw;
    for (int i = 0; i < cw; ++i) {
      const uint8_t* px[4] = {r0 + 6 * i, r0 + 6 * i + 3, r1 + 6 * i, r1 + 6 * i + 3};
      int su = 0, sv = 0;
      for (const uint8_t* p : px) {
        su += (439 * p[2] - 339 * p[1] - 101 * p[0] + 128000) / 1000;
        sv += (439 * p[0] - 399 * p[1] - 40 * p[2] + 128000) / 1000;
      }
      du[i] = uint8_t(su >> 2);
      dv[i] = uint8_t(sv >> 2);
    }
  }
}

namespace {

// The divisions truncate toward zero; every negative sum ends at 0 whatever the rounding,
// so the division can run unsigned on sums from 1000 up (a multiply, no sign fix).
inline uint8_t Channel(int sum) {
  if (sum < 1000) return 0;
  const unsigned q = unsigned(sum) / 1000u;
  return q >= 255 ? 255 : uint8_t(q);
}

inline void YuvToRgb(int y, int u, int v, uint8_t* out) {
  const int c = (y - 16) * 1164;
  out[0] = Channel(c + 1793 * (v - 128));
  out[1] = Channel(c - 213 * (u - 128) - 533 * (v - 128));
  out[2] = Channel(c + 2112 * (u - 128));
}

// One row at the coded width: chroma terms once per pixel pair.
void ConvertRowDirect(const uint8_t* ys, const uint8_t* us, const uint8_t* vs, uint8_t* d, int n) {
  int x = 0;
  for (; x + 1 < n; x += 2) {
    const int u = us[x / 2] - 128, v = vs[x / 2] - 128;
    const int rv = 1793 * v, guv = -213 * u - 533 * v, bu = 2112 * u;
    const int c0 = (ys[x] - 16) * 1164, c1 = (ys[x + 1] - 16) * 1164;
    d[3 * x] = Channel(c0 + rv);
    d[3 * x + 1] = Channel(c0 + guv);
    d[3 * x + 2] = Channel(c0 + bu);
    d[3 * x + 3] = Channel(c1 + rv);
    d[3 * x + 4] = Channel(c1 + guv);
    d[3 * x + 5] = Channel(c1 + bu);
  }
  for (; x < n; ++x) YuvToRgb(ys[x], us[x / 2], vs[x / 2], d + 3 * x);
}

struct RgbJob {
  int outWidth, outHeight, codedWidth;
  const uint8_t *y, *u, *v;
  uint8_t* out;
  int lumaStride, chromaStride, srcWidth, pictureHeight;
};

void ConvertRows(void* ctx, uint64_t first, uint64_t count) {
  const RgbJob& j = *static_cast<const RgbJob*>(ctx);
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
      ConvertRowDirect(ys, us, vs, d, n);
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
      YuvToRgb(yy, uu, vv, d + 3 * x);
    }
  }
}

}  // namespace

void I420ToRgb(int outWidth, int outHeight, int codedWidth, const uint8_t* y, const uint8_t* u, const uint8_t* v,
               uint8_t* out, int lumaStride, int chromaStride, int pictureWidth, int pictureHeight) {
  if (outWidth <= 0 || outHeight <= 0) return;
  const size_t outStride = size_t(outWidth) * 3;
  // The decoder's picture bounds every read; the strides limit it too.
  int srcWidth = pictureWidth < lumaStride ? pictureWidth : lumaStride;
  if (srcWidth > 2 * chromaStride) srcWidth = 2 * chromaStride;
  if (!y || !u || !v || srcWidth <= 0 || pictureHeight <= 0) {
    memset(out, 0, outStride * size_t(outHeight));
    return;
  }
  RgbJob job{outWidth, outHeight, codedWidth, y, u, v, out, lumaStride, chromaStride, srcWidth, pictureHeight};
  if (int64_t(outWidth) * outHeight >= ParallelPixelThreshold) ParallelFor(ConvertRows, &job, uint64_t(outHeight));
  else ConvertRows(&job, 0, uint64_t(outHeight));
}

// jpeg.cpp - JPEG still images through libjpeg: one frame per file.  Gray and RGB decode
// straight into the caller's frame; CMYK and YCCK files go through one line of CMYK and
// come out as R, G, B.  Writing takes 8-bit gray or RGB at the handle's quality.
// Inside: error exit - state - reading - writing - close
#include <stdio.h>  // jpeglib.h needs FILE and size_t declared first

#include <jpeglib.h>
#include <jerror.h>

#include <csetjmp>
#include <cstdlib>
#include <cstring>

#include "media/media_file.h"

// ---------------------------------------------------------------------------------------
// Error exit.  Every libjpeg call sequence stores the address of its jmp_buf in the
// object's client_data and clears it afterwards.

void JpegErrorExit(jpeg_common_struct* common) {
  if (common && common->client_data) longjmp(*static_cast<jmp_buf*>(common->client_data), 1);
  // No recovery point: the object is in an unknown state and nothing can undo it.  Never
  // exit with 0 here, or a script would take the failure for success.
  fputs("libjpeg error\n", stderr);
  exit(EXIT_FAILURE);
}

struct JpegState {
  jpeg_error_mgr err;
  jpeg_decompress_struct d;
  jpeg_compress_struct c;
  jpeg_progress_mgr progress;
  FILE* fp;
  int writing;
  int created;
  int cmyk;          // reading: the output lines are C, M, Y, K
  int failed;        // a libjpeg error left the object unusable (and a written file broken)
  uint8_t* line;     // reading CMYK: one output line of 4 bytes per pixel
};

namespace {

// A progressive file may hold any number of scans, each one a pass over the whole image;
// a few bytes per scan would keep the decoder busy for minutes.  Real encoders use at most
// a few dozen.
constexpr int kMaxScans = 500;

void LimitScans(j_common_ptr common) {
  j_decompress_ptr d = reinterpret_cast<j_decompress_ptr>(common);
  if (d->input_scan_number > kMaxScans) {
    common->err->msg_code = JERR_NOT_COMPILED;  // any code: only the jump matters
    common->err->error_exit(common);
  }
}

JpegState* NewState() {
  JpegState* s = static_cast<JpegState*>(calloc(1, sizeof(JpegState)));
  if (!s) return nullptr;
  jpeg_std_error(&s->err);
  s->err.error_exit = JpegErrorExit;
  return s;
}

void FreeState(JpegState* s) {
  if (s->created) {
    if (s->writing) jpeg_destroy_compress(&s->c);
    else jpeg_destroy_decompress(&s->d);
  }
  free(s->line);
  free(s);
}

// CMYK as libjpeg delivers it (Adobe files store inverted ink, so 255 means none) to R,G,B:
// each channel K - floor((255 - X) K / 255), which never leaves 0..255.
void CmykToRgbRow(const uint8_t* src, uint8_t* dst, uint64_t n) {
  for (uint64_t i = 0; i < n; ++i) {
    const uint32_t k = src[4 * i + 3];
    for (int c = 0; c < 3; ++c) dst[3 * i + c] = uint8_t(k - (255u - src[4 * i + c]) * k / 255u);
  }
}

// Header and start of decompression under one recovery point; the state holds everything.
int StartDecode(JpegState* s) {
  jmp_buf recovery;
  s->d.err = &s->err;
  s->d.client_data = &recovery;
  if (setjmp(recovery)) {
    s->d.client_data = nullptr;
    return 0;
  }
  jpeg_create_decompress(&s->d);
  s->created = 1;
  s->d.mem->max_memory_to_use = long(MediaMaxFrameBytes);
  s->progress.progress_monitor = LimitScans;
  s->d.progress = &s->progress;
  jpeg_stdio_src(&s->d, s->fp);
  jpeg_read_header(&s->d, TRUE);
  const J_COLOR_SPACE out = s->d.out_color_space;
  if (out != JCS_GRAYSCALE && out != JCS_RGB && out != JCS_CMYK) {
    s->d.client_data = nullptr;
    return 0;
  }
  // Refused before any decoding: a header may claim up to 65500 x 65500 pixels.
  const uint64_t bpp = out == JCS_GRAYSCALE ? 1 : 3;
  if (uint64_t(s->d.image_width) * s->d.image_height * bpp > MediaMaxFrameBytes) {
    s->d.client_data = nullptr;
    return 0;
  }
  jpeg_start_decompress(&s->d);
  if (out == JCS_CMYK) {
    s->cmyk = 1;
    s->line = static_cast<uint8_t*>(malloc(uint64_t(s->d.output_width) * 4));
    if (!s->line) {
      s->d.client_data = nullptr;
      return 0;
    }
  }
  s->d.client_data = nullptr;
  return 1;
}

int DecodeLines(JpegState* s, uint8_t* frame, uint64_t rowBytes) {
  jmp_buf recovery;
  s->d.client_data = &recovery;
  if (setjmp(recovery)) {
    s->d.client_data = nullptr;
    return 0;
  }
  jpeg_decompress_struct* d = &s->d;
  const uint64_t width = d->output_width;
  while (d->output_scanline < d->output_height) {
    const uint64_t y = d->output_scanline;
    if (s->cmyk) {
      JSAMPROW line = s->line;
      if (jpeg_read_scanlines(d, &line, 1) != 1) break;
      CmykToRgbRow(s->line, frame + y * rowBytes, width);
    } else {
      // Several lines per call straight into the frame; libjpeg returns at most one iMCU row.
      JSAMPROW rows[16];
      uint64_t n = d->output_height - y;
      if (n > 16) n = 16;
      for (uint64_t i = 0; i < n; ++i) rows[i] = frame + (y + i) * rowBytes;
      if (jpeg_read_scanlines(d, rows, JDIMENSION(n)) == 0) break;
    }
  }
  s->d.client_data = nullptr;
  return 1;
}

int StartEncode(JpegState* s, const MediaInfo& info, int quality) {
  jmp_buf recovery;
  s->c.err = &s->err;
  s->c.client_data = &recovery;
  if (setjmp(recovery)) {
    s->c.client_data = nullptr;
    return 0;
  }
  jpeg_create_compress(&s->c);
  s->created = 1;
  jpeg_stdio_dest(&s->c, s->fp);
  s->c.image_width = JDIMENSION(info.width);
  s->c.image_height = JDIMENSION(info.height);
  s->c.input_components = info.bytesPerPixel == 1 ? 1 : 3;
  s->c.in_color_space = info.bytesPerPixel == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&s->c);
  jpeg_set_quality(&s->c, quality, TRUE);  // the library keeps it within 1..100
  jpeg_start_compress(&s->c, TRUE);
  s->c.client_data = nullptr;
  return 1;
}

int EncodeLines(JpegState* s, const uint8_t* frame, uint64_t rowBytes) {
  jmp_buf recovery;
  s->c.client_data = &recovery;
  if (setjmp(recovery)) {
    s->c.client_data = nullptr;
    return 0;
  }
  jpeg_compress_struct* c = &s->c;
  while (c->next_scanline < c->image_height) {
    // libjpeg only reads the input lines (its colour converter copies them out), so the
    // caller's frame is passed in place.
    JSAMPROW rows[16];
    uint64_t y = c->next_scanline;
    uint64_t n = c->image_height - y;
    if (n > 16) n = 16;
    for (uint64_t i = 0; i < n; ++i) rows[i] = const_cast<JSAMPROW>(frame + (y + i) * rowBytes);
    if (jpeg_write_scanlines(c, rows, JDIMENSION(n)) == 0) break;  // a suspending destination
  }
  s->c.client_data = nullptr;
  return c->next_scanline == c->image_height;
}

// 1 when the finish ran through; a libjpeg error (lines missing, a failed write) gives 0.
int Finish(JpegState* s) {
  jmp_buf recovery;
  j_common_ptr common = s->writing ? reinterpret_cast<j_common_ptr>(&s->c) : reinterpret_cast<j_common_ptr>(&s->d);
  common->client_data = &recovery;
  if (setjmp(recovery)) {
    common->client_data = nullptr;
    return 0;
  }
  if (s->writing) jpeg_finish_compress(&s->c);
  else jpeg_finish_decompress(&s->d);
  common->client_data = nullptr;
  return 1;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Reading

int JpegOpenReadStream(MediaFile* file, FILE* fp) {
  if (!file || !fp) {
    if (fp) fclose(fp);
    return 0;
  }
  JpegState* s = NewState();
  if (!s) {
    fclose(fp);
    return 0;
  }
  s->fp = fp;
  if (!StartDecode(s)) {
    FreeState(s);
    fclose(fp);
    return 0;
  }
  file->jpeg = s;
  file->info.planes = 1;
  file->info.frameCount = 1;
  file->info.width = s->d.output_width;
  file->info.height = s->d.output_height;
  file->info.bytesPerPixel = s->d.out_color_space == JCS_GRAYSCALE ? 1 : 3;
  return 1;
}

int JpegOpenRead(MediaFile* file, const char* ansiPath) {
  if (!file || !ansiPath) return 0;
  FILE* fp = fopen(ansiPath, "rb");
  if (!fp) return 0;
  return JpegOpenReadStream(file, fp);
}

int JpegReadImage(MediaFile* file, uint64_t plane, uint64_t frame, uint64_t count, void* buffer) {
  if (!file || plane != 0 || frame != 0 || count > 1) return 0;
  if (count == 0) return 1;
  JpegState* s = file->jpeg;
  if (!s || s->writing || !buffer) return 0;
  // The lines come once per open: a second read finds none left and leaves the buffer.
  if (s->failed) return 0;
  if (!DecodeLines(s, static_cast<uint8_t*>(buffer), file->info.width * file->info.bytesPerPixel)) {
    s->failed = 1;
    return 0;
  }
  return 1;
}

// ---------------------------------------------------------------------------------------
// Writing

int JpegOpenWrite(MediaFile* file, const char* ansiPath) {
  if (!file || !ansiPath || file->info.frameCount != 1) return 0;
  const uint64_t bpp = file->info.bytesPerPixel;
  if (bpp != 1 && bpp != 3) return 0;
  if (file->info.width == 0 || file->info.height == 0 || file->info.width > JPEG_MAX_DIMENSION ||
      file->info.height > JPEG_MAX_DIMENSION)
    return 0;
  JpegState* s = NewState();
  if (!s) return 0;
  s->writing = 1;
  s->fp = fopen(ansiPath, "wb");
  if (!s->fp) {
    FreeState(s);
    return 0;
  }
  // Above 100 is 100: the library would clamp it too, but a value past INT_MAX would turn
  // negative on the way and come out as quality 1.
  const uint32_t quality = file->options.jpegQuality;
  if (!StartEncode(s, file->info, quality > 100 ? 100 : int(quality))) {
    FILE* fp = s->fp;
    FreeState(s);
    fclose(fp);
    return 0;
  }
  file->jpeg = s;
  return 1;
}

int JpegWriteImage(MediaFile* file, uint64_t plane, uint64_t count, const void* buffer) {
  if (!file || plane != 0 || count > 1) return 0;
  if (count == 0) return 1;
  JpegState* s = file->jpeg;
  if (!s || !s->writing || !buffer) return 0;
  if (!EncodeLines(s, static_cast<const uint8_t*>(buffer), file->info.width * file->info.bytesPerPixel)) {
    s->failed = 1;
    return 0;
  }
  return 1;
}

// ---------------------------------------------------------------------------------------
// Close

int JpegClose(MediaFile* file) {
  if (!file || !file->jpeg) return 1;
  JpegState* s = file->jpeg;
  file->jpeg = nullptr;
  // A reader may stop before its last line; the finish then fails and is skipped.  A
  // writer's finish writes the end of the file and flushes it: if that fails, or the
  // stream cannot be closed, the file on disk is truncated and the close says so.
  // After an error the object is only fit to be destroyed.
  int ok = s->failed ? 0 : Finish(s);
  const int writing = s->writing;
  FILE* fp = s->fp;
  FreeState(s);
  if (writing && (fflush(fp) != 0 || ferror(fp))) ok = 0;  // a failed flush leaves only the flag
  if (fclose(fp) != 0) ok = 0;
  return writing ? ok : 1;
}

// mp4_fuzz.cpp - the MP4 box parser, sample tables and frame index fed from memory.
// Decoding is left out: the codec library is not ours to fuzz, and what reaches it is
// checked here first.
#include "media/mp4.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Mp4Reader* r = Mp4ReaderParse(Mp4Source{nullptr, data, size});
  if (!r) return 0;
  // Everything the decoder would be handed must lie inside the input.
  uint8_t byte;
  for (const Mp4Sample& s : r->samples) {
    if (!Mp4SourceRead(&r->source, s.offset, &byte, 1) || !Mp4SourceRead(&r->source, s.offset + s.size - 1, &byte, 1))
      __builtin_trap();
  }
  // The frame index is a permutation of the samples.
  if (r->frameMap.size() != r->sampleCount || r->sampleFrame.size() != r->sampleCount) __builtin_trap();
  for (uint32_t f = 0; f < r->frameCount; ++f)
    if (r->frameMap[f] >= r->sampleCount || r->sampleFrame[r->frameMap[f]] != f) __builtin_trap();
  Mp4FindChild(r, r->track, "avcC");
  Mp4ReaderFree(r);
  return 0;
}

// avi_mutation_test.cpp - the AVI reader on deterministically damaged files: every header and
// index byte set to telling values, truncations at every length of the header area, and
// seeded random multi-byte damage over whole files.  Nothing may crash, hang or read out of
// bounds (the sanitizer build checks the last); a damaged file either opens or is refused.
#include "media/avi.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Fixture(const char* name, uint32_t w, uint32_t h, uint32_t bits, uint32_t codec, uint32_t frames, uint64_t partLimit) {
  std::string path = std::string(QV_TEST_OUT_DIR) + "/avi_mut_" + name + ".avi";
  AviFile* avi = AviWriterOpen(path.c_str(), w, h, bits, 40000, codec, 80);
  EXPECT_NE(avi, nullptr);
  if (!avi) return {};
  if (partLimit) AviWriterSetPartLimit(avi, partLimit);
  Bytes frame(size_t(w) * h * bits / 8);
  for (uint32_t i = 0; i < frames; ++i) {
    for (size_t k = 0; k < frame.size(); ++k) frame[k] = uint8_t((k * 7 + i * 31) ^ (k >> 3));
    EXPECT_EQ(AviWriteFrame(avi, frame.data()), 1);
  }
  EXPECT_EQ(AviWriterClose(avi), 1);
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// Opens and reads every frame; returns 1 when the file opened.
int Exercise(const Bytes& file) {
  AviFile* avi = AviReaderOpenMemory(file.data(), file.size());
  if (!avi) return 0;
  MediaInfo info{};
  AviReaderGetInfo(avi, &info);
  Bytes out(info.width * info.height * info.bytesPerPixel);
  for (uint64_t i = 0; i < info.frameCount && i < 64; ++i) AviReadFramesDirect(avi, i, 1, out.data());
  AviReaderFree(avi);
  return 1;
}

struct Rng {
  uint64_t s;
  uint32_t Next() {
    s = s * 6364136223846793005ull + 1442695040888963407ull;
    return uint32_t(s >> 33);
  }
};

class AviMutation : public ::testing::TestWithParam<int> {};

TEST_P(AviMutation, DamagedFilesNeverCrash) {
  Bytes base;
  switch (GetParam()) {
    case 0: base = Fixture("dib8", 6, 4, 8, AviCodecDib, 3, 0); break;
    case 1: base = Fixture("dib24", 5, 3, 24, AviCodecDib, 3, 0); break;
    case 2: base = Fixture("mjpg", 16, 8, 24, AviCodecMjpg, 2, 0); break;
    case 3: base = Fixture("png", 8, 6, 8, AviCodecPng, 2, 0); break;
    case 4: base = Fixture("odml", 16, 16, 24, AviCodecDib, 12, 4400); break;
  }
  ASSERT_FALSE(base.empty());
  ASSERT_EQ(Exercise(base), 1);

  // Every byte of the header area and of everything after the first frame chunk (indexes,
  // further parts) takes a few telling values; frame data bytes are sampled.
  const uint8_t values[] = {0x00, 0xFF, 0x7F, 0x80, 0x01};
  for (size_t at = 0; at < base.size(); at += (at >= 2100 && at < base.size() - 600) ? 13 : 1)
    for (uint8_t v : values) {
      if (base[at] == v) continue;
      Bytes m = base;
      m[at] = v;
      Exercise(m);
    }
  // 32-bit fields set to sizes near the limits.
  const uint32_t words[] = {0, 4, 8, 0x7FFFFFFF, 0x80000000u, 0xFFFFFFF8u, 0xFFFFFFFFu, uint32_t(base.size())};
  for (size_t at = 0; at + 4 <= base.size() && at < 2200; at += 4)
    for (uint32_t w : words) {
      Bytes m = base;
      for (int i = 0; i < 4; ++i) m[at + size_t(i)] = uint8_t(w >> (8 * i));
      Exercise(m);
    }
  // Truncations.
  for (size_t len = 0; len < base.size(); len += (len < 2200 ? 1 : 7)) Exercise(Bytes(base.begin(), base.begin() + long(len)));
  // Seeded random damage: several bytes at once, anywhere.
  Rng rng{uint64_t(GetParam()) * 7919 + 1};
  for (int round = 0; round < 3000; ++round) {
    Bytes m = base;
    int n = 1 + int(rng.Next() % 8);
    for (int k = 0; k < n; ++k) m[rng.Next() % m.size()] = uint8_t(rng.Next());
    Exercise(m);
  }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, AviMutation, ::testing::Range(0, 5));

}  // namespace

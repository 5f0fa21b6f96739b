// app_test_util.h - filters for the tests of the chain controller and the chain runner: one
// that writes every call it gets into a shared log, and small pictures.
#pragma once
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "app/filterctrl.h"

namespace apptest {

// A log of "name:call" lines that several filters (and threads) write into.
struct CallLog {
  std::mutex m;
  std::vector<std::string> lines;
  void Add(const std::string& s) {
    std::lock_guard<std::mutex> hold(m);
    lines.push_back(s);
  }
  std::vector<std::string> Take() {
    std::lock_guard<std::mutex> hold(m);
    std::vector<std::string> out;
    out.swap(lines);
    return out;
  }
};

// Records its notifications; optionally has a settings window (without opening one).
class RecordingFilter : public CImgFilter {
 public:
  RecordingFilter(CallLog* log, std::string name, int32_t dialog = 0)
      : log_(log), name_(std::move(name)), dialog_(dialog) {}
  ~RecordingFilter() override {
    if (log_) log_->Add(name_ + ":delete");
  }
  const wchar_t* GetName(const wchar_t* language) override {
    return IsJapanese(language) ? L"\x8A18\x9332" : L"Recording";
  }
  int32_t HasDialog() override { return dialog_; }
  void EnableDialog(int32_t e) override { Log("EnableDialog(" + std::to_string(e) + ")"); }
  void OnEnable(int32_t e) override { Log("OnEnable(" + std::to_string(e) + ")"); }
  void ShowDialog(int32_t show, CFgScreen* parent) override {
    Log(std::string("ShowDialog(") + std::to_string(show) + (parent ? ",parent)" : ",null)"));
  }
  void OnLanguageChanged(const wchar_t* language) override {
    std::string l;
    for (const wchar_t* p = language; p && *p; ++p) l += char(*p);
    Log("OnLanguageChanged(" + l + ")");
    CImgFilter::OnLanguageChanged(language);
  }
  void OnSourceChanged(uint64_t w, uint64_t h, uint64_t b, uint64_t s) override {
    Log("OnSourceChanged(" + std::to_string(w) + "," + std::to_string(h) + "," +
        std::to_string(b) + "," + std::to_string(s) + ")");
  }
  void OnScaleChanged(double, int32_t, const wchar_t*) override { Log("OnScaleChanged"); }
  void OnOverlayColorChanged(double, double, double) override { Log("OnOverlayColorChanged"); }
  void Process(CImgBuff*, uint64_t scene, int64_t, int64_t, int64_t, int64_t, uint32_t,
               uint32_t) override {
    Log("Process(" + std::to_string(scene) + ")");
  }
  void DrawOverlay(PixelToGlFn, PixelToGlFn, CFgScreen*, CFgFont*, int32_t, int32_t, int32_t,
                   int32_t, int32_t, int32_t, int32_t, int32_t, int32_t) override {
    Log("DrawOverlay");
  }

  void Log(const std::string& call) {
    if (log_) log_->Add(name_ + ":" + call);
  }

  CallLog* log_;
  std::string name_;
  int32_t dialog_;
};

// A filled picture of one format; every sample set from the pixel index.
inline void MakePicture(CImgBuff& img, int32_t w, int32_t h, int32_t format, uint32_t seed = 1) {
  ASSERT_EQ(1, img.Allocate(w, h, format));
  uint8_t* p = static_cast<uint8_t*>(img.Pixels());
  uint64_t n = uint64_t(w) * h * ImgBytesPerPixel[format];
  if (format == ImgFormatXyz) {
    double* d = static_cast<double*>(img.Pixels());
    for (uint64_t i = 0; i < uint64_t(w) * h * 3; ++i) d[i] = double((i * 37 + seed) % 101) / 100.0;
    return;
  }
  uint32_t s = seed * 2654435761u;
  for (uint64_t i = 0; i < n; ++i) {
    s = s * 1664525u + 1013904223u;
    p[i] = uint8_t(s >> 24);
  }
}

inline bool SamePixels(const CImgBuff& a, const CImgBuff& b) {
  if (a.Format() != b.Format() || a.Width() != b.Width() || a.Height() != b.Height()) return false;
  if (!a.Format()) return true;
  uint64_t n = uint64_t(a.Width()) * a.Height() * ImgBytesPerPixel[a.Format()];
  return std::memcmp(a.Pixels(), b.Pixels(), n) == 0;
}

}  // namespace apptest

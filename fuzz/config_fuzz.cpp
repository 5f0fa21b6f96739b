// config_fuzz.cpp - the settings file read from memory (ReadConfigFile).  A refused file
// leaves values and mask untouched; an accepted one sets only known bits, keeps every
// field in its range and every text terminated; and the values read are written back
// whole, as the program does at every exit (no value it took may make the file fail).
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "app/config.h"
#include "fuzz/cfg_fuzz.h"

namespace {

bool Terminated(const wchar_t* text, uint64_t units) { return wmemchr(text, 0, units) != nullptr; }

// A folder of this process for the written file (a safe save needs a folder it may write).
const std::wstring& OutPath() {
  static const std::wstring path = [] {
    std::string dir = "/tmp/qv_config_fuzz_" + std::to_string(getpid());
    mkdir(dir.c_str(), 0700);
    std::wstring w(dir.begin(), dir.end());
    return w + L"/quorvix_duvu.cfg";
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzMemoryFile file(data, size);
  if (!file.ok()) return 0;
  ConfigValues values;
  const ConfigValues before = values;
  uint32_t mask = 0xDEADBEEF;
  if (!ReadConfigFile(file.widePath(), &values, &mask)) {
    if (mask != 0xDEADBEEF || memcmp(&values, &before, sizeof values) != 0) abort();
    return 0;
  }
  if (mask >> 23) abort();
  const ConfigValues& v = values;
  if (!Terminated(v.lastDir, kConfigTextUnits) || !Terminated(v.language, kConfigTextUnits) ||
      !Terminated(v.unit, kConfigUnitUnits) || !Terminated(v.ext, kConfigExtUnits))
    abort();
  if (v.wheelMode < 0 || v.wheelMode > 2 || v.colorPicker < 0 || v.colorPicker > 7 || v.guideColor < 0 ||
      v.guideColor > 7 || (v.connect != 4 && v.connect != 8) || (v.axisY != 1 && v.axisY != -1) ||
      !(v.scale > 0) || v.msPerFrame == 0 || v.encodeCodec > 2 || v.encodeJpg < 1 || v.encodeJpg > 100 ||
      v.mp4Ql < 1 || v.mp4Ql > 101 || v.mp4BpsSel > 1 || v.mp4KeySel > 1)
    abort();
  if (WriteConfigFile(OutPath().c_str(), values) != 1) abort();
  return 0;
}

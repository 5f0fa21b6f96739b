// config.cpp - reading, writing and placing the settings file.
// Inside: value rules - reading - writing - the scale's decimals - the file's place
#include "app/config.h"

#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "app/cfgfile.h"
#include "core/text.h"
#include "toolkit/path.h"

namespace {

constexpr const wchar_t* kPackName = L"quorvix";
constexpr const wchar_t* kFileName = L"quorvix_duvu.cfg";

// ---------------------------------------------------------------------------------------
// Value rules

const wchar_t* Value(const CCfgPack* pack, const wchar_t* key) {
  const CCfgItem* item = pack->FindItem(key);
  return item ? item->value : nullptr;
}

// Copies text when it fits units whole; false (nothing copied) otherwise.
bool CopyWhole(wchar_t* dst, uint64_t units, const wchar_t* text) {
  const size_t n = wcslen(text);
  if (n >= units) return false;
  wmemcpy(dst, text, n + 1);
  return true;
}

// Copies at most units - 1 characters: the unit and extension keep their first characters.
void CopyCut(wchar_t* dst, uint64_t units, const wchar_t* text) {
  size_t n = wcslen(text);
  if (n > units - 1) n = units - 1;
  wmemcpy(dst, text, n);
  dst[n] = 0;
}

bool ExactlyZeroOrOne(const wchar_t* v, int32_t* out) {
  if (wcscmp(v, L"0") == 0) *out = 0;
  else if (wcscmp(v, L"1") == 0) *out = 1;
  else return false;
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Reading

int ReadConfigFile(const wchar_t* path, ConfigValues* values, uint32_t* outAccepted) {
  if (!path || !values) return 0;
  CCfgFile file;
  if (!file.Load(path)) return 0;
  const CCfgPack* pack = file.FindPack(kPackName);
  if (!pack) return 0;
  const wchar_t* version = Value(pack, L"cfg_ver");
  // A newer file's keys may mean other things; "x" reads as version 0 and is taken.
  if (!version || ParseUInt64(version) > 1) return 0;

  ConfigValues& v = *values;
  uint32_t accepted = 0;
  const wchar_t* t;
  if ((t = Value(pack, L"use_cpu"))) {
    v.useCpu = ParseInt(t);
    accepted |= kCfgUseCpu;
  }
  if ((t = Value(pack, L"last_dir")) && CopyWhole(v.lastDir, kConfigTextUnits, t))
    accepted |= kCfgLastDir;
  struct Ranged {
    const wchar_t* key;
    int32_t* field;
    int32_t low, high;
    uint32_t bit;
  } const ranged[] = {
      {L"wheel_mode", &v.wheelMode, 0, 2, kCfgWheelMode},
      {L"color_picker", &v.colorPicker, 0, 7, kCfgColorPicker},
      {L"guide_color", &v.guideColor, 0, 7, kCfgGuideColor},
  };
  for (const Ranged& r : ranged) {
    if (!(t = Value(pack, r.key))) continue;
    const int32_t n = ParseInt(t);
    if (n < r.low || n > r.high) continue;
    *r.field = n;
    accepted |= r.bit;
  }
  if ((t = Value(pack, L"frame_skip")) && ExactlyZeroOrOne(t, &v.frameSkip)) accepted |= kCfgFrameSkip;
  if ((t = Value(pack, L"auto_ms_per_frame")) && ExactlyZeroOrOne(t, &v.autoMsPerFrame))
    accepted |= kCfgAutoMsPerFrame;
  if ((t = Value(pack, L"ms_per_frame"))) {
    const uint64_t n = ParseUInt64(t);
    if (n != 0) {
      v.msPerFrame = n;
      accepted |= kCfgMsPerFrame;
    }
  }
  if ((t = Value(pack, L"zoom"))) {
    const int32_t n = ParseInt(t);
    if (n == -4 || n == -2 || n == 0 || n == 1 || n == 2 || n == 4 || n == 8 || n == 16) {
      v.zoom = n;
      accepted |= kCfgZoom;
    }
  }
  if ((t = Value(pack, L"connect"))) {
    const int32_t n = ParseInt(t);
    if (n == 4 || n == 8) {
      v.connect = n;
      accepted |= kCfgConnect;
    }
  }
  if ((t = Value(pack, L"bg")) && ExactlyZeroOrOne(t, &v.background)) accepted |= kCfgBackground;
  if ((t = Value(pack, L"lang")) && CopyWhole(v.language, kConfigTextUnits, t))
    accepted |= kCfgLanguage;
  if ((t = Value(pack, L"axis_y"))) {
    if (wcscmp(t, L"1") == 0 || wcscmp(t, L"-1") == 0) {
      v.axisY = wcscmp(t, L"1") == 0 ? 1 : -1;
      accepted |= kCfgAxisY;
    }
  }
  if ((t = Value(pack, L"scale"))) {
    const double s = ParseDouble(t, 0);
    if (s > 0) {
      v.scale = s;
      accepted |= kCfgScale;
    }
  }
  if ((t = Value(pack, L"unit"))) {
    CopyCut(v.unit, kConfigUnitUnits, t);
    accepted |= kCfgUnit;
  }
  if ((t = Value(pack, L"ext"))) {
    CopyCut(v.ext, kConfigExtUnits, t);
    accepted |= kCfgExt;
  }
  // Save settings: judged as unsigned 64-bit values, kept in 32-bit fields.
  struct Encode {
    const wchar_t* key;
    uint32_t* field;
    uint64_t low, high;  // high 0: no upper bound
    int boolean;         // any number, non-zero reads as 1
    uint32_t bit;
  } const encode[] = {
      {L"encode_codec", &v.encodeCodec, 0, 2, 0, kCfgEncodeCodec},
      {L"encode_jpg", &v.encodeJpg, 1, 100, 0, kCfgEncodeJpg},
      {L"encode_mp4_bps_sel", &v.mp4BpsSel, 0, 0, 1, kCfgMp4BpsSel},
      {L"encode_mp4_bps", &v.mp4Bps, 1, 0, 0, kCfgMp4Bps},
      {L"encode_mp4_ql", &v.mp4Ql, 1, 101, 0, kCfgMp4Ql},
      {L"encode_mp4_key_sel", &v.mp4KeySel, 0, 0, 1, kCfgMp4KeySel},
      {L"encode_mp4_key", &v.mp4Key, 1, 0, 0, kCfgMp4Key},
  };
  for (const Encode& e : encode) {
    if (!(t = Value(pack, e.key))) continue;
    const uint64_t n = ParseUInt64(t);
    if (e.boolean) {
      *e.field = n != 0 ? 1 : 0;
    } else {
      if (n < e.low || (e.high && n > e.high)) continue;
      *e.field = uint32_t(n);
    }
    accepted |= e.bit;
  }
  if (outAccepted) *outAccepted = accepted;
  return 1;
}

// ---------------------------------------------------------------------------------------
// Writing

int WriteConfigFile(const wchar_t* path, const ConfigValues& v) {
  if (!path || !*path) return 0;
  CCfgFile file;
  CCfgPack* pack = file.AddPack(kPackName);
  if (!pack) return 0;
  wchar_t scale[64];
  FormatConfigScale(v.scale, scale, 64);
  // Every number is written whole, whatever its length.
  auto n = [](auto value) { return std::to_wstring(value); };
  const std::wstring items[][2] = {
      {L"cfg_ver", L"1"},
      {L"use_cpu", n(v.useCpu)},
      {L"last_dir", v.lastDir},
      {L"wheel_mode", n(v.wheelMode)},
      {L"color_picker", n(v.colorPicker)},
      {L"guide_color", n(v.guideColor)},
      {L"frame_skip", n(v.frameSkip)},
      {L"auto_ms_per_frame", n(v.autoMsPerFrame)},
      {L"ms_per_frame", n(v.msPerFrame)},
      {L"zoom", n(v.zoom)},
      {L"connect", n(v.connect)},
      {L"bg", n(v.background)},
      {L"lang", v.language},
      {L"axis_y", n(v.axisY)},
      {L"scale", scale},
      {L"unit", v.unit},
      {L"ext", v.ext},
      {L"encode_codec", n(v.encodeCodec)},
      {L"encode_jpg", n(v.encodeJpg)},
      {L"encode_mp4_bps_sel", n(v.mp4BpsSel)},
      {L"encode_mp4_bps", n(v.mp4Bps)},
      {L"encode_mp4_ql", n(v.mp4Ql)},
      {L"encode_mp4_key_sel", n(v.mp4KeySel)},
      {L"encode_mp4_key", n(v.mp4Key)},
  };
  for (const auto& item : items)
    if (!pack->AddItem(item[0].c_str(), item[1].c_str())) return 0;
  return file.Save(path);
}

// ---------------------------------------------------------------------------------------
// The scale's decimals

void FormatConfigScale(double scale, wchar_t* out, uint64_t units) {
  if (!out || units == 0) return;
  // "%lf" wrote 0.0000001 as 0, which the next start refused: take the fewest decimals that
  // read back equal, within the 19 digits ParseDouble reads.
  std::wstring best;
  double bestError = -1;
  for (int precision = 0; precision <= 19; ++precision) {
    char text[400];
    auto r = std::to_chars(text, text + sizeof text, scale, std::chars_format::fixed, precision);
    if (r.ec != std::errc()) break;
    std::wstring w(text, r.ptr);
    if (w.find(L'.') != std::wstring::npos) {
      while (!w.empty() && w.back() == L'0') w.pop_back();
      if (!w.empty() && w.back() == L'.') w.pop_back();
    }
    size_t digits = 0;
    for (wchar_t c : w) digits += (c >= L'0' && c <= L'9') ? 1 : 0;
    if (digits > 19) break;
    const double back = ParseDouble(w.c_str(), 1);
    const double error = back > scale ? back - scale : scale - back;
    if (bestError < 0 || error < bestError) {
      best = w;
      bestError = error;
    }
    if (error == 0) break;
  }
  if (best.empty()) {
    FormatDouble(out, int64_t(units), scale);
    return;
  }
  CopyCut(out, units, best.c_str());
}

// ---------------------------------------------------------------------------------------
// The file's place

namespace {

int SystemWritable(const char* folder) { return access(folder, W_OK) == 0; }

bool JoinName(std::wstring folder, wchar_t* out, uint64_t units) {
  if (folder.empty()) return false;
  if (folder.back() != L'/') folder += L'/';
  folder += kFileName;
  return CopyWhole(out, units, folder.c_str());
}

}  // namespace

int ChooseConfigPath(const wchar_t* programFolder, int (*isWritable)(const char* folder),
                     wchar_t* out, uint64_t units) {
  if (!out || units == 0) return 0;
  if (!isWritable) isWritable = SystemWritable;
  if (programFolder && *programFolder) {
    char* narrow = WideToAnsi(programFolder);
    const int writable = narrow && isWritable(narrow);
    free(narrow);
    if (writable) return JoinName(programFolder, out, units) ? 1 : 0;
  }
  std::string base;
  const char* xdg = getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = getenv("HOME");
    if (!home || home[0] != '/') return 0;
    base = std::string(home) + "/.config";
  }
  base += "/quorvix";
  wchar_t* wide = AnsiToWide(base.c_str());
  if (!wide) return 0;
  const bool ok = JoinName(wide, out, units);
  free(wide);
  return ok ? 1 : 0;
}

int MakeConfigFolder(const wchar_t* path) {
  char* narrow = WideToAnsi(path);
  if (!narrow) return 0;
  std::string folder = narrow;
  free(narrow);
  const size_t slash = folder.rfind('/');
  if (slash == std::string::npos || slash == 0) return 1;
  folder.resize(slash);
  for (size_t i = 1; i <= folder.size(); ++i) {
    if (i == folder.size() || folder[i] == '/') {
      const std::string part = folder.substr(0, i);
      mkdir(part.c_str(), 0777);  // existing parts fail harmlessly
    }
  }
  struct stat st;
  return stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {
wchar_t g_testPath[kConfigPathUnits];
int g_testPathSet = 0;
}  // namespace

const wchar_t* ConfigFilePath() {
  if (g_testPathSet) return g_testPath;
  // Chosen once: reading at start and writing at exit use the same file.
  static wchar_t path[kConfigPathUnits];
  static const int chosen = ChooseConfigPath(GetProgramFolder(), nullptr, path, kConfigPathUnits);
  (void)chosen;
  return path;
}

void SetConfigFilePathForTesting(const wchar_t* path) {
  g_testPathSet = path && CopyWhole(g_testPath, kConfigPathUnits, path);
}

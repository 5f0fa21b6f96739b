// config.h - the settings file "quorvix_duvu.cfg": one pack "quorvix" of 24 keys that keep
// the user's settings between runs.  This file reads and writes the values; the main
// screen gathers them from its members before a save and applies what a read accepted,
// key by key in table order (LoadConfig and SaveConfig, mainscreen_config.cpp).
//
//   ConfigValues      every value the file holds, as the members keep them
//   ConfigKey         bit of each key in the "accepted" mask, in table order
//   ReadConfigFile    file -> the values it holds that pass their range rules
//   WriteConfigFile   values -> file, each written whole, through a safe save
//   ChooseConfigPath  the program folder when writable, else $XDG_CONFIG_HOME/quorvix
//   FormatConfigScale the shortest decimals that read back as the same scale
#pragma once

#include <cstdint>

constexpr uint64_t kConfigPathUnits = 1024;
constexpr uint64_t kConfigUnitUnits = 256;  // calibration unit: 255 characters
constexpr uint64_t kConfigExtUnits = 5;     // committed extension: 4 characters
constexpr uint64_t kConfigTextUnits = 1024; // last folder and language

enum ConfigKey : uint32_t {
  kCfgUseCpu = 1u << 0,
  kCfgLastDir = 1u << 1,
  kCfgWheelMode = 1u << 2,
  kCfgColorPicker = 1u << 3,
  kCfgGuideColor = 1u << 4,
  kCfgFrameSkip = 1u << 5,
  kCfgAutoMsPerFrame = 1u << 6,
  kCfgMsPerFrame = 1u << 7,
  kCfgZoom = 1u << 8,
  kCfgConnect = 1u << 9,
  kCfgBackground = 1u << 10,
  kCfgLanguage = 1u << 11,
  kCfgAxisY = 1u << 12,
  kCfgScale = 1u << 13,
  kCfgUnit = 1u << 14,
  kCfgExt = 1u << 15,
  kCfgEncodeCodec = 1u << 16,
  kCfgEncodeJpg = 1u << 17,
  kCfgMp4BpsSel = 1u << 18,
  kCfgMp4Bps = 1u << 19,
  kCfgMp4Ql = 1u << 20,
  kCfgMp4KeySel = 1u << 21,
  kCfgMp4Key = 1u << 22,
};

struct ConfigValues {
  int32_t useCpu = 0;                // written: active workers, -1 above the processors
  wchar_t lastDir[kConfigTextUnits] = {};
  int32_t wheelMode = 2;
  int32_t colorPicker = 1;
  int32_t guideColor = 1;
  int32_t frameSkip = 0;
  int32_t autoMsPerFrame = 1;
  uint64_t msPerFrame = 33;
  int32_t zoom = 0;
  int32_t connect = 8;
  int32_t background = 1;
  wchar_t language[kConfigTextUnits] = L"jp";
  int32_t axisY = 1;
  double scale = 1.0;
  wchar_t unit[kConfigUnitUnits] = {};
  wchar_t ext[kConfigExtUnits] = L"png";
  uint32_t encodeCodec = 1;
  uint32_t encodeJpg = 75;
  uint32_t mp4BpsSel = 0;
  uint32_t mp4Bps = 5000000;
  uint32_t mp4Ql = 25;
  uint32_t mp4KeySel = 1;
  uint32_t mp4Key = 10;
};

// Reads path into values: each key present with an accepted value replaces its field and
// sets its bit in *outAccepted; the rest keep what values held.  0 (values and mask
// untouched) when the file cannot be read, has no pack "quorvix", lacks "cfg_ver" or holds
// a version above 1.  "use_cpu" is stored as read; the caller maps it to a worker count.
int ReadConfigFile(const wchar_t* path, ConfigValues* values, uint32_t* outAccepted);
// Writes all 24 keys in table order; 1 when the file was replaced whole, 0 with the old
// file kept.
int WriteConfigFile(const wchar_t* path, const ConfigValues& values);

// The decimals of scale that read back equal through ParseDouble (at most its 19 digits),
// trailing zeros trimmed: 1, 2.5, 0.05, 0.0000001, 123456789.25.
void FormatConfigScale(double scale, wchar_t* out, uint64_t units);

// The settings file's path: in programFolder when isWritable says that folder is writable,
// else in $XDG_CONFIG_HOME/quorvix (an absolute value only), else $HOME/.config/quorvix.
// The file name is "quorvix_duvu.cfg".  0 when no folder is known or the path does not fit.
// isWritable null: the system's access check.
int ChooseConfigPath(const wchar_t* programFolder, int (*isWritable)(const char* folder),
                     wchar_t* out, uint64_t units);
// The path chosen once for this run (program folder from the toolkit); "" when none.
const wchar_t* ConfigFilePath();
// Tests point the settings file into a temporary folder (null: the chosen path again).
void SetConfigFilePathForTesting(const wchar_t* path);
// Makes the folder of path (and its parents) when missing; 1 when it exists afterwards.
int MakeConfigFolder(const wchar_t* path);

// config_test.cpp - the settings file: the first-run file byte for byte, the range rules
// of every key, version refusal, values that must survive a restart, and the file's place.
#include "app/config.h"

#include <gtest/gtest.h>

#include "tests/temp_folder.h"

#include <cstdlib>
#include <fstream>
#include <functional>
#include <vector>
#include <sstream>
#include <string>

namespace {

class ConfigTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(folder_.ok()); }
  void Write(const std::string& text) { qvtest::WriteWholeFile(folder_.File("quorvix_duvu.cfg"), text); }
  std::string Read() const { return qvtest::ReadWholeFile(folder_.File("quorvix_duvu.cfg")); }
  qvtest::TempFolder folder_{"config"};
  const std::string& dir_ = folder_.path();
  const std::wstring path_ = folder_.WideFile("quorvix_duvu.cfg");
};

const char kFirstRun[] =
    "[quorvix] {\n"
    " cfg_ver 1\n"
    " use_cpu 8\n"
    " last_dir \n"
    " wheel_mode 2\n"
    " color_picker 1\n"
    " guide_color 1\n"
    " frame_skip 0\n"
    " auto_ms_per_frame 1\n"
    " ms_per_frame 33\n"
    " zoom 0\n"
    " connect 8\n"
    " bg 1\n"
    " lang jp\n"
    " axis_y 1\n"
    " scale 1\n"
    " unit \n"
    " ext png\n"
    " encode_codec 1\n"
    " encode_jpg 75\n"
    " encode_mp4_bps_sel 0\n"
    " encode_mp4_bps 5000000\n"
    " encode_mp4_ql 25\n"
    " encode_mp4_key_sel 1\n"
    " encode_mp4_key 10\n"
    "}\n";

TEST_F(ConfigTest, FirstRunFileByteForByte) {
  ConfigValues v;
  v.useCpu = 8;
  ASSERT_EQ(WriteConfigFile(path_.c_str(), v), 1);
  EXPECT_EQ(Read(), kFirstRun);
  // Read back: the empty texts are not read at all, everything else is accepted as written.
  ConfigValues back;
  back.useCpu = 3;
  uint32_t accepted = 0;
  ASSERT_EQ(ReadConfigFile(path_.c_str(), &back, &accepted), 1);
  EXPECT_EQ(accepted, 0x7FFFFFu & ~(kCfgLastDir | kCfgUnit));
  EXPECT_EQ(back.useCpu, 8);
  EXPECT_STREQ(back.unit, L"");
  EXPECT_STREQ(back.language, L"jp");
}

// One key at a time on top of a valid version: what is taken, what is refused.
TEST_F(ConfigTest, RangeRulesOfEachKey) {
  struct Case {
    const char* line;
    uint32_t bit;  // 0: refused
    std::function<bool(const ConfigValues&)> check;
  };
  const Case cases[] = {
      {"use_cpu 0", kCfgUseCpu, [](const ConfigValues& v) { return v.useCpu == 0; }},
      {"use_cpu -7", kCfgUseCpu, [](const ConfigValues& v) { return v.useCpu == -7; }},
      {"use_cpu 3", kCfgUseCpu, [](const ConfigValues& v) { return v.useCpu == 3; }},
      {"wheel_mode 3", 0, nullptr},
      {"wheel_mode 1", kCfgWheelMode, [](const ConfigValues& v) { return v.wheelMode == 1; }},
      {"color_picker 8", 0, nullptr},
      {"color_picker 7", kCfgColorPicker, [](const ConfigValues& v) { return v.colorPicker == 7; }},
      {"guide_color -1", 0, nullptr},
      {"guide_color 0", kCfgGuideColor, [](const ConfigValues& v) { return v.guideColor == 0; }},
      {"frame_skip yes", 0, nullptr},
      {"frame_skip 01", 0, nullptr},
      {"frame_skip 1", kCfgFrameSkip, [](const ConfigValues& v) { return v.frameSkip == 1; }},
      {"auto_ms_per_frame 0", kCfgAutoMsPerFrame, [](const ConfigValues& v) { return v.autoMsPerFrame == 0; }},
      {"ms_per_frame 0", 0, nullptr},
      {"ms_per_frame 18446744073709551615", kCfgMsPerFrame,
       [](const ConfigValues& v) { return v.msPerFrame == 18446744073709551615ull; }},
      {"zoom 3", 0, nullptr},
      {"zoom 16", kCfgZoom, [](const ConfigValues& v) { return v.zoom == 16; }},
      {"zoom -4", kCfgZoom, [](const ConfigValues& v) { return v.zoom == -4; }},
      {"connect 6", 0, nullptr},
      {"connect 4", kCfgConnect, [](const ConfigValues& v) { return v.connect == 4; }},
      {"bg 2", 0, nullptr},
      {"bg 0", kCfgBackground, [](const ConfigValues& v) { return v.background == 0; }},
      {"lang en", kCfgLanguage, [](const ConfigValues& v) { return std::wstring(v.language) == L"en"; }},
      {"axis_y 2", 0, nullptr},
      {"axis_y -1", kCfgAxisY, [](const ConfigValues& v) { return v.axisY == -1; }},
      {"scale -2", 0, nullptr},
      {"scale 0", 0, nullptr},
      {"scale 2.5", kCfgScale, [](const ConfigValues& v) { return v.scale == 2.5; }},
      {"unit \xC2\xB5m", kCfgUnit, [](const ConfigValues& v) { return std::wstring(v.unit) == L"\u00B5m"; }},
      {"ext jpeg2000", kCfgExt, [](const ConfigValues& v) { return std::wstring(v.ext) == L"jpeg"; }},
      {"encode_codec 3", 0, nullptr},
      {"encode_codec 2", kCfgEncodeCodec, [](const ConfigValues& v) { return v.encodeCodec == 2; }},
      {"encode_jpg 0", 0, nullptr},
      {"encode_jpg 101", 0, nullptr},
      {"encode_jpg 100", kCfgEncodeJpg, [](const ConfigValues& v) { return v.encodeJpg == 100; }},
      {"encode_mp4_bps_sel 7", kCfgMp4BpsSel, [](const ConfigValues& v) { return v.mp4BpsSel == 1; }},
      {"encode_mp4_bps 0", 0, nullptr},
      {"encode_mp4_bps 4294967297", kCfgMp4Bps, [](const ConfigValues& v) { return v.mp4Bps == 1; }},
      {"encode_mp4_ql 101", kCfgMp4Ql, [](const ConfigValues& v) { return v.mp4Ql == 101; }},
      {"encode_mp4_ql 102", 0, nullptr},
      {"encode_mp4_key_sel 0", kCfgMp4KeySel, [](const ConfigValues& v) { return v.mp4KeySel == 0; }},
      {"encode_mp4_key 0", 0, nullptr},
      {"encode_mp4_key 250", kCfgMp4Key, [](const ConfigValues& v) { return v.mp4Key == 250; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Write(std::string("[quorvix] {\n cfg_ver 1\n ") + c.line + "\n}\n");
    ConfigValues v;
    const ConfigValues defaults;
    uint32_t accepted = 0xFFFFFFFF;
    ASSERT_EQ(ReadConfigFile(path_.c_str(), &v, &accepted), 1);
    EXPECT_EQ(accepted, c.bit);
    if (c.check) {
      EXPECT_TRUE(c.check(v));
    } else {  // refused: every field keeps its default
      EXPECT_EQ(v.wheelMode, defaults.wheelMode);
      EXPECT_EQ(v.zoom, defaults.zoom);
      EXPECT_EQ(v.scale, defaults.scale);
      EXPECT_EQ(v.encodeJpg, defaults.encodeJpg);
      EXPECT_EQ(v.mp4Ql, defaults.mp4Ql);
      EXPECT_EQ(v.frameSkip, defaults.frameSkip);
    }
  }
}

TEST_F(ConfigTest, VersionAndPackDecideWhetherAnythingIsRead) {
  struct Case {
    const char* text;
    int read;
  } cases[] = {
      {"[quorvix] {\n cfg_ver 2\n zoom 16\n}\n", 0},
      {"[quorvix] {\n zoom 16\n}\n", 0},
      {"[other] {\n cfg_ver 1\n zoom 16\n}\n", 0},
      {"[quorvix] {\n cfg_ver x\n zoom 16\n}\n", 1},  // not a number: version 0
      {"[quorvix] {\n zoom 16\n cfg_ver 0\n}\n", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Write(c.text);
    ConfigValues v;
    uint32_t accepted = 77;
    EXPECT_EQ(ReadConfigFile(path_.c_str(), &v, &accepted), c.read);
    EXPECT_EQ(v.zoom, c.read ? 16 : 0);
    EXPECT_EQ(accepted, c.read ? uint32_t(kCfgZoom) : 77u);
  }
  ConfigValues v;
  EXPECT_EQ(ReadConfigFile((path_ + L".missing").c_str(), &v, nullptr), 0);
}

TEST_F(ConfigTest, KeysInReverseOrderReadTheSame) {
  // The table's lines in reverse order.
  std::string forward = kFirstRun;
  std::istringstream lines(forward);
  std::string line, body;
  std::vector<std::string> items;
  while (std::getline(lines, line))
    if (line.size() > 1 && line[0] == ' ') items.push_back(line);
  for (auto it = items.rbegin(); it != items.rend(); ++it) body += *it + "\n";
  Write("[quorvix] {\n" + body + "}\n");
  ConfigValues v;
  uint32_t accepted = 0;
  ASSERT_EQ(ReadConfigFile(path_.c_str(), &v, &accepted), 1);
  EXPECT_EQ(accepted, 0x7FFFFFu & ~(kCfgLastDir | kCfgUnit));
}

TEST_F(ConfigTest, ValuesSurviveARestart) {
  ConfigValues v;
  v.useCpu = -1;
  v.msPerFrame = 18446744073709551615ull;
  v.scale = 123456789.25;
  wcscpy(v.lastDir, L"/home/\u6587 x/data");
  wcscpy(v.language, L"en");
  wcscpy(v.unit, L"\u00B5m");
  wcscpy(v.ext, L"tiff");
  v.mp4Bps = 4294967295u;
  ASSERT_EQ(WriteConfigFile(path_.c_str(), v), 1);
  ConfigValues back;
  ASSERT_EQ(ReadConfigFile(path_.c_str(), &back, nullptr), 1);
  EXPECT_EQ(back.useCpu, -1);
  EXPECT_EQ(back.msPerFrame, v.msPerFrame);
  EXPECT_EQ(back.scale, v.scale);
  EXPECT_STREQ(back.lastDir, v.lastDir);
  EXPECT_STREQ(back.language, L"en");
  EXPECT_STREQ(back.unit, v.unit);
  EXPECT_STREQ(back.ext, L"tiff");
  EXPECT_EQ(back.mp4Bps, 4294967295u);

  for (double scale : {0.0000001, 2.5, 0.05, 1.0 / 3.0, 1e-12, 96.0}) {
    SCOPED_TRACE(scale);
    v.scale = scale;
    ASSERT_EQ(WriteConfigFile(path_.c_str(), v), 1);
    ASSERT_EQ(ReadConfigFile(path_.c_str(), &back, nullptr), 1);
    EXPECT_EQ(back.scale, scale);
  }
}

TEST(ConfigScale, FewestDecimalsThatReadBack) {
  struct Case {
    double value;
    const wchar_t* text;
  } cases[] = {
      {1.0, L"1"}, {2.5, L"2.5"}, {0.05, L"0.05"}, {0.0000001, L"0.0000001"},
      {123456789.25, L"123456789.25"}, {1000.0, L"1000"},
  };
  for (const Case& c : cases) {
    wchar_t out[64];
    FormatConfigScale(c.value, out, 64);
    EXPECT_STREQ(out, c.text);
  }
}

TEST_F(ConfigTest, AFailedWriteKeepsTheOldFile) {
  Write(kFirstRun);
  ConfigValues v;
  v.useCpu = 2;
  EXPECT_EQ(WriteConfigFile((std::wstring(dir_.begin(), dir_.end()) + L"/no/such/f.cfg").c_str(), v), 0);
  EXPECT_EQ(Read(), kFirstRun);
}

int Writable(const char*) { return 1; }
int NotWritable(const char*) { return 0; }

TEST(ConfigPlace, ProgramFolderElseTheUsersConfigFolder) {
  const char* savedXdg = getenv("XDG_CONFIG_HOME");
  const std::string keepXdg = savedXdg ? savedXdg : "";
  const char* savedHome = getenv("HOME");
  const std::string keepHome = savedHome ? savedHome : "";
  wchar_t out[kConfigPathUnits];

  ASSERT_EQ(ChooseConfigPath(L"/opt/qv", Writable, out, kConfigPathUnits), 1);
  EXPECT_STREQ(out, L"/opt/qv/quorvix_duvu.cfg");
  ASSERT_EQ(ChooseConfigPath(L"/opt/qv/", Writable, out, kConfigPathUnits), 1);
  EXPECT_STREQ(out, L"/opt/qv/quorvix_duvu.cfg");

  setenv("XDG_CONFIG_HOME", "/x/conf", 1);
  setenv("HOME", "/home/u", 1);
  ASSERT_EQ(ChooseConfigPath(L"/usr/bin", NotWritable, out, kConfigPathUnits), 1);
  EXPECT_STREQ(out, L"/x/conf/quorvix/quorvix_duvu.cfg");
  setenv("XDG_CONFIG_HOME", "relative", 1);  // only an absolute value counts
  ASSERT_EQ(ChooseConfigPath(L"/usr/bin", NotWritable, out, kConfigPathUnits), 1);
  EXPECT_STREQ(out, L"/home/u/.config/quorvix/quorvix_duvu.cfg");
  unsetenv("XDG_CONFIG_HOME");
  ASSERT_EQ(ChooseConfigPath(L"", Writable, out, kConfigPathUnits), 1);
  EXPECT_STREQ(out, L"/home/u/.config/quorvix/quorvix_duvu.cfg");
  unsetenv("HOME");
  EXPECT_EQ(ChooseConfigPath(L"/usr/bin", NotWritable, out, kConfigPathUnits), 0);
  // A path that does not fit is refused, never cut.
  const std::wstring longFolder = L"/" + std::wstring(1010, L'd');
  EXPECT_EQ(ChooseConfigPath(longFolder.c_str(), Writable, out, kConfigPathUnits), 0);

  if (savedXdg) setenv("XDG_CONFIG_HOME", keepXdg.c_str(), 1);
  if (savedHome) setenv("HOME", keepHome.c_str(), 1);
}

TEST_F(ConfigTest, MakesTheConfigFolder) {
  const std::wstring nested = std::wstring(dir_.begin(), dir_.end()) + L"/a/quorvix/quorvix_duvu.cfg";
  ASSERT_EQ(MakeConfigFolder(nested.c_str()), 1);
  ConfigValues v;
  EXPECT_EQ(WriteConfigFile(nested.c_str(), v), 1);
}

}  // namespace

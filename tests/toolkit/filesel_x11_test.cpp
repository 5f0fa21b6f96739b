// filesel_x11_test.cpp - the file chooser end to end on a display server: input goes in as
// another program's events (typing a name, OK; a double click into a folder), and
// FgSelectFile hands back the joined path. A watchdog closes a chooser that hangs.
#include "toolkit/filesel.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/text.h"
#include "tests/toolkit/toolkit_test_util.h"

namespace {

using toolkittest::Wide;

std::function<void(CFgFileSelectScreen*)> g_action;
CFgFileSelectScreen* g_open = nullptr;
void Hook(CFgFileSelectScreen* c) {
  g_open = c;
  if (g_action) g_action(c);
}

void Click(CFgScreen* s, int32_t x, int32_t y) {
  ASSERT_EQ(PlatTestSendInput(s->GetWindow(), 0, 1, x, y), 1);
  ASSERT_EQ(PlatTestSendInput(s->GetWindow(), 1, 1, x, y), 1);
}
void ClickWidget(CFgScreen* s, const CFgUIObj& w) {
  Click(s, w.m_x + w.m_width / 2, w.m_y + w.m_height / 2);
}
void TypeKeys(CFgScreen* s, const char* text) {
  for (const char* p = text; *p; ++p) {
    ASSERT_EQ(PlatTestSendInput(s->GetWindow(), 2, uint32_t(uint8_t(*p)), 0, 0), 1);
    ASSERT_EQ(PlatTestSendInput(s->GetWindow(), 3, uint32_t(uint8_t(*p)), 0, 0), 1);
  }
}

// Runs FgSelectFile with a watchdog that closes the chooser after a few seconds.
int32_t SelectWithWatchdog(wchar_t* buf, uint64_t size, const FileSelectOptions* o) {
  std::atomic<int> finished{0};
  g_open = nullptr;
  std::thread dog([&] {
    for (int i = 0; i < 150 && !finished; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (!finished && g_open) {
      PlatMsg m;
      m.kind = PlatMsgClose;
      m.window = g_open->GetWindow();
      PlatPostMessage(m);
    }
  });
  int32_t r = FgSelectFile(buf, size, o, nullptr);
  finished = 1;
  dog.join();
  return r;
}

class FileSelectX11 : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!PlatHasDisplay()) GTEST_SKIP() << "no display";
    std::string tmpl = std::string(QV_TEST_OUT_DIR) + "/fsx11_XXXXXX";
    std::vector<char> b(tmpl.begin(), tmpl.end());
    b.push_back(0);
    ASSERT_NE(mkdtemp(b.data()), nullptr);
    root_ = b.data();
    mkdir((root_ + "/sub").c_str(), 0755);
    FgSetFileSelectHook(Hook);
    LastFolder[0] = 0;
  }
  void TearDown() override {
    FgSetFileSelectHook(nullptr);
    g_action = nullptr;
    LastFolder[0] = 0;
    if (!root_.empty()) (void)!system(("rm -rf '" + root_ + "'").c_str());
  }
  std::string root_;
};

TEST_F(FileSelectX11, TypeANameAndPressOk) {
  std::wstring start = Wide(root_);
  FileSelectOptions o;
  o.startPath = start.c_str();
  g_action = [](CFgFileSelectScreen* c) {
    ClickWidget(c, c->m_name);
    TypeKeys(c, "out.csv");
    ClickWidget(c, c->m_ok);
  };
  wchar_t buf[kFgPathUnits];
  ASSERT_EQ(SelectWithWatchdog(buf, kFgPathUnits, &o), 1);
  EXPECT_EQ(std::wstring(buf), start + L"/out.csv");
  EXPECT_EQ(std::wstring(LastFolder), start);
}

TEST_F(FileSelectX11, DoubleClickIntoAFolder) {
  std::wstring start = Wide(root_);
  FileSelectOptions o;
  o.startPath = start.c_str();
  g_action = [](CFgFileSelectScreen* c) {
    // Rows are 14 pixels from 1 below the list's top: ".", "..", "sub".
    int32_t x = c->m_folders.m_x + 30, y = c->m_folders.m_y + 1 + 2 * 14 + 7;
    Click(c, x, y);
    Click(c, x, y);  // lands below the new folder's last item: nothing more
    ClickWidget(c, c->m_name);
    TypeKeys(c, "f.txt");
    ClickWidget(c, c->m_ok);
  };
  wchar_t buf[kFgPathUnits];
  ASSERT_EQ(SelectWithWatchdog(buf, kFgPathUnits, &o), 1);
  EXPECT_EQ(std::wstring(buf), start + L"/sub/f.txt");
  EXPECT_EQ(std::wstring(LastFolder), start + L"/sub");
}

TEST_F(FileSelectX11, CancelLeavesLastFolder) {
  std::wstring start = Wide(root_);
  FileSelectOptions o;
  o.startPath = start.c_str();
  g_action = [](CFgFileSelectScreen* c) { ClickWidget(c, c->m_cancel); };
  wchar_t buf[kFgPathUnits];
  EXPECT_EQ(SelectWithWatchdog(buf, kFgPathUnits, &o), 0);
  EXPECT_STREQ(LastFolder, L"");
}

}  // namespace

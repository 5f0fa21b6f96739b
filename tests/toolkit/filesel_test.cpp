// filesel_test.cpp - the file chooser without a display (the window layer's headless mode):
// start folder, the name box, "..", the extension filter, typed paths, the access message,
// OK / Cancel / close, LastFolder and the caller's buffer.
#include "toolkit/filesel.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "core/text.h"
#include "toolkit/msgbox.h"
#include "tests/toolkit/toolkit_test_util.h"

namespace {

using toolkittest::Wide;

const int g_headless = (PlatTestSetHeadless(1), 0);

// A scratch tree: a/b, a/sub, files of several kinds; HOME points at it while it lives.
class Tree {
 public:
  Tree() {
    std::string tmpl = std::string(QV_TEST_OUT_DIR) + "/filesel_XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back(0);
    if (mkdtemp(buf.data())) root_ = buf.data();
    Folder("Documents");
    Folder("a");
    Folder("a/b");
    Folder("a/sub");
    for (const char* f : {"IMAGE.JPG", "notes.txt", "README", "shot.png", "dot."}) File(f);
    const char* h = getenv("HOME");
    oldHome_ = h ? h : "";
    setenv("HOME", root_.c_str(), 1);
    unsetenv("XDG_CONFIG_HOME");
  }
  ~Tree() {
    setenv("HOME", oldHome_.c_str(), 1);
    if (!root_.empty()) (void)!system(("rm -rf '" + root_ + "'").c_str());
  }
  void Folder(const std::string& p) { mkdir((root_ + "/" + p).c_str(), 0755); }
  void File(const std::string& p) {
    FILE* f = fopen((root_ + "/" + p).c_str(), "w");
    if (f) fclose(f);
  }
  std::wstring W(const std::string& sub = "") const {
    return Wide(sub.empty() ? root_ : root_ + "/" + sub);
  }
  const std::string& root() const { return root_; }

 private:
  std::string root_, oldHome_;
};

std::vector<std::wstring> Items(const CFgUIList& l) {
  std::vector<std::wstring> r;
  for (int i = 0; i < l.m_count; ++i) r.push_back(l.m_items[i].text);
  return r;
}

void Post(CFgScreen* s, int kind, int32_t x = 0, int32_t y = 0, uint32_t ch = 0) {
  PlatMsg m;
  m.kind = kind;
  m.window = s->GetWindow();
  m.x = x;
  m.y = y;
  m.ch = ch;
  PlatPostMessage(m);
}
void Click(CFgScreen* s, int32_t x, int32_t y) {
  Post(s, PlatMsgLButtonDown, x, y);
  Post(s, PlatMsgLButtonUp, x, y);
}
void ClickWidget(CFgScreen* s, const CFgUIObj& w) {
  Click(s, w.m_x + w.m_width / 2, w.m_y + w.m_height / 2);
}
void Type(CFgScreen* s, const std::wstring& text) {
  for (wchar_t c : text) Post(s, PlatMsgChar, 0, 0, uint32_t(c));
}

// What the hook saw, and what it does next.
struct Seen {
  std::wstring title, folder, name, path;
  std::vector<std::wstring> folders, files;
};
Seen g_seen;
std::function<void(CFgFileSelectScreen*)> g_action;
std::vector<std::wstring> g_messages;

void Hook(CFgFileSelectScreen* c) {
  g_seen.title = c->m_title;
  g_seen.folder = c->m_folder;
  g_seen.name = c->m_name.GetText();
  g_seen.path = c->m_path;
  g_seen.folders = Items(c->m_folders);
  g_seen.files = Items(c->m_files);
  if (g_action) g_action(c);
}

void BoxHook(CMsgboxScreen* box) {
  g_messages.push_back(std::wstring(box->m_lines[0].text) + L"|" + box->m_title);
  ClickWidget(box, box->m_first);
}

class FileSelectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    (void)g_headless;
    FgSetFileSelectHook(Hook);
    FgSetMessageBoxHook(BoxHook);
    LastFolder[0] = 0;
    g_messages.clear();
    g_seen = Seen();
  }
  void TearDown() override {
    FgSetFileSelectHook(nullptr);
    FgSetMessageBoxHook(nullptr);
    g_action = nullptr;
    LastFolder[0] = 0;
  }
};

TEST_F(FileSelectTest, DefaultsToDocumentsAndCancelKeepsLastFolder) {
  Tree t;
  g_action = [](CFgFileSelectScreen* c) { ClickWidget(c, c->m_cancel); };
  wchar_t buf[64] = L"untouched";
  EXPECT_EQ(FgSelectFile(buf, 64, nullptr, nullptr), 0);
  EXPECT_EQ(g_seen.title, L"ファイル選択");
  EXPECT_EQ(g_seen.folder, t.W("Documents"));
  EXPECT_EQ(g_seen.path, t.W("Documents") + L"/");  // an empty name leaves the "/"
  EXPECT_STREQ(LastFolder, L"");

  // The close box ends it the same way.
  g_action = [](CFgFileSelectScreen* c) { Post(c, PlatMsgClose); };
  FileSelectOptions o;
  o.title = L"open";
  EXPECT_EQ(FgSelectFile(buf, 64, &o, nullptr), 0);
  EXPECT_EQ(g_seen.title, L"open");
  EXPECT_STREQ(LastFolder, L"");

  // A buffer of size 0 or none is refused before any window opens.
  g_seen = Seen();
  EXPECT_EQ(FgSelectFile(buf, 0, nullptr, nullptr), 0);
  EXPECT_EQ(FgSelectFile(nullptr, 64, nullptr, nullptr), 0);
  EXPECT_EQ(g_seen.title, L"");
}

TEST_F(FileSelectTest, StartFileOkAndLastFolder) {
  Tree t;
  std::wstring start = t.W("a") + L"/img.png";  // the folder exists, the file need not
  FileSelectOptions o;
  o.startPath = start.c_str();
  // OK with an empty box does nothing; with the proposed name it ends.
  g_action = [](CFgFileSelectScreen* c) { ClickWidget(c, c->m_ok); };
  wchar_t buf[kFgPathUnits];
  ASSERT_EQ(FgSelectFile(buf, kFgPathUnits, &o, nullptr), 1);
  EXPECT_EQ(g_seen.folder, t.W("a"));
  EXPECT_EQ(g_seen.name, L"img.png");
  EXPECT_EQ(std::wstring(buf), start);
  EXPECT_EQ(std::wstring(LastFolder), t.W("a"));

  // The next question starts in the remembered folder.
  g_action = [](CFgFileSelectScreen* c) { ClickWidget(c, c->m_cancel); };
  FgSelectFile(buf, kFgPathUnits, nullptr, nullptr);
  EXPECT_EQ(g_seen.folder, t.W("a"));
  EXPECT_EQ(g_seen.folders, std::vector<std::wstring>({L".", L"..", L"b", L"sub"}));

  // A buffer too small for the path: 0, nothing cut, LastFolder as it was.
  LastFolder[0] = 0;
  g_action = [](CFgFileSelectScreen* c) { ClickWidget(c, c->m_ok); };
  wchar_t small[8] = L"old";
  EXPECT_EQ(FgSelectFile(small, 8, &o, nullptr), 0);
  EXPECT_STREQ(LastFolder, L"");
  EXPECT_EQ(small[7], 0);
}

TEST_F(FileSelectTest, EmptyNameKeepsTheChooserOpen) {
  Tree t;
  std::wstring start = t.W("a");
  FileSelectOptions o;
  o.startPath = start.c_str();
  int oks = 0;
  g_action = [&](CFgFileSelectScreen* c) {
    ClickWidget(c, c->m_ok);  // empty name: stays open
    ClickWidget(c, c->m_ok);
    // Then a name typed into the box, and OK.
    ClickWidget(c, c->m_name);
    Type(c, L"out.csv");
    ClickWidget(c, c->m_ok);
    ++oks;
  };
  wchar_t buf[kFgPathUnits];
  ASSERT_EQ(FgSelectFile(buf, kFgPathUnits, &o, nullptr), 1);
  EXPECT_EQ(g_seen.name, L"");
  EXPECT_EQ(std::wstring(buf), t.W("a") + L"/out.csv");
  EXPECT_EQ(oks, 1);
}

TEST_F(FileSelectTest, ExtensionFilter) {
  Tree t;
  std::wstring start = t.W();
  FileSelectOptions o;
  o.startPath = start.c_str();
  o.extensions = L"jpg jpeg tif tiff png bmp ";
  g_action = [](CFgFileSelectScreen* c) { ClickWidget(c, c->m_cancel); };
  wchar_t buf[kFgPathUnits];
  FgSelectFile(buf, kFgPathUnits, &o, nullptr);
  EXPECT_EQ(g_seen.files, std::vector<std::wstring>({L"IMAGE.JPG", L"shot.png"}));
  o.extensions = nullptr;
  FgSelectFile(buf, kFgPathUnits, &o, nullptr);
  EXPECT_EQ(g_seen.files, std::vector<std::wstring>(
                              {L"IMAGE.JPG", L"README", L"dot.", L"notes.txt", L"shot.png"}));
  EXPECT_EQ(g_seen.folders, std::vector<std::wstring>({L".", L"..", L"Documents", L"a"}));
}

// The chooser's parts driven directly, outside its loop.
class ChooserTest : public FileSelectTest {
 protected:
  void Open(const std::wstring& start) {
    ASSERT_EQ(c.Create(-1, -1, 492, 230, L"ファイル選択", FgStyleDialog, nullptr), 1);
    c.Build(start.c_str());
  }
  int Row(const CFgUIList& l, const wchar_t* text) {
    for (int i = 0; i < l.m_count; ++i)
      if (std::wstring(l.m_items[i].text) == text) return i;
    return -1;
  }
  void ClickItem(CFgUIList& l, const wchar_t* text) {
    int r = Row(l, text) - l.m_firstShown;
    ASSERT_GE(r, 0) << text;
    c.OnLButtonDown(l.m_x + 20, l.m_y + 1 + r * 14 + 7);
    c.OnLButtonUp(l.m_x + 20, l.m_y + 1 + r * 14 + 7);
  }
  CFgFileSelectScreen c;
};

TEST_F(ChooserTest, FoldersParentAndFiles) {
  Tree t;
  Open(t.W("a/b"));
  ClickItem(c.m_folders, L"..");
  EXPECT_EQ(std::wstring(c.m_folder), t.W("a"));
  ClickItem(c.m_folders, L"sub");
  EXPECT_EQ(std::wstring(c.m_folder), t.W("a/sub"));
  ClickItem(c.m_folders, L".");
  EXPECT_EQ(std::wstring(c.m_folder), t.W("a/sub"));
  ClickItem(c.m_folders, L"..");
  ClickItem(c.m_folders, L"..");
  ClickItem(c.m_files, L"notes.txt");
  EXPECT_STREQ(c.m_name.GetText(), L"notes.txt");
  EXPECT_EQ(std::wstring(c.m_path), t.W("notes.txt"));
  EXPECT_TRUE(g_messages.empty());
}

TEST_F(ChooserTest, RootParentStaysAtRoot) {
  Open(L"/");
  ASSERT_GE(Row(c.m_folders, L".."), 0);
  ClickItem(c.m_folders, L"..");
  EXPECT_STREQ(c.m_folder, L"/");
  EXPECT_STREQ(c.m_path, L"/");
}

TEST_F(ChooserTest, FolderThatCannotBeListed) {
  Tree t;
  Open(t.W("a"));
  // Gone between listing and click: the old listing stays, with the message.
  ASSERT_EQ(rmdir((t.root() + "/a/sub").c_str()), 0);
  ClickItem(c.m_folders, L"sub");
  EXPECT_EQ(std::wstring(c.m_folder), t.W("a"));
  EXPECT_EQ(std::wstring(c.m_path), t.W("a") + L"/");
  EXPECT_EQ(g_messages, std::vector<std::wstring>({L"アクセスできません|ファイル選択"}));
  EXPECT_GE(Row(c.m_folders, L"sub"), 0);
}

TEST_F(ChooserTest, TypedPaths) {
  Tree t;
  Open(t.W());
  struct Case {
    std::wstring typed;
    std::wstring folder;   // expected current folder
    std::wstring name;     // expected name box
    int message;           // access message shown
  } cases[] = {
      {L"a/b", t.W("a/b"), L"", 0},                 // relative to the listed folder
      {t.W("a") + L"/", t.W("a"), L"", 0},          // absolute, the box is emptied
      {t.W("a") + L"/x.png", t.W("a"), L"x.png", 0},
      {L"b/../sub", t.W("a/sub"), L"", 0},
      {L"/", L"/", L"", 0},
      {t.W("nothing") + L"/x.png", L"/", t.W("nothing") + L"/x.png", 1},  // kept to correct
      {L"plain.txt", L"/", L"plain.txt", 0},        // no "/": only the path is renewed
  };
  for (const Case& k : cases) {
    g_messages.clear();
    c.SetFocus(&c.m_name);
    c.m_name.SetLine(0, k.typed.c_str());
    c.SetFocus(&c.m_ok);  // the box is left
    EXPECT_EQ(std::wstring(c.m_folder), k.folder) << k.typed;
    EXPECT_EQ(std::wstring(c.m_name.GetText()), k.name) << k.typed;
    EXPECT_EQ(int(g_messages.size()), k.message) << k.typed;
  }
  // After going to a typed folder, OK does nothing (nothing would be joined twice), also
  // when OK comes while the box still has the focus.
  c.SetFocus(&c.m_name);
  c.m_name.SetLine(0, (t.W("a") + L"/").c_str());
  c.SetFocus(&c.m_ok);
  c.m_done = c.m_result = 0;
  c.OnKeyDown(L' ');
  c.OnKeyUp(L' ');
  EXPECT_EQ(c.m_result, 0);
  EXPECT_EQ(std::wstring(c.m_path), t.W("a") + L"/");
  c.m_name.SetLine(0, (t.W("a/b") + L"/").c_str());  // typed while OK has the focus
  c.m_done = c.m_result = 0;
  c.OnKeyDown(L' ');
  c.OnKeyUp(L' ');
  EXPECT_EQ(c.m_result, 0);
  EXPECT_EQ(std::wstring(c.m_path), t.W("a/b") + L"/");
}

TEST_F(ChooserTest, NameTooLongForAPathIsRefusedNotCut) {
  Tree t;
  Open(t.W("a"));
  std::wstring name(kFgPathUnits, L'n');
  c.m_name.SetLine(0, name.c_str());
  c.UpdatePath();
  EXPECT_EQ(c.m_pathFits, 0);
  EXPECT_STREQ(c.m_path, L"");
  c.SetFocus(&c.m_ok);
  c.OnKeyDown(L' ');
  c.OnKeyUp(L' ');
  EXPECT_EQ(c.m_result, 0);
}

}  // namespace

namespace {

// A typed path whose folder cannot be listed is told to the user; OK must not then end the
// chooser with that text joined to the listed folder.
TEST_F(ChooserTest, OkAfterAFailedTypedPathStaysOpen) {
  Tree t;
  Open(t.W("a"));
  std::wstring typed = t.W("nothing") + L"/x.png";
  c.SetFocus(&c.m_name);
  c.m_name.SetLine(0, typed.c_str());
  c.SetFocus(&c.m_ok);  // the box is left: the message
  ASSERT_EQ(g_messages.size(), 1u);
  c.m_done = c.m_result = 0;
  c.OnKeyDown(L' ');
  c.OnKeyUp(L' ');
  EXPECT_EQ(c.m_result, 0);
  EXPECT_EQ(c.m_done, 0);
  EXPECT_EQ(std::wstring(c.m_folder), t.W("a"));
  EXPECT_EQ(std::wstring(c.m_name.GetText()), typed);  // still there to be corrected
}

}  // namespace

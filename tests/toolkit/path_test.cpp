// path_test.cpp - path helpers on "/" paths, folder listing order, the Documents and
// program folders, and the extension filter.
#include "toolkit/path.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "core/text.h"
#include "tests/toolkit/toolkit_test_util.h"

namespace {

using toolkittest::Wide;

// A fresh folder under the test scratch folder, removed with everything in it at the end.
class TempFolder {
 public:
  TempFolder() {
    std::string tmpl = std::string(QV_TEST_OUT_DIR) + "/path_XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back(0);
    if (mkdtemp(buf.data())) path_ = buf.data();
  }
  ~TempFolder() {
    if (!path_.empty()) (void)!system(("rm -rf '" + path_ + "'").c_str());
  }
  void File(const std::string& name) {
    FILE* f = fopen((path_ + "/" + name).c_str(), "w");
    if (f) fclose(f);
  }
  void Folder(const std::string& name) { mkdir((path_ + "/" + name).c_str(), 0755); }
  const std::string& path() const { return path_; }
  std::wstring wpath() const { return Wide(path_); }

 private:
  std::string path_;
};

TEST(PathTest, CanonicaliseWorkedExamples) {
  struct Case {
    const wchar_t* in;
    const wchar_t* out;
  } cases[] = {
      {L"/a/b/../c", L"/a/c"},
      {L"/a/..", L"/"},  // the root stands where a drive would
      {L"/..", L"/"},    // ".." of the root is the root
      {L"/../x", L"/x"},
      {L"/a/b/../../..", L"/"},
      {L"/a/./b", L"/a/b"},
      {L"/a/.", L"/a"},
      {L"/.", L"/"},
      {L"/a/.b/..c/...", L"/a/.b/..c/..."},  // other dots stay
      {L"/a/b/", L"/a/b/"},
      {L"/a/b/./../c/.", L"/a/c"},
      {L"", L""},
      // A relative path stays relative: the parent of its first part is not the root.
      {L"a/../b", L"b"},
      {L"a/b/../../c", L"c"},
      {L"a/../../b", L"../b"},
      {L"a/b/..", L"a"},
  };
  for (const Case& c : cases) {
    wchar_t buf[64];
    wcscpy(buf, c.in);
    CanonicalisePath(buf);
    EXPECT_STREQ(buf, c.out) << c.in;
  }
  CanonicalisePath(nullptr);
}

TEST(PathTest, FileNameRemoveLastAndAppend) {
  EXPECT_STREQ(PathFileName(L"/a/b.png"), L"b.png");
  EXPECT_STREQ(PathFileName(L"b.png"), L"b.png");
  EXPECT_STREQ(PathFileName(L"/a/"), L"");
  EXPECT_EQ(PathFileName(L""), nullptr);
  EXPECT_EQ(PathFileName(static_cast<const wchar_t*>(nullptr)), nullptr);

  struct Cut {
    const wchar_t* in;
    const wchar_t* out;
  } cuts[] = {{L"/x", L"/"}, {L"/a/b", L"/a"}, {L"/", L"/"}, {L"abc", L"abc"},
              {L"a/b", L"a"}, {L"/a/b/", L"/a/b"}};
  for (const Cut& c : cuts) {
    wchar_t buf[32];
    wcscpy(buf, c.in);
    PathRemoveLast(buf);
    EXPECT_STREQ(buf, c.out) << c.in;
  }

  wchar_t buf[16] = L"/a";
  EXPECT_EQ(PathAppend(buf, 16, L"b"), 1);
  EXPECT_STREQ(buf, L"/a/b");
  EXPECT_EQ(PathAppend(buf, 16, nullptr), 1);
  EXPECT_STREQ(buf, L"/a/b");
  wcscpy(buf, L"/");
  EXPECT_EQ(PathAppend(buf, 16, L"x"), 1);
  EXPECT_STREQ(buf, L"/x");
  // Exactly full (15 units and the terminator) fits; one more fails and changes nothing.
  wcscpy(buf, L"/abcdefghij");  // 11 units
  EXPECT_EQ(PathAppend(buf, 16, L"klm"), 1);
  EXPECT_STREQ(buf, L"/abcdefghij/klm");
  EXPECT_EQ(PathAppend(buf, 16, L"n"), 0);
  EXPECT_STREQ(buf, L"/abcdefghij/klm");
  EXPECT_EQ(PathAppend(buf, 0, L"n"), 0);

  wchar_t small[4] = L"zz";
  EXPECT_EQ(PathCopy(small, 4, L"abcd"), 0);
  EXPECT_STREQ(small, L"zz");
  EXPECT_EQ(PathCopy(small, 4, L"abc"), 1);
  EXPECT_EQ(PathCopy(small, 0, L""), 0);
}

TEST(PathTest, RememberFolder) {
  struct Case {
    const wchar_t* in;
    const wchar_t* out;
  } cases[] = {{L"/data/", L"/data"}, {L"/", L"/"}, {L"/data/sub/..", L"/data"},
               {L"a/", L"a"},         {L"/a//", L"/a"}};
  for (const Case& c : cases) {
    EXPECT_EQ(FgRememberFolder(c.in), 1);
    EXPECT_STREQ(LastFolder, c.out) << c.in;
  }
  // Too long for the buffer: refused, nothing cut, the old folder stays.
  std::wstring longFolder = L"/" + std::wstring(kFgPathUnits, L'a');
  EXPECT_EQ(FgRememberFolder(longFolder.c_str()), 0);
  EXPECT_STREQ(LastFolder, L"/a");
  EXPECT_EQ(FgRememberFolder(nullptr), 0);
  LastFolder[0] = 0;
}

TEST(PathTest, ListingOrderAndFolderFlags) {
  TempFolder t;
  ASSERT_FALSE(t.path().empty());
  t.File("b.txt");
  t.File("B.txt");
  t.File("a");
  t.Folder("zdir");
  t.Folder("Adir");
  ASSERT_EQ(symlink((t.path() + "/zdir").c_str(), (t.path() + "/link").c_str()), 0);
  uint64_t n = 0;
  FolderEntry* e = ListFolder(t.wpath().c_str(), &n);
  ASSERT_NE(e, nullptr);
  std::vector<std::wstring> names;
  std::vector<int> folders;
  for (uint64_t i = 0; i < n; ++i) {
    names.push_back(e[i].name);
    folders.push_back(e[i].isFolder);
  }
  free(e);
  std::vector<std::wstring> wantNames = {L".",     L"..",    L"Adir", L"B.txt",
                                         L"a",     L"b.txt", L"link", L"zdir"};
  std::vector<int> wantFolders = {1, 1, 1, 0, 0, 0, 1, 1};
  EXPECT_EQ(names, wantNames);
  EXPECT_EQ(folders, wantFolders);
  EXPECT_EQ(FolderExists(t.wpath().c_str()), 1);
}

TEST(PathTest, ListingFailures) {
  TempFolder t;
  t.File("plain");
  uint64_t n = 7;
  struct Case {
    std::wstring folder;
  } cases[] = {{t.wpath() + L"/missing"}, {t.wpath() + L"/plain"}, {L""},
               // Longer than the system takes: refused by the system, not cut by us.
               {L"/" + std::wstring(5000, L'q')}};
  for (const Case& c : cases) {
    n = 7;
    EXPECT_EQ(ListFolder(c.folder.c_str(), &n), nullptr);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(FolderExists(c.folder.c_str()), 0);
  }
  EXPECT_EQ(ListFolder(nullptr, &n), nullptr);
  EXPECT_EQ(FolderExists(nullptr), 0);
  if (geteuid() != 0) {
    t.Folder("locked");
    chmod((t.path() + "/locked").c_str(), 0);
    EXPECT_EQ(FolderExists((t.wpath() + L"/locked").c_str()), 0);
    chmod((t.path() + "/locked").c_str(), 0755);
  }
}

TEST(PathTest, RootListsItsOwnParent) {
  uint64_t n = 0;
  FolderEntry* e = ListFolder(L"/", &n);
  ASSERT_NE(e, nullptr);
  ASSERT_GE(n, 2u);
  EXPECT_STREQ(e[0].name, L".");
  EXPECT_STREQ(e[1].name, L"..");
  free(e);
  // Choosing ".." at the root stays at the root.
  wchar_t buf[kFgPathUnits] = L"/";
  ASSERT_EQ(PathAppend(buf, kFgPathUnits, L".."), 1);
  CanonicalisePath(buf);
  EXPECT_STREQ(buf, L"/");
}

TEST(PathTest, DocumentsAndProgramFolders) {
  const char* oldHome = getenv("HOME");
  std::string saved = oldHome ? oldHome : "";
  const char* oldConfig = getenv("XDG_CONFIG_HOME");
  std::string savedConfig = oldConfig ? oldConfig : "";
  unsetenv("XDG_CONFIG_HOME");

  TempFolder home;
  setenv("HOME", home.path().c_str(), 1);
  EXPECT_EQ(std::wstring(GetDocumentsFolder()), home.wpath());  // no Documents: home
  home.Folder("Documents");
  EXPECT_EQ(std::wstring(GetDocumentsFolder()), home.wpath() + L"/Documents");
  home.Folder(".config");
  home.Folder("Dokumente");
  FILE* f = fopen((home.path() + "/.config/user-dirs.dirs").c_str(), "w");
  ASSERT_NE(f, nullptr);
  fputs("# comment\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\nXDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n",
        f);
  fclose(f);
  EXPECT_EQ(std::wstring(GetDocumentsFolder()), home.wpath() + L"/Dokumente");
  // A user-dirs entry naming a folder that is gone falls back.
  rmdir((home.path() + "/Dokumente").c_str());
  EXPECT_EQ(std::wstring(GetDocumentsFolder()), home.wpath() + L"/Documents");

  if (saved.empty())
    unsetenv("HOME");
  else
    setenv("HOME", saved.c_str(), 1);
  if (!savedConfig.empty()) setenv("XDG_CONFIG_HOME", savedConfig.c_str(), 1);

  // The program folder is where this test program lies.
  char exe[4096];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  ASSERT_GT(n, 0);
  exe[n] = 0;
  std::string folder(exe);
  folder = folder.substr(0, folder.rfind('/'));
  EXPECT_EQ(std::wstring(GetProgramFolder()), Wide(folder));
}

TEST(PathTest, ExtensionLists) {
  struct Norm {
    const wchar_t* in;
    const wchar_t* out;  // null: no list
  } norms[] = {
      {L"jpg jpeg tif tiff png bmp ", L"JPG JPEG TIF TIFF PNG BMP"},
      {L"\t a  \n b\t", L"A B"},
      {L"   ", nullptr},
      {L"", nullptr},
      {nullptr, nullptr},
      {L"Ab1_é", L"AB1_é"},  // only a..z change case
  };
  for (const Norm& c : norms) {
    wchar_t* n = NormaliseExtensionList(c.in);
    if (c.out)
      EXPECT_STREQ(n, c.out) << c.in;
    else
      EXPECT_EQ(n, nullptr) << (c.in ? c.in : L"(null)");
    free(n);
  }

  wchar_t* list = NormaliseExtensionList(L"jpg jpeg tif tiff png bmp ");
  struct Match {
    const wchar_t* ext;
    int32_t want;
  } matches[] = {{L"JPG", 1}, {L"jpg", 1}, {L"Tiff", 1}, {L"bmp", 1}, {L"txt", 0},
                 {L"jp", 0},  {L"jpgx", 0}, {L"", 0},    {nullptr, 0}};
  for (const Match& m : matches)
    EXPECT_EQ(MatchExtension(list, m.ext), m.want) << (m.ext ? m.ext : L"(null)");
  free(list);
  EXPECT_EQ(MatchExtension(nullptr, L"txt"), 1);
  EXPECT_EQ(MatchExtension(nullptr, nullptr), 1);
}

}  // namespace

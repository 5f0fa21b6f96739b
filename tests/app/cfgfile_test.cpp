// cfgfile_test.cpp - the settings text format: line rules, header and item rules, comma
// lists, list upkeep, byte-exact writing, round trips and a deterministic fuzz of the reader.
#include "app/cfgfile.h"

#include <gtest/gtest.h>

#include "fuzz/cfg_fuzz.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

// Reads every pack of the bytes through the stream entry point.
int ReadBytes(CCfgFile& cfg, const std::string& bytes)
{
    std::string copy = bytes.empty() ? std::string(1, '\0') : bytes;
    FILE* f = fmemopen(copy.data(), bytes.size(), "r");
    if (!f) f = tmpfile();  // an old C library may refuse an empty memory stream
    EXPECT_NE(f, nullptr);
    int r = cfg.Read(f);
    fclose(f);
    return r;
}

std::string WriteBytes(const CCfgFile& cfg, int* result = nullptr)
{
    char* buf = nullptr;
    size_t size = 0;
    FILE* f = open_memstream(&buf, &size);
    int r = 1;
    for (const CCfgPack* p = cfg.firstPack; p; p = p->next)
        if (!p->Write(f)) {
            r = 0;
            break;
        }
    fclose(f);
    std::string out(buf, size);
    free(buf);
    if (result) *result = r;
    return out;
}

// "name:key=value;key=value|name:..." - a compact picture of a file's packs.
std::wstring Describe(const CCfgFile& cfg)
{
    std::wstring s;
    for (const CCfgPack* p = cfg.firstPack; p; p = p->next) {
        if (!s.empty()) s += L"|";
        s += p->name;
        s += L":";
        for (const CCfgItem* it = p->firstItem; it; it = it->next) {
            if (it != p->firstItem) s += L";";
            s += it->key;
            s += L"=";
            s += it->value;
        }
    }
    return s;
}

// Checks that both directions of every list agree with each other and with the owners.
void ExpectConsistent(const CCfgFile& cfg)
{
    const CCfgPack* prev = nullptr;
    for (const CCfgPack* p = cfg.firstPack; p; p = p->next) {
        EXPECT_EQ(p->prev, prev);
        EXPECT_EQ(p->file, &cfg);
        const CCfgItem* prevItem = nullptr;
        for (const CCfgItem* it = p->firstItem; it; it = it->next) {
            EXPECT_EQ(it->prev, prevItem);
            EXPECT_EQ(it->pack, p);
            prevItem = it;
        }
        EXPECT_EQ(p->lastItem, prevItem);
        prev = p;
    }
    EXPECT_EQ(cfg.lastPack, prev);
}

TEST(CfgLine, TrimAndNormalize)
{
    struct Case {
        const wchar_t* in;
        bool trimOk;
        const wchar_t* trimmed;
        bool normOk;
        const wchar_t* normalized;
    } cases[] = {
        {L"  a b  ", true, L"a b", true, L"a b"},
        {L"\t\nkey \t  v1  v2\n", true, L"key \t  v1  v2", true, L"key v1  v2"},
        {L"word", true, L"word", false, L"word"},
        {L" \t\n ", false, L"", false, L""},
        {L"", false, L"", false, L""},
        {L"[a]\t{", true, L"[a]\t{", true, L"[a] {"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.in)));
        wchar_t buf[64];
        wcscpy(buf, c.in);
        EXPECT_EQ(TrimCfgLine(buf), c.trimOk);
        EXPECT_EQ(std::wstring(buf), c.trimmed);
        wcscpy(buf, c.in);
        EXPECT_EQ(NormalizeCfgLine(buf), c.normOk);
        EXPECT_EQ(std::wstring(buf), c.normalized);
    }
    EXPECT_FALSE(TrimCfgLine(nullptr));
    EXPECT_FALSE(NormalizeCfgLine(nullptr));
}

TEST(CfgRead, HeaderAndItemRules)
{
    const std::string name32(32, 'n');
    const std::string name33(33, 'n');
    struct Case {
        const char* name;
        std::string text;
        int result;
        std::wstring packs;
    } cases[] = {
        {"blanks before brace", "[a]   {\n k v\n}\n", 1, L"a:k=v"},
        {"leading blanks and tab", "  [a]\t{\n k v\n}\n", 1, L"a:k=v"},
        {"no blank before brace", "[a]{\n k v\n}\n", 1, L""},
        {"text after brace", "[a] { x\n k v\n}\n", 1, L""},
        {"32-character name", "[" + name32 + "] {\n k v\n}\n", 1,
         std::wstring(32, L'n') + L":k=v"},
        {"33-character name skipped with its items", "[" + name33 + "] {\n k v\n}\n[b] {\n x y\n}\n", 1,
         L"b:x=y"},
        {"empty name ends the read", "[a] {\n k v\n}\n[] {\n x y\n}\n[c] {\n}\n", 1, L"a:k=v"},
        {"inner and outer blanks of a value", "[a] {\n key   v1  v2  \n}\n", 1, L"a:key=v1  v2"},
        {"item without value disappears", "[a] {\n lonely   \n k v\n}\n", 1, L"a:k=v"},
        {"header inside a pack is an item", "[a] {\n[b] {\n}\n", 1, L"a:[b]={"},
        {"duplicate keys kept in order", "[a] {\n k 1\n k 2\n}\n", 1, L"a:k=1;k=2"},
        {"unterminated pack", "[a] {\n k v\n j w", 1, L"a:k=v;j=w"},
        {"lines outside packs ignored", "junk\n k v\n}\n[a] {\n}\nmore junk\n", 1, L"a:"},
        {"byte-order mark hides the first header", "\xEF\xBB\xBF[a] {\n k v\n}\n[b] {\n}\n", 1, L"b:"},
        {"carriage returns", "[a] {\r\n k v\r\n j two words\r\n}\r\n[b] {\r\n}\r\n", 1,
         L"a:k=v;j=two words|b:"},
        {"no packs", "nothing here\n", 1, L""},
        {"empty file", "", 1, L""},
        {"repeated pack names kept", "[a] {\n k 1\n}\n[a] {\n k 2\n}\n", 1, L"a:k=1|a:k=2"},
        {"NUL cuts a line", std::string("[a] {\n k v\0tail\n}\n", 18), 1, L"a:k=v"},
        {"invalid UTF-8 replaced", "[a] {\n k \xFF\xFE\n}\n", 1, L"a:k=\uFFFD\uFFFD"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CCfgFile cfg;
        EXPECT_EQ(ReadBytes(cfg, c.text), c.result);
        EXPECT_EQ(Describe(cfg), c.packs);
        ExpectConsistent(cfg);
    }
}

// A line longer than one read piece arrives as several lines, each judged on its own.
TEST(CfgRead, LongLineComesInPieces)
{
    std::string value(5000, 'x');
    std::string text = "[a] {\n k " + value + "\n after yes\n}\n";
    CCfgFile cfg;
    EXPECT_EQ(ReadBytes(cfg, text), 1);
    ASSERT_NE(cfg.firstPack, nullptr);
    const CCfgItem* k = cfg.firstPack->FindItem(L"k");
    ASSERT_NE(k, nullptr);
    // The first piece holds " k " and the start, cut so that the item fits a written line.
    EXPECT_EQ(wcslen(k->value), size_t(kCfgLineMax) - 3u);
    ASSERT_NE(cfg.firstPack->FindItem(L"after"), nullptr);
    ExpectConsistent(cfg);
}

TEST(CfgItem, CommaLists)
{
    struct Case {
        const wchar_t* value;
        std::vector<std::wstring> elements;
    } cases[] = {
        {L"10,20,30", {L"10", L"20", L"30"}},
        {L"1,2,,3", {L"1", L"2", L"", L"3"}},
        {L"1,2,", {L"1", L"2"}},
        {L"1,,", {L"1", L"", L""}},
        {L"", {L""}},
        {L",", {L"", L""}},
        {L"solo", {L"solo"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.value)));
        CCfgPack pack;
        CCfgItem* item = pack.AddItem(L"k", c.value);
        ASSERT_NE(item, nullptr);
        std::vector<std::wstring> got;
        for (wchar_t* e = item->GetList(); e && got.size() < 10; e = item->GetNext(e)) got.push_back(e);
        EXPECT_EQ(got, c.elements);
    }
}

TEST(CfgItem, SetRefreshesListAndGuardsPointers)
{
    CCfgItem item;
    EXPECT_EQ(item.GetList(), nullptr);
    EXPECT_EQ(item.Set(nullptr, L"v"), 0);      // an item without a key needs one
    EXPECT_EQ(item.Set(L"k", nullptr), 0);
    ASSERT_EQ(item.Set(L"k", L"10,20,30"), 1);
    wchar_t* e = item.GetList();
    EXPECT_EQ(std::wstring(e), L"10");
    e = item.GetNext(e);
    EXPECT_EQ(std::wstring(e), L"20");
    e = item.GetNext(e);
    EXPECT_EQ(std::wstring(e), L"30");
    EXPECT_EQ(item.GetNext(e), nullptr);
    // Pointers outside the list copy give null.
    wchar_t other[4] = L"x";
    EXPECT_EQ(item.GetNext(other), nullptr);
    EXPECT_EQ(item.GetNext(item.listEnd), nullptr);
    EXPECT_EQ(item.GetNext(nullptr), nullptr);
    // A null key keeps the old one; the list follows the new value.
    ASSERT_EQ(item.Set(nullptr, L"7,8"), 1);
    EXPECT_STREQ(item.key, L"k");
    e = item.GetList();
    EXPECT_EQ(std::wstring(e), L"7");
    EXPECT_EQ(std::wstring(item.GetNext(e)), L"8");
}

TEST(CfgPack, NamesAndLists)
{
    CCfgPack pack;
    EXPECT_EQ(pack.SetName(L""), 0);
    EXPECT_EQ(pack.SetName(nullptr), 0);
    EXPECT_EQ(pack.SetName(std::wstring(33, L'a').c_str()), 0);
    ASSERT_EQ(pack.SetName(L"p"), 1);
    ASSERT_NE(pack.AddItem(L"a", L"1"), nullptr);
    EXPECT_EQ(pack.AddItem(nullptr, L"1"), nullptr);
    EXPECT_EQ(pack.AddItem(L"b", nullptr), nullptr);
    EXPECT_EQ(pack.SetName(std::wstring(33, L'a').c_str()), 0);    // refused: items stay
    EXPECT_NE(pack.firstItem, nullptr);
    ASSERT_EQ(pack.SetName(std::wstring(32, L'a').c_str()), 1);    // renaming empties
    EXPECT_EQ(pack.firstItem, nullptr);
    EXPECT_EQ(pack.lastItem, nullptr);
    EXPECT_EQ(pack.ParseItem(L"nokey"), 0);
    EXPECT_EQ(pack.ParseItem(L"  k  a b  "), 1);
    EXPECT_STREQ(pack.FindItem(L"k")->value, L"a b");
    EXPECT_EQ(pack.FindItem(L"K"), nullptr);    // exact, case-sensitive
    // Naming a pack with its own name (a way to empty it) keeps the name.
    ASSERT_EQ(pack.SetName(pack.name), 1);
    EXPECT_STREQ(pack.name, std::wstring(32, L'a').c_str());
    EXPECT_EQ(pack.firstItem, nullptr);
    pack.Clear();
    EXPECT_EQ(pack.name[0], 0);
    EXPECT_EQ(pack.firstItem, nullptr);
}

// Deleting an item or pack on its own mends its neighbours and its owner's ends.
TEST(CfgPack, DeletingMendsLists)
{
    CCfgFile cfg;
    CCfgPack* a = cfg.AddPack(L"a");
    CCfgPack* b = cfg.AddPack(L"b");
    CCfgPack* c = cfg.AddPack(L"c");
    ASSERT_TRUE(a && b && c);
    CCfgItem* i1 = b->AddItem(L"1", L"x");
    CCfgItem* i2 = b->AddItem(L"2", L"x");
    CCfgItem* i3 = b->AddItem(L"3", L"x");
    ASSERT_TRUE(i1 && i2 && i3);
    delete i2;
    ExpectConsistent(cfg);
    delete i1;
    delete i3;
    EXPECT_EQ(b->firstItem, nullptr);
    EXPECT_EQ(b->lastItem, nullptr);
    delete b;
    ExpectConsistent(cfg);
    EXPECT_EQ(Describe(cfg), L"a:|c:");
    delete a;
    delete c;
    EXPECT_EQ(cfg.firstPack, nullptr);
    EXPECT_EQ(cfg.lastPack, nullptr);
    EXPECT_EQ(cfg.AddPack(L""), nullptr);
    EXPECT_EQ(cfg.AddPack(nullptr), nullptr);
    EXPECT_EQ(cfg.firstPack, nullptr);
    cfg.AddPack(L"x");
    CCfgPack* second = cfg.AddPack(L"x");
    EXPECT_NE(cfg.FindPack(L"x"), second);  // the first of a repeated name
}

TEST(CfgWrite, ByteExactAndRoundTrip)
{
    CCfgFile cfg;
    CCfgPack* main = cfg.AddPack(L"quorvix");
    main->AddItem(L"cfg_ver", L"1");
    main->AddItem(L"path", L"/home/\u00B5m/\u6587\u5B57 x.png");
    main->AddItem(L"list", L"1,2,,3");
    main->AddItem(L"dup", L"first");
    main->AddItem(L"dup", L"second");
    cfg.AddPack(L"empty");
    CCfgPack* last = cfg.AddPack(L"pseudo-color");
    last->AddItem(L"LUT_R", L"0,1,2");

    int r = 0;
    std::string bytes = WriteBytes(cfg, &r);
    EXPECT_EQ(r, 1);
    EXPECT_EQ(bytes,
              "[quorvix] {\n"
              " cfg_ver 1\n"
              " path /home/\xC2\xB5m/\xE6\x96\x87\xE5\xAD\x97 x.png\n"
              " list 1,2,,3\n"
              " dup first\n"
              " dup second\n"
              "}\n"
              "[empty] {\n"
              "}\n"
              "[pseudo-color] {\n"
              " LUT_R 0,1,2\n"
              "}\n");

    // Through real files: Save, then Load into a file object that already holds a pack.
    const std::wstring path = L"" QV_TEST_OUT_DIR "/cfgfile_roundtrip.cfg";
    ASSERT_EQ(cfg.Save(path.c_str()), 1);
    CCfgFile back;
    back.AddPack(L"front");
    ASSERT_EQ(back.Load(path.c_str()), 1);
    EXPECT_EQ(Describe(back), L"front:|" + Describe(cfg));
    EXPECT_STREQ(back.FindPack(L"quorvix")->FindItem(L"dup")->value, L"first");
    ExpectConsistent(back);
}

TEST(CfgWrite, Refusals)
{
    CCfgPack unnamed;
    unnamed.AddItem(L"k", L"v");
    FILE* f = tmpfile();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(unnamed.Write(f), 0);
    EXPECT_EQ(ftell(f), 0);     // nothing written
    fclose(f);

    CCfgPack named;
    named.SetName(L"p");
    EXPECT_EQ(named.Write(nullptr), 0);

    // Lines the format cannot carry: that item is left out and reported, the rest stays.
    struct Case {
        const char* name;
        std::wstring value;
    } cases[] = {
        {"line feed in value", L"a\n}\n[evil] {"},
        {"carriage return in value", L"a\rb"},
        {"line past the limit", std::wstring(kCfgLineMax, L'v')},
        // Three bytes each: " k " and 1365 of them take 4098 bytes, 1400 take 4203.
        {"multi-byte line one character past the limit", std::wstring(1365, L'\u65E5')},
        {"multi-byte line far past the limit", std::wstring(1400, L'\u65E5')},
        {"lone surrogate", L"a\xD800" L"b"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CCfgFile cfg;
        CCfgPack* p = cfg.AddPack(L"p");
        p->AddItem(L"ok", L"1");
        p->AddItem(L"bad", c.value.c_str());
        p->AddItem(L"after", L"2");
        int r = 1;
        EXPECT_EQ(WriteBytes(cfg, &r), "[p] {\n ok 1\n after 2\n}\n");
        EXPECT_EQ(r, 0);
    }
    // Saving a file: a pack holding such an item is reported, later packs still land.
    {
        CCfgFile cfg;
        cfg.AddPack(L"first")->AddItem(L"bad", L"x\ny");
        cfg.AddPack(L"second")->AddItem(L"keep", L"1");
        const wchar_t* path = L"" QV_TEST_OUT_DIR "/cfg_bad_item.cfg";
        EXPECT_EQ(cfg.Save(path), 0);
        CCfgFile back;
        EXPECT_EQ(back.Load(path), 1);
        EXPECT_EQ(Describe(back), L"first:|second:keep=1");
    }
    // The longest line that fits is written whole and reads back.
    CCfgFile cfg;
    CCfgPack* p = cfg.AddPack(L"p");
    std::wstring longest(size_t(kCfgLineMax) - 3, L'v');   // " k " + value = kCfgLineMax
    p->AddItem(L"k", longest.c_str());
    int r = 0;
    std::string bytes = WriteBytes(cfg, &r);
    EXPECT_EQ(r, 1);
    CCfgFile back;
    ReadBytes(back, bytes);
    ASSERT_NE(back.firstPack, nullptr);
    EXPECT_EQ(std::wstring(back.firstPack->FindItem(L"k")->value), longest);
}

// Whatever the writer accepts reads back equal, and whatever the reader makes of a line,
// long multi-byte text and invalid bytes included, the writer takes again unchanged.
TEST(CfgWrite, LongMultiByteAndInvalidTextRoundTrips)
{
    auto roundTrip = [](const CCfgFile& cfg, int* written) {
        std::string bytes = WriteBytes(cfg, written);
        CCfgFile back;
        ReadBytes(back, bytes);
        return Describe(back);
    };
    // " k " + 1364 x U+65E5 is 4095 bytes: the longest line, written and read back whole;
    // a four-byte character at the very end of the line as well.
    const std::wstring longest(1364, L'\u65E5');
    const std::wstring astral = std::wstring(4092 - 4, L'a') + L"\U0001F600";
    for (const std::wstring& value : {longest, astral}) {
        CCfgFile cfg;
        CCfgPack* p = cfg.AddPack(L"\u8a2d\u5b9a");
        p->AddItem(L"k", value.c_str());
        p->AddItem(L"after", L"\u00b5");
        int written = 0;
        EXPECT_EQ(roundTrip(cfg, &written), Describe(cfg));
        EXPECT_EQ(written, 1);
    }

    // Lines from a file: invalid bytes become U+FFFD (three bytes each), a full piece
    // fills the read buffer, a cut may fall inside a character or leave blanks at the end.
    // What is read must be written whole and read back equal.
    struct Case {
        const char* name;
        std::string line;
        size_t valueUnits;     // what the value keeps
    } cases[] = {
        {"invalid bytes grow threefold", " k " + std::string(4092, '\xFF'), 1364},
        {"a few invalid bytes in ASCII", " k " + std::string(4000, 'a') + std::string(40, '\xC3'), 4000 + 30},
        {"full piece of multi-byte text", " k " + [] {
             std::string s;
             for (int i = 0; i < 1400; ++i) s += "\xE6\x97\xA5";
             return s;
         }(), 1364},
        {"cut leaves trailing blanks", " k " + std::string(4088, 'b') + "    tail", 4088},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CCfgFile first;
        ReadBytes(first, "[p] {\n" + c.line + "\n}\n");
        ASSERT_NE(first.firstPack, nullptr);
        const CCfgItem* k = first.firstPack->FindItem(L"k");
        ASSERT_NE(k, nullptr);
        EXPECT_EQ(wcslen(k->value), c.valueUnits);
        int written = 0;
        EXPECT_EQ(roundTrip(first, &written), Describe(first));
        EXPECT_EQ(written, 1);
    }
}

TEST(CfgLoad, MissingFileLeavesObjectUnchanged)
{
    CCfgFile cfg;
    cfg.AddPack(L"keep");
    EXPECT_EQ(cfg.Load(L"" QV_TEST_OUT_DIR "/no/such/file.cfg"), 0);
    EXPECT_EQ(Describe(cfg), L"keep:");
    EXPECT_EQ(cfg.Load(nullptr), 0);
}

// Random bytes, and every truncation and some corruptions of a real file: the reader
// must never crash or overrun (the sanitizers watch), what it keeps must be sane, and the
// writer must give it back as it was read.
TEST(CfgRead, FuzzRandomAndTruncated)
{
    std::mt19937 rng(20240611);
    CCfgFile source;
    CCfgPack* p = source.AddPack(L"quorvix");
    p->AddItem(L"cfg_ver", L"1");
    p->AddItem(L"lang", L"\u65E5\u672C");
    p->AddItem(L"list", L"1,2,,3");
    source.AddPack(L"b")->AddItem(L"k", std::wstring(300, L'z').c_str());
    const std::string valid = WriteBytes(source);

    const char alphabet[] = "[]{} \t\r\n,ab\xC2\xB5\xE6\x96\x87\xFF";
    auto check = [](const std::string& bytes) {
        // The fuzz target's body: what was read is written and read back equal (it aborts
        // on a broken promise).
        FuzzCfgRoundTrip(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        CCfgFile cfg;
        ReadBytes(cfg, bytes);
        ExpectConsistent(cfg);
        for (const CCfgPack* pk = cfg.firstPack; pk; pk = pk->next) {
            ASSERT_GT(wcslen(pk->name), 0u);
            ASSERT_LE(wcslen(pk->name), size_t(kCfgNameMax));
            for (CCfgItem* it = pk->firstItem; it; it = it->next) {
                ASSERT_EQ(wcschr(it->key, L' '), nullptr);
                int n = 0;
                for (wchar_t* e = it->GetList(); e && n < 100000; e = it->GetNext(e)) ++n;
            }
        }
    };
    for (size_t cut = 0; cut <= valid.size(); ++cut) check(valid.substr(0, cut));
    for (int round = 0; round < 3000; ++round) {
        std::string bytes;
        int kind = round % 3;
        if (kind == 0) {
            bytes.resize(rng() % 300);
            for (auto& b : bytes) b = char(rng());
        } else if (kind == 1) {
            bytes.resize(rng() % 400);
            for (auto& b : bytes) b = alphabet[rng() % (sizeof(alphabet) - 1)];
        } else {
            bytes = valid;
            for (int k = 0; k < 4; ++k) bytes[rng() % bytes.size()] = char(rng());
            bytes.resize(rng() % (bytes.size() + 1));
            if (rng() % 4 == 0) bytes.insert(rng() % (bytes.size() + 1), std::string(4100 + rng() % 50, 'q'));
        }
        check(bytes);
    }
}

} // namespace

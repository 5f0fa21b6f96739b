// cfgfile.cpp - reading and writing the settings text format.
// Outside bytes are read in pieces of at most kReadPiece bytes into a fixed buffer, so a
// long line, a truncated file, a stray NUL or invalid UTF-8 cannot overrun anything: a
// long line simply arrives as several lines, each judged on its own.
// Inside: line helpers - items - packs (lists, reading, writing) - files
#include "app/cfgfile.h"

#include "core/safefile.h"
#include "core/text.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>

namespace {

// Bytes of one line piece, the line feed not counted: one more than the writer's longest
// line, so a line it wrote arrives whole.
constexpr size_t kReadPiece = size_t(kCfgLineMax) + 1;

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\n'; }

wchar_t* CopyWide(const wchar_t* text)
{
    size_t n = wcslen(text) + 1;
    auto copy = static_cast<wchar_t*>(malloc(n * sizeof(wchar_t)));
    if (copy) wmemcpy(copy, text, n);
    return copy;
}

// Reads one piece of a line: up to the line feed or kReadPiece bytes.  The line feed and
// a carriage return before it (files written on other systems) are dropped.  false at
// the end of the file when nothing was read.
bool ReadPiece(FILE* file, char (&buffer)[kReadPiece + 1])
{
    size_t n = 0;
    bool lineFeed = false;
    while (n < kReadPiece) {
        int c = getc(file);
        if (c == EOF) break;
        if (c == '\n') {
            lineFeed = true;
            break;
        }
        buffer[n++] = char(c);
    }
    if (n == 0 && !lineFeed) return false;
    if (n > 0 && buffer[n - 1] == '\r') --n;
    buffer[n] = 0;  // a NUL inside the line ends it early; nothing reads past this one
    return true;
}

// Bytes of one wide unit in UTF-8, or 0 for a unit that would not read back as itself: a
// surrogate (joined with its neighbour or turned into U+FFFD by the codec) or a value past
// U+10FFFF.
size_t Utf8Bytes(wchar_t unit)
{
    auto c = uint32_t(unit);
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return 0;
    return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
}

// A line being formatted: its wide text and the UTF-8 bytes it will take.
struct LineOut {
    wchar_t text[kCfgLineMax + 1];
    size_t len = 0;
    size_t bytes = 0;
};

// Appends text to a line being formatted; false when the line would pass kCfgLineMax bytes
// of UTF-8 (the reader takes no longer line whole), or the text holds a line break or a
// unit that would read back as something else: the line could not be read back equal.
bool Append(LineOut& line, const wchar_t* text)
{
    for (; *text; ++text) {
        if (*text == L'\n' || *text == L'\r') return false;
        size_t bytes = Utf8Bytes(*text);
        if (bytes == 0 || line.bytes + bytes > size_t(kCfgLineMax)) return false;
        line.text[line.len++] = *text;     // each unit takes a byte at least, so this fits
        line.bytes += bytes;
    }
    line.text[line.len] = 0;
    return true;
}

// Cuts a trimmed line read from a file so that it takes at most `limit` bytes of UTF-8,
// at a character boundary, and trims it again.  Invalid bytes grow into three-byte U+FFFD
// on decoding, and a piece may fill the whole read buffer: without the cut such an item
// would be refused when the file is written again, and the setting lost.
void CutToBytes(wchar_t* line, size_t limit)
{
    size_t bytes = 0;
    for (size_t i = 0; line[i]; ++i) {
        size_t n = Utf8Bytes(line[i]);
        bytes += n ? n : 3;     // the codec writes U+FFFD for what it cannot carry
        if (bytes > limit) {
            line[i] = 0;
            TrimCfgLine(line);
            return;
        }
    }
}

bool WriteLine(FILE* file, const wchar_t* line)
{
    char* utf8 = WideToUtf8(line);
    if (!utf8) return false;
    size_t n = strlen(utf8);
    bool ok = fwrite(utf8, 1, n, file) == n && putc('\n', file) != EOF;
    free(utf8);
    return ok;
}

} // namespace

// ---- line helpers -------------------------------------------------------------------

bool TrimCfgLine(wchar_t* text)
{
    if (!text || !text[0]) return false;
    size_t len = wcslen(text);
    size_t start = 0;
    while (start < len && IsBlank(text[start])) ++start;
    while (len > start && IsBlank(text[len - 1])) --len;
    len -= start;
    wmemmove(text, text + start, len);
    text[len] = 0;
    return len > 0;
}

bool NormalizeCfgLine(wchar_t* text)
{
    if (!TrimCfgLine(text)) return false;
    wchar_t* run = text;
    while (*run && *run != L' ' && *run != L'\t') ++run;
    if (!*run) return false;
    wchar_t* rest = run;
    while (*rest == L' ' || *rest == L'\t') ++rest;
    *run = L' ';
    wmemmove(run + 1, rest, wcslen(rest) + 1);
    return true;
}

// ---- items --------------------------------------------------------------------------

CCfgItem::~CCfgItem()
{
    if (pack) {
        if (prev) prev->next = next; else pack->firstItem = next;
        if (next) next->prev = prev; else pack->lastItem = prev;
    }
    free(key);
    free(value);
    free(listCopy);
}

int CCfgItem::Set(const wchar_t* newKey, const wchar_t* newValue)
{
    if (!newValue) return 0;
    if (!newKey && !key) return 0;
    wchar_t* valueCopy = CopyWide(newValue);
    if (!valueCopy) return 0;
    wchar_t* keyCopy = nullptr;
    if (newKey) {
        keyCopy = CopyWide(newKey);
        if (!keyCopy) {
            free(valueCopy);
            return 0;
        }
        free(key);
        key = keyCopy;
    }
    free(value);
    value = valueCopy;
    free(listCopy);
    listCopy = nullptr;
    listEnd = nullptr;
    return 1;
}

wchar_t* CCfgItem::GetList()
{
    if (!value) return nullptr;
    if (!listCopy) {
        wchar_t* copy = CopyWide(value);
        if (!copy) return nullptr;
        size_t len = wcslen(copy);
        for (size_t i = 0; i < len; ++i)
            if (copy[i] == L',') copy[i] = 0;
        listCopy = copy;
        listEnd = copy + len;
    }
    return listCopy;
}

wchar_t* CCfgItem::GetNext(const wchar_t* element) const
{
    if (!listCopy || !element) return nullptr;
    // Compared as addresses: element may be any pointer a caller hands in.
    auto at = reinterpret_cast<uintptr_t>(element);
    if (at < reinterpret_cast<uintptr_t>(listCopy) || at >= reinterpret_cast<uintptr_t>(listEnd))
        return nullptr;
    size_t index = size_t(element - listCopy);
    // An empty element is followed by the next unit, even when that is the list end: so
    // "1,," ends in two empty elements.
    if (listCopy[index] == 0) return listCopy + index + 1;
    while (listCopy[index] != 0) ++index;   // listEnd is a terminator, so this stops
    ++index;
    return listCopy + index < listEnd ? listCopy + index : nullptr;
}

// ---- packs --------------------------------------------------------------------------

CCfgPack::~CCfgPack()
{
    if (file) {
        if (prev) prev->next = next; else file->firstPack = next;
        if (next) next->prev = prev; else file->lastPack = prev;
    }
    Clear();
}

void CCfgPack::Clear()
{
    name[0] = 0;
    while (firstItem) delete firstItem;     // each item unlinks itself
}

int CCfgPack::SetName(const wchar_t* newName)
{
    if (!newName || !newName[0] || wcslen(newName) > size_t(kCfgNameMax)) return 0;
    // The new name may be this pack's own (renaming to empty the pack): keep it before
    // Clear wipes the field.
    wchar_t kept[kCfgNameMax + 1];
    wcscpy(kept, newName);
    Clear();
    wcscpy(name, kept);
    return 1;
}

CCfgItem* CCfgPack::AddItem(const wchar_t* key, const wchar_t* value)
{
    if (!key || !value) return nullptr;
    auto item = new (std::nothrow) CCfgItem();
    if (!item) return nullptr;
    if (!item->Set(key, value)) {
        delete item;
        return nullptr;
    }
    item->pack = this;
    item->prev = lastItem;
    if (lastItem) lastItem->next = item; else firstItem = item;
    lastItem = item;
    return item;
}

int CCfgPack::ParseItem(const wchar_t* line)
{
    if (!line) return 0;
    wchar_t* copy = CopyWide(line);
    if (!copy) return 0;
    int ok = 0;
    if (NormalizeCfgLine(copy)) {
        wchar_t* space = wcschr(copy, L' ');
        *space = 0;
        ok = AddItem(copy, space + 1) ? 1 : 0;
    }
    free(copy);
    return ok;
}

CCfgItem* CCfgPack::FindItem(const wchar_t* key) const
{
    if (!key) return nullptr;
    for (CCfgItem* item = firstItem; item; item = item->next)
        if (item->key && wcscmp(item->key, key) == 0) return item;
    return nullptr;
}

int CCfgPack::Read(FILE* stream)
{
    if (!stream) return 0;
    char bytes[kReadPiece + 1];
    // Looking for a header: "[name] {" once the first run of blanks is one space.
    for (;;) {
        if (!ReadPiece(stream, bytes)) return 0;
        wchar_t* line = Utf8ToWide(bytes);
        if (!line) continue;
        bool header = false;
        int result = 0;
        if (NormalizeCfgLine(line) && line[0] == L'[') {
            wchar_t* close = wcschr(line + 1, L']');
            if (close && wcscmp(close + 1, L" {") == 0 && close - (line + 1) <= kCfgNameMax) {
                header = true;
                *close = 0;
                result = SetName(line + 1);     // an empty name is refused: the read ends
            }
        }
        free(line);
        if (header) {
            if (!result) return 0;
            break;
        }
    }
    // Items up to "}" or the end of the file.
    while (ReadPiece(stream, bytes)) {
        wchar_t* line = Utf8ToWide(bytes);
        if (!line) continue;
        bool end = false;
        if (TrimCfgLine(line)) {
            if (wcscmp(line, L"}") == 0) {
                end = true;
            } else {
                // The writer puts one blank before the key and at most this line's blanks
                // between key and value: what fits here fits the writer's line again.
                CutToBytes(line, size_t(kCfgLineMax) - 1);
                ParseItem(line);
            }
        }
        free(line);
        if (end) break;
    }
    return 1;
}

int CCfgPack::Write(FILE* stream) const
{
    if (!stream || !name[0]) return 0;
    LineOut line;
    if (!Append(line, L"[") || !Append(line, name) || !Append(line, L"] {") || !WriteLine(stream, line.text))
        return 0;
    int result = 1;
    for (const CCfgItem* item = firstItem; item; item = item->next) {
        if (!item->key || !item->value) continue;
        // A line that does not fit, or a line break inside a key or value, would read
        // back as other lines (a value could even close the pack): that item is left
        // out and the call reports failure, but the rest of the pack is still written,
        // so one bad value cannot cost the user every setting behind it.
        line.len = 0;
        line.bytes = 0;
        if (!Append(line, L" ") || !Append(line, item->key) || !Append(line, L" ") || !Append(line, item->value)) {
            result = 0;
            continue;
        }
        if (!WriteLine(stream, line.text)) return 0;
    }
    return WriteLine(stream, L"}") ? result : 0;
}

// ---- files --------------------------------------------------------------------------

CCfgFile::~CCfgFile()
{
    while (firstPack) delete firstPack;     // each pack unlinks itself
}

CCfgPack* CCfgFile::AddPack(const wchar_t* packName)
{
    if (!packName) return nullptr;
    auto pack = new (std::nothrow) CCfgPack();
    if (!pack) return nullptr;
    if (!pack->SetName(packName)) {
        delete pack;
        return nullptr;
    }
    pack->file = this;
    pack->prev = lastPack;
    if (lastPack) lastPack->next = pack; else firstPack = pack;
    lastPack = pack;
    return pack;
}

CCfgPack* CCfgFile::FindPack(const wchar_t* packName) const
{
    if (!packName) return nullptr;
    for (CCfgPack* pack = firstPack; pack; pack = pack->next)
        if (wcscmp(pack->name, packName) == 0) return pack;
    return nullptr;
}

int CCfgFile::Read(FILE* stream)
{
    if (!stream) return 0;
    int result = 1;
    CCfgPack temp;
    while (temp.Read(stream)) {
        CCfgPack* pack = AddPack(temp.name);
        if (!pack) return 0;
        for (CCfgItem* item = temp.firstItem; item; item = item->next) {
            if (!pack->AddItem(item->key, item->value)) {
                result = 0;     // skip the rest of this pack, keep reading
                break;
            }
        }
    }
    return result;
}

int CCfgFile::Load(const wchar_t* path)
{
    char* ansi = WideToAnsi(path);
    if (!ansi) return 0;
    FILE* stream = fopen(ansi, "r");
    free(ansi);
    if (!stream) return 0;
    int result = Read(stream);
    fclose(stream);
    return result;
}

int CCfgFile::Save(const wchar_t* path) const
{
    // Written beside the target and renamed over it only after a good close: a failed
    // write keeps the old file.
    SafeFile out;
    if (!SafeFileOpenWide(&out, path)) return 0;
    // A pack that fails is reported, but the packs behind it are still written: the file
    // is the user's only copy of them.
    int result = 1;
    for (const CCfgPack* pack = firstPack; pack; pack = pack->next) {
        if (!pack->Write(out.stream)) result = 0;
    }
    if (!SafeFileCommit(&out)) result = 0;
    return result;
}

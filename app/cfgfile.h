// cfgfile.h - the settings text format: named packs of key-value lines.
// Used by the settings file, filter lists, and every filter's own parameter files.
//   [name] {
//    key value
//   }
// UTF-8 without a byte-order mark, one line feed per line, no escapes, no comments.
//
//   CCfgFile - an owning list of packs; reads and writes whole files
//   CCfgPack - one named pack, an owning list of items; reads and writes one pack
//   CCfgItem - one key and its value; the value can also be read as a comma list
#pragma once

#include <cstdio>

class CCfgFile;
class CCfgPack;

// Longest pack name, in wide characters.
constexpr int kCfgNameMax = 32;
// Longest line the writer writes, in bytes of UTF-8 (its leading blank included, the line
// feed not): the reader takes lines in pieces of kCfgLineMax + 1 bytes, so whatever the
// writer accepts reads back whole.  An item line read from a file is cut to fit it again.
constexpr int kCfgLineMax = 4095;

// Removes spaces, tabs and line feeds from both ends, in place; false for null or empty
// text or when nothing is left.
bool TrimCfgLine(wchar_t* text);
// Trims, then turns the first run of spaces and tabs into one space, in place; false when
// nothing is left or the text holds no blank.
bool NormalizeCfgLine(wchar_t* text);

class CCfgItem {
public:
    CCfgItem() = default;
    virtual ~CCfgItem();    // unlinks from its pack
    CCfgItem(const CCfgItem&) = delete;
    CCfgItem& operator=(const CCfgItem&) = delete;

    // Replaces the value and, when key is not null, the key.  The value is required, and
    // an item without a key needs one.  0 and no change on failure.
    int Set(const wchar_t* key, const wchar_t* value);

    // The value read as a comma-separated list: "1,2,,3" gives 1, 2, "", 3; "1,2," gives
    // 1 and 2; "1,," gives 1, "", ""; "" gives one empty element.  Elements point into a
    // copy owned by the item, valid until the next Set or the item's end.
    wchar_t* GetList();
    wchar_t* GetNext(const wchar_t* element) const;

    wchar_t* key = nullptr;
    wchar_t* value = nullptr;
    wchar_t* listCopy = nullptr;    // value with every ',' turned into a terminator
    wchar_t* listEnd = nullptr;     // the terminator that ends listCopy
    CCfgItem* next = nullptr;
    CCfgItem* prev = nullptr;
    CCfgPack* pack = nullptr;
};

class CCfgPack {
public:
    CCfgPack() = default;
    virtual ~CCfgPack();    // unlinks from its file, deletes its items
    CCfgPack(const CCfgPack&) = delete;
    CCfgPack& operator=(const CCfgPack&) = delete;

    // Refuses an empty name or one longer than kCfgNameMax; otherwise empties the pack
    // and takes the name.
    int SetName(const wchar_t* newName);
    void Clear();   // empties the name and deletes every item

    CCfgItem* AddItem(const wchar_t* key, const wchar_t* value);
    int ParseItem(const wchar_t* line);     // "key value" line; 0 without a blank
    CCfgItem* FindItem(const wchar_t* key) const;   // first exact match

    // Reads the next pack of file into this pack.  0 at the end of the file before a
    // header, or for a header with an empty name.
    int Read(FILE* file);
    // Writes the header, the items and the closing line.  0, writing nothing, for a null
    // file or an unnamed pack; 0 at once when the stream fails; 0 after writing the rest
    // of the pack when an item cannot be carried by the format (line break, a line past
    // kCfgLineMax bytes of UTF-8, a surrogate unit).
    int Write(FILE* file) const;

    wchar_t name[kCfgNameMax + 1] = {};
    CCfgItem* firstItem = nullptr;
    CCfgItem* lastItem = nullptr;
    CCfgPack* next = nullptr;
    CCfgPack* prev = nullptr;
    CCfgFile* file = nullptr;
};

class CCfgFile {
public:
    CCfgFile() = default;
    virtual ~CCfgFile();    // deletes every pack
    CCfgFile(const CCfgFile&) = delete;
    CCfgFile& operator=(const CCfgFile&) = delete;

    // Appends every pack of the file at path (packs already here stay in front).  0 when
    // the file cannot be opened, or some pack or item could not be added.
    int Load(const wchar_t* path);
    // The same over an open stream (also the entry point for feeding bytes from memory).
    int Read(FILE* stream);
    // Writes every pack in order to path, through a temporary beside it that replaces the
    // old file only after a good close (a failed write keeps the old file).  1 when all
    // were written whole; a failing pack does not stop the packs behind it.
    int Save(const wchar_t* path) const;

    CCfgPack* AddPack(const wchar_t* name);
    CCfgPack* FindPack(const wchar_t* name) const;  // first exact match

    CCfgPack* firstPack = nullptr;
    CCfgPack* lastPack = nullptr;
};

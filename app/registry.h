// registry.h - the 41 built-in filters by FilterId: the fixed table of who they are, the
// classes that the plug-in libraries register for them, the key registry built from both
// at start-up, and creating a filter by id (menus) or by key (filter lists).
//
//   FilterMenu            the menu that offers a filter (none: the mask filter)
//   FilterTableEntry      one filter of the table: id, class, key, both names, menu, window
//   FilterClassEntry      one class of a plug-in library as it registers: id, key, maker
//   FilterRegisterFn      the registry's side, handed to a library's registration call
//   RegisterFilterClass   that side: a class becomes the maker of its id
//   FilterRegistryRecord  key and id, as the key registry keeps them
//   BuildFilterRegistry   the key registry, from registered classes, else from the table
//   CreateFilterById      a new filter of a registered class (the menus)
//   CreateFilterByKey     a new filter for a registry key (the filter lists)
//
// The table knows every id from the start; an id whose class has not been registered
// creates nothing, so menus show it and filter lists naming it are refused.  The libraries
// register from the program's entry (and tests) before the main screen exists: there are no
// self-registering statics, which a static library would drop.
#pragma once
#include <cstdint>

class CImgFilter;

constexpr uint32_t kFilterIdFirst = 10000;
constexpr uint32_t kFilterIdLast = 10040;
constexpr uint32_t kFilterCount = kFilterIdLast - kFilterIdFirst + 1;  // 41
constexpr uint32_t kFilterIdGroupTag = 10022;
constexpr uint32_t kFilterIdMask = 10014;  // offered by no menu; only filter lists make it
// A registry key: at most 32 characters and the terminator, with room for one more.
constexpr int kFilterRegistryKeyUnits = 34;

enum FilterMenu : uint32_t {
  FilterMenuNone = 0,
  FilterMenuProcessing,
  FilterMenuColor,        // "Color image processing"
  FilterMenuPixel,        // "Pixel processing"
  FilterMenuBinary,       // "Binary image processing"
  FilterMenuDeformation,
  FilterMenuFourier,      // "Fourier transform"
  FilterMenuMeasure,
  FilterMenuTool,
};

struct FilterTableEntry {
  uint32_t id;
  const char* className;
  const wchar_t* key;
  const wchar_t* nameJa;
  const wchar_t* nameEn;
  FilterMenu menu;
  uint32_t hasWindow;
};

// In FilterId order, 10000 first.
extern const FilterTableEntry kFilterTable[kFilterCount];
// The entry of id; null outside 10000..10040.
const FilterTableEntry* FindFilterEntry(uint32_t id);

// ---- registration -------------------------------------------------------------------------
typedef CImgFilter* (*FilterMakerFn)();
struct FilterClassEntry {
  uint32_t id;           // FilterId
  const wchar_t* key;    // the filter key its GetKey gives
  FilterMakerFn make;    // a new filter, or null when memory is short
};
// The registry's side: adds one class; user is the registry's own pointer.
typedef void (*FilterRegisterFn)(const FilterClassEntry& entry, void* user);

// The class becomes the maker of its id (a later registration of the same id replaces it).
// An id outside the table or a null maker is ignored.  user is not used.  UI thread, before
// the registry is built or while no filter is being created.
void RegisterFilterClass(const FilterClassEntry& entry, void* user);
// The registered maker of id, null when none.
FilterMakerFn RegisteredFilterMaker(uint32_t id);
// Tests: forgets every registered class.
void ClearFilterClassesForTesting();

// A new filter of id's registered class, owned by the caller and in no chain; a group tag
// gets the type word 1.  Null for an id without a class or when memory is short.
CImgFilter* CreateFilterById(uint32_t id);
// The display name of id for the language (Japanese for exactly "jp") into out: from a
// temporary filter of the registered class, else from the table.  0 (out "") for an id
// outside the table or no room.
int32_t GetFilterDisplayName(uint32_t id, const wchar_t* language, wchar_t* out, uint64_t units);

// ---- the key registry -----------------------------------------------------------------------
struct FilterRegistryRecord {
  wchar_t key[kFilterRegistryKeyUnits];
  uint32_t id;
};

// Builds the 41 records in FilterId order: a registered class gives its key through a
// temporary filter (its GetKey), an id without a class the table's key.  1; 0 with the
// registry empty when the table cannot be had or a registered class makes no filter.
// Building again replaces the old table.
int32_t BuildFilterRegistry();
void FreeFilterRegistry();
uint64_t FilterRegistryCount();
const FilterRegistryRecord* FilterRegistryRecords();
// The first record whose key equals key exactly (case and all): a new filter of its id
// (CreateFilterById).  Null for no match, an id whose class is missing, or no memory.
CImgFilter* CreateFilterByKey(const wchar_t* key);

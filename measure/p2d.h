// p2d.h - the track file ".p2d" and the track table it stores: positions of IDs (tracked
// targets or particles) scene by scene.
//
//   P2dHeader        bytes 0..15 of a track file: magic, byte-order word, version, counts
//   P2dCalibration   bytes 16..39: length per pixel, Y axis, UTF-8 unit of at most 11 bytes
//   P2dPoint         one position in source pixels; (-1, -1) is no point
//   P2dError         error codes of the record operations and of CP2dData
//   P2dLastError     error of the last failed record operation (process-wide)
//   Read/WriteP2d*   the six record operations on an open binary stream
//   P2dPointCounts   whether a point is a position at all (every user tests through it)
//   P2dSetUnit, P2dUnitToWide   the unit field to and from wide text
//   P2dSaveBeside, P2dBytesLeft  safe whole-file save; bytes a stream has left to read
//   CP2dData         the whole table in memory, loaded and saved as one file
//
// Layout: header, calibration, then IDs x scenes points scene-major (the point of ID i in
// scene s is point s * IDs + i).  This system writes little-endian (byte-order word stored
// as 4C 48) and reads either order.
#pragma once
#include <cstdint>
#include <cstdio>

// Natural alignment leaves no padding in any of the three records: they are the bytes
// of the file as they stand.
struct P2dHeader {
  char magic[4];       // "P2D" and NUL
  uint16_t byteOrder;  // 0x484C in the writer's order
  uint16_t version;    // 1 written; 0 and 1 read
  uint32_t ids;        // ID count
  uint32_t scenes;     // scene count
};

struct P2dCalibration {
  double lengthPerPixel;
  int32_t yAxis;  // 1: y grows downwards, -1: upwards
  char unit[12];  // UTF-8, NUL-terminated, at most 11 bytes of text
};

struct P2dPoint {
  double x;  // source pixels, to the right
  double y;  // source pixels, downwards whatever the Y axis says
};
static_assert(sizeof(P2dHeader) == 16 && sizeof(P2dCalibration) == 24 && sizeof(P2dPoint) == 16);

enum P2dError : uint32_t {
  P2dErrorNone = 0,
  P2dErrorFile = 1,      // cannot open, or a read or write fell short
  P2dErrorMemory = 2,
  P2dErrorMagic = 3,
  P2dErrorVersion = 4,
  P2dErrorNothing = 5,   // nothing to save
  P2dErrorArgument = 6,  // bad argument, or an ID or scene outside the table
};

constexpr uint16_t P2dByteOrderNative = 0x484C;
constexpr uint16_t P2dVersion = 1;
// Largest ID or scene count a file may claim.  This system writes at most 100 scenes and
// about 10^5 tracks; the cap keeps the product of the two, and every loop over it, within
// what a file of that size can really hold.
constexpr uint32_t P2dMaxCount = uint32_t(1) << 20;

// Set by the six record operations when they fail; only ReadP2dPoints clears it itself.
extern uint32_t P2dLastError;

// Reads 16 bytes and checks them: short read 1, magic 3 (compared before any reversal),
// version above 1 gives 4, an ID or scene count above P2dMaxCount 6.  When the byte-order
// word is not 0x484C the version and both counts are reversed in place; the word stays as
// read, so that the calibration and the points are read in the same order.
int32_t ReadP2dHeader(FILE* file, P2dHeader* header);
// Writes the header with the byte-order word 0x484C and version 1.
int32_t WriteP2dHeader(FILE* file, const P2dHeader* header);
// Reads 24 bytes; the numbers reversed when byteOrder is not 0x484C; the unit's last byte
// is forced to 0, so the unit is always terminated.
int32_t ReadP2dCalibration(FILE* file, P2dCalibration* calibration, uint16_t byteOrder);
int32_t WriteP2dCalibration(FILE* file, const P2dCalibration* calibration);
// Clears P2dLastError, then reads count points (count 0 gives 6), reversing each number
// when byteOrder is not 0x484C.  A point that does not count is stored as (-1, -1).
int32_t ReadP2dPoints(FILE* file, uint64_t count, P2dPoint* points, uint16_t byteOrder);
int32_t WriteP2dPoints(FILE* file, uint64_t count, const P2dPoint* points);

// A point counts when both coordinates are finite and 0 <= v < 2^24: negative values are
// no point by the file's rule, and the upper bound keeps every later conversion to an
// integer box position defined.
bool P2dPointCounts(const P2dPoint& point);
constexpr P2dPoint P2dNoPoint = {-1.0, -1.0};

// Writes a wide unit as UTF-8 into the 12 bytes, cut at a character boundary to at most
// 11 bytes, the rest 0.  Null or unconvertible text gives an empty unit.
void P2dSetUnit(P2dCalibration* calibration, const wchar_t* unit);
// The unit as new wide text (free it); text that is not valid UTF-8 gives an empty text.
// Null only when memory is short.
wchar_t* P2dUnitToWide(const P2dCalibration& calibration);

// Writes a file through write(stream, context) by the safe save of core/safefile.h: a
// temporary beside path renamed over it after a good close; on any failure whatever stood at
// path stays as it was.
bool P2dSaveBeside(const char* path, bool (*write)(FILE*, void*), void* context);
// Bytes from the stream's position to its end, the position kept; -1 when the stream
// cannot tell (not seekable).  Readers compare a file's claimed sizes with it before they
// take memory.
int64_t P2dBytesLeft(FILE* file);

// The track table.  Every operation sets error to 0 at its start and to a failure's code.
// The point table exists exactly when both counts are non-zero.
class CP2dData {
 public:
  uint32_t error;
  P2dHeader header;
  P2dCalibration calibration;
  P2dPoint* points;  // owned; header.ids x header.scenes in file order, or null

  // The empty state: magic, 0x484C, version 1, counts 0, 1.0 per pixel, Y axis 1, no unit.
  CP2dData();
  virtual ~CP2dData();
  CP2dData(const CP2dData&) = delete;
  CP2dData& operator=(const CP2dData&) = delete;

  // Back to the empty state; also clears P2dLastError.
  void Clear();
  // ids x scenes points, all no point.  Both 0: error 6, nothing changed; no memory:
  // error 2 and the table empty.
  int32_t Create(uint32_t ids, uint32_t scenes);
  // A whole track file.  The table is replaced only when the file loaded; on failure it
  // stays as it was and error holds the code (1, 2, 3, 4 or 6).  The stream form reads
  // from the stream's position and leaves the stream open.
  int32_t Load(const char* path);
  int32_t Load(FILE* file);
  // A whole track file, written beside the target and renamed over it only when complete,
  // so a failed save leaves an existing file as it was.  No points: error 5, no file.
  int32_t Save(const char* path);
  // A new ID column, no point in every scene; its index, or -1 (error 2) with the table
  // unchanged.
  int32_t AddTrack();
  // Removes ID column id (the later IDs move down one); 1, or 0 with nothing changed
  // (error 6 for an ID outside, 2 when memory is short).
  int32_t RemoveTrack(int64_t id);
  // n scene rows: the first min(old, n) kept, new ones no point; 0 (error 2) unchanged.
  int32_t SetFrameCount(uint32_t n);
  // One point; an ID or scene outside the table gives error 6 and reads or stores nothing.
  int32_t GetPoint(int64_t id, int64_t scene, P2dPoint* point);
  int32_t SetPoint(int64_t id, int64_t scene, const P2dPoint& point);

  // Hands the whole table (counts, calibration, points) over from other, which is left
  // empty; used to replace a table only once a load has succeeded.
  void TakeFrom(CP2dData& other);
};

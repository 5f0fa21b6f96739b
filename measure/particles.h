// particles.h - the particles of particle tracking, scene by scene, and the rules that link
// the particle lists of four consecutive scenes into tracks.
//
//   ParticleRecord   one particle: track id (-1 = none), valid flag, position in pixels
//   SceneParticles   the records of one scene and the highest id added to it
//   CParticleData    the store: a table of scenes, each with its records
//   PtvList          one list of the sliding window (records, count, capacity)
//   PtvWindow        four lists, oldest (t - 3) first, and the buckets of one window step
//   PtvGateDistance, PtvFindNearest, PtvLinkCandidates, PtvDropUnlinked   the linking rules
//   PtvWindowStep    continuations, then new tracks, then the unlinked of list 0 dropped
//
// Linking buckets the three newer lists on a grid whose cell is 2 x max(R, G), the largest
// distance any search can accept, and visits only the cells a search circle touches.  The
// candidates are compared by (cost, list position), so the ids come out exactly as a scan
// of every particle in list order would hand them out.
#pragma once
#include <cstdint>

struct ParticleRecord {
  int32_t id;      // track id from 0; -1 while in no track
  uint32_t valid;  // 0: counts as absent for track files and joins
  double x, y;     // source pixels, y downward
};

struct SceneParticles {
  int32_t highestId;  // highest id added; -1 when none recorded
  uint32_t reserved;
  int32_t count;
  ParticleRecord* records;  // owned; null when the scene never had records
};

class CParticleData {
 public:
  SceneParticles* scenes = nullptr;  // owned, sceneCount entries
  int32_t sceneCount = 0;
  int32_t idCount = 0;  // cached; 0 = compute on the next IdCount

  CParticleData() = default;
  virtual ~CParticleData();
  CParticleData(const CParticleData&) = delete;
  CParticleData& operator=(const CParticleData&) = delete;

  void Clear();
  // n scenes: the first min(old, n) kept, new ones empty.  0 with nothing changed for n < 1
  // or no memory.
  int32_t SetFrameCount(int32_t n);
  // n records for the scene: the first min(n, old) kept, the rest {-1, 0, 0, 0}.  0 with
  // nothing changed for a scene outside, n < 0 or no memory.
  int32_t SetParticleCount(int32_t scene, int32_t n);
  int32_t IdCount();
  // The first record of the id in the scene; 0 for a scene outside, id < 0 or no record.
  int32_t GetParticle(int32_t scene, int32_t id, ParticleRecord* out) const;
  int32_t RemoveParticle(int32_t scene, int32_t id);
  // Removes the id everywhere; the larger ids move down one.  0 for id < 0.
  int32_t RemoveId(int32_t id);
  // Appends the record; its index, or -1 (scene outside, no memory).
  int32_t AddParticle(int32_t scene, const ParticleRecord& record);
  // Hands the whole store over from other, which is left empty.
  void TakeFrom(CParticleData& other);

 private:
  int32_t HighestOf(int32_t scene) const;
};

// The detection limit of a scene, and so the size of a window list in a tracking run.
constexpr int32_t kPtvMaxParticles = 4096;

struct PtvList {
  ParticleRecord* records;
  int32_t count;  // a negative count stands for a failed detection and counts as empty
  int32_t capacity;
};

// Buckets of one list: cell c holds the list positions items[start[c] .. start[c + 1]) in
// list order.
struct PtvBuckets {
  double x0 = 0, y0 = 0, cell = 1;  // grid origin and cell size
  int32_t nx = 1, ny = 1;
  int32_t* start = nullptr;  // nx * ny + 1 entries
  int32_t* items = nullptr;  // one per record
};

struct PtvWindow {
  PtvList lists[4] = {};
  // Run buffers, sized once by PtvWindowCreate: buckets of lists 1 to 3 and, for lists 1
  // and 2, (id, position) pairs sorted by id for the lookups of continuing tracks.
  PtvBuckets buckets[4];
  int64_t* byId[4] = {};
  int32_t byIdCount[4] = {};
  int32_t* scratch = nullptr;  // counting-sort scratch, one per record
  int32_t cellCapacity = 0;
  int32_t listCapacity = 0;
};

// Four empty lists of capacity records each and the step's buffers; 0 (window empty) when
// memory is short.
int32_t PtvWindowCreate(PtvWindow* window, int32_t capacity);
void PtvWindowFree(PtvWindow* window);
// Lists 1, 2, 3 become 0, 1, 2; the old list 0's storage becomes list 3, empty.
void PtvWindowRotate(PtvWindow* window);

// chain: one record per list, c0 oldest; k 2 or 3.  The squared distance from the place
// predicted from c(k-2) and c(k-1) to ck when inside the gate, else -1.
double PtvGateDistance(const ParticleRecord* const chain[4], double defaultRadius, int32_t k, int32_t predict,
                       int32_t adaptive);
// Continues the track of list 0's record index into list 3.  Needs PtvIndexWindow.
void PtvFindNearest(int32_t index, PtvWindow* window, double R, double G, int32_t predict, int32_t adaptive);
// Starts track newId at list 0's free record index through lists 1 to 3; 1 when it did.
// Needs PtvIndexWindow.
int32_t PtvLinkCandidates(int32_t index, PtvWindow* window, int32_t newId, double R, double minRadius, double G,
                          int32_t predict, int32_t adaptive);
// Keeps the records with an id, in order; always 1.
int32_t PtvDropUnlinked(PtvList* list);
// Buckets lists 1 to 3 and sorts lists 1 and 2 by id for one step with radii R and G.
void PtvIndexWindow(PtvWindow* window, double R, double G);
// One window step; nextId counts the tracks created.
void PtvWindowStep(PtvWindow* window, int32_t* nextId, double R, double G, int32_t predict, int32_t adaptive);

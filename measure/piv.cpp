// piv.cpp - the PIV run: the grid plan, the scene walk, one thread per frame pair, and the
// cutting, matching and storing of the cells over the worker pool.  "Fast processing" is the
// pyramid search, its answer checked at full size and replaced by the full search where the
// check fails.
// Inside: plan - run - pair thread - cells (fast answer check) - hierarchical matching
#include "measure/piv.h"

#include <cmath>
#include <cstdlib>
#include <new>

#include "app/filterctrl.h"
#include "core/parallel.h"
#include "engine/match.h"
#include "engine/region.h"
#include "platform/thread.h"
#include "platform/window.h"
#include "toolkit/msgbox.h"
#include "toolkit/screen.h"

namespace {

// One PIV run at a time in the process: the cancel test of the matching reads the running
// instance, and a second run inside the first one's message dispatching would walk the same
// host at the same time.
std::atomic<CLfPiv*> g_running{nullptr};

// The pair thread posts this when its result is set, ending the wait of the UI thread.
constexpr intptr_t kPivPairDone = 0x50495644;  // "PIVD"

}  // namespace

// ---- plan -----------------------------------------------------------------------------

int32_t CLfPiv::CellSize() const
{
  switch (CFgUIChkButton::GetGroupSelection(const_cast<CFgUIChkButton*>(&m_cell8))) {
    case 0: return 8;
    case 1: return 16;
    case 3: return 64;
    default: return 32;
  }
}

int32_t CLfPiv::Method() const
{
  // The hidden method value picks the hierarchical search; otherwise "fast processing".
  if (m_method.m_position == 2) return 2;
  return m_fast.m_checked ? 0 : 1;
}

int32_t CLfPiv::Factor() const
{
  static const int32_t kFactors[3] = {-2, 1, 2};
  const int32_t p = m_search.m_position;
  return p >= 0 && p <= 2 ? kFactors[p] : 1;
}

void CLfPiv::PlanGrid()
{
  const uint64_t w = m_sourceWidth, h = m_sourceHeight;
  const int64_t s = m_planCell;
  if (s >= 1 && w <= uint64_t(INT32_MAX) && h <= uint64_t(INT32_MAX) && w >= uint64_t(s) && h >= uint64_t(s) &&
      w / uint64_t(s) >= 3 && h / uint64_t(s) >= 3) {
    const int32_t nx = int32_t(w / uint64_t(s) - 2), ny = int32_t(h / uint64_t(s) - 2);
    m_planNx = nx;
    m_planNy = ny;
    m_planScenes = m_sceneCount;
    m_planX = int32_t((int64_t(w) - s * nx) / 2);
    m_planY = int32_t((int64_t(h) - s * ny) / 2);
    RedrawHost();
    return;
  }
  // A picture too small for the cell size has no grid: a stale plan of another size would
  // lay cells outside the picture.
  m_planNx = m_planNy = 0;
  m_planX = m_planY = 0;
  RedrawHost();
}

void CLfPiv::OnSourceChanged(uint64_t, uint64_t, uint64_t, uint64_t)
{
  if (Running()) return;
  {
    PlatformLockHold hold(FgDrawLock());
    m_field.Clear();
    SizeVectorTable();
  }
  PlanGrid();
}

void CLfPiv::Process(CImgBuff* picture, uint64_t, int64_t, int64_t, int64_t, int64_t, uint32_t, uint32_t)
{
  if (m_walk.Busy()) m_walk.Capture(picture);
  if (m_copyScale != m_scale || m_copyAxisY != m_axisY || wcsncmp(m_copyUnit, m_unit, kPivUnitUnits - 1) != 0) {
    {
      PlatformLockHold hold(FgDrawLock());
      m_copyScale = m_scale;
      m_copyAxisY = m_axisY;
      wcsncpy(m_copyUnit, m_unit, kPivUnitUnits - 1);
      m_copyUnit[kPivUnitUnits - 1] = 0;
      // The speeds scale with the calibration: their columns follow.
      if (!Running() && m_table.m_cell.m_hasContent) {
        FitFlowTableColumns(&m_table.m_cell, m_field, kResultColumnWidth);
        m_table.m_cell.Layout();
      }
    }
    if (m_table.GetWindow()) m_table.Redraw();
  }
}

// ---- run ------------------------------------------------------------------------------

CFgScreen* CLfPiv::MessageParent() { return GetWindow() ? static_cast<CFgScreen*>(this) : m_dialogParent; }

void CLfPiv::Message(const wchar_t* jp, const wchar_t* en, int32_t error)
{
  const bool ja = IsJapanese(m_language);
  const wchar_t* caption = error ? (ja ? L"エラー" : L"error") : (ja ? L"確認" : L"confirmation");
  FgMessageBox(ja ? jp : en, caption, 1, MessageParent());
}

void CLfPiv::ExecutePressed(CFgUIButton*, void* tool) { static_cast<CLfPiv*>(tool)->Execute(); }

int32_t CLfPiv::IsCancelled(void* instance)
{
  return instance ? static_cast<CLfPiv*>(instance)->m_cancel.load() : 0;
}

void CLfPiv::Execute()
{
  if (Running()) {
    m_cancel.store(1);
    m_walk.Cancel();
    return;
  }
  if (m_sceneCount < 2) {
    Message(L"2フレーム以上の画像が必要です", L"need an image of 2 frames or more", 1);
    return;
  }
  if (m_sceneCount > uint64_t(INT32_MAX)) {
    Message(L"メモリー不足です", L"poor memory", 1);
    return;
  }
  CLfPiv* expected = nullptr;
  if (!g_running.compare_exchange_strong(expected, this)) return;
  const int32_t scenes = int32_t(m_sceneCount);
  int32_t created;
  {
    PlatformLockHold hold(FgDrawLock());
    SizeVectorTable();  // emptied: nothing reads the field while it is replaced and written
    created = m_field.Create(m_planX, m_planY, m_planCell, m_planNx, m_planNy, scenes);
  }
  if (!created) {
    g_running.store(nullptr);
    Message(L"メモリー不足です", L"poor memory", 1);
    return;
  }
  {
    // Under the draw lock: an overlay drawing that saw the tool idle ends before any pair
    // writes the field.
    PlatformLockHold hold(FgDrawLock());
    m_running.store(1);
    m_cancel.store(0);
  }
  int32_t failed = 0, cancelled = 0;
  {
    CSceneWalkRun run(&m_walk, this, &m_exec);
    if (!run.Started()) {
      failed = 1;
    } else {
      RefreshDialog();
      PlanGrid();
      CImgBuff a, b;
      CImgBuff* previous = &a;
      CImgBuff* current = &b;
      int32_t r = m_walk.FetchScene(0, previous);
      if (r == SceneStopped) cancelled = 1;
      else if (r != SceneFetched) failed = 1;
      for (int32_t i = 1; i < scenes && !cancelled && !failed; ++i) {
        r = m_walk.FetchScene(uint64_t(i), current);
        if (r == SceneStopped) {
          cancelled = 1;
          break;
        }
        if (r != SceneFetched) {
          failed = 1;
          break;
        }
        if (!RunInThread(previous, current, i, Method(), m_large.m_checked ? 1 : 0, Factor(), &m_field)) {
          if (m_cancel.load() || QuitRequested) cancelled = 1;
          else failed = 1;
          break;
        }
        if (m_cancel.load() || QuitRequested) {
          cancelled = 1;  // the pair may have been cut short: its cells not matched stay zero
          break;
        }
        {
          PlatformLockHold hold(FgDrawLock());
          m_field.CheckFrame(i);
        }
        CImgBuff* t = previous;
        previous = current;
        current = t;
      }
    }
  }
  // A quit ends the run as a cancel does, without a word: the program is closing.
  if (cancelled && !QuitRequested) Message(L"中止しました", L"canceled", 0);
  else if (failed && !QuitRequested) Message(L"失敗しました", L"failed", 1);
  m_running.store(0);
  m_cancel.store(0);
  g_running.store(nullptr);
  RefreshDialog();
  m_tab.SelectPage(1, 1);
  CFgUICtrl::Redraw();
  {
    PlatformLockHold hold(FgDrawLock());
    SizeVectorTable();
  }
  if (m_table.GetWindow()) m_table.Redraw();
  RedrawHost();
}

// ---- pair thread ----------------------------------------------------------------------

namespace {

uint32_t PairThreadEntry(void* arg)
{
  CLfPiv::WorkerBody(static_cast<PivJob*>(arg));
  return 0;
}

}  // namespace

int32_t CLfPiv::RunInThread(CImgBuff* previous, CImgBuff* current, int32_t scene, int32_t method, int32_t large,
                            int32_t factor, CFlowData* field)
{
  PivJob job;
  job.previous = previous;
  job.current = current;
  job.scene = scene;
  job.method = method;
  job.large = large;
  job.factor = factor;
  job.field = field;
  job.cancelUser = this;
  m_pairScene.store(scene);
  if (!PlatformStartThread(PairThreadEntry, &job)) {
    m_pairScene.store(-1);
    return 0;
  }
  // Wait for the pair itself, dispatching window messages meanwhile: the pair thread posts
  // a message once its result is set, so a fast pair costs no fixed sleep.  After a quit
  // message nothing more is dispatched; the pair is waited for in short sleeps.
  PlatMsg msg;
  while (job.result.load() == -1) {
    if (QuitRequested || !PlatGetMessage(&msg)) {
      PlatformSleep(1);
      continue;
    }
    if (msg.kind == PlatMsgQuit) {
      QuitRequested = 1;
      continue;
    }
    if (msg.kind == PlatMsgUser && !msg.window && msg.param == kPivPairDone) continue;
    PlatDispatchMessage(msg);
  }
  m_pairScene.store(-1);
  return job.result.load();
}

void CLfPiv::WorkerBody(PivJob* job)
{
  int32_t result = 0;
  CFlowData* field = job->field;
  const int32_t s = field->Step(), nx = field->Nx(), ny = field->Ny();
  PivCellRecord* cells = nullptr;
  PivMatchContext context;
  if (field->HasGrid() && job->previous && job->current && job->previous->Format() != 0 &&
      job->current->Format() != 0) {
    context.searched = job->previous;
    context.current = job->current;
    context.cellSize = s;
    context.nx = nx;
    context.ny = ny;
    context.range = job->factor == 2 ? 2 * s : job->factor == -2 ? s / 2 : s;
    context.pyramid = job->method == 0 ? 1 : 0;
    context.large = job->method == 0 || job->method == 1 ? job->large : 0;
    context.subpixel = 1;
    context.originX = field->OriginX();
    context.originY = field->OriginY();
    context.field = field;
    context.scene = job->scene;
    context.cancelUser = job->cancelUser;
    const uint64_t count = uint64_t(nx) * uint64_t(ny);
    cells = new (std::nothrow) PivCellRecord[count];
    if (cells) {
      context.cells = cells;
      ParallelFor(CutCells, &context, count);
      if (!context.failed.load()) {
        MatchHierarchical(job->previous, &context, job->method > 0 ? job->method - 1 : 0);
        ParallelFor(StoreVectors, &context, uint64_t(ny));
        result = 1;
      }
      for (uint64_t k = 0; k < count; ++k) delete cells[k].pattern;
      delete[] cells;
    }
  }
  // Last touch of the job: the UI thread may leave RunInThread as soon as it sees this.
  job->result.store(result);
  PlatMsg done;
  done.kind = PlatMsgUser;
  done.param = kPivPairDone;
  PlatPostMessage(done);
}

// ---- cells ----------------------------------------------------------------------------

void CLfPiv::CutCells(void* ctx, uint64_t first, uint64_t count)
{
  PivMatchContext* c = static_cast<PivMatchContext*>(ctx);
  const int32_t s = c->cellSize, grow = c->large ? s / 2 : 0;
  for (uint64_t k = first; k < first + count; ++k) {
    const int32_t cx = int32_t(k % uint64_t(c->nx)), cy = int32_t(k / uint64_t(c->nx));
    const int32_t x0 = c->originX + s * cx - grow, y0 = c->originY + s * cy - grow;
    const int32_t x1 = c->originX + s * cx + s - 1 + grow, y1 = c->originY + s * cy + s - 1 + grow;
    PivCellRecord& r = c->cells[k];
    r.pattern = new (std::nothrow) CImgBuff;
    // The planned grid leaves a cell of margin, but a picture of another size than the
    // plan (a chain that resizes) is refused here rather than read outside.
    if (!r.pattern || !c->current->Crop(*r.pattern, x0, y0, x1, y1)) {
      c->failed.store(1);
      continue;
    }
    r.size = x1 - x0 + 1;
    r.x = x0;
    r.y = y0;
  }
}

namespace {

// The pyramid's coarsest levels see particles of a few pixels halved away and can settle on a
// wrong peak: on clean particle pictures one cell in ten to a hundred, most of them many
// pixels off.  Its answer is kept only when it holds at full size:
//   - it lies in the caller's window, where the full search looks (the pyramid may answer
//     up to two positions outside it).
//   - it is a local minimum: no neighbour within one pixel scores lower, nor the same when
//     nearer the cell's own place (the full search's tie rule).  The last level searches
//     only 4 x 4 positions around the doubled coarse answer; a true peak just outside them
//     leaves the answer on its slope, a pixel off.
//   - it lies clearly below the background: its score under kFastPeakShare of the lowest of
//     the scores kFastBackgroundStep pixels away in eight directions, where particles no
//     longer overlap their own images.  A true peak of a clean particle picture scores at
//     most about half of that (a half-pixel shift, or the pattern turned and sheared by a
//     rotating flow); a wrong peak the pyramid settles on scores 0.7 of it and more, being
//     only the lowest of many chance overlaps.
// A failed check costs one full search of the cell, so the threshold errs on that side.
constexpr double kFastPeakShare = 0.6;
constexpr int32_t kFastBackgroundStep = 5;

// 1 when the pyramid's answer (X, Y) with its score is kept for the cell at (cx, cy) and its
// window x0..x1, y0..y1; 0 sends the cell to the full search (also when the check was
// cancelled: the full search then stops at once).
int32_t FastAnswerHolds(CImgBuff* searched, CImgBuff* pattern, int32_t cx, int32_t cy, int32_t x0, int32_t y0,
                        int32_t x1, int32_t y1, int32_t X, int32_t Y, double score, void* user)
{
  if (X < x0 || X > x1 || Y < y0 || Y > y1) return 0;
  int32_t lx = 0, ly = 0;
  double local = 0;
  if (!MatchTemplate(searched, pattern, cx, cy, X - 1, Y - 1, X + 1, Y + 1, &lx, &ly, 1, 0, 0, &local,
                     CLfPiv::IsCancelled, user) ||
      lx != X || ly != Y)
    return 0;
  static const int32_t kDx[8] = {1, -1, 1, -1, 1, -1, 0, 0}, kDy[8] = {1, 1, -1, -1, 0, 0, 1, -1};
  double background = -1.0;
  for (int32_t i = 0; i < 8; ++i) {
    const double s = RegionDissimilarity(searched, pattern, X + kFastBackgroundStep * kDx[i],
                                         Y + kFastBackgroundStep * kDy[i], 1, 0);
    if (s >= 0 && (background < 0 || s < background)) background = s;
  }
  // Strictly below: on a flat picture every position scores 0, and the full search's tie
  // rule (nearest the cell's own place) decides, not the pyramid's.
  return score < kFastPeakShare * background;
}

}  // namespace

void CLfPiv::MatchCells(void* ctx, uint64_t first, uint64_t count)
{
  PivMatchContext* c = static_cast<PivMatchContext*>(ctx);
  for (uint64_t k = first; k < first + count; ++k) {
    PivCellRecord& r = c->cells[k];
    if (!r.pattern || r.pattern->Format() == 0) continue;
    const int32_t cx = int32_t(r.x), cy = int32_t(r.y), range = c->range;
    int32_t X = 0, Y = 0;
    double score = 0;
    if (!MatchTemplate(c->searched, r.pattern, cx, cy, cx - range, cy - range, cx + range, cy + range, &X, &Y, 1,
                       0, c->pyramid, &score, IsCancelled, c->cancelUser))
      continue;
    if (c->pyramid &&
        !FastAnswerHolds(c->searched, r.pattern, cx, cy, cx - range, cy - range, cx + range, cy + range, X, Y,
                         score, c->cancelUser) &&
        !MatchTemplate(c->searched, r.pattern, cx, cy, cx - range, cy - range, cx + range, cy + range, &X, &Y, 1, 0,
                       0, &score, IsCancelled, c->cancelUser))
      continue;
    if (!c->subpixel) {
      r.x = X;
      r.y = Y;
      r.score = score;
      continue;
    }
    double fx = 0, fy = 0;
    if (MatchTemplateSubpixelRange(c->searched, r.pattern, X - 1, Y - 1, X + 1, Y + 1, &fx, &fy, 1, 0, 0.5,
                                   &score, IsCancelled, c->cancelUser)) {
      r.x = fx;
      r.y = fy;
      r.score = score;
    }
  }
}

void CLfPiv::StoreVectors(void* ctx, uint64_t first, uint64_t count)
{
  PivMatchContext* c = static_cast<PivMatchContext*>(ctx);
  const int32_t s = c->cellSize;
  const double grow = c->large ? s / 2 : 0;
  for (uint64_t row = first; row < first + count; ++row) {
    const int32_t cy = int32_t(row);
    for (int32_t cx = 0; cx < c->nx; ++cx) {
      const PivCellRecord& r = c->cells[uint64_t(cy) * uint64_t(c->nx) + uint64_t(cx)];
      FlowVector* v = c->field->GetVector(cx, cy, c->scene);
      if (!v) continue;
      v->dx = double(c->originX) + double(s) * cx - (r.x + grow);
      v->dy = double(c->originY) + double(s) * cy - (r.y + grow);
    }
  }
}

// ---- hierarchical matching ------------------------------------------------------------

int32_t CLfPiv::MatchHierarchical(CImgBuff* picture, PivMatchContext* c, int32_t levels)
{
  const uint64_t count = uint64_t(c->nx) * uint64_t(c->ny);
  if (levels <= 0 || c->nx < 2 || c->ny < 2) {
    ParallelFor(MatchCells, c, count);
    return 1;
  }
  // A coarser level of cells twice the size, each holding the four fine patterns it
  // covers; its matches seed the fine cells, which then search half the range.
  const int32_t s = c->cellSize, cnx = c->nx / 2, cny = c->ny / 2;
  PivMatchContext coarse;
  coarse.searched = picture;
  coarse.cellSize = 2 * s;
  coarse.nx = cnx;
  coarse.ny = cny;
  coarse.range = c->range;
  coarse.cancelUser = c->cancelUser;
  coarse.field = nullptr;
  const uint64_t coarseCount = uint64_t(cnx) * uint64_t(cny);
  PivCellRecord* cells = new (std::nothrow) PivCellRecord[coarseCount];
  if (!cells) return 0;
  coarse.cells = cells;
  int32_t ok = 1;
  const int32_t gray = picture->Format() == ImgFormatGray8 || picture->Format() == ImgFormatGray16 ||
                       picture->Format() == ImgFormatGray32;
  for (int32_t cy = 0; cy < cny && ok; ++cy) {
    for (int32_t cx = 0; cx < cnx && ok; ++cx) {
      PivCellRecord& r = cells[uint64_t(cy) * uint64_t(cnx) + uint64_t(cx)];
      r.pattern = new (std::nothrow) CImgBuff;
      if (!r.pattern || !r.pattern->Allocate(2 * s, 2 * s, gray ? ImgFormatGray8 : ImgFormatRgb24)) {
        ok = 0;
        break;
      }
      r.size = 2 * s;
      for (int32_t q = 0; q < 4; ++q) {
        const int32_t fx = 2 * cx + (q & 1), fy = 2 * cy + (q >> 1);
        const PivCellRecord& f = c->cells[uint64_t(fy) * uint64_t(c->nx) + uint64_t(fx)];
        if (!f.pattern || f.pattern->Format() == 0) continue;
        // The fine pattern's own s x s corner (without the large-pattern border).
        const int32_t border = (f.size - s) / 2;
        CImgBuff part;
        if (!f.pattern->Crop(part, border, border, border + s - 1, border + s - 1) ||
            !r.pattern->Paste(part, (q & 1) * s, (q >> 1) * s)) {
          ok = 0;
          break;
        }
      }
      const PivCellRecord& f0 = c->cells[uint64_t(2 * cy) * uint64_t(c->nx) + uint64_t(2 * cx)];
      const int32_t border = (f0.size - s) / 2;
      r.x = f0.x + border;
      r.y = f0.y + border;
    }
  }
  if (ok) ok = MatchHierarchical(picture, &coarse, levels - 1);
  if (ok) {
    for (int32_t cy = 0; cy < cny; ++cy) {
      for (int32_t cx = 0; cx < cnx; ++cx) {
        const PivCellRecord& r = cells[uint64_t(cy) * uint64_t(cnx) + uint64_t(cx)];
        for (int32_t q = 0; q < 4; ++q) {
          const int32_t fx = 2 * cx + (q & 1), fy = 2 * cy + (q >> 1);
          PivCellRecord& f = c->cells[uint64_t(fy) * uint64_t(c->nx) + uint64_t(fx)];
          const int32_t border = (f.size - s) / 2;
          f.x = std::floor(r.x) + (q & 1) * s - border;
          f.y = std::floor(r.y) + (q >> 1) * s - border;
        }
      }
    }
    if (c->range > 1) c->range /= 2;
    ParallelFor(MatchCells, c, count);
  }
  for (uint64_t k = 0; k < coarseCount; ++k) delete cells[k].pattern;
  delete[] cells;
  return ok;
}

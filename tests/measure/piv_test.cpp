// piv_test.cpp - the PIV run on the scripted host: the grid plan, too few scenes, a picture
// too small for the cell size, a tool switched off, exact whole-pixel shifts with every
// method, a cancel in the middle of a pair, the accuracy on rendered particle pictures
// shifted by known sub-pixel amounts, and "fast processing" against the full search on
// uniform shifts, a rotation and a shear.
#include "measure/piv.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/parallel.h"
#include "engine/region.h"
#include "tests/app/testhost.h"
#include "tests/measure/piv_fixture.h"
#include "tests/temp_folder.h"

namespace {

struct Rig {
  CTestHost host;
  CLfPiv* piv = new CLfPiv;
  CScriptedDialogs dialogs;

  explicit Rig(const std::vector<CImgBuff*>& frames, uint64_t intervalUs = 40000)
  {
    std::vector<const CImgBuff*> list(frames.begin(), frames.end());
    EXPECT_EQ(1, host.SetVideo(list, intervalUs));
    host.SetLanguage(L"en");
    host.AddFilter(piv, nullptr);
  }
  std::vector<std::wstring> Shown() const
  {
    std::vector<std::wstring> texts;
    for (auto& s : dialogs.m_shown) texts.push_back(s.text + L"|" + s.caption);
    return texts;
  }
};

// frames[i] = the texture moved by i x (sx, sy) whole pixels.
std::vector<CImgBuff*> Shifted(int32_t w, int32_t h, int32_t n, int32_t sx, int32_t sy, int32_t format = ImgFormatGray8)
{
  std::vector<CImgBuff*> frames;
  for (int32_t i = 0; i < n; ++i) {
    CImgBuff* f = new CImgBuff;
    PivRandomTexture(f, w, h, -i * sx, -i * sy, format);
    frames.push_back(f);
  }
  return frames;
}

void FreeFrames(std::vector<CImgBuff*>& frames)
{
  for (CImgBuff* f : frames) delete f;
  frames.clear();
}

TEST(PivRun, PlansACentredGridAndNeedsTwoScenes)
{
  auto frames = Shifted(320, 240, 1, 0, 0);
  Rig rig(frames);
  EXPECT_EQ(8, rig.piv->m_planNx);
  EXPECT_EQ(5, rig.piv->m_planNy);
  EXPECT_EQ(32, rig.piv->m_planX);
  EXPECT_EQ(40, rig.piv->m_planY);
  rig.piv->Execute();
  EXPECT_EQ((std::vector<std::wstring>{L"need an image of 2 frames or more|error"}), rig.Shown());
  EXPECT_EQ(0u, rig.host.m_seekCount);
  EXPECT_EQ(0, rig.piv->m_field.HasGrid());
  rig.host.SetLanguage(L"jp");
  rig.piv->Execute();
  EXPECT_EQ(std::wstring(L"2フレーム以上の画像が必要です|エラー"), rig.Shown()[1]);
  FreeFrames(frames);
}

TEST(PivRun, APictureTooSmallForTheCellHasNoPlanAndTheRunSaysPoorMemory)
{
  auto frames = Shifted(100, 80, 3, 1, 0);
  Rig rig(frames);
  // 80 / 32 = 2 rows of cells: no margin.  The plan is emptied, not left over from before.
  EXPECT_EQ(0, rig.piv->m_planNx);
  EXPECT_EQ(0, rig.piv->m_planNy);
  rig.piv->Execute();
  EXPECT_EQ((std::vector<std::wstring>{L"poor memory|error"}), rig.Shown());
  EXPECT_EQ(0u, rig.host.m_seekCount);
  FreeFrames(frames);
}

TEST(PivRun, WholePixelShiftsComeOutExactWithEveryMethod)
{
  // Multiples of 4: the half- and quarter-size searches of "fast processing" see whole
  // pixels too.
  auto frames = Shifted(256, 192, 3, 8, -4);
  Rig rig(frames);
  struct Mode {
    int32_t fast, large, search, method;
  };
  for (const Mode& m : {Mode{1, 1, 1, 1}, Mode{0, 1, 1, 1}, Mode{1, 0, 0, 1}, Mode{0, 0, 2, 1}, Mode{1, 1, 1, 2},
                        Mode{0, 0, 1, 2}}) {
    SCOPED_TRACE(testing::Message() << "fast " << m.fast << " large " << m.large << " search " << m.search
                                    << " method " << m.method);
    rig.piv->m_fast.m_checked = m.fast;
    rig.piv->m_large.m_checked = m.large;
    rig.piv->m_search.m_position = m.search;
    rig.piv->m_method.m_position = m.method;
    std::vector<std::wstring> labels;
    rig.host.m_onProcessedHook = [&] { labels.push_back(rig.piv->m_exec.m_text); };
    rig.piv->Execute();
    rig.host.m_onProcessedHook = nullptr;
    EXPECT_TRUE(rig.Shown().empty());
    EXPECT_EQ((std::vector<std::wstring>(3, L"CANCEL")), labels);
    EXPECT_EQ(std::wstring(L"EXEC"), rig.piv->m_exec.m_text);
    EXPECT_EQ(1, rig.piv->m_tab.m_currentPage);
    EXPECT_EQ(0, rig.piv->Running());
    CFlowData& f = rig.piv->m_field;
    ASSERT_EQ(6, f.Nx());
    ASSERT_EQ(4, f.Ny());
    ASSERT_EQ(3, f.Frames());
    for (int32_t y = 0; y < f.Ny(); ++y) {
      for (int32_t x = 0; x < f.Nx(); ++x) {
        EXPECT_EQ(0.0, f.GetVector(x, y, 0)->dx);
        EXPECT_EQ(0.0, f.GetVector(x, y, 0)->dy);
        for (int32_t s = 1; s < 3; ++s) {
          EXPECT_EQ(8.0, f.GetVector(x, y, s)->dx) << x << "," << y << " scene " << s;
          EXPECT_EQ(-4.0, f.GetVector(x, y, s)->dy) << x << "," << y << " scene " << s;
          EXPECT_EQ(0, f.GetFlags(x, y, s));
        }
      }
    }
    EXPECT_EQ(1, f.FlagsReady(1));
    EXPECT_EQ(1, f.FlagsReady(2));
  }
  ASSERT_EQ(12u, rig.host.m_enableOnlyCalls.size());
  EXPECT_EQ(1u, rig.host.m_enableOnlyCalls[0].first);
  EXPECT_EQ(0u, rig.host.m_enableOnlyCalls[1].first);
  FreeFrames(frames);
}

TEST(PivRun, ColourPicturesMatchToo)
{
  auto frames = Shifted(160, 160, 2, -4, 1, ImgFormatRgb24);
  Rig rig(frames);
  rig.piv->Execute();
  CFlowData& f = rig.piv->m_field;
  ASSERT_EQ(3, f.Nx());
  for (int32_t y = 0; y < f.Ny(); ++y)
    for (int32_t x = 0; x < f.Nx(); ++x) {
      EXPECT_EQ(-4.0, f.GetVector(x, y, 1)->dx);
      EXPECT_EQ(1.0, f.GetVector(x, y, 1)->dy);
    }
  FreeFrames(frames);
}

TEST(PivRun, ASwitchedOffToolGetsNoFrameAndTheRunFails)
{
  auto frames = Shifted(160, 160, 3, 1, 0);
  Rig rig(frames);
  rig.piv->m_filterEnabled = 0;
  rig.piv->Execute();
  EXPECT_EQ((std::vector<std::wstring>{L"failed|error"}), rig.Shown());
  EXPECT_EQ(0, rig.piv->Running());
  EXPECT_EQ(1, rig.piv->m_field.HasGrid());
  EXPECT_EQ(0.0, rig.piv->m_field.GetVector(0, 0, 1)->dx);
  EXPECT_EQ(std::wstring(L"EXEC"), rig.piv->m_exec.m_text);
  FreeFrames(frames);
}

TEST(PivRun, CancelDuringAPairStopsItAndLeavesTheLaterScenesZero)
{
  // Full search over two cells each way: slow enough that the press lands inside the pair.
  auto frames = Shifted(384, 320, 10, 2, 1);
  Rig rig(frames);
  rig.piv->m_fast.m_checked = 0;
  rig.piv->m_search.m_position = 2;
  std::thread presser([&] {
    while (rig.piv->m_pairScene.load() != 5) std::this_thread::yield();
    rig.piv->Execute();  // the second press only sets the cancel flag
  });
  rig.piv->Execute();
  presser.join();
  EXPECT_EQ((std::vector<std::wstring>{L"canceled|confirmation"}), rig.Shown());
  EXPECT_EQ(6u, rig.host.m_seekCount);
  CFlowData& f = rig.piv->m_field;
  ASSERT_EQ(10, f.Frames());
  int32_t matched5 = 0;
  for (int32_t y = 0; y < f.Ny(); ++y) {
    for (int32_t x = 0; x < f.Nx(); ++x) {
      for (int32_t s = 1; s < 5; ++s) {
        EXPECT_EQ(2.0, f.GetVector(x, y, s)->dx);
        EXPECT_EQ(1.0, f.GetVector(x, y, s)->dy);
      }
      const FlowVector* v = f.GetVector(x, y, 5);
      if (v->dx != 0 || v->dy != 0) ++matched5;
      for (int32_t s = 6; s < 10; ++s) {
        EXPECT_EQ(0.0, f.GetVector(x, y, s)->dx);
        EXPECT_EQ(0.0, f.GetVector(x, y, s)->dy);
      }
    }
  }
  EXPECT_LT(matched5, f.Nx() * f.Ny());  // the pair was cut short
  EXPECT_EQ(0, rig.piv->Running());
  FreeFrames(frames);
}

// Gaussian particles at known positions, moved by a uniform shift or a shear; every
// component lands on quarter pixels, and the errors stay within what the refinement gives.
TEST(PivAccuracy, RenderedParticlesMovedByKnownAmounts)
{
  const int32_t w = 256, h = 256;
  std::mt19937 rng(7);
  const std::vector<PivParticle> particles = PivRandomParticles(w, h, 0.03, &rng);
  struct Motion {
    double sx, sy, shear;
  };
  std::vector<Motion> motions;
  for (double s : {0.25, 1.5, 2.75, 4.0, 5.25, 6.5, 8.0}) motions.push_back({s, 0.35 * s + 0.4, 0.0});
  for (double g : {0.01, 0.02}) motions.push_back({1.0, 1.5, g});
  for (int32_t fast : {0, 1}) {
    double sumUniform = 0, sumShear = 0;
    int64_t nUniform = 0, nShear = 0, cells = 0, wholeExact = 0, outliers = 0;
    double worstOther = 0;
    for (const Motion& mo : motions) {
      CImgBuff a, b;
      PivRenderParticles(&a, w, h, particles, 0, 0, 0);
      PivRenderParticles(&b, w, h, particles, mo.sx, mo.sy, mo.shear);
      std::vector<CImgBuff*> frames = {&a, &b};
      Rig rig(frames);
      rig.piv->m_fast.m_checked = fast;
      rig.piv->m_search.m_position = 0;  // half a cell: the shifts stay below 16
      rig.piv->Execute();
      ASSERT_TRUE(rig.Shown().empty());
      const CFlowData& f = rig.piv->m_field;
      ASSERT_EQ(6, f.Nx());
      for (int32_t y = 0; y < f.Ny(); ++y) {
        for (int32_t x = 0; x < f.Nx(); ++x) {
          const FlowVector* v = f.GetVector(x, y, 1);
          // The true motion at the centre of the cell's pattern.
          const double cy = f.OriginY() + 32.0 * y + 16.0;
          const double tx = mo.sx + mo.shear * (cy - h / 2.0), ty = mo.sy;
          EXPECT_EQ(v->dx * 4, std::floor(v->dx * 4));
          EXPECT_EQ(v->dy * 4, std::floor(v->dy * 4));
          const double ex = v->dx - tx, ey = v->dy - ty;
          ++cells;
          if (std::fabs(ex) < 0.5 && std::fabs(ey) < 0.5) ++wholeExact;  // the right whole pixel
          const double e = std::hypot(ex, ey);
          if (e > 1.0) {
            ++outliers;
            continue;
          }
          worstOther = std::max(worstOther, std::max(std::fabs(ex), std::fabs(ey)));
          if (mo.shear == 0) sumUniform += ex * ex + ey * ey, nUniform += 2;
          else sumShear += ex * ex + ey * ey, nShear += 2;
        }
      }
    }
    const double rmsUniform = std::sqrt(sumUniform / nUniform), rmsShear = std::sqrt(sumShear / nShear);
    SCOPED_TRACE(testing::Message() << "fast " << fast << ": exact " << wholeExact << "/" << cells << ", outliers "
                                    << outliers << ", RMS " << rmsUniform << " / " << rmsShear << ", worst "
                                    << worstOther);
    // "Fast processing" checks its answers against the full-size scores: no more slack than
    // the full search.
    EXPECT_EQ(cells, wholeExact);
    EXPECT_EQ(0, outliers);
    EXPECT_LE(rmsUniform, 0.12);
    EXPECT_LE(rmsShear, 0.2);
    EXPECT_LE(worstOther, 0.4);
    printf("fast %d: right whole pixel %lld/%lld, outliers %lld, RMS uniform %.3f shear %.3f, worst %.2f\n", fast,
           (long long)wholeExact, (long long)cells, (long long)outliers, rmsUniform, rmsShear, worstOther);
  }
}

// The hierarchical method (settings only) on a uniform sub-pixel shift: the vectors of the
// full search within a quarter pixel.
TEST(PivAccuracy, HierarchicalMatchesTheFullSearchOnAUniformShift)
{
  const int32_t w = 256, h = 224;
  std::mt19937 rng(23);
  const std::vector<PivParticle> particles = PivRandomParticles(w, h, 0.03, &rng);
  CImgBuff a, b;
  PivRenderParticles(&a, w, h, particles, 0, 0, 0);
  PivRenderParticles(&b, w, h, particles, 2.6, -1.3, 0);
  std::vector<CImgBuff*> frames = {&a, &b};
  std::vector<FlowVector> full, coarse;
  for (int32_t method : {1, 2}) {
    Rig rig(frames);
    rig.piv->m_fast.m_checked = 0;
    rig.piv->m_search.m_position = 0;
    rig.piv->m_method.m_position = method;
    rig.piv->Execute();
    ASSERT_TRUE(rig.Shown().empty());
    const CFlowData& f = rig.piv->m_field;
    ASSERT_EQ(6, f.Nx());
    ASSERT_EQ(5, f.Ny());  // odd: the last row has no coarse cell and searches on its own
    for (int32_t y = 0; y < f.Ny(); ++y)
      for (int32_t x = 0; x < f.Nx(); ++x) (method == 1 ? full : coarse).push_back(*f.GetVector(x, y, 1));
  }
  ASSERT_EQ(full.size(), coarse.size());
  for (size_t i = 0; i < full.size(); ++i) {
    EXPECT_LE(std::fabs(full[i].dx - coarse[i].dx), 0.25) << i;
    EXPECT_LE(std::fabs(full[i].dy - coarse[i].dy), 0.25) << i;
    EXPECT_NEAR(2.6, full[i].dx, 0.4) << i;
    EXPECT_NEAR(-1.3, full[i].dy, 0.4) << i;
  }
}

// The same kind of pictures beside scikit-image's phase correlation of each cell's pattern
// window: both find the truth, and ours stays within half a pixel of the peer.
bool WritePgm(const std::string& path, const CImgBuff& pic)
{
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return false;
  fprintf(f, "P5\n%d %d\n255\n", pic.Width(), pic.Height());
  const size_t n = size_t(pic.Width()) * size_t(pic.Height());
  const bool ok = fwrite(pic.Pixels(), 1, n, f) == n;
  return fclose(f) == 0 && ok;
}

TEST(PivAccuracy, AgreesWithScikitImagePhaseCorrelation)
{
  if (std::system("/usr/bin/python3 -c 'import skimage.registration' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "no scikit-image";
  const int32_t w = 256, h = 256;
  std::mt19937 rng(17);
  const std::vector<PivParticle> particles = PivRandomParticles(w, h, 0.03, &rng);
  qvtest::TempFolder dir("piv_peer");
  struct Motion {
    double sx, sy, shear;
  };
  for (int32_t fast : {0, 1}) {
    int64_t cells = 0, near = 0;
    double oursSq = 0, peerSq = 0;
    for (const Motion& mo : {Motion{1.75, -0.6, 0}, Motion{5.5, 2.3, 0}, Motion{2.0, 1.0, 0.015}}) {
      CImgBuff a, b;
      PivRenderParticles(&a, w, h, particles, 0, 0, 0);
      PivRenderParticles(&b, w, h, particles, mo.sx, mo.sy, mo.shear);
      ASSERT_TRUE(WritePgm(dir.File("a.pgm"), a));
      ASSERT_TRUE(WritePgm(dir.File("b.pgm"), b));
      std::vector<CImgBuff*> frames = {&a, &b};
      Rig rig(frames);
      rig.piv->m_fast.m_checked = fast;
      rig.piv->m_search.m_position = 0;
      rig.piv->Execute();
      const CFlowData& f = rig.piv->m_field;
      ASSERT_EQ(6, f.Nx());
      char command[1024];
      snprintf(command, sizeof command, "/usr/bin/python3 '%s/../measure/piv_peer.py' '%s' '%s' %d %d %d %d %d %d",
               QV_TEST_DATA_DIR, dir.File("a.pgm").c_str(), dir.File("b.pgm").c_str(), f.OriginX(), f.OriginY(),
               f.Step(), f.Nx(), f.Ny(), 2 * f.Step());
      FILE* p = popen(command, "r");
      ASSERT_NE(nullptr, p);
      int cx, cy;
      double px, py;
      int64_t read = 0;
      while (fscanf(p, "%d %d %lf %lf", &cx, &cy, &px, &py) == 4) {
        ++read;
        const FlowVector* v = f.GetVector(cx, cy, 1);
        ASSERT_NE(nullptr, v);
        const double y = f.OriginY() + 32.0 * cy + 16.0;
        const double tx = mo.sx + mo.shear * (y - h / 2.0), ty = mo.sy;
        ++cells;
        near += std::fabs(v->dx - px) <= 0.5 && std::fabs(v->dy - py) <= 0.5;
        oursSq += (v->dx - tx) * (v->dx - tx) + (v->dy - ty) * (v->dy - ty);
        peerSq += (px - tx) * (px - tx) + (py - ty) * (py - ty);
      }
      pclose(p);
      ASSERT_EQ(int64_t(f.Nx()) * f.Ny(), read);
    }
    const double ours = std::sqrt(oursSq / (2 * cells)), peer = std::sqrt(peerSq / (2 * cells));
    printf("fast %d: within 0.5 px of the peer %lld/%lld, RMS ours %.3f, peer %.3f\n", fast, (long long)near,
           (long long)cells, ours, peer);
    EXPECT_EQ(cells, near);
    EXPECT_LE(peer, 0.1);  // the peer confirms the truth
    EXPECT_LE(ours, std::max(2.5 * peer, 0.12));
  }
}

// ---- "fast processing" against the full search ----------------------------------------

struct PivFlow {
  const char* name;
  double sx, sy;  // uniform part
  double turn;    // solid-body rotation about the picture centre, radians
  double shear;   // dx grows by shear per pixel below the centre
};

// Where the flow moves a particle at (x, y) of a w x h picture.
void FlowAt(const PivFlow& f, double w, double h, double x, double y, double* dx, double* dy)
{
  const double rx = x - w / 2, ry = y - h / 2, c = std::cos(f.turn), s = std::sin(f.turn);
  *dx = f.sx + (c * rx - s * ry - rx) + f.shear * ry;
  *dy = f.sy + (s * rx + c * ry - ry);
}

// The vectors of one pair with the given method, as the run computes them.
std::vector<FlowVector> PairVectors(CImgBuff* previous, CImgBuff* current, int32_t large,
                                    int32_t method, CFlowData* field)
{
  PivJob job;
  job.previous = previous;
  job.current = current;
  job.scene = 1;
  job.method = method;
  job.large = large;
  job.factor = -2;  // half a cell each way: every flow here stays within it
  job.field = field;
  CLfPiv::WorkerBody(&job);
  EXPECT_EQ(1, job.result.load());
  std::vector<FlowVector> out;
  for (int32_t y = 0; y < field->Ny(); ++y)
    for (int32_t x = 0; x < field->Nx(); ++x) out.push_back(*field->GetVector(x, y, 1));
  return out;
}

// Scores of the pattern over every position of its search window (window side n, top-left
// (x0, y0)); whether the lowest is clear: every other local minimum (lower than or equal to
// its eight neighbours) at least 20 % above it.
bool ClearMinimum(CImgBuff* searched, CImgBuff* pattern, int32_t x0, int32_t y0, int32_t n)
{
  std::vector<double> map(size_t(n) * size_t(n));
  for (int32_t j = 0; j < n; ++j)
    for (int32_t i = 0; i < n; ++i) map[size_t(j) * n + i] = RegionDissimilarity(searched, pattern, x0 + i, y0 + j, 1, 0);
  int64_t best = -1;
  for (int64_t k = 0; k < int64_t(map.size()); ++k)
    if (map[size_t(k)] >= 0 && (best < 0 || map[size_t(k)] < map[size_t(best)])) best = k;
  if (best < 0) return false;
  const double lowest = map[size_t(best)];
  for (int32_t j = 0; j < n; ++j)
    for (int32_t i = 0; i < n; ++i) {
      const double v = map[size_t(j) * n + i];
      if (v < 0 || int64_t(j) * n + i == best || v >= 1.2 * lowest) continue;
      bool local = true;
      for (int32_t dj = -1; dj <= 1 && local; ++dj)
        for (int32_t di = -1; di <= 1 && local; ++di) {
          const int32_t ii = i + di, jj = j + dj;
          if (ii < 0 || jj < 0 || ii >= n || jj >= n || (!di && !dj)) continue;
          const double u = map[size_t(jj) * n + ii];
          if (u >= 0 && u < v) local = false;
        }
      if (local) return false;
    }
  return true;
}

// 512 x 512 Gaussian particles (about 3 pixels, 0.02 per pixel) moved by uniform shifts, a
// solid-body rotation and a shear; cells of 32 and 64 with the big pattern on and off.  The
// pyramid loses these particles at its coarse levels and used to settle on wrong peaks in
// several cells of most pairs; now its answer equals the full search's wherever the full
// search has a clear minimum, and both keep to the truth.
TEST(PivFastProcessing, AgreesWithTheFullSearchWhereItsMinimumIsClear)
{
  StartWorkerPool();
  const int32_t w = 512, h = 512;
  std::mt19937 rng(29);
  const std::vector<PivParticle> particles = PivRandomParticles(w, h, 0.02, &rng);
  CImgBuff a;
  PivRenderParticles(&a, w, h, particles, 0, 0, 0);
  const PivFlow flows[] = {{"(0, 0)", 0, 0, 0, 0},         {"(0.25, 0)", 0.25, 0, 0, 0}, {"(0.5, 0.5)", 0.5, 0.5, 0, 0},
                           {"(2.3, -1.7)", 2.3, -1.7, 0, 0}, {"(3.0, 1.5)", 3.0, 1.5, 0, 0}, {"(7.6, 3.1)", 7.6, 3.1, 0, 0},
                           {"rotation", 0, 0, 0.02, 0},     {"shear", 0, 0, 0, 0.02}};
  for (const PivFlow& flow : flows) {
    CImgBuff b;
    PivRenderMoved(&b, w, h, particles, [&](double x, double y, double* dx, double* dy) { FlowAt(flow, w, h, x, y, dx, dy); });
    for (int32_t cell : {32, 64})
      for (int32_t large : {0, 1}) {
        SCOPED_TRACE(testing::Message() << flow.name << ", cell " << cell << ", big pattern " << large);
        CFlowData field;
        ASSERT_EQ(1, field.CreateForImage(w - 1, h - 1, cell, 2));
        const std::vector<FlowVector> full = PairVectors(&a, &b, large, 1, &field);
        const std::vector<FlowVector> fast = PairVectors(&a, &b, large, 0, &field);
        const int32_t grow = large ? cell / 2 : 0, side = cell + 2 * grow, range = cell / 2;
        int32_t differ = 0, unclear = 0;
        double fastSq = 0, fullSq = 0;
        for (int32_t k = 0; k < field.Nx() * field.Ny(); ++k) {
          const int32_t x0 = field.OriginX() + cell * (k % field.Nx()) - grow;
          const int32_t y0 = field.OriginY() + cell * (k / field.Nx()) - grow;
          // The truth at the pattern's centre c: c - p with p moved onto c.
          const double cx = x0 + (side - 1) / 2.0, cy = y0 + (side - 1) / 2.0;
          double px = cx, py = cy;
          for (int32_t i = 0; i < 40; ++i) {
            double dx, dy;
            FlowAt(flow, w, h, px, py, &dx, &dy);
            px = cx - dx;
            py = cy - dy;
          }
          const double tx = cx - px, ty = cy - py;
          fastSq += (fast[k].dx - tx) * (fast[k].dx - tx) + (fast[k].dy - ty) * (fast[k].dy - ty);
          fullSq += (full[k].dx - tx) * (full[k].dx - tx) + (full[k].dy - ty) * (full[k].dy - ty);
          if (std::fabs(fast[k].dx - full[k].dx) <= 0.5 && std::fabs(fast[k].dy - full[k].dy) <= 0.5) continue;
          ++differ;
          CImgBuff pattern;
          ASSERT_EQ(1, b.Crop(pattern, x0, y0, x0 + side - 1, y0 + side - 1));
          if (!ClearMinimum(&a, &pattern, x0 - range, y0 - range, 2 * range + 1)) {
            ++unclear;
            continue;
          }
          ADD_FAILURE() << "cell " << k << ": fast (" << fast[k].dx << ", " << fast[k].dy << "), full (" << full[k].dx
                        << ", " << full[k].dy << "), truth (" << tx << ", " << ty << ")";
        }
        const double n = 2.0 * field.Nx() * field.Ny();
        const double fastRms = std::sqrt(fastSq / n), fullRms = std::sqrt(fullSq / n);
        printf("%-12s cell %d big %d: %d cells, %d differ (%d unclear), RMS fast %.3f full %.3f\n", flow.name, cell,
               large, field.Nx() * field.Ny(), differ, unclear, fastRms, fullRms);
        // The full search keeps to the truth on these clean pictures: the rotation and the
        // shear only bend the pattern a little within its cell.
        EXPECT_LE(fullRms, 0.3);
        EXPECT_LE(fastRms, fullRms + 0.01);
      }
  }
}

// A texture moved by two pixels more than the search range (18 with half a 32-pixel cell):
// the pyramid may reach past the window to the true place, which the full search cannot
// give (its refinement reaches one pixel past the edge).  "Fast processing" answers what
// the full search answers there too.
TEST(PivFastProcessing, AShiftPastTheSearchRangeGetsTheFullSearchsAnswer)
{
  StartWorkerPool();
  std::vector<CImgBuff*> frames = Shifted(224, 192, 2, 18, -3);
  CFlowData field;
  ASSERT_EQ(1, field.CreateForImage(223, 191, 32, 2));
  for (int32_t large : {0, 1}) {
    SCOPED_TRACE(testing::Message() << "big pattern " << large);
    const std::vector<FlowVector> full = PairVectors(frames[0], frames[1], large, 1, &field);
    const std::vector<FlowVector> fast = PairVectors(frames[0], frames[1], large, 0, &field);
    ASSERT_EQ(full.size(), fast.size());
    for (size_t k = 0; k < full.size(); ++k) {
      EXPECT_LE(full[k].dx, 17.0) << k;
      EXPECT_EQ(full[k].dx, fast[k].dx) << k;
      EXPECT_EQ(full[k].dy, fast[k].dy) << k;
    }
  }
  FreeFrames(frames);
}

}  // namespace

// piv_test.cpp - the PIV run on the scripted host: the grid plan, too few scenes, a picture
// too small for the cell size, a tool switched off, exact whole-pixel shifts with every
// method, a cancel in the middle of a pair, and the accuracy on rendered particle pictures
// shifted by known sub-pixel amounts.
#include "measure/piv.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

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
    EXPECT_GE(double(wholeExact), (fast ? 0.95 : 1.0) * cells);
    EXPECT_LE(double(outliers), (fast ? 0.03 : 0.0) * cells);
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
    EXPECT_GE(double(near), (fast ? 0.97 : 1.0) * cells);
    EXPECT_LE(peer, 0.1);  // the peer confirms the truth
    EXPECT_LE(ours, std::max(2.5 * peer, 0.12));
  }
}

}  // namespace

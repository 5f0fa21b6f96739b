// ptv_literal.h - the linking of particle tracking written as the plain scan of every
// particle in list order: the reference that the bucketed window step must match id for id
// (tests) and the yardstick of its speed (benchmarks).
#pragma once
#include <algorithm>
#include <cmath>
#include <vector>

#include "measure/particles.h"

namespace ptvtest {

using Records = std::vector<ParticleRecord>;

struct Literal {
  Records L[4];

  static double Gate(const ParticleRecord* c[4], double def, int k, int P, int A)
  {
    const ParticleRecord& last = *c[k - 1];
    const ParticleRecord& prev = *c[k - 2];
    double dx = last.x - prev.x, dy = last.y - prev.y;
    double px = last.x, py = last.y;
    if (P) {
      px = last.x + dx;
      py = last.y + dy;
    }
    double r = def;
    if (A) {
      r = std::sqrt(dx * dx + dy * dy);
      if (P) r *= 2.0;
      if (r < 10.0) r = 10.0;
    }
    double ex = c[k]->x - px, ey = c[k]->y - py;
    double e = ex * ex + ey * ey;
    if (e <= r * r) return e;
    return -1.0;
  }

  ParticleRecord* ById(int k, int32_t id)
  {
    for (auto& r : L[k])
      if (r.id == id) return &r;
    return nullptr;
  }

  void FindNearest(size_t index, double R, double G, int P, int A)
  {
    int32_t i = L[0][index].id;
    ParticleRecord* b = ById(2, i);
    if (!b) return;
    ParticleRecord* a = ById(1, i);
    if (!a) return;
    double dx = b->x - a->x, dy = b->y - a->y;
    double px = b->x, py = b->y;
    if (P) {
      px = b->x + dx;
      py = b->y + dy;
    }
    double r = G;
    if (A) {
      r = std::sqrt(dx * dx + dy * dy);
      if (P) r *= 2.0;
      if (r < 10.0) r = 10.0;
    }
    double best = (2 * std::max(R, G)) * (2 * std::max(R, G));
    ParticleRecord* cand = nullptr;
    for (auto& q : L[3]) {
      if (q.id >= 0) continue;
      double ex = q.x - px, ey = q.y - py;
      double e = ex * ex + ey * ey;
      if (e <= r * r && e < best) {
        best = e;
        cand = &q;
      }
    }
    if (cand) cand->id = i;
  }

  int LinkCandidates(size_t index, int32_t newId, double R, double minR, double G, int P, int A)
  {
    ParticleRecord* p0 = &L[0][index];
    double best = (2 * std::max(R, G)) * (2 * std::max(R, G));
    ParticleRecord *b1 = nullptr, *b2 = nullptr, *b3 = nullptr;
    for (auto& q1 : L[1]) {
      if (q1.id >= 0) continue;
      double ex = q1.x - p0->x, ey = q1.y - p0->y;
      double s1 = ex * ex + ey * ey;
      if (!(s1 <= R * R && s1 > minR * minR)) continue;
      double w = s1 / (R * R);
      for (auto& q2 : L[2]) {
        if (q2.id >= 0) continue;
        const ParticleRecord* c[4] = {p0, &q1, &q2, nullptr};
        double e2 = Gate(c, G, 2, P, A);
        if (e2 < 0) continue;
        for (auto& q3 : L[3]) {
          if (q3.id >= 0) continue;
          c[3] = &q3;
          double e3 = Gate(c, G, 3, P, A);
          if (e3 < 0) continue;
          double cost = ((e2 + e3) * 0.5) * w;
          if (cost < best) {
            best = cost;
            b1 = &q1;
            b2 = &q2;
            b3 = &q3;
          }
        }
      }
    }
    if (!b1) return 0;
    p0->id = b1->id = b2->id = b3->id = newId;
    return 1;
  }

  void Step(int32_t* nextId, double R, double G, int P, int A)
  {
    for (size_t i = 0; i < L[0].size(); ++i)
      if (L[0][i].id >= 0) FindNearest(i, R, G, P, A);
    for (size_t i = 0; i < L[0].size(); ++i)
      if (L[0][i].id < 0 && LinkCandidates(i, *nextId, R, 0.0, G, P, A)) ++*nextId;
    Records kept;
    for (auto& r : L[0])
      if (r.id >= 0) kept.push_back(r);
    L[0] = kept;
  }

  void Rotate(const Records& newest)
  {
    L[0] = L[1];
    L[1] = L[2];
    L[2] = L[3];
    L[3] = newest;
  }
};

}  // namespace ptvtest

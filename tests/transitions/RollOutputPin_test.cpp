// Regression pin of the roll effect's output. The expected hashes below were
// computed once from the roll code as it stood after its output had been
// verified by the behavioural tests (kvDrawEffects_test, Effects_test); they
// pin that verified behaviour so that speed work on the roller and the
// separators cannot change a single tile call. Every tile call enters the
// hash: the cell, its rectangle, the batch flags, the kind of each triangle,
// every float bit of its source and target vertices and its colours.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "RecordingController.h"
#include "foundation/SysObj.h"
#include "transitions/kvDrawEffects.h"

using namespace transitions;
using namespace transitions_test;
using foundation::TRef;

namespace {

struct Fnv {
  uint64_t h = 1469598103934665603ull;
  void Bytes(const void* p, size_t n) {
    const auto* b = static_cast<const unsigned char*>(p);
    for (size_t i = 0; i < n; ++i) h = (h ^ b[i]) * 1099511628211ull;
  }
  void Int(int64_t v) { Bytes(&v, sizeof v); }
  void Float(float f) {
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    Bytes(&u, sizeof u);
  }
};

void HashBatches(const RecordingController& c, Fnv& h) {
  h.Int(int64_t(c.Batches.size()));
  for (const RecBatch& b : c.Batches) {
    h.Int(b.cell.X);
    h.Int(b.cell.Y);
    h.Int(b.rect.Left);
    h.Int(b.rect.Top);
    h.Int(b.rect.Right);
    h.Int(b.rect.Bottom);
    h.Int(int(b.textured) | int(b.threeD) << 1 | int(b.closed) << 2);
    h.Int(int64_t(b.ops.size()));
    for (const RecOp& op : b.ops) {
      h.Int(int(op.kind));
      for (int i = 0; i < 3; ++i) {
        for (float f : {op.v[i].X, op.v[i].Y, op.v[i].A, op.target[i].X, op.target[i].Y, op.target[i].A,
                        op.p3[i].X, op.p3[i].Y, op.p3[i].Z})
          h.Float(f);
        h.Int(op.colors[i]);
      }
    }
  }
}

struct Grid {
  std::vector<float> cols, rows;
};

// Every roll set-up (both shapes, all eight kinds, flat and lifted, half and
// full turn, small and large radius, textured and coloured back) drawn at
// eleven positions, one running filter per set-up as a player would use it.
uint64_t HashGrid(const Grid& g) {
  Fnv h;
  const TRect area{int32_t(g.cols.front()), int32_t(g.rows.front()), int32_t(g.cols.back()),
                   int32_t(g.rows.back())};
  for (int shape : {14, 15})
    for (int kind = 1; kind <= 8; ++kind)
      for (bool lift : {false, true})
        for (bool full : {false, true})
          for (int variant = 0; variant < 2; ++variant) {
            auto c = TRef<RecordingController>::Adopt(new RecordingController);
            c->SetEdges(g.cols, g.rows);
            auto f = TRef<TRollEffect2>::Adopt(new TRollEffect2(shape, kind));
            f->RollRadius = variant == 0 ? 25 : 150;
            f->Perspective = variant == 0 ? 1.0f : 0.6f;
            f->Lift = lift;
            f->FullTurn = full;
            f->ColourBack = variant == 1;
            f->SetBackColour(0x00336699u);
            f->Init(area, 1, 10);
            f->DrawRect = area;
            for (int p = 0; p <= 10; ++p) {
              c->Batches.clear();
              f->SetPosition(float(p) / 10);
              f->Draw(c.Get());
              HashBatches(*c, h);
            }
          }
  return h.h;
}

TEST(TRollEffect2, OutputIsPinnedBitForBit) {
  const Grid grids[] = {
      {{0, 130.5f, 260, 400}, {0, 170.25f, 300}},  // uneven borders
      {{0, 64, 128, 192, 256, 320, 384, 448, 512, 576, 640}, {0, 64, 128, 192, 256, 320, 360}},  // fine tiles
      {{50, 250}, {20, 120}},  // one cell away from the origin
  };
  const uint64_t expected[] = {0x3a67d473a2b29e6aull, 0x211107c5c1605e5eull, 0x5cf0dc1631eefc7cull};
  for (size_t i = 0; i < 3; ++i)
    EXPECT_EQ(HashGrid(grids[i]), expected[i]) << "grid " << i << std::hex << " got 0x" << HashGrid(grids[i]);
}

}  // namespace

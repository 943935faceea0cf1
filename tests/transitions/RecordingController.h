// A tile controller that records what the filters hand to its tiles, and a
// small rasteriser that turns the recorded triangles into coverage samples.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "transitions/kvTriController.h"

namespace transitions_test {

using namespace transitions;

enum class OpKind { Tri, Colored, Mapped, Colored3D, Mapped3D };

struct RecOp {
  OpKind kind;
  TTriangle v{};       // Tri, Colored: the vertices; Mapped, Mapped3D: the source
  TTriangle target{};  // Mapped
  TTriangle3D p3{};    // Colored3D: points; Mapped3D: target
  TColors3 colors{};
};

struct RecBatch {
  TPoint cell;
  TRect rect;
  bool textured = false, threeD = false, closed = false;
  std::vector<RecOp> ops;
};

class RecordingController;

class RecordingTile : public TEffTile {
 public:
  RecordingTile(RecordingController* c, const TRect& r, TPoint cell);
  void BeginDraw(bool textured, bool threeD) override;
  void DrawTriangle(const TTriangle& v) override { Add({OpKind::Tri, v}); }
  void DrawColoredTriangle(const TTriangle& v, const TColors3& c) override {
    RecOp op{OpKind::Colored, v};
    op.colors = c;
    Add(op);
  }
  void DrawMappedTriangle(const TTriangle& s, const TTriangle& t) override {
    RecOp op{OpKind::Mapped, s};
    op.target = t;
    Add(op);
  }
  void DrawColoredTriangle3D(const TTriangle3D& p, const TColors3& c) override {
    RecOp op{OpKind::Colored3D};
    op.p3 = p;
    op.colors = c;
    Add(op);
  }
  void DrawMappedTriangle3D(const TTriangle& s, const TTriangle3D& t) override {
    RecOp op{OpKind::Mapped3D, s};
    op.p3 = t;
    Add(op);
  }
  void EndDraw() override;

 private:
  void Add(const RecOp& op);
  RecordingController* rec_;
  int open_ = -1;  // index of the open batch
};

class RecordingController : public TEffController {
 public:
  // A grid over the area with the given inner column and row borders.
  void SetEdges(std::vector<float> cols, std::vector<float> rows) {
    SetGrid(cols.data(), int32_t(cols.size()) - 1, rows.data(), int32_t(rows.size()) - 1);
    View = TRect{int32_t(cols.front()), int32_t(rows.front()), int32_t(cols.back()), int32_t(rows.back())};
  }
  TEffTile* CreateTile(const TRect& r, TPoint cell) override { return new RecordingTile(this, r, cell); }
  void GetViewRect(TRect& r) override { r = View; }

  std::vector<const RecOp*> AllOps(OpKind kind) const {
    std::vector<const RecOp*> out;
    for (const RecBatch& b : Batches)
      for (const RecOp& op : b.ops)
        if (op.kind == kind) out.push_back(&op);
    return out;
  }
  size_t CountOps() const {
    size_t n = 0;
    for (const RecBatch& b : Batches) n += b.ops.size();
    return n;
  }

  TRect View;
  std::vector<RecBatch> Batches;
};

inline RecordingTile::RecordingTile(RecordingController* c, const TRect& r, TPoint cell)
    : TEffTile(c, r, cell), rec_(c) {}

inline void RecordingTile::BeginDraw(bool textured, bool threeD) {
  EXPECT_EQ(open_, -1) << "a tile's batch was opened twice";
  RecBatch b;
  b.cell = Cell;
  b.rect = Rect;
  b.textured = textured;
  b.threeD = threeD;
  rec_->Batches.push_back(b);
  open_ = int(rec_->Batches.size()) - 1;
}

inline void RecordingTile::Add(const RecOp& op) {
  ASSERT_NE(open_, -1) << "a triangle outside BeginDraw/EndDraw";
  rec_->Batches[open_].ops.push_back(op);
}

inline void RecordingTile::EndDraw() {
  ASSERT_NE(open_, -1) << "EndDraw without BeginDraw";
  rec_->Batches[open_].closed = true;
  open_ = -1;
}

inline double TriArea(float ax, float ay, float bx, float by, float cx, float cy) {
  return 0.5 * ((double(bx) - ax) * (double(cy) - ay) - (double(cx) - ax) * (double(by) - ay));
}

// Point samples over an integer area at odd offsets (never on a whole or half
// pixel, where the grid lines and most edges lie). For every sample: how many
// triangles cover it and the value they carry there (interpolated A).
struct Coverage {
  int x0, y0, w, h, stride;
  std::vector<int> hits;
  std::vector<float> value;
  Coverage(const TRect& r, int s) : x0(r.Left), y0(r.Top), w((r.Right - r.Left) / s), h((r.Bottom - r.Top) / s), stride(s) {
    hits.assign(size_t(w) * h, 0);
    value.assign(size_t(w) * h, 0);
  }
  float SX(int i) const { return float(x0 + i * stride + 0.3711); }
  float SY(int j) const { return float(y0 + j * stride + 0.6173); }
  // A per vertex: vertex values a[0..2].
  void Add(const float* px, const float* py, const float* a) {
    const double area2 = 2 * TriArea(px[0], py[0], px[1], py[1], px[2], py[2]);
    if (std::fabs(area2) < 1e-9) return;
    const float minx = std::min({px[0], px[1], px[2]}), maxx = std::max({px[0], px[1], px[2]});
    const float miny = std::min({py[0], py[1], py[2]}), maxy = std::max({py[0], py[1], py[2]});
    int i0 = std::max(0, int(std::floor((minx - x0) / stride)) - 1), i1 = std::min(w - 1, int(std::ceil((maxx - x0) / stride)) + 1);
    int j0 = std::max(0, int(std::floor((miny - y0) / stride)) - 1), j1 = std::min(h - 1, int(std::ceil((maxy - y0) / stride)) + 1);
    for (int j = j0; j <= j1; ++j)
      for (int i = i0; i <= i1; ++i) {
        const double x = SX(i), y = SY(j);
        double w0 = (double(px[2]) - px[1]) * (y - py[1]) - (double(py[2]) - py[1]) * (x - px[1]);
        double w1 = (double(px[0]) - px[2]) * (y - py[2]) - (double(py[0]) - py[2]) * (x - px[2]);
        double w2 = (double(px[1]) - px[0]) * (y - py[0]) - (double(py[1]) - py[0]) * (x - px[0]);
        if (area2 < 0) {
          w0 = -w0;
          w1 = -w1;
          w2 = -w2;
        }
        if (w0 < 0 || w1 < 0 || w2 < 0) continue;
        const double s = std::fabs(area2);
        const size_t k = size_t(j) * w + i;
        hits[k]++;
        value[k] = float((w0 * a[0] + w1 * a[1] + w2 * a[2]) / s);
      }
  }
  void AddTri(const TTriangle& t) {
    const float px[3] = {t[0].X, t[1].X, t[2].X}, py[3] = {t[0].Y, t[1].Y, t[2].Y}, a[3] = {t[0].A, t[1].A, t[2].A};
    Add(px, py, a);
  }
};

}  // namespace transitions_test

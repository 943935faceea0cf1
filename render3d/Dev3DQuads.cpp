// The quad batch, the screen's drawing routines, the edge mesh and the
// projection routines.
#include <algorithm>
#include <cmath>

#include "foundation/kpExceptions.h"
#include "render3d/Dev3DScreen.h"

namespace render3d {

using foundation::TFlatVector;

// ---- TVertexBuffer ----

TVertexBuffer::TVertexBuffer(T3DScreen* screen) : Screen(screen) {
  QEL_ASSERT(screen != nullptr, u"TVertexBuffer: no screen");
  Screen->AddResource(this);
}

void TVertexBuffer::Dispose() {
  ReleaseList();
  if (Screen) Screen->RemoveResource(this);
  Screen = nullptr;
  TRefObject::Dispose();
}

void TVertexBuffer::ReleaseList() {
  if (List) {
    T3DVertexList* l = List;
    List = nullptr;
    l->OnRelease = nullptr;
    l->Free();
  }
  Textures.clear();
  Count = 0;
}

void TVertexBuffer::Reserve(int32_t triangles, int32_t textureSets) {
  Flush();
  if (List && Capacity >= triangles) {
    Limit = triangles;
    return;
  }
  if (List) {
    List->OnRelease = nullptr;
    List->Free();
    List = nullptr;
  }
  Capacity = Limit = triangles;
  if (Screen && Screen->Renderer && Screen->Renderer->State != rsCreationPending) {
    List = Screen->Renderer->CreateVertexList(triangles * 3, vcDiffuse, textureSets);
    if (List) List->OnRelease = [this] { ReleaseList(); };
  }
  Vertices.resize(size_t(Capacity) * 3);
}

void TVertexBuffer::SetTextures(std::span<TCustomTexture* const> textures) {
  if (List)
    Flush();
  else
    Reserve(Capacity ? Capacity : 1024, static_cast<int32_t>(textures.size()));
  if (textures.size() == 1 && textures[0]) Translucent = Translucent || textures[0]->Alpha < 255;
  Textures.assign(textures.begin(), textures.end());
  Vertices.resize(size_t(Capacity) * 3);
}

void TVertexBuffer::AddTriangle(T3DPoint p0, T3DPoint p1, T3DPoint p2, std::span<const TFloatPoint> t0,
                                std::span<const TFloatPoint> t1, std::span<const TFloatPoint> t2, uint32_t c0,
                                uint32_t c1, uint32_t c2) {
  if (!Screen || !Screen->IsReady()) return;
  size_t n = t0.size();
  QEL_ASSERT(t1.size() == n && t2.size() == n, u"TVertexBuffer.AddTriangle: coordinate count");
  QEL_ASSERT(n < 8, u"TVertexBuffer.AddTriangle: too many texture sets");
  QEL_ASSERT(Textures.size() >= n, u"TVertexBuffer.AddTriangle: more sets than textures");
  TTriangle t;
  const T3DPoint* p[3] = {&p0, &p1, &p2};
  const std::span<const TFloatPoint>* tc[3] = {&t0, &t1, &t2};
  const uint32_t c[3] = {c0, c1, c2};
  for (int k = 0; k < 3; ++k) {
    T3DVertex& v = t.V[k];
    v.X = p[k]->X;
    v.Y = p[k]->Y;
    v.Z = p[k]->Z;
    v.Diffuse = c[k];
    if (n == 0) {
      v.TexCoords[0][0] = p[k]->X;
      v.TexCoords[0][1] = p[k]->Y;
    }
    for (size_t i = 0; i < n; ++i) {
      if (Textures[i])
        Textures[i]->SetTexCoord(v, (*tc[k])[i].X, (*tc[k])[i].Y, static_cast<int32_t>(i));
    }
  }
  PutTriangle(t);
}

void TVertexBuffer::PutTriangle(const TTriangle& t) {
  if (Count >= Limit) {
    QEL_ASSERT(Textures.size() <= 1, u"TVertexBuffer: a multi-texture batch outgrew its limit");
    std::vector<TCustomTexture*> keep = Textures;
    Flush();
    Textures = keep;
  }
  if (!List || Count >= Limit) return;
  size_t at = size_t(Count) * 3;
  if (Vertices.size() < at + 3) Vertices.resize(at + 3);
  for (int k = 0; k < 3; ++k) Vertices[at + size_t(k)] = t.V[k];
  ++Count;
}

void TVertexBuffer::Flush() {
  if (List && Screen && Screen->CanDraw() && Count > 0) {
    List->SetVertices(0, Vertices, 0, Count * 3);
    List->SetFormat(0, Count, pkTriangleList);
    std::vector<TBaseTexture*> dev(Textures.size(), nullptr);
    bool premul = false;
    for (size_t i = 0; i < Textures.size(); ++i) {
      T3DTexture* d = Textures[i] ? Textures[i]->GetTexture() : nullptr;
      if (d) {
        d->SetAddressMode(1, 1);
        d->SetFilter(Textures[i]->PointFilter ? 0 : 1);
        d->SetMipFilter(Textures[i]->Mipmapped ? 1 : 0);
        d->SetMipLodBias(static_cast<float>(Textures[i]->LodBias));
        premul = premul || d->Premultiplied;
      }
      dev[i] = d;
    }
    TDrawFlags flags;
    if (Textures.empty())
      flags = dfModulateColor | dfModulateAlpha;
    else if (Blend || premul)
      flags = dfTextures | dfModulateColor | dfModulateAlpha;
    else if (Textures.size() == 1 && Translucent)
      flags = dfTextures | dfModulateAlpha;
    else
      flags = dfTextures;
    Screen->Renderer->DrawVertexList(dev, static_cast<int32_t>(dev.size()), List, flags);
  }
  Textures.clear();
  Count = 0;
}

// ---- drawing routines ----

namespace {
T3DPoint Add(T3DPoint a, T3DPoint b) { return {a.X + b.X, a.Y + b.Y, a.Z + b.Z}; }
T3DPoint Sub(T3DPoint a, T3DPoint b) { return {a.X - b.X, a.Y - b.Y, a.Z - b.Z}; }
T3DPoint Mul(T3DPoint a, double k) { return {float(a.X * k), float(a.Y * k), float(a.Z * k)}; }
T3DPoint PlanePoint(T3DPoint origin, TFloatPoint anchor, T3DPoint ax, T3DPoint ay, double x, double y) {
  return Add(Add(origin, Mul(ax, x - anchor.X)), Mul(ay, y - anchor.Y));
}
uint32_t NoAlpha(uint32_t c) { return c & 0x00FFFFFFu; }
}  // namespace

void T3DScreen::DrawColorQuad(T3DPoint tl, T3DPoint tr, T3DPoint bl, T3DPoint br, uint32_t cTL, uint32_t cTR,
                              uint32_t cBL, uint32_t cBR) {
  if (!IsReady()) return;
  QuadBatch->SetTextures({});
  QuadBatch->AddTriangle(tl, tr, bl, {}, {}, {}, cTL, cTR, cBL);
  QuadBatch->AddTriangle(tr, br, bl, {}, {}, {}, cTR, cBR, cBL);
  QuadBatch->Flush();
}

void T3DScreen::DrawTextureQuad(std::span<TCustomTexture* const> textures, T3DPoint origin, TFloatPoint anchor,
                                T3DPoint axisX, T3DPoint axisY, std::span<const TFloatRect> rects, uint32_t c0,
                                uint32_t c1, uint32_t c2, uint32_t c3) {
  if (!IsReady() || rects.empty()) return;
  QuadBatch->SetTextures(textures);
  QuadBatch->Blend = true;
  const TFloatRect& R = rects[0];
  T3DPoint LB = PlanePoint(origin, anchor, axisX, axisY, R.Left, R.Bottom);
  T3DPoint LT = PlanePoint(origin, anchor, axisX, axisY, R.Left, R.Top);
  T3DPoint RB = PlanePoint(origin, anchor, axisX, axisY, R.Right, R.Bottom);
  T3DPoint RT = PlanePoint(origin, anchor, axisX, axisY, R.Right, R.Top);
  size_t n = textures.size();
  std::vector<TFloatPoint> lb(n), lt(n), rb(n), rt(n);
  for (size_t i = 0; i < n; ++i) {
    const TFloatRect& r = rects[std::min(i, rects.size() - 1)];
    lb[i] = {r.Left, r.Bottom};
    lt[i] = {r.Left, r.Top};
    rb[i] = {r.Right, r.Bottom};
    rt[i] = {r.Right, r.Top};
  }
  QuadBatch->AddTriangle(LB, LT, RB, lb, lt, rb, c0, c1, c2);
  QuadBatch->AddTriangle(RB, LT, RT, rb, lt, rt, c2, c1, c3);
  QuadBatch->Flush();
  QuadBatch->Blend = false;
}

void T3DScreen::DrawTextureRect(TCustomTexture* texture, T3DPoint origin, TFloatPoint anchor, T3DPoint axisX,
                                T3DPoint axisY, const TFloatRect& rect) {
  QEL_ASSERT(texture != nullptr, u"T3DScreen.DrawTextureRect: no texture");
  if (texture->Alpha == 0) return;
  uint32_t c = MakeARGB(texture->Alpha, 255, 255, 255);
  TCustomTexture* t[1] = {texture};
  DrawTextureQuad(t, origin, anchor, axisX, axisY, {&rect, 1}, c, c, c, c);
}

void T3DScreen::BuildEdgeMesh(TEdgeMesh& mesh, const TAffineFrame3D& plane, TFloatPoint anchor, T3DPoint camera,
                              const TFloatRect& rect, uint8_t edgeFlags) {
  T3DPoint* M = mesh.Vertices;
  M[5] = PlanePoint(plane.Origin, anchor, plane.U, plane.V, rect.Left, rect.Top);
  M[6] = PlanePoint(plane.Origin, anchor, plane.U, plane.V, rect.Right, rect.Top);
  M[9] = PlanePoint(plane.Origin, anchor, plane.U, plane.V, rect.Left, rect.Bottom);
  M[10] = PlanePoint(plane.Origin, anchor, plane.U, plane.V, rect.Right, rect.Bottom);
  TFloatPoint q5 = ProjectPoint(M[5], camera, CameraFactor), q6 = ProjectPoint(M[6], camera, CameraFactor);
  TFloatPoint q9 = ProjectPoint(M[9], camera, CameraFactor), q10 = ProjectPoint(M[10], camera, CameraFactor);
  TFlatVector eL{q5.X - q9.X, q5.Y - q9.Y}, eT{q6.X - q5.X, q6.Y - q5.Y};
  TFlatVector eR{q10.X - q6.X, q10.Y - q6.Y}, eB{q9.X - q10.X, q9.Y - q10.Y};
  if (IsDegenerateEdgePair(eL, eT) || IsDegenerateEdgePair(eR, eT) || IsDegenerateEdgePair(eL, eB) ||
      IsDegenerateEdgePair(eR, eB))
    edgeFlags = 0;
  bool behind = IsBehindPlane(plane, camera);
  auto normal = [&](TFlatVector e, uint8_t flag, double k) -> T3DPoint {
    if (!(edgeFlags & flag)) return {0, 0, 0};
    TFlatVector n = behind ? foundation::RotateFlatVectorMinus90(e) : foundation::RotateFlatVectorPlus90(e);
    n = foundation::NormalizeFlatVectorMax(n);
    return {float(n.X * k), float(n.Y * k), 0};
  };
  T3DPoint nL = normal(eL, 1, InvZoomX), nT = normal(eT, 2, InvZoomY);
  T3DPoint nR = normal(eR, 4, InvZoomX), nB = normal(eB, 8, InvZoomY);
  double t = CameraFactor / camera.Z;
  auto ring = [&](T3DPoint inner, T3DPoint n) { return Add(inner, Mul(n, 1 - inner.Z * t)); };
  M[1] = ring(M[5], nT);
  M[2] = ring(M[6], nT);
  M[4] = ring(M[5], nL);
  M[7] = ring(M[6], nR);
  M[8] = ring(M[9], nL);
  M[11] = ring(M[10], nR);
  M[13] = ring(M[9], nB);
  M[14] = ring(M[10], nB);
  M[0] = Add(Add(M[5], Sub(M[1], M[5])), Sub(M[4], M[5]));
  M[3] = Add(Add(M[6], Sub(M[2], M[6])), Sub(M[7], M[6]));
  M[12] = Add(Add(M[9], Sub(M[13], M[9])), Sub(M[8], M[9]));
  M[15] = Add(Add(M[10], Sub(M[14], M[10])), Sub(M[11], M[10]));
  TFloatPoint* T = mesh.TexPoints;
  TFloatPoint p5{rect.Left, rect.Top}, p6{rect.Right, rect.Top}, p9{rect.Left, rect.Bottom},
      p10{rect.Right, rect.Bottom};
  T[0] = T[1] = T[4] = T[5] = p5;
  T[2] = T[3] = T[7] = T[6] = p6;
  T[8] = T[12] = T[13] = T[9] = p9;
  T[11] = T[14] = T[15] = T[10] = p10;
}

void T3DScreen::DrawEdgeMesh(std::span<TCustomTexture* const> textures, const TEdgeMesh& mesh, uint32_t cTL,
                             uint32_t cTR, uint32_t cBL, uint32_t cBR, uint8_t edgeFlags) {
  size_t n = textures.size();
  QEL_ASSERT(n == 0 || n == 1 || n == 3, u"T3DScreen.DrawEdgeMesh: texture count");
  if (!IsReady()) return;
  QuadBatch->SetTextures(textures);
  QuadBatch->Blend = true;
  uint32_t col[16];
  for (int i = 0; i < 16; ++i) {
    int row = i / 4, c = i % 4;
    uint32_t q = row < 2 ? (c < 2 ? cTL : cTR) : (c < 2 ? cBL : cBR);
    col[i] = NoAlpha(q);
  }
  col[5] = cTL;
  col[6] = cTR;
  col[9] = cBL;
  col[10] = cBR;
  std::vector<TFloatPoint> tc[16];
  for (int i = 0; i < 16; ++i) {
    tc[i].resize(n);
    for (size_t k = 0; k < n; ++k) {
      TFloatPoint p = mesh.TexPoints[i];
      tc[i][k] = k == 0 ? p : TFloatPoint{p.X / 2, p.Y / 2};
    }
  }
  auto tri = [&](int a, int b, int c) {
    QuadBatch->AddTriangle(mesh.Vertices[a], mesh.Vertices[b], mesh.Vertices[c], tc[a], tc[b], tc[c], col[a], col[b],
                           col[c]);
  };
  auto quad = [&](int a, int b, int c, int d) {
    tri(a, b, d);
    tri(d, b, c);
  };
  bool L = edgeFlags & 1, T = edgeFlags & 2, R = edgeFlags & 4, B = edgeFlags & 8;
  if (L && T) quad(4, 0, 1, 5);
  if (T) quad(5, 1, 2, 6);
  if (R && T) quad(6, 2, 3, 7);
  if (L) quad(8, 4, 5, 9);
  tri(9, 5, 10);
  tri(10, 5, 6);
  if (R) quad(10, 6, 7, 11);
  if (L && B) quad(12, 8, 9, 13);
  if (B) quad(13, 9, 10, 14);
  if (R && B) quad(14, 10, 11, 15);
  QuadBatch->Flush();
  QuadBatch->Blend = false;
}

// ---- projection routines ----

TFloatPoint ProjectPoint(T3DPoint p, T3DPoint cam, double k) {
  double d = p.Z * k - cam.Z;
  double f = std::fabs(d) < 0.000001 ? 1000000.0 : 1 / d;
  return {float((double(cam.X) - p.X) * cam.Z * f + cam.X), float((double(cam.Y) - p.Y) * cam.Z * f + cam.Y)};
}

T3DPoint ScreenPointToPlane(TFloatPoint s, const TAffineFrame3D& plane, T3DPoint cam, double k) {
  QEL_ASSERT(cam.Z != 0, u"  Camera.Z = 0  ");
  T3DPoint n = foundation::CrossVectors3D(plane.U, plane.V);
  double nx = n.X * k, ny = n.Y * k, nz = n.Z;
  double dx = (double(s.X) - cam.X) / -double(cam.Z), dy = (double(s.Y) - cam.Y) / -double(cam.Z);
  double den = dx * nx + nz + dy * ny;
  if (std::fabs(den) < 0.000001) den = 0.000001;
  const T3DPoint& P = plane.Origin;
  double Z = ((double(P.X) - s.X) * nx + (double(P.Y) - s.Y) * ny + P.Z * nz * k) / den;
  double X = (double(s.X) - cam.X) * (Z - cam.Z) / -double(cam.Z) + cam.X;
  double Y = (double(s.Y) - cam.Y) * (Z - cam.Z) / -double(cam.Z) + cam.Y;
  return {float(X), float(Y), float(Z)};
}

bool IsBehindPlane(const TAffineFrame3D& plane, T3DPoint cam) {
  T3DPoint p{cam.X, cam.Y, float(cam.Z / CameraFactor)};
  return foundation::PointToAffineFrame3D(plane, p).Z < 0;
}

bool IsDegenerateEdgePair(TFlatVector a, TFlatVector b) {
  double aa = double(a.X) * a.X + double(a.Y) * a.Y, bb = double(b.X) * b.X + double(b.Y) * b.Y;
  if (aa <= 0.01 || bb <= 0.01) return true;
  double ab = double(a.X) * b.X + double(a.Y) * b.Y;
  return ab * ab / (aa * bb) > 0.99;
}

}  // namespace render3d

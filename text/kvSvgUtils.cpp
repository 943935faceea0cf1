#include "text/kvSvgUtils.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "imaging/kvBitmap.h"

namespace text {

double EvalQuadraticBezier(double a, double b, double c, double t) {
  const double u = 1 - t;
  return u * u * a + 2 * t * u * b + t * t * c;
}

double EvalCubicBezierD(double a, double b, double c, double d, double t) {
  const double u = 1 - t;
  return u * u * u * a + 3 * u * u * t * b + 3 * u * t * t * c + t * t * t * d;
}

double EvalCubicBezier(float a, float b, float c, float d, double t) { return EvalCubicBezierD(a, b, c, d, t); }

namespace {

bool Flat(TFloatPoint a, TFloatPoint b) { return std::fabs(b.X - a.X) < 2 && std::fabs(b.Y - a.Y) < 2; }

template <size_t N>
bool OutsideClip(const TFloatPoint (&p)[N], const TFlattenClip& c) {
  bool left = true, right = true, above = true, below = true;
  for (const auto& q : p) {
    left = left && q.X < c.Left;
    right = right && q.X > c.Right;
    above = above && q.Y < c.Top;
    below = below && q.Y > c.Bottom;
  }
  return left || right || above || below;
}

template <class Eval>
void Subdivide(const Eval& eval, TFloatPoint start, TFloatPoint end, float t0, float t1, int depth,
               const TFlattenEmit& emit) {
  if (depth < 2) return;
  if (t1 - t0 > 0 && !Flat(start, end)) {
    const float tm = float((double(t0) + double(t1)) / 2);
    const TFloatPoint mid = eval(tm);
    Subdivide(eval, start, mid, t0, tm, depth - 1, emit);
    Subdivide(eval, mid, end, tm, t1, depth - 1, emit);
  } else {
    emit(end);
  }
}

}  // namespace

void FlattenQuadratic(TFloatPoint P0, TFloatPoint P1, TFloatPoint P2, const TFlattenEmit& Emit,
                      const TFlattenClip& Clip) {
  const TFloatPoint hull[3] = {P0, P1, P2};
  if (OutsideClip(hull, Clip)) {
    Emit(P2);
    return;
  }
  const auto eval = [&](float t) {
    return TFloatPoint{float(EvalQuadraticBezier(P0.X, P1.X, P2.X, t)), float(EvalQuadraticBezier(P0.Y, P1.Y, P2.Y, t))};
  };
  const bool unclipped = Clip.Left < -3e38f && Clip.Right > 3e38f && Clip.Top < -3e38f && Clip.Bottom > 3e38f;
  if (unclipped) {
    Subdivide(eval, P0, P2, 0.0f, 1.0f, 32, Emit);
    return;
  }
  // With a clip, pieces are tested on their own hulls (the quadratic's
  // control points of [t0, t1] by blossoming).
  struct Rec {
    static void Go(const TFloatPoint (&q)[3], const decltype(eval)& ev, TFloatPoint start, TFloatPoint end, float t0,
                   float t1, int depth, const TFlattenEmit& emit, const TFlattenClip& clip) {
      if (depth < 2) return;
      // Control point of the piece: the blossom b(t0, t1).
      const double a = t0, b = t1;
      const TFloatPoint c{float((1 - a) * (1 - b) * q[0].X + ((1 - a) * b + a * (1 - b)) * q[1].X + a * b * q[2].X),
                          float((1 - a) * (1 - b) * q[0].Y + ((1 - a) * b + a * (1 - b)) * q[1].Y + a * b * q[2].Y)};
      const TFloatPoint hullPiece[3] = {start, c, end};
      if (t1 - t0 > 0 && !Flat(start, end) && !OutsideClip(hullPiece, clip)) {
        const float tm = float((double(t0) + double(t1)) / 2);
        const TFloatPoint mid = ev(tm);
        Go(q, ev, start, mid, t0, tm, depth - 1, emit, clip);
        Go(q, ev, mid, end, tm, t1, depth - 1, emit, clip);
      } else {
        emit(end);
      }
    }
  };
  Rec::Go(hull, eval, P0, P2, 0.0f, 1.0f, 32, Emit, Clip);
}

void FlattenCubic(TFloatPoint P0, TFloatPoint P1, TFloatPoint P2, TFloatPoint P3, const TFlattenEmit& Emit,
                  const TFlattenClip& Clip) {
  const TFloatPoint hull[4] = {P0, P1, P2, P3};
  if (OutsideClip(hull, Clip)) {
    Emit(P3);
    return;
  }
  const auto eval = [&](float t) {
    return TFloatPoint{float(EvalCubicBezierD(P0.X, P1.X, P2.X, P3.X, t)),
                       float(EvalCubicBezierD(P0.Y, P1.Y, P2.Y, P3.Y, t))};
  };
  const bool unclipped = Clip.Left < -3e38f && Clip.Right > 3e38f && Clip.Top < -3e38f && Clip.Bottom > 3e38f;
  if (unclipped) {
    Subdivide(eval, P0, P3, 0.0f, 1.0f, 32, Emit);
    return;
  }
  struct Rec {
    static TFloatPoint Blossom(const TFloatPoint (&q)[4], double a, double b, double c) {
      // b(a, b, c) of the cubic: symmetric polar form.
      const double w0 = (1 - a) * (1 - b) * (1 - c);
      const double w1 = a * (1 - b) * (1 - c) + (1 - a) * b * (1 - c) + (1 - a) * (1 - b) * c;
      const double w2 = a * b * (1 - c) + a * (1 - b) * c + (1 - a) * b * c;
      const double w3 = a * b * c;
      return TFloatPoint{float(w0 * q[0].X + w1 * q[1].X + w2 * q[2].X + w3 * q[3].X),
                         float(w0 * q[0].Y + w1 * q[1].Y + w2 * q[2].Y + w3 * q[3].Y)};
    }
    static void Go(const TFloatPoint (&q)[4], const decltype(eval)& ev, TFloatPoint start, TFloatPoint end, float t0,
                   float t1, int depth, const TFlattenEmit& emit, const TFlattenClip& clip) {
      if (depth < 2) return;
      const TFloatPoint hullPiece[4] = {start, Blossom(q, t0, t0, t1), Blossom(q, t0, t1, t1), end};
      if (t1 - t0 > 0 && !Flat(start, end) && !OutsideClip(hullPiece, clip)) {
        const float tm = float((double(t0) + double(t1)) / 2);
        const TFloatPoint mid = ev(tm);
        Go(q, ev, start, mid, t0, tm, depth - 1, emit, clip);
        Go(q, ev, mid, end, tm, t1, depth - 1, emit, clip);
      } else {
        emit(end);
      }
    }
  };
  Rec::Go(hull, eval, P0, P3, 0.0f, 1.0f, 32, Emit, Clip);
}

namespace {

bool IsNumberChar(char c) { return c == '+' || c == '-' || c == '.' || (c >= '0' && c <= '9') || c == 'E' || c == 'e'; }

struct SvgReader {
  const std::string& t;
  size_t pos = 0;
  void SkipBlanks() {
    while (pos < t.size() && uint8_t(t[pos]) <= 0x20) ++pos;
  }
  // The longest run of number characters, converted as a whole; then blanks and one ",".
  bool Number(double& v) {
    SkipBlanks();
    const size_t start = pos;
    while (pos < t.size() && IsNumberChar(t[pos])) ++pos;
    if (pos == start) return false;
    const std::string run = t.substr(start, pos - start);
    char* end = nullptr;
    v = std::strtod(run.c_str(), &end);
    if (end != run.c_str() + run.size()) {
      pos = start;
      return false;
    }
    SkipBlanks();
    if (pos < t.size() && t[pos] == ',') ++pos;
    return true;
  }
};

}  // namespace

int32_t ParseSvgPath(const std::string& Text, TPath& Path, bool Chained) {
  SvgReader r{Text};
  int32_t kind = -1;
  char letter = 0;
  TFloatPoint P{0, 0}, R{0, 0}, B{0, 0};
  bool expectMove = true;
  for (;;) {
    r.SkipBlanks();
    if (r.pos >= Text.size()) return 0;
    const size_t at = r.pos;
    const char c = Text[at];
    const int32_t prevKind = kind;
    bool reflect = false;
    switch (c) {
      case 'M': case 'm': kind = 0; letter = c; break;
      case 'L': case 'l': case 'H': case 'h': case 'V': case 'v': kind = 1; letter = c; break;
      case 'C': case 'c': kind = 3; letter = c; break;
      case 'Q': case 'q': kind = 2; letter = c; break;
      case 'S': case 's': case 'T': case 't':
        if (prevKind != 1 && prevKind != 2 && prevKind != 3) return int32_t(at) + 1;
        kind = (c == 'S' || c == 's') ? 3 : 2;
        letter = c;
        break;
      case 'Z': case 'z': kind = 9; letter = c; break;
      default:
        if ((c == '-' || c == '.' || (c >= '0' && c <= '9')) && letter != 0 && kind != 9) {
          // A number repeats the command under way; a repeated move is a line.
          if (letter == 'M') { letter = 'L'; kind = 1; }
          else if (letter == 'm') { letter = 'l'; kind = 1; }
        } else {
          return int32_t(at) + 1;
        }
    }
    const bool isLetter = !(c == '-' || c == '.' || (c >= '0' && c <= '9'));
    if (isLetter) ++r.pos;
    reflect = letter == 'S' || letter == 's' || letter == 'T' || letter == 't';
    if (expectMove && kind != 0) return int32_t(at) + 1;
    if (kind == 9) {
      expectMove = true;
      continue;
    }
    if (kind == 0) expectMove = false;
    const bool relative = letter >= 'a' && letter <= 'z';
    B = P;
    const int32_t points = kind == 0 ? 1 : kind;
    for (int32_t i = 0; i < points; ++i) {
      TFloatPoint q;
      if (reflect && i == 0) {
        q = TFloatPoint{2 * P.X - R.X, 2 * P.Y - R.Y};
        R = B;
      } else {
        R = P;
        const size_t numberAt = r.pos;
        double x = 0, y = 0;
        if (letter == 'H' || letter == 'h') {
          if (!r.Number(x)) return int32_t(std::max(numberAt, r.pos)) + 1;
          q = TFloatPoint{float(relative ? B.X + x : x), P.Y};
        } else if (letter == 'V' || letter == 'v') {
          if (!r.Number(y)) return int32_t(std::max(numberAt, r.pos)) + 1;
          q = TFloatPoint{P.X, float(relative ? B.Y + y : y)};
        } else {
          if (!r.Number(x)) return int32_t(r.pos) + 1;
          if (!r.Number(y)) return int32_t(r.pos) + 1;
          q = relative ? TFloatPoint{float(B.X + x), float(B.Y + y)} : TFloatPoint{float(x), float(y)};
        }
        if (relative && Chained) B = q;
      }
      AddPathPoint(Path, q.X, q.Y, kind - i);
      P = q;
    }
  }
}

void Draw3DFrame(imaging::TDirectBitmap* Bitmap, const foundation::TRect& Rect, uint32_t Light, uint32_t Dark,
                 const foundation::TRect& Clip) {
  if (!Bitmap) return;
  auto fill = [&](foundation::TRect e, uint32_t color) {
    e.Left = std::max(e.Left, Clip.Left);
    e.Top = std::max(e.Top, Clip.Top);
    e.Right = std::min(e.Right, Clip.Right);
    e.Bottom = std::min(e.Bottom, Clip.Bottom);
    if (e.Left < e.Right && e.Top < e.Bottom) Bitmap->FillRect(e, color);
  };
  const auto& r = Rect;
  fill({r.Left, r.Top, r.Left + 1, r.Bottom - 1}, Light);
  fill({r.Left, r.Top, r.Right - 1, r.Top + 1}, Light);
  fill({r.Right - 1, r.Top, r.Right, r.Bottom}, Dark);
  fill({r.Left, r.Bottom - 1, r.Right, r.Bottom}, Dark);
}

}  // namespace text

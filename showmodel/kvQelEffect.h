// A slide's incoming transition as records (the effect chosen for it, and the
// filter tying that effect to the slide with its length), and the slide-time
// record of the show's time table with its small helpers.
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/SysObj.h"
#include "render3d/Dev3DEffects2.h"
#include "transitions/kvDrawFilter.h"

namespace showmodel {

// One slide's place on the show's time line, in milliseconds of show time.
// End is the next slide's Start; EffectIn and EffectOut are the lengths of the
// transitions into and out of the slide.
struct TSlideTimes {
  double Start = 0;
  double End = 0;
  double EffectIn = 0;
  double EffectOut = 0;
};

// Shifts a time in place (slide times of a later pass of a repeating show).
inline void IncTime(double& time, double offset) { time += offset; }
// The moment the slide has completely left the screen.
inline double GetSlideOutEnd(const TSlideTimes& times) { return times.End + times.EffectOut; }
// The moment the incoming transition of the slide has finished.
inline double GetSlideInEnd(const TSlideTimes& times) { return times.Start + times.EffectIn; }
// The part of the slide after its incoming transition (the length a looping
// slide jumps back by).
inline double GetLoopDuration(const TSlideTimes& times) { return times.End - times.Start - times.EffectIn; }

// Which slide is current at show time t, the one rule every reader of the
// time table uses (the show source, the slide producer and the frame's slide
// selection): the first slide whose span [Start, End] holds t, so at a
// boundary the earlier slide is current and the later one's transition is at
// its start. rows[k] belongs to slide first + k. Answers first - 1 when t lies
// before every row (or is not a number) and first + count - 1 past the last.
// Rows is anything indexable whose items are slide times (rows of the slide
// table too, which carry more than the times).
template <class Rows>
int32_t CurrentSlideIn(const Rows& rows, int32_t count, int32_t first, double t) {
  if (count <= 0 || !(t >= static_cast<const TSlideTimes&>(rows[0]).Start)) return first - 1;
  for (int32_t k = 0; k < count; ++k) {
    const TSlideTimes& row = rows[k];
    if (row.Start <= t && t <= row.End) return first + k;
  }
  // Past the last row, or in a gap a table of contiguous rows does not
  // have: the last slide that has started.
  int32_t last = 0;
  for (int32_t k = 0; k < count; ++k)
    if (static_cast<const TSlideTimes&>(rows[k]).Start <= t) last = k;
  return first + last;
}

// Kind and parameters of a transition effect as chosen for one slide.
class TQelEffect : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TQelEffect)
  explicit TQelEffect(int32_t kind);
  // Releases the description.
  void Dispose() override;
  // Values of 0.1 and more are kept; smaller ones (and NaN) store 0.001, the
  // hard edge.
  void SetSmoothLine(double value);
  // A copy with its own arrays and one more reference to the description.
  TQelEffect* Clone() const;
  // Takes one reference to the node (nil clears).
  void SetDescription(foundation::TRefObject* node);

  double SmoothLine = 0.001;
  int32_t Kind = 0;
  int32_t VariantCount = 0;
  std::vector<int32_t> IntParams;
  std::vector<float> FloatParams;
  std::vector<bool> Options;
  // The effect-definition node of a custom effect; one reference held.
  foundation::TRefObject* Description = nullptr;
};

// The transition into a slide: its effect, its length and smoothness and, for
// effects drawn from an effect file, the draw filter made for it at preload.
class TQelFilter : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TQelFilter)
  TQelFilter() = default;
  // Releases the effect and the draw filter.
  void Dispose() override;
  // Takes over one reference.
  void SetEffect(TQelEffect* effect);
  void SetDrawFilter(transitions::TDrawFilter* filter);

  TQelEffect* Effect = nullptr;
  double Duration = 0;
  float SmoothLine = 0;
  transitions::TDrawFilter* DrawFilter = nullptr;
};

// The transition factory of the draw manager reads its own record (it sits
// below the show model): the kind, the parameter arrays and option flags as
// the effect holds them, and for an effect drawn from an effect file its
// definition node as the custom slide (not referenced: the effect keeps it).
void FillEffectRecord(const TQelEffect& effect, render3d::TEffectRecord& record);
// The per-slide state the drawer's transition drawing takes, for a show time
// position (milliseconds since the incoming slide started): the record is
// filled from the filter's effect (no effect: no transition), the length and
// smoothness are the filter's. The record must outlive the state; the
// state's own draw filter is left as it is.
void FillTransitionState(const TQelFilter& filter, double position, render3d::TEffectRecord& record,
                         render3d::TTransitionState& state);

}  // namespace showmodel

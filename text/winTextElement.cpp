#include "text/winTextElement.h"

#include <algorithm>
#include <climits>
#include <mutex>

#include "text/GdiDynamicFunctions.h"
#include "text/winFontSubstitute.h"
#include "text/winFontUtils.h"

namespace text {

namespace fonts = platform::fonts;

namespace {

// Font splitting of every element runs under one lock.
std::mutex& SplitLock() {
  static std::mutex* m = new std::mutex;  // never destroyed: elements may lay out while the process exits
  return *m;
}

constexpr char16_t kPrefixMarks[] = {0, 0x202A, 0x202B, 0x202D, 0x202E};

int32_t PrefixOf(char16_t c) {
  for (int32_t i = 1; i <= 4; ++i)
    if (kPrefixMarks[i] == c) return i;
  return 0;
}

bool IsRtlClass(uint8_t c) { return c == fonts::GCPCLASS_HEBREW || c == fonts::GCPCLASS_ARABIC; }

// Takes the device context of the element's provider for a scope.
class TDCScope {
 public:
  explicit TDCScope(TWinTextElement* e) : e_(e) {
    if (e_->OnGetDC && e_->OnReleaseDC) dc_ = e_->OnGetDC();
  }
  ~TDCScope() {
    if (e_->OnGetDC && e_->OnReleaseDC) e_->OnReleaseDC(dc_);
  }

 private:
  TWinTextElement* e_;
  uintptr_t dc_ = 0;
};

// The placement of a run when the shaper cannot place it: identity order,
// glyphs by index (missing ones marked) and ABC advances.
void FallbackPlacement(fonts::Font* f, std::u16string_view s, fonts::Placement& p) {
  const size_t n = s.size();
  p = {};
  p.glyphs.resize(n);
  f->glyphIndices(s, p.glyphs, true);
  std::vector<fonts::AbcWidth> abc(n);
  f->glyphAbcWidths(p.glyphs, abc);
  p.order.resize(n);
  p.advances.resize(n);
  p.classes.assign(n, fonts::GCPCLASS_LATIN);
  p.carets.assign(n, 0);
  p.glyphAdvances.resize(n);
  p.glyphOffsets.resize(n);
  int32_t x = 0;
  for (size_t i = 0; i < n; ++i) {
    p.order[i] = int32_t(i);
    p.advances[i] = p.glyphAdvances[i] = abc[i].a + abc[i].b + abc[i].c;
    p.glyphOffsets[i] = x;
    x += p.advances[i];
  }
  p.width = x;
}

}  // namespace

TWinTextElement::TWinTextElement(const TFontParams& aFont, int32_t aFlags) : TTextElementEx(aFont, aFlags) {
  if (!(Font.Size > 0)) Font.Size = 8;
}

fonts::FontHandle TWinTextElement::RunFont(const TTextRun& Run) { return CreateFontHandle(Run.Font); }

void TWinTextElement::GetFontMetrics(TTextFontMetrics& Metrics) {
  if (!FHaveMetrics) {
    fonts::TextMetrics tm = CreateFontHandle(Font)->textMetrics();
    FMetrics = {};
    FMetrics.Ascent = tm.ascent;
    FMetrics.Descent = tm.descent;
    FMetrics.Height = tm.height;
    FHaveMetrics = true;
  }
  Metrics = FMetrics;
}

void TWinTextElement::GetCaretPos(int32_t Index, int32_t& Before, int32_t& After) {
  if (Carets.empty()) {
    Before = After = 0;
    return;
  }
  Index = std::clamp(Index, 0, Count);
  if (Index < 1) {
    Before = After = Carets[0];
  } else {
    Before = Carets[size_t(Index - 1)];
    After = Carets[size_t(Index)];
  }
}

bool TWinTextElement::IsClusterContinuation(int32_t Index) {
  if (Index < 2 || Index > Count) return false;
  return CharToGlyph[size_t(Index - 1)] == CharToGlyph[size_t(Index - 2)];
}

int32_t TWinTextElement::GetUnderlineThickness() {
  fonts::OutlineMetrics om;
  return CreateFontHandle(Font)->outlineMetrics(om) ? om.underscoreSize : 0;
}

int32_t TWinTextElement::GetUnderlinePosition() {
  fonts::OutlineMetrics om;
  return CreateFontHandle(Font)->outlineMetrics(om) ? om.underscorePosition : 0;
}

int32_t TWinTextElement::GetRangeWidth(int32_t Start, int32_t aCount) {
  if (Start < 1 || aCount <= 0 || Start > Count) return 0;
  aCount = std::min(aCount, Count - Start + 1);
  // Runs in logical order from the one holding Start.
  std::vector<const TTextRun*> logical;
  for (int32_t i = 0; i < RunCount; ++i) logical.push_back(&Runs[size_t(i)]);
  std::sort(logical.begin(), logical.end(), [](const TTextRun* a, const TTextRun* b) { return a->Start < b->Start; });
  int32_t first = Start - 1, left = aCount, width = 0;
  for (const TTextRun* r : logical) {
    if (left <= 0) break;
    if (first >= r->Start + r->Count) continue;
    const int32_t from = std::max(first, r->Start);
    const int32_t n = std::min(left, r->Start + r->Count - from);
    width += RunFont(*r)->textExtent(std::u16string_view(Text).substr(size_t(from), size_t(n)));
    left -= n;
    first = from + n;
  }
  return width;
}

void TWinTextElement::GetExtent(TTextExtent& aExtent) { aExtent = Count > 0 ? Extent : TTextExtent{}; }

TTextElement* TWinTextElement::CloneRange(int32_t Start, int32_t aCount) {
  auto* e = new TWinTextElement(Font, Flags);
  e->OnGetDC = OnGetDC;
  e->OnReleaseDC = OnReleaseDC;
  e->OnAcceptFont = OnAcceptFont;
  e->InsertText(1, Text, Start, aCount);
  return e;
}

void TWinTextElement::GetPaintRect(foundation::TRect& Rect, const foundation::TPoint& Position) {
  TTextElement::GetPaintRect(Rect, Position);
  // The platform reports the newest Windows class, whose text reaches one
  // pixel further.
  Rect.Right += 1;
}

int32_t TWinTextElement::GetGlyphCount() { return GlyphCount; }

void TWinTextElement::InsertText(int32_t Position, const std::u16string& Source, int32_t From, int32_t aCount) {
  const int32_t srcLen = int32_t(Source.size());
  if (From < 1) From = 1;
  aCount = std::min(aCount, srcLen - From + 1);
  if (aCount > 0) {
    Position = std::clamp(Position, 1, int32_t(Text.size()) + 1);
    Text.insert(size_t(Position - 1), Source, size_t(From - 1), size_t(aCount));
  }
  Layout();
}

void TWinTextElement::AddRun(int32_t Start, int32_t aCount, const TFontParams& RunFontParams, bool Check,
                             bool& Handled) {
  if (Check && OnAcceptFont) {
    bool accepted = true;
    OnAcceptFont(RunFontParams, Check, accepted);
    if (!accepted) {
      Handled = false;
      return;
    }
  }
  TTextRun r;
  r.Font = RunFontParams;
  r.Start = Start - 1;
  r.Count = aCount;
  r.IsText = Check;
  if (!r.IsText) r.Font.Name = MissingGlyphFont;
  Runs.push_back(r);
  RunCount = int32_t(Runs.size());
}

void TWinTextElement::Layout() {
  TDCScope dc(this);
  ResetWidthCaches();
  Count = int32_t(Text.size());
  Runs.clear();
  RunCount = 0;
  FRunGlyphs.clear();
  FRunFirstGlyph.clear();
  FRunPen.clear();
  FRunIndexReady = false;
  Extent = {};
  GlyphCount = 0;
  Glyphs.clear();
  const size_t n = size_t(Count);
  CharToGlyph.assign(n, 0);
  CharAdvances.assign(n + 1, 0);
  Carets.assign(n + 1, 0);
  CharRanges.assign(n + 1, {0, 0});
  if (Count == 0) {
    Carets.clear();
    return;
  }
  {
    std::lock_guard lock(SplitLock());
    TFontReplacer* replacer = FontReplacer();
    if (replacer) {
      replacer->SplitText(Text, 1, Count, Font,
                          [this](const std::u16string&, int32_t s, int32_t c, const TFontParams& f, bool check,
                                 bool& handled) { AddRun(s, c, f, check, handled); });
    } else {
      bool handled = true;
      AddRun(1, Count, Font, true, handled);
    }
  }
  int32_t inkLeft = INT_MAX, inkRight = -INT_MAX, pen = 0;
  if (RunCount > 1) {
    // Visual order: cut runs where the visual positions of neighbours jump,
    // then sort the pieces by their visual position.
    fonts::Placement p;
    if (CreateFontHandle(Font)->placeText(Text, p)) {
      std::vector<TTextRun> cut;
      for (const TTextRun& r : Runs) {
        TTextRun piece = r;
        for (int32_t i = r.Start + 1; i < r.Start + r.Count; ++i) {
          if (std::abs(p.order[size_t(i)] - p.order[size_t(i - 1)]) >= 2 &&
              !(Text[size_t(i)] >= 0xDC00 && Text[size_t(i)] < 0xE000)) {
            piece.Count = i - piece.Start;
            cut.push_back(piece);
            piece.Start = i;
          }
        }
        piece.Count = r.Start + r.Count - piece.Start;
        cut.push_back(piece);
      }
      auto key = [&](const TTextRun& r) {
        return std::min(p.order[size_t(r.Start)], p.order[size_t(r.Start + r.Count - 1)]);
      };
      for (size_t a = 0; a < cut.size(); ++a)
        for (size_t b = 0; b + 1 < cut.size() - a; ++b)
          if (key(cut[b + 1]) < key(cut[b])) std::swap(cut[b], cut[b + 1]);
      Runs = std::move(cut);
      RunCount = int32_t(Runs.size());
    }
  }
  int32_t prefix = Flags;
  for (TTextRun& r : Runs) {
    ShapeRun(r, pen, prefix, inkLeft, inkRight);
    pen += r.Width;
  }
  CharAdvances[n] = -1;
  if (inkLeft > inkRight) inkLeft = inkRight = 0;  // no ink at all
  Extent.InkWidth = inkRight - inkLeft;
  Extent.AfterInk = pen - inkRight;
  Extent.Width = pen;
  Extent.InkLeft = inkLeft;
}

void TWinTextElement::ShapeRun(TTextRun& Run, int32_t Pen, int32_t& Prefix, int32_t& InkLeft, int32_t& InkRight) {
  fonts::FontHandle f = RunFont(Run);
  const std::u16string_view chars = std::u16string_view(Text).substr(size_t(Run.Start), size_t(Run.Count));
  std::u16string shaped;
  if (Prefix > 0) shaped += kPrefixMarks[Prefix];
  shaped += chars;
  fonts::Placement p;
  if (!f->placeText(shaped, p)) FallbackPlacement(f.get(), shaped, p);
  if (Prefix > 0 && !p.order.empty()) {
    // Drop the mark's own entry; glyphs after its glyph move down by one.
    const int32_t g0 = p.order[0];
    bool shared = false;
    for (size_t t = 1; t < p.order.size(); ++t) shared |= p.order[t] == g0;
    p.order.erase(p.order.begin());
    p.advances.erase(p.advances.begin());
    p.classes.erase(p.classes.begin());
    p.carets.erase(p.carets.begin());
    if (!shared && size_t(g0) < p.glyphs.size()) {
      const int32_t adv = p.glyphAdvances[size_t(g0)];
      p.glyphs.erase(p.glyphs.begin() + g0);
      p.glyphAdvances.erase(p.glyphAdvances.begin() + g0);
      p.glyphOffsets.erase(p.glyphOffsets.begin() + g0);
      for (size_t k = size_t(g0); k < p.glyphOffsets.size(); ++k) p.glyphOffsets[k] -= adv;
      for (auto& o : p.order)
        if (o > g0) --o;
    }
  }
  const size_t n = chars.size();
  const int32_t before = GlyphCount;
  for (size_t t = 0; t < n; ++t) {
    CharToGlyph[size_t(Run.Start) + t] = before + p.order[t];
    CharAdvances[size_t(Run.Start) + t] = p.advances[t];
  }
  const int32_t runGlyphs = int32_t(p.glyphs.size());
  Glyphs.insert(Glyphs.end(), p.glyphs.begin(), p.glyphs.end());
  GlyphCount += runGlyphs;
  Run.GlyphCount = runGlyphs;

  // Glyph positions, cluster starts and ink.
  std::vector<int32_t> x(size_t(runGlyphs) + 1, 0);
  for (int32_t k = 0; k < runGlyphs; ++k) x[size_t(k) + 1] = x[size_t(k)] + p.glyphAdvances[size_t(k)];
  std::vector<fonts::AbcWidth> abc;
  bool haveAbc = false;
  if (GlyphABCWidthsHook)
    haveAbc = GlyphABCWidthsHook(f.get(), p.glyphs, 0, runGlyphs, abc);
  else {
    abc.resize(size_t(runGlyphs));
    haveAbc = f->glyphAbcWidths(p.glyphs, abc);
  }
  for (int32_t k = 0; k < runGlyphs; ++k) {
    const int32_t gx = Pen + x[size_t(k)];
    const fonts::AbcWidth w = haveAbc ? abc[size_t(k)] : fonts::AbcWidth{0, p.glyphAdvances[size_t(k)], 0};
    InkLeft = std::min(InkLeft, gx + w.a);
    InkRight = std::max(InkRight, gx + w.a + w.b);
  }
  Run.Width = x[size_t(runGlyphs)];
  std::vector<bool> starts(size_t(runGlyphs) + 1, false);
  for (size_t t = 0; t < n; ++t)
    if (p.order[t] >= 0 && p.order[t] < runGlyphs) starts[size_t(p.order[t])] = true;
  auto clusterWidth = [&](int32_t g) {
    int32_t w = p.glyphAdvances[size_t(g)];
    for (int32_t k = g + 1; k < runGlyphs && !starts[size_t(k)]; ++k) w += p.glyphAdvances[size_t(k)];
    return w;
  };
  const bool override = Flags == tfRightToLeftOverride;
  for (size_t t = 0; t < n; ++t) {
    const int32_t g = std::clamp(p.order[t], 0, std::max(runGlyphs - 1, 0));
    int32_t cx = runGlyphs ? x[size_t(g)] : 0;
    const bool rtl = IsRtlClass(p.classes[t]) || override;
    if (rtl && runGlyphs) cx += clusterWidth(g);
    Carets[size_t(Run.Start) + t] = Pen + cx;
  }
  if (size_t(Run.Start) + n == size_t(Count) && n > 0) {
    const size_t last = n - 1;
    const int32_t g = std::clamp(p.order[last], 0, std::max(runGlyphs - 1, 0));
    int32_t w = runGlyphs ? clusterWidth(g) : 0;
    if (IsRtlClass(p.classes[last]) || override) w = -w;
    Carets[size_t(Count)] = Carets[size_t(Count) - 1] + w;
  }
  // Character spans: a character sharing its glyph with the next one gets an
  // empty span at the start of the next one's.
  for (size_t t = n; t-- > 0;) {
    const size_t ci = size_t(Run.Start) + t;
    if (t + 1 < n && p.order[t] == p.order[t + 1]) {
      const int32_t s = CharRanges[ci + 1].first;
      CharRanges[ci] = {s, s};
      continue;
    }
    const int32_t g = std::clamp(p.order[t], 0, std::max(runGlyphs - 1, 0));
    const int32_t a = Pen + (runGlyphs ? x[size_t(g)] : 0);
    const int32_t b = a + (runGlyphs ? clusterWidth(g) : 0);
    CharRanges[ci] = IsRtlClass(p.classes[t]) ? std::pair{b, a} : std::pair{a, b};
  }
  // The reading order the next run continues in.
  for (char16_t c : chars)
    if (int32_t m = PrefixOf(c)) Prefix = m;
}

const TWinTextElement::TRunGlyphs& TWinTextElement::RunGlyphs(size_t Run) {
  if (FRunGlyphs.size() != Runs.size()) FRunGlyphs.assign(Runs.size(), TRunGlyphs{});
  TRunGlyphs& c = FRunGlyphs[Run];
  if (c.Ready) return c;
  const TTextRun& r = Runs[Run];
  c.Font = RunFont(r);
  // Shaped on its own, without the reading-order mark the layout puts before
  // it: glyph information places a run's glyphs from the run's start.
  const std::u16string chars =
      r.IsText ? Text.substr(size_t(r.Start), size_t(r.Count)) : std::u16string(size_t(r.Count), MissingGlyphChar);
  fonts::Placement p;
  if (!c.Font->placeText(chars, p)) FallbackPlacement(c.Font.get(), chars, p);
  c.Glyphs = std::move(p.glyphs);
  c.Advances = std::move(p.glyphAdvances);
  c.PenX.assign(c.Advances.size() + 1, 0);
  for (size_t k = 0; k < c.Advances.size(); ++k) c.PenX[k + 1] = c.PenX[k] + c.Advances[k];
  const fonts::TextMetrics tm = c.Font->textMetrics();
  c.Ascent = tm.ascent;
  c.Descent = tm.descent;
  c.Ready = true;
  return c;
}

void TWinTextElement::GetGlyphInfo(int32_t Glyph, TGlyphInfo& Info) {
  Info = TGlyphInfo{};
  if (Glyph < 0 || Glyph >= GlyphCount) return;
  Info.ID.GlyphIndex = Glyphs[size_t(Glyph)];
  Info.ID.GlyphKey = Font.Name + u":" + StyleToText(Font.Style);
  Info.ID.FontSize = Font.Size;
  if (!FRunIndexReady || FRunFirstGlyph.size() != Runs.size() + 1) {
    FRunFirstGlyph.assign(1, 0);
    FRunPen.assign(1, 0);
    for (const TTextRun& r : Runs) {
      FRunFirstGlyph.push_back(FRunFirstGlyph.back() + std::max(r.GlyphCount, 0));
      FRunPen.push_back(FRunPen.back() + r.Width);
    }
    FRunIndexReady = true;
  }
  // The run holding the glyph: the last whose first glyph is not after it
  // and which has glyphs at all.
  const auto after = std::upper_bound(FRunFirstGlyph.begin(), FRunFirstGlyph.end() - 1, Glyph);
  const size_t run = size_t(after - FRunFirstGlyph.begin());
  if (run == 0 || Glyph >= FRunFirstGlyph.back()) {
    Info.PenX = FRunPen.back();  // past every run
  } else {
    const size_t k = run - 1;
    const TTextRun& r = Runs[k];
    const int32_t g = Glyph - FRunFirstGlyph[k];
    const TRunGlyphs& c = RunGlyphs(k);
    Info.ID.GlyphKey = r.Font.Name + u":" + StyleToText(r.Font.Style);
    Info.ID.FontSize = r.Font.Size;
    Info.PenX = FRunPen[k] + c.PenX[std::min(size_t(g), c.Advances.size())];
    Info.Ascent = c.Ascent;
    Info.Descent = c.Descent;
    const uint16_t glyphs[1] = {size_t(g) < c.Glyphs.size() ? c.Glyphs[size_t(g)] : Info.ID.GlyphIndex};
    std::vector<fonts::AbcWidth> abc;
    if (GlyphABCWidthsHook && GlyphABCWidthsHook(c.Font.get(), std::span<const uint16_t>(glyphs, 1), 0, 1, abc) &&
        !abc.empty()) {
      Info.AWidth = abc[0].a;
      Info.BWidth = abc[0].b;
      Info.CWidth = abc[0].c;
    } else {
      Info.BWidth = size_t(g) < c.Advances.size() ? c.Advances[size_t(g)] : 0;
    }
  }
  Info.Advance = Info.AWidth + Info.BWidth + Info.CWidth;
  Info.Height = Info.Ascent + Info.Descent;
}

int32_t TWinTextElement::HitTest(int32_t X) {
  for (int32_t i = 0; i < Count; ++i) {
    const auto [a, b] = CharRanges[size_t(i)];
    if (X >= std::min(a, b) && X < std::max(a, b)) return i + 1;
  }
  return 0;
}

void TWinTextElement::Paint(const fonts::Surface& Surface, int32_t X, int32_t Y, const fonts::ClipRect& Clip) {
  TDCScope dc(this);
  TTextFontMetrics m;
  GetFontMetrics(m);
  int32_t pen = X;
  for (const TTextRun& r : Runs) {
    fonts::FontHandle f = RunFont(r);
    // Runs share the element's baseline.
    const int32_t top = Y + m.Ascent - f->textMetrics().ascent;
    f->drawText(Surface, pen, top, std::u16string_view(Text).substr(size_t(r.Start), size_t(r.Count)),
                (uint32_t(r.Font.Color.R) << 16) | (uint32_t(r.Font.Color.G) << 8) | r.Font.Color.B, Clip);
    pen += r.Width;
  }
}

}  // namespace text

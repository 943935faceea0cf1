#include "text/winFontSubstitute.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "foundation/kvCaseFolding.h"
#include "platform/fonts/api.h"
#include "text/UnicodeCharTable.h"
#include "text/winFontUtils.h"

namespace text {

namespace fonts = platform::fonts;

namespace {

TFontReplacer* g_replacer = nullptr;

bool IsHigh(char16_t c) { return c >= 0xD800 && c < 0xDC00; }
bool IsLow(char16_t c) { return c >= 0xDC00 && c < 0xE000; }

// The code point at Pos and its length in units.
char32_t CodePointAt(const std::u16string& t, int32_t pos, int32_t limit, int32_t& len) {
  char16_t c = t[size_t(pos)];
  if (IsHigh(c) && pos + 1 < limit && IsLow(t[size_t(pos + 1)])) {
    len = 2;
    return 0x10000 + ((char32_t(c) - 0xD800) << 10) + (t[size_t(pos + 1)] - 0xDC00);
  }
  len = 1;
  return c;
}

fonts::FontHandle ItemFont(const TFontItem* item, uint8_t style, int32_t dpi) {
  TLogFont lf;
  MakeLogFont(lf, dpi, item->Params.Name, item->Params.Size, style);
  return CreateFontFromLogFont(lf);
}

class TLockScope {
 public:
  explicit TLockScope(foundation::TSafeCriticalSection* l) : l_(l) { l_->Enter(); }
  ~TLockScope() { l_->Leave(); }

 private:
  foundation::TSafeCriticalSection* l_;
};

}  // namespace

int32_t ClusterLength(const std::u16string& Text, int32_t Position, int32_t Limit) {
  if (Position >= Limit) return 0;
  int32_t n = 1;
  if (IsHigh(Text[size_t(Position)]) && Position + 1 < Limit && IsLow(Text[size_t(Position + 1)])) n = 2;
  while (Position + n < Limit && CharClassOf(Text[size_t(Position + n)]) == ccCombiningMark) ++n;
  return n;
}

void TFontItem::Dispose() {
  // The four style slots may share one set.
  for (auto*& c : Coverage) {
    foundation::ReleaseObj(c);
    c = nullptr;
  }
  TRefObject::Dispose();
}

TFontReplacer::TFontReplacer() {
  FFallbackList = new foundation::TList;
  CoverageSource = IsDirectWriteRangesAvailable() ? GetFontUnicodeCharsDW : GdiFontUnicodeCharsHook;
  Resolution = fonts::screenDpi();
}

void TFontReplacer::Dispose() {
  if (FFallbackList) {
    for (int32_t i = 0; i < FFallbackList->Count(); ++i) foundation::ReleaseObj(FFallbackList->Get<TFontItem>(i));
    FFallbackList->Free();
    FFallbackList = nullptr;
  }
  if (FFontIndex) {
    FFontIndex->Clear(true);
    FFontIndex->Free();
    FFontIndex = nullptr;
  }
  foundation::FreeObj(FLock);
  FLock = nullptr;
  TRefObject::Dispose();
}

void TFontReplacer::Lock() {
  if (!FLock) FLock = new foundation::TSafeCriticalSection;
  FLock->Enter();
}
void TFontReplacer::Unlock() { FLock->Leave(); }

TFontItem* TFontReplacer::FindFont(const TFontParams& Params) {
  if (!FFontIndex) return nullptr;
  foundation::TKeyItem* e = nullptr;
  if (!FFontIndex->TryFind(foundation::FoldCase(Params.Name), e) || !e) return nullptr;
  return static_cast<TFontItem*>(e->GetObject());
}

TFontItem* TFontReplacer::AddFont(const TFontParams& Params, bool ToFallbackList) {
  fonts::FontHandle f = CreateFontHandle(Params);
  if (!f) return nullptr;
  fonts::TextMetrics tm = f->textMetrics();
  auto* item = new TFontItem;
  item->Params = Params;
  item->Proportional = (tm.pitchAndFamily & fonts::TMPF_VARIABLE_PITCH) != 0;
  if (!FFontIndex) FFontIndex = new foundation::THashList(251);
  FFontIndex->FindOrAdd(foundation::FoldCase(Params.Name))->SetObject(item);
  if (ToFallbackList) {
    item->_AddRef();
    FFallbackList->Add(item);
  }
  return item;
}

TFontItem* TFontReplacer::GetFont(const TFontParams& Params, bool ToFallbackList) {
  Lock();
  TFontItem* item = nullptr;
  try {
    item = FindFont(Params);
    if (!item) item = AddFont(Params, ToFallbackList);
    if (item) InitItem(item);
  } catch (...) {
    Unlock();
    throw;
  }
  Unlock();
  return item;
}

void TFontReplacer::InitItem(TFontItem* Item) {
  if (Item->Initialised) return;
  fonts::FontHandle f = ItemFont(Item, 0, Resolution);
  fonts::TextMetrics tm = f->textMetrics();
  Item->DefaultChar = tm.defaultChar;
  fonts::Placement p;
  const std::u16string dc(1, tm.defaultChar);
  Item->DefaultGlyph = f->placeText(dc, p) && !p.glyphs.empty() ? p.glyphs[size_t(p.order[0])] : 0;
  if (CoverageSource == GetFontUnicodeCharsDW) {
    auto* c = new TFontUnicodeChars;
    CoverageSource(Item->Params, c);
    for (int i = 0; i < 4; ++i) {
      if (i > 0) c->_AddRef();
      Item->Coverage[i] = c;
    }
  } else {
    for (int i = 0; i < 4; ++i) {
      auto* c = new TFontUnicodeChars;
      TFontParams p = Item->Params;
      p.Style = uint8_t((p.Style & ~3) | i);
      if (CoverageSource) CoverageSource(p, c);
      Item->Coverage[i] = c;
    }
  }
  Item->Initialised = true;
}

int32_t TFontReplacer::CoveredLength(TFontItem* Item, int32_t StyleIndex, const std::u16string& Text, int32_t Pos,
                                     int32_t Limit) {
  const TFontUnicodeChars* cov = Item->Coverage[StyleIndex];
  fonts::FontHandle f;
  int32_t i = Pos;
  while (i < Limit) {
    int32_t len = 1;
    char32_t c = CodePointAt(Text, i, Limit, len);
    if (cov && cov->Contains(c)) {
      i += len;
      continue;
    }
    // The coverage stops: the shaper may still draw the character (a
    // default-ignorable one, for example). Characters the coverage holds never
    // show the default glyph, so only this one is placed.
    if (!f) f = ItemFont(Item, uint8_t(StyleIndex), Resolution);
    fonts::Placement p;
    const std::u16string_view one = std::u16string_view(Text).substr(size_t(i), size_t(len));
    if (!f->placeText(one, p) || p.order.empty()) break;
    const int32_t g = p.order[0];
    if (g < 0 || size_t(g) >= p.glyphs.size() || p.glyphs[size_t(g)] == Item->DefaultGlyph) break;
    i += len;
  }
  return i - Pos;
}

bool TFontReplacer::ClusterCovered(TFontItem* Item, int32_t StyleIndex, const std::u16string& Text, int32_t Pos,
                                   int32_t Len) {
  const TFontUnicodeChars* cov = Item->Coverage[StyleIndex];
  for (int32_t i = Pos; i < Pos + Len;) {
    int32_t l = 1;
    char32_t c = CodePointAt(Text, i, Pos + Len, l);
    if (!cov || !cov->Contains(c)) return false;
    i += l;
  }
  return true;
}

double TFontReplacer::MatchSize(TFontItem* Item, const TFontParams& RequestParams) {
  fonts::FontHandle req = CreateFontHandle(RequestParams);
  fonts::TextMetrics rtm = req->textMetrics();
  TFontMetrics m{rtm.ascent, rtm.descent, rtm.height};
  if (Item->HasMatch && Item->MatchStyle == RequestParams.Style && Item->MatchMetrics.Ascent == m.Ascent &&
      Item->MatchMetrics.Descent == m.Descent && Item->MatchMetrics.Height == m.Height)
    return Item->MatchSize;
  const std::array<int32_t, 4> key{m.Ascent, m.Descent, m.Height, RequestParams.Style};
  if (auto it = Item->Matches.find(key); it != Item->Matches.end()) {
    Item->MatchMetrics = m;
    Item->MatchStyle = RequestParams.Style;
    Item->MatchSize = it->second;
    return it->second;
  }
  const double D = Resolution;
  const int32_t A = m.Ascent;
  auto ascentAt = [&](int32_t h) {
    fonts::FontRequest r;
    r.family = Item->Params.Name;
    r.height = -h;
    r.weight = (RequestParams.Style & fpBold) ? 700 : 0;
    r.italic = (RequestParams.Style & fpItalic) != 0;
    return fonts::createFont(r)->textMetrics().ascent;
  };
  int32_t H = int32_t(std::lround(D * (double(RequestParams.Size) + 10) / 72));
  while (H >= 0 && ascentAt(H) > A) --H;
  double size = 256 * 72 / D;
  for (int32_t h = H + 1; h <= 256; ++h) {
    if (ascentAt(h) > A || h == 256) {
      size = h * 72 / D;
      break;
    }
  }
  Item->MatchMetrics = m;
  Item->MatchStyle = RequestParams.Style;
  Item->MatchSize = size;
  Item->HasMatch = true;
  if (Item->Matches.size() >= 32) Item->Matches.clear();
  Item->Matches[key] = size;
  return size;
}

void TFontReplacer::ProcessRun(const std::u16string& Text, int32_t From, int32_t To, TFontItem* Item,
                               int32_t ListPos, bool SwitchedFlag, TFontItem* Requested,
                               const TFontParams& RequestParams, const TFontParams& RunParams) {
  const int32_t styleIndex = RequestParams.Style & 3;
  int32_t pos = From;
  while (pos < To) {
    const int32_t covered = CoveredLength(Item, styleIndex, Text, pos, To);
    int32_t end = pos;
    while (end < To) {
      const int32_t c = ClusterLength(Text, end, To);
      if (end + c > pos + covered) break;
      end += c;
    }
    bool handled = false;
    if (end > pos) {
      handled = true;
      FRunHandler(Text, pos + 1, end - pos, RunParams, true, handled);
      if (handled) {
        pos = end;
        continue;
      }
    }
    // The uncovered run: the refused prefix, or the clusters the font lacks.
    int32_t uend = end;
    if (end == pos) {
      while (uend < To) {
        const int32_t c = ClusterLength(Text, uend, To);
        if (ClusterCovered(Item, styleIndex, Text, uend, c)) break;
        uend += c;
      }
      if (uend == pos) uend = pos + ClusterLength(Text, pos, To);
    }
    // The next fallback font of the same pitch after this one; once the
    // list is used up, one more pass over the fonts of the other pitch.
    TFontItem* next = nullptr;
    int32_t nextPos = -1;
    bool nextSwitched = SwitchedFlag;
    const int32_t n = FFallbackList->Count();
    for (int32_t i = ListPos + 1; i < n && !next; ++i) {
      TFontItem* f = FFallbackList->Get<TFontItem>(i);
      if (f != Item && f != Requested && f->Proportional == Item->Proportional) {
        next = f;
        nextPos = i;
      }
    }
    if (!next && !SwitchedFlag) {
      for (int32_t i = 0; i < n && !next; ++i) {
        TFontItem* f = FFallbackList->Get<TFontItem>(i);
        if (f != Item && f != Requested && f->Proportional != Item->Proportional) {
          next = f;
          nextPos = i;
          nextSwitched = true;
        }
      }
    }
    if (next) {
      InitItem(next);
      TFontParams p = RequestParams;
      p.Name = next->Params.Name;
      p.Size = float(MatchSize(next, RequestParams));
      ProcessRun(Text, pos, uend, next, nextPos, nextSwitched, Requested, RequestParams, p);
    } else {
      bool ignored = true;
      FRunHandler(Text, pos + 1, uend - pos, RequestParams, false, ignored);
    }
    pos = uend;
  }
}

void TFontReplacer::SplitText(const std::u16string& Text, int32_t Start, int32_t Count, const TFontParams& Params,
                              const TFontRunHandler& RunHandler) {
  const int32_t len = int32_t(Text.size());
  if (Start < 1) Start = 1;
  Count = std::min(Count, len - Start + 1);
  if (Count <= 0 || !RunHandler) return;
  Lock();
  TFontRunHandler previous = FRunHandler;
  FRunHandler = RunHandler;
  try {
    TFontItem* requested = FindFont(Params);
    if (!requested) requested = AddFont(Params, false);
    InitItem(requested);
    const int32_t from = Start - 1, to = Start - 1 + Count;
    // Stretches whose visual positions follow each other.
    fonts::FontHandle f = CreateFontHandle(Params);
    fonts::Placement p;
    const std::u16string_view run = std::u16string_view(Text).substr(size_t(from), size_t(Count));
    std::vector<int32_t> breaks{from};
    if (f->placeText(run, p))
      for (int32_t i = 1; i < Count; ++i)
        if (std::abs(p.order[size_t(i)] - p.order[size_t(i - 1)]) > 1 && !IsLow(run[size_t(i)])) breaks.push_back(from + i);
    breaks.push_back(to);
    for (size_t b = 0; b + 1 < breaks.size(); ++b)
      ProcessRun(Text, breaks[b], breaks[b + 1], requested, -1, false, requested, Params, Params);
  } catch (...) {
    FRunHandler = previous;
    Unlock();
    throw;
  }
  FRunHandler = previous;
  Unlock();
}

std::vector<std::u16string> DefaultFallbackFonts() { return fonts::fontBackend()->fallbackFamilies(u"Arial"); }

TFontReplacer* FontReplacer() { return g_replacer; }

void InitFontSubstitute() {
  if (g_replacer) return;
  auto* r = new TFontReplacer;
  for (const auto& name : DefaultFallbackFonts()) {
    TFontParams p;
    InitFontParams(p, name, 10, 0, {}, {}, true);
    if (!r->FindFont(p)) r->AddFont(p, true);
  }
  g_replacer = r;
}

void DoneFontSubstitute() {
  foundation::FreeObj(g_replacer);
  g_replacer = nullptr;
}

}  // namespace text

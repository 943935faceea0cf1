#include "text/kvGlyphCache.h"

#include <cmath>

#include "foundation/kpExceptions.h"

namespace text {

namespace {

// A count read from a stream, refused when its items cannot fit what is left
// (ItemBytes is the least an item takes).
int32_t ReadCount(foundation::TStream* S, int64_t ItemBytes) {
  const int32_t n = S->ReadInteger();
  if (n < 0) throw foundation::EStreamReadError(std::u16string(u"Negative count in a glyph stream"));
  const int64_t left = S->GetRemaining();
  if (left >= 0 && int64_t(n) * ItemBytes > left)
    throw foundation::EStreamReadError(std::u16string(u"Count beyond the end of a glyph stream"));
  return n;
}

std::u16string ReadKey(foundation::TStream* S) {
  const int32_t n = ReadCount(S, 2);
  std::u16string k(size_t(n), u'\0');
  for (int32_t i = 0; i < n; ++i) k[size_t(i)] = char16_t(S->ReadWord());
  return k;
}

void WriteKey(foundation::TStream* S, const std::u16string& k) {
  S->WriteInteger(int32_t(k.size()));
  for (char16_t c : k) S->WriteWord(uint16_t(c));
}

std::mutex g_globalLock;
TFontCache* g_global = nullptr;

int32_t Scaled(int32_t v, double r) {
  if (r == 1.0) return v;
  const double x = std::nearbyint(double(v) * r);
  return int32_t(std::clamp(x, -2147483647.0, 2147483647.0));
}

// Pointer size over cached size; 1 when either is not a usable size.
double Ratio(float pointerSize, float cachedSize) {
  const double r = double(pointerSize) / double(cachedSize);
  return (cachedSize > 0 && std::isfinite(r) && r > 0) ? r : 1.0;
}

}  // namespace

void TGlyphCache::Clear() {
  for (auto* g : Glyphs) g->Free();
  Glyphs.clear();
}

void TGlyphCache::Dispose() {
  Clear();
  TRefObject::Dispose();
}

TGlyphData* TGlyphCache::FindGlyph(uint16_t GlyphIndex, int32_t& Position) {
  for (size_t i = 0; i < Glyphs.size(); ++i)
    if (Glyphs[i]->Info.ID.GlyphIndex == GlyphIndex) {
      Position = int32_t(i);
      return Glyphs[i];
    }
  Position = -1;
  return nullptr;
}

TGlyphData* TGlyphCache::AddGlyph(const TGlyphInfo& Info, const TPath& Path, int32_t& Position) {
  QEL_ASSERT(Info.ID.GlyphKey == FontKey, "TGlyphCache.AddGlyph: glyph key differs from the cache's");
  auto* g = new TGlyphData();
  g->Info = Info;
  g->Path.Items.assign(Path.Items.begin(), Path.Items.begin() + std::min<size_t>(Path.Items.size(), size_t(std::max(0, Path.Count))));
  g->Path.Count = int32_t(g->Path.Items.size());
  Glyphs.push_back(g);
  Position = int32_t(Glyphs.size()) - 1;
  return g;
}

void TGlyphCache::LoadFromStream(foundation::TStream* S) {
  Clear();
  const int32_t count = ReadCount(S, 30);
  FontKey = ReadKey(S);
  for (int32_t i = 0; i < count; ++i) {
    TGlyphInfo info;
    info.ID.GlyphKey = FontKey;
    info.ID.GlyphIndex = S->ReadWord();
    info.AWidth = S->ReadInteger();
    info.BWidth = S->ReadInteger();
    info.CWidth = S->ReadInteger();
    info.Ascent = S->ReadInteger();
    info.Descent = S->ReadInteger();
    info.ID.FontSize = S->ReadSingle();
    TPath path;
    const int32_t points = ReadCount(S, 12);
    path.Items.resize(size_t(points));
    for (int32_t p = 0; p < points; ++p) {
      TPathItem& it = path.Items[size_t(p)];
      it.X = S->ReadSingle();
      it.Y = S->ReadSingle();
      it.Kind = S->ReadInteger();
    }
    path.Count = points;
    int32_t pos = 0;
    AddGlyph(info, path, pos);
  }
}

void TFontCache::ClearLocked() {
  for (auto& list : caches_) {
    for (auto* c : list) c->Free();
    list.clear();
  }
}

void TFontCache::Dispose() {
  ClearLocked();
  TRefObject::Dispose();
}

TGlyphCache* TFontCache::FindCache(const std::u16string& Key, TGlyphOrigin Origin, int32_t& Index) {
  std::lock_guard g(lock_);
  auto& list = caches_[size_t(Origin)];
  for (size_t i = 0; i < list.size(); ++i)
    if (list[i]->FontKey == Key) {
      Index = int32_t(i);
      return list[i];
    }
  Index = -1;
  return nullptr;
}

TGlyphCache* TFontCache::AddCache(const std::u16string& Key, TGlyphOrigin Origin, int32_t& Index) {
  std::lock_guard g(lock_);
  auto& list = caches_[size_t(Origin)];
  list.push_back(new TGlyphCache(Key));
  Index = int32_t(list.size()) - 1;
  return list.back();
}

void TFontCache::AddLoadedCache(TGlyphCache* Cache, TGlyphOrigin Origin) {
  std::lock_guard g(lock_);
  auto& list = caches_[size_t(Origin)];
  for (auto* c : list)
    if (c->FontKey == Cache->FontKey) {
      Cache->Free();
      return;
    }
  list.push_back(Cache);
}

bool TFontCache::CopyGlyph(const std::u16string& Key, TGlyphOrigin Origin, uint16_t GlyphIndex, TGlyphInfo* Info,
                           TPath* Path) {
  std::lock_guard g(lock_);
  for (auto* c : caches_[size_t(Origin)])
    if (c->FontKey == Key) {
      int32_t pos = 0;
      TGlyphData* d = c->FindGlyph(GlyphIndex, pos);
      if (!d) return false;
      if (Info) *Info = d->Info;
      if (Path) {
        Path->Items.assign(d->Path.Items.begin(), d->Path.Items.begin() + d->Path.Count);
        Path->Count = d->Path.Count;
      }
      return true;
    }
  return false;
}

bool TFontCache::EnsureGlyph(const std::u16string& Key, TGlyphOrigin Origin, uint16_t GlyphIndex,
                             const std::function<bool(TGlyphInfo&, TPath&)>& Make) {
  if (CopyGlyph(Key, Origin, GlyphIndex, nullptr, nullptr)) return true;
  TGlyphInfo info;
  TPath path;
  if (!Make(info, path)) return false;
  info.ID.GlyphKey = Key;
  info.ID.GlyphIndex = GlyphIndex;
  std::lock_guard g(lock_);
  auto& list = caches_[size_t(Origin)];
  TGlyphCache* cache = nullptr;
  for (auto* c : list)
    if (c->FontKey == Key) cache = c;
  if (!cache) {
    cache = new TGlyphCache(Key);
    list.push_back(cache);
  }
  int32_t pos = 0;
  if (!cache->FindGlyph(GlyphIndex, pos)) cache->AddGlyph(info, path, pos);
  return true;
}

void TFontCache::SetCacheId(const std::u16string& Id) {
  std::lock_guard g(lock_);
  if (Id == cacheId_) return;
  cacheId_ = Id;
  ClearLocked();
}

std::u16string TFontCache::GetCacheId() {
  std::lock_guard g(lock_);
  return cacheId_;
}

int32_t TFontCache::CacheCount(TGlyphOrigin Origin) {
  std::lock_guard g(lock_);
  return int32_t(caches_[size_t(Origin)].size());
}

TFontCache* GlobalFontCache() {
  std::lock_guard g(g_globalLock);
  if (!g_global) g_global = new TFontCache();
  return g_global;
}

void InitFontCache() { GlobalFontCache(); }

void DoneFontCache() {
  std::lock_guard g(g_globalLock);
  if (g_global) g_global->Free();
  g_global = nullptr;
}

void TGlyphLine::Dispose() {
  for (auto* p : Glyphs) p->Free();
  Glyphs.clear();
  TRefObject::Dispose();
}

TCachedVectorText::TCachedVectorText(int32_t Count, TGlyphOrigin O) : Origin(O) {
  LineCount = std::max(0, Count);
  for (int32_t i = 0; i < LineCount; ++i) Lines.push_back(new TGlyphLine());
}

void TCachedVectorText::Dispose() {
  for (auto* l : Lines) l->Free();
  Lines.clear();
  TVectorText::Dispose();
}

int32_t TCachedVectorText::GetGlyphCount(int32_t Line) { return int32_t(Lines[size_t(Line)]->Glyphs.size()); }

void TCachedVectorText::GetGlyphPath(TPath& Path, int32_t Line, int32_t Glyph) {
  const TGlyphPointer* p = Lines[size_t(Line)]->Glyphs[size_t(Glyph)];
  TGlyphInfo info;
  TPath cached;
  Path.Count = 0;
  if (!GlobalFontCache()->CopyGlyph(p->GlyphKey, Origin, p->GlyphIndex, &info, &cached)) return;
  const double r = Ratio(p->FontSize, info.ID.FontSize);
  for (int32_t i = 0; i < cached.Count; ++i) {
    const TPathItem& it = cached.Items[size_t(i)];
    AddPathPoint(Path, float(it.X * r), float(it.Y * r), it.Kind);
  }
}

void TCachedVectorText::GetGlyphInfo(TGlyphPlacement& Out, int32_t Line, int32_t Glyph) {
  const TGlyphPointer* p = Lines[size_t(Line)]->Glyphs[size_t(Glyph)];
  TGlyphInfo info;
  Out = {};
  if (!GlobalFontCache()->CopyGlyph(p->GlyphKey, Origin, p->GlyphIndex, &info, nullptr)) return;
  Out = PlacementOf(info);
  const double r = Ratio(p->FontSize, info.ID.FontSize);
  Out.AWidth = Scaled(info.AWidth, r);
  Out.BWidth = Scaled(info.BWidth, r);
  Out.CWidth = Scaled(info.CWidth, r);
  Out.Advance = Scaled(info.Advance, r);
  Out.Ascent = Scaled(info.Ascent, r);
  Out.Descent = Scaled(info.Descent, r);
  Out.Height = Scaled(info.Height, r);
  Out.PenX = p->PenX;
}

void TCachedVectorText::GetLineMetrics(TVectorLineMetrics& Metrics, int32_t Line) {
  const auto& glyphs = Lines[size_t(Line)]->Glyphs;
  MetricsFromPlacements(Metrics, Line, [&](int32_t j) {
    const TGlyphPointer* p = glyphs[size_t(j)];
    return !GlobalFontCache()->CopyGlyph(p->GlyphKey, Origin, p->GlyphIndex, nullptr, nullptr);
  });
}

TCachedVectorText* CreateCachedVectorText(const TFontParams& Font, foundation::TStringList* Lines) {
  TVectorizer* v = CreateVectorizer();
  QEL_ASSERT(v != nullptr, "No vectorizer installed");
  TCachedVectorText* t = nullptr;
  try {
    TFontParams f = Font;
    if (!v->IsOutlineFont(f)) f.Name = u"Arial";
    const int32_t n = Lines ? Lines->GetCount() : 0;
    t = new TCachedVectorText(n, TGlyphOrigin::Local);
    v->GetLineMetrics(t->FontMetrics, f);
    TFontCache* cache = GlobalFontCache();
    for (int32_t i = 0; i < n; ++i) {
      TTextElementEx* e = v->CreateTextElement(f, Lines->GetString(i));
      try {
        for (int32_t j = 0; j < e->GetGlyphCount(); ++j) {
          TGlyphInfo info;
          e->GetGlyphInfo(j, info);
          cache->EnsureGlyph(info.ID.GlyphKey, TGlyphOrigin::Local, info.ID.GlyphIndex,
                             [&](TGlyphInfo& out, TPath& path) {
                               out = info;
                               v->GetGlyphPath(info, path);
                               return true;
                             });
          auto* p = new TGlyphPointer();
          p->GlyphIndex = info.ID.GlyphIndex;
          p->GlyphKey = info.ID.GlyphKey;
          p->PenX = info.PenX;
          p->FontSize = info.ID.FontSize;
          t->Lines[size_t(i)]->Glyphs.push_back(p);
        }
      } catch (...) {
        e->Free();
        throw;
      }
      e->Free();
    }
  } catch (...) {
    if (t) t->Free();
    v->Free();
    throw;
  }
  v->Free();
  return t;
}

void WriteCachedVectorText(TVectorText* Text, foundation::TStream* S) {
  auto* t = dynamic_cast<TCachedVectorText*>(Text);
  QEL_ASSERT(t != nullptr, "WriteCachedVectorText: not a TCachedVectorText");
  S->WriteInteger(t->LineCount);
  S->WriteInteger(t->FontMetrics.Ascent);
  S->WriteInteger(t->FontMetrics.Descent);
  S->WriteSingle(t->FontMetrics.UnderlinePosition);
  S->WriteSingle(t->FontMetrics.UnderlineThickness);
  S->WriteSingle(t->FontMetrics.StrikeOutPosition);
  S->WriteSingle(t->FontMetrics.StrikeOutThickness);
  for (auto* l : t->Lines) {
    S->WriteInteger(int32_t(l->Glyphs.size()));
    for (auto* p : l->Glyphs) {
      S->WriteInteger(p->PenX);
      S->WriteSingle(p->FontSize);
      S->WriteWord(p->GlyphIndex);
      WriteKey(S, p->GlyphKey);
    }
  }
}

void ReadCachedVectorText(TCachedVectorText*& Text, foundation::TStream* S, const TGlyphKeyCallback& Callback,
                          TGlyphOrigin Origin) {
  Text = nullptr;
  S->SetPosition(0);
  const int32_t lines = ReadCount(S, 4);
  auto* t = new TCachedVectorText(0, Origin);
  try {
    t->FontMetrics.Ascent = S->ReadInteger();
    t->FontMetrics.Descent = S->ReadInteger();
    t->FontMetrics.UnderlinePosition = S->ReadSingle();
    t->FontMetrics.UnderlineThickness = S->ReadSingle();
    t->FontMetrics.StrikeOutPosition = S->ReadSingle();
    t->FontMetrics.StrikeOutThickness = S->ReadSingle();
    for (int32_t i = 0; i < lines; ++i) {
      auto* line = new TGlyphLine();
      t->Lines.push_back(line);
      t->LineCount = int32_t(t->Lines.size());
      const int32_t glyphs = ReadCount(S, 14);
      for (int32_t j = 0; j < glyphs; ++j) {
        auto* p = new TGlyphPointer();
        line->Glyphs.push_back(p);
        p->PenX = S->ReadInteger();
        p->FontSize = S->ReadSingle();
        p->GlyphIndex = S->ReadWord();
        p->GlyphKey = ReadKey(S);
        if (Callback) Callback(p->GlyphKey);
      }
    }
  } catch (...) {
    t->Free();
    throw;
  }
  Text = t;
}

}  // namespace text

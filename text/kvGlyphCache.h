// The glyph cache: vector texts that hold only references to glyphs (font
// key, glyph index, pen position, size), with the outlines and placements
// kept once per font in a process-wide font cache. Both travel in streams
// (a show may carry them), so stored texts render without the fonts they
// were made with.
//
// Glyphs come from two origins that never mix: glyphs read from a show's
// stored caches, whose indices belong to the fonts of the machine that made
// the show, and glyphs built here from the local fonts. The same font key
// can name different fonts on the two sides (a show made with Verdana read
// where DejaVu Sans serves Verdana), so each origin has its own caches and a
// text resolves its glyphs only against the caches of its own origin.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/SysObj.h"
#include "foundation/kvStream.h"
#include "foundation/kvStrings.h"
#include "text/kvTextProducer2.h"

namespace text {

enum class TGlyphOrigin : uint8_t { Stored = 0, Local = 1 };

class TGlyphData : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TGlyphData)
  TGlyphInfo Info;  // as cached; FontSize is the size of Path
  TPath Path;
};

// One font's glyphs. Not locked: a cache in the font cache is changed only
// under the font cache's lock; a cache being loaded belongs to its loader.
class TGlyphCache : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TGlyphCache)
  explicit TGlyphCache(const std::u16string& Key = u"") : FontKey(Key) {}
  void Dispose() override;
  TGlyphData* FindGlyph(uint16_t GlyphIndex, int32_t& Position);
  // Asserts that Info's key is the cache's key.
  TGlyphData* AddGlyph(const TGlyphInfo& Info, const TPath& Path, int32_t& Position);
  // Empties the cache and reads a glyph-cache stream into it. Counts that
  // promise more bytes than the stream has left raise a stream error.
  void LoadFromStream(foundation::TStream* Stream);
  void Clear();

  std::vector<TGlyphData*> Glyphs;
  std::u16string FontKey;
};

// The process-wide cache of fonts' glyphs, per origin. Every operation takes
// the cache's lock: texts are laid out and rendered on whichever thread
// asks for a text picture.
class TFontCache : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TFontCache)
  void Dispose() override;
  // The cache with exactly Key of that origin, or none with Index -1. The
  // pointer stays valid until the cache id changes (callers that share the
  // cache between threads use CopyGlyph and EnsureGlyph instead).
  TGlyphCache* FindCache(const std::u16string& Key, TGlyphOrigin Origin, int32_t& Index);
  TGlyphCache* AddCache(const std::u16string& Key, TGlyphOrigin Origin, int32_t& Index);
  // Takes over a cache loaded outside the lock; when one with its key came
  // first, the new one is released.
  void AddLoadedCache(TGlyphCache* Cache, TGlyphOrigin Origin);
  // A copy of a cached glyph; false when its font or the glyph is missing.
  bool CopyGlyph(const std::u16string& Key, TGlyphOrigin Origin, uint16_t GlyphIndex, TGlyphInfo* Info, TPath* Path);
  // Adds the glyph when missing (Make fills its information and outline,
  // outside the lock); true when it is cached afterwards.
  bool EnsureGlyph(const std::u16string& Key, TGlyphOrigin Origin, uint16_t GlyphIndex,
                   const std::function<bool(TGlyphInfo&, TPath&)>& Make);
  // A different id drops every cached font.
  void SetCacheId(const std::u16string& Id);
  std::u16string GetCacheId();
  int32_t CacheCount(TGlyphOrigin Origin);

 private:
  void ClearLocked();
  std::mutex lock_;  // guards caches_ and cacheId_
  std::vector<TGlyphCache*> caches_[2];
  std::u16string cacheId_;
};

TFontCache* GlobalFontCache();
void InitFontCache();
void DoneFontCache();

class TGlyphPointer : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TGlyphPointer)
  uint16_t GlyphIndex = 0;
  std::u16string GlyphKey;
  int32_t PenX = 0;
  float FontSize = 0;
};

class TGlyphLine : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TGlyphLine)
  void Dispose() override;
  std::vector<TGlyphPointer*> Glyphs;
};

class TCachedVectorText : public TVectorText {
 public:
  QEL_CLASSNAME(TCachedVectorText)
  TCachedVectorText(int32_t LineCount, TGlyphOrigin Origin);
  void Dispose() override;
  void GetLineMetrics(TVectorLineMetrics& Metrics, int32_t Line) override;
  int32_t GetGlyphCount(int32_t Line) override;
  // The cached outline scaled by the pointer's size over the cached size; an
  // empty path when the glyph's font or the glyph is not cached.
  void GetGlyphPath(TPath& Path, int32_t Line, int32_t Glyph) override;
  // The cached placement scaled like the outline (widths, ascent, descent),
  // the pen position from the pointer; zero placement when not cached.
  void GetGlyphInfo(TGlyphPlacement& Info, int32_t Line, int32_t Glyph) override;

  TGlyphOrigin Origin;
  std::vector<TGlyphLine*> Lines;
};

// Built from the local fonts (a font without outlines becomes "Arial").
TCachedVectorText* CreateCachedVectorText(const TFontParams& Font, foundation::TStringList* Lines);
void WriteCachedVectorText(TVectorText* Text, foundation::TStream* Stream);
// Reads from position 0; Callback gets each glyph's key right after the glyph.
using TGlyphKeyCallback = std::function<void(const std::u16string& Key)>;
void ReadCachedVectorText(TCachedVectorText*& Text, foundation::TStream* Stream, const TGlyphKeyCallback& Callback,
                          TGlyphOrigin Origin);

}  // namespace text

// Text images: a "Text: " key turned into a vector text (preferring the
// laid-out text and glyph caches a show carries as "VectTxt2: " and
// "VectTextCache: " entries, building them from the local fonts when they
// are absent), and the bitmap store that renders such a text as white text
// on transparent white with its line rectangles attached.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "foundation/FloatGeometry.h"
#include "foundation/kvStream.h"
#include "imaging/SysBitmapStore.h"
#include "text/kvGlyphCache.h"
#include "text/kvTextImageKeys.h"
#include "text/kvTextProducer2.h"

namespace text {

inline constexpr char16_t VectTextCachePrefix[] = u"VectTextCache: ";

// Opens an entry of the show by name: a new stream the caller frees, or none.
using TEntryOpener = std::function<foundation::TStream*(const std::u16string& Name)>;

// Reads "VectTextCache: " entries through an opener (the file accessor's, in the player).
class TFileAccessorCacheReader : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TFileAccessorCacheReader)
  explicit TFileAccessorCacheReader(TEntryOpener Opener) : Opener(std::move(Opener)) {}
  // Loads the stored glyph cache of Key unless one is cached; a missing or
  // damaged entry leaves that font's glyphs out.
  void LoadCache(const std::u16string& Key);
  TEntryOpener Opener;
};

// The vector text of a "Text: " key (case-marked lines) and its parameters;
// answers the text's pixel size (ceilings of GetVectorTextSize).
foundation::TPoint LoadKeyedVectorText(const std::u16string& Key, const TEntryOpener& Opener, TVectorText*& Text,
                                       TTextParams& Params);
// The vector-text stream of a text built from the local fonts, for a decoded
// "VectTxt2: " key (DefaultFontParams with the key's name and style).
foundation::TMemoryStream* BuildVectTextStream(const std::u16string& VectKey);

class TTextBitmapStore : public imaging::TSysBitmapStore {
 public:
  QEL_CLASSNAME(TTextBitmapStore)
  // Takes over Text.
  TTextBitmapStore(const std::u16string& Name, const imaging::TSize& Size, imaging::TPixelFormat* PixelFormat,
                   const imaging::TLevelProvider& Provider, TVectorText* Text, const TTextParams& Params);
  void Dispose() override;
  foundation::TFloatPoint GetTextSize();
  // Scale 0: the params' scale.
  void GetTextBounds(foundation::TFloatRect& Rect, double Scale);
  float GetLineHeight();
  // Level 0 is the text rendered; smaller levels come from halving.
  void LoadMipLevel(imaging::TMipLevelResult& Result, int32_t Level) override;

  TVectorText* VectorText = nullptr;
  TTextParams Params;
};

inline constexpr char16_t TextBitmapStoreName[] = u"txtbitmapstore";

}  // namespace text

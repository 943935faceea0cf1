#include "text/kvTextImages.h"

#include <cmath>

#include "foundation/kpExceptions.h"
#include "foundation/kvTextSaver.h"
#include "foundation/kvUTF8.h"
#include "imaging/kvBitmap.h"

namespace text {

namespace {

// The single-line form under which a key is stored as an entry name.
std::u16string EntryName(const std::u16string& Key) {
  const std::vector<uint8_t> e = foundation::EscapeIniValue(Key);
  return foundation::UTF8ToUnicode(std::string(e.begin(), e.end()));
}

}  // namespace

void TFileAccessorCacheReader::LoadCache(const std::u16string& Key) {
  int32_t index = 0;
  if (GlobalFontCache()->FindCache(Key, TGlyphOrigin::Stored, index) || !Opener) return;
  foundation::TStream* s = Opener(EntryName(std::u16string(VectTextCachePrefix) + Key));
  if (!s) return;
  auto* cache = new TGlyphCache();
  try {
    cache->LoadFromStream(s);
  } catch (const foundation::EStreamError&) {
    // A damaged cache counts as a missing one: its glyphs are left out.
    cache->Free();
    s->Free();
    return;
  }
  s->Free();
  if (cache->FontKey != Key) {
    // An entry that holds another font's glyphs would give wrong letters.
    cache->Free();
    return;
  }
  GlobalFontCache()->AddLoadedCache(cache, TGlyphOrigin::Stored);
}

foundation::TMemoryStream* BuildVectTextStream(const std::u16string& VectKey) {
  auto* lines = new foundation::TStringList();
  TFontParams font = DefaultFontParams();
  ParseVectTextKey(VectKey, lines, font);
  TCachedVectorText* t = nullptr;
  try {
    t = CreateCachedVectorText(font, lines);
  } catch (...) {
    lines->Free();
    throw;
  }
  lines->Free();
  auto* s = new foundation::TMemoryStream();
  WriteCachedVectorText(t, s);
  t->Free();
  s->SetPosition(0);
  return s;
}

foundation::TPoint LoadKeyedVectorText(const std::u16string& Key, const TEntryOpener& Opener, TVectorText*& Text,
                                       TTextParams& Params) {
  Text = nullptr;
  Params = DefaultTextParams();
  std::u16string decoded;
  DecodeCaseMarkup(decoded, Key);
  ParseTextImageKey(decoded, nullptr, Params);
  std::u16string vkey;
  MakeVectTextKey(vkey, Key);
  TCachedVectorText* t = nullptr;
  foundation::TStream* stored = Opener ? Opener(EntryName(vkey)) : nullptr;
  if (stored) {
    auto* reader = new TFileAccessorCacheReader(Opener);
    try {
      ReadCachedVectorText(t, stored, [reader](const std::u16string& k) { reader->LoadCache(k); },
                           TGlyphOrigin::Stored);
    } catch (const foundation::EStreamError&) {
      t = nullptr;  // a damaged stored text is built again from the fonts
    }
    reader->Free();
    stored->Free();
  }
  if (!t) {
    std::u16string decodedVKey;
    DecodeCaseMarkup(decodedVKey, vkey);
    foundation::TMemoryStream* built = BuildVectTextStream(decodedVKey);
    try {
      ReadCachedVectorText(t, built, {}, TGlyphOrigin::Local);
    } catch (...) {
      built->Free();
      throw;
    }
    built->Free();
  }
  Text = t;
  const foundation::TFloatPoint size = GetVectorTextSize(t, Params.Scale, Params.LineSpacing);
  return foundation::TPoint{int32_t(std::ceil(size.X)), int32_t(std::ceil(size.Y))};
}

TTextBitmapStore::TTextBitmapStore(const std::u16string& Name, const imaging::TSize& Size,
                                   imaging::TPixelFormat* PixelFormat, const imaging::TLevelProvider& Provider,
                                   TVectorText* Text, const TTextParams& P)
    : TSysBitmapStore(Name, Size, PixelFormat, Provider), VectorText(Text), Params(P) {}

void TTextBitmapStore::Dispose() {
  if (VectorText) VectorText->Free();
  VectorText = nullptr;
  TSysBitmapStore::Dispose();
}

foundation::TFloatPoint TTextBitmapStore::GetTextSize() {
  return GetVectorTextSize(VectorText, Params.Scale, Params.LineSpacing);
}

void TTextBitmapStore::GetTextBounds(foundation::TFloatRect& Rect, double Scale) {
  Rect = GetVectorTextBounds(VectorText, Scale == 0 ? Params.Scale : Scale, Params.LineSpacing);
}

float TTextBitmapStore::GetLineHeight() { return GetVectorTextLineHeight(VectorText, Params.Scale); }

void TTextBitmapStore::LoadMipLevel(imaging::TMipLevelResult& Result, int32_t Level) {
  Result.Bitmap = nullptr;
  Result.Owned = false;
  if (Level != 0 || !VectorText) return;
  auto* p = new TTextProducer();
  imaging::TBitmap* bmp = nullptr;
  try {
    p->SetVectorText(VectorText, false);
    p->Alignment = Params.Alignment;
    p->LineSpacing = float(Params.LineSpacing);
    bmp = p->RenderBitmap(0xFFFFFFFFu, 0x00FFFFFFu, Params.Scale, (Params.Style & fpUnderline) != 0,
                          (Params.Style & fpStrikeOut) != 0, {Params.OffsetX, Params.OffsetY});
    AddAttachment(new TRectListWrapper(p->LineRects));
  } catch (...) {
    if (bmp) bmp->Free();
    p->Free();
    throw;
  }
  p->Free();
  Result.Bitmap = bmp;
  Result.Owned = true;
  Result.Level = 0;
}

}  // namespace text

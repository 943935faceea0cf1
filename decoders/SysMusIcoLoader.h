// The music-icon loader: any music file a show places as an image gets a
// shared icon, a document picture with a note and the file's extension
// written on it. The music file itself is never read.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/SysBitmap.h"
#include "imaging/SysBitmapStore.h"

namespace decoders {

// The artwork: a 256 x 256 RGBA PNG held in the program.
extern const uint8_t kMusicIconPng[];
extern const size_t kMusicIconPngSize;

class TMusIcoStore : public imaging::TSysBitmapStore {
 public:
  QEL_CLASSNAME(TMusIcoStore)
  using TSysBitmapStore::TSysBitmapStore;
  void Dispose() override;
  void LoadMipLevel(imaging::TMipLevelResult& Result, int32_t Level) override;

  int32_t Index = -1;                         // its slot in the shared table
  imaging::TImage* BaseImage = nullptr;       // its own clone of the icon picture
  imaging::TSysDirectWrapper* Icon = nullptr; // the composed icon, owned; none until made
};

// Answers the shared store of the name's extension (one more reference);
// never declines and never reads the stream.
imaging::TBitmapStore* LoadMusicIconBitmapStore(foundation::TStream* Stream, const std::u16string& Name,
                                                bool OwnsStream, imaging::TLevelProvider& Provider);

// The extension text of an icon: one line in bold "Arial" 72, rendered 50
// pixels high in grey (98, 98, 98) on a transparent canvas; none when no
// vectorizer is installed.
imaging::TImage* RenderIconText(const std::u16string& Text);
// Blends Source over Destination with its top left at (X, Y) (negative
// positions count as 0), clipped to both bitmaps.
void BlendBitmapAt(imaging::TDirectBitmap* Destination, imaging::TDirectBitmap* Source, int32_t X, int32_t Y);

// Registers the loader for the music extensions (given without their dot).
void InitSysMusIcoLoader();
// Releases the table, the index and the icon picture.
void DoneSysMusIcoLoader();

}  // namespace decoders

// How a named stream becomes an image: the registry of image loaders keyed
// by extension, the bitmap store a loader answers (producer and cache of the
// image's bitmaps per mip level, in any format and class asked for), and the
// image handle TImage the rest of the system passes around.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "foundation/SysObj.h"
#include "foundation/kpThreads2.h"
#include "foundation/kvLists.h"
#include "foundation/kvStream.h"
#include "imaging/kvBitmap.h"
#include "imaging/kvColorProfile.h"

namespace imaging {

class TBitmapStore;
class TImage;

struct TImageParams {
  std::u16string Name;
  int32_t Width = 0;
  int32_t Height = 0;
  TPixelFormat* PixelFormat = nullptr;
};

// A bitmap with its ownership, handed to level routines (which may replace it).
struct TBitmapReference {
  TBitmap* Bitmap = nullptr;
  bool Owns = false;
};
// Applied to every level a loader produces directly.
using TLevelRoutine = std::function<void(TBitmapStore* Store, TBitmapReference& Reference)>;
// Given the store's parameters (which it may change) at creation, answers the level routine.
using TLevelProvider = std::function<TLevelRoutine(TImageParams& Params)>;

// A loader answers a store (one reference for the caller) or none when it
// declines; accepting with OwnsStream, it takes over the caller's reference.
using TImageLoaderFunc = TBitmapStore* (*)(foundation::TStream* Stream, const std::u16string& Name, bool OwnsStream,
                                           TLevelProvider& Provider);

struct TImageLoader {
  TImageLoaderFunc Loader = nullptr;
  std::vector<std::u16string> Extensions;
};

struct TMipLevelResult {
  TBitmap* Bitmap = nullptr;
  bool Owned = false;
  int32_t Level = 0;
};

class TBitmapStore : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TBitmapStore)
  TBitmapStore();
  void Dispose() override;

  virtual void GetMipLevel(TMipLevelResult& Result, int32_t Level, TPixelFormat* PixelFormat,
                           TBitmapClass RequiredClass) = 0;
  virtual TBitmap* MatchBitmap(TBitmap* Bitmap, TBitmapClass RequiredClass, TPixelFormat* PixelFormat);

  // A bitmap of the level owned by the store: callers never free it.
  TBitmap* GetBitmap(int32_t Level, TPixelFormat* PixelFormat, TBitmapClass RequiredClass);

  foundation::TList* LockAttachments(bool Create);
  void UnlockAttachments();
  void AddAttachment(foundation::TRefObject* Object);
  template <class T>
  static T* FindAttachment(TBitmapStore* Store) {
    if (!Store) return nullptr;
    foundation::TList* list = Store->LockAttachments(false);
    T* found = nullptr;
    if (list)
      for (int32_t i = 0; i < list->Count() && !found; ++i)
        found = dynamic_cast<T*>(static_cast<foundation::TRefObject*>(list->GetItem(i)));
    Store->UnlockAttachments();
    return found;
  }

  // Re-entrant: producing a level may ask the same store for the level above.
  foundation::TCriticalSection* AttachmentLock = nullptr;  // guards the attachment list
  foundation::TCriticalSection* LevelLock = nullptr;       // guards Levels and their making
  struct TLevel {
    std::vector<TBitmap*> Bitmaps;
    int32_t FirstOwned = 0;
  };
  std::vector<TLevel> Levels;
  foundation::TList* Attachments = nullptr;
  TImageParams Params;
  TColorProfile* ColorProfile = nullptr;  // one reference
  TProgressMethod Progress;
};

class TImage : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TImage)
  explicit TImage(TBitmapStore* Store);
  void Dispose() override;
  virtual TImage* Clone();
  TBitmap* GetBitmap();
  foundation::TList* GetAttachments();

  TBitmapStore* Store = nullptr;
  TImageParams Params;
  foundation::TList* Attachments = nullptr;
};

void RegisterImageLoader(TImageLoaderFunc Loader, const std::vector<std::u16string>& Extensions);
const std::vector<TImageLoader>& ImageLoaders();
std::u16string NormaliseImageExtension(const std::u16string& Text);
bool LoaderHandlesExtension(const TImageLoader& Entry, const std::u16string& Extension);
bool StreamHasPngSignature(foundation::TStream* Stream);
// The name's extension with its ".", empty when it has none.
std::u16string ImageNameExtension(const std::u16string& Name);

TBitmapStore* LoadBitmapStore(foundation::TStream* Stream, const std::u16string& Name, bool OwnsStream,
                              TLevelProvider& Provider);
TImage* LoadImage(foundation::TStream* Stream, const std::u16string& Name, bool OwnsStream);
TImage* LoadImageFromStreamNamed(foundation::TStream* Stream, const std::u16string& Name);
TImage* LoadImageFromFile(const std::u16string& Name);
TImage* LoadImageFromString(const std::string& Bytes, const std::u16string& Name);

bool FreeImageAndNil(TImage*& Image);
int32_t FreeImagesAndNil(TImage** Images, int32_t Length, int32_t Count);

int32_t SelectMipLevel(const TSize& Size, int32_t WantedWidth, int32_t WantedHeight);

// Hooks filled by the mip-level store unit: any bitmap as an image, and the
// level routines that turn an image by 90, 270 or 180 degrees.
using TBitmapToImage = TImage* (*)(TBitmap* Bitmap, bool Owns, const std::u16string& Name);
// Start-up only: set before any thread runs, then read without a lock.
extern TBitmapToImage BitmapToImageHook;
extern TLevelRoutine TurnLevel90Hook;
extern TLevelRoutine TurnLevel270Hook;
extern TLevelRoutine TurnLevel180Hook;

void DoneImageLoaders();

}  // namespace imaging

#include "decoders/SysBitmapLoader.h"

#include "imaging/kvBitmapLoader.h"

namespace decoders {

using namespace imaging;

TBitmapStore* LoadBmpBitmapStore(foundation::TStream* Stream, const std::u16string& Name, bool OwnsStream,
                                 TLevelProvider& Provider) {
  const int64_t start = Stream->GetPosition();
  TDirectBitmap* bitmap = nullptr;
  try {
    bitmap = LoadBmpStream(Stream, true);
  } catch (...) {
    bitmap = nullptr;
  }
  if (!bitmap) {
    Stream->SetPosition(start);
    return nullptr;
  }
  QEL_ASSERT(bitmap->GetClass() == TDirectBitmap::StaticClass(), "LoadBmpBitmapStore - not a direct bitmap");
  auto* store = new TWrapperBitmapStore(Name, new TSysDirectWrapper(bitmap, true), true, Provider);
  if (OwnsStream) Stream->Free();
  return store;
}

void InitSysBitmapLoader() { RegisterImageLoader(&LoadBmpBitmapStore, {u".bmp", u".dib"}); }

}  // namespace decoders

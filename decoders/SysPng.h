// PNG files as an ordered list of chunk objects: one class per chunk type the
// program knows, a generic class for the rest. The header chunk owns the
// decoded picture (packed rows plus a separate alpha plane); the first
// image-data chunk inflates and unfilters the whole picture while it is read.
// Only reading exists: the player never writes PNG files.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <memory>
#include <utility>
#include <vector>

#include "foundation/kpExceptions.h"
#include "foundation/kvStream.h"

namespace decoders {

// ---- Exceptions and their texts -------------------------------------------

namespace pnglang {
inline constexpr const char* EPngInvalidFileHeaderText =
    "The file being readed is not a valid \"Portable Network Graphics\" image because it contains an invalid "
    "header. This file may be corruped, try obtaining it again.";
inline constexpr const char* EPngIHDRNotFirstText =
    "This \"Portable Network Graphics\" image is not supported or it might be invalid.\r\n(IHDR chunk is not the "
    "first)";
inline constexpr const char* EPngUnknownCriticalChunkText =
    "This \"Portable Network Graphics\" image contains an unknown critical part which could not be decoded.";
inline constexpr const char* EPngNoImageDataText = "This \"Portable Network Graphics\" image contains no data.";
inline constexpr const char* EPngInvalidIHDRText =
    "The \"Portable Network Graphics\" image could not be loaded because one of its main piece of data (ihdr) "
    "might be corrupted";
inline constexpr const char* EPngSizeExceedsText =
    "This \"Portable Network Graphics\" image is not supported because either it's width or height exceeds the "
    "maximum size, which is 65535 pixels length.";
inline constexpr const char* EPngUnknownCompressionText =
    "This \"Portable Network Graphics\" image is encoded with an unknown compression scheme which could not be "
    "decoded.";
inline constexpr const char* EPngUnknownInterlaceText =
    "This \"Portable Network Graphics\" image uses an unknown interlace scheme which could not be decoded.";
inline constexpr const char* EPngInvalidPaletteText =
    "The \"Portable Network Graphics\" image contains an invalid palette.";
inline constexpr const char* EPngMissingMultipleIDATText =
    "This \"Portable Network Graphics\" image is invalid because it has missing image parts.";
inline constexpr const char* EPngZLIBErrorText =
    "Could not decompress the image because it contains invalid compressed data.\r\n Description: ";
inline constexpr const char* EPngHeaderNotPresentText =
    "This operation is not valid because the current image contains no valid header.";
inline constexpr const char* EPngErrorPaletteText = "There is no such palette entry.";
inline constexpr const char* EPngUnexpectedEndText =
    "This \"Portable Network Graphics\" image is invalid because the decoder found an unexpected end of the file.";
}  // namespace pnglang

#define QEL_PNG_EXCEPTION(Name)                 \
  class Name : public foundation::Exception {   \
   public:                                      \
    QEL_CLASSNAME(Name)                         \
    using foundation::Exception::Exception;     \
  };
QEL_PNG_EXCEPTION(EPngError)
QEL_PNG_EXCEPTION(EPNGInvalidFileHeader)
QEL_PNG_EXCEPTION(EPNGIHDRNotFirst)
QEL_PNG_EXCEPTION(EPNGUnknownCriticalChunk)
QEL_PNG_EXCEPTION(EPNGNoImageData)
QEL_PNG_EXCEPTION(EPngInvalidIHDR)
QEL_PNG_EXCEPTION(EPNGSizeExceeds)
QEL_PNG_EXCEPTION(EPNGUnknownCompression)
QEL_PNG_EXCEPTION(EPNGUnknownInterlace)
QEL_PNG_EXCEPTION(EPNGInvalidPalette)
QEL_PNG_EXCEPTION(EPNGMissingMultipleIDAT)
QEL_PNG_EXCEPTION(EPNGZLIBError)
QEL_PNG_EXCEPTION(EPNGHeaderNotPresent)
QEL_PNG_EXCEPTION(EPngUnexpectedEnd)
#undef QEL_PNG_EXCEPTION

// ---- Object model ------------------------------------------------------------

class TPNGObject;
class TChunk;

class TPNGPointerList {
 public:
  explicit TPNGPointerList(TPNGObject* AOwner) : Owner(AOwner) {}
  virtual ~TPNGPointerList() = default;
  void Add(void* Item) { Items.push_back(Item); }
  // Out-of-range reads answer none; out-of-range writes do nothing.
  void* GetItem(int32_t Index) const;
  void SetItem(int32_t Index, void* Value);
  void SetCount(int32_t Value);
  virtual void* Remove(void* Item);
  int32_t Count() const { return static_cast<int32_t>(Items.size()); }

  TPNGObject* Owner;

 protected:
  std::vector<void*> Items;
};

class TPNGList : public TPNGPointerList {
 public:
  using TPNGPointerList::TPNGPointerList;
  TChunk* Item(int32_t Index) const { return static_cast<TChunk*>(GetItem(Index)); }
  // The first chunk that is an instance of T (a zTXt chunk is also a tEXt chunk).
  template <class T>
  T* ItemFromClass() const {
    for (void* p : Items)
      if (auto* c = dynamic_cast<T*>(static_cast<TChunk*>(p))) return c;
    return nullptr;
  }
};

class TChunk {
 public:
  explicit TChunk(TPNGObject* AOwner);
  virtual ~TChunk() = default;
  // The chunk type of the class: the generic class answers the empty text.
  static std::string ClassName() { return ""; }
  virtual std::string GetName() const { return ClassName(); }
  // Reads Size data bytes and the CRC that follows (never compared).
  virtual bool LoadFromStream(foundation::TStream* Stream, const std::string& AName, int32_t Size);

  std::vector<uint8_t> Data;  // DataSize + 1 bytes
  int32_t DataSize = 0;
  TPNGObject* Owner;
  std::string Name;
};

// A plane of picture bytes whose resize leaves new bytes as they come from
// the allocator: a non-interlaced picture's rows are all written by the
// decoder (the rows after a cut are cleared there), so clearing 6 MB first
// would only cost time. assign(n, 0) still clears.
template <class T>
struct TNoInitAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = TNoInitAllocator<U>;
  };
  TNoInitAllocator() = default;
  template <class U>
  TNoInitAllocator(const TNoInitAllocator<U>&) noexcept {}
  template <class U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... A>
  void construct(U* p, A&&... a) {
    ::new (static_cast<void*>(p)) U(std::forward<A>(a)...);
  }
};
using TPngPlane = std::vector<uint8_t, TNoInitAllocator<uint8_t>>;

class TChunkIHDR : public TChunk {
 public:
  using TChunk::TChunk;
  static std::string ClassName() { return "IHDR"; }
  std::string GetName() const override { return ClassName(); }
  bool LoadFromStream(foundation::TStream* Stream, const std::string& AName, int32_t Size) override;

  bool HasPalette = false;
  // The colour entries (blue, green, red, 0) of indexed and greyscale pictures.
  std::array<std::array<uint8_t, 4>, 256> Palette{};
  int32_t BitsPerPixel = 0;  // of the stored picture
  int64_t BytesPerRow = 0;
  // The picture, top row first, BytesPerRow bytes a row; the alpha plane
  // (Width bytes a row) for greyscale and truecolour with alpha, and for
  // truecolour pictures with a colour key.
  TPngPlane ImageData;
  TPngPlane ImageAlpha;
  uint32_t Width = 0, Height = 0;
  uint8_t BitDepth = 0, ColorType = 0, CompressionMethod = 0, FilterMethod = 0, InterlaceMethod = 0;

  uint8_t* PictureRow(int64_t y) { return ImageData.data() + BytesPerRow * y; }
  uint8_t* AlphaRow(int64_t y) { return ImageAlpha.empty() ? nullptr : ImageAlpha.data() + int64_t(Width) * y; }
};

class TChunkIEND : public TChunk {
 public:
  using TChunk::TChunk;
  static std::string ClassName() { return "IEND"; }
  std::string GetName() const override { return ClassName(); }
};

class TChunkgAMA : public TChunk {
 public:
  using TChunk::TChunk;
  static std::string ClassName() { return "gAMA"; }
  std::string GetName() const override { return ClassName(); }
  bool LoadFromStream(foundation::TStream* Stream, const std::string& AName, int32_t Size) override;
};

class TChunkPLTE : public TChunk {
 public:
  using TChunk::TChunk;
  static std::string ClassName() { return "PLTE"; }
  std::string GetName() const override { return ClassName(); }
  bool LoadFromStream(foundation::TStream* Stream, const std::string& AName, int32_t Size) override;
  int32_t Count = 0;
};

class TChunktRNS : public TChunk {
 public:
  using TChunk::TChunk;
  static std::string ClassName() { return "tRNS"; }
  std::string GetName() const override { return ClassName(); }
  bool LoadFromStream(foundation::TStream* Stream, const std::string& AName, int32_t Size) override;
  bool BitTransparency = false;
  std::array<uint8_t, 256> PaletteValues{};
};

class TChunkIDAT : public TChunk {
 public:
  using TChunk::TChunk;
  static std::string ClassName() { return "IDAT"; }
  std::string GetName() const override { return ClassName(); }
  // Decodes the whole picture from this and the IDAT chunks that follow it.
  bool LoadFromStream(foundation::TStream* Stream, const std::string& AName, int32_t Size) override;
};

class TChunktIME : public TChunk {
 public:
  using TChunk::TChunk;
  static std::string ClassName() { return "tIME"; }
  std::string GetName() const override { return ClassName(); }
  bool LoadFromStream(foundation::TStream* Stream, const std::string& AName, int32_t Size) override;
  uint16_t Year = 0;
  uint8_t Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0;
};

class TChunktEXt : public TChunk {
 public:
  using TChunk::TChunk;
  static std::string ClassName() { return "tEXt"; }
  std::string GetName() const override { return ClassName(); }
  bool LoadFromStream(foundation::TStream* Stream, const std::string& AName, int32_t Size) override;
  std::string Keyword, Text;
};

class TChunkzTXt : public TChunktEXt {
 public:
  using TChunktEXt::TChunktEXt;
  static std::string ClassName() { return "zTXt"; }
  std::string GetName() const override { return ClassName(); }
  bool LoadFromStream(foundation::TStream* Stream, const std::string& AName, int32_t Size) override;
};

class TPNGObject {
 public:
  TPNGObject();
  virtual ~TPNGObject();
  TPNGObject(const TPNGObject&) = delete;
  TPNGObject& operator=(const TPNGObject&) = delete;

  // Reads a whole PNG from the stream position; raises the exceptions above.
  void LoadFromStream(foundation::TStream* Stream);
  // The first chunk when it is an IHDR, else EPNGHeaderNotPresent.
  TChunkIHDR* Header() const;
  int32_t Width() const;
  int32_t Height() const;
  void ClearChunks();
  template <class E>
  [[noreturn]] static void RaiseError(const std::string& Text) {
    throw E(Text);
  }

  std::array<uint8_t, 256> InverseGamma{};
  uint8_t Filters = 1;  // {sub}
  uint8_t CompressionLevel = 7;
  int32_t MaxIdatSize = 65535;
  uint8_t InterlaceMethod = 0;
  TPNGList Chunks;
  std::array<uint8_t, 256> GammaTable{};

 private:
  void SetIdentityGamma();
  friend class TChunkgAMA;
};

// Pictures above this many filtered bytes per byte of remaining stream cannot
// be justified by their data (deflate never expands beyond about 1032:1).
inline constexpr int64_t MaxInflateRatio = 1032;

using TChunkFactory = TChunk* (*)(TPNGObject* Owner);
struct TChunkClassEntry {
  std::string Name;
  TChunkFactory Create;
};
// The chunk-class registry, in registration order.
const std::vector<TChunkClassEntry>& ChunkClasses();
TChunk* CreateChunkOfName(TPNGObject* Owner, const std::string& Name);

// Fills the chunk-class registry (once); DoneSysPng empties it.
void InitSysPng();
void DoneSysPng();

// Builds the empty picture for the header's size and layout: the layout
// (bits per pixel, bytes per row, no planes yet), then the planes.
void PngPrepareImage(TChunkIHDR* Header);
void PngPrepareLayout(TChunkIHDR* Header);
void PngAllocatePlanes(TChunkIHDR* Header);

// Inflates one whole zlib stream into out; false unless the stream ends.
bool InflateAll(const uint8_t* data, size_t size, std::vector<uint8_t>& out);

}  // namespace decoders

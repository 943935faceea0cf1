// The pixel-format registry and its converters: formats are created on first
// request and compared by identity; converters are kept per source format in
// a chain that registration and on-demand creation fill.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "imaging/kvPixelFormat.h"

namespace imaging {

// One channel of a format. Kind: 0 filler, 1 red, 2 green, 3 blue, 4 alpha or luminance.
struct TPixelPart {
  uint8_t Kind = 0;
  int32_t Bits = 0;
  bool Premultiplied = false;
  char Letter = 0;
};
// Least significant channel first (the reverse of the name).
using TPartList = std::vector<TPixelPart>;

class TConvertOperator;

class TCommonPixelFormat : public TPixelFormat {
 public:
  QEL_CLASSNAME(TCommonPixelFormat)
  explicit TCommonPixelFormat(const std::string& Name);
  void Dispose() override;

  static TPixelFormat* FindOrCreate(const std::u16string& Name);

  std::atomic<TCommonPixelFormat*> Next{nullptr};
  TPartList Parts;
  int32_t PartCount() const { return static_cast<int32_t>(Parts.size()); }
  std::mutex Lock;  // guards the converter chain's growth
  std::atomic<TConvertOperator*> ConverterHead{nullptr};
};

class TConvertOperator : public TPixelConverter {
 public:
  QEL_CLASSNAME(TConvertOperator)
  void Convert8(uint8_t* Dest, const uint8_t* Source, int32_t DestOffset, int32_t SourceOffset,
                int32_t Count) override;
  void Convert16(uint16_t* Dest, const uint8_t* Source, int32_t DestOffset, int32_t SourceOffset,
                 int32_t Count) override;
  void Convert24(TFColor* Dest, const uint8_t* Source, int32_t DestOffset, int32_t SourceOffset,
                 int32_t Count) override;
  void Convert32(TFColorA* Dest, const uint8_t* Source, int32_t DestOffset, int32_t SourceOffset,
                 int32_t Count) override;

  TPixelFormat* Destination = nullptr;
  TConvertOperator* Next = nullptr;
};

class TDirectConvertor : public TConvertOperator {
 public:
  QEL_CLASSNAME(TDirectConvertor)
  explicit TDirectConvertor(int32_t BytesPerPixel) : bpp_(BytesPerPixel) {}
  void Convert(void* Dest, const void* Source, int32_t Count) override;

 private:
  int32_t bpp_;
};

// Every channel taken as a whole number of bytes: 8-bit channels copy, and
// 16-bit channels scale (v shr 8 down, v x 257 up).
class TByteConvertor : public TConvertOperator {
 public:
  QEL_CLASSNAME(TByteConvertor)
  TByteConvertor(TCommonPixelFormat* Destination, TCommonPixelFormat* Source);
  void Convert(void* Dest, const void* Source, int32_t Count) override;

 private:
  struct Slot {
    int32_t DestPos, DestBytes;
    int32_t SourcePos, SourceBytes;  // SourcePos < 0: the default value below
    uint32_t Default;
  };
  std::vector<Slot> slots_;
  int32_t destStep_ = 0, sourceStep_ = 0;
  bool allBytes_ = true;
};

class TBitConvertor : public TConvertOperator {
 public:
  QEL_CLASSNAME(TBitConvertor)
  TBitConvertor(TCommonPixelFormat* Destination, TCommonPixelFormat* Source);
  void Convert(void* Dest, const void* Source, int32_t Count) override;

 private:
  struct Channel {
    int32_t SourceShift = -1;  // -1: not taken from the source
    uint32_t SourceMask = 0;
    int32_t DestShift = 0;
    int32_t Segment = -1;      // start of the lookup segment, -1 for none
    int32_t SourceBits = 0, DestBits = 0;
    uint32_t Constant = 0;
  };
  uint32_t MapPixel(uint32_t in) const;
  template <typename T>
  void ConvertBlocks(uint8_t* d, const uint8_t* s, int32_t Count) const;
  std::vector<Channel> channels_;
  std::vector<uint32_t> table_;
  std::vector<uint32_t> pixelTable_;  // whole-pixel map for sources of 1 byte
  uint32_t constantBits_ = 0;         // the filler and default channels, already in place
  int32_t sourceBytes_, destBytes_;
};

class TAYtoRGBConvertor : public TConvertOperator {
 public:
  QEL_CLASSNAME(TAYtoRGBConvertor)
  void Convert(void* Dest, const void* Source, int32_t Count) override;
};
// Grey into a 16-bit layout, two bytes per pixel: g shr 3 in each 5-bit field,
// g shr 2 in a 6-bit green field.
class TAYto16Convertor : public TConvertOperator {
 public:
  QEL_CLASSNAME(TAYto16Convertor)
  explicit TAYto16Convertor(bool Green6) : green6_(Green6) {}
  void Convert(void* Dest, const void* Source, int32_t Count) override;

 private:
  bool green6_;
};
class TRGBToRGBA : public TConvertOperator {
 public:
  QEL_CLASSNAME(TRGBToRGBA)
  void Convert(void* Dest, const void* Source, int32_t Count) override;
};
class TRGBAToRGB : public TConvertOperator {
 public:
  QEL_CLASSNAME(TRGBAToRGB)
  void Convert(void* Dest, const void* Source, int32_t Count) override;
};
class TR5G6B5ToBGR8 : public TConvertOperator {
 public:
  QEL_CLASSNAME(TR5G6B5ToBGR8)
  void Convert(void* Dest, const void* Source, int32_t Count) override;
};
class TX1R5G5B5ToBGR8 : public TConvertOperator {
 public:
  QEL_CLASSNAME(TX1R5G5B5ToBGR8)
  void Convert(void* Dest, const void* Source, int32_t Count) override;
};
class TBGRAToPremulBGRA : public TConvertOperator {
 public:
  QEL_CLASSNAME(TBGRAToPremulBGRA)
  void Convert(void* Dest, const void* Source, int32_t Count) override;
};
class TPremulBGRAToBGRA : public TConvertOperator {
 public:
  QEL_CLASSNAME(TPremulBGRAToBGRA)
  void Convert(void* Dest, const void* Source, int32_t Count) override;
};

// Parses a channel string into its parts (least significant first); false when invalid.
bool ParsePixelFormatName(const std::string& Name, TPartList& Parts);
TCommonPixelFormat* LookupPixelFormat(const std::string& Name);
TCommonPixelFormat* AsCommonPixelFormat(TPixelFormat* Format);
TPixelConverter* GetPixelConverter(TPixelFormat* Destination, TPixelFormat* Source);
TPixelConverter* PixelConverterHook(TPixelFormat* Destination, TPixelFormat* Source);
void RegisterPixelConverter(TPixelFormat* Destination, TPixelFormat* Source, TConvertOperator* Converter);
TConvertOperator* CreatePixelConverter(TCommonPixelFormat* Destination, TCommonPixelFormat* Source,
                                       TConvertOperator* Next);

// Start-up: install both hooks, create the standard formats and register the
// fixed converters. Idempotent. Finalisation frees every format and converter.
void InitSysPixelFormat();
void DoneSysPixelFormat();

}  // namespace imaging

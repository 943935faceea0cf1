#include "decoders/FPReadGif.h"

#include <algorithm>
#include <cstring>

#include "foundation/kpLog.h"

namespace decoders {

using foundation::TStream;
using imaging::TDirectBitmap;

namespace {

// One byte, or -1 at the end of the stream.
int GetByte(TStream* s) {
  uint8_t b;
  return s->ReadBuf(&b, 1) == 1 ? b : -1;
}

// One byte, 0 at the end of the stream (so size loops always end).
uint8_t GetByteOr0(TStream* s) {
  const int b = GetByte(s);
  return b < 0 ? 0 : static_cast<uint8_t>(b);
}

void SkipBytes(TStream* s, int64_t n) { s->SetPosition(s->GetPosition() + n); }

void SkipSubBlocks(TStream* s) {
  for (uint8_t n = GetByteOr0(s); n != 0; n = GetByteOr0(s)) SkipBytes(s, n);
}

constexpr int64_t kMaxFramePixels = int64_t(1) << 28;
// LZW never expands one byte of data to more than about 2,731 pixels.
constexpr int64_t kMaxPixelsPerByte = 4096;

}  // namespace

// ---- Base classes ----------------------------------------------------------------

void TFPCustomImageReader::Progress(uint8_t Stage, uint8_t PercentDone, bool RedrawNow, const imaging::TRect& R,
                                    const std::u16string& Msg, bool& Continue) {
  if (OnProgress) OnProgress(this, Stage, PercentDone, RedrawNow, R, Msg, Continue);
}

void TFPPalette::Clear() {
  Colors.clear();
  Count = 0;
}

void TFPPalette::Add(uint32_t Color) {
  if (Count >= static_cast<int32_t>(Colors.size())) Colors.resize(Colors.empty() ? 16 : Colors.size() * 2, 0);
  Colors[static_cast<size_t>(Count++)] = Color;
}

void TFPPalette::SetCount(int32_t Value) {
  Count = std::max(Value, 0);
  if (Count > static_cast<int32_t>(Colors.size())) Colors.resize(static_cast<size_t>(Count), 0);
}

// ---- Reader ------------------------------------------------------------------------

TFPReaderGif::TFPReaderGif() {
  LocalPalette = new TFPPalette();
  GlobalPalette = new TFPPalette();
}

void TFPReaderGif::Dispose() {
  foundation::FreeAndNil(LocalPalette);
  foundation::FreeAndNil(GlobalPalette);
  Palette = nullptr;
  Indexes.clear();
  TFPCustomImageReader::Dispose();
}

bool TFPReaderGif::InternalCheck(TStream* Stream) {
  const int64_t pos = Stream->GetPosition();
  TGifHeader h{};
  const bool ok = Stream->ReadBuf(&h, sizeof h) == int32_t(sizeof h) && std::memcmp(h.Signature, "GIF", 3) == 0;
  Stream->SetPosition(pos);
  return ok;
}

void TFPReaderGif::ReadPalette(TStream* Stream, TFPPalette* Target, int32_t Entries) {
  Target->Clear();
  std::vector<uint8_t> raw(static_cast<size_t>(Entries) * 3);
  const int32_t got = Stream->ReadBuf(raw.data(), static_cast<int32_t>(raw.size()));
  if (got != static_cast<int32_t>(raw.size())) throw foundation::EStreamReadError();
  for (int32_t i = 0; i < Entries; ++i)
    Target->Add(0xFF000000u | (uint32_t(raw[i * 3]) << 16) | (uint32_t(raw[i * 3 + 1]) << 8) | raw[i * 3 + 2]);
  // Entries beyond the file's count read as transparent black.
  if (Target->Colors.size() < 256) Target->Colors.resize(256, 0);
}

uint8_t TFPReaderGif::NextBlock(TStream* Stream) {
  for (;;) {
    const int b = GetByte(Stream);
    if (b < 0) return ';';
    if (b == 0) continue;
    if (b != '!') return static_cast<uint8_t>(b);
    const uint8_t label = GetByteOr0(Stream);
    switch (label) {
      case 0x01:
        SkipBytes(Stream, GetByteOr0(Stream));
        SkipSubBlocks(Stream);
        break;
      case 0xF9:
        std::memset(&GraphicControl, 0, sizeof GraphicControl);
        Stream->ReadBuf(&GraphicControl, sizeof GraphicControl);
        HasGraphicControl = 1;
        break;
      case 0xFE:
        SkipSubBlocks(Stream);
        break;
      case 0xFF:
        for (uint8_t size = GetByteOr0(Stream); size != 0;) {
          if (size == 11) {
            char id[11] = {};
            Stream->ReadBuf(id, 11);
            if (std::memcmp(id, "NETSCAPE2.0", 11) == 0) {
              HasLoopExtension = 1;
              size = GetByteOr0(Stream);
              if (size == 3) {
                if (GetByteOr0(Stream) == 1) {
                  Animated = 1;
                  const uint16_t loops = static_cast<uint16_t>(GetByteOr0(Stream) | (GetByteOr0(Stream) << 8));
                  LoopCount = loops == 65535 ? 0 : loops;
                } else {
                  GetByteOr0(Stream);
                  GetByteOr0(Stream);
                }
                size = GetByteOr0(Stream);
              }
              continue;
            }
          } else {
            SkipBytes(Stream, size);
          }
          size = GetByteOr0(Stream);
        }
        break;
      default:
        break;
    }
    return '!';
  }
}

void TFPReaderGif::ReadDescriptorAndPalette(TStream* Stream) {
  if (Stream->ReadBuf(&Descriptor, sizeof Descriptor) != int32_t(sizeof Descriptor))
    throw foundation::EStreamReadError();
  if (Descriptor.Packedbit & 0x80) {
    ReadPalette(Stream, LocalPalette, 2 << (Descriptor.Packedbit & 7));
    Palette = LocalPalette;
  } else {
    Palette = GlobalPalette;
  }
}

void TFPReaderGif::FrameSetup(TStream* Stream) {
  if (std::memcmp(Header.Signature, "GIF", 3) != 0 ||
      (std::memcmp(Header.Version, "87a", 3) != 0 && std::memcmp(Header.Version, "89a", 3) != 0))
    throw EGifError("Unknown/Unsupported GIF image type");
  BitsPerPixel = static_cast<uint8_t>((Header.Packedbit & 7) + 1);
  KeyIndex = Header.BackgroundColor;
  ImageWidth = Descriptor.Width;
  ImageHeight = Descriptor.Height;
  Interlaced = (Descriptor.Packedbit >> 6) & 1;
  // An empty frame, more pixels than any bitmap may have, or more than the
  // rest of the stream could encode: refused before anything is allocated.
  const int64_t pixels = int64_t(ImageWidth) * ImageHeight;
  const int64_t size = Stream->GetSize();
  if (pixels == 0 || pixels > kMaxFramePixels ||
      (size >= 0 && pixels > kMaxPixelsPerByte * std::max<int64_t>(size - Stream->GetPosition(), 0) + 65536))
    throw EGifError("GIF frame size not supported");
  Transparent = Header.BackgroundColor != 0;
  if (HasGraphicControl) {
    Transparent = GraphicControl.Packedbit & 1;
    if (Transparent) KeyIndex = GraphicControl.ColorIndex;
  }
  IndexCount = (int64_t(ImageHeight) + 1) * ImageWidth;
  Indexes.assign(static_cast<size_t>(IndexCount), 0);
  // Without a colour table from the file the palette is transparent black.
  if (Palette->Colors.size() < 256) Palette->Colors.resize(256, 0);
  if (Transparent) {
    SavedColor = Palette->Colors[KeyIndex];
    Palette->Colors[KeyIndex] &= 0x00FFFFFF;
    keyPalette_ = Palette;
  } else {
    keyPalette_ = nullptr;
  }
}

bool TFPReaderGif::DecodeImageData(TStream* Stream) {
  const int m = GetByte(Stream);
  if (m < 0) return false;
  if (m >= 12) throw EGifError("ClearCode too large");
  const uint32_t clear = 1u << m, end = clear + 1;

  // Codes come least significant bit first from the data sub-blocks.
  uint8_t window[258 + 8] = {};
  int32_t windowLen = 0;
  int64_t bitPos = 0;
  bool zeroMet = false;
  auto readCode = [&](int width, uint32_t& code) {
    while (bitPos + width > int64_t(windowLen) * 8) {
      if (zeroMet) {
        if (int64_t(windowLen) * 8 - bitPos <= 0) foundation::GetLog()->Add(u"GIFWarning: DecodeTooFewBits! ");
        return false;
      }
      // Carry the unread bytes in front of the next sub-block.
      const int32_t keepFrom = static_cast<int32_t>(bitPos / 8);
      const int32_t keep = windowLen - keepFrom;
      std::memmove(window, window + keepFrom, static_cast<size_t>(keep));
      bitPos -= int64_t(keepFrom) * 8;
      windowLen = keep;
      const uint8_t size = GetByteOr0(Stream);
      if (size == 0) {
        zeroMet = true;
        continue;
      }
      const int32_t got = std::max(Stream->ReadBuf(window + windowLen, size), 0);
      if (got < size) foundation::GetLog()->Add(u"GIFWarning: OutOfData! ");
      windowLen += got;
    }
    uint32_t v = 0;
    for (int i = 0; i < width; ++i) {
      const int64_t b = bitPos + i;
      v |= uint32_t((window[b >> 3] >> (b & 7)) & 1) << i;
    }
    bitPos += width;
    code = v;
    return true;
  };
  auto failed = [&]() {
    bool cont = true;
    const int64_t size = Stream->GetSize();
    Progress(1, static_cast<uint8_t>(size > 0 ? Stream->GetPosition() * 100 / size : 0), false, imaging::TRect{}, u"",
             cont);
    return false;
  };

  std::vector<uint16_t> prefix(4096, 0xFFFF);
  std::vector<uint8_t> suffix(4096, 0);
  std::vector<uint8_t> stack;
  stack.reserve(8192);
  int codeSize = m + 1;
  uint32_t limit = clear * 2, nextFree = clear + 2;
  auto resetTable = [&]() {
    for (uint32_t i = 0; i < 4096; ++i) {
      prefix[i] = 0xFFFF;
      suffix[i] = i < clear ? static_cast<uint8_t>(i) : 0;
    }
    codeSize = m + 1;
    limit = clear * 2;
    nextFree = clear + 2;
  };
  // Pushes the string of a code (last character first); answers its first character.
  auto expand = [&](uint32_t code) -> uint8_t {
    size_t depth = 0;
    while (code >= clear) {
      if (code > 4095 || ++depth > 4096) throw EGifError("Code too large");
      stack.push_back(suffix[code]);
      code = prefix[code];
    }
    stack.push_back(static_cast<uint8_t>(code));
    return static_cast<uint8_t>(code);
  };

  const int64_t pixels = int64_t(ImageWidth) * ImageHeight;
  int64_t out = 0;
  auto emit = [&]() {
    while (!stack.empty()) {
      if (out < pixels) Indexes[static_cast<size_t>(out++)] = stack.back();
      stack.pop_back();
    }
  };

  resetTable();
  bool afterClear = true;
  uint32_t prev = 0;
  uint8_t prevFirst = 0;
  while (out < pixels) {
    uint32_t code;
    if (!readCode(codeSize, code)) return failed();
    if (code == clear) {
      resetTable();
      afterClear = true;
      continue;
    }
    if (code == end) {
      if (!zeroMet) SkipSubBlocks(Stream);
      return out >= pixels ? true : failed();
    }
    if (afterClear) {
      prevFirst = expand(code);
      emit();
      prev = code;
      afterClear = false;
      continue;
    }
    uint8_t first;
    if (code < nextFree) {
      first = expand(code);
    } else {
      stack.push_back(prevFirst);
      first = expand(prev);
    }
    emit();
    if (nextFree <= 4095) {
      prefix[nextFree] = static_cast<uint16_t>(prev);
      suffix[nextFree] = first;
      ++nextFree;
      if (nextFree >= limit && limit <= 4095) {
        limit *= 2;
        ++codeSize;
      }
    }
    prev = code;
    prevFirst = first;
  }
  // Every pixel is there: step over the rest of the data, so stray bytes of
  // the last sub-block are never taken for blocks.
  if (!zeroMet) SkipSubBlocks(Stream);
  return true;
}

bool TFPReaderGif::WriteScanLine(TDirectBitmap* Bitmap) {
  static const int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
  const uint32_t* colors = Palette->Colors.data();
  const uint8_t* src = Indexes.data();
  auto writeRow = [&](int32_t y) {
    uint32_t* row = reinterpret_cast<uint32_t*>(Bitmap->Row(y));
    for (int32_t x = 0; x < ImageWidth; ++x) row[x] = colors[*src++];
  };
  if (!Interlaced) {
    for (int32_t y = 0; y < ImageHeight; ++y) writeRow(y);
  } else {
    for (int p = 0; p < 4; ++p)
      for (int32_t y = kStart[p]; y < ImageHeight; y += kStep[p]) writeRow(y);
  }
  return true;
}

void TFPReaderGif::InternalRead(TStream* Stream, TDirectBitmap*& Bitmap) {
  Bitmap = nullptr;
  Animated = 0;
  LoopCount = 1;
  HasGraphicControl = 0;
  imageRead_ = false;
  keyPalette_ = nullptr;
  LocalPalette->Clear();
  GlobalPalette->Clear();
  Palette = GlobalPalette;
  Indexes.clear();
  bool cont = true;
  Progress(0, 0, false, imaging::TRect{}, u"", cont);
  if (!cont) return;
  Stream->SetPosition(0);
  if (Stream->ReadBuf(&Header, sizeof Header) != int32_t(sizeof Header)) throw foundation::EStreamReadError();
  const int64_t size = Stream->GetSize();
  Progress(1, static_cast<uint8_t>(size > 0 ? Stream->GetPosition() * 100 / size : 0), false, imaging::TRect{}, u"",
           cont);
  if (!cont) return;
  if (Header.Packedbit & 0x80) ReadPalette(Stream, GlobalPalette, 2 << (Header.Packedbit & 7));

  // Where the first image's data ended, and its own graphic control: the
  // extensions between it and a second image belong to that second image.
  int64_t afterImage = 0;
  TGifGraphicsControlExtension firstControl{};
  uint8_t firstHasControl = 0;
  for (;;) {
    const int64_t before = Stream->GetPosition();
    const uint8_t b = NextBlock(Stream);
    auto stepBack = [&]() {
      if (Stream->GetPosition() > before) Stream->SetPosition(Stream->GetPosition() - 1);
    };
    if (b == ';') {
      stepBack();
      break;
    }
    if (b == ',') {
      if (imageRead_) {
        // Back in front of the second image's own extensions, so that the
        // next frame read finds its graphic control (delay, disposal,
        // transparency) and the fields describe the first image.
        Animated = 1;
        Stream->SetPosition(afterImage);
        GraphicControl = firstControl;
        HasGraphicControl = firstHasControl;
        break;
      }
      ReadDescriptorAndPalette(Stream);
      FrameSetup(Stream);
      Bitmap = new TDirectBitmap(ImageWidth, ImageHeight, imaging::pfA8R8G8B8);
      bool decoded = false;
      try {
        decoded = DecodeImageData(Stream);
      } catch (...) {
        foundation::FreeAndNil(Bitmap);
        throw;
      }
      if (!decoded) {
        // A first image that does not decode gives no picture.
        foundation::FreeAndNil(Bitmap);
        return;
      }
      imageRead_ = true;
      afterImage = Stream->GetPosition();
      firstControl = GraphicControl;
      firstHasControl = HasGraphicControl;
      WriteScanLine(Bitmap);
      if (Animated) break;
    }
  }
  Progress(2, 100, false, imaging::TRect{0, 0, ImageWidth, ImageHeight}, u"", cont);
}

bool TFPReaderGif::ReadNextFrame(TStream* Stream, TDirectBitmap*& Bitmap) {
  Bitmap = nullptr;
  Indexes.clear();
  if (keyPalette_ && KeyIndex < keyPalette_->Count) keyPalette_->Colors[KeyIndex] = SavedColor;
  keyPalette_ = nullptr;
  HasGraphicControl = 0;
  uint8_t b;
  do b = NextBlock(Stream);
  while (b != ',' && b != ';');
  if (b == ';') return true;
  ReadDescriptorAndPalette(Stream);
  try {
    FrameSetup(Stream);
  } catch (const EGifError&) {
    return false;
  }
  Bitmap = new TDirectBitmap(ImageWidth, ImageHeight, imaging::pfA8R8G8B8);
  if (!DecodeImageData(Stream)) return false;
  WriteScanLine(Bitmap);
  return true;
}

bool TFPReaderGif::SkipFrame(TStream* Stream) {
  HasGraphicControl = 0;
  uint8_t b;
  do b = NextBlock(Stream);
  while (b != ',' && b != ';');
  if (b == ';') return false;
  // The descriptor becomes the current one: whoever indexes a file by
  // skipping reads each frame's rectangle from it.
  if (Stream->ReadBuf(&Descriptor, sizeof Descriptor) != int32_t(sizeof Descriptor)) return false;
  int64_t p = Stream->GetPosition();
  if (Descriptor.Packedbit & 0x80) p += int64_t(3) << ((Descriptor.Packedbit & 7) + 1);
  p += 1;  // the minimum code size
  for (;;) {
    if (!(SkipLength > 0 && p >= SkipStart && p < SkipStart + SkipLength)) {
      SkipStart = p;
      Stream->SetPosition(p);
      SkipLength = std::max(Stream->ReadBuf(SkipBuffer.data(), static_cast<int32_t>(SkipBuffer.size())), 0);
      if (SkipLength == 0) return false;
    }
    const uint8_t size = SkipBuffer[static_cast<size_t>(p - SkipStart)];
    p += size + 1;
    if (size == 0) {
      Stream->SetPosition(p);
      return true;
    }
  }
}

// ---- TTilesTag ------------------------------------------------------------

TTilesTag::TTilesTag(imaging::TBitmapStore* store) {
  if (store) store->AddAttachment(this);
}

}  // namespace decoders

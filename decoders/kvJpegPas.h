// The JPEG decoder around libjpeg: the whole file kept compressed in memory,
// the header read, one decode at 1, 1/2, 1/4 or 1/8 scale into a bitmap, the
// error manager that turns every library error into the exception
// "JPEG error #<code>", progress reports, and the marker scan that finds the
// ICC profile of the first APP2 segment.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "decoders/kvjstream.h"
#include "foundation/SysObj.h"
#include "foundation/kvStream.h"
#include "imaging/SysBitmap.h"

namespace decoders {

// The decoding options, in the order of the stored default record.
struct TJpegOptions {
  uint8_t Quality = 90;             // kept only; decoding does not read it
  bool Grayscale = false;           // force greyscale output
  uint8_t Performance = 0;          // 0 fast decoding settings, other values the library's defaults
  uint8_t PixelFormat = 0;          // 0 24-bit output, 1 8-bit (quantized) output
  bool ProgressiveDisplay = false;  // nothing turns it on
  bool Progressive = false;         // set by the header read: more than one scan
  uint8_t Scale = 0;                // decode at 1 / 2^Scale
  bool Smoothing = true;            // block smoothing of progressive images
};
extern const TJpegOptions JpegDefaults;

class TJPEGData : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TJPEGData)
  TJPEGData();
  void Dispose() override;

  TJStream* Stream = nullptr;  // owned
  int32_t Height = 0;
  int32_t Width = 0;
  bool Grayscale = false;  // the file's colour space is greyscale
};

class TJpegLoader;
// (sender, stage 0 starting / 1 running / 2 ending, percent, redraw, output rows touched, message)
using TJpegProgressEvent = std::function<void(TJpegLoader* Sender, uint8_t Stage, uint8_t Percent, bool Redraw,
                                              const imaging::TRect& Rect, const std::u16string& Message)>;

class TJpegLoader : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TJpegLoader)
  TJpegLoader();
  void Dispose() override;

  // Reads up to Max bytes from the stream's position into memory and parses
  // the header; raises "JPEG error #<code>" when the library refuses it.
  void LoadHeader(foundation::TStream* Stream, int32_t Max);
  void GetSize(int32_t& Width, int32_t& Height) const;
  // Decodes the whole image at 1 / 2^Scale: a 24-bit bitmap (bytes blue,
  // green, red), or for 8-bit output an index bitmap whose colours are in Palette.
  imaging::TSysBitmap* Decode(uint8_t Scale);

  TJPEGData* Data = nullptr;
  uint8_t Palette[256][3] = {};  // blue, green, red
  int32_t PaletteCount = 0;
  TJpegProgressEvent OnProgress;
  TJpegOptions Options = JpegDefaults;
};

// Bytes of the first APP2 segment after its 14 identifier and sequence bytes
// (empty when none); the scan starts at offset 0 of the stream and never raises.
std::vector<uint8_t> ScanJpegIccProfile(foundation::TStream* Stream);
// The same scan, same rules and log lines, over bytes in memory that hold the
// whole stream from offset 0; PastEndFails when that stream refuses a position
// past its end.
std::vector<uint8_t> ScanJpegIccProfile(const uint8_t* Data, int64_t Size, bool PastEndFails);

// The text of a library error code ("JPEG error #" and the code).
std::u16string JpegErrorText(int32_t Code);

// More scans than this in one file stop the decode with a library error:
// real progressive files have a few dozen at most, and every scan is a pass
// over the whole image.
constexpr int32_t JpegMaxScans = 500;

}  // namespace decoders
